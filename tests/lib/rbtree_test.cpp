// Red-black tree core and the ordered map on it.
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "element_words.h"
#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test;

bool is_black(const rb_node *node) { return node == nullptr || (node->parent_color & 1) != 0; }

// A record of the core tests: the tree node, a key and the size of its
// subtree, kept by the augmented hooks.
struct Rec {
    rb_node rb;
    int key;
    int subtree_size;
};
Rec *rec(const rb_node *node) { return reinterpret_cast<Rec *>(const_cast<rb_node *>(node)); }
int size_of(const rb_node *node) { return node ? rec(node)->subtree_size : 0; }
void update_size(rb_node *node, void *) {
    rec(node)->subtree_size = 1 + size_of(node->left) + size_of(node->right);
}

// Checks parent links, key order, the colour rules and the subtree sizes
// below node; answers its black height.
int check_subtree(const rb_node *node, const rb_node *parent, int *nodes) {
    if (node == nullptr) return 1;
    EXPECT_EQ(rb_parent(node), parent);
    EXPECT_TRUE(is_black(node) || (is_black(node->left) && is_black(node->right)))
        << "red node with red child";
    EXPECT_TRUE(node->left == nullptr || rec(node->left)->key < rec(node)->key);
    EXPECT_TRUE(node->right == nullptr || rec(node->right)->key > rec(node)->key);
    int left = check_subtree(node->left, node, nodes);
    int right = check_subtree(node->right, node, nodes);
    EXPECT_EQ(left, right) << "black heights differ below key " << rec(node)->key;
    EXPECT_EQ(rec(node)->subtree_size, 1 + size_of(node->left) + size_of(node->right));
    ++*nodes;
    return left + (is_black(node) ? 1 : 0);
}

void check_tree(const rb_root *root, const std::set<int> &model) {
    EXPECT_TRUE(is_black(root->rb_node));
    int nodes = 0;
    check_subtree(root->rb_node, nullptr, &nodes);
    EXPECT_EQ(static_cast<size_t>(nodes), model.size());
    std::vector<int> forward, backward;
    for (rb_node *n = rb_first(root); n; n = rb_next(n)) forward.push_back(rec(n)->key);
    for (rb_node *n = rb_last(root); n; n = rb_prev(n)) backward.insert(backward.begin(), rec(n)->key);
    EXPECT_EQ(forward, std::vector<int>(model.begin(), model.end()));
    EXPECT_EQ(backward, forward);
}

// Inserts r into the tree; false when its key is already there.
bool core_insert(rb_root *root, Rec *r) {
    rb_node **link = &root->rb_node, *parent = nullptr;
    while (*link) {
        parent = *link;
        if (r->key == rec(parent)->key) return false;
        link = r->key < rec(parent)->key ? &parent->left : &parent->right;
    }
    r->subtree_size = 1;
    rb_link_node(&r->rb, parent, link);
    rb_insert_color(&r->rb, root);
    rb_augment_insert(&r->rb, update_size, nullptr);
    return true;
}

void core_erase(rb_root *root, Rec *r) {
    rb_node *deepest = rb_augment_erase_begin(&r->rb);
    rb_erase(&r->rb, root);
    rb_augment_erase_end(deepest, update_size, nullptr);
}

Rec *core_find(rb_root *root, int key) {
    rb_node *n = root->rb_node;
    while (n && rec(n)->key != key) n = key < rec(n)->key ? n->left : n->right;
    return n ? rec(n) : nullptr;
}

TEST(RbCoreTest, SequentialInsertsStayBalanced) {
    std::vector<Rec> recs(1023);
    rb_root root = RB_ROOT_INIT;
    std::set<int> model;
    for (int i = 0; i < 1023; i++) {
        recs[i].key = i;
        ASSERT_TRUE(core_insert(&root, &recs[i]));
        model.insert(i);
    }
    check_tree(&root, model);
    int height = 0;
    for (rb_node *n = root.rb_node; n; n = n->left) height++;
    EXPECT_LE(height, 20);  // 2 log2(n + 1)
}

// Random inserts and erases against std::set, checking every rule and the
// augmented subtree sizes after each step.
TEST(RbCoreTest, MatchesStdSetAndKeepsItsRulesOverRandomOperations) {
    std::mt19937 rng(31337);
    constexpr int kKeys = 600;
    std::vector<Rec> recs(kKeys);
    for (int k = 0; k < kKeys; k++) recs[k].key = k;
    rb_root root = RB_ROOT_INIT;
    std::set<int> model;
    for (int op = 0; op < 12000; op++) {
        int key = static_cast<int>(rng() % kKeys);
        bool growing = (op / 1500) % 2 == 0;
        if (rng() % 10 < (growing ? 7u : 3u)) {
            bool added = core_insert(&root, &recs[key]);
            ASSERT_EQ(added, model.insert(key).second);
        } else {
            Rec *found = core_find(&root, key);
            ASSERT_EQ(found != nullptr, model.count(key) == 1);
            if (found) {
                core_erase(&root, found);
                model.erase(key);
            }
        }
        check_tree(&root, model);
        if (::testing::Test::HasFailure()) FAIL() << "after operation " << op;
    }
}

