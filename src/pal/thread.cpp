// Threads started through the library: start-up handshake and registry.
//
// Registry: a singly linked list of thread records, newest first, with the
// usage counters, all guarded by g_thread_list_lock (a plain POSIX mutex, so
// the registry works before any PAL object exists). A record is on the list
// from the end of its thread's start-up sequence until the thread exits or
// is destroyed. Records and names come from the accounted allocator ("PAL").
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "pal/main_thread.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace {

constexpr const char *kTag = "PAL";

struct pal_task_t {
    pal_thread_entry_t entry;
    char *name;       // owned, tag "PAL"
    pal_thread_t id;  // set by the thread itself
    int pid;          // kernel thread id
    void *arg;
    unsigned ss;         // stack bytes requested from the system
    pal_sem_t boot_sem;  // valid until pal_thread_create returns
    pal_task_t *next;    // registry link (guarded by g_thread_list_lock)
};

pthread_mutex_t g_thread_list_lock = PTHREAD_MUTEX_INITIALIZER;
pal_task_t *g_thread_list = nullptr;  // guarded by g_thread_list_lock
unsigned g_thread_num = 0;            // guarded by g_thread_list_lock
unsigned g_thread_stack = 0;          // guarded by g_thread_list_lock
unsigned g_thread_num_max = 0;        // guarded by g_thread_list_lock
unsigned g_thread_stack_max = 0;      // guarded by g_thread_list_lock

// Holds the list lock with cancellation held off: threads are cancelled
// asynchronously, and one cancelled while it holds this lock would leave
// every later thread call hanging. A cancel that arrives meanwhile takes
// effect once the lock is given back.
class ListLock {
public:
    ListLock() {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state_);
        pthread_mutex_lock(&g_thread_list_lock);
    }
    // A pending cancel unwinds out of here: not noexcept.
    ~ListLock() noexcept(false) {
        pthread_mutex_unlock(&g_thread_list_lock);
        pthread_setcancelstate(cancel_state_, nullptr);
    }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;

private:
    int cancel_state_ = PTHREAD_CANCEL_ENABLE;
};

// Unlinks the record of `id`; the caller frees it. Under the list lock.
pal_task_t *unlink_locked(pal_thread_t id) {
    for (pal_task_t **pp = &g_thread_list; *pp != nullptr; pp = &(*pp)->next) {
        if (pthread_equal((*pp)->id, id)) {
            pal_task_t *t = *pp;
            *pp = t->next;
            return t;
        }
    }
    return nullptr;
}

pal_task_t *find_locked(pal_thread_t id) {
    for (pal_task_t *t = g_thread_list; t != nullptr; t = t->next)
        if (pthread_equal(t->id, id)) return t;
    return nullptr;
}

void release_record(pal_task_t *t) {
    {
        ListLock lock;
        g_thread_num--;
        g_thread_stack -= t->ss;
    }
    pal_free(t->name);
    pal_free(t);
}

void *thread_start(void *arg) {
    auto *t = static_cast<pal_task_t *>(arg);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    stkoflw_install(stkoflw_handler);
    pthread_detach(pthread_self());
    prctl(PR_SET_NAME, t->name, 0, 0, 0);
    t->pid = static_cast<int>(syscall(SYS_gettid));
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
    t->id = pthread_self();
    pal_thread_entry_t entry = t->entry;
    void *entry_arg = t->arg;
    {
        ListLock lock;
        t->next = g_thread_list;
        g_thread_list = t;
    }
    pal_sem_give(t->boot_sem);
    entry(entry_arg);
    pal_thread_exit(nullptr);
}

}  // namespace

namespace pc::pal {
std::atomic<pal_thread_t> g_main_thread{0};
}  // namespace pc::pal

