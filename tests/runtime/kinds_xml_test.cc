// XML documents: refusal of declarations and entities, look-ups by path,
// rendering of tags and values, the readers' diagnostics, and the printed
// forms of the kinds with the two text helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "handle.h"
#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace {

using orva_test::ScopedHandle;

constexpr uint32_t kENOENT = 2, kEINVAL = 22, kEMSGSIZE = 90;

template <class F, class Print>
std::string printed(mox_handle_t *h, const F &f, Print print, uint32_t indent = 2) {
  char buf[256];
  uint32_t err = 0;
  const uint32_t n = print(h, MOX_NO_DB, buf, indent, "lbl", &f, sizeof buf, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}

// Reads the element at path into a zeroed field and prints the field.
template <class F, class FromXml, class Print>
std::string reread(mox_handle_t *h, mox_xml_doc_t *doc, const char *path, FromXml from_xml,
                   Print print) {
  F f{};
  uint32_t err = 0;
  char msg[96] = "";
  from_xml(h, MOX_NO_DB, path, doc, &f, &err, msg, sizeof msg);
  EXPECT_EQ(err, 0u) << path << ": " << msg;
  return printed(h, f, print);
}

// A parsed document for one test.
struct Doc {
  explicit Doc(const std::string &text) : Doc(text.data(), text.size()) {}
  Doc(const char *text, size_t len) { rc = mox_xml_doc_parse(text, len, &doc, msg, sizeof msg); }
  ~Doc() { mox_xml_doc_free(doc); }
  Doc(const Doc &) = delete;
  uint32_t rc;
  mox_xml_doc_t *doc = nullptr;
  char msg[256] = "";
};

TEST(KindsXml, ParseRefusesBadDocumentsWithAReasonAndLookupsSelectByPath) {
  // "Billion laughs": nine levels of entities, each ten of the one before.
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol1 \"lol\">";
  for (int level = 2; level <= 9; ++level) {
    laughs += "<!ENTITY lol" + std::to_string(level) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&lol" + std::to_string(level - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><lolz>&lol9;</lolz>";
  const std::string external = "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>";
  const std::string fetched = "<!DOCTYPE x SYSTEM \"http://192.0.2.1/x.dtd\"><x/>";
  constexpr size_t kAll = SIZE_MAX;  // the whole text
  const struct { const char *text; size_t len; const char *reason; } refused[] = {
      {laughs.c_str(), kAll, "document type"},
      {external.c_str(), kAll, "document type"},
      {fetched.c_str(), kAll, "document type"},  // a DTD that must never be fetched
      {"<!DOCTYPE x><x/>", kAll, "document type"},
      {"<x>&e;</x>", kAll, "'e'"},  // without a declaration the entity is undefined
      {"<x><y></x>", kAll, "line 1: "},
      {"", 0, "empty document"},      // nothing failed to allocate
      {"<x/>", 0, "empty document"},  // the length counts, not the NUL
      {" \n\t\r ", kAll, "empty document"},
      {"<x/>", SIZE_MAX / 2, "larger than"},  // checked before any byte is read
      {nullptr, 4, "no document text"},
  };
  for (const auto &c : refused) {
    Doc d(c.text, c.len == kAll ? std::strlen(c.text) : c.len);
    EXPECT_EQ((std::tuple{d.rc, d.doc, std::string(d.msg).find(c.reason) != std::string::npos}),
              (std::tuple{kEINVAL, static_cast<mox_xml_doc_t *>(nullptr), true}))
        << std::string(c.text ? c.text : "(null)").substr(0, 40) << ": " << d.msg;
  }
  // Only len bytes are read: no terminating NUL is needed.
  // No result pointer, or no message buffer: still refused.
  const char unterminated[] = {'<', 'x', '/', '>', '<'};
  mox_xml_doc_t *doc = nullptr;
  EXPECT_EQ((std::tuple{Doc(unterminated, 4).rc, mox_xml_doc_parse("<x/>", 4, nullptr, nullptr, 0),
                        mox_xml_doc_parse("", 0, &doc, nullptr, 0)}), (std::tuple{0u, kEINVAL, kEINVAL}));

  // Look-ups: paths select elements, failures are reported.
  Doc d("<r><a><b>one</b></a><a><b>two &amp; &#65;</b></a><c>  </c><e/></r>");
  ASSERT_EQ(d.rc, 0u) << d.msg;
  const std::string long_path = "/r" + std::string(300, 'x');
  const struct { const char *path; uint32_t rc; const char *text; } lookups[] = {
      {"//b", 0, "one"}, {"/r/a[2]/b", 0, "two & A"}, {"/r/c", 0, "  "}, {"/r/e", 0, ""}, {"/r/a[3]/b", kENOENT, ""},
      {long_path.c_str(), kENOENT, ""}, {"//[", kEINVAL, ""}, {"count(//a)", kEINVAL, ""}};
  for (const auto &l : lookups) {
    char buf[128] = "";
    EXPECT_EQ((std::tuple{xml_get_element_value(d.doc, l.path, buf, sizeof buf, 0), std::string(buf)}),
              (std::tuple{l.rc, l.text})) << l.path;
  }
  // No document: 22; a value longer than the buffer is cut, terminated, and reported.
  char buf[8];
  EXPECT_EQ(xml_get_element_value(nullptr, "//b", buf, sizeof buf, 0), kEINVAL);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ((std::tuple{xml_get_element_value(d.doc, "/r/a[2]/b", buf, 4, 0), std::string(buf), buf[4]}),
            (std::tuple{kEMSGSIZE, "two", '#'}));
  uint32_t count = 99, none = 99, bad = 0;
  EXPECT_EQ((std::tuple{xml_get_element_nodecount(d.doc, "/r/a", &count), xml_get_element_nodecount(d.doc, "/r/zz", &none),
                        xml_get_element_nodecount(d.doc, "/r/a[", &bad), count, none}), (std::tuple{0u, 0u, kEINVAL, 2u, 0u}));
}

TEST(KindsXmlRender, TagsEscapedValuesAndTextHelpersWithinTheRoom) {
  ScopedHandle h;
  uint32_t err = 0;
  char buf[128];
  mox_vstring_t s{}, bell{};
  mox_vstring_set_value(h, MOX_NO_DB, &s, "a<b>&\"c'\r", &err);
  mox_vstring_set_value(h, MOX_NO_DB, &bell, "bell\a", &err);
  enm_client_type_t e{}, wild{};
  enm_client_type_set_value(h, MOX_NO_DB, &e, ENM_CLIENT_TYPE_VIDEO, &err);
  wild.value = 17;
  // (result, text, code) of each rendering into a buffer filled with '#',
  // never written past the text's NUL; out of room: cut and terminated; a
  // character XML cannot carry: nothing written (the text is the '#' left).
  using Render = std::function<uint32_t()>;
  const std::tuple<Render, const char *, uint32_t> renders[] = {
      {[&] { return start_tag(h, MOX_NO_DB, buf, "rec", 128, 0, &err); }, "<rec>", 0},
      {[&] { return start_tag(h, MOX_NO_DB, buf, "rec", 128, 2, &err); }, "<rec st=\"2\">", 0},
      {[&] { return end_tag(h, MOX_NO_DB, buf, "rec", 128, &err); }, "</rec>", 0},
      {[&] { return xml_enum_print(h, MOX_NO_DB, buf, "<X/>tail", 4, 128, &err); }, "<X/>", 0},
      {[&] { return mox_vstring_to_xml(h, MOX_NO_DB, "name", buf, &s, 128, 0, &err); },
       "<name>a&lt;b&gt;&amp;&quot;c&apos;&#13;</name>", 0},
      {[&] { return enm_client_type_to_xml(h, MOX_NO_DB, "ct", buf, &e, 128, 0, &err); }, "<ct>ENM_CLIENT_TYPE_VIDEO</ct>", 0},
      {[&] { return enm_client_type_to_xml(h, MOX_NO_DB, "ct", buf, &wild, 128, 0, &err); }, "<ct>17</ct>", 0},
      {[&] { return start_tag(h, MOX_NO_DB, buf, "record", 5, 1, &err); }, "<rec", kEMSGSIZE},
      {[&] { return mox_vstring_to_xml(h, MOX_NO_DB, "name", buf, &bell, 128, 0, &err); }, "#", kEINVAL},
  };
  for (const auto &[render, text, code] : renders) {
    std::memset(buf, '#', sizeof buf);
    err = 0;
    const uint32_t n = render();
    const std::string got = code == kEINVAL ? std::string(1, buf[0]) : std::string(buf);
    EXPECT_EQ((std::tuple{n, got, err, buf[std::strlen(text) + 1]}),
              (std::tuple{code == kEINVAL ? 0u : uint32_t(std::strlen(text)), std::string(text), code, '#'}));
  }
  mox_vstring_destroy_internal(h, MOX_NO_DB, &s, 0);
  mox_vstring_destroy_internal(h, MOX_NO_DB, &bell, 0);
  err = 0;
  const uint32_t n = start_tag_timestamp(h, MOX_NO_DB, buf, "orva", 128, &err);
  EXPECT_EQ(n, std::strlen(buf));
  unsigned long long sec = 0;
  unsigned usec = 0;
  char close = 0;
  ASSERT_EQ(std::sscanf(buf, "<orva ts=\"%llu.%6u\"%c", &sec, &usec, &close), 3) << buf;
  EXPECT_EQ((std::tuple{close, sec > 1600000000ull, err}), (std::tuple{'>', true, 0u}));

  // Both helpers write at most the room (counted, for print_space, from the
  // end of the text already there) and report EMSGSIZE when cut; with an
  // error pending they write nothing.
  h->last_error = err = 0;
  char txt[16];
  std::memset(txt, '#', sizeof txt);
  std::strcpy(txt, "ab");
  // 3 spaces and the NUL need 4.
  EXPECT_EQ((std::tuple{mox_print_space(h, MOX_NO_DB, txt, 3, 4, &err), std::string(txt),
                        mox_print_space(h, MOX_NO_DB, txt, 0, 0, &err), err}), (std::tuple{3u, "ab   ", 0u, 0u}));
  EXPECT_EQ((std::tuple{mox_print_space(h, MOX_NO_DB, txt, 4, 4, &err), err, h->last_error, std::string(txt), txt[9]}),
            (std::tuple{3u, kEMSGSIZE, kEMSGSIZE, "ab      ", '#'}));
  EXPECT_EQ((std::tuple{mox_print_space(h, MOX_NO_DB, txt, 2, 8, &err), std::string(txt)}), (std::tuple{0u, "ab      "}));

  err = 0;
  std::memset(txt, '#', sizeof txt);
  EXPECT_EQ((std::tuple{mox_snprintf(h, MOX_NO_DB, txt, 16, &err, "%s@%s: {\n", "rec", "type"), std::string(txt), err}),
            (std::tuple{12u, "rec@type: {\n", 0u}));
  std::memset(txt, '#', sizeof txt);
  EXPECT_EQ((std::tuple{mox_snprintf(h, MOX_NO_DB, txt, 6, &err, "%d-%d", 1234, 5678), err, std::string(txt), txt[6]}),
            (std::tuple{5u, kEMSGSIZE, "1234-", '#'}));
  err = 0;
  EXPECT_EQ((std::tuple{mox_snprintf(h, MOX_NO_DB, txt, 0, &err, "x"), err, mox_snprintf(h, MOX_NO_DB, txt, 16, &err, "later"),
                        txt[0]}), (std::tuple{0u, kEMSGSIZE, 0u, '1'}));
}

// The input forms beyond the written text, and the readers' messages; the
// printed form of every kind.
TEST(KindsXmlRead, ReadersParseTextAndExplainFailuresAndPrintOneLinePerValue) {
  ScopedHandle h;
  Doc d("<r><n> 42 </n><big>256</big><neg>-1</neg><mac>00:1A:2b:3c:4d:5e</mac><ip> 10.0.0.9 </ip>"
        "<t>12.000034</t><t1>12</t1><t2>12.5</t2><b>1</b><band> 2 </band><word>nine</word></r>");
  ASSERT_EQ(d.rc, 0u) << d.msg;
  uint32_t err = 0;
  mox_vstring_t s{};
  ip_address_t ip{}, ip4{}, ip6{};
  ip_address_set_value(h, MOX_NO_DB, &ip4, "192.0.2.7", &err);
  ip_address_set_value(h, MOX_NO_DB, &ip6, "2001:DB8:0:0::10%7", &err);
  mox_vstring_set_value(h, MOX_NO_DB, &s, "a <b>", &err);
  enm_radio_band_type_t band{}, wild{};
  band.value = ENM_RADIO_BAND_5GHZ;
  wild.value = 40;
  const mox_vstring_t empty{};
  const std::pair<std::string, std::string> lines[] = {
      {reread<uint8_t>(h, d.doc, "/r/n", u_int8_from_xml, u_int8_print), "  lbl: 42\n"},
      {reread<mox_mac_addr_t>(h, d.doc, "/r/mac", mox_mac_addr_from_xml, mox_mac_addr_print), "  lbl: 00:1a:2b:3c:4d:5e\n"},
      {reread<ip_address_t>(h, d.doc, "/r/ip", ip_address_from_xml, ip_address_print), "  lbl: 10.0.0.9\n"},
      {reread<calendar_time_t>(h, d.doc, "/r/t", calendar_time_from_xml, calendar_time_print), "  lbl: 12.000034\n"},
      {reread<calendar_time_t>(h, d.doc, "/r/t1", calendar_time_from_xml, calendar_time_print), "  lbl: 12.000000\n"},
      {reread<mox_boolean_t>(h, d.doc, "/r/b", mox_boolean_from_xml, mox_boolean_print), "  lbl: true\n"},
      {reread<enm_radio_band_type_t>(h, d.doc, "/r/band", enm_radio_band_type_from_xml, enm_radio_band_type_print),
       "  lbl: ENM_RADIO_BAND_5GHZ\n"},
      {printed(h, int16_t{-300}, int16_print, 0), "lbl: -300\n"},
      {printed(h, uint64_t{UINT64_MAX}, u_int64_print), "  lbl: 18446744073709551615\n"},
      {printed(h, mox_boolean_t{0}, mox_boolean_print), "  lbl: false\n"},
      {printed(h, empty, mox_vstring_print), "  lbl: \n"},
      {printed(h, s, mox_vstring_print), "  lbl: a <b>\n"},
      {printed(h, ip, ip_address_print), "  lbl: none\n"},
      {printed(h, ip4, ip_address_print), "  lbl: 192.0.2.7\n"},
      {printed(h, ip6, ip_address_print), "  lbl: 2001:db8::10%7\n"},
      {printed(h, wild, enm_radio_band_type_print), "  lbl: value out of range (40)\n"},
  };
  for (const auto &[got, want] : lines) EXPECT_EQ(got, want);
  mox_vstring_destroy_internal(h, MOX_NO_DB, &s, 0);
  EXPECT_EQ(err, 0u);

  // Refusals leave the field alone and say why (cut to the room given); an
  // absent element leaves the message alone; times need six fraction digits.
  uint8_t u8 = 42;
  uint16_t u16 = 0;
  calendar_time_t t{};
  char msg[96] = "untouched";
#define READ(K, f) [&](const char *p, uint32_t *e, uint32_t n) { K##_from_xml(h, MOX_NO_DB, p, d.doc, &f, e, msg, n); }
  const struct {
    std::function<void(const char *, uint32_t *, uint32_t)> read; const char *path; uint32_t room, code; const char *msg;
  } refusals[] = {
      {READ(u_int16, u16), "/r/none", 96, kENOENT, "untouched"},
      {READ(u_int16, u16), "/r/neg", 96, kEINVAL, nullptr},
      {READ(u_int16, u16), "/r/[", 96, kEINVAL, "Failed xpath: /r/["},
      {READ(u_int16, u16), "/r/word", 8, kEINVAL, "Failed "},
      {READ(u_int8, u8), "/r/big", 96, kEINVAL, "Failed xpath: /r/big (not a valid u_int8 value)"},
      {READ(calendar_time, t), "/r/t2", 96, kEINVAL, nullptr},
      {READ(enm_radio_band_type, band), "/r/word", 96, kEINVAL, nullptr}};
#undef READ
  for (const auto &r : refusals) {
    uint32_t e = 0;
    r.read(r.path, &e, r.room);
    EXPECT_EQ((std::tuple{e, std::string(r.msg ? msg : "")}), (std::tuple{r.code, r.msg ? r.msg : ""})) << r.path;
  }
  EXPECT_EQ((std::tuple{u16, u8, band.value}), (std::tuple{0u, 42u, uint32_t{ENM_RADIO_BAND_5GHZ}}));
}

}  // namespace
