// Fuzzes the web server's path from a request to the shared request pools:
// a query string and a form body as sent, into the global or the expand
// pool with the CGI variables. Nothing may crash or read out of bounds; the
// pools stay sound; the arguments never replace the server's own variables;
// the expand pool is given back.
//
// Input: byte 0 picks the method, then the query, a NUL, the form body.
#include <sched.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform_core/axhttp.h"
#include "platform_core/axshm.h"
#include "platform_core/types.h"
#include "platform_core/web_pages.h"
#include "platform_sim/sim.h"
#include "request_pools.h"

namespace {

constexpr const char *kMethods[] = {"GET", "POST", "HEAD"};

bool same(const char *a, std::string_view b) { return a != nullptr && std::string_view(a) == b; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The request pools are System V shared memory under fixed keys: a
    // private IPC namespace keeps a switch running on this machine out of
    // reach (where that is allowed; else the harness shares the machine's).
    (void)unshare(CLONE_NEWIPC);
    simProcessSetPid(PID_HTTPD);
    if (axshm_init() != 0 || httpSHMInit() != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static int reqId = 0;
    reqId = reqId >= 1000000 ? 1 : reqId + 1;
    const std::string_view method = kMethods[data[0] % 3];
    std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t nul = rest.find('\0');
    axwebd::RequestVars vars;
    vars.reqId = reqId;
    vars.method = method;
    vars.path = "/api/flood";
    vars.query = rest.substr(0, nul);
    vars.form = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
    vars.remoteAddr = "10.77.0.2";
    vars.contentLength = vars.form.size();
    const axwebd::LoadResult rc = axwebd::load_request(vars);
    if (rc == axwebd::LoadResult::kOk) {
        if (axmemPoolCheck(pubMemPool) != 0) std::abort();
        const std::string id = std::to_string(reqId);
        if (!same(axHttpGetEnv(nullptr, AXHTTP_REQ_ID_VAR), id)) std::abort();
        if (!same(axHttpGetEnv(nullptr, "REQUEST_METHOD"), method)) std::abort();
        if (!same(axHttpGetEnv(nullptr, "REMOTE_ADDR"), vars.remoteAddr)) std::abort();
        // Every stored argument can be walked, its texts within the pool.
        AXHTTP_GEN_LIST_T *list = axHttpArgListGet();
        unsigned n = 0;
        for (AXHTTP_GEN_ITEM_T *it = axhttpGenListIterator(list, nullptr); it != nullptr;
             it = axhttpGenListIterator(list, it)) {
            volatile size_t len =
                std::strlen(axhttpGenListItemName(list, it)) + std::strlen(axhttpGenListItemData(list, it));
            (void)len;
            if (++n > axhttpGenListCount(list)) std::abort();
        }
    }
    axwebd::release_request(reqId);
    if (httpParsePoolUsed(reqId, PID_HTTPD) != 0) std::abort();
    return 0;
}
