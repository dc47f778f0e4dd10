// Tap-changer ("LTC-V") and phase-shifter ("PSHIFT-P") records, handled one by one on a small
// network built by hand, then a few whole files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

constexpr double kDeg = 57.2957795;  // degrees per radian of the input format
const std::string kEmDash = "\xE2\x80\x94";

void set_series(Branch& branch, double r, double x) {
    const double z2 = r * r + x * x;
    branch.g_from = branch.g_to = r / z2;
    branch.b_from = branch.b_to = -x / z2;
}

Branch make_branch(const char* name, int from, int to, double r, double x, double rating) {
    Branch branch;
    branch.name = name;
    branch.from = from;
    branch.to = to;
    branch.rating = rating;
    set_series(branch, r, x);
    return branch;
}

enum BranchIndex { L1 = 0, T1 = 1, T2 = 2, PT = 3, Z0 = 4 };

// Buses A, B, C, D. L1 line A-B; T1 transformer B-C; T2 transformer C-D of rating 0 with a
// 10 degree shift; PT transformer A-D of ratio 1.05; Z0 a branch C-D without series admittance.
Network control_network() {
    Network net;
    for (const char* name : {"A", "B", "C", "D"}) {
        Bus bus;
        bus.name = name;
        bus.vnom_kv = 400.0;
        net.add_bus(bus);
    }
    net.add_branch(make_branch("L1", 0, 1, 0.01, 0.1, 5.0));
    Branch t1 = make_branch("T1", 1, 2, 0.002, 0.05, 2.0);
    t1.is_transformer = true;
    t1.kind = BRANCH_TRANSFORMER;
    net.add_branch(t1);
    Branch t2 = make_branch("T2", 2, 3, 0.002, 0.05, 0.0);
    t2.is_transformer = true;
    t2.kind = BRANCH_TRANSFORMER;
    t2.shift = 10.0 / kDeg;
    net.add_branch(t2);
    Branch pt = make_branch("PT", 0, 3, 0.002, 0.05, 2.0);
    pt.is_transformer = true;
    pt.kind = BRANCH_TRANSFORMER;
    pt.ratio = 1.05;
    net.add_branch(pt);
    Branch z0;
    z0.name = "Z0";
    z0.from = 2;
    z0.to = 3;
    net.add_branch(z0);
    return net;
}

// ---------------------------------------------------------------- LTC-V

TEST(ControlRecordsLtcV, BuildsATapChanger) {
    struct Case {
        const char* what;
        int branch;
        double ratio_before;
        Fields fields;
        int bus, positions, pos;
        bool increasing;
    };
    const std::vector<Case> cases = {
        {"to end of a transformer", T1, 1.0, {"T1", "C", "90", "110", "21", "0.01", "1.02"}, 2, 21,
         10, true},
        {"from end, ratio read 1.04", T1, 1.04, {"T1", "B", "90", "110", "21", "0.01", "1.02"}, 1,
         21, 14, true},
        {"falling table", T1, 1.0, {"T1", "B", "110", "90", "21", "0.01", "1.02"}, 1, 21, 10, false},
        {"positions written 2.9 read 2", T1, 1.04, {"T1", "B", "95", "105", "2.9", "0.01", "1.02"},
         1, 2, 1, true},
        {"a line", L1, 1.0, {"L1", "A", "90", "110", "21", "0.02", "0.98"}, 0, 21, 10, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = control_network();
        net.branches[c.branch].ratio = c.ratio_before;
        const bool was_transformer = net.branches[c.branch].is_transformer;
        InputParser().translate_ltc_v(rec("LTC-V", c.fields), net);

        ASSERT_EQ(net.tap_regulators.size(), 1u);
        const TapRegulator& tap = net.tap_regulators[0];
        const Branch& br = net.branches[c.branch];
        EXPECT_EQ(tap.branch, c.branch);
        EXPECT_EQ(tap.bus, c.bus);
        EXPECT_EQ(tap.deadband, std::stod(c.fields[5]));
        EXPECT_EQ(tap.vdes, std::stod(c.fields[6]));
        ASSERT_EQ(tap.ratios.size(), static_cast<std::size_t>(c.positions));
        EXPECT_EQ(tap.pos_min, 0);
        EXPECT_EQ(tap.pos_max, c.positions - 1);
        EXPECT_EQ(tap.pos, c.pos);
        EXPECT_EQ(tap.pos_init, c.pos);
        EXPECT_EQ(tap.ratio_increasing, c.increasing);
        EXPECT_EQ(tap.ratios.front(), std::stod(c.fields[2]) / 100.0);
        EXPECT_EQ(br.ratio, tap.ratios[tap.pos]);
        EXPECT_EQ(br.kind, BRANCH_REGULATED_TRANSFORMER);
        EXPECT_EQ(br.is_transformer, was_transformer);
    }
}

TEST(ControlRecordsLtcV, RefusalTexts) {
    struct Case {
        Fields fields;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"T1", "C", "90", "110", "21", "0.01"}, "InputParser: LTC-V 'T1' expected 7 fields, got 6"},
        {{"T1", "C", "90", "110", "21", "0.01", "1.02", "x"},
         "InputParser: LTC-V 'T1' expected 7 fields, got 8"},
        {{}, "InputParser: LTC-V '' expected 7 fields, got 0"},
        {{"ZZ", "C", "90", "110", "21", "0.01", "1.02"},
         "InputParser: LTC-V 'ZZ' references unknown transformer"},
        {{"T1", "ZZ", "90", "110", "21", "0.01", "1.02"},
         "InputParser: LTC-V 'T1' references unknown bus 'ZZ'"},
        {{"T1", "A", "90", "110", "21", "0.01", "1.02"},
         "InputParser: LTC-V 'T1' control bus 'A' is not an ending bus of the transformer"},
        {{"T1", "C", "90", "110", "1", "0.01", "1.02"},
         "InputParser: LTC-V 'T1' NBPOS must be >= 2, got 1"},
        {{"T1", "C", "90", "110", "-5.5", "0.01", "1.02"},
         "InputParser: LTC-V 'T1' NBPOS must be >= 2, got -5"},
        {{"T1", "C", "90", "110", "10001", "0.01", "1.02"},
         "InputParser: LTC-V 'T1' NBPOS must be <= 10000, got 10001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Network net = control_network();
        EXPECT_EQ(refusal([&] { InputParser().translate_ltc_v(rec("LTC-V", c.fields), net); }),
                  c.text);
        EXPECT_TRUE(net.tap_regulators.empty());
        EXPECT_EQ(net.branches[T1].kind, BRANCH_TRANSFORMER);
    }
}

