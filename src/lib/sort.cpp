// In-place sorts and binary search over arrays of element words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_sort.h"

namespace {

// Hole partition of a[lo..hi] around the first element; answers the pivot's
// final index. Elements equal to the pivot may end on either side.
size_t partition(void **a, size_t lo, size_t hi, DataCompareFunc cmp) {
    void *pivot = a[lo];
    while (lo < hi) {
        while (lo < hi && cmp(a[hi], pivot) >= 0) hi--;
        a[lo] = a[hi];
        while (lo < hi && cmp(a[lo], pivot) <= 0) lo++;
        a[hi] = a[lo];
    }
    a[lo] = pivot;
    return lo;
}

// Sorts a[lo..hi]. Recursing only into the smaller part bounds the stack
// depth by log2(n) even when the first-element pivot splits badly.
void quick_sort_range(void **a, size_t lo, size_t hi, DataCompareFunc cmp) {
    while (lo < hi) {
        size_t p = partition(a, lo, hi, cmp);
        if (p - lo < hi - p) {
            if (p > lo) quick_sort_range(a, lo, p - 1, cmp);
            lo = p + 1;
        } else {
            if (p < hi) quick_sort_range(a, p + 1, hi, cmp);
            hi = p - 1;  // p > lo here, since p - lo >= hi - p > 0 or lo == p == hi
        }
    }
}

// Sorts a[lo..hi) through the work buffer; equal elements keep their order.
void merge_sort_range(void **a, void **work, size_t lo, size_t hi, DataCompareFunc cmp) {
    if (hi - lo < 2) return;
    size_t mid = lo + (hi - lo) / 2;
    merge_sort_range(a, work, lo, mid, cmp);
    merge_sort_range(a, work, mid, hi, cmp);
    std::memcpy(work + lo, a + lo, (hi - lo) * sizeof(void *));
    size_t left = lo, right = mid, out = lo;
    while (left < mid && right < hi)
        a[out++] = cmp(work[left], work[right]) <= 0 ? work[left++] : work[right++];
    while (left < mid) a[out++] = work[left++];
    while (right < hi) a[out++] = work[right++];
}

// Max-heap sift-down over 1-based positions 1..n (position p is a[p - 1]):
// the larger child moves up while it sorts after the sifted element.
void sift_down(void **a, size_t pos, size_t n, DataCompareFunc cmp) {
    void *sifted = a[pos - 1];
    while (2 * pos <= n) {
        size_t child = 2 * pos;
        if (child < n && cmp(a[child], a[child - 1]) > 0) child++;
        if (cmp(a[child - 1], sifted) <= 0) break;
        a[pos - 1] = a[child - 1];
        pos = child;
    }
    a[pos - 1] = sifted;
}

}  // namespace

extern "C" {

PC_API int bubbleSort(void **array, unsigned int n, DataCompareFunc cmp) {
    GDSL_CHECK(array != NULL && cmp != NULL, GDSL_RET_INVALID_PARAMS);
    // Each pass moves the largest of array[0..end] to end.
    for (unsigned int end = n > 0 ? n - 1 : 0; end >= 1; end--) {
        unsigned int largest = 0;
        for (unsigned int i = 1; i < end; i++)
            if (cmp(array[i], array[largest]) > 0) largest = i;
        if (cmp(array[largest], array[end]) > 0) std::swap(array[largest], array[end]);
    }
    return GDSL_RET_OK;
}

PC_API int quickSort(void **array, unsigned int n, DataCompareFunc cmp) {
    GDSL_CHECK(array != NULL && cmp != NULL, GDSL_RET_INVALID_PARAMS);
    if (n >= 2) quick_sort_range(array, 0, n - 1, cmp);
    return GDSL_RET_OK;
}

PC_API int mergeSort(void **array, unsigned int n, DataCompareFunc cmp) {
    GDSL_CHECK(array != NULL && cmp != NULL, GDSL_RET_INVALID_PARAMS);
    if (n < 2) return GDSL_RET_OK;
    if (static_cast<uint64_t>(n) > SIZE_MAX / sizeof(void *)) return GDSL_RET_OOM;  // 32-bit machines
    auto *work = static_cast<void **>(std::malloc(n * sizeof(void *)));
    if (!work) return GDSL_RET_OOM;
    merge_sort_range(array, work, 0, n, cmp);
    std::free(work);
    return GDSL_RET_OK;
}

PC_API int heapSort(void **array, unsigned int n, DataCompareFunc comp_f) {
    GDSL_CHECK(array != NULL && comp_f != NULL, GDSL_RET_INVALID_PARAMS);
    if (n < 2) return GDSL_RET_OK;
    for (size_t pos = n / 2; pos >= 1; pos--) sift_down(array, pos, n, comp_f);
    for (size_t end = n; end >= 2; end--) {
        std::swap(array[0], array[end - 1]);
        sift_down(array, 1, end - 1, comp_f);
    }
    return GDSL_RET_OK;
}

PC_API int qsearch(void **array, unsigned int n, void *key, DataCompareFunc cmp) {
    GDSL_CHECK(array != NULL && cmp != NULL, -1);
    size_t lo = 0, hi = n;  // the key, if present, lies in [lo, hi)
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int order = cmp(array[mid], key);
        if (order == 0) return static_cast<int>(mid);
        if (order > 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return -1;
}

}  // extern "C"
