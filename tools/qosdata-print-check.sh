#!/bin/sh
# The sample record's wire form, decoded by qosdata ($1) from a file and from
# standard input, prints as the golden text $2.txt and renders as the golden
# XML $2.xml.  ORVA_UPDATE_GOLDEN=1 in the environment rewrites the golden
# files first:
#   ORVA_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
w=$(mktemp) || exit 1
trap 'rm -f "$w"' EXIT
"$1" sample --wire "$w" || exit 1
for form in print:txt xml:xml; do
  cmd=${form%%:*} golden="$2.${form#*:}"
  [ "${ORVA_UPDATE_GOLDEN:-}" != 1 ] || "$1" "$cmd" qos_client_data_t "$w" >"$golden" || exit 1
  "$1" "$cmd" qos_client_data_t "$w" | diff -u "$golden" - &&
    "$1" sample --wire - | "$1" "$cmd" qos_client_data_t - | diff -u "$golden" - || exit 1
done
