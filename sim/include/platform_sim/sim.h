/*
 * Controls of the simulated switch. Only programs and tests that run on the
 * simulated switch call these; the core library never does.
 *
 * Process identity: a simulated process learns which platform process it is
 * from simProcessSetPid() or, failing that, from the environment variable
 * PLATFORM_PID (read on first use). Debug default: PLATFORM_DEBUG_DEFAULT.
 */
#ifndef PLATFORM_SIM_SIM_H
#define PLATFORM_SIM_SIM_H

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define SIM_ENV_PID "PLATFORM_PID"
#define SIM_ENV_DEBUG_DEFAULT "PLATFORM_DEBUG_DEFAULT"

PC_API void simProcessSetPid(int pid);
PC_API void simSwitchSetInited(int inited);
PC_API void simSetDefaultDbgSwitch(signed char level);
/* Empties every slot of the application hook table. */
PC_API void simAppintfClear(void);
/* Administrative state last set on `up` by adPortStateSet: 1 up, 0 down,
 * -1 never set; simPortStateReset forgets every port. */
PC_API int simPortStateGet(UP up);
PC_API void simPortStateReset(void);
/* The port configuration the feature software would keep: whether the user
 * shut `up` down (1) or not (0, every port at first). simPortHooksSet puts
 * the answering hook in the application hook table's upIsDisable slot, as
 * the port feature does on the switch. */
PC_API void simPortShutdownSet(UP up, int shutdown);
PC_API void simPortHooksSet(void);

PC_END_DECLS

#endif