TEST(ControlRecordsLtcV, SecondTapChangerOnABranchRefused) {
    const Fields fields = {"T1", "C", "90", "110", "21", "0.01", "1.02"};
    const std::string text =
        "InputParser: LTC-V 'T1' " + kEmDash + " duplicate tap changer on same transformer";
    {
        Network net = control_network();
        InputParser reader;
        reader.translate_ltc_v(rec("LTC-V", fields), net);
        EXPECT_EQ(refusal([&] { reader.translate_ltc_v(rec("LTC-V", fields), net); }), text);
        EXPECT_EQ(net.tap_regulators.size(), 1u);
    }
    {
        // one that a transformer record with a control bus made counts as well
        Network net = control_network();
        TapRegulator from_trfo;
        from_trfo.branch = T1;
        from_trfo.bus = 2;
        net.tap_regulators.push_back(from_trfo);
        EXPECT_EQ(refusal([&] { InputParser().translate_ltc_v(rec("LTC-V", fields), net); }), text);
    }
}

TEST(ControlRecordsLtcV, NumbersConvertedBeforeThePositionTest) {
    Network net = control_network();
    InputParser reader;
    EXPECT_THROW(reader.translate_ltc_v(rec("LTC-V", {"T1", "C", "90", "110", "1", "0.01", "v"}), net),
                 std::invalid_argument);
    EXPECT_THROW(reader.translate_ltc_v(rec("LTC-V", {"T1", "C", "pct", "110", "21", "0.01", "1"}), net),
                 std::invalid_argument);
    EXPECT_THROW(
        reader.translate_ltc_v(rec("LTC-V", {"T1", "C", "90", "110", "9999999999", "0.01", "1"}), net),
        std::out_of_range);
    EXPECT_TRUE(net.tap_regulators.empty());
    EXPECT_EQ(net.branches[T1].ratio, 1.0);
}

// ---------------------------------------------------------------- PSHIFT-P: field counts

// A record of `n` fields on PT monitoring L1: the short form for 8 and 10, the long form of
// (n - 10) / 4 entries (angles -30, -20, ...) where that fits, filler otherwise.
Fields pshift_fields(std::size_t n) {
    Fields base = {"PT", "L1", "-20", "20", "4", "1", "100", "5", "junk", "junk"};
    if (n == 8 || n == 10) {
        base.resize(n);
        return base;
    }
    Fields fields(base.begin(), base.begin() + static_cast<long>(std::min<std::size_t>(n, 10)));
    if (n >= 18 && (n - 10) % 4 == 0) {
        for (std::size_t j = 0; j < (n - 10) / 4; ++j) {
            fields.push_back(std::to_string(j + 1));
            fields.push_back("12");
            fields.push_back("100");
            fields.push_back(std::to_string(-30 + 10 * static_cast<int>(j)));
        }
    }
    while (fields.size() < n) fields.push_back("1");
    return fields;
}

