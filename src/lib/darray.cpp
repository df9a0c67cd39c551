// Growable array of element words.
#include "lib/darray.h"

#include <cstdlib>
#include <cstring>

#include "lib/array_growth.h"
#include "lib/gdsl_check.h"

using pc::gdsl::grown_capacity;
using pc::gdsl::resize_slots;
using pc::gdsl::shrink_after_removal;

extern "C" {

PC_API DArray *darrayCreate(DataDestroyFunc destroy) {
    auto *thiz = static_cast<DArray *>(std::calloc(1, sizeof(DArray)));
    if (thiz) thiz->destroy = destroy;
    return thiz;
}

PC_API int darrayInsert(DArray *thiz, unsigned int index, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    if (thiz->capacity < thiz->size + 1) {
        unsigned int capacity = grown_capacity(thiz->capacity);
        if (!resize_slots(&thiz->elements, capacity)) return GDSL_RET_OOM;
        thiz->capacity = capacity;
    }
    if (index > thiz->size) index = thiz->size;
    std::memmove(thiz->elements + index + 1, thiz->elements + index, (thiz->size - index) * sizeof(void *));
    thiz->elements[index] = data;
    thiz->size++;
    return GDSL_RET_OK;
}

PC_API int darrayAppend(DArray *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return darrayInsert(thiz, DARRAY_INDEX_END, data);
}

PC_API int darrayPrepend(DArray *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return darrayInsert(thiz, 0, data);
}

PC_API int darrayDelete(DArray *thiz, unsigned int index) {
    GDSL_CHECK(thiz != NULL && thiz->size > index, GDSL_RET_INVALID_PARAMS);
    if (thiz->destroy) thiz->destroy(thiz->elements[index]);
    std::memmove(thiz->elements + index, thiz->elements + index + 1,
                 (thiz->size - index - 1) * sizeof(void *));
    thiz->size--;
    shrink_after_removal(&thiz->elements, thiz->size, &thiz->capacity);
    return GDSL_RET_OK;
}

PC_API int darrayGetByIndex(DArray *thiz, unsigned int index, void **data) {
    GDSL_CHECK(thiz != NULL && data != NULL && index < thiz->size, GDSL_RET_INVALID_PARAMS);
    *data = thiz->elements[index];
    return GDSL_RET_OK;
}

PC_API int darraySetByIndex(DArray *thiz, unsigned int index, void *data) {
    GDSL_CHECK(thiz != NULL && index < thiz->size && data != NULL, GDSL_RET_INVALID_PARAMS);
    thiz->elements[index] = data;
    return GDSL_RET_OK;
}

PC_API int darrayFind(DArray *thiz, DataFindCompareFunc cmp, void *key) {
    GDSL_CHECK(thiz != NULL && cmp != NULL && key != NULL, -1);
    for (unsigned int i = 0; i < thiz->size; i++)
        if (cmp(key, thiz->elements[i]) == 0) return static_cast<int>(i);
    return -1;
}

PC_API int darrayVisit(DArray *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    int result = GDSL_RET_OK;
    for (unsigned int i = 0; i < thiz->size; i++) {
        result = visit(ctx, thiz->elements[i]);
        if (result == GDSL_RET_STOP) break;
    }
    return result;
}

PC_API int darraySort(DArray *thiz, ArraySortFunc sort, DataCompareFunc cmp) {
    GDSL_CHECK(thiz != NULL && sort != NULL && cmp != NULL, GDSL_RET_INVALID_PARAMS);
    // An array that never held an element has no storage to hand over.
    if (thiz->elements == nullptr) return GDSL_RET_OK;
    return sort(thiz->elements, thiz->size, cmp);
}

PC_API unsigned int darrayLength(DArray *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return thiz->size;
}

PC_API void darrayDestroy(DArray *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    if (thiz->destroy)
        for (unsigned int i = 0; i < thiz->size; i++) thiz->destroy(thiz->elements[i]);
    std::free(thiz->elements);
    std::free(thiz);
}

}  // extern "C"
