// The callback manager's tables (see platform_core/stack_cb.h).
//
// For each handler type: a list of SuCbNode ordered by priority and an array
// of handler pointers (void * holding a function pointer); node->index names
// the node's slot. Both are guarded by the type's mutex "suCbMngt" (list
// and array are created once by suCbMngtInit and live for the process).
#pragma once

#include "platform_core/gdsl_array.h"
#include "platform_core/gdsl_list.h"
#include "platform_core/pal.h"
#include "platform_core/stack_cb.h"

namespace pc::stack {

struct SuCbNode {
    su_cb_key_t key;
    int index;     // slot in the type's handler array
    int rpcIndex;  // slot in the registering process's array; -1 when local
};

struct SuCbBucket {
    pal_mutex_t mutex = nullptr;  // guards list and array
    DList *list = nullptr;        // SuCbNode, owned (freed with pal_free)
    DArray *array = nullptr;      // handler pointers, not owned
};

// The bucket of a handler type (0..SU_CBHND_NUM-1); the manager must exist.
SuCbBucket &su_cb_bucket(uint32_t hndType);

// Removes every callback another process `pid` registered (it went away).
void su_cb_drop_process(uint32_t pid);

// Runs a node registered by another process there (the proxy placed in its
// slot); 0 or -1.
int su_cb_proxy(const SuCbNode *node, su_cb_exe_param_t *param);
using SuCbProxyFn = int (*)(const SuCbNode *, su_cb_exe_param_t *);

// Runs one node (local handler or proxy) under its bucket's mutex.
int su_cb_run_node(const SuCbNode *node, uint32_t hndType, su_cb_exe_param_t *param);

// Sends a data sync payload to the units of param->l through
// "suDataSyncSetHnd"; 0 or -1.
int su_cb_data_sync_send(const SuCbNode *node, su_cb_exe_param_t *param, usodata_t *data);

template <typename Fn>
void *fn_to_slot(Fn fn) {
    return reinterpret_cast<void *>(fn);
}
template <typename Fn>
Fn slot_to_fn(void *slot) {
    return reinterpret_cast<Fn>(slot);
}

}  // namespace pc::stack
