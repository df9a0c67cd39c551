// Whether the RPC service of this process is up (between the end of
// axrpcInit and the start of axrpcDestroy), and the passes that keep its
// objects alive while a thread uses them.
//
// The messaging handler and every synchronous call hold a ServicePass for
// as long as they touch the wait queue or the work queues. The tear-down
// first marks the service down, wakes the callers that wait for replies and
// waits until no pass is held; only then are the objects destroyed. A pass
// taken while the service is down is not open, and its holder leaves at once.
#pragma once

namespace pc::ipc::rpc {

bool service_ready();

class ServicePass {
public:
    ServicePass();
    ~ServicePass();
    ServicePass(const ServicePass &) = delete;
    ServicePass &operator=(const ServicePass &) = delete;
    // Whether the service was up when the pass was taken.
    bool open() const { return open_; }

private:
    bool open_;
};

}  // namespace pc::ipc::rpc
