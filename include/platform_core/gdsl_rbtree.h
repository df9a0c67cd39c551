/*
 * Red-black tree core and the ordered map built on it.
 *
 * The core is intrusive: a caller embeds a struct rb_node in its own record,
 * descends from the root itself to find the link where a new node belongs,
 * links it with rb_link_node and calls rb_insert_color to rebalance. The
 * core never allocates and never compares; it only keeps the tree balanced:
 *   - every node is red or black, the root is black;
 *   - a red node has no red child;
 *   - every path from a node down to an empty link passes the same number of
 *     black nodes,
 * so the height stays below 2 log2(n + 1). A node is three words: the parent
 * pointer with the colour in its lowest bit (1 black, 0 red; nodes are at
 * least word aligned so that bit is free), the right child and the left
 * child. The root record is one pointer.
 *
 * Erasing a node with two children moves its in-order successor into its
 * place. The augmented functions let a caller keep a per-node summary of its
 * subtree (a size, a maximum) correct across rebalancing: after linking and
 * rb_insert_color, call rb_augment_insert; before rb_erase, take the deepest
 * surviving node of the rebalance path with rb_augment_erase_begin, and after
 * it call rb_augment_erase_end with that node. The callback recomputes one
 * node's summary from its children.
 *
 * The ordered map (RbTree) wraps the core: each map node is a tree node
 * followed by the element word. It orders elements by dataCmp(a, b) and finds
 * them by keyDataCmp(key, element), which must agree with dataCmp. Keys are
 * not stored. Equal elements are refused.
 */
#ifndef PLATFORM_CORE_GDSL_RBTREE_H
#define PLATFORM_CORE_GDSL_RBTREE_H

#include <stddef.h>
#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/gdsl_types.h"

PC_BEGIN_DECLS

/* One tree node, embedded in (and owned by) the caller's record. */
struct rb_node {
    uintptr_t parent_color; /* parent pointer | colour bit (1 black, 0 red) */
    struct rb_node *right;
    struct rb_node *left;
};

/* The tree: its root node, null when empty. Owned by the caller. */
struct rb_root {
    struct rb_node *rb_node;
};

#define RB_ROOT_INIT \
    { NULL }

/* Recomputes the summary of one node from its children. */
typedef void (*rb_augment_f)(struct rb_node *node, void *data);

static inline struct rb_node *rb_parent(const struct rb_node *node) {
    return (struct rb_node *)(node->parent_color & ~(uintptr_t)1);
}

/* Links a new red node below parent at *link (a child slot of parent, or the
 * root slot with a null parent); rb_insert_color must follow. */
static inline void rb_link_node(struct rb_node *node, struct rb_node *parent, struct rb_node **link) {
    node->parent_color = (uintptr_t)parent;
    node->left = NULL;
    node->right = NULL;
    *link = node;
}

PC_API void rb_insert_color(struct rb_node *node, struct rb_root *root);
PC_API void rb_erase(struct rb_node *node, struct rb_root *root);
/* Puts replacement where victim is, without rebalancing; both must hold the
 * same place in the order. */
PC_API void rb_replace_node(struct rb_node *victim, struct rb_node *replacement, struct rb_root *root);
PC_API struct rb_node *rb_first(const struct rb_root *root);
PC_API struct rb_node *rb_last(const struct rb_root *root);
PC_API struct rb_node *rb_next(const struct rb_node *node);
PC_API struct rb_node *rb_prev(const struct rb_node *node);

PC_API void rb_augment_insert(struct rb_node *node, rb_augment_f func, void *data);
PC_API struct rb_node *rb_augment_erase_begin(struct rb_node *node);
PC_API void rb_augment_erase_end(struct rb_node *node, rb_augment_f func, void *data);

/* One map node; owned by the map. */
typedef struct RbTreeNode {
    struct rb_node rb; /* must stay first */
    void *data;        /* the element, owned by the map */
} RbTreeNode;

typedef struct RbTree RbTree;

/* Called by rbtreeTraverseSafe; it may remove the node it is given. */
typedef int (*RbTreeSafeVisitFunc)(RbTree *tree, RbTreeNode *node, void *ctx);

/* Empty map; null when a compare is null or without memory. */
PC_API RbTree *rbtreeInit(DataCompareFunc dataCmp, DataFindCompareFunc keyDataCmp, DataDestroyFunc destroy);
/* 0; -1 when an equal element is present (the caller keeps data); 1 no
 * memory; 3. */
PC_API int rbtreeInsert(RbTree *tree, void *data);
/* The element matching key, or null. */
PC_API void *rbtreeSearch(RbTree *tree, void *key);
/* Removes and destroys the element matching key; absent keys are ignored. */
PC_API void rbtreeRemove(RbTree *tree, void *key);
PC_API void *rbtreeGetFirst(RbTree *tree);
PC_API void *rbtreeGetLast(RbTree *tree);
/* visit(ctx, data) in order until GDSL_RET_STOP; the last result. */
PC_API int rbtreeTraverse(RbTree *tree, DataVisitFunc visit, void *ctx);
/* visit(tree, node, ctx) in order over every node; the next node is taken
 * before each call. The last result. */
PC_API int rbtreeTraverseSafe(RbTree *tree, RbTreeSafeVisitFunc visit, void *ctx);
/* Removes and destroys every element, smallest first; the map stays. */
PC_API void rbtreeDeleteAll(RbTree *tree);
/* rbtreeDeleteAll, then frees the map itself. */
PC_API void rbtreeDestroy(RbTree *tree);

PC_END_DECLS

#endif
