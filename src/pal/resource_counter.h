// A "now / at most" pair of counters for resource usage reports.
#pragma once

#include <atomic>

namespace pc::pal {

class ResourceCounter {
public:
    void add(unsigned n = 1) {
        unsigned v = now_.fetch_add(n, std::memory_order_relaxed) + n;
        unsigned m = max_.load(std::memory_order_relaxed);
        while (v > m && !max_.compare_exchange_weak(m, v, std::memory_order_relaxed)) {
        }
    }
    void sub(unsigned n = 1) { now_.fetch_sub(n, std::memory_order_relaxed); }
    void get(unsigned *now, unsigned *max) const {
        if (now) *now = now_.load(std::memory_order_relaxed);
        if (max) *max = max_.load(std::memory_order_relaxed);
    }

private:
    std::atomic<unsigned> now_{0};
    std::atomic<unsigned> max_{0};
};

}  // namespace pc::pal
