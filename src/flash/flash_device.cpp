// Sector geometry and the MTD character devices (or, on a development
// machine, the regular files standing in for them).
#include <fcntl.h>
#include <mtd/mtd-abi.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flash/flash_internal.h"
#include "platform_core/flash.h"

unsigned int flashDevSectorSize = 0;
unsigned int flashSectorCount = 0;
int flashInit = 0;
int flash_app_debug = 0;

namespace {

std::string g_prefix;                        // empty: not chosen yet
flashMtdWriteHook_t g_write_hook = nullptr;  // fault injection for tests

const std::string &device_prefix() {
    if (g_prefix.empty()) {
        const char *env = std::getenv(FLASH_ENV_DEVICE_PREFIX);
        g_prefix = env && *env ? env : FLASH_DFT_DEVICE_PREFIX;
    }
    return g_prefix;
}

std::string device_path(int mtd) { return device_prefix() + std::to_string(mtd); }

// Owns one open device.
class Device {
public:
    explicit Device(int mtd) : path_(device_path(mtd)) { fd_ = ::open(path_.c_str(), O_RDWR); }
    ~Device() {
        if (fd_ >= 0) ::close(fd_);
    }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;
    int fd() const { return fd_; }
    const char *path() const { return path_.c_str(); }

private:
    std::string path_;
    int fd_ = -1;
};

bool io_all(int fd, void *buf, size_t len, bool writing) {
    auto *p = static_cast<char *>(buf);
    while (len > 0) {
        ssize_t n = writing ? ::write(fd, p, len) : ::read(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

int mtd_io(int mtd, void *buf, unsigned int offset, unsigned int len, bool writing) {
    const char *verb = writing ? "write" : "read";
    if (writing && g_write_hook && g_write_hook(mtd, offset, len, 0) != 0) {
        std::printf("%s %s failed\n", verb, device_path(mtd).c_str());
        return -1;
    }
    Device dev(mtd);
    if (dev.fd() < 0) {
        std::perror("open ");
        std::printf("open %s failed\n", dev.path());
        return -1;
    }
    if (::lseek(dev.fd(), static_cast<off_t>(offset), SEEK_SET) < 0) {
        std::perror("lseek ");
        std::printf("lseek %s failed\n", dev.path());
        return -1;
    }
    if (!io_all(dev.fd(), buf, len, writing)) {
        std::perror(writing ? "write " : "read ");
        std::printf("%s %s failed\n", verb, dev.path());
        return -1;
    }
    return 0;
}

enum class BlockOp { kRead, kWrite };

// Checks a block request against the chip and finds its MTD partition and
// the offset in it; 0, or -1 after the line naming the fault.
int locate_block(BlockOp op, int s, unsigned off, unsigned len, int *mtd, unsigned *mtdOffset) {
    if (!flashInit) {
        std::printf("flash not init\n");
        return -1;
    }
    const char *who = op == BlockOp::kRead ? "flashBlkRead" : "flashBlkWrite";
    unsigned count = flashGetSectorCount(), size = flashGetSectorSize();
    if (s < 0 || static_cast<unsigned>(s) > count) {
        if (op == BlockOp::kRead)
            std::printf("%s(): Sector %d  %d invalid\n", who, s, count);
        else
            std::printf("%s(): Sector %d invalid\n", who, s);
        return -1;
    }
    if (static_cast<uint64_t>(len) + off > static_cast<uint64_t>(count - static_cast<unsigned>(s)) * size) {
        std::printf("%s(): Count 0x%x invalid\n", who, len);
        return -1;
    }
    if (flashOffset2mtdOffset(s, off, mtd, mtdOffset) != 0 || *mtd < 0) {
        std::printf("flashOffset2mtdOffset failed\n");
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" {

int flashMtdSetDevicePrefix(const char *prefix) {
    if (prefix == nullptr || *prefix == '\0') return -1;
    g_prefix = prefix;
    pc::flash::forget_partition_cache();
    pc::flash::forget_inner_items();
    pc::flash::forget_environment();
    return 0;
}

const char *flashMtdGetDevicePrefix(void) { return device_prefix().c_str(); }

void flashMtdSetWriteHook(flashMtdWriteHook_t hook) { g_write_hook = hook; }

int flashDrvLibInit(void) {
    flashDevSectorSize = FLASH_DFT_SECTOR_SIZE;
    flashSectorCount = FLASH_DFT_SECTOR_COUNT;
    flashInit = 1;
    return 0;
}

unsigned int flashGetSectorSize(void) { return flashDevSectorSize; }

unsigned int flashGetSectorCount(void) { return flashSectorCount; }

int flashMtdRead(int mtd, void *buf, unsigned int offset, unsigned int len) {
    if (buf == nullptr) return -1;
    return mtd_io(mtd, buf, offset, len, false);
}

int flashMtdWrite(int mtd, const void *buf, unsigned int offset, unsigned int len) {
    if (buf == nullptr) return -1;
    return mtd_io(mtd, const_cast<void *>(buf), offset, len, true);
}

int flashMtdErase(int mtd, unsigned int offset, int n) {
    unsigned sector = flashGetSectorSize();
    if (sector == 0 || offset % sector != 0 || n < 0) {
        std::printf("offset is invalid\n");
        return -1;
    }
    Device dev(mtd);
    if (dev.fd() < 0) {
        std::perror("open ");
        std::printf("open %s failed\n", dev.path());
        return -1;
    }
    struct stat st {};
    bool plainFile = ::fstat(dev.fd(), &st) == 0 && S_ISREG(st.st_mode);
    uint32_t eraseSize = sector;
    mtd_info_user info{};
    if (!plainFile) {
        if (::ioctl(dev.fd(), MEMGETINFO, &info) != 0 || info.erasesize == 0) {
            std::printf("\nMTD Erase failure");
            return -1;
        }
        eraseSize = info.erasesize;
    }
    std::vector<char> blank(plainFile ? eraseSize : 0, static_cast<char>(0xff));
    uint32_t at = offset;
    for (int i = 0; i < n; ++i, at += eraseSize) {
        if (g_write_hook && g_write_hook(mtd, at, eraseSize, 1) != 0) {
            std::printf("\nMTD Erase failure");
            return -1;
        }
        bool ok;
        if (plainFile) {
            ok = at + eraseSize <= static_cast<uint64_t>(st.st_size) &&
                 ::lseek(dev.fd(), static_cast<off_t>(at), SEEK_SET) >= 0 &&
                 io_all(dev.fd(), blank.data(), blank.size(), true);
        } else {
            erase_info_user erase{at, eraseSize};
            ok = ::ioctl(dev.fd(), MEMERASE, &erase) == 0;
        }
        if (!ok) {
            std::printf("\nMTD Erase failure");
            return -1;
        }
    }
    return 0;
}

int flashBlkRead(int s, void *buf, unsigned int off, unsigned int len) {
    int mtd = -1;
    unsigned mtdOffset = 0;
    if (locate_block(BlockOp::kRead, s, off, len, &mtd, &mtdOffset) != 0) return -1;
    if (flashMtdRead(mtd, buf, mtdOffset, len) != 0) {
        std::printf("flashMtdRead failed\n");
        return -1;
    }
    return 0;
}

int flashBlkWrite(int s, const void *buf, unsigned int off, unsigned int len) {
    int mtd = -1;
    unsigned mtdOffset = 0;
    if (locate_block(BlockOp::kWrite, s, off, len, &mtd, &mtdOffset) != 0) return -1;
    if (flashMtdWrite(mtd, buf, mtdOffset, len) != 0) {
        std::printf("flashMtdWrite failed\n");
        return -1;
    }
    return 0;
}

int flashErase(int s, int n) {
    if (!flashInit) {
        std::printf("flash not init\n");
        return -1;
    }
    int count = static_cast<int>(flashGetSectorCount());
    if (s < 0 || s >= count || n < 0 || n > count - s) {
        std::printf("flashErase(): Count 0x%x invalid\n", n);
        return -1;
    }
    int mtd = -1;
    unsigned mtdOffset = 0;
    if (flashOffset2mtdOffset(s, 0, &mtd, &mtdOffset) != 0 || mtd < 0) {
        std::printf("flashOffset2mtdOffset failed\n");
        return -1;
    }
    if (flashMtdErase(mtd, mtdOffset, n) != 0) {
        std::printf("flashMtdErase failed\n");
        return -1;
    }
    return 0;
}

int flashProbe(void) { return 0; }
int flashProtectOn(void) { return 0; }
int flashProtectOff(void) { return 0; }
int lockFlash(void) { return flashProtectOn(); }
int unlockFlash(void) { return flashProtectOff(); }
int flashDiagnostic(void) { return 0; }
int flashSyncFilesystem(void) { return 0; }

int flashEraseBank(int s, int n) {
    if (s < 0 || n < 0 || static_cast<int64_t>(s) + n > static_cast<int64_t>(flashGetSectorCount())) {
        std::printf("flashEraseBank(): Illegal parms %d, %d\n", s, n);
        return -1;
    }
    return 0;
}

}  // extern "C"
