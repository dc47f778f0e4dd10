// The contingency study on small hand-made networks: each kind of step against the same outage
// applied by hand, the messages, non-convergence, the screens at their thresholds, the report,
// and that the network leaves a run as it entered it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "network/InputParser.h"
#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "powerflow/network_builders.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/Redispatch.h"

namespace varnok {
namespace {

using Result = ContingencyAnalysis::Result;
using Snapshot = ContingencyAnalysis::NetworkSnapshot;
using Thresholds = ContingencyAnalysis::Thresholds;
using Steps = std::vector<ContingencyStep>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int BT = ContingencyStep::TRIP_BRANCH;
constexpr int GT = ContingencyStep::TRIP_GENERATOR;
constexpr int ST = ContingencyStep::TRIP_SVC;
constexpr int HC = ContingencyStep::SHUNT_COMPENSATION;

void expect_same_result(const Result& got, const Result& want) {
    EXPECT_EQ(got.converged, want.converged);
    EXPECT_EQ(got.min_voltage, want.min_voltage);
    EXPECT_EQ(got.max_voltage, want.max_voltage);
    EXPECT_EQ(got.min_voltage_bus, want.min_voltage_bus);
    EXPECT_EQ(got.max_voltage_bus, want.max_voltage_bus);
    EXPECT_EQ(got.max_loading, want.max_loading);
    EXPECT_EQ(got.max_loading_branch, want.max_loading_branch);
    EXPECT_EQ(got.accepted, want.accepted);
    EXPECT_EQ(got.violations, want.violations);
}

void expect_same_snapshot(const Snapshot& got, const Snapshot& want) {
    EXPECT_EQ(got.bus_v, want.bus_v);
    EXPECT_EQ(got.bus_angle, want.bus_angle);
    EXPECT_EQ(got.bus_type, want.bus_type);
    EXPECT_EQ(got.bus_type_init, want.bus_type_init);
    EXPECT_EQ(got.bus_p_load, want.bus_p_load);
    EXPECT_EQ(got.bus_q_load, want.bus_q_load);
    EXPECT_EQ(got.bus_b_shunt, want.bus_b_shunt);
    EXPECT_EQ(got.bus_q_shunt, want.bus_q_shunt);
    EXPECT_EQ(got.branch_status, want.branch_status);
    EXPECT_EQ(got.branch_ratio, want.branch_ratio);
    EXPECT_EQ(got.branch_shift, want.branch_shift);
    EXPECT_EQ(got.branch_g_from, want.branch_g_from);
    EXPECT_EQ(got.branch_b_from, want.branch_b_from);
    EXPECT_EQ(got.branch_g_to, want.branch_g_to);
    EXPECT_EQ(got.branch_b_to, want.branch_b_to);
    EXPECT_EQ(got.gen_status, want.gen_status);
    EXPECT_EQ(got.gen_mode, want.gen_mode);
    EXPECT_EQ(got.gen_p, want.gen_p);
    EXPECT_EQ(got.gen_q, want.gen_q);
    EXPECT_EQ(got.gen_v_set, want.gen_v_set);
    EXPECT_EQ(got.svc_status, want.svc_status);
    EXPECT_EQ(got.svc_mode, want.svc_mode);
    EXPECT_EQ(got.svc_q, want.svc_q);
    EXPECT_EQ(got.tap_pos, want.tap_pos);
    EXPECT_EQ(got.pst_pos, want.pst_pos);
}

// Active limits 0 to p_max and participation 1: the unit takes part in redispatch.
void make_dispatchable(Generator& gen, double p_max) {
    gen.p_min = 0.0;
    gen.p_max = p_max;
    gen.has_p_limits = true;
    gen.participation = 1.0;
}

// Thresholds that some buses and branches of Feeder violate.
constexpr Thresholds kLoose{0.97, 1.03, 60.0, 0.02};

// S the slack (GS, no active limits), A held at 1.0 pu by GA (dispatchable), B a load, C a
// load with a fixed-output unit GC (dispatchable up to 0.5 pu) reached only through LBC, D
// reached through LSD with a unit out of service. LZ has no rating. The base case is solved.
struct Feeder {
    Network net;
    SolverParams params;
    ContingencyAnalysis analysis;

