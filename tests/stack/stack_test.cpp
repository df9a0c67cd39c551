// Stack state, the stack start-up task and the callback manager, in a core
// process on the simulated switch.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/appintf.h"
#include "platform_core/axmsg.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack.h"
#include "platform_core/stack_cb.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"
#include "platform_sim/sim_link.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;
using pc::test::wait_until;

constexpr uint32_t kModA = 40, kModB = 41, kModC = 42, kModD = 43;
const char *const kConfigPath = "/tmp/stack_test_config.ax";
const char *const kConfigText = "hostname stack-test\ninterface 1/0/1\n shutdown\n";

// What the hooks and handlers of the start-up task saw, in order.
std::mutex g_seen_lock;
std::vector<std::string> g_seen;
std::string g_loaded_config;
su_cb_update_t g_update_flags{};

void seen(const std::string &what) {
    std::lock_guard<std::mutex> g(g_seen_lock);
    g_seen.push_back(what);
}

int load_config_hook(const char *text, uint32_t len) {
    g_loaded_config.assign(text, len);
    seen("config");
    return 0;
}

int startup_update(su_cb_update_t *flags) {
    g_update_flags = *flags;
    seen("update");
    return 0;
}

class Stack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FILE *f = std::fopen(kConfigPath, "w");
        ASSERT_NE(f, nullptr);
        std::fputs(kConfigText, f);
        std::fclose(f);
        setenv("PC_STARTUP_CONFIG", kConfigPath, 1);
        APPINTF_SET(APPINTF_SLOT_CONFIG_LOAD, load_config_hook);
        // The simulated port feature answers the task: ports 1 and 3 are shut down.
        simPortHooksSet();
        for (uint32_t port : {1u, 3u}) simPortShutdownSet(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, port), 1);
        simProcessSetPid(PID_CORE);
        simSwitchSetInited(0);
        ASSERT_EQ(stkUsoUpdateCbReg(kModA, 100, startup_update), 0);
        ASSERT_EQ(simKernelPacketStart(nullptr), 0);
        ASSERT_EQ(platformInit(), 0);
    }
};

// Runs first (tests run in the order written): the task waits for the
// switch before it applies anything.
TEST_F(Stack, StartupTaskLoadsConfigAppliesPortsAndAnnouncesTheFirstUpdate) {
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard<std::mutex> g(g_seen_lock);
        EXPECT_TRUE(g_seen.empty()) << "applied before the switch had started";
    }
    EXPECT_EQ(isPfmAxconfigLoadFinished(), 0u);
    simSwitchSetInited(1);
    ASSERT_TRUE(wait_until(
        [] {
            std::lock_guard<std::mutex> g(g_seen_lock);
            return g_seen.size() >= 2;
        },
        10s));
    {
        std::lock_guard<std::mutex> g(g_seen_lock);
        EXPECT_EQ(g_seen, (std::vector<std::string>{"config", "update"}));
    }
    EXPECT_EQ(g_loaded_config, kConfigText);
    EXPECT_EQ(isPfmAxconfigLoadFinished(), 1u);
    EXPECT_EQ(g_update_flags.roleChg, 1u);
    EXPECT_EQ(g_update_flags.mastChg, 1u);
    EXPECT_EQ(g_update_flags.isFirst, 1u);
    for (uint32_t port : {1u, 2u, 3u, 24u}) {
        UP up = UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, port);
        EXPECT_EQ(simPortStateGet(up), port % 2 ? 0 : 1) << "port " << port;
    }
    EXPECT_EQ(stkUsoUpdateCbUnreg(kModA, 100), 0);
}

