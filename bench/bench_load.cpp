// Load time of the largest reference network: the median of several runs of each named step,
// with the throughput in MB/s of input and records/s. Then one row per record kind: a file of
// N records of that kind (and the few buses or branches they need), generated here, loaded at
// N = 10^5 and at 2N, the fastest of a few loads, split into tokenizing and translating (the two
// add up to the load); the ratio of the two loads is 2 where a kind loads in linear time.
//
// usage: bench_load [network file] [runs]
// Without a file it takes the largest .txt of the reference networks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_common.h"
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

// --- Per record kind ---------------------------------------------------------------------------

// One record kind: the records that the measured ones refer to (for N records), and record i.
struct RecordKind {
    std::string name;
    std::function<std::string(int n)> setup;
    std::function<std::string(const std::string& i)> record;
};

std::string two_buses(int) { return "BUS A 400 0 0 0;\nBUS B 400 0 0 0;\n"; }

// Buses N0, N1, ... for the kinds that take one bus each.
std::string numbered_buses(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "BUS N" + std::to_string(i) + " 400 10 5 0;\n";
    return text;
}

std::string line(const std::string& i) { return "LINE L" + i + " A B 1 10 0 100 1;\n"; }

// Lines L0, L1, ... between A and B, for the kinds that take one branch each.
std::string numbered_lines(int n) {
    std::string text = two_buses(n);
    for (int i = 0; i < n; ++i) text += line(std::to_string(i));
    return text;
}

// Every record kind, with names that keep all N records accepted.
std::vector<RecordKind> record_kinds() {
    auto none = [](int) { return std::string(); };
    return {
        {"$TOLAC", none, [](const std::string&) { return "$TOLAC 0.1;\n"; }},
        {"BUS", none, [](const std::string& i) { return "BUS N" + i + " 400 10 5 0;\n"; }},
        {"LINE", two_buses, line},
        {"TRANSFO", two_buses,
         [](const std::string& i) { return "TRANSFO T" + i + " A B 0.5 12 0 0 101 0 300 1;\n"; }},
        {"TRFO", two_buses,
         [](const std::string& i) {
             return "TRFO T" + i + " A B B 0.5 12 0 101 300 90 110 21 0.01 1 1;\n";
         }},
        {"SWITCH", two_buses, [](const std::string& i) { return "SWITCH S" + i + " A B 1;\n"; }},
        {"NRTP", two_buses,
         [](const std::string& i) { return "NRTP R" + i + " A B 1 -20 1 -20 0 0.01 0 0.01 1;\n"; }},
        {"GENER", numbered_buses,
         [](const std::string& i) {
             return "GENER G" + i + " N" + i + " 50 0 1.02 0 -100 100 1;\n";
         }},
        {"SVC", numbered_buses,
         [](const std::string& i) {
             return "SVC V" + i + " N" + i + " N" + i + " 1 0 1 100 -100 50 1;\n";
         }},
        {"SLACK", two_buses, [](const std::string&) { return "SLACK A;\n"; }},
        {"LFRESV", two_buses, [](const std::string&) { return "LFRESV B 0.98 -0.1;\n"; }},
        {"ZONE", two_buses, [](const std::string& i) { return "ZONE Z" + i + " A B;\n"; }},
        {"BUSPART", two_buses,
         [](const std::string& i) { return "BUSPART Z" + i + " B 0.5 0.5;\n"; }},
        {"BRAPART", [](int) { return two_buses(0) + line("0"); },
         [](const std::string& i) { return "BRAPART C" + i + " L0 A 1;\n"; }},
        {"LTC-V", numbered_lines,
         [](const std::string& i) { return "LTC-V L" + i + " B 90 110 21 0.01 1.0;\n"; }},
        {"PSHIFT-P", numbered_lines,
         [](const std::string& i) { return "PSHIFT-P L" + i + " L0 -30 30 33 1 50 5;\n"; }},
        {"unknown", none, [](const std::string& i) { return "FOO " + i + ";\n"; }},
    };
}

struct LoadSplit {
    double tokenize_ms = 0.0;
    double translate_ms = 0.0;
    double total_ms() const { return tokenize_ms + translate_ms; }
};

// The fastest of `runs` loads of the file (the least disturbed by other work on the machine),
// split into its two stages. The warnings of a load (one per file at most) are silenced.
LoadSplit time_load(const std::string& path, int runs) {
    std::vector<double> tokenize;
    std::vector<double> translate;
    for (int i = 0; i < runs; ++i) {
        varnok::Network network;
        varnok::SolverParams params;
        std::vector<std::string> comments;
        varnok::InputParser parser;
        const auto start = Clock::now();
        const std::vector<varnok::InputParser::Record> records = parser.tokenize(path, comments);
        const auto tokenized = Clock::now();
        network.comment_lines = std::move(comments);
        parser.translate(records, network, params);
        const auto translated = Clock::now();
        tokenize.push_back(std::chrono::duration<double, std::milli>(tokenized - start).count());
        translate.push_back(
            std::chrono::duration<double, std::milli>(translated - tokenized).count());
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < tokenize.size(); ++i)
        if (tokenize[i] + translate[i] < tokenize[best] + translate[best]) best = i;
    return {tokenize[best], translate[best]};
}

void print_record_kinds(int runs) {
    constexpr int kRecords = 100000;
    const std::string path =
        (std::filesystem::temp_directory_path() / "varnok_bench_load_kind.txt").string();
    std::printf("\nper record kind, N = %d (fastest of %d loads; tokenize + translate = load)\n",
                kRecords, runs);
    std::printf("%-10s %12s %12s %12s %11s %12s %8s\n", "kind", "tokenize ms", "translate ms",
                "load ms", "us/record", "load 2N ms", "2N / N");
    std::streambuf* cerr_buffer = std::cerr.rdbuf(nullptr);  // one warning per load at most
    for (const RecordKind& kind : record_kinds()) {
        LoadSplit at[2];
        for (int k = 0; k < 2; ++k) {
            const int n = kRecords << k;
            std::string text = kind.setup(n);
            for (int i = 0; i < n; ++i) text += kind.record(std::to_string(i));
            std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
            at[k] = time_load(path, runs);
        }
        std::printf("%-10s %12.1f %12.1f %12.1f %11.2f %12.1f %8.2f\n", kind.name.c_str(),
                    at[0].tokenize_ms, at[0].translate_ms, at[0].total_ms(),
                    at[0].total_ms() * 1e3 / kRecords, at[1].total_ms(),
                    at[1].total_ms() / at[0].total_ms());
    }
    std::cerr.rdbuf(cerr_buffer);
    std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string path = argc > 1 ? argv[1] : largest_case(VARNOK_CASES_DIR);
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
        print_record_kinds(std::min(runs, 5));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_load: %s\n", e.what());
        return 1;
    }
}
