// Layout of the growable array (private to the library and its tests).
#pragma once

#include "platform_core/gdsl_array.h"

struct DArray {
    void **elements;          // owned, capacity slots (null while capacity is 0)
    unsigned int size;        // elements in use, at indexes 0..size-1
    unsigned int capacity;    // slots allocated
    DataDestroyFunc destroy;  // optional, releases one element
};