TEST_F(Stack, AStandAloneUnitAnswersAsMasterAndRefusesStackingSettings) {
    EXPECT_EQ(stkGetCurrentUnit(), 1u);
    EXPECT_EQ(stkGetMasterUnit(), 1u);
    EXPECT_EQ(stackNvcfgUnitIDGet(), 1u);
    EXPECT_EQ(stkCurrentIsMaster(), 1);
    EXPECT_EQ(stkSupport(), 0);
    EXPECT_EQ(stkIsReady(), isSwitchInited());
    EXPECT_EQ(stkGetSocDevNum(), static_cast<int>(sdk_ndev));
    uint32_t enable = 7;
    EXPECT_EQ(stackNvcfgSPmodeGet(0, &enable), 0);
    EXPECT_EQ(enable, 0u);
    uint8_t mac[6]{}, expect[6]{};
    getMacAddress(expect);
    EXPECT_EQ(stkGetMac(1, mac), 0);
    EXPECT_EQ(std::memcmp(mac, expect, 6), 0);
    EXPECT_EQ(stkStackMacGet(mac), 0);
    EXPECT_EQ(std::memcmp(mac, expect, 6), 0);
    EXPECT_STREQ(stkTopoDes[2], "Ring");

    uint32_t word = 0;
    UP up = UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 1);
    EXPECT_EQ(stkCfgUnidSet(1, 2), -1);
    EXPECT_EQ(stkCfgUnidGet(1, &word), -1);
    EXPECT_EQ(stkPrioritySet(1, 3), -1);
    EXPECT_EQ(stkStkPortModeSet(up, 1), -1);
    EXPECT_EQ(adStackPrioritySet(1, 3), -1);
    EXPECT_EQ(adStackUnitIdSet(1, 2), -1);
    EXPECT_EQ(adStackPortStkModeSet(up, 1), -1);
    EXPECT_EQ(stkTopoDesGet(&word), 0);

    EXPECT_EQ(adStackRpcRegister(0, nullptr, nullptr), -1);
    EXPECT_EQ(adStackRpcRegister(5, nullptr, nullptr), -1);
    for (uint32_t type = 1; type <= 4; ++type) EXPECT_EQ(adStackRpcRegister(type, nullptr, nullptr), 0);
}

TEST_F(Stack, SavedConfigurationIsReadUpToItsLimit) {
    char *data = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(swStkGetConfigFromFile(nullptr, &len), -1);
    EXPECT_EQ(swStkGetConfigFromFile(&data, nullptr), -1);

    setenv("PC_STARTUP_CONFIG", "/tmp/stack_test_no_such_file", 1);
    EXPECT_EQ(swStkGetConfigFromFile(&data, &len), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(len, 0u);

    const char *big = "/tmp/stack_test_big.ax";
    std::string text(STK_CONFIG_MAX_LEN + 5000, 'x');
    for (size_t i = 0; i < text.size(); i += 97) text[i] = '\n';
    FILE *f = std::fopen(big, "w");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    setenv("PC_STARTUP_CONFIG", big, 1);
    ASSERT_EQ(swStkGetConfigFromFile(&data, &len), 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(len, STK_CONFIG_MAX_LEN);
    EXPECT_EQ(std::memcmp(data, text.data(), len), 0);
    pal_free(data);
    setenv("PC_STARTUP_CONFIG", kConfigPath, 1);
    unlink(big);
}

// Attach handlers that record which one ran.
std::vector<int> g_ran;
template <int N>
int attach_handler(unit_list) {
    g_ran.push_back(N);
    return 0;
}

TEST_F(Stack, HandlersRunInPriorityOrderAndRegistrationOrderWithinAPriority) {
    g_ran.clear();
    ASSERT_EQ(stkUsoAttachCbReg(kModA, 50, attach_handler<1>), 0);
    ASSERT_EQ(stkUsoAttachCbReg(kModB, 10, attach_handler<2>), 0);
    ASSERT_EQ(stkUsoAttachCbReg(kModC, 50, attach_handler<3>), 0);
    EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 1), 0);
    EXPECT_EQ(g_ran, (std::vector<int>{2, 1, 3}));

    // The same process, module and priority again replaces the handler.
    g_ran.clear();
    ASSERT_EQ(stkUsoAttachCbReg(kModA, 50, attach_handler<4>), 0);
    EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 1), 0);
    EXPECT_EQ(g_ran, (std::vector<int>{2, 4, 3}));

    // Removing the middle one leaves every other node with its own handler.
    g_ran.clear();
    ASSERT_EQ(stkUsoAttachCbUnreg(kModB, 10), 0);
    ASSERT_EQ(stkUsoAttachCbReg(kModD, 60, attach_handler<5>), 0);
    EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 1), 0);
    EXPECT_EQ(g_ran, (std::vector<int>{4, 3, 5}));
    g_ran.clear();
    ASSERT_EQ(stkUsoAttachCbUnreg(kModA, 50), 0);
    EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 1), 0);
    EXPECT_EQ(g_ran, (std::vector<int>{3, 5}));
    EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 0), 0);  // no detach handlers
    EXPECT_EQ(g_ran, (std::vector<int>{3, 5}));

    EXPECT_EQ(stkUsoAttachCbUnreg(kModB, 10), -1);  // gone already
    EXPECT_EQ(stkUsoAttachDetachAction(0, 1), -1);  // empty unit list
    EXPECT_EQ(stkUsoAttachCbReg(0, 10, attach_handler<6>), -1);
    EXPECT_EQ(stkUsoAttachCbReg(kModA, 256, attach_handler<6>), -1);
    su_cb_exe_param_t bad{};
    bad.type = 4;
    EXPECT_EQ(suCbExeTraverse(&bad), -1);
    ASSERT_EQ(stkUsoAttachCbUnreg(kModC, 50), 0);
    ASSERT_EQ(stkUsoAttachCbUnreg(kModD, 60), 0);
}

