// The XML engine over the catalogue: round trips of every type, state flags,
// golden renderings and every cut of the deep records, parse failures.
#include "serial/xml.h"

#include <gtest/gtest.h>

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
  return std::string(buf.data(), orva::record_to_xml(t, h, kDb, t.name, buf.data(), obj,
                                                     int32_t(buf.size()), 0, err));
}

struct Doc {
  explicit Doc(const std::string &text) { EXPECT_EQ(mox_xml_doc_parse(text.data(), text.size(), &d, nullptr, 0), 0u); }
  ~Doc() { mox_xml_doc_free(d); }
  mox_xml_doc_t *d = nullptr;
};

// Fills obj from text at path ("//<type>" when empty); the slot's value.
uint32_t parse(const TypeDesc &t, mox_handle_t *h, const std::string &text, void *obj, std::string path = "") {
  Doc doc(text);
  uint32_t err = 0;
  char msg[300];
  if (path.empty()) path = "//" + std::string(t.name);
  orva::record_from_xml(t, h, kDb, path.c_str(), doc.d, obj, &err, msg, sizeof msg);
  return err;
}

// The wire form without state bytes (the mode switched off): what XML carries.
std::vector<uint8_t> wire(const TypeDesc &t, mox_handle_t *h, const void *obj) {
  uint32_t mode = h->sttr_config->word[MOX_STTR_MODE_WORD], err = 0;
  mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
  std::vector<uint8_t> out(orva::record_len(t, h, kDb, obj));
  out.resize(orva::record_marshal(t, h, kDb, out.data(), obj, int32_t(out.size()), 0, &err));
  mox_handle_set_sttr_mode(h, mode);
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
        // Each child element's "st" against the getters (0: no attribute).
        Doc doc(text);
        for (uint16_t i = 0; i < t.field_count; ++i) {
          const orva::FieldDesc &f = t.fields[i];
          const std::string at = "/" + std::string(t.name) + "/" + f.name;
          uint32_t n = 0;
          xml_get_element_nodecount(doc.d, at.c_str(), &n);
          EXPECT_EQ(n == 0, f.variant > v) << f.name;
          bool none = mode != MOX_STTR_ON || (f.flags & orva::kFieldCount) || f.kind == orva::Kind::Enum;
          bool indexed = f.shape == orva::Shape::Array || f.shape == orva::Shape::Dynamic;
          for (uint32_t k = 0; k < n; ++k) {
            char st[16];
            xml_get_element_value(doc.d, (at + "[" + std::to_string(k + 1) + "]/@st").c_str(), st, sizeof st, 0);
            uint32_t want = none ? 0 : indexed ? orva::field_state_get_at(t, i, h, kDb, a, k, &err)
                                               : orva::field_state_get(t, i, h, kDb, a, &err);
            EXPECT_EQ(std::strtoul(st, nullptr, 10), want) << f.name << "[" << k << "]";
            flagged += want != 0;
          }
        }
        EXPECT_EQ(err, 0u);
        orva::record_destroy(t, h, kDb, a);
        orva::record_destroy(t, h, kDb, b);
        EXPECT_EQ(h.live_bytes(), 0u);
      }
  EXPECT_GT(flagged, 100u);
}

// The golden text, then every buffer length from 0 to the full size on an
// exact-size heap buffer: a NUL-terminated prefix of the full text, 90 while cut.
TEST(Xml, GoldenRenderingsAndEveryCutOfTheDeepRecords) {
  for (const char *name : kGoldenTypes) {
    SCOPED_TRACE(name);
    ScopedHandle h(MOX_STTR_ON);
    const TypeDesc &t = type_named(name);
    void *obj = golden_record(name, h);
    uint32_t err = 0;
    const std::string full = render(t, h, obj, &err);
    ASSERT_EQ(err, 0u);
    golden_compare(name, ".xml", full + "\n");
    for (size_t len = 0; len <= full.size() + 1; ++len) {
      std::unique_ptr<char[]> buf(new char[len]);
      err = 0;
      uint32_t n = orva::record_to_xml(t, h, kDb, t.name, buf.get(), obj, int32_t(len), 0, &err);
      ASSERT_EQ(err, len > full.size() ? 0u : 90u) << len;
      ASSERT_LE(n + (len > 0), len);
      if (len > 0) {
        ASSERT_EQ(std::string(buf.get()), full.substr(0, n)) << len;
      }
    }
    orva::record_destroy(t, h, kDb, obj);
  }
}

std::string calls(const std::string &count, int n) {
  std::string s = "<qos_client_data_t><bandwidth_alloc>7</bandwidth_alloc>";
  if (count != "-") s += "<call_record_index>" + count + "</call_record_index>";
  for (int i = 0; i < n; ++i) s += "<call_record><call_id>c</call_id></call_record>";
  return s + "<aaa_qos_params><aaa_avgdtus>9</aaa_avgdtus></aaa_qos_params></qos_client_data_t>";
}

