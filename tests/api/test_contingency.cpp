// Contingency runs and their results through the C interface: statuses and texts, the NaN and
// unreadable-file refusals, the getters' index and buffer rules, and that a run leaves the
// handle's network and last solve result alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

const std::string kDir = std::string(VARNOK_TEST_DATA_DIR) + "/contingency/";
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

// A handle loaded with network.txt and solved:
//   buses S A B C; branches LSA LSB LAB LBC; generators GS (slack) GA GC; compensator SV1.
struct Handle : api_test::ContextHandle {
    explicit Handle(bool load = true) {
        if (!load) return;
        EXPECT_EQ(varnok_load_file(ctx, (kDir + "network.txt").c_str()), VARNOK_OK)
            << error();
        EXPECT_EQ(varnok_solve(ctx), VARNOK_OK);
    }
    int run_file(const std::string& file, double vmin = 0.9, double vmax = 1.1,
                 double loading = 100.0, double drop = 0.1) {
        return varnok_run_contingencies_file(ctx, (kDir + file).c_str(), vmin, vmax, loading,
                                             drop);
    }
    int run_n1(int branches, int generators, int svcs) {
        return varnok_run_contingencies_n1(ctx, branches, generators, svcs, 0.9, 1.1, 100.0, 0.1);
    }
    std::string name(int index) {
        char buffer[64] = "";
        EXPECT_EQ(varnok_get_contingency_name(ctx, index, buffer, 64), VARNOK_OK);
        return buffer;
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (int i = 0; i < varnok_get_contingency_count(ctx); ++i) out.push_back(name(i));
        return out;
    }
    std::vector<std::string> violations(int index) {
        std::vector<std::string> out;
        const int n = varnok_get_contingency_violation_count(ctx, index);
        for (int k = 0; k < n; ++k) {
            char buffer[128] = "";
            EXPECT_EQ(varnok_get_contingency_violation(ctx, index, k, buffer, 128), VARNOK_OK);
            out.push_back(buffer);
        }
        return out;
    }
};

TEST(ContingencyExports, NullHandleGivesMinusTwo) {
    char buffer[8];
    int i = 0;
    double d = 0.0;
    const std::vector<std::function<int()>> calls = {
        [] { return varnok_run_contingencies_file(nullptr, "x", 0, 2, 100, 1); },
        [] { return varnok_run_contingencies_n1(nullptr, 1, 1, 1, 0, 2, 100, 1); },
        [] { return varnok_get_contingency_count(nullptr); },
        [&] { return varnok_get_contingency_name(nullptr, 0, buffer, 8); },
        [&] { return varnok_get_contingency_result(nullptr, 0, &i, &i, &d, &d, &d); },
        [&] { return varnok_get_contingency_extremes(nullptr, 0, buffer, buffer, buffer, 8); },
        [] { return varnok_get_contingency_violation_count(nullptr, 0); },
        [&] { return varnok_get_contingency_violation(nullptr, 0, 0, buffer, 8); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), VARNOK_ERR_NULL_ARG);
}

