"""The trace catalogue that the library file carries for its messages.

Sections (all words little-endian, whatever the build host; docs/runtime.md):

  .quill_luids_<32 hex>  one per catalogue section, loaded and read-only: u16
                         version 1, u16 section number, the 16-byte identifier,
                         then per message a u32 trace word and the u16 length of
                         its format string.  The emitters receive its address.
  .quill_format_strings  every format string of every section, in section and
                         index order, concatenated and compressed with bzip2;
                         not loaded.
  .quill_decoder         34 bytes that let an offline decoder check what it
                         read; not loaded.

The trace word of an entry: bits 24-31 the message's level byte, bits 0-15
the argument kinds as the emitter's number (0, 1, 4, 11, 14, 41, 44, 111,
444: one digit per argument, 1 a string, 4 a 32-bit integer), bits 16-23 zero.
"""
import bz2
import re
import struct
from typing import List, Tuple

from records import c_string

FORMAT_SECTION = ".quill_format_strings"
DECODER_SECTION = ".quill_decoder"
LUIDS_PREFIX = ".quill_luids_"
DECODER_MAGIC = b"QDEC"
DECODER_SIZE = 34

# A conversion the runtime's emitters accept: flags, width, precision, h/hh.
CONVERSION = re.compile(r"%(%|[-+ #0]*[0-9]*(?:\.[0-9]*)?h*([a-zA-Z]?))")


class TraceCatalogueError(Exception):
    pass


def argument_kinds(text: str) -> int:
    """The emitter's number for a format: 1 per %s, 4 per integer conversion."""
    digits = ""
    for m in CONVERSION.finditer(text):
        if m.group(1) == "%":
            continue
        conv = m.group(2)
        if conv == "s":
            digits += "1"
        elif conv and conv in "diuxXoc":
            digits += "4"
        else:
            raise TraceCatalogueError(f"format {text!r}: conversion {m.group(0)!r} not supported")
    return int(digits or "0")


def fnv1a(data: bytes) -> int:
    h = 0x811C9DC5
    for b in data:
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


class TraceCatalogue:
    """sections: [(number, luid hex, [(level, text with its leading blank)])]."""

    def __init__(self, sections: List[Tuple[int, str, List[Tuple[int, str]]]]):
        self.sections = sections
        for number, luid, texts in sections:
            for level, text in texts:
                if not text.startswith(" "):
                    raise TraceCatalogueError(f"section {number}: text {text!r} without a blank")
                if len(text.encode()) > 0xFFFF:
                    raise TraceCatalogueError(f"section {number}: text too long")

    def index_bytes(self, number: int, luid: str, texts) -> bytes:
        out = struct.pack("<HH", 1, number) + bytes.fromhex(luid)
        for level, text in texts:
            word = ((level >> 24) & 0xFF) << 24 | argument_kinds(text)
            out += struct.pack("<IH", word, len(text.encode()))
        return out

    def text(self) -> bytes:
        return b"".join(t.encode() for _, _, texts in self.sections for _, t in texts)

    def compressed(self) -> bytes:
        # bz2 output depends on the input and the block size only.
        return bz2.compress(self.text(), 9)

    def decoder_bytes(self) -> bytes:
        text = self.text()
        indexes = b"".join(self.index_bytes(*s) for s in self.sections)
        out = DECODER_MAGIC + struct.pack(
            "<HHIIIIIHHH", 1, len(self.sections), sum(len(t) for _, _, t in self.sections),
            len(text), len(self.compressed()), fnv1a(text), fnv1a(indexes), 1, 1, 0x0102)
        assert len(out) == DECODER_SIZE
        return out

    @staticmethod
    def _asm_section(name: str, data: bytes) -> List[str]:
        o = ["asm(\".pushsection " + name + ",\\\"\\\",@progbits\\n\"\n"]
        for i in range(0, len(data), 16):
            o.append("    \".byte " + ",".join(f"0x{b:02x}" for b in data[i:i + 16]) + "\\n\"\n")
        o.append("    \".popsection\\n\");\n")
        return o

    def source(self) -> str:
        """C++ for catalogue_tables.inc, inside namespace orva: per section the
        index as a read-only object in its own section, kSection<N> naming
        it, the texts and levels, a registration of all sections with the
        runtime, and the two unloaded sections in assembler (a section
        attribute would make them allocated)."""
        o = ["// The trace catalogue: index sections (loaded, read-only), texts for\n"
             "// live rendering, and the compressed texts and the decoder block that\n"
             "// only offline readers use.\n"]
        for number, luid, texts in self.sections:
            data = self.index_bytes(number, luid, texts)
            sym = f"orva_quill_luids_{number}"
            o.append(f"extern \"C\" __attribute__((section(\"{LUIDS_PREFIX}{luid}\"), used, "
                     f"visibility(\"hidden\"), aligned(4)))\n"
                     f"const unsigned char {sym}[{len(data)}] = {{\n")
            for i in range(0, len(data), 20):
                o.append("    " + ",".join(f"0x{b:02x}" for b in data[i:i + 20]) + ",\n")
            o.append("};\n")
            o.append(f"extern const quill_section_desc_t kSection{number} "
                     f"__attribute__((alias(\"{sym}\")));\n")
            o.append(f"static const char *const section{number}_formats[] = {{\n")
            for _, text in texts:
                o.append(f"    {c_string(text)},\n")
            o.append("    nullptr};\n")
            o.append(f"static const uint32_t section{number}_levels[] = {{")
            o.append(", ".join(f"0x{lvl:x}u" for lvl, _ in texts) or "0u")
            o.append("};\n")
            o.append(f"extern const uint32_t *const kSection{number}Levels = section{number}_levels;\n\n")
        types = [s for s in self.sections if s[0] == 2]
        if types:
            o.append("extern const quill_section_desc_t kTypesSection "
                     "__attribute__((alias(\"orva_quill_luids_2\")));\n")
            o.append(f"extern const uint32_t kTypesCount = {len(types[0][2])}u;\n")
            o.append("extern const char *const *const kTypesFormats = section2_formats;\n\n")
        o.append("extern const quill_section_desc_t *const kTraceSections[] = {"
                 + ", ".join(f"&kSection{n}" for n, _, _ in self.sections) + "};\n")
        o.append("extern const uint32_t kTraceSectionSizes[] = {"
                 + ", ".join(f"{len(t)}u" for _, _, t in self.sections) + "};\n")
        o.append(f"extern const uint32_t kTraceSectionCount = {len(self.sections)}u;\n\n")
        o.append("void register_trace_catalogue() {\n")
        for number, _, texts in self.sections:
            o.append(f"  quill_catalogue_register(&kSection{number}, {len(texts)}u, "
                     f"section{number}_formats);\n")
        o.append("}\n\n")
        o += self._asm_section(FORMAT_SECTION, self.compressed())
        o += self._asm_section(DECODER_SECTION, self.decoder_bytes())
        return "".join(o) + "\n"
