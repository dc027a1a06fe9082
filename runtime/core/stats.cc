// Per-variant type statistics.  The counters live in the variant entries of
// the module's type-info records, which every handle and thread shares, so
// updates are serialized by one process-wide lock.
#include <mutex>

#include "core/handle_private.h"

namespace {

std::mutex &stats_mutex() {
  static std::mutex m;
  return m;
}

void count(mox_handle_t *h, uint32_t db, const mox_type_info_t *ti, mox_type_stats_t *stats,
           uint32_t counter, uint32_t *slot) {
  if (slot && *slot) return;
  if (uint32_t rc = moxlib_type_stats_add_internal(h, db, ti, stats, counter))
    mox_rt::fail(h, slot, rc);
}

}  // namespace

extern "C" {

// 0 on success; 22 for a missing statistics area, an unknown counter, or a
// destroy that would take live below zero (that refusal is counted in failed).
MOX_API uint32_t moxlib_type_stats_add_internal(mox_handle_t *h, uint32_t db,
                                                const mox_type_info_t *ti,
                                                mox_type_stats_t *stats, uint32_t counter) {
  MOX_RT_ENTER();
  if (!stats) return 22;
  std::lock_guard<std::mutex> lock(stats_mutex());
  switch (counter) {
    case MOX_STATS_CREATE:
      ++stats->created;
      ++stats->live;
      if (stats->live > stats->peak) stats->peak = stats->live;
      return 0;
    case MOX_STATS_DESTROY:
      if (stats->live == 0) {
        ++stats->failed;
        return 22;
      }
      ++stats->destroyed;
      --stats->live;
      return 0;
    default:
      return 22;
  }
}

MOX_API void moxlib_type_stats_create_object(mox_handle_t *h, uint32_t db,
                                             const mox_type_info_t *ti, mox_type_stats_t *stats,
                                             uint32_t *slot) {
  MOX_RT_ENTER();
  count(h, db, ti, stats, MOX_STATS_CREATE, slot);
}

MOX_API void moxlib_type_stats_destroy_object(mox_handle_t *h, uint32_t db,
                                              const mox_type_info_t *ti, mox_type_stats_t *stats,
                                              uint32_t *slot) {
  MOX_RT_ENTER();
  count(h, db, ti, stats, MOX_STATS_DESTROY, slot);
}

}  // extern "C"
