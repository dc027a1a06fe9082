// Field accessors through the C API: where setters mark state bytes in deep
// records, variant and bound refusals with their codes and messages, the
// tracking modes, the dynamic array's element state across reallocation, and
// the record-level copy that must leave source and destination independent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
constexpr uint32_t kError = 0x3000000u;  // the trace level of refusal messages
using orva_test::ScopedHandle;
using orva_test::Traced;

// The state positions that follow the dynamic array's pointer move with its width.
constexpr uint32_t kBandInfoPos = sizeof(void *) == 4 ? 264 : 268;

uint8_t *area_of(mox_handle_t *h, qos_client_data_t *c) {
  return reinterpret_cast<uint8_t *>(c) + qos_client_data_t_sizeof_internal(h, c, 0, 0);
}
// The slot's code, clearing it for the next call.
uint32_t took(uint32_t &err) { return std::exchange(err, 0u); }

// A refused call: the code it leaves in the error slot (or, for the _cr
// forms, in last_error) and, where given, the message it traces at error
// level; "" means it traces nothing at all.
struct Refusal {
  const char *what;
  std::function<void()> op;
  uint32_t code;
  const char *text = nullptr;
};
void expect_refusals(mox_handle_t *h, uint32_t &err, const std::vector<Refusal> &rows) {
  for (const Refusal &r : rows) {
    err = 0, h->last_error = 0;
    mox_trace_clear();
    r.op();
    EXPECT_EQ(err ? err : h->last_error, r.code) << r.what;
    EXPECT_EQ(r.text && *r.text ? orva_test::TraceLevel(r.text) : kError, kError) << r.what;
    EXPECT_TRUE(!r.text || *r.text || orva_test::TraceTexts().empty()) << r.what;
  }
  err = 0, h->last_error = 0;
}

TEST(Accessors, SettersMarkTheirOwnBytesInDeepRecordsAndAnnounceEveryStore) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  qos_client_policy_t *p = qos_client_policy_t_create(h, kDb);
  tclas_set_t *ts = tclas_set_t_create(h, kDb);
  ASSERT_TRUE(c && p && ts);
  uint8_t *area = area_of(h, c);

  // (That every setter announces its stores first, the all-types walk proves.)
  qos_client_policy_t_qos_pm_state_set_value(h, kDb, p, 1, &err);  // p's own byte 3
  qos_client_data_t_client_installed_upstream_pm_set(h, kDb, c, p, &err);
  qos_client_data_t_client_installed_downstream_pm_set(h, kDb, c, p, &err);
  qos_client_data_t_tclas_set_set(h, kDb, c, 1, ts, &err);
  qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 77, &err);
  qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, ENM_RADIO_BAND_5GHZ, &err);
  ASSERT_EQ(err, 0u);

  // Parent bytes of the two policies, their nested areas carrying the copied
  // byte of qos_pm_state, the tclas_set whole byte and element 1 only.
  const std::vector<uint32_t> marked = {2, 2 + 1 + 3, 76, 76 + 1 + 3, 155, 157, 232, kBandInfoPos};
  for (uint32_t pos = 0; pos < qos_client_data_t_sizeof_internal(h, c, 1, 1); ++pos)
    EXPECT_EQ(area[pos], std::count(marked.begin(), marked.end(), pos) ? 2 : 0) << pos;
  // The copy took the source's header; only the runtime-held offset of its
  // state area stays the destination's.
  EXPECT_EQ(c->client_installed_upstream_pm.flags, p->flags | MOX_FLAG_STTR_OFFSET_HELD);

  // State-flag setters store the caller's low byte and keep last_error.
  h->last_error = 7;
  qos_client_data_t_bandwidth_alloc_state_flag_set(h, kDb, c, 0x1F5, &err);
  qos_client_data_t_tclas_set_state_flag_whole_set(h, kDb, c, 4, &err);
  qos_client_data_t_tclas_set_state_flag_set(h, kDb, c, 0, 6, &err);
  EXPECT_EQ((std::tuple{h->last_error, area[232], qos_client_data_t_tclas_set_state_flag_whole_get(h, kDb, c, &err),
                            area[156], err}),
            (std::tuple{7u, uint8_t{0xF5}, 4, uint8_t{6}, 0u}));

  tclas_set_t_destroy(h, kDb, ts);
  qos_client_policy_t_destroy(h, kDb, p);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Every refusal of the field accessors, with its code and message: variants,