// A walk runs every handler whatever the others return, and fails when any
// of them failed, not only when the last one did.
int g_walk_results[3] = {};
template <int N>
int walk_handler(unit_list) {
    g_ran.push_back(N);
    return g_walk_results[N];
}

TEST_F(Stack, AWalkRunsEveryHandlerAndFailsWhenAnyOfThemFailed) {
    struct Registration {
        uint32_t mid, pri;
        su_cb_unit_hnd_t handler;
    };
    const Registration regs[] = {
        {50, 10, walk_handler<0>}, {51, 20, walk_handler<1>}, {52, 30, walk_handler<2>}};
    for (const Registration &r : regs) ASSERT_EQ(stkUsoAttachCbReg(r.mid, r.pri, r.handler), 0);
    struct Case {
        const char *name;
        int results[3];
        int walk;
    };
    const Case cases[] = {
        {"all succeed", {0, 0, 0}, 0},  {"first fails", {-1, 0, 0}, -1}, {"middle fails", {0, 5, 0}, -1},
        {"last fails", {0, 0, -1}, -1}, {"all fail", {-1, -1, -1}, -1},
    };
    for (const Case &c : cases) {
        std::copy(std::begin(c.results), std::end(c.results), std::begin(g_walk_results));
        g_ran.clear();
        EXPECT_EQ(stkUsoAttachDetachAction(1u << UNIT_1, 1), c.walk) << c.name;
        EXPECT_EQ(g_ran, (std::vector<int>{0, 1, 2})) << c.name;
    }
    for (const Registration &r : regs) ASSERT_EQ(stkUsoAttachCbUnreg(r.mid, r.pri), 0);
}

// Data sync: the get handler's payload reaches the set handler of the same
// module on the attached units, then the free handler releases it.
struct SyncRecord {
    std::atomic<int> gets{0}, sets{0}, frees{0};
    std::string set_data;
    void *freed = nullptr;
};
SyncRecord g_sync;
char g_payload[] = "vlan 10,20,30";
bool g_sync_has_data = true;

int sync_get(usodata_t *d) {
    ++g_sync.gets;
    if (g_sync_has_data) {
        d->data = g_payload;
        d->len = sizeof g_payload;
    }
    return 0;
}
int sync_set(usodata_t *d) {
    ++g_sync.sets;
    g_sync.set_data.assign(static_cast<char *>(d->data), d->len);
    return 0;
}
int sync_free(usodata_t *d) {
    ++g_sync.frees;
    g_sync.freed = d->data;
    return 0;
}

