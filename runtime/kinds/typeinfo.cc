// Type-info records of the runtime's object kinds.  Each has a fixed luid,
// module "mox_runtime", and one variant (0) whose used length is the
// object's size on a 32-bit target.  The statistics areas of the variant
// entries are maintained at run time, so the records are not const.
#include "internal.h"
#include "mox/kinds.h"

namespace {

constexpr uint8_t hex_digit(char c) {
  return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

template <size_t N>
constexpr void copy_text(char (&dst)[N], const char *src) {
  for (size_t i = 0; i + 1 < N && src[i]; ++i) dst[i] = src[i];
}

constexpr mox_type_info_t make_type_info(const char (&luid_hex)[33], const char *name,
                                         const char *kind, mox_variant_info_t *variants) {
  mox_type_info_t ti{};
  ti.magic = MOX_TYPE_INFO_MAGIC;
  for (size_t i = 0; i < sizeof ti.luid; ++i)
    ti.luid[i] = static_cast<uint8_t>(hex_digit(luid_hex[2 * i]) << 4 | hex_digit(luid_hex[2 * i + 1]));
  copy_text(ti.luid_text, luid_hex);
  copy_text(ti.name, name);
  copy_text(ti.module, "mox_runtime");
  copy_text(ti.kind, kind);
  ti.reserved0 = 0xFFFFFFFFu;
  ti.variant_info = variants;
  return ti;
}

}  // namespace

#define MOX_RUNTIME_TYPE_INFO(SYM, NAME, KIND, LUID, SIZE32)                 \
  static mox_variant_entry_t SYM##_entries[1] = {{0, SIZE32, 0, 0, {}}};     \
  static mox_variant_info_t SYM##_variants = {1, SYM##_entries};             \
  MOX_API constinit mox_type_info_t SYM = make_type_info(LUID, NAME, KIND, &SYM##_variants);

extern "C" {
MOX_RUNTIME_TYPE_INFO(_mox_mac_addr_type_info_internal, "mox_mac_addr", "type",
                      "0a69603f052581b6042e0b37b5a68634", 6)
MOX_RUNTIME_TYPE_INFO(_mox_vstring_type_info_internal, "mox_vstring", "type",
                      "5d3fc278610010cc5cb75bb38000dd45", 8)
MOX_RUNTIME_TYPE_INFO(_ip_address_type_info_internal, "ip_address", "type",
                      "e25ff398a00ce6a363a93db952edd974", 24)
MOX_RUNTIME_TYPE_INFO(_calendar_time_type_info_internal, "calendar_time", "type",
                      "81ceabd3ac6f63af16a94afc8c3605c7", 16)
MOX_RUNTIME_TYPE_INFO(_mox_boolean_type_info_internal, "mox_boolean", "type",
                      "e45f8fdfc9f3db97998d2743cf40ec18", 4)
MOX_RUNTIME_TYPE_INFO(_enm_client_type_type_info_internal, "enm_client_type", "enum",
                      "f801526740a7dc90fdb58fc88117121d", 12)
MOX_RUNTIME_TYPE_INFO(_enm_radio_band_type_type_info_internal, "enm_radio_band_type", "enum",
                      "ddd026d5f7783b9e3781971195172a76", 12)
}
