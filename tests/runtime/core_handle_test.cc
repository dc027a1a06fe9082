// Handle defaults, allocation accounting, fault injection, the workspace,
// the error services, the write journal with the JournalCheck helper built
// on it, type statistics, object-id mappings, the type registry and the
// events the runtime records.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::JournalCheck;
using orva_test::ScopedHandle;

// Defaults: no database, no state tracking, variants adjusted, the default
// registry; mode 0 removes a state-tracking configuration.
TEST(CoreHandle, DefaultsAllocationAccountingFaultInjectionWorkspaceAndErrors) {
  mox_handle_t *fresh = mox_handle_create();
  EXPECT_EQ((std::tuple{fresh->current_db, fresh->sttr_config, fresh->adjust_variant_enabled, fresh->type_registry,
                        mt_get_tenant_id(nullptr)}), (std::tuple{MOX_NO_DB, nullptr, 1u, mox_default_registry(), 0}));
  mox_handle_destroy(fresh);
  mox_handle_destroy(nullptr);  // tolerated
  ScopedHandle h(MOX_STTR_OFF);
  mox_handle_set_sttr_mode(h, 0);
  EXPECT_EQ(h->sttr_config, nullptr);
  auto alloc = [&](uint32_t n) { return h->record_alloc(h->record_heap, MOX_NO_DB, n); };
  auto release = [&](void *p) { h->record_free(h->record_heap, MOX_NO_DB, p); };
  void *a = alloc(100), *b = alloc(28);
  std::memset(a, 0xAB, 100);  // the whole size is usable (ASan checks the bound)
  EXPECT_EQ((std::tuple{reinterpret_cast<uintptr_t>(a) % 16, h.live_bytes()}), (std::tuple{0u, 128u}))
      << "blocks must keep malloc alignment";
  release(a);
  EXPECT_EQ(h.live_bytes(), 28u);
  release(nullptr);  // not counted
  release(b);
  mox_alloc_stats_t s = h.alloc_stats();
  EXPECT_EQ((std::tuple{s.allocs, s.frees, s.live_bytes, s.failed}), (std::tuple{2u, 2u, 0u, 0u}));

  // Two more allocations of either hook succeed, then every one fails.
  h.fail_alloc_after(2);
  a = alloc(8);
  void *kept = h->registry_alloc(h->registry_heap, MOX_NO_DB, 8);  // stays reachable
  EXPECT_EQ((std::tuple{kept != nullptr, alloc(8), h->registry_alloc(h->registry_heap, MOX_NO_DB, 8)}),
            (std::tuple{true, nullptr, nullptr}));
  s = h.alloc_stats();
  EXPECT_EQ((std::tuple{s.allocs, s.failed, s.live_bytes}), (std::tuple{4u, 2u, 8u}))
      << "registry copies are not record storage";
  h.fail_alloc_after(0);
  EXPECT_EQ(alloc(8), nullptr);
  h.fail_alloc_after(-1);
  release(a);

  // The workspace only grows, keeps its content and zero-fills the new bytes.
  auto *ws = static_cast<uint8_t *>(moxlib_get_handle_ws(h, 16));
  std::memset(ws, 0x5A, 16);
  EXPECT_EQ(moxlib_get_handle_ws(h, 8), ws);
  auto *grown = static_cast<uint8_t *>(moxlib_get_handle_ws(h, 4096));
  EXPECT_EQ((std::tuple{grown[15], grown[16], grown[4095]}), (std::tuple{0x5A, 0, 0}));

  // The error services: the last error, the epoch error, the call count.
  const uint64_t calls = mox_rt_call_count();
  mox_store_err(h, 12);
  EXPECT_EQ(h->last_error, 12u);
  mox_clear_last_error(h);
  (void)mox_journal_count(h);  // queries do not count
  (void)mox_trace_count();
  EXPECT_EQ(mox_rt_call_count() - calls, 2u);
  // Another thread counts in its own word, which stays in the total after the
  // thread ended.
  std::thread([] {
    for (int i = 0; i < 3; ++i) mox_clear_last_error(nullptr);
  }).join();
  EXPECT_EQ(mox_rt_call_count() - calls, 5u);

  for (uint32_t defer : {0u, 1u}) {
    h->epoch_defer = defer;
    uint32_t slot = 0;
    const uint32_t code = defer ? 52 : 43;
    mox_store_epoch_err(h, code, &slot);
    EXPECT_EQ((std::tuple{slot, h->last_error, h->epoch_error}),
              (std::tuple{defer ? 0u : code, code, code}))
        << "a deferring handle leaves the caller's slot clear";
  }
  mox_store_epoch_err(h, 43, nullptr);  // no slot at all

  void *p = moxlib_malloc(0);
  uint8_t buf[8];
  EXPECT_EQ((std::tuple{p != nullptr, plume_set_range(nullptr, buf, 8, 3), plume_set_range(nullptr, nullptr, 8, 3)}),
            (std::tuple{true, 1u, 14u}));
  moxlib_free(p);
}

TEST(CoreHandleDeathTest, RecordFreeRefusesABlockItDidNotHandOutAndBassertStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedHandle h;
  alignas(16) uint8_t foreign[64] = {};
  EXPECT_DEATH(h->record_free(h->record_heap, MOX_NO_DB, foreign + 32), "not a live block");
  bassert(1);
  EXPECT_DEATH(bassert(0), "bassert failed");
}

