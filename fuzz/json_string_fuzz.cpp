// Fuzzes the JSON layer's decoding: the input is both a stored string value
// (decoded by jsonGetObjectString) and a JSON text (parsed, then every
// string member decoded by jsonObjectGetString). The decoded text may never
// be longer than the stored one, and nothing may read out of bounds.
#include <json-c/json.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform_core/json_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    json_object *value = json_object_new_string_len(text.data(), static_cast<int>(text.size()));
    const char *decoded = jsonGetObjectString(value);
    if (decoded == nullptr || std::strlen(decoded) > text.size()) std::abort();
    jsonObjectObjectDelete(value);

    json_object *doc = jsonObjectFromString(text.c_str());
    if (jsonObjectIsObject(doc) == 1) {
        const char *key = nullptr;
        for (void *c = jsonObjectNextSubObject(doc, nullptr, &key); c != nullptr;
             c = jsonObjectNextSubObject(doc, c, &key)) {
            const char *s = jsonObjectGetString(doc, key);
            const char *origin = jsonObjectGetStringOrigin(doc, key);
            if ((s == nullptr) != (origin == nullptr)) std::abort();
        }
    }
    jsonObjectObjectDelete(doc);
    return 0;
}
