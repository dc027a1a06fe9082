// The primitive kinds' table: typed thunks over the runtime's operations.
#include "frame/kinds.h"

#include <iterator>
#include <type_traits>

namespace orva {

namespace {

// Thunks cast the generic field pointer back to the kind's C type, so every
// runtime operation is called through its own, correct signature.
template <class CT, class VT, auto Get, auto Set, auto GetValue, auto SetValue, auto Len,
          auto Marshal, auto Unmarshal, auto Print, auto ToXml, auto FromXml, auto Compare>
struct Thunks {
  static void *get(mox_handle_t *h, uint32_t db, void *f, uint32_t *err) {
    return Get(h, db, static_cast<CT *>(f), err);
  }
  static uint32_t set(mox_handle_t *h, uint32_t db, void *f, const void *src, uint32_t *err) {
    return Set(h, db, static_cast<CT *>(f), static_cast<const CT *>(src), err);
  }
  static uint64_t get_value(mox_handle_t *h, uint32_t db, const void *f, uint32_t *err) {
    if constexpr (std::is_same_v<decltype(GetValue), std::nullptr_t>) {
      return 0;
    } else {
      return static_cast<uint64_t>(GetValue(h, db, static_cast<const CT *>(f), err));
    }
  }
  static uint32_t set_value(mox_handle_t *h, uint32_t db, void *f, uint64_t v, uint32_t *err) {
    if constexpr (std::is_same_v<decltype(SetValue), std::nullptr_t>) {
      return 0;
    } else {
      return SetValue(h, db, static_cast<CT *>(f), static_cast<VT>(v), err);
    }
  }
  static uint32_t len(mox_handle_t *h, uint32_t db, const void *f) {
    return Len(h, db, static_cast<const CT *>(f));
  }
  static uint32_t marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *f, int32_t n,
                          uint32_t *err) {
    return Marshal(h, db, buf, static_cast<const CT *>(f), n, err);
  }
  static uint32_t unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *f, int32_t n,
                            uint32_t flag, uint32_t *err) {
    return Unmarshal(h, db, buf, static_cast<CT *>(f), n, flag, err);
  }
  static uint32_t print(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent, const char *label,
                        const void *f, int32_t room, uint32_t *err) {
    return Print(h, db, buf, indent, label, static_cast<const CT *>(f), room, err);
  }
  static uint32_t to_xml(mox_handle_t *h, uint32_t db, const char *name, char *buf, const void *f,
                         int32_t n, uint32_t state, uint32_t *err) {
    return ToXml(h, db, name, buf, static_cast<const CT *>(f), n, state, err);
  }
  static void from_xml(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, void *f,
                       uint32_t *err, char *msg, uint32_t msglen) {
    FromXml(h, db, path, doc, static_cast<CT *>(f), err, msg, msglen);
  }
  static int32_t compare(const void *a, const void *b) {
    return Compare(static_cast<const CT *>(a), static_cast<const CT *>(b));
  }
};

template <class CT, auto Init, auto Embed, auto Decr, auto Destroy>
struct ObjectThunks {
  static uint32_t initialize(mox_handle_t *h, uint32_t db, void *o, mox_type_info_t *ti, uint32_t n,
                             uint32_t s, uint32_t f, uint8_t *base, uint32_t *err) {
    return Init(h, db, static_cast<CT *>(o), ti, n, s, f, base, err);
  }
  static void set_instance_embedded(mox_handle_t *h, uint32_t db, void *o) {
    Embed(h, db, static_cast<CT *>(o));
  }
  static void decr_object_reference(mox_handle_t *h, uint32_t db, void *o, uint32_t *err) {
    Decr(h, db, static_cast<CT *>(o), err);
  }
  static void destroy_internal(mox_handle_t *h, uint32_t db, void *o, uint32_t free_storage) {
    Destroy(h, db, static_cast<CT *>(o), free_storage);
  }
};

