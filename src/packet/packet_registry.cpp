// The packet receiver registry: modules, registrations, their fields, and
// enabling into the rule tables.
#include "packet/packet_registry.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "packet/packet_qos.h"
#include "pal/mutex_guard.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::packet {

namespace {

constexpr size_t kQueueNameMax = 40;
constexpr uint32_t kDeliveryQueueMsgSize = kDeliveryMsgSize;

pal_mutex_t g_regist_lock = nullptr;                      // registRuleLock
RecordVector<PACKET_MID_NODE_T *> *g_mid_list = nullptr;  // midList (registRuleLock)
std::atomic<uint64_t> g_generation{0};  // moves on, under registRuleLock, when a registration comes or goes

void registrations_changed() { g_generation.fetch_add(1, std::memory_order_release); }

PACKET_MID_NODE_T *find_mid(uint32_t mid) {
    if (g_mid_list == nullptr) return nullptr;
    for (PACKET_MID_NODE_T *m : *g_mid_list)
        if (m->mid == mid) return m;
    return nullptr;
}

PACKET_REGIST_T *find_reg(uint32_t mid, const char *name) {
    PACKET_MID_NODE_T *m = find_mid(mid);
    if (m == nullptr) return nullptr;
    for (PACKET_REGIST_T *r : m->registrations)
        if (std::strcmp(r->name, name) == 0) return r;
    return nullptr;
}

std::string queue_name(uint32_t mid) {
    char name[kQueueNameMax + 1];
    std::snprintf(name, sizeof name, "/AXPkt_%s", midNameGet(static_cast<int>(mid)));
    return name;
}

void work_thread_entry(void *arg) { axpacketWorkThread(arg); }

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

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void *record_alloc(size_t size) {
    return size > UINT32_MAX ? nullptr : pal_calloc(1, static_cast<unsigned>(size), kAllocTag);
}
void record_free(void *ptr) noexcept {
    if (ptr != nullptr) pal_free(ptr);
}

pal_mutex_t regist_lock() { return g_regist_lock; }

PACKET_REGIST_T *find_registration(uint32_t mid, const char *name) { return find_reg(mid, name); }

uint64_t registrations_generation() { return g_generation.load(std::memory_order_acquire); }

int register_module(uint32_t mid, int priority, uint32_t stackSize, uint32_t queueLen, uint32_t pid) {
    if (g_mid_list == nullptr) return -1;
    if (PACKET_MID_NODE_T *known = find_mid(mid)) {
        if (pid == PID_CORE) {
            PFM_ERR(kMid, "Mid %d is exist\n", static_cast<int>(mid));
            return -1;
        }
        // Another process registering its module again (after the core
        // restarted, or twice) keeps the one it has.
        if (known->pid == pid) return 0;
        return refuse("module %d is registered by process %s(%d)", static_cast<int>(mid),
                      pidNameGet(static_cast<int>(known->pid)), static_cast<int>(known->pid));
    }
    std::string name = queue_name(mid);
    auto *node = new (std::nothrow) PACKET_MID_NODE_T;
    if (node == nullptr) {
        PFM_ERR(kMid, "Mid list add error %d\n", static_cast<int>(mid));
        return -1;
    }
    node->mid = mid;
    node->pid = pid;
    int q = -1;
    if (pid != PID_CORE) {
        node->msgQ = kQueueNone;
    } else {
        q = pal_msgQ_create(name.c_str(), queueLen, kDeliveryQueueMsgSize, PAL_MSGQ_RDWR);
        if (q < 0) {
            PFM_ERR(kMid, "Msgq create error %s\n", name.c_str());
            delete node;
            return -1;
        }
        node->msgQ = static_cast<uint32_t>(q);
    }
    try {
        g_mid_list->push_back(node);
    } catch (const std::bad_alloc &) {
        PFM_ERR(kMid, "Mid list add error %d\n", static_cast<int>(mid));
        if (q >= 0) {
            pal_msgQ_close(q);
            pal_msgQ_destroy(name.c_str());
        }
        delete node;
        return -1;
    }
    if (pid == PID_CORE) {
        pal_thread_t th =
            pal_thread_create(name.c_str(), stackSize, static_cast<unsigned>(priority), work_thread_entry,
                              reinterpret_cast<void *>(static_cast<uintptr_t>(mid)));
        if (th == PAL_THREAD_INVALID) {
            PFM_ERR(kMid, "Thread create error %s\n", name.c_str());
            g_mid_list->pop_back();
            pal_msgQ_close(q);
            pal_msgQ_destroy(name.c_str());
            delete node;
            return -1;
        }
    }
    return 0;
}

int register_packet(uint32_t mid, const char *name, uint32_t own, uint32_t priority, uint32_t pid,
                    AXPACKET_RX_CB cb, AXPACKET_ENABLE_CB en) {
    PACKET_MID_NODE_T *m = find_mid(mid);
    if (m == nullptr) return refuse("module %d is not registered", static_cast<int>(mid));
    if (m->pid != pid)
        return refuse("module %d belongs to process %s(%d)", static_cast<int>(mid),
                      pidNameGet(static_cast<int>(m->pid)), static_cast<int>(m->pid));
    if (PACKET_REGIST_T *known = find_reg(mid, name)) {
        // A second registration of the same name by another process replaces
        // the first: its fields, its state and its copies in the rule tables
        // go. The core's own modules keep refusing a duplicate.
        if (pid == PID_CORE) {
            PFM_ERR(kMid, "Already registered %d %s\n", static_cast<int>(mid), name);
            return -1;
        }
        if (known->pid != pid)
            return refuse("registration %d %s belongs to process %s(%d)", static_cast<int>(mid), name,
                          pidNameGet(static_cast<int>(known->pid)), static_cast<int>(known->pid));
        if (unregister_packet(mid, name) != 0) return -1;
    }
    auto *r = new (std::nothrow) PACKET_REGIST_T;
    if (r == nullptr) return -1;
    std::snprintf(r->name, sizeof r->name, "%s", name);
    try {
        m->registrations.push_back(r);
    } catch (const std::bad_alloc &) {
        delete r;
        return -1;
    }
    r->msgQ = m->msgQ;
    r->thread = m->thread;
    ++m->count;
    r->mid = mid;
    r->priority = priority;
    r->own = own;
    r->pid = pid;
    r->pktCallback = cb;
    r->enableCallback = en;
    registrations_changed();
    PFM_DBG(kMid, "AXPacket Register module %s\n", name);
    return 0;
}

int unregister_packet(uint32_t mid, const char *name) {
    if (find_reg(mid, name) == nullptr) return 0;
    disable_packet(mid, name);
    PACKET_MID_NODE_T *m = find_mid(mid);
    auto it = std::find_if(m->registrations.begin(), m->registrations.end(),
                           [&](PACKET_REGIST_T *r) { return std::strcmp(r->name, name) == 0; });
    if (it == m->registrations.end()) {
        PFM_ERR(kMid, "Cannot find reg node %d %s\n", static_cast<int>(mid), name);
        return -1;
    }
    delete *it;
    m->registrations.erase(it);
    --m->count;
    registrations_changed();
    return 0;
}

int unregister_module(uint32_t mid) {
    PACKET_MID_NODE_T *m = find_mid(mid);
    if (m == nullptr) return 0;
    if (m->pid == PID_CORE) return -1;  // the core's modules own a queue and a work thread
    while (!m->registrations.empty()) {
        char name[PACKET_REG_NAME_SIZE + 1];
        std::snprintf(name, sizeof name, "%s", m->registrations.back()->name);
        if (unregister_packet(mid, name) != 0) return -1;
    }
    std::erase(*g_mid_list, m);
    delete m;
    return 0;
}

uint32_t module_owner(uint32_t mid) {
    PACKET_MID_NODE_T *m = find_mid(mid);
    return m != nullptr ? m->pid : 0;
}

std::vector<uint32_t> modules_of(uint32_t pid) {
    std::vector<uint32_t> mids;
    if (g_mid_list != nullptr)
        for (PACKET_MID_NODE_T *m : *g_mid_list)
            if (m->pid == pid) mids.push_back(m->mid);
    return mids;
}

int add_field(uint32_t mid, const char *name, uint32_t code, std::span<const uint8_t> value,
              std::span<const uint8_t> mask, uint32_t word, uint32_t wordMask) {
    PACKET_REGIST_T *r = find_reg(mid, name);
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
    PACKET_REGIST_T *r = find_reg(mid, name);
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

int enable_packet(uint32_t mid, const char *name) {
    if (copy_present(mid, name)) return 0;
    PACKET_REGIST_T *r = find_reg(mid, name);
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

using namespace pc::packet;

namespace {

// Common checks of the calls that name a registration.
#define CHECK_REG_NAME(regName)                                               \
    do {                                                                      \
        PFM_ENSURE_RET(kMid, NULL != regName, -1);                            \
        PFM_ENSURE_RET(kMid, PACKET_REG_NAME_LEN_MAX >= strlen(regName), -1); \
    } while (0)

// Runs `op` under registRuleLock; -1 when the registry is not there.
template <class F>
int locked(F &&op) {
    if (regist_lock() == nullptr) return -1;
    pc::pal::MutexGuard g(regist_lock());
    if (!g.held()) return -1;
    return op();
}

}  // namespace

extern "C" {

PC_API int axPacketFilterInit(void) {
    if (g_regist_lock != nullptr) return 0;
    char name[64];
    std::snprintf(name, sizeof name, "AXPktLock_%s", pidNameGet(pidGetCurrent()));
    g_mid_list = new (std::nothrow) RecordVector<PACKET_MID_NODE_T *>;
    if (g_mid_list == nullptr) return -1;
    g_regist_lock = pal_mutex_create(name);
    if (g_regist_lock == nullptr || qos_locks_create() != 0) {
        axPacketFilterDeInit();
        return -1;
    }
    return 0;
}

PC_API void axPacketFilterDeInit(void) {
    qos_locks_destroy();
    if (g_mid_list != nullptr) {
        for (PACKET_MID_NODE_T *m : *g_mid_list) {
            for (PACKET_REGIST_T *r : m->registrations) delete r;
            delete m;
        }
        delete g_mid_list;
        g_mid_list = nullptr;
        registrations_changed();
    }
    if (g_regist_lock != nullptr) pal_mutex_destroy(g_regist_lock);
    g_regist_lock = nullptr;
}

PC_API PACKET_MID_NODE_T *axPacketMidGet(uint32_t mid) {
    if (regist_lock() == nullptr) return nullptr;
    pc::pal::MutexGuard g(regist_lock());
    return find_mid(mid);
}

PC_API PACKET_REGIST_T *axPacketGetRegistNode(uint32_t mid, const char *regName) {
    if (regist_lock() == nullptr || regName == nullptr) return nullptr;
    pc::pal::MutexGuard g(regist_lock());
    return find_reg(mid, regName);
}

PC_API int axPacketCheckIsRegister(uint32_t mid, const char *regName) {
    return axPacketGetRegistNode(mid, regName) != nullptr ? 1 : 0;
}

PC_API int axPacketRegisterModule(uint32_t modId, int priority, uint32_t stackSize, uint32_t queueLen) {
    PFM_ENSURE_RET(kMid, (MID_INVALID < modId) && (MID_MAX > modId), -1);
    PFM_ENSURE_RET(kMid, 0 <= priority && 255 > priority, -1);
    return locked([&] { return register_module(modId, priority, stackSize, queueLen, PID_CORE); });
}

PC_API int axPacketRegisterPacket(uint32_t modId, const char *regName, uint32_t own, uint32_t priority,
                                  AXPACKET_RX_CB pktCallback, AXPACKET_ENABLE_CB enableCallback) {
    PFM_ENSURE_RET(kMid, NULL != regName, -1);
    PFM_ENSURE_RET(kMid, NULL != pktCallback, -1);
    PFM_ENSURE_RET(kMid, PACKET_REG_NAME_LEN_MAX >= strlen(regName), -1);
    PFM_ENSURE_RET(kMid, PFM_PRIORITY_IS_VALID(priority), -1);
    return locked([&] {
        return register_packet(modId, regName, own, priority, PID_CORE, pktCallback, enableCallback);
    });
}

PC_API int axPacketUnregisterPacket(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return unregister_packet(modId, regName); });
}

PC_API int axPacketRegisterField(uint32_t modId, const char *regName, uint32_t fieldType, uint32_t value,
                                 uint32_t mask) {
    CHECK_REG_NAME(regName);
    static constexpr uint32_t kCodeOf[] = {kCodeDstMac, kCodeSrcMac,  kCodeLenType,   kCodeDstIp,
                                           kCodeSrcIp,  kCodeProType, kCodeDstPort,   kCodeSrcPort,
                                           kCodeDstIp6, kCodeSrcIp6,  kCodeIcmp6Type, kCodeNewSa};
    bool allowed =
        (fieldType >= LEN_TYPE && fieldType <= SRC_PORT) || fieldType == ICMPV6_TYPE || fieldType == NEW_SA;
    if (!allowed) return -1;
    return locked([&] { return add_field(modId, regName, kCodeOf[fieldType], {}, {}, value, mask); });
}

PC_API int axPacketRegisterFieldIpv6(uint32_t modId, const char *regName, uint32_t fieldType,
                                     const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask) {
    CHECK_REG_NAME(regName);
    if ((fieldType != DES_IPV6 && fieldType != SRC_IPV6) || value == nullptr || mask == nullptr) return -1;
    uint32_t code = fieldType == DES_IPV6 ? kCodeDstIp6 : kCodeSrcIp6;
    return locked([&] { return add_field(modId, regName, code, value->addr, mask->addr, 0, 0); });
}

PC_API int axPacketRegisterMacaddr(uint32_t modId, const char *regName, uint32_t field_type,
                                   const uint8_t *mac, const uint8_t *mask) {
    CHECK_REG_NAME(regName);
    PFM_ENSURE_RET(kMid, (field_type == DES_MAC) || (field_type == SRC_MAC), -1);
    if (mac == nullptr || mask == nullptr) return -1;
    uint32_t code = field_type == DES_MAC ? kCodeDstMac : kCodeSrcMac;
    uint8_t v[8]{}, m[8]{};
    std::memcpy(v, mac, MAC_ADDR_SIZE);
    std::memcpy(m, mask, MAC_ADDR_SIZE);
    return locked([&] { return add_field(modId, regName, code, v, m, 0, 0); });
}

PC_API int axPacketRegisterUdf(uint32_t modId, const char *regName, uint32_t mode, uint32_t offset,
                               uint32_t value, uint32_t mask) {
    CHECK_REG_NAME(regName);
    if (mode != UDF_EQUAL && mode != UDF_NOT_EQUAL) return -1;
    return locked([&] { return add_udf(modId, regName, mode, offset, value, mask); });
}

PC_API int axPacketRegisterEnable(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return enable_packet(modId, regName); });
}

PC_API int axPacketRegisterDisable(uint32_t modId, const char *regName) {
    CHECK_REG_NAME(regName);
    return locked([&] { return disable_packet(modId, regName); });
}

PC_API int axPacketRegisterQoS(uint32_t modId, const char *regName, uint32_t mode, uint32_t speed) {
    CHECK_REG_NAME(regName);
    return locked([&] { return register_qos(modId, regName, mode, speed); });
}

}  // extern "C"
