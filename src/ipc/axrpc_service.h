// Whether the RPC service of this process is up (between the end of
// axrpcInit and the start of axrpcDestroy). The messaging handler drops
// messages while it is not.
#pragma once

namespace pc::ipc::rpc {

bool service_ready();

}  // namespace pc::ipc::rpc