void announce(mox_handle_t *h, void *addr, uint32_t len, void *owner = nullptr) {
  h->write_notify(h, addr, len, 7, owner);
}

testing::AssertionResult names(const testing::AssertionResult &r, const char *byte,
                               const char *why) {
  const std::string m = r.message();
  if (!r && m.find(byte) != std::string::npos && m.find(why) != std::string::npos)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "expected a failure naming '" << byte << "' and '" << why
                                     << "', got: " << (r ? "success" : m);
}

TEST(CoreJournal, RecordsRangesWithTheBytesBeforeTheStoreAndTheCheckNeedsEveryStoreAnnouncedFirst) {
  ScopedHandle h;
  uint8_t rec[16];
  std::memset(rec, 0x11, sizeof rec);
  announce(h, rec, 4);  // journal off: nothing kept

  h.journal(true);
  announce(h, rec + 2, 3, rec);
  rec[2] = 0x22;  // the store after the announcement must not change the copy
  announce(h, rec + 2, 1);
  ASSERT_EQ(mox_journal_count(h), 2u) << "only the announcements made with the journal on";
  mox_journal_entry_t e, f, none;
  ASSERT_TRUE(mox_journal_get(h, 0, &e) && mox_journal_get(h, 1, &f) && !mox_journal_get(h, 2, &none));
  EXPECT_EQ((std::tuple{e.addr, e.len, e.db, e.owner, e.before[0], f.before[0]}),
            (std::tuple{static_cast<void *>(rec + 2), 3u, 7u, static_cast<void *>(rec), uint8_t{0x11}, uint8_t{0x22}}));

  // Covered: every byte in some announced range, adjacent ranges together.
  announce(h, rec + 5, 2);  // [2, 7) now, a gap at 7 and 8
  announce(h, rec + 9, 4);
  const std::tuple<int, uint32_t, bool> covers[] = {{2, 5, true},  {10, 3, true}, {2, 8, false},
                                                    {1, 2, false}, {12, 2, false}, {0, 0, true}};
  for (const auto &[at, len, covered] : covers)
    EXPECT_EQ(mox_journal_covers(h, rec + at, len) != 0, covered) << at << "+" << len;
  mox_journal_clear(h);
  EXPECT_EQ(mox_journal_count(h), 0u);

  // The JournalCheck helper passes only when every changed byte was announced first.
  h.journal(false);
  uint8_t area[24] = {};
  uint8_t other[8] = {};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{area, sizeof area, "area"}}, [&] { announce(h, area + 5, 2), area[5] = 1, area[6] = 2; }));
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{area, sizeof area, "area"}, {other, 8, "other"}},
                                               [&] { announce(h, area, 1), area[0] = 9, other[3] = 4; }),
                    "byte 3 of other", "without an announcement"));
  // Stored first, announced afterwards: refused although the range is covered.
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{area, sizeof area, "area"}}, [&] { area[10] = 0x7F, announce(h, area + 10, 1); }),
                    "byte 10 of area", "before its announcement"));
  EXPECT_EQ(mox_journal_enabled(h), 0u) << "the check restores the journal state it found";

  // Announcements recorded before the snapshot do not count for later stores.
  h.journal(true);
  announce(h, area + 20, 1);
  {
    JournalCheck check(h, {{area, sizeof area, "area"}});
    area[20] = 1;
    EXPECT_FALSE(check.Verify());
    check.Rebase();
    EXPECT_TRUE(check.Verify()) << "after a rebase the current content is the reference";
  }
  EXPECT_EQ(mox_journal_enabled(h), 1u);
}

struct TestRecord { MOX_OBJ_HEADER; uint32_t value; };

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

struct Finished { mox_handle_t *h = nullptr; uint32_t db = 0; void *obj = nullptr; int calls = 0; } g_finished;
void finish_destroy(mox_handle_t *h, uint32_t db, void *obj) {
  g_finished = {h, db, obj, g_finished.calls + 1};
  // The mapping must already be gone when the object is finished off.
  EXPECT_EQ(mox_oid_mapping_refs(h, obj), 0u);
  EXPECT_EQ(static_cast<TestRecord *>(obj)->flags & MOX_FLAG_OID_MAPPED, 0);
}

TEST(CoreOidMapping, DestroyIsDeferredWhileOthersHoldReferencesOrImmediate) {
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

  // An immediate destroy, and the owner's reference.
  g_finished = {};
  TestRecord obj{};
  ASSERT_EQ(mox_oid_mapping_create(h, MOX_NO_DB, &obj, 2, 1, finish_destroy), 1u);
  EXPECT_EQ((std::tuple{mox_oid_mapping_release(h, MOX_NO_DB, &obj), mox_oid_mapping_refs(h, &obj)}), (std::tuple{1u, 1u}))
      << "the owner's reference goes only with a destroy request";
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

TEST(CoreRegistry, InsertLookupOwnershipOfDefaultCopiesAndEventsInOrder) {
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

  // Events: the announcements are recorded in order.
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
}

}  // namespace
