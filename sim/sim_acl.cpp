// The simulated chip's ACL table, meters and learning traps, and the
// sibling classifier library that allocates rule positions over it
// (sim_chip.h describes the behaviour). Like the rest of the chip, the
// table is one per switch: it lives in a shared segment
// (sim_shared_segment.h), in fixed-size rows, under one robust lock.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdarg>
#include <cstring>

#include "platform_core/appintf.h"
#include "platform_core/chip_acl.h"
#include "platform_core/classifier.h"
#include "platform_sim/sim_chip.h"
#include "sim_chip_internal.h"
#include "sim_fixed_map.h"
#include "sim_shared_segment.h"

using pc::sim::FixedMap;
using pc::sim::SegmentHeader;
using pc::sim::SharedLock;
using pc::sim::SharedMutex;

namespace {

// Vendor errors of the simulated SDK.
constexpr int kErrInput = 0x1001;     // bad unit, phase, index or pointer
constexpr int kErrTemplate = 0x1002;  // the entry's template lacks the field
constexpr int kErrPosition = 0x1003;  // position not allocated
constexpr int kErrFull = 0x1004;      // no free position

constexpr uint32_t kFrontPositions = SIM_ACL_FRONT_POSITIONS;
constexpr uint32_t kBackFirst = SIM_ACL_BACK_FIRST;
constexpr uint32_t kBackPositions = SIM_ACL_BACK_POSITIONS;
constexpr uint32_t kPhysNum = SIM_ACL_ENTRY_NUM;
constexpr uint32_t kTemplateBlock = 3;
constexpr size_t kMaxWidth = 6;
constexpr uint16_t kTpid = 0x8100;
constexpr uint16_t kTpidOuter = 0x9100;

size_t field_width(uint32_t field) {
    switch (field) {
        case SDK_ACL_FIELD_DMAC:
        case SDK_ACL_FIELD_SMAC:
            return 6;
        case SDK_ACL_FIELD_SPMASK:
        case SDK_ACL_FIELD_IP4_SIP:
        case SDK_ACL_FIELD_IP4_DIP:
            return 4;
        case SDK_ACL_FIELD_ETHERTYPE:
        case SDK_ACL_FIELD_L4_SPORT:
        case SDK_ACL_FIELD_L4_DPORT:
            return 2;
        case SDK_ACL_FIELD_IP_PROTO:
            return 1;
        default:
            return 0;
    }
}

// Template block 3: selector 0 holds the L2 and port fields, selector 1 the
// IPv4 address fields.
bool template_holds(uint32_t selector, uint32_t field) {
    switch (field) {
        case SDK_ACL_FIELD_SPMASK:
        case SDK_ACL_FIELD_ETHERTYPE:
        case SDK_ACL_FIELD_IP_PROTO:
        case SDK_ACL_FIELD_L4_SPORT:
        case SDK_ACL_FIELD_L4_DPORT:
            return true;
        case SDK_ACL_FIELD_DMAC:
        case SDK_ACL_FIELD_SMAC:
            return selector == 0;
        case SDK_ACL_FIELD_IP4_SIP:
        case SDK_ACL_FIELD_IP4_DIP:
            return selector == 1;
        default:
            return false;
    }
}

// The field types an entry can hold, each with its slot in the entry.
constexpr uint32_t kFieldSlots[] = {
    SDK_ACL_FIELD_SPMASK,    SDK_ACL_FIELD_DMAC,     SDK_ACL_FIELD_SMAC,
    SDK_ACL_FIELD_ETHERTYPE, SDK_ACL_FIELD_IP4_SIP,  SDK_ACL_FIELD_IP4_DIP,
    SDK_ACL_FIELD_IP_PROTO,  SDK_ACL_FIELD_L4_SPORT, SDK_ACL_FIELD_L4_DPORT,
};
constexpr size_t kFieldSlotNum = std::size(kFieldSlots);

int slot_of(uint32_t field) {
    for (size_t i = 0; i < kFieldSlotNum; ++i)
        if (kFieldSlots[i] == field) return static_cast<int>(i);
    return -1;
}

struct Field {
    bool written = false;
    std::array<uint8_t, kMaxWidth> value{};
    std::array<uint8_t, kMaxWidth> mask{};
};

struct Entry {
    bool bound = false;
    uint32_t block = 0;
    uint32_t selector = 0;
    bool valid = false;
    sdk_acl_operation_t op{};
    std::array<Field, kFieldSlotNum> fields{};  // by slot_of(field type)
    sdk_acl_action_t action{};
    uint32_t hits = 0;
};

struct Meter {
    bool enabled = false;
    uint32_t rate = 0;   // frames per second
    uint32_t burst = 0;  // frames
    double tokens = 0;
    int64_t last_ns = 0;  // steady clock (the same in every process); 0: never taken
};

constexpr key_t kAclKey = 0x53494D41;       // "SIMA"
constexpr uint32_t kAclMagic = 0x41434C31;  // "ACL1"
constexpr size_t kMgmtTypes = 64;

struct Acl {
    SegmentHeader header;
    SharedMutex lock;  // guards every field below
    std::array<Entry, kPhysNum> entries;
    std::array<Meter, kPhysNum> meters;
    std::array<bool, kFrontPositions> front_used;
    std::array<bool, kBackPositions> back_used;
    bool rma_learn;
    FixedMap<uint32_t, uint8_t, kMgmtTypes> mgmt_learn;  // frame type -> learning on
    uint32_t cpu_rate;
    int32_t fail_after;  // calls until the injected error, -1: none
    int32_t fail_error;

