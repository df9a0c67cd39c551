// Marking memory the allocator keeps for itself as closed to the program
// under the address sanitizer; nothing otherwise (the target's compiler has
// no sanitizer headers).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define PC_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PC_ASAN 1
#endif
#endif

#if defined(PC_ASAN)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif
