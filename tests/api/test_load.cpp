// Loading a network file and resetting, through the C interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

const std::string kData = std::string(VARNOK_TEST_DATA_DIR) + "/state/";

struct Handle : api_test::ContextHandle {
    int load(const std::string& file) { return varnok_load_file(ctx, (kData + file).c_str()); }
};

TEST(LoadFile, NullArguments) {
    EXPECT_EQ(varnok_load_file(nullptr, (kData + "two_bus.txt").c_str()), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_load_file(nullptr, nullptr), VARNOK_ERR_NULL_ARG);
    Handle h;
    EXPECT_EQ(varnok_load_file(h.ctx, nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(h.error(), "varnok_load_file: NULL handle or filepath");
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_ERR_NOT_LOADED);
}

struct UnopenableCase {
    const char* what;
    std::string path;
};

TEST(LoadFile, PathThatCannotBeOpened) {
    const UnopenableCase cases[] = {
        {"missing file", kData + "no_such_file.txt"},
        {"directory", kData},
        {"directory without slash", kData.substr(0, kData.size() - 1)},
        {"empty path", ""},
    };
    for (const UnopenableCase& c : cases) {
        Handle h;
        EXPECT_EQ(varnok_load_file(h.ctx, c.path.c_str()), VARNOK_ERR_IO) << c.what;
        EXPECT_EQ(h.error(), "varnok_load_file: cannot open file: " + c.path) << c.what;
        EXPECT_EQ(varnok_get_bus_count(h.ctx), 0) << c.what;
        EXPECT_EQ(varnok_reset(h.ctx), VARNOK_ERR_NOT_LOADED) << c.what;
    }
}

TEST(LoadFile, UnreadableFile) {
    const std::string path = ::testing::TempDir() + "varnok_state_unreadable.txt";
    {
        std::ofstream out(path);
        out << "BUS A 400 0 0 0;\n";
    }
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (std::ifstream(path).is_open()) {
        std::remove(path.c_str());
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    Handle h;
    EXPECT_EQ(varnok_load_file(h.ctx, path.c_str()), VARNOK_ERR_IO);
    EXPECT_EQ(h.error(), "varnok_load_file: cannot open file: " + path);
    std::remove(path.c_str());
}

TEST(LoadFile, RefusedFileLeavesHandleNotLoaded) {
    Handle h;
    EXPECT_EQ(h.load("refused.txt"), VARNOK_ERR_PARSE);
    EXPECT_EQ(h.error(), "InputParser: SLACK references unknown bus: NOWHERE");
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_reset: no network loaded");
    // what the reader built before it stopped stays visible to the queries
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 1);
}

TEST(LoadFile, FieldThatIsNotANumberIsRefused) {
    Handle h;
    EXPECT_EQ(h.load("not_a_number.txt"), VARNOK_ERR_PARSE);
    EXPECT_NE(h.error(), "");  // the standard conversion's own text
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_ERR_NOT_LOADED);
}

TEST(LoadFile, SuccessStoresNoText) {
    Handle h;
    ASSERT_EQ(h.load("no_such_file.txt"), VARNOK_ERR_IO);
    const std::string earlier = h.error();
    EXPECT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    EXPECT_EQ(h.error(), earlier);
    varnok_clear_last_error(h.ctx);
    EXPECT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    EXPECT_EQ(h.error(), "");
}

TEST(LoadFile, ReadsTheNetworkWithTheFileBase) {
    Handle h;
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 2);
    EXPECT_EQ(varnok_get_branch_count(h.ctx), 1);
    EXPECT_EQ(varnok_get_generator_count(h.ctx), 1);
    double sbase = 0.0;
    ASSERT_EQ(varnok_get_option(h.ctx, VARNOK_OPT_SBASE, &sbase), VARNOK_OK);
    EXPECT_EQ(sbase, 50.0);
    double p = 0.0, q = 0.0;
    ASSERT_EQ(varnok_get_bus_load(h.ctx, varnok_find_bus(h.ctx, "B"), &p, &q), VARNOK_OK);
    EXPECT_DOUBLE_EQ(p, 50.0);
    EXPECT_DOUBLE_EQ(q, 10.0);
}