    static void init(Acl &a);
};

// Back to an empty table, in place (it is too big for a small stack).
void reset_locked(Acl &a) {
    a.entries.fill(Entry{});
    a.meters.fill(Meter{});
    a.front_used.fill(false);
    a.back_used.fill(false);
    a.rma_learn = true;
    a.mgmt_learn.clear();
    a.fail_after = -1;
}

void Acl::init(Acl &a) {
    a.lock.init();
    reset_locked(a);
    a.cpu_rate = 0;
    a.fail_error = 0;
}

// The switch's one ACL table, attached on first use.
Acl &acl() { return *pc::sim::segment<Acl>(kAclKey, kAclMagic); }

// An injected failure of the next SDK or classifier call, if armed.
int injected(Acl &a) {
    if (a.fail_after < 0) return 0;
    if (a.fail_after-- > 0) return 0;
    return a.fail_error;
}

bool pos_allocated(const Acl &a, uint32_t pos) {
    if (pos < kFrontPositions) return a.front_used[pos];
    if (pos >= kBackFirst && pos < kBackFirst + kBackPositions) return a.back_used[pos - kBackFirst];
    return false;
}

// Front positions are double rules on two entries; back positions single.
void phys_of(uint32_t pos, uint32_t &phy, bool &dbl) {
    if (pos < kFrontPositions) {
        phy = pos * 2;
        dbl = true;
    } else {
        phy = kFrontPositions * 2 + (pos - kBackFirst);
        dbl = false;
    }
}

bool entry_ok(uint32_t unit, uint32_t phase, uint32_t idx) {
    return unit == 0 && phase == 0 && idx < kPhysNum;
}

void clear_entry(Entry &e, Meter &m) {
    e = Entry{};
    m = Meter{};
}

// The lookup key of a frame: field type -> bytes as the chip sees them.
// Fields the frame does not carry read as zero bytes.
constexpr uint32_t kFieldTypes = 64;
struct Key {
    std::array<std::array<uint8_t, kMaxWidth>, kFieldTypes> bytes{};
    void put(uint32_t field, const uint8_t *p, size_t n) { std::memcpy(bytes[field].data(), p, n); }
};

Key key_of(uint32_t in_port, std::span<const uint8_t> f) {
    Key k;
    uint8_t pm[4]{};
    if (in_port < 32) pm[3 - in_port / 8] = static_cast<uint8_t>(1u << (in_port % 8));
    k.put(SDK_ACL_FIELD_SPMASK, pm, 4);
    k.put(SDK_ACL_FIELD_DMAC, &f[0], 6);
    k.put(SDK_ACL_FIELD_SMAC, &f[6], 6);
    size_t off = 12;
    while (off + 4 <= f.size()) {
        uint16_t t = static_cast<uint16_t>((f[off] << 8) | f[off + 1]);
        if (t != kTpid && t != kTpidOuter) break;
        off += 4;
    }
    if (off + 2 > f.size()) return k;
    k.put(SDK_ACL_FIELD_ETHERTYPE, &f[off], 2);
    uint16_t type = static_cast<uint16_t>((f[off] << 8) | f[off + 1]);
    size_t l3 = off + 2;
    size_t l4 = 0;
    uint8_t proto = 0;
    bool first_fragment = true;
    if (type == 0x0800 && l3 + 20 <= f.size()) {
        size_t ihl = static_cast<size_t>(f[l3] & 0x0F) * 4;
        proto = f[l3 + 9];
        first_fragment = ((f[l3 + 6] & 0x1F) | f[l3 + 7]) == 0;
        k.put(SDK_ACL_FIELD_IP_PROTO, &proto, 1);
        k.put(SDK_ACL_FIELD_IP4_SIP, &f[l3 + 12], 4);
        k.put(SDK_ACL_FIELD_IP4_DIP, &f[l3 + 16], 4);
        l4 = l3 + ihl;
    } else if (type == 0x86DD && l3 + 40 <= f.size()) {
        proto = f[l3 + 6];
        k.put(SDK_ACL_FIELD_IP_PROTO, &proto, 1);
        l4 = l3 + 40;
    }
    if ((proto == 6 || proto == 17) && first_fragment && l4 != 0 && l4 + 4 <= f.size()) {
        k.put(SDK_ACL_FIELD_L4_SPORT, &f[l4], 2);
        k.put(SDK_ACL_FIELD_L4_DPORT, &f[l4 + 2], 2);
    }
    return k;
}

bool fields_match(const Entry &e, const Key &k) {
    for (size_t slot = 0; slot < kFieldSlotNum; ++slot) {
        const Field &fld = e.fields[slot];
        if (!fld.written) continue;
        const uint32_t type = kFieldSlots[slot];
        const std::array<uint8_t, kMaxWidth> &have = k.bytes[type];
        for (size_t i = 0; i < field_width(type); ++i)
            if ((have[i] & fld.mask[i]) != (fld.value[i] & fld.mask[i])) return false;
    }
    return true;
}

// Takes a frame from the meter's bucket; false when out of profile.
bool meter_take(Meter &m) {
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (m.last_ns == 0) {
        m.tokens = m.burst;
    } else {
        double elapsed = static_cast<double>(now - m.last_ns) / 1e9;
        m.tokens = std::min<double>(m.burst, m.tokens + elapsed * m.rate);
    }
    m.last_ns = now;
    if (m.tokens < 1.0) return false;
    m.tokens -= 1.0;
    return true;
}

int alloc_front(Acl &a, int *pos) {
    for (uint32_t p = 0; p < kFrontPositions; ++p)
        if (!a.front_used[p]) {
            a.front_used[p] = true;
            *pos = static_cast<int>(p);
            return 0;
        }
    return kErrFull;
}

int alloc_back(Acl &a, uint32_t *pos) {
    for (uint32_t i = kBackPositions; i-- > 0;)
        if (!a.back_used[i]) {
            a.back_used[i] = true;
            *pos = kBackFirst + i;
            return 0;
        }
    return kErrFull;
}

}  // namespace

