#include "codec/multiplexer/pages/PageText.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace muxpages {

namespace {

constexpr int64_t kMsPerHour = 3600000;
constexpr int64_t kMsPerMinute = 60000;
constexpr int64_t kMsPerSecond = 1000;
constexpr uint64_t kOneMega = 1048576;
constexpr uint64_t kOneKilo = 1024;
// At 10^12 and above the top part is written as one group.
constexpr uint64_t kWholeTopGroup = 1000000000000ULL;

// The magnitude of a signed count, INT64_MIN included.
uint64_t Magnitude(int64_t v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

}  // namespace

std::string FormatMilliseconds(int64_t ms) {
    const uint64_t m = Magnitude(ms);
    char text[48];
    std::snprintf(text, sizeof text, "%c%02llu:%02llu:%02llu,%03llu", ms < 0 ? '-' : ' ',
                  static_cast<unsigned long long>(m / kMsPerHour),
                  static_cast<unsigned long long>(m / kMsPerMinute % 60),
                  static_cast<unsigned long long>(m / kMsPerSecond % 60), static_cast<unsigned long long>(m % 1000));
    return text;
}

std::string VersionText(unsigned major, unsigned minor, unsigned build, unsigned revision) {
    char text[64];
    std::snprintf(text, sizeof text, "Version: %u.%u.%u.%u", major, minor, build, revision);
    return text;
}

std::string GroupDigits(int64_t value) {
    uint64_t m = Magnitude(value);
    const char* sign = value < 0 ? "-" : "";
    char text[48];
    if (m >= kWholeTopGroup) {
        // "%d" of the part above the last three groups, then the groups.
        std::snprintf(text, sizeof text, "%s%llu %03llu %03llu %03llu", sign,
                      static_cast<unsigned long long>(m / 1000000000ULL),
                      static_cast<unsigned long long>(m / 1000000 % 1000),
                      static_cast<unsigned long long>(m / 1000 % 1000), static_cast<unsigned long long>(m % 1000));
        return text;
    }
    std::string groups;
    while (m >= 1000) {
        std::snprintf(text, sizeof text, " %03llu", static_cast<unsigned long long>(m % 1000));
        groups = text + groups;
        m /= 1000;
    }
    std::snprintf(text, sizeof text, " %s%llu", sign, static_cast<unsigned long long>(m));
    return text + groups;
}

std::optional<int64_t> ParseEditNumber(const std::string& typed) {
    std::string s;
    for (char c : typed) s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    if (b == std::string::npos) return std::nullopt;
    s = s.substr(b, e - b + 1);

    bool negative = false;
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    uint64_t scale = 1;
    if (!s.empty() && s.back() == 'M') {
        scale = kOneMega;
        s.pop_back();
    } else if (!s.empty() && s.back() == 'K') {
        scale = kOneKilo;
        s.pop_back();
    }
    bool hex = false;
    if (s.compare(i, 2, "0X") == 0) {
        hex = true;
        i += 2;
    }
    if (!s.empty() && s.back() == 'H' && s.size() > i) {
        hex = true;
        s.pop_back();
    }
    if (i >= s.size()) return std::nullopt;
    const uint64_t base = hex ? 16 : 10;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        else
            return std::nullopt;
        if (v > (limit - digit) / base) return std::nullopt;
        v = v * base + digit;
    }
    if (v != 0 && scale > limit / v) return std::nullopt;
    v *= scale;
    if (!negative) return static_cast<int64_t>(v);
    return v == limit ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(v);
}

}  // namespace muxpages
