// CPU traffic-control entries: the named table and the control operations
// of every family (pktctl_table.h).
#include <array>
#include <cstdio>
#include <cstring>

#include "pal/mutex_guard.h"
#include "pktctl/pktctl.h"
#include "pktctl/pktctl_stack.h"
#include "pktctl/pktctl_table.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

extern "C" {
PC_API PKT_CTL_ENTRY_T axPktCtlEntry[PKT_CTL_ENTRY_MAX] = {};
PC_API uint32_t axPktCtlEntryCount = 0;
}

namespace pc::pktctl {

namespace {

constexpr uint8_t kMacMaskAll[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherArp = 0x0806;
constexpr uint16_t kMaskShort = 0xFFFF;
constexpr uint8_t kMaskProto = 0xFF;
constexpr uint32_t kMaskIp = 0xFFFFFFFF;
constexpr uint32_t kArpDefendPri = 1;
constexpr uint32_t kL3v6Pri = 0;
constexpr std::array kTypeNames{"STK",  "L2",   "L2Uc",      "IEEE", "L3",
                                "L3Uc", "L3Mc", "ARPDEFEND", "L3v6", "else"};

pal_mutex_t g_lock = nullptr;  // "pktCtl", made once by axPktCtlInit
uint32_t g_ieee_count = 0;     // IEEE entries created; guarded by g_lock

#define STEP(call)                          \
    do {                                    \
        int step_rc_ = (call);              \
        if (step_rc_ != 0) return step_rc_; \
    } while (0)

bool mac_is_zero(const uint8_t *mac) {
    static constexpr uint8_t kZero[6] = {};
    return std::memcmp(mac, kZero, sizeof kZero) == 0;
}

bool list_is_empty(const up_list &l) {
    for (uint32_t w : l.bits)
        if (w != 0) return false;
    return true;
}

int meter(const PKT_CTL_ENTRY_T &e) { return adPktCtlActionSpeed(e.pos, e.speed, 2 * e.speed); }

int act(const PKT_CTL_ENTRY_T &e) {
    switch (e.action) {
        case PKT_CTL_ACTION_TRAP:
            STEP(adPktCtlRuleStkLink(e.pos, 0));  // trapping only from non-stacking ports
            return adPktCtlActionTrap(e.pos);
        case PKT_CTL_ACTION_COPY:
            return adPktCtlActionCopy(e.pos);
        default:
            return adPktCtlActionFwd(e.pos);
    }
}

int match_master_mac(const PKT_CTL_ENTRY_T &e) {
    uint8_t mac[6]{};
    int rc = unit_mac(master_unit(), mac);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "stkGetMac(stkGetMasterUnit(), &mac)");
        return rc;
    }
    return adPktCtlRuleDstMac(e.pos, mac, kMacMaskAll);
}

int match_l3(const PKT_CTL_ENTRY_T &e, uint16_t etherType) {
    STEP(adPktCtlRuleEtherType(e.pos, etherType, kMaskShort));
    if (e.ipProtocol != 0)
        STEP(adPktCtlRuleIpProtocol(e.pos, static_cast<uint8_t>(e.ipProtocol), kMaskProto));
    if (e.dstIp != 0) STEP(adPktCtlRuleDstIp(e.pos, e.dstIp, kMaskIp));
    if (e.srcIp != 0) STEP(adPktCtlRuleSrcIp(e.pos, e.srcIp, kMaskIp));
    if (e.l4DstPort != 0) STEP(adPktCtlRuleL4DstPort(e.pos, static_cast<uint16_t>(e.l4DstPort), kMaskShort));
    if (e.l4SrcPort != 0) STEP(adPktCtlRuleL4SrcPort(e.pos, static_cast<uint16_t>(e.l4SrcPort), kMaskShort));
    return 0;
}

int l3_pri(const PKT_CTL_ENTRY_T &e) {
    return adPktCtlActionPriCal(nullptr, e.ipProtocol, 0, e.l4SrcPort, e.l4DstPort, 0);
}

// The family steps: match, CPU priority, meter, action.
int program_stk(const PKT_CTL_ENTRY_T &e) {
    if (!mac_is_zero(e.dstMac)) STEP(adPktCtlRuleDstMac(e.pos, e.dstMac, kMacMaskAll));
    if (e.etherType != 0) STEP(adPktCtlRuleEtherType(e.pos, e.etherType, kMaskShort));
    STEP(adPktCtlRuleStkLink(e.pos, 1));
    STEP(meter(e));
    return adPktCtlActionFwd(e.pos);
}

int program_l2(const PKT_CTL_ENTRY_T &e) {
    if (!mac_is_zero(e.dstMac)) STEP(adPktCtlRuleDstMac(e.pos, e.dstMac, kMacMaskAll));
    if (e.etherType != 0) STEP(adPktCtlRuleEtherType(e.pos, e.etherType, kMaskShort));
    const uint8_t *mac = mac_is_zero(e.dstMac) ? nullptr : e.dstMac;
    STEP(adPktCtlActionPri(e.pos, static_cast<uint32_t>(adPktCtlActionPriCal(mac, 0, e.etherType, 0, 0, 0))));
    STEP(meter(e));
    return act(e);
}

int program_l2uc(const PKT_CTL_ENTRY_T &e) {
    STEP(match_master_mac(e));
    if (e.etherType != 0) STEP(adPktCtlRuleEtherType(e.pos, e.etherType, kMaskShort));
    STEP(adPktCtlActionPri(e.pos,
                           static_cast<uint32_t>(adPktCtlActionPriCal(nullptr, 0, e.etherType, 0, 0, 0))));
    STEP(meter(e));
    return e.etherType == kEtherArp ? adPktCtlActionTrap(e.pos) : adPktCtlActionFwd(e.pos);
}

int program_ieee(const PKT_CTL_ENTRY_T &e) {
    if (!list_is_empty(e.uportList)) STEP(adPktCtlRulePbmp(e.pos, e.uportList));
    STEP(adPktCtlRuleStkLink(e.pos, 0));
    if (!mac_is_zero(e.dstMac)) STEP(adPktCtlRuleDstMac(e.pos, e.dstMac, kMacMaskAll));
    STEP(adPktCtlActionPri(e.pos, static_cast<uint32_t>(adPktCtlActionPriCal(e.dstMac, 0, 0, 0, 0, 0))));
    STEP(meter(e));
    STEP(adPktCtlActionTrap(e.pos));
    return adPktCtlIEEEDisableLearn(e.dstMac, e.l2CacheId);
}

int program_l3(const PKT_CTL_ENTRY_T &e) {
    STEP(match_l3(e, kEtherIpv4));
    STEP(adPktCtlActionPri(e.pos, static_cast<uint32_t>(l3_pri(e))));
    STEP(meter(e));
    return act(e);
}

bool l3uc_traps(const PKT_CTL_ENTRY_T &e) {
    switch (e.l4DstPort) {
        case 68:
        case 22:
        case 23:
        case 161:
        case 69:
        case 80:
            return true;
        default:
            return e.ipProtocol == 1;
    }
}

int program_l3uc(const PKT_CTL_ENTRY_T &e) {
    STEP(match_master_mac(e));
    STEP(match_l3(e, kEtherIpv4));
    STEP(adPktCtlActionPri(e.pos, static_cast<uint32_t>(l3_pri(e))));
    STEP(meter(e));
    return l3uc_traps(e) ? adPktCtlActionTrap(e.pos) : adPktCtlActionFwd(e.pos);
}

int program_l3mc(const PKT_CTL_ENTRY_T &e) {
    // The group address is kept in the record but not matched.
    PKT_CTL_ENTRY_T m = e;
    m.dstIp = 0;
    STEP(match_l3(m, kEtherIpv4));
    STEP(adPktCtlActionPri(e.pos, static_cast<uint32_t>(l3_pri(e))));
    STEP(meter(e));
    return adPktCtlActionCopy(e.pos);
}

int program_arp_defend(const PKT_CTL_ENTRY_T &e) {
    STEP(adPktCtlRulePbmp(e.pos, e.uportList));
    STEP(adPktCtlRuleStkLink(e.pos, 0));
    STEP(adPktCtlRuleEtherType(e.pos, kEtherArp, kMaskShort));
    STEP(adPktCtlActionPri(e.pos, kArpDefendPri));
    STEP(meter(e));
    return adPktCtlActionTrap(e.pos);
}

int program_l3v6(const PKT_CTL_ENTRY_T &e) {
    STEP(match_l3(e, kEtherIpv6));
    STEP(adPktCtlActionPri(e.pos, kL3v6Pri));
    STEP(meter(e));
    return act(e);
}

const char *step_text(uint32_t type) {
    switch (type) {
        case PKT_CTL_TYPE_STK:
            return "_axPktCtlStkCtl(entry->pos, dstMac, etherType, speed, isEnable)";
        case PKT_CTL_TYPE_L2:
            return "_axPktCtlL2Ctl(entry->pos, dstMac, etherType, speed, action, isEnable)";
        case PKT_CTL_TYPE_L2UC:
            return "_axPktCtlL2UcCtl(entry->pos, etherType, speed, isEnable)";
        case PKT_CTL_TYPE_IEEE:
            return "_axPktCtlIEEECtl(entry->pos, dstMac, speed, portList, isEnable)";
        case PKT_CTL_TYPE_L3:
            return "_axPktCtlL3Ctl(entry->pos, ipProtocol, dstIp, srcIp, l4DstPort, l4SrcPort, speed, "
                   "action, "
                   "isEnable)";
        case PKT_CTL_TYPE_L3UC:
            return "_axPktCtlL3UcCtl(entry->pos, ipProtocol, l4DstPort, speed, isEnable)";
        case PKT_CTL_TYPE_L3MC:
            return "_axPktCtlL3McCtl(entry->pos, ipProtocol, dstIp, l4DstPort, speed, isEnable)";
        case PKT_CTL_TYPE_ARPDEFEND:
            return "_axPktCtlArpDefendCtlByPort(entry->pos, portList, speed, isEnable)";
        default:
            return "_axPktCtlL3V6Ctl(entry->pos, ipProtocol, dstIp, srcIp, l4DstPort, l4SrcPort, speed, "
                   "action, "
                   "isEnable)";
    }
}

int program_family(const PKT_CTL_ENTRY_T &e) {
    switch (e.type) {
        case PKT_CTL_TYPE_STK:
            return program_stk(e);
        case PKT_CTL_TYPE_L2:
            return program_l2(e);
        case PKT_CTL_TYPE_L2UC:
            return program_l2uc(e);
        case PKT_CTL_TYPE_IEEE:
            return program_ieee(e);
        case PKT_CTL_TYPE_L3:
            return program_l3(e);
        case PKT_CTL_TYPE_L3UC:
            return program_l3uc(e);
        case PKT_CTL_TYPE_L3MC:
            return program_l3mc(e);
        case PKT_CTL_TYPE_ARPDEFEND:
            return program_arp_defend(e);
        case PKT_CTL_TYPE_L3V6:
            return program_l3v6(e);
        default:
            return -1;
    }
}

// Slot of `name`, -1 when absent; the caller holds the lock.
int find(const char *name) {
    for (uint32_t i = 0; i < PKT_CTL_ENTRY_MAX; ++i)
        if (std::strcmp(axPktCtlEntry[i].name, name) == 0 && i < axPktCtlEntryCount)
            return static_cast<int>(i);
    return -1;
}

int axPktCtlEntryInsert(const PKT_CTL_ENTRY_T *newEntry) {
    if (axPktCtlEntryCount >= PKT_CTL_ENTRY_MAX) return -1;
    axPktCtlEntry[axPktCtlEntryCount++] = *newEntry;
    return 0;
}

// Stores the new request in an existing record; keeps its place and rule.
void update_record(PKT_CTL_ENTRY_T &rec, const PKT_CTL_ENTRY_T &want) {
    uint32_t pos = rec.pos, cache = rec.l2CacheId;
    rec = want;
    rec.pos = pos;
    rec.l2CacheId = cache;
}

// The common control operation of every family.
int control(PKT_CTL_ENTRY_T want) {
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (!guard.held()) return -1;
    int slot = find(want.name);
    if (slot < 0) {
        // A full table refuses the name before a rule is taken for it.
        if (axPktCtlEntryCount >= PKT_CTL_ENTRY_MAX) {
            PFM_CALL_FAILED(kMid, -1, "axPktCtlEntryInsert(&newEntry)");
            return -1;
        }
        uint32_t pos = 0;
        if (int rc = adPktCtlEntryGet(&pos); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, "adPktCtlEntryGet(&pos)");
            return rc;
        }
        want.pos = pos;
        // The learning entry's handle is taken only by an entry that is kept.
        const bool ieee = want.type == PKT_CTL_TYPE_IEEE;
        if (ieee) want.l2CacheId = g_ieee_count;
        if (int rc = program_rule(want); rc != 0) return rc;
        if (int rc = axPktCtlEntryInsert(&want); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, "axPktCtlEntryInsert(&newEntry)");
            return rc;
        }
        if (ieee) ++g_ieee_count;
        return 0;
    }
    PKT_CTL_ENTRY_T &rec = axPktCtlEntry[slot];
    if (rec.type == PKT_CTL_TYPE_STK) {
        // A stacking entry that exists is only switched on or off.
        rec.isEnable = want.isEnable;
        PFM_CALL_RET(kMid, adPktCtlEntryEnable(rec.pos, static_cast<int>(want.isEnable)));
        return 0;
    }
    if (want.isEnable == 0) {
        rec.isEnable = 0;
        PFM_CALL_RET(kMid, adPktCtlEntryEnable(rec.pos, 0));
        if (rec.type == PKT_CTL_TYPE_IEEE) PFM_CALL_RET(kMid, adPktCtlIEEEDelete(rec.l2CacheId));
        return 0;
    }
    update_record(rec, want);
    PFM_CALL_RET(kMid, adPktCtlEntryDestroy(rec.pos));
    PFM_CALL_RET(kMid, adPktCtlEntryCreate(rec.pos));
    return program_rule(rec);
}

