// Containment reports and platform-database announcements.  The runtime has
// no persistent store behind them yet; it records each call on the handle so
// that callers and tests can see what it was told.
#include "core/handle_private.h"
#include "db/db_internal.h"

void mox_rt::record_event(mox_handle_t *h, const mox_event_t &e) {
  if (!h || !h->priv) return;
  auto &log = h->priv->events;
  if (log.size() >= MOX_EVENT_LOG_LIMIT) log.pop_front();
  log.push_back(e);
}

namespace {

// Objects in a database's memory are reported to the database.
void record(mox_handle_t *h, uint32_t kind, uint32_t db, const void *item, const void *owner) {
  if (db != MOX_NO_DB && mox_rt::db_report(h, kind, 0, db, item, owner)) return;
  mox_rt::record_event(h, mox_event_t{kind, db, item, owner});
}

}  // namespace

extern "C" {

MOX_API void moxdb_record_containment2(mox_handle_t *h, uint32_t db, const void *item,
                                       const void *owner, uint32_t count) {
  MOX_RT_ENTER();
  record(h, MOX_EVENT_CONTAINMENT, db, item, owner);
}

MOX_API void moxdb_plat_set_dirty(mox_handle_t *h, uint32_t db, void *obj) {
  MOX_RT_ENTER();
  record(h, MOX_EVENT_PLAT_DIRTY, db, obj, nullptr);
}

MOX_API void moxdb_plat_set_destroy(mox_handle_t *h, uint32_t db, void *obj) {
  MOX_RT_ENTER();
  record(h, MOX_EVENT_PLAT_DESTROY, db, obj, nullptr);
}

MOX_API void moxdb_plat_set_detach(mox_handle_t *h, uint32_t db, void *obj, uint32_t count) {
  MOX_RT_ENTER();
  record(h, MOX_EVENT_PLAT_DETACH, db, obj, nullptr);
}

MOX_API uint32_t mox_event_count(const mox_handle_t *h) {
  return h && h->priv ? static_cast<uint32_t>(h->priv->events.size()) : 0u;
}

MOX_API int mox_event_get(const mox_handle_t *h, uint32_t i, mox_event_t *out) {
  if (!h || !h->priv || !out || i >= h->priv->events.size()) return 0;
  *out = h->priv->events[i];
  return 1;
}

MOX_API void mox_event_clear(mox_handle_t *h) {
  if (h && h->priv) h->priv->events.clear();
}

}  // extern "C"
