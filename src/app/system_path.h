// System paths of the switch (/axbase/..., /etc/imgnum.conf, /dev/ttyS0).
// On the switch they are used as they stand; a host run may set
// PLATFORM_ROOT to keep them under a directory of its own.
#pragma once

#include <string>

namespace pc::app {

inline constexpr const char *kRootEnv = "PLATFORM_ROOT";

// `path` (absolute) below PLATFORM_ROOT when that is set and not empty.
std::string system_path(const char *path);

}  // namespace pc::app