TEST_F(Stack, DataSyncCarriesThePayloadToTheSetHandlerAndFreesIt) {
    ASSERT_EQ(stkUsoDataSyncCbReg(kModB, 20, sync_set, sync_get, sync_free), 0);

    g_sync_has_data = false;
    EXPECT_EQ(stkUsoDataSyncAction(1u << UNIT_1), 0);
    EXPECT_EQ(g_sync.gets.load(), 1);
    EXPECT_EQ(g_sync.sets.load(), 0);
    EXPECT_EQ(g_sync.frees.load(), 0);

    g_sync_has_data = true;
    EXPECT_EQ(stkUsoDataSyncAction(1u << UNIT_1), 0);
    EXPECT_EQ(g_sync.gets.load(), 2);
    EXPECT_EQ(g_sync.sets.load(), 1);
    EXPECT_EQ(g_sync.set_data, std::string(g_payload, sizeof g_payload));
    EXPECT_EQ(g_sync.frees.load(), 1);
    EXPECT_EQ(g_sync.freed, static_cast<void *>(g_payload));

    EXPECT_EQ(stkUsoDataSyncAction(0), -1);
    ASSERT_EQ(stkUsoDataSyncCbUnreg(kModB, 20), 0);
    EXPECT_EQ(stkUsoDataSyncAction(1u << UNIT_1), 0);
    EXPECT_EQ(g_sync.gets.load(), 2);
}

// Handlers that change the list they are called from. Module 76 at
// priority 30 removes itself; module 77 at 20 removes module 78 (priority
// 40, not run yet) and registers module 79 at 35, which first runs in the
// next walk.
std::vector<int> g_update_ran;
int update_remove_self(su_cb_update_t *) {
    g_update_ran.push_back(30);
    return stkUsoUpdateCbUnreg(76, 30);
}
int update_late(su_cb_update_t *) {
    g_update_ran.push_back(35);
    return 0;
}
int update_removed(su_cb_update_t *) {
    g_update_ran.push_back(40);
    return 0;
}
int update_edit_others(su_cb_update_t *) {
    g_update_ran.push_back(20);
    if (stkUsoUpdateCbUnreg(78, 40) != 0) return -1;
    return stkUsoUpdateCbReg(79, 35, update_late);
}

TEST_F(Stack, HandlersMayRemoveAndRegisterHandlersDuringTheWalk) {
    ASSERT_EQ(stkUsoUpdateCbReg(77, 20, update_edit_others), 0);
    ASSERT_EQ(stkUsoUpdateCbReg(76, 30, update_remove_self), 0);
    ASSERT_EQ(stkUsoUpdateCbReg(78, 40, update_removed), 0);
    g_update_ran.clear();
    EXPECT_EQ(stkUsoUpdateAction(0, 0, 0), 0);
    EXPECT_EQ(g_update_ran, (std::vector<int>{20, 30}));

    ASSERT_EQ(stkUsoUpdateCbUnreg(77, 20), 0);
    g_update_ran.clear();
    EXPECT_EQ(stkUsoUpdateAction(0, 0, 0), 0);
    EXPECT_EQ(g_update_ran, (std::vector<int>{35}));
    EXPECT_EQ(stkUsoUpdateCbUnreg(76, 30), -1);  // removed by itself
    ASSERT_EQ(stkUsoUpdateCbUnreg(79, 35), 0);
}

// A data sync get handler that removes its own registration: the payload
// it gave is still sent and released by the free handler it had.
int sync_get_and_leave(usodata_t *d) {
    sync_get(d);
    return stkUsoDataSyncCbUnreg(kModC, 20);
}

TEST_F(Stack, ADataSyncGetHandlerMayRemoveItsOwnRegistration) {
    g_sync.gets = g_sync.sets = g_sync.frees = 0;
    g_sync_has_data = true;
    ASSERT_EQ(stkUsoDataSyncCbReg(kModC, 20, sync_set, sync_get_and_leave, sync_free), 0);
    EXPECT_EQ(stkUsoDataSyncAction(1u << UNIT_1), -1);  // no set handler is left to take it
    EXPECT_EQ(g_sync.gets.load(), 1);
    EXPECT_EQ(g_sync.frees.load(), 1);
    EXPECT_EQ(stkUsoDataSyncCbUnreg(kModC, 20), -1);
    EXPECT_EQ(stkUsoDataSyncAction(1u << UNIT_1), 0);
    EXPECT_EQ(g_sync.gets.load(), 1);
}

