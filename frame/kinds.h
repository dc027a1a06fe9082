// The runtime's primitive kinds behind one table, so that the engines switch
// on a field's Kind once and call the same operation for every type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

struct KindOps {
  void *(*get)(mox_handle_t *h, uint32_t db, void *field, uint32_t *err);
  uint32_t (*set)(mox_handle_t *h, uint32_t db, void *field, const void *src, uint32_t *err);
  // Scalar kinds only (null otherwise): values travel as 64-bit words.
  uint64_t (*get_value)(mox_handle_t *h, uint32_t db, const void *field, uint32_t *err);
  uint32_t (*set_value)(mox_handle_t *h, uint32_t db, void *field, uint64_t value, uint32_t *err);
  uint32_t (*len)(mox_handle_t *h, uint32_t db, const void *field);
  uint32_t (*marshal)(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *field, int32_t buflen,
                      uint32_t *err);
  uint32_t (*unmarshal)(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *field, int32_t len,
                        uint32_t flag, uint32_t *err);
  uint32_t (*print)(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent, const char *label,
                    const void *field, int32_t room, uint32_t *err);
  uint32_t (*to_xml)(mox_handle_t *h, uint32_t db, const char *name, char *buf, const void *field,
                     int32_t buflen, uint32_t state_flag, uint32_t *err);
  void (*from_xml)(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, void *field,
                   uint32_t *err, char *msg, uint32_t msglen);
  int32_t (*compare)(const void *a, const void *b);
  // Object kinds only (null otherwise).
  uint32_t (*initialize)(mox_handle_t *h, uint32_t db, void *obj, mox_type_info_t *ti,
                         uint32_t notify, uint32_t skip_stats, uint32_t flags, uint8_t *base,
                         uint32_t *err);
  void (*set_instance_embedded)(mox_handle_t *h, uint32_t db, void *obj);
  // Released on destroy (MAC address, string, IP address, time); null otherwise.
  void (*decr_object_reference)(mox_handle_t *h, uint32_t db, void *obj, uint32_t *err);
  void (*destroy_internal)(mox_handle_t *h, uint32_t db, void *obj, uint32_t free_storage);
  mox_type_info_t *ti;  // the runtime's type-info record of an object kind
  bool scalar;          // has get_value/set_value
};

// The operations of a primitive kind (every Kind but Enum and Record).
const KindOps &kind_ops(Kind k);

// The same kinds resolved at compile time, for the engines instantiated per
// type: Prim<K>::marshal is the runtime's own function (u_int32_marshal ...),
// called directly, and wire is the size of its encoding when that size is
// fixed (0 for strings and IP addresses, whose size depends on the value).
// PrimObj<K> holds the lifecycle functions of the object kinds: every one is
// initialized, and those that own something (released) have their reference
// dropped and their content destroyed.
template <Kind K>
struct Prim;
template <Kind K>
struct PrimObj;
#define ORVA_PRIM(K, P, CT, WIRE)                 \
  template <>                                     \
  struct Prim<Kind::K> {                          \
    using C = CT;                                 \
    static constexpr auto print = P##_print;      \
    static constexpr uint32_t wire = WIRE;        \
    static constexpr auto len = P##_len;          \
    static constexpr auto marshal = P##_marshal;  \
    static constexpr auto unmarshal = P##_unmarshal; \
    static constexpr auto compare = P##_compare;  \
  };
#define ORVA_PRIM_OBJECT(K, P, CT, WIRE, RELEASED)                           \
  ORVA_PRIM(K, P, CT, WIRE)                                                  \
  template <>                                                                \
  struct PrimObj<Kind::K> {                                                  \
    static constexpr bool released = RELEASED;                               \
    static constexpr auto initialize = P##_initialize;                       \
    static constexpr auto decr_object_reference = P##_decr_object_reference; \
    static constexpr auto destroy_internal = P##_destroy_internal;           \
    static mox_type_info_t *ti() { return &_##P##_type_info_internal; }      \
  };
ORVA_PRIM(U8, u_int8, uint8_t, 1)
ORVA_PRIM(U16, u_int16, uint16_t, 2)
ORVA_PRIM(U32, u_int32, uint32_t, 4)
ORVA_PRIM(U64, u_int64, uint64_t, 8)
ORVA_PRIM(I16, int16, int16_t, 2)
ORVA_PRIM_OBJECT(Boolean, mox_boolean, mox_boolean_t, 1, false)
ORVA_PRIM_OBJECT(MacAddr, mox_mac_addr, mox_mac_addr_t, 6, true)
ORVA_PRIM_OBJECT(VString, mox_vstring, mox_vstring_t, 0, true)
ORVA_PRIM_OBJECT(IpAddress, ip_address, ip_address_t, 0, true)
ORVA_PRIM_OBJECT(CalendarTime, calendar_time, calendar_time_t, 12, true)
ORVA_PRIM_OBJECT(EnmClientType, enm_client_type, enm_client_type_t, 4, false)
ORVA_PRIM_OBJECT(EnmRadioBand, enm_radio_band_type, enm_radio_band_type_t, 4, false)
#undef ORVA_PRIM_OBJECT
#undef ORVA_PRIM

// Fixed arrays of the integer kinds travel through one runtime call each
// way (the same bytes and announcements as one call per element).
template <Kind K>
struct PrimArray {
  static constexpr bool bulk = false;
};
#define ORVA_PRIM_ARRAY(K, P)                              \
  template <>                                              \
  struct PrimArray<Kind::K> {                              \
    static constexpr bool bulk = true;                     \
    static constexpr auto marshal = P##_array_marshal;     \
    static constexpr auto unmarshal = P##_array_unmarshal; \
  };
ORVA_PRIM_ARRAY(U8, u_int8)
ORVA_PRIM_ARRAY(U16, u_int16)
ORVA_PRIM_ARRAY(U32, u_int32)
ORVA_PRIM_ARRAY(U64, u_int64)
ORVA_PRIM_ARRAY(I16, int16)
#undef ORVA_PRIM_ARRAY

// The fixed wire size of a primitive kind, 0 when it varies (see Prim).
constexpr uint32_t prim_wire(Kind k) {
  return [k]<size_t... K>(std::index_sequence<K...>) {
    uint32_t n = 0;
    ((k == Kind(K) ? n = Prim<Kind(K)>::wire : 0), ...);
    return n;
  }(std::make_index_sequence<size_t(Kind::EnmRadioBand) + 1>{});
}

}  // namespace orva
