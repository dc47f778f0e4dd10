// Network state: initial snapshot and reset, island pruning, write-back into the raw records.
// The networks are built by hand with the add operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "network/Network.h"
#include "network/SolverParams.h"

namespace varnok {
namespace {

Bus make_bus(const std::string& name, double p_load = 0.0, double q_load = 0.0) {
    Bus bus;
    bus.name = name;
    bus.p_load = p_load;
    bus.q_load = q_load;
    return bus;
}

Branch make_branch(const std::string& name, int from, int to, int status = 1) {
    Branch br;
    br.name = name;
    br.from = from;
    br.to = to;
    br.status = status;
    return br;
}

Generator make_gen(const std::string& name, int bus, double p, int status = 1) {
    Generator gen;
    gen.name = name;
    gen.bus = bus;
    gen.reg_bus = bus;
    gen.p = p;
    gen.status = status;
    return gen;
}

SVC make_svc(const std::string& name, int bus) {
    SVC svc;
    svc.name = name;
    svc.bus = bus;
    svc.sense_bus = bus;
    return svc;
}

// A (slack) - B in service; B - C open; C - D in service. C holds a generator, D a
// compensator; C and D carry load and shunt, so they form an island reachable only through
// the open branch.
struct IslandNetwork {
    Network net;
    int a, b, c, d;
    int ab, bc, cd;
    int gen_a, gen_c, svc_d;

