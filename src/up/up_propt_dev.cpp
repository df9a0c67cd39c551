// The unit property record: creation, start-up, device status and type, and
// the port ranges derived from the type.
#include <cstring>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/up_propt.h"
#include "up/up_bits.h"
#include "up/up_propt_defs.h"
#include "up/up_shared.h"

namespace {

using pc::up::kUnitWords;

bool words_zero(const uint32_t *w, uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        if (w[i] != 0) return false;
    return true;
}

uint8_t slot_amount_of(const uint32_t *mode) {
    if (words_zero(mode, UP_PROPT_SLOT1_BASE, UP_PROPT_SLOT1_BASE + SUBSLOT_PORT_NUM)) return 1;
    if (words_zero(mode, UP_PROPT_SLOT2_BASE, UP_PROPT_SLOT2_BASE + SUBSLOT_PORT_NUM)) return 2;
    return 3;
}

// Port ranges of every interface type and slot from the valid ports.
int parse_ups(uint32_t unit) {
    PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(unit), -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    uint8_t ranges[UP_PROPT_PORT_RANGE_PAIRS][2] = {};
    uint32_t cur_type = INTF_TYPE_MAX;
    uint32_t cur_slot = 0;
    uint32_t number = 0;
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
        UP up = pc::up::kIndexTable.up[i];
        if (!UP_IS_VALID(up)) continue;
        uint32_t it = INTF_TYPE_MAX;
        if (int rc = upProptIntfTypeGet(up, &it); rc != 0) {
            PFM_CALL_FAILED(MID_UP, rc, "upProptIntfTypeGet(up, &it)");
            return rc;
        }
        uint32_t slot = UP_SLOT(up);
        if (cur_type == INTF_TYPE_MAX || slot != cur_slot) number = 0;
        ++number;
        uint8_t *range = ranges[2 * it + slot];
        if (it != cur_type || slot != cur_slot || number == 1) range[0] = static_cast<uint8_t>(number);
        range[1] = static_cast<uint8_t>(number);
        cur_type = it;
        cur_slot = slot;
    }
    if (cur_type == INTF_TYPE_MAX) {
        PFM_ENSURE_FAILED(MID_UP, "curType != INTF_TYPE_MAX");
        return -1;
    }
    uint8_t amount = slot_amount_of(p.mode);
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        rec.slot_amount = amount;
        std::memcpy(rec.port_range, ranges, sizeof ranges);
        return true;
    });
    return ok ? 0 : -1;
}

}  // namespace

extern "C" {

PC_API int upProptShmReg(void) {
    PFM_CALL_RET(MID_UP, axshm_reg_data(SHM_SYS_PROPT_NAME, static_cast<int>(sizeof(sys_property_t))));
    PFM_CALL_RET(MID_UP, axshm_reg_data(SHM_VALID_UPLIST_NAME, static_cast<int>(sizeof(up_list))));
    PFM_CALL_RET(MID_UP, upProptShmGet());
    bool ok = pc::up::propt_update([](sys_property_t &rec) {
        rec.stat = 0;
        rec.type = 0;
        std::memset(rec.mode, 0, sizeof rec.mode);
        return pc::up::valid_list_update([](up_list &l) {
            l = up_list{};
            return true;
        });
    });
    return ok ? 0 : -1;
}

PC_API int upProptShmGet(void) {
    PFM_CALL_RET(MID_UP, pc::up::attach_propt_block());
    PFM_CALL_RET(MID_UP, pc::up::attach_valid_block());
    return 0;
}

PC_API int upProptInit(void) {
    uint32_t unit = pc::up::local_unit_id();
    int mode_type = getDevType();
    PFM_CALL_RET(MID_UP, pc::up::build_propt_defs());
    if (!unitIsLegal(static_cast<int>(unit))) unit = UNIT_1;
    PFM_CALL_RET(MID_UP, upProptDevStatSet(unit, DEV_STAT_PRESENT));
    PFM_CALL_RET(MID_UP, upProptDevTypeSet(unit, static_cast<uint32_t>(mode_type)));
    PFM_DBG(MID_UP, "Set current dev type, unit %d, type %d.", static_cast<int>(unit), mode_type);

    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
        UP up = pc::up::kIndexTable.up[i];
        if (!UP_IS_VALID(up) || upProptChkMode(up, UP_MODE_STACK_CAPABLE) != 1) continue;
        uint32_t base_offset = pc::up::port_bit(up);
        int enable = 0;
        if (int rc = pc::up::stack_port_setting_get(base_offset, &enable); rc != 0) {
            PFM_CALL_FAILED(MID_UP, rc, "stackNvcfgSPmodeGet(baseOffset, &enable)");
            return rc;
        }
        PFM_WARN(MID_UP, "%d/%d/%d, baseOffset %d, enable %d", static_cast<int>(UP_UNIT(up)),
                 static_cast<int>(UP_SLOT(up)), static_cast<int>(UP_PORT(up)), static_cast<int>(base_offset),
                 enable);
        PFM_CALL_RET(MID_UP, upProptSetMode(up, enable ? UP_MODE_STACKING : UP_MODE_NORMAL));
    }
    return 0;
}

