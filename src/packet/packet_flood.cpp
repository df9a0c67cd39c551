// TCP/UDP flood defence: for unowned IPv4 TCP and UDP frames to protected
// destination port ranges, addressed to the switch's MAC but not to one of
// its interface addresses, a token bucket per source address (a red-black
// tree keyed by the address, 15 tokens) and one shared bucket (50 tokens),
// both refilled every half second. flood_defend_lock ("FLOOD_DEFEND_LOCK")
// guards the ranges, the tree and the shared bucket.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/gdsl_rbtree.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/timer.h"

namespace {

using namespace pc::packet;

constexpr uint32_t kSourceTokens = 15;
constexpr uint32_t kSharedTokens = 50;
constexpr uint32_t kIdleTicksMax = 60;
constexpr long kRefillNs = 500000000L;
constexpr size_t kEthHeader = 14;
constexpr size_t kIpv4MinHeader = 20;

struct SourceNode {
    uint32_t tokens;
    uint32_t capacity;
    uint32_t addr;  // as the frame carries it (bytes 26..29)
    uint32_t idle;
};
static_assert(sizeof(SourceNode) == 16);

struct Range {
    uint16_t start;
    uint16_t end;
};

pal_mutex_t g_lock = nullptr;  // flood_defend_lock
RbTree *g_sources = nullptr;   // SourceNode by address (g_lock)
std::vector<Range> *g_ranges;  // in insertion order (g_lock)
uint32_t g_shared_tokens = 0;  // max_strom_node (g_lock)
uint32_t g_shared_capacity = 0;

int cmp_nodes(void *a, void *b) {
    return std::memcmp(&static_cast<SourceNode *>(a)->addr, &static_cast<SourceNode *>(b)->addr, 4);
}
int cmp_key(void *key, void *data) { return std::memcmp(key, &static_cast<SourceNode *>(data)->addr, 4); }
void free_node(void *data) { pal_free(data); }

// The per-source and shared buckets; 1 drops the frame.
int tcpUdpFloodDefend(const uint8_t *frame) {
    PFM_DBG(kMid, "checking tcp/udp flood rate");
    uint32_t addr;
    std::memcpy(&addr, frame + 26, 4);
    auto *node = static_cast<SourceNode *>(rbtreeSearch(g_sources, &addr));
    if (node != nullptr) {
        node->idle = 0;
        if (node->tokens == 0) return 1;
        --node->tokens;
    } else {
        auto *n = static_cast<SourceNode *>(pal_alloc(sizeof(SourceNode), kAllocTag));
        if (n != nullptr) {
            *n = SourceNode{kSourceTokens, kSourceTokens, addr, 0};
            if (rbtreeInsert(g_sources, n) != 0) pal_free(n);
        }
    }
    if (g_shared_tokens == 0) return 1;
    --g_shared_tokens;
    return 0;
}

int refill_visit(RbTree *tree, RbTreeNode *rb, void *) {
    auto *node = static_cast<SourceNode *>(rb->data);
    if (node->idle >= kIdleTicksMax) {
        uint32_t key = node->addr;
        rbtreeRemove(tree, &key);
    } else {
        node->tokens = kSourceTokens;
        ++node->idle;
    }
    return 0;
}

int count_visit(void *ctx, void *) {
    ++*static_cast<int *>(ctx);
    return 0;
}

}  // namespace