// A name was given; logged as "Ensure name failed." when not.
bool name_given(const char *name) {
    if (name != nullptr) return true;
    PFM_ENSURE_FAILED(kMid, "name");
    return false;
}

// A new record with its name; -1 (logged) for a missing or too long name.
int make_entry(const char *name, uint32_t type, PKT_CTL_ENTRY_T &e) {
    if (!name_given(name)) return -1;
    PFM_ENSURE_RET(kMid, strlen(name) < PKT_CTL_NAME_LEN, -1);
    e = PKT_CTL_ENTRY_T{};
    std::strncpy(e.name, name, PKT_CTL_NAME_LEN - 1);
    e.type = type;
    return 0;
}

}  // namespace

pal_mutex_t table_lock() { return g_lock; }

int table_lock_create() {
    if (g_lock != nullptr) return 0;
    g_lock = pal_mutex_create("pktCtl");
    return g_lock != nullptr ? 0 : -1;
}

bool in_core() { return pidGetCurrent() == PID_CORE; }

int program_rule(const PKT_CTL_ENTRY_T &e) {
    int rc = program_family(e);
    if (rc == 0) rc = adPktCtlEntryEnable(e.pos, static_cast<int>(e.isEnable));
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, step_text(e.type));
        (void)adPktCtlEntryEnable(e.pos, 0);
    }
    return rc;
}

