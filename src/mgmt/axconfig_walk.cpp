// The ordinary walk of the running configuration (CLI, file or no output):
// section after section, each printer visited in priority order, the core's
// printers called directly and the others asked over RPC.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>

#include "mgmt/axconfig_sections.h"
#include "mgmt/axconfig_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/aximi.h"

namespace pc::mgmt::cfg {

namespace {

constexpr int kVisitStop = 2;  // a visit that ends the block's list walk

// Parameters and reply of one remote printer call, freed on every path.
struct RemoteCall {
    AXRPC_PARA_T in{};
    AXRPC_PARA_GROUP_T reply{};
    RemoteCall() {
        axrpcParaInit(&in);
        axrpcParaGroupInit(&reply);
    }
    ~RemoteCall() {
        axrpcParaFree(&in);
        axrpcParaGroupFree(&reply);
    }
    RemoteCall(const RemoteCall &) = delete;
    RemoteCall &operator=(const RemoteCall &) = delete;
};

int fill_request(AXRPC_PARA_T *in, const RegNode &node, int type, AXCFG_REG_ARG_T arg,
                 const AXCFG_OUT_ENV_T *env) {
    int rc = axrpcAddStringPtr(in, AXCFG_PARA_REG_NAME, node.regFuncName);
    rc |= axrpcAddInt(in, AXCFG_PARA_TYPE, type);
    rc |= axrpcAddInt(in, AXCFG_PARA_OUTPUT, env->output);
    rc |= axrpcAddInt(in, AXCFG_PARA_OUTPUT_LEN, static_cast<int>(env->bufferLen));
    rc |= axrpcAddFlag(in, AXCFG_PARA_FLAG, 1);
    rc |= axrpcAddData(in, AXCFG_PARA_ARG, AXRPC_PARA_TYPE_DATA, &arg, static_cast<int>(sizeof arg));
    if (const auto *ctx = static_cast<const AXIMI_CTX_T *>(env->printEnv)) {
        if (ctx->privateData != nullptr && ctx->privateLen > 0)
            rc |=
                axrpcAddData(in, AXCFG_PARA_PRIVATE, AXRPC_PARA_TYPE_DATA, ctx->privateData, ctx->privateLen);
        rc |= axrpcAddInt(in, AXCFG_PARA_CLIENT_PID, ctx->clientPid);
    }
    if (env->output == AXCFG_OUTPUT_FILE && env->fileName != nullptr)
        rc |= axrpcAddStringPtr(in, AXCFG_PARA_FILENAME, env->fileName);
    return rc != 0 ? -1 : 0;
}

// False when the printer's process did not answer.
bool visit_remote(const RegNode &node, int type, AXCFG_REG_ARG_T arg, AXCFG_OUT_ENV_T *env,
                  AXCFG_OUTPUT_FUNC out) {
    RemoteCall call;
    if (fill_request(&call.in, node, type, arg, env) != 0 ||
        axrpcCallFunctionSync(current_unit_bits(), node.pid, AXCFG_RPC_GET_CFG, &call.in, kRemoteWaitS, 0,
                              &call.reply) != 0) {
        PFM_ERR(kMid, "rcp call error\n");
        return false;
    }
    if (!call.reply.isUsed) return true;
    const AXRPC_PARA_T *reply = &call.reply.paraSet;
    if (env->output == AXCFG_OUTPUT_BUFFER) {
        if (const char *text = para_text(reply, AXCFG_PARA_OUT_BUFFER)) out(env, text);
    } else if (env->output == AXCFG_OUTPUT_CLI) {
        int cliRet = 0;
        if (axrpcGetInt(reply, AXCFG_PARA_CLI_RET, &cliRet) == 0) env->cliRet = cliRet;
    }
    return true;
}

// Visits one printer. A remote printer that did not answer once is `silent`
// for the rest of the walk: its process is gone or not serving, and asking
// it again for every section would hold the walk for each of them.
int visit(const RegNode &node, int type, AXCFG_REG_ARG_T arg, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out,
          bool &silent) {
    if (node.pid == PID_CORE) {
        if (node.function != nullptr) {
            env->indent = 1;
            reinterpret_cast<AXCFG_GET_CFG_FUNC>(node.function)(type, &arg, env, out);
            env->indent = 0;
        }
    } else if (!silent) {
        silent = !visit_remote(node, type, arg, env, out);
    }
    return env->cliRet == -1 ? kVisitStop : 0;
}

class OrdinaryWalk {
public:
    explicit OrdinaryWalk(AXCFG_OUT_ENV_T *env)
        : env_(env), out_(axcfgOutputFor(env->output)), printers_(registry_snapshot(Registry::GetCfg)) {}

