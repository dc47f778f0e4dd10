// The memory of the sparse LU factorisation, kept for the next one.
//
// A factorisation of a large Jacobian allocates a few blocks of megabytes (the LU factors, its
// workspace) and frees them again. Handed back to the C library, such blocks are unmapped or
// trimmed off the top of the heap, and the next factorisation, of the same size, takes every
// page anew as a zero-filled page fault. The library's own copy of KLU allocates through
// `FactorMemory` instead (powerflow/KLUMemoryFunctions.cpp): a freed block of at least
// `kKeepFrom` bytes is kept and handed out again to a request it fits.
//
// Each thread has its own (`FactorMemory::of_this_thread`), so handles on different threads
// share nothing and take no lock. What a thread keeps is bounded: never more bytes than twice
// the most it had in use at one time, never more than `kMaxKept` blocks; the oldest go first.
// A block counts as in use for the thread that handed it out until it is given back, on
// whichever thread that happens, so the bound holds for handles solved on one thread and
// destroyed on another. The blocks are freed when the thread ends.
//
// Under AddressSanitizer a kept block is out of bounds as a whole, and a block handed out is
// open only over the bytes asked for: its header and the slack past the request are closed,
// as malloc's red zones are.
#pragma once

#include <array>
#include <cstddef>

namespace varnok {

// The live bytes of the blocks that one FactorMemory handed out, shared with the threads that
// give them back (powerflow/FactorMemory.cpp).
struct FactorAccount;

class FactorMemory {
public:
    // Smaller blocks go straight back to the C library, which keeps them well itself.
    static constexpr std::size_t kKeepFrom = 4096;
    static constexpr std::size_t kMaxKept = 64;

    FactorMemory() = default;
    ~FactorMemory();
    FactorMemory(const FactorMemory&) = delete;
    FactorMemory& operator=(const FactorMemory&) = delete;

    // A block of at least `bytes` (16-byte aligned), null when memory runs out.
    void* allocate(std::size_t bytes);
    // The same, every byte 0.
    void* allocate_zeroed(std::size_t bytes);
    // A block of at least `new_bytes` holding the first min(old, `new_bytes`) bytes of `block`,
    // where old is what `block` was last asked to hold (null: a new block); null when memory
    // runs out, `block` then unchanged. A block that shrinks, or grows within its capacity,
    // stays where it is.
    void* resize(void* block, std::size_t new_bytes);
    // Takes back a block of any thread's `FactorMemory`; null does nothing.
    void release(void* block);

    std::size_t kept_blocks() const { return count_; }
    std::size_t kept_bytes() const { return kept_bytes_; }
    // Bytes in blocks of at least kKeepFrom handed out by this object and not yet given back,
    // to it or to any other; the most there ever were.
    std::size_t live_bytes() const;
    std::size_t peak_bytes() const { return peak_bytes_; }
    // Blocks of at least kKeepFrom that had to be taken from the C library.
    std::size_t system_blocks() const { return system_blocks_; }

    // The calling thread's; null while the thread is ending, when its own is gone, and when it
    // could not be set up for want of memory (a block is then allocated and freed by the C
    // library: see powerflow/KLUMemoryFunctions.cpp).
    static FactorMemory* of_this_thread();

private:
    struct Kept {
        void* block;
        std::size_t capacity;
    };
    // A block as the C library gives it, with its header in front; null when memory runs out.
    static void* allocate_from_system(std::size_t capacity);
    static void release_to_system(void* block);

    // The smallest kept block of at least `bytes` and at most twice that, taken out; null when
    // none fits.
    void* take_kept(std::size_t bytes);
    void keep(void* block, std::size_t capacity);
    void drop_oldest();
    Kept remove_kept(std::size_t i);

    // Counts a block handed out in this object's live bytes and returns the account it counts
    // in (made at the first; null when there is no memory for it: the block then counts
    // nowhere).
    FactorAccount* count_in(std::size_t capacity);

    std::array<Kept, kMaxKept> kept_{};  // oldest first
    std::size_t count_ = 0;
    std::size_t kept_bytes_ = 0;
    std::size_t peak_bytes_ = 0;
    std::size_t system_blocks_ = 0;
    FactorAccount* account_ = nullptr;  // null until the first block of at least kKeepFrom
};

// The capacity given to a request of `bytes`: a large one rounded up to a sixteenth of its
// order of magnitude (at least a page), so that the slightly different sizes of the next
// network's factors find the block of the last one.
std::size_t factor_block_capacity(std::size_t bytes);

}  // namespace varnok
