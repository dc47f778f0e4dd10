// Load time of the largest reference network: the median of several runs of each named step,
// with the throughput in MB/s of input and records/s.
//
// usage: bench_load [network file] [runs]
// Without a file it takes the largest .txt of the reference networks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "largest_case.h"
#include "network/InputParser.h"

namespace {

using Clock = std::chrono::steady_clock;

// One timed step. `prepare` runs before each timed run, outside the clock.
struct Step {
    std::string name;
    std::function<void()> prepare;
    std::function<void()> run;
};

struct Timing {
    double median_s = 0.0;
    double min_s = 0.0;
};

Timing time_step(const Step& step, int runs) {
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        if (step.prepare) step.prepare();
        const auto start = Clock::now();
        step.run();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const std::size_t n = seconds.size();
    const double median = n % 2 ? seconds[n / 2] : 0.5 * (seconds[n / 2 - 1] + seconds[n / 2]);
    return {median, seconds.front()};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string path = argc > 1 ? argv[1] : bench::largest_case(VARNOK_CASES_DIR);
        const int runs = argc > 2 ? std::max(1, std::stoi(argv[2])) : 9;
        const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

        // One load up front: the record count, and a check that the file loads at all.
        varnok::Network reference;
        varnok::SolverParams reference_params;
        varnok::InputParser().load(path, reference, reference_params);
        const double records = static_cast<double>(reference.raw_records.size());

        std::optional<varnok::Network> network;
        varnok::SolverParams params;
        std::vector<std::string> comments;
        std::vector<varnok::InputParser::Record> tokens;

        // The whole-network state operations on the loaded network: pruning runs before every
        // solve, the write-back before every dump. A second copy with every tenth branch open
        // has islands to prune; its reset (outside the clock) brings them back for each run.
        varnok::Network islanded;
        varnok::SolverParams islanded_params;
        varnok::InputParser().load(path, islanded, islanded_params);
        for (std::size_t i = 0; i < islanded.branches.size(); i += 10)
            islanded.branches[i].status = 0;
        islanded.save_initial_snapshot();

        const std::vector<Step> steps = {
            {"tokenize", [&] { comments.clear(); tokens.clear(); },
             [&] { tokens = varnok::InputParser().tokenize(path, comments); }},
            {"load", [&] { network.emplace(); params = varnok::SolverParams{}; },
             [&] { varnok::InputParser().load(path, *network, params); }},
            {"snapshot", {}, [&] { reference.save_initial_snapshot(); }},
            {"reset", {}, [&] { reference.reset_to_initial(); }},
            {"prune", {}, [&] { reference.prune_islands(); }},
            {"prune-isl", [&] { islanded.reset_to_initial(); },
             [&] { islanded.prune_islands(); }},
            {"write-back", {}, [&] { reference.update_records(); }},
        };

        std::printf("%s: %.3f MB, %.0f records, %zu buses, %zu branches, %d runs per step\n",
                    path.c_str(), megabytes, records, reference.buses.size(),
                    reference.branches.size(), runs);
        std::printf("%-12s %12s %12s %10s %14s\n", "step", "median ms", "min ms", "MB/s",
                    "records/s");
        for (const Step& step : steps) {
            const Timing t = time_step(step, runs);
            std::printf("%-12s %12.3f %12.3f %10.1f %14.0f\n", step.name.c_str(),
                        t.median_s * 1e3, t.min_s * 1e3, megabytes / t.median_s,
                        records / t.median_s);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_load: %s\n", e.what());
        return 1;
    }
}
