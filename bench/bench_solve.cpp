// Power-flow solve time on the reference networks, and where it goes.
//
// For every <case>.txt with a <case>.ref in the reference directory: load, then solve as
// varnok_solve does (prune islands, solve, recompute the unit outputs) from the file's start,
// once by a fresh solver per run (made and dropped inside the clock, as a contingency does) and
// once by a solver kept from run to run (the network reset to the loaded state in between,
// outside the clock). The answer is checked against the .ref file (|V| pu and angle rad within
// 1e-6).
//
// Where the linker allows it (Linux), every call into KLU and every step of the solver is timed
// inside the real solve: the linker routes those calls through the timers below, each of which
// counts only its own time, not that of the timed calls made inside it. The pieces of one solve
// then add up to its whole; "the solve's own steps" is what lies between them (voltage
// setpoints, mismatch summaries, clamping, corrections, the solver's allocations). Of all runs,
// the one with the shortest whole is printed, with the median whole beside it: the machine's
// other load only ever adds time.
//
// usage: bench_solve [reference directory] [minimum runs] [controls]
// With "controls" the reactive limits and the taps act as by default ($MISQLIM 20, $MISADJ 10)
// instead of as the files set them (off); the reference check is then skipped.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <klu.h>

#include "bench_common.h"
#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "solve_timing.h"

namespace {

// --- Cases ---------------------------------------------------------------------------------

struct Loaded {
    Network network;
    SolverParams params;
};

Loaded load(const std::string& path, bool controls) {
    Loaded l;
    InputParser{}.load(path, l.network, l.params);
    if (controls) {
        const SolverParams defaults;
        l.params.misqlim = defaults.misqlim;
        l.params.misadj = defaults.misadj;
    }
    l.network.save_initial_snapshot();
    return l;
}

struct RefBus {
    std::string name;
    double v, angle;
};

std::vector<RefBus> read_ref(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<RefBus> ref;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        RefBus b;
        if (fields >> b.name >> b.v >> b.angle) ref.push_back(b);
    }
    return ref;
}

struct Check {
    double dv = 0, da = 0;
    int missing = 0;
};

Check check(const Network& net, const std::vector<RefBus>& ref) {
    Check c;
    for (const RefBus& r : ref) {
        const int b = net.find_bus(r.name);
        if (b < 0) {
            ++c.missing;
            continue;
        }
        c.dv = std::max(c.dv, std::fabs(net.buses[b].v - r.v));
        c.da = std::max(c.da, std::fabs(net.buses[b].angle - r.angle));
    }
    return c;
}

// What varnok_solve does with the handle's network, settings and solver. The unit outputs are
// timed by their interposed call.
SolveResult host_solve(Network& network, const SolverParams& params, PowerFlowSolver& solver) {
    {
        const Timed timed(PRUNING);
        network.prune_islands(nullptr, nullptr);
    }
    const SolveResult result = solver.solve(network, params, nullptr, {}, {});
    solver.compute_injections(network, params);
    return result;
}

struct Timing {
    Split fastest;         // the split of the run with the shortest whole
    double median = 0.0;  // median whole, ms
};

// Runs `run` at least `runs` times and for about a quarter second in all, `prepare` before each
// run outside the clock.
Timing time_solves(const std::function<void()>& prepare, const std::function<void()>& run,
                   int runs) {
    Timing timing;
    std::vector<double> wholes;
    double total = 0.0;
    while (static_cast<int>(wholes.size()) < runs || (total < 250.0 && wholes.size() < 2000)) {
        prepare();
        current = Split{};
        inner_ms = 0.0;
        const auto start = Clock::now();
        run();
        current.whole = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        current.ms[OWN_STEPS] = current.whole - inner_ms;
        wholes.push_back(current.whole);
        total += current.whole;
        if (wholes.size() == 1 || current.whole < timing.fastest.whole) timing.fastest = current;
    }
    timing.median = median(wholes);
    return timing;
}