TEST(ContingencyExports, BeforeALoad) {
    Handle h(false);
    const std::string list = kDir + "list.ctg";
    EXPECT_EQ(varnok_run_contingencies_file(h.ctx, nullptr, 0, 2, 100, 1), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_run_contingencies_file: NULL argument");
    // -7 comes before the NaN test.
    EXPECT_EQ(varnok_run_contingencies_file(h.ctx, list.c_str(), kNaN, 2, 100, 1),
              VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_run_contingencies_file: no network loaded");
    EXPECT_EQ(varnok_run_contingencies_n1(h.ctx, 1, 1, 1, kNaN, 2, 100, 1),
              VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_run_contingencies_n1: no network loaded");
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_contingency_violation_count(h.ctx, 0), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(), "varnok_get_contingency_violation_count: index out of range: 0");
}

TEST(ContingencyExports, FileRunStoresTheReportsOfTheReaderThenOfTheRun) {
    Handle h;
    EXPECT_EQ(h.run_file("list.ctg"), 4);
    EXPECT_EQ(h.names(),
              (std::vector<std::string>{"trip LSA", "unknown names", "odd action", "slack"}));
    EXPECT_EQ(h.error(),
              " unknown contingency action: FLY\n"
              " unknown branch in contingency description : NOWHERE\n"
              " unknown generator in contingency description : GHOST\n"
              " Slack generator must not be tripped !\n");
    int converged = -1, accepted = -1;
    double vmin = 0, vmax = 0, loading = 0;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(varnok_get_contingency_result(h.ctx, i, &converged, &accepted, &vmin, &vmax,
                                                &loading),
                  VARNOK_OK);
        EXPECT_EQ(converged, 1);
        EXPECT_GT(vmin, 0.9);
        EXPECT_LT(vmax, 1.1);
        EXPECT_GT(loading, 10.0);  // percent
        EXPECT_LT(loading, 200.0);
        EXPECT_EQ(accepted, h.violations(i).empty() ? 1 : 0);
    }
    // Without LSA, A is fed through LAB, the most loaded branch in every case here; "unknown
    // names" and "slack" study the base case; 25 Mvar at B raise the lowest voltage.
    char low[16], high[16], branch[16];
    EXPECT_EQ(varnok_get_contingency_extremes(h.ctx, 0, low, high, branch, 16), VARNOK_OK);
    EXPECT_STREQ(low, "C");
    EXPECT_STREQ(high, "S");
    EXPECT_STREQ(branch, "LAB");
    double base[3], slack[3], compensated[3];
    for (auto [i, values] : {std::pair{1, base}, {3, slack}, {2, compensated}})
        varnok_get_contingency_result(h.ctx, i, nullptr, nullptr, &values[0], &values[1],
                                      &values[2]);
    EXPECT_EQ(slack[0], base[0]);
    EXPECT_EQ(slack[2], base[2]);
    EXPECT_GT(compensated[0], base[0]);
    // Results are read back unconverted, whatever base power option 0 holds.
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 1000.0), VARNOK_OK);
    double again[3];
    varnok_get_contingency_result(h.ctx, 1, nullptr, nullptr, &again[0], &again[1], &again[2]);
    EXPECT_EQ(again[0], base[0]);
    EXPECT_EQ(again[1], base[1]);
    EXPECT_EQ(again[2], base[2]);

    // A second run replaces every result; one without reports keeps the last error.
    varnok_clear_last_error(h.ctx);
    EXPECT_EQ(h.run_file("island.ctg"), 1);
    EXPECT_EQ(h.names(), std::vector<std::string>{"! a name line may hold anything"});
    EXPECT_EQ(h.error(), "");
}

TEST(ContingencyExports, FilesThatCannotBeReadAreRefusedWithMinusFive) {
    Handle h;
    ASSERT_EQ(h.run_n1(1, 0, 0), 4);
    varnok_clear_last_error(h.ctx);
    for (const std::string& path : {kDir, kDir + "missing.ctg", std::string("")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(varnok_run_contingencies_file(h.ctx, path.c_str(), 0.9, 1.1, 100, 0.1),
                  VARNOK_ERR_IO);
        EXPECT_EQ(h.error(), "varnok_run_contingencies_file: cannot open file: " + path);
        EXPECT_EQ(varnok_get_contingency_count(h.ctx), 4);
    }
}

// /proc/self/mem is a regular file that opens, but reading it from offset 0 fails (no page of
// the process is mapped there).
bool opens_but_cannot_be_read(const char* path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path);
    std::string line;
    return in.is_open() && !std::getline(in, line) && in.bad();
}

TEST(ContingencyExports, FileWhoseReadFailsIsRefusedAndTheResultsStay) {
    const char* path = "/proc/self/mem";
    if (!opens_but_cannot_be_read(path))
        GTEST_SKIP() << path << " is not a regular file that opens and fails to read here";
    Handle h;
    ASSERT_EQ(h.run_n1(1, 0, 0), 4);
    EXPECT_EQ(varnok_run_contingencies_file(h.ctx, path, 0.9, 1.1, 100, 0.1), VARNOK_ERR_IO);
    EXPECT_EQ(h.error(), std::string("varnok_run_contingencies_file: cannot read file: ") + path);
    EXPECT_EQ(h.names(), (std::vector<std::string>{"BR: LSA", "BR: LSB", "BR: LAB", "BR: LBC"}));
}

