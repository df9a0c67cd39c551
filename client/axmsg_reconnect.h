// Re-registration after a reconnection to the hub.
//
// When the hub's connection ends, the core drops everything this process
// registered with it (packet modules and registrations, configuration
// printers, notification subscriptions, CLI commands, stack unit
// callbacks). After every
// reconnection but the first, the thread "axmsg_rereg" runs the reconnect
// callbacks in the order they were added: the client libraries' own (each
// registers again what it registered) and the application's. A callback
// that fails is tried again every kRetryMs while the connection stays up,
// for at most kRetryForMs (the core may still be starting its services);
// a newer reconnection starts the round again from the first callback.
//
// Guarded by the state's mutex: the callback list and the round counter.
#pragma once

namespace pc::client {

// Called by the reader thread each time a connection is made.
void reconnect_announce(unsigned connects);

// Adds the callbacks of what the core library keeps itself (notification
// subscriptions, CLI commands); axmsg_client_init calls it first, so they
// run before the client libraries' and the application's.
void add_library_reconnect_callbacks();

// Stops the thread (axmsg_client_close).
void reconnect_stop();

}  // namespace pc::client
