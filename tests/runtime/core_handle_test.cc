// Handle defaults, allocation accounting, fault injection, the workspace,
// the error services, and the write journal with the JournalCheck helper
// built on it.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::JournalCheck;
using orva_test::ScopedHandle;

TEST(CoreHandle, DefaultsAndSetters) {
  ScopedHandle s(MOX_STTR_OFF);
  mox_handle_t *h = mox_handle_create();
  EXPECT_EQ((std::tuple{h->current_db, h->sttr_config, h->adjust_variant_enabled,
                            h->domain.default_variant, h->type_registry}),
            (std::tuple{MOX_NO_DB, nullptr, 1u, 127u, mox_default_registry()}));
  EXPECT_EQ((std::tuple{h->registry_lookup, mt_get_tenant_id(nullptr)}), (std::tuple{&mox_registry_lookup, 0}));
  mox_handle_destroy(h);
  mox_handle_destroy(nullptr);  // tolerated

  // Mode 0 removes the configuration; any other value is stored unchecked.
  mox_handle_set_sttr_mode(s, 0x1234);
  EXPECT_EQ(s->sttr_config->word[MOX_STTR_MODE_WORD], 0x1234u);
  mox_handle_set_sttr_mode(s, 0);
  EXPECT_EQ(s->sttr_config, nullptr);
}

TEST(CoreHandle, AllocationAccountingFaultInjectionAndWorkspace) {
  ScopedHandle h;
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
  EXPECT_EQ(h->workspace, grown);
}

TEST(CoreHandleDeathTest, RecordFreeRefusesABlockItDidNotHandOutAndBassertStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedHandle h;
  alignas(16) uint8_t foreign[64] = {};
  EXPECT_DEATH(h->record_free(h->record_heap, MOX_NO_DB, foreign + 32), "not a live block");
  bassert(1);
  EXPECT_DEATH(bassert(0), "bassert failed");
}

TEST(CoreErrors, LastErrorEpochErrorCallCountAndPlainHelpers) {
  ScopedHandle h;
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

void announce(mox_handle_t *h, void *addr, uint32_t len, void *owner = nullptr) {
  h->write_notify(h, addr, len, 7, owner);
}

TEST(CoreJournal, RecordsRangesWithTheBytesBeforeTheStore) {
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
}

testing::AssertionResult names(const testing::AssertionResult &r, const char *byte,
                               const char *why) {
  const std::string m = r.message();
  if (!r && m.find(byte) != std::string::npos && m.find(why) != std::string::npos)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "expected a failure naming '" << byte << "' and '" << why
                                     << "', got: " << (r ? "success" : m);
}

TEST(CoreJournalCheck, PassesOnlyWhenEveryChangedByteWasAnnouncedFirst) {
  ScopedHandle h;
  uint8_t rec[24] = {};
  uint8_t other[8] = {};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}}, [&] { announce(h, rec + 5, 2), rec[5] = 1, rec[6] = 2; }));
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}, {other, 8, "other"}},
                                               [&] { announce(h, rec, 1), rec[0] = 9, other[3] = 4; }),
                    "byte 3 of other", "without an announcement"));
  // Stored first, announced afterwards: refused although the range is covered.
  EXPECT_TRUE(names(orva_test::StoresAnnounced(h, {{rec, sizeof rec, "rec"}}, [&] { rec[10] = 0x7F, announce(h, rec + 10, 1); }),
                    "byte 10 of rec", "before its announcement"));
  EXPECT_EQ(mox_journal_enabled(h), 0u) << "the check restores the journal state it found";

  // Announcements recorded before the snapshot do not count for later stores.
  h.journal(true);
  announce(h, rec + 20, 1);
  {
    JournalCheck check(h, {{rec, sizeof rec, "rec"}});
    rec[20] = 1;
    EXPECT_FALSE(check.Verify());
    check.Rebase();
    EXPECT_TRUE(check.Verify()) << "after a rebase the current content is the reference";
  }
  EXPECT_EQ(mox_journal_enabled(h), 1u);
}

}  // namespace
