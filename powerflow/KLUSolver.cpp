#include "powerflow/KLUSolver.h"

namespace varnok {

KLUSolver::KLUSolver() {}
KLUSolver::~KLUSolver() {}
void KLUSolver::analyze(const SparseMatrix&) {}
void KLUSolver::factor(const SparseMatrix&) {}
int KLUSolver::refactor(const SparseMatrix&) { return 0; }
void KLUSolver::solve(std::vector<double>&) {}
void KLUSolver::tsolve(std::vector<double>&) {}
void KLUSolver::release() {}

}  // namespace varnok
