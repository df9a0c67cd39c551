// Chained hash table.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "element_words.h"
#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

using namespace pc::test;

// Entries of the tables under test: a key and an identity.
struct Entry {
    uintptr_t key;
    int id;
};

unsigned int hash_key(void *key) { return static_cast<unsigned int>(value(key) * 2654435761u); }
// Sends every key to one bucket, to exercise chains.
unsigned int hash_to_one_bucket(void *) { return 5; }
int entry_has_key(void *key, void *data) { return static_cast<Entry *>(data)->key == value(key) ? 0 : 1; }

class HashTest : public ::testing::Test {
protected:
    void SetUp() override { g_destroyed.clear(); }
};

TEST_F(HashTest, NewestEntryOfAKeyIsFoundAndDeletedFirst) {
    Entry older{7, 1}, newer{7, 2}, other{8, 3};
    HashTable *table = hashTableCreate(record_destroy, hash_key, 32);
    ASSERT_NE(table, nullptr);
    for (Entry *e : {&older, &other, &newer}) ASSERT_EQ(hashTableInsert(table, word(e->key), e), GDSL_RET_OK);
    void *found = nullptr;
    EXPECT_EQ(hashTableFind(table, entry_has_key, word(7), &found), GDSL_RET_OK);
    EXPECT_EQ(found, &newer);

    EXPECT_EQ(hashTableDelete(table, entry_has_key, word(7)), GDSL_RET_OK);
    EXPECT_EQ(g_destroyed, (std::vector<void *>{&newer}));
    EXPECT_EQ(hashTableFind(table, entry_has_key, word(7), &found), GDSL_RET_OK);
    EXPECT_EQ(found, &older);
    EXPECT_EQ(hashTableLength(table), 2u);

    EXPECT_EQ(hashTableDelete(table, entry_has_key, word(99)), GDSL_RET_OK);  // absent
    EXPECT_EQ(hashTableLength(table), 2u);
    hashTableDestroy(table);
    EXPECT_EQ(g_destroyed.size(), 3u);
}

TEST_F(HashTest, AbsentKeyClearsTheResultOnlyWhenItsBucketHoldsElements) {
    Entry e{1, 1};
    HashTable *table = hashTableCreate(nullptr, hash_to_one_bucket, 8);
    void *found = word(0x55);
    EXPECT_EQ(hashTableFind(table, entry_has_key, word(2), &found), -1);
    EXPECT_EQ(found, word(0x55));  // bucket never used
    hashTableInsert(table, word(e.key), &e);
    EXPECT_EQ(hashTableFind(table, entry_has_key, word(2), &found), -1);
    EXPECT_EQ(found, nullptr);
    // Emptied by deletes: as empty as never used.
    EXPECT_EQ(hashTableDelete(table, entry_has_key, word(e.key)), GDSL_RET_OK);
    found = word(0x66);
    EXPECT_EQ(hashTableFind(table, entry_has_key, word(2), &found), -1);
    EXPECT_EQ(found, word(0x66));
    hashTableDestroy(table);
}

int collect_until_second_of_bucket(void *ctx, void *data) {
    auto *seen = static_cast<std::vector<int> *>(ctx);
    seen->push_back(static_cast<Entry *>(data)->id);
    return static_cast<Entry *>(data)->id == 2 ? GDSL_RET_STOP : GDSL_RET_OK;
}

TEST_F(HashTest, VisitWalksBucketsInOrderAndStopEndsOnlyTheCurrentBucket) {
    // Bucket = key mod 4: keys 1 and 5 share bucket 1, key 2 is in bucket 2.
    Entry a{1, 1}, b{5, 2}, c{1, 3}, d{2, 4};
    auto identity = [](void *key) { return static_cast<unsigned int>(value(key)); };
    HashTable *table = hashTableCreate(nullptr, identity, 4);
    for (Entry *e : {&a, &b, &c, &d}) hashTableInsert(table, word(e->key), e);
    std::vector<int> seen;
    EXPECT_EQ(hashTableVisit(table, collect_until_second_of_bucket, &seen), GDSL_RET_OK);
    // Bucket 1 holds 3, 2, 1 (newest first) and stops after 2; bucket 2 still runs.
    EXPECT_EQ(seen, (std::vector<int>{3, 2, 4}));
    hashTableDestroy(table);
}

