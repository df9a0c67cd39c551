/*
 * The application hook table.
 *
 * The switch's feature software answers the library's questions through one
 * table of function pointers, `appintf`, owned and filled by a sibling
 * library. Every slot may be empty; a caller then skips its step. Each slot
 * has its own signature: read a slot through the typed accessor of its
 * number, e.g. APPINTF_GET(APPINTF_SLOT_UP_IS_DISABLE).
 */
#ifndef PLATFORM_CORE_APPINTF_H
#define PLATFORM_CORE_APPINTF_H

#include <stddef.h>
#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define APPINTF_SLOT_NUM 32

typedef void (*appintf_fn)(void);
PC_API extern appintf_fn appintf[APPINTF_SLOT_NUM];

#define APPINTF_SLOT_UP_IS_DISABLE 3    /* (UP, int *disabled) */
#define APPINTF_SLOT_PORT_ISOLATION 4   /* (UP rx, up_list *reach) */
#define APPINTF_SLOT_PORT_MODE 6        /* (UP, int stacking) */
#define APPINTF_SLOT_UP_TO_LAG 7        /* (UP, uint32_t *lag) */
#define APPINTF_SLOT_LAG_MEMBERS 8      /* (uint32_t lag, up_list *members) */
#define APPINTF_SLOT_STP_RX_CHECK 9     /* (frame, vid, UP, int *blocked) */
#define APPINTF_SLOT_STP_TX_FILTER 10   /* (frame, vid, flags, in, out) */
#define APPINTF_SLOT_INTF_EXISTS 11     /* (id, kind) */
#define APPINTF_SLOT_LOOPBACK_COUNT 12  /* () */
#define APPINTF_SLOT_CONFIG_LOAD 13     /* (text, len) */
#define APPINTF_SLOT_ACL_POS_FRONT 14   /* (int *pos, ...) */
#define APPINTF_SLOT_ACL_POS_BACK 15    /* (int *pos, a, b, c) */
#define APPINTF_SLOT_PKTCTL_RELOAD_1 18 /* () */
#define APPINTF_SLOT_PKTCTL_RELOAD_2 19
#define APPINTF_SLOT_PKTCTL_RELOAD_3 20
#define APPINTF_SLOT_PKTCTL_RELOAD_4 21

typedef int (*appintf_up_is_disable_fn)(UP up, int *disabled);
typedef int (*appintf_port_isolation_fn)(UP rx_port, up_list *reach);
typedef int (*appintf_port_mode_fn)(UP up, int stacking);
typedef int (*appintf_up_to_lag_fn)(UP up, uint32_t *lag_id);
typedef int (*appintf_lag_members_fn)(uint32_t lag_id, up_list *members);
typedef int (*appintf_stp_rx_check_fn)(const uint8_t *frame, uint32_t vid, UP rx_port, int *blocked);
typedef int (*appintf_stp_tx_filter_fn)(const uint8_t *frame, uint32_t vid, uint32_t flags,
                                        const up_list *candidates, up_list *allowed);
typedef int (*appintf_intf_exists_fn)(uint32_t id, int kind);
typedef int (*appintf_loopback_count_fn)(void);
typedef int (*appintf_config_load_fn)(const char *text, uint32_t len);
typedef int (*appintf_acl_pos_front_fn)(int *pos, ...);
typedef int (*appintf_acl_pos_back_fn)(int *pos, uint32_t a, uint32_t b, uint32_t c);
typedef int (*appintf_void_fn)(void);

#define APPINTF_SLOT_TYPE_3 appintf_up_is_disable_fn
#define APPINTF_SLOT_TYPE_4 appintf_port_isolation_fn
#define APPINTF_SLOT_TYPE_6 appintf_port_mode_fn
#define APPINTF_SLOT_TYPE_7 appintf_up_to_lag_fn
#define APPINTF_SLOT_TYPE_8 appintf_lag_members_fn
#define APPINTF_SLOT_TYPE_9 appintf_stp_rx_check_fn
#define APPINTF_SLOT_TYPE_10 appintf_stp_tx_filter_fn
#define APPINTF_SLOT_TYPE_11 appintf_intf_exists_fn
#define APPINTF_SLOT_TYPE_12 appintf_loopback_count_fn
#define APPINTF_SLOT_TYPE_13 appintf_config_load_fn
#define APPINTF_SLOT_TYPE_14 appintf_acl_pos_front_fn
#define APPINTF_SLOT_TYPE_15 appintf_acl_pos_back_fn
#define APPINTF_SLOT_TYPE_18 appintf_void_fn
#define APPINTF_SLOT_TYPE_19 appintf_void_fn
#define APPINTF_SLOT_TYPE_20 appintf_void_fn
#define APPINTF_SLOT_TYPE_21 appintf_void_fn

/* Typed read of slot N (a slot macro or number); null when the slot is empty. */
#define APPINTF_SLOT_TYPE_(n) APPINTF_SLOT_TYPE_##n
#define APPINTF_SLOT_TYPE(n) APPINTF_SLOT_TYPE_(n)
#define APPINTF_GET(n) ((APPINTF_SLOT_TYPE(n))appintf[n])
/* Fill slot N with a hook of its type. */
#define APPINTF_SET(n, fn) (appintf[n] = (appintf_fn)(APPINTF_SLOT_TYPE(n))(fn))

PC_END_DECLS

#endif
