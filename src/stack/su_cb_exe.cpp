// Running stack unit callbacks: the triggers, the walk of a list in
// priority order and the run of one node.
#include <cstring>
#include <new>
#include <vector>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "stack/su_cb_table.h"

namespace pc::stack {
namespace {

constexpr uint32_t kMid = MID_SUCB;

const char *event_name(uint32_t type) { return SU_CB_TYPE_IS_VALID(type) ? suCbEventTypeDes[type] : "N\\A"; }

int key_matches(void *key, void *data) {
    return std::memcmp(key, &static_cast<SuCbNode *>(data)->key, sizeof(su_cb_key_t)) == 0 ? 0 : 1;
}

int type_to_hnd_type(uint32_t type, uint32_t *hndType) {
    if (!SU_CB_TYPE_IS_VALID(type)) {
        PFM_ERR(kMid, "Unable to handler USO EXE, type %d", static_cast<int>(type));
        return -1;
    }
    *hndType = type == SU_CB_DATA_SYNC ? SU_CBHND_DATAGET : type;
    return 0;
}

// The current node of a key in a handler type's list; the caller holds the
// type's mutex. Null once the registration is gone.
const SuCbNode *find_node(uint32_t hndType, const su_cb_key_t &key) {
    DListNode *found =
        dlistFindByKey(su_cb_bucket(hndType).list, key_matches, const_cast<su_cb_key_t *>(&key));
    return found != nullptr ? static_cast<const SuCbNode *>(found->data) : nullptr;
}

void *handler_slot(uint32_t hndType, int index) {
    void *slot = nullptr;
    if (index < 0 || darrayGetByIndex(su_cb_bucket(hndType).array, static_cast<unsigned>(index), &slot) != 0)
        return nullptr;
    return slot;
}

// The get handler may remove or re-register its own registration (or
// another one, which moves slots): the free handler is looked up again by
// key afterwards. When the registration is gone, the free handler it had
// when the get handler was called releases the payload, so nothing leaks.
int run_data_sync(const SuCbNode *node, void *slot, su_cb_exe_param_t *param) {
    usodata_t data{nullptr, 0};
    SuCbBucket &fb = su_cb_bucket(SU_CBHND_DATAFREE);
    void *free_before = nullptr;
    {
        pc::pal::MutexGuard guard(fb.mutex);
        free_before = handler_slot(SU_CBHND_DATAFREE, node->index);
    }
    int rv = slot_to_fn<su_cb_data_hnd_t>(slot)(&data);
    PFM_DBG(kMid, "Excute DATA SYNC handler, get rv %d", rv);
    if (rv != 0) return rv;
    if (data.data == nullptr || data.len == 0) {
        PFM_DBG(kMid, "Get usodata.len is %d, data %#x", static_cast<int>(data.len),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(data.data)));
        return 0;
    }
    rv = su_cb_data_sync_send(node, param, &data);
    PFM_DBG(kMid, "Excute DATA SYNC handler, set rv %d", rv);
    pc::pal::MutexGuard guard(fb.mutex);
    const SuCbNode *now = find_node(SU_CBHND_DATAFREE, node->key);
    void *free_slot = now != nullptr ? handler_slot(SU_CBHND_DATAFREE, now->index) : free_before;
    if (free_slot == nullptr) {
        PFM_CALL_FAILED(
            kMid, -1,
            "darrayGetByIndex(SU_CBBUCKET(SU_CBHND_DATAFREE).HndArray, pNode->index, (void * *)&cbHnd)");
        return -1;
    }
    int frv = slot_to_fn<su_cb_data_hnd_t>(free_slot)(&data);
    PFM_DBG(kMid, "Excute DATA SYNC handler, free rv %d", frv);
    return rv != 0 ? rv : frv;
}

}  // namespace

// The caller holds the bucket's mutex. The handler may remove its own node:
// node must be the caller's copy, never the list's record.
int su_cb_run_node(const SuCbNode *node, uint32_t hndType, su_cb_exe_param_t *param) {
    if (debugFlagGet(kMid) == 1)
        PFM_WARN(kMid,
                 "SU EXE NODE: %s, pid %s(%d), mid %s(%d), pri %d, l %#x, roleChg %d, mastChg %d, isFirst %d",
                 event_name(param->type), pidNameGet(static_cast<int>(node->key.pid)),
                 static_cast<int>(node->key.pid), midNameGet(static_cast<int>(node->key.mid)),
                 static_cast<int>(node->key.mid), static_cast<int>(node->key.priority), param->l,
                 static_cast<int>(param->roleChg), static_cast<int>(param->mastChg),
                 static_cast<int>(param->isFirst));
    void *slot = nullptr;
    if (darrayGetByIndex(su_cb_bucket(hndType).array, static_cast<unsigned>(node->index), &slot) != 0 ||
        slot == nullptr) {
        PFM_CALL_FAILED(kMid, -1,
                        "darrayGetByIndex(SU_CBBUCKET(hndType).HndArray, pNode->index, (void * *)&cbHnd)");
        return -1;
    }
    long long start = pal_time_msecs();
    int rv = 0;
    if (node->key.pid != static_cast<uint32_t>(pidGetCurrent())) {
        rv = slot_to_fn<SuCbProxyFn>(slot)(node, param);
    } else {
        switch (hndType) {
            case SU_CBHND_UPDATE: {
                su_cb_update_t flags{param->roleChg, param->mastChg, param->isFirst};
                rv = slot_to_fn<su_cb_update_hnd_t>(slot)(&flags);
                break;
            }
            case SU_CBHND_ATTACH:
            case SU_CBHND_DETACH:
                rv = slot_to_fn<su_cb_unit_hnd_t>(slot)(param->l);
                break;
            case SU_CBHND_DATAGET:
                rv = run_data_sync(node, slot, param);
                break;
            default:
                PFM_ERR(kMid, "Unable to handler this hnd type %d", static_cast<int>(hndType));
                rv = -1;
                break;
        }
    }
    PFM_DBG(kMid, "Cost %lldms, rv %d", pal_time_msecs() - start, rv);
    return rv != 0 ? -1 : 0;
}

