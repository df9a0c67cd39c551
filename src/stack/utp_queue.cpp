// The unit transport's frame queue (see utp_queue.h).
#include "stack/utp_queue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pal/mutex_guard.h"
#include "stack/utp_frame.h"

namespace pc::stack::utp {

int FrameQueue::init(uint32_t capacity) {
    destroy();
    slots_ = capacity + 2;
    ring_ = static_cast<QueueSlot *>(pal_calloc(slots_, sizeof(QueueSlot), "utp"));
    lock_ = pal_mutex_create("utpQueMux");
    pop_sem_ = pal_sem_create("utpPopSem", 0, 0);
    push_sem_ = pal_sem_create("utpPushSem", 0, 0);
    if (ring_ == nullptr || lock_ == nullptr || pop_sem_ == nullptr || push_sem_ == nullptr) {
        destroy();
        return -1;
    }
    return 0;
}

void FrameQueue::destroy() {
    pal_free(ring_);
    ring_ = nullptr;
    if (lock_ != nullptr) pal_mutex_destroy(lock_);
    if (pop_sem_ != nullptr) pal_sem_destroy(pop_sem_);
    if (push_sem_ != nullptr) pal_sem_destroy(push_sem_);
    lock_ = nullptr;
    pop_sem_ = push_sem_ = nullptr;
    slots_ = read_ = write_ = 0;
}

int FrameQueue::push(std::span<const uint8_t> frame) {
    if (ring_ == nullptr) return -1;
    pc::pal::MutexGuard guard(lock_);
    while (next(write_) == read_) {
        ++waiting_writers_;
        guard.release();
        pal_sem_take(push_sem_, PAL_WAIT_FOREVER);
        pc::pal::MutexGuard again(lock_);
        --waiting_writers_;
        if (next(write_) != read_) {
            bool was_empty = read_ == write_;
            QueueSlot &s = ring_[write_];
            s.len = static_cast<uint32_t>(std::min<size_t>(frame.size(), UTP_FRAME_MAX));
            std::memcpy(s.bytes, frame.data(), s.len);
            write_ = next(write_);
            if (was_empty && waiting_readers_ > 0) pal_sem_give(pop_sem_);
            return 0;
        }
    }
    bool was_empty = read_ == write_;
    QueueSlot &s = ring_[write_];
    s.len = static_cast<uint32_t>(std::min<size_t>(frame.size(), UTP_FRAME_MAX));
    std::memcpy(s.bytes, frame.data(), s.len);
    write_ = next(write_);
    if (was_empty && waiting_readers_ > 0) pal_sem_give(pop_sem_);
    return 0;
}

int FrameQueue::pop(uint8_t *out) {
    if (ring_ == nullptr) return -1;
    for (;;) {
        {
            pc::pal::MutexGuard guard(lock_);
            if (read_ != write_) {
                bool was_full = next(write_) == read_;
                const QueueSlot &s = ring_[read_];
                uint32_t len = s.len;
                std::memcpy(out, s.bytes, len);
                if (len < UTP_FRAME_MAX) std::memset(out + len, 0, UTP_FRAME_MAX - len);
                read_ = next(read_);
                if (was_full && waiting_writers_ > 0) pal_sem_give(push_sem_);
                return static_cast<int>(len);
            }
            ++waiting_readers_;
        }
        pal_sem_take(pop_sem_, PAL_WAIT_FOREVER);
        pc::pal::MutexGuard guard(lock_);
        --waiting_readers_;
    }
}

uint32_t FrameQueue::length() {
    if (ring_ == nullptr) return 0;
    pc::pal::MutexGuard guard(lock_);
    return (write_ + slots_ - read_) % slots_;
}

void FrameQueue::clear() {
    if (ring_ == nullptr) return;
    pc::pal::MutexGuard guard(lock_);
    read_ = write_ = 0;
    if (waiting_writers_ > 0) pal_sem_give(push_sem_);
}

void FrameQueue::print() {
    std::printf("[print queue]:\n");
    if (ring_ == nullptr) return;
    pc::pal::MutexGuard guard(lock_);
    for (uint32_t pos = read_; pos != write_; pos = next(pos)) {
        const QueueSlot &s = ring_[pos];
        auto fh = read_frame_header({s.bytes, s.len});
        if (!fh) continue;
        uint32_t txnid = s.len >= kDataHdrLen && fh->type == UTP_FRAME_DATA
                             ? get32(s.bytes + UTP_FRAME_HDR_LEN)
                             : fh->txnnum;
        std::printf("frametype:%d, framestat:%d ,sno:%d, txnnum:%d, txnid:%d\n", fh->type,
                    static_cast<int>(fh->framestat), static_cast<int>(fh->sno), static_cast<int>(fh->txnnum),
                    static_cast<int>(txnid));
    }
}

}  // namespace pc::stack::utp
