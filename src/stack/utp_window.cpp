// The send window of a unit pipe: the frames of the current block kept for
// resending, the wait for the block's acknowledgement, the resend timer and
// the acknowledgements that the client thread applies (utp_pipe.h
// describes the pipe and its locks).
#include <atomic>
#include <cstdio>
#include <cstring>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"
#include "stack/utp_pipe.h"

namespace pc::stack::utp {
namespace {

constexpr uint32_t kMid = MID_UTP;
constexpr unsigned kAckPollUs = 100;
constexpr uint32_t kResendLogEvery = 61;

std::atomic<uint32_t> g_resend_log_count{0};  // shared by all units
std::atomic<uint32_t> g_resends{0};

}  // namespace

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

namespace {

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

}  // namespace

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
                if (debug_level() != 0)
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

}  // namespace pc::stack::utp

using namespace pc::stack::utp;

extern "C" {

PC_API uint32_t utp_resend_count(void) { return g_resends.load(); }

}  // extern "C"
