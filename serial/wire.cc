// The wire engine: the versioned binary form of every record type, driven by
// the type descriptors, and the cloning that copies a record through it.
//
// A record travels as: variant byte, flags byte, (ra-data block), a 4-byte
// jump to the end of the record, then the fields in declaration order, each
// followed by its state bytes in state-tracking mode.  The record header,
// the integer kinds and the boolean are written and read here, inline, and
// the encoder also writes strings, MAC and IP addresses and times itself
// (docs/wire-format.md); every other item goes through the runtime's
// encoders.  This engine decides the order, the state bytes, and checks
// every length and count read from the input against what is left before
// using it.
#include "serial/wire.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

#include "catalogue_descriptors.h"
#include "frame/conventions.h"
#include "frame/kinds.h"
#include "serial/enums.h"
#include "types/class_map_list.h"
#include "types/lifecycle.h"

namespace orva {

namespace {

constexpr uint32_t kHeaderLen = 6;      // variant, flags, jump
constexpr uint32_t kEnumWireLen = 5;    // an enumeration: variant byte and value
constexpr uint32_t kMinRecordWire = 6;  // the smallest wire form of a record
constexpr uint8_t kWireFlags = MOX_FLAG_STATE_TRACKED | MOX_FLAG_RA_DATA;

uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }
const uint8_t *bytes(const void *p) { return static_cast<const uint8_t *>(p); }

template <class T>
T load(const void *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The instance variant that the record's fields follow: its own, at most the
// type's latest and never beyond what its storage was laid out for.
int32_t own_variant(const TypeDesc &t, const void *obj) {
  int32_t v = mox_get_instance_variant(obj, 1, 0);
  int32_t most = header(obj)->storage_variant;
  if (most > t.highest) most = t.highest;
  return v > most ? most : v;
}

// The elements of the dynamic array lie at the start of their block, one per
// element struct size; in state-tracking mode the elements' state areas
// follow all of them, one per element.
struct DynamicBlock {
  uint32_t stride;  // bytes of one element
  uint32_t state;   // bytes of one element's state area (0 without tracking)

  // tracked: the handle's state-tracking mode is on (the elements are laid
  // out for the element type's latest variant, as sizeof_internal gives it).
  DynamicBlock(const FieldDesc &f, bool tracked)
      : stride(f.size), state(tracked ? f.record->state_size_for(f.record->highest) : 0) {}
  uint32_t size(uint32_t count) const { return count * (stride + state); }
  uint8_t *element(uint8_t *block, uint32_t i) const { return block + i * stride; }
  uint8_t *area(uint8_t *block, uint32_t count, uint32_t i) const {
    return block + count * stride + i * state;
  }
};

// What every encode and decode checks first: a set error slot ends it at
// once, a length of 0 or below is 90, a missing record or buffer 2.
bool starts(mox_handle_t *h, uint32_t *err, int32_t len, const void *obj, const void *buf) {
  if (!enter(h, err)) return false;
  if (len <= 0) {
    fail(h, err, kEMSGSIZE);
    return false;
  }
  if (obj == nullptr || buf == nullptr) {
    fail(h, err, kENOENT);
    return false;
  }
  return true;
}

uint8_t dynamic_count(const TypeDesc &t, const FieldDesc &f, const void *obj) {
  return bytes(obj)[t.fields[f.count_field].offset];
}

uint8_t **dynamic_block(const FieldDesc &f, void *obj) {
  return reinterpret_cast<uint8_t **>(bytes(obj) + f.offset);
}

const orva_list_head_t *list_head(const FieldDesc &f, const void *obj) {
  return reinterpret_cast<const orva_list_head_t *>(bytes(obj) + f.offset);
}

void put_be32(uint8_t *out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}
uint32_t get_be32(const uint8_t *in) {
  return uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
}

// The integer kinds and the boolean are written and read by the engine
// itself, inline: the value at its own width in network byte order, a
// boolean as one byte, 0 or 1 (docs/wire-format.md).  The bytes, the errors
// and the announced store are those of the runtime's K_marshal/K_unmarshal.
constexpr bool inline_scalar(Kind k) {
  return k == Kind::U8 || k == Kind::U16 || k == Kind::U32 || k == Kind::U64 || k == Kind::I16 ||
         k == Kind::Boolean;
}
constexpr uint32_t kEBADMSG = 74;  // a boolean byte other than 0 or 1
// The encoder also writes strings (length word and text), MAC addresses (six
// bytes), times (seconds in 8 bytes, microseconds in 4) and IP addresses
// (family byte, 4 or 16 address bytes, an IPv6 scope in 4; a family other
// than 4 or 6 is the family byte 0 alone) itself.
constexpr bool inline_marshal(Kind k) {
  return inline_scalar(k) || k == Kind::VString || k == Kind::MacAddr ||
         k == Kind::CalendarTime || k == Kind::IpAddress;
}
// The decoder also reads MAC addresses, IP addresses and times itself, with
// the runtime's checks (an input cut short is 90, an unknown IP family or a
// microsecond count of a second or more 74) and one announced store of the
// whole field, as the runtime's K_unmarshal makes it.
constexpr bool inline_unmarshal(Kind k) {
  return k == Kind::MacAddr || k == Kind::CalendarTime || k == Kind::IpAddress;
}
constexpr uint32_t ip_len(uint8_t family) {
  return family == MOX_IP_V4 ? 4 : family == MOX_IP_V6 ? 16 : 0;
}

template <class U>
U network_order(U v) {
  if constexpr (sizeof(U) == 1 || std::endian::native == std::endian::big)
    return v;
  else if constexpr (sizeof(U) == 2)
    return __builtin_bswap16(v);
  else if constexpr (sizeof(U) == 4)
    return __builtin_bswap32(v);
  else
    return __builtin_bswap64(v);
}

#define ORVA_ONE(n) +1
constexpr size_t kTypeCount = 0 ORVA_EACH_TYPE(ORVA_ONE);
#undef ORVA_ONE
static_assert(kTypeCount <= 64, "one bit per type in Scope::known");

// The largest state-tracking area of any type, and that many zeros: the
// state bytes an encoder writes for a record with no area of its own, read
// like any other area (no test per byte).
#define ORVA_STATE_SIZES(n) k_##n.state_size[0], k_##n.state_size[1],
constexpr uint32_t kMaxStateSize = std::max({ORVA_EACH_TYPE(ORVA_STATE_SIZES) 0u});
#undef ORVA_STATE_SIZES
alignas(8) constexpr uint8_t kNoStates[kMaxStateSize] = {};

// What a top-level encode or decode reads once for every record nested in
// it: the handle's state-tracking mode, and per type a value that cannot
// change during the call (the domain's variant for the encoder's domain
// check, the type-info record to place for the decoder).  The records
// nested in a call are parts of the one operation: they neither clear the
// handle's last error again nor repeat these reads.
struct Scope {
  explicit Scope(bool on) : tracked(on) {}
  bool tracked;
  uint64_t known = 0;  // bit TypeDesc::index: value[index] is filled
  union Value {
    int32_t variant;
    mox_type_info_t *ti;
  } value[kTypeCount];

  // Where a decode puts the state bytes it reads when the handle's tracking
  // is off: they are read like any others, with no test per byte, and
  // dropped.
  uint8_t skipped[kMaxStateSize];

  bool has(const TypeDesc &t) const { return (known >> t.index) & 1; }
  void keep(const TypeDesc &t, Value v) {
    value[t.index] = v;
    known |= uint64_t{1} << t.index;
  }
};

// ---------------------------------------------------------------------------
// Per-type operations
// ---------------------------------------------------------------------------
//
// Each operation is a template over the type's descriptor, a constant
// expression: the field list is unrolled by a fold over its indexes, so that
// offsets, kinds, bounds and state positions are constants, the primitive
// kinds' encoders are called directly (Prim<K>) and nested records call the
// instantiation of their own type.

// (wire_len and wire_marshal are the per-type length and encoder; nested
// records are decoded by decode_of, outside the decode budget's entry.)
// Nested records are encoded by marshal_of; placed: where this record's state
// bytes lie in its tracked parent's area (null: the area is looked up).
template <const TypeDesc &T>
uint32_t marshal_of(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *obj, int32_t buflen,
                    uint32_t domain_check, uint32_t *err, Scope &sc, const uint8_t *placed);
struct AreaSpan;
template <const TypeDesc &T>
uint32_t decode_of(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *obj, int32_t len,
                   uint32_t in_place, uint32_t *err, Scope &sc, uint8_t *placed,
                   const AreaSpan *outer);

// Fields that travel: the count of the dynamic array travels with the array.
constexpr bool travels(const FieldDesc &f) { return (f.flags & kFieldCount) == 0; }

// The wire bytes of a field that do not depend on its value (and, apart,
// its state bytes): the whole field when every value has a fixed size, the
// count word of the dynamic array and of lists.
constexpr uint32_t fixed_value(const FieldDesc &f) {
  return f.kind == Kind::Enum ? kEnumWireLen : f.kind == Kind::Record ? 0 : prim_wire(f.kind);
}
constexpr uint32_t fixed_len(const FieldDesc &f) {
  switch (f.shape) {
    case Shape::Single: return fixed_value(f);
    case Shape::Array: return fixed_value(f) * f.bound;
    case Shape::Dynamic: return Prim<Kind::U8>::wire;
    case Shape::List: return 4;  // _mox_list_len_marshal
  }
  return 0;
}
constexpr uint32_t fixed_states(const FieldDesc &f) {
  switch (f.shape) {
    case Shape::Single: return 1;
    case Shape::Array: return 1 + f.bound;
    case Shape::Dynamic: return 0;  // the whole byte and one per element: counted with them
    case Shape::List: return 1;
  }
  return 0;
}
// Whether the length of the field must be walked.
constexpr bool walked(const FieldDesc &f) {
  return f.shape == Shape::Dynamic || f.shape == Shape::List || fixed_value(f) == 0;
}

// Sums of the fixed parts of the fields up to variant 0 and 1.
template <const TypeDesc &T>
struct Fixed {
  static_assert(T.highest <= 1, "the wire engine knows variants 0 and 1");
  static constexpr uint32_t sum(bool states, int v) {
    uint32_t n = 0;
    for (uint16_t i = 0; i < T.field_count; ++i) {
      const FieldDesc &f = T.fields[i];
      if (f.variant > v || !travels(f)) continue;
      n += states ? fixed_states(f) : fixed_len(f);
    }
    return n;
  }
  static constexpr uint32_t len[2] = {sum(false, 0), sum(false, 1)};
  static constexpr uint32_t states[2] = {sum(true, 0), sum(true, 1)};
};

// ---------------------------------------------------------------------------
// Length
// ---------------------------------------------------------------------------

// The bytes of a field beyond its fixed part, state bytes of the dynamic
// array included.
template <const TypeDesc &T, size_t I>
uint32_t walked_len(mox_handle_t *h, uint32_t db, const void *obj, bool states) {
  constexpr const FieldDesc &f = T.fields[I];
  const uint8_t *base = obj ? bytes(obj) + f.offset : nullptr;
  auto value = [&](const uint8_t *field) -> uint32_t {
    if constexpr (f.kind == Kind::Record)
      return wire_len<*f.record>(h, db, field);
    else
      return Prim<f.kind>::len(h, db, reinterpret_cast<const typename Prim<f.kind>::C *>(field));
  };
  uint32_t n = 0;
  if constexpr (f.shape == Shape::Single) {
    n = value(base);
  } else if constexpr (f.shape == Shape::Array) {
    for (uint32_t e = 0; e < f.bound; ++e) n += value(base ? base + e * f.size : nullptr);
  } else if constexpr (f.shape == Shape::Dynamic) {
    if (obj == nullptr) return 0;
    const uint8_t *block = load<const uint8_t *>(base);
    uint32_t count = block ? dynamic_count(T, f, obj) : 0;
    for (uint32_t e = 0; e < count; ++e) n += wire_len<*f.record>(h, db, block + e * f.size);
    // The whole byte is counted even for an empty array (encode skips it).
    return n + (states ? 1 + count : 0);
  } else {
    if (obj == nullptr) return 0;
    uint32_t left = list_head(f, obj)->count;
    for (void *e = list_first(obj, f); e != nullptr && left > 0;
         e = list_next(obj, f, e, *f.record), --left)
      n += wire_len<*f.record>(h, db, e);
  }
  return n;
}

}  // namespace

template <const TypeDesc &T>
uint32_t wire_len(mox_handle_t *h, uint32_t db, const void *obj) {
  // Without a record: the header and the absent fields of the latest variant.
  int32_t v = obj ? own_variant(T, obj) : T.highest;
  // The mode is read (a corrupt one stops the process) for every record.
  bool states = obj != nullptr && tracking(h, T) == Tracking::On;
  if (v < 0) return kHeaderLen;
  uint32_t n = kHeaderLen + Fixed<T>::len[v > 0] + (states ? Fixed<T>::states[v > 0] : 0);
  each_field<T>([&]<size_t I>() {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (travels(f) && walked(f))
      if (f.variant <= v) n += walked_len<T, I>(h, db, obj, states);
  });
  return n;
}

namespace {

// ---------------------------------------------------------------------------
// Encode
// ---------------------------------------------------------------------------

struct Encoder {
  mox_handle_t *h;
  uint32_t db;
  uint8_t *buf;
  int32_t buflen;
  uint32_t *err;
  Scope &sc;
  uint32_t pos = 0;
  bool states = false;            // state bytes are written
  const uint8_t *area = nullptr;  // the record's state area (kNoStates: zeros)