// One failure or edge per row: the error, the failure traced at 0x3000000
// (empty: none), what the record holds after, and a destroy back to 0 bytes.
TEST(Xml, ParseFailuresAndEdgesLeaveADestroyableRecord) {
  using Run = std::function<uint32_t(const TypeDesc &, mox_handle_t *, void *)>;
  struct Row { const char *type; Run run; uint32_t err; std::string trace; std::function<bool(void *)> holds; };
  auto of = [](std::string text, std::string path = "") -> Run {
    return [=](const TypeDesc &t, mox_handle_t *h, void *obj) { return parse(t, h, text, obj, path); };
  };
  auto cd = [](int calls, uint32_t aaa) {
    return [=](void *o) { auto *c = static_cast<qos_client_data_t *>(o); return c->call_record_index == calls && c->aaa_qos_params.aaa_avgdtus == aaa; };
  };
  const std::string corrupt = "Corrupted XML parsing";
  std::string deep, close, path;  // "/w" 113 times: "/ap_mac" fits in 256 bytes, "/radio_slot_id" not
  for (int i = 0; i < 113; ++i) deep += "<w>", close += "</w>", path += "/w";
  std::vector<Row> rows = {
      {"qos_ap_policy_t", of("<qos_ap_policy_t><pm_idx_sent_to_ap>5</pm_idx_sent_to_ap><pm_idx_sent_to_ap>6</pm_idx_sent_to_ap></qos_ap_policy_t>"), 0, "",
       [](void *o) { auto *p = static_cast<qos_ap_policy_t *>(o); return p->pm_idx_sent_to_ap[1] == 6 && p->pm_idx_sent_to_ap[2] == 0; }},
      {"qos_client_data_t", of(calls("2", 2)), 0, "", cd(2, 9)},
      {"qos_client_data_t", of(calls("3", 2)), 14, corrupt, cd(2, 0)},
      {"qos_client_data_t", of(calls("-", 2)), 2, "Error while obtaining element value from xml doc pointer", cd(0, 0)},
      {"qos_policy_content", of("<qos_policy_content><pm_name>p</pm_name><class_map/></qos_policy_content>"), 0, "",
       [](void *o) { return static_cast<qos_policy_content *>(o)->class_map.entry.count == 0; }},
      {"qos_ap_radio_key_t", of(deep + "<qos_ap_radio_key_t><radio_slot_id>3</radio_slot_id><ap_mac>00:00:00:00:00:01</ap_mac></qos_ap_radio_key_t>" + close,
                                path + "/qos_ap_radio_key_t"), 0, "",
       [](void *o) { auto *k = static_cast<qos_ap_radio_key_t *>(o); return k->radio_slot_id == 0 && k->ap_mac.octet[5] == 1; }},
      // A record created while tracking was off, rendered with it on.
      {"qos_ap_radio_key_t",
       [](const TypeDesc &t, mox_handle_t *h, void *obj) {
         uint32_t err = 0;
         mox_handle_set_sttr_mode(h, MOX_STTR_ON);
         EXPECT_EQ(render(t, h, obj, &err), "<qos_ap_radio_key_t>");
         mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
         return err;
       }, 22, "The object is non state tracked", nullptr},
  };
  for (const char *hostile : {"-1", "+1", "abc", "", "256", "0256", "18446744073709551615", " 1"})
    rows.push_back({"qos_client_data_t", of(calls(hostile, 1)), 14, corrupt, cd(0, 0)});
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.type) + " row " + std::to_string(&row - rows.data()));
    ScopedHandle h(MOX_STTR_OFF);
    const TypeDesc &t = type_named(row.type);
    void *obj = orva::record_create(t, h, kDb);
    mox_trace_clear();
    EXPECT_EQ(row.run(t, h, obj), row.err);
    std::vector<std::string> traced;  // failures only (the first growth's notice aside)
    for (const auto &r : TraceRecords())
      if (r.level == 0x3000000u) traced.emplace_back(r.text);
    EXPECT_EQ(traced, row.trace.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.trace});
    if (row.holds) {
      EXPECT_TRUE(row.holds(obj));
    }
    if (uint32_t fresh = 0; row.err == 22) {  // a corrupt mode word stops the process
      mox_handle_set_sttr_mode(h, 0x1234);
      EXPECT_DEATH(render(t, h, obj, &fresh), "");
      mox_handle_set_sttr_mode(h, MOX_STTR_OFF);
    }
    orva::record_destroy(t, h, kDb, obj);
    EXPECT_EQ(h.live_bytes(), 0u);
  }
}

// An allocation fault at each allocation of a deep parse in turn: 12, and a
// record that destroys to 0 bytes.  (Documents the runtime refuses: its own tests.)
TEST(Xml, AllocationFaultsLeaveADestroyableRecord) {
  for (const char *name : {"qos_client_data_t", "qos_policy_content"}) {
    ScopedHandle h(MOX_STTR_ON);
    const TypeDesc &t = type_named(name);
    void *src = golden_record(name, h);
    uint32_t err = 0;
    const std::string text = render(t, h, src, &err);
    orva::record_destroy(t, h, kDb, src);
    for (int64_t n = 0; n == 0 || err != 0; ++n) {
      SCOPED_TRACE(std::string(name) + " fault after " + std::to_string(n));
      void *obj = orva::record_create(t, h, kDb);
      h.fail_alloc_after(n);
      err = parse(t, h, text, obj);
      h.fail_alloc_after(-1);
      EXPECT_TRUE(err == 0 || err == 12) << err;
      orva::record_destroy(t, h, kDb, obj);
      ASSERT_EQ(h.live_bytes(), 0u);
    }
  }
}

}  // namespace
}  // namespace orva_test
