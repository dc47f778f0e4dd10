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

namespace {

using namespace varnok;
using Clock = std::chrono::steady_clock;

// --- Timing inside the solve -------------------------------------------------------------------

enum Piece {
    PRUNING,
    PREPARATION,
    PATTERN_CHECK,
    PATTERN,
    MISMATCH,
    JACOBIAN,
    LIMIT_CHECKS,
    UNIT_OUTPUTS,
    TAPS,
    WRITE_BACK,
    OWN_STEPS,  // the rest of the whole: what lies between the timed calls
    KLU_ANALYSIS,
    KLU_FACTOR,
    KLU_REFACTOR,
    KLU_SOLVE,
    KLU_FREE,
    PIECE_COUNT
};

constexpr const char* kPieceNames[PIECE_COUNT] = {
    "island pruning",
    "state from the buses",
    "pattern check",
    "pattern",
    "mismatch",
    "Jacobian values",
    "reactive-limit checks",
    "unit outputs",
    "taps and phase shifters",
    "write-back",
    "the solve's own steps",
    "KLU analysis",
    "KLU factorisation",
    "KLU refactorisation",
    "KLU solves",
    "KLU frees",
};

bool is_klu(int piece) { return piece >= KLU_ANALYSIS; }

// Milliseconds and calls of each piece in one solve.
struct Split {
    std::array<double, PIECE_COUNT> ms{};
    std::array<int, PIECE_COUNT> calls{};
    double whole = 0.0;  // ms

    double klu() const {
        double sum = 0.0;
        for (int p = 0; p < PIECE_COUNT; ++p)
            if (is_klu(p)) sum += ms[p];
        return sum;
    }
    double sum() const {
        double total = 0.0;
        for (double x : ms) total += x;
        return total;
    }
};

Split current;         // the split of the solve being timed
double inner_ms = 0.0;  // time of the timed calls made inside the one now running

// Times one call of a piece: its own time, less that of the timed calls made inside it.
class Timed {
public:
    explicit Timed(Piece piece) : piece_(piece), outer_inner_(inner_ms), start_(Clock::now()) {
        inner_ms = 0.0;
    }
    ~Timed() {
        const double elapsed =
            std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
        current.ms[piece_] += elapsed - inner_ms;
        ++current.calls[piece_];
        inner_ms = outer_inner_ + elapsed;
    }
    Timed(const Timed&) = delete;
    Timed& operator=(const Timed&) = delete;

private:
    Piece piece_;
    double outer_inner_;
    Clock::time_point start_;
};

}  // namespace

#ifdef VARNOK_BENCH_INTERPOSED
// The linker sends every call to X from the library to __wrap_X, and __real_X names the original
// (GNU ld and lld, --wrap, listed in bench/CMakeLists.txt). The solver's members are named by
// their mangled names; a member function takes its object as a first argument, and a class
// passed by value is passed by address, so a reference stands for it here.
extern "C" {
klu_symbolic* __real_klu_analyze(int, int*, int*, klu_common*);
klu_numeric* __real_klu_factor(int*, int*, double*, klu_symbolic*, klu_common*);
int __real_klu_refactor(int*, int*, double*, klu_symbolic*, klu_numeric*, klu_common*);
int __real_klu_solve(klu_symbolic*, klu_numeric*, int, int, double*, klu_common*);
int __real_klu_tsolve(klu_symbolic*, klu_numeric*, int, int, double*, klu_common*);
int __real_klu_free_numeric(klu_numeric**, klu_common*);
int __real_klu_free_symbolic(klu_symbolic**, klu_common*);

klu_symbolic* __wrap_klu_analyze(int n, int* col_ptr, int* row_idx, klu_common* common) {
    const Timed timed(KLU_ANALYSIS);
    return __real_klu_analyze(n, col_ptr, row_idx, common);
}
klu_numeric* __wrap_klu_factor(int* col_ptr, int* row_idx, double* values, klu_symbolic* symbolic,
                               klu_common* common) {
    const Timed timed(KLU_FACTOR);
    return __real_klu_factor(col_ptr, row_idx, values, symbolic, common);
}
int __wrap_klu_refactor(int* col_ptr, int* row_idx, double* values, klu_symbolic* symbolic,
                        klu_numeric* numeric, klu_common* common) {
    const Timed timed(KLU_REFACTOR);
    return __real_klu_refactor(col_ptr, row_idx, values, symbolic, numeric, common);
}
int __wrap_klu_solve(klu_symbolic* symbolic, klu_numeric* numeric, int ldim, int nrhs, double* b,
                     klu_common* common) {
    const Timed timed(KLU_SOLVE);
    return __real_klu_solve(symbolic, numeric, ldim, nrhs, b, common);
}
int __wrap_klu_tsolve(klu_symbolic* symbolic, klu_numeric* numeric, int ldim, int nrhs, double* b,
                      klu_common* common) {
    const Timed timed(KLU_SOLVE);
    return __real_klu_tsolve(symbolic, numeric, ldim, nrhs, b, common);
}
int __wrap_klu_free_numeric(klu_numeric** numeric, klu_common* common) {
    const Timed timed(KLU_FREE);
    return __real_klu_free_numeric(numeric, common);
}
int __wrap_klu_free_symbolic(klu_symbolic** symbolic, klu_common* common) {
    const Timed timed(KLU_FREE);
    return __real_klu_free_symbolic(symbolic, common);
}
}  // extern "C"

#define VARNOK_MANGLED(name) __asm__(name)

