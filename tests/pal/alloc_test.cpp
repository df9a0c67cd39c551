// The accounted allocator and the deadline arithmetic.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform_core/pal.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

unsigned bytes_held() {
    unsigned now = 0;
    pal_alloc_resource_usage_get(&now, nullptr);
    return now;
}

std::string stat_text() {
    pc::test::CaptureStdout out;
    pal_alloc_stat();
    return out.text();
}

TEST(Alloc, sizes_round_up_and_are_listed_per_tag) {
    unsigned before = bytes_held();
    void *p = pal_alloc(5, "X");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(bytes_held(), before + 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    std::string text = stat_text();
    EXPECT_NE(text.find("  X                                  : alloc 1 times, alloc 0x8 bytes\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Detail of each module:\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nSummary:\r\n  Grand total of "), std::string::npos);
    pal_free(p);
    EXPECT_EQ(bytes_held(), before);
}

TEST(Alloc, null_tag_and_equal_tag_texts) {
    void *a = pal_alloc(4, nullptr);
    char tag1[] = "SameTag";
    char tag2[] = "SameTag";
    void *b = pal_alloc(4, tag1);
    void *c = pal_alloc(8, tag2);
    std::string text = stat_text();
    EXPECT_NE(text.find("UNKOWN"), std::string::npos);
    EXPECT_NE(text.find(": alloc 2 times, alloc 0xc bytes"), std::string::npos) << text;
    pal_free(a);
    pal_free(b);
    pal_free(c);
}

TEST(Alloc, overwritten_tail_guard_is_detected) {
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    auto *p = static_cast<unsigned char *>(pal_alloc(4, "over"));
    unsigned char saved = p[4];
    p[4] = 0x11;  // one byte past the payload, into the tail guard
    pc::test::CaptureStdout out;
    EXPECT_EQ(pal_alloc_memflow_detect(), 1);
    std::string text = out.text();
    EXPECT_NE(text.find("memory overflow, size=4, start=0xaaaaaaaa, end="), std::string::npos) << text;
    EXPECT_EQ(text.find("end=0xbbbbbbbb"), std::string::npos);
    p[4] = saved;
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    pal_free(p);
}

TEST(Alloc, realloc_and_calloc) {
    unsigned before = bytes_held();
    EXPECT_EQ(pal_realloc(nullptr, 0, "r"), nullptr);
    auto *p = static_cast<char *>(pal_realloc(nullptr, 16, "r"));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "0123456789abcdef", 16);
    p = static_cast<char *>(pal_realloc(p, 64, "r"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "0123456789abcdef", 16), 0);
    // Large enough for the C library to map it apart, often in a granule
    // that held no block before.
    p = static_cast<char *>(pal_realloc(p, 1u << 20, "r"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "0123456789abcdef", 16), 0);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    p = static_cast<char *>(pal_realloc(p, 4, "r"));
    EXPECT_EQ(std::memcmp(p, "0123", 4), 0);
    EXPECT_EQ(pal_realloc(p, 0, "r"), nullptr);
    EXPECT_EQ(bytes_held(), before);

    auto *z = static_cast<unsigned char *>(pal_calloc(3, 5, "z"));
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(z[i], 0);
    EXPECT_EQ(bytes_held(), before + 16);
    pal_free(z);
    EXPECT_EQ(pal_calloc(0x10000, 0x10000, "huge"), nullptr);
}

TEST(Alloc, free_refuses_a_block_whose_links_contradict_the_list) {
    void *a = pal_alloc(16, "A");
    void *b = pal_alloc(16, "B");  // newest: the head
    unsigned held = bytes_held();
    // A block that is not the head but claims to have no prev neighbour:
    // a copy of a's header placed in front of a fake payload.
    alignas(std::max_align_t) unsigned char fake[256];
    size_t header_area =
        static_cast<size_t>(static_cast<unsigned char *>(a) -
                            reinterpret_cast<unsigned char *>(*(reinterpret_cast<void **>(a) - 1)));
    ASSERT_LT(header_area + 32, sizeof fake);
    std::memcpy(fake, static_cast<unsigned char *>(a) - header_area, header_area + 20);
    void *fake_payload = fake + header_area;
    *(reinterpret_cast<void **>(fake_payload) - 1) = fake;
    pc::test::CaptureStdout out;
    pal_free(fake_payload);
    EXPECT_NE(out.text().find("refused"), std::string::npos);
    EXPECT_EQ(bytes_held(), held);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);  // list intact
    pal_free(b);
    pal_free(a);
}

