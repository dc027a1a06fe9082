#!/bin/sh
# Message frames through qosdata (path in $1), the XML document in $2:
# encode then decode --xml gives the document back (text and XML forms, and
# a document without a payload element builds); three frames back to
# back decode as three; a cut frame and an unknown identifier exit 1 naming
# the frame's offset.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
q=$1
"$q" encode -o "$tmp/m.bin" "$2" || exit 1
"$q" decode --xml "$tmp/m.bin" >"$tmp/back.xml" || exit 1
cmp -s "$2" "$tmp/back.xml" || { echo "decode --xml differs from the encoded document"; exit 1; }
"$q" encode - <"$2" | cmp -s - "$tmp/m.bin" || { echo "encode from stdin differs"; exit 1; }
"$q" decode "$tmp/m.bin" | tail -n 1 | grep -qx '}' || { echo "text form not closed"; exit 1; }
echo '<qos_client_data/>' | "$q" encode - >/dev/null || { echo "a document without payload element is refused"; exit 1; }
cat "$tmp/m.bin" "$tmp/m.bin" "$tmp/m.bin" >"$tmp/three.bin"
[ "$("$q" decode "$tmp/three.bin" | grep -c '^message@qos_client_data: {')" = 3 ] || { echo "not 3 frames"; exit 1; }
size=$(wc -c <"$tmp/m.bin")
{ cat "$tmp/m.bin"; head -c $((size - 1)) "$tmp/m.bin"; } >"$tmp/cut.bin"
{ cat "$tmp/m.bin"; head -c 27 "$tmp/m.bin"; head -c 40 /dev/zero; } >"$tmp/unknown.bin"
for f in cut unknown; do
  "$q" decode "$tmp/$f.bin" >/dev/null 2>"$tmp/err"
  rc=$?
  [ $rc = 1 ] && grep -q "frame at offset $size: " "$tmp/err" || { echo "$f: status $rc, $(cat "$tmp/err")"; exit 1; }
done
grep -q "unknown identifier 00000000000000000000000000000000" "$tmp/err" || { echo "unknown: $(cat "$tmp/err")"; exit 1; }
