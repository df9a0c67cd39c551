// The symbols of this process: every loaded object's ELF symbol table
// (the program's own .symtab where the file has one, so static and hidden
// functions are found too), at the addresses where the objects are loaded
// (the table's value plus the object's load bias, as `readelf -s` shows
// them plus the bias). Objects whose file cannot be read (the vDSO) are
// left to the dynamic loader, which the callers fall back to.
//
// Loaded once on first use and again on request (the tool asks when it
// attaches); guarded by its own mutex, so the debugger's thread and any
// other thread may look up at once. Not for signal handlers (it allocates).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pc::diag {

struct SymbolAt {
    std::string name;
    uintptr_t start = 0;  // the symbol's address
    std::string file;     // the object that holds it
};

// Reads the symbol tables of every loaded object again; the number of
// objects whose table was read.
int reload_process_symbols();

// The address of a defined function or data object named `name`: the first
// found, the program before its libraries, in load order.
std::optional<uintptr_t> process_symbol_address(const std::string &name);

// The symbol whose extent holds `addr` (or that starts there).
std::optional<SymbolAt> process_symbol_at(uintptr_t addr);

}  // namespace pc::diag
