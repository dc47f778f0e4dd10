// The kept memory of the factorisation: what is kept, what is handed out again, the bounds, and
// the memory functions of the library's own copy of KLU.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "network/InputParser.h"
#include "powerflow/FactorMemory.h"
#include "powerflow/PowerFlow.h"

#ifdef VARNOK_PRIVATE_KLU
#include <SuiteSparse_config.h>
#endif
#include "address_sanitizer.h"
#ifdef VARNOK_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace varnok {
namespace {

constexpr std::size_t kLarge = 1 << 20;  // a block of the size of real factors

TEST(FactorMemory, ALargeBlockGivenBackServesTheNextRequestThatFits) {
    FactorMemory memory;
    void* first = memory.allocate(1000000);
    ASSERT_NE(first, nullptr);
    memory.release(first);
    EXPECT_EQ(memory.kept_blocks(), 1u);
    EXPECT_EQ(memory.kept_bytes(), 1015808u);  // rounded up to 31 x 32 KiB

    // A slightly larger request, the next network's factors, finds the rounded-up block.
    void* again = memory.allocate(1010000);
    EXPECT_EQ(again, first);
    EXPECT_EQ(memory.kept_blocks(), 0u);
    EXPECT_EQ(memory.system_blocks(), 1u);
    memory.release(again);
}

TEST(FactorMemory, WhatIsKeptAndWhatGoesBack) {
    struct Case {
        const char* what;
        std::size_t first;
        std::size_t second;
        bool kept;        // the first block is kept when given back
        bool same_block;  // and serves the second request
    };
    const Case cases[] = {
        {"the same size again", kLarge, kLarge, true, true},
        {"a smaller request down to half the capacity", kLarge, kLarge / 2 + 64 * 1024, true,
         true},
        {"a request below half the capacity", kLarge, kLarge / 2 - 1, true, false},
        {"a request above the capacity", kLarge, 2 * kLarge, true, false},
        {"a small block, left to the C library", 1000, 1000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FactorMemory memory;
        void* first = memory.allocate(c.first);
        memory.release(first);
        EXPECT_EQ(memory.kept_blocks(), c.kept ? 1u : 0u);
        void* second = memory.allocate(c.second);
        // (a block handed back to the C library may come back from it: no test of that)
        if (c.kept) {
            EXPECT_EQ(second == first, c.same_block);
        }
        memory.release(second);
    }
}

TEST(FactorMemory, KeepsNoMoreThanTwiceWhatWasOnceInUse) {
    FactorMemory memory;
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(memory.allocate(kLarge));
    const std::size_t peak = memory.peak_bytes();
    EXPECT_EQ(peak, 4 * factor_block_capacity(kLarge));
    for (void* b : blocks) memory.release(b);
    EXPECT_EQ(memory.kept_bytes(), peak);
    EXPECT_EQ(memory.live_bytes(), 0u);

    // Blocks of other sizes, none fitting a kept one: the one that would take the bytes kept
    // past twice the peak pushes out the oldest until they fit.
    constexpr std::size_t kMiddle = 2 * kLarge + 2 * 65536;  // 17 x 128 KiB
    memory.release(memory.allocate(kMiddle));
    EXPECT_EQ(memory.kept_blocks(), 5u);
    memory.release(memory.allocate(4 * kLarge));
    EXPECT_EQ(memory.peak_bytes(), peak);
    EXPECT_EQ(memory.kept_blocks(), 3u);
    EXPECT_EQ(memory.kept_bytes(), kLarge + kMiddle + 4 * kLarge);
    // The 1 MiB block given back last is the one still kept.
    void* kept = memory.allocate(kLarge);
    EXPECT_EQ(kept, blocks[3]);
    memory.release(kept);
}

TEST(FactorMemory, KeepsAtMostItsNumberOfBlocks) {
    FactorMemory memory;
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < FactorMemory::kMaxKept + 10; ++i)
        blocks.push_back(memory.allocate(FactorMemory::kKeepFrom));
    for (void* b : blocks) memory.release(b);
    EXPECT_EQ(memory.kept_blocks(), FactorMemory::kMaxKept);
    // The oldest went first: the last one given back is kept and handed out first.
    void* newest = memory.allocate(FactorMemory::kKeepFrom);
    EXPECT_EQ(newest, blocks.back());
    memory.release(newest);
}

TEST(FactorMemory, ResizeKeepsTheBytesInUse) {
    FactorMemory memory;
    auto* block = static_cast<unsigned char*>(memory.allocate(kLarge));
    for (std::size_t i = 0; i < kLarge; ++i) block[i] = static_cast<unsigned char>(i * 7);

    // Shrinking, and growing within the capacity, leave the block where it is.
    const std::size_t used = kLarge / 3;
    EXPECT_EQ(memory.resize(block, used), block);
    EXPECT_EQ(memory.resize(block, factor_block_capacity(kLarge)), block);
    EXPECT_EQ(memory.resize(block, used), block);

    // Growing beyond it moves the bytes in use, and only those.
    auto* grown = static_cast<unsigned char*>(memory.resize(block, 3 * kLarge));
    ASSERT_NE(grown, nullptr);
    EXPECT_NE(grown, block);
    for (std::size_t i = 0; i < used; ++i)
        ASSERT_EQ(grown[i], static_cast<unsigned char>(i * 7)) << i;
    EXPECT_EQ(memory.live_bytes(), factor_block_capacity(3 * kLarge));
    memory.release(grown);

    void* fresh = memory.resize(nullptr, kLarge);  // null: a new block
    EXPECT_NE(fresh, nullptr);
    memory.release(fresh);
}

TEST(FactorMemory, AZeroedBlockIsZeroAlsoWhenReused) {
    FactorMemory memory;
    auto* dirty = static_cast<unsigned char*>(memory.allocate(kLarge));
    std::memset(dirty, 0xAB, kLarge);
    memory.release(dirty);
    auto* zeroed = static_cast<unsigned char*>(memory.allocate_zeroed(kLarge));
    ASSERT_EQ(zeroed, dirty);
    for (std::size_t i = 0; i < kLarge; ++i) ASSERT_EQ(zeroed[i], 0) << i;
    memory.release(zeroed);
}

TEST(FactorMemory, CapacitiesRoundUpLargeRequestsOnly) {
    EXPECT_EQ(factor_block_capacity(0), 1u);
    EXPECT_EQ(factor_block_capacity(100), 100u);
    EXPECT_EQ(factor_block_capacity(4095), 4095u);
    EXPECT_EQ(factor_block_capacity(4096), 4096u);
    EXPECT_EQ(factor_block_capacity(4097), 8192u);
    // From 64 KiB on a sixteenth of the power of two below: at most 1/16 more.
    EXPECT_EQ(factor_block_capacity(2985984), 3014656u);  // 23 x 128 KiB
    EXPECT_EQ(factor_block_capacity(std::size_t{1} << 24), std::size_t{1} << 24);
    EXPECT_EQ(factor_block_capacity(SIZE_MAX), SIZE_MAX);
}

TEST(FactorMemory, EveryThreadHasItsOwn) {
    FactorMemory* mine = FactorMemory::of_this_thread();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(FactorMemory::of_this_thread(), mine);
    FactorMemory* other = nullptr;
    std::thread([&] { other = FactorMemory::of_this_thread(); }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);
}

TEST(FactorMemory, ABlockOfAnotherThreadIsKeptWhereItIsGivenBack) {
    void* block = FactorMemory::of_this_thread()->allocate(kLarge);
    std::thread([&] {
        FactorMemory* there = FactorMemory::of_this_thread();
        there->release(there->allocate(2 * kLarge));
        there->release(block);  // not counted in this thread's live bytes
        EXPECT_EQ(there->live_bytes(), 0u);
        EXPECT_EQ(there->allocate(kLarge), block);
        EXPECT_EQ(there->live_bytes(), factor_block_capacity(kLarge));
        there->release(block);
    }).join();
}

// A block handed out on one thread and given back on another counts off the live bytes of the
// thread that handed it out, so that what that thread keeps stays bound to what it has in use,
// and not in those of the thread that gives it back.
TEST(FactorMemory, ABlockGivenBackOnAnotherThreadCountsOffItsOwner) {
    const std::size_t capacity = factor_block_capacity(kLarge);
    std::thread([&] {
        FactorMemory* owner = FactorMemory::of_this_thread();
        ASSERT_NE(owner, nullptr);
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(round);
            void* block = owner->allocate(kLarge);
            ASSERT_EQ(owner->live_bytes(), capacity);
            std::thread([&] {
                FactorMemory* there = FactorMemory::of_this_thread();
                there->release(block);
                EXPECT_EQ(there->live_bytes(), 0u);
            }).join();
            EXPECT_EQ(owner->live_bytes(), 0u);
            EXPECT_EQ(owner->peak_bytes(), capacity);
        }
    }).join();
}

