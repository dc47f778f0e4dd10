// The change exports and varnok_apply_changes through the C interface: argument, lookup and
// refusal codes with their texts, the engine texts that reach the host, the deficit's lifetime in
// the handle, and the solved network read back after applying.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

// grid.txt at 100 MVA: buses S (slack) A B C D; lines L_SA L_SB L_AB L_BC (the only line to C)
// L_BD (the only line to D); GS at S, GA at A 50 MW in [0, 80], GC at C 20 MW in [0, 30], both
// with participation 1, GD at D out of service; SV at B; loads A 20, B 60, C 5, D 10 MW.
// Zones ZG {A, C}, ZL {B, D}, ZZ of "ZONE" records only.
const std::string kGrid = std::string(VARNOK_TEST_DATA_DIR) + "/modify/grid.txt";

struct Handle : api_test::ContextHandle {
    explicit Handle(bool load = true) {
        if (load) {
            EXPECT_EQ(varnok_load_file(ctx, kGrid.c_str()), VARNOK_OK) << error();
        }
    }
    double gen_p(const char* name) const {
        double p = NAN;
        varnok_get_generator_info(ctx, varnok_find_generator(ctx, name), nullptr, nullptr, &p,
                                  nullptr, nullptr);
        return p;
    }
    double gen_v_set(const char* name) const {
        double v_set = NAN;
        varnok_get_generator_info(ctx, varnok_find_generator(ctx, name), nullptr, nullptr,
                                  nullptr, nullptr, &v_set);
        return v_set;
    }
    int bus_type(const char* name) const {
        int type = -1;
        varnok_get_bus_info(ctx, varnok_find_bus(ctx, name), nullptr, nullptr, &type, nullptr);
        return type;
    }
    double bus_p_load(const char* name) const {
        double p = NAN;
        varnok_get_bus_load(ctx, varnok_find_bus(ctx, name), &p, nullptr);
        return p;
    }
    int branch_status(const char* name) const {
        int status = -1;
        varnok_get_branch_info(ctx, varnok_find_branch(ctx, name), nullptr, nullptr, &status,
                               nullptr, nullptr);
        return status;
    }
    std::vector<double> voltages() const {
        const int n = varnok_get_bus_count(ctx);
        std::vector<double> v(n), angle(n);
        varnok_copy_bus_voltages(ctx, v.data(), angle.data(), n);
        v.insert(v.end(), angle.begin(), angle.end());
        return v;
    }
    // Applies with the last error emptied first, and returns the text that the apply left.
    std::string apply(int expected = VARNOK_OK) const {
        varnok_clear_last_error(ctx);
        EXPECT_EQ(varnok_apply_changes(ctx), expected);
        return error();
    }
};

using Call = std::function<int(VarnokContext*, const char*)>;

struct ChangeExport {
    const char* name;
    Call call;           // with finite values
    const char* known;   // an element of that kind in grid.txt
    const char* kind;    // as named in the "unknown" text
};

const std::vector<ChangeExport>& change_exports() {
    static const std::vector<ChangeExport> exports = {
        {"varnok_trip_branch", varnok_trip_branch, "L_SA", "branch"},
        {"varnok_connect_branch", varnok_connect_branch, "L_SA", "branch"},
        {"varnok_trip_generator", varnok_trip_generator, "GA", "generator"},
        {"varnok_connect_generator", varnok_connect_generator, "GD", "generator"},
        {"varnok_trip_svc", varnok_trip_svc, "SV", "SVC"},
        {"varnok_connect_svc", varnok_connect_svc, "SV", "SVC"},
        {"varnok_set_generator_voltage",
         [](VarnokContext* c, const char* n) { return varnok_set_generator_voltage(c, n, 1.0); },
         "GA", "generator"},
        {"varnok_set_generator_pq",
         [](VarnokContext* c, const char* n) { return varnok_set_generator_pq(c, n, 10.0); }, "GA",
         "generator"},
        {"varnok_change_generation",
         [](VarnokContext* c, const char* n) { return varnok_change_generation(c, n, 1.0); },
         "GA", "generator"},
        {"varnok_change_load",
         [](VarnokContext* c, const char* n) { return varnok_change_load(c, n, 1.0, 1.0); }, "B",
         "bus"},
        {"varnok_change_shunt",
         [](VarnokContext* c, const char* n) { return varnok_change_shunt(c, n, 1.0); }, "B",
         "bus"},
        {"varnok_change_zone_load",
         [](VarnokContext* c, const char* n) { return varnok_change_zone_load(c, n, 1.0, 1.0); },
         "ZL", "zone"},
        {"varnok_change_zone_generation",
         [](VarnokContext* c, const char* n) { return varnok_change_zone_generation(c, n, 1.0); },
         "ZG", "zone"},
    };
    return exports;
}

