// Controls between Newton iterations: reactive-limit switching, tap changers, phase-shifter
// moves and the phase-shifter flow sensitivity.
//
// Expected log lines are written out literally; where a value comes from a solved flow it is
// printed with printf conversions, independently of the library's formatting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "network_builders.h"

namespace varnok {
namespace {

std::string printf_text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

int add_compensator(Network& net, int bus, int sense_bus, int mode, double v_set, double gain,
                    double b_min, double b_max) {
    SVC svc;
    svc.name = "S1";
    svc.bus = bus;
    svc.sense_bus = sense_bus;
    svc.mode = mode;
    svc.v_set = v_set;
    svc.gain = gain;
    svc.b_min = b_min;
    svc.b_max = b_max;
    const int s = net.add_svc(svc);
    net.buses[bus].svc = s;
    return s;
}

struct SwitchCall {
    std::string name;
    double q;
    double limit;
    bool upper;
};

LimitSwitchObserver recorder(std::vector<SwitchCall>& calls) {
    return [&calls](const std::string& name, double q, double limit, bool upper) {
        calls.push_back({name, q, limit, upper});
    };
}

// Two buses on a reactance of 0.1 pu: B0 the slack with a wide-limit generator at 1.0 pu, B1
// either a generator bus or a compensator bus. At angles 0 and |V1| = 1.05 the unit at B1 sends
// Q = 10 x 1.05 x 0.05 = 0.525 pu into the line; at 0.95, -0.475 pu.
Network two_bus() {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    add_plain_bus(net, "B1", PQ);
    net.slack_bus = 0;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
    net.add_branch(reactance("L01", 0, 1, 0.1));
    return net;
}

void set_voltages(PowerFlowSolver& solver, double v0, double v1) {
    solver.v = {v0, v1};
    solver.theta = {0.0, 0.0};
}

// --- Generators -----------------------------------------------------------------------------

struct GeneratorCase {
    const char* what;
    int mode;
    int status;
    double v_set;
    double v1;  // the solver's voltage at B1
    double q_min, q_max;
    int expected_mode;
    double expected_q;  // of G1 after the call
    int expected_type;  // of B1 after the call
    const char* expected_log;
};

TEST(ReactiveLimits, GeneratorSwitching) {
    const GeneratorCase cases[] = {
        {"to the upper limit", GEN_VOLTAGE_CONTROL, 1, 1.05, 1.05, -0.2, 0.3, GEN_AT_QMAX, 0.3, PQ,
         "  Gener G1                   : Q =    52.5 > Qmax =    30.0. Switched to PQ type\n"},
        {"to the lower limit", GEN_VOLTAGE_CONTROL, 1, 0.95, 0.95, -0.2, 0.3, GEN_AT_QMIN, -0.2,
         PQ, "  Gener G1                   : Q =   -47.5 < Qmin =   -20.0. Switched to PQ type\n"},
        {"inside the margin of tolreac", GEN_VOLTAGE_CONTROL, 1, 1.05, 1.05, -0.2, 0.5245,
         GEN_VOLTAGE_CONTROL, 0.525, PV, ""},
        {"back from the upper limit", GEN_AT_QMAX, 1, 1.05, 1.0502, -0.2, 0.3,
         GEN_VOLTAGE_CONTROL, 0.3, PV,
         " Volt of gener G1                   = 1.0502 > setpoint = 1.0500. Back under volt ctl\n"},
        {"not yet back: within 1e-4 of the setpoint", GEN_AT_QMAX, 1, 1.05, 1.05005, -0.2, 0.3,
         GEN_AT_QMAX, 0.3, PQ, ""},
        {"back from the lower limit", GEN_AT_QMIN, 1, 1.05, 1.0498, -0.2, 0.3,
         GEN_VOLTAGE_CONTROL, -0.2, PV,
         " Volt of gener G1                   = 1.0498 < setpoint = 1.0500. Back under volt ctl\n"},
        {"held without a setpoint", GEN_AT_QMAX, 1, 0.0, 1.2, -0.2, 0.3, GEN_AT_QMAX, 0.3, PQ, ""},
        {"out of service", GEN_VOLTAGE_CONTROL, 0, 1.05, 1.05, -0.2, 0.3, GEN_VOLTAGE_CONTROL, 0.0,
         PV, ""},
        {"fixed output never switches", GEN_PQ, 1, 1.05, 1.05, -0.2, 0.3, GEN_PQ, 0.0, PV, ""},
    };
    for (const GeneratorCase& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = two_bus();
        const int g = add_unit(net, "G1", 1, c.mode, 0.0, c.v_set, c.q_min, c.q_max);
        Generator& gen = net.generators[g];
        gen.status = c.status;
        if (c.mode == GEN_AT_QMAX) gen.q = c.q_max;
        if (c.mode == GEN_AT_QMIN) gen.q = c.q_min;
        net.buses[1].type = c.mode == GEN_VOLTAGE_CONTROL || c.mode == GEN_PQ ? PV : PQ;

        PowerFlowSolver solver;
        set_voltages(solver, 1.0, c.v1);
        std::ostringstream log;
        std::vector<SwitchCall> calls;
        const bool changed =
            solver.check_reactive_limits(net, SolverParams{}, &log, recorder(calls));

        EXPECT_EQ(log.str(), c.expected_log);
        EXPECT_EQ(changed, !log.str().empty());
        EXPECT_EQ(gen.mode, c.expected_mode);
        EXPECT_NEAR(gen.q, c.expected_q, 1e-12);
        EXPECT_EQ(net.buses[1].type, c.expected_type);
        if (c.expected_mode == GEN_VOLTAGE_CONTROL && c.mode != GEN_VOLTAGE_CONTROL) {
            EXPECT_EQ(solver.v[1], c.v_set);  // the solver's voltage is put on the setpoint
        }
        // only the switches to a limit are observed
        const bool to_limit = c.mode == GEN_VOLTAGE_CONTROL && c.expected_mode != c.mode;
        ASSERT_EQ(calls.size(), to_limit ? 1u : 0u);
        if (to_limit) {
            EXPECT_EQ(calls[0].name, "G1");
            EXPECT_NEAR(calls[0].q, c.v1 > 1.0 ? 52.5 : -47.5, 1e-9);
            EXPECT_NEAR(calls[0].limit, c.expected_mode == GEN_AT_QMAX ? 30.0 : -20.0, 1e-9);
            EXPECT_EQ(calls[0].upper, c.expected_mode == GEN_AT_QMAX);
        }
    }
}

TEST(ReactiveLimits, SwitchedUnitDoesNotReturnInTheSameCall) {
    Network net = two_bus();
    const int g = add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05, -0.2, 0.3);
    net.buses[1].type = PV;
    PowerFlowSolver solver;
    set_voltages(solver, 1.0, 1.05);
    EXPECT_TRUE(solver.check_reactive_limits(net, SolverParams{}, nullptr, {}));
    EXPECT_EQ(net.generators[g].mode, GEN_AT_QMAX);  // V equals v_set: no return in pass 3
}

TEST(ReactiveLimits, SlackGeneratorAtALimitLeavesTheSlackIndexAlone) {
    Network net = two_bus();
    net.generators[0].q_min = -0.2;
    net.generators[0].q_max = 0.2;
    add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05);
    net.buses[1].type = PV;
    PowerFlowSolver solver;
    set_voltages(solver, 1.0, 1.05);  // G0 takes 0.5 pu from the line: below its -0.2
    EXPECT_TRUE(solver.check_reactive_limits(net, SolverParams{}, nullptr, {}));
    EXPECT_EQ(net.generators[0].mode, GEN_AT_QMIN);
    EXPECT_EQ(net.buses[0].type, PQ);
    EXPECT_EQ(net.slack_bus, 0);

