// Validity and provisioning tests of ports, units and port lists.
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "up/up_bits.h"
#include "up/up_shared.h"

namespace {

using pc::up::kLagWords;
using pc::up::kUnitWords;

bool unit1_stat_type(uint32_t *stat, uint32_t *type) {
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return false;
    if (stat) *stat = p.stat;
    if (type) *type = p.type;
    return true;
}

bool unit_words_empty(const up_list &l) {
    for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w)
        if (l.bits[kUnitWords + w] != 0) return false;
    return true;
}

bool unit_ports_empty(const up_list &l) {
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i)
        if (pc::up::list_test(l, kUnitWords, i)) return false;
    return true;
}

bool lag_words_empty(const up_list &l) {
    for (uint32_t w = kLagWords; w < UP_LIST_WORDS; ++w)
        if (l.bits[w] != 0) return false;
    return true;
}

}  // namespace

extern "C" {

PC_API int inner_up_is_valid(UP up) {
    if (UP_TYPE(up) == UP_TYPE_INVALID || !pc::up::up_is_legal(up)) return 0;
    // Slot 1 shares the base offsets of slot 0 in this build, so the valid
    // list has no bits of its own for slot 1 ports: they are never valid
    // rather than taking the validity of the slot 0 port of the same number.
    if (UP_IS_SWP(up) && UP_SLOT(up) != 0 &&
        pc::up::kSlotBaseOffset[UP_SLOT(up)] == pc::up::kSlotBaseOffset[0])
        return 0;
    up_list valid;
    if (!pc::up::valid_list_read(&valid)) return 0;
    if (UP_IS_SWP(up)) return pc::up::list_test(valid, kUnitWords, pc::up::port_bit(up));
    return pc::up::list_test(valid, kLagWords, UP_LAG_ID(up) - 1);
}

PC_API int inner_up_unit_is_valid(uint32_t unit) {
    PFM_ENSURE_RET(MID_UP, INNER_UP_UNIT_IS_LEGAL(unit), 0);
    uint32_t type = 0;
    return unit1_stat_type(nullptr, &type) && type > 0;
}

PC_API int inner_up_unit_is_provision(uint32_t unit) {
    if (!INNER_UP_UNIT_IS_LEGAL(unit)) return 0;
    uint32_t stat = 0;
    return unit1_stat_type(&stat, nullptr) && stat == DEV_STAT_PROVISION;
}

PC_API int inner_up_is_provision(UP up) {
    return UP_IS_SWP(up) ? inner_up_unit_is_provision(UP_UNIT(up)) : 0;
}

PC_API int inner_up_list_is_empty(up_list l) {
    static constexpr up_list kEmpty{};
    for (int w = 0; w < UP_LIST_WORDS; ++w)
        if (l.bits[w] != kEmpty.bits[w]) return 0;
    return 1;
}

PC_API int inner_up_list_is_provision(up_list l) {
    if (!lag_words_empty(l)) return 0;
    if (unit_ports_empty(l)) return 1;
    // Ports of unit 1 are in the list: it is a provision list when the unit is.
    uint32_t stat = 0;
    return unit1_stat_type(&stat, nullptr) && stat == DEV_STAT_PROVISION;
}

PC_API int inner_up_list_to_up_unit_list(up_list l, unit_list *ul) {
    PFM_ENSURE_RET(MID_UP, NULL != ul, -1);
    *ul = unit_words_empty(l) ? 0u : (1u << UNIT_1);
    return 0;
}

PC_API int inner_up_unit_attach_list_get(unit_list *ul, uint32_t *n) {
    PFM_ENSURE_RET(MID_UP, NULL != ul, -1);
    PFM_ENSURE_RET(MID_UP, NULL != n, -1);
    uint32_t stat = 0, type = 0;
    bool attached = unit1_stat_type(&stat, &type) && type != 0 && stat != DEV_STAT_PROVISION;
    *ul = attached ? (1u << UNIT_1) : 0u;
    *n = attached ? 1u : 0u;
    return 0;
}

PC_API int inner_up_unit_remove_provision(unit_list *l) {
    PFM_ENSURE_RET(MID_UP, l != NULL, -1);
    uint32_t stat = 0;
    if (!unit1_stat_type(&stat, nullptr) || stat != DEV_STAT_PRESENT) *l &= ~(1u << UNIT_1);
    return 0;
}

PC_API int inner_up_valid_list_get(up_list *l) {
    PFM_ENSURE_RET(MID_UP, NULL != l, -1);
    return pc::up::valid_list_read(l) ? 0 : -1;
}

PC_API int inner_up_valid_list_get_u(uint32_t u, up_list *l) {
    PFM_ENSURE_RET(MID_UP, NULL != l, -1);
    PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(u), -1);
    up_list valid;
    if (!pc::up::valid_list_read(&valid)) return -1;
    *l = up_list{};
    for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w) l->bits[kUnitWords + w] = valid.bits[kUnitWords + w];
    return 0;
}

PC_API int inner_up_valid_list_get_us(unit_list ul, up_list *l) {
    PFM_ENSURE_RET(MID_UP, NULL != l, -1);
    PFM_ENSURE_RET(MID_UP, !UP_UNIT_LIST_IS_EMPTY(ul), -1);
    up_list valid;
    if (!pc::up::valid_list_read(&valid)) return -1;
    *l = up_list{};
    if (ul & (1u << UNIT_1))
        for (uint32_t w = 0; w < UP_LIST_UNIT_WORDS; ++w)
            l->bits[kUnitWords + w] = valid.bits[kUnitWords + w];
    return 0;
}

}  // extern "C"
