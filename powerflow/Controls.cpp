// Controls between Newton iterations: reactive limits of generators and compensators, on-load
// tap changers and phase shifters.
//
// Voltages are the solver's (v, theta), not the buses' stored ones, except for the flows that
// the phase-shifter control reads through compute_branch_flow (the solver writes its voltages
// back before calling). Mvar and MW in log lines and observer calls are per unit times
// SolverParams::sbase.
#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include <fmt/format.h>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "powerflow/SolverLog.h"

namespace varnok {

namespace {

// Band around a generator setpoint that its voltage must leave before the unit returns from a
// reactive limit to voltage control, pu.
constexpr double kVoltageReturnMargin = 1e-4;
// Degree factor of the phase-shifter log line (a fixed constant, not 180/pi).
constexpr double kDegreesPerRadian = 57.29577951;
// A phase shifter whose flow sensitivity is smaller than this (pu flow per rad) is not moved.
constexpr double kMinPstSensitivity = 0.01;
// Phase shifters act only when the flow is off its setpoint by more than this part of the band.
constexpr double kPstBandFraction = 0.9;
// The range of phase-shifter tap numbers.
constexpr int kFirstTapNumber = std::numeric_limits<int>::min();
constexpr int kLastTapNumber = std::numeric_limits<int>::max();

bool valid_bus(const Network& network, int bus) {
    return bus >= 0 && bus < static_cast<int>(network.buses.size());
}

bool valid_branch(const Network& network, int branch) {
    return branch >= 0 && branch < static_cast<int>(network.branches.size());
}

void set_bus_type(Network& network, int bus, int type) {
    if (valid_bus(network, bus)) network.buses[bus].type = type;
}

void notify(const LimitSwitchObserver& observer, const std::string& name, double q, double limit,
            bool upper) {
    if (observer) observer(name, q, limit, upper);
}

// Whether the reactive row of `bus` is held by a voltage-controlling unit, so that its reactive
// equation is not a constraint of the Newton system.
bool reactive_row_held(const Network& network, int bus) {
    const Bus& b = network.buses[bus];
    if (b.gen >= 0 && b.gen < static_cast<int>(network.generators.size())) {
        const Generator& gen = network.generators[b.gen];
        if (gen.status == 1 && gen.mode == GEN_VOLTAGE_CONTROL) return true;
    }
    if (b.svc >= 0 && b.svc < static_cast<int>(network.svcs.size())) {
        const SVC& svc = network.svcs[b.svc];
        if (svc.status == 1 && svc.mode != SVC_FIXED_Q) return true;
    }
    return false;
}

// Outside a solve the solver's vectors may not match the network; the controls then start from
// the voltages stored in the buses, as compute_injections does.
void match_state_to_network(const Network& network, std::vector<double>& v,
                            std::vector<double>& theta) {
    const std::size_t n = network.buses.size();
    if (v.size() == n && theta.size() == n) return;
    v.resize(n);
    theta.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = network.buses[i].v;
        theta[i] = network.buses[i].angle;
    }
}

}  // namespace

// The bus loses its voltage equation to its reactive one, the slack bus included: a unit held
// at a fixed output no longer holds the voltage, and the bus's reactive mismatch must enter the
// Newton system. The slack bus keeps its replaced active row (Network::slack_bus stays).
void hold_reactive_output(Network& network, Generator& gen, int mode, double q) {
    gen.mode = mode;
    gen.q = q;
    set_bus_type(network, gen.bus, PQ);
}

