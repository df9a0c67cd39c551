/*
 * Remote procedure calls between the processes (and units) of the switch.
 *
 * Parameter sets. A set (AXRPC_PARA_T) is a growable collection of named,
 * typed values: data values are copied into the set's value buffer back to
 * back, flags live in their section record, pointer parameters reference the
 * caller's block (with an optional release function run when the set is
 * freed). A set belongs to whoever initialised it and is never shared
 * between threads while it is filled. Lookups find the first parameter of a
 * name; names are case-sensitive, at most AXRPC_PARA_NAME_MAX characters.
 *
 * Flat form. Inside an RPC message a set travels as
 *     28 bytes   the set's seven words (pointer words carry 32 bits that the
 *                receiver never uses as addresses)
 *     n * 48     the first paraNum section records: name[32], type, length,
 *                value, release word; a pointer section's value is the
 *                offset of its block in the last part
 *     paraLen    the value bytes
 *     extraLen   the pointed-to blocks, in section order
 * all words in the CPU's native byte order. A receiver validates every
 * section against the message before reading it.
 *
 * Calls. A process registers functions by name (AXRPC_FUNC_NAME_MAX
 * characters). A caller names the destination units (a unit bit set), the
 * destination process, the function and an input set; the request travels
 * as a message of module MID_AXRPC. A worker of the destination process
 * runs the function; a synchronous caller waits (in seconds; 0 = the
 * default, AXRPC_WAIT_FOREVER = no limit) for one reply per unit, which is
 * copied into its parameter group (one entry per unit, index unit - 1).
 * Results: 0 success, -1 failure to send, AXRPC_RET_TIMEOUT (1) time-out,
 * AXRPC_RET_FUNC_ERR (2) the function set a non-zero `ret` through envTls or
 * the reply could not be unpacked.
 */
#ifndef PLATFORM_CORE_AXRPC_H
#define PLATFORM_CORE_AXRPC_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/pal.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* ---- Parameter sets ---------------------------------------------------- */

#define AXRPC_PARA_NAME_MAX 31
#define AXRPC_PARA_SEC_NUM 8       /* section records after init and per growth */
#define AXRPC_PARA_BUF_INIT_LEN 64 /* value buffer after init and least growth */

enum {
    AXRPC_PARA_TYPE_DATA = 0,
    AXRPC_PARA_TYPE_PTR = 1,
    AXRPC_PARA_TYPE_FLAG = 2,
};

/* Release function of a pointer parameter; called with the block's address. */
typedef void (*AXRPC_FREE_FUNC)(void *ptr);

typedef struct AXRPC_PARA_SEC_S {
    char name[AXRPC_PARA_NAME_MAX + 1];
    int32_t type;
    int32_t length;
    /* data: offset in paraBuf; pointer: the block's address; flag: the value */
    uintptr_t value;
    AXRPC_FREE_FUNC freeFunc; /* pointer parameters only; may be null */
} AXRPC_PARA_SEC_T;

typedef struct AXRPC_PARA_S {
    uint8_t *paraBuf;              /* value bytes of all data parameters */
    AXRPC_PARA_SEC_T *paraSection; /* one record per parameter, in adding order */
    int32_t paraNum;               /* sections in use */
    int32_t paraLen;               /* bytes of paraBuf in use */
    int32_t paraBufLen;            /* capacity of paraBuf */
    int32_t paraSectionNum;        /* capacity of paraSection */
    int32_t extraLen;              /* sum of the lengths of the pointer parameters */
} AXRPC_PARA_T;

/* One unit's entry of a call's result; a group has one entry per unit. */
#define AXRPC_UNIT_NUM 1
typedef struct AXRPC_PARA_GROUP_S {
    AXRPC_PARA_T paraSet;
    int32_t isUsed; /* 1 once that unit's reply is stored */
} AXRPC_PARA_GROUP_T;

