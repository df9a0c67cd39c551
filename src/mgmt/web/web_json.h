// JSON answers of the core's web pages, built with the library's JSON
// utilities; a value is released with its holder.
#pragma once

#ifdef PC_HAVE_JSONC

#include <json-c/json.h>

#include <cstdint>
#include <memory>

#include "platform_core/json_util.h"

namespace pc::mgmt::web {

struct JsonRelease {
    void operator()(json_object *value) const { jsonObjectObjectDelete(value); }
};
using Json = std::unique_ptr<json_object, JsonRelease>;

// Adds a 64-bit counter (JSON numbers carry it whole up to 2^53).
inline int add_u64(json_object *obj, const char *key, uint64_t value) {
    json_object *n = json_object_new_int64(static_cast<int64_t>(value));
    if (jsonObjectObjectAdd(obj, key, n) != 0) {
        jsonObjectObjectDelete(n);
        return -1;
    }
    return 0;
}

// Moves `child` into `obj` under `key` (or appends it to the array `obj`
// when `key` is null); the caller's holder is emptied either way.
inline int add_child(json_object *obj, const char *key, Json child) {
    json_object *value = child.release();
    int rc = key != nullptr ? jsonObjectObjectAdd(obj, key, value) : jsonObjectArrayAdd(obj, value);
    if (rc != 0) jsonObjectObjectDelete(value);
    return rc;
}

// Sends the value as the request's output; 0 or -1.
int send_json(json_object *value);

}  // namespace pc::mgmt::web

#endif
