// Supervisor pipes with a stand-in supervisor, the image number file and
// the reboot request queue.
#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform_core/app.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

namespace {

constexpr int kChildTimeoutMs = 60000;

// A private root (PLATFORM_ROOT) with the supervisor's pipe folder.
class SupervisorRoot : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/app_root_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        setenv("PLATFORM_ROOT", dir, 1);
        ASSERT_EQ(
            system(("mkdir -p " + root_ + MS_CHANNEL_DIR + " " + root_ + "/etc " + root_ + "/dev").c_str()),
            0);
    }
    void TearDown() override {
        unsetenv("PLATFORM_ROOT");
        (void)!system(("rm -rf " + root_).c_str());
    }
    std::string pipe_path(const char *name) const { return root_ + MS_CHANNEL_DIR + "/" + name; }

    std::string root_;
};

// The stand-in supervisor: creates a channel's pipe and reads its messages.
class StandInSupervisor {
public:
    explicit StandInSupervisor(const std::string &path) {
        mkfifo(path.c_str(), 0600);
        fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    }
    ~StandInSupervisor() {
        if (fd_ >= 0) close(fd_);
    }
    // Waits up to 20 s for the next message.
    bool next(MS_MSG_T *msg) {
        size_t got = 0;
        for (int i = 0; i < 2000 && got < sizeof *msg; ++i) {
            ssize_t n = read(fd_, reinterpret_cast<char *>(msg) + got, sizeof *msg - got);
            if (n > 0) {
                got += static_cast<size_t>(n);
            } else {
                usleep(10000);
            }
        }
        return got == sizeof *msg;
    }
    int fd_ = -1;
};

TEST_F(SupervisorRoot, MessagesReachTheSupervisorPipe) {
    StandInSupervisor supervisor(pipe_path("monitor_to_scm_channel"));
    MS_MSG_T msg{};
    msg.type = MS_CHANNEL_MONITOR_TO_SCM;
    msg.code = 0x1234;
    std::strcpy(msg.name, "sysmon");
    ASSERT_EQ(ms_SentMsg(&msg), 0);
    MS_MSG_T got{};
    ASSERT_TRUE(supervisor.next(&got));
    EXPECT_EQ(std::memcmp(&got, &msg, sizeof msg), 0);
}

TEST_F(SupervisorRoot, UnknownChannelWritesNothingAndMissingReaderFails) {
    pc::test::CaptureStdout capture;
    MS_MSG_T msg{};
    msg.type = 0xFF05;
    EXPECT_EQ(ms_SentMsg(&msg), 0);
    msg.type = MS_CHANNEL_APP_TO_SCM;
    EXPECT_EQ(ms_SentMsg(&msg), -1);  // no pipe at all
    mkfifo(pipe_path("app_to_scm_channel").c_str(), 0600);
    EXPECT_EQ(ms_SentMsg(&msg), -1);  // a pipe nobody reads: failed, not blocked
    EXPECT_EQ(ms_SentMsg(nullptr), -1);
    EXPECT_NE(capture.text().find("open channel fail!\n"), std::string::npos);
}

TEST_F(SupervisorRoot, StartUpReportsStartedAndAliveAndMovesOutputToTheConsole) {
    StandInSupervisor supervisor(pipe_path("app_to_scm_channel"));
    std::string console = root_ + "/dev/ttyS0";
    std::ofstream(console).close();
    // The child stays until both messages are read: the alive message
    // comes from its heartbeat thread.
    pid_t child = pc::test::fork_child([] {
        int rc = appStartUpRsp("a_program_name_longer_than_thirty_two_characters");
        printf("on the console %d %zu\n", rc, std::strlen(appProgramName()));
        fflush(stdout);
        for (;;) pause();
        return 0;
    });
    std::set<uint32_t> codes;
    for (int i = 0; i < 2; ++i) {
        MS_MSG_T got{};
        ASSERT_TRUE(supervisor.next(&got));
        EXPECT_EQ(got.type, static_cast<uint32_t>(MS_CHANNEL_APP_TO_SCM));
        EXPECT_STREQ(got.name, "a_program_name_longer_than_thirt");
        codes.insert(got.code);
    }
    EXPECT_EQ(codes, (std::set<uint32_t>{MS_MSG_APP_STARTED, MS_MSG_APP_ALIVE}));
    // The heartbeat thread may report before the child has printed its line.
    std::string text;
    for (int waited_ms = 0; waited_ms < 10000 && text.find('\n') == std::string::npos; waited_ms += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(console);
        std::stringstream read;
        read << in.rdbuf();
        text = read.str();
    }
    kill(child, SIGKILL);
    pc::test::wait_child(child);
    EXPECT_EQ(text, "on the console 0 32\n");
    EXPECT_EQ(appStartUpRsp(nullptr), -1);
}

TEST_F(SupervisorRoot, ImageNumberFile) {
    pc::test::CaptureStdout capture;
    EXPECT_EQ(ms_GetImageNum(), 1);  // no file yet
    EXPECT_NE(capture.text().find("open channel fail,return default value 1!\n"), std::string::npos);
    ASSERT_EQ(ms_SetImageNum(2), 0);
    EXPECT_EQ(ms_GetImageNum(), 2);
    std::ifstream in(root_ + MS_IMAGE_NUM_FILE, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string("\0\0\0\2", 4));  // as the switch stores it
    std::ofstream(root_ + MS_IMAGE_NUM_FILE, std::ios::trunc) << "\1";
    EXPECT_EQ(ms_GetImageNum(), 1);  // too short to hold a number
}

TEST(RebootQueue, RequestsArriveInOrderAndWaitForRoom) {
    ASSERT_EQ(sysRebootInit(), 0);
    ASSERT_EQ(sysRebootInit(), 0);  // once per process
    mqd_t reader = mq_open(SYS_REBOOT_QUEUE, O_RDONLY);
    ASSERT_NE(reader, static_cast<mqd_t>(-1));
    mq_attr attr{};
    ASSERT_EQ(mq_getattr(reader, &attr), 0);
    EXPECT_EQ(attr.mq_maxmsg, SYS_REBOOT_QUEUE_DEPTH);
    EXPECT_EQ(attr.mq_msgsize, SYS_REBOOT_MSG_SIZE);

    for (int i = 0; i < SYS_REBOOT_QUEUE_DEPTH; ++i) ASSERT_EQ(sysReboot_local(i, 100 + i), 0);
    // The queue is full: the next request waits until the reader takes one.
    std::thread late([] { EXPECT_EQ(sysReboot_local(99, 199), 0); });
    for (int i = 0; i <= SYS_REBOOT_QUEUE_DEPTH; ++i) {
        uint32_t request[2] = {};
        ASSERT_EQ(mq_receive(reader, reinterpret_cast<char *>(request), sizeof request, nullptr),
                  static_cast<ssize_t>(sizeof request));
        int a = i < SYS_REBOOT_QUEUE_DEPTH ? i : 99;
        EXPECT_EQ(request[0], static_cast<uint32_t>(100 + a));  // {second argument, first argument}
        EXPECT_EQ(request[1], static_cast<uint32_t>(a));
    }
    late.join();
    mq_close(reader);
}

}  // namespace
