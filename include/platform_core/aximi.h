/*
 * The interactive management interface: the bridge between user-interface
 * processes (the command line, the web server) and the management functions
 * that live in server processes.
 *
 * Roles. A server (axImiInit) registers management functions by name in a
 * 32-bucket table guarded by "AXIMI_FUNC_TABLE_LOCK" and serves the RPC
 * function "aximiServerManageFunc". A client (axImiInitForUI) installs a
 * print hook and a user-information hook and serves "aximiClientPrintFunc",
 * "aximiClientManageFunc" and "aximiGetUserInfoFunc". A process may be both.
 *
 * Execution. axImiExecute makes one synchronous RPC call of
 * "aximiServerManageFunc" in the destination process and waits without
 * limit. The server runs the function on an RPC worker; every axImiPrintf
 * inside it is a nested synchronous RPC call of "aximiClientPrintFunc" back
 * to the client, whose print hook shows the text (and, for the reading
 * variants, puts the user's answer into the reply). The client's executing
 * thread waits meanwhile, so a client must have RPC running. On the stack
 * master a successful execution is repeated on the other attached units.
 *
 * Print direction. The 4-byte shared block "aximi_out_share" tells a slave
 * unit whether management output goes to a UI (1) or is suppressed (0).
 *
 * Thread environment. While a function runs, the thread-local key
 * imiEnvTls points at an AXIMI_ENV_T naming the client and its session, and
 * imiPrintTls holds the thread's output-to-UI flag.
 */
#ifndef PLATFORM_CORE_AXIMI_H
#define PLATFORM_CORE_AXIMI_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axrpc.h"
#include "platform_core/pal.h"

PC_BEGIN_DECLS

#define IMI_FUNC_NAME_MAX 63 /* characters of a management function's name */
#define IMI_PROC_CLIENT 1    /* procType bit of a UI process */
#define IMI_PROC_SERVER 2    /* procType bit of a server process */

/* execFlag of a show function: a slave skips it when the master asked. */
#define IMI_EXEC_ALL_UNITS 0
#define IMI_EXEC_MASTER_ONLY 2

/* Shared block of the print direction. */
#define AXIMI_OUTPUT_SHARE "aximi_out_share"

/* RPC functions. */
#define AXIMI_SERVER_FUNC "aximiServerManageFunc"
#define AXIMI_CLIENT_PRINT_FUNC "aximiClientPrintFunc"
#define AXIMI_CLIENT_MANAGE_FUNC "aximiClientManageFunc"
#define AXIMI_CLIENT_USERINFO_FUNC "aximiGetUserInfoFunc"

/* RPC parameter names. */
#define AXIMI_CLIENT_SERV_NAME "clientServName"
#define AXIMI_CLIENT_ENV "clientPrivateData"
#define AXIMI_CLIENT_PID "clientPid"
#define AXIMI_CLIENT_IS_MASTER "clientIsMaster"
#define AXIMI_SERVER_RET "serverServRet"
#define AXIMI_SERVER_PRINT_STRING "serverPrintString"
#define AXIMI_SERVER_ENV "serverPrivateData"
#define AXIMI_SERVER_PRINT_FLAG "serverPrintFlag"
#define AXIMI_CLIENT_RET "ret"
#define AXIMI_PRINT_STRING "aximi_print_string"
#define AXIMI_PRINT_YESNO "aximi_print_num"
#define AXIMI_PRINT_CHAR "aximi_print_char"
#define AXIMI_USER_SESSION "session"
#define AXIMI_USER_INFO "userinfo"

/* serverPrintFlag: what the UI reads after showing the text. */
#define AXIMI_PRINT_FLAG_NONE 0
#define AXIMI_PRINT_FLAG_STRING 1
#define AXIMI_PRINT_FLAG_YESNO 2
#define AXIMI_PRINT_FLAG_CHAR 3

/* The request context handed to a management function and to every print. */
typedef struct AXIMI_CTX_S {
    int32_t clientPid; /* the UI process */
    void *privateData; /* the UI's session block (a copy), or null */
    int32_t privateLen;
} AXIMI_CTX_T;