    IslandNetwork() {
        a = net.add_bus(make_bus("A", 0.1));
        b = net.add_bus(make_bus("B", 0.3, 0.1));
        Bus c_bus = make_bus("C", 0.2, 0.05);
        c_bus.b_shunt = 0.04;
        c_bus.q_shunt = 0.03;
        c_bus.type = c_bus.type_init = PV;
        c = net.add_bus(c_bus);
        Bus d_bus = make_bus("D", 0.15, 0.02);
        d_bus.b_shunt = -0.01;
        d = net.add_bus(d_bus);
        net.buses[a].type = net.buses[a].type_init = SLACK;
        net.slack_bus = a;
        ab = net.add_branch(make_branch("AB", a, b));
        bc = net.add_branch(make_branch("BC", b, c, 0));
        cd = net.add_branch(make_branch("CD", c, d));
        gen_a = net.add_generator(make_gen("GA", a, 1.0));
        gen_c = net.add_generator(make_gen("GC", c, 0.5));
        svc_d = net.add_svc(make_svc("SD", d));
        net.buses[a].gen = gen_a;
        net.buses[c].gen = gen_c;
        net.buses[d].svc = svc_d;
    }
};

// ---- Pruning -----------------------------------------------------------------------------

TEST(PruneIslands, EmptyNetworkChangesNothing) {
    Network net;
    double lost = 99.0;
    std::ostringstream report;
    EXPECT_TRUE(net.prune_islands(&report, &lost).empty());
    EXPECT_EQ(lost, 0.0);
    EXPECT_EQ(report.str(), "");
}

TEST(PruneIslands, WithoutSlackBusNothingIsPruned) {
    for (int slack : {-1, 4, 100}) {  // none, and indexes beyond the buses
        IslandNetwork n;
        n.net.slack_bus = slack;
        double lost = 99.0;
        std::ostringstream report;
        EXPECT_TRUE(n.net.prune_islands(&report, &lost).empty()) << slack;
        EXPECT_EQ(lost, 0.0);
        EXPECT_EQ(report.str(), "");
        EXPECT_EQ(n.net.buses[n.c].type, PV);
        EXPECT_EQ(n.net.buses[n.c].p_load, 0.2);
        EXPECT_EQ(n.net.generators[n.gen_c].status, 1);
        EXPECT_EQ(n.net.branches[n.cd].status, 1);
    }
}

TEST(PruneIslands, ConnectedNetworkWritesNothing) {
    IslandNetwork n;
    n.net.branches[n.bc].status = 1;
    double lost = 99.0;
    std::ostringstream report;
    EXPECT_TRUE(n.net.prune_islands(&report, &lost).empty());
    EXPECT_EQ(lost, 0.0);
    EXPECT_EQ(report.str(), "");
    for (const Bus& bus : n.net.buses) EXPECT_NE(bus.type, ISOLATED);
}

TEST(PruneIslands, IslandBehindOpenBranchIsTakenOut) {
    IslandNetwork n;
    double lost = 99.0;
    std::ostringstream report;
    const std::vector<std::string> pruned = n.net.prune_islands(&report, &lost);

    EXPECT_EQ(pruned, (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(report.str(),
              "\n Network not connected; the following buses are discarded :\n  C\n  D\n\n");
    // generation lost (GC 0.5) minus load lost (C 0.2, D 0.15), in that order of summation
    EXPECT_DOUBLE_EQ(lost, 0.5 - 0.2 - 0.15);
    EXPECT_EQ(lost, (0.0 - 0.2 - 0.15) + 0.5);

    for (int i : {n.c, n.d}) {
        const Bus& bus = n.net.buses[i];
        EXPECT_EQ(bus.type, ISOLATED);
        EXPECT_EQ(bus.p_load, 0.0);
        EXPECT_EQ(bus.q_load, 0.0);
        EXPECT_EQ(bus.b_shunt, 0.0);
        EXPECT_EQ(bus.q_shunt, 0.0);
    }
    EXPECT_EQ(n.net.buses[n.c].type_init, PV);  // the type as read is kept
    EXPECT_EQ(n.net.generators[n.gen_c].status, 0);
    EXPECT_EQ(n.net.generators[n.gen_c].p, 0.5);  // output itself unchanged
    EXPECT_EQ(n.net.svcs[n.svc_d].status, 0);
    EXPECT_EQ(n.net.branches[n.bc].status, 0);
    EXPECT_EQ(n.net.branches[n.cd].status, 0);

    // the live part is untouched
    EXPECT_EQ(n.net.buses[n.a].type, SLACK);
    EXPECT_EQ(n.net.buses[n.b].type, PQ);
    EXPECT_EQ(n.net.buses[n.b].p_load, 0.3);
    EXPECT_EQ(n.net.branches[n.ab].status, 1);
    EXPECT_EQ(n.net.generators[n.gen_a].status, 1);
}

TEST(PruneIslands, WorksWithoutStreamOrLostPower) {
    IslandNetwork n;
    EXPECT_EQ(n.net.prune_islands().size(), 2u);
    EXPECT_EQ(n.net.buses[n.d].type, ISOLATED);
}

TEST(PruneIslands, UnitNotInServiceAddsNoLostPower) {
    for (int status : {0, 2, -1}) {
        IslandNetwork n;
        n.net.generators[n.gen_c].status = status;
        double lost = 99.0;
        n.net.prune_islands(nullptr, &lost);
        EXPECT_EQ(n.net.generators[n.gen_c].status, 0) << status;
        EXPECT_EQ(lost, 0.0 - 0.2 - 0.15) << status;
    }
}

TEST(PruneIslands, AnyNonZeroBranchStatusConnects) {
    IslandNetwork n;
    n.net.branches[n.bc].status = 2;
    EXPECT_TRUE(n.net.prune_islands().empty());
}

TEST(PruneIslands, BranchWithMissingEndJoinsNothing) {
    IslandNetwork n;
    n.net.add_branch(make_branch("XB", -1, n.b));
    const int dangling_c = n.net.add_branch(make_branch("CX", n.c, -1));
    const int dangling_d = n.net.add_branch(make_branch("XD", -1, n.d));
    EXPECT_EQ(n.net.prune_islands().size(), 2u);
    EXPECT_EQ(n.net.branches[dangling_c].status, 0);
    EXPECT_EQ(n.net.branches[dangling_d].status, 0);
    EXPECT_EQ(n.net.branches[n.net.find_branch("XB")].status, 1);  // its one end is live
}

// Reachability must not depend on the order in which branches appear: a chain listed from its
// far end, with the slack bus in the middle.
TEST(PruneIslands, BusMadePvAgainIsReachedThroughItsBranch) {
    IslandNetwork n;
    n.net.prune_islands();
    n.net.branches[n.bc].status = 1;
    n.net.branches[n.cd].status = 1;
    n.net.buses[n.c].type = PV;  // as a generator connected there leaves it

    // C is entered again; D, still ISOLATED, is not, and its branch goes out.
    EXPECT_EQ(n.net.prune_islands(), (std::vector<std::string>{"D"}));
    EXPECT_EQ(n.net.buses[n.c].type, PV);
    EXPECT_EQ(n.net.branches[n.bc].status, 1);
    EXPECT_EQ(n.net.branches[n.cd].status, 0);
}

TEST(PruneIslands, LongChainInAnyBranchOrder) {
    Network net;
    const int n_bus = 2000;
    for (int i = 0; i < n_bus; ++i) net.add_bus(make_bus("N" + std::to_string(i), 0.001));
    for (int i = n_bus - 2; i >= 0; --i) {
        // the chain is broken between 1499 and 1500
        net.add_branch(make_branch("L" + std::to_string(i), i + 1, i, i == 1499 ? 0 : 1));
    }
    net.slack_bus = 700;
    const std::vector<std::string> pruned = net.prune_islands();
    ASSERT_EQ(pruned.size(), 500u);
    EXPECT_EQ(pruned.front(), "N1500");
    EXPECT_EQ(pruned.back(), "N1999");
    EXPECT_NE(net.buses[0].type, ISOLATED);
    EXPECT_NE(net.buses[1499].type, ISOLATED);
    EXPECT_EQ(net.buses[1500].type, ISOLATED);
}

TEST(PruneIslands, ReconnectingDoesNotBringBackAndResetDoes) {
    IslandNetwork n;
    n.net.save_initial_snapshot();
    n.net.prune_islands();
    n.net.branches[n.bc].status = 1;
    n.net.branches[n.cd].status = 1;

    // The search does not enter a bus already ISOLATED (the solver holds it at 0 V): the
    // island is pruned again and the reconnected branches go back out.
    double lost = 99.0;
    EXPECT_EQ(n.net.prune_islands(nullptr, &lost), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(lost, 0.0);
    EXPECT_EQ(n.net.branches[n.bc].status, 0);
    EXPECT_EQ(n.net.branches[n.cd].status, 0);
    EXPECT_EQ(n.net.buses[n.c].type, ISOLATED);
    EXPECT_EQ(n.net.buses[n.c].p_load, 0.0);
    EXPECT_EQ(n.net.generators[n.gen_c].status, 0);

    n.net.reset_to_initial();
    const Bus& c = n.net.buses[n.c];
    EXPECT_EQ(c.type, PV);
    EXPECT_EQ(c.p_load, 0.2);
    EXPECT_EQ(c.q_load, 0.05);
    EXPECT_EQ(c.b_shunt, 0.04);
    EXPECT_EQ(c.q_shunt, 0.03);
    EXPECT_EQ(n.net.buses[n.d].type, PQ);
    EXPECT_EQ(n.net.buses[n.d].b_shunt, -0.01);
    EXPECT_EQ(n.net.generators[n.gen_c].status, 1);
    EXPECT_EQ(n.net.svcs[n.svc_d].status, 1);
    EXPECT_EQ(n.net.branches[n.bc].status, 0);  // open as loaded
    EXPECT_EQ(n.net.branches[n.cd].status, 1);
}

// ---- Snapshot and reset ------------------------------------------------------------------

// A regulated transformer with a three-entry table and a phase shifter with positions 1, 3, 5.
struct ControlledNetwork {
    Network net;
    int tap_branch, pst_branch;

    ControlledNetwork() {
        net.add_bus(make_bus("A"));
        net.add_bus(make_bus("B"));
        net.slack_bus = 0;
        Branch tr = make_branch("T", 0, 1);
        tr.kind = BRANCH_REGULATED_TRANSFORMER;
        tr.ratio = 1.0;
        tap_branch = net.add_branch(tr);
        Branch ps = make_branch("P", 0, 1);
        pst_branch = net.add_branch(ps);

        TapRegulator tap;
        tap.branch = tap_branch;
        tap.bus = 1;
        tap.ratios = {0.95, 1.0, 1.05};
        tap.pos = tap.pos_init = 1;
        tap.pos_max = 2;
        net.tap_regulators.push_back(tap);

        PhaseShifter pst;
        pst.branch = pst_branch;
        pst.monitored_branch = pst_branch;
        pst.r = 0.01;
        pst.positions = {1, 3, 5};
        pst.x = {0.1, 0.2, 0.4};
        pst.ratios = {1.0, 1.02, 1.06};
        pst.shifts = {-0.2, 0.0, 0.3};
        pst.pos = pst.pos_init = 3;
        pst.record = -1;
        net.phase_shifters.push_back(pst);
    }
    Branch& pst_br() { return net.branches[pst_branch]; }
};

TEST(Reset, SnapshotRestoresEverySavedField) {
    IslandNetwork n;
    Network& net = n.net;
    net.buses[n.b].v = 1.01;
    net.buses[n.b].angle = -0.05;
    net.buses[n.b].v_init = 1.07;
    net.generators[n.gen_a].mode = GEN_VOLTAGE_CONTROL;
    net.generators[n.gen_a].v_set = 1.02;
    net.generators[n.gen_a].q = 0.2;
    net.svcs[n.svc_d].mode = SVC_VOLTAGE_CONTROL;
    net.svcs[n.svc_d].q = 0.07;
    net.svcs[n.svc_d].v_set = 1.0;
    net.save_initial_snapshot();
    ASSERT_TRUE(net.initial_snapshot.has_value());
    EXPECT_EQ(net.initial_snapshot->bus_v.size(), 4u);
    EXPECT_EQ(net.initial_snapshot->gen_p.size(), 2u);

    Bus& b = net.buses[n.b];
    b.v = 0.9;
    b.angle = 0.4;
    b.p_load = 1.0;
    b.q_load = 1.0;
    b.b_shunt = 1.0;
    b.q_shunt = 1.0;
    b.type = PV;
    b.v_init = 0.5;  // only the reader sets it; the reset must not touch it
    net.branches[n.ab].status = 0;
    Generator& g = net.generators[n.gen_a];
    g.status = 0;
    g.mode = GEN_AT_QMAX;
    g.p = 2.0;
    g.q = 0.9;
    g.v_set = 1.1;
    g.q_max = 3.0;
    net.svcs[n.svc_d].status = 0;
    net.svcs[n.svc_d].mode = SVC_AT_BMAX;
    net.svcs[n.svc_d].q = 0.5;
    net.svcs[n.svc_d].v_set = 1.05;

    net.reset_to_initial();
    EXPECT_EQ(b.v, 1.01);
    EXPECT_EQ(b.angle, -0.05);
    EXPECT_EQ(b.p_load, 0.3);
    EXPECT_EQ(b.q_load, 0.1);
    EXPECT_EQ(b.b_shunt, 0.0);
    EXPECT_EQ(b.q_shunt, 0.0);
    EXPECT_EQ(b.type, PQ);
    EXPECT_EQ(b.v_init, 0.5);
    EXPECT_EQ(net.branches[n.ab].status, 1);
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(g.mode, GEN_VOLTAGE_CONTROL);
    EXPECT_EQ(g.p, 1.0);
    EXPECT_EQ(g.q, 0.2);
    EXPECT_EQ(g.v_set, 1.02);
    EXPECT_EQ(g.q_max, 3.0);  // limits are not part of the state
    EXPECT_EQ(net.svcs[n.svc_d].status, 1);
    EXPECT_EQ(net.svcs[n.svc_d].mode, SVC_VOLTAGE_CONTROL);
    EXPECT_EQ(net.svcs[n.svc_d].q, 0.5);      // not saved
    EXPECT_EQ(net.svcs[n.svc_d].v_set, 1.05); // not saved

    // the snapshot stays: a second reset after new changes restores again
    b.p_load = 7.0;
    net.reset_to_initial();
    EXPECT_EQ(b.p_load, 0.3);
    EXPECT_TRUE(net.initial_snapshot.has_value());
}

TEST(Reset, LaterSaveReplacesSnapshot) {
    IslandNetwork n;
    n.net.save_initial_snapshot();
    n.net.buses[n.b].p_load = 0.8;
    n.net.save_initial_snapshot();
    n.net.buses[n.b].p_load = 0.0;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.buses[n.b].p_load, 0.8);
}

TEST(Reset, ElementsAddedAfterSaveAreLeftAlone) {
    IslandNetwork n;
    n.net.save_initial_snapshot();
    Bus extra = make_bus("E", 0.4);
    extra.v = 0.97;
    const int e = n.net.add_bus(extra);
    const int br = n.net.add_branch(make_branch("BE", n.b, e, 0));
    const int g = n.net.add_generator(make_gen("GE", e, 0.3, 0));
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.buses[e].v, 0.97);
    EXPECT_EQ(n.net.buses[e].p_load, 0.4);
    EXPECT_EQ(n.net.branches[br].status, 0);
    EXPECT_EQ(n.net.generators[g].status, 0);
}

TEST(Reset, TapPositionAndRatioReturn) {
    ControlledNetwork n;
    n.net.save_initial_snapshot();
    n.net.tap_regulators[0].pos = 2;  // as the tap control would leave it
    n.net.branches[n.tap_branch].ratio = 1.05;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.tap_regulators[0].pos, 1);
    EXPECT_EQ(n.net.branches[n.tap_branch].ratio, 1.0);
}

TEST(Reset, TapPositionOutsideTableLeavesRatio) {
    ControlledNetwork n;
    n.net.tap_regulators[0].pos = 7;
    n.net.save_initial_snapshot();
    n.net.branches[n.tap_branch].ratio = 1.234;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.tap_regulators[0].pos, 7);
    EXPECT_EQ(n.net.branches[n.tap_branch].ratio, 1.234);

