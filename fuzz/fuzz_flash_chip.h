// A simulated flash chip for the flash harnesses: the partition files in a
// temporary directory (in memory where /dev/shm exists), made once per run
// and removed when the run ends.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform_core/flash.h"
#include "platform_sim/sim_flash.h"

namespace pc::fuzz {

inline const std::string &flash_chip_dir() {
    static const std::string dir = [] {
        struct stat st {};
        std::string tmpl =
            (::stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp") + std::string("/fuzzflash.XXXXXX");
        if (mkdtemp(tmpl.data()) == nullptr || simFlashCreate(tmpl.c_str(), 1) != 0) {
            std::fprintf(stderr, "cannot make the simulated flash\n");
            std::abort();
        }
        flashDrvLibInit();
        // The path is copied: the string itself is gone by the time exit
        // handlers registered during its construction run.
        static char path[64];
        std::snprintf(path, sizeof path, "%s", tmpl.c_str());
        std::atexit([] { std::filesystem::remove_all(path); });
        return tmpl;
    }();
    return dir;
}

inline void put_file(const char *name, uint32_t offset, const void *data, size_t len) {
    std::string path = flash_chip_dir() + "/" + name;
    FILE *f = std::fopen(path.c_str(), "r+b");
    if (f == nullptr) std::abort();
    std::fseek(f, static_cast<long>(offset), SEEK_SET);
    std::fwrite(data, 1, len, f);
    std::fclose(f);
}

// Writes bytes straight into the para partition (the top MiB of the chip),
// bypassing the library; offset counts from the start of that partition.
inline void put_para(uint32_t offset, const void *data, size_t len) { put_file("mtd7", offset, data, len); }

// Erases everything the inner item area may reach (the top 3 MiB and the
// sector below) and forgets every cached view of the flash.
inline void fresh_para() {
    static const std::string blank(0x1d0000, '\xff');
    put_file("mtd7", 0, blank.data(), 0x100000);
    put_file("mtd6", 0, blank.data(), 0x40000);
    put_file("mtd5", 0x1f0000, blank.data(), 0x1d0000);
    flashMtdSetDevicePrefix((flash_chip_dir() + "/mtd").c_str());
}

}  // namespace pc::fuzz