TEST(ContingencyExports, NaNThresholdsAreRefusedBeforeTheFileIsOpened) {
    Handle h;
    ASSERT_EQ(h.run_n1(1, 0, 0), 4);
    const struct {
        double vmin, vmax, loading, drop;
        const char* name;
    } cases[] = {
        {kNaN, 1.1, 100, 0.1, "vmin"},
        {0.9, kNaN, 100, 0.1, "vmax"},
        {0.9, 1.1, kNaN, 0.1, "max_loading_pct"},
        {0.9, 1.1, 100, kNaN, "max_drop"},
        {0.9, kNaN, kNaN, kNaN, "vmax"},
        {kNaN, 1.1, 100, -kNaN, "vmin"},
    };
    const std::string missing = kDir + "missing.ctg";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(varnok_run_contingencies_file(h.ctx, missing.c_str(), c.vmin, c.vmax, c.loading,
                                                c.drop),
                  VARNOK_ERR_FAILED);
        EXPECT_EQ(h.error(),
                  std::string("varnok_run_contingencies_file: threshold is not a number: ") +
                      c.name);
        EXPECT_EQ(varnok_run_contingencies_n1(h.ctx, 0, 1, 0, c.vmin, c.vmax, c.loading, c.drop),
                  VARNOK_ERR_FAILED);
        EXPECT_EQ(h.error(),
                  std::string("varnok_run_contingencies_n1: threshold is not a number: ") + c.name);
        EXPECT_EQ(h.names(), (std::vector<std::string>{"BR: LSA", "BR: LSB", "BR: LAB",
                                                        "BR: LBC"}));
    }
    // Infinite thresholds are no limits: nothing is screened out.
    EXPECT_EQ(varnok_run_contingencies_n1(h.ctx, 1, 0, 0, -kInf, kInf, kInf, kInf), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(h.violations(i), std::vector<std::string>{});
}

TEST(ContingencyExports, EmptyListsEmptyTheResultsAndStoreNothing) {
    Handle h;
    ASSERT_EQ(h.run_n1(1, 1, 1), 7);
    EXPECT_EQ(h.names(), (std::vector<std::string>{"BR: LSA", "BR: LSB", "BR: LAB", "BR: LBC",
                                                    "GN: GA", "GN: GC", "SV: SV1"}));
    EXPECT_EQ(varnok_set_option(h.ctx, 99, 0), VARNOK_ERR_OUT_OF_RANGE);  // leaves a text
    EXPECT_EQ(h.run_n1(0, 0, 0), 0);
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 0);
    ASSERT_EQ(h.run_n1(1, 0, 0), 4);
    EXPECT_EQ(h.run_file("blank.ctg"), 0);
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 0);
    EXPECT_EQ(h.error(), "varnok_set_option: unknown option id: 99");
}

TEST(ContingencyExports, NonConvergedResultsReadBackTheirStartValues) {
    Handle h;
    varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 0);
    ASSERT_EQ(h.run_n1(0, 1, 0), 2);
    int converged = -1, accepted = -1;
    double vmin = 0, vmax = 1, loading = 1;
    ASSERT_EQ(varnok_get_contingency_result(h.ctx, 1, &converged, &accepted, &vmin, &vmax,
                                            &loading),
              VARNOK_OK);
    EXPECT_EQ(converged, 0);
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(vmin, 999.0);
    EXPECT_EQ(vmax, 0.0);
    EXPECT_EQ(loading, 0.0);
    char low[4] = "x", high[4] = "x", branch[4] = "x";
    EXPECT_EQ(varnok_get_contingency_extremes(h.ctx, 1, low, high, branch, 4), VARNOK_OK);
    EXPECT_STREQ(low, "");
    EXPECT_STREQ(high, "");
    EXPECT_STREQ(branch, "");
    EXPECT_EQ(h.violations(1), std::vector<std::string>{"divergence !"});
}

