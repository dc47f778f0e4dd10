// Network equations: state, mismatch, Jacobian values, unit outputs, write-back, branch flows.
//
// Branch model: the series admittance lies between the from bus and an ideal transformer at the
// to end, whose ratio divides the to-bus voltage (W = V_t / ratio) and whose shift advances the
// from side (t = theta_f - theta_t + shift); each end has its own shunt. Flows are the powers
// leaving each end's bus into the branch. A mismatch is the specified injection minus those
// flows; the Jacobian holds the derivatives of flows minus voltage-dependent injections, i.e.
// J = -dm/dx, so that a Newton step solves J dx = m.
#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"

namespace varnok {

namespace {

bool valid_bus(int bus, std::size_t bus_count) {
    return bus >= 0 && static_cast<std::size_t>(bus) < bus_count;
}

bool voltage_held(int type) { return type == PV || type == SLACK; }

// The trigonometric factors of one branch at one angle: W and the four E/F products.
struct BranchTerms {
    double w;     // V_t / ratio
    double e_ft;  // g_from cos t + b_from sin t
    double f_ft;  // b_from cos t - g_from sin t
    double e_tf;  // g_to cos t - b_to sin t
    double f_tf;  // b_to cos t + g_to sin t
};

BranchTerms branch_terms(const Branch& br, double vt, const BranchAngle& a) {
    BranchTerms k;
    k.w = vt / br.ratio;
    k.e_ft = br.g_from * a.cos_t + br.b_from * a.sin_t;
    k.f_ft = br.b_from * a.cos_t - br.g_from * a.sin_t;
    k.e_tf = br.g_to * a.cos_t - br.b_to * a.sin_t;
    k.f_tf = br.b_to * a.cos_t + br.g_to * a.sin_t;
    return k;
}

struct EndFlows {
    double p_ft, q_ft, p_tf, q_tf;
};

EndFlows end_flows(const Branch& br, double vf, const BranchTerms& k) {
    EndFlows s;
    s.p_ft = vf * vf * (br.g_from + br.g_shunt_from) - vf * k.w * k.e_ft;
    s.q_ft = -(vf * vf) * (br.b_from + br.b_shunt_from) + vf * k.w * k.f_ft;
    s.p_tf = k.w * k.w * (br.g_to + br.g_shunt_to) - vf * k.w * k.e_tf;
    s.q_tf = -(k.w * k.w) * (br.b_to + br.b_shunt_to) + vf * k.w * k.f_tf;
    return s;
}

// The 16 partial derivatives of one branch's four flows (J = -dm/dx): the reactive and active
// rows of the from bus (2f, 2f+1) and of the to bus (2t, 2t+1), each by the columns (own V,
// own theta, far V, far theta). These are exact derivatives of the flows of end_flows.
struct BranchDerivatives {
    double qf[4], pf[4], qt[4], pt[4];
};

BranchDerivatives branch_derivatives(const Branch& br, double vf, const BranchTerms& c) {
    const double w = c.w;
    const double a = br.ratio;
    BranchDerivatives d;
    d.qf[0] = -2.0 * vf * (br.b_from + br.b_shunt_from) + w * c.f_ft;
    d.qf[1] = -vf * w * c.e_ft;
    d.qf[2] = vf * c.f_ft / a;
    d.qf[3] = vf * w * c.e_ft;
    d.pf[0] = 2.0 * vf * (br.g_from + br.g_shunt_from) - w * c.e_ft;
    d.pf[1] = -vf * w * c.f_ft;
    d.pf[2] = -vf * c.e_ft / a;
    d.pf[3] = vf * w * c.f_ft;
    d.qt[0] = (vf * c.f_tf - 2.0 * w * (br.b_to + br.b_shunt_to)) / a;
    d.qt[1] = -vf * w * c.e_tf;
    d.qt[2] = w * c.f_tf;
    d.qt[3] = vf * w * c.e_tf;
    d.pt[0] = (2.0 * w * (br.g_to + br.g_shunt_to) - vf * c.e_tf) / a;
    d.pt[1] = -vf * w * c.f_tf;
    d.pt[2] = -w * c.e_tf;
    d.pt[3] = vf * w * c.f_tf;
    return d;
}

// Adds the terms of one branch end's reactive row (q) and active row (p) by the columns own V,
// own theta, far V, far theta; at[c] is the position of the reactive row's entry in column c.
// The reactive terms are dropped when that row is an identity row. In a whole block the active
// row's entry lies just below the reactive one's. Column by column, so that the terms that a
// branch from a bus to itself adds to one entry keep their order.
void add_end_terms(double* J, const int (&at)[4], bool reactive_kept, const double (&q)[4],
                   const double (&p)[4]) {
    for (int c = 0; c < 4; ++c) {
        if (reactive_kept) J[at[c]] += q[c];
        J[at[c] + 1] += p[c];
    }
}

// The same for an end whose coupling block is not whole (its branch came into service after the
// pattern was built): only the entries in the pattern (at[c] >= 0) get their terms.
void add_end_terms_where_stored(double* J, const int (&at)[4], bool far_whole, bool reactive_kept,
                                const double (&q)[4], const double (&p)[4]) {
    for (int c = 0; c < 4; ++c) {
        if (at[c] < 0) continue;
        if (reactive_kept) J[at[c]] += q[c];
        if (c < 2 || far_whole) J[at[c] + 1] += p[c];
    }
}

// Calls visit(from, to, flows) for every branch with status 1 and both ends valid, in branch
// order, with the flows at the solver's voltages; each branch's sine and cosine come from the
// angle cache that the Jacobian shares.
template <typename Visit>
void for_each_flow_in_service(const Network& network, const std::vector<double>& v,
                              const std::vector<double>& theta, SparseMatrix& jacobian,
                              Visit visit) {
    const std::size_t bus_count = network.buses.size();
    jacobian.reserve_angles(network.branches.size());
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (br.status != 1 || !valid_bus(br.from, bus_count) || !valid_bus(br.to, bus_count))
            continue;
        const int f = br.from, t = br.to;
        const BranchAngle& a =
            jacobian.angle_of(static_cast<int>(k), theta[f] - theta[t] + br.shift);
        visit(f, t, end_flows(br, v[f], branch_terms(br, v[t], a)));
    }
}

BranchAngle fresh_angle(double t) {
    BranchAngle a;
    a.t = t;
    a.sin_t = std::sin(t);
    a.cos_t = std::cos(t);
    return a;
}

}  // namespace

