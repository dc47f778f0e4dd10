// The modification engine: each change, its text and the deficit it leaves; the zone passes; the
// final prune, redispatch and solve. The expected figures repeat the engine's own arithmetic in
// its order, so they are compared exactly.
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "network/InputParser.h"
#include "network/Network.h"
#include "network/NumberText.h"
#include "network/SolverParams.h"
#include "powerflow/PowerFlow.h"
#include "powerflow/network_builders.h"
#include "studies/ModifyEngine.h"

namespace varnok {
namespace {

// grid.txt at base 100 MVA: buses S (slack) A B C D; lines L_SA L_SB L_AB L_BC (C hangs on it)
// L_BD (D hangs on it); GS at S (no active limits), GA at A 50 MW in [0, 80], GC at C 20 MW in
// [0, 30] (both participation 1), GD at D out of service; SV at B; loads A 20, B 60 + j20,
// C 5, D 10 MW. Zones ZG {A 1, C 1}, ZL {B 0.5/1, D 0.5/1}, ZP {B 1/0}, ZZ {B, D} of "ZONE".
struct Grid {
    Network net;
    SolverParams params;
    PowerFlowSolver solver;
    ModifyEngine engine{net, solver, params};

    Grid() {
        InputParser{}.load(std::string(VARNOK_TEST_DATA_DIR) + "/modify/grid.txt", net, params);
    }
    Bus& bus(const char* name) { return net.buses[net.find_bus(name)]; }
    Branch& branch(const char* name) { return net.branches[net.find_branch(name)]; }
    Generator& gen(const char* name) { return net.generators[net.find_gen(name)]; }
    SVC& svc(const char* name) { return net.svcs[net.find_svc(name)]; }
};

struct ChangeCase {
    const char* what;
    std::function<void(Grid&)> prepare;  // the state before the change
    std::function<std::string(ModifyEngine&)> change;
    std::string text;
    double delta_p;                       // pu after the change
    std::function<void(Grid&)> check;     // the network after it
};

void nothing(Grid&) {}

std::vector<ChangeCase> single_element_cases() {
    return {
        {"trip a branch", nothing, [](ModifyEngine& e) { return e.trip_branch("L_BD"); },
         " Branch L_BD tripped.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.branch("L_BD").status, 0);
             EXPECT_EQ(g.bus("D").type, PQ);
         }},
        {"trip a branch already out", [](Grid& g) { g.branch("L_BD").status = 0; },
         [](ModifyEngine& e) { return e.trip_branch("L_BD"); }, " Branch L_BD tripped.\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.branch("L_BD").status, 0); }},
        {"connect a branch in service", nothing,
         [](ModifyEngine& e) { return e.connect_branch("L_BD"); },
         " This branch is already connected !\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.branch("L_BD").status, 1); }},
        {"connect a branch to a pruned bus",
         [](Grid& g) {
             g.branch("L_BC").status = 0;
             g.bus("C").type = ISOLATED;
         },
         [](ModifyEngine& e) { return e.connect_branch("L_BC"); }, " Branch L_BC connected.\n",
         0.0,
         [](Grid& g) {
             EXPECT_EQ(g.branch("L_BC").status, 1);
             EXPECT_EQ(g.bus("C").type, ISOLATED);
         }},
        {"trip the slack generator", nothing,
         [](ModifyEngine& e) { return e.trip_generator("GS"); },
         " Slack generator must not be tripped !\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.gen("GS").status, 1); }},
        {"trip a generator in service", nothing,
         [](ModifyEngine& e) { return e.trip_generator("GA"); }, " Generator GA tripped.\n",
         50.0 / 100.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GA").status, 0);
             EXPECT_EQ(g.gen("GA").p, 50.0 / 100.0);
             EXPECT_EQ(g.bus("A").type, PQ);
         }},
        {"trip a generator already out", nothing,
         [](ModifyEngine& e) { return e.trip_generator("GD"); }, " Generator GD tripped.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GD").status, 0);
             EXPECT_EQ(g.bus("D").type, PQ);
         }},
        {"trip a generator already out that still holds an output",
         [](Grid& g) { g.gen("GD").p = 0.07; },
         [](ModifyEngine& e) { return e.trip_generator("GD"); }, " Generator GD tripped.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GD").status, 0);
             EXPECT_EQ(g.gen("GD").p, 0.07);
         }},
        {"trip any generator without a slack bus", [](Grid& g) { g.net.slack_bus = -1; },
         [](ModifyEngine& e) { return e.trip_generator("GS"); }, " Generator GS tripped.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GS").status, 0);
             EXPECT_EQ(g.bus("S").type, SLACK);  // only a PV bus becomes PQ
         }},
        {"connect a generator in service", nothing,
         [](ModifyEngine& e) { return e.connect_generator("GA"); },
         " This generator is already connected !\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.gen("GA").v_set, 1.02); }},
        {"connect a generator after a trip",
         [](Grid& g) {
             g.gen("GA").status = 0;
             g.gen("GA").mode = GEN_PQ;
             g.bus("A").type = PQ;
             g.bus("A").v = 1.03;
         },
         [](ModifyEngine& e) { return e.connect_generator("GA"); },
         " Generator GA connected.\n", 0.0,
         [](Grid& g) {
             const Generator& ga = g.gen("GA");
             EXPECT_EQ(ga.status, 1);
             EXPECT_EQ(ga.mode, GEN_VOLTAGE_CONTROL);
             EXPECT_EQ(ga.p, 0.0);
             EXPECT_EQ(ga.v_set, 1.03);
             EXPECT_EQ(g.bus("A").type, PV);
         }},
        {"connect a generator at a pruned bus left at 0 V",
         [](Grid& g) {
             g.gen("GC").status = 0;
             g.bus("C").type = ISOLATED;
             g.bus("C").v = 0.0;
         },
         [](ModifyEngine& e) { return e.connect_generator("GC"); },
         " Generator GC connected.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GC").v_set, 1.01);  // the voltage as read
             EXPECT_EQ(g.bus("C").type, PV);
         }},
        {"connect a generator at 0 V read as 0 V",
         [](Grid& g) {
             g.gen("GC").status = 0;
             g.bus("C").v = 0.0;
             g.bus("C").v_init = 0.0;
         },
         [](ModifyEngine& e) { return e.connect_generator("GC"); },
         " Generator GC connected.\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.gen("GC").v_set, 1.0); }},
        {"trip an SVC", nothing, [](ModifyEngine& e) { return e.trip_svc("SV"); },
         " SVC SV tripped.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.svc("SV").status, 0);
             EXPECT_EQ(g.bus("B").type, PQ);
         }},
        {"connect an SVC in service", nothing, [](ModifyEngine& e) { return e.connect_svc("SV"); },
         " This SVC is already connected !\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.svc("SV").v_set, 1.0); }},
        {"connect an SVC: its own bus's voltage",
         [](Grid& g) {
             SVC& sv = g.svc("SV");
             sv.status = 0;
             sv.mode = SVC_FIXED_Q;
             sv.sense_bus = g.net.find_bus("D");
             g.bus("B").v = 0.98;
             g.bus("D").v = 0.97;
         },
         [](ModifyEngine& e) { return e.connect_svc("SV"); }, " SVC SV connected.\n", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.svc("SV").status, 1);
             EXPECT_EQ(g.svc("SV").mode, SVC_VOLTAGE_CONTROL);
             EXPECT_EQ(g.svc("SV").v_set, 0.98);
             EXPECT_EQ(g.bus("B").type, PQ);
         }},
        {"connect an SVC at a bus left at 0 V",
         [](Grid& g) {
             g.svc("SV").status = 0;
             g.bus("B").v = 0.0;
             g.bus("B").v_init = 0.99;
         },
         [](ModifyEngine& e) { return e.connect_svc("SV"); }, " SVC SV connected.\n", 0.0,
         [](Grid& g) { EXPECT_EQ(g.svc("SV").v_set, 0.99); }},
        {"set a voltage setpoint", nothing,
         [](ModifyEngine& e) { return e.set_generator_voltage("GA", 1.05); }, "", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GA").v_set, 1.05);
             EXPECT_EQ(g.gen("GA").mode, GEN_VOLTAGE_CONTROL);
             EXPECT_EQ(g.bus("A").type, PV);
         }},
        {"fix a reactive output", nothing,
         [](ModifyEngine& e) { return e.switch_generator_to_pq("GA", 30.0); }, "", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GA").q, 30.0 / 100.0);
             EXPECT_EQ(g.gen("GA").mode, GEN_AT_QMAX);
             EXPECT_EQ(g.gen("GA").v_set, 1.02);
             EXPECT_EQ(g.bus("A").type, PQ);  // the unit no longer holds the voltage
         }},
        {"fix the reactive output of the slack unit", nothing,
         [](ModifyEngine& e) { return e.switch_generator_to_pq("GS", 12.0); }, "", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GS").q, 12.0 / 100.0);
             EXPECT_EQ(g.gen("GS").mode, GEN_AT_QMAX);
             EXPECT_EQ(g.bus("S").type, PQ);
             EXPECT_EQ(g.net.slack_bus, g.net.find_bus("S"));
         }},
        {"fix the reactive output of a unit out of service", nothing,
         [](ModifyEngine& e) { return e.switch_generator_to_pq("GD", -5.0); }, "", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GD").q, -5.0 / 100.0);
             EXPECT_EQ(g.gen("GD").status, 0);
         }},
        {"a unit out of service fixed at a PV bus leaves the bus PV",
         [](Grid& g) { g.gen("GA").status = 0; },
         [](ModifyEngine& e) { return e.switch_generator_to_pq("GA", 30.0); }, "", 0.0,
         [](Grid& g) {
             EXPECT_EQ(g.gen("GA").q, 30.0 / 100.0);
             EXPECT_EQ(g.gen("GA").mode, GEN_AT_QMAX);
             EXPECT_EQ(g.bus("A").type, PV);
         }},
        {"change a shunt", nothing, [](ModifyEngine& e) { return e.change_shunt("B", 20.0); }, "",
         0.0, [](Grid& g) { EXPECT_EQ(g.bus("B").b_shunt, 0.0 + 20.0 / 100.0); }},
        {"change a load", nothing,
         [](ModifyEngine& e) { return e.demand_increase_bus("B", 10.0, 5.0); }, "", 10.0 / 100.0,
         [](Grid& g) {
             EXPECT_EQ(g.bus("B").p_load, 60.0 / 100.0 + 10.0 / 100.0);
             EXPECT_EQ(g.bus("B").q_load, 20.0 / 100.0 + 5.0 / 100.0);
         }},
        {"raise a generator", nothing,
         [](ModifyEngine& e) { return e.gen_increase_bus("GA", 20.0); }, "", -(20.0 / 100.0),
         [](Grid& g) { EXPECT_EQ(g.gen("GA").p, 50.0 / 100.0 + 20.0 / 100.0); }},
        {"raise a generator past its maximum", nothing,
         [](ModifyEngine& e) { return e.gen_increase_bus("GA", 50.0); },
         " active power limited to maximum (80 MW)\n",
         -(50.0 / 100.0) + ((50.0 / 100.0 + 50.0 / 100.0) - 80.0 / 100.0),
         [](Grid& g) { EXPECT_EQ(g.gen("GA").p, 80.0 / 100.0); }},
        {"lower a generator past its minimum", nothing,
         [](ModifyEngine& e) { return e.gen_increase_bus("GA", -60.0); },
         " active power limited to minimum (0 MW)\n",
         60.0 / 100.0 + (50.0 / 100.0 - 60.0 / 100.0),
         [](Grid& g) { EXPECT_EQ(g.gen("GA").p, 0.0); }},
        {"raise a generator onto its maximum exactly", [](Grid& g) { g.gen("GA").p_max = 0.75; },
         [](ModifyEngine& e) { return e.gen_increase_bus("GA", 25.0); }, "", -0.25,
         [](Grid& g) { EXPECT_EQ(g.gen("GA").p, 0.75); }},
        {"raise a generator out of operation", nothing,
         [](ModifyEngine& e) { return e.gen_increase_bus("GD", 5.0); },
         " generator not in operation !\n", 0.0, [](Grid& g) { EXPECT_EQ(g.gen("GD").p, 0.0); }},
    };
}

