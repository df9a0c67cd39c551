// Doubly linked list, FIFO queue and LIFO stack.
#include <cstdint>
#include <functional>
#include <list>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "element_words.h"
#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test;

// The list's words head to tail, after checking that both link directions
// and the count agree.
std::vector<uintptr_t> contents(DList *list) {
    std::vector<uintptr_t> forward, backward;
    for (DListNode *n = dlistHead(list); n; n = n->next) forward.push_back(value(n->data));
    for (DListNode *n = dlistTail(list); n; n = n->prev) backward.insert(backward.begin(), value(n->data));
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(dlistLength(list), forward.size());
    return forward;
}

std::vector<int> ids(DList *list) {
    std::vector<int> out;
    for (DListNode *n = dlistHead(list); n; n = n->next) out.push_back(static_cast<Item *>(n->data)->id);
    return out;
}

class DListTest : public ::testing::Test {
protected:
    void SetUp() override { g_destroyed.clear(); }
};

TEST_F(DListTest, InsertsAtHeadTailAndAfterANode) {
    DList *list = dlistCreate(nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(dlistAppend(list, word(2)), GDSL_RET_OK);
    EXPECT_EQ(dlistPrepend(list, word(1)), GDSL_RET_OK);
    EXPECT_EQ(dlistAppend(list, word(4)), GDSL_RET_OK);
    EXPECT_EQ(dlistInsertAfter(list, dlistFindByData(list, word(2)), word(3)), GDSL_RET_OK);
    EXPECT_EQ(dlistInsertAfter(list, nullptr, word(9)), GDSL_RET_OK);
    EXPECT_EQ(dlistInsertAfter(list, dlistTail(list), word(5)), GDSL_RET_OK);
    EXPECT_EQ(contents(list), (std::vector<uintptr_t>{9, 1, 2, 3, 4, 5}));
    dlistDestroy(list);
}

TEST_F(DListTest, DeleteUnlinksDestroysOnceAndIgnoresNullNode) {
    DList *list = dlistCreate(record_destroy, nullptr);
    for (uintptr_t v = 1; v <= 4; v++) dlistAppend(list, word(v));
    EXPECT_EQ(dlistDelete(list, dlistHead(list)), GDSL_RET_OK);
    EXPECT_EQ(dlistDelete(list, dlistTail(list)), GDSL_RET_OK);
    EXPECT_EQ(dlistDelete(list, dlistFindByData(list, word(9))), GDSL_RET_OK);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(1), word(4)}));
    EXPECT_EQ(contents(list), (std::vector<uintptr_t>{2, 3}));
    dlistDestroy(list);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(1), word(4), word(2), word(3)}));
}

TEST_F(DListTest, AddSortPlacesEqualElementsAfterEarlierOnes) {
    Item five{5, 1}, three{3, 2}, five_again{5, 3}, four{4, 4};
    DList *list = dlistCreate(nullptr, compare_items);
    for (Item *item : {&five, &three, &five_again, &four}) ASSERT_EQ(dlistAddSort(list, item), GDSL_RET_OK);
    EXPECT_EQ(ids(list), (std::vector<int>{2, 4, 1, 3}));
    dlistDestroy(list);

    // Without a sort callback the ordered insert appends.
    list = dlistCreate(nullptr, nullptr);
    for (Item *item : {&five, &three, &four}) dlistAddSort(list, item);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 4}));
    dlistDestroy(list);
}

TEST_F(DListTest, SortIsStableAndKeepsLinksAndCount) {
    std::mt19937 rng(7);
    std::vector<Item> items(300);
    for (int i = 0; i < 300; i++) items[i] = {static_cast<int>(rng() % 20), i};
    DList *list = dlistCreate(nullptr, nullptr);
    for (Item &item : items) dlistAppend(list, &item);
    ASSERT_EQ(dlistSort(list, compare_items), GDSL_RET_OK);

    std::vector<Item> sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Item &a, const Item &b) { return a.key < b.key; });
    std::vector<int> expected;
    for (const Item &item : sorted) expected.push_back(item.id);
    EXPECT_EQ(ids(list), expected);
    contents(list);  // links in both directions and the count
    dlistDestroy(list);
}

int visit_count_and_stop_at_second(void *ctx, void *) {
    int &visited = *static_cast<int *>(ctx);
    return ++visited == 2 ? GDSL_RET_STOP : GDSL_RET_OK;
}