    // back under voltage control the slack bus becomes PV, not SLACK
    solver.v[0] = 0.99;
    EXPECT_TRUE(solver.check_reactive_limits(net, SolverParams{}, nullptr, {}));
    EXPECT_EQ(net.generators[0].mode, GEN_VOLTAGE_CONTROL);
    EXPECT_EQ(net.buses[0].type, PV);
    EXPECT_EQ(solver.v[0], 1.0);
    EXPECT_EQ(net.slack_bus, 0);
}

TEST(ReactiveLimits, MarginIsTolreacOnTheSolverBase) {
    // 0.525 pu against a limit of 0.5245 pu: inside 0.1 Mvar on 100 MVA, outside 0.1 Mvar on
    // 1000 MVA (margin 1e-4 pu)
    for (const double sbase : {100.0, 1000.0}) {
        Network net = two_bus();
        const int g = add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05, -0.2, 0.5245);
        PowerFlowSolver solver;
        set_voltages(solver, 1.0, 1.05);
        SolverParams params;
        params.sbase = sbase;
        std::vector<SwitchCall> calls;
        solver.check_reactive_limits(net, params, nullptr, recorder(calls));
        EXPECT_EQ(net.generators[g].mode, sbase == 100.0 ? GEN_VOLTAGE_CONTROL : GEN_AT_QMAX);
        if (sbase == 1000.0) {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_NEAR(calls[0].q, 525.0, 1e-9);
            EXPECT_NEAR(calls[0].limit, 524.5, 1e-9);
        }
    }
}

