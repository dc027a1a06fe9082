// The field accessor engine: every field operation of every record type, by
// the field's descriptor (kind, shape, bound, variant, state position), plus
// the record-level copy and its cleanup.
//
// The dynamic array keeps its elements in one block: the elements one after
// another (each the size of the element record), then, with tracking on, the
// state areas of all elements in the same order.  Its per-element state bytes
// are a separate block whose pointer lies in the parent's state area.
#include "types/accessors.h"

#include <atomic>
#include <cstring>

#include "frame/conventions.h"
#include "frame/kinds.h"
#include "serial/enums.h"
#include "serial/wire.h"
#include "types/class_map_list.h"
#include "types/lifecycle.h"

namespace orva {

namespace {

constexpr uint32_t kMaxDynamic = 255;  // the count is one byte
constexpr uint8_t kModified = 2;

uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }
// Pointer words inside a state area are read without assuming their alignment.
uint8_t *load_pointer(const uint8_t *where) {
  uint8_t *p;
  std::memcpy(&p, where, sizeof p);
  return p;
}
void *at(void *obj, const FieldDesc &f, uint32_t i = 0) { return bytes(obj) + f.offset + i * f.size; }
bool object_field(const FieldDesc &f) { return f.kind == Kind::Record || f.kind == Kind::Enum; }
uint32_t enum_flag(const FieldDesc &f) { return (f.flags & kFieldEnumFlag) ? 1 : 0; }

// Setters first bring the instance to the type's latest variant.
bool setter_entry(const TypeDesc &t, const FieldDesc &f, mox_handle_t *h, uint32_t db, void *obj,
                  uint32_t *err) {
  if (!enter(h, err)) return false;
  record_adjust_variant(t, h, db, obj, err);
  if (*err != 0) return false;
  return access_ok(h, obj, enum_flag(f), f.variant, err);
}

// The marking step after a write: the field's byte (and an element's byte) to
// "modified".  Element bytes of the dynamic array live in their own block.
void mark(const TypeDesc &t, const FieldDesc &f, mox_handle_t *h, uint32_t db, void *obj,
          int32_t element, uint32_t *err) {
  if (tracking(h, t) != Tracking::On) return;
  uint8_t *area = state_area(t, h, db, obj);
  if (area == nullptr) {
    fail(h, err, kEINVAL);
    trace(t, Msg::NotTracked);
    return;
  }
  store(h, db, area + f.state, kModified);
  if (element < 0) return;
  if (f.shape == Shape::Dynamic) {
    uint8_t *states = load_pointer(area + f.state_pointer);
    if (states != nullptr) store(h, db, states + element, kModified);
  } else {
    store(h, db, area + f.state + 1 + element, kModified);
  }
}

// Copies src into one field or element by the field's kind: nested records
// through the record-level copy, module enumerations by value, primitives
// through the runtime's setter of their kind.
void copy_into(const FieldDesc &f, mox_handle_t *h, uint32_t db, void *dst, const void *src,
               uint32_t *err) {
  if (f.kind == Kind::Record)
    record_set(*f.record, h, db, dst, const_cast<void *>(src), err);
  else if (f.kind != Kind::Enum)
    kind_ops(f.kind).set(h, db, dst, src, err);  // refuses a null source itself
  else if (src == nullptr)
    fail(h, err, kENOENT);  // a required pointer argument is null
  else
    enum_set_value(*f.enumd, h, db, static_cast<mox_enum_obj_t *>(dst),
                   static_cast<const mox_enum_obj_t *>(src)->value, err);
}

void set_value_into(const FieldDesc &f, mox_handle_t *h, uint32_t db, void *p, uint64_t value,
                    uint32_t *err) {
  if (f.kind == Kind::Enum)
    enum_set_value(*f.enumd, h, db, static_cast<mox_enum_obj_t *>(p), static_cast<uint32_t>(value),
                   err);
  else
    kind_ops(f.kind).set_value(h, db, p, value, err);
}

uint32_t dynamic_count(const TypeDesc &t, const FieldDesc &f, const void *obj) {
  return static_cast<const uint8_t *>(obj)[t.fields[f.count_field].offset];
}
uint8_t *&dynamic_block(const FieldDesc &f, void *obj) {
  return *reinterpret_cast<uint8_t **>(bytes(obj) + f.offset);
}

// The state-flag operations' protocol: tracking must be on and the record
// tracked; gives the area or null (with the slot set).
uint8_t *state_for_flags(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, Msg untracked,
                         uint32_t *err) {
  Tracking mode = tracking(h, t);
  if (mode == Tracking::Off) {
    fail(h, err, kEINVAL);
    return nullptr;
  }
  uint8_t *area = state_area(t, h, db, obj);
  if (area == nullptr) {
    trace(t, untracked);
    fail(h, err, kEINVAL);
  }
  return area;
}

// The byte of element index (or of the field when index < 0), or null with 2.
uint8_t *flag_byte(const TypeDesc &t, const FieldDesc &f, void *obj, uint8_t *area, int64_t index,
                   mox_handle_t *h, uint32_t *err) {
  if (index < 0) return area + f.state;
  if (f.shape == Shape::Dynamic) {
    uint8_t *states = load_pointer(area + f.state_pointer);
    if (index >= dynamic_count(t, f, obj) || states == nullptr) {
      fail(h, err, kENOENT);
      return nullptr;
    }
    return states + index;
  }
  if (index >= f.bound) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  return area + f.state + 1 + index;
}

uint8_t state_get(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                  int64_t index, uint32_t *err) {
  if (*err != 0) return 0;
  uint8_t *area = state_for_flags(t, h, db, obj, Msg::NonTracked, err);
  if (area == nullptr) return 0;
  uint8_t *b = flag_byte(t, t.fields[fi], obj, area, index, h, err);
  return b ? *b : 0;
}

uint32_t state_set(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                   int64_t index, uint32_t value, uint32_t *err) {
  if (*err != 0) return *err;
  const FieldDesc &f = t.fields[fi];
  uint8_t *area = state_for_flags(t, h, db, obj, Msg::NotTracked, err);
  if (area == nullptr) return *err;
  uint8_t *b = flag_byte(t, f, obj, area, index, h, err);
  if (b == nullptr) return *err;
  record_adjust_variant(t, h, db, obj, err);
  if (*err != 0 || !access_ok(h, obj, enum_flag(f), f.variant, err)) return *err;
  store(h, db, b, static_cast<uint8_t>(value));
  return *err;
}

// Gives the copy dst its own copies of the owned members after a byte copy
// from src: strings (the only kind that owns storage here), IP addresses and
// calendar times set again through their kind, nested records' members, and
// the entries of a list (which move to dst).
void own_members(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst, void *src,
                 uint32_t *err) {
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.shape == Shape::List) {
      list_move(t, i, h, db, dst, src);
      continue;
    }
    if (f.shape == Shape::Dynamic) continue;
    uint32_t n = f.shape == Shape::Array ? f.bound : 1;
    for (uint32_t e = 0; e < n; ++e) {
      void *d = at(dst, f, e), *s = at(src, f, e);
      if (f.kind == Kind::Record) {
        own_members(*f.record, h, db, d, s, err);
        continue;
      }
      if (f.kind == Kind::VString) {
        // Detach the shared text first: the string setter frees what it
        // replaces.  A source without a string leaves none (not an empty one).
        announce(h, d, sizeof(mox_vstring_t), db, dst);
        std::memset(d, 0, sizeof(mox_vstring_t));
        if (static_cast<const mox_vstring_t *>(s)->str == nullptr) continue;
      } else if (f.kind != Kind::IpAddress && f.kind != Kind::CalendarTime) {
        continue;
      }
      // IP addresses and calendar times are values in this runtime, but are
      // set again through their kind like every owned member, so that the
      // runtime sees the destination's own.
      uint32_t local = 0;
      kind_ops(f.kind).set(h, db, d, s, &local);
      if (local != 0 && *err == 0) fail(h, err, local);
    }
  }
}

