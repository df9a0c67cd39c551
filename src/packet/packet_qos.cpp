// Software QoS of the packet service: token buckets per module id and
// their refill timers.
#include "packet/packet_qos.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/timer.h"

namespace pc::packet {

namespace {

constexpr uint32_t kBuckets = MID_MAX;
constexpr uint32_t kFramesHalf = 2;      // mode 0: speed / 2 per half second
constexpr uint32_t kBytesPerUnit = 512;  // mode 1: speed * 512 per half second
constexpr uint32_t kRateShift = 256;     // timer word: (speed * 256) | mid
constexpr long kRefillNs = 500000000L;

std::array<pal_mutex_t, kBuckets> g_qos_lock{};  // packetQosLock
std::array<QosBucket, kBuckets> g_bucket{};      // strom_node, each under its lock

}  // namespace

int qos_locks_create() {
    for (uint32_t i = 0; i < kBuckets; ++i) {
        if (g_qos_lock[i] != nullptr) continue;
        char name[32];
        std::snprintf(name, sizeof name, "AXPktQosLock_%u", i);
        g_qos_lock[i] = pal_mutex_create(name);
        if (g_qos_lock[i] == nullptr) return -1;
    }
    return 0;
}

void qos_locks_destroy() {
    for (pal_mutex_t &m : g_qos_lock) {
        if (m != nullptr) pal_mutex_destroy(m);
        m = nullptr;
    }
    g_bucket = {};
}

QosBucket qos_bucket(uint32_t mid) {
    if (mid >= kBuckets || g_qos_lock[mid] == nullptr) return {};
    pal::MutexGuard g(g_qos_lock[mid]);
    return g_bucket[mid];
}

int register_qos(uint32_t mid, const char *name, uint32_t mode, uint32_t speed) {
    PACKET_REGIST_T *r = find_registration(mid, name);
    if (r == nullptr || mid >= kBuckets) {
        PFM_ERR(kMid, "Not registered %d %s\n", static_cast<int>(mid), name);
        return -1;
    }
    r->qosRate = speed;
    {
        pal::MutexGuard g(g_qos_lock[mid]);
        QosBucket &b = g_bucket[mid];
        b.mode = mode;
        if (mode == 0) {
            b.capacity = b.tokens = speed / kFramesHalf;
        } else if (mode == 1) {
            b.capacity = b.tokens = speed * kBytesPerUnit;
        }
    }
    timespec interval{0, kRefillNs};
    uintptr_t arg = (static_cast<uintptr_t>(speed) * kRateShift) | mid;
    add_timer(name, &interval, axPacketHandleSoftQoSTimer, arg, TIMER_MODE_PERIODIC);
    return 0;
}

}  // namespace pc::packet

using namespace pc::packet;

extern "C" {

PC_API int axpacketHandleQoS(uint32_t modId, uint32_t length) {
    if (modId >= kBuckets || g_qos_lock[modId] == nullptr) return 0;
    pc::pal::MutexGuard g(g_qos_lock[modId]);
    QosBucket &b = g_bucket[modId];
    if (b.mode == 0) {
        if (b.tokens == 0) return -1;
        --b.tokens;
    } else if (b.mode == 1) {
        if (b.tokens < length) return -1;
        b.tokens -= length;
    }
    return 0;
}

PC_API void axPacketHandleSoftQoSTimer(uintptr_t arg) {
    uint32_t mid = static_cast<uint32_t>(arg & 0xFF);
    uint32_t rate = static_cast<uint32_t>(arg / kRateShift);
    if (mid >= kBuckets || g_qos_lock[mid] == nullptr) return;
    pc::pal::MutexGuard g(g_qos_lock[mid]);
    QosBucket &b = g_bucket[mid];
    uint64_t add = b.mode == 0   ? rate / kFramesHalf
                   : b.mode == 1 ? static_cast<uint64_t>(rate) * kBytesPerUnit
                                 : 0;
    b.tokens = static_cast<uint32_t>(std::min<uint64_t>(b.capacity, b.tokens + add));
}

}  // extern "C"