void PowerFlowSolver::init_state(const Network& network) {
    const std::size_t bus_count = network.buses.size();
    v.resize(bus_count);
    theta.resize(bus_count);
    mismatch.resize(2 * bus_count);
    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        const bool isolated = bus.type == ISOLATED;
        v[i] = isolated ? 0.0 : bus.v;
        theta[i] = isolated ? 0.0 : bus.angle;
    }
    for (const Generator& gen : network.generators) {
        if (gen.status != 1 || gen.mode != GEN_VOLTAGE_CONTROL || !valid_bus(gen.bus, bus_count))
            continue;
        if (network.buses[gen.bus].type != ISOLATED) v[gen.bus] = gen.v_set;
    }
}

void PowerFlowSolver::compute_mismatch(const Network& network) {
    const std::size_t bus_count = network.buses.size();
    if (v.size() != bus_count || theta.size() != bus_count) init_state(network);
    if (mismatch.size() != 2 * bus_count) mismatch.assign(2 * bus_count, 0.0);
    double* m = mismatch.data();

    // Specified injections: loads, then generators, then compensators. The one pass over the
    // buses also evaluates their shunts (v does not change here), which are added after the
    // branch flows.
    bus_shunts.resize(bus_count);
    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        m[2 * i + 1] = -bus.p_load;
        m[2 * i] = -bus.q_load;
        bus_shunts[i] = {bus.b_shunt * (v[i] * v[i]) + bus.q_shunt, bus.type == ISOLATED};
    }
    for (const Generator& gen : network.generators) {
        if (gen.status != 1 || !valid_bus(gen.bus, bus_count)) continue;
        m[2 * gen.bus + 1] += gen.p;
        if (gen.mode > 0) m[2 * gen.bus] += gen.q;  // a unit not holding a voltage
    }
    for (const SVC& svc : network.svcs) {
        if (svc.status != 1 || !valid_bus(svc.bus, bus_count)) continue;
        const double vb = v[svc.bus];
        double& q = m[2 * svc.bus];
        switch (svc.mode) {
            case SVC_VOLTAGE_CONTROL:
                // only this mode reads the sensing bus; without a valid one it injects nothing
                if (valid_bus(svc.sense_bus, bus_count))
                    q += svc.gain * (svc.v_set - v[svc.sense_bus]) * (vb * vb);
                break;
            case SVC_AT_BMAX: q += svc.b_max * (vb * vb); break;
            case SVC_AT_BMIN: q += svc.b_min * (vb * vb); break;
            case SVC_FIXED_Q: q += svc.q; break;
            default: break;
        }
    }

    // Flows into the branches in service.
    for_each_flow_in_service(network, v, theta, jacobian, [m](int f, int t, const EndFlows& s) {
        m[2 * f + 1] -= s.p_ft;
        m[2 * f] -= s.q_ft;
        m[2 * t + 1] -= s.p_tf;
        m[2 * t] -= s.q_tf;
    });

    // Bus shunts; then the equations replaced by a held quantity: both equations of an isolated
    // bus, the voltage of a controlling generator's bus, the slack angle (the zeros may be set
    // in any order).
    for (std::size_t i = 0; i < bus_count; ++i) {
        m[2 * i] += bus_shunts[i].q;
        if (!bus_shunts[i].isolated) continue;
        m[2 * i] = 0.0;
        m[2 * i + 1] = 0.0;
    }
    for (const Generator& gen : network.generators)
        if (gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL && valid_bus(gen.bus, bus_count))
            m[2 * gen.bus] = 0.0;
    if (valid_bus(network.slack_bus, bus_count)) m[2 * network.slack_bus + 1] = 0.0;
}

