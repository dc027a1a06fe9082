// Destroy requests and the collector, the GC list of tables, cursors and
// locations.
//
// A destroy request marks the table record pending destroy, counts it in its
// table and in the database, and queues it with its destroy function.  The
// collector (a handle marked with mox_handle_set_collector) empties the
// queue, calling each destroy function once, then frees the tables waiting
// for it: those on the GC list and those still linked in the table list
// whose TOC entry is gone.
#include <algorithm>
#include <set>
#include <vector>

#include "core/handle_private.h"
#include "db/db_internal.h"

using mox_db::Offset;
using mox_db::Region;

namespace {

uint32_t finish(mox_handle_t *h, uint32_t *err, uint32_t code) {
  if (code) mox_rt::fail(h, err, code);
  return code;
}

mox_db::CursorState *cursor_of(Region *r, const void *table) {
  auto it = r->cursors.find(r->offset_of(table));
  return it == r->cursors.end() ? nullptr : &it->second;
}

// Runs fn on the table's cursor state (null when it has none) under the
// region's mutex, after the entry check; fn's code goes to the slot.
void cursor_service(mox_handle_t *h, uint32_t db, const void *table, uint32_t *err, bool write,
                    const std::function<uint32_t(Region *, mox_db::CursorState *)> &fn) {
  Region *r = mox_db::enter(h, db, err, write);
  if (r) finish(h, err, mox_db::with_region(r, [&] { return fn(r, cursor_of(r, table)); }));
}

// A yes/no answer about the table's cursor state; 0 when it has none.  A
// database no table of which ever had cursors answers without the mutex
// (the common case, asked on every insert and delete).
template <class Pred>
uint32_t cursor_query(mox_handle_t *h, uint32_t db, const void *table, Pred pred) {
  Region *r = mox_db::region_of(h, db);
  if (!r || !r->any_cursors.load(std::memory_order_acquire)) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  const mox_db::CursorState *c = cursor_of(r, table);
  return c && pred(*c) ? 1u : 0u;
}

}  // namespace

namespace mox_rt {
// A freed record block leaves the destroy queue (its request dies with it).
void db_forget_block(Region *r, void *block) {
  const Offset o = r->offset_of(block);
  std::erase_if(r->destroy_queue, [&](const mox_db::DestroyRequest &q) { return q.record == o; });
}
}  // namespace mox_rt

extern "C" {

MOX_API void moxdb_request_record_destroy(mox_handle_t *h, uint32_t db, void *record,
                                          mox_record_destroy_fn destroy, uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  auto *rec = static_cast<mox_db_table_record_t *>(record);
  if (!rec || !destroy) return mox_rt::fail(h, err, 22);
  if (!r->contains(rec, sizeof *rec)) return mox_rt::fail(h, err, 14);
  mox_db_table_t *table = rec->table;
  if (!table) return mox_rt::fail(h, err, 2);
  if (rec->flags & MOX_REC_PENDING_DESTROY) return;  // queued already
  if (finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
               r->destroy_queue.push_back(mox_db::DestroyRequest{r->offset_of(rec), destroy});
               ++r->pending_destroy;
               return 0;
             })))
    return;
  mox_db::put(h, db, &rec->flags, rec->flags | MOX_REC_PENDING_DESTROY, record);
  mox_db::put(h, db, &table->pending_destroy, table->pending_destroy + 1);
}

MOX_API uint32_t mox_database_collect(mox_handle_t *h, uint32_t db, mox_table_free_fn free_table,
                                      uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return 0;
  if (!mox_db::in_collector(h)) {
    mox_rt::fail(h, err, 22);
    return 0;
  }
  // Take the queue first: destroy functions call the services again.
  std::vector<mox_db::DestroyRequest> queue;
  std::vector<mox_db_table_t *> tables;
  {
    std::lock_guard<std::mutex> g(r->meta);
    queue.assign(r->destroy_queue.begin(), r->destroy_queue.end());
    r->destroy_queue.clear();
    std::set<Offset> in_toc;
    for (const auto &[key, table] : r->toc) in_toc.insert(table);
    for (Offset t : r->gc_list) tables.push_back(r->at<mox_db_table_t>(t));
    for (auto *t = static_cast<mox_db_table_t *>(r->tables.head); t; t = t->next)
      if (!in_toc.count(r->offset_of(t)) && !(t->flags & MOX_TABLE_FLAG_ON_GC_LIST))
        tables.push_back(t);
  }
  uint32_t calls = 0;
  for (const mox_db::DestroyRequest &q : queue) {
    uint32_t e = 0;
    q.destroy(h, db, r->at(q.record), &e);
    ++calls;
  }
  for (mox_db_table_t *t : tables) {
    uint32_t e = 0;
    if (t->flags & MOX_TABLE_FLAG_ON_GC_LIST) moxgc_database_gc_list_remove(h, db, t, &e);
    if (free_table) free_table(h, db, t, &e);
  }
  return calls;
}

