// The output of the request being served: what the pages send through the
// web relay (httpPageOut) and through the management interface's printer,
// kept for the request they name and bounded in size.
#pragma once

#include <cstddef>
#include <string>

#include "platform_core/axrpc.h"

namespace axwebd {

constexpr size_t kOutputMax = 4u * 1024u * 1024u;

void output_begin(int reqId);
// The request's output; `overflow` tells that some was dropped at the bound.
std::string output_end(int reqId, bool *overflow);

// Registers httpPageOut and the management interface's printer; 0 or -1.
int output_register();

}  // namespace axwebd