// Releases what dst owns (at every level) before a byte copy replaces it: its
// strings, and the entries of its lists (a list owns its entries; left
// linked, they would still name dst's head as their owner).
void release_owned(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst) {
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.shape == Shape::List) {
      list_destroy_entries(t, i, h, db, dst);
      continue;
    }
    if (f.shape == Shape::Dynamic) continue;
    uint32_t n = f.shape == Shape::Array ? f.bound : 1;
    for (uint32_t e = 0; e < n; ++e) {
      if (f.kind == Kind::Record)
        release_owned(*f.record, h, db, at(dst, f, e));
      else if (f.kind == Kind::VString)
        kind_ops(f.kind).destroy_internal(h, db, at(dst, f, e), 0);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Getters
// ---------------------------------------------------------------------------

void *field_get(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!enter(h, err) || !access_ok(h, obj, enum_flag(f), f.variant, err)) return nullptr;
  if (object_field(f)) {
    void *p = at(obj, f);
    report_containment(h, db, p, nullptr);
    report_containment(h, db, p, obj);
    return p;
  }
  void *p = kind_ops(f.kind).get(h, db, at(obj, f), err);
  if (p != nullptr) report_containment(h, db, p, obj);
  return p;
}

void *field_get_at(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                   uint32_t index, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!enter(h, err) || !access_ok(h, obj, enum_flag(f), f.variant, err)) return nullptr;
  if (f.shape == Shape::Dynamic) {
    uint8_t *block = dynamic_block(f, obj);
    if (block == nullptr || index >= dynamic_count(t, f, obj)) {
      fail(h, err, kENOENT);
      return nullptr;
    }
    void *p = block + index * f.size;
    report_containment(h, db, p, nullptr);
    report_containment(h, db, p, obj);
    return p;
  }
  if (index >= f.bound) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  if (object_field(f)) {
    void *p = at(obj, f, index);
    report_containment(h, db, p, nullptr);
    report_containment(h, db, p, obj);
    return p;
  }
  void *p = kind_ops(f.kind).get(h, db, at(obj, f, index), err);
  if (p != nullptr) report_containment(h, db, p, obj);
  return p;
}

