// The record lifecycle engine, driven by the type descriptors: one
// implementation of create, initialize, destroy, sizeof, embed, offset update,
// variant adjustment and field validity for every record type.
#include "types/lifecycle.h"

#include <cstring>

#include "catalogue_descriptors.h"
#include "frame/conventions.h"
#include "frame/kinds.h"
#include "serial/enums.h"
#include "types/class_map_list.h"

namespace orva {

namespace {

uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }

// The address of element i of field f in obj (i is 0 for a single field).
inline void *field_at(void *obj, const FieldDesc &f, uint32_t i = 0) {
  return bytes(obj) + f.offset + i * f.size;
}

constexpr uint32_t elements(const FieldDesc &f) { return f.shape == Shape::Array ? f.bound : 1; }

constexpr bool object_kind(Kind k) {
  switch (k) {
    case Kind::Boolean:
    case Kind::MacAddr:
    case Kind::VString:
    case Kind::IpAddress:
    case Kind::CalendarTime:
    case Kind::EnmClientType:
    case Kind::EnmRadioBand:
      return true;
    default:
      return false;
  }
}

// A header store of initialize: announced when the caller asks for it.
template <class T>
void put(mox_handle_t *h, uint32_t db, bool notify, T *dst, T value, void *owner = nullptr) {
  if (notify) announce(h, dst, sizeof(T), db, owner);
  *dst = value;
}

const char *error_text(uint32_t code) { return std::strerror(static_cast<int>(code)); }

// The flags a record takes in initialize with tracking on; placed: its parent
// places its state area (see initialize).
constexpr uint8_t tracked_flags(bool placed) {
  return MOX_FLAG_STATE_TRACKED | (placed ? MOX_FLAG_STTR_OFFSET_HELD : 0);
}

// The records embedded in a record of type t, at every level.
constexpr uint32_t nested_total(const TypeDesc &t) {
  uint32_t n = 0;
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.kind == Kind::Record && (f.shape == Shape::Single || f.shape == Shape::Array))
      n += elements(f) * (1 + nested_total(*f.record));
  }
  return n;
}

// Lists the records embedded in obj at every level (array elements in index
// order, each followed by its own) with their state-area offsets, area being
// obj's state area: constant positions, no walk over the other fields.
template <const TypeDesc &T>
void list_nested(void *obj, uint8_t *area, void **objs, uint32_t *offsets, uint32_t &n) {
  each_field<T>([&]<size_t I>() {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (f.kind == Kind::Record && (f.shape == Shape::Single || f.shape == Shape::Array)) {
      const uint32_t each = f.record->state_size_for(f.record->highest);
      for (uint32_t e = 0; e < elements(f); ++e) {
        void *nested = field_at(obj, f, e);
        uint8_t *nested_area = area + f.state_area + e * each;
        objs[n] = nested;
        offsets[n++] = static_cast<uint32_t>(nested_area - bytes(nested));
        if constexpr (nested_total(*f.record) != 0)
          list_nested<*f.record>(nested, nested_area, objs, offsets, n);
      }
    }
  });
}

// Tells the runtime where the state bytes of every record embedded in obj
// lie (area: obj's state area), at every level, in one call.
template <const TypeDesc &T>
void place_nested_of(mox_handle_t *h, uint32_t db, void *obj, uint8_t *area) {
  constexpr uint32_t total = nested_total(T);
  if constexpr (total != 0) {
    void *objs[total];
    uint32_t offsets[total];
    uint32_t n = 0;
    list_nested<T>(obj, area, objs, offsets, n);
    moxlib_update_sttr_offsets(h, db, n, objs, offsets);
  }
}

// Offsets of nested records to forget, gathered during a destroy and handed
// to the runtime in one call at its end (or when the list is full).
struct Releases {
  Releases(mox_handle_t *handle, uint32_t d) : h(handle), db(d) {}
  mox_handle_t *h;
  uint32_t db;
  uint32_t n = 0;
  const void *objs[32];  // left uninitialized: only objs[0, n) is read
  void add(const void *obj) {
    if (n == sizeof objs / sizeof objs[0]) flush();
    objs[n++] = obj;
  }
  void flush() {
    if (n != 0) moxlib_release_sttr_offsets(h, db, n, objs);
    n = 0;
  }
};

void destroy(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t free_storage,
             Releases &rel);