TEST(ControlRecordsPshift, AcceptedFieldCounts) {
    const std::vector<std::pair<std::size_t, std::size_t>> cases = {{8, 2}, {10, 2}, {18, 2}, {22, 3}};
    for (const auto& [n, entries] : cases) {
        SCOPED_TRACE(n);
        Network net = control_network();
        InputParser().translate_pshift_p(rec("PSHIFT-P", pshift_fields(n)), net, 3);
        ASSERT_EQ(net.phase_shifters.size(), 1u);
        const PhaseShifter& pst = net.phase_shifters[0];
        EXPECT_EQ(pst.positions.size(), entries);
        EXPECT_EQ(pst.x.size(), entries);
        EXPECT_EQ(pst.ratios.size(), entries);
        EXPECT_EQ(pst.shifts.size(), entries);
    }
}

TEST(ControlRecordsPshift, RefusedFieldCounts) {
    const std::string wrong = "' incorrect number of fields (must be 8, 10, or 10+4k, k>=2), got ";
    for (std::size_t n : {1u, 7u, 9u, 11u, 12u, 13u, 15u, 16u, 20u}) {
        SCOPED_TRACE(n);
        Network net = control_network();
        EXPECT_EQ(refusal([&] { InputParser().translate_pshift_p(rec("PSHIFT-P", pshift_fields(n)), net, 0); }),
                  "InputParser: PSHIFT-P 'PT" + wrong + std::to_string(n));
        EXPECT_TRUE(net.phase_shifters.empty());
    }
    Network net = control_network();
    InputParser reader;
    EXPECT_EQ(refusal([&] { reader.translate_pshift_p(rec("PSHIFT-P", {}), net, 0); }),
              "InputParser: PSHIFT-P '" + wrong + "0");
    EXPECT_EQ(refusal([&] { reader.translate_pshift_p(rec("PSHIFT-P", pshift_fields(14)), net, 0); }),
              "InputParser: PSHIFT-P 'PT' incorrect number of fields " + kEmDash +
                  " data for only one tap position");
    // the count is tested before the branches are looked up
    Fields unknown = pshift_fields(9);
    unknown[0] = "ZZ";
    unknown[1] = "YY";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(refusal([&] { reader.translate_pshift_p(rec("PSHIFT-P", unknown), net, 0); }),
              "InputParser: PSHIFT-P 'ZZ" + wrong + "9");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// ---------------------------------------------------------------- PSHIFT-P: short form

// Series resistance and reactance as the reader derives them from a branch's admittance.
void series_of(const Branch& branch, double& r, double& x) {
    const double d = std::fma(branch.g_from, branch.g_from, branch.b_from * branch.b_from);
    r = branch.g_from / d;
    x = -branch.b_from / d;
}

TEST(ControlRecordsPshift, ShortFormHalfwayGoesAwayFromZero) {
    Network net = control_network();
    const Branch before = net.branches[PT];
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", {"PT", "L1", "-20", "20", "4", "1", "100", "5"}), net, 11);

    ASSERT_EQ(net.phase_shifters.size(), 1u);
    const PhaseShifter& pst = net.phase_shifters[0];
    double r = 0.0;
    double x = 0.0;
    series_of(before, r, x);
    EXPECT_EQ(pst.branch, PT);
    EXPECT_EQ(pst.monitored_branch, L1);
    EXPECT_EQ(pst.pdes, 1.0);
    EXPECT_EQ(pst.deadband, 0.05);
    EXPECT_EQ(pst.r, r);
    EXPECT_EQ(pst.sign, 1);
    EXPECT_EQ(pst.record, 11);
    EXPECT_EQ(pst.sign_field, 5);
    EXPECT_EQ(pst.positions, (std::vector<int>{1, 4}));
    EXPECT_EQ(pst.x, (std::vector<double>{x, x}));
    EXPECT_EQ(pst.ratios, (std::vector<double>{1.05, 1.05}));
    EXPECT_EQ(pst.shifts, (std::vector<double>{-20 / kDeg, 20 / kDeg}));
    EXPECT_TRUE(pst.angle_increasing);
    // t = 0.5 exactly: 1 + 0.5 * 3 = 2.5, which goes to 3
    EXPECT_EQ(pst.pos, 3);
    EXPECT_EQ(pst.pos_init, 3);

    const Branch& br = net.branches[PT];
    const double s0 = pst.shifts[0];
    const double s1 = pst.shifts[1];
    EXPECT_EQ(br.shift, std::fma(s1 - s0, 2.0 / 3.0, s0));
    EXPECT_NEAR(br.shift, (20.0 / 3.0) / kDeg, 1e-15);
    EXPECT_EQ(br.ratio, 1.05);
    const double e = std::fma(r, r, x * x);
    EXPECT_EQ(br.g_from, r / e);
    EXPECT_EQ(br.g_to, r / e);
    EXPECT_EQ(br.b_from, -x / e);
    EXPECT_EQ(br.b_to, -x / e);
    EXPECT_NEAR(br.g_from, before.g_from, 1e-12 * std::fabs(before.g_from));
    EXPECT_NEAR(br.b_from, before.b_from, 1e-12 * std::fabs(before.b_from));
    EXPECT_EQ(br.status, before.status);
    EXPECT_EQ(br.rating, before.rating);
    EXPECT_EQ(br.kind, BRANCH_TRANSFORMER);
}

TEST(ControlRecordsPshift, ShortFormStartPositions) {
    struct Case {
        const char* what;
        double branch_deg;
        Fields angles;  // f2, f3, f4
        int pos;
        bool increasing;
        double approx_deg;  // the branch's angle afterwards
    };
    const std::vector<Case> cases = {
        {"10 degrees on -30..30 over 33", 10.0, {"-30", "30", "33"}, 22, true, 9.375},
        {"falling table", 10.0, {"30", "-30", "33"}, 12, false, 9.375},
        {"above the range: last position", 50.0, {"-30", "30", "33"}, 33, true, 30.0},
        {"below the range: first position", -50.0, {"-30", "30", "33"}, 1, true, -30.0},
        {"falling, above the range", 50.0, {"30", "-30", "33"}, 1, false, 30.0},
        // 1 + 0.5 * (-3) = -0.5 goes to -1; no entry at or around -1, so entry 0
        {"halfway below zero", 0.0, {"-20", "20", "-2"}, -1, true, -20.0},
        {"last position 1", 0.0, {"-20", "20", "1"}, 1, true, -20.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = control_network();
        net.branches[PT].shift = c.branch_deg / kDeg;
        Fields fields = {"PT", "L1", c.angles[0], c.angles[1], c.angles[2], "-1", "100", "5"};
        InputParser().translate_pshift_p(rec("PSHIFT-P", fields), net, 0);
        ASSERT_EQ(net.phase_shifters.size(), 1u);
        const PhaseShifter& pst = net.phase_shifters[0];
        EXPECT_EQ(pst.sign, -1);
        EXPECT_EQ(pst.pos, c.pos);
        EXPECT_EQ(pst.pos_init, c.pos);
        EXPECT_EQ(pst.angle_increasing, c.increasing);
        EXPECT_NEAR(net.branches[PT].shift * kDeg, c.approx_deg, 1e-9);
        EXPECT_EQ(net.branches[PT].ratio, 1.05);
    }
}

// Infinite angles pass the conversion and make t = inf/inf: the start position falls back to
// entry 0 instead of rounding NaN into an int.
TEST(ControlRecordsPshift, ShortFormAnglesThatPlaceNoPositionStartAtEntryZero) {
    const std::vector<Fields> angles = {
        {"-inf", "inf", "33"}, {"inf", "-inf", "33"}, {"-inf", "0", "5"}, {"nan", "10", "5"}};
    for (const Fields& a : angles) {
        SCOPED_TRACE(a[0] + " " + a[1]);
        Network net = control_network();
        Fields fields = {"PT", "L1", a[0], a[1], a[2], "1", "100", "5"};
        InputParser().translate_pshift_p(rec("PSHIFT-P", fields), net, 0);
        ASSERT_EQ(net.phase_shifters.size(), 1u);
        const PhaseShifter& pst = net.phase_shifters[0];
        EXPECT_EQ(pst.pos, 1);
        EXPECT_EQ(pst.pos_init, 1);
        const double shift = net.branches[PT].shift;
        EXPECT_TRUE(shift == pst.shifts[0] || (std::isnan(shift) && std::isnan(pst.shifts[0])));
    }
}

TEST(ControlRecordsPshift, ShortFormExactAngleOfTheSpecExample) {
    Network net = control_network();
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", {"T2", "L1", "-30", "30", "33", "1", "100", "5", "x", "y"}), net, 0);
    const PhaseShifter& pst = net.phase_shifters.at(0);
    EXPECT_EQ(pst.pos, 22);
    const double s0 = -30 / kDeg;
    const double s1 = 30 / kDeg;
    EXPECT_EQ(net.branches[T2].shift, std::fma(s1 - s0, 21.0 / 32.0, s0));
}

TEST(ControlRecordsPshift, BranchWithoutSeriesAdmittanceKeepsIt) {
    Network net = control_network();
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", {"Z0", "Z0", "-20", "20", "5", "1", "0", "0"}), net, 0);
    const PhaseShifter& pst = net.phase_shifters.at(0);
    EXPECT_EQ(pst.r, 0.0);
    EXPECT_EQ(pst.x, (std::vector<double>{0.0, 0.0}));
    EXPECT_EQ(pst.monitored_branch, Z0);  // a branch may monitor itself
    EXPECT_EQ(pst.pos, 3);
    const Branch& br = net.branches[Z0];
    EXPECT_EQ(br.g_from, 0.0);
    EXPECT_EQ(br.b_from, 0.0);
    EXPECT_EQ(br.shift, 0.0);  // the angle at the middle position of -20..20
}

// ---------------------------------------------------------------- PSHIFT-P: long form

Fields long_record(const std::string& branch, const std::vector<Fields>& entries,
                   const std::string& sign = "1") {
    Fields fields = {branch, "L1", "0", "0", "0", sign, "50", "2", "0", "0"};
    for (const Fields& entry : entries) fields.insert(fields.end(), entry.begin(), entry.end());
    return fields;
}

TEST(ControlRecordsPshift, LongFormExactEntry) {
    Network net = control_network();
    const Branch before = net.branches[PT];
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", long_record("PT", {{"1", "12", "100", "-10"},
                                           {"2", "12", "102", "0"},
                                           {"3", "12", "104", "10"}})),
        net, 4);
    const PhaseShifter& pst = net.phase_shifters.at(0);
    EXPECT_EQ(pst.pdes, 0.5);
    EXPECT_EQ(pst.deadband, 0.02);
    EXPECT_EQ(pst.positions, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pst.x, (std::vector<double>{0.06, 0.06, 0.06}));  // 12 % on a rating of 2 pu
    EXPECT_EQ(pst.ratios, (std::vector<double>{1.0, 1.02, 1.04}));
    EXPECT_EQ(pst.shifts, (std::vector<double>{-10 / kDeg, 0.0, 10 / kDeg}));
    EXPECT_EQ(pst.pos, 2);

    double r = 0.0;
    double x = 0.0;
    series_of(before, r, x);
    EXPECT_EQ(pst.r, r);
    const Branch& br = net.branches[PT];
    EXPECT_EQ(br.ratio, 1.02);
    EXPECT_EQ(br.shift, 0.0);
    const double e = std::fma(r, r, 0.06 * 0.06);
    EXPECT_EQ(br.g_from, r / e);
    EXPECT_EQ(br.g_to, r / e);
    EXPECT_EQ(br.b_from, -0.06 / e);
    EXPECT_EQ(br.b_to, -0.06 / e);
}

