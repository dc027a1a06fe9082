// Every record type, with state tracking off and on: create, fill and destroy
// leave no record storage and balanced type statistics behind, and every
// setter family (field _set, _set_value, element forms, _set_mem_cr, state
// flags, the dynamic array's growth and reallocation, list append and insert,
// the record-level copy) announces each byte it changes before changing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "frame/kinds.h"
#include "handle.h"
#include "journal_check.h"
#include "record_fill.h"
#include "serial/wire.h"
#include "types/accessors.h"
#include "types/class_map_list.h"
#include "types/compare.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

using orva::FieldDesc;
using orva::Kind;
using orva::Shape;
using orva::TypeDesc;
constexpr uint32_t kDb = MOX_NO_DB;
constexpr uint32_t kPtr = sizeof(void *);

template <class T>
T load(const void *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// ---------------------------------------------------------------------------
// Statistics of every record type and enumeration, summed over the variants.

struct Counts {
  uint64_t created = 0, destroyed = 0, live = 0, failed = 0;
};

std::map<std::string, Counts> all_counts() {
  std::map<std::string, Counts> out;
  auto add = [&](const char *name, const mox_variant_info_t *vi) {
    Counts &c = out[name];
    for (int v = 0; v < static_cast<int8_t>(vi->count_word & 0xFF); ++v) {
      const mox_type_stats_t &s = vi->entries[v].stats;
      c.created += s.created, c.destroyed += s.destroyed, c.live += s.live, c.failed += s.failed;
    }
  };
  for (uint32_t i = 0; i < orva::kTypeCount; ++i) add(orva::kTypes[i]->name, orva::kTypes[i]->ti->variant_info);
  for (uint32_t i = 0; i < orva::kEnumCount; ++i) add(orva::kEnums[i]->name, orva::kEnums[i]->ti->variant_info);
  return out;
}

void expect_balanced(const std::map<std::string, Counts> &before, const TypeDesc &t) {
  std::map<std::string, Counts> after = all_counts();
  for (const auto &[name, b] : before) {
    const Counts &a = after[name];
    EXPECT_EQ((std::tuple{a.live, a.failed, a.created - b.created}), (std::tuple{b.live, b.failed, a.destroyed - b.destroyed}))
        << name;
  }
  EXPECT_GT(after[t.name].created, before.at(t.name).created) << t.name;
}

// ---------------------------------------------------------------------------
// The storage a record owns, as journal regions.  The link words of lists
// (a head's first and last, an entry's next and prev) are left out: they are
// announced through the platform's range protection, not the journal.

struct Hole {
  const uint8_t *at;
  uint32_t len;
};

// Holes and owned blocks of obj (a record of type t at any depth).
void walk_storage(const TypeDesc &t, const void *obj, std::vector<Hole> &holes,
                  std::vector<Region> &extra, mox_handle_t *h, bool blocks) {
  const uint8_t *base = static_cast<const uint8_t *>(obj);
  if (t.list_links) holes.push_back({base + t.list_links + kPtr, 2 * kPtr});
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.kind != Kind::Record) continue;
    if (f.shape == Shape::List) {
      holes.push_back({base + f.offset, 2 * kPtr});
      for (void *e = orva::list_first(obj, f); e; e = orva::list_next(obj, f, e, *f.record)) {
        std::vector<Hole> inner;
        walk_storage(*f.record, e, inner, extra, h, blocks);
        uint32_t len = orva::record_sizeof_internal(*f.record, h, e, 1, 0);
        // Split the entry's block around its own holes.
        const uint8_t *from = static_cast<const uint8_t *>(e);
        std::sort(inner.begin(), inner.end(), [](Hole a, Hole b) { return a.at < b.at; });
        for (const Hole &x : inner) {
          extra.push_back({from, size_t(x.at - from), std::string("entry of ") + f.name});
          from = x.at + x.len;
        }
        extra.push_back({from, size_t(static_cast<const uint8_t *>(e) + len - from), "entry"});
      }
      continue;
    }
    if (f.shape == Shape::Dynamic) {
      uint32_t n = base[t.fields[f.count_field].offset];
      const uint8_t *block = load<const uint8_t *>(base + f.offset);
      if (!blocks || n == 0 || block == nullptr) continue;
      uint32_t esz = orva::record_sizeof_internal(*f.record, h, nullptr, 1, 0);
      extra.push_back({block, size_t(n) * esz, std::string(f.name) + " elements"});
      if (const uint8_t *area = orva::state_area(t, h, kDb, obj))
        if (const uint8_t *states = load<const uint8_t *>(area + f.state_pointer))
          extra.push_back({states, n, std::string(f.name) + " element states"});
      continue;
    }
    uint32_t n = f.shape == Shape::Array ? f.bound : 1;
    for (uint32_t e = 0; e < n; ++e)
      walk_storage(*f.record, base + f.offset + e * f.size, holes, extra, h, blocks);
  }
}

