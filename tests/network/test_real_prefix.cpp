// strtod of glibc in the C locale as read_real_prefix works it out: the outcome of each text
// (value bit for bit, characters taken, out of range) recorded from glibc, and compared with
// glibc itself wherever it is the C library.
#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <clocale>
#include <cstdlib>
#endif

#include "comma_locale.h"
#include "network/NumberText.h"
#include "network/real_texts.h"

namespace varnok {
namespace {

using test_support::exact_decimal;
using test_support::exact_midpoint;
using test_support::exact_plus_halved_smallest;
using test_support::exact_plus_quarters;
using test_support::exact_scaled;
using test_support::scientific_text;

// glibc's own strtod_l in the C locale, where it is the C library.
#if defined(__GLIBC__)
bool glibc_strtod(const char* text, RealPrefix& result) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char* end = nullptr;
    errno = 0;
    result.value = strtod_l(text, &end, c);
    result.length = static_cast<std::size_t>(end - text);
    result.out_of_range = errno == ERANGE;
    return true;
}
#else
bool glibc_strtod(const char*, RealPrefix&) { return false; }
#endif

std::uint64_t bits_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string shown(const RealPrefix& r) {
    char text[80];
    std::snprintf(text, sizeof text, "0x%016" PRIx64 ", %zu, %s", bits_of(r.value), r.length,
                  r.out_of_range ? "out of range" : "in range");
    return text;
}

bool same(const RealPrefix& a, const RealPrefix& b) {
    return bits_of(a.value) == bits_of(b.value) && a.length == b.length &&
           a.out_of_range == b.out_of_range;
}

struct Case {
    std::string text;
    std::uint64_t bits;
    std::size_t length;
    bool out_of_range;
};

std::string exact(double value) { return scientific_text(exact_decimal(value)); }

// An exact expansion with more digits after its last: "000…1" below it.
std::string with_tail(test_support::ExactDecimal x, const std::string& tail) {
    x.digits += tail;
    x.exponent -= static_cast<int>(tail.size());
    return scientific_text(x);
}

std::vector<Case> glibc_cases() {
    const double u = std::numeric_limits<double>::denorm_min();
    return {
        // white space (the C locale's six characters only) and one sign
        {" \t\n\v\f\r-1.5", 0xbff8000000000000, 10, false},
        {"\v+2", 0x4000000000000000, 3, false},
        {"  -2.5e3x", 0xc0a3880000000000, 8, false},
        {"\t+7", 0x401c000000000000, 3, false},
        {"+-1", 0x0000000000000000, 0, false},
        {"-+1", 0x0000000000000000, 0, false},
        {"- 1", 0x0000000000000000, 0, false},
        {"", 0x0000000000000000, 0, false},
        {" ", 0x0000000000000000, 0, false},
        {"+", 0x0000000000000000, 0, false},
        {"-", 0x0000000000000000, 0, false},
        {"\xa0" "1", 0x0000000000000000, 0, false},
        {"\x85" "1", 0x0000000000000000, 0, false},

        // decimal: digits with a point; an exponent only with digits
        {"1.5kV", 0x3ff8000000000000, 3, false},
        {".5", 0x3fe0000000000000, 2, false},
        {"-.5", 0xbfe0000000000000, 3, false},
        {"5.", 0x4014000000000000, 2, false},
        {".", 0x0000000000000000, 0, false},
        {"+.e1", 0x0000000000000000, 0, false},
        {"1e", 0x3ff0000000000000, 1, false},
        {"1e+", 0x3ff0000000000000, 1, false},
        {"1e-", 0x3ff0000000000000, 1, false},
        {"1E5", 0x40f86a0000000000, 3, false},
        {"1e+5x", 0x40f86a0000000000, 4, false},
        {"1e-3;", 0x3f50624dd2f1a9fc, 4, false},
        {"1.e5", 0x40f86a0000000000, 4, false},
        {".e5", 0x0000000000000000, 0, false},
        {"e5", 0x0000000000000000, 0, false},
        {"x", 0x0000000000000000, 0, false},
        {"1e 5", 0x3ff0000000000000, 1, false},
        {"00x1", 0x0000000000000000, 2, false},
        {"1,5", 0x3ff0000000000000, 1, false},
        {"-0", 0x8000000000000000, 2, false},
        {"0e-999", 0x0000000000000000, 6, false},
        {"0.000e99999999999999999999", 0x0000000000000000, 26, false},

        // hexadecimal: "0x" without a digit is the "0" alone
        {"0x1p3", 0x4020000000000000, 5, false},
        {"0X.8", 0x3fe0000000000000, 4, false},
        {"0x.8p1", 0x3ff0000000000000, 6, false},
        {"0x", 0x0000000000000000, 1, false},
        {"0x.", 0x0000000000000000, 1, false},
        {"0x.p1", 0x0000000000000000, 1, false},
        {"0xp1", 0x0000000000000000, 1, false},
        {"-0x", 0x8000000000000000, 2, false},
        {" 0xg", 0x0000000000000000, 2, false},
        {"0x1p", 0x3ff0000000000000, 3, false},
        {"0x1p+", 0x3ff0000000000000, 3, false},
        {"0X1P-3", 0x3fc0000000000000, 6, false},
        {"0x1e+5", 0x403e000000000000, 4, false},
        {"0x1.p3", 0x4020000000000000, 6, false},
        {"0xABCdef", 0x416579bde0000000, 8, false},
        {"0x0p99999999999", 0x0000000000000000, 15, false},

        // infinity and not-a-number; a payload only from a sequence that reads in full as
        // strtoull reads it in base 0, its overflow out of range
        {"inf", 0x7ff0000000000000, 3, false},
        {"-Infinity", 0xfff0000000000000, 9, false},
        {"INFINITYx", 0x7ff0000000000000, 8, false},
        {"infinit", 0x7ff0000000000000, 3, false},
        {"in", 0x0000000000000000, 0, false},
        {"nan", 0x7ff8000000000000, 3, false},
        {"-nan", 0xfff8000000000000, 4, false},
        {"+NaN", 0x7ff8000000000000, 4, false},
        {"nan()", 0x7ff8000000000000, 5, false},
        {"nan(123)", 0x7ff800000000007b, 8, false},
        {"NAN(123)", 0x7ff800000000007b, 8, false},
        {"-nan(1)", 0xfff8000000000001, 7, false},
        {"nan(0x7)", 0x7ff8000000000007, 8, false},
        {"nan(0X1F)", 0x7ff800000000001f, 9, false},
        {"nan(0777)", 0x7ff80000000001ff, 9, false},
        {"nan(08)", 0x7ff8000000000000, 7, false},
        {"nan(0x)", 0x7ff8000000000000, 7, false},
        {"nan(0b1)", 0x7ff8000000000000, 8, false},
        {"nan(abc)", 0x7ff8000000000000, 8, false},
        {"nan(_)", 0x7ff8000000000000, 6, false},
        {"nan(1_)", 0x7ff8000000000000, 7, false},
        {"nan(", 0x7ff8000000000000, 3, false},
        {"nan(12", 0x7ff8000000000000, 3, false},
        {"nan(1 2)", 0x7ff8000000000000, 3, false},
        {"nan(-1)", 0x7ff8000000000000, 3, false},
        {"nan(0x7ffffffffffff)", 0x7fffffffffffffff, 20, false},
        {"nan(0x8000000000000)", 0x7ff8000000000000, 20, false},
        {"nan(18446744073709551615)", 0x7fffffffffffffff, 25, false},
        {"nan(18446744073709551616)", 0x7fffffffffffffff, 25, true},
        {"nan(99999999999999999999x)", 0x7ff8000000000000, 26, true},

        // the largest numbers and beyond
        {"1e308", 0x7fe1ccf385ebc8a0, 5, false},
        {"1.7976931348623157e308", 0x7fefffffffffffff, 22, false},
        {"1.7976931348623158e308", 0x7fefffffffffffff, 22, false},
        {"1.7976931348623159e308", 0x7ff0000000000000, 22, true},
        {"1e999", 0x7ff0000000000000, 5, true},
        {"-1e999", 0xfff0000000000000, 6, true},
        {"1e99999999999999999999", 0x7ff0000000000000, 22, true},
        {"0x1.fffffffffffff7ffp1023", 0x7fefffffffffffff, 25, false},
        {"0x1.fffffffffffff8p1023", 0x7ff0000000000000, 23, true},
        {"0x1p99999999999999999999", 0x7ff0000000000000, 24, true},

        // around the smallest normal number: tiny after rounding to 53 bits
        {"2.2250738585072014e-308", 0x0010000000000000, 23, false},
        {"2.2250738585072013e-308", 0x0010000000000000, 23, false},
        {"2.2250738585072012e-308", 0x0010000000000000, 23, true},
        {"2.2250738585072011e-308", 0x000fffffffffffff, 23, true},
        {"0x1p-1022", 0x0010000000000000, 9, false},
        {"0x0.fffffffffffffp-1022", 0x000fffffffffffff, 23, false},
        {"0x0.fffffffffffff8p-1022", 0x0010000000000000, 24, true},
        {"0x0.fffffffffffffbp-1022", 0x0010000000000000, 24, true},
        {"0x0.fffffffffffffcp-1022", 0x0010000000000000, 24, false},

        // subnormal: out of range when inexact
        {"4.9406564584124654e-324", 0x0000000000000001, 23, true},
        {"2.4703282292062328e-324", 0x0000000000000001, 23, true},
        {"2.4703282292062327e-324", 0x0000000000000000, 23, true},
        {"0x1p-1074", 0x0000000000000001, 9, false},
        {"0x1p-1075", 0x0000000000000000, 9, true},
        {"0x1.0000001p-1075", 0x0000000000000001, 17, true},
        {"0x3p-1075", 0x0000000000000002, 9, true},
        {"1e-400", 0x0000000000000000, 6, true},
        {"-1e-400", 0x8000000000000000, 7, true},
        {"4e-320", 0x0000000000001fa0, 6, true},
        {"-0x1p-1080", 0x8000000000000000, 10, true},
        {"0x1p-99999999999999999999", 0x0000000000000000, 25, true},
        {"1e-99999999999999999999", 0x0000000000000000, 23, true},

        // subnormal whose bits end at the 54th, which glibc loses
        {"0x1.00000000000008p-1035", 0x0000008000000000, 24, false},
        {"0x1.00000000000008p-1075", 0x0000000000000000, 24, true},
        {"0x1.00000000000018p-1023", 0x0008000000000000, 24, true},
        {"0x1.00000000000008p-1022", 0x0010000000000000, 24, false},

        // exact decimal expansions of some 800 digits, with and without a tail
        {exact(u), 0x0000000000000001, 807, false},
        {with_tail(exact_decimal(u), "1"), 0x0000000000000001, 808, true},
        {exact(std::nextafter(DBL_MIN, 0.0)), 0x000fffffffffffff, 807, false},
        {exact(DBL_MIN), 0x0010000000000000, 807, false},
        {scientific_text(exact_midpoint(0x1p-1074, 0x1p-1073)), 0x0000000000000002, 808, true},
        {scientific_text(exact_scaled(exact_decimal(u), 5, 1)), 0x0000000000000000, 808, true},
        {with_tail(exact_scaled(exact_decimal(u), 5, 1), "0001"), 0x0000000000000001, 812, true},
        {scientific_text(exact_plus_quarters(0x1p-1023, 1)), 0x0008000000000000, 825, false},
        {scientific_text(exact_plus_quarters(0x1p-1023, 3)), 0x0008000000000000, 825, true},
        {scientific_text(exact_plus_quarters(0x1p-1024, 1)), 0x0004000000000000, 824, true},
        // 0x1.00000000000008p-1035 and 0x1p-1074 + 2^-1127 in decimal: their 54th bit lies
        // beyond the digits glibc reads exactly, which then only tell that more were left
        {scientific_text(exact_plus_halved_smallest(0x1p-1035, 14)), 0x0000008000000000, 833, true},
        {scientific_text(exact_plus_halved_smallest(0x1p-1074, 53)), 0x0000000000000001, 860, true},

        // halfway cases and long mantissas
        {"9007199254740993", 0x4340000000000000, 16, false},
        {"9007199254740993." + std::string(800, '0') + "1", 0x4340000000000001, 818, false},
        {"9007199254740995", 0x4340000000000002, 16, false},
        {"1." + std::string(800, '0') + "1", 0x3ff0000000000000, 803, false},
        {"0." + std::string(400, '0') + "1e400", 0x3fb999999999999a, 407, false},
        {"1" + std::string(1000, '0') + "e-1000", 0x3ff0000000000000, 1007, false},
    };
}

// What parse_real makes of a text whose reading is `r`: the value, or the exception's type.
std::string parse_outcome(const RealPrefix& r) {
    if (r.length == 0) return "invalid_argument";
    if (r.out_of_range) return "out_of_range";
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, bits_of(r.value));
    return text;
}

