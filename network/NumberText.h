// Numbers in text as the C locale reads and writes them, whatever locale the host has set.
//
// std::stod, std::stoi and a default-constructed stream follow the host's locale: under a
// comma-decimal locale "380.5" reads as 380 without a word and 0.5 prints as "0,5". Input files
// and messages use the decimal point everywhere.
#pragma once

#include <cstddef>
#include <string>

namespace varnok {

// As std::stod in glibc's C locale, on every system: leading white space skipped, the longest
// prefix that forms a number converted (decimal or hexadecimal, infinity and not-a-number
// included) and the rest of the text ignored. No number at the start raises
// std::invalid_argument, a value outside the range of double std::out_of_range, each the very
// exception (type and text) of std::stod.
double parse_real(const std::string& text);

// As std::stoi in base 10 in the C locale, with the exceptions of std::stoi.
int parse_integer(const std::string& text);

// What strtod finds at the start of a text.
struct RealPrefix {
    double value = 0.0;
    std::size_t length = 0;     // characters taken, white space and sign included; 0: no number
    bool out_of_range = false;  // strtod's ERANGE
};

// strtod of glibc in the C locale, worked out without the C library (whose own reading differs
// on some systems): leading white space, an optional sign, then "inf" or "infinity", "nan" with
// an optional "(n-char-sequence)", a hexadecimal number ("0x", digits with an optional point, an
// optional binary exponent "p") or a decimal one (an optional exponent "e"), letters in either
// case; the value the nearest double, but below the smallest normal number as glibc rounds it
// (which misses the nearest now and then). Out of range: a finite number beyond the range of
// double, a tiny result that is not exact, and a NaN payload that overflows 64 bits.
RealPrefix read_real_prefix(const char* text);

// `value` in the default format of a stream (six significant digits), classic locale.
std::string format_default(double value);

}  // namespace varnok
