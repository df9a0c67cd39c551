/*
 * The stack unit callback manager.
 *
 * Modules in every process react when stack units attach, detach, when the
 * unit's role changes (update) and when an attached unit must receive the
 * master's data (data sync). Per handler type the manager keeps a list of
 * nodes ordered by ascending priority (equal priorities in registration
 * order) and an array of handler pointers; a node names its handler's slot.
 * A node registered by another process holds the proxy, which runs the
 * handler in that process through the RPC function "suCbModExeProxy".
 * Each handler type has its own mutex; handlers run with it held. A
 * handler may remove itself or another handler and register new ones while
 * a walk runs: the walk runs, in order, the handlers registered when it
 * began that are still registered at their turn; a handler registered
 * during a walk first runs in the next walk.
 *
 * Runtime data sync lets a module on the master push a block of data at any
 * time to the same module on every attached unit.
 */
#ifndef PLATFORM_CORE_STACK_CB_H
#define PLATFORM_CORE_STACK_CB_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* Event types (su_cb_exe_param_t.type). */
#define SU_CB_UPDATE 0
#define SU_CB_ATTACH 1
#define SU_CB_DETACH 2
#define SU_CB_DATA_SYNC 3
#define SU_CB_TYPE_IS_VALID(type) ((uint32_t)(type) <= SU_CB_DATA_SYNC)

/* Handler types. */
#define SU_CBHND_UPDATE 0
#define SU_CBHND_ATTACH 1
#define SU_CBHND_DETACH 2
#define SU_CBHND_DATAGET 3
#define SU_CBHND_DATASET 4
#define SU_CBHND_DATAFREE 5
#define SU_CBHND_NUM 6
#define SU_CBHND_TYPE_IS_VALID(t) ((uint32_t)(t) <= SU_CBHND_DATAFREE)

#ifndef PFM_PRIORITY_IS_VALID
#define PFM_PRIORITY_IS_VALID(p) ((uint32_t)(p) <= 255u)
#endif

/* RPC functions and their parameters. */
#define SU_CB_MOD_REG_REPORT "suCbModRegReport"
#define SU_CB_MOD_UNREG_REPORT "suCbModUnregReport"
#define SU_CB_MOD_EXE_PROXY "suCbModExeProxy"
#define SU_DATA_SYNC_SET_HND "suDataSyncSetHnd"
#define STK_USO_RT_RPC_SRV "stkUsoRuntime"

PC_API extern const char *suCbEventTypeDes[4];

/* Key of a registration: compared byte-wise as a whole (12 bytes). */
typedef struct su_cb_key {
    uint32_t pid;
    uint32_t mid;
    uint32_t priority;
} su_cb_key_t;

/* What a trigger hands to the handlers (20 bytes). */
typedef struct su_cb_exe_param {
    unit_list l;
    uint32_t type;
    uint32_t roleChg;
    uint32_t mastChg;
    uint32_t isFirst;
} su_cb_exe_param_t;

/* The three words an update handler receives. */
typedef struct su_cb_update {
    uint32_t roleChg;
    uint32_t mastChg;
    uint32_t isFirst;
} su_cb_update_t;

/* Data sync payload: the get handler fills it, the free handler releases it. */
typedef struct usodata {
    void *data;
    uint32_t len;
} usodata_t;

typedef int (*su_cb_unit_hnd_t)(unit_list l);             /* attach, detach */
typedef int (*su_cb_update_hnd_t)(su_cb_update_t *flags); /* update */
typedef int (*su_cb_data_hnd_t)(usodata_t *data);         /* get, set, free */
typedef int (*su_rt_hnd_t)(void *data, uint32_t len);     /* runtime data */

/* Registration parameter: hnd[0..2] are set, get, free for data sync,
 * otherwise only hnd[0]; index is filled in; rpcIndex is -1 locally. */
typedef struct su_cb_reg_param {
    void *hnd[3];
    su_cb_key_t key;
    int index;
    int rpcIndex;
} su_cb_reg_param_t;

PC_API int suCbMngKeyCreate(su_cb_key_t *key, uint32_t p, uint32_t m, uint32_t pri);
PC_API int suCbMngtInit(void);
PC_API int _suCbMngtAdd(su_cb_reg_param_t *param, uint32_t hndType);
PC_API int _suCbMngtDelete(su_cb_reg_param_t *param, uint32_t hndType);

PC_API int stkUsoAttachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd);
PC_API int stkUsoDetachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd);
PC_API int stkUsoUpdateCbReg(uint32_t mid, uint32_t pri, su_cb_update_hnd_t hnd);
PC_API int stkUsoDataSyncCbReg(uint32_t mid, uint32_t pri, su_cb_data_hnd_t set, su_cb_data_hnd_t get,
                               su_cb_data_hnd_t freeHnd);
PC_API int stkUsoAttachCbUnreg(uint32_t mid, uint32_t pri);
PC_API int stkUsoDetachCbUnreg(uint32_t mid, uint32_t pri);
PC_API int stkUsoUpdateCbUnreg(uint32_t mid, uint32_t pri);
PC_API int stkUsoDataSyncCbUnreg(uint32_t mid, uint32_t pri);

/* A walk runs every handler of the event's list even when some fail; it
 * returns 0 when all succeeded and -1 when any failed. */
PC_API int stkUsoAttachDetachAction(unit_list unitchg_list, int attach);
PC_API int stkUsoUpdateAction(int roleChg, int mastChg, int isFirst);
PC_API int stkUsoDataSyncAction(unit_list attach_l);
PC_API int suCbExeTraverse(su_cb_exe_param_t *param);
PC_API int suCbExeSpec(su_cb_key_t *key, int index, su_cb_exe_param_t *param);

PC_API int stkUsoRuntimeDataHndReg(uint32_t mid, su_rt_hnd_t hnd);
PC_API int stkUsoRuntimeDataHndUnreg(uint32_t mid);
PC_API int stkUsoRuntimeDataSync(uint32_t mid, usodata_t *data);

/* Start-up (core process) and its parts. */
PC_API int stkUsoInit(void);
PC_API int suCbExeInit(void);
PC_API int stkUsoRuntimeInit(void);

/* The RPC functions served in the core and, for the proxy, in the process
 * that registered a handler (the application client serves it there). */
PC_API int _suCbModRegReportSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out);
PC_API int _suCbModUnregReportSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out);
PC_API int _suCbModExeProxySrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out);
PC_API int _suDataSyncSetHndSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out);
PC_API int _stkUsoRuntimeSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out);

PC_END_DECLS

#endif
