// The packet service's management commands and its web page, run by name
// through the management interface and the hub, as a command line or the
// web server runs them; and its section of the running configuration.
// The core comes up through platformInit (packet_support.h), RPC queues
// included; this program is also the user interface.
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "packet_support.h"
#include "platform_core/axconfig.h"
#include "platform_core/axhttp.h"
#include "platform_core/aximi.h"
#include "platform_core/axrpc.h"
#include "platform_core/sibling.h"

namespace {

using namespace pc::test::packet;

std::mutex g_shown_lock;
std::condition_variable g_shown_cond;
std::string g_shown;    // everything the management functions printed
std::string g_hold_at;  // the user stops reading at a print holding this
bool g_ui_waiting = false;

int ui_print(int, void *, const char *text, AXRPC_PARA_T *) {
    std::unique_lock<std::mutex> guard(g_shown_lock);
    g_shown += text;
    if (g_hold_at.empty() || std::string(text).find(g_hold_at) == std::string::npos) return 0;
    g_ui_waiting = true;
    g_shown_cond.notify_all();
    g_shown_cond.wait(guard, [] { return g_hold_at.empty(); });
    g_ui_waiting = false;
    return 0;
}

void hold_ui(const std::string &at) {
    std::lock_guard<std::mutex> guard(g_shown_lock);
    g_hold_at = at;
    g_shown_cond.notify_all();
}

struct Output {
    int rc;
    std::string shown;
};

// Executes `name` in the core with integer or text arguments.
Output execute(const char *name, const std::vector<std::pair<const char *, std::string>> &args = {}) {
    {
        std::lock_guard<std::mutex> guard(g_shown_lock);
        g_shown.clear();
    }
    AXRPC_PARA_T para;
    axrpcParaInit(&para);
    for (const auto &[arg, value] : args) {
        if (!value.empty() &&
            value.find_first_not_of("0123456789", value[0] == '-' ? 1 : 0) == std::string::npos)
            axImiArgAddInt(&para, arg, std::stoi(value));
        else
            axrpcAddString(&para, arg, const_cast<char *>(value.c_str()), static_cast<int>(value.size() + 1));
    }
    int rc = axImiExecute(PID_CORE, name, nullptr, 0, &para);
    axrpcParaFree(&para);
    std::lock_guard<std::mutex> guard(g_shown_lock);
    return {rc, g_shown};
}

// The request variables of one web request, as the web server leaves them
// in the shared request pools.
void web_request(int reqId, const std::vector<std::pair<const char *, const char *>> &vars) {
    ASSERT_EQ(httpParsePoolGlobalInit(reqId, 0), 0);
    for (const auto &[name, value] : vars) ASSERT_EQ(httpSetEnvLib(nullptr, name, value), 0);
}

std::string running_config() {
    std::vector<char> buf(0x20000);
    unsigned len = 0;
    EXPECT_EQ(axConfigGetConfig(static_cast<unsigned>(buf.size()), buf.data(), &len), 0);
    return std::string(buf.data());
}

class PacketCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        start_core_once();
        ASSERT_EQ(axImiInitForUI(ui_print, nullptr), 0);
        ASSERT_EQ(httpParseInit(), 0);
    }
    void SetUp() override { tcpUdpFloodDefendDportDelAll(); }
    void TearDown() override {
        tcpUdpFloodDefendDportDelAll();
        axpkt_reason_enable = 0;
    }
};

TEST_F(PacketCli, listings_and_reason_switch_run_by_name) {
    Output r = execute("cliAxpacketShowRegister");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.shown.rfind("+++++++++++++Show enable register axpacket+++++++++++++++++\n\n", 0), 0u)
        << r.shown;
    EXPECT_NE(r.shown.find("RuleTable NO_IP:\n"), std::string::npos) << r.shown;
    EXPECT_NE(r.shown.find("++++++++++++++++++End show+++++++++++++++++\n"), std::string::npos);

    r = execute("cliAxpacketShowStat");
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.shown.find("axpacket receive packets: "), std::string::npos) << r.shown;
    EXPECT_NE(r.shown.find("cpu rx Queue 7: "), std::string::npos) << r.shown;
    EXPECT_NE(r.shown.find("ICMP"), std::string::npos) << "the service's own registration\n" << r.shown;

    EXPECT_EQ(execute("cliAxpacketReasonEnable", {{"enable", "1"}}).rc, 0);
    EXPECT_EQ(axpkt_reason_enable, 1u);
    EXPECT_EQ(execute("cliAxpacketReasonEnable", {{"enable", "0"}}).rc, 0);
    EXPECT_EQ(axpkt_reason_enable, 0u);
    EXPECT_NE(execute("cliAxpacketReasonEnable").rc, 0) << "no argument";
}

