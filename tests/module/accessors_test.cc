// Field accessors through the C API: where setters mark state bytes in deep
// records, variant and bound refusals with their codes and messages, the
// tracking modes, the dynamic array's element state across reallocation, and
// the record-level copy that must leave source and destination independent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
using orva_test::JournalCheck;
using orva_test::ScopedHandle;
using orva_test::Traced;

// The state positions that follow the dynamic array's pointer move with its width.
constexpr uint32_t kBandInfoPos = sizeof(void *) == 4 ? 264 : 268;

uint8_t *area_of(mox_handle_t *h, qos_client_data_t *c) {
  return reinterpret_cast<uint8_t *>(c) + qos_client_data_t_sizeof_internal(h, c, 0, 0);
}
// The slot's code, clearing it for the next call.
uint32_t took(uint32_t &err) { return std::exchange(err, 0u); }
uint32_t took_last(mox_handle_t *h) { return std::exchange(h->last_error, 0u); }
// The level of the first captured message containing text, or ~0u.
uint32_t trace_level(const std::string &text) {
  for (const auto &r : orva_test::TraceRecords())
    if (std::string(r.text).find(text) != std::string::npos) return r.level;
  return ~0u;
}

TEST(Accessors, SettersMarkTheirOwnBytesInDeepRecordsAndAnnounceEveryStore) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_policy_t *p = qos_client_policy_t_create(h, kDb);
  tclas_set_t *ts = tclas_set_t_create(h, kDb);
  qos_ap_radio_key_t *k = qos_ap_radio_key_t_create(h, kDb);
  ASSERT_TRUE(c && p && ts && k);
  uint8_t *area = area_of(h, c);

  qos_client_policy_t_qos_pm_state_set_value(h, kDb, p, 1, &err);  // p's own byte 3
  JournalCheck jc(h, {{c, qos_client_data_t_sizeof_internal(h, c, 1, 0), "client record and state area"},
                      {p, qos_client_policy_t_sizeof_internal(h, p, 1, 0), "policy"},
                      {k, qos_ap_radio_key_t_sizeof_internal(h, k, 1, 0), "key"}});
  qos_client_data_t_client_installed_upstream_pm_set(h, kDb, c, p, &err);
  qos_client_data_t_client_installed_downstream_pm_set(h, kDb, c, p, &err);
  qos_client_data_t_tclas_set_set(h, kDb, c, 1, ts, &err);
  qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 77, &err);
  qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, ENM_RADIO_BAND_5GHZ, &err);
  qos_client_policy_t_pm_idx_sent_to_ap_set_value(h, kDb, p, 5, 9, &err);
  qos_ap_radio_key_t_radio_slot_id_set_value(h, kDb, k, 3, &err);
  EXPECT_EQ(qos_ap_radio_key_t_ap_mac_state_flag_get(h, kDb, k, &err), 0);
  mox_mac_addr_t mac = {{1, 2, 3, 4, 5, 6}};
  qos_ap_radio_key_t_ap_mac_set(h, kDb, k, &mac, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_TRUE(jc.Verify());

  // Parent bytes of the two policies, their nested areas carrying the copied
  // byte of qos_pm_state, the tclas_set whole byte and element 1 only.
  const std::vector<uint32_t> marked = {2, 2 + 1 + 3, 76, 76 + 1 + 3, 155, 157, 232, kBandInfoPos};
  for (uint32_t pos = 0; pos < qos_client_data_t_sizeof_internal(h, c, 1, 1); ++pos)
    EXPECT_EQ(area[pos], std::count(marked.begin(), marked.end(), pos) ? 2 : 0) << pos;
  // The nested records still find their bytes inside the parent's area.
  qos_client_policy_t *up = qos_client_data_t_client_installed_upstream_pm_get(h, kDb, c, &err);
  EXPECT_EQ(qos_client_policy_t_qos_pm_state_state_flag_get(h, kDb, up, &err), 2);
  // The copy took the source's header; only the runtime-held offset of its
  // state area stays the destination's.
  EXPECT_EQ(up->flags, p->flags | MOX_FLAG_STTR_OFFSET_HELD);
  EXPECT_EQ(qos_client_policy_t_pm_idx_sent_to_ap_state_flag_whole_get(h, kDb, p, &err), 2);
  EXPECT_EQ(qos_client_policy_t_pm_idx_sent_to_ap_state_flag_get(h, kDb, p, 5, &err), 2);
  EXPECT_EQ(qos_client_policy_t_pm_idx_sent_to_ap_state_flag_get(h, kDb, p, 4, &err), 0);
  EXPECT_EQ(p->pm_idx_sent_to_ap[5], 9);
  EXPECT_EQ(qos_ap_radio_key_t_radio_slot_id_state_flag_get(h, kDb, k, &err), 2);
  EXPECT_EQ(qos_ap_radio_key_t_ap_mac_state_flag_get(h, kDb, k, &err), 2);
  EXPECT_EQ(k->radio_slot_id, 3);

  // State-flag setters store the caller's low byte, announced, and keep last_error.
  jc.Rebase();
  h->last_error = 7;
  qos_client_data_t_bandwidth_alloc_state_flag_set(h, kDb, c, 0x1F5, &err);
  qos_client_data_t_tclas_set_state_flag_whole_set(h, kDb, c, 4, &err);
  qos_client_data_t_tclas_set_state_flag_set(h, kDb, c, 0, 6, &err);
  EXPECT_EQ(h->last_error, 7u);
  EXPECT_TRUE(jc.Verify());
  EXPECT_EQ(area[232], 0xF5);
  EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_whole_get(h, kDb, c, &err), 4);
  EXPECT_EQ(area[156], 6);
  EXPECT_EQ(err, 0u);

  qos_ap_radio_key_t_destroy(h, kDb, k);
  tclas_set_t_destroy(h, kDb, ts);
  qos_client_policy_t_destroy(h, kDb, p);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Accessors, VariantNullObjectAndSetSlotRefusals) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  const char *luid = _qos_client_data_t_type_info_internal.luid_text;
  mox_domain_set_variant(h, luid, 0);
  qos_client_data_t *c = qos_client_data_t_create(h, kDb), *d = qos_client_data_t_create(h, kDb);
  ASSERT_EQ(c->variant, 0);
  // Index 21 is the variant-1 field; 22 is past the last field.
  const std::pair<uint32_t, bool> valid_at[] = {{20, true}, {21, false}, {22, false}};
  for (auto [index, valid] : valid_at)
    EXPECT_EQ(qos_client_data_t_is_valid_cr(h, c, index, 0), valid) << index;
  EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_get(h, kDb, c, &err), nullptr);
  EXPECT_EQ(took(err), 43u);
  qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, 2, &err);
  EXPECT_EQ(took(err), 43u);
  // Once the domain allows variant 1, the setter's adjustment raises the
  // record, as adjust_variant does on its own.
  mox_domain_set_variant(h, luid, 1);
  EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, 2, &err), 0u);
  EXPECT_EQ(c->variant, 1);
  qos_client_data_t_adjust_variant(h, kDb, d, &err);
  EXPECT_EQ(d->variant, 1);
  EXPECT_TRUE(qos_client_data_t_is_valid_cr(h, d, 21, 0));
  qos_client_data_t_destroy(h, kDb, d);
  EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_get(h, kDb, c, &err),
            &c->bw_alloc_radio_band_info);
  EXPECT_EQ(c->bw_alloc_radio_band_info.value, 2u);

  // A negative variant refuses getters and setters; nothing changes.
  c->variant = -1;
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 5, &err), 43u);
  EXPECT_EQ(c->bandwidth_alloc, 0u);
  took(err);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, c, &err), 0);
  c->variant = 1;

  // A null record is an invalid instance, never a crash.
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_get(h, kDb, nullptr, &err), nullptr);
  EXPECT_EQ(took(err), 43u);
  qos_client_data_t_call_record_set(h, kDb, nullptr, 0, nullptr, &err);
  EXPECT_EQ(took(err), 43u);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, nullptr, &err), 0);
  EXPECT_EQ(took(err), 22u);
  h->last_error = 0;  // the _cr form's slot
  apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, nullptr, nullptr, 1);
  EXPECT_EQ(took_last(h), 43u);
  qos_client_data_t_call_record_remove_elements(h, kDb, nullptr);
  // A missing source or destination of a record copy is a missing argument.
  qos_client_policy_t_set(h, kDb, &c->client_installed_upstream_pm, nullptr, &err);
  EXPECT_EQ(took(err), 2u);
  qos_client_policy_t_set(h, kDb, nullptr, &c->client_installed_upstream_pm, &err);
  EXPECT_EQ(took(err), 2u);
  qos_client_data_t_client_installed_upstream_pm_set(h, kDb, c, nullptr, &err);
  EXPECT_EQ(took(err), 2u);
  EXPECT_EQ(qos_client_data_t_client_installed_upstream_pm_state_flag_get(h, kDb, c, &err), 0);

  // A set error slot: no effect and no runtime call at all.
  err = 5;
  uint64_t calls = mox_rt_call_count();
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 5, &err), 5u);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 0, nullptr, &err), 5u);
  EXPECT_EQ(qos_client_data_t_tclas_set_get(h, kDb, c, 0, &err), nullptr);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_set(h, kDb, c, 1, &err), 5u);
  EXPECT_EQ(mox_rt_call_count(), calls);
  EXPECT_EQ(c->bandwidth_alloc, 0u);
  qos_client_data_t_destroy(h, kDb, c);
}

