// The web glue: the memory pool, lists read through another mapping and
// from another process, the pool lock across processes, request variables,
// the expand pool and the relay functions.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/axhttp.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_sim/sim.h"
#include "support/capture_stdout.h"
#include "support/test_process.h"

std::atomic<int> g_is_master{1};
extern "C" int stkCurrentIsMaster(void) { return g_is_master.load(); }

namespace {

constexpr uint32_t kCtrl = sizeof(AXMEM_BLOCK_T);

// Pool memory with room to look past its end.
struct PoolMemory {
    alignas(8) unsigned char bytes[4096];
};

AXMEM_BLOCK_T *control_of(void *payload) {
    return reinterpret_cast<AXMEM_BLOCK_T *>(static_cast<char *>(payload) - kCtrl);
}

TEST(MemPool, creation_needs_room_for_one_block) {
    PoolMemory m;
    if (sizeof(void *) == 4) {
        EXPECT_EQ(AXMEMPOOL_MIN_SIZE, 44u);
        EXPECT_EQ(AXMEMPOOL_HEAD_SIZE, 20u) << "blocks start at the pool + 20";
    }
    EXPECT_NE(axmemPoolNew(m.bytes, AXMEMPOOL_MIN_SIZE), nullptr);
    EXPECT_EQ(axmemPoolNew(m.bytes, AXMEMPOOL_MIN_SIZE - 1), nullptr);
    EXPECT_EQ(axmemPoolNew(nullptr, 4096), nullptr);
}

TEST(MemPool, best_fit_takes_exact_blocks_whole_and_splits_larger_ones) {
    PoolMemory m;
    AXMEM_POOL_T *pool = axmemPoolNew(m.bytes, 1024);
    ASSERT_NE(pool, nullptr);
    const uint32_t all = axmemPoolAvail(pool, AXMEMPOOL_AVAIL_FREE);
    EXPECT_EQ(all, 1024 - AXMEMPOOL_HEAD_SIZE - 4 - kCtrl);

    // One byte from the large block: split, the rest starts one rounding
    // unit (4 bytes on the target) after the payload.
    void *one = axmemPoolAlloc(pool, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(control_of(one)->size, AXMEMPOOL_ALIGN);
    auto *rest = reinterpret_cast<AXMEM_BLOCK_T *>(static_cast<char *>(one) + AXMEMPOOL_ALIGN);
    EXPECT_EQ(rest->tag, AXMEMPOOL_TAG_FREE);
    EXPECT_EQ(rest->size, all - AXMEMPOOL_ALIGN - kCtrl);
    EXPECT_EQ(axmemPoolUsed(pool), AXMEMPOOL_ALIGN);

    // Holes of 64 and 32 bytes: a 32-byte request takes the 32-byte hole whole.
    void *a = axmemPoolAlloc(pool, 64), *b = axmemPoolAlloc(pool, 16), *c = axmemPoolAlloc(pool, 32),
         *d = axmemPoolAlloc(pool, 16);
    ASSERT_TRUE(a && b && c && d);
    ASSERT_EQ(axmemPoolFree(pool, a), 0);
    ASSERT_EQ(axmemPoolFree(pool, c), 0);
    void *exact = axmemPoolAlloc(pool, 32);
    EXPECT_EQ(exact, c);
    EXPECT_EQ(control_of(exact)->size, 32u);
    EXPECT_EQ(axmemPoolCheck(pool), 0);
    // Peak: the region less the least free payload (every control block counts).
    EXPECT_EQ(axmemPoolAvail(pool, AXMEMPOOL_AVAIL_PEAK), AXMEMPOOL_ALIGN + 64 + 16 + 32 + 16 + 6 * kCtrl);
    EXPECT_EQ(axmemPoolAvail(pool, 7), 0u);
}

TEST(MemPool, freeing_merges_with_free_neighbours_and_refuses_double_free) {
    PoolMemory m;
    AXMEM_POOL_T *pool = axmemPoolNew(m.bytes, 1024);
    ASSERT_NE(pool, nullptr);
    void *a = axmemPoolAlloc(pool, 40), *b = axmemPoolAlloc(pool, 40), *c = axmemPoolAlloc(pool, 40);
    void *guard = axmemPoolAlloc(pool, 8);
    ASSERT_TRUE(a && b && c && guard);
    const uint32_t tail = axmemPoolAvail(pool, AXMEMPOOL_AVAIL_LARGEST);
    ASSERT_EQ(axmemPoolFree(pool, a), 0);
    ASSERT_EQ(axmemPoolFree(pool, c), 0);
    ASSERT_EQ(axmemPoolFree(pool, b), 0);
    EXPECT_EQ(control_of(a)->size, 3 * 40 + 2 * kCtrl) << "one block over all three";
    EXPECT_EQ(axmemPoolAvail(pool, AXMEMPOOL_AVAIL_FREE), tail + 3 * 40 + 2 * kCtrl);

    pc::test::CaptureStdout out;
    EXPECT_EQ(axmemPoolFree(pool, a), -1);
    EXPECT_EQ(axmemPoolFree(pool, static_cast<char *>(guard) + 4), -1);
    EXPECT_EQ(axmemPoolFree(pool, m.bytes + 2048), -1);
    std::string text = out.text();
    EXPECT_NE(text.find("memPoolFree: invalid or already freed!"), std::string::npos) << text;
    EXPECT_NE(text.find("memPoolFree: block not found!"), std::string::npos) << text;
    EXPECT_NE(text.find("memPoolFree: can't find memory"), std::string::npos) << text;
    EXPECT_EQ(axmemPoolUsed(pool), 8u);
}

TEST(MemPool, overrun_and_damaged_blocks_are_detected) {
    PoolMemory m;
    AXMEM_POOL_T *pool = axmemPoolNew(m.bytes, 256);
    ASSERT_NE(pool, nullptr);
    void *p = axmemPoolAlloc(pool, axmemPoolAvail(pool, AXMEMPOOL_AVAIL_LARGEST));
    ASSERT_NE(p, nullptr);
    pc::test::CaptureStdout out;
    std::memset(p, 0x55, control_of(p)->size + 1);  // one byte into the delimiter
    EXPECT_EQ(axmemPoolCheck(pool), -1);
    EXPECT_EQ(axmemPoolAlloc(pool, 4), nullptr);
    EXPECT_NE(out.text().find("memPoolCheck: end-of-pool overrun!"), std::string::npos);

    pool = axmemPoolNew(m.bytes, 256);
    p = axmemPoolAlloc(pool, 16);
    control_of(p)->tag = 0x12345678;
    EXPECT_EQ(axmemPoolCheck(pool), -1);
    EXPECT_EQ(axmemPoolFree(pool, p), -1);
}

// A shared segment mapped twice.
struct Segment {
    int id = shmget(IPC_PRIVATE, 65536, IPC_CREAT | 0600);
    char *a = static_cast<char *>(shmat(id, nullptr, 0));
    ~Segment() {
        shmdt(a);
        shmctl(id, IPC_RMID, nullptr);
    }
};

int list_func(void *, void *) { return 5; }

TEST(GenList, items_are_found_removed_and_their_slots_reused) {
    PoolMemory m;
    AXMEM_POOL_T *pool = axmemPoolNew(m.bytes, sizeof m.bytes);
    AXHTTP_GEN_LIST_T *list = axhttpGenListCreate(pool, 2);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(axhttpGenListCreate(pool, 0), nullptr);
    EXPECT_EQ(axhttpGenListCreate(pool, 65536), nullptr);
    auto text = [&](const char *t) {
        auto *p = static_cast<char *>(axmemPoolAlloc(pool, static_cast<unsigned>(std::strlen(t) + 1)));
        std::strcpy(p, t);
        return p;
    };
    ASSERT_EQ(axhttpGenListFuncAppend(list, text("Func"), list_func), 0);
    ASSERT_EQ(axhttpGenListDataAppend(list, text("data"), text("v")), 0);
    EXPECT_EQ(axhttpGenListDataAppend(list, text("full"), text("x")), -1) << "capacity 2";
    EXPECT_EQ(axhttpGenListFind(list, "func"), nullptr) << "exact name";
    AXHTTP_GEN_ITEM_T *f = axhttpGenListCaseFind(list, "func");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(axhttpGenListItemFunc(f)(nullptr, nullptr), 5);
    EXPECT_EQ(axhttpGenListRemove(list, f), 0);
    EXPECT_EQ(axhttpGenListRemove(list, f), -1);
    EXPECT_EQ(axhttpGenListCount(list), 1u);
    ASSERT_EQ(axhttpGenListDataAppend(list, text("again"), text("w")), 0) << "the freed slot is used again";
    EXPECT_STREQ(axhttpGenListItemName(list, axhttpGenListIndexIterator(list, 1)), "again");
    EXPECT_EQ(axhttpGenListPool(list), pool);
    EXPECT_EQ(axhttpGenListDestroy(list), 0);
    EXPECT_EQ(axmemPoolDelete(pool), 0);
    EXPECT_EQ(axmemPoolUsed(pool), 0u);
    EXPECT_EQ(axmemPoolAvail(pool, AXMEMPOOL_AVAIL_FREE), sizeof m.bytes - AXMEMPOOL_HEAD_SIZE - 4 - kCtrl);
}

TEST(GenList, another_process_reads_and_extends_the_list_at_its_own_address) {
    Segment seg;
    ASSERT_NE(seg.a, reinterpret_cast<char *>(-1));
    AXMEM_POOL_T *pool = axmemPoolNew(seg.a + 64, 60000);
    ASSERT_NE(pool, nullptr);
    AXHTTP_GEN_LIST_T *list = axhttpGenListCreate(pool, 8);
    ASSERT_NE(list, nullptr);
    pubMemPool = pool;
    pubGenList = list;
    ASSERT_EQ(httpSetEnvLib(nullptr, "b", "2"), 0);
    ASSERT_EQ(httpSetEnvLib(nullptr, "a", "1"), 0);
    ASSERT_EQ(httpSetEnvLib(nullptr, "A", "9"), 0);  // readers ignore case: this replaces too
    ASSERT_EQ(httpSetEnvLib(nullptr, "a", "3"), 0);  // and so does this, the last set wins
    EXPECT_EQ(axhttpGenListCount(list), 2u);
    const size_t listOffset = static_cast<size_t>(reinterpret_cast<char *>(list) - seg.a);

    pid_t child = pc::test::fork_child([&]() -> int {
        char *b = static_cast<char *>(shmat(seg.id, nullptr, 0));
        if (b == reinterpret_cast<char *>(-1) || b == seg.a) return 10;
        auto *l = reinterpret_cast<AXHTTP_GEN_LIST_T *>(b + listOffset);
        const char *v = httpGetEnvLib(l, "A");
        if (v == nullptr || std::strcmp(v, "3") != 0) return 11;
        AXHTTP_GEN_ITEM_T *first = axhttpGenListIterator(l, nullptr);
        AXHTTP_GEN_ITEM_T *second = axhttpGenListIterator(l, first);
        if (!first || !second || std::strcmp(axhttpGenListItemName(l, first), "b") != 0 ||
            std::strcmp(axhttpGenListItemName(l, second), "a") != 0 ||
            axhttpGenListIterator(l, second) != nullptr)
            return 12;
        if (axhttpGenListIndexIterator(l, 1) != second) return 13;
        AXMEM_POOL_T *p = axhttpGenListPool(l);
        if (reinterpret_cast<char *>(p) != b + 64 || axmemPoolCheck(p) != 0) return 14;
        auto *name = static_cast<char *>(axmemPoolAlloc(p, 6));
        auto *value = static_cast<char *>(axmemPoolAlloc(p, 4));
        if (!name || !value) return 15;
        std::strcpy(name, "child");
        std::strcpy(value, "yes");
        axhttpGenListLock(l);
        int rc = axhttpGenListDataAppend(l, name, value);
        axhttpGenListUnlock(l);
        return rc == 0 ? 0 : 16;
    });
    ASSERT_EQ(pc::test::wait_child_for(child, 30000), 0);
    const char *v = httpGetEnvLib(list, "child");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "yes");
    EXPECT_EQ(axmemPoolCheck(pool), 0);
    EXPECT_EQ(axhttpGenListCount(list), 3u);
    pubMemPool = nullptr;
    pubGenList = nullptr;
}

TEST(GenList, pool_lock_keeps_processes_apart_and_survives_a_dead_holder) {
    Segment seg;
    AXMEM_POOL_T *pool = axmemPoolNew(seg.a + 64, 4096);
    ASSERT_NE(pool, nullptr);
    auto *released = reinterpret_cast<std::atomic<int> *>(seg.a);
    released->store(0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = pc::test::fork_child([&]() -> int {
        axmemPoolLock(pool);
        char c = 'L';
        if (write(ready[1], &c, 1) != 1) return 1;
        usleep(300 * 1000);
        released->store(1);
        axmemPoolUnlock(pool);
        return 0;
    });
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_NE(axmemPoolAlloc(pool, 8), nullptr);
    EXPECT_EQ(released->load(), 1) << "the allocation waited for the other process";
    EXPECT_EQ(pc::test::wait_child(holder), 0);

    pid_t dies = pc::test::fork_child([&]() -> int {
        axmemPoolLock(pool);
        return 0;  // ends holding the lock
    });
    EXPECT_EQ(pc::test::wait_child(dies), 0);
    EXPECT_NE(axmemPoolAlloc(pool, 8), nullptr) << "a dead holder's lock is taken over";
    close(ready[0]);
    close(ready[1]);
}

// A holder that died but is not reaped yet (a zombie, as under a
// single-threaded server that reaps its page handlers later) is dead too.
TEST(GenList, pool_lock_of_a_dead_unreaped_holder_is_taken_over) {
    Segment seg;
    AXMEM_POOL_T *pool = axmemPoolNew(seg.a + 64, 4096);
    ASSERT_NE(pool, nullptr);
    pid_t dies = pc::test::fork_child([&]() -> int {
        axmemPoolLock(pool);
        return 0;  // ends holding the lock
    });
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(dies), &info, WEXITED | WNOWAIT), 0) << "left a zombie";
    auto taken = std::async(std::launch::async, [&] { return axmemPoolAlloc(pool, 8); });
    bool in_time = taken.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(in_time) << "the lock of a zombie holder was not taken over";
    EXPECT_EQ(pc::test::wait_child(dies), 0);  // reaping it lets a stuck waiter go
    EXPECT_NE(taken.get(), nullptr);
}

