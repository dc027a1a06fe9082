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
  // One callback with fixed arguments: entered with an error it returns it
  // and traces nothing; else the slot and last_error are cleared and its
  // default traces the events' messages, at 0x6000000 (grouping: 0x8000000).
  auto check = [&](const std::string &t, std::function<uint32_t()> call, std::vector<const char *> events) {
    SCOPED_TRACE(t + " " + events[0]);
    mox_trace_clear();
    err = 5;
    EXPECT_EQ(call(), 5u);
    EXPECT_EQ((std::pair{err, mox_trace_count()}), (std::pair{5u, 0u}));
    err = 0;
    h->last_error = 9;
    EXPECT_EQ(call(), 0u);
    EXPECT_EQ((std::pair{err, h->last_error}), (std::pair{0u, 0u}));
    std::vector<Trace> traced, expected;
    for (const auto &r : TraceRecords()) traced.emplace_back(r.text, r.level);
    for (const char *e : events)
      expected.emplace_back("default orva_qos_data_" + t + "_record " + e + " handler called",
                            std::string(e) == "grouping" ? 0x8000000 : 0x6000000);
    EXPECT_EQ(traced, expected);
  };
#define ORVA_TEST_TABLE(t)                                                                                   \
  check(#t, [&] { return t##_table_record_create_cb(h, 7, &a, &b, &err); }, {"create"});                     \
  check(#t, [&] { return t##_table_record_modify_cb(h, 7, &a, &b, &err); }, {"modify"});                     \
  check(#t, [&] { return t##_table_record_delete_cb(h, 7, &a, &b, &err); }, {"delete"});                     \
  check(#t, [&] { return t##_table_record_create_dm_cb(h, 7, &b, &err); }, {"create DM", "create"});        \
  check(#t, [&] { return t##_table_record_delete_dm_cb(h, 7, &b, &err); }, {"delete DM", "delete"});        \
  check(#t, [&] { return t##_table_record_grouping_cb(h, 7, &a, &err, 1, 2, 3, 4); }, {"grouping"});        \
  check(#t, [&] { return t##_table_record_free_cb(h, 7, &a, &b, &err, 5); }, {"free"});
  ORVA_TEST_TABLE(tbl_qos_ap_data) ORVA_TEST_TABLE(tbl_qos_bssid_data) ORVA_TEST_TABLE(tbl_qos_ap_radio_data)
  ORVA_TEST_TABLE(tbl_qos_wlan_data) ORVA_TEST_TABLE(tbl_qos_client_data)
  ORVA_TEST_TABLE(tbl_qos_stby_client_policy_data) ORVA_TEST_TABLE(tbl_qos_pm_refcount_data)
  ORVA_TEST_TABLE(tbl_qos_global_statistics) ORVA_TEST_TABLE(tbl_qos_policy_map_content)
#undef ORVA_TEST_TABLE
}

}  // namespace
}  // namespace orva_test
