// The CLI command table of the core (see aximi_cli_table.h). Entries are
// fixed-size records in one array, in registration order, under the mutex
// "AXIMI_CLI_CMD_LOCK"; the list is copied out under the lock and sent
// after it.
#include "mgmt/aximi_cli_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "mgmt/aximi_state.h"
#include "mgmt/mgmt_para.h"
#include "pal/mutex_guard.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::mgmt::imi::cli {

namespace {

struct Entry {
    int32_t pid;  // the registering process; 0 for a free record
    char words[AXIMI_CLI_WORDS_MAX + 1];
    char synopsis[AXIMI_CLI_SYNOPSIS_MAX + 1];
    char help[AXIMI_CLI_HELP_MAX + 1];
    char func[IMI_FUNC_NAME_MAX + 1];
};

pal_mutex_t gLock = nullptr;                      // created once, by the first table use
std::array<Entry, AXIMI_CLI_CMD_MAX> gEntries{};  // guarded by gLock
size_t gCount = 0;                                // used records at the front; guarded by gLock
std::once_flag gLockOnce;

pal_mutex_t table_lock() {
    std::call_once(gLockOnce, [] { gLock = pal_mutex_create("AXIMI_CLI_CMD_LOCK"); });
    return gLock;
}

bool word_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.';
}

void copy(char *dst, size_t size, const char *src) { std::snprintf(dst, size, "%s", src ? src : ""); }

Entry *find(const char *words) {
    for (size_t i = 0; i < gCount; ++i)
        if (std::strcmp(gEntries[i].words, words) == 0) return &gEntries[i];
    return nullptr;
}

// A checked text parameter, or null.
const char *text_para(const AXRPC_PARA_T *in, const char *name) { return para_text(in, name); }

int32_t caller_pid() {
    const auto *env = envTls != nullptr ? static_cast<const AXRPC_ENV_T *>(pal_tls_key_get(envTls)) : nullptr;
    return env != nullptr ? env->pid : 0;
}

int add_text(AXRPC_PARA_T *out, const char *name, size_t index, const char *text) {
    char key[AXRPC_PARA_NAME_MAX + 1];
    std::snprintf(key, sizeof key, "%s%zu", name, index);
    return axrpcAddString(out, key, text, static_cast<int>(std::strlen(text) + 1));
}

}  // namespace

bool words_valid(const char *words) {
    if (words == nullptr || words[0] == '\0' || std::strlen(words) > AXIMI_CLI_WORDS_MAX) return false;
    size_t count = 0;
    for (const char *p = words; *p != '\0';) {
        if (!word_char(*p)) return false;
        while (word_char(*p)) ++p;
        ++count;
        if (*p == ' ') {
            ++p;
            if (!word_char(*p)) return false;  // one blank between words, none at the end
        } else if (*p != '\0') {
            return false;
        }
    }
    return count <= AXIMI_CLI_WORD_COUNT_MAX;
}

bool text_valid(const char *text, size_t max) {
    if (text == nullptr) return true;
    size_t n = 0;
    for (; text[n] != '\0'; ++n)
        if (n >= max || std::isprint(static_cast<unsigned char>(text[n])) == 0) return false;
    return true;
}

int table_add(int32_t pid, const char *words, const char *synopsis, const char *help, const char *funcName) {
    if (!IS_PID_VALID(pid) || !words_valid(words) || !text_valid(synopsis, AXIMI_CLI_SYNOPSIS_MAX) ||
        !text_valid(help, AXIMI_CLI_HELP_MAX) || funcName == nullptr || funcName[0] == '\0' ||
        !text_valid(funcName, IMI_FUNC_NAME_MAX))
        return -1;
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return -1;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return -1;
    Entry *e = find(words);
    if (e == nullptr) {
        if (gCount == gEntries.size()) {
            PFM_ERR(kMid, "CLI command table is full, '%s' of proc %d refused\n", words,
                    static_cast<int>(pid));
            return -1;
        }
        e = &gEntries[gCount++];
    }
    e->pid = pid;
    copy(e->words, sizeof e->words, words);
    copy(e->synopsis, sizeof e->synopsis, synopsis);
    copy(e->help, sizeof e->help, help);
    copy(e->func, sizeof e->func, funcName);
    return 0;
}

int table_remove(int32_t pid, const char *words) {
    if (!words_valid(words)) return -1;
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return -1;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return -1;
    Entry *e = find(words);
    if (e == nullptr || e->pid != pid) return -1;
    const size_t at = static_cast<size_t>(e - gEntries.data());
    for (size_t i = at; i + 1 < gCount; ++i) gEntries[i] = gEntries[i + 1];
    gEntries[--gCount] = Entry{};
    return 0;
}

void drop_process(uint32_t pid) {
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return;
    pc::pal::MutexGuard guard(lock);
    if (!guard.held()) return;
    // Kept in registration order: the others move up over the dropped ones.
    const auto kept = std::remove_if(gEntries.begin(), gEntries.begin() + static_cast<std::ptrdiff_t>(gCount),
                                     [pid](const Entry &e) { return static_cast<uint32_t>(e.pid) == pid; });
    const size_t count = static_cast<size_t>(kept - gEntries.begin());
    if (count == gCount) return;
    PFM_DBG(kMid, "proc %u gone: %zu CLI commands dropped\n", pid, gCount - count);
    std::fill(kept, gEntries.begin() + static_cast<std::ptrdiff_t>(gCount), Entry{});
    gCount = count;
}

int serve_register(AXRPC_PARA_T *in, AXRPC_PARA_T *out) {
    const int32_t pid = caller_pid();
    const char *words = text_para(in, kParaWords);
    uint32_t del = 0;
    int rc = -1;
    if (axrpcGetFlag(in, kParaDelete, &del) == 0 && del != 0)
        rc = table_remove(pid, words);
    else
        rc = table_add(pid, words, text_para(in, kParaSynopsis), text_para(in, kParaHelp),
                       text_para(in, kParaFunc));
    axrpcAddInt(out, kParaRet, rc);
    return 0;
}

int serve_list(AXRPC_PARA_T *, AXRPC_PARA_T *out) {
    pal_mutex_t lock = table_lock();
    if (lock == nullptr) return axrpcAddInt(out, kParaCount, 0);
    // Copied out (on the heap: workers have small stacks) and sent after the lock.
    std::unique_ptr<Entry[]> copy_out(new (std::nothrow) Entry[AXIMI_CLI_CMD_MAX]);
    if (copy_out == nullptr) return axrpcAddInt(out, kParaCount, 0);
    size_t count = 0;
    {
        pc::pal::MutexGuard guard(lock);
        if (!guard.held()) return axrpcAddInt(out, kParaCount, 0);
        count = gCount;
        std::copy_n(gEntries.begin(), count, copy_out.get());
    }
    size_t sent = 0;
    for (; sent < count; ++sent) {
        const Entry &e = copy_out[sent];
        char key[AXRPC_PARA_NAME_MAX + 1];
        std::snprintf(key, sizeof key, "%s%zu", kParaPid, sent);
        if (axrpcAddInt(out, key, e.pid) != 0 || add_text(out, kParaWords, sent, e.words) != 0 ||
            add_text(out, kParaSynopsis, sent, e.synopsis) != 0 ||
            add_text(out, kParaHelp, sent, e.help) != 0 || add_text(out, kParaFunc, sent, e.func) != 0)
            break;
    }
    return axrpcAddInt(out, kParaCount, static_cast<int>(sent));
}

}  // namespace pc::mgmt::imi::cli
