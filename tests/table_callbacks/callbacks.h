// The seven record callbacks of every table, as pointers, for the two
// callback test binaries (one defines some handlers, the other none).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orva_qos_data/orva_qos_data_decls.h"

namespace orva_test {

#define ORVA_TEST_TABLES(X)                                                               \
  X(tbl_qos_ap_data) X(tbl_qos_bssid_data) X(tbl_qos_ap_radio_data) X(tbl_qos_wlan_data) \
  X(tbl_qos_client_data) X(tbl_qos_stby_client_policy_data) X(tbl_qos_pm_refcount_data)   \
  X(tbl_qos_global_statistics) X(tbl_qos_policy_map_content)

struct TableCallbacks {
  std::string table;
  decltype(&tbl_qos_client_data_table_record_create_cb) create, modify, del;
  decltype(&tbl_qos_client_data_table_record_create_dm_cb) create_dm, delete_dm;
  decltype(&tbl_qos_client_data_table_record_grouping_cb) grouping;
  decltype(&tbl_qos_client_data_table_record_free_cb) free;
};

inline std::vector<TableCallbacks> AllTableCallbacks() {
#define ORVA_TEST_CALLBACKS(t)                                                              \
  {#t, &t##_table_record_create_cb, &t##_table_record_modify_cb, &t##_table_record_delete_cb, \
   &t##_table_record_create_dm_cb, &t##_table_record_delete_dm_cb,                            \
   &t##_table_record_grouping_cb, &t##_table_record_free_cb},
  return {ORVA_TEST_TABLES(ORVA_TEST_CALLBACKS)};
#undef ORVA_TEST_CALLBACKS
}

// Each callback called with fixed arguments and error slot err; the events
// in callback order.
struct Event {
  const char *name;  // as the default message writes it
  uint32_t level;
};
inline const Event kEvents[] = {{"create", 0x6000000}, {"modify", 0x6000000}, {"delete", 0x6000000},
                                {"create DM", 0x6000000}, {"delete DM", 0x6000000},
                                {"grouping", 0x8000000}, {"free", 0x6000000}};

inline uint32_t Call(const TableCallbacks &c, size_t event, mox_handle_t *h, uint32_t db, void *a,
                     void *b, uint32_t *err) {
  switch (event) {
    case 0: return c.create(h, db, a, b, err);
    case 1: return c.modify(h, db, a, b, err);
    case 2: return c.del(h, db, a, b, err);
    case 3: return c.create_dm(h, db, b, err);
    case 4: return c.delete_dm(h, db, b, err);
    case 5: return c.grouping(h, db, a, err, 11, 12, 13, 14);
    default: return c.free(h, db, a, b, err, 15);
  }
}

inline std::string DefaultMessage(const std::string &table, const Event &e) {
  return "default orva_qos_data_" + table + "_record " + e.name + " handler called";
}

}  // namespace orva_test
