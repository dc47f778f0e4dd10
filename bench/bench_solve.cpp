// Power-flow solve time on the reference networks, and where it goes.
//
// For every <case>.txt with a <case>.ref in the reference directory: load, prune islands,
// solve from the file's start; print the iteration count, the median time of a solve by a fresh
// solver (the pattern is built inside it) and of a repeated solve by the same solver (the
// voltages reset to the loaded state in between), the split of one solve into its pieces
// (pattern, mismatch, Jacobian values, KLU analysis, factorisation, refactorisation, solves),
// each timed separately and repeated, and the ratio of the fresh solve to its KLU calls alone.
// Each result is checked against the .ref file (|V| pu and angle rad within 1e-6).
//
// usage: bench_solve [reference directory] [minimum runs]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "network/InputParser.h"
#include "powerflow/PowerFlow.h"

namespace {

using namespace varnok;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> x) {
    std::sort(x.begin(), x.end());
    const std::size_t n = x.size();
    return n % 2 ? x[n / 2] : 0.5 * (x[n / 2 - 1] + x[n / 2]);
}

// Median milliseconds of `run`, with `prepare` before each run outside the clock; at least
// `runs` runs and at least about a quarter second in all.
double time_ms(const std::function<void()>& prepare, const std::function<void()>& run, int runs) {
    std::vector<double> ms;
    double total = 0.0;
    while (static_cast<int>(ms.size()) < runs || (total < 250.0 && ms.size() < 2000)) {
        if (prepare) prepare();
        const auto start = Clock::now();
        run();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        total += ms.back();
    }
    return median(ms);
}

struct Loaded {
    Network network;
    SolverParams params;
};

Loaded load(const std::string& path) {
    Loaded l;
    InputParser{}.load(path, l.network, l.params);
    l.network.prune_islands();
    l.network.save_initial_snapshot();
    return l;
}

struct RefBus {
    std::string name;
    double v, angle;
};

std::vector<RefBus> read_ref(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<RefBus> ref;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        RefBus b;
        if (fields >> b.name >> b.v >> b.angle) ref.push_back(b);
    }
    return ref;
}

// The Newton steps of a solve without controls (the reference files switch them off), in the
// same order and with the same factorisation choice, so that each piece can be counted.
struct Steps {
    int iterations = 0;
    int factors = 0;    // fresh numeric factorisations after the first iteration's
    int refactors = 0;
    int mismatches = 0;
    int jacobians = 0;
};

Steps count_steps(const Loaded& base) {
    Loaded l = base;
    PowerFlowSolver s;
    l.network.reset_to_initial();
    const SolverParams& p = l.params;
    Steps st;
    s.init_state(l.network);
    s.jacobian.build_structure(l.network);
    for (int k = 1; k <= p.nbitma; ++k) {
        st.iterations = k;
        for (const Generator& g : l.network.generators)
            if (g.status == 1 && g.mode == GEN_VOLTAGE_CONTROL &&
                l.network.buses[g.bus].type != ISOLATED)
                s.v[g.bus] = g.v_set;
        s.compute_mismatch(l.network);
        ++st.mismatches;
        double max_p = 0, max_q = 0, max_s = 0;
        for (std::size_t i = 0; i < l.network.buses.size(); ++i) {
            const double q = s.mismatch[2 * i], pp = s.mismatch[2 * i + 1];
            max_q = std::max(max_q, std::fabs(q));
            max_p = std::max(max_p, std::fabs(pp));
            max_s = std::max(max_s, std::sqrt(q * q + pp * pp));
        }
        if (max_p < p.tolac / p.sbase && max_q < p.tolreac / p.sbase) break;
        s.jacobian.compute_jacobian(l.network, s.v, s.theta);
        ++st.jacobians;
        if (k == 1) {
            s.klu.analyze(s.jacobian);
            s.klu.factor(s.jacobian);
        } else if (max_s > p.misbloc / p.sbase) {
            s.klu.factor(s.jacobian);
            ++st.factors;
        } else {
            s.klu.refactor(s.jacobian);
            ++st.refactors;
        }
        s.klu.solve(s.mismatch);
        for (std::size_t i = 0; i < s.v.size(); ++i) {
            s.v[i] += s.mismatch[2 * i];
            s.theta[i] += s.mismatch[2 * i + 1];
        }
    }
    return st;
}

struct Check {
    double dv = 0, da = 0;
    int missing = 0;
};

Check check(const Network& net, const std::vector<RefBus>& ref) {
    Check c;
    for (const RefBus& r : ref) {
        const int b = net.find_bus(r.name);
        if (b < 0) {
            ++c.missing;
            continue;
        }
        c.dv = std::max(c.dv, std::fabs(net.buses[b].v - r.v));
        c.da = std::max(c.da, std::fabs(net.buses[b].angle - r.angle));
    }
    return c;
}

