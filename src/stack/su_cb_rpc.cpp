// The callback manager across processes and units: the proxy that runs a
// handler in the process that registered it, the carriage of data sync
// payloads, the RPC functions, runtime data sync and start-up.
#include <cstdio>
#include <cstring>

#include "ipc/hub/hub.h"
#include "pal/mutex_guard.h"
#include "platform_core/gdsl_hash.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "stack/su_cb_table.h"

namespace pc::stack {
namespace {

constexpr uint32_t kMid = MID_SUCB;
constexpr unsigned short kProxyWaitSeconds = 40;
constexpr unsigned kRuntimeBuckets = 32;

// Parameter names of the RPC functions.
constexpr const char *kRegType = "suCbRegType";
constexpr const char *kRegKey = "suCbRegKey";
constexpr const char *kRegIdx = "suCbRegIdx";
constexpr const char *kUnregType = "suCbUnregType";
constexpr const char *kUnregParam = "suCbUnregParam";
constexpr const char *kExeKey = "suCbModExeKey";
constexpr const char *kExeIdx = "suCbModExeIdx";
constexpr const char *kExeParam = "suCbModExeParam";
constexpr const char *kSyncKey = "suDataSyncSetKey";
constexpr const char *kSyncIdx = "suDataSyncSetIdx";
constexpr const char *kSyncData = "suDataSyncSetData";
constexpr const char *kRtKey = "stkUsoRTKey";
constexpr const char *kRtData = "stkUsoRTData";
constexpr const char *kRet = "ret";

// Owns an input set and a result group for one call.
struct RpcCall {
    AXRPC_PARA_T in{};
    AXRPC_PARA_GROUP_T out[AXRPC_UNIT_NUM]{};
    RpcCall() {
        axrpcParaInit(&in);
        for (auto &g : out) axrpcParaGroupInit(&g);
    }
    ~RpcCall() {
        axrpcParaFree(&in);
        for (auto &g : out) axrpcParaGroupFree(&g);
    }
    RpcCall(const RpcCall &) = delete;
    RpcCall &operator=(const RpcCall &) = delete;
};

int add_ret(AXRPC_PARA_T *out, int ret) {
    if (out != nullptr && axrpcAddInt(out, kRet, ret) != 0) std::printf("Add ret error\n");
    return ret;
}

// Reads a fixed-size record parameter; false when it is missing or of
// another size.
template <typename T>
bool get_record(AXRPC_PARA_T *in, const char *name, T *out) {
    int len = 0;
    return axrpcGetData(in, name, sizeof(T), out, &len) == 0 && len == static_cast<int>(sizeof(T));
}

// Checks the "ret" of every unit named in `units`; logs per failing unit.
int check_unit_rets(AXRPC_PARA_GROUP_T *out, uint32_t units, const char *fmt_ctx, int getret_fail) {
    int result = 0;
    for (uint32_t u = UNIT_1; u < UNIT_NUM && u - 1 < AXRPC_UNIT_NUM; ++u) {
        if ((units & (1u << u)) == 0 || !out[u - 1].isUsed) continue;
        int ret = 0;
        int getret = axrpcGetInt(&out[u - 1].paraSet, kRet, &ret);
        if (getret != 0 || ret != 0) {
            PFM_ERR(kMid, "%s, ret failed, getret %d, unit %d, ret %d.", fmt_ctx, getret, static_cast<int>(u),
                    ret);
            result = getret_fail;
        }
    }
    return result;
}

// A report names a handler of the calling process: never one of this
// process (its slot would hold the proxy, called as a local handler), and,
// when the call's environment tells the caller, no other process's.
bool reported_by_its_process(const su_cb_key_t &key) {
    if (key.pid == static_cast<uint32_t>(pidGetCurrent())) return false;
    const auto *env = static_cast<const AXRPC_ENV_T *>(pal_tls_key_get(envTls));
    if (env != nullptr && env->pid != static_cast<int32_t>(key.pid)) return false;
    return true;
}

int proxy(const SuCbNode *node, su_cb_exe_param_t *param) {
    RpcCall call;
    su_cb_key_t key = node->key;
    if (axrpcAddData(&call.in, kExeKey, AXRPC_PARA_TYPE_DATA, &key, sizeof key) != 0 ||
        axrpcAddInt(&call.in, kExeIdx, node->rpcIndex) != 0 ||
        axrpcAddData(&call.in, kExeParam, AXRPC_PARA_TYPE_DATA, param, sizeof *param) != 0)
        return -1;
    uint32_t units = 1u << stkGetCurrentUnit();
    int rpcret = axrpcCallFunctionSync(units, static_cast<int>(node->key.pid), SU_CB_MOD_EXE_PROXY, &call.in,
                                       kProxyWaitSeconds, 0, call.out);
    if (rpcret != 0) {
        PFM_ERR(kMid, "SU: Exe remote cb failed, rpc failed, rpcret %d.", rpcret);
        return -1;
    }
    return check_unit_rets(call.out, units, "SU: Exe remote cb failed", -1);
}

int key_matches(void *key, void *data) {
    return std::memcmp(key, &static_cast<SuCbNode *>(data)->key, sizeof(su_cb_key_t)) == 0 ? 0 : 1;
}

int runtime_compare(void *key, void *data) {
    return *static_cast<uint32_t *>(key) == *static_cast<uint32_t *>(data) ? 0 : 1;
}
unsigned runtime_hash(void *key) { return *static_cast<uint32_t *>(key); }

struct RuntimeEntry {
    uint32_t mid;  // first: the key the table compares
    su_rt_hnd_t hnd;
};

pal_mutex_t g_rt_lock = nullptr;  // "SU_CBTBL"
HashTable *g_rt_table = nullptr;  // RuntimeEntry, owned; guarded by g_rt_lock

void free_entry(void *data) { pal_free(data); }

}  // namespace

int su_cb_proxy(const SuCbNode *node, su_cb_exe_param_t *param) { return proxy(node, param); }

int su_cb_data_sync_send(const SuCbNode *node, su_cb_exe_param_t *param, usodata_t *data) {
    PFM_ENSURE_RET(kMid, data != NULL, -1);
    PFM_ENSURE_RET(kMid, data->len > 0, -1);
    PFM_ENSURE_RET(kMid, !UP_UNIT_LIST_IS_EMPTY(param->l), -1);
    RpcCall call;
    su_cb_key_t key = node->key;
    if (axrpcAddData(&call.in, kSyncKey, AXRPC_PARA_TYPE_DATA, &key, sizeof key) != 0 ||
        axrpcAddInt(&call.in, kSyncIdx, node->index) != 0 ||
        axrpcAddPtr(&call.in, kSyncData, data->data, static_cast<int>(data->len), nullptr) != 0)
        return -1;
    int rpcret = axrpcCallFunctionSync(param->l, static_cast<int>(node->key.pid), SU_DATA_SYNC_SET_HND,
                                       &call.in, 0, 0, call.out);
    if (rpcret != 0) {
        PFM_ERR(kMid, "SU DATA SYNC: Set hnd failed, rpc failed, rpcret %d.", rpcret);
        return -1;
    }
    return check_unit_rets(call.out, param->l, "SU DATA SYNC: Set hnd failed", -1);
}

}  // namespace pc::stack

