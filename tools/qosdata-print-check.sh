#!/bin/sh
# The sample record's wire form, decoded by qosdata ($1) from a file and from
# standard input, prints as the golden text $2.  ORVA_UPDATE_GOLDEN=1 in the
# environment rewrites the golden file first:
#   ORVA_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
w=$(mktemp) || exit 1
trap 'rm -f "$w"' EXIT
"$1" sample --wire "$w" || exit 1
[ "${ORVA_UPDATE_GOLDEN:-}" != 1 ] || "$1" print qos_client_data_t "$w" >"$2" || exit 1
"$1" print qos_client_data_t "$w" | diff -u "$2" - &&
  "$1" sample --wire - | "$1" print qos_client_data_t - | diff -u "$2" -
