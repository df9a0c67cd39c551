// PAL mutexes: named, recursive for their owner, timed, owner-checked.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pal/main_thread.h"
#include "pal/mutex_record.h"
#include "pal/resource_counter.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace {

pc::pal::ResourceCounter g_mutex_count;

constexpr size_t kOwnerNameLen = 80;

// Acquires the POSIX lock according to the time-out convention. An
// uncontended lock is taken by the first try; only a thread that has to wait
// is counted as a waiter.
int acquire(pal_mutex_s *m, unsigned timeout_ms) {
    int rc = pthread_mutex_trylock(&m->lock);
    if (rc != EBUSY || timeout_ms == PAL_NO_WAIT) return rc;
    m->waiters.fetch_add(1, std::memory_order_relaxed);
    if (timeout_ms == PAL_WAIT_FOREVER) {
        do {
            rc = pthread_mutex_lock(&m->lock);
        } while (rc == EINTR);
    } else {
        timespec deadline{};
        pal_compute_timeout_ms(&deadline, timeout_ms);
        do {
            rc = pthread_mutex_timedlock(&m->lock, &deadline);
        } while (rc == EAGAIN || rc == EINTR);
    }
    m->waiters.fetch_sub(1, std::memory_order_relaxed);
    return rc;
}

}  // namespace

extern "C" {

PC_API pal_mutex_t pal_mutex_create(const char *name) {
    if (name == nullptr) return nullptr;
    auto *m = new (std::nothrow) pal_mutex_s;
    if (m == nullptr) return nullptr;
    m->name = strdup(name);
    if (m->name == nullptr || pthread_mutex_init(&m->lock, nullptr) != 0) {
        std::free(m->name);
        delete m;
        return nullptr;
    }
    g_mutex_count.add();
    dk_locklist_insert(m);
    return m;
}

PC_API int pal_mutex_take_int(pal_mutex_t m, unsigned timeout_ms, const char *func, int line) {
    if (m == nullptr) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to take NULL mutex, %s, %d.\n", func ? func : "", line);
        return -1;
    }
    pal_thread_t self = pthread_self();
    if (m->owner.load(std::memory_order_relaxed) == self) {
        m->recursion++;
        m->depth++;
        return 0;
    }
    bool main_thread = pc::pal::in_main_thread();
    if (main_thread) pc::pal::ctrl_c_block_for_take();
    if (acquire(m, timeout_ms) == 0) {
        m->owner.store(self, std::memory_order_relaxed);
        m->depth++;
        return 0;
    }
    if (main_thread) ctrl_c_unblock();
    printf("\nERROR in taking mutex \"%s\".\n", m->name);
    PFM_ERR(MID_PAL, "\nWARNING: pal_mutex_take_intern mutex \"%s\" returns %d.\n", m->name, -1);
    return -1;
}

PC_API int pal_mutex_give_int(pal_mutex_t m, const char *func, int line) {
    if (m == nullptr) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to give NULL mutex, %s, %d.\n", func ? func : "", line);
        return -1;
    }
    pal_thread_t self = pthread_self();
    pal_thread_t owner = m->owner.load(std::memory_order_relaxed);
    // A free mutex has no owner (depth 0 exactly when owner is 0); only the
    // owner may look at depth, another thread sees owner != self.
    if (owner == 0 || (owner == self && m->depth <= 0)) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to give mutex \"%s\", who has already been unlocked.\n", m->name);
        return -1;
    }
    if (owner != self) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to give mutex \"%s\" owned by another thread.\n", m->name);
        return -1;
    }
    m->depth--;
    if (m->recursion > 0) {
        m->recursion--;
        return 0;
    }
    m->owner.store(0, std::memory_order_relaxed);
    int rc = pthread_mutex_unlock(&m->lock);
    if (pc::pal::in_main_thread()) ctrl_c_unblock();
    if (rc != 0) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to give mutex \"%s\" failed.\n", m->name);
        return -1;
    }
    return 0;
}

PC_API void pal_mutex_destroy(pal_mutex_t m) {
    if (m == nullptr) {
        printf("\nWARNING: Try to destroy NULL mutex.\n");
        return;
    }
    pal_thread_t owner = m->owner.load(std::memory_order_relaxed);
    if (owner != 0 || m->recursion > 0 || m->depth >= 1) {
        char owner_name[kOwnerNameLen];
        pal_thread_name(owner, owner_name, sizeof owner_name);
        printf("\nWARNING: Mutex \"%s\" owned by \"%s\"(%p) has NOT been unlocked before being destroyed.\n",
               m->name, owner_name, reinterpret_cast<void *>(owner));
        if (owner == pthread_self()) {
            pthread_mutex_unlock(&m->lock);
            // The take held Ctrl-C back in the main thread; no give will
            // come to let it through again.
            if (pc::pal::in_main_thread()) ctrl_c_unblock();
        }
    }
    pthread_mutex_destroy(&m->lock);
    dk_locklist_remove(m);
    std::free(m->name);
    delete m;
    g_mutex_count.sub();
}

PC_API void pal_mutex_resource_usage_get(unsigned *now, unsigned *max) { g_mutex_count.get(now, max); }

}  // extern "C"
