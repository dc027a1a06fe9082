// Object-id mappings with reference counts and deferred destruction, and the
// handle-mapping removal.
//
// A mapping belongs to the handle that created it.  It starts with one
// reference, the owner's.  A destroy request while other references remain
// is remembered and answered 0 ("retry"); when the last of those references
// is released the runtime removes the mapping itself, clears OID_MAPPED and
// calls the finish function given at creation, which completes the
// destruction the owner asked for.
#include "core/handle_private.h"
#include "db/db_internal.h"

namespace {

mox_rt::OidMapping *find(const mox_handle_t *h, const void *obj) {
  if (!h || !h->priv || !obj) return nullptr;
  auto it = h->priv->oid_mappings.find(obj);
  return it == h->priv->oid_mappings.end() ? nullptr : &it->second;
}

void set_mapped_flag(mox_handle_t *h, uint32_t db, void *obj, bool on) {
  auto *hdr = static_cast<mox_obj_header_t *>(obj);
  const uint8_t flags = on ? static_cast<uint8_t>(hdr->flags | MOX_FLAG_OID_MAPPED)
                           : static_cast<uint8_t>(hdr->flags & ~MOX_FLAG_OID_MAPPED);
  if (flags != hdr->flags) mox_rt::store(h, db, &hdr->flags, flags, obj);
}

void remove_mapping(mox_handle_t *h, uint32_t db, void *obj) {
  h->priv->oid_mappings.erase(obj);
  set_mapped_flag(h, db, obj, false);
}

}  // namespace

extern "C" {

// 1 on success; 0 for a missing handle or object, or an object already mapped.
MOX_API uint32_t mox_oid_mapping_create(mox_handle_t *h, uint32_t db, void *obj, uint32_t kind,
                                        uint32_t dynamic, mox_finish_destroy_fn finish) {
  MOX_RT_ENTER();
  // A table (kind 2) in a database: the last argument is its object reference.
  if (kind == 2 && db != MOX_NO_DB) {
    const int r = mox_rt::db_mapping_create(h, db, obj, dynamic, reinterpret_cast<uintptr_t>(finish));
    if (r >= 0) return static_cast<uint32_t>(r);
  }
  if (!h || !h->priv || !obj || find(h, obj)) return 0;
  mox_rt::OidMapping m;
  m.refs = 1;
  m.kind = kind;
  m.dynamic = dynamic;
  m.db = db;
  m.finish = finish;
  h->priv->oid_mappings.emplace(obj, m);
  set_mapped_flag(h, db, obj, true);
  return 1;
}

// The new reference count, 0 when obj has no mapping.
MOX_API uint32_t mox_oid_mapping_add_ref(mox_handle_t *h, void *obj) {
  MOX_RT_ENTER();
  if (const int r = mox_rt::db_mapping_add_ref(h, obj); r >= 0) return static_cast<uint32_t>(r);
  mox_rt::OidMapping *m = find(h, obj);
  return m ? ++m->refs : 0;
}

// Returns the references left afterwards (0 once the mapping is gone).  The
// owner's own reference is never released here: it goes with a destroy
// request, so a release with only that one left changes nothing.
MOX_API uint32_t mox_oid_mapping_release(mox_handle_t *h, uint32_t db, void *obj) {
  MOX_RT_ENTER();
  if (const int r = mox_rt::db_mapping_release(h, obj); r >= 0) return static_cast<uint32_t>(r);
  mox_rt::OidMapping *m = find(h, obj);
  if (!m) return 0;
  if (m->refs <= 1) return m->refs;
  if (--m->refs > 1 || !m->destroy_requested) return m->refs;
  const mox_finish_destroy_fn finish = m->finish;
  remove_mapping(h, db, obj);
  if (finish) finish(h, db, obj);  // may free obj: nothing touches it afterwards
  return 0;
}

MOX_API uint32_t mox_oid_mapping_refs(const mox_handle_t *h, const void *obj) {
  MOX_RT_ENTER();
  if (const int r = mox_rt::db_mapping_refs(h, obj); r >= 0) return static_cast<uint32_t>(r);
  const mox_rt::OidMapping *m = find(h, obj);
  return m ? m->refs : 0;
}

// 1 when the mapping is gone (removed now, or there was none); 0 when other
// references remain: the request is remembered and finished on the last release.
MOX_API uint32_t mox_request_oid_mapping_destroy(mox_handle_t *h, uint32_t db, void *obj,
                                                 uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return 0;
  if (!h || !obj) {
    mox_rt::fail(h, err, 22);
    return 0;
  }
  if (const int r = mox_rt::db_mapping_request_destroy(h, obj); r >= 0)
    return static_cast<uint32_t>(r);
  mox_rt::OidMapping *m = find(h, obj);
  if (!m) return 1;
  if (m->refs > 1) {
    m->destroy_requested = true;
    return 0;
  }
  remove_mapping(h, db, obj);
  return 1;
}

// Records the removal (MOX_EVENT_HD_MAPPING_DESTROY) and forgets the
// runtime's per-object data of obj (its state-tracking offset).  A null
// handle or object is error 22.
MOX_API void mox_hd_mapping_destroy(mox_handle_t *h, uint32_t db, void *obj, uint32_t *err) {
  MOX_RT_ENTER();
  if (err && *err) return;
  if (!h || !h->priv || !obj) {
    mox_rt::fail(h, err, 22);
    return;
  }
  h->priv->sttr_offsets.erase(obj);
  mox_rt::record_event(h, mox_event_t{MOX_EVENT_HD_MAPPING_DESTROY, db, obj, nullptr});
}

}  // extern "C"
