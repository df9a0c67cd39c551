// Message queues over POSIX queues, with priority 0 the most urgent and
// time-outs in microseconds.
#include <fcntl.h>
#include <mqueue.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace {

// Set when pal_msgQ_init could not lift the per-user queue memory limit:
// that matters only once a queue cannot be made, and is said then.
std::atomic<bool> g_rlimit_kept{false};

constexpr unsigned kTopPriority = PAL_MSGQ_PRIORITY_NUM - 1;  // stored = 255 - given
constexpr mode_t kQueueMode = 0644;

int open_flags(unsigned flags) {
    if (flags & PAL_MSGQ_RDWR) return O_RDWR;
    if (flags & PAL_MSGQ_READ) return O_RDONLY;
    if (flags & PAL_MSGQ_WRITE) return O_WRONLY;
    return O_RDONLY;
}

// Absolute deadline for a non-infinite time-out; 0 gives the epoch (no wait).
timespec deadline_us(unsigned timeout_us) {
    timespec ts{};
    if (timeout_us != 0) pal_compute_timeout(&ts, timeout_us);
    return ts;
}

// A message hands whatever it points to from the sender's thread to the
// receiver's, through the kernel. ThreadSanitizer cannot see that hand-over,
// so tell it: every send happens before the receives that follow it.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
char g_queue_handover;
void note_send() { __tsan_release(&g_queue_handover); }
void note_receive() { __tsan_acquire(&g_queue_handover); }
#else
void note_send() {}
void note_receive() {}
#endif

// Says plainly why a queue could not be made and how to allow it.
void report_create_failure(const char *name, const mq_attr &attr, int err) {
    const unsigned depth = static_cast<unsigned>(attr.mq_maxmsg);
    const unsigned size = static_cast<unsigned>(attr.mq_msgsize);
    if (err == EMFILE) {
        rlimit rl{};
        getrlimit(RLIMIT_MSGQUEUE, &rl);
        std::printf(
            "message queue %s (%u items of %u bytes) not made: this user's POSIX message queue memory "
            "(RLIMIT_MSGQUEUE, %llu bytes, shared by every process of the user) is used up%s; raise it "
            "with 'ulimit -q' (or LimitMSGQUEUE= of the service), or stop other processes' queues\n",
            name, depth, size, static_cast<unsigned long long>(rl.rlim_cur),
            g_rlimit_kept.load() ? " (Set rlimit error.: this process may not raise it itself)" : "");
    } else if (err == EINVAL) {
        unsigned max_depth = 0;
        if (FILE *f = std::fopen("/proc/sys/fs/mqueue/msg_max", "r")) {
            if (std::fscanf(f, "%u", &max_depth) != 1) max_depth = 0;
            std::fclose(f);
        }
        std::printf(
            "message queue %s (%u items of %u bytes) not made: deeper than fs.mqueue.msg_max (%u) or "
            "longer items than fs.mqueue.msgsize_max allow; raise them with 'sysctl -w "
            "fs.mqueue.msg_max=%u' (per IPC namespace)\n",
            name, depth, size, max_depth, depth);
    } else {
        std::printf("message queue %s (%u items of %u bytes) not made: %s\n", name, depth, size,
                    std::strerror(err));
    }
    std::fflush(stdout);
}

}  // namespace

namespace pc::pal {

// The names of the queues this process created: the kernel charges their
// memory to the user until they are unlinked, also after the process ends.
std::mutex g_created_lock;
std::vector<std::string> *g_created = nullptr;  // guarded by g_created_lock; lives until exit

void remember_created_queue(const char *name) {
    std::lock_guard guard(g_created_lock);
    if (g_created == nullptr) g_created = new std::vector<std::string>();
    for (const std::string &n : *g_created)
        if (n == name) return;
    g_created->emplace_back(name);
}

std::vector<std::string> take_created_queues() {
    std::lock_guard guard(g_created_lock);
    std::vector<std::string> names;
    if (g_created != nullptr) names.swap(*g_created);
    return names;
}

}  // namespace pc::pal

