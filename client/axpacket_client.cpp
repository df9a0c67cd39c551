// The packet client: registrations through "axpacketRegManage", frames in
// and out as MID_AXPACKET messages. Every message from the hub is checked
// against its length before any field of it is used.
#include "axpacket_client/axpacket_client.h"

#include <array>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/up.h"

namespace {

constexpr uint32_t kCoreUnits = 1u << UNIT_1;

struct Receiver {
    uint32_t mid;
    std::string name;
    AXPACKET_CLIENT_RX_CB cb;
};

using Fill = std::function<int(AXRPC_PARA_T *)>;

// One registry call that succeeded, kept to be made again after a
// reconnection (the core forgets a process whose connection ends).
struct Journaled {
    uint32_t mid;
    int setType;
    std::string name;  // empty for a module
    Fill fill;
};

std::mutex g_lock;  // guards g_receivers and g_journal
std::vector<Receiver> g_receivers;
// In call order. A registration's entries go when it is unregistered or
// registered again; an enable or QoS call replaces the registration's
// previous one, so the journal stays as small as what the core holds.
std::vector<Journaled> g_journal;
std::mutex g_replay_lock;  // one replay at a time; taken before g_lock

// setType of each field type of the registration calls.
constexpr int kSetTypeOf[] = {AXPACKET_SET_DES_MAC,  AXPACKET_SET_SRC_MAC,     AXPACKET_SET_LEN_TYPE,
                              AXPACKET_SET_DES_IP,   AXPACKET_SET_SRC_IP,      AXPACKET_SET_PRO_TYPE,
                              AXPACKET_SET_DES_PORT, AXPACKET_SET_SRC_PORT,    AXPACKET_SET_DES_IPV6,
                              AXPACKET_SET_SRC_IPV6, AXPACKET_SET_ICMPV6_TYPE, AXPACKET_SET_NEW_SA};

// One call of "axpacketRegManage" with mid, type and what `fill` adds; a
// failure is logged with the call and, when the core refused it, why.
int call(uint32_t mid, int setType, const char *name, const Fill &fill) {
    AXRPC_PARA_T in;
    AXRPC_PARA_GROUP_T out;
    axrpcParaInit(&in);
    axrpcParaGroupInit(&out);
    int rc = axrpcAddInt(&in, AXPACKET_REG_MID, static_cast<int>(mid));
    if (rc == 0) rc = axrpcAddInt(&in, AXPACKET_REG_TYPE, setType);
    if (rc == 0) rc = fill(&in);
    if (rc == 0) rc = axrpcCallFunctionSync(kCoreUnits, PID_CORE, AXPACKET_REG_MANAGE, &in, 0, 0, &out);
    if (rc != 0) {
        char reason[160] = "";
        int got = 0;
        if (out.isUsed) axrpcGetString(&out.paraSet, AXPACKET_REG_REASON, sizeof reason, reason, &got);
        reason[sizeof reason - 1] = '\0';
        const char *why = reason[0] != '\0'          ? reason
                          : rc == AXRPC_RET_TIMEOUT  ? "the core did not answer"
                          : rc == AXRPC_RET_FUNC_ERR ? "refused by the core"
                                                     : "the call could not be made";
        PFM_ERR(MID_AXPACKET, "axpacketRegManage(type %d, module %u%s%s) failed (%d): %s", setType,
                static_cast<unsigned>(mid), name != nullptr && name[0] != '\0' ? ", " : "",
                name != nullptr ? name : "", rc, why);
    }
    axrpcParaFree(&in);
    axrpcParaGroupFree(&out);
    return rc;
}

enum class Kind { kModule, kRegister, kUnregister, kField, kEnable, kQos };

// Records a call that succeeded (g_lock held).
void journal_locked(Kind kind, uint32_t mid, int setType, const std::string &name, Fill fill) {
    auto same_reg = [&](const Journaled &j) { return j.mid == mid && !j.name.empty() && j.name == name; };
    switch (kind) {
        case Kind::kModule:
            for (const Journaled &j : g_journal)
                if (j.mid == mid && j.setType == AXPACKET_SET_MODULE) return;
            break;
        case Kind::kRegister:
        case Kind::kUnregister:
            std::erase_if(g_journal, same_reg);
            if (kind == Kind::kUnregister) return;
            break;
        case Kind::kEnable:
        case Kind::kQos:
            std::erase_if(g_journal, [&](const Journaled &j) { return same_reg(j) && j.setType == setType; });
            break;
        case Kind::kField:
            break;
    }
    g_journal.push_back({mid, setType, name, std::move(fill)});
}

// Makes the call and, when it succeeds, journals it.
int journaled(Kind kind, uint32_t mid, int setType, const char *name, Fill fill) {
    std::string n = name != nullptr ? name : "";
    int rc = call(mid, setType, n.c_str(), fill);
    if (rc == 0) {
        std::lock_guard<std::mutex> g(g_lock);
        journal_locked(kind, mid, setType, n, std::move(fill));
    }
    return rc;
}

// After a reconnection: every journaled call again, in order.
int replay(void *) {
    std::lock_guard<std::mutex> once(g_replay_lock);
    std::vector<Journaled> calls;
    {
        std::lock_guard<std::mutex> g(g_lock);
        calls = g_journal;
    }
    for (const Journaled &j : calls)
        if (int rc = call(j.mid, j.setType, j.name.c_str(), j.fill); rc != 0) return rc;
    return 0;
}

bool name_ok(const char *name) { return name != nullptr && std::strlen(name) <= PACKET_REG_NAME_LEN_MAX; }

int add_name(AXRPC_PARA_T *in, const std::string &name) {
    return axrpcAddString(in, AXPACKET_REG_NAME, name.c_str(), static_cast<int>(name.size() + 1));
}

int add_pid(AXRPC_PARA_T *in) {
    uint32_t pid = static_cast<uint32_t>(pidGetCurrent());
    return axrpcAddString(in, AXPACKET_REG_PID, reinterpret_cast<const char *>(&pid), sizeof pid);
}

}  // namespace

