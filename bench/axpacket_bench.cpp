// Frames per second through axpacketDistribute against the same matches
// done by compiled BPF filters (pcap_offline_filter), side by side:
//
//   (a) no registration matches: the 10 registrations of the table are
//       tried and the frame goes to the kernel side;
//   (b) the 10th of 10 registrations owns the frame: delivered to a core
//       module's queue;
//   (c) the same with 100 registrations.
//
// A registration matches EtherType 0x88B5 and a 32-bit word of the payload;
// its BPF anchor is "ether proto 0x88b5 and ether[14:4] = N", the filters
// run in order until one matches. Only the distribution is timed: the
// driver's buffers are filled before and the module's work thread drains
// its queue after each batch.
//
// The core comes up as in axcored (hub on 127.0.0.1:3600, SysV keys, deep
// message queues): run it in its own namespaces, e.g.
//   unshare --net --ipc --mount --fork sh -c 'ip link set lo up; axpacket_bench'
// once under `taskset -c 0` and once unpinned.
#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform_core/axpacket.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"

namespace {

constexpr uint32_t kMid = 70;
constexpr uint16_t kType = 0x88B5;
constexpr int kBatch = 256;
constexpr size_t kFrameLen = 64;
constexpr uint32_t kNoMatch = 100000;

std::atomic<uint64_t> g_delivered{0};
int on_frame(AX_PACKET_T *) { return ++g_delivered, 0; }

std::vector<uint8_t> frame_with(uint32_t word) {
    std::vector<uint8_t> f(kFrameLen, 0);
    std::memset(f.data(), 0xFF, 6);
    const uint8_t src[6] = {0x02, 0, 0, 0, 0, 1};
    std::memcpy(f.data() + 6, src, 6);
    f[12] = kType >> 8;
    f[13] = kType & 0xFF;
    for (int i = 0; i < 4; ++i) f[14 + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
    return f;
}

std::string reg_name(uint32_t i) { return "bench" + std::to_string(i); }

// Enables registrations 0..n-1 (priority i, word i) and disables the rest.
void use_registrations(uint32_t n) {
    for (uint32_t i = 0; i < 100; ++i) {
        std::string name = reg_name(i);
        if (i < n)
            axPacketRegisterEnable(kMid, name.c_str());
        else
            axPacketRegisterDisable(kMid, name.c_str());
    }
}

// Median nanoseconds per frame of each benchmark's repetitions.
std::map<std::string, std::vector<double>> g_ns;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void distribute(benchmark::State &state, const char *label, uint32_t regs, uint32_t word) {
    use_registrations(regs);
    std::vector<uint8_t> frame = frame_with(word);
    int port = simChipPortOf(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1));
    std::vector<drv_nic_pkt_t *> batch(kBatch);
    double total_ns = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        for (drv_nic_pkt_t *&d : batch) {
            axnic_pkt_alloc(0, static_cast<int32_t>(frame.size()), 0, &d);
            std::memcpy(d->data, frame.data(), frame.size());
            d->length = static_cast<uint32_t>(frame.size());
            d->rx.source_port = static_cast<uint32_t>(port);
        }
        uint64_t expect = g_delivered + (word < regs ? kBatch : 0);
        // Distribution runs on the driver's receive thread, never on the
        // process's main thread: time it on a thread of its own.
        double ns = 0;
        std::thread rx([&] {
            auto t0 = std::chrono::steady_clock::now();
            for (drv_nic_pkt_t *d : batch) axpacketDistribute(d);
            auto t1 = std::chrono::steady_clock::now();
            ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        });
        rx.join();
        state.SetIterationTime(ns / 1e9);
        total_ns += ns;
        frames += kBatch;
        while (g_delivered < expect) std::this_thread::yield();
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    g_ns[label].push_back(total_ns / static_cast<double>(frames));
}

// The anchor: `regs` compiled filters run in order until one matches.
void bpf(benchmark::State &state, const char *label, uint32_t regs, uint32_t word) {
    pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
    std::vector<bpf_program> progs(regs);
    for (uint32_t i = 0; i < regs; ++i) {
        std::string f = "ether proto 0x88b5 and ether[14:4] = " + std::to_string(i);
        if (pcap_compile(dead, &progs[i], f.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
            state.SkipWithError("pcap_compile failed");
            return;
        }
    }
    std::vector<uint8_t> frame = frame_with(word);
    pcap_pkthdr hdr{};
    hdr.caplen = hdr.len = static_cast<bpf_u_int32>(frame.size());
    double total_ns = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int n = 0; n < kBatch; ++n) {
            int hit = -1;
            for (uint32_t i = 0; i < regs && hit < 0; ++i)
                if (pcap_offline_filter(&progs[i], &hdr, frame.data()) != 0) hit = static_cast<int>(i);
            benchmark::DoNotOptimize(hit);
        }
        auto t1 = std::chrono::steady_clock::now();
        double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        state.SetIterationTime(ns / 1e9);
        total_ns += ns;
        frames += kBatch;
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    g_ns[label].push_back(total_ns / static_cast<double>(frames));
    for (bpf_program &p : progs) pcap_freecode(&p);
    pcap_close(dead);
}

bool bring_up() {
    if (FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "w")) {
        std::fputs("1024", f);
        std::fclose(f);
    }
    simProcessSetPid(PID_CORE);
    if (simKernelPacketStart(nullptr) != 0 || platformInit() != 0) return false;
    simSwitchSetInited(1);
    debugFlagSet(MID_AXPACKET, 0);  // a full queue must not print per frame
    if (axPacketRegisterModule(kMid, 10, 65536, 1000) != 0) return false;
    for (uint32_t i = 0; i < 100; ++i) {
        std::string name = reg_name(i);
        if (axPacketRegisterPacket(kMid, name.c_str(), AX_RX_OWNED, i, on_frame, nullptr) != 0 ||
            axPacketRegisterField(kMid, name.c_str(), LEN_TYPE, kType, 0) != 0 ||
            axPacketRegisterUdf(kMid, name.c_str(), UDF_EQUAL, 2, i, 0xFFFFFFFF) != 0)
            return false;
    }
    return true;
}

