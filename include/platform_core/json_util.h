/*
 * Guarded JSON layer over json-c.
 *
 * Values are json-c objects (struct json_object); a caller that includes
 * <json-c/json.h> uses them directly. Every function here tolerates null
 * arguments and values of the wrong type and reports that by its result:
 * -1 for int results, null for pointer results.
 *
 * String values carry, beside their stored text, a percent-decoded copy
 * ("%" and two hexadecimal digits become that byte; any other "%" stays as
 * written). The copy is made on the first jsonObjectGetString of the value,
 * made again when the stored text has changed since, and released together
 * with the value. The returned text belongs to the value and lives as long
 * as the value and its text stay unchanged.
 *
 * Ownership follows json-c: adding a value to an object or array hands it
 * over (on failure the caller keeps it); jsonGetObjFromObj hands a child
 * back to the caller; jsonObjectObjectDelete releases a value the caller
 * owns.
 *
 * The functions exist in builds that have json-c (PC_HAVE_JSONC).
 */
#ifndef PLATFORM_CORE_JSON_UTIL_H
#define PLATFORM_CORE_JSON_UTIL_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

struct json_object;

/* json-c's value types, as jsonObject... type checks see them. */
enum {
    JSON_UTIL_TYPE_NULL = 0,
    JSON_UTIL_TYPE_BOOLEAN = 1,
    JSON_UTIL_TYPE_DOUBLE = 2,
    JSON_UTIL_TYPE_INT = 3,
    JSON_UTIL_TYPE_OBJECT = 4,
    JSON_UTIL_TYPE_ARRAY = 5,
    JSON_UTIL_TYPE_STRING = 6,
};

/* Longest decimal text jsonObjectAddIntByStr writes. */
#define JSON_UTIL_INT_STR_MAX 14

PC_API struct json_object *jsonObjectNewObject(void);
PC_API struct json_object *jsonObjectNewArray(void);
PC_API struct json_object *jsonObjectNewString(const char *text);

PC_API int jsonObjectIsObject(struct json_object *value);
PC_API int jsonObjectIsArray(struct json_object *value);
PC_API int jsonObectIsBool(struct json_object *value);
PC_API int jsonObectIsInt(struct json_object *value);
PC_API int jsonObectIsString(struct json_object *value);

PC_API struct json_object *jsonObjectObjectGet(struct json_object *obj, const char *key);
PC_API int jsonObjectObjectIsNull(struct json_object *obj, const char *key);
PC_API struct json_object *jsonGetObjFromObj(struct json_object *obj, const char *key);

PC_API int jsonObjectGetInt(struct json_object *obj, const char *key, int *out);
PC_API int jsonObjectGetIntSelf(struct json_object *value, int *out);
PC_API const char *jsonObjectGetString(struct json_object *obj, const char *key);
PC_API const char *jsonGetObjectString(struct json_object *value);
PC_API const char *jsonObjectGetStringOrigin(struct json_object *obj, const char *key);
PC_API const char *jsonGetObjectStringOrigin(struct json_object *value);

PC_API int jsonObjectAddInt(struct json_object *obj, const char *key, int n);
PC_API int jsonObjectAddString(struct json_object *obj, const char *key, const char *text);
PC_API int jsonObjectAddIntByStr(struct json_object *obj, const char *key, int n);
PC_API int jsonObjectDelInt(struct json_object *obj, const char *key);
PC_API int jsonObjectObjectDel(struct json_object *obj, const char *key);
PC_API int jsonObjectObjectAdd(struct json_object *obj, const char *key, struct json_object *value);
PC_API int jsonObjectObjectDelete(struct json_object *value);

/* Iteration in insertion order:
 *   const char *key;
 *   for (void *c = jsonObjectNextSubObject(o, NULL, &key); c; c = jsonObjectNextSubObject(o, c, &key))
 * A null cursor gives the first entry; each call gives the entry after the
 * cursor and its key, null after the last one. */
PC_API void *jsonObjectNextSubObject(struct json_object *obj, void *cursor, const char **key);

PC_API int jsonObjectArrayAdd(struct json_object *array, struct json_object *value);
PC_API int jsonObjectArrayDel(struct json_object *array, int idx);
PC_API struct json_object *jsonObjectArrayGetIdx(struct json_object *array, int idx);
PC_API int jsonObjectArrayLength(struct json_object *array);

/* JSON text: into a caller's buffer (the length, or -1 when it does not fit
 * with its NUL), or into a new malloc'd copy that the caller frees. */
PC_API int jsonObjectToString(struct json_object *value, char *buf, int size);
PC_API int jsonObjectToMallocString(struct json_object *value, char **text);

PC_API struct json_object *jsonObjectFromString(const char *text);
PC_API struct json_object *jsonObjectFromFile(const char *path);
PC_API int jsonObjectToFile(const char *path, struct json_object *value);
/* Renders the text in memory first and replaces the file in one step, so
 * a reader never sees a half-written file. */
PC_API int jsonObjectToFileMem(const char *path, struct json_object *value);

PC_END_DECLS

#endif
