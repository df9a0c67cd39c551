// A request's variables: name=value items of the current list, texts in the
// current pool; the query string parser.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mgmt/http_state.h"

using pc::mgmt::http::kMid;

namespace {

char *pool_copy(AXMEM_POOL_T *pool, const char *text) {
    size_t len = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(axmemPoolAlloc(pool, static_cast<unsigned>(len)));
    if (copy != nullptr) std::memcpy(copy, text, len);
    return copy;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" {

PC_API void axhttpLineUnescape(char *line) {
    if (line == nullptr) return;
    char *out = line;
    for (const char *in = line; *in != '\0'; ++in) {
        if (*in == '+') {
            *out++ = ' ';
            continue;
        }
        if (*in == '%') {
            int hi = hex_value(in[1]);
            int lo = hi >= 0 ? hex_value(in[2]) : -1;
            if (lo >= 0 && (hi | lo) != 0) {  // "%00" stays as written
                *out++ = static_cast<char>(hi * 16 + lo);
                in += 2;
                continue;
            }
        }
        *out++ = *in;
    }
    *out = '\0';
}

PC_API int httpSetEnvLib(void *, const char *name, const char *value) {
    PFM_ENSURE_RET(kMid, (NULL != name) && (NULL != value), -1);
    PFM_ENSURE_RET(kMid, (NULL != pubGenList) && (NULL != pubMemPool), -1);
    char *nameCopy = pool_copy(pubMemPool, name);
    char *valueCopy = nameCopy != nullptr ? pool_copy(pubMemPool, value) : nullptr;
    if (valueCopy == nullptr) {
        if (nameCopy != nullptr) axmemPoolFree(pubMemPool, nameCopy);
        return -1;  // no room: the caller learns it
    }
    // Readers look names up without regard to case, so every item of this
    // name in any case goes: otherwise a request argument "remote_addr"
    // stored earlier would shadow the server's own REMOTE_ADDR set after it.
    // The pool is given its texts back once the list is unlocked.
    std::vector<char *> oldTexts;
    axhttpGenListLock(pubGenList);
    while (AXHTTP_GEN_ITEM_T *old = axhttpGenListCaseFind(pubGenList, name)) {
        char *oldName = const_cast<char *>(axhttpGenListItemName(pubGenList, old));
        char *oldValue = const_cast<char *>(axhttpGenListItemData(pubGenList, old));
        if (axhttpGenListRemove(pubGenList, old) != 0) break;
        oldTexts.push_back(oldName);
        oldTexts.push_back(oldValue);
    }
    int rc = axhttpGenListDataAppend(pubGenList, nameCopy, valueCopy);
    axhttpGenListUnlock(pubGenList);
    for (char *text : oldTexts) axmemPoolFree(pubMemPool, text);
    if (rc != 0) {
        axmemPoolFree(pubMemPool, nameCopy);
        axmemPoolFree(pubMemPool, valueCopy);
    }
    return rc;
}

PC_API const char *httpGetEnvLib(AXHTTP_GEN_LIST_T *list, const char *name) {
    if (list == nullptr || name == nullptr) return nullptr;
    AXHTTP_GEN_ITEM_T *item = axhttpGenListCaseFind(list, name);
    return item != nullptr ? axhttpGenListItemData(list, item) : nullptr;
}

PC_API int httpParseArgsLib(void *ctx, const char *query) {
    PFM_ENSURE_RET(kMid, NULL != query, -1);
    std::string_view rest(query);
    int rc = 0;
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
        size_t eq = piece.find('=');
        std::string name(piece.substr(0, eq));
        std::string value(eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1));
        if (name.empty()) continue;
        axhttpLineUnescape(value.data());
        value.resize(std::strlen(value.c_str()));
        if (httpSetEnvLib(ctx, name.c_str(), value.c_str()) != 0) rc = -1;
    }
    return rc;
}

PC_API const char *axHttpGetEnv(void *, const char *name) { return httpGetEnvLib(axHttpArgListGet(), name); }

PC_API int getEnvToInt(void *ctx, const char *name, int min, int max) {
    const char *text = axHttpGetEnv(ctx, name);
    if (text == nullptr) return HTTP_ENV_INT_ERR;
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == '\0') return HTTP_ENV_INT_ERR;
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text) return HTTP_ENV_INT_ERR;
    if (min < max && (value < min || value > max)) return HTTP_ENV_INT_ERR;
    if (min == max && value != min) return HTTP_ENV_INT_ERR;
    if (min > max) return HTTP_ENV_INT_ERR;
    return static_cast<int>(value);
}

}  // extern "C"
