// The start-up configuration file: reading, saving, loading into the
// application, and finding or replacing one command in it.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "mgmt/axconfig_state.h"
#include "platform_core/appintf.h"
#include "platform_core/pal.h"

namespace pc::mgmt::cfg {

namespace {

struct PalFree {
    void operator()(char *p) const { pal_free(p); }
};
using ConfigText = std::unique_ptr<char, PalFree>;

struct FileClose {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

// The start-up file's text (null when there is none) and its length.
int read_startup(ConfigText *text, unsigned *len) {
    char *data = nullptr;
    int rc = axconfigGetConfigFromFile(AXCONFIG_CFG_FILE_PATH, &data, len);
    text->reset(data);
    return rc;
}

// Calls visit(line) for each line that ends in a line feed (without it).
// With keep_tail, bytes after the last line feed are a last line too.
template <typename Visit>
void each_line(std::string_view rest, Visit &&visit, bool keep_tail = false) {
    for (size_t end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        if (!visit(rest.substr(0, end))) return;
        rest.remove_prefix(end + 1);
    }
    if (keep_tail && !rest.empty()) visit(rest);
}

enum class WholeFile { Missing, Read, Failed };

// Reads the whole start-up file for an edit that writes it back: unlike
// axconfigGetConfigFromFile, which stops at its buffer, it reads past the
// limit (up to one byte more, enough to know the file is too long) and
// fails on a read error, so an edit never saves a cut copy. A file that
// exists but cannot be opened is a failure, never "missing".
WholeFile read_whole_startup(std::string *text) {
    File f(std::fopen(AXCONFIG_CFG_FILE_PATH, "r"));
    if (f == nullptr) return errno == ENOENT ? WholeFile::Missing : WholeFile::Failed;
    try {
        text->resize(size_t{kMaxLen} + 1);
    } catch (const std::bad_alloc &) {
        PFM_ERR(kMid, "Malloc error\n");
        return WholeFile::Failed;
    }
    size_t total = 0;
    while (total < text->size()) {
        size_t n = std::fread(text->data() + total, 1, text->size() - total, f.get());
        if (n == 0) break;
        total += n;
    }
    if (std::ferror(f.get())) {
        PFM_ERR(kMid, "Read %s error\n", AXCONFIG_CFG_FILE_PATH);
        return WholeFile::Failed;
    }
    text->resize(total);
    return WholeFile::Read;
}

// Creates the directories above `path` that are missing (a fresh switch has
// no configuration directory until the first save).
void make_parent_dirs(const char *path) {
    std::string dir(path);
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        dir[slash] = '\0';
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return;
        dir[slash] = '/';
    }
}

bool contains(std::string_view line, const char *prefix) {
    return line.find(prefix) != std::string_view::npos;
}

}  // namespace

}  // namespace pc::mgmt::cfg

using namespace pc::mgmt::cfg;

extern "C" {

PC_API int axConfigIsConfigExist(void) {
    File f(std::fopen(AXCONFIG_CFG_FILE_PATH, "r"));
    return f != nullptr ? 1 : 0;
}

PC_API int axconfigGetConfigFromFile(const char *path, char **pCfgData, unsigned *cfgDataLen) {
    PFM_ENSURE_RET(kMid, NULL != pCfgData, -1);
    PFM_ENSURE_RET(kMid, NULL != cfgDataLen, -1);
    *pCfgData = nullptr;
    *cfgDataLen = 0;
    PFM_ENSURE_RET(kMid, NULL != path, -1);
    File f(std::fopen(path, "r"));
    if (f == nullptr) {
        PFM_DBG(kMid, "No config file exist!");
        return 0;
    }
    auto *data = static_cast<char *>(pal_calloc(1, kMaxLen, kTag));
    if (data == nullptr) {
        PFM_ERR(kMid, "Malloc error\n");
        return -1;
    }
    // Keep one zero byte after the text.
    size_t total = 0;
    while (total < kMaxLen - 1) {
        size_t n = std::fread(data + total, 1, kMaxLen - 1 - total, f.get());
        if (n == 0) break;
        total += n;
    }
    *pCfgData = data;
    *cfgDataLen = static_cast<unsigned>(total);
    return 0;
}

PC_API int axconfigSaveConfig(const char *path, const char *buf, unsigned len) {
    PFM_ENSURE_RET(kMid, NULL != path, -1);
    PFM_ENSURE_RET(kMid, NULL != buf, -1);
    make_parent_dirs(path);
    // Written beside the file and renamed over it, so that a failed write
    // never leaves a half-written configuration behind.
    const std::string temp = std::string(path) + ".new";
    File f(std::fopen(temp.c_str(), "w"));
    if (f == nullptr) {
        PFM_ERR(kMid, "Open %s error\n", path);
        return -1;
    }
    bool ok = len == 0 || std::fwrite(buf, 1, len, f.get()) == len;
    ok = std::fflush(f.get()) == 0 && ok;
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path) != 0) {
        PFM_ERR(kMid, "Write %s error\n", path);
        std::remove(temp.c_str());
        return -1;
    }
    return 0;
}