// Containment reports: a runtime primitive or scalar element once with the
// record as owner; a nested record, a module enumeration or a record element
// twice, first without owner; a setter's source after a successful store only.
// Nothing at all with containment off.
TEST(Accessors, ContainmentReportsOfGettersAndSetters) {
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_policy_t *p = &c->client_installed_upstream_pm;
  qos_ap_radio_key_t *k = qos_ap_radio_key_t_create(h, kDb), *plain = qos_ap_radio_key_t_create(off, kDb);
  mox_mac_addr_t mac = {{1, 2, 3, 4, 5, 6}};
  using Reports = std::vector<std::pair<const void *, const void *>>;
  auto reports = [&](auto &&op) {
    mox_event_clear(h);
    op();
    Reports out;
    for (uint32_t i = 0; i < mox_event_count(h); ++i) {
      mox_event_t e;
      mox_event_get(h, i, &e);
      if (e.kind == MOX_EVENT_CONTAINMENT) out.emplace_back(e.item, e.owner);
    }
    return out;
  };

  EXPECT_EQ(reports([&] { qos_client_data_t_bandwidth_alloc_get(h, kDb, c, &err); }), Reports{});
  mox_handle_set_containment(h, 1);
  EXPECT_EQ(reports([&] { qos_client_data_t_bandwidth_alloc_get(h, kDb, c, &err); }),
            (Reports{{&c->bandwidth_alloc, c}}));
  EXPECT_EQ(reports([&] { qos_client_data_t_client_installed_upstream_pm_get(h, kDb, c, &err); }),
            (Reports{{p, nullptr}, {p, c}}));
  EXPECT_EQ(reports([&] { qos_client_policy_t_qos_pm_state_get_value(h, kDb, p, &err); }),
            (Reports{{&p->qos_pm_state, nullptr}, {&p->qos_pm_state, p}}));
  EXPECT_EQ(reports([&] { qos_client_data_t_tclas_set_get(h, kDb, c, 1, &err); }),
            (Reports{{&c->tclas_set[1], nullptr}, {&c->tclas_set[1], c}}));
  EXPECT_EQ(reports([&] { qos_client_policy_t_pm_idx_sent_to_ap_get(h, kDb, p, 3, &err); }),
            (Reports{{&p->pm_idx_sent_to_ap[3], p}}));
  // A value setter reports the pointer its getter gave, after the getter's own report.
  EXPECT_EQ(reports([&] { qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 5, &err); }),
            (Reports{{&c->bandwidth_alloc, c}, {&c->bandwidth_alloc, c}}));
  EXPECT_EQ(reports([&] { qos_ap_radio_key_t_ap_mac_set(h, kDb, k, &mac, &err); }),
            (Reports{{&mac, k}}));
  ASSERT_EQ(err, 0u);
  // Written, then refused by the marking step: the source is not reported.
  EXPECT_EQ(reports([&] { qos_ap_radio_key_t_ap_mac_set(h, kDb, plain, &mac, &err); }), Reports{});
  EXPECT_EQ(took(err), 22u);
  EXPECT_EQ(plain->ap_mac.octet[5], 6);

  mox_handle_set_containment(h, 0);
  qos_ap_radio_key_t_destroy(off, kDb, plain);
  qos_ap_radio_key_t_destroy(h, kDb, k);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Accessors, FixedArrayBoundsCodesAndMessages) {
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_policy_t *p = qos_client_policy_t_create(h, kDb);
  tclas_set_t *untracked = tclas_set_t_create(off, kDb);
  tclas_set_t_tspec_id_set_value(off, kDb, untracked, 42, &err);

  EXPECT_EQ(qos_client_data_t_tclas_set_get(h, kDb, c, 2, &err), nullptr);
  EXPECT_EQ(took(err), 2u);
  EXPECT_TRUE(orva_test::TraceTexts().empty());
  EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_get(h, kDb, c, 2, &err), 0);
  EXPECT_EQ(took(err), 2u);
  qos_client_data_t_tclas_set_set(h, kDb, c, 2, untracked, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_EQ(trace_level("Cannot exceed qos_client_data_t fixed size array tclas_set[2], by 2"),
            0x3000000u);
  qos_client_policy_t_pm_idx_sent_to_ap_set_value(h, kDb, p, 64, 1, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_TRUE(Traced("Cannot exceed qos_client_policy_t fixed size array pm_idx_sent_to_ap[64], by 64"));

  // A null source only passes the index check.
  EXPECT_EQ(qos_client_data_t_tclas_set_set(h, kDb, c, 1, nullptr, &err), 0u);
  EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_whole_get(h, kDb, c, &err), 0);
  // An untracked source is copied but marks nothing.
  mox_trace_clear();
  qos_client_data_t_tclas_set_set(h, kDb, c, 0, untracked, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_EQ(trace_level("The val object is not state tracked"), 0x3000000u);
  EXPECT_EQ(c->tclas_set[0].tspec_id, 42);
  EXPECT_EQ(c->tclas_set[0].flags, untracked->flags | MOX_FLAG_STTR_OFFSET_HELD);
  EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_get(h, kDb, c, 0, &err), 0);

  tclas_set_t_destroy(off, kDb, untracked);
  qos_client_policy_t_destroy(h, kDb, p);
  qos_client_data_t_destroy(h, kDb, c);
}

