/* A small host program: loads a network file, solves the power flow, prints the element counts
 * and the bus table, and fills in the diagram of the network.
 *
 *   varnok_host [network file [diagram template [diagram output]]]
 *   varnok_host --help
 *
 * It reads only the files named, relative paths taken from the working directory; without a
 * network file it solves the sample network of the source tree (examples/sample.txt). The
 * template defaults to the network file's name with ".svg" in place of its extension (the sample
 * has examples/sample.svg); without one no diagram is written. The filled diagram goes to
 * "varnok_diagram.svg" in the working directory unless an output is given. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnok_api.h"

#ifndef VARNOK_SOURCE_ROOT
#define VARNOK_SOURCE_ROOT "."
#endif

static const char* sample_path = VARNOK_SOURCE_ROOT "/examples/sample.txt";
static const char* default_diagram = "varnok_diagram.svg";

static void usage(FILE* out, const char* program) {
    fprintf(out,
            "usage: %s [network file [diagram template [diagram output]]]\n"
            "       %s --help\n"
            "Loads and solves the network file, prints its element counts and bus table, and\n"
            "fills in its diagram from the template into the output. Relative paths are taken\n"
            "from the working directory.\n"
            "  network file      default: the sample network %s\n"
            "  diagram template  default: the network file's name with .svg for its extension,\n"
            "                    when that file exists (else no diagram)\n"
            "  diagram output    default: %s\n",
            program, program, sample_path, default_diagram);
}

static int readable(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
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
    char template_buffer[4096];
    const char *program = argc > 0 ? argv[0] : "varnok_host", *path, *diagram_template, *diagram;
    VarnokContext* ctx;
    int status, major, minor, patch, i;
    double p_mis = 0.0, q_mis = 0.0;

    /* Options are only --help and -h; a file whose name begins with "-" is given as "./-name". */
    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            usage(stdout, program);
            return 0;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            fprintf(stderr, "%s: unknown option %s\n", program, argv[i]);
            usage(stderr, program);
            return 2;
        }
    }
    if (argc > 4) {
        usage(stderr, program);
        return 2;
    }
    path = argc >= 2 ? argv[1] : sample_path;
    diagram_template = argc >= 3 ? argv[2]
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
    printf("bus table: V in pu, angle in radians, vnom_kv in kV\n");
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
