// The timer service at work: refusals, names, periodic skipping, deletion,
// the worker pool, handlers that change timers, clearing and the dump.
//
// Timing assertions hold on a loaded or emulated machine: they check order
// and lower bounds that follow from the design, and give upper bounds
// plenty of room.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform_core/pal.h"
#include "platform_core/timer.h"
#include "support/capture_stdout.h"
#include "support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPatience = 20s;  // the longest any test waits for a handler

timespec after_ms(long ms) { return timespec{ms / 1000, (ms % 1000) * 1000000L}; }

// Timers fire within milliseconds: polled every millisecond.
bool wait_for(const std::function<bool()> &pred) { return pc::test::wait_until(pred, kPatience, 1ms); }

// Counts the runs of a handler, when they started and how many overlapped;
// a run may be held until the test releases it.
class Probe {
public:
    explicit Probe(std::chrono::milliseconds run_time = 0ms) : run_time_(run_time) {}
    // A handler still on a worker must not outlive its probe.
    ~Probe() {
        release();
        EXPECT_TRUE(wait_for([this] { return inside_.load() == 0; }));
    }
    Probe(const Probe &) = delete;
    Probe &operator=(const Probe &) = delete;

    uintptr_t arg() { return reinterpret_cast<uintptr_t>(this); }
    static void handler(uintptr_t arg) { reinterpret_cast<Probe *>(arg)->run(); }

    void hold() { held_ = true; }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        cond_.notify_all();
    }

    int runs() const { return runs_.load(); }
    int running() const { return running_.load(); }
    int max_running() const { return max_running_.load(); }
    std::vector<Clock::time_point> starts() {
        std::lock_guard lock(mutex_);
        return starts_;
    }

private:
    void run() {
        ++inside_;
        int now = ++running_;
        int seen = max_running_.load();
        while (now > seen && !max_running_.compare_exchange_weak(seen, now)) {
        }
        {
            std::unique_lock lock(mutex_);
            starts_.push_back(Clock::now());
            cond_.wait(lock, [this] { return !held_; });
        }
        std::this_thread::sleep_for(run_time_);
        --running_;
        ++runs_;
        --inside_;  // the handler's last touch of the probe
    }

    std::chrono::milliseconds run_time_;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool held_ = false;                      // guarded by mutex_
    std::vector<Clock::time_point> starts_;  // guarded by mutex_
    std::atomic<int> runs_{0};
    std::atomic<int> running_{0};
    std::atomic<int> max_running_{0};
    std::atomic<int> inside_{0};  // handlers between their first and last touch
};

timer_id_t add(const char *name, long ms, Probe &probe, int mode = TIMER_MODE_ONESHOT) {
    timespec iv = after_ms(ms);
    return add_timer(name, &iv, Probe::handler, probe.arg(), mode);
}

timer_id_t id_of(const char *name) {
    timer_id_t id{};
    std::snprintf(id.name, sizeof id.name, "%s", name);
    return id;
}

std::string dump() {
    pc::test::CaptureStdout out;
    timer_dump();
    return out.text();
}

// The part of the dump after `heading`, up to the next heading.
std::string dump_section(const std::string &text, const std::string &heading) {
    size_t from = text.find(heading);
    if (from == std::string::npos) return "";
    from += heading.size();
    size_t to = text.find("***", from);
    return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

constexpr const char *kByName = "*** Pending timers dump by handler name:";
constexpr const char *kByQueue = "*** Pending timers dump by pri Queue:";
constexpr const char *kExecuting = "*** Executing timers:";

class TimerService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const int started = timer_init();  // once per process
        ASSERT_EQ(started, 0);
    }

    // Objects that handlers touch: they live until TearDown has cleared the
    // timers and seen every handler finish.
    template <typename T, typename... Args>
    T &keep(Args &&...args) {
        auto obj = std::make_shared<T>(std::forward<Args>(args)...);
        kept_.push_back(obj);
        return *obj;
    }

    // No timer of one test may run into the next.
    void TearDown() override {
        EXPECT_EQ(timer_clear(), 0);
        EXPECT_TRUE(
            wait_for([] { return dump_section(dump(), kExecuting).find("Timer ") == std::string::npos; }));
    }

private:
    std::vector<std::shared_ptr<void>> kept_;
};

void noop(uintptr_t) {}

