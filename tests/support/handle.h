// ScopedHandle: a MOX handle for one test.
//
// It owns a fresh handle with its own type registry, so registered copies
// never leak from one test into another, and clears the trace capture so a
// test sees only its own messages.  On destruction it destroys the handle and
// then the registry (which frees the copies registered in it).
//
//   orva_test::ScopedHandle h;            // private memory, no state tracking
//   orva_test::ScopedHandle t(MOX_STTR_ON);
//   qos_ap_data_t *rec = qos_ap_data_t_create(h, MOX_NO_DB);
//   EXPECT_EQ(h.live_bytes(), 0u);        // after destroying what was created
#pragma once

#include <cstdint>
#include <vector>

#include "mox/runtime.h"

namespace orva_test {

class ScopedHandle {
 public:
  // sttr_mode 0 leaves the handle without a state-tracking configuration.
  explicit ScopedHandle(uint32_t sttr_mode = 0)
      : h_(mox_handle_create()), registry_(mox_registry_create()) {
    mox_handle_set_type_registry(h_, registry_);
    mox_handle_set_sttr_mode(h_, sttr_mode);
    mox_trace_clear();
  }
  ~ScopedHandle() {
    mox_handle_destroy(h_);
    mox_registry_destroy(registry_);
  }
  ScopedHandle(const ScopedHandle &) = delete;
  ScopedHandle &operator=(const ScopedHandle &) = delete;

  mox_handle_t *get() const { return h_; }
  operator mox_handle_t *() const { return h_; }
  mox_handle_t *operator->() const { return h_; }
  void *registry() const { return registry_; }

  mox_alloc_stats_t alloc_stats() const {
    mox_alloc_stats_t s;
    mox_handle_alloc_stats(h_, &s);
    return s;
  }
  // Record storage allocated through the handle and not yet freed.
  uint64_t live_bytes() const { return alloc_stats().live_bytes; }

  void journal(bool on) { mox_journal_enable(h_, on ? 1 : 0); }
  void fail_alloc_after(int64_t n) { mox_handle_fail_alloc_after(h_, n); }

 private:
  mox_handle_t *h_;
  void *registry_;
};

// The kinds of the events the runtime recorded for item, in order.
inline std::vector<uint32_t> EventsOf(mox_handle_t *h, const void *item) {
  std::vector<uint32_t> kinds;
  mox_event_t e;
  for (uint32_t i = 0; i < mox_event_count(h); ++i)
    if (mox_event_get(h, i, &e) && e.item == item) kinds.push_back(e.kind);
  return kinds;
}

}  // namespace orva_test