MOX_API void moxgc_validate_table_delete(mox_handle_t *h, uint32_t db, void *table,
                                         uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  auto *t = static_cast<mox_db_table_t *>(table);
  if (!t) return mox_rt::fail(h, err, 22);
  if (!r->contains(t, sizeof *t)) return mox_rt::fail(h, err, 14);
  if (t->flags & MOX_TABLE_FLAG_ON_GC_LIST) return;
  if (finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
               r->gc_list.push_back(r->offset_of(t));
               return 0;
             })))
    return;
  mox_db::put(h, db, &t->flags, t->flags | MOX_TABLE_FLAG_ON_GC_LIST);
}

MOX_API void moxgc_database_gc_list_remove(mox_handle_t *h, uint32_t db, void *table,
                                           uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  auto *t = static_cast<mox_db_table_t *>(table);
  if (!t || !r->contains(t, sizeof *t)) return mox_rt::fail(h, err, 22);
  if (finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
               return std::erase(r->gc_list, r->offset_of(t)) ? 0 : 2;
             })))
    return;
  mox_db::put(h, db, &t->flags, t->flags & ~MOX_TABLE_FLAG_ON_GC_LIST);
}

// ---------------------------------------------------------------------------
// Cursors

MOX_API uint32_t moxdb_handle_set_cursor_enabling(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (!h || !h->priv) return 0;
  mox_db::HandleDbs &d = mox_db::dbs_of(h);
  const uint32_t was = d.cursor_enabling;
  d.cursor_enabling = on;
  return was;
}

MOX_API void moxdb_table_enable_cursors(mox_handle_t *h, uint32_t db, void *table, uint32_t on,
                                        uint32_t *err) {
  MOX_RT_ENTER();
  if (h && h->priv && !mox_db::dbs_of(h).cursor_enabling) return mox_rt::fail(h, err, 22);
  cursor_service(h, db, table, err, true, [&](Region *r, mox_db::CursorState *) -> uint32_t {
    if (!r->contains(table)) return 22;
    r->cursors.try_emplace(r->offset_of(table), r->resource()).first->second.enabled = on;
    r->any_cursors.store(true, std::memory_order_release);
    return 0;
  });
}

MOX_API void mox_table_set_implicit_write_cursor(mox_handle_t *h, uint32_t db, void *table,
                                                 uint32_t on, uint32_t *err) {
  MOX_RT_ENTER();
  cursor_service(h, db, table, err, true, [&](Region *, mox_db::CursorState *c) -> uint32_t {
    if (!c || !c->enabled) return 22;
    c->implicit_write = on;
    if (!on) c->write_queue.clear();
    return 0;
  });
}

MOX_API uint32_t moxdb_table_are_cursors_enabled(mox_handle_t *h, uint32_t db,
                                                 const void *table) {
  MOX_RT_ENTER();
  return cursor_query(h, db, table, [](const mox_db::CursorState &c) { return c.enabled; });
}

MOX_API uint32_t moxdb_table_implicit_write_cursor_enabled(mox_handle_t *h, uint32_t db,
                                                           const void *table) {
  MOX_RT_ENTER();
  return cursor_query(h, db, table,
                      [](const mox_db::CursorState &c) { return c.enabled && c.implicit_write; });
}

// Read cursors are opened under the read lock: they change only the
// services' own state.
MOX_API void mox_table_read_cursor_open(mox_handle_t *h, uint32_t db, void *table,
                                        uint32_t *err) {
  MOX_RT_ENTER();
  cursor_service(h, db, table, err, false, [](Region *, mox_db::CursorState *c) -> uint32_t {
    if (!c || !c->enabled) return 22;
    ++c->readers;
    return 0;
  });
}

MOX_API void mox_table_read_cursor_close(mox_handle_t *h, uint32_t db, void *table,
                                         uint32_t *err) {
  MOX_RT_ENTER();
  cursor_service(h, db, table, err, false, [](Region *, mox_db::CursorState *c) -> uint32_t {
    if (!c || !c->readers) return 2;
    --c->readers;
    return 0;
  });
}

