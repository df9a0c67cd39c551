// The subscription table of event notification.
//
// NOTIFY_TYPE_NUM singly linked lists, each in ascending priority order.
// Nodes (tag "notify") are only ever inserted, never freed, so traversals
// read the lists without a lock; insertions take "notify_mutex" and publish
// a node with a release store of the link that makes it reachable. A node
// of another process is switched off when that process goes away and on
// again when it subscribes again, so a process that restarts reuses its
// nodes: a table holds at most one node per (type, process, priority) of
// other processes.
#pragma once

#include <atomic>

#include "ipc/notify/notify.h"
#include "platform_core/notify.h"

namespace pc::ipc::notify {

struct NotifyNode {
    int proc;                        // subscriber's process
    int mid;                         // subscriber's module; 0 for another process's node
    int is_asyn;                     // 1 for an asynchronous subscription
    int pri;                         // 0..255, asynchronous ones NOTIFY_ASYN_PRI
    NOTIFY_CB cb;                    // synchronous callback; null in another process's node
    NOTIFY_ASYN_CB asynCb;           // asynchronous dispatch (queues to the module's worker)
    std::atomic<bool> active;        // false while another process's node waits for it to come back
    std::atomic<NotifyNode *> next;  // written under notify_mutex
};

// Empties the table and creates "notify_mutex"; 0 or -1.
int table_init();
// Adds a node; a node for another process (cb == null, asynCb == null) that
// duplicates (proc, pri) of an existing one is not added again (it is
// switched on again when it was off). 0 or -1.
int table_add(int type, int proc, int mid, int is_asyn, int pri, NOTIFY_CB cb, NOTIFY_ASYN_CB asynCb);
// First node of a type's list (null when empty or out of range).
NotifyNode *table_head(int type);
// Prints every node.
void table_print();
// Switches off every node of process `proc` (it went away).
void table_drop_process(int proc);

}  // namespace pc::ipc::notify