int reprogram_all() {
    int first = 0;
    for (uint32_t i = 0; i < axPktCtlEntryCount; ++i) {
        PKT_CTL_ENTRY_T &e = axPktCtlEntry[i];
        if (e.type < PKT_CTL_TYPE_L2 || e.type > PKT_CTL_TYPE_L3V6) continue;
        int rc = adPktCtlEntryDestroy(e.pos);
        if (rc == 0) rc = adPktCtlEntryCreate(e.pos);
        if (rc == 0) rc = program_rule(e);
        if (rc != 0 && first == 0) first = rc;
    }
    return first;
}

}  // namespace pc::pktctl

using namespace pc::pktctl;

extern "C" {

PC_API const char *axPktCtlTypeName(uint32_t type) {
    return kTypeNames[type < kTypeNames.size() ? type : kTypeNames.size() - 1];
}

}  // extern "C"

namespace pc::pktctl {

int ieee_local(const char *name, const uint8_t *dstMac, uint32_t speed, const up_list *portList,
               uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, PKT_CTL_TYPE_IEEE, e) != 0) return -1;
    PFM_ENSURE_RET(kMid, (NULL != dstMac), -1);
    std::memcpy(e.dstMac, dstMac, 6);
    e.speed = speed;
    if (portList != nullptr) e.uportList = *portList;
    e.action = PKT_CTL_ACTION_TRAP;
    e.isEnable = isEnable;
    return control(e);
}

