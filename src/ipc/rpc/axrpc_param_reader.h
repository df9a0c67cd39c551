// Reading the parameters of a request that another process sent to a
// function served here. Every value comes from outside: a binary value must
// have its exact size, a string must end within its buffer.
//
// The parameters are read in the order they are asked for. The first one
// missing or malformed is logged under the reader's module, as the
// function's own code would log it: a getter's failure as "E - %d call %s
// failed." with the getter's call text, a failed check as "Ensure %s
// failed." with the check's text. It ends the reading: later asks read
// nothing and answer zeros. rc() is 0, or the status of that first failure.
#pragma once

#include <cstdint>

#include "platform_core/axrpc.h"

namespace pc::ipc::rpc {

class ParamReader {
public:
    ParamReader(AXRPC_PARA_T *in, unsigned mid) : in_(in), mid_(mid) {}
    ParamReader(const ParamReader &) = delete;
    ParamReader &operator=(const ParamReader &) = delete;

    int rc() const { return rc_; }
    bool ok() const { return rc_ == 0; }

    // Exactly `size` bytes of `key` into `out`. A missing key logs
    // `call_text`, a value of another size "Ensure `size_text` failed.".
    bool bytes(const char *key, void *out, int size, const char *call_text, const char *size_text);
    // A string of `key` that ends within the `cap` bytes of `out`; a missing
    // key logs `call_text`, an unended one "Ensure terminated failed.".
    bool text(const char *key, char *out, int cap, const char *call_text);
    // Numbers; a missing key logs "getter(inPara, \"key\", &key)".
    uint32_t i32(const char *key);
    uint32_t i16(const char *key);
    uint32_t i8(const char *key);

    // The status of a getter called by the caller: logged with `call_text`
    // when it failed. True when it and everything before succeeded.
    bool read(const char *call_text, int rc);
    // A check of what was read: logged and ends the reading when false.
    bool ensure(bool cond, const char *cond_text);

private:
    void read_key(const char *getter, const char *key, int rc);

    AXRPC_PARA_T *in_;
    unsigned mid_;
    int rc_ = 0;
};

}  // namespace pc::ipc::rpc