extern "C" {

PC_API int axpacketClientInit(void) {
    if (axmsg_client_reconnect_cb_add(replay, nullptr) != 0) return -1;
    return axmsg_reg(MID_AXPACKET, axpacketClientHandle);
}

PC_API int axpacketClientRegisterModule(uint32_t mid, int priority, uint32_t stackSize, uint32_t queueLen) {
    return journaled(Kind::kModule, mid, AXPACKET_SET_MODULE, nullptr, [=](AXRPC_PARA_T *in) {
        int rc = axrpcAddInt(in, AXPACKET_REG_STACK, static_cast<int>(stackSize));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MSGLEN, static_cast<int>(queueLen));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_PRI, priority);
        if (rc == 0) rc = add_pid(in);
        return rc;
    });
}

PC_API int axpacketClientRegisterPacket(uint32_t mid, const char *regName, uint32_t own, uint32_t priority,
                                        AXPACKET_CLIENT_RX_CB cb) {
    if (cb == nullptr || !name_ok(regName)) return -1;
    std::string name = regName;
    int rc = journaled(Kind::kRegister, mid, AXPACKET_SET_PACKET, regName, [=](AXRPC_PARA_T *in) {
        int r = add_name(in, name);
        if (r == 0) r = axrpcAddInt(in, AXPACKET_REG_OWN, static_cast<int>(own));
        if (r == 0) r = add_pid(in);
        if (r == 0) r = axrpcAddInt(in, AXPACKET_REG_PRI, static_cast<int>(priority));
        return r;
    });
    if (rc != 0) return rc;
    // A second registration of the name replaces the first, callback too.
    std::lock_guard<std::mutex> g(g_lock);
    std::erase_if(g_receivers, [&](const Receiver &r) { return r.mid == mid && r.name == name; });
    g_receivers.push_back({mid, name, cb});
    return 0;
}

