// Bitmap with a maintained set-bit count.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/containers.h"
#include "support/capture_stdout.h"

namespace {

constexpr const char *kRangeCheck = "Warning: (!(thiz == NULL || n <= 0 || n > thiz->bitcnt)) failed.\n";

// The bitmap's storage read back as native 32-bit words.
std::vector<uint32_t> words_of(Bitmap *bm, size_t word_count) {
    std::vector<uint32_t> words(word_count);
    EXPECT_EQ(bitmapGetBuf(bm, words.data(), static_cast<int>(word_count * 4)), GDSL_RET_OK);
    return words;
}

TEST(BitmapTest, FortyBitsUseTwoWordsAndIgnoreTheSpareBits) {
    Bitmap *bm = bitmapCreate(40);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bitmapIsAllUnset(bm), 1);
    EXPECT_EQ(bitmapFindFirstBit(bm, 0), 1);
    EXPECT_EQ(bitmapFindFirstBit(bm, 1), -1);
    for (int n = 1; n <= 40; n++) ASSERT_EQ(bitmapSet(bm, n), GDSL_RET_OK);
    EXPECT_EQ(bitmapIsAllSet(bm), 1);
    EXPECT_EQ(bitmapFindFirstBit(bm, 0), -1);  // bits 41..64 of the storage are clear but not bits
    EXPECT_EQ(bitmapFindFirstBit(bm, 1), 1);
    EXPECT_EQ(words_of(bm, 2), (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFu}));

    EXPECT_EQ(bitmapUnset(bm, 33), GDSL_RET_OK);
    EXPECT_EQ(bitmapIsAllSet(bm), 0);
    EXPECT_EQ(bitmapFindFirstBit(bm, 0), 33);
    EXPECT_EQ(bitmapClear(bm), GDSL_RET_OK);
    EXPECT_EQ(bitmapIsAllUnset(bm), 1);
    bitmapDestroy(bm);
}

TEST(BitmapTest, CountChangesOnlyOnRealChanges) {
    Bitmap *bm = bitmapCreate(3);
    bitmapSet(bm, 2);
    bitmapSet(bm, 2);
    bitmapUnset(bm, 1);  // already clear
    EXPECT_EQ(bitmapTest(bm, 2), 1);
    bitmapSet(bm, 1);
    bitmapSet(bm, 3);
    EXPECT_EQ(bitmapIsAllSet(bm), 1);
    bitmapUnset(bm, 2);
    bitmapUnset(bm, 2);
    bitmapUnset(bm, 1);
    bitmapUnset(bm, 3);
    EXPECT_EQ(bitmapIsAllUnset(bm), 1);
    bitmapDestroy(bm);
}

TEST(BitmapTest, OutOfRangeBitsWarnAndChangeNothing) {
    Bitmap *bm = bitmapCreate(40);
    struct Case {
        const char *function;
        int (*call)(Bitmap *, int);
        int n;
        int answer;
    };
    const Case cases[] = {
        {"bitmapTest", bitmapTest, 0, 0}, {"bitmapTest", bitmapTest, 41, 0},  {"bitmapSet", bitmapSet, 41, 3},
        {"bitmapSet", bitmapSet, -1, 3},  {"bitmapUnset", bitmapUnset, 0, 3},
    };
    for (const Case &c : cases) {
        pc::test::CaptureStdout out;
        EXPECT_EQ(c.call(bm, c.n), c.answer) << c.function << " " << c.n;
        std::string line = out.text();
        EXPECT_EQ(line.rfind(std::string(c.function) + ":", 0), 0u) << line;
        EXPECT_NE(line.find(kRangeCheck), std::string::npos) << line;
    }
    EXPECT_EQ(bitmapIsAllUnset(bm), 1);
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(bitmapSet(nullptr, 1), GDSL_RET_INVALID_PARAMS);
        EXPECT_EQ(bitmapCreate(0), nullptr);
        EXPECT_EQ(bitmapSetByBuf(bm, "x", 0), GDSL_RET_INVALID_PARAMS);
        EXPECT_EQ(bitmapGetBuf(bm, nullptr, 4), GDSL_RET_INVALID_PARAMS);
        std::string text = out.text();
        EXPECT_NE(text.find(kRangeCheck), std::string::npos);
        EXPECT_NE(text.find("Warning: bitcnt > 0 failed.\n"), std::string::npos);
    }
    bitmapDestroy(bm);
}

TEST(BitmapTest, BufferLoadClearsSpareBitsAndRecounts) {
    Bitmap *bm = bitmapCreate(40);
    const unsigned char ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(bitmapSetByBuf(bm, ones, sizeof ones), GDSL_RET_OK);
    EXPECT_EQ(bitmapIsAllSet(bm), 1);
    EXPECT_EQ(words_of(bm, 2), (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFu}));

    // A shorter buffer replaces only the words it covers.
    const unsigned char zeros[4] = {};
    ASSERT_EQ(bitmapSetByBuf(bm, zeros, sizeof zeros), GDSL_RET_OK);
    EXPECT_EQ(bitmapFindFirstBit(bm, 1), 33);
    for (int n = 33; n <= 40; n++) bitmapUnset(bm, n);
    EXPECT_EQ(bitmapIsAllUnset(bm), 1);  // the recount was exact

    // A longer buffer is read only as far as the storage goes.
    unsigned char longer[12];
    std::memset(longer, 0xFF, sizeof longer);
    bitmapSetByBuf(bm, longer, sizeof longer);
    EXPECT_EQ(bitmapIsAllSet(bm), 1);
    bitmapDestroy(bm);
}

