// Doubly linked list of element words.
#include <cstdlib>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_list.h"

struct DList {
    DListNode *head;            // owned, null when empty
    DListNode *tail;            // last node of the chain above
    unsigned int count;         // nodes in the chain
    DataDestroyFunc destroy;    // optional, releases one element
    DataCompareFunc data_sort;  // optional, orders dlistAddSort
};

namespace {

// Links node between prev and prev's successor (at the head for null prev).
void link_after(DList *thiz, DListNode *prev, DListNode *node) {
    node->prev = prev;
    node->next = prev ? prev->next : thiz->head;
    if (node->next)
        node->next->prev = node;
    else
        thiz->tail = node;
    if (prev)
        prev->next = node;
    else
        thiz->head = node;
    thiz->count++;
}

void unlink(DList *thiz, DListNode *node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        thiz->head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        thiz->tail = node->prev;
    thiz->count--;
}

DListNode *alloc_node(void *data) {
    auto *node = static_cast<DListNode *>(std::malloc(sizeof(DListNode)));
    if (node) node->data = data;
    return node;
}

// The node before which an element ordered by cmp goes: the first x with
// cmp(data, x) < 0, or null (the tail) when there is none.
DListNode *first_after(DList *thiz, DataCompareFunc cmp, void *data) {
    DListNode *x = thiz->head;
    while (x && cmp(data, x->data) >= 0) x = x->next;
    return x;
}

}  // namespace

extern "C" {

PC_API DList *dlistCreate(DataDestroyFunc destroy, DataCompareFunc dataSort) {
    auto *thiz = static_cast<DList *>(std::calloc(1, sizeof(DList)));
    if (!thiz) return nullptr;
    thiz->destroy = destroy;
    thiz->data_sort = dataSort;
    return thiz;
}

PC_API int dlistInsertAfter(DList *thiz, DListNode *node, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    DListNode *nn = alloc_node(data);
    GDSL_CHECK(nn != NULL, GDSL_RET_OOM);
    link_after(thiz, node, nn);
    return GDSL_RET_OK;
}

PC_API int dlistAppend(DList *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistInsertAfter(thiz, thiz->tail, data);
}

PC_API int dlistPrepend(DList *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistInsertAfter(thiz, nullptr, data);
}

PC_API int dlistAddSort(DList *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    DListNode *new_node = alloc_node(data);
    GDSL_CHECK(new_node != NULL, GDSL_RET_OOM);
    DListNode *before = thiz->data_sort ? first_after(thiz, thiz->data_sort, data) : nullptr;
    link_after(thiz, before ? before->prev : thiz->tail, new_node);
    return GDSL_RET_OK;
}

PC_API int dlistSort(DList *thiz, DataCompareFunc cmp) {
    GDSL_CHECK(cmp != NULL && thiz != NULL, GDSL_RET_INVALID_PARAMS);
    DListNode *pending = thiz->head;
    thiz->head = thiz->tail = nullptr;
    thiz->count = 0;
    // Insertion sort: each node, in its old order, goes before the first
    // node already placed that sorts after it, which keeps equal ones stable.
    while (pending) {
        DListNode *node = pending;
        pending = pending->next;
        DListNode *before = first_after(thiz, cmp, node->data);
        link_after(thiz, before ? before->prev : thiz->tail, node);
    }
    return GDSL_RET_OK;
}

PC_API int dlistDelete(DList *thiz, DListNode *node) {
    GDSL_CHECK(thiz != NULL, GDSL_RET_INVALID_PARAMS);
    if (!node) return GDSL_RET_OK;
    unlink(thiz, node);
    if (thiz->destroy) thiz->destroy(node->data);
    std::free(node);
    return GDSL_RET_OK;
}

PC_API void dlistDestroy(DList *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    DListNode *node = thiz->head;
    while (node) {
        DListNode *next = node->next;
        if (thiz->destroy) thiz->destroy(node->data);
        std::free(node);
        node = next;
    }
    std::free(thiz);
}

PC_API DListNode *dlistFindByKey(DList *thiz, DataFindCompareFunc cmp, void *key) {
    GDSL_CHECK(thiz != NULL && cmp != NULL && key != NULL, nullptr);
    for (DListNode *node = thiz->head; node; node = node->next)
        if (cmp(key, node->data) == 0) return node;
    return nullptr;
}

PC_API DListNode *dlistFindByData(DList *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, nullptr);
    for (DListNode *node = thiz->head; node; node = node->next)
        if (node->data == data) return node;
    return nullptr;
}

PC_API DListNode *dlistHead(DList *thiz) {
    GDSL_CHECK(thiz != NULL, nullptr);
    return thiz->head;
}

PC_API DListNode *dlistTail(DList *thiz) {
    GDSL_CHECK(thiz != NULL, nullptr);
    return thiz->tail;
}

PC_API unsigned int dlistLength(DList *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return thiz->count;
}

PC_API int dlistVisit(DList *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    int result = GDSL_RET_OK;
    for (DListNode *node = thiz->head; node; node = node->next) {
        result = visit(ctx, node->data);
        if (result == GDSL_RET_STOP) break;
    }
    return result;
}

}  // extern "C"
