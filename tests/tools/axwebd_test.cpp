// The web server as an operator reaches it: axcored with port 1/0/1 on a
// veth pair and the management address on its VLAN 1 interface, axwebd on
// that address, and a host namespace behind port 1/0/1 that pings the
// switch, fetches every page with curl and opens the operator's page in
// headless Chromium. Changes made through the form show in axcli and the
// reverse; hostile requests get HTTP errors and leave the core serving.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/emulation.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace {

using namespace std::chrono_literals;
using pc::test::read_file;
using pc::test::wait_for_text;

constexpr const char *kSwitchIp = "10.77.0.1";
constexpr const char *kHostNs = "webhost";
constexpr int kIdleSeconds = 2;  // axwebd's idle time-out in these tests
// What the web server may hold after the connection flood; a sanitizer's
// shadow memory and allocator take several times more.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr long kServerRssBoundKb = 256 * 1024;
#else
constexpr long kServerRssBoundKb = 64 * 1024;
#endif

bool sh(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

std::string run(const std::string &cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE *)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p.get())) > 0) out.append(buf.data(), n);
    return out;
}

std::string in_host(const std::string &cmd) { return std::string("ip netns exec ") + kHostNs + " " + cmd; }

// "STATUS BODY" of a request from the host namespace.
std::string curl(const std::string &args) {
    return run(in_host("curl -s --noproxy '*' -m 10 -w ' %{http_code}' " + args + " 2>/dev/null"));
}
std::string url(const std::string &path) { return std::string("'http://") + kSwitchIp + path + "'"; }
int status_of(const std::string &reply) {
    size_t sp = reply.rfind(' ');
    return sp == std::string::npos ? 0 : std::atoi(reply.c_str() + sp + 1);
}

// "a1=1&a2=1&..." with `n` arguments.
std::string many_args(int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += (i > 1 ? "&a" : "a") + std::to_string(i) + "=1";
    return text;
}

std::string repeated(const std::string &piece, int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += piece;
    return text;
}

std::string axcli(const std::string &command) {
    return run(std::string(PC_TOOLS_DIR) + "/axcli " + command + " 2>/dev/null");
}

class Web : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (pc::test::under_emulator()) return;
        if (!sh("command -v curl") || !sh("command -v ping")) return;
        if (!sh("ip link add wsw1 type veth peer name wh1") || !sh("ip netns add " + std::string(kHostNs)) ||
            !sh("ip link set wh1 netns " + std::string(kHostNs)) || !sh("ip link set up dev wsw1") ||
            !sh(in_host("ip addr add 10.77.0.2/24 dev wh1")) || !sh(in_host("ip link set up dev wh1")) ||
            !sh(in_host("ip link set up dev lo")))
            return;
        core_ =
            pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axcored",
                                    {"--port-link", "1/0/1=wsw1", "--vlan-if", "1=wvlan1"}, {}, core_log_);
        if (!wait_for_text(core_log_, "VLAN 1 interface wvlan1", 60s)) return;
        if (!sh(std::string("ip addr add ") + kSwitchIp + "/24 dev wvlan1") ||
            !sh("ip link set up dev wvlan1"))
            return;
        web_ = pc::test::spawn_program(
            std::string(PC_TOOLS_DIR) + "/axwebd",
            {"--listen", std::string(kSwitchIp) + ":80", "--idle-timeout", std::to_string(kIdleSeconds)}, {},
            web_log_);
        ready_ = wait_for_text(web_log_, "serving http", 30s);
    }
    static void TearDownTestSuite() {
        for (pid_t *p : {&web_, &core_})
            if (*p > 0) {
                kill(*p, SIGTERM);
                pc::test::wait_child_for(*p, 20000);
                *p = -1;
            }
        sh("ip netns del " + std::string(kHostNs));
        sh("ip link del wsw1");
    }
    void SetUp() override {
        PC_SKIP_UNDER_EMULATOR("namespaces, TAP and the host's tools are not emulated");
        if (!sh("command -v curl") || !sh("command -v ping"))
            GTEST_SKIP() << "curl or ping missing (scripts/setup.sh)";
        ASSERT_TRUE(ready_) << read_file(core_log_) << read_file(web_log_);
    }

    static inline pid_t core_ = -1;
    static inline pid_t web_ = -1;
    static inline bool ready_ = false;
    static inline std::string core_log_ = "/tmp/axwebd_test_core.log";
    static inline std::string web_log_ = "/tmp/axwebd_test_web.log";
};

