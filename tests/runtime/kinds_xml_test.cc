// XML documents: refusal of declarations and entities, look-ups by path,
// rendering of tags and values, and the readers' diagnostics.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "handle.h"
#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace {

using orva_test::ScopedHandle;

constexpr uint32_t kENOENT = 2, kEINVAL = 22, kEMSGSIZE = 90;

// A parsed document for one test.
class Doc {
 public:
  explicit Doc(const std::string &text) {
    rc = mox_xml_doc_parse(text.data(), text.size(), &doc, msg, sizeof msg);
  }
  ~Doc() { mox_xml_doc_free(doc); }
  Doc(const Doc &) = delete;
  Doc &operator=(const Doc &) = delete;
  uint32_t rc;
  mox_xml_doc_t *doc = nullptr;
  char msg[256] = "";
};

TEST(KindsXmlParse, RefusesDeclarationsAndEntitiesWithAReason) {
  const std::string refused[] = {
      // external entity
      "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>",
      // entity expansion ("billion laughs")
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
      "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
      "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
      "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
      "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
      "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
      "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">"
      "]><lolz>&lol9;</lolz>",
      // an external DTD that must never be fetched
      "<!DOCTYPE x SYSTEM \"http://192.0.2.1/x.dtd\"><x/>",
      "<!DOCTYPE x><x/>",
  };
  for (const std::string &text : refused) {
    SCOPED_TRACE(text.substr(0, 40));
    Doc d(text);
    EXPECT_EQ(d.rc, kEINVAL);
    EXPECT_EQ(d.doc, nullptr);
    EXPECT_NE(std::string(d.msg).find("document type"), std::string::npos) << d.msg;
  }

  // Without a declaration an entity reference is simply undefined.
  Doc undeclared("<x>&e;</x>");
  EXPECT_EQ(undeclared.rc, kEINVAL);
  EXPECT_NE(std::string(undeclared.msg).find("e"), std::string::npos);
  Doc malformed("<x><y></x>");
  EXPECT_EQ(malformed.rc, kEINVAL);
  EXPECT_STRNE(malformed.msg, "");

  // The size limit is checked before any byte is read.
  const char tiny[] = "<x/>";
  mox_xml_doc_t *doc = nullptr;
  EXPECT_EQ(mox_xml_doc_parse(tiny, size_t{1} << 40, &doc, nullptr, 0), kEINVAL);
  EXPECT_EQ(mox_xml_doc_parse(nullptr, 4, &doc, nullptr, 0), kEINVAL);
  EXPECT_EQ(mox_xml_doc_parse(tiny, 4, nullptr, nullptr, 0), kEINVAL);
}

