#include "request_pools.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform_core/axhttp.h"
#include "platform_core/types.h"
#include "platform_core/web_pages.h"

namespace axwebd {

namespace {

size_t argument_count(std::string_view text) {
    return text.empty() ? 0 : static_cast<size_t>(std::count(text.begin(), text.end(), '&')) + 1;
}

// Sets one CGI variable; the text is cut at an embedded NUL, as C text is.
bool set_var(const char *name, std::string_view value) {
    std::string text(value.substr(0, value.find('\0')));
    return httpSetEnvLib(nullptr, name, text.c_str()) == 0;
}

bool use_expand_pool(int reqId, std::string_view query, std::string_view form) {
    if (httpParseMalloc(reqId, PID_HTTPD) != 0) return false;
    if (httpParsePoolGenListCreate(reqId) != 0 || httpSysEnvConfig() != 0) {
        httpParsePoolFree(reqId, PID_HTTPD);
        return false;
    }
    // The URL buffer keeps the request's arguments, as the pages may read them whole.
    if (char *url = httpParseUrlBuffer()) {
        std::string text(query);
        if (!form.empty()) text.append(text.empty() ? "" : "&").append(form);
        std::snprintf(url, httpExpandMaxUrlSize, "%s", text.c_str());
    }
    return true;
}

}  // namespace

LoadResult load_request(const RequestVars &v) {
    const size_t text = v.query.size() + v.form.size();
    const size_t args = argument_count(v.query) + argument_count(v.form);
    if (text > kExpandTextMax || args > kExpandArgsMax) return LoadResult::kTooLarge;
    if (httpParsePoolGlobalInit(v.reqId, 0) != 0) return LoadResult::kNoRoom;
    if ((text > kGlobalTextMax || args > kGlobalArgsMax) && !use_expand_pool(v.reqId, v.query, v.form))
        return LoadResult::kBusy;
    char id[16];
    std::snprintf(id, sizeof id, "%d", v.reqId);
    char length[24];
    std::snprintf(length, sizeof length, "%lu", v.contentLength);
    bool ok = set_var(AXHTTP_REQ_ID_VAR, id) && set_var("REQUEST_METHOD", v.method) &&
              set_var("SCRIPT_NAME", v.path) && set_var("QUERY_STRING", v.query) &&
              set_var("REMOTE_ADDR", v.remoteAddr) && set_var("CONTENT_TYPE", v.contentType) &&
              set_var("CONTENT_LENGTH", length);
    // The arguments come after the CGI variables and cannot replace them:
    // a pair named like one is stored, then the variable is set again.
    std::string query(v.query.substr(0, v.query.find('\0')));
    std::string form(v.form.substr(0, v.form.find('\0')));
    ok = ok && httpParseArgsLib(nullptr, query.c_str()) == 0 && httpParseArgsLib(nullptr, form.c_str()) == 0;
    ok = ok && set_var(AXHTTP_REQ_ID_VAR, id) && set_var("REQUEST_METHOD", v.method) &&
         set_var("REMOTE_ADDR", v.remoteAddr) && set_var("QUERY_STRING", v.query);
    return ok ? LoadResult::kOk : LoadResult::kNoRoom;
}

void release_request(int reqId) {
    if (httpParsePoolUsed(reqId, PID_HTTPD) != 0) httpParsePoolFree(reqId, PID_HTTPD);
}

}  // namespace axwebd