int echo_page(AXRPC_PARA_T *in, AXRPC_PARA_T *) {
    int n = 0;
    axrpcGetInt(in, "n", &n);
    return n * 2;
}

class WebRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        simProcessSetPid(PID_CORE);
        ASSERT_EQ(axshm_init(), 0);
        ASSERT_EQ(axrpcHashInit(), 0);
        // A 4-byte block first, as in the core (the print direction): the
        // web blocks need not start 8-byte aligned.
        ASSERT_EQ(axshm_reg_data("web_test_pad", 4), 0);
        ASSERT_EQ(httpSHMInit(), 0);
        ASSERT_EQ(httpParseInit(), 0);
        ASSERT_EQ(axrpcRegisterFunc("echo_page", echo_page), 0);
    }
    void SetUp() override {
        g_is_master = 1;
        ASSERT_EQ(httpParsePoolGlobalInit(1, 0), 0);
    }
};

TEST_F(WebRequest, query_arguments_are_split_and_unescaped) {
    ASSERT_EQ(httpParseArgsLib(nullptr, "a=1&&b=%41+c&=skipped&z=%00x&e"), 0);
    EXPECT_STREQ(axHttpGetEnv(nullptr, "a"), "1");
    EXPECT_STREQ(axHttpGetEnv(nullptr, "B"), "A c");
    EXPECT_STREQ(axHttpGetEnv(nullptr, "z"), "%00x");
    EXPECT_STREQ(axHttpGetEnv(nullptr, "e"), "");
    EXPECT_EQ(axhttpGenListCount(axHttpArgListGet()), 4u);
}

