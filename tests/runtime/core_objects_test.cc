// Type statistics, object-id mappings, the type registry and the events the
// runtime records.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::ScopedHandle;

struct TestRecord {
  MOX_OBJ_HEADER;
  uint32_t value;
};

TEST(CoreStats, CountsCreateDestroyPeakAndRefusesUnderflow) {
  ScopedHandle h;
  mox_type_stats_t s{};
  uint32_t slot = 0;
  for (bool create : {true, true, false, true, false, false}) {
    (create ? moxlib_type_stats_create_object : moxlib_type_stats_destroy_object)(
        h, MOX_NO_DB, nullptr, &s, &slot);
  }
  EXPECT_EQ((std::tuple{s.created, s.destroyed, s.live, s.peak, s.failed, slot}),
            (std::tuple{3u, 3u, 0u, 2u, 0u, 0u}));
  moxlib_type_stats_destroy_object(h, MOX_NO_DB, nullptr, &s, &slot);  // live would go below zero
  EXPECT_EQ((std::tuple{slot, h->last_error, s.created, s.destroyed, s.live, s.peak, s.failed}),
            (std::tuple{22u, 22u, 3u, 3u, 0u, 2u, 1u}));
  moxlib_type_stats_create_object(h, MOX_NO_DB, nullptr, &s, &slot);
  EXPECT_EQ(s.created, 3u) << "an error on entry changes nothing";

  EXPECT_EQ((std::tuple{moxlib_type_stats_add_internal(h, MOX_NO_DB, nullptr, &s, 7),
                        moxlib_type_stats_add_internal(h, MOX_NO_DB, nullptr, nullptr, MOX_STATS_CREATE),
                        moxlib_type_stats_add_internal(h, MOX_NO_DB, nullptr, &s, MOX_STATS_CREATE), s.live}),
            (std::tuple{22u, 22u, 0u, 1u}));

  // Two threads updating the area at the same time lose no update; under
  // ThreadSanitizer an unsynchronized update is reported as a race.
  std::atomic<int> ready{0};
  auto lives = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();  // both loops run together
    for (int i = 0; i < 2000; ++i) {
      moxlib_type_stats_create_object(nullptr, MOX_NO_DB, nullptr, &s, nullptr);
      moxlib_type_stats_destroy_object(nullptr, MOX_NO_DB, nullptr, &s, nullptr);
    }
  };
  std::thread a(lives), b(lives);
  a.join(), b.join();
  EXPECT_EQ((std::tuple{s.created, s.destroyed, s.live, s.failed, s.peak <= 3}),
            (std::tuple{4004u, 4003u, 1u, 1u, true}));
}

struct Finished {
  mox_handle_t *h = nullptr;
  uint32_t db = 0;
  void *obj = nullptr;
  int calls = 0;
} g_finished;
void finish_destroy(mox_handle_t *h, uint32_t db, void *obj) {
  g_finished = {h, db, obj, g_finished.calls + 1};
  // The mapping must already be gone when the object is finished off.
  EXPECT_EQ(mox_oid_mapping_refs(h, obj), 0u);
  EXPECT_EQ(static_cast<TestRecord *>(obj)->flags & MOX_FLAG_OID_MAPPED, 0);
}

TEST(CoreOidMapping, DestroyIsDeferredWhileOthersHoldReferences) {
  ScopedHandle h;
  g_finished = {};
  TestRecord table{};
  table.flags = MOX_FLAG_STATE_TRACKED;
  const orva_test::Region region{&table, sizeof table, "table"};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {region}, [&] {
    EXPECT_EQ(mox_oid_mapping_create(h, 3, &table, 2, 0, finish_destroy), 1u);
  }));
  // Mapped once only; references counted; a destroy request while others
  // hold it leaves the mapping.
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{int(table.flags), mox_oid_mapping_refs(h, &table),
                        mox_oid_mapping_create(h, 3, &table, 2, 0, finish_destroy), mox_oid_mapping_add_ref(h, &table),
                        mox_oid_mapping_add_ref(h, &table), mox_request_oid_mapping_destroy(h, 3, &table, &err), err,
                        table.flags & MOX_FLAG_OID_MAPPED, mox_oid_mapping_release(h, 3, &table), g_finished.calls}),
            (std::tuple{MOX_FLAG_STATE_TRACKED | MOX_FLAG_OID_MAPPED, 1u, 0u, 2u, 3u, 0u, 0u, int(MOX_FLAG_OID_MAPPED), 2u, 0}));
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {region}, [&] {
    EXPECT_EQ(mox_oid_mapping_release(h, 3, &table), 0u);
  }));
  EXPECT_EQ((std::tuple{g_finished.calls, g_finished.h, g_finished.db, g_finished.obj}),
            (std::tuple{1, h.get(), 3u, static_cast<void *>(&table)}));
  // Nothing left to release or to add to.
  EXPECT_EQ((std::tuple{int(table.flags), mox_oid_mapping_release(h, 3, &table), mox_oid_mapping_add_ref(h, &table),
                        g_finished.calls}), (std::tuple{int(MOX_FLAG_STATE_TRACKED), 0u, 0u, 1}));
}

