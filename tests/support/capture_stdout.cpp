#include "support/capture_stdout.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace pc::test {

CaptureStdout::CaptureStdout() {
    fflush(stdout);
    char path[] = "/tmp/pc_capture_XXXXXX";
    file_fd_ = mkstemp(path);
    if (file_fd_ < 0) return;
    unlink(path);
    saved_fd_ = dup(STDOUT_FILENO);
    dup2(file_fd_, STDOUT_FILENO);
}

CaptureStdout::~CaptureStdout() { text(); }

std::string CaptureStdout::text() {
    if (done_ || file_fd_ < 0) return text_;
    done_ = true;
    fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    lseek(file_fd_, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(file_fd_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<size_t>(n));
    close(file_fd_);
    return text_;
}

std::string CaptureStdout::so_far() {
    if (done_ || file_fd_ < 0) return text_;
    fflush(stdout);
    std::string text;
    char buf[4096];
    off_t at = 0;
    ssize_t n;
    while ((n = pread(file_fd_, buf, sizeof buf, at)) > 0) {
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

}  // namespace pc::test
