/*
 * lldp_agent: a link-layer neighbour agent, written as a feature process of
 * the switch against the installed platform library.
 *
 * It advertises the switch on every front-panel port with LLDP and keeps a
 * table of the neighbours it hears, and it shows the parts a feature
 * process is made of:
 *   - start-up: axFeatureProcessInit, then the clients it uses;
 *   - a CPU traffic-control entry that traps LLDP frames to the CPU
 *     (axPktCtlL2Ctl, kept in the core's table);
 *   - a packet module and an owned packet registration for those frames;
 *   - timers: the periodic advertisement and the table's aging;
 *   - a running-configuration section (its global lines);
 *   - a management function, lldpSetTxInterval (integer "interval"), and
 *     two CLI commands, "show lldp neighbors [PORTS]" and
 *     "lldp tx-interval <1-3600>";
 *   - life cycle: after the core restarts the client libraries register the
 *     packet module, the registration and the printer again; the agent adds
 *     back the trap entry and its CLI commands, which the core also forgot.
 *
 * Usage: lldp_agent [--pid N] [--interval SECONDS] [--system-name NAME]
 * It prints "lldp_agent: ready" once registered and stops on SIGTERM or
 * SIGINT, disabling its trap entry.
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "axmsg_client/axconfig_client.h"
#include "axmsg_client/axmsg_client.h"
#include "axmsg_client/feature_process.h"
#include "axpacket_client/axpacket_client.h"
#include "lldp_tlv.h"
#include "neighbors.h"
#include "platform_core/aximi.h"
#include "platform_core/aximi_cli.h"
#include "platform_core/axrpc.h"
#include "platform_core/pktctl.h"
#include "platform_core/sibling.h"
#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "platform_core/up_text.h"
#ifdef LLDP_AGENT_SIMULATED
#include "platform_sim/sim.h"
#endif

#define AGENT_DEFAULT_PID 40
#define AGENT_MID 60 /* the agent's packet module */
#define AGENT_REG_NAME "lldpRx"
#define AGENT_TRAP_NAME "lldpAgentTrap"
#define AGENT_TRAP_RATE 64 /* frames per second the chip lets through to the CPU */
#define AGENT_CFG_NAME "lldpAgent"
#define AGENT_CFG_PRIORITY 100
#define AGENT_TX_TIMER "lldpAgentTx"
#define AGENT_AGE_TIMER "lldpAgentAge"
#define AGENT_SET_INTERVAL_FUNC "lldpSetTxInterval"
#define AGENT_INTERVAL_DEFAULT 30
#define AGENT_INTERVAL_MIN 1
#define AGENT_INTERVAL_MAX 3600
#define AGENT_HOLD_MULTIPLIER 4 /* advertised time to live: 4 intervals */
#define AGENT_FRAME_MAX 600

static int g_pid = AGENT_DEFAULT_PID;
static char g_system_name[LLDP_TEXT_SIZE] = "switch";
static uint8_t g_mac[LLDP_MAC_LEN];
/* Seconds between advertisements: changed by the management function and
 * the CLI (under g_interval_lock, which also orders the timer's restarts),
 * read by the timers and the printer. */
static atomic_uint g_interval = AGENT_INTERVAL_DEFAULT;
static pal_mutex_t g_interval_lock;

/* ---- Receiving ------------------------------------------------------------ */

static int on_lldp_frame(AX_PACKET_T *pkt, uint32_t mid, const char *regName) {
    (void)regName;
    if (mid != AGENT_MID || pkt->len < LLDP_HEADER_LEN) return -1;
    const uint8_t *f = pkt->data;
    if (((f[12] << 8) | f[13]) != (int)LLDP_ETHERTYPE) return -1;
    lldp_info_t info;
    if (lldp_parse(f + LLDP_HEADER_LEN, pkt->len - LLDP_HEADER_LEN, &info) != 0) return -1;
    if (neighbors_update(pkt->rx_port, &info) == 1) {
        char port[UP_STR_LEN] = "?";
        usUp2Str(pkt->rx_port, port, UP_STR_TYPE_SHORT);
        if (info.ttl == 0)
            printf("lldp_agent: %s: neighbor left\n", port);
        else
            printf("lldp_agent: %s: neighbor %s port %s system '%s'\n", port, info.chassis_id, info.port_id,
                   info.system_name);
        fflush(stdout);
    }
    return 0;
}

