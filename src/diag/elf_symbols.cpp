#include "diag/elf_symbols.h"

#include <optional>

namespace pc::diag {
namespace {

constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kClass32 = 1, kClass64 = 2;
constexpr uint8_t kDataLittle = 1, kDataBig = 2;
constexpr uint32_t kShtSymtab = 2, kShtDynsym = 11;
constexpr uint8_t kSttObject = 1, kSttFunc = 2;
constexpr uint16_t kShnUndef = 0, kShnAbs = 0xFFF1;  // ABS: a constant, not a place (version names)

// Where the fields lie in the two file classes.
struct Layout {
    size_t sh_off, sh_entsize_off, sh_num_off;  // in the file header
    size_t shdr_size;                           // one section header
    size_t sh_type, sh_offset, sh_size, sh_link, sh_entsize;
    size_t sym_size;  // one symbol
    size_t st_name, st_value, st_size, st_info, st_shndx;
    unsigned word;  // bytes of an address or offset
};

constexpr Layout kElf32{0x20, 0x2E, 0x30, 40, 4, 16, 20, 24, 36, 16, 0, 4, 8, 12, 14, 4};
constexpr Layout kElf64{0x28, 0x3A, 0x3C, 64, 4, 24, 32, 40, 56, 24, 0, 8, 16, 4, 6, 8};

// Reads fixed-width integers of the file's byte order at offsets checked
// against the image.
class ElfBytes {
public:
    ElfBytes(std::span<const uint8_t> bytes, bool big) : bytes_(bytes), big_(big) {}

    uint64_t size() const { return bytes_.size(); }

    bool inside(uint64_t offset, uint64_t len) const {
        return offset <= bytes_.size() && len <= bytes_.size() - offset;
    }

    std::optional<uint64_t> get(uint64_t offset, unsigned width) const {
        if (!inside(offset, width)) return std::nullopt;
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i) {
            unsigned shift = big_ ? 8 * (width - 1 - i) : 8 * i;
            v |= static_cast<uint64_t>(bytes_[offset + i]) << shift;
        }
        return v;
    }

    // The text at `offset` within [start, start + len), when it ends there.
    std::optional<std::string> text(uint64_t start, uint64_t len, uint64_t offset) const {
        if (!inside(start, len) || offset >= len) return std::nullopt;
        auto table = bytes_.subspan(start, len).subspan(offset);
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i] == 0) return std::string(reinterpret_cast<const char *>(table.data()), i);
        return std::nullopt;
    }

private:
    std::span<const uint8_t> bytes_;
    bool big_;
};

struct Section {
    uint32_t type = 0;
    uint64_t offset = 0, size = 0, entsize = 0;
    uint32_t link = 0;
};

class ElfFile {
public:
    ElfFile(const ElfBytes &bytes, const Layout &l) : b_(bytes), l_(l) {}

    bool read_headers() {
        auto shoff = b_.get(l_.sh_off, l_.word);
        auto entsize = b_.get(l_.sh_entsize_off, 2);
        auto num = b_.get(l_.sh_num_off, 2);
        if (!shoff || !entsize || !num || *shoff == 0 || *entsize < l_.shdr_size) return false;
        shoff_ = *shoff;
        entsize_ = *entsize;
        count_ = *num;
        if (count_ == 0) {  // extended numbering: the count is section 0's size
            auto first = section(0);
            if (!first) return false;
            count_ = first->size;
        }
        // Every header must lie inside the image (this bounds the count too).
        return count_ != 0 && count_ <= UINT64_MAX / entsize_ && b_.inside(shoff_, count_ * entsize_);
    }

    uint64_t count() const { return count_; }

    std::optional<Section> section(uint64_t index) const {
        const uint64_t at = shoff_ + index * entsize_;
        auto type = b_.get(at + l_.sh_type, 4);
        auto offset = b_.get(at + l_.sh_offset, l_.word);
        auto size = b_.get(at + l_.sh_size, l_.word);
        auto link = b_.get(at + l_.sh_link, 4);
        auto ent = b_.get(at + l_.sh_entsize, l_.word);
        if (!type || !offset || !size || !link || !ent) return std::nullopt;
        return Section{static_cast<uint32_t>(*type), *offset, *size, *ent, static_cast<uint32_t>(*link)};
    }

    void symbols(const Section &symtab, std::vector<ElfSymbol> *out) const {
        auto strtab = symtab.link < count_ ? section(symtab.link) : std::nullopt;
        if (!strtab || symtab.entsize < l_.sym_size || !b_.inside(symtab.offset, 0)) return;
        // Only the entries that lie inside the image are read.
        const uint64_t room = (b_.size() - symtab.offset) / symtab.entsize;
        const uint64_t n = symtab.size / symtab.entsize < room ? symtab.size / symtab.entsize : room;
        for (uint64_t i = 1; i < n; ++i) {  // entry 0 is the null symbol
            const uint64_t at = symtab.offset + i * symtab.entsize;
            if (!b_.inside(at, l_.sym_size)) return;
            auto info = b_.get(at + l_.st_info, 1);
            auto shndx = b_.get(at + l_.st_shndx, 2);
            const uint8_t type = static_cast<uint8_t>(*info & 0xF);
            if (*shndx == kShnUndef || *shndx == kShnAbs || (type != kSttFunc && type != kSttObject))
                continue;
            auto name = b_.text(strtab->offset, strtab->size, *b_.get(at + l_.st_name, 4));
            if (!name || name->empty()) continue;
            out->push_back(ElfSymbol{std::move(*name), *b_.get(at + l_.st_value, l_.word),
                                     *b_.get(at + l_.st_size, l_.word), type == kSttFunc});
        }
    }

private:
    const ElfBytes &b_;
    const Layout &l_;
    uint64_t shoff_ = 0, entsize_ = 0, count_ = 0;
};

}  // namespace

bool read_elf_symbols(std::span<const uint8_t> image, std::vector<ElfSymbol> *out) {
    if (out == nullptr || image.size() < 16) return false;
    for (size_t i = 0; i < sizeof kElfMagic; ++i)
        if (image[i] != kElfMagic[i]) return false;
    const uint8_t cls = image[4], data = image[5];
    if ((cls != kClass32 && cls != kClass64) || (data != kDataLittle && data != kDataBig)) return false;
    ElfBytes bytes(image, data == kDataBig);
    ElfFile file(bytes, cls == kClass32 ? kElf32 : kElf64);
    if (!file.read_headers()) return false;
    // .symtab holds everything .dynsym does and the file's own symbols.
    std::optional<Section> table;
    for (uint64_t i = 0; i < file.count(); ++i) {
        auto s = file.section(i);
        if (!s) return false;
        if (s->type == kShtSymtab) {
            table = s;
            break;
        }
        if (s->type == kShtDynsym && !table) table = s;
    }
    if (table) file.symbols(*table, out);
    return true;
}

}  // namespace pc::diag
