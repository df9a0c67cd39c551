// The simulated NIC driver: buffers come from the pool the driver's user
// gives drv_nic_init; frames for the CPU wait in a bounded queue until the
// receive thread "sim_nic_rx" hands them to the registered callback; a frame
// the CPU sends goes to the chip and its buffer back through the
// completion callback.
#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <thread>

#include "platform_sim/sim_chip.h"
#include "sim_chip_internal.h"

namespace {

constexpr size_t kRxQueueMax = 4096;
constexpr size_t kFcsBytes = 4;
constexpr uint32_t kDmaRegionSize = 1u << 20;

struct Nic {
    std::mutex lock;  // guards every field below
    std::condition_variable wake;
    std::condition_variable idle;
    drv_nic_initCfg_t cfg{};
    bool inited = false;
    drv_nic_rx_cb_f cb = nullptr;
    void *cookie = nullptr;
    bool rx_started = false;
    std::deque<drv_nic_pkt_t *> queue;
    int busy = 0;  // frames queued or inside the callback
    uint32_t delivered = 0;
    uint32_t dropped = 0;
};

// Never freed: the receive thread runs until the process ends.
Nic &nic() {
    static Nic *n = new Nic;
    return *n;
}

// The Ethernet frame check sequence (CRC-32, reflected, polynomial
// 0xEDB88320); it goes on the wire least significant byte first.
uint32_t frame_check_sequence(std::span<const uint8_t> frame) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : frame) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void rx_loop() {
    pthread_setname_np(pthread_self(), "sim_nic_rx");
    Nic &n = nic();
    std::unique_lock<std::mutex> g(n.lock);
    for (;;) {
        n.wake.wait(g, [&] { return !n.queue.empty() && n.cb != nullptr; });
        drv_nic_pkt_t *pkt = n.queue.front();
        n.queue.pop_front();
        drv_nic_rx_cb_f cb = n.cb;
        void *cookie = n.cookie;
        drv_nic_pkt_free_f release = n.cfg.pkt_free;
        g.unlock();
        int rc = cb(0, pkt, cookie);
        if (rc != NIC_RX_HANDLED && release != nullptr) release(0, pkt);
        g.lock();
        ++n.delivered;
        --n.busy;
        n.idle.notify_all();
    }
}

}  // namespace

namespace pc::sim {

bool nic_to_cpu(std::span<const uint8_t> frame, const CpuRxInfo &info) {
    Nic &n = nic();
    drv_nic_pkt_alloc_f alloc = nullptr;
    {
        std::lock_guard<std::mutex> g(n.lock);
        if (!n.inited || n.queue.size() >= kRxQueueMax) {
            ++n.dropped;
            return false;
        }
        alloc = n.cfg.pkt_alloc;
    }
    // The frame as the chip received it: with its frame check sequence,
    // which the receive length counts.
    const size_t len = frame.size() + kFcsBytes;
    drv_nic_pkt_t *pkt = nullptr;
    if (alloc(0, static_cast<int32_t>(len), 0, &pkt) != 0 || pkt == nullptr ||
        static_cast<size_t>(pkt->end - pkt->data) < len) {
        if (pkt != nullptr) nic().cfg.pkt_free(0, pkt);
        std::lock_guard<std::mutex> g(n.lock);
        ++n.dropped;
        return false;
    }
    std::memcpy(pkt->data, frame.data(), frame.size());
    const uint32_t fcs = frame_check_sequence(frame);
    for (size_t i = 0; i < kFcsBytes; ++i) pkt->data[frame.size() + i] = static_cast<uint8_t>(fcs >> (8 * i));
    pkt->length = static_cast<uint32_t>(len);
    pkt->tail = pkt->data + len;
    pkt->rx = {};
    pkt->rx.source_port = info.source_port;
    pkt->rx.inner_tag_present = info.tagged ? 1 : 0;
    pkt->rx.inner_vid = info.vid;
    pkt->rx.cpu_queue = info.cpu_queue;
    pkt->rx.acl_hit = info.acl_hit ? 1 : 0;
    pkt->rx.acl_index = info.acl_index;
    pkt->rx.reason = info.reason;
    pkt->rx.new_sa = info.new_sa ? 1 : 0;
    pkt->rx.l2_pmv = info.port_move ? 1 : 0;
    std::lock_guard<std::mutex> g(n.lock);
    n.queue.push_back(pkt);
    ++n.busy;
    n.wake.notify_one();
    return true;
}

}  // namespace pc::sim

extern "C" {

int drv_nic_init(uint32_t unit, const drv_nic_initCfg_t *cfg) {
    if (unit != 0 || cfg == nullptr || cfg->pkt_alloc == nullptr || cfg->pkt_free == nullptr) return -1;
    Nic &n = nic();
    std::lock_guard<std::mutex> g(n.lock);
    n.cfg = *cfg;
    n.inited = true;
    return 0;
}

int nic_rx_thread_cb_register(uint32_t unit, drv_nic_rx_cb_f cb, void *cookie) {
    if (unit != 0 || cb == nullptr) return -1;
    Nic &n = nic();
    std::lock_guard<std::mutex> g(n.lock);
    n.cb = cb;
    n.cookie = cookie;
    n.wake.notify_all();
    return 0;
}

int drv_nic_rx_start(uint32_t unit) {
    if (unit != 0) return -1;
    Nic &n = nic();
    std::lock_guard<std::mutex> g(n.lock);
    if (!n.inited) return -1;
    if (!n.rx_started) {
        std::thread(rx_loop).detach();
        n.rx_started = true;
    }
    return 0;
}

int drv_nic_pkt_tx(uint32_t unit, drv_nic_pkt_t *pPacket, drv_nic_tx_cb_f cb, void *cookie) {
    if (unit != 0 || pPacket == nullptr || pPacket->data == nullptr) return -1;
    pc::sim::chip_cpu_tx(std::span<const uint8_t>(pPacket->data, pPacket->length), *pPacket);
    if (cb != nullptr) cb(unit, pPacket, cookie);
    return 0;
}

int ioal_init_memRegion_get(uint32_t unit, uint32_t region, uint8_t **base, uint32_t *size) {
    if (unit != 0 || region != IOAL_MEM_DMA || base == nullptr || size == nullptr) return -1;
    // The DMA region lives for the whole process.
    static uint8_t *region_base = static_cast<uint8_t *>(std::aligned_alloc(4096, kDmaRegionSize));
    if (region_base == nullptr) return -1;
    *base = region_base;
    *size = kDmaRegionSize;
    return 0;
}

void *osal_alloc(uint32_t size) { return std::malloc(size); }
void osal_free(void *ptr) { std::free(ptr); }

int simChipWaitIdle(unsigned timeoutMs) {
    Nic &n = nic();
    std::unique_lock<std::mutex> g(n.lock);
    bool ok = n.idle.wait_for(g, std::chrono::milliseconds(timeoutMs),
                              [&] { return n.busy == 0 || n.cb == nullptr; });
    return ok ? 0 : -1;
}

uint32_t simNicRxDelivered(void) {
    std::lock_guard<std::mutex> g(nic().lock);
    return nic().delivered;
}

uint32_t simNicRxDropped(void) {
    std::lock_guard<std::mutex> g(nic().lock);
    return nic().dropped;
}

}  // extern "C"
