// Shared pieces of the packet service tests: the core brought up once per
// test program on the simulated switch, frame builders, and reading what
// the chip sent.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_core/axpacket.h"
#include "platform_core/platform.h"
#include "platform_core/up.h"
#include "platform_sim/sim.h"
#include "platform_sim/sim_chip.h"
#include "support/test_files.h"

namespace pc::test::packet {

using Bytes = std::vector<uint8_t>;

// platformInit on the simulated switch, with the kernel side listening.
inline void start_core_once() {
    static bool started = false;
    if (started) return;
    simProcessSetPid(PID_CORE);
    ASSERT_EQ(simKernelPacketStart(nullptr), 0);
    ASSERT_EQ(platformInit(), 0);
    started = true;
}

inline UP port_up(uint32_t n) { return UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, n); }
inline int chip_port(uint32_t n) { return simChipPortOf(port_up(n)); }

// What the frame path is given to act (a frame through the workers, a
// process's departure); polled often, as most waits are short.
inline constexpr std::chrono::milliseconds kPatience{10000};
inline bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds limit = kPatience) {
    return pc::test::wait_until(pred, limit, std::chrono::milliseconds(2));
}

constexpr uint8_t kBroadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kHostA[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
constexpr uint8_t kHostB[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0B};

inline void put16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void put32(Bytes &b, uint32_t v) {
    put16(b, static_cast<uint16_t>(v >> 16));
    put16(b, static_cast<uint16_t>(v));
}

// Ethernet header, optionally tagged (tpid 0 = untagged).
inline Bytes eth(const uint8_t *dst, const uint8_t *src, uint16_t type, uint16_t tpid = 0, uint16_t tci = 0) {
    Bytes b(12);
    std::memcpy(b.data(), dst, 6);
    std::memcpy(b.data() + 6, src, 6);
    if (tpid != 0) {
        put16(b, tpid);
        put16(b, tci);
    }
    put16(b, type);
    return b;
}

// An IPv4 frame with a transport header carrying the two ports (TCP/UDP).
inline Bytes ipv4(const uint8_t *dst, uint8_t proto, uint32_t sip, uint32_t dip, uint16_t sport = 0,
                  uint16_t dport = 0, uint16_t fragment = 0, size_t payload = 8) {
    Bytes b = eth(dst, kHostA, 0x0800);
    b.push_back(0x45);
    b.push_back(0);
    put16(b, static_cast<uint16_t>(20 + 4 + payload));
    put16(b, 1);
    put16(b, fragment);
    b.push_back(64);
    b.push_back(proto);
    put16(b, 0);
    put32(b, sip);
    put32(b, dip);
    put16(b, sport);
    put16(b, dport);
    b.insert(b.end(), payload, 0);
    return b;
}

// An IPv6 frame: next header chain `exts` (each 8 bytes) then `proto`.
inline Bytes ipv6(uint8_t proto, std::initializer_list<uint8_t> exts = {}, uint8_t first_byte = 0,
                  uint16_t dport = 0) {
    Bytes b = eth(kBroadcast, kHostA, 0x86DD);
    b.insert(b.end(), {0x60, 0, 0, 0});
    put16(b, 64);
    b.push_back(exts.size() ? *exts.begin() : proto);
    b.push_back(64);
    for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(0x20 + i));  // source
    for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(0xF0 + i));  // destination
    auto it = exts.begin();
    for (size_t i = 0; i < exts.size(); ++i) {
        ++it;
        uint8_t next = it == exts.end() ? proto : *it;
        b.insert(b.end(), {next, 0, 0, 0, 0, 0, 0, 0});
    }
    if (proto == 6 || proto == 17) {
        put16(b, 1000);
        put16(b, dport);
    } else {
        b.push_back(first_byte);
        b.push_back(0);
    }
    b.insert(b.end(), 16, 0);
    return b;
}

// `f` padded with `fill` to at least `n` bytes (a fresh vector: GCC 12
// warns falsely about growing a small one in place at -O2).
inline Bytes padded(const Bytes &f, size_t n, uint8_t fill = 0) {
    Bytes out(std::max(n, f.size()), fill);
    std::memcpy(out.data(), f.data(), f.size());
    return out;
}

// A record for calling the parsers directly on `frame`.
inline AX_PACKET_T record_of(Bytes &frame) {
    AX_PACKET_T p{};
    p.data = frame.data();
    p.len = static_cast<uint32_t>(frame.size());
    p.vid = 1;
    return p;
}

// A listing printer (AXPACKET_PRINT_FN) that appends to a std::string.
inline int append_line(void *ctx, const char *fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    *static_cast<std::string *>(ctx) += line;
    *static_cast<std::string *>(ctx) += '|';
    return n;
}

// Frames that left the chip.
struct Sent {
    int port;
    Bytes bytes;
};
inline std::vector<Sent> drain_tx() {
    std::vector<Sent> out;
    uint8_t buf[4096];
    int port = 0;
    uint32_t len = 0;
    while (simChipTxPop(&port, buf, sizeof buf, &len) == 0)
        out.push_back({port, Bytes(buf, buf + std::min<uint32_t>(len, sizeof buf))});
    return out;
}

inline uint16_t type_at(const Bytes &b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }

}  // namespace pc::test::packet