TEST(RbCoreTest, ReplaceNodePutsTheNewRecordInPlace) {
    std::vector<Rec> recs(50);
    rb_root root = RB_ROOT_INIT;
    std::set<int> model;
    for (int i = 0; i < 50; i++) {
        recs[i].key = i * 2;
        core_insert(&root, &recs[i]);
        model.insert(i * 2);
    }
    for (int victim : {0, 24, 49, 31}) {
        Rec replacement{};
        replacement.key = recs[victim].key;
        replacement.subtree_size = recs[victim].subtree_size;
        rb_replace_node(&recs[victim].rb, &replacement.rb, &root);
        EXPECT_EQ(core_find(&root, replacement.key), &replacement);
        check_tree(&root, model);
        rb_replace_node(&replacement.rb, &recs[victim].rb, &root);  // put it back
    }
    check_tree(&root, model);
}

// Map elements: a key and an identity.
struct MapItem {
    uintptr_t key;
    int id;
};
int compare_items(void *a, void *b) {
    uintptr_t x = static_cast<MapItem *>(a)->key, y = static_cast<MapItem *>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}
int key_to_item(void *key, void *data) {
    uintptr_t x = value(key), y = static_cast<MapItem *>(data)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

int collect_ids(void *ctx, void *data) {
    static_cast<std::vector<int> *>(ctx)->push_back(static_cast<MapItem *>(data)->id);
    return GDSL_RET_OK;
}

class RbTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_destroyed.clear();
        tree = rbtreeInit(compare_items, key_to_item, record_destroy);
        ASSERT_NE(tree, nullptr);
    }
    void TearDown() override { rbtreeDestroy(tree); }

    std::vector<int> ids() {
        std::vector<int> out;
        rbtreeTraverse(tree, collect_ids, &out);
        return out;
    }

    RbTree *tree = nullptr;
};

TEST_F(RbTreeTest, RefusesAnEqualElementAndKeepsTheFirst) {
    MapItem five{5, 1}, other_five{5, 2}, three{3, 3};
    EXPECT_EQ(rbtreeInsert(tree, &five), GDSL_RET_OK);
    EXPECT_EQ(rbtreeInsert(tree, &three), GDSL_RET_OK);
    EXPECT_EQ(rbtreeInsert(tree, &other_five), -1);
    EXPECT_EQ(ids(), (std::vector<int>{3, 1}));
    EXPECT_EQ(rbtreeSearch(tree, word(5)), &five);
    EXPECT_TRUE(g_destroyed.empty());  // the refused element stays the caller's
}

TEST_F(RbTreeTest, SearchFirstLastAndRemove) {
    MapItem items[] = {{40, 0}, {10, 1}, {30, 2}, {20, 3}};
    EXPECT_EQ(rbtreeGetFirst(tree), nullptr);
    EXPECT_EQ(rbtreeGetLast(tree), nullptr);
    for (MapItem &item : items) rbtreeInsert(tree, &item);
    EXPECT_EQ(rbtreeGetFirst(tree), &items[1]);
    EXPECT_EQ(rbtreeGetLast(tree), &items[0]);
    EXPECT_EQ(rbtreeSearch(tree, word(30)), &items[2]);
    EXPECT_EQ(rbtreeSearch(tree, word(35)), nullptr);

    rbtreeRemove(tree, word(30));
    rbtreeRemove(tree, word(35));  // absent: ignored
    EXPECT_EQ(g_destroyed, (std::vector<void *>{&items[2]}));
    EXPECT_EQ(rbtreeSearch(tree, word(30)), nullptr);
    EXPECT_EQ(ids(), (std::vector<int>{1, 3, 0}));
}

int stop_at_second(void *ctx, void *) {
    int &visited = *static_cast<int *>(ctx);
    return ++visited == 2 ? GDSL_RET_STOP : GDSL_RET_OK;
}

