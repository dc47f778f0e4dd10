/* A small host program: loads a network file (by default the sample next to this source), solves
 * the power flow, prints the element counts and the bus table, and fills in the diagram of the
 * network.
 *
 *   varnok_host [network file [diagram template [diagram output]]]
 *
 * The template defaults to the network file's name with ".svg" in place of its extension (the
 * sample has examples/sample.svg); without one no diagram is written. The filled diagram goes
 * to "varnok_diagram.svg" in the working directory unless an output is given.
 *
 * A relative input path that cannot be opened from the working directory is tried again relative
 * to the source tree, so the defaults work from any directory. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnok_api.h"

#ifndef VARNOK_SOURCE_ROOT
#define VARNOK_SOURCE_ROOT "."
#endif

static const char* default_path = "examples/sample.txt";
static const char* default_diagram = "varnok_diagram.svg";

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

/* The network path with ".svg" in place of its extension, written into `buffer`, when that file
 * opens; else NULL. */
static const char* template_beside(const char* network, char* buffer, size_t size) {
    const char* slash = strrchr(network, '/');
    const char* dot = strrchr(network, '.');
    size_t stem = (dot && (!slash || dot > slash)) ? (size_t)(dot - network) : strlen(network);
    if (stem + sizeof ".svg" > size) return NULL;
    memcpy(buffer, network, stem);
    strcpy(buffer + stem, ".svg");
    return readable(buffer) ? buffer : NULL;
}

int main(int argc, char** argv) {
    char buffer[4096], template_buffer[4096];
    const char *path, *diagram_template, *diagram;
    VarnokContext* ctx;
    int status, major, minor, patch;
    double p_mis = 0.0, q_mis = 0.0;

    if (argc > 4) {
        fprintf(stderr, "usage: %s [network file [diagram template [diagram output]]]\n", argv[0]);
        return 2;
    }
    path = resolve(argc >= 2 ? argv[1] : default_path, buffer, sizeof buffer);
    diagram_template = argc >= 3 ? resolve(argv[2], template_buffer, sizeof template_buffer)
                                 : template_beside(path, template_buffer, sizeof template_buffer);
    diagram = argc == 4 ? argv[3] : default_diagram;

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

    /* the diagram shows the state the solve left, converged or not */
    if (diagram_template) {
        int written = varnok_write_diagram(ctx, diagram_template, diagram);
        if (written != VARNOK_OK) {
            fprintf(stderr, "diagram failed (%d): %s\n", written, varnok_get_last_error(ctx));
            varnok_destroy(ctx);
            return 1;
        }
        printf("diagram %s%s (from %s)\n", diagram,
               diagram[0] == '/' ? "" : " in the working directory", diagram_template);
    } else {
        printf("no diagram: no template %s\n", "beside the network file");
    }

    varnok_destroy(ctx);
    return status == 0 ? 0 : 1;
}
