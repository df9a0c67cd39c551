// Process semaphores: named System V semaphores that unrelated processes
// open by name. Each name has a key file under /tmp/proc_sync; the key is
// ftok(file, 42). No SEM_UNDO: a unit taken by a dying process stays taken.
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform_core/pal.h"

struct pal_proc_sem_s {
    int semid = -1;
    char *name = nullptr;  // owned copy (malloc)
};

namespace {

constexpr int kFtokProject = 42;
constexpr size_t kPathLen = 256;
constexpr mode_t kDirMode = 0777;
constexpr mode_t kFileMode = 0777;
constexpr int kSemPerms = 0777;
constexpr unsigned kFirstStepMs = 1;
constexpr unsigned kMaxStepMs = 100000;

union semun_arg {
    int val;
    semid_ds *buf;
    unsigned short *array;
};

bool name_ok(const char *name) {
    if (name == nullptr || *name == '\0') return false;
    for (const char *p = name; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

// Builds the key file path; false when it does not fit.
bool key_path(const char *name, char (&path)[kPathLen]) {
    int n = snprintf(path, sizeof path, PAL_PROC_SEM_DIR "/%s", name);
    return n > 0 && static_cast<size_t>(n) < sizeof path;
}

pal_proc_sem_s *new_handle(const char *name) {
    auto *h = new (std::nothrow) pal_proc_sem_s;
    if (h == nullptr) return nullptr;
    h->name = strdup(name);
    if (h->name == nullptr) {
        delete h;
        return nullptr;
    }
    return h;
}

void free_handle(pal_proc_sem_s *h) {
    std::free(h->name);
    delete h;
}

int sem_op(int semid, short op, short flags) {
    sembuf b{};
    b.sem_num = 0;
    b.sem_op = op;
    b.sem_flg = flags;
    return semop(semid, &b, 1);
}

}  // namespace

extern "C" {

PC_API pal_proc_sem_t pal_proc_sem_create(const char *name, int initial) {
    if (!name_ok(name) || initial < 0) return nullptr;
    char path[kPathLen];
    if (!key_path(name, path)) return nullptr;
    pal_proc_sem_s *h = new_handle(name);
    if (h == nullptr) return nullptr;
    if (access(path, F_OK) != 0) {
        if (mkdir(PAL_PROC_SEM_DIR, kDirMode) != 0 && errno != EEXIST) {
            free_handle(h);
            return nullptr;
        }
        int fd = open(path, O_CREAT | O_WRONLY, kFileMode);
        if (fd < 0) {
            free_handle(h);
            return nullptr;
        }
        close(fd);
    }
    key_t key = ftok(path, kFtokProject);
    int semid = key == -1 ? -1 : semget(key, 1, IPC_CREAT | kSemPerms);
    semun_arg arg{};
    arg.val = initial;
    if (semid < 0 || semctl(semid, 0, SETVAL, arg) != 0) {
        free_handle(h);
        return nullptr;
    }
    h->semid = semid;
    return h;
}

PC_API pal_proc_sem_t pal_proc_sem_open(const char *name) {
    if (!name_ok(name)) return nullptr;
    char path[kPathLen];
    if (!key_path(name, path) || access(path, F_OK) != 0) return nullptr;
    pal_proc_sem_s *h = new_handle(name);
    if (h == nullptr) return nullptr;
    key_t key = ftok(path, kFtokProject);
    int semid = key == -1 ? -1 : semget(key, 1, IPC_CREAT | kSemPerms);
    if (semid < 0) {
        free_handle(h);
        return nullptr;
    }
    h->semid = semid;
    return h;
}

PC_API int pal_proc_sem_give(pal_proc_sem_t h) {
    if (h == nullptr) return -1;
    return sem_op(h->semid, 1, IPC_NOWAIT) == 0 ? 0 : -1;
}

PC_API int pal_proc_sem_take(pal_proc_sem_t h, int timeoutMs) {
    if (h == nullptr) return -1;
    if (timeoutMs == -1) {
        for (;;) {
            if (sem_op(h->semid, -1, 0) == 0) return 0;
            if (errno != EINTR && errno != EAGAIN) return -1;
        }
    }
    if (timeoutMs == 0) return sem_op(h->semid, -1, IPC_NOWAIT) == 0 ? 0 : -1;
    if (timeoutMs < 0) return -1;
    // Poll with a doubling back-off until the time runs out.
    unsigned remaining = static_cast<unsigned>(timeoutMs);
    unsigned step = kFirstStepMs;
    for (;;) {
        if (sem_op(h->semid, -1, IPC_NOWAIT) == 0) return 0;
        if (errno != EAGAIN) return -1;
        unsigned nap = std::min(step, remaining);
        pal_usleep(nap * 1000);
        remaining -= nap;
        step = std::min(step * 2, kMaxStepMs);
        if (remaining == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

PC_API int pal_proc_sem_close(pal_proc_sem_t h) {
    if (h == nullptr) return -1;
    free_handle(h);
    return 0;
}

PC_API int pal_proc_sem_destroy(pal_proc_sem_t h) {
    if (h == nullptr) return -1;
    int semid = h->semid;
    free_handle(h);
    if (semid < 0) return -1;
    return semctl(semid, 0, IPC_RMID) == 0 ? 0 : -1;
}

}  // extern "C"
