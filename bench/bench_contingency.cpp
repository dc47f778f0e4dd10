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
// Every figure comes in two columns: "default", this program as it is, and "kept", a copy of it
// run with the C library's allocator told never to give memory back (bench/kept_memory.h). The
// two alternate for three rounds of both passes; the run pass shows the median of the rounds,
// the staged pass the round whose staged whole is the median. Page faults are counted per
// contingency over each pass.
//
// usage: bench_contingency [cases dir] [stride] [case ...]
//   stride k studies every k-th contingency of the list (default 10; 1: all of them);
//   the cases default to case2383wp and case9241pegase.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bench_common.h"
#include "kept_memory.h"
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
                     const ContingencyAnalysis::Thresholds& t, PowerFlowSolver& solver,
                     Stages& stages) {
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
            solver.renew();  // a fresh solver in the run's memory, as run() makes it
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

// The network of a case solved as the base of its contingencies, and the list studied.
struct Study {
    Network net;
    SolverParams params;
    std::vector<Contingency> all, list;
};

void prepare(const std::string& path, int stride, Study& study) {
    InputParser{}.load(path, study.net, study.params);
    study.net.prune_islands();
    {
        PowerFlowSolver base;
        if (!base.solve(study.net, study.params).converged)
            throw std::runtime_error("base case diverges");
        base.compute_injections(study.net, study.params);
    }
    study.all = ContingencyAnalysis{}.generate_n1(study.net, true, true, false);
    for (std::size_t i = 0; i < study.all.size(); i += static_cast<std::size_t>(stride))
        study.list.push_back(study.all[i]);
}

// A band and limits that case2383wp's base case meets (case9241pegase's base case has some
// 400 violations, mostly rated branches loaded beyond 120 %): each violation costs a text.
const ContingencyAnalysis::Thresholds kThresholds{0.85, 1.15, 120.0, 0.05};

// One round: the run pass and the staged pass, per contingency where said.
struct Pass {
    double run_ms = 0.0;      // per contingency
    double run_faults = 0.0;  // per contingency
    double staged_faults = 0.0;
    Stages stages;            // summed over the contingencies
    int converged = 0, accepted = 0;
    double violations = 0.0;  // per contingency
};

Pass one_pass(Study& study) {
    const ContingencyAnalysis analysis;
    const ContingencyAnalysis::Thresholds& t = kThresholds;
    const double n = static_cast<double>(study.list.size());
    Pass pass;
    double whole = 0.0;
    long faults = bench::minor_faults();
    const std::vector<ContingencyAnalysis::Result> results = timed(whole, [&] {
        return analysis.run(study.net, study.params, study.list, t.vmin, t.vmax,
                            t.max_loading_pct, t.max_drop, nullptr);
    });
    pass.run_faults = static_cast<double>(bench::minor_faults() - faults) / n;
    pass.run_ms = whole / n;
    std::size_t violations = 0;
    for (const auto& r : results) {
        pass.converged += r.converged;
        pass.accepted += r.accepted;
        violations += r.violations.size();
    }
    pass.violations = static_cast<double>(violations) / n;

    const ContingencyAnalysis::NetworkSnapshot snapshot = analysis.save(study.net);
    faults = bench::minor_faults();
    PowerFlowSolver solver;
    for (const Contingency& c : study.list)
        study_in_stages(study.net, study.params, c, snapshot, t, solver, pass.stages);
    pass.staged_faults = static_cast<double>(bench::minor_faults() - faults) / n;
    analysis.restore(study.net, snapshot);
    return pass;
}

// A pass as a line of numbers, for the program that reads the kept copy's figures.
void print_pass(const Pass& p) {
    const Stages& s = p.stages;
    std::printf("pass %.17g %.17g %.17g %d %d %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g",
                p.run_ms, p.run_faults, p.staged_faults, p.converged, p.accepted, p.violations,
                s.restore, s.steps, s.prune, s.redispatch, s.reset, s.screen, s.solve.whole);
    s.solve.print_pieces();
    std::printf("\n");
}

bool read_pass(const std::string& text, Pass& p) {
    const std::vector<double> x = bench::tagged_numbers(text, "pass");
    if (x.size() != 13 + 2 * static_cast<std::size_t>(PIECE_COUNT)) return false;
    p.run_ms = x[0];
    p.run_faults = x[1];
    p.staged_faults = x[2];
    p.converged = static_cast<int>(x[3]);
    p.accepted = static_cast<int>(x[4]);
    p.violations = x[5];
    Stages& s = p.stages;
    s.restore = x[6];
    s.steps = x[7];
    s.prune = x[8];
    s.redispatch = x[9];
    s.reset = x[10];
    s.screen = x[11];
    s.solve.whole = x[12];
    s.solve.read_pieces(x, 13);
    return true;
}

// The rounds of one column: the run pass's median, and the round whose staged whole is the
// median, so that its pieces still add up.
struct Column {
    double run_ms = 0.0, run_faults = 0.0;
    Pass staged;
};

Column combine(std::vector<Pass> rounds) {
    Column c;
    std::vector<double> run_ms, run_faults;
    for (const Pass& p : rounds) {
        run_ms.push_back(p.run_ms);
        run_faults.push_back(p.run_faults);
    }
    c.run_ms = median(run_ms);
    c.run_faults = median(run_faults);
    std::sort(rounds.begin(), rounds.end(),
              [](const Pass& a, const Pass& b) { return a.stages.whole() < b.stages.whole(); });
    c.staged = rounds[rounds.size() / 2];
    return c;
}

constexpr int kRounds = 3;

void print_columns(const Study& study, const Column& d, const Column& k) {
    const double n = static_cast<double>(study.list.size());
    std::printf("  %-32s %10s %10s\n", "", "default", "kept");
    std::printf("  %-32s %10.3f %10.3f  ms per contingency\n", "ContingencyAnalysis::run",
                d.run_ms, k.run_ms);
    std::printf("  %-32s %10.1f %10.1f\n", "contingencies per second", 1000.0 / d.run_ms,
                1000.0 / k.run_ms);
    std::printf("  %-32s %10s %10.2f\n", "default / kept", "", d.run_ms / k.run_ms);
    std::printf("  %-32s %10.1f %10.1f\n", "page faults per contingency", d.run_faults,
                k.run_faults);
    std::printf("  staged pass, per contingency (ms; calls; share of the default whole):\n");
    const Stages& a = d.staged.stages;
    const Stages& b = k.staged.stages;
    const double staged = a.whole();
    auto row = [&](const char* what, double x, double y, double calls) {
        std::printf("    %-30s %10.4f %10.4f", what, x / n, y / n);
        if (calls > 0)
            std::printf("  x %5.2f", calls / n);
        else
            std::printf("  %7s", "");
        std::printf("  %5.1f %%\n", 100.0 * x / staged);
    };
    row("restore", a.restore, b.restore, 0);
    row("steps", a.steps, b.steps, 0);
    row("pruning", a.prune, b.prune, 0);
    row("redispatch", a.redispatch, b.redispatch, 0);
    row("reset voltages and taps", a.reset, b.reset, 0);
    std::printf("    solve:\n");
    for (int p = 0; p < PIECE_COUNT; ++p)
        if (a.solve.calls[p] > 0 || p == OWN_STEPS)
            row(kPieceNames[p], a.solve.ms[p], b.solve.ms[p],
                p == OWN_STEPS ? 0 : a.solve.calls[p]);
    row("screening", a.screen, b.screen, 0);
    std::printf("    %-30s %10.4f %10.4f  (the pieces add up to it)\n", "staged whole",
                staged / n, b.whole() / n);
    std::printf("    %-30s %10.1f %10.1f\n", "page faults per contingency",
                d.staged.staged_faults, k.staged.staged_faults);
#ifdef VARNOK_BENCH_INTERPOSED
    for (const auto& [what, s] : {std::pair<const char*, const Stages*>{"default", &a},
                                  std::pair<const char*, const Stages*>{"kept", &b}}) {
        const double ours =
            s->restore + s->steps + s->prune + s->redispatch + s->reset + s->screen;
        const double klu = s->solve.klu();
        std::printf("  %s: contingency / its KLU calls %.2f; the study's own stages %.2f, the "
                    "pattern %.2f, the solve's other steps %.2f of the KLU time\n",
                    what, s->whole() / klu, ours / klu, s->solve.ms[PATTERN] / klu,
                    (s->solve.whole - klu - s->solve.ms[PATTERN]) / klu);
    }
#else
    std::printf("  (the solve is not split: this build cannot route the solver's calls)\n");
#endif
}

// The kept copy's part: one round of one case, printed as numbers.
int kept_round(const std::string& path, int stride) {
    Study study;
    prepare(path, stride, study);
    print_pass(one_pass(study));
    return 0;
}

bool bench_case(const std::string& path, int stride) {
    Study study;
    prepare(path, stride, study);
    std::vector<Pass> mine, kept;
    for (int round = 0; round < kRounds; ++round) {
        mine.push_back(one_pass(study));
        Pass copy;
        if (!read_pass(bench::run_kept_copy({path, std::to_string(stride)}), copy)) {
            std::printf("\n%s: the kept copy of this program gave no figures\n", path.c_str());
            return false;
        }
        kept.push_back(copy);
    }
    const Pass& first = mine.front();
    const std::size_t slash = path.find_last_of('/');
    std::printf("\n%s: %zu buses, %zu branches, %zu generators; %zu of %zu contingencies "
                "(stride %d), %d converged, %d accepted, %.1f violations each\n",
                path.substr(slash + 1).c_str(), study.net.buses.size(),
                study.net.branches.size(), study.net.generators.size(), study.list.size(),
                study.all.size(), stride, first.converged, first.accepted, first.violations);
    print_columns(study, combine(mine), combine(kept));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (bench::is_kept_copy(argc, argv)) {
        if (argc < 3) return 2;
        try {
            return kept_round(argv[1], std::max(1, std::atoi(argv[2])));
        } catch (const std::exception&) {
            return 1;
        }
    }
    const std::string dir = argc > 1 ? argv[1] : VARNOK_CASES_DIR;
    const int stride = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
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