// Liveness is decided without reading in front of the pointer, so these
// run under the sanitizers too: a second free, a pointer from malloc, one
// into the middle of a block, a misaligned one, one on the stack and one at
// the top of the address space are all refused, and the accounts and the
// list stay as they were.
TEST(Alloc, pointers_that_are_not_live_blocks_are_refused) {
    void *keep = pal_alloc(32, "keep");
    void *freed = pal_alloc(32, "twice");
    pal_free(freed);
    void *foreign = std::malloc(64);
    alignas(std::max_align_t) unsigned char on_stack[64] = {};
    // Beyond what the map of live blocks covers (64-bit) or in a granule
    // that never held a block (32-bit): neither is ever dereferenced.
    void *const top = reinterpret_cast<void *>(~uintptr_t{0} & ~uintptr_t{0xFF});
    void *const cases[] = {freed,
                           foreign,
                           static_cast<char *>(keep) + 16,  // inside a live block
                           static_cast<char *>(keep) + 4,   // misaligned
                           on_stack + 32,
                           top};
    unsigned held = bytes_held();
    for (void *p : cases) {
        pc::test::CaptureStdout out;
        pal_free(p);
        EXPECT_NE(out.text().find("refused"), std::string::npos) << p;
        pc::test::CaptureStdout out2;
        EXPECT_EQ(pal_realloc(p, 8, "re"), nullptr) << p;
        EXPECT_NE(out2.text().find("refused"), std::string::npos) << p;
    }
    EXPECT_EQ(bytes_held(), held);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    std::free(foreign);
    pal_free(keep);
}

// Sizes whose block (header, payload, guard) would wrap the address space
// are refused by every entry point and leave the heap intact.
TEST(Alloc, sizes_whose_block_would_wrap_are_refused) {
    std::vector<unsigned> sizes{0xFFFFFFFFu, 0xFFFFFFFDu};
    if (sizeof(void *) == 4) sizes.insert(sizes.end(), {0xFFFFFFF0u, 0xFFFFFFE0u, 0xFFFFFFC0u});
    void *p = pal_alloc(16, "keep");
    std::memset(p, 0x5A, 16);
    for (unsigned size : sizes) {
        EXPECT_EQ(pal_alloc(size, "huge"), nullptr) << std::hex << size;
        EXPECT_EQ(pal_calloc(1, size, "huge"), nullptr) << std::hex << size;
        EXPECT_EQ(pal_realloc(p, size, "huge"), nullptr) << std::hex << size;
    }
    EXPECT_EQ(static_cast<unsigned char *>(p)[15], 0x5A);  // the old block stays
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    void *q = pal_alloc(64, "after");  // the heap still works
    ASSERT_NE(q, nullptr);
    pal_free(q);
    pal_free(p);
}

TEST(Alloc, concurrent_use_keeps_the_accounts) {
    unsigned before = bytes_held();
    auto worker = [] {
        std::vector<void *> blocks;
        for (int i = 0; i < 2000; ++i) {
            blocks.push_back(pal_alloc(static_cast<unsigned>(i % 100 + 1), "worker"));
            if (i % 3 == 0) {
                pal_free(blocks.back());
                blocks.pop_back();
            }
        }
        for (void *b : blocks) pal_free(b);
    };
    // The walks hold every shard while they print, so the workers also wait
    // out a long-held shard (spinning, yielding, then napping).
    std::atomic<bool> done{false};
    std::thread walker([&done] {
        while (!done.load()) {
            EXPECT_EQ(pal_alloc_memflow_detect(), 0);
            (void)stat_text();
        }
    });
    std::thread t1(worker), t2(worker);
    t1.join();
    t2.join();
    done = true;
    walker.join();
    EXPECT_EQ(bytes_held(), before);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
}

