// Registration and removal of stack unit callbacks.
#include <array>
#include <cstring>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "stack/su_cb_table.h"

namespace pc::stack {
namespace {

constexpr uint32_t kMid = MID_SUCB;

std::array<SuCbBucket, SU_CBHND_NUM> g_buckets;
pal_mutex_t g_init_lock = nullptr;
bool g_inited = false;  // suCbMngInited; set once under g_init_lock

int noop_unit(unit_list) { return 0; }
int noop_update(su_cb_update_t *) { return 0; }
int noop_data(usodata_t *) { return 0; }

void *default_handler(uint32_t hndType) {
    switch (hndType) {
        case SU_CBHND_UPDATE:
            return fn_to_slot(&noop_update);
        case SU_CBHND_ATTACH:
        case SU_CBHND_DETACH:
            return fn_to_slot(&noop_unit);
        default:
            return fn_to_slot(&noop_data);
    }
}

int priority_order(void *a, void *b) {
    auto pa = static_cast<SuCbNode *>(a)->key.priority;
    auto pb = static_cast<SuCbNode *>(b)->key.priority;
    return pa < pb ? -1 : (pa > pb ? 1 : 0);
}

int key_matches(void *key, void *data) {
    return std::memcmp(key, &static_cast<SuCbNode *>(data)->key, sizeof(su_cb_key_t)) == 0 ? 0 : 1;
}

int index_matches(void *key, void *data) {
    return static_cast<SuCbNode *>(data)->index == *static_cast<int *>(key) ? 0 : 1;
}

void free_node(void *data) { pal_free(data); }

int add_locked(su_cb_reg_param_t *param, uint32_t hndType, void *handler) {
    SuCbBucket &b = su_cb_bucket(hndType);
    void *slot = handler != nullptr ? handler : default_handler(hndType);
    DListNode *found = dlistFindByKey(b.list, key_matches, &param->key);
    int dbg = debugFlagGet(kMid);
    if (found != nullptr) {
        auto *node = static_cast<SuCbNode *>(found->data);
        if (dbg == 1)
            PFM_DBG(kMid, "Overwrite the node, pid %d, mid %d, pri %d, index %d, rpcindex %d",
                    static_cast<int>(node->key.pid), static_cast<int>(node->key.mid),
                    static_cast<int>(node->key.priority), node->index, node->rpcIndex);
        node->rpcIndex = param->rpcIndex;
        param->index = node->index;
        return darraySetByIndex(b.array, static_cast<unsigned>(node->index), slot) == 0 ? 0 : -1;
    }
    if (darrayAppend(b.array, slot) != 0) return -1;
    int index = static_cast<int>(darrayLength(b.array)) - 1;
    if (index < 0) {
        PFM_ERR(kMid, "Fatal Error: Bad index %d", index);
        return -1;
    }
    auto *node = static_cast<SuCbNode *>(pal_alloc(sizeof(SuCbNode), "sulistnode"));
    if (node == nullptr) {
        PFM_ERR(kMid, "STK: Alloc memory failed");
        darrayDelete(b.array, static_cast<unsigned>(index));
        return -1;
    }
    *node = SuCbNode{param->key, index, param->rpcIndex};
    param->index = index;
    if (dbg == 1)
        PFM_DBG(kMid, "Append a new node, pid %d, mid %d, pri %d, index %d, rpcindex %d",
                static_cast<int>(node->key.pid), static_cast<int>(node->key.mid),
                static_cast<int>(node->key.priority), index, node->rpcIndex);
    if (dlistAddSort(b.list, node) != 0) {
        pal_free(node);
        darrayDelete(b.array, static_cast<unsigned>(index));
        return -1;
    }
    return 0;
}

int delete_locked(su_cb_reg_param_t *param, uint32_t hndType) {
    SuCbBucket &b = su_cb_bucket(hndType);
    DListNode *found = dlistFindByKey(b.list, key_matches, &param->key);
    if (found == nullptr) {
        PFM_ENSURE_FAILED(kMid, "pDlistNode != NULL");
        return -1;
    }
    auto *node = static_cast<SuCbNode *>(found->data);
    int lastIndex = static_cast<int>(darrayLength(b.array)) - 1;
    void *lastItem = nullptr;
    void *removed = nullptr;
    if (darrayGetByIndex(b.array, static_cast<unsigned>(lastIndex), &lastItem) != 0) {
        PFM_CALL_FAILED(kMid, -1,
                        "darrayGetByIndex(SU_CBBUCKET(hndType).HndArray, lastIndex, (void**)&lastItem)");
        return -1;
    }
    if (darrayGetByIndex(b.array, static_cast<unsigned>(node->index), &removed) != 0) {
        PFM_CALL_FAILED(kMid, -1,
                        "darrayGetByIndex(SU_CBBUCKET(hndType).HndArray, pNode->index, (void**)&delItem)");
        return -1;
    }
    darraySetByIndex(b.array, static_cast<unsigned>(node->index), lastItem);
    darraySetByIndex(b.array, static_cast<unsigned>(lastIndex), removed);
    if (DListNode *last = dlistFindByKey(b.list, index_matches, &lastIndex); last != nullptr)
        static_cast<SuCbNode *>(last->data)->index = node->index;
    if (debugFlagGet(kMid) == 1)
        PFM_DBG(kMid, "pid %d, mid %d, pri %d. Delete index %d, lastIndex %d",
                static_cast<int>(node->key.pid), static_cast<int>(node->key.mid),
                static_cast<int>(node->key.priority), node->index, lastIndex);
    if (darrayDelete(b.array, static_cast<unsigned>(lastIndex)) != 0) {
        PFM_CALL_FAILED(kMid, -1, "darrayDelete(SU_CBBUCKET(hndType).HndArray, lastIndex)");
        return -1;
    }
    return dlistDelete(b.list, found) == 0 ? 0 : -1;
}

bool is_data_sync(uint32_t hndType) { return hndType >= SU_CBHND_DATAGET; }

int pid_matches(void *key, void *data) {
    return static_cast<SuCbNode *>(data)->key.pid == *static_cast<uint32_t *>(key) ? 0 : 1;
}

}  // namespace

// Removes every callback of process `pid` (it went away) from every bucket.
void su_cb_drop_process(uint32_t pid) {
    if (!g_inited || pid == static_cast<uint32_t>(pidGetCurrent())) return;
    for (uint32_t type = 0; type < SU_CBHND_NUM; ++type) {
        SuCbBucket &b = su_cb_bucket(type);
        pc::pal::MutexGuard guard(b.mutex);
        while (DListNode *found = dlistFindByKey(b.list, pid_matches, &pid)) {
            su_cb_reg_param_t param{};
            param.key = static_cast<SuCbNode *>(found->data)->key;
            if (delete_locked(&param, type) != 0) break;
        }
    }
}

namespace {}  // namespace

SuCbBucket &su_cb_bucket(uint32_t hndType) { return g_buckets[hndType]; }

}  // namespace pc::stack

