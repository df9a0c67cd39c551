/*
 * Growable array and binary-heap priority queue.
 *
 * Both keep their elements in one array from the system allocator and share
 * one sizing rule: grow by capacity / 2 + 32 slots when full, and give memory
 * back (to size + size / 2 slots) once less than half of more than 32 slots
 * is in use. Appends are therefore amortised constant time.
 *
 * The priority queue keeps its smallest element (by its compare) at index 0;
 * the children of index i are at 2i + 1 and 2i + 2. An element equal to one
 * already queued is placed after it.
 */
#ifndef PLATFORM_CORE_GDSL_ARRAY_H
#define PLATFORM_CORE_GDSL_ARRAY_H

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

/* Index that darrayInsert reads as "at the end". */
#define DARRAY_INDEX_END 0xFFFFFFFFu

typedef struct DArray DArray;
typedef struct PQueue PQueue;

PC_API DArray *darrayCreate(DataDestroyFunc destroy);
/* Inserts at min(index, size). 0, 1 when the array cannot grow, 3. */
PC_API int darrayInsert(DArray *array, unsigned int index, void *data);
PC_API int darrayAppend(DArray *array, void *data);
PC_API int darrayPrepend(DArray *array, void *data);
/* Destroys the element at index and closes the gap. 0 or 3. */
PC_API int darrayDelete(DArray *array, unsigned int index);
PC_API int darrayGetByIndex(DArray *array, unsigned int index, void **data);
/* Overwrites without destroying the old element. 0 or 3. */
PC_API int darraySetByIndex(DArray *array, unsigned int index, void *data);
/* First index with cmp(key, element) == 0, or -1. */
PC_API int darrayFind(DArray *array, DataFindCompareFunc cmp, void *key);
PC_API int darrayVisit(DArray *array, DataVisitFunc visit, void *ctx);
/* Runs sort(elements, size, cmp) and answers its result. */
PC_API int darraySort(DArray *array, ArraySortFunc sort, DataCompareFunc cmp);
PC_API unsigned int darrayLength(DArray *array);
PC_API void darrayDestroy(DArray *array);

/* Empty heap; null when cmp is null or without memory. */
PC_API PQueue *pQueueCreate(DataCompareFunc cmp, DataDestroyFunc destroy);
/* 0; -1 when the heap cannot grow; 3. */
PC_API int pQueuePush(PQueue *pq, void *data);
/* 0 and the smallest element; -1 and null when empty; 3. */
PC_API int pQueueHead(PQueue *pq, void **data);
/* Destroys the smallest element; an empty heap is left as it is. 0 or 3. */
PC_API int pQueuePop(PQueue *pq);
PC_API unsigned int pQueueLength(PQueue *pq);
/* Visits in array (heap) order until GDSL_RET_STOP. */
PC_API int pQueueVisit(PQueue *pq, DataVisitFunc visit, void *ctx);
PC_API void pQueueDestroy(PQueue *pq);

PC_END_DECLS

#endif
