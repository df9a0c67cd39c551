// The core's web pages, each a management function (see web_pages.h).
#pragma once

#include "platform_core/aximi.h"

namespace pc::mgmt::web {

int ports_page(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out);
int device_page(AXIMI_CTX_T *ctx, AXRPC_PARA_T *args, AXRPC_PARA_T *out);
// Start of the platform, for the uptime.
void mark_start();

}  // namespace pc::mgmt::web
