/*
 * Firmware images: the checks an upgrade runs on an image in memory, the
 * record that describes its sections, and the re-layout of the flash once
 * the image is written.
 *
 * An image (big-endian throughout) is DES-CBC encrypted as a whole; after
 * decryption it holds a 1536-byte header (MD5 digest, product identifier,
 * name, section lengths, twelve layout texts, the upgrade header with the
 * hardware identifiers it supports and the forward list of firmware
 * identifiers it upgrades from), a head section at 1536 (with the image's
 * own firmware identifier), five body sections from 2560, then an inner
 * item count and the items; an RSA signature of 128 bytes may follow.
 *
 * Every length and count read from an image is checked against the image
 * before use: an image that lies is refused, never read out of bounds.
 * sysParseImage never writes to flash.
 */
#ifndef PLATFORM_CORE_FIRMWARE_H
#define PLATFORM_CORE_FIRMWARE_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define FW_IMAGE_MIN_LEN 0x200001u
#define FW_IMAGE_MAX_LEN 0x11fffffu
#define FW_HEADER_LEN 1536u
#define FW_HEAD_OFFSET 1536u
#define FW_BODY_OFFSET 2560u
#define FW_SECTION_COUNT 5
#define FW_LAYOUT_FIELDS 12
#define FW_LAYOUT_FIELD_LEN 16
#define FW_ID_LEN 16
#define FW_SIGNATURE_LEN 128
#define FW_MAGIC_LEN 20
#define FW_HEAD_COPY_LEN 1024u

/* One inner item an image carries: offset of its value in the image. */
typedef struct IMAGE_INNER_ITEM_S {
    uint32_t type;
    uint32_t length;
    uint32_t offset;
    struct IMAGE_INNER_ITEM_S *next;
} IMAGE_INNER_ITEM_T;

typedef struct {
    uint32_t offset;
    uint32_t length;
} IMAGE_SECTION_T;

/* Filled by sysParseImage. The caller zeroes it before first use and
 * releases the item list with sysImageInfoFree. */
typedef struct {
    unsigned char caller[160]; /* the caller's own, left as it is */
    int valid;
    char name[200];
    IMAGE_SECTION_T sections[1 + FW_SECTION_COUNT]; /* head, then the body sections */
    uint32_t innerItemCount;
    int innerItemsRead;
    char layout[FW_LAYOUT_FIELDS][FW_LAYOUT_FIELD_LEN]; /* NUL-padded, not always terminated */
    IMAGE_INNER_ITEM_T *innerItems;
} IMAGE_INFO_T;

/* The device's identity as the identifier rules see it. */
#define FW_LOCAL_BACKWARD_MAX 51 /* what fits in the head copy */
typedef struct {
    uint16_t vendorId;
    unsigned char fwId[FW_ID_LEN];
    unsigned char hwId[FW_ID_LEN];
    uint32_t backwardCount;
    unsigned char backward[FW_LOCAL_BACKWARD_MAX][FW_ID_LEN];
} LOCAL_INFO_T;
PC_API extern LOCAL_INFO_T g_local_info;

PC_API extern const unsigned char upgradeHeaderMagicNumber[FW_MAGIC_LEN];
PC_API extern const unsigned char axHeaderMagicNumber[FW_MAGIC_LEN];
PC_API extern int software_upgrade_flag;

PC_API int sysParseImage(unsigned char *image, uint32_t len, int index, IMAGE_INFO_T *info);
PC_API void sysImageInfoFree(IMAGE_INFO_T *info);
PC_API int firmwareRsaSignVerify(const unsigned char *image, uint32_t *len);
PC_API int refreshFlash(IMAGE_INFO_T *info, const unsigned char *image, int index);
PC_API int parseFlVerStr(const char *text, uint32_t *flVer, uint32_t *swVer);
/* Reads the head copy of image index (1 or 2) and the profile. */
PC_API int localInfoRead(int index);
PC_API int imageFileExist(int n);
/* The older image container is not supported by this build: refused. */
PC_API int sysUpgradeVxFirmware(unsigned char *image, uint32_t len);

PC_END_DECLS

#endif
