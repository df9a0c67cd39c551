// Shared pieces of the traffic-control tests: the core on the simulated
// switch with the classifier's position hooks in place, and reading a
// rule back from the simulated ACL table.
#pragma once

#include <cstring>

#include <gtest/gtest.h>

#include "packet/packet_support.h"
#include "platform_core/classifier.h"
#include "platform_core/pktctl.h"

namespace pc::test::pktctl {

using namespace pc::test::packet;

inline void start_core() {
    simAppintfAclHooksSet();
    start_core_once();
}

inline uint32_t phys(uint32_t pos) {
    uint32_t phy = 0, dbl = 0;
    EXPECT_EQ(adAxclEntryPosToPhisical(pos, &phy, &dbl), 0);
    return phy;
}

inline sdk_acl_action_t action_of(uint32_t pos) {
    sdk_acl_action_t a{};
    EXPECT_EQ(sdk_acl_ruleAction_get(0, 0, phys(pos), &a), 0);
    return a;
}

inline bool valid(uint32_t pos) {
    simAclEntryInfo info{};
    EXPECT_EQ(simAclEntryGet(phys(pos), &info), 0);
    return info.valid != 0;
}

// The field's value as a number (big-endian bytes), in either half of the
// rule; -1 when it is not written.
inline int64_t field(uint32_t pos, uint32_t type, uint32_t width) {
    uint32_t phy = phys(pos);
    uint8_t v[6]{};
    for (uint32_t idx : {phy, phy + 1}) {
        if (simAclFieldGet(idx, type, v, nullptr) != 0) continue;
        int64_t n = 0;
        for (uint32_t i = 0; i < width; ++i) n = (n << 8) | v[i];
        return n;
    }
    return -1;
}

inline const PKT_CTL_ENTRY_T *entry(const char *name) {
    for (uint32_t i = 0; i < axPktCtlEntryCount; ++i)
        if (std::strcmp(axPktCtlEntry[i].name, name) == 0) return &axPktCtlEntry[i];
    return nullptr;
}

}  // namespace pc::test::pktctl