  int32_t room() const { return buflen - static_cast<int32_t>(pos); }
  bool ok() const { return *err == 0; }
  void add(uint32_t n) { pos += n; }

  // One state byte; false (90) when the buffer is full.  Every field of
  // every type takes one: the common step is a compare and a copy inline,
  // the failure out of line.
  [[gnu::always_inline]] bool state_byte(uint16_t at) {
    if (room() <= 0) [[unlikely]]
      return full();
    buf[pos++] = area[at];
    return true;
  }
  [[gnu::noinline, gnu::cold]] bool full() {
    fail(h, err, kEMSGSIZE);
    return false;
  }
  // n state bytes copied from src (zeros when src is null); false (90) when
  // fewer than n bytes remain.
  [[gnu::noinline]] bool state_block(const uint8_t *src, uint32_t n) {
    if (room() < static_cast<int32_t>(n)) {
      fail(h, err, kEMSGSIZE);
      return false;
    }
    if (src)
      std::memcpy(buf + pos, src, n);
    else
      std::memset(buf + pos, 0, n);
    pos += n;
    return true;
  }

  template <const TypeDesc &T, size_t I>
  void field(const void *obj);

  // A value written inline and its state byte at area[at] (state bytes are
  // written): one room check for both in the common case.
  template <Kind K>
  [[gnu::always_inline]] void scalar_and_state(const void *field, uint16_t at) {
    uint32_t n = inline_size<K>(field);
    if (room() < 0 || static_cast<uint32_t>(room()) <= n) [[unlikely]] {
      scalar<K>(field);
      if (ok()) state_byte(at);
      return;
    }
    uint8_t *out = buf + pos;
    write<K>(out, field);
    out[n] = area[at];
    pos += n + 1;
  }