namespace {

int collect_key(void *ctx, void *data) {
    static_cast<std::vector<su_cb_key_t> *>(ctx)->push_back(static_cast<SuCbNode *>(data)->key);
    return 0;
}

// A walk runs the nodes that were in the list when it began, in that order.
// Handlers run with the list's mutex held, and that mutex is recursive for
// its owner, so a handler may remove itself or any other node and register
// new ones: the walk holds the keys it started with and looks each node up
// again before running it. A node removed before its turn does not run; a
// node registered during the walk first runs in the next walk; a key
// registered again (its handler replaced) runs its current handler.
// A failing handler does not stop the walk, and a later success does not
// hide it: the walk fails when any node failed.
int walk_list(uint32_t hndType, su_cb_exe_param_t *param) {
    std::vector<su_cb_key_t> keys;
    try {
        keys.reserve(dlistLength(su_cb_bucket(hndType).list));
    } catch (const std::bad_alloc &) {
        PFM_ERR(kMid, "STK: Alloc memory failed");
        return -1;
    }
    dlistVisit(su_cb_bucket(hndType).list, collect_key, &keys);
    int result = 0;
    for (const su_cb_key_t &key : keys) {
        const SuCbNode *node = find_node(hndType, key);
        if (node == nullptr) continue;
        const SuCbNode copy = *node;
        const int rv = su_cb_run_node(&copy, hndType, param);
        if (result == 0) result = rv;
    }
    return result;
}

}  // namespace
}  // namespace pc::stack

using namespace pc::stack;

extern "C" {

PC_API int suCbExeTraverse(su_cb_exe_param_t *param) {
    PFM_ENSURE_RET(MID_SUCB, NULL != param, -1);
    PFM_CALL_RET(MID_SUCB, suCbMngtInit());
    uint32_t hndType = 0;
    if (type_to_hnd_type(param->type, &hndType) != 0) {
        PFM_CALL_FAILED(MID_SUCB, -1, "_suCbTypeToCbHndType(param->type, &hndType)");
        return -1;
    }
    pc::pal::MutexGuard guard(su_cb_bucket(hndType).mutex);
    return walk_list(hndType, param);
}

PC_API int suCbExeSpec(su_cb_key_t *key, int index, su_cb_exe_param_t *param) {
    PFM_ENSURE_RET(MID_SUCB, NULL != key, -1);
    PFM_ENSURE_RET(MID_SUCB, NULL != param, -1);
    PFM_ENSURE_RET(MID_SUCB, (param->type == SU_CB_UPDATE) || (!UP_UNIT_LIST_IS_EMPTY(param->l)), -1);
    PFM_CALL_RET(MID_SUCB, suCbMngtInit());
    int self = pidGetCurrent();
    if (key->pid != static_cast<uint32_t>(self)) {
        PFM_ERR(MID_SUCB, "Excute specific hanlder in different process. pid %d, local pid %d",
                static_cast<int>(key->pid), self);
        return -1;
    }
    uint32_t hndType = 0;
    if (type_to_hnd_type(param->type, &hndType) != 0) return -1;
    SuCbBucket &b = su_cb_bucket(hndType);
    pc::pal::MutexGuard guard(b.mutex);
    // The handler is found by its key: a removal in this process may have
    // moved it to another slot since the index was reported.
    DListNode *found = dlistFindByKey(b.list, key_matches, key);
    if (found == nullptr) {
        PFM_ERR(MID_SUCB, "No handler of pid %d, mid %d, pri %d, index %d", static_cast<int>(key->pid),
                static_cast<int>(key->mid), static_cast<int>(key->priority), index);
        return -1;
    }
    const SuCbNode copy = *static_cast<SuCbNode *>(found->data);
    return su_cb_run_node(&copy, hndType, param);
}

PC_API int stkUsoAttachDetachAction(unit_list unitchg_list, int attach) {
    PFM_ENSURE_RET(MID_SUCB, !UP_UNIT_LIST_IS_EMPTY(unitchg_list), -1);
    su_cb_exe_param_t param{};
    param.l = unitchg_list;
    param.type = attach ? SU_CB_ATTACH : SU_CB_DETACH;
    return suCbExeTraverse(&param);
}

PC_API int stkUsoUpdateAction(int roleChg, int mastChg, int isFirst) {
    su_cb_exe_param_t param{};
    param.type = SU_CB_UPDATE;
    param.roleChg = static_cast<uint32_t>(roleChg);
    param.mastChg = static_cast<uint32_t>(mastChg);
    param.isFirst = static_cast<uint32_t>(isFirst);
    return suCbExeTraverse(&param);
}

PC_API int stkUsoDataSyncAction(unit_list attach_l) {
    if (!stkCurrentIsMaster()) return 0;
    PFM_ENSURE_RET(MID_SUCB, !UP_UNIT_LIST_IS_EMPTY(attach_l), -1);
    su_cb_exe_param_t param{};
    param.l = attach_l;
    param.type = SU_CB_DATA_SYNC;
    return suCbExeTraverse(&param);
}

}  // extern "C"
