// Serving RPC requests on the workers.
//
// A worker validates the whole message before it uses any of it (header,
// environment and the flat parameter set, see axrpc_msg.h); a malformed
// request is refused with a log line and never reaches a function. A valid
// request runs the registered function with the input set (a view into the
// message) and a fresh output set; envTls points at the request's
// environment meanwhile. A synchronous request is answered with the
// environment as the function left it and the output set; an asynchronous
// one is not answered. An unknown function is not answered either (its
// synchronous caller times out).
#pragma once

#include "ipc/rpc/axrpc_workers.h"

namespace pc::ipc::rpc {

// Handles one work item of either queue and frees its block.
void handle_work_item(const WorkItem &item);

}  // namespace pc::ipc::rpc
