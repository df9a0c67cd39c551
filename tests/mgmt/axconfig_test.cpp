// The configuration registry in the core process: printer order, the CLI
// walk and the buffer walk, a printer in another process, port deletion and
// the start-up file operations.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/appintf.h"
#include "platform_core/axconfig.h"
#include "platform_core/axhttp.h"
#include "platform_core/aximi.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_device.h"
#include "support/capture_stdout.h"
#include "support/isolation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;

// The UI: collects the listing; once `stop_at` is seen every later print
// answers -1, as a user who quit the listing.
struct Ui {
    std::mutex lock;
    std::string text;
    std::string stop_at;
    bool stopped = false;
} g_ui;

int ui_print(int, void *, const char *text, AXRPC_PARA_T *) {
    std::lock_guard<std::mutex> guard(g_ui.lock);
    g_ui.text += text;
    if (!g_ui.stop_at.empty() && g_ui.text.find(g_ui.stop_at) != std::string::npos) g_ui.stopped = true;
    return g_ui.stopped ? -1 : 0;
}

std::string show_running_config(const std::string &stop_at = {}) {
    {
        std::lock_guard<std::mutex> guard(g_ui.lock);
        g_ui.text.clear();
        g_ui.stop_at = stop_at;
        g_ui.stopped = false;
    }
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    int32_t session = 1;
    EXPECT_EQ(axImiExecute(PID_CORE, "imi_cli_axConfigShowRunCfg", &session, sizeof session, &args), 0);
    axrpcParaFree(&args);
    std::lock_guard<std::mutex> guard(g_ui.lock);
    return g_ui.text;
}

std::string running_config(unsigned size = AXCONFIG_MAX_LEN) {
    std::vector<char> buf(size, 'Z');
    unsigned len = 0;
    EXPECT_EQ(axConfigGetConfig(size, buf.data(), &len), 0);
    EXPECT_LT(len, size);
    EXPECT_EQ(buf[len], '\0');
    return std::string(buf.data(), len);
}

std::string port_name(uint32_t port) {
    char name[UP_STR_LEN] = {};
    usUp2Str(UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, port), name, UP_STR_TYPE_LONG);
    return name;
}

// Printers.
std::string g_order;
int print_named(const char *tag, int type, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    if (type != AXCFG_TYPE_PRE) return 0;
    g_order += tag;
    return out(env, tag);
}
int p10(int t, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *e, AXCFG_OUTPUT_FUNC o) {
    return print_named("p10;", t, e, o);
}
int p20a(int t, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *e, AXCFG_OUTPUT_FUNC o) {
    return print_named("p20a;", t, e, o);
}
int p20b(int t, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *e, AXCFG_OUTPUT_FUNC o) {
    return print_named("p20b;", t, e, o);
}

// Prints one global line and a VLAN interface line for VLAN 10 only.
int quiet(int type, AXCFG_REG_ARG_T *arg, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    if (type == AXCFG_TYPE_GLOBAL) return out(env, "global x");
    if (type == AXCFG_TYPE_INTF_VLAN && *arg == 10) return out(env, "ip address 10.0.0.1");
    return 0;
}

int vlans_10_and_20(uint32_t id, int kind) { return kind == 1 && (id == 10 || id == 20); }

// Writes n lines of 1000 bytes into one section.
template <int kType, int kLines>
int bulk(int type, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    if (type != kType) return 0;
    static const std::string line(999, kType == AXCFG_TYPE_GLOBAL ? 'g' : 'o');
    for (int i = 0; i < kLines; ++i) out(env, line.c_str());
    return 0;
}
int late_marker(int type, AXCFG_REG_ARG_T *, AXCFG_OUT_ENV_T *env, AXCFG_OUTPUT_FUNC out) {
    return type == AXCFG_TYPE_PRE ? out(env, "late-marker") : 0;
}

std::vector<uint32_t> g_deleted;
int local_delport(unit_list *, up_list *ports) {
    g_deleted.push_back(ports->bits[0]);
    return 0;
}

