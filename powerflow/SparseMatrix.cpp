// Sparsity pattern of the Jacobian and the positions resolved from it.
//
// The pattern is built in time linear in the buses, branches and compensators: every 2x2 block
// (or single compensator entry) is first requested as a pair (row bus, column bus); a counting
// sort orders the requests by row bus, and walking them in that order appends each row bus to
// its column already in ascending order, a repeated pair landing next to its first occurrence.
#include "powerflow/SparseMatrix.h"

#include <cstddef>
#include <utility>

namespace varnok {

namespace {

bool valid_bus(int bus, int bus_count) { return bus >= 0 && bus < bus_count; }

// A branch whose two off-diagonal blocks the pattern holds: any non-zero status counts.
bool in_pattern(const Branch& br, int bus_count) {
    return br.status != 0 && valid_bus(br.from, bus_count) && valid_bus(br.to, bus_count);
}

// A compensator whose voltage term couples its bus to another one.
bool senses_other(const SVC& svc, int bus_count) {
    return valid_bus(svc.bus, bus_count) && valid_bus(svc.sense_bus, bus_count) &&
           svc.sense_bus != svc.bus;
}

// Who asked for a block: the bus's own block, one of the two coupling blocks of branch b
// (2b for row bus from in the columns of to, 2b+1 the other way), or compensator c's entry.
constexpr int kOwnBlock = -1;
int compensator_source(int c) { return -2 - c; }
bool is_compensator(int source) { return source <= -2; }

// A request for the 2x2 block of row bus `row` in the two columns of bus `col`; a compensator
// asks only for the entry (2 row, 2 col).
struct BlockRequest {
    int row;
    int col;
    int source;
};

// Calls f(row bus, column bus, source) for every request, in a fixed order.
template <typename F>
void for_each_request(const Network& network, F&& f) {
    const int bus_count = static_cast<int>(network.buses.size());
    for (int k = 0; k < bus_count; ++k) f(k, k, kOwnBlock);
    for (std::size_t b = 0; b < network.branches.size(); ++b) {
        const Branch& br = network.branches[b];
        if (!in_pattern(br, bus_count)) continue;
        const int source = 2 * static_cast<int>(b);
        f(br.from, br.to, source);     // block (2 from, 2 to)
        f(br.to, br.from, source + 1);  // block (2 to, 2 from)
    }
    for (std::size_t c = 0; c < network.svcs.size(); ++c) {
        const SVC& svc = network.svcs[c];
        if (senses_other(svc, bus_count))
            f(svc.bus, svc.sense_bus, compensator_source(static_cast<int>(c)));
    }
}

// The requests sorted by row bus and, within one row bus, whole blocks before single entries,
// so that a single entry that falls inside a block merges into it.
std::vector<BlockRequest> requests_by_row(const Network& network) {
    const std::size_t bus_count = network.buses.size();
    auto key = [](int row, int source) {
        return 2 * static_cast<std::size_t>(row) + (is_compensator(source) ? 1 : 0);
    };
    std::vector<int> start(2 * bus_count + 1, 0);
    for_each_request(network, [&](int row, int, int source) { ++start[key(row, source) + 1]; });
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<BlockRequest> sorted(static_cast<std::size_t>(start.back()));
    for_each_request(network, [&](int row, int col, int source) {
        const std::size_t at = static_cast<std::size_t>(start[key(row, source)]++);
        sorted[at] = BlockRequest{row, col, source};
    });
    return sorted;
}

// Per column bus while the columns are filled: the last row bus appended and, for the two
// columns 2k and 2k+1, where the next entry goes and where the last block landed.
struct ColumnFill {
    int last_row = -1;
    int next_even = 0;  // entry count of column 2k, then the next position in it
    int next_odd = 0;   // the same for column 2k+1
    int even_pos = -1;  // position of (2 last_row, 2k)
    int odd_pos = -1;   // position of (2 last_row, 2k+1); -1 for a single entry
};

// Hands the positions of a request's block to whoever asked for it.
void record_positions(const Network& network, int source, int col, int even_pos, int odd_pos,
                      SparseMatrix& m) {
    if (source == kOwnBlock) {
        m.bus_slots[2 * static_cast<std::size_t>(col)] = even_pos;
        m.bus_slots[2 * static_cast<std::size_t>(col) + 1] = odd_pos;
    } else if (is_compensator(source)) {
        m.svc_slots[static_cast<std::size_t>(-2 - source)].pos = even_pos;
    } else {
        const std::size_t b = static_cast<std::size_t>(source / 2);
        BranchSlots& slots = m.branch_slots[b];
        slots.from = network.branches[b].from;
        slots.to = network.branches[b].to;
        if (source % 2 == 0) {
            slots.ft_v = even_pos;
            slots.ft_theta = odd_pos;
        } else {
            slots.tf_v = even_pos;
            slots.tf_theta = odd_pos;
        }
    }
}

// The compressed columns from the sorted requests, and the position of every request's block.
void fill_columns(const Network& network, const std::vector<BlockRequest>& requests,
                  SparseMatrix& m) {
    const std::size_t bus_count = static_cast<std::size_t>(m.n / 2);
    std::vector<ColumnFill> fill(bus_count);

    // Entry counts: a whole block adds two rows to each column, a single entry one row to the
    // even column; a request repeating the last row bus of its column adds nothing.
    for (const BlockRequest& r : requests) {
        ColumnFill& c = fill[static_cast<std::size_t>(r.col)];
        if (c.last_row == r.row) continue;
        c.last_row = r.row;
        const bool whole = !is_compensator(r.source);
        c.next_even += whole ? 2 : 1;
        c.next_odd += whole ? 2 : 0;
    }
    m.col_ptr.assign(static_cast<std::size_t>(m.n) + 1, 0);
    for (std::size_t k = 0; k < bus_count; ++k) {
        ColumnFill& c = fill[k];
        m.col_ptr[2 * k + 1] = m.col_ptr[2 * k] + c.next_even;
        m.col_ptr[2 * k + 2] = m.col_ptr[2 * k + 1] + c.next_odd;
        c.next_even = m.col_ptr[2 * k];
        c.next_odd = m.col_ptr[2 * k + 1];
        c.last_row = -1;
    }

    m.row_idx.resize(static_cast<std::size_t>(m.col_ptr[m.n]));
    for (const BlockRequest& r : requests) {
        ColumnFill& c = fill[static_cast<std::size_t>(r.col)];
        if (c.last_row != r.row) {
            c.last_row = r.row;
            c.even_pos = c.next_even;
            m.row_idx[static_cast<std::size_t>(c.next_even++)] = 2 * r.row;
            c.odd_pos = -1;
            if (!is_compensator(r.source)) {
                m.row_idx[static_cast<std::size_t>(c.next_even++)] = 2 * r.row + 1;
                c.odd_pos = c.next_odd;
                m.row_idx[static_cast<std::size_t>(c.next_odd++)] = 2 * r.row;
                m.row_idx[static_cast<std::size_t>(c.next_odd++)] = 2 * r.row + 1;
            }
        }
        record_positions(network, r.source, r.col, c.even_pos, c.odd_pos, m);
    }
    m.values.assign(m.row_idx.size(), 0.0);
}

// Slots of the elements that asked for no block: branches open as the pattern is built (their
// blocks may still exist, through a parallel branch or a compensator) and compensators sensing
// their own bus or none.
void resolve_remaining_slots(const Network& network, SparseMatrix& m) {
    const int bus_count = m.n / 2;
    for (std::size_t b = 0; b < network.branches.size(); ++b) {
        const Branch& br = network.branches[b];
        if (!in_pattern(br, bus_count)) m.branch_slots[b] = m.resolve_branch(br.from, br.to);
    }
    for (std::size_t c = 0; c < network.svcs.size(); ++c) {
        const SVC& svc = network.svcs[c];
        SvcSlot& slot = m.svc_slots[c];
        slot.bus = svc.bus;
        slot.sense_bus = svc.sense_bus;
        if (!senses_other(svc, bus_count) && valid_bus(svc.bus, bus_count) &&
            valid_bus(svc.sense_bus, bus_count))
            slot.pos = m.pos(2 * svc.bus, 2 * svc.sense_bus);
    }
}

}  // namespace

void SparseMatrix::clear() {
    n = 0;
    col_ptr.clear();
    row_idx.clear();
    values.clear();
    index.clear();
    bus_slots.clear();
    branch_slots.clear();
    svc_slots.clear();
    slack_row_bus = -1;
    slack_row.clear();
    branch_angle.clear();
    bus_rows.clear();
}

void SparseMatrix::build_structure(const Network& network) {
    const int bus_count = static_cast<int>(network.buses.size());
    // Built aside and moved in, so that a failed allocation leaves the old pattern whole; a
    // matrix without one hands over its empty vectors, whose memory the new pattern takes.
    SparseMatrix built;
    const bool lent = col_ptr.empty();
    if (lent) std::swap(built, *this);
    built.n = 2 * bus_count;
    built.bus_slots.resize(static_cast<std::size_t>(built.n));
    built.branch_slots.resize(network.branches.size());
    built.svc_slots.resize(network.svcs.size());
    built.bus_rows.resize(static_cast<std::size_t>(bus_count));
    fill_columns(network, requests_by_row(network), built);
    built.index.assign(built.n, built.col_ptr, built.row_idx);
    resolve_remaining_slots(network, built);
    if (valid_bus(network.slack_bus, bus_count)) built.collect_slack_row(network.slack_bus);
    // The cached branch angles do not depend on the pattern.
    if (!lent) built.branch_angle = std::move(branch_angle);
    *this = std::move(built);
}

int SparseMatrix::pos(int row, int col) const {
    return index.find(static_cast<std::int64_t>(row) * n + col);
}

BranchSlots SparseMatrix::resolve_branch(int from, int to) const {
    BranchSlots slots;
    slots.from = from;
    slots.to = to;
    const int bus_count = n / 2;
    if (!valid_bus(from, bus_count) || !valid_bus(to, bus_count)) return slots;
    const int f = 2 * from, t = 2 * to;
    slots.ft_v = pos(f, t);
    slots.ft_theta = pos(f, t + 1);
    slots.tf_v = pos(t, f);
    slots.tf_theta = pos(t, f + 1);
    return slots;
}

void SparseMatrix::collect_slack_row(int slack) {
    // Odd rows come only from whole blocks, and whole blocks lie symmetrically about the
    // diagonal: row 2s+1 meets columns 2k and 2k+1 exactly for the buses k whose rows 2k appear
    // in column 2s+1.
    slack_row.clear();
    slack_row_bus = slack;
    const int col = 2 * slack + 1;
    for (int p = col_ptr[col]; p < col_ptr[col + 1]; ++p) {
        const int r = row_idx[p];
        if (r % 2 != 0) continue;
        for (int c : {r, r + 1}) {
            const int q = pos(col, c);
            if (q >= 0) slack_row.push_back(q);
        }
    }
}

bool SparseMatrix::covers(const Network& network) const {
    const int bus_count = static_cast<int>(network.buses.size());
    if (n != 2 * bus_count || col_ptr.size() != static_cast<std::size_t>(n) + 1) return false;
    for (std::size_t k = 0; k < network.branches.size(); ++k) {
        const Branch& br = network.branches[k];
        if (!in_pattern(br, bus_count)) continue;
        // Only whole blocks hold an entry in an odd column.
        if (k < branch_slots.size() && branch_slots[k].from == br.from &&
            branch_slots[k].to == br.to) {
            if (branch_slots[k].ft_theta < 0 || branch_slots[k].tf_theta < 0) return false;
        } else if (pos(2 * br.from, 2 * br.to + 1) < 0 || pos(2 * br.to, 2 * br.from + 1) < 0) {
            return false;
        }
    }
    for (std::size_t k = 0; k < network.svcs.size(); ++k) {
        const SVC& svc = network.svcs[k];
        if (!senses_other(svc, bus_count)) continue;
        const bool cached = k < svc_slots.size() && svc_slots[k].bus == svc.bus &&
                            svc_slots[k].sense_bus == svc.sense_bus;
        if ((cached ? svc_slots[k].pos : pos(2 * svc.bus, 2 * svc.sense_bus)) < 0) return false;
    }
    return true;
}

}  // namespace varnok
