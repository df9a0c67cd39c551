// Fuzzes what the management services read from other processes: the
// per-interface section texts of a remote printer's reply, text parameters
// of a request, and a web request's query string. Nothing may crash or read
// out of bounds; decoded indexes stay below their limit and every stored
// variable can be found again.
//
// Input: byte 0 picks the target, the rest is the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mgmt/axconfig_sections.h"
#include "mgmt/mgmt_para.h"
#include "platform_core/axhttp.h"
#include "platform_core/axrpc.h"

namespace {

alignas(8) unsigned char g_pool_memory[16384];

void fuzz_sections(const uint8_t *data, size_t size) {
    constexpr uint32_t kLimit = 79;
    pc::mgmt::cfg::decode_entries(reinterpret_cast<const char *>(data), size, kLimit,
                                  [](uint32_t index, std::string_view text) {
                                      if (index >= kLimit) std::abort();
                                      volatile size_t n = text.size();
                                      (void)n;
                                  });
}

void fuzz_parameters(const uint8_t *data, size_t size) {
    AXRPC_PARA_T para;
    axrpcParaInit(&para);
    axrpcAddData(&para, "text", AXRPC_PARA_TYPE_DATA, data, static_cast<int>(size));
    axrpcAddPtr(&para, "ptr", const_cast<uint8_t *>(data), static_cast<int>(size), nullptr);
    if (const char *t = pc::mgmt::para_text(&para, "text"); t != nullptr && std::strlen(t) >= size)
        std::abort();
    if (const char *t = pc::mgmt::para_ptr_text(&para, "ptr"); t != nullptr && std::strlen(t) >= size)
        std::abort();
    uint32_t word = 0;
    pc::mgmt::para_exact(&para, "text", &word, sizeof word);
    axrpcParaFree(&para);
}

void fuzz_query(const uint8_t *data, size_t size) {
    AXMEM_POOL_T *pool = axmemPoolNew(g_pool_memory, sizeof g_pool_memory);
    AXHTTP_GEN_LIST_T *list = axhttpGenListCreate(pool, 64);
    if (list == nullptr) std::abort();
    pubMemPool = pool;
    pubGenList = list;
    std::string query(reinterpret_cast<const char *>(data), size);
    query = query.c_str();  // up to the first NUL, as the web server hands it over
    httpParseArgsLib(nullptr, query.c_str());
    for (AXHTTP_GEN_ITEM_T *item = axhttpGenListIterator(list, nullptr); item != nullptr;
         item = axhttpGenListIterator(list, item)) {
        std::string name = axhttpGenListItemName(list, item);
        if (axhttpGenListCaseFind(list, name.c_str()) == nullptr) std::abort();
    }
    if (axmemPoolCheck(pool) != 0) std::abort();
    pubMemPool = nullptr;
    pubGenList = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 3) {
        case 0:
            fuzz_sections(data + 1, size - 1);
            break;
        case 1:
            fuzz_parameters(data + 1, size - 1);
            break;
        default:
            fuzz_query(data + 1, size - 1);
            break;
    }
    return 0;
}
