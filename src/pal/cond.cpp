// PAL condition variables, waited on with a held PAL mutex.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pal/mutex_record.h"
#include "pal/resource_counter.h"
#include "platform_core/pal.h"

struct pal_cond_s {
    pthread_cond_t cond;
    char *name;  // owned copy (malloc)
};

namespace {
pc::pal::ResourceCounter g_cond_count;
}

extern "C" {

PC_API pal_cond_t pal_cond_create(const char *name) {
    if (name == nullptr) return nullptr;
    auto *c = new (std::nothrow) pal_cond_s;
    if (c == nullptr) return nullptr;
    c->name = strdup(name);
    if (c->name == nullptr || pthread_cond_init(&c->cond, nullptr) != 0) {
        std::free(c->name);
        delete c;
        return nullptr;
    }
    g_cond_count.add();
    return c;
}

PC_API int pal_cond_wait(pal_cond_t c, pal_mutex_t m, unsigned timeout_ms) {
    if (c == nullptr || m == nullptr) return -1;
    pal_thread_t self = pthread_self();
    if (m->owner.load(std::memory_order_relaxed) != self) return -1;  // caller must hold it
    // Taken more than once: give one take back and return at once (the
    // mutex stays held, and depth keeps counting the takes not given back).
    if (m->recursion > 0) {
        m->recursion--;
        m->depth--;
        return 0;
    }
    m->owner.store(0, std::memory_order_relaxed);
    m->depth--;
    int rc;
    if (timeout_ms == PAL_WAIT_FOREVER) {
        rc = pthread_cond_wait(&c->cond, &m->lock);
    } else {
        timespec deadline{};
        pal_compute_timeout_ms(&deadline, timeout_ms);
        rc = pthread_cond_timedwait(&c->cond, &m->lock, &deadline);
    }
    m->owner.store(self, std::memory_order_relaxed);
    m->depth++;
    return rc == ETIMEDOUT ? -1 : 0;
}

PC_API int pal_cond_signal(pal_cond_t c) {
    if (c == nullptr) return -1;
    return pthread_cond_signal(&c->cond) == 0 ? 0 : -1;
}

PC_API void pal_cond_destroy(pal_cond_t c) {
    if (c == nullptr) return;
    pthread_cond_destroy(&c->cond);
    std::free(c->name);
    delete c;
    g_cond_count.sub();
}

PC_API void pal_cond_resource_usage_get(unsigned *now, unsigned *max) { g_cond_count.get(now, max); }

}  // extern "C"
