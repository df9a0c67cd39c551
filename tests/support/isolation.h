// Gives the test process private IPC, network and mount namespaces.
#pragma once

namespace pc::test {

// True once the process runs in its own namespaces (loopback up, private
// /tmp). Without the rights to create them the tests run unisolated.
bool enter_isolated_namespaces();

// Gives the current IPC namespace the switch's message queue depth limit
// (a new IPC namespace starts with the kernel's default of ten).
void raise_queue_limits();

// What the test main's call of enter_isolated_namespaces() answered.
bool isolated();

}  // namespace pc::test
