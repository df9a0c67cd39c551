// Containers against the standard library's nearest equivalent, measured in
// the same run. Each pair registers "<operation>/gdsl" and "<operation>/std"
// back to back; at the end a table gives the median CPU time of each side
// and the ratio gdsl / std (below 1 means the container is faster), by CPU
// time and by real time. On a shared machine the CPU-time ratio is the
// steadier of the two.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform_core/containers.h"

namespace {

constexpr size_t kElements = 100000;      // words per container or sort
constexpr size_t kListElements = 1000;    // list searched linearly
constexpr size_t kBubbleElements = 2000;  // the quadratic sort's input
constexpr int kRepetitions = 5;
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

void set_items(benchmark::State &state, size_t per_iteration) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * per_iteration));
}

// --- growable array ---------------------------------------------------------

void darray_append_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        DArray *array = darrayCreate(nullptr);
        for (void *w : input()) darrayAppend(array, w);
        darrayDestroy(array);
    }
    set_items(state, kElements);
}

void darray_append_std(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<void *> array;
        for (void *w : input()) array.push_back(w);
        benchmark::DoNotOptimize(array.data());
    }
    set_items(state, kElements);
}

// --- priority queue ---------------------------------------------------------

using StdHeap = std::priority_queue<uintptr_t, std::vector<uintptr_t>, std::greater<>>;

void pqueue_push_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        PQueue *pq = pQueueCreate(compare_words, nullptr);
        for (void *w : input()) pQueuePush(pq, w);
        pQueueDestroy(pq);
    }
    set_items(state, kElements);
}

void pqueue_push_std(benchmark::State &state) {
    for (auto _ : state) {
        StdHeap heap;
        for (void *w : input()) heap.push(value(w));
        benchmark::DoNotOptimize(heap.top());
    }
    set_items(state, kElements);
}

void pqueue_pop_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        PQueue *pq = pQueueCreate(compare_words, nullptr);
        for (void *w : input()) pQueuePush(pq, w);
        state.ResumeTiming();
        void *head;
        while (pQueueHead(pq, &head) == GDSL_RET_OK) {
            benchmark::DoNotOptimize(head);
            pQueuePop(pq);
        }
        state.PauseTiming();
        pQueueDestroy(pq);
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

