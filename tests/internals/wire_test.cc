// The wire engine over every record type: layouts, round trips in both
// state-tracking modes and across them, variant evolution, truncated and
// corrupt input, short buffers, cloning and allocation behaviour.
#include "serial/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "frame/kinds.h"
#include "golden.h"
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
    EXPECT_EQ(hex(b), mode == MOX_STTR_OFF ? "00000000000b02a0a1a2a3a4a5" : "00080000000d0202a0a1a2a3a4a501");
    EXPECT_EQ(orva::record_len(t, h, kDb, k), b.size());
    // Without a record: the header and absent values, never state bytes.
    EXPECT_EQ(orva::record_len(t, h, kDb, nullptr), 13u);
    uint32_t err = 0, used = 0;
    if (mode == MOX_STTR_ON) {
      // A wire form without state bytes leaves the destination's as they
      // were, and the destination stays marked state-tracked.
      Bytes plain = {0, 0, 0, 0, 0, 0x0b, 7, 1, 2, 3, 4, 5, 6};
      EXPECT_EQ(orva::record_unmarshal(t, h, kDb, plain.data(), k, 13, 1, &err), 13u);
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(k->radio_slot_id, 7);
      EXPECT_EQ(hex(Bytes(area, area + 2)), "0201");
      EXPECT_NE(k->flags & MOX_FLAG_STATE_TRACKED, 0);
    }
    // Runtime instance data: an all-zero ra-data block after the flags,
    // which record_len does not count.
    Bytes now = encode(t, h, k);
    k->flags |= MOX_FLAG_RA_DATA;
    Bytes ra = encode(t, h, k);
    k->flags &= ~MOX_FLAG_RA_DATA;
    size_t ra_len = ra.size() - now.size();
    ASSERT_GT(ra_len, 0u);
    EXPECT_EQ(ra[1], now[1] | MOX_FLAG_RA_DATA);
    EXPECT_EQ(Bytes(ra.begin() + 2, ra.begin() + 2 + ra_len), Bytes(ra_len, 0));
    EXPECT_EQ(Bytes(ra.begin() + 2 + ra_len, ra.end()), Bytes(now.begin() + 2, now.end()));
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