bool PowerFlowSolver::check_reactive_limits(Network& network, const SolverParams& params,
                                            std::ostream* log,
                                            LimitSwitchObserver on_limit_switch) {
    const double base = params.sbase;
    const double tol = params.tolreac / base;
    compute_injections(network, params);
    bool changed = false;

    // Generators reaching a limit become PQ injections held at that limit.
    for (Generator& gen : network.generators) {
        if (gen.status != 1 || gen.mode != GEN_VOLTAGE_CONTROL) continue;
        if (gen.q > gen.q_max + tol) {
            log_line(log, "  Gener {:<20s} : Q = {:7.1f} > Qmax = {:7.1f}. Switched to PQ type\n",
                     gen.name, gen.q * base, gen.q_max * base);
            notify(on_limit_switch, gen.name, gen.q * base, gen.q_max * base, true);
            hold_reactive_output(network, gen, GEN_AT_QMAX, gen.q_max);
            changed = true;
        } else if (gen.q < gen.q_min - tol) {
            log_line(log, "  Gener {:<20s} : Q = {:7.1f} < Qmin = {:7.1f}. Switched to PQ type\n",
                     gen.name, gen.q * base, gen.q_min * base);
            notify(on_limit_switch, gen.name, gen.q * base, gen.q_min * base, false);
            hold_reactive_output(network, gen, GEN_AT_QMIN, gen.q_min);
            changed = true;
        }
    }

    // Compensators reaching a limit hold that susceptance; the lower test follows the upper one
    // even when it switched, so inverted limits end at b_min.
    for (SVC& svc : network.svcs) {
        if (svc.status != 1 || svc.mode != SVC_VOLTAGE_CONTROL) continue;
        if (!valid_bus(network, svc.bus)) continue;
        const double vb = v[svc.bus];
        const double q_max = svc.b_max * vb * vb;
        const double q_min = svc.b_min * vb * vb;
        if (svc.q > q_max + tol) {
            log_line(log, "  SVC {:<20s} : Q = {:6.1f} > Qmax = {:6.1f}. Switched to constant B.\n",
                     svc.name, svc.q * base, q_max * base);
            notify(on_limit_switch, svc.name, svc.q * base, q_max * base, true);
            svc.mode = SVC_AT_BMAX;
            changed = true;
        }
        if (svc.q < q_min - tol) {
            log_line(log, "  SVC {:<20s} : Q = {:6.1f} < Qmin = {:6.1f}. Switched to constant B.\n",
                     svc.name, svc.q * base, q_min * base);
            notify(on_limit_switch, svc.name, svc.q * base, q_min * base, false);
            svc.mode = SVC_AT_BMIN;
            changed = true;
        }
    }

    // Generators at a limit return to voltage control when their voltage has crossed the
    // setpoint in the direction that the limit allows.
    for (Generator& gen : network.generators) {
        if (gen.status != 1 || gen.v_set == 0.0 || !valid_bus(network, gen.bus)) continue;
        const double vb = v[gen.bus];
        if (gen.mode == GEN_AT_QMAX && vb > gen.v_set + kVoltageReturnMargin) {
            log_line(log,
                     " Volt of gener {:<20s} = {:.4f} > setpoint = {:.4f}. Back under volt ctl\n",
                     gen.name, vb, gen.v_set);
        } else if (gen.mode == GEN_AT_QMIN && vb < gen.v_set - kVoltageReturnMargin) {
            log_line(log,
                     " Volt of gener {:<20s} = {:.4f} < setpoint = {:.4f}. Back under volt ctl\n",
                     gen.name, vb, gen.v_set);
        } else {
            continue;
        }
        gen.mode = GEN_VOLTAGE_CONTROL;
        v[gen.bus] = gen.v_set;
        set_bus_type(network, gen.bus, PV);
        changed = true;
    }

    // Compensators at a limit return when the susceptance that control would ask for lies
    // inside the limit again (per unit, unscaled in the log).
    for (SVC& svc : network.svcs) {
        if (svc.status != 1 || !valid_bus(network, svc.sense_bus)) continue;
        const double beq = svc.gain * (svc.v_set - v[svc.sense_bus]);
        if (svc.mode == SVC_AT_BMIN && beq > svc.b_min) {
            log_line(log, " SVC {:<20s} : Beq = {:6.3f} > Bmin = {:6.3f}. Back under volt ctl\n",
                     svc.name, beq, svc.b_min);
        } else if (svc.mode == SVC_AT_BMAX && beq < svc.b_max) {
            log_line(log, " SVC {:<20s} : Beq = {:6.3f} < Bmax = {:6.3f}. Back under volt ctl\n",
                     svc.name, beq, svc.b_max);
        } else {
            continue;
        }
        svc.mode = SVC_VOLTAGE_CONTROL;
        changed = true;
    }
    return changed;
}

