// Creating, attaching and looking up the shared data area.
#include "ipc/shm/shm.h"

#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "ipc/shm/shm_layout.h"
#include "ipc/shm/shm_log.h"
#include "ipc/shm/shm_rwlock.h"
#include "platform_core/sibling.h"

namespace pc::ipc {

namespace {

std::mutex g_attach_lock;             // serialises axshm_init in this process
ShmAttachment g_area;                 // written under g_attach_lock
std::atomic<bool> g_attached{false};  // set once g_area is complete

// Maps segment `id` (a shmget result) into this process.
void *attach_id(int id, int *id_out) {
    if (id < 0) {
        AXSHM_LOG_ERR("shmget fail %d", errno);
        return nullptr;
    }
    void *addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) {
        AXSHM_LOG_ERR("shmget fail %d", errno);
        return nullptr;
    }
    *id_out = id;
    return addr;
}

void *attach_segment(key_t key, size_t size, int *id_out) {
    return attach_id(shmget(key, size, IPC_CREAT | 0644), id_out);
}

// The information segment, with the sequence words behind the table. A
// segment left by an older build without them is too small for that size:
// when no process holds it any more it is made anew; otherwise it is used
// as it is, and readers of this process always take the lock (`seq` stays
// null).
ShmInfoArea *attach_info_segment(int *id_out, bool *with_seq) {
    *with_seq = true;
    int id = shmget(AXSHM_INFO_KEY, kInfoSegmentSize, IPC_CREAT | 0644);
    if (id < 0 && errno == EINVAL) {
        int old = shmget(AXSHM_INFO_KEY, 0, 0);
        shmid_ds ds{};
        if (old >= 0 && shmctl(old, IPC_STAT, &ds) == 0) {
            if (ds.shm_nattch == 0 && shmctl(old, IPC_RMID, nullptr) == 0) {
                AXSHM_LOG_INFO("info segment of %u bytes made anew", static_cast<unsigned>(ds.shm_segsz));
                id = shmget(AXSHM_INFO_KEY, kInfoSegmentSize, IPC_CREAT | 0644);
            } else if (ds.shm_segsz >= sizeof(ShmInfoArea)) {
                id = old;
                *with_seq = false;
            }
        }
    }
    return static_cast<ShmInfoArea *>(attach_id(id, id_out));
}

int set_all_semaphores(int semid) {
    unsigned short values[AXSHM_SEM_NUM];
    for (int i = 0; i < AXSHM_SEM_NUM; ++i) values[i] = (i % 2 == 0) ? 0 : AXSHM_READER_SLOTS;
    union semun {
        int val;
        semid_ds *buf;
        unsigned short *array;
    } arg;
    arg.array = values;
    if (semctl(semid, 0, SETALL, arg) != 0) {
        AXSHM_LOG_ERR("init semget fail %d", errno);
        return -1;
    }
    return 0;
}

// Writes a fresh header and sets every semaphore. The magic is written last,
// only after the semaphores are set, so that an initialisation that fails
// half-way is done again by the next axshm_init instead of being attached to.
int initialise_area(ShmInfoArea *info, int info_id, int data_id, int semid) {
    std::memset(info, 0, sizeof *info);
    info->header.info_shm_id = info_id;
    info->header.data_shm_id = data_id;
    info->header.sem_id = semid;
    info->header.block_num = 0;
    info->header.used_data_len = 0;

    if (set_all_semaphores(semid) != 0) return -1;
    __atomic_store_n(&info->header.magic, AXSHM_MAGIC, __ATOMIC_RELEASE);
    AXSHM_LOG_INFO("sem %d create", semid);
    return 0;
}

bool record_sane(const ShmBlockRecord &r) {
    return r.length > 0 && r.offset >= 0 && r.offset <= AXSHM_DATA_SIZE - r.length;
}

}  // namespace

const char *shm_thread_name(char (&buf)[32]) {
    std::memset(buf, 0, sizeof buf);
    prctl(PR_GET_NAME, buf, 0, 0, 0);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

const char *shm_process_name() { return pidNameGet(pidGetCurrent()); }

const ShmAttachment *shm_attachment() {
    if (!g_attached.load(std::memory_order_acquire)) return nullptr;
    if (__atomic_load_n(&g_area.info->header.magic, __ATOMIC_ACQUIRE) != AXSHM_MAGIC) return nullptr;
    return &g_area;
}

bool shm_find_block(const char *name, ShmBlockRef *out) {
    const ShmAttachment *area = shm_attachment();
    if (area == nullptr || name == nullptr || out == nullptr) return false;
    if (strnlen(name, AXSHM_NAME_LEN) >= AXSHM_NAME_LEN) return false;
    ShmLockGuard table(area->semid, kTablePair, ShmLockMode::Read);
    if (!table.held()) return false;
    const ShmInfoHeader &h = area->info->header;
    int n = h.block_num < AXSHM_BLOCK_MAX ? h.block_num : AXSHM_BLOCK_MAX;
    for (int i = 0; i < n; ++i) {
        const ShmBlockRecord &r = area->info->blocks[i];
        if (std::strncmp(r.name, name, AXSHM_NAME_LEN) != 0) continue;
        if (!record_sane(r)) return false;
        out->index = i;
        out->addr = area->data + r.offset;
        out->length = r.length;
        return true;
    }
    return false;
}

}  // namespace pc::ipc