int g_rt_calls = 0;
int runtime_handler(void *, uint32_t) {
    ++g_rt_calls;
    return 0;
}

TEST_F(Stack, RuntimeSyncWithNoOtherUnitSendsNothing) {
    ASSERT_EQ(stkUsoRuntimeDataHndReg(kModC, runtime_handler), 0);
    usodata_t d{g_payload, sizeof g_payload};
    EXPECT_EQ(stkUsoRuntimeDataSync(kModC, &d), 0);
    EXPECT_EQ(g_rt_calls, 0);
    EXPECT_EQ(stkUsoRuntimeDataSync(0, &d), -1);
    usodata_t empty{nullptr, 0};
    EXPECT_EQ(stkUsoRuntimeDataSync(kModC, &empty), -1);

    // What an attached unit runs when the master's call arrives.
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    uint32_t mid = kModC;
    ASSERT_EQ(axrpcAddData(&in, "stkUsoRTKey", AXRPC_PARA_TYPE_DATA, &mid, sizeof mid), 0);
    ASSERT_EQ(axrpcAddPtr(&in, "stkUsoRTData", g_payload, sizeof g_payload, nullptr), 0);
    EXPECT_EQ(_stkUsoRuntimeSrv(&in, &out), 0);
    EXPECT_EQ(g_rt_calls, 1);
    int ret = -5;
    EXPECT_EQ(axrpcGetInt(&out, "ret", &ret), 0);
    EXPECT_EQ(ret, 0);
    axrpcParaFree(&in);
    axrpcParaFree(&out);

    EXPECT_EQ(stkUsoRuntimeDataHndUnreg(kModC), 0);
    EXPECT_EQ(stkUsoRuntimeDataHndUnreg(kModC), -1);
    EXPECT_EQ(stkUsoRuntimeDataHndReg(kModC, nullptr), -1);
}

// Runs a report function served in the core; its "ret".
int report(int (*srv)(AXRPC_PARA_T *, AXRPC_PARA_T *), bool reg, uint32_t pid, bool short_key = false) {
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    su_cb_reg_param_t param{};
    param.key = su_cb_key_t{pid, kModD, 7};
    if (reg) {
        axrpcAddInt(&in, "suCbRegType", SU_CBHND_ATTACH);
        axrpcAddData(&in, "suCbRegKey", AXRPC_PARA_TYPE_DATA, &param.key, short_key ? 8 : sizeof param.key);
        axrpcAddInt(&in, "suCbRegIdx", 0);
    } else {
        axrpcAddInt(&in, "suCbUnregType", SU_CBHND_ATTACH);
        axrpcAddData(&in, "suCbUnregParam", AXRPC_PARA_TYPE_DATA, &param, sizeof param);
    }
    srv(&in, &out);
    int ret = -100;
    axrpcGetInt(&out, "ret", &ret);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
    return ret;
}

TEST_F(Stack, ReportsMustNameAHandlerOfAnotherProcess) {
    EXPECT_EQ(report(_suCbModRegReportSrv, true, PID_CORE), -1);  // would call the proxy as a local handler
    EXPECT_EQ(report(_suCbModRegReportSrv, true, 9, true), -1);   // a key of the wrong size
    EXPECT_EQ(report(_suCbModRegReportSrv, true, 64), -1);
    EXPECT_EQ(report(_suCbModRegReportSrv, true, 9), 0);
    EXPECT_EQ(report(_suCbModUnregReportSrv, false, PID_CORE), -1);
    EXPECT_EQ(report(_suCbModUnregReportSrv, false, 9), 0);
    EXPECT_EQ(report(_suCbModUnregReportSrv, false, 9), -1);  // gone
}