void print_split(const Timing& fresh, const Timing& kept) {
    const Split& a = fresh.fastest;
    const Split& b = kept.fastest;
    std::printf("  %-28s %10s %6s %10s %6s\n", "", "fresh", "calls", "repeated", "calls");
    for (int p = 0; p < PIECE_COUNT; ++p) {
        if (p == OWN_STEPS) {
            std::printf("  %-28s %10.3f %6s %10.3f\n", kPieceNames[p], a.ms[p], "", b.ms[p]);
            continue;
        }
        if (a.calls[p] == 0 && b.calls[p] == 0) continue;
        std::printf("  %-28s %10.3f %6d %10.3f %6d\n", kPieceNames[p], a.ms[p], a.calls[p],
                    b.ms[p], b.calls[p]);
    }
    std::printf("  %-28s %10.3f %6s %10.3f\n", "sum of the pieces", a.sum(), "", b.sum());
    std::printf("  %-28s %10.3f %6s %10.3f\n", "whole solve (shortest run)", a.whole, "", b.whole);
    std::printf("  %-28s %10.3f %6s %10.3f\n", "whole solve (median run)", fresh.median, "",
                kept.median);
    std::printf("  %-28s %10.3f %6s %10.3f\n", "KLU calls in all", a.klu(), "", b.klu());
    std::printf("  %-28s %10.3f %6s %10.3f\n", "outside KLU", a.whole - a.klu(), "",
                b.whole - b.klu());
#ifdef VARNOK_BENCH_INTERPOSED
    std::printf("  %-28s %10.2f %6s %10.2f\n", "solve / KLU calls", a.whole / a.klu(), "",
                b.whole / b.klu());
#endif
}

bool bench_case(const std::string& txt, const std::string& ref_path, int runs, bool controls) {
    const std::string name = std::filesystem::path(txt).stem().string();
    Loaded l = load(txt, controls);

    // One solve for the answer.
    SolveResult result;
    {
        PowerFlowSolver solver;
        result = host_solve(l.network, l.params, solver);
    }
    const Check c = check(l.network, read_ref(ref_path));
    const bool ok = controls || (result.converged && c.missing == 0 && c.dv < 1e-6 && c.da < 1e-6);

    const Timing fresh = time_solves([&] { l.network.reset_to_initial(); },
                                     [&] {
                                         PowerFlowSolver solver;
                                         host_solve(l.network, l.params, solver);
                                     },
                                     runs);
    PowerFlowSolver kept;  // its first solve, which builds and analyses, is not timed
    l.network.reset_to_initial();
    host_solve(l.network, l.params, kept);
    const Timing repeated = time_solves([&] { l.network.reset_to_initial(); },
                                        [&] { host_solve(l.network, l.params, kept); }, runs);

    const SparseMatrix& J = kept.jacobian;
    std::printf("\n%s: %zu buses, %zu branches, %d Jacobian entries, %d iterations (%s)%s\n",
                name.c_str(), l.network.buses.size(), l.network.branches.size(),
                J.col_ptr.empty() ? 0 : J.col_ptr[J.n], result.iterations,
                result.converged ? "converged" : "NOT converged",
                controls ? ", reactive limits and taps on" : "");
    print_split(fresh, repeated);
    if (!controls)
        std::printf("  check against %s: max |dV| %.2e pu, max |dangle| %.2e rad%s: %s\n",
                    std::filesystem::path(ref_path).filename().string().c_str(), c.dv, c.da,
                    c.missing ? " (buses missing)" : "", ok ? "PASS" : "FAIL");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : VARNOK_CASES_DIR;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const bool controls = argc > 3 && std::string(argv[3]) == "controls";
#ifndef VARNOK_BENCH_INTERPOSED
    std::printf("(calls are not interposed on this platform: only whole solves are timed)\n");
#endif
    std::vector<std::filesystem::path> cases;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".txt") cases.push_back(entry.path());
    // Smallest first.
    std::sort(cases.begin(), cases.end(), [](const auto& a, const auto& b) {
        return std::filesystem::file_size(a) < std::filesystem::file_size(b);
    });
    bool all_ok = true;
    for (const auto& txt : cases) {
        std::filesystem::path ref = txt;
        ref.replace_extension(".ref");
        if (!std::filesystem::exists(ref)) continue;
        try {
            all_ok = bench_case(txt.string(), ref.string(), runs, controls) && all_ok;
        } catch (const std::exception& e) {
            std::printf("\n%s: failed: %s\n", txt.stem().string().c_str(), e.what());
            all_ok = false;
        }
    }
    return all_ok ? 0 : 1;
}