/* ---- Timers --------------------------------------------------------------- */

/* One LLDPDU out of every valid front-panel port, each naming its port. */
static void advertise(uintptr_t arg) {
    (void)arg;
    up_list valid = {{0}};
    if (inner_up_valid_list_get(&valid) != 0) return;
    unsigned ttl = atomic_load(&g_interval) * AGENT_HOLD_MULTIPLIER;
    UP port;
    UP_LIST_FOR_EACH(port, &valid) {
        if (!UP_IS_SWP(port) || port == UP_CPU_VALUE(UNIT_1)) continue;
        char name[UP_STR_LEN];
        uint8_t frame[AGENT_FRAME_MAX];
        if (usUp2Str(port, name, UP_STR_TYPE_SHORT) != 0) continue;
        size_t len = lldp_build(frame, sizeof frame, g_mac, g_mac, name,
                                (uint16_t)(ttl > 0xFFFFu ? 0xFFFFu : ttl), g_system_name);
        if (len == 0) continue;
        AX_PACKET_T pkt;
        memset(&pkt, 0, sizeof pkt);
        pkt.data = frame;
        pkt.len = (uint32_t)len;
        pkt.vid = 1;
        pkt.pri = 7;
        pkt.flags = AX_PKT_FLAG_PORT_LIST;
        up_list_set(&pkt.port_list, port);
        pkt.rx_port = UP_INVALID_VALUE;
        axpacketClientSend(&pkt);
    }
}

static void age(uintptr_t arg) {
    (void)arg;
    neighbors_age();
}

static int start_tx_timer(unsigned seconds) {
    struct timespec every = {(time_t)seconds, 0};
    timer_id_t id = add_timer(AGENT_TX_TIMER, &every, advertise, 0, TIMER_MODE_PERIODIC);
    return id.name[0] != '\0' ? 0 : -1;
}

/* Changes the advertisement interval and restarts its timer. */
static int set_interval(unsigned seconds) {
    if (seconds < AGENT_INTERVAL_MIN || seconds > AGENT_INTERVAL_MAX) return -1;
    pal_mutex_take(g_interval_lock, PAL_WAIT_FOREVER);
    atomic_store(&g_interval, seconds);
    timer_id_t id;
    memset(&id, 0, sizeof id);
    snprintf(id.name, sizeof id.name, "%s", AGENT_TX_TIMER);
    del_timer(id);
    int rc = start_tx_timer(seconds);
    pal_mutex_give(g_interval_lock);
    return rc;
}

/* ---- Running configuration -------------------------------------------------- */

static int print_config(int type, AXCFG_REG_ARG_T *arg, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC output) {
    (void)arg;
    if (type != AXCFG_TYPE_GLOBAL) return 0;
    char line[64];
    int rc = output(env, "lldp run");
    unsigned interval = atomic_load(&g_interval);
    if (rc == 0 && interval != AGENT_INTERVAL_DEFAULT) {
        snprintf(line, sizeof line, "lldp tx-interval %u", interval);
        rc = output(env, line);
    }
    return rc;
}

/* ---- Management functions and CLI commands ---------------------------------- */

static void print_neighbor(void *arg, UP port, const lldp_info_t *info, unsigned remaining) {
    AXIMI_CTX_T *ctx = arg;
    char name[UP_STR_LEN] = "?";
    usUp2Str(port, name, UP_STR_TYPE_SHORT);
    axImiPrintf(ctx, "%-10s %-18s %-16s %-20s %u\r\n", name, info->chassis_id, info->port_id,
                info->system_name[0] != '\0' ? info->system_name : "-", remaining);
}

