// Blocks carry their capacity in a header of one maximal alignment in front of them, so that a
// block given back without its size (free) is kept or returned whole.
#include "powerflow/FactorMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
#define VARNOK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNOK_ASAN 1
#endif
#endif
#ifdef VARNOK_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace varnok {

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t) < sizeof(std::size_t)
                                    ? sizeof(std::size_t)
                                    : alignof(std::max_align_t);

unsigned char* base_of(const void* block) {
    return const_cast<unsigned char*>(static_cast<const unsigned char*>(block)) - kHeader;
}

// A kept block is out of bounds for everybody until it is handed out again: under the address
// sanitizer a use after free of the factors is still caught.
void close_off(void* block, std::size_t capacity) {
#ifdef VARNOK_ASAN
    ASAN_POISON_MEMORY_REGION(base_of(block), kHeader + capacity);
#else
    (void)block;
    (void)capacity;
#endif
}

void open_up(void* block, std::size_t capacity) {
#ifdef VARNOK_ASAN
    ASAN_UNPOISON_MEMORY_REGION(base_of(block), kHeader + capacity);
#else
    (void)block;
    (void)capacity;
#endif
}

std::size_t bit_floor(std::size_t x) {
    std::size_t p = 1;
    while (x / 2 >= p) p *= 2;
    return p;
}

// Set while the thread's own FactorMemory is being destroyed and after: a block freed by a
// later destructor of the thread goes to the C library. Trivially destructible, so it outlives
// every destructor of the thread.
thread_local bool thread_ending = false;

struct ThreadMemory {
    FactorMemory memory;
    ThreadMemory() = default;
    ThreadMemory(const ThreadMemory&) = delete;
    ThreadMemory& operator=(const ThreadMemory&) = delete;
    ~ThreadMemory() { thread_ending = true; }  // before `memory` frees what it keeps
};

}  // namespace

std::size_t factor_block_capacity(std::size_t bytes) {
    if (bytes < FactorMemory::kKeepFrom) return bytes == 0 ? 1 : bytes;
    const std::size_t step = std::max<std::size_t>(4096, bit_floor(bytes) / 16);
    if (bytes > std::numeric_limits<std::size_t>::max() - step) return bytes;
    return (bytes + step - 1) / step * step;
}

void* FactorMemory::allocate_from_system(std::size_t capacity) {
    if (capacity > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
    auto* base = static_cast<unsigned char*>(std::malloc(kHeader + capacity));
    if (!base) return nullptr;
    std::memcpy(base, &capacity, sizeof capacity);
    return base + kHeader;
}

void FactorMemory::release_to_system(void* block) {
    if (block) std::free(base_of(block));
}

std::size_t FactorMemory::capacity_of(const void* block) {
    std::size_t capacity;
    std::memcpy(&capacity, base_of(block), sizeof capacity);
    return capacity;
}

FactorMemory::~FactorMemory() {
    while (count_ > 0) drop_oldest();
}

FactorMemory* FactorMemory::of_this_thread() {
    if (thread_ending) return nullptr;
    thread_local ThreadMemory own;
    return &own.memory;
}

void* FactorMemory::allocate(std::size_t bytes) {
    const std::size_t capacity = factor_block_capacity(bytes);
    if (capacity < kKeepFrom) return allocate_from_system(capacity);
    void* block = take_kept(bytes);
    if (!block) {
        block = allocate_from_system(capacity);
        if (!block) return nullptr;
        ++system_blocks_;
    }
    live_bytes_ += capacity_of(block);
    peak_bytes_ = std::max(peak_bytes_, live_bytes_);
    return block;
}

void* FactorMemory::allocate_zeroed(std::size_t bytes) {
    void* block = allocate(bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
}

void* FactorMemory::resize(void* block, std::size_t used_bytes, std::size_t new_bytes) {
    if (!block) return allocate(new_bytes);
    const std::size_t capacity = capacity_of(block);
    if (new_bytes <= capacity) return block;
    void* grown = allocate(new_bytes);
    if (!grown) return nullptr;
    std::memcpy(grown, block, std::min(used_bytes, capacity));
    release(block);
    return grown;
}

void FactorMemory::release(void* block) {
    if (!block) return;
    const std::size_t capacity = capacity_of(block);
    if (capacity < kKeepFrom) {
        release_to_system(block);
        return;
    }
    // A block of another thread's FactorMemory counts in that one's live bytes, not here.
    live_bytes_ = live_bytes_ > capacity ? live_bytes_ - capacity : 0;
    if (capacity > peak_bytes_) {
        release_to_system(block);
        return;
    }
    keep(block, capacity);
}

void* FactorMemory::take_kept(std::size_t bytes) {
    std::size_t best = count_;
    for (std::size_t i = 0; i < count_; ++i) {
        const std::size_t c = kept_[i].capacity;
        if (c < bytes || c / 2 > bytes) continue;
        // among equals the one given back last, whose pages are the warmest
        if (best == count_ || c <= kept_[best].capacity) best = i;
    }
    if (best == count_) return nullptr;
    const Kept taken = kept_[best];
    for (std::size_t i = best + 1; i < count_; ++i) kept_[i - 1] = kept_[i];
    --count_;
    kept_bytes_ -= taken.capacity;
    open_up(taken.block, taken.capacity);
    return taken.block;
}

void FactorMemory::keep(void* block, std::size_t capacity) {
    // The blocks of an analysis and those of the factorisations after it are not in use at the
    // same time, and the next solve needs both: twice the peak holds them, not those of many.
    while (count_ > 0 && (count_ == kMaxKept || kept_bytes_ + capacity > 2 * peak_bytes_))
        drop_oldest();
    close_off(block, capacity);
    kept_[count_++] = Kept{block, capacity};
    kept_bytes_ += capacity;
}

void FactorMemory::drop_oldest() {
    const Kept oldest = kept_[0];
    for (std::size_t i = 1; i < count_; ++i) kept_[i - 1] = kept_[i];
    --count_;
    kept_bytes_ -= oldest.capacity;
    open_up(oldest.block, oldest.capacity);
    release_to_system(oldest.block);
}

}  // namespace varnok
