/* A first program against the installed orva_qos_data: one client record
 * built, encoded, decoded into a fresh record and read back, once with state
 * tracking on and once with it off. */
#include <stdio.h>
#include <string.h>

#include <orva_qos_data/orva_qos_data.h>

static int round_trip(mox_handle_t *h, uint32_t sttr_mode) {
  const uint32_t db = MOX_NO_DB; /* private memory, no database */
  uint32_t err = 0;              /* error slot: stays 0 while all goes well */
  const uint8_t mac[6] = {0x00, 0x1b, 0x54, 0x0a, 0x3c, 0x7e};
  uint8_t wire[2048];

  mox_handle_set_sttr_mode(h, sttr_mode);
  qos_client_data_t *rec = qos_client_data_t_create(h, db);
  qos_client_data_t *copy = qos_client_data_t_create(h, db);
  if (rec == NULL || copy == NULL) return 1;

  /* A number: one call, which also marks the field's state byte. */
  qos_client_data_t_bandwidth_alloc_set_value(h, db, rec, 1800, &err);
  /* A MAC address and a string: get the field, then the runtime's setter. */
  mox_mac_addr_set_value(h, db, qos_client_data_t_client_mac_get(h, db, rec, &err), mac, &err);
  mox_vstring_set_value(h, db, qos_client_data_t_bw_alloc_ap_name_get(h, db, rec, &err), "ap-floor3", &err);
  if (sttr_mode == MOX_STTR_ON) { /* the runtime's setters leave the state bytes alone */
    qos_client_data_t_client_mac_state_flag_set(h, db, rec, 2, &err);
    qos_client_data_t_bw_alloc_ap_name_state_flag_set(h, db, rec, 2, &err);
  }

  uint32_t n = qos_client_data_t_marshal(h, db, wire, rec, (int32_t)sizeof wire, &err);
  qos_client_data_t_unmarshal(h, db, wire, copy, (int32_t)n, 0, &err);

  const mox_mac_addr_t *m = qos_client_data_t_client_mac_get(h, db, copy, &err);
  const mox_vstring_t *name = qos_client_data_t_bw_alloc_ap_name_get(h, db, copy, &err);
  const uint32_t *bw = qos_client_data_t_bandwidth_alloc_get(h, db, copy, &err);
  int ok = err == 0 && m != NULL && memcmp(m->octet, mac, 6) == 0 && name != NULL && name->str != NULL &&
           strcmp(name->str, "ap-floor3") == 0 && bw != NULL && *bw == 1800 &&
           qos_client_data_t_compare(rec, copy) == 0;
  if (sttr_mode == MOX_STTR_ON)
    ok = ok && qos_client_data_t_client_mac_state_flag_get(h, db, copy, &err) == 2;
  printf("tracking %s: %u wire bytes, %02x:..:%02x, \"%s\", %u: %s (error %u)\n",
         sttr_mode == MOX_STTR_ON ? "on" : "off", n, m ? m->octet[0] : 0, m ? m->octet[5] : 0,
         name && name->str ? name->str : "", bw ? *bw : 0, ok ? "ok" : "FAILED", err);

  qos_client_data_t_destroy(h, db, copy);
  qos_client_data_t_destroy(h, db, rec);
  return ok ? 0 : 1;
}

int main(void) {
  mox_handle_t *h = mox_handle_create();
  uint32_t err = 0;
  orva_qos_data_typeinfo_initialize(h, MOX_NO_DB, &err); /* register the module's types */
  int rc = err != 0 || round_trip(h, MOX_STTR_ON) != 0 || round_trip(h, MOX_STTR_OFF) != 0;
  mox_handle_destroy(h);
  return rc;
}
