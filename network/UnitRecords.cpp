// "GENER", "SVC", "SLACK", "LFRESV", "ZONE", "BUSPART" and "BRAPART" records.
//
// Powers in the file are MW and Mvar and become per unit on Network::sbase; voltage setpoints,
// magnitudes (pu) and angles (rad) are taken as written. Numbers are read as std::stod / std::stoi
// read them in the C locale, and their exceptions reach the caller.
#include "network/InputParser.h"
#include "network/NumberText.h"

#include <stdexcept>
#include <string>

namespace varnok {

namespace {

[[noreturn]] void refuse(const std::string& text) {
    throw std::runtime_error("InputParser: " + text);
}

std::string count_of(const InputParser::Record& record) {
    return std::to_string(record.fields.size());
}

// The active limits of a generator whose record gives none: wide enough never to bind.
constexpr double kUnlimitedMw = 99999.9;

// A reactive range of zero width would leave the limit switching nothing to hold, so a
// generator whose Qmin equals Qmax gets its lower limit 0.1 Mvar lower.
constexpr double kFlatRangeOffsetMvar = 0.1;

// Positions of the quantities of a "GENER" record; the 10- and 13-field layouts insert the
// regulated bus at f2 and shift everything after it by one.
struct GenerLayout {
    int reg_bus = -1;  // -1: the layout has no regulated bus
    int p = 2;
    int q = 3;
    int v = 4;
    int unused = 5;
    int q_min = 6;
    int q_max = 7;
    int p_min = -1;  // -1: no active limits and participation
    int p_max = -1;
    int participation = -1;
    int status = 8;
};

GenerLayout gener_layout(std::size_t fields) {
    GenerLayout layout;
    const int shift = (fields == 10 || fields == 13) ? 1 : 0;
    if (shift == 1) layout.reg_bus = 2;
    layout.p += shift;
    layout.q += shift;
    layout.v += shift;
    layout.unused += shift;
    layout.q_min += shift;
    layout.q_max += shift;
    if (fields >= 12) {
        layout.p_min = 8 + shift;
        layout.p_max = 9 + shift;
        layout.participation = 10 + shift;
    }
    layout.status = static_cast<int>(fields) - 1;
    return layout;
}

// Converts the numbers of a "GENER" record in field order into `gen`.
void read_gener_values(const InputParser::Record& record, const GenerLayout& layout, double sbase,
                       Generator& gen) {
    const auto& f = record.fields;
    const double p_mw = parse_real(f[layout.p]);
    const double q_mvar = parse_real(f[layout.q]);
    const double v_set = parse_real(f[layout.v]);
    static_cast<void>(parse_real(f[layout.unused]));  // meaningless here, yet must be a number
    const double q_min_mvar = parse_real(f[layout.q_min]);
    const double q_max_mvar = parse_real(f[layout.q_max]);
    gen.p = p_mw / sbase;
    gen.q = q_mvar / sbase;
    gen.v_set = v_set;
    gen.q_min = (q_min_mvar == q_max_mvar) ? (q_min_mvar - kFlatRangeOffsetMvar) / sbase
                                           : q_min_mvar / sbase;
    gen.q_max = q_max_mvar / sbase;
    if (layout.p_min >= 0) {
        gen.p_min = parse_real(f[layout.p_min]) / sbase;
        gen.p_max = parse_real(f[layout.p_max]) / sbase;
        gen.participation = parse_real(f[layout.participation]);
        gen.has_p_limits = true;
    } else {
        gen.p_min = -kUnlimitedMw / sbase;
        gen.p_max = kUnlimitedMw / sbase;
        gen.has_p_limits = false;
        gen.participation = 0.0;
    }
    gen.status = parse_integer(f[layout.status]);
}

// A voltage-controlling generator makes its own bus PV at the setpoint; the angle stays.
void apply_voltage_control(Generator& gen, Bus& bus) {
    if (gen.v_set != 0.0 && gen.status == 1) {
        gen.mode = GEN_VOLTAGE_CONTROL;
        bus.type = PV;
        bus.type_init = PV;
        bus.v = gen.v_set;
        bus.v_init = gen.v_set;
    } else {
        gen.mode = GEN_PQ;
    }
}

// Adds `gen`, or redefines the generator of the same name in place. A bus holds one unit.
int place_generator(Network& network, const Generator& gen, const std::string& bus_name) {
    const int existing = network.find_gen(gen.name);
    const Bus& bus = network.buses[gen.bus];
    if (bus.gen != -1 && bus.gen != existing) refuse("More than one generator at bus " + bus_name);
    if (bus.svc != -1) refuse("Both a generator and an SVC at bus " + bus_name);
    if (existing < 0) return network.add_generator(gen);
    const int former_bus = network.generators[existing].bus;
    if (former_bus != gen.bus && former_bus >= 0 &&
        former_bus < static_cast<int>(network.buses.size()) &&
        network.buses[former_bus].gen == existing) {
        network.buses[former_bus].gen = -1;
    }
    network.generators[existing] = gen;
    return existing;
}

// Adds `svc`, or redefines the compensator of the same name in place. A bus holds one unit.
int place_svc(Network& network, const SVC& svc, const std::string& bus_name) {
    const int existing = network.find_svc(svc.name);
    const Bus& bus = network.buses[svc.bus];
    if (bus.svc != -1 && bus.svc != existing) refuse("More than one SVC at bus " + bus_name);
    if (bus.gen != -1) refuse("Both a generator and an SVC at bus " + bus_name);
    if (existing < 0) return network.add_svc(svc);
    const int former_bus = network.svcs[existing].bus;
    if (former_bus != svc.bus && former_bus >= 0 &&
        former_bus < static_cast<int>(network.buses.size()) &&
        network.buses[former_bus].svc == existing) {
        network.buses[former_bus].svc = -1;
    }
    network.svcs[existing] = svc;
    return existing;
}

int zone_named(Network& network, const std::string& name) {
    const int found = network.find_zone(name);
    if (found >= 0) return found;
    Zone zone;
    zone.name = name;
    return network.add_zone(zone);
}

int cut_named(Network& network, const std::string& name) {
    const int found = network.find_cut(name);
    if (found >= 0) return found;
    Cut cut;
    cut.name = name;
    return network.add_cut(cut);
}

// A bus held by several zones reports the first that took it.
void add_zone_member(Network& network, int zone, int bus, double p_factor, double q_factor) {
    network.zones[zone].members.push_back(ZoneBusMember{bus, p_factor, q_factor});
    if (network.buses[bus].zone == -1) network.buses[bus].zone = zone;
}

}  // namespace

void InputParser::translate_gener(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 9) refuse("GENER record needs at least 9 fields, got " + count_of(record));

