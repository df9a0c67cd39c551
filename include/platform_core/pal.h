/*
 * The platform abstraction layer: threads, thread-local keys, locks,
 * semaphores, condition variables, message queues, process semaphores,
 * accounted memory and time.
 *
 * Time-outs: locks, semaphores and condition waits take milliseconds,
 * message queues take microseconds; in both PAL_WAIT_FOREVER (0xFFFFFFFF)
 * waits without limit and PAL_NO_WAIT (0) tries once.
 *
 * Lock operations are called through the macros (pal_mutex_take, ...) that
 * add the caller's function and line for the log lines.
 */
#ifndef PLATFORM_CORE_PAL_H
#define PLATFORM_CORE_PAL_H

#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <time.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define PAL_WAIT_FOREVER 0xFFFFFFFFu
#define PAL_NO_WAIT 0u

/* ---- Threads ---------------------------------------------------------- */

/* The POSIX thread identifier; PAL_THREAD_INVALID reports a failed create. */
typedef pthread_t pal_thread_t;
#define PAL_THREAD_INVALID ((pal_thread_t)-1)

/* Stack bytes added to every requested stack size. */
#define PAL_THREAD_STACK_EXTRA 16384u

typedef void (*pal_thread_entry_t)(void *arg);
typedef int (*pal_thread_visit_t)(pal_thread_t id, const char *name, unsigned ss, int pid, void *cookie);

PC_API pal_thread_t pal_thread_create(const char *name, unsigned stackSize, unsigned priority,
                                      pal_thread_entry_t entry, void *arg);
PC_API void pal_thread_exit(void *retval) __attribute__((noreturn));
PC_API int pal_thread_destroy(pal_thread_t id);
PC_API char *pal_thread_name(pal_thread_t id, char *dst, unsigned len);
PC_API int pal_thread_pid(pal_thread_t id);
PC_API int pal_thread_ss(pal_thread_t id, unsigned *ss);
PC_API int pal_thread_traverse(pal_thread_visit_t hnd, void *cookie);
PC_API pal_thread_t pal_thread_self(void);
PC_API void pal_thread_resource_usage_get(unsigned *num, unsigned *stack, unsigned *maxNum,
                                          unsigned *maxStack);
PC_API void pal_thread_main_set(pal_thread_t id);
PC_API pal_thread_t pal_thread_main_get(void);
PC_API int pal_thread_yield(void);
PC_API int pal_usleep(unsigned us);
PC_API int pal_udelay(unsigned us);
PC_API int pal_sleep(unsigned seconds);
PC_API int pal_no_sleep(void);

/* Thread-local keys: a pool of 8 for the life of the process. */
#define PAL_TLS_KEY_NUM 8
typedef void *pal_tls_key_t;
PC_API pal_tls_key_t pal_tls_key_create(void (*destructor)(void *));
PC_API int pal_tls_key_set(pal_tls_key_t key, void *value);
PC_API void *pal_tls_key_get(pal_tls_key_t key);
PC_API int pal_tls_key_delete(pal_tls_key_t key);

/* Stack-overflow guard of the calling thread. siginfo_t is POSIX, not ISO
 * C: a program built as strict ISO C (-std=c11 and no _POSIX_C_SOURCE) does
 * not see the declarations that need it. <signal.h> above defines
 * _POSIX_C_SOURCE whenever the C library's POSIX names are in effect (the
 * compilers' default modes, C++). */
#if defined(_POSIX_C_SOURCE) || defined(__cplusplus)
#define PAL_HAVE_SIGINFO 1
#endif
#ifdef PAL_HAVE_SIGINFO
typedef void (*pal_sigsegv_handler_t)(int sig, siginfo_t *info, void *ctx);
PC_API int stkoflw_install(pal_sigsegv_handler_t handler);
PC_API void stkoflw_handler(int sig, siginfo_t *info, void *ctx);
#endif

/* ---- Mutexes, semaphores, condition variables ------------------------- */

typedef struct pal_mutex_s *pal_mutex_t;
typedef struct pal_sem_s *pal_sem_t;
typedef struct pal_cond_s *pal_cond_t;

PC_API pal_mutex_t pal_mutex_create(const char *name);
PC_API int pal_mutex_take_int(pal_mutex_t mutex, unsigned timeoutMs, const char *func, int line);
PC_API int pal_mutex_give_int(pal_mutex_t mutex, const char *func, int line);
PC_API void pal_mutex_destroy(pal_mutex_t mutex);
PC_API void pal_mutex_resource_usage_get(unsigned *now, unsigned *max);
#define pal_mutex_take(m, to) pal_mutex_take_int((m), (to), __func__, __LINE__)
#define pal_mutex_give(m) pal_mutex_give_int((m), __func__, __LINE__)

