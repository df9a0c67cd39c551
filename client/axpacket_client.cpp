// The packet client: registrations through "axpacketRegManage", frames in
// and out as MID_AXPACKET messages. Every message from the hub is checked
// against its length before any field of it is used.
#include "axpacket_client/axpacket_client.h"

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace {

constexpr uint32_t kCoreUnits = 1u << UNIT_1;

struct Receiver {
    uint32_t mid;
    std::string name;
    AXPACKET_CLIENT_RX_CB cb;
};

std::mutex g_lock;  // guards g_receivers
std::vector<Receiver> g_receivers;

// setType of each field type of the registration calls.
constexpr int kSetTypeOf[] = {AXPACKET_SET_DES_MAC,  AXPACKET_SET_SRC_MAC,     AXPACKET_SET_LEN_TYPE,
                              AXPACKET_SET_DES_IP,   AXPACKET_SET_SRC_IP,      AXPACKET_SET_PRO_TYPE,
                              AXPACKET_SET_DES_PORT, AXPACKET_SET_SRC_PORT,    AXPACKET_SET_DES_IPV6,
                              AXPACKET_SET_SRC_IPV6, AXPACKET_SET_ICMPV6_TYPE, AXPACKET_SET_NEW_SA};

// One call of "axpacketRegManage" with mid, type and what `fill` adds.
template <class F>
int call(uint32_t mid, int setType, F &&fill) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    int rc = axrpcAddInt(&in, AXPACKET_REG_MID, static_cast<int>(mid));
    if (rc == 0) rc = axrpcAddInt(&in, AXPACKET_REG_TYPE, setType);
    if (rc == 0) rc = fill(&in);
    if (rc == 0) rc = axrpcCallFunctionSync(kCoreUnits, PID_CORE, AXPACKET_REG_MANAGE, &in, 0, 0, &out);
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return rc;
}

int add_name(AXRPC_PARA_T *in, const char *name) {
    if (name == nullptr || std::strlen(name) > PACKET_REG_NAME_LEN_MAX) return -1;
    return axrpcAddStringPtr(in, AXPACKET_REG_NAME, name);
}

int add_pid(AXRPC_PARA_T *in) {
    uint32_t pid = static_cast<uint32_t>(pidGetCurrent());
    return axrpcAddString(in, AXPACKET_REG_PID, reinterpret_cast<const char *>(&pid), sizeof pid);
}

}  // namespace

extern "C" {

PC_API int axpacketClientInit(void) { return axmsg_reg(MID_AXPACKET, axpacketClientHandle); }

PC_API int axpacketClientRegisterModule(uint32_t mid, int priority, uint32_t stackSize, uint32_t queueLen) {
    return call(mid, AXPACKET_SET_MODULE, [&](AXRPC_PARA_T *in) {
        int rc = axrpcAddInt(in, AXPACKET_REG_STACK, static_cast<int>(stackSize));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MSGLEN, static_cast<int>(queueLen));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_PRI, priority);
        if (rc == 0) rc = add_pid(in);
        return rc;
    });
}

PC_API int axpacketClientRegisterPacket(uint32_t mid, const char *regName, uint32_t own, uint32_t priority,
                                        AXPACKET_CLIENT_RX_CB cb) {
    if (cb == nullptr) return -1;
    int rc = call(mid, AXPACKET_SET_PACKET, [&](AXRPC_PARA_T *in) {
        int r = add_name(in, regName);
        if (r == 0) r = axrpcAddInt(in, AXPACKET_REG_OWN, static_cast<int>(own));
        if (r == 0) r = add_pid(in);
        if (r == 0) r = axrpcAddInt(in, AXPACKET_REG_PRI, static_cast<int>(priority));
        return r;
    });
    if (rc != 0) return rc;
    std::lock_guard<std::mutex> g(g_lock);
    g_receivers.push_back({mid, regName, cb});
    return 0;
}

PC_API int axpacketClientUnregisterPacket(uint32_t mid, const char *regName) {
    int rc = call(mid, AXPACKET_SET_UNREGISTER, [&](AXRPC_PARA_T *in) { return add_name(in, regName); });
    if (rc == 0) {
        std::lock_guard<std::mutex> g(g_lock);
        std::erase_if(g_receivers, [&](const Receiver &r) { return r.mid == mid && r.name == regName; });
    }
    return rc;
}

PC_API int axpacketClientRegisterField(uint32_t mid, const char *regName, uint32_t fieldType, uint32_t value,
                                       uint32_t mask) {
    if (fieldType >= sizeof kSetTypeOf / sizeof kSetTypeOf[0] || fieldType == DES_MAC ||
        fieldType == SRC_MAC || fieldType == DES_IPV6 || fieldType == SRC_IPV6)
        return -1;
    return call(mid, kSetTypeOf[fieldType], [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_VALUE, static_cast<int>(value));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MASK, static_cast<int>(mask));
        return rc;
    });
}

