// Object mappings of tables (kind 2), the per-database reports, and the
// handle switches the tables read.
//
// A table object has no object header, so its mapping touches nothing in
// it: the mapping lives in the database (keyed by the table's offset), where
// any attached handle finds it, so one handle may open a table and another
// free it.  For kind 2 the last argument of mox_oid_mapping_create is the
// object reference, kept as an opaque word.
#include "core/handle_private.h"
#include "db/db_internal.h"

using mox_db::Region;

namespace {

// The attached database holding a table mapping of obj, or null.
Region *mapping_region(mox_handle_t *h, const void *obj) {
  if (!h || !h->priv || !h->priv->dbs) return nullptr;
  for (mox_db::Attachment &a : h->priv->dbs->list) {
    std::lock_guard<std::mutex> g(a.region->meta);
    if (a.region->contains(obj) && a.region->table_mappings.count(a.region->offset_of(obj)))
      return a.region;
  }
  return nullptr;
}

}  // namespace

namespace mox_rt {

int db_mapping_create(mox_handle_t *h, uint32_t db, void *obj, uint32_t dynamic, uint64_t ref) {
  Region *r = mox_db::region_of(h, db);
  if (!r || !r->contains(obj)) return -1;
  return mox_db::with_region(r, [&]() -> uint32_t {
           return r->table_mappings
               .try_emplace(r->offset_of(obj), mox_db::TableMapping{1, dynamic, ref, false})
               .second;
         }) == 1;
}

int db_mapping_add_ref(mox_handle_t *h, void *obj) {
  Region *r = mapping_region(h, obj);
  if (!r) return -1;
  std::lock_guard<std::mutex> g(r->meta);
  return static_cast<int>(++r->table_mappings.at(r->offset_of(obj)).refs);
}

int db_mapping_refs(const mox_handle_t *h, const void *obj) {
  Region *r = mapping_region(const_cast<mox_handle_t *>(h), obj);
  if (!r) return -1;
  std::lock_guard<std::mutex> g(r->meta);
  return static_cast<int>(r->table_mappings.at(r->offset_of(obj)).refs);
}

// The references left; the mapping goes when a requested destroy finds only
// the owner's reference left (the table's free is then retried by its code).
int db_mapping_release(mox_handle_t *h, void *obj) {
  Region *r = mapping_region(h, obj);
  if (!r) return -1;
  std::lock_guard<std::mutex> g(r->meta);
  auto it = r->table_mappings.find(r->offset_of(obj));
  mox_db::TableMapping &m = it->second;
  if (m.refs <= 1) return static_cast<int>(m.refs);
  if (--m.refs > 1 || !m.destroy_requested) return static_cast<int>(m.refs);
  r->table_mappings.erase(it);
  return 0;
}

int db_mapping_request_destroy(mox_handle_t *h, void *obj) {
  Region *r = mapping_region(h, obj);
  if (!r) return -1;
  std::lock_guard<std::mutex> g(r->meta);
  auto it = r->table_mappings.find(r->offset_of(obj));
  if (it->second.refs > 1) {
    it->second.destroy_requested = true;
    return 0;
  }
  r->table_mappings.erase(it);
  return 1;
}

bool db_report(mox_handle_t *h, uint32_t kind, uint32_t detail, uint32_t db, const void *item,
               const void *owner) {
  Region *r = mox_db::region_of(h, db);
  if (!r || !r->contains(item)) return false;
  mox_db::with_region(r, [&]() -> uint32_t {
    if (r->reports.size() >= MOX_EVENT_LOG_LIMIT) r->reports.erase(r->reports.begin());
    r->reports.push_back(mox_db::Report{kind, detail, r->offset_of(item),
                                        r->contains(owner) ? r->offset_of(owner) : 0});
    return 0;
  });
  return true;
}

}  // namespace mox_rt

extern "C" {

MOX_API void moxdb_record_containment(mox_handle_t *h, uint32_t db, uint32_t kind,
                                      const void *object, const void *container, uint32_t count) {
  MOX_RT_ENTER();
  if (!mox_rt::db_report(h, MOX_EVENT_CONTAINMENT, kind, db, object, container))
    mox_rt::record_event(h, mox_event_t{MOX_EVENT_CONTAINMENT, db, object, container});
}

MOX_API uint32_t mox_database_report_count(mox_handle_t *h, uint32_t db) {
  Region *r = mox_db::region_of(h, db);
  if (!r) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  return static_cast<uint32_t>(r->reports.size());
}

MOX_API int mox_database_report_get(mox_handle_t *h, uint32_t db, uint32_t i,
                                    mox_db_report_t *out) {
  Region *r = mox_db::region_of(h, db);
  if (!r || !out) return 0;
  std::lock_guard<std::mutex> g(r->meta);
  if (i >= r->reports.size()) return 0;
  const mox_db::Report &x = r->reports[i];
  *out = mox_db_report_t{x.kind, x.detail, r->at(x.item), r->at(x.owner)};
  return 1;
}

MOX_API void mox_database_reports_flush(mox_handle_t *h, uint32_t db) {
  MOX_RT_ENTER();
  Region *r = mox_db::region_of(h, db);
  if (!r) return;
  std::lock_guard<std::mutex> g(r->meta);
  r->reports.clear();
}

MOX_API void mox_handle_set_dup_insert_silent(mox_handle_t *h, uint32_t on) {
  MOX_RT_ENTER();
  if (h && h->priv) mox_db::dbs_of(h).dup_silent = on;
}

MOX_API uint32_t moxdb_dup_insert_silent(mox_handle_t *h) {
  MOX_RT_ENTER();
  return h && h->priv && h->priv->dbs ? h->priv->dbs->dup_silent : 0;
}

}  // extern "C"
