// Element queries of the C interface: counts, names, lookups, values by name and by index, the
// zone of a bus and the flow across a cut. They only read the network.
//
// Powers leave here in MW, Mvar or MVA on option 0 (ctx->params.sbase) as it is at the time of
// the call, never on Network::sbase: the network's per-unit values stay those converted at load.
// Flows are positive where power leaves the bus at that end into the branch.
//
// Only the flow exports have a handler of their own (an exception there is -1 with its text).
// The others can fail only by running out of memory while building a name key or a text; they
// run under the same boundary so that nothing reaches the host, and answer -1 then.
#include <string>
#include <vector>

#include "api/Context.h"
#include "powerflow/BranchFlow.h"

namespace {

using varnok::BranchFlow;
using varnok::Network;

bool in_range(int index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

template <typename Value, typename Source>
void put(Value* out, Source value) {
    if (out) *out = static_cast<Value>(value);
}

template <typename Elements>
int count_of(VarnokContext* ctx, const Elements& (*elements)(const Network&)) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    return static_cast<int>(elements(ctx->network).size());
}

const std::vector<varnok::Bus>& buses(const Network& n) { return n.buses; }
const std::vector<varnok::Branch>& branches(const Network& n) { return n.branches; }
const std::vector<varnok::Generator>& generators(const Network& n) { return n.generators; }
const std::vector<varnok::SVC>& svcs(const Network& n) { return n.svcs; }
const std::vector<varnok::Zone>& zones(const Network& n) { return n.zones; }
const std::vector<varnok::Cut>& cuts(const Network& n) { return n.cuts; }

// The handle, then the index, then the shared buffer guard.
template <typename Elements>
int name_at(VarnokContext* ctx, const Elements& (*elements)(const Network&),
            const char* export_name, int index, char* buffer, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& list = elements(ctx->network);
    if (!in_range(index, list.size())) return bad_index(ctx, export_name, index);
    return copy_name(ctx, list[static_cast<std::size_t>(index)].name, buffer, capacity);
}

using Finder = int (Network::*)(const std::string&) const;

// A lookup stores no text for a null name, and "<export>: unknown <what>: <name>" for a miss.
int find_named(VarnokContext* ctx, const char* name, Finder find, const char* export_name,
               const char* what) {
    if (!ctx || !name) return VARNOK_ERR_NULL_ARG;
    return guarded(ctx, export_name, VARNOK_ERR_FAILED, [&] {
        const int index = (ctx->network.*find)(std::string(name));
        if (index >= 0) return index;
        set_error(ctx, export_name, ": unknown ", what, ": ", name);
        return static_cast<int>(VARNOK_ERR_NOT_FOUND);
    });
}

// Zone of a bus: its own link, which the reader sets for every bus a zone takes (the first zone
// that takes it); -1 for none.
int zone_of(const Network& network, int bus) {
    const int linked = network.buses[static_cast<std::size_t>(bus)].zone;
    return in_range(linked, network.zones.size()) ? linked : -1;
}

// Signed sum over the members of the flow at each member's end, each term scaled to MW or Mvar
// by `sbase` before it is added. A member whose branch index is out of range adds nothing.
void cut_flow(const Network& network, const varnok::Cut& cut, double sbase, double& p,
              double& q) {
    p = 0.0;
    q = 0.0;
    for (const varnok::CutBranchMember& member : cut.members) {
        if (!in_range(member.branch, network.branches.size())) continue;
        const BranchFlow flow = varnok::compute_branch_flow(network, member.branch);
        const bool at_from =
            member.bus == network.branches[static_cast<std::size_t>(member.branch)].from;
        p += (at_from ? flow.p_from : flow.p_to) * member.sign * sbase;
        q += (at_from ? flow.q_from : flow.q_to) * member.sign * sbase;
    }
}

}  // namespace