// --- Compensators ---------------------------------------------------------------------------

struct CompensatorCase {
    const char* what;
    int mode;
    int sense_bus;
    double v1;
    double v_set, gain, b_min, b_max;
    int expected_mode;
    std::vector<bool> observed;  // the `upper` flag of each observer call
    const char* expected_log;
};

TEST(ReactiveLimits, CompensatorSwitching) {
    const CompensatorCase cases[] = {
        {"to b_max", SVC_VOLTAGE_CONTROL, 1, 1.05, 1.1, 10.0, -0.3, 0.4, SVC_AT_BMAX, {true},
         "  SVC S1                   : Q =   52.5 > Qmax =   44.1. Switched to constant B.\n"},
        {"to b_min", SVC_VOLTAGE_CONTROL, 1, 0.95, 0.9, 10.0, -0.4, 0.4, SVC_AT_BMIN, {false},
         "  SVC S1                   : Q =  -47.5 < Qmin =  -36.1. Switched to constant B.\n"},
        {"inverted limits switch twice", SVC_VOLTAGE_CONTROL, 1, 1.05, 1.0, 5.0, 0.8, 0.4,
         SVC_AT_BMIN, {true, false},
         "  SVC S1                   : Q =   52.5 > Qmax =   44.1. Switched to constant B.\n"
         "  SVC S1                   : Q =   52.5 < Qmin =   88.2. Switched to constant B.\n"},
        {"to b_max and straight back", SVC_VOLTAGE_CONTROL, 1, 1.05, 1.0, 5.0, -0.3, 0.4,
         SVC_VOLTAGE_CONTROL, {true},
         "  SVC S1                   : Q =   52.5 > Qmax =   44.1. Switched to constant B.\n"
         " SVC S1                   : Beq = -0.250 < Bmax =  0.400. Back under volt ctl\n"},
        {"back from b_min, sensing another bus", SVC_AT_BMIN, 0, 1.05, 1.05, 5.0, -0.4, 0.4,
         SVC_VOLTAGE_CONTROL, {},
         " SVC S1                   : Beq =  0.250 > Bmin = -0.400. Back under volt ctl\n"},
        {"back from b_max", SVC_AT_BMAX, 1, 1.05, 1.0, 5.0, -0.4, 0.4, SVC_VOLTAGE_CONTROL, {},
         " SVC S1                   : Beq = -0.250 < Bmax =  0.400. Back under volt ctl\n"},
        {"stays at b_max", SVC_AT_BMAX, 1, 1.05, 1.1, 10.0, -0.4, 0.4, SVC_AT_BMAX, {}, ""},
        {"fixed output never switches", SVC_FIXED_Q, 1, 1.05, 1.1, 10.0, -0.3, 0.0, SVC_FIXED_Q,
         {}, ""},
    };
    for (const CompensatorCase& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = two_bus();
        const int s = add_compensator(net, 1, c.sense_bus, c.mode, c.v_set, c.gain, c.b_min,
                                      c.b_max);
        PowerFlowSolver solver;
        set_voltages(solver, 1.0, c.v1);
        std::ostringstream log;
        std::vector<SwitchCall> calls;
        const bool changed =
            solver.check_reactive_limits(net, SolverParams{}, &log, recorder(calls));
        EXPECT_EQ(log.str(), c.expected_log);
        EXPECT_EQ(changed, !log.str().empty());
        EXPECT_EQ(net.svcs[s].mode, c.expected_mode);
        EXPECT_EQ(net.buses[1].type, PQ);  // compensators never change a bus type
        ASSERT_EQ(calls.size(), c.observed.size());
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].name, "S1");
            EXPECT_NEAR(calls[i].q, c.v1 > 1.0 ? 52.5 : -47.5, 1e-9);
            EXPECT_EQ(calls[i].upper, c.observed[i]);
        }
    }
}

TEST(ReactiveLimits, CompensatorOutOfServiceNeverSwitches) {
    Network net = two_bus();
    const int s = add_compensator(net, 1, 1, SVC_VOLTAGE_CONTROL, 1.1, 10.0, -0.3, 0.0);
    net.svcs[s].status = 0;
    PowerFlowSolver solver;
    set_voltages(solver, 1.0, 1.05);
    EXPECT_FALSE(solver.check_reactive_limits(net, SolverParams{}, nullptr, {}));
    EXPECT_EQ(net.svcs[s].mode, SVC_VOLTAGE_CONTROL);
}