TEST(ModifyEngine, SingleElementChanges) {
    for (const ChangeCase& c : single_element_cases()) {
        SCOPED_TRACE(c.what);
        Grid g;
        c.prepare(g);
        EXPECT_EQ(c.change(g.engine), c.text);
        EXPECT_EQ(g.engine.delta_p, c.delta_p);
        c.check(g);
    }
}

TEST(ModifyEngine, UnknownNamesChangeNothing) {
    const std::vector<std::pair<std::function<std::string(ModifyEngine&)>, const char*>> calls = {
        {[](ModifyEngine& e) { return e.trip_branch("l_bd"); }, " unknown branch !\n"},
        {[](ModifyEngine& e) { return e.connect_branch("X"); }, " unknown branch !\n"},
        {[](ModifyEngine& e) { return e.trip_generator("X"); }, " unknown generator !\n"},
        {[](ModifyEngine& e) { return e.connect_generator("X"); }, " unknown generator !\n"},
        {[](ModifyEngine& e) { return e.set_generator_voltage("X", 1.0); },
         " unknown generator !\n"},
        {[](ModifyEngine& e) { return e.switch_generator_to_pq("X", 1.0); },
         " unknown generator !\n"},
        {[](ModifyEngine& e) { return e.gen_increase_bus("X", 1.0); }, " unknown generator !\n"},
        {[](ModifyEngine& e) { return e.trip_svc("X"); }, " unknown SVC !\n"},
        {[](ModifyEngine& e) { return e.connect_svc("X"); }, " unknown SVC !\n"},
        {[](ModifyEngine& e) { return e.change_shunt("X", 1.0); }, " unknown bus !\n"},
        {[](ModifyEngine& e) { return e.demand_increase_bus("X", 1.0, 1.0); }, " unknown bus !\n"},
        {[](ModifyEngine& e) { return e.demand_increase_zone("X", 1.0, 1.0); },
         " unknown zone !\n"},
        {[](ModifyEngine& e) { return e.gen_increase_zone("X", 1.0); }, " unknown zone !\n"},
    };
    for (const auto& [call, text] : calls) {
        Grid g;
        EXPECT_EQ(call(g.engine), text);
        EXPECT_EQ(g.engine.delta_p, 0.0);
    }
}

