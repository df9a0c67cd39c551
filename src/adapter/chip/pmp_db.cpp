// The port map database: chip unit and chip port of every port position of
// every device type, built from the platform's device table.
#include <cstdio>

#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_platform.h"

static_assert(sizeof(pmp_entry_t) == 4);

namespace {

// Written by adPmpInit, read afterwards.
pmp_entry_t g_db[DEV_TYPE_NUM][UP_UNIT_PORT_MAX];
bool g_filled[DEV_TYPE_NUM][UP_UNIT_PORT_MAX];
bool g_built[DEV_TYPE_NUM];

// Slot base offset of each slot kind that names a slot of the build.
constexpr int kSlotKindBase[] = {0, 0};
constexpr uint32_t kSlotKinds = sizeof kSlotKindBase / sizeof kSlotKindBase[0];

void build_type(uint32_t type) {
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
        g_db[type][i] = pmp_entry_t{};
        g_filled[type][i] = false;
    }
    const dev_def_t &dev = platformSupportDev[type];
    uint32_t prev_kind = 0;
    uint32_t port = 0;
    for (const dev_port_desc_t &d : dev.ports) {
        if (d.propt_row == 0) continue;
        if (d.slot_kind != prev_kind) port = 1;
        prev_kind = d.slot_kind;
        uint32_t this_port = port++;
        if (d.slot_kind >= kSlotKinds) continue;
        uint32_t offset = static_cast<uint32_t>(kSlotKindBase[d.slot_kind]) + this_port;
        // Slot 1 shares the base offsets of slot 0 in this build: an entry
        // once filled is kept, so a sub-slot port never hides a slot 0 port.
        if (offset >= UP_UNIT_PORT_MAX || g_filled[type][offset] || d.chip_port > 127 || d.chip_unit > 127)
            continue;
        g_db[type][offset] = pmp_entry_t{static_cast<int8_t>(d.slot_kind), static_cast<uint8_t>(this_port),
                                         static_cast<int8_t>(d.chip_unit), static_cast<int8_t>(d.chip_port)};
        g_filled[type][offset] = true;
        PFM_DBG(MID_UP, "baseOffset %d, slot %d, port %d\r\n", static_cast<int>(offset),
                static_cast<int>(d.slot_kind), static_cast<int>(this_port));
    }
    g_built[type] = true;
}

const char *type_name(uint32_t type) {
    return DEV_TYPE_IS_VALID(type) && platformSupportDev[type].name[0] ? platformSupportDev[type].name
                                                                       : "unknown";
}

}  // namespace

extern "C" {

PC_API int adPmpInit(void) {
    for (uint32_t type = 1; type < DEV_TYPE_NUM; ++type) build_type(type);
    return 0;
}

PC_API int adPmpBaseOffset2Chip(uint32_t type, int baseOffset, int *chipUnit, int *chipPort) {
    PFM_ENSURE_RET(MID_UP, DEV_TYPE_IS_VALID(type), -1);
    PFM_ENSURE_RET(
        MID_UP,
        (baseOffset >= 0) && (baseOffset < UP_UNIT_PORT_MAX) && (NULL != chipUnit) && (NULL != chipPort), -1);
    const pmp_entry_t &e = g_db[type][baseOffset];
    *chipUnit = e.chip_unit;
    *chipPort = e.chip_port;
    return 0;
}

PC_API int adPmpChip2BaseOffset(uint32_t type, int chipUnit, int chipPort, int *baseOffset) {
    PFM_ENSURE_RET(MID_UP, ((0 == chipUnit) || (1 == chipUnit)) && (chipPort >= 0) && (NULL != baseOffset),
                   -1);
    *baseOffset = -1;
    if (DEV_TYPE_IS_VALID(type)) {
        for (int i = 0; i < UP_UNIT_PORT_MAX; ++i) {
            const pmp_entry_t &e = g_db[type][i];
            if (g_filled[type][i] && e.chip_unit == chipUnit && e.chip_port == chipPort) {
                *baseOffset = i;
                return 0;
            }
        }
    }
    PFM_ERR(MID_UP, "Baseoffset 2 chip failed, type %s, chipUnit %d, chipPort %d", type_name(type), chipUnit,
            chipPort);
    return -1;
}

PC_API void adPmpDumpDb(void) {
    for (uint32_t type = 1; type < DEV_TYPE_NUM; ++type) {
        if (!g_built[type]) {
            std::printf("type %s is not inited\r\n", type_name(type));
            continue;
        }
        for (int i = 0; i < UP_UNIT_PORT_MAX; ++i) {
            const pmp_entry_t &e = g_db[type][i];
            std::printf("type %s baseOffset %d, slot %d, port %d, chipUnit %d, chipPort %d\r\n",
                        type_name(type), i, e.slot, e.port, e.chip_unit, e.chip_port);
        }
    }
}

}  // extern "C"