TEST(LoadFile, OptionsSurviveUnlessTheFileSetsThem) {
    Handle h;
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_TOLAC, 0.5), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 200.0), VARNOK_OK);
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    double value = 0.0;
    varnok_get_option(h.ctx, VARNOK_OPT_TOLAC, &value);
    EXPECT_EQ(value, 0.5);
    varnok_get_option(h.ctx, VARNOK_OPT_SBASE, &value);
    EXPECT_EQ(value, 50.0);
    // a second load keeps the options: three_bus.txt has no "$SBASE"
    ASSERT_EQ(h.load("three_bus.txt"), VARNOK_OK);
    varnok_get_option(h.ctx, VARNOK_OPT_SBASE, &value);
    EXPECT_EQ(value, 50.0);
    ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    varnok_get_option(h.ctx, VARNOK_OPT_TOLAC, &value);
    EXPECT_EQ(value, 0.5);
}

TEST(LoadFile, SecondLoadReplacesTheFirstNetwork) {
    Handle h;
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    ASSERT_EQ(h.load("three_bus.txt"), VARNOK_OK);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 3);
    EXPECT_EQ(varnok_get_branch_count(h.ctx), 2);
    EXPECT_EQ(varnok_get_generator_count(h.ctx), 1);
    EXPECT_EQ(varnok_find_bus(h.ctx, "A"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(varnok_find_bus(h.ctx, "X"), 0);
    EXPECT_EQ(varnok_find_generator(h.ctx, "G"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(varnok_find_generator(h.ctx, "GX"), 0);
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    double v = 0.0, angle = 1.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "X", &v, &angle), VARNOK_OK);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(angle, 0.0);
}

TEST(LoadFile, RetryAfterFailedLoadStartsEmpty) {
    Handle h;
    ASSERT_EQ(h.load("refused.txt"), VARNOK_ERR_PARSE);
    ASSERT_EQ(h.load("three_bus.txt"), VARNOK_OK);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 3);
    EXPECT_EQ(varnok_find_bus(h.ctx, "A"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
}

// A handle once loaded stays loaded; a failed later load has already dropped the earlier
// network and leaves what the reader built.
TEST(LoadFile, FailedLoadAfterSuccessKeepsHandleLoaded) {
    Handle h;
    ASSERT_EQ(h.load("three_bus.txt"), VARNOK_OK);
    EXPECT_EQ(h.load("refused.txt"), VARNOK_ERR_PARSE);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 1);
    EXPECT_EQ(varnok_find_bus(h.ctx, "X"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    // a probe failure touches nothing
    EXPECT_EQ(h.load("no_such_file.txt"), VARNOK_ERR_IO);
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 1);
}

TEST(Reset, NullHandleAndNotLoaded) {
    EXPECT_EQ(varnok_reset(nullptr), VARNOK_ERR_NULL_ARG);
    Handle h;
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_reset: no network loaded");
}

TEST(Reset, RepeatsAndLeavesLastErrorAlone) {
    Handle h;
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, 42, 0.0), VARNOK_ERR_OUT_OF_RANGE);
    const std::string earlier = h.error();
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    EXPECT_EQ(h.error(), earlier);
    double v = 0.0, angle = 1.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "A", &v, &angle), VARNOK_OK);
    EXPECT_EQ(v, 1.02);  // the generator's setpoint, as loaded
    EXPECT_EQ(angle, 0.0);
}