TEST(Accessors, TrackingOffAbsentUntrackedAndCorrupt) {
  uint32_t err = 0;
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  // Off: values are written, no byte is marked, state-flag operations refuse silently.
  qos_client_data_t *plain = qos_client_data_t_create(off, kDb);
  apf_call_record_t *rec = apf_call_record_t_create(off, kDb);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_set_value(off, kDb, plain, 9, &err), 0u);
  EXPECT_EQ(plain->bandwidth_alloc, 9u);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(off, kDb, plain, &err), 0);
  EXPECT_EQ(took(err), 22u);
  qos_client_data_t_bandwidth_alloc_state_flag_set(off, kDb, plain, 1, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_TRUE(orva_test::TraceTexts().empty());

  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 1, &err);
  mox_handle_set_sttr_mode(h, 0);  // absent: readers go by the record's flag, writers mark nothing
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, c, &err), 2);
  qos_client_data_t_roam_call_set_value(h, kDb, c, 1, &err);
  EXPECT_EQ(area_of(h, c)[236], 0);

  // Records made while tracking was off, used with tracking on.
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_set_value(h, kDb, plain, 4, &err), 22u);
  EXPECT_EQ(plain->bandwidth_alloc, 4u);
  EXPECT_EQ(trace_level("The object is not state tracked"), 0x3000000u);
  took(err);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, plain, &err), 0);
  EXPECT_EQ(trace_level("The object is non state tracked"), 0x3000000u);
  took(err);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, plain, 1, nullptr, &err), 22u);
  EXPECT_EQ(plain->call_record, nullptr);
  took(err);
  uint32_t ports[2] = {5, 6};
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, rec, ports, 2), 22u);
  EXPECT_EQ(rec->uplink_dest_ip_port[0], 0u);
  took_last(h);

  mox_handle_set_sttr_mode(h, 0x1234);
  EXPECT_DEATH(
      {
        mox_trace_set_stderr(1);
        qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 2, &err);
      },
      "Corrupted MOX Handle");
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  apf_call_record_t_destroy(off, kDb, rec);
  qos_client_data_t_destroy(off, kDb, plain);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes() + off.live_bytes(), 0u);
}

