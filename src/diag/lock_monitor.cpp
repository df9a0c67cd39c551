// The lock monitor's registry of PAL mutexes. Every mutex is known to the
// monitor from its creation to its destruction; the dead-lock watch that
// walks this registry is started by the resource monitors.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform_core/pal.h"

namespace {

std::mutex g_lock_list_mutex;
std::vector<pal_mutex_t> &lock_list() {
    static auto *list = new std::vector<pal_mutex_t>();  // lives until exit
    return *list;
}

}  // namespace

extern "C" {

PC_API void dk_locklist_insert(pal_mutex_t mutex) {
    if (mutex == nullptr) return;
    std::lock_guard guard(g_lock_list_mutex);
    lock_list().push_back(mutex);
}

PC_API void dk_locklist_remove(pal_mutex_t mutex) {
    std::lock_guard guard(g_lock_list_mutex);
    auto &list = lock_list();
    list.erase(std::remove(list.begin(), list.end(), mutex), list.end());
}

}  // extern "C"
