// The hub, seen from its peers: this test program is the core process;
// peers are raw sockets speaking the protocol and real helper processes
// using the messaging client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

constexpr uint32_t kTestMid = 50;
constexpr int kWaitMs = 5000;

// What the core's test handler last received.
struct Received {
    std::mutex lock;
    std::condition_variable cv;
    int count = 0;
    uint32_t src_proc = 0;
    std::vector<uint8_t> data;
};
Received g_rx;

int record_handler(AXMSG_T *msg) {
    std::lock_guard<std::mutex> guard(g_rx.lock);
    auto *p = static_cast<uint8_t *>(msg->data);
    g_rx.data.assign(p, p + msg->data_len);
    g_rx.src_proc = msg->src_proc;
    ++g_rx.count;
    g_rx.cv.notify_all();
    return 0;
}

AXMSG_HEADER_T make_header(uint32_t src_proc, uint32_t dst_proc, uint32_t mid, uint32_t len) {
    AXMSG_HEADER_T h{};
    h.marker = AXMSG_MARKER;
    h.command = AXMSG_CMD_UNICAST;
    h.dst_unit = 1;
    h.dst_proc = dst_proc;
    h.src_unit = 1;
    h.src_proc = src_proc;
    h.msg_type = mid;
    h.check = AXMSG_CHECK;
    h.data_len = len;
    return h;
}

// A peer that speaks the wire protocol directly.
class RawPeer {
public:
    // `rcvbuf` > 0 sets the receive buffer (a small window).
    explicit RawPeer(int rcvbuf = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (rcvbuf > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(AXMSG_SERV_PORT);
        inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
        connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~RawPeer() { close(fd_); }
    RawPeer(const RawPeer &) = delete;
    RawPeer &operator=(const RawPeer &) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }

    bool hello(uint32_t pid) {
        return send(make_header(pid, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN), {0, 0, 0, 0});
    }

    bool send(const AXMSG_HEADER_T &h, const std::vector<uint8_t> &payload) {
        std::vector<uint8_t> bytes(sizeof h + payload.size());
        std::memcpy(bytes.data(), &h, sizeof h);
        if (!payload.empty()) std::memcpy(bytes.data() + sizeof h, payload.data(), payload.size());
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    // Reads one message; false on time-out or end of stream.
    bool receive(AXMSG_HEADER_T &h, std::vector<uint8_t> &payload) {
        if (!read_all(&h, sizeof h)) return false;
        payload.resize(h.data_len);
        return h.data_len == 0 || read_all(payload.data(), h.data_len);
    }

    // True when the hub closes the stream within the wait (a reset when it
    // left bytes of ours unread).
    bool closed_by_hub() {
        char byte;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kWaitMs) != 1) return false;
        ssize_t n = read(fd_, &byte, 1);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

    // Round trip through the core's debug echo.
    bool echo(uint32_t pid, const std::vector<uint8_t> &body) {
        std::vector<uint8_t> payload{AXMSG_DBG_ECHO};
        payload.insert(payload.end(), body.begin(), body.end());
        if (!send(make_header(pid, PID_CORE, MID_AXMSG, static_cast<uint32_t>(payload.size())), payload))
            return false;
        AXMSG_HEADER_T h;
        std::vector<uint8_t> got;
        return receive(h, got) && h.msg_type == AXMSG_ECHO_REPLY_MID && h.src_proc == PID_CORE &&
               h.dst_proc == pid && got == payload;
    }

private:
    bool read_all(void *buf, size_t len) {
        size_t done = 0;
        while (done < len) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, kWaitMs) != 1) return false;
            ssize_t n = read(fd_, static_cast<char *>(buf) + done, len - done);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
};

