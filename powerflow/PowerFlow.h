// Newton-Raphson power flow in polar coordinates, with reactive-limit switching, tap changers
// and phase shifters.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "network/Network.h"
#include "network/SolverParams.h"
#include "powerflow/KLUSolver.h"
#include "powerflow/SparseMatrix.h"

namespace varnok {

// How a solve ended.
enum SolveStatus : int {
    NOT_RUN = 0,            // the solve returned at once
    CONVERGED = 1,
    DIVERGED = 2,           // divergence detection stopped it
    MAX_ITERATIONS = 3,     // the iteration limit was reached
    SINGULAR_JACOBIAN = 4,  // the factorisation or linear solve of a Newton step failed
};

struct SolveResult {
    int iterations = 0;           // number of the last iteration begun
    double max_p_mismatch = 0.0;  // largest |active bus mismatch| of the last evaluation, MW
    double max_q_mismatch = 0.0;  // largest |reactive bus mismatch|, Mvar
    bool converged = false;       // true only with status CONVERGED
    int status = NOT_RUN;         // SolveStatus
};

// Observers of a solve; an empty function is never called.
using IterationObserver = std::function<void(int iteration, double max_p_mw, double max_q_mvar)>;
using LimitSwitchObserver =
    std::function<void(const std::string& name, double q, double limit, bool upper)>;

// Holds an in-service generator at reactive output `q` (pu) in `mode` (GEN_AT_QMAX or
// GEN_AT_QMIN) and makes its bus PQ, as the reactive-limit control does when a unit reaches a
// limit. The control's return pass brings a unit with a voltage setpoint back under voltage
// control by its own rule.
void hold_reactive_output(Network& network, Generator& gen, int mode, double q);

class PowerFlowSolver {
public:
    PowerFlowSolver() = default;
    PowerFlowSolver(const PowerFlowSolver&) = delete;
    PowerFlowSolver& operator=(const PowerFlowSolver&) = delete;

    // Solves from the voltages stored in the buses and writes the result back into them.
    // `log` may be null (nothing written).
    SolveResult solve(Network& network, const SolverParams& params, std::ostream* log = nullptr,
                      IterationObserver on_iteration = {}, LimitSwitchObserver on_limit_switch = {});

    // Back to the state after construction: no pattern, no factorisation, empty vectors.
    void discard() {
        renew();
        jacobian = SparseMatrix{};
    }
    // The same, but the vectors and the matrix keep their memory: the next solve builds its own
    // pattern and analysis, as a fresh solver would, in the memory of the last one.
    void renew() {
        v.clear();
        theta.clear();
        mismatch.clear();
        jacobian.clear();
        klu.release();
        structure_built = false;
        factorized = false;
        pst_sensitivity_due = true;
        pst_sensitivity.clear();
        adjoint.clear();
        bus_shunts.clear();
        bus_units.clear();
    }

    // Network equations.
    void init_state(const Network& network);
    void compute_mismatch(const Network& network);
    void compute_injections(Network& network, const SolverParams& params);
    void write_back(Network& network);

    // Controls between iterations; each reports whether it changed anything.
    bool check_reactive_limits(Network& network, const SolverParams& params, std::ostream* log,
                               LimitSwitchObserver on_limit_switch);
    bool adjust_taps(Network& network, const SolverParams& params, std::ostream* log);
    double compute_pst_sensitivity(const Network& network, int monitored_branch, int pst_branch);
    static bool move_pst(Network& network, PhaseShifter& pst, int position);

    std::vector<double> v;         // voltage magnitude per bus, pu
    std::vector<double> theta;     // voltage angle per bus, rad
    std::vector<double> mismatch;  // 2 per bus: reactive at 2i, active at 2i+1; then corrections
    SparseMatrix jacobian;
    KLUSolver klu;
    bool structure_built = false;     // the pattern of `jacobian` exists
    bool factorized = false;          // a factorisation of the current solve exists
    bool pst_sensitivity_due = true;  // phase-shifter sensitivities still to be computed
    std::vector<double> pst_sensitivity;  // one per phase shifter
    // Per bus, during one mismatch evaluation: its shunts' reactive injection b v^2 + q (pu) and
    // whether it is isolated, read from the buses with the loads.
    struct BusShunt {
        double q;
        bool isolated;
    };
    std::vector<BusShunt> bus_shunts;
    // Per bus, during one recomputation of the unit outputs: the reactive outputs of its
    // voltage-controlling generator and compensator (null when none), which its flows add to.
    struct BusUnits {
        double* gen_q;
        double* svc_q;
    };
    std::vector<BusUnits> bus_units;
    // Right-hand side, then solution, of the adjoint system of a phase-shifter sensitivity:
    // 2 per bus, sized once.
    std::vector<double> adjoint;
};

}  // namespace varnok
