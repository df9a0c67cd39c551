// Encoding and validating decoding of the flat form of a parameter set.
#include "ipc/rpc/axrpc_flat.h"

#include <cstddef>
#include <cstring>

#include "ipc/rpc/rpc.h"
#include "platform_core/pal.h"
#include "platform_core/platform.h"

namespace pc::ipc::rpc {

namespace {

// Offsets of the set's words in part 1 and of a section record's fields.
enum : size_t {
    kSetBuf = 0,
    kSetSection = 4,
    kSetNum = 8,
    kSetLen = 12,
    kSetBufLen = 16,
    kSetSectionNum = 20,
    kSetExtraLen = 24,
};
enum : size_t {
    kSecName = 0,
    kSecType = 32,
    kSecLength = 36,
    kSecValue = 40,
    kSecFree = 44,
};
static_assert(kSetExtraLen + 4 == kParaWireBytes);
static_assert(kSecFree + 4 == kSectionWireBytes);

constexpr size_t kBlockAlign = alignof(std::max_align_t);

uint32_t low_word(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

size_t round_up(size_t n) { return (n + kBlockAlign - 1) / kBlockAlign * kBlockAlign; }

}  // namespace

FlatEncoder::~FlatEncoder() {
    if (heap_) pal_free(block_);
}

int FlatEncoder::build(const AXRPC_PARA_T *para) {
    if (para == nullptr || para->paraNum < 0 || para->paraLen < 0) return -1;
    if (para->paraNum > 0 && para->paraSection == nullptr) return -1;
    if (para->paraLen > 0 && para->paraBuf == nullptr) return -1;
    const auto count = static_cast<size_t>(para->paraNum);
    size_t extra = 0;
    for (size_t i = 0; i < count; ++i) {
        const AXRPC_PARA_SEC_T &sec = para->paraSection[i];
        if (sec.type != AXRPC_PARA_TYPE_PTR) continue;
        if (sec.length < 0) return -1;
        extra += static_cast<size_t>(sec.length);
    }
    if (extra > INT32_MAX) return -1;
    section_bytes_ = count * kSectionWireBytes;
    extra_bytes_ = extra;
    values_ = para->paraBuf;
    value_bytes_ = static_cast<size_t>(para->paraLen);

    if (block_bytes() <= inline_.size()) {
        block_ = inline_.data();
    } else {
        if (block_bytes() > UINT32_MAX) return -1;
        block_ = static_cast<uint8_t *>(pal_alloc(static_cast<unsigned>(block_bytes()), kTag));
        if (block_ == nullptr) return -1;
        heap_ = true;
    }

    uint8_t *set = set_.data();
    store_u32(set + kSetBuf, low_word(para->paraBuf));
    store_u32(set + kSetSection, low_word(para->paraSection));
    store_i32(set + kSetNum, para->paraNum);
    store_i32(set + kSetLen, para->paraLen);
    store_i32(set + kSetBufLen, para->paraBufLen);
    store_i32(set + kSetSectionNum, para->paraSectionNum);
    store_i32(set + kSetExtraLen, static_cast<int32_t>(extra));

    size_t offset = 0;  // running offset of the next block in part 4
    for (size_t i = 0; i < count; ++i) {
        const AXRPC_PARA_SEC_T &sec = para->paraSection[i];
        uint8_t *rec = block_ + i * kSectionWireBytes;
        std::memcpy(rec + kSecName, sec.name, kSectionNameBytes);
        rec[kSecName + kSectionNameBytes - 1] = '\0';
        store_i32(rec + kSecType, sec.type);
        store_i32(rec + kSecLength, sec.length);
        uint32_t value = static_cast<uint32_t>(sec.value);
        if (sec.type == AXRPC_PARA_TYPE_PTR) {
            value = static_cast<uint32_t>(offset);
            if (sec.length > 0)
                std::memcpy(block_ + section_bytes_ + offset, reinterpret_cast<const void *>(sec.value),
                            static_cast<size_t>(sec.length));
            offset += static_cast<size_t>(sec.length);
        }
        store_u32(rec + kSecValue, value);
        store_u32(rec + kSecFree, 0);
    }
    return 0;
}

void FlatParaView::reset() {
    pal_free(heap_sections_);
    pal_free(aligned_blocks_);
    heap_sections_ = nullptr;
    aligned_blocks_ = nullptr;
    para_ = AXRPC_PARA_T{};
}

bool FlatParaView::decode(std::span<uint8_t> bytes, size_t *consumed) {
    reset();
    if (bytes.size() < kParaWireBytes) {
        PFM_ERR(kMid, "Flat para too short: %u bytes\n", static_cast<unsigned>(bytes.size()));
        return false;
    }
    const uint8_t *set = bytes.data();
    const int32_t num = load_i32(set + kSetNum);
    const int32_t len = load_i32(set + kSetLen);
    const int32_t extra = load_i32(set + kSetExtraLen);
    size_t left = bytes.size() - kParaWireBytes;
    if (num < 0 || len < 0 || extra < 0 || static_cast<size_t>(num) > left / kSectionWireBytes) {
        PFM_ERR(kMid, "Flat para counts do not fit: num %d len %d extra %d in %u bytes\n", num, len, extra,
                static_cast<unsigned>(bytes.size()));
        return false;
    }
    const size_t section_bytes = static_cast<size_t>(num) * kSectionWireBytes;
    left -= section_bytes;
    if (static_cast<size_t>(len) > left || static_cast<size_t>(extra) > left - static_cast<size_t>(len)) {
        PFM_ERR(kMid, "Flat para counts do not fit: num %d len %d extra %d in %u bytes\n", num, len, extra,
                static_cast<unsigned>(bytes.size()));
        return false;
    }
    uint8_t *records = bytes.data() + kParaWireBytes;
    uint8_t *values = records + section_bytes;
    uint8_t *blocks = values + len;

    AXRPC_PARA_SEC_T *sections = inline_sections_.data();
    if (static_cast<size_t>(num) > kInlineSections) {
        heap_sections_ = static_cast<AXRPC_PARA_SEC_T *>(
            pal_alloc(static_cast<unsigned>(num * sizeof(AXRPC_PARA_SEC_T)), kTag));
        if (heap_sections_ == nullptr) {
            PFM_ERR(kMid, "Malloc error\n");
            return false;
        }
        sections = heap_sections_;
    }

    bool misaligned = false;
    for (int32_t i = 0; i < num; ++i) {
        const uint8_t *rec = records + static_cast<size_t>(i) * kSectionWireBytes;
        AXRPC_PARA_SEC_T &sec = sections[i];
        if (std::memchr(rec + kSecName, '\0', kSectionNameBytes) == nullptr) {
            PFM_ERR(kMid, "Flat para section %d: name not terminated\n", i);
            reset();
            return false;
        }
        std::memcpy(sec.name, rec + kSecName, kSectionNameBytes);
        sec.type = load_i32(rec + kSecType);
        sec.length = load_i32(rec + kSecLength);
        const uint32_t value = load_u32(rec + kSecValue);
        sec.freeFunc = nullptr;
        const uint64_t end = static_cast<uint64_t>(value) + static_cast<uint64_t>(sec.length);
        bool fits = sec.length >= 0;
        switch (sec.type) {
            case AXRPC_PARA_TYPE_DATA:
                fits = fits && end <= static_cast<uint64_t>(len);
                sec.value = value;
                break;
            case AXRPC_PARA_TYPE_PTR:
                fits = fits && end <= static_cast<uint64_t>(extra);
                sec.value = reinterpret_cast<uintptr_t>(blocks + (fits ? value : 0));
                if (sec.value % kBlockAlign != 0) misaligned = true;
                break;
            case AXRPC_PARA_TYPE_FLAG:
                sec.value = value;
                break;
            default:
                fits = false;
                break;
        }
        if (!fits) {
            PFM_ERR(kMid, "Flat para section %d (%s): type %d offset %u length %d out of bounds\n", i,
                    sec.name, sec.type, value, sec.length);
            reset();
            return false;
        }
    }

    para_.paraBuf = values;
    para_.paraSection = sections;
    para_.paraNum = num;
    para_.paraLen = len;
    para_.paraBufLen = len;
    para_.paraSectionNum = 0;  // a decoded view refuses every add
    para_.extraLen = extra;
    if (misaligned && !relocate_misaligned_blocks()) {
        reset();
        return false;
    }
    if (consumed != nullptr) *consumed = kParaWireBytes + section_bytes + static_cast<size_t>(len) + extra;
    return true;
}

// The blocks of part 4 follow the value bytes at any alignment; a reader
// takes a block's address as a pointer to its own record type, so blocks are
// copied to an aligned arena when one of them is misaligned.
bool FlatParaView::relocate_misaligned_blocks() {
    size_t arena = 0;
    for (int32_t i = 0; i < para_.paraNum; ++i)
        if (para_.paraSection[i].type == AXRPC_PARA_TYPE_PTR)
            arena += round_up(static_cast<size_t>(para_.paraSection[i].length));
    if (arena == 0) return true;
    if (arena > UINT32_MAX) return false;
    aligned_blocks_ = static_cast<uint8_t *>(pal_alloc(static_cast<unsigned>(arena), kTag));
    if (aligned_blocks_ == nullptr) {
        PFM_ERR(kMid, "Malloc error\n");
        return false;
    }
    size_t at = 0;
    for (int32_t i = 0; i < para_.paraNum; ++i) {
        AXRPC_PARA_SEC_T &sec = para_.paraSection[i];
        if (sec.type != AXRPC_PARA_TYPE_PTR) continue;
        const auto *src = reinterpret_cast<const uint8_t *>(sec.value);
        std::memcpy(aligned_blocks_ + at, src, static_cast<size_t>(sec.length));
        sec.value = reinterpret_cast<uintptr_t>(aligned_blocks_ + at);
        at += round_up(static_cast<size_t>(sec.length));
    }
    return true;
}

}  // namespace pc::ipc::rpc
