// Small blocks in the allocator's own runs: the size classes and their run
// layout, blocks of every small size filled to their last byte, and runs
// that empty, go back to the pool and serve another thread and class,
// also while threads free each other's blocks and a walker looks on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "pal/block_runs.h"
#include "platform_core/pal.h"
#include "support/capture_stdout.h"

namespace {

using pc::pal::kRunBytes;
using pc::pal::kSlotClasses;

unsigned bytes_held() {
    unsigned now = 0;
    pal_alloc_resource_usage_get(&now, nullptr);
    return now;
}

uintptr_t run_base(const void *p) { return reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kRunBytes - 1}; }

TEST(AllocRuns, classes_grow_and_their_slots_fit_behind_header_and_free_stack) {
    size_t last = 0;
    for (unsigned c = 0; c < kSlotClasses.count; ++c) {
        const pc::pal::SlotClass &k = kSlotClasses.classes[c];
        EXPECT_GT(k.slot_bytes, last) << c;
        EXPECT_EQ(k.slot_bytes % pc::pal::kRunUnit, 0u) << c;
        const size_t first = size_t{k.first_unit} * pc::pal::kRunUnit;
        EXPECT_GE(first, sizeof(pc::pal::Run) + k.slots * sizeof(uint16_t)) << c;
        EXPECT_LE(first + size_t{k.slots} * k.slot_bytes, kRunBytes) << c;
        last = k.slot_bytes;
    }
    for (size_t bytes = 1; bytes <= pc::pal::kMaxSlotBytes; ++bytes) {
        const unsigned c = kSlotClasses.class_of(bytes);
        ASSERT_GE(kSlotClasses.classes[c].slot_bytes, bytes);
        if (c > 0) {
            ASSERT_LT(kSlotClasses.classes[c - 1].slot_bytes, bytes);
        }
    }
}

// Every payload size up to past the largest slot, several blocks each,
// written to the last byte: no block reaches into a neighbour's guards.
TEST(AllocRuns, every_small_size_holds_its_whole_payload) {
    const unsigned before = bytes_held();
    std::vector<void *> blocks;
    unsigned expected = 0;
    for (unsigned size = 1; size <= pc::pal::kMaxSlotBytes + 64; size += 3) {
        for (int i = 0; i < 3; ++i) {
            auto *p = static_cast<unsigned char *>(pal_alloc(size, "every"));
            ASSERT_NE(p, nullptr) << size;
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
            std::memset(p, 0x77, (size + 3u) & ~3u);
            blocks.push_back(p);
            expected += (size + 3u) & ~3u;
        }
    }
    EXPECT_EQ(bytes_held(), before + expected);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    for (void *p : blocks) pal_free(p);
    EXPECT_EQ(bytes_held(), before);
}

// Enough blocks of one class to fill several runs.
std::vector<void *> fill_runs(unsigned size, int runs, const char *tag) {
    const size_t per_run = kSlotClasses.classes[kSlotClasses.class_of(size + 100)].slots;
    std::vector<void *> blocks;
    for (size_t i = 0; i < per_run * static_cast<size_t>(runs); ++i) blocks.push_back(pal_alloc(size, tag));
    return blocks;
}

TEST(AllocRuns, emptied_runs_go_back_and_serve_another_thread_and_class) {
    const unsigned before = bytes_held();
    std::vector<void *> first;
    std::thread([&] { first = fill_runs(200, 12, "first"); }).join();
    std::set<uintptr_t> first_runs;
    for (void *p : first) {
        ASSERT_NE(p, nullptr);
        first_runs.insert(run_base(p));
    }
    ASSERT_GE(first_runs.size(), 10u);  // more than the pool keeps backed
    for (void *p : first) pal_free(p);  // from another thread than the one that allocated
    EXPECT_EQ(bytes_held(), before);

    // Their runs are empty now; a second free of any of these is refused.
    for (void *p : {first.front(), first[first.size() / 2], first.back()}) {
        pc::test::CaptureStdout out;
        pal_free(p);
        EXPECT_NE(out.text().find("refused"), std::string::npos) << p;
    }

    std::vector<void *> second;
    std::thread([&] {
        second = fill_runs(40, 4, "second");
        bool reused = false;
        for (void *p : second) reused = reused || first_runs.count(run_base(p)) != 0;
        EXPECT_TRUE(reused);
        EXPECT_EQ(pal_alloc_memflow_detect(), 0);
        for (void *p : second) pal_free(p);
    }).join();
    EXPECT_EQ(bytes_held(), before);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
}

// Two threads each allocate bursts that fill and empty runs of several
// classes, and hand every other block to the other thread to free, so runs
// empty under remote frees and pass through the pool between shards while
// a walker checks the guards and prints the statistics.
TEST(AllocRuns, blocks_freed_across_threads_while_runs_move_and_walks_run) {
    const unsigned before = bytes_held();
    constexpr int kBursts = 20;
    constexpr unsigned kSizes[] = {24, 200, 700, 1900};
    struct Mailbox {
        std::mutex m;
        std::deque<void *> blocks;
    };
    Mailbox boxes[2];
    std::atomic<int> running{2};
    std::atomic<bool> failed{false};

    auto worker = [&](int me) {
        Mailbox &mine = boxes[me];
        Mailbox &theirs = boxes[1 - me];
        for (int burst = 0; burst < kBursts; ++burst) {
            std::vector<void *> kept;
            for (unsigned size : kSizes) {
                for (void *p : fill_runs(size, 2, "moved")) {
                    if (p == nullptr) {
                        failed = true;
                        continue;
                    }
                    std::memset(p, me, size);
                    if (kept.size() % 2 == 0) {
                        std::lock_guard<std::mutex> lock(theirs.m);
                        theirs.blocks.push_back(p);
                    }
                    kept.push_back(p);
                }
            }
            for (size_t i = 0; i < kept.size(); ++i)
                if (i % 2 == 1) pal_free(kept[i]);
            std::deque<void *> handed;
            {
                std::lock_guard<std::mutex> lock(mine.m);
                handed.swap(mine.blocks);
            }
            for (void *p : handed) pal_free(p);
        }
        running--;
    };
    std::atomic<bool> done{false};
    std::thread walker([&] {
        while (!done.load()) {
            EXPECT_EQ(pal_alloc_memflow_detect(), 0);
            pc::test::CaptureStdout out;
            pal_alloc_stat();
            EXPECT_EQ(out.text().find("refused"), std::string::npos);
        }
    });
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    done = true;
    walker.join();
    for (Mailbox &box : boxes)
        for (void *p : box.blocks) pal_free(p);
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(bytes_held(), before);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
}

#if defined(__SANITIZE_ADDRESS__)
// Slots are open to the program only while handed out, as blocks from the
// C library would be: a use after free and a write past the slot are caught.
TEST(AllocRuns, slots_are_open_to_the_address_sanitizer_only_while_handed_out) {
    auto *p = static_cast<char *>(pal_alloc(64, "asan"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(__asan_region_is_poisoned(p, 64), nullptr);
    const size_t slot = kSlotClasses.classes[kSlotClasses.class_of(64 + 100)].slot_bytes;
    EXPECT_NE(__asan_region_is_poisoned(p, slot), nullptr);  // the slot's end is past the block
    pal_free(p);
    EXPECT_TRUE(__asan_address_is_poisoned(p));
}
#endif

}  // namespace
