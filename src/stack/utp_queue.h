// The unit transport's frame queue: a ring of capacity + 2 slots of 1500
// bytes (one slot always stays empty) between the packet service's thread,
// which pushes, and a transport thread, which pops. A push into a full
// queue waits until the reader has taken a frame; a pop from an empty queue
// waits for a push. Frames are copied in and out whole, with their length.
//
// Lock: "utpQueMux" guards the positions and the slots; "utpPopSem" wakes a
// waiting reader, "utpPushSem" a waiting writer. Storage comes from the
// accounted allocator (tag "utp") and is owned by the queue.
#pragma once

#include <cstdint>
#include <span>

#include "platform_core/pal.h"
#include "platform_core/utp.h"

namespace pc::stack::utp {

struct QueueSlot {
    uint32_t len;
    uint8_t bytes[UTP_FRAME_MAX];
};

class FrameQueue {
public:
    FrameQueue() = default;
    FrameQueue(const FrameQueue &) = delete;
    FrameQueue &operator=(const FrameQueue &) = delete;
    ~FrameQueue() { destroy(); }

    int init(uint32_t capacity);
    void destroy();
    // Copies `frame` (at most 1500 bytes are kept) in; waits while full.
    int push(std::span<const uint8_t> frame);
    // Waits for a frame and copies it to `out` (1500 bytes); its length.
    int pop(uint8_t *out);
    uint32_t length();
    bool empty() { return length() == 0; }
    void clear();
    // "[print queue]:" and one line per frame.
    void print();

private:
    uint32_t next(uint32_t pos) const { return (pos + 1) % slots_; }

    QueueSlot *ring_ = nullptr;  // slots_ entries; guarded by lock_
    uint32_t slots_ = 0;
    uint32_t read_ = 0;             // guarded by lock_
    uint32_t write_ = 0;            // guarded by lock_
    uint32_t waiting_readers_ = 0;  // guarded by lock_
    uint32_t waiting_writers_ = 0;  // guarded by lock_
    pal_mutex_t lock_ = nullptr;
    pal_sem_t pop_sem_ = nullptr;
    pal_sem_t push_sem_ = nullptr;
};

}  // namespace pc::stack::utp