std::string parse_outcome_of(const std::string& text) {
    try {
        return parse_outcome({parse_real(text), 1, false});
    } catch (const std::invalid_argument&) {
        return "invalid_argument";
    } catch (const std::out_of_range&) {
        return "out_of_range";
    }
}

TEST(RealPrefix, ReadsAsGlibcDoes) {
    for (const Case& c : glibc_cases()) {
        SCOPED_TRACE("'" + c.text.substr(0, 60) + "'");
        RealPrefix recorded{0.0, c.length, c.out_of_range};
        std::memcpy(&recorded.value, &c.bits, sizeof c.bits);
        EXPECT_EQ(shown(read_real_prefix(c.text.c_str())), shown(recorded));
        EXPECT_EQ(parse_outcome_of(c.text), parse_outcome(recorded));
        RealPrefix glibc;
        if (glibc_strtod(c.text.c_str(), glibc)) {
            EXPECT_EQ(shown(glibc), shown(recorded));
        }
    }
}

// FNV-1a, over the outcomes of many texts.
std::uint64_t digest(std::uint64_t hash, std::uint64_t value) {
    for (int byte = 0; byte < 8; ++byte, value >>= 8) {
        hash ^= value & 0xff;
        hash *= 0x100000001b3;
    }
    return hash;
}

