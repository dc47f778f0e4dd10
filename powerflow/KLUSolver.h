// Sole owner of one KLU factorisation: symbolic analysis, numeric factorisation,
// refactorisation, solve and transposed solve. Failures throw runtime errors beginning "KLU";
// an allocation that fails inside KLU throws std::bad_alloc, as every other does.
#pragma once

#include <vector>

#include <klu.h>

#include "powerflow/SparseMatrix.h"

namespace varnok {

class KLUSolver {
public:
    KLUSolver();
    ~KLUSolver();
    KLUSolver(const KLUSolver&) = delete;
    KLUSolver& operator=(const KLUSolver&) = delete;

    // Replaces the symbolic object; an earlier numeric object, which belongs to the old
    // ordering, is freed with it.
    void analyze(const SparseMatrix& matrix);
    // True when the symbolic object was made from exactly this pattern (order, column starts
    // and rows): an analysis depends on nothing else, so analysing it again would give the
    // same object.
    bool analysed(const SparseMatrix& matrix) const;
    // Replaces the numeric object. A matrix of another order or entry count than the analysed
    // one fails like a singular one; so does refactor (returning 0).
    void factor(const SparseMatrix& matrix);
    // klu_refactor's result: non-zero on success, 0 on failure (a zero pivot, for instance;
    // out of memory throws).
    int refactor(const SparseMatrix& matrix);
    void solve(std::vector<double>& b);   // b := A^-1 b
    void tsolve(std::vector<double>& b);  // b := A^-T b
    // Frees the symbolic and numeric objects and sets the control record to its defaults again,
    // as after construction.
    void release();

    klu_symbolic* symbolic = nullptr;  // null until the first successful analysis
    klu_numeric* numeric = nullptr;    // null until the first successful factorisation
    klu_common* common = nullptr;      // control and status record, klu_defaults
    std::vector<int> analysed_col_ptr;  // the pattern `symbolic` was made from
    std::vector<int> analysed_row_idx;
};

}  // namespace varnok
