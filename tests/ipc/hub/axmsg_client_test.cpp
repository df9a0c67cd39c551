// The messaging client: this test program is an application process; the
// core runs as a helper process that can be killed and started again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

constexpr int kSelfPid = 30;
constexpr uint32_t kLocalMid = 60;
constexpr unsigned kWaitMs = 10000;

struct Replies {
    std::mutex lock;
    std::condition_variable cv;
    int count = 0;
    std::vector<uint8_t> last;
    std::thread::id thread;
};
Replies g_replies;

int on_message(AXMSG_T *msg) {
    std::lock_guard<std::mutex> guard(g_replies.lock);
    auto *p = static_cast<uint8_t *>(msg->data);
    g_replies.last.assign(p, p + msg->data_len);
    g_replies.thread = std::this_thread::get_id();
    ++g_replies.count;
    g_replies.cv.notify_all();
    return 0;
}

AXMSG_T message_to(uint32_t proc, uint32_t mid, iovec *piece) {
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = proc;
    m.msg_type = mid;
    m.iov = piece;
    m.iov_num = 1;
    return m;
}

// Sends a debug echo to the core and waits for it to come back.
bool echo_round_trip(uint8_t tag, bool multicast = false) {
    int before;
    {
        std::lock_guard<std::mutex> guard(g_replies.lock);
        before = g_replies.count;
    }
    uint8_t payload[] = {AXMSG_DBG_ECHO, tag};
    iovec piece{payload, sizeof payload};
    AXMSG_T m = message_to(PID_CORE, MID_AXMSG, &piece);
    if (multicast) m.dst_unit = 1u << 1;
    if ((multicast ? axmsg_mcast_send(&m) : axmsg_send(&m)) != 0) return false;
    std::unique_lock<std::mutex> lock(g_replies.lock);
    return g_replies.cv.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
        return g_replies.count > before;
    }) && g_replies.last == std::vector<uint8_t>(payload, payload + sizeof payload);
}

