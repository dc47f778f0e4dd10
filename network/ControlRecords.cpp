// "LTC-V" and "PSHIFT-P" records: the tap changer and the phase shifter put on a branch.
//
// Both run in the last pass of the reader, so the branch they name may stand later in the file.
#include "network/InputParser.h"
#include "network/NumberText.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

namespace varnok {

namespace {

// Degrees to radians, the factor the input format fixes (not 180/pi).
constexpr double kDegPerRad = 57.2957795;

// Below this a squared impedance or admittance, or a rating, counts as zero.
constexpr double kTiny = 1e-30;

// The range of tap numbers, as doubles.
constexpr double kFirstPosition = std::numeric_limits<int>::min();
constexpr double kLastPosition = std::numeric_limits<int>::max();

[[noreturn]] void refuse(const std::string& text) {
    throw std::runtime_error("InputParser: " + text);
}

// A record without any field has no name to quote.
std::string name_of(const InputParser::Record& record) {
    return record.fields.empty() ? std::string() : record.fields[0];
}

// ---- "PSHIFT-P" ----

enum class PshiftForm { SHORT, LONG };

// The short form (8 or 10 fields) gives two angles; the long form 10 + 4k fields, k >= 2 entries.
PshiftForm pshift_form(const InputParser::Record& record) {
    const std::size_t n = record.fields.size();
    if (n == 8 || n == 10) return PshiftForm::SHORT;
    if (n < 10 || (n - 10) % 4 != 0)
        refuse("PSHIFT-P '" + name_of(record) +
               "' incorrect number of fields (must be 8, 10, or 10+4k, k>=2), got " +
               std::to_string(n));
    if (n == 14)
        refuse("PSHIFT-P '" + name_of(record) +
               "' incorrect number of fields \u2014 data for only one tap position");
    return PshiftForm::LONG;
}

// Series resistance and reactance behind the branch's series admittance g + jb.
void series_impedance(const Branch& branch, double& r, double& x) {
    const double g = branch.g_from;
    const double b = branch.b_from;
    const double d = std::fma(g, g, b * b);
    if (d > kTiny) {
        r = g / d;
        x = -b / d;
    } else {
        r = 0.0;
        x = 0.0;
    }
}

void append_entry(PhaseShifter& pst, int position, double x, double ratio, double shift) {
    pst.positions.push_back(position);
    pst.x.push_back(x);
    pst.ratios.push_back(ratio);
    pst.shifts.push_back(shift);
}

// Two entries, at position 1 and at the last position, with the branch's own ratio and reactance.
void read_short_table(const InputParser::Record& record, const Branch& branch, double x,
                      PhaseShifter& pst) {
    const auto& f = record.fields;
    const double first_deg = parse_real(f[2]);
    const double last_deg = parse_real(f[3]);
    const int last_position = parse_integer(f[4]);
    append_entry(pst, 1, x, branch.ratio, first_deg / kDegPerRad);
    append_entry(pst, last_position, x, branch.ratio, last_deg / kDegPerRad);
}

// Entries of four fields from f10 on: position, reactance in percent on the branch's rating,
// ratio in percent, angle in degrees.
void read_long_table(const InputParser::Record& record, const Branch& branch, PhaseShifter& pst) {
    const auto& f = record.fields;
    const std::size_t entries = (f.size() - 10) / 4;
    for (std::size_t j = 0; j < entries; ++j) {
        const std::size_t at = 10 + 4 * j;
        const int position = parse_integer(f[at]);
        const double x_pct = parse_real(f[at + 1]);
        const double ratio_pct = parse_real(f[at + 2]);
        const double angle_deg = parse_real(f[at + 3]);
        const double x = branch.rating < kTiny ? x_pct / 100.0 : x_pct / (100.0 * branch.rating);
        append_entry(pst, position, x, ratio_pct / 100.0, angle_deg / kDegPerRad);
    }
    if (pst.positions[0] != 1)
        refuse("PSHIFT-P '" + f[0] + "' data do not start with tap position 1");
    for (std::size_t j = 1; j < pst.positions.size(); ++j)
        if (pst.positions[j] <= pst.positions[j - 1])
            refuse("PSHIFT-P '" + f[0] + "' data not in increasing order of tap position");
    if (const int zero = InputParser::first_zero_ratio(pst.ratios); zero >= 0)
        refuse("PSHIFT-P '" + f[0] + "' table holds a zero ratio at position " +
               std::to_string(pst.positions[static_cast<std::size_t>(zero)]));
}

void read_sign(const InputParser::Record& record, PhaseShifter& pst) {
    const int sign = parse_integer(record.fields[5]);
    if (sign != 1 && sign != -1)
        refuse("PSHIFT-P '" + record.fields[0] +
               "' control direction sign must be 1 or -1, got " + std::to_string(sign));
    pst.sign = sign;
}

// The angle must move strictly one way along the table.
void check_angles(const InputParser::Record& record, PhaseShifter& pst) {
    const auto& s = pst.shifts;
    pst.angle_increasing = s[0] < s[1];
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == s[i + 1])
            refuse("PSHIFT-P '" + record.fields[0] +
                   "' two successive positions have the same angle");
        if ((s[i] < s[i + 1]) != pst.angle_increasing)
            refuse("PSHIFT-P '" + record.fields[0] +
                   "' angle does not vary monotonically with tap position");
    }
}

