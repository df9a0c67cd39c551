// The traffic-control operations that other processes reach through RPC:
// the exported calls (local in the core, an RPC call to the core
// elsewhere) and the core's "_srv" halves. Every parameter of a request
// comes from another process: names must end within 32 bytes, MACs and port
// lists must have their exact size.
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "pktctl/pktctl.h"
#include "pktctl/pktctl_stack.h"
#include "pktctl/pktctl_table.h"
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
// In a refusal's answer: the core's own result, so that the caller in
// another process returns the same value as a caller in the core.
constexpr const char *kRet = "ret";

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

    // Runs `func` in the core; 0, or what the core's operation returned
    // (-1 when the call itself failed or timed out). `out` receives the answer.
    int call(const char *func, AXRPC_PARA_T *out = nullptr) {
        if (!ok) return -1;
        AXRPC_PARA_GROUP_T group[AXRPC_UNIT_NUM];
        for (auto &g : group) axrpcParaGroupInit(&g);
        const uint32_t unit = current_unit();
        AXRPC_PARA_T *answer = unit >= 1 && unit <= AXRPC_UNIT_NUM ? &group[unit - 1].paraSet : nullptr;
        int rc = axrpcCallFunctionSync(1u << unit, PID_CORE, func, &in_, 0, 0, group);
        if (rc == AXRPC_RET_FUNC_ERR) {
            int ret = 0;
            rc = answer != nullptr && axrpcGetInt(answer, kRet, &ret) == 0 && ret != 0 ? ret : -1;
        } else if (rc != AXRPC_RET_OK) {
            rc = -1;
        } else if (out != nullptr) {
            rc = answer != nullptr ? axrpcParaCopy(answer, out) : -1;
        }
        for (auto &g : group) axrpcParaGroupFree(&g);
        return rc;
    }

private:
    AXRPC_PARA_T in_;
};

// The caller learns of a refusal through the call's status, and of the
// operation's own result through "ret" in the answer.
int answer(AXRPC_PARA_T *outPara, int rc) {
    if (rc != 0 && envTls != nullptr) {
        if (auto *env = static_cast<AXRPC_ENV_T *>(pal_tls_key_get(envTls))) env->ret = rc;
    }
    if (rc != 0 && outPara != nullptr) (void)axrpcAddInt(outPara, kRet, rc);
    return rc;
}

// A request's parameters, read in the order they are asked for
// (ParamReader, ipc/rpc/rpc.h): the first missing or malformed one is
// logged and ends the reading.
class Params : public pc::ipc::rpc::ParamReader {
public:
    explicit Params(AXRPC_PARA_T *in) : ParamReader(in, kMid) {}

    // The name, ended within its 32 bytes.
    const char *name() {
        text(kName, name_, kNameBuf, "axrpcGetString(inPara, \"name\", kNameBuf, name, &got)");
        return name_;
    }
    // Exactly six bytes.
    const uint8_t *mac() {
        bytes(kDstMac, mac_, kMacBytes, "axrpcGetString(inPara, \"dstMac\", kMacBytes, mac, &got)",
              "got == kMacBytes");
        return mac_;
    }
    // Exactly one up_list.
    const up_list *ports() {
        bytes(kPortList, &ports_, sizeof ports_,
              "axrpcGetData(inPara, \"portList\", sizeof ports, &ports, &got)",
              "got == static_cast<int>(sizeof ports)");
        return &ports_;
    }

private:
    char name_[kNameBuf] = {};
    uint8_t mac_[kMacBytes] = {};
    up_list ports_{};
};

#define SRV_CHECK_IN(inPara)                   \
    do {                                       \
        if (NULL == (inPara)) {                \
            PFM_ENSURE_FAILED(kMid, "inPara"); \
            return answer(outPara, -1);        \
        }                                      \
    } while (0)

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
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint8_t *mac = p.mac();
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, ieee_local(name, mac, speed, nullptr, isEnable));
}

PC_API int axPktCtlIEEECtlByPort_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint8_t *mac = p.mac();
    const uint32_t speed = p.i32(kSpeed);
    const up_list *ports = p.ports();
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, ieee_local(name, mac, speed, ports, isEnable));
}

PC_API int axPktCtlL2Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint8_t *mac = p.mac();
    const uint32_t etherType = p.i16(kEtherType);
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t action = p.i32(kAction);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, l2_local(name, mac, static_cast<uint16_t>(etherType), speed, action, isEnable));
}

PC_API int axPktCtlL2UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint32_t etherType = p.i16(kEtherType);
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, l2uc_local(name, static_cast<uint16_t>(etherType), speed, isEnable));
}

PC_API int axPktCtlL3Ctl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint32_t protocol = p.i8(kProtocol);
    const uint32_t dstIp = p.i32(kDstIp);
    const uint32_t srcIp = p.i32(kSrcIp);
    const uint32_t dstPort = p.i16(kDstPort);
    const uint32_t srcPort = p.i16(kSrcPort);
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t action = p.i32(kAction);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, l3_local(PKT_CTL_TYPE_L3, name, static_cast<uint16_t>(protocol), dstIp, srcIp,
                                    dstPort, srcPort, speed, action, isEnable));
}

PC_API int axPktCtlL3UcCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint32_t protocol = p.i8(kProtocol);
    const uint32_t dstPort = p.i16(kDstPort);
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, l3_local(PKT_CTL_TYPE_L3UC, name, static_cast<uint16_t>(protocol), 0, 0, dstPort,
                                    0, speed, 0, isEnable));
}

PC_API int axPktCtlL3McCtl_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint32_t protocol = p.i8(kProtocol);
    const uint32_t dstIp = p.i32(kDstIp);
    const uint32_t dstPort = p.i16(kDstPort);
    const uint32_t speed = p.i32(kSpeed);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, l3_local(PKT_CTL_TYPE_L3MC, name, static_cast<uint16_t>(protocol), dstIp, 0,
                                    dstPort, 0, speed, 0, isEnable));
}

PC_API int axPktCtlCpuMacSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const uint32_t vid = p.i32(kVid);
    const uint32_t isEnable = p.i32(kIsEnable);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, axPktCtlCpuMacSet(vid, isEnable));
}

PC_API int axPktCtlCpuPortSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const uint32_t speed = p.i32(kSpeed);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, axPktCtlCpuPortSpeedSet(speed));
}

PC_API int axPktCtlSpeedSet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    const uint32_t speed = p.i32(kSpeed);
    if (p.rc() != 0) return answer(outPara, p.rc());
    return answer(outPara, speed_set_local(name, speed));
}

PC_API int axPktCtlSpeedGet_srv(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    SRV_CHECK_IN(inPara);
    Params p(inPara);
    const char *name = p.name();
    if (p.rc() != 0) return answer(outPara, p.rc());
    uint32_t speed = 0;
    int rc = speed_get_local(name, &speed);
    if (rc == 0 && outPara != nullptr) rc = axrpcAddInt(outPara, kSpeed, static_cast<int>(speed));
    return answer(outPara, rc);
}

}  // extern "C"
