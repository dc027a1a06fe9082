// The wire engine over every record type: layouts, round trips in both
// state-tracking modes and across them, variant evolution, truncated and
// corrupt input, short buffers, cloning and allocation behaviour.
#include "serial/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "handle.h"
#include "journal_check.h"
#include "record_fill.h"
#include "trace_capture.h"
#include "types/class_map_list.h"
#include "types/compare.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

using orva::TypeDesc;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kDb = MOX_NO_DB;

const TypeDesc &type_named(const std::string &name) {
  for (uint32_t i = 0; i < orva::kTypeCount; ++i)
    if (name == orva::kTypes[i]->name) return *orva::kTypes[i];
  ADD_FAILURE() << "no type " << name;
  return *orva::kTypes[0];
}

Bytes encode(const TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t check = 1) {
  Bytes out(orva::record_len(t, h, kDb, obj) + 64);
  uint32_t err = 0;
  uint32_t n = orva::record_marshal(t, h, kDb, out.data(), obj, int32_t(out.size()), check, &err);
  EXPECT_EQ(err, 0u) << t.name;
  out.resize(n);
  return out;
}

void *decode(const TypeDesc &t, mox_handle_t *h, const Bytes &in, uint32_t *err, uint32_t *used) {
  void *obj = orva::record_create(t, h, kDb);
  *used = orva::record_unmarshal(t, h, kDb, in.data(), obj, int32_t(in.size()), 0, err);
  return obj;
}

// Allocations a decode into a fresh record must make for obj's content: one
// per string, the dynamic array's element block (and its per-element state
// block when tracked), one per list entry.
uint64_t owned_allocs(const TypeDesc &t, mox_handle_t *h, const void *obj) {
  uint64_t n = 0;
  const uint8_t *base = static_cast<const uint8_t *>(obj);
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const orva::FieldDesc &f = t.fields[i];
    if (f.variant > orva::header(obj)->variant) continue;
    uint32_t count = f.shape == orva::Shape::Array ? f.bound : 1;
    const uint8_t *first = base + f.offset;
    if (f.shape == orva::Shape::Dynamic) {
      count = base[t.fields[f.count_field].offset];
      first = *reinterpret_cast<const uint8_t *const *>(base + f.offset);
      if (count) n += orva::state_area(t, h, kDb, obj) ? 2 : 1;
    }
    if (f.shape == orva::Shape::List) {
      for (void *e = orva::list_first(obj, f); e; e = orva::list_next(obj, f, e, *f.record))
        n += 1 + owned_allocs(*f.record, h, e);
      continue;
    }
    for (uint32_t e = 0; e < count; ++e) {
      if (f.kind == orva::Kind::VString) ++n;
      if (f.kind == orva::Kind::Record) n += owned_allocs(*f.record, h, first + e * f.size);
    }
  }
  return n;
}

// The link words of list heads (first, last) inside a record, nested ones
// included: the list engine hands them to the heap's range check, not to
// write_notify.
void list_links(const TypeDesc &t, const uint8_t *rec, std::vector<const uint8_t *> *out) {
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const orva::FieldDesc &f = t.fields[i];
    if (f.shape == orva::Shape::List) out->push_back(rec + f.offset);
    if (f.kind != orva::Kind::Record || f.shape == orva::Shape::Dynamic) continue;
    for (uint32_t e = 0; e < (f.shape == orva::Shape::Array ? f.bound : 1u); ++e)
      list_links(*f.record, rec + f.offset + e * f.size, out);
  }
}

// The bytes of a record (state area included) whose stores must each be
// announced through write_notify: all but the list heads' link words.
std::vector<Region> announced_bytes(const TypeDesc &t, mox_handle_t *h, void *obj) {
  const auto *p = static_cast<const uint8_t *>(obj);
  const uint8_t *end = p + orva::record_sizeof_internal(t, h, obj, 1, 0);
  std::vector<const uint8_t *> cuts;
  list_links(t, p, &cuts);
  std::vector<Region> out;
  for (const uint8_t *cut : cuts) {
    out.push_back({p, size_t(cut - p), "record"});
    p = cut + 2 * sizeof(void *);
  }
  out.push_back({p, size_t(end - p), "record"});
  return out;
}

