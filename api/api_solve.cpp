// Solving and the solver results of the last solve.
#include "api/Context.h"

extern "C" {

int varnok_solve(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (!ctx->loaded) {
        set_error(ctx, "varnok_solve: no network loaded");
        return VARNOK_ERR_NOT_LOADED;
    }
    return guarded(ctx, "varnok_solve", VARNOK_ERR_FAILED, [ctx] {
        ctx->network.prune_islands(nullptr, nullptr);
        ctx->last_result = ctx->solver.solve(ctx->network, ctx->params, nullptr, {}, {});
        // outputs of the voltage-controlling units and the slack generator, converged or not
        ctx->solver.compute_injections(ctx->network, ctx->params);
        return ctx->last_result.converged ? VARNOK_OK : VARNOK_NOT_CONVERGED;
    });
}

int varnok_get_convergence_status(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    return ctx->last_result.converged ? VARNOK_OK : VARNOK_NOT_CONVERGED;
}

int varnok_get_iteration_count(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    return ctx->last_result.iterations;
}

int varnok_get_max_mismatch(VarnokContext* ctx, double* max_p_mw, double* max_q_mvar) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    if (max_p_mw) *max_p_mw = ctx->last_result.max_p_mismatch;
    if (max_q_mvar) *max_q_mvar = ctx->last_result.max_q_mismatch;
    return VARNOK_OK;
}

int varnok_get_solver_status(VarnokContext* ctx) {
    if (!ctx) return VARNOK_ERR_NULL_ARG;
    return ctx->last_result.status;
}

}  // extern "C"