// The record's block (with its state area) minus the holes, and, with
// blocks set, the dynamic array's element and element-state blocks.
std::vector<Region> regions_of(const TypeDesc &t, mox_handle_t *h, const void *obj, bool blocks) {
  std::vector<Hole> holes;
  std::vector<Region> out;
  walk_storage(t, obj, holes, out, h, blocks);
  std::sort(holes.begin(), holes.end(), [](Hole a, Hole b) { return a.at < b.at; });
  const uint8_t *from = static_cast<const uint8_t *>(obj);
  const uint8_t *end = from + orva::record_sizeof_internal(t, h, obj, 1, 0);
  for (const Hole &x : holes) {
    out.push_back({from, size_t(x.at - from), t.name});
    from = x.at + x.len;
  }
  out.push_back({from, size_t(end - from), t.name});
  return out;
}

// ---------------------------------------------------------------------------
// The setter walk.

struct Rng {  // a 64-bit LCG, its high half mixed into the low bits
  uint64_t s;
  uint64_t next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return s ^ (s >> 29);
  }
};

struct Walk {
  mox_handle_t *h;
  bool tracked;
  const TypeDesc &top;
  void *top_obj;
  Rng rng;
  uint32_t seed;
  uint32_t steps = 0;
  uint64_t announced = 0;

  // Runs op under a journal check of the top record's storage.
  template <class Op>
  void step(const std::string &what, bool blocks, Op op,
            std::vector<Region> more = {}) {
    std::vector<Region> regions = regions_of(top, h, top_obj, blocks);
    regions.insert(regions.end(), more.begin(), more.end());
    JournalCheck check(h, regions);
    op();
    EXPECT_TRUE(check.Verify()) << what;
    announced += check.announcements();
    ++steps;
  }

  // A scalar's value as the runtime reads it, within the field's width.
  uint64_t read_value(const FieldDesc &f, void *field) {
    uint32_t err = 0;
    if (f.kind == Kind::Enum) return static_cast<mox_enum_obj_t *>(field)->value;
    uint64_t mask = f.size >= 8 ? ~0ull : (1ull << 8 * f.size) - 1;
    return orva::kind_ops(f.kind).get_value(h, kDb, field, &err) & mask;
  }
  bool scalar(const FieldDesc &f) { return f.kind == Kind::Enum || orva::kind_ops(f.kind).scalar; }

  // State flags of field i (its own or whole byte and every element byte),
  // read back.
  void states(const TypeDesc &t, uint16_t i, void *obj, uint32_t elements) {
    if (!tracked) return;
    uint32_t err = 0;
    uint8_t v = static_cast<uint8_t>(rng.next());
    orva::field_state_set(t, i, h, kDb, obj, 0x100 | v, &err);
    EXPECT_EQ(orva::field_state_get(t, i, h, kDb, obj, &err), v);
    for (uint32_t e = 0; e < elements; ++e) {
      uint8_t w = static_cast<uint8_t>(rng.next());
      orva::field_state_set_at(t, i, h, kDb, obj, e, w, &err);
      EXPECT_EQ((std::tuple{orva::field_state_get_at(t, i, h, kDb, obj, e, &err), err}), (std::tuple{w, 0u})) << e;
    }
  }

