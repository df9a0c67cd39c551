// RPC "axpacketRegManage": the registry for modules of other processes.
// Every parameter comes from another process: names are read into a
// bounded buffer and must end within it, binary values must have their
// exact size.
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

using namespace pc::packet;

constexpr int kMacBytes = MAC_ADDR_SIZE;
constexpr int kIpv6Bytes = 16;
constexpr int kPidBytes = 4;

#define GET_OR_FAIL(call)                          \
    do {                                           \
        int get_rc_ = (call);                      \
        if (get_rc_ != 0) {                        \
            PFM_CALL_FAILED(kMid, get_rc_, #call); \
            return get_rc_;                        \
        }                                          \
    } while (0)

// Returns a failed reader's status (already logged).
#define GET_OR_RETURN(call)               \
    do {                                  \
        int get_rc_ = (call);             \
        if (get_rc_ != 0) return get_rc_; \
    } while (0)

// The registration name; -1 (logged) when missing, unterminated or too long.
int get_name(AXRPC_PARA_T *inPara, char (&regName)[PACKET_REG_NAME_SIZE + 1]) {
    int got = 0;
    std::memset(regName, 0, sizeof regName);
    GET_OR_FAIL(axrpcGetString(inPara, AXPACKET_REG_NAME, PACKET_REG_NAME_SIZE + 1, regName, &got));
    bool terminated = std::memchr(regName, '\0', static_cast<size_t>(got)) != nullptr;
    PFM_ENSURE_RET(kMid, terminated && PACKET_REG_NAME_LEN_MAX >= strlen(regName), -1);
    return 0;
}

// Exactly `size` bytes of a binary parameter: 0, or the getter's error
// (logged with its call text) or -1 for another size.
#define GET_BYTES(inPara, key, size, out)                                                          \
    get_bytes(inPara, key, size, out, "axrpcGetData(inPara, " #key ", " #size ", " #out ", &got)", \
              "got == " #size)

int get_bytes(AXRPC_PARA_T *inPara, const char *key, int size, uint8_t *out, const char *call_text,
              const char *size_text) {
    pc::ipc::rpc::ParamReader reader(inPara, kMid);
    reader.bytes(key, out, size, call_text, size_text);
    return reader.rc();
}

// The process a request comes from (the hub checked the message's source).
uint32_t caller_pid() {
    auto *env = envTls != nullptr ? static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls)) : nullptr;
    return env != nullptr ? static_cast<uint32_t>(env->pid) : 0;
}

// The process-id parameter: it must name the caller, who speaks only for
// itself.
int get_pid(AXRPC_PARA_T *inPara, uint32_t &pid) {
    uint8_t pidBytes[kPidBytes]{};
    if (GET_BYTES(inPara, AXPACKET_REG_PID, kPidBytes, pidBytes) != 0) return refuse("no process id");
    std::memcpy(&pid, pidBytes, sizeof pid);
    uint32_t caller = caller_pid();
    if (!IS_PID_VALID(pid) || pid == PID_CORE || pid != caller)
        return refuse("process %u registers as process %u", static_cast<unsigned>(caller),
                      static_cast<unsigned>(pid));
    return 0;
}

// A request that names a registration may only touch the caller's own.
int check_owner(uint32_t modId, const char *regName) {
    uint32_t caller = caller_pid();
    PACKET_REGIST_T *r = find_registration(modId, regName);
    if (r == nullptr)
        return refuse("registration %u %s is not registered", static_cast<unsigned>(modId), regName);
    if (r->pid != caller)
        return refuse("registration %u %s belongs to process %s(%u)", static_cast<unsigned>(modId), regName,
                      pidNameGet(static_cast<int>(r->pid)), static_cast<unsigned>(r->pid));
    return 0;
}

