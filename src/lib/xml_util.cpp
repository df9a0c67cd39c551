// The guarded XML layer over Mini-XML (see platform_core/xml_util.h).
#include "platform_core/xml_util.h"

#include <cstring>

#ifdef PC_HAVE_MXML

#include <mxml.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

bool is_element(mxml_node_t *node) { return node != nullptr && mxmlGetType(node) == MXML_ELEMENT; }

// The first child element of `node` whose name is `name` (any when empty).
mxml_node_t *child_element(mxml_node_t *node, std::string_view name) {
    for (mxml_node_t *c = mxmlGetFirstChild(node); c != nullptr; c = mxmlGetNextSibling(c)) {
        if (!is_element(c)) continue;
        const char *n = mxmlGetElement(c);
        if (name.empty() || name == "*" || (n != nullptr && name == n)) return c;
    }
    return nullptr;
}

// A document is loaded below a node of our own: Mini-XML keeps what it
// parsed before an error there, and releasing that node releases all of it
// (loaded without one, a failed load leaks the half-built tree).
mxml_node_t *new_document() { return mxmlNewXML("1.0"); }

mxml_node_t *release(mxml_node_t *doc) {
    mxmlDelete(doc);
    return nullptr;
}

}  // namespace

extern "C" {

PC_API mxml_node_t *mxmlParserLoadFile(const char *path) {
    if (path == nullptr) return nullptr;
    FILE *fp = std::fopen(path, "re");
    if (fp == nullptr) return nullptr;
    mxml_node_t *doc = new_document();
    if (doc != nullptr && mxmlLoadFile(doc, fp, MXML_TEXT_CALLBACK) == nullptr) doc = release(doc);
    std::fclose(fp);
    return doc;
}

PC_API mxml_node_t *mxmlParserLoadString(const char *text) {
    if (text == nullptr) return nullptr;
    mxml_node_t *doc = new_document();
    if (doc != nullptr && mxmlLoadString(doc, text, MXML_TEXT_CALLBACK) == nullptr) doc = release(doc);
    return doc;
}

PC_API void mxmlParserFree(mxml_node_t *doc) {
    if (doc != nullptr) mxmlDelete(doc);
}

PC_API mxml_node_t *mxmlParserFind(mxml_node_t *top, const char *name) {
    if (top == nullptr || name == nullptr) return nullptr;
    return mxmlFindElement(top, top, name, nullptr, nullptr, MXML_DESCEND);
}

PC_API mxml_node_t *mxmlParserFindByPath(mxml_node_t *top, const char *path) {
    if (top == nullptr || path == nullptr) return nullptr;
    std::string_view rest(path);
    mxml_node_t *node = top;
    while (!rest.empty() && node != nullptr) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (part.empty()) continue;  // "a//b" and a leading '/' name nothing
        node = child_element(node, part);
    }
    return node == top ? nullptr : node;
}

PC_API mxml_node_t *mxmlParserGetElem(mxml_node_t *node, const char *name) {
    if (node == nullptr) return nullptr;
    return child_element(node, name == nullptr ? std::string_view{} : std::string_view(name));
}

PC_API const char *mxmlParserGetElemName(mxml_node_t *elem) {
    return is_element(elem) ? mxmlGetElement(elem) : nullptr;
}

PC_API int mxmlParserGetElemValue(mxml_node_t *elem, char *buf, int size) {
    if (!is_element(elem) || buf == nullptr || size <= 0) return -1;
    std::string value;
    for (mxml_node_t *c = mxmlGetFirstChild(elem); c != nullptr; c = mxmlGetNextSibling(c)) {
        if (mxmlGetType(c) != MXML_TEXT) continue;
        const char *word = mxmlGetText(c, nullptr);
        if (word == nullptr || *word == '\0') continue;
        if (!value.empty()) value.push_back(' ');
        value.append(word);
    }
    if (value.size() >= static_cast<size_t>(size)) return -1;
    std::memcpy(buf, value.c_str(), value.size() + 1);
    return 0;
}

PC_API mxml_node_t *mxmlParserGetParent(mxml_node_t *node) {
    return node == nullptr ? nullptr : mxmlGetParent(node);
}

PC_API const char *mxmlParserGetAttr(mxml_node_t *elem, const char *name) {
    if (!is_element(elem) || name == nullptr) return nullptr;
    return mxmlElementGetAttr(elem, name);
}

PC_API int mxmlParserGetAttrNum(mxml_node_t *elem) {
    return is_element(elem) ? mxmlElementGetAttrCount(elem) : -1;
}

PC_API const char *mxmlParserGetAttrValue(mxml_node_t *elem, int idx, const char **name) {
    if (!is_element(elem) || idx < 0 || idx >= mxmlElementGetAttrCount(elem)) return nullptr;
    const char *attr_name = nullptr;
    const char *value = mxmlElementGetAttrByIndex(elem, idx, &attr_name);
    if (name != nullptr) *name = attr_name;
    return value;
}

}  // extern "C"

#endif  // PC_HAVE_MXML

extern "C" PC_API char *strncpy_safe(char *dst, const char *src, unsigned size) {
    if (dst == nullptr || size == 0) return dst;
    if (src == nullptr) {
        dst[0] = '\0';
        return dst;
    }
    size_t len = strnlen(src, size - 1);
    std::memcpy(dst, src, len);
    dst[len] = '\0';
    return dst;
}
