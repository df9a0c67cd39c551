// The three stack walks of a 32-bit MIPS thread, as functions over a memory
// reader, so they run (and are tested) on any machine.
//
// MIPS code built without frame pointers keeps no chain of frames. What a
// non-leaf function leaves is its prologue: "addiu sp, sp, -F" (0x27BD0000
// with a negative immediate) and "sw ra, N(sp)" (0xAFBF0000 | N). Scanning
// the code backwards from a pc finds them: the caller's return address is
// the word at sp + N and the caller's sp is sp + F. A scan stops at the
// previous function's return ("jr ra", 0x03E00008), at a non-negative
// "addiu sp" (an epilogue) or at "move ra, zero" (0x0000F821, the first
// frame of a program).
//
//   pc_ra     the pc and the ra register, nothing read;
//   not_leaf  every frame found by the scan, starting at the pc;
//   leaf      the same, but the first function is taken as a leaf: its
//             return address is the ra register and only its stack
//             adjustment is searched.
//
// Each walk gives at most kMaxFrames addresses, the pc first. Code is read
// only where the reader says it is code (an executable mapping, at
// 0x400000 or above); every other word through read_data.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace pc::diag {

inline constexpr unsigned kMaxFrames = 10;
inline constexpr uint32_t kMipsCodeFloor = 0x400000;
inline constexpr uint32_t kMipsSwRa = 0xAFBF0000;        // sw ra, N(sp)
inline constexpr uint32_t kMipsAddiuSp = 0x27BD0000;     // addiu sp, sp, imm
inline constexpr uint32_t kMipsJrRa = 0x03E00008;        // jr ra
inline constexpr uint32_t kMipsMoveRaZero = 0x0000F821;  // move ra, zero
inline constexpr uint32_t kMipsBreak = 0x0005000D;       // the breakpoint word

struct MipsRegs {
    uint32_t pc = 0;
    uint32_t ra = 0;
    uint32_t sp = 0;
};

// Reads one 32-bit word of the walked thread's memory; false when the
// address cannot be read.
struct MipsMemory {
    std::function<bool(uint32_t addr, uint32_t &word)> read_code;  // code words only
    std::function<bool(uint32_t addr, uint32_t &word)> read_data;  // stack words
};

std::vector<uint32_t> mips_walk_pc_ra(const MipsRegs &regs);
std::vector<uint32_t> mips_walk_not_leaf(const MipsRegs &regs, const MipsMemory &mem);
std::vector<uint32_t> mips_walk_leaf(const MipsRegs &regs, const MipsMemory &mem);

}  // namespace pc::diag
