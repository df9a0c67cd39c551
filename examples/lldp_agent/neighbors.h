/*
 * The neighbour table: what was last heard on each port, until its time to
 * live runs out. One neighbour per port (the last one heard); the table is
 * guarded by the PAL mutex "lldpNeighbors", taken by the packet receiver,
 * the aging timer and the CLI.
 */
#ifndef LLDP_AGENT_NEIGHBORS_H
#define LLDP_AGENT_NEIGHBORS_H

#include "lldp_tlv.h"
#include "platform_core/types.h"

/* 0, or -1 when the mutex could not be made. */
int neighbors_init(void);

/* Records what `port` heard (a ttl of 0 forgets the port's neighbour).
 * Answers 1 for a new or changed neighbour, 0 for a refresh, -1 when `port`
 * is no front-panel port. */
int neighbors_update(UP port, const lldp_info_t *info);

/* Forgets the neighbours whose time to live has run out; how many. */
int neighbors_age(void);

/* One neighbour, with the seconds it has left. */
typedef void (*neighbors_visit_fn)(void *arg, UP port, const lldp_info_t *info, unsigned remaining);

/* Visits the neighbours of the ports in `ports` (every port when null) in
 * port order, on a copy taken under the lock; how many. */
int neighbors_walk(const up_list *ports, neighbors_visit_fn visit, void *arg);

#endif
