// Rate statistics of the packet service: a 5-second timer turns the four
// traffic counters into frames per second (words 25 to 28 of axpkt_stat).
#include <array>
#include <atomic>

#include "packet/packet_kernel.h"
#include "packet/packet_registry.h"
#include "platform_core/platform.h"
#include "platform_core/timer.h"

namespace {

constexpr const char *kRateTimerName = "/axpktRateTimer";
constexpr time_t kRateSeconds = 5;
constexpr int kRates = 4;

std::array<std::atomic<uint32_t>, kRates> g_counts{};  // frames since the last tick
timer_id_t g_rate_timer{};                             // the running timer

uint32_t &word(uint32_t w) { return axpkt_stat[w]; }

void rate_timer_handler(uintptr_t) { axpacketRateTimer(); }

}  // namespace

namespace pc::packet {

void rate_count(int which) {
    if (std::atomic_ref<uint32_t>(word(AXPKT_STAT_RATE_ENABLE)).load(std::memory_order_relaxed) == 0) return;
    g_counts[static_cast<size_t>(which)].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace pc::packet

extern "C" {

PC_API int axpacketRateEnable(int enable) {
    std::atomic_ref<uint32_t> on(word(AXPKT_STAT_RATE_ENABLE));
    bool now = on.load() != 0;
    if ((enable != 0) == now) return 0;
    if (enable) {
        timespec interval{kRateSeconds, 0};
        timer_id_t id = add_timer(kRateTimerName, &interval, rate_timer_handler, 0, TIMER_MODE_PERIODIC);
        if (id.name[0] == '\0') {
            std::printf("axpacket rate stat add timer fail\n");
            return -1;
        }
        g_rate_timer = id;
        for (int i = 0; i < kRates; ++i) {
            std::atomic_ref<uint32_t>(word(AXPKT_STAT_RATE + i)).store(0);
            g_counts[i] = 0;
        }
        on.store(1);
    } else {
        on.store(0);
        del_timer(g_rate_timer);
        g_rate_timer = timer_id_t{};
    }
    return 0;
}

PC_API int axpacketRateTimer(void) {
    for (int i = 0; i < kRates; ++i)
        std::atomic_ref<uint32_t>(word(AXPKT_STAT_RATE + i))
            .store(g_counts[i].exchange(0) / static_cast<uint32_t>(kRateSeconds));
    return static_cast<int>(kRateSeconds);
}

}  // extern "C"
