// Fuzzes the receive path: arbitrary frames with arbitrary receive
// descriptors go through axpacketDistribute against a few registrations of
// every kind (fields, IPv6 fields, UDFs, NEW_SA, a core module with its
// queue, a module of another process) and the flood defence. The frame
// sits in an exact-size heap buffer, so any read or write outside it is
// caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "packet/packet_registry.h"
#include "pal/mutex_guard.h"
#include "platform_core/appintf.h"
#include "platform_core/axpacket.h"
#include "platform_core/axshm.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"

namespace {

constexpr size_t kDescBytes = 12;
constexpr uintptr_t kNotFromPool = ~static_cast<uintptr_t>(0) & ~static_cast<uintptr_t>(127);

int sink(AX_PACKET_T *) { return 0; }
uint8_t g_lag = 0;  // answer of the port-to-LAG hook, from the input

int up_to_lag(UP, uint32_t *lag) {
    *lag = g_lag % 16;
    return 0;
}

void registrations() {
    using namespace pc::packet;
    const uint8_t mac[6] = {0x01, 0x80, 0xC2, 0, 0, 0}, ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    IPV6_ADDR_T v6{}, m6{};
    m6.addr[0] = 0xFF;
    v6.addr[0] = 0xFE;
    axPacketRegisterModule(60, 10, 65536, 8);
    {
        pc::pal::MutexGuard g(regist_lock());
        register_module(61, 10, 0, 0, 9);  // another process
        register_packet(61, "remote", AX_RX_OWNED, 7, 9, nullptr, nullptr);
        add_field(61, "remote", kCodeLenType, {}, {}, 0x0800, 0);
        add_field(61, "remote", kCodeDstPort, {}, {}, 161, 0xFFFF);
    }
    axPacketRegisterEnable(61, "remote");
    struct {
        const char *name;
        uint32_t own;
    } regs[] = {{"bpdu", AX_RX_OWNED},
                {"v6", AX_RX_NOT_OWNED},
                {"udf", AX_RX_OWNED},
                {"sa", AX_RX_OWNED},
                {"any4", AX_RX_NOT_OWNED}};
    for (auto &r : regs) axPacketRegisterPacket(60, r.name, r.own, 5, sink, nullptr);
    axPacketRegisterMacaddr(60, "bpdu", DES_MAC, mac, ones);
    axPacketRegisterField(60, "v6", LEN_TYPE, 0x86DD, 0);
    axPacketRegisterFieldIpv6(60, "v6", DES_IPV6, &v6, &m6);
    axPacketRegisterField(60, "v6", ICMPV6_TYPE, 135, 0);
    axPacketRegisterUdf(60, "udf", UDF_EQUAL, 2, 0x00010000, 0xFFFF0000);
    axPacketRegisterUdf(60, "udf", UDF_NOT_EQUAL, 40, 0, 0xFF);
    axPacketRegisterField(60, "sa", NEW_SA, 0, 0);
    axPacketRegisterField(60, "any4", LEN_TYPE, 0x0800, 0);
    axPacketRegisterField(60, "any4", SRC_IP, 0x0A000000, 0xFF000000);
    for (auto &r : regs) axPacketRegisterEnable(60, r.name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);  // keeps the refusals' error lines quiet
    simProcessSetPid(PID_CORE);
    // The unit/port model lives in shared blocks: run the harness in its own
    // IPC namespace (unshare --ipc) so its fixed keys meet no one.
    axshm_init();
    debugFlagInit();
    adPmpInit();
    up_core_init();
    // Refusals are expected by the thousand: keep them quiet.
    for (unsigned mid : {MID_UP, MID_AXPACKET, MID_TIMER}) debugFlagSet(mid, 0);
    axPacketFilterInit();
    pc::packet::rule_tables_create();
    adAxPacketInit();
    axPacketTcpUdpFloodDefendInit();  // no timer service here: the ranges still work
    tcpUdpFloodDefendDportAdd(1, 1000);
    APPINTF_SET(APPINTF_SLOT_UP_TO_LAG, up_to_lag);
    registrations();
    return 0;
}

// Input: 12 descriptor bytes (chip port, flags, inner VID, CPU queue,
// ACL index, LAG answer, three switch bytes), then the frame.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kDescBytes) return 0;
    std::vector<uint8_t> frame(data + kDescBytes, data + size);
    auto *d = static_cast<drv_nic_pkt_t *>(pal_calloc(1, sizeof(drv_nic_pkt_t), "AXPacket_core"));
    if (d == nullptr) return 0;
    d->head = d->data = frame.data();
    d->length = static_cast<uint32_t>(frame.size());
    d->tail = d->end = frame.data() + frame.size();
    d->buf_id = kNotFromPool;  // the pool refuses it; only the descriptor is freed
    d->rx.source_port = data[0] % 64;
    d->rx.inner_tag_present = data[1] & 1;
    d->rx.outer_tag_present = (data[1] >> 1) & 1;
    d->rx.new_sa = (data[1] >> 2) & 1;
    d->rx.l2_pmv = (data[1] >> 3) & 1;
    d->rx.acl_hit = (data[1] >> 4) & 1;
    d->rx.inner_vid = static_cast<uint16_t>(((data[2] << 8) | data[3]) & 0x0FFF);
    d->rx.cpu_queue = data[4] % 12;
    d->rx.acl_index = static_cast<uint16_t>((data[5] << 8) | data[6]);
    g_lag = data[7];
    gL3ToMaster = data[8] & 1;
    gAxPacketDbgChannelGruopEnable = (data[8] >> 1) & 1;
    axpkt_reason_enable = 0;
    axpacketDistribute(d);
    return 0;
}