uint32_t field_get_value(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                         uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (f.kind == Kind::Enum) {
    if (!enter(h, err) || !access_ok(h, obj, 1, f.variant, err)) return 0;
    auto *e = static_cast<mox_enum_obj_t *>(at(obj, f));
    report_containment(h, db, e, nullptr);
    report_containment(h, db, e, obj);
    if (*err != 0) return 0;
    mox_clear_last_error(h);
    return e->value;
  }
  void *p = field_get(t, fi, h, db, obj, err);
  if (p == nullptr) return 0;
  return static_cast<uint32_t>(kind_ops(f.kind).get_value(h, db, p, err));
}

// ---------------------------------------------------------------------------
// Setters
// ---------------------------------------------------------------------------

uint32_t field_set(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                   const void *src, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!setter_entry(t, f, h, db, obj, err)) return *err;
  copy_into(f, h, db, at(obj, f), src, err);
  if (*err != 0) return *err;
  mark(t, f, h, db, obj, -1, err);
  if (*err != 0) return *err;
  report_containment(h, db, src, obj);
  return *err;
}

uint32_t field_set_at(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                      uint32_t index, const void *src, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (f.shape == Shape::Dynamic) return dynamic_set_at(t, fi, h, db, obj, index, src, false, err);
  if (!setter_entry(t, f, h, db, obj, err)) return *err;
  if (index >= f.bound) {
    fail(h, err, kEINVAL);
    trace_at(f.msg, index);
    return *err;
  }
  if (src == nullptr) return *err;
  copy_into(f, h, db, at(obj, f, index), src, err);
  if (*err != 0) return *err;
  // A record element copied from an untracked source has no state bytes to
  // bring along: the copy stays, nothing is marked.
  if (f.kind == Kind::Record && tracking(h, t) == Tracking::On &&
      state_area(t, h, db, obj) != nullptr &&
      (header(src)->flags & MOX_FLAG_STATE_TRACKED) == 0) {
    fail(h, err, kEINVAL);
    trace(t, Msg::ValNotTracked);
    return *err;
  }
  mark(t, f, h, db, obj, static_cast<int32_t>(index), err);
  return *err;
}

uint32_t field_set_value(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                         uint64_t value, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!setter_entry(t, f, h, db, obj, err)) return *err;
  void *p = field_get(t, fi, h, db, obj, err);
  report_containment(h, db, p, obj);
  if (*err != 0) return *err;
  if (p == nullptr) {
    fail(h, err, kENOENT);
    return *err;
  }
  set_value_into(f, h, db, p, value, err);
  if (*err != 0) return *err;
  mark(t, f, h, db, obj, -1, err);
  return *err;
}

