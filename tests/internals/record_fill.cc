#include "record_fill.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "frame/conventions.h"
#include "frame/kinds.h"
#include "serial/enums.h"
#include "types/accessors.h"
#include "types/class_map_list.h"
#include "types/lifecycle.h"

namespace orva_test {

namespace {

using orva::FieldDesc;
using orva::Kind;
using orva::Shape;
using orva::TypeDesc;

// A small deterministic generator (splitmix64).
struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
};

uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }

std::string text_of(Rng &r) {
  static const uint32_t lengths[] = {0, 1, 5, 17, 40, 90};
  uint32_t n = lengths[r.below(6)];
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + r.below(26)));
  return s;
}

void set_value(const FieldDesc &f, mox_handle_t *h, uint32_t db, void *field, Rng &r) {
  uint32_t err = 0;
  if (f.kind == Kind::Enum) {
    orva::enum_set_value(*f.enumd, h, db, static_cast<mox_enum_obj_t *>(field),
                         static_cast<uint32_t>(scalar_value(f, r.next())), &err);
  } else if (orva::kind_ops(f.kind).scalar) {
    orva::kind_ops(f.kind).set_value(h, db, field, scalar_value(f, r.next()), &err);
  } else if (f.kind == Kind::MacAddr) {
    uint8_t mac[6];
    for (uint8_t &o : mac) o = static_cast<uint8_t>(r.next());
    mox_mac_addr_set_value(h, db, static_cast<mox_mac_addr_t *>(field), mac, &err);
  } else if (f.kind == Kind::VString) {
    mox_vstring_set_value(h, db, static_cast<mox_vstring_t *>(field), text_of(r).c_str(), &err);
  } else if (f.kind == Kind::IpAddress) {
    char ip[64];
    uint32_t pick = r.below(3);  // 0: stays "no address"
    if (pick == 1)
      std::snprintf(ip, sizeof ip, "10.%u.%u.%u", r.below(256), r.below(256), r.below(256));
    else if (pick == 2)
      std::snprintf(ip, sizeof ip, "2001:db8::%x:%x", r.below(0x10000), r.below(0x10000));
    if (pick) ip_address_set_value(h, db, static_cast<ip_address_t *>(field), ip, &err);
  } else if (f.kind == Kind::CalendarTime) {
    calendar_time_set_value(h, db, static_cast<calendar_time_t *>(field),
                            static_cast<int64_t>(r.next() >> 20) - (int64_t{1} << 42),
                            r.below(1000000), &err);
  }
  EXPECT_EQ(err, 0u) << "setting " << f.name;
}

void fill_values(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, Rng &r);

// Two to four elements of the dynamic array (copied in, the source then
// destroyed) or entries of a list (appended, then owned by the list).
void fill_elements(const TypeDesc &t, uint16_t i, mox_handle_t *h, uint32_t db, void *obj, Rng &r) {
  const TypeDesc &et = *t.fields[i].record;
  const bool dynamic = t.fields[i].shape == Shape::Dynamic;
  for (uint32_t e = 0, n = 2 + r.below(3); e < n; ++e) {
    void *x = orva::record_create(et, h, db);
    ASSERT_NE(x, nullptr);
    fill_values(et, h, db, x, r);
    uint32_t err = 0;
    if (dynamic) {
      orva::dynamic_set_at(t, i, h, db, obj, e, x, false, &err);
      orva::record_destroy_internal(et, h, db, x, 1);
    } else {
      orva::list_set_last(t, i, h, db, obj, x, &err);
    }
    EXPECT_EQ(err, 0u) << "element " << e << " of " << t.fields[i].name;
  }
}

void fill_values(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, Rng &r) {
  int32_t v = mox_get_instance_variant(obj, 1, 0);
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.variant > v || (f.flags & orva::kFieldCount)) continue;
    if (f.shape == Shape::Dynamic || f.shape == Shape::List) {
      fill_elements(t, i, h, db, obj, r);
      continue;
    }
    uint32_t n = f.shape == Shape::Array ? f.bound : 1;
    for (uint32_t e = 0; e < n; ++e) {
      void *field = bytes(obj) + f.offset + e * f.size;
      if (f.kind == Kind::Record)
        fill_values(*f.record, h, db, field, r);
      else
        set_value(f, h, db, field, r);
    }
  }
}

uint8_t state_value(Rng &r) { return static_cast<uint8_t>(r.below(4)); }

// Every state byte through the state-flag operations: the field's own (or
// whole) byte, the element bytes, then the nested records' own bytes.
void fill_state_bytes(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, Rng &r) {
  if (orva::state_area(t, h, db, obj) == nullptr) return;
  int32_t v = mox_get_instance_variant(obj, 1, 0);
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.state == orva::kNoState || f.variant > v) continue;
    uint32_t err = 0;
    orva::field_state_set(t, i, h, db, obj, state_value(r), &err);
    uint32_t n = 0;
    uint8_t *first = bytes(obj) + f.offset;
    if (f.shape == Shape::Array) n = f.bound;
    if (f.shape == Shape::Dynamic) {
      n = bytes(obj)[t.fields[f.count_field].offset];
      first = *reinterpret_cast<uint8_t **>(first);
    }
    for (uint32_t e = 0; e < n; ++e)
      orva::field_state_set_at(t, i, h, db, obj, e, state_value(r), &err);
    EXPECT_EQ(err, 0u) << "state of " << f.name;
    if (f.kind != Kind::Record) continue;
    if (f.shape == Shape::List) {
      for (void *e = orva::list_first(obj, f); e != nullptr;
           e = orva::list_next(obj, f, e, *f.record))
        fill_state_bytes(*f.record, h, db, e, r);
      continue;
    }
    for (uint32_t e = 0; e < (f.shape == Shape::Single ? 1 : n); ++e)
      fill_state_bytes(*f.record, h, db, first + e * f.size, r);
  }
}

}  // namespace

uint64_t scalar_value(const FieldDesc &f, uint64_t r) {
  switch (f.kind) {
    case Kind::U8: return r & 0xFF;
    case Kind::U16:
    case Kind::I16: return r & 0xFFFF;
    case Kind::U32: return r & 0xFFFFFFFF;
    case Kind::Boolean: return r & 1;
    case Kind::EnmClientType: return r % ENM_CLIENT_TYPE_COUNT;
    case Kind::EnmRadioBand: return 1 + r % (ENM_RADIO_BAND_COUNT - 1);
    case Kind::Enum: return r % f.enumd->members_at_variant[0];
    default: return r;
  }
}

void fill_record(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t seed) {
  Rng r{seed * 0x100000001B3ull + 1};
  fill_values(t, h, db, obj, r);
  fill_state_bytes(t, h, db, obj, r);
}

}  // namespace orva_test
