#include "http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "page_output.h"
#include "platform_core/axhttp.h"
#include "platform_core/aximi.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"
#include "request_pools.h"
#include "routes.h"

namespace axwebd {

namespace {

MHD_Daemon *g_daemon = nullptr;
std::mutex g_serve;  // one request at a time owns the shared request pools
int g_next_req_id = 0;

constexpr const char *kFormType = "application/x-www-form-urlencoded";
constexpr const char *kJsonType = "application/json";
constexpr const char *kTextType = "text/plain; charset=utf-8";
constexpr const char *kHtmlType = "text/html; charset=utf-8";

// What a connection's current request collected: its raw URI (the query is
// taken from it as sent) and its body.
struct Request {
    std::string uri;
    std::string body;
    bool started = false;
    bool tooLarge = false;
};

struct Answer {
    unsigned status = MHD_HTTP_OK;
    std::string type = kHtmlType;
    std::string body;
};

Answer error_answer(unsigned status, const char *text) {
    return {status, kTextType, std::string(text) + "\n"};
}

MHD_Result send(MHD_Connection *c, const Answer &a) {
    MHD_Response *r = MHD_create_response_from_buffer(a.body.size(), const_cast<char *>(a.body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) return MHD_NO;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.type.c_str());
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'self'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                            "connect-src 'self'");
    MHD_Result rc = MHD_queue_response(c, a.status, r);
    MHD_destroy_response(r);
    return rc;
}

std::string remote_address(MHD_Connection *c) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "";
    if (info != nullptr && info->client_addr != nullptr) {
        const sockaddr *sa = info->client_addr;
        if (sa->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, text, sizeof text);
        else if (sa->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, text, sizeof text);
    }
    return text;
}

// A CGI page's own header lines ("Status: 200 OK", "Content-Type: ...")
// become the answer's status and type; the rest is its body.
void take_cgi_headers(Answer &a) {
    const size_t end = a.body.find("\r\n\r\n");
    if (end == std::string::npos) return;
    std::string_view head(a.body.data(), end);
    while (!head.empty()) {
        size_t eol = head.find("\r\n");
        std::string_view line = head.substr(0, eol);
        head = eol == std::string_view::npos ? std::string_view{} : head.substr(eol + 2);
        if (line.starts_with("Status: ")) {
            unsigned status = static_cast<unsigned>(std::atoi(std::string(line.substr(8)).c_str()));
            if (status >= 100 && status <= 599) a.status = status;
        } else if (line.starts_with("Content-Type: ")) {
            a.type = std::string(line.substr(14));
        }
    }
    a.body.erase(0, end + 4);
}

// Runs the route's page in the core with the request's variables in the
// shared pools.
Answer run_page(const Route &route, RequestVars vars) {
    std::lock_guard<std::mutex> serving(g_serve);
    g_next_req_id = g_next_req_id >= 0x7FFFFFF0 ? 1 : g_next_req_id + 1;
    vars.reqId = g_next_req_id;
    switch (load_request(vars)) {
        case LoadResult::kOk:
            break;
        case LoadResult::kTooLarge:
            release_request(vars.reqId);
            return error_answer(MHD_HTTP_CONTENT_TOO_LARGE, "request too large");
        case LoadResult::kBusy:
            release_request(vars.reqId);
            return error_answer(MHD_HTTP_SERVICE_UNAVAILABLE, "busy");
        case LoadResult::kNoRoom:
            release_request(vars.reqId);
            return error_answer(MHD_HTTP_CONTENT_TOO_LARGE, "request arguments too large");
    }
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    output_begin(vars.reqId);
    int rc = axHttpExecute(PID_CORE, 0, vars.reqId, &args);
    int32_t session = vars.reqId;
    if (rc == 0) rc = axImiExecute(PID_CORE, route.function, &session, sizeof session, &args);
    bool overflow = false;
    Answer a;
    a.body = output_end(vars.reqId, &overflow);
    axrpcParaFree(&args);
    release_request(vars.reqId);
    if (overflow) return error_answer(MHD_HTTP_INTERNAL_SERVER_ERROR, "page output too large");
    if (rc != 0 && a.body.empty()) return error_answer(MHD_HTTP_BAD_GATEWAY, "the page did not answer");
    switch (route.kind) {
        case PageKind::kJson:
            a.type = kJsonType;
            if (rc != 0) a.status = MHD_HTTP_INTERNAL_SERVER_ERROR;
            break;
        case PageKind::kText:
            a.type = kTextType;
            break;
        case PageKind::kCgi:
            take_cgi_headers(a);
            break;
        case PageKind::kUi:
            break;
    }
    return a;
}

