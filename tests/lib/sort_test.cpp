// Array sorts and binary search.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "element_words.h"
#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test;

std::vector<void *> words(const std::vector<uintptr_t> &values) {
    std::vector<void *> out;
    for (uintptr_t v : values) out.push_back(word(v));
    return out;
}

struct NamedSort {
    const char *name;
    ArraySortFunc sort;
};
const NamedSort kSorts[] = {
    {"bubbleSort", bubbleSort}, {"quickSort", quickSort}, {"mergeSort", mergeSort}, {"heapSort", heapSort}};

// Input shapes that break naive sorts.
std::vector<std::vector<uintptr_t>> shaped_inputs() {
    std::mt19937 rng(1);
    std::vector<std::vector<uintptr_t>> inputs = {{}, {4}, {1, 2}, {2, 1}, {3, 1, 2}, {5, 5, 5, 5, 5}};
    std::vector<uintptr_t> random(700), sorted(700), reversed(700), pipe(700), few(700);
    for (size_t i = 0; i < 700; i++) {
        random[i] = 1 + rng() % 100000;
        sorted[i] = i + 1;
        reversed[i] = 700 - i;
        pipe[i] = 1 + std::min(i, 699 - i);
        few[i] = 1 + rng() % 3;
    }
    for (auto *input : {&random, &sorted, &reversed, &pipe, &few}) inputs.push_back(*input);
    return inputs;
}

TEST(SortTest, EverySortOrdersEveryInputShapeAscending) {
    for (const NamedSort &s : kSorts) {
        for (const std::vector<uintptr_t> &input : shaped_inputs()) {
            std::vector<void *> array = words(input);
            void **data = array.empty() ? reinterpret_cast<void **>(&array) : array.data();
            ASSERT_EQ(s.sort(data, static_cast<unsigned>(array.size()), compare_words), GDSL_RET_OK)
                << s.name;
            std::vector<uintptr_t> expected = input;
            std::sort(expected.begin(), expected.end());
            std::vector<uintptr_t> got;
            for (void *w : array) got.push_back(value(w));
            ASSERT_EQ(got, expected) << s.name << " over " << input.size() << " elements";
        }
    }
}

// Random arrays of random sizes against std::sort; mergeSort against
// std::stable_sort on elements whose equal keys are told apart by identity.

TEST(SortTest, MatchesTheStandardSortsOnRandomArrays) {
    std::mt19937 rng(2718);
    for (int round = 0; round < 300; round++) {
        size_t n = 1 + rng() % 400;
        std::vector<Item> items(n);
        for (size_t i = 0; i < n; i++)
            items[i] = {static_cast<int>(rng() % (1 + n / 4)), static_cast<int>(i)};
        std::vector<Item> expected = items;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Item &a, const Item &b) { return a.key < b.key; });
        for (const NamedSort &s : kSorts) {
            if (s.sort == bubbleSort && n > 150) continue;
            std::vector<void *> array;
            for (Item &item : items) array.push_back(&item);
            ASSERT_EQ(s.sort(array.data(), static_cast<unsigned>(n), compare_items), GDSL_RET_OK);
            for (size_t i = 0; i < n; i++) {
                auto *got = static_cast<Item *>(array[i]);
                ASSERT_EQ(got->key, expected[i].key) << s.name << " at " << i;
                if (s.sort == mergeSort) {
                    ASSERT_EQ(got->id, expected[i].id) << "mergeSort is not stable at " << i;
                }
            }
        }
    }
}

// A descending run makes the first-element pivot split off one element at a
// time; the sort must still run within a small stack.
void *sort_descending(void *arg) {
    auto *array = static_cast<std::vector<void *> *>(arg);
    quickSort(array->data(), static_cast<unsigned>(array->size()), compare_words);
    return nullptr;
}

TEST(SortTest, QuickSortOfADescendingRunNeedsLittleStack) {
    constexpr size_t kElements = 12000;
    std::vector<void *> array;
    for (size_t i = 0; i < kElements; i++) array.push_back(word(kElements - i));
    long min_stack = sysconf(_SC_THREAD_STACK_MIN);
    size_t stack = std::max<size_t>(64 * 1024, min_stack > 0 ? static_cast<size_t>(min_stack) : 0);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, stack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, sort_descending, &array), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    for (size_t i = 0; i < kElements; i++) ASSERT_EQ(value(array[i]), i + 1);
}

TEST(SortTest, QsearchFindsPresentKeysOnly) {
    std::vector<void *> array = words({1, 3, 5, 7});
    EXPECT_EQ(qsearch(array.data(), 4, word(5), compare_words), 2);
    EXPECT_EQ(qsearch(array.data(), 4, word(4), compare_words), -1);
    EXPECT_EQ(qsearch(array.data(), 4, word(1), compare_words), 0);
    EXPECT_EQ(qsearch(array.data(), 4, word(7), compare_words), 3);
    EXPECT_EQ(qsearch(array.data(), 4, word(8), compare_words), -1);
    EXPECT_EQ(qsearch(array.data(), 0, word(1), compare_words), -1);

    std::mt19937 rng(3);
    std::vector<uintptr_t> values(1000);
    for (auto &v : values) v = 2 * (1 + rng() % 5000);  // even numbers only
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    array = words(values);
    for (size_t i = 0; i < values.size(); i++) {
        ASSERT_EQ(qsearch(array.data(), static_cast<unsigned>(array.size()), word(values[i]), compare_words),
                  static_cast<int>(i));
        ASSERT_EQ(
            qsearch(array.data(), static_cast<unsigned>(array.size()), word(values[i] + 1), compare_words),
            -1);
    }
}

TEST(SortTest, NullArgumentsWarnAndAnswerInvalid) {
    void *one = word(1);
    pc::test::CaptureStdout out;
    for (const NamedSort &s : kSorts) {
        EXPECT_EQ(s.sort(nullptr, 3, compare_words), GDSL_RET_INVALID_PARAMS) << s.name;
        EXPECT_EQ(s.sort(&one, 1, nullptr), GDSL_RET_INVALID_PARAMS) << s.name;
    }
    EXPECT_EQ(qsearch(nullptr, 3, word(1), compare_words), -1);
    std::string text = out.text();
    EXPECT_NE(text.find("quickSort:"), std::string::npos);
    EXPECT_NE(text.find("Warning: array != NULL && cmp != NULL failed.\n"), std::string::npos);
    EXPECT_NE(text.find("heapSort:"), std::string::npos);
    EXPECT_NE(text.find("Warning: array != NULL && comp_f != NULL failed.\n"), std::string::npos);
    EXPECT_NE(text.find("qsearch:"), std::string::npos);
}

}  // namespace
