// The subscription table (see notify_table.h).
#include "ipc/notify/notify_table.h"

#include <cstdio>
#include <new>

#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::ipc::notify {

namespace {

std::atomic<NotifyNode *> g_heads[NOTIFY_TYPE_NUM];
pal_mutex_t g_mutex = nullptr;  // "notify_mutex"

}  // namespace

int table_init() {
    for (auto &h : g_heads) h.store(nullptr);
    if (g_mutex == nullptr) g_mutex = pal_mutex_create("notify_mutex");
    if (g_mutex == nullptr) {
        PFM_ERR(kMid, "notify mutex create fail");
        return -1;
    }
    return 0;
}

NotifyNode *table_head(int type) {
    if (type < 0 || type >= NOTIFY_TYPE_NUM) return nullptr;
    return g_heads[type].load(std::memory_order_acquire);
}

int table_add(int type, int proc, int mid, int is_asyn, int pri, NOTIFY_CB cb, NOTIFY_ASYN_CB asynCb) {
    if (type < 0 || type >= NOTIFY_TYPE_NUM || g_mutex == nullptr) return -1;
    const bool remote = cb == nullptr && asynCb == nullptr;
    pc::pal::MutexGuard guard(g_mutex);
    if (!guard.held()) return -1;
    std::atomic<NotifyNode *> *link = &g_heads[type];
    if (remote) {
        for (NotifyNode *n = link->load(); n != nullptr; n = n->next.load())
            if (n->proc == proc && n->pri == pri && n->cb == nullptr && n->asynCb == nullptr) {
                n->active.store(true, std::memory_order_release);
                return 0;
            }
    }
    void *mem = pal_alloc(sizeof(NotifyNode), kTag);
    if (mem == nullptr) return -1;
    auto *node = new (mem) NotifyNode{proc, mid, is_asyn, pri, cb, asynCb, {true}, {nullptr}};
    // After every node of a lower or equal priority.
    while (link->load() != nullptr && link->load()->pri <= pri) link = &link->load()->next;
    node->next.store(link->load(), std::memory_order_relaxed);
    link->store(node, std::memory_order_release);
    return 0;
}

void table_drop_process(int proc) {
    if (g_mutex == nullptr) return;
    pc::pal::MutexGuard guard(g_mutex);
    for (auto &head : g_heads)
        for (NotifyNode *n = head.load(); n != nullptr; n = n->next.load())
            if (n->proc == proc && n->cb == nullptr && n->asynCb == nullptr)
                n->active.store(false, std::memory_order_release);
}

void table_print() {
    for (int type = 0; type < NOTIFY_TYPE_NUM; ++type)
        for (NotifyNode *n = table_head(type); n != nullptr; n = n->next.load(std::memory_order_acquire))
            if (n->active.load(std::memory_order_acquire))
                std::printf("Type %d, Proc %d, Pri %d, mid %d, is_asyn %d\n", type, n->proc, n->pri, n->mid,
                            n->is_asyn);
    std::fflush(stdout);
}

}  // namespace pc::ipc::notify
