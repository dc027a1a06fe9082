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
  EXPECT_EQ(printed(h, uint8_t{255}, u_int8_print), "  lbl: 255\n");
  EXPECT_EQ(printed(h, int16_t{-300}, int16_print, 0), "lbl: -300\n");
  EXPECT_EQ(printed(h, uint64_t{UINT64_MAX}, u_int64_print), "  lbl: 18446744073709551615\n");
  EXPECT_EQ(printed(h, mox_boolean_t{1}, mox_boolean_print), "  lbl: true\n");
  EXPECT_EQ(printed(h, mox_boolean_t{0}, mox_boolean_print), "  lbl: false\n");
  const mox_mac_addr_t mac{{0xAA, 0xBB, 0x0C, 0xDD, 0xEE, 0x0F}};
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

  const calendar_time_t t{1700000000, 42, 0};
  EXPECT_EQ(printed(h, t, calendar_time_print), "  lbl: 1700000000.000042\n");
  enm_radio_band_type_t band{};
  band.value = ENM_RADIO_BAND_5GHZ;
  EXPECT_EQ(printed(h, band, enm_radio_band_type_print), "  lbl: ENM_RADIO_BAND_5GHZ\n");
  band.value = 40;
  EXPECT_EQ(printed(h, band, enm_radio_band_type_print), "  lbl: value out of range (40)\n");
  EXPECT_EQ(err, 0u);
}

TEST(KindsText, PrintSpaceAndSnprintfStayWithinTheRoom) {
  ScopedHandle h;
  uint32_t err = 0;
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  std::strcpy(buf, "ab");
  // The room counts from the end of the text: 3 spaces and the NUL need 4.
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 3, 4, &err), 3u);
  EXPECT_STREQ(buf, "ab   ");
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 0, 0, &err), 0u);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 4, 4, &err), 3u);
  EXPECT_EQ(err, kEMSGSIZE);
  EXPECT_EQ(h->last_error, kEMSGSIZE);
  EXPECT_STREQ(buf, "ab      ");
  EXPECT_EQ(buf[9], '#') << "wrote past the room";
  EXPECT_EQ(mox_print_space(h, MOX_NO_DB, buf, 2, 8, &err), 0u) << "an error is pending";
  EXPECT_STREQ(buf, "ab      ");

  err = 0;
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