    n.net.tap_regulators[0].branch = 9;  // no such branch: skipped without harm
    n.net.tap_regulators[0].pos = 0;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.tap_regulators[0].pos, 7);
}

struct PstCase {
    int pos;
    bool moves;  // the table places the position
    double x, ratio, shift;
};

TEST(Reset, PhaseShifterBranchFromTables) {
    const PstCase cases[] = {
        {1, true, 0.1, 1.0, -0.2},
        {3, true, 0.2, 1.02, 0.0},
        {5, true, 0.4, 1.06, 0.3},
        {2, true, 0.1 + (0.2 - 0.1) * 0.5, 1.0 + (1.02 - 1.0) * 0.5, -0.2 + (0.0 - -0.2) * 0.5},
        {4, true, 0.2 + (0.4 - 0.2) * 0.5, 1.02 + (1.06 - 1.02) * 0.5, 0.0 + (0.3 - 0.0) * 0.5},
        {0, false, 0, 0, 0},
        {6, false, 0, 0, 0},
    };
    for (const PstCase& c : cases) {
        ControlledNetwork n;
        n.net.phase_shifters[0].pos = c.pos;
        n.net.save_initial_snapshot();
        Branch& br = n.pst_br();
        br.ratio = 9.0;
        br.shift = 9.0;
        br.g_from = br.g_to = br.b_from = br.b_to = 9.0;
        n.net.phase_shifters[0].pos = 3;
        n.net.reset_to_initial();
        EXPECT_EQ(n.net.phase_shifters[0].pos, c.pos);
        if (!c.moves) {
            EXPECT_EQ(br.ratio, 9.0) << c.pos;
            EXPECT_EQ(br.shift, 9.0) << c.pos;
            EXPECT_EQ(br.g_from, 9.0) << c.pos;
            continue;
        }
        const double d = 0.01 * 0.01 + c.x * c.x;
        EXPECT_EQ(br.ratio, c.ratio) << c.pos;
        EXPECT_EQ(br.shift, c.shift) << c.pos;
        EXPECT_EQ(br.g_from, 0.01 / d) << c.pos;
        EXPECT_EQ(br.g_to, 0.01 / d) << c.pos;
        EXPECT_EQ(br.b_from, -c.x / d) << c.pos;
        EXPECT_EQ(br.b_to, -c.x / d) << c.pos;
    }
}

