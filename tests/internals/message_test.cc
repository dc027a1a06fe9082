// The qos_client_data message: round trips at both payload variants and in
// both tracking modes, every cut of a frame, every refused allocation of a
// decode and every buffer size, the domain and bundle checks, dispatch and
// recording.  The text and XML forms
// are checked through qosdata (tools/qosdata-frames-check.sh).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalogue_descriptors.h"
#include "handle.h"
#include "journal_check.h"
#include "messages/message.h"
#include "mox/xml.h"
#include "record_fill.h"
#include "trace_capture.h"

namespace orva_test {
namespace {

using Msg = qos_client_data_message_t;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kDb = MOX_NO_DB;

// A message whose payload is filled from seed at payload variant v.
Msg *filled(mox_handle_t *h, int32_t v, uint32_t seed) {
  mox_domain_set_variant(h, _qos_client_call_data_type_info_internal.luid_text, v);
  Msg *m = qos_client_data_message_create(h, kDb);
  fill_record(orva::k_qos_client_call_data, h, kDb, m->payload, seed);
  mox_domain_reset(h);
  return m;
}

Bytes frame_of(mox_handle_t *h, Msg *m, uint32_t *err) {
  Bytes out(qos_client_data_message_len(h, kDb, m));
  out.resize(qos_client_data_message_marshal(h, kDb, out.data(), m, int32_t(out.size()), err));
  return out;
}

// Per tracking mode and payload variant: marshal into exactly len bytes
// (every store announced), the identifier after the header, decode and
// marshal again to the same bytes.  Every cut of the frame, and the whole
// frame with each allocation of its decode refused in turn, fail without a
// leak or a handler call; unmarshal leaves the caller's slot null,
// unmarshal_only hands back a destroyable message unless the message itself
// could not be allocated.  Marshal into exact-size heap buffers of every
// size gives the frame or 90, at the level the suppression switch chooses.
TEST(Message, RoundTripCutsRefusedAllocationsAndBufferSizes) {
  for (uint32_t mode : {MOX_STTR_ON, MOX_STTR_OFF}) {
    for (int32_t v : {0, 1}) {
      ScopedHandle h(mode);
      Msg *m = filled(h, v, 7 + v);
      uint32_t err = 0;
      Bytes a;
      EXPECT_TRUE(StoresAnnounced(h, {{m, sizeof *m, "message"}}, [&] { a = frame_of(h, m, &err); }));
      ASSERT_EQ(err, 0u) << mode << " " << v;
      EXPECT_EQ((std::pair{size_t(m->header.encoded_length), int32_t(m->payload->variant)}), (std::pair{a.size(), v}));
      EXPECT_EQ(Bytes(a.begin() + 27, a.begin() + 43), Bytes(message_qos_client_data_luid,
                                                               message_qos_client_data_luid + 16));
      Msg *d = nullptr;
      const uint64_t allocs = h.alloc_stats().allocs;
      EXPECT_EQ(qos_client_data_message_unmarshal_only(h, kDb, &d, a.data(), int32_t(a.size()), &err),
                a.size());
      ASSERT_EQ(err, 0u);
      const auto made = int64_t(h.alloc_stats().allocs - allocs);
      ASSERT_GE(made, 2);  // the message and its payload at least
      EXPECT_EQ(d->header.sttr, mode == MOX_STTR_ON ? 1 : 0);
      EXPECT_EQ(frame_of(h, d, &err), a) << mode << " " << v;
      qos_client_data_message_destroy(h, kDb, d);
      const uint64_t base = h.live_bytes();
      std::vector<std::pair<size_t, int64_t>> bad;  // input length, allocations allowed (-1: all)
      for (size_t cut = 0; cut < a.size(); ++cut) bad.emplace_back(cut, -1);
      for (int64_t n = 0; n < made; ++n) bad.emplace_back(a.size(), n);
      for (auto [len, allowed] : bad) {
        std::unique_ptr<uint8_t[]> in(new uint8_t[len + 1]);  // exact size: ASan sees any over-read
        std::copy(a.begin(), a.begin() + len, in.get());
        Msg *out = m, *only = m;
        uint32_t e = 0, eo = 0;
        auto never = [](mox_handle_t *, uint32_t, void *, Msg *, uint32_t *) { FAIL(); };
        h.fail_alloc_after(allowed);
        qos_client_data_message_unmarshal(h, kDb, nullptr, &out, in.get(), int32_t(len), never, &e);
        h.fail_alloc_after(allowed);
        qos_client_data_message_unmarshal_only(h, kDb, &only, in.get(), int32_t(len), &eo);
        h.fail_alloc_after(-1);
        EXPECT_TRUE(allowed < 0 ? e != 0 && eo != 0 : e == 12 && eo == 12) << len << " " << allowed;
        EXPECT_EQ(out, nullptr) << len << " " << allowed;
        EXPECT_EQ(only == m, allowed == 0) << len << " " << allowed;
        if (only != m) qos_client_data_message_destroy(h, kDb, only);
        EXPECT_EQ(h.live_bytes(), base) << len << " " << allowed;
      }
      for (size_t size = 0; size <= a.size(); ++size) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
        uint32_t e = 0;
        mox_handle_set_suppress_messages(h, size % 2);  // the failure's level follows the switch
        mox_trace_clear();
        uint32_t n = qos_client_data_message_marshal(h, kDb, out.get(), m, int32_t(size), &e);
        const bool whole = size == a.size();
        EXPECT_EQ(e, whole ? 0u : 90u) << size;
        EXPECT_TRUE(whole ? Bytes(out.get(), out.get() + n) == a : n <= size) << size;
        EXPECT_EQ(TraceLevel("Message qos_client_data failed to marshal"),
                  whole ? ~0u : size % 2 ? 0x7000000u : 0x3000000u) << size;
      }
      qos_client_data_message_destroy(h, kDb, m);
      EXPECT_EQ(h.live_bytes(), 0u);
    }
  }
}

TEST(Message, DomainAndBundleChecks) {
  ScopedHandle h(MOX_STTR_OFF);
  Msg *m = filled(h, 1, 5);
  Bytes buf(qos_client_data_message_len(h, kDb, m), 0xAB);
  const Bytes untouched = buf;
  struct Case { const char *what; bool refuse_domain, open, refuse_bundle; uint32_t err, count; const char *trace; };
  const Case cases[] = {
      {"domain refuses", true, false, false, 52, 0, "is not allowed for the current domain (default)"},
      {"bundle refuses", false, true, true, 22, 0, "Message qos_client_data is not valid for bundle"},
      {"bundle accepts", false, true, false, 0, 1, nullptr},
      {"no bundle", false, false, false, 0, 0, nullptr},
  };
  for (const Case &c : cases) {
    mox_domain_reset(h);
    mox_trace_clear();
    mox_domain_set_message_ok(h, _qos_client_data_message_type_info_internal.luid_text, !c.refuse_domain);
    if (c.open) mox_bundle_open(h);
    if (c.refuse_bundle) mox_bundle_refuse_message(h, message_qos_client_data_luid);
    uint32_t err = 0;
    uint32_t n = qos_client_data_message_marshal(h, kDb, buf.data(), m, int32_t(buf.size()), &err);
    EXPECT_EQ(err, c.err) << c.what;
    EXPECT_EQ(n, c.err ? 0u : buf.size()) << c.what;
    EXPECT_TRUE(!c.err || buf == untouched) << c.what;
    EXPECT_TRUE(!c.trace || TraceLevel(c.trace) == 0x3000000u) << c.what;
    EXPECT_EQ(c.open ? mox_bundle_message_count(h, message_qos_client_data_luid) : 0u, c.count) << c.what;
    if (c.open) mox_bundle_close(h);
  }
  qos_client_data_message_destroy(h, kDb, m);
}

void keep(mox_handle_t *, uint32_t, void *context, Msg *m, uint32_t *) { *static_cast<Msg **>(context) = m; }

TEST(Message, DispatchAndRecording) {
  ScopedHandle h(MOX_STTR_ON);
  Msg *m = filled(h, 1, 9);
  uint32_t err = 0;
  Bytes a = frame_of(h, m, &err);
  std::string name(70000, 'a');  // too large for the recording buffer
  mox_vstring_set_value(h, kDb, &m->payload->ap_name, name.c_str(), &err);
  Bytes large = frame_of(h, m, &err);
  qos_client_data_message_destroy(h, kDb, m);
  std::FILE *file = std::tmpfile();
  // The argument handler gets the message and the context untouched; a
  // recording that fails is traced and leaves the caller's slot alone.
  struct Case { std::FILE *file; const Bytes *frame; const char *trace; };
  const Case cases[] = {{file, &a, nullptr},
                        {nullptr, &a, "MOX record - NULL file handle for message qos_client_data"},
                        {file, &large, "qos_client_data message not recorded, xml len"}};
  for (const Case &c : cases) {
    mox_msg_recorder_set(c.file, 1);
    mox_trace_clear();
    Msg *kept = nullptr;
    uint32_t e = 0;
    EXPECT_EQ(qos_client_data_message_unmarshal(h, kDb, &kept, nullptr, c.frame->data(), int32_t(c.frame->size()),
                                                keep, &e), c.frame->size());
    EXPECT_EQ(e + h->last_error, 0u) << c.trace;
    EXPECT_TRUE(!c.trace || TraceLevel(c.trace) == 0x3000000u) << c.trace;
    EXPECT_EQ(TraceLevel("in recording qos_client_data message") != ~0u, c.trace && c.file);
    qos_client_data_message_destroy(h, kDb, kept);
  }
  // Default path: 38 and its notice; destroyed, or the caller's with out.
  for (bool with_out : {false, true}) {
    mox_trace_clear();
    uint32_t e = 0;
    Msg *out = nullptr;
    qos_client_data_message_unmarshal(h, kDb, nullptr, with_out ? &out : nullptr, a.data(), int32_t(a.size()),
                                      nullptr, &e);
    EXPECT_EQ(e, 38u);
    EXPECT_EQ(TraceLevel("default orva_qos_data_qos_client_data_message handler called"), 0x6000000u);
    EXPECT_EQ(out != nullptr, with_out);
    qos_client_data_message_destroy(h, kDb, out);
    EXPECT_EQ(h.live_bytes(), 0u) << with_out;
  }
  mox_msg_recorder_set(nullptr, 0);
  // One time-stamped, parseable document a line, per decoded message.
  std::rewind(file);
  char line[8192];
  int docs = 0;
  while (std::fgets(line, sizeof line, file)) {
    ++docs;
    EXPECT_EQ(std::string(line).rfind("<orva_qos_data ts=\"", 0), 0u);
    mox_xml_doc_t *doc = nullptr;
    char why[128];
    EXPECT_EQ(mox_xml_doc_parse(line, std::strlen(line), &doc, why, sizeof why), 0u) << why;
    mox_xml_doc_free(doc);
  }
  EXPECT_EQ(docs, 3);
  std::fclose(file);
}

}  // namespace
}  // namespace orva_test
