/*
 * Port lists between the CLI's text and the web pages' JSON arrays.
 *
 * The CLI writes a port list as "1/0/1,1/0/2"; the web pages send and
 * expect a JSON array of strings, ["1/0/1","1/0/2"], with '/' often
 * percent-encoded as "%2F". These helpers move text between the forms.
 *
 * Output buffers are the caller's and must be large enough: at most three
 * times the input plus 5 bytes for web_change_portStr_to_jsonStr, the input
 * length plus 3 for the wrapping helpers, the input length plus 1 for
 * web_change_jsonStr_to_portStr, the three inputs plus 5 for
 * web_connect_jsonStr. Every function answers -1 for a null argument and 0
 * on success unless it says otherwise.
 */
#ifndef PLATFORM_CORE_WEB_PORT_TEXT_H
#define PLATFORM_CORE_WEB_PORT_TEXT_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

PC_API int web_change_portStr_to_jsonStr(const char *in, char *out);
PC_API int web_change_jsonStr_to_portStr(const char *in, char *out);
PC_API int web_string_to_array(const char *in, char *out);
PC_API int web_edit_respond_string(const char *in, char *out);
/* Appends "src", (quoted, then a comma) to dst. */
PC_API int web_connect_str(char *dst, const char *src);
PC_API int web_connect_jsonStr(const char *a, const char *b, const char *c, char *out);
/* 1 when text begins "LAG", 0 otherwise. */
PC_API int web_portStr_is_lag(const char *text);
/* The number formed by the digits after the last '_'; -1 without a '_'
 * or when the number does not fit an int. */
PC_API int web_get_num_from_name(const char *text, int *n);
PC_API int web_str_to_lower(char *text);
/* Replaces oldLen characters at `at` by newText, moving the rest of the
 * string; the buffer must hold the longer result. */
PC_API int str_replace(char *at, int oldLen, const char *newText);

PC_END_DECLS

#endif
