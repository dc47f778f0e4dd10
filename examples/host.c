/* A small host program: creates a handle and prints what the library says of itself. */
#include <stdio.h>

#include "varnok_api.h"

int main(void) {
    int major, minor, patch;
    VarnokContext* ctx = varnok_create();
    if (!ctx) {
        fprintf(stderr, "varnok_create failed\n");
        return 1;
    }
    varnok_get_api_version(&major, &minor, &patch);
    printf("varnok API %d.%d.%d\n%s\n", major, minor, patch, varnok_get_build_info());
    varnok_destroy(ctx);
    return 0;
}