// ---- Arguments, lookups and refusals -------------------------------------------------------

TEST(ModifyExports, NullHandleOrName) {
    EXPECT_EQ(varnok_apply_changes(nullptr), VARNOK_ERR_NULL_ARG);
    Handle h;
    for (const ChangeExport& e : change_exports()) {
        EXPECT_EQ(e.call(nullptr, e.known), VARNOK_ERR_NULL_ARG) << e.name;
        EXPECT_EQ(e.call(h.ctx, nullptr), VARNOK_ERR_NULL_ARG) << e.name;
        EXPECT_EQ(h.error(), std::string(e.name) + ": NULL argument");
    }
}

TEST(ModifyExports, BeforeALoad) {
    Handle h(false);
    for (const ChangeExport& e : change_exports()) {
        EXPECT_EQ(e.call(h.ctx, e.known), VARNOK_ERR_NOT_LOADED) << e.name;
        EXPECT_EQ(h.error(), std::string(e.name) + ": no network loaded");
    }
    EXPECT_EQ(varnok_apply_changes(h.ctx), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(h.error(), "varnok_apply_changes: no network loaded");
}

TEST(ModifyExports, UnknownNames) {
    Handle h;
    for (const ChangeExport& e : change_exports()) {
        EXPECT_EQ(e.call(h.ctx, "l_sa"), VARNOK_ERR_NOT_FOUND) << e.name;
        EXPECT_EQ(h.error(), std::string(e.name) + ": unknown " + e.kind + ": l_sa");
    }
}

TEST(ModifyExports, RefusedChangesLeaveEverythingAsItWas) {
    struct Case {
        std::function<int(VarnokContext*)> call;
        const char* text;
    };
    const std::vector<Case> cases = {
        {[](VarnokContext* c) { return varnok_connect_branch(c, "L_SA"); },
         "varnok_connect_branch: already connected: L_SA"},
        {[](VarnokContext* c) { return varnok_trip_generator(c, "GS"); },
         "varnok_trip_generator: slack generator must not be tripped: GS"},
        {[](VarnokContext* c) { return varnok_connect_generator(c, "GA"); },
         "varnok_connect_generator: already connected: GA"},
        {[](VarnokContext* c) { return varnok_connect_svc(c, "SV"); },
         "varnok_connect_svc: already connected: SV"},
        {[](VarnokContext* c) { return varnok_change_generation(c, "GD", 5.0); },
         "varnok_change_generation: generator not in operation: GD"},
    };
    for (const Case& c : cases) {
        Handle h;
        EXPECT_EQ(c.call(h.ctx), VARNOK_ERR_FAILED) << c.text;
        EXPECT_EQ(h.error(), c.text);
        EXPECT_EQ(h.gen_p("GS"), 0.0);
        EXPECT_EQ(h.gen_p("GD"), 0.0);
        EXPECT_EQ(h.apply(), "");  // no deficit
    }
}

TEST(ModifyExports, ValuesThatAreNotFinite) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::function<int(VarnokContext*, double)> call;  // the value in one argument
    };
    const std::vector<Case> cases = {
        {"varnok_set_generator_voltage",
         [](VarnokContext* c, double x) { return varnok_set_generator_voltage(c, "GA", x); }},
        {"varnok_set_generator_pq",
         [](VarnokContext* c, double x) { return varnok_set_generator_pq(c, "GA", x); }},
        {"varnok_change_generation",
         [](VarnokContext* c, double x) { return varnok_change_generation(c, "GA", x); }},
        {"varnok_change_load",
         [](VarnokContext* c, double x) { return varnok_change_load(c, "B", x, 0.0); }},
        {"varnok_change_load",
         [](VarnokContext* c, double x) { return varnok_change_load(c, "B", 0.0, x); }},
        {"varnok_change_shunt",
         [](VarnokContext* c, double x) { return varnok_change_shunt(c, "B", x); }},
        {"varnok_change_zone_load",
         [](VarnokContext* c, double x) { return varnok_change_zone_load(c, "ZL", x, 1.0); }},
        {"varnok_change_zone_load",
         [](VarnokContext* c, double x) { return varnok_change_zone_load(c, "ZL", 1.0, x); }},
        {"varnok_change_zone_generation",
         [](VarnokContext* c, double x) { return varnok_change_zone_generation(c, "ZG", x); }},
    };
    const std::pair<double, const char*> values[] = {{nan, "nan"}, {inf, "inf"}, {-inf, "-inf"}};
    Handle h;
    for (const Case& c : cases) {
        for (const auto& [value, text] : values) {
            EXPECT_EQ(c.call(h.ctx, value), VARNOK_ERR_FAILED) << c.name;
            EXPECT_EQ(h.error(), std::string(c.name) + ": value is not a finite number: " + text);
        }
    }
    // nothing reached the network: the solve is the one of the file
    EXPECT_EQ(h.bus_p_load("B"), 60.0);
    EXPECT_EQ(h.gen_v_set("GA"), 1.02);
    EXPECT_EQ(h.apply(), "");
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_OK);

    // the lookup and the refusal come first
    EXPECT_EQ(varnok_change_load(h.ctx, "X", nan, 0.0), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(h.error(), "varnok_change_load: unknown bus: X");
    EXPECT_EQ(varnok_change_generation(h.ctx, "GD", inf), VARNOK_ERR_FAILED);
    EXPECT_EQ(h.error(), "varnok_change_generation: generator not in operation: GD");
}

