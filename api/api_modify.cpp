// The change exports and applying the changes. Each change is checked, looked up and refused
// here first, then handed unchanged (MW, Mvar, pu) to the handle's pending modification engine,
// which writes it into the network at once and keeps the active-power deficit.
#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>

#include "api/Context.h"
#include "network/NumberText.h"

namespace {

using varnok::ModifyEngine;
using varnok::Network;

// How an export finds its element, and the kind named in its "unknown" text.
struct ElementKind {
    int (Network::*find)(const std::string&) const;
    const char* unknown;  // ": unknown <kind>: "
};

const ElementKind kBranch{&Network::find_branch, ": unknown branch: "};
const ElementKind kGenerator{&Network::find_gen, ": unknown generator: "};
const ElementKind kSvc{&Network::find_svc, ": unknown SVC: "};
const ElementKind kBus{&Network::find_bus, ": unknown bus: "};
const ElementKind kZone{&Network::find_zone, ": unknown zone: "};

// What an export does with the engine's text.
enum class EngineText {
    dropped,   // the export's own tests already refused everything the engine would
    warning,   // stored as it comes; the change stands and the export returns 0
    refusal,   // stored after "<export>:"; the export returns -1
};

// The export's own refusal of element `index`: the reason after the export's name, or null.
using Refusal = const char* (*)(const Network&, int index);

const char* never(const Network&, int) { return nullptr; }

const char* branch_connected(const Network& n, int b) {
    return n.branches[b].status == 1 ? ": already connected: " : nullptr;
}
const char* generator_connected(const Network& n, int g) {
    return n.generators[g].status == 1 ? ": already connected: " : nullptr;
}
const char* svc_connected(const Network& n, int s) {
    return n.svcs[s].status == 1 ? ": already connected: " : nullptr;
}
const char* slack_generator(const Network& n, int g) {
    return n.slack_bus >= 0 && n.generators[g].bus == n.slack_bus
               ? ": slack generator must not be tripped: "
               : nullptr;
}
const char* generator_out_of_operation(const Network& n, int g) {
    return n.generators[g].status != 1 ? ": generator not in operation: " : nullptr;
}

ModifyEngine& pending_engine(VarnokContext* ctx) {
    if (!ctx->pending_changes)
        ctx->pending_changes =
            std::make_unique<ModifyEngine>(ctx->network, ctx->solver, ctx->params);
    return *ctx->pending_changes;
}

// One change export: arguments, lookup, refusal, finite values, then the engine. Steps before
// the engine leave the pending changes as they were.
template <typename Change>
int change_element(VarnokContext* ctx, const char* export_name, const char* name,
                   const ElementKind& kind, Refusal refused, std::initializer_list<double> values,
                   EngineText use, Change change) {
    const int status = check_modify_args(ctx, name, export_name);
    if (status != VARNOK_OK) return status;
    return guarded(ctx, export_name, VARNOK_ERR_FAILED, [&] {
        const std::string element(name);
        const int index = (ctx->network.*kind.find)(element);
        if (index < 0) {
            set_error(ctx, export_name, kind.unknown, element);
            return VARNOK_ERR_NOT_FOUND;
        }
        if (const char* reason = refused(ctx->network, index)) {
            set_error(ctx, export_name, reason, element);
            return VARNOK_ERR_FAILED;
        }
        // A NaN or an infinity would poison every later solve while the host is told that the
        // change succeeded.
        for (double value : values) {
            if (!std::isfinite(value)) {
                set_error(ctx, export_name, ": value is not a finite number: ",
                          varnok::format_default(value));
                return VARNOK_ERR_FAILED;
            }
        }
        const std::string message = change(pending_engine(ctx), element);
        if (message.empty() || use == EngineText::dropped) return VARNOK_OK;
        if (use == EngineText::warning) {
            ctx->last_error = message;
            return VARNOK_OK;
        }
        ctx->last_error = std::string(export_name) + ":" + message;
        return VARNOK_ERR_FAILED;
    });
}

}  // namespace

