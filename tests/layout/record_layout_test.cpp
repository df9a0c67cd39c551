// Byte layout of every record that leaves the process (shared blocks,
// messages, frames, flash), identical on the 64-bit little-endian host and
// the 32-bit big-endian target.
//
// Three tables, one row per record:
//   kRecords   size, alignment and field offsets, checked by static_assert
//              and again at run time with readable messages;
//   kEncodings bytes a record's writer produces for a known value, in the
//              byte order defined for the record;
// plus the accounted allocator's alignment guarantee below.
//
// Adding a record: put a row in kRecords (FIELD per field, in order) and,
// when it is written through an encoder or crosses a byte-order boundary,
// a row in kEncodings.
#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/uio.h>

#include <filesystem>

#include "platform_core/app.h"
#include "platform_core/aximi.h"
#include "platform_core/axmsg.h"
#include "platform_core/axpacket.h"
#include "platform_core/axrpc.h"
#include "platform_core/chip_acl.h"
#include "platform_core/diag.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"
#include "platform_core/notify.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"
#include "platform_core/stack_cb.h"
#include "platform_core/timer.h"
#include "platform_core/types.h"
#include "platform_core/up_propt.h"
#include "platform_sim/sim_flash.h"

namespace {

// ---- Size, alignment and offsets -------------------------------------------

struct Field {
    const char *name;
    size_t offset, size;            // as compiled
    size_t want_offset, want_size;  // as defined
};

struct Record {
    const char *name;
    size_t size, align;            // as compiled
    size_t want_size, want_align;  // as defined
    const Field *fields;
    size_t field_count;
};

#define FIELD(T, m, off, sz) \
    Field { #m, offsetof(T, m), sizeof(T::m), (off), (sz) }
#define RECORD(T, sz, al, fields) \
    Record { #T, sizeof(T), alignof(T), (sz), (al), (fields), std::size(fields) }

// Port list: six 32-bit words in the CPU's order (shared block "valid_uplsit").
constexpr Field kUpListFields[] = {
    FIELD(up_list, bits, 0, 24),
};

// The hub's wire header, native order.
constexpr Field kAxmsgHeaderFields[] = {
    FIELD(AXMSG_HEADER_T, marker, 0, 2),    FIELD(AXMSG_HEADER_T, command, 2, 2),
    FIELD(AXMSG_HEADER_T, dst_unit, 4, 4),  FIELD(AXMSG_HEADER_T, dst_proc, 8, 4),
    FIELD(AXMSG_HEADER_T, src_unit, 12, 4), FIELD(AXMSG_HEADER_T, src_proc, 16, 4),
    FIELD(AXMSG_HEADER_T, msg_type, 20, 4), FIELD(AXMSG_HEADER_T, check, 24, 4),
    FIELD(AXMSG_HEADER_T, data_len, 28, 4),
};

// Head and call environment of an RPC message, native order.
constexpr Field kAxrpcMsgHeaderFields[] = {
    FIELD(AXRPC_MSG_HEADER_T, funcName, 0, 32), FIELD(AXRPC_MSG_HEADER_T, callKind, 32, 4),
    FIELD(AXRPC_MSG_HEADER_T, type, 36, 4),     FIELD(AXRPC_MSG_HEADER_T, seq, 40, 4),
    FIELD(AXRPC_MSG_HEADER_T, id, 44, 4),
};
constexpr Field kAxrpcEnvFields[] = {
    FIELD(AXRPC_ENV_T, unit, 0, 4),         FIELD(AXRPC_ENV_T, pid, 4, 4),
    FIELD(AXRPC_ENV_T, defaultDepth, 8, 4), FIELD(AXRPC_ENV_T, depth, 12, 4),
    FIELD(AXRPC_ENV_T, userArg, 16, 4),     FIELD(AXRPC_ENV_T, ret, 20, 4),
};

// Notification registration message, native order.
constexpr Field kNotifyRegFields[] = {
    FIELD(NOTIFY_REG_MSG_T, command, 0, 4),
    FIELD(NOTIFY_REG_MSG_T, type, 4, 4),
    FIELD(NOTIFY_REG_MSG_T, pri, 8, 4),
    FIELD(NOTIFY_REG_MSG_T, sync, 12, 4),
};

// Argument of the port link event (NOTIFY_TYPE_PORT_LINK), native order.
constexpr Field kNotifyPortLinkFields[] = {
    FIELD(notify_port_link_t, up, 0, 4),
    FIELD(notify_port_link_t, link, 4, 4),
};

// Timer identifier: the name, carried by value between processes.
constexpr Field kTimerIdFields[] = {
    FIELD(timer_id_t, name, 0, 32),
};

// Unit properties (shared block "sys_propt"), native order.
constexpr Field kSysPropertyFields[] = {
    FIELD(sys_property_t, stat, 0, 4),
    FIELD(sys_property_t, type, 4, 4),
    FIELD(sys_property_t, subslot_type, 8, 4),
    FIELD(sys_property_t, slot_amount, 12, 1),
    FIELD(sys_property_t, port_range, 13, 16),
    FIELD(sys_property_t, pad, 29, 3),
    FIELD(sys_property_t, stk_compatible_map, 32, 4),
    FIELD(sys_property_t, mode, 36, 4 * 79),
};

// The packet record as it travels in queue items and MID_AXPACKET messages.
constexpr Field kAxPacketWireFields[] = {
    FIELD(AX_PACKET_WIRE_T, port_list, 0, 24), FIELD(AX_PACKET_WIRE_T, rx_port, 24, 4),
    FIELD(AX_PACKET_WIRE_T, data, 28, 4),      FIELD(AX_PACKET_WIRE_T, flags, 32, 4),
    FIELD(AX_PACKET_WIRE_T, len, 36, 4),       FIELD(AX_PACKET_WIRE_T, vid, 40, 2),
    FIELD(AX_PACKET_WIRE_T, rx_unit, 42, 1),   FIELD(AX_PACKET_WIRE_T, rx_untag, 44, 1),
    FIELD(AX_PACKET_WIRE_T, raw_buf, 48, 4),   FIELD(AX_PACKET_WIRE_T, pri, 56, 1),
    FIELD(AX_PACKET_WIRE_T, cfi, 57, 1),       FIELD(AX_PACKET_WIRE_T, new_sa, 58, 1),
    FIELD(AX_PACKET_WIRE_T, l2_pmv, 59, 1),
};
// Supervisor pipe message, module table entry ("mm_table"), reboot request
// ("/sysrbtrqst") and the debugger's command segment: native order.
constexpr Field kMsMsgFields[] = {
    FIELD(MS_MSG_T, type, 0, 4),
    FIELD(MS_MSG_T, code, 4, 4),
    FIELD(MS_MSG_T, name, 8, 64),
};
constexpr Field kMmEntryFields[] = {
    FIELD(MM_ENTRY_T, mid, 0, 4),
    FIELD(MM_ENTRY_T, state, 4, 4),
};
constexpr Field kRebootReqFields[] = {
    FIELD(SYS_REBOOT_REQ_T, second, 0, 4),
    FIELD(SYS_REBOOT_REQ_T, first, 4, 4),
};
constexpr Field kCmdSegmentFields[] = {
    FIELD(DK_CMD_SEGMENT_T, code, 0, 4),
    FIELD(DK_CMD_SEGMENT_T, text, 4, 128),
};
// Management interface: the user information record a UI hands back and
// the environment of a running management function, native order.
constexpr Field kAximiUserInfoFields[] = {
    FIELD(AXIMI_USER_INFO_T, userName, 0, 17),
    FIELD(AXIMI_USER_INFO_T, userIp, 17, 17),
    FIELD(AXIMI_USER_INFO_T, level, 68, 4),
};
constexpr Field kAximiEnvFields[] = {
    FIELD(AXIMI_ENV_T, reserved, 0, 4),
    FIELD(AXIMI_ENV_T, clientPid, 4, 4),
    FIELD(AXIMI_ENV_T, session, 8, 4),
};

// The chip SDK's ACL action record (204 bytes), handed to the SDK as is.
constexpr Field kSdkAclActionFields[] = {
    FIELD(sdk_acl_action_t, fwd_en, 0, 4),      FIELD(sdk_acl_action_t, fwd_type, 4, 4),
    FIELD(sdk_acl_action_t, fwd_port, 8, 4),    FIELD(sdk_acl_action_t, drop, 12, 4),
    FIELD(sdk_acl_action_t, pri_en, 16, 4),     FIELD(sdk_acl_action_t, pri, 20, 4),
    FIELD(sdk_acl_action_t, meter_en, 24, 4),   FIELD(sdk_acl_action_t, meter_idx, 28, 4),
    FIELD(sdk_acl_action_t, reserved, 32, 172),
};

// Stack callback key and execution parameter, carried in RPC parameters.
constexpr Field kSuCbKeyFields[] = {
    FIELD(su_cb_key_t, pid, 0, 4),
    FIELD(su_cb_key_t, mid, 4, 4),
    FIELD(su_cb_key_t, priority, 8, 4),
};
constexpr Field kSuCbExeParamFields[] = {
    FIELD(su_cb_exe_param_t, l, 0, 4),        FIELD(su_cb_exe_param_t, type, 4, 4),
    FIELD(su_cb_exe_param_t, roleChg, 8, 4),  FIELD(su_cb_exe_param_t, mastChg, 12, 4),
    FIELD(su_cb_exe_param_t, isFirst, 16, 4),
};

constexpr Record kRecords[] = {
    RECORD(up_list, 24, 4, kUpListFields),
    RECORD(AXMSG_HEADER_T, 32, 4, kAxmsgHeaderFields),
    RECORD(AX_PACKET_WIRE_T, 60, 4, kAxPacketWireFields),
    RECORD(AXRPC_MSG_HEADER_T, 48, 4, kAxrpcMsgHeaderFields),
    RECORD(AXRPC_ENV_T, 24, 4, kAxrpcEnvFields),
    RECORD(NOTIFY_REG_MSG_T, 16, 4, kNotifyRegFields),
    RECORD(notify_port_link_t, 8, 4, kNotifyPortLinkFields),
    RECORD(timer_id_t, 32, 1, kTimerIdFields),
    RECORD(sys_property_t, 36 + 4 * 79, 4, kSysPropertyFields),
    RECORD(MS_MSG_T, 72, 4, kMsMsgFields),
    RECORD(MM_ENTRY_T, 8, 4, kMmEntryFields),
    RECORD(SYS_REBOOT_REQ_T, 8, 4, kRebootReqFields),
    RECORD(DK_CMD_SEGMENT_T, 132, 4, kCmdSegmentFields),
    RECORD(AXIMI_USER_INFO_T, 72, 4, kAximiUserInfoFields),
    RECORD(AXIMI_ENV_T, 12, 4, kAximiEnvFields),
    RECORD(sdk_acl_action_t, SDK_ACL_ACTION_SIZE, 4, kSdkAclActionFields),
    RECORD(su_cb_key_t, 12, 4, kSuCbKeyFields),
    RECORD(su_cb_exe_param_t, 20, 4, kSuCbExeParamFields),
};

// The first mismatching row, or nullptr. Compile-time and run-time check.
constexpr const Record *first_bad_record() {
    for (const Record &r : kRecords) {
        if (r.size != r.want_size || r.align != r.want_align) return &r;
        size_t end = 0;
        for (size_t i = 0; i < r.field_count; ++i) {
            const Field &f = r.fields[i];
            if (f.offset != f.want_offset || f.size != f.want_size || f.offset < end) return &r;
            end = f.offset + f.size;
        }
        if (end > r.size) return &r;
    }
    return nullptr;
}
static_assert(first_bad_record() == nullptr, "a fixed-layout record differs from its definition");

TEST(RecordLayout, SizeAlignmentAndOffsetsMatchTheirDefinition) {
    for (const Record &r : kRecords) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.size, r.want_size);
        EXPECT_EQ(r.align, r.want_align);
        for (size_t i = 0; i < r.field_count; ++i) {
            const Field &f = r.fields[i];
            EXPECT_EQ(f.offset, f.want_offset) << "offset of " << f.name;
            EXPECT_EQ(f.size, f.want_size) << "size of " << f.name;
        }
    }
}

// ---- Encoded bytes -----------------------------------------------------------

enum class Order { Native, Big };

// Reference writer: the bytes of 32-bit word `v` in `order`.
void put32(std::vector<uint8_t> &out, uint32_t v, Order order) {
    bool big = order == Order::Big || std::endian::native == std::endian::big;
    for (int i = 0; i < 4; ++i) {
        int shift = big ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

struct Encoding {
    const char *name;
    // Writes the record for a fixed value through the library; the bytes it
    // produced go to `out`.
    void (*encode)(std::vector<uint8_t> &out);
    // The same value written word by word in the record's defined order.
    void (*expect)(std::vector<uint8_t> &out);
};

constexpr uint32_t kUpListWords[UP_LIST_WORDS] = {0x01020304u, 0x80000001u, 0,
                                                  0xA5A55A5Au, 0x00FF00FFu, 0xFEDCBA98u};

const Encoding kEncodings[] = {
    {"up_list in the CPU's order",
     [](std::vector<uint8_t> &out) {
         up_list l;
         std::memcpy(l.bits, kUpListWords, sizeof l.bits);
         const auto *p = reinterpret_cast<const uint8_t *>(&l);
         out.assign(p, p + sizeof l);
     },
     [](std::vector<uint8_t> &out) {
         for (uint32_t w : kUpListWords) put32(out, w, Order::Native);
     }},
    {"hub header in the CPU's order",
     [](std::vector<uint8_t> &out) {
         char payload[300] = {};
         struct iovec iov[2] = {{payload, 100}, {payload + 100, 200}};
         AXMSG_T msg{};
         msg.dst_unit = 1;
         msg.dst_proc = 0x3F;
         msg.src_unit = 0x01020304u;
         msg.src_proc = 5;
         msg.msg_type = MID_AXPACKET;
         msg.iov = iov;
         msg.iov_num = 2;
         AXMSG_HEADER_T h;
         ASSERT_EQ(axmsg_create_header(&h, &msg, 0), 0);
         const auto *p = reinterpret_cast<const uint8_t *>(&h);
         out.assign(p, p + sizeof h);
     },
     [](std::vector<uint8_t> &out) {
         // marker and command share the first word: marker in its first two bytes.
         bool big = std::endian::native == std::endian::big;
         uint8_t marker[2] = {0xAB, 0xCD}, command[2] = {0x00, 0x02};
         for (const uint8_t *half : {marker, command}) {
             out.push_back(half[big ? 0 : 1]);
             out.push_back(half[big ? 1 : 0]);
         }
         for (uint32_t w :
              {1u, 0x3Fu, 0x01020304u, 5u, static_cast<uint32_t>(MID_AXPACKET), 0x58EFFE85u, 300u})
             put32(out, w, Order::Native);
     }},
    {"debug switch block: one byte per module id",
     [](std::vector<uint8_t> &out) {
         ASSERT_EQ(debugFlagInit(), 0);
         for (unsigned mid = 1; mid < DEBUG_FLAG_NUM; ++mid) ASSERT_EQ(debugFlagSet(mid, mid % 4), 0);
         const auto *p = reinterpret_cast<const uint8_t *>(gDebugControlVaribles);
         out.assign(p + 1, p + DEBUG_FLAG_NUM);  // byte 0 (MID_INVALID) is unused
     },
     [](std::vector<uint8_t> &out) {
         for (unsigned mid = 1; mid < DEBUG_FLAG_NUM; ++mid) out.push_back(static_cast<uint8_t>(mid % 4));
     }},
    {"inner item trailer at the top of the flash: length, type, key, big-endian",
     [](std::vector<uint8_t> &out) {
         char dir[] = "/tmp/layoutflash.XXXXXX";
         ASSERT_NE(mkdtemp(dir), nullptr);
         ASSERT_EQ(simFlashCreate(dir, 1), 0);
         flashDrvLibInit();
         flashMtdSetDevicePrefix((std::string(dir) + "/mtd").c_str());
         const uint8_t value[3] = {'a', 'b', 'c'};
         ASSERT_EQ(flashAppInnerSet(2, value, sizeof value, 0), 0);
         out.resize(15);
         uint32_t top = flashGetSectorSize() * flashGetSectorCount();
         ASSERT_EQ(l_readFlash(out.data(), 15, top - 15), 0);
         std::filesystem::remove_all(dir);
     },
     [](std::vector<uint8_t> &out) {
         out = {'a', 'b', 'c'};
         for (uint32_t w : {3u, 2u, FLASH_INNER_KEY}) put32(out, w, Order::Big);
     }},
};

TEST(RecordLayout, EncodedBytesFollowTheDefinedOrder) {
    for (const Encoding &e : kEncodings) {
        SCOPED_TRACE(e.name);
        std::vector<uint8_t> got, want;
        e.encode(got);
        e.expect(want);
        EXPECT_EQ(got, want);
    }
}

// ---- Accounted allocator -----------------------------------------------------

// The payload after the allocator's header is aligned for any type (data
// needing 8 or 16 bytes must not fault on the switch), and the guards around
// it stay intact.
TEST(RecordLayout, AccountedPayloadIsAlignedForAnyType) {
    constexpr uintptr_t kAlign = alignof(std::max_align_t);
    std::vector<void *> blocks;
    for (unsigned size : {1u, 3u, 4u, 7u, 8u, 12u, 16u, 24u, 33u, 100u, 4096u}) {
        SCOPED_TRACE(size);
        void *a = pal_alloc(size, "layout");
        void *c = pal_calloc(3, size, "layout");
        void *r = pal_realloc(pal_alloc(1, "layout"), size, "layout");
        for (void *p : {a, c, r}) {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kAlign, 0u);
            blocks.push_back(p);
        }
    }
    EXPECT_EQ(pal_alloc_memflow_detect(), 0);
    for (void *p : blocks) pal_free(p);
}

}  // namespace
