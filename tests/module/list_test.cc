// The class-map list: walk, append, insert after, remove, move by the
// record-level copy, destroy of entries and of the list, its state byte and
// the announcements of its count and owners.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
using orva_test::ScopedHandle;

class_map_entry *entry(mox_handle_t *h, const char *name) {
  uint32_t err = 0;
  class_map_entry *e = class_map_entry_create(h, kDb);
  mox_vstring_set_value(h, kDb, class_map_entry_class_name_get(h, kDb, e, &err), name, &err);
  EXPECT_EQ(err, 0u);
  return e;
}

// The names of the entries, walked first to last through the exported walk.
std::vector<std::string> names(mox_handle_t *h, class_map_list *l) {
  std::vector<std::string> out;
  uint32_t err = 0;
  for (class_map_entry *e = class_map_list_entry_get_first(h, kDb, l, &err); e != nullptr;
       e = class_map_list_entry_get_next(h, kDb, l, e, &err))
    out.emplace_back(e->class_name.str);
  EXPECT_EQ(err, 0u);
  return out;
}

using Names = std::vector<std::string>;

TEST(ClassMapList, WalkAppendInsertRemoveAndStateByte) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(class_map_list_entry_get_first(h, kDb, l, &err), nullptr);
  EXPECT_EQ(class_map_list_entry_get_last(h, kDb, l, &err), nullptr);
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 0u);
  EXPECT_EQ(l->entry.first, &l->entry);
  EXPECT_EQ(l->entry.list, l);

  class_map_entry *e1 = entry(h, "voice"), *e2 = entry(h, "video"), *e3 = entry(h, "signal");
  class_map_entry *e4 = entry(h, "bulk");
  EXPECT_EQ(e1->links.owner, nullptr);
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, e1, &err), 0u);
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, e2, &err), 0u);
  EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, e1, e3, &err), 0u);
  EXPECT_EQ(names(h, l), (Names{"voice", "signal", "video"}));
  EXPECT_EQ(class_map_list_entry_get_last(h, kDb, l, &err), e2);
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 3u);
  EXPECT_EQ(e3->links.owner, &l->entry);
  EXPECT_EQ(class_map_list_entry_state_flag_get(h, kDb, l, &err), 2);

  // Insert after the last entry: the new one becomes the last.
  EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, e2, e4, &err), 0u);
  EXPECT_EQ(class_map_list_entry_get_last(h, kDb, l, &err), e4);
  EXPECT_EQ(e4->links.next, &l->entry);

  // Remove leaves the state byte alone and hands the entry back unlinked.
  class_map_list_entry_state_flag_set(h, kDb, l, 1, &err);
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e1, &err), 0u);  // the first
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e4, &err), 0u);  // the last
  EXPECT_EQ(names(h, l), (Names{"signal", "video"}));
  EXPECT_EQ(e1->links.owner, nullptr);
  EXPECT_EQ(class_map_list_entry_state_flag_get(h, kDb, l, &err), 1);
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e3, &err), 0u);
  EXPECT_EQ(class_map_list_entry_remove(h, kDb, l, e2, &err), 0u);
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 0u);
  EXPECT_EQ(l->entry.first, &l->entry);
  EXPECT_EQ(l->entry.last, &l->entry);
  EXPECT_EQ(err, 0u);

  // Removed entries can be linked again; a removed one is the caller's to destroy.
  class_map_list_entry_set_last(h, kDb, l, e2, &err);
  class_map_list_entry_set_last(h, kDb, l, e1, &err);
  for (class_map_entry *e : {e3, e4}) class_map_entry_destroy(h, kDb, e);
  class_map_list_destroy(h, kDb, l);  // destroys e2 and e1 with it
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(ClassMapList, RecordLevelCopyMovesTheEntries) {
  for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
    ScopedHandle h(mode);
    uint32_t err = 0;
    class_map_list *src = class_map_list_create(h, kDb);
    class_map_list *dst = class_map_list_create(h, kDb);
    for (const char *n : {"a", "b", "c"}) class_map_list_entry_set_last(h, kDb, src, entry(h, n), &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(class_map_list_set(h, kDb, dst, src, &err), 0u);
    EXPECT_EQ(names(h, dst), (Names{"a", "b", "c"}));
    EXPECT_EQ(class_map_list_entry_get_count(h, kDb, dst, &err), 3u);
    for (class_map_entry *e = class_map_list_entry_get_first(h, kDb, dst, &err); e != nullptr;
         e = class_map_list_entry_get_next(h, kDb, dst, e, &err))
      EXPECT_EQ(e->links.owner, &dst->entry);
    EXPECT_EQ(static_cast<class_map_entry *>(dst->entry.first)->links.prev, &dst->entry);
    EXPECT_EQ(static_cast<class_map_entry *>(dst->entry.last)->links.next, &dst->entry);
    EXPECT_EQ(dst->entry.list, dst);
    EXPECT_EQ(class_map_list_entry_get_count(h, kDb, src, &err), 0u);
    EXPECT_EQ(class_map_list_entry_get_first(h, kDb, src, &err), nullptr);
    EXPECT_EQ(src->entry.first, &src->entry);

    // Each list destroys what it holds: nothing twice, nothing left.
    class_map_list_destroy(h, kDb, src);
    class_map_list_destroy(h, kDb, dst);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

TEST(ClassMapList, LinkedEntryDestroyTrackingAndVariantRefusals) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  class_map_list *l = class_map_list_create(h, kDb);
  class_map_entry *a = entry(h, "a"), *b = entry(h, "b"), *c = entry(h, "c");
  for (class_map_entry *e : {a, b, c}) class_map_list_entry_set_last(h, kDb, l, e, &err);
  // Destroying a linked entry unlinks it and keeps the count true.
  class_map_entry_destroy(h, kDb, b);
  EXPECT_EQ(names(h, l), (Names{"a", "c"}));
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 2u);
  EXPECT_EQ(a->links.next, c);
  EXPECT_EQ(c->links.prev, a);

  // A missing entry or reference entry is a missing required pointer.
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, nullptr, &err), 2u);
  err = 0;
  EXPECT_EQ(class_map_list_entry_set_after(h, kDb, l, nullptr, b, &err), 2u);
  err = 0;
  EXPECT_EQ(class_map_list_entry_get_next(h, kDb, l, nullptr, &err), nullptr);
  EXPECT_EQ(err, 2u);
  err = 0;
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 2u);

  // A list of negative variant refuses every operation with 43.
  l->variant = -1;
  class_map_entry *d = entry(h, "d");
  EXPECT_EQ(class_map_list_entry_get_first(h, kDb, l, &err), nullptr);
  EXPECT_EQ(err, 43u);
  err = 0;
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, l, d, &err), 43u);
  EXPECT_EQ(d->links.owner, nullptr);
  err = 0;
  l->variant = 0;
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 2u);

  // An error already in the slot makes every operation a no-op.
  err = 7;
  class_map_list_entry_set_last(h, kDb, l, d, &err);
  EXPECT_EQ(d->links.owner, nullptr);
  EXPECT_EQ(err, 7u);
  class_map_entry_destroy(h, kDb, d);
  class_map_list_destroy(h, kDb, l);

  // A list created with tracking off, appended to with tracking on: the entry
  // is linked all the same, and the missing state area is reported with 22.
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  class_map_list *untracked = class_map_list_create(h, kDb);
  class_map_entry *e = entry(h, "e");
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  mox_trace_clear();
  err = 0;
  EXPECT_EQ(class_map_list_entry_set_last(h, kDb, untracked, e, &err), 22u);
  EXPECT_TRUE(orva_test::Traced("The object is not state tracked"));
  EXPECT_EQ(e->links.owner, &untracked->entry);
  class_map_list_destroy(h, kDb, untracked);
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
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, l, &err), 1u);
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
  mox_event_clear(h);
  // Append to an empty list: the entry's next and prev, the head's first and
  // last (the list's), then the containment report of the entry.
  EXPECT_EQ(class_map_list_entry_set_last(h, db, l, e, &err), 0u);
  using K = std::vector<uint32_t>;
  EXPECT_EQ(events_of(h, e), (K{MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DIRTY, MOX_EVENT_CONTAINMENT}));
  EXPECT_EQ(events_of(h, l), (K{MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DIRTY}));
  // Remove: the head's two links, then the entry is reported and detached.
  mox_event_clear(h);
  EXPECT_EQ(class_map_list_entry_remove(h, db, l, e, &err), 0u);
  EXPECT_EQ(events_of(h, l), (K{MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DIRTY}));
  EXPECT_EQ(events_of(h, e), (K{MOX_EVENT_CONTAINMENT, MOX_EVENT_PLAT_DETACH}));
  // Private memory: no platform announcement at all.
  mox_event_clear(h);
  class_map_list_entry_set_last(h, MOX_NO_DB, l, e, &err);
  EXPECT_EQ(events_of(h, l), K{});
  EXPECT_EQ(events_of(h, e), K{MOX_EVENT_CONTAINMENT});
  class_map_list_destroy(h, db, l);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(ClassMapList, PostCopyoutCleanupAnnouncesItsStores) {
  ScopedHandle h(MOX_STTR_OFF);
  uint32_t err = 0;
  class_map_list *src = class_map_list_create(h, kDb);
  class_map_list *dst = class_map_list_create(h, kDb);
  class_map_entry *a = entry(h, "a"), *b = entry(h, "b");
  class_map_list_entry_set_last(h, kDb, src, a, &err);
  class_map_list_entry_set_last(h, kDb, src, b, &err);
  // What a byte copy of the list leaves in the destination's head.
  std::memcpy(&dst->entry, &src->entry, sizeof dst->entry);
  {
    orva_test::JournalCheck jc(h, {{&dst->entry.list, sizeof(void *), "dst list"},
                                   {&dst->entry.count, 4, "dst count"},
                                   {&src->entry.count, 4, "src count"},
                                   {&a->links.owner, sizeof(void *), "a owner"},
                                   {&b->links.owner, sizeof(void *), "b owner"}});
    class_map_list_post_copyout_cleanup(h, kDb, dst, src);
    EXPECT_TRUE(jc.Verify());
  }
  EXPECT_EQ(dst->entry.list, dst);
  EXPECT_EQ(names(h, dst), (Names{"a", "b"}));
  EXPECT_EQ(a->links.owner, &dst->entry);
  EXPECT_EQ(class_map_list_entry_get_count(h, kDb, src, &err), 0u);
  class_map_list_destroy(h, kDb, src);
  class_map_list_destroy(h, kDb, dst);
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
