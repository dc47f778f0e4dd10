// varnok_solve and the four getters of the last solve result, through the public header only.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "api/varnok_api.h"
#include "context_handle.h"

namespace {

std::string data_file(const char* name) {
    return std::string(VARNOK_TEST_DATA_DIR) + "/solver/" + name;
}

using Handle = api_test::ContextHandle;

struct Result {
    int convergence;
    int iterations;
    double p_mw;
    double q_mvar;
    int status;
};

Result result_of(VarnokContext* ctx) {
    Result r{};
    r.convergence = varnok_get_convergence_status(ctx);
    r.iterations = varnok_get_iteration_count(ctx);
    EXPECT_EQ(varnok_get_max_mismatch(ctx, &r.p_mw, &r.q_mvar), VARNOK_OK);
    r.status = varnok_get_solver_status(ctx);
    return r;
}

void expect_untouched(VarnokContext* ctx) {
    const Result r = result_of(ctx);
    EXPECT_EQ(r.convergence, VARNOK_NOT_CONVERGED);
    EXPECT_EQ(r.iterations, 0);
    EXPECT_EQ(r.p_mw, 0.0);
    EXPECT_EQ(r.q_mvar, 0.0);
    EXPECT_EQ(r.status, 0);
}

TEST(SolveExport, NullHandle) {
    double p = 7.0, q = 7.0;
    EXPECT_EQ(varnok_solve(nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_get_convergence_status(nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_get_iteration_count(nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_get_max_mismatch(nullptr, &p, &q), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_get_solver_status(nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(p, 7.0);
    EXPECT_EQ(q, 7.0);
}

TEST(SolveExport, BeforeALoad) {
    Handle h;
    expect_untouched(h.ctx);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_ERR_NOT_LOADED);
    EXPECT_STREQ(varnok_get_last_error(h.ctx), "varnok_solve: no network loaded");
    expect_untouched(h.ctx);
}

TEST(SolveExport, ConvergedSolveKeepsTheLastErrorAndSetsTheOutputs) {
    Handle h;
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_ERR_NOT_LOADED);  // leaves a text behind
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("feeder.txt").c_str()), VARNOK_OK);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_STREQ(varnok_get_last_error(h.ctx), "varnok_solve: no network loaded");

    const Result r = result_of(h.ctx);
    EXPECT_EQ(r.convergence, VARNOK_OK);  // 0 converged ...
    EXPECT_EQ(r.status, 1);               // ... while the solver status says CONVERGED
    EXPECT_GE(r.iterations, 2);
    EXPECT_LE(r.iterations, 6);
    EXPECT_LT(r.p_mw, 0.1);
    EXPECT_LT(r.q_mvar, 0.1);

    // the bus cut off from the slack was pruned: ISOLATED, written back at 0
    double v = -1.0, angle = -1.0;
    int type = -1;
    ASSERT_EQ(varnok_get_bus_info(h.ctx, 2, &v, &angle, &type, nullptr), VARNOK_OK);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(angle, 0.0);

    // the slack generator's output was recomputed from the solved voltages (MW and Mvar):
    // the line is lossless in P and takes I^2 X in Q
    double p_mw = 0.0, q_mvar = 0.0;
    ASSERT_EQ(varnok_get_generator_info(h.ctx, 0, nullptr, nullptr, &p_mw, &q_mvar, nullptr),
              VARNOK_OK);
    EXPECT_NEAR(p_mw, 50.0, 0.01);
    double v1 = 0.0;
    ASSERT_EQ(varnok_get_bus_voltage(h.ctx, "B1", &v1, &angle), VARNOK_OK);
    const double current2 = (0.5 * 0.5 + 0.2 * 0.2) / (v1 * v1);
    EXPECT_NEAR(q_mvar, 20.0 + 100.0 * current2 * 0.1, 0.01);

    // a second solve starts from the solution
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_get_iteration_count(h.ctx), 1);
}

TEST(SolveExport, IterationLimitGivesOneAndTheFirstMismatchesInMegawatts) {
    Handle h;
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("feeder.txt").c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 1), VARNOK_OK);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
    EXPECT_STREQ(varnok_get_last_error(h.ctx), "");
    Result r = result_of(h.ctx);
    EXPECT_EQ(r.convergence, VARNOK_NOT_CONVERGED);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.iterations, 1);
    // at the flat start no power flows: B1's mismatch is its load
    EXPECT_DOUBLE_EQ(r.p_mw, 50.0);
    EXPECT_DOUBLE_EQ(r.q_mvar, 20.0);

    // the getters do not convert with option 0; the next solve does
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 200.0), VARNOK_OK);
    r = result_of(h.ctx);
    EXPECT_DOUBLE_EQ(r.p_mw, 50.0);
    ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
    expect_untouched(h.ctx);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
    r = result_of(h.ctx);
    EXPECT_DOUBLE_EQ(r.p_mw, 100.0);  // 0.5 pu on 200 MVA
    EXPECT_DOUBLE_EQ(r.q_mvar, 40.0);
}

