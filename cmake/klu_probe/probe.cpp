// Every KLU function the library calls (powerflow/KLUSolver.cpp), so that the link takes from
// the archives what the library's own copy will hold. Never run.
#include <klu.h>

extern "C" int varnok_klu_probe(int n, int* col_ptr, int* row_idx, double* values, double* b) {
    klu_common common;
    klu_defaults(&common);
    klu_symbolic* symbolic = klu_analyze(n, col_ptr, row_idx, &common);
    klu_numeric* numeric = klu_factor(col_ptr, row_idx, values, symbolic, &common);
    int ok = klu_refactor(col_ptr, row_idx, values, symbolic, numeric, &common);
    ok += klu_solve(symbolic, numeric, n, 1, b, &common);
    ok += klu_tsolve(symbolic, numeric, n, 1, b, &common);
    klu_free_numeric(&numeric, &common);
    klu_free_symbolic(&symbolic, &common);
    return ok;
}
