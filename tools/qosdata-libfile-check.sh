#!/bin/sh
# qosdata trace and manifest on a library file (path in $2; qosdata in $1):
# the catalogue lists and the manifest prints; damaged copies (a flipped byte
# in the compressed texts, a truncated index section, a removed section), a
# capture with an unknown index and bad command lines each end in exit 1 and
# one line on stderr.
q=$1 lib=$2
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$0")/qosdata-fails.sh"
status=0
"$q" trace "$lib" | grep -q '^2 0 ' || { echo "trace $lib: no section 2 listing" >&2; status=1; }
[ "$("$q" manifest "$lib" | head -1)" = "# orva_qos_data.glossa" ] || { echo "manifest $lib" >&2; status=1; }
# The compressed texts' offset and size; one byte in their middle flipped.
set -- $(readelf -SW "$lib" | sed -n 's/.*\] \.quill_format_strings *[A-Z]* *[0-9a-f]* \([0-9a-f]*\) \([0-9a-f]*\).*/\1 \2/p')
cp "$lib" "$tmp/flipped"
printf '\125' | dd of="$tmp/flipped" bs=1 seek=$((0x$1 + 0x$2 / 2)) conv=notrunc 2>/dev/null
luids=$(readelf -SW "$lib" | grep -o '\.quill_luids_[0-9a-f]*' | head -1)
objcopy --dump-section "$luids=$tmp/index" "$lib" "$tmp/scratch"
head -c 23 "$tmp/index" >"$tmp/index.cut"
objcopy --update-section "$luids=$tmp/index.cut" "$lib" "$tmp/truncated"
objcopy --remove-section .quill_decoder "$lib" "$tmp/no_decoder"
objcopy --remove-section .orva_manifest "$lib" "$tmp/no_manifest"
# A capture of one message of that section at index 65535.
python3 -c 'import sys, struct; n = b"mox_orva_qos_data"; h = open(sys.argv[1], "rb").read(20)
r = h[4:] + h[2:4] + struct.pack("<IIH", 65535, 0, len(n)) + n + b"\0"
sys.stdout.buffer.write(b"QLCAPT1\n" + struct.pack("<I", len(r)) + r)' "$tmp/index" >"$tmp/capture"
for args in "trace $tmp/flipped" "trace $tmp/truncated" "trace $tmp/no_decoder" \
    "manifest $tmp/no_manifest" "trace $tmp/missing" "trace $tmp/capture" "trace $lib $tmp/capture" \
    "trace $lib $tmp/index.cut" "manifest" "trace $lib $tmp/capture extra"; do
  fails_cleanly "$q" $args
done
exit "$status"
