// Table-record framing of all nine tables: round trips through the wire
// form (fresh and in place, under the journal check), XML, text and the
// primary key; every cut of a frame and of a key; every buffer size; the
// refusals (domain, missing records).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/xml.h"
#include "record_fill.h"
#include "serial/print.h"
#include "tables/framing.h"
#include "trace_capture.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

using Bytes = std::vector<uint8_t>;
using orva::TableFraming;
constexpr uint32_t kDb = MOX_NO_DB;

uint32_t slots(const TableFraming &f) { return f.table->composite ? 2 : 1; }
const orva::TypeDesc &type_of(const TableFraming &f, uint32_t s) {
  return s == 0 ? *f.table->data : *f.table->key_record;
}

void *filled(const TableFraming &f, mox_handle_t *h, uint32_t seed) {
  void *rec = f.record_create(h, 1);
  for (uint32_t s = 0; s < slots(f); ++s)
    fill_record(type_of(f, s), h, kDb, orva::table_record_slot(*f.table, rec, s), seed + s);
  return rec;
}

Bytes frame_of(const TableFraming &f, mox_handle_t *h, const void *rec, uint32_t *err) {
  Bytes out(f.len(h, kDb, rec));
  out.resize(f.marshal(h, kDb, out.data(), rec, int32_t(out.size()), err));
  return out;
}

// Renders with to_xml (xml) or print into a buffer large enough.
std::string text_of(const TableFraming &f, mox_handle_t *h, const void *rec, bool xml) {
  std::string s(1 << 17, '\0');
  uint32_t err = 0;
  s.resize((xml ? f.to_xml : f.print)(h, kDb, s.data(), rec, int32_t(s.size()), &err));
  EXPECT_EQ(err, 0u) << f.table->name;
  return s;
}

// The link words (first, last) of the list heads inside a record: the list
// engine announces them to the heap's range check, not to write_notify.
std::vector<const uint8_t *> list_links(const orva::TypeDesc &t, const uint8_t *rec) {
  std::vector<const uint8_t *> out;
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const orva::FieldDesc &f = t.fields[i];
    if (f.shape == orva::Shape::List) out.push_back(rec + f.offset);
    if (f.kind == orva::Kind::Record && f.shape == orva::Shape::Single)
      for (const uint8_t *l : list_links(*f.record, rec + f.offset)) out.push_back(l);
  }
  return out;
}

void destroy(const TableFraming &f, mox_handle_t *h, void *rec) {
  uint32_t err = 0;
  f.destroy(h, kDb, rec, &err);
}