void pqueue_pop_std(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto heap = std::make_unique<StdHeap>();
        for (void *w : input()) heap->push(value(w));
        state.ResumeTiming();
        while (!heap->empty()) {
            benchmark::DoNotOptimize(heap->top());
            heap->pop();
        }
        state.PauseTiming();
        heap.reset();
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

// --- ordered map ------------------------------------------------------------

using StdMap = std::map<uintptr_t, void *>;

RbTree *filled_tree() {
    RbTree *tree = rbtreeInit(compare_words, compare_words, nullptr);
    for (void *w : input()) rbtreeInsert(tree, w);
    return tree;
}

std::unique_ptr<StdMap> filled_map() {
    auto map = std::make_unique<StdMap>();
    for (void *w : input()) map->emplace(value(w), w);
    return map;
}

void rbtree_insert_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        RbTree *tree = rbtreeInit(compare_words, compare_words, nullptr);
        for (void *w : input()) rbtreeInsert(tree, w);
        state.PauseTiming();
        rbtreeDestroy(tree);
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

void rbtree_insert_std(benchmark::State &state) {
    for (auto _ : state) {
        auto map = std::make_unique<StdMap>();
        for (void *w : input()) map->emplace(value(w), w);
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

void rbtree_search_gdsl(benchmark::State &state) {
    RbTree *tree = filled_tree();
    for (auto _ : state)
        for (void *w : shuffled_input()) benchmark::DoNotOptimize(rbtreeSearch(tree, w));
    rbtreeDestroy(tree);
    set_items(state, kElements);
}

void rbtree_search_std(benchmark::State &state) {
    auto map = filled_map();
    for (auto _ : state)
        for (void *w : shuffled_input()) benchmark::DoNotOptimize(map->find(value(w)));
    set_items(state, kElements);
}

void rbtree_remove_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        RbTree *tree = filled_tree();
        state.ResumeTiming();
        for (void *w : shuffled_input()) rbtreeRemove(tree, w);
        state.PauseTiming();
        rbtreeDestroy(tree);
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

void rbtree_remove_std(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto map = filled_map();
        state.ResumeTiming();
        for (void *w : shuffled_input()) map->erase(value(w));
        state.PauseTiming();
        map.reset();
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

// --- linked list ------------------------------------------------------------

void dlist_append_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        DList *list = dlistCreate(nullptr, nullptr);
        for (void *w : input()) dlistAppend(list, w);
        state.PauseTiming();
        dlistDestroy(list);
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

void dlist_append_std(benchmark::State &state) {
    for (auto _ : state) {
        auto list = std::make_unique<std::list<void *>>();
        for (void *w : input()) list->push_back(w);
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    set_items(state, kElements);
}

int key_is_word(void *key, void *data) { return key == data ? 0 : 1; }

// Lookups of present words, spread over the whole list.
std::vector<void *> list_keys() {
    std::vector<void *> keys(input().begin(), input().begin() + kListElements);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
    return keys;
}

void dlist_find_gdsl(benchmark::State &state) {
    DList *list = dlistCreate(nullptr, nullptr);
    for (size_t i = 0; i < kListElements; i++) dlistAppend(list, input()[i]);
    std::vector<void *> keys = list_keys();
    for (auto _ : state)
        for (void *key : keys) benchmark::DoNotOptimize(dlistFindByKey(list, key_is_word, key));
    dlistDestroy(list);
    set_items(state, kListElements);
}

void dlist_find_std(benchmark::State &state) {
    std::list<void *> list(input().begin(), input().begin() + kListElements);
    std::vector<void *> keys = list_keys();
    for (auto _ : state)
        for (void *key : keys)
            benchmark::DoNotOptimize(
                std::find_if(list.begin(), list.end(), [key](void *w) { return w == key; }));
    set_items(state, kListElements);
}

// --- sorts ------------------------------------------------------------------

template <ArraySortFunc Sort, size_t N>
void sort_gdsl(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<void *> array(input().begin(), input().begin() + N);
        Sort(array.data(), static_cast<unsigned>(N), compare_words);
        benchmark::DoNotOptimize(array.data());
    }
    set_items(state, N);
}

template <size_t N>
void sort_std(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<void *> array(input().begin(), input().begin() + N);
        std::sort(array.begin(), array.end(), less_words);
        benchmark::DoNotOptimize(array.data());
    }
    set_items(state, N);
}

void stable_sort_std(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<void *> array(input());
        std::stable_sort(array.begin(), array.end(), less_words);
        benchmark::DoNotOptimize(array.data());
    }
    set_items(state, kElements);
}

// --- pairs and the ratio table ------------------------------------------------

struct Pair {
    const char *operation;
    void (*gdsl)(benchmark::State &);
    void (*anchor)(benchmark::State &);
    bool has_goal;
};

const Pair kPairs[] = {
    {"darrayAppend vs vector::push_back", darray_append_gdsl, darray_append_std, false},
    {"pQueuePush vs priority_queue::push", pqueue_push_gdsl, pqueue_push_std, true},
    {"pQueuePop vs priority_queue::pop", pqueue_pop_gdsl, pqueue_pop_std, true},
    {"rbtreeInsert vs map::emplace", rbtree_insert_gdsl, rbtree_insert_std, true},
    {"rbtreeSearch vs map::find", rbtree_search_gdsl, rbtree_search_std, true},
    {"rbtreeRemove vs map::erase", rbtree_remove_gdsl, rbtree_remove_std, true},
    {"dlistAppend vs list::push_back", dlist_append_gdsl, dlist_append_std, false},
    {"dlistFindByKey vs find_if(list)", dlist_find_gdsl, dlist_find_std, false},
    {"quickSort vs sort", sort_gdsl<quickSort, kElements>, sort_std<kElements>, false},
    {"heapSort vs sort", sort_gdsl<heapSort, kElements>, sort_std<kElements>, false},
    {"mergeSort vs stable_sort", sort_gdsl<mergeSort, kElements>, stable_sort_std, false},
    {"bubbleSort(2000) vs sort(2000)", sort_gdsl<bubbleSort, kBubbleElements>, sort_std<kBubbleElements>,
     false},
};

// Prints the usual console output and keeps each benchmark's medians (or
// its only run) for the ratio table printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single)
                times_[run.run_name.function_name] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-36s %12s %12s %10s %10s\n", "median per iteration (us)", "gdsl cpu", "std cpu",
                    "ratio cpu", "ratio real");
        for (const Pair &pair : kPairs) {
            auto gdsl = times_.find(std::string(pair.operation) + "/gdsl");
            auto anchor = times_.find(std::string(pair.operation) + "/std");
            if (gdsl == times_.end() || anchor == times_.end()) continue;
            double cpu_ratio = gdsl->second.cpu / anchor->second.cpu;
            double real_ratio = gdsl->second.real / anchor->second.real;
            const char *goal = !pair.has_goal            ? ""
                               : cpu_ratio <= kGoalRatio ? "  goal <= 1.5x: met"
                                                         : "  goal <= 1.5x: MISSED";
            std::printf("%-36s %12.1f %12.1f %9.2fx %9.2fx%s\n", pair.operation, gdsl->second.cpu,
                        anchor->second.cpu, cpu_ratio, real_ratio, goal);
        }
        std::fflush(stdout);
    }

private:
    struct Times {
        double cpu;
        double real;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char **argv) {
    for (const Pair &pair : kPairs) {
        for (auto [side, fn] : {std::pair{"/gdsl", pair.gdsl}, std::pair{"/std", pair.anchor}}) {
            benchmark::RegisterBenchmark((std::string(pair.operation) + side).c_str(), fn)
                ->Unit(benchmark::kMicrosecond)
                ->Repetitions(kRepetitions)
                ->ReportAggregatesOnly(true);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
