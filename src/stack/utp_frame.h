// The unit transport's frames: byte layout (big-endian) and a checked
// decoder. A frame is a 16-byte frame header, then on data frames a 16-byte
// transaction header and the data:
//
//   0 u8 type | 1..3 reserved | 4 u32 sno | 8 u32 txnnum | 12 u32 framestat
//   16 u32 txnid | 20 u8 merged | 21 u8 last | 22..23 zero | 24 u32 len
//   28 u32 frames | 32 data (len bytes)
//
// Acknowledgements carry the transaction id in txnnum and the result code
// in framestat. Merged data is a row of 104-byte records: u32 length (at
// most 100), then 100 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform_core/utp.h"

namespace pc::stack::utp {

inline constexpr size_t kDataHdrLen = UTP_FRAME_HDR_LEN + UTP_TXN_HDR_LEN;

struct FrameHeader {
    uint8_t type = 0;
    uint32_t sno = 0;
    uint32_t txnnum = 0;
    uint32_t framestat = 0;
};

struct TxnHeader {
    uint32_t txnid = 0;
    uint8_t merged = 0;
    uint8_t last = 0;
    uint32_t len = 0;
    uint32_t frames = 0;
};

inline void put32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t get32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void write_frame_header(uint8_t *p, const FrameHeader &h) {
    p[0] = h.type;
    p[1] = p[2] = p[3] = 0;
    put32(p + 4, h.sno);
    put32(p + 8, h.txnnum);
    put32(p + 12, h.framestat);
}

inline void write_txn_header(uint8_t *p, const TxnHeader &t) {
    put32(p, t.txnid);
    p[4] = t.merged;
    p[5] = t.last;
    p[6] = p[7] = 0;
    put32(p + 8, t.len);
    put32(p + 12, t.frames);
}

// The frame header of any frame of at least 16 bytes.
inline std::optional<FrameHeader> read_frame_header(std::span<const uint8_t> f) {
    if (f.size() < UTP_FRAME_HDR_LEN) return std::nullopt;
    return FrameHeader{f[0], get32(&f[4]), get32(&f[8]), get32(&f[12])};
}

// A data frame whose fields all fit: why one does not, for the log.
enum class DataCheck {
    ok,
    short_frame,
    bad_type,
    bad_stat,
    bad_txnid,
    bad_len,
    bad_frames,
    bad_sno,
    bad_merge,
};

struct DataFrame {
    FrameHeader fh;
    TxnHeader th;
    std::span<const uint8_t> data;  // th.len bytes inside the frame
};

inline DataCheck read_data_frame(std::span<const uint8_t> f, DataFrame *out) {
    if (f.size() < kDataHdrLen) return DataCheck::short_frame;
    FrameHeader fh{f[0], get32(&f[4]), get32(&f[8]), get32(&f[12])};
    if (fh.type != UTP_FRAME_DATA) return DataCheck::bad_type;
    if (fh.framestat != UTP_STAT_SENT && fh.framestat != UTP_STAT_RESENT && fh.framestat != UTP_STAT_ASK_ACK)
        return DataCheck::bad_stat;
    const uint8_t *t = &f[UTP_FRAME_HDR_LEN];
    TxnHeader th{get32(t), t[4], t[5], get32(t + 8), get32(t + 12)};
    if (th.txnid >= UTP_TXN_ID_NUM) return DataCheck::bad_txnid;
    if (th.len > UTP_FRAME_PAYLOAD || th.len > f.size() - kDataHdrLen) return DataCheck::bad_len;
    if (th.frames == 0 || th.frames > UTP_TXN_FRAMES_MAX) return DataCheck::bad_frames;
    if (fh.sno >= th.frames) return DataCheck::bad_sno;
    auto data = f.subspan(kDataHdrLen, th.len);
    if (th.merged) {
        if (th.frames != 1 || fh.txnnum == 0 || fh.txnnum > UTP_MERGE_MAX ||
            fh.txnnum * UTP_MERGE_REC_LEN > th.len)
            return DataCheck::bad_merge;
        for (uint32_t i = 0; i < fh.txnnum; ++i)
            if (get32(&data[i * UTP_MERGE_REC_LEN]) > UTP_SMALL_MSG_LEN) return DataCheck::bad_merge;
    }
    *out = DataFrame{fh, th, data};
    return DataCheck::ok;
}

}  // namespace pc::stack::utp