/* "show lldp neighbors [PORTS]" */
static int cli_show_neighbors(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out) {
    (void)out;
    char *typed = NULL;
    up_list ports = {{0}};
    const up_list *filter = NULL;
    if (axrpcGetStringPtr(args, AXIMI_CLI_ARGS, &typed) == 0 && typed != NULL && typed[0] != '\0') {
        up_str_option_t opt;
        memset(&opt, 0, sizeof opt);
        if (usStr2UpList(-1, typed, &ports, &opt) != 0) {
            axImiPrintf(ctx, "Bad port list '%s'\r\n", typed);
            return -1;
        }
        filter = &ports;
    }
    axImiPrintf(ctx, "%-10s %-18s %-16s %-20s %s\r\n", "Port", "Chassis ID", "Port ID", "System name", "TTL");
    int n = neighbors_walk(filter, print_neighbor, ctx);
    if (n < 0) return -1;
    axImiPrintf(ctx, "Neighbors: %d, advertised every %u s\r\n", n, atomic_load(&g_interval));
    return 0;
}

/* "lldp tx-interval <1-3600>" */
static int cli_tx_interval(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out) {
    (void)out;
    char *typed = NULL;
    char *end = NULL;
    unsigned long seconds = 0;
    if (axrpcGetStringPtr(args, AXIMI_CLI_ARGS, &typed) == 0 && typed != NULL) {
        errno = 0;
        seconds = strtoul(typed, &end, 10);
        if (errno != 0 || end == typed || *end != '\0') seconds = 0;
    }
    if (seconds > AGENT_INTERVAL_MAX || set_interval((unsigned)seconds) != 0) {
        axImiPrintf(ctx, "The interval is %d to %d seconds\r\n", AGENT_INTERVAL_MIN, AGENT_INTERVAL_MAX);
        return -1;
    }
    return 0;
}

/* lldpSetTxInterval interval=N (axcli execute lldpSetTxInterval interval=N pid=40) */
static int mgmt_set_interval(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out) {
    (void)out;
    int seconds = 0;
    if (axrpcGetInt(args, "interval", &seconds) != 0 || seconds < 0 || set_interval((unsigned)seconds) != 0) {
        axImiPrintf(ctx, "interval: %d to %d seconds\r\n", AGENT_INTERVAL_MIN, AGENT_INTERVAL_MAX);
        return -1;
    }
    return 0;
}

static const AXIMI_CLI_CMD_T kShowCmd = {"show lldp neighbors", "[PORTS]",
                                         "LLDP neighbours heard on each port (all, or PORTS)",
                                         "lldpCliShowNeighbors"};
static const AXIMI_CLI_CMD_T kIntervalCmd = {"lldp tx-interval", "<1-3600>",
                                             "seconds between LLDP advertisements", "lldpCliTxInterval"};

/* ---- What the core keeps for us ------------------------------------------- */

/* The trap entry and the CLI commands: the core forgets both when it
 * restarts, so this runs at start and after every reconnection. */
static int register_in_core(void *arg) {
    (void)arg;
    if (axPktCtlL2Ctl(AGENT_TRAP_NAME, lldp_nearest_bridge_mac, LLDP_ETHERTYPE, AGENT_TRAP_RATE,
                      PKT_CTL_ACTION_TRAP, 1) != 0)
        return -1;
    if (axImiCliRegister(&kShowCmd, cli_show_neighbors) != 0) return -1;
    if (axImiCliRegister(&kIntervalCmd, cli_tx_interval) != 0) return -1;
    return 0;
}

