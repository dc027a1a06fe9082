/* A plain C11 program against the public headers: create a handle, register
 * the module's types, and run one enumeration through its operations. */
#include <stdio.h>
#include <string.h>

#include "orva_qos_data/orva_qos_data.h"

int main(void) {
  mox_handle_t *h = mox_handle_create();
  uint32_t err = 0;
  orva_qos_data_typeinfo_initialize(h, MOX_NO_DB, &err);
  if (err != 0) return 1;

  qos_cac_state_type_t *state = qos_cac_state_type_create(h, MOX_NO_DB);
  if (state == NULL) return 2;
  qos_cac_state_type_set_value(h, MOX_NO_DB, state, BSSID_CAC_STATE_VALID, &err);

  uint8_t wire[8];
  uint32_t n = qos_cac_state_type_marshal(h, MOX_NO_DB, wire, state, (int32_t)sizeof wire, &err);
  char xml[128] = "";
  qos_cac_state_type_to_xml(h, MOX_NO_DB, "cac_state", xml, state, (int32_t)sizeof xml, &err);
  int ok = err == 0 && n == 5 && qos_cac_state_type_get_value(h, MOX_NO_DB, state, &err) == 1 &&
           strstr(xml, "<BSSID_CAC_STATE_VALID/>") != NULL;
  printf("%s %u bytes %s\n", ok ? "ok" : "FAILED", n, xml);
  qos_cac_state_type_destroy(h, MOX_NO_DB, state);
  mox_handle_destroy(h);
  return ok ? 0 : 3;
}
