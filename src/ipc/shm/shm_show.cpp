// Debug listings of the shared data area.
#include <sys/sem.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "ipc/shm/shm.h"
#include "ipc/shm/shm_layout.h"

namespace {

int sem_value(int semid, int num) { return semctl(semid, num, GETVAL); }

const char *lock_text(int write_value) { return write_value != 0 ? "lock" : "unlock"; }

}  // namespace

extern "C" {

PC_API void axshm_show_sem(void) {
    const pc::ipc::ShmAttachment *area = pc::ipc::shm_attachment();
    if (area == nullptr) return;
    for (int i = 0; i < AXSHM_SEM_NUM; ++i)
        std::printf("index = %d, value = %d\n", i, sem_value(area->semid, i));
}

// Addresses are printed at the width of a pointer of the machine.
PC_API int axshm_show_info(void) {
    const pc::ipc::ShmAttachment *area = pc::ipc::shm_attachment();
    if (area == nullptr) return -1;
    const pc::ipc::ShmInfoArea *info = area->info;
    std::printf("data addr 0x%" PRIxPTR ", info addr 0x%" PRIxPTR ", block addr 0x%" PRIxPTR "\n",
                reinterpret_cast<uintptr_t>(area->data), reinterpret_cast<uintptr_t>(info),
                reinterpret_cast<uintptr_t>(&info->blocks[0]));
    std::printf("block Num %d, used data Len %d, write lock:%s, read sem:%d\n", info->header.block_num,
                info->header.used_data_len, lock_text(sem_value(area->semid, 0)), sem_value(area->semid, 1));
    for (int i = 0; i < AXSHM_BLOCK_MAX; ++i) {
        const pc::ipc::ShmBlockRecord &r = info->blocks[i];
        if (r.length == 0) continue;
        int pair = pc::ipc::block_pair(i);
        std::printf("Block %d, name %.*s, data offset %d, write lock:%s, read sem:%d\n", i,
                    AXSHM_NAME_LEN - 1, r.name, r.offset, lock_text(sem_value(area->semid, 2 * pair)),
                    sem_value(area->semid, 2 * pair + 1));
    }
    return 0;
}

}  // extern "C"
