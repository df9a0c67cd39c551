// Runs one printer over every section of the running configuration, as the
// buffer walk needs it: the core's own printers in the core, a remote
// printer in its own process.
#include "mgmt/axconfig_sections.h"
#include "mgmt/axconfig_state.h"

using namespace pc::mgmt::cfg;

namespace {

struct Run {
    AXCFG_GET_CFG_FUNC printer;
    AXCFG_OUT_ENV_T env;
    AXCFG_SECTION_SINK sink;
    void *cookie;

    int section(int type, AXCFG_REG_ARG_T arg, uint32_t index) {
        env.bufferSeek = 0;
        env.buffer[0] = '\0';
        env.indent = 1;
        printer(type, &arg, &env, axcfgOutputBufferLine);
        env.indent = 0;
        return sink(cookie, type, index, env.buffer, env.bufferSeek);
    }
};

}  // namespace

extern "C" PC_API int axconfigCollectSections(AXCFG_GET_CFG_FUNC printer, char *scratch, uint32_t scratchLen,
                                              AXCFG_SECTION_SINK sink, void *cookie) {
    PFM_ENSURE_RET(kMid, (NULL != printer) && (NULL != scratch) && (0 < scratchLen) && (NULL != sink), -1);
    Run run{printer, {}, sink, cookie};
    run.env.output = AXCFG_OUTPUT_BUFFER;
    run.env.buffer = scratch;
    run.env.bufferLen = scratchLen;
    for (int type : {AXCFG_TYPE_PRE, AXCFG_TYPE_GLOBAL, AXCFG_TYPE_OTHER, AXCFG_TYPE_VLAN})
        if (int rc = run.section(type, 0, 0); rc != 0) return rc;
    for (uint32_t index = 0; index < kPortSlots; ++index) {
        UP up = valid_up_at(index);
        if (up == 0) continue;
        int rc = UP_IS_LAG(up) ? run.section(AXCFG_TYPE_PORT_CHANNEL, UP_LAG_ID(up), index)
                               : run.section(AXCFG_TYPE_ETHERNET, up, index);
        if (rc != 0) return rc;
    }
    for (uint32_t vid = 1; vid <= kVlanMax; ++vid)
        if (interface_present(vid, kIntfKindVlan))
            if (int rc = run.section(AXCFG_TYPE_INTF_VLAN, vid, vid); rc != 0) return rc;
    const uint32_t loopbacks = loopback_count();
    for (uint32_t id = 1; id <= loopbacks; ++id)
        if (interface_present(id, kIntfKindLoopback))
            if (int rc = run.section(AXCFG_TYPE_LOOPBACK, id, id); rc != 0) return rc;
    return 0;
}
