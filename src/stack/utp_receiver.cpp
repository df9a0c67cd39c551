// Reassembly of unit transport transactions (see utp_receiver.h).
#include "stack/utp_receiver.h"

#include <cstring>

#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::stack::utp {

namespace {
constexpr uint32_t kMid = MID_UTP;
}

const char *data_check_text(DataCheck c) {
    switch (c) {
        case DataCheck::ok:
            return "ok";
        case DataCheck::short_frame:
            return "frame shorter than its headers";
        case DataCheck::bad_type:
            return "frame type error";
        case DataCheck::bad_stat:
            return "frame stat err";
        case DataCheck::bad_txnid:
            return "transaction id out of range";
        case DataCheck::bad_len:
            return "data length beyond the frame";
        case DataCheck::bad_frames:
            return "frame count out of range";
        case DataCheck::bad_sno:
            return "sno beyond the frame count";
        case DataCheck::bad_merge:
            return "merged records do not fit";
    }
    return "?";
}

void Receiver::free_buffers() {
    pal_free(slots_);
    pal_free(msg_);
    slots_ = nullptr;
    msg_ = nullptr;
    frames_ = 0;
    valid_ = false;
}

void Receiver::reset() {
    free_buffers();
    have_last_ = false;
    miss_max_ = bound_ = 0;
}

bool Receiver::open(uint32_t txnid, uint32_t frames) {
    free_buffers();
    slots_ = static_cast<Slot *>(pal_calloc(frames, sizeof(Slot), "utp"));
    msg_ = static_cast<uint8_t *>(pal_alloc(frames * UTP_FRAME_PAYLOAD, "utp"));
    if (slots_ == nullptr || msg_ == nullptr) {
        PFM_ERR(kMid, "txnbuff malloc fail\n");
        PFM_ERR(kMid, "utp_create_recvbuff fail\n");
        free_buffers();
        return false;
    }
    frames_ = frames;
    txnid_ = txnid;
    valid_ = true;
    miss_max_ = 0;
    bound_ = 0;
    return true;
}

void Receiver::finish(uint32_t txnid) {
    free_buffers();
    txnid_ = txnid;
    have_last_ = true;
    last_txnid_ = txnid;
}

void Receiver::deliver_one_frame(const DataFrame &f) {
    // The data is copied so that the callback may keep or change it.
    uint8_t copy[UTP_FRAME_PAYLOAD];
    std::memcpy(copy, f.data.data(), f.data.size());
    if (!f.th.merged) {
        deliver_(copy, static_cast<uint32_t>(f.data.size()));
        return;
    }
    for (uint32_t i = 0; i < f.fh.txnnum; ++i) {
        uint8_t *rec = copy + i * UTP_MERGE_REC_LEN;
        deliver_(rec + 4, get32(rec));
    }
}

void Receiver::complete(const DataFrame &f) {
    ack_(f.fh.sno, txnid_, UTP_ACK_COMPLETE);
    uint32_t total = 0;
    for (uint32_t i = 0; i < frames_; ++i) {
        const Slot &s = slots_[i];
        if (s.len > UTP_FRAME_PAYLOAD || total + s.len > frames_ * UTP_FRAME_PAYLOAD) {
            PFM_ERR(kMid, "data len is overflow %d %d\n", static_cast<int>(total + s.len),
                    static_cast<int>(frames_ * UTP_FRAME_PAYLOAD));
            finish(txnid_);
            return;
        }
        std::memcpy(msg_ + total, s.data, s.len);
        total += s.len;
    }
    uint8_t *msg = msg_;
    msg_ = nullptr;  // the buffer outlives finish() until the callback returns
    uint32_t id = txnid_;
    finish(id);
    deliver_(msg, total);
    pal_free(msg);
}

void Receiver::check(const DataFrame &f) {
    uint32_t bound = bound_;
    if (f.th.last)
        bound = frames_;
    else if (f.fh.framestat == UTP_STAT_ASK_ACK)
        bound = f.fh.sno + 1;
    if (bound > frames_) bound = frames_;
    bound_ = bound;
    bool all = true;
    for (uint32_t i = 0; i < frames_ && all; ++i) all = slots_[i].present != 0;
    if (all) {
        complete(f);
        return;
    }
    bool missing = false;
    for (uint32_t i = 0; i < bound; ++i) {
        if (slots_[i].present) continue;
        missing = true;
        miss_max_ = i;
        PFM_DBG(kMid, "utp_chk_loseFrame  lose frame txnid %d, sno:%d\n", static_cast<int>(txnid_),
                static_cast<int>(i));
        ack_(i, txnid_, UTP_ACK_RESEND);
    }
    if (!missing) ack_(f.fh.sno, txnid_, UTP_ACK_UPTO);
}

int Receiver::handle(std::span<const uint8_t> frame) {
    DataFrame f;
    DataCheck c = read_data_frame(frame, &f);
    if (c != DataCheck::ok) {
        PFM_ERR(kMid, "refused data frame: %s\n", data_check_text(c));
        return -1;
    }
    uint32_t id = f.th.txnid;
    if (have_last_ && id == last_txnid_ && !(valid_ && id == txnid_)) {
        // Delivered already: the sender missed our acknowledgement.
        ack_(f.fh.sno, id, UTP_ACK_COMPLETE);
        return 0;
    }
    if (valid_ && id == txnid_ && f.th.frames != frames_) {
        PFM_ERR(kMid, "frame count %d of txnid %d differs from %d\n", static_cast<int>(f.th.frames),
                static_cast<int>(id), static_cast<int>(frames_));
        return -1;
    }
    if (!(valid_ && id == txnid_)) {
        if (valid_)
            PFM_DBG(kMid, "pRecvMng->bVaildFlag is vaild, recv txnid %d, buff txnid %d\n",
                    static_cast<int>(id), static_cast<int>(txnid_));
        if (f.th.frames == 1) {
            free_buffers();
            ack_(f.fh.sno, id, UTP_ACK_COMPLETE);
            if (!f.th.last) {
                txnid_ = id;
                return 0;
            }
            finish(id);
            deliver_one_frame(f);
            return 0;
        }
        if (!open(id, f.th.frames)) return -1;
    }
    Slot &s = slots_[f.fh.sno];
    s.present = 1;
    s.len = static_cast<uint32_t>(f.data.size());
    std::memcpy(s.data, f.data.data(), f.data.size());
    if (f.th.last || f.fh.framestat == UTP_STAT_ASK_ACK ||
        (f.fh.framestat == UTP_STAT_RESENT && f.fh.sno == miss_max_))
        check(f);
    return 0;
}

}  // namespace pc::stack::utp