// A thread that allocates in bursts gets its shard to itself; the blocks
// are then freed by another thread, which must take the shard back from
// it, while a walker holds every shard now and then. A pointer from malloc
// in the allocating thread's heap, freed by the other thread, is still
// refused. The accounts and the list end as they began.
TEST(Alloc, blocks_freed_by_another_thread_while_walks_run) {
    const unsigned before = bytes_held();
    constexpr int kBursts = 60;
    constexpr int kBurst = 300;
    struct Handed {
        void *p;
        bool foreign;  // from malloc, not pal_alloc
    };
    std::mutex m;
    std::condition_variable cv;
    std::deque<Handed> handed;
    bool producing = true;
    std::atomic<int> refused{0};

    std::thread producer([&] {
        for (int b = 0; b < kBursts; ++b) {
            std::vector<Handed> burst{{std::malloc(64), true}};
            for (int i = 0; i < kBurst; ++i) {
                void *p = pal_alloc(static_cast<unsigned>(i % 200 + 1), "handed");
                EXPECT_NE(p, nullptr);
                if (p == nullptr) continue;
                std::memset(p, 0x5A, 1);
                if (i % 2 == 0)
                    burst.push_back({p, false});
                else
                    pal_free(p);  // its own, on its own shard
            }
            std::lock_guard<std::mutex> lock(m);
            handed.insert(handed.end(), burst.begin(), burst.end());
            cv.notify_one();
        }
        std::lock_guard<std::mutex> lock(m);
        producing = false;
        cv.notify_one();
    });
    std::thread consumer([&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return !handed.empty() || !producing; });
            if (handed.empty()) return;
            Handed h = handed.front();
            handed.pop_front();
            lock.unlock();
            if (!h.foreign) {
                pal_free(h.p);
                continue;
            }
            pc::test::CaptureStdout out;
            pal_free(h.p);
            if (out.text().find("refused") != std::string::npos) refused++;
            std::free(h.p);
        }
    });
    std::atomic<bool> done{false};
    std::thread walker([&done] {
        while (!done.load()) {
            EXPECT_EQ(pal_alloc_memflow_detect(), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    producer.join();
    consumer.join();
    done = true;
    walker.join();
    EXPECT_EQ(refused.load(), kBursts);
    EXPECT_EQ(bytes_held(), before);
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
}

// The peak is exact in one thread when no other shard holds a change it has
// not published; earlier tests leave such changes behind, so this one has a
// process of its own.
TEST(Alloc, peak_follows_the_bytes_held) {
    if (!pc::test::runs_alone()) return;
    unsigned peak = 0;
    pal_alloc_resource_usage_get(nullptr, &peak);
    const unsigned before = bytes_held();
    ASSERT_LE(before, peak);
    // Enough blocks, spread over the shards, to pass the old peak by 4000.
    std::vector<void *> blocks;
    const unsigned need = peak - before + 4000;
    for (unsigned held = 0; held < need; held += 40) blocks.push_back(pal_alloc(40, "peak"));
    const unsigned top = bytes_held();
    unsigned now = 0;
    pal_alloc_resource_usage_get(&now, &peak);
    EXPECT_EQ(now, top);
    EXPECT_EQ(peak, top);
    for (void *b : blocks) pal_free(b);
    pal_alloc_resource_usage_get(&now, &peak);
    EXPECT_EQ(now, before);
    EXPECT_EQ(peak, top);
}

TEST(Deadline, adds_and_normalises) {
    struct Case {
        unsigned amount;
        bool micro;
    };
    for (Case c : {Case{1500, false}, Case{999, false}, Case{2500000, true}, Case{1, true}, Case{0, false}}) {
        timespec before{}, ts{}, after{};
        clock_gettime(CLOCK_REALTIME, &before);
        ASSERT_EQ(c.micro ? pal_compute_timeout(&ts, c.amount) : pal_compute_timeout_ms(&ts, c.amount), 0);
        clock_gettime(CLOCK_REALTIME, &after);
        EXPECT_GE(ts.tv_nsec, 0);
        EXPECT_LT(ts.tv_nsec, 1000000000L);
        auto ns = [](const timespec &t) {
            return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
        };
        long long add = c.micro ? c.amount * 1000LL : c.amount * 1000000LL;
        EXPECT_GE(ns(ts), ns(before) + add);
        EXPECT_LE(ns(ts), ns(after) + add);
    }
}

TEST(Clock, monotonic_readings_agree) {
    long long ms = pal_time_msecs();
    unsigned long long us = pal_time_usecs();
    long long s = pal_time();
    EXPECT_NEAR(static_cast<double>(us / 1000), static_cast<double>(ms), 50.0);
    EXPECT_NEAR(static_cast<double>(ms / 1000), static_cast<double>(s), 1.0);
    EXPECT_GT(pal_time_double(), 1.6e9);
}

}  // namespace
