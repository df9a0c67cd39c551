// A C++11 program that includes every public header, links the libraries and
// calls into them through their C names.
#include <cstdio>

#include "c_api_includes.h"

int main() {
    void *p = pal_alloc(10, "cxxapi");
    if (p == nullptr) return 1;
    pal_free(p);
    int (*client_inits[])(void) = {axpacketClientInit, axConfigClientInit, suCbClientInit};
    int (*feature_init)(int, unsigned) = axFeatureProcessInit;
    if (feature_init == nullptr || client_inits[1] == nullptr) return 2;
    up_list ports = {{0}};
    if (up_list_set(&ports, UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 3)) != 0) return 3;
    UP up = UP_INVALID_VALUE;
    int members = 0;
    UP_LIST_FOR_EACH(up, &ports) { ++members; }
    if (members != 1 || !up_list_test(&ports, UP_MAKE(UP_TYPE_SWP, UNIT_1, 0, 3))) return 4;
    std::printf("c++ api ok\n");
    return 0;
}
