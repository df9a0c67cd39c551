#include "routes.h"

#include <array>

#include "platform_core/web_pages.h"

namespace axwebd {

namespace {

constexpr std::array kRoutes = {
    Route{"/", nullptr, PageKind::kUi},
    Route{"/index.html", nullptr, PageKind::kUi},
    Route{"/api/ports", AXHTTP_PAGE_PORTS, PageKind::kJson},
    Route{"/api/cpu", AXHTTP_PAGE_CPU, PageKind::kJson},
    Route{"/api/flood", AXHTTP_PAGE_FLOOD, PageKind::kJson},
    Route{"/api/device", AXHTTP_PAGE_DEVICE, PageKind::kJson},
    Route{"/api/config", "imi_cli_axConfigShowRunCfg", PageKind::kText},
    Route{"/floodDefend.htm", "imi_http_FloodEntryPage", PageKind::kCgi},
};

}  // namespace

const Route *find_route(std::string_view path) {
    for (const Route &r : kRoutes)
        if (r.path == path) return &r;
    return nullptr;
}

}  // namespace axwebd