TEST_F(TimerService, AddTimerRefusesBadArguments) {
    const timespec ok = after_ms(50);
    const timespec zero{0, 0};
    const timespec too_many_ns{0, 1000000001};
    const timespec negative_sec{-1, 0};
    const timespec negative_ns{0, -1};
    const std::string long_name(TIMER_NAME_LEN, 'n');
    struct Case {
        const char *what;
        const char *name;
        const timespec *interval;
        timer_handler_t handler;
        int mode;
    };
    const Case cases[] = {
        {"mode 0", "bad", &ok, noop, 0},
        {"mode 2", "bad", &ok, noop, 2},
        {"no handler", "bad", &ok, nullptr, TIMER_MODE_ONESHOT},
        {"no name", nullptr, &ok, noop, TIMER_MODE_ONESHOT},
        {"no interval", "bad", nullptr, noop, TIMER_MODE_ONESHOT},
        {"empty name", "", &ok, noop, TIMER_MODE_ONESHOT},
        {"32-character name", long_name.c_str(), &ok, noop, TIMER_MODE_ONESHOT},
        {"nanoseconds above 1e9", "bad", &too_many_ns, noop, TIMER_MODE_ONESHOT},
        {"negative seconds", "bad", &negative_sec, noop, TIMER_MODE_ONESHOT},
        {"negative nanoseconds", "bad", &negative_ns, noop, TIMER_MODE_ONESHOT},
        {"periodic of no interval", "bad", &zero, noop, TIMER_MODE_PERIODIC},
    };
    for (const Case &c : cases) {
        timer_id_t id = add_timer(c.name, c.interval, c.handler, 0, c.mode);
        EXPECT_EQ(id.name[0], '\0') << c.what;
    }
    std::string text = dump();
    EXPECT_EQ(count_of(text, "  name: "), 0u) << text;

    // The limits themselves are accepted.
    const std::string longest(TIMER_NAME_LEN - 1, 'l');
    const timespec one_sec_in_ns{0, 1000000000};
    EXPECT_STREQ(add_timer(longest.c_str(), &ok, noop, 0, TIMER_MODE_ONESHOT).name, longest.c_str());
    EXPECT_STREQ(add_timer("full ns", &one_sec_in_ns, noop, 0, TIMER_MODE_PERIODIC).name, "full ns");
    EXPECT_STREQ(add_timer("now", &zero, noop, 0, TIMER_MODE_ONESHOT).name, "now");
}

