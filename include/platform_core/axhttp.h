/*
 * Web request glue: a request's variables in shared memory, and the relay
 * of requests and output between the web server process (5) and the
 * processes that serve the pages.
 *
 * Memory pools. A pool is formatted inside memory that the caller gives
 * (here: inside the shared blocks "global_pool" and "parse_pool"). A pool
 * record at the start is followed by contiguous blocks, each a control
 * block (tag, next link, payload size, a zero word) and its payload, and by
 * the end delimiter 0xACE0BACE. Allocation is best fit with splitting;
 * release merges with free neighbours. Links are stored as the creating
 * process wrote them; a process that maps the memory at another address
 * translates them by the distance between the two mappings, so every
 * process can use the pool.
 *
 * The pool's lock is a 32-bit word inside the pool record that works across
 * processes: it holds the process id of its holder (0 when free), waiters
 * sleep on it (futex), and a waiter that finds the holder's process gone
 * takes the lock over. It takes the place of a per-process mutex, which
 * could not keep two processes apart.
 *
 * Generic lists. A list (header and item array, allocated from a pool)
 * holds name/value items linked in insertion order. Every link is stored
 * twice, as a pointer and as an offset from the list's base (the start of
 * the block that holds it), so a process that maps the block at another
 * address follows the offsets (the functions marked "offsets" below).
 *
 * Request variables. The current request's query arguments and CGI
 * variables are such a list: the global pool's list for ordinary requests,
 * or the expand pool's list for large ones.
 */
#ifndef PLATFORM_CORE_AXHTTP_H
#define PLATFORM_CORE_AXHTTP_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axrpc.h"

PC_BEGIN_DECLS

/* ---- Memory pools ------------------------------------------------------- */

#define AXMEMPOOL_TAG_FREE 0x0C0FFEE0u
#define AXMEMPOOL_TAG_USED 0xDEADBEEFu
#define AXMEMPOOL_DELIMITER 0xACE0BACEu
#define AXMEMPOOL_AVAIL_FREE 0    /* sum of free payloads */
#define AXMEMPOOL_AVAIL_LARGEST 1 /* largest free payload */
#define AXMEMPOOL_AVAIL_PEAK 128  /* most bytes ever in use */

typedef struct AXMEM_BLOCK_S {
    uint32_t tag;               /* AXMEMPOOL_TAG_FREE or AXMEMPOOL_TAG_USED */
    struct AXMEM_BLOCK_S *next; /* following block, null for the last */
    uint32_t size;              /* payload bytes */
    uint32_t zero;
} AXMEM_BLOCK_T;

typedef struct AXMEM_POOL_S {
    AXMEM_BLOCK_T *first; /* the first block, as the creating process saw it */
    uint32_t regionSize;  /* bytes of the block region */
    uint32_t used;        /* payload bytes in use; guarded by lock */
    uint32_t lock;        /* process id of the lock's holder, 0 when free */
    uint32_t lowestFree;  /* lowest sum of free payloads seen */
} AXMEM_POOL_T;

/* Blocks and payloads are aligned for the pool's own records (4 bytes on
 * the 32-bit target, the pointer size elsewhere); requests are rounded up
 * to it. */
#define AXMEMPOOL_ALIGN ((unsigned)sizeof(void *))
#define AXMEMPOOL_HEAD_SIZE ((sizeof(AXMEM_POOL_T) + AXMEMPOOL_ALIGN - 1u) & ~(AXMEMPOOL_ALIGN - 1u))
/* Record, delimiter and one control block with 4 bytes of payload. */
#define AXMEMPOOL_MIN_SIZE (AXMEMPOOL_HEAD_SIZE + 4u + sizeof(AXMEM_BLOCK_T) + 4u)

PC_API AXMEM_POOL_T *axmemPoolNew(void *memory, unsigned size);
PC_API int axmemPoolCleanup(AXMEM_POOL_T *pool);
PC_API void *axmemPoolAlloc(AXMEM_POOL_T *pool, unsigned size);
PC_API int axmemPoolFree(AXMEM_POOL_T *pool, void *address);
PC_API unsigned axmemPoolAvail(AXMEM_POOL_T *pool, int mode);
PC_API unsigned axmemPoolUsed(AXMEM_POOL_T *pool);
PC_API int axmemPoolCheck(AXMEM_POOL_T *pool);
PC_API int axmemPoolDelete(AXMEM_POOL_T *pool);
PC_API int axmemPoolLock(AXMEM_POOL_T *pool);
PC_API int axmemPoolUnlock(AXMEM_POOL_T *pool);

/* ---- Generic lists -------------------------------------------------------- */

#define AXHTTP_GEN_LIST_CAPACITY_MAX 65535u

typedef struct AXHTTP_GEN_ITEM_S {
    uint32_t nameOffset;            /* name text, from the base; 0 = free slot */
    uint32_t nextOffset;            /* next item, from the base; 0 = last */
    char *name;                     /* name text (writer's address) */
    struct AXHTTP_GEN_ITEM_S *next; /* next item (writer's address) */
    uintptr_t data;                 /* value text offset from the base, or a function */
} AXHTTP_GEN_ITEM_T;