extern "C" {

int varnok_trip_branch(VarnokContext* ctx, const char* branch) {
    return change_element(ctx, "varnok_trip_branch", branch, kBranch, never, {},
                          EngineText::dropped,
                          [](ModifyEngine& e, const std::string& n) { return e.trip_branch(n); });
}

int varnok_connect_branch(VarnokContext* ctx, const char* branch) {
    return change_element(ctx, "varnok_connect_branch", branch, kBranch, branch_connected, {},
                          EngineText::dropped, [](ModifyEngine& e, const std::string& n) {
                              return e.connect_branch(n);
                          });
}

int varnok_trip_generator(VarnokContext* ctx, const char* generator) {
    return change_element(ctx, "varnok_trip_generator", generator, kGenerator, slack_generator,
                          {}, EngineText::dropped, [](ModifyEngine& e, const std::string& n) {
                              return e.trip_generator(n);
                          });
}

int varnok_connect_generator(VarnokContext* ctx, const char* generator) {
    return change_element(ctx, "varnok_connect_generator", generator, kGenerator,
                          generator_connected, {}, EngineText::dropped,
                          [](ModifyEngine& e, const std::string& n) {
                              return e.connect_generator(n);
                          });
}

int varnok_trip_svc(VarnokContext* ctx, const char* svc) {
    return change_element(ctx, "varnok_trip_svc", svc, kSvc, never, {}, EngineText::dropped,
                          [](ModifyEngine& e, const std::string& n) { return e.trip_svc(n); });
}

int varnok_connect_svc(VarnokContext* ctx, const char* svc) {
    return change_element(ctx, "varnok_connect_svc", svc, kSvc, svc_connected, {},
                          EngineText::dropped,
                          [](ModifyEngine& e, const std::string& n) { return e.connect_svc(n); });
}

int varnok_set_generator_voltage(VarnokContext* ctx, const char* generator, double v_set_pu) {
    return change_element(ctx, "varnok_set_generator_voltage", generator, kGenerator, never,
                          {v_set_pu}, EngineText::dropped,
                          [&](ModifyEngine& e, const std::string& n) {
                              return e.set_generator_voltage(n, v_set_pu);
                          });
}

int varnok_set_generator_pq(VarnokContext* ctx, const char* generator, double q_mvar) {
    return change_element(ctx, "varnok_set_generator_pq", generator, kGenerator, never, {q_mvar},
                          EngineText::dropped, [&](ModifyEngine& e, const std::string& n) {
                              return e.switch_generator_to_pq(n, q_mvar);
                          });
}

int varnok_change_generation(VarnokContext* ctx, const char* generator, double delta_p_mw) {
    return change_element(ctx, "varnok_change_generation", generator, kGenerator,
                          generator_out_of_operation, {delta_p_mw}, EngineText::warning,
                          [&](ModifyEngine& e, const std::string& n) {
                              return e.gen_increase_bus(n, delta_p_mw);
                          });
}

int varnok_change_load(VarnokContext* ctx, const char* bus, double delta_p_mw,
                       double delta_q_mvar) {
    return change_element(ctx, "varnok_change_load", bus, kBus, never,
                          {delta_p_mw, delta_q_mvar}, EngineText::dropped,
                          [&](ModifyEngine& e, const std::string& n) {
                              return e.demand_increase_bus(n, delta_p_mw, delta_q_mvar);
                          });
}

int varnok_change_shunt(VarnokContext* ctx, const char* bus, double delta_b_mvar) {
    return change_element(ctx, "varnok_change_shunt", bus, kBus, never, {delta_b_mvar},
                          EngineText::dropped, [&](ModifyEngine& e, const std::string& n) {
                              return e.change_shunt(n, delta_b_mvar);
                          });
}

int varnok_change_zone_load(VarnokContext* ctx, const char* zone, double delta_p_mw,
                            double delta_q_mvar) {
    return change_element(ctx, "varnok_change_zone_load", zone, kZone, never,
                          {delta_p_mw, delta_q_mvar}, EngineText::refusal,
                          [&](ModifyEngine& e, const std::string& n) {
                              return e.demand_increase_zone(n, delta_p_mw, delta_q_mvar);
                          });
}

int varnok_change_zone_generation(VarnokContext* ctx, const char* zone, double delta_p_mw) {
    return change_element(ctx, "varnok_change_zone_generation", zone, kZone, never,
                          {delta_p_mw}, EngineText::warning,
                          [&](ModifyEngine& e, const std::string& n) {
                              return e.gen_increase_zone(n, delta_p_mw);
                          });
}

int varnok_apply_changes(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!ctx->loaded) {
        set_error(ctx, "varnok_apply_changes: no network loaded");
        return VARNOK_ERR_NOT_LOADED;
    }
    return guarded(ctx, "varnok_apply_changes", VARNOK_ERR_FAILED, [ctx] {
        // Without earlier changes this still prunes, spreads what the islands took and solves.
        const ModifyEngine::FinalizeResult applied = pending_engine(ctx).finalize();
        varnok::SolveResult& last = ctx->last_result;
        last.iterations = applied.iterations;
        last.max_p_mismatch = applied.max_p_mismatch;
        last.max_q_mismatch = applied.max_q_mismatch;
        last.converged = applied.converged;
        last.status = applied.status;
        ctx->pending_changes.reset();
        if (!applied.message.empty()) ctx->last_error = applied.message;
        return applied.converged ? VARNOK_OK : VARNOK_NOT_CONVERGED;
    });
}

}  // extern "C"
