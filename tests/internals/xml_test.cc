// The XML engine over the catalogue: round trips of every type, state flags,
// every cut of a deep rendering, the parse failures, the golden renderings.
#include "serial/xml.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "golden.h"
#include "handle.h"
#include "record_fill.h"
#include "serial/wire.h"
#include "trace_capture.h"
#include "types/accessors.h"
#include "types/lifecycle.h"

namespace orva_test {
namespace {

using orva::TypeDesc;
constexpr uint32_t kDb = MOX_NO_DB;

std::string render(const TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t *err) {
  std::vector<char> buf(1 << 16);
  uint32_t n = orva::record_to_xml(t, h, kDb, t.name, buf.data(), obj, int32_t(buf.size()), 0, err);
  return std::string(buf.data(), n);
}

// Parses text and fills obj from "//<type>" (or path); the slot's value.
uint32_t parse(const TypeDesc &t, mox_handle_t *h, const std::string &text, void *obj,
               const std::string &path = "") {
  mox_xml_doc_t *doc = nullptr;
  char msg[300] = "";
  EXPECT_EQ(mox_xml_doc_parse(text.data(), text.size(), &doc, msg, sizeof msg), 0u) << msg;
  uint32_t err = 0;
  orva::record_from_xml(t, h, kDb, (path.empty() ? "//" + std::string(t.name) : path).c_str(),
                        doc, obj, &err, msg, sizeof msg);
  mox_xml_doc_free(doc);
  return err;
}

// The wire form without state bytes: what the XML carries.
std::vector<uint8_t> wire(const TypeDesc &t, mox_handle_t *h, const void *obj) {
  uint32_t mode = h->sttr_config ? h->sttr_config->word[MOX_STTR_MODE_WORD] : 0;
  if (mode) mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  std::vector<uint8_t> out(orva::record_len(t, h, kDb, obj));
  uint32_t err = 0;
  out.resize(orva::record_marshal(t, h, kDb, out.data(), obj, int32_t(out.size()), 0, &err));
  if (mode) mox_handle_set_sttr_mode(h, mode);
  EXPECT_EQ(err, 0u);
  return out;
}

// The "st" attribute of every child element of the root named field (0 when absent).
std::vector<uint32_t> flags_of(const std::string &text, const TypeDesc &t, const char *field) {
  std::vector<uint32_t> out;
  xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, 0);
  xmlXPathContextPtr xp = xmlXPathNewContext(doc);
  std::string path = "/" + std::string(t.name) + "/" + field;
  xmlXPathObjectPtr set = xmlXPathEval(reinterpret_cast<const xmlChar *>(path.c_str()), xp);
  for (int i = 0; set->nodesetval && i < set->nodesetval->nodeNr; ++i) {
    xmlChar *st = xmlGetProp(set->nodesetval->nodeTab[i], BAD_CAST "st");
    out.push_back(st ? uint32_t(std::stoul(reinterpret_cast<char *>(st))) : 0);
    xmlFree(st);
  }
  xmlXPathFreeObject(set);
  xmlXPathFreeContext(xp);
  xmlFreeDoc(doc);
  return out;
}

// The flags the getters give for field i (one per element rendered).
std::vector<uint32_t> expected_flags(const TypeDesc &t, uint16_t i, mox_handle_t *h, void *obj,
                                     size_t elements) {
  const orva::FieldDesc &f = t.fields[i];
  std::vector<uint32_t> out;
  uint32_t err = 0;
  for (size_t e = 0; e < elements; ++e) {
    if ((f.flags & orva::kFieldCount) || f.kind == orva::Kind::Enum)
      out.push_back(0);
    else if (f.shape == orva::Shape::Array || f.shape == orva::Shape::Dynamic)
      out.push_back(orva::field_state_get_at(t, i, h, kDb, obj, uint32_t(e), &err));
    else
      out.push_back(orva::field_state_get(t, i, h, kDb, obj, &err));
  }
  EXPECT_EQ(err, 0u);
  return out;
}

TEST(Xml, RoundTripOfEveryTypeBothModesBothVariantsWithStateFlags) {
  size_t flagged = 0;  // elements seen with a flag
  for (uint32_t ti = 0; ti < orva::kTypeCount; ++ti)
    for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON})
      for (int v = 0; v <= orva::kTypes[ti]->highest; ++v) {
        const TypeDesc &t = *orva::kTypes[ti];
        SCOPED_TRACE(std::string(t.name) + " mode " + std::to_string(mode) + " v" + std::to_string(v));
        ScopedHandle h(mode);
        mox_domain_set_variant(h, t.ti->luid_text, v == t.highest ? 127 : v);
        void *a = orva::record_create(t, h, kDb), *b = orva::record_create(t, h, kDb);
        fill_record(t, h, kDb, a, 11 + ti);
        uint32_t err = 0;
        std::string text = render(t, h, a, &err);
        ASSERT_EQ(err, 0u);
        EXPECT_EQ(parse(t, h, text, b), 0u);
        EXPECT_EQ(wire(t, h, a), wire(t, h, b));
        EXPECT_EQ(orva::header(b)->variant, v);
        for (uint16_t i = 0; i < t.field_count; ++i) {
          std::vector<uint32_t> got = flags_of(text, t, t.fields[i].name);
          if (t.fields[i].variant > v) EXPECT_TRUE(got.empty()) << t.fields[i].name;
          std::vector<uint32_t> want =
              mode == MOX_STTR_ON ? expected_flags(t, i, h, a, got.size()) : std::vector<uint32_t>(got.size());
          EXPECT_EQ(got, want) << t.fields[i].name;
          for (uint32_t g : got) flagged += g != 0;
        }
        orva::record_destroy(t, h, kDb, a);
        orva::record_destroy(t, h, kDb, b);
        EXPECT_EQ(h.live_bytes(), 0u);
      }
  EXPECT_GT(flagged, 100u);
}

