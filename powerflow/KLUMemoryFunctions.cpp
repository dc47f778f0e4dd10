// The memory functions of the library's own copy of KLU, in place of SuiteSparse_config's.
//
// KLU, AMD, COLAMD and BTF are linked into this library from their static archives, and these
// definitions stand in for SuiteSparse_config: the linker resolves the copy's calls to them,
// and the shared library keeps them local (api/varnok_api.map), so that another SuiteSparse in
// the host's process, and its settings, are neither used nor touched. This file is built only
// with that copy (cmake/Dependencies.cmake), which links no SuiteSparse_config: a call of the
// copy that these definitions miss fails the link.
//
// The factorisation's blocks are kept for the next one on the calling thread (FactorMemory).
// Sizes and the overflow test are SuiteSparse_config's: a count or item size of 0 counts as 1,
// and a product that does not fit is a failed allocation. Nothing in the copy prints (the
// library writes only where its caller asks).
#include <cmath>
#include <cstddef>

#include <SuiteSparse_config.h>

#include "powerflow/FactorMemory.h"

namespace {

using varnok::FactorMemory;

bool byte_count(std::size_t nitems, std::size_t size_of_item, std::size_t& bytes) {
    if (nitems < 1) nitems = 1;
    if (size_of_item < 1) size_of_item = 1;
    bytes = nitems * size_of_item;
    return bytes / size_of_item == nitems;
}

// Calls f with the calling thread's FactorMemory or, while the thread ends or when its own
// could not be set up, with one that lives for this call only and so keeps nothing.
template <typename F>
auto with_thread_memory(F&& f) {
    if (FactorMemory* own = FactorMemory::of_this_thread()) return f(*own);
    FactorMemory passing;
    return f(passing);
}

void* allocate_block(std::size_t bytes) {
    return with_thread_memory([&](FactorMemory& m) { return m.allocate(bytes); });
}

void* allocate_zeroed_items(std::size_t nitems, std::size_t size_of_item) {
    std::size_t bytes;
    if (!byte_count(nitems, size_of_item, bytes)) return nullptr;
    return with_thread_memory([&](FactorMemory& m) { return m.allocate_zeroed(bytes); });
}

// As realloc: the bytes in use are kept, a block that cannot grow stays as it was.
void* resize_block(void* block, std::size_t bytes) {
    return with_thread_memory([&](FactorMemory& m) { return m.resize(block, bytes); });
}

void release_block(void* block) {
    if (!block) return;
    with_thread_memory([&](FactorMemory& m) {
        m.release(block);
        return 0;
    });
}

}  // namespace

extern "C" {

void* SuiteSparse_malloc(size_t nitems, size_t size_of_item) {
    std::size_t bytes;
    return byte_count(nitems, size_of_item, bytes) ? allocate_block(bytes) : nullptr;
}

void* SuiteSparse_calloc(size_t nitems, size_t size_of_item) {
    return allocate_zeroed_items(nitems, size_of_item);
}

void* SuiteSparse_realloc(size_t nitems_new, size_t nitems_old, size_t size_of_item, void* p,
                          int* ok) {
    std::size_t new_bytes;
    if (!byte_count(nitems_new, size_of_item, new_bytes)) {
        *ok = 0;
        return p;
    }
    if (nitems_old < 1) nitems_old = 1;
    if (p && nitems_old == nitems_new) {
        *ok = 1;
        return p;
    }
    void* moved = resize_block(p, new_bytes);
    // A block that cannot grow stays as it was (a shrinking one always can).
    *ok = moved != nullptr;
    return moved ? moved : p;
}

void* SuiteSparse_free(void* p) {
    release_block(p);
    return nullptr;
}

// What the copy reads besides the memory functions: SuiteSparse 5 the configuration struct
// itself, SuiteSparse 7 its printf function through a function. Another version is not known
// here: the configure step then fails to link this file and links the shared libraries.
#if SUITESPARSE_MAIN_VERSION == 5

// No printf. The memory members lead to the same blocks as the functions above, for code that
// calls them.
struct SuiteSparse_config_struct SuiteSparse_config = {
    allocate_block, allocate_zeroed_items, resize_block, release_block, nullptr, hypot, nullptr};

#elif SUITESPARSE_MAIN_VERSION == 7

int (*SuiteSparse_config_printf_func_get(void))(const char*, ...) { return nullptr; }

#else
#error "SuiteSparse_config of this SuiteSparse version is not known to this library"
#endif

}  // extern "C"