TEST(TableFrame, RoundTripOfEveryTableThroughWireXmlTextAndKey) {
  for (uint32_t mode : {MOX_STTR_ON, MOX_STTR_OFF}) {
    for (size_t i = 0; i < orva::kTableFramingCount; ++i) {
      const TableFraming &f = orva::kTableFramings[i];
      SCOPED_TRACE(std::string(f.table->name) + (mode == MOX_STTR_ON ? " tracked" : " untracked"));
      ScopedHandle h(mode);
      void *rec = filled(f, h, 11 + uint32_t(i));
      uint32_t err = 0;
      const Bytes a = frame_of(f, h, rec, &err);
      ASSERT_EQ(err, 0u);
      EXPECT_EQ(Bytes(a.begin() + 27, a.begin() + 43), Bytes(f.table->ti->luid, f.table->ti->luid + 16));
      EXPECT_EQ(a[7], mode == MOX_STTR_ON ? 1 : 0);  // the header's state-tracking byte
      void *fresh = nullptr;
      EXPECT_EQ(f.unmarshal(h, kDb, &fresh, a.data(), int32_t(a.size()), 0, &err), a.size());
      ASSERT_EQ(err, 0u);
      EXPECT_EQ(frame_of(f, h, fresh, &err), a);
      EXPECT_EQ(text_of(f, h, fresh, false), text_of(f, h, rec, false));

      void *in_place = f.record_create(h, 1);
      std::vector<Region> regions;
      for (uint32_t s = 0; s < slots(f); ++s) {
        const orva::TypeDesc &t = type_of(f, s);
        auto *p = static_cast<const uint8_t *>(orva::table_record_slot(*f.table, in_place, s));
        const uint8_t *end = p + orva::record_sizeof_internal(t, h, p, 1, 0);
        for (const uint8_t *link : list_links(t, p)) {  // announced to the heap's range check
          regions.push_back({p, size_t(link - p), t.name});
          p = link + 2 * sizeof(void *);
        }
        regions.push_back({p, size_t(end - p), t.name});
      }
      JournalCheck check(h, regions);
      EXPECT_EQ(f.unmarshal(h, kDb, &in_place, a.data(), int32_t(a.size()), 1, &err), a.size());
      EXPECT_TRUE(check.Verify());
      EXPECT_EQ(frame_of(f, h, in_place, &err), a);

      if (mode == MOX_STTR_ON) {  // XML carries no state bytes back
        for (void *r : {rec, fresh, in_place}) destroy(f, h, r);
        continue;
      }
      const std::string xml = text_of(f, h, rec, true);
      mox_xml_doc_t *doc = nullptr;
      ASSERT_EQ(mox_xml_doc_parse(xml.data(), xml.size(), &doc, nullptr, 0), 0u) << xml;
      void *parsed = f.from_xml(h, kDb, doc, &err, nullptr, 0);
      mox_xml_doc_free(doc);
      ASSERT_NE(parsed, nullptr);
      EXPECT_EQ(text_of(f, h, parsed, true), xml);

      Bytes key(a.size()), back(a.size());
      key.resize(f.pkey_marshal(h, kDb, key.data(), rec, int32_t(key.size()), &err));
      EXPECT_EQ(f.pkey_marshal(h, kDb, back.data(), rec, int32_t(key.size()) - 1, &err), 0u);  // a byte short
      EXPECT_EQ(std::exchange(err, 0), 90u);
      void *key_obj = nullptr, *holder = f.record_create(h, 0);
      EXPECT_EQ(f.pkey_unmarshal(h, kDb, &key_obj, key.data(), int32_t(key.size()), &err), key.size());
      f.set_field(h, kDb, holder, key_obj, slots(f) - 1, 0);
      back.resize(f.pkey_marshal(h, kDb, back.data(), holder, int32_t(back.size()), &err));
      EXPECT_EQ(back, key);
      for (void *r : {rec, fresh, in_place, parsed, holder}) destroy(f, h, r);
      EXPECT_EQ(h.live_bytes(), 0u);
    }
  }
}