MOX_API uint32_t moxdb_table_has_read_cursor(mox_handle_t *h, uint32_t db, const void *table,
                                             uint32_t *err) {
  MOX_RT_ENTER();
  if (!mox_db::enter(h, db, err, false)) return 0;
  return cursor_query(h, db, table, [](const mox_db::CursorState &c) { return c.readers != 0; });
}

MOX_API void moxdb_enq_rec_move_write_cursor_internal(mox_handle_t *h, uint32_t db, void *table,
                                                      void *record, uint32_t *err) {
  MOX_RT_ENTER();
  cursor_service(h, db, table, err, true, [&](Region *r, mox_db::CursorState *c) -> uint32_t {
    if (!r->contains(record) || !c || !c->enabled || !c->implicit_write) return 22;
    c->write_queue.push_back(r->offset_of(record));
    return 0;
  });
}

MOX_API void *mox_table_write_cursor_next(mox_handle_t *h, uint32_t db, void *table) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r || !mox_db::may_write(h, db)) return nullptr;
  std::lock_guard<std::mutex> g(r->meta);
  mox_db::CursorState *c = cursor_of(r, table);
  if (!c || c->write_queue.empty()) return nullptr;
  const Offset o = c->write_queue.front();
  c->write_queue.erase(c->write_queue.begin());
  return r->at(o);
}

// ---------------------------------------------------------------------------
// Locations: entries are numbers of the database that stand for a location
// and count the records referring to them; 0 is no entry (location 0).

MOX_API void mox_handle_set_location(mox_handle_t *h, uint32_t location) {
  MOX_RT_ENTER();
  if (h && h->priv) mox_db::dbs_of(h).location = location;
}

MOX_API void mox_handle_set_loc_filter(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (h && h->priv) mox_db::dbs_of(h).loc_filter = on;
}

MOX_API uint32_t moxdb_loc_filter_enabled(mox_handle_t *h) {
  MOX_RT_ENTER();
  return h && h->priv && h->priv->dbs ? h->priv->dbs->loc_filter : 0;
}

MOX_API void mox_loc_entry_acquire(mox_handle_t *h, uint32_t db, uint32_t *loc_entry,
                                   uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  if (!loc_entry || *loc_entry) return mox_rt::fail(h, err, 22);
  const uint32_t location = mox_db::dbs_of(h).location;
  if (!location) return;
  uint32_t entry = 0;
  if (finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
               for (auto &[id, e] : r->locations)
                 if (e.location == location) entry = id;
               if (!entry) entry = r->next_location_entry++;
               auto &e = r->locations[entry];
               e.location = location;
               ++e.refs;
               return 0;
             })))
    return;
  mox_db::put(h, db, loc_entry, entry);
}

MOX_API void moxdb_loc_set_lookup_record_objinfo(mox_handle_t *h, uint32_t db,
                                                 uint32_t *loc_entry, uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, false);
  if (!r) return;
  if (!loc_entry) return mox_rt::fail(h, err, 22);
  const uint32_t location = mox_db::dbs_of(h).location;
  uint32_t entry = 0;
  {
    std::lock_guard<std::mutex> g(r->meta);
    for (auto &[id, e] : r->locations)
      if (location && e.location == location) entry = id;
  }
  mox_rt::notify(h, loc_entry, sizeof *loc_entry, db);  // a probe: nobody else sees it
  *loc_entry = entry;
}

MOX_API int32_t moxdb_loc_entry_compare(mox_handle_t *h, uint32_t db, uint32_t a, uint32_t b) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r || a == b) return a < b ? -1 : a > b;
  std::lock_guard<std::mutex> g(r->meta);
  auto location = [&](uint32_t e) {
    auto it = r->locations.find(e);
    return it == r->locations.end() ? 0u : it->second.location;
  };
  const uint32_t x = location(a), y = location(b);
  return x < y ? -1 : x > y;
}

MOX_API uint32_t moxdb_loc_record_is_same_loc(mox_handle_t *h, uint32_t db, uint32_t loc_entry) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r || !h->priv->dbs) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  auto it = r->locations.find(loc_entry);
  const uint32_t location = it == r->locations.end() ? 0u : it->second.location;
  return location == h->priv->dbs->location;
}

MOX_API void moxlib_record_dereference_loc(mox_handle_t *h, uint32_t db, uint32_t *loc_entry,
                                           uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  if (!loc_entry) return mox_rt::fail(h, err, 22);
  if (finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
               auto it = r->locations.find(*loc_entry);
               if (it == r->locations.end()) return 2;
               if (--it->second.refs == 0) r->locations.erase(it);
               return 0;
             })))
    return;
  mox_db::put(h, db, loc_entry, 0u);
}

}  // extern "C"
