// The dense inner index of UP values and the constant lists.
#include <bit>

#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "up/up_bits.h"

namespace {

constexpr UP kIndexEndValue = 0x01010104;

uint32_t unit_base_quiet(uint32_t unit) { return unit < UNIT_NUM + 1 ? pc::up::kUnitBase[unit] : 0; }
uint32_t slot_offset_quiet(uint32_t slot) { return slot < UP_SLOT_NUM ? pc::up::kSlotBaseOffset[slot] : 0; }

}  // namespace

extern "C" {

PC_API uint32_t inner_up_to_idx(UP up) {
    switch (UP_TYPE(up)) {
        case UP_TYPE_SWP:
            return unit_base_quiet(UP_UNIT(up)) + slot_offset_quiet(UP_SLOT(up)) + UP_PORT(up);
        case UP_TYPE_LAG:
            return INNER_UP_LAG_BASE + UP_LAG_ID(up);
        default:
            return 0;
    }
}

PC_API UP inner_up_from_index(UP *up, uint32_t index, int quiet, const char *func, int line) {
    UP value = 0;
    if (INNER_UP_IDX_IS_LEGAL(index)) {
        value = pc::up::kIndexTable.up[index];
    } else if (index == INNER_UP_IDX_MAX) {
        value = kIndexEndValue;
        if (!quiet) PFM_ERR(MID_UP, "Invalid index, %s, %d", func ? func : "", line);
    } else {
        PFM_ENSURE_FAILED(MID_UP, "INNER_UP_IDX_IS_LEGAL(index)");
    }
    if (up != nullptr) *up = value;
    return value;
}

PC_API int inner_up_unitbase_get(uint32_t unit) {
    if (unit == UNIT_1 || unit == UNIT_NUM) return static_cast<int>(pc::up::kUnitBase[unit]);
    PFM_ENSURE_FAILED(MID_UP, "INNER_UP_UNIT_IS_LEGAL(unit)");
    return -1;
}

PC_API int inner_up_slotbaseoffset_get(uint32_t slot) {
    PFM_ENSURE_RET(MID_UP, UP_SLOT_IS_LEGAL(slot), -1);
    return static_cast<int>(pc::up::kSlotBaseOffset[slot]);
}

PC_API int inner_up_legal_list_get(up_list *l) {
    PFM_ENSURE_RET(MID_UP, NULL != l, -1);
    *l = pc::up::kLegalList;
    return 0;
}

PC_API uint32_t inner_up_get_bitcnt(uint32_t word) { return static_cast<uint32_t>(std::popcount(word)); }

}  // extern "C"
