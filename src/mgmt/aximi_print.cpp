// Output from a running management function to its UI: every print is a
// nested RPC call of "aximiClientPrintFunc" in the UI process, which shows
// the text and, for the reading variants, returns the user's answer.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "mgmt/aximi_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"

namespace pc::mgmt::imi {

namespace {

// Formatted text: in a 256-byte buffer, or an exact-size block when longer.
class FormattedText {
public:
    FormattedText(const char *format, va_list args) {
        va_list again;
        va_copy(again, args);
        int n = std::vsnprintf(small_, sizeof small_, format, args);
        if (n < 0) {
            PFM_ERR(kMid, "snprintf error\n");
        } else if (n < kPrintBufLen) {
            text_ = small_;
        } else {
            big_ = static_cast<char *>(pal_alloc(static_cast<unsigned>(n) + 1, kTag));
            if (big_ == nullptr)
                PFM_ERR(kMid, "buf error\n");
            else if (std::vsnprintf(big_, static_cast<size_t>(n) + 1, format, again) != n)
                PFM_ERR(kMid, "snprintf error\n");
            else
                text_ = big_;
        }
        va_end(again);
    }
    ~FormattedText() { pal_free(big_); }
    FormattedText(const FormattedText &) = delete;
    FormattedText &operator=(const FormattedText &) = delete;
    const char *text() const { return text_; }

private:
    char small_[kPrintBufLen];
    char *big_ = nullptr;
    const char *text_ = nullptr;
};

// A print call's parameters and reply, freed on every path.
struct PrintCall {
    AXRPC_PARA_T in{};
    AXRPC_PARA_GROUP_T reply{};
    PrintCall() {
        axrpcParaInit(&in);
        axrpcParaGroupInit(&reply);
    }
    ~PrintCall() {
        axrpcParaFree(&in);
        axrpcParaGroupFree(&reply);
    }
    PrintCall(const PrintCall &) = delete;
    PrintCall &operator=(const PrintCall &) = delete;
    // The UI's reply (this unit's entry; the build has one unit).
    const AXRPC_PARA_T *answer() const { return reply.isUsed ? &reply.paraSet : nullptr; }
};

// Step 2 of every print: a slave without a UI of its own stays silent.
bool output_suppressed() {
    if (current_is_master() || axImiGetPrintDirection() != 0) return false;
    PFM_DBG(kMid, "Not master unit && not print local\n");
    return true;
}

void note_print_flag() {
    if (imiPrintTls != nullptr && pal_tls_key_get(imiPrintTls) == nullptr) PFM_DBG(kMid, "Not out to UI\n");
}

int fill(PrintCall &call, AXIMI_CTX_T *ctx, const char *text, int flag) {
    if (ctx->privateData != nullptr && ctx->privateLen > 0) {
        if (int rc = axrpcAddDataPtr(&call.in, AXIMI_SERVER_ENV, ctx->privateData, ctx->privateLen, nullptr);
            rc != 0)
            return rc;
    }
    if (int rc = axrpcAddPtr(&call.in, AXIMI_SERVER_PRINT_STRING, const_cast<char *>(text),
                             static_cast<int>(std::strlen(text)) + 1, nullptr);
        rc != 0)
        return rc;
    if (flag != AXIMI_PRINT_FLAG_NONE) return axrpcAddFlag(&call.in, AXIMI_SERVER_PRINT_FLAG, flag);
    return 0;
}

// Per worker thread: the UI of the running request did not take a print
// (it timed out, or its process went away).
thread_local bool tUiLost = false;

// Sends `text` to the UI and waits for its answer; -1 when the call failed.
// Once a call failed, the request's later prints fail without being sent.
int print_sync(PrintCall &call, AXIMI_CTX_T *ctx, const char *text, int flag) {
    if (tUiLost) return -1;
    if (fill(call, ctx, text, flag) != 0) return -1;
    const unsigned short wait = flag == AXIMI_PRINT_FLAG_NONE ? kPrintWaitS : kAnswerWaitS;
    int rc = axrpcCallFunctionSync(current_unit_bits(), ctx->clientPid, AXIMI_CLIENT_PRINT_FUNC, &call.in,
                                   wait, 0, &call.reply);
    if (rc != 0) {
        PFM_ERR(kMid, "Print error\n");
        tUiLost = rc != AXRPC_RET_FUNC_ERR;
        return -1;
    }
    return 0;
}

int print_result(const PrintCall &call) {
    int ret = 0;
    if (const AXRPC_PARA_T *answer = call.answer()) axrpcGetInt(answer, AXIMI_CLIENT_RET, &ret);
    if (ret != 0) set_print_flag_off();
    return ret;
}

// Checks shared by every print; false when nothing is to be sent.
bool may_print(AXIMI_CTX_T *ctx, const char *format, int *early) {
    *early = -1;
    if (!(IMI_PROC_SERVER & procType)) {
        PFM_ENSURE_FAILED(kMid, "IMI_PROC_SERVER & procType");
        return false;
    }
    if (format == nullptr) {
        PFM_ENSURE_FAILED(kMid, "NULL != format");
        return false;
    }
    if (ctx == nullptr) {
        PFM_ENSURE_FAILED(kMid, "NULL != ctx");
        return false;
    }
    if (output_suppressed()) {
        *early = 0;
        return false;
    }
    note_print_flag();
    return true;
}

// Reading variants: print with a flag, then take the answer.
const AXRPC_PARA_T *ask(PrintCall &call, AXIMI_CTX_T *ctx, int flag, const char *format, va_list args) {
    FormattedText text(format, args);
    if (text.text() == nullptr) return nullptr;
    PFM_DBG(kMid, "Server: Print and get\n");
    PFM_DBG(kMid, "Print dst unit %x\n dst pid %d", current_unit_bits(), ctx->clientPid);
    if (print_sync(call, ctx, text.text(), flag) != 0) return nullptr;
    return call.answer();
}

}  // namespace

void set_print_flag_off() {
    if (imiPrintTls != nullptr) pal_tls_key_set(imiPrintTls, nullptr);
}

void ui_reachable_again() { tUiLost = false; }

}  // namespace pc::mgmt::imi

