/*
 * The device identity profile: the factory record of MAC address,
 * signature, public key, product, hardware and firmware identifiers and the
 * device identifier with its MD5 digest. It is inner item type 0; its
 * fields are read and written in place on the flash, at fixed offsets
 * (profileMap). Every read is bounded by the stored item's length.
 */
#ifndef PLATFORM_CORE_PROFILE_H
#define PLATFORM_CORE_PROFILE_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

typedef enum {
    PIT_MAC = 0,
    PIT_SIGN,
    PIT_PUBKEY,
    PIT_PRODUCT_ID,
    PIT_FACTORY,
    PIT_DEV_ID,
    PIT_DEV_ID_MD5,
    PIT_HW_ID,
    PIT_FW_VER,
    PIT_MAX
} PROFILE_ITEM_T;

typedef struct {
    int id;
    unsigned int offset;
    unsigned int length;
} PROFILE_MAP_T;
PC_API extern const PROFILE_MAP_T profileMap[PIT_MAX];
PC_API extern int profile_debug;

#define PROFILE_MAC_LEN 6
#define PROFILE_SIGN_LEN 128
#define PROFILE_ID_LEN 16
#define PROFILE_DEV_ID_LEN 40
#define PROFILE_LEN 812 /* the fields up to the end of the firmware version */

/* Getters by offset: (buffer, length). 0 (buffer untouched when there is no
 * profile), -1 for a null buffer, a length beyond the stored profile or a
 * read failure. */
PC_API int sysGetMac(unsigned char *buf, int len);
PC_API int sysGetFlashSign(unsigned char *buf, int len);
PC_API int sysGetFlashPubLicKey(unsigned char *buf, int len);
PC_API int sysGetDevId(unsigned char *buf, int len);
PC_API int sysGetDevIdMd5(unsigned char *buf, int len);
PC_API int sysGetHardwareId(unsigned char *buf, int len);
PC_API int sysGetDevIdOffset(void);
PC_API int sysGetDevIdSize(void);

/* Getters of whole fields (16 bytes each). */
PC_API int sysGetProductId(unsigned char *id16);
PC_API int sysGetHwIdFromFlash(unsigned char *id16);
PC_API int sysGetFirmwareVer(unsigned char *ver16);
PC_API int sysFirmwareCheckProduct(const unsigned char *id16);
/* The stored MAC, or the built-in default when it is blank or multicast. */
PC_API int sysGetMacFromFlash(unsigned char *mac6);

PC_API int sysSetMacToFlash(const unsigned char *mac6);
PC_API int sysSetFlashSign(const unsigned char *sign128);
PC_API int sysSetDevIdToFlash(const unsigned char *id40);
PC_API int eraseDeviceId(void);
PC_API int eraseDeviceidMD5(void);

/* len bytes of the running image's firmware identifier from its head copy. */
PC_API int sysGetFirmwareId(unsigned char *buf, int len);
PC_API int sysProfilePrint(void);
PC_API int dumpDeviceId(void);

PC_END_DECLS

#endif
