/*
 * Identifiers and small value types shared by every family of the library.
 *
 * A process identifier (PID) names one process of the switch (1..63, the
 * core process is 1); a module identifier (MID) names a feature module
 * (1..127) and indexes the debug switches. A unit bit set holds bit
 * (1 << unit) per stack unit.
 */
#ifndef PLATFORM_CORE_TYPES_H
#define PLATFORM_CORE_TYPES_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

enum {
    PID_INVALID = 0,
    PID_CORE = 1,
    PID_HTTPD = 5,
    PID_MAX = 64, /* valid PIDs are below this */
};

enum {
    MID_INVALID = 0,
    MID_STACK = 1,
    MID_UTP = 2,
    MID_AXMSG = 3,
    MID_NOTIFY = 4,
    MID_AXPACKET = 5,
    MID_UP = 6,
    MID_AXRPC = 7,
    MID_AXIMI = 8,
    MID_TIMER = 10,
    MID_PKTCTL = 11,
    MID_PAL = 12,
    MID_MODLOAD = 13,
    MID_AXCONFIG = 16,
    MID_SUCB = 17,
    MID_MONITOR = 19,
    MID_HTTP = 24,
    MID_PLATFORM = 31,
    MID_IMAGE = 37,
    MID_MAX = 128, /* valid MIDs are 1..MID_MAX-1 */
};

#define IS_PID_VALID(pid) ((pid) > PID_INVALID && (pid) < PID_MAX)
#define IS_MID_VALID(mid) ((mid) > MID_INVALID && (mid) < MID_MAX)
/* Priorities of registrations (packet, configuration, stack callbacks):
 * 0..255, lower first. Either signedness may be passed. */
#define PFM_PRIORITY_MAX 255u
#define PFM_PRIORITY_IS_VALID(p) ((uint32_t)(p) <= PFM_PRIORITY_MAX)

/* The unit/port value: type(31..24) unit(23..16) slot(15..8) port(7..0).
 * Type 1 is a switch port, type 2 a LAG (unit and slot 0, port = LAG id);
 * 0xA5 marks a value that is never valid. This build has one stack unit. */
typedef uint32_t UP;

#define UNIT_1 1
#define UNIT_NUM 2 /* legal units are UNIT_1 .. UNIT_NUM-1 */

#define UP_TYPE_SWP 1
#define UP_TYPE_LAG 2
#define UP_TYPE_INVALID 0xA5

#define UP_SLOT_NUM 2
#define UP_SLOT0_PORT_MAX 54 /* ports 0..54 in slot 0 */
#define UP_SLOT1_PORT_MAX 4  /* ports 0..4 in slot 1 */
#define UP_LAG_MAX 14        /* LAG ids 1..14 */
#define UP_UNIT_PORT_MAX 65  /* inner indexes of one unit's ports */

#define UP_MAKE(type, unit, slot, port)                                         \
    ((UP)((((uint32_t)(type)&0xFFu) << 24) | (((uint32_t)(unit)&0xFFu) << 16) | \
          (((uint32_t)(slot)&0xFFu) << 8) | ((uint32_t)(port)&0xFFu)))
#define UP_TYPE(up) (((UP)(up) >> 24) & 0xFFu)
#define UP_UNIT(up) (((UP)(up) >> 16) & 0xFFu)
#define UP_SLOT(up) (((UP)(up) >> 8) & 0xFFu)
#define UP_PORT(up) ((UP)(up)&0xFFu)
#define UP_LAG_ID(up) UP_PORT(up)
#define UP_INVALID_VALUE UP_MAKE(UP_TYPE_INVALID, 0, 0, 0)
#define UP_CPU_VALUE(unit) UP_MAKE(UP_TYPE_SWP, unit, 0, 0)

/* Port list, a bitmap: words 0..2 the ports of unit 1, bit (slot base
 * offset + port) with bit b in word b / 32 (the slot base offset is 0 for
 * both slots); words 3..5 the LAGs, bit (LAG id - 1). An empty list is all
 * zero: `up_list l = {{0}};`. */
#define UP_LIST_WORDS 6
#define UP_LIST_UNIT_WORDS 3 /* words of one unit in an up_list */
#define UP_LIST_LAG_WORD 3   /* first word of the LAGs */
typedef struct up_list {
    uint32_t bits[UP_LIST_WORDS];
} up_list;

