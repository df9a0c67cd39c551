// The printer and port deletion registries and the RPC services through
// which other processes register.
#include <cstring>

#include "ipc/hub/hub.h"
#include "mgmt/axconfig_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "pal/mutex_guard.h"
#include "platform_core/gdsl_list.h"
#include "platform_core/pal.h"
#include "platform_core/up_platform.h"
#include "platform_core/up_propt.h"

namespace pc::mgmt::cfg {

namespace {

pal_mutex_t registryLock = nullptr;         // created by axConfigLibInit, never destroyed
DList *lAxcfgGetCfgFuncRegList = nullptr;   // guarded by registryLock; owns its nodes
DList *lAxcfgDelPortFuncRegList = nullptr;  // guarded by registryLock; owns its nodes

DList *&list_of(Registry which) {
    return which == Registry::GetCfg ? lAxcfgGetCfgFuncRegList : lAxcfgDelPortFuncRegList;
}

int by_priority(void *a, void *b) {
    return static_cast<RegNode *>(a)->priority - static_cast<RegNode *>(b)->priority;
}

int same_name(void *key, void *data) {
    return std::strncmp(static_cast<const char *>(key), static_cast<RegNode *>(data)->regFuncName,
                        AXCFG_REG_FUNC_NAME_LEN + 1);
}

// A registrant: its name and the process that owns it.
struct Owner {
    const char *name;
    int pid;
};

int same_owner(void *key, void *data) {
    const auto *owner = static_cast<const Owner *>(key);
    const auto *node = static_cast<const RegNode *>(data);
    return node->pid == owner->pid ? same_name(const_cast<char *>(owner->name), data) : 1;
}

// Removes the nodes of `name` that process `pid` registered. Under registryLock.
void remove_owned_locked(DList *list, const char *name, int pid) {
    Owner owner{name, pid};
    while (DListNode *node = dlistFindByKey(list, same_owner, &owner)) dlistDelete(list, node);
}

void free_node(void *data) { pal_free(data); }

int collect(void *ctx, void *data) {
    static_cast<std::vector<RegNode> *>(ctx)->push_back(*static_cast<RegNode *>(data));
    return GDSL_RET_OK;
}

int same_pid(void *key, void *data) {
    return static_cast<RegNode *>(data)->pid == *static_cast<int *>(key) ? 0 : 1;
}

// The hub saw process `pid` go: its printers and port deletion handlers
// leave both lists.
void drop_process(uint32_t pid) {
    int key = static_cast<int>(pid);
    if (!registry_ready() || key == PID_CORE) return;
    pc::pal::MutexGuard guard(registryLock);
    for (Registry which : {Registry::GetCfg, Registry::DelPort})
        if (DList *list = list_of(which))
            while (DListNode *node = dlistFindByKey(list, same_pid, &key)) dlistDelete(list, node);
}

bool name_ok(const char *name) { return name != nullptr && std::strlen(name) <= AXCFG_REG_FUNC_NAME_LEN; }

}  // namespace

bool registry_ready() { return registryLock != nullptr && lAxcfgGetCfgFuncRegList != nullptr; }

int registry_add(Registry which, const char *name, void *function, int pid, int priority) {
    if (!registry_ready()) return -1;
    auto *node = static_cast<RegNode *>(pal_alloc(sizeof(RegNode), kTag));
    if (node == nullptr) return -1;
    std::memset(node, 0, sizeof *node);
    std::strncpy(node->regFuncName, name, AXCFG_REG_FUNC_NAME_LEN);
    node->function = function;
    node->pid = pid;
    node->priority = priority;
    pc::pal::MutexGuard guard(registryLock);
    DList *list = list_of(which);
    if (list == nullptr) {
        pal_free(node);
        return -1;
    }
    // A process registering a name again replaces its own earlier node (a
    // restarted process registers anew); other processes' nodes of the
    // same name stay.
    remove_owned_locked(list, name, pid);
    int rc = dlistAddSort(list, node);
    if (rc != GDSL_RET_OK) pal_free(node);
    return rc;
}

void registry_remove_owned(Registry which, const char *name, int pid) {
    if (!registry_ready()) return;
    pc::pal::MutexGuard guard(registryLock);
    if (DList *list = list_of(which)) remove_owned_locked(list, name, pid);
}

int registry_remove(Registry which, const char *name) {
    if (!registry_ready()) return -1;
    pc::pal::MutexGuard guard(registryLock);
    DList *list = list_of(which);
    if (list == nullptr) return -1;
    if (DListNode *node = dlistFindByKey(list, same_name, const_cast<char *>(name))) dlistDelete(list, node);
    return 0;
}

std::vector<RegNode> registry_snapshot(Registry which) {
    std::vector<RegNode> nodes;
    if (!registry_ready()) return nodes;
    pc::pal::MutexGuard guard(registryLock);
    if (DList *list = list_of(which)) {
        nodes.reserve(dlistLength(list));
        dlistVisit(list, collect, &nodes);
    }
    return nodes;
}

const char *master_description() {
    const dev_def_t *dev = upProptDevTypeDesGetByUnit(master_unit());
    return dev != nullptr ? dev->name : "";
}

}  // namespace pc::mgmt::cfg