bool wait_disconnected() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (axmsg_client_connected()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void stop_core(pid_t core, int sig) {
    kill(core, sig);
    pc::test::wait_child(core);
}

TEST(AxmsgClient, InitRefusesWrongIdentity) {
    simProcessSetPid(kSelfPid);
    EXPECT_EQ(axmsg_client_init(PID_CORE, 0), -1);
    EXPECT_EQ(axmsg_client_init(64, 0), -1);
    EXPECT_EQ(axmsg_client_init(kSelfPid + 1, 0), -1);  // not this process's id
}

TEST(AxmsgClient, TalksThroughTheHubAndReconnectsAfterCoreRestart) {
    simProcessSetPid(kSelfPid);
    ASSERT_EQ(axmsg_reg(AXMSG_ECHO_REPLY_MID, on_message), 0);
    ASSERT_EQ(axmsg_reg(kLocalMid, on_message), 0);

    // Without a hub: init reports that it is still trying, sends fail.
    ASSERT_EQ(axmsg_client_init(kSelfPid, 0), 1);
    EXPECT_EQ(axmsg_client_init(kSelfPid, 0), -1);  // already running
    EXPECT_FALSE(echo_round_trip(1));

    pid_t core = pc::test::spawn_helper("axmsg_core_helper", {});
    ASSERT_EQ(axmsg_client_wait_connected(kWaitMs), 0);
    EXPECT_TRUE(echo_round_trip(2));
    EXPECT_TRUE(echo_round_trip(3, /*multicast=*/true));

    // A message to this process itself is delivered on the caller's thread.
    uint8_t local[] = {9, 8, 7};
    iovec piece{local, sizeof local};
    AXMSG_T m = message_to(kSelfPid, kLocalMid, &piece);
    ASSERT_EQ(axmsg_send(&m), 0);
    {
        std::lock_guard<std::mutex> guard(g_replies.lock);
        EXPECT_EQ(g_replies.thread, std::this_thread::get_id());
        EXPECT_EQ(g_replies.last, std::vector<uint8_t>(local, local + sizeof local));
    }

    stop_core(core, SIGKILL);
    ASSERT_TRUE(wait_disconnected());
    EXPECT_FALSE(echo_round_trip(4));

    unsigned connects = axmsg_client_connect_count();
    core = pc::test::spawn_helper("axmsg_core_helper", {});
    ASSERT_EQ(axmsg_client_wait_connected(kWaitMs), 0);
    EXPECT_EQ(axmsg_client_connect_count(), connects + 1);
    EXPECT_TRUE(echo_round_trip(5));

    EXPECT_EQ(axmsg_client_close(), 0);
    EXPECT_FALSE(axmsg_client_connected());
    EXPECT_FALSE(echo_round_trip(6));
    stop_core(core, SIGTERM);
}

// ---- A caller that waits reads the connection itself ------------------------
//
// The test plays the hub with a plain socket, so it decides exactly what
// arrives, in what pieces and when.

constexpr uint32_t kReplyMid = 61;  // the type a waiting caller delivers itself
constexpr uint32_t kOtherMid = 62;  // every other message goes to the reader thread
constexpr int kHubWaitMs = 10000;

// Who got which message, on which thread.
struct Seen {
    std::mutex lock;
    std::condition_variable cv;
    std::map<std::pair<uint32_t, uint8_t>, int> count;  // (type, token) -> deliveries
    std::map<std::pair<uint32_t, uint8_t>, std::thread::id> thread;
};
Seen g_seen;

constexpr uint8_t kSlowToken = 200;  // its handler takes a while

int on_seen(AXMSG_T *msg) {
    uint8_t token = msg->data_len > 0 ? static_cast<uint8_t *>(msg->data)[0] : 0;
    if (token == kSlowToken) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> guard(g_seen.lock);
    ++g_seen.count[{msg->msg_type, token}];
    g_seen.thread[{msg->msg_type, token}] = std::this_thread::get_id();
    g_seen.cv.notify_all();
    return 0;
}

int seen_count(uint32_t mid, uint8_t token) {
    std::lock_guard<std::mutex> guard(g_seen.lock);
    auto it = g_seen.count.find({mid, token});
    return it == g_seen.count.end() ? 0 : it->second;
}

std::thread::id seen_thread(uint32_t mid, uint8_t token) {
    std::lock_guard<std::mutex> guard(g_seen.lock);
    return g_seen.thread[{mid, token}];
}

bool wait_seen(uint32_t mid, uint8_t token, int timeout_ms = kHubWaitMs) {
    std::unique_lock<std::mutex> lock(g_seen.lock);
    return g_seen.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        return g_seen.count[{mid, token}] > 0;
    });
}

// What a waiting caller waits for: one reply token; `asked` counts how often
// the client consulted it (once before it takes the read role, then each
// time it is about to sleep on the socket).
struct Expect {
    uint8_t token;
    std::atomic<int> asked{0};
};

int reply_arrived(void *arg) {
    auto *e = static_cast<Expect *>(arg);
    e->asked.fetch_add(1);
    return seen_count(kReplyMid, e->token) > 0 ? 1 : 0;
}

// The bytes of one message from the core to this process.
std::vector<uint8_t> frame(uint32_t mid, uint8_t token, size_t payload_len = 8) {
    std::vector<uint8_t> payload(payload_len, 0xA5);
    payload[0] = token;
    iovec piece{payload.data(), payload.size()};
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = kSelfPid;
    m.src_unit = 1;
    m.src_proc = PID_CORE;
    m.msg_type = mid;
    m.iov = &piece;
    m.iov_num = 1;
    AXMSG_HEADER_T h;
    axmsg_create_header(&h, &m, 0);
    std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(&h), reinterpret_cast<uint8_t *>(&h) + sizeof h);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

class FakeHub {
public:
    FakeHub() {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(AXMSG_SERV_PORT);
        inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
        listening_ = bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
                     listen(listen_fd_, 4) == 0;
    }
    ~FakeHub() {
        if (fd_ >= 0) close(fd_);
        close(listen_fd_);
    }
    bool listening() const { return listening_; }

