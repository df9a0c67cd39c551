// Stream I/O of the messaging protocol, shared by the hub and the messaging
// client (which compiles this header into its own library).
//
// write_message() sends header and payload pieces with as few sendmsg calls
// as the kernel allows (one in the common case), never raises SIGPIPE and
// never closes the descriptor: the descriptor's owner decides that. Given a
// stall limit it never blocks in the kernel (MSG_DONTWAIT) and gives up with
// ETIMEDOUT when the socket takes no byte for that long, so a peer that
// stops reading cannot hold its writers.
//
// FrameReader reads a stream into one reusable buffer and hands out one
// complete message (header and payload, contiguous) at a time, so a message
// costs one read in the common case and no allocation. A frame stays valid
// until the next call to next(), next_buffered() or fill(); its start is
// aligned for any type. next() blocks until a message is there; a reader
// that waits by other means (epoll) uses next_buffered() and fill(), which
// never blocks on a socket (MSG_DONTWAIT, whatever the socket's mode), or
// fill() with kBlock, which waits in the read itself on a blocking socket
// (one system call instead of a wait and a read; SO_RCVTIMEO bounds it). The
// buffer grows with the bytes that arrive, never ahead of them on a header's
// word alone, so a peer that announces a large message and goes silent holds
// no more memory than it sent.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform_core/axmsg.h"
#include "platform_core/pal.h"

namespace pc::ipc {

// Pieces sent from a stack array; longer lists take an accounted array.
inline constexpr int kInlineIovecs = 16;
inline constexpr int kMaxIovPerCall = IOV_MAX;

// Waits until `fd` is ready for `events`; false on a poll error.
inline bool wait_ready(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        int rc = poll(&p, 1, timeout_ms);
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return false;
    }
}

// No stall limit: a write waits for the peer as long as it takes.
inline constexpr int kNoStallLimit = -1;

// Writes all of `total` bytes described by `vec[0..count)`, which it
// advances in place. Returns 0, or -1 with errno set on a hard error, or
// with ETIMEDOUT when `stall_ms` (>= 0) passed without the socket taking a
// byte.
inline int write_vector(int fd, iovec *vec, int count, int stall_ms = kNoStallLimit) {
    const int flags = MSG_NOSIGNAL | (stall_ms >= 0 ? MSG_DONTWAIT : 0);
    int first = 0;
    while (first < count) {
        if (vec[first].iov_len == 0) {
            ++first;
            continue;
        }
        msghdr mh{};
        mh.msg_iov = vec + first;
        mh.msg_iovlen = static_cast<decltype(mh.msg_iovlen)>(std::min(count - first, kMaxIovPerCall));
        ssize_t n = sendmsg(fd, &mh, flags);
        if (n < 0 && errno == ENOTSOCK) n = writev(fd, vec + first, static_cast<int>(mh.msg_iovlen));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (!wait_ready(fd, POLLOUT, stall_ms)) {
                    if (stall_ms >= 0) errno = ETIMEDOUT;
                    return -1;
                }
                continue;
            }
            return -1;
        }
        // Account for what went out: skip whole pieces, trim the partial one.
        auto done = static_cast<size_t>(n);
        while (done > 0 && first < count) {
            if (done >= vec[first].iov_len) {
                done -= vec[first].iov_len;
                vec[first].iov_len = 0;
                ++first;
            } else {
                vec[first].iov_base = static_cast<char *>(vec[first].iov_base) + done;
                vec[first].iov_len -= done;
                done = 0;
            }
        }
    }
    return 0;
}

// Sends header and pieces as one message. Returns 0, or -1 (errno set;
// ETIMEDOUT when the peer took nothing for `stall_ms`).
inline int write_message(int fd, const AXMSG_HEADER_T &header, const iovec *iov, int count,
                         int stall_ms = kNoStallLimit) {
    if (count < 0 || (count > 0 && iov == nullptr)) return -1;
    iovec inline_vec[kInlineIovecs + 1];
    iovec *vec = inline_vec;
    if (count + 1 > static_cast<int>(std::size(inline_vec))) {
        vec = static_cast<iovec *>(pal_alloc(static_cast<unsigned>(sizeof(iovec) * (count + 1U)), "axmsg"));
        if (vec == nullptr) return -1;
    }
    vec[0].iov_base = const_cast<AXMSG_HEADER_T *>(&header);
    vec[0].iov_len = sizeof header;
    for (int i = 0; i < count; ++i) vec[i + 1] = iov[i];
    int rc = write_vector(fd, vec, count + 1, stall_ms);
    int saved = errno;
    if (vec != inline_vec) pal_free(vec);
    errno = saved;
    return rc;
}

