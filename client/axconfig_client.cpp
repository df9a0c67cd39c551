// The serving side of the configuration registry in a feature process.
#include "axmsg_client/axconfig_client.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "axmsg_client/axmsg_client.h"
#include "mgmt/axconfig_sections.h"
#include "mgmt/mgmt_para.h"
#include "platform_core/aximi.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr unsigned kMid = MID_AXCONFIG;
constexpr const char *kTag = "axConfig";
constexpr uint32_t kCoreUnits = 1u << UNIT_1;
constexpr unsigned short kRegWaitS = 10;
constexpr uint32_t kScratchMin = 4096;  // room for one section when the core gives no size

struct LocalEntry {
    std::string name;
    AXCFG_GET_CFG_FUNC getCfg;
    AXCFG_DEL_PORT_FUNC delPort;
    int priority;
};

std::mutex gLock;                  // guards gEntries
std::vector<LocalEntry> gEntries;  // this process's registrations, oldest first

bool find(const char *name, LocalEntry *out) {
    std::lock_guard<std::mutex> guard(gLock);
    auto it =
        std::find_if(gEntries.begin(), gEntries.end(), [&](const LocalEntry &e) { return e.name == name; });
    if (it == gEntries.end()) return false;
    *out = *it;
    return true;
}

int call_core(const char *func, AXRPC_PARA_T *in) {
    AXRPC_PARA_GROUP_T reply;
    axrpcParaGroupInit(&reply);
    int rc = axrpcCallFunctionSync(kCoreUnits, PID_CORE, func, in, kRegWaitS, 0, &reply);
    int ret = -1;
    if (rc == 0 && reply.isUsed) axrpcGetInt(&reply.paraSet, AXCFG_PARA_RET, &ret);
    axrpcParaGroupFree(&reply);
    return rc == 0 ? ret : -1;
}

// Reports one printer to the core's registry; 0 or the failure.
int report(const LocalEntry &e) {
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    int rc = axrpcAddStringPtr(&in, AXCFG_PARA_REG_NAME, e.name.c_str());
    rc |= axrpcAddInt(&in, AXCFG_PARA_PRIORITY, e.priority);
    rc |= axrpcAddInt(&in, AXCFG_PARA_DST_PID, pidGetCurrent());
    if (e.delPort != nullptr) rc |= axrpcAddFlag(&in, AXCFG_PARA_DELPORT, 1);
    if (rc == 0) rc = call_core(AXCFG_RPC_REG, &in);
    axrpcParaFree(&in);
    return rc;
}

// After a reconnection: every printer of this process again.
int report_all(void *) {
    std::vector<LocalEntry> entries;
    {
        std::lock_guard<std::mutex> guard(gLock);
        entries = gEntries;
    }
    for (const LocalEntry &e : entries)
        if (int rc = report(e); rc != 0) {
            PFM_ERR(kMid, "registering printer %s again failed (%d)", e.name.c_str(), rc);
            return rc;
        }
    return 0;
}

// Every section of one printer, as the core's buffer walk wants them.
struct AllSections {
    std::string plain[4];  // pre, vlan, global, other
    std::string ethernet, intfVlan, loopback;

    static int sink(void *cookie, int type, uint32_t index, const char *text, uint32_t len) {
        auto *all = static_cast<AllSections *>(cookie);
        std::string_view body(text, len);
        if (len == 0) return 0;
        switch (type) {
            case AXCFG_TYPE_PRE:
                all->plain[0].append(body);
                break;
            case AXCFG_TYPE_VLAN:
                all->plain[1].append(body);
                break;
            case AXCFG_TYPE_GLOBAL:
                all->plain[2].append(body);
                break;
            case AXCFG_TYPE_OTHER:
                all->plain[3].append(body);
                break;
            case AXCFG_TYPE_PORT_CHANNEL:
            case AXCFG_TYPE_ETHERNET:
                pc::mgmt::cfg::encode_entry(all->ethernet, index, body);
                break;
            case AXCFG_TYPE_INTF_VLAN:
                pc::mgmt::cfg::encode_entry(all->intfVlan, index, body);
                break;
            case AXCFG_TYPE_LOOPBACK:
                pc::mgmt::cfg::encode_entry(all->loopback, index, body);
                break;
            default:
                break;
        }
        return 0;
    }