TEST(TableFrame, EveryCutFailsWithoutLeakAndEveryBufferSizeStaysInside) {
  for (size_t i = 0; i < orva::kTableFramingCount; ++i) {
    const TableFraming &f = orva::kTableFramings[i];
    SCOPED_TRACE(f.table->name);
    ScopedHandle h(MOX_STTR_ON);
    void *rec = filled(f, h, 3 + uint32_t(i));
    void *target = f.record_create(h, 1);
    uint32_t err = 0;
    const Bytes a = frame_of(f, h, rec, &err);
    Bytes key(a.size());
    key.resize(f.pkey_marshal(h, kDb, key.data(), rec, int32_t(key.size()), &err));
    Bytes longer = a, refused = a;  // encoded length one more, one byte after: a record ends early
    longer[15] += 1;
    longer.push_back(0);
    refused[0] = 0;
    const uint64_t base = h.live_bytes();
    auto decode = [&](const Bytes &in, size_t n, bool in_place, bool as_key) {
      std::unique_ptr<uint8_t[]> copy(new uint8_t[n + 1]);  // exact size: ASan sees any over-read
      std::copy(in.begin(), in.begin() + n, copy.get());
      void *out = in_place ? target : nullptr;
      uint32_t e = 0;
      if (as_key) f.pkey_unmarshal(h, kDb, &out, copy.get(), int32_t(n), &e);
      else f.unmarshal(h, kDb, &out, copy.get(), int32_t(n), in_place, &e);
      // A bare key record has no frame: cut in its last state byte, it
      // decodes as the record decoder reads any record.
      if (as_key && f.table->composite && n + 1 == in.size()) {
        EXPECT_EQ(e, 0u);
        f.pkey_destroy(h, kDb, out);
        return;
      }
      EXPECT_NE(e, 0u) << n;
      if (!in_place) EXPECT_TRUE(out == nullptr && h.live_bytes() == base) << n;
    };
    for (size_t cut = 0; cut < a.size(); ++cut) decode(a, cut, cut % 2, false);
    for (size_t cut = 0; cut < key.size(); ++cut) decode(key, cut, false, true);
    decode(longer, longer.size(), false, false);
    decode(refused, refused.size(), false, false);
    for (size_t size = 0; size <= a.size(); ++size) {
      std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
      uint32_t e = 0;
      uint32_t n = f.marshal(h, kDb, out.get(), rec, int32_t(size), &e);
      EXPECT_LE(n, size);
      EXPECT_EQ(e, size == a.size() ? 0u : 90u) << size;
      if (size == a.size()) EXPECT_EQ(Bytes(out.get(), out.get() + n), a);
    }
    destroy(f, h, target);  // whatever the cuts left in it
    destroy(f, h, rec);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

TEST(TableFrame, RefusalsWriteNothing) {
  for (size_t i = 0; i < orva::kTableFramingCount; ++i) {
    const TableFraming &f = orva::kTableFramings[i];
    const std::string name = f.table->name;
    SCOPED_TRACE(name);
    ScopedHandle h(MOX_STTR_OFF);
    void *rec = filled(f, h, 5);
    Bytes buf(f.len(h, kDb, rec), 0xAB);
    const Bytes untouched = buf;
    uint32_t err = 0;
    mox_domain_set_table_ok(h, f.table->ti->luid_text, 0);
    EXPECT_EQ(f.marshal(h, kDb, buf.data(), rec, int32_t(buf.size()), &err), 0u);
    EXPECT_TRUE(std::exchange(err, 0) == 52 && buf == untouched);
    EXPECT_EQ(TraceLevel("domainfail: Table " + name + " (" + f.table->ti->luid_text +
                         ") is not allowed for the current domain (default)"), 0x3000000u);
    mox_domain_reset(h);
    mox_bundle_open(h);  // table records do not join message bundles
    EXPECT_EQ(f.marshal(h, kDb, buf.data(), rec, int32_t(buf.size()), &err), buf.size());
    EXPECT_EQ(mox_bundle_message_count(h, f.table->ti->luid), 0u);
    mox_bundle_close(h);

    void *empty = f.record_create(h, 0);
    mox_trace_clear();
    std::string text(buf.size(), '\0');
    for (int op = 0; op < 4; ++op) {
      err = 0;
      uint32_t n = op == 0   ? f.marshal(h, kDb, buf.data(), empty, int32_t(buf.size()), &err)
                   : op == 1 ? f.to_xml(h, kDb, text.data(), empty, int32_t(text.size()), &err)
                   : op == 2 ? f.print(h, kDb, text.data(), empty, int32_t(text.size()), &err)
                             : f.pkey_marshal(h, kDb, buf.data(), empty, int32_t(buf.size()), &err);
      EXPECT_TRUE(err == 2 && n <= (op == 0 ? 43u : 0u)) << op;
    }
    EXPECT_EQ(TraceLevel("Failed to marshal " + name + " record: Field " + f.table->data->name + " is empty"),
              0x3000000u);
    err = 90;
    mox_trace_clear();
    EXPECT_EQ(f.marshal(h, kDb, buf.data(), rec, int32_t(buf.size()), &err), 0u);
    EXPECT_EQ(TraceLevel("Error present in call to table marshal: Message too long"), 0x7000000u);
    void *out = nullptr;
    EXPECT_EQ(f.unmarshal(h, kDb, &out, untouched.data(), int32_t(untouched.size()), 0, &err), 0u);
    EXPECT_TRUE(Traced("Error present in call to " + name + " unmarshal: Message too long"));
    destroy(f, h, empty);
    destroy(f, h, rec);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

}  // namespace
}  // namespace orva_test
