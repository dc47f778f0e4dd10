// The Newton-Raphson iteration in polar coordinates.
//
// Every threshold given in MW, Mvar or MVA is divided by SolverParams::sbase before it meets a
// per-unit mismatch; every MW or Mvar value that leaves the solve (log lines, observers,
// SolveResult) is a per-unit value times that same base.
#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "powerflow/PowerFlow.h"
#include "powerflow/SolverLog.h"

namespace varnok {

namespace {

// The largest mismatches of one evaluation, per unit.
struct MismatchSummary {
    double norm = 0.0;   // Euclidean norm over all 2N entries
    double max_p = 0.0;  // largest |active bus mismatch|
    double max_q = 0.0;  // largest |reactive bus mismatch|
    double max_s = 0.0;  // largest bus apparent mismatch
};

// The larger of the two, NaN when either is: a bus whose mismatch is not a number (a branch
// with a zero ratio, an iterate run off to infinity) must keep the solve from converging.
double larger(double a, double b) { return b <= a ? a : (a < b ? b : std::nan("")); }

// One pass over the mismatch. The norm, read only by the divergence test, is summed when
// `with_norm`. The largest apparent mismatch takes one square root, of the largest sum of
// squares: the root is rounded correctly and never decreasing, so the root of the largest sum
// is the largest root.
MismatchSummary summarize(const std::vector<double>& m, bool with_norm) {
    MismatchSummary s;
    double sum = 0.0;
    double max_s2 = 0.0;
    for (std::size_t i = 0; i + 1 < m.size(); i += 2) {
        const double q = m[i];
        const double p = m[i + 1];
        if (with_norm) {
            sum += q * q;
            sum += p * p;
        }
        s.max_q = larger(s.max_q, std::fabs(q));
        s.max_p = larger(s.max_p, std::fabs(p));
        max_s2 = larger(max_s2, q * q + p * p);
    }
    s.norm = std::sqrt(sum);
    s.max_s = std::sqrt(max_s2);
    return s;
}

// The iteration line and the lines of the buses whose mismatch exceeds a tolerance.
void log_iteration(std::ostream* log, int k, const MismatchSummary& s, const Network& network,
                   const std::vector<double>& m, const SolverParams& params) {
    if (!log) return;
    const double base = params.sbase;
    *log << fmt::format("{:>6d}{:>25.1f}{:>11.1f}\n", k, s.max_p * base, s.max_q * base);
    for (std::size_t i = 0; i < network.buses.size(); ++i) {
        const Bus& bus = network.buses[i];
        if (bus.type == ISOLATED) continue;
        const double p = m[2 * i + 1] * base;
        const double q = m[2 * i] * base;
        const bool show_p = std::fabs(p) > params.tolac;
        const bool show_q = std::fabs(q) > params.tolreac;
        if (show_p && show_q)
            *log << fmt::format("{:>6d}  bus {:<8s}{:>11.1f}{:>11.1f}\n", k, bus.name, p, q);
        else if (show_p)
            *log << fmt::format("{:>6d}  bus {:<8s}{:>11.1f}\n", k, bus.name, p);
        else if (show_q)
            *log << fmt::format("{:>6d}  bus {:<8s}{:>22.1f}\n", k, bus.name, q);
    }
}

// The slack generator is exempt from the clamping when $PLIM is 1 and it has active limits.
bool slack_limits_relaxed(const Network& network, const SolverParams& params) {
    const int s = network.slack_bus;
    if (params.plim != 1 || s < 0 || s >= static_cast<int>(network.buses.size())) return false;
    const int g = network.buses[s].gen;
    if (g < 0 || g >= static_cast<int>(network.generators.size())) return false;
    return network.generators[g].has_p_limits;
}

// Initial active outputs outside their limits are clamped into them (the value stays).
void clamp_initial_outputs(Network& network, const SolverParams& params, bool relaxed,
                           std::ostream* log) {
    const double base = params.sbase;
    for (Generator& gen : network.generators) {
        if (gen.status != 1 || !gen.has_p_limits) continue;
        if (relaxed && gen.bus == network.slack_bus) continue;
        if (gen.p > gen.p_max) {
            log_line(log,
                     " Warning: Generator {} initial P ({:.1f} MW) exceeds PMAX "
                     "({:.1f} MW), clamped.\n",
                     gen.name, gen.p * base, gen.p_max * base);
            gen.p = gen.p_max;
        } else if (gen.p < gen.p_min) {
            log_line(log,
                     " Warning: Generator {} initial P ({:.1f} MW) below PMIN "
                     "({:.1f} MW), clamped.\n",
                     gen.name, gen.p * base, gen.p_min * base);
            gen.p = gen.p_min;
        }
    }
}

// Holds every voltage-controlled bus at its generator's setpoint.
void apply_voltage_setpoints(const Network& network, std::vector<double>& v) {
    for (const Generator& gen : network.generators) {
        if (gen.status != 1 || gen.mode != GEN_VOLTAGE_CONTROL) continue;
        if (gen.bus < 0 || gen.bus >= static_cast<int>(network.buses.size())) continue;
        if (network.buses[gen.bus].type == ISOLATED) continue;
        v[gen.bus] = gen.v_set;
    }
}

}  // namespace

SolveResult PowerFlowSolver::solve(Network& network, const SolverParams& params, std::ostream* log,
                                   IterationObserver on_iteration,
                                   LimitSwitchObserver on_limit_switch) {
    SolveResult result;
    if (params.nbitma == 0 || network.buses.empty()) return result;
    const double base = params.sbase;

    init_state(network);
    factorized = false;
    pst_sensitivity_due = true;
    pst_sensitivity.assign(network.phase_shifters.size(), 0.0);
    // The work vectors of the iterations sized now, so that no iteration allocates.
    bus_shunts.resize(network.buses.size());
    bus_units.resize(network.buses.size());
    if (!network.phase_shifters.empty()) adjoint.reserve(2 * network.buses.size());

    const bool relaxed = slack_limits_relaxed(network, params);
    if (relaxed) {
        const Generator& gen = network.generators[network.buses[network.slack_bus].gen];
        // the dash is an en dash, U+2013
        log_line(log, " P limits on slack generator {} relaxed (was {:.1f}\u2013{:.1f} MW)\n",
                 gen.name, gen.p_min * base, gen.p_max * base);
    }
    clamp_initial_outputs(network, params, relaxed, log);

    // A pattern that misses a branch now in service (reconnected after the pattern was built)
    // would drop that branch's coupling from every Jacobian, and Newton would crawl instead of
    // converging quadratically; such a pattern, or one built for another bus count, is rebuilt.
    if (!structure_built || !jacobian.covers(network)) {
        jacobian.build_structure(network);
        structure_built = true;
    }

    log_text(log, "\n   iter    max mismatches :  MW       Mvar\n\n");

    const bool divergence_test = params.divdet > 0;
    double prev = std::numeric_limits<double>::max();
    bool first = true;
    for (int k = 1; k <= params.nbitma; ++k) {
        result.iterations = k;
        apply_voltage_setpoints(network, v);

        compute_mismatch(network);
        MismatchSummary s = summarize(mismatch, divergence_test);

        if (divergence_test && !first && s.norm > prev * 1.1) {
            result.status = DIVERGED;
            log_text(log, " Divergence detected !\n");
            write_back(network);
            return result;
        }

        result.max_p_mismatch = s.max_p * base;
        result.max_q_mismatch = s.max_q * base;
        log_iteration(log, k, s, network, mismatch, params);
        if (on_iteration) on_iteration(k, s.max_p * base, s.max_q * base);

        bool switched = false;
        if (s.max_s < params.misqlim / base)
            switched = check_reactive_limits(network, params, log, on_limit_switch);

        bool tapped = false;
        if (s.max_s < params.misadj / base) {
            // the phase-shifter control reads branch flows from the buses' stored voltages
            if (!network.phase_shifters.empty()) write_back(network);
            tapped = adjust_taps(network, params, log);
        }

        if (s.max_p < params.tolac / base && s.max_q < params.tolreac / base && !switched &&
            !tapped) {
            result.converged = true;
            result.status = CONVERGED;
            write_back(network);
            return result;
        }

        prev = s.norm;

        if (switched || tapped) {
            compute_mismatch(network);
            s = summarize(mismatch, divergence_test);
            prev = s.norm;
            result.max_p_mismatch = s.max_p * base;
            result.max_q_mismatch = s.max_q * base;
            log_iteration(log, k, s, network, mismatch, params);
        }

        jacobian.compute_jacobian(network, v, theta);
        bool factor_ok = true;
        try {
            if (first) {
                // The pattern analysed last gives the same symbolic object again.
                if (!klu.analysed(jacobian)) klu.analyze(jacobian);
                klu.factor(jacobian);
                factorized = true;
            } else if (switched || s.max_s > params.misbloc / base) {
                klu.factor(jacobian);
            } else if (klu.refactor(jacobian) == 0) {
                factor_ok = false;
            }
            if (factor_ok) klu.solve(mismatch);
        } catch (const std::runtime_error&) {
            factor_ok = false;
        }
        if (!factor_ok) {
            result.status = SINGULAR_JACOBIAN;
            log_text(log, " Singular Jacobian matrix \u2014 power flow aborted !\n");
            write_back(network);
            return result;
        }

        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] += mismatch[2 * i];
            theta[i] += mismatch[2 * i + 1];
        }
        first = false;
        if (k == params.nbitma) break;  // a limit of INT_MAX must not step k past the int range
    }

    result.status = MAX_ITERATIONS;
    log_text(log, " Maximum number of iterations reached !\n");
    write_back(network);
    return result;
}

}  // namespace varnok
