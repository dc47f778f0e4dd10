// Generator, compensator, slack, initial-voltage, zone and cut records, handled one by one on a
// small network built by hand, then a few whole files.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "reader_fixture.h"

namespace varnok {
namespace {

using reader_test::Fields;
using reader_test::rec;
using reader_test::refusal;

// Buses A, B, C, D and X-Y at 400 kV; line L1 A-B, line L2 B-C out of service.
Network small_network(double sbase = 100.0) {
    Network net;
    net.sbase = sbase;
    for (const char* name : {"A", "B", "C", "D", "X-Y"}) {
        Bus bus;
        bus.name = name;
        bus.vnom_kv = 400.0;
        bus.record = static_cast<int>(net.buses.size());
        net.add_bus(bus);
    }
    Branch l1;
    l1.name = "L1";
    l1.from = 0;
    l1.to = 1;
    net.add_branch(l1);
    Branch l2;
    l2.name = "L2";
    l2.from = 1;
    l2.to = 2;
    l2.status = 0;
    net.add_branch(l2);
    return net;
}

// ---------------------------------------------------------------- GENER

struct GenerCase {
    const char* what;
    Fields fields;
    int reg_bus;
    double p, q, v_set, q_min, q_max, p_min, p_max;
    bool has_p_limits;
    double participation;
    int status, mode;
    int status_field, p_field, q_field, v_field;
    int bus_type;  // of bus A afterwards
};

const std::vector<GenerCase>& gener_cases() {
    static const std::vector<GenerCase> cases = {
        {"9 fields, voltage control",
         {"G1", "A", "50", "20", "1.02", "7", "-30", "40", "1"},
         0, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         1, GEN_VOLTAGE_CONTROL, 8, 2, 3, 4, PV},
        {"10 fields, regulated bus B",
         {"G1", "A", "B", "50", "20", "1.02", "7", "-30", "40", "1"},
         1, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         1, GEN_VOLTAGE_CONTROL, 9, 3, 4, 5, PV},
        {"10 fields, regulated bus unknown: own bus",
         {"G1", "A", "NOPE", "50", "20", "1.02", "7", "-30", "40", "1"},
         0, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         1, GEN_VOLTAGE_CONTROL, 9, 3, 4, 5, PV},
        {"12 fields, no setpoint",
         {"G1", "A", "50", "20", "0", "7", "-30", "40", "10", "80", "2.5", "1"},
         0, 0.5, 0.2, 0.0, -0.3, 0.4, 0.1, 0.8, true, 2.5,
         1, GEN_PQ, 11, 2, 3, 4, PQ},
        {"13 fields",
         {"G1", "A", "C", "50", "20", "1.02", "7", "-30", "40", "10", "80", "2.5", "1"},
         2, 0.5, 0.2, 1.02, -0.3, 0.4, 0.1, 0.8, true, 2.5,
         1, GEN_VOLTAGE_CONTROL, 12, 3, 4, 5, PV},
        {"equal reactive limits: lower one 0.1 Mvar below",
         {"G1", "A", "50", "20", "1.02", "7", "50", "50", "1"},
         0, 0.5, 0.2, 1.02, (50.0 - 0.1) / 100.0, 0.5, -99999.9 / 100.0, 99999.9 / 100.0, false,
         0.0, 1, GEN_VOLTAGE_CONTROL, 8, 2, 3, 4, PV},
        {"limits stored as read, however inverted",
         {"G1", "A", "50", "20", "0", "7", "40", "-30", "80", "10", "-1", "1"},
         0, 0.5, 0.2, 0.0, 0.4, -0.3, 0.8, 0.1, true, -1.0,
         1, GEN_PQ, 11, 2, 3, 4, PQ},
        {"status 0: kept, no voltage control",
         {"G1", "A", "50", "20", "1.02", "7", "-30", "40", "0"},
         0, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         0, GEN_PQ, 8, 2, 3, 4, PQ},
        {"status 2: kept as read, not in service",
         {"G1", "A", "50", "20", "1.02", "7", "-30", "40", "2"},
         0, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         2, GEN_PQ, 8, 2, 3, 4, PQ},
        {"status 1.7 reads as the integer 1, text after numbers ignored",
         {"G1", "A", "50MW", "20", "1.02", "7", "-30", "40", "1.7"},
         0, 0.5, 0.2, 1.02, -0.3, 0.4, -99999.9 / 100.0, 99999.9 / 100.0, false, 0.0,
         1, GEN_VOLTAGE_CONTROL, 8, 2, 3, 4, PV},
    };
    return cases;
}

TEST(UnitRecordsGener, LayoutsStoreTheirValues) {
    for (const GenerCase& c : gener_cases()) {
        SCOPED_TRACE(c.what);
        Network net = small_network();
        net.buses[0].angle = -0.25;
        InputParser().translate_gener(rec("GENER", c.fields), net, 7);

        ASSERT_EQ(net.generators.size(), 1u);
        const Generator& g = net.generators[0];
        EXPECT_EQ(g.name, "G1");
        EXPECT_EQ(g.bus, 0);
        EXPECT_EQ(g.reg_bus, c.reg_bus);
        EXPECT_EQ(g.p, c.p);
        EXPECT_EQ(g.q, c.q);
        EXPECT_EQ(g.v_set, c.v_set);
        EXPECT_EQ(g.q_min, c.q_min);
        EXPECT_EQ(g.q_max, c.q_max);
        EXPECT_EQ(g.p_min, c.p_min);
        EXPECT_EQ(g.p_max, c.p_max);
        EXPECT_EQ(g.has_p_limits, c.has_p_limits);
        EXPECT_EQ(g.participation, c.participation);
        EXPECT_EQ(g.status, c.status);
        EXPECT_EQ(g.mode, c.mode);
        EXPECT_EQ(g.record, 7);
        EXPECT_EQ(g.status_field, c.status_field);
        EXPECT_EQ(g.p_field, c.p_field);
        EXPECT_EQ(g.q_field, c.q_field);
        EXPECT_EQ(g.v_field, c.v_field);
        EXPECT_EQ(net.find_gen("G1"), 0);

        const Bus& a = net.buses[0];
        EXPECT_EQ(a.gen, 0);
        EXPECT_EQ(a.type, c.bus_type);
        EXPECT_EQ(a.type_init, c.bus_type);
        const double v = c.bus_type == PV ? c.v_set : 1.0;
        EXPECT_EQ(a.v, v);
        EXPECT_EQ(a.v_init, v);
        EXPECT_EQ(a.angle, -0.25);  // a setpoint never touches the angle
        // the regulated bus is never made PV
        for (std::size_t b = 1; b < net.buses.size(); ++b) {
            EXPECT_EQ(net.buses[b].type, PQ);
            EXPECT_EQ(net.buses[b].gen, -1);
        }
    }
}

TEST(UnitRecordsGener, PowersUseTheNetworkBase) {
    Network net = small_network(50.0);
    InputParser().translate_gener(
        rec("GENER", {"G1", "A", "50", "-25", "0", "0", "-10", "20", "5", "40", "1", "1"}), net, 0);
    const Generator& g = net.generators[0];
    EXPECT_EQ(g.p, 1.0);
    EXPECT_EQ(g.q, -0.5);
    EXPECT_EQ(g.q_min, -0.2);
    EXPECT_EQ(g.q_max, 0.4);
    EXPECT_EQ(g.p_min, 0.1);
    EXPECT_EQ(g.p_max, 0.8);
    EXPECT_EQ(g.participation, 1.0);  // a factor, not a power

    Network wide = small_network(50.0);
    InputParser().translate_gener(
        rec("GENER", {"G1", "A", "0", "0", "0", "0", "0", "1", "1"}), wide, 0);
    EXPECT_EQ(wide.generators[0].p_max, 99999.9 / 50.0);
    EXPECT_EQ(wide.generators[0].p_min, -99999.9 / 50.0);
}

// A generator GD at D and an SVC SC at C stand in the network before each refused record.
Network network_with_units() {
    Network net = small_network();
    InputParser reader;
    reader.translate_gener(rec("GENER", {"GD", "D", "10", "0", "0", "0", "-5", "5", "1"}), net, 0);
    reader.translate_svc(rec("SVC", {"SC", "C", "C", "0", "0", "1", "50", "-50", "1", "1"}), net, 1);
    return net;
}

struct Refusal {
    Fields fields;
    const char* text;
};

TEST(UnitRecordsGener, RefusalTexts) {
    const std::vector<Refusal> cases = {
        {{}, "InputParser: GENER record needs at least 9 fields, got 0"},
        {{"G1", "A", "50", "20", "1.02", "0", "-30", "40"},
         "InputParser: GENER record needs at least 9 fields, got 8"},
        {{"G1", "ZZ", "50", "20", "1.02", "0", "-30", "40", "1"},
         "InputParser: GENER references unknown bus: ZZ"},
        {{"G1", "a", "50", "20", "1.02", "0", "-30", "40", "1"},
         "InputParser: GENER references unknown bus: a"},
        {{"G1", "A", "B", "50", "20", "1.02", "0", "-30", "40", "0", "1"},
         "InputParser: GENER record has unsupported field count: 11"},
        {{"G1", "A", "B", "50", "20", "1.02", "0", "-30", "40", "0", "80", "1", "1", "x"},
         "InputParser: GENER record has unsupported field count: 14"},
        // the bus test comes before the count test
        {{"G1", "ZZ", "B", "50", "20", "1.02", "0", "-30", "40", "0", "1"},
         "InputParser: GENER references unknown bus: ZZ"},
        {{"G2", "D", "50", "20", "1.02", "0", "-30", "40", "1"},
         "InputParser: More than one generator at bus D"},
        {{"G2", "C", "50", "20", "1.02", "0", "-30", "40", "1"},
         "InputParser: Both a generator and an SVC at bus C"},
        // a known name that would move onto another unit's bus
        {{"GD", "C", "50", "20", "0", "0", "-30", "40", "1"},
         "InputParser: Both a generator and an SVC at bus C"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.text);
        Network net = network_with_units();
        EXPECT_EQ(refusal([&] { InputParser().translate_gener(rec("GENER", c.fields), net, 5); }),
                  c.text);
        EXPECT_EQ(net.generators.size(), 1u);
        EXPECT_EQ(net.generators[0].bus, 3);
        EXPECT_EQ(net.buses[3].gen, 0);
    }
}

TEST(UnitRecordsGener, UnitsOfTwoKindsRefusedInEitherOrder) {
    Network net = small_network();
    InputParser reader;
    reader.translate_svc(rec("SVC", {"S1", "A", "A", "0", "0", "1", "1", "-1", "1", "1"}), net, 0);
    EXPECT_EQ(refusal([&] {
                  reader.translate_gener(
                      rec("GENER", {"G1", "A", "0", "0", "0", "0", "-1", "1", "1"}), net, 1);
              }),
              "InputParser: Both a generator and an SVC at bus A");

    Network other = small_network();
    reader.translate_gener(rec("GENER", {"G1", "A", "0", "0", "0", "0", "-1", "1", "1"}), other, 0);
    EXPECT_EQ(refusal([&] {
                  reader.translate_svc(
                      rec("SVC", {"S1", "A", "A", "0", "0", "1", "1", "-1", "1", "1"}), other, 1);
              }),
              "InputParser: Both a generator and an SVC at bus A");
}

// The bus of a voltage-controlling generator becomes PV at its setpoint before the one-unit
// tests run, so a generator refused for its bus has already changed that bus.
TEST(UnitRecordsGener, RefusedVoltageControllerHasAlreadySetItsBus) {
    struct Case {
        const char* what;
        bool svc_first;  // else a generator of another name stands at the bus
        std::string text;
    };
    for (const Case& c : std::vector<Case>{
             {"compensator at the bus", true, "InputParser: Both a generator and an SVC at bus A"},
             {"other generator at the bus", false,
              "InputParser: More than one generator at bus A"}}) {
        Network net = small_network();
        InputParser reader;
        if (c.svc_first)
            reader.translate_svc(rec("SVC", {"S1", "A", "A", "0", "0", "1", "1", "-1", "1", "1"}),
                                 net, 0);
        else
            reader.translate_gener(rec("GENER", {"G0", "A", "0", "0", "0", "0", "-1", "1", "1"}),
                                   net, 0);
        EXPECT_EQ(refusal([&] {
                      reader.translate_gener(
                          rec("GENER", {"G1", "A", "0", "0", "1.03", "0", "-1", "1", "1"}), net, 1);
                  }),
                  c.text)
            << c.what;
        EXPECT_EQ(net.find_gen("G1"), -1) << c.what;
        EXPECT_EQ(net.buses[0].type, PV) << c.what;
        EXPECT_EQ(net.buses[0].type_init, PV) << c.what;
        EXPECT_DOUBLE_EQ(net.buses[0].v, 1.03) << c.what;
        EXPECT_DOUBLE_EQ(net.buses[0].v_init, 1.03) << c.what;
        EXPECT_DOUBLE_EQ(net.buses[0].angle, 0.0) << c.what;
    }
}

TEST(UnitRecordsGener, NumbersFailWithTheConversionsOwnExceptions) {
    InputParser reader;
    {
        Network net = small_network();
        // the ignored field must still be a number
        EXPECT_THROW(reader.translate_gener(
                         rec("GENER", {"G1", "A", "50", "20", "1", "n/a", "-30", "40", "1"}), net, 0),
                     std::invalid_argument);
        EXPECT_TRUE(net.generators.empty());
    }
    {
        Network net = small_network();
        EXPECT_THROW(reader.translate_gener(
                         rec("GENER", {"G1", "A", "x50", "20", "1", "0", "-30", "40", "1"}), net, 0),
                     std::invalid_argument);
    }
    {
        Network net = small_network();
        EXPECT_THROW(reader.translate_gener(
                         rec("GENER", {"G1", "A", "1e999", "20", "1", "0", "-30", "40", "1"}), net, 0),
                     std::out_of_range);
    }
    {
        Network net = small_network();
        EXPECT_THROW(reader.translate_gener(rec("GENER", {"G1", "A", "50", "20", "1", "0", "-30",
                                                          "40", "99999999999"}),
                                            net, 0),
                     std::out_of_range);
    }
    {
        Network net = small_network();
        EXPECT_THROW(reader.translate_gener(rec("GENER", {"G1", "A", "50", "20", "1", "0", "-30",
                                                          "40", "10", "80", "pf", "1"}),
                                            net, 0),
                     std::invalid_argument);
    }
}

TEST(UnitRecordsGener, RepeatedNameAtTheSameBusRedefines) {
    Network net = small_network();
    InputParser reader;
    reader.translate_gener(rec("GENER", {"G1", "A", "50", "20", "1.02", "0", "-30", "40", "1"}), net, 3);
    reader.translate_gener(rec("GENER", {"G1", "A", "B", "70", "10", "0", "0", "-30", "40", "1"}),
                           net, 9);
    ASSERT_EQ(net.generators.size(), 1u);
    const Generator& g = net.generators[0];
    EXPECT_EQ(g.p, 0.7);
    EXPECT_EQ(g.v_set, 0.0);
    EXPECT_EQ(g.mode, GEN_PQ);
    EXPECT_EQ(g.reg_bus, 1);
    EXPECT_EQ(g.record, 9);
    EXPECT_EQ(g.status_field, 9);
    EXPECT_EQ(g.p_field, 3);
    EXPECT_EQ(net.buses[0].gen, 0);
    // the first record had made A a PV bus at 1.02; the redefinition leaves it so
    EXPECT_EQ(net.buses[0].type, PV);
    EXPECT_EQ(net.buses[0].v, 1.02);
}

TEST(UnitRecordsGener, RepeatedNameAtAnotherBusMovesTheGenerator) {
    Network net = small_network();
    InputParser reader;
    reader.translate_gener(rec("GENER", {"G1", "A", "50", "20", "1.02", "0", "-30", "40", "1"}), net, 3);
    reader.translate_gener(rec("GENER", {"G1", "B", "60", "0", "1.01", "0", "-30", "40", "1"}), net, 4);
    ASSERT_EQ(net.generators.size(), 1u);
    EXPECT_EQ(net.generators[0].bus, 1);
    EXPECT_EQ(net.generators[0].record, 4);
    EXPECT_EQ(net.find_gen("G1"), 0);
    EXPECT_EQ(net.buses[0].gen, -1);
    EXPECT_EQ(net.buses[0].type, PV);  // kept from the first record
    EXPECT_EQ(net.buses[0].v, 1.02);
    EXPECT_EQ(net.buses[1].gen, 0);
    EXPECT_EQ(net.buses[1].type, PV);
    EXPECT_EQ(net.buses[1].v, 1.01);
    // A is free again for another unit
    reader.translate_gener(rec("GENER", {"G2", "A", "5", "0", "0", "0", "-3", "4", "1"}), net, 5);
    EXPECT_EQ(net.buses[0].gen, 1);
}

// ---------------------------------------------------------------- SVC

struct SvcCase {
    const char* what;
    Fields fields;
    int sense_bus;
    double v_set, q, gain_scale, b_max, b_min, gain;
    int status, mode;
};

TEST(UnitRecordsSvc, RecordsStoreTheirValues) {
    const std::vector<SvcCase> cases = {
        {"fixed output",
         {"S1", "A", "B", "0", "20", "2", "50", "-50", "50", "1"},
         1, 0.0, 0.2, 2.0, 0.5, -0.5, 1.0, 1, SVC_FIXED_Q},
        {"voltage control",
         {"S1", "A", "C", "1.01", "20", "2", "50", "-50", "50", "1"},
         2, 1.01, 0.2, 2.0, 0.5, -0.5, 1.0, 1, SVC_VOLTAGE_CONTROL},
        {"out of service: setpoint and output not read",
         {"S1", "A", "B", "junk", "junk", "2", "50", "-50", "50", "0"},
         1, 0.0, 0.0, 2.0, 0.5, -0.5, 1.0, 0, SVC_FIXED_Q},
        {"out of service with a setpoint",
         {"S1", "A", "B", "1.01", "20", "2", "50", "-50", "50", "0"},
         1, 0.0, 0.0, 2.0, 0.5, -0.5, 1.0, 0, SVC_FIXED_Q},
        {"status 5 is in service; fields after f9 ignored",
         {"S1", "A", "A", "1.01", "-30", "0.5", "80", "-20", "10", "5", "x", "y"},
         0, 1.01, -0.3, 0.5, 0.8, -0.2, 10.0 * 0.5 / 100.0, 1, SVC_VOLTAGE_CONTROL},
    };
    for (const SvcCase& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = small_network();
        InputParser().translate_svc(rec("SVC", c.fields), net, 6);
        ASSERT_EQ(net.svcs.size(), 1u);
        const SVC& s = net.svcs[0];
        EXPECT_EQ(s.name, "S1");
        EXPECT_EQ(s.bus, 0);
        EXPECT_EQ(s.sense_bus, c.sense_bus);
        EXPECT_EQ(s.v_set, c.v_set);
        EXPECT_EQ(s.q, c.q);
        EXPECT_EQ(s.q_init, c.q);
        EXPECT_EQ(s.gain_scale, c.gain_scale);
        EXPECT_EQ(s.b_max, c.b_max);
        EXPECT_EQ(s.b_min, c.b_min);
        EXPECT_EQ(s.gain, c.gain);
        EXPECT_EQ(s.status, c.status);
        EXPECT_EQ(s.mode, c.mode);
        EXPECT_EQ(s.record, 6);
        EXPECT_EQ(s.status_field, 9);
        EXPECT_EQ(net.buses[0].svc, 0);
        EXPECT_EQ(net.find_svc("S1"), 0);
        // a compensator never changes a bus's role or voltage
        for (const Bus& bus : net.buses) {
            EXPECT_EQ(bus.type, PQ);
            EXPECT_EQ(bus.v, 1.0);
        }
    }
}

TEST(UnitRecordsSvc, RefusalTexts) {
    const std::vector<Refusal> cases = {
        {{"S1", "A", "B", "0", "20", "2", "50", "-50", "50"},
         "InputParser: SVC record needs 10 fields, got 9"},
        {{}, "InputParser: SVC record needs 10 fields, got 0"},
        // both names are looked up, the injection bus reported first
        {{"S1", "ZZ", "YY", "0", "20", "2", "50", "-50", "50", "1"},
         "InputParser: SVC 'S1' references unknown bus: ZZ"},
        {{"S1", "A", "YY", "0", "20", "2", "50", "-50", "50", "1"},
         "InputParser: SVC 'S1' references unknown sensing bus: YY"},
        {{"S2", "C", "C", "0", "20", "2", "50", "-50", "50", "1"},
         "InputParser: More than one SVC at bus C"},
        {{"S2", "D", "D", "0", "20", "2", "50", "-50", "50", "1"},
         "InputParser: Both a generator and an SVC at bus D"},
        {{"SC", "D", "D", "0", "20", "2", "50", "-50", "50", "0"},
         "InputParser: Both a generator and an SVC at bus D"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.text);
        Network net = network_with_units();
        EXPECT_EQ(refusal([&] { InputParser().translate_svc(rec("SVC", c.fields), net, 5); }), c.text);
        EXPECT_EQ(net.svcs.size(), 1u);
        EXPECT_EQ(net.buses[2].svc, 0);
    }
}

TEST(UnitRecordsSvc, NumbersFailWithTheConversionsOwnExceptions) {
    InputParser reader;
    Network net = small_network();
    // the gain scale is read whatever the status
    EXPECT_THROW(reader.translate_svc(
                     rec("SVC", {"S1", "A", "A", "0", "0", "k", "50", "-50", "50", "0"}), net, 0),
                 std::invalid_argument);
    EXPECT_THROW(reader.translate_svc(
                     rec("SVC", {"S1", "A", "A", "0", "0", "1", "50", "-50", "50", "on"}), net, 0),
                 std::invalid_argument);
    EXPECT_THROW(reader.translate_svc(
                     rec("SVC", {"S1", "A", "A", "v", "0", "1", "50", "-50", "50", "1"}), net, 0),
                 std::invalid_argument);
    EXPECT_TRUE(net.svcs.empty());
}

TEST(UnitRecordsSvc, RepeatedNameRedefinesAndMoves) {
    Network net = small_network();
    InputParser reader;
    reader.translate_svc(rec("SVC", {"S1", "A", "A", "1.0", "20", "1", "50", "-50", "5", "1"}), net, 2);
    reader.translate_svc(rec("SVC", {"S1", "A", "A", "0", "10", "1", "50", "-50", "5", "1"}), net, 3);
    ASSERT_EQ(net.svcs.size(), 1u);
    EXPECT_EQ(net.svcs[0].q, 0.1);
    EXPECT_EQ(net.svcs[0].mode, SVC_FIXED_Q);
    EXPECT_EQ(net.svcs[0].record, 3);

    reader.translate_svc(rec("SVC", {"S1", "B", "C", "0", "30", "1", "50", "-50", "5", "1"}), net, 4);
    ASSERT_EQ(net.svcs.size(), 1u);
    EXPECT_EQ(net.svcs[0].bus, 1);
    EXPECT_EQ(net.svcs[0].sense_bus, 2);
    EXPECT_EQ(net.buses[0].svc, -1);
    EXPECT_EQ(net.buses[1].svc, 0);
}

// ---------------------------------------------------------------- SLACK and LFRESV

TEST(UnitRecordsSlack, SetsTheSlackBus) {
    Network net = small_network();
    InputParser reader;
    reader.translate_slack(rec("SLACK", {"B", "ignored", "too"}), net);
    EXPECT_EQ(net.slack_bus, 1);
    EXPECT_EQ(net.buses[1].type, SLACK);
    EXPECT_EQ(net.buses[1].type_init, SLACK);

    // a second record moves the slack; the first bus keeps its type
    reader.translate_slack(rec("SLACK", {"C"}), net);
    EXPECT_EQ(net.slack_bus, 2);
    EXPECT_EQ(net.buses[1].type, SLACK);
    EXPECT_EQ(net.buses[2].type, SLACK);
}

TEST(UnitRecordsSlack, RefusalTexts) {
    const std::vector<Refusal> cases = {
        {{}, "InputParser: SLACK record has no bus name"},
        {{"ZZ"}, "InputParser: SLACK references unknown bus: ZZ"},
        {{"A "}, "InputParser: SLACK references unknown bus: A "},
    };
    for (const Refusal& c : cases) {
        Network net = small_network();
        EXPECT_EQ(refusal([&] { InputParser().translate_slack(rec("SLACK", c.fields), net); }), c.text);
        EXPECT_EQ(net.slack_bus, -1);
    }
}

TEST(UnitRecordsSlack, LaterRecordDecidesTheBusType) {
    const Fields gener = {"G1", "A", "50", "0", "1.05", "0", "-30", "40", "1"};
    {
        Network net = small_network();
        InputParser reader;
        reader.translate_slack(rec("SLACK", {"A"}), net);
        reader.translate_gener(rec("GENER", gener), net, 1);
        EXPECT_EQ(net.slack_bus, 0);
        EXPECT_EQ(net.buses[0].type, PV);
        EXPECT_EQ(net.buses[0].type_init, PV);
    }
    {
        Network net = small_network();
        InputParser reader;
        reader.translate_gener(rec("GENER", gener), net, 0);
        reader.translate_slack(rec("SLACK", {"A"}), net);
        EXPECT_EQ(net.slack_bus, 0);
        EXPECT_EQ(net.buses[0].type, SLACK);
        EXPECT_EQ(net.buses[0].v, 1.05);  // the setpoint's voltage stays
    }
}

TEST(UnitRecordsLfresv, SetsVoltageAndAngle) {
    Network net = small_network();
    InputParser reader;
    reader.translate_lfresv(rec("LFRESV", {"B", "0.98", "-0.1", "extra"}), net);
    const Bus& b = net.buses[1];
    EXPECT_EQ(b.v, 0.98);
    EXPECT_EQ(b.v_init, 0.98);
    EXPECT_EQ(b.angle, -0.1);
    EXPECT_EQ(b.angle_init, -0.1);
    EXPECT_EQ(b.type, PQ);

    // after a voltage-controlling generator, the later record decides
    reader.translate_gener(rec("GENER", {"G1", "B", "50", "0", "1.05", "0", "-30", "40", "1"}), net, 2);
    EXPECT_EQ(net.buses[1].v, 1.05);
    EXPECT_EQ(net.buses[1].angle, -0.1);
    reader.translate_lfresv(rec("LFRESV", {"B", "1.01", "0.2"}), net);
    EXPECT_EQ(net.buses[1].v, 1.01);
    EXPECT_EQ(net.buses[1].v_init, 1.01);
    EXPECT_EQ(net.buses[1].type, PV);
}

TEST(UnitRecordsLfresv, Refusals) {
    const std::vector<Refusal> cases = {
        {{"B", "0.98"}, "InputParser: LFRESV record needs at least 3 fields, got 2"},
        {{}, "InputParser: LFRESV record needs at least 3 fields, got 0"},
        {{"ZZ", "0.98", "0"}, "InputParser: LFRESV references unknown bus: ZZ"},
    };
    for (const Refusal& c : cases) {
        Network net = small_network();
        EXPECT_EQ(refusal([&] { InputParser().translate_lfresv(rec("LFRESV", c.fields), net); }),
                  c.text);
    }
    Network net = small_network();
    EXPECT_THROW(InputParser().translate_lfresv(rec("LFRESV", {"B", "1", "rad"}), net),
                 std::invalid_argument);
    EXPECT_EQ(net.buses[1].v, 1.0);  // nothing set before both numbers are read
}

// ---------------------------------------------------------------- ZONE and BUSPART

void expect_members(const Zone& zone, const std::vector<ZoneBusMember>& expected) {
    ASSERT_EQ(zone.members.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(zone.members[i].bus, expected[i].bus);
        EXPECT_EQ(zone.members[i].p_factor, expected[i].p_factor);
        EXPECT_EQ(zone.members[i].q_factor, expected[i].q_factor);
    }
}

TEST(UnitRecordsZone, AddsTheNamedBuses) {
    Network net = small_network();
    InputParser reader;
    ::testing::internal::CaptureStderr();
    // X-Y is a bus, yet a '-' in a field always skips it
    reader.translate_zone(rec("ZONE", {"Z2", "A", "X-Y", "#W", "a#", "ZZ", "D", "A"}), net);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(net.zones.size(), 1u);
    EXPECT_EQ(net.zones[0].name, "Z2");
    EXPECT_EQ(net.find_zone("Z2"), 0);
    expect_members(net.zones[0], {{0, 0.0, 0.0}, {3, 0.0, 0.0}, {0, 0.0, 0.0}});
    EXPECT_EQ(net.buses[0].zone, 0);
    EXPECT_EQ(net.buses[3].zone, 0);
    EXPECT_EQ(net.buses[4].zone, -1);

    // a later record of the same zone adds to it
    reader.translate_zone(rec("ZONE", {"Z2", "B"}), net);
    ASSERT_EQ(net.zones.size(), 1u);
    EXPECT_EQ(net.zones[0].members.size(), 4u);
}

TEST(UnitRecordsZone, EmptyRecords) {
    Network net = small_network();
    InputParser reader;
    reader.translate_zone(rec("ZONE", {}), net);
    EXPECT_TRUE(net.zones.empty());
    reader.translate_zone(rec("ZONE", {"EMPTY"}), net);
    ASSERT_EQ(net.zones.size(), 1u);
    EXPECT_TRUE(net.zones[0].members.empty());
}

TEST(UnitRecordsBuspart, AddsAMemberWithItsFactors) {
    Network net = small_network();
    InputParser reader;
    reader.translate_buspart(rec("BUSPART", {"Z1", "C", "0.5", "0.25", "ignored"}), net);
    reader.translate_buspart(rec("BUSPART", {"Z1", "A", "-2", "3e-1"}), net);
    ASSERT_EQ(net.zones.size(), 1u);
    expect_members(net.zones[0], {{2, 0.5, 0.25}, {0, -2.0, 0.3}});
    EXPECT_EQ(net.buses[2].zone, 0);
}

TEST(UnitRecordsBuspart, SkippedWithoutAWord) {
    Network net = small_network();
    InputParser reader;
    ::testing::internal::CaptureStderr();
    reader.translate_buspart(rec("BUSPART", {"Z1", "C", "0.5"}), net);
    reader.translate_buspart(rec("BUSPART", {"Z1", "ZZ", "0.5", "0.5"}), net);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(net.zones.empty());
    // the factors are converted before the bus is looked up
    EXPECT_THROW(reader.translate_buspart(rec("BUSPART", {"Z1", "ZZ", "half", "0.5"}), net),
                 std::invalid_argument);
    EXPECT_THROW(reader.translate_buspart(rec("BUSPART", {"Z1", "A", "0.5", "q"}), net),
                 std::invalid_argument);
    EXPECT_TRUE(net.zones.empty());
}

TEST(UnitRecordsZone, ZoneOfABusIsTheFirstThatTookIt) {
    Network net = small_network();
    InputParser reader;
    reader.translate_zone(rec("ZONE", {"Z1", "B"}), net);
    reader.translate_buspart(rec("BUSPART", {"Z2", "B", "1", "1"}), net);
    ASSERT_EQ(net.zones.size(), 2u);
    EXPECT_EQ(net.zones[1].members.size(), 1u);
    EXPECT_EQ(net.buses[1].zone, 0);
}

// ---------------------------------------------------------------- BRAPART

TEST(UnitRecordsBrapart, AddsCutMembers) {
    struct Case {
        Fields fields;
        CutBranchMember member;
    };
    const std::vector<Case> cases = {
        {{"C1", "L1", "A", "1"}, {0, 0, 1}},
        {{"C1", "L1", "B", "-1"}, {0, 1, -1}},
        {{"C1", "L1", "A", "+1"}, {0, 0, 1}},
        {{"C1", "L1", "A", "1.5"}, {0, 0, 1}},
        {{"C1", "L2", "C", "-1x"}, {1, 2, -1}},  // a branch out of service counts too
    };
    Network net = small_network();
    InputParser reader;
    for (const Case& c : cases) reader.translate_brapart(rec("BRAPART", c.fields), net);
    ASSERT_EQ(net.cuts.size(), 1u);
    EXPECT_EQ(net.cuts[0].name, "C1");
    EXPECT_EQ(net.find_cut("C1"), 0);
    ASSERT_EQ(net.cuts[0].members.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(net.cuts[0].members[i].branch, cases[i].member.branch);
        EXPECT_EQ(net.cuts[0].members[i].bus, cases[i].member.bus);
        EXPECT_EQ(net.cuts[0].members[i].sign, cases[i].member.sign);
    }
    reader.translate_brapart(rec("BRAPART", {"C2", "L2", "B", "1"}), net);
    EXPECT_EQ(net.cuts.size(), 2u);
}

TEST(UnitRecordsBrapart, RefusalTexts) {
    const std::vector<Refusal> cases = {
        {{"C1", "L1", "A"}, "InputParser: BRAPART record needs 4 fields, got 3"},
        {{"C1", "L1", "A", "1", "x"}, "InputParser: BRAPART record needs 4 fields, got 5"},
        {{}, "InputParser: BRAPART record needs 4 fields, got 0"},
        {{"C1", "ZZ", "YY", "1"}, "InputParser: BRAPART 'C1' references unknown branch: ZZ"},
        {{"C1", "L1", "YY", "1"}, "InputParser: BRAPART 'C1' references unknown bus: YY"},
        {{"C1", "L1", "C", "1"},
         "InputParser: BRAPART 'C1': bus 'C' is not an endpoint of branch 'L1'"},
        {{"C1", "L1", "A", "0"}, "InputParser: BRAPART 'C1' sign must be +1 or -1, got 0"},
        {{"C1", "L1", "A", "10"}, "InputParser: BRAPART 'C1' sign must be +1 or -1, got 10"},
        {{"C1", "L1", "A", "2"}, "InputParser: BRAPART 'C1' sign must be +1 or -1, got 2"},
        // the sign is quoted as written
        {{"C1", "L1", "A", "-2.0"}, "InputParser: BRAPART 'C1' sign must be +1 or -1, got -2.0"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.text);
        Network net = small_network();
        EXPECT_EQ(refusal([&] { InputParser().translate_brapart(rec("BRAPART", c.fields), net); }),
                  c.text);
        EXPECT_TRUE(net.cuts.empty());
    }
    Network net = small_network();
    EXPECT_THROW(InputParser().translate_brapart(rec("BRAPART", {"C1", "L1", "A", "plus"}), net),
                 std::invalid_argument);
    EXPECT_TRUE(net.cuts.empty());
}

// ---------------------------------------------------------------- whole files

TEST(UnitRecordsLoad, ElementPassInFileOrder) {
    const auto loaded = reader_test::load_text(
        "$SBASE 50;\n"
        "GENER G1 A 50 10 1.03 0 -20 30 1;\n"
        "SLACK A;\n"
        "LFRESV B 0.97 -0.05;\n"
        "SVC S1 B B 1.0 10 1 25 -25 5 1;\n"
        "ZONE Z1 A B;\n"
        "BUSPART Z1 C 0.5 0.5;\n"
        "BUS A 400 0 0 0;\n"
        "BUS B 400 0 0 0;\n"
        "BUS C 400 0 0 0;\n");
    const Network& net = loaded.network;
    EXPECT_EQ(loaded.warnings, "");
    ASSERT_EQ(net.generators.size(), 1u);
    EXPECT_EQ(net.generators[0].p, 1.0);
    EXPECT_EQ(net.generators[0].record, 1);
    EXPECT_EQ(net.slack_bus, 0);
    EXPECT_EQ(net.buses[0].type, SLACK);  // the slack record stands after the generator
    EXPECT_EQ(net.buses[0].v, 1.03);
    EXPECT_EQ(net.buses[1].v, 0.97);
    EXPECT_EQ(net.buses[1].lfresv_record, 3);
    ASSERT_EQ(net.svcs.size(), 1u);
    EXPECT_EQ(net.svcs[0].q, 0.2);
    EXPECT_EQ(net.svcs[0].record, 4);
    ASSERT_EQ(net.zones.size(), 1u);
    EXPECT_EQ(net.zones[0].members.size(), 3u);
}

TEST(UnitRecordsLoad, CutMemberBeforeItsBranch) {
    const auto loaded = reader_test::load_text(
        "BRAPART CUT1 L1 B -1;\n"
        "BUS A 400 0 0 0;\n"
        "BUS B 400 0 0 0;\n"
        "LINE L1 A B 1 10 0 100 1;\n");
    const Network& net = loaded.network;
    ASSERT_EQ(net.cuts.size(), 1u);
    ASSERT_EQ(net.cuts[0].members.size(), 1u);
    EXPECT_EQ(net.cuts[0].members[0].branch, 0);
    EXPECT_EQ(net.cuts[0].members[0].bus, 1);
    EXPECT_EQ(net.cuts[0].members[0].sign, -1);
}

TEST(UnitRecordsLoad, RefusalStopsTheLoad) {
    EXPECT_EQ(reader_test::load_error("BUS A 400 0 0 0;\n"
                                      "GENER G1 A 0 0 0 0 -1 1 1;\n"
                                      "GENER G2 A 0 0 0 0 -1 1 1;\n"),
              "InputParser: More than one generator at bus A");
    EXPECT_EQ(reader_test::load_error("BUS A 400 0 0 0;\n"
                                      "BUS B 400 0 0 0;\n"
                                      "LINE L1 A B 1 10 0 100 1;\n"
                                      "BRAPART K L1 A 3;\n"),
              "InputParser: BRAPART 'K' sign must be +1 or -1, got 3");
}

}  // namespace
}  // namespace varnok
