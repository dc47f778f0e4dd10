// Report exports: each writes one file from the handle's network as it stands, without solving.
#include <string>

#include "api/Context.h"
#include "writers/DiagramRenderer.h"
#include "writers/MatlabExporter.h"

extern "C" {

int varnok_write_matlab(VarnokContext* ctx, const char* path) {
    static constexpr const char* kName = "varnok_write_matlab";
    if (const int rc = check_modify_args(ctx, path, kName)) return rc;
    return guarded(ctx, kName, VARNOK_ERR_IO, [&] {
        varnok::MatlabExporter().write(ctx->network, ctx->params, std::string(path));
        return static_cast<int>(VARNOK_OK);
    });
}

int varnok_write_diagram(VarnokContext* ctx, const char* template_path, const char* output_path) {
    static constexpr const char* kName = "varnok_write_diagram";
    if (const int rc = check_modify_args(ctx, template_path, kName)) return rc;
    if (!output_path) {
        set_error(ctx, "varnok_write_diagram: NULL output path");
        return VARNOK_ERR_NULL_ARG;
    }
    return guarded(ctx, kName, VARNOK_ERR_IO, [&] {
        varnok::DiagramRenderer().render(ctx->network, ctx->params, std::string(template_path),
                                         std::string(output_path));
        return static_cast<int>(VARNOK_OK);
    });
}

}  // extern "C"