  // The wire size of an inline value (a string's length is at most
  // 0x7FFFFFFE: the sum does not wrap).
  template <Kind K>
  [[gnu::always_inline]] static uint32_t inline_size(const void *field) {
    if constexpr (K == Kind::VString) {
      const auto *f = static_cast<const mox_vstring_t *>(field);
      return 4 + (f->str ? f->len : 0);
    } else if constexpr (K == Kind::IpAddress) {
      uint8_t family = static_cast<const ip_address_t *>(field)->family;
      return 1 + ip_len(family) + (family == MOX_IP_V6 ? 4 : 0);
    } else {
      return Prim<K>::wire;
    }
  }

  // The bytes of an inline value, room checked by the caller.
  template <Kind K>
  [[gnu::always_inline]] static void write(uint8_t *out, const void *field) {
    using C = typename Prim<K>::C;
    if constexpr (K == Kind::VString) {
      const auto *f = static_cast<const mox_vstring_t *>(field);
      uint32_t n = f->str ? f->len : 0;
      put_be32(out, n);
      if (n) std::memcpy(out + 4, f->str, n);
    } else if constexpr (K == Kind::MacAddr) {
      std::memcpy(out, static_cast<const mox_mac_addr_t *>(field)->octet, 6);
    } else if constexpr (K == Kind::IpAddress) {
      const auto *f = static_cast<const ip_address_t *>(field);
      if (f->family == MOX_IP_V4) {
        out[0] = MOX_IP_V4;
        std::memcpy(out + 1, f->addr, 4);
      } else if (f->family == MOX_IP_V6) {
        out[0] = MOX_IP_V6;
        std::memcpy(out + 1, f->addr, 16);
        put_be32(out + 17, f->scope_id);
      } else {
        out[0] = MOX_IP_NONE;
      }
    } else if constexpr (K == Kind::CalendarTime) {
      const auto *f = static_cast<const calendar_time_t *>(field);
      uint64_t sec = network_order(static_cast<uint64_t>(f->sec));
      uint32_t usec = network_order(static_cast<uint32_t>(f->usec));
      std::memcpy(out, &sec, 8);
      std::memcpy(out + 8, &usec, 4);
    } else if constexpr (K == Kind::Boolean) {
      out[0] = load<C>(field) != 0;
    } else {
      auto u = network_order(static_cast<std::make_unsigned_t<C>>(load<C>(field)));
      std::memcpy(out, &u, sizeof u);
    }
  }

  // A value written inline; false (90) when it does not fit.
  template <Kind K>
  [[gnu::always_inline]] void scalar(const void *field) {
    if (room() < 0 || static_cast<uint32_t>(room()) < inline_size<K>(field)) [[unlikely]] {
      full();
      return;
    }
    write<K>(buf + pos, field);
    pos += inline_size<K>(field);
  }

  // The header up to the jump; returns the variant whose fields follow, and
  // sets jump_at, or returns INT32_MIN after a failure.
  int32_t begin(const TypeDesc &t, const void *obj, uint32_t domain_check, uint32_t &jump_at,
                const uint8_t *placed);
  void finish(uint32_t jump_at) {
    if (ok()) put_be32(buf + jump_at, pos - jump_at);
  }
};

template <const TypeDesc &T, size_t I>
void Encoder::field(const void *obj) {
  constexpr const FieldDesc &f = T.fields[I];
  const uint8_t *base = bytes(obj) + f.offset;
  auto value = [&](const void *field, uint32_t e) {
    uint8_t *out = buf + pos;
    if constexpr (f.kind == Kind::Record)
      // An embedded record's state bytes lie in this record's area, where
      // initialize placed them (the runtime's offset for it says the same).
      add(marshal_of<*f.record>(
          h, db, out, field, room(), 1, err, sc,
          area && area != kNoStates
              ? area + f.state_area + e * f.record->state_size_for(f.record->highest)
              : nullptr));
    else if constexpr (f.kind == Kind::Enum)
      add(enum_marshal(*f.enumd, h, db, out, static_cast<const mox_enum_obj_t *>(field), room(),
                       err));
    else if constexpr (inline_marshal(f.kind))
      scalar<f.kind>(field);
    else
      add(Prim<f.kind>::marshal(h, db, out, static_cast<const typename Prim<f.kind>::C *>(field),
                                room(), err));
  };
  if constexpr (f.shape == Shape::Single && inline_marshal(f.kind)) {
    if (states)
      scalar_and_state<f.kind>(base, f.state);
    else
      scalar<f.kind>(base);
  } else if constexpr (f.shape == Shape::Single) {
    value(base, 0);
    if (ok() && states) state_byte(f.state);
  } else if constexpr (f.shape == Shape::Array) {
    if constexpr (PrimArray<f.kind>::bulk) {
      using C = typename Prim<f.kind>::C;
      static_assert(f.size == sizeof(C));
      add(PrimArray<f.kind>::marshal(h, db, buf + pos, reinterpret_cast<const C *>(base), f.bound,
                                     room(), err));
    } else {
      for (uint32_t e = 0; e < f.bound && ok(); ++e) value(base + e * f.size, e);
    }
    // The array's byte and its elements' bytes lie together in the area:
    // one constant-size copy when they fit, else byte, then block.
    if (ok() && states) {
      if (room() > static_cast<int32_t>(f.bound)) [[likely]] {
        std::memcpy(buf + pos, area + f.state, f.bound + 1);
        pos += f.bound + 1;
      } else if (state_byte(f.state)) {
        state_block(area + f.state + 1, f.bound);
      }
    }
  } else if constexpr (f.shape == Shape::Dynamic) {
    const uint8_t *block = load<const uint8_t *>(base);
    uint8_t count = block ? dynamic_count(T, f, obj) : 0;
    scalar<Kind::U8>(&count);
    for (uint32_t e = 0; e < count && ok(); ++e)
      add(marshal_of<*f.record>(h, db, buf + pos, block + e * f.size, room(), 1, err, sc,
                                nullptr));
    if (!ok() || !states || count == 0) return;
    if (state_byte(f.state)) {
      const uint8_t *per = load<const uint8_t *>(area + f.state_pointer);
      state_block(per, count);
    }
  } else {
    uint32_t count = list_head(f, obj)->count;
    add(_mox_list_len_marshal(h, db, buf + pos, count, room(), err));
    uint32_t left = count;
    for (void *e = list_first(obj, f); e != nullptr && left > 0 && ok();
         e = list_next(obj, f, e, *f.record), --left)
      add(marshal_of<*f.record>(h, db, buf + pos, e, room(), 1, err, sc, nullptr));
    // The list's byte only while there is room, and no error without.
    if (ok() && states && room() > 0) buf[pos++] = area[f.state];
  }
}

int32_t Encoder::begin(const TypeDesc &t, const void *obj, uint32_t domain_check,
                        uint32_t &jump_at, const uint8_t *placed) {
  // The caller checked the entry (error slot, arguments) once for the call.
  if (room() <= 0) return full(), INT32_MIN;
  const mox_obj_header_t *hd = header(obj);
  int32_t v = hd->variant;
  // The variant the fields follow never exceeds what the storage was laid
  // out for (own_variant, from the variant just read).
  int32_t most = hd->storage_variant;
  if (most > t.highest) most = t.highest;
  if (domain_check) {
    int32_t allowed;
    if (sc.has(t)) {
      allowed = sc.value[t.index].variant;
    } else {
      uint32_t local = 0;
      const mox_type_info_t *ti = mox_get_manifested_type_info(obj, &local);
      allowed = mox_domain_lookup_variant(h, &h->domain, ti ? ti : t.ti, err);
      if (*err != 0) return INT32_MIN;
      sc.keep(t, {.variant = allowed});
    }
    if (v > allowed) {
      fail(h, err, kEIDRM);  // through the epoch report, which decides about the slot
      if (!ok()) return INT32_MIN;
      v = allowed;
    }
  }
  if (v > most) v = most;

  // Variant byte, flag byte, (ra-data block), jump: the layout of
  // docs/wire-format.md, written here without a runtime call per item.
  buf[pos++] = static_cast<uint8_t>(static_cast<int8_t>(v));
  uint8_t flags = hd->flags;
  if (sc.tracked) {
    flags |= MOX_FLAG_STATE_TRACKED;
    states = true;
    constexpr uint8_t kPlaced = MOX_FLAG_STATE_TRACKED | MOX_FLAG_STTR_OFFSET_HELD;
    area = placed && (hd->flags & kPlaced) == kPlaced ? placed : state_area(t, h, db, obj);
    if (area == nullptr) area = kNoStates;
  } else {
    flags &= static_cast<uint8_t>(~MOX_FLAG_STATE_TRACKED);
  }
  flags &= kWireFlags;
  if (room() < 1) return full(), INT32_MIN;
  buf[pos++] = flags;
  if (flags & MOX_FLAG_RA_DATA) {
    const mox_ra_data_t none{};
    add(_mox_instance_ra_data_marshal(h, db, buf + pos, &none, 0, room(), err));
    if (!ok()) return INT32_MIN;
  }
  if (room() < 4) return full(), INT32_MIN;
  jump_at = pos;
  put_be32(buf + pos, 0);
  pos += 4;
  return v;
}

}  // namespace

template <const TypeDesc &T>
uint32_t wire_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *obj, int32_t buflen,
                      uint32_t domain_check, uint32_t *err) {
  if (!starts(h, err, buflen, obj, buf)) return 0;
  Scope sc(tracking(h, T) == Tracking::On);
  return marshal_of<T>(h, db, buf, obj, buflen, domain_check, err, sc, nullptr);
}

