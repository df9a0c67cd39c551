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
// Every ratio comes from alternating batches (bench/support/paired_batches.h):
// each case runs once against its BPF anchor and once against its floor,
// and each line gives both medians in ns per frame and the median of the
// per-pair ratios with their spread. A batch drains what it sent before it
// ends, so the next batch starts on an empty queue. The closing table gives
// each case's frames per second and what it costs above its floor (the
// part that is ours), from the medians of the floor pairing. On one CPU a
// bare send wakes the waiting receiver every time, which then runs before
// the sender goes on; a receiver with more to do per message is still busy
// when the next one comes and is woken less often. Pinned, the queue floor
// can therefore lie above cases b and c.
//
// Last, the registry walk alone over 100 registrations none of which
// matches, beside the same 100 compiled filters.
//
// The core comes up as in axcored (hub on 127.0.0.1:3600, SysV keys, deep
// message queues): run it in its own namespaces, e.g.
//   unshare --net --ipc --mount --fork sh -c 'ip link set lo up; axpacket_bench'
// once under `taskset -c 0` and once unpinned. Usage: axpacket_bench [pairs]
#include <mqueue.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "support/paired_batches.h"

namespace {

constexpr uint32_t kMid = 70;
constexpr uint16_t kType = 0x88B5;
constexpr int kBatch = 256;         // frames a round: the module's queue holds them all
constexpr int kRoundsPerBatch = 4;  // rounds a batch of the paired measurement
// The filters are some 50 times faster than a case: their batches (and
// those of the walk alone) take more frames, so that both sides of a pair
// last milliseconds and meet the same load.
constexpr long kBpfFramesPerBatch = 16L * kRoundsPerBatch * kBatch;
constexpr int kDefaultPairs = 101;
constexpr int kWarmupPairs = 5;
constexpr auto kDrainDeadline = std::chrono::seconds(10);
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

// Waits until `done` says so; false after kDrainDeadline.
template <class Done>
bool wait_until(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kDrainDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// One batch of a case: kRoundsPerBatch rounds of kBatch frames handed to
// axpacketDistribute, each round drained (by the module's work thread or
// the kernel side) before the next; ns per frame, -1 on failure. The
// registrations are set by the caller.
double distribute_batch(uint32_t regs, uint32_t word) {
    const std::vector<uint8_t> frame = frame_with(word);
    const int port = simChipPortOf(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1));
    std::vector<drv_nic_pkt_t *> batch(kBatch);
    double total_ns = 0;
    for (int round = 0; round < kRoundsPerBatch; ++round) {
        for (drv_nic_pkt_t *&d : batch) {
            if (axnic_pkt_alloc(0, static_cast<int32_t>(frame.size()), 0, &d) != 0 || d == nullptr) return -1;
            std::memcpy(d->data, frame.data(), frame.size());
            d->length = static_cast<uint32_t>(frame.size());
            d->rx.source_port = static_cast<uint32_t>(port);
        }
        const uint64_t expect = g_delivered + (word < regs ? kBatch : 0);
        const uint32_t kernel_expect = simKernelPacketRxCount() + (word < regs ? 0 : kBatch);
        // Distribution runs on the driver's receive thread, never on the
        // process's main thread: time it on a thread of its own.
        total_ns += ns_on_own_thread([&] {
            for (drv_nic_pkt_t *d : batch) axpacketDistribute(d);
        });
        if (!wait_until([&] { return g_delivered >= expect && simKernelPacketRxCount() >= kernel_expect; })) {
            std::fprintf(stderr, "the frames of a round were not drained in time\n");
            return -1;
        }
    }
    return total_ns / (kRoundsPerBatch * kBatch);
}

// Runs `send_one` kBatch times a round on a thread of its own (as
// distribution runs on the driver's thread), timing only the sends, then
// waits until `drained(sent)` says the receiver has taken them all; ns per
// send, -1 on failure.
template <class Send, class Drained>
double timed_sends(Send send_one, Drained drained) {
    double total_ns = 0;
    uint64_t sent = 0;
    for (int round = 0; round < kRoundsPerBatch; ++round) {
        bool ok = true;
        total_ns += ns_on_own_thread([&] {
            for (int n = 0; n < kBatch; ++n) ok = send_one() && ok;
        });
        if (!ok) {
            std::fprintf(stderr, "a send of the floor failed\n");
            return -1;
        }
        sent += kBatch;
        if (!wait_until([&] { return drained(sent); })) {
            std::fprintf(stderr, "the floor's receiver did not take its messages in time\n");
            return -1;
        }
    }
    return total_ns / static_cast<double>(sent);
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

double floor_mq_batch() {
    char msg[kDeliveryMsgSize] = {};
    const timespec no_wait{};
    const uint64_t start = g_queue_floor.received;
    auto q = static_cast<mqd_t>(g_queue_floor.q);
    return timed_sends(
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

// What case a sends, on a connection of its own to the kernel side.
class KernelFloor {
public:
    KernelFloor() : fd_(kernel_floor_connect()), frame_(frame_with(kNoMatch)) {
        // The frame with its 802.1Q tag behind the header.
        const uint8_t tag[4] = {0x81, 0x00, 0x00, 0x01};
        frame_.insert(frame_.begin() + 12, tag, tag + 4);
        header_ = {static_cast<uint32_t>(kNlHeader + frame_.size()), AXPACKET_NL_TO_KERNEL, 0,
                   static_cast<uint32_t>(getpid())};
    }
    ~KernelFloor() {
        if (fd_ >= 0) close(fd_);
    }
    KernelFloor(const KernelFloor &) = delete;
    KernelFloor &operator=(const KernelFloor &) = delete;

    bool connected() const { return fd_ >= 0; }

    double batch() {
        iovec iov[2] = {{header_.data(), kNlHeader}, {frame_.data(), frame_.size()}};
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = 2;
        const uint32_t start = simKernelPacketRxCount();
        return timed_sends([&] { return sendmsg(fd_, &msg, MSG_NOSIGNAL) > 0; },
                           [&](uint64_t sent) { return simKernelPacketRxCount() - start >= sent; });
    }

private:
    int fd_;
    std::vector<uint8_t> frame_;
    std::array<uint32_t, 4> header_{};
};

// The registry walk alone: the non-IP parser over the table, no delivery
// and no kernel (a frame no registration takes); ns per frame.
double match_batch(uint32_t word) {
    std::vector<uint8_t> frame = frame_with(word);
    uint8_t dmac[8]{}, smac[8]{};
    std::memcpy(dmac, frame.data(), 6);
    std::memcpy(smac, frame.data() + 6, 6);
    AX_PACKET_T rec{};
    rec.data = frame.data();
    rec.len = static_cast<uint32_t>(frame.size());
    // As many frames as the filters' batch, on a thread of its own as in
    // distribution (not on the main thread).
    const double ns = ns_on_own_thread([&] {
        for (long n = 0; n < kBpfFramesPerBatch; ++n)
            benchmark::DoNotOptimize(axpacketFilterParseNonIp(&rec, kType, dmac, smac));
    });
    return ns / static_cast<double>(kBpfFramesPerBatch);
}

// The anchor: `regs` compiled filters run in order until one matches.
class BpfFilters {
public:
    explicit BpfFilters(uint32_t regs) : dead_(pcap_open_dead(DLT_EN10MB, 65535)) {
        for (uint32_t i = 0; dead_ != nullptr && i < regs; ++i) {
            std::string f = "ether proto 0x88b5 and ether[14:4] = " + std::to_string(i);
            bpf_program prog{};
            if (pcap_compile(dead_, &prog, f.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) return;
            progs_.push_back(prog);
        }
        compiled_ = dead_ != nullptr && progs_.size() == regs;
    }
    ~BpfFilters() {
        for (bpf_program &p : progs_) pcap_freecode(&p);
        if (dead_ != nullptr) pcap_close(dead_);
    }
    BpfFilters(const BpfFilters &) = delete;
    BpfFilters &operator=(const BpfFilters &) = delete;

    bool compiled() const { return compiled_; }

    // kBpfFramesPerBatch frames through the filters; ns per frame.
    double batch(uint32_t word) const {
        const std::vector<uint8_t> frame = frame_with(word);
        pcap_pkthdr hdr{};
        hdr.caplen = hdr.len = static_cast<bpf_u_int32>(frame.size());
        return pc::bench::timed_batch(kBpfFramesPerBatch, [&](long) {
            int hit = -1;
            for (size_t i = 0; i < progs_.size() && hit < 0; ++i)
                if (pcap_offline_filter(&progs_[i], &hdr, frame.data()) != 0) hit = static_cast<int>(i);
            benchmark::DoNotOptimize(hit);
        });
    }

private:
    pcap_t *dead_;
    std::vector<bpf_program> progs_;
    bool compiled_ = false;
};

bool bring_up() {
    if (FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "w")) {
        std::fputs("1024", f);
        std::fclose(f);
    }
    simProcessSetPid(PID_CORE);
    simPortHooksSet();  // the port feature answers the start-up task, as in axcored
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

struct Case {
    const char *label;
    uint32_t regs;
    uint32_t word;
    bool kernel_floor;  // case a: the floor is sendmsg; else the queue
};

constexpr Case kCases[] = {
    {"a: to kernel, 10 regs", 10, kNoMatch, true},
    {"b: 10th of 10", 10, 9, false},
    {"c: 100th of 100", 100, 99, false},
};

}  // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : kDefaultPairs;
    if (pairs <= 0) {
        std::fprintf(stderr, "usage: axpacket_bench [pairs]\n");
        return 2;
    }
    if (!bring_up()) {
        std::fprintf(stderr, "axpacket_bench: the core did not come up (run it in its own namespaces)\n");
        return 1;
    }
    KernelFloor kernel_floor;
    if (!kernel_floor.connected()) {
        std::fprintf(stderr, "axpacket_bench: no connection to the kernel side\n");
        return 1;
    }
    const pc::bench::PairPlan plan{kWarmupPairs, pairs};
    std::printf(
        "one batch: %d rounds of %d frames of %zu bytes; the floor is the specified system call alone\n",
        kRoundsPerBatch, kBatch, kFrameLen);
    pc::bench::print_paired_header(stdout, "ns/frame");
    struct Row {
        const char *label;
        double case_ns, floor_ns;
    };
    std::vector<Row> rows;
    bool ok = true;
    for (const Case &c : kCases) {
        use_registrations(c.regs);
        const BpfFilters bpf(c.regs);
        if (!bpf.compiled()) {
            std::fprintf(stderr, "axpacket_bench: pcap_compile failed\n");
            return 1;
        }
        auto subject = [&] { return distribute_batch(c.regs, c.word); };
        auto vs_bpf = pc::bench::run_paired([&] { return bpf.batch(c.word); }, subject, plan);
        pc::bench::print_paired(stdout, (std::string(c.label) + " / BPF").c_str(), vs_bpf);
        auto vs_floor = c.kernel_floor
                            ? pc::bench::run_paired([&] { return kernel_floor.batch(); }, subject, plan)
                            : pc::bench::run_paired(floor_mq_batch, subject, plan);
        const std::string floor_label = std::string(c.label) + (c.kernel_floor ? " / sendmsg" : " / mq send");
        pc::bench::print_paired(stdout, floor_label.c_str(), vs_floor);
        ok = ok && vs_bpf.pairs == pairs && vs_floor.pairs == pairs;
        rows.push_back({c.label, vs_floor.subject_median, vs_floor.anchor_median});
    }
    use_registrations(100);
    const BpfFilters bpf100(100);
    if (!bpf100.compiled()) return 1;
    auto walk = pc::bench::run_paired([&] { return bpf100.batch(kNoMatch); },
                                      [] { return match_batch(kNoMatch); }, plan);
    pc::bench::print_paired(stdout, "match alone, 100 regs, none / BPF", walk);
    ok = ok && walk.pairs == pairs;

    std::printf("\n  %-24s %10s %9s %9s %12s   (medians of the floor pairing)\n", "case", "frames/s", "ns",
                "floor ns", "above floor");
    for (const Row &r : rows)
        if (r.case_ns > 0)
            std::printf("  %-24s %10.0f %9.0f %9.0f %12.0f\n", r.label, 1e9 / r.case_ns, r.case_ns,
                        r.floor_ns, r.case_ns - r.floor_ns);
    return ok ? 0 : 1;
}
