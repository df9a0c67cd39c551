// Fuzzes the unit transport's frame receive path: a run of frames (each
// behind a 2-byte length) goes through the frame checks and the reassembly
// of one receiver. Whatever the bytes, nothing may be read or written
// outside the frames and the buffers, no buffer may be sized from an
// unchecked frame count, and every delivered message must fit the largest
// message the transport carries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform_sim/sim.h"
#include "stack/utp_frame.h"
#include "stack/utp_receiver.h"

using namespace pc::stack::utp;

// The refusals are logged; a switch that has finished starting keeps the
// error lines of a module whose debug switch is off quiet.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    simSwitchSetInited(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint32_t acks = 0;
    Receiver rx(
        [&](uint32_t, uint32_t txnid, uint32_t result) {
            if (txnid >= UTP_TXN_ID_NUM || result < UTP_ACK_COMPLETE || result > UTP_ACK_RESEND) abort();
            ++acks;
        },
        [](uint8_t *msg, uint32_t len) {
            if (len > UTP_MSG_MAX_LEN) abort();
            volatile uint32_t sum = 0;
            for (uint32_t i = 0; i < len; i += 97) sum = sum + msg[i];
            if (len > 0) sum = sum + msg[len - 1];
        });
    std::span<const uint8_t> in(data, size);
    while (in.size() >= 2) {
        size_t len = (size_t{in[0]} << 8 | in[1]) % (UTP_FRAME_MAX + 1);
        in = in.subspan(2);
        len = len < in.size() ? len : in.size();
        // An exact-size heap copy, so any read past the frame is caught.
        std::vector<uint8_t> frame(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(len));
        in = in.subspan(len);
        auto fh = read_frame_header(frame);
        if (fh && fh->type == UTP_FRAME_DATA) rx.handle(frame);
    }
    return 0;
}