    Feeder() {
        add_plain_bus(net, "S", SLACK);
        add_plain_bus(net, "A", PV);
        add_plain_bus(net, "B", PQ, 0.8, 0.3);
        add_plain_bus(net, "C", PQ, 0.2, 0.05);
        add_plain_bus(net, "D", PQ, 0.1, 0.02);
        net.slack_bus = 0;
        net.buses[0].v = 1.02;
        net.add_branch(impedance("LSA", 0, 1, 0.01, 0.1));
        net.add_branch(impedance("LSB", 0, 2, 0.01, 0.1));
        net.add_branch(impedance("LAB", 1, 2, 0.01, 0.1));
        net.add_branch(impedance("LZ", 1, 2, 0.01, 0.2));
        net.add_branch(impedance("LBC", 2, 3, 0.01, 0.05));
        net.add_branch(impedance("LSD", 0, 4, 0.01, 0.1));
        const double ratings[] = {1.0, 1.0, 0.5, 0.0, 0.3, 0.2};
        for (int k = 0; k < 6; ++k) net.branches[k].rating = ratings[k];
        add_unit(net, "GS", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.02);
        make_dispatchable(net.generators[add_unit(net, "GA", 1, GEN_VOLTAGE_CONTROL, 0.5, 1.0)],
                          2.0);
        make_dispatchable(net.generators[add_unit(net, "GC", 3, GEN_PQ, 0.3, 0.0)], 0.5);
        make_dispatchable(net.generators[add_unit(net, "GOFF", 4, GEN_PQ, 0.4, 0.0)], 1.0);
        net.generators[3].status = 0;
        PowerFlowSolver solver;
        EXPECT_TRUE(solver.solve(net, params).converged);
        solver.compute_injections(net, params);
    }

    std::vector<Result> run(const std::vector<Contingency>& list, std::ostream* log = nullptr,
                            const Thresholds& t = kLoose) {
        return analysis.run(net, params, list, t.vmin, t.vmax, t.max_loading_pct, t.max_drop,
                            log);
    }