    // Accepts the client, reads its hello and answers the echo with which
    // the client learns that the hello was accepted, as the hub does.
    bool accept_client() {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, kHubWaitMs) != 1) return false;
        if (fd_ >= 0) close(fd_);
        fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        uint8_t hello[AXMSG_HEADER_LEN + AXMSG_HELLO_LEN];
        AXMSG_HEADER_T h{};
        if (fd_ < 0 || !read_all(hello, sizeof hello) || !read_all(&h, sizeof h)) return false;
        std::vector<uint8_t> payload(h.data_len);
        if (!read_all(payload.data(), payload.size()) || h.msg_type != MID_AXMSG || payload.empty() ||
            payload[0] != AXMSG_DBG_ECHO)
            return false;
        std::swap(h.src_proc, h.dst_proc);
        h.msg_type = AXMSG_ECHO_REPLY_MID;
        std::vector<uint8_t> reply(reinterpret_cast<uint8_t *>(&h),
                                   reinterpret_cast<uint8_t *>(&h) + sizeof h);
        reply.insert(reply.end(), payload.begin(), payload.end());
        return send(reply);
    }
    bool send(const std::vector<uint8_t> &bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    void hang_up() {
        close(fd_);
        fd_ = -1;
    }

private:
    bool read_all(void *buf, size_t len) {
        size_t got = 0;
        while (got < len) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, kHubWaitMs) != 1) return false;
            ssize_t n = read(fd_, static_cast<uint8_t *>(buf) + got, len - got);
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    int listen_fd_ = -1;
    int fd_ = -1;
    bool listening_ = false;
};

class ClientWait : public ::testing::Test {
protected:
    void SetUp() override {
        simProcessSetPid(kSelfPid);
        ASSERT_TRUE(hub.listening());
        ASSERT_EQ(axmsg_reg(kReplyMid, on_seen), 0);
        ASSERT_EQ(axmsg_reg(kOtherMid, on_seen), 0);
        ASSERT_GE(axmsg_client_init(kSelfPid, 0), 0);
        ASSERT_TRUE(hub.accept_client());
        ASSERT_EQ(axmsg_client_wait_connected(kHubWaitMs), 0);
    }
    void TearDown() override { EXPECT_EQ(axmsg_client_close(), 0); }

    // Starts a caller waiting for reply `e.token` and returns once it reads
    // the socket itself (it asked a second time, about to sleep on it).
    std::thread start_waiter(Expect &e, int &result, std::thread::id &id, unsigned timeout_ms) {
        std::thread t([&e, &result, &id, timeout_ms] {
            id = std::this_thread::get_id();
            result = axmsg_transport_wait(kReplyMid, reply_arrived, &e, timeout_ms);
        });
        for (int i = 0; i < kHubWaitMs && e.asked.load() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return t;
    }

    FakeHub hub;
};

TEST_F(ClientWait, CallerReadsItsReplyAndHandsTheRestToTheReader) {
    Expect e{1};
    int result = 99;
    std::thread::id caller;
    std::thread waiter = start_waiter(e, result, caller, kHubWaitMs);
    ASSERT_GE(e.asked.load(), 2) << "the caller never read the connection itself";

    // A message for the reader first, then the reply in two pieces, and a
    // second message for the reader in the same write as the reply's tail.
    ASSERT_TRUE(hub.send(frame(kOtherMid, 1)));
    std::vector<uint8_t> reply = frame(kReplyMid, 1);
    std::vector<uint8_t> head(reply.begin(), reply.begin() + 10);
    std::vector<uint8_t> tail(reply.begin() + 10, reply.end());
    std::vector<uint8_t> other = frame(kOtherMid, 2);
    tail.insert(tail.end(), other.begin(), other.end());
    ASSERT_TRUE(hub.send(head));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(hub.send(tail));
    waiter.join();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen_count(kReplyMid, 1), 1);
    EXPECT_EQ(seen_thread(kReplyMid, 1), caller) << "the reply went through another thread";
    for (uint8_t token : {1, 2}) {
        ASSERT_TRUE(wait_seen(kOtherMid, token)) << "message " << int{token} << " for the reader was lost";
        EXPECT_EQ(seen_count(kOtherMid, token), 1);
        EXPECT_NE(seen_thread(kOtherMid, token), caller) << "a handler ran inside the waiting caller";
    }

    // The caller is gone: the reader thread reads again, replies included.
    ASSERT_TRUE(hub.send(frame(kReplyMid, 3)));
    ASSERT_TRUE(wait_seen(kReplyMid, 3));
    EXPECT_NE(seen_thread(kReplyMid, 3), caller);