TEST(RealPrefix, GeneratedTextsReadAsGlibcDoes) {
    std::vector<std::string> texts = test_support::short_real_texts();
    const std::vector<std::string> random = test_support::random_real_texts(20240611, 30000);
    texts.insert(texts.end(), random.begin(), random.end());
    std::uint64_t outcomes = 0xcbf29ce484222325;
    int differences = 0;
    for (const std::string& text : texts) {
        const RealPrefix own = read_real_prefix(text.c_str());
        outcomes = digest(digest(outcomes, bits_of(own.value)), own.length);
        outcomes = digest(outcomes, own.out_of_range);
        RealPrefix glibc;
        if (glibc_strtod(text.c_str(), glibc) && !same(own, glibc) && ++differences <= 20)
            ADD_FAILURE() << "'" << text << "': " << shown(own) << " where glibc gives "
                          << shown(glibc);
    }
    EXPECT_EQ(differences, 0);
    // glibc's outcomes for these texts, recorded for where it is not at hand
    EXPECT_EQ(outcomes, 0xe65b72d9295c8a27u)
        << "where glibc agrees text by text, the texts themselves changed";
}

std::string integer_outcome_of(const std::string& text) {
    try {
        return std::to_string(parse_integer(text));
    } catch (const std::invalid_argument&) {
        return "invalid_argument";
    } catch (const std::out_of_range&) {
        return "out_of_range";
    }
}

// Every byte before a digit: only the C locale's six white-space characters are skipped.
void expect_only_c_white_space_skipped() {
    for (int byte = 1; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const std::string text = std::string(1, c) + "5";
        std::string real = "invalid_argument";
        std::string integer = "invalid_argument";
        if (std::strchr(" \t\n\v\f\r+-0123456789", c) != nullptr) {
            const int value = c == '-' ? -5 : c >= '0' && c <= '9' ? 10 * (c - '0') + 5 : 5;
            real = parse_outcome({static_cast<double>(value), 2, false});
            integer = std::to_string(value);
        } else if (c == '.') {
            real = parse_outcome({0.5, 2, false});
        }
        EXPECT_EQ(parse_outcome_of(text), real) << "byte " << byte;
        EXPECT_EQ(integer_outcome_of(text), integer) << "byte " << byte;
    }
}

TEST(NumberText, OnlyTheCLocalesWhiteSpaceComesBeforeANumber) {
    expect_only_c_white_space_skipped();
    test_support::CommaLocale host;
    if (!host.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    expect_only_c_white_space_skipped();
}

}  // namespace
}  // namespace varnok
