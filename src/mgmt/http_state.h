// Internals of the web glue: the pool as one process sees it, list
// creation with a given base, and the two shared blocks.
#pragma once

#include <cstdint>

#include "platform_core/axhttp.h"
#include "platform_core/platform.h"

namespace pc::mgmt::http {

inline constexpr unsigned kMid = MID_HTTP;

// A pool seen from this process's mapping. Stored links are the creating
// process's addresses; `delta_` translates them. Callers hold the lock.
class PoolView {
public:
    explicit PoolView(AXMEM_POOL_T *pool);
    int check() const;
    uint32_t free_sum(bool largest) const;
    void format();
    void *alloc(uint32_t size);
    int release(void *address);

private:
    AXMEM_BLOCK_T *load(AXMEM_BLOCK_T *stored) const;
    AXMEM_BLOCK_T *store(AXMEM_BLOCK_T *local) const;
    AXMEM_BLOCK_T *first() const;
    AXMEM_BLOCK_T *next(AXMEM_BLOCK_T *block) const;
    char *end() const;

    AXMEM_POOL_T *pool_;
    char *region_;
    uintptr_t delta_;
};

// A list whose offsets count from `base` (the start of its block).
AXHTTP_GEN_LIST_T *list_create(AXMEM_POOL_T *pool, unsigned capacity, char *base);

// The blocks hold 32-bit words only: the shared data service lays blocks
// out back to back, 4-byte aligned. Addresses are the writer's (whole on
// the 32-bit target), for listings; readers use the offsets.

// Header of "global_pool" (the pool follows at HTTP_GLOBAL_POOL_OFFSET).
struct GlobalHeader {
    uint32_t listOffset;  // the list, from the block
    int32_t reqId;        // request the variables belong to
    int32_t second;       // passed on by httpParsePoolGlobalInit
    uint32_t listAddr;    // writer's address of the list
    uint32_t poolAddr;    // writer's address of the pool
};

// Header of "parse_pool" (the pool follows at HTTP_PARSE_POOL_OFFSET).
struct ParseHeader {
    uint32_t listOffset;  // the expand list, from the block; 0 = none
    uint32_t inUse;       // 1 while a request owns the expand pool
    int32_t ownerReqId;   // guarded by parseLock
    int32_t ownerPid;     // guarded by parseLock
    uint32_t listAddr;    // writer's address of the list
    uint32_t poolAddr;    // writer's address of the pool
    uint32_t urlAddr;     // writer's address of the URL buffer
    uint32_t urlOffset;   // the URL buffer, from the block
    uint32_t parseLock;   // shared lock of the ownership (parseSem)
};
static_assert(sizeof(GlobalHeader) <= HTTP_GLOBAL_POOL_OFFSET);
static_assert(sizeof(ParseHeader) <= HTTP_PARSE_POOL_OFFSET);

// The blocks in this process (null before httpSHMInit).
char *global_block();
char *parse_block();

}  // namespace pc::mgmt::http
