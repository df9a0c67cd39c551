// After a new image is written: move the partitions to where the image's
// layout puts them, store the layout in the boot environment and write the
// inner items the image carries.
#include <sys/mount.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flash/flash_internal.h"
#include "platform_core/firmware.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/gev.h"

int software_upgrade_flag = 0;

namespace {

// The layout fields of an image, in order, and the variables they set.
enum LayoutField {
    kBootSize,
    kKernelOffset,
    kKernelSize,
    kImg1Offset,
    kImg1Size,
    kImg2Offset,
    kImg2Size,
    kAppOffset,
    kAppSize,
    kHeadOffset,
    kHeadSize,
    kFlVer
};
constexpr std::array<const char *, FW_LAYOUT_FIELDS> kLayoutVars{
    "FL_SIZE_BOOT",    "FL_OFFSET_KERNEL",  "FL_SIZE_KERNEL",  "FL_OFFSET_USRIMG1",
    "FL_SIZE_USRIMG1", "FL_OFFSET_USRIMG2", "FL_SIZE_USRIMG2", "FL_OFFSET_USRAPP",
    "FL_SIZE_USRAPP",  "FL_OFFSET_FW_HEAD", "FL_SIZE_FW_HEAD", "FL_VER"};
constexpr const char *kCurrentFlVer = "0x010300010000";
constexpr size_t kLongFlVer = 14;
constexpr const char *kMountPoint = "/mnt/tempTest";

std::string layout_text(const IMAGE_INFO_T *info, int field) {
    const char *p = info->layout[field];
    return std::string(p, strnlen(p, FW_LAYOUT_FIELD_LEN));
}

uint32_t layout_value(const IMAGE_INFO_T *info, int field) {
    return pc::flash::parse_hex32(layout_text(info, field).c_str());
}

uint32_t major(uint32_t v) { return (v >> 16) & 0xff; }
uint32_t minor(uint32_t v) { return (v >> 8) & 0xff; }
uint32_t patch(uint32_t v) { return v & 0xff; }

// Copies a partition's current content to its new place.
int move_partition(const char *name, uint32_t newOffset, uint32_t newSize) {
    int from = sysGetFlAddr(name), size = sysGetMtdpartsInfo(name);
    if (from < 0 || size <= 0) return -1;
    if (static_cast<uint32_t>(from) == newOffset) return 0;
    uint32_t len = std::min<uint32_t>(static_cast<uint32_t>(size), newSize);
    if (len == 0) return 0;
    std::vector<uint8_t> content(len);
    if (l_readFlash(content.data(), len, static_cast<uint32_t>(from)) != 0) return -1;
    if (l_eraseFlash(newOffset, newSize, 0) != 0) return -1;
    return l_writeFlash_noErase(content.data(), len, newOffset, 0);
}

int refresh_images(const IMAGE_INFO_T *info, int index) {
    struct Part {
        const char *name;
        uint32_t newOffset, newSize;
    };
    Part app{"usrapp", layout_value(info, kAppOffset), layout_value(info, kAppSize)};
    Part img1{"usrimg1", layout_value(info, kImg1Offset), layout_value(info, kImg1Size)};
    Part img2{"usrimg2", layout_value(info, kImg2Offset), layout_value(info, kImg2Size)};
    bool same = static_cast<uint32_t>(sysGetMtdpartsInfo("sys")) == layout_value(info, kKernelSize) &&
                static_cast<uint32_t>(sysGetMtdpartsInfo("usrimg1")) == img1.newSize &&
                static_cast<uint32_t>(sysGetMtdpartsInfo("usrimg2")) == img2.newSize &&
                static_cast<uint32_t>(sysGetMtdpartsInfo("usrapp")) == app.newSize;
    if (same) return 0;
    uint64_t chip = static_cast<uint64_t>(flashGetSectorSize()) * flashGetSectorCount();
    for (const Part *p : {&app, &img1, &img2}) {
        if (p->newOffset + static_cast<uint64_t>(p->newSize) > chip) {
            std::printf("Fatal error: %s at %#x size %#x lies beyond the flash\r\n", p->name, p->newOffset,
                        p->newSize);
            return -1;
        }
    }
    int appAt = sysGetFlAddr("usrapp");
    bool appDown = appAt >= 0 && app.newOffset < static_cast<uint32_t>(appAt);
    if (appDown && move_partition(app.name, app.newOffset, app.newSize) != 0) return -1;
    if (index != 2 && move_partition(img1.name, img1.newOffset, img1.newSize) != 0) return -1;
    if (index != 1 && move_partition(img2.name, img2.newOffset, img2.newSize) != 0) return -1;
    if (!appDown && move_partition(app.name, app.newOffset, app.newSize) != 0) return -1;
    return 0;
}

int overwrite_inner_items(const IMAGE_INFO_T *info, const unsigned char *image) {
    std::printf("Start to init the flash for the image...\r\n");
    for (int f = 0; f < FW_LAYOUT_FIELDS; ++f) {
        std::string value = layout_text(info, f);
        if (setEnvItem(kLayoutVars[static_cast<size_t>(f)], value.c_str()) != 0) {
            std::printf("Fatal error: Failed to set gev, %s=%s\r\n", kLayoutVars[static_cast<size_t>(f)],
                        value.c_str());
            return -1;
        }
    }
    for (const IMAGE_INNER_ITEM_T *it = info->innerItems; it; it = it->next) {
        if (flashAppInnerSet(it->type, image + it->offset, it->length, 0) != 0) {
            std::printf("Fatal error: Failed to set innner item, type=%#x, offset=%#x, length=%#x\r\n",
                        it->type, it->offset, it->length);
            return -1;
        }
    }
    std::printf("Init the flash for the image done\r\n");
    return 0;
}

}  // namespace

