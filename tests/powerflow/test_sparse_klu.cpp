// Jacobian sparsity pattern and the KLU wrapper.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <cstdint>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "failing_allocation.h"
#include "network/InputParser.h"
#include "powerflow/KLUSolver.h"
#include "powerflow/SparseMatrix.h"

namespace varnok {
namespace {

Network buses_only(int count) {
    Network net;
    for (int i = 0; i < count; ++i) {
        Bus bus;
        bus.name = "B" + std::to_string(i);
        net.add_bus(bus);
    }
    return net;
}

void connect(Network& net, int from, int to, int status = 1) {
    Branch br;
    br.name = "L" + std::to_string(net.branches.size());
    br.from = from;
    br.to = to;
    br.status = status;
    br.b_from = br.b_to = -10.0;
    net.add_branch(br);
}

void add_svc(Network& net, int bus, int sense, int status = 1) {
    SVC svc;
    svc.name = "S" + std::to_string(net.svcs.size());
    svc.bus = bus;
    svc.sense_bus = sense;
    svc.status = status;
    net.add_svc(svc);
}

// The pattern as the ordered-set construction describes it, entry by entry.
struct ReferencePattern {
    std::vector<int> col_ptr;
    std::vector<int> row_idx;
};

ReferencePattern reference_pattern(const Network& net) {
    const int n = 2 * static_cast<int>(net.buses.size());
    std::vector<std::set<int>> cols(static_cast<std::size_t>(n));
    auto block = [&](int r, int c) {
        cols[c].insert(r);
        cols[c].insert(r + 1);
        cols[c + 1].insert(r);
        cols[c + 1].insert(r + 1);
    };
    for (int i = 0; i < n / 2; ++i) block(2 * i, 2 * i);
    for (const Branch& br : net.branches) {
        if (br.status == 0 || br.from < 0 || br.to < 0) continue;
        block(2 * br.from, 2 * br.to);
        block(2 * br.to, 2 * br.from);
    }
    for (const SVC& svc : net.svcs)
        if (svc.bus >= 0 && svc.sense_bus >= 0 && svc.sense_bus != svc.bus)
            cols[2 * svc.sense_bus].insert(2 * svc.bus);
    ReferencePattern ref;
    ref.col_ptr.push_back(0);
    for (const auto& col : cols) {
        ref.row_idx.insert(ref.row_idx.end(), col.begin(), col.end());
        ref.col_ptr.push_back(static_cast<int>(ref.row_idx.size()));
    }
    return ref;
}

void expect_index_consistent(const SparseMatrix& m) {
    ASSERT_EQ(m.index.size(), m.row_idx.size());
    for (int c = 0; c < m.n; ++c)
        for (int p = m.col_ptr[c]; p < m.col_ptr[c + 1]; ++p) {
            EXPECT_EQ(m.pos(m.row_idx[p], c), p);
            EXPECT_EQ(m.index.at(static_cast<std::int64_t>(m.row_idx[p]) * m.n + c), p);
        }
}

TEST(JacobianPattern, SmallNetworkEntryByEntry) {
    // Bus 0 - bus 1 by two branches (one with status 2), bus 1 - bus 2 open, and a
    // compensator at bus 2 sensing bus 0.
    Network net = buses_only(3);
    connect(net, 0, 1);
    connect(net, 0, 1, 2);
    connect(net, 1, 2, 0);
    add_svc(net, 2, 0);
    SparseMatrix m;
    m.build_structure(net);
    EXPECT_EQ(m.n, 6);
    EXPECT_EQ(m.col_ptr, (std::vector<int>{0, 5, 9, 13, 17, 19, 21}));
    EXPECT_EQ(m.row_idx, (std::vector<int>{0, 1, 2, 3, 4,  //
                                           0, 1, 2, 3,     //
                                           0, 1, 2, 3,     //
                                           0, 1, 2, 3,     //
                                           4, 5,           //
                                           4, 5}));
    EXPECT_EQ(m.values, std::vector<double>(21, 0.0));
    expect_index_consistent(m);
    EXPECT_EQ(m.pos(4, 0), 4);
    EXPECT_EQ(m.pos(5, 0), -1);  // the compensator adds its single entry only
    EXPECT_EQ(m.pos(0, 4), -1);
    EXPECT_EQ(m.pos(2, 4), -1);  // the open branch has no entries
    EXPECT_GE(m.pos(4, 4), 0);
}

TEST(JacobianPattern, EmptyNetwork) {
    SparseMatrix m;
    m.build_structure(Network{});
    EXPECT_EQ(m.n, 0);
    EXPECT_EQ(m.col_ptr, std::vector<int>{0});
    EXPECT_TRUE(m.row_idx.empty());
    EXPECT_TRUE(m.values.empty());
    EXPECT_TRUE(m.index.empty());
}

TEST(JacobianPattern, ParallelBranchesAddNothing) {
    Network one = buses_only(2), two = buses_only(2);
    connect(one, 0, 1);
    connect(two, 0, 1);
    connect(two, 1, 0);
    SparseMatrix a, b;
    a.build_structure(one);
    b.build_structure(two);
    EXPECT_EQ(a.col_ptr[a.n], 16);
    EXPECT_EQ(a.col_ptr, b.col_ptr);
    EXPECT_EQ(a.row_idx, b.row_idx);
}

TEST(JacobianPattern, BranchStatusAndCompensatorCases) {
    struct Case {
        const char* what;
        int branch_status;
        int svc_bus, svc_sense, svc_status;
        int nnz;
    };
    const Case cases[] = {
        {"open branch", 0, -1, -1, 1, 8},
        {"status 2 counts", 2, -1, -1, 1, 16},
        {"status -1 counts", -1, -1, -1, 1, 16},
        {"remote compensator out of service", 0, 1, 0, 0, 9},
        {"local compensator", 0, 1, 1, 1, 8},
        {"compensator without sensed bus", 0, 1, -1, 1, 8},
        {"compensator inside a branch block", 1, 1, 0, 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network net = buses_only(2);
        connect(net, 0, 1, c.branch_status);
        if (c.svc_bus >= 0) add_svc(net, c.svc_bus, c.svc_sense, c.svc_status);
        SparseMatrix m;
        m.build_structure(net);
        EXPECT_EQ(m.col_ptr[m.n], c.nnz);
        const ReferencePattern ref = reference_pattern(net);
        EXPECT_EQ(m.col_ptr, ref.col_ptr);
        EXPECT_EQ(m.row_idx, ref.row_idx);
        for (int i = 0; i < 2; ++i) EXPECT_GE(m.pos(2 * i, 2 * i), 0);
    }
}

TEST(JacobianPattern, MatchesOrderedSetsOnRandomNetworks) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 40; ++trial) {
        const int bus_count = 1 + static_cast<int>(rng() % 30);
        Network net = buses_only(bus_count);
        const int branch_count = static_cast<int>(rng() % (3 * bus_count));
        for (int k = 0; k < branch_count; ++k) {
            const int status_choices[] = {0, 1, 1, 1, 2, -1};
            // Self-loops and ends of -1 included.
            const int from = static_cast<int>(rng() % (bus_count + 1)) - (rng() % 20 == 0);
            const int to = static_cast<int>(rng() % bus_count);
            connect(net, std::min(from, bus_count - 1), to, status_choices[rng() % 6]);
        }
        for (int k = 0; k < static_cast<int>(rng() % 4); ++k)
            add_svc(net, static_cast<int>(rng() % bus_count),
                    static_cast<int>(rng() % (bus_count + 1)) - 1, static_cast<int>(rng() % 2));
        SparseMatrix m;
        m.build_structure(net);
        const ReferencePattern ref = reference_pattern(net);
        ASSERT_EQ(m.n, 2 * bus_count);
        EXPECT_EQ(m.col_ptr, ref.col_ptr);
        EXPECT_EQ(m.row_idx, ref.row_idx);
        EXPECT_EQ(m.values.size(), m.row_idx.size());
        expect_index_consistent(m);
        EXPECT_TRUE(m.covers(net));
    }
}

// The positions resolved as the pattern is built are those the index finds.
void expect_slots_consistent(const SparseMatrix& m, const Network& net) {
    const int bus_count = m.n / 2;
    for (int i = 0; i < bus_count; ++i) {
        EXPECT_EQ(m.bus_slots[2 * i], m.pos(2 * i, 2 * i));
        EXPECT_EQ(m.bus_slots[2 * i + 1], m.pos(2 * i, 2 * i + 1));
    }
    ASSERT_EQ(m.branch_slots.size(), net.branches.size());
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
        const Branch& br = net.branches[k];
        const BranchSlots& s = m.branch_slots[k];
        if (br.from < 0 || br.to < 0) continue;
        SCOPED_TRACE("branch " + std::to_string(k));
        const int f = 2 * br.from, t = 2 * br.to;
        EXPECT_EQ(s.from, br.from);
        EXPECT_EQ(s.to, br.to);
        EXPECT_EQ(s.ft_v, m.pos(f, t));
        EXPECT_EQ(s.ft_theta, m.pos(f, t + 1));
        EXPECT_EQ(s.tf_v, m.pos(t, f));
        EXPECT_EQ(s.tf_theta, m.pos(t, f + 1));
    }
    for (std::size_t k = 0; k < net.svcs.size(); ++k) {
        const SVC& svc = net.svcs[k];
        if (svc.bus < 0 || svc.sense_bus < 0) continue;
        EXPECT_EQ(m.svc_slots[k].pos, m.pos(2 * svc.bus, 2 * svc.sense_bus));
    }
    if (net.slack_bus >= 0) {
        std::vector<int> row;  // every stored entry of row 2s+1
        for (std::size_t p = 0; p < m.row_idx.size(); ++p)
            if (m.row_idx[p] == 2 * net.slack_bus + 1) row.push_back(static_cast<int>(p));
        std::vector<int> collected = m.slack_row;
        std::sort(collected.begin(), collected.end());
        EXPECT_EQ(m.slack_row_bus, net.slack_bus);
        EXPECT_EQ(collected, row);
    }
}