TEST(Reset, PhaseShifterWithoutImpedanceKeepsSeriesTerms) {
    ControlledNetwork n;
    PhaseShifter& pst = n.net.phase_shifters[0];
    pst.r = 0.0;
    pst.x = {0.0, 0.0, 0.0};
    n.net.save_initial_snapshot();
    Branch& br = n.pst_br();
    br.g_from = br.g_to = 2.0;
    br.b_from = br.b_to = -3.0;
    n.net.reset_to_initial();
    EXPECT_EQ(br.ratio, 1.02);
    EXPECT_EQ(br.shift, 0.0);
    EXPECT_EQ(br.g_from, 2.0);
    EXPECT_EQ(br.b_to, -3.0);
}

TEST(Reset, PhaseShifterSignStaysReversed) {
    ControlledNetwork n;
    n.net.save_initial_snapshot();
    n.net.phase_shifters[0].sign = -1;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.phase_shifters[0].sign, -1);
}

TEST(Reset, PhaseShifterOnMissingBranchIsSkipped) {
    ControlledNetwork n;
    n.net.phase_shifters[0].branch = 5;
    n.net.save_initial_snapshot();
    n.net.phase_shifters[0].pos = 1;
    n.net.reset_to_initial();
    EXPECT_EQ(n.net.phase_shifters[0].pos, 3);
}

TEST(Reset, WithoutSnapshotUsesInitialValues) {
    IslandNetwork n;
    ControlledNetwork ctl;
    Network& net = n.net;
    ASSERT_FALSE(net.initial_snapshot.has_value());
    const int no_setpoint = net.add_generator(make_gen("GX", n.b, 0.1));
    net.generators[no_setpoint].mode = GEN_AT_QMAX;
    Bus& b = net.buses[n.b];
    b.v_init = 1.03;
    b.angle_init = -0.02;
    b.type_init = PV;
    b.v = 0.8;
    b.angle = 0.3;
    b.type = PQ;
    Generator& ga = net.generators[n.gen_a];
    ga.v_set = 1.02;
    ga.mode = GEN_AT_QMAX;
    ga.p = 1.7;
    Generator& gc = net.generators[n.gen_c];
    gc.v_set = 1.01;
    gc.status = 2;
    gc.mode = GEN_AT_QMIN;
    net.buses[n.c].p_load = 0.9;
    net.branches[n.ab].status = 0;
    net.svcs[n.svc_d].mode = SVC_AT_BMIN;

    net.reset_to_initial();
    EXPECT_EQ(b.v, 1.03);
    EXPECT_EQ(b.angle, -0.02);
    EXPECT_EQ(b.type, PV);
    EXPECT_EQ(ga.mode, GEN_VOLTAGE_CONTROL);
    EXPECT_EQ(ga.p, 1.7);
    EXPECT_EQ(gc.mode, GEN_AT_QMIN);  // status 2 is not in service
    EXPECT_EQ(net.generators[no_setpoint].mode, GEN_AT_QMAX);
    EXPECT_EQ(net.buses[n.c].p_load, 0.9);
    EXPECT_EQ(net.branches[n.ab].status, 0);
    EXPECT_EQ(net.svcs[n.svc_d].mode, SVC_AT_BMIN);
    EXPECT_FALSE(net.initial_snapshot.has_value());

    ctl.net.tap_regulators[0].pos = 0;
    ctl.net.phase_shifters[0].pos = 5;
    ctl.net.reset_to_initial();
    EXPECT_EQ(ctl.net.tap_regulators[0].pos, 1);
    EXPECT_EQ(ctl.net.branches[ctl.tap_branch].ratio, 1.0);
    EXPECT_EQ(ctl.net.phase_shifters[0].pos, 3);
    EXPECT_EQ(ctl.pst_br().ratio, 1.02);
}