PC_API int axpacketClientRegisterMacaddr(uint32_t mid, const char *regName, uint32_t fieldType,
                                         const uint8_t *mac, const uint8_t *mask) {
    if ((fieldType != DES_MAC && fieldType != SRC_MAC) || mac == nullptr || mask == nullptr) return -1;
    return call(mid, kSetTypeOf[fieldType], [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0) rc = axrpcAddString(in, AXPACKET_REG_MACADDR, reinterpret_cast<const char *>(mac), 6);
        if (rc == 0) rc = axrpcAddString(in, AXPACKET_REG_MACMASK, reinterpret_cast<const char *>(mask), 6);
        return rc;
    });
}

PC_API int axpacketClientRegisterFieldIpv6(uint32_t mid, const char *regName, uint32_t fieldType,
                                           const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask) {
    if ((fieldType != DES_IPV6 && fieldType != SRC_IPV6) || value == nullptr || mask == nullptr) return -1;
    return call(mid, kSetTypeOf[fieldType], [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_VALUE_IPV6, reinterpret_cast<const char *>(value->addr), 16);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_MASK_IPV6, reinterpret_cast<const char *>(mask->addr), 16);
        return rc;
    });
}

PC_API int axpacketClientRegisterUdf(uint32_t mid, const char *regName, uint32_t mode, uint32_t offset,
                                     uint32_t value, uint32_t mask) {
    if (mode != UDF_EQUAL && mode != UDF_NOT_EQUAL) return -1;
    int type = mode == UDF_EQUAL ? AXPACKET_SET_UDF_EQUAL : AXPACKET_SET_UDF_NOT_EQUAL;
    return call(mid, type, [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_VALUE, static_cast<int>(value));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MASK, static_cast<int>(mask));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_OFFSET, static_cast<int>(offset));
        return rc;
    });
}

PC_API int axpacketClientRegisterEnable(uint32_t mid, const char *regName, int enable) {
    return call(mid, AXPACKET_SET_ENABLE, [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_ENABLE, enable);
        return rc;
    });
}

PC_API int axpacketClientRegisterQoS(uint32_t mid, const char *regName, uint32_t mode, uint32_t speed) {
    return call(mid, AXPACKET_SET_QOS, [&](AXRPC_PARA_T *in) {
        int rc = add_name(in, regName);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_SPEED, static_cast<int>(speed));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_QOS_MODE, static_cast<int>(mode));
        return rc;
    });
}

PC_API int axpacketClientSend(const AX_PACKET_T *pkt) {
    if (pkt == nullptr || (pkt->len != 0 && pkt->data == nullptr)) return -1;
    AX_PACKET_WIRE_T wire;
    axpacketRecordToWire(pkt, 0, &wire);
    iovec iov[2] = {{&wire, sizeof wire}, {pkt->data, pkt->len}};
    AXMSG_T msg{};
    msg.dst_unit = UNIT_1;
    msg.dst_proc = PID_CORE;
    msg.msg_type = MID_AXPACKET;
    msg.iov = iov;
    msg.iov_num = pkt->len ? 2 : 1;
    return axmsg_send(&msg) == 0 ? 0 : -1;
}

PC_API int axpacketClientHandle(struct axmsg_s *msg) {
    if (msg == nullptr || msg->data == nullptr || msg->data_len < AXPACKET_MSG_HEAD_SIZE) return -1;
    const auto *bytes = static_cast<const uint8_t *>(msg->data);
    AX_PACKET_WIRE_T wire;
    std::memcpy(&wire, bytes, sizeof wire);
    uint32_t mid = 0;
    std::memcpy(&mid, bytes + AX_PACKET_WIRE_SIZE, sizeof mid);
    char name[PACKET_REG_NAME_SIZE + 1] = {};
    std::memcpy(name, bytes + AX_PACKET_WIRE_SIZE + 4, PACKET_REG_NAME_SIZE);
    AX_PACKET_T pkt;
    axpacketRecordFromWire(&wire, &pkt);
    // The frame is what follows the head; the record's length must agree.
    uint32_t frame_len = msg->data_len - AXPACKET_MSG_HEAD_SIZE;
    if (pkt.len != frame_len) return -1;
    pkt.data = const_cast<uint8_t *>(bytes + AXPACKET_MSG_HEAD_SIZE);
    AXPACKET_CLIENT_RX_CB cb = nullptr;
    {
        std::lock_guard<std::mutex> g(g_lock);
        for (const Receiver &r : g_receivers)
            if (r.mid == mid && r.name == name) cb = r.cb;
    }
    if (cb == nullptr) return -1;
    cb(&pkt, mid, name);
    return 0;
}

}  // extern "C"