TEST(JacobianPattern, ResolvedPositionsMatchTheIndexOnRandomNetworks) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const int bus_count = 1 + static_cast<int>(rng() % 25);
        Network net = buses_only(bus_count);
        net.slack_bus = static_cast<int>(rng() % bus_count);
        const int branch_count = static_cast<int>(rng() % (3 * bus_count));
        for (int k = 0; k < branch_count; ++k) {
            // Parallel branches, self-loops and open branches included.
            const int status_choices[] = {0, 1, 1, 1, 2};
            connect(net, static_cast<int>(rng() % bus_count), static_cast<int>(rng() % bus_count),
                    status_choices[rng() % 5]);
        }
        for (int k = 0; k < static_cast<int>(rng() % 5); ++k)
            add_svc(net, static_cast<int>(rng() % bus_count),
                    static_cast<int>(rng() % (bus_count + 1)) - 1, static_cast<int>(rng() % 2));
        SparseMatrix m;
        m.build_structure(net);
        expect_slots_consistent(m, net);
    }
}

TEST(JacobianPattern, SharedNetworksMatchOrderedSets) {
    for (const char* name : {"case9", "case14", "case30", "case118", "case300", "case2383wp",
                             "case9241pegase"}) {
        SCOPED_TRACE(name);
        Network net;
        SolverParams params;
        InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/" + name + ".txt", net, params);
        SparseMatrix m;
        m.build_structure(net);
        const ReferencePattern ref = reference_pattern(net);
        EXPECT_EQ(m.col_ptr, ref.col_ptr);
        EXPECT_EQ(m.row_idx, ref.row_idx);
        expect_slots_consistent(m, net);
    }
}