TEST(ModifyEngine, ZoneLoadFollowsBothFactors) {
    Grid g;
    EXPECT_EQ(g.engine.demand_increase_zone("ZL", 10.0, 4.0), "");
    EXPECT_EQ(g.engine.delta_p, 10.0 / 100.0);
    EXPECT_EQ(g.bus("B").p_load, 60.0 / 100.0 + ((10.0 / 100.0) * 0.5) / 1.0);
    EXPECT_EQ(g.bus("D").p_load, 10.0 / 100.0 + ((10.0 / 100.0) * 0.5) / 1.0);
    EXPECT_EQ(g.bus("B").q_load, 20.0 / 100.0 + ((4.0 / 100.0) * 1.0) / 2.0);
    EXPECT_EQ(g.bus("D").q_load, 3.0 / 100.0 + ((4.0 / 100.0) * 1.0) / 2.0);
}

TEST(ModifyEngine, ZoneLoadRefusedWhenEitherSumOfFactorsIsZero) {
    // ZP has no reactive factors (refused for an active-only change too), ZZ none at all.
    for (const char* zone : {"ZP", "ZZ", "EMPTY"}) {
        Grid g;
        g.net.add_zone(Zone{"EMPTY", {}});
        EXPECT_EQ(g.engine.demand_increase_zone(zone, 10.0, 0.0),
                  " sum of bus participations is zero !\n")
            << zone;
        EXPECT_EQ(g.engine.delta_p, 0.0);
        EXPECT_EQ(g.bus("B").p_load, 60.0 / 100.0);
    }
}

