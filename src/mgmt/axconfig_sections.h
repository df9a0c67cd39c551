// The sections of the running configuration and the interfaces they are
// printed for, shared by the walks in the core and by the serving side of
// remote printers, which asks its printer for the same sections.
//
// A buffer-walk reply carries the per-interface texts of one printer
// ("axcfg_buf_ethernet", "axcfg_buf_interface_vlan", "axcfg_buf_loopback")
// as a run of entries "<index>:<text>" each ended by a zero byte; the index
// is the inner port index (port channels 65..78), the VLAN id or the
// loopback id. Entries that do not parse, or whose index is out of range,
// are skipped by the reader.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform_core/appintf.h"
#include "platform_core/axconfig.h"
#include "platform_core/up.h"
#include "platform_core/up_text.h"

namespace pc::mgmt::cfg {

inline constexpr uint32_t kVlanMax = 4094;
inline constexpr uint32_t kPortSlots = INNER_UP_IDX_MAX;              // 79: Ethernet ports and port channels
inline constexpr uint32_t kEthernetIndexEnd = INNER_UP_LAG_BASE + 1;  // indexes 0..64
inline constexpr uint32_t kPortChannelFirst = INNER_UP_LAG_BASE + 1;  // 65
inline constexpr int kIntfKindVlan = 1;
inline constexpr int kIntfKindLoopback = 2;

// The valid UP at inner index `index`, or 0.
inline UP valid_up_at(uint32_t index) {
    UP up = 0;
    inner_up_from_index(&up, index, 1, __func__, __LINE__);
    return UP_IS_VALID(up) ? up : 0;
}

// The valid, named Ethernet port at `index` with its long name.
inline bool named_port_at(uint32_t index, UP *up, char (&name)[UP_STR_LEN]) {
    *up = valid_up_at(index);
    return *up != 0 && !UP_IS_LAG(*up) && usUp2Str(*up, name, UP_STR_TYPE_LONG) == 0 && name[0] != '\0';
}

inline bool interface_present(uint32_t id, int kind) {
    auto exists = APPINTF_GET(APPINTF_SLOT_INTF_EXISTS);
    return exists != nullptr && exists(id, kind) != 0;
}

inline uint32_t loopback_count() {
    auto count = APPINTF_GET(APPINTF_SLOT_LOOPBACK_COUNT);
    int n = count != nullptr ? count() : 0;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// Appends one "<index>:<text>" entry.
inline void encode_entry(std::string &out, uint32_t index, std::string_view text) {
    out += std::to_string(index);
    out += ':';
    out.append(text.data(), text.size());
    out += '\0';
}

// Calls visit(index, text) for every well-formed entry of `data` with an
// index below `limit`.
template <typename Visit>
void decode_entries(const char *data, size_t len, uint32_t limit, Visit &&visit) {
    size_t pos = 0;
    while (pos < len) {
        const char *entry = data + pos;
        const void *end = std::memchr(entry, '\0', len - pos);
        size_t entryLen =
            end != nullptr ? static_cast<size_t>(static_cast<const char *>(end) - entry) : len - pos;
        pos += entryLen + 1;
        const void *colon = std::memchr(entry, ':', entryLen);
        if (colon == nullptr || colon == entry) continue;
        size_t digits = static_cast<size_t>(static_cast<const char *>(colon) - entry);
        if (digits > 9) continue;
        uint32_t index = 0;
        bool ok = true;
        for (size_t i = 0; i < digits; ++i) {
            if (entry[i] < '0' || entry[i] > '9') ok = false;
            index = index * 10 + static_cast<uint32_t>(entry[i] - '0');
        }
        if (!ok || index >= limit) continue;
        visit(index, std::string_view(entry + digits + 1, entryLen - digits - 1));
    }
}

}  // namespace pc::mgmt::cfg
