"""The API reference of orva_qos_data, in Markdown, made at build time.

Input: the catalogue (fields, kinds, variants, tables, the message), the
generated C declaration header (the prototypes, written by the same pass as
the wrappers) and the linker version script (exactly the exported names).
Output: one page per record type, enumeration, table and the message, a page
of the registration operations, and index.md grouped by family.

Each exported name is placed on the page of the entity whose name is its
longest prefix and described by the row of DESCRIPTIONS keyed by its scope
and suffix.  A new family lands by adding a row; an exported name without a
row, or without a declaration, stops the generator.
"""

import os
import re

import tables
import table_framing

# (scope, suffix) -> one line: what it does, what it returns, which errors.
# Scopes: "record" (operation of a record type, suffix after "<type>_"),
# "field" (accessor, suffix after "<type>_<field>_"), "enum", "table",
# "message", "module" (the full name), "type_info" (the type-info record).
# Every operation with an error slot does nothing when *err is non-zero on
# entry (index.md says so once); the errors named here are the ones it sets.
DESCRIPTIONS = {
    ("record", "create"): "Allocates a record of the latest variant and initializes it (nested records, arrays, "
                          "enumerations; a zeroed state area when tracking is on). Returns the record, or null "
                          "when storage or initialization fails (no error slot).",
    ("record", "create_cr"): "As `_create`, with the database id from the handle's `current_db`. Returns the record; "
                             "when storage fails, a placeholder and 12 in the handle's `last_error`.",
    ("record", "initialize"): "Initializes a record in storage the caller provides (`flags` 4: nested, its state "
                              "bytes at `sttr_base`). Returns 0 or the error. Errors: 22 (nested without a state "
                              "base), 12.",
    ("record", "destroy"): "Releases what the record owns (strings, addresses, times, the dynamic array, list "
                           "entries) and frees its block; null does nothing. Returns nothing.",
    ("record", "destroy_cr"): "As `_destroy`, with the database id from the handle's `current_db`. Returns nothing.",
    ("record", "destroy_internal"): "As `_destroy`, freeing the record's own block only when `free_storage` is "
                                    "non-zero (embedded records). Returns nothing; a failed mapping removal stops "
                                    "it with the error in the handle's `last_error`.",
    ("record", "sizeof_internal"): "Returns the bytes of the record: data only, data and state area (`with_state`), "
                                   "or the state area alone (`state_only`). No error slot.",
    ("record", "sizeof"): "Returns the bytes a new record of the type takes under the handle's tracking mode. "
                          "No error slot.",
    ("record", "adjust_variant"): "Brings the record's instance variant up to the type's latest where its storage "
                                  "allows (setters call it first). Returns nothing. Errors: those of the runtime's "
                                  "variant adjustment.",
    ("record", "set_instance_embedded"): "Marks the record as embedded in another one, so that destroying it does "
                                         "not free its block. Returns nothing.",
    ("record", "offset_update"): "Tells the runtime where the state bytes of the record and of each nested record "
                                 "are, for the state area at `sttr_area`. Returns nothing.",
    ("record", "is_valid_cr"): "Returns 1 when field `field_index` exists at the record's variant, else 0. No error "
                               "slot.",
    ("record", "set"): "Copies the whole record `src` into `dst` (state area included when both are tracked), then "
                       "gives `dst` its own copies of owned members. Returns 0 or the error. Errors: 43 (`dst` of a "
                       "lower variant or another storage variant), 22 (`dst` not state-tracked).",
    ("record", "post_copyout_cleanup"): "After a byte copy of `src` into `dst`, sets `dst`'s owned members "
                                        "(strings, addresses, times, list entries) again so that nothing is shared. "
                                        "Returns nothing. Errors: those of the members' setters (12).",
    ("record", "compare"): "Orders two records field by field in catalogue order; a null record sorts first. "
                           "Returns <0, 0 or >0. No error slot.",
    ("record", "len"): "Returns the bytes of the record's wire form under the handle's domain. No error slot.",
    ("record", "marshal"): "Encodes the record's wire form into `buf`, at the variant the handle's domain allows. "
                           "Returns the bytes written. Errors: 90 (buffer too short), 43 (variant above the "
                           "domain: encoded at the domain's).",
    ("record", "marshal_internal"): "As `_marshal`, checking the domain only when `domain_check` is non-zero. "
                                    "Returns the bytes written. Errors: 90, 43.",
    ("record", "unmarshal"): "Decodes `len` bytes of wire form into an initialized record; bytes of a newer variant "
                             "are skipped. Returns the bytes read. Errors: 90 (input too short), 12 (storage, or "
                             "the handle's decode budget exceeded).",
    ("record", "clone"): "Creates a new record `*dst` with the content of `src`, through its wire form in `buf`. "
                         "Returns the bytes of the wire form. Errors: 2 (null `dst` or `buf`), 90 (`buf` too "
                         "short: nothing created), 12.",
    ("record", "clone_internal"): "As `_clone`, into the record `*dst` holds (a new one when it holds null). "
                                  "Returns the bytes of the wire form. Errors: 2, 90, 12.",
    ("record", "to_xml"): "Renders the record as the element `name` into `buf`, with `state` on its start tag. "
                          "Returns the characters written. Errors: 90 (out of room; the text is cut).",
    ("record", "from_xml"): "Fills an initialized record from the element at `path` of `doc`; absent fields are "
                            "skipped. Returns nothing. Errors: 2 (no such element), 12, 14 (`call_record` count "
                            "mismatch); a failed look-up writes its message into `msg`.",
    ("record", "print"): "Prints the record as an indented text block labelled `label` into `buf`. Returns the "
                         "characters written. Errors: 90 (out of room; the text is cut).",
    ("field", "get"): "Returns a pointer to the field (to element `index` of an array) inside the record, or null. "
                      "Errors: 43 (variant), 2 (index not below the bound or the count).",
    ("field", "get_value"): "Returns the field's value (for a count: the number of elements of its array); 0 on "
                            "failure. Errors: 43.",
    ("field", "set"): "Copies `*src` into the field (into element `index`; the dynamic array grows to hold it) and "
                      "marks its state byte 2 when tracking is on. Returns 0 or the error. Errors: 43, 22 (index "
                      "not below the bound, or a record not state-tracked), 12 (growth).",
    ("field", "set_value"): "Stores `value` in the field (element `index`) and marks its state byte 2 when "
                            "tracking is on. Returns 0 or the error. Errors: 43, 2 (index out of range), 22 (record "
                            "not state-tracked; the value is written all the same).",
    ("field", "state_flag_get"): "Returns the field's change-state byte (element `index`'s for an array): 0 "
                                 "unchanged, 2 modified; 0 on failure. Errors: 22 (tracking off or record not "
                                 "tracked), 2 (index), 43.",
    ("field", "state_flag_set"): "Stores the low 8 bits of `value` as the field's change-state byte (element "
                                 "`index`'s). Returns 0 or the error. Errors: 22 (tracking off or record not "
                                 "tracked), 2 (index), 43.",
    ("field", "state_flag_whole_get"): "Returns the change-state byte of the array as a whole; 0 on failure. "
                                       "Errors: 22, 43.",
    ("field", "state_flag_whole_set"): "Stores the low 8 bits of `value` as the array's whole change-state byte. "
                                       "Returns 0 or the error. Errors: 22, 43.",
    ("field", "get_mem"): "Copies the first `count` elements (at most 2) into `dst`. Returns `dst`, or null. "
                          "Errors: 22 (count above 2), 43.",
    ("field", "set_mem_cr"): "Copies `count` elements (at most 2) from `src` into the array and marks its whole "
                             "byte 2, error slot the handle's `last_error`. Returns `last_error`. Errors: 22, 43.",
    ("field", "remove_elements"): "Frees the elements of the dynamic array (its per-element state block stays "
                                  "until the record is destroyed). Returns nothing.",
    ("field", "get_first"): "Returns the first entry of the list, or null when it is empty. Errors: 43.",
    ("field", "get_last"): "Returns the last entry of the list, or null when it is empty. Errors: 43.",
    ("field", "get_next"): "Returns the entry after `entry` (the first for null), or null at the end. Errors: 43.",
    ("field", "get_count"): "Returns the number of entries of the list. Errors: 43.",
    ("field", "set_last"): "Appends the unlinked `entry` (the caller's duty) to the list, which then owns it. "
                           "Returns 0 or the error. Errors: 43, 22 (list not state-tracked; linked all the same).",
    ("field", "set_after"): "Links the unlinked `entry` after `ref` (at the front for null). Returns 0 or the "
                            "error. Errors: 43, 22 (as `_set_last`).",
    ("field", "remove"): "Unlinks `entry` (a member of this list, the caller's duty); the caller owns it again. "
                         "Returns 0 or the error. Errors: 43.",
    ("enum", "create"): "Allocates and initializes a one-value object holding member 0. Returns it, or null when "
                        "storage fails.",
    ("enum", "create_internal"): "As `_create`. Returns the object, or null.",
    ("enum", "initialize"): "Initializes an object in storage the caller provides. Returns 0 or the error. "
                            "Errors: 12.",
    ("enum", "destroy"): "Frees an object made by `_create`. Returns nothing.",
    ("enum", "destroy_internal"): "As `_destroy`, freeing the block only when `free_storage` is non-zero. Returns "
                                  "nothing.",
    ("enum", "get_value"): "Returns the object's member value; 0 on failure. Errors: 22 (null object).",
    ("enum", "set_value"): "Stores `value`. Returns 0 or the error. Errors: 43 (a member the object's variant does "
                           "not have: value unchanged).",
    ("enum", "compare"): "Orders two objects by value; null sorts first. Returns <0, 0 or >0. No error slot.",
    ("enum", "marshal"): "Encodes the object (5 bytes) into `buf`. Returns the bytes written. Errors: 90, 43 "
                         "(encoded at the domain's variant).",
    ("enum", "unmarshal"): "Decodes an object from `len` bytes. Returns the bytes read. Errors: 90.",
    ("enum", "to_xml"): "Renders the element `name` holding the member as an empty element into `out`. Returns the "
                        "characters written. Errors: 90.",
    ("enum", "from_xml"): "Reads the member element under `path` of `doc` into the object. Returns nothing. "
                          "Errors: 2 (no member element), a look-up's error (its message in `msg`).",
    ("type_info", ""): "The static type-info record (magic, luid, name, module, kind, variant information) that "
                       "`_initialize` takes and the registration copies into the runtime's type registry.",
    ("message", "message_create"): "Creates a message with its payload (initialized), header fields set. Returns "
                                    "the message, or null when storage fails.",
    ("message", "message_create_cr"): "As `_create` with the database id from the handle; a failure returns the "
                                       "message's placeholder and 12 in the handle's `last_error`.",
    ("message", "message_create_shallow"): "As `_create` without a payload (decoders attach a fresh one). Returns "
                                            "the message or null.",
    ("message", "message_destroy"): "Destroys the payload and frees the message; null or the placeholder: "
                                     "nothing. Returns nothing.",
    ("message", "message_len"): "Returns the wire length: the payload's length plus 43 (27-byte header, "
                                 "16-byte identifier); 0 for a null message.",
    ("message", "message_qos_client_call_data_get"): "Returns the payload; null (and a trace) with an error in "
                                                      "the slot or a null message.",
    ("message", "message_marshal"): "Checks the domain and, with an open bundle, the bundle; writes header, "
                                     "identifier and payload. Returns the position reached (never more than "
                                     "`buflen`). Errors: 52 (domain), 22 (bundle), 90, 2 (null argument).",
    ("message", "message_unmarshal"): "Decodes a frame, records it when the recorder is on and dispatches it to "
                                       "`handler`, else the process's handler. Returns the bytes read. Errors: "
                                       "the decoder's (message released), 38 (no handler: the message is "
                                       "destroyed unless `out` is given).",
    ("message", "message_unmarshal_only"): "Decodes a frame into a fresh message in `*out` (also after a failure: "
                                            "the caller destroys it), skipping the identifier. Returns the bytes "
                                            "read. Errors: 74 (header), 90, 12, the payload decoder's.",
    ("message", "message_print"): "Writes the text form into `buf`. Returns the characters written. Errors: 90.",
    ("message", "message_to_xml"): "Writes the element `qos_client_data` with the payload into `buf`. Returns "
                                    "the characters written. Errors: 90.",
    ("message", "message_from_xml"): "Creates a message and fills its payload from `//qos_client_call_data` of "
                                      "`doc` (absent: initial values). Returns the message or null. Errors: 12, "
                                      "a look-up's error (its text in `msgbuf`).",
    ("module", "message_qos_client_data_luid"): "The message's 16-byte identifier, written after the wire header.",
    ("module", "message_qos_client_data_name"): "\"message qos_client_data\": names the message to the bundle "
                                                 "registry.",
    ("module", "orva_qos_data_typeinfo_initialize"): "Copies each of the module's type-info records into the "
                                                     "handle's type registry unless it is there. Returns 0 or the "
                                                     "error. Errors: 12 (earlier records stay registered).",
    ("module", "mox_orva_qos_data_trace_init"): "Registers the module's trace module with the trace facility "
                                                "(done on first use; calling it again does nothing). Returns "
                                                "nothing.",
    ("module", "orva_qos_data_bundle_handler_register"): "Registers the owning process's bundle handler here and "
                                                         "with the three sibling registries. Returns the handler "
                                                         "registered before.",
    ("module", "orva_qos_data_bundle_handler_unregister"): "Removes the bundle handler here and from the sibling "
                                                           "registries. Returns the handler removed.",
    ("module", "orva_qos_data_bundle_registered_handler"): "The bundle handler registered last, or null.",
    ("module", "g_mox_orva_qos_data_trace_module_id"): "The module's trace module id, filled by the trace "
                                                        "facility on registration.",
}