TEST(ModifyEngine, ZoneGenerationPlacedInOnePass) {
    Grid g;
    EXPECT_EQ(g.engine.gen_increase_zone("ZG", 10.0), "");
    const double asked = 10.0 / 100.0;
    const double move = (asked * 1.0) / 2.0;
    EXPECT_EQ(g.gen("GA").p, 50.0 / 100.0 + move);
    EXPECT_EQ(g.gen("GC").p, 20.0 / 100.0 + move);
    const double left = asked + ((0.0 - move) - move);
    EXPECT_EQ(g.engine.delta_p, 0.0 - (asked - left));
}

TEST(ModifyEngine, ZoneGenerationCutAtMaximumIsSpreadAgain) {
    // 30 MW: 15 each; GC is cut at 30 MW and its 5 MW go to GA in a second pass.
    Grid g;
    EXPECT_EQ(g.engine.gen_increase_zone("ZG", 30.0), "");
    const double asked = 30.0 / 100.0;
    const double move = (asked * 1.0) / 2.0;
    const double c_before_cut = 20.0 / 100.0 + move;
    double total = 0.0 - move;
    total = (total - move) + (c_before_cut - 30.0 / 100.0);
    const double left = asked + total;  // what GC refused
    const double a = (50.0 / 100.0 + move) + (left * 1.0) / 1.0;
    EXPECT_EQ(g.gen("GC").p, 30.0 / 100.0);
    EXPECT_EQ(g.gen("GA").p, a);
    EXPECT_NEAR(g.gen("GA").p, 0.7, 1e-15);
    const double left_after = left + (0.0 - (left * 1.0) / 1.0);
    EXPECT_EQ(g.engine.delta_p, 0.0 - (asked - left_after));
}

