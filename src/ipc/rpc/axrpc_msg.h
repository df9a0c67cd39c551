// The RPC message: what travels as the payload of a MID_AXRPC message.
//
//   offset 0    48 bytes   AXRPC_MSG_HEADER_T (function name, call kind,
//                          request/response, caller's slot and call id)
//   offset 48   24 bytes   AXRPC_ENV_T (caller's unit and process, depth,
//                          user argument, the function's result)
//   offset 72   ...        the parameter set in its flat form (axrpc_flat.h)
//
// Words are in the CPU's native byte order. MessageWriter collects the six
// pieces of an outgoing message without copying the value bytes;
// parse_message validates a received message completely before anything
// in it is used.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "ipc/rpc/axrpc_flat.h"
#include "platform_core/axrpc.h"

namespace pc::ipc::rpc {

inline constexpr size_t kMsgHeaderBytes = 48;
inline constexpr size_t kEnvBytes = 24;
inline constexpr size_t kMsgMinBytes = AXRPC_MSG_MIN_LEN;
static_assert(sizeof(AXRPC_MSG_HEADER_T) == kMsgHeaderBytes);
static_assert(offsetof(AXRPC_MSG_HEADER_T, callKind) == 32);
static_assert(offsetof(AXRPC_MSG_HEADER_T, id) == 44);
static_assert(sizeof(AXRPC_ENV_T) == kEnvBytes);
static_assert(offsetof(AXRPC_ENV_T, ret) == 20);
static_assert(kMsgHeaderBytes + kEnvBytes + kParaWireBytes == kMsgMinBytes);

// A header with the name copied (cut to AXRPC_FUNC_NAME_MAX characters).
AXRPC_MSG_HEADER_T make_header(const char *func_name, int32_t call_kind, int32_t type, int32_t seq,
                               int32_t id);

// The environment of a new call made by this process.
AXRPC_ENV_T make_env(int32_t user_arg);

// The six pieces of one outgoing message. Keeps references to `header`,
// `env` and the set's buffer, which must outlive the send.
class MessageWriter {
public:
    // 0, or -1 when the set cannot be encoded (allocation).
    int build(const AXRPC_MSG_HEADER_T *header, const AXRPC_ENV_T *env, const AXRPC_PARA_T *para);
    iovec *pieces() { return pieces_; }
    int piece_count() const { return kPieces; }
    size_t block_bytes() const { return flat_.block_bytes(); }

private:
    static constexpr int kPieces = 6;
    FlatEncoder flat_;
    iovec pieces_[kPieces]{};
};

// Reads the header of a message of at least kMsgHeaderBytes; false when
// shorter.
bool peek_header(std::span<const uint8_t> msg, AXRPC_MSG_HEADER_T *header);

// Validates a received message and decodes it: header (name
// NUL-terminated), environment, and the parameter set as a view into `msg`,
// which must outlive the view. False (logged) when the message is shorter
// than kMsgMinBytes, its function name is not terminated or its parameter
// set is malformed.
bool parse_message(std::span<uint8_t> msg, AXRPC_MSG_HEADER_T *header, AXRPC_ENV_T *env, FlatParaView *para);

}  // namespace pc::ipc::rpc
