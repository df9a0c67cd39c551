// Asks the simulated chip for the link of front port 1/0/1, as the first
// chip call of a new process: exits 0 when the chip answers "up", 1 if not.
// Usage: chip_link_probe
#include "platform_core/chip_sdk.h"
#include "platform_core/up.h"
#include "platform_sim/sim_chip.h"

int main() {
    const int port = simChipPortOf(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1));
    uint32_t link = 0;
    return port >= 0 && sdk_port_link_get(0, static_cast<uint32_t>(port), &link) == 0 && link == 1 ? 0 : 1;
}