TEST(ContingencyExports, GettersTestIndexesThenBuffers) {
    Handle h;
    ASSERT_EQ(h.run_file("list.ctg", 1.0, 1.0, 1.0, -1.0), 4);  // every screen violated
    char buffer[8] = "keep";
    const struct {
        const char* export_name;
        std::function<int(int)> call;
    } by_index[] = {
        {"varnok_get_contingency_name",
         [&](int i) { return varnok_get_contingency_name(h.ctx, i, buffer, 8); }},
        {"varnok_get_contingency_result",
         [&](int i) { return varnok_get_contingency_result(h.ctx, i, 0, 0, 0, 0, 0); }},
        {"varnok_get_contingency_extremes",
         [&](int i) { return varnok_get_contingency_extremes(h.ctx, i, buffer, 0, 0, 8); }},
        {"varnok_get_contingency_violation_count",
         [&](int i) { return varnok_get_contingency_violation_count(h.ctx, i); }},
        {"varnok_get_contingency_violation",
         [&](int i) { return varnok_get_contingency_violation(h.ctx, i, -1, buffer, 8); }},
    };
    for (const auto& g : by_index) {
        for (int bad : {-1, 4}) {
            EXPECT_EQ(g.call(bad), VARNOK_ERR_OUT_OF_RANGE);
            EXPECT_EQ(h.error(), std::string(g.export_name) + ": index out of range: " +
                                     std::to_string(bad));
        }
    }
    EXPECT_STREQ(buffer, "keep");

    // The violation index is tested after the index, then the buffer.
    const int n = varnok_get_contingency_violation_count(h.ctx, 0);
    ASSERT_GT(n, 3);
    EXPECT_EQ(varnok_get_contingency_violation(h.ctx, 0, n, buffer, 8), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(),
              "varnok_get_contingency_violation: index out of range: " + std::to_string(n));
    EXPECT_EQ(varnok_get_contingency_violation(h.ctx, 0, -1, nullptr, 0), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(varnok_get_contingency_violation(h.ctx, 0, 0, nullptr, 8), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "NULL or empty name buffer");
    const std::string first = h.violations(0)[0];
    EXPECT_EQ(varnok_get_contingency_violation(h.ctx, 0, 0, buffer, 8),
              VARNOK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(h.error(), "name buffer too small for: " + first);
    EXPECT_STREQ(buffer, "keep");

    // Names: the capacity must exceed the length ("trip LSA" has 8 characters).
    EXPECT_EQ(varnok_get_contingency_name(h.ctx, 0, buffer, 8), VARNOK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(h.error(), "name buffer too small for: trip LSA");
    EXPECT_EQ(varnok_get_contingency_name(h.ctx, 0, buffer, 0), VARNOK_ERR_NULL_ARG);
    char nine[9];
    EXPECT_EQ(varnok_get_contingency_name(h.ctx, 0, nine, 9), VARNOK_OK);
    EXPECT_STREQ(nine, "trip LSA");

    // Results through the pointers that are given only.
    double vmax = -1.0;
    int accepted = -1;
    EXPECT_EQ(varnok_get_contingency_result(h.ctx, 0, nullptr, &accepted, nullptr, &vmax,
                                            nullptr),
              VARNOK_OK);
    EXPECT_EQ(accepted, 0);
    EXPECT_GT(vmax, 1.0);
    EXPECT_EQ(varnok_get_contingency_result(h.ctx, 0, 0, 0, 0, 0, 0), VARNOK_OK);

    // Extremes: the first copy that fails returns at once. Contingency 0's are C, S and LAB.
    char low[2] = "-", high[2] = "-", branch[2] = "-";
    EXPECT_EQ(varnok_get_contingency_extremes(h.ctx, 0, low, high, branch, 2),
              VARNOK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(h.error(), "name buffer too small for: LAB");
    EXPECT_STREQ(low, "C");
    EXPECT_STREQ(high, "S");
    EXPECT_STREQ(branch, "-");
    EXPECT_EQ(varnok_get_contingency_extremes(h.ctx, 0, low, nullptr, nullptr, 0),
              VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_get_contingency_extremes(h.ctx, 0, nullptr, nullptr, nullptr, 0), VARNOK_OK);
}

TEST(ContingencyExports, RunLeavesTheNetworkAndTheLastSolveAloneAndLoadEmptiesTheResults) {
    Handle h;
    const int iterations = varnok_get_iteration_count(h.ctx);
    double v[4], angle[4], v_after[4], angle_after[4];
    ASSERT_EQ(varnok_copy_bus_voltages(h.ctx, v, angle, 4), VARNOK_OK);
    int status[4], status_after[4];
    ASSERT_EQ(varnok_copy_branch_status(h.ctx, status, 4), VARNOK_OK);

    ASSERT_EQ(h.run_n1(1, 1, 1), 7);
    EXPECT_EQ(h.run_file("island.ctg"), 1);
    EXPECT_EQ(varnok_get_iteration_count(h.ctx), iterations);
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_OK);
    ASSERT_EQ(varnok_copy_bus_voltages(h.ctx, v_after, angle_after, 4), VARNOK_OK);
    ASSERT_EQ(varnok_copy_branch_status(h.ctx, status_after, 4), VARNOK_OK);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v_after[i], v[i]);
        EXPECT_EQ(angle_after[i], angle[i]);
        EXPECT_EQ(status_after[i], status[i]);
    }
    // In the one contingency C was cut off: skipped by the screens.
    char low[8], high[8], branch[8];
    ASSERT_EQ(varnok_get_contingency_extremes(h.ctx, 0, low, high, branch, 8), VARNOK_OK);
    EXPECT_STRNE(low, "C");
    EXPECT_STRNE(branch, "LBC");

    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 1);
    EXPECT_EQ(varnok_load_file(h.ctx, (kDir + "missing.txt").c_str()), VARNOK_ERR_IO);
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 1);
    EXPECT_EQ(varnok_load_file(h.ctx, (kDir + "network.txt").c_str()), VARNOK_OK);
    EXPECT_EQ(varnok_get_contingency_count(h.ctx), 0);
}

