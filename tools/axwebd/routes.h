// What the web server answers at each path: a page run in the core
// through the management interface, or the operator's page itself.
#pragma once

#include <string_view>

namespace axwebd {

enum class PageKind {
    kJson,  // the core's JSON pages
    kText,  // printed text (the running configuration)
    kCgi,   // a page that writes its own CGI header lines
    kUi,    // the operator's page, served from here
};

struct Route {
    std::string_view path;
    const char *function;  // management function in the core; null for kUi
    PageKind kind;
};

// The route of `path`, or null.
const Route *find_route(std::string_view path);

// The operator's page (HTML, CSS and script in one document).
std::string_view ui_page();

}  // namespace axwebd
