// The logging line: gate, prefix and output of the library's one log macro.
#include <sys/prctl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr size_t kThreadNameLen = 32;
constexpr size_t kLineFormatLen = 256;
constexpr size_t kPrefixTextLen = 256;

struct LevelStyle {
    const char *prefix;
    const char *suffix;
};

constexpr LevelStyle kStyles[] = {
    /* PFM_LOG_ERR */ {"\033[31;49m[<%s/%s>:<%s/%s()/%d>]", "\033[0m\r\n"},
    /* PFM_LOG_WARN */ {"\033[33;49m[<%s/%s>:<%s/%s()/%d>]", "\033[0m\r\n"},
    /* PFM_LOG_DBG */ {"[<%s/%s>:<%s/%s()/%d>]", "\r\n"},
};

bool mid_printable(unsigned mid) { return mid > MID_INVALID && mid < MID_MAX; }

}  // namespace

extern "C" {

PC_API int debugPrintf(unsigned mid, const char *format, ...) {
    if (!mid_printable(mid) || format == nullptr) return 0;
    va_list ap;
    va_start(ap, format);
    int n = vprintf(format, ap);
    va_end(ap);
    return n;
}

PC_API int pfmLogGate(int level, unsigned mid) {
    switch (level) {
        case PFM_LOG_ERR:
            return debugFlagGet(mid) != 0 || isSwitchInited() == 0;
        case PFM_LOG_WARN: {
            int l = debugFlagGet(mid);
            return l == 1 || l == 2;
        }
        case PFM_LOG_DBG:
            return debugFlagGet(mid) == 1;
        default:
            return 0;
    }
}

PC_API void pfmLogEmit(int level, unsigned mid, const char *func, int line, const char *fmt, ...) {
    if (level < PFM_LOG_ERR || level > PFM_LOG_DBG || fmt == nullptr || !mid_printable(mid)) return;
    const LevelStyle &style = kStyles[level];

    char thread_name[kThreadNameLen];
    std::memset(thread_name, 0, sizeof thread_name);
    prctl(PR_GET_NAME, thread_name, 0, 0, 0);

    // The line's format: prefix, blank, message format, suffix, cut at 255.
    char line_format[kLineFormatLen];
    std::memset(line_format, 0, sizeof line_format);
    snprintf(line_format, sizeof line_format, "%s %s%s", style.prefix, fmt, style.suffix);

    // The prefix takes the first five arguments; format it on its own so the
    // message keeps its own argument list. The prefix is far shorter than
    // the cut, so splitting there keeps the combined line exactly as built.
    size_t prefix_len = std::strlen(style.prefix);
    char prefix_format[kLineFormatLen];
    std::memcpy(prefix_format, line_format, prefix_len);
    prefix_format[prefix_len] = '\0';
    char prefix_text[kPrefixTextLen];
    snprintf(prefix_text, sizeof prefix_text, prefix_format, pidNameGet(pidGetCurrent()), thread_name,
             midNameGet(static_cast<int>(mid)), func ? func : "", line);

    va_list ap;
    va_start(ap, fmt);
    flockfile(stdout);
    fputs(prefix_text, stdout);
    vprintf(line_format + prefix_len, ap);
    funlockfile(stdout);
    va_end(ap);
}

}  // extern "C"
