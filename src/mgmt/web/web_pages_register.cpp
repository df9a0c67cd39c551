// Registration of the core's own web pages (the packet service registers
// its pages itself).
#include "mgmt/http_state.h"
#include "mgmt/web/web_pages_internal.h"
#include "platform_core/web_pages.h"

extern "C" {

PC_API int httpCorePagesRegister(void) {
#ifdef PC_HAVE_JSONC
    using namespace pc::mgmt::web;
    mark_start();
    int rc = axImiRegisterFunc(AXHTTP_PAGE_PORTS, ports_page, IMI_EXEC_MASTER_ONLY);
    if (rc == 0) rc = axImiRegisterFunc(AXHTTP_PAGE_DEVICE, device_page, IMI_EXEC_MASTER_ONLY);
    if (rc != 0)
        PFM_CALL_FAILED(pc::mgmt::http::kMid, rc, "axImiRegisterFunc(AXHTTP_PAGE_PORTS/AXHTTP_PAGE_DEVICE)");
    return rc;
#else
    return 0;  // the pages answer JSON, which this build cannot make
#endif
}

}  // extern "C"