using namespace pc::stack;

extern "C" {

PC_API int _suCbModRegReportSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int type = -1;
    int idx = -1;
    su_cb_reg_param_t param{};
    if (axrpcGetInt(in, kRegType, &type) != 0 || !get_record(in, kRegKey, &param.key) ||
        axrpcGetInt(in, kRegIdx, &idx) != 0 || !IS_PID_VALID(param.key.pid) || !IS_MID_VALID(param.key.mid))
        return add_ret(out, -1);
    if (!reported_by_its_process(param.key)) {
        PFM_ERR(kMid, "SU: refused report of pid %d", static_cast<int>(param.key.pid));
        return add_ret(out, -1);
    }
    for (auto &h : param.hnd) h = fn_to_slot(&su_cb_proxy);
    param.rpcIndex = idx;
    return add_ret(out, _suCbMngtAdd(&param, static_cast<uint32_t>(type)));
}

PC_API int _suCbModUnregReportSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    int type = -1;
    su_cb_reg_param_t param{};
    if (axrpcGetInt(in, kUnregType, &type) != 0 || !get_record(in, kUnregParam, &param))
        return add_ret(out, -1);
    if (!reported_by_its_process(param.key)) {
        PFM_ERR(kMid, "SU: refused report of pid %d", static_cast<int>(param.key.pid));
        return add_ret(out, -1);
    }
    return add_ret(out, _suCbMngtDelete(&param, static_cast<uint32_t>(type)));
}

