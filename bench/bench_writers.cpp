// Report writers on the largest reference network, solved: the median time of each writer
// against the load of the same file, the dump split into its write-back and its writing, and the
// heap allocations of one run (so that a writer allocating per element shows).
//
// usage: bench_writers [network file] [runs]
// Without a file it takes the largest .txt of the reference networks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "writers/DumpWriter.h"
#include "writers/VoltRatWriter.h"

// Every heap allocation of the program is counted.
namespace {
std::uint64_t allocations = 0;
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Step {
    std::string name;
    std::function<void()> prepare;  // before each run, outside the clock
    std::function<void()> run;
};

struct Timing {
    double median_ms = 0.0;
    double min_ms = 0.0;
    std::uint64_t allocations = 0;  // of the last run
};

Timing time_step(const Step& step, int runs) {
    std::vector<double> ms;
    Timing t;
    for (int i = 0; i < runs; ++i) {
        if (step.prepare) step.prepare();
        const std::uint64_t before = allocations;
        const auto start = Clock::now();
        step.run();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        t.allocations = allocations - before;
    }
    t.median_ms = median(ms);
    t.min_ms = *std::min_element(ms.begin(), ms.end());
    return t;
}

void print_row(const std::string& name, const Timing& t, double elements) {
    std::printf("%-22s %10.3f %10.3f %12llu %12.3f\n", name.c_str(), t.median_ms, t.min_ms,
                static_cast<unsigned long long>(t.allocations),
                static_cast<double>(t.allocations) / elements);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string path = argc > 1 ? argv[1] : largest_case(VARNOK_CASES_DIR);
        const int runs = argc > 2 ? std::max(1, std::stoi(argv[2])) : 9;
        const std::string dump_path = (fs::temp_directory_path() / "varnok_bench_dump.txt").string();
        const std::string voltrat_path =
            (fs::temp_directory_path() / "varnok_bench_voltrat.txt").string();

        varnok::Network network;
        varnok::SolverParams params;
        varnok::InputParser().load(path, network, params);
        network.prune_islands();
        varnok::PowerFlowSolver solver;
        if (!solver.solve(network, params).converged)
            throw std::runtime_error("the network does not converge");
        solver.compute_injections(network, params);
        const double records_read = static_cast<double>(network.raw_records.size());
        // The first dump appends the "LFRESV" records; every later one, as a host's second dump,
        // updates them in place.
        varnok::DumpWriter().dump(network, dump_path);
        const double records = static_cast<double>(network.raw_records.size());
        const double buses = static_cast<double>(network.buses.size());

        std::optional<varnok::Network> fresh;
        varnok::SolverParams fresh_params;
        const Step load{"load",
                        [&] { fresh.emplace(); fresh_params = varnok::SolverParams{}; },
                        [&] { varnok::InputParser().load(path, *fresh, fresh_params); }};
        const Step write_back{"dump: write-back", {}, [&] { network.update_records(); }};
        const Step dump{"dump", {}, [&] { varnok::DumpWriter().dump(network, dump_path); }};
        const Step voltrat{"voltrat", {},
                           [&] { varnok::VoltRatWriter().write(network, voltrat_path); }};

        const Timing t_load = time_step(load, runs);
        const Timing t_back = time_step(write_back, runs);
        const Timing t_dump = time_step(dump, runs);
        const Timing t_voltrat = time_step(voltrat, runs);
        Timing t_writing;  // the dump without its write-back
        t_writing.median_ms = t_dump.median_ms - t_back.median_ms;
        t_writing.min_ms = t_dump.min_ms - t_back.min_ms;
        t_writing.allocations = t_dump.allocations - t_back.allocations;

        std::printf("%s: %zu buses, %zu branches, %.0f records read, %.0f written; dump %.3f MB, "
                    "voltrat %.3f MB; %d runs per step\n",
                    path.c_str(), network.buses.size(), network.branches.size(), records_read,
                    records, static_cast<double>(fs::file_size(dump_path)) / 1e6,
                    static_cast<double>(fs::file_size(voltrat_path)) / 1e6, runs);
        std::printf("%-22s %10s %10s %12s %12s\n", "step", "median ms", "min ms", "allocations",
                    "per element");
        print_row("load", t_load, records_read);
        print_row("dump", t_dump, records);
        print_row("  write-back", t_back, records);
        print_row("  writing", t_writing, records);
        print_row("voltrat", t_voltrat, buses);
        std::printf("dump / load: %.2f (per element: per record read for the load, per record "
                    "written for the dump, per bus for voltrat)\n",
                    t_dump.median_ms / t_load.median_ms);
        fs::remove(dump_path);
        fs::remove(voltrat_path);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_writers: %s\n", e.what());
        return 1;
    }
}
