#include "tests/support/CaptionUnits.h"

namespace testfilters {

namespace {

constexpr BYTE kMiscControl = 0x14;  // channel 1 miscellaneous control code
constexpr BYTE kResumeCaptionLoading = 0x20;
constexpr BYTE kEndOfCaption = 0x2F;

// CEA-608 bytes carry odd parity in their top bit.
BYTE Odd(BYTE b) {
    int ones = 0;
    for (int i = 0; i < 7; ++i) ones += (b >> i) & 1;
    return static_cast<BYTE>((b & 0x7F) | (ones % 2 == 0 ? 0x80 : 0));
}

}  // namespace

CMediaType Line21BytePairType() {
    CMediaType mt;
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_AUXLine21Data);
    mt.SetSubtype(&MEDIASUBTYPE_Line21_BytePair);
    mt.SetFormatType(&FORMAT_None);
    return mt;
}

std::vector<EsUnit> PopOnCaption(const std::string& text, REFERENCE_TIME first, REFERENCE_TIME frame) {
    std::vector<std::pair<BYTE, BYTE>> pairs = {{kMiscControl, kResumeCaptionLoading},
                                                {kMiscControl, kResumeCaptionLoading}};
    for (size_t i = 0; i < text.size(); i += 2)
        pairs.emplace_back(static_cast<BYTE>(text[i]), i + 1 < text.size() ? static_cast<BYTE>(text[i + 1]) : 0);
    pairs.emplace_back(kMiscControl, kEndOfCaption);
    pairs.emplace_back(kMiscControl, kEndOfCaption);
    std::vector<EsUnit> units;
    for (const auto& p : pairs) {
        EsUnit u;
        u.bytes = {Odd(p.first), Odd(p.second)};
        u.start = first + static_cast<REFERENCE_TIME>(units.size()) * frame;
        units.push_back(u);
    }
    return units;
}

}  // namespace testfilters
