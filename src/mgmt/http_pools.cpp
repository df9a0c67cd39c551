// The pools of the web requests: the global pool for ordinary requests and
// the expand pool for large ones, each in its own shared block.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "mgmt/http_state.h"
#include "mgmt/shared_lock.h"
#include "platform_core/axshm.h"

PC_API unsigned httpExpandMaxUrlSize = 0;
PC_API unsigned httpExpandMaxArguments = 0;
PC_API AXMEM_POOL_T *pubMemPool = nullptr;
PC_API AXHTTP_GEN_LIST_T *pubGenList = nullptr;

namespace pc::mgmt::http {

namespace {

char *block_addr(const char *name, int size) {
    void *addr = nullptr;
    int len = 0;
    if (axshm_get_data_addr(name, &addr, &len) != 0 || len < size) return nullptr;
    return static_cast<char *>(addr);
}

GlobalHeader *global_header() { return reinterpret_cast<GlobalHeader *>(global_block()); }
ParseHeader *parse_header() { return reinterpret_cast<ParseHeader *>(parse_block()); }
// A pool starts at its offset in the block, moved up to the pool's
// alignment where the block is less aligned (only where pointers are
// wider than 4 bytes), and ends with the block.
char *pool_start(char *block, uint32_t offset) {
    auto at = reinterpret_cast<uintptr_t>(block + offset);
    constexpr uintptr_t kAlign = alignof(AXMEM_POOL_T);
    return reinterpret_cast<char *>((at + kAlign - 1) & ~(kAlign - 1));
}
unsigned pool_size(char *block, uint32_t offset, uint32_t blockSize, uint32_t size) {
    const auto room = static_cast<uintptr_t>(block + blockSize - pool_start(block, offset));
    return static_cast<unsigned>(std::min<uintptr_t>(size, room));
}
AXMEM_POOL_T *global_pool() {
    return reinterpret_cast<AXMEM_POOL_T *>(pool_start(global_block(), HTTP_GLOBAL_POOL_OFFSET));
}
AXMEM_POOL_T *expand_pool() {
    return reinterpret_cast<AXMEM_POOL_T *>(pool_start(parse_block(), HTTP_PARSE_POOL_OFFSET));
}
unsigned global_pool_size() {
    return pool_size(global_block(), HTTP_GLOBAL_POOL_OFFSET, HTTP_GLOBAL_POOL_SIZE, HTTP_GLOBAL_POOL_MEM);
}
unsigned expand_pool_size() {
    return pool_size(parse_block(), HTTP_PARSE_POOL_OFFSET, HTTP_PARSE_POOL_SIZE, HTTP_PARSE_POOL_MEM);
}
uint32_t addr32(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

AXHTTP_GEN_LIST_T *list_in(char *block, uint32_t offset) {
    return block != nullptr && offset != 0 ? reinterpret_cast<AXHTTP_GEN_LIST_T *>(block + offset) : nullptr;
}

bool is_owner(const ParseHeader *h, int reqId, int pid) {
    return h->inUse != 0 && (h->ownerReqId == reqId || h->ownerPid == pid);
}

}  // namespace

char *global_block() {
    static char *block = nullptr;
    if (block == nullptr) block = block_addr(HTTP_GLOBAL_POOL_NAME, HTTP_GLOBAL_POOL_SIZE);
    return block;
}

char *parse_block() {
    static char *block = nullptr;
    if (block == nullptr) block = block_addr(HTTP_PARSE_POOL_NAME, HTTP_PARSE_POOL_SIZE);
    return block;
}

}  // namespace pc::mgmt::http

using namespace pc::mgmt::http;
using pc::mgmt::SharedLockGuard;

extern "C" {

PC_API int httpSHMInit(void) {
    PFM_CALL_RET(kMid, axshm_reg_data(HTTP_PARSE_POOL_NAME, HTTP_PARSE_POOL_SIZE));
    PFM_CALL_RET(kMid, axshm_reg_data(HTTP_GLOBAL_POOL_NAME, HTTP_GLOBAL_POOL_SIZE));
    if (parse_block() == nullptr || global_block() == nullptr) {
        PFM_CALL_FAILED(kMid, -1, "axshm_get_data_addr(\"parse_pool\"/\"global_pool\")");
        return -1;
    }
    return 0;
}

PC_API int httpParseInit(void) {
    if (parse_block() == nullptr || global_block() == nullptr) PFM_CALL_RET(kMid, httpSHMInit());
    std::memset(parse_block(), 0, HTTP_PARSE_POOL_SIZE);
    std::memset(global_block(), 0, HTTP_GLOBAL_POOL_SIZE);
    httpExpandMaxUrlSize = HTTP_EXPAND_MAX_URL;
    httpExpandMaxArguments = HTTP_EXPAND_MAX_ARGS;
    if (axmemPoolNew(global_pool(), global_pool_size()) == nullptr) return -1;
    PFM_CALL_RET(kMid, httpParsePoolGlobalInit(0, 0));
    if (axrpcHashGetFunc(AXHTTP_SERVER_FUNC) == nullptr)
        PFM_CALL_RET(kMid, axrpcRegisterFunc(AXHTTP_SERVER_FUNC, axhttpServerManageFunc));
    if (axrpcHashGetFunc(AXHTTP_CLIENT_FUNC) == nullptr)
        PFM_CALL_RET(kMid, axrpcRegisterFunc(AXHTTP_CLIENT_FUNC, axhttpClientManageFunc));
    return 0;
}

PC_API int httpParsePoolGlobalInit(int reqId, int x) {
    char *block = global_block();
    PFM_ENSURE_RET(kMid, NULL != block, -1);
    AXMEM_POOL_T *pool = global_pool();
    if (pool->regionSize == 0 ? axmemPoolNew(pool, global_pool_size()) == nullptr
                              : axmemPoolCleanup(pool) != 0)
        return -1;
    AXHTTP_GEN_LIST_T *list = list_create(pool, HTTP_GLOBAL_LIST_ITEMS, block);
    if (list == nullptr) return -1;
    GlobalHeader *h = global_header();
    h->listOffset = static_cast<uint32_t>(reinterpret_cast<char *>(list) - block);
    h->reqId = reqId;
    h->second = x;
    h->listAddr = addr32(list);
    h->poolAddr = addr32(pool);
    pubMemPool = pool;
    pubGenList = list;
    return 0;
}

PC_API int httpParseMalloc(int reqId, int pid) {
    char *block = parse_block();
    PFM_ENSURE_RET(kMid, NULL != block, -1);
    ParseHeader *h = parse_header();
    SharedLockGuard guard(&h->parseLock);
    if (h->inUse != 0) return is_owner(h, reqId, pid) ? 0 : -1;
    if (httpExpandMaxUrlSize == 0) httpExpandMaxUrlSize = HTTP_EXPAND_MAX_URL;
    if (httpExpandMaxArguments == 0) httpExpandMaxArguments = HTTP_EXPAND_MAX_ARGS;
    AXMEM_POOL_T *pool = axmemPoolNew(expand_pool(), expand_pool_size());
    if (pool == nullptr) return -1;
    auto *url = static_cast<char *>(axmemPoolAlloc(pool, httpExpandMaxUrlSize));
    if (url == nullptr) return -1;
    h->poolAddr = addr32(pool);
    h->urlAddr = addr32(url);
    h->urlOffset = static_cast<uint32_t>(url - block);
    h->listOffset = 0;
    h->ownerReqId = reqId;
    h->ownerPid = pid;
    h->inUse = 1;
    return 0;
}

PC_API int httpParsePoolGenListCreate(int reqId) {
    char *block = parse_block();
    PFM_ENSURE_RET(kMid, NULL != block, -1);
    ParseHeader *h = parse_header();
    SharedLockGuard guard(&h->parseLock);
    if (h->inUse == 0 || h->ownerReqId != reqId) return -1;
    if (h->listOffset != 0) return 0;
    AXHTTP_GEN_LIST_T *list = list_create(expand_pool(), httpExpandMaxArguments, block);
    if (list == nullptr) return -1;
    h->listAddr = addr32(list);
    h->listOffset = static_cast<uint32_t>(reinterpret_cast<char *>(list) - block);
    return 0;
}

PC_API int httpParsePoolUsed(int reqId, int pid) {
    if (parse_block() == nullptr) return 0;
    ParseHeader *h = parse_header();
    SharedLockGuard guard(&h->parseLock);
    return is_owner(h, reqId, pid) ? static_cast<int>(h->inUse) : 0;
}

PC_API int httpParsePoolFree(int reqId, int pid) {
    if (parse_block() == nullptr) return -1;
    ParseHeader *h = parse_header();
    pc::mgmt::shared_lock(&h->parseLock);
    if (!is_owner(h, reqId, pid)) {
        pc::mgmt::shared_unlock(&h->parseLock);
        return -1;
    }
    if (pubMemPool == expand_pool()) {
        pubMemPool = global_pool();
        pubGenList = list_in(global_block(), global_header()->listOffset);
    }
    // Everything but the lock word itself, which is released below.
    std::memset(parse_block(), 0, offsetof(ParseHeader, parseLock));
    std::memset(parse_block() + sizeof(ParseHeader), 0, HTTP_PARSE_POOL_SIZE - sizeof(ParseHeader));
    pc::mgmt::shared_unlock(&h->parseLock);
    return 0;
}

PC_API int httpSysEnvConfig(void) {
    if (parse_block() == nullptr) return -1;
    ParseHeader *h = parse_header();
    SharedLockGuard guard(&h->parseLock);
    AXHTTP_GEN_LIST_T *list = list_in(parse_block(), h->listOffset);
    if (h->inUse == 0 || list == nullptr) return -1;
    pubMemPool = expand_pool();
    pubGenList = list;
    return 0;
}

PC_API char *httpParseUrlBuffer(void) {
    if (parse_block() == nullptr) return nullptr;
    ParseHeader *h = parse_header();
    SharedLockGuard guard(&h->parseLock);
    return h->inUse != 0 && h->urlOffset != 0 ? parse_block() + h->urlOffset : nullptr;
}

PC_API AXHTTP_GEN_LIST_T *axHttpArgListGet(void) {
    if (global_block() == nullptr) return nullptr;
    GlobalHeader *g = global_header();
    if (parse_block() != nullptr) {
        ParseHeader *h = parse_header();
        SharedLockGuard guard(&h->parseLock);
        if (h->inUse != 0 && h->ownerReqId == g->reqId && h->listOffset != 0)
            return list_in(parse_block(), h->listOffset);
    }
    return list_in(global_block(), g->listOffset);
}

}  // extern "C"
