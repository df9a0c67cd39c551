// Subscribers to the end of a process's hub connection (see axmsg_departure.h).
#include "ipc/axmsg_departure.h"

#include <array>
#include <atomic>
#include <mutex>

#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc {
namespace {

constexpr size_t kMaxSubscribers = 16;

// Slots are filled once, under g_subscribe_lock, and never cleared;
// `g_count` publishes them to notify, which takes no lock.
std::mutex g_subscribe_lock;
std::array<std::atomic<ProcessGoneFn>, kMaxSubscribers> g_subscribers{};
std::atomic<size_t> g_count{0};

}  // namespace

int process_gone_subscribe(ProcessGoneFn fn) {
    if (fn == nullptr) return -1;
    std::lock_guard<std::mutex> guard(g_subscribe_lock);
    size_t n = g_count.load(std::memory_order_relaxed);
    for (size_t i = 0; i < n; ++i)
        if (g_subscribers[i].load(std::memory_order_relaxed) == fn) return 0;
    if (n == kMaxSubscribers) {
        PFM_ERR(MID_AXMSG, "no room for another process departure subscriber");
        return -1;
    }
    g_subscribers[n].store(fn, std::memory_order_relaxed);
    g_count.store(n + 1, std::memory_order_release);
    return 0;
}

void process_gone_notify(uint32_t pid) {
    size_t n = g_count.load(std::memory_order_acquire);
    if (n != 0)
        PFM_DBG(MID_AXMSG, "proc %s(%u) went away: dropping what it registered",
                pidNameGet(static_cast<int>(pid)), static_cast<unsigned>(pid));
    for (size_t i = 0; i < n; ++i)
        if (ProcessGoneFn fn = g_subscribers[i].load(std::memory_order_acquire)) fn(pid);
}

}  // namespace pc::ipc
