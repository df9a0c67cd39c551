/*
 * The configuration registry seen from a feature process.
 *
 * A feature process (connected to the hub, with RPC running) registers its
 * running-configuration printer and port deletion handler here. The
 * registration is kept in this process and announced to the core with the
 * RPC function "axconfigManageGetCfgReg"; the core then asks this process
 * for its sections through "axconfigManageGetCfg" and tells it of deleted
 * ports through "axconfigManageDelPort", both served here by the local
 * printer or handler of the name.
 *
 * Output to a CLI session goes straight from this process to the UI
 * (axImiPrintf), so axConfigClientInit also makes the process a management
 * server when it is not one yet.
 */
#ifndef AXMSG_CLIENT_AXCONFIG_CLIENT_H
#define AXMSG_CLIENT_AXCONFIG_CLIENT_H

#include "platform_core/api.h"
#include "platform_core/axconfig.h"

PC_BEGIN_DECLS

/* Serves "axconfigManageGetCfg" and "axconfigManageDelPort". */
PC_API int axConfigClientInit(void);
/* Registers locally and in the core; 0, -1, or the core's refusal. */
PC_API int axConfigClientRegister(const char *regName, AXCFG_GET_CFG_FUNC getCfgFunc,
                                  AXCFG_DEL_PORT_FUNC delPortFunc, int priority);
PC_API int axConfigClientUnRegister(const char *regName);

/* The served functions. */
PC_API int axconfigManageGetCfg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axconfigManageDelPort(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

PC_END_DECLS

#endif
