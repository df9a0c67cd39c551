/*
 * Export and language glue shared by every public header.
 *
 * The library is built with hidden visibility; only functions marked PC_API
 * are exported. Every public header is plain C and wraps its declarations in
 * PC_BEGIN_DECLS / PC_END_DECLS so C and C++ programs link the same symbols.
 */
#ifndef PLATFORM_CORE_API_H
#define PLATFORM_CORE_API_H

#ifdef __cplusplus
#define PC_BEGIN_DECLS extern "C" {
#define PC_END_DECLS }
#else
#define PC_BEGIN_DECLS
#define PC_END_DECLS
#endif

#define PC_API __attribute__((visibility("default")))
#define PC_PRINTF(fmt_idx, arg_idx) __attribute__((format(printf, fmt_idx, arg_idx)))

#endif
