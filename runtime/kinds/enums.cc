// The runtime's two enumerations, enm_client_type and enm_radio_band_type:
// enumeration objects (header plus a 32-bit value) driven by one member table
// each.  Wire form: the value, 4 bytes in network byte order, not range
// checked (a newer peer may know more members).  XML text: the member name,
// or the decimal value when it has none; printed text: the member name or
// "value out of range (N)".
#include <charconv>
#include <cstdio>

#include "kinds/kind_engine.h"

namespace mox_rt::kinds {
namespace {

struct EnumTable {
  const char *kind;
  const char *const *members;  // indexed by value
  uint32_t count;
  mox_type_info_t *type_info;
};

constexpr const char *kClientTypeMembers[] = {
    "ENM_CLIENT_TYPE_UNKNOWN", "ENM_CLIENT_TYPE_DATA", "ENM_CLIENT_TYPE_VOICE",
    "ENM_CLIENT_TYPE_VIDEO"};
constexpr const char *kRadioBandMembers[] = {
    "ENM_RADIO_BAND_UNKNOWN", "ENM_RADIO_BAND_2_4GHZ", "ENM_RADIO_BAND_5GHZ",
    "ENM_RADIO_BAND_6GHZ"};
static_assert(std::size(kClientTypeMembers) == ENM_CLIENT_TYPE_COUNT);
static_assert(std::size(kRadioBandMembers) == ENM_RADIO_BAND_COUNT);

constexpr EnumTable kClientType{"enm_client_type", kClientTypeMembers, ENM_CLIENT_TYPE_COUNT,
                                &_enm_client_type_type_info_internal};
constexpr EnumTable kRadioBand{"enm_radio_band_type", kRadioBandMembers, ENM_RADIO_BAND_COUNT,
                               &_enm_radio_band_type_type_info_internal};

template <const EnumTable &T>
struct EnumKind {
  using Field = enm_client_type_t;  // one layout for both enumerations
  using Plain = uint32_t;
  static constexpr bool kEnum = true;
  static constexpr const char *kName = T.kind;

  static mox_type_info_t *type_info() { return T.type_info; }
  static const char *member(uint32_t v) { return v < T.count ? T.members[v] : nullptr; }

  static Plain read(const Field &f) { return f.value; }
  // The value setter accepts members only.
  static uint32_t check(const Plain &v) { return member(v) ? 0 : kEINVAL; }
  static uint32_t store(mox_handle_t *h, uint32_t db, Field *f, const Plain &v) {
    mox_rt::store(h, db, &f->value, v);
    return 0;
  }
  static uint32_t wire_size(const Plain &) { return 4; }
  static void encode(const Plain &v, uint8_t *out) { put_be(out, v); }
  static uint32_t decode(const uint8_t *in, size_t len, Plain *v, size_t *used) {
    if (len < 4) return kEMSGSIZE;
    *v = get_be<uint32_t>(in);
    *used = 4;
    return 0;
  }
  static std::string_view text(const Plain &v, Scratch &s) {
    if (const char *name = member(v)) return name;
    const auto r = std::to_chars(s, s + sizeof s, v);
    return {s, static_cast<size_t>(r.ptr - s)};
  }
  static std::string_view print_text(const Plain &v, Scratch &s) {
    if (const char *name = member(v)) return name;
    const int n = std::snprintf(s, sizeof s, "value out of range (%u)", v);
    return {s, static_cast<size_t>(n)};
  }
  // A member name, or a decimal value.
  static bool parse(std::string_view s, Plain *v) {
    s = trim_blanks(s);
    for (uint32_t i = 0; i < T.count; ++i)
      if (s == T.members[i]) return *v = i, true;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
    return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
  }
  static int32_t compare(const Plain &a, const Plain &b) { return (a > b) - (a < b); }
};

using ClientTypeKind = EnumKind<kClientType>;
using RadioBandKind = EnumKind<kRadioBand>;

}  // namespace
}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

extern "C" {

MOX_KIND_DEFINE_SCALAR(enm_client_type, enm_client_type_t, uint32_t, ClientTypeKind)
MOX_KIND_DEFINE_OBJECT(enm_client_type, enm_client_type_t, ClientTypeKind)
MOX_KIND_DEFINE_SCALAR(enm_radio_band_type, enm_radio_band_type_t, uint32_t, RadioBandKind)
MOX_KIND_DEFINE_OBJECT(enm_radio_band_type, enm_radio_band_type_t, RadioBandKind)

MOX_API const char *enm_client_type_member_name(uint32_t value) {
  MOX_RT_ENTER();
  return ClientTypeKind::member(value);
}

MOX_API const char *enm_radio_band_type_member_name(uint32_t value) {
  MOX_RT_ENTER();
  return RadioBandKind::member(value);
}

}  // extern "C"
