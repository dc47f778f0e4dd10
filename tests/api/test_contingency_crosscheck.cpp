// Every branch outage of case30 and case118 studied by a contingency run agrees with the same
// outage made by a second handle through the modification exports (trip, apply) and read back
// through the queries: convergence, the extremes and their names, and the violation texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

using Handle = api_test::ContextHandle;

// Thresholds that every case violates somewhere.
constexpr double kVmin = 0.97, kVmax = 1.05, kMaxLoadingPct = 60.0, kMaxDrop = 0.01;
constexpr double kTolerance = 1e-7;  // voltages pu, loadings percent

std::string printed(const char* format, const char* name, double a, double b) {
    char text[256];
    std::snprintf(text, sizeof text, format, name, a, b);
    return text;
}

// What a contingency result holds, from the queries of a solved handle.
struct Expected {
    bool converged = false;
    double min_voltage = 999.0, max_voltage = 0.0, max_loading = 0.0;
    std::string min_voltage_bus, max_voltage_bus, max_loading_branch;
    std::vector<std::string> violations;
};

std::string bus_name(VarnokContext* ctx, int i) {
    char name[64];
    EXPECT_EQ(varnok_get_bus_name(ctx, i, name, 64), VARNOK_OK);
    return name;
}

std::string branch_name(VarnokContext* ctx, int k) {
    char name[64];
    EXPECT_EQ(varnok_get_branch_name(ctx, k, name, 64), VARNOK_OK);
    return name;
}

// The screens of the contingency study, written again from the exported queries: bus
// voltages (pu), branch flows and ratings (MW, Mvar and MVA on option 0, which is the network's
// base here) and the base-case voltages.
Expected screen_through_queries(VarnokContext* ctx, const std::vector<double>& base_v) {
    Expected e;
    double sbase = 0.0;
    varnok_get_option(ctx, VARNOK_OPT_SBASE, &sbase);
    const int buses = varnok_get_bus_count(ctx);
    std::vector<double> v(buses);
    std::vector<int> type(buses);
    for (int i = 0; i < buses; ++i)
        varnok_get_bus_info(ctx, i, &v[i], nullptr, &type[i], nullptr);
    for (int i = 0; i < buses; ++i) {
        if (type[i] == 3) continue;  // ISOLATED
        const std::string name = bus_name(ctx, i);
        if (v[i] < e.min_voltage) e.min_voltage = v[i], e.min_voltage_bus = name;
        if (v[i] > e.max_voltage) e.max_voltage = v[i], e.max_voltage_bus = name;
        if (v[i] < kVmin)
            e.violations.push_back(
                printed("voltage at bus %-8s = %.5f < %.5f pu", name.c_str(), v[i], kVmin));
        if (v[i] > kVmax)
            e.violations.push_back(
                printed("voltage at bus %-8s = %.5f > %.5f pu", name.c_str(), v[i], kVmax));
    }
    for (int i = 0; i < buses; ++i) {
        if (type[i] == 3) continue;
        const double drop = base_v[i] - v[i];
        if (drop > kMaxDrop)
            e.violations.push_back(printed("voltage at bus %-8s dropped by %.5f > %.5f pu",
                                           bus_name(ctx, i).c_str(), drop, kMaxDrop));
    }
    for (int k = 0; k < varnok_get_branch_count(ctx); ++k) {
        int status = 0;
        double rating = 0.0, pf = 0, qf = 0, pt = 0, qt = 0;
        varnok_get_branch_info(ctx, k, nullptr, nullptr, &status, nullptr, &rating);
        if (status != 1 || !(rating > 0.0)) continue;
        EXPECT_EQ(varnok_get_branch_flow_by_index(ctx, k, &pf, &qf, &pt, &qt), VARNOK_OK);
        const double s = std::max(std::hypot(pf, qf), std::hypot(pt, qt)) / sbase;
        const double loading = s / (rating / sbase) * 100.0;
        const std::string name = branch_name(ctx, k);
        if (loading > e.max_loading) e.max_loading = loading, e.max_loading_branch = name;
        if (loading > kMaxLoadingPct)
            e.violations.push_back(printed("loading of branch %-20s = %.2f > %.2f pu",
                                           name.c_str(), s,
                                           rating / sbase * kMaxLoadingPct / 100.0));
    }
    return e;
}

