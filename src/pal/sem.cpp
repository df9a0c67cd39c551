// PAL semaphores: named process-private POSIX semaphores.
#include <semaphore.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pal/resource_counter.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

struct pal_sem_s {
    sem_t sem;
    char *name;  // owned copy (malloc)
};

namespace {
pc::pal::ResourceCounter g_sem_count;
}

extern "C" {

PC_API pal_sem_t pal_sem_create(const char *name, unsigned kind, unsigned initialCount) {
    (void)kind;
    if (name == nullptr) return nullptr;
    auto *s = new (std::nothrow) pal_sem_s;
    if (s == nullptr) return nullptr;
    s->name = strdup(name);
    if (s->name == nullptr || sem_init(&s->sem, 0, initialCount) != 0) {
        std::free(s->name);
        delete s;
        return nullptr;
    }
    g_sem_count.add();
    return s;
}

PC_API int pal_sem_take_int(pal_sem_t s, unsigned timeout_ms, const char *func, int line) {
    if (s == nullptr) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to take NULL semphore, %s, %d.\n", func ? func : "", line);
        return -1;
    }
    if (timeout_ms == PAL_WAIT_FOREVER) {
        int rc;
        do {
            rc = sem_wait(&s->sem);
        } while (rc != 0 && errno == EINTR);
        return rc == 0 ? 0 : -1;
    }
    if (timeout_ms == PAL_NO_WAIT) return sem_trywait(&s->sem) == 0 ? 0 : -1;
    timespec deadline{};
    pal_compute_timeout_ms(&deadline, timeout_ms);
    return sem_timedwait(&s->sem, &deadline) == 0 ? 0 : -1;
}

PC_API int pal_sem_give_int(pal_sem_t s, const char *func, int line) {
    if (s == nullptr) {
        PFM_ERR(MID_PAL, "\nWARNING: Try to give NULL semphore, %s, %d.\n", func ? func : "", line);
        return -1;
    }
    return sem_post(&s->sem) == 0 ? 0 : -1;
}

PC_API void pal_sem_destroy(pal_sem_t s) {
    if (s == nullptr) return;
    sem_destroy(&s->sem);
    std::free(s->name);
    delete s;
    g_sem_count.sub();
}

PC_API void pal_sem_resource_usage_get(unsigned *now, unsigned *max) { g_sem_count.get(now, max); }

}  // extern "C"
