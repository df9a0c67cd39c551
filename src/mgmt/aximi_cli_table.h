// The table of CLI commands registered by feature processes (see
// platform_core/aximi_cli.h): kept in the core, filled by "aximiCliCmdReg",
// read by "aximiCliCmdList", emptied of a process's commands when the hub
// sees that process go.
#pragma once

#include <cstdint>

#include "platform_core/aximi_cli.h"

namespace pc::mgmt::imi::cli {

// RPC parameter names.
inline constexpr const char *kParaWords = "cliWords";
inline constexpr const char *kParaSynopsis = "cliArgs";
inline constexpr const char *kParaHelp = "cliHelp";
inline constexpr const char *kParaFunc = "cliFunc";
inline constexpr const char *kParaDelete = "cliDelete";
inline constexpr const char *kParaRet = "cliRet";
inline constexpr const char *kParaCount = "cliCount";
inline constexpr const char *kParaPid = "cliPid";

// True when `words` are 1..AXIMI_CLI_WORD_COUNT_MAX words of letters,
// digits, '-', '_' and '.', separated by single blanks, at most
// AXIMI_CLI_WORDS_MAX characters.
bool words_valid(const char *words);
// True when `text` is null or printable, at most `max` characters.
bool text_valid(const char *text, size_t max);

// Table operations; -1 for invalid text or a full table.
int table_add(int32_t pid, const char *words, const char *synopsis, const char *help, const char *funcName);
// Removes the entry of `words` when `pid` owns it; -1 otherwise.
int table_remove(int32_t pid, const char *words);
// Removes every entry of `pid`: the hub's hook for a process that went
// away (its commands leave with it; it registers them again when it comes
// back). Registered by axImiInit in the core.
void drop_process(uint32_t pid);

// Serves the two RPC functions; registered by axImiInit.
int serve_register(AXRPC_PARA_T *in, AXRPC_PARA_T *out);
int serve_list(AXRPC_PARA_T *in, AXRPC_PARA_T *out);

}  // namespace pc::mgmt::imi::cli
