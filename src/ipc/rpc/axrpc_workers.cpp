// Work queues and worker threads of the RPC service (see axrpc_workers.h).
#include "ipc/rpc/axrpc_workers.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "ipc/rpc/axrpc_scheduler.h"
#include "ipc/rpc/axrpc_serve.h"
#include "ipc/rpc/rpc.h"
#include "pal/mutex_guard.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc::rpc {

namespace {

constexpr unsigned kWorkerStack = 16384;
constexpr unsigned kWorkerPriority = 100;
constexpr unsigned kQueueNameMax = 30;
constexpr unsigned kAsyncSendTimeoutUs = 1000000;
constexpr unsigned kStopGraceMs = 3000;
constexpr unsigned kStopPollUs = 10000;
constexpr unsigned kReceiveRetryUs = 100000;

struct Worker {
    pal_thread_t thread = PAL_THREAD_INVALID;
    std::atomic<bool> running{false};  // set by the creator, cleared by the worker as it leaves
};

// The asynchronous turn of one worker: the flag and its condition.
struct AsyncTurn {
    pal_mutex_t lock = nullptr;  // "rpcACL%d", guards flag
    pal_cond_t cond = nullptr;   // "rpcAC%d"
    int flag = 0;                // 1 while the worker holds the turn
};

struct Workers {
    char syncName[kQueueNameMax + 1] = {};
    Worker spare[kMaxSpareWorkers];   // slot free while not running
    std::mutex spareLock;             // starting a spare
    std::atomic<int> syncWaiting{0};  // synchronous and spare workers waiting on another process
    std::atomic<int> sparesRunning{0};
    char asyncName[kQueueNameMax + 1] = {};
    int syncQueue = -1;
    int asyncQueue = -1;
    Worker sync[AXRPC_SYNC_THREAD_NUM];
    Worker async[AXRPC_ASYN_THREAD_NUM];
    AsyncTurn turn[AXRPC_ASYN_THREAD_NUM];
    std::atomic<bool> stopping{false};
};

Workers g_workers;

// Set on the synchronous and spare workers' own threads.
thread_local bool tSyncWorker = false;
// The calling worker's wait is counted (worker_wait_begin answered true).
thread_local int tCountedWaits = 0;

void make_queue_name(char (&dst)[kQueueNameMax + 1], const char *kind) {
    std::snprintf(dst, sizeof dst, "/%s_%s", kind, pidNameGet(pidGetCurrent()));
}

// The system's limit of items per queue for an unprivileged creator.
unsigned system_queue_depth_limit() {
    unsigned limit = 0;
    if (FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "r")) {
        if (std::fscanf(f, "%u", &limit) != 1) limit = 0;
        std::fclose(f);
    }
    return limit;
}

int open_queue(const char *name) {
    pal_msgQ_destroy(name);  // never read items left by an earlier process
    int q = pal_msgQ_create(name, kWorkQueueDepth, sizeof(WorkItem), PAL_MSGQ_RDWR);
    if (q >= 0) return q;
    // Without the right to exceed the system's limit the queue is made as
    // deep as the system allows.
    const unsigned limit = system_queue_depth_limit();
    if (limit == 0 || limit >= kWorkQueueDepth) return -1;
    PFM_WARN(kMid, "Work queue %s holds %u items (system limit)\n", name, limit);
    return pal_msgQ_create(name, limit, sizeof(WorkItem), PAL_MSGQ_RDWR);
}

// Receives one item; false when the receive failed.
bool receive_item(int queue, WorkItem *item) {
    unsigned priority = 0;
    int n = pal_msgQ_receive(queue, item, sizeof *item, PAL_WAIT_FOREVER, &priority);
    return n == static_cast<int>(sizeof *item);
}

void sync_thread_proc(void *arg) {
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    if (!((0 <= index) && (AXRPC_SYNC_THREAD_NUM > index))) {
        PFM_ENSURE_FAILED(kMid, "((0 <= index)&&(AXRPC_SYNC_THREAD_NUM > index))");
        return;
    }
    Worker &self = g_workers.sync[index];
    tSyncWorker = true;
    while (!g_workers.stopping.load()) {
        WorkItem item{};
        if (!receive_item(g_workers.syncQueue, &item)) {
            PFM_ERR(kMid, "Get msgq error");
            pal_usleep(kReceiveRetryUs);
            continue;
        }
        if (item.reserved == kStopItem) break;
        handle_work_item(item);
    }
    self.running.store(false);
}

// Workers of the synchronous queue not waiting on another process.
int free_sync_workers() {
    return AXRPC_SYNC_THREAD_NUM + g_workers.sparesRunning.load() - g_workers.syncWaiting.load();
}

void spare_thread_proc(void *arg) {
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    Worker &self = g_workers.spare[index];
    tSyncWorker = true;
    while (!g_workers.stopping.load()) {
        WorkItem item{};
        unsigned priority = 0;
        const int n =
            pal_msgQ_receive(g_workers.syncQueue, &item, sizeof item, kSpareIdleMs * 1000, &priority);
        if (n != static_cast<int>(sizeof item)) {
            // Idle: leave unless the free workers would drop below the spares.
            if (free_sync_workers() > kSpareWorkers) break;
            continue;
        }
        if (item.reserved == kStopItem) break;
        handle_work_item(item);
    }
    g_workers.sparesRunning.fetch_sub(1);
    self.running.store(false);
}

