// The management interface in one process that is both server and UI: the
// execution round trip through the hub, prints and questions, and the
// print rules of a slave unit.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/aximi.h"
#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"

// The stack state answer the library asks for: this program plays a master
// or a slave unit.
std::atomic<int> g_is_master{1};
extern "C" int stkCurrentIsMaster(void) { return g_is_master.load(); }

namespace {

// The UI: records every text and answers questions from a script.
struct Ui {
    std::mutex lock;
    std::vector<std::pair<int, std::string>> shown;  // (print flag, text)
    char answer_char = 'y';
    int answer_yes = 1;
    std::string answer_text = "abcdefghijklmnopqrst";
    int print_result = 0;
} g_ui;

int ui_print(int flag, void *, const char *text, AXRPC_PARA_T *out) {
    std::lock_guard<std::mutex> guard(g_ui.lock);
    g_ui.shown.emplace_back(flag, text);
    switch (flag) {
        case AXIMI_PRINT_FLAG_CHAR:
            return axImiPutChar(out, g_ui.answer_char);
        case AXIMI_PRINT_FLAG_YESNO:
            return axImiPutInt(out, g_ui.answer_yes);
        case AXIMI_PRINT_FLAG_STRING:
            return axImiPutString(out, g_ui.answer_text.c_str());
        default:
            return g_ui.print_result;
    }
}

std::vector<std::pair<int, std::string>> take_shown() {
    std::lock_guard<std::mutex> guard(g_ui.lock);
    return std::exchange(g_ui.shown, {});
}

// Management functions.
int show_hello(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out) {
    int n = 0;
    axImiArgGetInt(args, "n", &n);
    AXIMI_ENV_T env{};
    int envRc = axImiGetEnv(&env);
    axImiPrintf(ctx, "hello %d from %d session %d\r\n", n, env.clientPid, envRc == 0 ? env.session : -1);
    axrpcAddInt(out, "twice", 2 * n);
    return n;
}

int ask_all(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *out) {
    char c = axImiPrintfGetChar(ctx, "char? ");
    int yes = axImiPrintfGetYesNo(ctx, "sure? ");
    char small[16];
    int rc = axImiPrintfGetString(ctx, small, sizeof small, "name? ");
    axrpcAddChar(out, "c", c);
    axrpcAddInt(out, "yes", yes);
    axrpcAddInt(out, "rc", rc);
    axrpcAddStringPtr(out, "s", small);
    return 0;
}

int print_long(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    return axImiPrintf(ctx, "%s|", std::string(300, 'x').c_str());
}

int print_twice_stop(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    int first = axImiPrintf(ctx, "one\n");
    return first;
}

int print_async(AXIMI_CTX_T *ctx, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    return axImiPrintfAsync(ctx, "async %d\n", 7);
}

class Imi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axshm_init(), 0);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axrpcInit(), 0);
        ASSERT_EQ(axImiInit(), 0);
        ASSERT_EQ(axImiInitForUI(ui_print, nullptr), 0);
        ASSERT_EQ(axImiRegisterFunc("show_hello", show_hello, IMI_EXEC_MASTER_ONLY), 0);
        ASSERT_EQ(axImiRegisterFunc("ask_all", ask_all, IMI_EXEC_ALL_UNITS), 0);
        ASSERT_EQ(axImiRegisterFunc("print_long", print_long, IMI_EXEC_ALL_UNITS), 0);
        ASSERT_EQ(axImiRegisterFunc("print_stop", print_twice_stop, IMI_EXEC_ALL_UNITS), 0);
        ASSERT_EQ(axImiRegisterFunc("print_async", print_async, IMI_EXEC_ALL_UNITS), 0);
    }
    void SetUp() override {
        g_is_master = 1;
        take_shown();
    }
};

// Runs `name` through the hub with argument n; the reply lands in `args`.
int execute(const char *name, AXRPC_PARA_T *args, int n = 0, int32_t session = 0) {
    axrpcAddInt(args, "n", n);
    return axImiExecute(PID_CORE, name, session != 0 ? &session : nullptr,
                        session != 0 ? static_cast<int>(sizeof session) : 0, args);
}

TEST_F(Imi, execution_round_trip_carries_output_result_and_outputs) {
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute("show_hello", &args, 21, 77), 21);
    int twice = 0;
    EXPECT_EQ(axrpcGetInt(&args, "twice", &twice), 0);
    EXPECT_EQ(twice, 42);
    auto shown = take_shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, "hello 21 from 1 session 77\r\n");
    AXIMI_ENV_T env{};
    EXPECT_EQ(axImiGetEnv(&env), -1) << "outside a request";
    axrpcParaFree(&args);

    axrpcParaInit(&args);
    EXPECT_EQ(execute("no_such_function", &args), -1);
    axrpcParaFree(&args);
}

TEST_F(Imi, questions_carry_each_kind_of_answer_back) {
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute("ask_all", &args), 0);
    char c = 0;
    int yes = -1, rc = -1;
    char *s = nullptr;
    EXPECT_EQ(axrpcGetChar(&args, "c", &c), 0);
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(axrpcGetInt(&args, "yes", &yes), 0);
    EXPECT_EQ(yes, 1);
    EXPECT_EQ(axrpcGetInt(&args, "rc", &rc), 0);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(axrpcGetStringPtr(&args, "s", &s), 0);
    EXPECT_STREQ(s, "abcdefghijklmno") << "a 20-character answer cut to a 16-byte buffer";
    auto shown = take_shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], std::make_pair(AXIMI_PRINT_FLAG_CHAR, std::string("char? ")));
    EXPECT_EQ(shown[1], std::make_pair(AXIMI_PRINT_FLAG_YESNO, std::string("sure? ")));
    EXPECT_EQ(shown[2], std::make_pair(AXIMI_PRINT_FLAG_STRING, std::string("name? ")));
    axrpcParaFree(&args);
}

