/*
 * Doubly linked list, and the FIFO queue and LIFO stack built on it.
 *
 * The list allocates one node per element with the system allocator and owns
 * its nodes. Callers walk it through the exposed node links (dlistHead, then
 * node->next). The queue appends at the tail and the stack prepends at the
 * head; both read and pop at the head, and a pop destroys the element it
 * removes, so a caller reads it with queueHead/stackTop first.
 */
#ifndef PLATFORM_CORE_GDSL_LIST_H
#define PLATFORM_CORE_GDSL_LIST_H

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

/* One list node; owned by its list, valid until deleted. */
typedef struct DListNode {
    struct DListNode *prev; /* null at the head */
    struct DListNode *next; /* null at the tail */
    void *data;             /* the element, owned by the list */
} DListNode;

typedef struct DList DList;
typedef struct ListQueue ListQueue;
typedef struct ListStack ListStack;

/* Empty list; dataSort (optional) orders dlistAddSort. Null without memory. */
PC_API DList *dlistCreate(DataDestroyFunc destroy, DataCompareFunc dataSort);
/* Inserts after node (at the head when node is null). 0, 1 no memory, 3. */
PC_API int dlistInsertAfter(DList *list, DListNode *node, void *data);
PC_API int dlistAppend(DList *list, void *data);
PC_API int dlistPrepend(DList *list, void *data);
/* Inserts before the first node ordered after data (equal ones keep their
 * insertion order); appends when there is none or no sort callback. */
PC_API int dlistAddSort(DList *list, void *data);
/* Stable re-ordering of the whole list by cmp. 0 or 3. */
PC_API int dlistSort(DList *list, DataCompareFunc cmp);
/* Unlinks node, destroys its element and frees it; null node: nothing. */
PC_API int dlistDelete(DList *list, DListNode *node);
PC_API void dlistDestroy(DList *list);
/* First node from the head with cmp(key, data) == 0, or null. */
PC_API DListNode *dlistFindByKey(DList *list, DataFindCompareFunc cmp, void *key);
/* First node holding exactly the word data, or null. */
PC_API DListNode *dlistFindByData(DList *list, void *data);
PC_API DListNode *dlistHead(DList *list);
PC_API DListNode *dlistTail(DList *list);
PC_API unsigned int dlistLength(DList *list);
/* visit(ctx, data) head to tail until GDSL_RET_STOP; the last result. */
PC_API int dlistVisit(DList *list, DataVisitFunc visit, void *ctx);

PC_API ListQueue *queueCreate(DataDestroyFunc destroy);
PC_API int queuePush(ListQueue *queue, void *data);
/* 0 and the head element; -1 and null when empty; 3. */
PC_API int queueHead(ListQueue *queue, void **data);
/* Destroys the head element; 0 also when empty. */
PC_API int queuePop(ListQueue *queue);
PC_API unsigned int queueLength(ListQueue *queue);
PC_API int queueVisit(ListQueue *queue, DataVisitFunc visit, void *ctx);
PC_API void queueDestroy(ListQueue *queue);

PC_API ListStack *stackCreate(DataDestroyFunc destroy);
PC_API int stackPush(ListStack *stack, void *data);
PC_API int stackTop(ListStack *stack, void **data);
PC_API int stackPop(ListStack *stack);
PC_API unsigned int stackLength(ListStack *stack);
PC_API int stackVisit(ListStack *stack, DataVisitFunc visit, void *ctx);
PC_API void stackDestroy(ListStack *stack);

PC_END_DECLS

#endif
