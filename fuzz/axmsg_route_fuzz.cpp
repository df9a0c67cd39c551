// Fuzzes the hub's handling of bytes a peer sends: the stream is split into
// messages by the connection reader's framing and each message is routed
// (core handlers including the debug handler, forwarding to a connected
// process, multicast); the raw input is also routed as one buffer. The same
// bytes are also framed the way the messaging client reads (non-blocking
// reads of whatever arrived, messages taken from the buffer), arriving in
// pieces whose sizes the input chooses.
//
// The harness is the core process with one connected process (id 2) whose
// far end is drained by a thread, so forwarded messages really go out.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "ipc/hub/axmsg_connection.h"
#include "ipc/hub/axmsg_debug.h"
#include "ipc/hub/axmsg_stream.h"
#include "platform_core/axmsg.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

constexpr uint32_t kPeerPid = 2;
constexpr uint32_t kTouchMid = 40;

// A core handler that reads every payload byte.
int touch_handler(AXMSG_T *msg) {
    volatile uint8_t sum = 0;
    auto *p = static_cast<const uint8_t *>(msg->data);
    for (uint32_t i = 0; i < msg->data_len; ++i) sum = static_cast<uint8_t>(sum + p[i]);
    return sum == 0 ? 0 : 1;
}

// Reads every byte of a framed message.
void touch_handler_bytes(std::span<const uint8_t> frame) {
    volatile uint8_t sum = 0;
    for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
}

bool set_up() {
    // The debug handler's listings go nowhere.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return false;
    simProcessSetPid(PID_CORE);
    simSwitchSetInited(1);
    axmsg_serv_init();  // the hub's tables; listening may fail, routing does not need it
    axmsg_reg(MID_AXMSG, pc::ipc::debug_handler);
    axmsg_reg(kTouchMid, touch_handler);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
    pc::ipc::connection_attach(kPeerPid, sv[0]);
    std::thread([fd = sv[1]] {
        std::vector<char> sink(1 << 16);
        while (read(fd, sink.data(), sink.size()) > 0) {
        }
    }).detach();
    return true;
}

// Routes every message the reader's framing finds in `data`.
void route_stream(const uint8_t *data, size_t size) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
    int sndbuf = 1 << 20;
    setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    std::thread writer([&] {
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(sv[0], data + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(sv[0]);
    });
    pc::ipc::FrameReader reader("axmsg_fuzz");
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h;
    for (;;) {
        auto r = reader.next(sv[1], frame, h);
        if (r == pc::ipc::FrameReader::Result::kFrame) {
            axmsg_serv_cmd_proc(frame.data(), static_cast<uint32_t>(frame.size()));
        } else if (r != pc::ipc::FrameReader::Result::kBadHeader) {
            break;
        }
    }
    close(sv[1]);
    writer.join();
}

// Frames `data` as the messaging client does: each piece is written, then
// read without blocking, and every whole message buffered is taken.
void frame_in_pieces(const uint8_t *data, size_t size) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) return;
    pc::ipc::FrameReader reader("axmsg_fuzz");
    std::span<uint8_t> frame;
    AXMSG_HEADER_T h;
    bool open = true;
    for (size_t at = 0; open && at <= size;) {
        const size_t piece = size == 0 ? 0 : std::min<size_t>(size - at, 1 + data[at % size] % 97);
        if (piece > 0 && write(sv[0], data + at, piece) != static_cast<ssize_t>(piece)) break;
        at += piece;
        if (at == size) {
            close(sv[0]);
            sv[0] = -1;
            ++at;  // the end of the stream comes next
        }
        for (;;) {
            auto r = reader.next_buffered(frame, h);
            if (r == pc::ipc::FrameReader::Result::kFrame) {
                touch_handler_bytes(frame);
                continue;
            }
            if (r == pc::ipc::FrameReader::Result::kBadHeader) continue;
            if (r != pc::ipc::FrameReader::Result::kEmpty) {
                open = false;
                break;
            }
            auto f = reader.fill(sv[1]);
            if (f == pc::ipc::FrameReader::Fill::kShort || f == pc::ipc::FrameReader::Fill::kFull) continue;
            if (f != pc::ipc::FrameReader::Fill::kWouldBlock) open = false;
            break;
        }
    }
    if (sv[0] >= 0) close(sv[0]);
    close(sv[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = set_up();
    if (!ready) return 0;
    // The raw buffer as one message, in a block of its own size so that any
    // read past it is caught.
    std::vector<uint8_t> copy(data, data + size);
    axmsg_serv_cmd_proc(copy.empty() ? nullptr : copy.data(), static_cast<uint32_t>(copy.size()));
    route_stream(data, size);
    frame_in_pieces(data, size);
    return 0;
}
