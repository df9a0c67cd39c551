// Parameter sets: initialisation, release, typed adds and gets, copying.
//
// A set owns its value buffer and section array (tag "axRpc"); pointer
// parameters reference blocks owned by whoever added them, released through
// their freeFunc when the set is freed. A failed add leaves the set as it
// was, except for a section array that had already grown.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "platform_core/axrpc.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

using pc::ipc::rpc::kMid;
using pc::ipc::rpc::kTag;

namespace {

constexpr int kFlagLength = 4;

void *zeroed_alloc(size_t bytes) {
    if (bytes > UINT32_MAX) return nullptr;
    void *p = pal_alloc(static_cast<unsigned>(bytes), kTag);
    if (p != nullptr) std::memset(p, 0, bytes);
    return p;
}

// Grows the section array by AXRPC_PARA_SEC_NUM records.
int realloc_para_sec(AXRPC_PARA_T *para) {
    int64_t grown = static_cast<int64_t>(para->paraSectionNum) + AXRPC_PARA_SEC_NUM;
    if (grown > INT32_MAX) return -1;
    auto *sections =
        static_cast<AXRPC_PARA_SEC_T *>(zeroed_alloc(static_cast<size_t>(grown) * sizeof(AXRPC_PARA_SEC_T)));
    if (sections == nullptr) return -1;
    std::memcpy(sections, para->paraSection, static_cast<size_t>(para->paraNum) * sizeof(AXRPC_PARA_SEC_T));
    pal_free(para->paraSection);
    para->paraSection = sections;
    para->paraSectionNum = static_cast<int32_t>(grown);
    return 0;
}

// Makes room for `length` more value bytes.
int realloc_para_buf(AXRPC_PARA_T *para, int32_t length) {
    int64_t grown =
        static_cast<int64_t>(para->paraBufLen) + std::max<int32_t>(length, AXRPC_PARA_BUF_INIT_LEN);
    if (grown > INT32_MAX) {
        PFM_ENSURE_FAILED(kMid, "newlen >= para->paraBufLen");
        return -1;
    }
    auto *buf = static_cast<uint8_t *>(zeroed_alloc(static_cast<size_t>(grown)));
    if (buf == nullptr) {
        PFM_ENSURE_FAILED(kMid, "NULL != newParaBuf");
        return -1;
    }
    std::memcpy(buf, para->paraBuf, static_cast<size_t>(para->paraLen));
    pal_free(para->paraBuf);
    para->paraBuf = buf;
    para->paraBufLen = static_cast<int32_t>(grown);
    return 0;
}

// The checks every add starts with; grows the section array when it is full.
int prepare_section(AXRPC_PARA_T *para) {
    PFM_ENSURE_RET(kMid, NULL != para, -1);
    PFM_ENSURE_RET(kMid, NULL != para->paraSection, -1);
    PFM_ENSURE_RET(kMid, NULL != para->paraBuf, -1);
    PFM_ENSURE_RET(kMid, AXRPC_PARA_SEC_NUM <= para->paraSectionNum, -1);
    if (para->paraNum >= para->paraSectionNum) {
        int rc = realloc_para_sec(para);
        if (rc != 0) {
            PFM_CALL_FAILED(kMid, rc, "axrpcReallocParaSec(para)");
            return rc;
        }
    }
    return 0;
}

void set_name(AXRPC_PARA_SEC_T *sec, const char *name) {
    std::memset(sec->name, 0, sizeof sec->name);
    std::strncpy(sec->name, name, AXRPC_PARA_NAME_MAX);
}

// First section named `name`, or null.
const AXRPC_PARA_SEC_T *find_section(const AXRPC_PARA_T *para, const char *name) {
    if (para->paraSection == nullptr) return nullptr;
    for (int32_t i = 0; i < para->paraNum; ++i) {
        const AXRPC_PARA_SEC_T *sec = &para->paraSection[i];
        if (std::strncmp(sec->name, name, sizeof sec->name) == 0) return sec;
    }
    return nullptr;
}

// First section named `name` of `type`; a match of another type is logged.
const AXRPC_PARA_SEC_T *find_typed(const AXRPC_PARA_T *para, const char *name, int32_t type) {
    if (para == nullptr || name == nullptr) return nullptr;
    const AXRPC_PARA_SEC_T *sec = find_section(para, name);
    if (sec == nullptr) return nullptr;
    if (sec->type != type) {
        PFM_ERR(kMid, "Type error expect: %d actually: %d\n", type, sec->type);
        return nullptr;
    }
    return sec;
}

// Name checks shared by the typed adds and gets.
#define AXRPC_CHECK_NAME(para, paraName)                                   \
    do {                                                                   \
        PFM_ENSURE_RET(kMid, NULL != para, -1);                            \
        PFM_ENSURE_RET(kMid, NULL != paraName, -1);                        \
        PFM_ENSURE_RET(kMid, AXRPC_PARA_NAME_MAX >= strlen(paraName), -1); \
    } while (0)

int add_scalar(AXRPC_PARA_T *para, const char *paraName, const void *value, int length) {
    AXRPC_CHECK_NAME(para, paraName);
    return axrpcAddData(para, paraName, AXRPC_PARA_TYPE_DATA, value, length);
}

template <typename T>
int get_scalar(const AXRPC_PARA_T *para, const char *paraName, T *value) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != value, -1);
    int got = 0;
    return axrpcGetData(para, paraName, static_cast<int>(sizeof(T)), value, &got);
}

}  // namespace