// Reads exactly `len` bytes, giving up after `timeout_ms` without data
// (-1: no limit). Returns 0, or -1 on end of stream, error or time-out.
inline int read_exact(int fd, void *buf, size_t len, int timeout_ms) {
    size_t done = 0;
    while (done < len) {
        if (timeout_ms >= 0 && !wait_ready(fd, POLLIN, timeout_ms)) return -1;
        ssize_t n = read(fd, static_cast<char *>(buf) + done, len - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            return -1;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_ready(fd, POLLIN, timeout_ms)) return -1;
        } else {
            return -1;
        }
    }
    return 0;
}

inline AXMSG_HEADER_T decode_header(std::span<const uint8_t> bytes) {
    AXMSG_HEADER_T h;
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

inline bool header_ok(const AXMSG_HEADER_T &h) { return h.marker == AXMSG_MARKER && h.check == AXMSG_CHECK; }

class FrameReader {
public:
    enum class Result {
        kFrame,      // `frame` holds one message
        kBadHeader,  // a header with a wrong marker or check word was skipped
        kTooLong,    // data_len above AXMSG_MAX_DATA_LEN: the stream must end
        kNoMemory,   // the buffer could not grow to the message
        kEnd,        // end of stream or a read error
        kEmpty,      // next_buffered(): no complete message is buffered
    };

    // How fill() reads: without waiting (a socket that has nothing gives
    // kWouldBlock), or as the descriptor's mode says (a blocking socket
    // waits for bytes, up to its SO_RCVTIMEO: then kWouldBlock).
    enum class Wait { kNoWait, kBlock };

    // What one read from the socket brought (fill()).
    enum class Fill {
        kShort,       // bytes, fewer than there was room for: the socket held no more
        kFull,        // bytes, as many as there was room for: more may wait
        kWouldBlock,  // nothing to read on a non-blocking socket
        kNoMemory,    // the buffer could not grow to the message
        kEnd,         // end of stream or a read error
    };

    explicit FrameReader(const char *tag) : tag_(tag) {}
    ~FrameReader() { pal_free(buf_); }
    FrameReader(const FrameReader &) = delete;
    FrameReader &operator=(const FrameReader &) = delete;

    // Drops everything buffered (a new stream starts).
    void reset() { begin_ = end_ = consumed_ = 0; }

    // Reads from `fd` until one message is buffered. On kFrame, `frame` is
    // the header followed by its payload and `header` its decoded header;
    // on kBadHeader, `header` is the refused header. Never kEmpty: on a
    // non-blocking socket it waits for data.
    Result next(int fd, std::span<uint8_t> &frame, AXMSG_HEADER_T &header) {
        for (;;) {
            Result r = next_buffered(frame, header);
            if (r != Result::kEmpty) return r;
            switch (fill(fd, Wait::kBlock)) {
                case Fill::kShort:
                case Fill::kFull:
                    break;
                case Fill::kWouldBlock:
                    if (!wait_ready(fd, POLLIN, -1)) return Result::kEnd;
                    break;
                case Fill::kNoMemory:
                    return Result::kNoMemory;
                case Fill::kEnd:
                    return Result::kEnd;
            }
        }
    }

    // The next message among the bytes already read, without reading; the
    // results are those of next(), or kEmpty. The frame handed out last is
    // given up first.
    Result next_buffered(std::span<uint8_t> &frame, AXMSG_HEADER_T &header) {
        if (!release_frame()) return Result::kNoMemory;
        need_ = AXMSG_HEADER_LEN;
        size_t avail = end_ - begin_;
        if (avail < AXMSG_HEADER_LEN) return Result::kEmpty;
        header = decode_header({buf_ + begin_, AXMSG_HEADER_LEN});
        if (!header_ok(header)) {
            begin_ += AXMSG_HEADER_LEN;
            return Result::kBadHeader;
        }
        if (header.data_len > AXMSG_MAX_DATA_LEN) return Result::kTooLong;
        need_ = AXMSG_HEADER_LEN + size_t{header.data_len};
        if (avail < need_) return Result::kEmpty;
        if (begin_ % kAlign != 0) compact();
        frame = {buf_ + begin_, need_};
        consumed_ = need_;
        return Result::kFrame;
    }

    // One read from `fd` into the buffer, after next_buffered() found no
    // complete message (the frame handed out last is given up).
    Fill fill(int fd, Wait wait = Wait::kNoWait) {
        if (!release_frame()) return Fill::kNoMemory;
        if (end_ == cap_) {
            // Full: make room at the front first, then grow by doubling,
            // so the buffer only grows as fast as bytes arrive.
            compact();
            if (end_ == cap_ && !resize(std::min(std::max(need_, cap_ + 1), cap_ * 2)))
                return Fill::kNoMemory;
        }
        for (;;) {
            const size_t room = cap_ - end_;
            ssize_t n = wait == Wait::kBlock ? read(fd, buf_ + end_, room) : recv_now(fd, buf_ + end_, room);
            if (n > 0) {
                end_ += static_cast<size_t>(n);
                return static_cast<size_t>(n) < room ? Fill::kShort : Fill::kFull;
            }
            if (n == 0) return Fill::kEnd;
            // A waiting reader looks at its deadline again after a signal.
            if (errno == EINTR) {
                if (wait == Wait::kBlock) return Fill::kWouldBlock;
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Fill::kWouldBlock;
            return Fill::kEnd;
        }
    }

    // True when a whole message is buffered beyond the frame handed out last.
    bool has_buffered_frame() const {
        size_t from = begin_ + consumed_;
        if (end_ - from < AXMSG_HEADER_LEN) return false;
        AXMSG_HEADER_T h = decode_header({buf_ + from, AXMSG_HEADER_LEN});
        return !header_ok(h) || h.data_len > AXMSG_MAX_DATA_LEN ||
               end_ - from >= AXMSG_HEADER_LEN + size_t{h.data_len};
    }

private:
    static constexpr size_t kDefaultCapacity = 64 * 1024;
    static constexpr size_t kShrinkAbove = 1024 * 1024;
    static constexpr size_t kAlign = alignof(std::max_align_t);

    // Gives up the frame handed out last; an emptied buffer starts over at
    // its front (and at its default size once it grew large). False when
    // the buffer cannot be had.
    bool release_frame() {
        begin_ += consumed_;
        consumed_ = 0;
        if (begin_ == end_) {
            begin_ = end_ = 0;
            if (cap_ > kShrinkAbove && !resize(kDefaultCapacity)) return false;
        }
        return buf_ != nullptr || resize(kDefaultCapacity);
    }

    // A read that never waits: MSG_DONTWAIT on a socket, a plain read on
    // anything else (which then must be non-blocking itself).
    static ssize_t recv_now(int fd, uint8_t *to, size_t room) {
        ssize_t n = recv(fd, to, room, MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) n = read(fd, to, room);
        return n;
    }

    void compact() {
        if (begin_ == 0) return;
        std::memmove(buf_, buf_ + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }

    // Keeps the buffered bytes, which start at offset 0 or are none.
    bool resize(size_t cap) {
        auto *grown = static_cast<uint8_t *>(pal_realloc(buf_, static_cast<unsigned>(cap), tag_));
        if (grown == nullptr) return false;
        buf_ = grown;
        cap_ = cap;
        return true;
    }

    const char *tag_;  // accounting tag of the buffer
    uint8_t *buf_ = nullptr;
    size_t cap_ = 0;
    size_t begin_ = 0;                // first byte not yet handed out
    size_t end_ = 0;                  // end of the bytes read
    size_t consumed_ = 0;             // length of the frame handed out last
    size_t need_ = AXMSG_HEADER_LEN;  // bytes the message at begin_ needs in all
};

}  // namespace pc::ipc