typedef struct AXHTTP_GEN_LIST_S {
    uint16_t capacity;
    uint16_t count;
    AXHTTP_GEN_ITEM_T *first; /* first item (writer's address) */
    uint32_t firstOffset;     /* first item, from the base; 0 = empty */
    AXMEM_POOL_T *pool;       /* the pool the list and its texts come from */
    AXHTTP_GEN_ITEM_T *items; /* the item array (writer's address) */
    char *base;               /* the block that holds the list (writer's address) */
    uint32_t selfOffset;      /* this header, from the base */
} AXHTTP_GEN_LIST_T;

typedef int (*AXHTTP_GEN_FUNC)(void *ctx, void *arg);

PC_API AXHTTP_GEN_LIST_T *axhttpGenListCreate(AXMEM_POOL_T *pool, unsigned capacity);
PC_API int axhttpGenListDestroy(AXHTTP_GEN_LIST_T *list);
/* name and value must lie in the list's block (pool memory). */
PC_API int axhttpGenListDataAppend(AXHTTP_GEN_LIST_T *list, char *name, char *value);
PC_API int axhttpGenListFuncAppend(AXHTTP_GEN_LIST_T *list, char *name, AXHTTP_GEN_FUNC func);
PC_API AXHTTP_GEN_ITEM_T *axhttpGenListFind(AXHTTP_GEN_LIST_T *list, const char *name);
PC_API AXHTTP_GEN_ITEM_T *axhttpGenListCaseFind(AXHTTP_GEN_LIST_T *list, const char *name); /* offsets */
PC_API int axhttpGenListRemove(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item);
/* The item after `item` (the first for null); offsets. */
PC_API AXHTTP_GEN_ITEM_T *axhttpGenListIterator(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item);
/* The index-th item in list order; offsets. */
PC_API AXHTTP_GEN_ITEM_T *axhttpGenListIndexIterator(AXHTTP_GEN_LIST_T *list, unsigned index);
PC_API const char *axhttpGenListItemName(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item); /* offsets */
PC_API const char *axhttpGenListItemData(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item); /* offsets */
PC_API AXHTTP_GEN_FUNC axhttpGenListItemFunc(AXHTTP_GEN_ITEM_T *item);
PC_API unsigned axhttpGenListCount(AXHTTP_GEN_LIST_T *list);
PC_API AXMEM_POOL_T *axhttpGenListPool(AXHTTP_GEN_LIST_T *list);
PC_API int axhttpGenListLock(AXHTTP_GEN_LIST_T *list);
PC_API int axhttpGenListUnlock(AXHTTP_GEN_LIST_T *list);

/* ---- Request variables ---------------------------------------------------- */

#define HTTP_ENV_INT_ERR (-128) /* getEnvToInt: missing, empty or out of range */

PC_API int httpSetEnvLib(void *ctx, const char *name, const char *value);
PC_API const char *httpGetEnvLib(AXHTTP_GEN_LIST_T *list, const char *name);
PC_API int httpParseArgsLib(void *ctx, const char *query);
PC_API void axhttpLineUnescape(char *line);
PC_API AXHTTP_GEN_LIST_T *axHttpArgListGet(void);
PC_API const char *axHttpGetEnv(void *ctx, const char *name);
PC_API int getEnvToInt(void *ctx, const char *name, int min, int max);

/* ---- Pools of the web requests ---------------------------------------------- */

#define HTTP_GLOBAL_POOL_NAME "global_pool"
#define HTTP_GLOBAL_POOL_SIZE 32800
#define HTTP_GLOBAL_POOL_OFFSET 32 /* the memory pool inside the block */
#define HTTP_GLOBAL_POOL_MEM 32764
#define HTTP_GLOBAL_LIST_ITEMS 128
#define HTTP_PARSE_POOL_NAME "parse_pool"
#define HTTP_PARSE_POOL_SIZE 0x50030
#define HTTP_PARSE_POOL_OFFSET 48
#define HTTP_PARSE_POOL_MEM 0x50000
#define HTTP_EXPAND_MAX_URL 51200
#define HTTP_EXPAND_MAX_ARGS 2048

PC_API extern unsigned httpExpandMaxUrlSize;
PC_API extern unsigned httpExpandMaxArguments;
PC_API extern AXMEM_POOL_T *pubMemPool;
PC_API extern AXHTTP_GEN_LIST_T *pubGenList;

PC_API int httpSHMInit(void);
PC_API int httpParseInit(void);
PC_API int httpParsePoolGlobalInit(int reqId, int x);
PC_API int httpParseMalloc(int reqId, int pid);
PC_API int httpParsePoolGenListCreate(int reqId);
PC_API int httpParsePoolUsed(int reqId, int pid);
PC_API int httpParsePoolFree(int reqId, int pid);
PC_API int httpSysEnvConfig(void);
/* The expand pool's URL buffer (httpExpandMaxUrlSize bytes) while in use. */
PC_API char *httpParseUrlBuffer(void);

/* ---- Relay between processes ---------------------------------------------- */

#define AXHTTP_SERVER_FUNC "axhttpServerManageFunc"
#define AXHTTP_CLIENT_FUNC "axhttpClientManageFunc"

PC_API int axHttpExecute(int pid, int x, int reqId, AXRPC_PARA_T *args);
PC_API int axHttpPrintf(int x, AXRPC_PARA_T *args);
PC_API int axhttpServerManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axhttpClientManageFunc(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

PC_END_DECLS

#endif
