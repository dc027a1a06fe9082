// Reading the runtime's trace capture in tests.
//
//   EXPECT_TRUE(orva_test::Traced("varinfo is NULL"));
//   EXPECT_EQ(orva_test::TraceLevel("not state tracked"), 0x3000000u);
//   auto all = orva_test::TraceRecords();
#pragma once

#include <string>
#include <vector>

#include "mox/runtime.h"

namespace orva_test {

inline std::vector<mox_trace_record_t> TraceRecords() {
  std::vector<mox_trace_record_t> out(mox_trace_count());
  for (uint32_t i = 0; i < out.size(); ++i) mox_trace_get(i, &out[i]);
  return out;
}

inline std::vector<std::string> TraceTexts() {
  std::vector<std::string> out;
  for (const auto &r : TraceRecords()) out.emplace_back(r.text);
  return out;
}

// The level of the first captured message containing text, or ~0u.
inline uint32_t TraceLevel(const std::string &text) {
  for (const auto &r : TraceRecords())
    if (std::string(r.text).find(text) != std::string::npos) return r.level;
  return ~0u;
}

// True when some captured message contains text.
inline bool Traced(const std::string &text) {
  for (const auto &t : TraceTexts())
    if (t.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace orva_test