    Generator gen;
    gen.name = f[0];
    const int bus = network.find_bus(f[1]);
    if (bus < 0) refuse("GENER references unknown bus: " + f[1]);
    gen.bus = bus;
    gen.reg_bus = bus;

    if (f.size() != 9 && f.size() != 10 && f.size() != 12 && f.size() != 13)
        refuse("GENER record has unsupported field count: " + count_of(record));
    const GenerLayout layout = gener_layout(f.size());
    if (layout.reg_bus >= 0) {
        const int reg_bus = network.find_bus(f[layout.reg_bus]);
        if (reg_bus >= 0) gen.reg_bus = reg_bus;
    }

    read_gener_values(record, layout, network.sbase, gen);
    apply_voltage_control(gen, network.buses[bus]);

    gen.record = index;
    gen.status_field = layout.status;
    gen.p_field = layout.p;
    gen.q_field = layout.q;
    gen.v_field = layout.v;
    const int at = place_generator(network, gen, f[1]);
    network.buses[bus].gen = at;
}

void InputParser::translate_svc(const Record& record, Network& network, int index) {
    const auto& f = record.fields;
    if (f.size() < 10) refuse("SVC record needs 10 fields, got " + count_of(record));

    SVC svc;
    svc.name = f[0];
    const int bus = network.find_bus(f[1]);
    const int sense_bus = network.find_bus(f[2]);
    if (bus < 0) refuse("SVC '" + f[0] + "' references unknown bus: " + f[1]);
    if (sense_bus < 0) refuse("SVC '" + f[0] + "' references unknown sensing bus: " + f[2]);
    svc.bus = bus;
    svc.sense_bus = sense_bus;

    const double sbase = network.sbase;
    svc.gain_scale = parse_real(f[5]);
    svc.b_max = parse_real(f[6]) / sbase;
    svc.b_min = parse_real(f[7]) / sbase;
    svc.gain = parse_real(f[8]) * svc.gain_scale / sbase;
    const int status = parse_integer(f[9]);

    if (status != 0) {
        // The setpoint and the output are read only for a compensator in service.
        svc.status = 1;
        svc.v_set = parse_real(f[3]);
        svc.q = parse_real(f[4]) / sbase;
        svc.q_init = svc.q;
        svc.mode = svc.v_set != 0.0 ? SVC_VOLTAGE_CONTROL : SVC_FIXED_Q;
    } else {
        svc.status = 0;
        svc.v_set = 0.0;
        svc.q = 0.0;
        svc.q_init = 0.0;
        svc.mode = SVC_FIXED_Q;
    }

    svc.record = index;
    svc.status_field = 9;
    const int at = place_svc(network, svc, f[1]);
    network.buses[bus].svc = at;
}