namespace pc::sim {

AclVerdict acl_classify(uint32_t in_port, std::span<const uint8_t> frame) {
    AclVerdict v;
    if (frame.size() < 14) return v;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (std::none_of(a.entries.begin(), a.entries.end(), [](const Entry &e) { return e.valid; })) return v;
    Key k = key_of(in_port, frame);
    for (uint32_t i = 0; i < kPhysNum; ++i) {
        Entry &e = a.entries[i];
        bool dbl = e.op.aggr != 0 && i + 1 < kPhysNum;
        if (!e.valid) {
            if (dbl) ++i;
            continue;
        }
        bool match = fields_match(e, k) && (!dbl || fields_match(a.entries[i + 1], k));
        if (!match) {
            if (dbl) ++i;
            continue;
        }
        ++e.hits;
        const sdk_acl_action_t &act = e.action;
        v.hit = true;
        v.index = static_cast<uint16_t>(i);
        v.drop = act.drop != 0;
        v.trap = act.fwd_en && (act.fwd_type & SDK_ACL_FWD_TRAP) != 0;
        v.copy = act.fwd_en && !v.trap && (act.fwd_type & SDK_ACL_FWD_COPY) != 0;
        v.pri_set = act.pri_en != 0;
        v.pri = static_cast<uint8_t>(act.pri & 7);
        if (act.meter_en && act.meter_idx < kPhysNum && a.meters[act.meter_idx].enabled)
            v.out_of_profile = !meter_take(a.meters[act.meter_idx]);
        return v;
    }
    return v;
}

bool rma_learning_enabled() {
    Acl &a = acl();
    SharedLock g(a.lock);
    return a.rma_learn;
}

}  // namespace pc::sim

