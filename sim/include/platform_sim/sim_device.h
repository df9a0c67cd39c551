/*
 * Controls of the simulated switch's hardware identity: which row of the
 * device table (platformSupportDev) this process runs on, and a recording
 * port-mode hook for slot 6 of the application hook table.
 *
 * The device type comes from simDeviceSetType() or, failing that, from the
 * environment variable PLATFORM_DEV_TYPE (a type number or a device name,
 * read on first use); without either the process is device type 2.
 */
#ifndef PLATFORM_SIM_SIM_DEVICE_H
#define PLATFORM_SIM_SIM_DEVICE_H

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define SIM_ENV_DEV_TYPE "PLATFORM_DEV_TYPE"
#define SIM_DEV_TYPE_DEFAULT 2

/* Device types the simulated table describes. */
#define SIM_DEV_8GE_2SFP 1
#define SIM_DEV_24GE_4TE 2
#define SIM_DEV_48GE_4TE_SUBSLOT 3
#define SIM_DEV_24FE_2GE 4
#define SIM_DEV_COUNT 4

/* Sets the device type (0 returns to the environment or the default). */
PC_API void simDeviceSetType(int type);
/* Type for a device name (case-insensitive) or a decimal type; 0 if none. */
PC_API int simDeviceTypeParse(const char *text);

/* Slot 6 hook: records, per port, how often it was called and the mode. */
PC_API void simPortModeHookInstall(void);
PC_API void simPortModeHookReset(void);
PC_API int simPortModeHookCalls(UP up);
/* Last mode given for `up` (1 stacking, 0 normal), -1 when never called. */
PC_API int simPortModeHookLast(UP up);

PC_END_DECLS

#endif
