// The guards that produce the exports' common messages.
#include <gtest/gtest.h>

#include <cstring>

#include "api/Context.h"

namespace {

TEST(Guards, BadIndexNamesExportAndIndex) {
    VarnokContext ctx;
    EXPECT_EQ(bad_index(&ctx, "varnok_get_bus_name", -1), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(ctx.last_error, "varnok_get_bus_name: index out of range: -1");
    EXPECT_EQ(bad_index(&ctx, "varnok_x", 2147483647), VARNOK_ERR_OUT_OF_RANGE);
    EXPECT_EQ(ctx.last_error, "varnok_x: index out of range: 2147483647");
}

TEST(Guards, CopyNameCapacities) {
    VarnokContext ctx;
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);

    // the name's length alone does not fit: nothing is written
    EXPECT_EQ(copy_name(&ctx, "BUS1", buffer, 4), VARNOK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ctx.last_error, "name buffer too small for: BUS1");
    for (char c : buffer) EXPECT_EQ(c, 'x');

    // one more byte holds the terminating zero
    EXPECT_EQ(copy_name(&ctx, "BUS1", buffer, 5), VARNOK_OK);
    EXPECT_STREQ(buffer, "BUS1");
    EXPECT_EQ(buffer[5], 'x');

    for (int capacity : {0, -1}) {
        ctx.last_error.clear();
        EXPECT_EQ(copy_name(&ctx, "BUS1", buffer, capacity), VARNOK_ERR_NULL_ARG);
        EXPECT_EQ(ctx.last_error, "NULL or empty name buffer");
    }
    ctx.last_error.clear();
    EXPECT_EQ(copy_name(&ctx, "BUS1", nullptr, 8), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(ctx.last_error, "NULL or empty name buffer");

    EXPECT_EQ(copy_name(&ctx, "", buffer, 1), VARNOK_OK);
    EXPECT_STREQ(buffer, "");
}

TEST(Guards, CheckModifyArgs) {
    VarnokContext ctx;
    EXPECT_EQ(check_modify_args(nullptr, "x", "varnok_trip_branch"), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(check_modify_args(&ctx, "x", "varnok_trip_branch"), VARNOK_ERR_NOT_LOADED);
    EXPECT_EQ(ctx.last_error, "varnok_trip_branch: no network loaded");
    ctx.loaded = true;
    EXPECT_EQ(check_modify_args(&ctx, nullptr, "varnok_trip_branch"), VARNOK_ERR_NULL_ARG);
    EXPECT_EQ(ctx.last_error, "varnok_trip_branch: NULL argument");
    ctx.last_error.clear();
    EXPECT_EQ(check_modify_args(&ctx, "x", "varnok_trip_branch"), VARNOK_OK);
    EXPECT_EQ(ctx.last_error, "");
}

}  // namespace
