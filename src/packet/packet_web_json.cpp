// The packet service's JSON pages for the web server: CPU traffic (the
// registrations with their hit counts, the traffic counters and rates, the
// per-queue counters and the CPU traffic-control entries) and the flood
// defence's ranges. Each is a management function run with the request's
// variables in the shared pools; the answer goes through the web relay.
#ifdef PC_HAVE_JSONC

#include <atomic>
#include <cstdio>

#include "mgmt/web/web_json.h"
#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "pktctl/pktctl.h"
#include "platform_core/aximi.h"
#include "platform_core/pktctl.h"
#include "platform_core/platform.h"
#include "platform_core/web_pages.h"

namespace pc::packet {

namespace {

using pc::mgmt::web::add_child;
using pc::mgmt::web::add_u64;
using pc::mgmt::web::Json;

constexpr uint32_t kCpuQueues = AXPKT_STAT_QUEUE_NUM;
constexpr const char *kRateKeys[] = {"rxPps", "txPps", "toKernelPps", "fromKernelPps"};

uint32_t stat_word(uint32_t w) {
    return std::atomic_ref<uint32_t>(axpkt_stat[w]).load(std::memory_order_relaxed);
}

Json registrations() {
    Json list(jsonObjectNewArray());
    for (uint32_t i = 0; i < AXPKT_TBL_NUM; ++i) {
        RuleTable &t = rule_table(i);
        if (t.mutex == nullptr) continue;
        pc::pal::MutexGuard g(t.mutex);
        for (const PACKET_REGIST_T *c = t.head; c != nullptr; c = c->next) {
            Json r(jsonObjectNewObject());
            jsonObjectAddString(r.get(), "table", kTableNames[i]);
            jsonObjectAddString(r.get(), "name", c->name);
            jsonObjectAddInt(r.get(), "mid", static_cast<int>(c->mid));
            jsonObjectAddInt(r.get(), "pid", static_cast<int>(c->pid));
            jsonObjectAddInt(r.get(), "enabled", c->enabled != 0 ? 1 : 0);
            jsonObjectAddInt(r.get(), "owned", c->own == AX_RX_OWNED ? 1 : 0);
            jsonObjectAddInt(r.get(), "priority", static_cast<int>(c->priority));
            jsonObjectAddInt(r.get(), "qosRate", static_cast<int>(c->qosRate));
            add_u64(r.get(), "hits", c->hitCount);
            add_child(list.get(), nullptr, std::move(r));
        }
    }
    return list;
}

Json counters() {
    Json c(jsonObjectNewObject());
    add_u64(c.get(), "rx", axpacketStatGet(AXPKT_STAT_RX));
    add_u64(c.get(), "tx", axpacketStatGet(AXPKT_STAT_TX));
    add_u64(c.get(), "toKernel", axpacketStatGet(AXPKT_STAT_TO_KERNEL));
    add_u64(c.get(), "fromKernel", axpacketStatGet(AXPKT_STAT_FROM_KERNEL));
    const bool ratesOn = stat_word(AXPKT_STAT_RATE_ENABLE) != 0;
    jsonObjectAddInt(c.get(), "ratesEnabled", ratesOn ? 1 : 0);
    for (uint32_t i = 0; i < 4; ++i)
        add_u64(c.get(), kRateKeys[i], ratesOn ? stat_word(AXPKT_STAT_RATE + i) : 0);
    Json queues(jsonObjectNewArray());
    for (uint32_t q = 0; q < kCpuQueues; ++q) {
        Json n(json_object_new_int64(static_cast<int64_t>(axpacketStatGet(AXPKT_STAT_QUEUE + 2 * q))));
        add_child(queues.get(), nullptr, std::move(n));
    }
    add_child(c.get(), "queues", std::move(queues));
    return c;
}

Json control_entries() {
    Json list(jsonObjectNewArray());
    pal_mutex_t lock = pc::pktctl::table_lock();
    if (lock == nullptr) return list;
    pc::pal::MutexGuard g(lock);
    for (uint32_t i = 0; i < axPktCtlEntryCount && i < PKT_CTL_ENTRY_MAX; ++i) {
        const PKT_CTL_ENTRY_T &e = axPktCtlEntry[i];
        Json r(jsonObjectNewObject());
        char name[PKT_CTL_NAME_LEN + 1] = {};
        std::snprintf(name, sizeof name, "%.*s", PKT_CTL_NAME_LEN, e.name);
        jsonObjectAddString(r.get(), "name", name);
        jsonObjectAddString(r.get(), "type", axPktCtlTypeName(e.type));
        jsonObjectAddInt(r.get(), "speed", static_cast<int>(e.speed));
        jsonObjectAddInt(r.get(), "enabled", e.isEnable != 0 ? 1 : 0);
        jsonObjectAddInt(r.get(), "action", static_cast<int>(e.action));
        jsonObjectAddInt(r.get(), "position", static_cast<int>(e.pos));
        add_child(list.get(), nullptr, std::move(r));
    }
    return list;
}

int cpu_traffic_page(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    Json root(jsonObjectNewObject());
    if (root == nullptr) return -1;
    add_child(root.get(), "registrations", registrations());
    add_child(root.get(), "counters", counters());
    add_child(root.get(), "controlEntries", control_entries());
    return pc::mgmt::web::send_json(root.get());
}

int flood_page(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    uint16_t starts[FLOOD_DEFEND_RANGE_MAX], ends[FLOOD_DEFEND_RANGE_MAX];
    int count = tcpUdpFloodDefendDportList(starts, ends, FLOOD_DEFEND_RANGE_MAX);
    if (count > FLOOD_DEFEND_RANGE_MAX) count = FLOOD_DEFEND_RANGE_MAX;
    Json root(jsonObjectNewObject());
    Json ranges(jsonObjectNewArray());
    if (root == nullptr || ranges == nullptr) return -1;
    for (int i = 0; i < count; ++i) {
        Json r(jsonObjectNewObject());
        jsonObjectAddInt(r.get(), "index", i + 1);
        jsonObjectAddInt(r.get(), "start", starts[i]);
        jsonObjectAddInt(r.get(), "end", ends[i]);
        add_child(ranges.get(), nullptr, std::move(r));
    }
    jsonObjectAddInt(root.get(), "max", FLOOD_DEFEND_RANGE_MAX);
    add_child(root.get(), "ranges", std::move(ranges));
    return pc::mgmt::web::send_json(root.get());
}

}  // namespace

int register_json_pages() {
    int rc = axImiRegisterFunc(AXHTTP_PAGE_CPU, cpu_traffic_page, IMI_EXEC_MASTER_ONLY);
    if (rc == 0) rc = axImiRegisterFunc(AXHTTP_PAGE_FLOOD, flood_page, IMI_EXEC_MASTER_ONLY);
    if (rc != 0) PFM_CALL_FAILED(kMid, rc, "axImiRegisterFunc(AXHTTP_PAGE_CPU/AXHTTP_PAGE_FLOOD)");
    return rc;
}

}  // namespace pc::packet

#else

namespace pc::packet {
int register_json_pages() { return 0; }
}  // namespace pc::packet

#endif
