// Growable array and priority queue.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../src/lib/darray.h"
#include "../../src/lib/pqueue.h"
#include "element_words.h"
#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test;

int collect(void *ctx, void *data) {
    static_cast<std::vector<uintptr_t> *>(ctx)->push_back(value(data));
    return GDSL_RET_OK;
}

std::vector<uintptr_t> contents(DArray *array) {
    std::vector<uintptr_t> out;
    for (unsigned int i = 0; i < darrayLength(array); i++) {
        void *data = nullptr;
        EXPECT_EQ(darrayGetByIndex(array, i, &data), GDSL_RET_OK);
        out.push_back(value(data));
    }
    return out;
}

bool is_warning(const std::string &text, const std::string &function, const std::string &condition) {
    std::string tail = " Warning: " + condition + " failed.\n";
    if (text.size() <= function.size() + 1 + tail.size() ||
        text.compare(0, function.size() + 1, function + ":") != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string line = text.substr(function.size() + 1, text.size() - tail.size() - function.size() - 1);
    return line.find_first_not_of("0123456789") == std::string::npos;
}

struct BadCall {
    const char *function;
    const char *condition;
    std::function<long()> call;
    long answer;
};

void expect_bad_calls(const std::vector<BadCall> &cases) {
    for (const BadCall &c : cases) {
        pc::test::CaptureStdout out;
        EXPECT_EQ(c.call(), c.answer) << c.function;
        EXPECT_TRUE(is_warning(out.text(), c.function, c.condition)) << c.function << ": " << out.text();
    }
}

class ArrayTest : public ::testing::Test {
protected:
    void SetUp() override { g_destroyed.clear(); }
};

TEST_F(ArrayTest, DArrayGrowsAndShrinksByTheSizingRule) {
    DArray *array = darrayCreate(nullptr);
    EXPECT_EQ(array->capacity, 0u);
    darrayAppend(array, word(1));
    EXPECT_EQ(array->capacity, 32u);
    for (uintptr_t v = 2; v <= 32; v++) darrayAppend(array, word(v));
    EXPECT_EQ(array->capacity, 32u);
    darrayAppend(array, word(33));
    EXPECT_EQ(array->capacity, 80u);

    // Delete from the front down to nothing, noting each capacity change.
    std::vector<std::pair<unsigned, unsigned>> changes;  // (size, new capacity)
    for (uintptr_t v = 34; v <= 80; v++) darrayAppend(array, word(v));
    unsigned capacity = array->capacity;
    while (darrayLength(array) > 0) {
        darrayDelete(array, 0);
        if (array->capacity != capacity) changes.push_back({array->size, capacity = array->capacity});
    }
    EXPECT_EQ(changes, (std::vector<std::pair<unsigned, unsigned>>{{39, 58}, {28, 42}, {20, 30}}));
    darrayDestroy(array);
}

TEST_F(ArrayTest, DArrayInsertsAtAClampedIndexAndDeletesWithDestroy) {
    DArray *array = darrayCreate(record_destroy);
    EXPECT_EQ(darrayInsert(array, 7, word(3)), GDSL_RET_OK);  // beyond the size: appends
    EXPECT_EQ(darrayPrepend(array, word(1)), GDSL_RET_OK);
    EXPECT_EQ(darrayInsert(array, 1, word(2)), GDSL_RET_OK);
    EXPECT_EQ(darrayAppend(array, word(4)), GDSL_RET_OK);
    EXPECT_EQ(contents(array), (std::vector<uintptr_t>{1, 2, 3, 4}));

    EXPECT_EQ(darraySetByIndex(array, 1, word(20)), GDSL_RET_OK);  // the old element is not destroyed
    EXPECT_TRUE(g_destroyed.empty());
    EXPECT_EQ(darrayDelete(array, 1), GDSL_RET_OK);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(20)}));
    EXPECT_EQ(contents(array), (std::vector<uintptr_t>{1, 3, 4}));
    EXPECT_EQ(darrayFind(array, key_matches, word(4)), 2);
    EXPECT_EQ(darrayFind(array, key_matches, word(2)), -1);

    std::vector<uintptr_t> visited;
    EXPECT_EQ(darrayVisit(array, collect, &visited), GDSL_RET_OK);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{1, 3, 4}));
    darrayDestroy(array);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(20), word(1), word(3), word(4)}));
}

TEST_F(ArrayTest, DArraySortHandsTheElementsToTheSort) {
    DArray *array = darrayCreate(nullptr);
    EXPECT_EQ(darraySort(array, mergeSort, compare_items), GDSL_RET_OK);  // never held anything
    Item items[] = {{2, 0}, {1, 1}, {2, 2}, {0, 3}, {1, 4}};
    for (Item &item : items) darrayAppend(array, &item);
    EXPECT_EQ(darraySort(array, mergeSort, compare_items), GDSL_RET_OK);
    std::vector<int> ids;
    for (unsigned int i = 0; i < darrayLength(array); i++) {
        void *data;
        darrayGetByIndex(array, i, &data);
        ids.push_back(static_cast<Item *>(data)->id);
    }
    EXPECT_EQ(ids, (std::vector<int>{3, 1, 4, 0, 2}));
    darrayDestroy(array);
}

