// Network equations: state, mismatch, Jacobian values, unit outputs, write-back, branch flows.
#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"

namespace varnok {

void PowerFlowSolver::init_state(const Network&) {}
void PowerFlowSolver::compute_mismatch(const Network&) {}
void SparseMatrix::compute_jacobian(const Network&, const std::vector<double>&,
                                    const std::vector<double>&) {}
void PowerFlowSolver::compute_injections(Network&, const SolverParams&) {}
void PowerFlowSolver::write_back(Network&) {}
BranchFlow compute_branch_flow(const Network&, int) { return {}; }

}  // namespace varnok