int l2_local(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed, uint32_t action,
             uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, PKT_CTL_TYPE_L2, e) != 0) return -1;
    if (dstMac != nullptr) std::memcpy(e.dstMac, dstMac, 6);
    e.etherType = etherType;
    e.speed = speed;
    e.action = action;
    e.isEnable = isEnable;
    return control(e);
}

int l2uc_local(const char *name, uint16_t etherType, uint32_t speed, uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, PKT_CTL_TYPE_L2UC, e) != 0) return -1;
    e.etherType = etherType;
    e.speed = speed;
    e.action = etherType == kEtherArp ? PKT_CTL_ACTION_TRAP : PKT_CTL_ACTION_FWD;
    e.isEnable = isEnable;
    return control(e);
}

int l3_local(uint32_t type, const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
             uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action, uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, type, e) != 0) return -1;
    e.ipProtocol = ipProtocol;
    e.dstIp = dstIp;
    e.srcIp = srcIp;
    e.l4DstPort = l4DstPort;
    e.l4SrcPort = l4SrcPort;
    e.speed = speed;
    e.action = action;
    e.isEnable = isEnable;
    if (type == PKT_CTL_TYPE_L3UC) e.action = l3uc_traps(e) ? PKT_CTL_ACTION_TRAP : PKT_CTL_ACTION_FWD;
    if (type == PKT_CTL_TYPE_L3MC) e.action = PKT_CTL_ACTION_COPY;
    return control(e);
}

}  // namespace pc::pktctl

