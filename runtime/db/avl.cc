// Intrusive AVL trees: the nodes lie inside the caller's records, the tree
// is a root slot and a balance slot that the caller keeps (a table object
// keeps both).  Each node holds left, right and parent links and its balance,
// height(right) - height(left).  The tree's balance slot holds the height of
// the tree (0 when empty).
//
// Every store into a node or a slot goes through the database's announce
// (write_notify, and for a shared database the write-range declaration)
// before it is made; a store that would not change the word is not made.
// Compares return E_AVL_LESS, E_AVL_EQUAL or E_AVL_GREATER for (a, b).
#include <algorithm>

#include "db/db_internal.h"

namespace {

using Node = e_avl_node_t;

struct Tree {
  mox_db::Stores stores;  // the database looked up once per operation
  Node **root;

  template <class T>
  void set(T &slot, T value) {
    if (slot != value) stores.put(&slot, value);
  }
  // Points whatever held old (its parent's link or the root slot) at fresh.
  void replace_child(Node *parent, Node *old, Node *fresh) {
    if (!parent)
      set(*root, fresh);
    else if (parent->left == old)
      set(parent->left, fresh);
    else
      set(parent->right, fresh);
  }
  // Rotations keep the balances exact for any balances of x and its child.
  Node *rotate_left(Node *x) {
    Node *y = x->right;
    set(x->right, y->left);
    if (y->left) set(y->left->parent, x);
    set(y->parent, x->parent);
    replace_child(x->parent, x, y);
    set(y->left, x);
    set(x->parent, y);
    const int32_t xb = x->balance - 1 - std::max(y->balance, 0);
    set(x->balance, xb);
    set(y->balance, y->balance - 1 + std::min(xb, 0));
    return y;
  }
  Node *rotate_right(Node *x) {
    Node *y = x->left;
    set(x->left, y->right);
    if (y->right) set(y->right->parent, x);
    set(y->parent, x->parent);
    replace_child(x->parent, x, y);
    set(y->right, x);
    set(x->parent, y);
    const int32_t xb = x->balance + 1 - std::min(y->balance, 0);
    set(x->balance, xb);
    set(y->balance, y->balance + 1 + std::max(xb, 0));
    return y;
  }
  // x has balance +2 or -2 (already stored); returns the subtree's new root.
  Node *rebalance(Node *x) {
    if (x->balance > 0) {
      if (x->right->balance < 0) rotate_right(x->right);
      return rotate_left(x);
    }
    if (x->left->balance > 0) rotate_left(x->left);
    return rotate_right(x);
  }
};

Node *leftmost(Node *n) {
  while (n && n->left) n = n->left;
  return n;
}
Node *rightmost(Node *n) {
  while (n && n->right) n = n->right;
  return n;
}

// True when n is linked into the tree at root (walks up to the top).
bool in_tree(Node *const *root, const Node *n) {
  while (n->parent) {
    if (n->parent->left != n && n->parent->right != n) return false;
    n = n->parent;
  }
  return n == *root;
}

// A node's own links: a probe that is no tree node has a null parent and is
// not the root.
bool linked(Node *const *root, const Node *n) {
  return n == *root || (n->parent && (n->parent->left == n || n->parent->right == n));
}


template <bool Forward>
Node *step(Node *const *root, const Node *probe, e_avl_compare_fn compare) {
  if (!root || !probe) return nullptr;
  if (linked(root, probe)) return Forward ? e_avl_next_linked(probe) : e_avl_prev_linked(probe);
  if (!compare) return nullptr;
  const uint32_t beyond = Forward ? E_AVL_LESS : E_AVL_GREATER;
  Node *best = nullptr;
  for (Node *cur = *root; cur;) {
    const bool hit = compare(probe, cur) == beyond;
    if (hit) best = cur;
    cur = hit == Forward ? cur->left : cur->right;
  }
  return best;
}

bool usable(mox_handle_t *h, uint32_t db, const void *root, const void *node) {
  MOX_RT_ENTER();
  return root && node && mox_db::writable(h, db);
}

// Takes node out of the tree at root (the caller has checked that it is in it).
uint32_t unlink(mox_handle_t *h, uint32_t db, Node **root, Node *node, int32_t *balance) {
  Tree t{{h, db}, root};
  Node *from;       // lowest node whose subtree lost a level ...
  bool left_side;   // ... on this side
  if (node->left && node->right) {
    // The successor takes the node's place; its own place loses a level.
    Node *s = leftmost(node->right);
    if (s->parent != node) {
      from = s->parent;
      left_side = true;
      t.set(from->left, s->right);
      if (s->right) t.set(s->right->parent, from);
      t.set(s->right, node->right);
      t.set(node->right->parent, s);
    } else {
      from = s;
      left_side = false;
    }
    t.set(s->left, node->left);
    t.set(node->left->parent, s);
    t.set(s->parent, node->parent);
    t.replace_child(node->parent, node, s);
    t.set(s->balance, node->balance);
  } else {
    Node *child = node->left ? node->left : node->right;
    from = node->parent;
    left_side = from && from->left == node;
    t.replace_child(from, node, child);
    if (child) t.set(child->parent, from);
  }
  t.set(node->left, static_cast<Node *>(nullptr));
  t.set(node->right, static_cast<Node *>(nullptr));
  t.set(node->parent, static_cast<Node *>(nullptr));
  t.set(node->balance, 0);
  while (from) {
    int32_t b = from->balance + (left_side ? 1 : -1);
    t.set(from->balance, b);
    if (b == 1 || b == -1) return 1;  // height unchanged
    if (b != 0) {
      from = t.rebalance(from);
      if (from->balance != 0) return 1;
    }
    Node *up = from->parent;
    left_side = up && up->left == from;
    from = up;
  }
  if (balance) t.set(*balance, *balance - 1);
  return 1;
}

}  // namespace

