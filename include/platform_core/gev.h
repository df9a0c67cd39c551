/*
 * The boot environment ("gev"): up to 126 name=value pairs that tell the
 * boot loader and the firmware which image and configuration to start from
 * and where the partitions lie.
 *
 * It is inner item type 1, one sector: a 512-byte boot parameter block,
 * 126 slot flags, a reserved gap and 126 slots of 512 bytes (name, then
 * value, each 256 bytes NUL-padded). A slot flag is 0xFF while the slot is
 * blank, 1 when it holds a live variable and 0 when superseded or deleted.
 * A change writes the new pair into the lowest blank slot and then the
 * flags, both by programming bits from 1 to 0, so an ordinary change needs
 * no erase; when no blank slot is left the whole table is rewritten
 * compactly.
 *
 * Each process keeps its own list of the live variables, loaded on first
 * use; a process-wide recursive mutex "gevItem" guards the list and every
 * flash access of the environment.
 */
#ifndef PLATFORM_CORE_GEV_H
#define PLATFORM_CORE_GEV_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define GEV_ITEM_MAX 126
#define GEV_NAME_LEN 256
#define GEV_VALUE_LEN 256
#define GEV_SLOT_LEN (GEV_NAME_LEN + GEV_VALUE_LEN)
#define GEV_BOOT_PARAM_LEN 0x200
#define GEV_FLAGS_OFFSET 0x200
#define GEV_RESERVED_OFFSET 0x27e
#define GEV_SLOTS_OFFSET 0x3f4
#define GEV_CONTENT_LEN 0xfff4 /* one sector less the item trailer */
#define GEV_FLAG_BLANK 0xff
#define GEV_FLAG_ACTIVE 1
#define GEV_FLAG_INACTIVE 0

/* Rows of the layout table gevMap. */
typedef struct {
    int id;
    unsigned int offset;
    unsigned int length;
} GEV_MAP_T;
PC_API extern const GEV_MAP_T gevMap[5];

PC_API extern int flashGevInited;
PC_API extern int gev_debug;

/* out receives 256 bytes. */
PC_API int getEnvItem(const char *name, char *out);
PC_API int setEnvItem(const char *name, const char *value);
PC_API int delEnvItem(const char *name);
PC_API int copyEnvItem(const char *dst, const char *src);
PC_API int updateGevItem(void);
PC_API int resetEnv(void);
PC_API int printEnvItems(void);
PC_API int flashAppInnerGevInit(void);
/* The default content (GEV_CONTENT_LEN bytes) into buf. */
PC_API int getDftGevContent(unsigned char *buf, unsigned int len);
/* The 512-byte boot parameter block. */
PC_API int sysGetBootFromFlash(unsigned char *buf);
PC_API int sysSetBootToFlash(const unsigned char *buf);
PC_API int getStartUpIndex(void);
PC_API int setStartUpIndex(int n);

PC_END_DECLS

#endif
