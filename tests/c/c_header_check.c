/* Compiled as C11: the public headers must be usable from plain C. */
#include <stdio.h>

#include "orva_qos_data/orva_qos_data.h"

int main(void) {
  printf("ok\n");
  return 0;
}
