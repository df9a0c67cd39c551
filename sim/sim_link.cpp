// The simulated link between stack units (see platform_sim/sim_link.h).
#include "platform_sim/sim_link.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kEthHdr = 14;

struct InFlight {
    Clock::time_point due;
    std::vector<uint8_t> packet;  // Ethernet header and frame
};

struct Link {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<InFlight> queue;  // in sending order; lock
    std::thread worker;
    bool running = false;  // lock
    sim_link_rx_t rx = nullptr;
    uint32_t rx_unit = 1;
    uint32_t loss = 0, dup = 0, max_delay_us = 0;  // lock
    std::mt19937 rng{1};                           // lock
    uint8_t drop_type = 0;                         // lock
    uint32_t drop_sno = 0, drop_count = 0;         // lock
    sim_link_tap_t tap = nullptr;                  // lock
    void *tap_ctx = nullptr;
    Clock::time_point last_due{};      // keeps the order; lock
    uint32_t delivered = 0, lost = 0;  // lock
};

// Lives for the whole process: its thread may still run at exit.
Link &link() {
    static Link *l = new Link;
    return *l;
}

uint32_t frame_sno(const uint8_t *f, uint32_t len) {
    return len >= 8 ? (uint32_t{f[4]} << 24) | (uint32_t{f[5]} << 16) | (uint32_t{f[6]} << 8) | f[7] : 0;
}

void run() {
    std::unique_lock<std::mutex> guard(link().lock);
    while (link().running) {
        if (link().queue.empty()) {
            link().wake.wait(guard);
            continue;
        }
        auto due = link().queue.front().due;
        if (Clock::now() < due) {
            link().wake.wait_until(guard, due);
            continue;
        }
        InFlight f = std::move(link().queue.front());
        link().queue.pop_front();
        ++link().delivered;
        guard.unlock();
        AX_PACKET_T pkt{};
        pkt.data = f.packet.data();
        pkt.len = static_cast<uint32_t>(f.packet.size());
        pkt.rx_unit = static_cast<uint8_t>(link().rx_unit);
        link().rx(&pkt);
        guard.lock();
    }
}

}  // namespace

extern "C" {

int simLinkStart(sim_link_rx_t rx, uint32_t rxUnit) {
    simLinkStop();
    std::lock_guard<std::mutex> guard(link().lock);
    link().rx = rx;
    link().rx_unit = rxUnit;
    link().running = true;
    link().delivered = link().lost = 0;
    link().worker = std::thread(run);
    return 0;
}

void simLinkStop(void) {
    {
        std::lock_guard<std::mutex> guard(link().lock);
        link().running = false;
        link().queue.clear();
    }
    link().wake.notify_all();
    if (link().worker.joinable()) link().worker.join();
}

void simLinkConfigure(uint32_t lossPermille, uint32_t dupPermille, uint32_t maxDelayUs, uint32_t seed) {
    std::lock_guard<std::mutex> guard(link().lock);
    link().loss = lossPermille;
    link().dup = dupPermille;
    link().max_delay_us = maxDelayUs;
    link().rng.seed(seed);
}

void simLinkDropNext(uint8_t type, uint32_t sno, uint32_t count) {
    std::lock_guard<std::mutex> guard(link().lock);
    link().drop_type = type;
    link().drop_sno = sno;
    link().drop_count = count;
}

void simLinkTap(sim_link_tap_t tap, void *ctx) {
    std::lock_guard<std::mutex> guard(link().lock);
    link().tap = tap;
    link().tap_ctx = ctx;
}

int simLinkTx(uint32_t, const uint8_t *frame, uint32_t len, void *) {
    if (frame == nullptr || len == 0) return -1;
    std::unique_lock<std::mutex> guard(link().lock);
    if (!link().running) return -1;
    if (link().tap != nullptr) link().tap(frame, len, link().tap_ctx);
    if (link().drop_count > 0 && frame[0] == link().drop_type && frame_sno(frame, len) == link().drop_sno) {
        --link().drop_count;
        ++link().lost;
        return 0;
    }
    std::uniform_int_distribution<uint32_t> permille(0, 999);
    if (permille(link().rng) < link().loss) {
        ++link().lost;
        return 0;
    }
    int copies = permille(link().rng) < link().dup ? 2 : 1;
    std::vector<uint8_t> packet(kEthHdr + len);
    packet[12] = 0xAA;
    packet[13] = 0xAF;
    std::memcpy(packet.data() + kEthHdr, frame, len);
    for (int i = 0; i < copies; ++i) {
        uint32_t delay = link().max_delay_us
                             ? std::uniform_int_distribution<uint32_t>(0, link().max_delay_us)(link().rng)
                             : 0;
        auto due = std::max(Clock::now() + std::chrono::microseconds(delay), link().last_due);
        link().last_due = due;
        link().queue.push_back(InFlight{due, packet});
    }
    guard.unlock();
    link().wake.notify_all();
    return 0;
}

uint32_t simLinkDelivered(void) {
    std::lock_guard<std::mutex> guard(link().lock);
    return link().delivered;
}

uint32_t simLinkLost(void) {
    std::lock_guard<std::mutex> guard(link().lock);
    return link().lost;
}

}  // extern "C"
