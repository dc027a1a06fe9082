// Record comparison through the exported <type>_compare operations.  Fields
// are placed directly in the records (test setup), except the dynamic array
// and the list, which go through their own operations.  Each case changes a
// pair of fresh records step by step; after each step the sign of
// compare(a, b) (or the exact result, where the order is a difference) is
// checked, and compare(b, a) must have the opposite sign.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"

namespace orva_test {
namespace {

constexpr uint32_t kDb = MOX_NO_DB;
constexpr int32_t kAny = 0x7FFF;  // a step that checks only its own expectation

int sign(int32_t r) { return r < 0 ? -1 : (r > 0 ? 1 : 0); }

void mac(mox_mac_addr_t &m, uint8_t last) {
  std::memset(m.octet, 0, sizeof m.octet);
  m.octet[5] = last;
}

// Two fresh records of one type and their compare.
template <class T>
struct Pair {
  mox_handle_t *h;
  T *(*create)(mox_handle_t *, uint32_t);
  void (*destroy)(mox_handle_t *, uint32_t, T *);
  int32_t (*cmp)(const T *, const T *);
  T *a = create(h, kDb), *b = create(h, kDb);
  ~Pair() { destroy(h, kDb, a), destroy(h, kDb, b); }
  // After each change, the sign of compare(a, b), or its exact value.
  void steps(std::vector<std::pair<std::function<void()>, int32_t>> table, bool exact = false) {
    for (size_t i = 0; i < table.size(); ++i) {
      table[i].first();
      const int32_t want = table[i].second, got = cmp(a, b);
      EXPECT_EQ(exact ? got : sign(got), want) << "step " << i;
      EXPECT_EQ(sign(cmp(b, a)), -sign(want)) << "step " << i;
    }
  }
};
#define PAIR(T) Pair<T>{h, T##_create, T##_destroy, T##_compare}

TEST(Compare, FieldOrderKindsArraysListsAndVariantFields) {
  ScopedHandle h;
  uint32_t err = 0;
  {
    auto p = PAIR(qos_ap_radio_key_t);
    EXPECT_EQ((std::tuple{p.cmp(nullptr, nullptr), p.cmp(nullptr, p.a), p.cmp(p.a, nullptr), p.cmp(p.a, p.a)}),
              (std::tuple{0, -1, 1, 0}));
    // The slot decides whatever the MACs; with equal slots the MAC does.
    p.steps({{[&] { p.a->radio_slot_id = 1, p.b->radio_slot_id = 2, mac(p.a->ap_mac, 9); }, -1},
             {[&] { p.b->radio_slot_id = 1; }, 1},
             {[&] { mac(p.b->ap_mac, 9); }, 0}});
  }
  {
    // qos_bssid_key_t: ssid_name, then radio_slot_id, then wtp_mac; a string
    // never set equals the empty one.
    auto p = PAIR(qos_bssid_key_t);
    p.steps({{[&] { mox_vstring_set_value(h, kDb, &p.b->ssid_name, "", &err); }, 0},
             {[&] { mox_vstring_set_value(h, kDb, &p.b->ssid_name, "beta", &err); }, -1},
             {[&] { mox_vstring_set_value(h, kDb, &p.a->ssid_name, "alpha", &err); }, -1},
             {[&] { mox_vstring_set_value(h, kDb, &p.b->ssid_name, "alpha", &err); }, 0},
             {[&] { p.a->radio_slot_id = 7, mac(p.a->wtp_mac, 7); }, 1},
             {[&] { p.b->radio_slot_id = 7; }, 1}});
  }
  {
    // Signed int16 orders -1 first; an earlier unsigned field decides; scalar
    // records compare inline, without any runtime call.
    auto p = PAIR(load_based_cac_stats_t);
    p.steps({{[&] { p.a->na_direct = -1; }, -1}, {[&] { p.a->pv = 0x80000000u, p.b->pv = 1; }, 1}});
    const uint64_t calls = mox_rt_call_count();
    EXPECT_EQ((std::tuple{p.cmp(p.a, p.b) > 0, mox_rt_call_count()}), (std::tuple{true, calls}));
  }
  {
    // Port arrays are one byte block in memory order: on a little-endian host
    // {256, 0} (bytes 00 01 ..) orders before {1, 0} (bytes 01 00 ..).
    auto p = PAIR(apf_call_record_t);
    p.steps({{[&] { p.a->uplink_dest_ip_port[0] = 256, p.b->uplink_dest_ip_port[0] = 1; }, -1}});
  }
  {
    auto p = PAIR(qos_client_policy_t);  // a module enumeration: the difference
    p.steps({{[&] { p.a->qos_pm_state.value = 10, p.b->qos_pm_state.value = 2; }, 8}}, true);
  }
  {
    // 16- and 64-bit counters are unsigned too, and all 64 bits count.
    auto p = PAIR(qos_pm_refcount_data_t);
    p.steps({{[&] { p.a->bssid_up_refcount = 1ull << 32, p.b->bssid_up_refcount = 1; }, 1},
             {[&] { p.a->pm_idx = 1, p.b->pm_idx = 0x8000; }, -1},
             {[&] { p.b->pm_idx = 1; }, 1},
             {[&] { p.b->bssid_up_refcount = 1ull << 63; }, -1}});
  }
  {
    // Later fields and later elements of cac order the other way round; an
    // earlier element, then a nested record before the array, decide.
    auto p = PAIR(qos_bssid_data_t);
    p.steps({{[&] { mox_boolean_set_value(h, kDb, &p.b->local_mode, 1, &err); }, -1},
             {[&] { p.a->num_cac_entries = 9; }, 1},
             {[&] { p.b->cac[3].up = 5; }, -1},
             {[&] { p.a->cac[1].cac_state.value = BSSID_CAC_STATE_VALID; }, 1},
             {[&] { p.b->bssid_downstream_qos_pm.qos_pm_type.value = BSSID_QOS_PM_TYPE_LOCAL_WLAN; }, -1}});
  }
  {
    // A nested record's counter (unsigned 16-bit) decides before later fields.
    auto p = PAIR(qos_ap_radio_data_t);
    p.steps({{[&] {
                p.a->wmm_cac_stats.calls_rejected_qos = 0x8000, p.b->wmm_cac_stats.calls_rejected_qos = 1;
                p.b->total_rejected_calls = 1;
              },
              1}});
  }
  {
    // call_record: the count first, then the elements; the variant-1 field last.
    auto p = PAIR(qos_client_data_t);
    apf_call_record_t *e = apf_call_record_t_create(h, kDb);
    auto put = [&](qos_client_data_t *rec, uint32_t i, uint32_t code) {
      e->call_code = code;
      qos_client_data_t_call_record_set(h, kDb, rec, i, e, &err);
    };
    p.steps({{[&] { put(p.a, 0, 0), put(p.a, 1, 1), put(p.a, 2, 2), put(p.b, 0, 100), put(p.b, 1, 101); }, 1},
             {[&] { put(p.b, 0, 0), put(p.b, 1, 1), put(p.b, 2, 7); }, -1},
             {[&] { put(p.b, 2, 2); }, 0},
             {[&] { p.a->bw_alloc_radio_band_info.value = ENM_RADIO_BAND_6GHZ; }, 1}});
    apf_call_record_t_destroy(h, kDb, e);
  }
  {
    // Also on instances of variant 0: the instance variant is not consulted.
    auto p = PAIR(qos_client_call_data);
    p.steps({{[&] {
                p.a->variant = p.b->variant = 0, p.a->call_duration2 = 1;
                p.b->radio_band_info.value = ENM_RADIO_BAND_5GHZ;
              },
              1},
             {[&] { p.b->call_duration2 = 1; }, -1}});
  }
  {
    // A list: the entry count first, then the entries in list order.
    auto p = PAIR(class_map_list);
    auto add = [&](class_map_list *l, uint64_t rate) {
      class_map_entry *x = class_map_entry_create(h, kDb);
      x->police_rate = rate;
      class_map_list_entry_set_last(h, kDb, l, x, &err);
      return x;
    };
    class_map_entry *b1 = nullptr, *b2 = nullptr;
    p.steps({{[&] { add(p.a, 5), add(p.a, 1), b1 = add(p.b, 9); }, 1},
             {[&] { b2 = add(p.b, 0); }, -1},
             {[&] { b1->police_rate = 5; }, 1},
             {[&] { b2->police_rate = 1; }, 0}});
  }
  EXPECT_EQ((std::tuple{err, h.live_bytes()}), (std::tuple{0u, uint64_t{0}}));
}

}  // namespace
}  // namespace orva_test