TEST_F(HashTest, ArgumentChecksWarnAndAnswerInvalid) {
    struct Case {
        const char *text;
        std::function<long()> call;
        long answer;
    };
    HashTable *table = hashTableCreate(nullptr, hash_key, 4);
    void *found = nullptr;
    const std::vector<Case> cases = {
        {"hashTableCreate:", [&] { return static_cast<long>(value(hashTableCreate(nullptr, hash_key, 1))); },
         0},
        {"hashTableCreate:", [&] { return static_cast<long>(value(hashTableCreate(nullptr, nullptr, 32))); },
         0},
        {"hashTableInsert:", [&] { return hashTableInsert(table, word(1), nullptr); }, 3},
        {"hashTableFind:", [&] { return hashTableFind(table, nullptr, word(1), &found); }, 3},
        {"hashTableFind:", [&] { return hashTableFind(table, entry_has_key, word(1), nullptr); }, 3},
        {"hashTableDelete:", [&] { return hashTableDelete(nullptr, entry_has_key, word(1)); }, 3},
        {"hashTableVisit:", [&] { return hashTableVisit(table, nullptr, nullptr); }, 3},
        {"hashTableLength:", [&] { return static_cast<long>(hashTableLength(nullptr)); }, 0},
    };
    for (const Case &c : cases) {
        pc::test::CaptureStdout out;
        EXPECT_EQ(c.call(), c.answer) << c.text;
        std::string line = out.text();
        EXPECT_EQ(line.rfind(c.text, 0), 0u) << line;
        EXPECT_NE(line.find(" Warning: "), std::string::npos) << line;
    }
    // The condition texts of the lookups, word for word.
    const std::pair<std::function<long()>, const char *> texts[] = {
        {[&] { return hashTableFind(table, nullptr, word(1), &found); },
         "Warning: thiz != NULL && cmp != NULL && key != NULL failed.\n"},
        {[&] { return hashTableFind(table, entry_has_key, nullptr, &found); },
         "Warning: thiz != NULL && cmp != NULL && key != NULL failed.\n"},
        {[&] { return hashTableFind(table, entry_has_key, word(1), nullptr); },
         "Warning: thiz != NULL && data != NULL failed.\n"},
        {[&] { return hashTableDelete(nullptr, entry_has_key, word(1)); },
         "Warning: thiz != NULL && cmp != NULL && key != NULL failed.\n"},
        {[&] { return hashTableDelete(table, entry_has_key, nullptr); },
         "Warning: thiz != NULL && cmp != NULL && key != NULL failed.\n"},
    };
    for (const auto &[call, text] : texts) {
        pc::test::CaptureStdout out;
        EXPECT_EQ(call(), 3);
        EXPECT_NE(out.text().find(text), std::string::npos) << out.text();
    }
    {
        pc::test::CaptureStdout out;
        hashTableCreate(nullptr, hash_key, 1);
        EXPECT_NE(out.text().find("Warning: hash != NULL && slot_nr > 1 failed.\n"), std::string::npos);
    }
    hashTableDestroy(table);
}

// Random inserts, finds and deletes against a map of key -> entries (newest
// last), with a small table so chains grow long.
TEST_F(HashTest, MatchesAStdMapOfStacksOverRandomOperations) {
    std::mt19937 rng(4321);
    std::vector<Entry> pool(30000);
    size_t used = 0;
    HashTable *table = hashTableCreate(record_destroy, hash_key, 32);
    std::map<uintptr_t, std::vector<Entry *>> model;
    size_t count = 0, deleted = 0;
    for (int op = 0; op < 30000; op++) {
        uintptr_t key = rng() % 400 + 1;  // a key is never 0
        switch (rng() % 4) {
            case 0:
            case 1: {
                Entry *e = &pool[used];
                *e = {key, static_cast<int>(used++)};
                ASSERT_EQ(hashTableInsert(table, word(key), e), GDSL_RET_OK);
                model[key].push_back(e);
                count++;
                break;
            }
            case 2: {
                void *found = nullptr;
                auto it = model.find(key);
                bool present = it != model.end() && !it->second.empty();
                ASSERT_EQ(hashTableFind(table, entry_has_key, word(key), &found), present ? GDSL_RET_OK : -1);
                if (present) {
                    ASSERT_EQ(found, it->second.back());
                }
                break;
            }
            default: {
                auto it = model.find(key);
                ASSERT_EQ(hashTableDelete(table, entry_has_key, word(key)), GDSL_RET_OK);
                if (it != model.end() && !it->second.empty()) {
                    ASSERT_EQ(g_destroyed.back(), it->second.back());
                    it->second.pop_back();
                    count--;
                    deleted++;
                }
                break;
            }
        }
        ASSERT_EQ(hashTableLength(table), count);
    }
    EXPECT_EQ(g_destroyed.size(), deleted);
    size_t visited = 0;
    hashTableVisit(
        table,
        [](void *ctx, void *) {
            ++*static_cast<size_t *>(ctx);
            return static_cast<int>(GDSL_RET_OK);
        },
        &visited);
    EXPECT_EQ(visited, count);
    hashTableDestroy(table);
    EXPECT_EQ(g_destroyed.size(), deleted + count);
}

}  // namespace
