// Texts for testing the reading of real numbers: every short text over the characters that
// matter to the grammar, and seeded random ones, many of them at or next to the points where
// the reading is hardest (a double written exactly, the midpoint of two neighbouring doubles,
// the bounds of the range). The same seed gives the same texts on every system.
#pragma once

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace test_support {

// A positive number as digits × 10^exponent, exactly.
struct ExactDecimal {
    std::string digits;
    int exponent = 0;
};

// The exact decimal expansion of a finite positive double (at most 767 significant digits).
inline ExactDecimal exact_decimal(double value) {
    char text[900];
    char* end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 800).ptr;
    char* e = std::find(text, end, 'e');
    int power = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, power);
    return {text[0] + std::string(text + 2, e), power - 800};
}

// a + b (decimal digit strings of the same length), and a × k for a small k.
inline std::string add_digits(const std::string& a, const std::string& b) {
    std::string sum(a.size() + 1, '0');
    int carry = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        const int s = (a[i] - '0') + (b[i] - '0') + carry;
        sum[i + 1] = static_cast<char>('0' + s % 10);
        carry = s / 10;
    }
    sum[0] = static_cast<char>('0' + carry);
    return sum;
}

inline std::string multiply_digits(const std::string& a, int k) {
    std::string product(a.size() + 1, '0');
    int carry = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        const int p = (a[i] - '0') * k + carry;
        product[i + 1] = static_cast<char>('0' + p % 10);
        carry = p / 10;
    }
    product[0] = static_cast<char>('0' + carry);
    return product;
}

// x + y, exactly.
inline ExactDecimal exact_sum(ExactDecimal x, ExactDecimal y) {
    if (x.exponent > y.exponent) std::swap(x, y);
    y.digits.append(static_cast<std::size_t>(y.exponent - x.exponent), '0');
    const std::size_t width = std::max(x.digits.size(), y.digits.size());
    x.digits.insert(0, width - x.digits.size(), '0');
    y.digits.insert(0, width - y.digits.size(), '0');
    return {add_digits(x.digits, y.digits), x.exponent};
}

// x × k / 10^tens, exactly.
inline ExactDecimal exact_scaled(const ExactDecimal& x, int k, int tens) {
    return {multiply_digits(x.digits, k), x.exponent - tens};
}

// The exact midpoint of two finite positive doubles.
inline ExactDecimal exact_midpoint(double a, double b) {
    return exact_scaled(exact_sum(exact_decimal(a), exact_decimal(b)), 5, 1);
}

// A finite positive double plus one or three quarters of the smallest subnormal: near the
// smallest normal number, a number whose last bit is its 54th.
inline ExactDecimal exact_plus_quarters(double value, int quarters) {
    const ExactDecimal smallest = exact_decimal(std::numeric_limits<double>::denorm_min());
    return exact_sum(exact_decimal(value), exact_scaled(smallest, 25 * quarters, 2));
}

// A finite positive double plus the smallest subnormal halved `halvings` times: for a subnormal
// with its leading bit at 2^e and 53 - (e + 1074) halvings, a number whose last bit is its 54th.
inline ExactDecimal exact_plus_halved_smallest(double value, int halvings) {
    ExactDecimal part = exact_decimal(std::numeric_limits<double>::denorm_min());
    for (int i = 0; i < halvings; ++i) part = exact_scaled(part, 5, 1);
    return exact_sum(exact_decimal(value), part);
}

// "d.ddde±n" with the leading zeros dropped (never empty: a zero is "0e0").
inline std::string scientific_text(ExactDecimal x) {
    const std::size_t first = x.digits.find_first_not_of('0');
    if (first == std::string::npos) return "0e0";
    x.digits.erase(0, first);
    const int power = x.exponent + static_cast<int>(x.digits.size()) - 1;
    std::string text = x.digits.substr(0, 1);
    if (x.digits.size() > 1) text += "." + x.digits.substr(1);
    return text + "e" + std::to_string(power);
}

