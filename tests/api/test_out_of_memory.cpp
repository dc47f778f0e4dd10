// Memory that runs out at any one allocation, wherever it is made (the library, KLU, the C++
// and C libraries): a solve and a contingency run either fail with -1 and "std::bad_alloc" or
// give the results of a run that had all its memory; never a singular Jacobian or a
// "divergence !" that was only a want of memory, never the end of the host's process; and the
// handle works again afterwards.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "context_handle.h"
#include "failing_allocation.h"
#include "varnok_api.h"

namespace {

using Handle = api_test::ContextHandle;

constexpr const char* kSkipped =
    "allocations cannot be made to fail here (needs glibc, no AddressSanitizer)";

std::string data_path(const std::string& name) {
    return std::string(VARNOK_TEST_DATA_DIR) + "/" + name;
}

std::vector<double> voltages(const Handle& h) {
    const int n = varnok_get_bus_count(h.ctx);
    std::vector<double> v(2 * static_cast<std::size_t>(n));
    varnok_copy_bus_voltages(h.ctx, v.data(), v.data() + n, n);
    return v;
}

// The first solve of a handle on a thread that has never solved: the thread's own memory for
// the factorisation is set up inside it.
int solve_on_a_new_thread(const Handle& h, long failing, bool& failed) {
    int status = 0;
    std::thread([&] {
        varnok_test_fail_allocation(failing);
        status = varnok_solve(h.ctx);
        failed = varnok_test_allocation_failed() != 0;
    }).join();
    return status;
}

TEST(OutOfMemory, EveryAllocationOfAFirstSolveOnANewThread) {
    if (!varnok_test_can_fail_allocations()) GTEST_SKIP() << kSkipped;
    const std::string network = data_path("cases/case14.txt");
    std::vector<double> expected;
    {
        Handle h;
        ASSERT_EQ(varnok_load_file(h.ctx, network.c_str()), VARNOK_OK);
        bool failed = false;
        ASSERT_EQ(solve_on_a_new_thread(h, 0, failed), VARNOK_OK);
        expected = voltages(h);
    }

    long failing = 1;
    for (;; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
        Handle h;
        ASSERT_EQ(varnok_load_file(h.ctx, network.c_str()), VARNOK_OK);
        bool failed = false;
        const int status = solve_on_a_new_thread(h, failing, failed);
        if (!failed) {  // the solve made fewer allocations: all of them have failed in turn
            EXPECT_EQ(status, VARNOK_OK);
            EXPECT_EQ(voltages(h), expected);
            break;
        }
        if (status == VARNOK_ERR_FAILED) {
            EXPECT_EQ(h.error(), "std::bad_alloc");
            // nothing lost: the loaded state solves as before
            ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
            ASSERT_EQ(solve_on_a_new_thread(h, 0, failed), VARNOK_OK);
        } else {
            ASSERT_EQ(status, VARNOK_OK) << "solver status " << varnok_get_solver_status(h.ctx);
        }
        EXPECT_EQ(voltages(h), expected);
    }
    EXPECT_GT(failing, 50);  // the sweep went through the solve, KLU's allocations among them
}

// Everything a contingency run leaves for its getters.
struct Verdict {
    int converged = -1, accepted = -1;
    double min_voltage = 0, max_voltage = 0, max_loading = 0;
    std::vector<std::string> violations;
    bool operator==(const Verdict& o) const {
        return converged == o.converged && accepted == o.accepted &&
               min_voltage == o.min_voltage && max_voltage == o.max_voltage &&
               max_loading == o.max_loading && violations == o.violations;
    }
    friend void PrintTo(const Verdict& v, std::ostream* out) {
        *out << "converged " << v.converged << " accepted " << v.accepted << " voltages "
             << v.min_voltage << ".." << v.max_voltage << " loading " << v.max_loading;
        for (const std::string& text : v.violations) *out << " | " << text;
    }
};

std::vector<Verdict> verdicts(const Handle& h) {
    std::vector<Verdict> all;
    for (int i = 0; i < varnok_get_contingency_count(h.ctx); ++i) {
        Verdict v;
        varnok_get_contingency_result(h.ctx, i, &v.converged, &v.accepted, &v.min_voltage,
                                      &v.max_voltage, &v.max_loading);
        for (int k = 0; k < varnok_get_contingency_violation_count(h.ctx, i); ++k) {
            char text[256];
            varnok_get_contingency_violation(h.ctx, i, k, text, sizeof text);
            v.violations.emplace_back(text);
        }
        all.push_back(v);
    }
    return all;
}

int run_n1(const Handle& h) {
    return varnok_run_contingencies_n1(h.ctx, 1, 1, 1, 0.95, 1.05, 80.0, 0.05);
}

TEST(OutOfMemory, EveryAllocationOfAContingencyRun) {
    if (!varnok_test_can_fail_allocations()) GTEST_SKIP() << kSkipped;
    const std::string network = data_path("contingency/network.txt");
    Handle reference;
    ASSERT_EQ(varnok_load_file(reference.ctx, network.c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_solve(reference.ctx), VARNOK_OK);
    const int count = run_n1(reference);
    ASSERT_GT(count, 3);
    const std::vector<Verdict> expected = verdicts(reference);

    long failing = 1;
    for (;; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
        Handle h;
        ASSERT_EQ(varnok_load_file(h.ctx, network.c_str()), VARNOK_OK);
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
        const std::vector<double> base = voltages(h);
        varnok_test_fail_allocation(failing);
        const int status = run_n1(h);
        if (!varnok_test_allocation_failed()) {
            EXPECT_EQ(status, count);
            EXPECT_EQ(verdicts(h), expected);
            break;
        }
        if (status == VARNOK_ERR_FAILED) {
            EXPECT_EQ(h.error(), "std::bad_alloc");
            EXPECT_EQ(voltages(h), base);  // the solved state put back
            ASSERT_EQ(run_n1(h), count);
        } else {
            ASSERT_EQ(status, count);
        }
        EXPECT_EQ(verdicts(h), expected);
    }
    EXPECT_GT(failing, 100);
}

}  // namespace
