// Messaging across stack units: the hub's glue to the unit transport.
//
// Frames from another unit (an axmsg header and its payload, as on the
// local sockets) arrive on the transport's thread in axmsg_utp_cb, which
// only checks, copies and queues them; the unit's receive thread
// "axmsg_utp_rx_<unit>" routes them like messages from a local connection.
// A multicast is split into one copy per named unit, queued to the units'
// transmit threads "axmsg_utp_tx_<unit>"; the dispatch waits until every
// queued copy has been sent, because the payload pieces belong to the
// caller.
//
// Per unit a record (g_units, written once at start-up except the
// last-message pair, which only the transport's thread writes). The
// mutex "axmsg_multicast_mutex" serialises multicasts so that the counts
// of "axmsg_multicast_sem" belong to one dispatch.
#include <array>
#include <cstdio>
#include <cstring>

#include "ipc/hub/axmsg_stream.h"
#include "ipc/hub/hub.h"
#include "pal/mutex_guard.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"

namespace {

constexpr uint32_t kMid = MID_AXMSG;
constexpr unsigned kRxQueueDepth = 512;
constexpr unsigned kTxQueueDepth = 5;
constexpr unsigned kThreadStack = 16384;
constexpr unsigned kThreadPriority = 0;
constexpr uint32_t kUtpChannel = 1;

// What the receive queue carries: a block of the "axmsg utp" tag, which the
// receive thread frees.
struct RxItem {
    void *addr;
    uint32_t len;
};

struct UnitRecord {
    void *last_addr = nullptr;  // last message received from the unit
    uint32_t last_len = 0;
    int rxq = -1;
    int txq = -1;
};

std::array<UnitRecord, UNIT_NUM> g_units;
pal_mutex_t g_mcast_mutex = nullptr;
pal_sem_t g_mcast_sem = nullptr;
thread_local bool t_on_tx_thread = false;  // a transmit thread runs this code

unsigned system_queue_depth_limit() {
    unsigned limit = 0;
    if (FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "r")) {
        if (std::fscanf(f, "%u", &limit) != 1) limit = 0;
        std::fclose(f);
    }
    return limit;
}

int open_queue(const char *name, unsigned depth, unsigned size) {
    pal_msgQ_destroy(name);  // never read items left by an earlier process
    int q = pal_msgQ_create(name, depth, size, PAL_MSGQ_RDWR);
    if (q >= 0) return q;
    unsigned limit = system_queue_depth_limit();
    if (limit == 0 || limit >= depth) return -1;
    PFM_WARN(kMid, "Queue %s holds %u items (system limit)", name, limit);
    return pal_msgQ_create(name, limit, size, PAL_MSGQ_RDWR);
}

void rx_entry(void *arg) { axmsg_utp_rx(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg))); }
void tx_entry(void *arg) { axmsg_utp_tx(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg))); }

int start_unit(uint32_t unit) {
    UnitRecord &r = g_units[unit];
    char name[32];
    std::snprintf(name, sizeof name, "/axmsg_utp_rxq_%u", unit);
    r.rxq = open_queue(name, kRxQueueDepth, sizeof(RxItem));
    std::snprintf(name, sizeof name, "/axmsg_utp_txq_%u", unit);
    r.txq = open_queue(name, kTxQueueDepth, sizeof(AXMSG_T));
    if (r.rxq < 0 || r.txq < 0) {
        PFM_ERR(kMid, "create utp queues of unit %u failed", unit);
        return -1;
    }
    void *arg = reinterpret_cast<void *>(uintptr_t{unit});
    std::snprintf(name, sizeof name, "axmsg_utp_rx_%u", unit);
    if (pal_thread_create(name, kThreadStack, kThreadPriority, rx_entry, arg) == PAL_THREAD_INVALID)
        return -1;
    std::snprintf(name, sizeof name, "axmsg_utp_tx_%u", unit);
    if (pal_thread_create(name, kThreadStack, kThreadPriority, tx_entry, arg) == PAL_THREAD_INVALID)
        return -1;
    return 0;
}

bool unit_present(uint32_t unit) {
    return INNER_UP_UNIT_IS_LEGAL(unit) && inner_up_unit_is_valid(unit) && !inner_up_unit_is_provision(unit);
}

}  // namespace

