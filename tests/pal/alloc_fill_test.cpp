// A freed block is filled with 0xCC, guards included, before it goes back
// to the system or its slot can be handed out again.
//
// This program puts its own free() in front of the C library's, so it can
// look at a large block while it is still allocated, at the moment the
// allocator hands it back: nothing here reads released memory. A small
// block's slot stays in the allocator's own memory, which is looked at after
// pal_free. The sanitizers bring their own free() and close freed slots, so
// there the checks are not built.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform_core/pal.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

extern "C" void __libc_free(void *ptr);

namespace {

std::atomic<const unsigned char *> g_watched{nullptr};  // payload to look for
size_t g_watched_len = 0;
std::atomic<int> g_filled{-1};  // -1 not seen, 0 not filled, 1 filled

// The header lies in front of the payload, within this many bytes.
constexpr size_t kHeaderReach = 256;

}  // namespace

extern "C" void free(void *ptr) {
    const unsigned char *w = g_watched.load(std::memory_order_acquire);
    auto *raw = static_cast<const unsigned char *>(ptr);
    if (w != nullptr && raw != nullptr && w > raw && w < raw + kHeaderReach) {
        bool all = true;
        for (size_t i = 0; i < g_watched_len; ++i) all = all && w[i] == 0xCC;
        g_filled.store(all ? 1 : 0);
        g_watched.store(nullptr);
    }
    __libc_free(ptr);
}

namespace {

// The whole block, from its header to its tail guard.
struct Span {
    const unsigned char *start;
    size_t len;
};
Span whole_block(const unsigned char *payload, size_t len) {
    auto *header = *(reinterpret_cast<unsigned char *const *>(payload) - 1);
    return {header, static_cast<size_t>(payload - header) + len + sizeof(uint32_t)};
}

TEST(AllocFill, freed_small_block_is_filled_guards_included) {
    for (size_t len : {4, 64, 500, 1900}) {
        auto *p = static_cast<unsigned char *>(pal_alloc(static_cast<unsigned>(len), "fill"));
        ASSERT_NE(p, nullptr);
        std::memset(p, 0x11, len);
        const Span block = whole_block(p, len);
        pal_free(p);
        size_t filled = 0;
        while (filled < block.len && block.start[filled] == 0xCC) ++filled;
        EXPECT_EQ(filled, block.len) << len;
    }
}

TEST(AllocFill, freed_large_block_is_filled_before_release) {
    constexpr size_t kLen = 16 * 1024;
    auto *p = static_cast<unsigned char *>(pal_alloc(kLen, "fill"));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x11, kLen);
    g_watched_len = kLen;
    g_watched.store(p, std::memory_order_release);
    pal_free(p);
    EXPECT_EQ(g_filled.load(), 1);
}

}  // namespace

#endif
