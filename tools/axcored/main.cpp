// axcored: the core process of the switch (platform process 1) on the
// simulated switch. It brings the platform up with platformInit, reports
// the result, serves until SIGINT or SIGTERM and then exits cleanly.
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform_core/axpacket.h"

#include "platform_core/flash.h"
#include "platform_core/notify.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/sibling.h"
#include "platform_core/types.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"
#include "platform_sim/sim_device.h"
#include "platform_sim/sim_flash.h"
#include "show_commands.h"

namespace {

void usage(const char *prog) {
    std::printf(
        "usage: %s [--debug LEVEL] [--device TYPE] [--flash DIR]\n"
        "          [--port-link PORT=IFNAME]... [--cpu-if IFNAME] [--vlan-if VID=IFNAME]...\n"
        "  Runs the core process of the simulated switch until SIGINT or SIGTERM.\n"
        "  TYPE is a device type number or name of the simulated device table.\n"
        "  DIR holds the simulated flash chip (made on first use; default\n"
        "  $PLATFORM_FLASH_DIR or /tmp/platform-flash).\n"
        "  --port-link binds front-panel port PORT (e.g. 1/0/3) to the Linux interface IFNAME.\n"
        "  --cpu-if creates the TAP interface IFNAME through which the Linux stack\n"
        "  exchanges frames with the switch's CPU port (802.1Q-tagged).\n"
        "  --vlan-if creates the TAP interface IFNAME as the switch's interface of\n"
        "  VLAN VID: its frames reach the Linux stack there untagged.\n",
        prog);
}

// The hardware the platform came up on and the port numbers of each
// interface type.
void print_port_ranges() {
    static const char *const kIntfNames[] = {"FastEthernet", "GigabitEthernet", "TenGigabitEthernet",
                                             "port-channel"};
    uint32_t type = 0;
    upProptDevTypeGet(UNIT_1, &type);
    const dev_def_t *dev = upProptDevTypeDesGet(type);
    std::printf("axcored: device type %u (%s)\n", type, dev ? dev->name : "none");
    uint32_t subslots = 0;
    if (upProptSubslotAmountGet(UNIT_1, &subslots) == 0)
        std::printf("axcored:   sub-slot blocks: %u\n", subslots);
    for (uint32_t it = INTF_TYPE_FE; it <= INTF_TYPE_LAG; ++it) {
        uint32_t from = 0, to = 0;
        if (upProptPortRangeGet(UNIT_1, it, 0, &from, &to) != 0 || from == 0) continue;
        if (it == INTF_TYPE_LAG)
            std::printf("axcored:   %-18s %u-%u\n", kIntfNames[it], from, to);
        else
            std::printf("axcored:   %-18s %u/0/%u-%u\n", kIntfNames[it], UNIT_1, from, to);
    }
}

sem_t g_stop;                                  // posted by the stop signals' handler
volatile std::sig_atomic_t g_stop_signal = 0;  // the signal that asked to stop

void on_stop_signal(int sig) {
    g_stop_signal = sig;
    sem_post(&g_stop);  // async-signal-safe
}

// SIGINT and SIGTERM stop the daemon. They are handled, not blocked: the
// main thread's Ctrl-C hold-back blocks and unblocks SIGINT around every
// PAL mutex it holds, so a mask set here would not last.
void install_stop_handlers() {
    sem_init(&g_stop, 0, 0);
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Binds each PORT=IFNAME to its chip port; false after the first failure.
bool bind_port_links(const std::vector<std::pair<std::string, std::string>> &links) {
    for (const auto &[text, ifname] : links) {
        UP up = 0;
        int chip_unit = 0, chip_port = 0;
        if (usStr2Up(-1, text.c_str(), &up, nullptr) != 0 || adPmpUp2Bp(up, &chip_unit, &chip_port) != 0 ||
            chip_unit != 0) {
            std::printf("axcored: '%s' is not a front-panel port\n", text.c_str());
            return false;
        }
        if (simPortLinkBind(chip_port, ifname.c_str()) != 0) {
            std::printf("axcored: cannot bind port %s to interface %s\n", text.c_str(), ifname.c_str());
            return false;
        }
        std::printf("axcored: port %s is interface %s\n", text.c_str(), ifname.c_str());
    }
    return true;
}

// A port's link changed in the chip (a bound interface's carrier): every
// subscriber of the switch hears it as NOTIFY_TYPE_PORT_LINK.
void raise_port_link(int chip_port, int link, void *) {
    for (uint32_t index = 0; index < UP_UNIT_PORT_MAX; ++index) {
        UP up = UP_INVALID_VALUE;
        int unit = 0, port = 0;
        if (inner_up_from_index(&up, index, 1, __func__, __LINE__) == UP_INVALID_VALUE || !UP_IS_SWP(up) ||
            !UP_IS_VALID(up) || UP_PORT(up) == 0 || adPmpUp2Bp(up, &unit, &port) != 0 || unit != 0 ||
            port != chip_port)
            continue;
        char text[UP_STR_LEN] = {};
        usUp2Str(up, text, UP_STR_TYPE_NONE);
        std::printf("axcored: port %s link %s\n", text, link ? "up" : "down");
        notify_port_link_t event{up, static_cast<uint32_t>(link)};
        notify_call(NOTIFY_TYPE_PORT_LINK, &event, sizeof event);
        return;
    }
}

// Printer of the packet service's listings.
int print_line(void *, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vprintf(fmt, ap);
    va_end(ap);
    return n;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::pair<std::string, std::string>> port_links;
    const char *cpu_if = nullptr;
    std::vector<std::pair<uint16_t, std::string>> vlan_ifs;
    const char *flash_dir = simFlashDefaultDir();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--debug") == 0 && i + 1 < argc) {
            simSetDefaultDbgSwitch(static_cast<signed char>(argv[++i][0] - '0'));
        } else if (std::strcmp(argv[i], "--device") == 0 && i + 1 < argc) {
            int type = simDeviceTypeParse(argv[++i]);
            if (type == 0) {
                std::fprintf(stderr, "axcored: unknown device type '%s'\n", argv[i]);
                return 2;
            }
            simDeviceSetType(type);
        } else if (std::strcmp(argv[i], "--port-link") == 0 && i + 1 < argc) {
            std::string arg = argv[++i];
            size_t eq = arg.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size()) {
                std::fprintf(stderr, "axcored: --port-link wants PORT=IFNAME, not '%s'\n", arg.c_str());
                return 2;
            }
            port_links.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
        } else if (std::strcmp(argv[i], "--cpu-if") == 0 && i + 1 < argc) {
            cpu_if = argv[++i];
        } else if (std::strcmp(argv[i], "--vlan-if") == 0 && i + 1 < argc) {
            std::string arg = argv[++i];
            size_t eq = arg.find('=');
            char *end = nullptr;
            unsigned long vid = std::strtoul(arg.c_str(), &end, 10);
            if (eq == std::string::npos || end != arg.c_str() + eq || eq == 0 || vid < 1 || vid > 4094 ||
                eq + 1 == arg.size()) {
                std::fprintf(stderr, "axcored: --vlan-if wants VID=IFNAME (VID 1-4094), not '%s'\n",
                             arg.c_str());
                return 2;
            }
            vlan_ifs.emplace_back(static_cast<uint16_t>(vid), arg.substr(eq + 1));
        } else if (std::strcmp(argv[i], "--flash") == 0 && i + 1 < argc) {
            flash_dir = argv[++i];
        } else {
            usage(argv[0]);
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    install_stop_handlers();

    simProcessSetPid(PID_CORE);
    simAppintfAclHooksSet();  // the classifier hands out ACL rule positions
    simPortHooksSet();        // the port feature answers which ports are shut down
    pal_thread_main_set(pal_thread_self());

    // The simulated flash chip and the kernel's security code service.
    static const unsigned char kSecurityCode[8] = {0x53, 0x49, 0x4d, 0x2d, 0x46, 0x4c, 0x53, 0x48};
    if (simFlashCreate(flash_dir, 0) != 0) {
        std::printf("axcored: cannot make the simulated flash in %s\n", flash_dir);
        return 1;
    }
    flashMtdSetDevicePrefix((std::string(flash_dir) + "/mtd").c_str());
    simFlashSecurityStart(kSecurityCode);
    std::printf("axcored: flash chip in %s\n", flash_dir);

    // The switch's chip starts from its reset state, whatever a previous
    // core left in it.
    simChipReset();
    simAclReset();

    // The kernel's side of the packet path is there before the core starts.
    if (simKernelPacketStart(cpu_if) != 0) {
        std::printf("axcored: cannot start the kernel packet side%s%s\n", cpu_if ? " on " : "",
                    cpu_if ? cpu_if : "");
        return 1;
    }
    for (const auto &[vid, name] : vlan_ifs) {
        if (simKernelPacketVlanIf(vid, name.c_str()) != 0) {
            std::printf("axcored: cannot create the interface %s of VLAN %u\n", name.c_str(), vid);
            return 1;
        }
    }
    std::printf("axcored: starting the platform (pid %d)\n", static_cast<int>(getpid()));
    int rc = platformInit();
    if (rc != 0) {
        std::printf("axcored: platformInit failed with %d\n", rc);
        pal_msgQ_remove_created();
        return 1;
    }
    simSwitchSetInited(1);
    // The core's forwarding serves for as long as the switch runs: it keeps
    // no copy of what leaves the ports.
    simChipTxCapture(0);
    simChipLinkWatch(raise_port_link, nullptr);
    if (axcored::register_show_commands() != 0) std::printf("axcored: the show commands are not available\n");
    std::printf("axcored: platform is up\n");
    print_port_ranges();
    if (!bind_port_links(port_links)) return 1;
    if (cpu_if != nullptr) std::printf("axcored: CPU interface %s\n", cpu_if);
    for (const auto &[vid, name] : vlan_ifs)
        std::printf("axcored: VLAN %u interface %s\n", vid, name.c_str());

    while (sem_wait(&g_stop) != 0 && errno == EINTR) {
    }
    int sig = g_stop_signal;
    std::printf("axcored: %s received, stopping\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    // The queues would otherwise hold the user's queue memory after we end.
    pal_msgQ_remove_created();
    cli_axpacketInfoShow(print_line, nullptr);
    // The library's workers are still running: end here, without running
    // the destructors of objects they may be using.
    simFlashSecurityStop();
    std::fflush(nullptr);
    std::_Exit(0);
}