bool start_worker(Worker &w, const char *name, pal_thread_entry_t entry, int index);

// Starts a spare worker when too few are free; false when none could be had.
bool ensure_spare() {
    std::lock_guard<std::mutex> guard(g_workers.spareLock);
    if (free_sync_workers() > kSpareWorkers) return true;
    for (int i = 0; i < kMaxSpareWorkers; ++i) {
        Worker &w = g_workers.spare[i];
        if (w.running.load()) continue;
        char name[16];
        std::snprintf(name, sizeof name, "rpcSX%d", i);
        g_workers.sparesRunning.fetch_add(1);
        if (start_worker(w, name, spare_thread_proc, i)) return true;
        g_workers.sparesRunning.fetch_sub(1);
        return false;
    }
    return false;
}

void async_thread_proc(void *arg) {
    const auto index = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    if (!((0 <= index) && (AXRPC_ASYN_THREAD_NUM > index))) {
        PFM_ENSURE_FAILED(kMid, "((0 <= index)&&(AXRPC_ASYN_THREAD_NUM > index))");
        return;
    }
    Worker &self = g_workers.async[index];
    AsyncTurn &turn = g_workers.turn[index];
    while (!g_workers.stopping.load()) {
        {
            pc::pal::MutexGuard guard(turn.lock);
            while (!turn.flag && !g_workers.stopping.load())
                pal_cond_wait(turn.cond, turn.lock, PAL_WAIT_FOREVER);
        }
        if (g_workers.stopping.load()) break;
        WorkItem item{};
        if (!receive_item(g_workers.asyncQueue, &item)) {
            PFM_ERR(kMid, "get msgq error");
            pal_usleep(kReceiveRetryUs);
            continue;
        }
        if (item.reserved == kStopItem) break;
        if (item.block == nullptr) {
            PFM_ERR(kMid, "msg null\n");
            continue;
        }
        PFM_DBG(kMid, "Async thread %d manage, Msg len: %d\n", index, static_cast<int>(item.length));
        handle_work_item(item);
    }
    self.running.store(false);
}

bool start_worker(Worker &w, const char *name, pal_thread_entry_t entry, int index) {
    w.running.store(true);
    w.thread = pal_thread_create(name, kWorkerStack, kWorkerPriority, entry,
                                 reinterpret_cast<void *>(static_cast<intptr_t>(index)));
    if (w.thread == PAL_THREAD_INVALID) {
        w.running.store(false);
        PFM_ERR(kMid, "Create thread pool %d error\n", index);
        return false;
    }
    return true;
}

int init_queues_and_workers() {
    make_queue_name(g_workers.syncName, "rpcSQ");
    make_queue_name(g_workers.asyncName, "rpcAQ");
    g_workers.syncQueue = open_queue(g_workers.syncName);
    if (g_workers.syncQueue < 0) {
        PFM_ERR(kMid, "Create work queue error\n");
        return -1;
    }
    char name[16];
    for (int i = 0; i < AXRPC_SYNC_THREAD_NUM; ++i) {
        std::snprintf(name, sizeof name, "rpcST%d", i);
        if (!start_worker(g_workers.sync[i], name, sync_thread_proc, i)) return -1;
    }
    g_workers.asyncQueue = open_queue(g_workers.asyncName);
    if (g_workers.asyncQueue < 0) {
        PFM_ERR(kMid, "Create work queue error\n");
        return -1;
    }
    for (int i = 0; i < AXRPC_ASYN_THREAD_NUM; ++i) {
        AsyncTurn &t = g_workers.turn[i];
        t.flag = 0;
        std::snprintf(name, sizeof name, "rpcAC%d", i);
        t.cond = pal_cond_create(name);
        if (t.cond == nullptr) {
            PFM_ERR(kMid, "Create cond pool %d error\n", i);
            return -1;
        }
        std::snprintf(name, sizeof name, "rpcACL%d", i);
        t.lock = pal_mutex_create(name);
        if (t.lock == nullptr) {
            PFM_ERR(kMid, "Create cond lock pool %d error\n", i);
            return -1;
        }
    }
    for (int i = 0; i < AXRPC_ASYN_THREAD_NUM; ++i) {
        std::snprintf(name, sizeof name, "rpcAT%d", i);
        if (!start_worker(g_workers.async[i], name, async_thread_proc, i)) return -1;
    }
    return scheduler_start();
}

bool any_running() {
    for (const Worker &w : g_workers.sync)
        if (w.running.load()) return true;
    for (const Worker &w : g_workers.spare)
        if (w.running.load()) return true;
    for (const Worker &w : g_workers.async)
        if (w.running.load()) return true;
    return false;
}