void real_init_state(PowerFlowSolver*, const Network&)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver10init_stateERKNS_7NetworkE");
void wrap_init_state(PowerFlowSolver* solver, const Network& network)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver10init_stateERKNS_7NetworkE");
void wrap_init_state(PowerFlowSolver* solver, const Network& network) {
    const Timed timed(PREPARATION);
    real_init_state(solver, network);
}

bool real_covers(const SparseMatrix*, const Network&)
    VARNOK_MANGLED("__real__ZNK6varnok12SparseMatrix6coversERKNS_7NetworkE");
bool wrap_covers(const SparseMatrix* matrix, const Network& network)
    VARNOK_MANGLED("__wrap__ZNK6varnok12SparseMatrix6coversERKNS_7NetworkE");
bool wrap_covers(const SparseMatrix* matrix, const Network& network) {
    const Timed timed(PATTERN_CHECK);
    return real_covers(matrix, network);
}

void real_build_structure(SparseMatrix*, const Network&)
    VARNOK_MANGLED("__real__ZN6varnok12SparseMatrix15build_structureERKNS_7NetworkE");
void wrap_build_structure(SparseMatrix* matrix, const Network& network)
    VARNOK_MANGLED("__wrap__ZN6varnok12SparseMatrix15build_structureERKNS_7NetworkE");
void wrap_build_structure(SparseMatrix* matrix, const Network& network) {
    const Timed timed(PATTERN);
    real_build_structure(matrix, network);
}

void real_compute_mismatch(PowerFlowSolver*, const Network&)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver16compute_mismatchERKNS_7NetworkE");
void wrap_compute_mismatch(PowerFlowSolver* solver, const Network& network)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver16compute_mismatchERKNS_7NetworkE");
void wrap_compute_mismatch(PowerFlowSolver* solver, const Network& network) {
    const Timed timed(MISMATCH);
    real_compute_mismatch(solver, network);
}

using Voltages = std::vector<double>;
void real_compute_jacobian(SparseMatrix*, const Network&, const Voltages&, const Voltages&)
    VARNOK_MANGLED("__real__ZN6varnok12SparseMatrix16compute_jacobianERKNS_7NetworkERKSt6vectorIdSaIdEES8_");
void wrap_compute_jacobian(SparseMatrix* matrix, const Network& network, const Voltages& v,
                           const Voltages& theta)
    VARNOK_MANGLED("__wrap__ZN6varnok12SparseMatrix16compute_jacobianERKNS_7NetworkERKSt6vectorIdSaIdEES8_");
void wrap_compute_jacobian(SparseMatrix* matrix, const Network& network, const Voltages& v,
                           const Voltages& theta) {
    const Timed timed(JACOBIAN);
    real_compute_jacobian(matrix, network, v, theta);
}

bool real_check_reactive_limits(PowerFlowSolver*, Network&, const SolverParams&, std::ostream*,
                                LimitSwitchObserver&)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver21check_reactive_limitsERNS_7NetworkERKNS_12SolverParamsEPSoSt8functionIFvRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEddbEE");
bool wrap_check_reactive_limits(PowerFlowSolver* solver, Network& network,
                                const SolverParams& params, std::ostream* log,
                                LimitSwitchObserver& on_limit_switch)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver21check_reactive_limitsERNS_7NetworkERKNS_12SolverParamsEPSoSt8functionIFvRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEddbEE");
bool wrap_check_reactive_limits(PowerFlowSolver* solver, Network& network,
                                const SolverParams& params, std::ostream* log,
                                LimitSwitchObserver& on_limit_switch) {
    const Timed timed(LIMIT_CHECKS);
    return real_check_reactive_limits(solver, network, params, log, on_limit_switch);
}

void real_compute_injections(PowerFlowSolver*, Network&, const SolverParams&)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver18compute_injectionsERNS_7NetworkERKNS_12SolverParamsE");
void wrap_compute_injections(PowerFlowSolver* solver, Network& network, const SolverParams& params)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver18compute_injectionsERNS_7NetworkERKNS_12SolverParamsE");
void wrap_compute_injections(PowerFlowSolver* solver, Network& network,
                             const SolverParams& params) {
    const Timed timed(UNIT_OUTPUTS);
    real_compute_injections(solver, network, params);
}

bool real_adjust_taps(PowerFlowSolver*, Network&, const SolverParams&, std::ostream*)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver11adjust_tapsERNS_7NetworkERKNS_12SolverParamsEPSo");
bool wrap_adjust_taps(PowerFlowSolver* solver, Network& network, const SolverParams& params,
                      std::ostream* log)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver11adjust_tapsERNS_7NetworkERKNS_12SolverParamsEPSo");
bool wrap_adjust_taps(PowerFlowSolver* solver, Network& network, const SolverParams& params,
                      std::ostream* log) {
    const Timed timed(TAPS);
    return real_adjust_taps(solver, network, params, log);
}

void real_write_back(PowerFlowSolver*, Network&)
    VARNOK_MANGLED("__real__ZN6varnok15PowerFlowSolver10write_backERNS_7NetworkE");
void wrap_write_back(PowerFlowSolver* solver, Network& network)
    VARNOK_MANGLED("__wrap__ZN6varnok15PowerFlowSolver10write_backERNS_7NetworkE");
void wrap_write_back(PowerFlowSolver* solver, Network& network) {
    const Timed timed(WRITE_BACK);
    real_write_back(solver, network);
}
#endif  // VARNOK_BENCH_INTERPOSED

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
