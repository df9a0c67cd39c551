// Listings of the packet service: the enabled registrations per rule table
// and the traffic counters. The management interface hands them its own
// printer; testAxpacketShowEnableReg prints to standard output.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"

namespace {

using namespace pc::packet;

constexpr uint32_t kListedTables = AXPKT_TBL_NEW_SA;  // NEW_SA is not shown

int print_stdout(void *, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vprintf(fmt, ap);
    va_end(ap);
    return n;
}

uint32_t stat_word(uint32_t w) {
    return std::atomic_ref<uint32_t>(axpkt_stat[w]).load(std::memory_order_relaxed);
}

}  // namespace

extern "C" {

PC_API int axpacketShowRegisterTo(AXPACKET_PRINT_FN out, void *ctx) {
    if (out == nullptr) return -1;
    out(ctx, "+++++++++++++Show enable register axpacket+++++++++++++++++\n\n");
    for (uint32_t i = 0; i < kListedTables; ++i) {
        RuleTable &t = rule_table(i);
        out(ctx, "RuleTable %s:\n", kTableNames[i]);
        if (t.mutex != nullptr) {
            pc::pal::MutexGuard g(t.mutex);
            for (const PACKET_REGIST_T *c = t.head; c != nullptr; c = c->next) {
                out(ctx, "Module name: %s enable: %x Mid: %d\n", c->name, c->enabled,
                    static_cast<int>(c->mid));
                out(ctx, " Msgq: %d EtherType: %x\n", static_cast<int>(c->msgQ), c->etherType);
                out(ctx, " Proto: %x, pid: %d\n", c->ipProtocol, static_cast<int>(c->pid));
                if (c->own == AX_RX_NOT_OWNED || c->own == AX_RX_OWNED)
                    out(ctx, " Owned: %s,", c->own == AX_RX_OWNED ? "OWN" : "NOT OWNED");
                out(ctx, " Pri: %d\n", static_cast<int>(c->priority));
                out(ctx, " ICMPv6 type: %x\n", c->icmpv6Type);
                out(ctx, "\n");
            }
        }
        out(ctx, "\n");
    }
    out(ctx, "\n++++++++++++++++++End show+++++++++++++++++\n");
    return 0;
}

PC_API void testAxpacketShowEnableReg(void) { axpacketShowRegisterTo(print_stdout, nullptr); }

PC_API int cli_axpacketInfoShow(AXPACKET_PRINT_FN out, void *ctx) {
    if (out == nullptr) return -1;
    out(ctx, "Note: kernel send and receive packets by axpacket\r\n");
    out(ctx, "axpacket receive packets: %llu\r\n",
        static_cast<unsigned long long>(axpacketStatGet(AXPKT_STAT_RX)));
    out(ctx, "axpacket send packets   : %llu\r\n",
        static_cast<unsigned long long>(axpacketStatGet(AXPKT_STAT_TX)));
    out(ctx, "kernel receive packets  : %llu\r\n",
        static_cast<unsigned long long>(axpacketStatGet(AXPKT_STAT_TO_KERNEL)));
    out(ctx, "kernel send packets     : %llu\r\n",
        static_cast<unsigned long long>(axpacketStatGet(AXPKT_STAT_FROM_KERNEL)));
    static constexpr const char *kRateLabels[] = {"axpacket receive rate   ", "axpacket send rate      ",
                                                  "kernel receive rate     ", "kernel send rate        "};
    bool on = stat_word(AXPKT_STAT_RATE_ENABLE) != 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (on)
            out(ctx, "%s: %d pps\r\n", kRateLabels[i], static_cast<int>(stat_word(AXPKT_STAT_RATE + i)));
        else
            out(ctx, "%s: no enable\r\n", kRateLabels[i]);
    }
    out(ctx, "  Queue Info\n");
    for (uint32_t q = 0; q < AXPKT_STAT_QUEUE_NUM; ++q)
        out(ctx, "cpu rx Queue %d: %llu\r\n", static_cast<int>(q),
            static_cast<unsigned long long>(axpacketStatGet(AXPKT_STAT_QUEUE + 2 * q)));
    out(ctx, "  module Info\n");
    out(ctx, "%-32s%-7s%-4s%-20s\r\n", "module name", "enable", "pri", "hitCount");
    out(ctx, "%-32s%-7s%-4s%-20s\r\n", "-------------------------------", "------", "---",
        "-------------------");
    for (uint32_t i = 0; i < AXPKT_TBL_NUM; ++i) {
        RuleTable &t = rule_table(i);
        if (t.mutex == nullptr) continue;
        pc::pal::MutexGuard g(t.mutex);
        for (const PACKET_REGIST_T *c = t.head; c != nullptr; c = c->next)
            out(ctx, "%-32s%-7d%-4d%lld\r\n", c->name, static_cast<int>(c->enabled),
                static_cast<int>(c->priority), static_cast<long long>(c->hitCount));
    }
    return 0;
}

}  // extern "C"
