// The class-map list: walk, append, insert after, remove, refused misuse,
// move by the record-level copy, destroy of entries and of the list, its state
// byte and the announcements of its count, owners and link words.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
using orva_test::ScopedHandle;
using Names = std::vector<std::string>;

class_map_entry *entry(mox_handle_t *h, const char *name) {
  uint32_t err = 0;
  class_map_entry *e = class_map_entry_create(h, kDb);
  mox_vstring_set_value(h, kDb, class_map_entry_class_name_get(h, kDb, e, &err), name, &err);
  EXPECT_EQ(err, 0u);
  return e;
}

// The names of the entries through the exported walk; the count is checked
// against the walk and every entry's links against its neighbours and owner.
Names names(mox_handle_t *h, class_map_list *l) {
  Names out;
  uint32_t err = 0;
  void *prev = &l->entry;
  for (class_map_entry *e = class_map_list_entry_get_first(h, kDb, l, &err); e != nullptr;
       e = class_map_list_entry_get_next(h, kDb, l, e, &err)) {
    out.emplace_back(e->class_name.str);
    EXPECT_EQ(e->links.owner, &l->entry) << e->class_name.str;
    EXPECT_EQ(e->links.prev, prev) << e->class_name.str;
    prev = e;
  }
  EXPECT_EQ(l->entry.last, prev);
  EXPECT_EQ(l->entry.list, l);
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), out.size());
  EXPECT_EQ(err, 0u);
  return out;
}