/* Thread environment of a running management function (imiEnvTls). */
typedef struct AXIMI_ENV_S {
    int32_t reserved;
    int32_t clientPid; /* 0 outside a request */
    int32_t session;   /* first word of the session block, 0 without one */
} AXIMI_ENV_T;

/* User information record, 72 bytes. */
#define AXIMI_USER_NAME_LEN 17
#define AXIMI_USER_IP_LEN 17
typedef struct AXIMI_USER_INFO_S {
    char userName[AXIMI_USER_NAME_LEN]; /* offset 0 */
    char userIp[AXIMI_USER_IP_LEN];     /* offset 17, dotted IPv4 text */
    char reserved[34];
    int32_t level; /* offset 68 */
} AXIMI_USER_INFO_T;

typedef int (*AXIMI_FUNC)(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out);
/* UI side: show `text`; for a reading flag put the answer into `out`. */
typedef int (*AXIMI_PRINT_HOOK)(int printFlag, void *privateData, const char *text, AXRPC_PARA_T *out);
typedef int (*AXIMI_USER_INFO_HOOK)(int session, AXIMI_USER_INFO_T *userInfo);

PC_API extern pal_tls_key_t imiEnvTls;
PC_API extern pal_tls_key_t imiPrintTls;

/* Roles. */
PC_API int axImiInit(void);
PC_API int axImiInitForUI(AXIMI_PRINT_HOOK printHook, AXIMI_USER_INFO_HOOK userInfoHook);
PC_API int axImiDeInit(void);

/* Server: management functions. */
PC_API int axImiRegisterFunc(const char *funcName, AXIMI_FUNC hook, int execFlag);
PC_API int axImiUnregisterFunc(const char *funcName);

/* Client: run a function in process dstPid; returns its result or -1. The
 * reply's parameters are copied into args. */
PC_API int axImiExecute(int dstPid, const char *funcName, void *session, int sessionSize, AXRPC_PARA_T *args);
PC_API int axImiExecuteAsyn(int dstPid, const char *funcName, void *session, int sessionSize,
                            AXRPC_PARA_T *args);

/* Server, inside a management function: output to the UI. */
PC_API int axImiPrintf(AXIMI_CTX_T *ctx, const char *format, ...) PC_PRINTF(2, 3);
PC_API int axImiPrintfAsync(AXIMI_CTX_T *ctx, const char *format, ...) PC_PRINTF(2, 3);
PC_API char axImiPrintfGetChar(AXIMI_CTX_T *ctx, const char *format, ...) PC_PRINTF(2, 3);
PC_API int axImiPrintfGetYesNo(AXIMI_CTX_T *ctx, const char *format, ...) PC_PRINTF(2, 3);
PC_API int axImiPrintfGetString(AXIMI_CTX_T *ctx, char *buf, int bufLen, const char *format, ...)
    PC_PRINTF(4, 5);

/* Client, inside the print hook: the user's answer. */
PC_API int axImiPutChar(AXRPC_PARA_T *out, char c);
PC_API int axImiPutInt(AXRPC_PARA_T *out, int value);
PC_API int axImiPutString(AXRPC_PARA_T *out, const char *str);

PC_API int axImiGetEnv(AXIMI_ENV_T *env);
PC_API int axImiGetPrintDirection(void);
PC_API int axImiSetPrintDirection(int value);

/* Served RPC functions (registered by the init calls). */
PC_API int aximiServerManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int aximiClientPrintFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int aximiClientManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int aximiGetUserInfoFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

/* Arguments of a management function, read and written by name. */
#define axImiArgGetInt(args, name, value) axrpcGetInt((args), (name), (value))
#define axImiArgGetString(args, name, value) axrpcGetStringPtr((args), (name), (value))
#define axImiArgGetChar(args, name, value) axrpcGetChar((args), (name), (value))
#define axImiArgGetFlag(args, name, value) axrpcGetFlag((args), (name), (value))
#define axImiArgAddInt(args, name, value) axrpcAddInt((args), (name), (value))
#define axImiArgAddChar(args, name, value) axrpcAddChar((args), (name), (value))
#define axImiArgAddFlag(args, name, value) axrpcAddFlag((args), (name), (uint32_t)(value))
#define axImiArgAddString(args, name, value) axrpcAddStringPtr((args), (name), (value))

PC_END_DECLS

#endif
