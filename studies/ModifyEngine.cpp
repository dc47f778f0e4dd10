// The modification engine: changes of status, setpoints, loads, shunts and generation, the
// active-power imbalance that they leave, and the final prune, redispatch and solve.
#include "studies/ModifyEngine.h"

#include <cmath>
#include <cstddef>
#include <exception>
#include <locale>
#include <sstream>

#include "studies/Redispatch.h"

namespace varnok {

namespace {

// Strings as they are, doubles in the default stream format, in the classic locale.
template <typename... Pieces>
std::string text(const Pieces&... pieces) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    (out << ... << pieces);
    return out.str();
}

bool valid_index(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// The setpoint a unit connected at `bus` holds: the bus's present voltage. A solve leaves a
// pruned bus at 0 V, and a unit holding 0 V would short its bus to ground; it then takes the
// voltage as read, or 1 pu.
double setpoint_at(const Bus& bus) {
    if (bus.v != 0.0) return bus.v;
    return bus.v_init != 0.0 ? bus.v_init : 1.0;
}

// The active factor a zone member takes part with: negative factors count as 0.
double zone_share(const ZoneBusMember& member) {
    return member.p_factor > 0.0 ? member.p_factor : 0.0;
}

const char* const kUnknownBranch = " unknown branch !\n";
const char* const kUnknownGenerator = " unknown generator !\n";
const char* const kUnknownSvc = " unknown SVC !\n";
const char* const kUnknownBus = " unknown bus !\n";
const char* const kUnknownZone = " unknown zone !\n";
const char* const kCompensated = " MW compensated on generators\n";

}  // namespace

ModifyEngine::ModifyEngine(Network& network, PowerFlowSolver& solver, const SolverParams& params)
    : network(network), solver(solver), params(params) {}

// ---- Outages and reconnections -------------------------------------------------------------

std::string ModifyEngine::trip_branch(const std::string& name) {
    const int b = network.find_branch(name);
    if (b < 0) return kUnknownBranch;
    network.branches[b].status = 0;
    return text(" Branch ", name, " tripped.\n");
}

std::string ModifyEngine::connect_branch(const std::string& name) {
    const int b = network.find_branch(name);
    if (b < 0) return kUnknownBranch;
    Branch& branch = network.branches[b];
    if (branch.status == 1) return " This branch is already connected !\n";
    branch.status = 1;
    return text(" Branch ", name, " connected.\n");
}

std::string ModifyEngine::trip_generator(const std::string& name) {
    const int g = network.find_gen(name);
    if (g < 0) return kUnknownGenerator;
    Generator& gen = network.generators[g];
    if (network.slack_bus >= 0 && gen.bus == network.slack_bus)
        return " Slack generator must not be tripped !\n";
    if (gen.status == 1) delta_p += gen.p;  // its output has to come from elsewhere
    gen.status = 0;
    if (valid_index(gen.bus, network.buses.size()) && network.buses[gen.bus].type == PV)
        network.buses[gen.bus].type = PQ;
    return text(" Generator ", name, " tripped.\n");
}

std::string ModifyEngine::connect_generator(const std::string& name) {
    const int g = network.find_gen(name);
    if (g < 0) return kUnknownGenerator;
    Generator& gen = network.generators[g];
    if (gen.status == 1) return " This generator is already connected !\n";
    gen.status = 1;
    gen.mode = GEN_VOLTAGE_CONTROL;
    gen.p = 0.0;
    if (valid_index(gen.bus, network.buses.size())) {
        Bus& bus = network.buses[gen.bus];
        gen.v_set = setpoint_at(bus);
        bus.type = PV;
    }
    return text(" Generator ", name, " connected.\n");
}

std::string ModifyEngine::trip_svc(const std::string& name) {
    const int s = network.find_svc(name);
    if (s < 0) return kUnknownSvc;
    network.svcs[s].status = 0;
    return text(" SVC ", name, " tripped.\n");
}

std::string ModifyEngine::connect_svc(const std::string& name) {
    const int s = network.find_svc(name);
    if (s < 0) return kUnknownSvc;
    SVC& svc = network.svcs[s];
    if (svc.status == 1) return " This SVC is already connected !\n";
    svc.status = 1;
    svc.mode = SVC_VOLTAGE_CONTROL;
    // its own bus's voltage, not the sensing bus's
    if (valid_index(svc.bus, network.buses.size())) svc.v_set = setpoint_at(network.buses[svc.bus]);
    return text(" SVC ", name, " connected.\n");
}

// ---- Setpoints, loads and shunts -----------------------------------------------------------

std::string ModifyEngine::set_generator_voltage(const std::string& name, double v_set_pu) {
    const int g = network.find_gen(name);
    if (g < 0) return kUnknownGenerator;
    network.generators[g].v_set = v_set_pu;
    return {};
}

// The unit is held at the given output as at a reactive limit, its bus PQ: a PV bus would keep
// the identity row for its reactive equation while the unit no longer holds the voltage, and the
// solve could not converge. The reactive-limit control returns a unit with a setpoint to voltage
// control when its bus rises above that setpoint. A unit out of service injects nothing, so its
// bus keeps its type.
std::string ModifyEngine::switch_generator_to_pq(const std::string& name, double q_mvar) {
    const int g = network.find_gen(name);
    if (g < 0) return kUnknownGenerator;
    Generator& gen = network.generators[g];
    const double q = q_mvar / network.sbase;
    if (gen.status == 1) {
        hold_reactive_output(network, gen, GEN_AT_QMAX, q);
    } else {
        gen.q = q;
        gen.mode = GEN_AT_QMAX;
    }
    return {};
}

// b_mvar is the reactive injection at 1 pu voltage; positive is capacitive.
std::string ModifyEngine::change_shunt(const std::string& bus, double b_mvar) {
    const int b = network.find_bus(bus);
    if (b < 0) return kUnknownBus;
    network.buses[b].b_shunt += b_mvar / network.sbase;
    return {};
}

std::string ModifyEngine::demand_increase_bus(const std::string& bus, double p_mw,
                                              double q_mvar) {
    const int b = network.find_bus(bus);
    if (b < 0) return kUnknownBus;
    Bus& target = network.buses[b];
    target.p_load += p_mw / network.sbase;
    target.q_load += q_mvar / network.sbase;
    delta_p += p_mw / network.sbase;
    return {};
}

// The imbalance moves by exactly minus the change made to the output; a result exactly on a
// limit is no limitation.
std::string ModifyEngine::gen_increase_bus(const std::string& name, double p_mw) {
    const int g = network.find_gen(name);
    if (g < 0) return kUnknownGenerator;
    Generator& gen = network.generators[g];
    if (gen.status != 1) return " generator not in operation !\n";
    const double change = p_mw / network.sbase;
    gen.p = gen.p + change;
    delta_p = delta_p - change;
    const double refused = clamp_to_active_limits(gen);
    if (refused == 0.0) return {};
    delta_p = delta_p + refused;
    if (refused > 0.0)
        return text(" active power limited to maximum (", gen.p_max * network.sbase, " MW)\n");
    return text(" active power limited to minimum (", gen.p_min * network.sbase, " MW)\n");
}

// ---- Zone changes --------------------------------------------------------------------------

// Both sums of factors must be non-zero whatever the change asks, so a zone made only of "ZONE"
// members (factors 0) refuses every change.
std::string ModifyEngine::demand_increase_zone(const std::string& zone, double p_mw,
                                               double q_mvar) {
    const int z = network.find_zone(zone);
    if (z < 0) return kUnknownZone;
    const std::vector<ZoneBusMember>& members = network.zones[z].members;
    double p_sum = 0.0;
    double q_sum = 0.0;
    for (const ZoneBusMember& m : members) {
        p_sum += m.p_factor;
        q_sum += m.q_factor;
    }
    if (members.empty() || p_sum == 0.0 || q_sum == 0.0)
        return " sum of bus participations is zero !\n";

    delta_p += p_mw / network.sbase;
    for (const ZoneBusMember& m : members) {
        if (!valid_index(m.bus, network.buses.size())) continue;
        Bus& bus = network.buses[m.bus];
        bus.p_load += ((p_mw / network.sbase) * m.p_factor) / p_sum;
        bus.q_load += ((q_mvar / network.sbase) * m.q_factor) / q_sum;
    }
    return {};
}

namespace {

// The in-service unit at a zone member's bus when its output can still move the way `change`
// asks; null otherwise.
Generator* zone_unit(Network& network, const ZoneBusMember& member, double change) {
    if (!valid_index(member.bus, network.buses.size())) return nullptr;
    const int g = network.buses[member.bus].gen;
    if (!valid_index(g, network.generators.size())) return nullptr;
    Generator& gen = network.generators[g];
    if (gen.status == 0 || !has_active_room(gen, change)) return nullptr;
    return &gen;
}

}  // namespace

std::string ModifyEngine::gen_increase_zone(const std::string& zone, double p_mw) {
    const int z = network.find_zone(zone);
    if (z < 0) return kUnknownZone;
    const std::vector<ZoneBusMember>& members = network.zones[z].members;
    const double asked = p_mw / network.sbase;
    double left = asked;                         // still to place, pu
    const double tolerance = 0.1 / network.sbase;  // 0.1 MW, whatever the solver's tolerance

    // With factors of one sign each pass that does not finish puts one more unit on a limit in
    // the direction of the change (a member listed twice drops out when its unit reaches the
    // limit, leaving the rest of its share to the next pass), so one pass more than there are
    // members always ends. The count guards a base power that is zero, negative or not a
    // number, under which the tolerance test may never hold.
    for (std::size_t pass = 0; pass <= members.size(); ++pass) {
        double share_sum = 0.0;
        for (const ZoneBusMember& m : members)
            if (zone_unit(network, m, left)) share_sum += zone_share(m);
        if (share_sum == 0.0) break;

        double total = 0.0;  // minus what this pass placed
        for (const ZoneBusMember& m : members) {
            Generator* gen = zone_unit(network, m, left);
            if (!gen) continue;
            const double move = (left * zone_share(m)) / share_sum;
            gen->p = gen->p + move;
            total = total - move;
            total = total + clamp_to_active_limits(*gen);
        }
        left = left + total;
        if (std::fabs(left) <= tolerance) {
            delta_p = delta_p - (asked - left);
            return {};
        }
    }
    delta_p = delta_p - (asked - left);
    return text(" Insufficient reserve. Generation change limited to ",
                (asked - left) * network.sbase, " MW\n");
}

// ---- Applying the changes ------------------------------------------------------------------

std::vector<int> ModifyEngine::check_connectivity() const {
    const std::vector<char> reached = network.buses_reached_from_slack();
    std::vector<int> unreached;
    for (std::size_t i = 0; i < reached.size(); ++i)
        if (!reached[i]) unreached.push_back(static_cast<int>(i));
    return unreached;
}

ModifyEngine::FinalizeResult ModifyEngine::finalize() {
    FinalizeResult result;
    result.unreached_buses = check_connectivity();

    double island_loss = 0.0;  // generation minus load of the pruned parts, pu
    network.prune_islands(nullptr, &island_loss);
    delta_p += island_loss;
    // Made before the redispatch: it does not depend on how much the generators can take.
    const double mw = delta_p * network.sbase;
    if (delta_p > 0.0)
        result.message = text("\n Deficit of active power : ", mw, kCompensated);
    else if (delta_p < 0.0)
        result.message = text("\n Excess of active power : ", -mw, kCompensated);

    redispatch_generation(network, delta_p, params);

    SolveResult solved;
    try {
        solved = solver.solve(network, params, nullptr, {}, {});
    } catch (const std::exception&) {
        return result;
    }
    result.converged = solved.converged;
    result.iterations = solved.iterations;
    result.max_p_mismatch = solved.max_p_mismatch;
    result.max_q_mismatch = solved.max_q_mismatch;
    result.status = solved.status;
    if (!result.converged) return result;
    try {
        solver.compute_injections(network, params);
    } catch (const std::exception&) {
        result.converged = false;
    }
    return result;
}

double ModifyEngine::delta_p_mw() const { return delta_p * network.sbase; }

std::string ModifyEngine::show_power_imbalance() const {
    return text("\n Active power generation deficit : ", delta_p * network.sbase, " MW\n");
}

}  // namespace varnok
