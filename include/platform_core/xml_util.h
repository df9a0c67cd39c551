/*
 * Guarded XML layer over Mini-XML.
 *
 * A document is a Mini-XML node tree (mxml_node_t); a caller that includes
 * <mxml.h> may walk it directly. Text is loaded as words: an element's
 * value is its text children joined by single blanks. Every function
 * tolerates null arguments: pointer results are null, int results -1.
 *
 * The functions exist in builds that have Mini-XML (PC_HAVE_MXML);
 * strncpy_safe exists everywhere.
 */
#ifndef PLATFORM_CORE_XML_UTIL_H
#define PLATFORM_CORE_XML_UTIL_H

#include "platform_core/api.h"

PC_BEGIN_DECLS

typedef struct _mxml_node_s mxml_node_t;

/* Loading and releasing a document (the returned root is the caller's). */
PC_API mxml_node_t *mxmlParserLoadFile(const char *path);
PC_API mxml_node_t *mxmlParserLoadString(const char *text);
PC_API void mxmlParserFree(mxml_node_t *doc);

/* The first descendant element of `top` named `name`. */
PC_API mxml_node_t *mxmlParserFind(mxml_node_t *top, const char *name);
/* The element at a path of names separated by '/' below `top`
 * ("a/b/c"; "*" matches any one element). */
PC_API mxml_node_t *mxmlParserFindByPath(mxml_node_t *top, const char *path);
/* The first child element of `node` named `name` (any name when null). */
PC_API mxml_node_t *mxmlParserGetElem(mxml_node_t *node, const char *name);
PC_API const char *mxmlParserGetElemName(mxml_node_t *elem);
/* Copies the element's value into buf; -1 when it does not fit. */
PC_API int mxmlParserGetElemValue(mxml_node_t *elem, char *buf, int size);
PC_API mxml_node_t *mxmlParserGetParent(mxml_node_t *node);
PC_API const char *mxmlParserGetAttr(mxml_node_t *elem, const char *name);
PC_API int mxmlParserGetAttrNum(mxml_node_t *elem);
/* The value of attribute number idx (from 0), its name in *name. */
PC_API const char *mxmlParserGetAttrValue(mxml_node_t *elem, int idx, const char **name);

/* Copies at most size - 1 bytes and always terminates dst; returns dst. */
PC_API char *strncpy_safe(char *dst, const char *src, unsigned size);

PC_END_DECLS

#endif