void InputParser::translate_slack(const Record& record, Network& network) {
    const auto& f = record.fields;
    if (f.empty()) refuse("SLACK record has no bus name");
    const int bus = network.find_bus(f[0]);
    if (bus < 0) refuse("SLACK references unknown bus: " + f[0]);
    network.slack_bus = bus;
    network.buses[bus].type = SLACK;
    network.buses[bus].type_init = SLACK;
}

void InputParser::translate_lfresv(const Record& record, Network& network) {
    const auto& f = record.fields;
    if (f.size() < 3) refuse("LFRESV record needs at least 3 fields, got " + count_of(record));
    const int bus = network.find_bus(f[0]);
    if (bus < 0) refuse("LFRESV references unknown bus: " + f[0]);
    const double v = parse_real(f[1]);
    const double angle = parse_real(f[2]);
    Bus& target = network.buses[bus];
    target.v = v;
    target.v_init = v;
    target.angle = angle;
    target.angle_init = angle;
}

void InputParser::translate_zone(const Record& record, Network& network) {
    const auto& f = record.fields;
    if (f.empty()) return;
    const int zone = zone_named(network, f[0]);
    for (std::size_t i = 1; i < f.size(); ++i) {
        if (f[i].find_first_of("-#") != std::string::npos) continue;
        const int bus = network.find_bus(f[i]);
        if (bus < 0) continue;
        add_zone_member(network, zone, bus, 0.0, 0.0);
    }
}

void InputParser::translate_buspart(const Record& record, Network& network) {
    const auto& f = record.fields;
    if (f.size() < 4) return;
    const double p_factor = parse_real(f[2]);
    const double q_factor = parse_real(f[3]);
    const int bus = network.find_bus(f[1]);
    if (bus < 0) return;
    const int zone = zone_named(network, f[0]);
    add_zone_member(network, zone, bus, p_factor, q_factor);
}

void InputParser::translate_brapart(const Record& record, Network& network) {
    const auto& f = record.fields;
    if (f.size() != 4) refuse("BRAPART record needs 4 fields, got " + count_of(record));
    const int branch = network.find_branch(f[1]);
    if (branch < 0) refuse("BRAPART '" + f[0] + "' references unknown branch: " + f[1]);
    const int bus = network.find_bus(f[2]);
    if (bus < 0) refuse("BRAPART '" + f[0] + "' references unknown bus: " + f[2]);
    const Branch& br = network.branches[branch];
    if (bus != br.from && bus != br.to)
        refuse("BRAPART '" + f[0] + "': bus '" + f[2] + "' is not an endpoint of branch '" + f[1] +
               "'");
    const int sign = parse_integer(f[3]);
    if (sign != 1 && sign != -1)
        refuse("BRAPART '" + f[0] + "' sign must be +1 or -1, got " + f[3]);
    const int cut = cut_named(network, f[0]);
    network.cuts[cut].members.push_back(CutBranchMember{branch, bus, sign});
}

}  // namespace varnok
