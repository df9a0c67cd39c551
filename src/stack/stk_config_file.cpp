// Reading the saved configuration for the stack start-up task.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/stack.h"

namespace {

constexpr size_t kReadPiece = 1024;

// The file to read: the saved configuration, or the one named by
// PC_STARTUP_CONFIG on a development machine (the simulated switch has no
// /axbase).
const char *config_path() {
    const char *env = std::getenv("PC_STARTUP_CONFIG");
    return (env != nullptr && env[0] != '\0') ? env : STK_CONFIG_FILE;
}

}  // namespace

extern "C" PC_API int swStkGetConfigFromFile(char **pCfgData, uint32_t *cfgDataLen) {
    PFM_ENSURE_RET(MID_STACK, NULL != pCfgData, -1);
    PFM_ENSURE_RET(MID_STACK, NULL != cfgDataLen, -1);
    *pCfgData = nullptr;
    *cfgDataLen = 0;
    FILE *f = std::fopen(config_path(), "r");
    if (f == nullptr) {
        int err = errno;
        if (err != ENOENT) {
            PFM_ERR(MID_STACK, "open %s: %s", config_path(), std::strerror(err));
            return -1;
        }
        PFM_DBG(MID_STACK, "No config file exist!");
        return 0;
    }
    auto *buf = static_cast<char *>(pal_calloc(1, STK_CONFIG_MAX_LEN, "STACK"));
    if (buf == nullptr) {
        std::fclose(f);
        return -1;
    }
    size_t len = 0;
    while (len < STK_CONFIG_MAX_LEN) {
        size_t want = std::min(kReadPiece, STK_CONFIG_MAX_LEN - len);
        size_t got = std::fread(buf + len, 1, want, f);
        len += got;
        if (got < want) break;
    }
    std::fclose(f);
    *pCfgData = buf;
    *cfgDataLen = static_cast<uint32_t>(len);
    return 0;
}
