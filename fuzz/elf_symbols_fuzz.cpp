// Fuzzes the debugger's ELF symbol table reader: the file of a program or
// library is outside input. The bytes are read as they come and once more
// with a valid identification (magic, class and byte order chosen by the
// input), so the run reaches the section and symbol tables of all four
// kinds of file. Nothing may be read outside the image, and every symbol
// returned must have a name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "diag/elf_symbols.h"

namespace {

void read_all(std::span<const uint8_t> image) {
    std::vector<pc::diag::ElfSymbol> symbols;
    pc::diag::read_elf_symbols(image, &symbols);
    for (const auto &s : symbols)
        if (s.name.empty()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> image(data, data + size);
    read_all(image);
    if (size >= 6) {
        const uint8_t cls = static_cast<uint8_t>(1 + (image[4] & 1));
        const uint8_t order = static_cast<uint8_t>(1 + (image[5] & 1));
        image[0] = 0x7F;
        image[1] = 'E';
        image[2] = 'L';
        image[3] = 'F';
        image[4] = cls;
        image[5] = order;
        read_all(image);
    }
    return 0;
}
