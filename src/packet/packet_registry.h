// The packet receiver registry and its rule tables.
//
// Modules (PACKET_MID_NODE_T, one per MID, in the module list) own named
// registrations (PACKET_REGIST_T). Enabling a registration copies it, as a
// snapshot, into one or more of eight rule tables chosen by its EtherType
// and IP protocol; each table is a doubly linked list of copies sorted by
// priority (lower first; among equal priorities the latest enabled first).
// A received frame is classified into exactly one table and that table is
// walked from the head: the cost of a frame is the number of copies in its
// table before the first owner, each a handful of compares.
//
// Locks: registRuleLock guards the module list, every registration and
// every walk; each table's own mutex guards its list. Order: registRuleLock,
// then a table mutex, then a QoS mutex (packet_qos.h).
//
// Every record is allocated with the tag "AXPacket_core".
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "packet/packet.h"
#include "platform_core/axpacket.h"
#include "platform_core/pal.h"

namespace pc::packet {

constexpr uint32_t kQueueNone = 0xFFFFFFFFu;
constexpr uint32_t kDeliveryMsgSize = 100;

// Allocation of the registry's records and containers through the
// accounted allocator under the service's tag.
void *record_alloc(size_t size);
void record_free(void *ptr) noexcept;

template <class T>
struct RecordAllocator {
    using value_type = T;
    RecordAllocator() = default;
    template <class U>
    RecordAllocator(const RecordAllocator<U> &) {}
    T *allocate(size_t n) {
        void *p = record_alloc(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { record_free(p); }
    template <class U>
    bool operator==(const RecordAllocator<U> &) const {
        return true;
    }
};
template <class T>
using RecordVector = std::vector<T, RecordAllocator<T>>;

struct AccountedRecord {
    static void *operator new(size_t size) {
        void *p = record_alloc(size);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    static void *operator new(size_t size, const std::nothrow_t &) noexcept { return record_alloc(size); }
    static void operator delete(void *p) noexcept { record_free(p); }
};

// Match slots of a field node.
enum MatchSlot : uint32_t {
    kSlotDstMac = 0,
    kSlotSrcMac = 1,
    kSlotDstIp = 3,
    kSlotSrcIp = 4,
    kSlotDstPort = 6,
    kSlotSrcPort = 7,
    kSlotDstIp6 = 8,
    kSlotSrcIp6 = 9,
};

// A field compared against the frame: value (already masked) and mask as
// big-endian bytes of the slot's width (MACs 8, IPv4 and ports 4, IPv6 16).
struct FieldNode {
    uint32_t slot = 0;
    uint8_t value[16]{};
    uint8_t mask[16]{};
};

struct UdfNode {
    uint32_t mode = UDF_EQUAL;
    uint32_t offset = 0;
    uint32_t value = 0;
    uint32_t mask = 0;
};

}  // namespace pc::packet

// A registration, and (in a rule table) a snapshot copy of one.
struct PACKET_REGIST_S : pc::packet::AccountedRecord {
    char name[PACKET_REG_NAME_SIZE]{};
    pc::packet::RecordVector<pc::packet::FieldNode> fields;  // all must match
    pc::packet::RecordVector<pc::packet::UdfNode> udfs;
    uint32_t msgQ = pc::packet::kQueueNone;  // module's queue, or all ones
    uint32_t thread = 0;
    PACKET_REGIST_S *next = nullptr;  // links of a rule-table copy (table mutex)
    PACKET_REGIST_S *prev = nullptr;
    AXPACKET_RX_CB pktCallback = nullptr;
    AXPACKET_ENABLE_CB enableCallback = nullptr;
    uint64_t hitCount = 0;  // frames matched by this copy (table mutex)
    uint32_t mid = 0;
    uint32_t priority = 0;
    uint32_t pid = PID_CORE;
    uint32_t enabled = 0;
    uint32_t own = AX_RX_NOT_OWNED;
    uint16_t etherType = 0;
    uint8_t ipProtocol = 0;
    uint8_t icmpv6Type = 0;
    uint8_t newSa = 0;
    uint32_t qosRate = 0;
};

// A module: its queue and the registrations it owns (registRuleLock).
struct PACKET_MID_NODE_S : pc::packet::AccountedRecord {
    uint32_t mid = 0;
    uint32_t pid = PID_CORE;  // the process that registered the module
    uint32_t count = 0;
    uint32_t msgQ = pc::packet::kQueueNone;
    uint32_t thread = 0;                                        // reserved
    pc::packet::RecordVector<PACKET_REGIST_T *> registrations;  // owned
};

namespace pc::packet {

struct RuleTable {
    PACKET_REGIST_T *head = nullptr;  // owned copies (mutex)
    PACKET_REGIST_T *tail = nullptr;
    pal_mutex_t mutex = nullptr;
};

// Names of the tables as listings show them.
constexpr const char *kTableNames[AXPKT_TBL_NUM] = {"UDP_V4", "TCP_V4",        "NO_TCP_UDP_V4", "UDP_V6",
                                                    "TCP_V6", "NO_TCP_UDP_V6", "NO_IP",         "NEW_SA"};

// The registry's lock and tables (created by axPacketFilterInit and
// axPacketInit respectively).
pal_mutex_t regist_lock();
RuleTable &rule_table(uint32_t index);
int rule_tables_create();
void rule_tables_destroy();

// Hands a matching frame to a copy's module; false when the delivery failed
// in a way that skips the copy's ownership step.
bool deliver(const PACKET_REGIST_T &copy, const AX_PACKET_T &pkt);

// The walk of the NEW_SA table for a flagged frame.
void walk_new_sa(AX_PACKET_T &pkt);

// The registration (mid, name), or null (registRuleLock held).
PACKET_REGIST_T *find_registration(uint32_t mid, const char *name);

// A count that moves on whenever a registration is added or removed (the
// change is made under registRuleLock, then counted). What a work thread
// looked up stays true while the count stands, so it need not take
// registRuleLock per frame against the walk that holds it.
uint64_t registrations_generation();

// Registry operations for a given process (pid 1 for the core's own).
int register_module(uint32_t mid, int priority, uint32_t stackSize, uint32_t queueLen, uint32_t pid);
int register_packet(uint32_t mid, const char *name, uint32_t own, uint32_t priority, uint32_t pid,
                    AXPACKET_RX_CB cb, AXPACKET_ENABLE_CB en);
int unregister_packet(uint32_t mid, const char *name);
// Removes a module of another process and every registration it owns; -1
// for a module of the core.
int unregister_module(uint32_t mid);
// The process that registered module `mid`, or 0 when none did.
uint32_t module_owner(uint32_t mid);
// The modules process `pid` registered.
std::vector<uint32_t> modules_of(uint32_t pid);
// Logs a refusal (an error line) and keeps its text for the calling thread,
// for the RPC's answer; returns -1.
int refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The calling thread's last refusal ("" after clear_refusal).
const char *last_refusal();
void clear_refusal();
// Drops a process's modules when the hub sees it go (the core only); 0 or -1.
int follow_process_departures();
int add_field(uint32_t mid, const char *name, uint32_t internalCode, std::span<const uint8_t> value,
              std::span<const uint8_t> mask, uint32_t word, uint32_t wordMask);
int add_udf(uint32_t mid, const char *name, uint32_t mode, uint32_t offset, uint32_t value, uint32_t mask);
int enable_packet(uint32_t mid, const char *name);
int disable_packet(uint32_t mid, const char *name);
int register_qos(uint32_t mid, const char *name, uint32_t mode, uint32_t speed);

// Internal field codes of the RPC (same as the RPC's setType values).
enum FieldCode : uint32_t {
    kCodeSrcMac = 4,
    kCodeDstMac = 5,
    kCodeLenType = 6,
    kCodeSrcIp = 7,
    kCodeDstIp = 8,
    kCodeSrcIp6 = 9,
    kCodeDstIp6 = 10,
    kCodeProType = 11,
    kCodeIcmp6Type = 12,
    kCodeSrcPort = 13,
    kCodeDstPort = 14,
    kCodeNewSa = 17,
};

// A frame's private copy and the 32-bit word that names it in a queue item.
// The table keeps the copy's length too: a queue item may have been written
// by anyone who can open the queue, so its own length is not believed.
struct FrameCopy {
    uint8_t *data = nullptr;  // null: no such handle
    uint32_t len = 0;
};
uint32_t frame_handle_put(FrameCopy copy);  // 0 when no slot could be had
FrameCopy frame_handle_take(uint32_t handle);

// Counting of axpkt_stat.
void stat_add(uint32_t word);

// The packet service's JSON pages for the web server (packet_web_json.cpp).
int register_json_pages();

}  // namespace pc::packet