// null objects and arguments, fixed-array bounds, records without a state
// area while tracking is on, state flags with tracking off (silent), and the
// port arrays' block copies (silent; a missing buffer is 2, not a bad count).
// None of them stores a value.
TEST(Accessors, RefusalsTheirCodesAndMessages) {
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  mox_domain_set_variant(h, _qos_client_data_t_type_info_internal.luid_text, 0);
  qos_client_data_t *c = qos_client_data_t_create(h, kDb), *neg = qos_client_data_t_create(h, kDb);
  neg->variant = -1;
  qos_client_policy_t *p = qos_client_policy_t_create(h, kDb);
  qos_client_data_t *plain = qos_client_data_t_create(off, kDb);
  apf_call_record_t *rec = apf_call_record_t_create(off, kDb), *r = apf_call_record_t_create(h, kDb);
  tclas_set_t *untracked = tclas_set_t_create(off, kDb);
  uint32_t ports[3] = {5, 6, 7}, out[3] = {0, 0, 0};
  ASSERT_EQ(c->variant, 0);
  // Index 21 is the variant-1 field; 22 is past the last field.
  EXPECT_EQ((std::tuple{qos_client_data_t_is_valid_cr(h, c, 20, 0), qos_client_data_t_is_valid_cr(h, c, 21, 0),
                            qos_client_data_t_is_valid_cr(h, c, 22, 0)}), (std::tuple{true, false, false}));
  expect_refusals(h, err, {
      {"variant-1 field of a variant-0 record", [&] { EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_get(h, kDb, c, &err), nullptr); }, 43},
      {"variant-1 setter, domain at 0", [&] { qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, 2, &err); }, 43},
      {"negative variant, setter", [&] { qos_client_data_t_bandwidth_alloc_set_value(h, kDb, neg, 5, &err); }, 43},
      {"negative variant, state flag", [&] { EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, neg, &err), 0); }, 0},
      {"null record, getter", [&] { EXPECT_EQ(qos_client_data_t_bandwidth_alloc_get(h, kDb, nullptr, &err), nullptr); }, 43},
      {"null record, element setter", [&] { qos_client_data_t_call_record_set(h, kDb, nullptr, 0, nullptr, &err); }, 43},
      {"null record, state flag", [&] { qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, nullptr, &err); }, 22},
      {"null record, _cr block copy", [&] { apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, nullptr, nullptr, 1); }, 43},
      {"null record, remove elements", [&] { qos_client_data_t_call_record_remove_elements(h, kDb, nullptr); }, 0},
      {"record copy, null source", [&] { qos_client_policy_t_set(h, kDb, &c->client_installed_upstream_pm, nullptr, &err); }, 2},
      {"record copy, null destination", [&] { qos_client_policy_t_set(h, kDb, nullptr, &c->client_installed_upstream_pm, &err); }, 2},
      {"nested setter, null source", [&] { qos_client_data_t_client_installed_upstream_pm_set(h, kDb, c, nullptr, &err); }, 2},
      {"element getter past the bound", [&] { EXPECT_EQ(qos_client_data_t_tclas_set_get(h, kDb, c, 2, &err), nullptr); }, 2, ""},
      {"element state flag past the bound", [&] { EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_get(h, kDb, c, 2, &err), 0); }, 2},
      {"element setter past the bound", [&] { qos_client_data_t_tclas_set_set(h, kDb, c, 2, untracked, &err); }, 22,
       "Cannot exceed qos_client_data_t fixed size array tclas_set[2], by 2"},
      {"element value setter past the bound", [&] { qos_client_policy_t_pm_idx_sent_to_ap_set_value(h, kDb, p, 64, 1, &err); }, 22,
       "Cannot exceed qos_client_policy_t fixed size array pm_idx_sent_to_ap[64], by 64"},
      {"tracking off, state flag get", [&] { qos_client_data_t_bandwidth_alloc_state_flag_get(off, kDb, plain, &err); }, 22, ""},
      {"tracking off, state flag set", [&] { qos_client_data_t_bandwidth_alloc_state_flag_set(off, kDb, plain, 1, &err); }, 22, ""},
      {"untracked record, setter", [&] { qos_client_data_t_bandwidth_alloc_set_value(h, kDb, plain, 4, &err); }, 22,
       "The object is not state tracked"},
      {"untracked record, state flag", [&] { EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, plain, &err), 0); }, 22,
       "The object is non state tracked"},
      {"untracked record, element setter", [&] { qos_client_data_t_call_record_set(h, kDb, plain, 1, nullptr, &err); }, 22},
      {"untracked record, _cr block copy", [&] { apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, rec, ports, 2); }, 22},
      {"block copy of three", [&] { apf_call_record_t_downlink_dest_ip_port_set_mem_cr(h, r, ports, 3); }, 22, ""},
      {"block read of three", [&] { EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, out, 3, &err), nullptr); }, 22, ""},
      {"block read, no buffer", [&] { EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, nullptr, 1, &err), nullptr); }, 2},
      {"block copy, no buffer", [&] { apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, nullptr, 1); }, 2},
  });
  EXPECT_EQ((std::tuple{c->bw_alloc_radio_band_info.value, neg->bandwidth_alloc, plain->bandwidth_alloc,
                            plain->call_record, rec->uplink_dest_ip_port[0], r->downlink_dest_ip_port[0],
                            qos_client_data_t_client_installed_upstream_pm_state_flag_get(h, kDb, c, &err)}),
            (std::tuple{0u, 0u, 4u, nullptr, 0u, 0u, 0}));  // an untracked record's value is still written
  // A block copy of two marks only the whole byte; its buffer may overlap the
  // field (running on into downlink_dest_ip_port[0]), and so may a read-back.
  ports[0] = 256;
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, ports, 2), 0u);
  EXPECT_EQ((std::tuple{apf_call_record_t_uplink_dest_ip_port_state_flag_whole_get(h, kDb, r, &err),
                        apf_call_record_t_uplink_dest_ip_port_state_flag_get(h, kDb, r, 0, &err), r->uplink_dest_ip_port[0]}),
            (std::tuple{2, 0, 256u}));
  apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, &r->uplink_dest_ip_port[1], 2);
  apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, r->uplink_dest_ip_port, 2, &err);
  EXPECT_EQ((std::tuple{r->uplink_dest_ip_port[0], r->uplink_dest_ip_port[1], err}), (std::tuple{6u, 0u, 0u}));

  // Once the domain allows variant 1, the setter's adjustment raises the
  // record, as adjust_variant does on its own (never a negative one).
  mox_domain_set_variant(h, _qos_client_data_t_type_info_internal.luid_text, 1);
  EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, 2, &err), 0u);
  qos_client_data_t_adjust_variant(h, kDb, neg, &err);
  EXPECT_EQ((std::tuple{int(c->variant), int(neg->variant), c->bw_alloc_radio_band_info.value,
                            qos_client_data_t_is_valid_cr(h, c, 21, 0)}), (std::tuple{1, -1, 2u, true}));
  EXPECT_EQ(qos_client_data_t_bw_alloc_radio_band_info_get(h, kDb, c, &err), &c->bw_alloc_radio_band_info);
  neg->variant = 0;
  qos_client_data_t_adjust_variant(h, kDb, neg, &err);
  EXPECT_EQ(neg->variant, 1);

  // A null source only passes the index check; an untracked one is copied but marks nothing.
  EXPECT_EQ(qos_client_data_t_tclas_set_set(h, kDb, c, 1, nullptr, &err), 0u);
  EXPECT_EQ(qos_client_data_t_tclas_set_state_flag_whole_get(h, kDb, c, &err), 0);
  tclas_set_t_tspec_id_set_value(off, kDb, untracked, 42, &err);
  expect_refusals(h, err, {{"untracked source", [&] { qos_client_data_t_tclas_set_set(h, kDb, c, 0, untracked, &err); }, 22,
                            "The val object is not state tracked"}});
  EXPECT_EQ((std::tuple{int(c->tclas_set[0].tspec_id), int(c->tclas_set[0].flags),
                            qos_client_data_t_tclas_set_state_flag_get(h, kDb, c, 0, &err)}),
            (std::tuple{42, untracked->flags | MOX_FLAG_STTR_OFFSET_HELD, 0}));

  // A set error slot: no effect and no runtime call at all.
  err = 5;
  uint64_t calls = mox_rt_call_count();
  EXPECT_EQ((std::tuple{qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 5, &err),
                            qos_client_data_t_call_record_set(h, kDb, c, 0, nullptr, &err),
                            qos_client_data_t_tclas_set_get(h, kDb, c, 0, &err),
                            qos_client_data_t_bandwidth_alloc_state_flag_set(h, kDb, c, 1, &err),
                            mox_rt_call_count(), c->bandwidth_alloc}),
            (std::tuple{5u, 5u, nullptr, 5u, calls, 0u}));

  // Tracking off: values are written and nothing is marked; a handle without
  // a tracking configuration reads by the record's flag and marks nothing.
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_set_value(off, kDb, plain, 9, &(err = 0)), 0u);
  EXPECT_EQ(plain->bandwidth_alloc, 9u);
  qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 1, &err);
  mox_handle_set_sttr_mode(h, 0);
  EXPECT_EQ(qos_client_data_t_bandwidth_alloc_state_flag_get(h, kDb, c, &err), 2);
  qos_client_data_t_roam_call_set_value(h, kDb, c, 1, &err);
  EXPECT_EQ(area_of(h, c)[236], 0);
  mox_handle_set_sttr_mode(h, 0x1234);
  EXPECT_DEATH(
      {
        mox_trace_set_stderr(1);
        qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 2, &err);
      },
      "Corrupted MOX Handle");
  mox_handle_set_sttr_mode(h, MOX_STTR_ON);

  tclas_set_t_destroy(off, kDb, untracked);
  apf_call_record_t_destroy(h, kDb, r);
  apf_call_record_t_destroy(off, kDb, rec);
  qos_client_data_t_destroy(off, kDb, plain);
  qos_client_policy_t_destroy(h, kDb, p);
  qos_client_data_t_destroy(h, kDb, neg);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes() + off.live_bytes(), 0u);
}

