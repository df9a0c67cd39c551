/*
 * In-place sorts and binary search over arrays of element words.
 *
 * Every sort orders ascending by cmp and answers 0, or 3 when the array or
 * cmp is null; arrays of fewer than 2 elements are left as they are. Only
 * mergeSort is stable; it needs a work buffer of n words and answers 1 with
 * the array unchanged when that cannot be allocated. quickSort takes the
 * first element of a range as its pivot, so already ordered input costs
 * quadratic time (but bounded stack).
 */
#ifndef PLATFORM_CORE_GDSL_SORT_H
#define PLATFORM_CORE_GDSL_SORT_H

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

PC_API int bubbleSort(void **array, unsigned int n, DataCompareFunc cmp);
PC_API int quickSort(void **array, unsigned int n, DataCompareFunc cmp);
PC_API int mergeSort(void **array, unsigned int n, DataCompareFunc cmp);
PC_API int heapSort(void **array, unsigned int n, DataCompareFunc cmp);
/* Index of an element with cmp(element, key) == 0 in an array sorted by cmp,
 * or -1 when absent or on a null argument. */
PC_API int qsearch(void **array, unsigned int n, void *key, DataCompareFunc cmp);

PC_END_DECLS

#endif