    // A reply and a message for the reader read together, with the reader
    // thread asleep on the socket: the caller hands the message over before
    // it leaves.
    Expect e2{7};
    waiter = start_waiter(e2, result, caller, kHubWaitMs);
    ASSERT_GE(e2.asked.load(), 2);
    std::vector<uint8_t> both = frame(kReplyMid, 7);
    other = frame(kOtherMid, 8);
    both.insert(both.end(), other.begin(), other.end());
    ASSERT_TRUE(hub.send(both));
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen_thread(kReplyMid, 7), caller);
    ASSERT_TRUE(wait_seen(kOtherMid, 8, 2000)) << "a message read with the reply was stranded";
    EXPECT_NE(seen_thread(kOtherMid, 8), caller);
}

TEST_F(ClientWait, BytesArrivingWhileTheCallerHandlesItsReplyAreNotStranded) {
    Expect e{kSlowToken};
    int result = 99;
    std::thread::id caller;
    std::thread waiter = start_waiter(e, result, caller, kHubWaitMs);
    ASSERT_GE(e.asked.load(), 2);
    ASSERT_TRUE(hub.send(frame(kReplyMid, kSlowToken)));
    // Arrives while the caller runs the reply's handler: the reader thread
    // sees it come and finds the connection taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(hub.send(frame(kOtherMid, 21)));
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(wait_seen(kOtherMid, 21, 2000)) << "the message that came meanwhile was never read";
}

TEST_F(ClientWait, TimeOutGivesTheConnectionBackToTheReader) {
    Expect e{4};
    int result = 99;
    std::thread::id caller;
    auto t0 = std::chrono::steady_clock::now();
    std::thread waiter = start_waiter(e, result, caller, 300);
    waiter.join();
    EXPECT_EQ(result, -1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));

    ASSERT_TRUE(hub.send(frame(kReplyMid, 4)));  // too late for the caller
    ASSERT_TRUE(wait_seen(kReplyMid, 4));
    EXPECT_NE(seen_thread(kReplyMid, 4), caller);
}

// A caller that read its reply itself leaves the connection without
// watching it again; the reader thread still reads what comes later, and a
// thread that says it will wait by its own means (no `done`) gets its reply
// through the reader thread.
TEST_F(ClientWait, AfterACallerTheReaderThreadReadsAgain) {
    Expect e{30};
    int result = 99;
    std::thread::id caller;
    std::thread waiter = start_waiter(e, result, caller, kHubWaitMs);
    ASSERT_GE(e.asked.load(), 2);
    ASSERT_TRUE(hub.send(frame(kReplyMid, 30)));
    waiter.join();
    ASSERT_EQ(result, 1);

    ASSERT_TRUE(hub.send(frame(kOtherMid, 31)));
    ASSERT_TRUE(wait_seen(kOtherMid, 31, 2000)) << "a message after the call was never read";
    EXPECT_NE(seen_thread(kOtherMid, 31), caller);

    // Again a call read by its caller, then one that waits by other means.
    Expect e2{32};
    waiter = start_waiter(e2, result, caller, kHubWaitMs);
    ASSERT_TRUE(hub.send(frame(kReplyMid, 32)));
    waiter.join();
    ASSERT_EQ(result, 1);
    EXPECT_EQ(axmsg_transport_wait(kReplyMid, nullptr, nullptr, kHubWaitMs), 0);
    ASSERT_TRUE(hub.send(frame(kReplyMid, 33)));
    ASSERT_TRUE(wait_seen(kReplyMid, 33, 2000))
        << "the reply of a caller waiting by other means was never read";
    EXPECT_NE(seen_thread(kReplyMid, 33), std::this_thread::get_id());
}

void ignore_signal(int) {}

