// Ownership of the KLU objects and the error texts of each failure. (The memory functions of the
// library's own copy of KLU are in powerflow/KLUMemoryFunctions.cpp.)
#include "powerflow/KLUSolver.h"

#include <new>
#include <stdexcept>

namespace varnok {

namespace {

// The matrix must be the one the symbolic object was made for: KLU reads its arrays with the
// order and entry count it recorded at the analysis, and would read past shorter ones.
bool fits(const SparseMatrix& matrix, const klu_symbolic* symbolic) {
    if (matrix.n != symbolic->n) return false;
    if (matrix.col_ptr.size() != static_cast<std::size_t>(matrix.n) + 1) return false;
    const int nnz = matrix.col_ptr[matrix.n];
    return nnz == symbolic->nz && matrix.row_idx.size() == static_cast<std::size_t>(nnz) &&
           matrix.values.size() == static_cast<std::size_t>(nnz);
}

// KLU reports an allocation that failed in its status, with the same null or zero result as a
// singular matrix: memory exhaustion, not a property of the matrix, and thrown as such.
void throw_if_out_of_memory(const klu_common* common) {
    if (common->status == KLU_OUT_OF_MEMORY) throw std::bad_alloc();
}

}  // namespace

KLUSolver::KLUSolver() : common(new klu_common) { klu_defaults(common); }

KLUSolver::~KLUSolver() {
    if (numeric) klu_free_numeric(&numeric, common);
    if (symbolic) klu_free_symbolic(&symbolic, common);
    delete common;
}

void KLUSolver::analyze(const SparseMatrix& matrix) {
    analysed_col_ptr.clear();
    analysed_row_idx.clear();
    if (symbolic) klu_free_symbolic(&symbolic, common);
    // A numeric object belongs to the analysis it was factorised with: kept beside a new
    // symbolic object it would be refactorised or solved with another permutation.
    if (numeric) klu_free_numeric(&numeric, common);
    if (matrix.col_ptr.size() != static_cast<std::size_t>(matrix.n) + 1 || matrix.n < 0)
        throw std::runtime_error("KLU symbolic analysis failed");
    symbolic = klu_analyze(matrix.n, const_cast<int*>(matrix.col_ptr.data()),
                           const_cast<int*>(matrix.row_idx.data()), common);
    if (!symbolic) {
        throw_if_out_of_memory(common);
        throw std::runtime_error("KLU symbolic analysis failed");
    }
    analysed_col_ptr = matrix.col_ptr;
    analysed_row_idx = matrix.row_idx;
}

bool KLUSolver::analysed(const SparseMatrix& matrix) const {
    return symbolic && matrix.n == symbolic->n && matrix.col_ptr == analysed_col_ptr &&
           matrix.row_idx == analysed_row_idx;
}

void KLUSolver::factor(const SparseMatrix& matrix) {
    if (!symbolic) throw std::runtime_error("KLU: must analyze before factor");
    if (numeric) klu_free_numeric(&numeric, common);
    if (!fits(matrix, symbolic)) throw std::runtime_error("KLU numeric factorization failed");
    numeric = klu_factor(const_cast<int*>(matrix.col_ptr.data()),
                         const_cast<int*>(matrix.row_idx.data()),
                         const_cast<double*>(matrix.values.data()), symbolic, common);
    if (!numeric) {
        throw_if_out_of_memory(common);
        throw std::runtime_error("KLU numeric factorization failed");
    }
}

int KLUSolver::refactor(const SparseMatrix& matrix) {
    if (!symbolic || !numeric) throw std::runtime_error("KLU: must analyze+factor before refactor");
    if (!fits(matrix, symbolic)) return 0;
    const int ok = klu_refactor(const_cast<int*>(matrix.col_ptr.data()),
                                const_cast<int*>(matrix.row_idx.data()),
                                const_cast<double*>(matrix.values.data()), symbolic, numeric,
                                common);
    if (!ok) throw_if_out_of_memory(common);
    return ok;
}

void KLUSolver::solve(std::vector<double>& b) {
    if (!symbolic || !numeric) throw std::runtime_error("KLU: must factor before solve");
    const int ldim = symbolic->n;
    // KLU reads and writes ldim values; a shorter vector would be overrun.
    if (b.size() < static_cast<std::size_t>(ldim)) throw std::runtime_error("KLU solve failed");
    if (!klu_solve(symbolic, numeric, ldim, 1, b.data(), common))
        throw std::runtime_error("KLU solve failed");
}

void KLUSolver::tsolve(std::vector<double>& b) {
    if (!symbolic || !numeric) throw std::runtime_error("KLU: must factor before tsolve");
    const int ldim = symbolic->n;
    if (b.size() < static_cast<std::size_t>(ldim))
        throw std::runtime_error("KLU transpose solve failed");
    if (!klu_tsolve(symbolic, numeric, ldim, 1, b.data(), common))
        throw std::runtime_error("KLU transpose solve failed");
}

void KLUSolver::release() {
    if (numeric) klu_free_numeric(&numeric, common);
    if (symbolic) klu_free_symbolic(&symbolic, common);
    analysed_col_ptr.clear();
    analysed_row_idx.clear();
    klu_defaults(common);
}

}  // namespace varnok
