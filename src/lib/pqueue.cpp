// Binary-heap priority queue of element words.
#include "lib/pqueue.h"

#include <cstdlib>

#include "lib/array_growth.h"
#include "lib/gdsl_check.h"

namespace {

constexpr unsigned int kInitialCapacity = 32;

// Grows the heap array by one step.
int pqueue_expand(PQueue *thiz) {
    unsigned int capacity = pc::gdsl::grown_capacity(thiz->capacity);
    void **data = thiz->elements;
    if (!pc::gdsl::resize_slots(&data, capacity)) data = nullptr;
    GDSL_CHECK(data != NULL, GDSL_RET_OOM);
    thiz->elements = data;
    thiz->capacity = capacity;
    return GDSL_RET_OK;
}

}  // namespace

extern "C" {

PC_API PQueue *pQueueCreate(DataCompareFunc cmp, DataDestroyFunc destroy) {
    GDSL_CHECK(cmp != NULL, nullptr);
    auto *thiz = static_cast<PQueue *>(std::calloc(1, sizeof(PQueue)));
    if (!thiz) return nullptr;
    thiz->elements = static_cast<void **>(std::malloc(kInitialCapacity * sizeof(void *)));
    if (!thiz->elements) {
        std::free(thiz);
        return nullptr;
    }
    thiz->capacity = kInitialCapacity;
    thiz->cmp = cmp;
    thiz->destroy = destroy;
    return thiz;
}

PC_API int pQueuePush(PQueue *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    if (thiz->size + 2 >= thiz->capacity && pqueue_expand(thiz) != GDSL_RET_OK) {
        GDSL_WARN("pqueue_expand (thiz) == GDSL_RET_OK");
        return -1;
    }
    // Sift up: parents that sort after data move down; an equal parent stays.
    void **heap = thiz->elements;
    DataCompareFunc cmp = thiz->cmp;
    unsigned int i = thiz->size;
    while (i > 0) {
        unsigned int parent = (i - 1) / 2;
        if (cmp(data, heap[parent]) >= 0) break;
        heap[i] = heap[parent];
        i = parent;
    }
    heap[i] = data;
    thiz->size++;
    return GDSL_RET_OK;
}

PC_API int pQueueHead(PQueue *thiz, void **data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    if (thiz->size == 0) {
        *data = nullptr;
        return -1;
    }
    *data = thiz->elements[0];
    return GDSL_RET_OK;
}

PC_API int pQueuePop(PQueue *thiz) {
    GDSL_CHECK(thiz != NULL, GDSL_RET_INVALID_PARAMS);
    if (thiz->size == 0) return GDSL_RET_OK;
    void **heap = thiz->elements;
    if (thiz->destroy) thiz->destroy(heap[0]);
    unsigned int size = --thiz->size;
    void *last = heap[size];
    DataCompareFunc cmp = thiz->cmp;
    // Sift the last element down from the top: the smaller child moves up
    // unless it sorts after the element.
    unsigned int i = 0;
    while (i < size / 2) {
        unsigned int child = 2 * i + 1;
        if (child + 1 < size && cmp(heap[child], heap[child + 1]) > 0) child++;
        if (cmp(heap[child], last) > 0) break;
        heap[i] = heap[child];
        i = child;
    }
    heap[i] = last;
    pc::gdsl::shrink_after_removal(&thiz->elements, thiz->size, &thiz->capacity);
    return GDSL_RET_OK;
}

PC_API unsigned int pQueueLength(PQueue *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return thiz->size;
}

PC_API int pQueueVisit(PQueue *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    int result = GDSL_RET_OK;
    for (unsigned int i = 0; i < thiz->size; i++) {
        result = visit(ctx, thiz->elements[i]);
        if (result == GDSL_RET_STOP) break;
    }
    return result;
}

PC_API void pQueueDestroy(PQueue *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    if (thiz->destroy)
        for (unsigned int i = 0; i < thiz->size; i++) thiz->destroy(thiz->elements[i]);
    std::free(thiz->elements);
    std::free(thiz);
}

}  // extern "C"
