// Ownership of the KLU objects and the error texts of each failure, and the memory functions of
// the library's own copy of KLU.
#include "powerflow/KLUSolver.h"

#include <new>
#include <stdexcept>

#ifdef VARNOK_PRIVATE_KLU
#include <cmath>
#include <cstdint>

#include <SuiteSparse_config.h>

#include "powerflow/FactorMemory.h"
#endif

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

#ifdef VARNOK_PRIVATE_KLU
// KLU, AMD, COLAMD and BTF are linked into this library from their static archives, and these
// definitions stand in for SuiteSparse_config's: the linker resolves the copy's calls to them,
// and the shared library keeps them local (api/varnok_api.map), so that another SuiteSparse in
// the host's process, and its settings, are neither used nor touched. The factorisation's
// blocks are kept for the next one on the calling thread (FactorMemory). Sizes and the
// overflow test are SuiteSparse_config's: a count or item size of 0 counts as 1, and a product
// that does not fit is a failed allocation.
namespace {

using varnok::FactorMemory;

bool byte_count(std::size_t nitems, std::size_t size_of_item, std::size_t& bytes) {
    if (nitems < 1) nitems = 1;
    if (size_of_item < 1) size_of_item = 1;
    bytes = nitems * size_of_item;
    return bytes / size_of_item == nitems;
}

// Calls f with the calling thread's FactorMemory or, while the thread ends, with one that
// lives for this call only and so keeps nothing.
template <typename F>
auto with_thread_memory(F&& f) {
    if (FactorMemory* own = FactorMemory::of_this_thread()) return f(*own);
    FactorMemory passing;
    return f(passing);
}

void* plain_malloc(std::size_t bytes) {
    return with_thread_memory([&](FactorMemory& m) { return m.allocate(bytes); });
}
void* plain_calloc(std::size_t nitems, std::size_t size_of_item) {
    std::size_t bytes;
    if (!byte_count(nitems, size_of_item, bytes)) return nullptr;
    return with_thread_memory([&](FactorMemory& m) { return m.allocate_zeroed(bytes); });
}
void* plain_realloc(void* p, std::size_t bytes) {
    const std::size_t used = p ? FactorMemory::capacity_of(p) : 0;
    return with_thread_memory([&](FactorMemory& m) { return m.resize(p, used, bytes); });
}
void plain_free(void* p) {
    if (!p) return;
    with_thread_memory([&](FactorMemory& m) {
        m.release(p);
        return 0;
    });
}

}  // namespace

extern "C" {

// Nothing in the copy prints (the library writes only where its caller asks): no printf. The
// memory members lead to the same blocks as the functions below, for code that calls them.
struct SuiteSparse_config_struct SuiteSparse_config = {
    plain_malloc, plain_calloc, plain_realloc, plain_free, nullptr, hypot, nullptr};

void* SuiteSparse_malloc(size_t nitems, size_t size_of_item) {
    std::size_t bytes;
    return byte_count(nitems, size_of_item, bytes) ? plain_malloc(bytes) : nullptr;
}

void* SuiteSparse_calloc(size_t nitems, size_t size_of_item) {
    return plain_calloc(nitems, size_of_item);
}

void* SuiteSparse_realloc(size_t nitems_new, size_t nitems_old, size_t size_of_item, void* p,
                          int* ok) {
    std::size_t new_bytes;
    if (!byte_count(nitems_new, size_of_item, new_bytes)) {
        *ok = 0;
        return p;
    }
    if (nitems_old < 1) nitems_old = 1;
    if (p && nitems_old == nitems_new) {
        *ok = 1;
        return p;
    }
    // The bytes in use are copied, never more than the block holds.
    std::size_t old_bytes;
    if (!byte_count(nitems_old, size_of_item, old_bytes)) old_bytes = SIZE_MAX;
    void* moved =
        with_thread_memory([&](FactorMemory& m) { return m.resize(p, old_bytes, new_bytes); });
    // A block that cannot grow stays as it was (a shrinking one always can).
    *ok = moved != nullptr;
    return moved ? moved : p;
}

void* SuiteSparse_free(void* p) {
    plain_free(p);
    return nullptr;
}

}  // extern "C"
#endif  // VARNOK_PRIVATE_KLU
