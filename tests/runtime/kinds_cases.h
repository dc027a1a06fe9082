// One description per primitive kind for the typed kind tests: its
// operations, how to prepare a field, and a few sample values in ascending
// order of the kind's comparison.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace kinds_test {

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

// Kinds without storage of their own need no preparation or release.
template <class T>
struct PlainField {
  using Field = T;
  static void init(mox_handle_t *, Field *f) { std::memset(static_cast<void *>(f), 0, sizeof *f); }
  static void done(mox_handle_t *, Field *) {}
};

// Object kinds: zeroed storage, then the kind's initializer.
#define OBJECT_FIELD(K, T)                                                      \
  using Field = T;                                                             \
  static void init(mox_handle_t *h, Field *f) {                                \
    std::memset(static_cast<void *>(f), 0, sizeof *f);                         \
    uint32_t err = 0;                                                          \
    K##_initialize(h, MOX_NO_DB, f, nullptr, 1, 0, MOX_FLAG_NESTED, nullptr, &err); \
  }                                                                            \
  static void done(mox_handle_t *h, Field *f) { K##_destroy_internal(h, MOX_NO_DB, f, 0); }

struct U8Case : PlainField<uint8_t> {
  KIND_OPS(u_int8);
  static constexpr uint8_t kValues[] = {0, 1, 0x7F, 0xFF};
  static constexpr int kSamples = 4;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    u_int8_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct U16Case : PlainField<uint16_t> {
  KIND_OPS(u_int16);
  static constexpr uint16_t kValues[] = {0, 0x1234, 0xFFFF};
  static constexpr int kSamples = 3;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    u_int16_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct U32Case : PlainField<uint32_t> {
  KIND_OPS(u_int32);
  static constexpr uint32_t kValues[] = {0, 0x12345678u, 0xFFFFFFFFu};
  static constexpr int kSamples = 3;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    u_int32_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct U64Case : PlainField<uint64_t> {
  KIND_OPS(u_int64);
  static constexpr uint64_t kValues[] = {0, 0x0102030405060708ull, UINT64_MAX};
  static constexpr int kSamples = 3;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    u_int64_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct I16Case : PlainField<int16_t> {
  KIND_OPS(int16);
  static constexpr int16_t kValues[] = {INT16_MIN, -1, 0, INT16_MAX};
  static constexpr int kSamples = 4;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    int16_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct BooleanCase {
  KIND_OPS(mox_boolean);
  OBJECT_FIELD(mox_boolean, mox_boolean_t)
  static constexpr int kSamples = 2;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    mox_boolean_set_value(h, MOX_NO_DB, f, static_cast<uint32_t>(i), &err);
  }
};

struct MacCase {
  KIND_OPS(mox_mac_addr);
  OBJECT_FIELD(mox_mac_addr, mox_mac_addr_t)
  static constexpr uint8_t kValues[][6] = {
      {0, 0, 0, 0, 0, 0}, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {0xfe, 0, 0, 0, 0, 1},
      {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
  static constexpr int kSamples = 4;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    mox_mac_addr_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct VstringCase {
  KIND_OPS(mox_vstring);
  OBJECT_FIELD(mox_vstring, mox_vstring_t)
  static std::string value(int i) {
    switch (i) {
      case 0: return "";
      case 1: return "A & B <c> \"d\" 'e'";
      case 2: return "a";
      case 3: return "a\tb\r\nc  ";
      default: return std::string(300, 'z') + "\xc3\xa9";  // longer than any short buffer
    }
  }
  static constexpr int kSamples = 5;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    mox_vstring_set_value(h, MOX_NO_DB, f, value(i).c_str(), &err);
  }
};

struct IpCase {
  KIND_OPS(ip_address);
  OBJECT_FIELD(ip_address, ip_address_t)
  static constexpr const char *kValues[] = {"",        "10.0.0.1", "192.168.1.200",
                                            "::1",     "fe80::1",  "fe80::1%3"};
  static constexpr int kSamples = 6;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    ip_address_set_value(h, MOX_NO_DB, f, kValues[i], &err);
  }
};

struct CalendarCase {
  KIND_OPS(calendar_time);
  OBJECT_FIELD(calendar_time, calendar_time_t)
  static constexpr int64_t kSec[] = {-5, 0, 0, 1700000000};
  static constexpr uint32_t kUsec[] = {999999, 0, 1, 123456};
  static constexpr int kSamples = 4;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    calendar_time_set_value(h, MOX_NO_DB, f, kSec[i], kUsec[i], &err);
  }
};

struct ClientTypeCase {
  KIND_OPS(enm_client_type);
  OBJECT_FIELD(enm_client_type, enm_client_type_t)
  static constexpr int kSamples = ENM_CLIENT_TYPE_COUNT;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    enm_client_type_set_value(h, MOX_NO_DB, f, static_cast<uint32_t>(i), &err);
  }
};

struct RadioBandCase {
  KIND_OPS(enm_radio_band_type);
  OBJECT_FIELD(enm_radio_band_type, enm_radio_band_type_t)
  static constexpr int kSamples = ENM_RADIO_BAND_COUNT;
  static void fill(mox_handle_t *h, Field *f, int i) {
    uint32_t err = 0;
    enm_radio_band_type_set_value(h, MOX_NO_DB, f, static_cast<uint32_t>(i), &err);
  }
};

#undef KIND_OPS
#undef OBJECT_FIELD

}  // namespace kinds_test
