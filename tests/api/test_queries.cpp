// Element queries through the C interface: counts, names, lookups, values by name and by index,
// zones, cut flows, bulk copies and the bus table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "context_handle.h"
#include "varnok_api.h"

namespace {

const std::string kDir = std::string(VARNOK_TEST_DATA_DIR) + "/queries/";

// A handle, optionally loaded with one of the files of kDir.
struct Handle : api_test::ContextHandle {
    Handle() = default;
    explicit Handle(const std::string& file) {
        EXPECT_EQ(varnok_load_file(ctx, (kDir + file).c_str()), VARNOK_OK)
            << varnok_get_last_error(ctx);
    }
};

// network.txt, in index order:
//   buses     N1 N2 N3 N4 N5 N5      branches  L12 L13 T23 L34 L14X(open) L45(open)
//   generators G1 G3                 compensators S4
//   zones     Z1 {N1, N2}, Z2 {N3}  cuts C1 {L12@N1 +1, L13@N2 -1, T23@N3 -1, L14X@N1 +1},
//                                        CUT2 {L34@N4 +1}
enum { N1, N2, N3, N4, N5_FIRST, N5 };
enum { L12, L13, T23, L34, L14X, L45 };

constexpr double kUnset = -12345.0;
constexpr int kUnsetInt = -777;

// ---- null handle and fresh handle ----------------------------------------------------------

TEST(Queries, NullHandleGivesMinusTwoEverywhere) {
    double d = 0.0;
    int i = 0;
    char buf[8];
    const std::vector<std::pair<const char*, std::function<int()>>> calls = {
        {"bus_count", [] { return varnok_get_bus_count(nullptr); }},
        {"branch_count", [] { return varnok_get_branch_count(nullptr); }},
        {"generator_count", [] { return varnok_get_generator_count(nullptr); }},
        {"svc_count", [] { return varnok_get_svc_count(nullptr); }},
        {"zone_count", [] { return varnok_get_zone_count(nullptr); }},
        {"cut_count", [] { return varnok_get_cut_count(nullptr); }},
        {"bus_name", [&] { return varnok_get_bus_name(nullptr, 0, buf, 8); }},
        {"branch_name", [&] { return varnok_get_branch_name(nullptr, 0, buf, 8); }},
        {"generator_name", [&] { return varnok_get_generator_name(nullptr, 0, buf, 8); }},
        {"svc_name", [&] { return varnok_get_svc_name(nullptr, 0, buf, 8); }},
        {"zone_name", [&] { return varnok_get_zone_name(nullptr, 0, buf, 8); }},
        {"cut_name", [&] { return varnok_get_cut_name(nullptr, 0, buf, 8); }},
        {"find_bus", [] { return varnok_find_bus(nullptr, "N1"); }},
        {"find_branch", [] { return varnok_find_branch(nullptr, "L12"); }},
        {"find_generator", [] { return varnok_find_generator(nullptr, "G1"); }},
        {"find_svc", [] { return varnok_find_svc(nullptr, "S4"); }},
        {"find_zone", [] { return varnok_find_zone(nullptr, "Z1"); }},
        {"find_cut", [] { return varnok_find_cut(nullptr, "C1"); }},
        {"bus_voltage", [&] { return varnok_get_bus_voltage(nullptr, "N1", &d, &d); }},
        {"branch_flow", [&] { return varnok_get_branch_flow(nullptr, "L12", &d, &d); }},
        {"bus_info", [&] { return varnok_get_bus_info(nullptr, 0, &d, &d, &i, &d); }},
        {"bus_load", [&] { return varnok_get_bus_load(nullptr, 0, &d, &d); }},
        {"bus_shunt", [&] { return varnok_get_bus_shunt(nullptr, 0, &d, &d); }},
        {"branch_info", [&] { return varnok_get_branch_info(nullptr, 0, &i, &i, &i, &i, &d); }},
        {"branch_flow_by_index",
         [&] { return varnok_get_branch_flow_by_index(nullptr, 0, &d, &d, &d, &d); }},
        {"generator_info",
         [&] { return varnok_get_generator_info(nullptr, 0, &i, &i, &d, &d, &d); }},
        {"generator_limits",
         [&] { return varnok_get_generator_limits(nullptr, 0, &d, &d, &d, &d, &i); }},
        {"svc_info", [&] { return varnok_get_svc_info(nullptr, 0, &i, &i, &d, &d, &i); }},
        {"cut_flow", [&] { return varnok_get_cut_flow(nullptr, 0, &d, &d); }},
        {"bus_zone", [] { return varnok_get_bus_zone(nullptr, 0); }},
        {"copy_bus_voltages", [&] { return varnok_copy_bus_voltages(nullptr, &d, &d, 1); }},
        {"copy_bus_loads", [&] { return varnok_copy_bus_loads(nullptr, &d, &d, 1); }},
        {"copy_branch_flows",
         [&] { return varnok_copy_branch_flows(nullptr, &d, &d, &d, &d, 1); }},
        {"copy_branch_status", [&] { return varnok_copy_branch_status(nullptr, &i, 1); }},
        {"copy_generator_outputs",
         [&] { return varnok_copy_generator_outputs(nullptr, &d, &d, &i, 1); }},
        {"copy_svc_outputs", [&] { return varnok_copy_svc_outputs(nullptr, &d, &i, 1); }},
    };
    for (const auto& call : calls) EXPECT_EQ(call.second(), VARNOK_ERR_NULL_ARG) << call.first;
    const char* text = varnok_get_output_text(nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
}

TEST(Queries, FreshHandleAnswersFromTheEmptyNetwork) {
    Handle h;
    EXPECT_EQ(varnok_get_bus_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_branch_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_generator_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_svc_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_zone_count(h.ctx), 0);
    EXPECT_EQ(varnok_get_cut_count(h.ctx), 0);

    char buf[8] = "keep";
    EXPECT_EQ(varnok_get_bus_name(h.ctx, 0, buf, 8), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(), "varnok_get_bus_name: index out of range: 0");
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(varnok_find_bus(h.ctx, "N1"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(h.error(), "varnok_find_bus: unknown bus: N1");
    EXPECT_STREQ(varnok_get_output_text(h.ctx), "");

    // capacity 0 suffices for no element: 0 and nothing written
    double d = kUnset;
    int i = kUnsetInt;
    varnok_clear_last_error(h.ctx);
    EXPECT_EQ(varnok_copy_bus_voltages(h.ctx, &d, &d, 0), VARNOK_OK);
    EXPECT_EQ(varnok_copy_bus_loads(h.ctx, &d, &d, 0), VARNOK_OK);
    EXPECT_EQ(varnok_copy_branch_flows(h.ctx, &d, &d, &d, &d, 0), VARNOK_OK);
    EXPECT_EQ(varnok_copy_branch_status(h.ctx, &i, 0), VARNOK_OK);
    EXPECT_EQ(varnok_copy_generator_outputs(h.ctx, &d, &d, &i, 0), VARNOK_OK);
    EXPECT_EQ(varnok_copy_svc_outputs(h.ctx, &d, &i, 0), VARNOK_OK);
    EXPECT_EQ(d, kUnset);
    EXPECT_EQ(i, kUnsetInt);
    EXPECT_EQ(h.error(), "");
}

// ---- getters by index ------------------------------------------------------------------------

// Outputs of one getter call: five doubles and five ints, each starting at a sentinel.
struct Outputs {
    double d[5] = {kUnset, kUnset, kUnset, kUnset, kUnset};
    int i[5] = {kUnsetInt, kUnsetInt, kUnsetInt, kUnsetInt, kUnsetInt};
    bool untouched() const {
        for (double x : d)
            if (x != kUnset) return false;
        for (int x : i)
            if (x != kUnsetInt) return false;
        return true;
    }
};

struct IndexGetter {
    const char* name;
    int (*count)(VarnokContext*);
    // calls the getter with the outputs, or with every output null
    std::function<int(VarnokContext*, int, Outputs*)> call;
};

const std::vector<IndexGetter>& index_getters() {
    static const std::vector<IndexGetter> getters = {
        {"varnok_get_bus_info", varnok_get_bus_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_bus_info(c, k, &o->d[0], &o->d[1], &o->i[0], &o->d[2])
                      : varnok_get_bus_info(c, k, nullptr, nullptr, nullptr, nullptr);
         }},
        {"varnok_get_bus_load", varnok_get_bus_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_bus_load(c, k, &o->d[0], &o->d[1])
                      : varnok_get_bus_load(c, k, nullptr, nullptr);
         }},
        {"varnok_get_bus_shunt", varnok_get_bus_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_bus_shunt(c, k, &o->d[0], &o->d[1])
                      : varnok_get_bus_shunt(c, k, nullptr, nullptr);
         }},
        {"varnok_get_branch_info", varnok_get_branch_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_branch_info(c, k, &o->i[0], &o->i[1], &o->i[2], &o->i[3],
                                               &o->d[0])
                      : varnok_get_branch_info(c, k, nullptr, nullptr, nullptr, nullptr,
                                               nullptr);
         }},
        {"varnok_get_branch_flow_by_index", varnok_get_branch_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_branch_flow_by_index(c, k, &o->d[0], &o->d[1], &o->d[2],
                                                        &o->d[3])
                      : varnok_get_branch_flow_by_index(c, k, nullptr, nullptr, nullptr,
                                                        nullptr);
         }},
        {"varnok_get_generator_info", varnok_get_generator_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_generator_info(c, k, &o->i[0], &o->i[1], &o->d[0], &o->d[1],
                                                  &o->d[2])
                      : varnok_get_generator_info(c, k, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr);
         }},
        {"varnok_get_generator_limits", varnok_get_generator_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_generator_limits(c, k, &o->d[0], &o->d[1], &o->d[2],
                                                    &o->d[3], &o->i[0])
                      : varnok_get_generator_limits(c, k, nullptr, nullptr, nullptr, nullptr,
                                                    nullptr);
         }},
        {"varnok_get_svc_info", varnok_get_svc_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_svc_info(c, k, &o->i[0], &o->i[1], &o->d[0], &o->d[1],
                                            &o->i[2])
                      : varnok_get_svc_info(c, k, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"varnok_get_cut_flow", varnok_get_cut_count,
         [](VarnokContext* c, int k, Outputs* o) {
             return o ? varnok_get_cut_flow(c, k, &o->d[0], &o->d[1])
                      : varnok_get_cut_flow(c, k, nullptr, nullptr);
         }},
    };
    return getters;
}