void SparseMatrix::compute_jacobian(const Network& network, const std::vector<double>& v,
                                    const std::vector<double>& theta) {
    const std::size_t bus_count = network.buses.size();
    if (v.size() < bus_count || theta.size() < bus_count)
        throw std::invalid_argument("compute_jacobian: fewer voltages than buses");
    // A pattern made for another bus count would be indexed out of its range.
    if (n != static_cast<int>(2 * bus_count) || col_ptr.size() != bus_count * 2 + 1 ||
        bus_slots.size() != bus_count * 2)
        build_structure(network);
    std::fill(values.begin(), values.end(), 0.0);
    double* J = values.data();
    auto add = [J](int p, double x) {
        if (p >= 0) J[p] += x;
    };

    reserve_angles(network.branches.size());
    if (branch_slots.size() < network.branches.size()) branch_slots.resize(network.branches.size());
    // What the bus rows need, read in one pass over the buses before the branch terms.
    bus_rows.resize(bus_count);
    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        BusRow& row = bus_rows[i];
        row.held = voltage_held(bus.type);
        row.isolated = bus.type == ISOLATED;
        row.shunted = bus.b_shunt != 0.0 && !row.held;
        row.shunt_slope = 2.0 * bus.b_shunt * v[i];
    }
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (br.status == 0 || !valid_bus(br.from, bus_count) || !valid_bus(br.to, bus_count))
            continue;
        BranchSlots& slots = branch_slots[k];
        if (slots.from != br.from || slots.to != br.to) slots = resolve_branch(br.from, br.to);
        const int f = br.from, t = br.to;
        const BranchAngle& ang = angle_of(static_cast<int>(k), theta[f] - theta[t] + br.shift);
        const BranchDerivatives d = branch_derivatives(br, v[f], branch_terms(br, v[t], ang));
        // The reactive row of a bus whose voltage is held is an identity row: no branch terms.
        const bool kept_f = !bus_rows[f].held, kept_t = !bus_rows[t].held;
        const int at_f[4] = {bus_slots[2 * f], bus_slots[2 * f + 1], slots.ft_v, slots.ft_theta};
        const int at_t[4] = {bus_slots[2 * t], bus_slots[2 * t + 1], slots.tf_v, slots.tf_theta};
        if (slots.ft_theta >= 0 && slots.tf_theta >= 0) {  // every block whole, the usual case
            add_end_terms(J, at_f, kept_f, d.qf, d.pf);
            add_end_terms(J, at_t, kept_t, d.qt, d.pt);
        } else {
            add_end_terms_where_stored(J, at_f, slots.ft_theta >= 0, kept_f, d.qf, d.pf);
            add_end_terms_where_stored(J, at_t, slots.tf_theta >= 0, kept_t, d.qt, d.pt);
        }
    }

    // Bus rows: a held voltage or an isolated bus makes identity rows, a shunt adds to the
    // reactive diagonal. (2i, 2i) sits at bus_slots[2i]; (2i+1, 2i+1) just below (2i, 2i+1).
    auto q_diag = [&](std::size_t i) { return bus_slots[2 * i]; };
    auto p_diag = [&](std::size_t i) { return bus_slots[2 * i + 1] + 1; };
    for (std::size_t i = 0; i < bus_count; ++i) {
        const BusRow& row = bus_rows[i];
        if (row.held) J[q_diag(i)] = 1.0;
        if (row.isolated) {
            J[q_diag(i)] = 1.0;
            J[p_diag(i)] = 1.0;
        }
        if (row.shunted) J[q_diag(i)] -= row.shunt_slope;
    }

    if (svc_slots.size() < network.svcs.size()) svc_slots.resize(network.svcs.size());
    for (std::size_t k = 0; k < network.svcs.size(); ++k) {
        const SVC& svc = network.svcs[k];
        if (svc.status != 1 || !valid_bus(svc.bus, bus_count)) continue;
        const int b = svc.bus, s = svc.sense_bus;
        const double vb = v[b];
        double& diag = J[q_diag(static_cast<std::size_t>(b))];
        switch (svc.mode) {
            case SVC_AT_BMIN: diag -= 2.0 * svc.b_min * vb; break;
            case SVC_AT_BMAX: diag -= 2.0 * svc.b_max * vb; break;
            case SVC_VOLTAGE_CONTROL:
                // only this mode reads the sensing bus; without a valid one it adds nothing
                if (!valid_bus(s, bus_count)) break;
                if (s == b) {
                    diag += -svc.gain * vb * (2.0 * svc.v_set - 3.0 * vb);
                } else {
                    diag -= 2.0 * vb * svc.gain * (svc.v_set - v[s]);
                    SvcSlot& slot = svc_slots[k];
                    if (slot.bus != b || slot.sense_bus != s) slot = {b, s, pos(2 * b, 2 * s)};
                    add(slot.pos, svc.gain * (vb * vb));
                }
                break;
            default: break;
        }
    }

    // The slack's active equation becomes a scaled identity row; its mismatch is 0, so its
    // angle does not move.
    const int slack = network.slack_bus;
    if (valid_bus(slack, bus_count)) {
        if (slack_row_bus != slack) collect_slack_row(slack);
        for (int p : slack_row) J[p] = 0.0;
        J[p_diag(static_cast<std::size_t>(slack))] = 2000.0;
    }
}

