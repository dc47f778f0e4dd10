// Lifecycle, last error and options, through the C interface.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

using Handle = api_test::ContextHandle;

TEST(Handle, CreateAndDestroy) {
    VarnokContext* ctx = varnok_create();
    ASSERT_NE(ctx, nullptr);
    EXPECT_STREQ(varnok_get_last_error(ctx), "");
    varnok_destroy(ctx);
    varnok_destroy(nullptr);  // does nothing
}

TEST(Handle, ApiVersionWritesOnlyGivenPointers) {
    int major = -9, minor = -9, patch = -9;
    varnok_get_api_version(nullptr, nullptr, nullptr);
    varnok_get_api_version(nullptr, &minor, nullptr);
    EXPECT_EQ(minor, 3);
    EXPECT_EQ(major, -9);
    varnok_get_api_version(&major, &minor, &patch);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 3);
    EXPECT_EQ(patch, 0);
}

TEST(Handle, BuildInfoNamesCompilerAndSystem) {
#if defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
    EXPECT_STREQ(varnok_get_build_info(), "varnok 1.3.0 (GNU, Linux)");
#elif defined(__GNUC__) && !defined(__clang__) && defined(_WIN32)  // mingw-w64
    EXPECT_STREQ(varnok_get_build_info(), "varnok 1.3.0 (GNU, Windows)");
#else
    EXPECT_EQ(std::string(varnok_get_build_info()).rfind("varnok 1.3.0 (", 0), 0u);
#endif
    EXPECT_EQ(varnok_get_build_info(), varnok_get_build_info());  // one static text
}

TEST(LastError, NullHandleGivesEmptyStaticText) {
    const char* text = varnok_get_last_error(nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    varnok_clear_last_error(nullptr);
}

TEST(LastError, SurvivesSuccessUntilCleared) {
    Handle h;
    EXPECT_EQ(varnok_set_option(h.ctx, 9, 1.0), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_TOLAC, 0.5), VARNOK_OK);
    EXPECT_EQ(h.error(), "varnok_set_option: unknown option id: 9");
    varnok_clear_last_error(h.ctx);
    EXPECT_EQ(h.error(), "");
}

TEST(Options, FreshHandleHasDefaults) {
    Handle h;
    const double defaults[] = {100.0, 0.1, 0.1, 20.0, 10.0, 10.0, 20.0, 1.0, 0.0};
    for (int id = 0; id < 9; ++id) {
        double value = -1.0;
        ASSERT_EQ(varnok_get_option(h.ctx, id, &value), VARNOK_OK) << id;
        EXPECT_EQ(value, defaults[id]) << id;
    }
}

TEST(Options, SetThenGetEveryId) {
    Handle h;
    for (int id = 0; id < 9; ++id) {
        const double set = 1000.0 + id + ((id == 3 || id == 7) ? 0.0 : 0.25);
        ASSERT_EQ(varnok_set_option(h.ctx, id, set), VARNOK_OK);
        double got = 0.0;
        ASSERT_EQ(varnok_get_option(h.ctx, id, &got), VARNOK_OK);
        EXPECT_EQ(got, set) << id;
    }
}

struct TruncationCase {
    int id;
    double set;
    double expected;
};

TEST(Options, IntegerOptionsTruncateTowardZero) {
    const TruncationCase cases[] = {
        {VARNOK_OPT_NBITMA, 25.9, 25.0}, {VARNOK_OPT_NBITMA, -2.7, -2.0},
        {VARNOK_OPT_PLIM, 0.99, 0.0},    {VARNOK_OPT_PLIM, -2.7, -2.0},
        {VARNOK_OPT_NBITMA, 1e300, 2147483647.0},
    };
    for (const auto& c : cases) {
        Handle h;
        ASSERT_EQ(varnok_set_option(h.ctx, c.id, c.set), VARNOK_OK);
        double got = 0.0;
        varnok_get_option(h.ctx, c.id, &got);
        EXPECT_EQ(got, c.expected) << c.id << " " << c.set;
    }
}