extern "C" {

PC_API int axrpcParaInit(AXRPC_PARA_T *para) {
    PFM_ENSURE_RET(kMid, NULL != para, -1);
    std::memset(para, 0, sizeof *para);
    para->paraBuf = static_cast<uint8_t *>(zeroed_alloc(AXRPC_PARA_BUF_INIT_LEN));
    para->paraSection =
        static_cast<AXRPC_PARA_SEC_T *>(zeroed_alloc(AXRPC_PARA_SEC_NUM * sizeof(AXRPC_PARA_SEC_T)));
    if (para->paraBuf == nullptr || para->paraSection == nullptr) {
        PFM_ERR(kMid, "No memory\n");
        pal_free(para->paraBuf);
        pal_free(para->paraSection);
        std::memset(para, 0, sizeof *para);
        return -1;
    }
    para->paraBufLen = AXRPC_PARA_BUF_INIT_LEN;
    para->paraSectionNum = AXRPC_PARA_SEC_NUM;
    return 0;
}

PC_API int axrpcParaFree(AXRPC_PARA_T *para) {
    PFM_ENSURE_RET(kMid, NULL != para, -1);
    if (para->paraSection != nullptr) {
        for (int32_t i = 0; i < para->paraNum; ++i) {
            const AXRPC_PARA_SEC_T &sec = para->paraSection[i];
            if (sec.type == AXRPC_PARA_TYPE_PTR && sec.freeFunc != nullptr)
                sec.freeFunc(reinterpret_cast<void *>(sec.value));
        }
    }
    pal_free(para->paraSection);
    pal_free(para->paraBuf);
    std::memset(para, 0, sizeof *para);
    return 0;
}

PC_API void axrpcFreeBuf(void *ptr) {
    if (ptr != nullptr) pal_free(ptr);
}

PC_API int axrpcAddData(AXRPC_PARA_T *para, const char *paraName, int type, const void *value, int length) {
    int rc = prepare_section(para);
    if (rc != 0) return rc;
    PFM_ENSURE_RET(kMid, NULL != paraName, -1);
    if (type == AXRPC_PARA_TYPE_FLAG) length = kFlagLength;
    PFM_ENSURE_RET(kMid, 0 <= length, -1);
    PFM_ENSURE_RET(kMid, NULL != value || 0 == length, -1);
    if (para->paraBufLen - para->paraLen < length) {
        rc = realloc_para_buf(para, length);
        if (rc != 0) {
            PFM_CALL_FAILED(kMid, rc, "axrpcReallocParaBuf(para, newParaLen)");
            return -1;
        }
    }
    AXRPC_PARA_SEC_T *sec = &para->paraSection[para->paraNum];
    std::memset(sec, 0, sizeof *sec);
    set_name(sec, paraName);
    sec->type = type;
    sec->length = length;
    if (type == AXRPC_PARA_TYPE_DATA) {
        if (length > 0) std::memcpy(para->paraBuf + para->paraLen, value, static_cast<size_t>(length));
        sec->value = static_cast<uintptr_t>(para->paraLen);
        para->paraLen += length;
    } else if (type == AXRPC_PARA_TYPE_FLAG) {
        uint32_t flag = 0;
        std::memcpy(&flag, value, sizeof flag);
        sec->value = flag;
    }
    para->paraNum += 1;
    return 0;
}

PC_API int axrpcAddPtr(AXRPC_PARA_T *para, const char *paraName, void *ptr, int length,
                       AXRPC_FREE_FUNC freeFunc) {
    int rc = prepare_section(para);
    if (rc != 0) return rc;
    PFM_ENSURE_RET(kMid, NULL != paraName, -1);
    PFM_ENSURE_RET(kMid, 0 <= length, -1);
    PFM_ENSURE_RET(kMid, INT32_MAX - para->extraLen >= length, -1);
    AXRPC_PARA_SEC_T *sec = &para->paraSection[para->paraNum];
    std::memset(sec, 0, sizeof *sec);
    set_name(sec, paraName);
    sec->type = AXRPC_PARA_TYPE_PTR;
    sec->length = length;
    sec->value = reinterpret_cast<uintptr_t>(ptr);
    sec->freeFunc = freeFunc;
    para->paraNum += 1;
    para->extraLen += length;
    return 0;
}

PC_API int axrpcAddChar(AXRPC_PARA_T *para, const char *paraName, char value) {
    return add_scalar(para, paraName, &value, sizeof value);
}
PC_API int axrpcAddShort(AXRPC_PARA_T *para, const char *paraName, short value) {
    return add_scalar(para, paraName, &value, sizeof value);
}
PC_API int axrpcAddInt(AXRPC_PARA_T *para, const char *paraName, int value) {
    return add_scalar(para, paraName, &value, sizeof value);
}
PC_API int axrpcAddInt64(AXRPC_PARA_T *para, const char *paraName, int64_t value) {
    return add_scalar(para, paraName, &value, sizeof value);
}
PC_API int axrpcAddDouble(AXRPC_PARA_T *para, const char *paraName, double value) {
    return add_scalar(para, paraName, &value, sizeof value);
}

PC_API int axrpcAddString(AXRPC_PARA_T *para, const char *paraName, const char *value, int length) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != value, -1);
    return axrpcAddData(para, paraName, AXRPC_PARA_TYPE_DATA, value, length);
}