TEST(LoadFile, FailedFirstLoadLeavesSolveNotLoaded) {
    for (const char* file : {"no_such_file.txt", "refused.txt", "not_a_number.txt"}) {
        Handle h;
        EXPECT_LT(h.load(file), 0) << file;
        EXPECT_EQ(varnok_solve(h.ctx), VARNOK_ERR_NOT_LOADED) << file;
        EXPECT_EQ(h.error(), "varnok_solve: no network loaded") << file;
    }
}

// A reset clears the last solve result and puts back the voltages saved by the load.
TEST(Reset, ClearsLastResultAndRestoresVoltages) {
    Handle h;
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_OK);
    EXPECT_GT(varnok_get_iteration_count(h.ctx), 0);
    double v = 0.0, angle = 0.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "B", &v, &angle), VARNOK_OK);
    ASSERT_NE(angle, 0.0);  // the load at B draws the angle away from the slack's

    ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_NOT_CONVERGED);
    EXPECT_EQ(varnok_get_iteration_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_solver_status(h.ctx), 0);
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "B", &v, &angle), VARNOK_OK);
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(angle, 0.0);
}

struct BusState {
    double p_mw, q_mvar, b_mvar, q_shunt_mvar;
    int type;
};

BusState bus_state(VarnokContext* ctx, int bus) {
    BusState s{};
    EXPECT_EQ(varnok_get_bus_load(ctx, bus, &s.p_mw, &s.q_mvar), VARNOK_OK);
    EXPECT_EQ(varnok_get_bus_shunt(ctx, bus, &s.b_mvar, &s.q_shunt_mvar), VARNOK_OK);
    EXPECT_EQ(varnok_get_bus_info(ctx, bus, nullptr, nullptr, &s.type, nullptr), VARNOK_OK);
    return s;
}

// Pruning is undone only by a reset: the state that the load saved brings back the loads, the
// shunts and the types of the pruned buses, and their units and branches in service.
TEST(Reset, BringsBackWhatPruningTookAway) {
    Handle h;
    ASSERT_EQ(h.load("island.txt"), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    const BusState pruned = bus_state(h.ctx, 2);
    ASSERT_EQ(pruned.type, 3);
    ASSERT_EQ(pruned.p_mw, 0.0);

    ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    const BusState c = bus_state(h.ctx, 2);
    EXPECT_DOUBLE_EQ(c.p_mw, 20.0);
    EXPECT_DOUBLE_EQ(c.q_mvar, 8.0);
    EXPECT_DOUBLE_EQ(c.b_mvar, 15.0);
    EXPECT_DOUBLE_EQ(c.q_shunt_mvar, 4.0);
    EXPECT_EQ(c.type, 1);  // PV under its generator
    const BusState d = bus_state(h.ctx, 3);
    EXPECT_DOUBLE_EQ(d.p_mw, 5.0);
    EXPECT_DOUBLE_EQ(d.q_mvar, 2.0);
    EXPECT_EQ(d.type, 0);
    int status = -1;
    ASSERT_EQ(varnok_get_generator_info(h.ctx, 1, nullptr, &status, nullptr, nullptr, nullptr),
              VARNOK_OK);
    EXPECT_EQ(status, 1);
    ASSERT_EQ(varnok_get_branch_info(h.ctx, 1, nullptr, nullptr, &status, nullptr, nullptr),
              VARNOK_OK);
    EXPECT_EQ(status, 1);
}

// The result of a solve describes the network it solved: a later load clears it, and the new
// network solves with a fresh solver.
TEST(LoadFile, SecondLoadClearsLastResultAndSolvesAfresh) {
    Handle h;
    ASSERT_EQ(h.load("two_bus.txt"), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    ASSERT_EQ(h.load("three_bus.txt"), VARNOK_OK);
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_NOT_CONVERGED);
    EXPECT_EQ(varnok_get_iteration_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_solver_status(h.ctx), 0);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    double v = 0.0, angle = 0.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "Z", &v, &angle), VARNOK_OK);
    EXPECT_LT(v, 1.0);
    EXPECT_LT(angle, 0.0);
}

}  // namespace