// The core's services come up once per program (they have no complete
// tear-down); every case shares them and leaves the registry and the hook
// table as it found them, so the cases run in any order and in one process.
bool core_services_up() {
    static const bool up = [] {
        simProcessSetPid(PID_CORE);
        if (axshm_init() != 0 || debugFlagInit() != 0 || adPmpInit() != 0 || up_core_init() != 0)
            return false;
        simSwitchSetInited(1);
        return upProptDevTypeSet(UNIT_1, SIM_DEV_8GE_2SFP) == 0 &&
               upProptDevStatSet(UNIT_1, DEV_STAT_PRESENT) == 0 && axmsg_init(PID_CORE) == 0 &&
               axrpcInit() == 0 && axImiInit() == 0 && axImiInitForUI(ui_print, nullptr) == 0 &&
               axConfigInit() == 0;
    }();
    return up;
}

class Config : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(core_services_up()); }
    void TearDown() override {
        // What the case registered and did not remove itself (it may have
        // stopped half-way), and the hooks it set.
        for (const std::string &name : printers_) axConfigUnRegister(name.c_str());
        printers_.clear();
        appintf[APPINTF_SLOT_INTF_EXISTS] = nullptr;
        appintf[APPINTF_SLOT_CONFIG_LOAD] = nullptr;
    }
    // axConfigRegister, remembered for the tear-down when it succeeds.
    int add_printer(const char *name, AXCFG_GET_CFG_FUNC print, AXCFG_DEL_PORT_FUNC delPort, int priority) {
        const int rc = axConfigRegister(name, print, delPort, priority);
        if (rc == 0) printers_.emplace_back(name);
        return rc;
    }
    int remove_printer(const char *name) {
        std::erase(printers_, name);
        return axConfigUnRegister(name);
    }

private:
    std::vector<std::string> printers_;
};

TEST_F(Config, printers_run_by_priority_and_refusals_register_nothing) {
    ASSERT_EQ(add_printer("p20a", p20a, nullptr, 20), 0);
    ASSERT_EQ(add_printer("p10", p10, nullptr, 10), 0);
    ASSERT_EQ(add_printer("p20b", p20b, nullptr, 20), 0);
    const std::string name32(32, 'n');
    EXPECT_EQ(axConfigRegister(name32.c_str(), p10, nullptr, 1), -1);
    EXPECT_EQ(axConfigRegister("bad", p10, nullptr, 256), -1);
    EXPECT_EQ(axConfigRegister("bad", p10, nullptr, -1), -1);
    EXPECT_EQ(axConfigRegister("bad", nullptr, nullptr, 1), -1);
    g_order.clear();
    std::string text = running_config();
    EXPECT_EQ(g_order, "p10;p20a;p20b;");
    EXPECT_NE(text.find("#\n p10;\n p20a;\n p20b;\n#\n"), std::string::npos) << text;
    for (const char *name : {"p10", "p20a", "p20b"}) EXPECT_EQ(remove_printer(name), 0);
    g_order.clear();
    running_config();
    EXPECT_EQ(g_order, "");
}

