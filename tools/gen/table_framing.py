"""Table-record framing: the wire, XML and text forms of a table record and
the bare wire form of its primary key, for every table.

One engine (tables/framing.cc) is instantiated per table descriptor; this
module writes the trace sites it needs (table_framing.h), the C
declarations, the one-line wrappers and the reference rows.
"""

# The engine's trace sites (tables/framing.h, enum class FMsg), in order: the
# catalogue ids of their entries in the tables section.
FRAME_MSGS = ["frame_marshal_error", "frame_domain_fail", "frame_no_data", "frame_no_key",
              "frame_unmarshal_error", "frame_pkey_marshal_error", "frame_pkey_unmarshal_error"]

H = "mox_handle_t *h"
ERR = "uint32_t *err"

# (return, suffix, parameters, engine call); {K} is the C type of a key object.
FRAME_OPS = [
    ("uint32_t", "table_record_marshal",
     f"{H}, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen, {ERR}",
     "return orva::trec_marshal<orva::k_{t}>(h, db, buf, rec, buflen, err);"),
    ("uint32_t", "table_record_unmarshal",
     f"{H}, uint32_t db, void **rec, const uint8_t *buf, int32_t len, uint32_t in_place, {ERR}",
     "return orva::trec_unmarshal<orva::k_{t}>(h, db, rec, buf, len, in_place, err);"),
    ("uint32_t", "table_record_len", f"{H}, uint32_t db, const void *rec",
     "return orva::trec_len<orva::k_{t}>(h, db, rec);"),
    ("uint32_t", "table_pkey_marshal",
     f"{H}, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen, {ERR}",
     "return orva::pkey_marshal<orva::k_{t}>(h, db, buf, rec, buflen, err);"),
    ("uint32_t", "table_pkey_unmarshal",
     f"{H}, uint32_t db, {{K}} **key, const uint8_t *buf, int32_t len, {ERR}",
     "return orva::pkey_unmarshal<orva::k_{t}>(h, db, reinterpret_cast<void **>(key), buf, len, err);"),
    ("uint32_t", "table_record_to_xml",
     f"{H}, uint32_t db, char *buf, const void *rec, int32_t buflen, {ERR}",
     "return orva::trec_to_xml<orva::k_{t}>(h, db, buf, rec, buflen, err);"),
    ("void *", "table_record_from_xml",
     f"{H}, uint32_t db, mox_xml_doc_t *doc, {ERR}, char *msgbuf, uint32_t msglen",
     "return orva::trec_from_xml<orva::k_{t}>(h, db, doc, err, msgbuf, msglen);"),
    ("uint32_t", "table_record_print",
     f"{H}, uint32_t db, char *buf, const void *rec, int32_t buflen, {ERR}",
     "return orva::trec_print<orva::k_{t}>(h, db, buf, rec, buflen, err);"),
]

DESCRIPTIONS = {
    "table_record_marshal": "Checks the domain, then writes the 27-byte header, the table's LUID, the data "
                            "record (then the key record of a composite table). Returns the position reached, "
                            "never more than `buflen`. Errors: 52 (domain, nothing written), 90 (buffer), 2 (no "
                            "data or key record), those of the record encoder.",
    "table_record_unmarshal": "Decodes one frame: into a new table record stored in `*rec` (`in_place` 0; null "
                              "after a failure, nothing kept) or into the table record given there. The LUID is "
                              "not compared. Returns the bytes read. Errors: 90 (cut), 74 (bad header, frame "
                              "length or trailing bytes), 2 (in place without a data or key record), 12, 14 (null "
                              "`rec`).",
    "table_record_len": "Returns 43 plus the wire length of the data record (and key record); 0 for a null "
                        "record. No error slot.",
    "table_pkey_marshal": "Writes the primary key alone (the key field's wire form, or the key record's). "
                          "Returns its length. Errors: 90 (buffer shorter than the key: nothing written), 2 (no "
                          "data or key record).",
    "table_pkey_unmarshal": "Decodes a primary key into a new key object in `*key` (destroy it with "
                            "`_pkey_destroy`; null after a failure). Returns the bytes read. Errors: 14 (null "
                            "`key`), 12, those of the decoder.",
    "table_record_to_xml": "Writes the table's element holding the data record's element (then the key "
                           "record's). Returns the characters written. Errors: 90, 2 (no data or key record).",
    "table_record_from_xml": "Creates a table record with its data (and key) record filled from the document; "
                             "an absent element leaves the record at its initial values. Returns the table "
                             "record, or null. Errors: 12, those of the parser.",
    "table_record_print": "Writes `record@<table>: {`, the data record at indentation 2, `}`. Returns the "
                          "characters written. Errors: 90, 2 (no data record).",
}