    // The outage applied by hand to a copy of the base case: `change`, then pruning, a fresh
    // solve from the base voltages and the screens.
    Result by_hand(const std::function<void(Network&)>& change,
                   const Thresholds& t = kLoose) const {
        Network copy = net;
        change(copy);
        copy.prune_islands();
        Result r;
        PowerFlowSolver solver;
        r.converged = solver.solve(copy, params).converged;
        EXPECT_TRUE(r.converged);
        analysis.screen(copy, analysis.save(net), t, r);
        return r;
    }
};

TEST(ContingencyRun, BranchOutageThatCutsOffAnIslandRedispatchesItsPower) {
    Feeder f;
    const Snapshot before = f.analysis.save(f.net);
    const std::vector<Result> got = f.run({{"BR: LBC", Steps{{BT, "LBC", 0}}}});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "BR: LBC");
    // C is cut off: its unit's 0.3 pu minus its 0.2 pu load go to GA, the one unit with room.
    const Result want = f.by_hand([](Network& n) {
        n.branches[4].status = 0;
        n.generators[1].p = (0.3 - 0.2) + 0.5;
    });
    expect_same_result(got[0], want);
    // C, at 0 pu once pruned, is skipped by every screen, and LBC by the loading screen.
    EXPECT_GT(got[0].min_voltage, 0.9);
    EXPECT_NE(got[0].min_voltage_bus, "C");
    EXPECT_NE(got[0].max_loading_branch, "LBC");
    for (const std::string& v : got[0].violations) EXPECT_EQ(v.find("bus C "), std::string::npos);
    // Without the redispatch the slack would take the 0.1 pu: another solution.
    const Result unbalanced = f.by_hand([](Network& n) { n.branches[4].status = 0; });
    EXPECT_NE(unbalanced.max_loading, got[0].max_loading);
    expect_same_snapshot(f.analysis.save(f.net), before);
}

TEST(ContingencyRun, GeneratorOutageLosesItsOutputOnceAndFreesItsBus) {
    Feeder f;
    // GA's 0.5 pu go to GC, which can take 0.2 pu up to its limit; the slack takes the rest.
    const Result want = f.by_hand([](Network& n) {
        n.generators[1].status = 0;
        n.buses[1].type = PQ;
        n.generators[2].p = 0.5;
    });
    const std::vector<Result> got = f.run({{"once", Steps{{GT, "GA", 0}}},
                                           {"twice", Steps{{GT, "GA", 0}, {GT, "GA", 0}}}});
    ASSERT_EQ(got.size(), 2u);
    expect_same_result(got[0], want);
    expect_same_result(got[1], want);
}

TEST(ContingencyRun, ShuntCompensationIsAddedInMvarAndLostWithAPrunedBus) {
    Feeder f;
    const Result compensated =
        f.by_hand([](Network& n) { n.buses[2].b_shunt += 30.0 / n.sbase; });
    const Result cut_off = f.by_hand([](Network& n) {
        n.branches[4].status = 0;
        n.generators[1].p = (0.3 - 0.2) + 0.5;
    });
    const std::vector<Result> got =
        f.run({{"HC B", Steps{{HC, "B", 30.0}}},
               {"HC C, BT LBC", Steps{{HC, "C", 30.0}, {BT, "LBC", 0}}}});
    ASSERT_EQ(got.size(), 2u);
    expect_same_result(got[0], compensated);
    EXPECT_GT(got[0].min_voltage, f.run({{"none", {}}})[0].min_voltage);
    expect_same_result(got[1], cut_off);
}

// Steps that could not be applied also lead the contingency's violations, in step order, and
// refuse it; the case is studied without them and its screens' texts follow.
TEST(ContingencyRun, StepsThatChangeNothingAreReportedAndTheCaseStudiedWithoutThem) {
    Feeder f;
    std::ostringstream log;
    ContingencyStep other_kind{7, "LSA", 0.0};
    const std::vector<Result> got =
        f.run({{"none", {}},
               {"unknown names", Steps{{BT, "X", 0}, {GT, "Y", 0}, {ST, "Z", 0}, {HC, "W", 5}}},
               {"slack", Steps{{GT, "GS", 0}}},
               {"out of service", Steps{{GT, "GOFF", 0}}},
               {"other kind", Steps{other_kind}},
               {"case kept", Steps{{BT, "lsa", 0}}}},
              &log);
    EXPECT_EQ(log.str(),
              " unknown branch in contingency description : X\n"
              " unknown generator in contingency description : Y\n"
              " unknown SVC in contingency description : Z\n"
              " unknown bus in contingency description : W\n"
              " Slack generator must not be tripped !\n"
              " unknown branch in contingency description : lsa\n");
    ASSERT_EQ(got.size(), 6u);
    const std::vector<std::vector<std::string>> step_texts = {
        {},
        {"unknown branch in contingency description : X",
         "unknown generator in contingency description : Y",
         "unknown SVC in contingency description : Z",
         "unknown bus in contingency description : W"},
        {"Slack generator must not be tripped !"},
        {},
        {},
        {"unknown branch in contingency description : lsa"}};
    for (std::size_t i = 1; i < got.size(); ++i) {
        SCOPED_TRACE(got[i].name);
        Result want = got[0];
        want.violations = step_texts[i];
        want.violations.insert(want.violations.end(), got[0].violations.begin(),
                               got[0].violations.end());
        want.accepted = want.violations.empty();
        expect_same_result(got[i], want);
    }
    // The base case itself: a solve from its own solution, screened.
    expect_same_result(got[0], f.by_hand([](Network&) {}));
}

TEST(ContingencyRun, NonConvergedCasesKeepTheStartValues) {
    Feeder f;
    for (int limit : {0, 1}) {
        SCOPED_TRACE(limit);
        f.params.nbitma = limit;
        // From a flat start one Newton step is not enough.
        if (limit == 1)
            for (Bus& bus : f.net.buses) bus.v = 1.0, bus.angle = 0.0;
        const std::vector<Result> got =
            f.run({{"none", {}}, {"BR: LSA", Steps{{BT, "LSA", 0}}}});
        ASSERT_EQ(got.size(), 2u);
        for (const Result& r : got) {
            EXPECT_FALSE(r.converged);
            EXPECT_FALSE(r.accepted);
            EXPECT_EQ(r.min_voltage, 999.0);
            EXPECT_EQ(r.max_voltage, 0.0);
            EXPECT_EQ(r.max_loading, 0.0);
            EXPECT_EQ(r.min_voltage_bus, "");
            EXPECT_EQ(r.max_voltage_bus, "");
            EXPECT_EQ(r.max_loading_branch, "");
            EXPECT_EQ(r.violations, std::vector<std::string>{"divergence !"});
        }
    }
}

TEST(ContingencyRun, EmptyListAndSingleBus) {
    Feeder f;
    const Snapshot before = f.analysis.save(f.net);
    EXPECT_TRUE(f.run({}).empty());
    expect_same_snapshot(f.analysis.save(f.net), before);

    Network single;
    add_plain_bus(single, "ONLY", SLACK);
    single.slack_bus = 0;
    single.buses[0].v = 1.01;
    add_unit(single, "G", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.01);
    const std::vector<Result> got =
        ContingencyAnalysis().run(single, SolverParams{}, {{"none", {}}}, 0, kInf, 0, kInf,
                                  nullptr);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].converged);
    EXPECT_TRUE(got[0].accepted);
    EXPECT_EQ(got[0].min_voltage, 1.01);
    EXPECT_EQ(got[0].max_voltage, 1.01);
    EXPECT_EQ(got[0].min_voltage_bus, "ONLY");
    EXPECT_EQ(got[0].max_voltage_bus, "ONLY");
    EXPECT_EQ(got[0].max_loading_branch, "");
}

