// Blocks carry a header in front of them: their capacity, the bytes last asked for and the
// account they count in while handed out, so that a block given back without its size (free),
// or on another thread, is kept or returned whole and counted off where it was counted in.
#include "powerflow/FactorMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

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

// The thread's own FactorMemory hangs on a thread-specific key, whose destructor frees it when
// the thread ends. (A thread_local object with a destructor would register that destructor
// with an allocation of the C library's, which ends the process when it fails; setting a key
// reports its failure, and the thread then allocates through the C library.) POSIX threads
// where there are (Linux, macOS, mingw-w64's winpthreads); elsewhere on Windows fiber-local
// storage, whose callback runs when the thread ends.
#if __has_include(<pthread.h>)
#include <pthread.h>
namespace {
using ThreadKey = pthread_key_t;
void end_of_thread(void* value);
bool make_key(ThreadKey& key) { return pthread_key_create(&key, end_of_thread) == 0; }
void delete_key(ThreadKey key) { pthread_key_delete(key); }
void* key_value(ThreadKey key) { return pthread_getspecific(key); }
bool set_key_value(ThreadKey key, void* value) { return pthread_setspecific(key, value) == 0; }
}  // namespace
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
namespace {
using ThreadKey = DWORD;
void end_of_thread(void* value);
void NTAPI end_of_fiber(void* value) { end_of_thread(value); }
bool make_key(ThreadKey& key) { return (key = FlsAlloc(end_of_fiber)) != FLS_OUT_OF_INDEXES; }
void delete_key(ThreadKey key) { FlsFree(key); }
void* key_value(ThreadKey key) { return FlsGetValue(key); }
bool set_key_value(ThreadKey key, void* value) { return FlsSetValue(key, value) != 0; }
}  // namespace
#else
#error "no thread-specific storage known on this platform"
#endif