TEST_F(DListTest, VisitEndsOnStopAndAnswersTheLastResult) {
    DList *list = dlistCreate(nullptr, nullptr);
    int visited = 0;
    EXPECT_EQ(dlistVisit(list, visit_count_and_stop_at_second, &visited), GDSL_RET_OK);  // empty
    for (uintptr_t v = 1; v <= 3; v++) dlistAppend(list, word(v));
    EXPECT_EQ(dlistVisit(list, visit_count_and_stop_at_second, &visited), GDSL_RET_STOP);
    EXPECT_EQ(visited, 2);
    dlistDestroy(list);
}

TEST_F(DListTest, FindsTheFirstMatchFromTheHead) {
    Item a{1, 1}, b{2, 2}, c{1, 3};
    DList *list = dlistCreate(nullptr, nullptr);
    for (Item *item : {&a, &b, &c}) dlistAppend(list, item);
    auto by_key = [](void *key, void *data) {
        return static_cast<int>(value(key)) - static_cast<Item *>(data)->key;
    };
    EXPECT_EQ(dlistFindByKey(list, by_key, word(1))->data, &a);
    EXPECT_EQ(dlistFindByKey(list, by_key, word(7)), nullptr);
    EXPECT_EQ(dlistFindByData(list, &c)->data, &c);
    dlistDestroy(list);
}

TEST_F(DListTest, QueueIsFirstInFirstOutAndPopDestroys) {
    ListQueue *queue = queueCreate(record_destroy);
    void *data = word(99);
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(queuePop(queue), GDSL_RET_OK);
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_EQ(queueHead(queue, &data), -1);
    EXPECT_EQ(data, nullptr);
    for (uintptr_t v = 1; v <= 3; v++) queuePush(queue, word(v));
    EXPECT_EQ(queueLength(queue), 3u);
    EXPECT_EQ(queueHead(queue, &data), GDSL_RET_OK);
    EXPECT_EQ(data, word(1));
    EXPECT_EQ(queuePop(queue), GDSL_RET_OK);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(1)}));
    queueHead(queue, &data);
    EXPECT_EQ(data, word(2));
    queueDestroy(queue);
    EXPECT_EQ(g_destroyed.size(), 3u);
}

TEST_F(DListTest, StackIsLastInFirstOutAndPopDestroys) {
    ListStack *stack = stackCreate(record_destroy);
    void *data = word(99);
    EXPECT_EQ(stackTop(stack, &data), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(stackPop(stack), GDSL_RET_OK);
    for (uintptr_t v = 1; v <= 3; v++) stackPush(stack, word(v));
    std::vector<uintptr_t> visited;
    stackVisit(
        stack,
        [](void *ctx, void *d) {
            static_cast<std::vector<uintptr_t> *>(ctx)->push_back(value(d));
            return static_cast<int>(GDSL_RET_OK);
        },
        &visited);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{3, 2, 1}));
    stackTop(stack, &data);
    EXPECT_EQ(data, word(3));
    stackPop(stack);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{word(3)}));
    EXPECT_EQ(stackLength(stack), 2u);
    stackDestroy(stack);
    EXPECT_EQ(g_destroyed.size(), 3u);
}

