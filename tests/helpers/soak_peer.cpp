// A process for the restart soak (tests/soak/restart_soak.py). Modes:
//   soak_peer feature PID TYPE SINK FIRST   a feature process: registers a
//       configuration printer and a subscription to event TYPE, then every
//       100 ms raises TYPE with (PID, sequence from FIRST) and every 200 ms asks the core
//       for the running configuration; every second it sends 512 KiB to
//       process SINK (which never reads), so the hub's reader of this
//       process is often blocked writing. It logs one line per result:
//         up <ms> <init rc>          connected (ms from start)
//         raise <seq> <rc> <t_ms>    an event raised (rc of notify_call)
//         call <rc>                  the running-configuration call
//   soak_peer listener PID TYPE       subscribes to TYPE and logs
//         subscribed <t_ms>          once subscribed
//         got <pid> <seq>            for every event it receives
//   soak_peer sink PID                says hello as PID and never reads;
//       connects again whenever the hub drops it
// Times are CLOCK_MONOTONIC milliseconds, the same clock in every process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "axmsg_client/axconfig_client.h"
#include "axmsg_client/axmsg_client.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"

namespace {

constexpr int kMid = 60;
constexpr uint32_t kSinkMid = 61;
constexpr unsigned kConnectMs = 30000;

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void log_line(const char *format, long long a, long long b = 0, long long c = 0) {
    std::printf(format, a, b, c);
    std::fflush(stdout);
}

struct Event {
    int32_t pid;
    int32_t seq;
};

int on_event(void *arg, int len) {
    if (arg == nullptr || len < static_cast<int>(sizeof(Event))) return 0;
    Event e{};
    std::memcpy(&e, arg, sizeof e);
    log_line("got %lld %lld\n", e.pid, e.seq);
    return 0;
}

int printer(int type, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    return type == AXCFG_TYPE_GLOBAL ? out(env, "soak feature") : 0;
}

int start(int pid, long long t0) {
    simProcessSetPid(pid);
    const int rc = axmsg_client_init(pid, kConnectMs);
    log_line("up %lld %lld\n", now_ms() - t0, rc);
    if (rc != 0) return -1;
    if (axrpcInit() != 0 || notify_lib_init() != 0) return -1;
    return 0;
}

int feature(int pid, int type, int sink, int32_t first) {
    const long long t0 = now_ms();
    if (start(pid, t0) != 0) return 3;
    if (notify_reg(kMid, type, on_event, 10) != 0) log_line("reg-failed %lld\n", 0);
    if (axConfigClientInit() != 0 || axConfigClientRegister("soak_cfg", printer, nullptr, 50) != 0)
        log_line("cfg-failed %lld\n", 0);
    std::vector<uint8_t> bulk(512 * 1024, 0x5A);
    long long next_call = now_ms(), next_bulk = now_ms();
    for (int32_t seq = first;; ++seq) {
        Event e{pid, seq};
        const int rc = notify_call(type, &e, sizeof e);
        log_line("raise %lld %lld %lld\n", seq, rc, now_ms());
        if (now_ms() >= next_call) {
            AXRPC_PARA_T in;
            AXRPC_PARA_GROUP_T out;
            axrpcParaInit(&in);
            axrpcParaGroupInit(&out);
            axrpcAddInt(&in, "maxlen", 4096);
            log_line("call %lld\n",
                     axrpcCallFunctionSync(1u << 1, PID_CORE, "getRunningCfg", &in, 5, 0, &out));
            axrpcParaFree(&in);
            axrpcParaGroupFree(&out);
            next_call += 200;
        }
        if (now_ms() >= next_bulk) {
            iovec piece{bulk.data(), bulk.size()};
            AXMSG_T m{};
            m.dst_unit = 1;
            m.dst_proc = static_cast<uint32_t>(sink);
            m.msg_type = kSinkMid;
            m.iov = &piece;
            m.iov_num = 1;
            axmsg_send(&m);
            next_bulk += 1000;
        }
        usleep(100000);
    }
}

int listener(int pid, int type) {
    if (start(pid, now_ms()) != 0) return 3;
    if (notify_reg(kMid, type, on_event, 10) != 0) return 4;
    log_line("subscribed %lld\n", now_ms());
    for (;;) pause();
}

int sink(int pid) {
    for (;;) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(AXMSG_SERV_PORT);
        inet_pton(AF_INET, AXMSG_SERV_ADDR, &addr.sin_addr);
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            AXMSG_HEADER_T h{};
            h.marker = AXMSG_MARKER;
            h.command = AXMSG_CMD_UNICAST;
            h.dst_unit = 1;
            h.dst_proc = PID_CORE;
            h.src_unit = 1;
            h.src_proc = static_cast<uint32_t>(pid);
            h.msg_type = MID_AXMSG;
            h.check = AXMSG_CHECK;
            h.data_len = AXMSG_HELLO_LEN;
            uint8_t hello[sizeof h + AXMSG_HELLO_LEN] = {};
            std::memcpy(hello, &h, sizeof h);
            if (send(fd, hello, sizeof hello, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof hello)) {
                // Never reads: waits until the hub hangs up.
                pollfd p{fd, POLLRDHUP, 0};
                while (poll(&p, 1, -1) == 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
                }
            }
        }
        close(fd);
        usleep(200000);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    const int pid = std::atoi(argv[2]);
    if (mode == "feature" && argc == 6)
        return feature(pid, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "listener" && argc == 4) return listener(pid, std::atoi(argv[3]));
    if (mode == "sink") return sink(pid);
    return 2;
}
