// Pieces shared by the wire fuzzer and its seed generator.
#pragma once

#include <cstdint>

#include "frame/catalogue.h"
#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva_fuzz {

// The three state-tracking configurations a handle can have: none at all,
// off, on.  An input's first byte picks the type and one of these.
constexpr uint32_t kModes[3] = {0, MOX_STTR_OFF, MOX_STTR_ON};
constexpr uint32_t kModeCount = 3;

inline uint32_t selector_count() { return orva::kTypeCount * kModeCount; }
inline uint8_t selector(uint32_t type_index, uint32_t mode_index) {
  return static_cast<uint8_t>(type_index * kModeCount + mode_index);
}

// A fresh handle with its own type registry, destroyed with the scope.
class Handle {
 public:
  explicit Handle(uint32_t sttr_mode) : h_(mox_handle_create()), registry_(mox_registry_create()) {
    mox_handle_set_type_registry(h_, registry_);
    if (sttr_mode != 0) mox_handle_set_sttr_mode(h_, sttr_mode);
  }
  ~Handle() {
    mox_handle_destroy(h_);
    mox_registry_destroy(registry_);
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  operator mox_handle_t *() const { return h_; }
  uint64_t live_bytes() const {
    mox_alloc_stats_t s;
    mox_handle_alloc_stats(h_, &s);
    return s.live_bytes;
  }

 private:
  mox_handle_t *h_;
  void *registry_;
};

}  // namespace orva_fuzz
