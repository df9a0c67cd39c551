// Layout of the priority queue (private to the library and its tests).
#pragma once

#include "platform_core/gdsl_array.h"

struct PQueue {
    void **elements;          // owned binary heap, capacity slots; index 0 is the head
    unsigned int size;        // elements in the heap
    unsigned int capacity;    // slots allocated
    DataCompareFunc cmp;      // required, smallest first
    DataDestroyFunc destroy;  // optional, releases one element
};
