// Timer service benchmarks, each beside an anchor measured in the same run.
//
// (a) add_timer + del_timer with 10, 1,000 and 10,000 timers pending,
//     beside insert + erase in a std::multimap of the same size (a plain
//     balanced tree): both should grow logarithmically with the count.
// (b) Dispatch lateness: from a one-shot timer's expiry to its handler
//     starting on a worker, over 1,000 timers, beside the lateness of a
//     plain timerfd wake-up. Printed as median and 99th percentile.
//
// The ratios run anchor and subject in alternating short batches
// (bench/support/paired_batches.h) and print the median of the per-pair
// ratios with its spread: add + delete at each count against the multimap,
// and the mean lateness of a batch of samples against timerfd's.
//
// Run it pinned (taskset -c 0) and unpinned: crossing CPUs costs a wake-up.
#include <benchmark/benchmark.h>
#include <semaphore.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform_core/timer.h"
#include "support/paired_batches.h"

namespace {

constexpr int kLatenessSamples = 1000;
constexpr int kLatenessBatch = 20;  // samples per batch of the paired lateness ratio
constexpr long kAddDeleteBatch = 20000;
constexpr int kPairs = 51;
constexpr int kWarmupPairs = 5;
constexpr long kBaseDelayNs = 2000000;  // each lateness sample waits 2 ms ...
constexpr long kSpreadNs = 997000;      // ... plus a varying part of a millisecond
constexpr timespec kFarAway{3600, 0};   // pending timers that never expire in the run
constexpr timespec kNearer{1800, 0};    // the timer added and deleted: due before them

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void noop(uintptr_t) {}

void fill_pending(int count) {
    char name[TIMER_NAME_LEN];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "pending%d", i);
        add_timer(name, &kFarAway, noop, 0, TIMER_MODE_ONESHOT);
    }
}

void BM_TimerAddDelete(benchmark::State &state) {
    timer_clear();
    fill_pending(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        timer_id_t id = add_timer("bench", &kNearer, noop, 0, TIMER_MODE_ONESHOT);
        benchmark::DoNotOptimize(id);
        del_timer(id);
    }
    timer_clear();
}

void BM_AnchorMultimapInsertErase(benchmark::State &state) {
    std::multimap<int64_t, std::string> pending;
    int64_t base = now_ns();
    for (int64_t i = 0; i < state.range(0); ++i) pending.emplace(base + 3600000000000 + i, "pending");
    for (auto _ : state) {
        auto it = pending.emplace(base + 1800000000000, "bench");
        benchmark::DoNotOptimize(it);
        pending.erase(it);
    }
}

BENCHMARK(BM_TimerAddDelete)->Arg(10)->Arg(1000)->Arg(10000)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_AnchorMultimapInsertErase)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Keeps the median of every benchmark for the closing ratios.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians_[run.run_name.function_name + "/" + run.run_name.args] = {run.GetAdjustedRealTime(),
                                                                                  run.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    struct Times {
        double real_ns = 0;
        double cpu_ns = 0;
    };
    Times median(const std::string &name) const {
        auto it = medians_.find(name);
        return it == medians_.end() ? Times{} : it->second;
    }

private:
    std::map<std::string, Times> medians_;  // by "function/argument"
};

// ---- Dispatch lateness ---------------------------------------------------

struct Wakeup {
    sem_t done;
    std::atomic<int64_t> started_ns{0};
};

void record_start(uintptr_t arg) {
    auto *w = reinterpret_cast<Wakeup *>(arg);
    w->started_ns.store(now_ns());
    sem_post(&w->done);
}

void wait_done(Wakeup &w) {
    while (sem_wait(&w.done) != 0 && errno == EINTR) {
    }
}

int64_t timer_lateness(Wakeup &w, long delay_ns) {
    timespec delay{0, delay_ns};
    int64_t due = now_ns() + delay_ns;
    if (add_timer("lateness", &delay, record_start, reinterpret_cast<uintptr_t>(&w), TIMER_MODE_ONESHOT)
            .name[0] == '\0')
        return -1;
    wait_done(w);
    return w.started_ns.load() - due;
}

int64_t timerfd_lateness(int fd, long delay_ns) {
    itimerspec spec{};
    spec.it_value = timespec{0, delay_ns};
    int64_t due = now_ns() + delay_ns;
    if (timerfd_settime(fd, 0, &spec, nullptr) != 0) return -1;
    uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) return -1;
    return now_ns() - due;
}

struct Summary {
    double median_us;
    double p99_us;
};

Summary summarise(std::vector<int64_t> ns) {
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) {
        return static_cast<double>(ns[static_cast<size_t>(q * (ns.size() - 1))]) / 1000.0;
    };
    return Summary{at(0.5), at(0.99)};
}

