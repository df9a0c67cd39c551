// Sub-slots, port ranges, absent ports and clearing a unit.
#include <cstring>

#include "platform_core/platform.h"
#include "platform_core/up_propt.h"
#include "up/up_bits.h"
#include "up/up_propt_defs.h"
#include "up/up_shared.h"

namespace {

bool slot1_words_zero(const uint32_t *mode) {
    for (uint32_t i = 0; i < SUBSLOT_PORT_NUM; ++i)
        if (mode[UP_PROPT_SLOT1_BASE + i] != 0) return false;
    return true;
}

// Stat, type, the unit's port words and its part of the valid list := 0.
// With `only_provisioned`, nothing happens unless the unit is provisioned.
int clear_unit(bool only_provisioned) {
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        if (only_provisioned && rec.stat != DEV_STAT_PROVISION) return false;
        rec.stat = 0;
        rec.type = 0;
        std::memset(rec.mode, 0, UP_UNIT_PORT_MAX * sizeof(uint32_t));
        return pc::up::valid_list_update([](up_list &l) {
            for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) l.bits[pc::up::kUnitWords + w] = 0;
            return true;
        });
    });
    return ok ? 0 : -1;
}

}  // namespace

extern "C" {

PC_API int upProptSubslotTypeSet(uint32_t unit, uint32_t subslot, uint32_t subslot_type) {
    PFM_ENSURE_RET(MID_UP, SUBSLOT_TYPE_IS_VALID(subslot_type), -1);
    PFM_ENSURE_RET(MID_UP, UP_SLOT_IS_LEGAL(subslot) && (subslot != 0), -1);
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    uint32_t dev_type = 0;
    bool no_slot1 = false;
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        if (slot1_words_zero(rec.mode)) {
            no_slot1 = true;
            dev_type = rec.type;
            return false;
        }
        bool has_entry = false;
        for (uint32_t w : subslotProptDefs[subslot_type]) has_entry = has_entry || w != 0;
        if (subslot_type != 0 && has_entry)
            std::memcpy(&rec.mode[UP_PROPT_SLOT1_BASE], subslotProptDefs[subslot_type],
                        SUBSLOT_PORT_NUM * sizeof(uint32_t));
        rec.subslot_type = subslot_type;
        return true;
    });
    if (no_slot1) {
        PFM_ERR(MID_UP, "Unit=%d, type=%d, not support slot1\r\n", static_cast<int>(unit),
                static_cast<int>(dev_type));
        return -1;
    }
    return ok ? 0 : -1;
}

PC_API int upProptSubslotTypeGet(uint32_t unit, uint32_t subslot, uint32_t *subslot_type) {
    PFM_ENSURE_RET(MID_UP, UP_SLOT_IS_LEGAL(subslot) && (subslot != 0), -1);
    PFM_ENSURE_RET(MID_UP, NULL != subslot_type, -1);
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *subslot_type = p.subslot_type;
    return 0;
}

PC_API int upProptSubslotIsPresent(uint32_t unit, uint32_t subslot) {
    uint32_t subslot_type = 0;
    if (int rc = upProptSubslotTypeGet(unit, subslot, &subslot_type); rc != 0) {
        PFM_CALL_FAILED(MID_UP, rc, "upProptSubslotTypeGet(unit, subslot, &subslot_type)");
        return 0;
    }
    PFM_DBG(MID_UP, "Subslot%d of u%d is %d", static_cast<int>(subslot), static_cast<int>(unit),
            static_cast<int>(subslot_type));
    return subslot_type != 0 && subslot_type != SUBSLOT_TYPE_NUM;
}

PC_API int upProptSubslotAmountGet(uint32_t unit, uint32_t *subslotAmount) {
    PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(unit), -1);
    PFM_ENSURE_RET(MID_UP, NULL != subslotAmount, -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *subslotAmount = p.slot_amount > 0 ? p.slot_amount - 1u : 0u;
    return 0;
}

PC_API int upProptPortRangeGet(uint32_t unit, uint32_t it, uint32_t slot, uint32_t *from, uint32_t *to) {
    PFM_ENSURE_RET(MID_UP, NULL != from, -1);
    PFM_ENSURE_RET(MID_UP, NULL != to, -1);
    if (it == INTF_TYPE_LAG) {
        int lags = getChannelGroupNumber();
        *from = 1;
        *to = lags > 0 ? (lags < UP_LAG_MAX ? static_cast<uint32_t>(lags) : UP_LAG_MAX) : 0u;
        return 0;
    }
    PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(unit), -1);
    PFM_ENSURE_RET(MID_UP, INTF_TYPE_IS_LEGAL(it), -1);
    PFM_ENSURE_RET(MID_UP, UP_SLOT_IS_LEGAL(slot), -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *from = p.port_range[2 * it + slot][0];
    *to = p.port_range[2 * it + slot][1];
    return 0;
}

PC_API int upProptUnitAmountGet(void) {
    return UP_UNIT_IS_VALID(UNIT_1) && !inner_up_unit_is_provision(UNIT_1) ? 1 : 0;
}

PC_API int upProptAbsentPortsGet(uint32_t unit, uint32_t from, uint32_t to, up_list *l) {
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    PFM_ENSURE_RET(MID_UP, DEV_TYPE_IS_LEGAL(from), -1);
    PFM_ENSURE_RET(MID_UP, DEV_TYPE_IS_LEGAL(to), -1);
    PFM_ENSURE_RET(MID_UP, NULL != l, -1);
    if (from == to || from == 0) return 0;
    const uint32_t *f = pc::up::unit_propt_defs(from);
    const uint32_t *t = pc::up::unit_propt_defs(to);
    auto mark = [&](uint32_t entry, uint32_t slot, uint32_t port) {
        if (f[entry] != 0 && f[entry] != t[entry])
            pc::up::list_set(*l, pc::up::kUnitWords, pc::up::kSlotBaseOffset[slot] + port);
    };
    for (uint32_t port = 1; port <= UP_SLOT0_PORT_MAX; ++port) mark(port, 0, port);
    for (uint32_t port = 0; port <= UP_SLOT1_PORT_MAX; ++port) mark(UP_PROPT_SLOT1_BASE + port, 1, port);
    return 0;
}

PC_API int upProptUnitUnset(uint32_t unit) {
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    return clear_unit(false);
}

PC_API int upProptProvDevClear(void) {
    clear_unit(true);
    return 0;
}

}  // extern "C"
