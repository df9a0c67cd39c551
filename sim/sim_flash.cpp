// The simulated flash chip (partition files) and the kernel-side security
// code service over the host transport of netlink protocol 23.
#include "platform_sim/sim_flash.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform_core/flash.h"
#include "platform_core/sibling.h"

namespace {

constexpr size_t kBootEnvSize = 0x20000;  // the env partition of the default map

struct Partition {
    std::string name;
    uint64_t size;
};

// "<digits><K|M>(<name>)" entries of an mtdparts text, in order.
std::vector<Partition> parse_mtdparts(const std::string &text) {
    std::vector<Partition> parts;
    size_t pos = text.find(':');
    while (pos != std::string::npos && pos + 1 < text.size()) {
        size_t open = text.find('(', pos), close = text.find(')', open);
        if (open == std::string::npos || close == std::string::npos || open < pos + 2) break;
        char unit = text[open - 1];
        uint64_t n = std::strtoull(text.c_str() + pos + 1, nullptr, 10);
        parts.push_back({text.substr(open + 1, close - open - 1), n * (unit == 'M'   ? 0x100000
                                                                       : unit == 'K' ? 1024
                                                                                     : 0)});
        pos = text.find(',', close);
    }
    return parts;
}

uint32_t crc32(const unsigned char *p, size_t n) {
    uint32_t c = 0xffffffffu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

bool write_file(const std::string &path, const std::vector<unsigned char> &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool make_dirs(const std::string &dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

std::atomic<unsigned> g_progress{0};
std::atomic<bool> g_serving{false};
int g_service_fd = -1;
std::thread g_service;
unsigned char g_code[FLASH_SECURITY_CODE_LEN];

void serve() {
    while (g_serving.load()) {
        unsigned char req[64];
        sockaddr_un from{};
        socklen_t fromLen = sizeof from;
        ssize_t n =
            ::recvfrom(g_service_fd, req, sizeof req, 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (static_cast<size_t>(n) < sizeof(nlmsghdr)) continue;
        nlmsghdr in{};
        std::memcpy(&in, req, sizeof in);
        unsigned char reply[sizeof(nlmsghdr) + FLASH_SECURITY_CODE_LEN];
        nlmsghdr out{};
        out.nlmsg_len = sizeof reply;
        out.nlmsg_type = in.nlmsg_type;
        out.nlmsg_seq = in.nlmsg_seq;
        out.nlmsg_pid = 0;  // from the kernel
        std::memcpy(reply, &out, sizeof out);
        std::memcpy(reply + sizeof out, g_code, sizeof g_code);
        ::sendto(g_service_fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr *>(&from), fromLen);
    }
}

}  // namespace

extern "C" {

void httpUpgradeIncreaseProcess(void) { g_progress.fetch_add(1); }

unsigned simFlashUpgradeProgress(void) { return g_progress.load(); }

const char *simFlashDefaultDir(void) {
    const char *env = std::getenv(SIM_FLASH_ENV_DIR);
    return env && *env ? env : "/tmp/platform-flash";
}

int simFlashWriteBootEnv(const char *dir, const char *mtdparts) {
    if (dir == nullptr || mtdparts == nullptr) return -1;
    std::vector<unsigned char> env(kBootEnvSize, 0);
    std::string entries = std::string("bootcmd=bootm 0x9f100000") + '\0' + "bootdelay=1" + '\0' +
                          "baudrate=115200" + '\0' + mtdparts + '\0';
    if (entries.size() + 5 > env.size()) return -1;
    std::memcpy(env.data() + 4, entries.data(), entries.size());
    uint32_t crc = crc32(env.data() + 4, env.size() - 4);
    for (int i = 0; i < 4; ++i) env[static_cast<size_t>(i)] = static_cast<unsigned char>(crc >> (8 * i));
    return write_file(std::string(dir) + "/mtd1", env) ? 0 : -1;
}

int simFlashCreate(const char *dir, int force) {
    if (dir == nullptr || !make_dirs(dir)) return -1;
    std::vector<Partition> parts = parse_mtdparts(SIM_FLASH_DFT_MTDPARTS);
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string path = std::string(dir) + "/mtd" + std::to_string(i);
        struct stat st {};
        if (!force && ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) == parts[i].size)
            continue;
        if (i == 1) {
            if (simFlashWriteBootEnv(dir, SIM_FLASH_DFT_MTDPARTS) != 0) return -1;
            continue;
        }
        if (!write_file(path, std::vector<unsigned char>(parts[i].size, 0xff))) return -1;
    }
    return 0;
}

int simFlashSecurityStart(const unsigned char code[8]) {
    if (code == nullptr || g_serving.load()) return -1;
    std::memcpy(g_code, code, sizeof g_code);
    g_service_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_service_fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, FLASH_NETLINK_HOST_SERVICE, sizeof FLASH_NETLINK_HOST_SERVICE - 1);
    socklen_t len =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof FLASH_NETLINK_HOST_SERVICE);
    if (::bind(g_service_fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        ::close(g_service_fd);
        g_service_fd = -1;
        return -1;
    }
    g_serving.store(true);
    g_service = std::thread(serve);
    // A process that does not stop the service itself stops it on exit.
    static bool stopAtExit = std::atexit([] { simFlashSecurityStop(); }) == 0;
    (void)stopAtExit;
    return 0;
}

void simFlashSecurityStop(void) {
    if (!g_serving.exchange(false)) return;
    ::shutdown(g_service_fd, SHUT_RDWR);
    // A datagram socket's shutdown does not wake recvfrom everywhere: send
    // ourselves one short datagram as well.
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path + 1, FLASH_NETLINK_HOST_SERVICE, sizeof FLASH_NETLINK_HOST_SERVICE - 1);
        socklen_t len =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + sizeof FLASH_NETLINK_HOST_SERVICE);
        char b = 0;
        ::sendto(fd, &b, 1, 0, reinterpret_cast<sockaddr *>(&addr), len);
        ::close(fd);
    }
    if (g_service.joinable()) g_service.join();
    ::close(g_service_fd);
    g_service_fd = -1;
}

}  // extern "C"
