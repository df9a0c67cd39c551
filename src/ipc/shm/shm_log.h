// Log lines of the shared data service. They keep the service's own older
// form, "<process/thread>:<function/line>message\n\r\n", and are gated by the
// bits of axshm_debug_level rather than by the module debug switches.
#pragma once

#include <cstdio>

#include "platform_core/axshm.h"

namespace pc::ipc {

// Name of the calling thread (as prctl reports it) in `buf`.
const char *shm_thread_name(char (&buf)[32]);
const char *shm_process_name();

}  // namespace pc::ipc

#define AXSHM_LOG(bit, fmt, ...)                                                               \
    do {                                                                                       \
        if (axshm_debug_level & (bit)) {                                                       \
            char shm_tn_[32];                                                                  \
            std::printf("<%s/%s>:<%s/%d>" fmt "\n\r\n", pc::ipc::shm_process_name(),           \
                        pc::ipc::shm_thread_name(shm_tn_), __func__, __LINE__, ##__VA_ARGS__); \
        }                                                                                      \
    } while (0)

#define AXSHM_LOG_ERR(fmt, ...) AXSHM_LOG(AXSHM_DEBUG_ERR, fmt, ##__VA_ARGS__)
#define AXSHM_LOG_INFO(fmt, ...) AXSHM_LOG(AXSHM_DEBUG_INFO, fmt, ##__VA_ARGS__)