TEST(KindsXmlLookup, PathsSelectElementsAndFailuresAreReported) {
  Doc d("<r><a><b>one</b></a><a><b>two &amp; &#65;</b></a><c>  </c><e/></r>");
  ASSERT_EQ(d.rc, 0u) << d.msg;
  char buf[128];
  EXPECT_EQ(xml_get_element_value(d.doc, "//b", buf, sizeof buf, 0), 0u);
  EXPECT_STREQ(buf, "one");
  EXPECT_EQ(xml_get_element_value(d.doc, "/r/a[2]/b", buf, sizeof buf, 0), 0u);
  EXPECT_STREQ(buf, "two & A");
  EXPECT_EQ(xml_get_element_value(d.doc, "/r/c", buf, sizeof buf, 0), 0u);
  EXPECT_STREQ(buf, "  ");
  EXPECT_EQ(xml_get_element_value(d.doc, "/r/e", buf, sizeof buf, 0), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(xml_get_element_value(d.doc, "/r/a[3]/b", buf, sizeof buf, 0), kENOENT);
  EXPECT_EQ(xml_get_element_value(d.doc, "//[", buf, sizeof buf, 0), kEINVAL);
  EXPECT_EQ(xml_get_element_value(d.doc, "count(//a)", buf, sizeof buf, 0), kEINVAL);
  EXPECT_EQ(xml_get_element_value(nullptr, "//b", buf, sizeof buf, 0), kEINVAL);
  const std::string long_path = "/r" + std::string(300, 'x');
  EXPECT_EQ(xml_get_element_value(d.doc, long_path.c_str(), buf, sizeof buf, 0), kENOENT);

  // A value longer than the buffer is cut, terminated, and reported.
  char small[8];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(xml_get_element_value(d.doc, "/r/a[2]/b", small, 4, 0), kEMSGSIZE);
  EXPECT_STREQ(small, "two");
  EXPECT_EQ(small[4], '#');

  uint32_t count = 99;
  EXPECT_EQ(xml_get_element_nodecount(d.doc, "/r/a", &count), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(xml_get_element_nodecount(d.doc, "/r/zz", &count), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(xml_get_element_nodecount(d.doc, "/r/a[", &count), kEINVAL);
}

TEST(KindsXmlRender, TagsAndEscapedValues) {
  ScopedHandle h;
  uint32_t err = 0;
  char buf[128];
  EXPECT_EQ(start_tag(h, MOX_NO_DB, buf, "rec", 128, 0, &err), 5u);
  EXPECT_STREQ(buf, "<rec>");
  EXPECT_EQ(start_tag(h, MOX_NO_DB, buf, "rec", 128, 2, &err), 12u);
  EXPECT_STREQ(buf, "<rec st=\"2\">");
  EXPECT_EQ(end_tag(h, MOX_NO_DB, buf, "rec", 128, &err), 6u);
  EXPECT_STREQ(buf, "</rec>");
  EXPECT_EQ(xml_enum_print(h, MOX_NO_DB, buf, "<X/>tail", 4, 128, &err), 4u);
  EXPECT_STREQ(buf, "<X/>");
  const uint32_t n = start_tag_timestamp(h, MOX_NO_DB, buf, "orva", 128, &err);
  EXPECT_EQ(n, std::strlen(buf));
  unsigned long long sec = 0;
  unsigned usec = 0;
  char close = 0;
  ASSERT_EQ(std::sscanf(buf, "<orva ts=\"%llu.%6u\"%c", &sec, &usec, &close), 3) << buf;
  EXPECT_EQ(close, '>');
  EXPECT_GT(sec, 1600000000ull);
  EXPECT_EQ(err, 0u);

  mox_vstring_t s{};
  mox_vstring_set_value(h, MOX_NO_DB, &s, "a<b>&\"c'\r", &err);
  mox_vstring_to_xml(h, MOX_NO_DB, "name", buf, &s, 128, 0, &err);
  EXPECT_STREQ(buf, "<name>a&lt;b&gt;&amp;&quot;c&apos;&#13;</name>");
  mox_vstring_set_value(h, MOX_NO_DB, &s, "bell\a", &err);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(mox_vstring_to_xml(h, MOX_NO_DB, "name", buf, &s, 128, 0, &err), 0u);
  EXPECT_EQ(err, kEINVAL) << "XML cannot carry this character";
  EXPECT_EQ(buf[0], '#');
  mox_vstring_destroy_internal(h, MOX_NO_DB, &s, 0);

  err = 0;
  enm_client_type_t e{};
  enm_client_type_set_value(h, MOX_NO_DB, &e, ENM_CLIENT_TYPE_VIDEO, &err);
  enm_client_type_to_xml(h, MOX_NO_DB, "ct", buf, &e, 128, 0, &err);
  EXPECT_STREQ(buf, "<ct>ENM_CLIENT_TYPE_VIDEO</ct>");
  e.value = 17;
  enm_client_type_to_xml(h, MOX_NO_DB, "ct", buf, &e, 128, 0, &err);
  EXPECT_STREQ(buf, "<ct>17</ct>");

  // Out of room: EMSGSIZE, cut and terminated, nothing past the room.
  std::memset(buf, '#', sizeof buf);
  err = 0;
  EXPECT_EQ(start_tag(h, MOX_NO_DB, buf, "record", 5, 1, &err), 4u);
  EXPECT_EQ(err, kEMSGSIZE);
  EXPECT_STREQ(buf, "<rec");
  EXPECT_EQ(buf[5], '#');
}

TEST(KindsXmlRead, ReadersParseTextAndExplainFailures) {
  ScopedHandle h;
  Doc d("<r><n> 42 </n><big>256</big><neg>-1</neg><mac>00:1A:2b:3c:4d:5e</mac>"
        "<ip>2001:db8::1</ip><t>12.000034</t><t2>12.5</t2><b>true</b><ct>ENM_CLIENT_TYPE_DATA</ct>"
        "<band>2</band><word>nine</word></r>");
  ASSERT_EQ(d.rc, 0u) << d.msg;
  char msg[96] = "";
  uint32_t err = 0;
  uint8_t u8 = 0;
  u_int8_from_xml(h, MOX_NO_DB, "/r/n", d.doc, &u8, &err, msg, sizeof msg);
  EXPECT_EQ(u8, 42);
  u_int8_from_xml(h, MOX_NO_DB, "/r/big", d.doc, &u8, &err, msg, sizeof msg);
  EXPECT_EQ(err, kEINVAL);
  EXPECT_STREQ(msg, "Failed xpath: /r/big (not a valid u_int8 value)");
  EXPECT_EQ(u8, 42);
  err = 0;
  uint16_t u16 = 0;
  u_int16_from_xml(h, MOX_NO_DB, "/r/neg", d.doc, &u16, &err, msg, sizeof msg);
  EXPECT_EQ(err, kEINVAL);
  err = 0;
  std::strcpy(msg, "untouched");
  u_int16_from_xml(h, MOX_NO_DB, "/r/none", d.doc, &u16, &err, msg, sizeof msg);
  EXPECT_EQ(err, kENOENT);
  EXPECT_STREQ(msg, "untouched");
  err = 0;
  u_int16_from_xml(h, MOX_NO_DB, "/r/[", d.doc, &u16, &err, msg, sizeof msg);
  EXPECT_EQ(err, kEINVAL);
  EXPECT_STREQ(msg, "Failed xpath: /r/[");
  err = 0;
  char tiny[8];
  u_int16_from_xml(h, MOX_NO_DB, "/r/big", d.doc, &u16, &err, tiny, sizeof tiny);
  EXPECT_EQ(u16, 256);
  u_int16_from_xml(h, MOX_NO_DB, "/r/word", d.doc, &u16, &err, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "Failed ") << "the message is cut to its buffer";
  err = 0;

  mox_mac_addr_t mac{};
  mox_mac_addr_from_xml(h, MOX_NO_DB, "/r/mac", d.doc, &mac, &err, msg, sizeof msg);
  EXPECT_EQ(mac.octet[1], 0x1A);
  EXPECT_EQ(mac.octet[5], 0x5E);
  ip_address_t ip{};
  ip_address_from_xml(h, MOX_NO_DB, "/r/ip", d.doc, &ip, &err, msg, sizeof msg);
  EXPECT_EQ(ip.family, MOX_IP_V6);
  EXPECT_EQ(ip.addr[1], 0x01);
  calendar_time_t t{};
  calendar_time_from_xml(h, MOX_NO_DB, "/r/t", d.doc, &t, &err, msg, sizeof msg);
  EXPECT_EQ(t.sec, 12);
  EXPECT_EQ(t.usec, 34u);
  mox_boolean_t b = 0;
  mox_boolean_from_xml(h, MOX_NO_DB, "/r/b", d.doc, &b, &err, msg, sizeof msg);
  EXPECT_EQ(b, 1u);
  enm_client_type_t ct{};
  enm_client_type_from_xml(h, MOX_NO_DB, "/r/ct", d.doc, &ct, &err, msg, sizeof msg);
  EXPECT_EQ(ct.value, ENM_CLIENT_TYPE_DATA);
  enm_radio_band_type_t band{};
  enm_radio_band_type_from_xml(h, MOX_NO_DB, "/r/band", d.doc, &band, &err, msg, sizeof msg);
  EXPECT_EQ(band.value, ENM_RADIO_BAND_5GHZ);
  EXPECT_EQ(err, 0u) << msg;
  calendar_time_from_xml(h, MOX_NO_DB, "/r/t2", d.doc, &t, &err, msg, sizeof msg);
  EXPECT_EQ(err, kEINVAL) << "six fraction digits are required";
  err = 0;
  enm_client_type_from_xml(h, MOX_NO_DB, "/r/word", d.doc, &ct, &err, msg, sizeof msg);
  EXPECT_EQ(err, kEINVAL);
  EXPECT_EQ(ct.value, ENM_CLIENT_TYPE_DATA);
}

}  // namespace
