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

    // Specified injections: loads, then generators, then compensators.
    for (std::size_t i = 0; i < bus_count; ++i) {
        m[2 * i + 1] = -network.buses[i].p_load;
        m[2 * i] = -network.buses[i].q_load;
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

    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        m[2 * i] += bus.b_shunt * (v[i] * v[i]) + bus.q_shunt;
    }

    // Equations replaced by a held quantity: the voltage of a controlling generator's bus,
    // the slack angle, and both equations of an isolated bus.
    for (const Generator& gen : network.generators)
        if (gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL && valid_bus(gen.bus, bus_count))
            m[2 * gen.bus] = 0.0;
    if (valid_bus(network.slack_bus, bus_count)) m[2 * network.slack_bus + 1] = 0.0;
    for (std::size_t i = 0; i < bus_count; ++i) {
        if (network.buses[i].type != ISOLATED) continue;
        m[2 * i] = 0.0;
        m[2 * i + 1] = 0.0;
    }
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
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (br.status == 0 || !valid_bus(br.from, bus_count) || !valid_bus(br.to, bus_count))
            continue;
        BranchSlots& slots = branch_slots[k];
        if (slots.from != br.from || slots.to != br.to) slots = resolve_branch(br.from, br.to);
        const int* p = slots.pos.data();

        const int f = br.from, t = br.to;
        const double vf = v[f];
        const double a = br.ratio;
        const BranchAngle& ang = angle_of(static_cast<int>(k), theta[f] - theta[t] + br.shift);
        const BranchTerms c = branch_terms(br, v[t], ang);
        const double w = c.w;

        if (!voltage_held(network.buses[f].type)) {
            add(p[0], -2.0 * vf * (br.b_from + br.b_shunt_from) + w * c.f_ft);
            add(p[1], -vf * w * c.e_ft);
            add(p[2], vf * c.f_ft / a);
            add(p[3], vf * w * c.e_ft);
        }
        add(p[4], 2.0 * vf * (br.g_from + br.g_shunt_from) - w * c.e_ft);
        add(p[5], -vf * w * c.f_ft);
        add(p[6], -vf * c.e_ft / a);
        add(p[7], vf * w * c.f_ft);
        if (!voltage_held(network.buses[t].type)) {
            add(p[8], (vf * c.f_tf - 2.0 * w * (br.b_to + br.b_shunt_to)) / a);
            add(p[9], -vf * w * c.e_tf);
            add(p[10], w * c.f_tf);
            add(p[11], vf * w * c.e_tf);
        }
        add(p[12], (2.0 * w * (br.g_to + br.g_shunt_to) - vf * c.e_tf) / a);
        add(p[13], -vf * w * c.f_tf);
        add(p[14], -w * c.e_tf);
        add(p[15], vf * w * c.f_tf);
    }

    // Bus rows. (2i, 2i) sits at bus_slots[2i]; (2i+1, 2i+1) just below (2i, 2i+1).
    auto q_diag = [&](std::size_t i) { return bus_slots[2 * i]; };
    auto p_diag = [&](std::size_t i) { return bus_slots[2 * i + 1] + 1; };
    for (std::size_t i = 0; i < bus_count; ++i)
        if (voltage_held(network.buses[i].type)) J[q_diag(i)] = 1.0;
    for (std::size_t i = 0; i < bus_count; ++i) {
        if (network.buses[i].type != ISOLATED) continue;
        J[q_diag(i)] = 1.0;
        J[p_diag(i)] = 1.0;
    }
    for (std::size_t i = 0; i < bus_count; ++i) {
        const Bus& bus = network.buses[i];
        if (bus.b_shunt != 0.0 && !voltage_held(bus.type))
            J[q_diag(i)] -= 2.0 * bus.b_shunt * v[i];
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
        if (slack_row_bus != slack) {
            slack_row.clear();
            for (std::size_t p = 0; p < row_idx.size(); ++p)
                if (row_idx[p] == 2 * slack + 1) slack_row.push_back(static_cast<int>(p));
            slack_row_bus = slack;
        }
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

    auto controlling_gen = [&](int b) -> Generator* {
        const int g = network.buses[b].gen;
        if (g < 0 || static_cast<std::size_t>(g) >= network.generators.size()) return nullptr;
        Generator& gen = network.generators[g];
        return gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL ? &gen : nullptr;
    };
    auto controlling_svc = [&](int b) -> SVC* {
        const int c = network.buses[b].svc;
        if (c < 0 || static_cast<std::size_t>(c) >= network.svcs.size()) return nullptr;
        SVC& svc = network.svcs[c];
        return svc.status == 1 && svc.mode != SVC_FIXED_Q ? &svc : nullptr;
    };

    for_each_flow_in_service(network, v, theta, jacobian, [&](int f, int t, const EndFlows& s) {
        if (Generator* gen = controlling_gen(f)) gen->q += s.q_ft;
        if (SVC* svc = controlling_svc(f)) svc->q += s.q_ft;
        if (Generator* gen = controlling_gen(t)) gen->q += s.q_tf;
        if (SVC* svc = controlling_svc(t)) svc->q += s.q_tf;
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
