// Red-black tree core: rebalancing on insert and erase, in-order stepping,
// node replacement and the augmented-tree hooks. See gdsl_rbtree.h for the
// invariants and the node layout.
//
// Left and right cases are mirror images, so each step is written once for a
// "side" and its opposite.
#include <utility>

#include "platform_core/gdsl_rbtree.h"

namespace {

constexpr uintptr_t kBlackBit = 1;

enum class Side { kLeft, kRight };

constexpr Side opposite(Side side) { return side == Side::kLeft ? Side::kRight : Side::kLeft; }

rb_node *&child(rb_node *node, Side side) { return side == Side::kLeft ? node->left : node->right; }

Side side_under(const rb_node *parent, const rb_node *node) {
    return parent->left == node ? Side::kLeft : Side::kRight;
}

bool is_black(const rb_node *node) { return (node->parent_color & kBlackBit) != 0; }
bool is_red(const rb_node *node) { return !is_black(node); }
// An empty link counts as black.
bool black_or_empty(const rb_node *node) { return node == nullptr || is_black(node); }
void paint_black(rb_node *node) { node->parent_color |= kBlackBit; }
void paint_red(rb_node *node) { node->parent_color &= ~kBlackBit; }
void copy_colour(rb_node *to, const rb_node *from) {
    to->parent_color = (to->parent_color & ~kBlackBit) | (from->parent_color & kBlackBit);
}

void set_parent(rb_node *node, rb_node *parent) {
    node->parent_color = (node->parent_color & kBlackBit) | reinterpret_cast<uintptr_t>(parent);
}

// Makes the link that held old_child (in parent, or the root when parent is
// null) point to new_child.
void replace_link(rb_node *old_child, rb_node *new_child, rb_node *parent, rb_root *root) {
    if (parent == nullptr)
        root->rb_node = new_child;
    else
        child(parent, side_under(parent, old_child)) = new_child;
}

// Lifts node's child on side `rising` into node's place; node becomes that
// child's child on the opposite side. Order is unchanged.
void rotate(rb_node *node, Side rising, rb_root *root) {
    Side sinking = opposite(rising);
    rb_node *pivot = child(node, rising);
    rb_node *parent = rb_parent(node);

    rb_node *inner = child(pivot, sinking);
    child(node, rising) = inner;
    if (inner) set_parent(inner, node);

    child(pivot, sinking) = node;
    set_parent(pivot, parent);
    replace_link(node, pivot, parent, root);
    set_parent(node, pivot);
}

// Restores the black height after a black node was removed from below
// parent, leaving node (possibly empty) one black short.
void erase_fixup(rb_node *node, rb_node *parent, rb_root *root) {
    while (black_or_empty(node) && node != root->rb_node) {
        Side near = side_under(parent, node);
        Side far = opposite(near);
        rb_node *sibling = child(parent, far);
        if (is_red(sibling)) {
            // Turn a red sibling into a black one without changing heights.
            paint_black(sibling);
            paint_red(parent);
            rotate(parent, far, root);
            sibling = child(parent, far);
        }
        if (black_or_empty(sibling->left) && black_or_empty(sibling->right)) {
            // Take one black off the sibling's side too; the shortage moves up.
            paint_red(sibling);
            node = parent;
            parent = rb_parent(node);
            continue;
        }
        if (black_or_empty(child(sibling, far))) {
            // Bring the red nephew to the far side.
            paint_black(child(sibling, near));
            paint_red(sibling);
            rotate(sibling, near, root);
            sibling = child(parent, far);
        }
        // The far nephew is red: one rotation at parent gives node's side
        // the missing black.
        copy_colour(sibling, parent);
        paint_black(parent);
        paint_black(child(sibling, far));
        rotate(parent, far, root);
        node = root->rb_node;
        break;
    }
    if (node) paint_black(node);
}

rb_node *extreme(rb_node *node, Side side) {
    if (node)
        while (child(node, side)) node = child(node, side);
    return node;
}

// The neighbour of node in the order on side `side` (right: next, left:
// previous), or null.
rb_node *step(const rb_node *node, Side side) {
    // A node whose parent is itself is not in a tree.
    if (rb_parent(node) == node) return nullptr;
    if (rb_node *down = child(const_cast<rb_node *>(node), side)) return extreme(down, opposite(side));
    rb_node *parent;
    while ((parent = rb_parent(node)) != nullptr && node == child(parent, side)) node = parent;
    return parent;
}

// Recomputes the summaries on the way from node to the root, and those of
// the siblings met on the way (rotations may have moved them).
void augment_path(rb_node *node, rb_augment_f func, void *data) {
    for (;;) {
        func(node, data);
        rb_node *parent = rb_parent(node);
        if (parent == nullptr) return;
        rb_node *sibling = child(parent, opposite(side_under(parent, node)));
        if (sibling) func(sibling, data);
        node = parent;
    }
}

}  // namespace

