// Software QoS buckets, one per module id (strom_node), each guarded by its
// own mutex "AXPktQosLock_<mid>" (packetQosLock). Mode 0 counts frames,
// mode 1 bytes; a periodic refill every half second tops a bucket up to its
// capacity. The classifier asks the bucket of a matching copy's module
// before it delivers (axpacketHandleQoS).
#pragma once

#include <cstdint>

namespace pc::packet {

int qos_locks_create();
void qos_locks_destroy();

// One bucket: tokens, (reserved), capacity, mode.
struct QosBucket {
    uint32_t tokens = 0;
    uint32_t reserved = 0;
    uint32_t capacity = 0;
    uint32_t mode = 0;
};
// A copy of module `mid`'s bucket (for tests and listings).
QosBucket qos_bucket(uint32_t mid);

}  // namespace pc::packet
