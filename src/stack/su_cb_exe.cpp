// Running stack unit callbacks: the triggers, the walk of a list in
// priority order and the run of one node.
#include <cstring>

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

int run_data_sync(const SuCbNode *node, void *slot, su_cb_exe_param_t *param) {
    usodata_t data{nullptr, 0};
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
    void *free_slot = nullptr;
    SuCbBucket &fb = su_cb_bucket(SU_CBHND_DATAFREE);
    pc::pal::MutexGuard guard(fb.mutex);
    if (darrayGetByIndex(fb.array, static_cast<unsigned>(node->index), &free_slot) != 0 ||
        free_slot == nullptr) {
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

// The caller holds the bucket's mutex.
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

struct Walk {
    uint32_t hndType;
    su_cb_exe_param_t *param;
    int result;
};

int visit_node(void *ctx, void *data) {
    auto *walk = static_cast<Walk *>(ctx);
    walk->result = su_cb_run_node(static_cast<SuCbNode *>(data), walk->hndType, walk->param);
    return 0;
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
    SuCbBucket &b = su_cb_bucket(hndType);
    pc::pal::MutexGuard guard(b.mutex);
    Walk walk{hndType, param, 0};
    dlistVisit(b.list, visit_node, &walk);
    return walk.result;
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
    return su_cb_run_node(static_cast<SuCbNode *>(found->data), hndType, param);
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