bool measure_lateness() {
    int fd = timerfd_create(CLOCK_MONOTONIC, 0);
    if (fd < 0) return false;
    Wakeup w;
    sem_init(&w.done, 0, 0);
    std::vector<int64_t> timer_ns, fd_ns;
    int sample = 0;
    // Mean lateness (us) of a batch of samples of one kind; -1 on failure.
    auto batch = [&](bool timer) {
        int64_t sum = 0;
        for (int i = 0; i < kLatenessBatch; ++i) {
            long delay = kBaseDelayNs + (static_cast<long>(sample++) * 7919) % kSpreadNs;
            int64_t ns = timer ? timer_lateness(w, delay) : timerfd_lateness(fd, delay);
            if (ns < 0) return -1.0;
            (timer ? timer_ns : fd_ns).push_back(ns);
            sum += ns;
        }
        // A lateness of 0 would end the pairs: count it as 1 ns.
        return std::max<double>(static_cast<double>(sum) / kLatenessBatch, 1.0) / 1000.0;
    };
    auto paired = pc::bench::run_paired([&] { return batch(false); }, [&] { return batch(true); },
                                        {0, kLatenessSamples / kLatenessBatch});
    close(fd);
    sem_destroy(&w.done);
    if (timer_ns.empty() || fd_ns.empty()) return false;

    Summary timer = summarise(timer_ns);
    Summary plain = summarise(fd_ns);
    std::printf("\nDispatch lateness over %zu one-shot timers (expiry to handler start):\n", timer_ns.size());
    std::printf("  timer service: median %8.1f us  p99 %8.1f us\n", timer.median_us, timer.p99_us);
    std::printf("  timerfd:       median %8.1f us  p99 %8.1f us\n", plain.median_us, plain.p99_us);
    double goal_us = 2.0 * plain.median_us + 1000.0;
    std::printf("  goal: median <= 2 x timerfd + 1 ms = %.1f us: %s\n", goal_us,
                timer.median_us <= goal_us ? "met" : "MISSED");
    std::printf("\nmean lateness of batches of %d samples, timerfd batches alternating with timer batches:\n",
                kLatenessBatch);
    pc::bench::print_paired_header(stdout, "us");
    pc::bench::print_paired(stdout, "timer service / timerfd lateness", paired);
    return true;
}

// add + delete with `count` timers pending, against a multimap of as many
// entries, in alternating batches.
void paired_add_delete(int count) {
    timer_clear();
    fill_pending(count);
    std::multimap<int64_t, std::string> pending;
    const int64_t base = now_ns();
    for (int64_t i = 0; i < count; ++i) pending.emplace(base + 3600000000000 + i, "pending");
    auto timer = [] {
        return pc::bench::timed_batch(kAddDeleteBatch, [](long) {
            timer_id_t id = add_timer("bench", &kNearer, noop, 0, TIMER_MODE_ONESHOT);
            benchmark::DoNotOptimize(id);
            del_timer(id);
        });
    };
    auto anchor = [&] {
        return pc::bench::timed_batch(kAddDeleteBatch, [&](long) {
            auto it = pending.emplace(base + 1800000000000, "bench");
            benchmark::DoNotOptimize(it);
            pending.erase(it);
        });
    };
    auto r = pc::bench::run_paired(anchor, timer, {kWarmupPairs, kPairs});
    const std::string label = "add+delete / multimap, " + std::to_string(count);
    pc::bench::print_paired(stdout, label.c_str(), r);
    timer_clear();
}

void print_growth(const MedianReporter &rep) {
    const char *names[] = {"BM_TimerAddDelete", "BM_AnchorMultimapInsertErase"};
    const char *counts[] = {"10", "1000", "10000"};
    std::printf("\nadd + delete, median ns per pair (real / cpu):\n");
    for (const char *name : names) {
        std::printf("  %-30s", name);
        for (const char *count : counts) {
            auto t = rep.median(std::string(name) + "/" + count);
            std::printf("  %5s: %7.1f / %7.1f", count, t.real_ns, t.cpu_ns);
        }
        auto small = rep.median(std::string(name) + "/10");
        auto large = rep.median(std::string(name) + "/10000");
        if (small.real_ns > 0 && small.cpu_ns > 0)
            std::printf("  10000/10: %.2f / %.2f", large.real_ns / small.real_ns,
                        large.cpu_ns / small.cpu_ns);
        std::printf("\n");
    }
    std::printf("\nadd + delete against a multimap, alternating batches of %ld pairs:\n", kAddDeleteBatch);
    pc::bench::print_paired_header(stdout, "ns/op");
    for (int count : {10, 1000, 10000}) paired_add_delete(count);
}

}  // namespace

int main(int argc, char **argv) {
    if (timer_init() != 0) {
        std::fprintf(stderr, "timer_init failed\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_growth(reporter);
    if (!measure_lateness()) {
        std::fprintf(stderr, "lateness measurement failed\n");
        return 1;
    }
    return 0;
}
