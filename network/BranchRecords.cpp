// "BUS", "LINE", "TRANSFO", "TRFO", "SWITCH" and "NRTP" records, and the tap table.
//
// Per-unit conversions are on the network's base power S (MVA). A line's impedances are in ohm
// on the base impedance of its from bus, Zb = Vnom^2 / S; a transformer's are in percent on its
// own rated power Snom, so an impedance scales by S / Snom and a susceptance by Snom / S.
#include "network/InputParser.h"
#include "network/NumberText.h"

#include <cmath>
#include <cstddef>
#include <iostream>
#include <stdexcept>
#include <string>

namespace varnok {

namespace {

// Below this series impedance (pu) a branch would dominate the Jacobian's conditioning; its
// reactance is raised to the floor and the user told.
constexpr double kImpedanceFloor = 1e-5;
// Ratio fields of 0 (or nearly) mean "nominal".
constexpr double kZeroRatio = InputParser::zero_ratio;
// Degrees per radian as the input format has always used it.
constexpr double kDegreesPerRadian = 57.2957795;
// Rating of branches that cannot overload (switches, admittance branches), pu.
constexpr double kUnlimitedRating = 999999.0;
constexpr int kMaxTapPositions = InputParser::max_tap_positions;

using Record = InputParser::Record;

bool is_none(const std::string& field) { return field == " "; }

int status_of(double value) { return value != 0.0 ? 1 : 0; }

double ratio_of_percent(double pct) {
    const double ratio = pct / 100.0;
    return std::fabs(ratio) < kZeroRatio ? 1.0 : ratio;
}

// Raises a too-small impedance to the floor, keeping r and the sign of x. Returns true when x
// was changed. NaN never triggers it.
bool apply_impedance_floor(double r, double& x) {
    if (!(std::hypot(r, x) < kImpedanceFloor)) return false;
    x = std::copysign(kImpedanceFloor, x);
    return true;
}

// The same series admittance in the equations of both ends.
void set_series(Branch& branch, double r, double x) {
    const double z2 = r * r + x * x;
    branch.g_from = branch.g_to = r / z2;
    branch.b_from = branch.b_to = -x / z2;
}

void warn_reactance(const std::string& keyword, const std::string& name, double value,
                    const char* unit) {
    // one write per line, so that loads on other threads cannot split it
    std::cerr << ("varnok: " + keyword + " '" + name + "': reactance changed to " +
                  format_default(value) + unit + '\n');
}

[[noreturn]] void refuse(const std::string& text) { throw std::runtime_error("InputParser: " + text); }

// Transformer percentages are on the rated power: 0 would divide every one of them by zero.
[[noreturn]] void refuse_zero_rating(const char* keyword, const std::string& name) {
    refuse(std::string(keyword) + " '" + name + "' rated power is 0");
}

std::string count_text(const Record& record) { return std::to_string(record.fields.size()); }

// Both end buses, or refusal naming both as written.
void find_ends(const Record& record, const Network& network, Branch& branch, const char* keyword) {
    branch.from = network.find_bus(record.fields[1]);
    branch.to = network.find_bus(record.fields[2]);
    if (branch.from < 0 || branch.to < 0)
        refuse(std::string(keyword) + " '" + record.fields[0] + "' references unknown bus: " +
               record.fields[1] + " or " + record.fields[2]);
}

const Bus& bus_at(const Network& network, int index) {
    return network.buses.at(static_cast<std::size_t>(index));
}

// A transformer's series impedance and rating from percentages on its rated power.
struct TransformerImpedance {
    double r = 0.0;
    double x = 0.0;
    bool floored = false;
};

TransformerImpedance transformer_impedance(double r_pct, double x_pct, double snom, double sbase) {
    TransformerImpedance z;
    z.r = (r_pct / 100.0) * (sbase / snom);
    z.x = (x_pct / 100.0) * (sbase / snom);
    z.floored = apply_impedance_floor(z.r, z.x);
    return z;
}

int add_branch(Network& network, const Branch& branch, int index, int status_field,
               int ratio_field) {
    const int at = network.add_branch(branch);
    Branch& added = network.branches[static_cast<std::size_t>(at)];
    added.record = index;
    added.status_field = status_field;
    added.ratio_field = ratio_field;
    return at;
}

}  // namespace

void InputParser::translate_bus(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 5) refuse("BUS record needs at least 5 fields, got " + count_text(record));
    const double s = network.sbase;
    Bus bus;
    bus.name = f[0];
    bus.vnom_kv = parse_real(f[1]);
    bus.p_load = parse_real(f[2]) / s;
    bus.q_load = parse_real(f[3]) / s;
    bus.b_shunt = parse_real(f[4]) / s;
    if (f.size() >= 6) bus.q_shunt = parse_real(f[5]) / s;
    const int at = network.add_bus(bus);
    network.buses[static_cast<std::size_t>(at)].record = index;
}

