// One description per primitive kind for the typed kind tests: its
// operations, how to prepare a field, and a few sample values in ascending
// order of the kind's comparison.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace kinds_test {

// Kinds without storage of their own need no preparation or release.
template <class T>
struct PlainField {
  using Field = T;
  static void init(mox_handle_t *, Field *f) { std::memset(static_cast<void *>(f), 0, sizeof *f); }
  static void done(mox_handle_t *, Field *) {}
};

// Object kinds: zeroed storage, then the kind's initializer; released with
// the kind's destructor.
template <class T, auto initialize, auto destroy>
struct ObjectField {
  using Field = T;
  static void init(mox_handle_t *h, Field *f) {
    std::memset(static_cast<void *>(f), 0, sizeof *f);
    uint32_t err = 0;
    initialize(h, MOX_NO_DB, f, nullptr, 1, 0, MOX_FLAG_NESTED, nullptr, &err);
  }
  static void done(mox_handle_t *h, Field *f) { destroy(h, MOX_NO_DB, f, 0); }
};

#define KIND_OPS(K)                                  \
  static constexpr const char *kName = #K;           \
  static constexpr auto get = K##_get;               \
  static constexpr auto set = K##_set;               \
  static constexpr auto len = K##_len;               \
  static constexpr auto marshal = K##_marshal;       \
  static constexpr auto unmarshal = K##_unmarshal;   \
  static constexpr auto print = K##_print;           \
  static constexpr auto to_xml = K##_to_xml;         \
  static constexpr auto from_xml = K##_from_xml;     \
  static constexpr auto compare = K##_compare

// A kind whose samples are stored with K_set_value(kValues[i]).
#define VALUE_CASE(Case, K, Base, VT, ...)                                 \
  struct Case : Base {                                                     \
    KIND_OPS(K);                                                           \
    static constexpr VT kValues[] = {__VA_ARGS__};                         \
    static constexpr int kSamples = static_cast<int>(std::size(kValues));  \
    static void fill(mox_handle_t *h, Field *f, int i) {                   \
      uint32_t err = 0;                                                    \
      K##_set_value(h, MOX_NO_DB, f, kValues[i], &err);                    \
    }                                                                      \
  }
#define OBJECT(K, T) ObjectField<T, K##_initialize, K##_destroy_internal>

using Octets = uint8_t[6];
using Text = const char *;

VALUE_CASE(U8Case, u_int8, PlainField<uint8_t>, uint8_t, 0, 1, 0x7F, 0xFF);
VALUE_CASE(U16Case, u_int16, PlainField<uint16_t>, uint16_t, 0, 0x1234, 0xFFFF);
VALUE_CASE(U32Case, u_int32, PlainField<uint32_t>, uint32_t, 0, 0x12345678u, 0xFFFFFFFFu);
VALUE_CASE(U64Case, u_int64, PlainField<uint64_t>, uint64_t, 0, 0x0102030405060708ull, UINT64_MAX);
VALUE_CASE(I16Case, int16, PlainField<int16_t>, int16_t, INT16_MIN, -1, 0, INT16_MAX);
VALUE_CASE(BooleanCase, mox_boolean, OBJECT(mox_boolean, mox_boolean_t), uint32_t, 0, 1);
VALUE_CASE(MacCase, mox_mac_addr, OBJECT(mox_mac_addr, mox_mac_addr_t), Octets,
           {0, 0, 0, 0, 0, 0}, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {0xfe, 0, 0, 0, 0, 1},
           {0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
VALUE_CASE(IpCase, ip_address, OBJECT(ip_address, ip_address_t), Text, "", "10.0.0.1",
           "192.168.1.200", "::1", "fe80::1", "fe80::1%3");
// Every member of the two enumerations.
VALUE_CASE(ClientTypeCase, enm_client_type, OBJECT(enm_client_type, enm_client_type_t), uint32_t,
           0, 1, 2, 3);
VALUE_CASE(RadioBandCase, enm_radio_band_type,
           OBJECT(enm_radio_band_type, enm_radio_band_type_t), uint32_t, 0, 1, 2, 3);
static_assert(ENM_CLIENT_TYPE_COUNT == 4 && ENM_RADIO_BAND_COUNT == 4);

struct VstringCase : OBJECT(mox_vstring, mox_vstring_t) {
  KIND_OPS(mox_vstring);
  static std::string value(int i) {
    const char *const texts[] = {"", "A & B <c> \"d\" 'e'", "a", "a\tb\r\nc  "};
    return i < 4 ? texts[i] : std::string(300, 'z') + "\xc3\xa9";  // longer than any short buffer
  }
  static constexpr int kSamples = 5;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    mox_vstring_set_value(h, MOX_NO_DB, f, value(i).c_str(), &err);
  }
};

struct CalendarCase : OBJECT(calendar_time, calendar_time_t) {
  KIND_OPS(calendar_time);
  static constexpr int64_t kSec[] = {-5, 0, 0, 1700000000};
  static constexpr uint32_t kUsec[] = {999999, 0, 1, 123456};
  static constexpr int kSamples = 4;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    calendar_time_set_value(h, MOX_NO_DB, f, kSec[i], kUsec[i], &err);
  }
};

#undef KIND_OPS
#undef VALUE_CASE
#undef OBJECT

}  // namespace kinds_test