TEST(BitmapTest, GetBufZeroesTheWholeBufferAndCopiesAtMostTheStorage) {
    Bitmap *bm = bitmapCreate(33);
    bitmapSet(bm, 1);
    bitmapSet(bm, 33);
    unsigned char buf[12];
    std::memset(buf, 0xAA, sizeof buf);
    ASSERT_EQ(bitmapGetBuf(bm, buf, sizeof buf), GDSL_RET_OK);
    uint32_t words[2];
    std::memcpy(words, buf, sizeof words);
    EXPECT_EQ(words[0], 1u);
    EXPECT_EQ(words[1], 1u);
    for (size_t i = 8; i < sizeof buf; i++) EXPECT_EQ(buf[i], 0) << i;

    std::memset(buf, 0xAA, sizeof buf);
    ASSERT_EQ(bitmapGetBuf(bm, buf, 2), GDSL_RET_OK);
    unsigned char first_word[4];
    uint32_t one = 1;
    std::memcpy(first_word, &one, 4);
    EXPECT_EQ(buf[0], first_word[0]);
    EXPECT_EQ(buf[1], first_word[1]);
    EXPECT_EQ(buf[2], 0xAA);  // beyond len: untouched
    bitmapDestroy(bm);
}

// The buffer holds the words as they lie in memory, so which bit a buffer
// byte feeds depends on the CPU's byte order: on a little-endian CPU byte 0
// holds bits 1..8, on a big-endian one bits 25..32.
TEST(BitmapTest, BufferBytesMapToBitsInTheMachineByteOrder) {
    static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
    const bool big = std::endian::native == std::endian::big;
    Bitmap *bm = bitmapCreate(64);
    for (int byte = 0; byte < 8; byte++) {
        for (int bit = 0; bit < 8; bit++) {
            unsigned char buf[8] = {};
            buf[byte] = static_cast<unsigned char>(1u << bit);
            ASSERT_EQ(bitmapSetByBuf(bm, buf, sizeof buf), GDSL_RET_OK);
            int within_word = byte % 4;
            int significance = big ? 3 - within_word : within_word;
            int expected = (byte / 4) * 32 + significance * 8 + bit + 1;
            ASSERT_EQ(bitmapFindFirstBit(bm, 1), expected) << "byte " << byte << " bit " << bit;
            ASSERT_EQ(bitmapTest(bm, expected), 1);
            bitmapUnset(bm, expected);
            ASSERT_EQ(bitmapIsAllUnset(bm), 1);

            // And back: the bit comes out in the same byte.
            bitmapSet(bm, expected);
            unsigned char out[8];
            bitmapGetBuf(bm, out, sizeof out);
            ASSERT_EQ(std::memcmp(out, buf, sizeof buf), 0);
            bitmapClear(bm);
        }
    }
    const unsigned char first_byte_low_bit[4] = {0x01, 0, 0, 0};
    bitmapSetByBuf(bm, first_byte_low_bit, sizeof first_byte_low_bit);
    EXPECT_EQ(bitmapFindFirstBit(bm, 1), big ? 25 : 1);
    bitmapDestroy(bm);
}

// Random operations against std::vector<bool> over maps of many sizes.
TEST(BitmapTest, MatchesStdVectorBoolOverRandomOperations) {
    std::mt19937 rng(777);
    for (int round = 0; round < 60; round++) {
        int bitcnt = 1 + static_cast<int>(rng() % 200);
        Bitmap *bm = bitmapCreate(bitcnt);
        std::vector<bool> model(static_cast<size_t>(bitcnt) + 1, false);  // index 0 unused
        auto first = [&](bool v) {
            for (int n = 1; n <= bitcnt; n++)
                if (model[n] == v) return n;
            return -1;
        };
        auto count = [&] { return static_cast<int>(std::count(model.begin() + 1, model.end(), true)); };
        for (int op = 0; op < 1000; op++) {
            int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(bitcnt));
            switch (rng() % 16) {
                case 0:
                    bitmapClear(bm);
                    std::fill(model.begin(), model.end(), false);
                    break;
                case 1: {  // load a random buffer over the current storage
                    size_t storage = static_cast<size_t>(bitcnt + 31) / 32 * 4;
                    std::vector<unsigned char> bytes(storage);
                    bitmapGetBuf(bm, bytes.data(), static_cast<int>(storage));
                    std::vector<unsigned char> buf(1 + rng() % 32);
                    for (auto &b : buf) b = static_cast<unsigned char>(rng());
                    bitmapSetByBuf(bm, buf.data(), static_cast<int>(buf.size()));
                    std::memcpy(bytes.data(), buf.data(), std::min(buf.size(), storage));
                    std::vector<uint32_t> words(storage / 4);
                    std::memcpy(words.data(), bytes.data(), storage);
                    for (int bit = 1; bit <= bitcnt; bit++)
                        model[bit] = (words[(bit - 1) / 32] >> ((bit - 1) % 32)) & 1;
                    break;
                }
                case 2:
                case 3:
                case 4:
                case 5:
                case 6:
                    bitmapSet(bm, n);
                    model[n] = true;
                    break;
                case 7:
                case 8:
                case 9:
                    bitmapUnset(bm, n);
                    model[n] = false;
                    break;
                default:
                    ASSERT_EQ(bitmapTest(bm, n), model[n] ? 1 : 0);
                    break;
            }
            ASSERT_EQ(bitmapFindFirstBit(bm, 1), first(true));
            ASSERT_EQ(bitmapFindFirstBit(bm, 0), first(false));
            ASSERT_EQ(bitmapIsAllSet(bm), count() == bitcnt ? 1 : 0);
            ASSERT_EQ(bitmapIsAllUnset(bm), count() == 0 ? 1 : 0);
        }
        bitmapDestroy(bm);
    }
}

}  // namespace
