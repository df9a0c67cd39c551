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

// Waits for `pid` and returns its exit status, or 128 + signal, or -1.
int wait_child(pid_t pid);

// Waits at most `timeout_ms`; kills the child and returns -1 when it is late.
int wait_child_for(pid_t pid, int timeout_ms);

}  // namespace pc::test