// The run solves each contingency with one solver renewed in between: every result is the one
// a solver of its own would give, to the last bit, whatever the contingencies before it did
// (islands, tripped units, reactive limits reached).
TEST(ContingencyRun, EachContingencyAsBySolverOfItsOwn) {
    Network net;
    SolverParams params;
    InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/case118.txt", net, params);
    params.misqlim = SolverParams{}.misqlim;  // reactive limits acting
    net.prune_islands();
    PowerFlowSolver base;
    ASSERT_TRUE(base.solve(net, params).converged);
    base.compute_injections(net, params);
    const ContingencyAnalysis analysis;
    const std::vector<Contingency> list = analysis.generate_n1(net, true, true, true);
    const Thresholds t{0.97, 1.05, 60.0, 0.01};
    const std::vector<Result> got =
        analysis.run(net, params, list, t.vmin, t.vmax, t.max_loading_pct, t.max_drop, nullptr);
    ASSERT_EQ(got.size(), list.size());

    const Snapshot saved = analysis.save(net);
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(list[i].name);
        analysis.restore(net, saved);
        Result own;
        own.name = list[i].name;
        double lost = analysis.apply_steps(net, list[i], nullptr, own);
        double island = 0.0;
        net.prune_islands(nullptr, &island);
        lost += island;
        if (lost != 0.0) redispatch_generation(net, lost, params);
        analysis.reset_voltages_and_taps(net, saved);
        PowerFlowSolver solver;
        own.converged = solver.solve(net, params).converged;
        if (own.converged) {
            analysis.screen(net, saved, t, own);
        } else {
            own.accepted = false;
            own.violations = {"divergence !"};
        }
        expect_same_result(got[i], own);
    }
    analysis.restore(net, saved);
}

// --- The screens at their thresholds ---------------------------------------------------------

// Voltages set by hand: B1 0.95, B2 1.05, B3 ISOLATED at 0; two branches in service with a
// rating, one without, one open.
struct Screened {
    Network net;
    Snapshot saved;
    ContingencyAnalysis analysis;

