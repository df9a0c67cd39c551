// Registrations of other processes: refusals with their reason, and the end
// of a process, which takes its modules and registrations with it.
#include <cstdarg>
#include <cstdio>

#include "ipc/hub/hub.h"
#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::packet {

namespace {

constexpr size_t kRefusalLen = 160;
thread_local char t_refusal[kRefusalLen];

// The hub saw process `pid` go: its modules, and any registration it held
// in a module of its own, leave the registry and the rule tables.
void drop_process(uint32_t pid) {
    if (pid == PID_CORE || regist_lock() == nullptr) return;
    pal::MutexGuard g(regist_lock());
    if (!g.held()) return;
    for (uint32_t mid : modules_of(pid)) {
        if (unregister_module(mid) != 0) {
            PFM_ERR(kMid, "dropping module %u of process %s(%u) failed", static_cast<unsigned>(mid),
                    pidNameGet(static_cast<int>(pid)), static_cast<unsigned>(pid));
            continue;
        }
        PFM_DBG(kMid, "module %u of process %s(%u) dropped", static_cast<unsigned>(mid),
                pidNameGet(static_cast<int>(pid)), static_cast<unsigned>(pid));
    }
}

}  // namespace

int refuse(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(t_refusal, sizeof t_refusal, format, ap);
    va_end(ap);
    PFM_ERR(kMid, "%s", t_refusal);
    return -1;
}

const char *last_refusal() { return t_refusal; }

void clear_refusal() { t_refusal[0] = '\0'; }

int follow_process_departures() { return ipc::add_process_gone_hook(drop_process); }

}  // namespace pc::packet