// ---- Write-back --------------------------------------------------------------------------

RawRecord record(const std::string& keyword, std::vector<std::string> fields) {
    return RawRecord{keyword, std::move(fields)};
}

// Raw records laid out as the reader leaves them, with the elements pointing into them; base
// power 50 MVA so that the per-unit scaling is visible.
struct RecordNetwork {
    Network net;

    RecordNetwork() {
        net.sbase = 50.0;
        net.raw_records.push_back(record("$SBASE", {"50"}));
        net.raw_records.push_back(record("BUS", {"A", "400", "10", "5", "0", "7.5"}));
        net.raw_records.push_back(record("BUS", {"B", "400", "0", "0", "0"}));
        net.raw_records.push_back(record("LINE", {"L", "A", "B", "1", "10", "0", "100", "1"}));
        net.raw_records.push_back(
            record("TRANSFO", {"T", "A", "B", "0", "10", "0", "0", "100", "0", "100", "1"}));
        net.raw_records.push_back(
            record("GENER", {"G", "A", "40", "0", "1.02", "0", "-50", "50", "1"}));
        net.raw_records.push_back(
            record("GENER", {"H", "B", "30", "5", "0", "0", "-50", "50", "1"}));
        net.raw_records.push_back(
            record("SVC", {"S", "B", "B", "1.01", "0", "1", "50", "-50", "10", "1"}));
        net.raw_records.push_back(
            record("PSHIFT-P", {"T", "L", "-10", "10", "5", "1", "20", "1"}));

        Bus a = make_bus("A", 0.2, 0.1);
        a.q_shunt = 0.15;
        a.record = 1;
        a.v = 1.0123456789;
        a.angle = 0.0;
        Bus b = make_bus("B");
        b.record = 2;
        b.v = 0.98;
        b.angle = -0.0523598776;
        net.add_bus(a);
        net.add_bus(b);
        Branch line = make_branch("L", 0, 1);
        line.record = 3;
        line.status_field = 7;
        net.add_branch(line);
        Branch tr = make_branch("T", 0, 1);
        tr.is_transformer = true;
        tr.kind = BRANCH_TRANSFORMER;
        tr.record = 4;
        tr.status_field = 10;
        tr.ratio_field = 7;
        tr.ratio = 0.975;
        net.add_branch(tr);
        Generator g = make_gen("G", 0, 0.8);
        g.q = 0.25;
        g.v_set = 1.02;
        g.mode = GEN_VOLTAGE_CONTROL;
        g.record = 5;
        g.status_field = 8;
        g.p_field = 2;
        g.q_field = 3;
        g.v_field = 4;
        net.add_generator(g);
        Generator h = make_gen("H", 1, 0.6);
        h.q = 0.1;
        h.record = 6;
        h.status_field = 8;
        h.p_field = 2;
        h.q_field = 3;
        h.v_field = 4;
        net.add_generator(h);
        SVC s = make_svc("S", 1);
        s.v_set = 1.01;
        s.mode = SVC_VOLTAGE_CONTROL;
        s.q = 0.3;
        s.record = 7;
        s.status_field = 9;
        net.add_svc(s);
        PhaseShifter pst;
        pst.branch = 1;
        pst.monitored_branch = 0;
        pst.record = 8;
        pst.sign_field = 5;
        net.phase_shifters.push_back(pst);
    }
    const std::vector<std::string>& fields(int record) const {
        return net.raw_records[record].fields;
    }
};

TEST(WriteBack, WritesTheSolvedStateIntoTheRecords) {
    RecordNetwork n;
    n.net.update_records();
    EXPECT_EQ(n.fields(1), (std::vector<std::string>{"A", "400", "10", "5", "0", "7.5"}));
    EXPECT_EQ(n.fields(3)[7], "1");
    EXPECT_EQ(n.fields(4)[7], "97.5");
    EXPECT_EQ(n.fields(4)[10], "1");
    EXPECT_EQ(n.fields(5), (std::vector<std::string>{"G", "A", "40", "12.5", "1.01234568", "0",
                                                     "-50", "50", "1"}));
    EXPECT_EQ(n.fields(6), (std::vector<std::string>{"H", "B", "30", "5", "0", "0", "-50", "50",
                                                     "1"}));
    EXPECT_EQ(n.fields(7), (std::vector<std::string>{"S", "B", "B", "1.01", "15", "1", "50", "-50",
                                                     "10", "1"}));
    EXPECT_EQ(n.fields(8)[5], "1");
    EXPECT_EQ(n.fields(0), (std::vector<std::string>{"50"}));
}

