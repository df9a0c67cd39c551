/*
 * Chained hash table.
 *
 * A fixed array of buckets, each null until its first insert and then a
 * DList (gdsl_list.h) created with the table's destroy callback. The table
 * stores no keys: a key is hashed on insert and matched by the caller's find
 * compare on lookup. Inserts prepend without a duplicate test, so the newest
 * entry for a key is found (and deleted) first.
 */
#ifndef PLATFORM_CORE_GDSL_HASH_H
#define PLATFORM_CORE_GDSL_HASH_H

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

typedef struct HashTable HashTable;

/* slot_nr buckets (at least 2); null when hash is null, slot_nr < 2 or
 * without memory. */
PC_API HashTable *hashTableCreate(DataDestroyFunc destroy, DataHashFunc hash, unsigned int slot_nr);
/* Prepends data to the bucket of hash(key). 0, 1 no memory, 3. */
PC_API int hashTableInsert(HashTable *table, void *key, void *data);
/* 0 and the newest element matching key; -1 when absent (data is set to
 * null when the key's bucket holds other elements, left as it was when the
 * bucket is empty); 3. */
PC_API int hashTableFind(HashTable *table, DataFindCompareFunc cmp, void *key, void **data);
/* Deletes (and destroys) the newest match; 0 also when absent; 3. */
PC_API int hashTableDelete(HashTable *table, DataFindCompareFunc cmp, void *key);
PC_API unsigned int hashTableLength(HashTable *table);
/* Walks the buckets in index order; GDSL_RET_STOP ends only the walk of the
 * current bucket. 0 or 3. */
PC_API int hashTableVisit(HashTable *table, DataVisitFunc visit, void *ctx);
PC_API void hashTableDestroy(HashTable *table);

PC_END_DECLS

#endif