TEST(ControlRecordsPshift, LongFormReactanceOnARatingOfZero) {
    Network net = control_network();
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", long_record("T2", {{"1", "12", "100", "-10"}, {"2", "12", "100", "10"}})),
        net, 0);
    const PhaseShifter& pst = net.phase_shifters.at(0);
    EXPECT_EQ(pst.x, (std::vector<double>{0.12, 0.12}));
    // T2 was read at 10 degrees, the end of the table
    EXPECT_EQ(pst.pos, 2);
    EXPECT_EQ(net.branches[T2].shift, 10 / kDeg);
}

TEST(ControlRecordsPshift, LongFormInterpolatesBetweenEntries) {
    Network net = control_network();
    net.branches[PT].shift = 3.0 / kDeg;
    InputParser().translate_pshift_p(
        rec("PSHIFT-P", long_record("PT", {{"1", "10", "100", "-10"},
                                           {"3", "12", "102", "0"},
                                           {"5", "16", "106", "10"}})),
        net, 0);
    const PhaseShifter& pst = net.phase_shifters.at(0);
    // t = 0.3 on the segment from position 3 to 5: 3.6 goes to 4, halfway between entries
    EXPECT_EQ(pst.pos, 4);
    auto mid = [](const std::vector<double>& v) { return std::fma(v[2] - v[1], 0.5, v[1]); };
    const Branch& br = net.branches[PT];
    EXPECT_EQ(br.ratio, mid(pst.ratios));
    EXPECT_EQ(br.shift, mid(pst.shifts));
    const double x = mid(pst.x);
    EXPECT_NEAR(x, 0.07, 1e-15);
    const double e = std::fma(pst.r, pst.r, x * x);
    EXPECT_EQ(br.g_from, pst.r / e);
    EXPECT_EQ(br.b_from, -x / e);
}

