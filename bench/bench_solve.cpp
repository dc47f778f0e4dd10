// Power-flow solve time on the reference networks, and where it goes.
//
// For every <case>.txt with a <case>.ref in the reference directory: load, then solve as
// varnok_solve does (prune islands, solve, recompute the unit outputs) from the file's start,
// once by a fresh solver per run (made and dropped inside the clock, as a contingency does) and
// once by a solver kept from run to run (the network reset to the loaded state in between,
// outside the clock). The answer is checked against the .ref file (|V| pu and angle rad within
// 1e-6).
//
// Every figure comes in two columns: "default", this program as it is, and "kept", a copy of it
// run with the C library's allocator told never to give memory back (bench/kept_memory.h), in
// which no freed page is faulted in again. The two alternate for three rounds; the split shown
// is that of the shortest run of all rounds, the median that of the rounds' medians, and the
// page faults per solve the median over the rounds of each round's median.
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
#include "kept_memory.h"
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
    double faults = 0.0;  // median page faults per solve
};

// Runs `run` at least `runs` times and for about a quarter second in all, `prepare` before each
// run outside the clock.
Timing time_solves(const std::function<void()>& prepare, const std::function<void()>& run,
                   int runs) {
    Timing timing;
    std::vector<double> wholes, faults;
    double total = 0.0;
    while (static_cast<int>(wholes.size()) < runs || (total < 250.0 && wholes.size() < 2000)) {
        prepare();
        current = Split{};
        inner_ms = 0.0;
        const long faults_before = bench::minor_faults();
        const auto start = Clock::now();
        run();
        current.whole = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        faults.push_back(static_cast<double>(bench::minor_faults() - faults_before));
        current.ms[OWN_STEPS] = current.whole - inner_ms;
        wholes.push_back(current.whole);
        total += current.whole;
        if (wholes.size() == 1 || current.whole < timing.fastest.whole) timing.fastest = current;
    }
    timing.median = median(wholes);
    timing.faults = median(faults);
    return timing;
}

// The fresh solver's and the kept solver's timings of one case in one process.
struct CaseTiming {
    Timing fresh, repeated;
};

CaseTiming time_case(Loaded& l, int runs) {
    CaseTiming t;
    t.fresh = time_solves([&] { l.network.reset_to_initial(); },
                          [&] {
                              PowerFlowSolver solver;
                              host_solve(l.network, l.params, solver);
                          },
                          runs);
    PowerFlowSolver kept;  // its first solve, which builds and analyses, is not timed
    l.network.reset_to_initial();
    host_solve(l.network, l.params, kept);
    t.repeated = time_solves([&] { l.network.reset_to_initial(); },
                             [&] { host_solve(l.network, l.params, kept); }, runs);
    return t;
}

// One timing as a line of numbers, for the program that reads the kept copy's figures.
void print_timing(const char* tag, const Timing& t) {
    std::printf("%s %.17g %.17g %.17g", tag, t.median, t.faults, t.fastest.whole);
    t.fastest.print_pieces();
    std::printf("\n");
}

bool read_timing(const std::string& text, const char* tag, Timing& t) {
    const std::vector<double> x = bench::tagged_numbers(text, tag);
    if (x.size() != 3 + 2 * static_cast<std::size_t>(PIECE_COUNT)) return false;
    t.median = x[0];
    t.faults = x[1];
    t.fastest.whole = x[2];
    t.fastest.read_pieces(x, 3);
    return true;
}

// The rounds of one column: the fastest split of all, the median of the medians and of the
// page faults.
Timing combine(const std::vector<Timing>& rounds) {
    Timing c;
    std::vector<double> medians, faults;
    for (const Timing& t : rounds) {
        if (medians.empty() || t.fastest.whole < c.fastest.whole) c.fastest = t.fastest;
        medians.push_back(t.median);
        faults.push_back(t.faults);
    }
    c.median = median(medians);
    c.faults = median(faults);
    return c;
}

struct Columns {
    Timing fresh_default, fresh_kept, repeated_default, repeated_kept;
};

