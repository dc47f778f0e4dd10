// Numbers in text as the C locale reads and writes them, whatever locale the host has set.
//
// std::stod, std::stoi and a default-constructed stream follow the host's locale: under a
// comma-decimal locale "380.5" reads as 380 without a word and 0.5 prints as "0,5". Input files
// and messages use the decimal point everywhere.
#pragma once

#include <string>

namespace varnok {

// As std::stod in the C locale: leading white space skipped, the longest prefix that forms a
// number converted (decimal or hexadecimal, infinity and not-a-number included) and the rest of
// the text ignored. No number at the start raises std::invalid_argument, a value outside the
// range of double std::out_of_range, each the very exception (type and text) of std::stod.
double parse_real(const std::string& text);

// As std::stoi in base 10 in the C locale, with the exceptions of std::stoi.
int parse_integer(const std::string& text);

// `value` in the default format of a stream (six significant digits), classic locale.
std::string format_default(double value);

}  // namespace varnok