    Screened() {
        add_plain_bus(net, "B1", PQ);
        add_plain_bus(net, "B2", PQ);
        add_plain_bus(net, "B3", ISOLATED);
        add_plain_bus(net, "B4", PQ);
        const double v[] = {0.95, 1.05, 0.0, 0.95};
        for (int i = 0; i < 4; ++i) net.buses[i].v = v[i];
        net.buses[1].angle = 0.1;
        const double ratings[] = {0.5, 0.6, 0.0, 0.1};
        const int ends[][2] = {{0, 1}, {1, 3}, {0, 1}, {0, 3}};
        for (int k = 0; k < 4; ++k) {
            Branch br = impedance("BR" + std::to_string(k), ends[k][0], ends[k][1], 0.01, 0.1);
            br.rating = ratings[k];
            net.add_branch(br);
        }
        net.branches[3].status = 0;
        saved = analysis.save(net);
        for (double& v0 : saved.bus_v) v0 = 1.0;
    }
    double loading(int k) const {
        const BranchFlow f = compute_branch_flow(net, k);
        const double s = std::max(std::hypot(f.p_from, f.q_from), std::hypot(f.p_to, f.q_to));
        return s / net.branches[k].rating * 100.0;
    }
    double apparent(int k) const { return loading(k) * net.branches[k].rating / 100.0; }
    Result screen(const Thresholds& t) const {
        Result r;
        analysis.screen(net, saved, t, r);
        return r;
    }
};

