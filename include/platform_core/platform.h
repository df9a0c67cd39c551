/*
 * Platform start-up, debug switches and logging.
 *
 * platformInit() is called once by the core process and brings every
 * platform service up in a fixed order, stopping at the first failure.
 *
 * Logging: one macro, PFM_LOG(level, mid, fmt, ...), with three levels.
 * Each module has a debug switch (0..3) in a table shared by all processes:
 *
 *   level | errors                    | warnings | debug lines
 *   0     | only before switch inited | no       | no
 *   1     | yes                       | yes      | yes
 *   2     | yes                       | yes      | no
 *   3     | yes                       | no       | no
 *
 * A line reads "[<process/thread>:<module/function()/line>] message" with a
 * colour per level, ending in "\r\n". PFM_CALL_FAILED and PFM_ENSURE_FAILED
 * print the two shared messages ("E - %d call %s failed." and
 * "Ensure %s failed.").
 */
#ifndef PLATFORM_CORE_PLATFORM_H
#define PLATFORM_CORE_PLATFORM_H

#include <stdio.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* Start-up. */
PC_API int platformInit(void);
PC_API int isPfmInited(void);
PC_API unsigned isPfmAxconfigLoadFinished(void);
PC_API void setPfmAxConfigLoadFinished(void);
PC_API extern unsigned pfm_axconfig_load_finished;

/* Name of the shared block telling other processes the core is up. */
#define PLATFORM_INIT "pfm_init_f"

/* Debug switches. */
#define DEBUG_FLAG_BLOCK_NAME "axDebugFlags"
#define DEBUG_FLAG_NUM 128
PC_API extern signed char *gDebugControlVaribles;
PC_API int debugFlagInit(void);
PC_API int debugFlagGet(unsigned mid);
PC_API int debugFlagSet(unsigned mid, unsigned level);
PC_API int debugPrintf(unsigned mid, const char *format, ...);

/* Logging. */
enum pfm_log_level {
    PFM_LOG_ERR = 0,
    PFM_LOG_WARN = 1,
    PFM_LOG_DBG = 2,
};

/* Non-zero when a line of `level` for module `mid` is to be printed. */
PC_API int pfmLogGate(int level, unsigned mid);
/* Builds the line and hands it to debugPrintf; the gate is the caller's. */
PC_API void pfmLogEmit(int level, unsigned mid, const char *func, int line, const char *fmt, ...);

/* Never called: gives the compiler a format to check the arguments against. */
static inline void pfmLogFormatCheck(const char *fmt, ...) PC_PRINTF(1, 2);
static inline void pfmLogFormatCheck(const char *fmt, ...) { (void)fmt; }

#define PFM_LOG(level, mid, fmt, ...)                                                     \
    do {                                                                                  \
        if (0) pfmLogFormatCheck(fmt, ##__VA_ARGS__);                                     \
        if (pfmLogGate((level), (unsigned)(mid)))                                         \
            pfmLogEmit((level), (unsigned)(mid), __func__, __LINE__, fmt, ##__VA_ARGS__); \
    } while (0)

#define PFM_ERR(mid, fmt, ...) PFM_LOG(PFM_LOG_ERR, mid, fmt, ##__VA_ARGS__)
#define PFM_WARN(mid, fmt, ...) PFM_LOG(PFM_LOG_WARN, mid, fmt, ##__VA_ARGS__)
#define PFM_DBG(mid, fmt, ...) PFM_LOG(PFM_LOG_DBG, mid, fmt, ##__VA_ARGS__)

/* The two shared messages. */
#define PFM_CALL_FAILED(mid, rc, call_text) PFM_ERR(mid, "E - %d call %s failed.", (int)(rc), call_text)
#define PFM_ENSURE_FAILED(mid, cond_text) PFM_ERR(mid, "Ensure %s failed.", cond_text)

/* Check `cond`; when it fails log "Ensure <cond> failed." and return `ret`. */
#define PFM_ENSURE_RET(mid, cond, ret)     \
    do {                                   \
        if (!(cond)) {                     \
            PFM_ENSURE_FAILED(mid, #cond); \
            return ret;                    \
        }                                  \
    } while (0)

/* Run `call`; on a non-zero status log "E - %d call <call> failed." and return it. */
#define PFM_CALL_RET(mid, call)                   \
    do {                                          \
        int pfm_rc_ = (call);                     \
        if (pfm_rc_ != 0) {                       \
            PFM_CALL_FAILED(mid, pfm_rc_, #call); \
            return pfm_rc_;                       \
        }                                         \
    } while (0)

PC_END_DECLS

#endif
