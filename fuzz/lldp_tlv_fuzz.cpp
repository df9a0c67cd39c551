// Fuzzes the example LLDP agent's data unit parser (examples/lldp_agent):
// whatever a neighbour sends, the parser reads only the bytes it was given
// and leaves every text field terminated within its size. A frame the agent
// builds from names taken from the input parses back to the same names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lldp_tlv.h"

namespace {

bool terminated(const char (&text)[LLDP_TEXT_SIZE]) {
    return std::memchr(text, '\0', sizeof text) != nullptr;
}

// A printable name of 1..LLDP_TEXT_SIZE-1 bytes made from `data`.
std::string printable(const uint8_t *data, size_t size) {
    std::string s;
    for (size_t i = 0; i < size && s.size() + 1 < LLDP_TEXT_SIZE; ++i)
        s += static_cast<char>(0x20 + data[i] % 0x5F);
    return s.empty() ? std::string("x") : s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The input as an LLDPDU, in a buffer of exactly its size.
    auto *pdu = static_cast<uint8_t *>(std::malloc(size > 0 ? size : 1));
    if (pdu == nullptr) return 0;
    if (size > 0) std::memcpy(pdu, data, size);
    lldp_info_t info;
    if (lldp_parse(pdu, size, &info) == 0 &&
        (!terminated(info.chassis_id) || !terminated(info.port_id) || !terminated(info.system_name)))
        std::abort();
    std::free(pdu);

    // Round trip through the builder.
    if (size < 4) return 0;
    const uint16_t ttl = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const size_t split = 2 + (size - 2) / 2;
    const std::string port = printable(data + 2, split - 2), name = printable(data + split, size - split);
    const uint8_t mac[LLDP_MAC_LEN] = {0x02, 0, 0, 0, 0, data[2]};
    uint8_t frame[1024];
    size_t len = lldp_build(frame, sizeof frame, mac, mac, port.c_str(), ttl, name.c_str());
    if (len < LLDP_HEADER_LEN || len > sizeof frame) std::abort();
    if (lldp_parse(frame + LLDP_HEADER_LEN, len - LLDP_HEADER_LEN, &info) != 0) std::abort();
    if (port != info.port_id || name != info.system_name || info.ttl != ttl) std::abort();
    // Too small a buffer is refused, never overrun.
    if (lldp_build(frame, len - 1, mac, mac, port.c_str(), ttl, name.c_str()) != 0) std::abort();
    return 0;
}
