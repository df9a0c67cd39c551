/*
 * Flash access and the partition map.
 *
 * The switch keeps everything persistent on one NOR flash of 512 sectors of
 * 64 KiB that the kernel exposes as eight MTD partitions, in chip order:
 * boot (always 0xe0000 bytes), env, usrimg2, usrimg1, sys, usrapp, ax_head
 * and para. Their sizes come from the boot loader's "mtdparts" setting,
 * read from the first 599 bytes of the env partition (MTD 1) and cached.
 *
 * This layer gives a flat view: a byte offset on the chip is turned into a
 * sector, then into an MTD index and an offset inside that partition; reads,
 * writes and erases go to the MTD character device "<prefix><index>". The
 * prefix is "/dev/mtd" on the switch; on a development machine a partition
 * is a regular file holding its bytes (the prefix names their directory and
 * stem) and an erase writes 0xFF. Every write path that does not say
 * otherwise is read-modify-write per sector, so the rest of a sector keeps
 * its bytes.
 *
 * The flash distribution record mirrors the layout variables of the boot
 * environment (kernel, images, application area, firmware head).
 *
 * Nothing here locks: the state below is written at start-up (geometry), on
 * first use (mtdparts cache, distribution record) or by the firmware writer,
 * and callers that update shared regions serialise themselves.
 */
#ifndef PLATFORM_CORE_FLASH_H
#define PLATFORM_CORE_FLASH_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define FLASH_DFT_SECTOR_SIZE 0x10000u
#define FLASH_DFT_SECTOR_COUNT 512u
#define FLASH_BOOT_PART_SIZE 0xe0000u
#define FLASH_MTD_PART_COUNT 8
#define FLASH_MTDPARTS_CACHE_SIZE 600
#define FLASH_DFT_DEVICE_PREFIX "/dev/mtd"
/* Environment variable naming the device prefix when none was set. */
#define FLASH_ENV_DEVICE_PREFIX "PLATFORM_FLASH_PREFIX"

/* Geometry, fixed by flashDrvLibInit. */
PC_API extern unsigned int flashDevSectorSize;
PC_API extern unsigned int flashSectorCount;
PC_API extern int flashInit;
/* Non-zero: this layer prints its diagnostic lines. */
PC_API extern int flash_app_debug;

/* Thirteen words, in this order. */
typedef struct {
    uint32_t valid;
    uint32_t flVer;
    uint32_t bootSize;
    uint32_t kernelOffset;
    uint32_t kernelSize;
    uint32_t usrImg1Offset;
    uint32_t usrImg1Size;
    uint32_t usrImg2Offset;
    uint32_t usrImg2Size;
    uint32_t usrAppOffset;
    uint32_t usrAppSize;
    uint32_t headOffset;
    uint32_t headSize;
} FLASH_DISTRIBUTE_INFO_T;

PC_API extern FLASH_DISTRIBUTE_INFO_T flashDistributeInfo;
PC_API extern const FLASH_DISTRIBUTE_INFO_T dftFlashDistributeInfo;
PC_API extern int flashAppInited;

/* Device path prefix ("/dev/mtd" unless set here or by the environment
 * variable FLASH_ENV_DEVICE_PREFIX). Setting it forgets every cached view of
 * the flash (mtdparts, distribution record, inner items, environment). */
PC_API int flashMtdSetDevicePrefix(const char *prefix);
PC_API const char *flashMtdGetDevicePrefix(void);

/* Fault injection for power-loss tests: called before every MTD write and
 * every erase of one block; a non-zero return makes that operation fail
 * without touching the device. Null removes the hook. */
typedef int (*flashMtdWriteHook_t)(int mtd, uint32_t offset, uint32_t len, int isErase);
PC_API void flashMtdSetWriteHook(flashMtdWriteHook_t hook);

PC_API int flashDrvLibInit(void);
PC_API unsigned int flashGetSectorSize(void);
PC_API unsigned int flashGetSectorCount(void);

/* Sector level. */
PC_API int flashBlkRead(int s, void *buf, unsigned int off, unsigned int len);
PC_API int flashBlkWrite(int s, const void *buf, unsigned int off, unsigned int len);
PC_API int flashErase(int s, int n);
PC_API int flashOffset2mtdOffset(int s, unsigned int off, int *mtd, unsigned int *mtdOffset);
PC_API int flashMtdRead(int mtd, void *buf, unsigned int offset, unsigned int len);
PC_API int flashMtdWrite(int mtd, const void *buf, unsigned int offset, unsigned int len);
PC_API int flashMtdErase(int mtd, unsigned int offset, int n);

/* Byte level, absolute chip offsets. */
PC_API int l_readFlash(void *buf, unsigned int len, unsigned int addr);
PC_API int readFlash(void *buf, unsigned int len, unsigned int addr);
PC_API int l_writeFlash(const void *buf, unsigned int len, unsigned int addr, int progress);
PC_API int writeFlash(const void *buf, unsigned int len, unsigned int addr, int progress);
PC_API int l_writeFlashWithErase(const void *buf, unsigned int len, unsigned int addr, int progress);
PC_API int l_writeFlash_noErase(const void *buf, unsigned int len, unsigned int addr, int progress);
PC_API int l_eraseFlash(unsigned int addr, unsigned int len, int flag);
PC_API int l_writeFlash_mac(const void *buf, unsigned int len, unsigned int addr);

/* Partition map. */
PC_API int sysGetMtdpartsInfo(const char *name);
PC_API int sysGetFlAddr(const char *name);

/* Distribution record from the boot environment. */
PC_API int flashAppInit(void);
PC_API int flashGetFlVer(void);
PC_API int flashGetBootSize(void);
PC_API int flashGetKernelOffset(void);
PC_API int flashGetKernelSize(void);
/* Image n (1 or 2). */
PC_API int flashGetUsrImgOffset(int n);
PC_API int flashGetUsrImgSize(int n);
PC_API int flashGetUsrAppOffset(void);
PC_API int flashGetUsrAppSize(void);
PC_API int flashGetAxHeadOffset(void);
PC_API int flashGetDftGevFsSize(char *buf);

/* Whole-partition operations. */
PC_API int sysEraseCfg(void);
PC_API int sysUpdateCfg(const void *buf, unsigned int len);
PC_API int sysEraseImage(int n);
PC_API int sysUpdateUboot(const void *buf, unsigned int len);
/* buf holds a whole boot partition (FLASH_BOOT_PART_SIZE bytes). */
PC_API int writeBootrom(const void *buf);

/* Flash security code from the kernel over netlink protocol 23. */
#define FLASH_NETLINK_PROTOCOL 23
#define FLASH_SECURITY_CODE_LEN 8
/* Where the kernel has no protocol 23 (a development machine), the same
 * messages travel as datagrams to this name in the abstract Unix namespace,
 * served by the simulated switch. */
#define FLASH_NETLINK_HOST_SERVICE "platform-flash-nl23"
PC_API extern int flashSock;
PC_API int flashApiInit(void);
PC_API int flashReadSecurityCode(unsigned char *out);

/* No effect on the device. */
PC_API int flashProbe(void);
PC_API int flashProtectOn(void);
PC_API int flashProtectOff(void);
PC_API int lockFlash(void);
PC_API int unlockFlash(void);
PC_API int flashEraseBank(int s, int n);
PC_API int flashDiagnostic(void);
PC_API int flashSyncFilesystem(void);

PC_END_DECLS

#endif
