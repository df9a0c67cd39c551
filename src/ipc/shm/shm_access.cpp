// Reading and writing shared data blocks by name.
#include <cstring>

#include "ipc/shm/shm.h"
#include "ipc/shm/shm_layout.h"
#include "ipc/shm/shm_log.h"
#include "ipc/shm/shm_rwlock.h"

namespace {

using pc::ipc::ShmBlockGuard;
using pc::ipc::ShmBlockRef;
using pc::ipc::ShmLockMode;

int lock_by_name(const char *name, ShmLockMode mode, bool take) {
    const pc::ipc::ShmAttachment *area = pc::ipc::shm_attachment();
    ShmBlockRef block;
    if (area == nullptr || !pc::ipc::shm_find_block(name, &block)) return -1;
    int pair = pc::ipc::block_pair(block.index);
    return take ? pc::ipc::shm_lock_take(area->semid, pair, mode)
                : pc::ipc::shm_lock_give(area->semid, pair, mode);
}

}  // namespace

extern "C" {

PC_API int axshm_set_data(const char *name, const void *buf, int len) {
    const pc::ipc::ShmAttachment *area = pc::ipc::shm_attachment();
    ShmBlockRef block;
    if (area == nullptr || !pc::ipc::shm_find_block(name, &block)) return -1;
    if (len < 0 || len > block.length) {
        AXSHM_LOG_ERR("len %d is out of size %d", len, block.length);
        return -1;
    }
    if (buf == nullptr && len > 0) return -1;
    ShmBlockGuard guard(*area, block, ShmLockMode::Write);
    if (!guard.held()) return -1;
    if (len > 0) std::memcpy(block.addr, buf, static_cast<size_t>(len));
    return 0;
}

PC_API int axshm_get_data(const char *name, void *buf, int len) {
    const pc::ipc::ShmAttachment *area = pc::ipc::shm_attachment();
    ShmBlockRef block;
    if (area == nullptr || !pc::ipc::shm_find_block(name, &block)) return -1;
    if (len != block.length) {
        AXSHM_LOG_ERR("len %d is not equal %d", len, block.length);
        return -1;
    }
    if (buf == nullptr) return -1;
    ShmBlockGuard guard(*area, block, ShmLockMode::Read);
    if (!guard.held()) return -1;
    std::memcpy(buf, block.addr, static_cast<size_t>(len));
    return 0;
}

PC_API int axshm_get_data_addr(const char *name, void **addr, int *len) {
    ShmBlockRef block;
    if (addr == nullptr || len == nullptr || !pc::ipc::shm_find_block(name, &block)) return -1;
    *addr = block.addr;
    *len = block.length;
    return 0;
}

PC_API int axshm_read_data_take(const char *name) { return lock_by_name(name, ShmLockMode::Read, true); }
PC_API int axshm_read_data_give(const char *name) { return lock_by_name(name, ShmLockMode::Read, false); }
PC_API int axshm_write_data_take(const char *name) { return lock_by_name(name, ShmLockMode::Write, true); }
PC_API int axshm_write_data_give(const char *name) { return lock_by_name(name, ShmLockMode::Write, false); }

}  // extern "C"
