#include "network/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace varnok {

namespace {

// ---- strtod of glibc in the C locale, worked out here ----

// Characters as the C locale classifies them.
bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_alphanumeric(char c) {
    return (c >= '0' && c <= '9') || (ascii_lower(c) >= 'a' && ascii_lower(c) <= 'z');
}
// A digit's value, -1 for any other character.
int decimal_digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }
int hexadecimal_digit(char c) {
    const char lower = ascii_lower(c);
    if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return decimal_digit(c);
}

// Whether `text` starts with `word` (written in lower case), in either case.
bool starts_with_word(const char* text, const char* word) {
    for (; *word != '\0'; ++text, ++word)
        if (ascii_lower(*text) != *word) return false;
    return true;
}

// A finite number as digits × radix^exponent, exactly or all but indistinguishably: `digits`
// are its significant digits (no leading or trailing zero; none for zero), at most kKeptDigits
// and then a "1" standing for any nonzero digits left off. In decimal every double, every
// midpoint of two neighbouring doubles and every multiple of 2^-1076 below 2^-1022 (the finest
// bit glibc reads exactly there) has fewer significant digits, and in hexadecimal 800 digits
// hold more bits than glibc reads: the shortened number reads as the full one does.
enum class Radix { decimal, hexadecimal };
struct Digits {
    std::string digits;
    long long exponent = 0;  // in digits while the mantissa is read; then a power of 10 or 2
};
constexpr std::size_t kKeptDigits = 800;
// An exponent written beyond this is held at it: no text is long enough to bring it back.
constexpr long long kExponentLimit = 1'000'000'000'000'000LL;

// Reads digits with at most one point, at `p`, into `number`; returns the end, or `p` itself
// when there is no digit (a point alone is no number).
const char* read_mantissa(const char* p, Radix radix, Digits& number) {
    const char* const start = p;
    bool any_digit = false;
    bool after_point = false;
    bool dropped_nonzero = false;
    for (;; ++p) {
        if (*p == '.' && !after_point) {
            after_point = true;
            continue;
        }
        const int d = radix == Radix::decimal ? decimal_digit(*p) : hexadecimal_digit(*p);
        if (d < 0) break;
        any_digit = true;
        if (number.digits.empty() && d == 0) {  // a leading zero
            if (after_point) --number.exponent;
        } else if (number.digits.size() < kKeptDigits) {
            number.digits += "0123456789abcdef"[d];
            if (after_point) --number.exponent;
        } else {
            dropped_nonzero = dropped_nonzero || d != 0;
            if (!after_point) ++number.exponent;
        }
    }
    if (!any_digit) return start;
    if (dropped_nonzero) {
        number.digits += '1';
        --number.exponent;
    }
    while (!number.digits.empty() && number.digits.back() == '0') {
        number.digits.pop_back();
        ++number.exponent;
    }
    return p;
}

// Reads an exponent ("e-12", "p+3") at `p`; returns the end, or `p` itself when the letter is
// not followed by digits (then it is not part of the number).
const char* read_exponent(const char* p, char letter, long long& exponent) {
    if (ascii_lower(*p) != letter) return p;
    const char* q = p + 1;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    if (decimal_digit(*q) < 0) return p;
    long long value = 0;
    for (; decimal_digit(*q) >= 0; ++q)
        if (value < kExponentLimit) value = value * 10 + decimal_digit(*q);
    exponent = negative ? -value : value;
    return q;
}

// The double nearest to `number` (ties to even), or false when that is zero or infinite.
bool nearest_double(const Digits& number, Radix radix, double& value) {
    // beyond 10^±100000 (2^±100000) even 800 digits stay out of range
    const long long exponent = std::clamp(number.exponent, -100'000LL, 100'000LL);
    const std::string text =
        number.digits + (radix == Radix::decimal ? "e" : "p") + std::to_string(exponent);
    const std::chars_format format =
        radix == Radix::decimal ? std::chars_format::scientific : std::chars_format::hex;
    return std::from_chars(text.data(), text.data() + text.size(), value, format).ec == std::errc();
}

// ---- Below the smallest normal number ----
//
// There glibc rounds as its round_and_return does: from the 53 leading bits, the 54th and
// whether any further bit is set, with tininess judged after rounding to 53 bits (as on x86).
// When it shifts the 53 bits into a subnormal it loses the 54th bit. Where it has that bit
// exactly (always in hexadecimal; in decimal down to 2^-1076, below which it cuts the digits
// and keeps only that some were left) a number whose bits end at the 54th reads as if that bit
// were clear: 0x1.00000000000008p-1035 is exact, 0x1.00000000000008p-1075 rounds to zero.

