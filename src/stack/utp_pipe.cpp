// The unit transport's pipes: creating them, their client and server
// threads, the receive entry from the packet service, the units' state and
// the C interface (see utp_pipe.h and platform_core/utp.h). The sending half
// is in utp_sender.cpp, the traces in utp_trace.cpp.
#include "stack/utp_pipe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"

namespace pc::stack::utp {

// The pipes live as long as the process: their threads never end, so
// nothing may tear them down at exit.
std::array<Pipe, UNIT_NUM> &g_pipes = *new std::array<Pipe, UNIT_NUM>;
pal_mutex_t g_chip_mux = nullptr;  // "utpChipMux"

namespace {

constexpr uint32_t kMid = MID_UTP;
constexpr unsigned kThreadStack = 0x10000;
constexpr unsigned kThreadPriority = 40;
constexpr unsigned kDisabledWaitMs = 1000;  // a disabled pipe's threads look again this often
constexpr const char *kUnitCheck = "(unit < UNIT_NUM)&&(unit >= UNIT_1)";

pal_mutex_t g_pipe_mux = nullptr;  // "utpPipeMux"

}  // namespace

bool unit_ok(uint32_t unit) {
    if (unit < UNIT_NUM && unit >= UNIT_1) return true;
    PFM_ENSURE_FAILED(kMid, kUnitCheck);
    return false;
}

Pipe *pipe_of(uint32_t unit) {
    if (!unit_ok(unit)) return nullptr;
    Pipe &p = g_pipes[unit];
    return p.created ? &p : nullptr;
}

namespace {

// ---- threads -----------------------------------------------------------------

void client_thread(void *arg) {
    Pipe &p = *static_cast<Pipe *>(arg);
    uint8_t frame[UTP_FRAME_MAX];
    for (;;) {
        if (!enabled(p)) {
            pal_sem_take(p.client_wake, kDisabledWaitMs);
            continue;
        }
        int len = p.send.ack_q.pop(frame);
        if (len < static_cast<int>(UTP_FRAME_HDR_LEN)) continue;
        auto ack = read_frame_header({frame, static_cast<size_t>(len)});
        if (!ack || ack->type != UTP_FRAME_ACK) continue;
        dump_running(p.unit, stkGetCurrentUnit(), {frame, static_cast<size_t>(len)});
        apply_ack(p, *ack);
    }
}

void server_thread(void *arg) {
    Pipe &p = *static_cast<Pipe *>(arg);
    uint8_t frame[UTP_FRAME_MAX];
    uint32_t seen_epoch = p.epoch.load();
    for (;;) {
        if (!enabled(p)) {
            p.recv.rx->reset();
            pal_sem_take(p.server_wake, kDisabledWaitMs);
            continue;
        }
        int len = p.recv.data_q.pop(frame);
        if (len <= 0) continue;
        if (uint32_t e = p.epoch.load(); e != seen_epoch) {
            seen_epoch = e;
            p.recv.rx->reset();
        }
        if (!enabled(p)) continue;
        dump_running(p.unit, stkGetCurrentUnit(), {frame, static_cast<size_t>(len)});
        p.recv.rx->handle({frame, static_cast<size_t>(len)});
    }
}

int create_pipe(uint32_t unit) {
    Pipe &p = g_pipes[unit];
    if (p.created) return 0;
    p.unit = unit;
    p.state.store(UTP_UNIT_DISABLE);
    SendMng &s = p.send;
    s.frame_buf = static_cast<uint8_t *>(pal_calloc(1, UTP_FRAME_MAX, "utp"));
    s.merge_buf = static_cast<uint8_t *>(pal_calloc(1, FRAME_DATA_LEN, "utp"));
    s.win = static_cast<WinEntry *>(pal_calloc(FRAME_WIN_SIZE, sizeof(WinEntry), "utp"));
    s.win_lock = pal_mutex_create("utpWinMux");
    p.client_wake = pal_sem_create("utpClientWake", 0, 0);
    p.server_wake = pal_sem_create("utpServerWake", 0, 0);
    if (p.client_wake == nullptr || p.server_wake == nullptr) return -1;
    if (s.frame_buf == nullptr || s.merge_buf == nullptr || s.win == nullptr || s.win_lock == nullptr) {
        PFM_ERR(kMid, "createUtpPipe malloc fail\n");
        return -1;
    }
    if (s.ack_q.init(FRAME_BUFF_SIZE) != 0) {
        PFM_CALL_FAILED(kMid, -1,
                        "utp_que_init(&(g_unitPipeMng[unit].stSendMng.stRecvCatch), FRAME_BUFF_SIZE)");
        return -1;
    }
    if (p.recv.data_q.init(FRAME_BUFF_SIZE) != 0) {
        PFM_CALL_FAILED(kMid, -1,
                        "utp_que_init(&(g_unitPipeMng[unit].stRecvMng.stRecvCatch), FRAME_BUFF_SIZE)");
        return -1;
    }
    void *mem = pal_alloc(sizeof(Receiver), "utp");
    if (mem == nullptr) return -1;
    p.recv.rx = new (mem) Receiver(
        [unit](uint32_t sno, uint32_t txnid, uint32_t result) { send_ack(unit, sno, txnid, result); },
        [&p](uint8_t *data, uint32_t len) {
            dump_data("recv msg", data, len);
            if (utp_rx_cb_t cb = p.recv.cb.load(); cb != nullptr) cb(p.unit, data, len);
        });
    char name[32];
    std::snprintf(name, sizeof name, "utp_c_r_%u", unit);
    if (pal_thread_create(name, kThreadStack, kThreadPriority, client_thread, &p) == PAL_THREAD_INVALID)
        return -1;
    std::snprintf(name, sizeof name, "utp_s_r_%u", unit);
    if (pal_thread_create(name, kThreadStack, kThreadPriority, server_thread, &p) == PAL_THREAD_INVALID)
        return -1;
    p.created = true;
    return 0;
}

}  // namespace
}  // namespace pc::stack::utp