PC_API int axrpcParaInit(AXRPC_PARA_T *para);
PC_API int axrpcParaFree(AXRPC_PARA_T *para);
#define AXRPC_PARA_INIT(para) axrpcParaInit(para)
PC_API int axrpcParaGroupInit(AXRPC_PARA_GROUP_T *paraGroup);
PC_API int axrpcParaGroupFree(AXRPC_PARA_GROUP_T *paraGroup);
PC_API void axrpcFreeBuf(void *ptr);
PC_API int axrpcParaCopy(const AXRPC_PARA_T *src, AXRPC_PARA_T *dst);
PC_API int axrpcCheckParaGroup(const AXRPC_PARA_GROUP_T *paraGroup);

PC_API int axrpcAddData(AXRPC_PARA_T *para, const char *paraName, int type, const void *value, int length);
PC_API int axrpcAddPtr(AXRPC_PARA_T *para, const char *paraName, void *ptr, int length,
                       AXRPC_FREE_FUNC freeFunc);
PC_API int axrpcAddChar(AXRPC_PARA_T *para, const char *paraName, char value);
PC_API int axrpcAddShort(AXRPC_PARA_T *para, const char *paraName, short value);
PC_API int axrpcAddInt(AXRPC_PARA_T *para, const char *paraName, int value);
PC_API int axrpcAddInt64(AXRPC_PARA_T *para, const char *paraName, int64_t value);
PC_API int axrpcAddDouble(AXRPC_PARA_T *para, const char *paraName, double value);
PC_API int axrpcAddString(AXRPC_PARA_T *para, const char *paraName, const char *value, int length);
PC_API int axrpcAddStringPtr(AXRPC_PARA_T *para, const char *paraName, const char *value);
PC_API int axrpcAddFlag(AXRPC_PARA_T *para, const char *paraName, uint32_t value);
PC_API int axrpcAddDataPtr(AXRPC_PARA_T *para, const char *paraName, void *ptr, int length,
                           AXRPC_FREE_FUNC freeFunc);

PC_API int axrpcGetData(const AXRPC_PARA_T *para, const char *paraName, int size, void *out, int *outLen);
PC_API int axrpcGetPtr(const AXRPC_PARA_T *para, const char *paraName, void **outPtr, int *outLen);
PC_API int axrpcGetFlagData(const AXRPC_PARA_T *para, const char *paraName, uint32_t *outValue);
PC_API int axrpcGetChar(const AXRPC_PARA_T *para, const char *paraName, char *value);
PC_API int axrpcGetShort(const AXRPC_PARA_T *para, const char *paraName, short *value);
PC_API int axrpcGetInt(const AXRPC_PARA_T *para, const char *paraName, int *value);
PC_API int axrpcGetInt64(const AXRPC_PARA_T *para, const char *paraName, int64_t *value);
PC_API int axrpcGetDouble(const AXRPC_PARA_T *para, const char *paraName, double *value);
PC_API int axrpcGetString(const AXRPC_PARA_T *para, const char *paraName, int size, char *getValue,
                          int *getLen);
PC_API int axrpcGetStringPtr(const AXRPC_PARA_T *para, const char *paraName, char **value);
PC_API int axrpcGetFlag(const AXRPC_PARA_T *para, const char *paraName, uint32_t *flag);
PC_API int axrpcGetDataPtr(const AXRPC_PARA_T *para, const char *paraName, void **ptr, int *len);

/* ---- Calls ---------------------------------------------------------------- */

#define AXRPC_FUNC_NAME_MAX 31
#define AXRPC_WAIT_QUE_NUM 128     /* synchronous calls outstanding per process */
#define AXRPC_SYNC_THREAD_NUM 32   /* synchronous workers */
#define AXRPC_ASYN_THREAD_NUM 8    /* asynchronous workers */
#define AXRPC_DEFAULT_WAIT_TIME 10 /* seconds */
#define AXRPC_WAIT_FOREVER 255     /* a waitTime that waits without limit */
#define AXRPC_DEFAULT_DEPTH 3      /* deepest accepted nesting of a call */

