// The module loading handshake over the shared block "mm_table" (see
// platform_core/app.h).
#include <cstdint>
#include <cstring>

#include "platform_core/app.h"
#include "platform_core/axshm.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/types.h"

namespace {

using MmEntry = MM_ENTRY_T;
static_assert(sizeof(MmEntry) * MM_TABLE_ENTRIES == MM_TABLE_SIZE);

bool mid_in_range(int mid) { return mid >= 1 && mid < MM_TABLE_ENTRIES; }

// Writes one entry in place under the block's write lock: a read of the
// whole table, a change and a write back would let two processes that
// change different modules at once lose one of the changes.
int write_entry(int mid, int state) {
    void *addr = nullptr;
    int len = 0;
    if (axshm_get_data_addr(MM_TABLE_NAME, &addr, &len) != 0 || addr == nullptr || len < MM_TABLE_SIZE)
        return -1;
    if (axshm_write_data_take(MM_TABLE_NAME) != 0) return -1;
    MmEntry entry{static_cast<uint32_t>(mid), static_cast<uint32_t>(state)};
    std::memcpy(static_cast<char *>(addr) + mid * sizeof(MmEntry), &entry, sizeof entry);
    return axshm_write_data_give(MM_TABLE_NAME) == 0 ? 0 : -1;
}

void log_init_failure(int mid, int rc) {
    const char *module = midNameGet(mid);
    const char *process = pidNameGet(pidGetCurrent());
    PFM_ERR(MID_MODLOAD, "Module %s load plugin fail in process %s, errcode=%d \n", module ? module : "",
            process ? process : "", rc);
}

}  // namespace

extern "C" {

PC_API int mm_initation(void) {
    int rc = axshm_reg_data(MM_TABLE_NAME, MM_TABLE_SIZE);
    if (rc != 0) PFM_CALL_FAILED(MID_MODLOAD, rc, "axshm_reg_data(MM_TABLE_NAME, MM_TABLE_SIZE)");
    return rc;
}

PC_API int mm_getstat(int mid) {
    if (!mid_in_range(mid)) return -1;
    auto *table = static_cast<MmEntry *>(pal_alloc(MM_TABLE_SIZE, "scm_mm"));
    if (table == nullptr) return -1;
    int result = -1;
    if (axshm_get_data(MM_TABLE_NAME, table, MM_TABLE_SIZE) == 0 &&
        table[mid].mid == static_cast<uint32_t>(mid)) {
        result = static_cast<int>(table[mid].state);
    }
    pal_free(table);
    return result;
}

PC_API int mm_setstat(int mid, int state) {
    if (!mid_in_range(mid)) return -1;
    return write_entry(mid, state);
}

PC_API int mm_wait(int mid, int state) {
    if (!mid_in_range(mid)) return -1;
    while (mm_getstat(mid) != state) pal_usleep(MM_WAIT_POLL_MS * 1000);
    return 0;
}

PC_API int mm_load_begin(int mid) { return mm_wait(mid, MM_STATE_LOAD_BEGIN); }

PC_API int mm_load_commit(int mid) { return mm_setstat(mid, MM_STATE_LOAD_COMMIT); }

PC_API int mm_load_plugin(int mid, mm_init_fn init, int flag) {
    if (!mid_in_range(mid) || init == nullptr) return -1;
    if (pidGetCurrent() == PID_CORE) {
        if (flag) {
            int rc = init();
            if (rc != 0) {
                log_init_failure(mid, rc);
                return -1;
            }
            if (mm_setstat(mid, MM_STATE_LOAD_BEGIN) != 0) return -1;
            return mm_wait(mid, MM_STATE_LOAD_COMMIT);
        }
        if (mm_setstat(mid, MM_STATE_LOAD_BEGIN) != 0 || mm_wait(mid, MM_STATE_LOAD_COMMIT) != 0) return -1;
        int rc = init();
        if (rc != 0) {
            log_init_failure(mid, rc);
            return -1;
        }
        return 0;
    }
    if (mm_load_begin(mid) != 0) return -1;
    int rc = init();
    if (rc != 0) log_init_failure(mid, rc);
    // Committed in every case: the core process must not wait for ever on
    // a module whose own part failed.
    mm_load_commit(mid);
    return 0;
}

}  // extern "C"
