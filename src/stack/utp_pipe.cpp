// The unit transport: pipes, sending, the window, the client and server
// threads and the C interface (see utp_pipe.h and platform_core/utp.h).
#include "stack/utp_pipe.h"

#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"

namespace pc::stack::utp {
namespace {

constexpr uint32_t kMid = MID_UTP;
constexpr unsigned kThreadStack = 0x10000;
constexpr unsigned kThreadPriority = 40;
constexpr unsigned kFrameGapUs = 100;
constexpr unsigned kAckPollUs = 100;
constexpr unsigned kDisabledWaitMs = 1000;  // a disabled pipe's threads look again this often
constexpr uint32_t kResendLogEvery = 61;
constexpr long kMergeFlushNs = 10'000'000;
constexpr const char *kUnitCheck = "(unit < UNIT_NUM)&&(unit >= UNIT_1)";

// The pipes live as long as the process: their threads never end, so
// nothing may tear them down at exit.
std::array<Pipe, UNIT_NUM> &g_pipes = *new std::array<Pipe, UNIT_NUM>;
pal_mutex_t g_pipe_mux = nullptr;  // "utpPipeMux"
pal_mutex_t g_chip_mux = nullptr;  // "utpChipMux"
std::atomic<utp_link_tx_t> g_link_tx{nullptr};
std::atomic<void *> g_link_ctx{nullptr};
std::atomic<uint32_t> g_debug{0};
std::atomic<uint32_t> g_resend_log_count{0};  // shared by all units
std::atomic<uint32_t> g_resends{0};

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

bool enabled(const Pipe &p) { return p.state.load() == UTP_UNIT_ENABLE; }

// ---- traces ----------------------------------------------------------------

void dump_time() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::printf("%10d.", static_cast<int>(tv.tv_sec));
    std::printf("%10d  ", static_cast<int>(tv.tv_usec));
}

void dump_running(uint32_t from, uint32_t to, std::span<const uint8_t> f) {
    if (g_debug.load() == 0) return;
    dump_time();
    std::printf("unit%d ->unit%d  ", static_cast<int>(from), static_cast<int>(to));
    auto fh = read_frame_header(f);
    if (fh && fh->type == UTP_FRAME_DATA && f.size() >= kDataHdrLen)
        std::printf("D.  txn:%04d  stat:%d  serno:%04d\n", static_cast<int>(get32(&f[UTP_FRAME_HDR_LEN])),
                    static_cast<int>(fh->framestat), static_cast<int>(fh->sno));
    else if (fh && fh->type == UTP_FRAME_ACK)
        std::printf("A.  txn:%04d  rst:%d  serno:%04d\n", static_cast<int>(fh->txnnum),
                    static_cast<int>(fh->framestat), static_cast<int>(fh->sno));
    else
        std::printf("U.  txn: --   stat:-   serno: --\n");
}

void dump_data(const char *title, const uint8_t *data, uint32_t len) {
    if (g_debug.load() < 2) return;
    if (title != nullptr) std::printf("%s\n", title);
    for (uint32_t i = 0; i < len; ++i)
        std::printf("%02x%s", data[i], (i % 32 == 31 || i + 1 == len) ? "\n" : "");
}

// ---- the link --------------------------------------------------------------

int link_send(uint32_t unit, const uint8_t *frame, uint32_t len) {
    dump_running(stkGetCurrentUnit(), unit, {frame, len});
    if (utp_link_tx_t tx = g_link_tx.load(); tx != nullptr) return tx(unit, frame, len, g_link_ctx.load());
    uint8_t buf[UTP_ETH_HDR_LEN + UTP_FRAME_MAX];
    stkGetMac(unit, buf);
    stkGetMac(stkGetCurrentUnit(), buf + 6);
    buf[12] = static_cast<uint8_t>(UTP_ETHERTYPE >> 8);
    buf[13] = static_cast<uint8_t>(UTP_ETHERTYPE & 0xFF);
    std::memcpy(buf + UTP_ETH_HDR_LEN, frame, len);
    AX_PACKET_T pkt{};
    pkt.data = buf;
    pkt.len = UTP_ETH_HDR_LEN + len;
    pkt.rx_unit = static_cast<uint8_t>(unit);
    return axpacketSendForUtp(&pkt);
}

void send_ack(uint32_t unit, uint32_t sno, uint32_t txnid, uint32_t result) {
    uint8_t ack[UTP_FRAME_HDR_LEN];
    write_frame_header(ack, FrameHeader{UTP_FRAME_ACK, sno, txnid, result});
    if (link_send(unit, ack, sizeof ack) != 0) PFM_ERR(kMid, "sent frame err!!!\n");
}

// ---- the window ------------------------------------------------------------

// Caller holds win_lock.
void stop_resend_timer(SendMng &s) {
    if (s.resend_timer.name[0] != '\0') del_timer(s.resend_timer);
    s.resend_timer = timer_id_t{};
}

// Caller holds win_lock.
void clear_window(SendMng &s) {
    stop_resend_timer(s);
    for (uint32_t i = 0; i < FRAME_WIN_SIZE; ++i) s.win[i].used = 0;
}

void resend_timer_cb(uintptr_t arg) {
    uint32_t unit = static_cast<uint32_t>(arg >> 8);
    uint32_t idx = static_cast<uint32_t>(arg & 0xFF);
    if (unit >= UNIT_NUM || !g_pipes[unit].created) return;
    Pipe &p = g_pipes[unit];
    uint8_t frame[UTP_FRAME_MAX];
    uint32_t len = 0;
    uint32_t sno = 0;
    {
        pc::pal::MutexGuard guard(p.send.win_lock);
        if (!enabled(p)) {
            stop_resend_timer(p.send);
            return;
        }
        const WinEntry &e = p.send.win[idx];
        if (!e.used) {
            PFM_ERR(kMid, "get node fail!\n");
            return;
        }
        if (e.framestat != UTP_STAT_ASK_ACK) return;
        len = e.len;
        sno = e.sno;
        std::memcpy(frame, e.bytes, len);
    }
    g_resends.fetch_add(1);
    if (g_resend_log_count.fetch_add(1) + 1 >= kResendLogEvery) {
        g_resend_log_count.store(0);
        PFM_ERR(kMid, "utp_TimerCallback  unit_%d nIdx_%d sno %d\n", static_cast<int>(unit),
                static_cast<int>(idx), static_cast<int>(sno));
    }
    link_send(unit, frame, len);
}

// `frame` has room for UTP_FRAME_MAX bytes, `len` of them used: a data
// frame goes out at its full size, zero after the data, as every unit
// sends it (receivers take frames of either size).
int win_move(Pipe &p, uint32_t block, uint32_t sno, uint8_t *frame, uint32_t len, bool last) {
    SendMng &s = p.send;
    if (len > UTP_FRAME_MAX) return -1;
    std::memset(frame + len, 0, UTP_FRAME_MAX - len);
    len = UTP_FRAME_MAX;
    uint32_t idx = sno - FRAME_WIN_SIZE * block;
    if (idx >= FRAME_WIN_SIZE) {
        PFM_ENSURE_FAILED(kMid, "(Idx >= 0) &&(Idx < FRAME_WIN_SIZE)");
        return -1;
    }
    bool ask = idx == FRAME_WIN_SIZE - 1 || last;
    uint32_t stat = ask ? UTP_STAT_ASK_ACK : UTP_STAT_SENT;
    put32(frame + 12, stat);
    {
        pc::pal::MutexGuard guard(s.win_lock);
        s.block = block;
        WinEntry &e = s.win[idx];
        e.used = 1;
        e.framestat = stat;
        e.txnid = get32(frame + UTP_FRAME_HDR_LEN);
        e.sno = sno;
        e.len = len;
        std::memcpy(e.bytes, frame, len);
        if (ask) {
            stop_resend_timer(s);
            char name[TIMER_NAME_LEN];
            std::snprintf(name, sizeof name, "utptimer_%u", p.unit);
            timespec period{1, 0};
            s.resend_timer = add_timer(name, &period, resend_timer_cb, (uintptr_t{p.unit} << 8) | idx,
                                       TIMER_MODE_PERIODIC);
        }
    }
    link_send(p.unit, frame, len);
    if (!ask) return 0;
    for (;;) {
        {
            pc::pal::MutexGuard guard(s.win_lock);
            if (!enabled(p)) {
                clear_window(s);
                PFM_ERR(kMid, "unit_%d pipe is disable", static_cast<int>(p.unit));
                return -1;
            }
            if (s.win[0].used && s.win[0].framestat == UTP_STAT_ACKED) {
                clear_window(s);
                return 0;
            }
        }
        pal_usleep(kAckPollUs);
    }
}

void apply_ack(Pipe &p, const FrameHeader &ack) {
    SendMng &s = p.send;
    uint8_t frame[UTP_FRAME_MAX];
    uint32_t len = 0;
    {
        pc::pal::MutexGuard guard(s.win_lock);
        WinEntry &e0 = s.win[0];
        switch (ack.framestat) {
            case UTP_ACK_COMPLETE:
            case UTP_ACK_UPTO:
                if (e0.used && e0.txnid == ack.txnnum && ack.sno >= e0.sno) {
                    stop_resend_timer(s);
                    e0.framestat = UTP_STAT_ACKED;
                }
                return;
            case UTP_ACK_RESEND: {
                if (g_debug.load() != 0)
                    std::printf("recv ACK_RESEND txnid %d, sno %d\n", static_cast<int>(ack.txnnum),
                                static_cast<int>(ack.sno));
                if (!e0.used) return;
                if (e0.txnid != ack.txnnum) {
                    PFM_DBG(kMid, "chgframestat cur txnid %d, reset ack txnid %d\n",
                            static_cast<int>(e0.txnid), static_cast<int>(ack.txnnum));
                    return;
                }
                uint32_t idx = ack.sno - FRAME_WIN_SIZE * s.block;
                if (ack.sno < FRAME_WIN_SIZE * s.block || idx >= FRAME_WIN_SIZE || !s.win[idx].used) return;
                len = s.win[idx].len;
                std::memcpy(frame, s.win[idx].bytes, len);
                break;
            }
            default:
                return;
        }
    }
    put32(frame + 12, UTP_STAT_RESENT);
    g_resends.fetch_add(1);
    link_send(p.unit, frame, len);
}

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

// ---- merging and sending -------------------------------------------------------

// Caller holds utpChipMux.
void stop_merge_timer(SendMng &s) {
    if (s.merge_timer.name[0] != '\0') del_timer(s.merge_timer);
    s.merge_timer = timer_id_t{};
}

// Sends the waiting merged messages as one transaction; caller holds
// utpChipMux.
int flush_merged(Pipe &p) {
    SendMng &s = p.send;
    stop_merge_timer(s);
    if (s.merge_count == 0) return 0;
    uint32_t len = s.merge_count * UTP_MERGE_REC_LEN;
    uint8_t *f = s.frame_buf;
    write_frame_header(f, FrameHeader{UTP_FRAME_DATA, 0, s.merge_count, 0});
    write_txn_header(f + UTP_FRAME_HDR_LEN, TxnHeader{s.cur_txn.load(), 1, 1, len, 1});
    std::memcpy(f + kDataHdrLen, s.merge_buf, len);
    s.merge_count = 0;
    if (win_move(p, 0, 0, f, static_cast<uint32_t>(kDataHdrLen + len), true) != 0) {
        PFM_ERR(kMid, "utp_FrameWinMove fail!\n");
        return -1;
    }
    return 0;
}

void merge_timer_cb(uintptr_t arg) {
    uint32_t unit = static_cast<uint32_t>(arg);
    if (unit >= UNIT_NUM || !g_pipes[unit].created) {
        PFM_ERR(kMid, "get unit_%d sendmng fail", static_cast<int>(unit));
        return;
    }
    Pipe &p = g_pipes[unit];
    pc::pal::MutexGuard guard(g_chip_mux);
    if (!enabled(p)) {
        stop_merge_timer(p.send);
        return;
    }
    flush_merged(p);
}

// Caller holds utpChipMux.
void merge_add(Pipe &p, const uint8_t *msg, uint32_t len) {
    SendMng &s = p.send;
    if (s.merge_count >= UTP_MERGE_MAX) return;
    if (s.merge_count == 0) {
        char name[TIMER_NAME_LEN];
        std::snprintf(name, sizeof name, "utpchiptm_%u", p.unit);
        timespec period{0, kMergeFlushNs};
        s.merge_timer = add_timer(name, &period, merge_timer_cb, p.unit, TIMER_MODE_PERIODIC);
    }
    uint8_t *rec = s.merge_buf + s.merge_count * UTP_MERGE_REC_LEN;
    std::memset(rec, 0, UTP_MERGE_REC_LEN);
    put32(rec, len);
    std::memcpy(rec + 4, msg, len);
    ++s.merge_count;
}

// Copies `want` bytes of the pieces, from piece *i at offset *off, to out.
void gather(const struct iovec *iov, int num, int *i, size_t *off, uint8_t *out, uint32_t want) {
    while (want > 0 && *i < num) {
        size_t avail = iov[*i].iov_len - *off;
        size_t n = std::min<size_t>(avail, want);
        if (n > 0) std::memcpy(out, static_cast<const uint8_t *>(iov[*i].iov_base) + *off, n);
        out += n;
        want -= static_cast<uint32_t>(n);
        *off += n;
        if (*off == iov[*i].iov_len) {
            ++*i;
            *off = 0;
        }
    }
    if (*i >= num) PFM_DBG(kMid, "end of the pieces");
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

PC_API int utp_link_set(utp_link_tx_t tx, void *ctx) {
    g_link_ctx.store(ctx);
    g_link_tx.store(tx);
    return 0;
}

PC_API uint32_t utp_resend_count(void) { return g_resends.load(); }

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

PC_API int utp_sendmsg(uint32_t unit, const struct iovec *iov, int num) {
    if (!unit_ok(unit)) return -1;
    if (iov == nullptr || num < 1) {
        PFM_ERR(kMid, "para error");
        return -1;
    }
    Pipe *p = pipe_of(unit);
    if (p == nullptr || !enabled(*p)) {
        PFM_ERR(kMid, "unit_%d pipe is disable", static_cast<int>(unit));
        return -1;
    }
    SendMng &s = p->send;
    if (s.frame_buf == nullptr || s.merge_buf == nullptr) {
        PFM_ERR(kMid, "unit_%d malloc fail", static_cast<int>(unit));
        return -1;
    }
    uint64_t total64 = 0;
    for (int i = 0; i < num; ++i) {
        if (iov[i].iov_base == nullptr && iov[i].iov_len != 0) {
            PFM_ERR(kMid, "para error");
            return -1;
        }
        total64 += iov[i].iov_len;
    }
    if (total64 > UTP_MSG_MAX_LEN) {
        PFM_ERR(kMid, "message too large %llu\n", static_cast<unsigned long long>(total64));
        return -1;
    }
    auto total = static_cast<uint32_t>(total64);
    pc::pal::MutexGuard guard(g_chip_mux);
    uint32_t frames = std::max<uint32_t>(1, (total + UTP_FRAME_PAYLOAD - 1) / UTP_FRAME_PAYLOAD);
    uint32_t txnid = (s.cur_txn.load() + 1) % UTP_TXN_ID_NUM;
    int piece = 0;
    size_t off = 0;
    if (total < UTP_SMALL_MSG_LEN) {
        uint8_t small[UTP_SMALL_MSG_LEN];
        gather(iov, num, &piece, &off, small, total);
        if (s.merge_count == 0) s.cur_txn.store(txnid);
        merge_add(*p, small, total);
        if (s.merge_count >= UTP_MERGE_MAX && flush_merged(*p) != 0) return -1;
        return 0;
    }
    if (s.merge_count > 0) {
        if (flush_merged(*p) != 0) {
            PFM_ERR(kMid, "utp_installPacket fail!\n");
            return -1;
        }
        txnid = (s.cur_txn.load() + 1) % UTP_TXN_ID_NUM;
    }
    s.cur_txn.store(txnid);
    for (uint32_t i = 0; i < frames; ++i) {
        bool last = i + 1 == frames;
        uint32_t len = last ? total - i * UTP_FRAME_PAYLOAD : UTP_FRAME_PAYLOAD;
        uint8_t *f = s.frame_buf;
        write_frame_header(f, FrameHeader{UTP_FRAME_DATA, i, 0, 0});
        write_txn_header(f + UTP_FRAME_HDR_LEN, TxnHeader{txnid, 0, static_cast<uint8_t>(last), len, frames});
        if (!enabled(*p)) {
            PFM_ERR(kMid, "unit_%d pipe is disable", static_cast<int>(unit));
            return -1;
        }
        gather(iov, num, &piece, &off, f + kDataHdrLen, len);
        if (win_move(*p, i / FRAME_WIN_SIZE, i, f, static_cast<uint32_t>(kDataHdrLen + len), last) != 0) {
            PFM_ERR(kMid, "utp_FrameWinMove fail!\n");
            return -1;
        }
        if (!last) pal_usleep(kFrameGapUs);
    }
    return 0;
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
PC_API uint32_t utp_debug_flag(void) { return g_debug.load(); }
PC_API void utp_debug_flag_set(uint32_t level) { g_debug.store(level); }

PC_API int utp_dump_queue(uint32_t unit) {
    Pipe *p = pipe_of(unit);
    if (p == nullptr) return -1;
    std::printf("unit_%d stSendMng.stWin\n", static_cast<int>(unit));
    std::printf("[print queue]:\n");
    {
        pc::pal::MutexGuard guard(p->send.win_lock);
        for (uint32_t i = 0; i < FRAME_WIN_SIZE; ++i) {
            const WinEntry &e = p->send.win[i];
            if (!e.used) continue;
            std::printf("frametype:%d, framestat:%d ,sno:%d, txnnum:%d, txnid:%d\n", e.bytes[0],
                        static_cast<int>(e.framestat), static_cast<int>(e.sno),
                        static_cast<int>(get32(e.bytes + 8)), static_cast<int>(e.txnid));
        }
    }
    std::printf("unit_%d stSendMng.stRecvCatch\n", static_cast<int>(unit));
    p->send.ack_q.print();
    std::printf("unit_%d stRecvMng.stRecvCatch\n", static_cast<int>(unit));
    p->recv.data_q.print();
    return 0;
}

}  // extern "C"