TEST_F(Stack, AHandlerOfAnotherProcessRunsThereThroughTheProxy) {
    stkUsoUpdateCbUnreg(kModA, 100);  // only the peer's handler runs
    const std::string out = "/tmp/stack_test_peer.out";
    pid_t peer = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/su_cb_peer", {"9"}, {}, out);
    ASSERT_GT(peer, 0);
    int early_status = 0;
    bool exited = false;
    ASSERT_TRUE(wait_until(
        [&] {
            exited = exited || waitpid(peer, &early_status, WNOHANG) == peer;
            return exited || read_file(out).find("ready") != std::string::npos;
        },
        60s))
        << read_file(out);
    ASSERT_FALSE(exited) << "the peer could not start (status " << early_status << "): " << read_file(out);
    EXPECT_EQ(stkUsoUpdateAction(1, 0, 1), 0);
    EXPECT_EQ(pc::test::wait_child_for(peer, 60000), 0);
    EXPECT_NE(read_file(out).find("ran 1 0 1"), std::string::npos) << read_file(out);

    // The process has gone without removing its handler: the core drops it
    // once the hub has seen the process go, and the update runs without it.
    EXPECT_TRUE(wait_until([] { return stkUsoUpdateAction(1, 0, 1) == 0; }, 20s));
    su_cb_reg_param_t param{};
    ASSERT_EQ(suCbMngKeyCreate(&param.key, 9, 51, 6), 0);
    EXPECT_EQ(_suCbMngtDelete(&param, SU_CBHND_UPDATE), -1);  // nothing left to remove
}

}  // namespace

