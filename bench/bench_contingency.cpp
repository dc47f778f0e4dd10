// Full N-1 (every branch and every generator but the slack's) of the large reference networks,
// from the solved base case, single-threaded: contingencies per second, and where the time of
// one contingency goes.
//
// Two passes over the same list. The first is ContingencyAnalysis::run itself. The second takes
// the stages of run() one by one with a clock around each (restore, steps, pruning, redispatch,
// reset of voltages and taps, the fresh solve, screening), so that the pieces add up to that
// pass's whole; inside the solve the pattern build, each KLU call and the solver's other steps
// are timed where they run (solve_timing.h), and "the solve's own steps" is what lies between
// them. Other load on the machine only ever adds time; compare figures of one pass.
//
// usage: bench_contingency [cases dir] [stride] [case ...]
//   stride k studies every k-th contingency of the list (default 1: all of them);
//   the cases default to case2383wp and case9241pegase.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "solve_timing.h"
#include "studies/ContingencyAnalysis.h"
#include "studies/Redispatch.h"

namespace {

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

// Milliseconds summed over the contingencies of the second pass; `solve` holds the pieces
// timed inside the solves.
struct Stages {
    double restore = 0, steps = 0, prune = 0, redispatch = 0, reset = 0, screen = 0;
    Split solve;
    double whole() const {
        return restore + steps + prune + redispatch + reset + solve.whole + screen;
    }
};

// The stages of one contingency as ContingencyAnalysis::run takes them, each timed.
void study_in_stages(Network& net, const SolverParams& params, const Contingency& c,
                     const ContingencyAnalysis::NetworkSnapshot& snapshot,
                     const ContingencyAnalysis::Thresholds& t, Stages& stages) {
    const ContingencyAnalysis analysis;
    timed(stages.restore, [&] { analysis.restore(net, snapshot); });
    ContingencyAnalysis::Result result;
    double lost = timed(stages.steps, [&] {
        result.name = c.name;
        return analysis.apply_steps(net, c, nullptr, result);
    });
    double island = 0.0;
    timed(stages.prune, [&] { net.prune_islands(nullptr, &island); });
    lost += island;
    timed(stages.redispatch, [&] {
        if (lost != 0.0) redispatch_generation(net, lost, params);
    });
    timed(stages.reset, [&] { analysis.reset_voltages_and_taps(net, snapshot); });

    current = Split{};
    inner_ms = 0.0;
    SolveResult solved;
    const double solve_ms = [&] {
        double ms = 0.0;
        timed(ms, [&] {
            PowerFlowSolver solver;
            solved = solver.solve(net, params);
        });
        return ms;
    }();
    current.ms[OWN_STEPS] = solve_ms - inner_ms;
    for (int p = 0; p < PIECE_COUNT; ++p) {
        stages.solve.ms[p] += current.ms[p];
        stages.solve.calls[p] += current.calls[p];
    }
    stages.solve.whole += solve_ms;

    timed(stages.screen, [&] {
        result.converged = solved.converged;
        if (solved.converged) analysis.screen(net, snapshot, t, result);
    });
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
    // A band and limits that case2383wp's base case meets (case9241pegase's base case has some
    // 400 violations, mostly rated branches loaded beyond 120 %): each violation costs a text.
    const ContingencyAnalysis::Thresholds t{0.85, 1.15, 120.0, 0.05};
    const double n = static_cast<double>(list.size());

    double whole = 0.0;
    const std::vector<ContingencyAnalysis::Result> results = timed(whole, [&] {
        return analysis.run(net, params, list, t.vmin, t.vmax, t.max_loading_pct, t.max_drop,
                            nullptr);
    });
    int converged = 0, accepted = 0;
    std::size_t violations = 0;
    for (const auto& r : results) {
        converged += r.converged;
        accepted += r.accepted;
        violations += r.violations.size();
    }

    const ContingencyAnalysis::NetworkSnapshot snapshot = analysis.save(net);
    Stages stages;
    for (const Contingency& c : list) study_in_stages(net, params, c, snapshot, t, stages);
    analysis.restore(net, snapshot);

    const std::size_t slash = path.find_last_of('/');
    std::printf("\n%s: %zu buses, %zu branches, %zu generators; %zu of %zu contingencies "
                "(stride %d), %d converged, %d accepted, %.1f violations each\n",
                path.substr(slash + 1).c_str(), net.buses.size(), net.branches.size(),
                net.generators.size(), list.size(), all.size(), stride, converged, accepted,
                static_cast<double>(violations) / n);
    std::printf("  ContingencyAnalysis::run   %9.3f ms per contingency, %8.1f per second\n",
                whole / n, 1000.0 * n / whole);
    const double staged = stages.whole();
    auto row = [&](const char* what, double ms, double calls) {
        std::printf("    %-26s %9.4f  %5.1f %%", what, ms / n, 100.0 * ms / staged);
        if (calls > 0) std::printf("  x %.2f", calls / n);
        std::printf("\n");
    };
    std::printf("  staged pass, per contingency (ms, share, calls):\n");
    row("restore", stages.restore, 0);
    row("steps", stages.steps, 0);
    row("pruning", stages.prune, 0);
    row("redispatch", stages.redispatch, 0);
    row("reset voltages and taps", stages.reset, 0);
    std::printf("    solve:\n");
    const Split& s = stages.solve;
    for (int p = 0; p < PIECE_COUNT; ++p)
        if (s.calls[p] > 0 || p == OWN_STEPS)
            row(kPieceNames[p], s.ms[p], p == OWN_STEPS ? 0 : s.calls[p]);
    row("screening", stages.screen, 0);
    std::printf("    %-26s %9.4f  (the pieces add up to it)\n", "staged whole", staged / n);
#ifdef VARNOK_BENCH_INTERPOSED
    const double ours = stages.restore + stages.steps + stages.prune + stages.redispatch +
                        stages.reset + stages.screen;
    std::printf("  contingency / its KLU calls: %.2f; the study's own stages %.2f, the pattern "
                "%.2f, the solve's other steps %.2f of the KLU time\n",
                staged / s.klu(), ours / s.klu(), s.ms[PATTERN] / s.klu(),
                (s.whole - s.klu() - s.ms[PATTERN]) / s.klu());
#else
    std::printf("  (the solve is not split: this build cannot route the solver's calls)\n");
#endif
    std::printf("  the run pass took %.2f times the staged whole\n", whole / staged);
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
