# Sourced by the qosdata checks: fails_cleanly QOSDATA ARGS... runs qosdata
# with ARGS and sets status=1 (with a line on stderr) unless it exits with
# status 1 and says why in exactly one line on stderr.
fails_cleanly() {
  q=$1
  shift
  err=$("$q" "$@" 2>&1 >/dev/null)
  rc=$?
  if [ "$rc" -ne 1 ] || [ "$(printf '%s\n' "$err" | grep -c .)" -ne 1 ]; then
    echo "qosdata $*: exit $rc, stderr: $err" >&2
    status=1
  fi
}
