/* A C program that includes every public header (strict ISO C11), links the
 * libraries and calls into them; it also checks the port list helpers. */
#include <stdio.h>
#include <string.h>

#include "c_api_includes.h"

/* The helpers against a table: value, whether it has a bit, its word and mask. */
static int check_port_list_helpers(void) {
    static const struct {
        UP up;
        int has_bit;
        unsigned word;
        uint32_t mask;
    } cases[] = {
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 0), 1, 0, 0x1u},         /* the CPU port */
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 31), 1, 0, 0x80000000u}, /* last bit of word 0 */
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 32), 1, 1, 0x1u},
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 54), 1, 1, 1u << 22}, /* last port of slot 0 */
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 1, 4), 1, 0, 1u << 4},   /* slot 1 shares slot 0's bits */
        {UP_MAKE(UP_TYPE_LAG, 0, 0, 1), 1, 3, 0x1u},
        {UP_MAKE(UP_TYPE_LAG, 0, 0, 14), 1, 3, 1u << 13},
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 55), 0, 0, 0}, /* past slot 0 */
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 1, 5), 0, 0, 0},  /* past slot 1 */
        {UP_MAKE(UP_TYPE_SWP, UNIT_1, 2, 1), 0, 0, 0},  /* no slot 2 */
        {UP_MAKE(UP_TYPE_SWP, 2, 0, 1), 0, 0, 0},       /* no unit 2 */
        {UP_MAKE(UP_TYPE_LAG, 0, 0, 0), 0, 0, 0},
        {UP_MAKE(UP_TYPE_LAG, 0, 0, 15), 0, 0, 0},
        {UP_INVALID_VALUE, 0, 0, 0},
        {0, 0, 0, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        up_list l, zero;
        memset(&l, 0, sizeof l);
        memset(&zero, 0, sizeof zero);
        int rc = up_list_set(&l, cases[i].up);
        if (!cases[i].has_bit) {
            if (rc != -1 || memcmp(&l, &zero, sizeof l) != 0 || up_list_test(&l, cases[i].up) != 0 ||
                up_list_unset(&l, cases[i].up) != -1)
                return (int)i + 100;
            continue;
        }
        for (unsigned w = 0; w < UP_LIST_WORDS; ++w)
            if (rc != 0 || l.bits[w] != (w == cases[i].word ? cases[i].mask : 0u)) return (int)i + 200;
        if (up_list_test(&l, cases[i].up) != 1 || up_list_unset(&l, cases[i].up) != 0 ||
            memcmp(&l, &zero, sizeof l) != 0)
            return (int)i + 300;
    }

    /* A walk yields the members in order, ports first, then LAGs, and ends. */
    const UP members[] = {UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 0),  UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 31),
                          UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 32), UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 54),
                          UP_MAKE(UP_TYPE_LAG, 0, 0, 1),       UP_MAKE(UP_TYPE_LAG, 0, 0, 14)};
    const size_t n = sizeof members / sizeof members[0];
    up_list l;
    memset(&l, 0, sizeof l);
    for (size_t i = n; i-- > 0;) up_list_set(&l, members[i]);
    size_t seen = 0;
    UP up;
    UP_LIST_FOR_EACH(up, &l) {
        if (seen >= n || up != members[seen]) return 400 + (int)seen;
        ++seen;
    }
    if (seen != n) return 410;
    /* Bits no port or LAG owns (word 2 past port 64, LAG bits past 14) are not walked. */
    l.bits[2] |= 0x80000000u;
    l.bits[3] |= 1u << 20;
    l.bits[5] |= 1u;
    seen = 0;
    UP_LIST_FOR_EACH(up, &l) { ++seen; }
    if (seen != n) return 420;
    memset(&l, 0, sizeof l);
    if (up_list_next(&l, UP_INVALID_VALUE) != UP_INVALID_VALUE) return 430;
    /* A value that is no port ends a walk rather than restarting it. */
    up_list_set(&l, UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1));
    if (up_list_next(&l, UP_MAKE(UP_TYPE_LAG, 0, 0, 99)) != UP_INVALID_VALUE) return 440;
    return 0;
}

int main(void) {
    void *p = pal_alloc(10, "capi");
    if (p == NULL) return 1;
    memset(p, 0, 10);
    pal_free(p);
    if (debugFlagSet(0, 1) != -1) return 2;
    /* The hub's loops and its close link from C. */
    void (*hub_entries[])(void *) = {axmsg_serv_sub_thread, axmsg_serv_close};
    void (*hub_run)(void) = axmsg_serv_run;
    if (hub_run == NULL || hub_entries[0] == NULL || hub_entries[1] == NULL) return 3;
    /* The client libraries' entry points link from C. */
    int (*client_inits[])(void) = {axpacketClientInit, axConfigClientInit, suCbClientInit};
    int (*feature_init)(int, unsigned) = axFeatureProcessInit;
    if (feature_init == NULL || client_inits[0] == NULL || client_inits[2] == NULL) return 4;
    int rc = check_port_list_helpers();
    if (rc != 0) {
        printf("port list helpers: case %d failed\n", rc);
        return 5;
    }
    printf("c api ok\n");
    return 0;
}