#define ORVA_THUNKS(K, CT, VT, GV, SV)                                                       \
  Thunks<CT, VT, K##_get, K##_set, GV, SV, K##_len, K##_marshal, K##_unmarshal, K##_print,  \
         K##_to_xml, K##_from_xml, K##_compare>
#define ORVA_SCALAR(K, CT, VT) ORVA_THUNKS(K, CT, VT, K##_get_value, K##_set_value)
#define ORVA_OBJECT(K, CT)                                                                   \
  ObjectThunks<CT, K##_initialize, K##_set_instance_embedded, K##_decr_object_reference,   \
               K##_destroy_internal>

template <class T>
constexpr KindOps plain(bool scalar) {
  return {T::get, T::set, scalar ? T::get_value : nullptr, scalar ? T::set_value : nullptr,
          T::len, T::marshal, T::unmarshal, T::print, T::to_xml, T::from_xml, T::compare,
          nullptr, nullptr, nullptr, nullptr, nullptr, scalar};
}

template <class T, class O>
KindOps object(bool scalar, bool released, mox_type_info_t *ti) {
  KindOps ops = plain<T>(scalar);
  ops.initialize = O::initialize;
  ops.set_instance_embedded = O::set_instance_embedded;
  if (released) {
    ops.decr_object_reference = O::decr_object_reference;
    ops.destroy_internal = O::destroy_internal;
  }
  ops.ti = ti;
  return ops;
}

using U8 = ORVA_SCALAR(u_int8, uint8_t, uint8_t);
using U16 = ORVA_SCALAR(u_int16, uint16_t, uint16_t);
using U32 = ORVA_SCALAR(u_int32, uint32_t, uint32_t);
using U64 = ORVA_SCALAR(u_int64, uint64_t, uint64_t);
using I16 = ORVA_SCALAR(int16, int16_t, int16_t);
using Bool = ORVA_SCALAR(mox_boolean, mox_boolean_t, uint32_t);
using Client = ORVA_SCALAR(enm_client_type, enm_client_type_t, uint32_t);
using Band = ORVA_SCALAR(enm_radio_band_type, enm_radio_band_type_t, uint32_t);
using Mac = ORVA_THUNKS(mox_mac_addr, mox_mac_addr_t, uint32_t, nullptr, nullptr);
using Str = ORVA_THUNKS(mox_vstring, mox_vstring_t, uint32_t, nullptr, nullptr);
using Ip = ORVA_THUNKS(ip_address, ip_address_t, uint32_t, nullptr, nullptr);
using Time = ORVA_THUNKS(calendar_time, calendar_time_t, uint32_t, nullptr, nullptr);

}  // namespace

const KindOps &kind_ops(Kind k) {
  static const KindOps table[] = {
      plain<U8>(true),
      plain<U16>(true),
      plain<U32>(true),
      plain<U64>(true),
      plain<I16>(true),
      object<Bool, ORVA_OBJECT(mox_boolean, mox_boolean_t)>(true, false,
                                                             &_mox_boolean_type_info_internal),
      object<Mac, ORVA_OBJECT(mox_mac_addr, mox_mac_addr_t)>(false, true,
                                                             &_mox_mac_addr_type_info_internal),
      object<Str, ORVA_OBJECT(mox_vstring, mox_vstring_t)>(false, true,
                                                           &_mox_vstring_type_info_internal),
      object<Ip, ORVA_OBJECT(ip_address, ip_address_t)>(false, true, &_ip_address_type_info_internal),
      object<Time, ORVA_OBJECT(calendar_time, calendar_time_t)>(false, true,
                                                                &_calendar_time_type_info_internal),
      object<Client, ORVA_OBJECT(enm_client_type, enm_client_type_t)>(
          true, false, &_enm_client_type_type_info_internal),
      object<Band, ORVA_OBJECT(enm_radio_band_type, enm_radio_band_type_t)>(
          true, false, &_enm_radio_band_type_type_info_internal),
  };
  static_assert(std::size(table) == size_t(Kind::EnmRadioBand) + 1);
  return table[static_cast<size_t>(k)];
}

}  // namespace orva