PC_API pal_sem_t pal_sem_create(const char *name, unsigned kind, unsigned initialCount);
PC_API int pal_sem_take_int(pal_sem_t sem, unsigned timeoutMs, const char *func, int line);
PC_API int pal_sem_give_int(pal_sem_t sem, const char *func, int line);
PC_API void pal_sem_destroy(pal_sem_t sem);
PC_API void pal_sem_resource_usage_get(unsigned *now, unsigned *max);
#define pal_sem_take(s, to) pal_sem_take_int((s), (to), __func__, __LINE__)
#define pal_sem_give(s) pal_sem_give_int((s), __func__, __LINE__)

PC_API pal_cond_t pal_cond_create(const char *name);
PC_API int pal_cond_wait(pal_cond_t cond, pal_mutex_t mutex, unsigned timeoutMs);
PC_API int pal_cond_signal(pal_cond_t cond);
PC_API void pal_cond_destroy(pal_cond_t cond);
PC_API void pal_cond_resource_usage_get(unsigned *now, unsigned *max);

PC_API int pal_spl_init(void);
PC_API int pal_splhi(void);
PC_API int pal_spl(void);
PC_API unsigned ctrl_c_unblock(void);
PC_API int pal_int_context(int a0, int a1, int a2, int a3);

/* Lock monitor hooks: every PAL mutex is known to the monitor while it lives. */
PC_API void dk_locklist_insert(pal_mutex_t mutex);
PC_API void dk_locklist_remove(pal_mutex_t mutex);
#ifdef PAL_HAVE_SIGINFO
/* Crash reporter: reports a fatal signal; the faulting thread then sleeps for good. */
PC_API void dk_sigsegv(int sig, siginfo_t *info, void *ctx) __attribute__((noreturn));
#endif

/* ---- Message queues --------------------------------------------------- */

#define PAL_MSGQ_DEFAULT_MAX_MSG 30u
#define PAL_MSGQ_DEFAULT_MSG_SIZE 128u
#define PAL_MSGQ_PRIORITY_NUM 256u
enum {
    PAL_MSGQ_READ = 0x1,
    PAL_MSGQ_WRITE = 0x2,
    PAL_MSGQ_RDWR = 0x4,
    PAL_MSGQ_NONBLOCK = 0x8,
};

PC_API int pal_msgQ_init(void);
PC_API int pal_msgQ_create(const char *name, unsigned maxMsg, unsigned msgSize, unsigned flags);
PC_API void pal_msgQ_close(int q);
PC_API void pal_msgQ_destroy(const char *name);
/* Unlinks every queue this process created. The kernel charges queue memory
 * to the user until a queue is unlinked, also after its creator ended: a
 * process that stops for good (the core process on SIGTERM) calls this. */
PC_API void pal_msgQ_remove_created(void);
PC_API int pal_msgQ_send(int q, const void *buf, unsigned len, unsigned priority, unsigned timeoutUs);
PC_API int pal_msgQ_receive(int q, void *buf, unsigned len, unsigned timeoutUs, unsigned *priority);
PC_API int pal_msgQ_getMaxMsgNum(int q);
PC_API int pal_msgQ_getMaxMsgSize(int q);

/* ---- Process semaphores ----------------------------------------------- */

#define PAL_PROC_SEM_DIR "/tmp/proc_sync"
typedef struct pal_proc_sem_s *pal_proc_sem_t;
PC_API pal_proc_sem_t pal_proc_sem_create(const char *name, int initial);
PC_API pal_proc_sem_t pal_proc_sem_open(const char *name);
PC_API int pal_proc_sem_take(pal_proc_sem_t handle, int timeoutMs);
PC_API int pal_proc_sem_give(pal_proc_sem_t handle);
PC_API int pal_proc_sem_close(pal_proc_sem_t handle);
PC_API int pal_proc_sem_destroy(pal_proc_sem_t handle);

/* ---- Accounted memory ------------------------------------------------- */

PC_API void *pal_alloc(unsigned size, const char *tag);
PC_API void *pal_calloc(unsigned count, unsigned size, const char *tag);
PC_API void *pal_realloc(void *ptr, unsigned size, const char *tag);
PC_API void pal_free(void *ptr);
PC_API int pal_alloc_memflow_detect(void);
PC_API int pal_alloc_stat(void);
PC_API void pal_alloc_resource_usage_get(unsigned *now, unsigned *max);
PC_API int _pal_alloc_preinit(void);

/* ---- Time ------------------------------------------------------------- */

PC_API long long pal_time_msecs(void);
PC_API unsigned long long pal_time_usecs(void);
PC_API long long pal_time(void);
PC_API double pal_time_double(void);
PC_API int pal_compute_timeout_ms(struct timespec *ts, unsigned ms);
PC_API int pal_compute_timeout(struct timespec *ts, unsigned us);

PC_END_DECLS

#endif
