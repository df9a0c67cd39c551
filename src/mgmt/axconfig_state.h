// The configuration registry inside the core process: two lists of
// registration nodes ordered by priority, under one lock. Walks never hold
// the lock while they call a printer: they take a copy of the list first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform_core/axconfig.h"
#include "platform_core/platform.h"

namespace pc::mgmt::cfg {

inline constexpr unsigned kMid = MID_AXCONFIG;
inline constexpr const char *kTag = "axConfig";
// A remote printer: bounded, so a process that stops serving never holds
// a walk (and its worker) for good.
inline constexpr unsigned short kRemoteWaitS = 10;
inline constexpr unsigned short kDelPortWaitS = 25;    // a remote port deletion handler
inline constexpr uint32_t kMaxLen = AXCONFIG_MAX_LEN;  // bytes read, collected or produced

// A registration node (44 bytes on the target), tag "axConfig".
struct RegNode {
    char regFuncName[AXCFG_REG_FUNC_NAME_LEN + 1];
    void *function;  // printer or port deletion handler; null for another process
    int32_t pid;     // PID_CORE for the core process itself
    int32_t priority;
};

enum class Registry { GetCfg, DelPort };

// Adds a node, replacing the nodes of the same name that the same process
// registered; 0, -1 or the list's failure code.
int registry_add(Registry which, const char *name, void *function, int pid, int priority);
// Removes the first node of `name`; 0 also when absent.
int registry_remove(Registry which, const char *name);
// Removes the nodes of `name` that process `pid` registered.
void registry_remove_owned(Registry which, const char *name, int pid);
// Copy of the list in priority order, for a walk.
std::vector<RegNode> registry_snapshot(Registry which);
bool registry_ready();

// The device type description of the stack's master unit.
const char *master_description();

}  // namespace pc::mgmt::cfg

namespace pc::mgmt::cfg {

// The two walks; the environment is checked by the caller.
int ordinary_walk(AXCFG_OUT_ENV_T *env);
int buffer_walk(AXCFG_OUT_ENV_T *env);

}  // namespace pc::mgmt::cfg