using namespace pc::stack;

extern "C" {

PC_API const char *suCbEventTypeDes[4] = {"update", "attach", "detach", "data sync"};

PC_API int suCbMngKeyCreate(su_cb_key_t *key, uint32_t p, uint32_t m, uint32_t pri) {
    PFM_ENSURE_RET(kMid, NULL != key, -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(pri), -1);
    PFM_ENSURE_RET(kMid, IS_MID_VALID(m), -1);
    PFM_ENSURE_RET(kMid, IS_PID_VALID(p), -1);
    std::memset(key, 0, sizeof *key);
    key->pid = p;
    key->mid = m;
    key->priority = pri;
    return 0;
}

PC_API int suCbMngtInit(void) {
    static pal_mutex_t init_lock = pal_mutex_create("suCbMngtInit");
    g_init_lock = init_lock;
    pc::pal::MutexGuard guard(g_init_lock);
    if (g_inited) return 0;
    for (auto &b : g_buckets) {
        if (b.mutex == nullptr) b.mutex = pal_mutex_create("suCbMngt");
        if (b.list == nullptr) b.list = dlistCreate(free_node, priority_order);
        if (b.array == nullptr) b.array = darrayCreate(nullptr);
        if (b.mutex == nullptr || b.list == nullptr || b.array == nullptr) return -1;
    }
    g_inited = true;
    return 0;
}

PC_API int _suCbMngtAdd(su_cb_reg_param_t *param, uint32_t hndType) {
    PFM_CALL_RET(kMid, suCbMngtInit());
    PFM_ENSURE_RET(kMid, NULL != param, -1);
    PFM_ENSURE_RET(kMid, SU_CBHND_TYPE_IS_VALID(hndType), -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(param->key.priority), -1);
    if (!is_data_sync(hndType)) {
        pc::pal::MutexGuard guard(su_cb_bucket(hndType).mutex);
        return add_locked(param, hndType, param->hnd[0]);
    }
    pc::pal::MutexGuard get_guard(su_cb_bucket(SU_CBHND_DATAGET).mutex);
    pc::pal::MutexGuard set_guard(su_cb_bucket(SU_CBHND_DATASET).mutex);
    pc::pal::MutexGuard free_guard(su_cb_bucket(SU_CBHND_DATAFREE).mutex);
    if (add_locked(param, SU_CBHND_DATASET, param->hnd[0]) != 0) return -1;
    if (add_locked(param, SU_CBHND_DATAGET, param->hnd[1]) != 0) return -1;
    return add_locked(param, SU_CBHND_DATAFREE, param->hnd[2]);
}

PC_API int _suCbMngtDelete(su_cb_reg_param_t *param, uint32_t hndType) {
    PFM_CALL_RET(kMid, suCbMngtInit());
    PFM_ENSURE_RET(kMid, NULL != param, -1);
    PFM_ENSURE_RET(kMid, SU_CBHND_TYPE_IS_VALID(hndType), -1);
    if (!is_data_sync(hndType)) {
        pc::pal::MutexGuard guard(su_cb_bucket(hndType).mutex);
        return delete_locked(param, hndType);
    }
    pc::pal::MutexGuard get_guard(su_cb_bucket(SU_CBHND_DATAGET).mutex);
    pc::pal::MutexGuard set_guard(su_cb_bucket(SU_CBHND_DATASET).mutex);
    pc::pal::MutexGuard free_guard(su_cb_bucket(SU_CBHND_DATAFREE).mutex);
    for (uint32_t t : {SU_CBHND_DATAGET, SU_CBHND_DATASET, SU_CBHND_DATAFREE})
        if (delete_locked(param, t) != 0) return -1;
    return 0;
}

}  // extern "C"
