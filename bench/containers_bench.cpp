// Containers against the standard library's nearest equivalent. For each
// operation the standard library's batches (the anchor) and the library's
// alternate (bench/support/paired_batches.h); each line gives both medians
// in ns per element and the median of the per-pair ratios library / std
// (below 1 means the container is faster) with their spread.
//
// A batch is the operation over a whole input (100,000 words; 1,000 for the
// list search, 2,000 for the quadratic sort), repeated on each side until
// it lasts a few milliseconds. Only the operation is timed: filling a container that is
// then drained or searched, and tearing one down after an insert, are not.
// Time is the thread's CPU time, so that a batch which loses the CPU to
// another program is not charged for the wait.
//
// Usage: containers_bench [pairs]
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform_core/containers.h"
#include "support/paired_batches.h"

namespace {

constexpr size_t kElements = 100000;      // words per container or sort
constexpr size_t kListElements = 1000;    // list searched linearly
constexpr size_t kBubbleElements = 2000;  // the quadratic sort's input
constexpr double kBatchTargetNs = 3e6;    // a batch repeats its operation for about this long
constexpr int kMaxRepeats = 1000;
constexpr int kDefaultPairs = 31;
constexpr int kWarmupPairs = 3;
constexpr double kGoalRatio = 1.5;  // the tree and the heap against std

void *word(uintptr_t v) { return reinterpret_cast<void *>(v); }
uintptr_t value(const void *w) { return reinterpret_cast<uintptr_t>(w); }
int compare_words(void *a, void *b) { return (value(a) > value(b)) - (value(a) < value(b)); }
bool less_words(const void *a, const void *b) { return value(a) < value(b); }

// Non-zero random words (containers refuse a null element).
std::vector<void *> random_words(size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<void *> out(n);
    for (auto &w : out) w = word(static_cast<uintptr_t>(rng()) | 1);
    return out;
}

const std::vector<void *> &input() {
    static const std::vector<void *> words = random_words(kElements, 1);
    return words;
}

// The same words in another order, for lookups and removals.
const std::vector<void *> &shuffled_input() {
    static const std::vector<void *> words = [] {
        std::vector<void *> w = input();
        std::shuffle(w.begin(), w.end(), std::mt19937(2));
        return w;
    }();
    return words;
}

// Adds up the thread's CPU time between start() and stop().
class CpuStopwatch {
public:
    void start() { t0_ = now(); }
    void stop() { total_ += now() - t0_; }
    double ns() const { return total_; }

private:
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
    }
    double t0_ = 0;
    double total_ = 0;
};

// One run of an operation over its input, timing only the operation.
using Side = std::function<void(CpuStopwatch &)>;

// --- growable array ---------------------------------------------------------

void darray_append_gdsl(CpuStopwatch &sw) {
    sw.start();
    DArray *array = darrayCreate(nullptr);
    for (void *w : input()) darrayAppend(array, w);
    darrayDestroy(array);
    sw.stop();
}

void darray_append_std(CpuStopwatch &sw) {
    sw.start();
    {
        std::vector<void *> array;
        for (void *w : input()) array.push_back(w);
        benchmark::DoNotOptimize(array.data());
    }
    sw.stop();
}

// --- priority queue ---------------------------------------------------------

using StdHeap = std::priority_queue<uintptr_t, std::vector<uintptr_t>, std::greater<>>;

void pqueue_push_gdsl(CpuStopwatch &sw) {
    sw.start();
    PQueue *pq = pQueueCreate(compare_words, nullptr);
    for (void *w : input()) pQueuePush(pq, w);
    pQueueDestroy(pq);
    sw.stop();
}

void pqueue_push_std(CpuStopwatch &sw) {
    sw.start();
    {
        StdHeap heap;
        for (void *w : input()) heap.push(value(w));
        benchmark::DoNotOptimize(heap.top());
    }
    sw.stop();
}

void pqueue_pop_gdsl(CpuStopwatch &sw) {
    PQueue *pq = pQueueCreate(compare_words, nullptr);
    for (void *w : input()) pQueuePush(pq, w);
    sw.start();
    void *head;
    while (pQueueHead(pq, &head) == GDSL_RET_OK) {
        benchmark::DoNotOptimize(head);
        pQueuePop(pq);
    }
    sw.stop();
    pQueueDestroy(pq);
}