PC_API int _suCbModExeProxySrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    su_cb_key_t key{};
    su_cb_exe_param_t param{};
    int idx = -1;
    if (!get_record(in, kExeKey, &key) || axrpcGetInt(in, kExeIdx, &idx) != 0 ||
        !get_record(in, kExeParam, &param))
        return add_ret(out, -1);
    return add_ret(out, suCbExeSpec(&key, idx, &param));
}

PC_API int _suDataSyncSetHndSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    su_cb_key_t key{};
    int idx = -1;
    if (!get_record(in, kSyncKey, &key)) {
        PFM_ENSURE_FAILED(kMid, "NULL != cbKey");
        return add_ret(out, -1);
    }
    void *bytes = nullptr;
    int len = 0;
    if (axrpcGetInt(in, kSyncIdx, &idx) != 0 || axrpcGetDataPtr(in, kSyncData, &bytes, &len) != 0 || len < 0)
        return add_ret(out, -1);
    PFM_CALL_RET(kMid, suCbMngtInit());
    SuCbBucket &b = su_cb_bucket(SU_CBHND_DATASET);
    pc::pal::MutexGuard guard(b.mutex);
    // The set handler is this process's own one for the key: an index alone
    // could name the proxy of another process's registration.
    void *slot = nullptr;
    DListNode *found = key.pid == static_cast<uint32_t>(pidGetCurrent())
                           ? dlistFindByKey(b.list, key_matches, &key)
                           : nullptr;
    if (found == nullptr ||
        darrayGetByIndex(b.array, static_cast<unsigned>(static_cast<SuCbNode *>(found->data)->index),
                         &slot) != 0 ||
        slot == nullptr) {
        PFM_ERR(kMid, "SU DATA SYNC: no set handler of pid %d, mid %d, pri %d, index %d",
                static_cast<int>(key.pid), static_cast<int>(key.mid), static_cast<int>(key.priority), idx);
        return add_ret(out, -1);
    }
    usodata_t data{bytes, static_cast<uint32_t>(len)};
    int rv = slot_to_fn<su_cb_data_hnd_t>(slot)(&data);
    PFM_DBG(kMid, "SU DATA SYNC: excute set handler, pid %s(%d), mid %s(%d), pri %d, datalen %d, rv %d",
            pidNameGet(static_cast<int>(key.pid)), static_cast<int>(key.pid),
            midNameGet(static_cast<int>(key.mid)), static_cast<int>(key.mid), static_cast<int>(key.priority),
            len, rv);
    return add_ret(out, rv);
}

PC_API int _stkUsoRuntimeSrv(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    uint32_t mid = 0;
    void *bytes = nullptr;
    int len = 0;
    if (!get_record(in, kRtKey, &mid) || axrpcGetDataPtr(in, kRtData, &bytes, &len) != 0 || len < 0 ||
        g_rt_lock == nullptr)
        return add_ret(out, -1);
    su_rt_hnd_t hnd = nullptr;
    {
        pc::pal::MutexGuard guard(g_rt_lock);
        void *found = nullptr;
        if (hashTableFind(g_rt_table, runtime_compare, &mid, &found) != 0 || found == nullptr) {
            PFM_CALL_FAILED(kMid, -1,
                            "hashTableFind(_suRTCbTbl, _suRTCompare, (void*)(key), (void**)(&cbNode))");
            return add_ret(out, -1);
        }
        hnd = static_cast<RuntimeEntry *>(found)->hnd;
    }
    int rv = hnd(bytes, static_cast<uint32_t>(len));
    if (rv != 0)
        PFM_ERR(kMid, "USO: %s(%d) runtime sync action failed.", midNameGet(static_cast<int>(mid)),
                static_cast<int>(mid));
    return add_ret(out, rv);
}

PC_API int stkUsoRuntimeInit(void) {
    if (g_rt_lock == nullptr) {
        g_rt_lock = pal_mutex_create("SU_CBTBL");
        if (g_rt_lock == nullptr) {
            PFM_ERR(kMid, "Fatal Error: Create mutex for SU_CBTBL failed.");
            return -1;
        }
    }
    {
        pc::pal::MutexGuard guard(g_rt_lock);
        if (g_rt_table == nullptr) g_rt_table = hashTableCreate(free_entry, runtime_hash, kRuntimeBuckets);
        if (g_rt_table == nullptr) return -1;
    }
    PFM_CALL_RET(kMid, axrpcRegisterFunc(STK_USO_RT_RPC_SRV, _stkUsoRuntimeSrv));
    return 0;
}

