// Allocations that fail on request, for the tests of what the library does when memory runs
// out. The test program's malloc, calloc and realloc (failing_allocation.c) fail one allocation
// of the thread that asks for it, wherever it is made: in the library, in KLU, in the C++
// library (operator new) or in the C library itself.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// 0 where allocations cannot be made to fail: without glibc, whose malloc a program may
// replace, and under AddressSanitizer, whose allocator must own it.
int varnok_test_can_fail_allocations(void);
// The calling thread's `nth` allocation from now on fails (1: the next); 0 fails none.
void varnok_test_fail_allocation(long nth);
// 1 when the failure asked for has happened; ends the request.
int varnok_test_allocation_failed(void);

#ifdef __cplusplus
}
#endif