__extension__ typedef unsigned __int128 Bits128;  // GCC and Clang, on every 64-bit target

// A positive number below 2^-1022 in units of 2^-1128, the 54th bit of the smallest number
// that does not round to zero (then below 2^106 of them): the whole units and whether a
// fraction of one is left.
constexpr int kUnitPower = -1128;
struct TinyNumber {
    Bits128 units = 0;
    bool fraction = false;
};

int bit_length(Bits128 value) {
    int length = 0;
    for (; value != 0; value >>= 1) ++length;
    return length;
}

// digits × 2^power for a power up to 32, in place.
void multiply_by_power_of_two(std::string& digits, int power) {
    std::uint64_t carry = 0;
    for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit) {
        const auto value = static_cast<std::uint64_t>(*digit - '0');
        const std::uint64_t product = (value << power) + carry;
        *digit = static_cast<char>('0' + product % 10);
        carry = product / 10;
    }
    for (; carry != 0; carry /= 10)
        digits.insert(digits.begin(), static_cast<char>('0' + carry % 10));
}

// `number` in units of 2^-1128; false when it is 2^-1022 or more.
bool tiny_decimal(const Digits& number, TinyNumber& tiny) {
    if (number.exponent >= 0) return false;
    std::string units = number.digits;
    for (int power = -kUnitPower; power > 0; power -= 32)
        multiply_by_power_of_two(units, std::min(power, 32));
    // the decimal point moved left by -exponent places
    const unsigned long long places = static_cast<unsigned long long>(-number.exponent);
    const std::size_t whole = places >= units.size() ? 0 : units.size() - places;
    if (whole > 32) return false;  // 10^32 units and more
    tiny.fraction = units.find_first_not_of('0', whole) != std::string::npos;
    for (std::size_t i = 0; i < whole; ++i) tiny.units = tiny.units * 10 + (units[i] - '0');
    return tiny.units < Bits128{1} << 106;
}

bool tiny_hexadecimal(const Digits& number, TinyNumber& tiny) {
    const long long last = number.exponent - kUnitPower;  // the last digit's units, a power of 2
    const long long places = static_cast<long long>(number.digits.size()) - 1;
    const long long top = last + 4 * places + bit_length(hexadecimal_digit(number.digits[0])) - 1;
    if (top >= 106) return false;
    for (long long i = 0; i <= places; ++i) {
        const int digit = hexadecimal_digit(number.digits[static_cast<std::size_t>(i)]);
        const long long shift = last + 4 * (places - i);
        if (shift >= 0) {
            tiny.units |= static_cast<Bits128>(digit) << shift;
        } else if (shift > -4) {
            tiny.units |= static_cast<Bits128>(digit >> -shift);
            tiny.fraction = tiny.fraction || (digit & ((1 << -shift) - 1)) != 0;
        } else {
            tiny.fraction = tiny.fraction || digit != 0;
        }
    }
    return true;
}

// glibc's double and range verdict for a tiny number.
void round_tiny(const TinyNumber& x, bool knows_54th_bit, RealPrefix& result) {
    const int length = bit_length(x.units);
    if (length < 54) {  // below 2^-1075, half the smallest subnormal
        result.value = 0.0;
        result.out_of_range = true;
        return;
    }
    const int below_54th = length - 54;
    const std::uint64_t leading = static_cast<std::uint64_t>(x.units >> (below_54th + 1));
    const bool bit_54 = (x.units >> below_54th & 1) != 0;
    const bool further = x.fraction || (x.units & ((Bits128{1} << below_54th) - 1)) != 0;
    // tiny unless rounding to 53 bits gives 2^-1022, as it can from 2^-1023 on
    const bool tiny = !(length == 106 && leading == (std::uint64_t{1} << 53) - 1 && bit_54 &&
                        (further || (leading & 1) != 0));
    // the 54th bit lost where glibc has it exactly, else one of the bits that follow
    const bool following = further || (bit_54 && !knows_54th_bit);
    const int shift = 107 - length;  // the subnormal keeps 53 - shift of the leading bits
    const bool half = (leading >> (shift - 1) & 1) != 0;
    const bool sticky = following || (leading & ((std::uint64_t{1} << (shift - 1)) - 1)) != 0;
    std::uint64_t subnormal = leading >> shift;  // in units of 2^-1074: the bits of the double
    if (half && (sticky || (subnormal & 1) != 0)) ++subnormal;  // 2^52 of them is 2^-1022
    std::memcpy(&result.value, &subnormal, sizeof subnormal);
    result.out_of_range = tiny && (half || sticky);
}