// Under AddressSanitizer a block is open only over the bytes asked for: a write past them or
// into the header in front of the block is reported, as one into malloc's red zones is; a
// kept block is closed whole.
TEST(FactorMemory, TheSanitizerSeesPastTheBytesAskedFor) {
#ifndef VARNOK_TEST_ASAN
    GTEST_SKIP() << "needs AddressSanitizer";
#else
    auto closed = [](const void* p) { return __asan_address_is_poisoned(p) != 0; };
    FactorMemory memory;
    for (const std::size_t bytes : {std::size_t{100}, std::size_t{5000}, kLarge + 3}) {
        SCOPED_TRACE(bytes);
        auto* block = static_cast<unsigned char*>(memory.allocate(bytes));
        ASSERT_NE(block, nullptr);
        EXPECT_FALSE(closed(block));
        EXPECT_FALSE(closed(block + bytes - 1));
        EXPECT_TRUE(closed(block + bytes));
        for (std::size_t before = 1; before <= 16; ++before) EXPECT_TRUE(closed(block - before));

        // resized in place: open over the new size only
        ASSERT_EQ(memory.resize(block, bytes / 2), block);
        EXPECT_FALSE(closed(block + bytes / 2 - 1));
        EXPECT_TRUE(closed(block + bytes / 2));
        memory.release(block);
    }
    // kept after its release: closed from its first byte, until it is handed out again
    FactorMemory fresh;
    auto* kept = static_cast<unsigned char*>(fresh.allocate(kLarge));
    fresh.release(kept);
    ASSERT_EQ(fresh.kept_blocks(), 1u);
    EXPECT_TRUE(closed(kept));
    EXPECT_EQ(fresh.allocate(kLarge - 8), kept);
    EXPECT_FALSE(closed(kept + kLarge - 9));
    EXPECT_TRUE(closed(kept + kLarge - 8));
    fresh.release(kept);
#endif
}

