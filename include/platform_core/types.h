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

/* The unit/port value: type(31..24) unit(23..16) slot(15..8) port(7..0). */
typedef uint32_t UP;

/* Port list: words 0..2 the ports of unit 1, words 3..5 the LAGs. */
#define UP_LIST_WORDS 6
typedef struct up_list {
    uint32_t bits[UP_LIST_WORDS];
} up_list;

/* Unit list: bit u set for unit u (bit 0 never used). */
typedef uint32_t unit_list;

PC_END_DECLS

#endif
