// The sender of the unit transport: utp_sendmsg cuts a message into frames
// for the window (utp_window.cpp) or merges a small one with others; and
// the link a frame leaves by (utp_pipe.h describes the pipe and its locks).
#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"
#include "stack/utp_pipe.h"

namespace pc::stack::utp {
namespace {

constexpr uint32_t kMid = MID_UTP;
constexpr unsigned kFrameGapUs = 100;
constexpr long kMergeFlushNs = 10'000'000;

std::atomic<utp_link_tx_t> g_link_tx{nullptr};
std::atomic<void *> g_link_ctx{nullptr};

}  // namespace

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

// ---- merging -----------------------------------------------------------------

// Caller holds utpChipMux.
void stop_merge_timer(SendMng &s) {
    if (s.merge_timer.name[0] != '\0') del_timer(s.merge_timer);
    s.merge_timer = timer_id_t{};
}

namespace {

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

}  // namespace
}  // namespace pc::stack::utp

using namespace pc::stack::utp;

extern "C" {

PC_API int utp_link_set(utp_link_tx_t tx, void *ctx) {
    g_link_ctx.store(ctx);
    g_link_tx.store(tx);
    return 0;
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

}  // extern "C"
