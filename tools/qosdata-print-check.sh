#!/bin/sh
# Writes the sample record's wire form with qosdata (path in $1), decodes and
# prints it from a file and from standard input, and compares both texts with
# the golden file $2.  ORVA_UPDATE_GOLDEN=1 in the environment rewrites the
# golden file instead:
#
#   ORVA_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
"$1" sample --wire "$tmp/sample.wire" || exit 1
"$1" print qos_client_data_t "$tmp/sample.wire" >"$tmp/file.txt" || exit 1
"$1" sample --wire - | "$1" print qos_client_data_t - >"$tmp/stdin.txt" || exit 1
if [ "${ORVA_UPDATE_GOLDEN:-}" = 1 ]; then
  cp "$tmp/file.txt" "$2" || exit 1
fi
status=0
for out in file stdin; do
  diff -u "$2" "$tmp/$out.txt" || status=1
done
exit "$status"
