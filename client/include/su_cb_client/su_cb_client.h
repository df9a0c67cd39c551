/*
 * Stack unit callbacks in an application process.
 *
 * The core keeps the lists of stack unit callbacks of every process. An
 * application process registers its handler in its own table (so that it
 * has an index there), reports it to the core through "suCbModRegReport",
 * and serves "suCbModExeProxy", through which the core runs the handler
 * here when the event comes. Call suCbClientInit once after the messaging
 * client and RPC are up (axmsg_client_init, axrpcInit).
 */
#ifndef SU_CB_CLIENT_SU_CB_CLIENT_H
#define SU_CB_CLIENT_SU_CB_CLIENT_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/stack_cb.h"

PC_BEGIN_DECLS

/* Serves "suCbModExeProxy" in this process; 0 or -1. */
PC_API int suCbClientInit(void);

/* Register here and report to the core; 0, or -1 (nothing stays
 * registered). Data sync takes set, get and free handlers. */
PC_API int suCbClientUpdateCbReg(uint32_t mid, uint32_t pri, su_cb_update_hnd_t hnd);
PC_API int suCbClientAttachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd);
PC_API int suCbClientDetachCbReg(uint32_t mid, uint32_t pri, su_cb_unit_hnd_t hnd);
PC_API int suCbClientDataSyncCbReg(uint32_t mid, uint32_t pri, su_cb_data_hnd_t set, su_cb_data_hnd_t get,
                                   su_cb_data_hnd_t freeHnd);

/* Remove here and in the core (hndType SU_CBHND_UPDATE, _ATTACH, _DETACH or
 * _DATASET for data sync). */
PC_API int suCbClientCbUnreg(uint32_t hndType, uint32_t mid, uint32_t pri);

PC_END_DECLS

#endif
