/* A small host program: loads a network file (by default the sample next to this source), solves
 * the power flow and prints the element counts and the bus table.
 *
 *   varnok_host [path]
 *
 * A relative path that cannot be opened from the working directory is tried again relative to
 * the source tree, so the default works from any directory. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnok_api.h"

#ifndef VARNOK_SOURCE_ROOT
#define VARNOK_SOURCE_ROOT "."
#endif

static const char* default_path = "examples/sample.txt";

static int readable(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
}

/* The path as given when it opens; else, for a relative path, the same under the source tree
 * (written into `buffer`); else the path as given, for the library to report. */
static const char* resolve(const char* path, char* buffer, size_t size) {
    if (readable(path) || path[0] == '/') return path;
    if (strlen(VARNOK_SOURCE_ROOT) + 1 + strlen(path) + 1 > size) return path;
    sprintf(buffer, "%s/%s", VARNOK_SOURCE_ROOT, path);
    return readable(buffer) ? buffer : path;
}

int main(int argc, char** argv) {
    char buffer[4096];
    const char* path;
    VarnokContext* ctx;
    int status, major, minor, patch;
    double p_mis = 0.0, q_mis = 0.0;

    if (argc > 2) {
        fprintf(stderr, "usage: %s [network file]\n", argv[0]);
        return 2;
    }
    path = resolve(argc == 2 ? argv[1] : default_path, buffer, sizeof buffer);

    ctx = varnok_create();
    if (!ctx) {
        fprintf(stderr, "varnok_create failed\n");
        return 1;
    }
    varnok_get_api_version(&major, &minor, &patch);
    printf("%s (API %d.%d.%d)\n", varnok_get_build_info(), major, minor, patch);

    status = varnok_load_file(ctx, path);
    if (status != VARNOK_OK) {
        fprintf(stderr, "load failed (%d): %s\n", status, varnok_get_last_error(ctx));
        varnok_destroy(ctx);
        return 1;
    }
    printf("network %s\n", path);
    printf("buses %d, branches %d, generators %d, compensators %d, zones %d, cuts %d\n",
           varnok_get_bus_count(ctx), varnok_get_branch_count(ctx),
           varnok_get_generator_count(ctx), varnok_get_svc_count(ctx), varnok_get_zone_count(ctx),
           varnok_get_cut_count(ctx));

    status = varnok_solve(ctx);
    if (status < 0) {
        fprintf(stderr, "solve failed (%d): %s\n", status, varnok_get_last_error(ctx));
        varnok_destroy(ctx);
        return 1;
    }
    varnok_get_max_mismatch(ctx, &p_mis, &q_mis);
    printf("%s after %d iterations (largest mismatch %g MW, %g Mvar)\n",
           status == 0 ? "converged" : "NOT converged", varnok_get_iteration_count(ctx), p_mis,
           q_mis);
    fputs(varnok_get_output_text(ctx), stdout);

    varnok_destroy(ctx);
    return status == 0 ? 0 : 1;
}