// A finite number's double and whether glibc calls it out of range (ERANGE): when it overflows,
// and when the result is tiny and inexact. An exact subnormal such as 0x1p-1074 is in range.
RealPrefix convert(const Digits& number, Radix radix, std::size_t length) {
    RealPrefix result{0.0, length, false};
    if (number.digits.empty()) return result;  // zero, whatever its exponent
    const bool nonzero = nearest_double(number, radix, result.value);
    if (!nonzero) {
        // the power of 10 or 2 of the leading digit tells overflow from underflow
        const long long places = static_cast<long long>(number.digits.size()) - 1;
        const long long leading_power =
            number.exponent + (radix == Radix::decimal ? places : 4 * places);
        if (leading_power >= 0) {
            result.value = std::numeric_limits<double>::infinity();
            result.out_of_range = true;
            return result;
        }
    }
    if (nonzero && result.value > DBL_MIN) return result;
    TinyNumber tiny;
    const bool below_smallest_normal = radix == Radix::decimal ? tiny_decimal(number, tiny)
                                                               : tiny_hexadecimal(number, tiny);
    if (!below_smallest_normal) return result;  // 2^-1022 or a little more: rounded to it
    // glibc has a decimal number's 54th bit exactly from 2^-1023 on (2^-1076 then)
    round_tiny(tiny, radix == Radix::hexadecimal || bit_length(tiny.units) == 106, result);
    return result;
}

RealPrefix decimal_at(const char* p) {
    Digits number;
    const char* end = read_mantissa(p, Radix::decimal, number);
    if (end == p) return {};
    long long exponent = 0;
    end = read_exponent(end, 'e', exponent);
    number.exponent += exponent;
    return convert(number, Radix::decimal, static_cast<std::size_t>(end - p));
}

// At "0x": a hexadecimal digit must follow, before or after the point; otherwise the "0" alone
// is the number.
RealPrefix hexadecimal_at(const char* p) {
    Digits number;
    const char* end = read_mantissa(p + 2, Radix::hexadecimal, number);
    if (end == p + 2) return {0.0, 1, false};
    long long binary_exponent = 0;
    end = read_exponent(end, 'p', binary_exponent);
    number.exponent = 4 * number.exponent + binary_exponent;
    return convert(number, Radix::hexadecimal, static_cast<std::size_t>(end - p));
}

RealPrefix infinity_at(const char* p) {
    return {std::numeric_limits<double>::infinity(), starts_with_word(p + 3, "inity") ? 8u : 3u,
            false};
}

// An unsigned number as strtoull reads it in base 0 ("0x" hexadecimal, "0" octal), with its
// overflow (ULLONG_MAX and ERANGE).
struct UnsignedPrefix {
    std::uint64_t value = 0;
    const char* end = nullptr;
    bool overflow = false;
};
UnsignedPrefix read_unsigned(const char* p) {
    int base = 10;
    if (p[0] == '0') {
        base = 8;
        if (ascii_lower(p[1]) == 'x' && hexadecimal_digit(p[2]) >= 0) {
            base = 16;
            p += 2;
        }
    }
    UnsignedPrefix number{0, p, false};
    for (int d; (d = hexadecimal_digit(*number.end)) >= 0 && d < base; ++number.end) {
        if (number.value > (UINT64_MAX - static_cast<unsigned>(d)) / base) {
            number.overflow = true;
            number.value = UINT64_MAX;
        } else {
            number.value = number.value * base + static_cast<unsigned>(d);
        }
    }
    return number;
}

