// A host that has set a comma-decimal locale (setlocale(LC_ALL, "") under such a locale, or the
// C++ global locale) loads the same network, with the same warnings and the same bus table, as
// in the C locale.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comma_locale.h"
#include "context_handle.h"
#include "varnok_api.h"

namespace {

const std::string kFile = std::string(VARNOK_TEST_DATA_DIR) + "/reader/decimals.txt";

// Everything a host can read back after a load.
struct Observed {
    std::string warnings;
    std::string bus_table;
    std::vector<double> values;
    std::vector<int> ints;

    bool operator==(const Observed& o) const {
        return warnings == o.warnings && bus_table == o.bus_table && values == o.values &&
               ints == o.ints;
    }
};

Observed load_and_read() {
    api_test::ContextHandle h;
    Observed o;
    ::testing::internal::CaptureStderr();
    const int status = varnok_load_file(h.ctx, kFile.c_str());
    o.warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, VARNOK_OK) << h.error();
    o.bus_table = varnok_get_output_text(h.ctx);

    auto add = [&](std::initializer_list<double> vs) { o.values.insert(o.values.end(), vs); };
    for (int id = 0; id < 9; ++id) {
        double value = 0.0;
        varnok_get_option(h.ctx, id, &value);
        add({value});
    }
    for (int i = 0; i < varnok_get_bus_count(h.ctx); ++i) {
        double v, angle, vnom, p, q, b, qs;
        int type;
        varnok_get_bus_info(h.ctx, i, &v, &angle, &type, &vnom);
        varnok_get_bus_load(h.ctx, i, &p, &q);
        varnok_get_bus_shunt(h.ctx, i, &b, &qs);
        add({v, angle, vnom, p, q, b, qs});
        o.ints.insert(o.ints.end(), {type, varnok_get_bus_zone(h.ctx, i)});
    }
    for (int i = 0; i < varnok_get_branch_count(h.ctx); ++i) {
        int from, to, status_, transformer;
        double rating, pf, qf, pt, qt;
        varnok_get_branch_info(h.ctx, i, &from, &to, &status_, &transformer, &rating);
        varnok_get_branch_flow_by_index(h.ctx, i, &pf, &qf, &pt, &qt);
        add({rating, pf, qf, pt, qt});
        o.ints.insert(o.ints.end(), {from, to, status_, transformer});
    }
    for (int i = 0; i < varnok_get_generator_count(h.ctx); ++i) {
        double p, q, v_set, p_min, p_max, q_min, q_max;
        int bus, status_, limits;
        varnok_get_generator_info(h.ctx, i, &bus, &status_, &p, &q, &v_set);
        varnok_get_generator_limits(h.ctx, i, &p_min, &p_max, &q_min, &q_max, &limits);
        add({p, q, v_set, p_min, p_max, q_min, q_max});
        o.ints.insert(o.ints.end(), {bus, status_, limits});
    }
    for (int i = 0; i < varnok_get_svc_count(h.ctx); ++i) {
        double q, v_set;
        int bus, status_, mode;
        varnok_get_svc_info(h.ctx, i, &bus, &status_, &q, &v_set, &mode);
        add({q, v_set});
        o.ints.insert(o.ints.end(), {bus, status_, mode});
    }
    for (int i = 0; i < varnok_get_cut_count(h.ctx); ++i) {
        double p, q;
        varnok_get_cut_flow(h.ctx, i, &p, &q);
        add({p, q});
    }
    return o;
}

TEST(HostLocale, CommaDecimalLocaleLoadsTheSameNetwork) {
    const Observed c_locale = load_and_read();
    // the fractions were read: 380.5 kV, 12.75 MW, $TOLAC 0.25, both floor warnings
    EXPECT_EQ(c_locale.values[1], 0.25);
    EXPECT_EQ(c_locale.values[9 + 2], 380.5);
    EXPECT_DOUBLE_EQ(c_locale.values[9 + 3], 12.75);
    EXPECT_EQ(c_locale.warnings,
              "varnok: LINE 'AA2': reactance changed to 0.014406 ohms\n"
              "varnok: TRANSFO 'TCD': reactance changed to 0.00099005 %\n"
              "varnok: PSHIFT-P 'AB' involves an unknown branch. Ignored.\n");
    EXPECT_NE(c_locale.bus_table.find(" vnom_kv=380.5\n"), std::string::npos);

    test_support::CommaLocale host;
    if (!host.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    const Observed comma = load_and_read();
    EXPECT_EQ(comma.warnings, c_locale.warnings);
    EXPECT_EQ(comma.bus_table, c_locale.bus_table);
    EXPECT_EQ(comma.values, c_locale.values);
    EXPECT_EQ(comma.ints, c_locale.ints);
}

TEST(HostLocale, OptionTextsUseTheDecimalPoint) {
    test_support::CommaLocale host;
    if (!host.active()) GTEST_SKIP() << test_support::CommaLocale::skip_reason();
    api_test::ContextHandle h;
    EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, -2.5), VARNOK_ERR_FAILED);
    EXPECT_EQ(h.error(), "varnok_set_option: base power must be a positive finite number: -2.5");
}

}  // namespace