# The table operations' rows live beside their wrappers (tools/gen/tables.py).
DESCRIPTIONS.update(tables.reference_rows())
DESCRIPTIONS.update(table_framing.reference_rows())

KIND_TITLES = {"type": "Record types", "enum": "Enumerations", "table": "Tables", "message": "Message"}
TWO_STEP = {"mox_mac_addr": "mox_mac_addr_set_value", "mox_vstring": "mox_vstring_set_value",
            "ip_address": "ip_address_set_value", "calendar_time": "calendar_time_set_value"}

FUNC = re.compile(r"^(?!typedef|extern|#)(?P<ret>[^(]*?)\s*\b(?P<name>\w+)\((?P<params>.*)\);$")
DATA = re.compile(r"^extern (?P<type>.+?)\s*\b(?P<name>\w+)(\[\d+\])?;$")


class ReferenceError(Exception):
    pass


def declarations(header):
    """name -> its C declaration, read from the generated header."""
    out = {}
    for line in header.splitlines():
        m = FUNC.match(line) or DATA.match(line)
        if m:
            out[m.group("name")] = line
    return out


def exported(version_script):
    return [ln.strip().rstrip(";") for ln in version_script.splitlines()
            if re.fullmatch(r"\s+\w+;", ln) and ln.strip() != "*;"]


