#include "app/system_path.h"

#include <cstdlib>

namespace pc::app {

std::string system_path(const char *path) {
    const char *root = std::getenv(kRootEnv);
    if (root == nullptr || *root == '\0') return path;
    return std::string(root) + path;
}

}  // namespace pc::app
