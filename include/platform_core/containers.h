/*
 * Containers and algorithms: one include for the whole family.
 *
 *   gdsl_types.h   result codes and callback forms
 *   gdsl_list.h    doubly linked list, FIFO queue, LIFO stack
 *   gdsl_array.h   growable array, priority queue
 *   gdsl_hash.h    chained hash table
 *   gdsl_bitmap.h  bitmap with a set-bit count
 *   gdsl_rbtree.h  red-black tree core and ordered map
 *   gdsl_sort.h    array sorts and binary search
 */
#ifndef PLATFORM_CORE_CONTAINERS_H
#define PLATFORM_CORE_CONTAINERS_H

#include "platform_core/gdsl_array.h"
#include "platform_core/gdsl_bitmap.h"
#include "platform_core/gdsl_hash.h"
#include "platform_core/gdsl_list.h"
#include "platform_core/gdsl_rbtree.h"
#include "platform_core/gdsl_sort.h"
#include "platform_core/gdsl_types.h"

#endif
