// Throughput of the unit transport over the simulated link between units,
// without loss and with 10% of the frames lost in both directions, beside
// the anchor: the same bytes pushed through the same link as bare frames,
// with no protocol. Prints the medians in MB/s and the ratios.
#include <sys/uio.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"
#include "platform_sim/sim_link.h"

namespace {

constexpr size_t kMessage = 1000000;
constexpr uint32_t kFrames = (kMessage + UTP_FRAME_PAYLOAD - 1) / UTP_FRAME_PAYLOAD;

std::atomic<uint64_t> g_delivered_bytes{0};

int on_message(uint32_t, uint8_t *, uint32_t len) {
    g_delivered_bytes.fetch_add(len);
    return 0;
}

int count_frame(AX_PACKET_T *pkt) {
    g_delivered_bytes.fetch_add(pkt->len - UTP_ETH_HDR_LEN);
    return 0;
}

void wait_bytes(uint64_t target) {
    while (g_delivered_bytes.load() < target) std::this_thread::yield();
}

void BM_UtpTransport(benchmark::State &state) {
    simLinkConfigure(static_cast<uint32_t>(state.range(0)), 0, 0, 11);
    simLinkStart(utp_rx, UNIT_1);
    utp_setunitstate(UNIT_1, UTP_UNIT_ENABLE);
    std::vector<uint8_t> msg(kMessage, 0x5A);
    iovec iov{msg.data(), msg.size()};
    g_delivered_bytes.store(0);
    uint64_t sent = 0;
    for (auto _ : state) {
        if (utp_sendmsg(UNIT_1, &iov, 1) != 0) {
            state.SkipWithError("send failed");
            break;
        }
        sent += kMessage;
        wait_bytes(sent);
    }
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    utp_setunitstate(UNIT_1, UTP_UNIT_DISABLE);
    simLinkStop();
}
BENCHMARK(BM_UtpTransport)
    ->Arg(0)
    ->Arg(100)
    ->Iterations(4)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

void BM_AnchorBareFrames(benchmark::State &state) {
    simLinkConfigure(0, 0, 0, 11);
    simLinkStart(count_frame, UNIT_1);
    std::vector<uint8_t> frame(UTP_FRAME_MAX, 0x5A);
    g_delivered_bytes.store(0);
    uint64_t sent = 0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < kFrames; ++i) {
            simLinkTx(UNIT_1, frame.data(), static_cast<uint32_t>(frame.size()), nullptr);
            sent += frame.size();
        }
        wait_bytes(sent);
    }
    state.SetBytesProcessed(static_cast<int64_t>(sent));
    simLinkStop();
}
BENCHMARK(BM_AnchorBareFrames)->Iterations(20)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                auto it = run.counters.find("bytes_per_second");
                if (it != run.counters.end())
                    mbps_[run.run_name.function_name + "/" + run.run_name.args] = it->second / 1e6;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    double mbps(const std::string &name) const {
        auto it = mbps_.find(name);
        return it == mbps_.end() ? 0 : it->second;
    }

private:
    std::map<std::string, double> mbps_;
};

}  // namespace

int main(int argc, char **argv) {
    if (timer_init() != 0 || utp_initiation() != 0) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    utp_rx_register(UNIT_1, on_message);
    utp_link_set(simLinkTx, nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    benchmark::Shutdown();
    double lossless = rep.mbps("BM_UtpTransport/0");
    double lossy = rep.mbps("BM_UtpTransport/100");
    double anchor = rep.mbps("BM_AnchorBareFrames/");
    std::printf(
        "\nmedian MB/s of 1,000,000-byte messages: transport %.1f, with 10%% loss %.1f; bare frames %.1f\n",
        lossless, lossy, anchor);
    if (anchor > 0)
        std::printf("  ratio transport / bare frames: %.4f, with loss: %.5f\n", lossless / anchor,
                    lossy / anchor);
    return 0;
}