// initialize is inlined into record_initialize (the entry of create and of
// the decoder's dynamic array); nested records reach it out of line.
[[gnu::always_inline]] inline uint32_t initialize(const TypeDesc &t, mox_handle_t *h, uint32_t db,
                                                  void *obj, mox_type_info_t *ti, uint32_t notify,
                                                  uint32_t skip_stats, uint32_t flags,
                                                  uint8_t *sttr_base, uint32_t *err, bool placed);
[[gnu::noinline]] uint32_t initialize_nested(const TypeDesc &t, mox_handle_t *h, uint32_t db,
                                             void *obj, uint32_t notify, uint32_t skip_stats,
                                             uint8_t *sttr_base, uint32_t *err, bool placed);

// Whether initialize and destroy have anything to do for a field: integers
// need nothing (the storage is cleared before initialize, and they hold
// nothing to release); the dynamic array starts empty.
constexpr bool needs_init(const FieldDesc &f) {
  return f.shape == Shape::List ||
         (f.shape != Shape::Dynamic &&
          (f.kind == Kind::Record || f.kind == Kind::Enum || object_kind(f.kind)));
}
constexpr bool needs_release(const FieldDesc &f) {
  return f.shape == Shape::List || f.shape == Shape::Dynamic || f.kind == Kind::Record ||
         f.kind == Kind::MacAddr || f.kind == Kind::VString || f.kind == Kind::IpAddress ||
         f.kind == Kind::CalendarTime;
}

// Initialize and release, per type: a fold over the fields that need work,
// offsets and bounds constant, kinds resolved at compile time.
// placed: the nested records' state areas are placed already (at every
// level), so they do not place their own.
template <const TypeDesc &T>
void initialize_fields_of(mox_handle_t *h, uint32_t db, void *obj, uint32_t notify,
                          uint32_t skip_stats, uint8_t *base, uint32_t *err, bool placed) {
  each_field<T>([&]<size_t I>() {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (f.shape == Shape::List) {
      list_initialize(T, I, h, db, obj, notify);
    } else if constexpr (needs_init(f)) {
      for (uint32_t e = 0; e < elements(f); ++e) {
        void *field = field_at(obj, f, e);
        if constexpr (f.kind == Kind::Record) {
          initialize_nested(*f.record, h, db, field, notify, skip_stats, base, err, placed);
        } else if constexpr (f.kind == Kind::Enum) {
          enum_initialize(*f.enumd, h, db, static_cast<mox_enum_obj_t *>(field), f.enumd->ti,
                          notify, MOX_FLAG_NESTED, err);
        } else {
          using O = PrimObj<f.kind>;
          O::initialize(h, db, static_cast<typename Prim<f.kind>::C *>(field), O::ti(), notify,
                        skip_stats, MOX_FLAG_NESTED, base, err);
        }
      }
    }
  });
}

template <const TypeDesc &T>
void release_fields_of(mox_handle_t *h, uint32_t db, void *obj, Releases &rel) {
  each_field<T>([&]<size_t I>() {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (f.shape == Shape::List) {
      list_destroy_entries(T, I, h, db, obj);
    } else if constexpr (f.shape == Shape::Dynamic) {
      void **block = reinterpret_cast<void **>(field_at(obj, f));
      if (*block != nullptr) {
        uint32_t count = bytes(obj)[T.fields[f.count_field].offset];
        for (uint32_t e = 0; e < count; ++e)
          destroy(*f.record, h, db, bytes(*block) + e * f.size, 0, rel);
        h->record_free(h->record_heap, db, *block);
        store<void *>(h, db, block, nullptr);
      }
      // The per-element state block goes with the record, even when the
      // element block is already gone (_remove_elements leaves it in place).
      if (uint8_t *area = state_area(T, h, db, obj)) {
        void **states = reinterpret_cast<void **>(area + f.state_pointer);
        if (*states != nullptr) {
          h->record_free(h->record_heap, db, *states);
          store<void *>(h, db, states, nullptr);
        }
      }
    } else if constexpr (needs_release(f)) {
      for (uint32_t e = 0; e < elements(f); ++e) {
        void *field = field_at(obj, f, e);
        if constexpr (f.kind == Kind::Record) {
          destroy(*f.record, h, db, field, 0, rel);
        } else {
          using O = PrimObj<f.kind>;
          static_assert(O::released);
          auto *value = static_cast<typename Prim<f.kind>::C *>(field);
          uint32_t local = 0;
          O::decr_object_reference(h, db, value, &local);
          if (local != 0) trace_at(f.msg, local, error_text(local));
          O::destroy_internal(h, db, value, 0);
        }
      }
    }
  });
}