PC_API int upProptDevStatSet(uint32_t unit, uint32_t stat) {
    PFM_ENSURE_RET(MID_UP, DEV_STAT_IS_LEGAL(stat), -1);
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    return pc::up::propt_update([stat](sys_property_t &rec) {
        rec.stat = stat;
        return true;
    })
               ? 0
               : -1;
}

PC_API int upProptDevStatGet(uint32_t unit, uint32_t *stat) {
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    PFM_ENSURE_RET(MID_UP, (NULL != stat), -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *stat = p.stat;
    return 0;
}

PC_API int upProptDevTypeSet(uint32_t unit, uint32_t type) {
    PFM_ENSURE_RET(MID_UP, DEV_TYPE_IS_LEGAL(type), -1);
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    const uint32_t *defs = pc::up::unit_propt_defs(type);
    uint32_t map = pc::up::stk_compatible_map(platformSupportDev[type].stack_family);
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        rec.type = type;
        std::memcpy(rec.mode, defs, UP_UNIT_PORT_MAX * sizeof(uint32_t));
        rec.stk_compatible_map = map;
        // The valid list follows the presence bit of every port of the unit.
        return pc::up::valid_list_update([&](up_list &l) {
            for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
                if (rec.mode[i] & (1u << UP_MODE_PRESENT))
                    pc::up::list_set(l, kUnitWords, i);
                else
                    pc::up::list_clear(l, kUnitWords, i);
            }
            return true;
        });
    });
    if (!ok) return -1;
    PFM_DBG(MID_UP, "UPP: Set type done, unit %d, type %d, start to parse ups", static_cast<int>(unit),
            static_cast<int>(type));
    if (int rc = parse_ups(unit); rc != 0) {
        PFM_CALL_FAILED(MID_UP, rc, "_upProptParseUps(unit)");
        return rc;
    }
    return 0;
}

PC_API int upProptDevTypeGet(uint32_t unit, uint32_t *type) {
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), -1);
    PFM_ENSURE_RET(MID_UP, (NULL != type), -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *type = p.type;
    return 0;
}

PC_API const dev_def_t *upProptDevTypeDesGet(uint32_t type) {
    PFM_ENSURE_RET(MID_UP, (DEV_TYPE_IS_VALID(type)), nullptr);
    return &platformSupportDev[type];
}

PC_API const dev_def_t *upProptDevTypeDesGetByUnit(uint32_t unit) {
    PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(unit), nullptr);
    uint32_t type = 0;
    if (upProptDevTypeGet(unit, &type) != 0) return nullptr;
    return upProptDevTypeDesGet(type);
}

PC_API int upProptDevTypeMapGet(uint32_t *map) {
    PFM_ENSURE_RET(MID_UP, NULL != map, -1);
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    *map = p.stk_compatible_map;
    return 0;
}

PC_API int upProptStkCompatibleChk(uint32_t type) {
    if (!DEV_TYPE_IS_VALID(type)) {
        pfmLogEmit(PFM_LOG_ERR, MID_UP, __func__, __LINE__, "Stack: Unsupport device type %d",
                   static_cast<int>(type));
        return 0;
    }
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return 0;
    if (type < 32 && (p.stk_compatible_map & (1u << type))) {
        PFM_DBG(MID_UP, "Compatible Chk OK, local %d, target %d", static_cast<int>(p.stk_compatible_map),
                static_cast<int>(type));
        return 1;
    }
    PFM_WARN(MID_UP, "Incompatible dev type, map %#x, target %d", p.stk_compatible_map,
             static_cast<int>(type));
    return 0;
}

}  // extern "C"
