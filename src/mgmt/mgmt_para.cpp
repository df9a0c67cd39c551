#include "mgmt/mgmt_para.h"

#include <cstring>

namespace pc::mgmt {

namespace {

const AXRPC_PARA_SEC_T *find_section(const AXRPC_PARA_T *para, const char *name, int type) {
    if (para == nullptr || para->paraSection == nullptr || name == nullptr) return nullptr;
    for (int32_t i = 0; i < para->paraNum; ++i) {
        const AXRPC_PARA_SEC_T &sec = para->paraSection[i];
        if (sec.type == type && std::strncmp(sec.name, name, AXRPC_PARA_NAME_MAX) == 0) return &sec;
    }
    return nullptr;
}

const char *terminated(const char *text, int32_t length) {
    if (text == nullptr || length <= 0) return nullptr;
    return std::memchr(text, '\0', static_cast<size_t>(length)) != nullptr ? text : nullptr;
}

}  // namespace

bool para_bytes(const AXRPC_PARA_T *para, const char *name, const char **data, size_t *len) {
    const AXRPC_PARA_SEC_T *sec = find_section(para, name, AXRPC_PARA_TYPE_DATA);
    if (sec == nullptr || para->paraBuf == nullptr || sec->length < 0 ||
        sec->value > static_cast<uintptr_t>(para->paraLen) ||
        sec->length > para->paraLen - static_cast<int32_t>(sec->value))
        return false;
    *data = reinterpret_cast<const char *>(para->paraBuf + sec->value);
    *len = static_cast<size_t>(sec->length);
    return true;
}

const char *para_text(const AXRPC_PARA_T *para, const char *name) {
    const char *data = nullptr;
    size_t len = 0;
    if (!para_bytes(para, name, &data, &len)) return nullptr;
    return terminated(data, static_cast<int32_t>(len));
}

const char *para_ptr_text(const AXRPC_PARA_T *para, const char *name) {
    const AXRPC_PARA_SEC_T *sec = find_section(para, name, AXRPC_PARA_TYPE_PTR);
    if (sec == nullptr) return nullptr;
    return terminated(reinterpret_cast<const char *>(sec->value), sec->length);
}

bool para_exact(const AXRPC_PARA_T *para, const char *name, void *out, int size) {
    int got = 0;
    const AXRPC_PARA_SEC_T *sec = find_section(para, name, AXRPC_PARA_TYPE_DATA);
    if (sec == nullptr || sec->length != size) return false;
    return axrpcGetData(para, name, size, out, &got) == 0 && got == size;
}

}  // namespace pc::mgmt
