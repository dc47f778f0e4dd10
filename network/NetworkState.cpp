// Snapshot and reset, island pruning and the write-back into the raw records.
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "network/Network.h"

namespace varnok {

namespace {

bool valid_index(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// Entries restored for one kind: those that exist both now and in the snapshot (elements added
// after the save keep their state).
std::size_t restorable(std::size_t element_count, std::size_t saved_count) {
    return element_count < saved_count ? element_count : saved_count;
}

// The ratio of a regulated transformer follows its tap table at the tap position.
void apply_tap_ratio(Network& network, const TapRegulator& tap) {
    if (!valid_index(tap.branch, network.branches.size())) return;
    if (!valid_index(tap.pos, tap.ratios.size())) return;
    network.branches[static_cast<std::size_t>(tap.branch)].ratio =
        tap.ratios[static_cast<std::size_t>(tap.pos)];
}

// A phase shifter's branch follows its tables at the current position; a position that the
// tables cannot place leaves the branch as it is.
void apply_pst_tables(Network& network, const PhaseShifter& pst) {
    if (!valid_index(pst.branch, network.branches.size())) return;
    PhaseShifterSetting setting;
    if (!phase_shifter_setting(pst, pst.pos, setting)) return;
    apply_phase_shifter_setting(network.branches[static_cast<std::size_t>(pst.branch)], pst,
                                setting);
}

void reset_from_snapshot(Network& network, const Network::NetworkSnapshot& saved) {
    const std::size_t n_bus = restorable(network.buses.size(), saved.bus_v.size());
    for (std::size_t i = 0; i < n_bus; ++i) {
        Bus& bus = network.buses[i];
        bus.v = saved.bus_v[i];
        bus.angle = saved.bus_angle[i];
        bus.p_load = saved.bus_p_load[i];
        bus.q_load = saved.bus_q_load[i];
        bus.b_shunt = saved.bus_b_shunt[i];
        bus.q_shunt = saved.bus_q_shunt[i];
        bus.type = saved.bus_type[i];
    }
    const std::size_t n_branch = restorable(network.branches.size(), saved.branch_status.size());
    for (std::size_t i = 0; i < n_branch; ++i) network.branches[i].status = saved.branch_status[i];

    const std::size_t n_gen = restorable(network.generators.size(), saved.gen_status.size());
    for (std::size_t i = 0; i < n_gen; ++i) {
        Generator& gen = network.generators[i];
        gen.status = saved.gen_status[i];
        gen.mode = saved.gen_mode[i];
        gen.p = saved.gen_p[i];
        gen.q = saved.gen_q[i];
        gen.v_set = saved.gen_v_set[i];
    }
    const std::size_t n_svc = restorable(network.svcs.size(), saved.svc_status.size());
    for (std::size_t i = 0; i < n_svc; ++i) {
        network.svcs[i].status = saved.svc_status[i];
        network.svcs[i].mode = saved.svc_mode[i];
    }
    const std::size_t n_tap = restorable(network.tap_regulators.size(), saved.tap_pos.size());
    for (std::size_t i = 0; i < n_tap; ++i) {
        TapRegulator& tap = network.tap_regulators[i];
        tap.pos = saved.tap_pos[i];
        apply_tap_ratio(network, tap);
    }
    const std::size_t n_pst = restorable(network.phase_shifters.size(), saved.pst_pos.size());
    for (std::size_t i = 0; i < n_pst; ++i) {
        PhaseShifter& pst = network.phase_shifters[i];
        pst.pos = saved.pst_pos[i];
        apply_pst_tables(network, pst);
    }
}

// Without a snapshot only what the reader itself keeps can be restored: the initial voltages
// and types, the voltage control of units that have a setpoint, and the initial tap positions.
void reset_from_initial_values(Network& network) {
    for (Bus& bus : network.buses) {
        bus.v = bus.v_init;
        bus.angle = bus.angle_init;
        bus.type = bus.type_init;
    }
    for (Generator& gen : network.generators) {
        if (gen.v_set != 0.0 && gen.status == 1) gen.mode = GEN_VOLTAGE_CONTROL;
    }
    for (TapRegulator& tap : network.tap_regulators) {
        tap.pos = tap.pos_init;
        apply_tap_ratio(network, tap);
    }
    for (PhaseShifter& pst : network.phase_shifters) {
        pst.pos = pst.pos_init;
        apply_pst_tables(network, pst);
    }
}

// Buses reachable from `slack` through branches whose status is not 0, never entering a bus that
// an earlier pruning made ISOLATED: the solver holds such a bus at 0 V, so a branch reconnected to
// it would be a short to ground through its series impedance. A generator connected there makes
// the bus PV again and so opens the way. The adjacency is built once, in compressed rows, so the
// search is linear in buses plus branches.
std::vector<char> reachable_from(const Network& network, int slack) {
    const std::size_t n_bus = network.buses.size();
    std::vector<std::size_t> row_start(n_bus + 1, 0);
    auto joins = [&](const Branch& br) {
        return br.status != 0 && valid_index(br.from, n_bus) && valid_index(br.to, n_bus);
    };
    for (const Branch& br : network.branches) {
        if (!joins(br)) continue;
        ++row_start[static_cast<std::size_t>(br.from) + 1];
        ++row_start[static_cast<std::size_t>(br.to) + 1];
    }
    for (std::size_t i = 0; i < n_bus; ++i) row_start[i + 1] += row_start[i];
    std::vector<int> neighbours(row_start[n_bus]);
    std::vector<std::size_t> fill(row_start.begin(), row_start.end() - 1);
    for (const Branch& br : network.branches) {
        if (!joins(br)) continue;
        neighbours[fill[static_cast<std::size_t>(br.from)]++] = br.to;
        neighbours[fill[static_cast<std::size_t>(br.to)]++] = br.from;
    }

    std::vector<char> reached(n_bus, 0);
    std::vector<int> queue;
    queue.reserve(n_bus);
    reached[static_cast<std::size_t>(slack)] = 1;
    queue.push_back(slack);
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t bus = static_cast<std::size_t>(queue[head]);
        for (std::size_t k = row_start[bus]; k < row_start[bus + 1]; ++k) {
            const std::size_t other = static_cast<std::size_t>(neighbours[k]);
            if (reached[other] || network.buses[other].type == ISOLATED) continue;
            reached[other] = 1;
            queue.push_back(neighbours[k]);
        }
    }
    return reached;
}

bool unreached_bus(const std::vector<char>& reached, int bus) {
    return valid_index(bus, reached.size()) && !reached[static_cast<std::size_t>(bus)];
}

// A number below the smallest normal double is written as 0: the reader refuses such a text as
// out of range, so a dump holding one would not load again. Only a solve that did not converge
// or a change of a few 1e-310 leaves one in the state.
std::string number_text(double value) {
    if (value != 0.0 && std::fabs(value) < std::numeric_limits<double>::min()) return "0";
    return fmt::format("{:.9g}", value);
}

// Branches and compensators count any non-zero status as in service.
const char* status_text(int status) { return status != 0 ? "1" : "0"; }

}  // namespace

bool phase_shifter_setting(const PhaseShifter& pst, int position, PhaseShifterSetting& setting) {
    std::size_t n = pst.positions.size();
    n = pst.x.size() < n ? pst.x.size() : n;
    n = pst.ratios.size() < n ? pst.ratios.size() : n;
    n = pst.shifts.size() < n ? pst.shifts.size() : n;
    for (std::size_t k = 0; k < n; ++k) {
        if (pst.positions[k] == position) {
            setting = {pst.x[k], pst.ratios[k], pst.shifts[k]};
            return true;
        }
    }
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const int lo = pst.positions[k];
        const int hi = pst.positions[k + 1];
        if (lo < position && position < hi) {
            // differences taken in double: tap numbers far apart would overflow an int
            const double h = (static_cast<double>(position) - lo) / (static_cast<double>(hi) - lo);
            setting.x = pst.x[k] + (pst.x[k + 1] - pst.x[k]) * h;
            setting.ratio = pst.ratios[k] + (pst.ratios[k + 1] - pst.ratios[k]) * h;
            setting.shift = pst.shifts[k] + (pst.shifts[k + 1] - pst.shifts[k]) * h;
            return true;
        }
    }
    return false;
}

