// Ordered map of element words over the red-black tree core.
#include <cstdlib>

#include "lib/gdsl_check.h"
#include "platform_core/gdsl_rbtree.h"

struct RbTree {
    rb_root root;                 // owns its nodes (RbTreeNode)
    DataCompareFunc data_cmp;     // required, orders the elements
    DataFindCompareFunc key_cmp;  // required, agrees with data_cmp
    DataDestroyFunc destroy;      // optional, releases one element
};

namespace {

// The map node holding a tree node (the tree node is its first member).
RbTreeNode *map_node(rb_node *node) { return reinterpret_cast<RbTreeNode *>(node); }

RbTreeNode *find(RbTree *thiz, void *key) {
    rb_node *node = thiz->root.rb_node;
    while (node) {
        int order = thiz->key_cmp(key, map_node(node)->data);
        if (order == 0) return map_node(node);
        node = order < 0 ? node->left : node->right;
    }
    return nullptr;
}

void erase_and_free(RbTree *thiz, RbTreeNode *node) {
    rb_erase(&node->rb, &thiz->root);
    if (thiz->destroy) thiz->destroy(node->data);
    std::free(node);
}

}  // namespace

extern "C" {

PC_API RbTree *rbtreeInit(DataCompareFunc dataCmp, DataFindCompareFunc keyDataCmp, DataDestroyFunc destroy) {
    GDSL_CHECK(dataCmp != NULL && keyDataCmp != NULL, nullptr);
    auto *thiz = static_cast<RbTree *>(std::malloc(sizeof(RbTree)));
    if (!thiz) return nullptr;
    thiz->root.rb_node = nullptr;
    thiz->data_cmp = dataCmp;
    thiz->key_cmp = keyDataCmp;
    thiz->destroy = destroy;
    return thiz;
}

PC_API int rbtreeInsert(RbTree *thiz, void *data) {
    GDSL_CHECK(thiz != NULL && data != NULL, GDSL_RET_INVALID_PARAMS);
    rb_node **link = &thiz->root.rb_node;
    rb_node *parent = nullptr;
    while (*link) {
        parent = *link;
        int order = thiz->data_cmp(data, map_node(parent)->data);
        if (order == 0) return -1;
        link = order < 0 ? &parent->left : &parent->right;
    }
    auto *data_wrapper = static_cast<RbTreeNode *>(std::malloc(sizeof(RbTreeNode)));
    GDSL_CHECK(data_wrapper != NULL, GDSL_RET_OOM);
    data_wrapper->data = data;
    rb_link_node(&data_wrapper->rb, parent, link);
    rb_insert_color(&data_wrapper->rb, &thiz->root);
    return GDSL_RET_OK;
}

PC_API void *rbtreeSearch(RbTree *root, void *key) {
    GDSL_CHECK(root != NULL && key != NULL, nullptr);
    RbTreeNode *node = find(root, key);
    return node ? node->data : nullptr;
}

PC_API void rbtreeRemove(RbTree *root, void *key) {
    GDSL_CHECK_VOID(root != NULL && key != NULL);
    if (RbTreeNode *node = find(root, key)) erase_and_free(root, node);
}

PC_API void *rbtreeGetFirst(RbTree *thiz) {
    GDSL_CHECK(thiz != NULL, nullptr);
    rb_node *node = rb_first(&thiz->root);
    return node ? map_node(node)->data : nullptr;
}

PC_API void *rbtreeGetLast(RbTree *thiz) {
    GDSL_CHECK(thiz != NULL, nullptr);
    rb_node *node = rb_last(&thiz->root);
    return node ? map_node(node)->data : nullptr;
}

PC_API int rbtreeTraverse(RbTree *thiz, DataVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    int result = GDSL_RET_OK;
    for (rb_node *node = rb_first(&thiz->root); node; node = rb_next(node)) {
        result = visit(ctx, map_node(node)->data);
        if (result == GDSL_RET_STOP) break;
    }
    return result;
}

PC_API int rbtreeTraverseSafe(RbTree *thiz, RbTreeSafeVisitFunc visit, void *ctx) {
    GDSL_CHECK(thiz != NULL && visit != NULL, GDSL_RET_INVALID_PARAMS);
    int result = GDSL_RET_OK;
    rb_node *node = rb_first(&thiz->root);
    while (node) {
        rb_node *next = rb_next(node);
        result = visit(thiz, map_node(node), ctx);
        node = next;
    }
    return result;
}

PC_API void rbtreeDeleteAll(RbTree *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    while (rb_node *node = rb_first(&thiz->root)) erase_and_free(thiz, map_node(node));
}

PC_API void rbtreeDestroy(RbTree *thiz) {
    GDSL_CHECK_VOID(thiz != NULL);
    rbtreeDeleteAll(thiz);
    std::free(thiz);
}

}  // extern "C"
