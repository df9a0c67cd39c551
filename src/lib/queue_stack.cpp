// FIFO queue and LIFO stack, each a thin record around one DList.
#include <cstdlib>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_list.h"

struct ListQueue {
    DList *list;  // owned; holds the elements head first
};

struct ListStack {
    DList *list;  // owned; holds the elements top first
};

namespace {

template <typename Wrapper>
Wrapper *wrap_new_list(DataDestroyFunc destroy) {
    auto *thiz = static_cast<Wrapper *>(std::malloc(sizeof(Wrapper)));
    if (!thiz) return nullptr;
    thiz->list = dlistCreate(destroy, nullptr);
    if (!thiz->list) {
        std::free(thiz);
        return nullptr;
    }
    return thiz;
}

// Data of the head node: 0, or -1 with null when the list is empty.
int head_data(DList *list, void **data) {
    DListNode *head = dlistHead(list);
    *data = head ? head->data : nullptr;
    return head ? GDSL_RET_OK : -1;
}

}  // namespace

extern "C" {

PC_API ListQueue *queueCreate(DataDestroyFunc destroy) { return wrap_new_list<ListQueue>(destroy); }

PC_API int queuePush(ListQueue *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistAppend(thiz->list, data);
}

PC_API int queueHead(ListQueue *thiz, void **data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return head_data(thiz->list, data);
}

PC_API int queuePop(ListQueue *thiz) {
    GDSL_CHECK(thiz != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistDelete(thiz->list, dlistHead(thiz->list));
}

PC_API unsigned int queueLength(ListQueue *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return dlistLength(thiz->list);
}

PC_API int queueVisit(ListQueue *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistVisit(thiz->list, visit, ctx);
}

PC_API void queueDestroy(ListQueue *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    dlistDestroy(thiz->list);
    std::free(thiz);
}

PC_API ListStack *stackCreate(DataDestroyFunc destroy) { return wrap_new_list<ListStack>(destroy); }

PC_API int stackPush(ListStack *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistPrepend(thiz->list, data);
}

PC_API int stackTop(ListStack *thiz, void **data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    return head_data(thiz->list, data);
}

PC_API int stackPop(ListStack *thiz) {
    GDSL_CHECK(thiz != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistDelete(thiz->list, dlistHead(thiz->list));
}

PC_API unsigned int stackLength(ListStack *thiz) {
    GDSL_CHECK(thiz != NULL, 0);
    return dlistLength(thiz->list);
}

PC_API int stackVisit(ListStack *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    return dlistVisit(thiz->list, visit, ctx);
}

PC_API void stackDestroy(ListStack *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    dlistDestroy(thiz->list);
    std::free(thiz);
}

}  // extern "C"