TEST(ModifyExports, OddFiniteValuesAreAccepted) {
    Handle h;
    EXPECT_EQ(varnok_set_generator_voltage(h.ctx, "GA", 0.0), VARNOK_OK);
    EXPECT_EQ(varnok_set_generator_voltage(h.ctx, "GA", -1.0), VARNOK_OK);
    EXPECT_EQ(h.gen_v_set("GA"), -1.0);
    EXPECT_EQ(varnok_set_generator_pq(h.ctx, "GD", 5.0), VARNOK_OK);  // out of service
    EXPECT_EQ(varnok_trip_branch(h.ctx, "L_BD"), VARNOK_OK);
    EXPECT_EQ(varnok_trip_branch(h.ctx, "L_BD"), VARNOK_OK);
    EXPECT_EQ(varnok_trip_svc(h.ctx, "SV"), VARNOK_OK);
    EXPECT_EQ(varnok_trip_svc(h.ctx, "SV"), VARNOK_OK);
    EXPECT_EQ(varnok_trip_generator(h.ctx, "GD"), VARNOK_OK);  // out already: no deficit
    EXPECT_EQ(h.error(), "");
}

// ---- Engine texts that reach the host ------------------------------------------------------

TEST(ModifyExports, EngineTexts) {
    Handle h;
    EXPECT_EQ(varnok_change_generation(h.ctx, "GA", 50.0), VARNOK_OK);
    EXPECT_EQ(h.error(), " active power limited to maximum (80 MW)\n");
    EXPECT_EQ(h.gen_p("GA"), 80.0);
    EXPECT_EQ(varnok_change_generation(h.ctx, "GA", -100.0), VARNOK_OK);
    EXPECT_EQ(h.error(), " active power limited to minimum (0 MW)\n");

    EXPECT_EQ(varnok_change_zone_load(h.ctx, "ZZ", 10.0, 0.0), VARNOK_ERR_FAILED);
    EXPECT_EQ(h.error(), "varnok_change_zone_load: sum of bus participations is zero !\n");
    EXPECT_EQ(h.bus_p_load("B"), 60.0);

    EXPECT_EQ(varnok_change_zone_generation(h.ctx, "ZG", 100.0), VARNOK_OK);
    EXPECT_EQ(h.error(), " Insufficient reserve. Generation change limited to 90 MW\n");
    EXPECT_EQ(h.gen_p("GA"), 80.0);
    EXPECT_EQ(h.gen_p("GC"), 30.0);

    // GA went 50 -> 80 -> 0 -> 80 and GC 20 -> 30: 40 MW more than the file's
    EXPECT_EQ(h.apply(), "\n Excess of active power : 40 MW compensated on generators\n");
}

// ---- Applying ------------------------------------------------------------------------------

