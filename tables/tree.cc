// Key order, insert and delete, and the one search / walk / first / last
// procedure every search and walk of a table is a setting of.
#include <cstring>

#include "frame/kinds.h"
#include "serial/print.h"
#include "serial/wire.h"
#include "tables/internal.h"
#include "types/compare.h"

namespace orva {

namespace {

// The key of a table record: its key record, or its data record's key field
// (null when the record carries none).
template <const TableDesc &D>
const void *key_of(void *rec) {
  void *obj = *slot_of<D>(rec, D.composite ? 1 : 0);
  if (obj == nullptr || D.composite) return obj;
  return static_cast<const char *>(obj) + D.key_offset;
}

// A MAC address as a number whose order is the octets' order: the first
// four octets and the last two, each loaded as one word, in big-endian order.
inline uint64_t mac_rank(const void *p) {
  uint32_t hi;
  uint16_t lo;
  std::memcpy(&hi, p, 4);
  std::memcpy(&lo, static_cast<const char *>(p) + 4, 2);
  return uint64_t(__builtin_bswap32(hi)) << 16 | __builtin_bswap16(lo);
}

template <const TableDesc &D>
int32_t key_compare(void *ra, void *rb) {
  const void *a = key_of<D>(ra);
  const void *b = key_of<D>(rb);
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  if constexpr (D.key_kind == KeyKind::Mac) {
    const uint64_t x = mac_rank(a), y = mac_rank(b);  // inline: the tree's hottest compare
    return (x > y) - (x < y);
  } else if constexpr (D.key_kind == KeyKind::U32) {
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
  } else if constexpr (D.key_kind == KeyKind::VString) {
    return mox_vstring_compare(static_cast<const mox_vstring_t *>(a),
                               static_cast<const mox_vstring_t *>(b));
  } else {
    return type_compare<*D.key_record>(a, b);
  }
}

// A record's place in the tree's order (TableRecordHead::order): the tenant
// in the top 16 bits, the key's first 48 bits in key order below it.
template <const TableDesc &D>
uint64_t place_for(uint16_t tenant, const void *key) {
  uint64_t k = 0;
  if (key == nullptr) {
  } else if constexpr (D.key_kind == KeyKind::Mac) {
    k = mac_rank(key);
  } else if constexpr (D.key_kind == KeyKind::U32) {
    uint32_t x;
    std::memcpy(&x, key, 4);
    k = uint64_t(x) << 16;
  } else if constexpr (D.key_kind == KeyKind::VString) {
    // The first six octets, zero-padded: shorter strings sort first, and a
    // string sorts with its prefixes, as the string compare orders them.
    const auto *s = static_cast<const mox_vstring_t *>(key);
    unsigned char first[6] = {};
    if (s->str != nullptr) std::memcpy(first, s->str, s->len < 6 ? s->len : 6);
    k = mac_rank(first);
  }
  return uint64_t(tenant) << 48 | k;
}
// Whether equal places mean equal keys (or both keys absent, or one).
template <const TableDesc &D>
constexpr bool kPlaceIsKey = D.key_kind == KeyKind::Mac || D.key_kind == KeyKind::U32;

inline uint64_t place_of(const TableRecordHead *r) {
  uint64_t v;
  std::memcpy(&v, r->order, sizeof v);
  return v;
}

// Tenant, then key: by place, and by the keys themselves when the places
// are equal (a record without a key sorts first among equal places).
template <const TableDesc &D>
int32_t place_compare(TableRecordHead *ra, TableRecordHead *rb) {
  const uint64_t x = place_of(ra), y = place_of(rb);
  if (x != y) return x < y ? -1 : 1;
  if constexpr (kPlaceIsKey<D>)
    return (key_of<D>(ra) != nullptr) - (key_of<D>(rb) != nullptr);
  else
    return key_compare<D>(ra, rb);
}

// Sets the place of a probe (a record on the stack, in no tree) from its
// head and key.
template <const TableDesc &D>
void place_probe(Rec<D> &p) {
  const uint64_t v = place_for<D>(p.head.tenant, key_of<D>(&p));
  std::memcpy(p.order, &v, sizeof v);
  p.order_source = p.head.source;
  p.order_table = 0;
}

// A copy of a record that is not in the tree, with its place set: the
// start of a walk from a record outside the table.
template <const TableDesc &D>
Rec<D> probe_of(void *rec) {
  Rec<D> p;
  std::memcpy(static_cast<void *>(&p), rec, sizeof p);
  p.node = e_avl_node_t{};
  place_probe<D>(p);
  return p;
}

// Location entries in the order of their locations: out of line, so the
// compare of records of one location keeps no frame for it.
[[gnu::noinline]] int32_t loc_compare(uint32_t a, uint32_t b) {
  return moxdb_loc_entry_compare(tree_scope.h, tree_scope.db, a, b);
}

template <class T>
int32_t three_way(T a, T b) {
  return (a > b) - (a < b);
}

// Announced store of a record's place (nothing stored when it is unchanged).
inline void set_place(mox_handle_t *h, uint32_t db, TableRecordHead *r, uint64_t v,
                      uint32_t source, uint32_t tag) {
  if (place_of(r) == v && r->order_source == source && r->order_table == tag) return;
  announce(h, r->order, sizeof r->order + sizeof r->order_source + sizeof r->order_table, db,
           nullptr);
  std::memcpy(r->order, &v, sizeof v);
  r->order_source = source;
  r->order_table = tag;
}

// Whether a candidate passes the source, location and pending filters.
// (A record in the tree: its source id read from its place.)
bool passes(mox_handle_t *h, uint32_t db, const TableRecordHead &c, uint32_t source,
            uint32_t by_source, uint32_t not_pending) {
  if (by_source && source != 0 && c.order_source != source) return false;  // 0: any but 255
  if (moxdb_loc_filter_enabled(h) && !moxdb_loc_record_is_same_loc(h, db, c.head.loc_entry))
    return false;
  if (source == 0 && c.order_source == 255) return false;
  if (not_pending && (c.head.flags & MOX_REC_PENDING_DESTROY)) return false;
  return true;
}

void *found(mox_handle_t *h, uint32_t db, void *table, TableRecordHead *r) {
  if (r != nullptr && h->containment_enabled)
    moxdb_record_containment(h, db, MOX_CONTAIN_TABLE_RECORD, r, table, 1);
  return r;
}

// The order the tree keeps: avl_compare's, with tenant and key read from
// the records' places (set at insert, and in every probe).
template <const TableDesc &D>
uint32_t tree_compare(const e_avl_node_t *a, const e_avl_node_t *b) {
  TableRecordHead *ra = rec_of_node(a);
  TableRecordHead *rb = rec_of_node(b);
  int32_t c = place_compare<D>(ra, rb);
  if (c == 0 && ra->head.loc_entry != rb->head.loc_entry)
    c = loc_compare(ra->head.loc_entry, rb->head.loc_entry);
  if (c == 0) c = three_way(ra->order_source, rb->order_source);
  return c < 0 ? E_AVL_LESS : c == 0 ? E_AVL_EQUAL : E_AVL_GREATER;
}

// The walk step over the tree from a node: linked into it (its links lead
// on), or a probe (the first step is a descent by the runtime).
template <const TableDesc &D>
TableRecordHead *walk_from(mox_handle_t *h, uint32_t db, mox_db_table_t *t, TableRecordHead *start,
                           bool linked, uint32_t forward, uint32_t source, uint32_t by_source,
                           uint32_t not_pending, uint32_t same_key) {
  const uint16_t tenant = mt_get_tenant_id(h);
  const e_avl_node_t *n = &start->node;
  for (;; linked = true) {
    if (linked)
      n = forward ? e_avl_next_linked(n) : e_avl_prev_linked(n);
    else
      n = forward ? e_avl_get_next(h, db, &t->root, n, tree_compare<D>)
                  : e_avl_get_prev(h, db, &t->root, n, tree_compare<D>);
    if (n == nullptr) return nullptr;
    TableRecordHead *c = rec_of_node(n);
    if (place_of(c) >> 48 != tenant) return nullptr;
    if (same_key && place_compare<D>(c, start) != 0) return nullptr;
    if (passes(h, db, *c, source, by_source, not_pending)) return c;
  }
}

}  // namespace

template <const TableDesc &D>
uint32_t avl_compare(const e_avl_node_t *a, const e_avl_node_t *b) {
  int32_t c;
  if (a == nullptr || b == nullptr) {
    c = (a != nullptr) - (b != nullptr);
  } else {
    TableRecordHead *ra = rec_of_node(a);
    TableRecordHead *rb = rec_of_node(b);
    c = three_way(ra->head.tenant, rb->head.tenant);
    if (c == 0) c = key_compare<D>(ra, rb);
    if (c == 0 && ra->head.loc_entry != rb->head.loc_entry)
      c = loc_compare(ra->head.loc_entry, rb->head.loc_entry);
    if (c == 0) c = three_way(ra->head.source, rb->head.source);
  }
  return c < 0 ? E_AVL_LESS : c == 0 ? E_AVL_EQUAL : E_AVL_GREATER;
}

template <const TableDesc &D>
void table_insert(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t key_mark,
                  uint32_t *err) {
  if (*err != 0) return;
  if (rec == nullptr) {
    fail(h, err, kEEXIST);
    return;
  }
  mox_clear_last_error(h);
  mox_db_table_t *t = tbl(table);
  mox_db_table_record_t &r = head(rec);
  if (t == nullptr) {
    fail(h, err, kENOENT);
    return;
  }
  if (r.table != nullptr) {  // in a tree already (this table's or another's)
    fail(h, err, kEEXIST);
    return;
  }
  tree_scope = {h, db};
  TableRecordHead *tr = rec_of(rec);
  const uint64_t was = place_of(tr);
  const uint32_t was_source = tr->order_source, was_tag = tr->order_table;
  set_place(h, db, tr, place_for<D>(r.tenant, key_of<D>(rec)), r.source, table_tag(t));
  if (e_avl_insert(h, db, &t->root, &tr->node, &t->balance, tree_compare<D>) == 0) {
    set_place(h, db, tr, was, was_source, was_tag);  // a refused insert leaves the record as it was
    if (!moxdb_dup_insert_silent(h)) ttrace(D, TMsg::InsertExists);
    fail(h, err, kEEXIST);
    return;
  }
  dstore(h, db, &r.table, t);
  uint32_t local = 0;
  moxlib_record_count_add_internal(h, db, &t->record_count, 1, &local);
  uint32_t flags = r.flags & ~(MOX_REC_IN_TABLE | MOX_REC_PENDING_DESTROY | MOX_REC_KEY_MARK);
  if (key_mark) flags |= MOX_REC_KEY_MARK;
  flags |= MOX_REC_IN_TABLE;
  if (r.source == 255) moxlib_record_count_add_internal(h, db, &t->unsourced, 1, &local);
  if (uint16_t tenant = mt_get_tenant_id(h); tenant != 0)
    moxdb_update_tenant_counter(h, db, t, 1, tenant, r.source, &local);
  dstore(h, db, &r.flags, flags);
  if (moxdb_table_implicit_write_cursor_enabled(h, db, t))  // cursors on, implicit write cursor
    moxdb_enq_rec_move_write_cursor_internal(h, db, t, rec, &local);
  found(h, db, t, rec_of(rec));
}

template <const TableDesc &D>
void table_delete(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t key_mark,
                  uint32_t *err) {
  if (!enter(h, err)) return;
  mox_db_table_t *t = tbl(table);
  if (t == nullptr || rec == nullptr) {
    fail(h, err, kENOENT);
    return;
  }
  mox_db_table_record_t &r = head(rec);
  uint32_t local = 0;
  if (!moxgc_handle_in_gc(h)) {
    uint32_t reader = moxdb_table_has_read_cursor(h, db, t, &local);
    if (local != 0) {
      ttrace(D, TMsg::DeleteReaderCheck, errtext(local));
      fail(h, err, local);
      return;
    }
    if (reader) {
      ttrace(D, TMsg::DeleteReader);
      fail(h, err, kEINVAL);
      return;
    }
  }
  if (key_mark) {
    if (!(r.flags & MOX_REC_KEY_MARK)) dstore(h, db, &r.flags, r.flags | MOX_REC_KEY_MARK);
    return;
  }
  tree_scope = {h, db};
  if (r.table != t ||
      e_avl_remove(h, db, &t->root, &rec_of(rec)->node, &t->balance) == 0) {
    ttrace(D, TMsg::DeleteNotFound);
    fail(h, err, kENOENT);
    return;
  }
  dstore(h, db, &r.table, static_cast<mox_db_table_t *>(nullptr));
  dstore(h, db, &r.flags, r.flags & ~(MOX_REC_KEY_MARK | MOX_REC_IN_TABLE));
  moxlib_record_count_add_internal(h, db, &t->record_count, -1, &local);
  if (r.source == 255 && t->unsourced != 0)
    moxlib_record_count_add_internal(h, db, &t->unsourced, -1, &local);
  if (r.flags & MOX_REC_PENDING_DESTROY) {
    moxlib_record_count_add_internal(h, db, &t->pending_destroy, -1, &local);
    moxdb_database_pending_destroy_add(h, db, -1, &local);
  }
  if (uint16_t tenant = mt_get_tenant_id(h); tenant != 0)
    moxdb_update_tenant_counter(h, db, t, 0, tenant, r.source, &local);
  if (platform_announces(h, db)) moxdb_plat_set_destroy(h, db, rec);
}

template <const TableDesc &D>
void *table_search(mox_handle_t *h, uint32_t db, void *table, const void *key, uint32_t near,
                   uint32_t forward, uint32_t probe_source, uint32_t filter_source,
                   uint32_t not_pending, uint32_t same_key, uint32_t *err) {
  if (!enter(h, err)) return nullptr;
  mox_db_table_t *t = tbl(table);
  if (t == nullptr || key == nullptr) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  Rec<D> probe{};
  probe.head.tenant = mt_get_tenant_id(h);
  probe.head.source = static_cast<uint8_t>(probe_source != 0 ? probe_source : 1);
  uint32_t local = 0;
  moxdb_loc_set_lookup_record_objinfo(h, db, &probe.head.loc_entry, &local);
  *slot_of<D>(&probe, D.composite ? 1 : 0) = const_cast<void *>(key);
  place_probe<D>(probe);
  tree_scope = {h, db};
  if (const e_avl_node_t *n = e_avl_search(h, db, &t->root, &probe.node, tree_compare<D>)) {
    TableRecordHead *r = rec_of_node(n);
    if (!not_pending || !(r->head.flags & MOX_REC_PENDING_DESTROY)) return found(h, db, t, r);
  }
  if (!near && !same_key) return nullptr;
  return found(h, db, t,
               walk_from<D>(h, db, t, &probe, false, forward, filter_source, filter_source != 0,
                            not_pending, same_key && !near));
}

template <const TableDesc &D>
void *table_walk(mox_handle_t *h, uint32_t db, void *table, void *start, uint32_t forward,
                 uint32_t source, uint32_t by_source, uint32_t not_pending, uint32_t same_key,
                 uint32_t *err) {
  if (!enter(h, err)) return nullptr;
  mox_db_table_t *t = tbl(table);
  if (t == nullptr || start == nullptr) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  tree_scope = {h, db};
  // A start linked into a tree, inserted into this table: its links lead on.
  // (Tag and links lie in the node's cache line; the head, which names the
  // owning table, lies in the line before it.)
  const TableRecordHead *s = rec_of(start);
  if (s->order_table == table_tag(t) && (s->node.parent != nullptr || t->root == &s->node))
    return found(h, db, t,
                 walk_from<D>(h, db, t, rec_of(start), true, forward, source, by_source, not_pending,
                              same_key));
  Rec<D> probe = probe_of<D>(start);  // a start outside the tree: its place from its key
  return found(h, db, t,
               walk_from<D>(h, db, t, &probe, false, forward, source, by_source, not_pending, same_key));
}

template <const TableDesc &D>
void *table_step_by_key(mox_handle_t *h, uint32_t db, void *table, const void *key,
                        uint32_t forward, uint32_t probe_source, uint32_t filter_source,
                        uint32_t not_pending, uint32_t *err) {
  void *r = table_search<D>(h, db, table, key, 0, forward, probe_source, 0, not_pending, 0, err);
  if (*err != 0) return nullptr;
  if (r != nullptr)
    return table_walk<D>(h, db, table, r, forward, filter_source, filter_source != 0, not_pending,
                         0, err);
  return table_search<D>(h, db, table, key, 1, forward, probe_source, filter_source, not_pending, 0,
                         err);
}

template <const TableDesc &D>
void *table_end(mox_handle_t *h, uint32_t db, void *table, uint32_t forward, uint32_t source,
                uint32_t by_source, uint32_t not_pending, uint32_t *err) {
  if (!enter(h, err)) return nullptr;
  mox_db_table_t *t = tbl(table);
  if (t == nullptr) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  const uint16_t tenant = mt_get_tenant_id(h);
  tree_scope = {h, db};
  const e_avl_node_t *n = forward ? e_avl_get_first(h, db, &t->root) : e_avl_get_last(h, db, &t->root);
  for (; n != nullptr; n = forward ? e_avl_next_linked(n) : e_avl_prev_linked(n)) {
    TableRecordHead *c = rec_of_node(n);
    const uint64_t of = place_of(c) >> 48;
    if (forward ? of < tenant : of > tenant) continue;
    if (of != tenant) return nullptr;  // past the caller's tenant
    if (passes(h, db, *c, source, by_source, not_pending)) return found(h, db, t, c);
  }
  return nullptr;
}

template <const TableDesc &D>
uint32_t index_compare(mox_handle_t *h, uint32_t db, const void *a, const void *b) {
  tree_scope = {h, db};
  return avl_compare<D>(static_cast<const e_avl_node_t *>(a), static_cast<const e_avl_node_t *>(b));
}

template <const TableDesc &D>
void *search_not_pending(mox_handle_t *h, uint32_t db, void *table, const void *key,
                         uint32_t source, uint32_t near, uint32_t *err) {
  void *r = table_search<D>(h, db, table, key, near, 1, source, source, 1, source == 0, err);
  return *err != 0 ? nullptr : r;
}

template <const TableDesc &D>
void *search_cr(mox_handle_t *h, void *table, const void *key, uint32_t source, uint32_t flags) {
  const uint32_t src = (source != 0 || (flags & 0x4)) ? source : 1;
  void *r = table_search<D>(h, h->current_db, table, key, flags & 0x1, 1, src, src,
                            (flags & 0x2) == 0, (flags & 0x4) != 0, &h->last_error);
  return h->last_error != 0 ? nullptr : r;
}

template <const TableDesc &D>
void *get_cr(mox_handle_t *h, void *table, uint32_t how, void *rec, uint32_t source,
             uint32_t flags) {
  const uint32_t src = source != 0 ? source : 1, by_source = (flags & 0x1) == 0,
                 not_pending = (flags & 0x2) == 0, db = h->current_db;
  switch (how) {
    case 0:
    case 1:
      return table_end<D>(h, db, table, how == 0, src, by_source, not_pending, &h->last_error);
    case 2:
    case 3:
      return table_walk<D>(h, db, table, rec, how == 3, src, by_source, not_pending, 0,
                           &h->last_error);
    default:
      ttrace(D, TMsg::InvalidGetFlag, how);
      mox_store_err(h, kEINVAL);
      return nullptr;
  }
}

uint32_t table_count(mox_handle_t *h, uint32_t db, const void *table, uint32_t by_source,
                     uint32_t source) {
  const auto *t = static_cast<const mox_db_table_t *>(table);
  if (t == nullptr) return 0;
  uint32_t local = 0, count = 0;
  const uint16_t tenant = mt_get_tenant_id(h);
  if (tenant != 0) {
    moxdb_get_tenant_counter(h, db, t, &count, tenant, by_source ? uint8_t(source) : uint8_t(0),
                             &local);
    return count;
  }
  if (!by_source) return moxlib_record_count_get_exact(h, db, &t->record_count, &local);
  return source == 255 ? t->unsourced : 0;
}

// ---------------------------------------------------------------------------
// Keys: length and text
// ---------------------------------------------------------------------------

namespace {
// The primitive kind of a field key.
constexpr Kind prim_kind(KeyKind k) {
  return k == KeyKind::Mac ? Kind::MacAddr : k == KeyKind::U32 ? Kind::U32 : Kind::VString;
}
}  // namespace

template <const TableDesc &D>
uint32_t pkey_len(mox_handle_t *h, uint32_t db, const void *rec) {
  const void *key = rec != nullptr ? key_of<D>(const_cast<void *>(rec)) : nullptr;
  if (key == nullptr) return 0;
  if constexpr (D.composite) {
    return wire_len<*D.key_record>(h, db, key);
  } else {
    using P = Prim<prim_kind(D.key_kind)>;
    return P::len(h, db, static_cast<const typename P::C *>(key));
  }
}

template <const TableDesc &D>
uint32_t pkey_print(mox_handle_t *h, uint32_t db, void *table, void *rec, char *buf,
                    int32_t buflen, uint32_t *err) {
  if (!enter(h, err)) return 0;
  const void *key = rec != nullptr ? key_of<D>(rec) : nullptr;
  const uint32_t code = table == nullptr || rec == nullptr ? kEINVAL
                        : key == nullptr                   ? kENOENT
                        : int64_t(pkey_len<D>(h, db, rec)) > buflen ? kEMSGSIZE
                                                                     : uint32_t(0);
  if (code != 0) {
    fail(h, err, code);
    return 0;
  }
  if constexpr (D.composite) {
    return type_print<*D.key_record>(h, db, buf, 0, "", key, buflen, err);
  } else {
    using P = Prim<prim_kind(D.key_kind)>;
    return P::print(h, db, buf, 0, D.key_name, static_cast<const typename P::C *>(key), buflen, err);
  }
}

#define ORVA_TABLE_TREE(N)                                                                     \
  template uint32_t avl_compare<k_##N>(const e_avl_node_t *, const e_avl_node_t *);            \
  template void table_insert<k_##N>(mox_handle_t *, uint32_t, void *, void *, uint32_t,        \
                                    uint32_t *);                                               \
  template void table_delete<k_##N>(mox_handle_t *, uint32_t, void *, void *, uint32_t,        \
                                    uint32_t *);                                               \
  template void *table_search<k_##N>(mox_handle_t *, uint32_t, void *, const void *, uint32_t, \
                                     uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,         \
                                     uint32_t *);                                              \
  template void *table_walk<k_##N>(mox_handle_t *, uint32_t, void *, void *, uint32_t,         \
                                   uint32_t, uint32_t, uint32_t, uint32_t, uint32_t *);        \
  template void *table_step_by_key<k_##N>(mox_handle_t *, uint32_t, void *, const void *,      \
                                          uint32_t, uint32_t, uint32_t, uint32_t, uint32_t *); \
  template void *table_end<k_##N>(mox_handle_t *, uint32_t, void *, uint32_t, uint32_t,        \
                                  uint32_t, uint32_t, uint32_t *);                             \
  template uint32_t index_compare<k_##N>(mox_handle_t *, uint32_t, const void *, const void *); \
  template void *search_not_pending<k_##N>(mox_handle_t *, uint32_t, void *, const void *,     \
                                           uint32_t, uint32_t, uint32_t *);                    \
  template void *search_cr<k_##N>(mox_handle_t *, void *, const void *, uint32_t, uint32_t);   \
  template void *get_cr<k_##N>(mox_handle_t *, void *, uint32_t, void *, uint32_t, uint32_t);   \
  template uint32_t pkey_len<k_##N>(mox_handle_t *, uint32_t, const void *);                   \
  template uint32_t pkey_print<k_##N>(mox_handle_t *, uint32_t, void *, void *, char *, int32_t, \
                                      uint32_t *);
ORVA_EACH_TABLE(ORVA_TABLE_TREE)

}  // namespace orva
