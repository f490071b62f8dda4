// What the video encoder's settings pages decide without a window: the
// profile and level pairs offered, the aspect-ratio list, the rate fields of
// each bitrate mode, the up-down limits, which controls are enabled, and the
// texts and parsing of the generic parameter list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vidpage {

// ---- main page ----

// Video types coded as MPEG-1 (profile, level and field controls do not apply).
bool IsMpeg1Type(int videoType);
// Video types whose aspect list is the MPEG-1 pel-aspect list.
bool UsesMpeg1AspectList(int videoType);
// The aspect-ratio box's entries; the index is the value of "Aspect ratio".
const std::vector<const char*>& AspectNames(int videoType);

// Whether (profile, level) is an entry of the profile and level table.
bool IsValidPair(int profile, int level);
// The levels offered for a profile, in the order of the "Level" parameter's
// names; empty for an unknown profile.
std::vector<int> LevelsForProfile(int profile);
// The level an apply writes: the pending one when it pairs with the profile,
// else the last level offered for the profile (the level unchanged for an
// unknown profile).
int LevelToApply(int profile, int level);

// The two constant-quality modes show the three quantisers in the value fields.
bool ShowsQuantisers(int bitrateMode);
struct RateFieldLabels {
    const char* first;
    const char* second;
    const char* third;
};
RateFieldLabels LabelsForMode(int bitrateMode);
// The value fields show bit rates in kbit/s and take them back x 1000.
int32_t KbitFromBitrate(int32_t bitsPerSecond);
int32_t BitrateFromKbit(int64_t kbit);

// Up-down ranges.
constexpr int kGopMin = 1, kGopMax = 100;
constexpr int kBFramesMin = 0, kBFramesMax = 7;
// "Max GOP length" held at no less than the B-frames count + 2 (+ 1 when
// there are none), within its range.
int HoldGopLength(int gop, int bFrames);
// "Max B-frames count" held at no more than 7 and the GOP length - 2.
int HoldBFrames(int bFrames, int gop);

// What the periodic update enables.
struct MainPageState {
    bool running;
    int videoType;
    int pictureTypeIndex;  // selected entry of the picture-type box, -1 none
    int modeName;          // "Bitrate mode" of the mode box's selection, -1 none
};
struct MainPageEnabling {
    bool settings;     // every setting control and "Restore default"
    bool mpeg2Fields;  // profile, level, picture type
    bool fieldOrder;
    bool pulldown;
    bool maxRate;
};
MainPageEnabling EnablingFor(const MainPageState& s);

// Texts of the information and statistics fields.
std::string ResolutionText(int width, int height);
std::string FrameRateText(double fps);
std::string FrameTypeText(int originalFrameType);
std::string SpeedText(double framesPerSecond);
std::string PsnrText(double psnr);

// ---- advanced page ----

// A parameter is listed when it is visible and writable.
bool IsListed(bool visible, bool readOnly);

// How a value travels: the page maps the VARIANT type onto these.
enum class ValueKind { Integer, Int64, UInt64, Real8, Real4, Currency, Bool, Text };
struct Value {
    ValueKind kind = ValueKind::Integer;
    int64_t integer = 0;
    double real = 0;
    std::string text;
};
// The value cell's text of an unnamed value.
std::string FormatValue(const Value& v);
// The editor's text read back by the kind of the pending value; nullopt when
// it does not parse (empty, trailing letters, out of the kind's range).
std::optional<Value> ParseValue(ValueKind kind, const std::string& text);

}  // namespace vidpage