TEST(ApplyChanges, TripThatCutsOffAGeneratorBus) {
    Handle h;
    ASSERT_EQ(varnok_trip_branch(h.ctx, "L_BC"), VARNOK_OK);
    EXPECT_EQ(h.apply(), "\n Deficit of active power : 15 MW compensated on generators\n");
    EXPECT_EQ(h.bus_type("C"), 3);
    EXPECT_EQ(h.bus_p_load("C"), 0.0);
    int status = -1;
    varnok_get_generator_info(h.ctx, varnok_find_generator(h.ctx, "GC"), nullptr, &status,
                              nullptr, nullptr, nullptr);
    EXPECT_EQ(status, 0);
    // the 20 MW of GC less the 5 MW of load at C, all on GA (GC is out, GS has no share)
    const double island = (0.0 - 5.0 / 100.0) + 20.0 / 100.0;
    EXPECT_EQ(h.gen_p("GA"), ((island * 1.0) / 1.0 + 50.0 / 100.0) * 100.0);

    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_OK);
    EXPECT_EQ(varnok_get_solver_status(h.ctx), 1);
    EXPECT_GE(varnok_get_iteration_count(h.ctx), 1);
    double p_mw = 1.0, q_mvar = 1.0;
    varnok_get_max_mismatch(h.ctx, &p_mw, &q_mvar);
    EXPECT_LT(p_mw, 0.1);
    EXPECT_LT(q_mvar, 0.1);

    // A second apply starts with no deficit; the island, pruned already, loses nothing more.
    EXPECT_EQ(h.apply(), "");
    EXPECT_EQ(h.gen_p("GA"), ((island * 1.0) / 1.0 + 50.0 / 100.0) * 100.0);
}

TEST(ApplyChanges, SolveBetweenChangesLeavesTheDeficitPending) {
    Handle h;
    ASSERT_EQ(varnok_change_load(h.ctx, "B", 10.0, 0.0), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_EQ(h.gen_p("GA"), 50.0);  // the slack took it
    ASSERT_EQ(varnok_change_load(h.ctx, "D", 6.0, 0.0), VARNOK_OK);
    EXPECT_EQ(h.apply(), "\n Deficit of active power : 16 MW compensated on generators\n");
    const double deficit = 10.0 / 100.0 + 6.0 / 100.0;
    EXPECT_EQ(h.gen_p("GA"), ((deficit * 1.0) / 2.0 + 50.0 / 100.0) * 100.0);
    EXPECT_EQ(h.gen_p("GC"), ((deficit * 1.0) / 2.0 + 20.0 / 100.0) * 100.0);
}

TEST(ApplyChanges, TrippedGeneratorReconnectedKeepsTheDeficit) {
    Handle h;
    ASSERT_EQ(varnok_trip_generator(h.ctx, "GA"), VARNOK_OK);
    EXPECT_EQ(h.bus_type("A"), 0);
    ASSERT_EQ(varnok_connect_generator(h.ctx, "GA"), VARNOK_OK);
    EXPECT_EQ(h.bus_type("A"), 1);
    EXPECT_EQ(h.gen_p("GA"), 0.0);
    EXPECT_EQ(h.apply(), "\n Deficit of active power : 50 MW compensated on generators\n");
    // 25 MW each; GC stops at 30 MW and its 15 MW go back to GA
    EXPECT_NEAR(h.gen_p("GA"), 40.0, 1e-12);
    EXPECT_EQ(h.gen_p("GC"), 30.0);
}

TEST(ApplyChanges, ExcessAndNoConvergence) {
    Handle h;
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 1), VARNOK_OK);
    ASSERT_EQ(varnok_change_zone_load(h.ctx, "ZL", -8.0, 0.0), VARNOK_OK);
    EXPECT_EQ(h.apply(VARNOK_NOT_CONVERGED),
              "\n Excess of active power : 8 MW compensated on generators\n");
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_NOT_CONVERGED);
    EXPECT_EQ(varnok_get_solver_status(h.ctx), 3);
    EXPECT_EQ(varnok_get_iteration_count(h.ctx), 1);
    // the changes count as applied: the next apply has no deficit
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 20), VARNOK_OK);
    EXPECT_EQ(h.apply(), "");
    EXPECT_EQ(h.bus_p_load("B"), (60.0 / 100.0 + ((-8.0 / 100.0) * 0.5) / 1.0) * 100.0);
}

