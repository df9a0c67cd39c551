// A map of fixed capacity in one block of plain memory: the simulated
// chip's tables live in a shared segment, where nothing may point into one
// process's heap. Open addressing with linear probing; an erased slot stays
// a tombstone until clear(). A zero-filled FixedMap is empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma GCC visibility push(hidden)

namespace pc::sim {

template <typename K, typename V, size_t N>
class FixedMap {
public:
    V *find(K key) {
        size_t at = 0;
        return locate(key, at) ? &slots_[at].value : nullptr;
    }
    const V *find(K key) const { return const_cast<FixedMap *>(this)->find(key); }

    // False when the table is full and `key` is not in it.
    bool set(K key, const V &value) {
        size_t at = 0;
        if (!locate(key, at)) {
            if (!free_slot(key, at)) return false;
            slots_[at].state = kUsed;
            slots_[at].key = key;
        }
        slots_[at].value = value;
        return true;
    }

    void erase(K key) {
        size_t at = 0;
        if (locate(key, at)) slots_[at].state = kErased;
    }

    // In place: a table may be too big for a small thread's stack.
    void clear() { std::memset(static_cast<void *>(slots_.data()), 0, sizeof slots_); }

private:
    enum : uint8_t { kEmpty = 0, kUsed = 1, kErased = 2 };
    struct Slot {
        uint8_t state;
        K key;
        V value;
    };

    static size_t home(K key) {
        return static_cast<size_t>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> 32) % N;
    }

    bool locate(K key, size_t &at) const {
        for (size_t i = 0, s = home(key); i < N; ++i, s = (s + 1) % N) {
            if (slots_[s].state == kEmpty) return false;
            if (slots_[s].state == kUsed && slots_[s].key == key) {
                at = s;
                return true;
            }
        }
        return false;
    }

    bool free_slot(K key, size_t &at) const {
        for (size_t i = 0, s = home(key); i < N; ++i, s = (s + 1) % N)
            if (slots_[s].state != kUsed) {
                at = s;
                return true;
            }
        return false;
    }

    std::array<Slot, N> slots_;
};

}  // namespace pc::sim

#pragma GCC visibility pop
