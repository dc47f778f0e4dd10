// Timers inside the real solve, for the benchmarks: where the linker allows it (GNU ld or lld on
// Linux, --wrap, see bench/CMakeLists.txt), every call into KLU and every step of the solver is
// routed through a timer that counts only its own time, not that of the timed calls made inside
// it. The pieces of one solve then add up to its whole less "the solve's own steps", which the
// caller sets as the whole minus inner_ms. Without the linker's help (VARNOK_BENCH_INTERPOSED
// undefined) nothing is timed and every piece stays 0.
//
// Include from one source file of a benchmark program only: it defines the wrappers.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <ostream>
#include <vector>

#include <klu.h>

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
    // The pieces as " ms calls" pairs, for the line by which a kept copy hands its figures over.
    void print_pieces() const {
        for (int p = 0; p < PIECE_COUNT; ++p) std::printf(" %.17g %d", ms[p], calls[p]);
    }
    // The pieces from such a line, whose pairs begin at numbers[first].
    void read_pieces(const std::vector<double>& numbers, std::size_t first) {
        for (int p = 0; p < PIECE_COUNT; ++p) {
            ms[p] = numbers[first + 2 * static_cast<std::size_t>(p)];
            calls[p] = static_cast<int>(numbers[first + 2 * static_cast<std::size_t>(p) + 1]);
        }
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