TEST(ApplyChanges, ResetAndLoadDropTheDeficit) {
    {
        Handle h;
        ASSERT_EQ(varnok_change_load(h.ctx, "B", 10.0, 0.0), VARNOK_OK);
        ASSERT_EQ(varnok_reset(h.ctx), VARNOK_OK);
        EXPECT_EQ(h.apply(), "");
        EXPECT_EQ(h.gen_p("GA"), 50.0);
    }
    {
        Handle h;
        ASSERT_EQ(varnok_change_load(h.ctx, "B", 10.0, 0.0), VARNOK_OK);
        ASSERT_EQ(varnok_load_file(h.ctx, kGrid.c_str()), VARNOK_OK);
        EXPECT_EQ(h.apply(), "");
    }
    {
        // A load that fails after the probe has emptied the network: the deficit goes with it.
        const std::filesystem::path bad =
            std::filesystem::temp_directory_path() / "varnok_modify_bad_end.txt";
        {
            std::ifstream in(kGrid);
            std::ostringstream text;
            text << in.rdbuf() << "LINE L_X S NOWHERE 1 10 0 200 1;\n";
            std::ofstream(bad) << text.str();
        }
        Handle h;
        ASSERT_EQ(varnok_change_load(h.ctx, "B", 10.0, 0.0), VARNOK_OK);
        EXPECT_EQ(varnok_load_file(h.ctx, bad.string().c_str()), VARNOK_ERR_PARSE);
        EXPECT_EQ(h.apply(), "");
        EXPECT_EQ(h.bus_p_load("B"), 60.0);
        std::filesystem::remove(bad);
    }
}

// A branch reconnected to a bus that a pruning took out would feed a bus held at 0 V.
TEST(ApplyChanges, BranchReconnectedToAPrunedBusStaysOut) {
    Handle h;
    ASSERT_EQ(varnok_trip_branch(h.ctx, "L_BD"), VARNOK_OK);
    h.apply();
    const std::vector<double> before = h.voltages();
    ASSERT_EQ(varnok_connect_branch(h.ctx, "L_BD"), VARNOK_OK);
    EXPECT_EQ(h.apply(), "");
    EXPECT_EQ(h.voltages(), before);
    EXPECT_EQ(h.branch_status("L_BD"), 0);
    double p_mw = 1.0, q_mvar = 1.0;
    EXPECT_EQ(varnok_get_branch_flow(h.ctx, "L_BD", &p_mw, &q_mvar), VARNOK_OK);
    EXPECT_EQ(p_mw, 0.0);
    EXPECT_EQ(q_mvar, 0.0);
    EXPECT_EQ(h.bus_type("D"), 3);
    // the same with a plain solve
    ASSERT_EQ(varnok_connect_branch(h.ctx, "L_BD"), VARNOK_OK);
    EXPECT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    EXPECT_EQ(h.branch_status("L_BD"), 0);
    EXPECT_EQ(h.voltages(), before);
}

// A generator bus taken out comes back with its branch and its unit, at the voltage as read.
TEST(ApplyChanges, PrunedGeneratorBusBroughtBack) {
    Handle h;
    ASSERT_EQ(varnok_trip_branch(h.ctx, "L_BC"), VARNOK_OK);
    h.apply();
    ASSERT_EQ(varnok_connect_branch(h.ctx, "L_BC"), VARNOK_OK);
    ASSERT_EQ(varnok_connect_generator(h.ctx, "GC"), VARNOK_OK);
    EXPECT_EQ(h.gen_v_set("GC"), 1.01);  // the bus stood at 0 V
    EXPECT_EQ(h.apply(), "");
    EXPECT_EQ(varnok_get_convergence_status(h.ctx), VARNOK_OK);
    EXPECT_EQ(h.bus_type("C"), 1);
    EXPECT_EQ(h.branch_status("L_BC"), 1);
    double v = 0.0;
    varnok_get_bus_info(h.ctx, varnok_find_bus(h.ctx, "C"), &v, nullptr, nullptr, nullptr);
    EXPECT_EQ(v, 1.01);
}

// ---- Fixed reactive output ------------------------------------------------------------------

