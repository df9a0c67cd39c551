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

#include <atomic>
#include <cstdint>

#include "platform_core/pal.h"
#include "platform_core/timer.h"
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

}  // namespace pc::stack::utp