extern "C" {

MOX_API uint32_t e_avl_insert(mox_handle_t *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance, e_avl_compare_fn compare) {
  if (!usable(h, db, root, node) || !compare) return 0;
  Node *parent = nullptr, *cur = *root;
  uint32_t c = E_AVL_LESS;
  while (cur) {
    c = compare(node, cur);
    if (c == E_AVL_EQUAL) return 0;
    parent = cur;
    cur = c == E_AVL_LESS ? cur->left : cur->right;
  }
  Tree t{{h, db}, root};
  t.set(node->left, static_cast<Node *>(nullptr));
  t.set(node->right, static_cast<Node *>(nullptr));
  t.set(node->parent, parent);
  t.set(node->balance, 0);
  if (!parent)
    t.set(*root, node);
  else if (c == E_AVL_LESS)
    t.set(parent->left, node);
  else
    t.set(parent->right, node);
  // The subtree of n grew by one level; tell its ancestors.
  for (Node *n = node, *p = parent; p; n = p, p = p->parent) {
    const int32_t b = p->balance + (p->left == n ? -1 : 1);
    t.set(p->balance, b);
    if (b == 0) return 1;
    if (b == 2 || b == -2) {
      t.rebalance(p);
      return 1;
    }
  }
  if (balance) t.set(*balance, *balance + 1);
  return 1;
}

MOX_API uint32_t e_avl_delete(mox_handle_t *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance, e_avl_compare_fn compare) {
  if (!usable(h, db, root, node) || !in_tree(root, node)) return 0;
  return unlink(h, db, root, node, balance);
}

// For a caller that knows the tree holding the node (a table record names its
// table): only the node's own link is checked, not the way up to the root.
MOX_API uint32_t e_avl_remove(mox_handle_t *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance) {
  if (!usable(h, db, root, node) || !linked(root, node)) return 0;
  return unlink(h, db, root, node, balance);
}

MOX_API e_avl_node_t *e_avl_search(mox_handle_t *h, uint32_t db, e_avl_node_t *const *root,
                                   const e_avl_node_t *probe, e_avl_compare_fn compare) {
  MOX_RT_ENTER();
  if (!root || !probe || !compare) return nullptr;
  for (Node *cur = *root; cur;) {
    const uint32_t c = compare(probe, cur);
    if (c == E_AVL_EQUAL) return cur;
    cur = c == E_AVL_LESS ? cur->left : cur->right;
  }
  return nullptr;
}

MOX_API e_avl_node_t *e_avl_get_first(mox_handle_t *h, uint32_t db, e_avl_node_t *const *root) {
  MOX_RT_ENTER();
  return root ? leftmost(*root) : nullptr;
}

MOX_API e_avl_node_t *e_avl_get_last(mox_handle_t *h, uint32_t db, e_avl_node_t *const *root) {
  MOX_RT_ENTER();
  return root ? rightmost(*root) : nullptr;
}

// From a node linked into the tree: its successor (predecessor) by the
// links.  From any other probe: the smallest node greater (the largest node
// smaller) than the probe, by a descent.
MOX_API e_avl_node_t *e_avl_get_next(mox_handle_t *h, uint32_t db, e_avl_node_t *const *root,
                                     const e_avl_node_t *probe, e_avl_compare_fn compare) {
  MOX_RT_ENTER();
  return step<true>(root, probe, compare);
}

MOX_API e_avl_node_t *e_avl_get_prev(mox_handle_t *h, uint32_t db, e_avl_node_t *const *root,
                                     const e_avl_node_t *probe, e_avl_compare_fn compare) {
  MOX_RT_ENTER();
  return step<false>(root, probe, compare);
}

}  // extern "C"