  // Every setter of every field of obj (type t), the sources taken from src,
  // a filled record of the same type; nested records recursively.
  void fields(const TypeDesc &t, void *obj, void *src) {
    if (t.ops & orva::kOpStateOnly) return;  // no setters: filled by decoding only
    int32_t v = mox_get_instance_variant(obj, 1, 0);
    for (uint16_t i = 0; i < t.field_count; ++i) {
      const FieldDesc &f = t.fields[i];
      if (f.variant > v || (f.flags & orva::kFieldCount)) continue;
      const std::string what = std::string(t.name) + "." + f.name;
      uint32_t err = 0;
      if (f.shape == Shape::Single && f.kind != Kind::Record) {
        step(what, true, [&] {
          if (scalar(f)) {
            uint64_t x = scalar_value(f, rng.next());
            orva::field_set_value(t, i, h, kDb, obj, x, &err);
            EXPECT_EQ(read_value(f, orva::field_get(t, i, h, kDb, obj, &err)), x) << what;
          } else {
            void *from = orva::field_get(t, i, h, kDb, src, &err);
            orva::field_set(t, i, h, kDb, obj, from, &err);
            void *mine = orva::field_get(t, i, h, kDb, obj, &err);
            EXPECT_EQ(orva::kind_ops(f.kind).compare(mine, from), 0) << what;
          }
          states(t, i, obj, 0);
        });
      } else if (f.shape == Shape::Single) {
        void *mine = orva::field_get(t, i, h, kDb, obj, &err);
        void *theirs = orva::field_get(t, i, h, kDb, src, &err);
        step(what, true, [&] {
          orva::field_set(t, i, h, kDb, obj, theirs, &err);
          if (!has_list(*f.record)) {  // a list's entries move rather than copy
            EXPECT_EQ(orva::record_compare(*f.record, mine, theirs), 0) << what;
          }
          states(t, i, obj, 0);
        });
        fields(*f.record, mine, theirs);
      } else if (f.shape == Shape::Array) {
        step(what, true, [&] {
          for (uint32_t e = 0; e < f.bound; ++e) {
            void *theirs = orva::field_get_at(t, i, h, kDb, src, e, &err);
            orva::field_set_at(t, i, h, kDb, obj, e, theirs, &err);
            void *mine = orva::field_get_at(t, i, h, kDb, obj, e, &err);
            if (f.kind == Kind::Record) {
              EXPECT_EQ(orva::record_compare(*f.record, mine, theirs), 0) << what << e;
              continue;
            }
            EXPECT_EQ(read_value(f, mine), read_value(f, theirs)) << what << e;
            uint64_t x = scalar_value(f, rng.next());
            orva::field_set_value_at(t, i, h, kDb, obj, e, x, &err);
            EXPECT_EQ(read_value(f, mine), x) << what << e;
          }
          if (f.kind == Kind::U32 && f.bound == 2) {  // the port arrays' block copy
            uint32_t ports[2] = {uint32_t(rng.next()), uint32_t(rng.next())}, back[2] = {};
            h->last_error = 0;
            EXPECT_EQ((std::tuple{orva::field_set_mem_cr(t, i, h, obj, ports, 2),
                                  orva::field_get_mem(t, i, h, kDb, obj, back, 2, &err) == back,
                                  std::memcmp(back, ports, sizeof ports)}), (std::tuple{0u, true, 0})) << what;
          }
          states(t, i, obj, f.bound);
        });
        if (f.kind == Kind::Record)
          for (uint32_t e = 0; e < f.bound; ++e)
            fields(*f.record, orva::field_get_at(t, i, h, kDb, obj, e, &err),
                   orva::field_get_at(t, i, h, kDb, src, e, &err));
      } else if (f.shape == Shape::Dynamic) {
        dynamic(t, i, obj, src);
      } else {
        list(t, i, obj);
      }
      EXPECT_EQ(err, 0u) << what;
    }
  }

