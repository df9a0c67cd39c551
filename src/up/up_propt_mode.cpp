// Property and mode words of ports and LAGs.
#include "platform_core/appintf.h"
#include "platform_core/platform.h"
#include "platform_core/up_propt.h"
#include "up/up_bits.h"
#include "up/up_shared.h"

namespace {

using pc::up::kLagWords;

// A LAG value whose id is in range: UP_IS_LAG alone does not test the id,
// and an id outside 1..14 would name another port's word or none at all.
bool legal_lag(UP up) { return UP_IS_LAG(up) && UP_LAG_ID(up) >= 1 && UP_LAG_ID(up) <= UP_LAG_MAX; }

void log_mode_failure(UP up, uint32_t m) {
    PFM_ERR(MID_UP, "UP=%#X, m = %#x, UP_IS_VALID(up) %d, UP_IS_LAG %d", up, m, UP_IS_VALID(up),
            static_cast<int>(UP_IS_LAG(up)));
}

bool mode_target_ok(UP up, uint32_t m) {
    if (!(UP_IS_VALID(up) || legal_lag(up))) {
        PFM_ENSURE_FAILED(MID_UP, "UP_IS_VALID(up) || UP_IS_LAG(up)");
        return false;
    }
    if (!UP_MODE_IS_LEGAL(m)) {
        PFM_ENSURE_FAILED(MID_UP, "UP_MODE_IS_LEGAL(m)");
        return false;
    }
    return true;
}

// Changes bit `m` of the word of `up`; `set` false clears it. Mirrors bit 1
// of a LAG into the valid list and tells the feature software of a port
// that changed to normal or stacking mode.
int change_mode(UP up, uint32_t m, bool set) {
    if (!mode_target_ok(up, m)) {
        log_mode_failure(up, m);
        return -1;
    }
    uint32_t index = inner_up_to_idx(up);
    uint32_t bit = 1u << m;
    bool was_set = false;
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        was_set = (rec.mode[index] & bit) != 0;
        rec.mode[index] = set ? (rec.mode[index] | bit) : (rec.mode[index] & ~bit);
        if (!(UP_IS_LAG(up) && m == UP_MODE_LAG_IN_USE)) return true;
        return pc::up::valid_list_update([&](up_list &l) {
            if (set)
                pc::up::list_set(l, kLagWords, UP_LAG_ID(up) - 1);
            else
                pc::up::list_clear(l, kLagWords, UP_LAG_ID(up) - 1);
            return true;
        });
    });
    if (!ok) {
        log_mode_failure(up, m);
        return -1;
    }
    if (set && !was_set && (m == UP_MODE_NORMAL || m == UP_MODE_STACKING)) {
        if (auto hook = APPINTF_GET(APPINTF_SLOT_PORT_MODE)) hook(up, m == UP_MODE_STACKING ? 1 : 0);
    }
    return 0;
}

}  // namespace

extern "C" {

PC_API int upProptIntfTypeGet(UP up, uint32_t *it) {
    PFM_ENSURE_RET(MID_UP, UP_IS_VALID(up), -1);
    PFM_ENSURE_RET(MID_UP, NULL != it, -1);
    if (UP_IS_LAG(up)) {
        *it = INTF_TYPE_LAG;
        return 0;
    }
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return -1;
    constexpr uint32_t kIntfMask =
        (1u << UP_MODE_INTF_FE) | (1u << UP_MODE_INTF_GE) | (1u << UP_MODE_INTF_TE);
    uint32_t bits = p.mode[inner_up_to_idx(up)] & kIntfMask;
    if (bits & (1u << UP_MODE_INTF_FE)) {
        *it = INTF_TYPE_FE;
    } else if (bits & (1u << UP_MODE_INTF_GE)) {
        *it = INTF_TYPE_GE;
    } else if (bits & (1u << UP_MODE_INTF_TE)) {
        *it = INTF_TYPE_TE;
    } else {
        PFM_DBG(MID_UP, "Get up Intf type failed. up=%#x, intf=%#x", up, bits);
        return -1;
    }
    return 0;
}

PC_API int upProptSetMode(UP up, uint32_t m) { return change_mode(up, m, true); }
PC_API int upProptClrMode(UP up, uint32_t m) { return change_mode(up, m, false); }

PC_API int upProptChkMode(UP up, uint32_t m) {
    if (!mode_target_ok(up, m)) return 0;
    sys_property_t p;
    if (!pc::up::propt_read(&p)) return 0;
    return (p.mode[inner_up_to_idx(up)] >> m) & 1u;
}

PC_API int upProptResetMode(UP up) {
    if (!(UP_IS_VALID(up) || legal_lag(up))) {
        PFM_ENSURE_FAILED(MID_UP, "UP_IS_VALID(up) || UP_IS_LAG(up)");
        return -1;
    }
    uint32_t index = inner_up_to_idx(up);
    bool ok = pc::up::propt_update([&](sys_property_t &rec) {
        rec.mode[index] = 0;
        if (!UP_IS_LAG(up)) return true;
        return pc::up::valid_list_update([&](up_list &l) {
            pc::up::list_clear(l, kLagWords, UP_LAG_ID(up) - 1);
            return true;
        });
    });
    return ok ? 0 : -1;
}

}  // extern "C"
