// Reactive limits, tap changers and phase shifters.
#include "powerflow/PowerFlow.h"

namespace varnok {

bool PowerFlowSolver::check_reactive_limits(Network&, const SolverParams&, std::ostream*,
                                            LimitSwitchObserver) {
    return false;
}
bool PowerFlowSolver::adjust_taps(Network&, const SolverParams&, std::ostream*) { return false; }
double PowerFlowSolver::compute_pst_sensitivity(const Network&, int, int) { return 0.0; }
bool PowerFlowSolver::move_pst(Network&, PhaseShifter&, int) { return false; }

}  // namespace varnok