namespace {

// Runs of fixed-size inline fields: consecutive single fields of a kind
// with a constant wire size, of one variant.  A tracked encode writes a run,
// each value followed by its state byte, after one room check for all of it.
constexpr bool fixed_inline(const FieldDesc &f) {
  return travels(f) && f.shape == Shape::Single &&
         (inline_scalar(f.kind) || f.kind == Kind::MacAddr || f.kind == Kind::CalendarTime);
}
// The first field of the run of field i (fields that take P, of one variant),
// and the length of the run from its first field i (0 when i does not take P).
template <const TypeDesc &T, bool (*P)(const FieldDesc &)>
constexpr size_t run_head(size_t i) {
  while (i > 0 && P(T.fields[i - 1]) && T.fields[i - 1].variant == T.fields[i].variant) --i;
  return i;
}
template <const TypeDesc &T, bool (*P)(const FieldDesc &)>
constexpr size_t run_length(size_t i) {
  size_t n = 0;
  while (i + n < T.field_count && P(T.fields[i + n]) &&
         T.fields[i + n].variant == T.fields[i].variant)
    ++n;
  return n;
}
template <const TypeDesc &T, size_t I, size_t N>
constexpr uint32_t run_bytes() {
  return [&]<size_t... J>(std::index_sequence<J...>) {
    return ((prim_wire(T.fields[I + J].kind) + 1) + ... + 0u);
  }(std::make_index_sequence<N>{});
}

// The decoder's runs: the integer kinds and the boolean, which it reads
// itself (the others it hands to the runtime).
constexpr bool decode_inline(const FieldDesc &f) {
  return travels(f) && f.shape == Shape::Single && inline_scalar(f.kind);
}
// The wire bytes of a run's values alone (no state bytes).
template <const TypeDesc &T, size_t I, size_t N>
constexpr uint32_t run_values() {
  return [&]<size_t... J>(std::index_sequence<J...>) {
    return (prim_wire(T.fields[I + J].kind) + ... + 0u);
  }(std::make_index_sequence<N>{});
}
// Whether the fields of a run lie back to back in the record, with no
// padding between them: the run's stores then fill one range exactly, which
// is announced once for all of them.
template <const TypeDesc &T, size_t I, size_t N>
constexpr bool run_solid() {
  for (size_t j = 0; j + 1 < N; ++j)
    if (T.fields[I + j].offset + T.fields[I + j].size != T.fields[I + j + 1].offset) return false;
  return true;
}
template <const TypeDesc &T, size_t I, size_t N>
constexpr uint32_t run_span() {
  return T.fields[I + N - 1].offset + T.fields[I + N - 1].size - T.fields[I].offset;
}

template <const TypeDesc &T>
uint32_t marshal_of(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *obj, int32_t buflen,
                    uint32_t domain_check, uint32_t *err, Scope &sc, const uint8_t *placed) {
  Encoder en{h, db, buf, buflen, err, sc};
  uint32_t jump_at = 0;
  int32_t v = en.begin(T, obj, domain_check, jump_at, placed);
  if (v == INT32_MIN) return en.pos;
  if (v >= 0) {
    each_field<T>([&]<size_t I>() {
      constexpr const FieldDesc &f = T.fields[I];
      constexpr size_t head = run_head<T, fixed_inline>(I), n = run_length<T, fixed_inline>(head);
      if constexpr (fixed_inline(f) && n >= 2) {
        if constexpr (head == I) {
          if (f.variant > v || !en.ok()) return;
          auto each = [&]<size_t... J>(std::index_sequence<J...>) {
            constexpr uint32_t total = run_bytes<T, I, n>();
            if (en.states && en.room() >= static_cast<int32_t>(total)) {
              uint8_t *out = en.buf + en.pos;
              ((Encoder::write<T.fields[I + J].kind>(out, bytes(obj) + T.fields[I + J].offset),
                out[prim_wire(T.fields[I + J].kind)] = en.area[T.fields[I + J].state],
                out += prim_wire(T.fields[I + J].kind) + 1),
               ...);
              en.pos += total;
            } else {
              ((en.ok() ? en.field<T, I + J>(obj) : void()), ...);
            }
          };
          each(std::make_index_sequence<n>{});
        }  // the other fields of a run are written with its head
      } else if constexpr (travels(f)) {
        if (f.variant <= v && en.ok()) en.field<T, I>(obj);
      }
    });
  }
  en.finish(jump_at);
  return en.pos;
}

// ---------------------------------------------------------------------------
// Decode
// ---------------------------------------------------------------------------

// The state area a tracked decode has announced.  A record that reads state
// bytes announces its whole area with one write_notify when its decode
// begins, and then stores each state byte it reads straight into the area;
// the records embedded in it find their areas inside that span and announce
// nothing more.  The range covers every state byte the decode can store,
// announced before any of them is stored; the dynamic array's pointer slot
// is left out (the decode announces it on its own when it stores it).  An
// input of an older variant than the record's storage, or one cut short,
// leaves some announced positions unwritten.
struct AreaSpan {
  uint8_t *lo = nullptr, *hi = nullptr;
  bool covers(const uint8_t *p, uint32_t n) const { return p >= lo && p + n <= hi; }
};

struct Decoder {
  const TypeDesc &t;
  mox_handle_t *h;
  uint32_t db;
  const uint8_t *buf;
  int32_t len;
  uint32_t in_place;
  uint32_t *err;
  void *obj;
  Scope &sc;
  uint8_t *placed;                 // the area the parent holds for this record, or null
  const AreaSpan *outer;           // the area announced by the record this one is embedded in
  AreaSpan span{};                 // this record's area, announced (area set)
  uint32_t hole = UINT32_MAX;      // the dynamic array's pointer slot in the area, if any
  uint32_t pos = 0;
  bool states = false;             // the input carries state bytes
  uint8_t *area = nullptr;         // where they go (sc.skipped without tracking); null: none
  uint8_t *area_of_obj = nullptr;  // the destination's own state area, even when skipping
  bool no_storage = false;         // the dynamic array's storage could not be had: return 0
  int8_t v = 0;                    // the variant whose fields follow
  uint32_t jump_base = 0, jump = 0;
  uint8_t keep = 0;                // the flags the destination takes

