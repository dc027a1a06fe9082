// The table of contents, the named objects of a database, and the counts.
//
// TOC entries are keyed by the table kind's luid and either the table's
// name (tables opened by name) or its 64-bit id (opened by id); the value
// is the table object's offset in the region.  Named objects are keyed by
// their text name.  Tenant counters are kept per (table, tenant, source).
#include <cstring>

#include "core/handle_private.h"
#include "db/db_internal.h"

using mox_db::Region;

namespace {

// The TOC key of a table object, from its type-info record and open kind.
bool key_of(const mox_db_table_t *t, mox_db::TocKey &k) {
  if (!t->tinfo) return false;
  k = mox_db::TocKey{};
  std::memcpy(k.luid, t->tinfo->luid, sizeof k.luid);
  k.by_name = t->open_kind == 0 ? MOX_TOC_BY_NAME : MOX_TOC_BY_ID;
  if (k.by_name)
    std::memcpy(k.name, t->name, strnlen(t->name, sizeof k.name - 1));
  else
    k.id = t->id;
  return true;
}

uint32_t finish(mox_handle_t *h, uint32_t *err, uint32_t code) {
  if (code) mox_rt::fail(h, err, code);
  return code;
}

Region *named_region(mox_rt::Heap *heap, uint32_t db, bool write) {
  mox_handle_t *h = heap ? heap->owner : nullptr;
  if (!h) return nullptr;
  if (db == MOX_NO_DB) db = h->current_db;  // the handle's current database
  Region *r = mox_db::region_of(h, db);
  if (!r || !(write ? mox_db::may_write(h, db) : mox_db::may_read(h, db))) return nullptr;
  return r;
}

}  // namespace

namespace mox_rt {

uint32_t db_named_insert(Heap *heap, uint32_t db, const char *key, void *value) {
  Region *r = named_region(heap, db, true);
  if (!r || !r->contains(value)) return 22;
  return mox_db::with_region(r, [&]() -> uint32_t {
    return r->named.emplace(key, r->offset_of(value)).second ? 0 : 17;
  });
}

void *db_named_lookup(Heap *heap, uint32_t db, const char *key) {
  Region *r = named_region(heap, db, false);
  if (!r) return nullptr;
  std::lock_guard<std::mutex> g(r->meta);
  auto it = r->named.find(std::string_view(key));
  return it == r->named.end() ? nullptr : r->at(it->second);
}

}  // namespace mox_rt

extern "C" {

MOX_API mox_table_list_t *moxlib_database_table_toc_get(mox_handle_t *h, uint32_t db,
                                                        uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, false);
  return r ? &r->tables : nullptr;
}

MOX_API void *moxdb_database_toc_get(mox_handle_t *h, uint32_t db, uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, false);
  return r ? r->at(r->toc_root) : nullptr;
}

MOX_API uint32_t moxdb_database_toc_gc_delete_pending(mox_handle_t *h, uint32_t db,
                                                      const void *toc_root) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r || !toc_root || r->at(r->toc_root) != toc_root) return 0;
  return static_cast<const mox_toc_root_t *>(toc_root)->gc_delete;
}

MOX_API void mox_database_set_toc_gc_delete(mox_handle_t *h, uint32_t db, uint32_t on,
                                            uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  auto *root = r->at<mox_toc_root_t>(r->toc_root);
  if (!root) return mox_rt::fail(h, err, 22);
  mox_db::put(h, db, &root->gc_delete, on ? 1u : 0u);
}

MOX_API void *moxdb_database_toc_get_table_root(mox_handle_t *h, uint32_t db, const char *name,
                                                uint32_t name_len, uint32_t id_low,
                                                uint32_t id_high, const uint8_t *luid,
                                                uint32_t luid_len, uint32_t by_name,
                                                uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, false);
  if (!r) return nullptr;
  if (!luid || luid_len != 16 || (by_name && !name)) {
    mox_rt::fail(h, err, 22);
    return nullptr;
  }
  if (by_name && name_len >= MOX_TABLE_NAME_MAX) {
    mox_rt::fail(h, err, 7);
    return nullptr;
  }
  mox_db::TocKey k{};
  std::memcpy(k.luid, luid, sizeof k.luid);
  k.by_name = by_name ? MOX_TOC_BY_NAME : MOX_TOC_BY_ID;
  if (by_name)
    std::memcpy(k.name, name, strnlen(name, name_len));
  else
    k.id = (static_cast<uint64_t>(id_high) << 32) | id_low;
  std::lock_guard<std::mutex> g(r->meta);
  auto it = r->toc.find(k);
  return it == r->toc.end() ? nullptr : r->at(it->second);
}

