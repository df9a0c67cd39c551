// Fixed-size bitmap with a maintained count of set bits.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_bitmap.h"

namespace {

using Word = uint32_t;
constexpr int kWordBits = 32;

}  // namespace

struct Bitmap {
    Word *words;           // owned, word_nr words; spare bits above bitcnt stay clear
    int bitcnt;            // bits 1..bitcnt exist
    unsigned int word_nr;  // ceil(bitcnt / 32)
    int set_count;         // bits currently set
};

namespace {

size_t storage_bytes(const Bitmap *thiz) { return thiz->word_nr * sizeof(Word); }

Word bit_mask(int n) { return Word{1} << ((n - 1) % kWordBits); }

Word &word_of(Bitmap *thiz, int n) { return thiz->words[(n - 1) / kWordBits]; }

// The bits of the last word that are numbered 1..bitcnt.
Word last_word_mask(const Bitmap *thiz) {
    int used = thiz->bitcnt % kWordBits;
    return used == 0 ? ~Word{0} : (Word{1} << used) - 1;
}

int count_set_bits(const Bitmap *thiz) {
    int count = 0;
    for (unsigned int i = 0; i < thiz->word_nr; i++) count += std::popcount(thiz->words[i]);
    return count;
}

}  // namespace

extern "C" {

PC_API Bitmap *bitmapCreate(int bitcnt) {
    GDSL_CHECK(bitcnt > 0, nullptr);
    auto *thiz = static_cast<Bitmap *>(std::malloc(sizeof(Bitmap)));
    if (!thiz) return nullptr;
    thiz->bitcnt = bitcnt;
    thiz->word_nr = static_cast<unsigned int>((bitcnt - 1) / kWordBits + 1);
    thiz->set_count = 0;
    thiz->words = static_cast<Word *>(std::calloc(thiz->word_nr, sizeof(Word)));
    if (!thiz->words) {
        std::free(thiz);
        return nullptr;
    }
    return thiz;
}

PC_API int bitmapSet(Bitmap *thiz, int n) {
    GDSL_CHECK((!(thiz == NULL || n <= 0 || n > thiz->bitcnt)), GDSL_RET_INVALID_PARAMS);
    Word &word = word_of(thiz, n);
    if (!(word & bit_mask(n))) {
        word |= bit_mask(n);
        thiz->set_count++;
    }
    return GDSL_RET_OK;
}

PC_API int bitmapUnset(Bitmap *thiz, int n) {
    GDSL_CHECK((!(thiz == NULL || n <= 0 || n > thiz->bitcnt)), GDSL_RET_INVALID_PARAMS);
    Word &word = word_of(thiz, n);
    if (word & bit_mask(n)) {
        word &= ~bit_mask(n);
        thiz->set_count--;
    }
    return GDSL_RET_OK;
}

PC_API int bitmapTest(Bitmap *thiz, int n) {
    GDSL_CHECK((!(thiz == NULL || n <= 0 || n > thiz->bitcnt)), 0);
    return (word_of(thiz, n) & bit_mask(n)) ? 1 : 0;
}

PC_API int bitmapClear(Bitmap *thiz) {
    GDSL_CHECK(thiz != NULL, GDSL_RET_INVALID_PARAMS);
    std::memset(thiz->words, 0, storage_bytes(thiz));
    thiz->set_count = 0;
    return GDSL_RET_OK;
}

PC_API int bitmapIsAllSet(Bitmap *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return thiz->set_count == thiz->bitcnt ? 1 : 0;
}

PC_API int bitmapIsAllUnset(Bitmap *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return thiz->set_count == 0 ? 1 : 0;
}

PC_API int bitmapFindFirstBit(Bitmap *thiz, int value) {
    GDSL_CHECK(thiz != NULL, -1);
    Word invert = value ? Word{0} : ~Word{0};
    for (unsigned int i = 0; i < thiz->word_nr; i++) {
        Word word = thiz->words[i] ^ invert;
        if (word == 0) continue;
        // Only the spare top of the last word can yield a number past bitcnt.
        long long n = static_cast<long long>(i) * kWordBits + std::countr_zero(word) + 1;
        return n > thiz->bitcnt ? -1 : static_cast<int>(n);
    }
    return -1;
}

PC_API int bitmapSetByBuf(Bitmap *thiz, const void *buf, int len) {
    GDSL_CHECK(thiz != NULL && buf != NULL && len > 0, GDSL_RET_INVALID_PARAMS);
    size_t bytes = static_cast<size_t>(len);
    if (bytes > storage_bytes(thiz)) bytes = storage_bytes(thiz);
    std::memcpy(thiz->words, buf, bytes);
    thiz->words[thiz->word_nr - 1] &= last_word_mask(thiz);
    thiz->set_count = count_set_bits(thiz);
    return GDSL_RET_OK;
}

PC_API int bitmapGetBuf(Bitmap *thiz, void *buf, int len) {
    GDSL_CHECK(thiz != NULL && buf != NULL && len > 0, GDSL_RET_INVALID_PARAMS);
    size_t bytes = static_cast<size_t>(len);
    std::memset(buf, 0, bytes);
    if (bytes > storage_bytes(thiz)) bytes = storage_bytes(thiz);
    std::memcpy(buf, thiz->words, bytes);
    return GDSL_RET_OK;
}

PC_API void bitmapDestroy(Bitmap *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    std::free(thiz->words);
    std::free(thiz);
}

}  // extern "C"