namespace {

// One step of every tap changer whose controlled voltage is outside its band.
bool step_tap_changers(Network& network, const std::vector<double>& v, std::ostream* log) {
    int down = 0;
    int up = 0;
    for (TapRegulator& tap : network.tap_regulators) {
        if (!valid_branch(network, tap.branch)) continue;
        Branch& branch = network.branches[tap.branch];
        if (branch.status != 1 || !valid_bus(network, tap.bus)) continue;
        const double vb = v[tap.bus];
        // only strictly outside the band; a setpoint or band that is not a number keeps still
        if (!(vb < tap.vdes - tap.deadband || vb > tap.vdes + tap.deadband)) continue;
        // The ratio divides the to-end voltage: raising it raises a controlled to end and
        // lowers a controlled from end.
        const bool below = vb < tap.vdes - tap.deadband;
        const bool at_to_end = tap.bus == branch.to;
        const bool step_up = tap.ratio_increasing ^ at_to_end ^ below;
        const int next = step_up ? tap.pos + 1 : tap.pos - 1;
        if (next < tap.pos_min || next < 0 || next > tap.pos_max ||
            next >= static_cast<int>(tap.ratios.size()))
            continue;
        tap.pos = next;
        branch.ratio = tap.ratios[next];
        log_line(log, " trfo {:<20s} v= {:.4f} vdes= {:.4f} pos= {:3d} rat= {:.3f}\n", branch.name,
                 vb, tap.vdes, next, branch.ratio);
        if (step_up)
            ++up;
        else
            ++down;
    }
    if (up + down > 0) log_line(log, " in-phase trfo taps : {:3d} down     {:3d} up\n", down, up);
    return up + down > 0;
}

}  // namespace

bool PowerFlowSolver::adjust_taps(Network& network, const SolverParams& params,
                                  std::ostream* log) {
    match_state_to_network(network, v, theta);
    bool changed = step_tap_changers(network, v, log);
    if (network.phase_shifters.empty() || !factorized) return changed;

    const double base = params.sbase;
    if (pst_sensitivity.size() != network.phase_shifters.size())
        pst_sensitivity.resize(network.phase_shifters.size(), 0.0);
    if (pst_sensitivity_due) log_text(log, " Evaluating phase shifter sensitivities\n");

    int down = 0;
    int up = 0;
    for (std::size_t i = 0; i < network.phase_shifters.size(); ++i) {
        PhaseShifter& ps = network.phase_shifters[i];
        if (!valid_branch(network, ps.branch) || !valid_branch(network, ps.monitored_branch))
            continue;
        if (network.branches[ps.branch].status == 0 ||
            network.branches[ps.monitored_branch].status == 0)
            continue;
        const double p = compute_branch_flow(network, ps.monitored_branch).p_from;
        if (pst_sensitivity_due) {
            const double s = compute_pst_sensitivity(network, ps.monitored_branch, ps.branch);
            pst_sensitivity[i] = s;
            if (s * ps.sign < 0) {
                log_line(log, " sign of phase control in transformer {:<20s} reversed !\n",
                         network.branches[ps.branch].name);
                ps.sign = -ps.sign;
            }
        }
        const double sensitivity = pst_sensitivity[i];
        // strictly outside 0.9 of the band; a deviation or band that is not a number is not
        if (!(std::fabs(p - ps.pdes) > kPstBandFraction * ps.deadband)) continue;
        if (std::fabs(sensitivity) < kMinPstSensitivity) continue;
        const double r = (ps.pdes - p) / sensitivity;
        const bool step_up = (r > 0 && ps.angle_increasing) || (r <= 0 && !ps.angle_increasing);
        // a table may end at either end of the int range: no step beyond it
        if (ps.pos == (step_up ? kLastTapNumber : kFirstTapNumber)) continue;
        if (!move_pst(network, ps, step_up ? ps.pos + 1 : ps.pos - 1)) continue;
        if (step_up)
            ++up;
        else
            ++down;
        const Branch& branch = network.branches[ps.branch];
        log_line(log, " PST  {:<20s} p= {:7.1f} pdes= {:7.1f} pos= {:3d} pha= {:6.3f}\n",
                 branch.name, p * base, ps.pdes * base, ps.pos, branch.shift * kDegreesPerRadian);
        changed = true;
    }
    if (up + down > 0) log_line(log, " phase shifter taps : {:3d} down     {:3d} up\n", down, up);
    pst_sensitivity_due = false;
    return changed;
}