extern "C" {

PC_API int axshm_debug_level = AXSHM_DEBUG_ERR;

PC_API int axshm_init(void) {
    using namespace pc::ipc;
    std::lock_guard<std::mutex> guard(g_attach_lock);
    if (g_attached.load(std::memory_order_acquire)) {
        if (__atomic_load_n(&g_area.info->header.magic, __ATOMIC_ACQUIRE) == AXSHM_MAGIC) return 0;
        return initialise_area(g_area.info, g_area.info->header.info_shm_id, g_area.info->header.data_shm_id,
                               g_area.semid);
    }

    // A semaphore set created here holds no valid lock state yet, even when
    // the segments (and their blocks) survived from before.
    bool sem_created = true;
    int semid = semget(AXSHM_SEM_KEY, AXSHM_SEM_NUM, IPC_CREAT | IPC_EXCL | 0666);
    if (semid < 0 && errno == EEXIST) {
        sem_created = false;
        semid = semget(AXSHM_SEM_KEY, AXSHM_SEM_NUM, IPC_CREAT | 0666);
    }
    if (semid < 0) {
        AXSHM_LOG_ERR("create semget fail %d", errno);
        return -1;
    }
    int data_id = -1;
    int info_id = -1;
    auto *data = static_cast<uint8_t *>(attach_segment(AXSHM_DATA_KEY, AXSHM_DATA_SIZE, &data_id));
    if (data == nullptr) return -1;
    bool with_seq = true;
    ShmInfoArea *info = attach_info_segment(&info_id, &with_seq);
    if (info == nullptr) {
        shmdt(data);
        return -1;
    }
    g_area.info = info;
    g_area.data = data;
    g_area.semid = semid;
    g_area.seq = with_seq ? reinterpret_cast<ShmSequenceWords *>(info + 1)->seq : nullptr;
    g_attached.store(true, std::memory_order_release);

    if (__atomic_load_n(&info->header.magic, __ATOMIC_ACQUIRE) == AXSHM_MAGIC) {
        if (!sem_created) return 0;
        if (set_all_semaphores(semid) != 0) return -1;
        info->header.sem_id = semid;
        AXSHM_LOG_INFO("sem %d create", semid);
        return 0;
    }
    return initialise_area(info, info_id, data_id, semid);
}

PC_API int axshm_reg_data(const char *name, int length) {
    using namespace pc::ipc;
    ShmBlockRef found;
    if (shm_find_block(name, &found)) return 0;
    const ShmAttachment *area = shm_attachment();
    if (area == nullptr || name == nullptr || length <= 0) return -1;
    size_t name_len = strnlen(name, AXSHM_NAME_LEN);
    if (name_len == 0 || name_len >= AXSHM_NAME_LEN) return -1;

    ShmInfoHeader &h = area->info->header;
    int block_num = 0;
    int used = 0;
    {
        ShmLockGuard table(area->semid, kTablePair, ShmLockMode::Write);
        if (!table.held() || shm_attachment() == nullptr) return -1;
        // Another process may have registered the name since the lookup.
        for (int i = 0; i < h.block_num && i < AXSHM_BLOCK_MAX; ++i)
            if (std::strncmp(area->info->blocks[i].name, name, AXSHM_NAME_LEN) == 0) return 0;
        if (h.block_num < 0 || h.block_num >= AXSHM_BLOCK_MAX || h.used_data_len < 0 ||
            length > AXSHM_DATA_SIZE - h.used_data_len)
            return -1;
        ShmBlockRecord &r = area->info->blocks[h.block_num];
        std::memset(r.name, 0, sizeof r.name);
        std::memcpy(r.name, name, name_len);
        r.offset = h.used_data_len;
        r.index = h.block_num;
        r.length = length;
        h.block_num += 1;
        h.used_data_len += length;
        block_num = h.block_num;
        used = h.used_data_len;
    }
    AXSHM_LOG_INFO("Reg [%s], offset %d, len %d, block_num %d, used_data_len %d", name, used - length, length,
                   block_num, used);
    return 0;
}

}  // extern "C"