  static bool has_list(const TypeDesc &t) {
    for (uint16_t i = 0; i < t.field_count; ++i)
      if (t.fields[i].shape == Shape::List ||
          (t.fields[i].kind == Kind::Record && t.fields[i].shape != Shape::Dynamic &&
           has_list(*t.fields[i].record)))
        return true;
    return false;
  }

  uint32_t count_of(const TypeDesc &t, uint16_t i, const void *obj) {
    return static_cast<const uint8_t *>(obj)[t.fields[t.fields[i].count_field].offset];
  }

  // Growth from empty, sets within the block, growth that reallocates, the
  // elements' own setters, then emptying.
  void dynamic(const TypeDesc &t, uint16_t i, void *obj, void *src) {
    const FieldDesc &f = t.fields[i];
    const std::string what = std::string(t.name) + "." + f.name;
    uint32_t err = 0, n = count_of(t, i, src);
    ASSERT_GE(n, 2u) << what;
    auto source = [&](uint32_t e) { return orva::field_get_at(t, i, h, kDb, src, e, &err); };
    auto mine = [&](uint32_t e) { return orva::field_get_at(t, i, h, kDb, obj, e, &err); };
    // Blocks that growth releases cannot be journal regions.
    step(what + " growth", false,
         [&] { orva::dynamic_set_at(t, i, h, kDb, obj, n - 1, source(n - 1), false, &err); });
    EXPECT_EQ(count_of(t, i, obj), n);
    step(what + " within", true, [&] {
      for (uint32_t e = 0; e + 1 < n; ++e) orva::field_set_at(t, i, h, kDb, obj, e, source(e), &err);
      states(t, i, obj, n);
    });
    // The source is the array's own element 0, inside the block that growth replaces.
    step(what + " reallocation", false, [&] { orva::field_set_at(t, i, h, kDb, obj, n + 1, mine(0), &err); });
    ASSERT_EQ((std::tuple{count_of(t, i, obj), err}), (std::tuple{n + 2, 0u})) << what;
    for (uint32_t e = 0; e < n + 2; ++e)  // element n stays empty
      if (e != n) {
        EXPECT_EQ(orva::record_compare(*f.record, mine(e), source(e > n ? 0 : e)), 0) << what << e;
      }
    fields(*f.record, mine(n), source(1));
    // Emptied for the destroy that follows, which still owns the element states.
    step(what + " emptying", false, [&] { orva::field_remove_elements(t, i, h, kDb, obj); });
    EXPECT_EQ(count_of(t, i, obj), 0u);
  }

  // Append two entries and insert a third after the first, every store
  // announced.  (The order is the list tests'; the entries' own setters are
  // walked with class_map_entry itself.)
  void list(const TypeDesc &t, uint16_t i, void *obj) {
    const FieldDesc &f = t.fields[i];
    uint32_t err = 0, before = orva::list_get_count(t, i, h, kDb, obj, &err);
    void *e[3];
    std::vector<Region> more;
    for (void *&x : e) {
      x = orva::record_create(*f.record, h, kDb);
      ASSERT_NE(x, nullptr);
      fill_record(*f.record, h, kDb, x, seed);
      std::vector<Region> r = regions_of(*f.record, h, x, true);
      more.insert(more.end(), r.begin(), r.end());
    }
    step(std::string(t.name) + "." + f.name + " append and insert", true, [&] {
      orva::list_set_last(t, i, h, kDb, obj, e[0], &err);
      orva::list_set_last(t, i, h, kDb, obj, e[1], &err);
      orva::list_set_after(t, i, h, kDb, obj, e[0], e[2], &err);
      states(t, i, obj, 0);
    }, more);
    EXPECT_EQ((std::tuple{err, orva::list_get_count(t, i, h, kDb, obj, &err)}), (std::tuple{0u, before + 3}));
  }
};

