// Completion help hooks and the text module's attachment.
#include <atomic>

#include "platform_core/platform.h"
#include "platform_core/up_text.h"
#include "up/up_shared.h"
#include "up/up_text_hooks.h"

namespace {

std::atomic<up_str_help_fn> g_help{nullptr};
std::atomic<up_str_line_fn> g_line{nullptr};
std::atomic<up_str_may_end_fn> g_may_end{nullptr};

}  // namespace

namespace pc::up {
up_str_may_end_fn text_may_end_hook() { return g_may_end.load(); }
}  // namespace pc::up

extern "C" {

PC_API int upStrCliParaSet(up_str_help_fn help, up_str_line_fn line, up_str_may_end_fn may_end) {
    g_help.store(help);
    g_line.store(line);
    g_may_end.store(may_end);
    return 0;
}

PC_API void cliPortPromptPrint(void *env, const char *text, const char *desc) {
    up_str_help_fn help = g_help.load();
    up_str_line_fn line = g_line.load();
    if (desc != nullptr && desc[0] != '\0' && help != nullptr) {
        PFM_DBG(MID_UP, "Help");
        help(env, text, desc);
    } else if (line != nullptr) {
        PFM_DBG(MID_UP, "Line");
        line(env, text);
    }
}

// The parsers read the property record through the module's attachment.
PC_API int upStrShmGet(void) {
    PFM_CALL_RET(MID_UP, pc::up::attach_propt_block());
    return 0;
}

}  // extern "C"
