// Work repeated on one handle, on handles in turn and on handles of eight threads at once gives
// the same results to the last bit: whatever memory a solve or a contingency run takes over
// from the one before, on its thread, nothing of it reaches a result.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

using Handle = api_test::ContextHandle;

// Thresholds that the case violates here and there, so that the texts are compared too.
constexpr double kVmin = 0.97, kVmax = 1.05, kMaxLoadingPct = 60.0, kMaxDrop = 0.01;

std::string case_path(const char* name) {
    return std::string(VARNOK_CASES_DIR) + "/" + name + ".txt";
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Everything the result getters give for one contingency.
struct Outcome {
    std::string name;
    int converged = -1, accepted = -1;
    double min_voltage = 0, max_voltage = 0, max_loading = 0;
    std::string min_bus, max_bus, max_branch;
    std::vector<std::string> violations;

    bool operator==(const Outcome& o) const {
        return name == o.name && converged == o.converged && accepted == o.accepted &&
               same_bits(min_voltage, o.min_voltage) && same_bits(max_voltage, o.max_voltage) &&
               same_bits(max_loading, o.max_loading) && min_bus == o.min_bus &&
               max_bus == o.max_bus && max_branch == o.max_branch && violations == o.violations;
    }
};

std::vector<Outcome> outcomes(VarnokContext* ctx) {
    std::vector<Outcome> out;
    const int count = varnok_get_contingency_count(ctx);
    for (int i = 0; i < count; ++i) {
        Outcome o;
        char name[128] = "", a[64] = "", b[64] = "", c[64] = "";
        EXPECT_EQ(varnok_get_contingency_name(ctx, i, name, sizeof name), VARNOK_OK);
        EXPECT_EQ(varnok_get_contingency_result(ctx, i, &o.converged, &o.accepted,
                                                &o.min_voltage, &o.max_voltage, &o.max_loading),
                  VARNOK_OK);
        EXPECT_EQ(varnok_get_contingency_extremes(ctx, i, a, b, c, 64), VARNOK_OK);
        o.name = name;
        o.min_bus = a;
        o.max_bus = b;
        o.max_branch = c;
        const int n = varnok_get_contingency_violation_count(ctx, i);
        for (int k = 0; k < n; ++k) {
            char text[256] = "";
            EXPECT_EQ(varnok_get_contingency_violation(ctx, i, k, text, sizeof text), VARNOK_OK);
            o.violations.push_back(text);
        }
        out.push_back(o);
    }
    return out;
}

// A handle with the case loaded and solved, the base of its contingency runs.
struct SolvedHandle : Handle {
    explicit SolvedHandle(const char* name) {
        EXPECT_EQ(varnok_load_file(ctx, case_path(name).c_str()), VARNOK_OK) << error();
        EXPECT_EQ(varnok_solve(ctx), VARNOK_OK);
    }
    std::vector<Outcome> run_n1() {
        const int n = varnok_run_contingencies_n1(ctx, 1, 1, 1, kVmin, kVmax, kMaxLoadingPct,
                                                  kMaxDrop);
        EXPECT_GT(n, 0) << error();
        return outcomes(ctx);
    }
};

// Compares with the first differing contingency named, not thousands of lines.
void expect_same(const std::vector<Outcome>& expected, const std::vector<Outcome>& actual,
                 const char* what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_TRUE(actual[i] == expected[i]) << "contingency " << i << " " << expected[i].name;
}

TEST(RepeatedRuns, SameNMinusOneTwiceOnOneHandleAndOnTwoHandlesInTurn) {
    for (const char* name : {"case118", "case300"}) {
        SCOPED_TRACE(name);
        SolvedHandle first(name);
        const std::vector<Outcome> reference = first.run_n1();
        std::size_t refused = 0;
        for (const Outcome& o : reference) refused += o.accepted == 0;
        EXPECT_GT(refused, 0u);  // the texts of violations are part of what is compared

        expect_same(reference, first.run_n1(), "again on the same handle");
        SolvedHandle second(name);
        expect_same(reference, second.run_n1(), "on a second handle");
        expect_same(reference, first.run_n1(), "on the first handle after the second");
        expect_same(reference, second.run_n1(), "on the second handle after the first");
    }
}

// The voltages of a solved handle.
struct Voltages {
    std::vector<double> v, angle;
    bool operator==(const Voltages& o) const {
        if (v.size() != o.v.size() || angle.size() != o.angle.size()) return false;
        for (std::size_t i = 0; i < v.size(); ++i)
            if (!same_bits(v[i], o.v[i]) || !same_bits(angle[i], o.angle[i])) return false;
        return true;
    }
};

Voltages voltages(VarnokContext* ctx) {
    const int n = varnok_get_bus_count(ctx);
    Voltages out{std::vector<double>(n), std::vector<double>(n)};
    if (varnok_copy_bus_voltages(ctx, out.v.data(), out.angle.data(), n) != VARNOK_OK)
        out.v.clear();
    return out;
}

// What one thread does with its own handle: a solve, the same from the loaded state twice
// more, and a run of the contingencies of `list`. The thread records; the test asserts.
struct ThreadWork {
    int failures = 0;
    Voltages first, again;
    std::vector<Outcome> contingencies;
};

void work_on_own_handle(const char* name, const std::string& list, ThreadWork& work) {
    Handle h;
    if (varnok_load_file(h.ctx, case_path(name).c_str()) != VARNOK_OK) {
        ++work.failures;
        return;
    }
    work.failures += varnok_solve(h.ctx) != VARNOK_OK;
    work.first = voltages(h.ctx);
    for (int k = 0; k < 2; ++k) {
        work.failures += varnok_reset(h.ctx) != VARNOK_OK;
        work.failures += varnok_solve(h.ctx) != VARNOK_OK;
    }
    work.again = voltages(h.ctx);
    work.failures += varnok_run_contingencies_file(h.ctx, list.c_str(), kVmin, kVmax,
                                                   kMaxLoadingPct, kMaxDrop) <= 0;
    work.contingencies = outcomes(h.ctx);
}

// Outages of every 300th branch, one contingency each.
std::string write_branch_outages(const char* name) {
    Handle h;
    EXPECT_EQ(varnok_load_file(h.ctx, case_path(name).c_str()), VARNOK_OK);
    const std::string path = ::testing::TempDir() + "varnok_thread_outages.ctg";
    std::FILE* out = std::fopen(path.c_str(), "w");
    EXPECT_NE(out, nullptr);
    if (!out) return path;
    for (int k = 0; k < varnok_get_branch_count(h.ctx); k += 300) {
        char branch[64] = "";
        varnok_get_branch_name(h.ctx, k, branch, 64);
        std::fprintf(out, "OUT %d\nBT\n%s\nend_contingency\n", k, branch);
    }
    std::fclose(out);
    return path;
}

TEST(RepeatedRuns, EightThreadsWithAHandleEachSolveAsOneThreadDoes) {
    const char* name = "case2383wp";
    const std::string list = write_branch_outages(name);
    ThreadWork alone;
    work_on_own_handle(name, list, alone);
    ASSERT_EQ(alone.failures, 0);
    ASSERT_FALSE(alone.first.v.empty());
    EXPECT_TRUE(alone.again == alone.first);
    ASSERT_EQ(alone.contingencies.size(), 10u);

    std::vector<ThreadWork> work(8);
    std::vector<std::thread> threads;
    for (ThreadWork& w : work)
        threads.emplace_back(work_on_own_handle, name, std::cref(list), std::ref(w));
    for (std::thread& t : threads) t.join();
    for (std::size_t i = 0; i < work.size(); ++i) {
        SCOPED_TRACE("thread " + std::to_string(i));
        EXPECT_EQ(work[i].failures, 0);
        EXPECT_TRUE(work[i].first == alone.first);
        EXPECT_TRUE(work[i].again == alone.first);
        expect_same(alone.contingencies, work[i].contingencies, "branch outages");
    }
    std::remove(list.c_str());
}

}  // namespace
