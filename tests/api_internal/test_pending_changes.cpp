// The pending modification engine that the change exports keep in the handle: made by the first
// change that passes the exports' own tests, kept while changes accumulate, dropped by applying.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "api/Context.h"
#include "network/InputParser.h"

namespace {

// A handle loaded with grid.txt as varnok_load_file would leave it.
struct LoadedHandle {
    VarnokContext ctx;
    LoadedHandle() {
        varnok::InputParser{}.load(std::string(VARNOK_TEST_DATA_DIR) + "/modify/grid.txt",
                                   ctx.network, ctx.params);
        ctx.network.save_initial_snapshot();
        ctx.loaded = true;
    }
};

TEST(PendingChanges, FailedCallsMakeNoEngine) {
    VarnokContext unloaded;
    EXPECT_EQ(varnok_change_load(&unloaded, "B", 1.0, 0.0), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(unloaded.pending_changes, nullptr);

    LoadedHandle h;
    VarnokContext* ctx = &h.ctx;
    EXPECT_EQ(varnok_trip_branch(ctx, nullptr), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(varnok_trip_branch(ctx, "X"), VARNOK_ERR_NOT_FOUND);
    EXPECT_EQ(varnok_connect_branch(ctx, "L_SA"), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_trip_generator(ctx, "GS"), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_connect_generator(ctx, "GA"), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_connect_svc(ctx, "SV"), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_change_generation(ctx, "GD", 1.0), VARNOK_ERR_FAILED);
    EXPECT_EQ(varnok_change_load(ctx, "B", NAN, 0.0), VARNOK_ERR_FAILED);
    EXPECT_EQ(ctx->pending_changes, nullptr);
}

TEST(PendingChanges, MadeOnceKeptUntilApplied) {
    LoadedHandle h;
    VarnokContext* ctx = &h.ctx;
    ASSERT_EQ(varnok_change_load(ctx, "B", 10.0, 0.0), VARNOK_OK);
    const varnok::ModifyEngine* engine = ctx->pending_changes.get();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(&engine->network, &ctx->network);
    EXPECT_EQ(&engine->solver, &ctx->solver);
    EXPECT_EQ(&engine->params, &ctx->params);

    ASSERT_EQ(varnok_trip_generator(ctx, "GA"), VARNOK_OK);
    EXPECT_EQ(varnok_connect_branch(ctx, "L_SA"), VARNOK_ERR_FAILED);  // refused: engine stays
    EXPECT_EQ(ctx->pending_changes.get(), engine);
    EXPECT_EQ(engine->delta_p, 10.0 / 100.0 + 50.0 / 100.0);

    EXPECT_EQ(varnok_apply_changes(ctx), VARNOK_OK);
    EXPECT_EQ(ctx->pending_changes, nullptr);
    // without changes the apply makes its own engine and drops it again
    EXPECT_EQ(varnok_apply_changes(ctx), VARNOK_OK);
    EXPECT_EQ(ctx->pending_changes, nullptr);
}

TEST(PendingChanges, ZoneLoadRefusedByTheEngineKeepsTheEngineItMade) {
    LoadedHandle h;
    EXPECT_EQ(varnok_change_zone_load(&h.ctx, "ZZ", 10.0, 0.0), VARNOK_ERR_FAILED);
    ASSERT_NE(h.ctx.pending_changes, nullptr);
    EXPECT_EQ(h.ctx.pending_changes->delta_p, 0.0);
}

}  // namespace
