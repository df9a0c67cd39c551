// The message header, the send checks and the blocking stream I/O.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "platform_core/axmsg.h"
#include "platform_core/pal.h"

namespace {

AXMSG_T valid_msg(iovec *piece) {
    AXMSG_T m{};
    m.dst_unit = 1;
    m.dst_proc = 2;
    m.src_unit = 1;
    m.src_proc = 1;
    m.msg_type = 7;
    m.iov = piece;
    m.iov_num = 1;
    return m;
}

TEST(AxmsgHeader, CreateAndParseRoundTrip) {
    char a[] = "abc";
    char b[] = "defgh";
    iovec pieces[] = {{a, 3}, {b, 5}};
    AXMSG_T m = valid_msg(pieces);
    m.iov_num = 2;
    std::vector<uint8_t> buf(AXMSG_HEADER_LEN + 8);
    auto *h = reinterpret_cast<AXMSG_HEADER_T *>(buf.data());
    ASSERT_EQ(axmsg_create_header(h, &m, 0), 0);
    EXPECT_EQ(h->marker, AXMSG_MARKER);
    EXPECT_EQ(h->command, AXMSG_CMD_UNICAST);
    EXPECT_EQ(h->check, AXMSG_CHECK);
    EXPECT_EQ(h->data_len, 8u);
    AXMSG_HEADER_T mc;
    ASSERT_EQ(axmsg_create_header(&mc, &m, 1), 0);
    EXPECT_EQ(mc.command, AXMSG_CMD_MULTICAST);

    AXMSG_T parsed{};
    ASSERT_EQ(axmsg_parse_header(&parsed, h), 0);
    EXPECT_EQ(parsed.dst_proc, 2u);
    EXPECT_EQ(parsed.src_proc, 1u);
    EXPECT_EQ(parsed.msg_type, 7u);
    EXPECT_EQ(parsed.data, buf.data() + AXMSG_HEADER_LEN);
    EXPECT_EQ(parsed.data_len, 8u);
    EXPECT_EQ(parsed.iov, nullptr);

    EXPECT_EQ(axmsg_create_header(nullptr, &m, 0), -1);
    EXPECT_EQ(axmsg_parse_header(nullptr, h), -1);
    EXPECT_EQ(axmsg_get_iov_total_len(nullptr, 2), 0u);
    EXPECT_EQ(axmsg_get_iov_total_len(pieces, 0), 0u);
}

TEST(AxmsgHeader, SwappedMarkerIsNotValid) {
    AXMSG_HEADER_T h{};
    h.marker = AXMSG_MARKER;
    h.check = AXMSG_CHECK;
    EXPECT_TRUE(axmsg_header_valid(&h));
    h.marker = 0xCDAB;
    EXPECT_FALSE(axmsg_header_valid(&h));
    h.marker = AXMSG_MARKER;
    h.check = 0x85FEEF58;
    EXPECT_FALSE(axmsg_header_valid(&h));
}

TEST(AxmsgCheck, UnicastRules) {
    char byte = 0;
    iovec piece{&byte, 0};  // a zero-length payload in one piece is valid
    struct Case {
        const char *what;
        void (*change)(AXMSG_T &);
        int expected;
    };
    const Case cases[] = {
        {"valid", [](AXMSG_T &) {}, 0},
        {"type 127", [](AXMSG_T &m) { m.msg_type = 127; }, 0},
        {"type 0", [](AXMSG_T &m) { m.msg_type = 0; }, -1},
        {"type 128", [](AXMSG_T &m) { m.msg_type = 128; }, -1},
        {"dst proc 63", [](AXMSG_T &m) { m.dst_proc = 63; }, 0},
        {"dst proc 64", [](AXMSG_T &m) { m.dst_proc = 64; }, -1},
        {"dst proc 0", [](AXMSG_T &m) { m.dst_proc = 0; }, -1},
        {"src proc 0", [](AXMSG_T &m) { m.src_proc = 0; }, -1},
        {"dst unit absent", [](AXMSG_T &m) { m.dst_unit = 2; }, -1},
        {"dst unit 0", [](AXMSG_T &m) { m.dst_unit = 0; }, -1},
        {"src unit absent", [](AXMSG_T &m) { m.src_unit = 5; }, -1},
        {"no pieces", [](AXMSG_T &m) { m.iov_num = 0; }, -1},
        {"null pieces", [](AXMSG_T &m) { m.iov = nullptr; }, -1},
    };
    for (const Case &c : cases) {
        AXMSG_T m = valid_msg(&piece);
        c.change(m);
        EXPECT_EQ(axmsg_check(&m), c.expected) << c.what;
    }
    EXPECT_EQ(axmsg_check(nullptr), -1);
}

TEST(AxmsgCheck, MulticastCountsUsableUnits) {
    char byte = 0;
    iovec piece{&byte, 1};
    AXMSG_T m = valid_msg(&piece);
    int count = -1;
    int unit = -1;
    m.dst_unit = (1u << 1) | (1u << 3);  // unit 3 does not exist in this build
    ASSERT_EQ(axmsg_multicast_check(&m, &count, &unit), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(unit, 1);
    m.dst_unit = (1u << 2) | (1u << 0);
    EXPECT_EQ(axmsg_multicast_check(&m, &count, &unit), -1);
    EXPECT_EQ(count, 0);
    m.dst_unit = 1u << 1;
    m.src_unit = 4;
    EXPECT_EQ(axmsg_multicast_check(&m, &count, &unit), -1);
    EXPECT_EQ(axmsg_multicast_check(&m, nullptr, &unit), -1);
}

TEST(AxmsgCheck, ContiguousCopyOfPieces) {
    char a[] = "hello ";
    char b[] = "world";
    iovec pieces[] = {{a, 6}, {nullptr, 0}, {b, 5}};
    AXMSG_T m{};
    ASSERT_EQ(axmsg_rcv_from_iov(&m, pieces, 3), 0);
    ASSERT_EQ(m.data_len, 11u);
    EXPECT_EQ(std::memcmp(m.data, "hello world", 11), 0);
    pal_free(m.data);
    EXPECT_EQ(axmsg_rcv_from_iov(&m, pieces, 0), -1);
    EXPECT_EQ(axmsg_rcv_from_iov(nullptr, pieces, 1), -1);
}

class AxmsgStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
    void TearDown() override {
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    int fds_[2] = {-1, -1};
};

// A payload far larger than the socket buffer goes out in many partial
// writes; every byte arrives once and in order.
TEST_F(AxmsgStream, LargeScatteredWriteArrivesWhole) {
    std::vector<uint8_t> payload(3 * 1024 * 1024 + 17);
    std::iota(payload.begin(), payload.end(), uint8_t{0});
    const size_t cut1 = 5;
    const size_t cut2 = 1024 * 1024 + 3;
    iovec pieces[] = {{payload.data(), cut1},
                      {payload.data() + cut1, cut2 - cut1},
                      {payload.data() + cut2, payload.size() - cut2}};
    AXMSG_T m = valid_msg(pieces);
    m.iov_num = 3;
    AXMSG_HEADER_T h;
    axmsg_create_header(&h, &m, 0);

    std::vector<uint8_t> got(AXMSG_HEADER_LEN + payload.size());
    int read_rc = -2;
    std::thread reader(
        [&] { read_rc = axmsg_blocking_read(fds_[1], got.data(), static_cast<uint32_t>(got.size())); });
    EXPECT_EQ(axmsg_blocking_write(fds_[0], &h, pieces, 3), 0);
    reader.join();
    ASSERT_EQ(read_rc, 0);
    EXPECT_EQ(std::memcmp(got.data(), &h, AXMSG_HEADER_LEN), 0);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), got.begin() + AXMSG_HEADER_LEN));
}

TEST_F(AxmsgStream, ReadFailsAtEndOfStreamAfterPartialHeader) {
    uint8_t half[16] = {};
    ASSERT_EQ(write(fds_[0], half, sizeof half), static_cast<ssize_t>(sizeof half));
    close(fds_[0]);
    fds_[0] = -1;
    AXMSG_HEADER_T h;
    EXPECT_EQ(axmsg_blocking_read(fds_[1], &h, sizeof h), -1);
}

TEST_F(AxmsgStream, WriteToClosedPeerFailsAndClosesWithoutSignal) {
    close(fds_[1]);
    fds_[1] = -1;
    char byte = 1;
    iovec piece{&byte, 1};
    AXMSG_T m = valid_msg(&piece);
    AXMSG_HEADER_T h;
    axmsg_create_header(&h, &m, 0);
    EXPECT_EQ(axmsg_blocking_write(fds_[0], &h, &piece, 1), -1);  // no SIGPIPE ends the test
    EXPECT_EQ(fcntl(fds_[0], F_GETFD), -1);                       // the descriptor was closed
    fds_[0] = -1;
}

}  // namespace
