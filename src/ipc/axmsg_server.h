// The hub's listening socket and accept thread.
//
// axmsg_init opens the socket on 127.0.0.1:3600 and starts the thread
// "axmsg", which accepts connections, reads each hello (bounded in time, so
// a silent peer cannot stall further connections) and hands the socket to
// the connection table (axmsg_connection.h). Once the socket listens, this
// process is the hub: sends take the hub's path instead of a client
// transport.
#pragma once

namespace pc::ipc {

// True once this process serves the hub.
bool hub_serving();

// How long the accept thread waits for a hello.
inline constexpr int kHelloTimeoutMs = 2000;

}  // namespace pc::ipc
