// The core's side of the notification tests: this program is the core (hub,
// RPC service, notification service) and keeps what peers report through
// the RPC function "peer_saw", as "what|thread|argument", beside what its
// own callbacks record.
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/axmsg.h"
#include "platform_core/axrpc.h"
#include "platform_core/notify.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"

namespace pc::test::notify {

// How long a report or a subscription of another process may take to come.
inline constexpr std::chrono::seconds kPatience{15};

class NotifyCoreFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axmsg_init(PID_CORE), 0);
        ASSERT_EQ(axrpcInit(), 0);
        ASSERT_EQ(notify_init(), 0);
        ASSERT_EQ(axrpcRegisterFunc("peer_saw", peer_saw), 0);
    }
    void SetUp() override { clear_seen(); }

public:
    static void record(const std::string &what) {
        std::lock_guard<std::mutex> guard(store().lock);
        store().list.push_back(what);
    }
    static std::vector<std::string> seen_list() {
        std::lock_guard<std::mutex> guard(store().lock);
        return store().list;
    }
    static void clear_seen() {
        std::lock_guard<std::mutex> guard(store().lock);
        store().list.clear();
    }
    static size_t count_of(const std::string &entry) {
        std::lock_guard<std::mutex> guard(store().lock);
        return static_cast<size_t>(std::count(store().list.begin(), store().list.end(), entry));
    }
    static size_t count_starting(const std::string &prefix) {
        std::lock_guard<std::mutex> guard(store().lock);
        return static_cast<size_t>(
            std::count_if(store().list.begin(), store().list.end(),
                          [&](const std::string &s) { return s.rfind(prefix, 0) == 0; }));
    }
    // Until at least `n` entries are kept.
    static bool wait_seen(size_t n) {
        return wait_until([n] { return seen_list().size() >= n; }, kPatience);
    }
    // Until `entry` is kept.
    static bool wait_for_entry(const std::string &entry) {
        return wait_until([&] { return count_of(entry) > 0; }, kPatience);
    }

    // The core's table as it prints it: one line per active node.
    static std::string table_text() {
        CaptureStdout out;
        NOTIFY_REG_MSG_T print{NOTIFY_CMD_PRINT, 0, 0, 0};
        AXMSG_T msg{};
        msg.src_proc = PID_CORE;
        msg.data = &print;
        msg.data_len = sizeof print;
        notify_axmsg_callback(&msg);
        return out.text();
    }
    // The active nodes of process `pid` for `type` in the core's table.
    static size_t nodes_of(int type, int pid) {
        const std::string text = table_text();
        const std::string node = "Type " + std::to_string(type) + ", Proc " + std::to_string(pid) + ",";
        size_t n = 0;
        for (size_t at = text.find(node); at != std::string::npos; at = text.find(node, at + 1)) ++n;
        return n;
    }
    // A process subscribes with a message to the core that it does not
    // wait on: its "ready" may come first. Until the core lists `nodes`.
    static bool wait_subscribed(int type, int pid, size_t nodes = 1) {
        return wait_until([=] { return nodes_of(type, pid) >= nodes; }, kPatience);
    }

private:
    // Never destroyed: the core's RPC workers may still report while the
    // program exits.
    struct Store {
        std::mutex lock;
        std::vector<std::string> list;
    };
    static Store &store() {
        static Store *s = new Store;
        return *s;
    }

    static int peer_saw(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
        char *what = nullptr, *thread = nullptr;
        char arg[64] = {};
        int len = 0;
        axrpcGetStringPtr(in, "what", &what);
        axrpcGetStringPtr(in, "thread", &thread);
        axrpcGetString(in, "arg", sizeof arg - 1, arg, &len);
        record(std::string(what ? what : "") + "|" + (thread ? thread : "") + "|" + arg);
        return 0;
    }
};

}  // namespace pc::test::notify