namespace varnok {

struct FactorAccount {
    std::atomic<std::size_t> live_bytes{0};
    // The FactorMemory itself and every block counted in it: the last of them to go frees it.
    std::atomic<std::size_t> holders{1};
};

namespace {

struct Header {
    std::size_t capacity;  // bytes the block can hold
    std::size_t used;      // bytes last asked for; the rest is slack
    FactorAccount* owner;  // where the block counts while handed out; null: nowhere
};

// One maximal alignment or more, so that the block behind it is aligned as malloc's are.
constexpr std::size_t kHeader =
    (sizeof(Header) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);

// The smallest step of the capacities of kept blocks: a page of memory.
constexpr std::size_t kPage = 4096;

unsigned char* base_of(const void* block) {
    return const_cast<unsigned char*>(static_cast<const unsigned char*>(block)) - kHeader;
}

// Under AddressSanitizer: bytes that nobody may touch (a kept block, a header, the slack past a
// request) and bytes open to the caller. A block is opened whole before the C library takes
// it back.
void close_bytes(const void* begin, std::size_t bytes) {
#ifdef VARNOK_ASAN
    ASAN_POISON_MEMORY_REGION(begin, bytes);
#else
    (void)begin;
    (void)bytes;
#endif
}

void open_bytes(const void* begin, std::size_t bytes) {
#ifdef VARNOK_ASAN
    ASAN_UNPOISON_MEMORY_REGION(begin, bytes);
#else
    (void)begin;
    (void)bytes;
#endif
}

Header header_of(const void* block) {
    Header h;
    open_bytes(base_of(block), kHeader);
    std::memcpy(&h, base_of(block), sizeof h);
    close_bytes(base_of(block), kHeader);
    return h;
}

void set_header(void* block, const Header& h) {
    open_bytes(base_of(block), kHeader);
    std::memcpy(base_of(block), &h, sizeof h);
    close_bytes(base_of(block), kHeader);
}

// Gives `block` to its caller for `used` bytes, counted in `owner`: only those bytes open.
void hand_out(void* block, std::size_t capacity, std::size_t used, FactorAccount* owner) {
    set_header(block, Header{capacity, used, owner});
    close_bytes(block, capacity);
    open_bytes(block, used);
}

void drop_holder(FactorAccount* account) {
    if (account->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        account->~FactorAccount();
        std::free(account);
    }
}

// A block given back: off the live bytes of the account it was counted in, whichever thread's
// that is.
void count_out(FactorAccount* owner, std::size_t capacity) {
    if (!owner) return;
    owner->live_bytes.fetch_sub(capacity, std::memory_order_relaxed);
    drop_holder(owner);
}

std::size_t bit_floor(std::size_t x) {
    std::size_t p = 1;
    while (x / 2 >= p) p *= 2;
    return p;
}

// The key, made at the first use and deleted when the library is unloaded or the process ends,
// so that no thread ending later calls into code that is gone. The memory of the thread that
// unloads the library goes with the key; what other threads still keep is then left to the
// process. Trivially destructible, so it can be read after that, by any thread.
struct KeyState {
    ThreadKey key{};
    std::atomic<bool> usable{false};
    KeyState() { usable.store(make_key(key), std::memory_order_relaxed); }
    bool ready() const { return usable.load(std::memory_order_relaxed); }
};

struct KeyDeleter {
    KeyState& state;
    ~KeyDeleter() {
        if (!state.ready()) return;
        if (void* value = key_value(state.key)) end_of_thread(value);
        state.usable.store(false, std::memory_order_relaxed);
        delete_key(state.key);
    }
};

KeyState& key_state() {
    static KeyState state;
    static KeyDeleter deleter{state};
    return state;
}

// The key's value once the thread's FactorMemory is gone: a block that a later destructor of
// the thread allocates or frees goes to the C library.
char ended_marker;
void* const kEnded = &ended_marker;

}  // namespace

std::size_t factor_block_capacity(std::size_t bytes) {
    if (bytes < FactorMemory::kKeepFrom) return bytes == 0 ? 1 : bytes;
    const std::size_t step = std::max(kPage, bit_floor(bytes) / 16);
    if (bytes > std::numeric_limits<std::size_t>::max() - step) return bytes;
    return (bytes + step - 1) / step * step;
}

void* FactorMemory::allocate_from_system(std::size_t capacity) {
    if (capacity > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
    auto* base = static_cast<unsigned char*>(std::malloc(kHeader + capacity));
    if (!base) return nullptr;
    close_bytes(base, kHeader + capacity);
    set_header(base + kHeader, Header{capacity, 0, nullptr});
    return base + kHeader;
}

void FactorMemory::release_to_system(void* block) {
    open_bytes(base_of(block), kHeader + header_of(block).capacity);
    std::free(base_of(block));
}

FactorMemory::~FactorMemory() {
    while (count_ > 0) drop_oldest();
    if (account_) drop_holder(account_);
}

std::size_t FactorMemory::live_bytes() const {
    return account_ ? account_->live_bytes.load(std::memory_order_relaxed) : 0;
}

FactorMemory* FactorMemory::of_this_thread() {
    const KeyState& key = key_state();
    if (!key.ready()) return nullptr;
    void* value = key_value(key.key);
    if (value == kEnded) return nullptr;
    if (value) return static_cast<FactorMemory*>(value);
    // The thread's first: made without operator new, which would throw.
    void* storage = std::malloc(sizeof(FactorMemory));
    if (!storage) return nullptr;
    auto* own = new (storage) FactorMemory;
    if (!set_key_value(key.key, own)) {
        own->~FactorMemory();
        std::free(storage);
        return nullptr;
    }
    return own;
}

FactorAccount* FactorMemory::count_in(std::size_t capacity) {
    if (!account_) {
        void* storage = std::malloc(sizeof(FactorAccount));
        if (!storage) return nullptr;
        account_ = new (storage) FactorAccount;
    }
    account_->holders.fetch_add(1, std::memory_order_relaxed);
    const std::size_t live =
        account_->live_bytes.fetch_add(capacity, std::memory_order_relaxed) + capacity;
    peak_bytes_ = std::max(peak_bytes_, live);
    return account_;
}

void* FactorMemory::allocate(std::size_t bytes) {
    const std::size_t capacity = factor_block_capacity(bytes);
    if (capacity < kKeepFrom) {
        void* block = allocate_from_system(capacity);
        if (block) hand_out(block, capacity, bytes, nullptr);
        return block;
    }
    void* block = take_kept(bytes);
    if (!block) {
        block = allocate_from_system(capacity);
        if (!block) return nullptr;
        ++system_blocks_;
    }
    const std::size_t held = header_of(block).capacity;
    hand_out(block, held, bytes, count_in(held));
    return block;
}

void* FactorMemory::allocate_zeroed(std::size_t bytes) {
    void* block = allocate(bytes);
    if (block) std::memset(block, 0, bytes);
    return block;
}

void* FactorMemory::resize(void* block, std::size_t new_bytes) {
    if (!block) return allocate(new_bytes);
    const Header h = header_of(block);
    if (new_bytes <= h.capacity) {
        hand_out(block, h.capacity, new_bytes, h.owner);
        return block;
    }
    void* grown = allocate(new_bytes);
    if (!grown) return nullptr;
    std::memcpy(grown, block, h.used);
    release(block);
    return grown;
}

void FactorMemory::release(void* block) {
    if (!block) return;
    const Header h = header_of(block);
    if (h.capacity < kKeepFrom) {
        release_to_system(block);
        return;
    }
    count_out(h.owner, h.capacity);
    if (h.capacity > peak_bytes_) {
        release_to_system(block);
        return;
    }
    keep(block, h.capacity);
}

FactorMemory::Kept FactorMemory::remove_kept(std::size_t i) {
    const Kept removed = kept_[i];
    for (std::size_t j = i + 1; j < count_; ++j) kept_[j - 1] = kept_[j];
    --count_;
    kept_bytes_ -= removed.capacity;
    return removed;
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
    return remove_kept(best).block;
}

void FactorMemory::keep(void* block, std::size_t capacity) {
    // The blocks of an analysis and those of the factorisations after it are not in use at the
    // same time, and the next solve needs both: twice the peak holds them, not those of many.
    while (count_ > 0 && (count_ == kMaxKept || kept_bytes_ + capacity > 2 * peak_bytes_))
        drop_oldest();
    close_bytes(base_of(block), kHeader + capacity);
    kept_[count_++] = Kept{block, capacity};
    kept_bytes_ += capacity;
}

void FactorMemory::drop_oldest() { release_to_system(remove_kept(0).block); }

}  // namespace varnok

namespace {

// The key's destructor: the thread's FactorMemory goes, with what it keeps. The marker it
// leaves in its place brings it back in each further round of the thread's key destructors,
// until the C library stops them.
void end_of_thread(void* value) {
    set_key_value(varnok::key_state().key, varnok::kEnded);
    if (value == varnok::kEnded) return;
    auto* own = static_cast<varnok::FactorMemory*>(value);
    own->~FactorMemory();
    std::free(own);
}

}  // namespace