extern "C" {

PC_API int axPacketTcpUdpFloodDefendInit(void) {
    if (g_lock != nullptr) return 0;
    g_ranges = new (std::nothrow) std::vector<Range>;
    g_lock = pal_mutex_create("FLOOD_DEFEND_LOCK");
    g_sources = rbtreeInit(cmp_nodes, cmp_key, free_node);
    if (g_lock == nullptr || g_sources == nullptr || g_ranges == nullptr) return -1;
    g_shared_tokens = g_shared_capacity = kSharedTokens;
    timespec interval{0, kRefillNs};
    timer_id_t id = add_timer("tcpUdpFlood", &interval, tcpUdpFloodTokenTimer, 0, TIMER_MODE_PERIODIC);
    return id.name[0] == '\0' ? -1 : 0;
}

PC_API int axPacketTcpUdpFloodDefend(const uint8_t *frame, uint32_t len) {
    if (frame == nullptr || g_lock == nullptr) return 0;
    {
        pc::pal::MutexGuard g(g_lock);
        if (g_ranges->empty()) return 0;
    }
    // The frame must hold the IPv4 header and the ports behind it.
    if (len < kEthHeader + kIpv4MinHeader) return 0;
    uint8_t proto = frame[23];
    PFM_DBG(kMid, "ip frame protocal %d", proto);
    if (proto != 6 && proto != 17) return 0;
    size_t ihl = static_cast<size_t>(frame[kEthHeader] & 0x0F) * 4;
    if (ihl < kIpv4MinHeader || len < kEthHeader + ihl + 4) return 0;
    pc::pal::MutexGuard g(g_lock);
    const uint8_t *l4 = frame + kEthHeader + ihl;
    uint16_t dport = static_cast<uint16_t>((l4[2] << 8) | l4[3]);
    PFM_DBG(kMid, "ip frame dport %d", dport);
    bool covered = std::any_of(g_ranges->begin(), g_ranges->end(),
                               [&](const Range &r) { return r.start <= dport && dport <= r.end; });
    if (!covered) {
        PFM_DBG(kMid, "dport not match\r\n");
        return 0;
    }
    uint32_t dip =
        (uint32_t{frame[30]} << 24) | (uint32_t{frame[31]} << 16) | (uint32_t{frame[32]} << 8) | frame[33];
    if (swNetIfConfigGetByIntfIp(dip) == 0) {
        PFM_DBG(kMid, "dip %d is intf ip", static_cast<int>(dip));
        return 0;
    }
    uint8_t mac[MAC_ADDR_SIZE]{};
    getMacAddress(mac);
    if (std::memcmp(frame, mac, MAC_ADDR_SIZE) != 0) {
        PFM_DBG(kMid, "dmac is no our mac");
        return 0;
    }
    return tcpUdpFloodDefend(frame);
}

PC_API void tcpUdpFloodTokenTimer(uintptr_t) {
    if (g_lock == nullptr) return;
    pc::pal::MutexGuard g(g_lock);
    if (g_ranges->empty()) return;
    g_shared_tokens = g_shared_capacity;
    rbtreeTraverseSafe(g_sources, refill_visit, nullptr);
}

PC_API int tcpUdpFloodDefendDportAdd(uint16_t start, uint16_t end) {
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard g(g_lock);
    for (const Range &r : *g_ranges)
        if (r.start == start && r.end == end) return 0;
    if (g_ranges->size() >= FLOOD_DEFEND_RANGE_MAX) return FLOOD_DEFEND_RANGE_FULL;
    g_ranges->push_back({start, end});
    return 0;
}

PC_API int tcpUdpFloodDefendDportDel(uint16_t start, uint16_t end) {
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard g(g_lock);
    auto it = std::find_if(g_ranges->begin(), g_ranges->end(),
                           [&](const Range &r) { return r.start == start && r.end == end; });
    if (it != g_ranges->end()) g_ranges->erase(it);
    return 0;
}

PC_API int tcpUdpFloodDefendDportDelAll(void) {
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard g(g_lock);
    g_ranges->clear();
    return 0;
}

PC_API int tcpUdpFloodDefendDportDelByIndex(uint32_t count, const uint32_t *indexes) {
    if (g_lock == nullptr || (count != 0 && indexes == nullptr)) return -1;
    pc::pal::MutexGuard g(g_lock);
    // Positions are 1-based and name the list as it was before the call.
    std::vector<Range> kept;
    for (size_t i = 0; i < g_ranges->size(); ++i) {
        uint32_t pos = static_cast<uint32_t>(i + 1);
        if (std::find(indexes, indexes + count, pos) == indexes + count) kept.push_back((*g_ranges)[i]);
    }
    *g_ranges = std::move(kept);
    return 0;
}

PC_API int srcCountGet(void) {
    if (g_lock == nullptr) return 0;
    pc::pal::MutexGuard g(g_lock);
    int n = 0;
    rbtreeTraverse(g_sources, count_visit, &n);
    return n;
}

PC_API int tcpUdpFloodDefendDportList(uint16_t *starts, uint16_t *ends, int max) {
    if (g_lock == nullptr) return 0;
    pc::pal::MutexGuard g(g_lock);
    int n = 0;
    for (const Range &r : *g_ranges) {
        if (n >= max) break;
        if (starts) starts[n] = r.start;
        if (ends) ends[n] = r.end;
        ++n;
    }
    return static_cast<int>(g_ranges->size());
}

PC_API int tcpUdpFloodDefendShowTo(AXPACKET_PRINT_FN out, void *ctx) {
    if (out == nullptr || g_lock == nullptr) return -1;
    out(ctx, "Tcp-udp flood cpu defend dport:\r\n");
    out(ctx, "%-10s%-20s%s\r\n", "Index", "Start Port", "End Port");
    pc::pal::MutexGuard g(g_lock);
    int index = 1;
    for (const Range &r : *g_ranges) out(ctx, "%-10d%-20d%d\r\n", index++, r.start, r.end);
    return 0;
}

PC_API int tcpUdpFloodDefendDportCommand(int op, const char *dport, AXPACKET_PRINT_FN out, void *ctx) {
    if (dport == nullptr || out == nullptr) return -1;
    long long start = 0, end = 0;
    // Read as "%d-%d" reads it: two numbers joined by '-', whatever follows
    // them ignored. Wide fields so that no value overflows its reader.
    if (std::sscanf(dport, "%lld-%lld", &start, &end) != 2) {
        out(ctx, " Input error,dport range format:5000-6000.\r\n");
        return -1;
    }
    if (start < 0 || end < 0 || start > 65535 || end > 65535) {
        out(ctx, " Input error,dport should be 0-65535.\r\n");
        return -1;
    }
    if (end < start) {
        out(ctx, " Input error,dport of end must greater or equal to start.\r\n");
        return -1;
    }
    int rc = op == 1 ? tcpUdpFloodDefendDportAdd(static_cast<uint16_t>(start), static_cast<uint16_t>(end))
                     : tcpUdpFloodDefendDportDel(static_cast<uint16_t>(start), static_cast<uint16_t>(end));
    return rc;  // 0, or the table's error code (FLOOD_DEFEND_RANGE_FULL)
}

PC_API int tcpUdpFloodDefendConfigLines(AXPACKET_PRINT_FN out, void *ctx) {
    if (out == nullptr || g_lock == nullptr) return -1;
    pc::pal::MutexGuard g(g_lock);
    for (const Range &r : *g_ranges) out(ctx, "ip cpu-defend tcp-udp-flood dport %d-%d", r.start, r.end);
    return 0;
}

}  // extern "C"
