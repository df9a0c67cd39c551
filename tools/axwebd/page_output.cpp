#include "page_output.h"

#include <cstring>
#include <mutex>

#include "platform_core/aximi.h"
#include "platform_core/web_pages.h"

namespace axwebd {

namespace {

struct Output {
    std::mutex lock;
    int reqId = 0;  // 0: no request is being served
    std::string text;
    bool overflow = false;
};

Output &out() {
    static Output o;
    return o;
}

// Output of another request (one the server gave up on) is dropped.
int append(int reqId, const char *text) {
    Output &o = out();
    std::lock_guard<std::mutex> g(o.lock);
    if (reqId == 0 || reqId != o.reqId || text == nullptr) return -1;
    const size_t len = std::strlen(text);
    if (o.text.size() + len > kOutputMax) {
        o.overflow = true;
        return -1;
    }
    o.text.append(text, len);
    return 0;
}

int page_out(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    int reqId = 0;
    char *text = nullptr;
    if (axrpcGetInt(in, AXHTTP_PAGE_REQ_ID, &reqId) != 0 ||
        axrpcGetStringPtr(in, AXHTTP_PAGE_TEXT, &text) != 0)
        return -1;
    return append(reqId, text);
}

// The management interface's printer: the session block is the request id.
// Questions get the answer of a user who says nothing.
int print_hook(int flag, void *session, const char *text, AXRPC_PARA_T *reply) {
    int reqId = 0;
    if (session != nullptr) std::memcpy(&reqId, session, sizeof reqId);
    int rc = append(reqId, text);
    switch (flag) {
        case AXIMI_PRINT_FLAG_CHAR:
            return axImiPutChar(reply, '\n');
        case AXIMI_PRINT_FLAG_YESNO:
            return axImiPutInt(reply, 0);
        case AXIMI_PRINT_FLAG_STRING:
            return axImiPutString(reply, "");
        default:
            return rc;
    }
}

int user_info_hook(int, AXIMI_USER_INFO_T *info) {
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->userName, "web", sizeof info->userName - 1);
    return 0;
}

}  // namespace

void output_begin(int reqId) {
    Output &o = out();
    std::lock_guard<std::mutex> g(o.lock);
    o.reqId = reqId;
    o.text.clear();
    o.overflow = false;
}

std::string output_end(int reqId, bool *overflow) {
    Output &o = out();
    std::lock_guard<std::mutex> g(o.lock);
    std::string text;
    if (o.reqId == reqId) {
        text.swap(o.text);
        if (overflow != nullptr) *overflow = o.overflow;
    }
    o.reqId = 0;
    return text;
}

int output_register() {
    if (axImiInitForUI(print_hook, user_info_hook) != 0) return -1;
    return axrpcRegisterFunc(AXHTTP_PAGE_OUT_FUNC, page_out);
}

}  // namespace axwebd
