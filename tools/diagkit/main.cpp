// diagkit: the debugger of the switch's processes. "diagkit <pid>" attaches
// to a process that started the in-process debugger and reads commands at
// the "dk>" prompt ('?' lists them); "diagkit ps" lists the processes.
#include "platform_core/diag.h"

int main(int argc, char **argv) { return dk_tool_main(argc, argv); }
