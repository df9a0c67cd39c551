/*
 * Process start-up and supervision.
 *
 * Module loading handshake. The shared block "mm_table" (1024 bytes) holds
 * 128 entries of two native 32-bit words {module id, state}, indexed by the
 * module id (1..127; entry 0 is never written). A module whose feature code
 * runs partly in the core process and partly in its own process calls
 * mm_load_plugin on both sides; the core side decides, by its flag, which
 * side's initialisation runs first, and both sides block until the other
 * has done its share. Entries are changed in place under the block's write
 * lock, so processes changing different modules never undo each other.
 *
 * Supervisor channels. The supervisor reads and writes named pipes under
 * /axbase/exe/app/sbin; an application process reports on
 * "app_to_scm_channel" that it started (0xF008) and, once a minute, that it
 * is alive (0xF009). A pipe nobody reads is reported as a failed send, never
 * waited on.
 *
 * Reboot requests. The message queue "/sysrbtrqst" (10 messages of 8 bytes)
 * carries {second argument, first argument}; the process that reads it and
 * reboots is outside this library.
 *
 * On the host, the variable PLATFORM_ROOT (when set) is prefixed to the
 * system paths used here (/axbase, /etc/imgnum.conf, /dev/ttyS0).
 */
#ifndef PLATFORM_CORE_APP_H
#define PLATFORM_CORE_APP_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* ---- Module loading handshake ---------------------------------------- */

#define MM_TABLE_NAME "mm_table"
#define MM_TABLE_ENTRIES 128
#define MM_TABLE_SIZE 1024 /* MM_TABLE_ENTRIES entries of two 32-bit words */
#define MM_STATE_LOAD_BEGIN 0xFF00
#define MM_STATE_LOAD_COMMIT 0xFF01
#define MM_WAIT_POLL_MS 200

/* One entry of the module table, in the CPU's byte order. */
typedef struct mm_entry {
    uint32_t mid;   /* the module id the entry belongs to; 0 never written */
    uint32_t state; /* MM_STATE_... or what mm_setstat wrote */
} MM_ENTRY_T;

typedef int (*mm_init_fn)(void);

PC_API int mm_initation(void);
PC_API int mm_getstat(int mid);
PC_API int mm_setstat(int mid, int state);
PC_API int mm_load_begin(int mid);
PC_API int mm_load_commit(int mid);
PC_API int mm_wait(int mid, int state);
PC_API int mm_load_plugin(int mid, mm_init_fn init, int flag);

/* ---- Supervisor channels ---------------------------------------------- */

enum {
    MS_CHANNEL_SCM_TO_MONITOR = 0xFF01,
    MS_CHANNEL_MONITOR_TO_SCM = 0xFF02,
    MS_CHANNEL_SCM_TO_APP = 0xFF03,
    MS_CHANNEL_APP_TO_SCM = 0xFF04,
};
enum {
    MS_MSG_APP_STARTED = 0xF008,
    MS_MSG_APP_ALIVE = 0xF009,
};
#define MS_CHANNEL_DIR "/axbase/exe/app/sbin"
#define MS_NAME_LEN 64
#define MS_APP_NAME_MAX 32
#define MS_HEARTBEAT_SECONDS 60
#define MS_IMAGE_NUM_FILE "/etc/imgnum.conf"

/* The 72-byte message on a supervisor pipe, in the CPU's byte order. */
typedef struct ms_msg {
    uint32_t type;          /* channel type, MS_CHANNEL_... */
    uint32_t code;          /* MS_MSG_... */
    char name[MS_NAME_LEN]; /* process or program name, NUL-padded */
} MS_MSG_T;

PC_API int ms_SentMsg(const MS_MSG_T *msg);
PC_API int appStartUpRsp(const char *name);
PC_API void app_HBTask(void *name);
/* The program name kept by appStartUpRsp ("" before it). */
PC_API const char *appProgramName(void);
/* The image number in /etc/imgnum.conf (4 bytes, big-endian); 1 when the
 * file cannot be read. */
PC_API int ms_GetImageNum(void);
PC_API int ms_SetImageNum(int num);

/* ---- Reboot requests -------------------------------------------------- */

#define SYS_REBOOT_QUEUE "/sysrbtrqst"
#define SYS_REBOOT_QUEUE_DEPTH 10
#define SYS_REBOOT_MSG_SIZE 8

/* A reboot request on the queue, in the CPU's byte order. */
typedef struct sys_reboot_req {
    uint32_t second; /* sysReboot_local's second argument */
    uint32_t first;  /* its first argument */
} SYS_REBOOT_REQ_T;

PC_API int sysRebootInit(void);
PC_API int sysReboot_local(int a, int b);

PC_END_DECLS

#endif
