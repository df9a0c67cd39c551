// A live process for the debugger tests: starts the in-process debugger,
// prints the addresses of a function it calls over and over and of two
// words, and then keeps ticking. Each tick counts and prints the value
// word when it changes.
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform_core/diag.h"

extern "C" {
volatile uint32_t dk_helper_value = 0x11223344;
volatile uint32_t dk_helper_ticks = 0;

__attribute__((noinline, used)) void dk_helper_tick() { dk_helper_ticks = dk_helper_ticks + 1; }
}

int main() {
    if (dk_initation() != 0) return 1;
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    printf("tick 0x%lx\nvalue 0x%lx\nready\n", reinterpret_cast<unsigned long>(&dk_helper_tick),
           reinterpret_cast<unsigned long>(&dk_helper_value));
    fflush(stdout);
    void (*volatile tick)() = dk_helper_tick;
    uint32_t last = dk_helper_value;
    for (;;) {
        tick();
        if (dk_helper_value != last) {
            last = dk_helper_value;
            printf("value now %u\n", last);
            fflush(stdout);
        }
        usleep(20000);
    }
}