  int32_t left() const { return len - static_cast<int32_t>(pos); }
  bool ok() const { return *err == 0; }

  // Consumes n bytes reported by a decoder that was allowed left() bytes (a
  // failed decoder reports how far it got).  More than it was allowed is
  // refused rather than trusted.
  void took(uint32_t n) {
    if (n > static_cast<uint32_t>(left())) {
      if (ok()) fail(h, err, kEMSGSIZE);
      return;
    }
    pos += n;
  }

  // One state byte, only when input remains (a missing one is no error).
  // Inline: the test is all a decode without state bytes pays per field.
  [[gnu::always_inline]] void state_byte(uint16_t at) {
    if (!states || left() < 1) return;
    area[at] = buf[pos];
    ++pos;
  }
  // Up to N state bytes of this record's area from at on, cut to what
  // remains.  N is the array's bound: when the input holds all of them the
  // copy and the marks are of constant size, which the compiler inlines.
  template <uint32_t N>
  [[gnu::always_inline]] void state_run(uint32_t at) {
    if (!states) return;
    if (left() >= static_cast<int32_t>(N)) [[likely]] {
      std::memcpy(area + at, buf + pos, N);
      pos += N;
    } else {
      state_tail(at);
    }
  }
  // The state bytes of an array that the input cuts short.
  [[gnu::noinline]] void state_tail(uint32_t at) {
    uint32_t have = left() > 0 ? static_cast<uint32_t>(left()) : 0;
    if (have == 0) return;
    std::memcpy(area + at, buf + pos, have);
    pos += have;
  }
  // Up to n state bytes into dst (null: skipped), cut to what remains.
  [[gnu::noinline]] void state_block(uint8_t *dst, uint32_t n) {
    if (!states) return;
    uint32_t have = left() < static_cast<int32_t>(n) ? static_cast<uint32_t>(left()) : n;
    if (have == 0) return;
    if (dst) {
      announce(h, dst, have, db);
      std::memcpy(dst, buf + pos, have);
    }
    pos += have;
  }

  template <Kind K>
  [[gnu::always_inline]] void scalar(void *field) {
    if (left() < static_cast<int32_t>(Prim<K>::wire)) [[unlikely]] {
      fail(h, err, kEMSGSIZE);
      return;
    }
    scalar_in<K>(field);
  }

  // The fields I..I+N-1 of a run, the input checked for all of them by the
  // caller: each value, and with States its state byte after it.  Announced:
  // the caller announced the run's range for all its values.  The input,
  // record and area pointers are held in locals for the run: a store through
  // a byte pointer could alias the decoder's members, which the compiler
  // would otherwise read again after every byte.  False after a failure (pos
  // then at the failing value).
  template <const TypeDesc &T, size_t I, size_t N, bool States, bool Announced>
  [[gnu::always_inline]] bool run_in() {
    const uint8_t *const start = buf;
    const uint8_t *in = start + pos;
    uint8_t *const rec = bytes(obj);
    uint8_t *const states_to = area;
    auto one = [&]<size_t J>() -> bool {
      constexpr const FieldDesc &f = T.fields[I + J];
      using C = typename Prim<f.kind>::C;
      constexpr uint32_t n = Prim<f.kind>::wire;
      C v;
      if constexpr (f.kind == Kind::Boolean) {
        if (*in > 1) [[unlikely]]
          return false;
        v = *in;
      } else {
        std::make_unsigned_t<C> u;
        std::memcpy(&u, in, n);
        v = static_cast<C>(network_order(u));
      }
      if constexpr (Announced)
        std::memcpy(rec + f.offset, &v, sizeof v);
      else
        store<C>(h, db, reinterpret_cast<C *>(rec + f.offset), v);
      in += n;
      if constexpr (States) states_to[f.state] = *in++;
      return true;
    };
    bool done = [&]<size_t... J>(std::index_sequence<J...>) {
      return (one.template operator()<J>() && ...);
    }(std::make_index_sequence<N>{});
    pos = static_cast<uint32_t>(in - start);
    if (!done) fail(h, err, kEBADMSG);
    return done;
  }

  // The value at pos, room checked by the caller; false after a failure.
  // Announced: the caller announced the field's bytes already.
  template <Kind K, bool Announced = false>
  [[gnu::always_inline]] bool scalar_in(void *field) {
    using C = typename Prim<K>::C;
    constexpr uint32_t n = Prim<K>::wire;
    C v;
    if constexpr (K == Kind::Boolean) {
      if (buf[pos] > 1) [[unlikely]] {
        fail(h, err, kEBADMSG);
        return false;
      }
      v = buf[pos];
    } else {
      std::make_unsigned_t<C> u;
      std::memcpy(&u, buf + pos, n);
      v = static_cast<C>(network_order(u));
    }
    if constexpr (Announced)
      std::memcpy(field, &v, sizeof v);
    else
      store<C>(h, db, static_cast<C *>(field), v);
    pos += n;
    return true;
  }

  // A MAC address, IP address or time at pos: validated whole, then stored.
  template <Kind K>
  [[gnu::always_inline]] void object_in(void *field) {
    using C = typename Prim<K>::C;
    const uint8_t *in = buf + pos;
    const int32_t have = left();
    C v{};
    uint32_t n;
    if constexpr (K == Kind::MacAddr) {
      n = 6;
      if (have < 6) [[unlikely]]
        return fail(h, err, kEMSGSIZE);
      std::memcpy(v.octet, in, 6);
    } else if constexpr (K == Kind::IpAddress) {
      if (have < 1) [[unlikely]]
        return fail(h, err, kEMSGSIZE);
      v.family = in[0];
      if (v.family != MOX_IP_NONE && v.family != MOX_IP_V4 && v.family != MOX_IP_V6) [[unlikely]]
        return fail(h, err, kEBADMSG);
      n = 1 + ip_len(v.family) + (v.family == MOX_IP_V6 ? 4 : 0);
      if (have < static_cast<int32_t>(n)) [[unlikely]]
        return fail(h, err, kEMSGSIZE);
      std::memcpy(v.addr, in + 1, ip_len(v.family));
      if (v.family == MOX_IP_V6) v.scope_id = get_be32(in + 17);
    } else {
      n = 12;
      if (have < 12) [[unlikely]]
        return fail(h, err, kEMSGSIZE);
      v.sec = static_cast<int64_t>(network_order(load<uint64_t>(in)));
      v.usec = get_be32(in + 8);
      if (v.usec >= 1000000u) [[unlikely]]
        return fail(h, err, kEBADMSG);
    }
    store<C>(h, db, static_cast<C *>(field), v);
    pos += n;
  }

  bool begin();   // the header up to the jump; false: return pos
  // Announces the area's size bytes but the dynamic array's pointer slot,
  // which the decode stores (announced on its own) only when it replaces
  // the per-element block.
  void announce_area(uint32_t size) {
    if (hole >= size) return announce(h, area, size, db);
    const uint32_t after = hole + static_cast<uint32_t>(sizeof(uint8_t *));
    if (hole > 0) announce(h, area, hole, db);
    if (after < size) announce(h, area + after, size - after, db);
  }
  uint32_t end(); // the skipped tail, the variant, flags and type-info reference

