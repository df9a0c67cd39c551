// Benchmarks that hold still on a shared, drifting machine.
//
// The anchor and the subject run in alternating short batches (A B A B ...).
// Each pair gives one ratio subject/anchor; since both batches of a pair run
// within a few milliseconds of each other, a machine that slows down or
// speeds up (another build starting, a CPU frequency change) moves both
// sides alike and the ratio stays put. The figure to quote is the median of
// the per-pair ratios; the spread of those ratios says how far to trust it.
//
// A batch is a callable that runs a fixed number of operations and returns
// its cost per operation (any unit, the same for both sides); `timed_batch`
// times one for callers that have nothing better to measure with.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace pc::bench {

struct PairPlan {
    int warmup_pairs;  // run and thrown away (caches, lazily built state)
    int pairs;         // measured pairs
};

// The per-pair ratios (subject / anchor) and each side's batches summarised.
struct PairedResult {
    int pairs = 0;
    double anchor_median = 0;   // cost per operation, the batches' unit
    double subject_median = 0;  // likewise
    double ratio_median = 0;    // median of the per-pair ratios
    double ratio_min = 0;
    double ratio_q1 = 0;  // lower quartile of the ratios
    double ratio_q3 = 0;  // upper quartile
    double ratio_max = 0;
};

using Batch = std::function<double()>;

// Runs warm-up and measured pairs, anchor first in each pair. A batch that
// returns a value <= 0 (failed) ends the measurement; the result then holds
// the pairs measured so far.
PairedResult run_paired(const Batch &anchor, const Batch &subject, const PairPlan &plan);

// Times `ops` calls of `op` and returns nanoseconds per call.
template <typename Op>
double timed_batch(long ops, Op &&op) {
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < ops; ++i) op(i);
    auto elapsed = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0);
    return elapsed.count() / static_cast<double>(ops);
}

// The header lines that `print_paired` lines go under; `unit` names the
// batches' unit ("ns/op", "us/trip").
void print_paired_header(std::FILE *out, const char *unit);

// One line: the label, both medians, the median ratio and its spread (min,
// interquartile range, max) over the pairs.
void print_paired(std::FILE *out, const char *label, const PairedResult &r);

// The value at quantile q (0..1) of the values, nearest rank (0 for none).
double quantile(std::vector<double> values, double q);

}  // namespace pc::bench
