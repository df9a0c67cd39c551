/*
 * Stack state and configuration, and the stack unit callback manager.
 *
 * This build is one stand-alone unit: it is always unit 1 and always the
 * master, stacking settings are refused ("Not support stacking"), and the
 * chip adapter hooks for stacking do nothing. The start-up task
 * "tStackFsm" loads the saved configuration once the switch has started,
 * reloads the CPU traffic-control entries, applies every port's
 * administrative state and runs the first update callbacks.
 *
 * The callback manager keeps, per event kind, handlers keyed by process,
 * module and priority, and runs them in ascending priority; handlers of
 * other processes are run through the RPC function "suCbModExeProxy"
 * served in their process.
 */
#ifndef PLATFORM_CORE_STACK_H
#define PLATFORM_CORE_STACK_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* ---- Stack state -------------------------------------------------------- */

/* The saved configuration read by the start-up task. */
#define STK_CONFIG_FILE "/axbase/usrapp/conf/config.ax"
/* Most bytes of it that are read. */
#define STK_CONFIG_MAX_LEN 0x180000u

PC_API extern const char *stkTopoDes[3]; /* "Solo", "Line", "Ring" */

PC_API uint32_t stkGetCurrentUnit(void);
PC_API uint32_t stkGetMasterUnit(void);
PC_API uint32_t stackNvcfgUnitIDGet(void);
PC_API int stkCurrentIsMaster(void);
PC_API int stkSupport(void);
PC_API int stackNvcfgSPmodeGet(uint32_t offset, uint32_t *enable);
PC_API int stkIsReady(void);
PC_API int stkGetMac(uint32_t unit, uint8_t *mac);
PC_API int stkStackMacGet(uint8_t *mac);
PC_API int stkGetSocDevNum(void);

/* Refused settings: log "Not support stacking" and answer -1
 * (stkTopoDesGet answers 0). The arguments are not looked at. */
PC_API int stkCfgUnidSet(uint32_t unit, uint32_t newUnit);
PC_API int stkCfgUnidGet(uint32_t unit, uint32_t *newUnit);
PC_API int stkStkPortModeSet(UP up, uint32_t mode);
PC_API int stkStkPortModeGet(UP up, uint32_t *mode);
PC_API int stkPortAciveGroupIdGet(UP up, uint32_t *group);
PC_API int stkPortAciveGroupIdTest(UP up, uint32_t group);
PC_API int stkVersionGet(uint32_t unit, char *version, uint32_t len);
PC_API int stkPrioritySet(uint32_t unit, uint32_t priority);
PC_API int stkPriorityGet(uint32_t unit, uint32_t *priority);
PC_API int stkStkPortInfoGet(UP up, void *info);
PC_API int stkTopoDesGet(uint32_t *topo);

/* Start-up steps: the database and sync hooks do nothing in this build;
 * stkfsmInit starts the task "tStackFsm". */
PC_API int stkdbLoad(void);
PC_API int sfSyncInit(void);
PC_API int stkfsmInit(void);

/* The saved configuration: *data (freed by the caller with pal_free) and
 * *len; 0 with a null buffer when there is no file. */
PC_API int swStkGetConfigFromFile(char **data, uint32_t *len);

/* ---- Chip adapter for stacking ------------------------------------------ */

#define AD_STACK_RPC_TYPE_MIN 1
#define AD_STACK_RPC_TYPE_MAX 4
typedef int (*adStackRpcFunc_t)(void *argument);

PC_API int adStackInit(void);
PC_API int adStackStart(void);
PC_API int adStackL2LearnEnable(void);
PC_API int adStackRpcInit(void);
PC_API int adSrTypeValSet(uint32_t type, uint32_t value);
PC_API int adSrTypeValGet(uint32_t type, uint32_t *value);
PC_API int adSrTypeValSetByChipunit(uint32_t chip, uint32_t type, uint32_t value);
PC_API int adSrTypeValGetByChipunit(uint32_t chip, uint32_t type, uint32_t *value);
PC_API int adRpcXferDataReg(uint32_t type, void *function);
PC_API int adRpcDataSnd(uint32_t unit, void *data, uint32_t len);
PC_API int adRpcDataRcv(uint32_t unit, void *data, uint32_t len);
PC_API int adRpcDataSndByChipunit(uint32_t chip, void *data, uint32_t len);
PC_API int adRpcDataRcvByChipunit(uint32_t chip, void *data, uint32_t len);
PC_API int adStackPrioritySet(uint32_t unit, uint32_t priority);
PC_API int adStackUnitIdSet(uint32_t unit, uint32_t newUnit);
PC_API int adStackPortStkModeSet(UP up, uint32_t mode);
PC_API int adStackPortEnableSet(UP up, int enable);
PC_API int adStackRpcRegister(uint32_t type, adStackRpcFunc_t function, void *argument);

PC_END_DECLS

#endif