extern "C" {

// ---- Counts -------------------------------------------------------------------------------

int varnok_get_bus_count(VarnokContext* ctx) { return count_of(ctx, buses); }
int varnok_get_branch_count(VarnokContext* ctx) { return count_of(ctx, branches); }
int varnok_get_generator_count(VarnokContext* ctx) { return count_of(ctx, generators); }
int varnok_get_svc_count(VarnokContext* ctx) { return count_of(ctx, svcs); }
int varnok_get_zone_count(VarnokContext* ctx) { return count_of(ctx, zones); }
int varnok_get_cut_count(VarnokContext* ctx) { return count_of(ctx, cuts); }

// ---- Names by index -----------------------------------------------------------------------

int varnok_get_bus_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, buses, "varnok_get_bus_name", index, buffer, capacity);
}
int varnok_get_branch_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, branches, "varnok_get_branch_name", index, buffer, capacity);
}
int varnok_get_generator_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, generators, "varnok_get_generator_name", index, buffer, capacity);
}
int varnok_get_svc_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, svcs, "varnok_get_svc_name", index, buffer, capacity);
}
int varnok_get_zone_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, zones, "varnok_get_zone_name", index, buffer, capacity);
}
int varnok_get_cut_name(VarnokContext* ctx, int index, char* buffer, int capacity) {
    return name_at(ctx, cuts, "varnok_get_cut_name", index, buffer, capacity);
}

// ---- Lookups by name ----------------------------------------------------------------------

int varnok_find_bus(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_bus, "varnok_find_bus", "bus");
}
int varnok_find_branch(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_branch, "varnok_find_branch", "branch");
}
int varnok_find_generator(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_gen, "varnok_find_generator", "generator");
}
int varnok_find_svc(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_svc, "varnok_find_svc", "SVC");
}
int varnok_find_zone(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_zone, "varnok_find_zone", "zone");
}
int varnok_find_cut(VarnokContext* ctx, const char* name) {
    return find_named(ctx, name, &Network::find_cut, "varnok_find_cut", "cut");
}

// ---- Values by name -----------------------------------------------------------------------

int varnok_get_bus_voltage(VarnokContext* ctx, const char* name, double* magnitude,
                           double* angle) {
    static constexpr const char* kName = "varnok_get_bus_voltage";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!name || !magnitude || !angle) {
        set_error(ctx, kName, ": NULL argument");
        return VARNOK_ERR_NULL_ARG;
    }
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&] {
        const int bus = ctx->network.find_bus(std::string(name));
        if (bus < 0) {
            set_error(ctx, kName, ": unknown bus: ", name);
            return static_cast<int>(VARNOK_ERR_NOT_FOUND);
        }
        const varnok::Bus& b = ctx->network.buses[static_cast<std::size_t>(bus)];
        *magnitude = b.v;
        *angle = b.angle;
        return static_cast<int>(VARNOK_OK);
    });
}

int varnok_get_branch_flow(VarnokContext* ctx, const char* name, double* p_mw, double* q_mvar) {
    static constexpr const char* kName = "varnok_get_branch_flow";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!name || !p_mw || !q_mvar) {
        set_error(ctx, kName, ": NULL argument");
        return VARNOK_ERR_NULL_ARG;
    }
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&] {
        const int branch = ctx->network.find_branch(std::string(name));
        if (branch < 0) {
            set_error(ctx, kName, ": unknown branch: ", name);
            return static_cast<int>(VARNOK_ERR_NOT_FOUND);
        }
        const BranchFlow flow = varnok::compute_branch_flow(ctx->network, branch);
        const double s = ctx->params.sbase;
        *p_mw = flow.p_from * s;
        *q_mvar = flow.q_from * s;
        return static_cast<int>(VARNOK_OK);
    });
}

// ---- Values by index ----------------------------------------------------------------------

int varnok_get_bus_info(VarnokContext* ctx, int index, double* v, double* angle, int* type,
                        double* vnom_kv) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.buses.size()))
        return bad_index(ctx, "varnok_get_bus_info", index);
    const varnok::Bus& b = ctx->network.buses[static_cast<std::size_t>(index)];
    put(v, b.v);
    put(angle, b.angle);
    put(type, b.type);
    put(vnom_kv, b.vnom_kv);
    return VARNOK_OK;
}

int varnok_get_bus_load(VarnokContext* ctx, int index, double* p_mw, double* q_mvar) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.buses.size()))
        return bad_index(ctx, "varnok_get_bus_load", index);
    const varnok::Bus& b = ctx->network.buses[static_cast<std::size_t>(index)];
    const double s = ctx->params.sbase;
    put(p_mw, b.p_load * s);
    put(q_mvar, b.q_load * s);
    return VARNOK_OK;
}

int varnok_get_bus_shunt(VarnokContext* ctx, int index, double* b_mvar, double* q_mvar) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.buses.size()))
        return bad_index(ctx, "varnok_get_bus_shunt", index);
    const varnok::Bus& b = ctx->network.buses[static_cast<std::size_t>(index)];
    const double s = ctx->params.sbase;
    // the susceptance in Mvar is what it injects at a voltage of 1 pu
    put(b_mvar, b.b_shunt * s);
    put(q_mvar, b.q_shunt * s);
    return VARNOK_OK;
}

