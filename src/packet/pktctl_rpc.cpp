// The traffic-control operations that other processes reach through RPC:
// the exported calls (local in the core, an RPC call to the core
// elsewhere) and the core's "_srv" halves. Every parameter of a request
// comes from another process: names must end within 32 bytes, MACs and port
// lists must have their exact size.
#include <cstring>

#include "packet/pktctl_stack.h"
#include "packet/pktctl_table.h"
#include "platform_core/platform.h"

using namespace pc::pktctl;

namespace {

constexpr int kMacBytes = 6;
constexpr int kNameBuf = PKT_CTL_NAME_LEN + 1;

// Parameter keys.
constexpr const char *kName = "name";
constexpr const char *kDstMac = "dstMac";
constexpr const char *kEtherType = "etherType";
constexpr const char *kProtocol = "protocol";
constexpr const char *kDstIp = "dstIp";
constexpr const char *kSrcIp = "srcIp";
constexpr const char *kDstPort = "dstPort";
constexpr const char *kSrcPort = "srcPort";
constexpr const char *kSpeed = "speed";
constexpr const char *kAction = "action";
constexpr const char *kIsEnable = "isEnable";
constexpr const char *kVid = "vid";
constexpr const char *kPortList = "portList";

// The request's parameters, filled by the client half.
class Request {
public:
    Request() { axrpcParaInit(&in_); }
    ~Request() { axrpcParaFree(&in_); }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;
    AXRPC_PARA_T *in() { return &in_; }
    bool ok = true;
    void name(const char *n) {
        ok = ok && axrpcAddString(&in_, kName, n, static_cast<int>(strlen(n)) + 1) == 0;
    }
    void mac(const uint8_t *m) {
        ok = ok && axrpcAddString(&in_, kDstMac, reinterpret_cast<const char *>(m), kMacBytes) == 0;
    }
    void i32(const char *k, uint32_t v) { ok = ok && axrpcAddInt(&in_, k, static_cast<int>(v)) == 0; }
    void i16(const char *k, uint32_t v) { ok = ok && axrpcAddShort(&in_, k, static_cast<short>(v)) == 0; }
    void i8(const char *k, uint32_t v) { ok = ok && axrpcAddChar(&in_, k, static_cast<char>(v)) == 0; }
    void ports(const up_list &l) {
        ok = ok && axrpcAddData(&in_, kPortList, AXRPC_PARA_TYPE_DATA, &l, sizeof l) == 0;
    }

    // Runs `func` in the core; 0, or the call's status. `out` receives the answer.
    int call(const char *func, AXRPC_PARA_T *out = nullptr) {
        if (!ok) return -1;
        AXRPC_PARA_GROUP_T group[AXRPC_UNIT_NUM];
        for (auto &g : group) axrpcParaGroupInit(&g);
        int rc = axrpcCallFunctionSync(1u << current_unit(), PID_CORE, func, &in_, 0, 0, group);
        if (rc == 0 && out != nullptr) rc = axrpcParaCopy(&group[0].paraSet, out);
        for (auto &g : group) axrpcParaGroupFree(&g);
        return rc;
    }

private:
    AXRPC_PARA_T in_;
};

// The caller learns of a refusal through the call's status.
int answer(int rc) {
    if (rc != 0 && envTls != nullptr) {
        if (auto *env = static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls))) env->ret = rc;
    }
    return rc;
}

#define GET_OR_FAIL(call)                          \
    do {                                           \
        int get_rc_ = (call);                      \
        if (get_rc_ != 0) {                        \
            PFM_CALL_FAILED(kMid, get_rc_, #call); \
            return answer(get_rc_);                \
        }                                          \
    } while (0)

int get_name(AXRPC_PARA_T *inPara, char (&name)[kNameBuf]) {
    int got = 0;
    std::memset(name, 0, sizeof name);
    GET_OR_FAIL(axrpcGetString(inPara, "name", kNameBuf, name, &got));
    bool terminated = got > 0 && std::memchr(name, '\0', static_cast<size_t>(got)) != nullptr;
    PFM_ENSURE_RET(kMid, terminated, -1);
    return 0;
}

int get_mac(AXRPC_PARA_T *inPara, uint8_t (&mac)[kMacBytes]) {
    int got = 0;
    GET_OR_FAIL(axrpcGetString(inPara, "dstMac", kMacBytes, reinterpret_cast<char *>(mac), &got));
    PFM_ENSURE_RET(kMid, got == kMacBytes, -1);
    return 0;
}

int get_ports(AXRPC_PARA_T *inPara, up_list &ports) {
    int got = 0;
    GET_OR_FAIL(axrpcGetData(inPara, "portList", sizeof ports, &ports, &got));
    PFM_ENSURE_RET(kMid, got == static_cast<int>(sizeof ports), -1);
    return 0;
}

uint32_t u16(short v) { return static_cast<uint16_t>(v); }
uint32_t u8(char v) { return static_cast<uint8_t>(v); }

#define SRV_CHECK_IN(inPara) PFM_ENSURE_RET(kMid, (NULL != inPara), answer(-1))

}  // namespace

