// Fuzzes the walk over the kernel's link messages that the simulated
// switch's carrier watcher reads (sim/sim_carrier_messages.h): whatever the
// datagram holds, the walk reads only inside it and ends.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../sim/sim_carrier_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exactly sized copy, so a read past the end is caught.
    std::vector<uint8_t> datagram(data, data + size);
    unsigned changes = 0;
    pc::sim::for_each_carrier_change(std::span<const uint8_t>(datagram.data(), datagram.size()),
                                     [&](const pc::sim::CarrierChange &c) { changes += c.up ? 2 : 1; });
    return changes == 0xFFFFFFFFu ? -1 : 0;
}
