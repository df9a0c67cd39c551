// Reading the parameters of a request to a served function (ParamReader,
// see rpc.h).
#include "ipc/rpc/rpc.h"

#include <cstdio>
#include <cstring>

#include "platform_core/platform.h"

namespace pc::ipc::rpc {

bool ParamReader::read(const char *call_text, int rc) {
    if (rc_ != 0) return false;
    if (rc == 0) return true;
    PFM_CALL_FAILED(mid_, rc, call_text);
    rc_ = rc;
    return false;
}

bool ParamReader::ensure(bool cond, const char *cond_text) {
    if (rc_ != 0) return false;
    if (cond) return true;
    PFM_ENSURE_FAILED(mid_, cond_text);
    rc_ = -1;
    return false;
}

bool ParamReader::bytes(const char *key, void *out, int size, const char *call_text, const char *size_text) {
    if (rc_ != 0) return false;
    int got = 0;
    return read(call_text, axrpcGetData(in_, key, size, out, &got)) && ensure(got == size, size_text);
}

bool ParamReader::text(const char *key, char *out, int cap, const char *call_text) {
    if (rc_ != 0 || cap <= 0) return false;
    std::memset(out, 0, static_cast<size_t>(cap));
    int got = 0;
    if (!read(call_text, axrpcGetString(in_, key, cap, out, &got))) return false;
    bool terminated = got > 0 && got <= cap && std::memchr(out, '\0', static_cast<size_t>(got)) != nullptr;
    return ensure(terminated, "terminated");
}

void ParamReader::read_key(const char *getter, const char *key, int rc) {
    if (rc == 0) return;
    char call_text[96];
    std::snprintf(call_text, sizeof call_text, "%s(inPara, \"%s\", &%s)", getter, key, key);
    read(call_text, rc);
}

uint32_t ParamReader::i32(const char *key) {
    int v = 0;
    if (rc_ == 0) read_key("axrpcGetInt", key, axrpcGetInt(in_, key, &v));
    return rc_ == 0 ? static_cast<uint32_t>(v) : 0;
}

uint32_t ParamReader::i16(const char *key) {
    short v = 0;
    if (rc_ == 0) read_key("axrpcGetShort", key, axrpcGetShort(in_, key, &v));
    return rc_ == 0 ? static_cast<uint16_t>(v) : 0;
}

uint32_t ParamReader::i8(const char *key) {
    char v = 0;
    if (rc_ == 0) read_key("axrpcGetChar", key, axrpcGetChar(in_, key, &v));
    return rc_ == 0 ? static_cast<uint8_t>(v) : 0;
}

}  // namespace pc::ipc::rpc
