// The Newton-Raphson solve: early returns, preparations, log lines, statuses, the controls inside
// a solve, the Jacobian pattern and its analysis kept across solves, and a solve that allocates
// nothing after its first iteration.
//
// Expected numbers in log lines are printed with printf conversions, independently of the
// library's formatting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "allocation_counter.h"
#include "network_builders.h"

namespace varnok {
namespace {

const std::string kHeader = "\n   iter    max mismatches :  MW       Mvar\n\n";
const std::string kLimitLine = " Maximum number of iterations reached !\n";
const std::string kDivergedLine = " Divergence detected !\n";
// em dash, UTF-8 E2 80 94
const std::string kSingularLine = " Singular Jacobian matrix \xE2\x80\x94 power flow aborted !\n";

std::string iteration_line(int k, double p_mw, double q_mvar) {
    char text[128];
    std::snprintf(text, sizeof text, "%6d%25.1f%11.1f\n", k, p_mw, q_mvar);
    return text;
}

std::string bus_line(int k, const std::string& name, double p_mw, double q_mvar, bool show_p,
                     bool show_q) {
    char text[160];
    if (show_p && show_q)
        std::snprintf(text, sizeof text, "%6d  bus %-8s%11.1f%11.1f\n", k, name.c_str(), p_mw,
                      q_mvar);
    else if (show_p)
        std::snprintf(text, sizeof text, "%6d  bus %-8s%11.1f\n", k, name.c_str(), p_mw);
    else
        std::snprintf(text, sizeof text, "%6d  bus %-8s%22.1f\n", k, name.c_str(), q_mvar);
    return text;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int count_of(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

// B0 the slack (generator at 1.0 pu) feeding load bus B1 over a lossless reactance: at the flat
// start no power flows, so the first mismatch of B1 is minus its load.
Network feeder(double p_load, double q_load, double x = 0.1) {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    add_plain_bus(net, "B1", PQ, p_load, q_load);
    net.slack_bus = 0;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
    net.add_branch(impedance("L01", 0, 1, 0.0, x));
    return net;
}

SolverParams tight() {
    SolverParams params;
    params.tolac = 1e-6;
    params.tolreac = 1e-6;
    return params;
}

// --- Early return and preparations -----------------------------------------------------------

TEST(Solve, NotRunWithoutIterationsOrBuses) {
    Network net = feeder(0.5, 0.2);
    net.generators[0].has_p_limits = true;
    net.generators[0].p = 5.0;  // outside its limits: a clamp would show
    net.buses[1].v = 0.9;
    SolverParams params;
    params.nbitma = 0;
    params.plim = 0;
    PowerFlowSolver solver;
    std::ostringstream log;
    SolveResult r = solver.solve(net, params, &log);
    EXPECT_EQ(r.status, NOT_RUN);
    EXPECT_EQ(r.iterations, 0);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.max_p_mismatch, 0.0);
    EXPECT_EQ(r.max_q_mismatch, 0.0);
    EXPECT_EQ(log.str(), "");
    EXPECT_EQ(net.generators[0].p, 5.0);
    EXPECT_EQ(net.buses[1].v, 0.9);
    EXPECT_FALSE(solver.structure_built);

    Network empty;
    r = solver.solve(empty, SolverParams{}, &log);
    EXPECT_EQ(r.status, NOT_RUN);
    EXPECT_EQ(log.str(), "");
}

// B0 slack with G0, then one generator per case at buses B1..B5.
Network dispatch_network() {
    Network net;
    for (const char* name : {"B0", "B1", "B2", "B3", "B4", "B5"}) add_plain_bus(net, name, PQ);
    net.buses[0].type = SLACK;
    net.slack_bus = 0;
    const struct {
        const char* name;
        double p, p_min, p_max;
        bool limits;
        int status;
    } units[] = {
        {"G0", 3.0, 0.1, 2.5, true, 1},   // the slack generator, above its limit
        {"G1", 1.2, 0.0, 1.0, true, 1},   // above
        {"G2", -0.1, 0.0, 1.0, true, 1},  // below
        {"G3", 1.0, 0.0, 1.0, true, 1},   // exactly at its limit
        {"G4", 2.0, 0.0, 1.0, true, 0},   // out of service
        {"G5", 2.0, 0.0, 1.0, false, 1},  // without active limits
    };
    for (int i = 0; i < 6; ++i) {
        const int g = add_unit(net, units[i].name, i, GEN_PQ, units[i].p, 0.0);
        net.generators[g].p_min = units[i].p_min;
        net.generators[g].p_max = units[i].p_max;
        net.generators[g].has_p_limits = units[i].limits;
        net.generators[g].status = units[i].status;
    }
    for (int i = 1; i < 6; ++i) net.add_branch(impedance("L" + std::to_string(i), 0, i, 0.0, 0.1));
    return net;
}

TEST(Solve, SlackRelaxationAndClampingOfInitialOutputs) {
    const std::string relaxed =
        " P limits on slack generator G0 relaxed (was 10.0\xE2\x80\x93" "250.0 MW)\n";
    const std::string clamp_g0 =
        " Warning: Generator G0 initial P (300.0 MW) exceeds PMAX (250.0 MW), clamped.\n";
    const std::string clamps =
        " Warning: Generator G1 initial P (120.0 MW) exceeds PMAX (100.0 MW), clamped.\n"
        " Warning: Generator G2 initial P (-10.0 MW) below PMIN (0.0 MW), clamped.\n";
    const struct {
        int plim;
        int slack_status;
        std::string preparations;
        double slack_p;
    } cases[] = {
        {1, 1, relaxed + clamps, 3.0},
        {1, 0, relaxed + clamps, 3.0},  // the relaxation does not look at the status
        {0, 1, clamp_g0 + clamps, 2.5},
        {2, 1, clamp_g0 + clamps, 2.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "plim " << c.plim << " status " << c.slack_status);
        Network net = dispatch_network();
        net.generators[0].status = c.slack_status;
        SolverParams params;
        params.plim = c.plim;
        params.nbitma = -1;  // preparations only
        PowerFlowSolver solver;
        std::ostringstream log;
        const SolveResult r = solver.solve(net, params, &log);
        EXPECT_EQ(r.status, MAX_ITERATIONS);
        EXPECT_EQ(r.iterations, 0);
        EXPECT_EQ(log.str(), c.preparations + kHeader + kLimitLine);
        EXPECT_EQ(net.generators[0].p, c.slack_status == 1 ? c.slack_p : 3.0);
        EXPECT_EQ(net.generators[1].p, 1.0);
        EXPECT_EQ(net.generators[2].p, 0.0);
        EXPECT_EQ(net.generators[3].p, 1.0);
        EXPECT_EQ(net.generators[4].p, 2.0);
        EXPECT_EQ(net.generators[5].p, 2.0);
    }
}

TEST(Solve, NegativeIterationLimitWritesBackTheInitialState) {
    Network net = feeder(0.5, 0.2);
    net.generators[0].v_set = 1.03;
    add_plain_bus(net, "B2", ISOLATED);
    net.buses[2].v = 0.97;
    net.buses[2].angle = 0.1;
    net.buses[1].v = 0.98;
    net.buses[1].angle = -0.05;
    SolverParams params;
    params.nbitma = -5;
    PowerFlowSolver solver;
    const SolveResult r = solver.solve(net, params);
    EXPECT_EQ(r.status, MAX_ITERATIONS);
    EXPECT_EQ(r.iterations, 0);
    EXPECT_EQ(r.max_p_mismatch, 0.0);
    EXPECT_EQ(net.buses[0].v, 1.03);
    EXPECT_EQ(net.buses[1].v, 0.98);
    EXPECT_EQ(net.buses[1].angle, -0.05);
    EXPECT_EQ(net.buses[2].v, 0.0);
    EXPECT_EQ(net.buses[2].angle, 0.0);
}

// --- Log lines of an iteration ----------------------------------------------------------------

TEST(Solve, BusLinesShowTheMismatchesAboveTolerance) {
    const struct {
        const char* bus_name;
        double p_load, q_load;  // pu
        bool show_p, show_q;
    } cases[] = {
        {"B1", 0.5, 0.2, true, true},
        {"B1", 0.5, 0.0, true, false},
        {"B1", 0.0, 0.2, false, true},
        {"LONGBUSNAME1", 0.5, -0.2, true, true},  // written whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.p_load << " " << c.q_load);
        Network net = feeder(c.p_load, c.q_load);
        net.buses[1].name = c.bus_name;
        add_plain_bus(net, "B2", ISOLATED, 0.3, 0.3);  // never listed
        SolverParams params;
        params.nbitma = 1;
        PowerFlowSolver solver;
        std::ostringstream log;
        const SolveResult r = solver.solve(net, params, &log);
        ASSERT_EQ(r.status, MAX_ITERATIONS);
        const double p = -c.p_load * 100, q = -c.q_load * 100;
        EXPECT_EQ(log.str(), kHeader + iteration_line(1, std::fabs(p), std::fabs(q)) +
                                 bus_line(1, c.bus_name, p, q, c.show_p, c.show_q) + kLimitLine);
        // the mismatches of the result are those before the one correction
        EXPECT_DOUBLE_EQ(r.max_p_mismatch, std::fabs(p));
        EXPECT_DOUBLE_EQ(r.max_q_mismatch, std::fabs(q));
        // the correction was applied and written back
        EXPECT_TRUE(net.buses[1].v != 1.0 || net.buses[1].angle != 0.0);
    }
}

TEST(Solve, NoBusLineBelowTheTolerances) {
    Network net = feeder(0.0005, 0.0005);
    SolverParams params;
    params.nbitma = 1;
    params.tolac = params.tolreac = 0.1;
    PowerFlowSolver solver;
    std::ostringstream log;
    const SolveResult r = solver.solve(net, params, &log);
    EXPECT_EQ(r.status, CONVERGED);
    EXPECT_EQ(r.iterations, 1);
    EXPECT_EQ(log.str(), kHeader + iteration_line(1, 0.05, 0.05));
}

TEST(Solve, MismatchesAreOnTheSolverBase) {
    Network net = feeder(0.5, 0.25);
    SolverParams params;
    params.nbitma = 1;
    params.sbase = 200.0;
    PowerFlowSolver solver;
    const SolveResult r = solver.solve(net, params);
    EXPECT_EQ(r.status, MAX_ITERATIONS);
    EXPECT_EQ(r.max_p_mismatch, 100.0);
    EXPECT_EQ(r.max_q_mismatch, 50.0);
}

// --- Statuses --------------------------------------------------------------------------------

TEST(Solve, ConvergesQuadraticallyAndAgainInOneIteration) {
    Network net = feeder(0.8, 0.3, 0.2);
    PowerFlowSolver solver;
    std::vector<std::vector<double>> observed;
    std::ostringstream log;
    SolveResult r = solver.solve(net, tight(), &log, [&](int k, double p, double q) {
        observed.push_back({double(k), p, q});
    });
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_TRUE(r.converged);
    EXPECT_LE(r.iterations, 6);
    ASSERT_EQ(observed.size(), static_cast<std::size_t>(r.iterations));
    for (int k = 0; k < r.iterations; ++k) EXPECT_EQ(observed[k][0], k + 1);
    EXPECT_EQ(observed.back()[1], r.max_p_mismatch);
    EXPECT_EQ(observed.back()[2], r.max_q_mismatch);
    EXPECT_LT(r.max_p_mismatch, 1e-6);
    EXPECT_EQ(count_of(log.str(), "  bus "), r.iterations - 1);  // all but the last list B1
    EXPECT_TRUE(ends_with(log.str(), iteration_line(r.iterations, r.max_p_mismatch,
                                                    r.max_q_mismatch)));

    // the power balance at B1 holds in the written-back voltages
    const BranchFlow f = compute_branch_flow(net, 0);
    EXPECT_NEAR(f.p_to, -0.8, 1e-8);
    EXPECT_NEAR(f.q_to, -0.3, 1e-8);

    // a second solve starts from the solution
    SolverParams one = tight();
    one.nbitma = 1;
    r = solver.solve(net, one);
    EXPECT_EQ(r.status, CONVERGED);
    EXPECT_EQ(r.iterations, 1);
}

TEST(Solve, IterationLimit) {
    Network net = feeder(0.8, 0.3, 0.2);
    SolverParams params = tight();
    params.nbitma = 2;
    PowerFlowSolver solver;
    std::ostringstream log;
    const SolveResult r = solver.solve(net, params, &log);
    EXPECT_EQ(r.status, MAX_ITERATIONS);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.iterations, 2);
    EXPECT_TRUE(ends_with(log.str(), kLimitLine));
    EXPECT_EQ(net.buses[1].v, solver.v[1]);
}

TEST(Solve, SingularJacobianAtTheFirstIteration) {
    // B1 hangs on a branch without admittance: its two rows of the Jacobian are zero.
    Network net = feeder(0.5, 0.2);
    net.branches[0].b_from = net.branches[0].b_to = 0.0;
    net.generators[0].v_set = 1.02;
    PowerFlowSolver solver;
    std::ostringstream log;
    const SolveResult r = solver.solve(net, SolverParams{}, &log);
    EXPECT_EQ(r.status, SINGULAR_JACOBIAN);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.iterations, 1);
    EXPECT_EQ(log.str(), kHeader + iteration_line(1, 50.0, 20.0) +
                             bus_line(1, "B1", -50.0, -20.0, true, true) + kSingularLine);
    EXPECT_EQ(net.buses[0].v, 1.02);  // the initial state, written back
    EXPECT_EQ(net.buses[1].v, 1.0);
    EXPECT_EQ(net.buses[1].angle, 0.0);