TEST_F(Config, cli_walk_heads_every_port_and_stops_after_the_block_the_user_ended) {
    ASSERT_EQ(add_printer("quiet", quiet, nullptr, 50), 0);
    const dev_def_t *dev = upProptDevTypeDesGetByUnit(UNIT_1);
    ASSERT_NE(dev, nullptr);
    std::string text = show_running_config();
    EXPECT_EQ(text.rfind(std::string("!") + dev->name + "\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("#\r\n global x\r\n#\r\n"), std::string::npos) << text;
    for (uint32_t port : {1u, 2u, 3u})
        EXPECT_NE(text.find("interface " + port_name(port) + "\r\n#\r\n"), std::string::npos) << text;

    text = show_running_config("interface " + port_name(2));
    EXPECT_NE(text.find("interface " + port_name(2) + "\r\n#\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("interface " + port_name(3)), std::string::npos) << text;
    EXPECT_EQ(remove_printer("quiet"), 0);
}

TEST_F(Config, buffer_walk_leaves_out_empty_vlan_interfaces_and_cuts_at_the_buffer_end) {
    ASSERT_EQ(add_printer("quiet", quiet, nullptr, 50), 0);
    APPINTF_SET(APPINTF_SLOT_INTF_EXISTS, vlans_10_and_20);
    std::string text = running_config();
    EXPECT_NE(text.find("interface vlan 10\n ip address 10.0.0.1\n#\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("interface vlan 20"), std::string::npos) << text;
    EXPECT_NE(text.find("interface " + port_name(1) + "\n#\n"), std::string::npos) << text;

    // A small buffer: the last line that fits is cut, its line end kept.
    std::string small = running_config(40);
    EXPECT_EQ(small.size(), 39u);
    EXPECT_EQ(small.back(), '\n');
    EXPECT_EQ(text.compare(0, 38, small, 0, 38), 0);
    appintf[APPINTF_SLOT_INTF_EXISTS] = nullptr;
    EXPECT_EQ(remove_printer("quiet"), 0);
}

TEST_F(Config, buffer_walk_stops_collecting_once_the_limit_is_passed) {
    ASSERT_EQ(add_printer("bulk_global", bulk<AXCFG_TYPE_GLOBAL, 1000>, nullptr, 1), 0);
    ASSERT_EQ(add_printer("bulk_other", bulk<AXCFG_TYPE_OTHER, 1000>, nullptr, 2), 0);
    ASSERT_EQ(add_printer("late", late_marker, nullptr, 3), 0);
    std::string text = running_config();
    EXPECT_EQ(text.find("late-marker"), std::string::npos) << "collected after the limit";
    EXPECT_NE(text.find(std::string(999, 'o')), std::string::npos);
    EXPECT_EQ(text.size(), AXCONFIG_MAX_LEN - 1) << "the merging output fills the buffer";
    for (const char *name : {"bulk_global", "bulk_other", "late"}) remove_printer(name);
}

std::string g_loaded;
int loader(const char *text, uint32_t len) {
    g_loaded.assign(text, len);
    return 0;
}

TEST_F(Config, whole_configuration_entry_points_check_their_environment) {
    EXPECT_EQ(axconfigGetAllConfig(nullptr), -1);
    AXCFG_OUT_ENV_T env{};
    env.output = AXCFG_OUTPUT_FILE;
    EXPECT_EQ(axconfigGetAllConfig(&env), -1) << "file output without a file name";
    env.output = AXCFG_OUTPUT_BUFFER;
    EXPECT_EQ(axconfigGetAllConfig(&env), -1) << "buffer output without a buffer";
    std::vector<char> buf(4096);
    env.buffer = buf.data();
    env.bufferLen = static_cast<uint32_t>(buf.size());
    EXPECT_EQ(axconfigGetAllConfig(&env), 0);
    EXPECT_EQ(std::string(buf.data(), env.bufferSeek), running_config(4096));
    env = AXCFG_OUT_ENV_T{};
    EXPECT_EQ(axconfigGetAllConfig(&env), 0) << "no output: the walk prints nothing";
    unsigned len = 0;
    EXPECT_EQ(axConfigGetConfig(16, nullptr, &len), -1);

    // Loading goes to the application's loader, when there is one.
    EXPECT_EQ(axConfigLoadConfig("hostname a\n", 11), 0);
    APPINTF_SET(APPINTF_SLOT_CONFIG_LOAD, loader);
    EXPECT_EQ(axConfigLoadConfig("hostname a\n", 11), 0);
    EXPECT_EQ(g_loaded, "hostname a\n");
    appintf[APPINTF_SLOT_CONFIG_LOAD] = nullptr;

    // The registration services refuse what a local caller could not do.
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddStringPtr(&in, AXCFG_PARA_REG_NAME, std::string(40, 'x').c_str());
    axrpcAddInt(&in, AXCFG_PARA_PRIORITY, 1);
    axrpcAddInt(&in, AXCFG_PARA_DST_PID, 9);
    axconfigManageGetCfgReg(&in, &out);
    int ret = 0;
    EXPECT_EQ(axrpcGetInt(&out, AXCFG_PARA_RET, &ret), 0);
    EXPECT_EQ(ret, -1);
    axrpcParaFree(&out);
    axrpcParaInit(&out);
    axconfigManageGetCfgUnReg(&in, &out);
    EXPECT_EQ(axrpcGetInt(&out, AXCFG_PARA_RET, &ret), 0);
    EXPECT_EQ(ret, -1);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
}

TEST_F(Config, running_config_service_caps_its_buffer) {
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddInt(&in, AXCFG_PARA_MAXLEN, 0x200000);
    EXPECT_EQ(getRunningCfg(&in, &out), 0);
    void *cfg = nullptr;
    int len = 0;
    int ret = -1;
    ASSERT_EQ(axrpcGetPtr(&out, AXCFG_PARA_RUNCFG, &cfg, &len), 0);
    EXPECT_EQ(len, static_cast<int>(AXCONFIG_MAX_LEN));
    EXPECT_EQ(static_cast<const char *>(cfg)[0], '!');
    EXPECT_EQ(axrpcGetInt(&out, AXCFG_PARA_RUN_RET, &ret), 0);
    EXPECT_EQ(ret, 0);
    axrpcParaFree(&in);
    axrpcParaFree(&out);  // releases the buffer
}

// Long enough for a helper to start, or a line to reach its output, on a loaded machine.
constexpr auto kPatience = 30s;

// The state letter of a /proc stat file ('T' once stopped), or '?'.
char state_in(const std::string &stat_path) {
    const std::string stat = read_file(stat_path);
    const size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() ? stat[end + 2] : '?';
}

// Whether every thread of process `pid` has stopped: a stop signal takes
// each thread on its own time, and one may still answer a call meanwhile.
bool all_threads_stopped(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    bool any = false;
    for (const auto &task : std::filesystem::directory_iterator(tasks, error)) {
        if (state_in(task.path().string() + "/stat") != 'T') return false;
        any = true;
    }
    return any && !error;
}

bool wait_for_text(const std::string &path, const std::string &needle) {
    return pc::test::wait_for_text(path, needle, kPatience);
}

TEST_F(Config, printer_and_port_handler_in_another_process) {
    ASSERT_EQ(add_printer("local_del", quiet, local_delport, 200), 0);
    const std::string log = "/tmp/axconfig_peer.log";
    pid_t peer =
        pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/axconfig_peer", {"9", "5"}, {}, log);
    ASSERT_TRUE(wait_for_text(log, "peer registered")) << read_file(log);

    std::string text = running_config();
    EXPECT_NE(text.find("#\n peer pre\n#\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" peer global\n global x\n#"), std::string::npos) << "priority 5 before 50: " << text;
    EXPECT_NE(text.find("interface " + port_name(1) + "\n peer port 1/0/1\n#\n"), std::string::npos) << text;

    text = show_running_config();
    EXPECT_NE(text.find("\n\r\n peer pre\r\n#\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("interface " + port_name(1) + "\r\n peer port 1/0/1\r\n#\r\n"), std::string::npos)
        << text;

    unit_list units = 1u << UNIT_1;
    up_list ports{};
    ports.bits[0] = 0x6;
    g_deleted.clear();
    EXPECT_EQ(axConfigDelPort(&units, &ports), 0);
    EXPECT_TRUE(wait_for_text(log, "peer delport 6")) << read_file(log);
    EXPECT_EQ(g_deleted, std::vector<uint32_t>{0x6u}) << "the local handler after the peer's";
    EXPECT_EQ(axConfigDelPort(nullptr, &ports), -1);

    // Restarted, the process registers its printer again: the new
    // registration replaces its own earlier one, its sections come once.
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
    const std::string log2 = "/tmp/axconfig_peer_again.log";
    peer = pc::test::spawn_program(std::string(PC_TEST_HELPER_DIR) + "/axconfig_peer", {"9", "5"}, {}, log2);
    ASSERT_TRUE(wait_for_text(log2, "peer registered")) << read_file(log2);
    text = running_config();
    size_t sections = 0;
    for (size_t at = text.find("peer pre"); at != std::string::npos; at = text.find("peer pre", at + 1))
        ++sections;
    EXPECT_EQ(sections, 1u) << text;

    // Connected but not serving (stopped): each walk asks it once, waits
    // its limit (10 s) and goes on without it, instead of waiting for good
    // or once per section.
    kill(peer, SIGSTOP);
    ASSERT_TRUE(pc::test::wait_until([&] { return all_threads_stopped(peer); }, 10s));
    for (auto walk : {+[] { return show_running_config(); }, +[] { return running_config(); }}) {
        const auto start = std::chrono::steady_clock::now();
        text = walk();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 25s);
        EXPECT_EQ(text.find("peer"), std::string::npos) << text;
        EXPECT_NE(text.find("global x"), std::string::npos) << text;
    }

    // Gone: the core drops its printers once the hub has seen it go, and the
    // walk goes on without them (no call to the dead process).
    kill(peer, SIGKILL);
    pc::test::wait_child(peer);
    AXRPC_PARA_T probe;
    axrpcParaInit(&probe);
    for (int i = 0; i < 600 && axrpcCallFunctionAsync(1u << UNIT_1, 9, AXCFG_RPC_GET_CFG, &probe, 0) == 0;
         ++i)
        std::this_thread::sleep_for(50ms);
    axrpcParaFree(&probe);
    // A failed write may be seen before the hub's reader has taken the
    // hang-up and dropped the printers: soon after, walks stop calling it.
    std::string printed;
    pc::test::wait_until(
        [&] {
            pc::test::CaptureStdout out;
            text = running_config();
            printed = out.text();
            return printed.find("rcp call error") == std::string::npos;
        },
        10s, 100ms);
    EXPECT_EQ(printed.find("rcp call error"), std::string::npos) << printed;
    EXPECT_EQ(text.find("peer"), std::string::npos);
    EXPECT_NE(text.find(" global x"), std::string::npos);
    EXPECT_EQ(axConfigUnRegister("peer_cfg"), 0);
    EXPECT_EQ(remove_printer("local_del"), 0);
}

// Page output relayed from the core to the web server process.
TEST_F(Config, page_output_reaches_the_web_server_process) {
    const std::string log = "/tmp/http_peer.log";
    pid_t web = pc::test::start_helper_until_ready("http_peer", {}, log, "web server ready");
    ASSERT_GT(web, 0) << read_file(log);
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    axrpcAddStringPtr(&args, "httpclientpProcName", "page_out");
    axrpcAddStringPtr(&args, "text", "hello from the core");
    EXPECT_EQ(axHttpPrintf(0, &args), 0);
    EXPECT_TRUE(wait_for_text(log, "page: hello from the core")) << read_file(log);
    kill(web, SIGKILL);
    pc::test::wait_child(web);
    // A page sent before the hub has dropped the process would wait for a
    // reply without limit: ask once the hub refuses to send to it.
    AXRPC_PARA_T probe;
    axrpcParaInit(&probe);
    for (int i = 0;
         i < 600 && axrpcCallFunctionAsync(1u << UNIT_1, PID_HTTPD, AXHTTP_CLIENT_FUNC, &probe, 0) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    axrpcParaFree(&probe);
    EXPECT_EQ(axHttpPrintf(0, &args), -1) << "no web server";
    axrpcParaFree(&args);
}

// The start-up file lives under /axbase: a private tmpfs there for these
// cases (the program runs in its own mount namespace).
class StartupFile : public Config {
protected:
    void SetUp() override {
        Config::SetUp();
        if (HasFatalFailure()) return;
        if (!pc::test::isolated()) GTEST_SKIP() << "needs a private mount namespace";
        mkdir("/axbase", 0755);
        ASSERT_EQ(mount("tmpfs", "/axbase", "tmpfs", 0, "mode=0755"), 0);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) umount("/axbase");
        Config::TearDown();
    }
    static void write_startup(const std::string &text) {
        ASSERT_EQ(axconfigSaveConfig(AXCONFIG_CFG_FILE_PATH, text.data(), static_cast<unsigned>(text.size())),
                  0);
    }

private:
    bool mounted_ = false;
};

TEST_F(StartupFile, missing_file_and_directory_are_made_on_save) {
    EXPECT_EQ(axConfigIsConfigExist(), 0);
    char *data = reinterpret_cast<char *>(1);
    unsigned len = 7;
    EXPECT_EQ(axconfigGetConfigFromFile(AXCONFIG_CFG_FILE_PATH, &data, &len), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(len, 0u);
    char line[256];
    EXPECT_EQ(axConfigGetCommand("hostname", sizeof line, line), -1);

    // Replacing in a missing file saves the running configuration instead.
    EXPECT_EQ(axConfigReplaceCommand("hostname", "hostname sw1"), 0);
    EXPECT_EQ(axConfigIsConfigExist(), 1);
    std::string saved = read_file(AXCONFIG_CFG_FILE_PATH);
    EXPECT_EQ(saved.rfind("!", 0), 0u) << saved;
    EXPECT_EQ(saved.find("hostname sw1"), std::string::npos);
}

TEST_F(StartupFile, get_and_replace_one_command) {
    write_startup("hostname a\nsnmp x 1\nlogging y\nsnmp x 2\ntrailing without end");
    char line[256];
    EXPECT_EQ(axConfigGetCommand("logging", 255, line), -1) << "255 < len";
    ASSERT_EQ(axConfigGetCommand("ging", sizeof line, line), 0);
    EXPECT_STREQ(line, "logging y");
    EXPECT_EQ(axConfigGetCommand("nothing", sizeof line, line), -1);

    // A last line without its line feed is kept (ended by one).
    ASSERT_EQ(axConfigReplaceCommand("snmp x", "snmp x 3"), 0);
    const std::string edited = "hostname a\nlogging y\nsnmp x 2\ntrailing without end\nsnmp x 3\n";
    EXPECT_EQ(read_file(AXCONFIG_CFG_FILE_PATH), edited);
    EXPECT_EQ(axConfigReplaceCommand("snmp", std::string(255, 'c').c_str()), -1);

    char *data = nullptr;
    unsigned len = 0;
    ASSERT_EQ(axconfigGetConfigFromFile(AXCONFIG_CFG_FILE_PATH, &data, &len), 0);
    EXPECT_EQ(std::string(data, len), edited);
    pal_free(data);

    APPINTF_SET(APPINTF_SLOT_CONFIG_LOAD, loader);
    g_loaded.clear();
    EXPECT_EQ(axConfigReloadStartupConfig(), 0);
    EXPECT_EQ(g_loaded, edited);
    appintf[APPINTF_SLOT_CONFIG_LOAD] = nullptr;
}

// A replacement is refused when the file and the command together pass the
// limit, wherever the file's read buffer ends; what fits is written back
// whole, tail included.
TEST_F(StartupFile, replace_never_cuts_a_long_file) {
    auto file_of = [](size_t size) {
        std::string text = "hostname big\n";
        const std::string filler = "description " + std::string(50, 'f') + "\n";
        while (text.size() + filler.size() + 16 < size) text += filler;
        text += std::string(size - text.size() - 10, 't');
        text += "\nlast one\n";
        return text;
    };
    struct Case {
        size_t file_size;
        const char *command;
        int rc;
    };
    const Case cases[] = {
        {AXCONFIG_MAX_LEN + 50, "x", -1},              // longer than the limit by itself
        {AXCONFIG_MAX_LEN - 1, "xy", -1},              // file + command pass the limit
        {AXCONFIG_MAX_LEN - 40, "hostname small", 0},  // fits: one line out, one in
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file_size);
        const std::string before = file_of(c.file_size);
        ASSERT_EQ(before.size(), c.file_size);
        write_startup(before);
        EXPECT_EQ(axConfigReplaceCommand("hostname", c.command), c.rc);
        const std::string after = read_file(AXCONFIG_CFG_FILE_PATH);
        if (c.rc != 0) {
            EXPECT_TRUE(after == before) << "file changed: " << after.size() << " bytes";
            continue;
        }
        const std::string expected = before.substr(std::strlen("hostname big\n")) + c.command + "\n";
        EXPECT_TRUE(after == expected) << after.size() << " bytes, expected " << expected.size();
    }
}

}  // namespace
