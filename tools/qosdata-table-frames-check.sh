#!/bin/sh
# Table-record frames through qosdata (path in $1), the composite table's
# XML document in $2 and the message's in $3: encode then decode --xml gives
# the document back; the primary key alone travels with --key; a message
# and two table records back to back decode as three; a cut table frame and
# a frame of no known identifier exit 1 naming the frame's offset.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
q=$1
"$q" encode -o "$tmp/t.bin" "$2" || exit 1
"$q" decode --xml "$tmp/t.bin" >"$tmp/back.xml" || exit 1
cmp -s "$2" "$tmp/back.xml" || { echo "decode --xml differs from the encoded document"; exit 1; }
"$q" encode --key tbl_qos_bssid_data "$2" | "$q" decode --xml --key tbl_qos_bssid_data - >"$tmp/key.xml" || exit 1
grep -q '^<qos_bssid_key_t>.*<wtp_mac>a4:b1:c2:d3:e4:f5</wtp_mac></qos_bssid_key_t>$' "$tmp/key.xml" ||
  { echo "key: $(cat "$tmp/key.xml")"; exit 1; }
"$q" encode --key tbl_qos_client_data "$2" >/dev/null 2>&1 && { echo "--key of another table accepted"; exit 1; }
"$q" encode -o "$tmp/m.bin" "$3" || exit 1
cat "$tmp/m.bin" "$tmp/t.bin" "$tmp/t.bin" >"$tmp/three.bin"
"$q" decode "$tmp/three.bin" >"$tmp/three.txt" || exit 1
[ "$(grep -c '^record@tbl_qos_bssid_data: {' "$tmp/three.txt")" = 2 ] &&
  [ "$(grep -c '^message@qos_client_data: {' "$tmp/three.txt")" = 1 ] || { echo "not 3 frames"; exit 1; }
size=$(wc -c <"$tmp/t.bin")
{ cat "$tmp/t.bin"; head -c $((size - 1)) "$tmp/t.bin"; } >"$tmp/cut.bin"
{ cat "$tmp/t.bin"; head -c 27 "$tmp/t.bin"; printf 'tbl_qos_bssid_da'; head -c 9 /dev/zero; } >"$tmp/unknown.bin"
for f in cut unknown; do
  "$q" decode "$tmp/$f.bin" >/dev/null 2>"$tmp/err"
  rc=$?
  [ $rc = 1 ] && grep -q "at offset $size: " "$tmp/err" || { echo "$f: status $rc, $(cat "$tmp/err")"; exit 1; }
done
grep -q "unknown identifier 74626c5f716f735f62737369645f6461" "$tmp/err" || { echo "unknown: $(cat "$tmp/err")"; exit 1; }
