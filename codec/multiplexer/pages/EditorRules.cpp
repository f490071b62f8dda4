#include "codec/multiplexer/pages/EditorRules.h"

#include "codec/multiplexer/pages/PageText.h"

#include <cstdio>

namespace muxpages {

namespace {

// 100 ns units per millisecond.
constexpr int64_t kHundredNsPerMs = 10000;
constexpr int64_t kProgramStreamOutput = 1;

const char* const kGroupedRows[] = {
    "Muxer time",        "Current Pin PTS",         "Initial time shift(ms)",   "Real Output Bitrate",
    "Announced Bitrate", "Input Buffer Size(Byte)", "PES packet size in Bytes", "Required Bitrate, bit/s",
    "Real Bitrate",      "Correct EB size",         "Correct Bitrate"};
const char* const kIdRows[] = {"Transport Stream ID", "Program #", "Program ID", "Stream ID", "Stream PES ID"};
const char* const kTimeRows[] = {"Muxer time", "Current Pin PTS"};

template <size_t N>
bool OneOf(const std::string& name, const char* const (&names)[N]) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

// "%d (0x%x)" of a 32-bit identifier.
std::string DecimalAndHex(int64_t v) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld (0x%llx)", static_cast<long long>(v),
                  static_cast<unsigned long long>(v) & 0xFFFFFFFFULL);
    return text;
}

}  // namespace

bool IsHundredNsTime(const std::string& name) {
    return OneOf(name, kTimeRows);
}

bool TypeCarriesSubId(int64_t streamType) {
    constexpr int64_t kAc3 = 3, kPcm = 13, kDvdSubtitles = 15;
    return streamType == kAc3 || streamType == kPcm || streamType == kDvdSubtitles;
}

bool IsLiveRow(bool visible, bool readOnly) {
    return visible && readOnly;
}

RowText FormatRow(const ParamView& p, const RowContext& context) {
    RowText row;
    if (p.name.empty() || !p.visible) return row;
    row.shown = true;
    row.name = p.name;
    int64_t v = p.number;
    if (p.kind == ValueKind::Int64 && IsHundredNsTime(p.name)) v /= kHundredNsPerMs;

    if (p.hasValueList) {
        row.value = p.valueName;
    } else if (p.name == "Overhead %") {
        row.value = std::to_string(v) + "%";
    } else if (OneOf(p.name, kGroupedRows)) {
        row.value = GroupDigits(v);
        // Times also in clock form.
        if (IsHundredNsTime(p.name)) row.value += "  (" + FormatMilliseconds(v) + ")";
    } else if (OneOf(p.name, kIdRows)) {
        row.value = DecimalAndHex(v);
        if (context.subId && (p.name == "Stream ID" || p.name == "Stream PES ID")) {
            char sub[16];
            std::snprintf(sub, sizeof sub, ",0x%02llx", static_cast<unsigned long long>(*context.subId & 0xFF));
            row.value += sub;
            row.name += ", sub_id";
        }
    } else if (p.name == "PCR PID") {
        row.value = context.userPcrPid >= 1 ? "User-defined value" : DecimalAndHex(v);
    } else {
        switch (p.kind) {
            case ValueKind::Text:
                row.value = p.text;
                break;
            case ValueKind::Bool:
                row.value = v ? "True" : "False";
                break;
            case ValueKind::Int64:
            case ValueKind::Int:
                row.value = std::to_string(v);
                break;
        }
    }
    return row;
}

std::string ProgramText(int64_t programId, std::optional<int64_t> programNumber) {
    if (!programNumber) return "Program";
    char text[64];
    std::snprintf(text, sizeof text, "Program 0x%llx (#%lld)", static_cast<unsigned long long>(programId),
                  static_cast<long long>(*programNumber));
    return text;
}

std::string StreamText(int64_t streamId, const std::string& streamTypeName) {
    char text[48];
    std::snprintf(text, sizeof text, "PES (%lld) ", static_cast<long long>(streamTypeName.empty() ? 0 : streamId));
    return text + streamTypeName;
}

char KindLetter(NodeKind kind) {
    switch (kind) {
        case NodeKind::Program:
            return 'p';
        case NodeKind::Stream:
            return 's';
        case NodeKind::LooseStream:
            return 'r';
        case NodeKind::Muxer:
            break;
    }
    return 'm';
}

NodeKind StreamKind(bool parentIsProgram) {
    return parentIsProgram ? NodeKind::Stream : NodeKind::LooseStream;
}

ImagePair ImagesForOutput(int64_t output) {
    return output == kProgramStreamOutput ? ImagePair{4, 11} : ImagePair{12, 19};
}

int StreamImage(bool ended) {
    return ended ? 3 : 2;
}

EditorKind ChooseEditor(const std::string& name, bool hasValueList, bool readOnly) {
    if (readOnly) return EditorKind::None;
    if (hasValueList) return EditorKind::ValueList;
    if (name == "PCR PID") return EditorKind::PcrPidList;
    return EditorKind::Text;
}

TypedValue ReadTypedText(const std::string& name, ValueKind kind, const std::string& typed) {
    TypedValue out;
    const std::string text = typed.substr(0, kMaxEditText);
    if (kind == ValueKind::Text) {
        out.ok = true;
        out.isText = true;
        out.text = text;
        return out;
    }
    std::optional<int64_t> number = ParseEditNumber(text);
    if (!number) {
        out.error = name + ": \"" + text + "\" is not a number";
        return out;
    }
    if (kind == ValueKind::Bool && *number != 0 && *number != 1) {
        out.error = name + ": \"" + text + "\" is neither 0 nor 1";
        return out;
    }
    out.ok = true;
    out.number = *number;
    return out;
}

std::string RefusedText(const std::string& name, const std::string& typed) {
    return name + ": the value \"" + typed.substr(0, kMaxEditText) + "\" was refused";
}

bool ChangesStructure(const std::string& name) {
    return name == "Output";
}

SubMenu MenuFor(NodeKind kind) {
    switch (kind) {
        case NodeKind::Program:
            return SubMenu::Program;
        case NodeKind::Stream:
            return SubMenu::Stream;
        case NodeKind::Muxer:
        case NodeKind::LooseStream:
            break;
    }
    return SubMenu::None;
}

bool CommandFits(NodeKind kind, int command) {
    switch (command) {
        case kCmdDeleteStream:
            return MenuFor(kind) == SubMenu::Stream;
        case kCmdDeleteProgram:
        case kCmdCreateProgram:
        case kCmdCreateStream:
            return MenuFor(kind) == SubMenu::Program;
        default:
            return false;
    }
}

std::string CommandRefusedText(int command) {
    const char* what = command == kCmdDeleteStream    ? "Delete Stream"
                       : command == kCmdDeleteProgram ? "Delete Program"
                       : command == kCmdCreateProgram ? "Create Program"
                       : command == kCmdCreateStream  ? "Create Stream"
                                                      : "The command";
    return std::string(what) + " was refused by the multiplexer (it may be running or keep one program)";
}

bool CanDrag(NodeKind kind) {
    return kind == NodeKind::Stream;
}

bool DropMoves(NodeKind target, const void* targetProgram, const void* currentProgram) {
    return target == NodeKind::Program && targetProgram != nullptr && targetProgram != currentProgram;
}

}  // namespace muxpages