extern "C" {

// ---- Client halves ------------------------------------------------------------

PC_API int axPktCtlIEEECtl(const char *name, const uint8_t *dstMac, uint32_t speed, uint32_t isEnable) {
    if (in_core() || name == nullptr || dstMac == nullptr)
        return ieee_local(name, dstMac, speed, nullptr, isEnable);
    Request r;
    r.name(name);
    r.mac(dstMac);
    r.i32(kSpeed, speed);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlIEEECtl");
}

PC_API int axPktCtlIEEECtlByPort(const char *name, const uint8_t *dstMac, uint32_t speed, up_list portList,
                                 uint32_t isEnable) {
    if (in_core() || name == nullptr || dstMac == nullptr)
        return ieee_local(name, dstMac, speed, &portList, isEnable);
    Request r;
    r.name(name);
    r.mac(dstMac);
    r.i32(kSpeed, speed);
    r.ports(portList);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlIEEECtlByPort");
}

PC_API int axPktCtlL2Ctl(const char *name, const uint8_t *dstMac, uint16_t etherType, uint32_t speed,
                         uint32_t action, uint32_t isEnable) {
    if (in_core() || name == nullptr) return l2_local(name, dstMac, etherType, speed, action, isEnable);
    static constexpr uint8_t kNoMac[kMacBytes] = {};
    Request r;
    r.name(name);
    r.mac(dstMac != nullptr ? dstMac : kNoMac);
    r.i16(kEtherType, etherType);
    r.i32(kSpeed, speed);
    r.i32(kAction, action);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlL2Ctl");
}

PC_API int axPktCtlL2UcCtl(const char *name, uint16_t etherType, uint32_t speed, uint32_t isEnable) {
    if (in_core() || name == nullptr) return l2uc_local(name, etherType, speed, isEnable);
    Request r;
    r.name(name);
    r.i16(kEtherType, etherType);
    r.i32(kSpeed, speed);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlL2UcCtl");
}

PC_API int axPktCtlL3Ctl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t srcIp,
                         uint32_t l4DstPort, uint32_t l4SrcPort, uint32_t speed, uint32_t action,
                         uint32_t isEnable) {
    if (in_core() || name == nullptr)
        return l3_local(PKT_CTL_TYPE_L3, name, ipProtocol, dstIp, srcIp, l4DstPort, l4SrcPort, speed, action,
                        isEnable);
    Request r;
    r.name(name);
    r.i8(kProtocol, ipProtocol);
    r.i32(kDstIp, dstIp);
    r.i32(kSrcIp, srcIp);
    r.i16(kDstPort, l4DstPort);
    r.i16(kSrcPort, l4SrcPort);
    r.i32(kSpeed, speed);
    r.i32(kAction, action);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlL3Ctl");
}

PC_API int axPktCtlL3UcCtl(const char *name, uint16_t ipProtocol, uint32_t l4DstPort, uint32_t speed,
                           uint32_t isEnable) {
    if (in_core() || name == nullptr)
        return l3_local(PKT_CTL_TYPE_L3UC, name, ipProtocol, 0, 0, l4DstPort, 0, speed, 0, isEnable);
    Request r;
    r.name(name);
    r.i8(kProtocol, ipProtocol);
    r.i16(kDstPort, l4DstPort);
    r.i32(kSpeed, speed);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlL3UcCtl");
}

PC_API int axPktCtlL3McCtl(const char *name, uint16_t ipProtocol, uint32_t dstIp, uint32_t l4DstPort,
                           uint32_t speed, uint32_t isEnable) {
    if (in_core() || name == nullptr)
        return l3_local(PKT_CTL_TYPE_L3MC, name, ipProtocol, dstIp, 0, l4DstPort, 0, speed, 0, isEnable);
    Request r;
    r.name(name);
    r.i8(kProtocol, ipProtocol);
    r.i32(kDstIp, dstIp);
    r.i16(kDstPort, l4DstPort);
    r.i32(kSpeed, speed);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlL3McCtl");
}

PC_API int axPktCtlSpeedSet(const char *name, uint32_t speed) {
    if (in_core() || name == nullptr) return speed_set_local(name, speed);
    Request r;
    r.name(name);
    r.i32(kSpeed, speed);
    return r.call("axPktCtlSpeedSet");
}

PC_API int axPktCtlSpeedGet(const char *name, uint32_t *speed) {
    if (in_core() || name == nullptr || speed == nullptr) return speed_get_local(name, speed);
    Request r;
    r.name(name);
    AXRPC_PARA_T out;
    axrpcParaInit(&out);
    int rc = r.call("axPktCtlSpeedGet", &out);
    int value = 0;
    if (rc == 0) rc = axrpcGetInt(&out, kSpeed, &value);
    if (rc == 0) *speed = static_cast<uint32_t>(value);
    axrpcParaFree(&out);
    return rc;
}

}  // extern "C"