TEST(ControlRecordsPshift, RefusalTexts) {
    struct Case {
        Fields fields;
        std::string text;
    };
    const std::string head = "InputParser: PSHIFT-P 'PT' ";
    const Fields a = {"1", "10", "100", "-10"};
    const std::vector<Case> cases = {
        {long_record("PT", {a, {"2", "10", "100", "0"}, {"2", "10", "100", "10"}}),
         head + "data not in increasing order of tap position"},
        {long_record("PT", {a, {"3", "10", "100", "0"}, {"2", "10", "100", "10"}}),
         head + "data not in increasing order of tap position"},
        {long_record("PT", {{"0", "10", "100", "-10"}, {"1", "10", "100", "0"}}),
         head + "data do not start with tap position 1"},
        {long_record("PT", {{"1", "10", "100", "10"}, {"2", "10", "100", "10"}, {"3", "10", "100", "20"}}),
         head + "two successive positions have the same angle"},
        {long_record("PT", {{"1", "10", "100", "0"}, {"2", "10", "100", "10"}, {"3", "10", "100", "5"}}),
         head + "angle does not vary monotonically with tap position"},
        // the first offending pair decides, and within a pair equality is tested first
        {long_record("PT", {{"1", "10", "100", "0"}, {"2", "10", "100", "10"},
                            {"3", "10", "100", "5"}, {"4", "10", "100", "5"}}),
         head + "angle does not vary monotonically with tap position"},
        {long_record("PT", {{"1", "10", "100", "0"}, {"2", "10", "100", "10"},
                            {"3", "10", "100", "10"}, {"4", "10", "100", "5"}}),
         head + "two successive positions have the same angle"},
        // positions are tested before the sign, the sign before the angles
        {long_record("PT", {{"0", "10", "100", "-10"}, {"1", "10", "100", "0"}}, "0"),
         head + "data do not start with tap position 1"},
        {long_record("PT", {{"1", "10", "100", "0"}, {"2", "10", "100", "0"}}, "0"),
         head + "control direction sign must be 1 or -1, got 0"},
        {{"PT", "L1", "-20", "20", "4", "2.7", "100", "5"},
         head + "control direction sign must be 1 or -1, got 2"},
        {{"PT", "L1", "-20", "20", "4", "-3", "100", "5"},
         head + "control direction sign must be 1 or -1, got -3"},
        {{"PT", "L1", "15", "15", "4", "1", "100", "5"},
         head + "two successive positions have the same angle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Network net = control_network();
        const double shift = net.branches[PT].shift;
        EXPECT_EQ(refusal([&] { InputParser().translate_pshift_p(rec("PSHIFT-P", c.fields), net, 0); }),
                  c.text);
        EXPECT_TRUE(net.phase_shifters.empty());
        EXPECT_EQ(net.branches[PT].shift, shift);
    }
}

TEST(ControlRecordsPshift, SignsAccepted) {
    for (const auto& [text, sign] : std::vector<std::pair<std::string, int>>{
             {"1", 1}, {"-1", -1}, {"+1", 1}, {"1.9", 1}, {"-1deg", -1}}) {
        SCOPED_TRACE(text);
        Network net = control_network();
        InputParser().translate_pshift_p(
            rec("PSHIFT-P", {"PT", "L1", "-20", "20", "4", text, "100", "5"}), net, 0);
        EXPECT_EQ(net.phase_shifters.at(0).sign, sign);
    }
}

TEST(ControlRecordsPshift, NumbersFailWithTheConversionsOwnExceptions) {
    InputParser reader;
    const std::vector<Fields> cases = {
        {"PT", "L1", "-20", "20", "4", "1", "MW", "5"},
        {"PT", "L1", "-20", "20", "4", "1", "100", "db"},
        {"PT", "L1", "deg", "20", "4", "1", "100", "5"},
        {"PT", "L1", "-20", "20", "four", "1", "100", "5"},
        {"PT", "L1", "-20", "20", "4", "plus", "100", "5"},
        long_record("PT", {{"1", "10", "100", "-10"}, {"2", "10", "ratio", "10"}}),
    };
    for (const Fields& fields : cases) {
        Network net = control_network();
        EXPECT_THROW(reader.translate_pshift_p(rec("PSHIFT-P", fields), net, 0), std::invalid_argument);
        EXPECT_TRUE(net.phase_shifters.empty());
    }
    Network net = control_network();
    EXPECT_THROW(reader.translate_pshift_p(
                     rec("PSHIFT-P", {"PT", "L1", "-20", "20", "4", "1", "1e400", "5"}), net, 0),
                 std::out_of_range);
}

TEST(ControlRecordsPshift, UnknownBranchWarnsAndDrops) {
    struct Case {
        Fields fields;
        const char* warning;
    };
    const std::vector<Case> cases = {
        {{"PT", "ZZ", "-20", "20", "4", "1", "100", "5"},
         "varnok: PSHIFT-P 'PT' involves an unknown branch. Ignored.\n"},
        // nothing after the lookup is converted
        {{"ZZ", "L1", "x", "x", "x", "x", "x", "x"},
         "varnok: PSHIFT-P 'ZZ' involves an unknown branch. Ignored.\n"},
    };
    for (const Case& c : cases) {
        Network net = control_network();
        ::testing::internal::CaptureStderr();
        EXPECT_NO_THROW(InputParser().translate_pshift_p(rec("PSHIFT-P", c.fields), net, 0));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.warning);
        EXPECT_TRUE(net.phase_shifters.empty());
        EXPECT_EQ(net.branches[PT].shift, 0.0);
    }
}

