// Loading a network file into a handle, and resetting the handle to the state loaded.
#include <string>

#include "api/Context.h"
#include "network/InputParser.h"

namespace {

// A handle that already held a network (a second load, or a retry after a failed one) starts
// over as created, so that record indexes, the snapshot, the Jacobian pattern and the last
// result all describe the file read now. Options are kept; the file's "$" records apply on top.
// Pending changes go too, also when the read then fails: their deficit belongs to the network
// just emptied.
void start_empty(VarnokContext* ctx) {
    ctx->pending_changes.reset();
    ctx->network = varnok::Network{};
    ctx->solver.discard();
    ctx->last_result = varnok::SolveResult{};
}

}  // namespace

extern "C" {

int varnok_load_file(VarnokContext* ctx, const char* path) {
    if (!ctx || !path) {
        set_error(ctx, "varnok_load_file: NULL handle or filepath");
        return VARNOK_ERR_NULL_ARG;
    }
    return guarded(ctx, "varnok_load_file", VARNOK_ERR_PARSE, VARNOK_ERR_FAILED, [&] {
        if (!readable_file(path)) {
            set_error(ctx, "varnok_load_file: cannot open file: ", path);
            return VARNOK_ERR_IO;
        }
        start_empty(ctx);
        const std::string file(path);
        varnok::InputParser().load(file, ctx->network, ctx->params);
        ctx->network.save_initial_snapshot();
        // Only a successful load drops the results of the last contingency run.
        ctx->contingency_results.clear();
        ctx->loaded = true;
        return VARNOK_OK;
    });
}

int varnok_reset(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!ctx->loaded) {
        set_error(ctx, "varnok_reset: no network loaded");
        return VARNOK_ERR_NOT_LOADED;
    }
    return guarded(ctx, "varnok_reset", VARNOK_ERR_FAILED, [&] {
        ctx->network.reset_to_initial();
        // The changes that the pending engine made are those just undone; its deficit goes too.
        ctx->pending_changes.reset();
        ctx->last_result = varnok::SolveResult{};
        return VARNOK_OK;
    });
}

}  // extern "C"