void PowerFlowSolver::compute_injections(Network& network, const SolverParams&) {
    const std::size_t bus_count = network.buses.size();
    if (v.empty() || v.size() != bus_count || theta.size() != bus_count) {
        v.resize(bus_count);
        theta.resize(bus_count);
        for (std::size_t i = 0; i < bus_count; ++i) {
            v[i] = network.buses[i].v;
            theta[i] = network.buses[i].angle;
        }
    }

    // What the bus's own load and shunts ask of its unit; the branch flows are added below.
    auto local_demand = [&](int b) {
        const Bus& bus = network.buses[b];
        return bus.q_load - bus.q_shunt - bus.b_shunt * (v[b] * v[b]);
    };
    for (Generator& gen : network.generators)
        if (gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL && valid_bus(gen.bus, bus_count))
            gen.q = local_demand(gen.bus);
    for (SVC& svc : network.svcs)
        if (svc.status == 1 && svc.mode != SVC_FIXED_Q && valid_bus(svc.bus, bus_count))
            svc.q = local_demand(svc.bus);

    const int slack = network.slack_bus;
    Generator* slack_gen = nullptr;
    if (valid_bus(slack, bus_count)) {
        const int g = network.buses[slack].gen;
        if (g >= 0 && static_cast<std::size_t>(g) < network.generators.size()) {
            slack_gen = &network.generators[g];
            slack_gen->p = network.buses[slack].p_load;
        }
    }

    // The reactive outputs that the flows at each bus add to, looked up once per bus: those of
    // its voltage-controlling generator and compensator, through Bus::gen and Bus::svc.
    auto controlling_gen = [&](int b) -> double* {
        const int g = network.buses[b].gen;
        if (g < 0 || static_cast<std::size_t>(g) >= network.generators.size()) return nullptr;
        Generator& gen = network.generators[g];
        return gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL ? &gen.q : nullptr;
    };
    auto controlling_svc = [&](int b) -> double* {
        const int c = network.buses[b].svc;
        if (c < 0 || static_cast<std::size_t>(c) >= network.svcs.size()) return nullptr;
        SVC& svc = network.svcs[c];
        return svc.status == 1 && svc.mode != SVC_FIXED_Q ? &svc.q : nullptr;
    };
    bus_units.resize(bus_count);
    for (std::size_t i = 0; i < bus_count; ++i) {
        const int b = static_cast<int>(i);
        bus_units[i] = {controlling_gen(b), controlling_svc(b)};
    }

    for_each_flow_in_service(network, v, theta, jacobian, [&](int f, int t, const EndFlows& s) {
        const BusUnits& at_f = bus_units[static_cast<std::size_t>(f)];
        const BusUnits& at_t = bus_units[static_cast<std::size_t>(t)];
        if (at_f.gen_q) *at_f.gen_q += s.q_ft;
        if (at_f.svc_q) *at_f.svc_q += s.q_ft;
        if (at_t.gen_q) *at_t.gen_q += s.q_tf;
        if (at_t.svc_q) *at_t.svc_q += s.q_tf;
        if (slack_gen) {
            if (f == slack) slack_gen->p += s.p_ft;
            if (t == slack) slack_gen->p += s.p_tf;
        }
    });
}

