// Messages to the supervisor over its named pipes, the start-up report and
// heartbeat of an application process, and the image number file (see
// platform_core/app.h).
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/system_path.h"
#include "platform_core/app.h"
#include "platform_core/diag.h"
#include "platform_core/pal.h"
#include "platform_core/xml_util.h"

namespace {

struct Channel {
    uint32_t type;
    const char *pipe;
};
constexpr std::array kChannels{
    Channel{MS_CHANNEL_SCM_TO_MONITOR, "scm_to_monitor_channel"},
    Channel{MS_CHANNEL_MONITOR_TO_SCM, "monitor_to_scm_channel"},
    Channel{MS_CHANNEL_SCM_TO_APP, "scm_to_app_channel"},
    Channel{MS_CHANNEL_APP_TO_SCM, "app_to_scm_channel"},
};
static_assert(sizeof(MS_MSG_T) == 72);

constexpr const char *kConsole = "/dev/ttyS0";
constexpr unsigned kHeartbeatStack = 16384;
constexpr unsigned kHeartbeatPriority = 40;

// The program name kept by appStartUpRsp; written once, under g_start_once.
char g_app_name[MS_APP_NAME_MAX + 1];
std::once_flag g_start_once;

int send_named(uint32_t code, const char *name) {
    MS_MSG_T msg{};
    msg.type = MS_CHANNEL_APP_TO_SCM;
    msg.code = code;
    std::strncpy(msg.name, name, sizeof msg.name - 1);
    return ms_SentMsg(&msg);
}

bool write_all(int fd, const void *data, size_t len) {
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

void redirect_stdout_to_console() {
    std::string console = pc::app::system_path(kConsole);
    int fd = open(console.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;  // no console: standard output stays where it is
    std::fflush(stdout);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

}  // namespace

extern "C" {

PC_API int ms_SentMsg(const MS_MSG_T *msg) {
    if (msg == nullptr) return -1;
    const Channel *channel = nullptr;
    for (const Channel &c : kChannels) {
        if (c.type == msg->type) channel = &c;
    }
    if (channel == nullptr) return 0;
    std::string path = pc::app::system_path(MS_CHANNEL_DIR) + "/" + channel->pipe;
    // Opened without waiting: a pipe that no supervisor reads (or that does
    // not exist) fails the send instead of blocking the caller for ever.
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printf("open channel fail!\n");
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    bool ok = write_all(fd, msg, sizeof *msg);
    close(fd);
    return ok ? 0 : -1;
}

PC_API void app_HBTask(void *name) {
    const char *text = static_cast<const char *>(name);
    for (;;) {
        send_named(MS_MSG_APP_ALIVE, text);
        pal_sleep(MS_HEARTBEAT_SECONDS);
    }
}

PC_API int appStartUpRsp(const char *name) {
    if (name == nullptr) return -1;
    std::call_once(g_start_once, [name] {
        redirect_stdout_to_console();
        strncpy_safe(g_app_name, name, sizeof g_app_name);
        dk_initation();
        if (pal_thread_create("app_HBTask", kHeartbeatStack, kHeartbeatPriority, app_HBTask, g_app_name) ==
            PAL_THREAD_INVALID) {
            printf("Fail to create %s!\n", "app_HBTask");
        }
    });
    return send_named(MS_MSG_APP_STARTED, g_app_name);
}

PC_API const char *appProgramName(void) { return g_app_name; }

PC_API int ms_GetImageNum(void) {
    std::string path = pc::app::system_path(MS_IMAGE_NUM_FILE);
    FILE *fp = std::fopen(path.c_str(), "rbe");
    if (fp == nullptr) {
        printf("open channel fail,return default value 1!\n");
        return 1;
    }
    unsigned char bytes[4];
    size_t n = std::fread(bytes, 1, sizeof bytes, fp);
    std::fclose(fp);
    if (n != sizeof bytes) return 1;  // a short file holds no number
    return static_cast<int>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                            (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]});
}

PC_API int ms_SetImageNum(int num) {
    std::string path = pc::app::system_path(MS_IMAGE_NUM_FILE);
    std::string temp = path + ".tmp";
    auto v = static_cast<uint32_t>(num);
    const unsigned char bytes[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                    static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = write_all(fd, bytes, sizeof bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return -1;
    }
    return 0;
}

}  // extern "C"