int varnok_get_branch_info(VarnokContext* ctx, int index, int* from_bus, int* to_bus,
                           int* status, int* is_transformer, double* rating_mva) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.branches.size()))
        return bad_index(ctx, "varnok_get_branch_info", index);
    const varnok::Branch& br = ctx->network.branches[static_cast<std::size_t>(index)];
    put(from_bus, br.from);
    put(to_bus, br.to);
    put(status, br.status);
    put(is_transformer, br.is_transformer ? 1 : 0);
    put(rating_mva, br.rating * ctx->params.sbase);
    return VARNOK_OK;
}

int varnok_get_branch_flow_by_index(VarnokContext* ctx, int index, double* p_from_mw,
                                    double* q_from_mvar, double* p_to_mw, double* q_to_mvar) {
    static constexpr const char* kName = "varnok_get_branch_flow_by_index";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.branches.size())) return bad_index(ctx, kName, index);
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&] {
        const BranchFlow flow = varnok::compute_branch_flow(ctx->network, index);
        const double s = ctx->params.sbase;
        put(p_from_mw, flow.p_from * s);
        put(q_from_mvar, flow.q_from * s);
        put(p_to_mw, flow.p_to * s);
        put(q_to_mvar, flow.q_to * s);
        return static_cast<int>(VARNOK_OK);
    });
}

int varnok_get_generator_info(VarnokContext* ctx, int index, int* bus, int* status,
                              double* p_mw, double* q_mvar, double* v_set) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.generators.size()))
        return bad_index(ctx, "varnok_get_generator_info", index);
    const varnok::Generator& g = ctx->network.generators[static_cast<std::size_t>(index)];
    const double s = ctx->params.sbase;
    put(bus, g.bus);
    put(status, g.status);
    put(p_mw, g.p * s);
    put(q_mvar, g.q * s);
    put(v_set, g.v_set);
    return VARNOK_OK;
}

int varnok_get_generator_limits(VarnokContext* ctx, int index, double* p_min_mw,
                                double* p_max_mw, double* q_min_mvar, double* q_max_mvar,
                                int* has_p_limits) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.generators.size()))
        return bad_index(ctx, "varnok_get_generator_limits", index);
    const varnok::Generator& g = ctx->network.generators[static_cast<std::size_t>(index)];
    const double s = ctx->params.sbase;
    put(p_min_mw, g.p_min * s);
    put(p_max_mw, g.p_max * s);
    put(q_min_mvar, g.q_min * s);
    put(q_max_mvar, g.q_max * s);
    put(has_p_limits, g.has_p_limits ? 1 : 0);
    return VARNOK_OK;
}

int varnok_get_svc_info(VarnokContext* ctx, int index, int* bus, int* status, double* q_mvar,
                        double* v_set, int* mode) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.svcs.size()))
        return bad_index(ctx, "varnok_get_svc_info", index);
    const varnok::SVC& c = ctx->network.svcs[static_cast<std::size_t>(index)];
    put(bus, c.bus);
    put(status, c.status);
    put(q_mvar, c.q * ctx->params.sbase);
    put(v_set, c.v_set);
    put(mode, c.mode);
    return VARNOK_OK;
}

int varnok_get_cut_flow(VarnokContext* ctx, int index, double* p_mw, double* q_mvar) {
    static constexpr const char* kName = "varnok_get_cut_flow";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.cuts.size())) return bad_index(ctx, kName, index);
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&] {
        double p = 0.0;
        double q = 0.0;
        cut_flow(ctx->network, ctx->network.cuts[static_cast<std::size_t>(index)],
                 ctx->params.sbase, p, q);
        put(p_mw, p);
        put(q_mvar, q);
        return static_cast<int>(VARNOK_OK);
    });
}

int varnok_get_bus_zone(VarnokContext* ctx, int index) {
    static constexpr const char* kName = "varnok_get_bus_zone";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!in_range(index, ctx->network.buses.size())) return bad_index(ctx, kName, index);
    const int zone = zone_of(ctx->network, index);
    if (zone >= 0) return zone;
    set_error(ctx, kName, ": bus belongs to no zone");
    return VARNOK_ERR_NOT_FOUND;
}

}  // extern "C"