void InputParser::translate_line(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 8) refuse("LINE record needs 8 fields, got " + count_text(record));
    Branch branch;
    branch.name = f[0];
    find_ends(record, network, branch, "LINE");
    const double r_ohm = parse_real(f[3]);
    const double x_ohm = parse_real(f[4]);
    const double b_us = parse_real(f[5]);
    const double rating_mva = parse_real(f[6]);
    const int status = parse_integer(f[7]);

    const double s = network.sbase;
    const double vnom = bus_at(network, branch.from).vnom_kv;
    if (vnom == 0.0) refuse("LINE '" + f[0] + "' from bus has a nominal voltage of 0");
    const double zb = vnom * vnom / s;
    const double r = r_ohm / zb;
    double x = x_ohm / zb;
    if (apply_impedance_floor(r, x)) warn_reactance("LINE", f[0], x * zb, " ohms");
    set_series(branch, r, x);
    branch.b_shunt_from = branch.b_shunt_to = b_us * 1e-6 * zb;
    branch.rating = rating_mva / s;
    branch.status = status_of(status);
    branch.kind = BRANCH_LINE;
    add_branch(network, branch, index, 7, -1);
}

void InputParser::translate_transfo(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 11) refuse("TRANSFO record needs 11 fields, got " + count_text(record));
    Branch branch;
    branch.name = f[0];
    find_ends(record, network, branch, "TRANSFO");
    const double r_pct = parse_real(f[3]);
    const double x_pct = parse_real(f[4]);
    const double b_from_pct = parse_real(f[5]);
    const double b_to_pct = parse_real(f[6]);
    const double ratio_pct = parse_real(f[7]);
    const double shift_deg = parse_real(f[8]);
    const double snom = parse_real(f[9]);
    const int status = parse_integer(f[10]);

    if (snom == 0.0) refuse_zero_rating("TRANSFO", f[0]);
    const double s = network.sbase;
    const TransformerImpedance z = transformer_impedance(r_pct, x_pct, snom, s);
    if (z.floored) warn_reactance("TRANSFO", f[0], z.x * 100.0 * snom / s, " %");
    set_series(branch, z.r, z.x);
    branch.b_shunt_from = (b_from_pct / 100.0) * (snom / s);
    branch.b_shunt_to = (b_to_pct / 100.0) * (snom / s);
    branch.ratio = ratio_of_percent(ratio_pct);
    branch.shift = shift_deg / kDegreesPerRadian;
    branch.rating = snom / s;
    branch.status = status_of(status);
    branch.is_transformer = true;
    branch.kind = BRANCH_TRANSFORMER;
    add_branch(network, branch, index, 10, 7);
}

void InputParser::translate_trfo(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 15) return;  // an incomplete TRFO is skipped: the format always allowed it
    Branch branch;
    branch.name = is_none(f[0]) ? f[1] + "-" + f[2] : f[0];
    branch.from = network.find_bus(f[1]);
    branch.to = network.find_bus(f[2]);
    if (branch.from < 0 || branch.to < 0) return;

    const double r_pct = parse_real(f[4]);
    const double x_pct = parse_real(f[5]);
    const double b_pct = parse_real(f[6]);
    const double ratio_pct = parse_real(f[7]);
    const double snom = parse_real(f[8]);
    const double s = network.sbase;
    const TransformerImpedance z = transformer_impedance(r_pct, x_pct, snom, s);
    if (z.floored) warn_reactance("TRFO", branch.name, z.x * 100.0 * snom / s, " %");
    set_series(branch, z.r, z.x);
    branch.b_shunt_from = (b_pct / 100.0) * (snom / s);
    branch.ratio = ratio_of_percent(ratio_pct);
    branch.rating = snom / s;
    branch.is_transformer = true;

    // A rated power of 0 is refused after the record's own refusals, as for "TRANSFO".
    if (is_none(f[3])) {
        branch.kind = BRANCH_TRANSFORMER;
        branch.status = status_of(parse_integer(f[14]));
        if (snom == 0.0) refuse_zero_rating("TRFO", branch.name);
        add_branch(network, branch, index, 14, 7);
        return;
    }

    branch.kind = BRANCH_REGULATED_TRANSFORMER;
    const int control = network.find_bus(f[3]);
    if (control < 0)
        refuse("TRFO '" + branch.name + "' references unknown control bus '" + f[3] + "'");
    if (control != branch.from && control != branch.to)
        refuse("TRFO '" + branch.name + "' control bus '" + f[3] +
               "' is not an ending bus of the transformer");
    const double first_pct = parse_real(f[9]);
    const double last_pct = parse_real(f[10]);
    const int positions = parse_integer(f[11]);
    const double deadband = parse_real(f[12]);
    const double vdes = parse_real(f[13]);
    if (positions < 2)
        refuse("TRFO '" + branch.name + "' NBPOS must be >= 2, got " + std::to_string(positions));
    if (positions > kMaxTapPositions)
        refuse("TRFO '" + branch.name + "' NBPOS must be <= " + std::to_string(kMaxTapPositions) +
               ", got " + std::to_string(positions));

    branch.status = status_of(parse_integer(f[14]));
    if (snom == 0.0) refuse_zero_rating("TRFO", branch.name);
    const int at = add_branch(network, branch, index, 14, 7);

    TapRegulator tap;
    tap.branch = at;
    tap.bus = control;
    tap.vdes = vdes;
    tap.deadband = deadband;
    build_tap_table(tap, first_pct, last_pct, positions, network.branches[static_cast<std::size_t>(at)]);
    if (const int zero = first_zero_ratio(tap.ratios); zero >= 0)
        refuse("TRFO '" + branch.name + "' tap table holds a zero ratio at position " +
               std::to_string(zero));
    network.tap_regulators.push_back(std::move(tap));
}