// call_record of qos_client_data_t: growth, reallocation with the elements'
// own state areas and the per-element state bytes, a source inside the block
// being replaced, refusals, allocation failures and emptying.
TEST(Accessors, CallRecordGrowthStateBytesFailuresAndEmptying) {
  // The reallocation notice is once per process: count it in a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ScopedHandle h(MOX_STTR_ON);
        uint32_t e = 0;
        qos_client_data_t *c = qos_client_data_t_create(h, kDb);
        for (uint32_t i : {0u, 2u, 4u, 1u, 6u}) qos_client_data_t_call_record_set(h, kDb, c, i, nullptr, &e);
        size_t n = 0;
        for (const auto &t : orva_test::TraceTexts()) n += t == "Reallocating resource for qos_client_data_t";
        std::_Exit(e == 0 && n == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");

  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  apf_call_record_t *r = apf_call_record_t_create(h, kDb), *plain = apf_call_record_t_create(off, kDb);
  apf_call_record_t_call_code_set_value(h, kDb, r, 31, &err);  // r's byte 13
  mox_vstring_set_value(h, kDb, &r->call_id, "call-1", &err);
  // Index 0 of an empty array takes r; index 1 grows it from its own element 0.
  qos_client_data_t_call_record_set(h, kDb, c, 0, r, &err);
  qos_client_data_t_call_record_set(h, kDb, c, 1, qos_client_data_t_call_record_get(h, kDb, c, 0, &err), &err);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(qos_client_data_t_call_record_index_get_value(h, kDb, c, &err), 2);
  EXPECT_STREQ(c->call_record[1].call_id.str, "call-1");
  EXPECT_NE(c->call_record[1].call_id.str, c->call_record[0].call_id.str);  // its own copy
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_whole_get(h, kDb, c, &err), 2);
  auto elem_state = [&](uint32_t i) {  // element i's own area, after all elements
    return reinterpret_cast<uint8_t *>(c->call_record) + c->call_record_index * sizeof(apf_call_record_t) + i * 16;
  };
  EXPECT_EQ(elem_state(1)[13], 2);
  apf_call_record_t *e0 = qos_client_data_t_call_record_get(h, kDb, c, 0, &err);
  apf_call_record_t_up_set_value(h, kDb, e0, 3, &err);
  EXPECT_EQ(elem_state(0)[15], 2);
  qos_client_data_t_call_record_state_flag_set(h, kDb, c, 0, 9, &err);
  apf_call_record_t *block = c->call_record;
  qos_client_data_t_call_record_set(h, kDb, c, 1, r, &err);  // within the count: same block
  EXPECT_EQ(c->call_record, block);

  {  // Growth moves the elements with their areas; every store on the record announced.
    JournalCheck jc(h, {{c, qos_client_data_t_sizeof_internal(h, c, 1, 0), "client"}});
    qos_client_data_t_call_record_set(h, kDb, c, 3, nullptr, &err);
    EXPECT_TRUE(jc.Verify());
  }
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(elem_state(1)[13], 2);
  EXPECT_EQ(elem_state(0)[15], 2);
  apf_call_record_t *e1 = qos_client_data_t_call_record_get(h, kDb, c, 1, &err);
  EXPECT_EQ(apf_call_record_t_call_code_state_flag_get(h, kDb, e1, &err), 2);
  EXPECT_EQ(apf_call_record_t_up_state_flag_get(h, kDb, c->call_record, &err), 2);
  const std::pair<uint32_t, uint8_t> bytes_at[] = {{0, 9}, {1, 2}, {2, 0}};
  for (auto [i, byte] : bytes_at)
    EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, i, &err), byte) << i;
  EXPECT_EQ(e1->call_code, 31u);
  EXPECT_STREQ(e1->call_id.str, "call-1");

  // Out of range: the element getter with 2, index 255 refused.
  EXPECT_EQ(qos_client_data_t_call_record_get(h, kDb, c, 4, &err), nullptr);
  EXPECT_EQ(took(err), 2u);
  qos_client_data_t_call_record_set(h, kDb, c, 255, r, &err);
  EXPECT_EQ(took(err), 22u);
  // An untracked source is refused before anything happens.
  qos_client_data_t_call_record_set(h, kDb, c, 6, plain, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_TRUE(Traced("The val object is not state tracked"));
  EXPECT_EQ(c->call_record_index, 4);

  // No element block: the array keeps its count.  No per-element block: the
  // elements are grown, their bytes are gone, and a later growth still works.
  h.fail_alloc_after(0);
  qos_client_data_t_call_record_set(h, kDb, c, 5, nullptr, &err);
  EXPECT_EQ(took(err), 12u);
  EXPECT_EQ(c->call_record_index, 4);
  h.fail_alloc_after(1);
  qos_client_data_t_call_record_set(h, kDb, c, 7, nullptr, &err);
  EXPECT_EQ(took(err), 12u);
  EXPECT_EQ(c->call_record_index, 8);
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 0, &err), 0);
  EXPECT_EQ(took(err), 2u);
  h.fail_alloc_after(-1);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 9, r, &err), 0u);
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 9, &err), 2);
  EXPECT_EQ(c->call_record[1].call_code, 31u);

  // Emptying releases the element block; emptying again does nothing; it
  // grows again.  The record's destroy releases the per-element states.
  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  EXPECT_EQ(c->call_record_index, 0);
  EXPECT_EQ(c->call_record, nullptr);
  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 0, r, &err), 0u);
  qos_client_data_t_call_record_remove_elements(h, kDb, c);

  apf_call_record_t_destroy(off, kDb, plain);
  apf_call_record_t_destroy(h, kDb, r);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// The port arrays' block copies take at most two values and mark only the
