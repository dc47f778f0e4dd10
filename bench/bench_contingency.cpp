// Full N-1 (every branch and every generator but the slack's) of the large reference networks,
// from the solved base case, single-threaded: contingencies per second, and where the time of
// one contingency goes.
//
// Two passes over the same list. The first is ContingencyAnalysis::run itself. The second takes
// the stages of run() one by one with a clock around each (restore, steps, pruning, redispatch,
// reset of voltages and taps, the fresh solve, screening), so that the pieces add up to that
// pass's whole. The solve is split after the fact: the same Newton steps are taken again, from
// the same state, by a replica that times the pattern build and each KLU call (the reference
// networks switch the controls off, so its steps are those of the solve); what the solve took
// beyond them is "rest of the solve" (mismatches, Jacobian values, allocation).
//
// usage: bench_contingency [cases dir] [stride] [case ...]
//   stride k studies every k-th contingency of the list (default 1: all of them);
//   the cases default to case2383wp and case9241pegase.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/Redispatch.h"

namespace {

using namespace varnok;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs `f` and adds its milliseconds to `total`.
template <typename F>
auto timed(double& total, F&& f) {
    const auto start = Clock::now();
    if constexpr (std::is_void_v<decltype(f())>) {
        f();
        total += ms_since(start);
    } else {
        auto r = f();
        total += ms_since(start);
        return r;
    }
}

// Milliseconds summed over the contingencies of the second pass.
struct Split {
    double restore = 0, steps = 0, prune = 0, redispatch = 0, reset = 0, solve = 0, screen = 0;
    double pattern = 0, analyze = 0, factor = 0, refactor = 0, klu_solve = 0;
    int factors = 0, refactors = 0, klu_solves = 0, replica_mismatch = 0;
    double klu() const { return analyze + factor + refactor + klu_solve; }
    double whole() const { return restore + steps + prune + redispatch + reset + solve + screen; }
};

// The Newton steps of PowerFlowSolver::solve without controls, timing the pattern and the KLU
// calls; returns the iteration count and whether it converged.
std::pair<int, bool> replica(Network& net, const SolverParams& p, Split& split) {
    PowerFlowSolver s;
    s.init_state(net);
    timed(split.pattern, [&] { s.jacobian.build_structure(net); });
    const double base = p.sbase;
    for (int k = 1; k <= p.nbitma; ++k) {
        for (const Generator& g : net.generators)
            if (g.status == 1 && g.mode == GEN_VOLTAGE_CONTROL && net.buses[g.bus].type != ISOLATED)
                s.v[g.bus] = g.v_set;
        s.compute_mismatch(net);
        double max_p = 0, max_q = 0, max_s = 0;
        for (std::size_t i = 0; i < net.buses.size(); ++i) {
            const double q = s.mismatch[2 * i], pp = s.mismatch[2 * i + 1];
            max_q = std::max(max_q, std::fabs(q));
            max_p = std::max(max_p, std::fabs(pp));
            max_s = std::max(max_s, std::sqrt(q * q + pp * pp));
        }
        if (max_p < p.tolac / base && max_q < p.tolreac / base) return {k, true};
        s.jacobian.compute_jacobian(net, s.v, s.theta);
        try {
            if (k == 1) {
                timed(split.analyze, [&] { s.klu.analyze(s.jacobian); });
                timed(split.factor, [&] { s.klu.factor(s.jacobian); });
                ++split.factors;
            } else if (max_s > p.misbloc / base) {
                timed(split.factor, [&] { s.klu.factor(s.jacobian); });
                ++split.factors;
            } else {
                const int ok = timed(split.refactor, [&] { return s.klu.refactor(s.jacobian); });
                ++split.refactors;
                if (!ok) return {k, false};
            }
            timed(split.klu_solve, [&] { s.klu.solve(s.mismatch); });
            ++split.klu_solves;
        } catch (const std::runtime_error&) {
            return {k, false};
        }
        for (std::size_t i = 0; i < s.v.size(); ++i) {
            s.v[i] += s.mismatch[2 * i];
            s.theta[i] += s.mismatch[2 * i + 1];
        }
    }
    return {p.nbitma, false};
}

// The stages of one contingency as ContingencyAnalysis::run takes them, each timed.
void study_in_stages(Network& net, const SolverParams& params, const Contingency& c,
                     const ContingencyAnalysis::NetworkSnapshot& snapshot,
                     const ContingencyAnalysis::Thresholds& t, Split& split) {
    const ContingencyAnalysis analysis;
    timed(split.restore, [&] { analysis.restore(net, snapshot); });
    ContingencyAnalysis::Result result;
    double lost = timed(split.steps, [&] {
        result.name = c.name;
        return analysis.apply_steps(net, c, nullptr);
    });
    double island = 0.0;
    timed(split.prune, [&] { net.prune_islands(nullptr, &island); });
    lost += island;
    timed(split.redispatch, [&] {
        if (lost != 0.0) redispatch_generation(net, lost, params);
    });
    timed(split.reset, [&] { analysis.reset_voltages_and_taps(net, snapshot); });
    SolveResult solved;
    timed(split.solve, [&] {
        PowerFlowSolver solver;
        solved = solver.solve(net, params);
    });
    timed(split.screen, [&] {
        result.converged = solved.converged;
        if (solved.converged) analysis.screen(net, snapshot, t, result);
    });
    // Outside the clock: the same Newton steps again, to split the solve.
    analysis.reset_voltages_and_taps(net, snapshot);
    const auto [iterations, converged] = replica(net, params, split);
    if (iterations != solved.iterations || converged != solved.converged) ++split.replica_mismatch;
}

bool bench_case(const std::string& path, int stride) {
    Network net;
    SolverParams params;
    InputParser{}.load(path, net, params);
    net.prune_islands();
    {
        PowerFlowSolver base;
        if (!base.solve(net, params).converged) throw std::runtime_error("base case diverges");
        base.compute_injections(net, params);
    }
    const ContingencyAnalysis analysis;
    const std::vector<Contingency> all = analysis.generate_n1(net, true, true, false);
    std::vector<Contingency> list;
    for (std::size_t i = 0; i < all.size(); i += static_cast<std::size_t>(stride))
        list.push_back(all[i]);
    const ContingencyAnalysis::Thresholds t{0.9, 1.1, 100.0, 0.1};
    const double n = static_cast<double>(list.size());

    double whole = 0.0;
    const std::vector<ContingencyAnalysis::Result> results = timed(whole, [&] {
        return analysis.run(net, params, list, t.vmin, t.vmax, t.max_loading_pct, t.max_drop,
                            nullptr);
    });
    int converged = 0, accepted = 0;
    for (const auto& r : results) {
        converged += r.converged;
        accepted += r.accepted;
    }

    const ContingencyAnalysis::NetworkSnapshot snapshot = analysis.save(net);
    Split split;
    for (const Contingency& c : list) study_in_stages(net, params, c, snapshot, t, split);
    analysis.restore(net, snapshot);

    const std::size_t slash = path.find_last_of('/');
    std::printf("\n%s: %zu buses, %zu branches, %zu generators; %zu of %zu contingencies "
                "(stride %d), %d converged, %d accepted\n",
                path.substr(slash + 1).c_str(), net.buses.size(), net.branches.size(),
                net.generators.size(), list.size(), all.size(), stride, converged, accepted);
    std::printf("  ContingencyAnalysis::run   %9.3f ms per contingency, %8.1f per second\n",
                whole / n, 1000.0 * n / whole);
    const double pieces_solve = split.pattern + split.klu();
    const struct {
        const char* what;
        double ms;
    } rows[] = {
        {"restore", split.restore},
        {"steps", split.steps},
        {"pruning", split.prune},
        {"redispatch", split.redispatch},
        {"reset voltages and taps", split.reset},
        {"pattern", split.pattern},
        {"KLU analysis", split.analyze},
        {"KLU factorisations", split.factor},
        {"KLU refactorisations", split.refactor},
        {"KLU solves", split.klu_solve},
        {"rest of the solve", split.solve - pieces_solve},
        {"screening", split.screen},
    };
    std::printf("  split, per contingency (ms, share of the staged whole):\n");
    for (const auto& row : rows)
        std::printf("    %-24s %9.4f  %5.1f %%\n", row.what, row.ms / n,
                    100.0 * row.ms / split.whole());
    std::printf("    %-24s %9.4f  (pieces add up to this)\n", "staged whole",
                split.whole() / n);
    std::printf("  KLU calls per contingency: 1 analysis, %.2f factorisations, %.2f "
                "refactorisations, %.2f solves\n",
                split.factors / n, split.refactors / n, split.klu_solves / n);
    // Both passes see the same machine only roughly (others may share it): the ratio to the
    // KLU calls is taken within the staged pass.
    std::printf("  contingency / its KLU calls: %.2f (staged pass; the run pass took %.2f times "
                "the staged whole)\n",
                split.whole() / split.klu(), whole / split.whole());
    if (split.replica_mismatch)
        std::printf("  note: the replica took other steps than the solve in %d contingencies\n",
                    split.replica_mismatch);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : VARNOK_CASES_DIR;
    const int stride = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::vector<std::string> cases;
    for (int i = 3; i < argc; ++i) cases.push_back(argv[i]);
    if (cases.empty()) cases = {"case2383wp", "case9241pegase"};
    bool ok = true;
    for (const std::string& name : cases) {
        try {
            ok = bench_case(dir + "/" + name + ".txt", stride) && ok;
        } catch (const std::exception& e) {
            std::printf("\n%s: failed: %s\n", name.c_str(), e.what());
            ok = false;
        }
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}