extern "C" {

int parseFlVerStr(const char *text, uint32_t *flVer, uint32_t *swVer) {
    if (text == nullptr || flVer == nullptr || swVer == nullptr) return -1;
    if (std::strlen(text) < kLongFlVer) {
        *flVer = pc::flash::parse_hex32(text);
        *swVer = 0x10000;
    } else {
        char head[9] = {};
        std::memcpy(head, text, 8);
        *flVer = pc::flash::parse_hex32(head);
        *swVer = pc::flash::parse_hex32(text + 8);
    }
    return 0;
}

int refreshFlash(IMAGE_INFO_T *info, const unsigned char *image, int index) {
    if (info == nullptr || image == nullptr || !info->valid) {
        std::printf("Fatal error: The start image is valid\r\n");
        return -1;
    }
    char stored[GEV_VALUE_LEN];
    if (getEnvItem("FL_VER", stored) != 0) {
        std::printf("Fatal error: Failed to get flash ver in flash.\r\n");
        return -1;
    }
    if (std::strlen(stored) < kLongFlVer && setEnvItem("FL_VER", kCurrentFlVer) != 0) {
        std::printf("Fatal error: Failed to init Flash.\r\n");
        return -1;
    }
    uint32_t imgFl = 0, imgSw = 0, flFl = 0, flSw = 0;
    parseFlVerStr(layout_text(info, kFlVer).c_str(), &imgFl, &imgSw);
    parseFlVerStr(stored, &flFl, &flSw);
    if (imgSw >= flSw || minor(imgFl) > minor(flFl)) {
        std::printf("Kernel needs to be upraged. Img %#x, Flash %#x", imgFl, flFl);
        software_upgrade_flag = 1;
    }
    int rc = 0;
    if (major(imgFl) != major(flFl)) {
        rc = refresh_images(info, index);
    } else if (minor(imgFl) < minor(flFl)) {
        rc = -1;
    } else if (minor(imgFl) > minor(flFl)) {
        rc = refresh_images(info, index);
        if (rc == 0) rc = overwrite_inner_items(info, image);
        if (rc == 0) rc = flashAppInit();
    } else {
        if (patch(imgFl) > patch(flFl)) rc = overwrite_inner_items(info, image);
        if (rc == 0 && software_upgrade_flag) rc = overwrite_inner_items(info, image);
    }
    if (rc != 0) std::printf("Fatal error: Failed to init Flash.\r\n");
    return rc;
}

int imageFileExist(int n) {
    static constexpr std::array<const char *, 3> kRequired{"bin", "lib", "etc"};
    const char *device = n == 1 ? "/dev/mtdblock3" : "/dev/mtdblock2";
    ::mkdir(kMountPoint, 0755);
    if (::mount(device, kMountPoint, "squashfs", MS_RDONLY, nullptr) != 0) {
        std::printf("mount %s failed\r\n", device);
        return -1;
    }
    int rc = 0;
    for (const char *entry : kRequired) {
        struct stat st {};
        std::string path = std::string(kMountPoint) + "/usrImage/" + entry;
        if (::stat(path.c_str(), &st) != 0) {
            std::printf("%s is missing\r\n", path.c_str());
            rc = -1;
        }
    }
    ::umount(kMountPoint);
    return rc;
}

}  // extern "C"
