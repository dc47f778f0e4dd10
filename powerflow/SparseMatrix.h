// The Jacobian in compressed-column form, with a hash index from (row, column) to value position.
//
// Numbering: bus i owns row 2i (its reactive equation) and row 2i+1 (its active equation),
// column 2i (its magnitude V_i) and column 2i+1 (its angle theta_i); n = 2 x bus count.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "network/Network.h"

namespace varnok {

struct SparseMatrix {
    int n = 0;                                  // order, 2 x bus count when built; 0 before
    std::vector<int> col_ptr;                   // n+1 column starts into row_idx/values
    std::vector<int> row_idx;                   // nnz rows, strictly ascending within a column
    std::vector<double> values;                 // nnz values, parallel to row_idx
    std::unordered_map<std::int64_t, int> index;  // row * n + col (64-bit) -> position in values

    // Builds the pattern from the network; every value 0.0.
    void build_structure(const Network& network);
    // Position of entry (row, col) in `values`, -1 when not in the pattern.
    int pos(int row, int col) const;
    // Overwrites every value with the Jacobian at the given voltages (per unit, radians).
    void compute_jacobian(const Network& network, const std::vector<double>& v,
                          const std::vector<double>& theta);
};

}  // namespace varnok
