// The core process's start-up sequence, in the order platformInit runs it.
#pragma once

#include <span>

namespace pc::platform {

struct StartupStep {
    const char *call_text;  // the text the failure line names, e.g. "timer_init()"
    int (*run)();
};

// The steps of the services this build contains, in start-up order.
std::span<const StartupStep> startup_steps();

}  // namespace pc::platform
