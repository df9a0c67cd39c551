// Per-module debug switches read by the log macro. The table of 128 levels
// lives in the shared data block "axDebugFlags", so every process of the
// switch reads and changes the same switches; each process keeps only its
// attachment (gDebugControlVaribles). Entries are single bytes read and
// written without a lock: the last write wins.
#include <cstring>

#include "ipc/shm/shm.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr int kMaxLevel = 3;

signed char *attached_table() {
    void *addr = nullptr;
    int len = 0;
    if (axshm_get_data_addr(DEBUG_FLAG_BLOCK_NAME, &addr, &len) != 0 || len < DEBUG_FLAG_NUM) return nullptr;
    return static_cast<signed char *>(addr);
}

bool mid_valid(unsigned mid) { return mid > MID_INVALID && mid < MID_MAX; }

}  // namespace

extern "C" {

PC_API signed char *gDebugControlVaribles = nullptr;

PC_API int debugFlagInit(void) {
    signed char d = getDefaultDbgSwitch();
    if (gDebugControlVaribles != nullptr) return 0;
    // A process that has not attached the shared area yet does so here.
    if (pc::ipc::shm_attachment() == nullptr && axshm_init() != 0) return -1;
    if (signed char *table = attached_table()) {
        gDebugControlVaribles = table;
        return 0;
    }
    if (axshm_reg_data(DEBUG_FLAG_BLOCK_NAME, DEBUG_FLAG_NUM) != 0) return -1;
    signed char *table = attached_table();
    if (table == nullptr) return -1;
    // Fill under the block's write lock so that a process attaching at the
    // same moment never takes the half-filled table for levels in force.
    if (axshm_write_data_take(DEBUG_FLAG_BLOCK_NAME) != 0) return -1;
    std::memset(table, d, DEBUG_FLAG_NUM);
    axshm_write_data_give(DEBUG_FLAG_BLOCK_NAME);
    gDebugControlVaribles = table;
    return gDebugControlVaribles ? 0 : -1;
}

PC_API int debugFlagGet(unsigned mid) {
    signed char *table = gDebugControlVaribles;
    if (!mid_valid(mid) || table == nullptr) return 0;
    return __atomic_load_n(&table[mid], __ATOMIC_RELAXED);
}

PC_API int debugFlagSet(unsigned mid, unsigned level) {
    signed char *table = gDebugControlVaribles;
    if (!mid_valid(mid) || level > kMaxLevel || table == nullptr) return -1;
    __atomic_store_n(&table[mid], static_cast<signed char>(level), __ATOMIC_RELAXED);
    return 0;
}

}  // extern "C"
