// Contingency analysis: N-1 list, snapshot, the study loop and its screens, the report.
#include "studies/ContingencyAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <new>

#include <fmt/format.h>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "studies/Redispatch.h"

namespace varnok {

namespace {

bool valid_index(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// The snapshot writers cover the elements that exist now and in the snapshot (the same ones
// within a run), so that a snapshot of another network cannot write out of bounds.
std::size_t common_count(std::size_t elements, std::size_t saved) {
    return std::min(elements, saved);
}

void put_voltage(Bus& bus, const ContingencyAnalysis::NetworkSnapshot& s, std::size_t i) {
    bus.v = s.bus_v[i];
    bus.angle = s.bus_angle[i];
}

// Ratio, shift and series admittance: what tap changers and phase shifters move.
void put_series_terms(Branch& br, const ContingencyAnalysis::NetworkSnapshot& s, std::size_t i) {
    br.ratio = s.branch_ratio[i];
    br.shift = s.branch_shift[i];
    br.g_from = s.branch_g_from[i];
    br.b_from = s.branch_b_from[i];
    br.g_to = s.branch_g_to[i];
    br.b_to = s.branch_b_to[i];
}

void put_positions(Network& network, const ContingencyAnalysis::NetworkSnapshot& s) {
    const std::size_t n_tap = common_count(network.tap_regulators.size(), s.tap_pos.size());
    for (std::size_t i = 0; i < n_tap; ++i) network.tap_regulators[i].pos = s.tap_pos[i];
    const std::size_t n_pst = common_count(network.phase_shifters.size(), s.pst_pos.size());
    for (std::size_t i = 0; i < n_pst; ++i) network.phase_shifters[i].pos = s.pst_pos[i];
}

// Puts the saved state back when it leaves scope, however the run ends.
class RestoreOnExit {
public:
    RestoreOnExit(const ContingencyAnalysis& analysis, Network& network,
                  const ContingencyAnalysis::NetworkSnapshot& snapshot)
        : analysis_(analysis), network_(network), snapshot_(snapshot) {}
    ~RestoreOnExit() { analysis_.restore(network_, snapshot_); }
    RestoreOnExit(const RestoreOnExit&) = delete;
    RestoreOnExit& operator=(const RestoreOnExit&) = delete;

private:
    const ContingencyAnalysis& analysis_;
    Network& network_;
    const ContingencyAnalysis::NetworkSnapshot& snapshot_;
};

// A fresh solver for each contingency, so that its pattern fits the network as the outage left
// it: the run's one solver, renewed, which is a fresh solver that takes over the memory of the
// last one instead of giving it back and faulting it in again. A solve that throws counts as
// not converged, but for memory exhaustion, which ends the run.
bool solve_fresh(Network& network, const SolverParams& params, PowerFlowSolver& solver) {
    try {
        solver.renew();
        return solver.solve(network, params, nullptr, {}, {}).converged;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

void add_violation(ContingencyAnalysis::Result& result, std::string text) {
    result.accepted = false;
    result.violations.push_back(std::move(text));
}

// A step that could not be applied: its message goes to the log with a leading blank and a
// newline, and as it is to the violations, so that an outage mistyped in the file is never
// reported as one the network survives.
void unapplied_step(std::ostream* log, ContingencyAnalysis::Result& result, std::string text) {
    if (log) *log << ' ' << text << '\n';
    add_violation(result, std::move(text));
}

// The larger apparent power of the two ends of a branch, pu.
double end_apparent_power(const BranchFlow& flow) {
    const double s_from = std::hypot(flow.p_from, flow.q_from);
    const double s_to = std::hypot(flow.p_to, flow.q_to);
    return s_from < s_to ? s_to : s_from;
}

}  // namespace

std::vector<Contingency> ContingencyAnalysis::generate_n1(const Network& network, bool branches,
                                                          bool generators, bool svcs) const {
    std::vector<Contingency> list;
    auto add = [&](const char* prefix, int kind, const std::string& name) {
        list.push_back(Contingency{prefix + name, {ContingencyStep{kind, name, 0.0}}});
    };
    if (branches)
        for (const Branch& br : network.branches)
            if (br.status == 1) add("BR: ", ContingencyStep::TRIP_BRANCH, br.name);
    if (generators)
        for (const Generator& gen : network.generators)
            if (gen.status == 1 && gen.bus != network.slack_bus)
                add("GN: ", ContingencyStep::TRIP_GENERATOR, gen.name);
    if (svcs)
        for (const SVC& svc : network.svcs)
            if (svc.status == 1) add("SV: ", ContingencyStep::TRIP_SVC, svc.name);
    return list;
}

ContingencyAnalysis::NetworkSnapshot ContingencyAnalysis::save(const Network& network) const {
    NetworkSnapshot s;
    for (const Bus& bus : network.buses) {
        s.bus_v.push_back(bus.v);
        s.bus_angle.push_back(bus.angle);
        s.bus_type.push_back(bus.type);
        s.bus_type_init.push_back(bus.type_init);
        s.bus_p_load.push_back(bus.p_load);
        s.bus_q_load.push_back(bus.q_load);
        s.bus_b_shunt.push_back(bus.b_shunt);
        s.bus_q_shunt.push_back(bus.q_shunt);
    }
    for (const Branch& br : network.branches) {
        s.branch_status.push_back(br.status);
        s.branch_ratio.push_back(br.ratio);
        s.branch_shift.push_back(br.shift);
        s.branch_g_from.push_back(br.g_from);
        s.branch_b_from.push_back(br.b_from);
        s.branch_g_to.push_back(br.g_to);
        s.branch_b_to.push_back(br.b_to);
    }
    for (const Generator& gen : network.generators) {
        s.gen_status.push_back(gen.status);
        s.gen_mode.push_back(gen.mode);
        s.gen_p.push_back(gen.p);
        s.gen_q.push_back(gen.q);
        s.gen_v_set.push_back(gen.v_set);
    }
    for (const SVC& svc : network.svcs) {
        s.svc_status.push_back(svc.status);
        s.svc_mode.push_back(svc.mode);
        s.svc_q.push_back(svc.q);
    }
    for (const TapRegulator& tap : network.tap_regulators) s.tap_pos.push_back(tap.pos);
    for (const PhaseShifter& pst : network.phase_shifters) s.pst_pos.push_back(pst.pos);
    return s;
}

void ContingencyAnalysis::restore(Network& network, const NetworkSnapshot& s) const {
    const std::size_t n_bus = common_count(network.buses.size(), s.bus_v.size());
    for (std::size_t i = 0; i < n_bus; ++i) {
        Bus& bus = network.buses[i];
        put_voltage(bus, s, i);
        bus.type = s.bus_type[i];
        bus.type_init = s.bus_type_init[i];
        bus.p_load = s.bus_p_load[i];
        bus.q_load = s.bus_q_load[i];
        bus.b_shunt = s.bus_b_shunt[i];
        bus.q_shunt = s.bus_q_shunt[i];
    }
    const std::size_t n_branch = common_count(network.branches.size(), s.branch_status.size());
    for (std::size_t i = 0; i < n_branch; ++i) {
        Branch& br = network.branches[i];
        br.status = s.branch_status[i];
        put_series_terms(br, s, i);
    }
    const std::size_t n_gen = common_count(network.generators.size(), s.gen_status.size());
    for (std::size_t i = 0; i < n_gen; ++i) {
        Generator& gen = network.generators[i];
        gen.status = s.gen_status[i];
        gen.mode = s.gen_mode[i];
        gen.p = s.gen_p[i];
        gen.q = s.gen_q[i];
        gen.v_set = s.gen_v_set[i];
    }
    const std::size_t n_svc = common_count(network.svcs.size(), s.svc_status.size());
    for (std::size_t i = 0; i < n_svc; ++i) {
        SVC& svc = network.svcs[i];
        svc.status = s.svc_status[i];
        svc.mode = s.svc_mode[i];
        svc.q = s.svc_q[i];
    }
    put_positions(network, s);
}

void ContingencyAnalysis::reset_voltages_and_taps(Network& network,
                                                  const NetworkSnapshot& s) const {
    const std::size_t n_bus = common_count(network.buses.size(), s.bus_v.size());
    for (std::size_t i = 0; i < n_bus; ++i) put_voltage(network.buses[i], s, i);
    const std::size_t n_branch = common_count(network.branches.size(), s.branch_ratio.size());
    for (std::size_t i = 0; i < n_branch; ++i) put_series_terms(network.branches[i], s, i);
    put_positions(network, s);
}

double ContingencyAnalysis::apply_steps(Network& network, const Contingency& contingency,
                                        std::ostream* log, Result& result) const {
    double lost = 0.0;
    for (const ContingencyStep& step : contingency.steps) {
        switch (step.kind) {
            case ContingencyStep::TRIP_BRANCH: {
                const int b = network.find_branch(step.name);
                if (b < 0)
                    unapplied_step(log, result,
                                   "unknown branch in contingency description : " + step.name);
                else
                    network.branches[static_cast<std::size_t>(b)].status = 0;
                break;
            }
            case ContingencyStep::TRIP_GENERATOR: {
                const int g = network.find_gen(step.name);
                if (g < 0) {
                    unapplied_step(log, result,
                                   "unknown generator in contingency description : " + step.name);
                    break;
                }
                Generator& gen = network.generators[static_cast<std::size_t>(g)];
                if (gen.bus == network.slack_bus) {
                    unapplied_step(log, result, "Slack generator must not be tripped !");
                    break;
                }
                // Only a unit in service loses output; a second trip of it loses nothing more.
                if (gen.status == 1) lost += gen.p;
                gen.status = 0;
                if (valid_index(gen.bus, network.buses.size())) {
                    Bus& bus = network.buses[static_cast<std::size_t>(gen.bus)];
                    if (bus.type == PV) bus.type = PQ;
                }
                break;
            }
            case ContingencyStep::TRIP_SVC: {
                const int c = network.find_svc(step.name);
                if (c < 0)
                    unapplied_step(log, result,
                                   "unknown SVC in contingency description : " + step.name);
                else
                    network.svcs[static_cast<std::size_t>(c)].status = 0;
                break;
            }
            case ContingencyStep::SHUNT_COMPENSATION: {
                const int b = network.find_bus(step.name);
                // Mvar at 1 pu voltage become a per-unit susceptance; positive injects.
                if (b < 0)
                    unapplied_step(log, result,
                                   "unknown bus in contingency description : " + step.name);
                else
                    network.buses[static_cast<std::size_t>(b)].b_shunt +=
                        step.value / network.sbase;
                break;
            }
            case ContingencyStep::UNREADABLE:
                // The reader has written its message to the log already.
                add_violation(result, step.name);
                break;
            default:
                break;
        }
    }
    return lost;
}

void ContingencyAnalysis::screen(const Network& network, const NetworkSnapshot& snapshot,
                                 const Thresholds& t, Result& result) const {
    // The extremes are tracked by index and named once at the end.
    int min_bus = -1, max_bus = -1, max_branch = -1;
    const std::size_t n_bus = network.buses.size();
    for (std::size_t i = 0; i < n_bus; ++i) {
        const Bus& bus = network.buses[i];
        if (bus.type == ISOLATED) continue;
        const double v = bus.v;
        if (v < result.min_voltage) {
            result.min_voltage = v;
            min_bus = static_cast<int>(i);
        }
        if (v > result.max_voltage) {
            result.max_voltage = v;
            max_bus = static_cast<int>(i);
        }
        if (v < t.vmin)
            add_violation(result, fmt::format("voltage at bus {:8s} = {:.5f} < {:.5f} pu",
                                              bus.name, v, t.vmin));
        if (v > t.vmax)
            add_violation(result, fmt::format("voltage at bus {:8s} = {:.5f} > {:.5f} pu",
                                              bus.name, v, t.vmax));
    }
    const std::size_t n_drop = common_count(n_bus, snapshot.bus_v.size());
    for (std::size_t i = 0; i < n_drop; ++i) {
        const Bus& bus = network.buses[i];
        if (bus.type == ISOLATED) continue;
        const double drop = snapshot.bus_v[i] - bus.v;
        if (drop > t.max_drop)
            add_violation(result, fmt::format("voltage at bus {:8s} dropped by {:.5f} > {:.5f} pu",
                                              bus.name, drop, t.max_drop));
    }
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (br.status != 1 || !(br.rating > 0.0)) continue;
        const double s = end_apparent_power(compute_branch_flow(network, static_cast<int>(k)));
        const double loading = s / br.rating * 100.0;
        if (loading > result.max_loading) {
            result.max_loading = loading;
            max_branch = static_cast<int>(k);
        }
        if (loading > t.max_loading_pct)
            add_violation(result, fmt::format("loading of branch {:20s} = {:.2f} > {:.2f} pu",
                                              br.name, s, br.rating * t.max_loading_pct / 100.0));
    }
    if (min_bus >= 0) result.min_voltage_bus = network.buses[min_bus].name;
    if (max_bus >= 0) result.max_voltage_bus = network.buses[max_bus].name;
    if (max_branch >= 0) result.max_loading_branch = network.branches[max_branch].name;
}

std::vector<ContingencyAnalysis::Result> ContingencyAnalysis::run(
    Network& network, const SolverParams& params, const std::vector<Contingency>& list,
    double vmin, double vmax, double max_loading_pct, double max_drop, std::ostream* log) const {
    const NetworkSnapshot snapshot = save(network);
    std::vector<Result> results;
    results.reserve(list.size());
    const Thresholds thresholds{vmin, vmax, max_loading_pct, max_drop};
    const RestoreOnExit restore_at_end(*this, network, snapshot);
    PowerFlowSolver solver;

    for (const Contingency& contingency : list) {
        restore(network, snapshot);
        Result result;
        result.name = contingency.name;

        double lost = apply_steps(network, contingency, log, result);
        double island_lost = 0.0;
        network.prune_islands(nullptr, &island_lost);
        lost += island_lost;
        if (lost != 0.0) redispatch_generation(network, lost, params);

        reset_voltages_and_taps(network, snapshot);
        result.converged = solve_fresh(network, params, solver);
        if (result.converged)
            screen(network, snapshot, thresholds, result);
        else
            add_violation(result, "divergence !");
        results.push_back(std::move(result));
    }
    return results;
}

void ContingencyAnalysis::print_results(std::ostream& stream,
                                        const std::vector<Result>& results) const {
    for (std::size_t k = 0; k < results.size(); ++k) {
        const Result& r = results[k];
        stream << fmt::format("\n *** contingency {:5d} : {}\n\n", k + 1, r.name);
        for (const std::string& violation : r.violations) stream << "    " << violation << "\n";
        stream << (r.accepted ? "    => accepted\n" : "    => refused\n");
    }
}

}  // namespace varnok
