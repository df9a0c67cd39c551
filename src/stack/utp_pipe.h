// A unit pipe of the unit transport: the state of one peer unit.
//
// Send side: the sender (holding "utpChipMux", one message at a time) cuts
// a message into frames and hands each to the window; at a block end
// (every 256th frame and the last) it waits until the client thread has
// seen the acknowledgement. The window's entries keep a copy of every frame
// of the current block so that requests (0x41) and the resend timer can
// send them again. Messages below 100 bytes are merged under "utpChipMux"
// and sent by the flush timer or when ten wait.
//
// Receive side: the packet service's thread pushes data frames and
// acknowledgements into two queues; the server thread reassembles data
// (Receiver), the client thread applies acknowledgements to the window.
//
// Locks: "utpPipeMux" (global) orders state changes; state and epoch are
// atomics read without it. "utpWinMux" guards the window and its resend
// timer. "utpChipMux" (global) guards the merge buffer and serialises
// senders. The buffers are allocated when the pipe is created (tag "utp")
// and live as long as the process.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "platform_core/pal.h"
#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "stack/utp_frame.h"
#include "stack/utp_queue.h"
#include "stack/utp_receiver.h"

namespace pc::stack::utp {

struct WinEntry {
    uint32_t used;       // holds a frame of the current block
    uint32_t framestat;  // 1, 5, or 2 once acknowledged
    uint32_t txnid;
    uint32_t sno;
    uint32_t len;
    uint8_t bytes[UTP_FRAME_MAX];
};

struct SendMng {
    std::atomic<uint32_t> cur_txn{0};  // last transaction id used
    pal_mutex_t win_lock = nullptr;    // "utpWinMux"
    WinEntry *win = nullptr;           // FRAME_WIN_SIZE entries; win_lock
    uint32_t block = 0;                // block number of the window; win_lock
    timer_id_t resend_timer{};         // win_lock
    FrameQueue ack_q;                  // acknowledgements for the client thread
    uint8_t *frame_buf = nullptr;      // 1500 bytes; utpChipMux
    uint8_t *merge_buf = nullptr;      // 1484 bytes; utpChipMux
    uint32_t merge_count = 0;          // messages waiting in merge_buf; utpChipMux
    timer_id_t merge_timer{};          // utpChipMux
};

struct RecvMng {
    FrameQueue data_q;       // data frames for the server thread
    Receiver *rx = nullptr;  // server thread only
    std::atomic<utp_rx_cb_t> cb{nullptr};
};

struct Pipe {
    bool created = false;  // utpPipeMux
    std::atomic<uint32_t> state{UTP_UNIT_DISABLE};
    std::atomic<uint32_t> epoch{0};   // counts state changes
    pal_sem_t client_wake = nullptr;  // given on enable: the client thread stops waiting
    pal_sem_t server_wake = nullptr;  // the same for the server thread
    uint32_t unit = 0;
    SendMng send;
    RecvMng recv;
};

// What the transport's files share.

// The pipes, by unit (utp_pipe.cpp).
extern std::array<Pipe, UNIT_NUM> &g_pipes;
// "utpChipMux" (utp_pipe.cpp), created by utp_initiation.
extern pal_mutex_t g_chip_mux;

// True for a legal unit; logs any other.
bool unit_ok(uint32_t unit);
// The created pipe of a legal unit, or null.
Pipe *pipe_of(uint32_t unit);
inline bool enabled(const Pipe &p) { return p.state.load() == UTP_UNIT_ENABLE; }

// The sender (utp_sender.cpp): the link a frame leaves by, and the
// acknowledgement of received frames.
int link_send(uint32_t unit, const uint8_t *frame, uint32_t len);
void send_ack(uint32_t unit, uint32_t sno, uint32_t txnid, uint32_t result);
void stop_merge_timer(SendMng &s);  // caller holds utpChipMux

// The send window (utp_window.cpp). win_move keeps frame `sno` of `block`
// and sends it; at a block's end it waits for the acknowledgement.
int win_move(Pipe &p, uint32_t block, uint32_t sno, uint8_t *frame, uint32_t len, bool last);
// Applies an acknowledgement to the window (the client thread).
void apply_ack(Pipe &p, const FrameHeader &ack);
void stop_resend_timer(SendMng &s);  // caller holds win_lock
void clear_window(SendMng &s);       // caller holds win_lock

// Traces (utp_trace.cpp).
uint32_t debug_level();
void dump_running(uint32_t from, uint32_t to, std::span<const uint8_t> frame);
void dump_data(const char *title, const uint8_t *data, uint32_t len);

}  // namespace pc::stack::utp