void pqueue_pop_std(CpuStopwatch &sw) {
    StdHeap heap;
    for (void *w : input()) heap.push(value(w));
    sw.start();
    while (!heap.empty()) {
        benchmark::DoNotOptimize(heap.top());
        heap.pop();
    }
    sw.stop();
}

// --- ordered map ------------------------------------------------------------

using StdMap = std::map<uintptr_t, void *>;
using TreeHandle = std::unique_ptr<RbTree, decltype(&rbtreeDestroy)>;

TreeHandle filled_tree() {
    TreeHandle tree(rbtreeInit(compare_words, compare_words, nullptr), rbtreeDestroy);
    for (void *w : input()) rbtreeInsert(tree.get(), w);
    return tree;
}

StdMap filled_map() {
    StdMap map;
    for (void *w : input()) map.emplace(value(w), w);
    return map;
}

void rbtree_insert_gdsl(CpuStopwatch &sw) {
    sw.start();
    TreeHandle tree(rbtreeInit(compare_words, compare_words, nullptr), rbtreeDestroy);
    for (void *w : input()) rbtreeInsert(tree.get(), w);
    sw.stop();
}

void rbtree_insert_std(CpuStopwatch &sw) {
    sw.start();
    StdMap map;
    for (void *w : input()) map.emplace(value(w), w);
    sw.stop();
}

void rbtree_remove_gdsl(CpuStopwatch &sw) {
    TreeHandle tree = filled_tree();
    sw.start();
    for (void *w : shuffled_input()) rbtreeRemove(tree.get(), w);
    sw.stop();
}

void rbtree_remove_std(CpuStopwatch &sw) {
    StdMap map = filled_map();
    sw.start();
    for (void *w : shuffled_input()) map.erase(value(w));
    sw.stop();
}

// --- linked list ------------------------------------------------------------

void dlist_append_gdsl(CpuStopwatch &sw) {
    sw.start();
    DList *list = dlistCreate(nullptr, nullptr);
    for (void *w : input()) dlistAppend(list, w);
    sw.stop();
    dlistDestroy(list);
}

void dlist_append_std(CpuStopwatch &sw) {
    std::list<void *> list;
    sw.start();
    for (void *w : input()) list.push_back(w);
    sw.stop();
}

int key_is_word(void *key, void *data) { return key == data ? 0 : 1; }

// Lookups of present words, spread over the whole list.
std::vector<void *> list_keys() {
    std::vector<void *> keys(input().begin(), input().begin() + kListElements);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
    return keys;
}

// --- sorts ------------------------------------------------------------------

template <ArraySortFunc Sort, size_t N>
void sort_gdsl(CpuStopwatch &sw) {
    sw.start();
    std::vector<void *> array(input().begin(), input().begin() + N);
    Sort(array.data(), static_cast<unsigned>(N), compare_words);
    benchmark::DoNotOptimize(array.data());
    sw.stop();
}

template <size_t N>
void sort_std(CpuStopwatch &sw) {
    sw.start();
    std::vector<void *> array(input().begin(), input().begin() + N);
    std::sort(array.begin(), array.end(), less_words);
    benchmark::DoNotOptimize(array.data());
    sw.stop();
}

void stable_sort_std(CpuStopwatch &sw) {
    sw.start();
    std::vector<void *> array(input());
    std::stable_sort(array.begin(), array.end(), less_words);
    benchmark::DoNotOptimize(array.data());
    sw.stop();
}

// --- the lines ----------------------------------------------------------------

struct Line {
    const char *operation;
    size_t elements;  // per run of the operation
    bool has_goal;
    Side gdsl;
    Side anchor;
};

// A batch: `repeats` runs of `side`; CPU ns per element.
double batch(const Side &side, int repeats, size_t elements) {
    CpuStopwatch sw;
    for (int i = 0; i < repeats; ++i) side(sw);
    return sw.ns() / (static_cast<double>(repeats) * static_cast<double>(elements));
}