TEST_F(WebRequest, integer_variables_respect_their_range) {
    ASSERT_EQ(httpParseArgsLib(nullptr, "eleven=11&five=5&seven=%207&empty=&word=abc"), 0);
    struct {
        const char *name;
        int min, max, want;
    } const kCases[] = {
        {"eleven", 1, 10, HTTP_ENV_INT_ERR},  {"five", 5, 5, 5},
        {"five", 4, 4, HTTP_ENV_INT_ERR},     {"seven", 1, 10, 7},
        {"eleven", 0, 0, HTTP_ENV_INT_ERR},   {"eleven", 10, 1, HTTP_ENV_INT_ERR},
        {"missing", 1, 10, HTTP_ENV_INT_ERR}, {"empty", 0, 9, HTTP_ENV_INT_ERR},
        {"word", 0, 9, HTTP_ENV_INT_ERR},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(getEnvToInt(nullptr, c.name, c.min, c.max), c.want)
            << c.name << " " << c.min << ".." << c.max;
}

TEST_F(WebRequest, a_full_global_pool_is_reported) {
    const std::string big(4000, 'v');
    int failures = 0;
    for (int i = 0; i < 20; ++i)
        if (httpSetEnvLib(nullptr, ("k" + std::to_string(i)).c_str(), big.c_str()) != 0) ++failures;
    EXPECT_GT(failures, 0);
    EXPECT_EQ(axmemPoolCheck(pubMemPool), 0);
}

TEST_F(WebRequest, expand_pool_belongs_to_one_request_at_a_time) {
    ASSERT_EQ(httpParsePoolGlobalInit(7, 0), 0);
    ASSERT_EQ(httpParseMalloc(7, 9), 0);
    EXPECT_EQ(httpParseMalloc(8, 8), -1) << "owned by request 7";
    EXPECT_EQ(httpParsePoolUsed(7, 0), 1);
    EXPECT_EQ(httpParsePoolUsed(0, 9), 1);
    EXPECT_EQ(httpParsePoolUsed(8, 8), 0);
    ASSERT_NE(httpParseUrlBuffer(), nullptr);
    ASSERT_EQ(httpParsePoolGenListCreate(7), 0);
    ASSERT_EQ(httpSysEnvConfig(), 0);
    ASSERT_EQ(httpSetEnvLib(nullptr, "big", "yes"), 0);
    EXPECT_STREQ(axHttpGetEnv(nullptr, "big"), "yes");
    EXPECT_EQ(httpParsePoolFree(8, 8), -1);
    EXPECT_EQ(httpParsePoolFree(7, 0), 0);
    EXPECT_EQ(httpParsePoolUsed(7, 9), 0);
    EXPECT_EQ(axHttpGetEnv(nullptr, "big"), nullptr) << "back on the global list";
}

TEST_F(WebRequest, relay_runs_named_functions_and_rebuilds_the_request_on_a_slave) {
    AXRPC_PARA_T in, out;
    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axrpcAddStringPtr(&in, "httpclientpProcName", "echo_page");
    axrpcAddInt(&in, "n", 21);
    axhttpClientManageFunc(&in, &out);
    int ret = 0;
    EXPECT_EQ(axrpcGetInt(&out, "ret", &ret), 0);
    EXPECT_EQ(ret, 42);
    axrpcParaFree(&in);
    axrpcParaFree(&out);

    axrpcParaInit(&in);
    axrpcParaInit(&out);
    axhttpClientManageFunc(&in, &out);
    EXPECT_EQ(axrpcGetInt(&out, "httpclientServRet", &ret), 0);
    EXPECT_EQ(ret, 1);
    axrpcParaFree(&in);
    axrpcParaFree(&out);

    // What the master sends when the web server executes a request.
    ASSERT_EQ(httpParseArgsLib(nullptr, "x=1&y=two"), 0);
    ASSERT_EQ(httpSetEnvLib(nullptr, "QUERY_STRING", "x=1&y=two"), 0);
    ASSERT_EQ(httpSetEnvLib(nullptr, "REMOTE_ADDR", "10.1.1.9"), 0);
    axrpcParaInit(&in);
    ASSERT_EQ(axHttpExecute(PID_HTTPD, 0, 3, &in), 0);
    EXPECT_EQ(axHttpExecute(PID_HTTPD, 0, 3, nullptr), -1);

    g_is_master = 0;
    ASSERT_EQ(httpParsePoolGlobalInit(0, 0), 0);  // the slave knows nothing yet
    axrpcParaInit(&out);
    axhttpServerManageFunc(&in, &out);
    EXPECT_EQ(axrpcGetInt(&out, "httpserverServRet", &ret), 0);
    EXPECT_EQ(ret, 0);
    EXPECT_STREQ(axHttpGetEnv(nullptr, "y"), "two");
    EXPECT_STREQ(axHttpGetEnv(nullptr, "REMOTE_ADDR"), "10.1.1.9");
    EXPECT_EQ(axHttpPrintf(0, &in), 0) << "a slave prints nothing";
    axrpcParaFree(&in);
    axrpcParaFree(&out);
}

}  // namespace
