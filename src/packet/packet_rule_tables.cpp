// Enabling registrations into the rule tables: a registration's snapshot
// copies are put into the tables its EtherType and IP protocol choose, in
// priority order, and taken out again (packet_registry.h). Called with
// registRuleLock held; each table's mutex is taken around its change.
#include "packet/packet_registry.h"

#include <cstring>
#include <new>
#include <vector>

#include "pal/mutex_guard.h"
#include "platform_core/platform.h"

namespace pc::packet {

namespace {

// Removes every copy of (mid, name) from table `t` (its mutex held).
void unlink_copies(RuleTable &t, uint32_t mid, const char *name) {
    for (PACKET_REGIST_T *c = t.head; c != nullptr;) {
        PACKET_REGIST_T *next = c->next;
        if (c->mid == mid && std::strcmp(c->name, name) == 0) {
            (c->prev ? c->prev->next : t.head) = c->next;
            (c->next ? c->next->prev : t.tail) = c->prev;
            delete c;
        }
        c = next;
    }
}

// Inserts before the first copy whose priority is not lower.
void insert_copy(RuleTable &t, PACKET_REGIST_T *copy) {
    PACKET_REGIST_T *at = t.head;
    while (at != nullptr && at->priority < copy->priority) at = at->next;
    copy->next = at;
    copy->prev = at ? at->prev : t.tail;
    (copy->prev ? copy->prev->next : t.head) = copy;
    (at ? at->prev : t.tail) = copy;
}

bool copy_present(uint32_t mid, const char *name) {
    for (uint32_t i = 0; i < AXPKT_TBL_NUM; ++i) {
        RuleTable &t = rule_table(i);
        pal::MutexGuard g(t.mutex);
        for (PACKET_REGIST_T *c = t.head; c != nullptr; c = c->next)
            if (c->mid == mid && std::strcmp(c->name, name) == 0) return true;
    }
    return false;
}

std::vector<uint32_t> target_tables(const PACKET_REGIST_T &r) {
    auto by_proto = [&](uint32_t tcp, uint32_t udp, uint32_t other) -> std::vector<uint32_t> {
        switch (r.ipProtocol) {
            case 6:
                return {tcp};
            case 17:
                return {udp};
            case 0:
                return {tcp, udp, other};
            default:
                return {other};
        }
    };
    if (r.etherType == 0x0800) return by_proto(AXPKT_TBL_TCP_V4, AXPKT_TBL_UDP_V4, AXPKT_TBL_NO_TCP_UDP_V4);
    if (r.etherType == 0x86DD) return by_proto(AXPKT_TBL_TCP_V6, AXPKT_TBL_UDP_V6, AXPKT_TBL_NO_TCP_UDP_V6);
    return {r.newSa == 1 ? static_cast<uint32_t>(AXPKT_TBL_NEW_SA) : static_cast<uint32_t>(AXPKT_TBL_NO_IP)};
}

}  // namespace

int enable_packet(uint32_t mid, const char *name) {
    if (copy_present(mid, name)) return 0;
    PACKET_REGIST_T *r = find_registration(mid, name);
    if (r == nullptr) {
        PFM_ERR(kMid, "Not registered %d %s\n", static_cast<int>(mid), name);
        return -1;
    }
    r->enabled = 1;
    for (uint32_t index : target_tables(*r)) {
        PACKET_REGIST_T *copy = nullptr;
        try {
            copy = new PACKET_REGIST_T;
            copy->fields = r->fields;
            copy->udfs = r->udfs;
        } catch (const std::bad_alloc &) {
            delete copy;
            return -1;
        }
        std::memcpy(copy->name, r->name, sizeof copy->name);
        copy->msgQ = r->msgQ;
        copy->thread = r->thread;
        copy->pktCallback = r->pktCallback;
        copy->enableCallback = r->enableCallback;
        copy->mid = r->mid;
        copy->priority = r->priority;
        copy->pid = r->pid;
        copy->enabled = r->enabled;
        copy->own = r->own;
        copy->etherType = r->etherType;
        copy->ipProtocol = r->ipProtocol;
        copy->icmpv6Type = r->icmpv6Type;
        copy->newSa = r->newSa;
        copy->qosRate = r->qosRate;
        RuleTable &t = rule_table(index);
        pal::MutexGuard g(t.mutex);
        if (!g.held()) {
            delete copy;
            return -1;
        }
        insert_copy(t, copy);
    }
    return 0;
}

int disable_packet(uint32_t mid, const char *name) {
    for (uint32_t i = 0; i < AXPKT_TBL_NUM; ++i) {
        RuleTable &t = rule_table(i);
        pal::MutexGuard g(t.mutex);
        unlink_copies(t, mid, name);
    }
    return 0;
}

}  // namespace pc::packet