namespace {

// Messages across units reach the hub through the unit transport.
constexpr uint32_t kUnitMsgMid = 60;
std::mutex g_unit_msg_lock;
std::vector<std::string> g_unit_msg_threads;  // thread that ran the handler, per message
std::vector<std::string> g_unit_msg_payloads;

int unit_msg_handler(AXMSG_T *msg) {
    char name[32] = {};
    pal_thread_name(pal_thread_self(), name, sizeof name);
    std::lock_guard<std::mutex> g(g_unit_msg_lock);
    g_unit_msg_threads.emplace_back(name);
    g_unit_msg_payloads.emplace_back(static_cast<char *>(msg->data), msg->data_len);
    return 0;
}

std::vector<uint8_t> axmsg_frame(uint32_t dst_unit, const std::string &payload) {
    AXMSG_T msg{};
    msg.dst_unit = dst_unit;
    msg.dst_proc = PID_CORE;
    msg.src_unit = 1;
    msg.src_proc = PID_CORE;
    msg.msg_type = kUnitMsgMid;
    iovec piece{const_cast<char *>(payload.data()), payload.size()};
    msg.iov = &piece;
    msg.iov_num = 1;
    AXMSG_HEADER_T h{};
    EXPECT_EQ(axmsg_create_header(&h, &msg, 0), 0);
    std::vector<uint8_t> frame(sizeof h + payload.size());
    std::memcpy(frame.data(), &h, sizeof h);
    std::memcpy(frame.data() + sizeof h, payload.data(), payload.size());
    return frame;
}

size_t unit_msgs() {
    std::lock_guard<std::mutex> g(g_unit_msg_lock);
    return g_unit_msg_threads.size();
}

TEST_F(Stack, FramesFromAUnitAreCheckedAndRoutedOnTheUnitsReceiveThread) {
    ASSERT_EQ(axmsg_reg(kUnitMsgMid, unit_msg_handler), 0);
    auto good = axmsg_frame(UNIT_1, "from unit one");
    auto wrong_len = good;
    wrong_len.push_back(0);
    auto bad_marker = good;
    bad_marker[0] ^= 0xFF;
    auto other_unit = axmsg_frame(2, "for unit two");
    EXPECT_EQ(axmsg_utp_cb(UNIT_1, good.data(), 31), -1);
    EXPECT_EQ(axmsg_utp_cb(UNIT_1, wrong_len.data(), static_cast<uint32_t>(wrong_len.size())), -1);
    EXPECT_EQ(axmsg_utp_cb(UNIT_1, bad_marker.data(), static_cast<uint32_t>(bad_marker.size())), -1);
    EXPECT_EQ(axmsg_utp_cb(UNIT_1, other_unit.data(), static_cast<uint32_t>(other_unit.size())), -1);
    EXPECT_EQ(axmsg_utp_cb(2, good.data(), static_cast<uint32_t>(good.size())), -1);
    EXPECT_EQ(axmsg_utp_cb(UNIT_1, good.data(), static_cast<uint32_t>(good.size())), 0);
    ASSERT_TRUE(wait_until([] { return unit_msgs() >= 1; }, 10s));
    std::this_thread::sleep_for(50ms);
    std::lock_guard<std::mutex> g(g_unit_msg_lock);
    ASSERT_EQ(g_unit_msg_threads.size(), 1u);
    EXPECT_EQ(g_unit_msg_threads[0], "axmsg_utp_rx_1");
    EXPECT_EQ(g_unit_msg_payloads[0], "from unit one");
    g_unit_msg_threads.clear();
    g_unit_msg_payloads.clear();
}

TEST_F(Stack, AMessageCarriedByTheUnitTransportReachesItsHandler) {
    ASSERT_EQ(axmsg_reg(kUnitMsgMid, unit_msg_handler), 0);
    ASSERT_EQ(utp_link_set(simLinkTx, nullptr), 0);
    simLinkConfigure(100, 0, 0, 3);  // a tenth of the frames lost
    ASSERT_EQ(simLinkStart(utp_rx, UNIT_1), 0);
    ASSERT_EQ(utp_setunitstate(UNIT_1, UTP_UNIT_ENABLE), 0);
    std::string big(5000, 'b');
    for (const std::string &payload : {std::string("small"), big}) {
        auto frame = axmsg_frame(UNIT_1, payload);
        iovec pieces[2] = {{frame.data(), AXMSG_HEADER_LEN},
                           {frame.data() + AXMSG_HEADER_LEN, payload.size()}};
        EXPECT_EQ(utp_sendmsg(UNIT_1, pieces, 2), 0);
    }
    ASSERT_TRUE(wait_until([] { return unit_msgs() >= 2; }, 30s));
    utp_setunitstate(UNIT_1, UTP_UNIT_DISABLE);
    simLinkStop();
    utp_link_set(nullptr, nullptr);
    std::lock_guard<std::mutex> g(g_unit_msg_lock);
    ASSERT_EQ(g_unit_msg_payloads.size(), 2u);
    EXPECT_EQ(g_unit_msg_payloads[0], "small");
    EXPECT_EQ(g_unit_msg_payloads[1], big);
    g_unit_msg_threads.clear();
    g_unit_msg_payloads.clear();
}

TEST_F(Stack, AMulticastReturnsOnceTheTransmitThreadHasSent) {
    ASSERT_EQ(axmsg_reg(kUnitMsgMid, unit_msg_handler), 0);
    std::string payload = "multicast";
    iovec piece{payload.data(), payload.size()};
    AXMSG_T msg{};
    msg.dst_unit = 1u << UNIT_1;
    msg.dst_proc = PID_CORE;
    msg.src_unit = UNIT_1;
    msg.src_proc = PID_CORE;
    msg.msg_type = kUnitMsgMid;
    msg.iov = &piece;
    msg.iov_num = 1;
    EXPECT_EQ(axmsg_serv_mult_dispatch(&msg), 0);
    {
        std::lock_guard<std::mutex> g(g_unit_msg_lock);
        ASSERT_EQ(g_unit_msg_threads.size(), 1u);  // sent before the dispatch returned
        EXPECT_EQ(g_unit_msg_threads[0], "axmsg_utp_tx_1");
        EXPECT_EQ(g_unit_msg_payloads[0], payload);
        g_unit_msg_threads.clear();
        g_unit_msg_payloads.clear();
    }
    EXPECT_EQ(axmsg_serv_mult_dispatch(nullptr), -1);
}

}  // namespace