TEST(ModifyEngine, ZoneGenerationBeyondTheReserve) {
    struct Case {
        const char* what;
        std::function<void(Grid&)> prepare;
        double p_mw;
        const char* text;
        double ga, gc;  // MW after the change
    };
    const std::vector<Case> cases = {
        {"more than the units can give", nothing, 100.0,
         " Insufficient reserve. Generation change limited to 40 MW\n", 80.0, 30.0},
        {"less than they can give up", nothing, -100.0,
         " Insufficient reserve. Generation change limited to -70 MW\n", 0.0, 0.0},
        {"every unit on its maximum",
         [](Grid& g) {
             g.gen("GA").p = 0.8;
             g.gen("GC").p = 0.3;
         },
         10.0, " Insufficient reserve. Generation change limited to 0 MW\n", 80.0, 30.0},
        {"every unit out of service",
         [](Grid& g) {
             g.gen("GA").status = 0;
             g.gen("GC").status = 0;
         },
         10.0, " Insufficient reserve. Generation change limited to 0 MW\n", 50.0, 20.0},
        {"no change with every unit on a limit",
         [](Grid& g) {
             g.gen("GA").p = 0.8;
             g.gen("GC").p = 0.0;
         },
         0.0, " Insufficient reserve. Generation change limited to 0 MW\n", 80.0, 0.0},
        {"no change", nothing, 0.0, "", 50.0, 20.0},
        {"a negative factor counts as 0",
         [](Grid& g) { g.net.zones[g.net.find_zone("ZG")].members[0].p_factor = -1.0; }, 10.0, "",
         50.0, 30.0},
        {"equal limits leave no room",
         [](Grid& g) { g.gen("GA").p_min = g.gen("GA").p_max = 0.5; }, 10.0, "", 50.0, 30.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Grid g;
        c.prepare(g);
        const double ga = g.gen("GA").p, gc = g.gen("GC").p;
        EXPECT_EQ(g.engine.gen_increase_zone("ZG", c.p_mw), c.text);
        EXPECT_NEAR(g.gen("GA").p * 100.0, c.ga, 1e-12);
        EXPECT_NEAR(g.gen("GC").p * 100.0, c.gc, 1e-12);
        // the deficit falls by exactly what the units took
        EXPECT_NEAR(g.engine.delta_p, -((g.gen("GA").p - ga) + (g.gen("GC").p - gc)), 1e-15);
    }
}

// Four units U1 to U4, each alone at its bus, outputs and limits in MW on a 100 MVA base; the
// zone's members name the units' buses by number (0 to 3) with their active factors.
struct ZoneUnit {
    double p, p_min, p_max;  // MW
};

struct ZonePasses {
    Network net;
    SolverParams params;
    PowerFlowSolver solver;
    ModifyEngine engine{net, solver, params};

    ZonePasses(const std::vector<ZoneUnit>& units,
               const std::vector<std::pair<int, double>>& members) {
        for (std::size_t i = 0; i < units.size(); ++i) {
            const std::string name = "U" + std::to_string(i + 1);
            const int bus = add_plain_bus(net, name, PV);
            const int g = add_unit(net, name, bus, GEN_VOLTAGE_CONTROL, units[i].p / 100.0, 1.0);
            net.generators[g].p_min = units[i].p_min / 100.0;
            net.generators[g].p_max = units[i].p_max / 100.0;
        }
        Zone zone{"Z", {}};
        for (const auto& [bus, factor] : members) zone.members.push_back({bus, factor, 1.0});
        net.add_zone(zone);
    }
    std::vector<double> outputs_mw() const {
        std::vector<double> mw;
        for (const Generator& gen : net.generators) mw.push_back(gen.p * 100.0);
        return mw;
    }
};

// The passes go on while more than 0.1 MW is left, whichever way the last pass ended: a unit
// cut at its limit, or a member that dropped out because an earlier entry of the same unit
// brought it onto its limit in that pass.
TEST(ModifyEngine, ZoneGenerationPassesGoOnUntilTheChangeIsPlaced) {
    struct Case {
        const char* what;
        std::vector<ZoneUnit> units;
        std::vector<std::pair<int, double>> members;
        double p_mw;
        std::vector<double> outputs;  // MW after the change
        const char* text;
    };
    const std::vector<Case> cases = {
        {"a limit reached in each of the first three passes",
         {{0, 0, 50}, {0, 0, 110}, {0, 0, 118}, {0, 0, 1000}},
         {{0, 1}, {1, 1}, {2, 1}, {3, 1}},
         400.0,
         {50, 110, 118, 122},
         ""},
        {"the same downwards, cut at the minimums",
         {{100, 50, 200}, {100, -10, 200}, {100, -18, 200}, {100, -1000, 200}},
         {{0, 1}, {1, 1}, {2, 1}, {3, 1}},
         -400.0,
         {50, -10, -18, -22},
         ""},
        {"every member on its limit by the third pass",
         {{0, 0, 50}, {0, 0, 110}, {0, 0, 118}, {0, 0, 120}},
         {{0, 1}, {1, 1}, {2, 1}, {3, 1}},
         400.0,
         {50, 110, 118, 120},
         " Insufficient reserve. Generation change limited to 398 MW\n"},
        {"a unit listed twice reaches its maximum exactly with its first entry",
         {{0, 0, 100}, {0, 0, 1000}},
         {{0, 1}, {0, 1}, {1, 2}},
         400.0,
         {100, 300},
         ""},
        {"a unit listed twice cut with its first entry",
         {{0, 0, 80}, {0, 0, 1000}},
         {{0, 1}, {1, 1}, {0, 1}},
         300.0,
         {80, 220},
         ""},
        {"factors that differ",
         {{0, 0, 50}, {0, 0, 1000}},
         {{0, 3}, {1, 1}},
         100.0,
         {50, 50},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZonePasses z(c.units, c.members);
        EXPECT_EQ(z.engine.gen_increase_zone("Z", c.p_mw), c.text);
        const std::vector<double> mw = z.outputs_mw();
        ASSERT_EQ(mw.size(), c.outputs.size());
        double placed = 0.0;
        for (std::size_t i = 0; i < mw.size(); ++i) {
            EXPECT_NEAR(mw[i], c.outputs[i], 1e-9) << "U" << i + 1;
            placed += mw[i] - c.units[i].p;
        }
        EXPECT_NEAR(z.engine.delta_p * 100.0, -placed, 1e-9);
    }
}

// A base power that is zero, negative or not a number makes the tolerance meaningless; the
// passes still end.
TEST(ModifyEngine, ZoneGenerationEndsWhateverTheBasePower) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double sbase : {0.0, -100.0, nan}) {
        for (const double p_mw : {0.0, 50.0, -50.0}) {
            SCOPED_TRACE(std::to_string(sbase) + " MVA, " + std::to_string(p_mw) + " MW");
            ZonePasses z({{10, 0, 100}, {20, 0, 100}}, {{0, 1}, {1, 1}});
            z.net.sbase = sbase;
            z.engine.gen_increase_zone("Z", p_mw);  // returns
        }
    }
}

