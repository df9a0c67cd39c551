// Interrupt-context query, answered by the interrupt layer when present.
#include "platform_core/pal.h"
#include "platform_core/sibling.h"

extern "C" {

PC_API int pal_int_context(int a0, int a1, int a2, int a3) {
    if (intr_int_context == nullptr) return 0;
    return intr_int_context(a0, a1, a2, a3);
}

}  // extern "C"