std::string hex(const Bytes &b) {
  std::string s;
  char x[4];
  for (uint8_t c : b) std::snprintf(x, sizeof x, "%02x", c), s += x;
  return s;
}

// Runs body(t, i, mode, h) for every type, untracked then tracked.
template <class Body>
void each_type_and_mode(Body body) {
  for (uint32_t i = 0; i < orva::kTypeCount; ++i)
    for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
      const TypeDesc &t = *orva::kTypes[i];
      SCOPED_TRACE(std::string(t.name) + (mode == MOX_STTR_ON ? ", tracked" : ", untracked"));
      ScopedHandle h(mode);
      body(t, i, mode, h);
    }
}

TEST(Wire, ApRadioKeyLayoutInBothModesAndNegativeVariant) {
  for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
    ScopedHandle h(mode);
    const TypeDesc &t = type_named("qos_ap_radio_key_t");
    auto *k = static_cast<qos_ap_radio_key_t *>(orva::record_create(t, h, kDb));
    k->radio_slot_id = 2;
    for (int i = 0; i < 6; ++i) k->ap_mac.octet[i] = uint8_t(0xa0 + i);
    uint8_t *area = orva::state_area(t, h, kDb, k);
    if (area) area[0] = 2, area[1] = 1;
    Bytes b = encode(t, h, k);
    if (mode == MOX_STTR_OFF) {
      EXPECT_EQ(hex(b), "00000000000b02a0a1a2a3a4a5");
    } else {
      EXPECT_EQ(hex(b), "00080000000d0202a0a1a2a3a4a501");
    }
    EXPECT_EQ(orva::record_len(t, h, kDb, k), b.size());
    // Without a record: the header and absent values, never state bytes.
    EXPECT_EQ(orva::record_len(t, h, kDb, nullptr), 13u);
    if (mode == MOX_STTR_ON) {
      // A wire form without state bytes leaves the destination's as they
      // were, and the destination stays marked state-tracked.
      Bytes plain = {0, 0, 0, 0, 0, 0x0b, 7, 1, 2, 3, 4, 5, 6};
      uint32_t err = 0;
      EXPECT_EQ(orva::record_unmarshal(t, h, kDb, plain.data(), k, int32_t(plain.size()), 1, &err),
                plain.size());
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(k->radio_slot_id, 7);
      EXPECT_EQ(area[0], 2);
      EXPECT_EQ(area[1], 1);
      EXPECT_NE(k->flags & MOX_FLAG_STATE_TRACKED, 0);
    }

    // Runtime instance data: an all-zero ra-data block after the flags,
    // which record_len does not count.
    Bytes now = encode(t, h, k);
    k->flags |= MOX_FLAG_RA_DATA;
    Bytes ra = encode(t, h, k);
    k->flags &= ~MOX_FLAG_RA_DATA;
    ASSERT_GT(ra.size(), now.size());
    size_t ra_len = ra.size() - now.size();
    EXPECT_EQ(ra[1], now[1] | MOX_FLAG_RA_DATA);
    EXPECT_EQ(Bytes(ra.begin() + 2, ra.begin() + 2 + ra_len), Bytes(ra_len, 0));
    EXPECT_EQ(Bytes(ra.begin() + 2 + ra_len, ra.end()), Bytes(now.begin() + 2, now.end()));
    uint32_t used = 0, err = 0;
    void *back = decode(t, h, ra, &err, &used);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(used, ra.size());
    EXPECT_NE(orva::header(back)->flags & MOX_FLAG_RA_DATA, 0);
    orva::record_destroy(t, h, kDb, back);

    k->variant = -1;  // not valid in the domain: header only, jump 4
    EXPECT_EQ(hex(encode(t, h, k)), mode == MOX_STTR_OFF ? "ff0000000004" : "ff0800000004");
    EXPECT_EQ(orva::record_len(t, h, kDb, k), 6u);
    orva::record_destroy(t, h, kDb, k);
  }
}

