// Writing the reports of the network held in a handle. None of them solves: each writes the
// state that the network holds at the time of the call.
#include "api/Context.h"
#include "writers/DumpWriter.h"
#include "writers/VoltRatWriter.h"

extern "C" {

int varnok_write_dump(VarnokContext* ctx, const char* path) {
    if (const int status = check_modify_args(ctx, path, "varnok_write_dump")) return status;
    return guarded(ctx, "varnok_write_dump", VARNOK_ERR_IO, [&] {
        varnok::DumpWriter().dump(ctx->network, path);
        return VARNOK_OK;
    });
}

int varnok_write_voltrat(VarnokContext* ctx, const char* path) {
    if (const int status = check_modify_args(ctx, path, "varnok_write_voltrat")) return status;
    return guarded(ctx, "varnok_write_voltrat", VARNOK_ERR_IO, [&] {
        varnok::VoltRatWriter().write(ctx->network, path);
        return VARNOK_OK;
    });
}

}  // extern "C"
