/* A C program that includes every public header and calls into the library. */
#include <stdio.h>
#include <string.h>

#include "c_api_includes.h"

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
    printf("c api ok\n");
    return 0;
}
