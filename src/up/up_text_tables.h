// Interface prefixes of the port text syntax, by string type and interface
// type, and the decimal field reader shared by the parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform_core/up_propt.h"
#include "platform_core/up_text.h"

namespace pc::up {

inline constexpr uint32_t kStrTypes = 3;

inline constexpr const char *kIntfPrefix[kStrTypes][INTF_TYPE_MAX] = {
    {"", "", "", ""},
    {"Fa", "Gi", "Te", "Po"},
    {"fastEthernet ", "gigabitEthernet ", "ten-gigabitEthernet ", "port-channel "},
};
// Stored lengths leave the trailing blank out.
inline constexpr uint32_t kIntfPrefixLen[kStrTypes][INTF_TYPE_MAX] = {
    {0, 0, 0, 0},
    {2, 2, 2, 2},
    {12, 15, 19, 12},
};
inline constexpr std::string_view kLagWord = "lag";

inline constexpr const char *kIntfNumberHelp[INTF_TYPE_MAX] = {
    "FastEthernet interface number",
    "GigabitEthernet interface number",
    "TenGigabitEthernet interface number",
    "PortChannel interface number",
};

enum class DecimalStatus {
    Ok,
    Incomplete,  // the input ended where a number is due, or could still grow into range
    Error,
};

struct Decimal {
    DecimalStatus status = DecimalStatus::Error;
    uint32_t value = 0;
    size_t length = 0;
};

// Reads a decimal field without leading zeros at the start of `text`.
Decimal parse_decimal(std::string_view text, uint32_t min, uint32_t max);

}  // namespace pc::up
