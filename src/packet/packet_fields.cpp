// The match fields of a registration: header fields compared under a mask
// (MACs, IPv4 and IPv6 addresses, ports) and the user-defined words, as
// the classifier reads them (packet_registry.h). Called with
// registRuleLock held.
#include "packet/packet_registry.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform_core/platform.h"

namespace pc::packet {

namespace {

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

int add_field(uint32_t mid, const char *name, uint32_t code, std::span<const uint8_t> value,
              std::span<const uint8_t> mask, uint32_t word, uint32_t wordMask) {
    PACKET_REGIST_T *r = find_registration(mid, name);
    if (r == nullptr) {
        PFM_ERR(kMid, "Not registered %d %s\n", static_cast<int>(mid), name);
        return -1;
    }
    FieldNode node;
    size_t width = 4;
    switch (code) {
        case kCodeLenType:
            r->etherType = static_cast<uint16_t>(word);
            return 0;
        case kCodeProType:
            r->ipProtocol = static_cast<uint8_t>(word);
            return 0;
        case kCodeIcmp6Type:
            r->icmpv6Type = static_cast<uint8_t>(word);
            return 0;
        case kCodeNewSa:
            r->newSa = 1;
            return 0;
        case kCodeDstMac:
            node.slot = kSlotDstMac;
            width = 8;
            break;
        case kCodeSrcMac:
            node.slot = kSlotSrcMac;
            width = 8;
            break;
        case kCodeDstIp:
            node.slot = kSlotDstIp;
            break;
        case kCodeSrcIp:
            node.slot = kSlotSrcIp;
            break;
        case kCodeDstPort:
            node.slot = kSlotDstPort;
            break;
        case kCodeSrcPort:
            node.slot = kSlotSrcPort;
            break;
        case kCodeDstIp6:
            node.slot = kSlotDstIp6;
            width = 16;
            break;
        case kCodeSrcIp6:
            node.slot = kSlotSrcIp6;
            width = 16;
            break;
        default:
            return -1;
    }
    if (width == 4) {
        put_be32(node.mask, wordMask);
        put_be32(node.value, word);
    } else {
        size_t n = std::min({value.size(), mask.size(), width});
        std::memcpy(node.value, value.data(), n);
        std::memcpy(node.mask, mask.data(), n);
    }
    for (size_t i = 0; i < width; ++i) node.value[i] &= node.mask[i];
    try {
        r->fields.push_back(node);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

int add_udf(uint32_t mid, const char *name, uint32_t mode, uint32_t offset, uint32_t value, uint32_t mask) {
    PACKET_REGIST_T *r = find_registration(mid, name);
    if (r == nullptr) {
        PFM_ERR(kMid, "Not registered %d %s\n", static_cast<int>(mid), name);
        return -1;
    }
    try {
        r->udfs.push_back(UdfNode{mode, offset, value, mask});
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

}  // namespace pc::packet
