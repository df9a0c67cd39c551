// Parameter sets and groups: growth, name rules, typed adds and gets,
// release of pointer parameters, copying and the group listing.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform_core/axrpc.h"
#include "platform_core/platform.h"
#include "support/capture_stdout.h"

namespace {

class ParaSet : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(axrpcParaInit(&para), 0); }
    void TearDown() override { axrpcParaFree(&para); }
    AXRPC_PARA_T para{};
};

TEST_F(ParaSet, FreshSetHasInitialCapacities) {
    EXPECT_EQ(para.paraBufLen, 64);
    EXPECT_EQ(para.paraSectionNum, AXRPC_PARA_SEC_NUM);
    EXPECT_EQ(para.paraNum, 0);
    EXPECT_EQ(para.paraLen, 0);
    EXPECT_EQ(para.extraLen, 0);
}

TEST_F(ParaSet, SectionArrayGrowsByEight) {
    for (int i = 0; i < 17; ++i) {
        ASSERT_EQ(axrpcAddInt(&para, ("p" + std::to_string(i)).c_str(), i), 0);
        int expected = i < 8 ? 8 : i < 16 ? 16 : 24;
        EXPECT_EQ(para.paraSectionNum, expected) << "after add " << i + 1;
    }
    for (int i = 0; i < 17; ++i) {
        int v = -1;
        ASSERT_EQ(axrpcGetInt(&para, ("p" + std::to_string(i)).c_str(), &v), 0);
        EXPECT_EQ(v, i);
    }
}

TEST(ParaBuffer, GrowsByTheLargerOfLengthAnd64) {
    struct Case {
        int used, added, capacity;
    } cases[] = {{0, 100, 164}, {60, 10, 128}, {0, 64, 64}, {60, 4, 64}};
    for (const Case &c : cases) {
        AXRPC_PARA_T p{};
        ASSERT_EQ(axrpcParaInit(&p), 0);
        std::string first(static_cast<size_t>(c.used), 'a'), second(static_cast<size_t>(c.added), 'b');
        if (c.used) {
            ASSERT_EQ(axrpcAddString(&p, "first", first.data(), c.used), 0);
        }
        ASSERT_EQ(axrpcAddString(&p, "second", second.data(), c.added), 0);
        EXPECT_EQ(p.paraBufLen, c.capacity) << c.used << "+" << c.added;
        char out[200];
        int len = 0;
        ASSERT_EQ(axrpcGetString(&p, "second", sizeof out, out, &len), 0);
        EXPECT_EQ(std::string(out, static_cast<size_t>(len)), second);
        if (c.used) {
            ASSERT_EQ(axrpcGetString(&p, "first", sizeof out, out, &len), 0);
            EXPECT_EQ(std::string(out, static_cast<size_t>(len)), first);
        }
        axrpcParaFree(&p);
    }
}

