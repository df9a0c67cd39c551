// Real child processes for multi-process tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pc::test {

// Forks; the child runs `body` and exits with its result. Returns the pid.
pid_t fork_child(const std::function<int()> &body);

// Starts tests/helpers program `name` with `args`; returns the pid.
pid_t spawn_helper(const std::string &name, const std::vector<std::string> &args,
                   const std::vector<std::string> &env = {});

// Starts tests/helpers program `name` with its standard output in `log` and
// waits (a minute at most) until `log` holds `ready`. A helper short of RPC
// message queues (a per-user kernel budget shared by every program on the
// machine) ends with 75 and is started again. Returns the pid, or -1 when
// the helper failed otherwise or never got ready.
pid_t start_helper_until_ready(const std::string &name, const std::vector<std::string> &args,
                               const std::string &log, const std::string &ready);

// Starts the program at `path` (one of this build's programs) with `args`
// and the extra `env` entries ("NAME=value"); its standard output goes to
// `stdout_path` when that is not empty. In a cross build the program is
// started through the emulator, as the kernel cannot run it itself: start
// the build's programs through this, never by exec directly.
pid_t spawn_program(const std::string &path, const std::vector<std::string> &args,
                    const std::vector<std::string> &env = {}, const std::string &stdout_path = {});

// For a test that needs its process fresh (a table that is never emptied,
// state a process sets up once): true when this process runs this test
// alone, as CTest runs each test. In a run of several tests it runs the
// current test again, alone, in a new copy of this program, fails the test
// when the copy fails, and answers false: the caller then returns.
bool runs_alone();

// Waits for `pid` and returns its exit status, or 128 + signal, or -1.
int wait_child(pid_t pid);

// Waits at most `timeout_ms`; kills the child and returns -1 when it is late.
int wait_child_for(pid_t pid, int timeout_ms);

}  // namespace pc::test
