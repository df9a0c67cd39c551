// UP_IS_VALID (a 24-byte copy of the shared valid list, checked against the
// block's write sequence word: no system call while no writer is inside)
// against a plain test of a process-local bitmap. At the end the two run in
// alternating short batches (bench/support/paired_batches.h) and the median
// of the per-pair ratios is printed with its spread.
#include <sched.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

#include <benchmark/benchmark.h>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_sim/sim.h"
#include "support/paired_batches.h"

namespace {

constexpr int kPairedCalls = 100000;
constexpr int kPairs = 101;
constexpr int kWarmupPairs = 10;

constexpr UP kPorts[] = {0x01010001, 0x01010005, 0x0101001C, 0x0101001D, 0x02000003, 0x01010037};

bool bring_up() {
    static const bool up = [] {
        if (unshare(CLONE_NEWIPC) != 0) std::fprintf(stderr, "note: sharing the host's IPC namespace\n");
        simProcessSetPid(PID_CORE);
        simSetDefaultDbgSwitch(0);
        return axshm_init() == 0 && debugFlagInit() == 0 && adPmpInit() == 0 && up_core_init() == 0;
    }();
    return up;
}

void BM_UpIsValidShared(benchmark::State &state) {
    if (!bring_up()) {
        state.SkipWithError("the unit and port model did not start");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(UP_IS_VALID(kPorts[i]));
        i = (i + 1) % (sizeof kPorts / sizeof kPorts[0]);
    }
}
BENCHMARK(BM_UpIsValidShared);

void BM_LocalBitmapTest(benchmark::State &state) {
    up_list valid{};
    if (bring_up()) inner_up_valid_list_get(&valid);
    size_t i = 0;
    for (auto _ : state) {
        UP up = kPorts[i];
        uint32_t bit = up & 0xFF;
        bool ok = (up >> 24) == 1 && ((up >> 16) & 0xFF) == 1 && ((up >> 8) & 0xFF) == 0 && bit <= 54 &&
                  ((valid.bits[bit / 32] >> (bit % 32)) & 1u);
        benchmark::DoNotOptimize(ok);
        i = (i + 1) % (sizeof kPorts / sizeof kPorts[0]);
    }
}
BENCHMARK(BM_LocalBitmapTest);

// Median ns per call of `fn` over `rounds` rounds of `calls` calls.
template <class Fn>
double median_ns(Fn fn, int rounds = 9, int calls = 200000) {
    double samples[16];
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        for (int c = 0; c < calls; ++c) fn(c);
        auto t1 = std::chrono::steady_clock::now();
        samples[r] = std::chrono::duration<double, std::nano>(t1 - t0).count() / calls;
    }
    for (int a = 0; a < rounds; ++a)
        for (int b = a + 1; b < rounds; ++b)
            if (samples[b] < samples[a]) std::swap(samples[a], samples[b]);
    return samples[rounds / 2];
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!bring_up()) return 1;
    up_list valid{};
    inner_up_valid_list_get(&valid);
    volatile int sink = 0;
    const size_t n = sizeof kPorts / sizeof kPorts[0];
    auto shared_batch = [&] {
        return pc::bench::timed_batch(
            kPairedCalls, [&](long c) { sink = sink + UP_IS_VALID(kPorts[static_cast<size_t>(c) % n]); });
    };
    auto local_batch = [&] {
        return pc::bench::timed_batch(kPairedCalls, [&](long c) {
            UP up = kPorts[static_cast<size_t>(c) % n];
            uint32_t bit = up & 0xFF;
            sink = sink + static_cast<int>((up >> 24) == 1 && bit <= 54 &&
                                           ((valid.bits[bit / 32] >> (bit % 32)) & 1u));
        });
    };
    std::printf("\none batch: %d calls\n", kPairedCalls);
    pc::bench::print_paired_header(stdout, "ns/call");
    auto r = pc::bench::run_paired(local_batch, shared_batch, {kWarmupPairs, kPairs});
    pc::bench::print_paired(stdout, "UP_IS_VALID shared / local bitmap", r);
    // Two more read-mostly lookups: a port's mode bit and the device state,
    // each a copy of the 352-byte property block checked the same way.
    constexpr UP kLags[] = {0x02000001, 0x02000003, 0x0200000E};  // always legal targets of a mode
    double mode =
        median_ns([&](int c) { sink = sink + upProptChkMode(kLags[static_cast<size_t>(c) % 3], 1); });
    double dev = median_ns([&](int) {
        uint32_t stat = 0;
        sink = sink + upProptDevStatGet(1u, &stat) + static_cast<int>(stat);
    });
    std::printf("upProptChkMode (shared block):  median %.1f ns/call\n", mode);
    std::printf("upProptDevStatGet (shared block): median %.1f ns/call\n", dev);
    return 0;
}