// whole byte; refusals are silent; a buffer may overlap the field.
TEST(Accessors, PortArrayBlockCopies) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  apf_call_record_t *r = apf_call_record_t_create(h, kDb);
  uint32_t ports[3] = {256, 7, 9}, out[3] = {0, 0, 0};
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, ports, 2), 0u);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_state_flag_whole_get(h, kDb, r, &err), 2);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_state_flag_get(h, kDb, r, 0, &err), 0);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, out, 2, &err), out);
  EXPECT_EQ(out[0], 256u);
  EXPECT_EQ(out[1], 7u);
  // The source runs on into downlink_dest_ip_port[0]; the read-back is in place.
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, &r->uplink_dest_ip_port[1], 2), 0u);
  apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, r->uplink_dest_ip_port, 2, &err);
  EXPECT_EQ(r->uplink_dest_ip_port[0], 7u);
  EXPECT_EQ(r->uplink_dest_ip_port[1], 0u);
  mox_trace_clear();
  EXPECT_EQ(apf_call_record_t_downlink_dest_ip_port_set_mem_cr(h, r, ports, 3), 22u);
  EXPECT_EQ(r->downlink_dest_ip_port[0], 0u);
  took_last(h);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, out, 3, &err), nullptr);
  EXPECT_EQ(took(err), 22u);
  EXPECT_TRUE(orva_test::TraceTexts().empty());
  // A missing buffer is a missing argument, not a bad count.
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, nullptr, 1, &err), nullptr);
  EXPECT_EQ(took(err), 2u);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, nullptr, 1), 2u);
  took_last(h);
  apf_call_record_t_destroy(h, kDb, r);
}

