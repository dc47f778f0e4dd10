// Time of the admittance-matrix script and of the diagram on the largest reference network,
// solved: the median of several runs of each step, with the output in MB/s and lines/s.
//
// Each writer's whole run comes with a split whose pieces add up to it:
//   script:  formatting (the same script written to /dev/null) + writing the file (the rest);
//   diagram: resolving every placeholder alone (with the tap changers' index built once, as a
//            render does) + copying the same template without placeholders
//            + finding the placeholders in the lines (the rest).
// The diagram's template has one line per bus voltage and angle, per branch flow, loading and tap
// position and per generator output: the values a full single-line diagram of the network would
// show. The reference networks hold no tap changers, so after the solve every transformer gets
// one (at a position of its own) for "J" to find among them.
//
// usage: bench_writers_matlab_diagram [network file] [runs]
// Without a file it takes the largest .txt of the reference networks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "writers/DiagramRenderer.h"
#include "writers/MatlabExporter.h"

namespace {

using namespace varnok;
using Clock = std::chrono::steady_clock;

struct Timing {
    double median_ms = 0.0;
    double min_ms = 0.0;
};

Timing time_ms(const std::function<void()>& run, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        run();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    return {n % 2 ? ms[n / 2] : 0.5 * (ms[n / 2 - 1] + ms[n / 2]), ms.front()};
}

// The placeholders of a full diagram of the network, one per line as a template holds them.
std::vector<std::string> diagram_placeholders(const Network& net) {
    std::vector<std::string> placeholders;
    for (const Bus& bus : net.buses) {
        placeholders.push_back("%A" + bus.name);
        placeholders.push_back("%C" + bus.name);
    }
    for (const Branch& br : net.branches) {
        for (int end : {br.from, br.to}) {
            const std::string& bus = net.buses[static_cast<std::size_t>(end)].name;
            placeholders.push_back("%D" + br.name + "," + bus);
            placeholders.push_back("%E" + br.name + "," + bus);
        }
        placeholders.push_back("%F" + br.name);
        placeholders.push_back("%J" + br.name);
        placeholders.push_back("%T" + br.name);
    }
    for (const Generator& gen : net.generators) {
        placeholders.push_back("%G" + gen.name);
        placeholders.push_back("%K" + gen.name);
        placeholders.push_back("%U" + gen.name);
    }
    return placeholders;
}

// A tap changer on every transformer, holding its to bus; the solved state is left as it is.
void add_tap_changers(Network& net) {
    for (std::size_t i = 0; i < net.branches.size(); ++i) {
        if (!net.branches[i].is_transformer) continue;
        TapRegulator tap;
        tap.branch = static_cast<int>(i);
        tap.bus = net.branches[i].to;
        tap.pos = tap.pos_init = static_cast<int>(i % 21);
        tap.pos_max = 20;
        net.tap_regulators.push_back(tap);
    }
}

void write_template(const std::string& path, const std::vector<std::string>& placeholders,
                    bool with_placeholders) {
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& p : placeholders)
        out << "<text x=\"10\" y=\"20\" class=\"value\">"
            << (with_placeholders ? p : std::string(p.size(), 'v')) << "</text>\n";
}

double megabytes(const std::string& path) {
    return static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

std::size_t line_count(const std::string& path) {
    std::ifstream in(path);
    return static_cast<std::size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

void print_row(const char* step, const Timing& t, double mb, double lines) {
    std::printf("%-28s %10.3f %10.3f %9.1f %12.0f\n", step, t.median_ms, t.min_ms,
                mb / (t.median_ms / 1e3), lines / (t.median_ms / 1e3));
}

void print_piece(const char* step, double ms, double whole_ms) {
    std::printf("  %-26s %10.3f %9.0f %%\n", step, ms, 100.0 * ms / whole_ms);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string path = argc > 1 ? argv[1] : largest_case(VARNOK_CASES_DIR);
        const int runs = argc > 2 ? std::max(1, std::stoi(argv[2])) : 9;
        Network net;
        SolverParams params;
        InputParser().load(path, net, params);
        net.prune_islands();
        PowerFlowSolver solver;
        const SolveResult solved = solver.solve(net, params);
        solver.compute_injections(net, params);
        add_tap_changers(net);

        const std::filesystem::path dir = std::filesystem::temp_directory_path();
        const std::string script = (dir / "varnok_bench.m").string();
        const std::string filled_template = (dir / "varnok_bench_template.svg").string();
        const std::string plain_template = (dir / "varnok_bench_plain.svg").string();
        const std::string diagram = (dir / "varnok_bench_diagram.svg").string();
        const std::vector<std::string> placeholders = diagram_placeholders(net);
        write_template(filled_template, placeholders, true);
        write_template(plain_template, placeholders, false);

        std::printf("%s: %zu buses, %zu branches, %zu generators, %zu tap changers, solved %s, "
                    "%d runs per step\n",
                    path.c_str(), net.buses.size(), net.branches.size(), net.generators.size(),
                    net.tap_regulators.size(), solved.converged ? "(converged)" : "(NOT converged)",
                    runs);
        std::printf("%-28s %10s %10s %9s %12s\n", "step", "median ms", "min ms", "MB/s",
                    "lines/s");

        const MatlabExporter exporter;
        const Timing script_whole = time_ms([&] { exporter.write(net, params, script); }, runs);
        const Timing script_format =
            time_ms([&] { exporter.write(net, params, "/dev/null"); }, runs);
        const double script_mb = megabytes(script);
        const double script_lines = static_cast<double>(line_count(script));
        print_row("matlab script", script_whole, script_mb, script_lines);
        print_piece("formatting", script_format.median_ms, script_whole.median_ms);
        print_piece("writing the file", script_whole.median_ms - script_format.median_ms,
                    script_whole.median_ms);

        const DiagramRenderer renderer;
        const Timing diagram_whole =
            time_ms([&] { renderer.render(net, params, filled_template, diagram); }, runs);
        const Timing resolving = time_ms(
            [&] {
                const std::vector<int> first_tap = first_tap_changers(net);
                for (const std::string& p : placeholders)
                    renderer.resolve_placeholder(net, params, p, first_tap);
            },
            runs);
        const Timing copying =
            time_ms([&] { renderer.render(net, params, plain_template, diagram); }, runs);
        renderer.render(net, params, filled_template, diagram);
        print_row("diagram", diagram_whole, megabytes(diagram),
                  static_cast<double>(placeholders.size()));
        print_piece("resolving placeholders", resolving.median_ms, diagram_whole.median_ms);
        print_piece("copying lines", copying.median_ms, diagram_whole.median_ms);
        print_piece("finding placeholders",
                    diagram_whole.median_ms - resolving.median_ms - copying.median_ms,
                    diagram_whole.median_ms);

        for (const std::string& file : {script, filled_template, plain_template, diagram})
            std::remove(file.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_writers_matlab_diagram: %s\n", e.what());
        return 1;
    }
}
