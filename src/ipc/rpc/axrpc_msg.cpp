// Building and validating RPC messages.
#include "ipc/rpc/axrpc_msg.h"

#include <cstring>

#include "ipc/hub/hub.h"
#include "ipc/rpc/rpc.h"
#include "platform_core/platform.h"
#include "platform_core/sibling.h"

namespace pc::ipc::rpc {

AXRPC_MSG_HEADER_T make_header(const char *func_name, int32_t call_kind, int32_t type, int32_t seq,
                               int32_t id) {
    AXRPC_MSG_HEADER_T h{};
    std::strncpy(h.funcName, func_name, AXRPC_FUNC_NAME_MAX);
    h.callKind = call_kind;
    h.type = type;
    h.seq = seq;
    h.id = id;
    return h;
}

AXRPC_ENV_T make_env(int32_t user_arg) {
    AXRPC_ENV_T env{};
    env.unit = static_cast<int32_t>(pc::ipc::current_unit());
    env.pid = pidGetCurrent();
    env.defaultDepth = AXRPC_DEFAULT_DEPTH;
    env.depth = 0;
    env.userArg = user_arg;
    env.ret = 0;
    return env;
}

int MessageWriter::build(const AXRPC_MSG_HEADER_T *header, const AXRPC_ENV_T *env, const AXRPC_PARA_T *para) {
    if (flat_.build(para) != 0) return -1;
    auto piece = [](std::span<const uint8_t> bytes) {
        return iovec{const_cast<uint8_t *>(bytes.data()), bytes.size()};
    };
    pieces_[0] = iovec{const_cast<AXRPC_MSG_HEADER_T *>(header), kMsgHeaderBytes};
    pieces_[1] = iovec{const_cast<AXRPC_ENV_T *>(env), kEnvBytes};
    pieces_[2] = piece(flat_.set_words());
    pieces_[3] = piece(flat_.sections());
    pieces_[4] = piece(flat_.values());
    pieces_[5] = piece(flat_.blocks());
    return 0;
}

bool peek_header(std::span<const uint8_t> msg, AXRPC_MSG_HEADER_T *header) {
    if (msg.size() < kMsgHeaderBytes) return false;
    std::memcpy(header, msg.data(), kMsgHeaderBytes);
    return true;
}

bool parse_message(std::span<uint8_t> msg, AXRPC_MSG_HEADER_T *header, AXRPC_ENV_T *env, FlatParaView *para) {
    if (msg.size() < kMsgMinBytes) {
        PFM_ERR(kMid, "Size error: %u %u\n", static_cast<unsigned>(msg.size()),
                static_cast<unsigned>(kMsgMinBytes));
        return false;
    }
    std::memcpy(header, msg.data(), kMsgHeaderBytes);
    std::memcpy(env, msg.data() + kMsgHeaderBytes, kEnvBytes);
    if (std::memchr(header->funcName, '\0', sizeof header->funcName) == nullptr) {
        PFM_ERR(kMid, "RPC msg refused: function name not terminated\n");
        return false;
    }
    if (!para->decode(msg.subspan(kMsgHeaderBytes + kEnvBytes))) {
        PFM_ERR(kMid, "RPC msg refused: bad parameter set for %s\n", header->funcName);
        return false;
    }
    return true;
}

}  // namespace pc::ipc::rpc
