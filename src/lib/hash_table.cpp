// Chained hash table over lazily created DList buckets.
#include <cstdlib>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_hash.h"
#include "platform_core/gdsl_list.h"

struct HashTable {
    DataHashFunc hash;        // required, key -> bucket choice
    DList **buckets;          // owned, slot_nr entries, each null until first used
    unsigned int slot_nr;     // bucket count, at least 2
    DataDestroyFunc destroy;  // optional, handed to every bucket list
};

namespace {

DList **bucket_of(HashTable *thiz, void *key) { return &thiz->buckets[thiz->hash(key) % thiz->slot_nr]; }

// The newest entry of bucket matching key. The table only hashes a key and
// hands it to cmp.
DListNode *find_in_bucket(DList *bucket, DataFindCompareFunc cmp, void *key) {
    for (DListNode *node = dlistHead(bucket); node; node = node->next)
        if (cmp(key, node->data) == 0) return node;
    return nullptr;
}

}  // namespace

extern "C" {

PC_API HashTable *hashTableCreate(DataDestroyFunc destroy, DataHashFunc hash, unsigned int slot_nr) {
    GDSL_CHECK(hash != NULL && slot_nr > 1, nullptr);
    auto *thiz = static_cast<HashTable *>(std::malloc(sizeof(HashTable)));
    if (!thiz) return nullptr;
    thiz->buckets = static_cast<DList **>(std::calloc(slot_nr, sizeof(DList *)));
    if (!thiz->buckets) {
        std::free(thiz);
        return nullptr;
    }
    thiz->hash = hash;
    thiz->slot_nr = slot_nr;
    thiz->destroy = destroy;
    return thiz;
}

PC_API int hashTableInsert(HashTable *thiz, void *key, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    DList **bucket = bucket_of(thiz, key);
    bool created = false;
    if (!*bucket) {
        *bucket = dlistCreate(thiz->destroy, nullptr);
        if (!*bucket) return GDSL_RET_OOM;
        created = true;
    }
    int ret = dlistPrepend(*bucket, data);
    if (ret != GDSL_RET_OK && created) {
        // Leave the table exactly as it was.
        dlistDestroy(*bucket);
        *bucket = nullptr;
    }
    return ret;
}

PC_API int hashTableFind(HashTable *thiz, DataFindCompareFunc cmp, void *key, void **data) {
    GDSL_CHECK(thiz != NULL && cmp != NULL && key != NULL, GDSL_RET_INVALID_PARAMS);
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    // An empty bucket (never used, or emptied by deletes) leaves *data alone.
    DList *bucket = *bucket_of(thiz, key);
    if (!bucket || dlistLength(bucket) == 0) return -1;
    DListNode *node = find_in_bucket(bucket, cmp, key);
    *data = node ? node->data : nullptr;
    return node ? GDSL_RET_OK : -1;
}

PC_API int hashTableDelete(HashTable *thiz, DataFindCompareFunc cmp, void *key) {
    GDSL_CHECK(thiz != NULL && cmp != NULL && key != NULL, GDSL_RET_INVALID_PARAMS);
    DList *bucket = *bucket_of(thiz, key);
    if (!bucket) return GDSL_RET_OK;
    return dlistDelete(bucket, find_in_bucket(bucket, cmp, key));
}

PC_API unsigned int hashTableLength(HashTable *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    unsigned int count = 0;
    for (unsigned int i = 0; i < thiz->slot_nr; i++)
        if (thiz->buckets[i]) count += dlistLength(thiz->buckets[i]);
    return count;
}

PC_API int hashTableVisit(HashTable *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    for (unsigned int i = 0; i < thiz->slot_nr; i++)
        if (thiz->buckets[i]) dlistVisit(thiz->buckets[i], visit, ctx);
    return GDSL_RET_OK;
}

PC_API void hashTableDestroy(HashTable *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    for (unsigned int i = 0; i < thiz->slot_nr; i++)
        if (thiz->buckets[i]) dlistDestroy(thiz->buckets[i]);
    std::free(thiz->buckets);
    std::free(thiz);
}

}  // extern "C"
