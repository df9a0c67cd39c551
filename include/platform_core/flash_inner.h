/*
 * The inner item area: a small typed store at the top of the flash chip
 * that survives firmware upgrades and configuration erasure.
 *
 * Items stack downwards from the last byte of the chip. Each occupies whole
 * sectors and ends, at its upper boundary B, in a 12-byte big-endian
 * trailer: the value length L at B - 12, the type at B - 8 and the key
 * 0xAA55AA55 at B - 4; the value lies directly under the trailer. The next
 * item's boundary is B - 12 - L rounded down to a sector. A boundary without
 * the key ends the area; the sector below the lowest item stays erased. The
 * area never reaches more than 3 MiB below the top of the chip.
 *
 * Type 0 is the factory profile, type 1 the boot environment, which is kept
 * the lowest item; types 2 to 5 are further items that firmware images
 * carry. A scan caches the list of items (type, value offset, length); every
 * write drops the cache so that the next access scans again, after a
 * pre-check that repairs the area (the environment moved to the bottom, a
 * missing one created from the defaults).
 *
 * Every length read from the flash is checked against the area before it is
 * used: an item that claims more than the area holds ends the scan.
 *
 * The cached list has a lock of its own, taken inside each call and never
 * held across a call into the environment: the identity and the
 * environment are read from several RPC workers at once. The environment's
 * mutex still serialises the environment's use; other writers run at
 * manufacturing or upgrade time.
 */
#ifndef PLATFORM_CORE_FLASH_INNER_H
#define PLATFORM_CORE_FLASH_INNER_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define FLASH_INNER_KEY 0xAA55AA55u
#define FLASH_INNER_TRAILER_LEN 12u
#define FLASH_INNER_AREA_MAX 0x300000u
#define FLASH_INNER_TYPE_PROFILE 0u
#define FLASH_INNER_TYPE_GEV 1u
#define FLASH_INNER_TYPE_FIRST_EXTRA 2u
#define FLASH_INNER_TYPE_LAST_EXTRA 5u

/* Bottom of the area found by the last scan. */
PC_API extern uint32_t flashInnerEdgeOffset;
/* Set by a successful scan, cleared by every write. */
PC_API extern int flashAppInnerInited;
PC_API extern int flash_app_inner_debug;

PC_API int flashAppInnerInit(void);
/* The scan alone (no repair). */
PC_API int flashAppInnerInit_patch(void);
/* A copy of the item's value (the caller frees it with free()) and its
 * length, or null. */
PC_API void *flashAppInnerGet(uint32_t type, uint32_t *len);
PC_API int flashAppInnerGetOffset(uint32_t type, uint32_t *offset);
PC_API int flashAppInnerSet(uint32_t type, const void *buf, uint32_t len, int progress);
PC_API int flashAppInnerUnset(uint32_t type);
PC_API int flashAppInnerReset(const char *bootSize, const char *fsOffset, const char *fsSize,
                              const char *flVer);
PC_API int flashAppInnerEnum(uint32_t *first, uint32_t *last);

PC_END_DECLS

#endif
