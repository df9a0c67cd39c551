// The packet receiver registry: its lock, the modules and their
// registrations (packet_registry.h). A registration's match fields are
// added in packet_fields.cpp, its copies enabled into the rule tables in
// packet_rule_tables.cpp, and the exported calls that register are in
// packet_register_calls.cpp.
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

}  // namespace pc::packet

using namespace pc::packet;

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

}  // extern "C"
