// The comparison engine: one total order over the records of every type,
// field by field in declaration order.  It reads the records directly, takes
// no handle, allocates nothing, and calls out only for the runtime's object
// kinds; scalars, module enumerations and scalar arrays are compared inline.
#include "types/compare.h"

#include <cstddef>
#include <cstring>

#include "frame/kinds.h"
#include "mox/runtime.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "types/class_map_list.h"

namespace orva {

namespace {

const uint8_t *bytes(const void *p) { return static_cast<const uint8_t *>(p); }

template <class T>
T load(const uint8_t *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
int32_t order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// One value of a primitive kind or a module enumeration.
int32_t compare_value(const FieldDesc &f, const uint8_t *a, const uint8_t *b) {
  switch (f.kind) {
    case Kind::U8:
      return order(load<uint8_t>(a), load<uint8_t>(b));
    case Kind::U16:
      return order(load<uint16_t>(a), load<uint16_t>(b));
    case Kind::U32:
      return order(load<uint32_t>(a), load<uint32_t>(b));
    case Kind::U64:
      return order(load<uint64_t>(a), load<uint64_t>(b));
    case Kind::I16:
      return order(load<int16_t>(a), load<int16_t>(b));
    case Kind::Enum: {
      // The difference of the member values, in 32-bit arithmetic.
      uint32_t va = load<uint32_t>(a + offsetof(mox_enum_obj_t, value));
      uint32_t vb = load<uint32_t>(b + offsetof(mox_enum_obj_t, value));
      return static_cast<int32_t>(va - vb);
    }
    case Kind::Record:
      return 0;  // handled by the caller
    default:
      return kind_ops(f.kind).compare(a, b);
  }
}

bool is_scalar(Kind k) {
  switch (k) {
    case Kind::U8:
    case Kind::U16:
    case Kind::U32:
    case Kind::U64:
    case Kind::I16:
      return true;
    default:
      return false;
  }
}

// The elements of the dynamic array lie at the start of their block, one
// after the other at the element struct's size (so every element is aligned);
// their state areas follow all of them.
int32_t compare_dynamic(const TypeDesc &t, const FieldDesc &f, const void *a, const void *b) {
  uint32_t count = bytes(a)[t.fields[f.count_field].offset];
  if (count != bytes(b)[t.fields[f.count_field].offset]) {
    // The count field comes first in declaration order and has already
    // decided; this is reached only for equal counts.
    return 0;
  }
  const uint8_t *ba = load<const uint8_t *>(bytes(a) + f.offset);
  const uint8_t *bb = load<const uint8_t *>(bytes(b) + f.offset);
  if (count == 0 || ba == bb) return 0;
  if (ba == nullptr || bb == nullptr) return ba == nullptr ? -1 : 1;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t r = record_compare(*f.record, ba + i * f.size, bb + i * f.size);
    if (r != 0) return r;
  }
  return 0;
}

int32_t compare_list(const FieldDesc &f, const void *a, const void *b) {
  const auto *ha = reinterpret_cast<const orva_list_head_t *>(bytes(a) + f.offset);
  const auto *hb = reinterpret_cast<const orva_list_head_t *>(bytes(b) + f.offset);
  int32_t r = order(ha->count, hb->count);
  if (r != 0) return r;
  const TypeDesc &et = *f.record;
  const void *ea = list_first(a, f), *eb = list_first(b, f);
  while (ea != nullptr && eb != nullptr) {
    r = record_compare(et, ea, eb);
    if (r != 0) return r;
    ea = list_next(a, f, ea, et);
    eb = list_next(b, f, eb, et);
  }
  return 0;
}

int32_t compare_field(const TypeDesc &t, const FieldDesc &f, const void *a, const void *b) {
  const uint8_t *fa = bytes(a) + f.offset, *fb = bytes(b) + f.offset;
  switch (f.shape) {
    case Shape::Single:
      if (f.kind == Kind::Record) return record_compare(*f.record, fa, fb);
      return compare_value(f, fa, fb);
    case Shape::Array:
      if (is_scalar(f.kind)) {
        // The whole array as one block of bytes, in memory order.
        return std::memcmp(fa, fb, static_cast<size_t>(f.bound) * f.size);
      }
      for (uint32_t i = 0; i < f.bound; ++i) {
        const uint8_t *ea = fa + i * f.size, *eb = fb + i * f.size;
        int32_t r =
            f.kind == Kind::Record ? record_compare(*f.record, ea, eb) : compare_value(f, ea, eb);
        if (r != 0) return r;
      }
      return 0;
    case Shape::Dynamic:
      return compare_dynamic(t, f, a, b);
    case Shape::List:
      return compare_list(f, a, b);
  }
  return 0;
}

}  // namespace

int32_t record_compare(const TypeDesc &t, const void *a, const void *b) {
  if (a == nullptr || b == nullptr) {
    if (a == b) return 0;
    return a == nullptr ? -1 : 1;
  }
  for (uint16_t i = 0; i < t.field_count; ++i) {
    int32_t r = compare_field(t, t.fields[i], a, b);
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace orva
