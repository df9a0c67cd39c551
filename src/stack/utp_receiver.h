// The receive side of a unit pipe: reassembly of transactions from data
// frames, loss detection and the acknowledgements it answers with.
//
// One transaction is assembled at a time. Its buffer has one slot per frame
// (present flag, length, 1468 data bytes) and a message buffer for the
// joined data; both are sized from the transaction's frame count, which
// frames carry and which is bounded by UTP_TXN_FRAMES_MAX before anything
// is allocated. Every field of a frame is checked against the buffers
// before it is copied. A frame of the transaction delivered last is
// answered with "complete" again (its acknowledgement may have been lost)
// and never delivered twice.
//
// Owned and used by one thread (the pipe's server thread, or a fuzzer);
// reset() may be called by that thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "stack/utp_frame.h"

namespace pc::stack::utp {

class Receiver {
public:
    // ack(sno, txnid, result); deliver(data, len).
    using AckFn = std::function<void(uint32_t sno, uint32_t txnid, uint32_t result)>;
    using DeliverFn = std::function<void(uint8_t *data, uint32_t len)>;

    Receiver(AckFn ack, DeliverFn deliver) : ack_(std::move(ack)), deliver_(std::move(deliver)) {}
    ~Receiver() { reset(); }
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // Handles one data frame; 0, or -1 when it was refused.
    int handle(std::span<const uint8_t> frame);
    // Drops a partial transaction and forgets the last one.
    void reset();

private:
    struct Slot {
        uint32_t present;
        uint32_t len;
        uint8_t data[UTP_FRAME_PAYLOAD];
    };

    bool open(uint32_t txnid, uint32_t frames);
    void free_buffers();
    void finish(uint32_t txnid);
    void deliver_one_frame(const DataFrame &f);
    void check(const DataFrame &f);
    void complete(const DataFrame &f);

    AckFn ack_;
    DeliverFn deliver_;
    Slot *slots_ = nullptr;   // frames_ slots, tag "utp"; owned
    uint8_t *msg_ = nullptr;  // frames_ * 1468 bytes, tag "utp"; owned
    uint32_t frames_ = 0;     // frame count of the open transaction
    uint32_t txnid_ = 0;      // transaction being assembled (or delivered last)
    bool valid_ = false;      // a transaction is being assembled
    bool have_last_ = false;  // last_txnid_ names a delivered transaction
    uint32_t last_txnid_ = 0;
    uint32_t miss_max_ = 0;  // highest missing frame found by the last check
    uint32_t bound_ = 0;     // frame count up to which loss is looked for
};

// Text of a refusal, for the log.
const char *data_check_text(DataCheck c);

}  // namespace pc::stack::utp
