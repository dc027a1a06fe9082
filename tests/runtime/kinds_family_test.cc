// The operation family that every primitive kind shares, run over every kind:
// wire round trips and truncation, announced stores, ordering and the
// error-slot rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/kinds.h"
#include "mox/runtime.h"
#include "mox/xml.h"

namespace {

using orva_test::ScopedHandle;

// One description per primitive kind: its operations, how to prepare a field,
// and a few sample values in ascending order of the kind's comparison.

// A field: zeroed storage, then for object kinds the kind's initializer;
// object kinds release what they own with the kind's destructor.
template <class T, auto initialize = nullptr, auto destroy = nullptr>
struct FieldOf {
  using Field = T;
  static void init(mox_handle_t *h, Field *f) {
    std::memset(static_cast<void *>(f), 0, sizeof *f);
    uint32_t err = 0;
    if constexpr (!std::is_null_pointer_v<decltype(initialize)>)
      initialize(h, MOX_NO_DB, f, nullptr, 1, 0, MOX_FLAG_NESTED, nullptr, &err);
  }
  static void done(mox_handle_t *h, Field *f) {
    if constexpr (!std::is_null_pointer_v<decltype(destroy)>) destroy(h, MOX_NO_DB, f, 0);
  }
};

#define KIND_OP(K, op) static constexpr auto op = K##_##op;
#define KIND_OPS(K)                                                                         \
  KIND_OP(K, get) KIND_OP(K, set) KIND_OP(K, len) KIND_OP(K, marshal) KIND_OP(K, unmarshal) \
  KIND_OP(K, print) KIND_OP(K, to_xml) KIND_OP(K, from_xml) KIND_OP(K, compare)             \
  static constexpr const char *kName = #K

// A kind whose samples are stored with K_set_value(kValues[i]) (a pair:
// both of its members as the value).
template <class V>
void set_sample(auto set_value, mox_handle_t *h, auto *f, const V &v) {
  uint32_t err = 0;
  if constexpr (requires { v.second; }) set_value(h, MOX_NO_DB, f, v.first, v.second, &err);
  else set_value(h, MOX_NO_DB, f, v, &err);
}
#define VALUE_CASE(Case, K, Base, VT, ...)                                                      \
  struct Case : Base {                                                                          \
    KIND_OPS(K);                                                                                \
    static inline const VT kValues[] = {__VA_ARGS__};                                           \
    static constexpr int kSamples = static_cast<int>(std::size(kValues));                       \
    static void fill(mox_handle_t *h, Field *f, int i) { set_sample<VT>(K##_set_value, h, f, kValues[i]); } \
  }
#define OBJECT(K, T) FieldOf<T, K##_initialize, K##_destroy_internal>

using Octets = uint8_t[6];
using Text = const char *;
const std::string kLongText = std::string(300, 'z') + "\xc3\xa9";  // longer than any short buffer

VALUE_CASE(U8Case, u_int8, FieldOf<uint8_t>, uint8_t, 0, 1, 0x7F, 0xFF);
VALUE_CASE(U16Case, u_int16, FieldOf<uint16_t>, uint16_t, 0, 0x1234, 0xFFFF);
VALUE_CASE(U32Case, u_int32, FieldOf<uint32_t>, uint32_t, 0, 0x12345678u, 0xFFFFFFFFu);
VALUE_CASE(U64Case, u_int64, FieldOf<uint64_t>, uint64_t, 0, 0x0102030405060708ull, UINT64_MAX);
VALUE_CASE(I16Case, int16, FieldOf<int16_t>, int16_t, INT16_MIN, -1, 0, INT16_MAX);
VALUE_CASE(BooleanCase, mox_boolean, OBJECT(mox_boolean, mox_boolean_t), uint32_t, 0, 1);
VALUE_CASE(MacCase, mox_mac_addr, OBJECT(mox_mac_addr, mox_mac_addr_t), Octets,
           {0, 0, 0, 0, 0, 0}, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {0xfe, 0, 0, 0, 0, 1},
           {0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
VALUE_CASE(IpCase, ip_address, OBJECT(ip_address, ip_address_t), Text, "", "10.0.0.1",
           "192.168.1.200", "::1", "fe80::1", "fe80::1%3");
VALUE_CASE(VstringCase, mox_vstring, OBJECT(mox_vstring, mox_vstring_t), Text, "", "A & B <c> \"d\" 'e'", "a",
           "a\tb\r\nc  ", kLongText.c_str());
using Time = std::pair<int64_t, uint32_t>;
VALUE_CASE(CalendarCase, calendar_time, OBJECT(calendar_time, calendar_time_t), Time, {-5, 999999}, {0, 0}, {0, 1},
           {1700000000, 123456});
// Every member of the two enumerations.
VALUE_CASE(ClientTypeCase, enm_client_type, OBJECT(enm_client_type, enm_client_type_t), uint32_t,
           0, 1, 2, 3);
VALUE_CASE(RadioBandCase, enm_radio_band_type,
           OBJECT(enm_radio_band_type, enm_radio_band_type_t), uint32_t, 0, 1, 2, 3);
static_assert(ENM_CLIENT_TYPE_COUNT == 4 && ENM_RADIO_BAND_COUNT == 4);

#undef KIND_OPS
#undef KIND_OP
#undef VALUE_CASE
#undef OBJECT

constexpr uint32_t kEMSGSIZE = 90;

// A field of the kind that releases what it owns when the test ends.
template <class C>
struct Held {
  Held(mox_handle_t *h, int sample) : h_(h) { C::init(h_, &f), C::fill(h_, &f, sample); }
  ~Held() { C::done(h_, &f); }
  Held(const Held &) = delete;
  typename C::Field f;
  mox_handle_t *h_;
};

template <class C>
std::vector<uint8_t> encode(mox_handle_t *h, const typename C::Field &f) {
  std::vector<uint8_t> out(C::len(h, MOX_NO_DB, &f));
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{C::marshal(h, MOX_NO_DB, out.data(), &f, int32_t(out.size()), &err), err}),
            (std::tuple{uint32_t(out.size()), 0u}));
  return out;
}

template <class C>
class KindFamily : public ::testing::Test {};

using AllKinds = ::testing::Types<U8Case, U16Case, U32Case, U64Case, I16Case, BooleanCase, MacCase,
                                  VstringCase, IpCase, CalendarCase, ClientTypeCase, RadioBandCase>;
struct KindName {
  template <class C>
  static std::string GetName(int) { return C::kName; }
};
TYPED_TEST_SUITE(KindFamily, AllKinds, KindName);

// Per sample: an exact wire round trip into a field holding another value;
// a short buffer or any truncated input is refused and changes nothing;
// compare orders the samples and puts null first.  (The XML forms and the
// bounded renderings of every kind: the record engines' round trips and
// every-cut tests.)
TYPED_TEST(KindFamily, RoundTripsRefusalsAndOrder) {
  using C = TypeParam;
  ScopedHandle h;
  EXPECT_EQ(C::compare(nullptr, nullptr), 0);
  for (int i = 0; i < C::kSamples; ++i) {
    SCOPED_TRACE(i);
    const int other = (i + 1) % C::kSamples;
    Held<C> src(h, i), before(h, other);
    EXPECT_EQ((std::tuple{C::compare(&src.f, &src.f), C::compare(&src.f, nullptr), C::compare(nullptr, &src.f)}),
              (std::tuple{0, 1, -1}));
    for (int j = i + 1; j < C::kSamples; ++j) {
      Held<C> b(h, j);
      EXPECT_EQ((std::tuple{C::compare(&src.f, &b.f) < 0, C::compare(&b.f, &src.f) > 0}), (std::tuple{true, true})) << j;
    }

    const std::vector<uint8_t> wire = encode<C>(h, src.f);
    ASSERT_FALSE(wire.empty());
    std::vector<uint8_t> shorter(wire.size() + 4, 0xAB);
    uint32_t err = 0;
    EXPECT_EQ((std::tuple{C::marshal(h, MOX_NO_DB, shorter.data(), &src.f, static_cast<int32_t>(wire.size() - 1), &err),
                          err, shorter}), (std::tuple{0u, kEMSGSIZE, std::vector<uint8_t>(wire.size() + 4, 0xAB)}));
    // Decoding replaces the old value; trailing bytes are left alone.
    Held<C> dst(h, other);
    std::vector<uint8_t> padded = wire;
    padded.push_back(0xEE);
    err = 0;
    EXPECT_EQ((std::tuple{C::unmarshal(h, MOX_NO_DB, padded.data(), &dst.f, static_cast<int32_t>(padded.size()), 0, &err),
                          err, C::compare(&src.f, &dst.f), encode<C>(h, dst.f)}),
              (std::tuple{uint32_t(wire.size()), 0u, 0, wire}));
    for (size_t cut = 0; cut < wire.size(); ++cut) {
      SCOPED_TRACE(cut);
      // Exactly cut bytes on the heap: a read past them is an ASan report.
      std::unique_ptr<uint8_t[]> in(new uint8_t[cut ? cut : 1]);
      std::memcpy(in.get(), wire.data(), cut);
      Held<C> field(h, other);
      err = 0;
      EXPECT_EQ((std::tuple{C::unmarshal(h, MOX_NO_DB, in.get(), &field.f, static_cast<int32_t>(cut), 0, &err), err,
                            C::compare(&field.f, &before.f)}), (std::tuple{0u, kEMSGSIZE, 0}))
          << "a refused input is reported and changes nothing";
    }
  }
  EXPECT_EQ(h.live_bytes(), 0u);
}

// Every store of set, unmarshal and set_value is announced first.  A null
// field is refused; with an error already in the slot nothing happens and
// nothing is written.
TYPED_TEST(KindFamily, StoresAnnouncedAndErrorSlotRules) {
  using C = TypeParam;
  ScopedHandle h;
  Held<C> src(h, C::kSamples - 1), field(h, 0), before(h, 0);
  const std::vector<uint8_t> wire = encode<C>(h, src.f);
  uint32_t err = 0;
  const std::function<void()> stores[] = {
      [&] { C::set(h, MOX_NO_DB, &field.f, &src.f, &err); },
      [&] { C::unmarshal(h, MOX_NO_DB, wire.data(), &field.f, int32_t(wire.size()), 0, &err); },
      [&] { C::fill(h, &field.f, C::kSamples - 1); }};
  for (const auto &store : stores) {
    C::fill(h, &field.f, 0);
    EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&field.f, sizeof field.f, "field"}}, store));
    EXPECT_EQ((std::tuple{err, C::compare(&field.f, &src.f)}), (std::tuple{0u, 0}));
  }
  C::fill(h, &field.f, 0);

  std::vector<uint8_t> out(64, 0xCD);
  std::vector<char> text(64, '#');
  mox_xml_doc_t *doc = nullptr;
  const std::string xml = "<r><v>1</v></r>";
  ASSERT_EQ(mox_xml_doc_parse(xml.data(), xml.size(), &doc, nullptr, 0), 0u);
  char msg[8] = "keep";
  EXPECT_EQ((std::tuple{C::get(h, MOX_NO_DB, nullptr, &err) == nullptr, err, h->last_error}), (std::tuple{true, 22u, 22u}));

  h->last_error = 0;
  err = 7;
  EXPECT_EQ((std::tuple{C::get(h, MOX_NO_DB, &field.f, &err) == nullptr, C::set(h, MOX_NO_DB, &field.f, &src.f, &err),
                        C::marshal(h, MOX_NO_DB, out.data(), &src.f, 64, &err),
                        C::unmarshal(h, MOX_NO_DB, wire.data(), &field.f, static_cast<int32_t>(wire.size()), 0, &err),
                        C::print(h, MOX_NO_DB, text.data(), 2, "l", &src.f, 64, &err),
                        C::to_xml(h, MOX_NO_DB, "v", text.data(), &src.f, 64, 0, &err)}),
            (std::tuple{true, 7u, 0u, 0u, 0u, 0u}));
  C::from_xml(h, MOX_NO_DB, "/r/v", doc, &field.f, &err, msg, sizeof msg);
  EXPECT_EQ((std::tuple{err, h->last_error, C::compare(&field.f, &before.f), out, text, std::string(msg)}),
            (std::tuple{7u, 0u, 0, std::vector<uint8_t>(64, 0xCD), std::vector<char>(64, '#'), "keep"}));
  // An absent element is ENOENT; no room at all is EMSGSIZE; neither writes.
  C::from_xml(h, MOX_NO_DB, "/r/missing", doc, &field.f, &(err = 0), msg, sizeof msg);
  const uint32_t absent = std::exchange(err, 0u);
  EXPECT_EQ((std::tuple{absent, C::print(h, MOX_NO_DB, text.data(), 2, "l", &src.f, 0, &err), std::exchange(err, 0u),
                        C::to_xml(h, MOX_NO_DB, "v", text.data(), &src.f, 0, 0, &err), err, C::compare(&field.f, &before.f)}),
            (std::tuple{2u, 0u, kEMSGSIZE, 0u, kEMSGSIZE, 0}));
  mox_xml_doc_free(doc);
}

}  // namespace
