// The guarded JSON layer over json-c (see platform_core/json_util.h).
#ifdef PC_HAVE_JSONC

#include "platform_core/json_util.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "lib/percent_decode.h"

namespace {

// The decoded copy a string value carries in its user-data slot. `source`
// is the stored text the copy was made from, so a value whose text was set
// again gets a fresh copy. Owned by the value: json-c deletes it with the
// value (release_decoded).
struct DecodedCopy {
    std::string source;
    std::string decoded;
};

void release_decoded(json_object *, void *userdata) { delete static_cast<DecodedCopy *>(userdata); }

bool is_type(json_object *value, json_type type) {
    return value != nullptr && json_object_is_type(value, type);
}

// The child of an object under key, or null (also for a non-object).
json_object *child_of(json_object *obj, const char *key) {
    if (!is_type(obj, json_type_object) || key == nullptr) return nullptr;
    json_object *child = nullptr;
    return json_object_object_get_ex(obj, key, &child) ? child : nullptr;
}

const char *decoded_text(json_object *value) {
    if (!is_type(value, json_type_string)) return nullptr;
    const char *stored = json_object_get_string(value);
    int len = json_object_get_string_len(value);
    if (stored == nullptr || len < 0) return nullptr;
    std::string_view current(stored, static_cast<size_t>(len));
    auto *copy = static_cast<DecodedCopy *>(json_object_get_userdata(value));
    if (copy != nullptr && copy->source == current) return copy->decoded.c_str();
    try {
        auto fresh = std::make_unique<DecodedCopy>();
        fresh->source.assign(current);
        fresh->decoded = pc::lib::percent_decode(current);
        copy = fresh.release();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    // Releases the previous copy, if any, through its delete routine.
    json_object_set_userdata(value, copy, release_decoded);
    return copy->decoded.c_str();
}

int add_child(json_object *obj, const char *key, json_object *value) {
    if (value == nullptr) return -1;
    if (json_object_object_add(obj, key, value) != 0) {
        json_object_put(value);
        return -1;
    }
    return 0;
}

bool write_all(int fd, const char *data, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" {

PC_API json_object *jsonObjectNewObject(void) { return json_object_new_object(); }
PC_API json_object *jsonObjectNewArray(void) { return json_object_new_array(); }
PC_API json_object *jsonObjectNewString(const char *text) {
    return text == nullptr ? nullptr : json_object_new_string(text);
}

// A null value has no type: these answer 0 for it, so that a caller's
// "if (jsonObjectIsObject(v))" never takes a null for an object.
PC_API int jsonObjectIsObject(json_object *value) { return is_type(value, json_type_object) ? 1 : 0; }
PC_API int jsonObjectIsArray(json_object *value) { return is_type(value, json_type_array) ? 1 : 0; }
PC_API int jsonObectIsBool(json_object *value) { return is_type(value, json_type_boolean) ? 1 : 0; }
PC_API int jsonObectIsInt(json_object *value) { return is_type(value, json_type_int) ? 1 : 0; }
PC_API int jsonObectIsString(json_object *value) { return is_type(value, json_type_string) ? 1 : 0; }

PC_API json_object *jsonObjectObjectGet(json_object *obj, const char *key) { return child_of(obj, key); }

PC_API int jsonObjectObjectIsNull(json_object *obj, const char *key) {
    if (!is_type(obj, json_type_object) || key == nullptr) return -1;
    return json_object_object_get_ex(obj, key, nullptr) ? 0 : 1;
}

PC_API json_object *jsonGetObjFromObj(json_object *obj, const char *key) {
    json_object *child = child_of(obj, key);
    if (child == nullptr) return nullptr;
    json_object_get(child);            // the caller's reference
    json_object_object_del(obj, key);  // drops the parent's
    return child;
}

PC_API int jsonObjectGetIntSelf(json_object *value, int *out) {
    if (!is_type(value, json_type_int) || out == nullptr) return -1;
    *out = json_object_get_int(value);
    return 0;
}

PC_API int jsonObjectGetInt(json_object *obj, const char *key, int *out) {
    return jsonObjectGetIntSelf(child_of(obj, key), out);
}

PC_API const char *jsonGetObjectString(json_object *value) { return decoded_text(value); }
PC_API const char *jsonObjectGetString(json_object *obj, const char *key) {
    return decoded_text(child_of(obj, key));
}

PC_API const char *jsonGetObjectStringOrigin(json_object *value) {
    return is_type(value, json_type_string) ? json_object_get_string(value) : nullptr;
}
PC_API const char *jsonObjectGetStringOrigin(json_object *obj, const char *key) {
    return jsonGetObjectStringOrigin(child_of(obj, key));
}

PC_API int jsonObjectAddInt(json_object *obj, const char *key, int n) {
    if (!is_type(obj, json_type_object) || key == nullptr) return -1;
    return add_child(obj, key, json_object_new_int(n));
}

PC_API int jsonObjectAddString(json_object *obj, const char *key, const char *text) {
    if (!is_type(obj, json_type_object) || key == nullptr || text == nullptr) return -1;
    return add_child(obj, key, json_object_new_string(text));
}

PC_API int jsonObjectAddIntByStr(json_object *obj, const char *key, int n) {
    char text[JSON_UTIL_INT_STR_MAX + 1];
    std::snprintf(text, sizeof text, "%d", n);
    return jsonObjectAddString(obj, key, text);
}

PC_API int jsonObjectDelInt(json_object *obj, const char *key) {
    if (!is_type(child_of(obj, key), json_type_int)) return -1;
    json_object_object_del(obj, key);
    return 0;
}

PC_API int jsonObjectObjectDel(json_object *obj, const char *key) {
    if (child_of(obj, key) == nullptr) return -1;
    json_object_object_del(obj, key);
    return 0;
}

PC_API int jsonObjectObjectAdd(json_object *obj, const char *key, json_object *value) {
    if (obj == nullptr || key == nullptr || value == nullptr) return -1;
    if (!is_type(obj, json_type_object)) {
        printf("Function is:%s, Line is:%d.", __func__, __LINE__);
        printf("jsonObjectObjectAdd obj must be type json_type_object key:%s.\r\n", key);
        return -1;
    }
    if (obj == value) return -1;  // an object inside itself would never be released
    return json_object_object_add(obj, key, value) == 0 ? 0 : -1;
}

PC_API int jsonObjectObjectDelete(json_object *value) {
    if (value == nullptr) return -1;
    json_object_put(value);
    return 0;
}

PC_API void *jsonObjectNextSubObject(json_object *obj, void *cursor, const char **key) {
    if (!is_type(obj, json_type_object)) {
        printf("%s:obj is null or not json_type_object.\r\n", __func__);
        return nullptr;
    }
    lh_entry *entry = lh_table_head(json_object_get_object(obj));
    if (cursor != nullptr) {
        // Only a cursor that is still one of this object's entries is
        // followed; a stale or foreign one ends the iteration.
        while (entry != nullptr && entry != cursor) entry = lh_entry_next(entry);
        if (entry != nullptr) entry = lh_entry_next(entry);
    }
    if (entry != nullptr && key != nullptr) *key = static_cast<const char *>(lh_entry_k(entry));
    return entry;
}

PC_API int jsonObjectArrayAdd(json_object *array, json_object *value) {
    if (!is_type(array, json_type_array) || value == nullptr || value == array) return -1;
    return json_object_array_add(array, value) == 0 ? 0 : -1;
}

PC_API int jsonObjectArrayDel(json_object *array, int idx) {
    if (!is_type(array, json_type_array) || idx < 0) return -1;
    return json_object_array_del_idx(array, static_cast<size_t>(idx), 1) == 0 ? 0 : -1;
}

PC_API json_object *jsonObjectArrayGetIdx(json_object *array, int idx) {
    if (!is_type(array, json_type_array) || idx < 0) return nullptr;
    return json_object_array_get_idx(array, static_cast<size_t>(idx));
}

PC_API int jsonObjectArrayLength(json_object *array) {
    if (!is_type(array, json_type_array)) return -1;
    return static_cast<int>(json_object_array_length(array));
}

PC_API int jsonObjectToString(json_object *value, char *buf, int size) {
    if (value == nullptr || buf == nullptr || size <= 0) return -1;
    size_t len = 0;
    const char *text = json_object_to_json_string_length(value, JSON_C_TO_STRING_SPACED, &len);
    if (text == nullptr || len >= static_cast<size_t>(size)) return -1;
    std::memcpy(buf, text, len + 1);
    return static_cast<int>(len);
}

PC_API int jsonObjectToMallocString(json_object *value, char **text) {
    if (value == nullptr || text == nullptr) return -1;
    size_t len = 0;
    const char *rendered = json_object_to_json_string_length(value, JSON_C_TO_STRING_SPACED, &len);
    if (rendered == nullptr || len == 0) return -1;
    char *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy == nullptr) return -1;
    std::memcpy(copy, rendered, len + 1);
    *text = copy;
    return static_cast<int>(len);
}

PC_API json_object *jsonObjectFromString(const char *text) {
    return text == nullptr ? nullptr : json_tokener_parse(text);
}

PC_API json_object *jsonObjectFromFile(const char *path) {
    return path == nullptr ? nullptr : json_object_from_file(path);
}

PC_API int jsonObjectToFile(const char *path, json_object *value) {
    if (path == nullptr || value == nullptr) return -1;
    return json_object_to_file(path, value) == 0 ? 0 : -1;
}

PC_API int jsonObjectToFileMem(const char *path, json_object *value) {
    if (path == nullptr || value == nullptr) return -1;
    size_t len = 0;
    const char *text = json_object_to_json_string_length(value, JSON_C_TO_STRING_SPACED, &len);
    if (text == nullptr) return -1;
    std::string temp = std::string(path) + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    bool ok = write_all(fd, text, len) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path) != 0) {
        unlink(temp.c_str());
        return -1;
    }
    return 0;
}

}  // extern "C"

#endif  // PC_HAVE_JSONC