uint32_t field_set_value_at(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                            uint32_t index, uint64_t value, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!setter_entry(t, f, h, db, obj, err)) return *err;
  if (index >= f.bound) return field_set_at(t, fi, h, db, obj, index, nullptr, err);
  void *p = field_get_at(t, fi, h, db, obj, index, err);
  if (p == nullptr || *err != 0) return *err;
  set_value_into(f, h, db, p, value, err);
  if (*err != 0) return *err;
  mark(t, f, h, db, obj, static_cast<int32_t>(index), err);
  return *err;
}

// ---------------------------------------------------------------------------
// State flags
// ---------------------------------------------------------------------------

uint8_t field_state_get(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t *err) {
  return state_get(t, f, h, db, obj, -1, err);
}
uint32_t field_state_set(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                         uint32_t value, uint32_t *err) {
  return state_set(t, f, h, db, obj, -1, value, err);
}
uint8_t field_state_get_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                           uint32_t index, uint32_t *err) {
  return state_get(t, f, h, db, obj, index, err);
}
uint32_t field_state_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db,
                            void *obj, uint32_t index, uint32_t value, uint32_t *err) {
  return state_set(t, f, h, db, obj, index, value, err);
}

// ---------------------------------------------------------------------------
// Block copies of the 32-bit port arrays
// ---------------------------------------------------------------------------

uint32_t *field_get_mem(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t *dst, uint32_t count, uint32_t *err) {
  const FieldDesc &f = t.fields[fi];
  if (!enter(h, err) || !access_ok(h, obj, 0, f.variant, err)) return nullptr;
  if (count > f.bound) {
    fail(h, err, kEINVAL);
    return nullptr;
  }
  if (dst == nullptr && count > 0) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  std::memmove(dst, at(obj, f), count * f.size);  // the caller's buffer may overlap the field
  return dst;
}

uint32_t field_set_mem_cr(const TypeDesc &t, uint16_t fi, mox_handle_t *h, void *obj,
                          const uint32_t *src, uint32_t count) {
  const FieldDesc &f = t.fields[fi];
  uint32_t db = h->current_db;
  uint32_t *err = &h->last_error;
  if (*err != 0) return *err;
  mox_clear_last_error(h);
  record_adjust_variant(t, h, db, obj, err);
  if (*err != 0 || !access_ok(h, obj, 0, f.variant, err)) return *err;
  if (count > f.bound) {
    fail(h, err, kEINVAL);
    return *err;
  }
  if (src == nullptr && count > 0) {
    fail(h, err, kENOENT);
    return *err;
  }
  uint8_t *area = nullptr;
  if (tracking(h, t) == Tracking::On) {
    area = state_area(t, h, db, obj);
    if (area == nullptr) {
      fail(h, err, kEINVAL);
      trace(t, Msg::NotTracked);
      return *err;
    }
  }
  announce(h, at(obj, f), count * f.size, db);
  std::memmove(at(obj, f), src, count * f.size);  // the source may overlap the field
  if (area != nullptr) store(h, db, area + f.state, kModified);
  return *err;
}

// ---------------------------------------------------------------------------
// The dynamic array
// ---------------------------------------------------------------------------

void field_remove_elements(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj) {
  if (obj == nullptr) return;
  const FieldDesc &f = t.fields[fi];
  uint8_t *&block = dynamic_block(f, obj);
  if (block == nullptr) return;
  uint32_t count = dynamic_count(t, f, obj);
  for (uint32_t e = 0; e < count; ++e) record_destroy_internal(*f.record, h, db, block + e * f.size, 0);
  h->record_free(h->record_heap, db, block);
  store<uint8_t *>(h, db, &block, nullptr);
  store<uint8_t>(h, db, bytes(obj) + t.fields[f.count_field].offset, 0);
}

