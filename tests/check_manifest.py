#!/usr/bin/env python3
"""Checks the type manifest that liborva_qos_data.so carries in .orva_manifest.

The section must not be loaded at run time, must hold the tagged records (the
manifest text under tag 2, the build record under tag 1) and the manifest
lines must have the fixed format, count and order; a few lines are compared
with figures of the type-info records worked out by hand.
"""
import re
import struct
import subprocess
import sys

SECTION = ".orva_manifest"
LINE = re.compile(r"^([0-9a-f]{32}):([0-9a-f]{32})(type|enum|mess|tabl|trec)(\d{3}):(\d{5})N$")

# name: (luid, kind code, highest variant, manifest size).  Sizes: the used
# length of the highest variant rounded up to 8 when a 64-bit or calendar-time
# field is inline (apf_call_record_t 129 -> 136, qos_client_data_t 1164 -> 1168),
# to 4 otherwise (aaa_qos_params_t 41 -> 44, sip_cac_stats_t 26 -> 28); the
# u_int64 of a list element does not count (qos_policy_content stays 44).
KNOWN = {
    "aaa_qos_params_t": ("a07d4a9531ab0ad90d253ccbc10d688c", "type", 0, 44),
    "apf_call_record_t": ("a35375cb9c90a47869abc8e4e550e6d3", "type", 0, 136),
    "bssid_qos_pm_type": ("8f68a2fd390a75eedce7992d7590750c", "enum", 0, 12),
    "qos_client_call_data": ("08fbab2e325aef9e8649abf0b0574969", "type", 1, 60),
    "qos_client_data_t": ("14a53919b8b6d6934959400e95134fac", "type", 1, 1168),
    "qos_pm_state": ("bbe91c6a1b0376f7b4f9ebe0ceb1b6fb", "enum", 1, 12),
    "qos_policy_content": ("9330517802246936ac99662b0d8b96c2", "type", 0, 44),
    "sip_cac_stats_t": ("43d114700f429cc9f13cb40496953af0", "type", 0, 28),
    "wmm_cac_stats_t": ("72d6af4c9750497d2b8d3f0a92aa85e1", "type", 0, 32),
}
MESSAGE_LUID = "c93da761403af8b1b3e567fb9d584675"
FIRST_TABLE_LUID = "29176e705c0dc9c13be3a79675bc9fcc"  # tbl_qos_stby_client_policy_data_record


def readelf(option, path):
    return subprocess.run(["readelf", option, "-W", path], check=True, capture_output=True,
                          text=True).stdout


def main(path, other=None):
    m = re.search(r"\]\s+" + re.escape(SECTION) + r"\s+\S+\s+[0-9a-f]+\s+([0-9a-f]+)\s+([0-9a-f]+)"
                  r"\s+[0-9a-f]+\s+([A-Za-z]*)\s+\d+\s+\d+\s+\d+$", readelf("-S", path), re.M)
    assert m, f"no section {SECTION}"
    start, size, flags = int(m.group(1), 16), int(m.group(2), 16), m.group(3)
    loads = re.findall(r"^\s*LOAD\s+0x([0-9a-f]+)\s+\S+\s+\S+\s+0x([0-9a-f]+)",
                       readelf("-l", path), re.M)
    assert loads, "no loaded segment"
    assert "A" not in flags, "the manifest section is allocated"
    assert all(start + size <= int(a, 16) or start >= int(a, 16) + int(n, 16) for a, n in loads), \
        "the manifest lies in a loaded segment"
    with open(path, "rb") as f:
        f.seek(start)
        data = f.read(size)

    # Tagged records: u32 length, u32 tag, the bytes; padding to 4 at the end.
    assert len(data) % 4 == 0, f"section of {len(data)} bytes"
    recs, pos = [], 0
    while pos + 8 <= len(data):
        length, tag = struct.unpack_from("<II", data, pos)
        recs.append((tag, data[pos + 8:pos + 8 + length]))
        pos += 8 + length
    assert len(data) - pos < 4 and not data[pos:].strip(b"\0"), "bytes after the records"
    assert [tag for tag, _ in recs] == [2, 1], f"tags {[tag for tag, _ in recs]}"
    text = recs[0][1]
    assert text.endswith(b"\n\0") and text.count(b"\0") == 1, "manifest text not NUL-terminated"
    lines = text[:-1].decode().split("\n")[:-1]
    assert len(lines) == 59 and lines[0] == "# orva_qos_data.glossa", lines[:1]
    parsed = []
    for line in lines[1:]:
        m = LINE.match(line)
        assert m and len(line) == 79, f"bad line {line!r}"
        parsed.append((m.group(1), m.group(2), m.group(3), int(m.group(4)), int(m.group(5))))
    assert len({p[1] for p in parsed}) == 58, "definition signatures repeat"

    kinds = [p[2] for p in parsed]
    assert set(kinds[:39]) == {"type", "enum"} and kinds[39] == "mess", kinds
    assert set(kinds[40:]) == {"tabl", "trec"}
    tables = parsed[40:]
    assert [p[0] for p in tables] == sorted(p[0] for p in tables), "tables not in luid order"
    assert tables[0][0] == FIRST_TABLE_LUID and tables[0][2] == "trec"
    assert all(p[3] == 1 and p[4] == 0 for p in tables)
    assert parsed[39][0] == MESSAGE_LUID and parsed[39][3:] == (0, 0)

    position = {p[0]: i for i, p in enumerate(parsed)}
    for name, (luid, kind, variant, size) in KNOWN.items():
        assert luid in position, f"{name} missing"
        got = parsed[position[luid]]
        assert got[2:] == (kind, variant, size), f"{name}: {got[2:]}"
    order = [position[KNOWN[n][0]] for n in sorted(KNOWN)]
    assert order == sorted(order), "types and enumerations not in name order"
    assert order[0] == 0 and order[-1] == 38, "first or last of the name group"

    build = recs[1][1].decode().split("\n")
    assert build[0] == "orva_qos_data" and build[1] == "pkg_uid: " + "0" * 40, build[:2]
    assert len(build) > 3 and build[-1] == "", "build lines"
    print(f"{len(parsed)} manifest lines, build record of {len(build) - 1} lines")
    if other:
        assert main(other) == text, f"the manifest text of {other} differs from {path}'s"
        print(f"manifest text identical in {path} and {other}")
    return text


if __name__ == "__main__":
    main(*sys.argv[1:3])