#ifdef VARNOK_PRIVATE_KLU

// A solver built on one thread and destroyed on another: the thread that solved counts the
// blocks of its factorisation off when they are given back elsewhere, so its live and peak
// bytes, and with them what it may keep, stay those of one solve however often that happens.
TEST(FactorMemory, SolversDestroyedOnAnotherThreadLeaveTheBoundOfTheOneThatSolved) {
    Network network;
    SolverParams params;
    InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/case300.txt", network, params);
    network.save_initial_snapshot();
    std::thread([&] {
        const FactorMemory* memory = FactorMemory::of_this_thread();
        ASSERT_NE(memory, nullptr);
        std::size_t peak = 0;
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(round);
            network.reset_to_initial();
            auto solver = std::make_unique<PowerFlowSolver>();
            ASSERT_TRUE(solver->solve(network, params).converged);
            EXPECT_GT(memory->live_bytes(), 0u);  // the solver's factorisation
            std::thread([&] { solver.reset(); }).join();
            EXPECT_EQ(memory->live_bytes(), 0u);
            // from the second round on the solve is served from what the first kept
            if (round == 1) {
                peak = memory->peak_bytes();
            } else if (round > 1) {
                EXPECT_EQ(memory->peak_bytes(), peak);
            }
            EXPECT_LE(memory->kept_bytes(), 2 * memory->peak_bytes());
        }
    }).join();
}

