// Argument checks of the container family.
//
// A failed check prints "<function>:<line> Warning: <condition> failed." to
// standard output with plain printf (independent of the debug switches) and
// returns the operation's "invalid" answer. The condition text is the
// checked expression as written, so the checks name their arguments the way
// the message reads (thiz, data, cmp, ...).
#pragma once

namespace pc::gdsl {

void warn_check_failed(const char *function, int line, const char *condition);

}  // namespace pc::gdsl

#define GDSL_WARN(text) ::pc::gdsl::warn_check_failed(__func__, __LINE__, text)

#define GDSL_CHECK(cond, answer) \
    do {                         \
        if (!(cond)) {           \
            GDSL_WARN(#cond);    \
            return answer;       \
        }                        \
    } while (0)

#define GDSL_CHECK_VOID(cond) \
    do {                      \
        if (!(cond)) {        \
            GDSL_WARN(#cond); \
            return;           \
        }                     \
    } while (0)
