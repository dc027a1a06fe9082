// The class-map list: walk, append, insert after, remove, refused misuse,
// move by the record-level copy, destroy of entries and of the list, its state
// byte and the announcements of its count, owners and link words.
#include <gtest/gtest.h>

#include <cstddef>
#include <algorithm>
#include <functional>
#include <list>
#include <random>
#include <string>
#include <tuple>
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

// Appends, inserts after a linked entry, removes and destroys of linked
// entries at random, against a std::list: after each step the walk (with its
// count, links and owners), the last entry and the list's state byte, which
// an append or insert marks and a remove leaves alone; a removed entry is
// handed back unlinked and can be linked again.
TEST(ClassMapList, AppendInsertRemoveAndDestroyAgainstAModel) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  EXPECT_EQ((std::tuple{class_map_list_entry_get_first(h, kDb, l, &err), class_map_list_entry_get_last(h, kDb, l, &err)}),
            (std::tuple{nullptr, nullptr}));
  std::vector<class_map_entry *> pool;
  for (int i = 0; i < 6; ++i) pool.push_back(entry(h, std::to_string(i).c_str()));
  std::list<class_map_entry *> model;
  std::mt19937 rng(5);
  for (int step = 0; step < 400; ++step) {
    SCOPED_TRACE(step);
    const size_t pick = rng() % pool.size();
    class_map_entry *e = pool[pick];
    auto at = std::find(model.begin(), model.end(), e);
    class_map_list_entry_state_flag_set(h, kDb, l, 1, &err);
    int state = 2;
    if (at != model.end()) {
      if (rng() % 4) {
        EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e, &err), 0u);
        EXPECT_EQ(e->links.owner, nullptr);
      } else {  // destroyed while linked: it leaves the list
        class_map_entry_destroy(h, kDb, e);
        pool[pick] = entry(h, ("d" + std::to_string(step)).c_str());
      }
      model.erase(at);
      state = 1;
    } else if (model.empty() || rng() % 2) {
      EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, e, &err), 0u);
      model.push_back(e);
    } else {
      auto ref = std::next(model.begin(), rng() % model.size());
      EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, *ref, e, &err), 0u);
      model.insert(std::next(ref), e);
    }
    Names want;
    for (class_map_entry *x : model) want.emplace_back(x->class_name.str);
    ASSERT_EQ(names(h, l), want);
    EXPECT_EQ((std::tuple{class_map_list_entry_get_last(h, kDb, l, &err),
                              class_map_list_entry_state_flag_get(h, kDb, l, &err), err}),
              (std::tuple{model.empty() ? nullptr : model.back(), state, 0u}));
  }
  for (class_map_entry *e : pool)
    if (std::find(model.begin(), model.end(), e) == model.end()) class_map_entry_destroy(h, kDb, e);
  class_map_list_destroy(h, kDb, l);  // destroys the linked entries with it
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Every misuse of an entry is refused with 22 and its own message, a missing
// entry with 2, a list of negative variant with 43, and an error already in
// the slot makes the operation a no-op: before anything is stored, so both
// lists keep their entries, links and counts.
TEST(ClassMapList, MisuseAndRefusalsChangeNothing) {
  // l holds a, b; o holds x; u is in no list.  A case's text is the one message traced, if any.
  struct Lists { class_map_list *l, *o; class_map_entry *a, *b, *x, *u; };
  using Op = std::function<uint32_t(mox_handle_t *, const Lists &, uint32_t *)>;
  struct Case { const char *what; Op op; uint32_t code; const char *text; };
  const char *not_in_list = "class_map_list entry_remove: class_map_entry is not linked in this list";
  const char *set_last = "class_map_list entry_set_last: class_map_entry is already linked in a list";
  const char *set_after = "class_map_list entry_set_after: class_map_entry is already linked in a list";
  const char *ref = "class_map_list entry_set_after: reference class_map_entry is not linked in this list";
  auto negative = [](Op op) {  // the same on a list of negative variant
    return [op](mox_handle_t *h, const Lists &s, uint32_t *e) { s.l->variant = -1; const uint32_t r = op(h, s, e); s.l->variant = 0; return r; };
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
      EXPECT_EQ((std::tuple{c.op(h, s, &err), err, jc.announcements()}), (std::tuple{c.code, c.code, 0u}));
      EXPECT_TRUE(jc.Verify());
    }
    auto traced = orva_test::TraceRecords();
    ASSERT_EQ(traced.size(), c.text ? 1u : 0u);
    if (c.text) {
      EXPECT_EQ((std::tuple{std::string(traced[0].text), traced[0].level}), (std::tuple{c.text, 0x3000000u}));
    }
    EXPECT_EQ((std::tuple{names(h, s.l), class_map_list_entry_state_flag_get(h, kDb, s.l, &(err = 0)),
                              names(h, s.o), s.u->links.owner}), (std::tuple{Names{"a", "b"}, 1, Names{"x"}, nullptr}));
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
    EXPECT_EQ((std::tuple{names(h, &d->class_map), names(h, &s->class_map)}), (std::tuple{c.dst, c.src}));
    qos_policy_content_destroy(h, kDb, d);
    EXPECT_EQ(names(h, &s->class_map), c.src);
    qos_policy_content_destroy(h, kDb, s);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

class_map_entry *g_finished = nullptr;

// A linked entry with references leaves the list at once and is destroyed
// when the last reference goes.  A list created with tracking off, appended
// to with tracking on: the entry is linked all the same, and the missing
// state area is reported with 22.
TEST(ClassMapList, LinkedEntryWithReferencesAndUntrackedList) {
  ScopedHandle h(MOX_STTR_OFF);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb), *untracked = class_map_list_create(h, kDb);
  class_map_entry *a = entry(h, "a"), *b = entry(h, "b"), *d = entry(h, "d");
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
  EXPECT_EQ(names(h, l), (Names{"b"}));
  EXPECT_EQ((std::tuple{a->links.owner, std::string(a->class_name.str)}), (std::tuple{nullptr, "a"}));
  class_map_list_destroy(h, kDb, l);
  EXPECT_EQ(g_finished, nullptr);
  mox_oid_mapping_release(h, kDb, a);
  EXPECT_EQ(g_finished, a);

  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  mox_trace_clear();
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, untracked, d, &err), 22u);
  EXPECT_TRUE(orva_test::Traced("The object is not state tracked"));
  EXPECT_EQ(d->links.owner, &untracked->entry);
  class_map_list_destroy(h, kDb, untracked);
  EXPECT_EQ(h.live_bytes(), 0u);
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
    EXPECT_EQ((std::tuple{orva_test::EventsOf(h, l), orva_test::EventsOf(h, e)}), (std::tuple{s.of_list, s.of_entry}));
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
