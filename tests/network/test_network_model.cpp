// The network model: fresh records, name maps and the add operations.
#include <gtest/gtest.h>

#include "network/Network.h"

namespace varnok {
namespace {

TEST(NetworkModel, FreshNetworkIsEmpty) {
    Network net;
    EXPECT_TRUE(net.buses.empty());
    EXPECT_TRUE(net.branches.empty());
    EXPECT_TRUE(net.raw_records.empty());
    EXPECT_EQ(net.sbase, 100.0);
    EXPECT_EQ(net.slack_bus, -1);
    EXPECT_FALSE(net.initial_snapshot.has_value());
    EXPECT_EQ(net.find_bus("A"), -1);
    EXPECT_EQ(net.find_branch("A"), -1);
    EXPECT_EQ(net.find_gen("A"), -1);
    EXPECT_EQ(net.find_svc("A"), -1);
    EXPECT_EQ(net.find_zone("A"), -1);
    EXPECT_EQ(net.find_cut("A"), -1);
}

TEST(NetworkModel, FreshRecords) {
    Bus bus;
    EXPECT_EQ(bus.v, 1.0);
    EXPECT_EQ(bus.angle, 0.0);
    EXPECT_EQ(bus.v_init, 1.0);
    EXPECT_EQ(bus.type, PQ);
    EXPECT_EQ(bus.type_init, PQ);
    for (int index : {bus.zone, bus.gen, bus.svc, bus.record, bus.lfresv_record}) EXPECT_EQ(index, -1);

    Branch branch;
    EXPECT_EQ(branch.status, 1);
    EXPECT_EQ(branch.ratio, 1.0);
    EXPECT_EQ(branch.kind, BRANCH_LINE);
    EXPECT_FALSE(branch.is_transformer);
    EXPECT_EQ(branch.from, -1);
    EXPECT_EQ(branch.ratio_field, -1);

    Generator gen;
    EXPECT_EQ(gen.status, 1);
    EXPECT_EQ(gen.mode, GEN_PQ);
    EXPECT_EQ(gen.v_set, 0.0);

    SVC svc;
    EXPECT_EQ(svc.status, 1);
    EXPECT_EQ(svc.mode, SVC_FIXED_Q);

    TapRegulator tap;
    EXPECT_TRUE(tap.ratio_increasing);
    EXPECT_EQ(tap.pos_min, 0);
    PhaseShifter pst;
    EXPECT_EQ(pst.sign, 1);
    EXPECT_EQ(pst.sign_field, 5);
}

TEST(NetworkModel, ValueSets) {
    EXPECT_EQ(ISOLATED, 3);
    EXPECT_EQ(GEN_VOLTAGE_CONTROL, -2);
    EXPECT_EQ(GEN_AT_QMIN, 3);
    EXPECT_EQ(SVC_VOLTAGE_CONTROL, -4);
    EXPECT_EQ(SVC_AT_BMIN, 5);
    EXPECT_EQ(BRANCH_NRTP, 3);
    EXPECT_EQ(BRANCH_REGULATED_TRANSFORMER, -3);
}

TEST(NetworkModel, AddsReturnConsecutiveIndexes) {
    Network net;
    for (int i = 0; i < 3; ++i) {
        Bus bus;
        bus.name = "B" + std::to_string(i);
        EXPECT_EQ(net.add_bus(bus), i);
        EXPECT_EQ(net.find_bus(bus.name), i);
    }
}

TEST(NetworkModel, RepeatedNameFindsNewestAndKeepsOlder) {
    Network net;
    Bus first;
    first.name = "N1";
    first.vnom_kv = 225.0;
    Bus second = first;
    second.vnom_kv = 400.0;
    EXPECT_EQ(net.add_bus(first), 0);
    EXPECT_EQ(net.add_bus(second), 1);
    EXPECT_EQ(net.find_bus("N1"), 1);
    ASSERT_EQ(net.buses.size(), 2u);
    EXPECT_EQ(net.buses[0].vnom_kv, 225.0);

    Generator g;
    g.name = "G";
    EXPECT_EQ(net.add_generator(g), 0);
    EXPECT_EQ(net.add_generator(g), 1);
    EXPECT_EQ(net.find_gen("G"), 1);
}

TEST(NetworkModel, NamesAreExactBytes) {
    Network net;
    Branch b;
    b.name = "Line";
    net.add_branch(b);
    EXPECT_EQ(net.find_branch("Line"), 0);
    EXPECT_EQ(net.find_branch("LINE"), -1);
    EXPECT_EQ(net.find_branch("line"), -1);
    EXPECT_EQ(net.find_branch("Line "), -1);
    EXPECT_EQ(net.find_branch(" Line"), -1);
}

TEST(NetworkModel, EachKindHasItsOwnMap) {
    Network net;
    SVC svc;
    svc.name = "X";
    Zone zone;
    zone.name = "X";
    zone.members.push_back({0, 0.5, 0.25});
    Cut cut;
    cut.name = "X";
    cut.members.push_back({0, 0, -1});
    EXPECT_EQ(net.add_svc(svc), 0);
    EXPECT_EQ(net.add_zone(zone), 0);
    EXPECT_EQ(net.add_cut(cut), 0);
    EXPECT_EQ(net.find_svc("X"), 0);
    EXPECT_EQ(net.find_zone("X"), 0);
    EXPECT_EQ(net.find_cut("X"), 0);
    EXPECT_EQ(net.find_bus("X"), -1);
    EXPECT_EQ(net.zones[0].members[0].q_factor, 0.25);
    EXPECT_EQ(net.cuts[0].members[0].sign, -1);
}

}  // namespace
}  // namespace varnok
