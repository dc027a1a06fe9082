// The four enumerations' exported operations, gathered so that one test body
// runs over all of them.
#pragma once

#include <cstdint>
#include <vector>

#include "orva_qos_data/orva_qos_data.h"

namespace orva_test {

struct EnumApi {
  const char *name;
  mox_type_info_t *ti;
  int latest;
  uint32_t members_v0;   // members of variant 0
  uint32_t members_all;  // members of every variant
  mox_enum_obj_t *(*create)(mox_handle_t *, uint32_t);
  uint32_t (*initialize)(mox_handle_t *, uint32_t, mox_enum_obj_t *, mox_type_info_t *, uint32_t,
                         uint32_t, uint32_t, uint8_t *, uint32_t *);
  void (*destroy)(mox_handle_t *, uint32_t, mox_enum_obj_t *);
  void (*destroy_internal)(mox_handle_t *, uint32_t, mox_enum_obj_t *, uint32_t);
  uint32_t (*get_value)(mox_handle_t *, uint32_t, const mox_enum_obj_t *, uint32_t *);
  uint32_t (*set_value)(mox_handle_t *, uint32_t, mox_enum_obj_t *, uint32_t, uint32_t *);
  int32_t (*compare)(const mox_enum_obj_t *, const mox_enum_obj_t *);
  uint32_t (*marshal)(mox_handle_t *, uint32_t, uint8_t *, const mox_enum_obj_t *, int32_t,
                      uint32_t *);
  uint32_t (*unmarshal)(mox_handle_t *, uint32_t, const uint8_t *, mox_enum_obj_t *, int32_t,
                        uint32_t, uint32_t *);
  uint32_t (*to_xml)(mox_handle_t *, uint32_t, const char *, char *, const mox_enum_obj_t *,
                     int32_t, uint32_t *);
  void (*from_xml)(mox_handle_t *, uint32_t, const char *, mox_xml_doc_t *, mox_enum_obj_t *,
                   uint32_t *, char *, uint32_t);
};

// The generated operations take their own object types; the test calls them
// through the common enumeration object layout they all share.
#define ORVA_ENUM_API(e, latest, v0, all)                                                   \
  EnumApi {                                                                                 \
    #e, &_##e##_type_info_internal, latest, v0, all,                                        \
        reinterpret_cast<decltype(EnumApi::create)>(e##_create),                            \
        reinterpret_cast<decltype(EnumApi::initialize)>(e##_initialize),                    \
        reinterpret_cast<decltype(EnumApi::destroy)>(e##_destroy),                          \
        reinterpret_cast<decltype(EnumApi::destroy_internal)>(e##_destroy_internal),        \
        reinterpret_cast<decltype(EnumApi::get_value)>(e##_get_value),                      \
        reinterpret_cast<decltype(EnumApi::set_value)>(e##_set_value),                      \
        reinterpret_cast<decltype(EnumApi::compare)>(e##_compare),                          \
        reinterpret_cast<decltype(EnumApi::marshal)>(e##_marshal),                          \
        reinterpret_cast<decltype(EnumApi::unmarshal)>(e##_unmarshal),                      \
        reinterpret_cast<decltype(EnumApi::to_xml)>(e##_to_xml),                            \
        reinterpret_cast<decltype(EnumApi::from_xml)>(e##_from_xml)                         \
  }

inline const std::vector<EnumApi> &all_enums() {
  static const std::vector<EnumApi> apis = {
      ORVA_ENUM_API(qos_pm_state, 1, 11, 12),
      ORVA_ENUM_API(qos_pm_type, 0, 6, 6),
      ORVA_ENUM_API(bssid_qos_pm_type, 0, 2, 2),
      ORVA_ENUM_API(qos_cac_state_type, 0, 2, 2),
  };
  return apis;
}

}  // namespace orva_test
