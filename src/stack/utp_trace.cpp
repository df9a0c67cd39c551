// Traces of the unit transport: the frames a pipe sends and receives, the
// messages it delivers (by the debug level, utp_debug_flag_set) and the
// print of a pipe's window and queues.
#include <sys/time.h>

#include <atomic>
#include <cstdio>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"
#include "stack/utp_pipe.h"

namespace pc::stack::utp {
namespace {

std::atomic<uint32_t> g_debug{0};

void dump_time() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::printf("%10d.", static_cast<int>(tv.tv_sec));
    std::printf("%10d  ", static_cast<int>(tv.tv_usec));
}

}  // namespace

uint32_t debug_level() { return g_debug.load(); }

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

}  // namespace pc::stack::utp

using namespace pc::stack::utp;

extern "C" {

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