  template <const TypeDesc &T, size_t I>
  void field() {
    constexpr const FieldDesc &f = T.fields[I];
    uint8_t *base = bytes(obj) + f.offset;
    auto value = [&](void *field, uint32_t e) {
      const uint8_t *in = buf + pos;
      if constexpr (f.kind == Kind::Record)
        // An embedded record's state area lies in this record's, where
        // initialize placed it.
        took(decode_of<*f.record>(
            h, db, in, field, left(), in_place, err, sc,
            area_of_obj
                ? area_of_obj + f.state_area + e * f.record->state_size_for(f.record->highest)
                : nullptr,
            area ? &span : nullptr));
      else if constexpr (f.kind == Kind::Enum)
        took(enum_unmarshal(*f.enumd, h, db, in, static_cast<mox_enum_obj_t *>(field), left(),
                            in_place, err));
      else if constexpr (inline_scalar(f.kind))
        scalar<f.kind>(field);
      else if constexpr (inline_unmarshal(f.kind))
        object_in<f.kind>(field);
      else
        took(Prim<f.kind>::unmarshal(h, db, in, static_cast<typename Prim<f.kind>::C *>(field),
                                     left(), in_place, err));
    };
    if constexpr (f.shape == Shape::Single) {
      value(base, 0);
      if (ok()) state_byte(f.state);
    } else if constexpr (f.shape == Shape::Array) {
      if constexpr (PrimArray<f.kind>::bulk) {
        using C = typename Prim<f.kind>::C;
        static_assert(f.size == sizeof(C));
        took(PrimArray<f.kind>::unmarshal(h, db, buf + pos, reinterpret_cast<C *>(base), f.bound,
                                          left(), in_place, err));
      } else {
        for (uint32_t e = 0; e < f.bound && ok(); ++e) value(base + e * f.size, e);
      }
      if (!ok()) return;
      state_byte(f.state);
      state_run<f.bound>(f.state + 1u);
    } else if constexpr (f.shape == Shape::Dynamic) {
      dynamic<T, I>();
    } else {
      list<T, I>();
    }
  }

  // --- the dynamic array ---------------------------------------------------

  void destroy_elements(const FieldDesc &f, uint8_t *block, uint32_t count) {
    DynamicBlock lay(f, sc.tracked);
    for (uint32_t e = 0; e < count; ++e)
      record_destroy_internal(*f.record, h, db, lay.element(block, e), 0);
  }

  uint8_t **state_pointer(const FieldDesc &f) {
    return area_of_obj ? reinterpret_cast<uint8_t **>(area_of_obj + f.state_pointer) : nullptr;
  }

  void release_state_block(const FieldDesc &f) {
    uint8_t **sp = state_pointer(f);
    if (sp == nullptr || *sp == nullptr) return;
    h->record_free(h->record_heap, db, *sp);
    store<uint8_t *>(h, db, sp, nullptr);
  }

  // The storage of the dynamic array for count elements, initialized; null
  // when the decode ends (err or no_storage set, or count 0).
  uint8_t *dynamic_storage(const FieldDesc &f, const DynamicBlock &lay, uint8_t count,
                           uint8_t *&per);

  template <const TypeDesc &T, size_t I>
  void dynamic() {
    constexpr const FieldDesc &f = T.fields[I];
    if (left() < 1) return fail(h, err, kEMSGSIZE);
    uint8_t count = buf[pos++];
    uint8_t *per = nullptr;
    DynamicBlock lay(f, sc.tracked);
    uint8_t *block = dynamic_storage(f, lay, count, per);
    if (block == nullptr) return;
    // Each element's state area is where dynamic_storage placed it: handed
    // down, so that the element's decode need not ask the runtime for it.
    for (uint32_t e = 0; e < count && ok(); ++e)
      took(decode_of<*f.record>(h, db, buf + pos, block + e * f.size, left(), in_place, err, sc,
                                lay.state ? lay.area(block, count, e) : nullptr, nullptr));
    if (!ok()) return;
    state_byte(f.state);
    state_block(sc.tracked ? per : nullptr, count);
  }

  // Releases everything the destination owns (strings, the dynamic array,
  // list entries), nested records included: a record decoded as carrying no
  // fields keeps nothing that its destroy, which skips the fields of such a
  // record, would not reach.
  void release_content(const TypeDesc &rt, void *rec) {
    if (mox_get_instance_variant(rec, 1, 0) < 0) return;  // holds nothing reachable
    for (uint16_t i = 0; i < rt.field_count; ++i) {
      const FieldDesc &f = rt.fields[i];
      uint8_t *base = bytes(rec) + f.offset;
      if (f.shape == Shape::List) {
        list_destroy_entries(rt, i, h, db, rec);
      } else if (f.shape == Shape::Dynamic) {
        uint8_t **block_at = dynamic_block(f, rec);
        if (*block_at != nullptr) {
          destroy_elements(f, *block_at, dynamic_count(rt, f, rec));
          h->record_free(h->record_heap, db, *block_at);
          store<uint8_t *>(h, db, block_at, nullptr);
        }
        uint8_t *count_at = bytes(rec) + rt.fields[f.count_field].offset;
        if (*count_at != 0) store<uint8_t>(h, db, count_at, 0);
        if (uint8_t *a = state_area(rt, h, db, rec)) {
          uint8_t **sp = reinterpret_cast<uint8_t **>(a + f.state_pointer);
          if (*sp != nullptr) {
            h->record_free(h->record_heap, db, *sp);
            store<uint8_t *>(h, db, sp, nullptr);
          }
        }
      } else if (f.kind == Kind::Record) {
        for (uint32_t e = 0; e < (f.shape == Shape::Array ? f.bound : 1u); ++e)
          release_content(*f.record, base + e * f.size);
      } else if (f.kind == Kind::VString) {
        for (uint32_t e = 0; e < (f.shape == Shape::Array ? f.bound : 1u); ++e)
          kind_ops(f.kind).destroy_internal(h, db, base + e * f.size, 0);
      }
    }
  }

  // --- the list -----------------------------------------------------------

  // The entry count, checked against the input; false: the decode ends.
  bool list_count(uint32_t &count) {
    took(_mox_list_len_unmarshal(h, db, buf + pos, &count, left(), err));
    if (!ok()) return false;
    if (static_cast<uint64_t>(count) * kMinRecordWire > static_cast<uint64_t>(left())) {
      fail(h, err, kEMSGSIZE);
      return false;
    }
    return true;
  }