TEST(ReactiveLimits, SameSwitchesWithoutLogOrObserver) {
    auto run = [](bool with_log) {
        Network net = two_bus();
        add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.05, -0.2, 0.3);
        PowerFlowSolver solver;
        set_voltages(solver, 1.0, 1.05);
        std::ostringstream log;
        std::vector<SwitchCall> calls;
        solver.check_reactive_limits(net, SolverParams{}, with_log ? &log : nullptr,
                                     with_log ? recorder(calls) : LimitSwitchObserver{});
        return std::vector<double>{double(net.generators[1].mode), net.generators[1].q,
                                   double(net.buses[1].type)};
    };
    EXPECT_EQ(run(true), run(false));
}

// --- Tap changers ---------------------------------------------------------------------------

// B0 the slack, B1 a load bus behind transformer T01 (0 -> 1) with a three-position table.
Network tap_network(bool ratio_increasing, int controlled_bus, int pos) {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    add_plain_bus(net, "B1", PQ);
    net.slack_bus = 0;
    Branch t = reactance("T01", 0, 1, 0.1);
    t.is_transformer = true;
    t.kind = BRANCH_REGULATED_TRANSFORMER;
    net.add_branch(t);
    TapRegulator tap;
    tap.branch = 0;
    tap.bus = controlled_bus;
    tap.vdes = 1.0;
    tap.deadband = 0.01;
    tap.ratio_increasing = ratio_increasing;
    tap.ratios = ratio_increasing ? std::vector<double>{0.95, 1.0, 1.05}
                                  : std::vector<double>{1.05, 1.0, 0.95};
    tap.pos_min = 0;
    tap.pos_max = 2;
    tap.pos = tap.pos_init = pos;
    net.branches[0].ratio = tap.ratios[pos];
    net.tap_regulators.push_back(tap);
    return net;
}

struct TapCase {
    bool ratio_increasing;
    int bus;     // controlled end
    double v;    // its voltage in the solver
    int new_pos;
    double new_ratio;
};

TEST(TapChangers, StepDirectionFollowsTableEndAndSide) {
    // The ratio divides the to-end voltage: a low to end or a high from end needs a higher ratio.
    const TapCase cases[] = {
        {true, 1, 0.98, 2, 1.05},  {true, 1, 1.02, 0, 0.95},  {true, 0, 0.98, 0, 0.95},
        {true, 0, 1.02, 2, 1.05},  {false, 1, 0.98, 0, 1.05}, {false, 1, 1.02, 2, 0.95},
        {false, 0, 0.98, 2, 0.95}, {false, 0, 1.02, 0, 1.05},
    };
    for (const TapCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "increasing " << c.ratio_increasing << " bus " << c.bus
                                        << " v " << c.v);
        Network net = tap_network(c.ratio_increasing, c.bus, 1);
        PowerFlowSolver solver;
        set_voltages(solver, 1.0, 1.0);
        solver.v[c.bus] = c.v;
        std::ostringstream log;
        EXPECT_TRUE(solver.adjust_taps(net, SolverParams{}, &log));
        EXPECT_EQ(net.tap_regulators[0].pos, c.new_pos);
        EXPECT_EQ(net.branches[0].ratio, c.new_ratio);
        const bool up = c.new_pos == 2;
        EXPECT_EQ(log.str(), " trfo T01                  v= " + printf_text("%.4f", c.v) +
                                 " vdes= 1.0000 pos=   " + std::to_string(c.new_pos) +
                                 " rat= " + printf_text("%.3f", c.new_ratio) +
                                 "\n in-phase trfo taps :   " + (up ? "0" : "1") +
                                 " down       " + (up ? "1" : "0") + " up\n");
    }
}

