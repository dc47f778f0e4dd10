// The Newton-Raphson iteration.
#include "powerflow/PowerFlow.h"

namespace varnok {

SolveResult PowerFlowSolver::solve(Network&, const SolverParams&, std::ostream*, IterationObserver,
                                   LimitSwitchObserver) {
    return {};
}

}  // namespace varnok
