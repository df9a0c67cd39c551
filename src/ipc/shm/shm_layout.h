// Byte layout of the shared data area's information segment.
//
// The information segment (key 4209) is read and written by every process
// of the machine, so its layout is fixed: a header of six 32-bit integers
// followed by 64 block records of 44 bytes, all in native byte order and
// without pointers. The header's block_num and used_data_len and every
// record are owned by the registration code and guarded by semaphore pair 0
// (the table lock); magic and the three ids are written once by the process
// that initialises the area, before it publishes the magic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform_core/axshm.h"

namespace pc::ipc {

struct ShmInfoHeader {
    int32_t magic;          // AXSHM_MAGIC once the area and its semaphores are ready
    int32_t info_shm_id;    // shared-memory id of the information segment
    int32_t data_shm_id;    // shared-memory id of the data segment
    int32_t sem_id;         // id of the semaphore set
    int32_t block_num;      // records in use (table lock)
    int32_t used_data_len;  // bytes of the data segment handed out (table lock)
};

struct ShmBlockRecord {
    char name[AXSHM_NAME_LEN];  // NUL-terminated
    int32_t offset;             // start of the block in the data segment
    int32_t index;              // position of the record, 0..63
    int32_t length;             // size in bytes; 0 while the record is unused
};

struct ShmInfoArea {
    ShmInfoHeader header;
    ShmBlockRecord blocks[AXSHM_BLOCK_MAX];
};

static_assert(sizeof(ShmInfoHeader) == 24);
static_assert(sizeof(ShmBlockRecord) == 44);
static_assert(offsetof(ShmBlockRecord, offset) == 32);
static_assert(offsetof(ShmBlockRecord, index) == 36);
static_assert(offsetof(ShmBlockRecord, length) == 40);
static_assert(offsetof(ShmInfoArea, blocks) == 24);
static_assert(sizeof(ShmInfoArea) == AXSHM_INFO_SIZE);
static_assert(AXSHM_SEM_NUM == 2 * (AXSHM_BLOCK_MAX + 1));

// Behind the table, in the same segment, one write sequence word per
// semaphore pair: a writer makes it odd once it holds the pair's write lock
// and even (one more) before it lets go, so a reader can copy a block
// without a system call and know the copy is whole when the word was even
// and unchanged around it (shm_seqlock.h). A writer killed inside leaves
// the word odd: readers then take the lock, as they always could, until
// the next writer finishes. The table's first AXSHM_INFO_SIZE bytes keep
// their layout.
struct ShmSequenceWords {
    uint32_t seq[AXSHM_BLOCK_MAX + 1];  // index: the semaphore pair
};
inline constexpr size_t kInfoSegmentSize = sizeof(ShmInfoArea) + sizeof(ShmSequenceWords);
static_assert(sizeof(ShmInfoArea) % alignof(ShmSequenceWords) == 0);
static_assert(kInfoSegmentSize == AXSHM_INFO_SIZE + 4 * (AXSHM_BLOCK_MAX + 1));

// Semaphore pair that guards the block table, and the pair of block `index`.
inline constexpr int kTablePair = 0;
constexpr int block_pair(int index) { return index + 1; }

}  // namespace pc::ipc
