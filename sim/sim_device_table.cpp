// The simulated platform's table of supported devices. Each row lists the
// CPU position and the front-panel ports in order, with the chip unit and
// chip port that carry each one and the row of the port property words.
#include <cstddef>
#include <initializer_list>

#include "platform_core/up_platform.h"
#include "platform_sim/sim_device.h"

static_assert(sizeof(dev_port_desc_t) == 20);
static_assert(offsetof(dev_def_t, stack_family) == 32);
static_assert(offsetof(dev_def_t, ports) == 164);
static_assert(sizeof(dev_def_t) == 1264);

namespace {

// Property rows used here (the library's port property words).
constexpr uint32_t kRowCpu = 1;    // a position without a front-panel port
constexpr uint32_t kRowFe = 2;     // FastEthernet
constexpr uint32_t kRowGe = 3;     // GigabitEthernet copper
constexpr uint32_t kRowGeSfp = 5;  // GigabitEthernet SFP
constexpr uint32_t kRowGeCombo = 6;
constexpr uint32_t kRowTe = 8;  // TenGigabitEthernet, stack capable
constexpr uint32_t kRowTeUplink = 9;
constexpr uint32_t kRowTeModule = 11;

constexpr uint32_t kFamilyAccess = 1;
constexpr uint32_t kFamilyAggregation = 2;

// A run of `count` descriptors of one slot kind and row on consecutive chip
// ports starting at `chip_port`.
struct PortRun {
    uint32_t slot_kind;
    uint32_t chip_unit;
    uint32_t chip_port;
    uint32_t count;
    uint32_t row;
};

constexpr dev_def_t make_device(const char *name, uint32_t family, std::initializer_list<PortRun> runs) {
    dev_def_t d{};
    for (size_t i = 0; name[i] != '\0' && i + 1 < DEV_NAME_LEN; ++i) d.name[i] = name[i];
    d.stack_family = family;
    size_t n = 0;
    for (const PortRun &run : runs)
        for (uint32_t k = 0; k < run.count && n < DEV_PORT_DESC_NUM; ++k)
            d.ports[n++] = dev_port_desc_t{run.slot_kind, run.chip_unit, run.chip_port + k, run.row, 0};
    return d;
}

}  // namespace

extern "C" {

const dev_def_t platformSupportDev[DEV_TYPE_NUM] = {
    {},
    // 8 copper GigabitEthernet ports and 2 SFP ports.
    make_device("S1210-8G2S", kFamilyAccess,
                {{0, 0, 28, 1, kRowCpu}, {0, 0, 0, 8, kRowGe}, {0, 0, 24, 2, kRowGeSfp}}),
    // 24 GigabitEthernet ports and 4 TenGigabitEthernet stack ports.
    make_device("S2628-24G4X", kFamilyAggregation,
                {{0, 0, 52, 1, kRowCpu}, {0, 0, 8, 24, kRowGe}, {0, 0, 0, 4, kRowTe}}),
    // 48 GigabitEthernet and 4 TenGigabitEthernet ports and a two-port
    // TenGigabitEthernet sub-slot module.
    make_device("S2652-48G4X", kFamilyAggregation,
                {{0, 0, 60, 1, kRowCpu},
                 {0, 0, 0, 48, kRowGeCombo},
                 {0, 0, 48, 4, kRowTeUplink},
                 {1, 0, 56, 2, kRowTeModule}}),
    // 24 FastEthernet ports and 2 GigabitEthernet uplinks.
    make_device("S1226-24F2G", kFamilyAccess,
                {{0, 0, 26, 1, kRowCpu}, {0, 0, 0, 24, kRowFe}, {0, 0, 24, 2, kRowGeSfp}}),
};

}  // extern "C"