static int register_all(void) {
    static const uint8_t mac_mask[LLDP_MAC_LEN] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (axpacketClientRegisterModule(AGENT_MID, 10, 0, 0) != 0) return -1;
    if (axpacketClientRegisterPacket(AGENT_MID, AGENT_REG_NAME, AX_RX_OWNED, 10, on_lldp_frame) != 0)
        return -1;
    if (axpacketClientRegisterMacaddr(AGENT_MID, AGENT_REG_NAME, DES_MAC, lldp_nearest_bridge_mac,
                                      mac_mask) != 0)
        return -1;
    if (axpacketClientRegisterField(AGENT_MID, AGENT_REG_NAME, LEN_TYPE, LLDP_ETHERTYPE, 0xFFFF) != 0)
        return -1;
    if (axpacketClientRegisterEnable(AGENT_MID, AGENT_REG_NAME, 1) != 0) return -1;
    if (axConfigClientRegister(AGENT_CFG_NAME, print_config, NULL, AGENT_CFG_PRIORITY) != 0) return -1;
    if (axImiRegisterFunc(AGENT_SET_INTERVAL_FUNC, mgmt_set_interval, IMI_EXEC_MASTER_ONLY) != 0) return -1;
    if (register_in_core(NULL) != 0) return -1;
    return axmsg_client_reconnect_cb_add(register_in_core, NULL);
}

/* ---- Start and stop --------------------------------------------------------- */

static int parse_args(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *opt = argv[i];
        const char *val = i + 1 < argc ? argv[i + 1] : NULL;
        char *end = NULL;
        if (val == NULL) return -1;
        ++i;
        if (strcmp(opt, "--pid") == 0) {
            long pid = strtol(val, &end, 10);
            if (*end != '\0' || !IS_PID_VALID(pid) || pid == PID_CORE) return -1;
            g_pid = (int)pid;
        } else if (strcmp(opt, "--interval") == 0) {
            unsigned long s = strtoul(val, &end, 10);
            if (*end != '\0' || s < AGENT_INTERVAL_MIN || s > AGENT_INTERVAL_MAX) return -1;
            atomic_store(&g_interval, (unsigned)s);
        } else if (strcmp(opt, "--system-name") == 0) {
            if (strlen(val) == 0 || strlen(val) >= sizeof g_system_name) return -1;
            snprintf(g_system_name, sizeof g_system_name, "%s", val);
        } else {
            return -1;
        }
    }
    return 0;
}

int main(int argc, char **argv) {
    if (parse_args(argc, argv) != 0) {
        fprintf(stderr, "usage: lldp_agent [--pid 2..63] [--interval 1..3600] [--system-name NAME]\n");
        return 2;
    }
    /* The library's threads inherit this mask: the signals reach sigwait below. */
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, NULL);

#ifdef LLDP_AGENT_SIMULATED
    simProcessSetPid(g_pid); /* on the switch the process knows its id already */
#endif
    if (axFeatureProcessInit(g_pid, 10000) != 0) return 3; /* it said which step failed */
    if (axpacketClientInit() != 0 || axConfigClientInit() != 0 || timer_init() != 0) {
        fprintf(stderr, "lldp_agent: the clients or the timer service did not start\n");
        return 4;
    }
    g_interval_lock = pal_mutex_create("lldpInterval");
    if (g_interval_lock == NULL || neighbors_init() != 0 || getMacAddress(g_mac) != 0) return 4;
    if (register_all() != 0) {
        fprintf(stderr, "lldp_agent: registering with the core failed\n");
        return 5;
    }
    struct timespec second = {1, 0};
    if (start_tx_timer(atomic_load(&g_interval)) != 0 ||
        add_timer(AGENT_AGE_TIMER, &second, age, 0, TIMER_MODE_PERIODIC).name[0] == '\0')
        return 6;
    printf("lldp_agent: ready (process %d, module %d, every %u s)\n", g_pid, AGENT_MID,
           atomic_load(&g_interval));
    fflush(stdout);

    int sig = 0;
    while (sigwait(&stop, &sig) != 0) {
    }
    timer_clear();
    axPktCtlL2Ctl(AGENT_TRAP_NAME, lldp_nearest_bridge_mac, LLDP_ETHERTYPE, AGENT_TRAP_RATE,
                  PKT_CTL_ACTION_TRAP, 0);
    printf("lldp_agent: stopped by signal %d\n", sig);
    fflush(stdout);
    /* The library's threads (hub reader, RPC workers, timers) run until the
     * process ends: end it here rather than run exit handlers under them.
     * The core drops what this process registered when its connection goes. */
    _exit(0);
}