PC_API int axrpcAddStringPtr(AXRPC_PARA_T *para, const char *paraName, const char *value) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != value, -1);
    size_t len = strlen(value) + 1;
    PFM_ENSURE_RET(kMid, INT32_MAX >= len, -1);
    return axrpcAddData(para, paraName, AXRPC_PARA_TYPE_DATA, value, static_cast<int>(len));
}

PC_API int axrpcAddFlag(AXRPC_PARA_T *para, const char *paraName, uint32_t value) {
    AXRPC_CHECK_NAME(para, paraName);
    return axrpcAddData(para, paraName, AXRPC_PARA_TYPE_FLAG, &value, kFlagLength);
}

PC_API int axrpcAddDataPtr(AXRPC_PARA_T *para, const char *paraName, void *ptr, int length,
                           AXRPC_FREE_FUNC freeFunc) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != ptr, -1);
    return axrpcAddPtr(para, paraName, ptr, length, freeFunc);
}

PC_API int axrpcGetData(const AXRPC_PARA_T *para, const char *paraName, int size, void *out, int *outLen) {
    const AXRPC_PARA_SEC_T *sec = find_typed(para, paraName, AXRPC_PARA_TYPE_DATA);
    if (sec == nullptr || out == nullptr || size < 0) return -1;
    int copied = std::min(sec->length, static_cast<int32_t>(size));
    if (copied > 0) std::memcpy(out, para->paraBuf + sec->value, static_cast<size_t>(copied));
    if (outLen != nullptr) *outLen = copied;
    return 0;
}

