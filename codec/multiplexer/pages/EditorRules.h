// The rules of the multiplexer's parameter editor that need no window: the
// text of each parameter row, the tree's texts and images, which in-place
// editor a row gets, what a typed text becomes, the context menus and the
// drag and drop of streams between programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace muxpages {

// What a parameter's value is, as the editor reads it.
enum class ValueKind { Int, Int64, Bool, Text };

// One parameter as read from its configuration object.
struct ParamView {
    std::string name;
    ValueKind kind = ValueKind::Int;
    int64_t number = 0;  // Int, Int64 and Bool
    std::string text;    // Text
    bool hasValueList = false;
    std::string valueName;  // the current value's name, with a value list
    bool visible = true;
    bool readOnly = false;
};

// Facts of the row's object that some rows show beside their own value.
struct RowContext {
    // A stream whose type carries a sub-stream id: its "Stream Sub ID".
    std::optional<int64_t> subId;
    // A program's "User Defined PCR PID".
    int64_t userPcrPid = 0;
};

struct RowText {
    bool shown = false;  // false: the parameter makes no row
    std::string name;
    std::string value;
};

// The row of a parameter; hidden parameters and the stream's end-of-stream
// flag (the parameter without a name) make none.
RowText FormatRow(const ParamView& p, const RowContext& context);

// 64-bit parameters that hold 100 ns times, shown in milliseconds; other
// 64-bit values (counts) are shown as they are.
bool IsHundredNsTime(const std::string& name);

// Stream types whose PES packets carry a sub-stream id (AC-3, PCM and DVD
// subtitles in private stream 1).
bool TypeCarriesSubId(int64_t streamType);

// Rows the 100 ms refresh rewrites: the live statistics.
bool IsLiveRow(bool visible, bool readOnly);

// Tree texts.
std::string ProgramText(int64_t programId, std::optional<int64_t> programNumber);
// streamTypeName empty: the type has no value name, and the id shows as 0.
std::string StreamText(int64_t streamId, const std::string& streamTypeName);

// Node kinds: the muxer, a program, a stream in a program, a stream outside one.
enum class NodeKind { Muxer, Program, Stream, LooseStream };
char KindLetter(NodeKind kind);
NodeKind StreamKind(bool parentIsProgram);

// Image list positions: the muxer's and the programs' images follow
// "Output" (1 is a program stream); a stream's shows whether it ended.
struct ImagePair {
    int muxer;
    int program;
};
ImagePair ImagesForOutput(int64_t output);
int StreamImage(bool ended);
constexpr int kImageWidth = 8;
constexpr int kImageCount = 20;

// The in-place editor of a row.
enum class EditorKind { None, ValueList, PcrPidList, Text };
EditorKind ChooseEditor(const std::string& name, bool hasValueList, bool readOnly);

// What the editor's text becomes (at most kMaxEditText characters are taken).
constexpr size_t kMaxEditText = 100;
struct TypedValue {
    bool ok = false;
    bool isText = false;
    int64_t number = 0;
    std::string text;
    std::string error;  // when refused: why, naming the parameter
};
// Without a value list: a number (ParseEditNumber) for number parameters,
// the text itself for text parameters. A value list is looked up by the
// caller through the parameter.
TypedValue ReadTypedText(const std::string& name, ValueKind kind, const std::string& typed);
// The message for a value the configuration refused.
std::string RefusedText(const std::string& name, const std::string& typed);
// A committed change of this parameter changes the tree.
bool ChangesStructure(const std::string& name);

// Context menus (menu 108): which sub-menu a node gets, and the commands.
enum class SubMenu { None, Stream, Program };
SubMenu MenuFor(NodeKind kind);
constexpr int kSubMenuStream = 0;
constexpr int kSubMenuProgram = 1;
constexpr int kCmdDeleteStream = 1023;
constexpr int kCmdDeleteProgram = 40001;
constexpr int kCmdCreateProgram = 1012;
constexpr int kCmdCreateStream = 40002;

// Whether a menu command acts on a node of this kind (a command of the
// "Program" sub-menu on a program, "Delete Stream" on a stream in one).
bool CommandFits(NodeKind kind, int command);
// The message for a command the multiplexer refused.
std::string CommandRefusedText(int command);

// Drag and drop: only streams are dragged, only programs take them, and a
// drop on the stream's own program changes nothing. Programs are told apart
// by any key the caller keeps (their position, their object).
bool CanDrag(NodeKind kind);
bool DropMoves(NodeKind target, const void* targetProgram, const void* currentProgram);

}  // namespace muxpages
