/* A plain C99 host: creates a handle, reads the version and the build text, sets an option. */
#include <stdio.h>
#include <string.h>

#include "varnok_api.h"

int main(void) {
    int major = 0, minor = 0, patch = 0;
    double value = 0.0;
    VarnokContext* ctx = varnok_create();
    if (!ctx) return 1;
    varnok_get_api_version(&major, &minor, &patch);
    if (major != 1 || minor != 3 || patch != 0) return 2;
    if (strncmp(varnok_get_build_info(), "varnok 1.3.0 (", 14) != 0) return 3;
    if (varnok_set_option(ctx, VARNOK_OPT_NBITMA, 7.9) != VARNOK_OK) return 4;
    if (varnok_get_option(ctx, VARNOK_OPT_NBITMA, &value) != VARNOK_OK || value != 7.0) return 5;
    if (varnok_set_option(ctx, 42, 1.0) != VARNOK_ERR_OUT_OF_RANGE) return 6;
    if (strcmp(varnok_get_last_error(ctx), "varnok_set_option: unknown option id: 42") != 0) return 7;
    varnok_destroy(ctx);
    printf("c host: %s\n", varnok_get_build_info());
    return 0;
}