void queue_stop_items(int queue, int count) {
    if (queue < 0) return;
    WorkItem stop{};
    stop.reserved = kStopItem;
    for (int i = 0; i < count; ++i) pal_msgQ_send(queue, &stop, sizeof stop, 0, kAsyncSendTimeoutUs);
}

// Frees the blocks of items nobody will take any more.
void drain_queue(int queue) {
    if (queue < 0) return;
    WorkItem item{};
    unsigned priority = 0;
    while (pal_msgQ_receive(queue, &item, sizeof item, PAL_NO_WAIT, &priority) ==
           static_cast<int>(sizeof item))
        if (item.reserved != kStopItem) pal_free(item.block);
}

void close_queue(int &queue, const char *name) {
    if (queue < 0) return;
    pal_msgQ_close(queue);
    pal_msgQ_destroy(name);
    queue = -1;
}

}  // namespace

int manage_queue_init() {
    g_workers.stopping.store(false);
    g_workers.syncWaiting.store(0);
    g_workers.sparesRunning.store(0);
    // The queues of all processes of the user count against one byte limit.
    pal_msgQ_init();
    return init_queues_and_workers();
}

void manage_queue_destroy() {
    g_workers.stopping.store(true);
    scheduler_stop();
    queue_stop_items(g_workers.syncQueue, AXRPC_SYNC_THREAD_NUM + g_workers.sparesRunning.load());
    queue_stop_items(g_workers.asyncQueue, AXRPC_ASYN_THREAD_NUM);
    for (AsyncTurn &t : g_workers.turn) {
        if (t.lock == nullptr) continue;
        pc::pal::MutexGuard guard(t.lock);
        t.flag = 1;
        pal_cond_signal(t.cond);
    }
    for (unsigned waited = 0; any_running() && waited < kStopGraceMs * 1000; waited += kStopPollUs)
        pal_usleep(kStopPollUs);
    // A worker still inside a function after the grace time is cancelled.
    for (Worker *pool : {g_workers.sync, g_workers.spare, g_workers.async}) {
        const int count = pool == g_workers.sync    ? AXRPC_SYNC_THREAD_NUM
                          : pool == g_workers.spare ? kMaxSpareWorkers
                                                    : AXRPC_ASYN_THREAD_NUM;
        for (int i = 0; i < count; ++i) {
            if (pool[i].running.load() && pool[i].thread != PAL_THREAD_INVALID) {
                PFM_ERR(kMid, "RPC worker %d did not stop, cancelled\n", i);
                pal_thread_destroy(pool[i].thread);
                pool[i].running.store(false);
            }
            pool[i].thread = PAL_THREAD_INVALID;
        }
    }
    drain_queue(g_workers.syncQueue);
    drain_queue(g_workers.asyncQueue);
    close_queue(g_workers.syncQueue, g_workers.syncName);
    close_queue(g_workers.asyncQueue, g_workers.asyncName);
    for (AsyncTurn &t : g_workers.turn) {
        if (t.cond != nullptr) pal_cond_destroy(t.cond);
        if (t.lock != nullptr) pal_mutex_destroy(t.lock);
        t.cond = nullptr;
        t.lock = nullptr;
        t.flag = 0;
    }
}

bool worker_wait_begin() {
    if (!tSyncWorker) return true;
    g_workers.syncWaiting.fetch_add(1);
    ++tCountedWaits;
    if (ensure_spare() || free_sync_workers() >= 1) return true;
    // The last free worker: it keeps serving instead.
    worker_wait_end();
    PFM_ERR(kMid, "No RPC worker left to wait on another process\n");
    return false;
}

void worker_wait_end() {
    if (tCountedWaits == 0) return;
    --tCountedWaits;
    g_workers.syncWaiting.fetch_sub(1);
}

int queue_sync_work(const WorkItem &item) {
    if (g_workers.syncQueue < 0) return -1;
    return pal_msgQ_send(g_workers.syncQueue, &item, sizeof item, 0, PAL_WAIT_FOREVER);
}

int queue_async_work(const WorkItem &item) {
    if (g_workers.asyncQueue < 0) return -1;
    return pal_msgQ_send(g_workers.asyncQueue, &item, sizeof item, 0, kAsyncSendTimeoutUs);
}

pal_thread_t async_worker_thread(int index) {
    if (index < 0 || index >= AXRPC_ASYN_THREAD_NUM) return PAL_THREAD_INVALID;
    return g_workers.async[index].thread;
}

void pass_async_turn(int from, int to) {
    {
        pc::pal::MutexGuard guard(g_workers.turn[from].lock);
        g_workers.turn[from].flag = 0;
    }
    pc::pal::MutexGuard guard(g_workers.turn[to].lock);
    g_workers.turn[to].flag = 1;
    pal_cond_signal(g_workers.turn[to].cond);
}

void give_first_async_turn() {
    pc::pal::MutexGuard guard(g_workers.turn[0].lock);
    g_workers.turn[0].flag = 1;
    pal_cond_signal(g_workers.turn[0].cond);
}

bool workers_stopping() { return g_workers.stopping.load(); }

}  // namespace pc::ipc::rpc
