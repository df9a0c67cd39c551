// Captures what the process writes to standard output during a scope.
#pragma once

#include <string>

namespace pc::test {

class CaptureStdout {
public:
    CaptureStdout();
    ~CaptureStdout();
    CaptureStdout(const CaptureStdout &) = delete;
    CaptureStdout &operator=(const CaptureStdout &) = delete;

    // Stops capturing (once) and returns everything written so far.
    std::string text();
    // What was written so far, capturing on: for polling what other threads
    // and child processes (which inherit the standard output) write.
    std::string so_far();

private:
    int saved_fd_ = -1;
    int file_fd_ = -1;
    std::string text_;
    bool done_ = false;
};

}  // namespace pc::test
