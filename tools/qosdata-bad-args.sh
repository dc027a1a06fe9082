#!/bin/sh
# Runs qosdata (path in $1) with bad command lines: each must exit with
# status 1 and say why in exactly one line on stderr.
status=0
for args in bogus "enum qos_pm_state abc" "enum qos_pm_state 12" "enum qos_pm_state -1" \
    "enum no_such_enum 1" "enum qos_pm_state" "enum qos_pm_state 1 2" "types extra" type \
    "sample extra"; do
  err=$("$1" $args 2>&1 >/dev/null)
  rc=$?
  if [ "$rc" -ne 1 ] || [ "$(printf '%s\n' "$err" | grep -c .)" -ne 1 ]; then
    echo "qosdata $args: exit $rc, stderr: $err" >&2
    status=1
  fi
done
exit "$status"
