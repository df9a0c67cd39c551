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
// driver's buffers are filled before, and the module's work thread or the
// kernel side drains what the batch sent after it.
//
// Beside them, each case's floor: the one system call the path makes per
// frame, bare, into the same arrangement.
//
//   floor mq:      one 100-byte message per frame, sent without waiting
//                  (mq_timedsend, zero deadline) to a queue of the module's
//                  size, received by a thread blocked in the receive, as a
//                  module's work thread is (cases b and c);
//   floor sendmsg: one netlink message per frame (header and the tagged
//                  frame), sent on a connection of its own to the same
//                  kernel side (case a).
//
// The report prints each case's frames per second, its ratio to the BPF
// anchor and what it costs above its floor: the part that is ours. On one
// CPU a bare send wakes the waiting receiver every time, which then runs
// before the sender goes on; a receiver with more to do per message is
// still busy when the next one comes and is woken less often. Pinned, the
// queue floor can therefore lie above cases b and c.
//
// Last, the registry walk alone over 100 registrations none of which
// matches, beside the same 100 compiled filters.
//
// The core comes up as in axcored (hub on 127.0.0.1:3600, SysV keys, deep
// message queues): run it in its own namespaces, e.g.
//   unshare --net --ipc --mount --fork sh -c 'ip link set lo up; axpacket_bench'
// once under `taskset -c 0` and once unpinned.
#include <mqueue.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform_core/axpacket.h"
#include "platform_core/pal.h"
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
constexpr unsigned kModulePriority = 10;
constexpr unsigned kModuleStack = 65536;
constexpr unsigned kModuleQueueLen = 300;  // room for a batch; the user's queue memory is small
constexpr unsigned kDeliveryMsgSize = 100;
constexpr size_t kNlHeader = AXPACKET_NL_HDR_LEN;

// Runs `work` on a thread of its own and answers how long it took, in ns.
template <class Fn>
double ns_on_own_thread(Fn work) {
    double ns = 0;
    std::thread t([&] {
        auto t0 = std::chrono::steady_clock::now();
        work();
        auto t1 = std::chrono::steady_clock::now();
        ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
    });
    t.join();
    return ns;
}

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
        uint32_t kernel_expect = simKernelPacketRxCount() + (word < regs ? 0 : kBatch);
        // Distribution runs on the driver's receive thread, never on the
        // process's main thread: time it on a thread of its own.
        const double ns = ns_on_own_thread([&] {
            for (drv_nic_pkt_t *d : batch) axpacketDistribute(d);
        });
        state.SetIterationTime(ns / 1e9);
        total_ns += ns;
        frames += kBatch;
        while (g_delivered < expect || simKernelPacketRxCount() < kernel_expect) std::this_thread::yield();
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    g_ns[label].push_back(total_ns / static_cast<double>(frames));
}

// Runs `send_one` kBatch times on a thread of its own (as distribution
// runs on the driver's thread), timing only the sends, then waits until
// `drained` says the receiver has taken the batch.
template <class Send, class Drained>
void time_sends(benchmark::State &state, const char *label, Send send_one, Drained drained) {
    double total_ns = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        double ns = 0;
        bool ok = true;
        std::thread tx([&] {
            auto t0 = std::chrono::steady_clock::now();
            for (int n = 0; n < kBatch; ++n) ok = send_one() && ok;
            auto t1 = std::chrono::steady_clock::now();
            ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        });
        tx.join();
        if (!ok) {
            state.SkipWithError("a send failed");
            return;
        }
        state.SetIterationTime(ns / 1e9);
        total_ns += ns;
        frames += kBatch;
        while (!drained(frames)) std::this_thread::yield();
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    g_ns[label].push_back(total_ns / static_cast<double>(frames));
}

// The floor of cases b and c: a queue like the module's, and a thread that
// waits in the receive like its work thread.
struct QueueFloor {
    int q = -1;
    std::atomic<uint64_t> received{0};
};
QueueFloor g_queue_floor;

void queue_floor_consumer(void *) {
    char msg[kDeliveryMsgSize];
    unsigned prio = 0;
    for (;;)
        if (pal_msgQ_receive(g_queue_floor.q, msg, sizeof msg, PAL_WAIT_FOREVER, &prio) > 0)
            ++g_queue_floor.received;
}

bool queue_floor_start() {
    g_queue_floor.q = pal_msgQ_create("/axpkt_bench_floor", kModuleQueueLen, kDeliveryMsgSize, PAL_MSGQ_RDWR);
    if (g_queue_floor.q < 0) return false;
    pal_msgQ_destroy("/axpkt_bench_floor");  // the descriptor stays; the name goes
    return pal_thread_create("/axpkt_bench_floor", kModuleStack, kModulePriority, queue_floor_consumer,
                             nullptr) != 0;
}

void floor_mq(benchmark::State &state, const char *label) {
    char msg[kDeliveryMsgSize] = {};
    const timespec no_wait{};
    uint64_t start = g_queue_floor.received;
    auto q = static_cast<mqd_t>(g_queue_floor.q);
    time_sends(
        state, label,
        [&] { return mq_timedsend(q, msg, sizeof msg, PAL_MSGQ_PRIORITY_NUM - 1, &no_wait) == 0; },
        [&](uint64_t sent) { return g_queue_floor.received - start >= sent; });
}