// Every type, filled with varied values, both modes and across them: the
// encoding has the length record_len gives and allocates nothing; it decodes
// completely into a fresh record, announcing every store and allocating only
// what the record holds, compares equal and re-encodes to the same bytes.
// Lengths of 0 and below are 90, missing pointers 2, before anything else.
TEST(Wire, RoundTripEveryTypeBothModesAndAcross) {
  each_type_and_mode([](const TypeDesc &t, uint32_t i, uint32_t mode, ScopedHandle &h) {
    void *src = orva::record_create(t, h, kDb);
    uint64_t bare = h.live_bytes();
    fill_record(t, h, kDb, src, i * 7 + mode);
    const uint64_t owned = h.live_bytes() - bare;  // what src holds beyond its own block
    uint64_t allocs = h.alloc_stats().allocs;
    Bytes b = encode(t, h, src);
    EXPECT_EQ(h.alloc_stats().allocs, allocs);
    EXPECT_EQ(b.size(), orva::record_len(t, h, kDb, src));  // (filled: call_record is never empty)
    uint32_t err = 0, used = 0;
    void *dst = orva::record_create(t, h, kDb);
    uint8_t small[8] = {};
    const std::pair<std::function<uint32_t()>, uint32_t> refusals[] = {
        {[&] { return orva::record_marshal(t, h, kDb, small, src, 0, 1, &err); }, 90},
        {[&] { return orva::record_marshal(t, h, kDb, small, src, -1, 1, &err); }, 90},
        {[&] { return orva::record_unmarshal(t, h, kDb, b.data(), dst, 0, 0, &err); }, 90},
        {[&] { return orva::record_unmarshal(t, h, kDb, b.data(), dst, -1, 0, &err); }, 90},
        {[&] { return orva::record_marshal(t, h, kDb, nullptr, src, 8, 1, &err); }, 2},
        {[&] { return orva::record_unmarshal(t, h, kDb, b.data(), nullptr, 8, 0, &err); }, 2}};
    for (const auto &[op, code] : refusals) {
      err = 0;
      EXPECT_EQ(op(), 0u);
      EXPECT_EQ(err, code);
    }
    err = 0;
    {
      JournalCheck check(h, announced_bytes(t, h, dst));
      uint64_t live = h.live_bytes();
      used = orva::record_unmarshal(t, h, kDb, b.data(), dst, int32_t(b.size()), 0, &err);
      EXPECT_EQ(h.live_bytes() - live, owned);
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
    EXPECT_EQ(orva::header(dst)->flags & MOX_FLAG_STATE_TRACKED, mode == MOX_STTR_ON ? 0 : MOX_FLAG_STATE_TRACKED);
    orva::record_destroy(t, h, kDb, dst);
    mox_handle_set_sttr_mode(h, mode);
    orva::record_destroy(t, h, kDb, src);
    EXPECT_EQ(h.live_bytes(), 0u);
  });
}

// The bytes themselves: per mode, one FNV-1a digest over every type's
// encodings (fresh, filled with two seeds) and its lengths (null record,
// filled), as the engine wrote them before its per-type instantiation.
TEST(Wire, EncodingsOfEveryTypeAreTheKnownBytes) {
  std::map<uint32_t, uint64_t> digest{{MOX_STTR_OFF, 14695981039346656037ull},
                                      {MOX_STTR_ON, 14695981039346656037ull}};
  each_type_and_mode([&](const TypeDesc &t, uint32_t, uint32_t mode, ScopedHandle &h) {
    uint64_t &d = digest[mode];
    auto mix = [&](const Bytes &b) {
      for (uint8_t c : b) d = (d ^ c) * 1099511628211ull;
    };
    void *rec = orva::record_create(t, h, kDb);
    mix(encode(t, h, rec));
    for (uint32_t seed : {3u, 11u}) {
      fill_record(t, h, kDb, rec, seed);
      Bytes b = encode(t, h, rec);
      mix(b);
      mix({uint8_t(b.size()), uint8_t(orva::record_len(t, h, kDb, nullptr))});
    }
    orva::record_destroy(t, h, kDb, rec);
  });
  EXPECT_EQ(digest[MOX_STTR_OFF], 0x82956bf7eed1e627ull);
  EXPECT_EQ(digest[MOX_STTR_ON], 0x3062192a0af52d24ull);
  // The fixed sizes the engine adds up at compile time are the runtime's.
  ScopedHandle h(MOX_STTR_OFF);
  for (int k = 0; k <= int(orva::Kind::EnmRadioBand); ++k)
    if (uint32_t n = orva::prim_wire(orva::Kind(k))) {
      EXPECT_EQ(n, orva::kind_ops(orva::Kind(k)).len(h, kDb, nullptr)) << k;
    }
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
      if (n < 6) { EXPECT_EQ(err, 90u) << n; }
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

// Hostile input: a count the input cannot hold is refused before anything is
// allocated; flags the wire does not define never reach the destination; a
// record decoded in place as carrying no fields gives up what it held (its
// destroy skips the fields of such a record).
TEST(Wire, CorruptCountsFlagsAndEmptyVariants) {
  ScopedHandle h(MOX_STTR_ON);
  struct Case {
    const char *type;
    Bytes in;
    uint32_t fill_seed;  // 0: a fresh destination
    uint32_t err, used;
    uint64_t allocs;     // by the decode
  } cases[] = {
      {"class_map_list", {0, 0x08, 0, 0, 0, 8, 0xff, 0xff, 0xff, 0xff}, 0, 90, 10, 0},
      {"qos_ap_radio_key_t",
       {0x00, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0d, 7, 2, 1, 2, 3, 4, 5, 6, 1}, 0, 0, 24, 0},
      {"qos_client_data_t", {0xff, 0x08, 0, 0, 0, 4}, 4, 0, 6, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    const TypeDesc &t = type_named(c.type);
    void *obj = orva::record_create(t, h, kDb);
    uint64_t bare = h.live_bytes();
    if (c.fill_seed) fill_record(t, h, kDb, obj, c.fill_seed);
    uint64_t allocs = h.alloc_stats().allocs;
    uint32_t err = 0;
    uint32_t used = orva::record_unmarshal(t, h, kDb, c.in.data(), obj, int32_t(c.in.size()), c.fill_seed ? 1 : 0, &err);
    EXPECT_EQ(err, c.err);
    if (c.err == 0) { EXPECT_EQ(used, c.used); }
    EXPECT_EQ(h.alloc_stats().allocs - allocs, c.allocs);
    EXPECT_EQ(orva::header(obj)->flags & ~(MOX_FLAG_STATE_TRACKED | MOX_FLAG_RA_DATA), 0);
    if (c.fill_seed) { EXPECT_EQ(h.live_bytes(), bare); }
    orva::record_destroy(t, h, kDb, obj);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// A decode whose allocation fails at any step, or would go past the handle's
// decode budget, reports 12 and leaves a destination that destroys without a
// leak; only a failure of the dynamic array's storage (its element block, its
// per-element state block) makes the decode return 0.  The budget counts
// every byte the decode requests, nested decodes included: a budget of
// exactly that much is enough, one byte less is not.
TEST(Wire, AllocationFailureAndDecodeBudgetAtEveryStep) {
  each_type_and_mode([](const TypeDesc &t, uint32_t i, uint32_t mode, ScopedHandle &h) {
    EXPECT_EQ(mox_get_decode_budget(h), MOX_DECODE_BUDGET_DEFAULT);
    void *src = orva::record_create(t, h, kDb);
    fill_record(t, h, kDb, src, i + 500);
    Bytes b = encode(t, h, src);
    const uint64_t live = h.live_bytes();
    uint32_t storage_failures = 0, expected = 0;
    for (uint16_t f = 0; f < t.field_count; ++f)
      if (t.fields[f].shape == orva::Shape::Dynamic) expected += mode == MOX_STTR_ON ? 2 : 1;
    struct Outcome {
      uint32_t err, used;
      uint64_t spent, allocs;  // bytes and blocks the decode allocated
    };
    auto decode_with = [&](int64_t fail_after, uint64_t budget) {
      void *dst = orva::record_create(t, h, kDb);
      Outcome o{0, 0, h.live_bytes(), h.alloc_stats().allocs};
      h.fail_alloc_after(fail_after);
      mox_set_decode_budget(h, budget);
      mox_trace_clear();
      o.used = orva::record_unmarshal(t, h, kDb, b.data(), dst, int32_t(b.size()), 0, &o.err);
      h.fail_alloc_after(-1);
      mox_set_decode_budget(h, MOX_DECODE_BUDGET_DEFAULT);
      o.spent = h.live_bytes() - o.spent;
      o.allocs = h.alloc_stats().allocs - o.allocs;
      orva::record_destroy(t, h, kDb, dst);
      EXPECT_EQ(h.live_bytes(), live) << "failure at allocation " << fail_after << ", budget " << budget;
      return o;
    };
    const Outcome whole = decode_with(-1, MOX_DECODE_BUDGET_DEFAULT);
    EXPECT_EQ(whole.err, 0u);
    for (uint64_t n = 0; n < whole.allocs; ++n) {
      Outcome o = decode_with(int64_t(n), MOX_DECODE_BUDGET_DEFAULT);
      EXPECT_EQ(o.err, 12u) << n;
      storage_failures += o.used == 0;
    }
    EXPECT_EQ(storage_failures, expected);
    EXPECT_EQ(decode_with(-1, whole.spent).err, 0u);
    if (whole.spent > 0) {
      EXPECT_EQ(decode_with(-1, whole.spent - 1).err, 12u);
      auto traced = TraceRecords();
      ASSERT_FALSE(traced.empty());
      EXPECT_EQ(std::string(traced.back().text),
                std::string(t.name) + " unmarshal: allocations exceed the handle's decode budget");
      EXPECT_EQ(traced.back().level, 0x3000000u);
    }
    orva::record_destroy(t, h, kDb, src);
  });
}

TEST(Wire, InPlaceDecodeReusesAnnouncesAndReplaces) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &t = type_named("qos_client_data_t");
  auto *src = static_cast<qos_client_data_t *>(orva::record_create(t, h, kDb));
  fill_record(t, h, kDb, src, 11);
  // Other content with the same number of call records.
  qos_client_data_t *other = nullptr;
  for (uint32_t seed = 12; seed < 40 && (!other || other->call_record_index != src->call_record_index); ++seed) {
    if (other) orva::record_destroy(t, h, kDb, other);
    other = static_cast<qos_client_data_t *>(orva::record_create(t, h, kDb));
    fill_record(t, h, kDb, other, seed);
  }
  ASSERT_EQ(other->call_record_index, src->call_record_index);
  Bytes b = encode(t, h, src), ob = encode(t, h, other);
  uint32_t err = 0, used = 0;
  auto *dst = static_cast<qos_client_data_t *>(decode(t, h, b, &err, &used));
  // Same count in place: the element block and the per-element state block
  // are reused, and every store into them and into the record is announced.
  apf_call_record_t *block = dst->call_record;
  const orva::FieldDesc &cr = t.fields[18];
  size_t block_len = src->call_record_index * (cr.size + orva::record_sizeof_internal(*cr.record, h, nullptr, 0, 1));
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
  for (void *r : {(void *)dst, (void *)other, (void *)src}) orva::record_destroy(t, h, kDb, r);

  // Lists: of the same length, updated entry by entry in place (an entry
  // that fails is reported and ends the decode); of another length, replaced;
  // without the in-place flag the decoded entries are appended to those the
  // destination holds; a list decoded as carrying no fields then takes
  // entries in place as a fresh one does.
  const TypeDesc &lt = type_named("class_map_list");
  auto *a = static_cast<class_map_list *>(orva::record_create(lt, h, kDb));
  auto *c = static_cast<class_map_list *>(orva::record_create(lt, h, kDb));
  fill_record(lt, h, kDb, a, 1);
  Bytes la = encode(lt, h, a);
  const uint32_t n = a->entry.count;
  fill_record(lt, h, kDb, a, 2);  // appends: a is now longer
  Bytes longer = encode(lt, h, a);
  const Bytes none = {0xff, 0x08, 0x00, 0x00, 0x00, 0x04};
  void *first = nullptr;
  struct Step {
    const Bytes *in;
    int32_t cut;
    uint32_t in_place, err, count;
    const char *trace;
  } steps[] = {
      {&la, 0, 0, 0, n, nullptr},  {&la, 0, 0, 0, 2 * n, nullptr}, {&la, 0, 1, 0, n, nullptr},
      {&la, 0, 1, 0, n, nullptr},  {&la, 3, 1, 90, n, "Error "},  {&longer, 0, 1, 0, a->entry.count, nullptr},
      {&none, 0, 1, 0, 0, nullptr}, {&longer, 0, 1, 0, a->entry.count, nullptr}};
  for (const Step &s : steps) {
    SCOPED_TRACE(s.count);
    err = 0;
    mox_trace_clear();
    used = orva::record_unmarshal(lt, h, kDb, s.in->data(), c, int32_t(s.in->size()) - s.cut, s.in_place, &err);
    EXPECT_EQ(err, s.err);
    EXPECT_EQ(c->entry.count, s.count);
    if (s.in == &la && s.in_place && s.err == 0) {
      if (first) { EXPECT_EQ(orva::list_first(c, lt.fields[0]), first); }  // updated, not replaced
      first = orva::list_first(c, lt.fields[0]);
    }
    if (s.trace) {
      auto failed = TraceRecords();
      ASSERT_EQ(failed.size(), 1u);
      EXPECT_EQ(std::string(failed[0].text), std::string("Error ") + std::strerror(90) + " while unmarshalling list element");
      EXPECT_EQ(failed[0].level, 0x3000000u);
    }
    if (s.err == 0) { EXPECT_EQ(used, s.in->size()); }
  }
  EXPECT_EQ(c->variant, 0);
  EXPECT_EQ(orva::record_compare(lt, a, c), 0);
  EXPECT_EQ(encode(lt, h, c), longer);
  orva::record_destroy(lt, h, kDb, a);
  orva::record_destroy(lt, h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Encoding into a buffer cut short: no room for the last state byte is 90 at
// the buffer's end, an array's element bytes that do not fit 90 after its own
// byte, the list's byte is left out without an error.  An input without its
// last state byte decodes without error.  An empty call_record is its count
// byte alone, though record_len counts its state byte.
TEST(Wire, ShortBuffersAndMissingStateBytes) {
  ScopedHandle h(MOX_STTR_ON);
  struct Case {
    const char *type;
    uint32_t seed;  // 0: not filled
    int32_t cut;
    uint32_t written_short, err;  // written = record_len - written_short
  } cases[] = {{"qos_ap_radio_key_t", 0, 1, 1, 90},
               {"qos_ap_policy_t", 0, 10, 64, 90},
               {"class_map_list", 3, 1, 1, 0},
               {"qos_client_data_t", 0, 0, 1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    const TypeDesc &t = type_named(c.type);
    void *obj = orva::record_create(t, h, kDb);
    if (c.seed) fill_record(t, h, kDb, obj, c.seed);
    uint32_t len = orva::record_len(t, h, kDb, obj), err = 0;
    Bytes out(len);
    EXPECT_EQ(orva::record_marshal(t, h, kDb, out.data(), obj, int32_t(len) - c.cut, 1, &err), len - c.written_short);
    EXPECT_EQ(err, c.err);
    if (c.written_short == 1 && c.err == 90) {
      err = 0;
      Bytes full = encode(t, h, obj);
      EXPECT_EQ(orva::record_unmarshal(t, h, kDb, full.data(), obj, int32_t(full.size()) - 1, 0, &err), full.size() - 1);
      EXPECT_EQ(err, 0u);
    }
    orva::record_destroy(t, h, kDb, obj);
  }
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Wire, VariantEvolutionDowngradeAndClone) {
  ScopedHandle h(MOX_STTR_OFF);
  const TypeDesc &t = type_named("qos_client_data_t");
  void *src = orva::record_create(t, h, kDb);
  fill_record(t, h, kDb, src, 21);
  ASSERT_EQ(orva::header(src)->variant, 1);
  Bytes v1 = encode(t, h, src);
  // Storage laid out for variant 0: decoded as variant 0, the tail (the
  // 4-byte band value) skipped; the jump starts after variant and flags.
  void *old = orva::record_create(t, h, kDb);
  orva::header(old)->storage_variant = 0;  // test setup: a record of an older layout
  orva::header(old)->variant = 0;
  uint32_t err = 0;
  mox_trace_clear();
  EXPECT_EQ(orva::record_unmarshal(t, h, kDb, v1.data(), old, int32_t(v1.size()), 0, &err), v1.size());
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(orva::header(old)->variant, 0);
  auto skip = TraceRecords();
  ASSERT_EQ(skip.size(), 1u);
  EXPECT_EQ(std::string(skip[0].text), "offset_jump read_len " + std::to_string(v1.size() - 4) +
                                           " offset_jump_base 2 _mox_variant_jump " + std::to_string(v1.size() - 2));
  EXPECT_EQ(skip[0].level, 0x6000000u);
  // A domain allowing variant 0 only: 43 through the epoch report; with the
  // report deferred the record goes out as variant 0, as the old one does.
  mox_domain_set_variant(h, t.ti->luid_text, 0);
  h->epoch_defer = 1;
  Bytes v0(v1.size());
  v0.resize(orva::record_marshal(t, h, kDb, v0.data(), src, int32_t(v0.size()), 1, &err));
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(h->epoch_error, 43u);
  EXPECT_EQ(v0, encode(t, h, old, 0));
  EXPECT_EQ(v0.size(), v1.size() - 4);  // without bw_alloc_radio_band_info
  h->epoch_defer = 0;
  EXPECT_EQ(orva::record_marshal(t, h, kDb, v0.data(), src, int32_t(v0.size()), 1, &err), 0u);
  EXPECT_EQ(err, 43u);
  // A clone keeps variant 1 whatever the domain allows, and is not held to
  // the decode budget.
  Bytes buf(v1.size());
  void *copy = nullptr;
  err = 0;
  mox_set_decode_budget(h, 0);
  orva::record_clone(t, h, kDb, src, &copy, buf.data(), int32_t(buf.size()), true, &err);
  EXPECT_EQ(err, 0u);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(orva::header(copy)->variant, 1);
  EXPECT_EQ(orva::record_compare(t, src, copy), 0);
  for (void *r : {copy, old, src}) orva::record_destroy(t, h, kDb, r);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// A failed clone leaves a null destination and nothing allocated: a buffer
// too short (90, nothing allocated), a missing buffer (2), a read-back that
// fails (12; even a destination the caller supplied is destroyed).
TEST(Wire, CloneFailuresLeaveNothingBehind) {
  ScopedHandle h(MOX_STTR_ON);
  const TypeDesc &t = type_named("qos_client_data_t");
  void *src = orva::record_create(t, h, kDb);
  fill_record(t, h, kDb, src, 31);
  Bytes buf(encode(t, h, src, 0).size());
  uint64_t live = h.live_bytes();
  int marker;
  struct Case {
    uint8_t *buf;
    int32_t len;
    bool fresh;
    int64_t fail_after;
    uint32_t err;
  } cases[] = {{buf.data(), int32_t(buf.size()) - 1, true, -1, 90},
               {nullptr, 10, true, -1, 2},
               {buf.data(), int32_t(buf.size()), false, 0, 12}};
  for (const Case &c : cases) {
    void *dst = c.fresh ? static_cast<void *>(&marker) : orva::record_create(t, h, kDb);
    uint64_t allocs = h.alloc_stats().allocs;
    uint32_t err = 0;
    h.fail_alloc_after(c.fail_after);
    orva::record_clone(t, h, kDb, src, &dst, c.buf, c.len, c.fresh, &err);
    h.fail_alloc_after(-1);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(dst, nullptr);
    if (c.fresh) { EXPECT_EQ(h.alloc_stats().allocs, allocs); }
    EXPECT_EQ(h.live_bytes(), live);
  }
  orva::record_destroy(t, h, kDb, src);
}

TEST(Wire, TrackingMismatchAndCorruptModeAbort) {
  ScopedHandle h(MOX_STTR_OFF);
  const TypeDesc &t = type_named("qos_ap_radio_key_t");
  void *untracked = orva::record_create(t, h, kDb);
  Bytes b = encode(t, h, untracked), out(64);
  uint32_t err = 0;
  auto len = [&] { orva::record_len(t, h, kDb, untracked); };
  auto marshal = [&] { orva::record_marshal(t, h, kDb, out.data(), untracked, int32_t(out.size()), 1, &err); };
  auto unmarshal = [&] { orva::record_unmarshal(t, h, kDb, b.data(), untracked, int32_t(b.size()), 0, &err); };
  auto carries_no_fields = [&] { orva::header(untracked)->variant = -1, len(); };
  const std::tuple<uint32_t, std::function<void()>, const char *> uses[] = {
      {MOX_STTR_ON, unmarshal, "MOX handle and object state tracking mis-match"},
      {0x1234, len, "Corrupted MOX Handle"},
      {0x1234, carries_no_fields, "Corrupted MOX Handle"},
      {0x1234, marshal, "Corrupted MOX Handle"},
      {0x1234, unmarshal, "Corrupted MOX Handle"}};
  for (const auto &[mode, use, text] : uses) {
    mox_handle_set_sttr_mode(h, mode);
    EXPECT_DEATH((mox_trace_set_stderr(1), use()), text);
  }
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  orva::record_destroy(t, h, kDb, untracked);
}

}  // namespace
}  // namespace orva_test