PC_API int axrpcGetPtr(const AXRPC_PARA_T *para, const char *paraName, void **outPtr, int *outLen) {
    const AXRPC_PARA_SEC_T *sec = find_typed(para, paraName, AXRPC_PARA_TYPE_PTR);
    if (sec == nullptr || outPtr == nullptr) return -1;
    *outPtr = reinterpret_cast<void *>(sec->value);
    if (outLen != nullptr) *outLen = sec->length;
    return 0;
}

PC_API int axrpcGetFlagData(const AXRPC_PARA_T *para, const char *paraName, uint32_t *outValue) {
    const AXRPC_PARA_SEC_T *sec = find_typed(para, paraName, AXRPC_PARA_TYPE_FLAG);
    if (sec == nullptr || outValue == nullptr) return -1;
    *outValue = static_cast<uint32_t>(sec->value);
    return 0;
}

PC_API int axrpcGetChar(const AXRPC_PARA_T *para, const char *paraName, char *value) {
    return get_scalar(para, paraName, value);
}
PC_API int axrpcGetShort(const AXRPC_PARA_T *para, const char *paraName, short *value) {
    return get_scalar(para, paraName, value);
}
PC_API int axrpcGetInt(const AXRPC_PARA_T *para, const char *paraName, int *value) {
    return get_scalar(para, paraName, value);
}
PC_API int axrpcGetInt64(const AXRPC_PARA_T *para, const char *paraName, int64_t *value) {
    return get_scalar(para, paraName, value);
}
PC_API int axrpcGetDouble(const AXRPC_PARA_T *para, const char *paraName, double *value) {
    return get_scalar(para, paraName, value);
}

PC_API int axrpcGetString(const AXRPC_PARA_T *para, const char *paraName, int size, char *getValue,
                          int *getLen) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != getValue, -1);
    PFM_ENSURE_RET(kMid, NULL != getLen, -1);
    return axrpcGetData(para, paraName, size, getValue, getLen);
}

PC_API int axrpcGetStringPtr(const AXRPC_PARA_T *para, const char *paraName, char **value) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != value, -1);
    const AXRPC_PARA_SEC_T *sec = find_typed(para, paraName, AXRPC_PARA_TYPE_DATA);
    if (sec == nullptr) return -1;
    *value = reinterpret_cast<char *>(para->paraBuf + sec->value);
    return 0;
}

PC_API int axrpcGetFlag(const AXRPC_PARA_T *para, const char *paraName, uint32_t *flag) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != flag, -1);
    return axrpcGetFlagData(para, paraName, flag);
}

PC_API int axrpcGetDataPtr(const AXRPC_PARA_T *para, const char *paraName, void **ptr, int *len) {
    AXRPC_CHECK_NAME(para, paraName);
    PFM_ENSURE_RET(kMid, NULL != ptr, -1);
    return axrpcGetPtr(para, paraName, ptr, len);
}

PC_API int axrpcParaCopy(const AXRPC_PARA_T *src, AXRPC_PARA_T *dst) {
    PFM_ENSURE_RET(kMid, NULL != src, -1);
    PFM_ENSURE_RET(kMid, NULL != dst, -1);
    int rc = 0;
    for (int32_t i = 0; i < src->paraNum && src->paraSection != nullptr; ++i) {
        const AXRPC_PARA_SEC_T &sec = src->paraSection[i];
        switch (sec.type) {
            case AXRPC_PARA_TYPE_DATA:
                rc = axrpcAddData(dst, sec.name, AXRPC_PARA_TYPE_DATA, src->paraBuf + sec.value, sec.length);
                break;
            case AXRPC_PARA_TYPE_FLAG: {
                uint32_t flag = static_cast<uint32_t>(sec.value);
                rc = axrpcAddData(dst, sec.name, AXRPC_PARA_TYPE_FLAG, &flag, kFlagLength);
                break;
            }
            case AXRPC_PARA_TYPE_PTR:
                rc =
                    axrpcAddPtr(dst, sec.name, reinterpret_cast<void *>(sec.value), sec.length, sec.freeFunc);
                break;
            default:
                break;
        }
    }
    return rc;
}

}  // extern "C"