TEST_F(PacketCli, flood_defence_commands_and_running_configuration) {
    struct {
        int op;
        const char *dport;
        int rc;
        const char *shown;
    } const kCases[] = {
        {1, "5000-6000", 0, ""},
        {1, "80-80", 0, ""},
        {1, "6000-5000", -1, " Input error,dport of end must greater or equal to start.\r\n"},
        {1, "1-70000", -1, " Input error,dport should be 0-65535.\r\n"},
        {1, "5000", -1, " Input error,dport range format:5000-6000.\r\n"},
        {0, "80-80", 0, ""},
        {1, "81-81", 0, ""},
    };
    for (const auto &c : kCases) {
        Output r = execute("cliTcpUdpFloodDefendDport", {{"op", std::to_string(c.op)}, {"dport", c.dport}});
        EXPECT_EQ(r.rc, c.rc) << c.dport;
        EXPECT_EQ(r.shown, c.shown) << c.dport;
    }
    EXPECT_NE(execute("cliTcpUdpFloodDefendDport", {{"op", "1"}}).rc, 0) << "no range";
    EXPECT_NE(execute("cliTcpUdpFloodDefendDport", {{"dport", "1-2"}}).rc, 0) << "no op";

    Output r = execute("cliTcpUdpFloodDefendShow");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.shown,
              "Tcp-udp flood cpu defend dport:\r\nIndex     Start Port          End Port\r\n"
              "1         5000                6000\r\n2         81                  81\r\n");

    // Global section only, once, indented like every registrant's lines.
    std::string cfg = running_config();
    const std::string line =
        "\n ip cpu-defend tcp-udp-flood dport 5000-6000\n ip cpu-defend tcp-udp-flood dport 81-81\n";
    size_t at = cfg.find(line);
    EXPECT_NE(at, std::string::npos) << cfg;
    EXPECT_EQ(cfg.find("tcp-udp-flood dport 5000-6000", at + line.size()), std::string::npos) << cfg;

    // A full table is refused with the CLI library's message for its code.
    for (uint16_t p = 1; tcpUdpFloodDefendDportList(nullptr, nullptr, 0) < FLOOD_DEFEND_RANGE_MAX; ++p)
        ASSERT_EQ(tcpUdpFloodDefendDportAdd(p, p), 0);
    r = execute("cliTcpUdpFloodDefendDport", {{"op", "1"}, {"dport", "7000-7001"}});
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.shown, std::string(cliUso_error(FLOOD_DEFEND_RANGE_FULL)) + "\r\n");
}

// A listing that waits for its user holds no lock of the receive path.
TEST_F(PacketCli, waiting_user_does_not_hold_up_the_receive_path) {
    ASSERT_EQ(tcpUdpFloodDefendDportAdd(5000, 6000), 0);
    hold_ui("5000                6000");  // a range line
    auto listing = std::async(std::launch::async, [] { return execute("cliTcpUdpFloodDefendShow"); });
    {
        std::unique_lock<std::mutex> guard(g_shown_lock);
        ASSERT_TRUE(g_shown_cond.wait_for(guard, std::chrono::seconds(30), [] { return g_ui_waiting; }));
    }
    uint8_t mac[6];
    simChipSwitchMacGet(mac);
    Bytes frame = ipv4(mac, 17, 0x0A000001, 0x0A0000FE, 1234, 5500);
    auto check = std::async(std::launch::async, [&] {
        return axPacketTcpUdpFloodDefend(frame.data(), static_cast<uint32_t>(frame.size()));
    });
    EXPECT_EQ(check.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto registry = std::async(std::launch::async, [] { return tcpUdpFloodDefendDportAdd(80, 80); });
    EXPECT_EQ(registry.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    hold_ui("");
    EXPECT_EQ(listing.get().rc, 0);
    EXPECT_EQ(check.get(), 0);
}

TEST_F(PacketCli, web_page_edits_the_ranges_and_lists_them) {
    struct {
        std::vector<std::pair<const char *, const char *>> vars;
        const char *ranges;  // the script array after the request
    } const kCases[] = {
        {{{"submit", "AddNew"}, {"startDport", "5000"}, {"endDport", "6000"}}, "[1,5000,6000]"},
        {{{"submit", "AddNew"}, {"startDport", "80"}, {"endDport", "80"}}, "[1,5000,6000],[2,80,80]"},
        {{{"submit", "AddNew"}, {"startDport", "90"}, {"endDport", "70"}}, "[1,5000,6000],[2,80,80]"},
        {{{"submit", "AddNew"}, {"startDport", "90"}, {"endDport", "65536"}}, "[1,5000,6000],[2,80,80]"},
        {{{"submit", "AddNew"}, {"startDport", "7"}, {"endDport", "7"}}, "[1,5000,6000],[2,80,80],[3,7,7]"},
        // One bad position: nothing is deleted.
        {{{"submit", "Delete"}, {"delNum", "2"}, {"n1", "1"}, {"n2", "65"}},
         "[1,5000,6000],[2,80,80],[3,7,7]"},
        {{{"submit", "Delete"}, {"delNum", "2"}, {"n1", "1"}}, "[1,5000,6000],[2,80,80],[3,7,7]"},
        {{{"submit", "Delete"}, {"delNum", "2"}, {"n1", "1"}, {"n2", "3"}}, "[1,80,80]"},
        {{{"submit", "Other"}}, "[1,80,80]"},
        {{}, "[1,80,80]"},
        {{{"submit", "DeleteAll"}}, ""},
    };
    int reqId = 1;
    for (const auto &c : kCases) {
        web_request(reqId++, c.vars);
        Output r = execute("imi_http_FloodEntryPage");
        EXPECT_EQ(r.rc, 0);
        EXPECT_NE(r.shown.find(std::string("<script language=JavaScript><!--\nvar dportRange = [\n") +
                               c.ranges + "];\n"),
                  std::string::npos)
            << r.shown;
        EXPECT_NE(r.shown.find("--></script>\n"), std::string::npos);
        EXPECT_NE(r.shown.find("\"/userPage/floodDefend.htm\""), std::string::npos) << r.shown;
    }

    for (uint16_t p = 1; p <= FLOOD_DEFEND_RANGE_MAX; ++p) ASSERT_EQ(tcpUdpFloodDefendDportAdd(p, p), 0);
    web_request(reqId++, {{"submit", "AddNew"}, {"startDport", "100"}, {"endDport", "200"}});
    Output r = execute("imi_http_FloodEntryPage");
    EXPECT_NE(r.shown.find(cliUso_error(FLOOD_DEFEND_RANGE_FULL)), std::string::npos) << r.shown;
    EXPECT_NE(r.shown.find(",[64,64,64]];\n"), std::string::npos);
}

}  // namespace