void apply_phase_shifter_setting(Branch& branch, const PhaseShifter& pst,
                                 const PhaseShifterSetting& setting) {
    branch.ratio = setting.ratio;
    branch.shift = setting.shift;
    const double d = pst.r * pst.r + setting.x * setting.x;
    if (d > 1e-30) {
        branch.g_from = pst.r / d;
        branch.g_to = pst.r / d;
        branch.b_from = -setting.x / d;
        branch.b_to = -setting.x / d;
    }
}

void Network::save_initial_snapshot() {
    NetworkSnapshot s;
    s.bus_v.reserve(buses.size());
    s.bus_angle.reserve(buses.size());
    s.bus_p_load.reserve(buses.size());
    s.bus_q_load.reserve(buses.size());
    s.bus_b_shunt.reserve(buses.size());
    s.bus_q_shunt.reserve(buses.size());
    s.bus_type.reserve(buses.size());
    for (const Bus& bus : buses) {
        s.bus_v.push_back(bus.v);
        s.bus_angle.push_back(bus.angle);
        s.bus_p_load.push_back(bus.p_load);
        s.bus_q_load.push_back(bus.q_load);
        s.bus_b_shunt.push_back(bus.b_shunt);
        s.bus_q_shunt.push_back(bus.q_shunt);
        s.bus_type.push_back(bus.type);
    }
    s.branch_status.reserve(branches.size());
    for (const Branch& br : branches) s.branch_status.push_back(br.status);
    s.gen_status.reserve(generators.size());
    s.gen_mode.reserve(generators.size());
    s.gen_p.reserve(generators.size());
    s.gen_q.reserve(generators.size());
    s.gen_v_set.reserve(generators.size());
    for (const Generator& gen : generators) {
        s.gen_status.push_back(gen.status);
        s.gen_mode.push_back(gen.mode);
        s.gen_p.push_back(gen.p);
        s.gen_q.push_back(gen.q);
        s.gen_v_set.push_back(gen.v_set);
    }
    s.svc_status.reserve(svcs.size());
    s.svc_mode.reserve(svcs.size());
    for (const SVC& svc : svcs) {
        s.svc_status.push_back(svc.status);
        s.svc_mode.push_back(svc.mode);
    }
    s.tap_pos.reserve(tap_regulators.size());
    for (const TapRegulator& tap : tap_regulators) s.tap_pos.push_back(tap.pos);
    s.pst_pos.reserve(phase_shifters.size());
    for (const PhaseShifter& pst : phase_shifters) s.pst_pos.push_back(pst.pos);
    initial_snapshot = std::move(s);
}