// Tolerances and thresholds take any number: zero, negative, infinite (no limit).
TEST(Options, RealThresholdsTakeAnyNumber) {
    const double inf = std::numeric_limits<double>::infinity();
    for (int id : {VARNOK_OPT_TOLAC, VARNOK_OPT_TOLREAC, VARNOK_OPT_MISBLOC, VARNOK_OPT_MISADJ,
                   VARNOK_OPT_MISQLIM, VARNOK_OPT_DIVDET}) {
        for (double value : {0.0, -5.0, inf, -inf}) {
            Handle h;
            ASSERT_EQ(varnok_set_option(h.ctx, id, value), VARNOK_OK) << id << " " << value;
            double got = 0.0;
            varnok_get_option(h.ctx, id, &got);
            EXPECT_EQ(got, value) << id;
        }
    }
}

double option(VarnokContext* ctx, int id) {
    double value = -1.0;
    EXPECT_EQ(varnok_get_option(ctx, id, &value), VARNOK_OK);
    return value;
}

// Every tolerance of a solve is divided by the base power: only a positive finite one is taken.
TEST(Options, BasePowerMustBePositiveAndFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* shown;
    } cases[] = {{0.0, "0"},     {-0.0, "-0"},      {-5.0, "-5"},
                 {inf, "inf"},   {-inf, "-inf"},    {std::nan(""), "nan"},
                 {-2.5e-7, "-2.5e-07"}, {-123456.789, "-123457"}};
    for (const auto& c : cases) {
        Handle h;
        ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 50.0), VARNOK_OK);
        EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, c.value), VARNOK_ERR_FAILED);
        EXPECT_EQ(h.error(),
                  std::string("varnok_set_option: base power must be a positive finite number: ") +
                      c.shown);
        EXPECT_EQ(option(h.ctx, VARNOK_OPT_SBASE), 50.0);
    }
    Handle h;
    EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 1e-300), VARNOK_OK);
    EXPECT_EQ(option(h.ctx, VARNOK_OPT_SBASE), 1e-300);
}

// NaN fails every comparison and would switch its control off: the real options refuse it,
// while the integer options turn it into 0 like any value they truncate.
TEST(Options, NotANumber) {
    for (int id = 1; id < 9; ++id) {
        Handle h;
        const double before = option(h.ctx, id);
        const bool integer = id == VARNOK_OPT_NBITMA || id == VARNOK_OPT_PLIM;
        const int expected = integer ? VARNOK_OK : VARNOK_ERR_FAILED;
        EXPECT_EQ(varnok_set_option(h.ctx, id, std::nan("")), expected) << id;
        EXPECT_EQ(h.error(), integer ? "" : "varnok_set_option: value is not a number") << id;
        EXPECT_EQ(option(h.ctx, id), integer ? 0.0 : before) << id;
    }
    // the base power keeps its own text
    Handle h;
    EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, std::nan("")), VARNOK_ERR_FAILED);
    EXPECT_EQ(h.error(), "varnok_set_option: base power must be a positive finite number: nan");
    // the id is tested before the value
    EXPECT_EQ(varnok_set_option(h.ctx, 9, std::nan("")), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(), "varnok_set_option: unknown option id: 9");
}

TEST(Options, UnknownIdsChangeNothing) {
    for (int id : {9, -1, 100, -2147483647 - 1}) {
        Handle h;
        EXPECT_EQ(varnok_set_option(h.ctx, id, 3.0), VARNOK_ERR_OUT_OF_RANGE);
        EXPECT_EQ(h.error(), "varnok_set_option: unknown option id: " + std::to_string(id));
        double got = 42.0;
        EXPECT_EQ(varnok_get_option(h.ctx, id, &got), VARNOK_ERR_OUT_OF_RANGE);
        EXPECT_EQ(h.error(), "varnok_get_option: unknown option id: " + std::to_string(id));
        EXPECT_EQ(got, 42.0);
        for (int known = 0; known < 9; ++known) {
            varnok_get_option(h.ctx, known, &got);
            EXPECT_NE(got, 3.0);
        }
    }
}

TEST(Options, NullArguments) {
    EXPECT_EQ(varnok_set_option(nullptr, 0, 1.0), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_set_option(nullptr, 99, 1.0), VARNOK_ERR_NULL_ARG);
    double got;
    EXPECT_EQ(varnok_get_option(nullptr, 0, &got), VARNOK_ERR_NULL_ARG);
    Handle h;
    // the value pointer is tested before the id
    EXPECT_EQ(varnok_get_option(h.ctx, 9, nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_get_option: NULL argument");
}

}  // namespace
