// The messaging module's debug handler (see axmsg_debug.h).
#include "ipc/hub/axmsg_debug.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <span>

#include "ipc/hub/hub.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

// The CPU traffic-control listing, when this build has it.
extern "C" int axPktCtlEntryPrint(void) __attribute__((weak));

namespace pc::ipc {
namespace {

constexpr size_t kDumpBytes = 10;
constexpr std::array<uint32_t, 9> kBounceReports{2, 10, 50, 100, 1000, 5000, 10000, 20000, 50000};

// The start time is written once, by the thread that counts the first
// message, as two 32-bit halves (no 64-bit atomics on a 32-bit target).
struct Counters {
    std::atomic<uint32_t> total{0};
    std::array<std::atomic<uint32_t>, PID_MAX> per_proc{};
    std::atomic<uint32_t> start_lo{0};
    std::atomic<uint32_t> start_hi{0};
    std::atomic<bool> start_set{false};
};
Counters g_counters;

uint32_t count_message(uint32_t src_proc) {
    uint32_t total = g_counters.total.fetch_add(1) + 1;
    if (total == 1) {
        unsigned long long now = pal_time_usecs();
        g_counters.start_lo.store(static_cast<uint32_t>(now));
        g_counters.start_hi.store(static_cast<uint32_t>(now >> 32));
        g_counters.start_set.store(true, std::memory_order_release);
    }
    if (IS_PID_VALID(src_proc)) g_counters.per_proc[src_proc].fetch_add(1);
    return total;
}

int print_counts(AXMSG_T *, std::span<uint8_t>) {
    std::printf("recv msg all = %u\n", static_cast<unsigned>(g_counters.total.load()));
    for (int pid = 1; pid < PID_MAX; ++pid) {
        uint32_t n = g_counters.per_proc[pid].load();
        if (n != 0) std::printf("thread %d = %u\n", pid, static_cast<unsigned>(n));
    }
    return 0;
}

int set_level(AXMSG_T *, std::span<uint8_t> data) {
    debugFlagSet(MID_AXMSG, data[1]);
    std::printf("Proc %d Set axmsg debug level %d\n", pidGetCurrent(), data[1]);
    return 0;
}

int nothing(AXMSG_T *, std::span<uint8_t>) { return 0; }

int echo(AXMSG_T *msg, std::span<uint8_t> data) {
    iovec piece{data.data(), data.size()};
    AXMSG_T reply{};
    reply.dst_unit = msg->src_unit;
    reply.dst_proc = msg->src_proc;
    reply.msg_type = AXMSG_ECHO_REPLY_MID;
    reply.iov = &piece;
    reply.iov_num = 1;
    return axmsg_send(&reply);
}

int reset_count(AXMSG_T *msg, std::span<uint8_t>) {
    if (IS_PID_VALID(msg->src_proc)) g_counters.per_proc[msg->src_proc].store(0);
    return 0;
}

void report_bounce(uint32_t total) {
    if (std::find(kBounceReports.begin(), kBounceReports.end(), total) == kBounceReports.end()) return;
    if (!g_counters.start_set.load(std::memory_order_acquire)) return;
    unsigned long long start =
        (static_cast<unsigned long long>(g_counters.start_hi.load()) << 32) | g_counters.start_lo.load();
    unsigned long long elapsed = pal_time_usecs() - start;
    std::printf("axmsg core reach %u times, avg:%lluus\n", static_cast<unsigned>(total),
                elapsed / (total - 1));
}

// Sends the message back to the core of the sender's unit. When that core
// is this process the hops are made here in a loop instead of by sending
// to itself, and the hop count bounds the bounce in every case.
int bounce(AXMSG_T *msg, std::span<uint8_t> data) {
    uint32_t total = g_counters.total.load();
    uint32_t target_unit = msg->src_unit;
    bool to_self = target_unit == current_unit() && pidGetCurrent() == PID_CORE;
    for (;;) {
        report_bounce(total);
        if (data[1] >= kBounceHopLimit) return 0;
        ++data[1];
        PFM_DBG(MID_AXMSG, "num %d", data[1]);
        if (!to_self) break;
        total = count_message(PID_CORE);
    }
    iovec piece{data.data(), data.size()};
    AXMSG_T next{};
    next.dst_unit = target_unit;
    next.dst_proc = PID_CORE;
    next.msg_type = MID_AXMSG;
    next.iov = &piece;
    next.iov_num = 1;
    return axmsg_send(&next);
}

int pktctl_print(AXMSG_T *, std::span<uint8_t>) {
    if (axPktCtlEntryPrint == nullptr) {
        std::printf("CPU traffic control is not part of this build\n");
        return 0;
    }
    return axPktCtlEntryPrint();
}

int clients_print(AXMSG_T *, std::span<uint8_t>) { return axmsg_serv_clients_print(); }

int dump(AXMSG_T *msg, std::span<uint8_t> data) {
    std::printf("recv msg from thread %d:", static_cast<int>(msg->src_proc));
    for (uint8_t b : data.first(std::min(data.size(), kDumpBytes))) std::printf("%x ", b);
    std::printf("\r\n");
    return 0;
}

struct DebugCommand {
    uint8_t code;
    size_t min_len;  // payload bytes the command reads
    int (*run)(AXMSG_T *msg, std::span<uint8_t> data);
};

constexpr DebugCommand kCommands[] = {
    {AXMSG_DBG_PRINT_COUNTS, 1, print_counts}, {AXMSG_DBG_SET_LEVEL, 2, set_level},
    {AXMSG_DBG_NOTHING, 1, nothing},           {AXMSG_DBG_ECHO, 1, echo},
    {AXMSG_DBG_RESET_COUNT, 1, reset_count},   {AXMSG_DBG_BOUNCE, 2, bounce},
    {AXMSG_DBG_PKTCTL_PRINT, 1, pktctl_print}, {AXMSG_DBG_CLIENTS_PRINT, 1, clients_print},
};

}  // namespace

int debug_handler(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    count_message(msg->src_proc);
    if (msg->data == nullptr || msg->data_len == 0) return -1;
    std::span<uint8_t> data(static_cast<uint8_t *>(msg->data), msg->data_len);
    for (const DebugCommand &cmd : kCommands) {
        if (cmd.code != data[0]) continue;
        if (data.size() < cmd.min_len) {
            PFM_ERR(MID_AXMSG, "debug command %d needs %zu payload bytes", data[0], cmd.min_len);
            return -1;
        }
        cmd.run(msg, data);
        return 0;
    }
    return dump(msg, data);
}

}  // namespace pc::ipc
