// The exported registration calls of the core's own modules: each checks
// its arguments, then runs the registry operation under registRuleLock
// (packet_registry.h).
#include "packet/packet_registry.h"

#include <cstring>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"

using namespace pc::packet;

namespace {

// Common checks of the calls that name a registration.
#define CHECK_REG_NAME(regName)                                               \
    do {                                                                      \
        PFM_ENSURE_RET(kMid, NULL != regName, -1);                            \
        PFM_ENSURE_RET(kMid, PACKET_REG_NAME_LEN_MAX >= strlen(regName), -1); \
    } while (0)

// Runs `op` under registRuleLock; -1 when the registry is not there.
template <class F>
int locked(F &&op) {
    if (regist_lock() == nullptr) return -1;
    pc::pal::MutexGuard g(regist_lock());
    if (!g.held()) return -1;
    return op();
}

}  // namespace

extern "C" {

PC_API int axPacketRegisterModule(uint32_t modId, int priority, uint32_t stackSize, uint32_t queueLen) {
    PFM_ENSURE_RET(kMid, (MID_INVALID < modId) && (MID_MAX > modId), -1);
    PFM_ENSURE_RET(kMid, 0 <= priority && 255 > priority, -1);
    return locked([&] { return register_module(modId, priority, stackSize, queueLen, PID_CORE); });
}

PC_API int axPacketRegisterPacket(uint32_t modId, const char *regName, uint32_t own, uint32_t priority,
                                  AXPACKET_RX_CB pktCallback, AXPACKET_ENABLE_CB enableCallback) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, NULL != pktCallback, -1);
    PFM_ENSURE_RET(kMid, PACKET_REG_NAME_LEN_MAX >= strlen(regName), -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(priority), -1);
    return locked([&] {
        return register_packet(modId, regName, own, priority, PID_CORE, pktCallback, enableCallback);
    });
}

PC_API int axPacketUnregisterPacket(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return unregister_packet(modId, regName); });
}

PC_API int axPacketRegisterField(uint32_t modId, const char *regName, uint32_t fieldType, uint32_t value,
                                 uint32_t mask) {
    CHECK_REG_NAME(regName);
    static constexpr uint32_t kCodeOf[] = {kCodeDstMac, kCodeSrcMac,  kCodeLenType,   kCodeDstIp,
                                           kCodeSrcIp,  kCodeProType, kCodeDstPort,   kCodeSrcPort,
                                           kCodeDstIp6, kCodeSrcIp6,  kCodeIcmp6Type, kCodeNewSa};
    bool allowed =
        (fieldType >= LEN_TYPE && fieldType <= SRC_PORT) || fieldType == ICMPV6_TYPE || fieldType == NEW_SA;
    if (!allowed) return -1;
    return locked([&] { return add_field(modId, regName, kCodeOf[fieldType], {}, {}, value, mask); });
}

PC_API int axPacketRegisterFieldIpv6(uint32_t modId, const char *regName, uint32_t fieldType,
                                     const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask) {
    CHECK_REG_NAME(regName);
    if ((fieldType != DES_IPV6 && fieldType != SRC_IPV6) || value == nullptr || mask == nullptr) return -1;
    uint32_t code = fieldType == DES_IPV6 ? kCodeDstIp6 : kCodeSrcIp6;
    return locked([&] { return add_field(modId, regName, code, value->addr, mask->addr, 0, 0); });
}

PC_API int axPacketRegisterMacaddr(uint32_t modId, const char *regName, uint32_t field_type,
                                   const uint8_t *mac, const uint8_t *mask) {
    CHECK_REG_NAME(regName);
    PFM_ENSURE_RET(kMid, (field_type == DES_MAC) || (field_type == SRC_MAC), -1);
    if (mac == nullptr || mask == nullptr) return -1;
    uint32_t code = field_type == DES_MAC ? kCodeDstMac : kCodeSrcMac;
    uint8_t v[8]{}, m[8]{};
    std::memcpy(v, mac, MAC_ADDR_SIZE);
    std::memcpy(m, mask, MAC_ADDR_SIZE);
    return locked([&] { return add_field(modId, regName, code, v, m, 0, 0); });
}

PC_API int axPacketRegisterUdf(uint32_t modId, const char *regName, uint32_t mode, uint32_t offset,
                               uint32_t value, uint32_t mask) {
    CHECK_REG_NAME(regName);
    if (mode != UDF_EQUAL && mode != UDF_NOT_EQUAL) return -1;
    return locked([&] { return add_udf(modId, regName, mode, offset, value, mask); });
}

PC_API int axPacketRegisterEnable(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return enable_packet(modId, regName); });
}

PC_API int axPacketRegisterDisable(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return disable_packet(modId, regName); });
}

PC_API int axPacketRegisterQoS(uint32_t modId, const char *regName, uint32_t mode, uint32_t speed) {
    CHECK_REG_NAME(regName);
    return locked([&] { return register_qos(modId, regName, mode, speed); });
}

}  // extern "C"
