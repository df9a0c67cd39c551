// axwebd: the web server process of the switch (platform process 5). It
// serves HTTP on the management address; every page runs in the process
// that owns it, with the request's variables in the shared request pools,
// and its output comes back through the web relay.
//
//   axwebd [--listen ADDR:PORT] [--idle-timeout SECONDS] [--wait MS]
#include <semaphore.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "axmsg_client/axmsg_client.h"
#include "http_server.h"
#include "page_output.h"
#include "platform_core/axhttp.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/types.h"
#include "platform_sim/sim.h"

namespace {

constexpr unsigned kDefaultWaitMs = 10000;

void usage() {
    std::printf(
        "usage: axwebd [--listen ADDR:PORT] [--idle-timeout SECONDS] [--wait MS]\n"
        "  Serves the switch's web pages on ADDR:PORT (default 0.0.0.0:80).\n"
        "  --idle-timeout  an idle or slow connection is closed after this (default 10)\n"
        "  --wait          how long to wait for the core process (default 10000)\n");
}

bool parse_listen(const std::string &text, axwebd::ServerOptions &o) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char *end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) return false;
    o.address = text.substr(0, colon);
    o.port = static_cast<uint16_t>(port);
    return true;
}

sem_t g_stop;
void on_stop_signal(int) { sem_post(&g_stop); }

}  // namespace

int main(int argc, char **argv) {
    axwebd::ServerOptions options;
    unsigned waitMs = kDefaultWaitMs;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--listen") == 0 && hasValue) {
            if (!parse_listen(argv[++i], options)) {
                std::fprintf(stderr, "axwebd: --listen wants ADDR:PORT, not '%s'\n", argv[i]);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--idle-timeout") == 0 && hasValue) {
            options.idleSeconds = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
            if (options.idleSeconds == 0) options.idleSeconds = 1;
        } else if (std::strcmp(argv[i], "--wait") == 0 && hasValue) {
            waitMs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            usage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    sem_init(&g_stop, 0, 0);
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    simProcessSetPid(PID_HTTPD);
    if (axmsg_client_init(PID_HTTPD, waitMs) != 0) {
        std::fprintf(stderr, "axwebd: the core process is not reachable\n");
        return 3;
    }
    if (axshm_init() != 0 || axrpcInit() != 0 || httpParseInit() != 0 || axwebd::output_register() != 0) {
        std::fprintf(stderr, "axwebd: cannot start the web glue (shared blocks, RPC)\n");
        return 3;
    }
    if (!axwebd::server_start(options)) {
        std::fprintf(stderr, "axwebd: cannot serve on %s:%u\n", options.address.c_str(), options.port);
        return 1;
    }
    std::printf("axwebd: serving http on %s:%u\n", options.address.c_str(), options.port);
    while (sem_wait(&g_stop) != 0 && errno == EINTR) {
    }
    std::printf("axwebd: stopping\n");
    axwebd::server_stop();
    pal_msgQ_remove_created();
    return 0;
}
