// The unit transport over a simulated link. The link carries the
// transport's frames back into its own receive side, so its sender and its
// receiver talk across the link and both data frames and acknowledgements
// can be lost, duplicated and delayed.
#include <sys/uio.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/platform.h"
#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"
#include "platform_sim/sim_link.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kAckPatience{10};  // for the receiver's thread to acknowledge

// Messages the transport delivered, in order.
struct Inbox {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<Bytes> msgs;

    bool wait_for(size_t n, int ms = 60000) {
        std::unique_lock<std::mutex> g(lock);
        return cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return msgs.size() >= n; });
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock);
        msgs.clear();
    }
    size_t size() {
        std::lock_guard<std::mutex> g(lock);
        return msgs.size();
    }
    // A copy of message `i`, which must have arrived.
    Bytes at(size_t i) {
        std::lock_guard<std::mutex> g(lock);
        return msgs.at(i);
    }
};
Inbox g_inbox;

int on_message(uint32_t unit, uint8_t *data, uint32_t len) {
    EXPECT_EQ(unit, UNIT_1);
    std::lock_guard<std::mutex> g(g_inbox.lock);
    g_inbox.msgs.emplace_back(data, data + len);
    g_inbox.cv.notify_all();
    return 0;
}

// Every frame handed to the link.
struct Tap {
    std::mutex lock;
    std::vector<Bytes> frames;
    std::vector<Bytes> of_type(uint8_t type) {
        std::lock_guard<std::mutex> g(lock);
        std::vector<Bytes> out;
        for (auto &f : frames)
            if (!f.empty() && f[0] == type) out.push_back(f);
        return out;
    }
    // Data frames as first sent: a copy the resend timer sent again on a
    // slow machine is left out.
    std::vector<Bytes> first_data() {
        std::vector<Bytes> out;
        for (auto &f : of_type(UTP_FRAME_DATA)) {
            bool seen = false;
            for (auto &o : out)
                seen = seen || (std::memcmp(&o[4], &f[4], 4) == 0 && std::memcmp(&o[16], &f[16], 4) == 0);
            if (!seen) out.push_back(f);
        }
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> g(lock);
        frames.clear();
    }
};
Tap g_tap;

void tap(const uint8_t *frame, uint32_t len, void *) {
    std::lock_guard<std::mutex> g(g_tap.lock);
    g_tap.frames.emplace_back(frame, frame + len);
}

uint32_t be32(const Bytes &f, size_t at) {
    return (uint32_t{f[at]} << 24) | (uint32_t{f[at + 1]} << 16) | (uint32_t{f[at + 2]} << 8) | f[at + 3];
}
uint32_t sno_of(const Bytes &f) { return be32(f, 4); }
uint32_t stat_of(const Bytes &f) { return be32(f, 12); }
uint32_t txnid_of(const Bytes &f) { return be32(f, 16); }
uint32_t len_of(const Bytes &f) { return be32(f, 24); }
uint32_t frames_of(const Bytes &f) { return be32(f, 28); }
bool last_of(const Bytes &f) { return f[21] != 0; }

Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto &c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

int send(const Bytes &msg) {
    iovec iov{const_cast<uint8_t *>(msg.data()), msg.size()};
    return utp_sendmsg(UNIT_1, &iov, 1);
}

class UtpTransport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(timer_init(), 0);
        ASSERT_EQ(utp_initiation(), 0);
        ASSERT_EQ(utp_rx_register(UNIT_1, on_message), 0);
        ASSERT_EQ(utp_link_set(simLinkTx, nullptr), 0);
    }
    void SetUp() override {
        simLinkConfigure(0, 0, 0, 1);
        simLinkTap(tap, nullptr);
        ASSERT_EQ(simLinkStart(utp_rx, UNIT_1), 0);
        ASSERT_EQ(utp_setunitstate(UNIT_1, UTP_UNIT_ENABLE), 0);
        g_inbox.clear();
        g_tap.clear();
    }
    void TearDown() override {
        utp_setunitstate(UNIT_1, UTP_UNIT_DISABLE);
        simLinkStop();
        simLinkTap(nullptr, nullptr);
    }
};

