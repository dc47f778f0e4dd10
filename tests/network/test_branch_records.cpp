// "BUS", "LINE", "TRANSFO", "TRFO", "SWITCH" and "NRTP" records and the tap table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "network/reader_fixture.h"

namespace varnok {
namespace {

using reader_test::load_error;
using reader_test::load_text;
using reader_test::Loaded;

// Two 400 kV buses (Zb = 1600 ohm on 100 MVA), a third one, and a 10 kV pair (Zb = 1 ohm).
const std::string kBuses = "BUS A 400 0 0 0;\nBUS B 400 0 0 0;\nBUS C 400 0 0 0;\n"
                           "BUS D 10 0 0 0;\nBUS E 10 0 0 0;\n";

Loaded load_with_buses(const std::string& records) { return load_text(kBuses + records); }

const Branch& only_branch(const Loaded& l) {
    EXPECT_EQ(l.network.branches.size(), 1u);
    return l.network.branches.at(0);
}

void expect_series(const Branch& b, double r, double x) {
    const double z2 = r * r + x * x;
    EXPECT_DOUBLE_EQ(b.g_from, r / z2);
    EXPECT_DOUBLE_EQ(b.b_from, -x / z2);
    EXPECT_EQ(b.g_to, b.g_from);
    EXPECT_EQ(b.b_to, b.b_from);
}

// --- Refusal texts -------------------------------------------------------------------------------

struct Refusal {
    const char* record;
    const char* text;
};

TEST(BranchRecords, RefusalTexts) {
    const std::vector<Refusal> cases = {
        {"BUS X 1 2 3;", "InputParser: BUS record needs at least 5 fields, got 4"},
        {"BUS;", "InputParser: BUS record needs at least 5 fields, got 0"},
        {"LINE L A B 1 2 3 4;", "InputParser: LINE record needs 8 fields, got 7"},
        {"LINE L A Z 1 2 3 4 1;", "InputParser: LINE 'L' references unknown bus: A or Z"},
        {"LINE L Z B 1 2 3 4 1;", "InputParser: LINE 'L' references unknown bus: Z or B"},
        {"TRANSFO T A B 1 2 3 4 5 6 7;", "InputParser: TRANSFO record needs 11 fields, got 10"},
        {"TRANSFO T A Z 1 10 0 0 100 0 50 1;",
         "InputParser: TRANSFO 'T' references unknown bus: A or Z"},
        {"TRFO T A B Z 1 10 0 100 50 90 110 21 0.01 1 1;",
         "InputParser: TRFO 'T' references unknown control bus 'Z'"},
        {"TRFO ' ' A B Z 1 10 0 100 50 90 110 21 0.01 1 1;",
         "InputParser: TRFO 'A-B' references unknown control bus 'Z'"},
        {"TRFO T A B C 1 10 0 100 50 90 110 21 0.01 1 1;",
         "InputParser: TRFO 'T' control bus 'C' is not an ending bus of the transformer"},
        {"TRFO T A B B 1 10 0 100 50 90 110 1 0.01 1 1;",
         "InputParser: TRFO 'T' NBPOS must be >= 2, got 1"},
        {"TRFO T A B B 1 10 0 100 50 90 110 -4 0.01 1 1;",
         "InputParser: TRFO 'T' NBPOS must be >= 2, got -4"},
        // a record's own refusals come before that of its rated power of 0
        {"TRFO T A B Z 1 10 0 100 0 90 110 21 0.01 1 1;",
         "InputParser: TRFO 'T' references unknown control bus 'Z'"},
        {"TRFO T A B C 1 10 0 100 0 90 110 21 0.01 1 1;",
         "InputParser: TRFO 'T' control bus 'C' is not an ending bus of the transformer"},
        {"TRFO T A B B 1 10 0 100 0 90 110 1 0.01 1 1;",
         "InputParser: TRFO 'T' NBPOS must be >= 2, got 1"},
        {"TRANSFO T A Z 1 10 0 0 100 0 0 1;",
         "InputParser: TRANSFO 'T' references unknown bus: A or Z"},
        {"SWITCH S A B;", "InputParser: SWITCH record needs 4 fields, got 3"},
        {"SWITCH S A B 1 1;", "InputParser: SWITCH record needs 4 fields, got 5"},
        {"LINE S A B 1 10 0 100 1;\nSWITCH S A B 1;", "InputParser: SWITCH 'S' duplicate branch name"},
        {"SWITCH S A Z 1;", "InputParser: SWITCH 'S' references unknown bus: A or Z"},
        {"SWITCH S A D 1;",
         "InputParser: SWITCH 'S' connects two buses with different nominal voltages"},
        {"NRTP N A B 1 2 3 4 5 6 7 8;", "InputParser: NRTP record needs 12 fields, got 11"},
        {"NRTP N A B 1 2 3 4 5 6 7 8 9 10;", "InputParser: NRTP record needs 12 fields, got 13"},
        {"SWITCH N A B 1;\nNRTP N A B 1 2 3 4 5 6 7 8 1;",
         "InputParser: NRTP 'N' duplicate branch name"},
        {"NRTP N Z B 1 2 3 4 5 6 7 8 1;", "InputParser: NRTP 'N' references unknown bus: Z or B"},
    };
    for (const Refusal& c : cases) EXPECT_EQ(load_error(kBuses + c.record), c.text) << c.record;
}

// Divisions by zero that the record format allows are refused rather than stored as inf/NaN.
TEST(BranchRecords, ZeroBasesAreRefused) {
    EXPECT_EQ(load_error("BUS A 0 0 0 0;\nBUS B 0 0 0 0;\nLINE L A B 1 10 0 100 1;"),
              "InputParser: LINE 'L' from bus has a nominal voltage of 0");
    EXPECT_EQ(load_error(kBuses + "TRANSFO T A B 1 10 0 0 100 0 0 1;"),
              "InputParser: TRANSFO 'T' rated power is 0");
    EXPECT_EQ(load_error(kBuses + "TRFO ' ' A B ' ' 1 10 0 100 0 x x x x x 1;"),
              "InputParser: TRFO 'A-B' rated power is 0");
    // Buses of 0 kV are fine for transformers (the usual way of writing a network without
    // nominal voltages).
    EXPECT_EQ(load_error("BUS A 0 0 0 0;\nBUS B 0 0 0 0;\nTRANSFO T A B 1 10 0 0 100 0 100 1;"), "");
}

TEST(BranchRecords, HugeTapTablesAreRefused) {
    EXPECT_EQ(load_error(kBuses + "TRFO T A B B 1 10 0 100 50 90 110 2000000000 0.01 1 1;"),
              "InputParser: TRFO 'T' NBPOS must be <= 10000, got 2000000000");
}

TEST(BranchRecords, ConversionFailuresPassUnwrapped) {
    for (const char* record : {"BUS X 400 x 0 0;", "LINE L A B 1 10 0 100 on;",
                               "TRANSFO T A B 1 10 0 0 100 deg 50 1;", "SWITCH S A B closed;",
                               "NRTP N A B 1 2 3 4 5 6 7 8 ?;",
                               "TRFO T A B B 1 10 0 100 50 90 110 n 0.01 1 1;"})
        EXPECT_THROW(load_text(kBuses + record), std::invalid_argument) << record;
    EXPECT_THROW(load_text(kBuses + "LINE L A B 1 10 0 100 99999999999;"), std::out_of_range);
    EXPECT_THROW(load_text(kBuses + "BUS Y 1e400 0 0 0;"), std::out_of_range);
}

TEST(BranchRecords, FailingConversionAddsNothingOfItsRecord) {
    Network network;
    SolverParams params;
    reader_test::TempFile file(kBuses + "LINE L1 A B 1 10 0 100 1;\nLINE L2 A B 1 10 0 x 1;\n");
    EXPECT_THROW(InputParser().load(file.path(), network, params), std::invalid_argument);
    EXPECT_EQ(network.branches.size(), 1u);
}

// --- BUS ----------------------------------------------------------------------------------------

TEST(BusRecord, Layouts) {
    Loaded l = load_text("BUS A 400 50 20 10;\nBUS B 400kV 0 0 0 5;\nBUS C 220 0 0 0 5 99;\n");
    ASSERT_EQ(l.network.buses.size(), 3u);
    const Bus& a = l.network.buses[0];
    EXPECT_EQ(a.name, "A");
    EXPECT_EQ(a.vnom_kv, 400.0);
    EXPECT_EQ(a.p_load, 0.5);
    EXPECT_EQ(a.q_load, 0.2);
    EXPECT_EQ(a.b_shunt, 0.1);
    EXPECT_EQ(a.q_shunt, 0.0);
    EXPECT_EQ(a.v, 1.0);
    EXPECT_EQ(a.v_init, 1.0);
    EXPECT_EQ(a.angle, 0.0);
    EXPECT_EQ(a.type, PQ);
    EXPECT_EQ(a.type_init, PQ);
    EXPECT_EQ(a.zone, -1);
    EXPECT_EQ(a.gen, -1);
    EXPECT_EQ(a.svc, -1);
    EXPECT_EQ(a.lfresv_record, -1);
    EXPECT_EQ(a.record, 0);
    EXPECT_EQ(l.network.buses[1].vnom_kv, 400.0);  // text after the number ignored
    EXPECT_EQ(l.network.buses[1].q_shunt, 0.05);
    EXPECT_EQ(l.network.buses[2].q_shunt, 0.05);  // the seventh field is ignored
    EXPECT_EQ(l.network.buses[2].record, 2);
}

TEST(BusRecord, RepeatedNameAddsABusThatLaterRecordsReach) {
    Loaded l = load_text("BUS A 400 10 0 0;\nBUS B 400 0 0 0;\nLINE L A B 16 160 0 100 1;\n"
                         "BUS A 220 20 0 0;\n");
    ASSERT_EQ(l.network.buses.size(), 3u);
    EXPECT_EQ(l.network.find_bus("A"), 2);
    EXPECT_EQ(l.network.buses[0].p_load, 0.1);
    EXPECT_EQ(l.network.branches[0].from, 2);
}

// --- LINE ---------------------------------------------------------------------------------------

TEST(LineRecord, Values) {
    Loaded l = load_with_buses("LINE L A B 16 160 10 500 1 extra;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.name, "L");
    EXPECT_EQ(b.from, 0);
    EXPECT_EQ(b.to, 1);
    expect_series(b, 0.01, 0.1);
    EXPECT_DOUBLE_EQ(b.b_shunt_from, 0.016);
    EXPECT_EQ(b.b_shunt_to, b.b_shunt_from);
    EXPECT_EQ(b.g_shunt_from, 0.0);
    EXPECT_EQ(b.g_shunt_to, 0.0);
    EXPECT_EQ(b.rating, 5.0);
    EXPECT_EQ(b.ratio, 1.0);
    EXPECT_EQ(b.shift, 0.0);
    EXPECT_EQ(b.status, 1);
    EXPECT_FALSE(b.is_transformer);
    EXPECT_EQ(b.kind, BRANCH_LINE);
    EXPECT_EQ(b.record, 5);
    EXPECT_EQ(b.status_field, 7);
    EXPECT_EQ(b.ratio_field, -1);
    EXPECT_EQ(l.warnings, "");
}

// The base impedance is the from bus's nominal voltage squared over the file's base power:
// on 50 MVA a 400 kV bus has Zb = 3200 ohm, and the to bus's voltage plays no part.
TEST(LineRecord, ValuesOnTheFileBase) {
    Loaded l = load_text("$SBASE 50;\nBUS A 400 0 0 0;\nBUS D 10 0 0 0;\n"
                         "LINE L A D 32 320 10 500 1;\n");
    const Branch& b = only_branch(l);
    expect_series(b, 0.01, 0.1);
    EXPECT_DOUBLE_EQ(b.b_shunt_from, 0.032);
    EXPECT_DOUBLE_EQ(b.b_shunt_to, 0.032);
    EXPECT_EQ(b.rating, 10.0);
}

TEST(LineRecord, ImpedanceFloor) {
    struct Case {
        const char* record;
        double x;  // pu after the floor
        const char* warning;
    };
    const std::vector<Case> cases = {
        {"LINE L A B 0 0 0 100 1;", 1e-5, "varnok: LINE 'L': reactance changed to 0.016 ohms\n"},
        {"LINE L A B 0 -0.001 0 100 1;", -1e-5,
         "varnok: LINE 'L': reactance changed to -0.016 ohms\n"},
        {"LINE L A B 0 -0 0 100 1;", -1e-5, "varnok: LINE 'L': reactance changed to -0.016 ohms\n"},
        // exactly 1e-5 pu on Zb = 1 ohm is left alone
        {"LINE L D E 0 1e-5 0 100 1;", 1e-5, ""},
        {"LINE L D E 0 nan 0 100 1;", std::numeric_limits<double>::quiet_NaN(), ""},
    };
    for (const Case& c : cases) {
        Loaded l = load_with_buses(c.record);
        const Branch& b = only_branch(l);
        EXPECT_EQ(l.warnings, c.warning) << c.record;
        if (std::isnan(c.x)) {
            EXPECT_TRUE(std::isnan(b.b_from)) << c.record;
            continue;
        }
        EXPECT_EQ(b.g_from, 0.0) << c.record;
        EXPECT_DOUBLE_EQ(b.b_from, -1.0 / c.x) << c.record;
    }
    // r stays: only x moves to the floor.
    Loaded l = load_with_buses("LINE L D E 5e-6 0 0 100 1;\n");
    expect_series(only_branch(l), 5e-6, 1e-5);
}

TEST(LineRecord, StatusIsAnInteger) {
    for (const auto& [field, status] : std::vector<std::pair<const char*, int>>{
             {"1", 1}, {"2", 1}, {"-1", 1}, {"0", 0}, {"0.5", 0}, {"1.9", 1}}) {
        Loaded l = load_with_buses(std::string("LINE L A B 16 160 0 100 ") + field + ";");
        EXPECT_EQ(only_branch(l).status, status) << field;
    }
}

TEST(LineRecord, RepeatedNameAddsABranch) {
    Loaded l = load_with_buses("LINE L A B 16 160 0 100 1;\nTRANSFO L A B 1 10 0 0 100 0 50 1;\n");
    ASSERT_EQ(l.network.branches.size(), 2u);
    EXPECT_EQ(l.network.find_branch("L"), 1);
    EXPECT_EQ(l.network.branches[0].status, 1);
}

// --- TRANSFO ------------------------------------------------------------------------------------

TEST(TransfoRecord, Values) {
    Loaded l = load_with_buses("TRANSFO T A B 1 10 2 4 105 30 50 1;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.name, "T");
    expect_series(b, 0.02, 0.2);
    EXPECT_EQ(b.b_shunt_from, 0.01);
    EXPECT_EQ(b.b_shunt_to, 0.02);
    EXPECT_EQ(b.g_shunt_from, 0.0);
    EXPECT_EQ(b.g_shunt_to, 0.0);
    EXPECT_EQ(b.ratio, 1.05);
    EXPECT_EQ(b.shift, 30 / 57.2957795);
    EXPECT_EQ(b.rating, 0.5);
    EXPECT_EQ(b.status, 1);
    EXPECT_TRUE(b.is_transformer);
    EXPECT_EQ(b.kind, BRANCH_TRANSFORMER);
    EXPECT_EQ(b.record, 5);
    EXPECT_EQ(b.status_field, 10);
    EXPECT_EQ(b.ratio_field, 7);
}

TEST(TransfoRecord, RatioAndStatus) {
    struct Case {
        const char* ratio;
        double expected;
    };
    for (const Case& c : std::vector<Case>{{"0", 1.0}, {"1e-9", 1.0}, {"-1e-9", 1.0}, {"105", 1.05},
                                            {"-105", -1.05}, {"1e-7", 1e-7 / 100}}) {
        Loaded l = load_with_buses(std::string("TRANSFO T A B 1 10 0 0 ") + c.ratio + " 0 50 0;");
        EXPECT_EQ(only_branch(l).ratio, c.expected) << c.ratio;
        EXPECT_EQ(only_branch(l).status, 0);
    }
}

TEST(TransfoRecord, ImpedanceFloorWarning) {
    Loaded l = load_with_buses("TRANSFO T A B 0 0 0 0 100 0 50 1;\n");
    EXPECT_EQ(l.warnings, "varnok: TRANSFO 'T': reactance changed to 0.0005 %\n");
    expect_series(only_branch(l), 0.0, 1e-5);
}

// --- TRFO ---------------------------------------------------------------------------------------

TEST(TrfoRecord, WithoutControlBus) {
    // f9 to f13 are not read without a control bus.
    Loaded l = load_with_buses("TRFO T A B ' ' 1 10 2 105 50 x x x x x 1;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.name, "T");
    expect_series(b, 0.02, 0.2);
    EXPECT_EQ(b.b_shunt_from, 0.01);
    EXPECT_EQ(b.b_shunt_to, 0.0);
    EXPECT_EQ(b.g_shunt_from, 0.0);
    EXPECT_EQ(b.ratio, 1.05);
    EXPECT_EQ(b.shift, 0.0);
    EXPECT_EQ(b.rating, 0.5);
    EXPECT_EQ(b.status, 1);
    EXPECT_TRUE(b.is_transformer);
    EXPECT_EQ(b.kind, BRANCH_TRANSFORMER);
    EXPECT_EQ(b.status_field, 14);
    EXPECT_EQ(b.ratio_field, 7);
    EXPECT_EQ(b.record, 5);
    EXPECT_TRUE(l.network.tap_regulators.empty());
}

TEST(TrfoRecord, BlankNameJoinsTheBusNames) {
    Loaded l = load_with_buses("TRFO ' ' A B ' ' 0 0 0 0 50 x x x x x 0;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.name, "A-B");
    EXPECT_EQ(b.ratio, 1.0);
    EXPECT_EQ(b.status, 0);
    EXPECT_EQ(l.network.find_branch("A-B"), 0);
    EXPECT_EQ(l.network.raw_records.back().fields[0], " ");  // the record keeps its own f0
    EXPECT_EQ(l.warnings, "varnok: TRFO 'A-B': reactance changed to 0.0005 %\n");
}

TEST(TrfoRecord, WithControlBus) {
    Loaded l = load_with_buses("TRFO T A B B 1 10 2 103.4 50 90 110 21 0.01 1.02 1;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.kind, BRANCH_REGULATED_TRANSFORMER);
    EXPECT_TRUE(b.is_transformer);
    EXPECT_EQ(b.status_field, 14);
    EXPECT_EQ(b.ratio_field, 7);
    ASSERT_EQ(l.network.tap_regulators.size(), 1u);
    const TapRegulator& tap = l.network.tap_regulators[0];
    EXPECT_EQ(tap.branch, 0);
    EXPECT_EQ(tap.bus, 1);
    EXPECT_EQ(tap.vdes, 1.02);
    EXPECT_EQ(tap.deadband, 0.01);
    EXPECT_EQ(tap.pos_min, 0);
    EXPECT_EQ(tap.pos_max, 20);
    ASSERT_EQ(tap.ratios.size(), 21u);
    // 1.034 is nearest to the entry 1.03; the branch takes the table's ratio, not f7 / 100.
    EXPECT_EQ(tap.pos, 13);
    EXPECT_EQ(tap.pos_init, 13);
    EXPECT_EQ(b.ratio, tap.ratios[13]);
    EXPECT_NE(b.ratio, 1.034);
}

TEST(TrfoRecord, SkippedWithoutAWord) {
    const std::string records =
        "TRFO T A B ' ' 1 10 2 105 50 x x x x;\n"           // 14 fields
        "TRFO T Z B ' ' 1 10 2 105 50 x x x x x 1;\n"       // unknown from bus
        "TRFO T A Z B 1 10 2 105 50 90 110 21 0.01 1 1;\n"  // unknown to bus, control bus given
        "LINE L A B 16 160 0 100 1;\n";
    Loaded l = load_with_buses(records);
    ASSERT_EQ(l.network.branches.size(), 1u);
    EXPECT_EQ(l.network.branches[0].name, "L");
    EXPECT_EQ(l.network.branches[0].record, 8);
    EXPECT_EQ(l.warnings, "");
    EXPECT_EQ(l.network.raw_records.size(), 9u);
}

// --- SWITCH -------------------------------------------------------------------------------------

TEST(SwitchRecord, Values) {
    Loaded l = load_with_buses("SWITCH S A B 1;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.g_from, 0.0);
    EXPECT_EQ(b.g_to, 0.0);
    EXPECT_EQ(b.b_from, -1.0 / 1e-5);
    EXPECT_EQ(b.b_to, -1.0 / 1e-5);
    EXPECT_EQ(b.g_shunt_from, 0.0);
    EXPECT_EQ(b.b_shunt_from, 0.0);
    EXPECT_EQ(b.g_shunt_to, 0.0);
    EXPECT_EQ(b.b_shunt_to, 0.0);
    EXPECT_EQ(b.ratio, 1.0);
    EXPECT_EQ(b.shift, 0.0);
    EXPECT_EQ(b.rating, 999999.0);
    EXPECT_EQ(b.kind, BRANCH_SWITCH);
    EXPECT_FALSE(b.is_transformer);
    EXPECT_EQ(b.status_field, 3);
    EXPECT_EQ(b.ratio_field, -1);
    EXPECT_EQ(b.record, 5);
}

TEST(SwitchRecord, StatusIsAReal) {
    for (const auto& [field, status] :
         std::vector<std::pair<const char*, int>>{{"1", 1}, {"0.5", 1}, {"0", 0}, {"-0", 0}}) {
        Loaded l = load_with_buses(std::string("SWITCH S A B ") + field + ";");
        EXPECT_EQ(only_branch(l).status, status) << field;
    }
}

TEST(SwitchRecord, NominalVoltagesCompareExactly) {
    EXPECT_EQ(load_error("BUS A 400 0 0 0;\nBUS B 400.0 0 0 0;\nSWITCH S A B 1;"), "");
    EXPECT_EQ(load_error("BUS A 400 0 0 0;\nBUS B 380 0 0 0;\nSWITCH S A B 1;"),
              "InputParser: SWITCH 'S' connects two buses with different nominal voltages");
}

TEST(SwitchRecord, LineAfterSwitchOfTheSameNameAddsASecondBranch) {
    Loaded l = load_with_buses("SWITCH S A B 1;\nLINE S A B 16 160 0 100 1;\n");
    ASSERT_EQ(l.network.branches.size(), 2u);
    EXPECT_EQ(l.network.find_branch("S"), 1);
    EXPECT_EQ(l.network.branches[1].kind, BRANCH_LINE);
}

// --- NRTP ---------------------------------------------------------------------------------------

TEST(NrtpRecord, Values) {
    Loaded l = load_with_buses("NRTP N A B 1 -10 2 -20 0.1 0.2 0.3 0.4 0.5;\n");
    const Branch& b = only_branch(l);
    EXPECT_EQ(b.g_from, 1.0);
    EXPECT_EQ(b.b_from, -10.0);
    EXPECT_EQ(b.g_to, 2.0);
    EXPECT_EQ(b.b_to, -20.0);
    EXPECT_EQ(b.g_shunt_from, 0.1);
    EXPECT_EQ(b.b_shunt_from, 0.2);
    EXPECT_EQ(b.g_shunt_to, 0.3);
    EXPECT_EQ(b.b_shunt_to, 0.4);
    EXPECT_EQ(b.status, 1);  // 0.5 read as a real
    EXPECT_EQ(b.ratio, 1.0);
    EXPECT_EQ(b.shift, 0.0);
    EXPECT_EQ(b.rating, 999999.0);
    EXPECT_EQ(b.kind, BRANCH_NRTP);
    EXPECT_FALSE(b.is_transformer);
    EXPECT_EQ(b.status_field, 11);
    EXPECT_EQ(b.ratio_field, -1);
    EXPECT_EQ(b.record, 5);
    // A bus to itself (a shunt conductance written as a branch).
    Loaded self = load_with_buses("NRTP GSA A A 0 0 0 0 0.5 0 0 0 1;\n");
    EXPECT_EQ(only_branch(self).from, only_branch(self).to);
}

// --- Tap table ----------------------------------------------------------------------------------

TEST(TapTable, RisingTable) {
    TapRegulator tap;
    Branch branch;  // ratio 1.0
    InputParser::build_tap_table(tap, 90, 110, 21, branch);
    ASSERT_EQ(tap.ratios.size(), 21u);
    for (int k = 0; k < 21; ++k) EXPECT_NEAR(tap.ratios[k], 0.90 + 0.01 * k, 1e-15) << k;
    EXPECT_EQ(tap.ratios[0], 0.9);
    EXPECT_EQ(tap.ratios[10], 1.0);
    EXPECT_EQ(tap.ratios[20], 1.1);
    EXPECT_TRUE(tap.ratio_increasing);
    EXPECT_EQ(tap.pos_min, 0);
    EXPECT_EQ(tap.pos_max, 20);
    EXPECT_EQ(tap.pos, 10);
    EXPECT_EQ(tap.pos_init, 10);
    EXPECT_EQ(branch.ratio, 1.0);
}

TEST(TapTable, EntriesFollowTheStatedEvaluationOrder) {
    TapRegulator tap;
    Branch branch;
    InputParser::build_tap_table(tap, 87.3, 112.9, 33, branch);
    const double base = 87.3 / 100, span = 112.9 - 87.3;
    for (int k = 0; k < 33; ++k)
        EXPECT_EQ(tap.ratios[k], base + (span * (k / 32.0)) / 100) << k;
}

TEST(TapTable, FallingTable) {
    TapRegulator tap;
    Branch branch;
    branch.ratio = 0.93;
    InputParser::build_tap_table(tap, 110, 90, 21, branch);
    EXPECT_FALSE(tap.ratio_increasing);
    EXPECT_EQ(tap.ratios[0], 1.1);
    EXPECT_EQ(tap.pos, 17);
    EXPECT_EQ(branch.ratio, tap.ratios[17]);
}

TEST(TapTable, TiesGoToTheLowerIndexAndNaNToZero) {
    TapRegulator tap;
    Branch branch;
    branch.ratio = 1.25;
    InputParser::build_tap_table(tap, 100, 200, 3, branch);
    EXPECT_EQ(tap.ratios, (std::vector<double>{1.0, 1.5, 2.0}));
    EXPECT_EQ(tap.pos, 0);
    EXPECT_EQ(branch.ratio, 1.0);

    TapRegulator nan_tap;
    Branch nan_branch;
    nan_branch.ratio = std::nan("");
    InputParser::build_tap_table(nan_tap, 90, 110, 5, nan_branch);
    EXPECT_EQ(nan_tap.pos, 0);
    EXPECT_EQ(nan_branch.ratio, 0.9);
}

TEST(TapTable, FarRatiosTakeTheEnds) {
    for (const auto& [ratio, pos] : std::vector<std::pair<double, int>>{{5.0, 4}, {-5.0, 0}}) {
        TapRegulator tap;
        Branch branch;
        branch.ratio = ratio;
        InputParser::build_tap_table(tap, 90, 110, 5, branch);
        EXPECT_EQ(tap.pos, pos) << ratio;
    }
}

TEST(TapTable, RefusesTablesItCannotIndex) {
    TapRegulator tap;
    Branch branch;
    EXPECT_THROW(InputParser::build_tap_table(tap, 90, 110, 1, branch), std::runtime_error);
    EXPECT_THROW(InputParser::build_tap_table(tap, 90, 110, 10001, branch), std::runtime_error);
    EXPECT_TRUE(tap.ratios.empty());
    EXPECT_EQ(branch.ratio, 1.0);
}

}  // namespace
}  // namespace varnok