extern "C" {

// ---- Chip SDK: ACL and traps -------------------------------------------------

int sdk_acl_ruleEntryField_write(uint32_t unit, uint32_t phase, uint32_t entryIdx, uint32_t fieldType,
                                 const uint8_t *data, const uint8_t *mask) {
    size_t width = field_width(fieldType);
    if (!entry_ok(unit, phase, entryIdx) || data == nullptr || mask == nullptr || width == 0)
        return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    Entry &e = a.entries[entryIdx];
    if (!e.bound || e.block != kTemplateBlock || !template_holds(e.selector, fieldType)) return kErrTemplate;
    Field f;
    f.written = true;
    std::memcpy(f.value.data(), data, width);
    std::memcpy(f.mask.data(), mask, width);
    e.fields[static_cast<size_t>(slot_of(fieldType))] = f;
    return 0;
}

int sdk_acl_ruleValidate_set(uint32_t unit, uint32_t phase, uint32_t entryIdx, uint32_t valid) {
    if (!entry_ok(unit, phase, entryIdx)) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    a.entries[entryIdx].valid = valid != 0;
    return 0;
}

int sdk_acl_ruleOperation_set(uint32_t unit, uint32_t phase, uint32_t entryIdx,
                              const sdk_acl_operation_t *op) {
    if (!entry_ok(unit, phase, entryIdx) || op == nullptr) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    a.entries[entryIdx].op = *op;
    return 0;
}

int sdk_acl_ruleAction_get(uint32_t unit, uint32_t phase, uint32_t entryIdx, sdk_acl_action_t *action) {
    if (!entry_ok(unit, phase, entryIdx) || action == nullptr) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    *action = a.entries[entryIdx].action;
    return 0;
}

int sdk_acl_ruleAction_set(uint32_t unit, uint32_t phase, uint32_t entryIdx, const sdk_acl_action_t *action) {
    if (!entry_ok(unit, phase, entryIdx) || action == nullptr) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    a.entries[entryIdx].action = *action;
    return 0;
}

int sdk_trap_mgmtFrameLearningEnable_set(uint32_t unit, uint32_t frameType, uint32_t enable) {
    if (unit != 0) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    a.mgmt_learn.set(frameType, enable != 0 ? 1 : 0);  // a full table keeps what it has
    return 0;
}

int sdk_trap_rmaGroupLearningEnable_set(uint32_t unit, uint32_t group, uint32_t enable) {
    if (unit != 0 || group != 1) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    a.rma_learn = enable != 0;
    return 0;
}

// ---- Classifier ----------------------------------------------------------------

int adAxclEntryPosToPhisical(uint32_t pos, uint32_t *phyIdx, uint32_t *isDouble) {
    if (phyIdx == nullptr || isDouble == nullptr) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    if (!pos_allocated(a, pos)) return kErrPosition;
    bool dbl = false;
    phys_of(pos, *phyIdx, dbl);
    *isDouble = dbl ? 1 : 0;
    return 0;
}

int adAxclEntryDelete(uint32_t pos) {
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    if (!pos_allocated(a, pos)) return kErrPosition;
    uint32_t phy = 0;
    bool dbl = false;
    phys_of(pos, phy, dbl);
    clear_entry(a.entries[phy], a.meters[phy]);
    if (dbl) clear_entry(a.entries[phy + 1], a.meters[phy + 1]);
    return 0;
}

int adAxclGetMeterOrCounterIndex(uint32_t pos, uint32_t type, uint32_t *index) {
    if (index == nullptr || type > 1) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    if (!pos_allocated(a, pos)) return kErrPosition;
    bool dbl = false;
    phys_of(pos, *index, dbl);
    return 0;
}

int adAxclSpeedLimitSet(uint32_t pos, uint32_t rate, uint32_t burst, uint32_t enable) {
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    if (!pos_allocated(a, pos)) return kErrPosition;
    uint32_t phy = 0;
    bool dbl = false;
    phys_of(pos, phy, dbl);
    Meter &m = a.meters[phy];
    m = Meter{};
    m.enabled = enable != 0;
    m.rate = rate;
    m.burst = burst;
    return 0;
}

int mapEntryToTemplate(uint32_t unit, uint32_t selector, uint32_t block, uint32_t index) {
    if (unit != 0 || selector > 1 || index >= kPhysNum) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    if (int rc = injected(a)) return rc;
    Entry &e = a.entries[index];
    e.bound = true;
    e.block = block;
    e.selector = selector;
    return 0;
}

int adPktCtlEntryGetAppBackward(uint32_t app, uint32_t *pos) {
    (void)app;  // every application area shares the back of the table here
    if (pos == nullptr) return kErrInput;
    Acl &a = acl();
    SharedLock g(a.lock);
    return alloc_back(a, pos);
}

int adPortCpuEgressRateSet(uint32_t rate) {
    Acl &a = acl();
    SharedLock g(a.lock);
    a.cpu_rate = rate;
    return 0;
}

uint32_t qosGetCpuRateLimit(void) { return SIM_CPU_RATE_LIMIT; }

// ---- Controls ------------------------------------------------------------------

int simAclPosFront(int *pos, ...) {
    if (pos == nullptr) return -1;
    Acl &a = acl();
    SharedLock g(a.lock);
    return alloc_front(a, pos) == 0 ? 0 : -1;
}

int simAclPosBack(int *pos, uint32_t app, uint32_t b, uint32_t c) {
    (void)b;
    (void)c;
    uint32_t p = 0;
    if (pos == nullptr || adPktCtlEntryGetAppBackward(app, &p) != 0) return -1;
    *pos = static_cast<int>(p);
    return 0;
}

void simAppintfAclHooksSet(void) {
    APPINTF_SET(APPINTF_SLOT_ACL_POS_FRONT, simAclPosFront);
    APPINTF_SET(APPINTF_SLOT_ACL_POS_BACK, simAclPosBack);
}

void simAclReset(void) {
    Acl &a = acl();
    SharedLock g(a.lock);
    reset_locked(a);
}

void simAclFailAfter(int calls, int error) {
    Acl &a = acl();
    SharedLock g(a.lock);
    a.fail_after = calls;
    a.fail_error = error;
}

int simAclEntryGet(uint32_t phyIdx, simAclEntryInfo *info) {
    if (phyIdx >= kPhysNum || info == nullptr) return -1;
    Acl &a = acl();
    SharedLock g(a.lock);
    const Entry &e = a.entries[phyIdx];
    info->bound = e.bound ? 1 : 0;
    info->selector = e.selector;
    info->valid = e.valid ? 1 : 0;
    info->aggr = e.op.aggr;
    info->hits = e.hits;
    return 0;
}

int simAclFieldGet(uint32_t phyIdx, uint32_t field, uint8_t *value, uint8_t *mask) {
    size_t width = field_width(field);
    if (phyIdx >= kPhysNum || width == 0) return -1;
    Acl &a = acl();
    SharedLock g(a.lock);
    const Entry &e = a.entries[phyIdx];
    const Field &f = e.fields[static_cast<size_t>(slot_of(field))];
    if (!f.written) return -1;
    if (value) std::memcpy(value, f.value.data(), width);
    if (mask) std::memcpy(mask, f.mask.data(), width);
    return 0;
}

int simAclMeterGet(uint32_t index, uint32_t *rate, uint32_t *burst) {
    if (index >= kPhysNum) return -1;
    Acl &a = acl();
    SharedLock g(a.lock);
    const Meter &m = a.meters[index];
    if (rate) *rate = m.rate;
    if (burst) *burst = m.burst;
    return m.enabled ? 1 : 0;
}

uint32_t simCpuEgressRateGet(void) {
    Acl &a = acl();
    SharedLock g(a.lock);
    return a.cpu_rate;
}

int simTrapLearningGet(uint32_t rmaGroup, uint32_t mgmtType, int *rmaLearn, int *mgmtLearn) {
    Acl &a = acl();
    SharedLock g(a.lock);
    if (rmaLearn) *rmaLearn = rmaGroup == 1 ? a.rma_learn : 1;
    if (mgmtLearn) {
        const uint8_t *on = a.mgmt_learn.find(mgmtType);
        *mgmtLearn = on == nullptr ? 1 : *on;
    }
    return 0;
}

}  // extern "C"