extern "C" {

PC_API void rb_insert_color(rb_node *node, rb_root *root) {
    rb_node *parent;
    // node is red; repair while its parent is red too.
    while ((parent = rb_parent(node)) != nullptr && is_red(parent)) {
        rb_node *grandparent = rb_parent(parent);  // exists: a red node is never the root
        Side side = side_under(grandparent, parent);
        rb_node *uncle = child(grandparent, opposite(side));
        if (uncle && is_red(uncle)) {
            // Push the grandparent's black down one level and retry above.
            paint_black(uncle);
            paint_black(parent);
            paint_red(grandparent);
            node = grandparent;
            continue;
        }
        if (child(parent, opposite(side)) == node) {
            // Inner grandchild: rotate it outward first.
            rotate(parent, opposite(side), root);
            std::swap(parent, node);
        }
        paint_black(parent);
        paint_red(grandparent);
        rotate(grandparent, side, root);
    }
    paint_black(root->rb_node);
}

PC_API void rb_erase(rb_node *node, rb_root *root) {
    rb_node *orphan;     // the child that moves up into the removed slot
    rb_node *parent;     // the parent of that slot after the removal
    bool removed_black;  // colour of the node that really left its slot

    if (node->left && node->right) {
        // Two children: the in-order successor leaves its own slot and takes
        // over node's place, children and colour.
        rb_node *successor = extreme(node->right, Side::kLeft);
        replace_link(node, successor, rb_parent(node), root);
        orphan = successor->right;
        parent = rb_parent(successor);
        removed_black = is_black(successor);
        if (parent == node) {
            parent = successor;
        } else {
            if (orphan) set_parent(orphan, parent);
            parent->left = orphan;
            successor->right = node->right;
            set_parent(node->right, successor);
        }
        successor->parent_color = node->parent_color;
        successor->left = node->left;
        set_parent(node->left, successor);
    } else {
        orphan = node->left ? node->left : node->right;
        parent = rb_parent(node);
        removed_black = is_black(node);
        if (orphan) set_parent(orphan, parent);
        replace_link(node, orphan, parent, root);
    }
    if (removed_black) erase_fixup(orphan, parent, root);
}

PC_API void rb_replace_node(rb_node *victim, rb_node *replacement, rb_root *root) {
    replace_link(victim, replacement, rb_parent(victim), root);
    if (victim->left) set_parent(victim->left, replacement);
    if (victim->right) set_parent(victim->right, replacement);
    *replacement = *victim;
}

PC_API rb_node *rb_first(const rb_root *root) { return extreme(root->rb_node, Side::kLeft); }
PC_API rb_node *rb_last(const rb_root *root) { return extreme(root->rb_node, Side::kRight); }
PC_API rb_node *rb_next(const rb_node *node) { return step(node, Side::kRight); }
PC_API rb_node *rb_prev(const rb_node *node) { return step(node, Side::kLeft); }

PC_API void rb_augment_insert(rb_node *node, rb_augment_f func, void *data) {
    // Start below the new node when it has a child: rebalancing may have
    // hung an old subtree under it.
    if (node->left)
        node = node->left;
    else if (node->right)
        node = node->right;
    augment_path(node, func, data);
}

PC_API rb_node *rb_augment_erase_begin(rb_node *node) {
    if (!node->left && !node->right) return rb_parent(node);
    if (!node->right) return node->left;
    if (!node->left) return node->right;
    // Two children: the successor moves into node's place, so the deepest
    // surviving point is below or at the successor's old slot.
    rb_node *successor = rb_next(node);
    if (successor->right) return successor->right;
    if (rb_parent(successor) != node) return rb_parent(successor);
    return successor;
}

PC_API void rb_augment_erase_end(rb_node *node, rb_augment_f func, void *data) {
    if (node) augment_path(node, func, data);
}

}  // extern "C"