// Every buffer length from 0 to the full size, on an exact-size heap buffer:
// a NUL-terminated prefix of the full text and 90 while cut.
TEST(Xml, EveryCutOfTheDeepRecordsIsATerminatedPrefix) {
  for (const char *name : kGoldenTypes) {
    SCOPED_TRACE(name);
    ScopedHandle h(MOX_STTR_ON);
    const TypeDesc &t = type_named(name);
    void *obj = golden_record(name, h);
    uint32_t err = 0;
    const std::string full = render(t, h, obj, &err);
    ASSERT_EQ(err, 0u);
    for (size_t len = 0; len <= full.size() + 1; ++len) {
      std::unique_ptr<char[]> buf(new char[len]);
      err = 0;
      uint32_t n = orva::record_to_xml(t, h, kDb, t.name, buf.get(), obj, int32_t(len), 0, &err);
      ASSERT_EQ(err, len > full.size() ? 0u : 90u) << len;
      ASSERT_LE(n + (len > 0), len);
      if (len > 0) ASSERT_EQ(std::string(buf.get()), full.substr(0, n)) << len;
    }
    orva::record_destroy(t, h, kDb, obj);
  }
}

TEST(Xml, GoldenRenderingsOfTheDeepRecords) {
  for (const char *name : kGoldenTypes) {
    ScopedHandle h(MOX_STTR_ON);
    const TypeDesc &t = type_named(name);
    void *obj = golden_record(name, h);
    uint32_t err = 0;
    golden_compare(name, ".xml", render(t, h, obj, &err) + "\n");
    EXPECT_EQ(err, 0u);
    orva::record_destroy(t, h, kDb, obj);
  }
}

std::string doc(const char *type, const std::string &body) {
  return "<" + std::string(type) + ">" + body + "</" + type + ">";
}
std::string calls(const std::string &count, int n) {
  std::string s = "<bandwidth_alloc>7</bandwidth_alloc>";
  if (count != "-") s += "<call_record_index>" + count + "</call_record_index>";
  for (int i = 0; i < n; ++i) s += "<call_record><call_id>" + std::to_string(i + 1) + "</call_id></call_record>";
  return s + "<aaa_qos_params><aaa_avgdtus>9</aaa_avgdtus></aaa_qos_params>";
}

