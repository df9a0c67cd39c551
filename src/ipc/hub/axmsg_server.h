// The hub's listening socket and accept thread.
//
// axmsg_init opens the socket on 127.0.0.1:3600 and starts the thread
// "axmsg" (axmsg_serv_run), which accepts connections, collects each hello
// beside the listening socket in one poll (axmsg_hello.h: a slow or silent
// peer holds only its own slot, and the whole hello has a deadline) and
// hands the socket to the connection table (axmsg_connection.h). Once the socket listens, this
// process is the hub: sends take the hub's path instead of a client
// transport.
#pragma once

namespace pc::ipc {

// True once this process serves the hub.
bool hub_serving();

}  // namespace pc::ipc
