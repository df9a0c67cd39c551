// The CLI library's error messages for the feature error codes that the
// platform's own commands can meet.
#include <cstdio>

#include "platform_core/sibling.h"

namespace {

struct ErrorText {
    int code;
    const char *text;
};

constexpr ErrorText kErrorTexts[] = {
    {5801, "The flood defence's destination port ranges are full (at most 64)."},
};

}  // namespace

extern "C" const char *cliUso_error(int errCode) {
    for (const ErrorText &e : kErrorTexts)
        if (e.code == errCode) return e.text;
    thread_local char other[48];
    std::snprintf(other, sizeof other, "Error %d.", errCode);
    return other;
}
