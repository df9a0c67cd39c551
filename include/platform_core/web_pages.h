/*
 * The core's web pages: management functions (run through the management
 * interface by the web server process, 5) that read the request's
 * variables from the shared request pools and answer JSON through the web
 * relay (axHttpPrintf to the web server's page-output function).
 *
 * The web server sets AXHTTP_REQ_ID_VAR among the request's variables; a
 * page sends its output with httpPageWrite, which names the request, so
 * output of a request the server has given up on is dropped there.
 */
#ifndef PLATFORM_CORE_WEB_PAGES_H
#define PLATFORM_CORE_WEB_PAGES_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* RPC function of the web server process that takes a page's output, and
 * its parameters. */
#define AXHTTP_PAGE_OUT_FUNC "httpPageOut"
#define AXHTTP_CLIENT_PROC_NAME "httpclientpProcName"
#define AXHTTP_PAGE_TEXT "httpPageText"
#define AXHTTP_PAGE_REQ_ID "httpPageReqId"
/* The request variable that carries the web server's request id. */
#define AXHTTP_REQ_ID_VAR "HTTP_REQUEST_ID"

/* Management functions of the core's pages (JSON). */
#define AXHTTP_PAGE_PORTS "imi_http_PortsJson"
#define AXHTTP_PAGE_CPU "imi_http_CpuTrafficJson"
#define AXHTTP_PAGE_FLOOD "imi_http_FloodJson"
#define AXHTTP_PAGE_DEVICE "imi_http_DeviceJson"

/* Sends `text` as the current request's output; 0 or -1. */
PC_API int httpPageWrite(const char *text);
/* Registers the pages above (where the build has JSON); 0 or -1. */
PC_API int httpCorePagesRegister(void);

PC_END_DECLS

#endif
