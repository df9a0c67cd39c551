// The output functions of the configuration walks: one per output kind,
// each writing one line of text.
#include <cstring>

#include "mgmt/axconfig_state.h"
#include "platform_core/aximi.h"

using pc::mgmt::cfg::kMid;

namespace {

uint32_t room(const AXCFG_OUT_ENV_T *outEnv) {
    return outEnv->bufferSeek < outEnv->bufferLen ? outEnv->bufferLen - outEnv->bufferSeek : 0;
}

// Appends (blank,) text, optionally a line feed, and a terminating zero;
// `cut` shortens the text to what fits.
int append(AXCFG_OUT_ENV_T *outEnv, const char *text, bool newLine, bool cut) {
    size_t len = std::strlen(text);
    const size_t extra = (outEnv->indent ? 1u : 0u) + (newLine ? 1u : 0u) + 1u;
    char *at = outEnv->buffer + outEnv->bufferSeek;
    if (cut) {
        if (room(outEnv) < 3) return 0;
        if (len + extra > room(outEnv)) len = room(outEnv) - extra;
    }
    if (outEnv->indent) *at++ = ' ';
    std::memcpy(at, text, len);
    at += len;
    if (newLine) *at++ = '\n';
    *at = '\0';
    outEnv->bufferSeek = static_cast<uint32_t>(at - outEnv->buffer);
    return 0;
}

}  // namespace

extern "C" {

PC_API int axcfgOutputNone(AXCFG_OUT_ENV_T *, const char *) { return 0; }

PC_API int axcfgOutputCli(AXCFG_OUT_ENV_T *outEnv, const char *outputBuf) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outEnv->printEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outputBuf, -1);
    auto *ctx = static_cast<AXIMI_CTX_T *>(outEnv->printEnv);
    outEnv->cliRet =
        outEnv->indent ? axImiPrintf(ctx, " %s\r\n", outputBuf) : axImiPrintf(ctx, "%s\r\n", outputBuf);
    return outEnv->cliRet;
}

PC_API int axcfgOutputFile(AXCFG_OUT_ENV_T *outEnv, const char *) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outEnv->fileName, -1);
    return 0;
}

PC_API int axcfgOutputBuffer(AXCFG_OUT_ENV_T *outEnv, const char *outputBuf) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outEnv->buffer, -1);
    PFM_ENSURE_RET(kMid, NULL != outputBuf, -1);
    if (std::strlen(outputBuf) + 1 > room(outEnv)) {
        PFM_ENSURE_FAILED(kMid, "(strlen(outputBuf) + 1) <= (outEnv->bufferLen - outEnv->bufferSeek)");
        return -1;
    }
    // The blank of an indented line needs its byte too.
    if (outEnv->indent && std::strlen(outputBuf) + 2 > room(outEnv)) {
        PFM_ENSURE_FAILED(kMid, "(strlen(outputBuf) + 2) <= (outEnv->bufferLen - outEnv->bufferSeek)");
        return -1;
    }
    return append(outEnv, outputBuf, false, false);
}

PC_API int axcfgOutputBufferLine(AXCFG_OUT_ENV_T *outEnv, const char *outputBuf) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outEnv->buffer, -1);
    PFM_ENSURE_RET(kMid, NULL != outputBuf, -1);
    if (outputBuf[0] == '\0') return 0;
    if (std::strlen(outputBuf) + 3 > room(outEnv)) {
        PFM_ENSURE_FAILED(kMid, "(strlen(outputBuf) + 3) <= (outEnv->bufferLen - outEnv->bufferSeek)");
        return -1;
    }
    return append(outEnv, outputBuf, true, false);
}

PC_API int axcfgOutputBufferMerge(AXCFG_OUT_ENV_T *outEnv, const char *outputBuf) {
    PFM_ENSURE_RET(kMid, NULL != outEnv, -1);
    PFM_ENSURE_RET(kMid, NULL != outEnv->buffer, -1);
    PFM_ENSURE_RET(kMid, NULL != outputBuf, -1);
    if (outputBuf[0] == '\0') return 0;
    return append(outEnv, outputBuf, true, true);
}

PC_API AXCFG_OUTPUT_FUNC axcfgOutputFor(int output) {
    switch (output) {
        case AXCFG_OUTPUT_CLI:
            return axcfgOutputCli;
        case AXCFG_OUTPUT_BUFFER:
            return axcfgOutputBufferLine;
        case AXCFG_OUTPUT_FILE:
            return axcfgOutputFile;
        default:
            return axcfgOutputNone;
    }
}

}  // extern "C"
