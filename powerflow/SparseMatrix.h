// The Jacobian in compressed-column form, with a hash index from (row, column) to value position.
//
// Numbering: bus i owns row 2i (its reactive equation) and row 2i+1 (its active equation),
// column 2i (its magnitude V_i) and column 2i+1 (its angle theta_i); n = 2 x bus count.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "network/Network.h"

namespace varnok {

// Hash map from an entry's key (row x n + column, never negative) to its position in `values`:
// open addressing with linear probing in flat arrays. A pattern of a large network holds some
// 10^5 entries and is built at every fresh solve; a node-based map would cost several times
// the symbolic analysis just to fill and free.
class PositionIndex {
public:
    void clear() {
        slots_.clear();
        mask_ = 0;
        count_ = 0;
    }
    // Room for `entries` keys without growing; drops what was stored.
    void reserve(std::size_t entries) {
        std::size_t capacity = 16;
        int bits = 4;
        while (capacity * 7 < entries * 10) {  // load factor at most 0.7
            capacity *= 2;
            ++bits;
        }
        slots_.assign(capacity, Slot{});
        mask_ = capacity - 1;
        shift_ = 64 - bits;
        count_ = 0;
    }
    // Inserts key -> position unless the key is present; true when inserted.
    bool emplace(std::int64_t key, int position) {
        if ((count_ + 1) * 10 > slots_.size() * 7) grow();
        std::size_t i = home(key);
        while (slots_[i].key != kEmpty) {
            if (slots_[i].key == key) return false;
            i = (i + 1) & mask_;
        }
        slots_[i] = Slot{key, position};
        ++count_;
        return true;
    }
    // The position stored under `key`, -1 when absent.
    int find(std::int64_t key) const {
        if (count_ == 0 || key < 0) return -1;
        for (std::size_t i = home(key);; i = (i + 1) & mask_) {
            if (slots_[i].key == key) return slots_[i].position;
            if (slots_[i].key == kEmpty) return -1;
        }
    }
    int at(std::int64_t key) const {
        const int p = find(key);
        if (p < 0) throw std::out_of_range("PositionIndex::at: key not in the pattern");
        return p;
    }
    std::size_t count(std::int64_t key) const { return find(key) >= 0 ? 1 : 0; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // A hint that `key` is inserted or looked up soon: starts loading its slot.
    void prefetch(std::int64_t key) const {
#if defined(__GNUC__)
        if (!slots_.empty()) __builtin_prefetch(&slots_[home(key)]);
#else
        (void)key;
#endif
    }

private:
    static constexpr std::int64_t kEmpty = -1;
    struct Slot {
        std::int64_t key = kEmpty;
        int position = -1;
    };
    std::size_t home(std::int64_t key) const {
        // Fibonacci hashing: the top bits of key x 2^64/phi. Lower bits would keep the
        // arithmetic structure of row x n + column and cluster the slots.
        const std::uint64_t h = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h >> shift_);
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        reserve(old.empty() ? 16 : old.size());
        for (const Slot& s : old)
            if (s.key != kEmpty) emplace(s.key, s.position);
    }
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    int shift_ = 63;
    std::size_t count_ = 0;
};

// Value positions of the 16 Jacobian entries one branch touches, in the order of its terms:
// rows 2f, 2f+1, 2t, 2t+1, each with the columns (own V, own theta, far V, far theta).
// -1 marks an entry missing from the pattern (a branch open when the pattern was built).
struct BranchSlots {
    int from = -1;  // the ends the positions were resolved for
    int to = -1;
    std::array<int, 16> pos{};
};

// sin and cos of a branch's angle t = theta_f - theta_t + shift, valid for exactly that t.
// Before the first evaluation all three are NaN: an angle that is itself that NaN finds sin
// and cos NaN, as computing them would.
struct BranchAngle {
    double t = std::numeric_limits<double>::quiet_NaN();
    double sin_t = std::numeric_limits<double>::quiet_NaN();
    double cos_t = std::numeric_limits<double>::quiet_NaN();
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

    // Positions resolved through `index` when the pattern is built, so that an iteration
    // looks nothing up. Each records what it was resolved for and is resolved again when the
    // network no longer matches.
    std::vector<int> bus_slots;              // 2 per bus: pos(2i, 2i), pos(2i, 2i+1)
    std::vector<BranchSlots> branch_slots;   // per branch
    std::vector<SvcSlot> svc_slots;          // per compensator
    int slack_row_bus = -1;                  // the slack bus `slack_row` was collected for
    std::vector<int> slack_row;              // positions of the entries of row 2s+1
    // Filled by the mismatch and reused by the Jacobian at the same angles.
    std::vector<BranchAngle> branch_angle;   // per branch

    // Builds the pattern from the network; every value 0.0.
    void build_structure(const Network& network);
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

    // Resolves through `index` the positions of a branch from bus `from` to bus `to`;
    // `blocks_whole` when the branch was in service as the pattern was built.
    BranchSlots resolve_branch(int from, int to, bool blocks_whole = false) const;
};

}  // namespace varnok
