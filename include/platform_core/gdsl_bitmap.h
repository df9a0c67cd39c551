/*
 * Fixed-size bitmap with a maintained count of set bits.
 *
 * Bits are numbered from 1 to bitcnt: bit n is the value 1 << ((n - 1) % 32)
 * of 32-bit word (n - 1) / 32. The bits of the last word above bitcnt are
 * spare and always clear. Set, unset, clear and buffer loads keep the count,
 * so "all set" and "all clear" are constant-time answers.
 *
 * The buffer forms copy the words as they lie in memory, in the machine's
 * byte order: on a big-endian CPU the first byte holds bits 25 to 32, on a
 * little-endian one bits 1 to 8.
 */
#ifndef PLATFORM_CORE_GDSL_BITMAP_H
#define PLATFORM_CORE_GDSL_BITMAP_H

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

typedef struct Bitmap Bitmap;

/* All bits clear; null for bitcnt <= 0 or without memory. */
PC_API Bitmap *bitmapCreate(int bitcnt);
/* Set or clear bit n (1..bitcnt). 0 or 3. */
PC_API int bitmapSet(Bitmap *bm, int n);
PC_API int bitmapUnset(Bitmap *bm, int n);
/* 1 when bit n is set; 0 when clear or out of range. */
PC_API int bitmapTest(Bitmap *bm, int n);
PC_API int bitmapClear(Bitmap *bm);
PC_API int bitmapIsAllSet(Bitmap *bm);
PC_API int bitmapIsAllUnset(Bitmap *bm);
/* Lowest-numbered bit that is set (value != 0) or clear (value 0), or -1. */
PC_API int bitmapFindFirstBit(Bitmap *bm, int value);
/* Copies min(len, storage size) bytes over the words, clears the spare bits
 * and recounts; words beyond len keep their bits. 0 or 3. */
PC_API int bitmapSetByBuf(Bitmap *bm, const void *buf, int len);
/* Zeroes len bytes of buf, then copies min(len, storage size) bytes of the
 * words into it. 0 or 3. */
PC_API int bitmapGetBuf(Bitmap *bm, void *buf, int len);
PC_API void bitmapDestroy(Bitmap *bm);

PC_END_DECLS

#endif
