#include "powerflow/SparseMatrix.h"

namespace varnok {

void SparseMatrix::build_structure(const Network&) {}
int SparseMatrix::pos(int, int) const { return -1; }

}  // namespace varnok
