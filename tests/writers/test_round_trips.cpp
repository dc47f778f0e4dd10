// The reports read back: every reference network and every network file of the reader's tests,
// solved and dumped, loads again with the same solution, and its dump is a fixed point; the
// voltage-and-ratio file is a start point from which the solve converges at once.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "network/InputParser.h"
#include "network/Network.h"
#include "network/SolverParams.h"
#include "powerflow/PowerFlow.h"
#include "writers/DumpWriter.h"
#include "writers/VoltRatWriter.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

struct Case {
    Network network;
    SolverParams params;
};

// Loads `path`; false when the reader refuses it.
bool load(const std::string& path, Case& c) {
    ::testing::internal::CaptureStderr();  // the reader's warnings
    try {
        InputParser().load(path, c.network, c.params);
    } catch (const std::exception&) {
        ::testing::internal::GetCapturedStderr();
        return false;
    }
    ::testing::internal::GetCapturedStderr();
    return true;
}

// As varnok_solve does it: prune, solve, then the outputs of the units.
SolveResult solve(Case& c) {
    c.network.prune_islands();
    PowerFlowSolver solver;
    const SolveResult result = solver.solve(c.network, c.params);
    solver.compute_injections(c.network, c.params);
    return result;
}

// The reference networks and every network file of the tests' data.
std::vector<std::string> network_files() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(VARNOK_CASES_DIR))
        if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
    for (const auto& entry : fs::recursive_directory_iterator(VARNOK_TEST_DATA_DIR))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string temp_path(const std::string& source, const std::string& tag) {
    return (fs::path(::testing::TempDir()) /
            ("varnok_roundtrip_" + fs::path(source).stem().string() + tag))
        .string();
}

void expect_same_voltages(const Network& expected, const Network& actual, double tolerance) {
    ASSERT_EQ(expected.buses.size(), actual.buses.size());
    for (std::size_t i = 0; i < expected.buses.size(); ++i) {
        EXPECT_NEAR(actual.buses[i].v, expected.buses[i].v, tolerance) << expected.buses[i].name;
        EXPECT_NEAR(actual.buses[i].angle, expected.buses[i].angle, tolerance)
            << expected.buses[i].name;
    }
}

TEST(DumpRoundTrip, SolvedDumpLoadsAgainToTheSameSolutionAndDumpsTheSameFile) {
    int converged = 0;
    for (const std::string& file : network_files()) {
        SCOPED_TRACE(file);
        Case original;
        if (!load(file, original)) continue;
        const bool solved = solve(original).converged;
        const std::string first = temp_path(file, "_first.txt");
        DumpWriter().dump(original.network, first);

        Case again;
        ASSERT_TRUE(load(first, again));
        const std::string second = temp_path(file, "_second.txt");
        DumpWriter().dump(again.network, second);
        EXPECT_EQ(read_text(second), read_text(first));

        if (solved) {
            ++converged;
            ASSERT_TRUE(solve(again).converged);
            expect_same_voltages(original.network, again.network, 1e-7);
        }
        fs::remove(first);
        fs::remove(second);
    }
    EXPECT_GE(converged, 7);  // at least the reference networks
}

// Whether the solve moved a control away from where the file put it: a tap, a phase shifter, a
// unit's mode. Those start again from the file when it is read again.
bool controls_moved(const Network& solved, const std::vector<int>& modes_read) {
    for (const TapRegulator& tap : solved.tap_regulators)
        if (tap.pos != tap.pos_init) return true;
    for (const PhaseShifter& pst : solved.phase_shifters)
        if (pst.pos != pst.pos_init) return true;
    for (std::size_t i = 0; i < solved.generators.size(); ++i)
        if (solved.generators[i].mode != modes_read[i]) return true;
    return false;
}

TEST(VoltRatRoundTrip, StartFromTheFileConvergesAtOnceToTheSameVoltages) {
    int at_once = 0;
    for (const std::string& file : network_files()) {
        SCOPED_TRACE(file);
        Case original;
        if (!load(file, original)) continue;
        std::vector<int> modes_read;
        for (const Generator& gen : original.network.generators) modes_read.push_back(gen.mode);
        if (!solve(original).converged) continue;
        const std::string voltrat = temp_path(file, "_voltrat.txt");
        VoltRatWriter().write(original.network, voltrat);

        // the network's own file with the "LFRESV" lines of the voltage-and-ratio file after it
        std::string restart = read_text(file) + "\n";
        std::ifstream lines(voltrat);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("LFRESV ", 0) == 0) restart += line + "\n";
        const std::string restart_path = temp_path(file, "_restart.txt");
        write_text(restart_path, restart);

        Case again;
        ASSERT_TRUE(load(restart_path, again));
        const SolveResult result = solve(again);
        EXPECT_TRUE(result.converged);
        if (!controls_moved(original.network, modes_read)) {
            ++at_once;
            EXPECT_LE(result.iterations, 2);
        }
        expect_same_voltages(original.network, again.network, 1e-6);
        fs::remove(voltrat);
        fs::remove(restart_path);
    }
    EXPECT_GE(at_once, 7);  // at least the reference networks
}

}  // namespace
}  // namespace varnok
