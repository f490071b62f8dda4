// Texts of the multiplexer's property pages: the version line, the clock
// form of a millisecond count, grouped digits and the numbers a user types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace muxpages {

// "%c%02d:%02d:%02d,%03d": '-' for a negative count, else a blank, then the
// hours, minutes, seconds and milliseconds of the count's magnitude (100
// hours and more keep every hour digit).
std::string FormatMilliseconds(int64_t ms);

// "Version: 7.4.0.27713" from the four fields of a file version.
std::string VersionText(unsigned major, unsigned minor, unsigned build, unsigned revision);

// The number in groups of three digits, each group after a blank:
// 1234567 -> " 1 234 567". From 10^12 on, everything above the last three
// groups is one leading group without the blank ("1234 567 890 123").
// Negative numbers carry '-' before the leading group.
std::string GroupDigits(int64_t value);

// A number typed into an edit field, upper-cased: hexadecimal when it holds
// "0X" or ends in 'H' ("0x1F" -> 31, "10h" -> 16), times 1,048,576 with a
// trailing 'M' or 1,024 with 'K' ("2M" -> 2097152). Anything else (letters,
// fractions, an empty text, an overflow) is no number.
std::optional<int64_t> ParseEditNumber(const std::string& text);

}  // namespace muxpages
