// The three MIPS stack walks over a synthetic program: a start routine, a
// main function, a middle function and a leaf, with the stack image their
// prologues leave behind.
#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/diag.h"

namespace {

constexpr uint32_t kNop = 0x00000000;
constexpr uint32_t kJrRa = 0x03E00008;
constexpr uint32_t kMoveRaZero = 0x0000F821;
constexpr uint32_t kJal = 0x0C100080;
uint32_t addiu_sp(int16_t imm) { return 0x27BD0000u | static_cast<uint16_t>(imm); }
uint32_t sw_ra(uint16_t offset) { return 0xAFBF0000u | offset; }

constexpr uint32_t kSp = 0x7FFF0000;      // the leaf's sp
constexpr uint32_t kStartRet = 0x400020;  // in the start routine
constexpr uint32_t kMainRet = 0x400114;   // in main, after its call of mid
constexpr uint32_t kMidRet = 0x400210;    // in mid, after its call of the leaf
constexpr uint32_t kLeafPc = 0x400308;

struct Image {
    std::map<uint32_t, uint32_t> code;
    std::map<uint32_t, uint32_t> data;

    void put_code(uint32_t addr, std::vector<uint32_t> words) {
        for (uint32_t w : words) {
            code[addr] = w;
            addr += 4;
        }
    }
};

Image program() {
    Image img;
    // start: clears ra first, then calls main.
    img.put_code(0x400000, {kNop, kNop, kNop, kNop, kMoveRaZero, kNop, kJal, kNop, kNop, kNop});
    // main: frame 32, ra at 28.
    img.put_code(0x4000F8,
                 {kJrRa, kNop, addiu_sp(-32), sw_ra(28), kNop, kJal, kNop, kNop, addiu_sp(32), kNop, kJrRa});
    // mid: frame 48, ra at 44.
    img.put_code(0x4001F8, {kJrRa, kNop, addiu_sp(-48), sw_ra(44), kJal, kNop, kNop, kNop});
    // leaf: frame 16, no ra saved.
    img.put_code(0x4002F8, {kJrRa, kNop, addiu_sp(-16), kNop, kNop, kNop});
    uint32_t mid_sp = kSp + 16;
    uint32_t main_sp = mid_sp + 48;
    img.data[mid_sp + 44] = kMainRet;
    img.data[main_sp + 28] = kStartRet;
    return img;
}

int read_image(void *ctx, uint32_t addr, uint32_t *word, int is_code) {
    auto *img = static_cast<Image *>(ctx);
    const auto &area = is_code ? img->code : img->data;
    auto it = area.find(addr);
    if (it == area.end()) return -1;
    *word = it->second;
    return 0;
}

std::vector<uint32_t> walk(int version, uint32_t pc, uint32_t ra, uint32_t sp, Image &img) {
    uint32_t frames[16] = {};
    int n = dk_mips_stack_walk(version, pc, ra, sp, read_image, &img, frames, 16);
    if (n < 0) return {};
    return std::vector<uint32_t>(frames, frames + n);
}

TEST(MipsStackWalk, ThreeVersionsOverOneProgram) {
    struct Case {
        const char *what;
        int version;
        uint32_t pc, ra, sp;
        std::vector<uint32_t> frames;
    };
    const Case cases[] = {
        {"pc and ra", 1, kLeafPc, kMidRet, kSp, {kLeafPc, kMidRet}},
        {"leaf walk finds every caller", 3, kLeafPc, kMidRet, kSp, {kLeafPc, kMidRet, kMainRet, kStartRet}},
        {"not-leaf walk stops at a leaf without a saved ra", 2, kLeafPc, kMidRet, kSp, {kLeafPc}},
        {"not-leaf walk from inside mid", 2, kMidRet, 0, kSp + 16, {kMidRet, kMainRet, kStartRet}},
        {"leaf walk without ra ends at the pc", 3, kLeafPc, 0, kSp, {kLeafPc}},
        {"code outside the image ends the scan", 2, 0x500000, 0, kSp, {0x500000}},
        {"code below 0x400000 is never read", 2, 0x3FFFF0, 0, kSp, {0x3FFFF0}},
    };
    for (const Case &c : cases) {
        Image img = program();
        // A prologue below 0x400000 that would give a frame if it were read.
        img.put_code(0x3FFFE0, {addiu_sp(-8), sw_ra(4), kNop, kNop, kNop});
        img.data[kSp + 4] = kStartRet;
        EXPECT_EQ(walk(c.version, c.pc, c.ra, c.sp, img), c.frames) << c.what;
    }
}

TEST(MipsStackWalk, ScanStopsAtAnEpilogue) {
    // Between main's "addiu sp, sp, 32" and its return the scan backwards
    // meets that epilogue before the prologue: no frame is taken from it.
    Image img = program();
    EXPECT_EQ(walk(2, 0x40011C, 0, kSp + 64, img), std::vector<uint32_t>{0x40011C});
}

TEST(MipsStackWalk, AtMostTenFrames) {
    // A function that calls itself: every frame returns into it again.
    Image img;
    img.put_code(0x400400, {addiu_sp(-16), sw_ra(12), kJal, kNop, kNop});
    constexpr uint32_t kSelfRet = 0x400410;
    for (uint32_t i = 0; i < 20; ++i) img.data[kSp + i * 16 + 12] = kSelfRet;
    auto frames = walk(2, kSelfRet, 0, kSp, img);
    EXPECT_EQ(frames.size(), 10u);
    EXPECT_EQ(walk(2, kSelfRet, 0, kSp, img).back(), kSelfRet);
}

TEST(MipsStackWalk, BadArgumentsAreRefused) {
    Image img = program();
    uint32_t frames[4];
    EXPECT_EQ(dk_mips_stack_walk(4, kLeafPc, 0, kSp, read_image, &img, frames, 4), -1);
    EXPECT_EQ(dk_mips_stack_walk(2, kLeafPc, 0, kSp, nullptr, nullptr, frames, 4), -1);
    EXPECT_EQ(dk_mips_stack_walk(1, kLeafPc, 0, kSp, nullptr, nullptr, nullptr, 4), -1);
    EXPECT_EQ(dk_mips_stack_walk(1, kLeafPc, kMidRet, kSp, nullptr, nullptr, frames, 1), 1);
}

}  // namespace