TEST(ContingencyScreens, ComparisonsAreStrictAndTextsExact) {
    const Screened s;
    const double l0 = s.loading(0), l1 = s.loading(1);
    ASSERT_GT(l0, l1);
    const double drop = 1.0 - 0.95;
    const double below = std::nextafter(0.95, 2.0), above = std::nextafter(1.05, 0.0);
    const struct {
        const char* what;
        Thresholds t;
        std::vector<std::string> violations;
    } cases[] = {
        {"at every threshold", {0.95, 1.05, l0, drop}, {}},
        {"low voltage", {below, 1.05, l0, drop},
         {fmt::format("voltage at bus B1       = 0.95000 < {:.5f} pu", below),
          fmt::format("voltage at bus B4       = 0.95000 < {:.5f} pu", below)}},
        {"high voltage", {0.95, above, l0, drop},
         {fmt::format("voltage at bus B2       = 1.05000 > {:.5f} pu", above)}},
        {"drop", {0.95, 1.05, l0, std::nextafter(drop, 0.0)},
         {fmt::format("voltage at bus B1       dropped by {:.5f} > {:.5f} pu", drop,
                      std::nextafter(drop, 0.0)),
          fmt::format("voltage at bus B4       dropped by {:.5f} > {:.5f} pu", drop,
                      std::nextafter(drop, 0.0))}},
        {"overload", {0.95, 1.05, std::nextafter(l0, 0.0), drop},
         {fmt::format("loading of branch BR0                  = {:.2f} > {:.2f} pu",
                      s.apparent(0), 0.5 * std::nextafter(l0, 0.0) / 100.0)}},
        {"all in order", {1.0, 1.0, l1 - 1.0, -1.0},
         {"voltage at bus B1       = 0.95000 < 1.00000 pu",
          "voltage at bus B2       = 1.05000 > 1.00000 pu",
          "voltage at bus B4       = 0.95000 < 1.00000 pu",
          "voltage at bus B1       dropped by 0.05000 > -1.00000 pu",
          "voltage at bus B2       dropped by -0.05000 > -1.00000 pu",
          "voltage at bus B4       dropped by 0.05000 > -1.00000 pu",
          fmt::format("loading of branch BR0                  = {:.2f} > {:.2f} pu",
                      s.apparent(0), 0.5 * (l1 - 1.0) / 100.0),
          fmt::format("loading of branch BR1                  = {:.2f} > {:.2f} pu",
                      s.apparent(1), 0.6 * (l1 - 1.0) / 100.0)}},
        {"infinite thresholds are no limits", {-kInf, kInf, kInf, kInf}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = s.screen(c.t);
        EXPECT_EQ(r.violations, c.violations);
        EXPECT_EQ(r.accepted, c.violations.empty());
        // Extremes: the first bus of an equal voltage keeps it; ISOLATED B3 never counts; the
        // unrated BR2 and the open BR3 are never screened.
        EXPECT_EQ(r.min_voltage, 0.95);
        EXPECT_EQ(r.min_voltage_bus, "B1");
        EXPECT_EQ(r.max_voltage, 1.05);
        EXPECT_EQ(r.max_voltage_bus, "B2");
        EXPECT_EQ(r.max_loading, l0);
        EXPECT_EQ(r.max_loading_branch, "BR0");
    }
}

TEST(ContingencyScreens, NamesLongerThanTheirFieldAreWrittenWhole) {
    Screened s;
    s.net.buses[0].name = "A_LONG_BUS_NAME";
    s.net.branches[0].name = "A_BRANCH_NAME_OF_24_CHAR";
    const Result r = s.screen({0.96, kInf, 1e9, kInf});
    ASSERT_EQ(r.violations.size(), 2u);
    EXPECT_EQ(r.violations[0], "voltage at bus A_LONG_BUS_NAME = 0.95000 < 0.96000 pu");
    EXPECT_EQ(s.screen({0.0, kInf, 0.0, kInf}).violations[0].substr(0, 45),
              "loading of branch A_BRANCH_NAME_OF_24_CHAR = ");
}

TEST(ContingencyScreens, NoLoadingWhenEveryFlowIsZero) {
    Screened s;
    for (Bus& bus : s.net.buses) bus.v = 1.0, bus.angle = 0.0;
    const Result r = s.screen({0.0, kInf, 0.0, kInf});
    EXPECT_EQ(r.max_loading, 0.0);
    EXPECT_EQ(r.max_loading_branch, "");
    EXPECT_TRUE(r.accepted);
}

// --- Restoring the network -------------------------------------------------------------------

// Every control acts when this network is solved: the tap changer of T01 steps, the phase
// shifter (sign -1, wrong) is reversed and steps, G2 reaches its reactive limit and the SVC its
// susceptance limit.
Network controlled_network() {
    Network net;
    add_plain_bus(net, "B0", SLACK);
    add_plain_bus(net, "B1", PQ, 0.6, 0.3);
    add_plain_bus(net, "B2", PV, 0.2, 0.1);
    add_plain_bus(net, "B3", PQ, 0.3, 0.2);
    net.slack_bus = 0;
    net.buses[0].v = 1.02;
    net.buses[2].v = 1.05;
    add_unit(net, "G0", 0, GEN_VOLTAGE_CONTROL, 0.0, 1.02);
    add_unit(net, "G2", 2, GEN_VOLTAGE_CONTROL, 0.3, 1.05, -0.05, 0.05);
    Branch t = impedance("T01", 0, 1, 0.005, 0.1);
    t.is_transformer = true;
    t.kind = BRANCH_REGULATED_TRANSFORMER;
    net.add_branch(t);
    net.add_branch(impedance("PST", 0, 2, 0.01, 0.2));
    net.add_branch(impedance("L12", 1, 2, 0.02, 0.2));
    net.add_branch(impedance("L03", 0, 3, 0.02, 0.2));
    net.add_branch(impedance("L23", 2, 3, 0.02, 0.2));

    TapRegulator tap;
    tap.branch = 0;
    tap.bus = 1;
    tap.vdes = 1.0;
    tap.deadband = 0.005;
    tap.ratios = {0.94, 0.96, 0.98, 1.0, 1.02};
    tap.pos_max = 4;
    tap.pos = tap.pos_init = 3;
    net.tap_regulators.push_back(tap);

    PhaseShifter ps;
    ps.branch = 1;
    ps.monitored_branch = 1;
    ps.r = 0.01;
    ps.sign = -1;
    ps.positions = {1, 21};
    ps.x = {0.2, 0.2};
    ps.ratios = {1.0, 1.0};
    ps.shifts = {-0.2, 0.2};
    ps.pos = ps.pos_init = 11;
    ps.pdes = 0.6;
    ps.deadband = 0.01;
    net.phase_shifters.push_back(ps);

    SVC svc;
    svc.name = "SVC3";
    svc.bus = svc.sense_bus = 3;
    svc.v_set = 1.05;
    svc.mode = SVC_VOLTAGE_CONTROL;
    svc.gain = 50.0;
    svc.b_max = 0.05;
    svc.b_min = -0.05;
    net.buses[3].svc = net.add_svc(svc);
    return net;
}

TEST(ContingencyRestore, EverySavedQuantityIsBackAfterTheRunAndTheSignStaysReversed) {
    // Precondition: a solve moves every control.
    Network solved = controlled_network();
    PowerFlowSolver solver;
    solver.solve(solved, SolverParams{});
    ASSERT_NE(solved.tap_regulators[0].pos, 3);
    ASSERT_NE(solved.phase_shifters[0].pos, 11);
    ASSERT_EQ(solved.phase_shifters[0].sign, 1);
    ASSERT_EQ(solved.generators[1].mode, GEN_AT_QMAX);
    ASSERT_EQ(solved.svcs[0].mode, SVC_AT_BMAX);

    Network net = controlled_network();
    const ContingencyAnalysis analysis;
    const Snapshot before = analysis.save(net);
    const std::vector<Result> got = analysis.run(
        net, SolverParams{},
        {{"none", {}}, {"BR: L23", Steps{{BT, "L23", 0}}}, {"GN: G2", Steps{{GT, "G2", 0}}},
         {"SV: SVC3", Steps{{ST, "SVC3", 0}}}, {"HC", Steps{{HC, "B1", 40.0}}},
         {"BR: L03", Steps{{BT, "L03", 0}, {BT, "L23", 0}}}},
        0.9, 1.1, 100.0, 0.1, nullptr);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_TRUE(got[0].converged);
    expect_same_snapshot(analysis.save(net), before);
    EXPECT_EQ(net.phase_shifters[0].sign, 1);
}

TEST(ContingencyRestore, RestoreAndResetWriteWhatTheyCover) {
    const Network base = controlled_network();
    const ContingencyAnalysis analysis;
    const Snapshot saved = analysis.save(base);
    Network net = base;
    PowerFlowSolver solver;
    solver.solve(net, SolverParams{});
    net.branches[2].status = 0;
    net.buses[1].p_load = 2.0;
    analysis.reset_voltages_and_taps(net, saved);
    Snapshot now = analysis.save(net);
    EXPECT_EQ(now.bus_v, saved.bus_v);
    EXPECT_EQ(now.branch_ratio, saved.branch_ratio);
    EXPECT_EQ(now.branch_shift, saved.branch_shift);
    EXPECT_EQ(now.branch_b_from, saved.branch_b_from);
    EXPECT_EQ(now.tap_pos, saved.tap_pos);
    EXPECT_EQ(now.pst_pos, saved.pst_pos);
    EXPECT_EQ(net.branches[2].status, 0);  // statuses, loads and modes stay
    EXPECT_EQ(net.buses[1].p_load, 2.0);
    EXPECT_EQ(net.generators[1].mode, GEN_AT_QMAX);
    analysis.restore(net, saved);
    expect_same_snapshot(analysis.save(net), saved);
}

// A stream whose every write fails and throws.
struct FailingBuffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(ContingencyRestore, AnExceptionLeavingTheRunPutsTheStateBack) {
    Feeder f;
    const Snapshot before = f.analysis.save(f.net);
    FailingBuffer buffer;
    std::ostream log(&buffer);
    log.exceptions(std::ios::badbit);
    // The second contingency trips GA and cuts off C before its unknown name makes the log
    // throw.
    const std::vector<Contingency> list = {
        {"BR: LSA", Steps{{BT, "LSA", 0}}},
        {"fails", Steps{{GT, "GA", 0}, {BT, "LBC", 0}, {BT, "nowhere", 0}}}};
    EXPECT_THROW(f.run(list, &log), std::ios::failure);
    expect_same_snapshot(f.analysis.save(f.net), before);
}

TEST(ContingencyReport, BlocksCountFromOne) {
    Result accepted;
    accepted.name = "BR: L1";
    Result refused;
    refused.name = "GN: G7";
    refused.accepted = false;
    refused.violations = {"divergence !", "second"};
    std::ostringstream out;
    ContingencyAnalysis().print_results(out, {accepted, refused});
    EXPECT_EQ(out.str(),
              "\n *** contingency     1 : BR: L1\n\n    => accepted\n"
              "\n *** contingency     2 : GN: G7\n\n"
              "    divergence !\n    second\n    => refused\n");
    std::ostringstream none;
    ContingencyAnalysis().print_results(none, {});
    EXPECT_EQ(none.str(), "");
}

}  // namespace
}  // namespace varnok