extern "C" {

PC_API int axmsg_utp_init(void) {
    static bool started = false;  // start-up runs on one thread
    if (started) return 0;
    int rc = utp_rx_register(kUtpChannel, axmsg_utp_cb);
    if (rc != 0) PFM_ERR(kMid, "utp_rx_register %d failed", rc);
    g_mcast_mutex = pal_mutex_create("axmsg_multicast_mutex");
    g_mcast_sem = pal_sem_create("axmsg_multicast_sem", 0, 0);
    if (g_mcast_mutex == nullptr || g_mcast_sem == nullptr) return -1;
    for (uint32_t unit = UNIT_1; unit < UNIT_NUM; ++unit)
        if (start_unit(unit) != 0) return -1;
    started = true;
    return 0;
}

PC_API int axmsg_utp_cb(uint32_t unit, uint8_t *buf, uint32_t len) {
    if (!unit_present(unit)) return -1;
    if (buf == nullptr || len < AXMSG_HEADER_LEN) {
        PFM_ERR(kMid, "Incorrect utp packet len=%d", static_cast<int>(len));
        return -1;
    }
    AXMSG_HEADER_T h = pc::ipc::decode_header({buf, len});
    if (uint64_t{h.data_len} + AXMSG_HEADER_LEN != len) {
        PFM_ERR(kMid, "Incorrect utp packet len=%d", static_cast<int>(len));
        return -1;
    }
    PFM_DBG(kMid, "utp get msg from unit %d", static_cast<int>(unit));
    if (!pc::ipc::header_ok(h)) {
        PFM_ERR(kMid, "utp read error marker %d, check 0x%x", static_cast<int>(h.marker),
                static_cast<unsigned>(h.check));
        return -1;
    }
    if (h.dst_unit != stkGetCurrentUnit()) return -1;
    void *copy = pal_alloc(len, "axmsg utp");
    if (copy == nullptr) return -1;
    std::memcpy(copy, buf, len);
    UnitRecord &r = g_units[unit];
    r.last_addr = copy;
    r.last_len = len;
    PFM_DBG(kMid, "utp get pkt len %d", static_cast<int>(len));
    RxItem item{copy, len};
    if (r.rxq < 0 || pal_msgQ_send(r.rxq, &item, sizeof item, 0, PAL_WAIT_FOREVER) != 0) {
        PFM_ERR(kMid, "axmsg send utp to msgq fail %d", r.rxq);
        pal_free(copy);
        return -1;
    }
    return 0;
}

PC_API void axmsg_utp_rx(uint32_t unit) {
    UnitRecord &r = g_units[unit];
    for (;;) {
        RxItem item{};
        unsigned prio = 0;
        if (pal_msgQ_receive(r.rxq, &item, sizeof item, PAL_WAIT_FOREVER, &prio) < 0) {
            pal_usleep(1000);
            continue;
        }
        if (item.len < 1 || item.addr == nullptr) continue;
        if (debugFlagGet(kMid) == 1 && item.len >= AXMSG_HEADER_LEN) {
            AXMSG_HEADER_T h = pc::ipc::decode_header({static_cast<uint8_t *>(item.addr), item.len});
            PFM_DBG(kMid, "utp thread get msg target %d/%d, src %d/%d, type %d, len %d",
                    static_cast<int>(h.dst_unit), static_cast<int>(h.dst_proc), static_cast<int>(h.src_unit),
                    static_cast<int>(h.src_proc), static_cast<int>(h.msg_type), static_cast<int>(h.data_len));
        }
        axmsg_serv_cmd_proc(item.addr, item.len);
        pal_free(item.addr);
    }
}

PC_API void axmsg_utp_tx(uint32_t unit) {
    t_on_tx_thread = true;
    UnitRecord &r = g_units[unit];
    for (;;) {
        AXMSG_T msg{};
        unsigned prio = 0;
        if (pal_msgQ_receive(r.txq, &msg, sizeof msg, PAL_WAIT_FOREVER, &prio) < 0) {
            pal_usleep(1000);
            continue;
        }
        PFM_DBG(kMid, "utp thread tx msg target %d/%d, src %d/%d, type %d, len %d",
                static_cast<int>(msg.dst_unit), static_cast<int>(msg.dst_proc),
                static_cast<int>(msg.src_unit), static_cast<int>(msg.src_proc),
                static_cast<int>(msg.msg_type),
                static_cast<int>(axmsg_get_iov_total_len(msg.iov, msg.iov_num)));
        axmsg_serv_send(&msg);
        pal_sem_give(g_mcast_sem);
    }
}

PC_API int axmsg_serv_mult_dispatch(AXMSG_T *msg) {
    if (msg == nullptr) return -1;
    // A handler run by a transmit thread that multicasts again sends on its
    // own thread: waiting for the transmit threads there would wait for
    // itself.
    bool direct = t_on_tx_thread || g_mcast_mutex == nullptr;
    if (direct) {
        for (uint32_t u = UNIT_1; u < UNIT_NUM; ++u) {
            if (!unit_present(u) || (msg->dst_unit & pc::ipc::unit_bit(u)) == 0) continue;
            AXMSG_T copy = *msg;
            copy.dst_unit = u;
            axmsg_serv_send(&copy);
        }
        return 0;
    }
    pc::pal::MutexGuard guard(g_mcast_mutex);
    int queued = 0;
    for (uint32_t u = UNIT_1; u < UNIT_NUM; ++u) {
        if (!unit_present(u) || (msg->dst_unit & pc::ipc::unit_bit(u)) == 0) continue;
        AXMSG_T copy = *msg;
        copy.dst_unit = u;
        if (g_units[u].txq >= 0 && pal_msgQ_send(g_units[u].txq, &copy, sizeof copy, 0, 0) == 0) ++queued;
    }
    for (int i = 0; i < queued; ++i) pal_sem_take(g_mcast_sem, PAL_WAIT_FOREVER);
    return 0;
}

}  // extern "C"