using namespace pc::mgmt::cfg;

extern "C" {

PC_API int axConfigLibInit(void) {
    if (registryLock == nullptr) registryLock = pal_mutex_create("axConfig");
    PFM_ENSURE_RET(kMid, NULL != registryLock, -1);
    PFM_CALL_RET(kMid, pc::ipc::add_process_gone_hook(drop_process));
    pc::pal::MutexGuard guard(registryLock);
    if (lAxcfgGetCfgFuncRegList == nullptr) lAxcfgGetCfgFuncRegList = dlistCreate(free_node, by_priority);
    if (lAxcfgDelPortFuncRegList == nullptr) lAxcfgDelPortFuncRegList = dlistCreate(free_node, by_priority);
    if (lAxcfgGetCfgFuncRegList == nullptr || lAxcfgDelPortFuncRegList == nullptr) {
        PFM_ERR(kMid, "Create list error\n");
        return -1;
    }
    return 0;
}

PC_API int axConfigLibDeInit(void) {
    if (registryLock == nullptr) return 0;
    pc::pal::MutexGuard guard(registryLock);
    for (Registry which : {Registry::GetCfg, Registry::DelPort}) {
        DList *&list = list_of(which);
        if (list != nullptr) dlistDestroy(list);
        list = nullptr;
    }
    return 0;
}

PC_API int axConfigRegister(const char *regName, AXCFG_GET_CFG_FUNC getCfgFunc,
                            AXCFG_DEL_PORT_FUNC delPortFunc, int priority) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, NULL != getCfgFunc, -1);
    PFM_ENSURE_RET(kMid, AXCFG_REG_FUNC_NAME_LEN >= strlen(regName), -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(priority), -1);
    int rc =
        registry_add(Registry::GetCfg, regName, reinterpret_cast<void *>(getCfgFunc), PID_CORE, priority);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axcfgAddGetCfgFunc(regName, getCfgFunc, PID_CORE, priority)");
        return rc;
    }
    if (delPortFunc != nullptr) {
        rc = registry_add(Registry::DelPort, regName, reinterpret_cast<void *>(delPortFunc), PID_CORE,
                          priority);
        if (rc != 0) {
            PFM_CALL_FAILED(kMid, rc, "axcfgAddDelPortFunc(regName, delPortFunc, PID_CORE, priority)");
            registry_remove(Registry::GetCfg, regName);  // nothing half-registered
            return rc;
        }
    } else {
        registry_remove_owned(Registry::DelPort, regName, PID_CORE);  // the new registration has none
    }
    return 0;
}

PC_API int axConfigUnRegister(const char *regName) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, AXCFG_REG_FUNC_NAME_LEN >= strlen(regName), -1);
    registry_remove(Registry::GetCfg, regName);
    registry_remove(Registry::DelPort, regName);
    return 0;
}

PC_API int axconfigManageGetCfgReg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    const char *name = pc::mgmt::para_text(inPara, AXCFG_PARA_REG_NAME);
    int priority = 0;
    int dstPid = 0;
    int ret = -1;
    if (!name_ok(name)) {
        PFM_ENSURE_FAILED(kMid, "NULL != regName && AXCFG_REG_FUNC_NAME_LEN >= strlen(regName)");
    } else if (axrpcGetInt(inPara, AXCFG_PARA_PRIORITY, &priority) != 0 ||
               axrpcGetInt(inPara, AXCFG_PARA_DST_PID, &dstPid) != 0 || !PFM_PRIORITY_IS_VALID(priority) ||
               !IS_PID_VALID(dstPid) || dstPid == PID_CORE) {
        PFM_ENSURE_FAILED(kMid, "PFM_PRIORITY_IS_VALID(priority) && IS_PID_VALID(dstPid)");
    } else {
        ret = registry_add(Registry::GetCfg, name, nullptr, dstPid, priority);
        uint32_t flag = 0;
        if (ret == 0 && axrpcGetFlagData(inPara, AXCFG_PARA_DELPORT, &flag) == 0)
            ret = registry_add(Registry::DelPort, name, nullptr, dstPid, priority);
        else if (ret == 0)
            registry_remove_owned(Registry::DelPort, name, dstPid);
    }
    axrpcAddInt(outPara, AXCFG_PARA_RET, ret);
    return 0;
}

PC_API int axconfigManageGetCfgUnReg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    const char *name = pc::mgmt::para_text(inPara, AXCFG_PARA_REG_NAME);
    int ret = -1;
    if (name_ok(name)) ret = axConfigUnRegister(name);
    axrpcAddInt(outPara, AXCFG_PARA_RET, ret);
    return 0;
}

}  // extern "C"