TEST(WriteBack, NumbersUseNineSignificantDigitsOnNetworkBase) {
    RecordNetwork n;
    n.net.buses[1].p_load = 0.123456789012;
    n.net.buses[1].q_load = -1e-12;
    n.net.buses[1].b_shunt = 2e7;
    n.net.update_records();
    EXPECT_EQ(n.fields(2)[2], "6.17283945");
    EXPECT_EQ(n.fields(2)[3], "-5e-11");
    EXPECT_EQ(n.fields(2)[4], "1e+09");
}

// A number below the smallest normal double, which the reader would refuse as out of range, is
// written as 0; the smallest normal one is written as it is.
TEST(WriteBack, NumbersBelowTheSmallestNormalAreWrittenAsZero) {
    const double least = std::numeric_limits<double>::denorm_min();
    const double normal = std::numeric_limits<double>::min();
    RecordNetwork n;
    n.net.buses[1].v = least;                 // LFRESV B, field 1
    n.net.buses[1].angle = -1e-310;           // LFRESV B, field 2
    n.net.buses[0].angle = normal;            // LFRESV A, field 2
    n.net.buses[1].p_load = 1e-310;           // BUS B, field 2
    n.net.buses[1].q_load = -normal;          // BUS B, field 3
    n.net.generators[0].q = least;            // GENER G, field 3
    n.net.generators[1].p = -least;           // GENER H, field 2
    n.net.branches[1].ratio = 1e-311;         // TRANSFO T, field 7
    n.net.svcs[0].q = 3e-310;                 // SVC S, field 4
    const std::size_t before = n.net.raw_records.size();
    n.net.update_records();
    EXPECT_EQ(n.net.raw_records[before + 1].fields, (std::vector<std::string>{"B", "0", "0"}));
    EXPECT_EQ(n.net.raw_records[before].fields[2], "2.22507386e-308");
    EXPECT_EQ(n.fields(2)[2], "0");
    EXPECT_EQ(n.fields(2)[3], "-1.11253693e-306");  // normal once multiplied by the base
    EXPECT_EQ(n.fields(5)[3], "0");
    EXPECT_EQ(n.fields(6)[2], "0");
    EXPECT_EQ(n.fields(4)[7], "0");
    EXPECT_EQ(n.fields(7)[4], "0");
}

TEST(WriteBack, StatusesOfBranchesAndCompensatorsAreOneOrZero) {
    RecordNetwork n;
    n.net.branches[0].status = 2;
    n.net.branches[1].status = 0;
    n.net.svcs[0].status = 0;
    n.net.update_records();
    EXPECT_EQ(n.fields(3)[7], "1");
    EXPECT_EQ(n.fields(4)[10], "0");
    EXPECT_EQ(n.fields(7)[9], "0");
}

// A unit's status is written as held: only 1 is in service, and a status of 2 must not come
// back in service when the dump is read again.
TEST(WriteBack, GeneratorStatusIsTheIntegerHeld) {
    for (int status : {1, 0, 2, -1, 17}) {
        RecordNetwork n;
        n.net.generators[1].status = status;
        n.net.update_records();
        EXPECT_EQ(n.fields(6)[8], std::to_string(status));
    }
}

// A unit without a setpoint keeps 0 there, whatever its bus voltage: the bus voltage would
// make it voltage-controlling when read back.
TEST(WriteBack, GeneratorWithoutSetpointKeepsZero) {
    RecordNetwork n;
    n.net.raw_records[6].fields[4] = "0.0";
    n.net.buses[1].v = 1.043;
    n.net.update_records();
    EXPECT_EQ(n.fields(6)[4], "0");
    // a setpoint removed after loading is written as none too
    n.net.generators[0].v_set = 0.0;
    n.net.update_records();
    EXPECT_EQ(n.fields(5)[4], "0");
}

TEST(WriteBack, CompensatorNotControllingWritesNoSetpoint) {
    const int modes[] = {SVC_AT_BMAX, SVC_AT_BMIN, SVC_FIXED_Q};
    for (int mode : modes) {
        RecordNetwork n;
        n.net.svcs[0].mode = mode;
        n.net.svcs[0].q = 0.5;
        n.net.update_records();
        EXPECT_EQ(n.fields(7)[3], "0.") << mode;
        EXPECT_EQ(n.fields(7)[4], "25") << mode;
    }
}

// Tripped in any mode, voltage control included, a compensator is written as the reader makes
// any compensator out of service: no setpoint and no output.
TEST(WriteBack, CompensatorOutOfServiceWritesNoSetpointAndNoOutput) {
    const int modes[] = {SVC_VOLTAGE_CONTROL, SVC_AT_BMAX, SVC_AT_BMIN, SVC_FIXED_Q};
    for (int mode : modes) {
        RecordNetwork n;
        n.net.svcs[0].mode = mode;
        n.net.svcs[0].status = 0;
        n.net.update_records();
        EXPECT_EQ(n.fields(7), (std::vector<std::string>{"S", "B", "B", "0.", "0", "1", "50",
                                                         "-50", "10", "0"}))
            << mode;
    }
}

TEST(WriteBack, PhaseShifterSignAsControlLeftIt) {
    RecordNetwork n;
    n.net.phase_shifters[0].sign = -1;
    n.net.update_records();
    EXPECT_EQ(n.fields(8)[5], "-1");
    n.net.phase_shifters[0].sign_field = -1;  // no sign field: nothing written
    n.net.phase_shifters[0].sign = 1;
    n.net.update_records();
    EXPECT_EQ(n.fields(8)[5], "-1");
}