// Containment reports: a runtime primitive or scalar element once with the
// record as owner; a nested record, a module enumeration or a record element
// twice, first without owner; a value setter the getter's pointer after the
// getter's own report; a setter's source after a successful store only (not
// when the marking step refuses it).  Nothing at all with containment off.
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
    mox_event_t e;
    for (uint32_t i = 0; i < mox_event_count(h); ++i)
      if (mox_event_get(h, i, &e), e.kind == MOX_EVENT_CONTAINMENT) out.emplace_back(e.item, e.owner);
    return out;
  };
  EXPECT_EQ(reports([&] { qos_client_data_t_bandwidth_alloc_get(h, kDb, c, &err); }), Reports{});
  mox_handle_set_containment(h, 1);
  const std::pair<std::function<void()>, Reports> cases[] = {
      {[&] { qos_client_data_t_bandwidth_alloc_get(h, kDb, c, &err); }, {{&c->bandwidth_alloc, c}}},
      {[&] { qos_client_data_t_client_installed_upstream_pm_get(h, kDb, c, &err); }, {{p, nullptr}, {p, c}}},
      {[&] { qos_client_policy_t_qos_pm_state_get_value(h, kDb, p, &err); }, {{&p->qos_pm_state, nullptr}, {&p->qos_pm_state, p}}},
      {[&] { qos_client_data_t_tclas_set_get(h, kDb, c, 1, &err); }, {{&c->tclas_set[1], nullptr}, {&c->tclas_set[1], c}}},
      {[&] { qos_client_policy_t_pm_idx_sent_to_ap_get(h, kDb, p, 3, &err); }, {{&p->pm_idx_sent_to_ap[3], p}}},
      {[&] { qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 5, &err); }, {{&c->bandwidth_alloc, c}, {&c->bandwidth_alloc, c}}},
      {[&] { qos_ap_radio_key_t_ap_mac_set(h, kDb, k, &mac, &err); }, {{&mac, k}}},
      {[&] { qos_ap_radio_key_t_ap_mac_set(h, kDb, plain, &mac, &err); }, {}},
  };
  for (const auto &[op, want] : cases) EXPECT_EQ(reports(op), want);
  EXPECT_EQ((std::tuple{took(err), int(plain->ap_mac.octet[5])}), (std::tuple{22u, 6}));  // written, then refused
  mox_handle_set_containment(h, 0);
  qos_ap_radio_key_t_destroy(off, kDb, plain);
  qos_ap_radio_key_t_destroy(h, kDb, k);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
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
  EXPECT_STREQ(c->call_record[1].call_id.str, "call-1");
  EXPECT_NE(c->call_record[1].call_id.str, c->call_record[0].call_id.str);  // its own copy
  auto elem_state = [&](uint32_t i) {  // element i's own area, after all elements
    return reinterpret_cast<uint8_t *>(c->call_record) + c->call_record_index * sizeof(apf_call_record_t) + i * 16;
  };
  EXPECT_EQ((std::tuple{qos_client_data_t_call_record_index_get_value(h, kDb, c, &err),
                            qos_client_data_t_call_record_state_flag_whole_get(h, kDb, c, &err), elem_state(1)[13]}),
            (std::tuple{2, 2, uint8_t{2}}));
  apf_call_record_t_up_set_value(h, kDb, qos_client_data_t_call_record_get(h, kDb, c, 0, &err), 3, &err);
  EXPECT_EQ(elem_state(0)[15], 2);
  qos_client_data_t_call_record_state_flag_set(h, kDb, c, 0, 9, &err);
  apf_call_record_t *block = c->call_record;
  qos_client_data_t_call_record_set(h, kDb, c, 1, r, &err);  // within the count: same block
  EXPECT_EQ(c->call_record, block);

  // Growth moves the elements with their areas (its announcements: the all-types walk).
  qos_client_data_t_call_record_set(h, kDb, c, 3, nullptr, &err);
  ASSERT_EQ(err, 0u);
  apf_call_record_t *e1 = qos_client_data_t_call_record_get(h, kDb, c, 1, &err);
  EXPECT_EQ((std::tuple{elem_state(1)[13], elem_state(0)[15], apf_call_record_t_call_code_state_flag_get(h, kDb, e1, &err),
                            apf_call_record_t_up_state_flag_get(h, kDb, c->call_record, &err),
                            qos_client_data_t_call_record_state_flag_get(h, kDb, c, 0, &err),
                            qos_client_data_t_call_record_state_flag_get(h, kDb, c, 1, &err),
                            qos_client_data_t_call_record_state_flag_get(h, kDb, c, 2, &err), e1->call_code}),
            (std::tuple{uint8_t{2}, uint8_t{2}, 2, 2, 9, 2, 0, 31u}));
  EXPECT_STREQ(e1->call_id.str, "call-1");

  // Out of range: the element getter with 2, index 255 refused; an untracked
  // source is refused before anything happens.
  expect_refusals(h, err, {
      {"getter past the count", [&] { EXPECT_EQ(qos_client_data_t_call_record_get(h, kDb, c, 4, &err), nullptr); }, 2},
      {"index 255", [&] { qos_client_data_t_call_record_set(h, kDb, c, 255, r, &err); }, 22},
      {"untracked source", [&] { qos_client_data_t_call_record_set(h, kDb, c, 6, plain, &err); }, 22,
       "The val object is not state tracked"}});
  EXPECT_EQ(c->call_record_index, 4);

  // No element block: the array keeps its count.  No per-element block: the
  // elements are grown, their bytes are gone, and a later growth still works.
  h.fail_alloc_after(0);
  qos_client_data_t_call_record_set(h, kDb, c, 5, nullptr, &err);
  EXPECT_EQ((std::tuple{took(err), int(c->call_record_index)}), (std::tuple{12u, 4}));
  h.fail_alloc_after(1);
  qos_client_data_t_call_record_set(h, kDb, c, 7, nullptr, &err);
  EXPECT_EQ((std::tuple{took(err), int(c->call_record_index)}), (std::tuple{12u, 8}));
  EXPECT_EQ((std::tuple{qos_client_data_t_call_record_state_flag_get(h, kDb, c, 0, &err), took(err)}),
            (std::tuple{0, 2u}));
  h.fail_alloc_after(-1);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 9, r, &err), 0u);
  EXPECT_EQ((std::tuple{qos_client_data_t_call_record_state_flag_get(h, kDb, c, 9, &err), c->call_record[1].call_code}),
            (std::tuple{2, 31u}));

  // Emptying releases the element block; emptying again does nothing; it
  // grows again.  The record's destroy releases the per-element states.
  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  EXPECT_EQ((std::tuple{int(c->call_record_index), c->call_record}), (std::tuple{0, nullptr}));
  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 0, r, &err), 0u);
  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  apf_call_record_t_destroy(off, kDb, plain);
  apf_call_record_t_destroy(h, kDb, r);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Accessors, RecordLevelCopyLeavesSourceAndDestinationIndependent) {
  ScopedHandle h(MOX_STTR_ON), off(MOX_STTR_OFF);
  uint32_t err = 0;
  qos_client_policy_t *src = qos_client_policy_t_create(h, kDb), *dst = qos_client_policy_t_create(h, kDb);
  mox_vstring_set_value(h, kDb, &src->qos_pm_name, "gold", &err);
  mox_vstring_set_value(h, kDb, &dst->qos_pm_name, "replaced", &err);  // released by the copy
  mox_vstring_set_value(h, kDb, &dst->qos_pm_status_str, "old", &err);
  qos_client_policy_t_qos_pm_name_state_flag_set(h, kDb, src, 5, &err);
  EXPECT_EQ(qos_client_policy_t_set(h, kDb, dst, src, &err), 0u);  // announced: the all-types walk
  EXPECT_NE(dst->qos_pm_name.str, src->qos_pm_name.str);
  // The source had no status string: no empty one either.
  EXPECT_EQ((std::tuple{dst->qos_pm_status_str.str, qos_client_policy_t_qos_pm_name_state_flag_get(h, kDb, dst, &err)}),
            (std::tuple{nullptr, 5}));
  qos_client_policy_t_destroy(h, kDb, src);
  EXPECT_STREQ(dst->qos_pm_name.str, "gold");

  // Onto itself: nothing changes.  A destination of a lower variant than its
  // source takes nothing (43).
  const std::string before(reinterpret_cast<const char *>(dst), qos_client_policy_t_sizeof_internal(h, dst, 1, 0));
  EXPECT_EQ(qos_client_policy_t_set(h, kDb, dst, dst, &err), 0u);
  EXPECT_EQ(before, std::string(reinterpret_cast<const char *>(dst), before.size()));
  qos_client_policy_t *other = qos_client_policy_t_create(h, kDb);
  other->variant = -1;
  qos_client_policy_t_set(h, kDb, other, dst, &err);
  EXPECT_EQ((std::tuple{took(err), other->qos_pm_name.str}), (std::tuple{43u, nullptr}));
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
  expect_refusals(h, err, {{"untracked destination", [&] { qos_client_policy_t_set(h, kDb, plain, dst, &err); }, 22,
                            "The object is not state tracked"}});
  EXPECT_EQ((std::tuple{plain->qos_pm_name.str, int(plain->flags)}),
            (std::tuple{dst->qos_pm_name.str, dst->flags & ~MOX_FLAG_STATE_TRACKED}));
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