double PowerFlowSolver::compute_pst_sensitivity(const Network& network, int mon, int pst) {
    if (!valid_branch(network, mon) || !valid_branch(network, pst)) return 0.0;
    const Branch& monitored = network.branches[mon];
    const Branch& shifter = network.branches[pst];
    if (monitored.status == 0 || shifter.status == 0) return 0.0;
    if (!valid_bus(network, monitored.from) || !valid_bus(network, monitored.to) ||
        !valid_bus(network, shifter.from) || !valid_bus(network, shifter.to))
        return 0.0;

    match_state_to_network(network, v, theta);

    // Partial derivatives of the monitored P_ft by the state, in Jacobian column order.
    std::vector<double>& rhs = adjoint;
    rhs.assign(2 * network.buses.size(), 0.0);
    {
        const int f = monitored.from;
        const int t = monitored.to;
        const double a = monitored.ratio;
        const double w = v[t] / a;
        const double angle = theta[f] - theta[t] + monitored.shift;
        const double e = monitored.g_from * std::cos(angle) + monitored.b_from * std::sin(angle);
        const double fe = monitored.b_from * std::cos(angle) - monitored.g_from * std::sin(angle);
        rhs[2 * f] += 2 * v[f] * (monitored.g_from + monitored.g_shunt_from) - w * e;
        rhs[2 * f + 1] += -v[f] * w * fe;
        rhs[2 * t] += -v[f] * e / a;
        rhs[2 * t + 1] += v[f] * w * fe;
    }

    // Adjoint: lambda = J^-T dP/dx with the factorisation of the last Newton step.
    klu.tsolve(rhs);

    // Derivatives of the phase shifter's four end flows by its shift. The pair (g_from, b_from)
    // serves both ends: move_pst keeps the two pairs equal.
    const int l = shifter.from;
    const int m = shifter.to;
    const double w = v[m] / shifter.ratio;
    const double angle = theta[l] - theta[m] + shifter.shift;
    const double g = shifter.g_from;
    const double b = shifter.b_from;
    const double s = std::sin(angle);
    const double c = std::cos(angle);
    const double dp_lm = v[l] * w * (g * s - b * c);
    const double dq_lm = -v[l] * w * (g * c + b * s);
    const double dp_ml = v[l] * w * (g * s + b * c);
    const double dq_ml = v[l] * w * (g * c - b * s);

    // Equations that the Newton system does not hold (the slack's active row, the reactive row
    // of a voltage-controlled bus) take no part in the adjoint term.
    const double d = l == network.slack_bus ? 0.0 : dp_lm;
    const double fq = reactive_row_held(network, l) ? 0.0 : dq_lm;
    const double gp = m == network.slack_bus ? 0.0 : dp_ml;
    const double iq = reactive_row_held(network, m) ? 0.0 : dq_ml;

    // A phase shifter monitoring its own flow changes it directly by dP_lm/dshift, also when it
    // starts at the slack bus; dropping that term would reverse the sign of the sensitivity.
    const double direct = mon == pst ? dp_lm : 0.0;
    return direct - (fq * rhs[2 * l] + d * rhs[2 * l + 1] + iq * rhs[2 * m] + gp * rhs[2 * m + 1]);
}

bool PowerFlowSolver::move_pst(Network& network, PhaseShifter& ps, int position) {
    const std::size_t count = ps.positions.size();
    if (count == 0 || position < 1 || position > ps.positions.back()) return false;
    if (ps.x.size() < count || ps.ratios.size() < count || ps.shifts.size() < count) return false;
    if (!valid_branch(network, ps.branch)) return false;

    PhaseShifterSetting setting;
    if (!phase_shifter_setting(ps, position, setting)) return false;
    ps.pos = position;
    apply_phase_shifter_setting(network.branches[ps.branch], ps, setting);
    return true;
}

}  // namespace varnok
