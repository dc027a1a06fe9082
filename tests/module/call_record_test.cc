// The dynamic array call_record of qos_client_data_t: growth, reallocation,
// per-element state bytes, emptying, and the port-array block copies of its
// elements, with every store announced.
#include <gtest/gtest.h>

#include <cstring>

#include "handle.h"
#include "journal_check.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
using orva_test::ScopedHandle;

TEST(CallRecord, GrowsReallocatesMarksAndEmptiesWithoutLeaks) {
  ScopedHandle h(MOX_STTR_ON);
  uint32_t err = 0;
  qos_client_data_t *c = qos_client_data_t_create(h, kDb);
  apf_call_record_t *r = apf_call_record_t_create(h, kDb);
  ASSERT_NE(c, nullptr);
  mox_vstring_t text{};
  mox_vstring_set_value(h, kDb, &text, "call-1", &err);
  mox_vstring_set(h, kDb, apf_call_record_t_call_id_get(h, kDb, r, &err), &text, &err);
  ASSERT_EQ(err, 0u);

  // Index 3 on an empty array: four elements, the source copied into the last.
  qos_client_data_t_call_record_set(h, kDb, c, 3, r, &err);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(qos_client_data_t_call_record_index_get_value(h, kDb, c, &err), 4);
  EXPECT_STREQ(c->call_record[3].call_id.str, "call-1");
  EXPECT_NE(c->call_record[3].call_id.str, r->call_id.str);  // its own copy
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 3, &err), 2);
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 0, &err), 0);
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_whole_get(h, kDb, c, &err), 2);
  // (The notice is once per process: another test in this process may have had it.)

  // A set inside the count reuses the block; growing again reallocates,
  // keeps the moved elements and their state bytes, and says so once.
  apf_call_record_t *before = c->call_record;
  qos_client_data_t_call_record_set(h, kDb, c, 1, r, &err);
  EXPECT_EQ(c->call_record, before);
  {
    orva_test::JournalCheck jc(h, {{c, (uint32_t)sizeof(*c), "record"}});
    qos_client_data_t_call_record_set(h, kDb, c, 5, r, &err);
    EXPECT_TRUE(jc.Verify());
  }
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(c->call_record_index, 6);
  EXPECT_STREQ(c->call_record[3].call_id.str, "call-1");
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 1, &err), 2);
  EXPECT_EQ(qos_client_data_t_call_record_state_flag_get(h, kDb, c, 2, &err), 0);
  qos_client_data_t_call_record_set(h, kDb, c, 7, nullptr, &err);  // grows only
  EXPECT_EQ(c->call_record_index, 8);
  EXPECT_LE(orva_test::TraceTexts().size(), 1u);

  // Out of range: the element getter and state flag with 2, index 255 refused.
  EXPECT_EQ(qos_client_data_t_call_record_get(h, kDb, c, 8, &err), nullptr);
  EXPECT_EQ(err, 2u);
  err = 0;
  EXPECT_EQ(qos_client_data_t_call_record_set(h, kDb, c, 255, r, &err), 22u);
  EXPECT_EQ(c->call_record_index, 8);
  err = 0;

  qos_client_data_t_call_record_remove_elements(h, kDb, c);
  EXPECT_EQ(c->call_record_index, 0);
  EXPECT_EQ(c->call_record, nullptr);
  qos_client_data_t_call_record_remove_elements(h, kDb, c);  // empty: nothing
  qos_client_data_t_call_record_set(h, kDb, c, 0, r, &err);
  EXPECT_EQ(err, 0u);

  mox_vstring_destroy_internal(h, kDb, &text, 0);
  apf_call_record_t_destroy(h, kDb, r);
  qos_client_data_t_destroy(h, kDb, c);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(CallRecord, PortArraysCopyAtMostTwoAndMarkOnlyTheWholeByte) {
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

  mox_trace_clear();
  EXPECT_EQ(apf_call_record_t_downlink_dest_ip_port_set_mem_cr(h, r, ports, 3), 22u);
  EXPECT_EQ(r->downlink_dest_ip_port[0], 0u);
  h->last_error = 0;
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, out, 3, &err), nullptr);
  EXPECT_EQ(err, 22u);
  EXPECT_TRUE(orva_test::TraceTexts().empty());  // both refusals are silent
  err = 0;
  // A missing buffer is a missing argument, not a bad count.
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_get_mem(h, kDb, r, nullptr, 1, &err), nullptr);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(apf_call_record_t_uplink_dest_ip_port_set_mem_cr(h, r, nullptr, 1), 2u);
  h->last_error = 0;
  apf_call_record_t_destroy(h, kDb, r);
  EXPECT_EQ(h.live_bytes(), 0u);
}

}  // namespace
