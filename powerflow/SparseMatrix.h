// The Jacobian in compressed-column form, with an index from (row, column) to value position.
//
// Numbering: bus i owns row 2i (its reactive equation) and row 2i+1 (its active equation),
// column 2i (its magnitude V_i) and column 2i+1 (its angle theta_i); n = 2 x bus count.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "network/Network.h"

namespace varnok {

// Position of every stored entry by its key row x n + column. It keeps its own copy of the
// compressed columns, whose rows ascend, and finds a key by bisecting one column (two entries
// per bus the column's bus is joined to). Copying two arrays is far cheaper, at every fresh
// solver, than scattering some 10^5 keys over a hash table larger than the caches; the solve
// itself looks nothing up, its positions are resolved as the pattern is built.
class PositionIndex {
public:
    // Indexes the pattern of order `order` given by its column starts and rows.
    void assign(int order, const std::vector<int>& col_ptr, const std::vector<int>& row_idx) {
        order_ = order;
        starts_ = col_ptr;
        rows_ = row_idx;
    }
    void clear() {
        order_ = 0;
        starts_.clear();
        rows_.clear();
    }
    // The position stored under `key`, -1 when absent.
    int find(std::int64_t key) const {
        if (order_ <= 0 || key < 0 || key / order_ >= order_) return -1;
        const int row = static_cast<int>(key / order_);
        const std::size_t col = static_cast<std::size_t>(key % order_);
        if (col + 1 >= starts_.size()) return -1;
        const auto first = rows_.begin() + starts_[col];
        const auto last = rows_.begin() + starts_[col + 1];
        const auto at = std::lower_bound(first, last, row);
        return at != last && *at == row ? static_cast<int>(at - rows_.begin()) : -1;
    }
    int at(std::int64_t key) const {
        const int p = find(key);
        if (p < 0) throw std::out_of_range("PositionIndex::at: key not in the pattern");
        return p;
    }
    std::size_t count(std::int64_t key) const { return find(key) >= 0 ? 1 : 0; }
    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }

private:
    std::int64_t order_ = 0;
    std::vector<int> starts_;  // n+1 column starts
    std::vector<int> rows_;    // rows, ascending within each column
};

// Where the terms of one branch from f to t go, besides the own 2x2 blocks of its two buses
// (found through SparseMatrix::bus_slots): the coupling blocks (2f, 2t) and (2t, 2f). A coupling
// block is whole when a branch of the pattern joins the two buses; its two rows then lie next to
// each other in both columns, so that (r+1, c) sits just after (r, c). Otherwise at most its entry
// (2f, 2t), or (2t, 2f), is stored, put there by a compensator sensing the other bus; the
// remaining positions are -1.
struct BranchSlots {
    int from = -1;      // the ends the positions were resolved for
    int to = -1;
    int ft_v = -1;      // (2f, 2t)
    int ft_theta = -1;  // (2f, 2t+1); >= 0 only in a whole block
    int tf_v = -1;      // (2t, 2f)
    int tf_theta = -1;  // (2t, 2f+1); >= 0 only in a whole block
};

// sin and cos of a branch's angle t = theta_f - theta_t + shift, valid for exactly that t.
// Before the first evaluation all three are NaN: an angle that is itself that NaN finds sin
// and cos NaN, as computing them would.
struct BranchAngle {
    double t = std::numeric_limits<double>::quiet_NaN();
    double sin_t = std::numeric_limits<double>::quiet_NaN();
    double cos_t = std::numeric_limits<double>::quiet_NaN();
};

// What one bus's rows of the Jacobian need, read from the bus once per Jacobian.
struct BusRow {
    bool held = false;         // PV or SLACK: its reactive row is an identity row
    bool isolated = false;     // both rows are identity rows
    bool shunted = false;      // a shunt enters its reactive diagonal
    double shunt_slope = 0.0;  // 2 b_shunt v, subtracted there
};

// Position of a compensator's voltage-control entry (row 2 x bus, column 2 x sense bus).
struct SvcSlot {
    int bus = -1;
    int sense_bus = -1;
    int pos = -1;
};

struct SparseMatrix {
    int n = 0;                                  // order, 2 x bus count when built; 0 before
    std::vector<int> col_ptr;                   // n+1 column starts into row_idx/values
    std::vector<int> row_idx;                   // nnz rows, strictly ascending within a column
    std::vector<double> values;                 // nnz values, parallel to row_idx
    PositionIndex index;                        // row * n + col (64-bit) -> position in values

    // Positions resolved while the pattern is built, so that an iteration looks nothing up.
    // Each records what it was resolved for and is resolved again when the network no longer
    // matches.
    std::vector<int> bus_slots;              // 2 per bus: pos(2i, 2i), pos(2i, 2i+1)
    std::vector<BranchSlots> branch_slots;   // per branch
    std::vector<SvcSlot> svc_slots;          // per compensator
    int slack_row_bus = -1;                  // the slack bus `slack_row` was collected for
    std::vector<int> slack_row;              // positions of the entries of row 2s+1
    // Filled by the mismatch and reused by the Jacobian at the same angles.
    std::vector<BranchAngle> branch_angle;   // per branch
    // Per bus, what its rows of the Jacobian need, read from the buses once per Jacobian.
    std::vector<BusRow> bus_rows;

    // Builds the pattern from the network; every value 0.0. A matrix without a pattern lends
    // the memory of its vectors to the new one.
    void build_structure(const Network& network);
    // Back to a default object, no pattern, but every vector keeps its memory.
    void clear();
    // Position of entry (row, col) in `values`, -1 when not in the pattern.
    int pos(int row, int col) const;
    // Overwrites every value with the Jacobian at the given voltages (per unit, radians).
    void compute_jacobian(const Network& network, const std::vector<double>& v,
                          const std::vector<double>& theta);

    // True when the pattern fits the network: built for its bus count, holding the two
    // off-diagonal blocks of every branch now in service and the entry of every compensator
    // that senses another bus. A branch brought into service after the build makes it false.
    bool covers(const Network& network) const;

    // sin and cos of branch k's angle t, computed only when t differs from the cached one.
    const BranchAngle& angle_of(int k, double t) {
        BranchAngle& a = branch_angle[static_cast<std::size_t>(k)];
        // Bitwise: sin(-0.0) and sin(0.0) differ in sign.
        if (std::memcmp(&a.t, &t, sizeof t) != 0) {
            a.t = t;
            a.sin_t = std::sin(t);
            a.cos_t = std::cos(t);
        }
        return a;
    }
    // Makes room for a cached angle per branch (allocates only when the network grew).
    void reserve_angles(std::size_t branch_count) {
        if (branch_angle.size() < branch_count) branch_angle.resize(branch_count);
    }

    // Resolves through `index` the positions of a branch from bus `from` to bus `to`.
    BranchSlots resolve_branch(int from, int to) const;
    // Collects the positions of the entries of row 2s+1, the slack bus's active equation.
    void collect_slack_row(int slack);
};

}  // namespace varnok
