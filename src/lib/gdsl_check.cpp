#include "lib/gdsl_check.h"

#include <cstdio>

namespace pc::gdsl {

void warn_check_failed(const char *function, int line, const char *condition) {
    std::printf("%s:%d Warning: %s failed.\n", function, line, condition);
}

}  // namespace pc::gdsl