TEST_F(TimerService, SameNameAnswersThePendingTimerUnchanged) {
    Probe &first = keep<Probe>();
    Probe &second = keep<Probe>();
    timer_id_t a = add("twin", 100, first);
    timer_id_t b = add("twin", 10, second);
    EXPECT_STREQ(a.name, "twin");
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    ASSERT_TRUE(wait_for([&] { return first.runs() == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(second.runs(), 0);
    EXPECT_EQ(first.runs(), 1);
}

TEST_F(TimerService, PeriodicTimerSkipsExpiriesWhileItsHandlerRuns) {
    Probe &slow = keep<Probe>(250ms);
    add("slow", 100, slow, TIMER_MODE_PERIODIC);
    std::this_thread::sleep_for(1600ms);
    del_timer(id_of("slow"));
    ASSERT_TRUE(wait_for([&] { return slow.running() == 0; }));

    auto starts = slow.starts();
    EXPECT_EQ(slow.max_running(), 1);
    // Every 100 ms without skipping would be 16 runs; a run needs 250 ms.
    EXPECT_GE(starts.size(), 2u);
    EXPECT_LE(starts.size(), 6u);
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], 250ms) << i;
}

TEST_F(TimerService, DeletedTimerNeverRunsAndLeavesANamelessQueueEntry) {
    Probe &early = keep<Probe>();
    Probe &late = keep<Probe>();
    add("early", 30000, early);
    add("late", 60000, late);
    EXPECT_EQ(del_timer(id_of("late")), 0);
    std::string text = dump();
    std::string by_name = dump_section(text, kByName);
    std::string by_queue = dump_section(text, kByQueue);
    EXPECT_EQ(count_of(by_name, "  name: "), 1u) << text;
    EXPECT_EQ(count_of(by_name, "name: early "), 1u) << text;
    EXPECT_EQ(count_of(by_queue, "  name: "), 2u) << text;
    EXPECT_EQ(count_of(by_queue, "  name:  expire_sec="), 1u) << text;

    // The name is free again at once.
    EXPECT_STREQ(add("late", 60000, late).name, "late");

    Probe &gone = keep<Probe>();
    add("gone", 100, gone);
    EXPECT_EQ(del_timer(id_of("gone")), 0);
    EXPECT_EQ(del_timer(id_of("gone")), 0);  // no such timer any more
    EXPECT_EQ(del_timer(timer_id_t{}), -1);  // no timer at all
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(gone.runs(), 0);
}

TEST_F(TimerService, NinthDueTimerWaitsForAFreeWorker) {
    Probe &probe = keep<Probe>();
    probe.hold();
    const char *names[] = {"due1", "due2", "due3", "due4", "due5", "due6", "due7", "due8", "due9"};
    for (const char *name : names) add(name, 0, probe);

    ASSERT_TRUE(wait_for([&] { return probe.running() == 8; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(probe.running(), 8);
    EXPECT_EQ(probe.runs(), 0);
    std::string executing = dump_section(dump(), kExecuting);
    EXPECT_EQ(count_of(executing, "is running at thread sysTimerSub_"), 8u) << executing;

    probe.release();
    ASSERT_TRUE(wait_for([&] { return probe.runs() == 9; }));
    EXPECT_EQ(probe.max_running(), 8);
}

// Handlers that change timers from a worker thread.
struct Chain {
    std::atomic<int> runs{0};
    static void handler(uintptr_t arg) {
        auto *self = reinterpret_cast<Chain *>(arg);
        // A one-shot timer's name is free once it has been dispatched.
        if (++self->runs < 5) {
            timespec soon{0, 1000000};
            add_timer("chain", &soon, handler, arg, TIMER_MODE_ONESHOT);
        }
    }
};

struct Switcher {
    Probe spawned, target, self;
    static void swap(uintptr_t arg) {
        auto *s = reinterpret_cast<Switcher *>(arg);
        del_timer(id_of("target"));
        add("spawned", 10, s->spawned);
    }
    static void delete_self(uintptr_t arg) {
        del_timer(id_of("self"));
        Probe::handler(reinterpret_cast<uintptr_t>(&reinterpret_cast<Switcher *>(arg)->self));
    }
};

TEST_F(TimerService, HandlersAddAndDeleteTimers) {
    Chain &chain = keep<Chain>();
    timespec soon{0, 1000000};
    add_timer("chain", &soon, Chain::handler, reinterpret_cast<uintptr_t>(&chain), TIMER_MODE_ONESHOT);

    Switcher &sw = keep<Switcher>();
    add("target", 400, sw.target);
    timespec swap_at = after_ms(20);
    add_timer("swap", &swap_at, Switcher::swap, reinterpret_cast<uintptr_t>(&sw), TIMER_MODE_ONESHOT);
    timespec period = after_ms(10);
    add_timer("self", &period, Switcher::delete_self, reinterpret_cast<uintptr_t>(&sw), TIMER_MODE_PERIODIC);

    ASSERT_TRUE(wait_for([&] { return chain.runs == 5 && sw.spawned.runs() == 1 && sw.self.runs() == 1; }));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(chain.runs, 5);
    EXPECT_EQ(sw.target.runs(), 0);
    EXPECT_EQ(sw.spawned.runs(), 1);
    EXPECT_EQ(sw.self.runs(), 1);
}

TEST_F(TimerService, PeriodicTimerAddedAgainDoesNotOverlapItself) {
    // The old run ending must not let the new timer of the same name start
    // a second run beside its first.
    Probe &old_run = keep<Probe>();
    Probe &new_run = keep<Probe>();
    old_run.hold();
    new_run.hold();
    add("again", 10, old_run, TIMER_MODE_PERIODIC);
    ASSERT_TRUE(wait_for([&] { return old_run.running() == 1; }));
    del_timer(id_of("again"));
    add("again", 10, new_run, TIMER_MODE_PERIODIC);
    ASSERT_TRUE(wait_for([&] { return new_run.running() == 1; }));

    old_run.release();
    ASSERT_TRUE(wait_for([&] { return old_run.running() == 0; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(new_run.max_running(), 1);
    EXPECT_EQ(old_run.runs(), 1);
    del_timer(id_of("again"));
    new_run.release();
}

TEST_F(TimerService, ClearDropsEveryPendingTimerAndItsMemory) {
    unsigned bytes_before = 0;
    pal_alloc_resource_usage_get(&bytes_before, nullptr);

    Probe &busy = keep<Probe>();
    Probe &pending = keep<Probe>();
    busy.hold();
    add("busy", 0, busy);
    ASSERT_TRUE(wait_for([&] { return busy.running() == 1; }));
    char name[TIMER_NAME_LEN];
    for (int i = 0; i < 200; ++i) {
        std::snprintf(name, sizeof name, "pending%d", i);
        add(name, 5000 + i, pending, i % 2 ? TIMER_MODE_PERIODIC : TIMER_MODE_ONESHOT);
        if (i % 3 == 0) del_timer(id_of(name));
    }
    EXPECT_EQ(timer_clear(), 0);
    std::string text = dump();
    EXPECT_EQ(count_of(text, "  name: "), 0u) << text;
    EXPECT_EQ(count_of(text, "Timer busy is running at thread sysTimerSub_"), 1u) << text;

    // A handler already running finishes.
    busy.release();
    ASSERT_TRUE(wait_for([&] { return busy.runs() == 1; }));
    unsigned bytes_after = 0;
    pal_alloc_resource_usage_get(&bytes_after, nullptr);
    EXPECT_EQ(bytes_after, bytes_before);
    EXPECT_EQ(pending.runs(), 0);
}

}  // namespace
