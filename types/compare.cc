// The comparison engine: a total order over the records of every type, field
// by field in declaration order.  Scalars are compared inline; only runtime
// kinds, nested records and array elements call out.  Nothing is allocated.
#include "types/compare.h"

#include <cstring>

#include "frame/kinds.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "serial/enums.h"
#include "types/class_map_list.h"

namespace orva {

namespace {

template <class T>
int32_t order(const void *a, const void *b) {
  T x, y;
  std::memcpy(&x, a, sizeof(T));
  std::memcpy(&y, b, sizeof(T));
  return x < y ? -1 : (x > y ? 1 : 0);
}

const uint8_t *at(const void *obj, uint32_t offset) {
  return static_cast<const uint8_t *>(obj) + offset;
}

int32_t compare_value(const FieldDesc &f, const void *a, const void *b) {
  switch (f.kind) {
    case Kind::U8:
      return order<uint8_t>(a, b);
    case Kind::U16:
      return order<uint16_t>(a, b);
    case Kind::U32:
      return order<uint32_t>(a, b);
    case Kind::U64:
      return order<uint64_t>(a, b);
    case Kind::I16:
      return order<int16_t>(a, b);
    case Kind::Enum:
      return enum_compare(static_cast<const mox_enum_obj_t *>(a),
                          static_cast<const mox_enum_obj_t *>(b));
    case Kind::Record:
      return record_compare(*f.record, a, b);
    default:
      return kind_ops(f.kind).compare(a, b);
  }
}

bool scalar_block(const FieldDesc &f) {
  return f.kind == Kind::U8 || f.kind == Kind::U16 || f.kind == Kind::U32 || f.kind == Kind::U64;
}

int32_t compare_field(const TypeDesc &t, const FieldDesc &f, const void *a, const void *b) {
  switch (f.shape) {
    case Shape::Single:
      return compare_value(f, at(a, f.offset), at(b, f.offset));
    case Shape::Array:
      if (scalar_block(f)) return std::memcmp(at(a, f.offset), at(b, f.offset), f.bound * f.size);
      for (uint32_t i = 0; i < f.bound; ++i) {
        uint32_t off = f.offset + i * f.size;
        if (int32_t r = compare_value(f, at(a, off), at(b, off))) return r;
      }
      return 0;
    case Shape::Dynamic: {
      // The count field precedes the array and has been compared already.
      uint32_t count = *at(a, t.fields[f.count_field].offset);
      const uint8_t *ea = *reinterpret_cast<const uint8_t *const *>(at(a, f.offset));
      const uint8_t *eb = *reinterpret_cast<const uint8_t *const *>(at(b, f.offset));
      if (ea == nullptr || eb == nullptr) return ea == eb ? 0 : (ea == nullptr ? -1 : 1);
      for (uint32_t i = 0; i < count; ++i) {
        if (int32_t r = record_compare(*f.record, ea + i * f.size, eb + i * f.size)) return r;
      }
      return 0;
    }
    case Shape::List: {
      const orva_list_head_t *ha = reinterpret_cast<const orva_list_head_t *>(at(a, f.offset));
      const orva_list_head_t *hb = reinterpret_cast<const orva_list_head_t *>(at(b, f.offset));
      if (int32_t r = order<uint32_t>(&ha->count, &hb->count)) return r;
      void *x = list_first(a, f), *y = list_first(b, f);
      for (; x != nullptr && y != nullptr;
           x = list_next(a, f, x, *f.record), y = list_next(b, f, y, *f.record)) {
        if (int32_t r = record_compare(*f.record, x, y)) return r;
      }
      return 0;
    }
  }
  return 0;
}

}  // namespace

int32_t record_compare(const TypeDesc &t, const void *a, const void *b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  if (a == b) return 0;
  for (uint16_t i = 0; i < t.field_count; ++i) {
    if (int32_t r = compare_field(t, t.fields[i], a, b)) return r;
  }
  return 0;
}

}  // namespace orva