    int reply(AXRPC_PARA_T *out) const {
        const char *const kPlain[] = {AXCFG_PARA_BUF_PRE, AXCFG_PARA_BUF_VLAN, AXCFG_PARA_BUF_GLOBAL,
                                      AXCFG_PARA_BUF_OTHER};
        int rc = 0;
        for (int i = 0; i < 4; ++i) rc |= axrpcAddStringPtr(out, kPlain[i], plain[i].c_str());
        rc |= add_entries(out, AXCFG_PARA_BUF_ETHERNET, ethernet);
        rc |= add_entries(out, AXCFG_PARA_BUF_INTF_VLAN, intfVlan);
        rc |= add_entries(out, AXCFG_PARA_BUF_LOOPBACK, loopback);
        return rc;
    }

    static int add_entries(AXRPC_PARA_T *out, const char *name, const std::string &entries) {
        if (entries.empty()) return 0;
        return axrpcAddData(out, name, AXRPC_PARA_TYPE_DATA, entries.data(),
                            static_cast<int>(entries.size()));
    }
};

// A scratch buffer of the core's size, accounted.
struct Scratch {
    char *data = nullptr;
    uint32_t len = 0;
    explicit Scratch(int want) {
        len = std::clamp<uint32_t>(want > 0 ? static_cast<uint32_t>(want) : 0, kScratchMin, AXCONFIG_MAX_LEN);
        data = static_cast<char *>(pal_calloc(1, len, kTag));
    }
    ~Scratch() { pal_free(data); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

}  // namespace

extern "C" {

PC_API int axconfigManageGetCfg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    using pc::mgmt::para_bytes;
    using pc::mgmt::para_text;
    const char *name = para_text(inPara, AXCFG_PARA_REG_NAME);
    int type = -1, output = AXCFG_OUTPUT_NONE, outputLen = 0;
    AXCFG_REG_ARG_T arg = 0;
    LocalEntry entry;
    if (name == nullptr || !find(name, &entry) || axrpcGetInt(inPara, AXCFG_PARA_TYPE, &type) != 0 ||
        axrpcGetInt(inPara, AXCFG_PARA_OUTPUT, &output) != 0 ||
        !pc::mgmt::para_exact(inPara, AXCFG_PARA_ARG, &arg, sizeof arg)) {
        PFM_ERR(kMid, "Bad request for printer %s\n", name != nullptr ? name : "(none)");
        return -1;
    }
    axrpcGetInt(inPara, AXCFG_PARA_OUTPUT_LEN, &outputLen);

    AXCFG_OUT_ENV_T env{};
    env.output = output;
    switch (output) {
        case AXCFG_OUTPUT_BUFFER: {
            Scratch scratch(outputLen);
            if (scratch.data == nullptr) return -1;
            if (type == AXCFG_TYPE_ALL) {
                AllSections all;
                axconfigCollectSections(entry.getCfg, scratch.data, scratch.len, AllSections::sink, &all);
                return all.reply(outPara);
            }
            env.buffer = scratch.data;
            env.bufferLen = scratch.len;
            env.indent = 1;
            entry.getCfg(type, &arg, &env, axcfgOutputBufferLine);
            return axrpcAddStringPtr(outPara, AXCFG_PARA_OUT_BUFFER, scratch.data);
        }
        case AXCFG_OUTPUT_CLI: {
            AXIMI_CTX_T ctx{};
            const char *session = nullptr;
            size_t sessionLen = 0;
            if (para_bytes(inPara, AXCFG_PARA_PRIVATE, &session, &sessionLen)) {
                ctx.privateData = const_cast<char *>(session);
                ctx.privateLen = static_cast<int32_t>(sessionLen);
            }
            if (axrpcGetInt(inPara, AXCFG_PARA_CLIENT_PID, &ctx.clientPid) != 0) return -1;
            env.printEnv = &ctx;
            env.indent = 1;
            entry.getCfg(type, &arg, &env, axcfgOutputCli);
            return axrpcAddInt(outPara, AXCFG_PARA_CLI_RET, env.cliRet);
        }
        case AXCFG_OUTPUT_FILE:
            env.fileName = para_text(inPara, AXCFG_PARA_FILENAME);
            if (env.fileName == nullptr) return -1;
            env.indent = 1;
            return entry.getCfg(type, &arg, &env, axcfgOutputFile);
        default:
            return 0;
    }
}

PC_API int axconfigManageDelPort(AXRPC_PARA_T *inPara, AXRPC_PARA_T *) {
    const char *name = pc::mgmt::para_text(inPara, AXCFG_PARA_REG_NAME);
    up_list ports{};
    unit_list units = 0;
    LocalEntry entry;
    if (name == nullptr || !find(name, &entry) || entry.delPort == nullptr ||
        !pc::mgmt::para_exact(inPara, AXCFG_PARA_DELPORT, &ports, sizeof ports) ||
        !pc::mgmt::para_exact(inPara, AXCFG_PARA_DELUNIT, &units, sizeof units)) {
        PFM_ERR(kMid, "Bad port deletion request for %s\n", name != nullptr ? name : "(none)");
        return -1;
    }
    return entry.delPort(&units, &ports);
}

PC_API int axConfigClientInit(void) {
    PFM_CALL_RET(kMid, axmsg_client_reconnect_cb_add(report_all, nullptr));
    if (axrpcHashGetFunc(AXIMI_SERVER_FUNC) == nullptr) PFM_CALL_RET(kMid, axImiInit());
    if (axrpcHashGetFunc(AXCFG_RPC_GET_CFG) == nullptr)
        PFM_CALL_RET(kMid, axrpcRegisterFunc(AXCFG_RPC_GET_CFG, axconfigManageGetCfg));
    if (axrpcHashGetFunc(AXCFG_RPC_DEL_PORT) == nullptr)
        PFM_CALL_RET(kMid, axrpcRegisterFunc(AXCFG_RPC_DEL_PORT, axconfigManageDelPort));
    return 0;
}

PC_API int axConfigClientRegister(const char *regName, AXCFG_GET_CFG_FUNC getCfgFunc,
                                  AXCFG_DEL_PORT_FUNC delPortFunc, int priority) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, NULL != getCfgFunc, -1);
    PFM_ENSURE_RET(kMid, AXCFG_REG_FUNC_NAME_LEN >= strlen(regName), -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(priority), -1);
    LocalEntry entry{regName, getCfgFunc, delPortFunc, priority};
    int rc = report(entry);
    if (rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axrpcCallFunctionSync(\"axconfigManageGetCfgReg\")");
        return rc;
    }
    // A second registration of the name replaces the first here too.
    std::lock_guard<std::mutex> guard(gLock);
    std::erase_if(gEntries, [&](const LocalEntry &e) { return e.name == entry.name; });
    gEntries.push_back(std::move(entry));
    return 0;
}

PC_API int axConfigClientUnRegister(const char *regName) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, AXCFG_REG_FUNC_NAME_LEN >= strlen(regName), -1);
    AXRPC_PARA_T in;
    axrpcParaInit(&in);
    int rc = axrpcAddStringPtr(&in, AXCFG_PARA_REG_NAME, regName);
    if (rc == 0) rc = call_core(AXCFG_RPC_UNREG, &in);
    axrpcParaFree(&in);
    std::lock_guard<std::mutex> guard(gLock);
    auto it = std::find_if(gEntries.begin(), gEntries.end(),
                           [&](const LocalEntry &e) { return e.name == regName; });
    if (it != gEntries.end()) gEntries.erase(it);
    return rc;
}

}  // extern "C"
