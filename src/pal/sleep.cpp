// Sleeping and yielding.
#include <sys/select.h>
#include <unistd.h>

#include "platform_core/pal.h"

extern "C" {

PC_API int pal_thread_yield(void) { return usleep(1); }
PC_API int pal_usleep(unsigned us) { return usleep(us); }
PC_API int pal_udelay(unsigned us) { return usleep(us); }

PC_API int pal_sleep(unsigned seconds) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(seconds);
    return select(0, nullptr, nullptr, nullptr, &tv);
}

PC_API int pal_no_sleep(void) { return 0; }

}  // extern "C"
