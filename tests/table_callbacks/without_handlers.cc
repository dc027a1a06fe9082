// A process that defines none of the table handlers: every callback of every
// table runs its default (the slot cleared, the default message at its
// level; the DM events then the plain event's default too), and a callback
// entered with an error returns it and traces nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace orva_test {
namespace {

using Trace = std::pair<std::string, uint32_t>;

TEST(TableCallbacksWithoutHandlers, DefaultsOfEveryEventOfEveryTable) {
  ScopedHandle h;
  int a = 0, b = 0;
  uint32_t err = 0;
  // Per table, each callback with fixed arguments, and the events its default traces.
  std::vector<std::pair<std::string, std::vector<std::pair<std::function<uint32_t()>, std::vector<Trace>>>>> tables;
  auto msg = [](const std::string &t, const char *event, uint32_t level = 0x6000000) {
    return Trace{"default orva_qos_data_" + t + "_record " + event + " handler called", level};
  };
#define ORVA_TEST_TABLE(t)                                                                                  \
  tables.push_back({#t,                                                                                     \
                    {{[&] { return t##_table_record_create_cb(h, 7, &a, &b, &err); }, {msg(#t, "create")}},  \
                     {[&] { return t##_table_record_modify_cb(h, 7, &a, &b, &err); }, {msg(#t, "modify")}},  \
                     {[&] { return t##_table_record_delete_cb(h, 7, &a, &b, &err); }, {msg(#t, "delete")}},  \
                     {[&] { return t##_table_record_create_dm_cb(h, 7, &b, &err); },                         \
                      {msg(#t, "create DM"), msg(#t, "create")}},                                           \
                     {[&] { return t##_table_record_delete_dm_cb(h, 7, &b, &err); },                         \
                      {msg(#t, "delete DM"), msg(#t, "delete")}},                                           \
                     {[&] { return t##_table_record_grouping_cb(h, 7, &a, &err, 1, 2, 3, 4); },              \
                      {msg(#t, "grouping", 0x8000000)}},                                                    \
                     {[&] { return t##_table_record_free_cb(h, 7, &a, &b, &err, 5); }, {msg(#t, "free")}}}});
  ORVA_TEST_TABLE(tbl_qos_ap_data) ORVA_TEST_TABLE(tbl_qos_bssid_data) ORVA_TEST_TABLE(tbl_qos_ap_radio_data)
  ORVA_TEST_TABLE(tbl_qos_wlan_data) ORVA_TEST_TABLE(tbl_qos_client_data)
  ORVA_TEST_TABLE(tbl_qos_stby_client_policy_data) ORVA_TEST_TABLE(tbl_qos_pm_refcount_data)
  ORVA_TEST_TABLE(tbl_qos_global_statistics) ORVA_TEST_TABLE(tbl_qos_policy_map_content)
#undef ORVA_TEST_TABLE
  for (const auto &[table, callbacks] : tables) {
    for (const auto &[call, expected] : callbacks) {
      SCOPED_TRACE(expected[0].first);
      mox_trace_clear();
      err = 5;
      EXPECT_EQ(call(), 5u);
      EXPECT_EQ((std::pair{err, mox_trace_count()}), (std::pair{5u, 0u}));
      err = 0;
      h->last_error = 9;
      EXPECT_EQ(call(), 0u);
      EXPECT_EQ((std::pair{err, h->last_error}), (std::pair{0u, 0u}));
      std::vector<Trace> traced;
      for (const auto &r : TraceRecords()) traced.emplace_back(r.text, r.level);
      EXPECT_EQ(traced, expected);
    }
  }
}

}  // namespace
}  // namespace orva_test