TEST(JacobianPattern, IndexAnswersMinusOneOutsideThePattern) {
    Network net = buses_only(2);
    connect(net, 0, 1);
    SparseMatrix m;
    m.build_structure(net);
    const std::int64_t n = m.n;
    EXPECT_EQ(m.index.find(-1), -1);
    EXPECT_EQ(m.index.find(n * n), -1);  // row n
    EXPECT_EQ(m.index.find(n * n + 3), -1);
    EXPECT_EQ(m.index.count(3 * n + 3), 1u);
    EXPECT_EQ(m.index.at(3 * n + 3), m.col_ptr[4] - 1);  // the last entry
    EXPECT_THROW(m.index.at(n * n), std::out_of_range);
    EXPECT_EQ(PositionIndex{}.find(0), -1);
}

TEST(JacobianPattern, CoversDetectsReconnectionAndBusCount) {
    Network net = buses_only(3);
    connect(net, 0, 1);
    connect(net, 1, 2, 0);
    SparseMatrix m;
    EXPECT_FALSE(m.covers(net));  // nothing built yet
    m.build_structure(net);
    EXPECT_TRUE(m.covers(net));
    net.branches[0].status = 0;  // taken out: its entries stay and still fit
    EXPECT_TRUE(m.covers(net));
    net.branches[1].status = 1;  // brought into service: no entries
    EXPECT_FALSE(m.covers(net));
    m.build_structure(net);
    EXPECT_TRUE(m.covers(net));
    connect(net, 0, 2);  // a new branch, unknown to the resolved positions
    EXPECT_FALSE(m.covers(net));
    net.branches.back().status = 0;
    connect(net, 2, 1);  // parallel to one in the pattern: fits
    EXPECT_TRUE(m.covers(net));
    net.add_bus(Bus{});
    EXPECT_FALSE(m.covers(net));
}