// The floor of case a: a connection of its own to the kernel side.
int kernel_floor_connect() {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string name = AXPACKET_NL_HOST_KERNEL_NAME;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), len) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void floor_sendmsg(benchmark::State &state, const char *label) {
    int fd = kernel_floor_connect();
    if (fd < 0) {
        state.SkipWithError("no connection to the kernel side");
        return;
    }
    // What case a sends: the frame with its 802.1Q tag behind the header.
    std::vector<uint8_t> frame = frame_with(kNoMatch);
    const uint8_t tag[4] = {0x81, 0x00, 0x00, 0x01};
    frame.insert(frame.begin() + 12, tag, tag + 4);
    const uint32_t header[4] = {static_cast<uint32_t>(kNlHeader + frame.size()), AXPACKET_NL_TO_KERNEL, 0,
                                static_cast<uint32_t>(getpid())};
    iovec iov[2] = {{const_cast<uint32_t *>(header), kNlHeader}, {frame.data(), frame.size()}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    uint32_t start = simKernelPacketRxCount();
    time_sends(
        state, label, [&] { return sendmsg(fd, &msg, MSG_NOSIGNAL) > 0; },
        [&](uint64_t sent) { return simKernelPacketRxCount() - start >= sent; });
    close(fd);
}

// The registry walk alone: the non-IP parser over the table, no delivery
// and no kernel (a frame no registration takes).
void match_only(benchmark::State &state, const char *label, uint32_t regs, uint32_t word) {
    use_registrations(regs);
    std::vector<uint8_t> frame = frame_with(word);
    uint8_t dmac[8]{}, smac[8]{};
    std::memcpy(dmac, frame.data(), 6);
    std::memcpy(smac, frame.data() + 6, 6);
    AX_PACKET_T rec{};
    rec.data = frame.data();
    rec.len = static_cast<uint32_t>(frame.size());
    double total_ns = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        const double ns = ns_on_own_thread([&] {  // as in distribute: not on the main thread
            for (int n = 0; n < kBatch; ++n)
                benchmark::DoNotOptimize(axpacketFilterParseNonIp(&rec, kType, dmac, smac));
        });
        state.SetIterationTime(ns / 1e9);
        total_ns += ns;
        frames += kBatch;
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
    if (axPacketRegisterModule(kMid, kModulePriority, kModuleStack, kModuleQueueLen) != 0) return false;
    if (!queue_floor_start()) return false;
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
    auto ns = [](const char *l) { return median(g_ns[l]); };
    std::printf("\nmedian of repetitions; ns per frame; the floor is the specified system call alone\n");
    std::printf("  %-24s %10s %9s   %-24s %8s %7s   %-14s %8s %12s\n", "case", "frames/s", "ns", "anchor",
                "ns", "ratio", "floor", "ns", "above floor");
    const char *rows[][3] = {{"a: to kernel, 10 regs", "bpf a: 10 filters, none", "floor sendmsg"},
                             {"b: 10th of 10", "bpf b: 10th of 10", "floor mq"},
                             {"c: 100th of 100", "bpf c: 100th of 100", "floor mq"}};
    for (auto &r : rows)
        std::printf("  %-24s %10.0f %9.0f   %-24s %8.0f %7.2f   %-14s %8.0f %12.0f\n", r[0], 1e9 / ns(r[0]),
                    ns(r[0]), r[1], ns(r[1]), ns(r[0]) / ns(r[1]), r[2], ns(r[2]), ns(r[0]) - ns(r[2]));
    std::printf("  the match alone, 100 registrations and none owns: %.0f ns, BPF %.0f ns (ratio %.2f)\n",
                ns("match: 100 regs, none"), ns("bpf: 100 filters, none"),
                ns("match: 100 regs, none") / ns("bpf: 100 filters, none"));
}

}  // namespace

int main(int argc, char **argv) {
    if (!bring_up()) {
        std::fprintf(stderr, "axpacket_bench: the core did not come up (run it in its own namespaces)\n");
        return 1;
    }
    struct Case {
        const char *label;
        void (*fn)(benchmark::State &, const char *, uint32_t, uint32_t);
        uint32_t regs;
        uint32_t word;
    } cases[] = {
        {"a: to kernel, 10 regs", distribute, 10, kNoMatch},
        {"bpf a: 10 filters, none", bpf, 10, kNoMatch},
        {"floor sendmsg",
         [](benchmark::State &s, const char *l, uint32_t, uint32_t) { floor_sendmsg(s, l); }},
        {"b: 10th of 10", distribute, 10, 9},
        {"bpf b: 10th of 10", bpf, 10, 9},
        {"floor mq", [](benchmark::State &s, const char *l, uint32_t, uint32_t) { floor_mq(s, l); }},
        {"c: 100th of 100", distribute, 100, 99},
        {"bpf c: 100th of 100", bpf, 100, 99},
        {"match: 100 regs, none", match_only, 100, kNoMatch},
        {"bpf: 100 filters, none", bpf, 100, kNoMatch},
    };
    for (const Case &c : cases) {
        benchmark::RegisterBenchmark(c.label, [=](benchmark::State &s) { c.fn(s, c.label, c.regs, c.word); })
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
