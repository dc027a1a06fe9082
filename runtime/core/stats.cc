// Per-variant type statistics.  The counters live in the variant entries of
// the module's type-info records, which every handle and thread shares; each
// word is updated atomically in place (relaxed: the words are counts, nothing
// else is published through them), with no lock.
#include <atomic>

#include "core/handle_private.h"

namespace {

using Word = std::atomic_ref<uint32_t>;
constexpr auto kRelaxed = std::memory_order_relaxed;

// 0 on success; 22 for a missing statistics area, an unknown counter, or a
// destroy that would take live below zero (that refusal is counted in failed).
uint32_t add(mox_type_stats_t *stats, uint32_t counter) {
  if (!stats) return 22;
  switch (counter) {
    case MOX_STATS_CREATE: {
      Word(stats->created).fetch_add(1, kRelaxed);
      const uint32_t live = Word(stats->live).fetch_add(1, kRelaxed) + 1;
      Word peak(stats->peak);
      uint32_t seen = peak.load(kRelaxed);
      while (live > seen && !peak.compare_exchange_weak(seen, live, kRelaxed)) {
      }
      return 0;
    }
    case MOX_STATS_DESTROY: {
      Word live(stats->live);
      uint32_t seen = live.load(kRelaxed);
      do {
        if (seen == 0) {
          Word(stats->failed).fetch_add(1, kRelaxed);
          return 22;
        }
      } while (!live.compare_exchange_weak(seen, seen - 1, kRelaxed));
      Word(stats->destroyed).fetch_add(1, kRelaxed);
      return 0;
    }
    default:
      return 22;
  }
}

// The create and destroy forms count as a call of add_internal too, as they
// always have; the update itself is a direct call, not one through the PLT.
void count(mox_handle_t *h, mox_type_stats_t *stats, uint32_t counter, uint32_t *slot) {
  if (slot && *slot) return;
  MOX_RT_ENTER();
  if (uint32_t rc = add(stats, counter)) mox_rt::fail(h, slot, rc);
}

}  // namespace

extern "C" {

MOX_API uint32_t moxlib_type_stats_add_internal(mox_handle_t *h, uint32_t db,
                                                const mox_type_info_t *ti,
                                                mox_type_stats_t *stats, uint32_t counter) {
  MOX_RT_ENTER();
  return add(stats, counter);
}

MOX_API void moxlib_type_stats_create_object(mox_handle_t *h, uint32_t db,
                                             const mox_type_info_t *ti, mox_type_stats_t *stats,
                                             uint32_t *slot) {
  MOX_RT_ENTER();
  count(h, stats, MOX_STATS_CREATE, slot);
}

MOX_API void moxlib_type_stats_destroy_object(mox_handle_t *h, uint32_t db,
                                              const mox_type_info_t *ti, mox_type_stats_t *stats,
                                              uint32_t *slot) {
  MOX_RT_ENTER();
  count(h, stats, MOX_STATS_DESTROY, slot);
}

}  // extern "C"