// A deterministic source of choices: the same seed, the same texts, whatever the C++ library
// (std::mt19937_64 is fixed by the standard; no distribution is used) and the compiler (one
// choice to an expression, where the order of evaluation is the compiler's).
class Choices {
public:
    explicit Choices(std::uint64_t seed) : engine_(seed) {}
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(engine_() % n); }
    bool one_in(std::size_t n) { return below(n) == 0; }
    std::uint64_t bits() { return engine_(); }
    char of(const char* characters) { return characters[below(std::strlen(characters))]; }
    std::string digits(std::size_t max_count, const char* alphabet) {
        std::string s;
        for (std::size_t n = below(max_count + 1); n > 0; --n) s += of(alphabet);
        return s;
    }

private:
    std::mt19937_64 engine_;
};

// A finite positive double, often at the edges: subnormal, smallest normal, largest.
inline double random_double(Choices& c) {
    std::uint64_t exponent = 0;
    switch (c.below(6)) {
        case 0: exponent = 0; break;
        case 1: exponent = 1; break;
        case 2: exponent = 2046; break;
        case 3: exponent = 2045 + c.below(2); break;
        default: exponent = c.below(2047); break;
    }
    std::uint64_t mantissa = c.bits() & 0x000fffffffffffff;
    switch (c.below(6)) {
        case 0: mantissa = c.below(3); break;
        case 1: mantissa = 0x000fffffffffffff - c.below(3); break;
        case 2: mantissa >>= c.below(53); break;
        default: break;
    }
    if (exponent == 0 && mantissa == 0) mantissa = 1;
    const std::uint64_t bits = exponent << 52 | mantissa;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// An exact decimal shortened or nudged: cut at some digit, a last digit raised, a far tail.
inline std::string nudged_decimal(Choices& c, ExactDecimal x) {
    const std::size_t first = x.digits.find_first_not_of('0');
    const std::size_t last = x.digits.find_last_not_of('0');
    switch (c.below(5)) {
        case 0: {  // cut (rounding towards zero)
            const std::size_t keep = first + 1 + c.below(last - first + 1);
            x.exponent += static_cast<int>(x.digits.size() - keep);
            x.digits.resize(keep);
            break;
        }
        case 1: {  // cut and the last digit raised by one
            const std::size_t keep = first + 1 + c.below(last - first + 1);
            x.exponent += static_cast<int>(x.digits.size() - keep);
            x.digits.resize(keep);
            x.digits = add_digits(x.digits, std::string(keep - 1, '0') + "1");
            break;
        }
        case 2: {  // a tail far below
            const std::size_t zeros = c.below(40);
            x.digits += std::string(zeros, '0') + c.of("123456789");
            x.exponent -= static_cast<int>(zeros + 1);
            break;
        }
        default: break;  // exact
    }
    return scientific_text(x);
}

// A double in hexadecimal, from its bits, with an optional tail after its 13 digits ("8": the
// midpoint with its upper neighbour); a normal one at times moved below the smallest normal
// number, where its 53 bits and the tail are more than a subnormal holds.
inline std::string hexadecimal_text(Choices& c, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int exponent = static_cast<int>(bits >> 52);
    std::string mantissa;
    for (int shift = 48; shift >= 0; shift -= 4) mantissa += "0123456789abcdef"[bits >> shift & 15];
    const char* const tails[] = {"", "", "8", "8", "7fff", "80000001", "0000000000000001", "ffff"};
    int power = exponent == 0 ? -1022 : exponent - 1023;
    if (exponent != 0 && c.one_in(2)) power = -1078 + static_cast<int>(c.below(60));
    return std::string(exponent == 0 ? "0x0." : "0x1.") + mantissa + tails[c.below(8)] + "p" +
           std::to_string(power);
}

// A number at or next to a hard point.
inline std::string hard_number(Choices& c) {
    const double value = random_double(c);
    const double above = std::nextafter(value, INFINITY);
    switch (c.below(8)) {
        case 0: {  // shortest round trip, or 17 significant digits
            char text[64];
            const auto r = c.one_in(2) ? std::to_chars(text, text + sizeof text, value)
                                       : std::to_chars(text, text + sizeof text, value,
                                                       std::chars_format::scientific, 16);
            return std::string(text, r.ptr);
        }
        case 1: return nudged_decimal(c, exact_decimal(value));
        case 2:
            if (std::isinf(above)) return nudged_decimal(c, exact_decimal(value));
            return nudged_decimal(c, exact_midpoint(value, above));
        case 3: return nudged_decimal(c, exact_plus_quarters(value, c.one_in(2) ? 1 : 3));
        case 4: {
            const int halvings = value < DBL_MIN && c.one_in(2)
                                     ? 53 - (std::ilogb(value) + 1074)
                                     : 1 + static_cast<int>(c.below(60));
            return nudged_decimal(c, exact_plus_halved_smallest(value, halvings));
        }
        default: return hexadecimal_text(c, value);
    }
}

// A number put together at random: digits, a point, an exponent.
inline std::string random_number(Choices& c) {
    const char* const digits = c.one_in(3) ? "0" : c.one_in(2) ? "09" : "0123456789";
    if (c.one_in(3)) {  // hexadecimal
        std::string text = c.one_in(2) ? "0x" : "0X";
        text += c.digits(20, c.one_in(2) ? "0123456789abcdefABCDEF" : "0f");
        if (c.one_in(2)) text += "." + c.digits(20, "0123456789abcdef");
        if (c.one_in(2)) {
            text += c.of("pP");
            text += c.digits(1, "+-");
            text += c.digits(4, "0123456789");
        }
        return text;
    }
    std::string text = c.digits(25, digits);
    if (c.one_in(2)) text += "." + c.digits(25, digits);
    if (c.one_in(2)) {
        text += c.of("eE");
        text += c.digits(1, "+-");
        text += c.one_in(20) ? std::string(20, '9') : c.digits(3, "0123456789");
    }
    return text;
}

// "inf", "infinity", "nan" and "nan(...)" written in any case, whole or cut.
inline std::string random_word(Choices& c) {
    const char* const words[] = {"inf", "infinity", "nan", "nan"};
    std::string text = words[c.below(4)];
    if (c.one_in(4)) text.resize(c.below(text.size() + 1));
    for (char& ch : text)
        if (c.one_in(2)) ch = static_cast<char>(ch - 'a' + 'A');
    if (text == "nan" || text == "NaN" || c.one_in(8)) {
        text += "(";
        switch (c.below(5)) {
            case 0: text += c.digits(22, "0123456789"); break;
            case 1: text += "0x" + c.digits(18, "0123456789abcdefABCDEF"); break;
            case 2: text += "0" + c.digits(23, "01234567"); break;
            case 3: text += c.digits(6, "0123456789abcxyzXY_"); break;
            default: text += c.digits(4, "0123456789 -+.,("); break;
        }
        if (!c.one_in(6)) text += ")";
    }
    return text;
}

// Seeded random texts: white space, a sign, a number or a word, and what may follow.
inline std::vector<std::string> random_real_texts(std::uint64_t seed, std::size_t count) {
    Choices c(seed);
    std::vector<std::string> texts;
    const char* const tails[] = {"", "", "", "x", "e", "e+", "E-", "p", "p-", ".", "5", ",5",
                                 ")", " 1", ".5e1", "0x1"};
    for (std::size_t i = 0; i < count; ++i) {
        std::string text = c.one_in(4) ? c.digits(3, " \t\n\v\f\r") : "";
        if (!c.one_in(3)) text += c.of("+-");
        if (c.one_in(40)) text += c.of("+- ");
        switch (c.below(8)) {
            case 0: text += random_word(c); break;
            case 1:
            case 2: text += random_number(c); break;
            default: text += hard_number(c); break;
        }
        texts.push_back(text + tails[c.below(16)]);
    }
    return texts;
}

// Every text of up to three characters over the characters that matter to the grammar.
inline std::vector<std::string> short_real_texts() {
    const std::string alphabet = "019.eEpPxX+-infatyINF()_ \t";
    std::vector<std::string> texts{""};
    for (std::size_t begin = 0, length = 1; length <= 3; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t i = begin; i < end; ++i)
            for (char ch : alphabet) texts.push_back(texts[i] + ch);
        begin = end;
    }
    return texts;
}

}  // namespace test_support