TEST_F(ArrayTest, DArrayArgumentChecksWarnAndAnswerInvalid) {
    DArray *array = darrayCreate(nullptr);
    darrayAppend(array, word(1));
    void *out = nullptr;
    expect_bad_calls({
        {"darraySetByIndex", "thiz != NULL && index < thiz->size && data != NULL",
         [&] { return darraySetByIndex(array, 1, word(2)); }, 3},
        {"darraySetByIndex", "thiz != NULL && index < thiz->size && data != NULL",
         [&] { return darraySetByIndex(array, 0, nullptr); }, 3},
        {"darrayGetByIndex", "thiz != NULL && data != NULL && index < thiz->size",
         [&] { return darrayGetByIndex(array, 1, &out); }, 3},
        {"darrayDelete", "thiz != NULL && thiz->size > index", [&] { return darrayDelete(array, 1); }, 3},
        {"darrayInsert", "thiz != NULL && data != NULL", [&] { return darrayInsert(array, 0, nullptr); }, 3},
        {"darrayAppend", "thiz != NULL && data != NULL", [&] { return darrayAppend(nullptr, word(1)); }, 3},
        {"darrayFind", "thiz != NULL && cmp != NULL && key != NULL",
         [&] { return darrayFind(array, nullptr, word(1)); }, -1},
        {"darrayVisit", "thiz != NULL && visit != NULL", [&] { return darrayVisit(array, nullptr, nullptr); },
         3},
        {"darraySort", "thiz != NULL && sort != NULL && cmp != NULL",
         [&] { return darraySort(array, nullptr, compare_words); }, 3},
        {"darrayLength", "thiz != NULL", [&] { return static_cast<long>(darrayLength(nullptr)); }, 0},
    });
    EXPECT_EQ(contents(array), (std::vector<uintptr_t>{1}));
    darrayDestroy(array);
}

TEST_F(ArrayTest, DArrayMatchesStdVectorOverRandomOperations) {
    std::mt19937 rng(2024);
    DArray *array = darrayCreate(record_destroy);
    std::vector<uintptr_t> model;
    size_t destroyed = 0;
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int op = 0; op < 50000; op++) {
        uintptr_t v = 1 + pick(1000);
        // Phases of growth and decline, to cross the resize points often.
        bool growing = (op / 2000) % 2 == 0;
        size_t kind = pick(10);
        if (kind < 5 && !growing && !model.empty()) kind = 5;
        switch (kind) {
            case 0:
            case 1:
                ASSERT_EQ(darrayAppend(array, word(v)), GDSL_RET_OK);
                model.push_back(v);
                break;
            case 2:
                darrayPrepend(array, word(v));
                model.insert(model.begin(), v);
                break;
            case 3:
            case 4: {
                unsigned int at = static_cast<unsigned int>(pick(model.size() + 3));  // may be past the end
                darrayInsert(array, at, word(v));
                model.insert(model.begin() + static_cast<long>(std::min<size_t>(at, model.size())), v);
                break;
            }
            case 5:
            case 6:
                if (!model.empty()) {
                    size_t at = pick(model.size());
                    ASSERT_EQ(darrayDelete(array, static_cast<unsigned int>(at)), GDSL_RET_OK);
                    model.erase(model.begin() + static_cast<long>(at));
                    destroyed++;
                }
                break;
            case 7:
                if (!model.empty()) {
                    size_t at = pick(model.size());
                    darraySetByIndex(array, static_cast<unsigned int>(at), word(v));
                    model[at] = v;
                }
                break;
            default: {
                auto it = std::find(model.begin(), model.end(), v);
                ASSERT_EQ(darrayFind(array, key_matches, word(v)),
                          it == model.end() ? -1 : static_cast<int>(it - model.begin()));
                break;
            }
        }
        ASSERT_EQ(darrayLength(array), model.size());
        ASSERT_GE(array->capacity, array->size);
        if (op % 101 == 0) {
            ASSERT_EQ(contents(array), model);
        }
    }
    ASSERT_EQ(contents(array), model);
    EXPECT_EQ(g_destroyed.size(), destroyed);
    darrayDestroy(array);
}