// A fresh solver on a thread that has solved the network once takes every block of its
// analysis and factorisations from what the last one left: no block from the C library.
TEST(FactorMemory, AFreshSolveTakesNoNewBlock) {
    Network network;
    SolverParams params;
    InputParser{}.load(std::string(VARNOK_CASES_DIR) + "/case300.txt", network, params);
    network.save_initial_snapshot();
    const FactorMemory* memory = FactorMemory::of_this_thread();
    {
        PowerFlowSolver solver;
        ASSERT_TRUE(solver.solve(network, params).converged);
    }
    const std::size_t after_first = memory->system_blocks();
    EXPECT_GT(memory->kept_blocks(), 0u);
    for (int run = 0; run < 3; ++run) {
        network.reset_to_initial();
        PowerFlowSolver solver;
        ASSERT_TRUE(solver.solve(network, params).converged);
    }
    EXPECT_EQ(memory->system_blocks(), after_first);
}

// The copy's memory functions keep SuiteSparse_config's sizes, overflow test and realloc
// flags; nothing of it prints.
TEST(FactorMemory, MemoryFunctionsOfThePrivateCopy) {
    void* one = SuiteSparse_malloc(0, 0);  // counts as one byte
    ASSERT_NE(one, nullptr);
    SuiteSparse_free(one);
    EXPECT_EQ(SuiteSparse_malloc(SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(SuiteSparse_calloc(SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(SuiteSparse_free(nullptr), nullptr);

    auto* zeros = static_cast<double*>(SuiteSparse_calloc(5000, sizeof(double)));
    ASSERT_NE(zeros, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(zeros[i], 0.0);
    for (int i = 0; i < 5000; ++i) zeros[i] = i;

    int ok = -1;
    auto* grown =
        static_cast<double*>(SuiteSparse_realloc(90000, 5000, sizeof(double), zeros, &ok));
    EXPECT_EQ(ok, 1);
    ASSERT_NE(grown, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(grown[i], i);

    ok = -1;
    void* same = SuiteSparse_realloc(100, 90000, sizeof(double), grown, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(same, grown);

    ok = -1;
    void* refused = SuiteSparse_realloc(SIZE_MAX / 2, 100, 3, same, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(refused, same);  // the block stays as it was
    SuiteSparse_free(refused);

    ok = -1;
    void* fresh = SuiteSparse_realloc(10, 10, 8, nullptr, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_NE(fresh, nullptr);
    SuiteSparse_free(fresh);

#if SUITESPARSE_MAIN_VERSION >= 7
    EXPECT_EQ(SuiteSparse_config_printf_func_get(), nullptr);
#else
    EXPECT_EQ(SuiteSparse_config.printf_func, nullptr);
    // SuiteSparse 5's struct: its memory members lead to the same blocks, realloc keeping the
    // bytes in use
    auto* items = static_cast<double*>(SuiteSparse_config.calloc_func(5000, sizeof(double)));
    ASSERT_NE(items, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(items[i], 0.0);
    for (int i = 0; i < 5000; ++i) items[i] = i;
    auto* more = static_cast<double*>(SuiteSparse_config.realloc_func(items, 90000 * 8));
    ASSERT_NE(more, nullptr);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(more[i], i);
    SuiteSparse_config.free_func(more);
    void* plain = SuiteSparse_config.malloc_func(100);
    EXPECT_NE(plain, nullptr);
    SuiteSparse_free(plain);
#endif
}

#endif  // VARNOK_PRIVATE_KLU

}  // namespace
}  // namespace varnok