uint32_t dynamic_set_at(const TypeDesc &t, uint16_t fi, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t index, const void *src, bool clone, uint32_t *err) {
  static std::atomic<bool> reallocation_reported{false};
  const FieldDesc &f = t.fields[fi];
  const TypeDesc &et = *f.record;
  if (!setter_entry(t, f, h, db, obj, err)) return *err;
  if (index >= kMaxDynamic) {
    fail(h, err, kEINVAL);
    return *err;
  }
  bool tracked = tracking(h, t) == Tracking::On;
  uint8_t *area = tracked ? state_area(t, h, db, obj) : nullptr;
  if (tracked && area == nullptr) {
    fail(h, err, kEINVAL);
    trace(t, Msg::NotTracked);
    return *err;
  }
  if (tracked && src != nullptr && (header(src)->flags & MOX_FLAG_STATE_TRACKED) == 0) {
    fail(h, err, kEINVAL);
    trace(t, Msg::ValNotTracked);
    return *err;
  }
  uint8_t *count_byte = bytes(obj) + t.fields[f.count_field].offset;
  uint8_t *&block = dynamic_block(f, obj);
  uint32_t old = block != nullptr ? *count_byte : 0;
  uint32_t each_state = tracked ? record_sizeof_internal(et, h, nullptr, 0, 1) : 0;
  // Initializes element e of the current block as an empty embedded record,
  // with its state area among the elements' areas after the elements.
  auto init_element = [&](uint32_t e, uint32_t *slot) {
    uint8_t *elem = block + e * f.size;
    uint8_t *base = nullptr;
    if (tracked) {
      base = block + *count_byte * f.size + e * each_state;
      moxlib_update_sttr_offset(h, db, elem, static_cast<uint32_t>(base - elem));
    }
    record_initialize(et, h, db, elem, et.ti, 1, 0, MOX_FLAG_NESTED, base, slot);
  };
  if (block == nullptr || index >= old) {
    // Grow to index + 1 elements: a new block holds the elements, then (with
    // tracking) their state areas in the same order.
    uint32_t n = index + 1;
    if (block != nullptr && !reallocation_reported.exchange(true)) trace_at(f.msg);
    uint32_t size = n * (f.size + each_state);
    uint8_t *fresh = static_cast<uint8_t *>(h->record_alloc(h->record_heap, db, size));
    if (fresh == nullptr) {
      fail(h, err, kENOMEM);
      return *err;
    }
    memset_cr(fresh, 0, size);  // nobody can see the block yet
    uint8_t *old_block = block;
    if (old_block != nullptr) {
      // The elements move: their members (strings included) go with them, so
      // the old block is released without destroying anything.
      std::memcpy(fresh, old_block, old * f.size);
      if (tracked) std::memcpy(fresh + n * f.size, old_block + old * f.size, old * each_state);
    }
    store(h, db, &block, fresh);
    for (uint32_t e = 0; e < old; ++e) {
      uint8_t *moved = fresh + e * f.size;
      uint8_t *left = old_block + e * f.size;
      if (tracked) {
        uint8_t *moved_area = fresh + n * f.size + e * each_state;
        moxlib_update_sttr_offset(h, db, moved, static_cast<uint32_t>(moved_area - moved));
        record_offset_update(et, h, db, moved, moved_area);
        uint32_t local = 0;
        mox_hd_mapping_destroy(h, db, left, &local);
      }
      report_containment(h, db, moved, obj);
      if (h->containment_enabled && h->placement == 1) moxdb_plat_set_detach(h, db, left, 1);
    }
    if (old_block != nullptr) {
      // A source that is one of the moved elements is read where it now
      // lies: its old place is released here, its bytes went to the new block.
      const uint8_t *s = static_cast<const uint8_t *>(src);
      if (s >= old_block && s < old_block + old * f.size) src = fresh + (s - old_block);
      h->record_free(h->record_heap, db, old_block);
    }
    store<uint8_t>(h, db, count_byte, static_cast<uint8_t>(n));
    for (uint32_t e = old; e < n; ++e) init_element(e, err);
    if (tracked) {
      // The per-element state bytes: a new block of n bytes keeps the old ones.
      uint8_t *pointer_at = area + f.state_pointer;
      uint8_t *states = load_pointer(pointer_at);
      uint8_t *fresh_states = static_cast<uint8_t *>(h->record_alloc(h->record_heap, db, n));
      if (fresh_states != nullptr) {
        memset_cr(fresh_states, 0, n);
        if (states != nullptr) std::memcpy(fresh_states, states, old);
      } else if (*err == 0) {
        fail(h, err, kENOMEM);
      }
      // On failure the old block goes too: it is shorter than the count now.
      store(h, db, reinterpret_cast<uint8_t **>(pointer_at), fresh_states);
      if (states != nullptr) h->record_free(h->record_heap, db, states);
    }
    if (*err != 0) return *err;
  }
  if (src == nullptr) return *err;
  void *elem = block + index * f.size;
  report_containment(h, db, elem, obj);
  if (clone) {
    uint32_t len = record_len(et, h, db, src);
    uint8_t *ws = static_cast<uint8_t *>(moxlib_get_handle_ws(h, len));
    if (ws == nullptr) {
      fail(h, err, kENOMEM);
      return *err;
    }
    // A failed read-back destroys its destination, keeping the storage only
    // of a nested record.  An element whose header a record-level copy
    // replaced by a free-standing source's is marked nested again first, so
    // that a failure never releases storage inside the block.
    mox_obj_header_t *eh = header(elem);
    if ((eh->flags & MOX_FLAG_NESTED) == 0)
      store(h, db, &eh->flags, static_cast<uint8_t>(eh->flags | MOX_FLAG_NESTED));
    void *target = elem;
    record_clone(et, h, db, src, &target, ws, static_cast<int32_t>(len), false, err);
    if (*err != 0 && target == nullptr) {
      // The failed read-back destroyed the element, which is still counted:
      // it becomes an empty element again, so that the array stays whole and
      // its destruction releases nothing twice.
      uint32_t local = 0;
      init_element(index, &local);
    }
  } else {
    record_set(et, h, db, elem, const_cast<void *>(src), err);
  }
  if (*err != 0) return *err;
  mark(t, f, h, db, obj, static_cast<int32_t>(index), err);
  return *err;
}

