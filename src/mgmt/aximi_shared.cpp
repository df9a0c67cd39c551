// The management interface's per-process keys and the shared print
// direction of a slave unit.
#include <cstring>

#include "mgmt/aximi_state.h"
#include "platform_core/axshm.h"

PC_API pal_tls_key_t imiEnvTls = nullptr;
PC_API pal_tls_key_t imiPrintTls = nullptr;

namespace pc::mgmt::imi {

namespace {

constexpr int kDirectionSize = static_cast<int>(sizeof(int32_t));

// The block's address in this process, found on first use.
int32_t *direction_block() {
    void *addr = nullptr;
    int len = 0;
    if (axshm_get_data_addr(AXIMI_OUTPUT_SHARE, &addr, &len) != 0 || addr == nullptr || len < kDirectionSize)
        return nullptr;
    return static_cast<int32_t *>(addr);
}

}  // namespace

int tls_init() {
    if (imiEnvTls == nullptr) imiEnvTls = pal_tls_key_create(nullptr);
    if (imiPrintTls == nullptr) imiPrintTls = pal_tls_key_create(nullptr);
    if (imiEnvTls == nullptr || imiPrintTls == nullptr) {
        PFM_ERR(kMid, "Init tls error\n");
        return -1;
    }
    return 0;
}

int direction_init() {
    if (int rc = axshm_reg_data(AXIMI_OUTPUT_SHARE, kDirectionSize); rc != 0) return rc;
    if (direction_block() == nullptr) {
        PFM_ERR(kMid, "Get shm error\n");
        return -1;
    }
    return axImiSetPrintDirection(0);
}

}  // namespace pc::mgmt::imi

using namespace pc::mgmt::imi;

extern "C" {

PC_API int axImiGetPrintDirection(void) {
    int32_t *block = direction_block();
    if (block == nullptr || axshm_read_data_take(AXIMI_OUTPUT_SHARE) != 0) return 0;
    int32_t value = *block;
    axshm_read_data_give(AXIMI_OUTPUT_SHARE);
    return value;
}

PC_API int axImiSetPrintDirection(int value) {
    int32_t *block = direction_block();
    if (block == nullptr || axshm_write_data_take(AXIMI_OUTPUT_SHARE) != 0) return -1;
    *block = value;
    axshm_write_data_give(AXIMI_OUTPUT_SHARE);
    return 0;
}

}  // extern "C"
