// Conversions between UP values, module ids and chip ports, and between
// port lists and logical port lists.
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"

namespace {

constexpr int kModidPerUnit = 2;
constexpr int kLocalModid = 2;
constexpr uint32_t kCurrentUnit = UNIT_1;  // a stand-alone unit in this build

int base_offset_of(UP up) { return inner_up_slotbaseoffset_get(UP_SLOT(up)) + static_cast<int>(UP_PORT(up)); }

bool lport_test(const lport_list_t &l, uint32_t bit) { return (l.bits[bit / 32] >> (bit % 32)) & 1u; }
void lport_set(lport_list_t &l, uint32_t bit) { l.bits[bit / 32] |= 1u << (bit % 32); }

template <class Op>
int lport_combine(const lport_list_t *a, const lport_list_t *b, lport_list_t *out, Op op) {
    for (int w = 0; w < PMP_LPORT_WORDS; ++w) out->bits[w] = op(a->bits[w], b->bits[w]);
    return 0;
}

}  // namespace

extern "C" {

PC_API int adPmpUp2Bp(UP up, int *chipUnit, int *chipPort) {
    PFM_ENSURE_RET(
        MID_UP,
        (UP_IS_VALID(up) || UP_IS_VALID_CPU(up)) && UP_IS_SWP(up) && (NULL != chipUnit) && (NULL != chipPort),
        -1);
    uint32_t upunit = UP_UNIT(up);
    uint32_t mode_type = 0;
    PFM_CALL_RET(MID_UP, upProptDevTypeGet(upunit, &mode_type));
    if (mode_type == 0) {
        PFM_ERR(MID_UP, "Unit %d is not ready.", static_cast<int>(upunit));
        return -1;
    }
    int baseOffset = base_offset_of(up);
    PFM_CALL_RET(MID_UP, adPmpBaseOffset2Chip(mode_type, baseOffset, chipUnit, chipPort));
    if (upunit != kCurrentUnit) *chipUnit += static_cast<int>(upunit) * kModidPerUnit;
    return 0;
}

PC_API int adPmpUp2Modid(UP up, int *modid) {
    PFM_ENSURE_RET(MID_UP, modid != NULL, -1);
    PFM_ENSURE_RET(MID_UP, UP_IS_VALID(up) || UP_IS_VALID_CPU(up), -1);
    uint32_t unit = UP_UNIT(up);
    uint32_t mode_type = 0;
    PFM_CALL_RET(MID_UP, upProptDevTypeGet(unit, &mode_type));
    int baseOffset = base_offset_of(up);
    int chipUnit = 0, chipPort = 0;
    PFM_CALL_RET(MID_UP, adPmpBaseOffset2Chip(mode_type, baseOffset, &chipUnit, &chipPort));
    *modid = static_cast<int>(unit) * kModidPerUnit + chipUnit;
    return 0;
}

PC_API int adPmpUp2Modport(UP up, int *modid, int *modport) {
    PFM_ENSURE_RET(MID_UP, modid != NULL, -1);
    PFM_ENSURE_RET(MID_UP, modport != NULL, -1);
    PFM_ENSURE_RET(MID_UP, UP_IS_VALID(up) || UP_IS_VALID_CPU(up), -1);
    PFM_ENSURE_RET(MID_UP, UP_IS_SWP(up), -1);
    int chipUnit = 0, chipPort = 0;
    PFM_CALL_RET(MID_UP, adPmpUp2Bp(up, &chipUnit, &chipPort));
    PFM_CALL_RET(MID_UP, adPmpBu2Modid(chipUnit, modid));
    *modport = chipPort;
    PFM_DBG(MID_UP, "UP %d", static_cast<int>(up));
    return 0;
}

PC_API int adPmpModport2Up(int modid, int modport, UP *up) {
    PFM_ENSURE_RET(MID_UP, up != NULL, -1);
    if (modid != kLocalModid && modid != kLocalModid + 1) {
        PFM_ERR(MID_UP, "Invalid modid %d, modport %d", modid, modport);
        return -1;
    }
    PFM_DBG(MID_UP, "modid %d, modport %d", modid, modport);
    int chipUnit = 0;
    PFM_CALL_RET(MID_UP, adPmpModid2Bu(modid, &chipUnit));
    if (adPmpBp2Up(chipUnit, modport, up) != 0) {
        PFM_ERR(MID_UP, "bp 2 up failed, modid %d, modport %d", modid, modport);
        return -1;
    }
    return 0;
}

PC_API int adPmpBu2Modid(int, int *modid) {
    PFM_ENSURE_RET(MID_UP, modid != NULL, -1);
    *modid = kLocalModid;
    return 0;
}

PC_API int adPmpModid2Bu(int, int *chipUnit) {
    PFM_ENSURE_RET(MID_UP, chipUnit != NULL, -1);
    *chipUnit = 0;
    return 0;
}

PC_API int adPmpGetCpuInUp(uint32_t unit, UP *cpuUp) {
    PFM_ENSURE_RET(MID_UP, (INNER_UP_UNIT_IS_LEGAL(unit)) && (NULL != cpuUp), -1);
    *cpuUp = UP_CPU_VALUE(unit);
    return 0;
}

PC_API int adPmpBp2Up_intern(int chipUnit, int chipPort, UP *up, const char *func, int line) {
    int unit = chipUnit >= 0 ? chipUnit / kModidPerUnit : -1;
    if (unit == 0) unit = static_cast<int>(kCurrentUnit);
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit) && (chipUnit >= 0) && (chipPort >= 0) && (NULL != up),
                   -1);
    uint32_t type = 0;
    PFM_CALL_RET(MID_UP, upProptDevTypeGet(static_cast<uint32_t>(unit), &type));
    if (type == 0) {
        PFM_WARN(MID_UP, "Unit %d is not ready, chipUnit %d, chipPort %d.", unit, chipUnit, chipPort);
        return -1;
    }
    int baseOffset = -1;
    if (adPmpChip2BaseOffset(type, chipUnit % kModidPerUnit, chipPort, &baseOffset) != 0) {
        PFM_ERR(MID_UP, "triggered err in %s %d\r\n", func ? func : "", line);
        return -1;
    }
    inner_up_from_index(
        up, static_cast<uint32_t>(inner_up_unitbase_get(static_cast<uint32_t>(unit)) + baseOffset), 1, func,
        line);
    return 0;
}

