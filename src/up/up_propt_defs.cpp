// Port property words and the tables built from the platform's device table.
#include "up/up_propt_defs.h"

#include <cstddef>

#include "platform_core/platform.h"
#include "platform_core/up_platform.h"

static_assert(sizeof(dev_port_desc_t) == 20);
static_assert(offsetof(dev_def_t, stack_family) == 32);
static_assert(offsetof(dev_def_t, ports) == 164);
static_assert(sizeof(dev_def_t) == 1264);

extern "C" {

const uint32_t upProptDefs[UP_PROPT_DEF_ROWS] = {
    0,          0,          0x48400001, 0x48800001, 0x50800001, 0x50a00001, 0x60800001,
    0x60a00001, 0x49000005, 0x43000005, 0x45000005, 0x4900000d, 0x4300000d, 0x4500000d,
};

// No sub-slot module of this build changes the port words of slot 1.
const uint32_t subslotProptDefs[SUBSLOT_TYPE_NUM][SUBSLOT_PORT_NUM] = {};

}  // extern "C"

namespace pc::up {

namespace {

uint32_t g_unit_defs[DEV_TYPE_NUM][UP_UNIT_PORT_MAX];  // written by build_propt_defs
uint32_t g_stk_maps[kStkFamilyMaps];                   // written by build_propt_defs

// Definition entry of the descriptor at `position` within its slot kind.
int def_index(uint32_t slot_kind, uint32_t position) {
    uint32_t base = 0;
    switch (slot_kind) {
        case DEV_SLOT_KIND_0:
            base = 0;
            break;
        case DEV_SLOT_KIND_1:
            base = UP_PROPT_SLOT1_BASE;
            break;
        case DEV_SLOT_KIND_2:
            base = UP_PROPT_SLOT2_BASE;
            break;
        default:
            return -1;
    }
    uint32_t index = base + position;
    return index < UP_UNIT_PORT_MAX ? static_cast<int>(index) : -1;
}

void build_type(uint32_t type) {
    uint32_t *defs = g_unit_defs[type];
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) defs[i] = 0;
    const dev_def_t &dev = platformSupportDev[type];
    uint32_t position = 0;
    for (uint32_t d = 0; d < DEV_PORT_DESC_NUM; ++d) {
        const dev_port_desc_t &desc = dev.ports[d];
        if (d > 0 && desc.slot_kind != dev.ports[d - 1].slot_kind) position = 0;
        int index = def_index(desc.slot_kind, position);
        ++position;
        if (index < 0 || desc.propt_row >= UP_PROPT_DEF_ROWS) {
            PFM_ERR(MID_UP, "Invalid dev defs");
            continue;
        }
        // A descriptor that describes no port never clears one set before.
        if (upProptDefs[desc.propt_row] != 0) defs[index] = upProptDefs[desc.propt_row];
    }
}

}  // namespace

int build_propt_defs() {
    for (uint32_t k = 1; k < kStkFamilyMaps; ++k) {
        uint32_t map = 0;
        // The map is one 32-bit word: types above 31 cannot be marked.
        for (uint32_t t = 1; t < DEV_TYPE_NUM && t < 32; ++t)
            if (platformSupportDev[t].stack_family == platformSupportDev[k].stack_family) map |= 1u << t;
        g_stk_maps[k] = map;
    }
    for (uint32_t t = 1; t < DEV_TYPE_NUM; ++t) build_type(t);
    return 0;
}

const uint32_t *unit_propt_defs(uint32_t type) { return g_unit_defs[type < DEV_TYPE_NUM ? type : 0]; }

uint32_t stk_compatible_map(uint32_t family) { return family < kStkFamilyMaps ? g_stk_maps[family] : 0; }

uint32_t local_unit_id() { return UNIT_1; }

int stack_port_setting_get(uint32_t, int *enable) {
    *enable = 0;
    return 0;
}

}  // namespace pc::up