TEST(ControlRecordsPshift, SecondPhaseShifterOnABranchRefused) {
    Network net = control_network();
    InputParser reader;
    const Fields fields = {"PT", "L1", "-20", "20", "4", "1", "100", "5"};
    reader.translate_pshift_p(rec("PSHIFT-P", fields), net, 0);
    EXPECT_EQ(refusal([&] { reader.translate_pshift_p(rec("PSHIFT-P", fields), net, 1); }),
              "InputParser: more than one phase shifter on transformer 'PT'");
    // a record on the same branch whose monitored branch is unknown only warns
    ::testing::internal::CaptureStderr();
    reader.translate_pshift_p(rec("PSHIFT-P", {"PT", "ZZ", "-20", "20", "4", "1", "100", "5"}), net, 2);
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(net.phase_shifters.size(), 1u);
}

// ---------------------------------------------------------------- whole files

const char* kTwoBuses =
    "BUS A 400 0 0 0;\n"
    "BUS B 400 0 0 0;\n";

TEST(ControlRecordsLoad, TapChangerBeforeItsBranch) {
    const auto loaded = reader_test::load_text(std::string("LTC-V T1 B 90 110 21 0.01 1.02;\n") +
                                               kTwoBuses + "TRANSFO T1 A B 0.5 10 0 0 104 0 100 1;\n");
    const Network& net = loaded.network;
    ASSERT_EQ(net.tap_regulators.size(), 1u);
    EXPECT_EQ(net.tap_regulators[0].branch, 0);
    EXPECT_EQ(net.tap_regulators[0].bus, 1);
    EXPECT_EQ(net.tap_regulators[0].pos, 14);
    EXPECT_EQ(net.branches[0].ratio, net.tap_regulators[0].ratios[14]);
    EXPECT_EQ(net.branches[0].kind, BRANCH_REGULATED_TRANSFORMER);
}