// ---- Applying --------------------------------------------------------------------------------

TEST(ModifyEngineFinalize, TripThatCutsOffAnIsland) {
    Grid g;
    g.engine.trip_branch("L_BC");
    EXPECT_EQ(g.engine.check_connectivity(), std::vector<int>{3});
    const ModifyEngine::FinalizeResult r = g.engine.finalize();

    EXPECT_EQ(r.unreached_buses, std::vector<int>{3});
    EXPECT_EQ(g.bus("C").type, ISOLATED);
    EXPECT_EQ(g.bus("C").p_load, 0.0);
    EXPECT_EQ(g.gen("GC").status, 0);
    // the island took 20 MW of generation and 5 MW of load
    const double island = (0.0 - 5.0 / 100.0) + 20.0 / 100.0;
    EXPECT_EQ(g.engine.delta_p, island);
    EXPECT_EQ(r.message, "\n Deficit of active power : 15 MW compensated on generators\n");
    // GA is the only unit left that takes part
    EXPECT_EQ(g.gen("GA").p, (island * 1.0) / 1.0 + 50.0 / 100.0);

    EXPECT_TRUE(r.converged);
    EXPECT_EQ(r.status, CONVERGED);
    EXPECT_GE(r.iterations, 1);
    EXPECT_LT(r.max_p_mismatch, 0.1);
    EXPECT_LT(r.max_q_mismatch, 0.1);
    EXPECT_EQ(g.bus("C").v, 0.0);
    EXPECT_EQ(g.bus("A").v, 1.02);
    // outputs recomputed: the slack unit covers the rest of the load and the losses
    EXPECT_GT(g.gen("GS").p, 0.2);
    EXPECT_LT(g.gen("GS").p, 0.3);
}

