// Record lifecycle through the exported operations: the header a create
// leaves, variants from the domain, the _cr chain and its placeholder,
// allocation failures, nested initialization without a base, OID-deferred
// destruction, negative variants, embedding, statistics and platform
// announcements.  (Sizes: the journal checks' regions and the 32-bit layout
// check.)
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
using orva_test::EventsOf;
using orva_test::ScopedHandle;
using orva_test::TraceLevel;

TEST(Lifecycle, HeaderVariantClampAndTypeInfoByPlacement) {
  ScopedHandle h(MOX_STTR_ON);
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  ASSERT_NE(c, nullptr);
  // placement 0: the static type-info record
  EXPECT_EQ((std::tuple{c->tinfo, int(c->variant), int(c->storage_variant), int(c->flags)}),
            (std::tuple{static_cast<void *>(&_qos_client_data_t_type_info_internal), 1, 1,
                            int(MOX_FLAG_STATE_TRACKED)}));
  // Nested records carry NESTED and tracking, and the type-info of their own
  // type; a domain asking more than the type has is clamped to its newest variant.
  mox_domain_set_default_variant(h, 5);
  qos_ap_radio_key_t *k = qos_ap_radio_key_t_create(h, kDb);
  EXPECT_EQ((std::tuple{c->client_installed_upstream_pm.flags & (MOX_FLAG_NESTED | MOX_FLAG_STATE_TRACKED),
                            c->client_installed_upstream_pm.tinfo, int(k->variant)}),
            (std::tuple{MOX_FLAG_NESTED | MOX_FLAG_STATE_TRACKED,
                            static_cast<void *>(&_qos_client_policy_t_type_info_internal), 0}));
  qos_client_data_t_destroy(h, kDb, c);
  qos_ap_radio_key_t_destroy(h, kDb, k);
  mox_domain_set_default_variant(h, 127);

  // Placement non-zero: the tinfo word is the registry's copy, and create and
  // destroy count in the copy's own variant information.
  mox_handle_set_placement(h, 2);
  qos_ap_radio_key_t_destroy(h, kDb, qos_ap_radio_key_t_create(h, kDb));  // registers the copy
  auto *copy = static_cast<mox_type_info_t *>(
      mox_registry_lookup(h.registry(), kDb, _qos_ap_radio_key_t_type_info_internal.luid_text));
  ASSERT_NE(copy, nullptr);
  mox_variant_entry_t entry{};
  mox_variant_info_t info{1, &entry};
  copy->variant_info = &info;
  const mox_type_stats_t &fixed =
      _qos_ap_radio_key_t_type_info_internal.variant_info->entries[0].stats;
  const uint32_t created = fixed.created;
  k = qos_ap_radio_key_t_create(h, kDb);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ((std::tuple{k->tinfo, fixed.created}), (std::tuple{static_cast<void *>(copy), created}));
  qos_ap_radio_key_t_destroy(h, kDb, k);
  EXPECT_EQ((std::tuple{entry.stats.created, entry.stats.destroyed, entry.stats.failed,
                            entry.stats.live}), (std::tuple{1u, 1u, 0u, 0u}));
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Where the runtime was told a nested record's state bytes lie, as an address.
const uint8_t *placed_area(mox_handle_t *h, const void *nested) {
  return static_cast<const uint8_t *>(nested) + moxlib_get_sttr_offset(h, kDb, nested);
}

TEST(Lifecycle, NestedStateAreasArePlacedAtEveryLevel) {
  ScopedHandle h(MOX_STTR_ON);
  // By offset_update: the outermost record places every level.  Positions in
  // the client's area: each policy's area after its own byte (2, 76); the
  // whole byte of tclas_set at 155, its element bytes, then the two 37-byte
  // element areas from 158; inside a set, tclas' three 9-byte areas from 9.
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  ASSERT_NE(c, nullptr);
  const uint8_t *area =
      reinterpret_cast<const uint8_t *>(c) + qos_client_data_t_sizeof_internal(h, c, 0, 0);
  const std::pair<const void *, uint32_t> placed[] = {
      {&c->client_installed_upstream_pm, 3}, {&c->client_installed_downstream_pm, 77}, {&c->tclas_set[0], 158},
      {&c->tclas_set[1], 195}, {&c->tclas_set[1].tclas[0], 195 + 9}, {&c->tclas_set[1].tclas[2], 195 + 27}};
  for (auto [nested, at] : placed) EXPECT_EQ(placed_area(h, nested), area + at) << at;
  EXPECT_TRUE(c->tclas_set[1].tclas[2].flags & MOX_FLAG_STTR_OFFSET_HELD);
  // With handle mappings on, destroy drops the mapping of every record whose
  // state offset the runtime holds (the nested ones), not of the outer one.
  h->hd_mapping_enabled = 1;
  mox_event_clear(h);
  qos_client_data_t_destroy(h, kDb, c);
  const std::vector<uint32_t> drop{MOX_EVENT_HD_MAPPING_DESTROY};
  EXPECT_EQ((std::tuple{EventsOf(h, c), EventsOf(h, &c->tclas_set[1].tclas[2]),
                            EventsOf(h, &c->client_installed_upstream_pm)}),
            (std::tuple{std::vector<uint32_t>{}, drop, drop}));
  h->hd_mapping_enabled = 0;

  // Within initialize, for a type with one nested field.
  qos_ap_data_t *a = qos_ap_data_t_create(h, kDb);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(placed_area(h, &a->qos_ap_pm),
            reinterpret_cast<const uint8_t *>(a) + qos_ap_data_t_sizeof_internal(h, a, 0, 0) + 2);
  qos_ap_data_t_destroy(h, kDb, a);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Lifecycle, CrChainPlaceholderAndAllocationFailure) {
  ScopedHandle h(MOX_STTR_OFF);
  // Plain create: an allocation failure is a null record and nothing else.
  // _cr create: the placeholder, and 12 in last_error.
  h.fail_alloc_after(0);
  EXPECT_EQ((std::tuple{qos_wlan_data_t_create(h, kDb), h->last_error}), (std::tuple{nullptr, 0u}));
  apf_call_record_t *p = apf_call_record_t_create_cr(h);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ((std::tuple{h->last_error, h->cr_mode}), (std::tuple{12u, 0u}));
  h.fail_alloc_after(-1);
  // With an error already there, the chain goes on without allocating.
  const uint64_t allocs = h.alloc_stats().allocs;
  EXPECT_EQ((std::tuple{apf_call_record_t_create_cr(h) == p, qos_ap_radio_key_t_create_cr(h) != nullptr, h.alloc_stats().allocs,
                        h->last_error}), (std::tuple{true, true, allocs, 12u}));
  // Destroys ignore the placeholder and null.
  apf_call_record_t_destroy(h, kDb, p);
  apf_call_record_t_destroy_cr(h, p);
  apf_call_record_t_destroy(h, kDb, nullptr);
  EXPECT_EQ(apf_call_record_t_create_cr(h), p);  // still usable as a placeholder

  mox_clear_last_error(h);
  apf_call_record_t *r = apf_call_record_t_create_cr(h);
  EXPECT_EQ((std::tuple{r != p, h->last_error}), (std::tuple{true, 0u}));
  apf_call_record_t_destroy_cr(h, r);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Lifecycle, NestedInitializeWithoutBaseAndEmbedding) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  std::vector<uint8_t> storage(qos_client_policy_t_sizeof(h) + 16);
  auto *p = reinterpret_cast<qos_client_policy_t *>(storage.data());
  mox_type_info_t *ti = &_qos_client_policy_t_type_info_internal;
  EXPECT_EQ((std::tuple{qos_client_policy_t_initialize(h, kDb, p, ti, 1, 0, MOX_FLAG_NESTED, nullptr, &err), err,
                        TraceLevel("sttr_base can not be NULL in NESTED case")}), (std::tuple{22u, 22u, 0x3000000u}));
  // No record at all: a missing required pointer.
  EXPECT_EQ((std::tuple{qos_client_policy_t_initialize(h, kDb, nullptr, ti, 1, 0, 0, nullptr, &(err = 0)), h->last_error}),
            (std::tuple{2u, 2u}));

  mox_trace_clear();
  qos_wlan_data_t_set_instance_embedded(h, kDb, nullptr);
  EXPECT_EQ(TraceLevel("Invalid object pointer passed in to set instance flag"), 0x3000000u);
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_data_t_set_instance_embedded(h, kDb, c);
  EXPECT_TRUE((c->flags & MOX_FLAG_EMBEDDED) && (c->client_installed_upstream_pm.flags & MOX_FLAG_EMBEDDED));
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

qos_wlan_data_t *g_finished = nullptr;

TEST(Lifecycle, OidDeferralNegativeVariantStatisticsAndPlatformEvents) {
  ScopedHandle h(MOX_STTR_ON);
  const mox_type_stats_t &stats = _qos_wlan_data_t_type_info_internal.variant_info->entries[0].stats;
  const uint32_t created = stats.created, destroyed = stats.destroyed;

  // A mapped record with references is destroyed when the last one goes.
  qos_wlan_data_t *w = qos_wlan_data_t_create(h, kDb);
  auto finish = [](mox_handle_t *hh, uint32_t db, void *obj) { qos_wlan_data_t_destroy(hh, db, g_finished = static_cast<qos_wlan_data_t *>(obj)); };
  ASSERT_NE(mox_oid_mapping_create(h, kDb, w, 1, 0, finish), 0u);
  mox_oid_mapping_add_ref(h, w);
  qos_wlan_data_t_destroy(h, kDb, w);
  EXPECT_EQ((std::tuple{TraceLevel("qos_wlan_data_t destroy: Object has references and will be cleaned up"),
                            stats.destroyed, h.live_bytes() > 0}), (std::tuple{0x6000000u, destroyed, true}));
  mox_oid_mapping_release(h, kDb, w);
  EXPECT_EQ((std::tuple{g_finished, stats.created - created}), (std::tuple{w, stats.destroyed - destroyed}));

  // Without other references the mapping goes at once and destroy goes on.
  w = qos_wlan_data_t_create(h, kDb);
  ASSERT_NE(mox_oid_mapping_create(h, kDb, w, 1, 0, nullptr), 0u);
  qos_wlan_data_t_destroy(h, kDb, w);
  EXPECT_EQ((std::tuple{TraceLevel("qos_wlan_data_t destroy: Successfully removed OID mapping"), stats.created - created}),
            (std::tuple{0x7000000u, stats.destroyed - destroyed}));

  // A record of negative variant has no fields to release, only its storage.
  // Its statistics still count it, in the entry of variant 0; so does a
  // variant beyond the type's variants, after a notice.
  const mox_type_stats_t &rstats = _qos_pm_refcount_data_t_type_info_internal.variant_info->entries[0].stats;
  const uint32_t rlive = rstats.live;
  qos_pm_refcount_data_t *r = qos_pm_refcount_data_t_create(h, kDb);
  r->variant = -1;
  qos_pm_refcount_data_t_destroy(h, kDb, r);
  r = qos_pm_refcount_data_t_create(h, kDb);
  r->variant = 5;
  qos_pm_refcount_data_t_destroy(h, kDb, r);
  EXPECT_EQ((std::tuple{TraceLevel("variant 5 requested only 1 variants present"), rstats.live, h.live_bytes()}),
            (std::tuple{0x6000000u, rlive, uint64_t{0}}));

  // Platform database with containment: create and destroy are announced.
  mox_handle_set_placement(h, 1);
  mox_handle_set_containment(h, 1);
  mox_event_clear(h);
  const uint32_t db = 3;
  qos_ap_radio_key_t *k = qos_ap_radio_key_t_create(h, db);
  qos_ap_radio_key_t_destroy(h, db, k);
  EXPECT_EQ((std::tuple{EventsOf(h, k), h.live_bytes()}),
            (std::tuple{std::vector<uint32_t>{MOX_EVENT_CONTAINMENT, MOX_EVENT_PLAT_DIRTY, MOX_EVENT_PLAT_DESTROY}, uint64_t{0}}));
}

TEST(LifecycleDeathTest, CorruptTrackingModeAborts) {
  ScopedHandle h(MOX_STTR_ON);
  mox_handle_set_sttr_mode(h, 0xABCD);
  EXPECT_DEATH(qos_wlan_data_t_create(h, kDb), "");
  EXPECT_DEATH(qos_wlan_data_t_sizeof(h), "");
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
}

}  // namespace
