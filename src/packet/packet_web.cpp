// The flood defence's web page "imi_http_FloodEntryPage": the web server
// runs it through the management interface with the request's variables in
// the shared request pools. It adds a range, deletes ranges by position or
// all of them, and answers the page with the ranges as a script array.
//
// The answer is collected first and sent to the web server afterwards, so
// that no lock of the receive path is held while the web server reads.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "packet/packet_registry.h"
#include "packet/text_pieces.h"
#include "platform_core/axhttp.h"
#include "platform_core/aximi.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr const char *kPageFunc = "imi_http_FloodEntryPage";
constexpr const char *kPage = "/userPage/floodDefend.htm";
constexpr int kPortMax = 65535;
constexpr int kNoRequest = -1;

constexpr auto collect = pc::packet::collect_piece;

int add_range() {
    int start = getEnvToInt(nullptr, "startDport", 0, kPortMax);
    int end = getEnvToInt(nullptr, "endDport", 0, kPortMax);
    // A range whose end lies before its start would never match.
    if (start == HTTP_ENV_INT_ERR || end == HTTP_ENV_INT_ERR || end < start) return -1;
    return tcpUdpFloodDefendDportAdd(static_cast<uint16_t>(start), static_cast<uint16_t>(end));
}

// Positions "n1".."n<delNum>"; nothing is deleted unless all are valid.
int delete_ranges() {
    int count = getEnvToInt(nullptr, "delNum", 0, FLOOD_DEFEND_RANGE_MAX);
    if (count == HTTP_ENV_INT_ERR) return -1;
    std::vector<uint32_t> positions;
    for (int i = 1; i <= count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%d", i);
        int pos = getEnvToInt(nullptr, name, 1, FLOOD_DEFEND_RANGE_MAX);
        if (pos == HTTP_ENV_INT_ERR) return -1;
        positions.push_back(static_cast<uint32_t>(pos));
    }
    return tcpUdpFloodDefendDportDelByIndex(static_cast<uint32_t>(positions.size()), positions.data());
}

int run_request() {
    const char *submit = axHttpGetEnv(nullptr, "submit");
    if (submit == nullptr) return kNoRequest;
    if (std::strcmp(submit, "AddNew") == 0) return add_range();
    if (std::strcmp(submit, "Delete") == 0) return delete_ranges();
    if (std::strcmp(submit, "DeleteAll") == 0) return tcpUdpFloodDefendDportDelAll();
    return kNoRequest;
}

}  // namespace

extern "C" {

PC_API int imi_http_FloodEntryPage(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    int result = run_request();
    uint16_t starts[FLOOD_DEFEND_RANGE_MAX], ends[FLOOD_DEFEND_RANGE_MAX];
    int count = tcpUdpFloodDefendDportList(starts, ends, FLOOD_DEFEND_RANGE_MAX);
    if (count > FLOOD_DEFEND_RANGE_MAX) count = FLOOD_DEFEND_RANGE_MAX;

    std::vector<std::string> page;
    httpUso_StatusSet(collect, &page, 0);
    httpUso_HeaderGenerate(collect, &page);
    collect(&page, "<script language=JavaScript><!--\n");
    collect(&page, "var dportRange = [\n");
    for (int i = 0; i < count; ++i)
        collect(&page, i == 0 ? "[%d,%d,%d]" : ",[%d,%d,%d]", i + 1, starts[i], ends[i]);
    collect(&page, "];\n");
    httpUso_error(collect, &page, result);
    collect(&page, "--></script>\n");
    httpUso_WebV4Head(collect, &page, 0, 1);
    httpUso_PageFsA(collect, &page, kPage);
    for (const std::string &piece : page)
        if (axImiPrintf(ctx, "%s", piece.c_str()) != 0) break;
    return 0;
}

PC_API int httpAxpacketRegister(void) {
    if (int rc = axImiRegisterFunc(kPageFunc, imi_http_FloodEntryPage, IMI_EXEC_ALL_UNITS); rc != 0) {
        PFM_CALL_FAILED(pc::packet::kMid, rc,
                        "axImiRegisterFunc(\"imi_http_FloodEntryPage\", imi_http_FloodEntryPage, 0)");
        return -1;
    }
    return pc::packet::register_json_pages();
}

}  // extern "C"
