// Sparsity pattern of the Jacobian and the positions resolved from it.
#include "powerflow/SparseMatrix.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace varnok {

namespace {

bool valid_bus(int bus, int bus_count) { return bus >= 0 && bus < bus_count; }

// A branch whose two off-diagonal blocks the pattern holds: any non-zero status counts.
bool in_pattern(const Branch& br, int bus_count) {
    return br.status != 0 && valid_bus(br.from, bus_count) && valid_bus(br.to, bus_count);
}

// Bus-level pattern: for each column bus k, the row buses j whose rows meet columns 2k, 2k+1.
// An item is 2j for a whole 2x2 block (a bus's own block or a branch block) and 2j+1 for a
// compensator's single entry (row 2j, column 2k only). Sorted, the whole block of a row bus
// comes before its single entry, so the first item of each row bus tells whether it is whole.
struct BusPattern {
    std::vector<int> start;  // N+1 offsets into items
    std::vector<int> items;
};

BusPattern collect_bus_pattern(const Network& network) {
    const int bus_count = static_cast<int>(network.buses.size());
    BusPattern pattern;
    std::vector<int>& start = pattern.start;
    start.assign(static_cast<std::size_t>(bus_count) + 1, 0);

    auto senses_other = [&](const SVC& svc) {
        return valid_bus(svc.bus, bus_count) && valid_bus(svc.sense_bus, bus_count) &&
               svc.sense_bus != svc.bus;
    };

    for (int k = 0; k < bus_count; ++k) ++start[static_cast<std::size_t>(k) + 1];
    for (const Branch& br : network.branches) {
        if (!in_pattern(br, bus_count)) continue;
        ++start[static_cast<std::size_t>(br.to) + 1];
        ++start[static_cast<std::size_t>(br.from) + 1];
    }
    for (const SVC& svc : network.svcs)
        if (senses_other(svc)) ++start[static_cast<std::size_t>(svc.sense_bus) + 1];
    for (int k = 0; k < bus_count; ++k) start[k + 1] += start[k];

    pattern.items.resize(static_cast<std::size_t>(start[bus_count]));
    std::vector<int> next(start.begin(), start.end() - 1);
    auto put = [&](int column_bus, int item) { pattern.items[next[column_bus]++] = item; };
    for (int k = 0; k < bus_count; ++k) put(k, 2 * k);
    for (const Branch& br : network.branches) {
        if (!in_pattern(br, bus_count)) continue;
        put(br.to, 2 * br.from);  // block (2 from, 2 to)
        put(br.from, 2 * br.to);  // block (2 to, 2 from)
    }
    for (const SVC& svc : network.svcs)
        if (senses_other(svc)) put(svc.sense_bus, 2 * svc.bus + 1);

    for (int k = 0; k < bus_count; ++k)
        std::sort(pattern.items.begin() + start[k], pattern.items.begin() + start[k + 1]);
    return pattern;
}

// Walks the distinct row buses of column bus k: f(row bus, whole block).
template <typename F>
void for_each_row_bus(const BusPattern& pattern, int k, F&& f) {
    const int end = pattern.start[k + 1];
    for (int i = pattern.start[k]; i < end;) {
        const int j = pattern.items[i] >> 1;
        const bool whole = (pattern.items[i] & 1) == 0;
        while (i < end && (pattern.items[i] >> 1) == j) ++i;
        f(j, whole);
    }
}

// Compressed-column arrays from the bus-level pattern; values all 0.0.
void fill_columns(const BusPattern& pattern, int bus_count, SparseMatrix& m) {
    m.col_ptr.assign(static_cast<std::size_t>(m.n) + 1, 0);
    for (int k = 0; k < bus_count; ++k) {
        int even = 0, odd = 0;
        for_each_row_bus(pattern, k, [&](int, bool whole) {
            even += whole ? 2 : 1;
            odd += whole ? 2 : 0;
        });
        m.col_ptr[2 * k + 1] = m.col_ptr[2 * k] + even;
        m.col_ptr[2 * k + 2] = m.col_ptr[2 * k + 1] + odd;
    }
    m.row_idx.resize(static_cast<std::size_t>(m.col_ptr[m.n]));
    for (int k = 0; k < bus_count; ++k) {
        int even = m.col_ptr[2 * k], odd = m.col_ptr[2 * k + 1];
        for_each_row_bus(pattern, k, [&](int j, bool whole) {
            m.row_idx[even++] = 2 * j;
            if (!whole) return;
            m.row_idx[even++] = 2 * j + 1;
            m.row_idx[odd++] = 2 * j;
            m.row_idx[odd++] = 2 * j + 1;
        });
    }
    m.values.assign(m.row_idx.size(), 0.0);
}

void fill_index(SparseMatrix& m) {
    m.index.clear();
    m.index.reserve(m.row_idx.size());
    const std::int64_t order = m.n;
    // The slots are scattered over a table larger than the caches: each is prefetched a few
    // entries ahead of its insertion.
    constexpr int ahead = 16;
    const int nnz = static_cast<int>(m.row_idx.size());
    std::vector<std::int64_t> keys(static_cast<std::size_t>(nnz));
    for (int c = 0; c < m.n; ++c)
        for (int p = m.col_ptr[c]; p < m.col_ptr[c + 1]; ++p)
            keys[p] = static_cast<std::int64_t>(m.row_idx[p]) * order + c;
    for (int p = 0; p < nnz; ++p) {
        if (p + ahead < nnz) m.index.prefetch(keys[p + ahead]);
        m.index.emplace(keys[p], p);
    }
}

// Positions of every bus's own block, branch and compensator entry, through the index.
void resolve_slots(const Network& network, SparseMatrix& m) {
    const int bus_count = m.n / 2;
    m.bus_slots.resize(static_cast<std::size_t>(m.n));
    for (int i = 0; i < bus_count; ++i) {
        m.bus_slots[2 * i] = m.pos(2 * i, 2 * i);
        m.bus_slots[2 * i + 1] = m.pos(2 * i, 2 * i + 1);
    }
    // Two lookups per off-diagonal block; the slots of the branches ahead load meanwhile.
    const std::size_t branch_count = network.branches.size();
    m.branch_slots.resize(branch_count);
    auto prefetch_branch = [&](const Branch& br) {
        if (!in_pattern(br, bus_count)) return;
        const std::int64_t f = 2 * br.from, t = 2 * br.to, order = m.n;
        m.index.prefetch(f * order + t);
        m.index.prefetch(t * order + f);
    };
    constexpr std::size_t ahead = 8;
    for (std::size_t k = 0; k < branch_count; ++k) {
        if (k + ahead < branch_count) prefetch_branch(network.branches[k + ahead]);
        const Branch& br = network.branches[k];
        m.branch_slots[k] = m.resolve_branch(br.from, br.to, in_pattern(br, bus_count));
    }
    m.svc_slots.resize(network.svcs.size());
    for (std::size_t k = 0; k < network.svcs.size(); ++k) {
        const SVC& svc = network.svcs[k];
        SvcSlot& slot = m.svc_slots[k];
        slot.bus = svc.bus;
        slot.sense_bus = svc.sense_bus;
        if (valid_bus(svc.bus, bus_count) && valid_bus(svc.sense_bus, bus_count))
            slot.pos = m.pos(2 * svc.bus, 2 * svc.sense_bus);
    }
}

}  // namespace