void Network::reset_to_initial() {
    if (initial_snapshot)
        reset_from_snapshot(*this, *initial_snapshot);
    else
        reset_from_initial_values(*this);
}

std::vector<char> Network::buses_reached_from_slack() const {
    // A slack index outside the buses is treated as no slack bus: nothing can be judged
    // unreachable without a reference.
    if (buses.empty() || !valid_index(slack_bus, buses.size())) return {};
    return reachable_from(*this, slack_bus);
}

std::vector<std::string> Network::prune_islands(std::ostream* report, double* lost_p) {
    if (lost_p) *lost_p = 0.0;
    std::vector<std::string> pruned;
    const std::vector<char> reached = buses_reached_from_slack();
    if (reached.empty()) return pruned;

    // Lost power: generation minus load of the pruned part, pu; positive means generation lost.
    double lost = 0.0;
    for (std::size_t i = 0; i < buses.size(); ++i) {
        if (reached[i]) continue;
        Bus& bus = buses[i];
        pruned.push_back(bus.name);
        bus.type = ISOLATED;
        lost -= bus.p_load;
        bus.p_load = 0.0;
        bus.q_load = 0.0;
        bus.b_shunt = 0.0;
        bus.q_shunt = 0.0;
    }
    if (report && !pruned.empty()) {
        *report << "\n Network not connected; the following buses are discarded :\n";
        for (const std::string& name : pruned) *report << "  " << name << "\n";
        *report << "\n";
    }
    for (Generator& gen : generators) {
        if (!unreached_bus(reached, gen.bus)) continue;
        if (gen.status == 1) lost += gen.p;
        gen.status = 0;
    }
    for (SVC& svc : svcs) {
        if (unreached_bus(reached, svc.bus)) svc.status = 0;
    }
    for (Branch& br : branches) {
        if (unreached_bus(reached, br.from)) br.status = 0;
        if (unreached_bus(reached, br.to)) br.status = 0;
    }
    if (lost_p) *lost_p = lost;
    return pruned;
}