TEST(ControlRecordsLoad, PhaseShifterBeforeItsBranch) {
    const auto loaded = reader_test::load_text(
        std::string("PSHIFT-P PT L1 -30 30 33 -1 100 5;\n") + kTwoBuses +
        "TRANSFO PT A B 0.5 10 0 0 100 10 100 1;\n"
        "LINE L1 A B 1 10 0 100 1;\n");
    const Network& net = loaded.network;
    ASSERT_EQ(net.phase_shifters.size(), 1u);
    const PhaseShifter& pst = net.phase_shifters[0];
    EXPECT_EQ(pst.branch, 0);
    EXPECT_EQ(pst.monitored_branch, 1);
    EXPECT_EQ(pst.record, 0);
    EXPECT_EQ(pst.sign, -1);
    EXPECT_EQ(pst.pos, 22);
    EXPECT_EQ(net.branches[0].shift, std::fma(60 / kDeg, 21.0 / 32.0, -30 / kDeg));
}

TEST(ControlRecordsLoad, UnknownBranchWarningDoesNotStopTheLoad) {
    const auto loaded = reader_test::load_text(
        std::string("PSHIFT-P T1 NOPE -30 30 33 1 100 5;\n") + kTwoBuses +
        "TRANSFO T1 A B 0.5 10 0 0 100 0 100 1;\n"
        "LTC-V T1 A 90 110 21 0.01 1.0;\n");
    EXPECT_EQ(loaded.warnings, "varnok: PSHIFT-P 'T1' involves an unknown branch. Ignored.\n");
    EXPECT_TRUE(loaded.network.phase_shifters.empty());
    EXPECT_EQ(loaded.network.tap_regulators.size(), 1u);
}

TEST(ControlRecordsLoad, Refusals) {
    // a transformer record with a control bus already put a tap changer on the branch
    EXPECT_EQ(reader_test::load_error(std::string(kTwoBuses) +
                                      "TRFO T1 A B B 0.5 10 0 100 100 90 110 21 0.01 1.0 1;\n"
                                      "LTC-V T1 A 90 110 21 0.01 1.0;\n"),
              "InputParser: LTC-V 'T1' " + kEmDash + " duplicate tap changer on same transformer");
    EXPECT_EQ(reader_test::load_error(std::string(kTwoBuses) +
                                      "TRANSFO T1 A B 0.5 10 0 0 100 0 100 1;\n"
                                      "LTC-V T1 A 90 110 21 0.01 1.0;\n"
                                      "PSHIFT-P T1 T1 -30 30 33 1 100 5;\n"),
              "InputParser: transformer 'T1' is both voltage and active power controlled");
    // the control pass keeps track of the controls that its own records put on
    EXPECT_EQ(reader_test::load_error(std::string(kTwoBuses) +
                                      "TRANSFO T1 A B 0.5 10 0 0 100 0 100 1;\n"
                                      "LTC-V T1 A 90 110 21 0.01 1.0;\n"
                                      "LTC-V T1 B 90 110 21 0.01 1.0;\n"),
              "InputParser: LTC-V 'T1' " + kEmDash + " duplicate tap changer on same transformer");
    EXPECT_EQ(reader_test::load_error(std::string(kTwoBuses) +
                                      "TRANSFO T1 A B 0.5 10 0 0 100 0 100 1;\n"
                                      "LINE L1 A B 1 10 0 100 1;\n"
                                      "PSHIFT-P T1 L1 -30 30 33 1 100 5;\n"
                                      "PSHIFT-P T1 T1 -30 30 33 1 100 5;\n"),
              "InputParser: more than one phase shifter on transformer 'T1'");
}