struct LifeOps {
  decltype(&initialize_fields_of<k_qos_client_data_t>) initialize;
  decltype(&release_fields_of<k_qos_client_data_t>) release;
  decltype(&place_nested_of<k_qos_client_data_t>) place;  // null: nothing embedded
};
#define ORVA_LIFE_ENTRY(n)                                     \
  {&initialize_fields_of<k_##n>, &release_fields_of<k_##n>, \
   nested_total(k_##n) ? &place_nested_of<k_##n> : nullptr},
constexpr LifeOps kLife[] = {ORVA_EACH_TYPE(ORVA_LIFE_ENTRY)};
#undef ORVA_LIFE_ENTRY

void initialize_fields(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t notify,
                       uint32_t skip_stats, uint8_t *base, uint32_t *err, bool placed) {
  kLife[t.index].initialize(h, db, obj, notify, skip_stats, base, err, placed);
}

void release_fields(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, Releases &rel) {
  kLife[t.index].release(h, db, obj, rel);
}

}  // namespace

uint8_t *state_area(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj) {
  if (obj == nullptr) return nullptr;
  const mox_obj_header_t *hd = header(obj);
  if ((hd->flags & MOX_FLAG_STATE_TRACKED) == 0) return nullptr;
  uint8_t *base = const_cast<uint8_t *>(static_cast<const uint8_t *>(obj));
  if (hd->flags & MOX_FLAG_STTR_OFFSET_HELD) return base + moxlib_get_sttr_offset(h, db, obj);
  return base + t.data_size_for(hd->storage_variant);
}

namespace {

// Create, with the placeholder for a caller in _cr mode (cr set) and null
// otherwise when nothing can be created.
void *create(const TypeDesc &t, mox_handle_t *h, uint32_t db, bool cr) {
  trace_init();
  void *rec = nullptr;
  if (cr && h->last_error != 0) {
    rec = t.placeholder;
  } else {
    uint32_t size = record_sizeof_internal(t, h, nullptr, 1, 0);
    void *block = h->record_alloc(h->record_heap, db, size);
    if (block == nullptr) {
      if (!cr) return nullptr;
      if (h->last_error == 0) mox_store_err(h, kENOMEM);
      rec = t.placeholder;
    } else {
      memset_cr(block, 0, size);  // nobody can see the block yet
      uint32_t local = 0;
      record_initialize(t, h, db, block, t.ti, 1, 0, 0, nullptr, &local);
      if (local != 0) {
        trace(t, Msg::CreateFailed, error_text(local));
        h->record_free(h->record_heap, db, block);
        return nullptr;
      }
      rec = block;
    }
  }
  report_containment(h, db, rec, nullptr);
  if (platform_announces(h, db)) moxdb_plat_set_dirty(h, db, rec);
  return rec;
}

}  // namespace

void *record_create(const TypeDesc &t, mox_handle_t *h, uint32_t db) {
  return create(t, h, db, h->cr_mode != 0);
}

void *record_new(const TypeDesc &t, mox_handle_t *h, uint32_t db) { return create(t, h, db, false); }

void *record_create_cr(const TypeDesc &t, mox_handle_t *h) {
  h->cr_mode = 1;
  void *rec = record_create(t, h, h->current_db);
  h->cr_mode = 0;
  return rec;
}

uint32_t record_initialize(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           mox_type_info_t *ti, uint32_t notify, uint32_t skip_stats,
                           uint32_t flags, uint8_t *sttr_base, uint32_t *err) {
  return initialize(t, h, db, obj, ti, notify, skip_stats, flags, sttr_base, err, false);
}

namespace {

// record_initialize; placed: the record's parent places the state areas of
// everything embedded in it, when their initialize is done.  A record so
// placed takes STTR_OFFSET_HELD in the same announced store as its other
// flags, so that the runtime, finding it set, stores no flag of its own.
inline uint32_t initialize(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           mox_type_info_t *ti, uint32_t notify, uint32_t skip_stats,
                           uint32_t flags, uint8_t *sttr_base, uint32_t *err, bool placed) {
  if (!enter(h, err)) return *err;
  if (obj == nullptr) {
    fail(h, err, kENOENT);  // a required pointer argument is null
    return *err;
  }
  if (ti == nullptr) ti = t.ti;
  mox_obj_header_t *hd = header(obj);
  int32_t v = mox_domain_lookup_variant(h, &h->domain, ti, err);
  if (*err == 0) {
    if (v > t.highest) v = t.highest;
    put(h, db, notify, &hd->storage_variant, static_cast<uint8_t>(t.highest));
    put(h, db, notify, &hd->variant, static_cast<int8_t>(v));
  }
  void **slot = mox_get_manifested_type_info_ptr_mem(obj, err);
  Tracking mode = Tracking::Absent;
  uint8_t *place_at = nullptr;  // this record places its nested records' areas: its own
  if (*err == 0 && slot != nullptr) {
    // From here on the record's own type-info record is the one that counts
    // (its variant information and statistics included): the registered copy
    // when the handle places records in a registry.
    mox_type_info_t *placed_ti = placed_type_info(h, db, ti);
    put(h, db, notify, slot, static_cast<void *>(placed_ti));
    if (placed_ti != nullptr) ti = placed_ti;
    // The caller's flags and the tracking flag (and that of a placed record's
    // offset) in one store.
    mode = tracking(h, t);
    if (mode == Tracking::On) flags |= tracked_flags(placed);
    put(h, db, notify, &hd->flags, static_cast<uint8_t>(hd->flags | flags), obj);
  } else if (*err == 0) {
    mode = tracking(h, t);
    if (mode == Tracking::On)
      put(h, db, notify, &hd->flags, static_cast<uint8_t>(hd->flags | tracked_flags(placed)), obj);
  }

  if (*err == 0 && !skip_stats) {
    moxlib_type_stats_create_object(h, db, ti, stats_area(t, ti, v), err);
    if (mode == Tracking::On) {
      bool place = true;
      if (hd->flags & MOX_FLAG_NESTED) {
        if (sttr_base == nullptr) {
          fail(h, err, kEINVAL);
          trace(t, Msg::NestedBaseNull);
          return *err;
        }
        place = (hd->flags & MOX_FLAG_STTR_OFFSET_HELD) != 0;
      } else if (sttr_base == nullptr) {
        sttr_base = bytes(obj) + record_sizeof_internal(t, h, obj, 0, 0);
      }
      if (place && !placed && kLife[t.index].place != nullptr) {
        place_at = (hd->flags & MOX_FLAG_STTR_OFFSET_HELD)
                       ? bytes(obj) + moxlib_get_sttr_offset(h, db, obj)
                       : sttr_base;
      }
    }
  }
  initialize_fields(t, h, db, obj, notify, skip_stats, sttr_base, err, placed || place_at);
  // Placed after the nested records' initialize, which set their flag already.
  if (place_at) kLife[t.index].place(h, db, obj, place_at);
  return *err;
}

uint32_t initialize_nested(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           uint32_t notify, uint32_t skip_stats, uint8_t *sttr_base,
                           uint32_t *err, bool placed) {
  return initialize(t, h, db, obj, t.ti, notify, skip_stats, MOX_FLAG_NESTED, sttr_base, err,
                    placed);
}

}  // namespace

void record_destroy(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj) {
  if (obj != t.placeholder) record_destroy_internal(t, h, db, obj, 1);
}

void record_destroy_cr(const TypeDesc &t, mox_handle_t *h, void *obj) {
  record_destroy_internal(t, h, h->current_db, obj, 1);
}

void record_destroy_internal(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                             uint32_t free_storage) {
  Releases rel(h, db);
  destroy(t, h, db, obj, free_storage, rel);
  rel.flush();
}

namespace {

// record_destroy_internal; the offsets the records destroyed hold are
// gathered in rel, to be forgotten in one call.
void destroy(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t free_storage,
             Releases &rel) {
  if (obj == nullptr || obj == t.placeholder) return;
  // An entry still linked in a list leaves it first, before anything else
  // (even when an OID mapping then defers the rest of the destruction).
  if (t.ops & kOpListElement) list_entry_unlink(t, h, db, obj);
  uint32_t local = 0;
  mox_obj_header_t *hd = header(obj);
  if (hd->flags & MOX_FLAG_OID_MAPPED) {
    uint32_t removed = mox_request_oid_mapping_destroy(h, db, obj, &local);
    if (local != 0) {
      trace(t, Msg::OidRemoveFailed, error_text(local));
      mox_store_err(h, local);
      return;
    }
    if (removed == 0) {
      trace(t, Msg::DestroyDeferred);
      return;
    }
    trace(t, Msg::OidRemoved);
  }
  if (mox_get_instance_variant(obj, 1, 0) >= 0) release_fields(t, h, db, obj, rel);

  mox_type_info_t *ti = checked_type_info(t, obj);
  moxlib_type_stats_destroy_object(h, db, ti, stats_area(t, ti, hd->variant), &local);
  local = 0;
  if (hd->flags & MOX_FLAG_STTR_OFFSET_HELD) rel.add(obj);
  if ((hd->flags & (MOX_FLAG_RA_DATA | MOX_FLAG_STTR_OFFSET_HELD)) && h->hd_mapping_enabled) {
    mox_hd_mapping_destroy(h, db, obj, &local);
    if (local != 0) {
      trace(t, Msg::HdRemoveFailed, error_text(local));
      mox_store_err(h, local);
      return;
    }
  }
  if (!free_storage) return;  // nested: the storage is the parent's
  if (platform_announces(h, db)) moxdb_plat_set_destroy(h, db, obj);
  if ((hd->flags & MOX_FLAG_TINFO_BLOCK) && hd->tinfo != nullptr)
    h->record_free(h->record_heap, db, hd->tinfo);
  store<void *>(h, db, &hd->tinfo, nullptr);
  h->record_free(h->record_heap, db, obj);
}

}  // namespace

uint32_t record_sizeof(const TypeDesc &t, mox_handle_t *h) {
  return record_sizeof_internal(t, h, nullptr, 1, 0);
}

uint32_t record_sizeof_internal(const TypeDesc &t, mox_handle_t *h, const void *obj,
                                uint32_t with_state, uint32_t state_only) {
  int sv = obj ? header(obj)->storage_variant : t.highest;
  uint32_t data = t.data_size_for(sv), state = t.state_size_for(sv);
  if (tracking(h, t) != Tracking::On) return state_only ? 0 : data;
  if (state_only) return state;
  return with_state ? data + state : data;
}

void record_set_instance_embedded(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj) {
  if (obj == nullptr) {
    trace(t, Msg::EmbedNull);
    return;
  }
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.shape == Shape::Dynamic || f.shape == Shape::List) continue;
    for (uint32_t e = 0; e < elements(f); ++e) {
      void *field = field_at(obj, f, e);
      if (object_kind(f.kind)) {
        kind_ops(f.kind).set_instance_embedded(h, db, field);
      } else if (f.kind == Kind::Record && (f.record->ops & kOpEmbed)) {
        record_set_instance_embedded(*f.record, h, db, field);
      } else if (f.kind == Kind::Record || f.kind == Kind::Enum) {
        mox_obj_header_t *nh = header(field);
        store<uint8_t>(h, db, &nh->flags, nh->flags | MOX_FLAG_EMBEDDED, field);
      }
    }
  }
  mox_obj_header_t *hd = header(obj);
  store<uint8_t>(h, db, &hd->flags, hd->flags | MOX_FLAG_EMBEDDED);
}

