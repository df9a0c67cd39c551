// What the container tests share: elements are pointer-sized words, here
// small integers or pointers to keyed items, and a log of destroy calls.
#pragma once

#include <cstdint>
#include <vector>

namespace pc::test {

inline void *word(uintptr_t v) { return reinterpret_cast<void *>(v); }
inline uintptr_t value(const void *w) { return reinterpret_cast<uintptr_t>(w); }

inline int compare_words(void *a, void *b) { return value(a) < value(b) ? -1 : value(a) > value(b) ? 1 : 0; }
inline int key_matches(void *key, void *data) { return value(key) == value(data) ? 0 : 1; }

// Elements with a sort key and an identity, to see the order of equal keys.
struct Item {
    int key;
    int id;
};
inline int compare_items(void *a, void *b) {
    return static_cast<Item *>(a)->key - static_cast<Item *>(b)->key;
}

// Every element a container handed to its destroy callback, in order.
inline std::vector<void *> g_destroyed;
inline void record_destroy(void *data) { g_destroyed.push_back(data); }

}  // namespace pc::test