TEST_F(RbTreeTest, TraverseEndsOnStopAndAnswersTheLastResult) {
    int visited = 0;
    EXPECT_EQ(rbtreeTraverse(tree, stop_at_second, &visited), GDSL_RET_OK);
    MapItem items[] = {{1, 0}, {2, 1}, {3, 2}};
    for (MapItem &item : items) rbtreeInsert(tree, &item);
    EXPECT_EQ(rbtreeTraverse(tree, stop_at_second, &visited), GDSL_RET_STOP);
    EXPECT_EQ(visited, 2);
}

int remove_given_node(RbTree *t, RbTreeNode *node, void *ctx) {
    ++*static_cast<int *>(ctx);
    rbtreeRemove(t, word(static_cast<MapItem *>(node->data)->key));
    return GDSL_RET_OK;
}

TEST_F(RbTreeTest, SafeTraverseMayRemoveEveryNodeItIsGiven) {
    std::vector<MapItem> items(200);
    std::mt19937 rng(5);
    for (int i = 0; i < 200; i++) {
        items[i] = {rng() % 100000 + 1, i};
        rbtreeInsert(tree, &items[i]);
    }
    size_t stored = ids().size();
    int calls = 0;
    rbtreeTraverseSafe(tree, remove_given_node, &calls);
    EXPECT_EQ(static_cast<size_t>(calls), stored);
    EXPECT_EQ(g_destroyed.size(), stored);
    EXPECT_EQ(rbtreeGetFirst(tree), nullptr);
}

TEST_F(RbTreeTest, DeleteAllDestroysSmallestFirstAndKeepsTheMapUsable) {
    MapItem items[] = {{3, 0}, {1, 1}, {2, 2}};
    for (MapItem &item : items) rbtreeInsert(tree, &item);
    rbtreeDeleteAll(tree);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{&items[1], &items[2], &items[0]}));
    EXPECT_EQ(rbtreeGetFirst(tree), nullptr);
    EXPECT_EQ(rbtreeInsert(tree, &items[0]), GDSL_RET_OK);
    EXPECT_EQ(ids(), (std::vector<int>{0}));
}

TEST_F(RbTreeTest, ArgumentChecksWarnAndAnswerInvalid) {
    pc::test::CaptureStdout out;
    EXPECT_EQ(rbtreeInit(nullptr, key_to_item, nullptr), nullptr);
    EXPECT_EQ(rbtreeInsert(tree, nullptr), GDSL_RET_INVALID_PARAMS);
    EXPECT_EQ(rbtreeSearch(tree, nullptr), nullptr);
    rbtreeRemove(tree, nullptr);
    EXPECT_EQ(rbtreeTraverse(tree, nullptr, nullptr), GDSL_RET_INVALID_PARAMS);
    std::string text = out.text();
    for (const char *expected :
         {"rbtreeInit:", "Warning: dataCmp != NULL && keyDataCmp != NULL failed.\n",
          "rbtreeInsert:", "rbtreeSearch:", "Warning: root != NULL && key != NULL failed.\n",
          "rbtreeRemove:", "rbtreeTraverse:"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
}

// Random inserts, searches and removes against std::map.
TEST_F(RbTreeTest, MatchesStdMapOverRandomOperations) {
    std::mt19937 rng(8080);
    std::vector<MapItem> pool(40000);
    size_t used = 0;
    std::map<uintptr_t, MapItem *> model;
    for (int op = 0; op < 40000; op++) {
        uintptr_t key = 1 + rng() % 3000;
        bool growing = (op / 4000) % 2 == 0;
        unsigned kind = rng() % 10;
        if (kind < (growing ? 6u : 3u)) {
            MapItem *item = &pool[used];
            *item = {key, static_cast<int>(used++)};
            int ret = rbtreeInsert(tree, item);
            ASSERT_EQ(ret, model.count(key) ? -1 : GDSL_RET_OK);
            model.emplace(key, item);
        } else if (kind < 8) {
            size_t before = g_destroyed.size();
            rbtreeRemove(tree, word(key));
            auto it = model.find(key);
            ASSERT_EQ(g_destroyed.size(), before + (it != model.end() ? 1 : 0));
            if (it != model.end()) {
                ASSERT_EQ(g_destroyed.back(), it->second);
                model.erase(it);
            }
        } else {
            auto it = model.find(key);
            ASSERT_EQ(rbtreeSearch(tree, word(key)), it == model.end() ? nullptr : it->second);
            ASSERT_EQ(rbtreeGetFirst(tree), model.empty() ? nullptr : model.begin()->second);
            ASSERT_EQ(rbtreeGetLast(tree), model.empty() ? nullptr : model.rbegin()->second);
        }
        if (op % 997 == 0) {
            std::vector<int> expected;
            for (auto &[k, item] : model) expected.push_back(item->id);
            ASSERT_EQ(ids(), expected);
        }
    }
}

}  // namespace
