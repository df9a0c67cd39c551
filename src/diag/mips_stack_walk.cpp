#include "diag/mips_stack_walk.h"

#include "platform_core/diag.h"

namespace pc::diag {

namespace {

// Longest function the backward scan crosses before giving up.
constexpr uint32_t kMaxScanWords = 16384;

struct Prologue {
    bool have_ra = false;
    uint32_t ra_offset = 0;  // N of "sw ra, N(sp)"
    bool have_frame = false;
    uint32_t frame_size = 0;  // F of "addiu sp, sp, -F"
};

// Scans from pc backwards to the function's stack adjustment.
Prologue scan_prologue(uint32_t pc, const MipsMemory &mem) {
    Prologue p;
    for (uint32_t n = 0, addr = pc; n < kMaxScanWords && addr >= kMipsCodeFloor; ++n, addr -= 4) {
        uint32_t word = 0;
        if (!mem.read_code(addr, word)) break;
        if ((word & 0xFFFF0000u) == kMipsSwRa && !p.have_ra) {
            p.have_ra = true;
            p.ra_offset = word & 0xFFFFu;
        } else if ((word & 0xFFFF0000u) == kMipsAddiuSp) {
            auto imm = static_cast<int16_t>(word & 0xFFFFu);
            if (imm < 0) {
                p.have_frame = true;
                p.frame_size = static_cast<uint32_t>(-static_cast<int32_t>(imm));
            }
            break;  // the adjustment ends the scan, either way
        } else if (word == kMipsJrRa || word == kMipsMoveRaZero) {
            break;
        }
    }
    return p;
}

// Walks callers from (pc, sp), appending each return address found.
void walk_callers(uint32_t pc, uint32_t sp, const MipsMemory &mem, std::vector<uint32_t> &frames) {
    while (frames.size() < kMaxFrames) {
        Prologue p = scan_prologue(pc, mem);
        if (!p.have_ra || !p.have_frame) return;
        uint32_t ra = 0;
        if (!mem.read_data(sp + p.ra_offset, ra) || ra == 0) return;
        sp += p.frame_size;
        pc = ra;
        frames.push_back(pc);
    }
}

}  // namespace

std::vector<uint32_t> mips_walk_pc_ra(const MipsRegs &regs) { return {regs.pc, regs.ra}; }

std::vector<uint32_t> mips_walk_not_leaf(const MipsRegs &regs, const MipsMemory &mem) {
    std::vector<uint32_t> frames{regs.pc};
    walk_callers(regs.pc, regs.sp, mem, frames);
    return frames;
}

std::vector<uint32_t> mips_walk_leaf(const MipsRegs &regs, const MipsMemory &mem) {
    std::vector<uint32_t> frames{regs.pc};
    Prologue p = scan_prologue(regs.pc, mem);
    uint32_t sp = regs.sp + (p.have_frame ? p.frame_size : 0);
    if (regs.ra == 0) return frames;
    frames.push_back(regs.ra);
    walk_callers(regs.ra, sp, mem, frames);
    return frames;
}

}  // namespace pc::diag

extern "C" PC_API int dk_mips_stack_walk(int version, uint32_t pc, uint32_t ra, uint32_t sp,
                                         dk_mem_read_fn read, void *ctx, uint32_t *frames, int max) {
    if (frames == nullptr || max <= 0 || (version != 1 && read == nullptr)) return -1;
    pc::diag::MipsRegs regs{pc, ra, sp};
    pc::diag::MipsMemory mem;
    mem.read_code = [read, ctx](uint32_t addr, uint32_t &word) { return read(ctx, addr, &word, 1) == 0; };
    mem.read_data = [read, ctx](uint32_t addr, uint32_t &word) { return read(ctx, addr, &word, 0) == 0; };
    std::vector<uint32_t> found;
    switch (version) {
        case 1:
            found = pc::diag::mips_walk_pc_ra(regs);
            break;
        case 2:
            found = pc::diag::mips_walk_not_leaf(regs, mem);
            break;
        case 3:
            found = pc::diag::mips_walk_leaf(regs, mem);
            break;
        default:
            return -1;
    }
    int n = 0;
    for (uint32_t f : found) {
        if (n == max) break;
        frames[n++] = f;
    }
    return n;
}