void PowerFlowSolver::write_back(Network& network) {
    const std::size_t count = std::min({network.buses.size(), v.size(), theta.size()});
    for (std::size_t i = 0; i < count; ++i) {
        network.buses[i].v = v[i];
        network.buses[i].angle = theta[i];
    }
}

BranchFlow compute_branch_flow(const Network& network, int branch) {
    if (branch < 0 || static_cast<std::size_t>(branch) >= network.branches.size()) return {};
    const Branch& br = network.branches[static_cast<std::size_t>(branch)];
    const std::size_t bus_count = network.buses.size();
    if (br.status == 0 || !valid_bus(br.from, bus_count) || !valid_bus(br.to, bus_count))
        return {};
    const Bus& from = network.buses[br.from];
    const Bus& to = network.buses[br.to];
    const double vf = from.v;
    const BranchTerms k = branch_terms(br, to.v, fresh_angle(from.angle - to.angle + br.shift));
    const EndFlows s = end_flows(br, vf, k);

    BranchFlow flow;
    flow.p_from = s.p_ft;
    flow.q_from = s.q_ft;
    flow.p_to = s.p_tf;
    flow.q_to = s.q_tf;
    flow.p_loss = s.p_ft + s.p_tf;
    flow.q_loss = s.q_ft + s.q_tf + vf * vf * br.b_shunt_from + k.w * k.w * br.b_shunt_to;
    flow.q_charging = -(vf * vf * br.b_shunt_from + k.w * k.w * br.b_shunt_to);
    return flow;
}

}  // namespace varnok
