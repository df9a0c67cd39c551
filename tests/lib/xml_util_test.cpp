// The guarded XML layer over Mini-XML.
#include <mxml.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform_core/xml_util.h"

namespace {

constexpr const char *kDoc = R"(<?xml version="1.0"?>
<device model="S24" ports="28">
  <ports>
    <port id="1">  ge   copper
      port </port>
    <port id="2">sfp</port>
  </ports>
  <fan/>
</device>)";

TEST(XmlUtil, FindsElementsValuesAndAttributes) {
    mxml_node_t *doc = mxmlParserLoadString(kDoc);
    ASSERT_NE(doc, nullptr);
    mxml_node_t *device = mxmlParserFind(doc, "device");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(mxmlParserGetElemName(device), "device");
    EXPECT_EQ(mxmlParserGetAttrNum(device), 2);
    EXPECT_STREQ(mxmlParserGetAttr(device, "ports"), "28");
    const char *name = nullptr;
    EXPECT_STREQ(mxmlParserGetAttrValue(device, 0, &name), "S24");
    EXPECT_STREQ(name, "model");
    EXPECT_EQ(mxmlParserGetAttrValue(device, 2, &name), nullptr);

    mxml_node_t *port = mxmlParserFindByPath(doc, "device/ports/port");
    ASSERT_NE(port, nullptr);
    char value[32];
    ASSERT_EQ(mxmlParserGetElemValue(port, value, sizeof value), 0);
    EXPECT_STREQ(value, "ge copper port");                   // words joined by single blanks
    EXPECT_EQ(mxmlParserGetElemValue(port, value, 14), -1);  // does not fit with its NUL
    EXPECT_EQ(mxmlParserGetParent(port), mxmlParserFind(doc, "ports"));
    mxml_node_t *second = mxmlGetNextSibling(port);
    while (second != nullptr && mxmlGetType(second) != MXML_ELEMENT) second = mxmlGetNextSibling(second);
    EXPECT_STREQ(mxmlParserGetAttr(second, "id"), "2");
    EXPECT_NE(mxmlParserGetElem(device, "fan"), nullptr);
    EXPECT_EQ(mxmlParserGetElem(device, "port"), nullptr);  // children only
    EXPECT_EQ(mxmlParserFindByPath(doc, "device/nothing"), nullptr);
    EXPECT_EQ(mxmlParserGetElemValue(mxmlParserGetElem(device, "fan"), value, sizeof value), 0);
    EXPECT_STREQ(value, "");
    mxmlParserFree(doc);
}

TEST(XmlUtil, NullArgumentsAndBadTextFail) {
    char buf[4];
    EXPECT_EQ(mxmlParserLoadString(nullptr), nullptr);
    EXPECT_EQ(mxmlParserLoadFile(nullptr), nullptr);
    EXPECT_EQ(mxmlParserLoadFile("/nonexistent.xml"), nullptr);
    // Broken text loads nothing and leaves nothing behind (the leak checker
    // of the sanitizer build sees a half-built tree).
    EXPECT_EQ(mxmlParserLoadString("<\n"), nullptr);
    EXPECT_EQ(mxmlParserLoadString("<a><b></a>"), nullptr);
    EXPECT_EQ(mxmlParserFind(nullptr, "a"), nullptr);
    EXPECT_EQ(mxmlParserFindByPath(nullptr, "a"), nullptr);
    EXPECT_EQ(mxmlParserGetElem(nullptr, "a"), nullptr);
    EXPECT_EQ(mxmlParserGetElemName(nullptr), nullptr);
    EXPECT_EQ(mxmlParserGetElemValue(nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(mxmlParserGetParent(nullptr), nullptr);
    EXPECT_EQ(mxmlParserGetAttr(nullptr, "a"), nullptr);
    EXPECT_EQ(mxmlParserGetAttrNum(nullptr), -1);
    EXPECT_EQ(mxmlParserGetAttrValue(nullptr, 0, nullptr), nullptr);
    mxmlParserFree(nullptr);
}

}  // namespace
