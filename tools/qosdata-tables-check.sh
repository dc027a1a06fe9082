#!/bin/sh
# qosdata tables ($1) inserts its clients in scrambled MAC order and walks
# them in ascending MAC order: the insert order is not sorted, both walks are,
# the first holds all six clients and the second the four left after a delete
# and a collected destroy request.
out=$("$1" tables) || exit 1
macs() { printf '%s\n' "$out" | awk -v n="$1" '/^walk/ {w++} /^insert/ && n == 0 {print $2} w == n && /^  client / {print $2}'; }
fail() { printf '%s\n%s\n' "$1" "$out"; exit 1; }
macs 0 | LC_ALL=C sort -c 2>/dev/null && fail "the clients are inserted in sorted order"
for n in 1 2; do macs $n | LC_ALL=C sort -c || fail "walk $n is not in ascending MAC order"; done
[ "$(macs 1 | wc -l)" -eq 6 ] && [ "$(macs 2 | wc -l)" -eq 4 ] || fail "walks of 6 and 4 clients expected"