// --- KLU wrapper ------------------------------------------------------------------------------

// A = [[4 1 0] [2 3 1] [0 1 2]], not symmetric, so solve and tsolve differ.
SparseMatrix small_matrix() {
    SparseMatrix m;
    m.n = 3;
    m.col_ptr = {0, 2, 5, 7};
    m.row_idx = {0, 1, 0, 1, 2, 1, 2};
    m.values = {4, 2, 1, 3, 1, 1, 2};
    return m;
}

template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(KluWrapper, MissingPrerequisitesOnFreshObject) {
    KLUSolver klu;
    const SparseMatrix m = small_matrix();
    std::vector<double> b{1, 2, 3};
    EXPECT_EQ(error_of([&] { klu.factor(m); }), "KLU: must analyze before factor");
    EXPECT_EQ(error_of([&] { klu.refactor(m); }), "KLU: must analyze+factor before refactor");
    EXPECT_EQ(error_of([&] { klu.solve(b); }), "KLU: must factor before solve");
    EXPECT_EQ(error_of([&] { klu.tsolve(b); }), "KLU: must factor before tsolve");
    EXPECT_EQ(b, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(klu.symbolic, nullptr);
    EXPECT_EQ(klu.numeric, nullptr);
    ASSERT_NE(klu.common, nullptr);
}

TEST(KluWrapper, RefactorAndSolveNeedFactorisationAfterAnalysis) {
    KLUSolver klu;
    const SparseMatrix m = small_matrix();
    std::vector<double> b{1, 2, 3};
    klu.analyze(m);
    EXPECT_NE(klu.symbolic, nullptr);
    EXPECT_EQ(error_of([&] { klu.refactor(m); }), "KLU: must analyze+factor before refactor");
    EXPECT_EQ(error_of([&] { klu.solve(b); }), "KLU: must factor before solve");
    EXPECT_EQ(error_of([&] { klu.tsolve(b); }), "KLU: must factor before tsolve");
}

TEST(KluWrapper, SolveAndTransposedSolve) {
    KLUSolver klu;
    SparseMatrix m = small_matrix();
    klu.analyze(m);
    klu.factor(m);
    std::vector<double> b{6, 11, 8};  // A (1, 2, 3)
    klu.solve(b);
    EXPECT_NEAR(b[0], 1.0, 1e-14);
    EXPECT_NEAR(b[1], 2.0, 1e-14);
    EXPECT_NEAR(b[2], 3.0, 1e-14);
    std::vector<double> c{8, 10, 8};  // A^T (1, 2, 3)
    klu.tsolve(c);
    EXPECT_NEAR(c[0], 1.0, 1e-14);
    EXPECT_NEAR(c[1], 2.0, 1e-14);
    EXPECT_NEAR(c[2], 3.0, 1e-14);

    // New values, same pattern: refactor reuses the pivot order.
    for (double& x : m.values) x *= 2.0;
    EXPECT_NE(klu.refactor(m), 0);
    std::vector<double> d{12, 22, 16};
    klu.solve(d);
    EXPECT_NEAR(d[0], 1.0, 1e-14);
    EXPECT_NEAR(d[1], 2.0, 1e-14);
    EXPECT_NEAR(d[2], 3.0, 1e-14);
}

TEST(KluWrapper, SingularMatrix) {
    KLUSolver klu;
    SparseMatrix m = small_matrix();
    klu.analyze(m);
    klu.factor(m);
    // The last column zeroed: numerically singular, same pattern.
    SparseMatrix singular = m;
    singular.values[5] = 0.0;
    singular.values[6] = 0.0;
    EXPECT_EQ(klu.refactor(singular), 0);  // returned, not thrown
    EXPECT_EQ(error_of([&] { klu.factor(singular); }), "KLU numeric factorization failed");
    EXPECT_EQ(klu.numeric, nullptr);
    std::vector<double> b{1, 2, 3};
    EXPECT_EQ(error_of([&] { klu.solve(b); }), "KLU: must factor before solve");
    // The analysis survives: a regular matrix factorises again.
    klu.factor(m);
    std::vector<double> c{6, 11, 8};
    klu.solve(c);
    EXPECT_NEAR(c[2], 3.0, 1e-14);
}

// An allocation that fails inside KLU is memory exhaustion, thrown as std::bad_alloc, not a
// matrix that cannot be analysed or factorised; the wrapper works again afterwards.
TEST(KluWrapper, OutOfMemoryInsideKluThrowsBadAlloc) {
    if (!varnok_test_can_fail_allocations())
        GTEST_SKIP() << "allocations cannot be made to fail here (needs glibc, no sanitizer)";
    const SparseMatrix m = small_matrix();
    struct Case {
        const char* call;
        bool analysed;    // before the failing call
        bool factorised;
        void (*make)(KLUSolver&, const SparseMatrix&);
    };
    const Case cases[] = {
        {"klu_analyze", false, false, [](KLUSolver& k, const SparseMatrix& a) { k.analyze(a); }},
        {"klu_factor", true, false, [](KLUSolver& k, const SparseMatrix& a) { k.factor(a); }},
        // A refactorisation allocates only to scale a factorisation that was not scaled.
        {"klu_refactor", true, true,
         [](KLUSolver& k, const SparseMatrix& a) {
             k.common->scale = 2;
             (void)k.refactor(a);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        KLUSolver klu;
        // once whole first, so that the thread's own memory is set up before the failure
        klu.analyze(m);
        klu.factor(m);
        klu.release();
        if (c.analysed) klu.analyze(m);
        if (c.factorised) {
            klu.common->scale = 0;
            klu.factor(m);
        }

        bool bad_alloc = false;
        varnok_test_fail_allocation(1);
        try {
            c.make(klu, m);
        } catch (const std::bad_alloc&) {
            bad_alloc = true;
        }
        EXPECT_TRUE(varnok_test_allocation_failed());
        EXPECT_TRUE(bad_alloc);

        klu.analyze(m);
        klu.factor(m);
        std::vector<double> b{6, 11, 8};  // A (1, 2, 3)
        klu.solve(b);
        EXPECT_NEAR(b[2], 3.0, 1e-14);
    }
}

TEST(KluWrapper, AnalysisFailure) {
    KLUSolver klu;
    EXPECT_EQ(error_of([&] { klu.analyze(SparseMatrix{}); }), "KLU symbolic analysis failed");
    SparseMatrix zero_order;
    zero_order.col_ptr = {0};
    EXPECT_EQ(error_of([&] { klu.analyze(zero_order); }), "KLU symbolic analysis failed");
    EXPECT_EQ(klu.symbolic, nullptr);
}

TEST(KluWrapper, MatrixThatDoesNotFitTheAnalysis) {
    KLUSolver klu;
    const SparseMatrix m = small_matrix();
    klu.analyze(m);
    klu.factor(m);
    SparseMatrix bigger;
    bigger.n = 4;
    bigger.col_ptr = {0, 1, 2, 3, 4};
    bigger.row_idx = {0, 1, 2, 3};
    bigger.values = {1, 1, 1, 1};
    EXPECT_EQ(klu.refactor(bigger), 0);
    EXPECT_EQ(error_of([&] { klu.factor(bigger); }), "KLU numeric factorization failed");
    klu.factor(m);
    std::vector<double> short_b{1, 2};
    EXPECT_EQ(error_of([&] { klu.solve(short_b); }), "KLU solve failed");
    EXPECT_EQ(error_of([&] { klu.tsolve(short_b); }), "KLU transpose solve failed");
}

TEST(KluWrapper, AnalysedPatternIsRecognisedExactly) {
    KLUSolver klu;
    SparseMatrix m = small_matrix();
    EXPECT_FALSE(klu.analysed(m));
    klu.analyze(m);
    EXPECT_TRUE(klu.analysed(m));
    SparseMatrix other_values = m;
    other_values.values = {5, 1, 2, 4, 1, 2, 3};
    EXPECT_TRUE(klu.analysed(other_values));  // values are not part of an analysis
    SparseMatrix other_rows = m;
    other_rows.row_idx = {0, 2, 0, 1, 2, 1, 2};  // (2,0) in place of (1,0)
    EXPECT_FALSE(klu.analysed(other_rows));
    SparseMatrix other_columns = m;
    other_columns.col_ptr = {0, 3, 5, 7};
    other_columns.row_idx = {0, 1, 2, 0, 1, 1, 2};
    EXPECT_FALSE(klu.analysed(other_columns));
    SparseMatrix bigger;
    bigger.n = 4;
    bigger.col_ptr = {0, 1, 2, 3, 4};
    bigger.row_idx = {0, 1, 2, 3};
    EXPECT_FALSE(klu.analysed(bigger));

    klu.analyze(other_rows);  // the newest analysis counts
    EXPECT_TRUE(klu.analysed(other_rows));
    EXPECT_FALSE(klu.analysed(m));
    EXPECT_THROW(klu.analyze(SparseMatrix{}), std::runtime_error);
    EXPECT_FALSE(klu.analysed(other_rows));  // a failed analysis leaves none
    klu.analyze(m);
    klu.release();
    EXPECT_FALSE(klu.analysed(m));
}

TEST(KluWrapper, ReleaseReturnsToConstructedState) {
    KLUSolver klu;
    const SparseMatrix m = small_matrix();
    klu.analyze(m);
    klu.factor(m);
    klu.common->tol = 0.5;  // as if changed; release sets the defaults again
    klu.release();
    EXPECT_EQ(klu.symbolic, nullptr);
    EXPECT_EQ(klu.numeric, nullptr);
    klu_common defaults;
    klu_defaults(&defaults);
    EXPECT_EQ(klu.common->tol, defaults.tol);
    EXPECT_EQ(klu.common->btf, defaults.btf);
    EXPECT_EQ(klu.common->ordering, defaults.ordering);
    std::vector<double> b{6, 11, 8};
    EXPECT_EQ(error_of([&] { klu.solve(b); }), "KLU: must factor before solve");
    klu.analyze(m);
    klu.factor(m);
    klu.solve(b);
    EXPECT_NEAR(b[1], 2.0, 1e-14);
    klu.release();
    klu.release();  // twice is harmless
}

TEST(KluWrapper, FactorisesAJacobianPattern) {
    Network net = buses_only(3);
    connect(net, 0, 1);
    connect(net, 1, 2);
    SparseMatrix m;
    m.build_structure(net);
    // Diagonally dominant values on the pattern.
    for (int c = 0; c < m.n; ++c)
        for (int p = m.col_ptr[c]; p < m.col_ptr[c + 1]; ++p)
            m.values[p] = m.row_idx[p] == c ? 10.0 : 1.0;
    KLUSolver klu;
    klu.analyze(m);
    klu.factor(m);
    std::vector<double> b(6, 0.0);
    for (int c = 0; c < m.n; ++c)  // b = A * ones
        for (int p = m.col_ptr[c]; p < m.col_ptr[c + 1]; ++p) b[m.row_idx[p]] += m.values[p];
    klu.solve(b);
    for (double x : b) EXPECT_NEAR(x, 1.0, 1e-13);
}

}  // namespace
}  // namespace varnok
