// Port lists between CLI text and the web pages' JSON arrays; strncpy_safe.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform_core/web_port_text.h"
#include "platform_core/xml_util.h"

namespace {

using Convert = int (*)(const char *, char *);

TEST(WebPortText, ConversionsBetweenForms) {
    struct Case {
        Convert convert;
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {web_change_portStr_to_jsonStr, "1/0/1,1/0/2", R"(["1/0/1","1/0/2"])"},
        {web_change_portStr_to_jsonStr, "LAG1", R"(["LAG1"])"},
        {web_change_portStr_to_jsonStr, "", R"([""])"},
        {web_change_jsonStr_to_portStr, R"(["1%2F0%2F1", "1\/0\/2"])", "1/0/1,1/0/2"},
        {web_change_jsonStr_to_portStr, "%2", "%2"},
        {web_string_to_array, R"("a","b")", R"(["a","b"])"},
        {web_edit_respond_string, "ok", R"("ok")"},
    };
    for (const Case &c : cases) {
        char out[64];
        std::memset(out, 'X', sizeof out);
        ASSERT_EQ(c.convert(c.in, out), 0) << c.in;
        EXPECT_STREQ(out, c.out) << c.in;
        EXPECT_EQ(c.convert(nullptr, out), -1);
        EXPECT_EQ(c.convert(c.in, nullptr), -1);
    }
}

TEST(WebPortText, JoiningArrays) {
    char out[64];
    ASSERT_EQ(web_connect_jsonStr(R"(["1"])", "[]", R"([ "2","3" ])", out), 0);
    EXPECT_STREQ(out, R"(["1","2","3"])");
    ASSERT_EQ(web_connect_jsonStr("", " [ ] ", "", out), 0);
    EXPECT_STREQ(out, "[]");
    EXPECT_EQ(web_connect_jsonStr(nullptr, "", "", out), -1);

    char list[64] = "";
    ASSERT_EQ(web_connect_str(list, "1/0/1"), 0);
    ASSERT_EQ(web_connect_str(list, "1/0/2"), 0);
    EXPECT_STREQ(list, R"("1/0/1","1/0/2",)");
    EXPECT_EQ(web_connect_str(nullptr, "x"), -1);
}

TEST(WebPortText, NamesAndCase) {
    EXPECT_EQ(web_portStr_is_lag("LAG_3"), 1);
    EXPECT_EQ(web_portStr_is_lag("LA"), 0);
    EXPECT_EQ(web_portStr_is_lag("lag1"), 0);
    EXPECT_EQ(web_portStr_is_lag(nullptr), -1);

    struct Case {
        const char *name;
        int rc;
        int n;
    };
    const Case cases[] = {
        {"LAG_12", 0, 12}, {"a_b_7x9", 0, 79},        {"port_", 0, 0},
        {"LAG12", -1, -1}, {"x_99999999999", -1, -1}, {"x_2147483647", 0, 2147483647},
    };
    for (const Case &c : cases) {
        int n = -1;
        EXPECT_EQ(web_get_num_from_name(c.name, &n), c.rc) << c.name;
        EXPECT_EQ(n, c.n) << c.name;
    }
    EXPECT_EQ(web_get_num_from_name(nullptr, nullptr), -1);

    char text[] = "GigaEthernet 1/0/1";
    ASSERT_EQ(web_str_to_lower(text), 0);
    EXPECT_STREQ(text, "gigaethernet 1/0/1");
    EXPECT_EQ(web_str_to_lower(nullptr), -1);
}

TEST(WebPortText, ReplaceInsideAString) {
    char text[32] = "ge1/0/1,ge1/0/2";
    ASSERT_EQ(str_replace(text, 2, "GigabitEthernet"), 0);
    EXPECT_STREQ(text, "GigabitEthernet1/0/1,ge1/0/2");
    ASSERT_EQ(str_replace(text + 15, 5, ""), 0);
    EXPECT_STREQ(text, "GigabitEthernet,ge1/0/2");
    EXPECT_EQ(str_replace(text, 99, "x"), -1);  // past the end of the string
    EXPECT_EQ(str_replace(nullptr, 1, "x"), -1);
}

TEST(WebPortText, SafeCopyAlwaysTerminates) {
    char dst[4];
    EXPECT_STREQ(strncpy_safe(dst, "abcdef", sizeof dst), "abc");
    EXPECT_STREQ(strncpy_safe(dst, "ab", sizeof dst), "ab");
    EXPECT_STREQ(strncpy_safe(dst, nullptr, sizeof dst), "");
    EXPECT_EQ(strncpy_safe(nullptr, "a", 4), nullptr);
}

}  // namespace