void record_offset_update(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                          uint8_t *sttr_area) {
  if (obj == nullptr || sttr_area == nullptr) return;
  if (kLife[t.index].place != nullptr) kLife[t.index].place(h, db, obj, sttr_area);
}

void record_adjust_variant(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           uint32_t *err) {
  uint32_t local = 0;
  const mox_type_info_t *ti = obj ? mox_get_manifested_type_info(obj, &local) : nullptr;
  moxlib_adjust_variant(h, db, obj, ti, t.highest, err);
}

uint32_t record_is_valid_cr(const TypeDesc &t, mox_handle_t *h, const void *obj,
                            uint32_t field_index, uint32_t flags) {
  int32_t v = domain_variant(h, t, &h->last_error);
  if ((flags & 1) == 0) {
    int32_t own = mox_get_instance_variant(obj, 1, 0);
    if (own < v) v = own;
  }
  // Only fields the type has, and those of a newer variant only from that
  // variant on.  The comparison is unsigned: the -1 of a lookup made with an
  // error already in last_error does not hide the newer fields.
  if (field_index >= t.field_count) return 0;
  uint32_t needs = t.fields[field_index].variant;
  return needs == 0 || static_cast<uint32_t>(v) >= needs ? 1 : 0;
}

}  // namespace orva
