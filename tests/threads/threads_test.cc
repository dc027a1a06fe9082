// Several threads, each with its own handle, run whole record lives at the
// same time: create, fill, encode, decode, compare and destroy.  What they
// share is the process-wide state: the trace module registration, the trace
// capture, the per-variant statistics, the default type registry (placed
// records) and the placeholders.  Built with ORVA_TSAN this is the race
// check; without it the test still proves that concurrent lives come out
// equal and leave no storage behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "frame/catalogue.h"
#include "handle.h"
#include "record_fill.h"
#include "serial/wire.h"
#include "types/compare.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

constexpr int kThreads = 4;
constexpr uint32_t kRounds = 25;

// One thread's work.  Odd threads place their records, so the type-info
// copies go through the process's default registry, shared by all of them.
void lives(const orva::TypeDesc &t, int thread) {
  mox_handle_t *h = mox_handle_create();
  mox_handle_set_sttr_mode(h, thread % 2 ? MOX_STTR_ON : MOX_STTR_OFF);
  mox_handle_set_placement(h, thread % 2);
  std::vector<uint8_t> buf;
  for (uint32_t round = 0; round < kRounds; ++round) {
    uint32_t err = 0;
    void *a = orva::record_create(t, h, MOX_NO_DB);
    void *b = orva::record_create(t, h, MOX_NO_DB);
    ASSERT_TRUE(a && b);
    fill_record(t, h, MOX_NO_DB, a, round * kThreads + thread);
    buf.assign(orva::record_len(t, h, MOX_NO_DB, a), 0);
    const uint32_t n = orva::record_marshal(t, h, MOX_NO_DB, buf.data(), a, int32_t(buf.size()), 1, &err);
    EXPECT_EQ((std::tuple{n, orva::record_unmarshal(t, h, MOX_NO_DB, buf.data(), b, int32_t(n), 0, &err), err,
                          orva::record_compare(t, a, b)}), (std::tuple{uint32_t(buf.size()), n, 0u, 0}))
        << t.name << " round " << round;
    orva::record_destroy(t, h, MOX_NO_DB, a);
    orva::record_destroy(t, h, MOX_NO_DB, b);
  }
  mox_alloc_stats_t s;
  mox_handle_alloc_stats(h, &s);
  EXPECT_EQ(s.live_bytes, 0u) << t.name;
  mox_handle_destroy(h);
}

class Threads : public testing::TestWithParam<const char *> {};

TEST_P(Threads, ConcurrentRecordLivesOnOwnHandles) {
  const auto *end = orva::kTypes + orva::kTypeCount;
  const auto *t = std::find_if(orva::kTypes, end, [this](auto *d) { return d->name == std::string(GetParam()); });
  ASSERT_NE(t, end);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back(lives, std::cref(**t), i);
  for (auto &th : threads) th.join();
}

// Nested records and arrays, the dynamic array with its state block, a list,
// two variants, strings, addresses and times.
INSTANTIATE_TEST_SUITE_P(Types, Threads,
                         testing::Values("qos_client_data_t", "qos_bssid_data_t", "tclas_set_t",
                                         "qos_client_policy_t", "qos_client_call_data",
                                         "qos_policy_content"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
}  // namespace orva_test
