/*
 * Resource monitors and the in-process debugger.
 *
 * Monitors. Any process may start four watchdog threads that look at its
 * own health every interval and print a report to standard output when a
 * threshold is crossed: CPU use ("cpu_monitor"), memory use
 * ("memory_monitor"), thread stacks ("stack_monitor") and mutexes that look
 * dead-locked ("lock_monitor"). Each has an init (start; -1 when it is on
 * already), a deinit (stop; -1 when it is off), a restart and option
 * setters; every report line starts "<diagKit: yyyy.mm.dd hh:mm:ss>". Each
 * monitor's state is guarded by its own PAL mutex ("CpuMonMutex",
 * "MemMonMutex", "StackMonMutex", "LockMonMutex"). The first check runs as
 * the monitor starts, then one every interval.
 *
 * Every PAL mutex is known to the lock monitor from its creation
 * (dk_locklist_insert) to its destruction (dk_locklist_remove), so a
 * monitor started late watches the mutexes made before it too. A mutex is
 * reported when one thread has held it for six checks and then used no CPU
 * for six more; the report names the other mutexes that thread holds and
 * prints its stack.
 *
 * Debugger. dk_initation installs the crash reporter (SIGSEGV, SIGABRT,
 * SIGBUS) and the handlers for the debugging tool's requests: SIGUSR2 runs
 * the command posted in the command segment (System V shared memory, key
 * 0x1234: a 32-bit code and 128 bytes of text), SIGUSR1 prints the stack of
 * the thread that receives it, SIGTRAP reports a breakpoint hit and stops
 * the process for the tool. The tool (program "diagkit") attaches with
 * ptrace, sets breakpoints and reads and writes memory.
 */
#ifndef PLATFORM_CORE_DIAG_H
#define PLATFORM_CORE_DIAG_H

#include <signal.h>
#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/pal.h"

PC_BEGIN_DECLS

/* ---- Monitors ---------------------------------------------------------- */

#define DK_MON_STACK_SIZE 16384
#define DK_MON_PRIORITY 40
#define DK_MON_DEFAULT_INTERVAL 5

/* CPU monitor options (defaults): interval in seconds (5), tasks listed
 * (10), kind of task listed (1 threads of this process, 2 processes),
 * high water in percent, 0..100 (90). */
enum {
    DK_MON_CPU_OPT_INTERVAL = 1,
    DK_MON_CPU_OPT_TOP_NUM = 2,
    DK_MON_CPU_OPT_TASK_KIND = 3,
    DK_MON_CPU_OPT_HIGH_WATER = 4,
};
enum { DK_MON_TASK_THREAD = 1, DK_MON_TASK_PROCESS = 2 };
/* Memory monitor options (defaults): interval (5), high water (80),
 * processes listed (5). */
enum {
    DK_MON_MEM_OPT_INTERVAL = 1,
    DK_MON_MEM_OPT_HIGH_WATER = 2,
    DK_MON_MEM_OPT_TOP_NUM = 3,
};
/* Stack monitor options (defaults): interval (5), high water (90). */
enum { DK_MON_STACK_OPT_INTERVAL = 1, DK_MON_STACK_OPT_HIGH_WATER = 2 };
/* Lock monitor option (default): interval (5). */
enum { DK_MON_LOCK_OPT_INTERVAL = 1 };

PC_API int dk_mon_cpu_init(void);
PC_API int dk_mon_cpu_deinit(void);
PC_API int dk_mon_cpu_restart(void);
PC_API int dk_mon_cpu_options_set(int option, int value);
/* The usage seen by the last check in percent; -1 while the monitor is off. */
PC_API double dk_mon_cpu_usage_get(void);
PC_API int dk_mon_cpu_printusage(void);
PC_API int dk_mon_cpu_printtop(void);
/* User plus system time (clock ticks) of thread `task` of this process
 * (kind 1) or of process `task` (kind 2); -1 when it cannot be read. */
PC_API long dk_mon_cpu_gettasktime(int task, int kind);

PC_API int dk_mon_mem_init(void);
PC_API int dk_mon_mem_deinit(void);
PC_API int dk_mon_mem_restart(void);
PC_API int dk_mon_mem_options_set(int option, int value);
PC_API double dk_mon_mem_usage_get(void);
PC_API int dk_mon_mem_printusage(void);
PC_API int dk_mon_mem_printtop(void);

PC_API int dk_mon_stack_init(void);
PC_API int dk_mon_stack_deinit(void);
PC_API int dk_mon_stack_restart(void);
PC_API int dk_mon_stack_options_set(int option, int value);
PC_API int dk_mon_stack_printall(void);
/* Prints the record of the thread with kernel task id tid; -1 when unknown. */
PC_API int dk_mon_stack_getbytid(int tid);

PC_API int dk_mon_lock_init(void);
PC_API int dk_mon_lock_deinit(void);
PC_API int dk_mon_lock_restart(void);
PC_API int dk_mon_lock_options_set(int option, int value);

/* ---- Debugger inside the process ------------------------------------- */

PC_API int dk_initation(void);
/* Prints the stack of thread `tid` of this process (the thread prints it
 * itself, from its SIGUSR1 handler); -1 when it did not answer. */
PC_API int dk_getThreadStack(int tid);
/* Prints the stack of the calling thread from a signal context
 * (ucontext_t *): "Stack information:" and the frames. */
PC_API void dk_getStack(void *context);

PC_END_DECLS

#endif
