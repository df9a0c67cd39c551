// Fuzzes the flood defence's range command text, which a user-interface
// process sends ("start-end"): nothing may crash or read past the text, and
// a text the command takes must name a range within 0..65535 whose end is
// not before its start.
//
// Input: byte 0 picks add or delete, the rest is the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform_core/axpacket.h"

namespace {

int ignore(void *, const char *, ...) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const int op = data[0] & 1;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text = text.c_str();  // up to the first NUL, as the parameter carries it
    int rc = tcpUdpFloodDefendDportCommand(op, text.c_str(), ignore, nullptr);
    long start = 0, end = 0;
    char tail = 0;
    const bool valid = std::sscanf(text.c_str(), "%ld-%ld%c", &start, &end, &tail) == 2 && start >= 0 &&
                       end >= start && end <= 65535;
    // The service is not running here: a valid text reaches the table and
    // fails there (-1) like an invalid one, but is never printed as refused.
    if (!valid && rc != -1) std::abort();
    return 0;
}
