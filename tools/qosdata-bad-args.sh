#!/bin/sh
# Runs qosdata with bad command lines: each must exit with status 1 and say
# why in exactly one line on stderr.
#   tools/qosdata-bad-args.sh path/to/qosdata
q="$1"
status=0
while read -r args; do
  # shellcheck disable=SC2086  # the arguments are split on purpose
  err=$("$q" $args 2>&1 >/dev/null)
  rc=$?
  lines=$(printf '%s\n' "$err" | grep -c .)
  if [ "$rc" -ne 1 ] || [ "$lines" -ne 1 ]; then
    echo "qosdata $args: exit $rc, $lines lines on stderr" >&2
    status=1
  fi
done <<'LIST'
bogus
enum qos_pm_state abc
enum qos_pm_state 12
enum qos_pm_state -1
enum no_such_enum 1
enum qos_pm_state
enum qos_pm_state 1 2
types extra
type
sample extra
LIST
exit "$status"
