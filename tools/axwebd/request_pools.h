// A web request's variables in the shared request pools: the CGI variables
// and the arguments of the query string and of a form body, in the global
// pool, or in the expand pool when the request is large.
#pragma once

#include <string_view>

namespace axwebd {

struct RequestVars {
    int reqId = 0;
    std::string_view method;
    std::string_view path;
    std::string_view query;        // raw, as sent
    std::string_view form;         // a form body (application/x-www-form-urlencoded), raw
    std::string_view contentType;  // of the body, if any
    std::string_view remoteAddr;
    unsigned long contentLength = 0;
};

enum class LoadResult {
    kOk,
    kTooLarge,  // more than the expand pool takes
    kBusy,      // the expand pool belongs to another request
    kNoRoom,    // a pool ran out while storing
};

// Longest query plus form text and most arguments the expand pool takes.
constexpr size_t kExpandTextMax = 51200 - 1;
constexpr size_t kExpandArgsMax = 2048 - 16;  // room left for the CGI variables
// Requests above either figure use the expand pool.
constexpr size_t kGlobalTextMax = 4096;
constexpr size_t kGlobalArgsMax = 96;

// Makes the request's variables current in this process and in the shared
// pools; release_request gives the expand pool back.
LoadResult load_request(const RequestVars &vars);
void release_request(int reqId);

}  // namespace axwebd