// A ratio table may not hold a zero ratio (below 1e-10 in absolute value): the solve would
// divide by it and the dump would write it as a ratio field of 0, which reads back as nominal.
// The refusal names the first such entry: its index in a tap changer's table, its position
// number in a phase shifter's. A ratio field of 0 on the branch's own record still means nominal.
TEST(RatioTables, AZeroRatioInATableIsRefused) {
    const std::string buses = std::string(kTwoBuses) + "BUS C 225 0 0 0;\n";
    const std::string transfo = "TRANSFO T1 A B 0.5 10 0 0 0 0 100 1;\n";
    const std::string line = "LINE L1 A B 1 10 0 100 1;\n";
    const struct {
        const char* what;
        std::string records;
        std::string text;  // "" when the file loads
    } cases[] = {
        {"the reduced network: 0 % to 110 %, the branch ratio snaps to the 0 % entry",
         "TRFO T A C C 0.5 10 0 20 300 0 110 2 0.005 1.0 1;\n",
         "InputParser: TRFO 'T' tap table holds a zero ratio at position 0"},
        {"TRFO, a zero entry inside the table", "TRFO T A C C 0.5 10 0 100 300 -2 2 5 0.005 1 1;\n",
         "InputParser: TRFO 'T' tap table holds a zero ratio at position 2"},
        {"TRFO, a zero last entry", "TRFO ' ' A C A 0.5 10 0 100 300 110 0 3 0.005 1 1;\n",
         "InputParser: TRFO 'A-C' tap table holds a zero ratio at position 2"},
        {"TRFO, an entry just below the threshold",
         "TRFO T A C C 0.5 10 0 100 300 9.9e-9 110 2 0.005 1 1;\n",
         "InputParser: TRFO 'T' tap table holds a zero ratio at position 0"},
        {"TRFO, entries of 1e-8 % and above load",
         "TRFO T A C C 0.5 10 0 100 300 1.5e-8 110 2 0.005 1 1;\n", ""},
        {"TRFO, negative ratios that are not zero load",
         "TRFO T A C C 0.5 10 0 100 300 -110 -90 3 0.005 1 1;\n", ""},
        {"TRFO without a control bus reads no table",
         "TRFO T A C ' ' 0.5 10 0 100 300 0 0 2 0.005 1 1;\n", ""},
        {"a ratio field of 0 still means nominal", "TRFO T A C ' ' 0.5 10 0 0 300 0 0 2 0 1 1;\n" +
                                                       transfo,
         ""},
        {"LTC-V, a zero first entry", transfo + "LTC-V T1 B 0 110 12 0.01 1.0;\n",
         "InputParser: LTC-V 'T1' tap table holds a zero ratio at position 0"},
        {"LTC-V on a line, a zero entry inside the table",
         line + "LTC-V L1 A 100 -100 3 0.01 1.0;\n",
         "InputParser: LTC-V 'L1' tap table holds a zero ratio at position 1"},
        {"LTC-V without a zero entry", transfo + "LTC-V T1 B 90 110 21 0.01 1.0;\n", ""},
        {"PSHIFT-P long form, the position number of the zero entry",
         transfo + line + "PSHIFT-P T1 L1 0 0 0 1 50 2 0 0 1 10 100 -10 4 10 0 0 7 10 100 10;\n",
         "InputParser: PSHIFT-P 'T1' table holds a zero ratio at position 4"},
        {"PSHIFT-P long form, the first entry",
         transfo + line + "PSHIFT-P T1 L1 0 0 0 1 50 2 0 0 1 10 1e-9 -10 2 10 100 10;\n",
         "InputParser: PSHIFT-P 'T1' table holds a zero ratio at position 1"},
        {"PSHIFT-P long form, positions are tested first",
         transfo + line + "PSHIFT-P T1 L1 0 0 0 1 50 2 0 0 2 10 0 -10 3 10 100 10;\n",
         "InputParser: PSHIFT-P 'T1' data do not start with tap position 1"},
        {"PSHIFT-P long form, the zero ratio before the sign",
         transfo + line + "PSHIFT-P T1 L1 0 0 0 7 50 2 0 0 1 10 100 -10 2 10 0 10;\n",
         "InputParser: PSHIFT-P 'T1' table holds a zero ratio at position 2"},
        {"PSHIFT-P long form without a zero entry",
         transfo + line + "PSHIFT-P T1 L1 0 0 0 1 50 2 0 0 1 10 100 -10 2 10 100 10;\n", ""},
        {"PSHIFT-P short form on a branch whose ratio field is 0",
         transfo + line + "PSHIFT-P T1 L1 -30 30 33 1 100 5;\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(reader_test::load_error(buses + c.records), c.text);
    }
}

}  // namespace
}  // namespace varnok
