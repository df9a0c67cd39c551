// Output for signal handlers: formatted into a stack buffer and written
// with write(2), so a handler never takes the stdio lock that the
// interrupted thread may hold.
#pragma once

#include "platform_core/api.h"

namespace pc::diag {

void sig_printf(const char *fmt, ...) PC_PRINTF(1, 2);
void sig_write(const char *text);

}  // namespace pc::diag