extern "C" {

PC_API pal_thread_t pal_thread_create(const char *name, unsigned stackSize, unsigned priority,
                                      pal_thread_entry_t entry, void *arg) {
    (void)priority;  // threads run with the system's default scheduling
    if (name == nullptr || entry == nullptr) return PAL_THREAD_INVALID;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return PAL_THREAD_INVALID;
    unsigned ss = stackSize + PAL_THREAD_STACK_EXTRA;
    pthread_attr_setstacksize(&attr, ss);

    auto *t = static_cast<pal_task_t *>(pal_alloc(sizeof(pal_task_t), kTag));
    if (t == nullptr) {
        pthread_attr_destroy(&attr);
        return PAL_THREAD_INVALID;
    }
    std::memset(t, 0, sizeof *t);
    t->boot_sem = pal_sem_create("threadBoot", 0, 0);
    if (t->boot_sem == nullptr) {
        pal_free(t);
        pthread_attr_destroy(&attr);
        return PAL_THREAD_INVALID;
    }
    size_t name_len = std::strlen(name) + 1;
    t->name = static_cast<char *>(pal_alloc(static_cast<unsigned>(name_len), kTag));
    if (t->name == nullptr) {
        pal_sem_destroy(t->boot_sem);
        pal_free(t);
        pthread_attr_destroy(&attr);
        return PAL_THREAD_INVALID;
    }
    std::memcpy(t->name, name, name_len);
    t->entry = entry;
    t->arg = arg;
    t->ss = ss;
    pal_sem_t boot = t->boot_sem;

    // Counted before the thread runs, so a thread that ends at once can
    // never take the counters below zero.
    {
        ListLock lock;
        g_thread_num++;
        g_thread_stack += ss;
        if (g_thread_num > g_thread_num_max) g_thread_num_max = g_thread_num;
        if (g_thread_stack > g_thread_stack_max) g_thread_stack_max = g_thread_stack;
    }
    pthread_t tid;
    if (pthread_create(&tid, &attr, thread_start, t) != 0) {
        {
            ListLock lock;
            g_thread_num--;
            g_thread_stack -= ss;
        }
        pal_free(t->name);
        pal_free(t);
        pal_sem_destroy(boot);
        pthread_attr_destroy(&attr);
        return PAL_THREAD_INVALID;
    }
    pthread_attr_destroy(&attr);
    pal_sem_take(boot, PAL_WAIT_FOREVER);
    pal_sem_destroy(boot);
    return tid;
}

PC_API void pal_thread_exit(void *retval) {
    // The way out takes the list lock and the allocator's: a cancel must
    // not stop the thread half way through it.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    pal_task_t *t;
    {
        ListLock lock;
        t = unlink_locked(pthread_self());
    }
    if (t != nullptr) release_record(t);
    pthread_exit(retval);
}

PC_API int pal_thread_destroy(pal_thread_t id) {
    if (pthread_cancel(id) != 0) return -1;
    pal_task_t *t;
    {
        ListLock lock;
        t = unlink_locked(id);
    }
    if (t != nullptr) release_record(t);
    return 0;
}

PC_API char *pal_thread_name(pal_thread_t id, char *dst, unsigned len) {
    if (dst == nullptr || len == 0) return nullptr;
    ListLock lock;
    pal_task_t *t = find_locked(id);
    if (t == nullptr) {
        dst[0] = '\0';
        return nullptr;
    }
    std::strncpy(dst, t->name, len);
    dst[len - 1] = '\0';
    return dst;
}

PC_API int pal_thread_pid(pal_thread_t id) {
    ListLock lock;
    pal_task_t *t = find_locked(id);
    return t ? t->pid : -1;
}

PC_API int pal_thread_ss(pal_thread_t id, unsigned *ss) {
    if (ss == nullptr) {
        PFM_ENSURE_FAILED(MID_PAL, "ss != NULL");
        return -1;
    }
    ListLock lock;
    pal_task_t *t = find_locked(id);
    if (t == nullptr) return -1;
    *ss = t->ss;
    return 0;
}

PC_API int pal_thread_traverse(pal_thread_visit_t hnd, void *cookie) {
    if (hnd == nullptr) {
        PFM_ENSURE_FAILED(MID_PAL, "hnd != NULL");
        return -1;
    }
    ListLock lock;
    for (pal_task_t *pTask = g_thread_list; pTask != nullptr; pTask = pTask->next) {
        int rc = hnd(pTask->id, pTask->name, pTask->ss, pTask->pid, cookie);
        if (rc != 0) {
            PFM_CALL_FAILED(MID_PAL, rc,
                            "hnd(((pal_thread_t)pTask->id), (const char*)(pTask->name), pTask->ss, "
                            "pTask->pid, cookie)");
            return rc;
        }
    }
    return 0;
}

PC_API pal_thread_t pal_thread_self(void) { return pthread_self(); }

PC_API void pal_thread_resource_usage_get(unsigned *num, unsigned *stack, unsigned *maxNum,
                                          unsigned *maxStack) {
    ListLock lock;
    if (num) *num = g_thread_num;
    if (stack) *stack = g_thread_stack;
    if (maxNum) *maxNum = g_thread_num_max;
    if (maxStack) *maxStack = g_thread_stack_max;
}

PC_API void pal_thread_main_set(pal_thread_t id) {
    pc::pal::g_main_thread.store(id, std::memory_order_relaxed);
}
PC_API pal_thread_t pal_thread_main_get(void) {
    return pc::pal::g_main_thread.load(std::memory_order_relaxed);
}

}  // extern "C"
