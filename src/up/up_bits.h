// Bit positions of ports and LAGs in a port list, and the dense inner index.
#pragma once

#include <cstdint>

#include "platform_core/up.h"

namespace pc::up {

inline constexpr uint32_t kSlotBaseOffset[UP_SLOT_NUM] = {0, 0};
inline constexpr uint32_t kPortMax[UP_SLOT_NUM] = {UP_SLOT0_PORT_MAX, UP_SLOT1_PORT_MAX};
inline constexpr uint32_t kUnitBase[UNIT_NUM + 1] = {0, 0, UP_UNIT_PORT_MAX};  // by unit; [0] unused

constexpr bool list_test(const up_list &l, uint32_t word_base, uint32_t bit) {
    return (l.bits[word_base + bit / 32] >> (bit % 32)) & 1u;
}
constexpr void list_set(up_list &l, uint32_t word_base, uint32_t bit) {
    l.bits[word_base + bit / 32] |= 1u << (bit % 32);
}
constexpr void list_clear(up_list &l, uint32_t word_base, uint32_t bit) {
    l.bits[word_base + bit / 32] &= ~(1u << (bit % 32));
}

// Word base of unit 1's ports, and of the LAGs.
inline constexpr uint32_t kUnitWords = 0;
inline constexpr uint32_t kLagWords = UP_LIST_LAG_WORD;

// The legal syntax of a UP, before the valid list is consulted.
constexpr bool up_is_legal(UP up) {
    uint32_t type = UP_TYPE(up), port = UP_PORT(up);
    if (type == UP_TYPE_SWP)
        return UP_UNIT(up) == UNIT_1 && UP_SLOT(up) < UP_SLOT_NUM && port <= kPortMax[UP_SLOT(up)];
    if (type == UP_TYPE_LAG) return port >= 1 && port <= UP_LAG_MAX;
    return false;
}

// Bit of a legal switch port of unit 1 in the unit's words.
constexpr uint32_t port_bit(UP up) { return kSlotBaseOffset[UP_SLOT(up)] + UP_PORT(up); }

// The inner index table: ports 0..64 of unit 1, then LAGs 1..14.
struct IndexTable {
    UP up[INNER_UP_IDX_MAX];
};
constexpr IndexTable make_index_table() {
    IndexTable t{};
    for (uint32_t i = 0; i < INNER_UP_IDX_MAX; ++i)
        t.up[i] = i < UP_UNIT_PORT_MAX ? UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, i)
                                       : UP_MAKE(UP_TYPE_LAG, 0, 0, i - INNER_UP_LAG_BASE);
    return t;
}
inline constexpr IndexTable kIndexTable = make_index_table();

constexpr up_list make_legal_list() {
    up_list l{};
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) list_set(l, kUnitWords, i);
    for (uint32_t id = 1; id <= UP_LAG_MAX; ++id) list_set(l, kLagWords, id - 1);
    return l;
}
inline constexpr up_list kLegalList = make_legal_list();

}  // namespace pc::up
