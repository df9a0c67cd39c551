/*
 * Commands of feature processes in the command-line client.
 *
 * A feature process that serves management functions (axImiInit) makes
 * them first-class CLI commands with axImiCliRegister: the command's words
 * ("show lldp neighbors"), a synopsis of what may follow them, one line of
 * help and the management function that runs it. The registration is kept
 * by the core process in one table of at most AXIMI_CLI_CMD_MAX commands
 * under the mutex "AXIMI_CLI_CMD_LOCK", each with the process that
 * registered it (taken from the request, never from what the registrant
 * says). The command-line client asks the core for the table
 * (axImiCliList) and offers the commands beside its own, with completion
 * and "?" help; running one executes the function in the registrant's
 * process with axImiExecute, the words typed after the command's words in
 * the text parameter AXIMI_CLI_ARGS.
 *
 * RPC functions, served in every management server and used in the core:
 * "aximiCliCmdReg" (parameters "cliWords", "cliArgs", "cliHelp",
 * "cliFunc"; flag "cliDelete" removes instead) answers "cliRet" 0 or -1;
 * "aximiCliCmdList" answers "cliCount" and, for i from 0, "cliPid<i>",
 * "cliWords<i>", "cliArgs<i>", "cliHelp<i>", "cliFunc<i>".
 *
 * Registering the same words again (from the same process, or from a
 * process that took over a command) replaces the entry. A process's
 * commands live as long as both it and the core: when the hub sees the
 * process go, the core drops them (the command-line client then no longer
 * knows them); when the core starts anew, the process registers them again
 * (axImiCliRegisterAgain, which the messaging client calls after each
 * reconnection to the hub).
 */
#ifndef PLATFORM_CORE_AXIMI_CLI_H
#define PLATFORM_CORE_AXIMI_CLI_H

#include "platform_core/api.h"
#include "platform_core/aximi.h"

PC_BEGIN_DECLS

#define AXIMI_CLI_CMD_MAX 256      /* commands the core keeps */
#define AXIMI_CLI_WORDS_MAX 127    /* characters of a command's words */
#define AXIMI_CLI_WORD_COUNT_MAX 8 /* words of one command */
#define AXIMI_CLI_SYNOPSIS_MAX 63  /* characters of its argument synopsis */
#define AXIMI_CLI_HELP_MAX 127     /* characters of its help line */

/* RPC functions. */
#define AXIMI_CLI_REG_FUNC "aximiCliCmdReg"
#define AXIMI_CLI_LIST_FUNC "aximiCliCmdList"
/* Parameter of the executed management function: the words the user typed
 * after the command's words, separated by one blank ("" when none). */
#define AXIMI_CLI_ARGS "cliArgs"

typedef struct AXIMI_CLI_CMD_S {
    const char *words;    /* keywords separated by blanks: letters, digits, '-', '_', '.' */
    const char *synopsis; /* what may follow the words ("[PORTS]"), or null */
    const char *help;     /* one line */
    const char *funcName; /* management function of this process that runs it */
} AXIMI_CLI_CMD_T;

/* Registers `cmd` with the core, and `hook` as its management function in
 * this process when `hook` is not null (execFlag IMI_EXEC_MASTER_ONLY).
 * Needs axImiInit and, outside the core, RPC and the hub connection.
 * 0, or -1 for bad words or text, a full table or a core that did not
 * answer (the function registered here is then removed again). */
PC_API int axImiCliRegister(const AXIMI_CLI_CMD_T *cmd, AXIMI_FUNC hook);
/* Removes the command with these words if this process registered it, and
 * its management function when `funcName` is not null. 0 or -1. */
PC_API int axImiCliUnregister(const char *words, const char *funcName);

/* In a process other than the core: registers every command this process
 * registered (and did not remove) with the core again, in the order first
 * registered. Every command is tried; 0, or -1 when the core refused or did
 * not answer one of them. */
PC_API int axImiCliRegisterAgain(void);

/* One command of the table, as axImiCliList hands it over. */
typedef int (*AXIMI_CLI_VISIT)(void *arg, int pid, const char *words, const char *synopsis, const char *help,
                               const char *funcName);
/* Calls `visit` for each command the core knows, in registration order;
 * a non-zero result stops the walk. Returns the number of commands, or -1
 * when the core did not answer within `waitSeconds` (RPC seconds). */
PC_API int axImiCliList(AXIMI_CLI_VISIT visit, void *arg, unsigned short waitSeconds);

PC_END_DECLS

#endif
