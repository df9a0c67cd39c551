// The server's management function table: a 32-bucket hash table keyed by
// name (the RPC registry's hash), nodes of 72 bytes tagged "axIMI", under
// the mutex "AXIMI_FUNC_TABLE_LOCK".
#include <cstring>

#include "mgmt/aximi_state.h"
#include "pal/mutex_guard.h"
#include "platform_core/gdsl_hash.h"
#include "platform_core/pal.h"

namespace pc::mgmt::imi {

namespace {

struct FuncNode {
    char name[IMI_FUNC_NAME_MAX + 1];
    AXIMI_FUNC hook;
    int32_t execFlag;
};

pal_mutex_t tableLock = nullptr;  // created by table_init
HashTable *funcTable = nullptr;   // guarded by tableLock; owns its nodes

unsigned name_hash(void *key) {
    uint32_t h = 0;
    for (const char *p = static_cast<const char *>(key); *p != '\0'; ++p)
        h = (h * 33u) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
    return h;
}

int same_name(void *key, void *data) {
    return std::strncmp(static_cast<const char *>(key), static_cast<FuncNode *>(data)->name,
                        IMI_FUNC_NAME_MAX);
}

void free_node(void *data) { pal_free(data); }

}  // namespace

int table_init() {
    if (tableLock == nullptr) {
        tableLock = pal_mutex_create("AXIMI_FUNC_TABLE_LOCK");
        if (tableLock == nullptr) {
            PFM_ERR(kMid, "Create lock error\n");
            return -1;
        }
    }
    pc::pal::MutexGuard guard(tableLock);
    if (funcTable != nullptr) return 0;
    funcTable = hashTableCreate(free_node, name_hash, kTableBuckets);
    if (funcTable == nullptr) {
        PFM_ERR(kMid, "Create hash table error\n");
        return -1;
    }
    return 0;
}

void table_destroy() {
    if (tableLock == nullptr) return;
    pc::pal::MutexGuard guard(tableLock);
    if (funcTable != nullptr) hashTableDestroy(funcTable);
    funcTable = nullptr;
}

int table_insert(const char *name, AXIMI_FUNC hook, int execFlag) {
    if (tableLock == nullptr) return -1;
    auto *node = static_cast<FuncNode *>(pal_alloc(sizeof(FuncNode), kTag));
    if (node == nullptr) return -1;
    std::memset(node, 0, sizeof *node);
    std::strncpy(node->name, name, IMI_FUNC_NAME_MAX);
    node->hook = hook;
    node->execFlag = execFlag;
    pc::pal::MutexGuard guard(tableLock);
    if (funcTable == nullptr || hashTableInsert(funcTable, node->name, node) != GDSL_RET_OK) {
        pal_free(node);
        return -1;
    }
    return 0;
}

int table_delete(const char *name) {
    if (tableLock == nullptr) return -1;
    pc::pal::MutexGuard guard(tableLock);
    void *data = nullptr;
    if (funcTable == nullptr ||
        hashTableFind(funcTable, same_name, const_cast<char *>(name), &data) != GDSL_RET_OK)
        return -1;  // not registered
    return hashTableDelete(funcTable, same_name, const_cast<char *>(name)) == GDSL_RET_OK ? 0 : -1;
}

bool table_find(const char *name, AXIMI_FUNC *hook, int *execFlag) {
    if (tableLock == nullptr) return false;
    pc::pal::MutexGuard guard(tableLock);
    void *data = nullptr;
    if (funcTable == nullptr ||
        hashTableFind(funcTable, same_name, const_cast<char *>(name), &data) != GDSL_RET_OK ||
        data == nullptr)
        return false;
    const auto *node = static_cast<const FuncNode *>(data);
    *hook = node->hook;
    *execFlag = node->execFlag;
    return true;
}

}  // namespace pc::mgmt::imi
