#!/usr/bin/env python3
"""Generates the per-type code of orva_qos_data from its catalogue.

Output (all into --out, never committed):
  orva_qos_data/orva_qos_data_decls.h  C declarations of every export
  catalogue_tables.inc                 type-info records, trace catalogue (tools/gen/
                                       trace_catalogue.py), type lists
  catalogue_descriptors.h              descriptors as constant expressions
  exports.inc                          one-line extern "C" wrappers over the engines
  layout_checks.inc                    static_asserts of generated layouts
  orva_qos_data.map                    linker version script: exactly the exports
  manifest.cc                          the type manifest section (tools/gen/manifest.py)
  reference/*.md                       the API reference (tools/gen/reference.py)

The output is deterministic: same catalogue, same bytes.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import catalogue as cat_mod  # noqa: E402
from manifest import Manifest  # noqa: E402
from trace_catalogue import TraceCatalogue  # noqa: E402
from records import Records  # noqa: E402
import reference  # noqa: E402
import message  # noqa: E402
import tables as tables_mod  # noqa: E402
import table_framing  # noqa: E402

BANNER = "/* Generated from types/catalogue.qos by tools/gen/qosgen.py. Do not edit. */\n"

MSG_IDS = {
    # catalogue id -> engine enumerator (frame/descriptors.h)
    "corrupt_handle": "CorruptHandle",
    "not_tracked": "NotTracked",
    "non_tracked": "NonTracked",
    "val_not_tracked": "ValNotTracked",
    "varinfo_null": "VarinfoNull",
    "variant_excess": "VariantExcess",
    "tinfo_corrupt": "TinfoCorrupt",
    "nested_base_null": "NestedBaseNull",
    "embed_null": "EmbedNull",
    "create_failed": "CreateFailed",
    "oid_remove_failed": "OidRemoveFailed",
    "destroy_deferred": "DestroyDeferred",
    "oid_removed": "OidRemoved",
    "hd_remove_failed": "HdRemoveFailed",
    "unmarshal_mismatch": "UnmarshalMismatch",
    "unmarshal_skip": "UnmarshalSkip",
    "decode_budget": "DecodeBudget",
    "stats_failed": "StatsFailed",
}

KIND_ENUMERATORS = {
    "u_int8": "U8",
    "u_int16": "U16",
    "u_int32": "U32",
    "u_int64": "U64",
    "int16": "I16",
    "mox_boolean": "Boolean",
    "mox_mac_addr": "MacAddr",
    "mox_vstring": "VString",
    "ip_address": "IpAddress",
    "calendar_time": "CalendarTime",
    "enm_client_type": "EnmClientType",
    "enm_radio_band_type": "EnmRadioBand",
}


SHAPES = {"single": "Single", "array": "Array", "dynamic": "Dynamic", "list": "List"}


def c_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# --------------------------------------------------------------------------
# Exported operations.  Each entry: (return type, name pattern, parameters,
# call of the engine).  {e} is the enumeration's name, {E} its C type.
# --------------------------------------------------------------------------

ENUM_OPS = [
    ("{E} *", "{e}_create", "mox_handle_t *h, uint32_t db",
     "return ({E} *)orva::enum_create_internal(orva::k_{e}, h, db);"),
    ("{E} *", "{e}_create_internal", "mox_handle_t *h, uint32_t db",
     "return ({E} *)orva::enum_create_internal(orva::k_{e}, h, db);"),
    ("uint32_t", "{e}_initialize",
     "mox_handle_t *h, uint32_t db, {E} *obj, mox_type_info_t *ti, uint32_t notify, "
     "uint32_t ignored, uint32_t flags, uint8_t *ignored_base, uint32_t *err",
     "return orva::enum_initialize(orva::k_{e}, h, db, (mox_enum_obj_t *)obj, ti, notify, flags, err);"),
    ("void", "{e}_destroy", "mox_handle_t *h, uint32_t db, {E} *obj",
     "orva::enum_destroy_internal(orva::k_{e}, h, db, (mox_enum_obj_t *)obj, 1);"),
    ("void", "{e}_destroy_internal", "mox_handle_t *h, uint32_t db, {E} *obj, uint32_t free_storage",
     "orva::enum_destroy_internal(orva::k_{e}, h, db, (mox_enum_obj_t *)obj, free_storage);"),
    ("uint32_t", "{e}_get_value", "mox_handle_t *h, uint32_t db, const {E} *obj, uint32_t *err",
     "return orva::enum_get_value(h, db, (const mox_enum_obj_t *)obj, err);"),
    ("uint32_t", "{e}_set_value", "mox_handle_t *h, uint32_t db, {E} *obj, uint32_t value, uint32_t *err",
     "return orva::enum_set_value(orva::k_{e}, h, db, (mox_enum_obj_t *)obj, value, err);"),
    ("int32_t", "{e}_compare", "const {E} *a, const {E} *b",
     "return orva::enum_compare((const mox_enum_obj_t *)a, (const mox_enum_obj_t *)b);"),
    ("uint32_t", "{e}_marshal",
     "mox_handle_t *h, uint32_t db, uint8_t *buf, const {E} *obj, int32_t buflen, uint32_t *err",
     "return orva::enum_marshal(orva::k_{e}, h, db, buf, (const mox_enum_obj_t *)obj, buflen, err);"),
    ("uint32_t", "{e}_unmarshal",
     "mox_handle_t *h, uint32_t db, const uint8_t *buf, {E} *obj, int32_t len, uint32_t flag, uint32_t *err",
     "return orva::enum_unmarshal(orva::k_{e}, h, db, buf, (mox_enum_obj_t *)obj, len, flag, err);"),
    ("uint32_t", "{e}_to_xml",
     "mox_handle_t *h, uint32_t db, const char *name, char *out, const {E} *obj, int32_t outlen, uint32_t *err",
     "return orva::enum_to_xml(orva::k_{e}, h, db, name, out, (const mox_enum_obj_t *)obj, outlen, err);"),
    ("void", "{e}_from_xml",
     "mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, {E} *obj, uint32_t *err, "
     "char *msg, uint32_t msglen",
     "orva::enum_from_xml(orva::k_{e}, h, db, path, doc, (mox_enum_obj_t *)obj, err, msg, msglen);"),
]

# Registration and module statics: fixed names, written once here.
MODULE_FUNCS = [
    ("uint32_t", "orva_qos_data_typeinfo_initialize", "mox_handle_t *h, uint32_t db, uint32_t *err",
     "return orva::typeinfo_initialize(h, db, err);"),
    ("void", "mox_orva_qos_data_trace_init", "void", "orva::trace_init();"),
    ("mox_bundle_handler_fn", "orva_qos_data_bundle_handler_register", "mox_bundle_handler_fn handler",
     "return orva::bundle_handler_register(handler);"),
    ("mox_bundle_handler_fn", "orva_qos_data_bundle_handler_unregister", "void",
     "return orva::bundle_handler_unregister();"),
]
MODULE_DATA = [
    ("mox_bundle_handler_fn", "orva_qos_data_bundle_registered_handler"),
    ("uint16_t", "g_mox_orva_qos_data_trace_module_id"),
]


def type_info_symbol(entity) -> str:
    if entity.kind in ("type", "enum"):
        return f"_{entity.name}_type_info_internal"
    if entity.kind == "table":
        return f"_{entity.name}_table_type_info_internal"
    if entity.kind == "table_record":
        return f"_{entity.name[:-len('_record')]}_table_record_type_info_internal"
    return f"_{entity.name}_message_type_info_internal"


def enum_ctype(e) -> str:
    return f"{e.name}_t"


class Generator:
    def __init__(self, cat):
        self.cat = cat
        self.exports = []      # exported symbol names, in emission order
        self.msg_index = {}    # (section, scope, entity name, id) -> index
        self._number_messages()
        self.records = Records(cat, self.msg_index)
        self.tables = tables_mod.Tables(cat, self.msg_index)

    # ----------------------------------------------------------------------
    def _number_messages(self):
        """Numbers the messages of each section: entities in catalogue order,
        within an entity the templates in catalogue order."""
        # Each scope lists its entities: (key, {substitutions}).
        def fields_of(pred):
            return [(f"{t.name}.{f.name}", {"name": t.name, "field": f.name, "bound": str(f.bound),
                                                "element": f.kind})
                    for t in self.cat.types for f in t.fields if pred(f)]
        released = {"mox_mac_addr", "mox_vstring", "ip_address", "calendar_time"}
        scopes = {"type": [(t.name, {"name": t.name}) for t in self.cat.types],
                  "enum": [(e.name, {"name": e.name}) for e in self.cat.enums],
                  "module": [(self.cat.module, {"name": self.cat.module})],
                  "array": fields_of(lambda f: f.shape == "array"),
                  "dynamic": fields_of(lambda f: f.shape == "dynamic"),
                  "list": fields_of(lambda f: f.shape == "list"),
                  "released": fields_of(lambda f: f.shape == "single" and f.kind in released),
                  "table": tables_mod.trace_scope(self.cat)}
        self.section_texts = {}
        for s in self.cat.sections:
            texts = []
            for scope in cat_mod.TRACE_SCOPES:
                entries = [e for e in s.entries if e.scope == scope]
                for key, subs in scopes[scope]:
                    for e in entries:
                        self.msg_index[(s.number, scope, key, e.ident)] = len(texts)
                        text = e.text
                        for k, v in subs.items():
                            text = text.replace("{" + k + "}", v)
                        texts.append((e.level, " " + text))
            self.section_texts[s.number] = texts

    def msgs_of(self, scope, name):
        out = []
        for ident, enumerator in MSG_IDS.items():
            out.append(self.msg_index.get((2, scope, name, ident), "orva::kNoMsg"))
        return out

    # ----------------------------------------------------------------------
    def decls_header(self) -> str:
        o = [BANNER, "#ifndef ORVA_QOS_DATA_DECLS_H\n#define ORVA_QOS_DATA_DECLS_H\n\n",
             '#include "mox/runtime.h"\n\n#ifdef __cplusplus\nextern "C" {\n#endif\n\n']
        o.append("/* Type-info records, in type-info list order. */\n")
        for e in self.cat.type_info_list():
            o.append(f"extern mox_type_info_t {type_info_symbol(e)};\n")
        o.append("\n/* Enumerations: objects, members and operations. */\n")
        for e in self.cat.enums:
            o.append(f"typedef struct {enum_ctype(e)} {{\n  MOX_OBJ_HEADER;\n  uint32_t value;\n}} {enum_ctype(e)};\n")
            o.append(f"enum {e.name}_member {{\n")
            for i, m in enumerate(e.members):
                o.append(f"  {m.name} = {i},\n")
            o.append("};\n")
            for ret, name, params, _ in ENUM_OPS:
                o.append(self._decl(ret, name, params, e))
            o.append("\n")
        o.append(self.records.structs())
        o.append("\n/* Record operations. */\n")
        for ret, name, params, _ in self.records.operations():
            o.append(f"{ret} {name}({params});\n")
        o.append(message.declarations(self.cat))
        o.append(self.tables.declarations())
        o.append(table_framing.declarations(self.cat))
        o.append("/* Registration. */\n")
        for ret, name, params, _ in MODULE_FUNCS:
            o.append(f"{ret} {name}({params});\n")
        for ctype, name in MODULE_DATA:
            o.append(f"extern {ctype} {name};\n")
        o.append('\n#ifdef __cplusplus\n}\n#endif\n\n#endif\n')
        return "".join(o)

    @staticmethod
    def _decl(ret, name, params, e):
        sub = {"e": e.name, "E": enum_ctype(e)}
        return f"{ret.format(**sub)} {name.format(**sub)}({params.format(**sub)});\n"

    # ----------------------------------------------------------------------
    def exports_inc(self) -> str:
        o = [BANNER, '// Included by frame/exports.cc: every exported operation is a one-line\n'
             '// call of its engine with the entity\'s descriptor.\n\n']
        o.append('#include "catalogue_descriptors.h"\n\nextern "C" {\n\n')
        for e in self.cat.enums:
            for ret, name, params, body in ENUM_OPS:
                sub = {"e": e.name, "E": enum_ctype(e)}
                fname = name.format(**sub)
                self.exports.append(fname)
                o.append(f"ORVA_EXPORT {ret.format(**sub)} {fname}({params.format(**sub)}) {{ "
                         f"{body.format(**sub)} }}\n")
            o.append("\n")
        for ret, name, params, body in self.records.operations():
            self.exports.append(name)
            o.append(f"ORVA_EXPORT {ret} {name}({params}) {{ {body} }}\n")
        o.append(self.tables.exports(self.exports))
        o.append(table_framing.exports(self.cat, self.exports))
        o.append("\n")
        text, names = message.exports(self.cat, self.msg_index, type_info_symbol)
        o.append(text)
        self.exports += names
        for ret, name, params, body in MODULE_FUNCS:
            self.exports.append(name)
            o.append(f"ORVA_EXPORT {ret} {name}({params}) {{ {body} }}\n")
        o.append('\n}  // extern "C"\n')
        return "".join(o)

    # ----------------------------------------------------------------------
    def tables_inc(self) -> str:
        cat = self.cat
        o = [BANNER, "// Included by frame/catalogue.cc.\n\n", '#include "catalogue_descriptors.h"\n\n']
        # Variant entries and variant-info blocks.
        o.append("namespace orva::gen {\n\n")
        for e in cat.type_info_list():
            entries = ", ".join(f"{{{v.number}u, {v.used}u, {v.slop}u, 0u, {{}}}}" for v in e.variants)
            o.append(f"mox_variant_entry_t {e.name}_variants[] = {{{entries}}};\n")
            o.append(f"mox_variant_info_t {e.name}_variant_info = "
                     f"{{{len(e.variants)}u, {e.name}_variants}};\n")
        o.append("\n}  // namespace orva::gen\n\n")
        # Type-info records.
        o.append('extern "C" {\n')
        for e in cat.type_info_list():
            sym = type_info_symbol(e)
            self.exports.append(sym)
            luid = ", ".join(f"0x{b:02x}" for b in e.luid_bytes)
            o.append(f"ORVA_EXPORT mox_type_info_t {sym} = {{MOX_TYPE_INFO_MAGIC, {{{luid}}}, "
                     f"{c_string(e.luid)}, {c_string(e.name)}, {c_string(cat.module)}, "
                     f"{c_string(e.kind)}, {{0, 0, 0}}, 0xFFFFFFFFu, "
                     f"&orva::gen::{e.name}_variant_info, 0u, 0u}};\n")
        o.append('}  // extern "C"\n\n')
        o.append("namespace orva {\n\n")
        o.append("// The type-info list: the records in list order, null-terminated.\n")
        o.append("extern mox_type_info_t *const kTypeInfoList[] = {\n")
        for e in cat.type_info_list():
            o.append(f"    &{type_info_symbol(e)},\n")
        o.append("    nullptr};\n")
        o.append(f"extern const uint32_t kTypeInfoCount = {len(cat.type_info_list())};\n\n")
        # Trace sections.
        o.append(TraceCatalogue([(s.number, s.luid, self.section_texts[s.number])
                                 for s in cat.sections]).source())
        o.append("extern const TypeDesc *const kTypes[] = {\n")
        for t in cat.types:
            o.append(f"    &k_{t.name},\n")
        o.append("};\n")
        o.append(f"extern const uint32_t kTypeCount = {len(cat.types)};\n")
        o.append("extern const EnumDesc *const kEnums[] = {\n")
        for e in cat.enums:
            o.append(f"    &k_{e.name},\n")
        o.append("};\n")
        o.append(f"extern const uint32_t kEnumCount = {len(cat.enums)};\n\n")
        o.append("}  // namespace orva\n")
        return "".join(o)

    # ----------------------------------------------------------------------
    def types_in_nesting_order(self):
        """The record types, each after the types it holds (its descriptor
        refers to theirs, and constant expressions see only what precedes)."""
        names = {t.name: t for t in self.cat.types}
        done, out = set(), []

        def visit(t):
            if t.name in done:
                return
            done.add(t.name)
            for f in t.fields:
                if f.kind in names:
                    visit(names[f.kind])
            out.append(t)
        for t in self.cat.types:
            visit(t)
        return out

    def descriptors_header(self) -> str:
        """The descriptors as constant expressions: the engines instantiate
        their per-type operations over them at compile time."""
        cat = self.cat
        o = [BANNER, "// The catalogue's descriptors as constant expressions (frame/descriptors.h).\n",
             "#pragma once\n\n#include <cstddef>\n#include <iterator>\n\n",
             '#include "frame/descriptors.h"\n#include "orva_qos_data/orva_qos_data_decls.h"\n\n',
             "namespace orva {\n\n"]
        # Message indexes per entity.
        for scope, entities in (("type", cat.types), ("enum", cat.enums)):
            for ent in entities:
                idx = ", ".join(str(i) for i in self.msgs_of(scope, ent.name))
                o.append(f"namespace gen {{ inline constexpr uint16_t {ent.name}_msgs[] = {{{idx}}}; }}\n")
                o.append(f"static_assert(std::size(gen::{ent.name}_msgs) == size_t(Msg::Count));\n")
        o.append("\n")
        # Enumerations.
        for e in cat.enums:
            members = ", ".join(c_string(m.name) for m in e.members)
            o.append(f"namespace gen {{\ninline constexpr const char *{e.name}_members[] = {{{members}}};\n")
            o.append(f"inline mox_enum_obj_t {e.name}_placeholder;\n}}  // namespace gen\n")
            o.append(f"inline constexpr EnumDesc k_{e.name} = {{{{{c_string(e.name)}, &{type_info_symbol(e)}, "
                     f"{e.highest}, gen::{e.name}_msgs}}, gen::{e.name}_members, {len(e.members)}, "
                     f"{{{e.count_up_to(0)}, {e.count_up_to(1)}}}, &gen::{e.name}_placeholder, "
                     f"{c_string('<' + e.name + ' value out of range/>')}}};\n")
        o.append("\n")
        # Record types, each after the types it holds.
        enum_names = {e.name for e in cat.enums}
        type_names = {t.name for t in cat.types}
        index = {t.name: i for i, t in enumerate(cat.types)}
        R = self.records
        for t in self.types_in_nesting_order():
            o.append(f"namespace gen {{\ninline {t.name} {t.name}_placeholder;\n")
            o.append(f"inline constexpr FieldDesc {t.name}_fields[] = {{\n")
            for f, off, size, state, area, ptr, msg, flags, count in R.descriptor_fields(t):
                if f.kind in type_names:
                    kind, rec, en = "Record", f"&k_{f.kind}", "nullptr"
                elif f.kind in enum_names:
                    kind, rec, en = "Enum", "nullptr", f"&k_{f.kind}"
                else:
                    kind, rec, en = KIND_ENUMERATORS[f.kind], "nullptr", "nullptr"
                o.append(f"    {{{c_string(f.name)}, Kind::{kind}, Shape::{SHAPES[f.shape]}, {f.bound}, "
                         f"{f.variant}, {'true' if f.key else 'false'}, {rec}, {en}, uint32_t({off}), "
                         f"uint32_t({size}), uint16_t({state}), uint16_t({area}), uint16_t({ptr}), "
                         f"{msg}, {flags}, {count}}},\n")
            o.append("};\n}  // namespace gen\n")
            v0, end = R.data_sizes(t)
            st0, st1 = R.state_sizes(t)
            links = f"offsetof({t.name}, links)" if t.name in R.list_elements else "0"
            o.append(f"inline constexpr TypeDesc k_{t.name} = {{{{{c_string(t.name)}, &{type_info_symbol(t)}, "
                     f"{t.highest}, gen::{t.name}_msgs}}, gen::{t.name}_fields, {len(t.fields)}, "
                     f"{{uint32_t({v0}), uint32_t({end})}}, {{uint32_t({st0}), uint32_t({st1})}}, "
                     f"sizeof({t.name}), {R.type_ops_mask(t)}, &gen::{t.name}_placeholder, "
                     f"uint32_t({links}), {index[t.name]}}};\n\n")
        o.append("// Every record type in catalogue order (TypeDesc::index): X(name) per type.\n")
        o.append("#define ORVA_EACH_TYPE(X) \\\n")
        o.append("".join(f"  X({t.name}) \\\n" for t in cat.types))
        o.append("\n\n}  // namespace orva\n")
        return "".join(o)

    # ----------------------------------------------------------------------
    def layout_checks(self) -> str:
        o = [BANNER, "// Included by frame/layout.cc, also compiled for a 32-bit target.\n\n"]
        for e in self.cat.enums:
            c = enum_ctype(e)
            o.append(f"static_assert(sizeof({c}) == sizeof(mox_enum_obj_t), \"{c} size\");\n")
            o.append(f"static_assert(offsetof({c}, value) == offsetof(mox_enum_obj_t, value), "
                     f"\"{c} value offset\");\n")
            used = {v.used for v in e.variants}
            o.append(f"static_assert(!kTarget32 || sizeof({c}) == {max(used)}, \"{c} 32-bit size\");\n")
        o.append(self.records.layout_checks())
        return "".join(o)

    def version_script(self) -> str:
        names = sorted(set(self.exports + [n for _, n in MODULE_DATA]))
        body = "".join(f"    {n};\n" for n in names)
        return "/* Generated: exactly the exports of liborva_qos_data. */\n{\n  global:\n" + body + \
               "  local:\n    *;\n};\n"


def write_if_changed(path: str, text: str) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        with open(path) as f:
            if f.read() == text:
                os.utime(path)
                return
    with open(path, "w") as f:
        f.write(text)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--catalogue", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--build", action="append", default=[], metavar="KEY=VALUE",
                    help="a line of the manifest's build record")
    args = ap.parse_args()
    try:
        with open(args.catalogue, "rb") as f:
            catalogue_bytes = f.read()
        cat = cat_mod.parse(catalogue_bytes.decode())
        build = [tuple(item.split("=", 1)) for item in args.build]
        manifest = Manifest(cat).source(BANNER, build, catalogue_bytes)
    except cat_mod.CatalogueError as e:
        print(f"{args.catalogue}: {e}", file=sys.stderr)
        return 1
    gen = Generator(cat)
    files = {
        "orva_qos_data/orva_qos_data_decls.h": gen.decls_header(),
        "exports.inc": gen.exports_inc(),
        "catalogue_tables.inc": gen.tables_inc(),
        "catalogue_descriptors.h": gen.descriptors_header(),
        "layout_checks.inc": gen.layout_checks(),
        "table_descriptors.h": gen.tables.descriptors_header(BANNER, type_info_symbol),
        "table_framing.h": table_framing.header(BANNER, cat, gen.msg_index),
    }
    files["orva_qos_data.map"] = gen.version_script()
    files["manifest.cc"] = manifest
    for rel, text in files.items():
        write_if_changed(os.path.join(args.out, rel), text)
    reference.write(os.path.join(args.out, "reference"), cat, files["orva_qos_data/orva_qos_data_decls.h"],
                    files["orva_qos_data.map"], type_info_symbol, write_if_changed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
