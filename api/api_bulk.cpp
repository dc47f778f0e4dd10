// Bulk copies of the C interface (whole arrays of voltages, loads, flows, statuses and outputs in
// one call) and the plain-text bus table.
//
// Entry i of an array belongs to element i. Powers are scaled to MW or Mvar with option 0 as it
// is at the time of the call. Only the branch-flow copy has a handler of its own; the others
// cannot throw, and the bus table can fail only by running out of memory.
#include <locale>
#include <sstream>
#include <string>

#include "api/Context.h"
#include "powerflow/BranchFlow.h"

namespace {

template <typename Value, typename Source>
void put(Value* array, std::size_t i, Source value) {
    if (array) array[i] = static_cast<Value>(value);
}

// "<export>: array too small" and -8 when the caller's arrays cannot hold
// one entry per element; a negative capacity never can.
bool too_small(VarnokContext* ctx, const char* export_name, int capacity, std::size_t count) {
    if (capacity >= 0 && static_cast<std::size_t>(capacity) >= count) return false;
    set_error(ctx, export_name, ": array too small");
    return true;
}

const char* type_word(int type) {
    switch (type) {
        case varnok::PV: return "PV";
        case varnok::SLACK: return "SLACK";
        case varnok::ISOLATED: return "ISOLATED";
        default: return "PQ";
    }
}

// One line per bus. Doubles as a default output stream writes them (%g with six significant
// digits); the classic locale keeps the decimal point whatever the host's global locale is.
std::string bus_table(const varnok::Network& network) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    for (const varnok::Bus& bus : network.buses) {
        out << "bus " << bus.name << " V=" << bus.v << " angle=" << bus.angle
            << " type=" << type_word(bus.type) << " vnom_kv=" << bus.vnom_kv << "\n";
    }
    return out.str();
}

}  // namespace

extern "C" {

int varnok_copy_bus_voltages(VarnokContext* ctx, double* v, double* angle, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& buses = ctx->network.buses;
    if (too_small(ctx, "varnok_copy_bus_voltages", capacity, buses.size()))
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    for (std::size_t i = 0; i < buses.size(); ++i) {
        put(v, i, buses[i].v);
        put(angle, i, buses[i].angle);
    }
    return VARNOK_OK;
}

int varnok_copy_bus_loads(VarnokContext* ctx, double* p_mw, double* q_mvar, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& buses = ctx->network.buses;
    if (too_small(ctx, "varnok_copy_bus_loads", capacity, buses.size()))
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    const double s = ctx->params.sbase;
    for (std::size_t i = 0; i < buses.size(); ++i) {
        put(p_mw, i, buses[i].p_load * s);
        put(q_mvar, i, buses[i].q_load * s);
    }
    return VARNOK_OK;
}

int varnok_copy_branch_flows(VarnokContext* ctx, double* p_from_mw, double* q_from_mvar,
                             double* p_to_mw, double* q_to_mvar, int capacity) {
    static constexpr const char* kName = "varnok_copy_branch_flows";
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const std::size_t count = ctx->network.branches.size();
    if (too_small(ctx, kName, capacity, count)) return VARNOK_ERR_BUFFER_TOO_SMALL;
    // each branch's entries are written before the next flow is computed, so an exception
    // leaves the earlier branches' entries in place
    return guarded(ctx, kName, VARNOK_ERR_FAILED, [&] {
        const double s = ctx->params.sbase;
        for (std::size_t i = 0; i < count; ++i) {
            const varnok::BranchFlow flow =
                varnok::compute_branch_flow(ctx->network, static_cast<int>(i));
            put(p_from_mw, i, flow.p_from * s);
            put(q_from_mvar, i, flow.q_from * s);
            put(p_to_mw, i, flow.p_to * s);
            put(q_to_mvar, i, flow.q_to * s);
        }
        return static_cast<int>(VARNOK_OK);
    });
}

int varnok_copy_branch_status(VarnokContext* ctx, int* status, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& branches = ctx->network.branches;
    if (too_small(ctx, "varnok_copy_branch_status", capacity, branches.size()))
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    for (std::size_t i = 0; i < branches.size(); ++i) put(status, i, branches[i].status);
    return VARNOK_OK;
}

int varnok_copy_generator_outputs(VarnokContext* ctx, double* p_mw, double* q_mvar, int* status,
                                  int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& gens = ctx->network.generators;
    if (too_small(ctx, "varnok_copy_generator_outputs", capacity, gens.size()))
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    const double s = ctx->params.sbase;
    for (std::size_t i = 0; i < gens.size(); ++i) {
        put(p_mw, i, gens[i].p * s);
        put(q_mvar, i, gens[i].q * s);
        put(status, i, gens[i].status);
    }
    return VARNOK_OK;
}

int varnok_copy_svc_outputs(VarnokContext* ctx, double* q_mvar, int* status, int capacity) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    const auto& svcs = ctx->network.svcs;
    if (too_small(ctx, "varnok_copy_svc_outputs", capacity, svcs.size()))
        return VARNOK_ERR_BUFFER_TOO_SMALL;
    const double s = ctx->params.sbase;
    for (std::size_t i = 0; i < svcs.size(); ++i) {
        put(q_mvar, i, svcs[i].q * s);
        put(status, i, svcs[i].status);
    }
    return VARNOK_OK;
}

const char* varnok_get_output_text(VarnokContext* ctx) {
    if (!ctx) return "";
    // Out of memory while building: an empty table rather than the stale one, with the reason
    // in the last error.
    guarded(ctx, "varnok_get_output_text", VARNOK_ERR_FAILED, [&] {
        ctx->output_text.clear();
        ctx->output_text = bus_table(ctx->network);
        return static_cast<int>(VARNOK_OK);
    });
    return ctx->output_text.c_str();
}

}  // extern "C"