std::vector<double> voltages(VarnokContext* ctx) {
    std::vector<double> v(varnok_get_bus_count(ctx));
    std::vector<double> angle(v.size());
    varnok_copy_bus_voltages(ctx, v.data(), angle.data(), static_cast<int>(v.size()));
    return v;
}

void cross_check(const char* case_name) {
    const std::string path = std::string(VARNOK_CASES_DIR) + "/" + case_name + ".txt";
    Handle study;
    ASSERT_EQ(varnok_load_file(study.ctx, path.c_str()), VARNOK_OK) << study.error();
    ASSERT_EQ(varnok_solve(study.ctx), VARNOK_OK);
    const int n = varnok_run_contingencies_n1(study.ctx, 1, 0, 0, kVmin, kVmax, kMaxLoadingPct,
                                              kMaxDrop);
    ASSERT_EQ(n, varnok_get_branch_count(study.ctx));

    Handle by_hand;
    int violations_seen = 0, unconverged = 0, islands = 0;
    for (int k = 0; k < n; ++k) {
        const std::string branch = branch_name(study.ctx, k);
        SCOPED_TRACE(branch);
        ASSERT_EQ(varnok_load_file(by_hand.ctx, path.c_str()), VARNOK_OK);
        ASSERT_EQ(varnok_solve(by_hand.ctx), VARNOK_OK);
        const std::vector<double> base_v = voltages(by_hand.ctx);
        ASSERT_EQ(varnok_trip_branch(by_hand.ctx, branch.c_str()), VARNOK_OK);
        const int applied = varnok_apply_changes(by_hand.ctx);
        ASSERT_GE(applied, 0) << by_hand.error();
        for (int i = 0; i < varnok_get_bus_count(by_hand.ctx); ++i) {
            int type = 0;
            varnok_get_bus_info(by_hand.ctx, i, nullptr, nullptr, &type, nullptr);
            if (type == 3) {
                ++islands;
                break;
            }
        }
        Expected want;
        if (applied == VARNOK_OK)
            want = screen_through_queries(by_hand.ctx, base_v);
        else
            want.violations = {"divergence !"};

        char name[64];
        ASSERT_EQ(varnok_get_contingency_name(study.ctx, k, name, 64), VARNOK_OK);
        EXPECT_EQ(name, "BR: " + branch);
        int converged = -1, accepted = -1;
        double vmin = 0, vmax = 0, loading = 0;
        ASSERT_EQ(varnok_get_contingency_result(study.ctx, k, &converged, &accepted, &vmin, &vmax,
                                                &loading),
                  VARNOK_OK);
        EXPECT_EQ(converged, applied == VARNOK_OK ? 1 : 0);
        EXPECT_NEAR(vmin, want.min_voltage, kTolerance);
        EXPECT_NEAR(vmax, want.max_voltage, kTolerance);
        EXPECT_NEAR(loading, want.max_loading, kTolerance);
        char low[64], high[64], loaded[64];
        ASSERT_EQ(varnok_get_contingency_extremes(study.ctx, k, low, high, loaded, 64),
                  VARNOK_OK);
        EXPECT_EQ(low, want.min_voltage_bus);
        EXPECT_EQ(high, want.max_voltage_bus);
        EXPECT_EQ(loaded, want.max_loading_branch);
        std::vector<std::string> got;
        for (int j = 0; j < varnok_get_contingency_violation_count(study.ctx, k); ++j) {
            char text[256];
            ASSERT_EQ(varnok_get_contingency_violation(study.ctx, k, j, text, 256), VARNOK_OK);
            got.push_back(text);
        }
        EXPECT_EQ(got, want.violations);
        EXPECT_EQ(accepted, want.violations.empty() ? 1 : 0);
        violations_seen += static_cast<int>(got.size());
        unconverged += converged == 0;
    }
    // The check is not empty: the thresholds are violated in many outages.
    EXPECT_GT(violations_seen, n);
    std::printf("%s: %d branch outages (%d cut buses off), %d not converged, %d violations\n",
                case_name, n, islands, unconverged, violations_seen);
}

TEST(ContingencyCrossCheck, Case30BranchOutagesAgreeWithTripAndApply) { cross_check("case30"); }

TEST(ContingencyCrossCheck, Case118BranchOutagesAgreeWithTripAndApply) { cross_check("case118"); }

}  // namespace