    // the solver solves again once the network is sound
    net.branches[0] = impedance("L01", 0, 1, 0.0, 0.1);
    EXPECT_EQ(solver.solve(net, tight()).status, CONVERGED);
}

// Each tolerance judges its own mismatch. At the flat start a lossless feeder carries nothing:
// a load of one kind only leaves the other mismatch at exactly 0 in the first iteration, and
// only the tolerance of the loaded kind can keep the solve going.
TEST(Solve, EachToleranceJudgesItsOwnMismatch) {
    const struct {
        const char* what;
        double p_load, q_load;  // pu
        double tolac, tolreac;  // MW, Mvar
    } cases[] = {
        {"reactive load, tight reactive tolerance", 0.0, 0.3, 1e9, 1e-6},
        {"active load, tight active tolerance", 0.8, 0.0, 1e-6, 1e9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = feeder(c.p_load, c.q_load, 0.2);
        SolverParams params;
        params.tolac = c.tolac;
        params.tolreac = c.tolreac;
        const SolveResult r = PowerFlowSolver{}.solve(net, params);
        ASSERT_EQ(r.status, CONVERGED);
        EXPECT_GT(r.iterations, 2);
        if (c.tolac < 1.0)
            EXPECT_LT(r.max_p_mismatch, c.tolac);
        else
            EXPECT_LT(r.max_q_mismatch, c.tolreac);
    }
}

TEST(Solve, IterationLimitOfIntMaxEndsLikeAnyOther) {
    Network net = feeder(0.8, 0.3, 0.2);
    SolverParams params = tight();
    params.nbitma = std::numeric_limits<int>::max();
    const SolveResult r = PowerFlowSolver{}.solve(net, params);
    EXPECT_EQ(r.status, CONVERGED);
    EXPECT_LE(r.iterations, 6);
}

// Feeders that no voltage can balance: 3 pu over a reactance of 0.5 pu, and 200 Mvar over it
// (at most 50 Mvar reach B1). Divergence detection stops the first. The second, with a fresh
// factorisation only at the first iteration, runs onto a Jacobian whose refactorisation with
// the old pivots meets a zero pivot. Both write their last iterate back.
TEST(Solve, DivergenceDetectionAndAZeroPivotAtARefactorisation) {
    const struct {
        const char* what;
        double p_load, q_load;  // pu
        double divdet, misbloc;
        int status;
        const std::string& last_line;
    } cases[] = {
        {"divergence detected", 3.0, 0.5, 1.0, 10.0, DIVERGED, kDivergedLine},
        {"zero pivot at a refactorisation", 0.0, 2.0, 0.0, 1e9, SINGULAR_JACOBIAN, kSingularLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = feeder(c.p_load, c.q_load, 0.5);
        SolverParams params;
        params.divdet = c.divdet;
        params.misbloc = c.misbloc;
        params.nbitma = 50;
        PowerFlowSolver solver;
        std::ostringstream log;
        const SolveResult r = solver.solve(net, params, &log);
        EXPECT_EQ(r.status, c.status);
        EXPECT_FALSE(r.converged);
        EXPECT_GE(r.iterations, 2);
        EXPECT_TRUE(ends_with(log.str(), c.last_line));
        EXPECT_EQ(net.buses[1].v, solver.v[1]);
    }

    // without detection the first network runs into the iteration limit
    Network again = feeder(3.0, 0.5, 0.5);
    SolverParams params;
    params.nbitma = 50;
    const SolveResult limit = PowerFlowSolver{}.solve(again, params);
    EXPECT_NE(limit.status, DIVERGED);
    EXPECT_NE(limit.status, CONVERGED);
}

TEST(Solve, MismatchThatIsNotANumberNeverConverges) {
    // A zero ratio makes B1's flows NaN while the slack's rows are zeroed: the largest
    // mismatches must not come out as 0 and report convergence.
    Network net = feeder(0.5, 0.2);
    net.branches[0].ratio = 0.0;
    SolverParams params;
    params.misqlim = 0.0;
    params.nbitma = 3;
    const SolveResult r = PowerFlowSolver{}.solve(net, params);
    EXPECT_FALSE(r.converged);
    EXPECT_NE(r.status, CONVERGED);
    EXPECT_TRUE(std::isnan(r.max_p_mismatch));
}

// --- Controls inside a solve -----------------------------------------------------------------

TEST(SolveControls, GeneratorToItsReactiveLimitAndBack) {
    // G1 would need 52.5 Mvar to hold 1.05 pu at B1; it has 30
    Network net = feeder(0.0, 0.0);
    net.buses[1].type = PV;
    const int g1 = add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05, -0.2, 0.3);
    PowerFlowSolver solver;
    std::ostringstream log;
    std::vector<std::string> switched;
    std::vector<int> iterations;
    SolveResult r = solver.solve(
        net, tight(), &log, [&](int k, double, double) { iterations.push_back(k); },
        [&](const std::string& name, double, double limit, bool upper) {
            switched.push_back(name + (upper ? " up " : " down ") + std::to_string(limit));
        });
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_EQ(net.generators[g1].mode, GEN_AT_QMAX);
    EXPECT_EQ(net.generators[g1].q, 0.3);
    EXPECT_EQ(net.buses[1].type, PQ);
    EXPECT_LT(net.buses[1].v, 1.05);
    ASSERT_EQ(switched.size(), 1u);
    EXPECT_EQ(switched[0], "G1 up 30.000000");
    EXPECT_EQ(count_of(log.str(), " Switched to PQ type\n"), 1);
    // once per iteration, also for the one whose line was repeated after the switch
    ASSERT_EQ(iterations.size(), static_cast<std::size_t>(r.iterations));
    // the switching iteration is logged twice under its number, before and after the switch
    const std::string text = log.str();
    const std::string first_line = iteration_line(1, 0.0, 0.0);
    const std::string switch_line =
        "  Gener G1                   : Q =    52.5 > Qmax =    30.0. Switched to PQ type\n";
    ASSERT_EQ(text.find(kHeader + first_line + switch_line + "     1 "), 0u) << text;

    // a capacitive load lifts B1 above the setpoint: G1 returns to voltage control
    net.buses[1].q_load = -0.5;
    std::ostringstream back;
    r = solver.solve(net, tight(), &back);
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_EQ(net.generators[g1].mode, GEN_VOLTAGE_CONTROL);
    EXPECT_EQ(net.buses[1].type, PV);
    EXPECT_DOUBLE_EQ(net.buses[1].v, 1.05);
    EXPECT_NE(back.str().find(" Volt of gener G1                   = "), std::string::npos);
    EXPECT_NE(back.str().find(" > setpoint = 1.0500. Back under volt ctl\n"), std::string::npos);
}

// A compensator S1 at B1 of the feeder holding 1.05 pu there, within +-0.3 pu of susceptance.
void add_feeder_compensator(Network& net) {
    SVC svc;
    svc.name = "S1";
    svc.bus = svc.sense_bus = 1;
    svc.mode = SVC_VOLTAGE_CONTROL;
    svc.v_set = 1.05;
    svc.gain = 50.0;
    svc.b_max = 0.3;
    svc.b_min = -0.3;
    net.buses[1].svc = net.add_svc(svc);
}

TEST(SolveControls, CompensatorAtItsLimit) {
    Network net = feeder(0.0, 0.0);
    add_feeder_compensator(net);
    PowerFlowSolver solver;
    const SolveResult r = solver.solve(net, tight());
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_EQ(net.svcs[0].mode, SVC_AT_BMAX);
    // at b_max the injection 0.3 V^2 balances the line: 10 V (V - 1) = 0.3 V^2
    EXPECT_NEAR(net.buses[1].v, 10.0 / 9.7, 1e-9);
}

// The slack generator's output after a solve is what leaves the slack bus into its branches,
// whichever end of them the slack bus is.
TEST(SolveControls, SlackGeneratorOutputAtTheToEndOfItsBranch) {
    Network net;
    add_plain_bus(net, "B1", PQ, 0.8, 0.3);
    add_plain_bus(net, "B0", SLACK);
    net.slack_bus = 1;
    add_unit(net, "G0", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
    net.add_branch(impedance("L10", 0, 1, 0.02, 0.2));
    PowerFlowSolver solver;
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    solver.compute_injections(net, tight());
    const BranchFlow f = compute_branch_flow(net, 0);
    EXPECT_GT(f.p_to, 0.8);  // the load and the line's losses
    EXPECT_NEAR(net.generators[0].p, f.p_to, 1e-12);
    EXPECT_NEAR(net.generators[0].q, f.q_to, 1e-12);
}

// B0 the slack feeding B1 through transformer T01, whose tap changer holds B1 (its to end).
Network regulated_feeder(std::vector<double> ratios, int pos, double deadband) {
    Network net = feeder(0.5, 0.3);
    Branch& t = net.branches[0];
    t.name = "T01";
    t.is_transformer = true;
    t.kind = BRANCH_REGULATED_TRANSFORMER;
    TapRegulator tap;
    tap.branch = 0;
    tap.bus = 1;
    tap.vdes = 1.0;
    tap.deadband = deadband;
    tap.ratios = ratios;
    tap.pos_max = static_cast<int>(ratios.size()) - 1;
    tap.pos = tap.pos_init = pos;
    t.ratio = ratios[pos];
    net.tap_regulators.push_back(tap);
    return net;
}

TEST(SolveControls, TapChangerStepsIntoItsBand) {
    std::vector<double> ratios;
    for (int i = 0; i <= 20; ++i) ratios.push_back(0.9 + 0.01 * i);
    Network net = regulated_feeder(ratios, 10, 0.005);
    PowerFlowSolver solver;
    std::ostringstream log;
    const SolveResult r = solver.solve(net, tight(), &log);
    ASSERT_EQ(r.status, CONVERGED);
    const TapRegulator& tap = net.tap_regulators[0];
    EXPECT_GT(tap.pos, 10);
    EXPECT_EQ(net.branches[0].ratio, ratios[tap.pos]);
    EXPECT_NEAR(net.buses[1].v, 1.0, 0.005);
    EXPECT_EQ(count_of(log.str(), " trfo T01 "), tap.pos - 10);
    EXPECT_EQ(count_of(log.str(), " in-phase trfo taps :   0 down       1 up\n"), tap.pos - 10);
}

// A band that is not a number holds no voltage: the tap changer keeps still instead of running
// to a table end while the solve reports convergence.
TEST(SolveControls, TapChangerWithABandThatIsNotANumberKeepsStill) {
    std::vector<double> ratios;
    for (int i = 0; i <= 20; ++i) ratios.push_back(0.9 + 0.01 * i);
    for (const bool nan_setpoint : {true, false}) {
        SCOPED_TRACE(nan_setpoint ? "setpoint not a number" : "deadband not a number");
        Network net = regulated_feeder(ratios, 10, 0.005);
        TapRegulator& tap = net.tap_regulators[0];
        (nan_setpoint ? tap.vdes : tap.deadband) = std::nan("");
        std::ostringstream log;
        const SolveResult r = PowerFlowSolver{}.solve(net, tight(), &log);
        EXPECT_EQ(r.status, CONVERGED);
        EXPECT_EQ(tap.pos, 10);
        EXPECT_EQ(net.branches[0].ratio, ratios[10]);
        EXPECT_EQ(log.str().find(" trfo "), std::string::npos);
    }
}

TEST(SolveControls, TapChangerStopsAtTheTableEnd) {
    Network net = regulated_feeder({1.0, 1.01}, 0, 0.005);
    PowerFlowSolver solver;
    const SolveResult r = solver.solve(net, tight());
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_EQ(net.tap_regulators[0].pos, 1);
    EXPECT_EQ(net.branches[0].ratio, 1.01);
    EXPECT_LT(net.buses[1].v, 1.0 - 0.005);  // outside the band, and converged
}

// A phase shifter PST in parallel with line L, holding its own flow or that of the line. With
// `at_slack` it starts at the slack bus B0, else at B1 behind a feeder from B0.
Network shifter_network(bool at_slack, bool monitor_line, double pdes_mw) {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    net.slack_bus = 0;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.02);
    int l = 0;
    if (!at_slack) {
        l = add_plain_bus(net, "B1", PQ, 0.1, 0.02);
        net.add_branch(impedance("F01", 0, 1, 0.005, 0.05));
    }
    const int m = add_plain_bus(net, "B2", PQ, 1.0, 0.3);
    Branch pst = impedance("PST", l, m, 0.01, 0.2);
    const int pst_branch = net.add_branch(pst);
    const int line = net.add_branch(impedance("L", l, m, 0.02, 0.25));

    PhaseShifter ps;
    ps.branch = pst_branch;
    ps.monitored_branch = monitor_line ? line : pst_branch;
    ps.pdes = pdes_mw / 100.0;
    ps.deadband = 0.02;
    ps.r = 0.01;
    for (int i = 0; i < 2; ++i) {
        ps.positions.push_back(i == 0 ? 1 : 41);
        ps.x.push_back(0.2);
        ps.ratios.push_back(1.0);
        ps.shifts.push_back((i == 0 ? -20.0 : 20.0) / 57.2957795);
    }
    ps.pos = ps.pos_init = 21;  // no shift
    net.phase_shifters.push_back(ps);
    return net;
}

TEST(SolveControls, PhaseShifterHoldsTheMonitoredFlow) {
    const struct {
        const char* what;
        bool at_slack, monitor_line;
        double pdes_mw;
    } cases[] = {
        {"from the slack bus, own flow up", true, false, 75.0},
        {"from the slack bus, own flow down", true, false, 35.0},
        {"inland, own flow", false, false, 70.0},
        {"inland, the parallel line's flow", false, true, 30.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = shifter_network(c.at_slack, c.monitor_line, c.pdes_mw);
        const PhaseShifter& ps = net.phase_shifters[0];
        PowerFlowSolver solver;
        std::ostringstream log;
        SolverParams params = tight();
        params.nbitma = 60;
        const SolveResult r = solver.solve(net, params, &log);
        ASSERT_EQ(r.status, CONVERGED) << log.str();
        const double p = compute_branch_flow(net, ps.monitored_branch).p_from;
        EXPECT_LE(std::fabs(p - ps.pdes), 0.9 * ps.deadband);
        EXPECT_NE(ps.pos, 21);
        EXPECT_EQ(count_of(log.str(), " Evaluating phase shifter sensitivities\n"), 1);
        EXPECT_GT(count_of(log.str(), " PST  PST "), 0);
    }
}

TEST(SolveControls, NoControlWhileTheMismatchIsAboveItsThreshold) {
    Network net = regulated_feeder({0.95, 1.0, 1.05}, 1, 0.001);
    SolverParams params = tight();
    params.misadj = 0.0;
    params.misqlim = 0.0;
    PowerFlowSolver solver;
    ASSERT_EQ(solver.solve(net, params).status, CONVERGED);
    EXPECT_EQ(net.tap_regulators[0].pos, 1);
}

// --- The Jacobian pattern across solves ------------------------------------------------------

// Four buses on a ring fed at B0.
Network ring() {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    add_plain_bus(net, "B1", PQ, 0.6, 0.2);
    add_plain_bus(net, "B2", PQ, 0.8, 0.3);
    add_plain_bus(net, "B3", PQ, 0.5, 0.1);
    net.slack_bus = 0;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
    net.add_branch(impedance("R01", 0, 1, 0.01, 0.1));
    net.add_branch(impedance("R12", 1, 2, 0.01, 0.1));
    net.add_branch(impedance("R23", 2, 3, 0.01, 0.1));
    net.add_branch(impedance("R30", 3, 0, 0.01, 0.1));
    return net;
}

void flat_start(Network& net) {
    for (Bus& b : net.buses) {
        b.v = 1.0;
        b.angle = 0.0;
    }
}

TEST(SolvePattern, AReconnectedBranchIsCoupledAgain) {
    // R12 joins two load buses, whose equations both stand in the Newton system: without its
    // coupling terms the iteration converges only linearly.
    Network net = ring();
    net.branches[1].status = 0;
    PowerFlowSolver solver;
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    EXPECT_LT(solver.jacobian.pos(2 * 1, 2 * 2), 0);

    net.branches[1].status = 1;
    flat_start(net);
    const SolveResult r = solver.solve(net, tight());
    ASSERT_EQ(r.status, CONVERGED);
    EXPECT_GE(solver.jacobian.pos(2 * 1, 2 * 2), 0);
    EXPECT_GE(solver.jacobian.pos(2 * 2 + 1, 2 * 1 + 1), 0);

    Network fresh = ring();
    const SolveResult reference = PowerFlowSolver{}.solve(fresh, tight());
    EXPECT_EQ(r.iterations, reference.iterations);
    EXPECT_LE(r.iterations, 6);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(net.buses[i].v, fresh.buses[i].v, 1e-12);
}

TEST(SolvePattern, KeptWhenNothingWasReconnected) {
    Network net = ring();
    PowerFlowSolver solver;
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    const std::vector<int> col_ptr = solver.jacobian.col_ptr;
    const std::vector<int> row_idx = solver.jacobian.row_idx;

    net.branches[1].status = 0;  // an opened branch keeps its entries
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    EXPECT_EQ(solver.jacobian.col_ptr, col_ptr);
    EXPECT_EQ(solver.jacobian.row_idx, row_idx);
    EXPECT_GE(solver.jacobian.pos(2 * 1, 2 * 2), 0);
}

// The bits of every voltage, the iteration count, the mismatches and the status of a solve.
struct SolveBits {
    std::vector<std::uint64_t> voltages;
    int iterations = 0;
    std::uint64_t max_p = 0, max_q = 0;
    int status = NOT_RUN;
    bool operator==(const SolveBits& o) const {
        return voltages == o.voltages && iterations == o.iterations && max_p == o.max_p &&
               max_q == o.max_q && status == o.status;
    }
};

std::uint64_t bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

SolveBits solve_bits(PowerFlowSolver& solver, Network& net) {
    const SolveResult r = solver.solve(net, tight());
    SolveBits b;
    for (const Bus& bus : net.buses) {
        b.voltages.push_back(bits(bus.v));
        b.voltages.push_back(bits(bus.angle));
    }
    b.iterations = r.iterations;
    b.max_p = bits(r.max_p_mismatch);
    b.max_q = bits(r.max_q_mismatch);
    b.status = r.status;
    return b;
}

TEST(SolvePattern, AnalysisKeptWhileThePatternIsTheOneAnalysed) {
    Network net = ring();
    PowerFlowSolver solver;
    const SolveBits first = solve_bits(solver, net);
    ASSERT_EQ(first.status, CONVERGED);
    ASSERT_TRUE(solver.klu.analysed(solver.jacobian));
    const klu_symbolic* analysis = solver.klu.symbolic;

    // Same pattern: the analysis is kept, and the solve is the same to the last bit.
    flat_start(net);
    EXPECT_EQ(solve_bits(solver, net), first);
    EXPECT_EQ(solver.klu.symbolic, analysis);

    // An opened branch keeps its entries: still the analysed pattern.
    net.branches[1].status = 0;
    flat_start(net);
    Network opened = net;
    const SolveBits kept = solve_bits(solver, net);
    EXPECT_EQ(solver.klu.symbolic, analysis);
    PowerFlowSolver fresh_opened;  // analyses the same pattern, with the branch in it
    fresh_opened.jacobian.build_structure(ring());
    fresh_opened.structure_built = true;
    EXPECT_EQ(solve_bits(fresh_opened, opened), kept);
    EXPECT_EQ(fresh_opened.jacobian.row_idx, solver.jacobian.row_idx);

    // A pattern rebuilt for another network is analysed afresh.
    net.branches[1].status = 1;
    net.branches.push_back(impedance("R02", 0, 2, 0.01, 0.1));
    flat_start(net);
    Network meshed = net;
    const SolveBits rebuilt = solve_bits(solver, net);
    EXPECT_TRUE(solver.klu.analysed(solver.jacobian));
    PowerFlowSolver fresh;
    EXPECT_EQ(solve_bits(fresh, meshed), rebuilt);
}

TEST(SolveAllocations, NoneAfterTheFirstIterationNorInALaterSolve) {
    // Every control acting: a generator at its reactive limit, a tap changer, a phase shifter
    // (whose sensitivity takes a transposed solve) and a compensator.
    Network limited = feeder(0.0, 0.0);
    limited.buses[1].type = PV;
    add_unit(limited, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05, -0.2, 0.3);
    std::vector<double> ratios;
    for (int i = 0; i <= 20; ++i) ratios.push_back(0.9 + 0.01 * i);
    Network tapped = regulated_feeder(ratios, 10, 0.005);
    Network shifted = shifter_network(false, false, 70.0);
    Network compensated = feeder(0.3, 0.1);
    add_feeder_compensator(compensated);

    const struct {
        const char* what;
        Network* net;
    } cases[] = {{"reactive limit", &limited},
                 {"tap changer", &tapped},
                 {"phase shifter", &shifted},
                 {"compensator", &compensated}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Network start = *c.net;
        SolverParams params = tight();
        params.nbitma = 60;
        PowerFlowSolver solver;
        AllocationCounter counter;
        const IterationObserver from_second = [&counter](int k, double, double) {
            if (k == 2) counter.start();
        };
        const SolveResult r = solver.solve(*c.net, params, nullptr, from_second);
        EXPECT_EQ(counter.stop(), 0);
        ASSERT_EQ(r.status, CONVERGED);
        ASSERT_GT(r.iterations, 2);

        // The same solver again, from the start: its vectors are sized already.
        *c.net = start;
        counter.start();
        const SolveResult again = solver.solve(*c.net, params);
        EXPECT_EQ(counter.stop(), 0);
        EXPECT_EQ(again.status, CONVERGED);
    }
}

TEST(SolvePattern, RebuiltForAnotherBusCount) {
    Network net = ring();
    PowerFlowSolver solver;
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    add_plain_bus(net, "B4", PQ, 0.2, 0.0);
    net.add_branch(impedance("R34", 3, 4, 0.01, 0.1));
    ASSERT_EQ(solver.solve(net, tight()).status, CONVERGED);
    EXPECT_EQ(solver.jacobian.n, 10);
}

}  // namespace
}  // namespace varnok
