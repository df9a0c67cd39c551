// The symbol table of an ELF file, read from its bytes.
//
// The debugger finds a process's functions and data by name and names the
// code at an address. The dynamic loader knows only exported symbols; a
// program's own static and hidden functions are in the file's .symtab
// (what `nm` and `readelf -s` show). This reader takes a file's bytes,
// 32- or 64-bit, either byte order (the switch's files are 32-bit
// big-endian, the host's 64-bit little-endian), and returns the defined
// functions and data objects of its .symtab, or of its .dynsym when the
// file was stripped. Every offset, size and count in the file is checked
// against the bytes before it is used: the file is outside input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pc::diag {

struct ElfSymbol {
    std::string name;
    uint64_t value = 0;  // st_value: the address before the load bias is added
    uint64_t size = 0;
    bool function = false;  // STT_FUNC (otherwise STT_OBJECT)
};

// Appends the symbols of `image` to `out`; false (with `out` unchanged)
// when the image is not an ELF file or its section headers do not lie
// inside it. A symbol table that runs past the image is read as far as it
// lies inside; names that do not end inside their string table are left out.
bool read_elf_symbols(std::span<const uint8_t> image, std::vector<ElfSymbol> *out);

}  // namespace pc::diag
