// The comparison engine: one total order over the records of every type,
// field by field in declaration order.  It reads the records directly, takes
// no handle, allocates nothing, and calls out only for the runtime's object
// kinds; scalars, module enumerations and scalar arrays are compared inline.
// Instantiated per type over its descriptor, as the wire engine is.
#include "types/compare.h"

#include <cstddef>
#include <cstring>

#include "catalogue_descriptors.h"
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

constexpr bool is_integer(Kind k) {
  return k == Kind::U8 || k == Kind::U16 || k == Kind::U32 || k == Kind::U64 || k == Kind::I16;
}

// The elements of the dynamic array lie at the start of their block, one
// after the other at the element struct's size (so every element is aligned);
// their state areas follow all of them.
template <const TypeDesc &T, size_t I>
int32_t compare_dynamic(const void *a, const void *b) {
  constexpr const FieldDesc &f = T.fields[I];
  constexpr uint32_t count_at = T.fields[f.count_field].offset;
  uint32_t count = bytes(a)[count_at];
  if (count != bytes(b)[count_at]) {
    // The count field comes first in declaration order and has already
    // decided; this is reached only for equal counts.
    return 0;
  }
  const uint8_t *ba = load<const uint8_t *>(bytes(a) + f.offset);
  const uint8_t *bb = load<const uint8_t *>(bytes(b) + f.offset);
  if (count == 0 || ba == bb) return 0;
  if (ba == nullptr || bb == nullptr) return ba == nullptr ? -1 : 1;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t r = type_compare<*f.record>(ba + i * f.size, bb + i * f.size);
    if (r != 0) return r;
  }
  return 0;
}

template <const TypeDesc &T, size_t I>
int32_t compare_list(const void *a, const void *b) {
  constexpr const FieldDesc &f = T.fields[I];
  const auto *ha = reinterpret_cast<const orva_list_head_t *>(bytes(a) + f.offset);
  const auto *hb = reinterpret_cast<const orva_list_head_t *>(bytes(b) + f.offset);
  int32_t r = order(ha->count, hb->count);
  if (r != 0) return r;
  const void *ea = list_first(a, f), *eb = list_first(b, f);
  while (ea != nullptr && eb != nullptr) {
    r = type_compare<*f.record>(ea, eb);
    if (r != 0) return r;
    ea = list_next(a, f, ea, *f.record);
    eb = list_next(b, f, eb, *f.record);
  }
  return 0;
}

template <const TypeDesc &T, size_t I>
int32_t compare_field(const void *a, const void *b) {
  constexpr const FieldDesc &f = T.fields[I];
  const uint8_t *fa = bytes(a) + f.offset, *fb = bytes(b) + f.offset;
  // One value: integers and module enumerations inline, nested records by
  // their own type's order, the runtime's object kinds by theirs.
  auto value = [&](const uint8_t *x, const uint8_t *y) -> int32_t {
    if constexpr (f.kind == Kind::Record) {
      return type_compare<*f.record>(x, y);
    } else if constexpr (f.kind == Kind::Enum) {
      // The difference of the member values, in 32-bit arithmetic.
      uint32_t vx = load<uint32_t>(x + offsetof(mox_enum_obj_t, value));
      uint32_t vy = load<uint32_t>(y + offsetof(mox_enum_obj_t, value));
      return static_cast<int32_t>(vx - vy);
    } else if constexpr (is_integer(f.kind)) {
      using C = typename Prim<f.kind>::C;
      return order(load<C>(x), load<C>(y));
    } else {
      using C = typename Prim<f.kind>::C;
      return Prim<f.kind>::compare(reinterpret_cast<const C *>(x), reinterpret_cast<const C *>(y));
    }
  };
  if constexpr (f.shape == Shape::Single) {
    return value(fa, fb);
  } else if constexpr (f.shape == Shape::Array && is_integer(f.kind)) {
    // The whole array as one block of bytes, in memory order.
    return std::memcmp(fa, fb, static_cast<size_t>(f.bound) * f.size);
  } else if constexpr (f.shape == Shape::Array) {
    for (uint32_t i = 0; i < f.bound; ++i) {
      int32_t r = value(fa + i * f.size, fb + i * f.size);
      if (r != 0) return r;
    }
    return 0;
  } else if constexpr (f.shape == Shape::Dynamic) {
    return compare_dynamic<T, I>(a, b);
  } else {
    return compare_list<T, I>(a, b);
  }
}

}  // namespace

template <const TypeDesc &T>
int32_t type_compare(const void *a, const void *b) {
  if (a == nullptr || b == nullptr) {
    if (a == b) return 0;
    return a == nullptr ? -1 : 1;
  }
  int32_t r = 0;
  each_field<T>([&]<size_t I>() {
    if (r == 0) r = compare_field<T, I>(a, b);
  });
  return r;
}

// One instantiation per type; record_compare reaches them by type index.
#define ORVA_COMPARE_INSTANCE(n) template int32_t type_compare<k_##n>(const void *, const void *);
ORVA_EACH_TYPE(ORVA_COMPARE_INSTANCE)
#undef ORVA_COMPARE_INSTANCE

namespace {
#define ORVA_COMPARE_ENTRY(n) &type_compare<k_##n>,
constexpr int32_t (*kCompare[])(const void *, const void *) = {ORVA_EACH_TYPE(ORVA_COMPARE_ENTRY)};
#undef ORVA_COMPARE_ENTRY
}  // namespace

int32_t record_compare(const TypeDesc &t, const void *a, const void *b) {
  return kCompare[t.index](a, b);
}

}  // namespace orva
