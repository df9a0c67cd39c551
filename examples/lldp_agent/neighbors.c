/* The neighbour table (see neighbors.h). */
#define _POSIX_C_SOURCE 200809L

#include "neighbors.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform_core/pal.h"
#include "platform_core/up.h"

typedef struct neighbor {
    int present;
    lldp_info_t info;
    uint64_t expires_ms; /* on the monotonic clock */
} neighbor_t;

/* By port number (slot 0 numbering, as a port list holds the ports). */
static neighbor_t table[UP_UNIT_PORT_MAX]; /* guarded by lock */
static pal_mutex_t lock;

static uint64_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

int neighbors_init(void) {
    lock = pal_mutex_create("lldpNeighbors");
    return lock != NULL ? 0 : -1;
}

int neighbors_update(UP port, const lldp_info_t *info) {
    up_list one = {{0}};
    if (!UP_IS_SWP(port) || up_list_set(&one, port) != 0) return -1;
    neighbor_t *n = &table[UP_PORT(port)];
    int changed;
    pal_mutex_take(lock, PAL_WAIT_FOREVER);
    if (info->ttl == 0) {
        changed = n->present;
        n->present = 0;
    } else {
        changed = !n->present || memcmp(&n->info, info, sizeof *info) != 0;
        n->present = 1;
        n->info = *info;
        n->expires_ms = now_ms() + (uint64_t)info->ttl * 1000u;
    }
    pal_mutex_give(lock);
    return changed;
}

int neighbors_age(void) {
    int gone = 0;
    uint64_t now = now_ms();
    pal_mutex_take(lock, PAL_WAIT_FOREVER);
    for (size_t i = 0; i < UP_UNIT_PORT_MAX; ++i)
        if (table[i].present && table[i].expires_ms <= now) {
            table[i].present = 0;
            ++gone;
        }
    pal_mutex_give(lock);
    return gone;
}

int neighbors_walk(const up_list *ports, neighbors_visit_fn visit, void *arg) {
    /* Visit outside the lock: a visitor may print to a slow CLI session. */
    neighbor_t *copy = malloc(sizeof table);
    if (copy == NULL) return -1;
    pal_mutex_take(lock, PAL_WAIT_FOREVER);
    memcpy(copy, table, sizeof table);
    pal_mutex_give(lock);
    uint64_t now = now_ms();
    int count = 0;
    for (uint32_t i = 0; i < UP_UNIT_PORT_MAX; ++i) {
        UP port = UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, i);
        if (!copy[i].present || copy[i].expires_ms <= now || (ports != NULL && !up_list_test(ports, port)))
            continue;
        visit(arg, port, &copy[i].info, (unsigned)((copy[i].expires_ms - now + 999u) / 1000u));
        ++count;
    }
    free(copy);
    return count;
}
