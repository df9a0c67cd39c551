// A page's output to the web server process: pieces of text through the web
// relay, each naming the request it belongs to.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mgmt/http_state.h"
#include "mgmt/web/web_json.h"
#include "platform_core/web_pages.h"

namespace {

constexpr size_t kPieceMax = 16 * 1024;  // text of one relay call

}  // namespace

extern "C" {

PC_API int httpPageWrite(const char *text) {
    using pc::mgmt::http::kMid;
    PFM_ENSURE_RET(kMid, NULL != text, -1);
    const int reqId = getEnvToInt(nullptr, AXHTTP_REQ_ID_VAR, 0, 0x7FFFFFFF);
    if (reqId == HTTP_ENV_INT_ERR) return -1;  // not inside a web request
    const size_t len = std::strlen(text);
    for (size_t at = 0; at < len || (len == 0 && at == 0); at += kPieceMax) {
        std::string piece(text + at, std::min(kPieceMax, len - at));
        AXRPC_PARA_T args;
        axrpcParaInit(&args);
        int rc = axrpcAddStringPtr(&args, AXHTTP_CLIENT_PROC_NAME, AXHTTP_PAGE_OUT_FUNC);
        if (rc == 0) rc = axrpcAddStringPtr(&args, AXHTTP_PAGE_TEXT, piece.c_str());
        if (rc == 0) rc = axrpcAddInt(&args, AXHTTP_PAGE_REQ_ID, reqId);
        if (rc == 0) rc = axHttpPrintf(0, &args);
        axrpcParaFree(&args);
        if (rc != 0) return -1;
        if (len == 0) break;
    }
    return 0;
}

}  // extern "C"

#ifdef PC_HAVE_JSONC
namespace pc::mgmt::web {

int send_json(json_object *value) {
    char *text = nullptr;
    if (jsonObjectToMallocString(value, &text) < 0) return -1;
    int rc = httpPageWrite(text);
    std::free(text);
    return rc;
}

}  // namespace pc::mgmt::web
#endif