/*
 * Port list helpers, for any process (no shared block needed):
 *
 *   up_list ports = {{0}};
 *   up_list_set(&ports, UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 3));   (1/0/3)
 *   if (up_list_test(&ports, up)) ...
 *   UP up;
 *   UP_LIST_FOR_EACH(up, &ports) printf("%08x\n", up);
 *
 * They take the syntax of a port or LAG only (unit 1, slot 0 ports 0..54,
 * slot 1 ports 0..4, LAGs 1..14); whether the port exists on this switch is
 * UP_IS_VALID (up.h). A walk yields the ports in port order as slot 0
 * values (slot 1 port n shares the bit of slot 0 port n), then the LAGs.
 */

/* Word and mask of `up`'s bit; 0, or -1 for a value that has none. */
static inline int up_list_bit_locate(UP up, uint32_t *word, uint32_t *mask) {
    uint32_t bit;
    if (UP_TYPE(up) == UP_TYPE_SWP) {
        uint32_t slot = UP_SLOT(up);
        if (UP_UNIT(up) != UNIT_1 || slot >= UP_SLOT_NUM ||
            UP_PORT(up) > (slot == 0 ? (uint32_t)UP_SLOT0_PORT_MAX : (uint32_t)UP_SLOT1_PORT_MAX))
            return -1;
        bit = UP_PORT(up);
        *word = bit / 32u;
    } else if (UP_TYPE(up) == UP_TYPE_LAG) {
        if (UP_LAG_ID(up) < 1u || UP_LAG_ID(up) > (uint32_t)UP_LAG_MAX) return -1;
        bit = UP_LAG_ID(up) - 1u;
        *word = UP_LIST_LAG_WORD + bit / 32u;
    } else {
        return -1;
    }
    *mask = (uint32_t)1u << (bit % 32u);
    return 0;
}

/* Adds `up` to the list; 0, or -1 (list unchanged) when it is no port or LAG. */
static inline int up_list_set(up_list *l, UP up) {
    uint32_t word, mask;
    if (up_list_bit_locate(up, &word, &mask) != 0) return -1;
    l->bits[word] |= mask;
    return 0;
}

/* Takes `up` out of the list; 0, or -1 when it is no port or LAG. */
static inline int up_list_unset(up_list *l, UP up) {
    uint32_t word, mask;
    if (up_list_bit_locate(up, &word, &mask) != 0) return -1;
    l->bits[word] &= ~mask;
    return 0;
}

/* 1 when `up` is in the list, else 0 (also for a value that is no port). */
static inline int up_list_test(const up_list *l, UP up) {
    uint32_t word, mask;
    if (up_list_bit_locate(up, &word, &mask) != 0) return 0;
    return (l->bits[word] & mask) != 0;
}

/* The member after `prev` (UP_INVALID_VALUE: the first member), or
 * UP_INVALID_VALUE after the last one or for a `prev` that is no port. */
static inline UP up_list_next(const up_list *l, UP prev) {
    /* Walk position: ports 0..UP_UNIT_PORT_MAX-1, then LAG ids 1..UP_LAG_MAX. */
    uint32_t pos = 0;
    if (prev != UP_INVALID_VALUE) {
        uint32_t word, mask;
        if (up_list_bit_locate(prev, &word, &mask) != 0) return UP_INVALID_VALUE;
        pos = (UP_TYPE(prev) == UP_TYPE_LAG ? (uint32_t)UP_UNIT_PORT_MAX + UP_LAG_ID(prev) - 1u
                                            : UP_PORT(prev)) +
              1u;
    }
    for (; pos < (uint32_t)UP_UNIT_PORT_MAX; ++pos)
        if (l->bits[pos / 32u] & ((uint32_t)1u << (pos % 32u))) return UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, pos);
    for (pos -= (uint32_t)UP_UNIT_PORT_MAX; pos < (uint32_t)UP_LAG_MAX; ++pos)
        if (l->bits[UP_LIST_LAG_WORD + pos / 32u] & ((uint32_t)1u << (pos % 32u)))
            return UP_MAKE(UP_TYPE_LAG, 0, 0, pos + 1u);
    return UP_INVALID_VALUE;
}

/* Runs the statement after it once per member, `up` (a UP variable) set to it. */
#define UP_LIST_FOR_EACH(up, l) \
    for ((up) = up_list_next((l), UP_INVALID_VALUE); (up) != UP_INVALID_VALUE; (up) = up_list_next((l), (up)))

/* Unit list: bit u set for unit u (bit 0 never used). */
typedef uint32_t unit_list;

PC_END_DECLS

#endif