PC_API int stkUsoRuntimeDataHndReg(uint32_t mid, su_rt_hnd_t hnd) {
    if (!IS_MID_VALID(mid) || hnd == nullptr || g_rt_lock == nullptr) {
        PFM_ERR(kMid, "USO: %s(%d) register runtime sync hnd failed.", midNameGet(static_cast<int>(mid)),
                static_cast<int>(mid));
        return -1;
    }
    pc::pal::MutexGuard guard(g_rt_lock);
    void *found = nullptr;
    if (hashTableFind(g_rt_table, runtime_compare, &mid, &found) == 0 && found != nullptr) {
        static_cast<RuntimeEntry *>(found)->hnd = hnd;
        return 0;
    }
    auto *entry = static_cast<RuntimeEntry *>(pal_alloc(sizeof(RuntimeEntry), "uso_rtcb"));
    if (entry != nullptr) *entry = RuntimeEntry{mid, hnd};
    if (entry == nullptr || hashTableInsert(g_rt_table, &entry->mid, entry) != 0) {
        pal_free(entry);
        PFM_ERR(kMid, "USO: %s(%d) register runtime sync hnd failed.", midNameGet(static_cast<int>(mid)),
                static_cast<int>(mid));
        return -1;
    }
    return 0;
}

PC_API int stkUsoRuntimeDataHndUnreg(uint32_t mid) {
    if (g_rt_lock != nullptr) {
        pc::pal::MutexGuard guard(g_rt_lock);
        void *found = nullptr;
        if (hashTableFind(g_rt_table, runtime_compare, &mid, &found) == 0 && found != nullptr &&
            hashTableDelete(g_rt_table, runtime_compare, &mid) == 0)
            return 0;
    }
    PFM_ERR(kMid, "USO: %s(%d) unregister runtime sync hnd failed.", midNameGet(static_cast<int>(mid)),
            static_cast<int>(mid));
    return -1;
}

PC_API int stkUsoRuntimeDataSync(uint32_t mid, usodata_t *data) {
    if (!stkCurrentIsMaster()) return 0;
    PFM_ENSURE_RET(kMid, IS_MID_VALID(mid), -1);
    PFM_ENSURE_RET(kMid, NULL != data && NULL != data->data && data->len >= 1, -1);
    unit_list units = 0;
    uint32_t n = 0;
    if (inner_up_unit_attach_list_get(&units, &n) != 0) return -1;
    units &= ~(1u << stkGetCurrentUnit());
    if (units == 0) return 0;
    RpcCall call;
    if (axrpcAddData(&call.in, kRtKey, AXRPC_PARA_TYPE_DATA, &mid, sizeof mid) != 0 ||
        axrpcAddPtr(&call.in, kRtData, data->data, static_cast<int>(data->len), nullptr) != 0)
        return -1;
    int rpcret = axrpcCallFunctionAsync(units, pidGetCurrent(), STK_USO_RT_RPC_SRV, &call.in, 0);
    if (rpcret != 0) {
        PFM_ERR(kMid, "SU RT: Exe remote cb failed, rpc failed, rpcret %d.", rpcret);
        return -1;
    }
    return 0;
}

PC_API int suCbExeInit(void) {
    PFM_CALL_RET(kMid, axrpcRegisterFunc(SU_DATA_SYNC_SET_HND, _suDataSyncSetHndSrv));
    return 0;
}

PC_API int stkUsoInit(void) {
    PFM_CALL_RET(kMid, suCbMngtInit());
    PFM_CALL_RET(kMid, pc::ipc::add_process_gone_hook(su_cb_drop_process));
    PFM_CALL_RET(kMid, axrpcRegisterFunc(SU_CB_MOD_REG_REPORT, _suCbModRegReportSrv));
    PFM_CALL_RET(kMid, axrpcRegisterFunc(SU_CB_MOD_UNREG_REPORT, _suCbModUnregReportSrv));
    PFM_CALL_RET(kMid, suCbExeInit());
    PFM_CALL_RET(kMid, stkUsoRuntimeInit());
    return 0;
}

}  // extern "C"
