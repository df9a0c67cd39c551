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

/* Command segment: System V shared memory, key 0x1234, 132 bytes. */
#define DK_CMD_SHM_KEY 0x1234
#define DK_CMD_TEXT_LEN 128
#define DK_CMD_SHM_SIZE 132
/* The segment's layout, in the CPU's byte order. */
typedef struct dk_cmd_segment {
    int32_t code;               /* DK_CMD_... */
    char text[DK_CMD_TEXT_LEN]; /* the argument, NUL-terminated */
} DK_CMD_SEGMENT_T;
/* Command codes: the tool's table and the target's SIGUSR2 commands. */
enum {
    DK_CMD_BREAK = 31,     /* b: set a breakpoint; posted by the target on a hit */
    DK_CMD_SHOW_BP = 32,   /* ib */
    DK_CMD_CONTINUE = 33,  /* c */
    DK_CMD_DUMP = 34,      /* x */
    DK_CMD_SET = 35,       /* set; in the target: address of a symbol */
    DK_CMD_STACK = 36,     /* tt: stack of a thread */
    DK_CMD_REGS = 37,      /* ir */
    DK_CMD_SYM_ADDR = 38,  /* ia: address of a symbol */
    DK_CMD_THREADS = 39,   /* it */
    DK_CMD_CALL = 40,      /* call */
    DK_CMD_SHOW_SYMS = 41, /* target: list the loaded objects */
    DK_CMD_ADDR_SYM = 42,  /* is: symbol at an address */
    DK_CMD_QUIT = 43,      /* q */
    DK_CMD_CPU = 44,       /* cpu */
    DK_CMD_MEM = 45,       /* mem */
    DK_CMD_LOAD_SO = 46,   /* target: load the shared libraries' symbols */
    DK_CMD_HELP = 47,      /* ? */
};
#define DK_BP_MAX 32
#define DK_BREAK_WORD 0x0005000Du /* MIPS "break 5" */

/* Creates the segment (or finds it); its id, or -1. */
PC_API int dk_regSigCmd(void);
/* Writes a command and its text (at most 127 characters kept); 0 or -1. */
PC_API int dk_setSigCmd(int code, const char *text);
/* Reads the command; text gets DK_CMD_TEXT_LEN bytes when not null. */
PC_API int dk_getSigCmd(int *code, char *text);

/* Runs a command inside this process, as SIGUSR2 does. */
PC_API int dk_run_command(int code, const char *text);
/* The commands themselves; each prints to standard output, 0 or -1. */
PC_API int dk_getSymbol(const char *name);
PC_API int dk_list_threads(void);
/* Calls "name()" or "0x1234abcd()" (an address inside executable code). */
PC_API int dk_callfunc(const char *text);
PC_API int dk_showSym(void);
PC_API int dk_addrsym(const char *hexAddr);
PC_API int dk_showCpu(void);
PC_API int dk_showMem(void);
PC_API int dk_lnitso(void);

/* The three MIPS stack walks over any memory: version 1 (pc and ra), 2
 * (not leaf: every frame from its prologue) or 3 (leaf: the first frame's
 * return address is ra). read(ctx, addr, &word, is_code) reads one 32-bit
 * word, code only where the walk may read code; it answers 0 on success.
 * Fills at most max frame addresses (the pc first, at most 10); returns
 * their count, or -1 for bad arguments. */
typedef int (*dk_mem_read_fn)(void *ctx, uint32_t addr, uint32_t *word, int is_code);
PC_API int dk_mips_stack_walk(int version, uint32_t pc, uint32_t ra, uint32_t sp, dk_mem_read_fn read,
                              void *ctx, uint32_t *frames, int max);

/* ---- The debugging tool (ptrace) --------------------------------------- */

PC_API int dk_attach(int pid);
PC_API int dk_detach(int pid);
/* Breakpoints in the tool's table (gEpMng, DK_BP_MAX entries). */
PC_API int dk_setbreakpoint(int pid, unsigned long addr);
PC_API int dk_setBP(int pid, const char *arg);
PC_API int dk_showBP(int pid, const char *arg);
PC_API int dk_c(int pid, const char *arg);
PC_API int dk_x(int pid, const char *arg);
PC_API int dk_p(int pid, const char *arg);
PC_API int dk_bt(int pid, const char *arg);
PC_API int dk_showReg(int pid, const char *arg);
PC_API int dk_sym_addr(int pid, const char *arg);
PC_API int dk_thread(int pid, const char *arg);
PC_API int dk_call(int pid, const char *arg);
PC_API int dk_cmd_cpu(int pid, const char *arg);
PC_API int dk_cmd_mem(int pid, const char *arg);
PC_API int dk_cmd_addrsym(int pid, const char *arg);
PC_API int dk_Quit(int pid, const char *arg);
PC_API int dk_print_help(int pid, const char *arg);
/* The table code of a command line ("name" or "name:argument"), its
 * argument (the text after the first ':') in *arg; -1 for no command. */
PC_API int dk_cmd_find(const char *line, const char **arg);
/* The command loop against process pid, reading standard input. */
PC_API int dk_dbg_proc(int pid);
/* The tool's main. */
PC_API int dk_tool_main(int argc, char **argv);

PC_END_DECLS

#endif