// ---- Steps that could not be applied --------------------------------------------------------

// A contingency file written for one test and removed after it, named after the running test
// so that tests run in parallel never share one.
class ContingencyFile {
public:
    ContingencyFile(const std::string& text, std::size_t tag) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = (std::filesystem::temp_directory_path() /
                 ("varnok_unapplied_" + std::string(info->name()) + "_" + std::to_string(tag) +
                  ".ctg"))
                    .string();
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~ContingencyFile() { std::remove(path_.c_str()); }
    ContingencyFile(const ContingencyFile&) = delete;
    ContingencyFile& operator=(const ContingencyFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

struct Verdict {
    int converged;
    int accepted;
    std::vector<std::string> violations;
};

// The result at `index` of the handle's last contingency run is `expected`.
void expect_verdict(Handle& h, int index, const Verdict& expected) {
    int converged = -1, accepted = -1;
    ASSERT_EQ(varnok_get_contingency_result(h.ctx, index, &converged, &accepted, nullptr, nullptr,
                                            nullptr),
              VARNOK_OK);
    EXPECT_EQ(converged, expected.converged) << index;
    EXPECT_EQ(accepted, expected.accepted) << index;
    EXPECT_EQ(h.violations(index), expected.violations) << index;
}

// Each step that names an element the network lacks, or trips the slack bus's generator, leads
// its contingency's violations in step order and refuses it, alone or among steps that apply.
// No threshold limits anything here, so the steps' texts are the only violations.
TEST(ContingencyExports, StepsThatCouldNotBeAppliedRefuseTheirContingency) {
    const std::string kBranch = "unknown branch in contingency description : ";
    const std::string kGenerator = "unknown generator in contingency description : ";
    const std::string kSvc = "unknown SVC in contingency description : ";
    const std::string kBus = "unknown bus in contingency description : ";
    const std::string kSlack = "Slack generator must not be tripped !";
    const struct {
        const char* what;
        std::string file;
        std::vector<Verdict> results;
    } cases[] = {
        {"unknown branch", "c\nBT\nX1\n", {{1, 0, {kBranch + "X1"}}}},
        {"unknown branch of BT1", "c\nBT1\nX2\nend_contingency\n", {{1, 0, {kBranch + "X2"}}}},
        {"unknown generator", "c\nGT\nG9\n", {{1, 0, {kGenerator + "G9"}}}},
        {"slack generator", "c\ngt\nGS\n", {{1, 0, {kSlack}}}},
        {"unknown SVC", "c\nST\nS9\n", {{1, 0, {kSvc + "S9"}}}},
        {"unknown bus", "c\nHC\nB9\n10\n", {{1, 0, {kBus + "B9"}}}},
        {"empty name", "c\nBT\n\n", {{1, 0, {kBranch}}}},
        {"names are matched exactly", "c\nST\nsv1\n", {{1, 0, {kSvc + "sv1"}}}},
        {"mixed with steps that apply, in step order",
         "c\nBT\nLSA\nGT\nGHOST\nST\nSV1\nHC\nNOBUS\n5\nHC\nB\n5\nGT\nGS\nBT\nNOWHERE\n"
         "end_contingency\n",
         {{1, 0, {kGenerator + "GHOST", kBus + "NOBUS", kSlack, kBranch + "NOWHERE"}}}},
        {"steps that apply only", "c\nBT\nLSA\nST\nSV1\nHC\nB\n5\nGT\nGA\n", {{1, 1, {}}}},
        {"each contingency its own texts",
         "a\nGT\nGS\nend_contingency\nb\nBT\nLSB\nend_contingency\nc\nST\nX\nST\nY\n",
         {{1, 0, {kSlack}}, {1, 1, {}}, {1, 0, {kSvc + "X", kSvc + "Y"}}}},
    };
    Handle h;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        ContingencyFile file(c.file, i);
        ASSERT_EQ(varnok_run_contingencies_file(h.ctx, file.path(), -kInf, kInf, kInf, kInf),
                  static_cast<int>(c.results.size()))
            << h.error();
        for (std::size_t k = 0; k < c.results.size(); ++k)
            expect_verdict(h, static_cast<int>(k), c.results[k]);
    }
}

// A contingency whose reading gave a message (an unknown action, an "HC" value that is not a
// finite number) is not accepted: each message, without its leading blank and newline, stands
// among its violations in file order with the texts of the steps that could not be applied. Its
// valid steps are still made, so its extremes are those of the file without the mistakes, and
// the last error is the run's log as it always was.
TEST(ContingencyExports, LinesTheReaderReportedRefuseTheirContingency) {
    const std::string kAction = "unknown contingency action: ";
    const std::string kHc = "invalid HC compensation value: ";
    const std::string kBranch = "unknown branch in contingency description : ";
    const std::string kSlack = "Slack generator must not be tripped !";
    const struct {
        const char* what;
        std::string file;
        std::string without_mistakes;  // the same contingencies as meant
        std::vector<Verdict> results;
        std::string log;
    } cases[] = {
        {"a typo in an action, its operand read as an action too", "c\nBX\nLSA\n", "c\n",
         {{1, 0, {kAction + "BX", kAction + "LSA"}}},
         " unknown contingency action: BX\n unknown contingency action: LSA\n"},
        {"a keyword with its operand on one line", "c\nBT LSA\n", "c\n",
         {{1, 0, {kAction + "BT LSA"}}}, " unknown contingency action: BT LSA\n"},
        {"an HC value that is not finite", "c\nHC\nB\nnan\n", "c\n", {{1, 0, {kHc + "nan"}}},
         " invalid HC compensation value: nan\n"},
        {"an HC value without a number", "c\nHC\nB\nmuch\n", "c\n", {{1, 0, {kHc + "much"}}},
         " invalid HC compensation value: much\n"},
        {"among valid steps, which are still made", "c\nBT\nLSA\nbx\nHC\nB\n5\nHC\nB\ninf\n",
         "c\nBT\nLSA\nHC\nB\n5\n", {{1, 0, {kAction + "bx", kHc + "inf"}}},
         " unknown contingency action: bx\n invalid HC compensation value: inf\n"},
        {"before a step that could not be applied", "c\nBX\nBT\nNOWHERE\n", "c\nBT\nNOWHERE\n",
         {{1, 0, {kAction + "BX", kBranch + "NOWHERE"}}},
         " unknown contingency action: BX\n unknown branch in contingency description : "
         "NOWHERE\n"},
        {"after a step that could not be applied", "c\nGT\nGS\nHC\nB\n-inf\nST\nSV1\n",
         "c\nGT\nGS\nST\nSV1\n", {{1, 0, {kSlack, kHc + "-inf"}}},
         " invalid HC compensation value: -inf\n Slack generator must not be tripped !\n"},
        {"a missing terminator merges the next contingency into the one before",
         "a\nBT\nLSA\nb\nBT\nLSB\nend_contingency\nc\nST\nSV1\n",
         "a\nBT\nLSA\nBT\nLSB\nend_contingency\nc\nST\nSV1\n",
         {{1, 0, {kAction + "b"}}, {1, 1, {}}}, " unknown contingency action: b\n"},
        {"the next contingency is clean", "a\nBX\nend_contingency\nb\nBT\nLSA\n",
         "a\nend_contingency\nb\nBT\nLSA\n", {{1, 0, {kAction + "BX"}}, {1, 1, {}}},
         " unknown contingency action: BX\n"},
        {"the upper-case terminator", "c\nBT\nLSA\nEND_CONTINGENCY\n", "c\nBT\nLSA\n",
         {{1, 0, {kAction + "END_CONTINGENCY"}}},
         " unknown contingency action: END_CONTINGENCY\n"},
    };
    Handle h;
    const auto extremes = [&h](int index) {
        std::vector<double> values(3, 0.0);
        EXPECT_EQ(varnok_get_contingency_result(h.ctx, index, nullptr, nullptr, &values[0],
                                                &values[1], &values[2]),
                  VARNOK_OK);
        return values;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        const int count = static_cast<int>(c.results.size());
        ContingencyFile meant(c.without_mistakes, 2 * i);
        ASSERT_EQ(varnok_run_contingencies_file(h.ctx, meant.path(), -kInf, kInf, kInf, kInf),
                  count);
        std::vector<std::vector<double>> meant_extremes;
        for (int k = 0; k < count; ++k) meant_extremes.push_back(extremes(k));

        ContingencyFile file(c.file, 2 * i + 1);
        varnok_clear_last_error(h.ctx);
        ASSERT_EQ(varnok_run_contingencies_file(h.ctx, file.path(), -kInf, kInf, kInf, kInf),
                  count)
            << h.error();
        EXPECT_EQ(h.error(), c.log);
        for (int k = 0; k < count; ++k) {
            expect_verdict(h, k, c.results[k]);
            EXPECT_EQ(extremes(k), meant_extremes[k]) << k;
        }
    }
}

// The screens' texts follow the texts of the steps and of the lines the reader reported; after a
// solve that does not converge, "divergence !" follows them.
TEST(ContingencyExports, StepTextsComeBeforeTheScreensAndDivergence) {
    const struct {
        std::string file;
        std::vector<std::string> steps;
    } cases[] = {
        {"c\nBT\nX1\nGT\nGS\n",
         {"unknown branch in contingency description : X1",
          "Slack generator must not be tripped !"}},
        {"c\nBT X1\nGT\nGS\nHC\nB\nnan\n",
         {"unknown contingency action: BT X1", "Slack generator must not be tripped !",
          "invalid HC compensation value: nan"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.file);
        Handle h;
        ContingencyFile file(c.file, i);
        const std::vector<std::string>& steps = c.steps;
        const std::size_t n = steps.size();
        // Every bus is above 0.5 pu.
        ASSERT_EQ(varnok_run_contingencies_file(h.ctx, file.path(), -kInf, 0.5, kInf, kInf), 1);
        const std::vector<std::string> screened = h.violations(0);
        ASSERT_EQ(screened.size(), n + 4);
        EXPECT_EQ(std::vector<std::string>(screened.begin(), screened.begin() + n), steps);
        for (std::size_t k = n; k < screened.size(); ++k)
            EXPECT_EQ(screened[k].rfind("voltage at bus ", 0), 0u) << screened[k];

        varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 0);
        ASSERT_EQ(varnok_run_contingencies_file(h.ctx, file.path(), -kInf, kInf, kInf, kInf), 1);
        int converged = -1, accepted = -1;
        varnok_get_contingency_result(h.ctx, 0, &converged, &accepted, nullptr, nullptr, nullptr);
        EXPECT_EQ(converged, 0);
        EXPECT_EQ(accepted, 0);
        std::vector<std::string> diverged = steps;
        diverged.push_back("divergence !");
        EXPECT_EQ(h.violations(0), diverged);
    }
}

}  // namespace
