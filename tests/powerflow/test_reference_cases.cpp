// The public reference networks: each must converge and reproduce its reference voltages, and a
// solve that keeps the symbolic analysis of the solve before must repeat a fresh one bit for bit.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "network/InputParser.h"
#include "network/Network.h"
#include "network/SolverParams.h"
#include "powerflow/PowerFlow.h"

namespace {

struct ReferenceCase {
    const char* name;   // <name>.txt and <name>.ref in the cases directory
    double tolerance;   // on |V| (pu) and on the angle (rad)
};

const ReferenceCase kCases[] = {
    {"case9", 1e-6}, {"case14", 1e-6}, {"case30", 1e-6},
    {"case118", 1e-6}, {"case300", 1e-6}, {"case2383wp", 1e-6}, {"case9241pegase", 1e-6},
};

struct BusReference {
    std::string name;
    double v = 0.0;
    double angle = 0.0;
};

std::vector<BusReference> read_reference(const std::string& path) {
    std::vector<BusReference> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        BusReference row;
        if (fields >> row.name >> row.v >> row.angle) rows.push_back(row);
    }
    return rows;
}

TEST(ReferenceCases, ConvergeToTheReferenceSolution) {
    for (const ReferenceCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string base = std::string(VARNOK_CASES_DIR) + "/" + c.name;
        varnok::Network network;
        varnok::SolverParams params;
        varnok::InputParser{}.load(base + ".txt", network, params);
        network.prune_islands();

        varnok::PowerFlowSolver solver;
        const varnok::SolveResult result = solver.solve(network, params);
        ASSERT_TRUE(result.converged);
        EXPECT_EQ(result.status, varnok::CONVERGED);
        EXPECT_LE(result.iterations, 10);

        const std::vector<BusReference> reference = read_reference(base + ".ref");
        ASSERT_EQ(reference.size(), network.buses.size());
        for (const BusReference& row : reference) {
            const int bus = network.find_bus(row.name);
            ASSERT_GE(bus, 0) << row.name;
            EXPECT_NEAR(network.buses[bus].v, row.v, c.tolerance) << row.name;
            EXPECT_NEAR(network.buses[bus].angle, row.angle, c.tolerance) << row.name;
        }
    }
}

// Every number a solve leaves: the bits of the bus voltages and angles and of the unit outputs,
// the iteration count, the largest mismatches and the status. The solve starts from the loaded
// state with `change` made to it.
std::vector<std::uint64_t> solve_bits(
    varnok::PowerFlowSolver& solver, varnok::Network& network, const varnok::SolverParams& params,
    const std::function<void(varnok::Network&)>& change = {}) {
    network.reset_to_initial();
    if (change) change(network);
    network.prune_islands();
    const varnok::SolveResult r = solver.solve(network, params);
    solver.compute_injections(network, params);
    std::vector<std::uint64_t> bits;
    auto put = [&bits](double x) {
        std::uint64_t u;
        std::memcpy(&u, &x, sizeof u);
        bits.push_back(u);
    };
    for (const varnok::Bus& bus : network.buses) {
        put(bus.v);
        put(bus.angle);
    }
    for (const varnok::Generator& gen : network.generators) {
        put(gen.p);
        put(gen.q);
    }
    put(r.max_p_mismatch);
    put(r.max_q_mismatch);
    bits.push_back(static_cast<std::uint64_t>(r.iterations));
    bits.push_back(static_cast<std::uint64_t>(r.status));
    return bits;
}

TEST(ReferenceCases, ReusedAnalysisRepeatsAFreshSolveBitForBit) {
    for (const ReferenceCase& c : kCases) {
        // As the files set them (no controls), and with the reactive limits acting.
        for (const bool limits : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (limits ? " with reactive limits" : ""));
            varnok::Network network;
            varnok::SolverParams params;
            varnok::InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/" + c.name + ".txt",
                                       network, params);
            if (limits) params.misqlim = varnok::SolverParams{}.misqlim;
            network.save_initial_snapshot();

            varnok::PowerFlowSolver fresh;
            const std::vector<std::uint64_t> afresh = solve_bits(fresh, network, params);
            ASSERT_TRUE(fresh.klu.analysed(fresh.jacobian));
            const klu_symbolic* analysis = fresh.klu.symbolic;
            EXPECT_EQ(solve_bits(fresh, network, params), afresh);
            EXPECT_EQ(fresh.klu.symbolic, analysis);  // kept, not made again

            varnok::PowerFlowSolver other;
            EXPECT_EQ(solve_bits(other, network, params), afresh);
        }
    }
}

// A renewed solver is a fresh one, with the pattern and analysis of the network in front of
// it, that builds them in the memory the last solve left: as a contingency run uses it.
TEST(ReferenceCases, RenewedSolverSolvesEachOutageAsAFreshOneInTheLastOnesMemory) {
    for (const ReferenceCase& c : kCases) {
        SCOPED_TRACE(c.name);
        varnok::Network network;
        varnok::SolverParams params;
        varnok::InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/" + c.name + ".txt", network,
                                   params);
        network.save_initial_snapshot();
        varnok::PowerFlowSolver renewed;
        solve_bits(renewed, network, params);  // the base case: every branch in the pattern

        const int count = static_cast<int>(network.branches.size());
        for (const int k : {0, count / 2, count - 1}) {
            SCOPED_TRACE("outage of branch " + std::to_string(k));
            const auto trip = [k](varnok::Network& n) { n.branches[k].status = 0; };
            const int* rows = renewed.jacobian.row_idx.data();
            renewed.renew();
            EXPECT_FALSE(renewed.structure_built);
            EXPECT_EQ(renewed.klu.symbolic, nullptr);
            EXPECT_EQ(renewed.klu.numeric, nullptr);
            EXPECT_TRUE(renewed.jacobian.row_idx.empty());
            EXPECT_TRUE(renewed.v.empty());

            const std::vector<std::uint64_t> got = solve_bits(renewed, network, params, trip);
            varnok::PowerFlowSolver fresh;
            EXPECT_EQ(got, solve_bits(fresh, network, params, trip));
            EXPECT_EQ(renewed.jacobian.col_ptr, fresh.jacobian.col_ptr);
            EXPECT_EQ(renewed.jacobian.row_idx, fresh.jacobian.row_idx);
            EXPECT_EQ(renewed.jacobian.row_idx.data(), rows);  // no fewer entries than before
        }
    }
}

}  // namespace
