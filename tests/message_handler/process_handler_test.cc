// A process that defines the message handler: decode dispatches to it when
// no handler argument is given, and a handler argument still wins.
#include <gtest/gtest.h>

#include <vector>

#include "catalogue_descriptors.h"
#include "handle.h"

namespace {
std::vector<void *> g_contexts;  // the context of each call of the process handler
}  // namespace

extern "C" void orva_qos_data_qos_client_data_message_handler(mox_handle_t *h, uint32_t db, void *context,
                                                              qos_client_data_message_t *msg, uint32_t *) {
  g_contexts.push_back(context);
  qos_client_data_message_destroy(h, db, msg);
}

namespace orva_test {
namespace {

void argument_handler(mox_handle_t *h, uint32_t db, void *context, qos_client_data_message_t *msg,
                      uint32_t *) {
  ++*static_cast<int *>(context);
  qos_client_data_message_destroy(h, db, msg);
}

TEST(MessageProcessHandler, TakesWhatNoArgumentHandlerTakes) {
  ScopedHandle h(MOX_STTR_ON);
  qos_client_data_message_t *m = qos_client_data_message_create(h, MOX_NO_DB);
  std::vector<uint8_t> frame(qos_client_data_message_len(h, MOX_NO_DB, m));
  uint32_t err = 0;
  qos_client_data_message_marshal(h, MOX_NO_DB, frame.data(), m, int32_t(frame.size()), &err);
  qos_client_data_message_destroy(h, MOX_NO_DB, m);
  int calls = 0;
  for (auto handler : {&argument_handler, static_cast<decltype(&argument_handler)>(nullptr)}) {
    qos_client_data_message_unmarshal(h, MOX_NO_DB, &calls, nullptr, frame.data(), int32_t(frame.size()),
                                      handler, &err);
    EXPECT_EQ(err, 0u);
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(g_contexts, std::vector<void *>{&calls});
  EXPECT_EQ(h.live_bytes(), 0u);
}

}  // namespace
}  // namespace orva_test