// How many runs of `side` make a batch of about kBatchTargetNs.
int repeats_for(const Side &side) {
    CpuStopwatch sw;
    side(sw);  // the first run also builds the shared inputs
    sw = CpuStopwatch{};
    side(sw);
    double once = std::max(sw.ns(), 1.0);
    return std::clamp(static_cast<int>(kBatchTargetNs / once), 1, kMaxRepeats);
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    if (pairs <= 0) {
        std::fprintf(stderr, "usage: containers_bench [pairs]\n");
        return 2;
    }
    // What the searches look in, built once.
    TreeHandle tree = filled_tree();
    const StdMap map = filled_map();
    std::unique_ptr<DList, decltype(&dlistDestroy)> dlist(dlistCreate(nullptr, nullptr), dlistDestroy);
    for (size_t i = 0; i < kListElements; i++) dlistAppend(dlist.get(), input()[i]);
    const std::list<void *> list(input().begin(), input().begin() + kListElements);
    const std::vector<void *> keys = list_keys();

    const Line lines[] = {
        {"darrayAppend / vector::push_back", kElements, false, darray_append_gdsl, darray_append_std},
        {"pQueuePush / priority_queue::push", kElements, true, pqueue_push_gdsl, pqueue_push_std},
        {"pQueuePop / priority_queue::pop", kElements, true, pqueue_pop_gdsl, pqueue_pop_std},
        {"rbtreeInsert / map::emplace", kElements, true, rbtree_insert_gdsl, rbtree_insert_std},
        {"rbtreeSearch / map::find", kElements, true,
         [&](CpuStopwatch &sw) {
             sw.start();
             for (void *w : shuffled_input()) benchmark::DoNotOptimize(rbtreeSearch(tree.get(), w));
             sw.stop();
         },
         [&](CpuStopwatch &sw) {
             sw.start();
             for (void *w : shuffled_input()) benchmark::DoNotOptimize(map.find(value(w)));
             sw.stop();
         }},
        {"rbtreeRemove / map::erase", kElements, true, rbtree_remove_gdsl, rbtree_remove_std},
        {"dlistAppend / list::push_back", kElements, false, dlist_append_gdsl, dlist_append_std},
        {"dlistFindByKey / find_if(list)", kListElements, false,
         [&](CpuStopwatch &sw) {
             sw.start();
             for (void *key : keys) benchmark::DoNotOptimize(dlistFindByKey(dlist.get(), key_is_word, key));
             sw.stop();
         },
         [&](CpuStopwatch &sw) {
             sw.start();
             for (void *key : keys)
                 benchmark::DoNotOptimize(
                     std::find_if(list.begin(), list.end(), [key](void *w) { return w == key; }));
             sw.stop();
         }},
        {"quickSort / sort", kElements, false, sort_gdsl<quickSort, kElements>, sort_std<kElements>},
        {"heapSort / sort", kElements, false, sort_gdsl<heapSort, kElements>, sort_std<kElements>},
        {"mergeSort / stable_sort", kElements, false, sort_gdsl<mergeSort, kElements>, stable_sort_std},
        {"bubbleSort / sort, 2000 words", kBubbleElements, false, sort_gdsl<bubbleSort, kBubbleElements>,
         sort_std<kBubbleElements>},
    };

    std::printf("one batch: the operation over its input, repeated for about %.0f ms of CPU time\n",
                kBatchTargetNs / 1e6);
    pc::bench::print_paired_header(stdout, "ns/elem");
    int failed = 0;
    std::vector<const char *> goals;
    for (const Line &line : lines) {
        // Each side repeats for about as long, so both batches of a pair
        // meet the same load.
        const int anchor_repeats = repeats_for(line.anchor);
        const int gdsl_repeats = repeats_for(line.gdsl);
        auto r = pc::bench::run_paired([&] { return batch(line.anchor, anchor_repeats, line.elements); },
                                       [&] { return batch(line.gdsl, gdsl_repeats, line.elements); },
                                       {kWarmupPairs, pairs});
        pc::bench::print_paired(stdout, line.operation, r);
        if (r.pairs == 0) ++failed;
        if (line.has_goal)
            std::printf("%-34s goal <= %.1fx: %s\n", "", kGoalRatio,
                        r.pairs > 0 && r.ratio_median <= kGoalRatio ? "met" : "MISSED");
    }
    return failed == 0 ? 0 : 1;
}
