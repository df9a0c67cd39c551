// Chip adapter of the CPU traffic-control rules: a rule position and its
// meaning (match this field, trap to the CPU, meter at this rate) become
// calls of the chip's ACL interface on unit 0, phase 0, and of the
// classifier that owns positions, templates and meters. No lock of its
// own: the chip SDK serialises access to the chip.
#include <array>
#include <cstdio>
#include <cstring>

#include "platform_core/appintf.h"
#include "platform_core/classifier.h"
#include "platform_core/pktctl.h"
#include "platform_core/pmp.h"
#include "platform_core/stack.h"
#include "platform_core/up.h"

extern "C" {
PC_API uint32_t errorNo = 0;
}

namespace {

constexpr uint32_t kUnit = 0;
constexpr uint32_t kPhase = 0;
constexpr uint32_t kTemplateBlock = 3;
constexpr uint32_t kSelectorFirst = 0;
constexpr uint32_t kSelectorSecond = 1;
constexpr uint32_t kSecondSelectorPos = 1103;  // a single rule bound through the second selector
constexpr uint32_t kMeterType = 0;
constexpr const char *kSource = "adapter/chip/adPktCtl";

// Keeps a failing vendor or classifier status and answers 703.
int hw_error(int line, const char *func, int rc) {
    errorNo = static_cast<uint32_t>(rc);
    std::printf("HW error in %s Line %d, fuc:%s,errorNo=0x%x\n", kSource, line, func, errorNo);
    return PKT_CTL_HW_ERROR;
}

#define HW_CALL(call)                                                 \
    do {                                                              \
        int hw_rc_ = (call);                                          \
        if (hw_rc_ != 0) return hw_error(__LINE__, __func__, hw_rc_); \
    } while (0)

void put_be(uint8_t *out, uint32_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// Chip ports 0..31 of the listed ports of this unit's chip, bit p for port p.
uint32_t chip_port_bitmap(const up_list &ports) {
    lport_list_t lp{};
    (void)adPmpUportListToLportList(&ports, &lp);
    return lp.bits[0];
}

// Restricts the rule to ingress ports: value 0, mask the complement.
int write_pbmp(uint32_t pos, uint32_t bitmap) {
    uint8_t value[4]{}, mask[4]{};
    put_be(mask, ~bitmap, 4);
    return adPktCtlQual(pos, SDK_ACL_FIELD_SPMASK, value, mask);
}

int write_number(uint32_t pos, uint32_t field, uint32_t value, uint32_t mask, size_t width) {
    uint8_t v[4]{}, m[4]{};
    put_be(v, value, width);
    put_be(m, mask, width);
    return adPktCtlQual(pos, field, v, m);
}

int forward_to_cpu(uint32_t pos, uint32_t type) {
    sdk_acl_action_t act{};
    act.fwd_en = 1;
    act.fwd_type = type;
    act.fwd_port = PKT_CTL_CPU_CHIP_PORT;
    return adPktCtlSetAction(pos, &act);
}

bool is_reserved_mac(const uint8_t *mac) {
    static constexpr uint8_t kPrefix[5] = {0x01, 0x80, 0xC2, 0x00, 0x00};
    return mac != nullptr && std::memcmp(mac, kPrefix, sizeof kPrefix) == 0;
}

}  // namespace

extern "C" {

PC_API int adPktCtlQual(uint32_t pos, uint32_t fieldType, const uint8_t *value, const uint8_t *mask) {
    if (value == nullptr || mask == nullptr) return -1;
    uint32_t phy = 0, dbl = 0;
    HW_CALL(adAxclEntryPosToPhisical(pos, &phy, &dbl));
    if (!dbl) {
        uint32_t selector = pos == kSecondSelectorPos ? kSelectorSecond : kSelectorFirst;
        HW_CALL(mapEntryToTemplate(kUnit, selector, kTemplateBlock, phy));
        HW_CALL(sdk_acl_ruleEntryField_write(kUnit, kPhase, phy, fieldType, value, mask));
        return 0;
    }
    HW_CALL(mapEntryToTemplate(kUnit, kSelectorFirst, kTemplateBlock, phy));
    HW_CALL(mapEntryToTemplate(kUnit, kSelectorSecond, kTemplateBlock, phy + 1));
    sdk_acl_operation_t op{};
    op.aggr = 1;
    HW_CALL(sdk_acl_ruleOperation_set(kUnit, kPhase, phy, &op));
    // A field the first half's template cannot hold goes into the second.
    if (sdk_acl_ruleEntryField_write(kUnit, kPhase, phy, fieldType, value, mask) == 0) return 0;
    HW_CALL(sdk_acl_ruleEntryField_write(kUnit, kPhase, phy + 1, fieldType, value, mask));
    return 0;
}

PC_API int adPktCtlSetAction(uint32_t pos, const sdk_acl_action_t *action) {
    if (action == nullptr) return -1;
    uint32_t phy = 0, dbl = 0;
    HW_CALL(adAxclEntryPosToPhisical(pos, &phy, &dbl));
    sdk_acl_action_t current{};
    HW_CALL(sdk_acl_ruleAction_get(kUnit, kPhase, phy, &current));
    // Actions accumulate on the rule.
    auto *cur = reinterpret_cast<uint8_t *>(&current);
    const auto *add = reinterpret_cast<const uint8_t *>(action);
    for (size_t i = 0; i < sizeof current; ++i) cur[i] |= add[i];
    HW_CALL(sdk_acl_ruleAction_set(kUnit, kPhase, phy, &current));
    return 0;
}

PC_API int adPktCtlEntryGet(uint32_t *pos) {
    if (pos == nullptr) return -1;
    auto hook = APPINTF_GET(APPINTF_SLOT_ACL_POS_FRONT);
    int p = -1;
    if (hook == nullptr || hook(&p) != 0 || p < 0) return -1;
    *pos = static_cast<uint32_t>(p);
    return adPktCtlEntryCreate(*pos);
}

PC_API int adPktCtlEntryGetBackward(uint32_t *pos, uint32_t a, uint32_t b, uint32_t c) {
    if (pos == nullptr) return -1;
    auto hook = APPINTF_GET(APPINTF_SLOT_ACL_POS_BACK);
    int p = -1;
    if (hook == nullptr || hook(&p, a, b, c) != 0 || p < 0) return -1;
    *pos = static_cast<uint32_t>(p);
    return adPktCtlEntryCreate(*pos);
}

PC_API int adPktCtlEntryCreate(uint32_t pos) {
    up_list valid{};
    (void)inner_up_valid_list_get_u(stkGetCurrentUnit(), &valid);
    return write_pbmp(pos, chip_port_bitmap(valid));
}

PC_API int adPktCtlEntryDestroy(uint32_t pos) {
    HW_CALL(adAxclEntryDelete(pos));
    return 0;
}

PC_API int adPktCtlEntryEnable(uint32_t pos, int enable) {
    uint32_t phy = 0, dbl = 0;
    HW_CALL(adAxclEntryPosToPhisical(pos, &phy, &dbl));
    uint32_t valid = enable > 0 ? 1 : 0;
    HW_CALL(sdk_acl_ruleValidate_set(kUnit, kPhase, phy, valid));
    if (dbl) HW_CALL(sdk_acl_ruleValidate_set(kUnit, kPhase, phy + 1, valid));
    return 0;
}

PC_API int adPktCtlRuleDstMac(uint32_t pos, const uint8_t *mac, const uint8_t *mask) {
    if (mac == nullptr || mask == nullptr) return -1;
    return adPktCtlQual(pos, SDK_ACL_FIELD_DMAC, mac, mask);
}

PC_API int adPktCtlRuleSrcMac(uint32_t pos, const uint8_t *mac, const uint8_t *mask) {
    if (mac == nullptr || mask == nullptr) return -1;
    return adPktCtlQual(pos, SDK_ACL_FIELD_SMAC, mac, mask);
}

PC_API int adPktCtlRuleEtherType(uint32_t pos, uint16_t value, uint16_t mask) {
    return write_number(pos, SDK_ACL_FIELD_ETHERTYPE, value, mask, 2);
}

PC_API int adPktCtlRuleIpProtocol(uint32_t pos, uint8_t value, uint8_t mask) {
    return write_number(pos, SDK_ACL_FIELD_IP_PROTO, value, mask, 1);
}

PC_API int adPktCtlRuleSrcIp(uint32_t pos, uint32_t ip, uint32_t mask) {
    return write_number(pos, SDK_ACL_FIELD_IP4_SIP, ip, mask, 4);
}

PC_API int adPktCtlRuleDstIp(uint32_t pos, uint32_t ip, uint32_t mask) {
    return write_number(pos, SDK_ACL_FIELD_IP4_DIP, ip, mask, 4);
}

PC_API int adPktCtlRuleL4SrcPort(uint32_t pos, uint16_t port, uint16_t mask) {
    return write_number(pos, SDK_ACL_FIELD_L4_SPORT, port, mask, 2);
}

PC_API int adPktCtlRuleL4DstPort(uint32_t pos, uint16_t port, uint16_t mask) {
    return write_number(pos, SDK_ACL_FIELD_L4_DPORT, port, mask, 2);
}

PC_API int adPktCtlRulePbmp(uint32_t pos, up_list ports) { return write_pbmp(pos, chip_port_bitmap(ports)); }

PC_API int adPktCtlRuleStkLink(uint32_t pos, int flag) {
    (void)pos;
    (void)flag;
    return 0;  // a stand-alone unit has no stacking links
}

PC_API int adPktCtlActionCopy(uint32_t pos) { return forward_to_cpu(pos, SDK_ACL_FWD_COPY); }

PC_API int adPktCtlActionFwd(uint32_t pos) { return adPktCtlActionCopy(pos); }

PC_API int adPktCtlActionTrap(uint32_t pos) { return forward_to_cpu(pos, SDK_ACL_FWD_TRAP); }

PC_API int adPktCtlActionDrop(uint32_t pos) {
    sdk_acl_action_t act{};
    act.drop = 1;
    return adPktCtlSetAction(pos, &act);
}

PC_API int adPktCtlActionPri(uint32_t pos, uint32_t priority) {
    sdk_acl_action_t act{};
    act.pri_en = 1;
    act.pri = priority;
    return adPktCtlSetAction(pos, &act);
}

PC_API int adPktCtlActionSpeed(uint32_t pos, uint32_t rate, uint32_t burst) {
    if (rate == 0) return 0;
    uint32_t index = 0;
    HW_CALL(adAxclGetMeterOrCounterIndex(pos, kMeterType, &index));
    HW_CALL(adAxclSpeedLimitSet(pos, rate, burst, 1));
    sdk_acl_action_t act{};
    act.meter_en = 1;
    act.meter_idx = index;
    return adPktCtlSetAction(pos, &act);
}

PC_API int adPktCtlSpeedSet(uint32_t pos, uint32_t rate) {
    uint32_t index = 0;
    HW_CALL(adAxclGetMeterOrCounterIndex(pos, kMeterType, &index));
    HW_CALL(adAxclSpeedLimitSet(pos, rate, 2 * rate, 1));
    sdk_acl_action_t act{};
    act.meter_en = 1;
    act.meter_idx = index;
    return adPktCtlSetAction(pos, &act);
}

PC_API int adPktCtlActionPriCal(const uint8_t *dstMac, uint32_t ipProtocol, uint32_t etherType,
                                uint32_t l4SrcPort, uint32_t l4DstPort, int arpDefend) {
    if (is_reserved_mac(dstMac)) {
        switch (dstMac[5]) {
            case 0x00:
            case 0x02:
                return 5;
            case 0x03:
                return 4;
            case 0x0E:
            case 0x21:
                return 2;
            default:
                break;
        }
    }
    switch (ipProtocol) {
        case 1:
        case 2:
            return 3;
        case 89:
            return 4;
        case 17:
            if (l4DstPort == 67 || l4DstPort == 68 || l4DstPort == 520) return 4;
            if (l4DstPort == 161 || l4DstPort == 69) return 2;
            if (l4SrcPort == 67 || l4SrcPort == 68) return 4;
            if (l4SrcPort == 1812 || l4SrcPort == 1813) return 2;
            break;
        case 6:
            if (l4DstPort == 80) return 1;
            if (l4DstPort == 22 || l4DstPort == 23 || l4DstPort == 443) return 2;
            break;
        default:
            break;
    }
    switch (etherType) {
        case 0x0806:
            return arpDefend ? 1 : 3;
        case 0x9900:
            return 5;
        case 0x888E:
            return 4;
        default:
            return 0;
    }
}

PC_API int adPktCtlIEEEInit(void) {
    constexpr uint32_t kMgmtFrameType = 19;
    constexpr uint32_t kRmaGroup = 1;
    HW_CALL(sdk_trap_mgmtFrameLearningEnable_set(kUnit, kMgmtFrameType, 0));
    HW_CALL(sdk_trap_rmaGroupLearningEnable_set(kUnit, kRmaGroup, 0));
    return 0;
}

// The chip keeps reserved MACs out of learning as a group (adPktCtlIEEEInit),
// and its CPU MAC and broadcast handling need no per-entry set-up.
PC_API int adPktCtlIEEEDisableLearn(const uint8_t *mac, uint32_t l2CacheId) {
    (void)mac;
    (void)l2CacheId;
    return 0;
}

PC_API int adPktCtlIEEEEnableLearn(const uint8_t *mac, uint32_t l2CacheId) {
    (void)mac;
    (void)l2CacheId;
    return 0;
}

PC_API int adPktCtlIEEEDelete(uint32_t l2CacheId) {
    (void)l2CacheId;
    return 0;
}

PC_API int adPktCtlCpuMacAdd(const uint8_t *mac, uint32_t vid) {
    (void)mac;
    (void)vid;
    return 0;
}

PC_API int adPktCtlCpuMacDel(const uint8_t *mac, uint32_t vid) {
    (void)mac;
    (void)vid;
    return 0;
}

PC_API int adPktCtlMacUlfMlfBcToImpDis(void) { return 0; }

PC_API int adPktCtlCpuPortSpeedSet(uint32_t rate) { return adPortCpuEgressRateSet(rate); }

}  // extern "C"
