// Files written by other processes, and waiting for what another process or
// thread does. A check of state that someone else changes (a log line, a
// registration, a counter) polls with a bound through wait_until: checked
// once, it races the other side.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace pc::test {

// The whole of `path`; empty when it cannot be read (not written yet).
std::string read_file(const std::string &path);

// Whether `path` holds `needle` now.
bool file_has(const std::string &path, const std::string &needle);

// Polls `done` every `step` until it holds or `limit` has passed; `done`
// is asked once more at the deadline. True when it held.
bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds limit,
                std::chrono::milliseconds step = std::chrono::milliseconds(10));

// Polls `path` until it holds `needle`, for at most `limit`.
bool wait_for_text(const std::string &path, const std::string &needle, std::chrono::milliseconds limit);

}  // namespace pc::test