void print_split(const Columns& c) {
    const Split& fd = c.fresh_default.fastest;
    const Split& fk = c.fresh_kept.fastest;
    const Split& rd = c.repeated_default.fastest;
    const Split& rk = c.repeated_kept.fastest;
    std::printf("  %-30s  %-24s  %-24s\n", "ms", "fresh solver", "repeated solve");
    std::printf("  %-30s %9s %8s %5s   %9s %8s %5s\n", "", "default", "kept", "calls", "default",
                "kept", "calls");
    auto row = [](const char* what, double a, double b, const char* calls_a, double x, double y,
                  const char* calls_b) {
        std::printf("  %-30s %9.3f %8.3f %5s   %9.3f %8.3f %5s\n", what, a, b, calls_a, x, y,
                    calls_b);
    };
    for (int p = 0; p < PIECE_COUNT; ++p) {
        if (p != OWN_STEPS && fd.calls[p] == 0 && rd.calls[p] == 0) continue;
        const std::string ca = p == OWN_STEPS ? "" : std::to_string(fd.calls[p]);
        const std::string cb = p == OWN_STEPS ? "" : std::to_string(rd.calls[p]);
        row(kPieceNames[p], fd.ms[p], fk.ms[p], ca.c_str(), rd.ms[p], rk.ms[p], cb.c_str());
    }
    row("sum of the pieces", fd.sum(), fk.sum(), "", rd.sum(), rk.sum(), "");
    row("whole solve (shortest run)", fd.whole, fk.whole, "", rd.whole, rk.whole, "");
    row("whole solve (median)", c.fresh_default.median, c.fresh_kept.median, "",
        c.repeated_default.median, c.repeated_kept.median, "");
    std::printf("  %-30s %9s %8.2f %5s   %9s %8.2f\n", "default / kept (median)", "",
                c.fresh_default.median / c.fresh_kept.median, "", "",
                c.repeated_default.median / c.repeated_kept.median);
    std::printf("  %-30s %9.0f %8.0f %5s   %9.0f %8.0f\n", "page faults per solve",
                c.fresh_default.faults, c.fresh_kept.faults, "", c.repeated_default.faults,
                c.repeated_kept.faults);
    row("KLU calls in all", fd.klu(), fk.klu(), "", rd.klu(), rk.klu(), "");
    row("outside KLU", fd.whole - fd.klu(), fk.whole - fk.klu(), "", rd.whole - rd.klu(),
        rk.whole - rk.klu(), "");
#ifdef VARNOK_BENCH_INTERPOSED
    std::printf("  %-30s %9.2f %8.2f %5s   %9.2f %8.2f\n", "solve / KLU calls",
                fd.whole / fd.klu(), fk.whole / fk.klu(), "", rd.whole / rd.klu(),
                rk.whole / rk.klu());
#endif
}

constexpr int kRounds = 3;

// The kept copy's part: one round of one case, printed as numbers.
int kept_round(const std::string& txt, int runs, bool controls) {
    Loaded l = load(txt, controls);
    {
        PowerFlowSolver solver;
        host_solve(l.network, l.params, solver);
    }
    const CaseTiming t = time_case(l, runs);
    print_timing("fresh", t.fresh);
    print_timing("repeated", t.repeated);
    return 0;
}

bool bench_case(const std::string& txt, const std::string& ref_path, int runs, bool controls) {
    const std::string name = std::filesystem::path(txt).stem().string();
    Loaded l = load(txt, controls);

    // One solve for the answer.
    SolveResult result;
    int entries = 0;
    {
        PowerFlowSolver solver;
        result = host_solve(l.network, l.params, solver);
        const SparseMatrix& J = solver.jacobian;
        entries = J.col_ptr.empty() ? 0 : J.col_ptr[J.n];
    }
    const Check c = check(l.network, read_ref(ref_path));
    const bool ok = controls || (result.converged && c.missing == 0 && c.dv < 1e-6 && c.da < 1e-6);

    std::vector<Timing> fresh_default, fresh_kept, repeated_default, repeated_kept;
    bool kept_ok = true;
    for (int round = 0; round < kRounds; ++round) {
        const CaseTiming mine = time_case(l, runs);
        fresh_default.push_back(mine.fresh);
        repeated_default.push_back(mine.repeated);
        const std::string copy = bench::run_kept_copy(
            {txt, std::to_string(runs), controls ? "controls" : "plain"});
        Timing fresh, repeated;
        if (!read_timing(copy, "fresh", fresh) || !read_timing(copy, "repeated", repeated)) {
            kept_ok = false;
            break;
        }
        fresh_kept.push_back(fresh);
        repeated_kept.push_back(repeated);
    }
    if (!kept_ok) {
        std::printf("\n%s: the kept copy of this program gave no figures\n", name.c_str());
        return false;
    }
    const Columns columns{combine(fresh_default), combine(fresh_kept), combine(repeated_default),
                          combine(repeated_kept)};

    std::printf("\n%s: %zu buses, %zu branches, %d Jacobian entries, %d iterations (%s)%s\n",
                name.c_str(), l.network.buses.size(), l.network.branches.size(), entries,
                result.iterations,
                result.converged ? "converged" : "NOT converged",
                controls ? ", reactive limits and taps on" : "");
    print_split(columns);
    if (!controls)
        std::printf("  check against %s: max |dV| %.2e pu, max |dangle| %.2e rad%s: %s\n",
                    std::filesystem::path(ref_path).filename().string().c_str(), c.dv, c.da,
                    c.missing ? " (buses missing)" : "", ok ? "PASS" : "FAIL");
    std::fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (bench::is_kept_copy(argc, argv)) {
        if (argc < 4) return 2;
        return kept_round(argv[1], std::max(1, std::atoi(argv[2])),
                          std::string(argv[3]) == "controls");
    }
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