void report() {
    auto fps = [](const char *l) { return 1e9 / median(g_ns[l]); };
    std::printf("\nframes/s (median of repetitions):\n");
    const char *rows[][2] = {{"a: to kernel, 10 regs", "bpf a: 10 filters, none"},
                             {"b: 10th of 10", "bpf b: 10th of 10"},
                             {"c: 100th of 100", "bpf c: 100th of 100"}};
    for (auto &r : rows)
        std::printf("  %-24s %12.0f   %-24s %12.0f   cost ratio %.2f\n", r[0], fps(r[0]), r[1], fps(r[1]),
                    median(g_ns[r[0]]) / median(g_ns[r[1]]));
}

}  // namespace

int main(int argc, char **argv) {
    if (!bring_up()) {
        std::fprintf(stderr, "axpacket_bench: the core did not come up (run it in its own namespaces)\n");
        return 1;
    }
    struct Case {
        const char *label;
        bool anchor;
        uint32_t regs;
        uint32_t word;
    } cases[] = {
        {"a: to kernel, 10 regs", false, 10, kNoMatch},
        {"bpf a: 10 filters, none", true, 10, kNoMatch},
        {"b: 10th of 10", false, 10, 9},
        {"bpf b: 10th of 10", true, 10, 9},
        {"c: 100th of 100", false, 100, 99},
        {"bpf c: 100th of 100", true, 100, 99},
    };
    for (const Case &c : cases) {
        auto fn = c.anchor ? bpf : distribute;
        benchmark::RegisterBenchmark(c.label, [=](benchmark::State &s) { fn(s, c.label, c.regs, c.word); })
            ->UseManualTime()
            ->Repetitions(5)
            ->MinTime(0.2);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    report();
    benchmark::Shutdown();
    return 0;
}