PC_API int axpacketClientUnregisterPacket(uint32_t mid, const char *regName) {
    if (!name_ok(regName)) return -1;
    std::string name = regName;
    int rc = journaled(Kind::kUnregister, mid, AXPACKET_SET_UNREGISTER, regName,
                       [=](AXRPC_PARA_T *in) { return add_name(in, name); });
    if (rc == 0) {
        std::lock_guard<std::mutex> g(g_lock);
        std::erase_if(g_receivers, [&](const Receiver &r) { return r.mid == mid && r.name == name; });
    }
    return rc;
}

PC_API int axpacketClientRegisterField(uint32_t mid, const char *regName, uint32_t fieldType, uint32_t value,
                                       uint32_t mask) {
    if (fieldType >= sizeof kSetTypeOf / sizeof kSetTypeOf[0] || fieldType == DES_MAC ||
        fieldType == SRC_MAC || fieldType == DES_IPV6 || fieldType == SRC_IPV6 || !name_ok(regName))
        return -1;
    std::string name = regName;
    return journaled(Kind::kField, mid, kSetTypeOf[fieldType], regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_VALUE, static_cast<int>(value));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MASK, static_cast<int>(mask));
        return rc;
    });
}

PC_API int axpacketClientRegisterMacaddr(uint32_t mid, const char *regName, uint32_t fieldType,
                                         const uint8_t *mac, const uint8_t *mask) {
    if ((fieldType != DES_MAC && fieldType != SRC_MAC) || mac == nullptr || mask == nullptr ||
        !name_ok(regName))
        return -1;
    std::string name = regName;
    std::array<uint8_t, MAC_ADDR_SIZE> m{}, k{};
    std::memcpy(m.data(), mac, m.size());
    std::memcpy(k.data(), mask, k.size());
    return journaled(Kind::kField, mid, kSetTypeOf[fieldType], regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_MACADDR, reinterpret_cast<const char *>(m.data()), 6);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_MACMASK, reinterpret_cast<const char *>(k.data()), 6);
        return rc;
    });
}

PC_API int axpacketClientRegisterFieldIpv6(uint32_t mid, const char *regName, uint32_t fieldType,
                                           const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask) {
    if ((fieldType != DES_IPV6 && fieldType != SRC_IPV6) || value == nullptr || mask == nullptr ||
        !name_ok(regName))
        return -1;
    std::string name = regName;
    IPV6_ADDR_T v = *value, k = *mask;
    return journaled(Kind::kField, mid, kSetTypeOf[fieldType], regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_VALUE_IPV6, reinterpret_cast<const char *>(v.addr), 16);
        if (rc == 0)
            rc = axrpcAddString(in, AXPACKET_REG_MASK_IPV6, reinterpret_cast<const char *>(k.addr), 16);
        return rc;
    });
}

PC_API int axpacketClientRegisterUdf(uint32_t mid, const char *regName, uint32_t mode, uint32_t offset,
                                     uint32_t value, uint32_t mask) {
    if ((mode != UDF_EQUAL && mode != UDF_NOT_EQUAL) || !name_ok(regName)) return -1;
    int type = mode == UDF_EQUAL ? AXPACKET_SET_UDF_EQUAL : AXPACKET_SET_UDF_NOT_EQUAL;
    std::string name = regName;
    return journaled(Kind::kField, mid, type, regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_VALUE, static_cast<int>(value));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_MASK, static_cast<int>(mask));
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_OFFSET, static_cast<int>(offset));
        return rc;
    });
}

PC_API int axpacketClientRegisterEnable(uint32_t mid, const char *regName, int enable) {
    if (!name_ok(regName)) return -1;
    std::string name = regName;
    return journaled(Kind::kEnable, mid, AXPACKET_SET_ENABLE, regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
        if (rc == 0) rc = axrpcAddInt(in, AXPACKET_REG_ENABLE, enable);
        return rc;
    });
}

PC_API int axpacketClientRegisterQoS(uint32_t mid, const char *regName, uint32_t mode, uint32_t speed) {
    if (!name_ok(regName)) return -1;
    std::string name = regName;
    return journaled(Kind::kQos, mid, AXPACKET_SET_QOS, regName, [=](AXRPC_PARA_T *in) {
        int rc = add_name(in, name);
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
