// pal_alloc + pal_free against malloc + free of the same sizes, in one run.
//
// Each round allocates 64 blocks of mixed sizes and frees them again (newest
// first, then oldest first, alternately). A batch is a fixed number of
// rounds on 1 or 2 threads at once; malloc batches (the anchor) and
// pal_alloc batches alternate, and each line gives the medians of both and
// the median of the per-pair ratios with their spread.
//
// Run it under `taskset -c 0` and unpinned. Usage: alloc_bench [pairs]
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform_core/pal.h"
#include "support/paired_batches.h"
#include "support/thread_team.h"

namespace {

constexpr std::array<unsigned, 8> kSizes{16, 24, 40, 64, 100, 128, 256, 512};
constexpr size_t kBlocksPerRound = 64;
constexpr int kRoundsPerBatch = 200;
constexpr int kDefaultPairs = 201;
constexpr int kWarmupPairs = 20;
constexpr int kMaxThreads = 2;

struct PalAllocator {
    static void *alloc(unsigned n) { return pal_alloc(n, "bench"); }
    static void release(void *p) { pal_free(p); }
};

struct SystemAllocator {
    static void *alloc(unsigned n) { return std::malloc(n); }
    static void release(void *p) { std::free(p); }
};

template <typename A>
void alloc_free_rounds(int rounds) {
    std::array<void *, kBlocksPerRound> blocks{};
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < kBlocksPerRound; ++i)
            blocks[i] = A::alloc(kSizes[(i + static_cast<size_t>(round)) % kSizes.size()]);
        benchmark::DoNotOptimize(blocks.data());
        if (round % 2 == 0) {
            for (size_t i = kBlocksPerRound; i-- > 0;) A::release(blocks[i]);
        } else {
            for (size_t i = 0; i < kBlocksPerRound; ++i) A::release(blocks[i]);
        }
    }
}

// One batch on every member of the team: ns per allocate+free on each thread.
template <typename A>
double team_batch(pc::bench::ThreadTeam &team) {
    double ns = team.run([](int) { alloc_free_rounds<A>(kRoundsPerBatch); });
    return ns / (static_cast<double>(kRoundsPerBatch) * kBlocksPerRound);
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    if (pairs <= 0) {
        std::fprintf(stderr, "usage: alloc_bench [pairs]\n");
        return 2;
    }
    std::printf("one batch: %d rounds of %zu blocks (%u..%u bytes) allocated and freed per thread\n",
                kRoundsPerBatch, kBlocksPerRound, kSizes.front(), kSizes.back());
    pc::bench::print_paired_header(stdout, "ns/op");
    for (int threads = 1; threads <= kMaxThreads; ++threads) {
        pc::bench::ThreadTeam team(threads);
        auto result =
            pc::bench::run_paired([&] { return team_batch<SystemAllocator>(team); },
                                  [&] { return team_batch<PalAllocator>(team); }, {kWarmupPairs, pairs});
        std::string label =
            "pal/malloc, " + std::to_string(threads) + (threads == 1 ? " thread" : " threads");
        pc::bench::print_paired(stdout, label.c_str(), result);
    }
    return 0;
}
