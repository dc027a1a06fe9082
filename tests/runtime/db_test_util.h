// Helpers of the database-service tests: a keyed record with a tree node,
// its compare, allocation in a database through the handle's hooks, and a
// runner of table-driven steps.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "mox/runtime.h"

namespace db_test {

struct Rec { uint32_t key; e_avl_node_t node; };

inline uint32_t key_of(const e_avl_node_t *n) {
  return reinterpret_cast<const Rec *>(reinterpret_cast<const char *>(n) - offsetof(Rec, node))
      ->key;
}
inline uint32_t compare(const e_avl_node_t *a, const e_avl_node_t *b) {
  return key_of(a) < key_of(b) ? E_AVL_LESS : key_of(a) == key_of(b) ? E_AVL_EQUAL : E_AVL_GREATER;
}

inline void *alloc(mox_handle_t *h, uint32_t db, uint32_t n) {
  return h->record_alloc(h->record_heap, db, n);
}
inline void release(mox_handle_t *h, uint32_t db, void *p) { h->record_free(h->record_heap, db, p); }
// A zeroed object of type T in database db.
template <class T>
T *make(mox_handle_t *h, uint32_t db) {
  auto *p = static_cast<T *>(alloc(h, db, sizeof(T)));
  if (p) *p = T{};
  return p;
}

// Runs the steps in order; each must leave the code given in its slot.
struct Step { const char *what; std::function<void(uint32_t *)> op; uint32_t code; };
inline void run(const std::vector<Step> &steps) {
  for (const Step &s : steps) {
    uint32_t e = 0;
    s.op(&e);
    EXPECT_EQ(e, s.code) << s.what;
  }
}

}  // namespace db_test
