// The hub's process-gone hooks (see hub.h).
#include "ipc/hub/hub.h"

#include <array>
#include <atomic>
#include <mutex>

namespace pc::ipc {
namespace {

// Written under g_add_lock, read without a lock: a slot is filled before
// the count that makes it visible grows.
std::array<std::atomic<ProcessGoneHook>, kMaxProcessGoneHooks> g_hooks{};
std::atomic<int> g_count{0};
std::mutex g_add_lock;

}  // namespace

int add_process_gone_hook(ProcessGoneHook hook) {
    if (hook == nullptr) return -1;
    std::lock_guard<std::mutex> guard(g_add_lock);
    const int n = g_count.load();
    for (int i = 0; i < n; ++i)
        if (g_hooks[i].load() == hook) return 0;
    if (n >= kMaxProcessGoneHooks) return -1;
    g_hooks[n].store(hook);
    g_count.store(n + 1);
    return 0;
}

void run_process_gone_hooks(uint32_t pid) {
    const int n = g_count.load();
    for (int i = 0; i < n; ++i)
        if (ProcessGoneHook hook = g_hooks[i].load()) hook(pid);
}

}  // namespace pc::ipc