TEST(SolveExport, NoIterationsGivesNotRun) {
    Handle h;
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("feeder.txt").c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 0), VARNOK_OK);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
    expect_untouched(h.ctx);
}

TEST(SolveExport, SingularAndDivergedAreNotConverged) {
    const struct {
        const char* file;
        int status;
    } cases[] = {{"singular.txt", 4}, {"overload.txt", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Handle h;
        ASSERT_EQ(varnok_load_file(h.ctx, data_file(c.file).c_str()), VARNOK_OK);
        EXPECT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
        EXPECT_EQ(varnok_get_solver_status(h.ctx), c.status);
        EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_NOT_CONVERGED);
        EXPECT_STREQ(varnok_get_last_error(h.ctx), "");
    }
}

struct EndFlow {
    double p_from, q_from, p_to, q_to;  // MW, Mvar
};

EndFlow flow_of(VarnokContext* ctx, int branch) {
    EndFlow f{};
    EXPECT_EQ(varnok_get_branch_flow_by_index(ctx, branch, &f.p_from, &f.q_from, &f.p_to, &f.q_to),
              VARNOK_OK);
    return f;
}

// The solve's own reactive-limit checks are kept out (option 6 below every mismatch), so the
// outputs come only from the recomputation that varnok_solve runs after the solve: each unit
// gives what its bus sends into the lines plus its load.
TEST(SolveExport, UnitOutputsAreRecomputedAfterTheSolve) {
    Handle h;
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("units.txt").c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_MISQLIM, -1.0), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_TOLAC, 1e-6), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_TOLREAC, 1e-6), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    const EndFlow ab = flow_of(h.ctx, 0), bc = flow_of(h.ctx, 1), ac = flow_of(h.ctx, 2);

    double p0 = 0.0, q0 = 0.0, q1 = 0.0, q_svc = 0.0;
    ASSERT_EQ(varnok_get_generator_info(h.ctx, 0, nullptr, nullptr, &p0, &q0, nullptr), VARNOK_OK);
    ASSERT_EQ(varnok_get_generator_info(h.ctx, 1, nullptr, nullptr, nullptr, &q1, nullptr),
              VARNOK_OK);
    ASSERT_EQ(varnok_get_svc_info(h.ctx, 0, nullptr, nullptr, &q_svc, nullptr, nullptr), VARNOK_OK);
    EXPECT_NEAR(p0, ab.p_from + ac.p_from, 1e-9);
    EXPECT_NEAR(q0, ab.q_from + ac.q_from, 1e-9);
    EXPECT_NEAR(q1, ab.q_to + bc.q_from, 1e-9);
    EXPECT_NEAR(q_svc, 30.0 + bc.q_to + ac.q_to, 1e-9);
    EXPECT_GT(p0, 20.0);  // the load less G1's 40 MW, and the losses
    EXPECT_NE(q1, 0.0);
    EXPECT_NE(q_svc, 0.0);
}

// A zero base power would make every tolerance infinite and the next solve "converge" at its
// start voltages: it is refused, and the solve goes on with the base it had.
TEST(SolveExport, ZeroBasePowerAfterALoadIsRefused) {
    Handle h;
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("feeder.txt").c_str()), VARNOK_OK);
    EXPECT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 0.0), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_GE(varnok_get_iteration_count(h.ctx), 2);
    double p_mw = 0.0;
    ASSERT_EQ(varnok_get_max_mismatch(h.ctx, &p_mw, nullptr), VARNOK_OK);
    EXPECT_LT(p_mw, 0.1);
}

TEST(SolveExport, MismatchPointersAreOptional) {
    Handle h;
    ASSERT_EQ(varnok_load_file(h.ctx, data_file("feeder.txt").c_str()), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 1), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_NOT_CONVERGED);
    EXPECT_EQ(varnok_get_max_mismatch(h.ctx, nullptr, nullptr), VARNOK_OK);
    double q = 0.0;
    EXPECT_EQ(varnok_get_max_mismatch(h.ctx, nullptr, &q), VARNOK_OK);
    EXPECT_DOUBLE_EQ(q, 20.0);
}

}  // namespace