using namespace pc::stack::utp;

extern "C" {

PC_API int utp_initiation(void) {
    static pal_mutex_t pipe_mux = pal_mutex_create("utpPipeMux");
    static pal_mutex_t chip_mux = pal_mutex_create("utpChipMux");
    g_pipe_mux = pipe_mux;
    g_chip_mux = chip_mux;
    if (g_pipe_mux == nullptr || g_chip_mux == nullptr) return -1;
    pc::pal::MutexGuard guard(g_pipe_mux);
    if (create_pipe(UNIT_1) != 0) {
        PFM_ERR(kMid, "create unit%d fail!\n", UNIT_1);
        return -1;
    }
    return 0;
}

PC_API int utp_isEnable(void) { return 1; }

PC_API int utp_reg_axpacket(void) {
    return axpacketReceiveRegisterForUtp(utp_rx, utp_isEnable, UTP_ETHERTYPE, FRAME_BUFF_SIZE) == 0 ? 0 : -1;
}

PC_API int utp_rx_register(uint32_t unit, utp_rx_cb_t cb) {
    if (!unit_ok(unit)) return -1;
    g_pipes[unit].recv.cb.store(cb);
    return 0;
}

PC_API int utp_rx(AX_PACKET_T *pkt) {
    if (!((NULL != pkt) && (pkt->rx_unit < UNIT_NUM) && (pkt->rx_unit >= UNIT_1) && (NULL != pkt->data))) {
        PFM_ENSURE_FAILED(kMid,
                          "(NULL != pkt) && (pkt->recvUnit < UNIT_NUM)&&(pkt->recvUnit >= UNIT_1) && "
                          "(NULL != pkt->packet)");
        return -1;
    }
    Pipe *p = pipe_of(pkt->rx_unit);
    if (p == nullptr || !enabled(*p)) return -1;
    if (pkt->len < UTP_ETH_HDR_LEN + UTP_FRAME_HDR_LEN) return -1;
    std::span<const uint8_t> frame(pkt->data + UTP_ETH_HDR_LEN,
                                   std::min<uint32_t>(pkt->len - UTP_ETH_HDR_LEN, UTP_FRAME_MAX));
    switch (frame[0]) {
        case UTP_FRAME_DATA: {
            DataFrame f;
            DataCheck c = read_data_frame(frame, &f);
            if (c != DataCheck::ok) {
                PFM_DBG(kMid, "refused data frame: %s\n", data_check_text(c));
                return -1;
            }
            return p->recv.data_q.push(frame);
        }
        case UTP_FRAME_ACK:
            return p->send.ack_q.push(frame.first(UTP_FRAME_HDR_LEN));
        default:
            return -1;
    }
}

PC_API int utp_recv(uint32_t unit, uint32_t type, uint8_t *out) {
    Pipe *p = pipe_of(unit);
    if (p == nullptr || out == nullptr) return -1;
    if (type == UTP_FRAME_DATA) return p->recv.data_q.pop(out);
    if (type == UTP_FRAME_ACK) return p->send.ack_q.pop(out);
    PFM_ERR(kMid, "frame type error!\n");
    return -1;
}

PC_API int utp_setunitstate(uint32_t unit, uint32_t state) {
    if (!unit_ok(unit)) return -1;
    Pipe &p = g_pipes[unit];
    {
        pc::pal::MutexGuard guard(g_pipe_mux);
        if (!p.created) return -1;
        if (p.state.load() == state) return 0;
        p.state.store(state);
        p.epoch.fetch_add(1);
        {
            pc::pal::MutexGuard win(p.send.win_lock);
            if (state == UTP_UNIT_DISABLE)
                clear_window(p.send);
            else
                stop_resend_timer(p.send);
        }
        if (state == UTP_UNIT_DISABLE) {
            p.send.ack_q.clear();
            p.recv.data_q.clear();
        } else {
            pal_sem_give(p.client_wake);
            pal_sem_give(p.server_wake);
        }
    }
    // A sender waiting for an acknowledgement sees the new state and gives
    // up the send lock.
    pc::pal::MutexGuard chip(g_chip_mux);
    stop_merge_timer(p.send);
    p.send.merge_count = 0;
    return 0;
}

PC_API uint32_t utp_getunitstate(uint32_t unit) {
    if (unit < UNIT_1 || unit > UNIT_NUM) return 0;
    return unit < UNIT_NUM ? g_pipes[unit].state.load() : 0;
}

PC_API uint32_t utp_getCurTxnId(uint32_t unit) {
    if (!unit_ok(unit)) return 0;
    return g_pipes[unit].send.cur_txn.load();
}

PC_API int utp_setCurTxnId(uint32_t id, uint32_t unit) {
    if (!unit_ok(unit)) return -1;
    g_pipes[unit].send.cur_txn.store(id % UTP_TXN_ID_NUM);
    return 0;
}

PC_API void *utp_getSendMng(uint32_t unit) { return unit_ok(unit) ? &g_pipes[unit].send : nullptr; }
PC_API void *utp_getRecvMng(uint32_t unit) { return unit_ok(unit) ? &g_pipes[unit].recv : nullptr; }

}  // extern "C"