TEST_F(Web, host_behind_a_port_pings_and_fetches_every_page) {
    bool pinged = false;
    for (int i = 0; i < 10 && !pinged; ++i) pinged = sh(in_host(std::string("ping -c 1 -W 1 ") + kSwitchIp));
    ASSERT_TRUE(pinged);
    struct Page {
        const char *path;
        const char *type;
        const char *holds;
    };
    const Page pages[] = {
        {"/", "text/html", "<title>Switch</title>"},
        {"/api/ports", "application/json", "\"name\": \"Gi1\\/0\\/1\", \"link\": \"up\""},
        {"/api/cpu", "application/json", "\"registrations\": [ { \"table\""},
        {"/api/flood", "application/json", "\"ranges\": ["},
        {"/api/device", "application/json", "\"uptimeSeconds\""},
        {"/api/config", "text/plain", "interface gigabitEthernet 1/0/1"},
        {"/floodDefend.htm", "text/html", "var dportRange = ["},
    };
    for (const Page &p : pages) {
        std::string reply = curl("-D - " + url(p.path));
        EXPECT_EQ(status_of(reply), 200) << p.path << reply;
        EXPECT_NE(reply.find(std::string("Content-Type: ") + p.type), std::string::npos) << p.path << reply;
        EXPECT_NE(reply.find(p.holds), std::string::npos) << p.path << reply;
    }
    // The frames of this very exchange are counted on port 1/0/1.
    std::string ports = curl(url("/api/ports"));
    size_t at = ports.find("\"inFrames\": ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(std::atoi(ports.c_str() + at + 12), 0) << ports;
}

TEST_F(Web, the_form_and_axcli_see_each_others_changes) {
    std::string added = curl("-d 'submit=AddNew&startDport=7000&endDport=7100' " + url("/floodDefend.htm"));
    EXPECT_EQ(status_of(added), 200) << added;
    EXPECT_NE(axcli("show flood-defend").find("7000                7100"), std::string::npos);
    axcli("flood-defend add 8000-8080");
    std::string listed = curl(url("/api/flood"));
    EXPECT_NE(listed.find("\"start\": 8000, \"end\": 8080"), std::string::npos) << listed;
    // Deleting by position through the form; a bad range is refused.
    std::string bad = curl("-d 'submit=AddNew&startDport=9&endDport=3' " + url("/floodDefend.htm"));
    EXPECT_EQ(status_of(bad), 200);
    EXPECT_EQ(bad.find(",9,3]"), std::string::npos) << bad;
    std::string del = curl("-d 'submit=Delete&delNum=1&n1=1' " + url("/floodDefend.htm"));
    EXPECT_EQ(del.find("7000"), std::string::npos) << del;
    EXPECT_EQ(axcli("show flood-defend").find("7000"), std::string::npos);
    axcli("flood-defend delete 8000-8080");
}

TEST_F(Web, hostile_requests_get_http_errors_and_the_core_keeps_serving) {
    const std::string big(20000, 'a');
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {url("/api/ports?x=" + big), 414},                      // request line over the bound
        {"-H 'X-Big: " + big + "' " + url("/api/ports"), 431},  // headers over the bound
        {"--data-binary @/tmp/axwebd_big_body " + url("/floodDefend.htm"), 413},   // body over the bound
        {url("/api/flood?a=%zz%&b=%00&%=%%"), 200},                                // escapes taken as written
        {"--data-binary @/tmp/axwebd_many_args " + url("/floodDefend.htm"), 200},  // through the expand pool
        {"--data-binary @/tmp/axwebd_too_many_args " + url("/floodDefend.htm"),
         413},  // more than the pools take
        {"-X PUT " + url("/api/ports"), 405},
        {url("/no/such/page"), 404},
    };
    {
        std::ofstream body("/tmp/axwebd_big_body");
        body << std::string(100000, 'b');
        std::ofstream many("/tmp/axwebd_many_args");
        many << "submit=none&" << many_args(300);
        std::ofstream tooMany("/tmp/axwebd_too_many_args");
        tooMany << repeated("a&", 2100);
    }
    for (const Case &c : cases)
        EXPECT_EQ(status_of(curl("-o /dev/null " + c.args)), c.status) << c.args.substr(0, 80);

    // Thousands of idle connections: the excess is closed at once, the
    // rest after the idle time; a client elsewhere is served meanwhile.
    // As many as this process may open, keeping room for the rest of the
    // test (a CI machine may allow only 1024 descriptors).
    rlimit nofile{};
    getrlimit(RLIMIT_NOFILE, &nofile);
    nofile.rlim_cur = std::min<rlim_t>(std::max<rlim_t>(nofile.rlim_cur, 4096), nofile.rlim_max);
    setrlimit(RLIMIT_NOFILE, &nofile);
    getrlimit(RLIMIT_NOFILE, &nofile);
    constexpr rlim_t kSpareDescriptors = 64;
    const int idleCount = static_cast<int>(std::min<rlim_t>(
        2000, nofile.rlim_cur > kSpareDescriptors ? nofile.rlim_cur - kSpareDescriptors : 0));
    EXPECT_GT(idleCount, 900) << "descriptors allowed: " << nofile.rlim_cur;
    // Closed however the test ends, so the suite's tear-down can still run its commands.
    struct Sockets {
        std::vector<int> fds;
        ~Sockets() {
            for (int fd : fds) close(fd);
        }
    } idle;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(80);
    inet_pton(AF_INET, kSwitchIp, &to.sin_addr);
    for (int i = 0; i < idleCount; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        (void)connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
        idle.fds.push_back(fd);
    }
    // A slow client: half a request line, then nothing.
    int slow = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    ASSERT_GT(send(slow, "GET /api/po", 11, 0), 0);
    EXPECT_EQ(status_of(curl("-o /dev/null " + url("/api/ports"))), 200);
    EXPECT_NE(axcli("show flood-defend").find("Tcp-udp flood"), std::string::npos);
    // The slow client is closed after the idle time.
    pollfd pfd{slow, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, (kIdleSeconds + 5) * 1000), 1);
    char b;
    EXPECT_LE(recv(slow, &b, 1, 0), 0);
    close(slow);
    for (int fd : idle.fds) close(fd);
    idle.fds.clear();
    EXPECT_EQ(status_of(curl("-o /dev/null " + url("/api/device"))), 200);
    // The server's memory stayed bounded.
    std::string status = read_file("/proc/" + std::to_string(web_) + "/status");
    size_t rss = status.find("VmRSS:");
    ASSERT_NE(rss, std::string::npos);
    EXPECT_LT(std::atol(status.c_str() + rss + 6), kServerRssBoundKb) << "kB";
}

