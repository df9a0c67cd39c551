/*
 * The unit/port value, port lists and unit lists.
 *
 * Every module names a front-panel port, the CPU port or a link aggregation
 * group (LAG) by one 32-bit value, UP: type (31..24), unit (23..16), slot
 * (15..8) and port (7..0). Type 1 is a switch port, type 2 a LAG (unit and
 * slot 0, port = LAG id 1..14); 0xA5 marks a value that is never valid.
 * This build has one stack unit, unit 1.
 *
 * Every legal UP has a dense inner index 0..78: the ports 0..64 of unit 1
 * (port 0 is the CPU port) and the LAGs 1..14 at 65..78. A port list
 * (up_list, types.h) holds bit (slot base offset + port) of unit 1 in words
 * 0..2 and bit (LAG id - 1) in words 3..5.
 *
 * A port is valid when it is legal for the build and present in the valid
 * list, the shared block "valid_uplsit", which the unit property code keeps
 * from the hardware's port definitions (a LAG while it is in use). The
 * device status and type of unit 1 live in the shared block "sys_propt"
 * (up_propt.h). Each process attaches with up_core_init (the core process,
 * which also creates and fills both blocks) or up_mod_init (every other).
 */
#ifndef PLATFORM_CORE_UP_H
#define PLATFORM_CORE_UP_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* The UP value's fields and limits, and the port list's helpers: types.h. */

#define INNER_UP_LAG_BASE 64 /* index of LAG id n is 64 + n */
#define INNER_UP_IDX_MAX 79  /* indexes 0..78; 79 is the end value */

#define INNER_UP_UNIT_IS_LEGAL(unit) ((unit) >= UNIT_1 && (unit) < UNIT_NUM)
#define UP_SLOT_IS_LEGAL(slot) ((slot) < UP_SLOT_NUM)
#define INNER_UP_IDX_IS_LEGAL(index) ((index) < INNER_UP_IDX_MAX)

/* Device status of a unit. */
#define DEV_STAT_NOT_PRESENT 0
#define DEV_STAT_PRESENT 1
#define DEV_STAT_PROVISION 2
#define DEV_STAT_IS_LEGAL(stat) ((stat) < 3)

#define SHM_SYS_PROPT_NAME "sys_propt"
#define SHM_VALID_UPLIST_NAME "valid_uplsit"

/* The tests every module uses. */
#define UP_IS_LAG(up) (UP_TYPE(up) == UP_TYPE_LAG)
#define UP_IS_SWP(up) (UP_TYPE(up) == UP_TYPE_SWP)
#define UP_IS_VALID(up) inner_up_is_valid(up)
#define UP_UNIT_IS_VALID(unit) inner_up_unit_is_valid(unit)
#define UP_IS_VALID_CPU(up) (UP_UNIT_IS_VALID(UP_UNIT(up)) && (((UP)(up)&0xFFFFu) == 0))
#define UP_UNIT_LIST_IS_EMPTY(ul) ((ul) == 0)

PC_API uint32_t inner_up_to_idx(UP up);
/* Table value of `index`; 79 gives 0x01010104 (logged unless quiet), more gives 0. */
PC_API UP inner_up_from_index(UP *up, uint32_t index, int quiet, const char *func, int line);
PC_API int inner_up_unitbase_get(uint32_t unit);
PC_API int inner_up_slotbaseoffset_get(uint32_t slot);
PC_API int inner_up_is_valid(UP up);
PC_API int inner_up_unit_is_valid(uint32_t unit);
PC_API int inner_up_unit_is_provision(uint32_t unit);
PC_API int inner_up_is_provision(UP up);
PC_API int inner_up_list_is_empty(up_list l);
PC_API int inner_up_list_is_provision(up_list l);
PC_API int inner_up_list_to_up_unit_list(up_list l, unit_list *ul);
PC_API int inner_up_unit_attach_list_get(unit_list *ul, uint32_t *n);
PC_API int inner_up_unit_remove_provision(unit_list *l);
PC_API int inner_up_valid_list_get(up_list *l);
PC_API int inner_up_valid_list_get_u(uint32_t u, up_list *l);
PC_API int inner_up_valid_list_get_us(unit_list ul, up_list *l);
PC_API int inner_up_legal_list_get(up_list *l);
PC_API uint32_t inner_up_get_bitcnt(uint32_t word);

PC_API int up_core_init(void);
PC_API int up_mod_init(void);

/* Index table lookup that names its caller. */
#define INNER_UP_FROM_INDEX(up, index) inner_up_from_index(&(up), (index), 0, __func__, __LINE__)

PC_END_DECLS

#endif
