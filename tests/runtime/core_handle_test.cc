// Handle defaults, allocation accounting, fault injection, the workspace and
// the error services.
#include <gtest/gtest.h>

#include <cstring>

#include "handle.h"
#include "mox/runtime.h"

namespace {

using orva_test::ScopedHandle;

TEST(CoreHandle, DefaultsAndSetters) {
  mox_handle_t *h = mox_handle_create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->placement, 0u);
  EXPECT_EQ(h->current_db, MOX_NO_DB);
  EXPECT_EQ(h->sttr_config, nullptr);
  EXPECT_EQ(h->adjust_variant_enabled, 1u);
  EXPECT_EQ(h->domain.default_variant, 127u);
  EXPECT_EQ(h->type_registry, mox_default_registry());
  EXPECT_EQ(h->registry_insert, &mox_registry_insert);
  EXPECT_EQ(h->registry_lookup, &mox_registry_lookup);
  EXPECT_NE(h->record_alloc, nullptr);
  EXPECT_NE(h->record_free, nullptr);
  EXPECT_NE(h->write_notify, nullptr);
  EXPECT_EQ(mox_journal_enabled(h), 0u);
  mox_handle_set_placement(h, 1);
  mox_handle_set_containment(h, 1);
  mox_handle_set_tenant(h, 0xBEEF);
  EXPECT_EQ(h->placement, 1u);
  EXPECT_EQ(h->containment_enabled, 1u);
  EXPECT_EQ(mt_get_tenant_id(h), 0xBEEF);
  EXPECT_EQ(mt_get_tenant_id(nullptr), 0);
  mox_handle_destroy(h);
  mox_handle_destroy(nullptr);  // tolerated

  // Mode 0 removes the configuration; any other value is stored unchecked.
  ScopedHandle s(MOX_STTR_OFF);
  EXPECT_EQ(s->type_registry, s.registry());
  EXPECT_EQ(s->sttr_config->word[MOX_STTR_MODE_WORD], MOX_STTR_OFF);
  mox_handle_set_sttr_mode(s, 0x1234);
  ASSERT_NE(s->sttr_config, nullptr);
  EXPECT_EQ(s->sttr_config->word[MOX_STTR_MODE_WORD], 0x1234u);
  mox_handle_set_sttr_mode(s, 0);
  EXPECT_EQ(s->sttr_config, nullptr);
}

TEST(CoreHandle, AllocationAccountingAndFaultInjection) {
  ScopedHandle h;
  void *a = h->record_alloc(h->record_heap, MOX_NO_DB, 100);
  void *b = h->record_alloc(h->record_heap, MOX_NO_DB, 28);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u) << "blocks must keep malloc alignment";
  std::memset(a, 0xAB, 100);  // the whole size is usable (ASan checks the bound)
  EXPECT_EQ(h.live_bytes(), 128u);
  h->record_free(h->record_heap, MOX_NO_DB, a);
  EXPECT_EQ(h.live_bytes(), 28u);
  h->record_free(h->record_heap, MOX_NO_DB, nullptr);  // not counted
  h->record_free(h->record_heap, MOX_NO_DB, b);
  mox_alloc_stats_t s = h.alloc_stats();
  EXPECT_EQ(s.allocs, 2u);
  EXPECT_EQ(s.frees, 2u);
  EXPECT_EQ(s.live_bytes, 0u);
  EXPECT_EQ(s.failed, 0u);

  // Two more allocations of either hook succeed, then every one fails.
  h.fail_alloc_after(2);
  a = h->record_alloc(h->record_heap, MOX_NO_DB, 8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(h->registry_alloc(h->registry_heap, MOX_NO_DB, 8), nullptr);  // stays reachable
  EXPECT_EQ(h->record_alloc(h->record_heap, MOX_NO_DB, 8), nullptr);
  EXPECT_EQ(h->registry_alloc(h->registry_heap, MOX_NO_DB, 8), nullptr);
  s = h.alloc_stats();
  EXPECT_EQ(s.allocs, 4u);
  EXPECT_EQ(s.failed, 2u);
  EXPECT_EQ(s.live_bytes, 8u) << "registry copies are not record storage";
  h.fail_alloc_after(0);
  EXPECT_EQ(h->record_alloc(h->record_heap, MOX_NO_DB, 8), nullptr);
  h.fail_alloc_after(-1);
  b = h->record_alloc(h->record_heap, MOX_NO_DB, 8);
  EXPECT_NE(b, nullptr);
  h->record_free(h->record_heap, MOX_NO_DB, a);
  h->record_free(h->record_heap, MOX_NO_DB, b);
}

TEST(CoreHandleDeathTest, RecordFreeRefusesABlockItDidNotHandOutAndBassertStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScopedHandle h;
  alignas(16) uint8_t foreign[64] = {};
  EXPECT_DEATH(h->record_free(h->record_heap, MOX_NO_DB, foreign + 32), "not a live block");
  bassert(1);
  EXPECT_DEATH(bassert(0), "bassert failed");
}

TEST(CoreHandle, WorkspaceGrowsKeepsContentAndIsFreedWithTheHandle) {
  ScopedHandle h;
  auto *ws = static_cast<uint8_t *>(moxlib_get_handle_ws(h, 16));
  ASSERT_NE(ws, nullptr);
  std::memset(ws, 0x5A, 16);
  EXPECT_EQ(moxlib_get_handle_ws(h, 8), ws) << "a smaller request reuses the workspace";
  auto *grown = static_cast<uint8_t *>(moxlib_get_handle_ws(h, 4096));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown[15], 0x5A);
  EXPECT_EQ(grown[16], 0);
  EXPECT_EQ(grown[4095], 0);
  EXPECT_EQ(h->workspace, grown);
}

TEST(CoreErrors, LastErrorEpochErrorAndCallCount) {
  ScopedHandle h;
  const uint64_t calls = mox_rt_call_count();
  mox_store_err(h, 12);
  EXPECT_EQ(h->last_error, 12u);
  mox_clear_last_error(h);
  EXPECT_EQ(h->last_error, 0u);
  EXPECT_EQ(mox_rt_call_count() - calls, 2u);
  const uint64_t quiet = mox_rt_call_count();
  (void)mox_journal_count(h);
  (void)mox_trace_count();
  EXPECT_EQ(mox_rt_call_count(), quiet) << "queries must not look like runtime calls";

  for (uint32_t defer : {0u, 1u}) {
    h->epoch_defer = defer;
    uint32_t slot = 0;
    const uint32_t code = defer ? 52 : 43;
    mox_store_epoch_err(h, code, &slot);
    EXPECT_EQ(slot, defer ? 0u : code) << "a deferring handle leaves the caller's slot clear";
    EXPECT_EQ(h->last_error, code);
    EXPECT_EQ(h->epoch_error, code);
  }
  mox_store_epoch_err(h, 43, nullptr);  // no slot at all
  EXPECT_EQ(h->epoch_error, 43u);
}

TEST(CoreMemory, PlainHelpers) {
  uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(memset_cr(buf, 0, sizeof buf), buf);
  for (uint8_t b : buf) EXPECT_EQ(b, 0);
  void *p = moxlib_malloc(0);
  EXPECT_NE(p, nullptr);
  moxlib_free(p);
  EXPECT_EQ(plume_set_range(nullptr, buf, 8, MOX_NO_DB), 1u);
  EXPECT_EQ(plume_set_range(nullptr, buf, 8, 3), 1u);
  EXPECT_EQ(plume_set_range(nullptr, nullptr, 8, 3), 14u);
}

}  // namespace
