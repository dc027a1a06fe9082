// Pieces shared by the fuzzers and their seed generator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "frame/catalogue.h"
#include "frame/descriptors.h"
#include "mox/runtime.h"
#include "types/class_map_list.h"

namespace orva_fuzz {

// The three state-tracking configurations a handle can have: none at all,
// off, on.  An input's first byte picks the type and one of these.
constexpr uint32_t kModes[3] = {0, MOX_STTR_OFF, MOX_STTR_ON};
constexpr uint32_t kModeCount = 3;

// What the current input exercises, for the report of a broken expectation:
// the fuzzer's name, the type or entry, the state-tracking mode.
inline const char *g_fuzzer = "";
inline const char *g_subject = "";
inline uint32_t g_mode = 0;

// Stops the run with a report unless ok; a and b are the values compared.
inline void expect(bool ok, const char *what, uint64_t a = 0, uint64_t b = 0) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s (%s, sttr mode 0x%x): %llu vs %llu\n", g_fuzzer, what, g_subject, g_mode,
               static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

inline uint32_t selector_count() { return orva::kTypeCount * kModeCount; }
inline uint8_t selector(uint32_t type_index, uint32_t mode_index) {
  return static_cast<uint8_t>(type_index * kModeCount + mode_index);
}

// The frame fuzzer's decoders are numbered in its table order, the message's
// first; a frame selector is decoder * kModeCount + mode index.
constexpr uint32_t kMessageDecoders = 4;
inline uint8_t frame_selector(uint32_t decoder, uint32_t mode_index) {
  return static_cast<uint8_t>(decoder * kModeCount + mode_index);
}

// Records in obj's tree (obj included) whose flags carry RA_DATA: each gets
// an ra-data block on the wire (kRaBlockLen bytes) that record_len leaves out.
constexpr uint32_t kRaBlockLen = 9;
inline uint32_t ra_records(const orva::TypeDesc &t, const void *obj) {
  using orva::Kind;
  using orva::Shape;
  uint32_t n = (static_cast<const mox_obj_header_t *>(obj)->flags & MOX_FLAG_RA_DATA) ? 1 : 0;
  const auto *base = static_cast<const uint8_t *>(obj);
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const orva::FieldDesc &f = t.fields[i];
    if (f.kind != Kind::Record) continue;
    switch (f.shape) {
      case Shape::Single:
        n += ra_records(*f.record, base + f.offset);
        break;
      case Shape::Array:
        for (uint32_t e = 0; e < f.bound; ++e) n += ra_records(*f.record, base + f.offset + e * f.size);
        break;
      case Shape::Dynamic: {
        const uint8_t *block = *reinterpret_cast<const uint8_t *const *>(base + f.offset);
        uint32_t count = base[t.fields[f.count_field].offset];
        if (block != nullptr)
          for (uint32_t e = 0; e < count; ++e) n += ra_records(*f.record, block + e * f.size);
        break;
      }
      case Shape::List:
        for (void *e = orva::list_first(obj, f); e != nullptr;
             e = orva::list_next(obj, f, e, *f.record))
          n += ra_records(*f.record, e);
        break;
    }
  }
  return n;
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