// A record and its copy through the wire form compare equal, both ways.
void expect_equal_to_its_clone(const TypeDesc &t, mox_handle_t *h, const void *obj,
                               const char *what) {
  uint32_t err = 0;
  std::vector<uint8_t> buf(orva::record_len(t, h, kDb, obj));
  void *copy = nullptr;
  orva::record_clone(t, h, kDb, obj, &copy, buf.data(), int32_t(buf.size()), true, &err);
  ASSERT_EQ(err, 0u) << what;
  EXPECT_EQ((std::tuple{orva::record_compare(t, obj, copy), orva::record_compare(t, copy, obj)}), (std::tuple{0, 0})) << what;
  orva::record_destroy(t, h, kDb, copy);
}

struct Mode {
  uint32_t sttr;
  const char *name;
};
constexpr Mode kModes[] = {{MOX_STTR_OFF, "tracking off"}, {MOX_STTR_ON, "tracking on"}};

// Create, fill and every setter family, then destroy: every store announced
// before it is made, nothing left behind, type statistics balanced.
TEST(AllTypes, FillAndEverySetterFamilyAnnounceTheirStoresAndCopyTheSource) {
  for (const Mode &m : kModes) {
    for (uint32_t ti = 0; ti < orva::kTypeCount; ++ti) {
      const TypeDesc &t = *orva::kTypes[ti];
      SCOPED_TRACE(std::string(t.name) + ", " + m.name);
      ScopedHandle h(m.sttr);
      auto before = all_counts();
      {
        void *src = orva::record_create(t, h, kDb), *obj = orva::record_create(t, h, kDb);
        void *copy = orva::record_create(t, h, kDb);
        ASSERT_TRUE(src && obj && copy);
        EXPECT_EQ(orva::state_area(t, h, kDb, src) != nullptr, m.sttr == MOX_STTR_ON);
        expect_equal_to_its_clone(t, h, src, "fresh");
        for (uint32_t seed : {ti + 2, ti + 1}) {
          // Every store of a fill is announced; refilling may reallocate the
          // dynamic array, so its blocks stay out of the regions.
          JournalCheck check(h, regions_of(t, h, src, false));
          fill_record(t, h, kDb, src, seed);
          EXPECT_TRUE(check.Verify()) << "fill, seed " << seed;
          EXPECT_GT(check.announcements(), 0u);
        }
        expect_equal_to_its_clone(t, h, src, "filled");
        Walk w{h, m.sttr == MOX_STTR_ON, t, obj, Rng{ti * 31ull + m.sttr}, ti + 1};
        w.fields(t, obj, src);
        if (!(t.ops & orva::kOpStateOnly)) {
          EXPECT_TRUE(w.steps >= t.field_count && w.announced >= w.steps) << w.steps << " " << w.announced;
        }

        // The record-level copy of the nested types, into a fresh record and
        // over a filled one.
        if (t.ops & orva::kOpRecordSet) {
          uint32_t err = 0;
          Walk c{h, w.tracked, t, copy, Rng{1}, 1};
          c.step("record-level set", true, [&] { orva::record_set(t, h, kDb, copy, src, &err); });
          EXPECT_EQ(err, 0u);
          if (!Walk::has_list(t)) {
            EXPECT_EQ(orva::record_compare(t, copy, src), 0);
            c.step("record-level set over a copy", true, [&] { orva::record_set(t, h, kDb, copy, obj, &err); });
            EXPECT_EQ((std::tuple{err, orva::record_compare(t, copy, obj)}), (std::tuple{0u, 0}));
            if (w.tracked) {
              const uint8_t *a = orva::state_area(t, h, kDb, copy);
              const uint8_t *b = orva::state_area(t, h, kDb, obj);
              uint32_t n = orva::record_sizeof_internal(t, h, obj, 1, 1);
              EXPECT_EQ(std::memcmp(a, b, n), 0) << "state bytes travel with the copy";
            }
          }
        }
        orva::record_destroy(t, h, kDb, copy);
        orva::record_destroy(t, h, kDb, obj);
        orva::record_destroy(t, h, kDb, src);
      }
      EXPECT_EQ(h.live_bytes(), 0u);
      expect_balanced(before, t);
    }
  }
}

}  // namespace
}  // namespace orva_test