void SparseMatrix::build_structure(const Network& network) {
    const int bus_count = static_cast<int>(network.buses.size());
    // Built aside and moved in, so that a failed allocation leaves the old pattern whole.
    SparseMatrix built;
    built.n = 2 * bus_count;
    {
        const BusPattern pattern = collect_bus_pattern(network);
        fill_columns(pattern, bus_count, built);
    }
    fill_index(built);
    resolve_slots(network, built);
    // The cached branch angles do not depend on the pattern.
    built.branch_angle = std::move(branch_angle);
    *this = std::move(built);
}

int SparseMatrix::pos(int row, int col) const {
    return index.find(static_cast<std::int64_t>(row) * n + col);
}

BranchSlots SparseMatrix::resolve_branch(int from, int to, bool blocks_whole) const {
    BranchSlots slots;
    slots.from = from;
    slots.to = to;
    slots.pos.fill(-1);
    const int bus_count = n / 2;
    if (!valid_bus(from, bus_count) || !valid_bus(to, bus_count) ||
        bus_slots.size() != static_cast<std::size_t>(n))
        return slots;

    // (r+1, c) from the position p of (r, c): the next entry of the column when it is that row,
    // as it always is in a block that the branch itself put into the pattern.
    auto below = [&](int p, int r, int c) {
        if (blocks_whole) return p + 1;
        if (p >= 0 && p + 1 < col_ptr[c + 1] && row_idx[p + 1] == r + 1) return p + 1;
        return pos(r + 1, c);
    };
    // Fills the four entries of block (r, c) at slots a (r, c), a+1 (r, c+1), b (r+1, c),
    // b+1 (r+1, c+1).
    auto block = [&](int r, int c, int a, int b) {
        const int p0 = pos(r, c), p1 = pos(r, c + 1);
        slots.pos[a] = p0;
        slots.pos[a + 1] = p1;
        slots.pos[b] = below(p0, r, c);
        slots.pos[b + 1] = below(p1, r, c + 1);
    };
    // A bus's own block is always whole: rows 2i and 2i+1 lie next to each other.
    auto own = [&](int bus, int a, int b) {
        slots.pos[a] = bus_slots[2 * bus];
        slots.pos[a + 1] = bus_slots[2 * bus + 1];
        slots.pos[b] = bus_slots[2 * bus] + 1;
        slots.pos[b + 1] = bus_slots[2 * bus + 1] + 1;
    };
    const int f = 2 * from, t = 2 * to;
    own(from, 0, 4);
    block(f, t, 2, 6);
    own(to, 8, 12);
    block(t, f, 10, 14);
    return slots;
}

bool SparseMatrix::covers(const Network& network) const {
    const int bus_count = static_cast<int>(network.buses.size());
    if (n != 2 * bus_count || col_ptr.size() != static_cast<std::size_t>(n) + 1) return false;
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (br.status == 0 || !valid_bus(br.from, bus_count) || !valid_bus(br.to, bus_count))
            continue;
        // Only whole blocks hold an entry in an odd row and an odd column.
        if (k < branch_slots.size() && branch_slots[k].from == br.from &&
            branch_slots[k].to == br.to) {
            if (branch_slots[k].pos[7] < 0 || branch_slots[k].pos[15] < 0) return false;
        } else if (pos(2 * br.from + 1, 2 * br.to + 1) < 0 ||
                   pos(2 * br.to + 1, 2 * br.from + 1) < 0) {
            return false;
        }
    }
    for (std::size_t k = 0; k < network.svcs.size(); ++k) {
        const SVC& svc = network.svcs[k];
        if (!valid_bus(svc.bus, bus_count) || !valid_bus(svc.sense_bus, bus_count) ||
            svc.sense_bus == svc.bus)
            continue;
        const bool cached = k < svc_slots.size() && svc_slots[k].bus == svc.bus &&
                            svc_slots[k].sense_bus == svc.sense_bus;
        if ((cached ? svc_slots[k].pos : pos(2 * svc.bus, 2 * svc.sense_bus)) < 0) return false;
    }
    return true;
}

}  // namespace varnok
