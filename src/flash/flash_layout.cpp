// The flash distribution record: where the kernel, the two images, the
// application area and the firmware head lie, from the boot environment.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flash/flash_internal.h"
#include "platform_core/flash.h"
#include "platform_core/gev.h"

FLASH_DISTRIBUTE_INFO_T flashDistributeInfo = {0,          0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff,
                                               0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff,
                                               0xffffffff, 0xffffffff, 0xffffffff};
const FLASH_DISTRIBUTE_INFO_T dftFlashDistributeInfo = {1,        0x10000,  0x100000,  0x100000, 0x600000,
                                                        0x700000, 0x900000, 0x1000000, 0x900000, 0x1900000,
                                                        0x60000,  0,        0};
int flashAppInited = 0;

namespace {

struct LayoutKey {
    const char *name;
    uint32_t FLASH_DISTRIBUTE_INFO_T::*field;
};

constexpr std::array<LayoutKey, 12> kLayoutKeys{{
    {"FL_VER", &FLASH_DISTRIBUTE_INFO_T::flVer},
    {"FL_SIZE_BOOT", &FLASH_DISTRIBUTE_INFO_T::bootSize},
    {"FL_OFFSET_KERNEL", &FLASH_DISTRIBUTE_INFO_T::kernelOffset},
    {"FL_SIZE_KERNEL", &FLASH_DISTRIBUTE_INFO_T::kernelSize},
    {"FL_OFFSET_USRIMG1", &FLASH_DISTRIBUTE_INFO_T::usrImg1Offset},
    {"FL_SIZE_USRIMG1", &FLASH_DISTRIBUTE_INFO_T::usrImg1Size},
    {"FL_OFFSET_USRIMG2", &FLASH_DISTRIBUTE_INFO_T::usrImg2Offset},
    {"FL_SIZE_USRIMG2", &FLASH_DISTRIBUTE_INFO_T::usrImg2Size},
    {"FL_OFFSET_USRAPP", &FLASH_DISTRIBUTE_INFO_T::usrAppOffset},
    {"FL_SIZE_USRAPP", &FLASH_DISTRIBUTE_INFO_T::usrAppSize},
    {"FL_OFFSET_FW_HEAD", &FLASH_DISTRIBUTE_INFO_T::headOffset},
    {"FL_SIZE_FW_HEAD", &FLASH_DISTRIBUTE_INFO_T::headSize},
}};

// The record's field, loading the record on first use; -1 on failure.
int field(uint32_t FLASH_DISTRIBUTE_INFO_T::*f) {
    if (!flashAppInited && flashAppInit() != 0) {
        std::printf("Fatal error: Failed to init flash app.\r\n");
        return -1;
    }
    return static_cast<int>(flashDistributeInfo.*f);
}

}  // namespace

extern "C" {

int flashAppInit(void) {
    if (!flashInit && flashDrvLibInit() != 0) {
        std::printf("fatal error: Failed to init flash driver and app.\r\n");
        return -1;
    }
    FLASH_DISTRIBUTE_INFO_T info = flashDistributeInfo;
    for (const auto &k : kLayoutKeys) {
        char value[GEV_VALUE_LEN];
        uint32_t parsed = 0;
        if (getEnvItem(k.name, value) == 0) {
            parsed = pc::flash::parse_hex32(value);
        } else {
            FLASH_DBG(flash_app_debug, "%s is missing\r\n", k.name);
        }
        info.*k.field = parsed;
    }
    info.valid = 1;
    flashDistributeInfo = info;
    flashAppInited = 1;
    return 0;
}

int flashGetFlVer(void) {
    int v = field(&FLASH_DISTRIBUTE_INFO_T::flVer);
    return flashDistributeInfo.valid ? v : static_cast<int>(dftFlashDistributeInfo.flVer);
}

int flashGetBootSize(void) { return field(&FLASH_DISTRIBUTE_INFO_T::bootSize); }
int flashGetKernelOffset(void) { return field(&FLASH_DISTRIBUTE_INFO_T::kernelOffset); }
int flashGetKernelSize(void) { return field(&FLASH_DISTRIBUTE_INFO_T::kernelSize); }

int flashGetUsrImgOffset(int n) {
    return field(n == 2 ? &FLASH_DISTRIBUTE_INFO_T::usrImg2Offset : &FLASH_DISTRIBUTE_INFO_T::usrImg1Offset);
}

int flashGetUsrImgSize(int n) {
    return field(n == 2 ? &FLASH_DISTRIBUTE_INFO_T::usrImg2Size : &FLASH_DISTRIBUTE_INFO_T::usrImg1Size);
}

int flashGetUsrAppOffset(void) { return field(&FLASH_DISTRIBUTE_INFO_T::usrAppOffset); }
int flashGetUsrAppSize(void) { return field(&FLASH_DISTRIBUTE_INFO_T::usrAppSize); }
int flashGetAxHeadOffset(void) { return field(&FLASH_DISTRIBUTE_INFO_T::headOffset); }

int flashGetDftGevFsSize(char *buf) {
    if (buf == nullptr) return -1;
    if (!flashInit) flashDrvLibInit();
    uint64_t chip = static_cast<uint64_t>(flashGetSectorSize()) * flashGetSectorCount();
    std::strcpy(buf, chip == 0x2000000 ? "0x1c00000" : "0xc00000");
    return 0;
}

}  // extern "C"