PC_API int axConfigLoadConfig(const char *buf, unsigned len) {
    auto load = APPINTF_GET(APPINTF_SLOT_CONFIG_LOAD);
    if (load == nullptr || buf == nullptr) return 0;
    return load(buf, len);
}

PC_API int axConfigReloadStartupConfig(void) {
    ConfigText text;
    unsigned len = 0;
    if (int rc = read_startup(&text, &len); rc != 0) return rc;
    if (text == nullptr) return 0;
    return axConfigLoadConfig(text.get(), len);
}

PC_API int axConfigGetCommand(const char *prefix, int len, char *out) {
    PFM_ENSURE_RET(kMid, NULL != prefix, -1);
    PFM_ENSURE_RET(kMid, NULL != out, -1);
    PFM_ENSURE_RET(kMid, 255 < len, -1);
    ConfigText text;
    unsigned size = 0;
    if (read_startup(&text, &size) != 0 || text == nullptr) return -1;
    int rc = -1;
    each_line(std::string_view(text.get(), size), [&](std::string_view line) {
        if (!contains(line, prefix)) return true;
        std::snprintf(out, static_cast<size_t>(len), "%.*s", static_cast<int>(line.size()), line.data());
        rc = 0;
        return false;
    });
    return rc;
}

PC_API int axConfigReplaceCommand(const char *prefix, const char *replCommand) {
    PFM_ENSURE_RET(kMid, NULL != prefix, -1);
    PFM_ENSURE_RET(kMid, NULL != replCommand, -1);
    PFM_ENSURE_RET(kMid, 255 > strlen(replCommand), -1);
    std::string text;
    WholeFile got = read_whole_startup(&text);
    if (got == WholeFile::Failed) return -1;
    if (got == WholeFile::Missing || text.empty()) {
        // No start-up file yet: it is made from the running configuration.
        ConfigText running(static_cast<char *>(pal_calloc(1, kMaxLen, kTag)));
        if (running == nullptr) return -1;
        unsigned len = 0;
        if (int rc = axConfigGetConfig(kMaxLen, running.get(), &len); rc != 0) return rc;
        return axconfigSaveConfig(AXCONFIG_CFG_FILE_PATH, running.get(), len);
    }
    const size_t replLen = std::strlen(replCommand);
    if (text.size() + replLen > kMaxLen) return -1;
    // Every line but the first that holds the prefix is kept, the last one
    // too when the file does not end in a line feed.
    std::string updated;
    try {
        updated.reserve(text.size() + replLen + 2);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    bool removed = false;
    each_line(
        text,
        [&](std::string_view line) {
            if (!removed && contains(line, prefix)) {
                removed = true;
                return true;
            }
            updated.append(line).push_back('\n');
            return true;
        },
        true);
    updated.append(replCommand).push_back('\n');
    // What is saved must come back whole from the next read (which keeps a
    // terminating zero in its buffer of kMaxLen bytes).
    if (updated.size() > kMaxLen - 1) return -1;
    return axconfigSaveConfig(AXCONFIG_CFG_FILE_PATH, updated.data(), static_cast<unsigned>(updated.size()));
}

}  // extern "C"
