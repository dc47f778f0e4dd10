// Writing the reports of the network held in a handle. None of them solves: each writes the
// state that the network holds at the time of the call.
#include <string>

#include "api/Context.h"
#include "writers/DiagramRenderer.h"
#include "writers/DumpWriter.h"
#include "writers/MatlabExporter.h"
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

int varnok_write_matlab(VarnokContext* ctx, const char* path) {
    if (const int status = check_modify_args(ctx, path, "varnok_write_matlab")) return status;
    return guarded(ctx, "varnok_write_matlab", VARNOK_ERR_IO, [&] {
        varnok::MatlabExporter().write(ctx->network, ctx->params, path);
        return VARNOK_OK;
    });
}

int varnok_write_diagram(VarnokContext* ctx, const char* template_path, const char* output_path) {
    if (const int status = check_modify_args(ctx, template_path, "varnok_write_diagram"))
        return status;
    if (!output_path) {
        set_error(ctx, "varnok_write_diagram: NULL output path");
        return VARNOK_ERR_NULL_ARG;
    }
    return guarded(ctx, "varnok_write_diagram", VARNOK_ERR_IO, [&] {
        varnok::DiagramRenderer().render(ctx->network, ctx->params, template_path, output_path);
        return VARNOK_OK;
    });
}

}  // extern "C"