TEST(WriteBack, AppendsLfresvOnceThenUpdatesIt) {
    RecordNetwork n;
    const std::size_t before = n.net.raw_records.size();
    n.net.update_records();
    ASSERT_EQ(n.net.raw_records.size(), before + 2);
    const RawRecord& la = n.net.raw_records[before];
    const RawRecord& lb = n.net.raw_records[before + 1];
    EXPECT_EQ(la.keyword, "LFRESV");
    EXPECT_EQ(la.fields, (std::vector<std::string>{"A", "1.01234568", "0"}));
    EXPECT_EQ(lb.fields, (std::vector<std::string>{"B", "0.98", "-0.0523598776"}));
    EXPECT_EQ(n.net.buses[0].lfresv_record, static_cast<int>(before));
    EXPECT_EQ(n.net.buses[1].lfresv_record, static_cast<int>(before + 1));

    n.net.buses[1].v = 1.05;
    n.net.buses[1].angle = 0.25;
    n.net.update_records();
    EXPECT_EQ(n.net.raw_records.size(), before + 2);
    EXPECT_EQ(n.net.raw_records[before + 1].fields,
              (std::vector<std::string>{"B", "1.05", "0.25"}));
}

TEST(WriteBack, ExistingLfresvRecordIsUpdatedInPlace) {
    RecordNetwork n;
    n.net.raw_records.push_back(record("LFRESV", {"A", "1", "0", "extra"}));
    n.net.buses[0].lfresv_record = static_cast<int>(n.net.raw_records.size()) - 1;
    const std::size_t before = n.net.raw_records.size();
    n.net.update_records();
    EXPECT_EQ(n.net.raw_records.size(), before + 1);  // only B gets one
    EXPECT_EQ(n.net.raw_records[before - 1].fields,
              (std::vector<std::string>{"A", "1.01234568", "0", "extra"}));
    EXPECT_EQ(n.net.raw_records[before].fields[0], "B");
}

// Of two buses of one name only the later is found, and so only it can have an "LFRESV"
// record: one appended for the earlier would read back as the later's.
TEST(WriteBack, RepeatedBusNameGetsOneLfresvForTheBusItFinds) {
    RecordNetwork n;
    Bus again = make_bus("A");
    again.v = 0.97;
    n.net.add_bus(again);
    const std::size_t before = n.net.raw_records.size();
    n.net.update_records();
    ASSERT_EQ(n.net.raw_records.size(), before + 2);
    EXPECT_EQ(n.net.raw_records[before].fields,
              (std::vector<std::string>{"B", "0.98", "-0.0523598776"}));
    EXPECT_EQ(n.net.raw_records[before + 1].fields, (std::vector<std::string>{"A", "0.97", "0"}));
    EXPECT_EQ(n.net.buses[0].lfresv_record, -1);
    EXPECT_EQ(n.net.buses[2].lfresv_record, static_cast<int>(before + 1));
    n.net.update_records();
    EXPECT_EQ(n.net.raw_records.size(), before + 2);
}

TEST(WriteBack, BadPositionsAreSkippedAndTheRestGoesOn) {
    RecordNetwork n;
    n.net.generators[0].v_field = 30;    // beyond the record
    n.net.generators[0].q_field = -1;    // none
    n.net.branches[0].record = 99;       // beyond the raw records
    n.net.branches[1].record = -1;       // skipped whole
    n.net.branches[1].status = 0;
    n.net.svcs[0].record = -1;
    n.net.svcs[0].mode = SVC_AT_BMAX;
    n.net.raw_records[2].fields.resize(3);  // a "BUS" record too short for fields 3 and 4
    n.net.buses[1].p_load = 3.0;
    n.net.buses[1].q_load = 1.0;
    n.net.buses[0].lfresv_record = 500;  // a record that does not exist: nothing written
    Bus unrecorded = make_bus("C", 0.5);  // no "BUS" record: only its LFRESV is written
    n.net.add_bus(unrecorded);
    const std::size_t before = n.net.raw_records.size();
    n.net.update_records();

    EXPECT_EQ(n.fields(5), (std::vector<std::string>{"G", "A", "40", "0", "1.02", "0", "-50",
                                                     "50", "1"}));
    EXPECT_EQ(n.fields(3)[7], "1");
    EXPECT_EQ(n.fields(4)[10], "1");
    EXPECT_EQ(n.fields(7)[3], "1.01");
    EXPECT_EQ(n.fields(2), (std::vector<std::string>{"B", "400", "150"}));
    ASSERT_EQ(n.net.raw_records.size(), before + 2);
    EXPECT_EQ(n.net.raw_records[before].fields[0], "B");
    EXPECT_EQ(n.net.raw_records[before + 1].fields,
              (std::vector<std::string>{"C", "1", "0"}));
    EXPECT_EQ(n.net.buses[0].lfresv_record, 500);
}

TEST(WriteBack, GeneratorOnMissingBusWritesNoVoltage) {
    RecordNetwork n;
    n.net.generators[0].bus = -1;
    n.net.update_records();
    EXPECT_EQ(n.fields(5)[4], "1.02");  // text as read
    EXPECT_EQ(n.fields(5)[2], "40");
}

TEST(UpdateRecordField, WritesOnlyExistingFields) {
    Network net;
    net.raw_records.push_back(record("BUS", {"A", "1"}));
    net.update_record_field(0, 1, "x");
    EXPECT_EQ(net.raw_records[0].fields[1], "x");
    net.update_record_field(0, 2, "y");
    net.update_record_field(0, -1, "y");
    net.update_record_field(1, 0, "y");
    net.update_record_field(-1, 0, "y");
    EXPECT_EQ(net.raw_records[0].fields, (std::vector<std::string>{"A", "x"}));
    EXPECT_EQ(net.raw_records.size(), 1u);
}

// ---- On networks read from files ---------------------------------------------------------

Network read_network(const std::string& path) {
    Network net;
    SolverParams params;
    InputParser().load(path, net, params);
    return net;
}