  template <const TypeDesc &T, size_t I>
  void list() {
    constexpr const FieldDesc &f = T.fields[I];
    constexpr const TypeDesc &et = *f.record;
    uint32_t count = 0;
    if (!list_count(count)) return;
    const orva_list_head_t *head = list_head(f, obj);
    if (in_place && head->count == count) {
      for (void *e = list_first(obj, f); e != nullptr && ok(); e = list_next(obj, f, e, et)) {
        took(decode_of<et>(h, db, buf + pos, e, left(), in_place, err, sc, nullptr, nullptr));
        if (!ok())
          trace_at(static_cast<uint16_t>(f.msg + 1), std::strerror(static_cast<int>(*err)));
      }
    } else {
      // In place, the entries of a list of another length are replaced.
      // Without the in-place flag the destination counts as fresh: the
      // decoded entries are appended to whatever it holds.
      if (in_place && (head->count != 0 || list_first(obj, f) != nullptr))
        list_destroy_entries(T, I, h, db, obj);
      for (uint32_t n = 0; n < count && ok(); ++n) {
        void *entry = record_new(et, h, db);
        if (entry == nullptr) {
          fail(h, err, kENOMEM);
          return;
        }
        took(decode_of<et>(h, db, buf + pos, entry, left(), 0, err, sc, nullptr, nullptr));
        if (ok()) list_set_last(T, I, h, db, obj, entry, err);
        if (!ok()) record_destroy_internal(et, h, db, entry, 1);  // not linked: still ours
      }
    }
    if (ok()) state_byte(f.state);
  }
};

uint8_t *Decoder::dynamic_storage(const FieldDesc &f, const DynamicBlock &lay, uint8_t count,
                                  uint8_t *&per) {
  const TypeDesc &et = *f.record;
  uint8_t *count_at = bytes(obj) + t.fields[f.count_field].offset;
  uint8_t **block_at = dynamic_block(f, obj);
  uint32_t old = *count_at;
  // Every element takes at least a header: refuse a count the input cannot hold
  // before anything is released or allocated.
  if (static_cast<uint64_t>(count) * kMinRecordWire > static_cast<uint64_t>(left())) {
    fail(h, err, kEMSGSIZE);
    return nullptr;
  }
  uint8_t *block = *block_at;
  bool reuse = in_place && block != nullptr && count == old && count != 0;
  if (block != nullptr) destroy_elements(f, block, old);
  if (reuse) {
    announce(h, block, lay.size(count), db);
    std::memset(block, 0, lay.size(count));
  } else if (block != nullptr) {
    h->record_free(h->record_heap, db, block);
    store<uint8_t *>(h, db, block_at, nullptr);
    block = nullptr;
  }
  if (*count_at != 0) store<uint8_t>(h, db, count_at, 0);  // nothing is held now
  if (count == 0) {
    release_state_block(f);
    return nullptr;
  }
  if (!reuse) {
    block = static_cast<uint8_t *>(h->record_alloc(h->record_heap, db, lay.size(count)));
    if (block == nullptr) {
      fail(h, err, kENOMEM);
      no_storage = true;
      return nullptr;
    }
    memset_cr(block, 0, lay.size(count));  // nobody can see the block yet
    store<uint8_t *>(h, db, block_at, block);
  }
  if (uint8_t **sp = state_pointer(f)) {
    if (reuse && *sp != nullptr) {
      per = *sp;
    } else {
      release_state_block(f);
      per = static_cast<uint8_t *>(h->record_alloc(h->record_heap, db, count));
      if (per == nullptr) {
        fail(h, err, kENOMEM);
        no_storage = true;
        return nullptr;
      }
      memset_cr(per, 0, count);
      store<uint8_t *>(h, db, sp, per);
    }
  }
  // Initialize every element before decoding any, so that the array can be
  // destroyed whatever element the decoding stops at.
  for (uint32_t e = 0; e < count; ++e) {
    uint8_t *elem = lay.element(block, e);
    uint8_t *elem_area = lay.state ? lay.area(block, count, e) : nullptr;
    if (elem_area)
      moxlib_update_sttr_offset(h, db, elem, static_cast<uint32_t>(elem_area - elem));
    record_initialize(et, h, db, elem, et.ti, 1, 0, MOX_FLAG_NESTED, elem_area, err);
    if (!ok()) {
      destroy_elements(f, block, e);
      h->record_free(h->record_heap, db, block);
      store<uint8_t *>(h, db, block_at, nullptr);
      return nullptr;
    }
  }
  store<uint8_t>(h, db, count_at, count);
  return block;
}

bool Decoder::begin() {
  // The caller checked the entry (error slot, arguments) once for the call.
  // Variant byte, flag byte, (ra-data block), jump: read here without a
  // runtime call per item.
  if (left() <= 0) return fail(h, err, kEMSGSIZE), false;
  v = static_cast<int8_t>(buf[pos++]);
  if (left() < 1) return fail(h, err, kEMSGSIZE), false;
  uint8_t wire_flags = buf[pos++];
  if (wire_flags & MOX_FLAG_RA_DATA) {
    mox_ra_data_t ra{};
    uint8_t ra_flag = 0;
    took(_mox_instance_ra_data_unmarshal(h, db, buf + pos, &ra, &ra_flag, left(), err));
  }
  if (!ok()) return false;

  mox_obj_header_t *hd = header(obj);
  int32_t most = hd->storage_variant > t.highest ? t.highest : hd->storage_variant;
  if (v > most) v = static_cast<int8_t>(most);

  jump_base = pos;
  if (left() < 4) return fail(h, err, kEMSGSIZE), false;
  jump = get_be32(buf + pos);
  pos += 4;

  // Only the two flags the wire defines reach the destination.
  keep = wire_flags & kWireFlags;
  constexpr uint8_t kPlaced = MOX_FLAG_STATE_TRACKED | MOX_FLAG_STTR_OFFSET_HELD;
  area_of_obj = placed && (hd->flags & kPlaced) == kPlaced ? placed : state_area(t, h, db, obj);
  states = (wire_flags & MOX_FLAG_STATE_TRACKED) != 0;
  if (sc.tracked) {
    if ((hd->flags & MOX_FLAG_STATE_TRACKED) == 0) integrity_abort(t, Msg::UnmarshalMismatch);
    if (states) area = area_of_obj;
    keep |= MOX_FLAG_STATE_TRACKED;
    if (area) {
      uint32_t size = t.state_size_for(hd->storage_variant);
      span = {area, area + size};
      if (outer == nullptr || !outer->covers(area, size)) announce_area(size);
    }
  } else {
    keep &= static_cast<uint8_t>(~MOX_FLAG_STATE_TRACKED);
    area = sc.skipped;  // state bytes read are dropped: the record keeps none
  }
  if (v >= 0) {
    // A destination that carried no fields (an earlier decode of a negative
    // variant) takes the new variant before its fields are decoded: the list
    // appends on the way refuse a record of negative variant.  Such a record
    // holds nothing, so destroy may walk its fields whatever the decode does.
    if (hd->variant < 0) store<int8_t>(h, db, &hd->variant, v);
  } else {
    release_content(t, obj);
  }
  return true;
}

uint32_t Decoder::end() {
  mox_obj_header_t *hd = header(obj);
  // The tail of a newer variant is skipped, as far as the input reaches.
  if (ok()) {
    uint64_t to = static_cast<uint64_t>(jump_base) + jump;
    if (to > static_cast<uint64_t>(len)) to = static_cast<uint64_t>(len);
    if (to > pos) {
      trace(t, Msg::UnmarshalSkip, pos, jump_base, jump);
      pos = static_cast<uint32_t>(to);
    }
  }

  // The variant is stored even after a failure: it tells destroy which
  // fields the record now holds.
  if (hd->variant != v) store<int8_t>(h, db, &hd->variant, v);
  if ((hd->flags | keep) != hd->flags) store<uint8_t>(h, db, &hd->flags, hd->flags | keep);
  // Storage for the dynamic array that could not be allocated ends the
  // decode with nothing consumed.
  if (no_storage) return 0;
  if (!ok()) return pos;
  // The type-info word, or the first word of the block it points to.
  void **slot = (hd->flags & MOX_FLAG_TINFO_BLOCK) ? static_cast<void **>(hd->tinfo) : &hd->tinfo;
  if (slot == nullptr) return pos;
  if (!sc.has(t)) sc.keep(t, {.ti = placed_type_info(h, db, t.ti)});
  store<void *>(h, db, slot, sc.value[t.index].ti);
  return pos;
}

// The position of the dynamic array's per-element state pointer in T's
// state area, or UINT32_MAX when T has no dynamic array.
template <const TypeDesc &T>
consteval uint32_t pointer_slot() {
  for (uint32_t i = 0; i < T.field_count; ++i)
    if (T.fields[i].shape == Shape::Dynamic) return T.fields[i].state_pointer;
  return UINT32_MAX;
}

// Out of line also for the top-level record: inlined into wire_unmarshal,
// its decode shared a frame with the budget scope and the compiler kept less
// of the decoder in registers (2 % more instructions for the client record).
template <const TypeDesc &T>
[[gnu::noinline]] uint32_t decode_of(mox_handle_t *h, uint32_t db, const uint8_t *buf,
                                     void *obj, int32_t len, uint32_t in_place, uint32_t *err,
                                     Scope &sc, uint8_t *placed, const AreaSpan *outer) {
  Decoder de{T, h, db, buf, len, in_place, err, obj, sc, placed, outer};
  de.hole = pointer_slot<T>();
  if (!de.begin()) return de.pos;
  if (de.v >= 0) {
    each_field<T>([&]<size_t I>() {
      constexpr const FieldDesc &f = T.fields[I];
      constexpr size_t head = run_head<T, decode_inline>(I);
      constexpr size_t n = run_length<T, decode_inline>(head);
      if constexpr (decode_inline(f) && n >= 2) {
        if constexpr (head == I) {
          if (f.variant > de.v || !de.ok()) return;
          // Room for the whole run: one input check, and, when the fields
          // lie back to back, one announcement of all their bytes.
          auto each = [&]<size_t... J>(std::index_sequence<J...>) {
            constexpr uint32_t total = run_bytes<T, I, n>();
            constexpr bool solid = run_solid<T, I, n>();
            uint8_t *first = bytes(obj) + f.offset;
            if (de.states && de.left() >= static_cast<int32_t>(total)) {
              if constexpr (solid) announce(h, first, run_span<T, I, n>(), db);
              de.template run_in<T, I, n, true, solid>();
            } else if (solid && !de.states &&
                       de.left() >= static_cast<int32_t>(run_values<T, I, n>())) {
              announce(h, first, run_span<T, I, n>(), db);
              de.template run_in<T, I, n, false, true>();
            } else {
              ((de.ok() ? de.template field<T, I + J>() : void()), ...);
            }
          };
          each(std::make_index_sequence<n>{});
        }  // the other fields of a run are read with its head
      } else if constexpr (travels(f)) {
        if (f.variant <= de.v && de.ok()) de.field<T, I>();
      }
    });
  }
  return de.end();
}

// ---------------------------------------------------------------------------
// Decode budget
// ---------------------------------------------------------------------------

// While a top-level decode runs, the handle's record_alloc is wrapped: every
// block that the decode and the decodes nested in it request (records, list
// entries, the dynamic array's blocks, strings) is counted against the
// handle's decode budget, and a request past it is refused as a full heap
// refuses it, which every decoder already reports as 12.  A handle belongs to
// one caller for the duration of a call, so the scopes of the decodes under
// way on this thread are found on a thread-local stack.
class BudgetScope {
 public:
  BudgetScope(mox_handle_t *h, uint64_t budget) : h_(h), left_(budget) {
    for (BudgetScope *s = top_; s != nullptr; s = s->outer_)
      if (s->h_ == h) return;  // nested in a decode of this handle: that one counts
    if (h->record_alloc == nullptr) return;
    inner_ = h->record_alloc;
    outer_ = top_;
    top_ = this;
    h->record_alloc = alloc;
  }
  ~BudgetScope() {
    if (inner_ == nullptr) return;
    h_->record_alloc = inner_;
    top_ = outer_;
  }
  BudgetScope(const BudgetScope &) = delete;
  BudgetScope &operator=(const BudgetScope &) = delete;

