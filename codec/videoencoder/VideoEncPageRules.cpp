#include "codec/videoencoder/VideoEncPageRules.h"

#include "codec/videoencoder/VideoEncParams.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vidpage {

namespace {

// Profile codes of "Profile" and level codes of "Level" that form the
// entries of the profile and level table.
struct Pair {
    int profile, level;
};
const Pair kPairs[] = {{7, 15}, {1, 4}, {1, 6}, {4, 4}, {4, 6}, {1, 8}, {4, 8}, {4, 10}, {5, 8}, {7, 4}, {7, 8}};

constexpr int kModeConstant = 1;
constexpr int kModeCqAdaptive = 2;
constexpr int kModeCqStrict = 3;
constexpr int kProgressiveEntry = 0;  // "Progressive" leads the picture-type box
constexpr int kInterlacedEntry = 1;

std::string Format(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The text without leading and trailing blanks; the caller's parse must use all of it.
std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

}  // namespace

bool IsMpeg1Type(int videoType) {
    return videoType == 0 || videoType == 1 || videoType == 13;
}

bool UsesMpeg1AspectList(int videoType) {
    return IsMpeg1Type(videoType) || videoType == 15;
}

const std::vector<const char*>& AspectNames(int videoType) {
    static const std::vector<const char*> kPelAspects = {"Auto",
                                                         "1:1 - Square Pels",
                                                         "3:4",
                                                         "9:16 625 lines",
                                                         "1:2.21",
                                                         "0.8055",
                                                         "9:16 525 lines",
                                                         "0.8935",
                                                         "0.9157 - CCIR601 625 lines (PAL)",
                                                         "0.9815",
                                                         "1.0695",
                                                         "1.0950 - CCIR601 525 lines (NTSC)",
                                                         "1.1575",
                                                         "1.2015"};
    static const std::vector<const char*> kDisplayAspects = {"Auto", "square pels", "4:3", "16:9", "2.21:1"};
    return UsesMpeg1AspectList(videoType) ? kPelAspects : kDisplayAspects;
}

bool IsValidPair(int profile, int level) {
    return std::any_of(std::begin(kPairs), std::end(kPairs),
                       [&](const Pair& p) { return p.profile == profile && p.level == level; });
}

std::vector<int> LevelsForProfile(int profile) {
    std::vector<int> levels;
    const vidcore::ParamRow& row = vidcore::kParamRows[vidcore::P_Level];
    for (int i = 0; i < row.valueCount; ++i)
        if (IsValidPair(profile, row.values[i].value)) levels.push_back(row.values[i].value);
    return levels;
}

// The last level listed: 8 for High, 10 for Main, 8 for Simple and 8 for
// 4:2:2, whose list runs "Unspecified", "High", "Main".
int LevelToApply(int profile, int level) {
    if (IsValidPair(profile, level)) return level;
    std::vector<int> levels = LevelsForProfile(profile);
    return levels.empty() ? level : levels.back();
}

bool ShowsQuantisers(int bitrateMode) {
    return bitrateMode == kModeCqAdaptive || bitrateMode == kModeCqStrict;
}

RateFieldLabels LabelsForMode(int bitrateMode) {
    if (ShowsQuantisers(bitrateMode)) return {"I-frames quant:", "P-frames quant:", "B-frames quant:"};
    return {"Bit-rate (Kb/s):", "Max. rate (Kb/s):", "VBV buf. size (16 kbit):"};
}

int32_t KbitFromBitrate(int32_t bitsPerSecond) {
    return bitsPerSecond / 1000;
}

int32_t BitrateFromKbit(int64_t kbit) {
    const int64_t bits = std::clamp<int64_t>(kbit, INT32_MIN / 1000, INT32_MAX / 1000) * 1000;
    return static_cast<int32_t>(bits);
}

int HoldGopLength(int gop, int bFrames) {
    const int least = bFrames + (bFrames == 0 ? 1 : 2);
    return std::clamp(std::max(gop, least), kGopMin, kGopMax);
}

int HoldBFrames(int bFrames, int gop) {
    const int most = std::min(kBFramesMax, gop - 2);
    return std::max(kBFramesMin, std::min(bFrames, most));
}

MainPageEnabling EnablingFor(const MainPageState& s) {
    MainPageEnabling e{};
    e.settings = !s.running;
    e.mpeg2Fields = e.settings && !IsMpeg1Type(s.videoType);
    e.fieldOrder = e.mpeg2Fields && s.pictureTypeIndex != kProgressiveEntry;
    e.pulldown = e.mpeg2Fields && s.pictureTypeIndex != kInterlacedEntry;
    e.maxRate = e.settings && s.modeName != kModeConstant;
    return e;
}

std::string ResolutionText(int width, int height) {
    if (width == 0 || height == 0) return "na";
    char text[32];
    std::snprintf(text, sizeof text, "%d x %d", width, height);
    return text;
}

std::string FrameRateText(double fps) {
    if (!std::isfinite(fps) || fps <= 0) return "na";
    return Format("%.3f fps", fps);
}

std::string FrameTypeText(int originalFrameType) {
    if (originalFrameType == 0) return "Frame";
    if (originalFrameType == 1) return "Field";
    return "na";
}

std::string SpeedText(double framesPerSecond) {
    return Format("%.2f", framesPerSecond);
}

std::string PsnrText(double psnr) {
    return Format("%.3f", psnr);
}

bool IsListed(bool visible, bool readOnly) {
    return visible && !readOnly;
}

std::string FormatValue(const Value& v) {
    char text[64];
    switch (v.kind) {
        case ValueKind::Real8:
        case ValueKind::Real4:
        case ValueKind::Currency:
            return Format("%.2f", v.real);
        case ValueKind::Text:
            return v.text;
        case ValueKind::Bool:
            return v.integer ? "True" : "False";
        case ValueKind::Int64:
        case ValueKind::UInt64:
            std::snprintf(text, sizeof text, "%" PRId64, v.integer);
            return text;
        case ValueKind::Integer:
            break;
    }
    std::snprintf(text, sizeof text, "%d", static_cast<int>(v.integer));
    return text;
}

std::optional<Value> ParseValue(ValueKind kind, const std::string& text) {
    const std::string t = Trim(text);
    Value v;
    v.kind = kind;
    switch (kind) {
        case ValueKind::Integer:
        case ValueKind::Int64:
        case ValueKind::UInt64: {
            if (t.empty()) return std::nullopt;
            char* end = nullptr;
            errno = 0;
            long long n = std::strtoll(t.c_str(), &end, 10);
            if (errno != 0 || *end != '\0') return std::nullopt;
            if (kind == ValueKind::Integer && (n < INT32_MIN || n > INT32_MAX)) return std::nullopt;
            if (kind == ValueKind::UInt64 && n < 0) return std::nullopt;
            v.integer = n;
            return v;
        }
        case ValueKind::Real8:
        case ValueKind::Real4:
        case ValueKind::Currency: {
            if (t.empty()) return std::nullopt;
            char* end = nullptr;
            double d = std::strtod(t.c_str(), &end);
            if (*end != '\0' || !std::isfinite(d)) return std::nullopt;
            v.real = d;
            return v;
        }
        case ValueKind::Bool:
        case ValueKind::Text:
            break;
    }
    // Anything else travels as text; the parameter converts it.
    v.kind = ValueKind::Text;
    v.text = text;
    return v;
}

}  // namespace vidpage
