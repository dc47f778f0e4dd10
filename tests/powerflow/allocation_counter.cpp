// The test program's operator new, counting while an AllocationCounter runs. Kept in its own file
// so that no caller sees the malloc and free behind it.
#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
bool counting = false;
long counted = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (counting) ++counted;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace varnok {

void AllocationCounter::start() {
    counted = 0;
    counting = true;
}

long AllocationCounter::stop() {
    counting = false;
    return counted;
}

}  // namespace varnok
