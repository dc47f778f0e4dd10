// The reports read back: every reference network and every network file of the reader's tests,
// solved and dumped, loads again with the same solution, and its dump is a fixed point; the
// voltage-and-ratio file is a start point from which the solve converges at once.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "network/Network.h"
#include "network/reader_fixture.h"
#include "powerflow/PowerFlow.h"
#include "writers/DumpWriter.h"
#include "writers/VoltRatWriter.h"
#include "writers/report_text.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using report_test::read_text;
using report_test::write_text;

using Case = reader_test::Loaded;

// The network in `path`; none when the reader refuses it.
std::optional<Case> load(const std::string& path) {
    try {
        return reader_test::load_file(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// As varnok_solve does it: prune, solve, then the outputs of the units.
SolveResult solve(Case& c) {
    c.network.prune_islands();
    PowerFlowSolver solver;
    const SolveResult result = solver.solve(c.network, c.params);
    solver.compute_injections(c.network, c.params);
    return result;
}

// The reference networks and every network file of the tests' data, each once: the reference
// networks usually lie among the tests' data.
std::vector<std::string> network_files() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(VARNOK_CASES_DIR))
        if (entry.path().extension() == ".txt")
            files.push_back(fs::weakly_canonical(entry.path()).string());
    for (const auto& entry : fs::recursive_directory_iterator(VARNOK_TEST_DATA_DIR))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            files.push_back(fs::weakly_canonical(entry.path()).string());
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

// A report path for the network file `source`.
std::string temp_path(const std::string& source, const std::string& tag) {
    return report_test::report_path(fs::path(source).stem().string() + tag);
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
        std::optional<Case> original = load(file);
        if (!original) continue;
        const bool solved = solve(*original).converged;
        const std::string first = temp_path(file, "_first.txt");
        DumpWriter().dump(original->network, first);

        std::optional<Case> again = load(first);
        ASSERT_TRUE(again);
        const std::string second = temp_path(file, "_second.txt");
        DumpWriter().dump(again->network, second);
        EXPECT_EQ(read_text(second), read_text(first));

        if (solved) {
            ++converged;
            ASSERT_TRUE(solve(*again).converged);
            expect_same_voltages(original->network, again->network, 1e-7);
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
        std::optional<Case> original = load(file);
        if (!original) continue;
        std::vector<int> modes_read;
        for (const Generator& gen : original->network.generators) modes_read.push_back(gen.mode);
        if (!solve(*original).converged) continue;
        const std::string voltrat = temp_path(file, "_voltrat.txt");
        VoltRatWriter().write(original->network, voltrat);

        // the network's own file with the "LFRESV" lines of the voltage-and-ratio file after it
        std::string restart = read_text(file) + "\n";
        {
            std::ifstream lines(voltrat);  // closed before the file is removed below
            for (std::string line; std::getline(lines, line);)
                if (line.rfind("LFRESV ", 0) == 0) restart += line + "\n";
        }
        const std::string restart_path = temp_path(file, "_restart.txt");
        write_text(restart_path, restart);

        std::optional<Case> again = load(restart_path);
        ASSERT_TRUE(again);
        const SolveResult result = solve(*again);
        EXPECT_TRUE(result.converged);
        if (!controls_moved(original->network, modes_read)) {
            ++at_once;
            EXPECT_LE(result.iterations, 2);
        }
        expect_same_voltages(original->network, again->network, 1e-6);
        fs::remove(voltrat);
        fs::remove(restart_path);
    }
    EXPECT_GE(at_once, 7);  // at least the reference networks
}

}  // namespace
}  // namespace varnok
