// Parameter groups: one result set per destination unit, and their listing.
#include <cstdio>
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "platform_core/axrpc.h"
#include "platform_core/platform.h"

using pc::ipc::rpc::kMid;

namespace {

void print_section(const AXRPC_PARA_SEC_T &sec) {
    std::printf("    Para name: %s type: %d length: %d\n", sec.name, sec.type, sec.length);
    switch (sec.type) {
        case AXRPC_PARA_TYPE_DATA:
            std::printf("    Para offset: %d\n", static_cast<int>(sec.value));
            break;
        case AXRPC_PARA_TYPE_PTR:
            std::printf("    Para ptr: %p\n", reinterpret_cast<void *>(sec.value));
            break;
        case AXRPC_PARA_TYPE_FLAG:
            std::printf("    Para flag: %x\n", static_cast<unsigned>(sec.value));
            break;
        default:
            std::printf("    Other para\n");
            break;
    }
}

}  // namespace

extern "C" {

PC_API int axrpcParaGroupInit(AXRPC_PARA_GROUP_T *paraGroup) {
    PFM_ENSURE_RET(kMid, NULL != paraGroup, -1);
    int rc = axrpcParaInit(&paraGroup->paraSet);
    paraGroup->isUsed = 0;
    return rc;
}

PC_API int axrpcParaGroupFree(AXRPC_PARA_GROUP_T *paraGroup) {
    PFM_ENSURE_RET(kMid, NULL != paraGroup, -1);
    int rc = axrpcParaFree(&paraGroup->paraSet);
    paraGroup->isUsed = 0;
    return rc;
}

PC_API int axrpcCheckParaGroup(const AXRPC_PARA_GROUP_T *paraGroup) {
    PFM_ENSURE_RET(kMid, NULL != paraGroup, -1);
    std::printf("Check paragroup structure:\n");
    for (int unit = 1; unit <= AXRPC_UNIT_NUM; ++unit) {
        const AXRPC_PARA_GROUP_T &entry = paraGroup[unit - 1];
        const AXRPC_PARA_T &set = entry.paraSet;
        std::printf(" Check for unit %d: \n", unit);
        std::printf("  Is used: %s\n", entry.isUsed ? "Used" : "Not used");
        std::printf("  Para num: %d para section num: %d\n", set.paraNum, set.paraSectionNum);
        std::printf("  Para buf len: %d para len: %d total extra len: %d\n", set.paraBufLen, set.paraLen,
                    set.extraLen);
        std::printf("  Para section:\n");
        for (int32_t i = 0; i < set.paraNum && set.paraSection != nullptr; ++i)
            print_section(set.paraSection[i]);
    }
    std::fflush(stdout);
    return 0;
}

}  // extern "C"
