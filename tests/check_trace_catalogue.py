#!/usr/bin/env python3
"""Checks the trace catalogue sections of a library file against the catalogue.

One loaded, read-only .quill_luids_<id> section per catalogue section, the
header and six bytes per message, version 1, its number and identifier; the
bzip2 text exactly as long as the entry lengths add up to, each text at its
index the catalogue's; the 34-byte .quill_decoder; the manifest not loaded.
Usage: check_trace_catalogue.py LIBRARY CATALOGUE
"""
import bz2
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools", "gen"))
import catalogue as cat_mod  # noqa: E402
from qosgen import Generator  # noqa: E402
from check_manifest import readelf  # noqa: E402


def main(lib, catalogue):
    with open(catalogue, "rb") as f:
        gen = Generator(cat_mod.parse(f.read().decode()))
    sections = {m[0]: (int(m[1], 16), int(m[2], 16), m[3]) for m in re.findall(
        r"\]\s+(\S+)\s+\S+\s+[0-9a-f]+\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([A-Za-z]*)\s+\d+\s+\d+\s+\d+$",
        readelf("-S", lib), re.M)}
    data = open(lib, "rb").read()
    body = {name: data[off:off + size] for name, (off, size, _) in sections.items()}
    assert "A" not in sections[".orva_manifest"][2], "the manifest is loaded"
    assert len(body[".quill_decoder"]) == 34, ".quill_decoder size"
    luids = sorted(n for n in sections if n.startswith(".quill_luids_"))
    assert luids == sorted(".quill_luids_" + s.luid for s in gen.cat.sections), luids
    lengths = []
    for s in gen.cat.sections:
        name = ".quill_luids_" + s.luid
        texts = gen.section_texts[s.number]
        b, flags = body[name], sections[name][2]
        assert "A" in flags and "W" not in flags, f"{name}: flags {flags}"
        assert len(b) == 20 + 6 * len(texts), f"{name}: {len(b)} bytes for {len(texts)} messages"
        assert struct.unpack_from("<HH", b) == (1, s.number) and b[4:20].hex() == s.luid, name
        lengths += [struct.unpack_from("<IH", b, 20 + 6 * i)[1] for i in range(len(texts))]
        print(f"section {s.number} ({s.luid}): {len(texts)} messages")
    text = bz2.decompress(body[".quill_format_strings"])
    assert len(text) == sum(lengths), f"text of {len(text)} bytes, entries add up to {sum(lengths)}"
    expected = [t.encode() for s in gen.cat.sections for _, t in gen.section_texts[s.number]]
    at = 0
    for want, n in zip(expected, lengths):
        assert text[at:at + n] == want and want.startswith(b" "), f"{text[at:at + n]!r} != {want!r}"
        at += n


if __name__ == "__main__":
    main(*sys.argv[1:3])