TEST_F(UtpTransport, MessagesArriveIntactAndInOrderOverALossyLink) {
    simLinkConfigure(100, 20, 300, 7);  // 10% lost, 2% twice, up to 0.3 ms late
    const size_t sizes[] = {1, 99, 1468, 1469, 1000000, 5, 3000};
    std::vector<Bytes> sent;
    uint32_t resends_before = utp_resend_count();
    for (size_t i = 0; i < std::size(sizes); ++i) {
        sent.push_back(pattern(sizes[i], static_cast<uint32_t>(i)));
        if (sizes[i] == 1000000) {
            // Pieces that do not line up with frames.
            const Bytes &m = sent.back();
            iovec iov[3] = {{const_cast<uint8_t *>(m.data()), 32},
                            {const_cast<uint8_t *>(m.data()) + 32, 700000},
                            {const_cast<uint8_t *>(m.data()) + 700032, m.size() - 700032}};
            ASSERT_EQ(utp_sendmsg(UNIT_1, iov, 3), 0);
        } else {
            ASSERT_EQ(send(sent.back()), 0) << sizes[i];
        }
    }
    ASSERT_TRUE(g_inbox.wait_for(sent.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing more arrives
    std::lock_guard<std::mutex> g(g_inbox.lock);
    ASSERT_EQ(g_inbox.msgs.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(g_inbox.msgs[i], sent[i]) << "message " << i;
    EXPECT_GT(simLinkLost(), 0u);
    EXPECT_GT(utp_resend_count(), resends_before);
}

TEST_F(UtpTransport, MessagesAreCutIntoFramesOf1468Bytes) {
    struct Case {
        size_t size;
        std::vector<uint32_t> lens;
    };
    const Case cases[] = {{1468, {1468}}, {1469, {1468, 1}}, {2 * 1468 + 100, {1468, 1468, 100}}};
    for (const auto &c : cases) {
        g_tap.clear();
        g_inbox.clear();
        ASSERT_EQ(send(pattern(c.size, 3)), 0);
        ASSERT_TRUE(g_inbox.wait_for(1));
        auto data = g_tap.first_data();
        ASSERT_EQ(data.size(), c.lens.size()) << c.size;
        for (size_t i = 0; i < data.size(); ++i) {
            EXPECT_EQ(sno_of(data[i]), i);
            EXPECT_EQ(len_of(data[i]), c.lens[i]);
            EXPECT_EQ(frames_of(data[i]), c.lens.size());
            EXPECT_EQ(last_of(data[i]), i + 1 == data.size());
            EXPECT_EQ(stat_of(data[i]), i + 1 == data.size() ? UTP_STAT_ASK_ACK : UTP_STAT_SENT);
            EXPECT_EQ(data[i].size(), UTP_FRAME_MAX);  // data frames are sent whole, zero-padded
        }
    }
}

TEST_F(UtpTransport, FrameAtTheEndOfABlockAsksForAnAcknowledgement) {
    ASSERT_EQ(send(pattern(300 * 1468, 4)), 0);
    ASSERT_TRUE(g_inbox.wait_for(1));
    auto data = g_tap.first_data();
    ASSERT_EQ(data.size(), 300u);
    for (auto &f : data) {
        uint32_t sno = sno_of(f);
        EXPECT_EQ(stat_of(f), (sno == 255 || sno == 299) ? UTP_STAT_ASK_ACK : UTP_STAT_SENT) << sno;
    }
}

TEST_F(UtpTransport, SmallMessagesAreMergedAndLeaveWithinAboutTenMilliseconds) {
    auto start = Clock::now();
    ASSERT_EQ(send(pattern(99, 5)), 0);
    ASSERT_TRUE(g_inbox.wait_for(1, 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    auto data = g_tap.first_data();
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0][20], 1);  // merged
    EXPECT_EQ(be32(data[0], 8), 1u);

    // Ten waiting messages leave at once as one frame.
    g_tap.clear();
    g_inbox.clear();
    std::vector<Bytes> sent;
    for (uint32_t i = 0; i < 10; ++i) {
        sent.push_back(pattern(10 + i, 100 + i));
        ASSERT_EQ(send(sent.back()), 0);
    }
    ASSERT_TRUE(g_inbox.wait_for(10));
    data = g_tap.first_data();
    ASSERT_GE(data.size(), 1u);
    uint32_t carried = 0;
    for (auto &f : data) carried += be32(f, 8);
    EXPECT_EQ(carried, 10u);
    std::lock_guard<std::mutex> g(g_inbox.lock);
    EXPECT_EQ(g_inbox.msgs, sent);
}

TEST_F(UtpTransport, TransactionIdsWrapAfter1023) {
    ASSERT_EQ(utp_setCurTxnId(1022, UNIT_1), 0);
    for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(send(pattern(200, i)), 0);
    ASSERT_TRUE(g_inbox.wait_for(3));
    auto data = g_tap.first_data();
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(txnid_of(data[0]), 1023u);
    EXPECT_EQ(txnid_of(data[1]), 0u);
    EXPECT_EQ(txnid_of(data[2]), 1u);
    EXPECT_EQ(utp_getCurTxnId(UNIT_1), 1u);
}

TEST_F(UtpTransport, LostFrameIsAskedForOnceAndTheTransactionCompletes) {
    simLinkDropNext(UTP_FRAME_DATA, 3, 1);
    Bytes msg = pattern(5 * 1468, 6);
    ASSERT_EQ(send(msg), 0);
    ASSERT_TRUE(g_inbox.wait_for(1));
    // Only frame 3 is asked for (again only if the last frame was resent
    // meanwhile), and the transaction ends complete.
    auto acks = g_tap.of_type(UTP_FRAME_ACK);
    ASSERT_GE(acks.size(), 2u);
    for (size_t i = 0; i + 1 < acks.size(); ++i) {
        EXPECT_EQ(stat_of(acks[i]), UTP_ACK_RESEND);
        EXPECT_EQ(sno_of(acks[i]), 3u);
    }
    EXPECT_EQ(stat_of(acks.back()), UTP_ACK_COMPLETE);
    auto data = g_tap.of_type(UTP_FRAME_DATA);
    ASSERT_GE(data.size(), 6u);
    EXPECT_EQ(sno_of(data[5]), 3u);
    EXPECT_EQ(stat_of(data[5]), UTP_STAT_RESENT);
    std::lock_guard<std::mutex> g(g_inbox.lock);
    EXPECT_EQ(g_inbox.msgs[0], msg);
}

TEST_F(UtpTransport, LostAcknowledgementIsRecoveredByTheResendTimerWithoutSecondDelivery) {
    simLinkDropNext(UTP_FRAME_ACK, 0, 1);  // the "complete" of a one-frame transaction
    Bytes msg = pattern(500, 8);
    ASSERT_EQ(send(msg), 0);  // returns once the resent frame is acknowledged
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> g(g_inbox.lock);
    ASSERT_EQ(g_inbox.msgs.size(), 1u);
    EXPECT_EQ(g_inbox.msgs[0], msg);
}

TEST_F(UtpTransport, DisablingTheUnitDuringASendEndsItWithMinusOne) {
    simLinkConfigure(1000, 0, 0, 1);  // nothing gets through
    int rc = 0;
    std::thread sender([&] { rc = send(pattern(4000, 9)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(utp_setunitstate(UNIT_1, UTP_UNIT_DISABLE), 0);
    sender.join();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(send(pattern(200, 1)), -1);  // disabled
}

TEST_F(UtpTransport, BadArgumentsAreRefused) {
    Bytes m = pattern(10, 1);
    iovec iov{m.data(), m.size()};
    EXPECT_EQ(utp_sendmsg(0, &iov, 1), -1);
    EXPECT_EQ(utp_sendmsg(2, &iov, 1), -1);
    EXPECT_EQ(utp_sendmsg(UNIT_1, nullptr, 1), -1);
    EXPECT_EQ(utp_sendmsg(UNIT_1, &iov, 0), -1);
    Bytes big(UTP_MSG_MAX_LEN + 1);
    iovec bigv{big.data(), big.size()};
    EXPECT_EQ(utp_sendmsg(UNIT_1, &bigv, 1), -1);
    EXPECT_EQ(utp_rx_register(2, on_message), -1);
    EXPECT_EQ(utp_getunitstate(3), 0u);
    EXPECT_EQ(utp_rx(nullptr), -1);
}

// A data frame: headers then `data`.
Bytes data_frame(uint32_t sno, uint32_t stat, uint32_t txnid, uint8_t merged, uint8_t last, uint32_t len,
                 uint32_t frames, size_t data_bytes, uint32_t txnnum = 0) {
    Bytes f(32 + data_bytes);
    auto put = [&](size_t at, uint32_t v) {
        f[at] = static_cast<uint8_t>(v >> 24);
        f[at + 1] = static_cast<uint8_t>(v >> 16);
        f[at + 2] = static_cast<uint8_t>(v >> 8);
        f[at + 3] = static_cast<uint8_t>(v);
    };
    f[0] = UTP_FRAME_DATA;
    put(4, sno);
    put(8, txnnum);
    put(12, stat);
    put(16, txnid);
    f[20] = merged;
    f[21] = last;
    put(24, len);
    put(28, frames);
    return f;
}

int rx_frame(const Bytes &frame) {
    Bytes packet(14 + frame.size());
    std::memcpy(packet.data() + 14, frame.data(), frame.size());
    AX_PACKET_T pkt{};
    pkt.data = packet.data();
    pkt.len = static_cast<uint32_t>(packet.size());
    pkt.rx_unit = UNIT_1;
    return utp_rx(&pkt);
}

TEST_F(UtpTransport, FramesOfBadLengthOrTypeAreRefused) {
    Bytes bad_record = data_frame(0, 5, 9, 1, 1, 104, 1, 104, 1);
    bad_record[32 + 3] = 101;  // a merged record longer than 100 bytes
    struct Case {
        const char *what;
        Bytes frame;
    };
    const Case cases[] = {
        {"shorter than a frame header", Bytes(15, UTP_FRAME_DATA)},
        {"unknown type",
         [] {
             Bytes f(64);
             f[0] = 30;
             return f;
         }()},
        {"data frame without a transaction header", Bytes(20, UTP_FRAME_DATA)},
        {"length beyond the frame", data_frame(0, 5, 9, 0, 1, 100, 1, 50)},
        {"length above 1468", data_frame(0, 5, 9, 0, 1, 1469, 1, 1468)},
        {"no frames", data_frame(0, 5, 9, 0, 1, 10, 0, 10)},
        {"more frames than the largest message", data_frame(0, 5, 9, 0, 0, 10, UTP_TXN_FRAMES_MAX + 1, 10)},
        {"huge frame count", data_frame(0, 5, 9, 0, 0, 10, 0xFFFFFFFFu, 10)},
        {"sno beyond the frame count", data_frame(7, 5, 9, 0, 0, 10, 7, 10)},
        {"unknown frame state", data_frame(0, 2, 9, 0, 1, 10, 1, 10)},
        {"transaction id above 1023", data_frame(0, 5, 1024, 0, 1, 10, 1, 10)},
        {"merged count above ten", data_frame(0, 5, 9, 1, 1, 1468, 1, 1468, 11)},
        {"merged records beyond the data", data_frame(0, 5, 9, 1, 1, 104, 1, 104, 2)},
        {"merged record too long", bad_record},
    };
    for (const auto &c : cases) EXPECT_EQ(rx_frame(c.frame), -1) << c.what;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> g(g_inbox.lock);
    EXPECT_TRUE(g_inbox.msgs.empty());
}

// Frames arrive at their full size (zero after the data) or cut after the
// data; both are taken, and acknowledgements are 16 bytes.
TEST_F(UtpTransport, DataFramesOfEitherSizeAreTaken) {
    Bytes exact = data_frame(0, 5, 80, 0, 1, 10, 1, 10);
    for (uint8_t i = 0; i < 10; ++i) exact[32 + i] = static_cast<uint8_t>(i + 1);
    Bytes full = exact;
    full[19] = 81;  // its own transaction
    full.resize(UTP_FRAME_MAX);
    for (const Bytes &f : {exact, full}) {
        g_inbox.clear();
        g_tap.clear();
        EXPECT_EQ(rx_frame(f), 0) << f.size();
        ASSERT_TRUE(g_inbox.wait_for(1)) << f.size();
        EXPECT_EQ(g_inbox.at(0), Bytes(f.begin() + 32, f.begin() + 42)) << f.size();
        // The receiver's thread acknowledges beside delivering: either may come first.
        EXPECT_TRUE(pc::test::wait_until([] { return !g_tap.of_type(UTP_FRAME_ACK).empty(); }, kAckPatience));
        auto acks = g_tap.of_type(UTP_FRAME_ACK);
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(acks[0].size(), UTP_FRAME_HDR_LEN);
    }
}

TEST_F(UtpTransport, FrameOfADeliveredTransactionIsAnsweredAndNotDeliveredAgain) {
    Bytes f = data_frame(0, 5, 77, 0, 1, 10, 1, 10);
    ASSERT_EQ(rx_frame(f), 0);
    ASSERT_TRUE(g_inbox.wait_for(1));
    ASSERT_EQ(rx_frame(f), 0);
    // Its second acknowledgement shows the copy has been handled.
    EXPECT_TRUE(pc::test::wait_until([] { return g_tap.of_type(UTP_FRAME_ACK).size() >= 2; }, kAckPatience));
    EXPECT_EQ(g_inbox.size(), 1u);
    auto acks = g_tap.of_type(UTP_FRAME_ACK);
    ASSERT_EQ(acks.size(), 2u);
    for (auto &a : acks) {
        EXPECT_EQ(stat_of(a), UTP_ACK_COMPLETE);
        EXPECT_EQ(be32(a, 8), 77u);
    }
}

TEST_F(UtpTransport, DumpListsTheQueuesAndTracesFollowTheLevel) {
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(utp_dump_queue(UNIT_1), 0);
        std::string text = out.text();
        for (const char *title : {"unit_1 stSendMng.stWin\n", "unit_1 stSendMng.stRecvCatch\n",
                                  "unit_1 stRecvMng.stRecvCatch\n", "[print queue]:\n"})
            EXPECT_NE(text.find(title), std::string::npos) << title;
    }
    EXPECT_EQ(utp_dump_queue(2), -1);
    uint8_t buf[UTP_FRAME_MAX];
    EXPECT_EQ(utp_recv(UNIT_1, 30, buf), -1);

    utp_debug_flag_set(1);
    EXPECT_EQ(utp_debug_flag(), 1u);
    std::string text;
    {
        pc::test::CaptureStdout out;
        ASSERT_EQ(send(pattern(200, 2)), 0);
        ASSERT_TRUE(g_inbox.wait_for(1));
        text = out.text();
    }
    utp_debug_flag_set(0);
    EXPECT_NE(text.find("unit1 ->unit1  D.  txn:"), std::string::npos) << text;
    EXPECT_NE(text.find("A.  txn:"), std::string::npos) << text;
}

}  // namespace