bool bench_case(const std::string& txt, const std::string& ref_path, int runs) {
    const std::string name = std::filesystem::path(txt).stem().string();
    const Loaded base = load(txt);
    const std::vector<RefBus> ref = read_ref(ref_path);

    // One solve for the answer.
    Loaded l = base;
    SolveResult result;
    {
        PowerFlowSolver solver;
        result = solver.solve(l.network, l.params);
    }
    const Check c = check(l.network, ref);
    const bool ok = result.converged && c.missing == 0 && c.dv < 1e-6 && c.da < 1e-6;

    // Whole solves.
    // A fresh solver per run, made and dropped outside the clock.
    std::unique_ptr<PowerFlowSolver> solver;
    const double fresh = time_ms(
        [&] {
            solver.reset();
            solver = std::make_unique<PowerFlowSolver>();
            l.network.reset_to_initial();
        },
        [&] { solver->solve(l.network, l.params); }, runs);
    solver.reset();
    PowerFlowSolver kept;
    kept.solve(l.network, l.params);
    const double repeated = time_ms([&] { l.network.reset_to_initial(); },
                                    [&] { kept.solve(l.network, l.params); }, runs);

    // Pieces, each at the converged state of the kept solver (the work per call does not
    // depend on the values).
    const Steps st = count_steps(base);
    PowerFlowSolver s;
    l.network.reset_to_initial();
    s.solve(l.network, l.params);
    SparseMatrix& J = s.jacobian;
    SparseMatrix pattern;
    const double t_pattern = time_ms([&] { pattern = SparseMatrix{}; },
                                     [&] { pattern.build_structure(l.network); }, runs);
    // The mismatch at new angles computes every sine and cosine afresh: forget the cached ones.
    const double t_mismatch = time_ms(
        [&] {
            for (BranchAngle& a : s.jacobian.branch_angle) a.t = std::nan("");
        },
        [&] { s.compute_mismatch(l.network); }, runs);
    // The Jacobian as in a solve: at the angles of the mismatch just computed.
    const double t_jacobian =
        time_ms({}, [&] { J.compute_jacobian(l.network, s.v, s.theta); }, runs);
    const double t_analyze = time_ms({}, [&] { s.klu.analyze(J); }, runs);
    const double t_factor = time_ms({}, [&] { s.klu.factor(J); }, runs);
    const double t_refactor = time_ms({}, [&] { s.klu.refactor(J); }, runs);
    std::vector<double> rhs;
    const double t_solve = time_ms([&] { rhs = s.mismatch; }, [&] { s.klu.solve(rhs); }, runs);

    const int klu_solves = st.jacobians;
    const double klu_total = t_analyze + (1 + st.factors) * t_factor + st.refactors * t_refactor +
                             klu_solves * t_solve;
    const double other = st.mismatches * t_mismatch + st.jacobians * t_jacobian;

    std::printf("\n%s: %zu buses, %zu branches, %d Jacobian entries, %d iterations (%s)\n",
                name.c_str(), l.network.buses.size(), l.network.branches.size(),
                J.col_ptr.empty() ? 0 : J.col_ptr[J.n], result.iterations,
                result.converged ? "converged" : "NOT converged");
    std::printf("  solve, fresh solver    %9.3f ms\n", fresh);
    std::printf("  solve, repeated        %9.3f ms\n", repeated);
    std::printf("  pattern                %9.3f ms  x 1 (fresh solver only)\n", t_pattern);
    std::printf("  mismatch               %9.3f ms  x %d\n", t_mismatch, st.mismatches);
    std::printf("  Jacobian values        %9.3f ms  x %d\n", t_jacobian, st.jacobians);
    std::printf("  KLU analysis           %9.3f ms  x 1\n", t_analyze);
    std::printf("  KLU factorisation      %9.3f ms  x %d\n", t_factor, 1 + st.factors);
    std::printf("  KLU refactorisation    %9.3f ms  x %d\n", t_refactor, st.refactors);
    std::printf("  KLU solve              %9.3f ms  x %d\n", t_solve, klu_solves);
    std::printf("  KLU calls in all       %9.3f ms; equations %.3f ms, pattern %.3f ms\n",
                klu_total, other, t_pattern);
    std::printf("  fresh solve / KLU      %9.2f   repeated solve / KLU %.2f\n", fresh / klu_total,
                repeated / klu_total);
    std::printf("  check against %s: max |dV| %.2e pu, max |dangle| %.2e rad%s: %s\n",
                std::filesystem::path(ref_path).filename().string().c_str(), c.dv, c.da,
                c.missing ? " (buses missing)" : "", ok ? "PASS" : "FAIL");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : VARNOK_CASES_DIR;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::vector<std::filesystem::path> cases;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".txt") cases.push_back(entry.path());
    // Smallest first.
    std::sort(cases.begin(), cases.end(), [](const auto& a, const auto& b) {
        return std::filesystem::file_size(a) < std::filesystem::file_size(b);
    });
    bool all_ok = true;
    for (const auto& txt : cases) {
        std::filesystem::path ref = txt;
        ref.replace_extension(".ref");
        if (!std::filesystem::exists(ref)) continue;
        try {
            all_ok = bench_case(txt.string(), ref.string(), runs) && all_ok;
        } catch (const std::exception& e) {
            std::printf("\n%s: failed: %s\n", txt.stem().string().c_str(), e.what());
            all_ok = false;
        }
    }
    return all_ok ? 0 : 1;
}