TEST(ModifyEngineFinalize, LoadIslandGivesAnExcess) {
    Grid g;
    g.engine.trip_branch("L_BD");
    const ModifyEngine::FinalizeResult r = g.engine.finalize();
    EXPECT_EQ(r.unreached_buses, std::vector<int>{4});
    EXPECT_EQ(r.message, "\n Excess of active power : 10 MW compensated on generators\n");
    EXPECT_TRUE(r.converged);
    // spread over GA and GC by their factors
    EXPECT_EQ(g.gen("GA").p, (-(10.0 / 100.0) * 1.0) / 2.0 + 50.0 / 100.0);
    EXPECT_EQ(g.gen("GC").p, (-(10.0 / 100.0) * 1.0) / 2.0 + 20.0 / 100.0);
}

TEST(ModifyEngineFinalize, WithoutChangesAPlainSolve) {
    Grid g;
    const ModifyEngine::FinalizeResult r = g.engine.finalize();
    EXPECT_EQ(r.message, "");
    EXPECT_TRUE(r.unreached_buses.empty());
    EXPECT_TRUE(r.converged);
    EXPECT_EQ(g.gen("GA").p, 50.0 / 100.0);
    EXPECT_EQ(g.gen("GC").p, 20.0 / 100.0);

    // Buses pruned earlier are listed again, and lose nothing more.
    g.engine.trip_branch("L_BC");
    g.engine.finalize();
    ModifyEngine again(g.net, g.solver, g.params);
    const ModifyEngine::FinalizeResult second = again.finalize();
    EXPECT_EQ(second.unreached_buses, std::vector<int>{3});
    EXPECT_EQ(second.message, "");
}

TEST(ModifyEngineFinalize, ConnectivityWithoutSlackBus) {
    Grid g;
    g.net.slack_bus = -1;
    g.engine.trip_branch("L_BC");
    EXPECT_TRUE(g.engine.check_connectivity().empty());
}

TEST(ModifyEngine, ImbalanceReport) {
    Grid g;
    g.engine.demand_increase_bus("B", -10.0, 0.0);
    EXPECT_EQ(g.engine.delta_p_mw(), (-10.0 / 100.0) * 100.0);
    EXPECT_EQ(g.engine.show_power_imbalance(), "\n Active power generation deficit : -10 MW\n");
    g.engine.delta_p = 1.234567e-6;
    EXPECT_EQ(g.engine.show_power_imbalance(),
              "\n Active power generation deficit : 0.000123457 MW\n");
    g.engine.delta_p = 12345.678;
    EXPECT_EQ(g.engine.show_power_imbalance(),
              "\n Active power generation deficit : 1.23457e+06 MW\n");
}

TEST(MessageNumbers, DefaultStreamFormat) {
    EXPECT_EQ(format_default(80.0), "80");
    EXPECT_EQ(format_default(0.1 + 0.2), "0.3");
    EXPECT_EQ(format_default(1e-5), "1e-05");
    EXPECT_EQ(format_default(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format_default(std::numeric_limits<double>::quiet_NaN()), "nan");
}

}  // namespace
}  // namespace varnok