extern "C" {

PC_API int axPktCtlArpDefendCtlByPort(const char *name, up_list portList, uint32_t speed, uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, PKT_CTL_TYPE_ARPDEFEND, e) != 0) return -1;
    e.uportList = portList;
    e.etherType = kEtherArp;
    e.speed = speed;
    e.action = PKT_CTL_ACTION_TRAP;
    e.isEnable = isEnable;
    return control(e);
}

PC_API int axPktCtlL3V6Ctl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
                           uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action,
                           uint32_t isEnable) {
    return l3_local(PKT_CTL_TYPE_L3V6, name, ipProtocol, dstIp, srcIp, l4DstPort, l4SrcPort, speed, action,
                    isEnable);
}

PC_API int axPktCtlStkCtl(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed,
                          uint32_t isEnable) {
    PKT_CTL_ENTRY_T e;
    if (make_entry(name, PKT_CTL_TYPE_STK, e) != 0) return -1;
    if (dstMac != nullptr) std::memcpy(e.dstMac, dstMac, 6);
    e.etherType = etherType;
    e.speed = speed;
    e.action = PKT_CTL_ACTION_FWD;
    e.isEnable = isEnable;
    return control(e);
}

}  // extern "C"

namespace pc::pktctl {

int speed_set_local(const char *name, uint32_t speed) {
    if (!name_given(name)) return -1;
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (!guard.held()) return -1;
    int slot = find(name);
    if (slot < 0) return -1;
    PKT_CTL_ENTRY_T &rec = axPktCtlEntry[slot];
    rec.speed = speed;
    if (speed != 0) {
        PFM_CALL_RET(kMid, adPktCtlSpeedSet(rec.pos, speed));
        return 0;
    }
    // Speed 0 means unmetered, as everywhere in the table: a meter of rate
    // 0 would drop every frame. Actions only accumulate, so the rule is
    // made again from its record, without a meter.
    PFM_CALL_RET(kMid, adPktCtlEntryDestroy(rec.pos));
    PFM_CALL_RET(kMid, adPktCtlEntryCreate(rec.pos));
    return program_rule(rec);
}

int speed_get_local(const char *name, uint32_t *speed) {
    if (!name_given(name)) return -1;
    PFM_ENSURE_RET(kMid, (NULL != speed), -1);
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (!guard.held()) return -1;
    int slot = find(name);
    if (slot < 0) return -1;
    *speed = axPktCtlEntry[slot].speed;
    return 0;
}

}  // namespace pc::pktctl

