// Throughput of the unit transport over the simulated link between units,
// without loss and with 10% of the frames lost in both directions, beside
// the anchor: the same bytes pushed through the same link as bare frames,
// with no protocol. Anchor and subject run in alternating batches
// (bench/support/paired_batches.h); each line gives both medians in ms per
// megabyte and the median of the per-pair ratios with their spread.
//
// The transport paces itself (a short sleep between the frames of a block,
// a resend timer of one second under loss), so its figure is mostly that
// pacing, not CPU: the ratio says how far below the link's capacity a
// message moves, and the loss line how much the recovery costs on top.
//
// Batches end clean, so that one never waits for what another left behind:
// - one link and one enabled pipe live for the whole run: nothing on the
//   link is dropped between batches (restarting the link clears it);
// - the link's receive function sorts frames by their first byte, so a
//   late acknowledgement or resent frame reaches the transport even while
//   an anchor batch runs, and anchor frames never reach the transport;
// - the link's loss is set before each batch, and the anchor always runs
//   lossless (bare frames have nothing to recover a lost frame with);
// - a transport batch ends when utp_sendmsg has its last acknowledgement
//   and the receiver has delivered the message, an anchor batch when all
//   its frames are through; no wait is unbounded: a batch that is not done
//   by its deadline fails and ends its line.
//
// Usage: utp_bench [pairs [pairs with loss]]
#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"
#include "platform_sim/sim_link.h"
#include "support/paired_batches.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMessage = 1000000;  // one transport batch: one message
constexpr uint32_t kFrames = (kMessage + UTP_FRAME_PAYLOAD - 1) / UTP_FRAME_PAYLOAD;
constexpr int kAnchorMessages = 8;   // one anchor batch: as many bytes as 8 messages, as bare frames
constexpr uint8_t kBareMark = 0x5A;  // first byte of an anchor frame: no transport frame type
constexpr uint32_t kLossPermille = 100;
constexpr uint32_t kSeed = 11;
constexpr int kDefaultPairs = 21;
constexpr int kDefaultLossyPairs = 11;
constexpr int kWarmupPairs = 2;
constexpr auto kBatchDeadline = std::chrono::seconds(60);
constexpr double kBytesPerMb = 1e6;
constexpr double kMsPerS = 1000.0;

std::atomic<uint64_t> g_transport_bytes{0};  // delivered by the transport's receiver
std::atomic<uint64_t> g_bare_bytes{0};       // anchor frames through the link

int on_message(uint32_t, uint8_t *, uint32_t len) {
    g_transport_bytes.fetch_add(len);
    return 0;
}

// The link's receive function for both sides.
int link_rx(AX_PACKET_T *pkt) {
    if (pkt->len > UTP_ETH_HDR_LEN && pkt->data[UTP_ETH_HDR_LEN] == kBareMark) {
        g_bare_bytes.fetch_add(pkt->len - UTP_ETH_HDR_LEN);
        return 0;
    }
    return utp_rx(pkt);
}

// Waits until `count` reaches `target`; false at `deadline`.
bool wait_for(const std::atomic<uint64_t> &count, uint64_t target, Clock::time_point deadline) {
    while (count.load() < target) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

double ms_per_mb(Clock::duration elapsed, double bytes) {
    return std::chrono::duration<double, std::milli>(elapsed).count() / (bytes / kBytesPerMb);
}

// One message through the transport; ms per MB, -1 on failure.
double transport_batch(uint32_t loss, uint32_t seed) {
    static std::vector<uint8_t> msg(kMessage, 0x3C);
    simLinkConfigure(loss, 0, 0, seed);
    iovec iov{msg.data(), msg.size()};
    const uint64_t target = g_transport_bytes.load() + kMessage;
    auto t0 = Clock::now();
    if (utp_sendmsg(UNIT_1, &iov, 1) != 0) {
        std::fprintf(stderr, "utp_sendmsg failed\n");
        return -1;
    }
    if (!wait_for(g_transport_bytes, target, t0 + kBatchDeadline)) {
        std::fprintf(stderr, "the transport did not deliver its message in time\n");
        return -1;
    }
    return ms_per_mb(Clock::now() - t0, kMessage);
}

// The same bytes as kAnchorMessages messages, as bare full frames on a
// lossless link; ms per MB, -1 on failure.
double bare_batch() {
    static std::vector<uint8_t> frame(UTP_FRAME_MAX, kBareMark);
    simLinkConfigure(0, 0, 0, kSeed);
    const uint32_t frames = kFrames * kAnchorMessages;
    const uint64_t target = g_bare_bytes.load() + uint64_t{frames} * frame.size();
    auto t0 = Clock::now();
    for (uint32_t i = 0; i < frames; ++i)
        if (simLinkTx(UNIT_1, frame.data(), static_cast<uint32_t>(frame.size()), nullptr) != 0) return -1;
    if (!wait_for(g_bare_bytes, target, t0 + kBatchDeadline)) {
        std::fprintf(stderr, "bare frames did not come through in time\n");
        return -1;
    }
    return ms_per_mb(Clock::now() - t0, static_cast<double>(frames) * static_cast<double>(frame.size()));
}

void print_line(const char *label, const pc::bench::PairedResult &r) {
    pc::bench::print_paired(stdout, label, r);
    if (r.pairs > 0)
        std::printf("%-34s %10.1f %10.2f   (MB/s)\n", "", kMsPerS / r.anchor_median,
                    kMsPerS / r.subject_median);
}

}  // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    const int lossy_pairs = argc > 2 ? std::atoi(argv[2]) : kDefaultLossyPairs;
    if (pairs <= 0 || lossy_pairs <= 0) {
        std::fprintf(stderr, "usage: utp_bench [pairs [pairs with loss]]\n");
        return 2;
    }
    if (timer_init() != 0 || utp_initiation() != 0) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    utp_rx_register(UNIT_1, on_message);
    utp_link_set(simLinkTx, nullptr);
    simLinkConfigure(0, 0, 0, kSeed);
    simLinkStart(link_rx, UNIT_1);
    utp_setunitstate(UNIT_1, UTP_UNIT_ENABLE);

    std::printf(
        "one batch: a %zu-byte message through the transport; %d times as many bytes as bare frames\n",
        kMessage, kAnchorMessages);
    pc::bench::print_paired_header(stdout, "ms/MB");
    auto lossless =
        pc::bench::run_paired(bare_batch, [] { return transport_batch(0, kSeed); }, {kWarmupPairs, pairs});
    print_line("transport / bare frames", lossless);
    // Each lossy batch meets its own loss pattern, the same ones in every run.
    uint32_t seed = kSeed;
    auto lossy = pc::bench::run_paired(bare_batch, [&] { return transport_batch(kLossPermille, ++seed); },
                                       {0, lossy_pairs});
    print_line("transport, 10% loss / bare frames", lossy);

    utp_setunitstate(UNIT_1, UTP_UNIT_DISABLE);
    simLinkStop();
    return lossless.pairs == pairs && lossy.pairs == lossy_pairs ? 0 : 1;
}
