/*
 * The simulated switch's flash chip and its kernel-side flash service.
 *
 * Chip: the eight MTD partitions of the default geometry (512 sectors of
 * 64 KiB) as regular files "<dir>/mtd0" ... "<dir>/mtd7", erased (0xFF),
 * with the boot loader's environment in mtd1 (a CRC-32 word, then
 * NUL-separated name=value entries) carrying the "mtdparts" setting. The
 * core library reaches them through the device prefix "<dir>/mtd".
 *
 * Security code service: the stand-in for the kernel's netlink protocol 23
 * handler. The same message layout (a 16-byte netlink header, a 4-byte
 * request; the reply's header followed by the 8-byte code) travels over a
 * datagram socket of the abstract Unix namespace named
 * FLASH_NETLINK_HOST_SERVICE (platform_core/flash.h), which the core library uses where the kernel has no
 * protocol 23. One thread answers; start and stop are not thread-safe
 * against each other.
 */
#ifndef PLATFORM_SIM_SIM_FLASH_H
#define PLATFORM_SIM_SIM_FLASH_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define SIM_FLASH_ENV_DIR "PLATFORM_FLASH_DIR"
#define SIM_FLASH_DFT_MTDPARTS                                                                    \
    "mtdparts=spi0.0:896K(boot),128K(env),9M(usrimg2),9M(usrimg1),8M(sys),3840K(usrapp),256K(ax_" \
    "head),1M(para)"

/* Directory of the simulated chip: the environment variable
 * SIM_FLASH_ENV_DIR, else "/tmp/platform-flash". */
PC_API const char *simFlashDefaultDir(void);
/* Creates the chip's partition files in dir (made if missing). Existing
 * files of the right size are kept unless force is set. 0 or -1. */
PC_API int simFlashCreate(const char *dir, int force);
/* Writes the boot loader environment (mtd1) with the given mtdparts text. */
PC_API int simFlashWriteBootEnv(const char *dir, const char *mtdparts);

PC_API int simFlashSecurityStart(const unsigned char code[8]);
PC_API void simFlashSecurityStop(void);
/* Steps of upgrade progress reported through httpUpgradeIncreaseProcess. */
PC_API unsigned simFlashUpgradeProgress(void);

PC_END_DECLS

#endif