  // True for the outermost scope of the handle once a request was refused.
  bool exceeded() const { return exceeded_; }

 private:
  static void *alloc(void *heap, uint32_t db, uint32_t size) {
    BudgetScope *s = top_;
    while (s->outer_ != nullptr && s->h_->record_heap != heap) s = s->outer_;
    if (size > s->left_) {
      s->exceeded_ = true;
      return nullptr;
    }
    void *p = s->inner_(heap, db, size);
    if (p != nullptr) s->left_ -= size;
    return p;
  }

  static thread_local BudgetScope *top_;
  mox_handle_t *h_;
  uint64_t left_;
  mox_alloc_fn inner_ = nullptr;  // the wrapped hook; null for a nested scope
  BudgetScope *outer_ = nullptr;
  bool exceeded_ = false;
};

thread_local BudgetScope *BudgetScope::top_ = nullptr;

}  // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

template <const TypeDesc &T>
uint32_t wire_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *obj, int32_t len,
                        uint32_t in_place, uint32_t *err) {
  if (!starts(h, err, len, obj, buf)) return 0;
  Scope sc(tracking(h, T) == Tracking::On);
  BudgetScope budget(h, mox_get_decode_budget(h));
  uint32_t n = decode_of<T>(h, db, buf, obj, len, in_place, err, sc, nullptr, nullptr);
  if (budget.exceeded()) {
    if (*err == 0) fail(h, err, kENOMEM);
    trace(T, Msg::DecodeBudget);
  }
  return n;
}

// One instantiation per type; the run-time entry points below reach them
// through a table in catalogue order (TypeDesc::index).
#define ORVA_WIRE_INSTANCES(n)                                                                    template uint32_t wire_len<k_##n>(mox_handle_t *, uint32_t, const void *);                      template uint32_t wire_marshal<k_##n>(mox_handle_t *, uint32_t, uint8_t *, const void *,                                              int32_t, uint32_t, uint32_t *);                           template uint32_t wire_unmarshal<k_##n>(mox_handle_t *, uint32_t, const uint8_t *, void *,                                              int32_t, uint32_t, uint32_t *);
ORVA_EACH_TYPE(ORVA_WIRE_INSTANCES)
#undef ORVA_WIRE_INSTANCES

namespace {

struct WireOps {
  decltype(&wire_len<k_qos_client_data_t>) len;
  decltype(&wire_marshal<k_qos_client_data_t>) marshal;
  decltype(&wire_unmarshal<k_qos_client_data_t>) unmarshal;
};
#define ORVA_WIRE_ENTRY(n) {&wire_len<k_##n>, &wire_marshal<k_##n>, &wire_unmarshal<k_##n>},
constexpr WireOps kWire[] = {ORVA_EACH_TYPE(ORVA_WIRE_ENTRY)};
#undef ORVA_WIRE_ENTRY

}  // namespace

uint32_t record_len(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj) {
  return kWire[t.index].len(h, db, obj);
}

uint32_t record_marshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, uint8_t *buf,
                        const void *obj, int32_t buflen, uint32_t domain_check, uint32_t *err) {
  return kWire[t.index].marshal(h, db, buf, obj, buflen, domain_check, err);
}

uint32_t record_unmarshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, const uint8_t *buf,
                          void *obj, int32_t len, uint32_t in_place, uint32_t *err) {
  return kWire[t.index].unmarshal(h, db, buf, obj, len, in_place, err);
}

uint32_t record_clone(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *src, void **dst,
                      uint8_t *buf, int32_t buflen, bool fresh, uint32_t *err) {
  if (fresh && dst != nullptr) *dst = nullptr;
  if (!enter(h, err)) return *err;
  if (dst == nullptr || buf == nullptr || src == nullptr) {
    fail(h, err, kENOENT);
    return *err;
  }
  uint32_t n = record_marshal(t, h, db, buf, src, buflen, 0, err);
  if (*err != 0) return *err;
  if (*dst == nullptr) {
    *dst = record_new(t, h, db);
    if (*dst == nullptr) {
      fail(h, err, kENOMEM);
      return *err;
    }
  } else if (*dst != t.placeholder) {
    // The read-back appends list entries to what a list holds: an existing
    // destination's own entries are destroyed first (the source is already
    // read), so that it ends up a copy of the source.
    lists_in_record(t, h, db, *dst, ListAction::DestroyEntries);
  }
  {
    // The input is the encoding of a record already in memory: it cannot
    // amplify, so the copy is not held to the decode budget.
    BudgetScope unbounded(h, UINT64_MAX);
    record_unmarshal(t, h, db, buf, *dst, static_cast<int32_t>(n), 0, err);
  }
  if (*err != 0) {
    // A destination nested in a parent (an element of the dynamic array) has
    // no storage of its own to release.
    uint32_t own_storage = (header(*dst)->flags & MOX_FLAG_NESTED) ? 0 : 1;
    if (*dst != t.placeholder) record_destroy_internal(t, h, db, *dst, own_storage);
    *dst = nullptr;
  }
  return *err;
}

}  // namespace orva
