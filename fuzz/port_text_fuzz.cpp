// Fuzzes the port text parsers: usStr2UpList, usStr2Up and usStr2UnitList.
// Nothing may crash or read out of bounds, and every accepted text must
// come back unchanged through the writers: list -> text -> the same list.
//
// Input: byte 0 picks the device type, the interface type given by the
// caller and whether a command-line environment is passed; the rest is the
// text (copied into an exactly sized, NUL-terminated buffer).
#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_device.h"

namespace {

int g_help_calls = 0;
void help_hook(void *, const char *text, const char *desc) { g_help_calls += text && desc ? 1 : 0; }
void line_hook(void *, const char *text) { g_help_calls += text ? 1 : 0; }
int may_end_hook(void *) { return 1; }

[[noreturn]] void fail(const char *what, const char *text) {
    std::fprintf(stderr, "round trip failed (%s) for \"%s\"\n", what, text);
    std::abort();
}

bool same(const up_list &a, const up_list &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_list(int it, const char *text, const up_str_option_t *opt) {
    up_list l;
    if (usStr2UpList(it, text, &l, opt) != 0) return;
    for (uint32_t str_type : {UP_STR_TYPE_SHORT, UP_STR_TYPE_LONG}) {
        std::vector<char> out(4096);
        up_str_ctrl_t ctrl{};
        ctrl.flags = UP_STR_CTRL_LIMIT;
        ctrl.len_limit = static_cast<int32_t>(out.size());
        ctrl.str_type = str_type;
        // A list holding ports the hardware lacks has no text; that is refused.
        if (usUplist2Str(l, out.data(), &ctrl) != 0) return;
        if (ctrl.done != 1) fail("not done", text);
        up_list back;
        if (usStr2UpList(-1, out.data(), &back, nullptr) != 0 && out[0] != '\0') fail("reparse", out.data());
        if (out[0] != '\0' && !same(l, back)) fail("list", text);
    }
}

void check_single(int it, const char *text, const up_str_option_t *opt) {
    UP up = 0;
    if (usStr2Up(it, text, &up, opt) != 0) {
        if (up != UP_INVALID_VALUE) fail("failed parse left a value", text);
        return;
    }
    if (!UP_IS_VALID(up)) return;
    char out[UP_STR_LEN];
    if (usUp2Str(up, out, UP_STR_TYPE_LONG) != 0) fail("usUp2Str", text);
    UP back = 0;
    if (usStr2Up(-1, out, &back, nullptr) != 0 || back != up) fail("single", text);
}

void check_units(const char *text) {
    unit_list ul = 0;
    if (usStr2UnitList(text, &ul) != 0) return;
    char out[4];
    if (usUnitlist2Str(ul, out) != 0) fail("usUnitlist2Str", text);
    unit_list back = 0;
    if (out[0] != '\0' && (usStr2UnitList(out, &back) != 0 || back != ul)) fail("units", text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The shared area's keys are fixed: keep them private to the fuzzer.
    if (unshare(CLONE_NEWIPC) != 0) std::fprintf(stderr, "note: no private IPC namespace\n");
    simProcessSetPid(PID_CORE);
    simSetDefaultDbgSwitch(0);
    simSwitchSetInited(1);
    if (axshm_init() != 0 || debugFlagInit() != 0 || adPmpInit() != 0 || up_core_init() != 0) std::abort();
    upStrCliParaSet(help_hook, line_hook, may_end_hook);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    uint8_t ctl = data[0];
    int dev = 1 + (ctl & 0x3);
    int it = static_cast<int>((ctl >> 2) & 0x7) - 1;  // -1..6: past 3 means "none"
    bool with_env = (ctl & 0x20) != 0;
    static int current_dev = 0;
    if (dev != current_dev) {
        upProptDevTypeSet(UNIT_1, static_cast<uint32_t>(dev));
        current_dev = dev;
    }
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    int env_token = 0;
    up_str_option_t opt{};
    opt.no_unit_validate = (ctl & 0x40) ? 1u : 0u;
    opt.cli_env = with_env ? &env_token : nullptr;

    check_list(it, text.data(), &opt);
    check_single(it, text.data(), &opt);
    check_units(text.data());
    return 0;
}
