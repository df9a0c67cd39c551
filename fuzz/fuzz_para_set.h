// Parameter sets built from fuzz input, for the harnesses of RPC functions
// served in the core: any keys of the function's own, any types and
// lengths (names without their end, values of the wrong size, missing
// keys).
//
// Input: parameters of [key index, kind, length, bytes...]; a length past
// the end of the input takes what is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "platform_core/axrpc.h"

namespace pc::fuzz {

// Adds `bytes` under `key` as data, an int, a short or a char (`kind`).
inline void add_para(AXRPC_PARA_T *in, const char *key, uint8_t kind, std::span<const uint8_t> bytes) {
    int32_t word = 0;
    std::memcpy(&word, bytes.data(), bytes.size() < sizeof word ? bytes.size() : sizeof word);
    switch (kind % 4) {
        case 0:
            axrpcAddData(in, key, AXRPC_PARA_TYPE_DATA, bytes.data(), static_cast<int>(bytes.size()));
            break;
        case 1:
            axrpcAddInt(in, key, word);
            break;
        case 2:
            axrpcAddShort(in, key, static_cast<short>(word));
            break;
        default:
            axrpcAddChar(in, key, static_cast<char>(word));
            break;
    }
}

// Adds every parameter of `input` to `in`, its key one of `keys`.
inline void add_paras(AXRPC_PARA_T *in, std::span<const uint8_t> input, std::span<const char *const> keys) {
    constexpr size_t kHead = 3;  // key index, kind, length
    while (input.size() >= kHead) {
        const char *key = keys[input[0] % keys.size()];
        const uint8_t kind = input[1];
        const size_t len = input[2] < input.size() - kHead ? input[2] : input.size() - kHead;
        input = input.subspan(kHead);
        // A heap copy of the value's size (one byte more, so that an empty
        // value has an address), so a read past the value is caught.
        const std::unique_ptr<uint8_t[]> value(new uint8_t[len + 1]);
        std::memcpy(value.get(), input.data(), len);
        add_para(in, key, kind, {value.get(), len});
        input = input.subspan(len);
    }
}

}  // namespace pc::fuzz