Answer answer(MHD_Connection *c, const char *url, const char *method, const Request &req) {
    const Route *route = find_route(url);
    if (route == nullptr) return error_answer(MHD_HTTP_NOT_FOUND, "no such page");
    if (route->kind == PageKind::kUi) return {MHD_HTTP_OK, kHtmlType, std::string(ui_page())};
    const std::string_view uri(req.uri);
    const size_t q = uri.find('?');
    const char *type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    const bool form = type != nullptr && std::strncmp(type, kFormType, std::strlen(kFormType)) == 0;
    const std::string remote = remote_address(c);
    RequestVars vars;
    vars.method = method;
    vars.path = url;
    vars.query = q == std::string_view::npos ? std::string_view{} : uri.substr(q + 1);
    vars.form = form ? std::string_view(req.body) : std::string_view{};
    vars.contentType = type != nullptr ? type : "";
    vars.contentLength = req.body.size();
    vars.remoteAddr = remote;
    return run_page(*route, vars);
}

MHD_Result on_request(void *, MHD_Connection *c, const char *url, const char *method, const char *,
                      const char *upload, size_t *uploadSize, void **state) {
    auto *req = static_cast<Request *>(*state);
    if (req == nullptr) return MHD_NO;
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool post = std::strcmp(method, MHD_HTTP_METHOD_POST) == 0;
    if (!req->started) {
        req->started = true;
        if (!get && !head && !post)
            return send(c, error_answer(MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed"));
        const char *length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length != nullptr && std::strtoull(length, nullptr, 10) > kBodyMax)
            return send(c, error_answer(MHD_HTTP_CONTENT_TOO_LARGE, "request body too large"));
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        if (req->body.size() + *uploadSize > kBodyMax) {
            req->tooLarge = true;
            req->body.clear();
            *uploadSize = 0;
            return send(c, error_answer(MHD_HTTP_CONTENT_TOO_LARGE, "request body too large"));
        }
        req->body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (req->tooLarge) return send(c, error_answer(MHD_HTTP_CONTENT_TOO_LARGE, "request body too large"));
    return send(c, answer(c, url, method, *req));
}

// Called with the raw URI before anything else of the request.
void *on_uri(void *, const char *uri, MHD_Connection *) {
    auto *req = new (std::nothrow) Request;
    if (req != nullptr) req->uri = uri;
    return req;
}

void on_completed(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
    delete static_cast<Request *>(*state);
    *state = nullptr;
}

}  // namespace

bool server_start(const ServerOptions &o) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(o.port);
    if (inet_pton(AF_INET, o.address.c_str(), &addr.sin_addr) != 1) return false;
    g_daemon = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD, o.port, nullptr, nullptr, &on_request, nullptr, MHD_OPTION_SOCK_ADDR,
        &addr, MHD_OPTION_CONNECTION_LIMIT, o.maxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        o.maxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, o.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kHeaderMemory, MHD_OPTION_URI_LOG_CALLBACK, &on_uri, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
        &on_completed, nullptr, MHD_OPTION_END);
    return g_daemon != nullptr;
}

void server_stop() {
    if (g_daemon != nullptr) MHD_stop_daemon(g_daemon);
    g_daemon = nullptr;
}

}  // namespace axwebd
