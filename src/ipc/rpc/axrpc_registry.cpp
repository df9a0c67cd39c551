// The RPC function registry (see axrpc_registry.h).
#include "ipc/rpc/axrpc_registry.h"

#include <array>
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::ipc::rpc {

namespace {

struct FuncNode {
    char name[AXRPC_FUNC_NAME_MAX + 1];
    AXRPC_FUNC func;
    FuncNode *next;
};

struct FuncTable {
    pal_mutex_t funcLock = nullptr;                        // created by registry_init
    std::array<FuncNode *, kRegistryBuckets> funcTable{};  // guarded by funcLock
};

FuncTable lFuncTable;

bool same_name(const FuncNode *node, const char *name) {
    return std::strncmp(node->name, name, AXRPC_FUNC_NAME_MAX) == 0;
}

FuncNode **bucket_of(const char *name) {
    return &lFuncTable.funcTable[function_name_hash(name) % kRegistryBuckets];
}

}  // namespace

uint32_t function_name_hash(const char *name) {
    uint32_t h = 0;
    for (const char *p = name; *p != '\0'; ++p)
        h = (h * 33u) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
    return h;
}

int registry_init() {
    if (lFuncTable.funcLock != nullptr) return 0;
    lFuncTable.funcLock = pal_mutex_create("AXRPC_FUNC_TABLE_LOCK");
    if (lFuncTable.funcLock == nullptr) {
        PFM_ERR(kMid, "Create lock error\n");
        return -1;
    }
    lFuncTable.funcTable.fill(nullptr);
    return 0;
}

void registry_destroy() {
    if (lFuncTable.funcLock == nullptr) return;
    {
        pc::pal::MutexGuard guard(lFuncTable.funcLock);
        for (FuncNode *&head : lFuncTable.funcTable) {
            while (head != nullptr) {
                FuncNode *next = head->next;
                pal_free(head);
                head = next;
            }
        }
    }
    pal_mutex_destroy(lFuncTable.funcLock);
    lFuncTable.funcLock = nullptr;
}

}  // namespace pc::ipc::rpc

using pc::ipc::rpc::FuncNode;
using pc::ipc::rpc::kMid;
using pc::ipc::rpc::lFuncTable;

extern "C" {

PC_API int axrpcHashInit(void) {
    int rc = pc::ipc::rpc::registry_init();
    if (rc == 0) PFM_DBG(kMid, "AXRPC hash init done\n");
    return rc;
}

PC_API int axrpcRegisterFunc(const char *funcName, AXRPC_FUNC regFunc) {
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, NULL != regFunc, -1);
    PFM_ENSURE_RET(kMid, AXRPC_FUNC_NAME_MAX >= strlen(funcName), -1);
    if (lFuncTable.funcLock == nullptr) {
        PFM_ERR(kMid, "RPC registry not initialised, %s refused\n", funcName);
        return -1;
    }
    auto *hashNode = static_cast<FuncNode *>(pal_alloc(sizeof(FuncNode), pc::ipc::rpc::kTag));
    PFM_ENSURE_RET(kMid, NULL != hashNode, -1);
    std::memset(hashNode, 0, sizeof *hashNode);
    std::strncpy(hashNode->name, funcName, AXRPC_FUNC_NAME_MAX);
    hashNode->func = regFunc;

    pc::pal::MutexGuard guard(lFuncTable.funcLock);
    FuncNode **head = pc::ipc::rpc::bucket_of(funcName);
    for (FuncNode *n = *head; n != nullptr; n = n->next) {
        if (pc::ipc::rpc::same_name(n, funcName)) {
            guard.release();
            PFM_ERR(kMid, "Function %s is already registered\n", funcName);
            pal_free(hashNode);
            return -1;
        }
    }
    hashNode->next = *head;
    *head = hashNode;
    return 0;
}

PC_API int axrpcUnRegisterFunc(const char *funcName) {
    PFM_ENSURE_RET(kMid, NULL != funcName, -1);
    PFM_ENSURE_RET(kMid, AXRPC_FUNC_NAME_MAX >= strlen(funcName), -1);
    if (lFuncTable.funcLock == nullptr) return 0;
    FuncNode *gone = nullptr;
    {
        pc::pal::MutexGuard guard(lFuncTable.funcLock);
        for (FuncNode **pp = pc::ipc::rpc::bucket_of(funcName); *pp != nullptr; pp = &(*pp)->next) {
            if (pc::ipc::rpc::same_name(*pp, funcName)) {
                gone = *pp;
                *pp = gone->next;
                break;
            }
        }
    }
    pal_free(gone);
    return 0;
}

PC_API AXRPC_FUNC axrpcHashGetFunc(const char *funcName) {
    if (funcName == nullptr || lFuncTable.funcLock == nullptr) return nullptr;
    pc::pal::MutexGuard guard(lFuncTable.funcLock);
    for (FuncNode *n = *pc::ipc::rpc::bucket_of(funcName); n != nullptr; n = n->next)
        if (pc::ipc::rpc::same_name(n, funcName)) return n->func;
    return nullptr;
}

}  // extern "C"
