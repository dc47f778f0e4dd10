// Network equations: state, mismatch, Jacobian values, unit outputs, write-back and branch flows.
//
// The references below are built independently of the code under test: branch flows from the
// complex branch model (series admittance, ideal transformer at the to end, a shunt at each end),
// the Jacobian from a central difference of the mismatch.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "powerflow/BranchFlow.h"
#include "powerflow/PowerFlow.h"
#include "network_builders.h"

namespace varnok {
namespace {

using cplx = std::complex<double>;

// --- A network with every kind of branch and injection ---------------------------------------

enum : int {
    SLACK_BUS = 0,   // SLACK, voltage-controlling generator
    PV_BUS = 1,      // PV, voltage-controlling generator
    LOAD_BUS = 2,    // PQ with load, b_shunt and q_shunt
    PQGEN_BUS = 3,   // PQ with a GEN_PQ generator and a shunt-conductance loop
    SVC_REMOTE = 4,  // PQ with a compensator sensing LOAD_BUS
    SVC_LOCAL = 5,   // PQ with a compensator sensing its own bus
    ISLAND_BUS = 6,  // ISOLATED
    QMAX_BUS = 7,    // PQ with a generator held at its upper limit
    HELD_PV = 8,     // PV whose generator is held at its lower limit
    BUS_COUNT = 9
};

// A bus named after its index.
int add_bus(Network& net, int type, double p_load = 0, double q_load = 0) {
    return add_plain_bus(net, "B" + std::to_string(net.buses.size()), type, p_load, q_load);
}

int add_gen(Network& net, int bus, int mode, double p, double q, double v_set) {
    Generator gen;
    gen.name = "G" + std::to_string(bus);
    gen.bus = gen.reg_bus = bus;
    gen.mode = mode;
    gen.p = p;
    gen.q = q;
    gen.v_set = v_set;
    gen.q_max = 1.0;
    gen.q_min = -1.0;
    const int g = net.add_generator(gen);
    net.buses[bus].gen = g;
    return g;
}

int add_svc(Network& net, int bus, int sense, int mode) {
    SVC svc;
    svc.name = "S" + std::to_string(bus);
    svc.bus = bus;
    svc.sense_bus = sense;
    svc.mode = mode;
    svc.v_set = 1.01;
    svc.gain = 5.0;
    svc.b_max = 0.4;
    svc.b_min = -0.3;
    svc.q = svc.q_init = 0.07;
    const int s = net.add_svc(svc);
    net.buses[bus].svc = s;
    return s;
}

Branch line(int from, int to, double g, double b, double b_half = 0.0) {
    Branch br;
    br.name = "L" + std::to_string(from) + "-" + std::to_string(to);
    br.from = from;
    br.to = to;
    br.g_from = br.g_to = g;
    br.b_from = br.b_to = b;
    br.b_shunt_from = br.b_shunt_to = b_half;
    return br;
}

Network mixed_network(int remote_svc_mode = SVC_VOLTAGE_CONTROL,
                      int local_svc_mode = SVC_VOLTAGE_CONTROL) {
    Network net;
    add_bus(net, SLACK, 0.1, 0.0);
    add_bus(net, PV, 0.0, 0.05);
    add_bus(net, PQ, 0.8, 0.3);
    add_bus(net, PQ, 0.1, 0.02);
    add_bus(net, PQ, 0.2, 0.1);
    add_bus(net, PQ, 0.0, 0.05);
    add_bus(net, ISOLATED, 0.0, 0.0);
    add_bus(net, PQ, 0.05, 0.01);
    add_bus(net, PV, 0.1, 0.0);
    net.buses[LOAD_BUS].b_shunt = 0.05;
    net.buses[LOAD_BUS].q_shunt = 0.02;
    net.buses[ISLAND_BUS].b_shunt = 0.1;
    net.buses[SVC_LOCAL].b_shunt = -0.03;
    net.slack_bus = SLACK_BUS;

    add_gen(net, SLACK_BUS, GEN_VOLTAGE_CONTROL, 0.4, 0.0, 1.02);
    add_gen(net, PV_BUS, GEN_VOLTAGE_CONTROL, 0.5, 0.3, 1.01);
    add_gen(net, PQGEN_BUS, GEN_PQ, 0.2, 0.1, 0.0);
    add_gen(net, QMAX_BUS, GEN_AT_QMAX, 0.1, 0.15, 1.0);
    add_gen(net, HELD_PV, GEN_AT_QMIN, 0.05, -0.04, 1.0);
    add_svc(net, SVC_REMOTE, LOAD_BUS, remote_svc_mode);
    add_svc(net, SVC_LOCAL, SVC_LOCAL, local_svc_mode);

    net.add_branch(line(0, 1, 2.0, -20.0, 0.02));
    net.add_branch(line(0, 1, 1.0, -10.0));  // parallel
    Branch trafo = line(1, 2, 0.5, -15.0);
    trafo.name = "T1-2";
    trafo.is_transformer = true;
    trafo.kind = BRANCH_TRANSFORMER;
    trafo.ratio = 1.05;
    trafo.shift = 0.1;
    trafo.g_shunt_from = 0.01;
    trafo.b_shunt_from = -0.02;
    net.add_branch(trafo);
    Branch nrtp;
    nrtp.name = "N2-3";
    nrtp.kind = BRANCH_NRTP;
    nrtp.from = 2;
    nrtp.to = 3;
    nrtp.g_from = 1.5;
    nrtp.b_from = -8.0;
    nrtp.g_to = 1.2;
    nrtp.b_to = -7.5;
    nrtp.g_shunt_from = 0.01;
    nrtp.b_shunt_from = 0.03;
    nrtp.g_shunt_to = 0.02;
    nrtp.b_shunt_to = 0.04;
    nrtp.ratio = 0.97;
    nrtp.shift = -0.05;
    net.add_branch(nrtp);
    net.add_branch(line(3, 4, 1.0, -12.0, 0.01));
    net.add_branch(line(4, 5, 0.8, -9.0));
    net.add_branch(line(2, 5, 1.0, -10.0));
    Branch open = line(5, 6, 1.0, -10.0);
    open.status = 0;
    net.add_branch(open);
    Branch loop;  // shunt conductance written as a branch from a bus to itself
    loop.name = "GS3";
    loop.kind = BRANCH_NRTP;
    loop.from = loop.to = PQGEN_BUS;
    loop.g_shunt_from = 0.05;
    net.add_branch(loop);
    net.add_branch(line(2, 7, 0.9, -11.0));
    net.add_branch(line(7, 8, 1.1, -13.0, 0.015));
    net.add_branch(line(8, 0, 1.3, -14.0));
    return net;
}

// A state away from the flat start, the isolated bus at 0.
void set_state(PowerFlowSolver& s) {
    const double v[BUS_COUNT] = {1.02, 1.01, 0.97, 0.985, 0.99, 1.003, 0.0, 0.96, 1.015};
    const double th[BUS_COUNT] = {0.0, 0.05, -0.08, -0.11, -0.12, -0.1, 0.0, -0.09, -0.03};
    s.v.assign(v, v + BUS_COUNT);
    s.theta.assign(th, th + BUS_COUNT);
}

// --- Independent references ------------------------------------------------------------------

struct ComplexFlows {
    cplx s_ft, s_tf;
};

ComplexFlows complex_flows(const Branch& br, double vf, double af, double vt, double at) {
    const cplx y_from(br.g_from, br.b_from), y_to(br.g_to, br.b_to);
    const cplx sh_from(br.g_shunt_from, br.b_shunt_from), sh_to(br.g_shunt_to, br.b_shunt_to);
    const cplx e_from = std::polar(vf, af);
    const cplx e_to = std::polar(vt / br.ratio, at - br.shift);  // behind the ideal transformer
    const cplx i_from = (y_from + sh_from) * e_from - y_from * e_to;
    const cplx i_to = (y_to + sh_to) * e_to - y_to * e_from;
    return {e_from * std::conj(i_from), e_to * std::conj(i_to)};
}

std::vector<double> reference_mismatch(const Network& net, const std::vector<double>& v,
                                       const std::vector<double>& th) {
    const int n = static_cast<int>(net.buses.size());
    std::vector<cplx> s(n);
    for (int i = 0; i < n; ++i) {
        const Bus& b = net.buses[i];
        s[i] = cplx(-b.p_load, -b.q_load + b.b_shunt * v[i] * v[i] + b.q_shunt);
    }
    for (const Generator& g : net.generators) {
        if (g.status != 1) continue;
        s[g.bus] += cplx(g.p, g.mode > 0 ? g.q : 0.0);
    }
    for (const SVC& c : net.svcs) {
        if (c.status != 1) continue;
        const double v2 = v[c.bus] * v[c.bus];
        double q = 0;
        if (c.mode == SVC_VOLTAGE_CONTROL) q = c.gain * (c.v_set - v[c.sense_bus]) * v2;
        if (c.mode == SVC_AT_BMAX) q = c.b_max * v2;
        if (c.mode == SVC_AT_BMIN) q = c.b_min * v2;
        if (c.mode == SVC_FIXED_Q) q = c.q;
        s[c.bus] += cplx(0, q);
    }
    for (const Branch& br : net.branches) {
        if (br.status != 1) continue;
        const ComplexFlows f = complex_flows(br, v[br.from], th[br.from], v[br.to], th[br.to]);
        s[br.from] -= f.s_ft;
        s[br.to] -= f.s_tf;
    }
    std::vector<double> m(2 * n);
    for (int i = 0; i < n; ++i) {
        m[2 * i] = s[i].imag();
        m[2 * i + 1] = s[i].real();
    }
    for (const Generator& g : net.generators)
        if (g.status == 1 && g.mode == GEN_VOLTAGE_CONTROL) m[2 * g.bus] = 0;
    if (net.slack_bus >= 0) m[2 * net.slack_bus + 1] = 0;
    for (int i = 0; i < n; ++i)
        if (net.buses[i].type == ISOLATED) m[2 * i] = m[2 * i + 1] = 0;
    return m;
}

std::vector<std::vector<double>> dense(const SparseMatrix& m) {
    std::vector<std::vector<double>> a(m.n, std::vector<double>(m.n, 0.0));
    for (int c = 0; c < m.n; ++c)
        for (int p = m.col_ptr[c]; p < m.col_ptr[c + 1]; ++p) a[m.row_idx[p]][c] = m.values[p];
    return a;
}

// Rows whose equation is the network's own (neither replaced nor zeroed).
bool free_row(const Network& net, int row) {
    const int bus = row / 2;
    const int type = net.buses[bus].type;
    if (type == ISOLATED) return false;
    if (row % 2 == 1) return bus != net.slack_bus;
    if (type == PV || type == SLACK) return false;
    for (const Generator& g : net.generators)
        if (g.bus == bus && g.status == 1 && g.mode == GEN_VOLTAGE_CONTROL) return false;
    return true;
}

// J = -dm/dx by central differences of compute_mismatch.
std::vector<std::vector<double>> finite_difference_jacobian(const Network& net,
                                                            PowerFlowSolver& s) {
    const int n = 2 * static_cast<int>(net.buses.size());
    const double h = 1e-6;
    std::vector<std::vector<double>> a(n, std::vector<double>(n, 0.0));
    const std::vector<double> v0 = s.v, th0 = s.theta;
    for (int c = 0; c < n; ++c) {
        std::vector<double>& x = c % 2 == 0 ? s.v : s.theta;
        x[c / 2] += h;
        s.compute_mismatch(net);
        const std::vector<double> up = s.mismatch;
        x[c / 2] -= 2 * h;
        s.compute_mismatch(net);
        for (int r = 0; r < n; ++r) a[r][c] = -(up[r] - s.mismatch[r]) / (2 * h);
        s.v = v0;
        s.theta = th0;
    }
    return a;
}

const int svc_modes[] = {SVC_VOLTAGE_CONTROL, SVC_AT_BMAX, SVC_AT_BMIN, SVC_FIXED_Q, 7};

// --- init_state and write_back ---------------------------------------------------------------

TEST(Equations, InitStateFromBusesAndSetpoints) {
    Network net = mixed_network();
    for (int i = 0; i < BUS_COUNT; ++i) {
        net.buses[i].v = 0.9 + 0.01 * i;
        net.buses[i].angle = -0.01 * i;
    }
    // Out of service, or at an isolated bus: no setpoint applied.
    const int off = add_gen(net, LOAD_BUS, GEN_VOLTAGE_CONTROL, 0, 0, 1.1);
    net.generators[off].status = 0;
    add_gen(net, ISLAND_BUS, GEN_VOLTAGE_CONTROL, 0, 0, 1.1);
    PowerFlowSolver s;
    s.mismatch = {42.0};
    s.init_state(net);
    ASSERT_EQ(s.v.size(), 9u);
    ASSERT_EQ(s.theta.size(), 9u);
    ASSERT_EQ(s.mismatch.size(), 18u);
    EXPECT_EQ(s.v[SLACK_BUS], 1.02);
    EXPECT_EQ(s.v[PV_BUS], 1.01);
    EXPECT_EQ(s.v[ISLAND_BUS], 0.0);
    EXPECT_EQ(s.theta[ISLAND_BUS], 0.0);
    for (int i : {LOAD_BUS, QMAX_BUS /* GEN_AT_QMAX: no setpoint applied */, HELD_PV}) {
        EXPECT_EQ(s.v[i], net.buses[i].v);
    }
    for (int i : {SLACK_BUS, PV_BUS, LOAD_BUS, HELD_PV}) EXPECT_EQ(s.theta[i], net.buses[i].angle);
    for (std::size_t i = 1; i < 18; ++i) EXPECT_EQ(s.mismatch[i], 0.0);
}

TEST(Equations, WriteBackCopiesEveryBus) {
    Network net = mixed_network();
    PowerFlowSolver s;
    set_state(s);
    s.write_back(net);
    for (int i = 0; i < BUS_COUNT; ++i) {
        EXPECT_EQ(net.buses[i].v, s.v[i]);
        EXPECT_EQ(net.buses[i].angle, s.theta[i]);
    }
    EXPECT_EQ(net.buses[ISLAND_BUS].v, 0.0);
}

// --- Mismatch --------------------------------------------------------------------------------

TEST(Equations, MismatchAgainstComplexModelForEveryCompensatorMode) {
    for (int remote : svc_modes)
        for (int local : svc_modes) {
            SCOPED_TRACE("modes " + std::to_string(remote) + " " + std::to_string(local));
            Network net = mixed_network(remote, local);
            PowerFlowSolver s;
            s.init_state(net);
            set_state(s);
            s.compute_mismatch(net);
            const std::vector<double> ref = reference_mismatch(net, s.v, s.theta);
            ASSERT_EQ(s.mismatch.size(), ref.size());
            for (std::size_t r = 0; r < ref.size(); ++r) EXPECT_NEAR(s.mismatch[r], ref[r], 1e-13);
        }
}

TEST(Equations, MismatchReplacedRows) {
    Network net = mixed_network();
    PowerFlowSolver s;
    s.init_state(net);
    set_state(s);
    s.compute_mismatch(net);
    const std::vector<double>& m = s.mismatch;
    EXPECT_EQ(m[2 * SLACK_BUS], 0.0);       // voltage-controlling generator
    EXPECT_EQ(m[2 * SLACK_BUS + 1], 0.0);   // slack angle
    EXPECT_EQ(m[2 * PV_BUS], 0.0);
    EXPECT_NE(m[2 * PV_BUS + 1], 0.0);
    EXPECT_EQ(m[2 * ISLAND_BUS], 0.0);
    EXPECT_EQ(m[2 * ISLAND_BUS + 1], 0.0);
    // A PV bus without a voltage-controlling generator keeps its reactive mismatch.
    EXPECT_NE(m[2 * HELD_PV], 0.0);
}

TEST(Equations, MismatchUnitRules) {
    struct Case {
        const char* what;
        int bus;
        void (*change)(Network&);
        double dq;  // change of the reactive mismatch at `bus`
        double dp;
    };
    const Case cases[] = {
        {"generator out of service injects nothing", PQGEN_BUS,
         [](Network& n) { n.generators[n.buses[PQGEN_BUS].gen].status = 0; }, -0.1, -0.2},
        {"generator status 2 counts as out", PQGEN_BUS,
         [](Network& n) { n.generators[n.buses[PQGEN_BUS].gen].status = 2; }, -0.1, -0.2},
        {"GEN_AT_QMAX injects its q", QMAX_BUS,
         [](Network& n) { n.generators[n.buses[QMAX_BUS].gen].q = 0.35; }, 0.2, 0.0},
        {"compensator out of service", SVC_LOCAL,
         [](Network& n) {
             n.svcs[n.buses[SVC_LOCAL].svc].status = 0;
             n.svcs[n.buses[SVC_LOCAL].svc].mode = SVC_FIXED_Q;  // would inject 0.07
         },
         0.0, 0.0},
        {"fixed compensator injects its q", SVC_LOCAL,
         [](Network& n) { n.svcs[n.buses[SVC_LOCAL].svc].mode = SVC_FIXED_Q; }, 0.07, 0.0},
        {"unknown compensator mode injects nothing", SVC_LOCAL,
         [](Network& n) { n.svcs[n.buses[SVC_LOCAL].svc].mode = 6; }, 0.0, 0.0},
    };
    // Baselines with the local compensator injecting nothing make the deltas plain.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Network base = mixed_network(SVC_VOLTAGE_CONTROL, 6);
        Network changed = mixed_network(SVC_VOLTAGE_CONTROL, 6);
        c.change(changed);
        PowerFlowSolver a, b;
        a.init_state(base);
        set_state(a);
        a.compute_mismatch(base);
        b.init_state(changed);
        set_state(b);
        b.compute_mismatch(changed);
        EXPECT_NEAR(b.mismatch[2 * c.bus] - a.mismatch[2 * c.bus], c.dq, 1e-14);
        EXPECT_NEAR(b.mismatch[2 * c.bus + 1] - a.mismatch[2 * c.bus + 1], c.dp, 1e-14);
    }
}

// A compensator held at a susceptance limit or at a fixed output does not read its sensing bus:
// without one (-1) it injects and differentiates exactly as when it senses its own bus.
TEST(Equations, CompensatorWithoutSensingBusOutsideVoltageControl) {
    for (int mode : {SVC_AT_BMAX, SVC_AT_BMIN, SVC_FIXED_Q}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Network own = mixed_network(SVC_VOLTAGE_CONTROL, mode);
        Network none = mixed_network(SVC_VOLTAGE_CONTROL, mode);
        none.svcs[none.buses[SVC_LOCAL].svc].sense_bus = -1;
        PowerFlowSolver a, b;
        for (auto [s, net] : {std::pair{&a, &own}, std::pair{&b, &none}}) {
            s->jacobian.build_structure(*net);
            s->init_state(*net);
            set_state(*s);
            s->compute_mismatch(*net);
            s->jacobian.compute_jacobian(*net, s->v, s->theta);
        }
        EXPECT_EQ(b.mismatch, a.mismatch);
        EXPECT_EQ(b.jacobian.values, a.jacobian.values);
    }
}

TEST(Equations, BranchStatusTwoIsOutOfTheMismatch) {
    Network two = mixed_network(), open = mixed_network();
    two.branches[4].status = 2;
    open.branches[4].status = 0;
    PowerFlowSolver a, b;
    a.init_state(two);
    set_state(a);
    a.compute_mismatch(two);
    b.init_state(open);
    set_state(b);
    b.compute_mismatch(open);
    EXPECT_EQ(a.mismatch, b.mismatch);
}

TEST(Equations, NoSlackBusKeepsEveryActiveRow) {
    Network net = mixed_network();
    net.slack_bus = -1;
    PowerFlowSolver s;
    s.init_state(net);
    set_state(s);
    s.compute_mismatch(net);
    EXPECT_NE(s.mismatch[2 * SLACK_BUS + 1], 0.0);
    const std::vector<double> ref = reference_mismatch(net, s.v, s.theta);
    EXPECT_NEAR(s.mismatch[2 * SLACK_BUS + 1], ref[2 * SLACK_BUS + 1], 1e-13);
}

// --- Jacobian --------------------------------------------------------------------------------

TEST(Equations, JacobianMatchesFiniteDifferenceForEveryCompensatorMode) {
    for (int remote : svc_modes)
        for (int local : svc_modes) {
            SCOPED_TRACE("modes " + std::to_string(remote) + " " + std::to_string(local));
            Network net = mixed_network(remote, local);
            PowerFlowSolver s;
            s.jacobian.build_structure(net);
            s.init_state(net);
            set_state(s);
            s.compute_mismatch(net);
            s.jacobian.compute_jacobian(net, s.v, s.theta);
            const auto j = dense(s.jacobian);
            const auto fd = finite_difference_jacobian(net, s);
            for (int r = 0; r < 2 * BUS_COUNT; ++r) {
                if (!free_row(net, r)) continue;
                for (int c = 0; c < 2 * BUS_COUNT; ++c) {
                    if (c / 2 == ISLAND_BUS) continue;
                    EXPECT_NEAR(j[r][c], fd[r][c], 2e-7) << "row " << r << " col " << c;
                }
            }
        }
}

TEST(Equations, JacobianReplacedRowsHoldExactValues) {
    Network net = mixed_network();
    PowerFlowSolver s;
    s.jacobian.build_structure(net);
    s.init_state(net);
    set_state(s);
    s.jacobian.compute_jacobian(net, s.v, s.theta);
    const auto j = dense(s.jacobian);
    const int n = 2 * BUS_COUNT;
    auto expect_row = [&](int row, int diag_col, double diag) {
        for (int c = 0; c < n; ++c)
            EXPECT_EQ(j[row][c], c == diag_col ? diag : 0.0) << row << "," << c;
    };
    for (int bus : {SLACK_BUS, PV_BUS, HELD_PV}) expect_row(2 * bus, 2 * bus, 1.0);
    expect_row(2 * SLACK_BUS + 1, 2 * SLACK_BUS + 1, 2000.0);
    expect_row(2 * ISLAND_BUS, 2 * ISLAND_BUS, 1.0);  // its b_shunt adds 2 b v = 0
    expect_row(2 * ISLAND_BUS + 1, 2 * ISLAND_BUS + 1, 1.0);
    // The slack's angle column keeps its entries in the other rows.
    EXPECT_NE(j[2 * PV_BUS + 1][2 * SLACK_BUS + 1], 0.0);
}

TEST(Equations, JacobianOfStatusTwoBranchEqualsInService) {
    Network two = mixed_network(), one = mixed_network();
    two.branches[4].status = 2;
    PowerFlowSolver a, b;
    for (auto [s, net] : {std::pair{&a, &two}, std::pair{&b, &one}}) {
        s->jacobian.build_structure(*net);
        s->init_state(*net);
        set_state(*s);
        s->jacobian.compute_jacobian(*net, s->v, s->theta);
    }
    EXPECT_EQ(a.jacobian.values, b.jacobian.values);
}

TEST(Equations, BranchMissingFromPatternAddsItsDiagonalTermsOnly) {
    Network net = mixed_network();
    net.branches[5].status = 0;  // 4-5 open when the pattern is built
    PowerFlowSolver late;
    late.jacobian.build_structure(net);
    net.branches[5].status = 1;
    EXPECT_FALSE(late.jacobian.covers(net));
    late.init_state(net);
    set_state(late);
    late.jacobian.compute_jacobian(net, late.v, late.theta);

    PowerFlowSolver full;
    full.jacobian.build_structure(net);
    EXPECT_TRUE(full.jacobian.covers(net));
    full.init_state(net);
    set_state(full);
    full.jacobian.compute_jacobian(net, full.v, full.theta);

    const auto a = dense(late.jacobian), b = dense(full.jacobian);
    for (int r = 0; r < 2 * BUS_COUNT; ++r)
        for (int c = 0; c < 2 * BUS_COUNT; ++c) {
            const bool coupling = (r / 2 == 4 && c / 2 == 5) || (r / 2 == 5 && c / 2 == 4);
            EXPECT_EQ(a[r][c], coupling ? 0.0 : b[r][c]) << r << "," << c;
        }
    EXPECT_NE(b[2 * 4 + 1][2 * 5 + 1], 0.0);
}

TEST(Equations, CachedAnglesNeverGoStale) {
    Network net = mixed_network();
    PowerFlowSolver s;
    s.jacobian.build_structure(net);
    s.init_state(net);
    set_state(s);
    s.compute_mismatch(net);
    // Move the angles and a phase shift after the mismatch; the Jacobian must see the new ones.
    s.theta[LOAD_BUS] += 0.03;
    s.theta[SLACK_BUS] = -0.0;
    net.branches[2].shift = 0.12;
    s.jacobian.compute_jacobian(net, s.v, s.theta);

    SparseMatrix fresh;
    fresh.build_structure(net);
    fresh.compute_jacobian(net, s.v, s.theta);
    EXPECT_EQ(s.jacobian.values, fresh.values);

    // And a mismatch after the Jacobian equals one from a fresh solver.
    s.compute_mismatch(net);
    PowerFlowSolver other;
    other.v = s.v;
    other.theta = s.theta;
    other.compute_mismatch(net);
    EXPECT_EQ(s.mismatch, other.mismatch);
}

TEST(Equations, JacobianRebuildsAPatternOfAnotherBusCount) {
    Network small;
    add_bus(small, SLACK);
    add_bus(small, PQ);
    small.add_branch(line(0, 1, 1.0, -10.0));
    small.slack_bus = 0;
    Network net = mixed_network();
    PowerFlowSolver s;
    s.jacobian.build_structure(small);
    s.init_state(net);
    set_state(s);
    s.jacobian.compute_jacobian(net, s.v, s.theta);
    EXPECT_EQ(s.jacobian.n, 2 * BUS_COUNT);
    EXPECT_TRUE(s.jacobian.covers(net));
}

// --- Unit outputs ----------------------------------------------------------------------------

TEST(Equations, InjectionsBalanceControllingUnits) {
    Network net = mixed_network(SVC_AT_BMAX, SVC_FIXED_Q);
    net.generators[net.buses[SLACK_BUS].gen].status = 0;  // its p is set all the same
    net.branches[11].status = 2;  // 8-0 left out of the outputs
    PowerFlowSolver s;
    s.init_state(net);
    set_state(s);
    s.compute_injections(net, SolverParams{});

    std::vector<cplx> flows(BUS_COUNT);
    for (const Branch& br : net.branches) {
        if (br.status != 1) continue;
        const ComplexFlows f = complex_flows(br, s.v[br.from], s.theta[br.from], s.v[br.to],
                                             s.theta[br.to]);
        flows[br.from] += f.s_ft;
        flows[br.to] += f.s_tf;
    }
    auto demand = [&](int b) {
        const Bus& bus = net.buses[b];
        return bus.q_load - bus.q_shunt - bus.b_shunt * s.v[b] * s.v[b] + flows[b].imag();
    };
    const auto& gens = net.generators;
    EXPECT_NEAR(gens[net.buses[SLACK_BUS].gen].p, 0.1 + flows[SLACK_BUS].real(), 1e-14);
    EXPECT_EQ(gens[net.buses[SLACK_BUS].gen].q, 0.0);  // out of service: q untouched
    EXPECT_NEAR(gens[net.buses[PV_BUS].gen].q, demand(PV_BUS), 1e-14);
    EXPECT_EQ(gens[net.buses[PV_BUS].gen].p, 0.5);
    EXPECT_EQ(gens[net.buses[PQGEN_BUS].gen].q, 0.1);
    EXPECT_EQ(gens[net.buses[QMAX_BUS].gen].q, 0.15);
    EXPECT_EQ(gens[net.buses[HELD_PV].gen].q, -0.04);
    EXPECT_NEAR(net.svcs[net.buses[SVC_REMOTE].svc].q, demand(SVC_REMOTE), 1e-14);
    EXPECT_EQ(net.svcs[net.buses[SVC_LOCAL].svc].q, 0.07);
    // The solver's voltages were used as they were.
    EXPECT_EQ(s.v[LOAD_BUS], 0.97);
}

TEST(Equations, InjectionsOnFreshSolverUseBusVoltages) {
    Network net = mixed_network();
    PowerFlowSolver with_state;
    set_state(with_state);
    with_state.write_back(net);
    Network copy = net;
    with_state.compute_injections(net, SolverParams{});

    PowerFlowSolver fresh;
    fresh.compute_injections(copy, SolverParams{});
    ASSERT_EQ(fresh.v.size(), std::size_t{BUS_COUNT});
    EXPECT_EQ(fresh.v, with_state.v);
    EXPECT_EQ(fresh.theta, with_state.theta);
    EXPECT_TRUE(fresh.mismatch.empty());
    for (std::size_t g = 0; g < net.generators.size(); ++g) {
        EXPECT_EQ(copy.generators[g].p, net.generators[g].p);
        EXPECT_EQ(copy.generators[g].q, net.generators[g].q);
    }
}

TEST(Equations, InjectionsWithoutSlackBusKeepActiveOutputs) {
    Network net = mixed_network();
    net.slack_bus = -1;
    PowerFlowSolver s;
    set_state(s);
    s.compute_injections(net, SolverParams{});
    EXPECT_EQ(net.generators[net.buses[SLACK_BUS].gen].p, 0.4);
}

// --- Branch flows ----------------------------------------------------------------------------

TEST(BranchFlows, EveryKindAgainstComplexModel) {
    Network net = mixed_network();
    net.branches[6].status = 2;  // flows computed for any non-zero status
    PowerFlowSolver s;
    set_state(s);
    s.write_back(net);
    for (int k = 0; k < static_cast<int>(net.branches.size()); ++k) {
        const Branch& br = net.branches[k];
        if (br.status == 0) continue;
        SCOPED_TRACE(br.name);
        const ComplexFlows ref = complex_flows(br, s.v[br.from], s.theta[br.from], s.v[br.to],
                                               s.theta[br.to]);
        const BranchFlow f = compute_branch_flow(net, k);
        EXPECT_NEAR(f.p_from, ref.s_ft.real(), 1e-14);
        EXPECT_NEAR(f.q_from, ref.s_ft.imag(), 1e-14);
        EXPECT_NEAR(f.p_to, ref.s_tf.real(), 1e-14);
        EXPECT_NEAR(f.q_to, ref.s_tf.imag(), 1e-14);
        const double w = s.v[br.to] / br.ratio;
        const double charging =
            s.v[br.from] * s.v[br.from] * br.b_shunt_from + w * w * br.b_shunt_to;
        EXPECT_EQ(f.p_loss, f.p_from + f.p_to);
        EXPECT_NEAR(f.q_loss, f.q_from + f.q_to + charging, 1e-15);
        EXPECT_NEAR(f.q_charging, -charging, 1e-15);
    }
}

TEST(BranchFlows, SimpleLineExactValues) {
    Network net;
    add_bus(net, SLACK);
    add_bus(net, PQ);
    net.add_branch(line(0, 1, 0.0, -10.0));
    // Flat: no flow at all; the series element carries nothing.
    BranchFlow f = compute_branch_flow(net, 0);
    EXPECT_EQ(f.p_from, 0.0);
    EXPECT_EQ(f.q_from, 0.0);
    EXPECT_EQ(f.p_to, 0.0);
    EXPECT_EQ(f.q_to, 0.0);
    EXPECT_EQ(f.q_charging, 0.0);
    // A voltage difference of 0.5 pu across x = 0.1 pu: Q_ft = -V_f^2 b + V_f V_t b.
    net.buses[0].v = 1.0;
    net.buses[1].v = 0.5;
    f = compute_branch_flow(net, 0);
    EXPECT_EQ(f.q_from, 5.0);
    EXPECT_EQ(f.q_to, -2.5);
    EXPECT_EQ(f.q_loss, 2.5);
    EXPECT_EQ(f.q_loss, f.q_from + f.q_to);
    EXPECT_EQ(f.q_charging, 0.0);
}

TEST(BranchFlows, ZeroCases) {
    Network net = mixed_network();
    PowerFlowSolver s;
    set_state(s);
    s.write_back(net);
    Branch dangling = line(1, 2, 1.0, -10.0);
    dangling.to = -1;
    const int dangling_index = net.add_branch(dangling);
    const int cases[] = {-1, static_cast<int>(net.branches.size()), 7 /* open */,
                         dangling_index, 1 << 30};
    for (int k : cases) {
        SCOPED_TRACE(k);
        const BranchFlow f = compute_branch_flow(net, k);
        for (double x : {f.p_from, f.q_from, f.p_to, f.q_to, f.p_loss, f.q_loss, f.q_charging})
            EXPECT_EQ(x, 0.0);
    }
}

TEST(BranchFlows, ReadsTheBusesNotTheSolver) {
    Network net = mixed_network();
    const BranchFlow flat = compute_branch_flow(net, 0);
    PowerFlowSolver s;
    set_state(s);  // not written back
    s.compute_mismatch(net);
    const BranchFlow after = compute_branch_flow(net, 0);
    EXPECT_EQ(flat.p_from, after.p_from);
    EXPECT_EQ(flat.q_from, after.q_from);
}

}  // namespace
}  // namespace varnok