// True when text is exactly one line "<function>:<line> Warning: <condition> failed.".
bool is_warning(const std::string &text, const std::string &function, const std::string &condition) {
    std::string tail = " Warning: " + condition + " failed.\n";
    if (text.size() <= function.size() + 1 + tail.size() ||
        text.compare(0, function.size() + 1, function + ":") != 0 ||
        text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string line = text.substr(function.size() + 1, text.size() - tail.size() - function.size() - 1);
    return line.find_first_not_of("0123456789") == std::string::npos;
}

// Each bad call answers its invalid value and prints one warning line naming
// the function and the failed condition.
struct BadCall {
    const char *function;
    const char *condition;
    std::function<long()> call;
    long answer;
};

TEST_F(DListTest, ArgumentChecksWarnAndAnswerInvalid) {
    DList *list = dlistCreate(nullptr, nullptr);
    void *out = nullptr;
    const std::vector<BadCall> cases = {
        {"dlistAppend", "thiz != NULL && data != NULL", [&] { return dlistAppend(list, nullptr); }, 3},
        {"dlistPrepend", "thiz != NULL && data != NULL", [&] { return dlistPrepend(nullptr, word(1)); }, 3},
        {"dlistInsertAfter", "thiz != NULL && data != NULL",
         [&] { return dlistInsertAfter(nullptr, nullptr, word(1)); }, 3},
        {"dlistAddSort", "thiz != NULL && data != NULL", [&] { return dlistAddSort(list, nullptr); }, 3},
        {"dlistSort", "cmp != NULL && thiz != NULL", [&] { return dlistSort(list, nullptr); }, 3},
        {"dlistDelete", "thiz != NULL", [&] { return dlistDelete(nullptr, nullptr); }, 3},
        {"dlistVisit", "thiz != NULL && visit != NULL", [&] { return dlistVisit(list, nullptr, nullptr); },
         3},
        {"dlistLength", "thiz != NULL", [&] { return static_cast<long>(dlistLength(nullptr)); }, 0},
        {"dlistHead", "thiz != NULL", [&] { return static_cast<long>(value(dlistHead(nullptr))); }, 0},
        {"dlistFindByKey", "thiz != NULL && cmp != NULL && key != NULL",
         [&] { return static_cast<long>(value(dlistFindByKey(list, nullptr, word(1)))); }, 0},
        {"dlistFindByData", "thiz != NULL && data != NULL",
         [&] { return static_cast<long>(value(dlistFindByData(list, nullptr))); }, 0},
        {"queuePush", "thiz != NULL && data != NULL", [&] { return queuePush(nullptr, word(1)); }, 3},
        {"queueHead", "thiz != NULL && data != NULL", [&] { return queueHead(nullptr, &out); }, 3},
        {"queuePop", "thiz != NULL", [&] { return queuePop(nullptr); }, 3},
        {"stackPush", "thiz != NULL && data != NULL", [&] { return stackPush(nullptr, word(1)); }, 3},
        {"stackTop", "thiz != NULL && data != NULL", [&] { return stackTop(nullptr, &out); }, 3},
        {"stackPop", "thiz != NULL", [&] { return stackPop(nullptr); }, 3},
    };
    for (const BadCall &c : cases) {
        pc::test::CaptureStdout out_text;
        EXPECT_EQ(c.call(), c.answer) << c.function;
        EXPECT_TRUE(is_warning(out_text.text(), c.function, c.condition))
            << c.function << ": " << out_text.text();
    }
    EXPECT_EQ(dlistLength(list), 0u);
    dlistDestroy(list);
}

// Random operations against std::list, comparing the whole sequence.
TEST_F(DListTest, MatchesStdListOverRandomOperations) {
    std::mt19937 rng(12345);
    DList *list = dlistCreate(record_destroy, compare_words);
    std::list<uintptr_t> model;
    size_t destroyed_expected = 0;
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int op = 0; op < 20000; op++) {
        uintptr_t v = 1 + pick(300);
        // Deletes outweigh inserts once the list is long, so it stays near
        // a few hundred elements and the quadratic sort stays cheap.
        size_t kind = pick(8);
        if (model.size() > 300 && kind < 4) kind = 4;
        switch (kind) {
            case 0:
                dlistAppend(list, word(v));
                model.push_back(v);
                break;
            case 1:
                dlistPrepend(list, word(v));
                model.push_front(v);
                break;
            case 2: {  // after a random position, or at the head
                size_t at = pick(model.size() + 1);
                DListNode *node = nullptr;
                auto it = model.begin();
                if (at > 0) {
                    node = dlistHead(list);
                    for (size_t i = 1; i < at; i++) node = node->next;
                    std::advance(it, at);
                }
                dlistInsertAfter(list, node, word(v));
                model.insert(it, v);
                break;
            }
            case 3: {  // before the first larger element, as on an unsorted list too
                dlistAddSort(list, word(v));
                model.insert(std::find_if(model.begin(), model.end(), [&](uintptr_t x) { return v < x; }), v);
                break;
            }
            case 4:
            case 5: {
                DListNode *node = dlistFindByKey(list, key_matches, word(v));
                auto it = std::find(model.begin(), model.end(), v);
                ASSERT_EQ(node == nullptr, it == model.end());
                if (node) {
                    ASSERT_EQ(dlistFindByData(list, word(v)), node);
                    dlistDelete(list, node);
                    model.erase(it);
                    destroyed_expected++;
                }
                break;
            }
            case 6:
                if (pick(20) == 0) {
                    dlistSort(list, compare_words);
                    model.sort();
                }
                break;
            default:
                ASSERT_EQ(dlistLength(list), model.size());
                break;
        }
        if (op % 97 == 0) {
            ASSERT_EQ(contents(list), std::vector<uintptr_t>(model.begin(), model.end()));
        }
    }
    ASSERT_EQ(contents(list), std::vector<uintptr_t>(model.begin(), model.end()));
    EXPECT_EQ(g_destroyed.size(), destroyed_expected);
    dlistDestroy(list);
    EXPECT_EQ(g_destroyed.size(), destroyed_expected + model.size());
}

}  // namespace
