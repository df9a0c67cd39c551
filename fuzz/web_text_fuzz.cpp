// Fuzzes what the web pages send: the port-text conversions (with output
// buffers exactly as large as their header promises is enough) and XML
// text through the XML layer. Nothing may crash or write out of bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform_core/web_port_text.h"
#include "platform_core/xml_util.h"

namespace {

void conversions(const std::string &text) {
    const size_t n = text.size();
    std::vector<char> out(3 * n + 5);
    web_change_portStr_to_jsonStr(text.c_str(), out.data());
    if (std::strlen(out.data()) >= out.size()) std::abort();
    std::vector<char> back(n + 1);
    web_change_jsonStr_to_portStr(text.c_str(), back.data());
    std::vector<char> wrapped(n + 3);
    web_string_to_array(text.c_str(), wrapped.data());
    web_edit_respond_string(text.c_str(), wrapped.data());
    std::vector<char> joined(3 * n + 5);
    web_connect_jsonStr(text.c_str(), text.c_str(), text.c_str(), joined.data());
    int num = 0;
    web_get_num_from_name(text.c_str(), &num);
    web_portStr_is_lag(text.c_str());
    std::string lower = text;
    web_str_to_lower(lower.data());
}

void xml(const std::string &text) {
#if __has_include(<mxml.h>)
    mxml_node_t *doc = mxmlParserLoadString(text.c_str());
    if (doc == nullptr) return;
    for (mxml_node_t *e = mxmlParserGetElem(doc, nullptr); e != nullptr; e = mxmlParserGetElem(e, nullptr)) {
        char value[64];
        mxmlParserGetElemValue(e, value, sizeof value);
        const char *name = nullptr;
        for (int i = 0; i < mxmlParserGetAttrNum(e); ++i) mxmlParserGetAttrValue(e, i, &name);
    }
    mxmlParserFindByPath(doc, "a/b/*");
    mxmlParserFree(doc);
#else
    (void)text;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();  // up to the first NUL, as C text
    conversions(text);
    xml(text);
    return 0;
}
