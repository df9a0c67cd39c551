// The packet service's management commands: the registry and statistics
// listings, the receive-reason print switch, the flood defence's listing
// and range command, and its section of the running configuration.
//
// The listings are produced under the rule tables' and the flood defence's
// locks, which the receive path takes for every frame. Printing to a UI is
// a remote call that waits for the user (a paged listing may wait for a
// key), so the text is collected under the locks and printed after they
// are released: a slow or stalled UI never holds up the receive path.
#include <cstdarg>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "packet/packet_registry.h"
#include "packet/text_pieces.h"
#include "platform_core/axconfig.h"
#include "platform_core/aximi.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

using pc::packet::kMid;

constexpr const char *kFloodSection = "Flood CPU-Defend";
constexpr int kFloodSectionPriority = 125;
constexpr int kGlobalSection = 1;  // request type of the global section

using pc::packet::format_text;
constexpr auto collect = pc::packet::collect_piece;

// Prints the pieces to the session; stops when the user ends the listing.
void print_pieces(AXIMI_CTX_T *ctx, const std::vector<std::string> &pieces) {
    for (const std::string &p : pieces)
        if (axImiPrintf(ctx, "%s", p.c_str()) != 0) return;
}

// One management function to register, with the call text its failure logs.
struct CliFunc {
    const char *name;
    AXIMI_FUNC hook;
    int execFlag;
    const char *call_text;
};

// Registers each function in turn; -1 at the first failure.
int register_funcs(std::span<const CliFunc> funcs) {
    for (const CliFunc &f : funcs) {
        if (int rc = axImiRegisterFunc(f.name, f.hook, f.execFlag); rc != 0) {
            PFM_CALL_FAILED(kMid, rc, f.call_text);
            return -1;
        }
    }
    return 0;
}

// Refusals of the range command go straight to the session (no lock held).
int print_to_session(void *ctx, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = format_text(fmt, ap);
    va_end(ap);
    return axImiPrintf(static_cast<AXIMI_CTX_T *>(ctx), "%s", text.c_str());
}

}  // namespace

extern "C" {

PC_API int cliAxpacketShowRegister(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    std::vector<std::string> pieces;
    axpacketShowRegisterTo(collect, &pieces);
    print_pieces(ctx, pieces);
    return 0;
}

PC_API int cliAxpacketShowStat(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    std::vector<std::string> pieces;
    cli_axpacketInfoShow(collect, &pieces);
    print_pieces(ctx, pieces);
    return 0;
}

PC_API int cliAxpacketReasonEnable(AXIMI_CTX_T *, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *) {
    int enable = 0;
    if (int rc = axImiArgGetInt(inArgs, "enable", &enable); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axImiArgGetInt(inArgs, \"enable\", &enable)");
        return rc;
    }
    axpkt_reason_enable = static_cast<uint32_t>(enable);
    return 0;
}

PC_API int cliTcpUdpFloodDefendShow(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    std::vector<std::string> pieces;
    tcpUdpFloodDefendShowTo(collect, &pieces);
    print_pieces(ctx, pieces);
    return 0;
}

PC_API int cliTcpUdpFloodDefendDport(AXIMI_CTX_T *ctx, AXRPC_PARA_T *inArgs, AXRPC_PARA_T *) {
    int op = 0;
    char *dport = nullptr;
    if (int rc = axImiArgGetInt(inArgs, "op", &op); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axImiArgGetInt(inArgs, \"op\", &op)");
        return rc;
    }
    if (int rc = axImiArgGetString(inArgs, "dport", &dport); rc != 0) {
        PFM_CALL_FAILED(kMid, rc, "axImiArgGetString(inArgs, \"dport\", &dport)");
        return rc;
    }
    int rc = tcpUdpFloodDefendDportCommand(op, dport, print_to_session, ctx);
    if (rc == 0) return 0;
    if (rc > 0) axImiPrintf(ctx, "%s\r\n", cliUso_error(rc));
    return -1;
}

PC_API int ucFloodDefend_config_get(int type, uint32_t *, AXCFG_OUT_ENV_T *outEnv, AXCFG_OUTPUT_FUNC output) {
    if (type != kGlobalSection || output == nullptr) return 0;
    std::vector<std::string> lines;
    tcpUdpFloodDefendConfigLines(collect, &lines);
    for (const std::string &line : lines)
        if (output(outEnv, line.c_str()) != 0) break;
    return 0;
}

PC_API int tcpUdpFloodDefendRegisterCli(void) {
    const CliFunc kFuncs[] = {
        {"cliTcpUdpFloodDefendShow", cliTcpUdpFloodDefendShow, IMI_EXEC_MASTER_ONLY,
         "axImiRegisterFunc(\"cliTcpUdpFloodDefendShow\", cliTcpUdpFloodDefendShow, 2)"},
        {"cliTcpUdpFloodDefendDport", cliTcpUdpFloodDefendDport, IMI_EXEC_ALL_UNITS,
         "axImiRegisterFunc(\"cliTcpUdpFloodDefendDport\", cliTcpUdpFloodDefendDport, 0)"},
    };
    if (register_funcs(kFuncs) != 0) return -1;
    if (int rc = axConfigRegister(kFloodSection, ucFloodDefend_config_get, nullptr, kFloodSectionPriority);
        rc != 0) {
        PFM_CALL_FAILED(kMid, rc,
                        "axConfigRegister(\"Flood CPU-Defend\", ucFloodDefend_config_get, NULL, 125)");
        return -1;
    }
    return 0;
}

PC_API int axpacketRegisterCli(void) {
    const CliFunc kFuncs[] = {
        {"cliAxpacketShowRegister", cliAxpacketShowRegister, IMI_EXEC_MASTER_ONLY,
         "axImiRegisterFunc(\"cliAxpacketShowRegister\", cliAxpacketShowRegister, 2)"},
        {"cliAxpacketShowStat", cliAxpacketShowStat, IMI_EXEC_MASTER_ONLY,
         "axImiRegisterFunc(\"cliAxpacketShowStat\", cliAxpacketShowStat, 2)"},
        {"cliAxpacketReasonEnable", cliAxpacketReasonEnable, IMI_EXEC_ALL_UNITS,
         "axImiRegisterFunc(\"cliAxpacketReasonEnable\", cliAxpacketReasonEnable, 0)"},
    };
    if (register_funcs(kFuncs) != 0) return -1;
    return tcpUdpFloodDefendRegisterCli();
}

}  // extern "C"
