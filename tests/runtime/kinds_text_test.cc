// Printed forms of the primitive kinds and the two text helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "handle.h"
#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace {

using orva_test::ScopedHandle;

constexpr uint32_t kEMSGSIZE = 90;

template <class F, class Print>
std::string printed(mox_handle_t *h, const F &f, Print print, uint32_t indent = 2) {
  char buf[256];
  uint32_t err = 0;
  const uint32_t n = print(h, MOX_NO_DB, buf, indent, "lbl", &f, sizeof buf, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(n, std::strlen(buf));
  return buf;
}

TEST(KindsPrint, OneLinePerValueInTheDocumentedFormat) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint8_t u8 = 255;
  const int16_t i16 = -300;
  const uint64_t u64 = UINT64_MAX;
  EXPECT_EQ(printed(h, u8, u_int8_print), "  lbl: 255\n");
  EXPECT_EQ(printed(h, i16, int16_print, 0), "lbl: -300\n");
  EXPECT_EQ(printed(h, u64, u_int64_print), "  lbl: 18446744073709551615\n");
  const mox_boolean_t yes = 1, no = 0;
  EXPECT_EQ(printed(h, yes, mox_boolean_print), "  lbl: true\n");
  EXPECT_EQ(printed(h, no, mox_boolean_print), "  lbl: false\n");

  const uint8_t octets[6] = {0xAA, 0xBB, 0x0C, 0xDD, 0xEE, 0x0F};
  mox_mac_addr_t mac{};
  mox_mac_addr_set_value(h, MOX_NO_DB, &mac, octets, &err);
  EXPECT_EQ(printed(h, mac, mox_mac_addr_print), "  lbl: aa:bb:0c:dd:ee:0f\n");

  mox_vstring_t s{};
  EXPECT_EQ(printed(h, s, mox_vstring_print), "  lbl: \n");
  mox_vstring_set_value(h, MOX_NO_DB, &s, "a <b>", &err);
  EXPECT_EQ(printed(h, s, mox_vstring_print), "  lbl: a <b>\n");
  mox_vstring_destroy_internal(h, MOX_NO_DB, &s, 0);

  ip_address_t ip{};
  EXPECT_EQ(printed(h, ip, ip_address_print), "  lbl: none\n");
  ip_address_set_value(h, MOX_NO_DB, &ip, "192.0.2.7", &err);
  EXPECT_EQ(printed(h, ip, ip_address_print), "  lbl: 192.0.2.7\n");
  ip_address_set_value(h, MOX_NO_DB, &ip, "2001:DB8:0:0::10%7", &err);
  EXPECT_EQ(printed(h, ip, ip_address_print), "  lbl: 2001:db8::10%7\n");

  calendar_time_t t{};
  calendar_time_set_value(h, MOX_NO_DB, &t, 1700000000, 42, &err);
  EXPECT_EQ(printed(h, t, calendar_time_print), "  lbl: 1700000000.000042\n");

  enm_radio_band_type_t band{};
  enm_radio_band_type_set_value(h, MOX_NO_DB, &band, ENM_RADIO_BAND_5GHZ, &err);
  EXPECT_EQ(printed(h, band, enm_radio_band_type_print), "  lbl: ENM_RADIO_BAND_5GHZ\n");
  band.value = 40;
  EXPECT_EQ(printed(h, band, enm_radio_band_type_print), "  lbl: value out of range (40)\n");
  EXPECT_EQ(err, 0u);
}

TEST(KindsText, PrintSpaceAppendsWithinTheRoom) {
  ScopedHandle h;
  uint32_t err = 0;
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  std::strcpy(buf, "ab");
  // room counts from the end of the text: 3 spaces and the NUL need 4.
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 3, 4, &err), 3u);
  EXPECT_STREQ(buf, "ab   ");
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 0, 0, &err), 0u);
  EXPECT_EQ(err, 0u);

  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 4, 4, &err), 3u);
  EXPECT_EQ(err, kEMSGSIZE);
  EXPECT_EQ(h->last_error, kEMSGSIZE);
  EXPECT_STREQ(buf, "ab      ");
  EXPECT_EQ(buf[9], '#') << "wrote past the room";

  // A pending error: nothing.
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 2, 8, &err), 0u);
  EXPECT_STREQ(buf, "ab      ");
}

TEST(KindsText, SnprintfCutsAndReportsWhenTheTextDoesNotFit) {
  ScopedHandle h;
  uint32_t err = 0;
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(mox_snprintf(h, MOX_NO_DB, buf, 16, &err, "%s@%s: {\n", "rec", "type"), 12u);
  EXPECT_STREQ(buf, "rec@type: {\n");
  EXPECT_EQ(err, 0u);
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(mox_snprintf(h, MOX_NO_DB, buf, 6, &err, "%d-%d", 1234, 5678), 5u);
  EXPECT_EQ(err, kEMSGSIZE);
  EXPECT_STREQ(buf, "1234-");
  EXPECT_EQ(buf[6], '#');
  err = 0;
  EXPECT_EQ(mox_snprintf(h, MOX_NO_DB, buf, 0, &err, "x"), 0u);
  EXPECT_EQ(err, kEMSGSIZE);
  EXPECT_EQ(buf[0], '1');
  EXPECT_EQ(mox_snprintf(h, MOX_NO_DB, buf, 16, &err, "later"), 0u);
  EXPECT_EQ(buf[0], '1');
}

}  // namespace
