// Numbers read and written as the C locale does, whatever locale the host has set.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "comma_locale.h"
#include "network/NumberText.h"

namespace varnok {
namespace {

// What a conversion gives: the value, or the exception's type and text.
struct Outcome {
    double value = 0.0;
    std::string failure;  // "<type>: <what>", empty on success
};

template <typename Convert>
Outcome outcome_of(Convert convert, const std::string& text) {
    Outcome o;
    try {
        o.value = static_cast<double>(convert(text));
    } catch (const std::exception& e) {
        o.failure = std::string(typeid(e).name()) + ": " + e.what();
    }
    return o;
}

void expect_same(const Outcome& got, const Outcome& expected, const std::string& text) {
    EXPECT_EQ(got.failure, expected.failure) << "'" << text << "'";
    // bit for bit, so that NaN, infinities and the sign of zero compare too
    EXPECT_EQ(std::memcmp(&got.value, &expected.value, sizeof(double)), 0)
        << "'" << text << "': " << got.value << " vs " << expected.value;
}

const char* const kRealTexts[] = {
    "1.5kV", "  -2.5e3x", "\t+7", ".5", "5.", "1e", "1e+", "1e-3;", "0x1p3", "0X.8", "0x",
    "inf", "-Infinity", "infinit", "nan", "-nan", "NAN(123)", "1,5", "-0", "1e308",
    "2.2250738585072014e-308", "x", "", " ", "-", ".", "e5", "+-1", "1e999", "-1e999",
    "1e-400", "4e-320"};

const char* const kIntegerTexts[] = {
    "12", " -7", "+3", "1.9", "2147483647", "-2147483648", "2147483648", "-2147483649",
    "99999999999999999999", "0x10", "x", "", "-", "  +", "007", "1e3"};

// In the C locale (the state of a program that never called setlocale) every text converts as
// the standard conversions convert it, failures included.
TEST(NumberText, ReadsAsTheStandardConversionsInTheCLocale) {
    for (const char* text : kIntegerTexts)
        expect_same(outcome_of(parse_integer, text),
                    outcome_of([](const std::string& t) { return std::stoi(t); }, text), text);
#if defined(_WIN32)
    // std::stod there is mingw-w64's own reading ("NAN(123)" has another payload), which
    // parse_real does not follow: RealPrefix.ReadsAsGlibcDoes holds these texts too.
    GTEST_SKIP() << "std::stod is not glibc's reading here, which parse_real keeps";
#endif
    for (const char* text : kRealTexts)
        expect_same(outcome_of(parse_real, text),
                    outcome_of([](const std::string& t) { return std::stod(t); }, text), text);
}

TEST(NumberText, SameUnderACommaDecimalLocale) {
    Outcome reals[std::size(kRealTexts)];
    Outcome integers[std::size(kIntegerTexts)];
    for (std::size_t i = 0; i < std::size(kRealTexts); ++i)
        reals[i] = outcome_of(parse_real, kRealTexts[i]);
    for (std::size_t i = 0; i < std::size(kIntegerTexts); ++i)
        integers[i] = outcome_of(parse_integer, kIntegerTexts[i]);
    const std::string shown = format_default(-1234.5678);

    test_support::CommaLocale host;
    if (!host.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    ASSERT_EQ(std::stod("380.5"), 380.0);  // what the host's locale does to std::stod
    for (std::size_t i = 0; i < std::size(kRealTexts); ++i)
        expect_same(outcome_of(parse_real, kRealTexts[i]), reals[i], kRealTexts[i]);
    for (std::size_t i = 0; i < std::size(kIntegerTexts); ++i)
        expect_same(outcome_of(parse_integer, kIntegerTexts[i]), integers[i], kIntegerTexts[i]);
    EXPECT_EQ(format_default(-1234.5678), shown);
    EXPECT_EQ(shown, "-1234.57");
}

// The comma-locale tests run wherever the C runtime has such a locale, whether or not the C++
// library knows it by name, and leave the C locale as they found it.
TEST(NumberText, CommaLocaleTestsRunWhereTheSystemHasOne) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    bool system_has_one = false;
    for (const char* name : {"de_DE.UTF-8", "German_Germany.1252"})
        if (std::setlocale(LC_ALL, name) != nullptr)
            system_has_one = system_has_one || std::localeconv()->decimal_point[0] == ',';
    std::setlocale(LC_ALL, "C");  // a known locale for the helper to put back
    if (!system_has_one) {
        std::setlocale(LC_ALL, before.c_str());
        GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    }
    {
        test_support::CommaLocale host;
        EXPECT_TRUE(host.active());
        EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    }
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    std::setlocale(LC_ALL, before.c_str());
}

}  // namespace
}  // namespace varnok