// The tap position whose angle is nearest the branch's phase angle as read, interpolating
// linearly between entries and rounding half away from zero.
int start_position(const PhaseShifter& pst, double angle) {
    const auto& s = pst.shifts;
    const auto& p = pst.positions;
    const double first = s.front();
    const double last = s.back();
    const double a = pst.angle_increasing ? std::min(last, std::max(angle, first))
                                          : std::min(first, std::max(angle, last));
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        const bool encloses = pst.angle_increasing ? (s[i] <= a && a <= s[i + 1])
                                                   : (s[i] >= a && a >= s[i + 1]);
        if (!encloses) continue;
        if (std::fabs(s[i + 1] - s[i]) <= kTiny) break;
        const double t = (a - s[i]) / (s[i + 1] - s[i]);
        // Position differences in double: a short-form last position may be any int.
        const double span = static_cast<double>(p[i + 1]) - static_cast<double>(p[i]);
        const double position = std::round(std::fma(t, span, static_cast<double>(p[i])));
        // Infinite angles make t = inf/inf: a position that is no int falls back to entry 0.
        if (!(position >= kFirstPosition && position <= kLastPosition)) break;
        return static_cast<int>(position);
    }
    return p[0];
}

struct TableValues {
    double x = 0.0;
    double ratio = 1.0;
    double shift = 0.0;
};

// Reactance, ratio and angle at tap position `position`: an exact entry, else linear
// interpolation between the entries around it, else entry 0.
TableValues table_at(const PhaseShifter& pst, int position) {
    const auto& p = pst.positions;
    for (std::size_t j = 0; j < p.size(); ++j)
        if (p[j] == position) return {pst.x[j], pst.ratios[j], pst.shifts[j]};
    for (std::size_t j = 0; j + 1 < p.size(); ++j) {
        if (!(p[j] < position && position < p[j + 1])) continue;
        const double w = (static_cast<double>(position) - p[j]) /
                         (static_cast<double>(p[j + 1]) - p[j]);
        auto lerp = [w](double from, double to) { return std::fma(to - from, w, from); };
        return {lerp(pst.x[j], pst.x[j + 1]), lerp(pst.ratios[j], pst.ratios[j + 1]),
                lerp(pst.shifts[j], pst.shifts[j + 1])};
    }
    return {pst.x[0], pst.ratios[0], pst.shifts[0]};
}

// The branch takes the ratio, angle and series admittance r + jx of the table at its position.
void set_branch_from_table(Branch& branch, double r, const TableValues& values) {
    branch.ratio = values.ratio;
    branch.shift = values.shift;
    const double e = std::fma(r, r, values.x * values.x);
    if (e > kTiny) {
        branch.g_from = branch.g_to = r / e;
        branch.b_from = branch.b_to = -values.x / e;
    }
}

// One flag per branch of the network; an index that names no branch has none.
void mark(std::vector<char>& flags, int branch) {
    const std::size_t at = static_cast<std::size_t>(branch);
    if (at < flags.size()) flags[at] = 1;
}

bool marked(const std::vector<char>& flags, int branch) {
    const std::size_t at = static_cast<std::size_t>(branch);
    return at < flags.size() && flags[at];
}

}  // namespace

