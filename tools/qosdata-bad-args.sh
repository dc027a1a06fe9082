#!/bin/sh
# Runs qosdata (path in $1) with bad command lines and bad input: each must
# exit with status 1 and say why in exactly one line on stderr.  The input
# files are cut, padded or damaged copies of the sample record's wire form.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/qosdata-fails.sh"
w=$tmp/sample.wire
"$1" sample --wire "$w" || exit 1
: >"$tmp/empty"
head -c 200 "$w" >"$tmp/short"
{ cat "$w"; printf 'x'; } >"$tmp/long"
{ head -c 6 "$w"; head -c 300 /dev/zero | tr '\0' '\377'; } >"$tmp/corrupt"
status=0
for args in bogus "enum qos_pm_state abc" "enum qos_pm_state 12" "enum qos_pm_state -1" \
    "enum no_such_enum 1" "enum qos_pm_state" "enum qos_pm_state 1 2" "types extra" type \
    "sample extra" "sample --wire" "sample --wire $tmp/a $tmp/b" "sample --wire $tmp/no/such" \
    "print qos_client_data_t" "print no_such_t $w" "print qos_client_data_t $w extra" \
    "print qos_client_data_t $tmp/missing" "print qos_client_data_t $tmp/empty" \
    "print qos_client_data_t $tmp/short" "print qos_client_data_t $tmp/long" \
    "print qos_client_data_t $tmp/corrupt" "xml no_such_t $w" "xml qos_client_data_t $tmp/short"; do
  fails_cleanly "$1" $args
done
exit "$status"
