/* The allocator of the test programs that make allocations fail (failing_allocation.h): glibc's
   own, reached through its __libc_ names, in front of which one allocation of a thread can be
   made to fail. A program that defines malloc, calloc, realloc and free replaces them for
   everything in its process, glibc's own allocations included. */
#include "failing_allocation.h"

#include <errno.h>
#include <stddef.h>

#include "address_sanitizer.h"

/* Allocations of this thread until the one that fails (0: none is to fail), and whether it
   has. */
static __thread long countdown;
static __thread int failed;

#if defined(__GLIBC__) && !defined(VARNOK_TEST_ASAN)

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t nitems, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

static int fails_now(void) {
    if (countdown == 0 || --countdown > 0) return 0;
    failed = 1;
    errno = ENOMEM;
    return 1;
}

void* malloc(size_t size) { return fails_now() ? NULL : __libc_malloc(size); }
void* calloc(size_t nitems, size_t size) {
    return fails_now() ? NULL : __libc_calloc(nitems, size);
}
void* realloc(void* block, size_t size) {
    return fails_now() ? NULL : __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }

int varnok_test_can_fail_allocations(void) { return 1; }

#else

int varnok_test_can_fail_allocations(void) { return 0; }

#endif

void varnok_test_fail_allocation(long nth) {
    countdown = nth;
    failed = 0;
}

int varnok_test_allocation_failed(void) {
    const int happened = failed;
    countdown = 0;
    failed = 0;
    return happened;
}
