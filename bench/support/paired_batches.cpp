#include "support/paired_batches.h"

#include <algorithm>
#include <cmath>

namespace pc::bench {

double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    auto last = static_cast<double>(values.size() - 1);
    auto at = static_cast<size_t>(std::lround(std::clamp(q, 0.0, 1.0) * last));
    return values[at];
}

PairedResult run_paired(const Batch &anchor, const Batch &subject, const PairPlan &plan) {
    for (int i = 0; i < plan.warmup_pairs; ++i) {
        if (anchor() <= 0 || subject() <= 0) return {};
    }
    std::vector<double> anchors, subjects, ratios;
    for (int i = 0; i < plan.pairs; ++i) {
        double a = anchor();
        if (a <= 0) break;
        double s = subject();
        if (s <= 0) break;
        anchors.push_back(a);
        subjects.push_back(s);
        ratios.push_back(s / a);
    }
    PairedResult r;
    r.pairs = static_cast<int>(ratios.size());
    r.anchor_median = quantile(anchors, 0.5);
    r.subject_median = quantile(subjects, 0.5);
    r.ratio_median = quantile(ratios, 0.5);
    r.ratio_min = quantile(ratios, 0.0);
    r.ratio_q1 = quantile(ratios, 0.25);
    r.ratio_q3 = quantile(ratios, 0.75);
    r.ratio_max = quantile(ratios, 1.0);
    return r;
}

void print_paired_header(std::FILE *out, const char *unit) {
    std::fprintf(out, "%-34s %10s %10s %7s   %s\n", "", "anchor", "subject", "ratio",
                 "ratio spread over pairs: min [q1 q3] max");
    std::fprintf(out, "%-34s %10s %10s\n", "(medians of alternating batches)", unit, unit);
}

void print_paired(std::FILE *out, const char *label, const PairedResult &r) {
    if (r.pairs == 0) {
        std::fprintf(out, "%-34s failed (no pair measured)\n", label);
        return;
    }
    std::fprintf(out, "%-34s %10.2f %10.2f %6.2fx   %.2f [%.2f %.2f] %.2f  (%d pairs)\n", label,
                 r.anchor_median, r.subject_median, r.ratio_median, r.ratio_min, r.ratio_q1, r.ratio_q3,
                 r.ratio_max, r.pairs);
}

}  // namespace pc::bench