class Reference:
    def __init__(self, cat, header, version_script, type_info_symbol):
        self.cat = cat
        self.decls = declarations(header)
        self.entities = list(cat.types) + list(cat.enums) + list(cat.tables) + \
            ([cat.message] if cat.message else [])
        self.type_info_owner = {type_info_symbol(e): e for e in cat.type_info_list()}
        self.table_of = {t.record.name: t for t in cat.tables}
        self.table_names = {t.name for t in cat.tables}
        # entity name -> [(section, name, description)] in export-list order
        self.ops = {e.name: [] for e in self.entities}
        self.ops["module"] = []
        self.used = {}         # (scope, suffix) -> exported names it describes
        names = set(exported(version_script))
        undeclared = sorted(names - set(self.decls))
        if undeclared:
            raise ReferenceError(f"exported name(s) without a declaration in the generated header: "
                                 f"{', '.join(undeclared[:5])}")
        missing = []
        for name in (n for n in self.decls if n in names):   # declaration order
            placed = self.place(name)
            if placed is None:
                missing.append(name)
            else:
                owner, order, section, text = placed
                self.ops[owner].append((order, section, name, text))
        for ops in self.ops.values():
            ops.sort(key=lambda op: op[0])   # stable: declaration order within a section
        if missing:
            raise ReferenceError(
                f"{len(missing)} exported name(s) without a description, first {', '.join(missing[:5])}: "
                "add a row to DESCRIPTIONS in tools/gen/reference.py")

    def place(self, name):
        """(owner page, order, section, description) of an exported name, or None."""
        if name in self.type_info_owner:
            e = self.type_info_owner[name]
            owner = self.table_of[e.name] if e.name in self.table_of else e
            return owner.name, -2, "Type-info record", DESCRIPTIONS[("type_info", "")]
        identity = re.fullmatch(table_framing.IDENTITY_RE, name)
        if identity and identity.group(1) in self.table_names:
            return identity.group(1), -3, "Identity", DESCRIPTIONS[("table_identity", identity.group(2))]
        prefixes = [e for e in self.entities if name.startswith(e.name + "_")]
        if not prefixes:
            text = DESCRIPTIONS.get(("module", name))
            return ("module", 0, "Registration", text) if text else None
        e = max(prefixes, key=lambda x: len(x.name))
        rest = name[len(e.name) + 1:]
        fields = sorted(enumerate(getattr(e, "fields", [])), key=lambda f: -len(f[1].name))
        for i, f in fields:
            key = ("field", rest[len(f.name) + 1:])
            if rest.startswith(f.name + "_") and key in DESCRIPTIONS:
                self.used[key] = self.used.get(key, 0) + 1
                return e.name, i, f"Field `{f.name}`", DESCRIPTIONS[key]
        if e.kind == "table":   # key index and carried records: one row for all tables
            rest = tables.reference_name(e, rest)
        key = ({"type": "record"}.get(e.kind, e.kind), rest)
        if key not in DESCRIPTIONS:
            return None
        self.used[key] = self.used.get(key, 0) + 1
        return e.name, -1, "Operations of the type", DESCRIPTIONS[key]

    # -- pages -------------------------------------------------------------------
    def op_sections(self, owner):
        o, current = [], None
        for _, section, name, text in self.ops[owner]:
            if section != current:
                o.append(f"\n### {section}\n")
                current = section
            o.append(f"\n```c\n{self.decls[name]}\n```\n{text}\n")
        return o or ["\nNo exported operations yet.\n"]

    def header(self, e, what):
        variants = ", ".join(f"{v.number} ({v.used} bytes)" for v in e.variants)
        return [f"# {e.name}\n\n[Index](index.md) · {what} · luid `{e.luid}` · variants {variants}\n"]

    def type_page(self, t):
        o = self.header(t, "record type")
        o.append("\n## Fields\n\n| # | Field | Kind | Shape | Since variant | Notes |\n|---|---|---|---|---|---|\n")
        for i, f in enumerate(t.fields):
            shape = {"array": f"array [{f.bound}]", "dynamic": "dynamic array", "list": "list"}.get(f.shape, f.shape)
            notes = []
            if f.key:
                notes.append("key")
            if f.count_of:
                notes.append(f"count of `{f.count_of}`")
            if f.kind in TWO_STEP and f.shape == "single":
                notes.append(f"set in two steps: `_get`, then `{TWO_STEP[f.kind]}` on the pointer")
            kind = f"[`{f.kind}`]({f.kind}.md)" if f.kind in self.page_names else f"`{f.kind}`"
            o.append(f"| {i} | `{f.name}` | {kind} | {shape} | {f.variant} | {'; '.join(notes)} |\n")
        o.append("\n## Exported operations and data\n")
        return "".join(o + self.op_sections(t.name))

    def enum_page(self, e):
        o = self.header(e, "enumeration")
        o.append("\n## Members\n\n| Value | Member | Since variant |\n|---|---|---|\n")
        o += [f"| {i} | `{m.name}` | {m.variant} |\n" for i, m in enumerate(e.members)]
        o.append("\n## Exported operations and data\n")
        return "".join(o + self.op_sections(e.name))

    def table_page(self, t):
        o = self.header(t, "table")
        o.append(f"\nTable record `{t.record.name}` (luid `{t.record.luid}`); data record "
                 f"[`{t.data}`]({t.data}.md); key `{t.key}`.\n\n## Exported operations and data\n")
        return "".join(o + self.op_sections(t.name))

    def message_page(self, m):
        o = self.header(m, "message")
        o.append(f"\nPayload [`{m.payload}`]({m.payload}.md).\n\n## Exported operations and data\n")
        return "".join(o + self.op_sections(m.name))

    def module_page(self):
        o = ["# Registration\n\n[Index](index.md) · module-wide operations and data\n"]
        return "".join(o + self.op_sections("module"))

    def index(self):
        total = sum(len(v) for v in self.ops.values())
        o = [f"# {self.cat.module} API reference\n\n",
             f"Generated from the catalogue: {total} exported names. Declarations: "
             "`#include <orva_qos_data/orva_qos_data.h>`. A first program: "
             "[first-program.md](../first-program.md).\n\n",
             "Conventions of every operation: the MOX handle first, the database id second "
             "(`MOX_NO_DB` for private memory), the error slot last. An operation entered with a non-zero "
             "`*err` does nothing; failures are errno values stored in `*err` and in the handle's "
             "`last_error`; 43 and 52 are domain errors (`mox_store_epoch_err`). A corrupt handle "
             "(state-tracking mode other than on or off) or a corrupt type-info record stops the process. "
             "`_cr` operations take the database id and the error slot from the handle.\n\n",
             "- [Registration](module.md): "
             f"{len(self.ops['module'])} operations and data\n"]
        for kind, title in KIND_TITLES.items():
            group = [e for e in self.entities if e.kind == kind]
            if not group:
                continue
            o.append(f"\n## {title}\n\n| Name | Operations | Holds |\n|---|---|---|\n")
            for e in group:
                holds = {"type": lambda: f"{len(e.fields)} fields", "enum": lambda: f"{len(e.members)} members",
                         "table": lambda: f"`{e.data}` by `{e.key}`",
                         "message": lambda: f"`{e.payload}`"}[kind]()
                o.append(f"| [`{e.name}`]({e.name}.md) | {len(self.ops[e.name])} | {holds} |\n")
        o.append("\n## Operation families\n\n| Family | Suffix | Exported | What it does |\n|---|---|---|---|\n")
        for (scope, suffix), text in DESCRIPTIONS.items():
            if scope in ("record", "field", "enum", "table", "message"):
                o.append(f"| {scope} | `_{suffix}` | {self.used.get((scope, suffix), 'not yet')} | {text} |\n")
        return "".join(o)

    def pages(self):
        self.page_names = {e.name for e in self.entities}
        out = {"index.md": self.index(), "module.md": self.module_page()}
        makers = {"type": self.type_page, "enum": self.enum_page, "table": self.table_page,
                  "message": self.message_page}
        for e in self.entities:
            out[f"{e.name}.md"] = makers[e.kind](e)
        return out


def write(out_dir, cat, header, version_script, type_info_symbol, write_file):
    """Writes the pages into out_dir and removes pages of entities that are gone."""
    try:
        pages = Reference(cat, header, version_script, type_info_symbol).pages()
    except ReferenceError as e:
        raise SystemExit(f"tools/gen/reference.py: {e}")
    if os.path.isdir(out_dir):
        for stale in set(os.listdir(out_dir)) - set(pages):
            if stale.endswith(".md"):
                os.remove(os.path.join(out_dir, stale))
    for rel, text in pages.items():
        write_file(os.path.join(out_dir, rel), text)
