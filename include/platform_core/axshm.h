/*
 * Shared data blocks.
 *
 * Data that every process of the switch reads quickly (debug switches, unit
 * and port properties, the valid port list, ...) lives in named blocks of
 * one System V shared memory area. Three System V objects with fixed keys
 * make up the service:
 *
 *   key 4215  semaphore set, 130 semaphores (65 readers-writer pairs)
 *   key 4210  data area, 4 MiB; blocks laid out back to back
 *   key 4209  information area: a 24-byte header and 64 block records
 *
 * Pair 0 guards the block table, pair i + 1 guards block i. A pair is a
 * write semaphore (0 free, 1 held) and a reader counter (64 free slots);
 * every operation uses SEM_UNDO so the kernel releases what a dying process
 * held. Blocks are registered by name (at most 31 characters) and are never
 * removed. Data in the area is in the CPU's native byte order.
 *
 * The first axshm_init() of the machine creates and initialises the objects;
 * every later one only attaches. Every other call fails with -1 until the
 * calling process has attached.
 */
#ifndef PLATFORM_CORE_AXSHM_H
#define PLATFORM_CORE_AXSHM_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define AXSHM_SEM_KEY 4215
#define AXSHM_DATA_KEY 4210
#define AXSHM_INFO_KEY 4209

#define AXSHM_MAGIC 64207       /* 0xFACF: the information area is initialised */
#define AXSHM_DATA_SIZE 4194304 /* bytes of the data area */
#define AXSHM_BLOCK_MAX 64      /* block records */
#define AXSHM_NAME_LEN 32       /* name field, NUL included */
#define AXSHM_SEM_NUM 130       /* (AXSHM_BLOCK_MAX + 1) pairs */
#define AXSHM_READER_SLOTS 64   /* readers of one block at once */
#define AXSHM_INFO_SIZE 2840    /* 24-byte header + 64 records of 44 bytes */

/* Bits of axshm_debug_level: error lines and information lines. */
#define AXSHM_DEBUG_ERR 0x1
#define AXSHM_DEBUG_INFO 0x2
PC_API extern int axshm_debug_level;

PC_API int axshm_init(void);
/* Registers block `name` of `length` bytes; an existing name succeeds unchanged. */
PC_API int axshm_reg_data(const char *name, int length);
/* Copies `len` bytes (at most the block's length) into the block. */
PC_API int axshm_set_data(const char *name, const void *buf, int len);
/* Copies the whole block out; `len` must equal the block's length. */
PC_API int axshm_get_data(const char *name, void *buf, int len);
/* Address of the block in this process and its length, for direct access
 * bracketed by the take/give calls below. */
PC_API int axshm_get_data_addr(const char *name, void **addr, int *len);
PC_API int axshm_read_data_take(const char *name);
PC_API int axshm_read_data_give(const char *name);
PC_API int axshm_write_data_take(const char *name);
PC_API int axshm_write_data_give(const char *name);
/* Listings: every semaphore's value; the area and every registered block. */
PC_API void axshm_show_sem(void);
PC_API int axshm_show_info(void);

PC_END_DECLS

#endif