// Each state byte travels right after its field's value: a plain field's
// own byte, an array's whole byte then its element bytes, call_record's whole
// byte then its per-element block, the variant-1 field's byte last.
TEST(Wire, StateBytesFollowTheirFields) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &t = type_named("qos_client_data_t");
  auto *c = static_cast<qos_client_data_t *>(orva::record_create(t, h, kDb));
  fill_record(t, h, kDb, c, 41);  // state bytes 0 to 3
  ASSERT_EQ(c->call_record_index, 2);
  c->bandwidth_alloc = 0x11223344;
  uint8_t *area = orva::state_area(t, h, kDb, c);
  area[232] = 0xa5;                                     // bandwidth_alloc
  area[155] = 0xb1, area[156] = 0xb2, area[157] = 0xb3;  // tclas_set, its elements
  const orva::FieldDesc *cr = nullptr, *band = nullptr;
  for (uint16_t i = 0; i < t.field_count; ++i) {
    if (t.fields[i].shape == orva::Shape::Dynamic) cr = &t.fields[i];
    if (t.fields[i].variant == 1) band = &t.fields[i];
  }
  area[cr->state] = 0xd0;
  uint8_t *per;
  std::memcpy(&per, area + cr->state_pointer, sizeof per);
  per[0] = 0xd1, per[1] = 0xd2;
  area[band->state] = 0xc7;
  std::string w = hex(encode(t, h, c));
  EXPECT_NE(w.find("11223344a5"), std::string::npos);
  EXPECT_NE(w.find("b1b2b3"), std::string::npos);
  EXPECT_NE(w.find("d0d1d2"), std::string::npos);
  EXPECT_EQ(w.substr(w.size() - 2), "c7");
  orva::record_destroy(t, h, kDb, c);
}

// Every type, filled with varied values, both modes and across them: the
// encoding has the length record_len gives and allocates nothing; it decodes
// completely into a fresh record, allocating only what the record holds,
// compares equal and re-encodes to the same bytes (so values and state bytes
// arrived).  Buffer lengths 0 and below are 90 before anything else.
TEST(Wire, RoundTripEveryTypeBothModesAndAcross) {
  each_type_and_mode([](const TypeDesc &t, uint32_t i, uint32_t mode, ScopedHandle &h) {
    void *src = orva::record_create(t, h, kDb);
    fill_record(t, h, kDb, src, i * 7 + mode);
    uint64_t allocs = h.alloc_stats().allocs;
    Bytes b = encode(t, h, src);
    EXPECT_EQ(h.alloc_stats().allocs, allocs);
    EXPECT_EQ(b.size(), orva::record_len(t, h, kDb, src));  // (filled: call_record is never empty)
    uint32_t err = 0, used = 0;
    void *dst = orva::record_create(t, h, kDb);
    for (int32_t n : {0, -1}) {
      uint8_t small[8] = {};
      EXPECT_EQ(orva::record_marshal(t, h, kDb, small, src, n, 1, &err), 0u);
      EXPECT_EQ(err, 90u);
      err = 0;
      EXPECT_EQ(orva::record_unmarshal(t, h, kDb, b.data(), dst, n, 0, &err), 0u);
      EXPECT_EQ(err, 90u);
      err = 0;
    }
    {
      // Every store of the decode, header and state bytes included, is
      // announced before it is made.
      JournalCheck check(h, announced_bytes(t, h, dst));
      allocs = h.alloc_stats().allocs;
      used = orva::record_unmarshal(t, h, kDb, b.data(), dst, int32_t(b.size()), 0, &err);
      EXPECT_EQ(h.alloc_stats().allocs - allocs, owned_allocs(t, h, src));
      EXPECT_TRUE(check.Verify());
    }
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(used, b.size());
    EXPECT_EQ(orva::record_compare(t, src, dst), 0);
    EXPECT_EQ(encode(t, h, dst), b);
    orva::record_destroy(t, h, kDb, dst);

    // Decoded under the other mode: values arrive, state bytes are skipped
    // (tracked wire) or left as they were (untracked wire).
    mox_handle_set_sttr_mode(h, mode == MOX_STTR_ON ? MOX_STTR_OFF : MOX_STTR_ON);
    dst = decode(t, h, b, &err, &used);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(used, b.size());
    EXPECT_EQ(orva::record_compare(t, src, dst), 0);
    EXPECT_EQ(orva::header(dst)->flags & MOX_FLAG_STATE_TRACKED,
              mode == MOX_STTR_ON ? 0 : MOX_FLAG_STATE_TRACKED);
    orva::record_destroy(t, h, kDb, dst);
    mox_handle_set_sttr_mode(h, mode);
    // A missing buffer or record is a missing pointer argument.
    EXPECT_EQ(orva::record_marshal(t, h, kDb, nullptr, src, 8, 1, &err), 0u);
    EXPECT_EQ(err, 2u);
    err = 0;
    EXPECT_EQ(orva::record_unmarshal(t, h, kDb, b.data(), nullptr, 8, 0, &err), 0u);
    EXPECT_EQ(err, 2u);
    orva::record_destroy(t, h, kDb, src);
    EXPECT_EQ(h.live_bytes(), 0u);
  });
}

