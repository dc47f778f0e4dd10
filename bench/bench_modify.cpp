// A switching sequence on the largest reference network, as a host runs it through the change
// exports: solve, trip 100 branches and 20 generators, change 100 loads, apply. Prints the
// median time of the changes and of the apply, the split of the apply into its steps (each timed
// separately on the same state), and the apply against a plain solve of the same changed
// network (prune, solve, outputs, as varnok_solve does it) by the same kept solver.
//
// usage: bench_modify [network file] [runs]
// Without a file it takes the largest .txt of the reference networks.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_common.h"
#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"
#include "studies/ModifyEngine.h"
#include "studies/Redispatch.h"

namespace {

using namespace varnok;
using Clock = std::chrono::steady_clock;

double elapsed_ms(const std::function<void()>& prepare, const std::function<void()>& run) {
    prepare();
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median milliseconds of `runs` runs of `run`, with `prepare` before each outside the clock.
double median_ms(const std::function<void()>& prepare, const std::function<void()>& run,
                 int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) ms.push_back(elapsed_ms(prepare, run));
    return median(ms);
}

// The same for two runs timed in turn, so that a shared machine whose load drifts slows both
// alike and their ratio holds.
std::pair<double, double> median_ms_in_turn(const std::function<void()>& prepare,
                                            const std::function<void()>& first,
                                            const std::function<void()>& second, int runs) {
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(elapsed_ms(prepare, first));
        b.push_back(elapsed_ms(prepare, second));
    }
    return {median(a), median(b)};
}

// The names a host would pass: `count` elements spread evenly over those that `eligible`
// accepts.
template <typename Element, typename Eligible>
std::vector<std::string> spread_names(const std::vector<Element>& elements, std::size_t count,
                                      Eligible eligible) {
    std::vector<std::string> candidates;
    for (const Element& e : elements)
        if (eligible(e)) candidates.push_back(e.name);
    std::vector<std::string> names;
    const std::size_t step = std::max<std::size_t>(1, candidates.size() / count);
    for (std::size_t i = step / 2; i < candidates.size() && names.size() < count; i += step)
        names.push_back(candidates[i]);
    return names;
}

struct Sequence {
    std::vector<std::string> branches, generators, loads;
};

Sequence choose_sequence(const Network& net) {
    Sequence s;
    s.branches = spread_names(net.branches, 100, [](const Branch& b) {
        return b.status == 1 && b.from != b.to && !b.is_transformer;
    });
    s.generators = spread_names(net.generators, 20, [&](const Generator& g) {
        return g.status == 1 && g.bus != net.slack_bus;
    });
    s.loads = spread_names(net.buses, 100, [](const Bus& b) { return b.p_load > 0.0; });
    return s;
}

void make_changes(ModifyEngine& engine, const Sequence& s) {
    for (const std::string& name : s.branches) engine.trip_branch(name);
    for (const std::string& name : s.generators) engine.trip_generator(name);
    for (const std::string& name : s.loads) engine.demand_increase_bus(name, 1.0, 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string path = argc > 1 ? argv[1] : largest_case(VARNOK_CASES_DIR);
        const int runs = argc > 2 ? std::max(1, std::stoi(argv[2])) : 15;

        // The handle's state after load and a first varnok_solve.
        Network solved;
        SolverParams params;
        InputParser().load(path, solved, params);
        solved.save_initial_snapshot();
        PowerFlowSolver solver;
        solved.prune_islands();
        const SolveResult first = solver.solve(solved, params);
        solver.compute_injections(solved, params);
        const Sequence sequence = choose_sequence(solved);

        Network net;
        auto restore = [&] { net = solved; };

        // The changes as the exports make them, into a pending engine.
        const double t_changes = median_ms(restore, [&] {
            ModifyEngine engine(net, solver, params);
            make_changes(engine, sequence);
        }, runs);

        // The changed network and its deficit, as the apply finds them.
        Network changed;
        double deficit = 0.0;
        {
            restore();
            ModifyEngine engine(net, solver, params);
            make_changes(engine, sequence);
            deficit = engine.delta_p;
            changed = net;
        }
        auto restore_changed = [&] { net = changed; };

        // The apply, and varnok_solve on the same changed network: no connectivity list, no
        // redispatch.
        ModifyEngine::FinalizeResult applied;
        const auto [t_apply, t_plain] = median_ms_in_turn(
            restore_changed,
            [&] {
                ModifyEngine engine(net, solver, params);
                engine.delta_p = deficit;
                applied = engine.finalize();
            },
            [&] {
                net.prune_islands(nullptr, nullptr);
                solver.solve(net, params);
                solver.compute_injections(net, params);
            },
            runs);

        // The steps of the apply, each on the state in which the apply meets it.
        double island = 0.0;
        Network pruned, redispatched, solved_again;
        restore_changed();
        const std::vector<int> unreached = ModifyEngine(net, solver, params).check_connectivity();
        net.prune_islands(nullptr, &island);
        pruned = net;
        redispatch_generation(net, deficit + island, params);
        redispatched = net;
        solver.solve(net, params);
        solved_again = net;

        const double t_connectivity = median_ms(restore_changed, [&] {
            ModifyEngine(net, solver, params).check_connectivity();
        }, runs);
        const double t_prune =
            median_ms(restore_changed, [&] { net.prune_islands(nullptr, &island); }, runs);
        const double t_redispatch = median_ms([&] { net = pruned; }, [&] {
            redispatch_generation(net, deficit + island, params);
        }, runs);
        SolveResult resolved;
        const double t_solve = median_ms([&] { net = redispatched; },
                                         [&] { resolved = solver.solve(net, params); }, runs);
        const double t_outputs = median_ms([&] { net = solved_again; },
                                           [&] { solver.compute_injections(net, params); }, runs);

        const double pieces = t_connectivity + t_prune + t_redispatch + t_solve + t_outputs;
        std::printf("%s: %zu buses, %zu branches, %zu generators; first solve %d iterations (%s)\n",
                    std::filesystem::path(path).stem().string().c_str(), solved.buses.size(),
                    solved.branches.size(), solved.generators.size(), first.iterations,
                    first.converged ? "converged" : "NOT converged");
        std::printf("  sequence: %zu branch trips, %zu generator trips, %zu load changes; "
                    "deficit %.1f MW, %zu buses cut off (island balance %.1f MW)\n",
                    sequence.branches.size(), sequence.generators.size(), sequence.loads.size(),
                    deficit * solved.sbase, unreached.size(), island * solved.sbase);
        std::printf("  changes                 %9.3f ms\n", t_changes);
        std::printf("  apply                   %9.3f ms  (%d iterations, %s)\n", t_apply,
                    applied.iterations, applied.converged ? "converged" : "NOT converged");
        std::printf("  changes + apply         %9.3f ms\n", t_changes + t_apply);
        std::printf("  split of the apply:\n");
        std::printf("    connectivity list     %9.3f ms\n", t_connectivity);
        std::printf("    prune                 %9.3f ms\n", t_prune);
        std::printf("    redispatch            %9.3f ms\n", t_redispatch);
        std::printf("    solve                 %9.3f ms  (%d iterations)\n", t_solve,
                    resolved.iterations);
        std::printf("    outputs               %9.3f ms\n", t_outputs);
        std::printf("    steps in all          %9.3f ms\n", pieces);
        std::printf("  plain solve, same network %7.3f ms\n", t_plain);
        std::printf("  apply / plain solve     %9.3f\n", t_apply / t_plain);
        return applied.converged ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_modify: %s\n", e.what());
        return 1;
    }
}
