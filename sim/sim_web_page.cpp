// The web library's page pieces. The real library streams the pages from
// the web file system; here a page is named by a server-side include line,
// so that a test can see which page was answered.
#include "platform_core/sibling.h"

extern "C" {

int httpUso_StatusSet(HTTPUSO_OUT_FN out, void *ctx, int status) {
    if (out == nullptr) return -1;
    out(ctx, status == 0 ? "Status: 200 OK\r\n" : "Status: 500 Internal Server Error\r\n");
    return 0;
}

int httpUso_HeaderGenerate(HTTPUSO_OUT_FN out, void *ctx) {
    if (out == nullptr) return -1;
    out(ctx, "Content-Type: text/html\r\n\r\n");
    return 0;
}

int httpUso_error(HTTPUSO_OUT_FN out, void *ctx, int errCode) {
    if (out == nullptr) return -1;
    // 0 is success and -1 a request that asked for nothing: no message.
    out(ctx, "var errorText = \"%s\";\n", errCode == 0 || errCode == -1 ? "" : cliUso_error(errCode));
    return 0;
}

int httpUso_WebV4Head(HTTPUSO_OUT_FN out, void *ctx, int, int) {
    if (out == nullptr) return -1;
    out(ctx, "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head>\n");
    return 0;
}

int httpUso_PageFsA(HTTPUSO_OUT_FN out, void *ctx, const char *page) {
    if (out == nullptr || page == nullptr) return -1;
    out(ctx, "<!--#include virtual=\"%s\" -->\n", page);
    return 0;
}

}  // extern "C"