extern "C" {

PC_API int pal_msgQ_init(void) {
    rlimit rl{};
    if (getrlimit(RLIMIT_MSGQUEUE, &rl) != 0) {
        PFM_ERR(MID_PAL, "Get rlimit error.");
        return -1;
    }
    rl.rlim_cur = RLIM_INFINITY;
    rl.rlim_max = RLIM_INFINITY;
    if (setrlimit(RLIMIT_MSGQUEUE, &rl) != 0) {
        g_rlimit_kept.store(true);
        return -1;
    }
    return 0;
}

PC_API int pal_msgQ_create(const char *name, unsigned maxMsg, unsigned msgSize, unsigned flags) {
    if (name == nullptr) return -1;
    pc::pal::remember_created_queue(name);
    mq_attr attr{};
    attr.mq_maxmsg = maxMsg ? maxMsg : PAL_MSGQ_DEFAULT_MAX_MSG;
    attr.mq_msgsize = msgSize ? msgSize : PAL_MSGQ_DEFAULT_MSG_SIZE;
    // Non-blocking mode is given at open: the same as switching it on right
    // after, with no window in which the queue blocks.
    int oflag = open_flags(flags) | O_CREAT | ((flags & PAL_MSGQ_NONBLOCK) ? O_NONBLOCK : 0);
    mqd_t q = mq_open(name, oflag, kQueueMode, &attr);
    if (q == static_cast<mqd_t>(-1)) {
        report_create_failure(name, attr, errno);
        return -1;
    }
    return static_cast<int>(q);
}

PC_API void pal_msgQ_close(int q) {
    if (q >= 0) mq_close(static_cast<mqd_t>(q));
}

PC_API void pal_msgQ_destroy(const char *name) {
    if (name != nullptr) mq_unlink(name);
}

PC_API void pal_msgQ_remove_created(void) {
    for (const std::string &name : pc::pal::take_created_queues()) mq_unlink(name.c_str());
}

PC_API int pal_msgQ_send(int q, const void *buf, unsigned len, unsigned priority, unsigned timeoutUs) {
    if (buf == nullptr || priority >= PAL_MSGQ_PRIORITY_NUM) return -1;
    unsigned stored = kTopPriority - priority;
    note_send();
    const char *data = static_cast<const char *>(buf);
    int rc;
    if (timeoutUs == PAL_WAIT_FOREVER) {
        rc = mq_send(static_cast<mqd_t>(q), data, len, stored);
    } else {
        timespec ts = deadline_us(timeoutUs);
        rc = mq_timedsend(static_cast<mqd_t>(q), data, len, stored, &ts);
    }
    return rc == 0 ? 0 : -1;
}

PC_API int pal_msgQ_receive(int q, void *buf, unsigned len, unsigned timeoutUs, unsigned *priority) {
    if (buf == nullptr || priority == nullptr) return -1;
    char *data = static_cast<char *>(buf);
    ssize_t n;
    if (timeoutUs == PAL_WAIT_FOREVER) {
        n = mq_receive(static_cast<mqd_t>(q), data, len, priority);
    } else {
        timespec ts = deadline_us(timeoutUs);
        n = mq_timedreceive(static_cast<mqd_t>(q), data, len, priority, &ts);
    }
    if (n < 0) return -1;
    note_receive();
    return static_cast<int>(n);
}

PC_API int pal_msgQ_getMaxMsgNum(int q) {
    mq_attr attr{};
    if (mq_getattr(static_cast<mqd_t>(q), &attr) != 0) return -1;
    return static_cast<int>(attr.mq_maxmsg);
}

PC_API int pal_msgQ_getMaxMsgSize(int q) {
    mq_attr attr{};
    if (mq_getattr(static_cast<mqd_t>(q), &attr) != 0) return -1;
    return static_cast<int>(attr.mq_msgsize);
}

}  // extern "C"
