/*
 * The switch chip SDK's ACL and trap calls that the CPU traffic-control
 * adapter makes. They are not part of libplatform_core: on the switch the
 * chip vendor's SDK provides them, on a development machine the simulated
 * chip (libplatform_sim) does. Only what the adapter relies on is fixed here.
 *
 * An ACL rule is a physical entry of the chip's ACL table (unit 0, phase 0):
 * fields written as value/mask byte strings of the field's width, most
 * significant byte first; a valid flag; an operation word (two consecutive
 * entries may be aggregated into one rule); and an action record. Every
 * call answers 0, or a non-zero vendor error.
 */
#ifndef PLATFORM_CORE_CHIP_ACL_H
#define PLATFORM_CORE_CHIP_ACL_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* Field types of sdk_acl_ruleEntryField_write (the vendor's enumeration). */
#define SDK_ACL_FIELD_SPMASK 6     /* ingress chip ports 0..31, 4 bytes */
#define SDK_ACL_FIELD_DMAC 7       /* 6 bytes */
#define SDK_ACL_FIELD_SMAC 8       /* 6 bytes */
#define SDK_ACL_FIELD_ETHERTYPE 15 /* 2 bytes */
#define SDK_ACL_FIELD_IP4_SIP 42   /* 4 bytes */
#define SDK_ACL_FIELD_IP4_DIP 43   /* 4 bytes */
#define SDK_ACL_FIELD_IP_PROTO 48  /* 1 byte */
#define SDK_ACL_FIELD_L4_SPORT 52  /* 2 bytes */
#define SDK_ACL_FIELD_L4_DPORT 53  /* 2 bytes */

/* Forwarding types of the action record. */
#define SDK_ACL_FWD_COPY 2
#define SDK_ACL_FWD_TRAP 4

#define SDK_ACL_ACTION_SIZE 204

/* The vendor's ACL action record (204 bytes). Zero means "no action". */
typedef struct sdk_acl_action_s {
    uint32_t fwd_en;
    uint32_t fwd_type; /* SDK_ACL_FWD_COPY or SDK_ACL_FWD_TRAP */
    uint32_t fwd_port; /* target chip port of copy and trap */
    uint32_t drop;
    uint32_t pri_en;
    uint32_t pri; /* CPU queue 0..7 */
    uint32_t meter_en;
    uint32_t meter_idx;
    uint8_t reserved[SDK_ACL_ACTION_SIZE - 8 * 4];
} sdk_acl_action_t;

/* Operation of an entry: `aggr` joins it with the next entry into one rule
 * whose fields are all matched. */
typedef struct sdk_acl_operation_s {
    uint32_t reverse;
    uint32_t aggr;
} sdk_acl_operation_t;

PC_API int sdk_acl_ruleEntryField_write(uint32_t unit, uint32_t phase, uint32_t entryIdx, uint32_t fieldType,
                                        const uint8_t *data, const uint8_t *mask);
PC_API int sdk_acl_ruleValidate_set(uint32_t unit, uint32_t phase, uint32_t entryIdx, uint32_t valid);
PC_API int sdk_acl_ruleOperation_set(uint32_t unit, uint32_t phase, uint32_t entryIdx,
                                     const sdk_acl_operation_t *op);
PC_API int sdk_acl_ruleAction_get(uint32_t unit, uint32_t phase, uint32_t entryIdx, sdk_acl_action_t *action);
PC_API int sdk_acl_ruleAction_set(uint32_t unit, uint32_t phase, uint32_t entryIdx,
                                  const sdk_acl_action_t *action);

/* Address learning from management frames of `frameType` and from frames
 * to the reserved multicast group `group` (1: 01:80:C2:00:00:xx). */
PC_API int sdk_trap_mgmtFrameLearningEnable_set(uint32_t unit, uint32_t frameType, uint32_t enable);
PC_API int sdk_trap_rmaGroupLearningEnable_set(uint32_t unit, uint32_t group, uint32_t enable);

PC_END_DECLS

#endif
