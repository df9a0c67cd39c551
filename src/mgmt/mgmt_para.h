// Checked reads of RPC parameters that came from another process: a text
// is returned only when its NUL lies inside the parameter, a block only
// with its length.
#pragma once

#include <cstddef>

#include "platform_core/axrpc.h"

namespace pc::mgmt {

// The text of data parameter `name`, or null when it is absent or not
// terminated inside its length.
const char *para_text(const AXRPC_PARA_T *para, const char *name);
// The text of pointer parameter `name`, checked the same way.
const char *para_ptr_text(const AXRPC_PARA_T *para, const char *name);
// The bytes of data parameter `name` (inside the set), or false.
bool para_bytes(const AXRPC_PARA_T *para, const char *name, const char **data, size_t *len);
// The bytes of data parameter `name` when it holds exactly `size` bytes.
bool para_exact(const AXRPC_PARA_T *para, const char *name, void *out, int size);

}  // namespace pc::mgmt
