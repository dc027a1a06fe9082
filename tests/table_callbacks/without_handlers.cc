// A process that defines none of the table handlers: every callback of every
// table runs its default (the slot cleared, the default message at its
// level; the DM events then the plain event's default too), and a callback
// entered with an error returns it and traces nothing.
#include <gtest/gtest.h>

#include "callbacks.h"
#include "handle.h"
#include "trace_capture.h"

namespace orva_test {
namespace {

TEST(TableCallbacksWithoutHandlers, DefaultsOfEveryEventOfEveryTable) {
  ScopedHandle h;
  int a = 0, b = 0;
  for (const TableCallbacks &c : AllTableCallbacks()) {
    for (size_t e = 0; e < std::size(kEvents); ++e) {
      SCOPED_TRACE(c.table + " " + kEvents[e].name);
      uint32_t err = 5;
      mox_trace_clear();
      EXPECT_EQ(Call(c, e, h, 7, &a, &b, &err), 5u);
      EXPECT_EQ(err, 5u);
      EXPECT_EQ(mox_trace_count(), 0u);

      err = 0;
      h->last_error = 9;
      EXPECT_EQ(Call(c, e, h, 7, &a, &b, &err), 0u);
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(h->last_error, 0u);
      std::vector<std::pair<std::string, uint32_t>> expected{
          {DefaultMessage(c.table, kEvents[e]), kEvents[e].level}};
      if (e == 3 || e == 4)  // create DM, delete DM: then create, delete
        expected.emplace_back(DefaultMessage(c.table, kEvents[e == 3 ? 0 : 2]), kEvents[0].level);
      std::vector<std::pair<std::string, uint32_t>> traced;
      for (const auto &r : TraceRecords()) traced.emplace_back(r.text, r.level);
      EXPECT_EQ(traced, expected);
    }
  }
}

}  // namespace
}  // namespace orva_test
