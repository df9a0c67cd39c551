// Fuzzes the hub's handling of bytes a peer sends: the stream is split into
// messages by the connection reader's framing and each message is routed
// (core handlers including the debug handler, forwarding to a connected
// process, multicast); the raw input is also routed as one buffer.
//
// The harness is the core process with one connected process (id 2) whose
// far end is drained by a thread, so forwarded messages really go out.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "ipc/axmsg_connection.h"
#include "ipc/axmsg_debug.h"
#include "ipc/axmsg_stream.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = set_up();
    if (!ready) return 0;
    // The raw buffer as one message, in a block of its own size so that any
    // read past it is caught.
    std::vector<uint8_t> copy(data, data + size);
    axmsg_serv_cmd_proc(copy.empty() ? nullptr : copy.data(), static_cast<uint32_t>(copy.size()));
    route_stream(data, size);
    return 0;
}
