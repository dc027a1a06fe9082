// What the table engines share: the record layout per table, trace emission
// into the tables section, statistics and announced stores.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "frame/conventions.h"
#include "mox/db.h"
#include "table_descriptors.h"
#include "tables/tables.h"

namespace orva {

template <const TableDesc &D>
using Rec = std::conditional_t<D.composite, CompositeTableRecord, PlainTableRecord>;

inline TableRecordHead *rec_of(void *p) { return static_cast<TableRecordHead *>(p); }
inline mox_db_table_record_t &head(void *p) { return rec_of(p)->head; }
inline mox_db_table_t *tbl(void *p) { return static_cast<mox_db_table_t *>(p); }
inline TableRecordHead *rec_of_node(const e_avl_node_t *n) {
  return reinterpret_cast<TableRecordHead *>(const_cast<char *>(reinterpret_cast<const char *>(n)) -
                                             offsetof(TableRecordHead, node));
}

// The carried record of slot 0 (data) or 1 (key record of a composite table).
template <const TableDesc &D>
void **slot_of(void *rec, uint32_t slot) {
  auto *r = static_cast<Rec<D> *>(rec);
  if constexpr (D.composite)
    if (slot == 1) return &r->key;
  return &r->data;
}

// Emission of the table's message m (tables section), with its arguments.
void ttrace(const TableDesc &d, TMsg m);
void ttrace(const TableDesc &d, TMsg m, const char *a);
void ttrace(const TableDesc &d, TMsg m, uint32_t a);
void ttrace(const TableDesc &d, TMsg m, const char *a, uint32_t b);
void ttrace(const TableDesc &d, TMsg m, uint32_t a, uint32_t b);
[[noreturn]] void tabort(const TableDesc &d, TMsg m);
[[noreturn]] void tabort(const TableDesc &d, TMsg m, const char *a);
const char *errtext(uint32_t code);

// Counts the creation (counter MOX_STATS_CREATE) or destruction of an object
// of type-info record ti in its one variant entry; returns 0 or the error.
// Missing variant information aborts.
uint32_t table_stats(const TableDesc &d, mox_handle_t *h, uint32_t db, mox_type_info_t *ti,
                     uint32_t counter);

// Announced store of a word of database memory.
template <class T>
inline void dstore(mox_handle_t *h, uint32_t db, T *dst, T value, void *owner = nullptr) {
  store(h, db, dst, value, owner);
}

// The handle and database of the tree operation in progress on this thread:
// the tree's compare has no handle argument, yet ordering by location entry
// needs the database's locations.
struct TreeScope {
  mox_handle_t *h;
  uint32_t db;
};
// Initial-exec: set on every tree operation, so one %fs-relative store, no
// TLS lookup call.
extern constinit thread_local TreeScope tree_scope [[gnu::tls_model("initial-exec")]];

}  // namespace orva