// At "nan": a quiet NaN. A following "(n-char-sequence)" is taken too; when the sequence reads
// in full as strtoull reads it, its low 51 bits are the payload, and its overflow is strtod's.
RealPrefix not_a_number_at(const char* p) {
    RealPrefix result{std::numeric_limits<double>::quiet_NaN(), 3, false};
    if (p[3] != '(') return result;
    const char* const sequence = p + 4;
    const char* close = sequence;
    while (is_alphanumeric(*close) || *close == '_') ++close;
    if (*close != ')') return result;
    result.length = static_cast<std::size_t>(close + 1 - p);
    const UnsignedPrefix payload = read_unsigned(sequence);
    result.out_of_range = payload.overflow;
    if (payload.end == close) {
        const std::uint64_t quiet_nan = 0x7ff8000000000000;
        const std::uint64_t bits = quiet_nan | (payload.value & 0x0007ffffffffffff);
        std::memcpy(&result.value, &bits, sizeof bits);
    }
    return result;
}

}  // namespace

RealPrefix read_real_prefix(const char* text) {
    const char* p = text;
    while (is_c_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    RealPrefix number;
    if (starts_with_word(p, "inf"))
        number = infinity_at(p);
    else if (starts_with_word(p, "nan"))
        number = not_a_number_at(p);
    else if (p[0] == '0' && ascii_lower(p[1]) == 'x')
        number = hexadecimal_at(p);
    else
        number = decimal_at(p);
    if (number.length == 0) return {};  // nothing taken, not even the white space or the sign
    number.length += static_cast<std::size_t>(p - text);
    if (negative) number.value = -number.value;  // the sign bit alone, NaN included
    return number;
}

namespace {

// ---- The C library's conversions in the C locale ----

#if defined(_WIN32)
// mingw-w64 takes _strtod_l from msvcrt.dll, which reads neither "inf", "nan" nor hexadecimal
// numbers and keeps quiet about inexact subnormal results: reals are read by read_real_prefix
// there. Its _strtol_l reads base 10 as glibc's strtol_l does.
using LocaleHandle = _locale_t;
LocaleHandle make_c_locale() { return _create_locale(LC_ALL, "C"); }
RealPrefix strtod_in(const char* text, LocaleHandle) { return read_real_prefix(text); }
long strtol_in(const char* text, char** end, LocaleHandle c) { return _strtol_l(text, end, 10, c); }
#else
using LocaleHandle = locale_t;
LocaleHandle make_c_locale() { return newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)); }
RealPrefix strtod_in(const char* text, LocaleHandle c) {
    char* end = nullptr;
    const double value = strtod_l(text, &end, c);
    return {value, static_cast<std::size_t>(end - text), errno == ERANGE};
}
long strtol_in(const char* text, char** end, LocaleHandle c) { return strtol_l(text, end, 10, c); }
#endif

// Made once, on first use, and kept for the life of the process.
LocaleHandle c_locale() {
    static const LocaleHandle c = make_c_locale();
    if (!c) throw std::runtime_error("cannot create the C locale for reading numbers");
    return c;
}

// The failure of the standard conversion itself, its type and text being the standard
// library's: provoked with a text that fails the same way under every locale.
[[noreturn]] void raise_stod_failure(bool out_of_range) {
    static_cast<void>(std::stod(out_of_range ? "1e999999" : "x"));
    throw std::out_of_range("stod");  // not reached
}

[[noreturn]] void raise_stoi_failure(bool out_of_range) {
    static_cast<void>(std::stoi(out_of_range ? "99999999999999999999" : "x"));
    throw std::out_of_range("stoi");  // not reached
}

// errno as the caller had it, unless the conversion set it.
class SavedErrno {
public:
    SavedErrno() : saved_(errno) { errno = 0; }
    ~SavedErrno() {
        if (errno == 0) errno = saved_;
    }
    SavedErrno(const SavedErrno&) = delete;
    SavedErrno& operator=(const SavedErrno&) = delete;

private:
    int saved_;
};

}  // namespace

double parse_real(const std::string& text) {
    const LocaleHandle c = c_locale();
    const SavedErrno errno_guard;
    const RealPrefix number = strtod_in(text.c_str(), c);
    if (number.length == 0) raise_stod_failure(false);
    if (number.out_of_range) raise_stod_failure(true);
    return number.value;
}

int parse_integer(const std::string& text) {
    const LocaleHandle c = c_locale();
    const SavedErrno errno_guard;
    const char* begin = text.c_str();
    char* end = nullptr;
    const long value = strtol_in(begin, &end, c);
    if (end == begin) raise_stoi_failure(false);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) raise_stoi_failure(true);
    return static_cast<int>(value);
}

std::string format_default(double value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

}  // namespace varnok