TEST_F(Imi, long_text_reaches_the_ui_whole_and_the_ui_result_comes_back) {
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute("print_long", &args), 0);
    auto shown = take_shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, std::string(300, 'x') + "|");
    axrpcParaFree(&args);

    g_ui.print_result = -1;  // the user ended the listing
    axrpcParaInit(&args);
    EXPECT_EQ(execute("print_stop", &args), -1);
    g_ui.print_result = 0;
    axrpcParaFree(&args);
}

TEST_F(Imi, asynchronous_execution_and_print_and_the_user_record) {
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(axImiExecuteAsyn(PID_CORE, "print_async", nullptr, 0, &args), 0);
    axrpcParaFree(&args);
    std::vector<std::pair<int, std::string>> shown;
    for (int i = 0; i < 3000 && shown.empty(); ++i) {  // up to 30 s on a slow machine
        shown = take_shown();
        if (shown.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, "async 7\n");

    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddInt(&in, AXIMI_USER_SESSION, 3);
    EXPECT_EQ(aximiGetUserInfoFunc(&in, &out), 0);
    AXIMI_USER_INFO_T info{};
    int len = 0;
    ASSERT_EQ(axrpcGetData(&out, AXIMI_USER_INFO, sizeof info, &info, &len), 0);
    EXPECT_EQ(len, 72);
    EXPECT_STREQ(info.userName, "No register");
    EXPECT_STREQ(info.userIp, "192.168.0.1");
    EXPECT_EQ(info.level, 2);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
}

TEST_F(Imi, registration_checks_name_length_and_role) {
    const std::string name63(63, 'f'), name64(64, 'f');
    EXPECT_EQ(axImiRegisterFunc(name63.c_str(), show_hello, 0), 0);
    EXPECT_EQ(axImiRegisterFunc(name64.c_str(), show_hello, 0), -1);
    EXPECT_EQ(axImiRegisterFunc("x", nullptr, 0), -1);
    EXPECT_EQ(axImiUnregisterFunc(name63.c_str()), 0);
    EXPECT_EQ(axImiUnregisterFunc(name63.c_str()), -1) << "already gone";
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute(name63.c_str(), &args), -1);
    axrpcParaFree(&args);
}

// A request as it arrives at a slave from a UI on the master.
int serve_from_master(const char *name, int *served) {
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddStringPtr(&in, AXIMI_CLIENT_SERV_NAME, name);
    axrpcAddInt(&in, AXIMI_CLIENT_IS_MASTER, 1);
    axrpcAddInt(&in, AXIMI_CLIENT_PID, PID_CORE);
    axrpcAddInt(&in, "n", 5);
    aximiServerManageFunc(&in, &out);
    int rc = axrpcGetInt(&out, AXIMI_SERVER_RET, served);
    axrpcParaFree(&in);
    axrpcParaFree(&out);
    return rc;
}

TEST_F(Imi, slave_prints_only_for_its_own_ui_and_skips_master_only_functions) {
    g_is_master = 0;
    int served = -9;
    // From the master: a master-only show function is skipped, another one
    // runs but its prints go nowhere.
    ASSERT_EQ(serve_from_master("show_hello", &served), 0);
    EXPECT_EQ(served, 0);
    ASSERT_EQ(serve_from_master("print_long", &served), 0);
    EXPECT_EQ(served, 0) << "a suppressed print answers 0";
    EXPECT_TRUE(take_shown().empty());

    // From a UI on the slave itself: the function runs and prints there, and
    // the direction is back to 0 afterwards.
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute("show_hello", &args, 3), 3);
    EXPECT_EQ(take_shown().size(), 1u);
    EXPECT_EQ(axImiGetPrintDirection(), 0);
    axrpcParaFree(&args);
}

TEST_F(Imi, roles_end_and_start_again) {
    EXPECT_EQ(axImiInit(), 0) << "a second start changes nothing";
    AXRPC_PARA_T before;
    axrpcParaInit(&before);
    EXPECT_EQ(execute("show_hello", &before, 2), 2) << "the functions are still there";
    axrpcParaFree(&before);
    take_shown();
    ASSERT_EQ(axImiDeInit(), 0);
    EXPECT_EQ(axImiRegisterFunc("show_hello", show_hello, 0), -1) << "no longer a server";
    AXRPC_PARA_T args;
    axrpcParaInit(&args);
    EXPECT_EQ(execute("show_hello", &args, 1), -1) << "no longer a client";
    axrpcParaFree(&args);
    // The UI role first this time: the server's start keeps the UI's hook.
    ASSERT_EQ(axImiInitForUI(ui_print, nullptr), 0);
    ASSERT_EQ(axImiInit(), 0);
    ASSERT_EQ(axImiRegisterFunc("show_hello", show_hello, IMI_EXEC_MASTER_ONLY), 0);
    axrpcParaInit(&args);
    EXPECT_EQ(execute("show_hello", &args, 4), 4);
    axrpcParaFree(&args);
    EXPECT_EQ(take_shown().size(), 1u);
}

TEST_F(Imi, client_print_refuses_text_without_terminator) {
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    axrpcAddPtr(&in, AXIMI_SERVER_PRINT_STRING, unterminated, sizeof unterminated, nullptr);
    EXPECT_EQ(aximiClientPrintFunc(&in, &out), -1);
    int ret = 0;
    EXPECT_EQ(axrpcGetInt(&out, AXIMI_CLIENT_RET, &ret), 0);
    EXPECT_EQ(ret, -1);
    EXPECT_TRUE(take_shown().empty());
    axrpcParaFree(&in);
    axrpcParaFree(&out);
}

}  // namespace