// Loads `path` (MW and Mvar on the file's base) into a fresh handle.
struct Loaded : api_test::ContextHandle {
    explicit Loaded(const std::string& path) {
        EXPECT_EQ(varnok_load_file(ctx, path.c_str()), VARNOK_OK) << error();
    }
    double gen_q(int g) const {
        double q = NAN;
        varnok_get_generator_info(ctx, g, nullptr, nullptr, nullptr, &q, nullptr);
        return q;
    }
    // What bus `bus` injects (units in service, shunts, less the load) minus what its branches
    // in service take from it, Mvar: 0 when the bus's reactive equation holds.
    double reactive_balance(int bus) const {
        double v = 0.0, b_mvar = 0.0, q_shunt = 0.0, q_load = 0.0;
        varnok_get_bus_info(ctx, bus, &v, nullptr, nullptr, nullptr);
        varnok_get_bus_shunt(ctx, bus, &b_mvar, &q_shunt);
        varnok_get_bus_load(ctx, bus, nullptr, &q_load);
        double balance = b_mvar * v * v + q_shunt - q_load;
        for (int g = 0; g < varnok_get_generator_count(ctx); ++g) {
            int at = -1, status = 0;
            double q = 0.0;
            varnok_get_generator_info(ctx, g, &at, &status, nullptr, &q, nullptr);
            if (at == bus && status == 1) balance += q;
        }
        for (int k = 0; k < varnok_get_branch_count(ctx); ++k) {
            int from = -1, to = -1, status = 0;
            varnok_get_branch_info(ctx, k, &from, &to, &status, nullptr, nullptr);
            if (status != 1) continue;
            double q_from = 0.0, q_to = 0.0;
            varnok_get_branch_flow_by_index(ctx, k, nullptr, &q_from, nullptr, &q_to);
            if (from == bus) balance -= q_from;
            if (to == bus) balance -= q_to;  // both ends of a branch from a bus to itself
        }
        return balance;
    }
};

// Every unit that controls its bus's voltage in the solved case, fixed at its solved reactive
// output + 10 Mvar: the apply converges, the unit holds the fixed output and its bus's reactive
// equation holds. The case files keep the reactive-limit control off, so no unit returns to
// voltage control.
void fix_every_voltage_controlling_unit(const char* case_name) {
    const std::string path = std::string(VARNOK_CASES_DIR) + "/" + case_name + ".txt";
    Loaded probe(path);
    const int units = varnok_get_generator_count(probe.ctx);
    int fixed = 0;
    for (int g = 0; g < units; ++g) {
        Loaded h(path);
        ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
        int bus = -1, status = 0, type = -1;
        double v_set = 0.0;
        char name[64];
        varnok_get_generator_info(h.ctx, g, &bus, &status, nullptr, nullptr, &v_set);
        varnok_get_generator_name(h.ctx, g, name, 64);
        varnok_get_bus_info(h.ctx, bus, nullptr, nullptr, &type, nullptr);
        if (status != 1 || v_set == 0.0 || (type != 1 && type != 2)) continue;
        SCOPED_TRACE(name);
        ++fixed;
        const double q_fixed = h.gen_q(g) + 10.0;
        ASSERT_EQ(varnok_set_generator_pq(h.ctx, name, q_fixed), VARNOK_OK);
        EXPECT_EQ(varnok_apply_changes(h.ctx), VARNOK_OK);
        EXPECT_DOUBLE_EQ(h.gen_q(g), q_fixed);
        varnok_get_bus_info(h.ctx, bus, nullptr, nullptr, &type, nullptr);
        EXPECT_EQ(type, 0);  // PQ
        EXPECT_NEAR(h.reactive_balance(bus), 0.0, 1e-4);
    }
    EXPECT_GT(fixed, 0);
}

TEST(FixedReactiveOutput, Case30EveryVoltageControllingUnit) {
    fix_every_voltage_controlling_unit("case30");
}

TEST(FixedReactiveOutput, Case118EveryVoltageControllingUnit) {
    fix_every_voltage_controlling_unit("case118");
}

