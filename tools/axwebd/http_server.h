// The HTTP side of the web server (libmicrohttpd): bounded connections,
// request sizes and idle time; every request through the web glue.
#pragma once

#include <cstdint>
#include <string>

namespace axwebd {

struct ServerOptions {
    std::string address = "0.0.0.0";
    uint16_t port = 80;
    unsigned idleSeconds = 10;      // an idle or slow connection is closed after this
    unsigned maxConnections = 128;  // in all; more are closed at once
    unsigned maxPerAddress = 32;    // from one client address
};

// Request line and headers of one request must fit here (else 414 or 431).
constexpr size_t kHeaderMemory = 16 * 1024;
// A body above this is refused (413).
constexpr size_t kBodyMax = 48 * 1024;

// Starts serving; false when the address cannot be used.
bool server_start(const ServerOptions &options);
void server_stop();

}  // namespace axwebd