namespace pc::pktctl {

int cpu_mac_set_remote(uint32_t vid, uint32_t isEnable) {
    Request r;
    r.i32(kVid, vid);
    r.i32(kIsEnable, isEnable);
    return r.call("axPktCtlCpuMacSet");
}

int cpu_port_speed_set_remote(uint32_t speed) {
    Request r;
    r.i32(kSpeed, speed);
    return r.call("axPktCtlCpuPortSpeedSet");
}

}  // namespace pc::pktctl

extern "C" {

// ---- Core halves ----------------------------------------------------------------

PC_API int axPktCtlIEEECtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    uint8_t mac[kMacBytes];
    int speed = 0, isEnable = 0;
    if (get_name(inPara, name) != 0 || get_mac(inPara, mac) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(
        ieee_local(name, mac, static_cast<uint32_t>(speed), nullptr, static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlIEEECtlByPort_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    uint8_t mac[kMacBytes];
    up_list ports{};
    int speed = 0, isEnable = 0;
    if (get_name(inPara, name) != 0 || get_mac(inPara, mac) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    if (get_ports(inPara, ports) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(
        ieee_local(name, mac, static_cast<uint32_t>(speed), &ports, static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlL2Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    uint8_t mac[kMacBytes];
    short etherType = 0;
    int speed = 0, action = 0, isEnable = 0;
    if (get_name(inPara, name) != 0 || get_mac(inPara, mac) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetShort(inPara, "etherType", &etherType));
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "action", &action));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(l2_local(name, mac, static_cast<uint16_t>(etherType), static_cast<uint32_t>(speed),
                           static_cast<uint32_t>(action), static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlL2UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    short etherType = 0;
    int speed = 0, isEnable = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetShort(inPara, "etherType", &etherType));
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(l2uc_local(name, static_cast<uint16_t>(etherType), static_cast<uint32_t>(speed),
                             static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlL3Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    char protocol = 0;
    short dstPort = 0, srcPort = 0;
    int dstIp = 0, srcIp = 0, speed = 0, action = 0, isEnable = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetChar(inPara, "protocol", &protocol));
    GET_OR_FAIL(axrpcGetInt(inPara, "dstIp", &dstIp));
    GET_OR_FAIL(axrpcGetInt(inPara, "srcIp", &srcIp));
    GET_OR_FAIL(axrpcGetShort(inPara, "dstPort", &dstPort));
    GET_OR_FAIL(axrpcGetShort(inPara, "srcPort", &srcPort));
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "action", &action));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(l3_local(PKT_CTL_TYPE_L3, name, static_cast<uint16_t>(u8(protocol)),
                           static_cast<uint32_t>(dstIp), static_cast<uint32_t>(srcIp), u16(dstPort),
                           u16(srcPort), static_cast<uint32_t>(speed), static_cast<uint32_t>(action),
                           static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlL3UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    char protocol = 0;
    short dstPort = 0;
    int speed = 0, isEnable = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetChar(inPara, "protocol", &protocol));
    GET_OR_FAIL(axrpcGetShort(inPara, "dstPort", &dstPort));
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(l3_local(PKT_CTL_TYPE_L3UC, name, static_cast<uint16_t>(u8(protocol)), 0, 0, u16(dstPort),
                           0, static_cast<uint32_t>(speed), 0, static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlL3McCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    char protocol = 0;
    short dstPort = 0;
    int dstIp = 0, speed = 0, isEnable = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetChar(inPara, "protocol", &protocol));
    GET_OR_FAIL(axrpcGetInt(inPara, "dstIp", &dstIp));
    GET_OR_FAIL(axrpcGetShort(inPara, "dstPort", &dstPort));
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(l3_local(PKT_CTL_TYPE_L3MC, name, static_cast<uint16_t>(u8(protocol)),
                           static_cast<uint32_t>(dstIp), 0, u16(dstPort), 0, static_cast<uint32_t>(speed), 0,
                           static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlCpuMacSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    int vid = 0, isEnable = 0;
    GET_OR_FAIL(axrpcGetInt(inPara, "vid", &vid));
    GET_OR_FAIL(axrpcGetInt(inPara, "isEnable", &isEnable));
    return answer(axPktCtlCpuMacSet(static_cast<uint32_t>(vid), static_cast<uint32_t>(isEnable)));
}

PC_API int axPktCtlCpuPortSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    int speed = 0;
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    return answer(axPktCtlCpuPortSpeedSet(static_cast<uint32_t>(speed)));
}

PC_API int axPktCtlSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    (void)outPara;
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    int speed = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    GET_OR_FAIL(axrpcGetInt(inPara, "speed", &speed));
    return answer(speed_set_local(name, static_cast<uint32_t>(speed)));
}

PC_API int axPktCtlSpeedGet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    char name[kNameBuf];
    uint32_t speed = 0;
    if (get_name(inPara, name) != 0) return answer(-1);
    int rc = speed_get_local(name, &speed);
    if (rc == 0 && outPara != nullptr) rc = axrpcAddInt(outPara, kSpeed, static_cast<int>(speed));
    return answer(rc);
}

}  // extern "C"
