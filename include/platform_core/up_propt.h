/*
 * Unit and port properties.
 *
 * The unit property record sys_property_t lives in the shared block
 * "sys_propt" so that every process reads the same facts about the stack
 * unit: its device status and type, the property and mode word of every
 * port and LAG, the fitted sub-slot module, and the ranges of port numbers
 * each interface type occupies. The core process creates it
 * (upProptShmReg), fills it from the platform's device table (upProptInit)
 * and changes it through the set operations below; other processes only
 * look it up (upProptShmGet). Every read holds the block's read lock and
 * every write its write lock; when the valid list "valid_uplsit" is written
 * too, "sys_propt" is taken first and released last.
 *
 * The record is in native byte order; its layout is fixed (see the size and
 * offsets below) and holds no pointers.
 */
#ifndef PLATFORM_CORE_UP_PROPT_H
#define PLATFORM_CORE_UP_PROPT_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"
#include "platform_core/up.h"
#include "platform_core/up_platform.h"

PC_BEGIN_DECLS

/* Interface types. */
#define INTF_TYPE_FE 0
#define INTF_TYPE_GE 1
#define INTF_TYPE_TE 2
#define INTF_TYPE_LAG 3
#define INTF_TYPE_MAX 4 /* none */
#define INTF_TYPE_IS_LEGAL(it) ((it) < INTF_TYPE_MAX)

/* Mode word bits this library acts on. */
#define UP_MODE_PRESENT 0    /* the port exists; mirrored into the valid list */
#define UP_MODE_LAG_IN_USE 1 /* a LAG in use; mirrored into the valid list */
#define UP_MODE_STACK_CAPABLE 2
#define UP_MODE_INTF_FE 22
#define UP_MODE_INTF_GE 23
#define UP_MODE_INTF_TE 24
#define UP_MODE_NORMAL 30
#define UP_MODE_STACKING 31
#define UP_MODE_IS_LEGAL(m) ((m) < 32)

#define SUBSLOT_TYPE_NUM 4
#define SUBSLOT_TYPE_IS_VALID(t) ((t) < SUBSLOT_TYPE_NUM)
#define SUBSLOT_PORT_NUM 5

#define UP_PROPT_DEF_ROWS 14
#define UP_PROPT_PORT_RANGE_PAIRS 8 /* pair 2 * intf type + slot */
#define UP_PROPT_MODE_NUM INNER_UP_IDX_MAX
#define UP_PROPT_SLOT1_BASE 55 /* definition entries 55..59: slot 1 */
#define UP_PROPT_SLOT2_BASE 60 /* definition entries 60..64: second sub-slot block */

typedef struct sys_property {
    uint32_t stat;         /* device status of unit 1 (DEV_STAT_*) */
    uint32_t type;         /* device type of unit 1, 0 = none */
    uint32_t subslot_type; /* sub-slot type of slot 1, 0..3 */
    uint8_t slot_amount;   /* 1 + populated sub-slot blocks; written with port_range */
    uint8_t port_range[UP_PROPT_PORT_RANGE_PAIRS][2]; /* first, last */
    uint8_t pad[3];
    uint32_t stk_compatible_map;      /* bit t: type t may stack with this unit */
    uint32_t mode[UP_PROPT_MODE_NUM]; /* by inner index */
} sys_property_t;

PC_API extern const uint32_t upProptDefs[UP_PROPT_DEF_ROWS];
PC_API extern const uint32_t subslotProptDefs[SUBSLOT_TYPE_NUM][SUBSLOT_PORT_NUM];

PC_API int upProptShmReg(void);
PC_API int upProptShmGet(void);
PC_API int upProptInit(void);
PC_API int upProptDevStatSet(uint32_t unit, uint32_t stat);
PC_API int upProptDevStatGet(uint32_t unit, uint32_t *stat);
PC_API int upProptDevTypeSet(uint32_t unit, uint32_t type);
PC_API int upProptDevTypeGet(uint32_t unit, uint32_t *type);
PC_API const dev_def_t *upProptDevTypeDesGet(uint32_t type);
PC_API const dev_def_t *upProptDevTypeDesGetByUnit(uint32_t unit);
PC_API int upProptDevTypeMapGet(uint32_t *map);
PC_API int upProptStkCompatibleChk(uint32_t type);
PC_API int upProptIntfTypeGet(UP up, uint32_t *it);
PC_API int upProptSetMode(UP up, uint32_t m);
PC_API int upProptClrMode(UP up, uint32_t m);
PC_API int upProptChkMode(UP up, uint32_t m);
PC_API int upProptResetMode(UP up);
PC_API int upProptSubslotTypeSet(uint32_t unit, uint32_t subslot, uint32_t subslot_type);
PC_API int upProptSubslotTypeGet(uint32_t unit, uint32_t subslot, uint32_t *subslot_type);
PC_API int upProptSubslotIsPresent(uint32_t unit, uint32_t subslot);
PC_API int upProptSubslotAmountGet(uint32_t unit, uint32_t *subslotAmount);
PC_API int upProptPortRangeGet(uint32_t unit, uint32_t it, uint32_t slot, uint32_t *from, uint32_t *to);
PC_API int upProptUnitAmountGet(void);
PC_API int upProptAbsentPortsGet(uint32_t unit, uint32_t from, uint32_t to, up_list *l);
PC_API int upProptUnitUnset(uint32_t unit);
PC_API int upProptProvDevClear(void);

PC_END_DECLS

#endif
