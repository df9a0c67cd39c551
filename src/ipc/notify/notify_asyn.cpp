// Asynchronous subscribers (see notify_asyn.h).
#include "ipc/notify/notify_asyn.h"

#include <cstdio>
#include <cstring>

#include "ipc/notify/notify.h"
#include "ipc/notify/notify_table.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc::notify {

namespace {

constexpr unsigned kWorkerStack = 16384;
constexpr unsigned kWorkerPriority = 0;

// One queued event; never leaves the process.
struct AsynItem {
    int32_t type;
    void *arg;  // private copy (tag "notify"), freed by the worker
    int32_t len;
};

struct AsynEntry {
    int queue = -1;
    int mid = 0;
    NOTIFY_CB cb[NOTIFY_TYPE_NUM] = {};  // guarded by g_sem; read by the worker
    char name[32] = {};
};

AsynEntry g_entries[MID_MAX];
int g_count = 0;            // entries in use (guarded by g_sem)
pal_sem_t g_sem = nullptr;  // "notify_asyn_sem"

AsynEntry *find_entry(int mid) {
    for (int i = 0; i < g_count; ++i)
        if (g_entries[i].mid == mid) return &g_entries[i];
    return nullptr;
}

void asyn_worker(void *arg) {
    auto *entry = static_cast<AsynEntry *>(arg);
    PFM_DBG(kMid, "new thread mid =%d, index = %d", entry->mid, static_cast<int>(entry - g_entries));
    for (;;) {
        AsynItem item{};
        unsigned priority = 0;
        if (pal_msgQ_receive(entry->queue, &item, sizeof item, PAL_WAIT_FOREVER, &priority) !=
            static_cast<int>(sizeof item)) {
            pal_usleep(100000);
            continue;
        }
        PFM_DBG(kMid, "mid %d proc", entry->mid);
        NOTIFY_CB cb = item.type >= 0 && item.type < NOTIFY_TYPE_NUM ? entry->cb[item.type] : nullptr;
        if (cb != nullptr) cb(item.arg, item.len);
        pal_free(item.arg);
    }
}

int create_entry(int mid, int queueLen, NOTIFY_CB cb, int type) {
    if (g_count >= MID_MAX) return -1;
    AsynEntry &e = g_entries[g_count];
    std::snprintf(e.name, sizeof e.name, "/notify_asyn_%d_%d", pidGetCurrent(), mid);
    pal_msgQ_destroy(e.name);
    const unsigned depth = queueLen < 1 ? NOTIFY_ASYN_QUEUE_DEFAULT : static_cast<unsigned>(queueLen);
    e.queue = pal_msgQ_create(e.name, depth, sizeof(AsynItem), PAL_MSGQ_RDWR);
    if (e.queue < 0) {
        PFM_ERR(kMid, "notify asyn msgq create fail");
        return -1;
    }
    e.mid = mid;
    std::memset(e.cb, 0, sizeof e.cb);
    e.cb[type] = cb;
    if (pal_thread_create(e.name + 1, kWorkerStack, kWorkerPriority, asyn_worker, &e) == PAL_THREAD_INVALID) {
        pal_msgQ_close(e.queue);
        pal_msgQ_destroy(e.name);
        e.queue = -1;
        return -1;
    }
    ++g_count;
    return 0;
}

}  // namespace

int asyn_init() {
    g_count = 0;
    if (g_sem == nullptr) g_sem = pal_sem_create("notify_asyn_sem", 0, 1);
    if (g_sem == nullptr) {
        PFM_ERR(kMid, "notify asyn sem create fail");
        return -1;
    }
    return 0;
}

int asyn_register(int mid, int type, int queueLen, NOTIFY_CB cb) {
    if (g_sem == nullptr && asyn_init() != 0) return -1;
    pal_sem_take(g_sem, PAL_WAIT_FOREVER);
    int rc = 0;
    AsynEntry *e = find_entry(mid);
    if (e == nullptr) {
        rc = create_entry(mid, queueLen, cb, type);
        if (rc != 0) PFM_ERR(kMid, "notify asyn thread init fail");
    } else if (e->cb[type] != nullptr) {
        PFM_ERR(kMid, "notify asyn mid %d, type %d is already registed", mid, type);
        rc = -1;
    } else {
        e->cb[type] = cb;
    }
    pal_sem_give(g_sem);
    return rc;
}

int asyn_dispatch(int mid, int type, void *arg, int len) {
    AsynEntry *e = nullptr;
    pal_sem_take(g_sem, PAL_WAIT_FOREVER);
    e = find_entry(mid);
    pal_sem_give(g_sem);
    if (e == nullptr || len < 0) return -1;
    AsynItem item{type, nullptr, len};
    item.arg = pal_alloc(static_cast<unsigned>(len > 0 ? len : 1), kTag);
    if (item.arg == nullptr) return -1;
    if (len > 0 && arg != nullptr) std::memcpy(item.arg, arg, static_cast<size_t>(len));
    if (pal_msgQ_send(e->queue, &item, sizeof item, 0, PAL_NO_WAIT) != 0) {
        PFM_ERR(kMid, "send msgq error");
        pal_free(item.arg);
        return -1;
    }
    return 0;
}

}  // namespace pc::ipc::notify