InputParser::ControlledBranches InputParser::controlled_branches(const Network& network) {
    ControlledBranches controlled;
    controlled.tap_changer.assign(network.branches.size(), 0);
    controlled.phase_shifter.assign(network.branches.size(), 0);
    for (const TapRegulator& tap : network.tap_regulators) mark(controlled.tap_changer, tap.branch);
    for (const PhaseShifter& pst : network.phase_shifters)
        mark(controlled.phase_shifter, pst.branch);
    return controlled;
}

void InputParser::translate_ltc_v(const Record& record, Network& network) {
    ControlledBranches controlled = controlled_branches(network);
    translate_ltc_v(record, network, controlled);
}

void InputParser::translate_pshift_p(const Record& record, Network& network, int index) {
    ControlledBranches controlled = controlled_branches(network);
    translate_pshift_p(record, network, index, controlled);
}

void InputParser::translate_ltc_v(const Record& record, Network& network,
                                  ControlledBranches& controlled) {
    const auto& f = record.fields;
    if (f.size() != 7)
        refuse("LTC-V '" + name_of(record) + "' expected 7 fields, got " +
               std::to_string(f.size()));
    const int branch = network.find_branch(f[0]);
    if (branch < 0) refuse("LTC-V '" + f[0] + "' references unknown transformer");
    const int bus = network.find_bus(f[1]);
    if (bus < 0) refuse("LTC-V '" + f[0] + "' references unknown bus '" + f[1] + "'");
    Branch& br = network.branches[branch];
    if (bus != br.from && bus != br.to)
        refuse("LTC-V '" + f[0] + "' control bus '" + f[1] +
               "' is not an ending bus of the transformer");
    if (marked(controlled.tap_changer, branch))
        refuse("LTC-V '" + f[0] + "' \u2014 duplicate tap changer on same transformer");

    const double first_pct = parse_real(f[2]);
    const double last_pct = parse_real(f[3]);
    const int positions = parse_integer(f[4]);
    const double deadband = parse_real(f[5]);
    const double vdes = parse_real(f[6]);
    if (positions < 2)
        refuse("LTC-V '" + f[0] + "' NBPOS must be >= 2, got " + std::to_string(positions));
    if (positions > max_tap_positions)
        refuse("LTC-V '" + f[0] + "' NBPOS must be <= " + std::to_string(max_tap_positions) +
               ", got " + std::to_string(positions));

    TapRegulator tap;
    tap.branch = branch;
    tap.bus = bus;
    tap.vdes = vdes;
    tap.deadband = deadband;
    build_tap_table(tap, first_pct, last_pct, positions, br);
    if (const int zero = first_zero_ratio(tap.ratios); zero >= 0)
        refuse("LTC-V '" + f[0] + "' tap table holds a zero ratio at position " +
               std::to_string(zero));
    br.kind = BRANCH_REGULATED_TRANSFORMER;
    network.tap_regulators.push_back(tap);
    mark(controlled.tap_changer, branch);
}

void InputParser::translate_pshift_p(const Record& record, Network& network, int index,
                                     ControlledBranches& controlled) {
    const PshiftForm form = pshift_form(record);
    const auto& f = record.fields;
    const int branch = network.find_branch(f[0]);
    const int monitored = network.find_branch(f[1]);
    if (branch < 0 || monitored < 0) {
        // one write, so that loads on other threads cannot split the line
        std::cerr << ("varnok: PSHIFT-P '" + f[0] + "' involves an unknown branch. Ignored.\n");
        return;
    }
    Branch& br = network.branches[branch];
    if (marked(controlled.phase_shifter, branch))
        refuse("more than one phase shifter on transformer '" + br.name + "'");

    PhaseShifter pst;
    pst.branch = branch;
    pst.monitored_branch = monitored;
    pst.record = index;
    pst.sign_field = 5;
    double x = 0.0;
    series_impedance(br, pst.r, x);

    pst.pdes = parse_real(f[6]) / network.sbase;
    pst.deadband = parse_real(f[7]) / network.sbase;
    if (form == PshiftForm::SHORT)
        read_short_table(record, br, x, pst);
    else
        read_long_table(record, br, pst);
    read_sign(record, pst);
    check_angles(record, pst);

    pst.pos = start_position(pst, br.shift);
    pst.pos_init = pst.pos;
    set_branch_from_table(br, pst.r, table_at(pst, pst.pos));
    network.phase_shifters.push_back(pst);
    mark(controlled.phase_shifter, branch);
}

}  // namespace varnok
