#include <stdio.h>

#include <varnok_api.h>

int main(void) {
    VarnokContext* ctx = varnok_create();
    if (!ctx) return 1;
    printf("installed: %s\n", varnok_get_build_info());
    varnok_destroy(ctx);
    return 0;
}