// ---------------------------------------------------------------------------
// Record-level copy
// ---------------------------------------------------------------------------

uint32_t record_set(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst, void *src,
                    uint32_t *err) {
  // A set slot does not stop the copy: only the variant adjustment heeds it.
  record_adjust_variant(t, h, db, dst, err);
  if (dst == src) return *err;
  if (dst == nullptr || src == nullptr) {
    if (*err == 0) fail(h, err, kENOENT);
    return *err;
  }
  mox_obj_header_t *d = header(dst);
  const mox_obj_header_t *s = header(src);
  if (d->variant < s->variant || d->storage_variant != s->storage_variant) {
    fail(h, err, kEIDRM);
    return *err;
  }
  uint32_t size = record_sizeof_internal(t, h, src, 0, 0);
  // The copy takes the source's bytes, header included: type-info word,
  // variants and flags become the source's.  Only where the runtime holds the
  // destination's state area stays the destination's own, and only when the
  // handle has a tracking configuration.  Whether the destination can take
  // state bytes is decided by what it was before the copy: a record without
  // a state area has nowhere to put them.
  const uint8_t held = d->flags & MOX_FLAG_STTR_OFFSET_HELD;
  const bool dst_tracked = (d->flags & MOX_FLAG_STATE_TRACKED) != 0;
  const bool src_tracked = (s->flags & MOX_FLAG_STATE_TRACKED) != 0;
  release_owned(t, h, db, dst);
  announce(h, dst, size, db);
  std::memcpy(dst, src, size);
  if (h->sttr_config != nullptr) {
    d->flags = static_cast<uint8_t>((d->flags & ~MOX_FLAG_STTR_OFFSET_HELD) | held);
    if (tracking(h, t) == Tracking::On) {
      if (!dst_tracked) {
        // Refused after the byte copy and before the owned members are
        // copied: the destination still shares its strings with the source.
        // It must not claim a state area it does not have, and its lists
        // (emptied above) must not name the source's entries, which stay
        // the source's.
        fail(h, err, kEINVAL);
        trace(t, Msg::NotTracked);
        d->flags = static_cast<uint8_t>(d->flags & ~MOX_FLAG_STATE_TRACKED);
        lists_in_record(t, h, db, dst, ListAction::Reset);
        return *err;
      }
      if (src_tracked) {
        uint8_t *darea = state_area(t, h, db, dst);
        const uint8_t *sarea = state_area(t, h, db, src);
        uint32_t n = record_sizeof_internal(t, h, src, 1, 1);
        announce(h, darea, n, db);
        std::memmove(darea, sarea, n);
      }
    }
  }
  own_members(t, h, db, dst, src, err);
  return *err;
}

void record_post_copyout_cleanup(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst,
                                 void *src, uint32_t *err) {
  if (dst == nullptr || src == nullptr || dst == src) return;
  uint32_t local = 0;
  own_members(t, h, db, dst, src, err ? err : &local);
}

}  // namespace orva
