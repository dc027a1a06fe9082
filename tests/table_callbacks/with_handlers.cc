// A process that defines some of the table handlers: the callbacks reach
// them with their arguments unchanged and in order and return their result;
// the events without a handler run their defaults, a DM event without its
// handler reaches the plain event's handler with (null, record); handlers
// belong to one table.
#include <gtest/gtest.h>

#include <functional>

#include "handle.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

// One handler call: its name, the handle's last error on entry, its arguments.
struct HandlerCall {
  std::string name;
  uint32_t last_error;
  std::vector<uintptr_t> args;
  bool operator==(const HandlerCall &) const = default;
};
std::vector<HandlerCall> g_calls;

template <class... A>
uint32_t record(const char *name, uint32_t result, mox_handle_t *h, uint32_t db, A... args) {
  g_calls.push_back({name, h->last_error, {uintptr_t(h), db, uintptr_t(args)...}});
  return result;
}

}  // namespace

// orva_qos_data_tbl_qos_<table>_table_record_<event>_handler(h, db, ...), each recording its call.
#define HANDLER(table, event, ...) \
  uint32_t orva_qos_data_tbl_qos_##table##_table_record_##event##_handler(mox_handle_t *h, uint32_t db, __VA_ARGS__)
extern "C" {
HANDLER(client_data, create, void *a, void *b, uint32_t *err) { return record("client create", 101, h, db, a, b, err); }
HANDLER(client_data, delete_dm, void *rec, uint32_t *err) { return record("client delete_dm", 102, h, db, rec, err); }
HANDLER(client_data, grouping, void *a, uint32_t *err, uint32_t w1, uint32_t w2, uint32_t w3, uint32_t w4) {
  return record("client grouping", 103, h, db, a, err, w1, w2, w3, w4);
}
HANDLER(client_data, free, void *a, void *b, uint32_t *err, uint32_t w) {
  return record("client free", 104, h, db, a, b, err, w);
}
HANDLER(ap_radio_data, modify, void *a, void *b, uint32_t *err) { return record("radio modify", 105, h, db, a, b, err); }
}
#undef HANDLER

namespace orva_test {
namespace {

TEST(TableCallbacksWithHandlers, ArgumentsReachTheHandlersUnchangedAndInOrder) {
  ScopedHandle h;
  int a = 0, b = 0;
  uint32_t err = 0;
  const auto H = uintptr_t(h.get()), A = uintptr_t(&a), B = uintptr_t(&b), E = uintptr_t(&err);
#define client_(event) tbl_qos_client_data_table_record_##event
#define radio_(event) tbl_qos_ap_radio_data_table_record_##event
  auto msg = [](const char *table, const char *event) {
    return std::string("default orva_qos_data_") + table + "_record " + event + " handler called";
  };
  const struct Row {
    const char *what;
    uint32_t err_in;
    std::function<uint32_t()> call;
    uint32_t result;
    std::vector<HandlerCall> calls;
    std::vector<std::string> traced;
  } rows[] = {
      {"create", 0, [&] { return client_(create_cb)(h, 7, &a, &b, &err); }, 101,
       {{"client create", 0, {H, 7, A, B, E}}}, {}},
      {"create DM without its handler", 0, [&] { return client_(create_dm_cb)(h, 7, &b, &err); }, 101,
       {{"client create", 0, {H, 7, 0, B, E}}}, {msg("tbl_qos_client_data", "create DM")}},
      {"delete DM", 0, [&] { return client_(delete_dm_cb)(h, 7, &b, &err); }, 102,
       {{"client delete_dm", 0, {H, 7, B, E}}}, {}},
      {"grouping", 0, [&] { return client_(grouping_cb)(h, 7, &a, &err, 11, 12, 13, 14); }, 103,
       {{"client grouping", 0, {H, 7, A, E, 11, 12, 13, 14}}}, {}},
      {"free", 0, [&] { return client_(free_cb)(h, 7, &a, &b, &err, 15); }, 104,
       {{"client free", 0, {H, 7, A, B, E, 15}}}, {}},
      {"modify without a handler", 0, [&] { return client_(modify_cb)(h, 7, &a, &b, &err); }, 0, {},
       {msg("tbl_qos_client_data", "modify")}},
      {"another table's modify", 0, [&] { return radio_(modify_cb)(h, 7, &a, &b, &err); }, 105,
       {{"radio modify", 0, {H, 7, A, B, E}}}, {}},
      {"another table's create", 0, [&] { return radio_(create_cb)(h, 7, &a, &b, &err); }, 0, {},
       {msg("tbl_qos_ap_radio_data", "create")}},
      {"error on entry", 5, [&] { return client_(create_cb)(h, 7, &a, &b, &err); }, 5, {}, {}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    g_calls.clear();
    mox_trace_clear();
    err = r.err_in;
    h->last_error = 9;
    EXPECT_EQ(r.call(), r.result);
    EXPECT_EQ(g_calls, r.calls);
    EXPECT_EQ(TraceTexts(), r.traced);
    EXPECT_EQ(err, r.err_in);
  }
}

}  // namespace
}  // namespace orva_test