// Every prefix of every valid encoding decodes to an error or to a record,
// never reads past its end, and leaves a record that destroys without a leak;
// decoded in place, one after the other, into a record that held other
// content, it leaves a record that still takes the whole encoding.
TEST(Wire, EveryPrefixDecodesSafely) {
  each_type_and_mode([](const TypeDesc &t, uint32_t i, uint32_t, ScopedHandle &h) {
    void *src = orva::record_create(t, h, kDb);
    fill_record(t, h, kDb, src, i + 100);
    Bytes full = encode(t, h, src);
    uint64_t baseline = h.live_bytes();
    void *over = orva::record_create(t, h, kDb);
    fill_record(t, h, kDb, over, i + 200);
    uint32_t err = 0;
    for (size_t n = 0; n < full.size(); ++n) {
      Bytes cut(full.begin(), full.begin() + n);  // exactly n bytes: ASan sees any overread
      uint64_t before = h.live_bytes();
      void *dst = orva::record_create(t, h, kDb);
      err = 0;
      EXPECT_LE(orva::record_unmarshal(t, h, kDb, cut.data(), dst, int32_t(n), 0, &err), n);
      if (n < 6) {
        EXPECT_EQ(err, 90u) << n;
      }
      orva::record_destroy(t, h, kDb, dst);
      ASSERT_EQ(h.live_bytes(), before) << "prefix " << n;
      EXPECT_LE(orva::record_unmarshal(t, h, kDb, cut.data(), over, int32_t(n), 1, &err), n);
    }
    err = 0;
    orva::record_unmarshal(t, h, kDb, full.data(), over, int32_t(full.size()), 1, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(orva::record_compare(t, src, over), 0);
    EXPECT_EQ(encode(t, h, over), full);
    orva::record_destroy(t, h, kDb, over);
    ASSERT_EQ(h.live_bytes(), baseline);
    orva::record_destroy(t, h, kDb, src);
  });
}

TEST(Wire, CorruptCountsAndFlagsAreRefusedBeforeUse) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &list = type_named("class_map_list");
  // A list announcing 2^32-1 entries with nothing behind them.
  Bytes huge = {0, 0x08, 0, 0, 0, 8, 0xff, 0xff, 0xff, 0xff};
  uint64_t allocs = h.alloc_stats().allocs;
  void *obj = orva::record_create(list, h, kDb);
  uint32_t err = 0;
  orva::record_unmarshal(list, h, kDb, huge.data(), obj, int32_t(huge.size()), 0, &err);
  EXPECT_EQ(err, 90u);
  EXPECT_EQ(h.alloc_stats().allocs, allocs + 1);  // the record itself only
  orva::record_destroy(list, h, kDb, obj);

  // Flags other than the two the wire defines never reach the destination.
  const TypeDesc &key = type_named("qos_ap_radio_key_t");
  Bytes k = {0x00, 0xff, 0, 0,    0, 0, 0, 0, 0, 0, 0,         // variant, flags, ra-data
             0,    0,    0, 0x0d, 7, 2, 1, 2, 3, 4, 5, 6, 1};  // jump, slot, state, mac, state
  obj = orva::record_create(key, h, kDb);
  err = 0;
  uint32_t used = orva::record_unmarshal(key, h, kDb, k.data(), obj, int32_t(k.size()), 0, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(used, k.size());
  EXPECT_EQ(orva::header(obj)->flags & ~(MOX_FLAG_STATE_TRACKED | MOX_FLAG_RA_DATA), 0);
  orva::record_destroy(key, h, kDb, obj);
  // The flag byte ORed in by a decode is announced without an owner.
  obj = orva::record_create(key, h, kDb);
  h.journal(true);
  mox_journal_clear(h);
  err = 0;
  orva::record_unmarshal(key, h, kDb, k.data(), obj, int32_t(k.size()), 0, &err);
  h.journal(false);
  bool flag_store = false;
  for (uint32_t e = 0; e < mox_journal_count(h); ++e) {
    mox_journal_entry_t j;
    mox_journal_get(h, e, &j);
    if (j.addr != &orva::header(obj)->flags) continue;
    flag_store = true;
    EXPECT_EQ(j.owner, nullptr);
  }
  EXPECT_TRUE(flag_store);
  orva::record_destroy(key, h, kDb, obj);
  EXPECT_EQ(h.live_bytes(), 0u);

  // A record decoded in place as carrying no fields gives up what it held
  // (its destroy skips the fields of such a record).
  const TypeDesc &cd = type_named("qos_client_data_t");
  void *full = orva::record_create(cd, h, kDb);
  uint64_t bare = h.live_bytes();
  fill_record(cd, h, kDb, full, 4);
  Bytes none = {0xff, 0x08, 0, 0, 0, 4};
  err = 0;
  EXPECT_EQ(orva::record_unmarshal(cd, h, kDb, none.data(), full, int32_t(none.size()), 1, &err),
            6u);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(orva::header(full)->variant, -1);
  EXPECT_EQ(h.live_bytes(), bare);
  orva::record_destroy(cd, h, kDb, full);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// A decode whose allocation fails at any step reports 12 and leaves a
// destination that destroys without a leak; only a failure of the dynamic
// array's storage (its element block, its per-element state block) makes the
// decode return 0.
TEST(Wire, AllocationFailureAtEveryStepOfADecode) {
  each_type_and_mode([](const TypeDesc &t, uint32_t i, uint32_t mode, ScopedHandle &h) {
    void *src = orva::record_create(t, h, kDb);
    fill_record(t, h, kDb, src, i + 500);
    Bytes b = encode(t, h, src);
    uint64_t allocs = owned_allocs(t, h, src), live = h.live_bytes();
    uint32_t storage_failures = 0, expected = 0;
    for (uint16_t f = 0; f < t.field_count; ++f)
      if (t.fields[f].shape == orva::Shape::Dynamic) expected += mode == MOX_STTR_ON ? 2 : 1;
    for (uint64_t n = 0; n < allocs; ++n) {
      void *dst = orva::record_create(t, h, kDb);
      uint32_t err = 0;
      h.fail_alloc_after(int64_t(n));
      uint32_t used = orva::record_unmarshal(t, h, kDb, b.data(), dst, int32_t(b.size()), 0, &err);
      h.fail_alloc_after(-1);
      EXPECT_EQ(err, 12u) << n;
      storage_failures += used == 0;
      orva::record_destroy(t, h, kDb, dst);
      ASSERT_EQ(h.live_bytes(), live) << "failure at allocation " << n;
    }
    EXPECT_EQ(storage_failures, expected);
    orva::record_destroy(t, h, kDb, src);
  });
}

TEST(Wire, InPlaceDecodeReusesAnnouncesAndReplaces) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &t = type_named("qos_client_data_t");
  auto *src = static_cast<qos_client_data_t *>(orva::record_create(t, h, kDb));
  fill_record(t, h, kDb, src, 11);
  ASSERT_GE(src->call_record_index, 2);
  // Other content with the same number of call records.
  qos_client_data_t *other = nullptr;
  for (uint32_t seed = 12; seed < 40; ++seed) {
    if (other) orva::record_destroy(t, h, kDb, other);
    other = static_cast<qos_client_data_t *>(orva::record_create(t, h, kDb));
    fill_record(t, h, kDb, other, seed);
    if (other->call_record_index == src->call_record_index) break;
  }
  ASSERT_EQ(other->call_record_index, src->call_record_index);
  Bytes b = encode(t, h, src);
  Bytes ob = encode(t, h, other);
  uint32_t err = 0, used = 0;
  auto *dst = static_cast<qos_client_data_t *>(decode(t, h, b, &err, &used));
  ASSERT_EQ(err, 0u);
  // Same count in place: the element block and the per-element state block
  // are reused, and every store into them and into the record is announced.
  apf_call_record_t *block = dst->call_record;
  const orva::FieldDesc &cr = t.fields[18];
  size_t block_len = src->call_record_index *
                     (cr.size + orva::record_sizeof_internal(*cr.record, h, nullptr, 0, 1));
  uint8_t *per;
  std::memcpy(&per, orva::state_area(t, h, kDb, dst) + cr.state_pointer, sizeof per);
  ASSERT_NE(per, nullptr);
  {
    JournalCheck check(h, {{dst, orva::record_sizeof_internal(t, h, dst, 1, 0), "record"},
                           {block, block_len, "elements"},
                           {per, src->call_record_index, "element states"}});
    orva::record_unmarshal(t, h, kDb, ob.data(), dst, int32_t(ob.size()), 1, &err);
    EXPECT_TRUE(check.Verify());
  }
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(dst->call_record, block);
  EXPECT_EQ(orva::record_compare(t, other, dst), 0);
  EXPECT_EQ(encode(t, h, dst), ob);
  orva::record_destroy(t, h, kDb, dst);
  orva::record_destroy(t, h, kDb, other);
  orva::record_destroy(t, h, kDb, src);

  // A list of the same length is updated entry by entry; of another length,
  // replaced.
  const TypeDesc &lt = type_named("class_map_list");
  auto *a = static_cast<class_map_list *>(orva::record_create(lt, h, kDb));
  auto *c = static_cast<class_map_list *>(orva::record_create(lt, h, kDb));
  fill_record(lt, h, kDb, a, 1);
  ASSERT_GE(a->entry.count, 2u);
  Bytes la = encode(lt, h, a);
  uint32_t la_count = a->entry.count;
  orva::record_unmarshal(lt, h, kDb, la.data(), c, int32_t(la.size()), 0, &err);
  void *first = orva::list_first(c, lt.fields[0]);
  // Without the in-place flag the destination counts as fresh: the decoded
  // entries are appended to those it holds.
  auto *twice = static_cast<class_map_list *>(orva::record_create(lt, h, kDb));
  orva::record_unmarshal(lt, h, kDb, la.data(), twice, int32_t(la.size()), 0, &err);
  orva::record_unmarshal(lt, h, kDb, la.data(), twice, int32_t(la.size()), 0, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(twice->entry.count, 2 * la_count);
  orva::record_destroy(lt, h, kDb, twice);
  fill_record(lt, h, kDb, a, 2);  // appends: a is now longer
  Bytes longer = encode(lt, h, a);
  orva::record_unmarshal(lt, h, kDb, la.data(), c, int32_t(la.size()), 1, &err);
  EXPECT_EQ(orva::list_first(c, lt.fields[0]), first);
  // An entry that fails in place is reported, and decoding stops there.
  mox_trace_clear();
  orva::record_unmarshal(lt, h, kDb, la.data(), c, int32_t(la.size()) - 3, 1, &err);
  EXPECT_EQ(err, 90u);
  auto failed = TraceRecords();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(std::string(failed[0].text),
            std::string("Error ") + std::strerror(90) + " while unmarshalling list element");
  EXPECT_EQ(failed[0].level, 0x3000000u);
  EXPECT_EQ(c->entry.count, la_count);
  err = 0;
  orva::record_unmarshal(lt, h, kDb, longer.data(), c, int32_t(longer.size()), 1, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(c->entry.count, a->entry.count);
  EXPECT_EQ(orva::record_compare(lt, a, c), 0);

  // A list decoded as carrying no fields (negative variant) takes a wire form
  // with entries in place, as a fresh list does.
  const Bytes none = {0xff, 0x08, 0x00, 0x00, 0x00, 0x04};
  orva::record_unmarshal(lt, h, kDb, none.data(), c, int32_t(none.size()), 1, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_LT(c->variant, 0);
  EXPECT_EQ(c->entry.count, 0u);
  used = orva::record_unmarshal(lt, h, kDb, longer.data(), c, int32_t(longer.size()), 1, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(used, longer.size());
  EXPECT_EQ(c->variant, 0);
  EXPECT_EQ(orva::record_compare(lt, a, c), 0);
  EXPECT_EQ(encode(lt, h, c), longer);
  orva::record_destroy(lt, h, kDb, a);
  orva::record_destroy(lt, h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Wire, ShortBuffersAndMissingStateBytes) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  auto cut_encode = [&](const TypeDesc &t, void *obj, int32_t cut) {
    Bytes out(orva::record_len(t, h, kDb, obj));
    err = 0;
    uint32_t n =
        orva::record_marshal(t, h, kDb, out.data(), obj, int32_t(out.size()) - cut, 1, &err);
    return n;
  };
  // No room for the last state byte: 90, returning the buffer length.
  const TypeDesc &key = type_named("qos_ap_radio_key_t");
  void *k = orva::record_create(key, h, kDb);
  EXPECT_EQ(cut_encode(key, k, 1), 14u);
  EXPECT_EQ(err, 90u);
  // ...while an input without it decodes without error.
  Bytes full = encode(key, h, k);
  err = 0;
  EXPECT_EQ(orva::record_unmarshal(key, h, kDb, full.data(), k, 14, 0, &err), 14u);
  EXPECT_EQ(err, 0u);
  // An array's element bytes that do not fit: the position after its own byte.
  const TypeDesc &pol = type_named("qos_ap_policy_t");
  void *p = orva::record_create(pol, h, kDb);
  EXPECT_EQ(cut_encode(pol, p, 10), 6u + 64 + 1);
  EXPECT_EQ(err, 90u);
  // The list's byte is left out without an error when the buffer is full.
  const TypeDesc &lt = type_named("class_map_list");
  void *l = orva::record_create(lt, h, kDb);
  fill_record(lt, h, kDb, l, 3);
  uint32_t whole = orva::record_len(lt, h, kDb, l);
  EXPECT_EQ(cut_encode(lt, l, 1), whole - 1);
  EXPECT_EQ(err, 0u);
  // An empty call_record is its count byte alone; record_len counts its
  // state byte all the same.
  const TypeDesc &cd = type_named("qos_client_data_t");
  void *c = orva::record_create(cd, h, kDb);
  EXPECT_EQ(encode(cd, h, c).size() + 1, orva::record_len(cd, h, kDb, c));
  orva::record_destroy(key, h, kDb, k);
  orva::record_destroy(pol, h, kDb, p);
  orva::record_destroy(lt, h, kDb, l);
  orva::record_destroy(cd, h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Wire, VariantEvolutionDowngradeAndClone) {
  ScopedHandle h(MOX_STTR_OFF);
  const TypeDesc &t = type_named("qos_client_data_t");
  void *src = orva::record_create(t, h, kDb);
  fill_record(t, h, kDb, src, 21);
  ASSERT_EQ(orva::header(src)->variant, 1);
  Bytes v1 = encode(t, h, src);

  // Storage laid out for variant 0: decoded as variant 0, the tail skipped.
  void *old = orva::record_create(t, h, kDb);
  orva::header(old)->storage_variant = 0;  // test setup: a record of an older layout
  orva::header(old)->variant = 0;
  uint32_t err = 0;
  mox_trace_clear();
  EXPECT_EQ(orva::record_unmarshal(t, h, kDb, v1.data(), old, int32_t(v1.size()), 0, &err),
            v1.size());
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(orva::header(old)->variant, 0);
  // The 4-byte band value is the unread tail; the jump starts after the
  // variant and flags bytes.
  auto skip = TraceRecords();
  ASSERT_EQ(skip.size(), 1u);
  EXPECT_EQ(std::string(skip[0].text), "offset_jump read_len " + std::to_string(v1.size() - 4) +
                                           " offset_jump_base 2 _mox_variant_jump " +
                                           std::to_string(v1.size() - 2));
  EXPECT_EQ(skip[0].level, 0x6000000u);

  // A domain allowing variant 0 only: 43 through the epoch report; with the
  // report deferred the record goes out as variant 0, as the old one does.
  mox_domain_set_variant(h, t.ti->luid_text, 0);
  h->epoch_defer = 1;
  Bytes v0(v1.size());
  v0.resize(orva::record_marshal(t, h, kDb, v0.data(), src, int32_t(v0.size()), 1, &err));
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(h->epoch_error, 43u);
  EXPECT_EQ(v0[0], 0);
  EXPECT_EQ(v0.size(), v1.size() - 4);  // without bw_alloc_radio_band_info
  EXPECT_EQ(v0, encode(t, h, old, 0));
  h->epoch_defer = 0;
  err = 0;
  EXPECT_EQ(orva::record_marshal(t, h, kDb, v0.data(), src, int32_t(v0.size()), 1, &err), 0u);
  EXPECT_EQ(err, 43u);

  // A clone keeps variant 1 whatever the domain allows.
  Bytes buf(v1.size());
  void *copy = nullptr;
  err = 0;
  orva::record_clone(t, h, kDb, src, &copy, buf.data(), int32_t(buf.size()), true, &err);
  EXPECT_EQ(err, 0u);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(orva::header(copy)->variant, 1);
  EXPECT_EQ(orva::record_compare(t, src, copy), 0);
  orva::record_destroy(t, h, kDb, copy);
  orva::record_destroy(t, h, kDb, old);
  orva::record_destroy(t, h, kDb, src);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Wire, CloneFailuresLeaveNothingBehind) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &t = type_named("qos_client_data_t");
  void *src = orva::record_create(t, h, kDb);
  fill_record(t, h, kDb, src, 31);
  Bytes buf(encode(t, h, src, 0).size());
  uint64_t allocs = h.alloc_stats().allocs, live = h.live_bytes();

  int marker;
  void *dst = &marker;  // T_clone starts from a null destination
  uint32_t err = 0;
  orva::record_clone(t, h, kDb, src, &dst, buf.data(), int32_t(buf.size()) - 1, true, &err);
  EXPECT_EQ(err, 90u);
  EXPECT_EQ(dst, nullptr);
  EXPECT_EQ(h.alloc_stats().allocs, allocs);
  err = 0;
  orva::record_clone(t, h, kDb, src, &dst, nullptr, 10, true, &err);
  EXPECT_EQ(err, 2u);

  // A read-back that fails destroys even a destination the caller supplied.
  void *existing = orva::record_create(t, h, kDb);
  h.fail_alloc_after(0);
  err = 0;
  orva::record_clone(t, h, kDb, src, &existing, buf.data(), int32_t(buf.size()), false, &err);
  h.fail_alloc_after(-1);
  EXPECT_EQ(err, 12u);
  EXPECT_EQ(existing, nullptr);
  EXPECT_EQ(h.live_bytes(), live);
  orva::record_destroy(t, h, kDb, src);
}

TEST(Wire, TrackingMismatchAndCorruptModeAbort) {
  ScopedHandle h(MOX_STTR_OFF);
  const TypeDesc &t = type_named("qos_ap_radio_key_t");
  void *untracked = orva::record_create(t, h, kDb);
  Bytes b = encode(t, h, untracked), out(64);
  uint32_t err = 0;
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  EXPECT_DEATH(
      {
        mox_trace_set_stderr(1);
        orva::record_unmarshal(t, h, kDb, b.data(), untracked, int32_t(b.size()), 0, &err);
      },
      "MOX handle and object state tracking mis-match");
  mox_handle_set_sttr_mode(h, 0x1234);
  const std::function<void()> uses[] = {
      [&] { orva::record_len(t, h, kDb, untracked); },
      [&] {
        orva::header(untracked)->variant = -1;  // a record that carries no fields
        orva::record_len(t, h, kDb, untracked);
      },
      [&] { orva::record_marshal(t, h, kDb, out.data(), untracked, int32_t(out.size()), 1, &err); },
      [&] { orva::record_unmarshal(t, h, kDb, b.data(), untracked, int32_t(b.size()), 0, &err); }};
  for (const auto &use : uses)
    EXPECT_DEATH(
        {
          mox_trace_set_stderr(1);
          use();
        },
        "Corrupted MOX Handle");
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  orva::record_destroy(t, h, kDb, untracked);
}

}  // namespace
}  // namespace orva_test