int handle(uint32_t modId, int setType, AXRPC_PARA_T *inPara) {
    char regName[PACKET_REG_NAME_SIZE + 1];
    int stack = 0, msglen = 0, pri = 0, own = 0, value = 0, mask = 0, offset = 0, enable = 0, speed = 0;
    uint32_t pid = 0;
    switch (setType) {
        case AXPACKET_SET_MODULE:
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_STACK, &stack));
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_MSGLEN, &msglen));
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_PRI, &pri));
            if (get_pid(inPara, pid) != 0) return -1;
            return register_module(modId, pri, static_cast<uint32_t>(stack), static_cast<uint32_t>(msglen),
                                   pid);
        case AXPACKET_SET_PACKET:
            if (get_name(inPara, regName) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_OWN, &own));
            // A registration of another process is delivered by message; it
            // cannot claim the core's own queue.
            if (get_pid(inPara, pid) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_PRI, &pri));
            if (!PFM_PRIORITY_IS_VALID(pri)) return refuse("priority %d is out of range", pri);
            return register_packet(modId, regName, static_cast<uint32_t>(own), static_cast<uint32_t>(pri),
                                   pid, nullptr, nullptr);
        case AXPACKET_SET_UNREGISTER:
            if (get_name(inPara, regName) != 0) return -1;
            if (find_registration(modId, regName) == nullptr) return 0;
            if (check_owner(modId, regName) != 0) return -1;
            return unregister_packet(modId, regName);
        case AXPACKET_SET_NOTHING:
            return 0;
        case AXPACKET_SET_SRC_MAC:
        case AXPACKET_SET_DES_MAC: {
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            uint8_t mac[8]{}, macMask[8]{};
            GET_OR_RETURN(GET_BYTES(inPara, AXPACKET_REG_MACADDR, kMacBytes, mac));
            GET_OR_RETURN(GET_BYTES(inPara, AXPACKET_REG_MACMASK, kMacBytes, macMask));
            return add_field(modId, regName, static_cast<uint32_t>(setType), mac, macMask, 0, 0);
        }
        case AXPACKET_SET_LEN_TYPE:
        case AXPACKET_SET_SRC_IP:
        case AXPACKET_SET_DES_IP:
        case AXPACKET_SET_PRO_TYPE:
        case AXPACKET_SET_ICMPV6_TYPE:
        case AXPACKET_SET_SRC_PORT:
        case AXPACKET_SET_DES_PORT:
        case AXPACKET_SET_NEW_SA:
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_VALUE, &value));
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_MASK, &mask));
            return add_field(modId, regName, static_cast<uint32_t>(setType), {}, {},
                             static_cast<uint32_t>(value), static_cast<uint32_t>(mask));
        case AXPACKET_SET_SRC_IPV6:
        case AXPACKET_SET_DES_IPV6: {
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            uint8_t addr[kIpv6Bytes]{}, addrMask[kIpv6Bytes]{};
            GET_OR_RETURN(GET_BYTES(inPara, AXPACKET_REG_VALUE_IPV6, kIpv6Bytes, addr));
            GET_OR_RETURN(GET_BYTES(inPara, AXPACKET_REG_MASK_IPV6, kIpv6Bytes, addrMask));
            return add_field(modId, regName, static_cast<uint32_t>(setType), addr, addrMask, 0, 0);
        }
        case AXPACKET_SET_UDF_EQUAL:
        case AXPACKET_SET_UDF_NOT_EQUAL:
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_VALUE, &value));
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_MASK, &mask));
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_OFFSET, &offset));
            return add_udf(modId, regName, setType == AXPACKET_SET_UDF_EQUAL ? UDF_EQUAL : UDF_NOT_EQUAL,
                           static_cast<uint32_t>(offset), static_cast<uint32_t>(value),
                           static_cast<uint32_t>(mask));
        case AXPACKET_SET_ENABLE:
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_ENABLE, &enable));
            return enable ? enable_packet(modId, regName) : disable_packet(modId, regName);
        case AXPACKET_SET_QOS: {
            if (get_name(inPara, regName) != 0 || check_owner(modId, regName) != 0) return -1;
            GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_SPEED, &speed));
            int mode = 0;
            (void)axrpcGetInt(inPara, AXPACKET_REG_QOS_MODE, &mode);  // optional
            return register_qos(modId, regName, static_cast<uint32_t>(mode), static_cast<uint32_t>(speed));
        }
        default:
            return 0;
    }
}

int reg_manage(AXRPC_PARA_T *inPara) {
    uint32_t modId = 0;
    int setType = 0;
    int midValue = 0;
    if (int rc = axrpcGetInt(inPara, AXPACKET_REG_MID, &midValue); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcGetInt(inPara, AXPACKET_REG_MID, (int*)&modId)");
        return rc;
    }
    modId = static_cast<uint32_t>(midValue);
    GET_OR_FAIL(axrpcGetInt(inPara, AXPACKET_REG_TYPE, &setType));
    if (!((MID_INVALID < modId) && (MID_MAX > modId))) return 0;
    if (regist_lock() == nullptr) return -1;
    pc::pal::MutexGuard g(regist_lock());
    if (!g.held()) return -1;
    return handle(modId, setType, inPara);
}

}  // namespace

extern "C" {

PC_API int axpacketRegManage(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    clear_refusal();
    int rc = reg_manage(inPara);
    // The caller learns of a refusal through the call's status, and why
    // through the answer's reason.
    if (rc != 0 && envTls != nullptr) {
        if (auto *env = static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls))) env->ret = rc;
        if (outPara != nullptr && last_refusal()[0] != '\0')
            axrpcAddStringPtr(outPara, AXPACKET_REG_REASON, last_refusal());
    }
    return rc;
}

PC_API int axPacketRpcReg(void) {
    if (follow_process_departures() != 0) return -1;
    int rc = axrpcRegisterFunc(AXPACKET_REG_MANAGE, axpacketRegManage);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcRegisterFunc(\"axpacketRegManage\", axpacketRegManage)");
        return rc;
    }
    return 0;
}

}  // extern "C"