TEST(CoreOidMapping, ImmediateDestroyAndTheOwnersReference) {
  ScopedHandle h;
  g_finished = {};
  TestRecord obj{};
  ASSERT_EQ(mox_oid_mapping_create(h, MOX_NO_DB, &obj, 2, 1, finish_destroy), 1u);
  EXPECT_EQ((std::tuple{mox_oid_mapping_release(h, MOX_NO_DB, &obj), mox_oid_mapping_refs(h, &obj)}), (std::tuple{1u, 1u}))
      << "the owner's reference goes only with a destroy request";
  uint32_t err = 0;
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&obj, sizeof obj, "obj"}}, [&] {
    EXPECT_EQ(mox_request_oid_mapping_destroy(h, MOX_NO_DB, &obj, &err), 1u);
  }));
  // An immediate destroy is finished by the caller; with no mapping left a
  // request says destroy at once; a null object is 22.
  EXPECT_EQ((std::tuple{obj.flags & MOX_FLAG_OID_MAPPED, g_finished.calls,
                        mox_request_oid_mapping_destroy(h, MOX_NO_DB, &obj, &err),
                        mox_request_oid_mapping_destroy(h, MOX_NO_DB, nullptr, &err), err}),
            (std::tuple{0, 0, 1u, 0u, 22u}));
  uint32_t busy = 11;
  ASSERT_EQ(mox_oid_mapping_create(h, MOX_NO_DB, &obj, 2, 1, nullptr), 1u);
  EXPECT_EQ(mox_request_oid_mapping_destroy(h, MOX_NO_DB, &obj, &busy), 0u);
  EXPECT_EQ(mox_oid_mapping_refs(h, &obj), 1u) << "an error on entry changes nothing";
}

TEST(CoreRegistry, InsertLookupAndOwnershipOfDefaultCopies) {
  void *reg = mox_registry_create();
  ScopedHandle h;
  int foreign = 0;
  const uint32_t size = sizeof(mox_registered_type_info_t);
  void *copy = h->registry_alloc(h->registry_heap, MOX_NO_DB, size);
  ASSERT_NE(copy, nullptr);
  std::memset(copy, 0, size);  // the whole copy is usable
  // A key is taken once; the database id does not matter to a lookup.
  EXPECT_EQ((std::tuple{mox_registry_insert(reg, MOX_NO_DB, "k1", copy), mox_registry_insert(reg, MOX_NO_DB, "k2", &foreign),
                        mox_registry_insert(reg, MOX_NO_DB, "k1", &foreign), mox_registry_insert(reg, MOX_NO_DB, nullptr, &foreign),
                        mox_registry_lookup(reg, MOX_NO_DB, "k1"), mox_registry_lookup(reg, 4, "k2"),
                        mox_registry_lookup(reg, MOX_NO_DB, "k3"), mox_registry_count(reg)}),
            (std::tuple{0u, 0u, 17u, 22u, copy, static_cast<void *>(&foreign), static_cast<void *>(nullptr), 2u}));

  // A second registry that holds the same copy does not own it.
  void *second = mox_registry_create();
  EXPECT_EQ(mox_registry_insert(second, MOX_NO_DB, "k1", copy), 0u);
  mox_registry_destroy(second);
  EXPECT_EQ(static_cast<uint8_t *>(copy)[size - 1], 0) << "copy still alive (ASan checks)";
  // Destroying the owner frees the copy (LeakSanitizer would report it
  // otherwise) and leaves the foreign value alone.
  mox_registry_destroy(reg);
  EXPECT_EQ((std::tuple{foreign, h.live_bytes()}), (std::tuple{0, uint64_t{0}}));
  // The registries of two handles are independent.
  ScopedHandle other;
  EXPECT_EQ((std::tuple{mox_registry_insert(h.registry(), MOX_NO_DB, "x", &foreign),
                        mox_registry_lookup(other.registry(), MOX_NO_DB, "x")}), (std::tuple{0u, static_cast<void *>(nullptr)}));
}

TEST(CoreEvents, AnnouncementsAreRecordedInOrder) {
  ScopedHandle h;
  int item = 0, owner = 0;
  uint32_t err = 0;
  moxdb_record_containment2(h, 1, &item, &owner, 1);
  moxdb_plat_set_dirty(h, 2, &item);
  moxdb_plat_set_destroy(h, 3, &item);
  moxdb_plat_set_detach(h, 4, &item, 1);
  mox_hd_mapping_destroy(h, 5, &item, &err);
  mox_hd_mapping_destroy(h, 6, nullptr, &err);  // refused, not recorded
  EXPECT_EQ((std::tuple{err, h->last_error}), (std::tuple{22u, 22u}));
  const uint32_t kinds[] = {MOX_EVENT_CONTAINMENT, MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DESTROY,
                            MOX_EVENT_PLAT_DETACH, MOX_EVENT_HD_MAPPING_DESTROY};
  ASSERT_EQ(mox_event_count(h), 5u);
  mox_event_t e;
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(mox_event_get(h, i, &e));
    EXPECT_EQ((std::tuple{e.kind, e.db, e.item, i < 4 ? e.owner : nullptr}),
              (std::tuple{kinds[i], i + 1, static_cast<void *>(&item), i == 0 ? static_cast<void *>(&owner) : nullptr}));
  }
  EXPECT_FALSE(mox_event_get(h, 5, &e));
  mox_event_clear(h);
  EXPECT_EQ(mox_event_count(h), 0u);

  // No module is linked into this binary: the list root is an empty tail queue.
  EXPECT_EQ((std::tuple{mox_module_tot_root.count, mox_module_tot_root.first, mox_module_tot_root.last}),
            (std::tuple{0u, static_cast<mox_module_node_t *>(nullptr), &mox_module_tot_root.first}));
}

}  // namespace