void InputParser::translate_switch(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() != 4) refuse("SWITCH record needs 4 fields, got " + count_text(record));
    if (network.find_branch(f[0]) >= 0) refuse("SWITCH '" + f[0] + "' duplicate branch name");
    Branch branch;
    branch.name = f[0];
    find_ends(record, network, branch, "SWITCH");
    if (bus_at(network, branch.from).vnom_kv != bus_at(network, branch.to).vnom_kv)
        refuse("SWITCH '" + f[0] + "' connects two buses with different nominal voltages");
    const double status = parse_real(f[3]);

    // A closed switch is a reactance at the impedance floor.
    branch.g_from = branch.g_to = 0.0;
    branch.b_from = branch.b_to = -1.0 / kImpedanceFloor;
    branch.rating = kUnlimitedRating;
    branch.status = status_of(status);
    branch.kind = BRANCH_SWITCH;
    add_branch(network, branch, index, 3, -1);
}

void InputParser::translate_nrtp(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() != 12) refuse("NRTP record needs 12 fields, got " + count_text(record));
    if (network.find_branch(f[0]) >= 0) refuse("NRTP '" + f[0] + "' duplicate branch name");
    Branch branch;
    branch.name = f[0];
    find_ends(record, network, branch, "NRTP");
    branch.g_from = parse_real(f[3]);
    branch.b_from = parse_real(f[4]);
    branch.g_to = parse_real(f[5]);
    branch.b_to = parse_real(f[6]);
    branch.g_shunt_from = parse_real(f[7]);
    branch.b_shunt_from = parse_real(f[8]);
    branch.g_shunt_to = parse_real(f[9]);
    branch.b_shunt_to = parse_real(f[10]);
    branch.status = status_of(parse_real(f[11]));
    branch.rating = kUnlimitedRating;
    branch.kind = BRANCH_NRTP;
    add_branch(network, branch, index, 11, -1);
}

int InputParser::first_zero_ratio(const std::vector<double>& ratios) {
    for (std::size_t k = 0; k < ratios.size(); ++k)
        if (std::fabs(ratios[k]) < zero_ratio) return static_cast<int>(k);
    return -1;
}

void InputParser::build_tap_table(TapRegulator& tap, double first_pct, double last_pct,
                                  int positions, Branch& branch) {
    // The callers refuse these with their own texts; this guards the table's indexing.
    if (positions < 2 || positions > kMaxTapPositions)
        refuse("tap table needs 2 to " + std::to_string(kMaxTapPositions) + " positions, got " +
               std::to_string(positions));

    const double base = first_pct / 100.0;
    const double span = last_pct - first_pct;
    const double steps = static_cast<double>(positions - 1);
    tap.ratios.assign(static_cast<std::size_t>(positions), 0.0);
    for (int k = 0; k < positions; ++k)
        tap.ratios[static_cast<std::size_t>(k)] = base + (span * (k / steps)) / 100.0;
    tap.ratio_increasing = tap.ratios[0] < tap.ratios[1];
    tap.pos_min = 0;
    tap.pos_max = positions - 1;

    // Nearest entry to the ratio as read; of equally near entries the lowest index.
    int start = 0;
    double best = 1e30;
    for (int k = 0; k < positions; ++k) {
        const double distance = std::fabs(tap.ratios[static_cast<std::size_t>(k)] - branch.ratio);
        if (distance < best) {
            best = distance;
            start = k;
        }
    }
    tap.pos = tap.pos_init = start;
    branch.ratio = tap.ratios[static_cast<std::size_t>(start)];
}

}  // namespace varnok
