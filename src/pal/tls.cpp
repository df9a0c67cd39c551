// A pool of eight thread-local keys for the life of the process.
#include <pthread.h>

#include <array>

#include "platform_core/pal.h"

namespace {

struct TlsSlot {
    pthread_key_t key;
    bool used;  // guarded by the priority-raising lock; never cleared by delete
};

std::array<TlsSlot, PAL_TLS_KEY_NUM> g_slots{};
bool g_pool_exists = false;  // guarded by the priority-raising lock

TlsSlot *slot_of(pal_tls_key_t key) {
    if (key == nullptr) return nullptr;
    for (auto &slot : g_slots)
        if (&slot == key) return &slot;
    return nullptr;
}

}  // namespace

extern "C" {

PC_API pal_tls_key_t pal_tls_key_create(void (*destructor)(void *)) {
    TlsSlot *found = nullptr;
    pal_splhi();
    if (!g_pool_exists) {
        for (auto &slot : g_slots) slot.used = false;
        g_pool_exists = true;
    }
    for (auto &slot : g_slots) {
        if (!slot.used) {
            slot.used = true;
            found = &slot;
            break;
        }
    }
    pal_spl();
    if (found == nullptr) return nullptr;
    if (pthread_key_create(&found->key, destructor) != 0) {
        pal_splhi();
        found->used = false;
        pal_spl();
        return nullptr;
    }
    return found;
}

PC_API int pal_tls_key_set(pal_tls_key_t key, void *value) {
    TlsSlot *slot = slot_of(key);
    if (!g_pool_exists || slot == nullptr) return 0;
    return pthread_setspecific(slot->key, value) == 0 ? 1 : 0;
}

PC_API void *pal_tls_key_get(pal_tls_key_t key) {
    TlsSlot *slot = slot_of(key);
    if (!g_pool_exists || slot == nullptr) return nullptr;
    return pthread_getspecific(slot->key);
}

PC_API int pal_tls_key_delete(pal_tls_key_t key) {
    TlsSlot *slot = slot_of(key);
    if (!g_pool_exists || slot == nullptr) return 0;
    return pthread_key_delete(slot->key) == 0 ? 1 : 0;
}

}  // extern "C"
