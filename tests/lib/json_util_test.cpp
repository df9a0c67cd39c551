// The guarded JSON layer: null and wrong-type arguments, the decoded copy
// of string values, detaching children, iteration and text round trips.
#include <json-c/json.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform_core/json_util.h"
#include "support/capture_stdout.h"

namespace {

struct JsonDeleter {
    void operator()(json_object *v) const { jsonObjectObjectDelete(v); }
};
using JsonPtr = std::unique_ptr<json_object, JsonDeleter>;

JsonPtr parse(const char *text) { return JsonPtr(jsonObjectFromString(text)); }

TEST(JsonUtil, NullAndWrongTypeArgumentsFailWithoutCrashing) {
    JsonPtr obj = parse(R"({"n": 5, "s": "x", "a": [1]})");
    json_object *arr = jsonObjectObjectGet(obj.get(), "a");
    json_object *str = jsonObjectObjectGet(obj.get(), "s");
    int out = 0;
    pc::test::CaptureStdout capture;

    EXPECT_EQ(jsonObjectObjectGet(nullptr, "n"), nullptr);
    EXPECT_EQ(jsonObjectObjectGet(obj.get(), nullptr), nullptr);
    EXPECT_EQ(jsonObjectObjectGet(arr, "n"), nullptr);
    EXPECT_EQ(jsonObjectObjectIsNull(nullptr, "n"), -1);
    EXPECT_EQ(jsonObjectObjectIsNull(arr, "n"), -1);
    EXPECT_EQ(jsonGetObjFromObj(str, "n"), nullptr);
    EXPECT_EQ(jsonObjectGetInt(obj.get(), "s", &out), -1);
    EXPECT_EQ(jsonObjectGetInt(obj.get(), "n", nullptr), -1);
    EXPECT_EQ(jsonObjectGetIntSelf(str, &out), -1);
    EXPECT_EQ(jsonObjectGetString(obj.get(), "n"), nullptr);
    EXPECT_EQ(jsonObjectGetString(obj.get(), "missing"), nullptr);
    EXPECT_EQ(jsonGetObjectString(nullptr), nullptr);
    EXPECT_EQ(jsonObjectGetStringOrigin(arr, "s"), nullptr);
    EXPECT_EQ(jsonObjectAddInt(arr, "k", 1), -1);
    EXPECT_EQ(jsonObjectAddString(obj.get(), "k", nullptr), -1);
    EXPECT_EQ(jsonObjectAddIntByStr(nullptr, "k", 1), -1);
    EXPECT_EQ(jsonObjectDelInt(obj.get(), "s"), -1);  // not an int
    EXPECT_EQ(jsonObjectObjectDel(obj.get(), "missing"), -1);
    EXPECT_EQ(jsonObjectObjectAdd(obj.get(), "k", nullptr), -1);
    EXPECT_EQ(jsonObjectObjectDelete(nullptr), -1);
    EXPECT_EQ(jsonObjectArrayAdd(obj.get(), str), -1);
    EXPECT_EQ(jsonObjectArrayDel(arr, -1), -1);
    EXPECT_EQ(jsonObjectArrayGetIdx(arr, 1), nullptr);
    EXPECT_EQ(jsonObjectArrayLength(obj.get()), -1);
    EXPECT_EQ(jsonObjectToString(nullptr, nullptr, 0), -1);
    EXPECT_EQ(jsonObjectFromString(nullptr), nullptr);
    EXPECT_EQ(jsonObjectFromString("{not json"), nullptr);
    EXPECT_EQ(jsonObjectFromFile("/nonexistent/x.json"), nullptr);
    EXPECT_EQ(jsonObjectNewString(nullptr), nullptr);
    for (auto is :
         {jsonObjectIsObject, jsonObjectIsArray, jsonObectIsBool, jsonObectIsInt, jsonObectIsString}) {
        EXPECT_EQ(is(nullptr), 0);
    }
    EXPECT_EQ(jsonObjectIsArray(arr), 1);
    EXPECT_EQ(jsonObectIsString(str), 1);
    EXPECT_EQ(jsonObectIsInt(str), 0);

    // A value added to a non-object is refused with the two lines, and the
    // caller keeps it.
    json_object *keep = jsonObjectNewString("kept");
    EXPECT_EQ(jsonObjectObjectAdd(arr, "key9", keep), -1);
    EXPECT_STREQ(jsonGetObjectStringOrigin(keep), "kept");
    jsonObjectObjectDelete(keep);
    EXPECT_EQ(jsonObjectNextSubObject(arr, nullptr, nullptr), nullptr);
    std::string text = capture.text();
    EXPECT_NE(text.find("Function is:jsonObjectObjectAdd, Line is:"), std::string::npos) << text;
    EXPECT_NE(text.find("jsonObjectObjectAdd obj must be type json_type_object key:key9.\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("jsonObjectNextSubObject:obj is null or not json_type_object.\r\n"),
              std::string::npos);
}

TEST(JsonUtil, StringsArePercentDecodedOnRequest) {
    struct Case {
        const char *stored;
        const char *decoded;
    };
    const Case cases[] = {
        {"a%2Fb", "a/b"}, {"50%", "50%"},   {"%zz", "%zz"},     {"%2", "%2"},
        {"%%41", "%A"},   {"%41%42", "AB"}, {"plain", "plain"}, {"", ""},
    };
    JsonPtr obj(jsonObjectNewObject());
    for (const Case &c : cases) {
        ASSERT_EQ(jsonObjectAddString(obj.get(), "k", c.stored), 0);
        EXPECT_STREQ(jsonObjectGetString(obj.get(), "k"), c.decoded) << c.stored;
        EXPECT_STREQ(jsonObjectGetStringOrigin(obj.get(), "k"), c.stored);
    }
}

TEST(JsonUtil, DecodedCopyFollowsTheStoredText) {
    JsonPtr value(jsonObjectNewString("1%2F0"));
    EXPECT_STREQ(jsonGetObjectString(value.get()), "1/0");
    EXPECT_STREQ(jsonGetObjectString(value.get()), "1/0");  // the kept copy
    json_object_set_string(value.get(), "2%2F3");
    EXPECT_STREQ(jsonGetObjectString(value.get()), "2/3");
    EXPECT_STREQ(jsonGetObjectStringOrigin(value.get()), "2%2F3");
}

TEST(JsonUtil, DetachedChildOutlivesItsParent) {
    JsonPtr parent = parse(R"({"child": {"x": "a%2Fb"}, "other": 1})");
    JsonPtr child(jsonGetObjFromObj(parent.get(), "child"));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(jsonObjectObjectIsNull(parent.get(), "child"), 1);
    EXPECT_EQ(jsonObjectObjectIsNull(parent.get(), "other"), 0);
    parent.reset();
    EXPECT_STREQ(jsonObjectGetString(child.get(), "x"), "a/b");
}

TEST(JsonUtil, ObjectEntriesIterateInInsertionOrder) {
    JsonPtr obj(jsonObjectNewObject());
    ASSERT_EQ(jsonObjectAddInt(obj.get(), "z", 1), 0);
    ASSERT_EQ(jsonObjectAddIntByStr(obj.get(), "a", -1234567890), 0);
    ASSERT_EQ(jsonObjectAddString(obj.get(), "m", "t"), 0);
    std::string keys;
    const char *key = nullptr;
    for (void *c = jsonObjectNextSubObject(obj.get(), nullptr, &key); c != nullptr;
         c = jsonObjectNextSubObject(obj.get(), c, &key)) {
        keys += key;
    }
    EXPECT_EQ(keys, "zam");
    EXPECT_STREQ(jsonObjectGetStringOrigin(obj.get(), "a"), "-1234567890");
    int n = 0;
    EXPECT_EQ(jsonObjectGetInt(obj.get(), "z", &n), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(jsonObjectDelInt(obj.get(), "z"), 0);
    EXPECT_EQ(jsonObjectObjectDel(obj.get(), "m"), 0);
    EXPECT_EQ(jsonObjectObjectIsNull(obj.get(), "z"), 1);
    // A cursor that is no longer an entry of the object ends the walk.
    int stale = 0;
    EXPECT_EQ(jsonObjectNextSubObject(obj.get(), &stale, &key), nullptr);
}

TEST(JsonUtil, ArraysAndTextRoundTrip) {
    JsonPtr arr(jsonObjectNewArray());
    ASSERT_EQ(jsonObjectArrayAdd(arr.get(), jsonObjectNewString("1/0/1")), 0);
    ASSERT_EQ(jsonObjectArrayAdd(arr.get(), jsonObjectNewString("1/0/2")), 0);
    EXPECT_EQ(jsonObjectArrayLength(arr.get()), 2);
    EXPECT_EQ(jsonObjectArrayDel(arr.get(), 0), 0);
    EXPECT_STREQ(jsonGetObjectString(jsonObjectArrayGetIdx(arr.get(), 0)), "1/0/2");

    char buf[64];
    int len = jsonObjectToString(arr.get(), buf, sizeof buf);
    ASSERT_GT(len, 0);
    EXPECT_EQ(static_cast<size_t>(len), std::strlen(buf));
    EXPECT_EQ(jsonObjectToString(arr.get(), buf, len), -1);  // no room for the NUL
    char *text = nullptr;
    EXPECT_EQ(jsonObjectToMallocString(arr.get(), &text), len);
    JsonPtr back = parse(text);
    std::free(text);
    EXPECT_STREQ(jsonGetObjectString(jsonObjectArrayGetIdx(back.get(), 0)), "1/0/2");
}

TEST(JsonUtil, FilesRoundTrip) {
    char dir[] = "/tmp/json_util_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    JsonPtr obj = parse(R"({"port": "1%2F0%2F3", "n": 7})");
    for (auto write : {jsonObjectToFile, jsonObjectToFileMem}) {
        std::string path = std::string(dir) + "/v.json";
        ASSERT_EQ(write(path.c_str(), obj.get()), 0);
        JsonPtr back(jsonObjectFromFile(path.c_str()));
        EXPECT_STREQ(jsonObjectGetString(back.get(), "port"), "1/0/3");
        EXPECT_EQ(access((path + ".tmp").c_str(), F_OK), -1);
        unlink(path.c_str());
    }
    EXPECT_EQ(jsonObjectToFileMem("/nonexistent/dir/v.json", obj.get()), -1);
    rmdir(dir);
}

}  // namespace
