// Port list text: parsing, writing, round trips on every device, unit lists
// and completion help.
#include <cstring>
#include <string>
#include <vector>

#include "platform_core/up.h"
#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"
#include "up/up_fixture.h"

namespace {

using pc::test::lag;
using pc::test::port;
using pc::test::UpModel;

up_list ports_list(std::initializer_list<uint32_t> ports, std::initializer_list<uint32_t> lags = {}) {
    up_list l{};
    for (uint32_t p : ports) l.bits[p / 32] |= 1u << (p % 32);
    for (uint32_t id : lags) l.bits[3 + (id - 1) / 32] |= 1u << ((id - 1) % 32);
    return l;
}

bool same(const up_list &a, const up_list &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string to_text(const up_list &l, uint32_t str_type, uint32_t flags = 0) {
    char buf[1024];
    up_str_ctrl_t ctrl{};
    ctrl.flags = flags | UP_STR_CTRL_LIMIT;
    ctrl.len_limit = sizeof buf;
    ctrl.str_type = str_type;
    EXPECT_EQ(0, usUplist2Str(l, buf, &ctrl));
    EXPECT_EQ(1u, ctrl.done);
    return buf;
}

// Calls usUplist2Str with a length limit of 30 until the list is done (at
// most 20 calls); each piece must be non-empty and within the limit. The
// pieces joined by `sep`.
std::string text_in_pieces(const up_list &l, uint32_t str_type, uint32_t flags, const char *sep, int *calls) {
    up_str_ctrl_t ctrl{};
    ctrl.flags = UP_STR_CTRL_LIMIT | flags;
    ctrl.str_type = str_type;
    ctrl.len_limit = 30;
    std::string joined;
    *calls = 0;
    do {
        char buf[30];
        EXPECT_EQ(0, usUplist2Str(l, buf, &ctrl));
        EXPECT_LT(std::strlen(buf), 30u);
        if (std::strlen(buf) == 0) {
            ADD_FAILURE() << "a call handed out nothing";
            break;
        }
        joined += (joined.empty() ? "" : sep) + std::string(buf);
        ++*calls;
    } while (ctrl.done == 0 && *calls < 20);
    EXPECT_EQ(1u, ctrl.done);
    return joined;
}

TEST_F(UpModel, ParsesTheAcceptedForms) {
    struct Case {
        int it;
        const char *text;
        up_list want;
    };
    const Case cases[] = {
        {-1, "  Gi1/0/1-4,1/0/8", ports_list({1, 2, 3, 4, 8})},
        {-1, "gigabitethernet 1/0/5", ports_list({5})},
        {-1, "GIGABITETHERNET1/0/5", ports_list({5})},
        {-1, "\tgi1/0/7-5", ports_list({5, 6, 7})},
        {-1, "Po2-1", ports_list({}, {1, 2})},
        {-1, "lag3", ports_list({}, {3})},
        {-1, "port-channel 14", ports_list({}, {14})},
        {-1, "1/0/5", ports_list({5})},
        {-1, "Te1/0/25-28,Po1,2", ports_list({25, 26, 27, 28}, {1, 2})},
        {INTF_TYPE_GE, "1/0/2,Te1/0/26", ports_list({2, 26})},
        {INTF_TYPE_LAG, "4-5", ports_list({}, {4, 5})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        up_list l;
        l.bits[0] = 0xFFFF;  // cleared first
        ASSERT_EQ(0, usStr2UpList(c.it, c.text, &l, nullptr));
        EXPECT_TRUE(same(c.want, l));
    }
}

TEST_F(UpModel, RefusesMalformedText) {
    for (const char *text : {"gig1/0/5",
                             "Gi 01/0/5",
                             "Gi1/0/1,",
                             "Gi1/0/1, 1/0/2",
                             "Gi1/0/1 ,1/0/2",
                             "Gi1/0/0",
                             "Gi1/0/25",
                             "Te1/0/24",
                             "Gi2/0/1",
                             "Gi1/1/1",
                             "Gi1/0",
                             "Gi1/0/",
                             "Po15",
                             "Po0",
                             "lagg1",
                             "la1",
                             "",
                             "   ",
                             "#1/0/1",
                             "Gi1/0/1-",
                             "Gi1/0/1--2",
                             "Gi1/0/1/2",
                             "xx1/0/1",
                             "fa1/0/1",
                             "Gi1/0/99999999999999999999"}) {
        SCOPED_TRACE(text);
        up_list l;
        EXPECT_EQ(-1, usStr2UpList(-1, text, &l, nullptr));
    }
    up_list l;
    EXPECT_EQ(-1, usStr2UpList(-1, nullptr, &l, nullptr));
    EXPECT_EQ(-1, usStr2UpList(-1, "Gi1/0/1", nullptr, nullptr));
}

TEST_F(UpModel, SingleValueParse) {
    UP up = 0;
    ASSERT_EQ(0, usStr2Up(-1, "Gi1/0/5", &up, nullptr));
    EXPECT_EQ(port(5), up);
    ASSERT_EQ(0, usStr2Up(-1, "Po3", &up, nullptr));
    EXPECT_EQ(lag(3), up);
    for (const char *text : {"Gi1/0/1-2", "Gi1/0/1,1/0/2", "Gi1/0/1 ", "Gi1/0/30"}) {
        SCOPED_TRACE(text);
        up = 0;
        EXPECT_EQ(-1, usStr2Up(-1, text, &up, nullptr));
        EXPECT_EQ(0xA5u, UP_TYPE(up));
    }
}

TEST_F(UpModel, WritesValuesAndLists) {
    char text[UP_STR_LEN];
    ASSERT_EQ(0, usUp2Str(port(5), text, UP_STR_TYPE_SHORT));
    EXPECT_STREQ("Gi1/0/5", text);
    ASSERT_EQ(0, usUp2Str(port(5), text, UP_STR_TYPE_LONG));
    EXPECT_STREQ("gigabitEthernet 1/0/5", text);
    ASSERT_EQ(0, usUp2Str(port(5), text, UP_STR_TYPE_NONE));
    EXPECT_STREQ("1/0/5", text);
    EXPECT_EQ(-1, usUp2Str(lag(3), text, UP_STR_TYPE_SHORT));  // not in use
    ASSERT_EQ(0, upProptSetMode(lag(3), UP_MODE_LAG_IN_USE));
    ASSERT_EQ(0, usUp2Str(lag(3), text, UP_STR_TYPE_SHORT));
    EXPECT_STREQ("Po3", text);
    EXPECT_EQ(-1, usUp2Str(port(5), text, 3));

    use_device(SIM_DEV_48GE_4TE_SUBSLOT);
    std::vector<uint32_t> all;
    up_list l{};
    for (uint32_t p = 1; p <= 52; ++p) l.bits[p / 32] |= 1u << (p % 32);
    EXPECT_EQ("Gi1/0/1-48,Te1/0/49-52", to_text(l, UP_STR_TYPE_SHORT));
    l.bits[3] = 1;
    EXPECT_EQ("Gi1/0/1-48,Te1/0/49-52,Po1", to_text(l, UP_STR_TYPE_SHORT));
    EXPECT_EQ("Gi1/0/1-48,Te1/0/49-52", to_text(l, UP_STR_TYPE_SHORT, UP_STR_CTRL_NO_LAG));
    up_str_ctrl_t only_te{};
    only_te.flags = UP_STR_CTRL_INTF;
    only_te.str_type = UP_STR_TYPE_SHORT;
    only_te.intf_type = INTF_TYPE_TE;
    char te[UP_LIST_STR_LEN];
    ASSERT_EQ(0, usUplist2Str(l, te, &only_te));
    EXPECT_STREQ("Te1/0/49-52", te);
    EXPECT_EQ("Gi1/0/3, Gi1/0/4", to_text(ports_list({3, 4}), UP_STR_TYPE_SHORT, UP_STR_CTRL_SINGLE));
    EXPECT_EQ("", to_text(up_list{}, UP_STR_TYPE_SHORT));
}

TEST_F(UpModel, LongListsComeBackInPieces) {
    up_list l{};
    for (uint32_t p = 1; p <= 28; p += 2) l.bits[p / 32] |= 1u << (p % 32);
    const std::string whole = to_text(l, UP_STR_TYPE_SHORT, UP_STR_CTRL_SINGLE);
    int pieces = 0;
    EXPECT_EQ(whole, text_in_pieces(l, UP_STR_TYPE_SHORT, UP_STR_CTRL_SINGLE, ", ", &pieces));
    EXPECT_GT(pieces, 1);
    up_str_ctrl_t ctrl{};
    ctrl.flags = UP_STR_CTRL_LIMIT;
    ctrl.len_limit = 29;
    char buf[64];
    EXPECT_EQ(-1, usUplist2Str(l, buf, &ctrl));
}

// A run whose text alone is longer than the limit ("ten-gigabitEthernet
// 1/0/49-52," is 30 characters) still comes out, in shorter runs: every
// call hands out at least one element until the list is done.
TEST_F(UpModel, EveryLimitedCallMakesProgress) {
    up_list l{};
    for (uint32_t idx = 0; idx < UP_UNIT_PORT_MAX; ++idx) {
        UP up = 0;
        uint32_t it = 0;
        inner_up_from_index(&up, idx, 1, __func__, __LINE__);
        if (UP_IS_VALID(up) && upProptIntfTypeGet(up, &it) == 0 && it == INTF_TYPE_TE)
            l.bits[idx / 32] |= 1u << (idx % 32);
    }
    for (uint32_t type : {UP_STR_TYPE_NONE, UP_STR_TYPE_SHORT, UP_STR_TYPE_LONG}) {
        for (uint32_t flags : {0u, uint32_t{UP_STR_CTRL_SINGLE}}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " flags " << flags);
            int calls = 0;
            std::string joined = text_in_pieces(l, type, flags, ",", &calls);
            up_list back{};
            if (flags == 0) {
                ASSERT_EQ(0, usStr2UpList(-1, joined.c_str(), &back, nullptr)) << joined;
                EXPECT_TRUE(same(l, back)) << joined;
            }
        }
    }
}

// Every device: the whole valid list, and runs of every second port, come
// back from their text in every string type that can carry them.
TEST_F(UpModel, TextRoundTripsOnEveryDevice) {
    for (int type : pc::test::kSimDevices) {
        SCOPED_TRACE(type);
        use_device(type);
        up_list valid{};
        for (uint32_t p = 0; p <= UP_SLOT0_PORT_MAX; ++p)
            if (UP_IS_VALID(port(p))) valid.bits[p / 32] |= 1u << (p % 32);
        up_list odd = valid;
        for (uint32_t p = 0; p < 96; p += 2) odd.bits[p / 32] &= ~(1u << (p % 32));
        odd.bits[3] = 0x2D;  // LAGs 1, 3, 4, 6
        up_list lists[] = {valid, odd};
        for (const up_list &l : lists) {
            for (uint32_t st : {UP_STR_TYPE_SHORT, UP_STR_TYPE_LONG}) {
                std::string text = to_text(l, st);
                SCOPED_TRACE(text);
                up_list back;
                ASSERT_EQ(0, usStr2UpList(-1, text.c_str(), &back, nullptr));
                EXPECT_TRUE(same(l, back));
            }
        }
        // Without prefixes a list of ports reads back as well.
        std::string plain = to_text(valid, UP_STR_TYPE_NONE);
        up_list back;
        ASSERT_EQ(0, usStr2UpList(-1, plain.c_str(), &back, nullptr));
        EXPECT_TRUE(same(valid, back));
        // Each valid port alone.
        for (uint32_t p = 1; p <= UP_SLOT0_PORT_MAX; ++p) {
            if (!UP_IS_VALID(port(p))) continue;
            char t[UP_STR_LEN];
            UP up = 0;
            ASSERT_EQ(0, usUp2Str(port(p), t, UP_STR_TYPE_LONG));
            ASSERT_EQ(0, usStr2Up(-1, t, &up, nullptr));
            EXPECT_EQ(port(p), up);
        }
    }
}

TEST_F(UpModel, PortRangeParsingFollowsTheDevice) {
    struct Case {
        int type;
        const char *ok;
        const char *refused;
    };
    const Case cases[] = {
        {SIM_DEV_8GE_2SFP, "Gi1/0/1-10", "Te1/0/1"},
        {SIM_DEV_24GE_4TE, "Gi1/0/1-24,Te1/0/25-28", "Gi1/0/25"},
        {SIM_DEV_48GE_4TE_SUBSLOT, "Gi1/0/48,Te1/0/49-52", "Te1/1/1"},
        {SIM_DEV_24FE_2GE, "Fa1/0/1-24,Gi1/0/25-26", "Fa1/0/25"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        use_device(c.type);
        up_list l;
        EXPECT_EQ(0, usStr2UpList(-1, c.ok, &l, nullptr));
        EXPECT_EQ(-1, usStr2UpList(-1, c.refused, &l, nullptr));
    }
}

TEST_F(UpModel, UnitValidationCanBeWaived) {
    ASSERT_EQ(0, upProptDevStatSet(UNIT_1, DEV_STAT_PRESENT));
    up_str_option_t waive{1, nullptr};
    ASSERT_EQ(0, upProptUnitUnset(UNIT_1));
    up_list l;
    EXPECT_EQ(-1, usStr2UpList(-1, "1/0/3", &l, nullptr));
    EXPECT_EQ(0, usStr2UpList(-1, "1/0/3", &l, &waive));
    EXPECT_TRUE(same(ports_list({3}), l));
}

TEST(UpUnitText, UnitLists) {
    unit_list ul = 0;
    EXPECT_EQ(0, usStr2UnitList("1-1,1", &ul));
    EXPECT_EQ(2u, ul);
    for (const char *text : {"1,", "", "0", "2", "1-2", "1 ", "01", "1,,1", "-1"}) {
        SCOPED_TRACE(text);
        unit_list u = 0;
        EXPECT_NE(0, usStr2UnitList(text, &u));
    }
    char t[4];
    ASSERT_EQ(0, usUnitlist2Str(2, t));
    EXPECT_STREQ("1", t);
    ASSERT_EQ(0, usUnitlist2Str(0, t));
    EXPECT_STREQ("", t);
}

struct HelpLog {
    std::vector<std::string> lines;
};
void help_hook(void *env, const char *text, const char *desc) {
    static_cast<HelpLog *>(env)->lines.push_back(std::string(text) + "|" + desc);
}
void line_hook(void *env, const char *text) { static_cast<HelpLog *>(env)->lines.push_back(text); }
int may_end_hook(void *) { return 1; }

TEST_F(UpModel, CompletionHelpWhileTyping) {
    ASSERT_EQ(0, upStrCliParaSet(help_hook, line_hook, may_end_hook));
    struct Case {
        const char *text;
        int rc;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"Gi", -1, {"<1-1>|Unit number"}},     {"Gi1", -1, {"/|Unit number"}},
        {"Gi1/", -1, {"<0-0>|Slot number"}},   {"Gi1/0/", -1, {"<1-24>|GigabitEthernet interface number"}},
        {"Gi1/0/2", 0, {" ,", " -", " <cr>"}}, {"Gi1/0/2-3", 0, {" ,", " <cr>"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        HelpLog log;
        up_str_option_t opt{0, &log};
        up_list l;
        EXPECT_EQ(c.rc, usStr2UpList(-1, c.text, &l, &opt));
        EXPECT_EQ(c.want, log.lines);
    }
    upStrCliParaSet(nullptr, nullptr, nullptr);
}

}  // namespace