// The raw records as input text (fields without blanks), so that a write-back can be read again.
std::string records_as_input(const Network& net) {
    std::string text;
    for (const RawRecord& rec : net.raw_records) {
        text += rec.keyword;
        for (const std::string& field : rec.fields) text += " " + field;
        text += " ;\n";
    }
    return text;
}

TEST(WriteBackRoundTrip, UnitsKeepTheirControlAndStatus) {
    Network net = read_network(std::string(VARNOK_TEST_DATA_DIR) + "/state/writeback.txt");
    ASSERT_EQ(net.buses.size(), 4u);
    const std::size_t records_read = net.raw_records.size();
    const int gb = net.find_gen("GB");
    const int gc = net.find_gen("GC");
    const int sd = net.find_svc("SD");
    ASSERT_EQ(net.generators[gb].mode, GEN_PQ);
    ASSERT_EQ(net.generators[gc].status, 2);
    ASSERT_EQ(net.svcs[sd].mode, SVC_VOLTAGE_CONTROL);

    // a solved state, as the engine would leave it
    const double v[] = {1.02, 0.97, 0.99, 1.004};
    const double angle[] = {0.0, -0.031, -0.045, -0.05};
    for (std::size_t i = 0; i < 4; ++i) {
        net.buses[i].v = v[i];
        net.buses[i].angle = angle[i];
    }
    net.generators[net.find_gen("GA")].q = 0.123;
    net.svcs[sd].mode = SVC_AT_BMAX;
    net.svcs[sd].q = 0.45;
    net.update_records();
    ASSERT_EQ(net.raw_records.size(), records_read + 4);

    const std::string path = ::testing::TempDir() + "varnok_state_roundtrip.txt";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << records_as_input(net);
    }
    Network again = read_network(path);
    std::remove(path.c_str());

    const Generator& gb2 = again.generators[again.find_gen("GB")];
    EXPECT_EQ(gb2.v_set, 0.0);
    EXPECT_EQ(gb2.mode, GEN_PQ);
    EXPECT_EQ(again.buses[again.find_bus("B")].type, PQ);
    const Generator& gc2 = again.generators[again.find_gen("GC")];
    EXPECT_EQ(gc2.status, 2);
    EXPECT_EQ(gc2.mode, GEN_PQ);
    EXPECT_EQ(again.buses[again.find_bus("C")].type, PQ);
    const Generator& ga2 = again.generators[again.find_gen("GA")];
    EXPECT_EQ(ga2.mode, GEN_VOLTAGE_CONTROL);
    EXPECT_DOUBLE_EQ(ga2.q, 0.123);

    const SVC& sd2 = again.svcs[again.find_svc("SD")];
    EXPECT_EQ(sd2.mode, SVC_FIXED_Q);
    EXPECT_EQ(sd2.v_set, 0.0);
    EXPECT_DOUBLE_EQ(sd2.q, 0.45);

    EXPECT_DOUBLE_EQ(again.buses[again.find_bus("B")].q_shunt, 0.07);  // field 5 kept
    EXPECT_DOUBLE_EQ(again.buses[again.find_bus("B")].p_load, 0.5);
    for (std::size_t i = 1; i < 4; ++i) {  // the slack bus A takes its voltage from GA
        EXPECT_EQ(again.buses[i].v, v[i]) << i;
        EXPECT_EQ(again.buses[i].angle, angle[i]) << i;
    }
    // a second write-back of the re-read network appends nothing: every bus has its LFRESV
    const std::size_t reread = again.raw_records.size();
    again.update_records();
    EXPECT_EQ(again.raw_records.size(), reread);
}

// The reference networks are connected: pruning takes nothing, and a reset after disturbing
// every restorable field brings back the state saved after reading.
TEST(StateOnReferenceNetworks, PruneNothingAndResetRestores) {
    for (const char* name : {"case9", "case14", "case30", "case118", "case300"}) {
        const std::string path = std::string(VARNOK_CASES_DIR) + "/" + name + ".txt";
        if (!std::filesystem::exists(path)) continue;
        Network net = read_network(path);
        ASSERT_GE(net.slack_bus, 0) << name;
        net.save_initial_snapshot();
        const Network::NetworkSnapshot saved = *net.initial_snapshot;
        double lost = 99.0;
        EXPECT_TRUE(net.prune_islands(nullptr, &lost).empty()) << name;
        EXPECT_EQ(lost, 0.0) << name;

        for (Bus& bus : net.buses) {
            bus.v = 0.5;
            bus.angle = 1.0;
            bus.p_load += 1.0;
            bus.type = PQ;
        }
        for (Branch& br : net.branches) br.status = 0;
        for (Generator& gen : net.generators) {
            gen.p = -1.0;
            gen.mode = GEN_AT_QMIN;
        }
        EXPECT_EQ(net.prune_islands().size(), net.buses.size() - 1) << name;
        net.reset_to_initial();
        net.save_initial_snapshot();
        EXPECT_EQ(net.initial_snapshot->bus_v, saved.bus_v) << name;
        EXPECT_EQ(net.initial_snapshot->bus_angle, saved.bus_angle) << name;
        EXPECT_EQ(net.initial_snapshot->bus_p_load, saved.bus_p_load) << name;
        EXPECT_EQ(net.initial_snapshot->bus_b_shunt, saved.bus_b_shunt) << name;
        EXPECT_EQ(net.initial_snapshot->bus_type, saved.bus_type) << name;
        EXPECT_EQ(net.initial_snapshot->branch_status, saved.branch_status) << name;
        EXPECT_EQ(net.initial_snapshot->gen_status, saved.gen_status) << name;
        EXPECT_EQ(net.initial_snapshot->gen_mode, saved.gen_mode) << name;
        EXPECT_EQ(net.initial_snapshot->gen_p, saved.gen_p) << name;
    }
}

}  // namespace
}  // namespace varnok