TEST_F(ArrayTest, PQueuePopsSmallestFirstAndEqualOnesInPushOrder) {
    Item seven{7, 0}, three{3, 1}, nine{9, 2}, three_again{3, 3};
    PQueue *pq = pQueueCreate(compare_items, record_destroy);
    for (Item *item : {&seven, &three, &nine, &three_again}) ASSERT_EQ(pQueuePush(pq, item), GDSL_RET_OK);
    std::vector<void *> heads;
    void *head = nullptr;
    while (pQueueHead(pq, &head) == GDSL_RET_OK) {
        heads.push_back(head);
        size_t before = g_destroyed.size();
        EXPECT_EQ(pQueuePop(pq), GDSL_RET_OK);
        ASSERT_EQ(g_destroyed.size(), before + 1);
        EXPECT_EQ(g_destroyed.back(), head);
    }
    EXPECT_EQ(heads, (std::vector<void *>{&three, &three_again, &seven, &nine}));
    EXPECT_EQ(head, nullptr);

    // Popping the empty heap leaves it as it is.
    EXPECT_EQ(pQueuePop(pq), GDSL_RET_OK);
    EXPECT_EQ(pQueueLength(pq), 0u);
    EXPECT_EQ(g_destroyed.size(), 4u);
    pQueueDestroy(pq);
}

TEST_F(ArrayTest, PQueueKeepsTheBinaryHeapLayout) {
    PQueue *pq = pQueueCreate(compare_words, nullptr);
    for (uintptr_t v = 5; v >= 1; v--) pQueuePush(pq, word(v));
    std::vector<uintptr_t> layout;
    pQueueVisit(pq, collect, &layout);
    EXPECT_EQ(layout, (std::vector<uintptr_t>{1, 2, 4, 5, 3}));
    pQueuePop(pq);
    layout.clear();
    pQueueVisit(pq, collect, &layout);
    EXPECT_EQ(layout, (std::vector<uintptr_t>{2, 3, 4, 5}));
    pQueueDestroy(pq);
}

TEST_F(ArrayTest, PQueueGrowsAndShrinksByTheSizingRule) {
    PQueue *pq = pQueueCreate(compare_words, nullptr);
    EXPECT_EQ(pq->capacity, 32u);
    for (uintptr_t v = 1; v <= 30; v++) pQueuePush(pq, word(v));
    EXPECT_EQ(pq->capacity, 32u);
    pQueuePush(pq, word(31));  // size + 2 reached the capacity
    EXPECT_EQ(pq->capacity, 80u);
    for (uintptr_t v = 32; v <= 60; v++) pQueuePush(pq, word(v));
    while (pQueueLength(pq) > 39) pQueuePop(pq);
    EXPECT_EQ(pq->capacity, 58u);
    pQueueDestroy(pq);
}

TEST_F(ArrayTest, PQueueArgumentChecksWarnAndAnswerInvalid) {
    PQueue *pq = pQueueCreate(compare_words, nullptr);
    void *out = nullptr;
    expect_bad_calls({
        {"pQueueCreate", "cmp != NULL",
         [&] { return static_cast<long>(value(pQueueCreate(nullptr, nullptr))); }, 0},
        {"pQueuePush", "thiz != NULL && data != NULL", [&] { return pQueuePush(pq, nullptr); }, 3},
        {"pQueueHead", "thiz != NULL && data != NULL", [&] { return pQueueHead(nullptr, &out); }, 3},
        {"pQueuePop", "thiz != NULL", [&] { return pQueuePop(nullptr); }, 3},
        {"pQueueVisit", "thiz != NULL && visit != NULL", [&] { return pQueueVisit(pq, nullptr, nullptr); },
         3},
    });
    pQueueDestroy(pq);
}

// Random pushes and pops against std::priority_queue; the heap property is
// checked over the whole array now and then.
TEST_F(ArrayTest, PQueueMatchesStdPriorityQueueOverRandomOperations) {
    std::mt19937 rng(99);
    PQueue *pq = pQueueCreate(compare_words, record_destroy);
    std::priority_queue<uintptr_t, std::vector<uintptr_t>, std::greater<>> model;
    size_t popped = 0;
    for (int op = 0; op < 50000; op++) {
        bool growing = (op / 3000) % 2 == 0;
        if (rng() % 10 < (growing ? 7u : 3u)) {
            uintptr_t v = 1 + rng() % 5000;
            ASSERT_EQ(pQueuePush(pq, word(v)), GDSL_RET_OK);
            model.push(v);
        } else {
            void *head = nullptr;
            ASSERT_EQ(pQueueHead(pq, &head), model.empty() ? -1 : GDSL_RET_OK);
            if (!model.empty()) {
                ASSERT_EQ(value(head), model.top());
                model.pop();
                popped++;
            }
            pQueuePop(pq);
        }
        ASSERT_EQ(pQueueLength(pq), model.size());
        ASSERT_LT(pq->size + 1, pq->capacity);
        if (op % 113 == 0) {
            for (unsigned int i = 1; i < pq->size; i++)
                ASSERT_LE(value(pq->elements[(i - 1) / 2]), value(pq->elements[i]));
        }
    }
    EXPECT_EQ(g_destroyed.size(), popped);
    pQueueDestroy(pq);
    EXPECT_EQ(g_destroyed.size(), popped + model.size());
}

}  // namespace
