// Fuzzes the reading of an RPC message: header, environment and the flat
// parameter set. Whatever the bytes, parsing must never read outside them;
// an accepted message is read through every get, copied, re-encoded and
// parsed again to the same parameters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ipc/rpc/axrpc_flat.h"
#include "ipc/rpc/axrpc_msg.h"
#include "platform_core/axrpc.h"
#include "platform_sim/sim.h"

using namespace pc::ipc::rpc;

namespace {

void read_every_parameter(const AXRPC_PARA_T *para) {
    for (int32_t i = 0; i < para->paraNum; ++i) {
        const AXRPC_PARA_SEC_T &sec = para->paraSection[i];
        uint8_t out[64];
        int len = 0;
        void *ptr = nullptr;
        uint32_t flag = 0;
        if (axrpcGetData(para, sec.name, sizeof out, out, &len) == 0 && len > 0) {
            volatile uint8_t sink = out[len - 1];
            (void)sink;
        }
        if (axrpcGetPtr(para, sec.name, &ptr, &len) == 0 && len > 0) {
            volatile uint8_t sink = static_cast<const uint8_t *>(ptr)[len - 1];
            (void)sink;
        }
        axrpcGetFlagData(para, sec.name, &flag);
    }
}

}  // namespace

// The refusals are logged; a switch that has finished starting keeps the
// error lines of a module whose debug switch is off quiet.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size heap copy, so any read past the end is caught.
    std::vector<uint8_t> msg(data, data + size);
    AXRPC_MSG_HEADER_T header{};
    AXRPC_ENV_T env{};
    FlatParaView view;
    if (!parse_message({msg.data(), msg.size()}, &header, &env, &view)) return 0;
    read_every_parameter(view.para());

    AXRPC_PARA_T copy{};
    if (axrpcParaInit(&copy) == 0) {
        // Pointer parameters are references; the copy must not release them.
        axrpcParaCopy(view.para(), &copy);
        for (int32_t i = 0; i < copy.paraNum; ++i) copy.paraSection[i].freeFunc = nullptr;
        axrpcParaFree(&copy);
    }

    MessageWriter writer;
    if (writer.build(&header, &env, view.para()) != 0) return 0;
    std::vector<uint8_t> again;
    for (int i = 0; i < writer.piece_count(); ++i) {
        const iovec &piece = writer.pieces()[i];
        const auto *b = static_cast<const uint8_t *>(piece.iov_base);
        again.insert(again.end(), b, b + piece.iov_len);
    }
    FlatParaView second;
    if (!parse_message({again.data(), again.size()}, &header, &env, &second)) __builtin_trap();
    if (second.para()->paraNum != view.para()->paraNum || second.para()->paraLen != view.para()->paraLen)
        __builtin_trap();
    return 0;
}