TEST(Queries, GettersByIndexTestTheIndexFirstAndSkipNullOutputs) {
    Handle h("network.txt");
    for (const IndexGetter& g : index_getters()) {
        const int count = g.count(h.ctx);
        ASSERT_GT(count, 0) << g.name;
        for (int bad : {-1, count, 2147483647, -2147483647 - 1}) {
            Outputs o;
            EXPECT_EQ(g.call(h.ctx, bad, &o), VARNOK_ERR_OUT_OF_RANGE) << g.name << " " << bad;
            EXPECT_EQ(h.error(), std::string(g.name) + ": index out of range: " +
                                     std::to_string(bad));
            EXPECT_TRUE(o.untouched()) << g.name << " " << bad;
        }
        varnok_clear_last_error(h.ctx);
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(g.call(h.ctx, k, nullptr), VARNOK_OK) << g.name << " " << k;
            Outputs o;
            EXPECT_EQ(g.call(h.ctx, k, &o), VARNOK_OK) << g.name << " " << k;
        }
        EXPECT_EQ(h.error(), "") << g.name;
    }
}

TEST(Queries, BusZoneFollowsTheIndexRules) {
    Handle h("network.txt");
    EXPECT_EQ(varnok_get_bus_zone(h.ctx, -1), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(), "varnok_get_bus_zone: index out of range: -1");
    EXPECT_EQ(varnok_get_bus_zone(h.ctx, 6), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(h.error(), "varnok_get_bus_zone: index out of range: 6");
    const int expected[] = {0, 0, 1, VARNOK_ERR_NOT_FOUND, VARNOK_ERR_NOT_FOUND,
                            VARNOK_ERR_NOT_FOUND};
    for (int bus = 0; bus < 6; ++bus) {
        varnok_clear_last_error(h.ctx);
        EXPECT_EQ(varnok_get_bus_zone(h.ctx, bus), expected[bus]) << bus;
        EXPECT_EQ(h.error(), expected[bus] < 0 ? "varnok_get_bus_zone: bus belongs to no zone" : "")
            << bus;
    }
}

struct BusRow {
    int index;
    double v, angle;
    int type;
    double vnom, p, q, b, qsh;
};

TEST(Queries, BusValuesAsRead) {
    Handle h("network.txt");
    const BusRow rows[] = {
        {N1, 1.05, 0.0, 2, 400.0, 0.0, 0.0, 0.0, 0.0},  // the generator's setpoint; SLACK after
        {N2, 1.0, 0.0, 0, 400.0, 50.0, 20.0, 10.0, 5.0},
        {N3, 1.0, 0.0, 0, 225.0, 30.0, -10.0, 0.0, 0.0},  // G3 has no setpoint: stays PQ
        {N4, 1.0, 0.0, 0, 225.0, 40.0, 15.0, 0.0, 0.0},
        {N5_FIRST, 1.0, 0.0, 0, 20.0, 0.0, 0.0, 0.0, 0.0},
        {N5, 1.0, 0.0, 0, 20.0, 2.0, 1.0, 0.0, 0.0},
    };
    for (const BusRow& r : rows) {
        double v = kUnset, angle = kUnset, vnom = kUnset, p = kUnset, q = kUnset, b = kUnset,
               qsh = kUnset;
        int type = kUnsetInt;
        ASSERT_EQ(varnok_get_bus_info(h.ctx, r.index, &v, &angle, &type, &vnom), VARNOK_OK);
        EXPECT_EQ(v, r.v) << r.index;
        EXPECT_EQ(angle, r.angle) << r.index;
        EXPECT_EQ(type, r.type) << r.index;
        EXPECT_EQ(vnom, r.vnom) << r.index;
        ASSERT_EQ(varnok_get_bus_load(h.ctx, r.index, &p, &q), VARNOK_OK);
        EXPECT_EQ(p, r.p) << r.index;
        EXPECT_EQ(q, r.q) << r.index;
        ASSERT_EQ(varnok_get_bus_shunt(h.ctx, r.index, &b, &qsh), VARNOK_OK);
        EXPECT_EQ(b, r.b) << r.index;
        EXPECT_EQ(qsh, r.qsh) << r.index;
    }
    // only the given outputs are written
    double angle = kUnset;
    int type = kUnsetInt;
    EXPECT_EQ(varnok_get_bus_info(h.ctx, N1, nullptr, &angle, &type, nullptr), VARNOK_OK);
    EXPECT_EQ(angle, 0.0);
    EXPECT_EQ(type, 2);
}

TEST(Queries, BranchGeneratorAndCompensatorValuesAsRead) {
    Handle h("network.txt");
    struct BranchRow {
        int index, from, to, status, transformer;
        double rating;
    };
    const BranchRow branches[] = {
        {L12, N1, N2, 1, 0, 500.0}, {L13, N1, N2, 1, 0, 400.0}, {T23, N2, N3, 1, 1, 250.0},
        {L34, N3, N4, 1, 0, 300.0}, {L14X, N1, N4, 0, 0, 300.0}, {L45, N4, N5, 0, 0, 50.0},
    };
    for (const BranchRow& r : branches) {
        int from = kUnsetInt, to = kUnsetInt, status = kUnsetInt, transformer = kUnsetInt;
        double rating = kUnset;
        ASSERT_EQ(varnok_get_branch_info(h.ctx, r.index, &from, &to, &status, &transformer,
                                         &rating),
                  VARNOK_OK);
        EXPECT_EQ(from, r.from) << r.index;
        EXPECT_EQ(to, r.to) << r.index;
        EXPECT_EQ(status, r.status) << r.index;
        EXPECT_EQ(transformer, r.transformer) << r.index;
        EXPECT_EQ(rating, r.rating) << r.index;
    }

    int bus = kUnsetInt, status = kUnsetInt, has = kUnsetInt, mode = kUnsetInt;
    double p = kUnset, q = kUnset, vset = kUnset, pmin = kUnset, pmax = kUnset, qmin = kUnset,
           qmax = kUnset;
    ASSERT_EQ(varnok_get_generator_info(h.ctx, 0, &bus, &status, &p, &q, &vset), VARNOK_OK);
    EXPECT_EQ(bus, N1);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(p, 60.0);
    EXPECT_EQ(q, 10.0);
    EXPECT_EQ(vset, 1.05);
    ASSERT_EQ(varnok_get_generator_limits(h.ctx, 0, &pmin, &pmax, &qmin, &qmax, &has), VARNOK_OK);
    EXPECT_EQ(pmin, -99999.9);  // the reader's stand-ins without active limits
    EXPECT_EQ(pmax, 99999.9);
    EXPECT_EQ(qmin, -50.0);
    EXPECT_EQ(qmax, 80.0);
    EXPECT_EQ(has, 0);

    ASSERT_EQ(varnok_get_generator_info(h.ctx, 1, &bus, &status, &p, &q, &vset), VARNOK_OK);
    EXPECT_EQ(bus, N3);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(p, 40.0);
    EXPECT_EQ(q, 5.0);
    EXPECT_EQ(vset, 0.0);  // no setpoint
    ASSERT_EQ(varnok_get_generator_limits(h.ctx, 1, &pmin, &pmax, &qmin, &qmax, &has), VARNOK_OK);
    EXPECT_EQ(pmin, 10.0);
    EXPECT_EQ(pmax, 60.0);
    EXPECT_EQ(qmin, -20.0);
    EXPECT_EQ(qmax, 20.0);
    EXPECT_EQ(has, 1);

    ASSERT_EQ(varnok_get_svc_info(h.ctx, 0, &bus, &status, &q, &vset, &mode), VARNOK_OK);
    EXPECT_EQ(bus, N4);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(q, 20.0);
    EXPECT_EQ(vset, 0.0);
    EXPECT_EQ(mode, -1);  // SVC_FIXED_Q
}

// ---- names and lookups -----------------------------------------------------------------------

using NameGetter = int (*)(VarnokContext*, int, char*, int);

struct NameCase {
    const char* export_name;
    NameGetter get;
    std::vector<std::string> names;
};

TEST(Queries, NamesByIndexAndBufferRules) {
    Handle h("network.txt");
    const NameCase cases[] = {
        {"varnok_get_bus_name", varnok_get_bus_name, {"N1", "N2", "N3", "N4", "N5", "N5"}},
        {"varnok_get_branch_name",
         varnok_get_branch_name,
         {"L12", "L13", "T23", "L34", "L14X", "L45"}},
        {"varnok_get_generator_name", varnok_get_generator_name, {"G1", "G3"}},
        {"varnok_get_svc_name", varnok_get_svc_name, {"S4"}},
        {"varnok_get_zone_name", varnok_get_zone_name, {"Z1", "Z2"}},
        {"varnok_get_cut_name", varnok_get_cut_name, {"C1", "CUT2"}},
    };
    for (const NameCase& c : cases) {
        const int count = static_cast<int>(c.names.size());
        for (int k = 0; k < count; ++k) {
            const std::string& name = c.names[static_cast<std::size_t>(k)];
            const int fit = static_cast<int>(name.size()) + 1;
            char buf[16];

            // exact fit: the name and its terminating zero, nothing beyond
            std::memset(buf, 'x', sizeof buf);
            EXPECT_EQ(c.get(h.ctx, k, buf, fit), VARNOK_OK) << c.export_name;
            EXPECT_EQ(std::string(buf), name);
            EXPECT_EQ(buf[fit], 'x');

            // one byte short: -8, buffer untouched
            std::memset(buf, 'x', sizeof buf);
            EXPECT_EQ(c.get(h.ctx, k, buf, fit - 1), VARNOK_ERR_BUFFER_TOO_SMALL);
            EXPECT_EQ(h.error(), "name buffer too small for: " + name);
            for (char b : buf) EXPECT_EQ(b, 'x');

            for (int capacity : {0, -1}) {
                EXPECT_EQ(c.get(h.ctx, k, buf, capacity), VARNOK_ERR_NULL_ARG);
                EXPECT_EQ(h.error(), "NULL or empty name buffer");
            }
            EXPECT_EQ(c.get(h.ctx, k, nullptr, 16), VARNOK_ERR_NULL_ARG);
            EXPECT_EQ(h.error(), "NULL or empty name buffer");
        }
        // the index is tested before the buffer
        for (int bad : {-1, count}) {
            EXPECT_EQ(c.get(h.ctx, bad, nullptr, 0), VARNOK_ERR_OUT_OF_RANGE);
            EXPECT_EQ(h.error(),
                      std::string(c.export_name) + ": index out of range: " + std::to_string(bad));
        }
    }
}

struct LookupCase {
    int (*find)(VarnokContext*, const char*);
    const char* name;
    int index;
    const char* unknown_text;  // for the name in lower case
};

TEST(Queries, LookupsByName) {
    Handle h("network.txt");
    const LookupCase cases[] = {
        {varnok_find_bus, "N5", N5, "varnok_find_bus: unknown bus: n5"},  // the newest N5
        {varnok_find_branch, "L14X", L14X, "varnok_find_branch: unknown branch: l14x"},
        {varnok_find_generator, "G3", 1, "varnok_find_generator: unknown generator: g3"},
        {varnok_find_svc, "S4", 0, "varnok_find_svc: unknown SVC: s4"},
        {varnok_find_zone, "Z2", 1, "varnok_find_zone: unknown zone: z2"},
        {varnok_find_cut, "CUT2", 1, "varnok_find_cut: unknown cut: cut2"},
    };
    for (const LookupCase& c : cases) {
        varnok_clear_last_error(h.ctx);
        EXPECT_EQ(c.find(h.ctx, c.name), c.index) << c.name;
        EXPECT_EQ(h.error(), "") << c.name;

        std::string lower;
        for (const char* p = c.name; *p; ++p)
            lower += (*p >= 'A' && *p <= 'Z') ? static_cast<char>(*p - 'A' + 'a') : *p;
        EXPECT_EQ(c.find(h.ctx, lower.c_str()), VARNOK_ERR_NOT_FOUND) << c.name;
        EXPECT_EQ(h.error(), c.unknown_text);

        // a null name is -2 and stores nothing, even on a valid handle
        varnok_clear_last_error(h.ctx);
        EXPECT_EQ(c.find(h.ctx, nullptr), VARNOK_ERR_NULL_ARG) << c.name;
        EXPECT_EQ(h.error(), "") << c.name;
    }
    EXPECT_EQ(varnok_find_bus(h.ctx, "N5 "), VARNOK_ERR_NOT_FOUND);  // no trimming
    EXPECT_EQ(varnok_find_bus(h.ctx, ""), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(h.error(), "varnok_find_bus: unknown bus: ");
}

TEST(Queries, ValuesByNameNeedEveryArgument) {
    Handle h("network.txt");
    double a = kUnset, b = kUnset;
    EXPECT_EQ(varnok_get_bus_voltage(h.ctx, "N1", &a, &b), VARNOK_OK);
    EXPECT_EQ(a, 1.05);
    EXPECT_EQ(b, 0.0);

    struct NullCase {
        const char* name;
        double* first;
        double* second;
    };
    const NullCase nulls[] = {{nullptr, &a, &b}, {"N1", nullptr, &b}, {"N1", &a, nullptr}};
    for (const NullCase& c : nulls) {
        a = b = kUnset;
        double* first = c.first;
        double* second = c.second;
        EXPECT_EQ(varnok_get_bus_voltage(h.ctx, c.name, first, second), VARNOK_ERR_NULL_ARG);
        EXPECT_EQ(h.error(), "varnok_get_bus_voltage: NULL argument");
        EXPECT_EQ(varnok_get_branch_flow(h.ctx, c.name ? "L12" : nullptr, first, second),
                  VARNOK_ERR_NULL_ARG);
        EXPECT_EQ(h.error(), "varnok_get_branch_flow: NULL argument");
        EXPECT_EQ(a, kUnset);
        EXPECT_EQ(b, kUnset);
    }

    EXPECT_EQ(varnok_get_bus_voltage(h.ctx, "n1", &a, &b), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(h.error(), "varnok_get_bus_voltage: unknown bus: n1");
    EXPECT_EQ(varnok_get_branch_flow(h.ctx, "L99", &a, &b), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(h.error(), "varnok_get_branch_flow: unknown branch: L99");
    EXPECT_EQ(a, kUnset);
    EXPECT_EQ(b, kUnset);
}

// ---- flows -----------------------------------------------------------------------------------

struct Flow {
    double pf = kUnset, qf = kUnset, pt = kUnset, qt = kUnset;
};

Flow flow_of(VarnokContext* ctx, int branch) {
    Flow f;
    EXPECT_EQ(varnok_get_branch_flow_by_index(ctx, branch, &f.pf, &f.qf, &f.pt, &f.qt), VARNOK_OK);
    return f;
}

TEST(Queries, FlowsBeforeAnySolveComeFromTheStoredVoltages) {
    Handle h("network.txt");
    // N3 and N4 both read at 1 pu and angle 0: no flow at either end, whatever the impedance
    const Flow l34 = flow_of(h.ctx, L34);
    EXPECT_EQ(l34.pf, 0.0);
    EXPECT_EQ(l34.qf, 0.0);
    EXPECT_EQ(l34.pt, 0.0);
    EXPECT_EQ(l34.qt, 0.0);
    double p = kUnset, q = kUnset;
    ASSERT_EQ(varnok_get_cut_flow(h.ctx, 1, &p, &q), VARNOK_OK);
    EXPECT_EQ(p, 0.0);
    EXPECT_EQ(q, 0.0);
    // open branches carry nothing
    for (const char* open : {"L14X", "L45"}) {
        p = q = kUnset;
        ASSERT_EQ(varnok_get_branch_flow(h.ctx, open, &p, &q), VARNOK_OK) << open;
        EXPECT_EQ(p, 0.0);
        EXPECT_EQ(q, 0.0);
    }
    // N1 at 1.05 pu against N2 at 1 pu in phase: active power leaves N1 into L12 and arrives
    // at N2, so the to-end value (leaving N2) is negative
    const Flow l12 = flow_of(h.ctx, L12);
    EXPECT_GT(l12.pf, 0.0);
    EXPECT_LT(l12.pt, 0.0);
}

class SolvedNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(varnok_solve(h.ctx), 0) << h.error();
    }
    Handle h{"network.txt"};
};

TEST_F(SolvedNetwork, FlowByNameEqualsFlowByIndex) {
    for (const char* name : {"L12", "L13", "T23", "L34", "L14X", "L45"}) {
        const int index = varnok_find_branch(h.ctx, name);
        ASSERT_GE(index, 0);
        double p = kUnset, q = kUnset;
        ASSERT_EQ(varnok_get_branch_flow(h.ctx, name, &p, &q), VARNOK_OK);
        const Flow f = flow_of(h.ctx, index);
        EXPECT_EQ(p, f.pf) << name;
        EXPECT_EQ(q, f.qf) << name;
    }
}

TEST_F(SolvedNetwork, FlowSignsAtBothEnds) {
    // N4 takes 40 MW from N3: positive leaving N3, negative leaving N4, the loss in between
    const Flow l34 = flow_of(h.ctx, L34);
    EXPECT_GT(l34.pf, 0.0);
    EXPECT_LT(l34.pt, 0.0);
    EXPECT_GT(l34.pf + l34.pt, 0.0);
    EXPECT_LT(l34.pf + l34.pt, 0.05 * l34.pf);
    // the slack feeds N2 over both parallel lines
    EXPECT_GT(flow_of(h.ctx, L12).pf, 0.0);
    EXPECT_GT(flow_of(h.ctx, L13).pf, 0.0);
    const Flow open = flow_of(h.ctx, L14X);
    EXPECT_EQ(open.pf, 0.0);
    EXPECT_EQ(open.qf, 0.0);
    EXPECT_EQ(open.pt, 0.0);
    EXPECT_EQ(open.qt, 0.0);
}

TEST_F(SolvedNetwork, CutFlowIsTheSignedSumAtTheMembersEnds) {
    const Flow l12 = flow_of(h.ctx, L12), l13 = flow_of(h.ctx, L13), t23 = flow_of(h.ctx, T23),
               l14x = flow_of(h.ctx, L14X), l34 = flow_of(h.ctx, L34);
    double p = kUnset, q = kUnset;
    // C1: L12 at its from end +1, L13 at its to end -1, T23 at its to end -1, L14X (open) +1
    ASSERT_EQ(varnok_get_cut_flow(h.ctx, 0, &p, &q), VARNOK_OK);
    EXPECT_EQ(p, ((l12.pf + -l13.pt) + -t23.pt) + l14x.pf);
    EXPECT_EQ(q, ((l12.qf + -l13.qt) + -t23.qt) + l14x.qf);
    EXPECT_NE(p, 0.0);
    // CUT2: L34 at its to end +1
    ASSERT_EQ(varnok_get_cut_flow(h.ctx, 1, &p, &q), VARNOK_OK);
    EXPECT_EQ(p, l34.pt);
    EXPECT_EQ(q, l34.qt);
    EXPECT_LT(p, 0.0);
    // only the given output is written
    q = kUnset;
    ASSERT_EQ(varnok_get_cut_flow(h.ctx, 1, &p, nullptr), VARNOK_OK);
    EXPECT_EQ(q, kUnset);
}

TEST_F(SolvedNetwork, OptionZeroRescalesEveryPowerAtTheTimeOfTheCall) {
    const Flow before = flow_of(h.ctx, L12);
    double cut_p = 0, cut_q = 0, v = 0, angle = 0;
    varnok_get_cut_flow(h.ctx, 0, &cut_p, &cut_q);
    varnok_get_bus_voltage(h.ctx, "N2", &v, &angle);
    double gp = 0, gq = 0, gset = 0, svq = 0, svset = 0, pmin = 0, pmax = 0, qmin = 0, qmax = 0;
    varnok_get_generator_info(h.ctx, 1, nullptr, nullptr, &gp, &gq, &gset);
    varnok_get_generator_limits(h.ctx, 1, &pmin, &pmax, &qmin, &qmax, nullptr);
    varnok_get_svc_info(h.ctx, 0, nullptr, nullptr, &svq, &svset, nullptr);

    ASSERT_EQ(varnok_set_option(h.ctx, VARNOK_OPT_SBASE, 200.0), VARNOK_OK);

    const Flow after = flow_of(h.ctx, L12);
    EXPECT_EQ(after.pf, 2 * before.pf);
    EXPECT_EQ(after.qf, 2 * before.qf);
    EXPECT_EQ(after.pt, 2 * before.pt);
    EXPECT_EQ(after.qt, 2 * before.qt);
    double p = 0, q = 0;
    varnok_get_cut_flow(h.ctx, 0, &p, &q);
    EXPECT_EQ(p, 2 * cut_p);
    EXPECT_EQ(q, 2 * cut_q);
    varnok_get_bus_load(h.ctx, N2, &p, &q);
    EXPECT_EQ(p, 100.0);
    EXPECT_EQ(q, 40.0);
    varnok_get_bus_shunt(h.ctx, N2, &p, &q);
    EXPECT_EQ(p, 20.0);
    EXPECT_EQ(q, 10.0);
    double rating = 0;
    varnok_get_branch_info(h.ctx, T23, nullptr, nullptr, nullptr, nullptr, &rating);
    EXPECT_EQ(rating, 500.0);
    double x[4] = {0, 0, 0, 0}, set = 0;
    varnok_get_generator_info(h.ctx, 1, nullptr, nullptr, &x[0], &x[1], &set);
    EXPECT_EQ(x[0], 2 * gp);
    EXPECT_EQ(x[1], 2 * gq);
    EXPECT_EQ(set, gset);  // a setpoint in pu is not scaled
    varnok_get_generator_limits(h.ctx, 1, &x[0], &x[1], &x[2], &x[3], nullptr);
    EXPECT_EQ(x[0], 2 * pmin);
    EXPECT_EQ(x[1], 2 * pmax);
    EXPECT_EQ(x[2], 2 * qmin);
    EXPECT_EQ(x[3], 2 * qmax);
    varnok_get_svc_info(h.ctx, 0, nullptr, nullptr, &x[0], &set, nullptr);
    EXPECT_EQ(x[0], 2 * svq);
    EXPECT_EQ(set, svset);
    double v2 = 0, angle2 = 0;
    varnok_get_bus_voltage(h.ctx, "N2", &v2, &angle2);
    EXPECT_EQ(v2, v);
    EXPECT_EQ(angle2, angle);
}

// ---- bulk copies -----------------------------------------------------------------------------

struct BulkCase {
    const char* export_name;
    int (*count)(VarnokContext*);
    // copies into d[0..3] and i[0] (8 entries each), or with every array null when d is null
    std::function<int(VarnokContext*, int capacity, std::vector<double>* d, std::vector<int>* i)>
        copy;
};

const std::vector<BulkCase>& bulk_cases() {
    using D = std::vector<double>;
    using I = std::vector<int>;
    static const std::vector<BulkCase> cases = {
        {"varnok_copy_bus_voltages", varnok_get_bus_count,
         [](VarnokContext* c, int n, D* d, I*) {
             return d ? varnok_copy_bus_voltages(c, &d[0][0], &d[1][0], n)
                      : varnok_copy_bus_voltages(c, nullptr, nullptr, n);
         }},
        {"varnok_copy_bus_loads", varnok_get_bus_count,
         [](VarnokContext* c, int n, D* d, I*) {
             return d ? varnok_copy_bus_loads(c, &d[0][0], &d[1][0], n)
                      : varnok_copy_bus_loads(c, nullptr, nullptr, n);
         }},
        {"varnok_copy_branch_flows", varnok_get_branch_count,
         [](VarnokContext* c, int n, D* d, I*) {
             return d ? varnok_copy_branch_flows(c, &d[0][0], &d[1][0], &d[2][0], &d[3][0], n)
                      : varnok_copy_branch_flows(c, nullptr, nullptr, nullptr, nullptr, n);
         }},
        {"varnok_copy_branch_status", varnok_get_branch_count,
         [](VarnokContext* c, int n, D* d, I* i) {
             return d ? varnok_copy_branch_status(c, &i[0][0], n)
                      : varnok_copy_branch_status(c, nullptr, n);
         }},
        {"varnok_copy_generator_outputs", varnok_get_generator_count,
         [](VarnokContext* c, int n, D* d, I* i) {
             return d ? varnok_copy_generator_outputs(c, &d[0][0], &d[1][0], &i[0][0], n)
                      : varnok_copy_generator_outputs(c, nullptr, nullptr, nullptr, n);
         }},
        {"varnok_copy_svc_outputs", varnok_get_svc_count,
         [](VarnokContext* c, int n, D* d, I* i) {
             return d ? varnok_copy_svc_outputs(c, &d[0][0], &i[0][0], n)
                      : varnok_copy_svc_outputs(c, nullptr, nullptr, n);
         }},
    };
    return cases;
}

bool all_unset(const std::vector<double> (&d)[4], const std::vector<int> (&i)[1]) {
    for (const auto& a : d)
        for (double x : a)
            if (x != kUnset) return false;
    for (int x : i[0])
        if (x != kUnsetInt) return false;
    return true;
}

TEST(Queries, BulkCopyCapacities) {
    Handle h("network.txt");
    for (const BulkCase& c : bulk_cases()) {
        const int count = c.count(h.ctx);
        ASSERT_GT(count, 0);
        ASSERT_LT(count, 8);
        std::vector<double> d[4] = {std::vector<double>(8, kUnset), std::vector<double>(8, kUnset),
                                    std::vector<double>(8, kUnset), std::vector<double>(8, kUnset)};
        std::vector<int> i[1] = {std::vector<int>(8, kUnsetInt)};

        for (int capacity : {-1, -2147483647 - 1, 0, count - 1}) {
            varnok_clear_last_error(h.ctx);
            EXPECT_EQ(c.copy(h.ctx, capacity, d, i), VARNOK_ERR_BUFFER_TOO_SMALL)
                << c.export_name << " " << capacity;
            EXPECT_EQ(h.error(), std::string(c.export_name) + ": array too small");
            EXPECT_TRUE(all_unset(d, i)) << c.export_name << " " << capacity;
        }
        varnok_clear_last_error(h.ctx);
        EXPECT_EQ(c.copy(h.ctx, count, nullptr, nullptr), VARNOK_OK) << c.export_name;
        for (int capacity : {count, 8}) {
            EXPECT_EQ(c.copy(h.ctx, capacity, d, i), VARNOK_OK) << c.export_name;
            // exactly `count` entries, whatever the capacity
            for (int k = count; k < 8; ++k) {
                for (const auto& a : d) EXPECT_EQ(a[static_cast<std::size_t>(k)], kUnset);
                EXPECT_EQ(i[0][static_cast<std::size_t>(k)], kUnsetInt);
            }
        }
        EXPECT_EQ(h.error(), "") << c.export_name;
    }
    // a negative capacity is too small even for a kind with no element
    Handle empty;
    EXPECT_EQ(varnok_copy_svc_outputs(empty.ctx, nullptr, nullptr, -1),
              VARNOK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(empty.error(), "varnok_copy_svc_outputs: array too small");
}

TEST_F(SolvedNetwork, BulkCopiesMatchTheGettersByIndex) {
    double v[6], angle[6], p[6], q[6];
    ASSERT_EQ(varnok_copy_bus_voltages(h.ctx, v, angle, 6), VARNOK_OK);
    ASSERT_EQ(varnok_copy_bus_loads(h.ctx, p, q, 6), VARNOK_OK);
    for (int k = 0; k < 6; ++k) {
        double ev = 0, ea = 0, ep = 0, eq = 0;
        varnok_get_bus_info(h.ctx, k, &ev, &ea, nullptr, nullptr);
        varnok_get_bus_load(h.ctx, k, &ep, &eq);
        EXPECT_EQ(v[k], ev) << k;
        EXPECT_EQ(angle[k], ea) << k;
        EXPECT_EQ(p[k], ep) << k;
        EXPECT_EQ(q[k], eq) << k;
    }
    double pf[6], qf[6], pt[6], qt[6];
    int status[6];
    ASSERT_EQ(varnok_copy_branch_flows(h.ctx, pf, qf, pt, qt, 6), VARNOK_OK);
    ASSERT_EQ(varnok_copy_branch_status(h.ctx, status, 6), VARNOK_OK);
    for (int k = 0; k < 6; ++k) {
        const Flow f = flow_of(h.ctx, k);
        EXPECT_EQ(pf[k], f.pf) << k;
        EXPECT_EQ(qf[k], f.qf) << k;
        EXPECT_EQ(pt[k], f.pt) << k;
        EXPECT_EQ(qt[k], f.qt) << k;
        int es = kUnsetInt;
        varnok_get_branch_info(h.ctx, k, nullptr, nullptr, &es, nullptr, nullptr);
        EXPECT_EQ(status[k], es) << k;
    }
    double gp[2], gq[2];
    int gs[2];
    ASSERT_EQ(varnok_copy_generator_outputs(h.ctx, gp, gq, gs, 2), VARNOK_OK);
    for (int k = 0; k < 2; ++k) {
        double ep = 0, eq = 0;
        int es = kUnsetInt;
        varnok_get_generator_info(h.ctx, k, nullptr, &es, &ep, &eq, nullptr);
        EXPECT_EQ(gp[k], ep) << k;
        EXPECT_EQ(gq[k], eq) << k;
        EXPECT_EQ(gs[k], es) << k;
    }
    double sq[1];
    int ss[1];
    ASSERT_EQ(varnok_copy_svc_outputs(h.ctx, sq, ss, 1), VARNOK_OK);
    EXPECT_EQ(sq[0], 20.0);  // a fixed-Q compensator keeps its output
    EXPECT_EQ(ss[0], 1);
}

// ---- bus table -------------------------------------------------------------------------------

TEST(Queries, BusTableText) {
    Handle h("table.txt");
    const char* expected =
        "bus A V=1.05 angle=0 type=PV vnom_kv=400\n"
        "bus B V=1 angle=0 type=SLACK vnom_kv=225.5\n"
        "bus C V=0.987654 angle=-0 type=PQ vnom_kv=1e-05\n"
        "bus D V=1 angle=-1.23457e-05 type=PQ vnom_kv=123457\n"
        "bus E V=1 angle=3.14159 type=PQ vnom_kv=1.23457e+06\n";
    const char* text = varnok_get_output_text(h.ctx);
    EXPECT_STREQ(text, expected);
    // rebuilt on each call, the same text again
    EXPECT_STREQ(varnok_get_output_text(h.ctx), expected);
    EXPECT_EQ(h.error(), "");
}

TEST_F(SolvedNetwork, BusTableShowsPrunedBusesIsolated) {
    const std::string text = varnok_get_output_text(h.ctx);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size());  // every line ends in a line feed
    ASSERT_EQ(lines.size(), 6u);
    const std::string head = "bus N1 V=1.05 angle=", tail = " type=SLACK vnom_kv=400";
    EXPECT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
    ASSERT_GE(lines[0].size(), head.size() + tail.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - tail.size()), tail);
    EXPECT_EQ(lines[4], "bus N5 V=0 angle=0 type=ISOLATED vnom_kv=20");
    EXPECT_EQ(lines[5], "bus N5 V=0 angle=0 type=ISOLATED vnom_kv=20");
}

}  // namespace
