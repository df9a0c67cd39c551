// The flat form of a parameter set: how a set travels inside an RPC message.
//
// Layout (every word 32 bits, the CPU's native byte order):
//   part 1   28 bytes   paraBuf, paraSection (32-bit words, never used as
//                       addresses by a receiver), paraNum, paraLen,
//                       paraBufLen, paraSectionNum, extraLen
//   part 2   n * 48     the first paraNum sections: name[32], type, length,
//                       value, release word (sent as 0). value is the data
//                       offset in part 3, the flag itself, or for a pointer
//                       section the offset of its block in part 4
//   part 3   paraLen    the value bytes
//   part 4   extraLen   the pointed-to blocks, concatenated in section order
//
// FlatEncoder builds parts 1, 2 and 4 of a sender's set (part 3 is the
// set's own buffer, sent without a copy). FlatParaView validates a received
// flat set against the bytes that hold it and presents it as an ordinary
// read-only AXRPC_PARA_T whose value buffer and blocks stay in the message;
// a view is refused (and logged) unless every count, offset and length lies
// inside the message and every name is NUL-terminated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform_core/axrpc.h"

namespace pc::ipc::rpc {

inline constexpr size_t kParaWireBytes = 28;
inline constexpr size_t kSectionWireBytes = 48;
inline constexpr size_t kSectionNameBytes = AXRPC_PARA_NAME_MAX + 1;

// Reads and writes native-order 32-bit words at any alignment.
inline uint32_t load_u32(const uint8_t *p) {
    uint32_t v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void store_u32(uint8_t *p, uint32_t v) { __builtin_memcpy(p, &v, sizeof v); }
inline int32_t load_i32(const uint8_t *p) { return static_cast<int32_t>(load_u32(p)); }
inline void store_i32(uint8_t *p, int32_t v) { store_u32(p, static_cast<uint32_t>(v)); }

class FlatEncoder {
public:
    FlatEncoder() = default;
    ~FlatEncoder();
    FlatEncoder(const FlatEncoder &) = delete;
    FlatEncoder &operator=(const FlatEncoder &) = delete;

    // Encodes `para`; 0, or -1 when the block cannot be allocated or the set
    // is inconsistent (negative counts).
    int build(const AXRPC_PARA_T *para);

    std::span<const uint8_t> set_words() const { return {set_.data(), set_.size()}; }
    std::span<const uint8_t> sections() const { return {block_, section_bytes_}; }
    std::span<const uint8_t> values() const { return {values_, value_bytes_}; }
    std::span<const uint8_t> blocks() const { return {block_ + section_bytes_, extra_bytes_}; }
    // Bytes of the block holding parts 2 and 4 (what "Malloc error" reports).
    size_t block_bytes() const { return section_bytes_ + extra_bytes_; }
    size_t total_bytes() const { return kParaWireBytes + section_bytes_ + value_bytes_ + extra_bytes_; }

private:
    static constexpr size_t kInlineBytes = 8 * kSectionWireBytes + 128;

    std::array<uint8_t, kParaWireBytes> set_{};
    uint8_t *block_ = nullptr;  // inline_ or a heap block (tag "axRpc") owned here
    bool heap_ = false;
    size_t section_bytes_ = 0;
    size_t extra_bytes_ = 0;
    const uint8_t *values_ = nullptr;  // the sender's paraBuf; not owned
    size_t value_bytes_ = 0;
    alignas(8) std::array<uint8_t, kInlineBytes> inline_{};
};

class FlatParaView {
public:
    FlatParaView() = default;
    ~FlatParaView() { reset(); }
    FlatParaView(const FlatParaView &) = delete;
    FlatParaView &operator=(const FlatParaView &) = delete;

    // Validates the flat set at the start of `bytes` and decodes it. `bytes`
    // must outlive the view. On success `*consumed` (if given) is the size of
    // the flat set. False (logged) when the set does not fit or is malformed.
    bool decode(std::span<uint8_t> bytes, size_t *consumed = nullptr);
    // Drops the decoded view and anything it allocated.
    void reset();

    // The decoded set; read it with the ordinary gets, never add or free.
    const AXRPC_PARA_T *para() const { return &para_; }
    AXRPC_PARA_T *para() { return &para_; }

private:
    static constexpr size_t kInlineSections = AXRPC_PARA_SEC_NUM;

    bool relocate_misaligned_blocks();

    AXRPC_PARA_T para_{};
    std::array<AXRPC_PARA_SEC_T, kInlineSections> inline_sections_{};
    AXRPC_PARA_SEC_T *heap_sections_ = nullptr;  // tag "axRpc", owned
    uint8_t *aligned_blocks_ = nullptr;          // tag "axRpc", owned
};

}  // namespace pc::ipc::rpc