TEST(TapChangers, NoStepInsideTheBandAtTheTableEndOrOnABranchNotExactlyInService) {
    struct Case {
        const char* what;
        int pos;
        double v;  // band 1.0 +- 0.25, edges exactly representable
        int status;
    };
    const Case cases[] = {
        {"on the upper edge of the band", 1, 1.25, 1},
        {"on the lower edge of the band", 1, 0.75, 1},
        {"at the last position", 2, 0.5, 1},
        {"at the first position", 0, 1.5, 1},
        {"branch out of service", 1, 0.5, 0},
        {"branch with status 2", 1, 0.5, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = tap_network(true, 1, c.pos);
        net.tap_regulators[0].deadband = 0.25;
        net.branches[0].status = c.status;
        PowerFlowSolver solver;
        set_voltages(solver, 1.0, c.v);
        std::ostringstream log;
        EXPECT_FALSE(solver.adjust_taps(net, SolverParams{}, &log));
        EXPECT_EQ(net.tap_regulators[0].pos, c.pos);
        EXPECT_EQ(log.str(), "");
    }
}

TEST(TapChangers, CountsStepsOfEveryRegulator) {
    Network net = tap_network(true, 1, 1);
    add_plain_bus(net, "B2", PQ);
    net.add_branch(reactance("T02", 0, 2, 0.1));
    TapRegulator second = net.tap_regulators[0];
    second.branch = 1;
    second.bus = 2;
    net.tap_regulators.push_back(second);
    PowerFlowSolver solver;
    solver.v = {1.0, 0.98, 1.03};
    solver.theta = {0.0, 0.0, 0.0};
    std::ostringstream log;
    EXPECT_TRUE(solver.adjust_taps(net, SolverParams{}, &log));
    EXPECT_EQ(log.str(),
              " trfo T01                  v= 0.9800 vdes= 1.0000 pos=   2 rat= 1.050\n"
              " trfo T02                  v= 1.0300 vdes= 1.0000 pos=   0 rat= 0.950\n"
              " in-phase trfo taps :   1 down       1 up\n");
}

// --- Phase-shifter table moves --------------------------------------------------------------

PhaseShifter table_shifter() {
    PhaseShifter ps;
    ps.branch = 0;
    ps.monitored_branch = 0;
    ps.r = 0.01;
    ps.positions = {1, 5, 9};
    ps.x = {0.1, 0.2, 0.3};
    ps.ratios = {1.0, 1.02, 1.04};
    ps.shifts = {-0.2, 0.0, 0.2};
    ps.pos = ps.pos_init = 5;
    return ps;
}

TEST(PhaseShifterMoves, ExactAndInterpolatedPositions) {
    struct Case {
        int position;
        double x, ratio, shift;
    };
    const Case cases[] = {{1, 0.1, 1.0, -0.2},    {5, 0.2, 1.02, 0.0},   {9, 0.3, 1.04, 0.2},
                          {3, 0.15, 1.01, -0.1},  {8, 0.275, 1.035, 0.15}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        Network net = two_bus();
        PhaseShifter ps = table_shifter();
        EXPECT_TRUE(PowerFlowSolver::move_pst(net, ps, c.position));
        EXPECT_EQ(ps.pos, c.position);
        const Branch& br = net.branches[0];
        EXPECT_NEAR(br.ratio, c.ratio, 1e-15);
        EXPECT_NEAR(br.shift, c.shift, 1e-15);
        const double d = 0.01 * 0.01 + c.x * c.x;
        EXPECT_NEAR(br.g_from, 0.01 / d, 1e-12);
        EXPECT_NEAR(br.b_from, -c.x / d, 1e-12);
        EXPECT_EQ(br.g_to, br.g_from);
        EXPECT_EQ(br.b_to, br.b_from);
    }
}

TEST(PhaseShifterMoves, RefusedPositionsChangeNothing) {
    for (const int position : {0, -1, 10}) {
        SCOPED_TRACE(position);
        Network net = two_bus();
        const Branch before = net.branches[0];
        PhaseShifter ps = table_shifter();
        EXPECT_FALSE(PowerFlowSolver::move_pst(net, ps, position));
        EXPECT_EQ(ps.pos, 5);
        EXPECT_EQ(net.branches[0].shift, before.shift);
        EXPECT_EQ(net.branches[0].b_from, before.b_from);
    }
    Network net = two_bus();
    PhaseShifter empty;
    empty.branch = 0;
    EXPECT_FALSE(PowerFlowSolver::move_pst(net, empty, 1));
}

TEST(PhaseShifterMoves, ZeroImpedanceKeepsTheSeriesAdmittance) {
    Network net = two_bus();
    PhaseShifter ps = table_shifter();
    ps.r = 0.0;
    ps.x = {0.0, 0.0, 0.0};
    EXPECT_TRUE(PowerFlowSolver::move_pst(net, ps, 9));
    EXPECT_EQ(net.branches[0].ratio, 1.04);
    EXPECT_EQ(net.branches[0].shift, 0.2);
    EXPECT_EQ(net.branches[0].g_from, 0.0);
    EXPECT_EQ(net.branches[0].b_from, -10.0);
}

// --- Phase-shifter sensitivity --------------------------------------------------------------

enum Layout {
    SHIFTER_AT_SLACK,       // PST 0 -> 1 from the slack bus, monitoring itself
    SHIFTER_INTO_SLACK,     // PST 1 -> 0 into the slack bus, monitoring itself
    SHIFTER_INLAND,         // line 0 -> 1, PST 1 -> 2, monitoring itself
    SHIFTER_INLAND_OTHER,   // the same, monitoring the line parallel to it
    SHIFTER_FROM_PV_BUS,    // the same, B1 voltage-controlled
};

struct SensitivityNetwork {
    Network net;
    int pst = -1;
    int monitored = -1;
};

SensitivityNetwork sensitivity_network(Layout layout) {
    SensitivityNetwork s;
    Network& net = s.net;
    add_plain_bus(net, "B0", SLACK);
    net.slack_bus = 0;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.02);
    if (layout == SHIFTER_AT_SLACK || layout == SHIFTER_INTO_SLACK) {
        add_plain_bus(net, "B1", PQ, 0.8, 0.2);
        Branch pst = impedance("PST", 0, 1, 0.01, 0.2);
        if (layout == SHIFTER_INTO_SLACK) std::swap(pst.from, pst.to);
        pst.shift = 0.05;
        s.pst = net.add_branch(pst);
        net.add_branch(impedance("L01", 0, 1, 0.02, 0.25));
        s.monitored = s.pst;
        return s;
    }
    add_plain_bus(net, "B1", PQ, 0.2, 0.05);
    add_plain_bus(net, "B2", PQ, 0.9, 0.3);
    net.add_branch(impedance("L01", 0, 1, 0.01, 0.05));
    Branch pst = impedance("PST", 1, 2, 0.01, 0.2);
    pst.shift = -0.04;
    pst.ratio = 1.02;
    s.pst = net.add_branch(pst);
    const int parallel = net.add_branch(impedance("L12", 1, 2, 0.03, 0.3));
    net.add_branch(impedance("L02", 0, 2, 0.02, 0.4));
    s.monitored = layout == SHIFTER_INLAND_OTHER ? parallel : s.pst;
    if (layout == SHIFTER_FROM_PV_BUS) {
        net.buses[1].type = PV;
        add_unit(net, "G1", 1, GEN_VOLTAGE_CONTROL, 0.0, 1.0);
        net.generators[1].p = 0.3;
    }
    return s;
}