using namespace pc::mgmt::imi;

extern "C" {

PC_API int axImiPrintf(AXIMI_CTX_T *ctx, const char *format, ...) {
    int early = 0;
    if (!may_print(ctx, format, &early)) return early;
    va_list args;
    va_start(args, format);
    FormattedText text(format, args);
    va_end(args);
    if (text.text() == nullptr) return -1;
    PrintCall call;
    if (print_sync(call, ctx, text.text(), AXIMI_PRINT_FLAG_NONE) != 0) {
        set_print_flag_off();
        return -1;
    }
    return print_result(call);
}

PC_API int axImiPrintfAsync(AXIMI_CTX_T *ctx, const char *format, ...) {
    int early = 0;
    if (!may_print(ctx, format, &early)) return early;
    va_list args;
    va_start(args, format);
    FormattedText text(format, args);
    va_end(args);
    if (text.text() == nullptr) return -1;
    PFM_DBG(kMid, "Server: Async print\n");
    PrintCall call;
    if (fill(call, ctx, text.text(), AXIMI_PRINT_FLAG_NONE) != 0) return -1;
    return axrpcCallFunctionAsync(pc::mgmt::current_unit_bits(), ctx->clientPid, AXIMI_CLIENT_PRINT_FUNC,
                                  &call.in, 0);
}

PC_API char axImiPrintfGetChar(AXIMI_CTX_T *ctx, const char *format, ...) {
    int early = 0;
    if (!may_print(ctx, format, &early)) return 0;
    PrintCall call;
    va_list args;
    va_start(args, format);
    const AXRPC_PARA_T *answer = ask(call, ctx, AXIMI_PRINT_FLAG_CHAR, format, args);
    va_end(args);
    char c = 0;
    if (answer == nullptr) {
        PFM_ERR(kMid, "Printf return error\n");
        return 0;
    }
    axrpcGetChar(answer, AXIMI_PRINT_CHAR, &c);
    return c;
}

PC_API int axImiPrintfGetYesNo(AXIMI_CTX_T *ctx, const char *format, ...) {
    int early = 0;
    if (!may_print(ctx, format, &early)) return -1;
    PrintCall call;
    va_list args;
    va_start(args, format);
    const AXRPC_PARA_T *answer = ask(call, ctx, AXIMI_PRINT_FLAG_YESNO, format, args);
    va_end(args);
    uint32_t yes = 0;
    if (answer == nullptr || axrpcGetFlagData(answer, AXIMI_PRINT_YESNO, &yes) != 0) return -1;
    return static_cast<int>(yes);
}

PC_API int axImiPrintfGetString(AXIMI_CTX_T *ctx, char *buf, int bufLen, const char *format, ...) {
    int early = 0;
    if (buf == nullptr || bufLen <= 0) {
        PFM_ENSURE_FAILED(kMid, "(NULL != buf) && (0 < bufLen)");
        return -1;
    }
    buf[0] = '\0';
    if (!may_print(ctx, format, &early)) return -1;
    PrintCall call;
    va_list args;
    va_start(args, format);
    const AXRPC_PARA_T *answer = ask(call, ctx, AXIMI_PRINT_FLAG_STRING, format, args);
    va_end(args);
    int got = 0;
    if (answer == nullptr || axrpcGetData(answer, AXIMI_PRINT_STRING, bufLen, buf, &got) != 0) return -1;
    if (got >= bufLen)
        buf[bufLen - 1] = '\0';
    else
        buf[got] = '\0';
    return 0;
}

}  // extern "C"