def _composite(cat, t):
    return t.key in {x.name for x in cat.types}


def operations(cat):
    """(return, name, parameters, body) of every framing operation."""
    out = []
    for t in cat.tables:
        sub = {"t": t.name, "K": t.key if _composite(cat, t) else t.data}
        for ret, suffix, params, body in FRAME_OPS:
            out.append((ret, f"{t.name}_{suffix}", params.format(**sub), body.format(**sub)))
    return out


def declarations(cat):
    o = ["\n/* Table-record framing: wire, XML and text forms, and the primary key. */\n"]
    o += [f"{ret} {name}({params});\n" for ret, name, params, _ in operations(cat)]
    o.append("\n/* Table identity: the 16-byte LUID and its text (32 lowercase hex digits). */\n")
    for t in cat.tables:
        o.append(f"extern const uint8_t table_{t.name}_luid[16];\n"
                 f"extern const char table_{t.name}_luid_text[33];\n")
    return "".join(o)


def exports(cat, names):
    o = ['\n}  // extern "C"\n\n#include "tables/framing.h"\n\nextern "C" {\n\n']
    for ret, name, params, body in operations(cat):
        names.append(name)
        o.append(f"ORVA_EXPORT {ret} {name}({params}) {{ {body} }}\n")
    for t in cat.tables:
        luid = ", ".join(f"0x{b:02x}" for b in t.luid_bytes)
        o.append(f"extern ORVA_EXPORT const uint8_t table_{t.name}_luid[16] = {{{luid}}};\n"
                 f'extern ORVA_EXPORT const char table_{t.name}_luid_text[33] = "{t.luid}";\n')
        names += [f"table_{t.name}_luid", f"table_{t.name}_luid_text"]
    return "".join(o)


def header(banner, cat, msg_index):
    """table_framing.h: each table's trace sites, as frame_sites<table>."""
    o = [banner, "// The trace sites of the table framing engine, per table (tables/framing.h).\n",
         "#pragma once\n\n#include <iterator>\n\n#include \"table_descriptors.h\"\n",
         "#include \"tables/framing.h\"\n\nnamespace orva {\n\n"]
    for t in cat.tables:
        idx = ", ".join(str(msg_index[(1, "table", t.name, m)]) for m in FRAME_MSGS)
        o.append(f"namespace gen {{\ninline constexpr uint16_t {t.name}_frame[] = {{{idx}}};\n"
                 f"static_assert(std::size({t.name}_frame) == size_t(FMsg::Count));\n}}  // namespace gen\n"
                 f"template <>\ninline constexpr const uint16_t *frame_sites<k_{t.name}> = gen::{t.name}_frame;\n\n")
    o.append("}  // namespace orva\n")
    return "".join(o)


IDENTITY = {
    "luid": "The table's 16-byte LUID: written after a table-record frame's header and part of every TOC "
            "lookup and table name.",
    "luid_text": "The LUID as 32 lowercase hexadecimal digits and a NUL.",
}
IDENTITY_RE = r"table_(\w+?)_(luid|luid_text)"


def reference_rows():
    rows = {("table", suffix): text for suffix, text in DESCRIPTIONS.items()}
    rows.update({("table_identity", k): text for k, text in IDENTITY.items()})
    return rows