enum {
    AXRPC_CALL_SYNC = 0,
    AXRPC_CALL_ASYNC = 1,
};
enum {
    AXRPC_MSG_REQUEST = 0,
    AXRPC_MSG_RESPONSE = 1,
};
enum {
    AXRPC_RET_OK = 0,
    AXRPC_RET_TIMEOUT = 1,
    AXRPC_RET_FUNC_ERR = 2,
};

/* Head of every RPC message, 48 bytes, native byte order. */
typedef struct AXRPC_MSG_HEADER_S {
    char funcName[AXRPC_FUNC_NAME_MAX + 1];
    int32_t callKind; /* AXRPC_CALL_SYNC or AXRPC_CALL_ASYNC */
    int32_t type;     /* AXRPC_MSG_REQUEST or AXRPC_MSG_RESPONSE */
    int32_t seq;      /* caller's wait-queue slot (synchronous calls) */
    int32_t id;       /* caller's call identifier (synchronous calls) */
} AXRPC_MSG_HEADER_T;

/* Environment of a call, 24 bytes, follows the header. While a function
 * runs, envTls points at the environment of the request it serves; the
 * function reports a failure by setting `ret` to a non-zero value. */
typedef struct AXRPC_ENV_S {
    int32_t unit;         /* caller's unit */
    int32_t pid;          /* caller's process */
    int32_t defaultDepth; /* AXRPC_DEFAULT_DEPTH */
    int32_t depth;        /* nesting depth; 0 when sent */
    int32_t userArg;      /* carried unchanged */
    int32_t ret;          /* the function's result code; 0 when sent */
} AXRPC_ENV_T;

/* Smallest valid RPC message: header, environment, an empty flat set. */
#define AXRPC_MSG_MIN_LEN 100

PC_API extern pal_tls_key_t envTls;

/* A registered function: reads inPara, fills outPara. Its return value is
 * not used; failures are reported through envTls. */
typedef int (*AXRPC_FUNC)(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

/* A wait-queue slot (opaque). */
typedef struct AXRPC_WAIT_QUE_NODE_S AXRPC_WAIT_QUE_NODE_T;

struct axmsg_s;

PC_API int axrpcInit(void);
PC_API int axrpcDestroy(void);
PC_API int axrpcLibInit(void);
PC_API int axrpcLibDestroy(void);
PC_API int axrpcHashInit(void);

PC_API int axrpcRegisterFunc(const char *funcName, AXRPC_FUNC regFunc);
PC_API int axrpcUnRegisterFunc(const char *funcName);
PC_API AXRPC_FUNC axrpcHashGetFunc(const char *funcName);

/* dstUnits: unit bit set (1 << unit); waitTime in seconds (0 = the default,
 * AXRPC_WAIT_FOREVER = no limit); outParaGroup: AXRPC_UNIT_NUM initialised
 * entries, index unit - 1. Returns 0, -1, AXRPC_RET_TIMEOUT or
 * AXRPC_RET_FUNC_ERR. */
PC_API int axrpcCallFunctionSync(uint32_t dstUnits, int dstPid, const char *funcName, AXRPC_PARA_T *inPara,
                                 unsigned short waitTime, int userArg, AXRPC_PARA_GROUP_T *outParaGroup);
/* Sends the request and returns: 0 once sent, -1 on failure. */
PC_API int axrpcCallFunctionAsync(uint32_t dstUnits, int dstPid, const char *funcName, AXRPC_PARA_T *inPara,
                                  int userArg);

PC_API int axrpcGetSequence(int *seq, int *id);
PC_API int axrpcReleaseSequence(int sequence);
PC_API AXRPC_WAIT_QUE_NODE_T *axrpcGetWaitQue(int seq);
PC_API int axrpcGetDefaultTime(void);

/* Handler of MID_AXRPC messages (registered by axrpcInit). */
PC_API int axrpcMsg_cb(struct axmsg_s *msg);

PC_END_DECLS

#endif