TEST(FixedReactiveOutput, TwoBusUnitFixedAtZero) {
    Loaded h(std::string(VARNOK_TEST_DATA_DIR) + "/modify/two_bus.txt");
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    ASSERT_EQ(varnok_set_generator_pq(h.ctx, "GB", 0.0), VARNOK_OK);
    EXPECT_EQ(varnok_apply_changes(h.ctx), VARNOK_OK);
    const int gb = varnok_find_generator(h.ctx, "GB");
    const int b = varnok_find_bus(h.ctx, "B");
    EXPECT_EQ(h.gen_q(gb), 0.0);
    double v = NAN;
    varnok_get_bus_info(h.ctx, b, &v, nullptr, nullptr, nullptr);
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_LT(v, 1.0);  // the 30 Mvar of load now come over the line
    EXPECT_NEAR(h.reactive_balance(b), 0.0, 0.1);  // the default reactive tolerance, Mvar
}

// ---- Zone generation, shunts and the outputs after an apply ----------------------------------

// GB reaches its 100 MW with its first entry and drops out of its second; the rest of the
// 400 MW goes to GC in the next pass.
TEST(ModifyExports, ZoneGenerationWithABusListedTwicePlacesTheWholeChange) {
    Loaded h(std::string(VARNOK_TEST_DATA_DIR) + "/modify/zone_twice.txt");
    EXPECT_EQ(varnok_change_zone_generation(h.ctx, "Z", 400.0), VARNOK_OK);
    EXPECT_EQ(h.error(), "");
    double p_b = NAN, p_c = NAN;
    varnok_get_generator_info(h.ctx, varnok_find_generator(h.ctx, "GB"), nullptr, nullptr, &p_b,
                              nullptr, nullptr);
    varnok_get_generator_info(h.ctx, varnok_find_generator(h.ctx, "GC"), nullptr, nullptr, &p_c,
                              nullptr, nullptr);
    EXPECT_NEAR(p_b, 100.0, 1e-9);
    EXPECT_NEAR(p_c, 300.0, 1e-9);
}

TEST(ModifyExports, ShuntChangeAddsToTheShuntAsRead) {
    Loaded h(std::string(VARNOK_TEST_DATA_DIR) + "/modify/shunted.txt");
    const int b = varnok_find_bus(h.ctx, "B");
    double b_mvar = NAN, q_shunt = NAN;
    ASSERT_EQ(varnok_get_bus_shunt(h.ctx, b, &b_mvar, &q_shunt), VARNOK_OK);
    ASSERT_EQ(b_mvar, 12.5);
    EXPECT_EQ(varnok_change_shunt(h.ctx, "B", 7.5), VARNOK_OK);
    varnok_get_bus_shunt(h.ctx, b, &b_mvar, &q_shunt);
    EXPECT_EQ(b_mvar, (12.5 / 100.0 + 7.5 / 100.0) * 100.0);
    EXPECT_EQ(q_shunt, 3.0);
}

// An apply whose solve stops unconverged leaves every unit's output as it was before the apply
// (but for the redispatch of the deficit): outputs from unconverged voltages would be wrong.
TEST(ApplyChanges, UnconvergedApplyLeavesTheOutputs) {
    Handle h;
    // no output is recomputed inside the solve either
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_MISQLIM, 0.0), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_MISADJ, 0.0), VARNOK_OK);
    ASSERT_EQ(varnok_solve(h.ctx), VARNOK_OK);
    const int n = varnok_get_generator_count(h.ctx);
    std::vector<double> p(n), q(n), p_after(n), q_after(n);
    std::vector<int> status(n);
    ASSERT_EQ(varnok_copy_generator_outputs(h.ctx, p.data(), q.data(), status.data(), n),
              VARNOK_OK);

    ASSERT_EQ(varnok_change_load(h.ctx, "B", 10.0, 5.0), VARNOK_OK);
    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_NBITMA, 1), VARNOK_OK);
    ASSERT_EQ(varnok_apply_changes(h.ctx), VARNOK_NOT_CONVERGED);
    ASSERT_EQ(varnok_copy_generator_outputs(h.ctx, p_after.data(), q_after.data(), status.data(),
                                            n),
              VARNOK_OK);
    for (int g = 0; g < n; ++g) {
        SCOPED_TRACE(g);
        EXPECT_EQ(q_after[g], q[g]);
    }
    const int gs = varnok_find_generator(h.ctx, "GS");
    EXPECT_EQ(p_after[gs], p[gs]);  // the slack unit's output is not taken from the voltages
    // the 10 MW went to GA and GC before the solve
    const int ga = varnok_find_generator(h.ctx, "GA");
    EXPECT_NEAR(p_after[ga], p[ga] + 5.0, 1e-9);
}

}  // namespace
