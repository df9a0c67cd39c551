/*
 * Result codes and callback forms shared by every container.
 *
 * An element is one pointer-sized word (void *), in practice a pointer to
 * the caller's record. A container owns the elements inserted into it: it
 * releases each one through the destroy callback given at creation when the
 * element is deleted, popped or the container is destroyed. No container
 * locks; the owner guards it with its own mutex, and callbacks run on the
 * caller's thread.
 *
 * Every operation checks its pointer arguments (and indexes) first. A failed
 * check prints "<function>:<line> Warning: <condition> failed." to standard
 * output and the operation returns its "invalid" answer without changing
 * anything.
 */
#ifndef PLATFORM_CORE_GDSL_TYPES_H
#define PLATFORM_CORE_GDSL_TYPES_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* Results of container operations and of visit callbacks. */
enum {
    GDSL_RET_OK = 0,
    GDSL_RET_OOM = 1,            /* out of memory */
    GDSL_RET_STOP = 2,           /* a visit callback asks to end the walk */
    GDSL_RET_INVALID_PARAMS = 3, /* an argument check failed */
};

/* Releases one element. */
typedef void (*DataDestroyFunc)(void *data);
/* Negative, 0 or positive as a sorts before, equal to or after b. */
typedef int (*DataCompareFunc)(void *a, void *b);
/* 0 when data matches key (ordered containers also use the sign). */
typedef int (*DataFindCompareFunc)(void *key, void *data);
/* Called per element with the caller's context; GDSL_RET_STOP ends a walk. */
typedef int (*DataVisitFunc)(void *ctx, void *data);
/* Hash of a key for the hash table. */
typedef unsigned int (*DataHashFunc)(void *key);
/* An in-place array sort (bubbleSort, quickSort, mergeSort, heapSort). */
typedef int (*ArraySortFunc)(void **array, unsigned int n, DataCompareFunc cmp);

PC_END_DECLS

#endif