MOX_API void moxdb_database_toc_insert(mox_handle_t *h, uint32_t db, void *table,
                                       uint32_t dynamic, uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  mox_db::TocKey k;
  if (!table || !key_of(static_cast<mox_db_table_t *>(table), k)) return mox_rt::fail(h, err, 22);
  if (!r->contains(table, sizeof(mox_db_table_t))) return mox_rt::fail(h, err, 14);
  finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
           return r->toc.emplace(k, r->offset_of(table)).second ? 0 : 17;
         }));
}

MOX_API void moxdb_database_toc_delete(mox_handle_t *h, uint32_t db, void *table,
                                       uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  mox_db::TocKey k;
  if (!table || !key_of(static_cast<mox_db_table_t *>(table), k)) return mox_rt::fail(h, err, 22);
  finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
           auto it = r->toc.find(k);
           if (it == r->toc.end() || it->second != r->offset_of(table)) return 2;
           r->toc.erase(it);
           return 0;
         }));
}

// ---------------------------------------------------------------------------
// Counts

MOX_API void moxlib_record_count_add_internal(mox_handle_t *h, uint32_t db, uint32_t *count,
                                              int32_t delta, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  if (!count || (delta != 1 && delta != -1) || (delta < 0 && *count == 0))
    return mox_rt::fail(h, err, 22);
  if (!mox_db::writable(h, db)) return mox_rt::fail(h, err, 13);
  mox_db::put(h, db, count, *count + static_cast<uint32_t>(delta));
}

MOX_API uint32_t moxlib_record_count_get_exact(mox_handle_t *h, uint32_t db,
                                               const uint32_t *count, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return 0;
  if (!count) {
    mox_rt::fail(h, err, 22);
    return 0;
  }
  return *count;
}

MOX_API void moxdb_update_tenant_counter(mox_handle_t *h, uint32_t db, void *table, uint32_t add,
                                         uint16_t tenant, uint8_t source, uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  if (!r->contains(table)) return mox_rt::fail(h, err, 22);
  finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
           const mox_db::TenantKey k{r->offset_of(table), tenant, source};
           if (add) {
             ++r->tenants[k];
             return 0;
           }
           auto it = r->tenants.find(k);
           if (it == r->tenants.end()) return 22;
           if (--it->second == 0) r->tenants.erase(it);
           return 0;
         }));
}

MOX_API void moxdb_get_tenant_counter(mox_handle_t *h, uint32_t db, const void *table,
                                      uint32_t *count, uint16_t tenant, uint8_t source,
                                      uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, false);
  if (!r) return;
  if (!count || !r->contains(table)) return mox_rt::fail(h, err, 22);
  std::lock_guard<std::mutex> g(r->meta);
  const mox_db::Offset t = r->offset_of(table);
  uint32_t n = 0;
  for (auto it = r->tenants.lower_bound({t, tenant, 0});
       it != r->tenants.end() && it->first.table == t && it->first.tenant == tenant; ++it)
    if (source == 0 || it->first.source == source) n += it->second;
  *count = n;
}

MOX_API void moxdb_database_pending_destroy_add(mox_handle_t *h, uint32_t db, int32_t delta,
                                                uint32_t *err) {
  MOX_RT_ENTER();
  Region *r = mox_db::enter(h, db, err, true);
  if (!r) return;
  finish(h, err, mox_db::with_region(r, [&]() -> uint32_t {
           if (delta < 0 && r->pending_destroy < static_cast<uint64_t>(-int64_t{delta})) return 22;
           r->pending_destroy += static_cast<uint64_t>(int64_t{delta});
           return 0;
         }));
}

MOX_API uint64_t mox_database_pending_destroy(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  return r->pending_destroy;
}

}  // extern "C"
