// Byte-addressed reads and writes on the chip, split into sector pieces.
// Writes are read-modify-write per sector unless the name says otherwise.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "flash/flash_internal.h"
#include "platform_core/flash.h"
#include "platform_core/sibling.h"

namespace {

constexpr const char *kProgressMark = "######################";

// One piece of a byte range: the part of [addr, addr + len) in one sector.
struct Piece {
    int sector;
    unsigned offset;  // inside the sector
    unsigned len;
    unsigned done;  // bytes of the range before this piece
};

// Calls fn for each sector piece of the range; stops at the first non-zero.
template <typename Fn>
int for_each_piece(unsigned len, unsigned addr, Fn fn) {
    unsigned size = flashGetSectorSize();
    if (size == 0) return -1;
    if (static_cast<uint64_t>(addr) + len > static_cast<uint64_t>(size) * flashGetSectorCount()) return -1;
    unsigned done = 0;
    while (done < len) {
        unsigned at = addr + done;
        Piece p{static_cast<int>(at / size), at % size, 0, done};
        p.len = size - p.offset < len - done ? size - p.offset : len - done;
        if (int rc = fn(p); rc != 0) return rc;
        done += p.len;
    }
    return 0;
}

int rmw_sector(std::vector<unsigned char> &scratch, const unsigned char *src, const Piece &p, int progress) {
    unsigned size = flashGetSectorSize();
    if (p.len != size && flashBlkRead(p.sector, scratch.data(), 0, size) != 0) return -1;
    if (int rc = flashErase(p.sector, 1); rc != 0) return rc;
    std::memcpy(scratch.data() + p.offset, src + p.done, p.len);
    if (int rc = flashBlkWrite(p.sector, scratch.data(), 0, size); rc != 0) return rc;
    if (progress == 1) {
        std::printf("%s", kProgressMark);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

namespace pc::flash {

namespace {

std::vector<Piece> pieces_of(uint32_t len, uint32_t addr) {
    std::vector<Piece> pieces;
    if (for_each_piece(len, addr, [&](const Piece &p) {
            pieces.push_back(p);
            return 0;
        }) != 0) {
        pieces.clear();
    }
    return pieces;
}

bool program_only(const std::vector<unsigned char> &current, const std::vector<unsigned char> &wanted) {
    for (size_t i = 0; i < current.size(); ++i) {
        if ((current[i] & wanted[i]) != wanted[i]) return false;
    }
    return true;
}

}  // namespace

namespace {

enum class Order { kLowestFirst, kFirstRangeThenTopDown, kTopDown };

int update_pieces(const uint8_t *data, uint32_t len, uint32_t addr, int progress, Order order,
                  uint32_t firstAddr, uint32_t firstLen) {
    if (data == nullptr) return -1;
    unsigned size = flashGetSectorSize();
    std::vector<Piece> pieces = pieces_of(len, addr);
    if (pieces.empty() && len != 0) return -1;
    if (order == Order::kTopDown) std::reverse(pieces.begin(), pieces.end());
    if (order == Order::kFirstRangeThenTopDown) {
        // The pieces of the first range, lowest first, then the others from
        // the top down.
        auto inFirst = [&](const Piece &p) {
            uint64_t at = static_cast<uint64_t>(p.sector) * size + p.offset;
            return at + p.len > firstAddr && at < static_cast<uint64_t>(firstAddr) + firstLen;
        };
        auto mid = std::stable_partition(pieces.begin(), pieces.end(), inFirst);
        std::reverse(mid, pieces.end());
    }
    std::vector<unsigned char> current(size), wanted(size);
    for (const Piece &p : pieces) {
        if (flashBlkRead(p.sector, current.data(), 0, size) != 0) return -1;
        wanted = current;
        std::memcpy(wanted.data() + p.offset, data + p.done, p.len);
        if (wanted == current) continue;
        if (!program_only(current, wanted)) {
            if (int rc = flashErase(p.sector, 1); rc != 0) return rc;
        }
        if (int rc = flashBlkWrite(p.sector, wanted.data(), 0, size); rc != 0) return rc;
        if (progress == 1) {
            std::printf("%s", kProgressMark);
            std::fflush(stdout);
        }
    }
    return 0;
}

}  // namespace

int update_range(const uint8_t *data, uint32_t len, uint32_t addr, int progress, uint32_t firstAddr,
                 uint32_t firstLen) {
    return update_pieces(data, len, addr, progress,
                         firstLen != 0 ? Order::kFirstRangeThenTopDown : Order::kLowestFirst, firstAddr,
                         firstLen);
}

int update_range_top_down(const uint8_t *data, uint32_t len, uint32_t addr, int progress) {
    return update_pieces(data, len, addr, progress, Order::kTopDown, 0, 0);
}

int range_needs_erase(const uint8_t *data, uint32_t len, uint32_t addr) {
    unsigned size = flashGetSectorSize();
    std::vector<unsigned char> current(size), wanted(size);
    for (const Piece &p : pieces_of(len, addr)) {
        if (flashBlkRead(p.sector, current.data(), 0, size) != 0) return -1;
        wanted = current;
        std::memcpy(wanted.data() + p.offset, data + p.done, p.len);
        if (!program_only(current, wanted)) return 1;
    }
    return 0;
}

int erase_sector_unless_blank(uint32_t addr) {
    std::vector<unsigned char> sector(flashGetSectorSize());
    if (l_readFlash(sector.data(), static_cast<unsigned>(sector.size()), addr) != 0) return -1;
    if (std::all_of(sector.begin(), sector.end(), [](unsigned char b) { return b == 0xff; })) return 0;
    return l_eraseFlash(addr, static_cast<unsigned>(sector.size()), 0);
}

}  // namespace pc::flash

extern "C" {

int l_readFlash(void *buf, unsigned int len, unsigned int addr) {
    if (buf == nullptr) return -1;
    auto *dst = static_cast<unsigned char *>(buf);
    int rc = for_each_piece(
        len, addr, [&](const Piece &p) { return flashBlkRead(p.sector, dst + p.done, p.offset, p.len); });
    if (rc != 0) std::printf("flashBlkRead error\r\n");
    return rc;
}

int readFlash(void *buf, unsigned int len, unsigned int addr) { return l_readFlash(buf, len, addr); }

int l_writeFlash(const void *buf, unsigned int len, unsigned int addr, int progress) {
    if (buf == nullptr) return -1;
    std::vector<unsigned char> scratch(flashGetSectorSize());
    auto *src = static_cast<const unsigned char *>(buf);
    return for_each_piece(len, addr, [&](const Piece &p) { return rmw_sector(scratch, src, p, progress); });
}

int writeFlash(const void *buf, unsigned int len, unsigned int addr, int progress) {
    return l_writeFlash(buf, len, addr, progress);
}

int l_writeFlashWithErase(const void *buf, unsigned int len, unsigned int addr, int progress) {
    // One scratch sector for the life of the process; only the firmware
    // writer uses it.
    static std::vector<unsigned char> scratch;
    if (buf == nullptr) return -1;
    if (scratch.size() != flashGetSectorSize()) scratch.assign(flashGetSectorSize(), 0);
    auto *src = static_cast<const unsigned char *>(buf);
    return for_each_piece(len, addr, [&](const Piece &p) { return rmw_sector(scratch, src, p, progress); });
}

int l_writeFlash_noErase(const void *buf, unsigned int len, unsigned int addr, int progress) {
    if (buf == nullptr) return -1;
    auto *src = static_cast<const unsigned char *>(buf);
    return for_each_piece(len, addr, [&](const Piece &p) {
        if (int rc = flashBlkWrite(p.sector, src + p.done, p.offset, p.len); rc != 0) return rc;
        if (progress == 1) {
            std::printf("%s", kProgressMark);
            std::fflush(stdout);
            httpUpgradeIncreaseProcess();
        }
        return 0;
    });
}

int l_eraseFlash(unsigned int addr, unsigned int len, int flag) {
    (void)flag;
    return for_each_piece(len, addr, [](const Piece &p) { return flashErase(p.sector, 1); });
}

int l_writeFlash_mac(const void *buf, unsigned int len, unsigned int addr) {
    if (buf == nullptr) return -1;
    unsigned size = flashGetSectorSize();
    // The range must lie inside one sector.
    if (size == 0 || addr % size + static_cast<uint64_t>(len) > size) return -1;
    int sector = static_cast<int>(addr / size);
    std::vector<unsigned char> block(size);
    if (flashBlkRead(sector, block.data(), 0, size) != 0) return -1;
    // Only the sector written back is erased: a field that ends on the sector
    // boundary must not wipe the next sector.
    if (flashErase(sector, 1) != 0) return -1;
    std::memcpy(block.data() + addr % size, buf, len);
    return flashBlkWrite(sector, block.data(), 0, size);
}

}  // extern "C"