PC_API int adPmpUportListToLportList(const up_list *uplist, lport_list_t *lplist) {
    PFM_ENSURE_RET(MID_UP, (uplist != NULL) && (lplist != NULL), -1);
    bool unit_empty = true;
    for (int w = 0; w < UP_LIST_UNIT_WORDS; ++w) unit_empty = unit_empty && uplist->bits[w] == 0;
    if (unit_empty) return 0;
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
        if (!((uplist->bits[i / 32] >> (i % 32)) & 1u)) continue;
        UP up = 0;
        inner_up_from_index(&up, i, 1, __func__, __LINE__);
        int unit = 0, chipPort = 0;
        if (int rc = adPmpUp2Bp(up, &unit, &chipPort); rc != 0) {
            PFM_CALL_FAILED(MID_UP, rc, "adPmpUp2Bp(up, &unit, &chipPort)");
            return rc;
        }
        if (chipPort >= 0 && chipPort < PMP_LPORT_MAX) lport_set(*lplist, static_cast<uint32_t>(chipPort));
    }
    return 0;
}

PC_API int adPmpLportListToUportList(const lport_list_t *lplist, up_list *uplist) {
    PFM_ENSURE_RET(MID_UP, (lplist != NULL) && (uplist != NULL), -1);
    for (uint32_t bit = 0; bit < PMP_LPORT_MAX; ++bit) {
        if (!lport_test(*lplist, bit)) continue;
        UP up = 0;
        if (adPmpBp2Up(0, static_cast<int>(bit), &up) != 0) continue;
        uint32_t index = inner_up_to_idx(up);
        if (UP_IS_LAG(up)) {
            uint32_t b = UP_LAG_ID(up) - 1;
            uplist->bits[UP_LIST_LAG_WORD + b / 32] |= 1u << (b % 32);
        } else if (index < UP_UNIT_PORT_MAX) {
            uplist->bits[index / 32] |= 1u << (index % 32);
        }
    }
    return 0;
}

PC_API int adPmpLportListInterSect(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                                   lport_list_t *oLplist) {
    PFM_ENSURE_RET(MID_UP, NULL != iLplist1, -1);
    PFM_ENSURE_RET(MID_UP, NULL != iLplist2, -1);
    PFM_ENSURE_RET(MID_UP, NULL != oLplist, -1);
    return lport_combine(iLplist1, iLplist2, oLplist, [](uint32_t a, uint32_t b) { return a & b; });
}

PC_API int adPmpLportListSub(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                             lport_list_t *oLplist) {
    PFM_ENSURE_RET(MID_UP, NULL != iLplist1, -1);
    PFM_ENSURE_RET(MID_UP, NULL != iLplist2, -1);
    PFM_ENSURE_RET(MID_UP, NULL != oLplist, -1);
    return lport_combine(iLplist1, iLplist2, oLplist, [](uint32_t a, uint32_t b) { return a & ~b; });
}

PC_API int adPmpLportListSum(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                             lport_list_t *oLplist) {
    PFM_ENSURE_RET(MID_UP, NULL != iLplist1, -1);
    PFM_ENSURE_RET(MID_UP, NULL != iLplist2, -1);
    PFM_ENSURE_RET(MID_UP, NULL != oLplist, -1);
    return lport_combine(iLplist1, iLplist2, oLplist, [](uint32_t a, uint32_t b) { return a | b; });
}

PC_API int adPmpLportListToPbmp(void) {
    PFM_DBG(MID_UP, "Unsupport for this chip.\r\n");
    return 0;
}
PC_API int adPmpLportToUport(void) {
    PFM_DBG(MID_UP, "Unsupport for this chip.\r\n");
    return 0;
}
PC_API int adPmpUportToLport(void) {
    PFM_DBG(MID_UP, "Unsupport for this chip.\r\n");
    return 0;
}

}  // extern "C"