TEST(ClassMapList, WalkAppendInsertRemoveAndStateByte) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  EXPECT_EQ(class_map_list_entry_get_first(h, kDb, l, &err), nullptr);
  EXPECT_EQ(class_map_list_entry_get_last(h, kDb, l, &err), nullptr);
  EXPECT_EQ(names(h, l), Names{});
  class_map_entry *e1 = entry(h, "voice"), *e2 = entry(h, "video"), *e3 = entry(h, "signal");
  class_map_entry *e4 = entry(h, "bulk");
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, e1, &err), 0u);
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, e2, &err), 0u);
  EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, e1, e3, &err), 0u);
  EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, e2, e4, &err), 0u);  // after the last
  EXPECT_EQ(names(h, l), (Names{"voice", "signal", "video", "bulk"}));
  EXPECT_EQ(class_map_list_entry_get_last(h, kDb, l, &err), e4);
  EXPECT_EQ(class_map_list_entry_state_flag_get(h, kDb, l, &err), 2);

  // Remove leaves the state byte alone and hands the entry back unlinked.
  class_map_list_entry_state_flag_set(h, kDb, l, 1, &err);
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e1, &err), 0u);  // the first
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e4, &err), 0u);  // the last
  EXPECT_EQ(names(h, l), (Names{"signal", "video"}));
  EXPECT_EQ(e1->links.owner, nullptr);
  EXPECT_EQ(class_map_list_entry_state_flag_get(h, kDb, l, &err), 1);
  class_map_list_entry_remove(h, kDb, l, e3, &err);
  class_map_list_entry_remove(h, kDb, l, e2, &err);
  EXPECT_EQ(l->entry.first, &l->entry);
  EXPECT_EQ(names(h, l), Names{});
  EXPECT_EQ(err, 0u);

  // Removed entries can be linked again; a removed one is the caller's to destroy.
  class_map_list_entry_set_last(h, kDb, l, e2, &err);
  class_map_list_entry_set_last(h, kDb, l, e1, &err);
  for (class_map_entry *e : {e3, e4}) class_map_entry_destroy(h, kDb, e);
  class_map_list_destroy(h, kDb, l);  // destroys e2 and e1 with it
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Every misuse of an entry is refused with 22 and its own message, a missing
// entry with 2, a list of negative variant with 43, and an error already in
// the slot makes the operation a no-op: before anything is stored, so both
// lists keep their entries, links and counts.
TEST(ClassMapList, MisuseAndRefusalsChangeNothing) {
  struct Lists {
    class_map_list *l, *o;           // l holds a, b; o holds x
    class_map_entry *a, *b, *x, *u;  // u is in no list
  };
  using Op = std::function<uint32_t(mox_handle_t *, const Lists &, uint32_t *)>;
  struct Case {
    const char *what;
    Op op;
    uint32_t code;
    const char *text;  // the one message traced, if any
  };
  const char *not_in_list = "class_map_list entry_remove: class_map_entry is not linked in this list";
  const char *set_last = "class_map_list entry_set_last: class_map_entry is already linked in a list";
  const char *set_after = "class_map_list entry_set_after: class_map_entry is already linked in a list";
  const char *ref = "class_map_list entry_set_after: reference class_map_entry is not linked in this list";
  auto negative = [](Op op) {  // the same on a list of negative variant
    return [op](mox_handle_t *h, const Lists &s, uint32_t *e) {
      s.l->variant = -1;
      uint32_t r = op(h, s, e);
      s.l->variant = 0;
      return r;
    };
  };
  Op append_u = [](auto h, auto &s, auto e) { return class_map_list_entry_set_last(h, kDb, s.l, s.u, e); };
  Op first = [](auto h, auto &s, auto e) { class_map_list_entry_get_first(h, kDb, s.l, e); return *e; };
  const Case cases[] = {
      {"remove unlinked", [](auto h, auto &s, auto e) { return class_map_list_entry_remove(h, kDb, s.l, s.u, e); }, 22, not_in_list},
      {"remove from other list", [](auto h, auto &s, auto e) { return class_map_list_entry_remove(h, kDb, s.l, s.x, e); }, 22, not_in_list},
      {"append twice", [](auto h, auto &s, auto e) { return class_map_list_entry_set_last(h, kDb, s.l, s.b, e); }, 22, set_last},
      {"append from other list", [](auto h, auto &s, auto e) { return class_map_list_entry_set_last(h, kDb, s.l, s.x, e); }, 22, set_last},
      {"insert linked", [](auto h, auto &s, auto e) { return class_map_list_entry_set_after(h, kDb, s.l, s.a, s.b, e); }, 22, set_after},
      {"insert from other list", [](auto h, auto &s, auto e) { return class_map_list_entry_set_after(h, kDb, s.l, s.a, s.x, e); }, 22, set_after},
      {"reference unlinked", [](auto h, auto &s, auto e) { return class_map_list_entry_set_after(h, kDb, s.l, s.u, s.u, e); }, 22, ref},
      {"reference in other list", [](auto h, auto &s, auto e) { return class_map_list_entry_set_after(h, kDb, s.l, s.x, s.u, e); }, 22, ref},
      {"append null", [](auto h, auto &s, auto e) { return class_map_list_entry_set_last(h, kDb, s.l, nullptr, e); }, 2, nullptr},
      {"null reference", [](auto h, auto &s, auto e) { return class_map_list_entry_set_after(h, kDb, s.l, nullptr, s.u, e); }, 2, nullptr},
      {"next of null", [](auto h, auto &s, auto e) { class_map_list_entry_get_next(h, kDb, s.l, nullptr, e); return *e; }, 2, nullptr},
      {"append, negative variant", negative(append_u), 43, nullptr},
      {"first, negative variant", negative(first), 43, nullptr},
      {"append, error in the slot", [append_u](auto h, auto &s, auto e) { *e = 7; return append_u(h, s, e); }, 7, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScopedHandle h(MOX_STTR_ON);
    uint32_t err = 0;
    Lists s{class_map_list_create(h, kDb), class_map_list_create(h, kDb), entry(h, "a"),
            entry(h, "b"), entry(h, "x"), entry(h, "u")};
    for (auto [list, e] : {std::pair{s.l, s.a}, {s.l, s.b}, {s.o, s.x}})
      class_map_list_entry_set_last(h, kDb, list, e, &err);
    class_map_list_entry_state_flag_set(h, kDb, s.l, 1, &err);
    ASSERT_EQ(err, 0u);
    mox_trace_clear();
    {
      auto links = [](class_map_entry *e) {  // the header and owner, next, prev
        return orva_test::Region{e, offsetof(class_map_entry, links) + sizeof e->links};
      };
      constexpr size_t head_end = offsetof(class_map_list, entry) + sizeof(orva_list_head_t);
      orva_test::JournalCheck jc(h, {{s.l, head_end, "l"}, {s.o, head_end, "o"}, links(s.a),
                                     links(s.b), links(s.x), links(s.u)});
      EXPECT_EQ(c.op(h, s, &err), c.code);
      EXPECT_EQ(err, c.code);
      EXPECT_EQ(jc.announcements(), 0u);
      EXPECT_TRUE(jc.Verify());
    }
    auto traced = orva_test::TraceRecords();
    ASSERT_EQ(traced.size(), c.text ? 1u : 0u);
    if (c.text) {
      EXPECT_STREQ(traced[0].text, c.text);
      EXPECT_EQ(traced[0].level, 0x3000000u);
    }
    EXPECT_EQ(names(h, s.l), (Names{"a", "b"}));
    EXPECT_EQ(class_map_list_entry_state_flag_get(h, kDb, s.l, &(err = 0)), 1);
    EXPECT_EQ(names(h, s.o), Names{"x"});
    EXPECT_EQ(s.u->links.owner, nullptr);
    class_map_entry_destroy(h, kDb, s.u);
    class_map_list_destroy(h, kDb, s.l);
    class_map_list_destroy(h, kDb, s.o);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// Copies into a record holding a list (class_map of qos_policy_content):
// the destination's own entries are destroyed first, the source's entries
// move (a clone copies them), a refused copy leaves the destination an empty
// list and the source whole, an engine-made entry is never the placeholder,
// and every count, owner and header store is announced.
TEST(ClassMapList, CopiesIntoAListMoveTheEntries) {
  using Pc = qos_policy_content;
  using Op = std::function<uint32_t(mox_handle_t *, Pc *&, Pc *, uint32_t *)>;
  Op list_set = [](auto h, auto &d, auto s, auto e) { return class_map_list_set(h, kDb, &d->class_map, &s->class_map, e); };
  Op field_set = [](auto h, auto &d, auto s, auto e) { return qos_policy_content_class_map_set(h, kDb, d, &s->class_map, e); };
  Op clone = [](auto h, auto &d, auto s, auto e) { uint8_t b[512]; return qos_policy_content_clone_internal(h, kDb, s, &d, b, sizeof b, e); };
  Op decode_cr = [](auto h, auto &d, auto s, auto e) {  // in _cr mode, no storage for an entry
    uint8_t b[512];
    int32_t n = static_cast<int32_t>(class_map_list_marshal(h, kDb, b, &s->class_map, sizeof b, e));
    h->cr_mode = 1, mox_handle_fail_alloc_after(h, 0);
    class_map_list_unmarshal(h, kDb, b, &d->class_map, n, 0, e);
    h->cr_mode = 0, mox_handle_fail_alloc_after(h, -1);
    return *e;
  };
  const Names abc{"a", "b", "c"}, xy{"x", "y"};
  struct Case { const char *what; uint32_t mode, dst_mode; Names held; Op op; uint32_t code; Names dst, src; } cases[] = {
      {"list set into an empty list", MOX_STTR_OFF, MOX_STTR_OFF, {}, list_set, 0, abc, {}},
      {"list set", MOX_STTR_ON, MOX_STTR_ON, xy, list_set, 0, abc, {}},
      {"field set", MOX_STTR_OFF, MOX_STTR_OFF, xy, field_set, 0, abc, {}},
      {"clone into it", MOX_STTR_ON, MOX_STTR_ON, xy, clone, 0, abc, abc},
      {"refused: untracked destination", MOX_STTR_ON, MOX_STTR_OFF, xy, list_set, 22, {}, abc},
      {"decode in cr_mode without storage", MOX_STTR_ON, MOX_STTR_ON, xy, decode_cr, 12, xy, abc},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScopedHandle h(c.dst_mode);
    uint32_t err = 0;
    Pc *d = qos_policy_content_create(h, kDb);
    for (const std::string &n : c.held) class_map_list_entry_set_last(h, kDb, &d->class_map, entry(h, n.c_str()), &err);
    mox_handle_set_sttr_mode(h, c.mode);
    Pc *s = qos_policy_content_create(h, kDb);
    std::vector<orva_test::Region> regions;  // headers, list words, counts, the source's owners
    for (Pc *p : {d, s})
      regions.insert(regions.end(), {{&p->class_map, offsetof(class_map_list, entry)},
                                     {&p->class_map.entry.list, sizeof(void *)}, {&p->class_map.entry.count, 4}});
    for (const char *n : {"a", "b", "c"}) {
      class_map_entry *e = entry(h, n);
      class_map_list_entry_set_last(h, kDb, &s->class_map, e, &err);
      regions.push_back({&e->links.owner, sizeof(void *), n});
    }
    ASSERT_EQ(err, 0u);
    orva_test::JournalCheck jc(h, regions);
    EXPECT_EQ(c.op(h, d, s, &err), c.code);
    EXPECT_TRUE(jc.Verify());
    EXPECT_EQ(names(h, &d->class_map), c.dst);
    EXPECT_EQ(names(h, &s->class_map), c.src);
    qos_policy_content_destroy(h, kDb, d);
    EXPECT_EQ(names(h, &s->class_map), c.src);
    qos_policy_content_destroy(h, kDb, s);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

TEST(ClassMapList, LinkedEntryDestroyAndUntrackedList) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  class_map_entry *a = entry(h, "a"), *b = entry(h, "b"), *c = entry(h, "c"), *d = entry(h, "d");
  for (class_map_entry *e : {a, b, c}) class_map_list_entry_set_last(h, kDb, l, e, &err);
  // Destroying a linked entry unlinks it and keeps the count true.
  class_map_entry_destroy(h, kDb, b);
  EXPECT_EQ(names(h, l), (Names{"a", "c"}));

  // A list created with tracking off, appended to with tracking on: the entry
  // is linked all the same, and the missing state area is reported with 22.
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  class_map_list *untracked = class_map_list_create(h, kDb);
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  mox_trace_clear();
  err = 0;
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, untracked, d, &err), 22u);
  EXPECT_TRUE(orva_test::Traced("The object is not state tracked"));
  EXPECT_EQ(d->links.owner, &untracked->entry);
  class_map_list_destroy(h, kDb, untracked);
  class_map_list_destroy(h, kDb, l);
  EXPECT_EQ(h.live_bytes(), 0u);
}

class_map_entry *g_finished = nullptr;

TEST(ClassMapList, LinkedEntryWithReferencesLeavesTheListBeforeDeferral) {
  ScopedHandle h(MOX_STTR_OFF);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  class_map_entry *a = entry(h, "a"), *b = entry(h, "b");
  class_map_list_entry_set_last(h, kDb, l, a, &err);
  class_map_list_entry_set_last(h, kDb, l, b, &err);
  ASSERT_NE(mox_oid_mapping_create(h, kDb, a, 1, 0,
                                   [](mox_handle_t *hh, uint32_t db, void *obj) {
                                     g_finished = static_cast<class_map_entry *>(obj);
                                     class_map_entry_destroy(hh, db, g_finished);
                                   }),
            0u);
  mox_oid_mapping_add_ref(h, a);
  class_map_entry_destroy(h, kDb, a);
  EXPECT_TRUE(orva_test::Traced("Object has references and will be cleaned up"));
  // The entry is out of the list at once; the rest waits for the references.
  EXPECT_EQ(names(h, l), (Names{"b"}));
  EXPECT_EQ(a->links.owner, nullptr);
  EXPECT_STREQ(a->class_name.str, "a");
  class_map_list_destroy(h, kDb, l);
  EXPECT_EQ(g_finished, nullptr);
  mox_oid_mapping_release(h, kDb, a);
  EXPECT_EQ(g_finished, a);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// The platform events of one item, in order.
std::vector<uint32_t> events_of(mox_handle_t *h, const void *item) {
  std::vector<uint32_t> kinds;
  for (uint32_t i = 0; i < mox_event_count(h); ++i) {
    mox_event_t e;
    mox_event_get(h, i, &e);
    if (e.item == item) kinds.push_back(e.kind);
  }
  return kinds;
}

TEST(ClassMapList, LinkWordsAreAnnouncedToThePlatformDatabase) {
  ScopedHandle h(MOX_STTR_OFF);
  uint32_t err = 0;
  const uint32_t db = 3;
  mox_handle_set_placement(h, 1);
  mox_handle_set_containment(h, 1);
  class_map_list *l = class_map_list_create(h, db);
  class_map_entry *e = class_map_entry_create(h, db);
  using K = std::vector<uint32_t>;
  // Append to an empty list: the entry's next and prev, the head's first and
  // last (the list's), then the containment report; remove: the head's two
  // links, then the entry is reported and detached; in private memory no
  // platform announcement at all.
  const K dirty2{MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DIRTY};
  struct Step {
    std::function<uint32_t()> op;
    K of_list, of_entry;
  } steps[] = {
      {[&] { return class_map_list_entry_set_last(h, db, l, e, &err); }, dirty2,
       {MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DIRTY, MOX_EVENT_CONTAINMENT}},
      {[&] { return class_map_list_entry_remove(h, db, l, e, &err); }, dirty2,
       {MOX_EVENT_CONTAINMENT, MOX_EVENT_PLAT_DETACH}},
      {[&] { return class_map_list_entry_set_last(h, MOX_NO_DB, l, e, &err); }, K{},
       K{MOX_EVENT_CONTAINMENT}},
  };
  for (const Step &s : steps) {
    mox_event_clear(h);
    EXPECT_EQ(s.op(), 0u);
    EXPECT_EQ(events_of(h, l), s.of_list);
    EXPECT_EQ(events_of(h, e), s.of_entry);
  }
  class_map_list_destroy(h, db, l);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(ClassMapListDeathTest, CorruptTrackingModeAborts) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  class_map_entry *e = entry(h, "x");
  mox_handle_set_sttr_mode(h, 0x1234);
  EXPECT_DEATH(class_map_list_entry_set_last(h, kDb, l, e, &err), "");
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  class_map_entry_destroy(h, kDb, e);
  class_map_list_destroy(h, kDb, l);
}

}  // namespace
