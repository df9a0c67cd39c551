// Start-up of the unit and port model in the core process and in others.
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"
#include "up/up_shared.h"

namespace {

up_list g_empty_list;  // the module's empty list; cleared at start-up

// Steps shared by both start-ups, after the blocks exist.
int attach_steps() {
    PFM_CALL_RET(MID_UP, pc::up::attach_propt_block());
    PFM_CALL_RET(MID_UP, pc::up::attach_valid_block());
    PFM_CALL_RET(MID_UP, upStrShmGet());
    // The index table and the legal list are constants of the build.
    return 0;
}

}  // namespace

extern "C" {

PC_API int up_core_init(void) {
    g_empty_list = up_list{};
    PFM_CALL_RET(MID_UP, upProptShmReg());
    if (int rc = attach_steps(); rc != 0) return rc;
    PFM_CALL_RET(MID_UP, upProptInit());
    return 0;
}

PC_API int up_mod_init(void) {
    g_empty_list = up_list{};
    PFM_CALL_RET(MID_UP, upProptShmGet());
    return attach_steps();
}

}  // extern "C"
