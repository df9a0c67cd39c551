// Process identity and names of the simulated switch.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform_core/sibling.h"
#include "platform_sim/sim.h"

namespace {

constexpr int kPidUnset = -1;
std::atomic<int> g_pid{kPidUnset};

struct IdName {
    int id;
    const char *name;
};

constexpr IdName kProcessNames[] = {
    {1, "core"}, {2, "stp"}, {3, "l2"}, {4, "cli"}, {5, "httpd"}, {6, "snmp"}, {7, "l3"}, {8, "test"},
};

constexpr IdName kModuleNames[] = {
    {1, "stack"},   {2, "utp"},   {3, "axmsg"},    {4, "notify"},  {5, "axpacket"},  {6, "up"},
    {7, "axrpc"},   {8, "aximi"}, {10, "timer"},   {11, "pktctl"}, {12, "pal"},      {13, "modload"},
    {16, "config"}, {17, "sucb"}, {19, "monitor"}, {24, "http"},   {31, "platform"}, {37, "image"},
};

template <size_t N>
const char *lookup(const IdName (&table)[N], int id) {
    for (const auto &e : table)
        if (e.id == id) return e.name;
    return nullptr;
}

int pid_from_env() {
    const char *s = std::getenv(SIM_ENV_PID);
    if (!s || !*s) return 0;
    char *end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (*end != '\0' || v < 0 || v > 255) return 0;
    return static_cast<int>(v);
}

}  // namespace

extern "C" {

void simProcessSetPid(int pid) { g_pid.store(pid); }

int pidGetCurrent(void) {
    int pid = g_pid.load();
    if (pid == kPidUnset) {
        int expected = kPidUnset;
        g_pid.compare_exchange_strong(expected, pid_from_env());
        pid = g_pid.load();
    }
    return pid;
}

// A process without a name of its own is "proc<N>": names are distinct, as
// on the switch, because services name per-process resources (the RPC
// queues "/rpcSQ_<name>") after them.
const char *pidNameGet(int pid) {
    const char *n = lookup(kProcessNames, pid);
    if (n != nullptr) return n;
    if (pid <= 0 || pid >= PID_MAX) return "proc";
    static const auto names = [] {
        std::array<std::array<char, 8>, PID_MAX> t{};
        for (int i = 0; i < PID_MAX; ++i) std::snprintf(t[i].data(), t[i].size(), "proc%d", i);
        return t;
    }();
    return names[pid].data();
}

// A module without a name of its own is "mid<N>": names are distinct, as
// on the switch, because services name per-module resources after them.
const char *midNameGet(int mid) {
    const char *n = lookup(kModuleNames, mid);
    if (n != nullptr) return n;
    if (mid <= 0 || mid >= MID_MAX) return "module";
    static const auto names = [] {
        std::array<std::array<char, 8>, MID_MAX> t{};
        for (int i = 0; i < MID_MAX; ++i) std::snprintf(t[i].data(), t[i].size(), "mid%d", i);
        return t;
    }();
    return names[mid].data();
}

}  // extern "C"
