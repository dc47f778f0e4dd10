// Newton-Raphson power flow in polar coordinates.
#pragma once

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

}  // namespace varnok
