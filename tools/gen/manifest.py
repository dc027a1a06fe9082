"""The type manifest that the library file carries in a section of its own.

The section (SECTION_NAME) is not allocated: the loader never maps it; tools
read it out of the file.  It holds tagged records, one after the other, each a
32-bit length, a 32-bit tag and `length` bytes; both words are little-endian
whatever the build host.  The section ends with zero bytes up to a multiple of
4.  Records, in this order:

  tag 2  the manifest text, NUL-terminated (the NUL is counted in the length):
         "# <module>.glossa", then one line of 79 characters per type-info
         record:
             <luid text>:<signature><kind><highest variant>:<size>N
         luid text and signature 32 lower-case hex digits each; kind "type",
         "enum", "mess", "tabl" or "trec"; the highest variant number in three
         decimal digits; the manifest size in five.  Types and enumerations
         come first in byte order of their names, then the message, then tables
         and table records in byte order of their luid text.
  tag 1  the build record, lines without a terminating NUL: the module name,
         "pkg_uid: " and 40 zeros, then "key: value" lines describing the build.

The signature is the first 16 bytes of the SHA-256 of the entity's definition
text (definition_text below): its kind and name, its variant figures, and per
kind its fields (name, kind, shape, bound, variant, key and count flags), its
members, its table parts or its payload.  A record type or enumeration
referred to is named together with its own signature, so that a change deep in
a nested type changes every signature above it.
"""

import hashlib
import struct
from typing import Dict, List, Tuple

from catalogue import CatalogueError

SECTION_NAME = ".orva_manifest"
TAG_BUILD = 1
TAG_MANIFEST = 2
LINE_LENGTH = 79
KIND_CODES = {"type": "type", "enum": "enum", "message": "mess", "table": "tabl",
              "table_record": "trec"}
# Kinds whose presence, inline in a record, widens its manifest size to 8.
WIDE_KINDS = {"u_int64", "calendar_time"}


class Manifest:
    def __init__(self, cat):
        self.cat = cat
        self.types = {t.name: t for t in cat.types}
        self.enums = {e.name: e for e in cat.enums}
        self._signatures: Dict[str, str] = {}

    # ----------------------------------------------------------------------
    def holds_wide(self, type_name: str) -> bool:
        """Whether a record holds a 64-bit or calendar-time field directly or in
        a record nested in it (single or fixed array); list elements and the
        elements of a dynamic array are blocks of their own and do not count."""
        for f in self.types[type_name].fields:
            if f.shape in ("list", "dynamic"):
                continue
            if f.kind in WIDE_KINDS:
                return True
            if f.kind in self.types and self.holds_wide(f.kind):
                return True
        return False

    def size(self, entity) -> int:
        if entity.kind == "enum":
            return 12
        if entity.kind != "type":
            return 0
        used = max(entity.variants, key=lambda v: v.number).used
        step = 8 if self.holds_wide(entity.name) else 4
        return (used + step - 1) // step * step

    def check_sizes(self) -> None:
        """The size each catalogue entry states must be the one the rule gives."""
        wrong = []
        for e in self.cat.type_info_list():
            if e.manifest != self.size(e):
                wrong.append(f"{e.name}: catalogue says {e.manifest}, rule gives {self.size(e)}")
        if wrong:
            raise CatalogueError("manifest sizes disagree: " + "; ".join(wrong))

    # ----------------------------------------------------------------------
    def _ref(self, name: str) -> str:
        if name in self.types or name in self.enums:
            return f"{name}={self.signature_of(name)}"
        return name

    def definition_text(self, e) -> str:
        lines = [f"{e.kind} {e.name}",
                 "variants " + " ".join(f"{v.number}:{v.used}/{v.slop}" for v in e.variants)]
        if e.kind == "type":
            for f in e.fields:
                flags = (" key" if f.key else "") + (f" count_of={f.count_of}" if f.count_of else "")
                lines.append(f"field {f.name} {self._ref(f.kind)} {f.shape} {f.bound} v{f.variant}{flags}")
        elif e.kind == "enum":
            lines += [f"member {m.name} v{m.variant}" for m in e.members]
        elif e.kind == "table":
            lines += [f"record {e.record.name}", f"data {self._ref(e.data)}", f"key {self._ref(e.key)}"]
        elif e.kind == "table_record":
            table = next(t for t in self.cat.tables if t.record is e)
            lines += [f"table {table.name}", f"data {self._ref(table.data)}"]
        elif e.kind == "message":
            lines.append(f"payload {self._ref(e.payload)}")
        return "\n".join(lines) + "\n"

    def signature(self, e) -> str:
        if e.name not in self._signatures:
            digest = hashlib.sha256(self.definition_text(e).encode()).digest()
            self._signatures[e.name] = digest[:16].hex()
        return self._signatures[e.name]

    def signature_of(self, name: str) -> str:
        return self.signature(self.types.get(name) or self.enums[name])

    # ----------------------------------------------------------------------
    def line(self, e) -> str:
        text = (f"{e.luid}:{self.signature(e)}{KIND_CODES[e.kind]}{e.highest:03d}:"
                f"{self.size(e):05d}N")
        if len(text) != LINE_LENGTH:
            raise CatalogueError(f"{e.name}: manifest line of {len(text)} characters")
        return text

    def ordered(self) -> List:
        records = self.cat.type_info_list()
        named = sorted((e for e in records if e.kind in ("type", "enum")),
                       key=lambda e: e.name.encode())
        message = [e for e in records if e.kind == "message"]
        tables = sorted((e for e in records if e.kind in ("table", "table_record")),
                        key=lambda e: e.luid.encode())
        return named + message + tables

    def text(self) -> str:
        return "".join(f"{line}\n" for line in
                       [f"# {self.cat.module}.glossa"] + [self.line(e) for e in self.ordered()])

    def build_text(self, build: List[Tuple[str, str]], catalogue_bytes: bytes) -> str:
        lines = [self.cat.module, "pkg_uid: " + "0" * 40,
                 "catalogue_sha1: " + hashlib.sha1(catalogue_bytes).hexdigest(),
                 "generator: tools/gen/qosgen.py",
                 f"type_info_records: {len(self.cat.type_info_list())}"]
        lines += [f"{k}: {v}" for k, v in build]
        return "".join(f"{line}\n" for line in lines)

    def section_bytes(self, build: List[Tuple[str, str]], catalogue_bytes: bytes) -> bytes:
        self.check_sizes()
        out = b""
        for tag, payload in ((TAG_MANIFEST, self.text().encode() + b"\0"),
                             (TAG_BUILD, self.build_text(build, catalogue_bytes).encode())):
            out += struct.pack("<II", len(payload), tag) + payload
        return out + b"\0" * (-len(out) % 4)

    def source(self, banner: str, build: List[Tuple[str, str]], catalogue_bytes: bytes) -> str:
        """A C++ source whose only content is the section, written in assembler
        so that the section is not allocated (a section attribute would be)."""
        data = self.section_bytes(build, catalogue_bytes)
        o = [banner, "// The type manifest of the library file: a section the loader never maps.\n\n",
             "asm(\".pushsection " + SECTION_NAME + ",\\\"\\\",@progbits\\n\"\n",
             "    \".balign 4\\n\"\n"]
        for i in range(0, len(data), 16):
            o.append("    \".byte " + ",".join(f"0x{b:02x}" for b in data[i:i + 16]) + "\\n\"\n")
        o.append("    \".popsection\\n\");\n")
        return "".join(o)
