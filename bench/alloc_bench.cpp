// pal_alloc + pal_free against malloc + free of the same sizes, in one run.
//
// Each iteration allocates a batch of blocks of mixed sizes and frees them
// again (newest first, then oldest first, alternately), with 1 and 2 threads.
// The summary line gives the ratio of the accounted allocator to malloc.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform_core/pal.h"

namespace {

constexpr std::array<unsigned, 8> kSizes{16, 24, 40, 64, 100, 128, 256, 512};
constexpr size_t kBatch = 64;

struct PalAllocator {
    static void *alloc(unsigned n) { return pal_alloc(n, "bench"); }
    static void release(void *p) { pal_free(p); }
};

struct SystemAllocator {
    static void *alloc(unsigned n) { return std::malloc(n); }
    static void release(void *p) { std::free(p); }
};

template <typename A>
void BM_AllocFree(benchmark::State &state) {
    std::array<void *, kBatch> blocks{};
    size_t round = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < kBatch; ++i) blocks[i] = A::alloc(kSizes[(i + round) % kSizes.size()]);
        benchmark::DoNotOptimize(blocks.data());
        if (round++ % 2 == 0) {
            for (size_t i = kBatch; i-- > 0;) A::release(blocks[i]);
        } else {
            for (size_t i = 0; i < kBatch; ++i) A::release(blocks[i]);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}

BENCHMARK_TEMPLATE(BM_AllocFree, SystemAllocator)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_AllocFree, PalAllocator)->Threads(1)->Threads(2)->UseRealTime();

// Collects each run's time per pair and prints the pal/malloc ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &r : runs) {
            if (r.run_type != Run::RT_Iteration && r.aggregate_name != "median") continue;
            std::string name = r.benchmark_name();
            bool pal = name.find("PalAllocator") != std::string::npos;
            std::string threads = name.substr(name.find("threads:"));
            (pal ? pal_ns_ : sys_ns_)[threads] = r.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[threads, sys] : sys_ns_) {
            auto it = pal_ns_.find(threads);
            if (it == pal_ns_.end() || sys <= 0) continue;
            std::printf("ratio pal_alloc+pal_free / malloc+free (%s): %.2fx\n", threads.c_str(),
                        it->second / sys);
        }
    }

private:
    std::map<std::string, double> pal_ns_, sys_ns_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