class AxmsgHub : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        simSwitchSetInited(1);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axmsg_reg(kTestMid, record_handler), 0);
    }

    // Waits until the test handler has run `n` times in all.
    static bool wait_received(int n) {
        std::unique_lock<std::mutex> lock(g_rx.lock);
        return g_rx.cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return g_rx.count >= n; });
    }

    // Retries `send` until it reports `expected` (a reader notices a dead
    // peer, or a new one gets attached, a moment later).
    static bool core_send_becomes(uint32_t dst_proc, int expected) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        uint8_t byte = 0;
        iovec piece{&byte, 1};
        while (std::chrono::steady_clock::now() < deadline) {
            AXMSG_T m{};
            m.dst_unit = 1;
            m.dst_proc = dst_proc;
            m.msg_type = kTestMid;
            m.iov = &piece;
            m.iov_num = 1;
            if (axmsg_send(&m) == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

TEST_F(AxmsgHub, RefusesBadHellos) {
    struct Case {
        const char *what;
        AXMSG_HEADER_T header;
    };
    AXMSG_HEADER_T swapped = make_header(9, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN);
    swapped.marker = 0xCDAB;
    AXMSG_HEADER_T bad_check = make_header(9, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN);
    bad_check.check = 0;
    const Case cases[] = {
        {"proc 0", make_header(0, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN)},
        {"proc 64", make_header(64, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN)},
        {"the core's own id", make_header(PID_CORE, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN)},
        {"swapped marker", swapped},
        {"bad check word", bad_check},
    };
    for (const Case &c : cases) {
        RawPeer peer;
        ASSERT_TRUE(peer.connected());
        ASSERT_TRUE(peer.send(c.header, {0, 0, 0, 0})) << c.what;
        EXPECT_TRUE(peer.closed_by_hub()) << c.what;
    }
    // A peer that never says hello is dropped; others connect meanwhile.
    RawPeer silent;
    RawPeer good;
    ASSERT_TRUE(good.hello(9));
    EXPECT_TRUE(good.echo(9, {1, 2, 3}));
    EXPECT_TRUE(silent.closed_by_hub());
}

TEST_F(AxmsgHub, SecondHelloForConnectedProcessIsRefused) {
    RawPeer first;
    ASSERT_TRUE(first.hello(10));
    ASSERT_TRUE(first.echo(10, {7}));
    RawPeer second;
    ASSERT_TRUE(second.hello(10));
    EXPECT_TRUE(second.closed_by_hub());
    EXPECT_TRUE(first.echo(10, {8, 9}));
}

TEST_F(AxmsgHub, DeliversToCoreHandlersAndDropsWhatHasNoTarget) {
    RawPeer peer;
    ASSERT_TRUE(peer.hello(11));
    int before;
    {
        std::lock_guard<std::mutex> guard(g_rx.lock);
        before = g_rx.count;
    }
    ASSERT_TRUE(peer.send(make_header(11, PID_CORE, kTestMid, 3), {'a', 'b', 'c'}));
    ASSERT_TRUE(wait_received(before + 1));
    {
        std::lock_guard<std::mutex> guard(g_rx.lock);
        EXPECT_EQ(g_rx.src_proc, 11u);
        EXPECT_EQ(g_rx.data, (std::vector<uint8_t>{'a', 'b', 'c'}));
    }
    // No handler, a process id beyond the table: dropped, stream intact.
    ASSERT_TRUE(peer.send(make_header(11, PID_CORE, kTestMid + 1, 2), {1, 2}));
    ASSERT_TRUE(peer.send(make_header(11, 70, kTestMid, 2), {1, 2}));
    // A header whose marker arrives in the other byte order is skipped.
    AXMSG_HEADER_T swapped = make_header(11, PID_CORE, kTestMid, 0);
    swapped.marker = 0xCDAB;
    ASSERT_TRUE(peer.send(swapped, {}));
    ASSERT_TRUE(peer.send(make_header(11, PID_CORE, kTestMid, 0), {}));
    ASSERT_TRUE(wait_received(before + 2));
    {
        std::lock_guard<std::mutex> guard(g_rx.lock);
        EXPECT_EQ(g_rx.count, before + 2);
        EXPECT_TRUE(g_rx.data.empty());
    }
    EXPECT_TRUE(peer.echo(11, {4, 5}));
}

TEST_F(AxmsgHub, OversizedLengthClosesTheConnection) {
    {
        RawPeer peer;
        ASSERT_TRUE(peer.hello(12));
        ASSERT_TRUE(peer.echo(12, {1}));
        ASSERT_TRUE(peer.send(make_header(12, PID_CORE, kTestMid, AXMSG_MAX_DATA_LEN + 1), {}));
        EXPECT_TRUE(peer.closed_by_hub());
        // 0xFFFFFFE0 + 32 would wrap to 0 in a naive allocation.
        RawPeer again;
        ASSERT_TRUE(again.hello(13));
        ASSERT_TRUE(again.send(make_header(13, PID_CORE, kTestMid, 0xFFFFFFE0u), {}));
        EXPECT_TRUE(again.closed_by_hub());
    }
    RawPeer back;
    ASSERT_TRUE(core_send_becomes(12, -1));  // the record was cleared
    ASSERT_TRUE(back.hello(12));
    EXPECT_TRUE(back.echo(12, {2}));
}

// Reads "recv msg all = N" from the debug handler's count listing.
unsigned print_total(RawPeer &peer, uint32_t pid) {
    pc::test::CaptureStdout out;
    EXPECT_TRUE(peer.send(make_header(pid, PID_CORE, MID_AXMSG, 1), {AXMSG_DBG_PRINT_COUNTS}));
    EXPECT_TRUE(peer.echo(pid, {0}));  // the listing is done once the echo is back
    std::fflush(stdout);
    unsigned total = 0;
    std::string text = out.text();
    size_t at = text.find("recv msg all = ");
    if (at != std::string::npos) std::sscanf(text.c_str() + at, "recv msg all = %u", &total);
    return total;
}

TEST_F(AxmsgHub, BounceToTheCoreItselfEndsAfterTheHopLimit) {
    RawPeer peer;
    ASSERT_TRUE(peer.hello(14));
    unsigned t0 = print_total(peer, 14);
    ASSERT_TRUE(peer.send(make_header(14, PID_CORE, MID_AXMSG, 2), {AXMSG_DBG_BOUNCE, 250}));
    unsigned t1 = print_total(peer, 14);
    // print + echo, then the bounce and its 5 hops, then the next print.
    EXPECT_EQ(t1 - t0, 2u + 6u);
    ASSERT_TRUE(peer.send(make_header(14, PID_CORE, MID_AXMSG, 2), {AXMSG_DBG_BOUNCE, 0}));
    unsigned t2 = print_total(peer, 14);
    EXPECT_EQ(t2 - t1, 2u + 256u);
    // Commands that need an argument byte refuse a one-byte payload.
    ASSERT_TRUE(peer.send(make_header(14, PID_CORE, MID_AXMSG, 1), {AXMSG_DBG_BOUNCE}));
    EXPECT_TRUE(peer.echo(14, {3}));
}

TEST_F(AxmsgHub, ProcessToProcessAndPeerDeath) {
    pid_t server = pc::test::spawn_helper("axmsg_peer_helper", {"serve", "20"});
    ASSERT_TRUE(core_send_becomes(20, 0));
    pid_t pinger = pc::test::spawn_helper("axmsg_peer_helper", {"ping", "21", "20", "200"});
    EXPECT_EQ(pc::test::wait_child_for(pinger, 60000), 0);
    pinger = pc::test::spawn_helper("axmsg_peer_helper", {"ping", "22", "1", "200"});
    EXPECT_EQ(pc::test::wait_child_for(pinger, 60000), 0);

    kill(server, SIGKILL);
    pc::test::wait_child(server);
    EXPECT_TRUE(core_send_becomes(20, -1));

    server = pc::test::spawn_helper("axmsg_peer_helper", {"serve", "20"});
    ASSERT_TRUE(core_send_becomes(20, 0));
    pinger = pc::test::spawn_helper("axmsg_peer_helper", {"ping", "21", "20", "20"});
    EXPECT_EQ(pc::test::wait_child_for(pinger, 60000), 0);
    kill(server, SIGTERM);
    EXPECT_EQ(pc::test::wait_child_for(server, 10000), 0);
}

// A client whose hello is refused (its id is held by a live connection)
// does not report itself connected; it keeps trying and is connected once
// the id is free.
TEST_F(AxmsgHub, ClientIsConnectedOnlyOnceItsHelloIsAccepted) {
    pid_t holder = pc::test::spawn_helper("axmsg_peer_helper", {"serve", "29"});
    ASSERT_TRUE(core_send_becomes(29, 0));
    const std::string log = "/tmp/axmsg_held_client.log";
    pid_t client = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/axmsg_peer_helper",
                                           {"held", "29"}, {}, log);
    // The id is freed only once the client has found it held.
    ASSERT_TRUE(pc::test::wait_for_text(log, "not connected while held", std::chrono::seconds(30)))
        << pc::test::read_file(log);
    kill(holder, SIGKILL);
    pc::test::wait_child(holder);
    EXPECT_EQ(pc::test::wait_child_for(client, 30000), 0);
}

// A connection speaks only for its own process on this unit.
TEST_F(AxmsgHub, MessagesInAnotherProcesssNameAreDropped) {
    RawPeer peer;
    ASSERT_TRUE(peer.hello(15));
    int before;
    {
        std::lock_guard<std::mutex> guard(g_rx.lock);
        before = g_rx.count;
    }
    AXMSG_HEADER_T as_core = make_header(PID_CORE, PID_CORE, kTestMid, 1);
    AXMSG_HEADER_T as_other = make_header(16, PID_CORE, kTestMid, 1);
    AXMSG_HEADER_T other_unit = make_header(15, PID_CORE, kTestMid, 1);
    other_unit.src_unit = 2;
    for (const auto &h : {as_core, as_other, other_unit}) ASSERT_TRUE(peer.send(h, {0xEE}));
    ASSERT_TRUE(peer.send(make_header(15, PID_CORE, kTestMid, 1), {0x15}));
    ASSERT_TRUE(wait_received(before + 1));
    EXPECT_TRUE(peer.echo(15, {1}));  // everything sent before it was routed
    std::lock_guard<std::mutex> guard(g_rx.lock);
    EXPECT_EQ(g_rx.count, before + 1);
    EXPECT_EQ(g_rx.src_proc, 15u);
    EXPECT_EQ(g_rx.data, std::vector<uint8_t>{0x15});
}

// Hellos are collected beside the accept path: a peer dribbling its hello
// (one byte every 300 ms) holds nobody back and is dropped at the hello's
// deadline although it never stops sending; a crowd of silent connections
// beyond the waiting room does not lock new processes out.
TEST_F(AxmsgHub, SlowAndSilentHellosHoldNobodyBack) {
    RawPeer slow;
    ASSERT_TRUE(slow.connected());
    std::atomic<bool> stop{false};
    std::thread dribble([&] {
        AXMSG_HEADER_T h = make_header(23, PID_CORE, MID_AXMSG, AXMSG_HELLO_LEN);
        uint8_t bytes[AXMSG_HEADER_LEN + AXMSG_HELLO_LEN]{};
        std::memcpy(bytes, &h, sizeof h);
        for (size_t i = 0; i < sizeof bytes && !stop; ++i) {
            if (::send(slow.fd(), bytes + i, 1, MSG_NOSIGNAL) != 1) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    std::vector<std::unique_ptr<RawPeer>> silent;
    for (int i = 0; i < 40; ++i) silent.push_back(std::make_unique<RawPeer>());
    auto start = std::chrono::steady_clock::now();
    RawPeer quick;
    ASSERT_TRUE(quick.hello(24));
    EXPECT_TRUE(quick.echo(24, {1, 2}));
    // Well inside the dribbler's 11 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_TRUE(slow.closed_by_hub());
    stop = true;
    dribble.join();
    EXPECT_TRUE(quick.echo(24, {3}));
}

// A peer that stops reading is disconnected once its socket stays full;
// senders get -1 instead of hanging, and other peers are served meanwhile.
TEST_F(AxmsgHub, PeerThatStopsReadingIsDisconnected) {
    RawPeer stuck;
    ASSERT_TRUE(stuck.hello(25));
    ASSERT_TRUE(core_send_becomes(25, 0));
    std::vector<uint8_t> big(1024 * 1024, 0x5A);
    iovec piece{big.data(), big.size()};
    int rc = 0;
    int sent = 0;
    auto start = std::chrono::steady_clock::now();
    while (rc == 0 && sent < 256) {
        AXMSG_T m{};
        m.dst_unit = 1;
        m.dst_proc = 25;
        m.msg_type = kTestMid;
        m.iov = &piece;
        m.iov_num = 1;
        rc = axmsg_send(&m);
        ++sent;
    }
    EXPECT_EQ(rc, -1) << "after " << sent << " MiB";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_TRUE(core_send_becomes(25, -1));
    RawPeer other;
    ASSERT_TRUE(other.hello(26));
    EXPECT_TRUE(other.echo(26, {9}));
}

// A header alone reserves no payload buffer: peers that announce the
// largest message and fall silent hold what they sent, not what they
// announced.
TEST_F(AxmsgHub, AnnouncedLengthReservesNoMemory) {
    unsigned before = 0;
    pal_alloc_resource_usage_get(&before, nullptr);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (uint32_t pid = 30; pid < 50; ++pid) {
        auto p = std::make_unique<RawPeer>();
        ASSERT_TRUE(p->hello(pid));
        ASSERT_TRUE(p->echo(pid, {1}));
        ASSERT_TRUE(p->send(make_header(pid, PID_CORE, kTestMid, AXMSG_MAX_DATA_LEN), {1, 2, 3}));
        peers.push_back(std::move(p));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    unsigned after = 0;
    pal_alloc_resource_usage_get(&after, nullptr);
    // 20 peers x 16 MiB announced; each holds its 64 KiB read buffer.
    EXPECT_LT(after - std::min(after, before), 8u * 1024 * 1024);
}

}  // namespace

// A process restarting while its old connection's reader is busy (here
// blocked forwarding to a peer that never reads, up to the hub's write
// limit) takes over at once: the old connection is dead, so its hello is
// not refused, and the new connection serves. A hello for an id whose
// connection is alive is refused meanwhile, without waiting for the writer
// that holds that connection.
TEST_F(AxmsgHub, RestartedProcessTakesOverFromADeadConnectionWhoseReaderIsBusy) {
    RawPeer sink(4096);  // a small window, and it never reads
    ASSERT_TRUE(sink.hello(27));
    ASSERT_TRUE(sink.echo(27, {1}));
    auto old = std::make_unique<RawPeer>();
    ASSERT_TRUE(old->hello(28));
    ASSERT_TRUE(old->echo(28, {1}));

    // One message larger than the way to the sink holds: the hub reads it
    // whole, then its reader for `old` blocks in the write to the sink.
    std::vector<uint8_t> big(12 * 1024 * 1024, 0xA5);
    std::thread flood([&] {
        ASSERT_TRUE(old->send(make_header(28, 27, kTestMid, static_cast<uint32_t>(big.size())), big));
    });
    flood.join();
    // The hub has read it all once nothing waits in our send queue (a FIN
    // would queue behind unsent bytes).
    for (int i = 0, queued = 1; i < 500 && queued > 0; ++i) {
        ioctl(old->fd(), SIOCOUTQ, &queued);
        if (queued > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto stalled = std::chrono::steady_clock::now();
    // Sent behind the big message, it waits for the busy reader; once the
    // new connection has taken over it speaks for a process that is gone
    // (its echo would reach the new one), and is dropped.
    ASSERT_TRUE(old->send(make_header(28, PID_CORE, MID_AXMSG, 2), {AXMSG_DBG_ECHO, 9}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    RawPeer impostor;  // the sink is alive: its id stays taken
    ASSERT_TRUE(impostor.hello(27));
    EXPECT_TRUE(impostor.closed_by_hub());

    old.reset();  // the process dies
    RawPeer fresh;
    ASSERT_TRUE(fresh.hello(28));
    EXPECT_TRUE(fresh.echo(28, {2, 3}));
    // Inside the write limit that still holds the old reader.
    EXPECT_LT(std::chrono::steady_clock::now() - stalled, std::chrono::milliseconds(2500));
    // The old reader leaves later without touching the new connection.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_TRUE(fresh.echo(28, {4}));
    EXPECT_TRUE(core_send_becomes(28, 0));
}
