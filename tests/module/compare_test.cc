// Record comparison through the exported <type>_compare operations.  Fields
// are placed directly in the records (test setup), except the dynamic array
// and the list, which go through their own operations.
#include <gtest/gtest.h>

#include <cstring>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"

namespace orva_test {
namespace {

constexpr uint32_t kDb = MOX_NO_DB;

int sign(int32_t r) { return r < 0 ? -1 : (r > 0 ? 1 : 0); }

void mac(mox_mac_addr_t &m, uint8_t last) {
  std::memset(m.octet, 0, sizeof m.octet);
  m.octet[5] = last;
}

TEST(Compare, NullsSelfAndKeyFieldOrder) {
  ScopedHandle h;
  qos_ap_radio_key_t *a = qos_ap_radio_key_t_create(h, kDb), *b = qos_ap_radio_key_t_create(h, kDb);
  EXPECT_EQ(qos_ap_radio_key_t_compare(nullptr, nullptr), 0);
  EXPECT_EQ(qos_ap_radio_key_t_compare(nullptr, a), -1);
  EXPECT_EQ(qos_ap_radio_key_t_compare(a, nullptr), 1);
  EXPECT_EQ(qos_ap_radio_key_t_compare(a, a), 0);

  // The slot decides whatever the MACs; with equal slots the MAC does.
  a->radio_slot_id = 1, b->radio_slot_id = 2;
  mac(a->ap_mac, 9), mac(b->ap_mac, 1);
  EXPECT_EQ(qos_ap_radio_key_t_compare(a, b), -1);
  b->radio_slot_id = 1;
  EXPECT_EQ(sign(qos_ap_radio_key_t_compare(a, b)), 1);
  mac(b->ap_mac, 9);
  EXPECT_EQ(qos_ap_radio_key_t_compare(a, b), 0);

  // qos_bssid_key_t: ssid_name, then radio_slot_id, then wtp_mac.
  qos_bssid_key_t *x = qos_bssid_key_t_create(h, kDb), *y = qos_bssid_key_t_create(h, kDb);
  uint32_t err = 0;
  mox_vstring_set_value(h, kDb, &x->ssid_name, "alpha", &err);
  mox_vstring_set_value(h, kDb, &y->ssid_name, "beta", &err);
  x->radio_slot_id = 7, mac(x->wtp_mac, 7);
  EXPECT_EQ(sign(qos_bssid_key_t_compare(x, y)), -1);
  mox_vstring_set_value(h, kDb, &y->ssid_name, "alpha", &err);
  EXPECT_EQ(qos_bssid_key_t_compare(x, y), 1);
  y->radio_slot_id = 7;
  EXPECT_EQ(sign(qos_bssid_key_t_compare(x, y)), 1);
  EXPECT_EQ(err, 0u);

  qos_ap_radio_key_t_destroy(h, kDb, a), qos_ap_radio_key_t_destroy(h, kDb, b);
  qos_bssid_key_t_destroy(h, kDb, x), qos_bssid_key_t_destroy(h, kDb, y);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Compare, ScalarSignednessByteBlocksAndEnumerationDifference) {
  ScopedHandle h;
  load_based_cac_stats_t *a = load_based_cac_stats_t_create(h, kDb);
  load_based_cac_stats_t *b = load_based_cac_stats_t_create(h, kDb);
  a->na_direct = -1, b->na_direct = 0;  // signed: -1 first
  EXPECT_EQ(load_based_cac_stats_t_compare(a, b), -1);
  a->pv = 0x80000000u, b->pv = 1;  // unsigned, and an earlier field decides
  EXPECT_EQ(load_based_cac_stats_t_compare(a, b), 1);
  // Scalar-only records are compared inline: no runtime call at all.
  uint64_t calls = mox_rt_call_count();
  load_based_cac_stats_t_compare(a, b);
  EXPECT_EQ(mox_rt_call_count(), calls);

  // Port arrays are one byte block in memory order: on a little-endian host
  // {256, 0} (bytes 00 01 ..) orders before {1, 0} (bytes 01 00 ..).
  apf_call_record_t *p = apf_call_record_t_create(h, kDb), *q = apf_call_record_t_create(h, kDb);
  p->uplink_dest_ip_port[0] = 256, q->uplink_dest_ip_port[0] = 1;
  EXPECT_EQ(sign(apf_call_record_t_compare(p, q)), -1);
  EXPECT_EQ(sign(apf_call_record_t_compare(q, p)), 1);

  // A module enumeration compares by the difference of the values.
  qos_client_policy_t *u = qos_client_policy_t_create(h, kDb),
                      *v = qos_client_policy_t_create(h, kDb);
  u->qos_pm_state.value = 10, v->qos_pm_state.value = 2;
  EXPECT_EQ(qos_client_policy_t_compare(u, v), 8);
  EXPECT_EQ(qos_client_policy_t_compare(v, u), -8);

  // 16- and 64-bit counters are unsigned too, and all 64 bits count.
  qos_pm_refcount_data_t *m = qos_pm_refcount_data_t_create(h, kDb),
                         *n = qos_pm_refcount_data_t_create(h, kDb);
  m->bssid_up_refcount = 1ull << 32, n->bssid_up_refcount = 1;
  m->pm_idx = 1, n->pm_idx = 0x8000;
  EXPECT_EQ(qos_pm_refcount_data_t_compare(m, n), -1);
  n->pm_idx = 1;
  EXPECT_EQ(qos_pm_refcount_data_t_compare(m, n), 1);
  n->bssid_up_refcount = 1ull << 63;
  EXPECT_EQ(qos_pm_refcount_data_t_compare(m, n), -1);

  load_based_cac_stats_t_destroy(h, kDb, a), load_based_cac_stats_t_destroy(h, kDb, b);
  qos_pm_refcount_data_t_destroy(h, kDb, m), qos_pm_refcount_data_t_destroy(h, kDb, n);
  apf_call_record_t_destroy(h, kDb, p), apf_call_record_t_destroy(h, kDb, q);
  qos_client_policy_t_destroy(h, kDb, u), qos_client_policy_t_destroy(h, kDb, v);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Compare, NestedRecordsAndRecordArraysDecideInFieldAndIndexOrder) {
  ScopedHandle h;
  uint32_t err = 0;
  qos_bssid_data_t *a = qos_bssid_data_t_create(h, kDb), *b = qos_bssid_data_t_create(h, kDb);
  // Later fields, and later elements of cac, order the other way round.
  mox_boolean_set_value(h, kDb, &b->local_mode, 1, &err);
  EXPECT_EQ(sign(qos_bssid_data_t_compare(a, b)), -1);  // the runtime's boolean order
  a->num_cac_entries = 9;
  EXPECT_EQ(qos_bssid_data_t_compare(a, b), 1);
  a->cac[3].up = 0, b->cac[3].up = 5;
  EXPECT_EQ(qos_bssid_data_t_compare(a, b), -1);
  a->cac[1].cac_state.value = BSSID_CAC_STATE_VALID;  // an earlier element decides
  EXPECT_EQ(qos_bssid_data_t_compare(a, b), 1);
  b->bssid_downstream_qos_pm.qos_pm_type.value = BSSID_QOS_PM_TYPE_LOCAL_WLAN;
  EXPECT_EQ(qos_bssid_data_t_compare(a, b), -1);  // and a nested record before the array
  EXPECT_EQ(err, 0u);

  // A nested record's counter (unsigned 16-bit) decides before later fields.
  qos_ap_radio_data_t *r = qos_ap_radio_data_t_create(h, kDb), *s = qos_ap_radio_data_t_create(h, kDb);
  r->wmm_cac_stats.calls_rejected_qos = 0x8000, s->wmm_cac_stats.calls_rejected_qos = 1;
  r->total_rejected_calls = 0, s->total_rejected_calls = 1;
  EXPECT_EQ(qos_ap_radio_data_t_compare(r, s), 1);

  qos_bssid_data_t_destroy(h, kDb, a), qos_bssid_data_t_destroy(h, kDb, b);
  qos_ap_radio_data_t_destroy(h, kDb, r), qos_ap_radio_data_t_destroy(h, kDb, s);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Compare, DynamicArrayCountFirstThenElementsAndVariantFieldLast) {
  ScopedHandle h;
  uint32_t err = 0;
  qos_client_data_t *a = qos_client_data_t_create(h, kDb), *b = qos_client_data_t_create(h, kDb);
  apf_call_record_t *e = apf_call_record_t_create(h, kDb);
  auto put = [&](qos_client_data_t *rec, uint32_t i, uint32_t code) {
    e->call_code = code;
    qos_client_data_t_call_record_set(h, kDb, rec, i, e, &err);
  };
  put(a, 0, 0), put(a, 1, 1), put(a, 2, 2);
  put(b, 0, 100), put(b, 1, 101);  // larger elements, but fewer
  ASSERT_EQ(err, 0u);
  ASSERT_EQ(a->call_record_index, 3);
  ASSERT_EQ(b->call_record_index, 2);
  EXPECT_EQ(qos_client_data_t_compare(b, a), -1);

  // Equal counts: the third element decides.
  put(b, 0, 0), put(b, 1, 1), put(b, 2, 7);
  EXPECT_EQ(qos_client_data_t_compare(a, b), -1);
  put(b, 2, 2);
  EXPECT_EQ(qos_client_data_t_compare(a, b), 0);

  // The variant-1 field is compared, last.
  a->bw_alloc_radio_band_info.value = ENM_RADIO_BAND_6GHZ;
  EXPECT_EQ(sign(qos_client_data_t_compare(a, b)), 1);
  EXPECT_EQ(err, 0u);

  // Also on an instance of variant 0: the instance variant is not consulted.
  qos_client_call_data *c = qos_client_call_data_create(h, kDb), *d = qos_client_call_data_create(h, kDb);
  c->variant = 0, d->variant = 0;
  c->call_duration2 = 1;
  d->radio_band_info.value = ENM_RADIO_BAND_5GHZ;
  EXPECT_EQ(qos_client_call_data_compare(c, d), 1);
  d->call_duration2 = 1;
  EXPECT_EQ(sign(qos_client_call_data_compare(c, d)), -1);

  apf_call_record_t_destroy(h, kDb, e);
  qos_client_data_t_destroy(h, kDb, a), qos_client_data_t_destroy(h, kDb, b);
  qos_client_call_data_destroy(h, kDb, c), qos_client_call_data_destroy(h, kDb, d);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Compare, ListCountFirstThenEntriesInOrder) {
  ScopedHandle h;
  uint32_t err = 0;
  class_map_list *a = class_map_list_create(h, kDb), *b = class_map_list_create(h, kDb);
  auto add = [&](class_map_list *l, uint64_t rate) {
    class_map_entry *e = class_map_entry_create(h, kDb);
    e->police_rate = rate;
    class_map_list_entry_set_last(h, kDb, l, e, &err);
    return e;
  };
  add(a, 5), add(a, 1);
  class_map_entry *b1 = add(b, 9);
  EXPECT_EQ(class_map_list_compare(a, b), 1);  // two entries after one
  class_map_entry *b2 = add(b, 0);
  EXPECT_EQ(class_map_list_compare(a, b), -1);  // first entries: 5 before 9
  EXPECT_EQ(class_map_list_compare(a, a), 0);
  b1->police_rate = 5;
  EXPECT_EQ(class_map_list_compare(a, b), 1);  // then the second: 1 after 0
  b2->police_rate = 1;
  EXPECT_EQ(class_map_list_compare(a, b), 0);
  EXPECT_EQ(err, 0u);
  class_map_list_destroy(h, kDb, a), class_map_list_destroy(h, kDb, b);
  EXPECT_EQ(h.live_bytes(), 0u);
}

}  // namespace
}  // namespace orva_test