TEST_F(ParaSet, NameOf31AcceptedAnd32Refused) {
    std::string ok(31, 'n'), too_long(32, 'n');
    EXPECT_EQ(axrpcAddInt(&para, ok.c_str(), 7), 0);
    pc::test::CaptureStdout out;
    EXPECT_EQ(axrpcAddInt(&para, too_long.c_str(), 8), -1);
    EXPECT_NE(out.text().find("Ensure AXRPC_PARA_NAME_MAX >= strlen(paraName) failed."), std::string::npos);
    int v = 0;
    EXPECT_EQ(axrpcGetInt(&para, ok.c_str(), &v), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(para.paraNum, 1);
}

TEST_F(ParaSet, ArgumentChecksNameTheFailedCondition) {
    struct Case {
        std::function<int()> call;
        const char *text;
    } cases[] = {
        {[] { return axrpcAddInt(nullptr, "x", 1); }, "NULL != para"},
        {[this] { return axrpcAddInt(&para, nullptr, 1); }, "NULL != paraName"},
        {[this] { return axrpcAddString(&para, "s", nullptr, 3); }, "NULL != value"},
        {[this] { return axrpcAddStringPtr(&para, "s", nullptr); }, "NULL != value"},
        {[this] { return axrpcAddDataPtr(&para, "p", nullptr, 3, nullptr); }, "NULL != ptr"},
        {[this] { return axrpcGetFlag(&para, "f", nullptr); }, "NULL != flag"},
        {[this] { return axrpcGetString(&para, "s", 4, nullptr, nullptr); }, "NULL != getValue"},
        {[this] {
             char b[4];
             return axrpcGetString(&para, "s", 4, b, nullptr);
         },
         "NULL != getLen"},
        {[] {
             AXRPC_PARA_T empty{};
             return axrpcAddData(&empty, "x", AXRPC_PARA_TYPE_DATA, "a", 1);
         },
         "NULL != para->paraSection"},
        {[] { return axrpcParaInit(nullptr); }, "NULL != para"},
        {[] { return axrpcParaGroupInit(nullptr); }, "NULL != paraGroup"},
    };
    for (const Case &c : cases) {
        pc::test::CaptureStdout out;
        EXPECT_EQ(c.call(), -1) << c.text;
        EXPECT_NE(out.text().find(std::string("Ensure ") + c.text + " failed."), std::string::npos) << c.text;
    }
    EXPECT_EQ(para.paraNum, 0);
}

TEST_F(ParaSet, TypedValuesRoundTrip) {
    int64_t big = 0x0102030405060708LL;
    char block[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(axrpcAddChar(&para, "c", 'z'), 0);
    ASSERT_EQ(axrpcAddShort(&para, "s", -12345), 0);
    ASSERT_EQ(axrpcAddInt(&para, "i", -7), 0);
    ASSERT_EQ(axrpcAddInt64(&para, "l", big), 0);
    ASSERT_EQ(axrpcAddDouble(&para, "d", 2.5), 0);
    ASSERT_EQ(axrpcAddStringPtr(&para, "str", "hello"), 0);
    ASSERT_EQ(axrpcAddString(&para, "raw", "abc", 3), 0);
    ASSERT_EQ(axrpcAddFlag(&para, "f", 0xdeadbeefu), 0);
    ASSERT_EQ(axrpcAddDataPtr(&para, "p", block, sizeof block, nullptr), 0);
    EXPECT_EQ(para.paraLen, 1 + 2 + 4 + 8 + 8 + 6 + 3);
    EXPECT_EQ(para.extraLen, 5);

    char c = 0;
    short s = 0;
    int i = 0;
    int64_t l = 0;
    double d = 0;
    char *str = nullptr;
    char raw[8] = {};
    int raw_len = 0;
    uint32_t f = 0;
    void *p = nullptr;
    int p_len = 0;
    EXPECT_EQ(axrpcGetChar(&para, "c", &c), 0);
    EXPECT_EQ(axrpcGetShort(&para, "s", &s), 0);
    EXPECT_EQ(axrpcGetInt(&para, "i", &i), 0);
    EXPECT_EQ(axrpcGetInt64(&para, "l", &l), 0);
    EXPECT_EQ(axrpcGetDouble(&para, "d", &d), 0);
    EXPECT_EQ(axrpcGetStringPtr(&para, "str", &str), 0);
    EXPECT_EQ(axrpcGetString(&para, "raw", sizeof raw, raw, &raw_len), 0);
    EXPECT_EQ(axrpcGetFlag(&para, "f", &f), 0);
    EXPECT_EQ(axrpcGetDataPtr(&para, "p", &p, &p_len), 0);
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(s, -12345);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(l, big);
    EXPECT_EQ(d, 2.5);
    EXPECT_STREQ(str, "hello");
    EXPECT_EQ(std::string(raw, static_cast<size_t>(raw_len)), "abc");
    EXPECT_EQ(f, 0xdeadbeefu);
    EXPECT_EQ(p, block);
    EXPECT_EQ(p_len, 5);
    EXPECT_EQ(axrpcGetDataPtr(&para, "p", &p, nullptr), 0);
}

TEST_F(ParaSet, LookupRules) {
    ASSERT_EQ(axrpcAddInt(&para, "dup", 1), 0);
    ASSERT_EQ(axrpcAddInt(&para, "dup", 2), 0);
    ASSERT_EQ(axrpcAddChar(&para, "small", 'q'), 0);
    ASSERT_EQ(axrpcAddString(&para, "long", "abcdefgh", 8), 0);

    int v = 0;
    EXPECT_EQ(axrpcGetInt(&para, "dup", &v), 0);
    EXPECT_EQ(v, 1) << "the first of two parameters named alike wins";
    EXPECT_EQ(axrpcGetInt(&para, "DUP", &v), -1) << "names are case-sensitive";
    EXPECT_EQ(axrpcGetInt(&para, "missing", &v), -1);

    int wide = 0x11111111;
    int got = 0;
    EXPECT_EQ(axrpcGetData(&para, "small", sizeof wide, &wide, &got), 0);
    EXPECT_EQ(got, 1);
    char first = 0;
    std::memcpy(&first, &wide, 1);
    EXPECT_EQ(first, 'q');

    char part[4];
    EXPECT_EQ(axrpcGetString(&para, "long", sizeof part, part, &got), 0);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(part, 4), "abcd");

    pc::test::CaptureStdout out;
    uint32_t flag = 0;
    EXPECT_EQ(axrpcGetFlag(&para, "dup", &flag), -1);
    EXPECT_NE(out.text().find("Type error expect: 2 actually: 0"), std::string::npos);
}

int g_released[4];
void release_block(void *ptr) { ++g_released[*static_cast<int *>(ptr)]; }

TEST(ParaRelease, FreeRunsEachReleaseOnceAndCopySharesBlocks) {
    static int blocks[4] = {0, 1, 2, 3};
    std::memset(g_released, 0, sizeof g_released);
    AXRPC_PARA_T src{}, dst{};
    ASSERT_EQ(axrpcParaInit(&src), 0);
    ASSERT_EQ(axrpcParaInit(&dst), 0);
    ASSERT_EQ(axrpcAddDataPtr(&src, "a", &blocks[0], sizeof(int), release_block), 0);
    ASSERT_EQ(axrpcAddInt(&src, "n", 42), 0);
    ASSERT_EQ(axrpcAddDataPtr(&src, "b", &blocks[1], sizeof(int), release_block), 0);
    ASSERT_EQ(axrpcAddDataPtr(&src, "c", &blocks[2], sizeof(int), nullptr), 0);
    ASSERT_EQ(axrpcAddFlag(&src, "f", 9), 0);

    ASSERT_EQ(axrpcParaCopy(&src, &dst), 0);
    ASSERT_EQ(dst.paraNum, 5);
    EXPECT_EQ(dst.extraLen, src.extraLen);
    void *p = nullptr;
    ASSERT_EQ(axrpcGetDataPtr(&dst, "b", &p, nullptr), 0);
    EXPECT_EQ(p, &blocks[1]);
    EXPECT_EQ(dst.paraSection[2].freeFunc, release_block);
    int n = 0;
    uint32_t f = 0;
    EXPECT_EQ(axrpcGetInt(&dst, "n", &n), 0);
    EXPECT_EQ(axrpcGetFlag(&dst, "f", &f), 0);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(f, 9u);

    // The copy's pointers are only references: dropping its sections
    // before freeing keeps the source the blocks' single owner.
    dst.paraNum = 0;
    axrpcParaFree(&dst);
    EXPECT_EQ(g_released[0] + g_released[1], 0);
    axrpcParaFree(&src);
    EXPECT_EQ(g_released[0], 1);
    EXPECT_EQ(g_released[1], 1);
    EXPECT_EQ(g_released[2], 0);
    EXPECT_EQ(src.paraBuf, nullptr);
    EXPECT_EQ(src.paraNum, 0);
}

TEST(ParaGroup, InitFreeAndListing) {
    AXRPC_PARA_GROUP_T group{};
    ASSERT_EQ(axrpcParaGroupInit(&group), 0);
    EXPECT_EQ(group.isUsed, 0);
    int block = 5;
    ASSERT_EQ(axrpcAddInt(&group.paraSet, "num", 3), 0);
    ASSERT_EQ(axrpcAddDataPtr(&group.paraSet, "ptr", &block, sizeof block, nullptr), 0);
    ASSERT_EQ(axrpcAddFlag(&group.paraSet, "flg", 0xab), 0);
    group.isUsed = 1;
    std::string text;
    {
        pc::test::CaptureStdout out;
        EXPECT_EQ(axrpcCheckParaGroup(&group), 0);
        text = out.text();
    }
    for (const char *line :
         {"Check paragroup structure:\n", " Check for unit 1: \n", "  Is used: Used\n",
          "  Para num: 3 para section num: 8\n", "  Para buf len: 64 para len: 4 total extra len: 4\n",
          "    Para name: num type: 0 length: 4\n    Para offset: 0\n",
          "    Para name: ptr type: 1 length: 4\n",
          "    Para name: flg type: 2 length: 4\n    Para flag: ab\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(axrpcParaGroupFree(&group), 0);
    EXPECT_EQ(group.isUsed, 0);
    EXPECT_EQ(group.paraSet.paraSection, nullptr);
}

}  // namespace