// One failure (or edge) per row: the error, the trace message at 0x3000000
// (empty: none), what the record holds after, and a destroy back to 0 bytes.
TEST(Xml, ParseFailuresAndEdgesLeaveADestroyableRecord) {
  const std::string corrupt = "Corrupted XML parsing";
  struct Row {
    const char *type;
    std::function<uint32_t(const TypeDesc &, mox_handle_t *, void *)> run;
    uint32_t err;
    std::string trace;
    std::function<bool(void *)> holds;
  };
  auto parse_of = [](std::string text, std::string path = "") {
    return [=](const TypeDesc &t, mox_handle_t *h, void *obj) { return parse(t, h, text, obj, path); };
  };
  auto cd = [](void *o) { return static_cast<qos_client_data_t *>(o); };
  auto cd_doc = [&](std::string count, int n) { return parse_of(doc("qos_client_data_t", calls(count, n))); };
  auto counts = [&](int n) { return [=](void *o) { return cd(o)->call_record_index == n && cd(o)->bandwidth_alloc == 7; }; };
  std::vector<Row> rows = {
      {"qos_ap_policy_t", parse_of(doc("qos_ap_policy_t", "<pm_idx_sent_to_ap>5</pm_idx_sent_to_ap><pm_idx_sent_to_ap>6</pm_idx_sent_to_ap>")), 0, "",
       [](void *o) { auto *p = static_cast<qos_ap_policy_t *>(o); return p->pm_idx_sent_to_ap[1] == 6 && p->pm_idx_sent_to_ap[2] == 0; }},
      {"qos_client_data_t", cd_doc("3", 2), 14, corrupt, counts(2)},
      {"qos_client_data_t", cd_doc("-", 2), 2, "Error while obtaining element value from xml doc pointer",
       [&](void *o) { return cd(o)->bandwidth_alloc == 7 && cd(o)->aaa_qos_params.aaa_avgdtus == 0; }},
      {"qos_policy_content", parse_of(doc("qos_policy_content", "<pm_name>p</pm_name><class_map/>")), 0, "",
       [](void *o) { return static_cast<qos_policy_content *>(o)->class_map.entry.count == 0; }},
      // Root path cut: "/w" 113 times and the type is 245 characters, so
      // "/ap_mac" fits in 256 bytes and "/radio_slot_id" does not.
      {"qos_ap_radio_key_t",
       [&](const TypeDesc &t, mox_handle_t *h, void *obj) {
         std::string open, close, path;
         for (int i = 0; i < 113; ++i) open += "<w>", close += "</w>", path += "/w";
         return parse(t, h, open + doc("qos_ap_radio_key_t", "<radio_slot_id>3</radio_slot_id><ap_mac>00:00:00:00:00:01</ap_mac>") + close,
                      obj, path + "/qos_ap_radio_key_t");
       }, 0, "",
       [](void *o) { auto *k = static_cast<qos_ap_radio_key_t *>(o); return k->radio_slot_id == 0 && k->ap_mac.octet[5] == 1; }},
      // A record created while tracking was off, rendered with it on.
      {"qos_ap_radio_key_t",
       [](const TypeDesc &t, mox_handle_t *h, void *obj) {
         mox_handle_set_sttr_mode(h, MOX_STTR_ON);
         uint32_t err = 0;
         EXPECT_EQ(render(t, h, obj, &err), "<qos_ap_radio_key_t>");
         mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
         return err;
       }, 22, "The object is non state tracked", nullptr},
  };
  for (const char *hostile : {"-1", "+1", "abc", "", "256", "0256", "18446744073709551615", " 1"})
    rows.push_back({"qos_client_data_t", cd_doc(hostile, 1), 14, corrupt, counts(0)});
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.type) + " row " + std::to_string(&row - rows.data()));
    ScopedHandle h(MOX_STTR_OFF);
    const TypeDesc &t = type_named(row.type);
    void *obj = orva::record_create(t, h, kDb);
    mox_trace_clear();
    EXPECT_EQ(row.run(t, h, obj), row.err);
    std::vector<mox_trace_record_t> traced;  // failures only (the first growth's notice aside)
    for (const auto &r : TraceRecords())
      if (r.level == 0x3000000u) traced.push_back(r);
    ASSERT_EQ(traced.size(), row.trace.empty() ? 0u : 1u);
    if (!row.trace.empty()) EXPECT_EQ(std::string(traced[0].text), row.trace);
    if (row.holds) EXPECT_TRUE(row.holds(obj));
    orva::record_destroy(t, h, kDb, obj);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// An allocation fault at each allocation of a deep parse in turn: 12, and a
// record that destroys to 0 bytes.  Then the documents the runtime refuses.
TEST(Xml, AllocationFaultsAndRefusedDocuments) {
  for (const char *name : {"qos_client_data_t", "qos_policy_content"}) {
    ScopedHandle h(MOX_STTR_ON);
    const TypeDesc &t = type_named(name);
    void *src = golden_record(name, h);
    uint32_t err = 0;
    const std::string text = render(t, h, src, &err);
    orva::record_destroy(t, h, kDb, src);
    for (int64_t n = 0; err != 0 || n == 0; ++n) {
      SCOPED_TRACE(std::string(name) + " fault after " + std::to_string(n));
      void *obj = orva::record_create(t, h, kDb);
      h.fail_alloc_after(n);
      err = parse(t, h, text, obj);
      h.fail_alloc_after(-1);
      EXPECT_TRUE(err == 0 || err == 12) << err;
      orva::record_destroy(t, h, kDb, obj);
      ASSERT_EQ(h.live_bytes(), 0u);
      ASSERT_LT(n, 10000);
    }
  }
  std::string deep, over(size_t{16} << 20, ' ');
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  over.replace(0, 3, "<a>");
  for (const std::string &text : {deep, over + " "}) {
    mox_xml_doc_t *d = nullptr;
    char msg[300] = "";
    EXPECT_EQ(mox_xml_doc_parse(text.data(), text.size(), &d, msg, sizeof msg), 22u);
    EXPECT_STRNE(msg, "");
    EXPECT_EQ(d, nullptr);
  }
}

}  // namespace
}  // namespace orva_test