TEST(Accessors, RecordLevelCopyLeavesSourceAndDestinationIndependent) {
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  qos_client_policy_t *src = qos_client_policy_t_create(h, kDb), *dst = qos_client_policy_t_create(h, kDb);
  mox_vstring_set_value(h, kDb, &src->qos_pm_name, "gold", &err);
  mox_vstring_set_value(h, kDb, &dst->qos_pm_name, "replaced", &err);  // released by the copy
  mox_vstring_set_value(h, kDb, &dst->qos_pm_status_str, "old", &err);
  qos_client_policy_t_qos_pm_name_state_flag_set(h, kDb, src, 5, &err);
  {
    JournalCheck jc(h, {{dst, qos_client_policy_t_sizeof_internal(h, dst, 1, 0), "dst"}});
    EXPECT_EQ(qos_client_policy_t_set(h, kDb, dst, src, &err), 0u);
    EXPECT_TRUE(jc.Verify());
  }
  EXPECT_NE(dst->qos_pm_name.str, src->qos_pm_name.str);
  EXPECT_EQ(dst->qos_pm_status_str.str, nullptr);  // the source had none: no empty one either
  EXPECT_EQ(qos_client_policy_t_qos_pm_name_state_flag_get(h, kDb, dst, &err), 5);
  qos_client_policy_t_destroy(h, kDb, src);
  EXPECT_STREQ(dst->qos_pm_name.str, "gold");

  // Onto itself: nothing changes, nothing is reported.
  const std::string before(reinterpret_cast<const char *>(dst), qos_client_policy_t_sizeof_internal(h, dst, 1, 0));
  EXPECT_EQ(qos_client_policy_t_set(h, kDb, dst, dst, &err), 0u);
  EXPECT_EQ(before, std::string(reinterpret_cast<const char *>(dst), before.size()));
  // A destination of a lower variant than its source takes nothing.
  qos_client_policy_t *other = qos_client_policy_t_create(h, kDb);
  other->variant = -1;
  qos_client_policy_t_set(h, kDb, other, dst, &err);
  EXPECT_EQ(took(err), 43u);
  EXPECT_EQ(other->qos_pm_name.str, nullptr);
  other->variant = 0;

  // With a set slot the copy is still made; only the variant adjustment heeds it.
  qos_client_policy_t *later = qos_client_policy_t_create(h, kDb);
  err = 5;
  EXPECT_EQ(qos_client_policy_t_set(h, kDb, later, dst, &err), 5u);
  EXPECT_STREQ(later->qos_pm_name.str, "gold");
  EXPECT_NE(later->qos_pm_name.str, dst->qos_pm_name.str);
  took(err);

  // A destination without a state area while tracking is on: refused after
  // the byte copy, before the owned members are copied, so it still shares
  // the source's strings; its header is the source's, except that it claims
  // no state area.
  qos_client_policy_t *plain = qos_client_policy_t_create(off, kDb);
  mox_trace_clear();
  qos_client_policy_t_set(h, kDb, plain, dst, &err);
  EXPECT_EQ(took(err), 22u);
  EXPECT_TRUE(Traced("The object is not state tracked"));
  EXPECT_EQ(plain->qos_pm_name.str, dst->qos_pm_name.str);
  EXPECT_EQ(plain->flags, dst->flags & ~MOX_FLAG_STATE_TRACKED);
  std::memset(&plain->qos_pm_name, 0, sizeof plain->qos_pm_name);  // dst's, not plain's
  qos_client_policy_t_destroy(off, kDb, plain);

  // Without a tracking configuration not even the runtime-held offset of the
  // destination's state area survives: the whole header is the source's.
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  ASSERT_NE(c->client_installed_upstream_pm.flags & MOX_FLAG_STTR_OFFSET_HELD, 0);
  mox_handle_set_sttr_mode(h, 0);
  EXPECT_EQ(qos_client_data_t_client_installed_upstream_pm_set(h, kDb, c, later, &err), 0u);
  EXPECT_EQ(c->client_installed_upstream_pm.flags, later->flags);
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);
  qos_client_data_t_destroy(h, kDb, c);
  qos_client_policy_t_destroy(h, kDb, later);

  // The exported cleanup after a caller's own byte copy.
  apf_call_record_t *a = apf_call_record_t_create(h, kDb), *b = apf_call_record_t_create(h, kDb);
  mox_vstring_set_value(h, kDb, &a->call_id, "c-1", &err);
  std::memcpy(reinterpret_cast<char *>(b) + sizeof(void *), reinterpret_cast<char *>(a) + sizeof(void *),
              apf_call_record_t_sizeof_internal(h, a, 0, 0) - sizeof(void *));
  apf_call_record_t_post_copyout_cleanup(h, kDb, b, a, &err);
  EXPECT_NE(b->call_id.str, a->call_id.str);
  apf_call_record_t_destroy(h, kDb, a);
  EXPECT_STREQ(b->call_id.str, "c-1");

  apf_call_record_t_destroy(h, kDb, b);
  qos_client_policy_t_destroy(h, kDb, other);
  qos_client_policy_t_destroy(h, kDb, dst);
  EXPECT_EQ(h.live_bytes() + off.live_bytes(), 0u);
}

}  // namespace