extern "C" {

PC_API int axPktCtlEntryPrint(void) {
    if (g_lock == nullptr) return -1;
    pc::pal::MutexGuard guard(g_lock);
    if (!guard.held()) return -1;
    for (uint32_t i = 0; i < axPktCtlEntryCount; ++i) {
        const PKT_CTL_ENTRY_T &e = axPktCtlEntry[i];
        if (!e.isEnable || e.type > PKT_CTL_TYPE_L3MC) continue;
        const uint8_t *m = e.dstMac;
        if (e.type <= PKT_CTL_TYPE_L2UC) {
            std::printf(
                "module %s, type %s, dmac %02x:%02x:%02x:%02x:%02x:%02x, ethtype 0x%x, speed %d, action %d, "
                "enable %d, pos %d\n",
                e.name, axPktCtlTypeName(e.type), m[0], m[1], m[2], m[3], m[4], m[5], e.etherType,
                static_cast<int>(e.speed), static_cast<int>(e.action), static_cast<int>(e.isEnable),
                static_cast<int>(e.pos));
        } else if (e.type == PKT_CTL_TYPE_IEEE) {
            std::printf(
                "module %s, type %s, dmac %02x:%02x:%02x:%02x:%02x:%02x, speed %d, enable %d, pos %d\n",
                e.name, "IEEE", m[0], m[1], m[2], m[3], m[4], m[5], static_cast<int>(e.speed),
                static_cast<int>(e.isEnable), static_cast<int>(e.pos));
        } else {
            std::printf(
                "module %s, type %s, ipPtcl %d, dstip 0x%x, srcip 0x%x, l4DstPort %d, l4SrcPort %d, speed "
                "%d, action %d, enable %d, pos %d\n",
                e.name, axPktCtlTypeName(e.type), e.ipProtocol, e.dstIp, e.srcIp,
                static_cast<int>(e.l4DstPort), static_cast<int>(e.l4SrcPort), static_cast<int>(e.speed),
                static_cast<int>(e.action), static_cast<int>(e.isEnable), static_cast<int>(e.pos));
        }
    }
    std::fflush(stdout);
    return 0;
}

}  // extern "C"
