// Per-module debug switches read by the log macro.
#include <cstring>

#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace {

constexpr int kMaxLevel = 3;

// Process-local table; each process keeps only a pointer to the table in
// force (gDebugControlVaribles).
signed char g_local_table[DEBUG_FLAG_NUM];

bool mid_valid(unsigned mid) { return mid > MID_INVALID && mid < MID_MAX; }

}  // namespace

extern "C" {

PC_API signed char *gDebugControlVaribles = nullptr;

PC_API int debugFlagInit(void) {
    signed char d = getDefaultDbgSwitch();
    if (gDebugControlVaribles != nullptr) return 0;
    std::memset(g_local_table, d, sizeof g_local_table);
    gDebugControlVaribles = g_local_table;
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
