// State of the management interface in one process: its roles, the
// server's function table and the client's hooks.
#pragma once

#include <atomic>

#include "platform_core/aximi.h"
#include "platform_core/platform.h"

namespace pc::mgmt::imi {

inline constexpr unsigned kMid = MID_AXIMI;
inline constexpr const char *kTag = "axIMI";
inline constexpr unsigned kTableBuckets = 32;
inline constexpr int kPrintBufLen = 256;  // formatted text that needs no allocation
// How long a worker waits for its UI: for a print to be shown, and for the
// user's answer to a question. Bounded, so a UI that stops serving never
// holds a worker of the server for good; a UI whose process goes lets the
// worker go at once.
inline constexpr unsigned short kPrintWaitS = 30;
inline constexpr unsigned short kAnswerWaitS = 120;

// Role bits (IMI_PROC_*); set by the init calls, cleared by axImiDeInit.
extern std::atomic<int> procType;
// Client hooks; set by axImiInitForUI, the print hook cleared by axImiDeInit.
extern std::atomic<AXIMI_PRINT_HOOK> printHook;
extern std::atomic<AXIMI_USER_INFO_HOOK> userInfoHook;

inline bool is_server() { return (IMI_PROC_SERVER & procType.load()) != 0; }
inline bool is_client() { return (IMI_PROC_CLIENT & procType.load()) != 0; }

// Function table (server).
int table_init();
void table_destroy();
int table_insert(const char *name, AXIMI_FUNC hook, int execFlag);
int table_delete(const char *name);
// Copies the function and its flag out under the table lock.
bool table_find(const char *name, AXIMI_FUNC *hook, int *execFlag);

// Thread-local keys, created once per process.
int tls_init();
// Print direction block.
int direction_init();
// Clears the calling thread's output-to-UI flag.
void set_print_flag_off();
// A new request starts: its UI is taken as reachable until a print to it
// fails (then the request's later prints fail at once, unsent).
void ui_reachable_again();

}  // namespace pc::mgmt::imi