TEST_F(Web, chromium_shows_the_live_pages) {
    const char *browser = nullptr;
    for (const char *b : {"chromium", "chromium-browser"})
        if (sh(std::string("command -v ") + b)) browser = b;
    if (browser == nullptr) GTEST_SKIP() << "no chromium (scripts/setup.sh installs it)";
    const std::string flags =
        std::string(browser) +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir=$(mktemp -d) --virtual-time-budget=8000 ";
    std::string dom = run(in_host("timeout 90 " + flags + "--dump-dom " + url("/") + " 2>/dev/null"));
    EXPECT_NE(dom.find("data-polls="), std::string::npos) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("<tr data-port=\"Gi1/0/1\"><td>Gi1/0/1</td><td class=\"up\">up</td>"),
              std::string::npos)
        << dom.substr(0, 4000);
    EXPECT_NE(dom.find("live, updated"), std::string::npos);
    EXPECT_NE(dom.find("interface gigabitEthernet 1/0/1"), std::string::npos);
    const std::string shot = std::string(PC_TOOLS_DIR) + "/../axwebd_page.png";
    run(in_host("timeout 90 " + flags + "--window-size=1280,1000 --screenshot=" + shot + " " + url("/") +
                " >/dev/null 2>&1"));
    EXPECT_GT(read_file(shot).size(), 1000u) << shot;
}

// A TCP port of loopback that is free now.
int free_loopback_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 8080;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

// The server alone on loopback, as the target build runs it under the
// emulator: the pages answer through the core.
TEST(WebLoopback, serves_the_pages_to_curl) {
    if (!sh("command -v curl")) GTEST_SKIP() << "no curl (scripts/setup.sh)";
    const std::string coreLog = "/tmp/axwebd_loopback_core.log", webLog = "/tmp/axwebd_loopback_web.log";
    pid_t core = pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axcored", {}, {}, coreLog);
    ASSERT_TRUE(wait_for_text(coreLog, "platform is up", 120s)) << read_file(coreLog);
    // A port nobody listens on: a fixed one may be taken on the machine.
    const std::string address = "127.0.0.1:" + std::to_string(free_loopback_port());
    pid_t web = pc::test::spawn_program(std::string(PC_TOOLS_DIR) + "/axwebd",
                                        {"--listen", address, "--wait", "60000"}, {}, webLog);
    EXPECT_TRUE(wait_for_text(webLog, "serving http", 120s)) << read_file(webLog);
    for (const char *path : {"/api/flood", "/api/ports", "/api/device", "/"}) {
        std::string reply = run("curl -s --noproxy '*' -m 60 -w ' %{http_code}' http://" + address + path);
        EXPECT_EQ(status_of(reply), 200)
            << path << reply.substr(0, 300) << read_file(webLog) << read_file(coreLog);
    }
    for (pid_t p : {web, core}) {
        kill(p, SIGTERM);
        EXPECT_EQ(pc::test::wait_child_for(p, 60000), 0);
    }
}

}  // namespace