    int run() {
        line("!%s", master_description());
        line("\n");
        for (int type : {AXCFG_TYPE_PRE, AXCFG_TYPE_VLAN, AXCFG_TYPE_GLOBAL}) {
            visit_all(type, 0);
            if (separator()) return 0;
        }
        for (uint32_t index = kPortChannelFirst; index < kPortSlots; ++index) {
            UP up = valid_up_at(index);
            if (up == 0 || !UP_IS_LAG(up)) continue;
            if (block(AXCFG_TYPE_PORT_CHANNEL, UP_LAG_ID(up), "interface port-channel %u", UP_LAG_ID(up)))
                return 0;
        }
        if (APPINTF_GET(APPINTF_SLOT_INTF_EXISTS) != nullptr) {
            for (uint32_t vid = 1; vid <= kVlanMax; ++vid)
                if (interface_present(vid, kIntfKindVlan))
                    if (block(AXCFG_TYPE_INTF_VLAN, vid, "interface vlan %u", vid)) return 0;
            const uint32_t loopbacks = loopback_count();
            for (uint32_t id = 1; id <= loopbacks; ++id)
                if (interface_present(id, kIntfKindLoopback))
                    if (block(AXCFG_TYPE_LOOPBACK, id, "interface loopback %u", id)) return 0;
        }
        for (uint32_t index = 0; index < kEthernetIndexEnd; ++index) {
            UP up = 0;
            char name[UP_STR_LEN] = {};
            if (!named_port_at(index, &up, name)) continue;
            if (block(AXCFG_TYPE_ETHERNET, up, "interface %s", name)) return 0;
        }
        visit_all(AXCFG_TYPE_OTHER, 0);
        separator();
        return 0;
    }

private:
    void line(const char *format, ...) PC_PRINTF(2, 3) {
        char text[128];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        out_(env_, text);
    }
    void visit_all(int type, AXCFG_REG_ARG_T arg) {
        for (size_t i = 0; i < printers_.size(); ++i)
            if (visit(printers_[i], type, arg, env_, out_, silent_[i]) == kVisitStop) break;
    }
    // "#"; true when the user ended the listing.
    bool separator() {
        out_(env_, "#");
        return env_->cliRet != 0;
    }
    template <typename... Args>
    bool block(int type, AXCFG_REG_ARG_T arg, const char *header, Args... args) {
        line(header, args...);
        visit_all(type, arg);
        return separator();
    }

    AXCFG_OUT_ENV_T *env_;
    AXCFG_OUTPUT_FUNC out_;
    std::vector<RegNode> printers_;                                        // copy taken when the walk starts
    std::deque<bool> silent_ = std::deque<bool>(printers_.size(), false);  // per printer: did not answer
};

}  // namespace

int ordinary_walk(AXCFG_OUT_ENV_T *env) { return OrdinaryWalk(env).run(); }

}  // namespace pc::mgmt::cfg

using namespace pc::mgmt::cfg;

extern "C" {

PC_API int imi_cli_axConfigShowRunCfg(AXIMI_CTX_T *printEnv, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    PFM_ENSURE_RET(kMid, NULL != printEnv, -1);
    AXCFG_OUT_ENV_T env{};
    env.output = AXCFG_OUTPUT_CLI;
    env.printEnv = printEnv;
    return ordinary_walk(&env);
}

PC_API int axconfigGetAllConfig(AXCFG_OUT_ENV_T *outEnv) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    if (outEnv->output == AXCFG_OUTPUT_BUFFER) {
        PFM_ENSURE_RET(kMid, NULL != outEnv->buffer, -1);
        return buffer_walk(outEnv);
    }
    if (outEnv->output == AXCFG_OUTPUT_FILE) PFM_ENSURE_RET(kMid, NULL != outEnv->fileName, -1);
    return ordinary_walk(outEnv);
}

}  // extern "C"