TEST_F(ClientWait, SignalsDuringTheWaitDoNotStretchItsTimeOut) {
    // A handler without SA_RESTART: every signal interrupts the caller's
    // read, sooner than the read's own time limit would end it.
    struct sigaction sa {
    }, old{};
    sa.sa_handler = ignore_signal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    Expect e{9};
    int result = 99;
    std::thread::id caller;
    std::atomic<bool> waiting{true};
    auto t0 = std::chrono::steady_clock::now();
    std::thread waiter([&] {
        caller = std::this_thread::get_id();
        result = axmsg_transport_wait(kReplyMid, reply_arrived, &e, 300);
        waiting.store(false);
    });
    const pthread_t target = waiter.native_handle();
    for (int i = 0; i < 1000 && waiting.load(); ++i) {
        pthread_kill(target, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto waited = std::chrono::steady_clock::now() - t0;
    waiter.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(result, -1);
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(1500)) << "the wait lasted as long as the signals";
}

TEST_F(ClientWait, HubClosingMidMessageEndsTheWaitAndTheClientReconnects) {
    Expect e{5};
    int result = 99;
    std::thread::id caller;
    unsigned connects = axmsg_client_connect_count();
    auto t0 = std::chrono::steady_clock::now();
    std::thread waiter = start_waiter(e, result, caller, kHubWaitMs);
    std::vector<uint8_t> half = frame(kReplyMid, 5);
    half.resize(AXMSG_HEADER_LEN + 3);
    ASSERT_TRUE(hub.send(half));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    hub.hang_up();
    waiter.join();
    EXPECT_EQ(result, 0) << "the caller must fall back to waiting by other means";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(kHubWaitMs / 2));
    EXPECT_EQ(seen_count(kReplyMid, 5), 0) << "half a message was delivered";

    ASSERT_TRUE(hub.accept_client());
    ASSERT_EQ(axmsg_client_wait_connected(kHubWaitMs), 0);
    EXPECT_EQ(axmsg_client_connect_count(), connects + 1);
    ASSERT_TRUE(hub.send(frame(kReplyMid, 6)));
    EXPECT_TRUE(wait_seen(kReplyMid, 6));
}

TEST_F(ClientWait, ManyCallersGetTheirRepliesInAnyOrder) {
    constexpr int kCallers = 6;
    constexpr uint8_t kFirstToken = 10;
    std::deque<Expect> expects;
    for (int i = 0; i < kCallers; ++i) expects.emplace_back().token = static_cast<uint8_t>(kFirstToken + i);
    std::atomic<int> read_self{0}, failed{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i)
        callers.emplace_back([&, i] {
            Expect &e = expects[static_cast<size_t>(i)];
            int rc = axmsg_transport_wait(kReplyMid, reply_arrived, &e, kHubWaitMs);
            if (rc == 1) ++read_self;
            // One caller at a time reads; the others sleep until their reply
            // comes through whoever reads it.
            if (rc == 0 && !wait_seen(kReplyMid, e.token)) ++failed;
            if (rc < 0) ++failed;
        });
    // Every caller waits, one of them reading the connection, before the
    // replies come.
    ASSERT_TRUE(pc::test::wait_until(
        [&] {
            int waiting = 0, reading = 0;
            for (const Expect &e : expects) {
                waiting += e.asked.load() >= 1 ? 1 : 0;
                reading += e.asked.load() >= 2 ? 1 : 0;
            }
            return waiting == kCallers && reading >= 1;
        },
        std::chrono::milliseconds(kHubWaitMs), std::chrono::milliseconds(1)));

    // Replies in reverse order between messages for the reader, cut into
    // pieces of any size.
    std::vector<uint8_t> stream;
    for (int i = kCallers - 1; i >= 0; --i) {
        std::vector<uint8_t> reply = frame(kReplyMid, static_cast<uint8_t>(kFirstToken + i), 40 + 13 * i);
        std::vector<uint8_t> other = frame(kOtherMid, static_cast<uint8_t>(kFirstToken + i));
        stream.insert(stream.end(), other.begin(), other.end());
        stream.insert(stream.end(), reply.begin(), reply.end());
    }
    std::mt19937 rng(17);
    for (size_t at = 0; at < stream.size();) {
        size_t n = std::min(stream.size() - at, size_t{1} + rng() % 90);
        ASSERT_TRUE(hub.send(std::vector<uint8_t>(stream.begin() + at, stream.begin() + at + n)));
        at += n;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    }
    for (auto &t : callers) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_GE(read_self.load(), 1) << "no caller ever read its own reply";
    for (int i = 0; i < kCallers; ++i) {
        auto token = static_cast<uint8_t>(kFirstToken + i);
        EXPECT_EQ(seen_count(kReplyMid, token), 1) << "reply " << int{token};
        EXPECT_TRUE(wait_seen(kOtherMid, token));
        EXPECT_EQ(seen_count(kOtherMid, token), 1) << "message " << int{token};
    }
}

}  // namespace