void Network::update_record_field(int record, int field, const std::string& value) {
    if (!valid_index(record, raw_records.size())) return;
    std::vector<std::string>& fields = raw_records[static_cast<std::size_t>(record)].fields;
    if (!valid_index(field, fields.size())) return;
    fields[static_cast<std::size_t>(field)] = value;
}

void Network::update_records() {
    const double s = sbase;
    for (const Branch& br : branches) {
        if (br.record < 0) continue;
        update_record_field(br.record, br.status_field, status_text(br.status));
        if (br.ratio_field >= 0)
            update_record_field(br.record, br.ratio_field, number_text(br.ratio * 100.0));
    }
    for (const Bus& bus : buses) {
        if (bus.record < 0) continue;
        // Fields 2 to 4 of "BUS": load MW, load Mvar, shunt Mvar at 1 pu; the constant reactive
        // injection of field 5 keeps its text.
        update_record_field(bus.record, 2, number_text(bus.p_load * s));
        update_record_field(bus.record, 3, number_text(bus.q_load * s));
        update_record_field(bus.record, 4, number_text(bus.b_shunt * s));
    }
    for (const Generator& gen : generators) {
        if (gen.record < 0) continue;
        update_record_field(gen.record, gen.p_field, number_text(gen.p * s));
        update_record_field(gen.record, gen.q_field, number_text(gen.q * s));
        // A unit without a setpoint keeps "0" there: a voltage in that field would make a
        // fixed-output unit voltage-controlling when the dump is read back.
        if (gen.v_set == 0.0)
            update_record_field(gen.record, gen.v_field, "0");
        else if (valid_index(gen.bus, buses.size()))
            update_record_field(gen.record, gen.v_field,
                                number_text(buses[static_cast<std::size_t>(gen.bus)].v));
        // The status integer as held: only 1 is in service, so 2 must not come back as "1".
        update_record_field(gen.record, gen.status_field, fmt::format("{}", gen.status));
    }
    for (const SVC& svc : svcs) {
        if (svc.record < 0) continue;
        // Only a compensator in service that is controlling keeps a setpoint; "0." reads back as
        // none. One out of service is written as the reader takes any such record: no setpoint
        // and no output, whatever it held when it was tripped.
        const bool in_service = svc.status != 0;
        const bool controlling = in_service && svc.mode == SVC_VOLTAGE_CONTROL;
        update_record_field(svc.record, 3, controlling ? number_text(svc.v_set) : "0.");
        update_record_field(svc.record, 4, number_text(in_service ? svc.q * s : 0.0));
        update_record_field(svc.record, svc.status_field, status_text(svc.status));
    }
    for (std::size_t i = 0; i < buses.size(); ++i) {
        Bus& bus = buses[i];
        // A bus whose name now finds a later bus of that name gets none: read back, the record
        // would go to that bus, and the next write-back would append another.
        const int named = find_bus(bus.name);
        if (bus.lfresv_record < 0 && named >= 0 && named != static_cast<int>(i)) continue;
        if (bus.lfresv_record < 0) {
            RawRecord lfresv;
            lfresv.keyword = "LFRESV";
            lfresv.fields = {bus.name, number_text(bus.v), number_text(bus.angle)};
            const int index = static_cast<int>(raw_records.size());
            raw_records.push_back(std::move(lfresv));
            bus.lfresv_record = index;
        } else {
            update_record_field(bus.lfresv_record, 1, number_text(bus.v));
            update_record_field(bus.lfresv_record, 2, number_text(bus.angle));
        }
    }
    for (const PhaseShifter& pst : phase_shifters) {
        if (pst.record < 0 || pst.sign_field < 0) continue;
        update_record_field(pst.record, pst.sign_field, fmt::format("{}", pst.sign));
    }
}

}  // namespace varnok
