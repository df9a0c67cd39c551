#include "support/test_files.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace pc::test {

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_has(const std::string &path, const std::string &needle) {
    return read_file(path).find(needle) != std::string::npos;
}

bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds limit,
                std::chrono::milliseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(step);
    }
    return done();
}

bool wait_for_text(const std::string &path, const std::string &needle, std::chrono::milliseconds limit) {
    return wait_until([&] { return file_has(path, needle); }, limit, std::chrono::milliseconds(20));
}

}  // namespace pc::test