SolverParams tight() {
    SolverParams params;
    params.tolac = 1e-7;
    params.tolreac = 1e-7;
    params.misqlim = 0.0;
    params.misadj = 0.0;
    return params;
}

double solved_flow(Network net, int branch, int shifter, double shift) {
    net.branches[shifter].shift = shift;
    PowerFlowSolver solver;
    const SolveResult r = solver.solve(net, tight());
    EXPECT_TRUE(r.converged);
    return compute_branch_flow(net, branch).p_from;
}

TEST(PhaseShifterSensitivity, MatchesAFiniteDifferenceOfTheSolvedFlow) {
    const struct {
        const char* what;
        Layout layout;
    } cases[] = {
        {"from the slack bus, own flow", SHIFTER_AT_SLACK},
        {"into the slack bus, own flow", SHIFTER_INTO_SLACK},
        {"between load buses, own flow", SHIFTER_INLAND},
        {"between load buses, parallel flow", SHIFTER_INLAND_OTHER},
        {"from a voltage-controlled bus, own flow", SHIFTER_FROM_PV_BUS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SensitivityNetwork s = sensitivity_network(c.layout);
        PowerFlowSolver solver;
        ASSERT_TRUE(solver.solve(s.net, tight()).converged);
        const double sensitivity = solver.compute_pst_sensitivity(s.net, s.monitored, s.pst);

        const double h = 1e-5;
        const double shift = s.net.branches[s.pst].shift;
        const double reference = (solved_flow(s.net, s.monitored, s.pst, shift + h) -
                                  solved_flow(s.net, s.monitored, s.pst, shift - h)) /
                                 (2 * h);
        EXPECT_GT(std::fabs(reference), 0.05);
        EXPECT_NEAR(sensitivity, reference, 1e-4 * std::fabs(reference));
    }
}

TEST(PhaseShifterSensitivity, ZeroForMissingOrOpenBranches) {
    SensitivityNetwork s = sensitivity_network(SHIFTER_INLAND);
    PowerFlowSolver solver;
    ASSERT_TRUE(solver.solve(s.net, tight()).converged);
    EXPECT_EQ(solver.compute_pst_sensitivity(s.net, -1, s.pst), 0.0);
    EXPECT_EQ(solver.compute_pst_sensitivity(s.net, s.monitored, -1), 0.0);
    s.net.branches[s.pst].status = 0;
    EXPECT_EQ(solver.compute_pst_sensitivity(s.net, s.monitored, s.pst), 0.0);
}

// --- Phase-shifter control in adjust_taps ---------------------------------------------------

// The network of SHIFTER_AT_SLACK with a 21-position table from -0.2 to 0.2 rad, at position 11
// (no shift), solved without controls so that a factorisation exists.
struct ControlledShifter {
    Network net;
    PowerFlowSolver solver;
};

void prepare_shifter(ControlledShifter& c, int sign) {
    c.net = sensitivity_network(SHIFTER_AT_SLACK).net;
    PhaseShifter ps;
    ps.branch = 0;
    ps.monitored_branch = 0;
    ps.r = 0.01;
    ps.sign = sign;
    ps.positions = {1, 21};
    ps.x = {0.2, 0.2};
    ps.ratios = {1.0, 1.0};
    ps.shifts = {-0.2, 0.2};
    ps.pos = ps.pos_init = 11;
    c.net.phase_shifters.push_back(ps);
    c.net.branches[0].shift = 0.0;
    ASSERT_TRUE(c.solver.solve(c.net, tight()).converged);
    c.solver.pst_sensitivity_due = true;
}

TEST(PhaseShifterControl, StepsTowardsTheSetpointAndReversesAWrongSign) {
    ControlledShifter c;
    prepare_shifter(c, -1);
    const double p = compute_branch_flow(c.net, 0).p_from;
    PhaseShifter& ps = c.net.phase_shifters[0];
    ps.pdes = p + 0.2;
    ps.deadband = 0.01;
    std::ostringstream log;
    EXPECT_TRUE(c.solver.adjust_taps(c.net, tight(), &log));
    EXPECT_GT(c.solver.pst_sensitivity[0], 0.0);
    EXPECT_FALSE(c.solver.pst_sensitivity_due);
    EXPECT_EQ(ps.sign, 1);
    EXPECT_EQ(ps.pos, 12);  // a rising table: up raises the angle and the flow
    EXPECT_NEAR(c.net.branches[0].shift, 0.02, 1e-15);
    EXPECT_EQ(log.str(), " Evaluating phase shifter sensitivities\n"
                         " sign of phase control in transformer PST                  reversed !\n"
                         " PST  PST                  p= " + printf_text("%7.1f", p * 100) +
                         " pdes= " + printf_text("%7.1f", (p + 0.2) * 100) +
                         " pos=  12 pha=  1.146\n"
                         " phase shifter taps :   0 down       1 up\n");

    // the sensitivity is reused: no new evaluation line, no new sign test
    ps.sign = -1;
    std::ostringstream again;
    EXPECT_TRUE(c.solver.adjust_taps(c.net, tight(), &again));
    EXPECT_EQ(ps.sign, -1);
    EXPECT_EQ(again.str().find(" Evaluating"), std::string::npos);
    EXPECT_EQ(ps.pos, 13);
}

TEST(PhaseShifterControl, NoStepInsideTheBandBelowTheSensitivityOrOffTheTable) {
    struct Case {
        const char* what;
        double offset;          // pdes - p, pu
        double deadband;        // pu
        double sensitivity;     // stored; negative: computed
        int pos;
    };
    const Case cases[] = {
        {"on the setpoint, no band", 0.0, 0.0, -1, 11},
        {"inside 0.9 of the band", 0.05, 0.1, -1, 11},
        {"sensitivity below 0.01", 0.2, 0.01, 0.005, 11},
        {"at the table end", 0.2, 0.01, -1, 21},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ControlledShifter c;
        prepare_shifter(c, 1);
        PhaseShifter& ps = c.net.phase_shifters[0];
        if (k.pos != 11) {
            ASSERT_TRUE(PowerFlowSolver::move_pst(c.net, ps, k.pos));
        }
        ps.pdes = compute_branch_flow(c.net, 0).p_from + k.offset;
        ps.deadband = k.deadband;
        if (k.sensitivity >= 0) {
            c.solver.pst_sensitivity_due = false;
            c.solver.pst_sensitivity = {k.sensitivity};
        }
        std::ostringstream log;
        EXPECT_FALSE(c.solver.adjust_taps(c.net, tight(), &log));
        EXPECT_EQ(ps.pos, k.pos);
        EXPECT_EQ(log.str().find(" PST "), std::string::npos);
        EXPECT_EQ(log.str().find(" phase shifter taps"), std::string::npos);
    }
}

// A short-form table may end at the largest int: the step beyond it is refused like any other
// table end, and never computed (pos + 1 would overflow).
TEST(PhaseShifterControl, NoStepPastATableEndAtTheLargestInt) {
    ControlledShifter c;
    prepare_shifter(c, 1);
    PhaseShifter& ps = c.net.phase_shifters[0];
    ps.positions = {1, std::numeric_limits<int>::max()};
    ASSERT_TRUE(PowerFlowSolver::move_pst(c.net, ps, ps.positions[1]));
    ps.pdes = compute_branch_flow(c.net, 0).p_from + 0.2;  // asks for a step up
    ps.deadband = 0.01;
    std::ostringstream log;
    EXPECT_FALSE(c.solver.adjust_taps(c.net, tight(), &log));
    EXPECT_EQ(ps.pos, std::numeric_limits<int>::max());
    EXPECT_EQ(log.str(), " Evaluating phase shifter sensitivities\n");
}

// The step needs a deviation strictly larger than 0.9 of the band: a setpoint or a band that is
// not a number ("nan" reads as a number from the record) never moves the shifter.
TEST(PhaseShifterControl, NoStepWhenTheDeviationTestIsNotANumber) {
    const struct {
        const char* what;
        double pdes;      // NaN: not a number; otherwise offset from the flow, pu
        double deadband;  // pu
    } cases[] = {
        {"setpoint not a number", std::nan(""), 0.01},
        {"band not a number", 0.2, std::nan("")},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        ControlledShifter c;
        prepare_shifter(c, 1);
        PhaseShifter& ps = c.net.phase_shifters[0];
        ps.pdes = std::isnan(k.pdes) ? k.pdes : compute_branch_flow(c.net, 0).p_from + k.pdes;
        ps.deadband = k.deadband;
        std::ostringstream log;
        EXPECT_FALSE(c.solver.adjust_taps(c.net, tight(), &log));
        EXPECT_EQ(ps.pos, 11);
        EXPECT_EQ(log.str(), " Evaluating phase shifter sensitivities\n");
    }
}

TEST(PhaseShifterControl, WaitsForAFactorisationAndSkipsOpenBranches) {
    ControlledShifter c;
    prepare_shifter(c, 1);
    PhaseShifter& ps = c.net.phase_shifters[0];
    ps.pdes = compute_branch_flow(c.net, 0).p_from + 0.2;

    c.solver.factorized = false;
    std::ostringstream log;
    EXPECT_FALSE(c.solver.adjust_taps(c.net, tight(), &log));
    EXPECT_EQ(log.str(), "");
    EXPECT_TRUE(c.solver.pst_sensitivity_due);

    c.solver.factorized = true;
    c.net.branches[1].status = 0;  // the parallel line: nothing to do with the shifter
    ps.monitored_branch = 1;       // an open monitored branch
    EXPECT_FALSE(c.solver.adjust_taps(c.net, tight(), &log));
    EXPECT_EQ(log.str(), " Evaluating phase shifter sensitivities\n");
    EXPECT_EQ(c.solver.pst_sensitivity[0], 0.0);
    EXPECT_FALSE(c.solver.pst_sensitivity_due);
}

TEST(PhaseShifterControl, TwoShiftersOnOneMonitoredBranchEachGetTheirOwnStep) {
    // PST (B1 -> B2) and a second shifter PST2 in parallel both hold the flow of line L12
    SensitivityNetwork s = sensitivity_network(SHIFTER_INLAND_OTHER);
    Network& net = s.net;
    Branch second = impedance("PST2", 1, 2, 0.01, 0.4);
    const int pst2 = net.add_branch(second);
    for (const int branch : {s.pst, pst2}) {
        PhaseShifter ps;
        ps.branch = branch;
        ps.monitored_branch = s.monitored;
        ps.r = 0.01;
        ps.positions = {1, 21};
        ps.x = {branch == s.pst ? 0.2 : 0.4, branch == s.pst ? 0.2 : 0.4};
        ps.ratios = {net.branches[branch].ratio, net.branches[branch].ratio};
        ps.shifts = {-0.2, 0.2};
        ps.pos = ps.pos_init = 11;
        net.branches[branch].shift = 0.0;
        net.phase_shifters.push_back(ps);
    }
    PowerFlowSolver solver;
    ASSERT_TRUE(solver.solve(net, tight()).converged);
    const double p = compute_branch_flow(net, s.monitored).p_from;
    for (PhaseShifter& ps : net.phase_shifters) {
        ps.pdes = p - 0.1;  // less flow on the line: more on the shifters
        ps.deadband = 0.01;
    }
    solver.pst_sensitivity_due = true;
    std::ostringstream log;
    EXPECT_TRUE(solver.adjust_taps(net, tight(), &log));
    ASSERT_EQ(solver.pst_sensitivity.size(), 2u);
    EXPECT_LT(solver.pst_sensitivity[0], -0.01);
    EXPECT_LT(solver.pst_sensitivity[1], -0.01);
    EXPECT_NE(solver.pst_sensitivity[0], solver.pst_sensitivity[1]);
    EXPECT_EQ(net.phase_shifters[0].pos, 12);
    EXPECT_EQ(net.phase_shifters[1].pos, 12);
    EXPECT_NE(log.str().find(" phase shifter taps :   0 down       2 up\n"), std::string::npos);
}

}  // namespace
}  // namespace varnok
