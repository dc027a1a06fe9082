"""Record types: C structs, descriptors, exported operations and layout checks.

Everything here is derived from the catalogue: the accessor rule (which
operations a field has, by its kind and shape, plus the exceptions the
catalogue marks with +set, +get_value, +mem), the lifecycle operations (the
common ones plus the type operations the catalogue lists), the record-level
copy of every nested type, the list operations of list fields, the exported
printer of the types that stand alone.
"""

from layout import Layouts
from xml_ops import xml_ops

CTYPES = {
    "u_int8": "uint8_t",
    "u_int16": "uint16_t",
    "u_int32": "uint32_t",
    "u_int64": "orva_u64_t",
    "int16": "int16_t",
    "mox_boolean": "mox_boolean_t",
    "mox_mac_addr": "mox_mac_addr_t",
    "mox_vstring": "mox_vstring_t",
    "ip_address": "ip_address_t",
    "calendar_time": "calendar_time_t",
    "enm_client_type": "enm_client_type_t",
    "enm_radio_band_type": "enm_radio_band_type_t",
}
VALUE_TYPES = {
    "u_int8": "uint8_t",
    "u_int16": "uint16_t",
    "u_int32": "uint32_t",
    "u_int64": "uint64_t",
    "int16": "int16_t",
    "mox_boolean": "uint32_t",
    "enm_client_type": "uint32_t",
    "enm_radio_band_type": "uint32_t",
}
SCALAR_PRIMITIVES = set(VALUE_TYPES)
RELEASED = {"mox_mac_addr", "mox_vstring", "ip_address", "calendar_time"}

H = "mox_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Records:
    def __init__(self, cat, msg_index):
        self.cat = cat
        self.L = Layouts(cat)
        self.types = {t.name: t for t in cat.types}
        self.enums = {e.name: e for e in cat.enums}
        self.msg_index = msg_index
        self.nested = {f.kind for t in cat.types for f in t.fields
                       if f.kind in self.types and f.shape != "list"}
        self.list_elements = {f.kind for t in cat.types for f in t.fields if f.shape == "list"}
        standalone = {t.data for t in cat.tables} | {t.key for t in cat.tables if t.key in self.types}
        if cat.message:
            standalone.add(cat.message.payload)
        self.standalone = standalone
        problems = [p for t in cat.types for p in self.L.check_figures(t)]
        if problems:
            raise ValueError("; ".join(problems))

    # -- helpers --------------------------------------------------------------
    def order(self):
        """Types in an order where every embedded type comes before its users."""
        done, out = set(), []

        def visit(name):
            if name in done:
                return
            done.add(name)
            for f in self.types[name].fields:
                if f.kind in self.types and f.shape in ("single", "array"):
                    visit(f.kind)
            out.append(self.types[name])

        for t in self.cat.types:
            visit(t.name)
        return out

    def ctype(self, kind):
        if kind in CTYPES:
            return CTYPES[kind]
        if kind in self.enums:
            return f"{kind}_t"
        return f"struct {kind}"

    def is_scalar(self, kind):
        return kind in SCALAR_PRIMITIVES or kind in self.enums

    def value_type(self, kind):
        return VALUE_TYPES.get(kind, "uint32_t")

    def field_ops(self, t, f):
        """The accessor operations of field f, by the kind rule and its exceptions."""
        if t.has("state_only"):
            return ["state_flag_get"]
        if f.count_of:
            return ["get", "get_value"]
        if f.shape == "list":
            return ["state_flag_get", "state_flag_set"]
        if f.shape == "dynamic":
            return ["get", "set", "remove_elements", "state_flag_get", "state_flag_set",
                    "state_flag_whole_get", "state_flag_whole_set"]
        if f.shape == "array":
            ops = ["get", "set"]
            if self.is_scalar(f.kind):
                ops.append("set_value")
            ops += ["state_flag_get", "state_flag_set", "state_flag_whole_get", "state_flag_whole_set"]
            if "+mem" in f.extra_ops:
                ops += ["get_mem", "set_mem_cr"]
            return ops
        if f.kind in self.types:
            return ["get", "set", "state_flag_get", "state_flag_set"]
        ops = ["get"]
        if "+get_value" in f.extra_ops:
            ops.append("get_value")
        if "+set" in f.extra_ops:
            ops.append("set")
        if self.is_scalar(f.kind):
            ops.append("set_value")
        return ops + ["state_flag_get", "state_flag_set"]

    # -- C declarations -------------------------------------------------------
    def structs(self):
        o = ["/* Record types: header, then the fields in declaration order. */\n",
             "typedef uint64_t orva_u64_t __attribute__((aligned(8)));\n",
             "/* Head of a list field: first and last entry (the head itself when empty),\n"
             " * the record holding the head, and the number of entries. */\n",
             "typedef struct orva_list_head {\n  void *first;\n  void *last;\n  void *list;\n"
             "  uint32_t count;\n} orva_list_head_t;\n",
             "/* Links of a list entry: its list's head (null when unlinked), next, prev. */\n",
             "typedef struct orva_list_links {\n  void *owner;\n  void *next;\n  void *prev;\n"
             "} orva_list_links_t;\n\n"]
        for t in self.cat.types:
            o.append(f"typedef struct {t.name} {t.name};\n")
        o.append("\n")
        for t in self.order():
            o.append(f"struct {t.name} {{\n  MOX_OBJ_HEADER;\n")
            if t.name in self.list_elements:
                o.append("  orva_list_links_t links;\n")
            for f in t.fields:
                if f.shape == "dynamic":
                    o.append(f"  struct {f.kind} *{f.name};\n")
                elif f.shape == "list":
                    o.append(f"  orva_list_head_t {f.name};\n")
                elif f.shape == "array":
                    o.append(f"  {self.ctype(f.kind)} {f.name}[{f.bound}];\n")
                else:
                    o.append(f"  {self.ctype(f.kind)} {f.name};\n")
            used, storage, _ = self.L.record32(t.name)
            if storage > used:
                o.append(f"  uint8_t orva_slop[{storage - used}]; /* allocation slop */\n")
            o.append("};\n")
        return "".join(o)

    def operations(self):
        """(return type, name, parameters, engine call) of every record operation."""
        ops = []
        for t in self.cat.types:
            ops += self.lifecycle_ops(t)
            ops += self.print_ops(t)
            for i, f in enumerate(t.fields):
                ops += self.accessor_ops(t, i, f)
            ops += xml_ops(t)
            if t.name in self.nested:
                src = f"{t.name} *src" if self.has_list(t) else f"const {t.name} *src"
                ops.append(("uint32_t", f"{t.name}_set", f"{H}, {DB}, {t.name} *dst, {src}, {ERR}",
                            f"return orva::record_set(orva::k_{t.name}, h, db, dst, (void *)src, err);"))
            if t.has("post_copyout"):
                src = f"{t.name} *src" if self.has_list(t) else f"const {t.name} *src"
                if self.has_list(t):
                    ops.append(("void", f"{t.name}_post_copyout_cleanup", f"{H}, {DB}, {t.name} *dst, {src}",
                                f"orva::record_post_copyout_cleanup(orva::k_{t.name}, h, db, dst, (void *)src, nullptr);"))
                else:
                    ops.append(("void", f"{t.name}_post_copyout_cleanup",
                                f"{H}, {DB}, {t.name} *dst, {src}, {ERR}",
                                f"orva::record_post_copyout_cleanup(orva::k_{t.name}, h, db, dst, (void *)src, err);"))
            if not t.has("no_compare"):
                ops.append(("int32_t", f"{t.name}_compare", f"const {t.name} *a, const {t.name} *b",
                            f"return orva::type_compare<orva::k_{t.name}>(a, b);"))
            ops += self.wire_ops(t)
        return ops

    def wire_ops(self, t):
        """The wire form of every type, and cloning where the catalogue lists it."""
        n, k = t.name, f"orva::k_{t.name}"
        ops = [
            ("uint32_t", f"{n}_len", f"{H}, {DB}, const {n} *obj",
             f"return orva::wire_len<{k}>(h, db, obj);"),
            ("uint32_t", f"{n}_marshal", f"{H}, {DB}, uint8_t *buf, const {n} *obj, int32_t buflen, {ERR}",
             f"return orva::wire_marshal<{k}>(h, db, buf, obj, buflen, 1, err);"),
            ("uint32_t", f"{n}_marshal_internal",
             f"{H}, {DB}, uint8_t *buf, const {n} *obj, int32_t buflen, uint32_t domain_check, {ERR}",
             f"return orva::wire_marshal<{k}>(h, db, buf, obj, buflen, domain_check, err);"),
            ("uint32_t", f"{n}_unmarshal",
             f"{H}, {DB}, const uint8_t *buf, {n} *obj, int32_t len, uint32_t in_place, {ERR}",
             f"return orva::wire_unmarshal<{k}>(h, db, buf, obj, len, in_place, err);"),
        ]
        clone = f"{H}, {DB}, const {n} *src, {n} **dst, uint8_t *buf, int32_t buflen, {ERR}"
        if t.has("clone"):
            ops.append(("uint32_t", f"{n}_clone", clone,
                        f"return orva::record_clone({k}, h, db, src, (void **)dst, buf, buflen, true, err);"))
        if t.has("clone") or t.has("clone_internal"):
            ops.append(("uint32_t", f"{n}_clone_internal", clone,
                        f"return orva::record_clone({k}, h, db, src, (void **)dst, buf, buflen, false, err);"))
        return ops

    def print_ops(self, t):
        """T_print of the types that stand alone; the others print only inside a parent."""
        if t.name not in self.standalone:
            return []
        return [("uint32_t", f"{t.name}_print",
                 f"{H}, {DB}, char *buf, uint32_t indent, const char *label, const {t.name} *obj, "
                 f"int32_t buflen, {ERR}",
                 f"return orva::type_print<orva::k_{t.name}>(h, db, buf, indent, label, obj, buflen, err);")]

    def has_list(self, t):
        return any(f.shape == "list" for f in t.fields)

    def lifecycle_ops(self, t):
        n, k = t.name, f"orva::k_{t.name}"
        ops = [
            (f"{n} *", f"{n}_create", f"{H}, {DB}", f"return ({n} *)orva::record_create({k}, h, db);"),
            ("uint32_t", f"{n}_initialize",
             f"{H}, {DB}, {n} *obj, mox_type_info_t *ti, uint32_t notify, uint32_t skip_stats, "
             f"uint32_t flags, uint8_t *sttr_base, {ERR}",
             f"return orva::record_initialize({k}, h, db, obj, ti, notify, skip_stats, flags, sttr_base, err);"),
            ("void", f"{n}_destroy", f"{H}, {DB}, {n} *obj", f"orva::record_destroy({k}, h, db, obj);"),
            ("void", f"{n}_destroy_internal", f"{H}, {DB}, {n} *obj, uint32_t free_storage",
             f"orva::record_destroy_internal({k}, h, db, obj, free_storage);"),
            ("uint32_t", f"{n}_sizeof_internal",
             f"{H}, const {n} *obj, uint32_t with_state, uint32_t state_only",
             f"return orva::record_sizeof_internal({k}, h, obj, with_state, state_only);"),
        ]
        if t.has("create_cr"):
            ops += [(f"{n} *", f"{n}_create_cr", H, f"return ({n} *)orva::record_create_cr({k}, h);"),
                    ("void", f"{n}_destroy_cr", f"{H}, {n} *obj", f"orva::record_destroy_cr({k}, h, obj);")]
        if t.has("sizeof"):
            ops += [("uint32_t", f"{n}_sizeof", H, f"return orva::record_sizeof({k}, h);"),
                    ("void", f"{n}_adjust_variant", f"{H}, {DB}, {n} *obj, {ERR}",
                     f"orva::record_adjust_variant({k}, h, db, obj, err);")]
        if t.has("embed"):
            ops.append(("void", f"{n}_set_instance_embedded", f"{H}, {DB}, {n} *obj",
                        f"orva::record_set_instance_embedded({k}, h, db, obj);"))
        if t.has("offset_update"):
            ops.append(("void", f"{n}_offset_update", f"{H}, {DB}, {n} *obj, uint8_t *sttr_area",
                        f"orva::record_offset_update({k}, h, db, obj, sttr_area);"))
        if t.has("is_valid"):
            ops.append(("uint32_t", f"{n}_is_valid_cr",
                        f"{H}, const {n} *obj, uint32_t field_index, uint32_t flags",
                        f"return orva::record_is_valid_cr({k}, h, obj, field_index, flags);"))
        return ops

    def accessor_ops(self, t, i, f):
        n, k = t.name, f"orva::k_{t.name}"
        base = f"{n}_{f.name}"
        elem = self.ctype(f.kind)
        indexed = f.shape in ("array", "dynamic")
        idx = ", uint32_t index" if indexed else ""
        ix = ", index" if indexed else ""
        at = "_at" if indexed else ""
        ops = []
        for op in self.field_ops(t, f):
            if op == "get":
                ops.append((f"{elem} *", f"{base}_get", f"{H}, {DB}, {n} *obj{idx}, {ERR}",
                            f"return ({elem} *)orva::field_get{at}({k}, {i}, h, db, obj{ix}, err);"))
            elif op == "get_value":
                rt = "uint8_t" if f.count_of else "uint32_t"
                ops.append((rt, f"{base}_get_value", f"{H}, {DB}, {n} *obj, {ERR}",
                            f"return ({rt})orva::field_get_value({k}, {i}, h, db, obj, err);"))
            elif op == "set":
                ops.append(("uint32_t", f"{base}_set", f"{H}, {DB}, {n} *obj{idx}, const {elem} *src, {ERR}",
                            f"return orva::field_set{at}({k}, {i}, h, db, obj{ix}, src, err);"))
            elif op == "set_value":
                vt = self.value_type(f.kind)
                ops.append(("uint32_t", f"{base}_set_value", f"{H}, {DB}, {n} *obj{idx}, {vt} value, {ERR}",
                            f"return orva::field_set_value{at}({k}, {i}, h, db, obj{ix}, (uint64_t)value, err);"))
            elif op == "state_flag_get":
                ops.append(("uint8_t", f"{base}_state_flag_get", f"{H}, {DB}, {n} *obj{idx}, {ERR}",
                            f"return orva::field_state_get{at}({k}, {i}, h, db, obj{ix}, err);"))
            elif op == "state_flag_set":
                ops.append(("uint32_t", f"{base}_state_flag_set",
                            f"{H}, {DB}, {n} *obj{idx}, uint32_t value, {ERR}",
                            f"return orva::field_state_set{at}({k}, {i}, h, db, obj{ix}, value, err);"))
            elif op == "state_flag_whole_get":
                ops.append(("uint8_t", f"{base}_state_flag_whole_get", f"{H}, {DB}, {n} *obj, {ERR}",
                            f"return orva::field_state_get({k}, {i}, h, db, obj, err);"))
            elif op == "state_flag_whole_set":
                ops.append(("uint32_t", f"{base}_state_flag_whole_set",
                            f"{H}, {DB}, {n} *obj, uint32_t value, {ERR}",
                            f"return orva::field_state_set({k}, {i}, h, db, obj, value, err);"))
            elif op == "get_mem":
                ops.append(("uint32_t *", f"{base}_get_mem",
                            f"{H}, {DB}, {n} *obj, uint32_t *dst, uint32_t count, {ERR}",
                            f"return orva::field_get_mem({k}, {i}, h, db, obj, dst, count, err);"))
            elif op == "set_mem_cr":
                ops.append(("uint32_t", f"{base}_set_mem_cr",
                            f"{H}, {n} *obj, const uint32_t *src, uint32_t count",
                            f"return orva::field_set_mem_cr({k}, {i}, h, obj, src, count);"))
            elif op == "remove_elements":
                ops.append(("void", f"{base}_remove_elements", f"{H}, {DB}, {n} *obj",
                            f"orva::field_remove_elements({k}, {i}, h, db, obj);"))
        if f.shape == "list":
            e = f"struct {f.kind}"
            ops += [
                (f"{e} *", f"{base}_get_first", f"{H}, {DB}, {n} *list, {ERR}",
                 f"return ({e} *)orva::list_get_first({k}, {i}, h, db, list, err);"),
                (f"{e} *", f"{base}_get_last", f"{H}, {DB}, {n} *list, {ERR}",
                 f"return ({e} *)orva::list_get_last({k}, {i}, h, db, list, err);"),
                (f"{e} *", f"{base}_get_next", f"{H}, {DB}, {n} *list, {e} *entry, {ERR}",
                 f"return ({e} *)orva::list_get_next({k}, {i}, h, db, list, entry, err);"),
                ("uint32_t", f"{base}_get_count", f"{H}, {DB}, {n} *list, {ERR}",
                 f"return orva::list_get_count({k}, {i}, h, db, list, err);"),
                ("uint32_t", f"{base}_set_last", f"{H}, {DB}, {n} *list, {e} *entry, {ERR}",
                 f"return orva::list_set_last({k}, {i}, h, db, list, entry, err);"),
                ("uint32_t", f"{base}_set_after", f"{H}, {DB}, {n} *list, {e} *ref, {e} *entry, {ERR}",
                 f"return orva::list_set_after({k}, {i}, h, db, list, ref, entry, err);"),
                ("uint32_t", f"{base}_remove", f"{H}, {DB}, {n} *list, {e} *entry, {ERR}",
                 f"return orva::list_remove({k}, {i}, h, db, list, entry, err);"),
            ]
        return ops

    # -- descriptors ------------------------------------------------------------
    def field_msg(self, t, f):
        scope = None
        if f.shape == "array":
            scope = "array"
        elif f.shape == "dynamic":
            scope = "dynamic"
        elif f.shape == "list":
            scope = "list"
        elif f.kind in RELEASED:
            scope = "released"
        if scope is None:
            return "kNoMsg"
        found = [i for (sec, sc, name, ident), i in self.msg_index.items()
                 if sec == 2 and sc == scope and name == f"{t.name}.{f.name}"]
        return str(min(found)) if found else "kNoMsg"

    def type_ops_mask(self, t):
        bits = []
        for op, bit in (("sizeof", "kOpSizeof"), ("embed", "kOpEmbed"), ("post_copyout", "kOpPostCopyout"),
                        ("state_only", "kOpStateOnly"), ("no_compare", "kOpNoCompare"),
                        ("create_cr", "kOpCreateCr"), ("offset_update", "kOpOffsetUpdate"),
                        ("is_valid", "kOpIsValid"), ("clone", "kOpClone"),
                        ("clone_internal", "kOpCloneInternal")):
            if t.has(op) or (op == "clone_internal" and t.has("clone")):
                bits.append(bit)
        if t.name in self.nested:
            bits.append("kOpRecordSet")
        if t.name in self.standalone:
            bits.append("kOpPrint")
        if t.name in self.list_elements:
            bits.append("kOpListElement")
        return " | ".join(bits) or "0"

    def descriptor_fields(self, t):
        """The C++ initializers of t's field descriptors (kinds come from the caller)."""
        s32, s64 = self.L.state(t.name, 4), self.L.state(t.name, 8)
        out = []
        for i, f in enumerate(t.fields):
            a, b = s32.slots[f.name], s64.slots[f.name]
            if f.shape == "list":
                size = "sizeof(orva_list_head_t)"
            elif f.shape == "dynamic":
                size = f"sizeof(struct {f.kind})"
            elif f.shape == "array":
                size = f"sizeof((({t.name} *)0)->{f.name}[0])"
            else:
                size = f"sizeof((({t.name} *)0)->{f.name})"

            def pick(x, y):
                x = "kNoState" if x is None else str(x)
                y = "kNoState" if y is None else str(y)
                return x if x == y else f"ORVA_BY_TARGET({x}, {y})"

            state = pick(a and a.pos, b and b.pos) if a else "kNoState"
            area = pick(a.area, b.area) if a else "kNoState"
            pointer = pick(a.pointer, b.pointer) if a else "kNoState"
            count = next((j for j, g in enumerate(t.fields) if g.count_of == f.name), -1)
            flags = []
            if f.kind in ("mox_boolean", "enm_client_type", "enm_radio_band_type") or f.kind in self.enums:
                flags.append("kFieldEnumFlag")
            if f.count_of:
                flags.append("kFieldCount")
            out.append((f, f"offsetof({t.name}, {f.name})", size, state, area, pointer,
                        self.field_msg(t, f), " | ".join(flags) or "0", count))
        return out

    def data_sizes(self, t):
        last = t.fields[-1]
        end = f"offsetof({t.name}, {last.name}) + sizeof((({t.name} *)0)->{last.name})"
        newer = next((f for f in t.fields if f.variant > 0), None)
        v0 = f"offsetof({t.name}, {newer.name})" if newer else end
        return v0, end

    def state_sizes(self, t):
        out = []
        for sv in (0, t.highest):
            a, b = self.L.state_size(t.name, 4, sv), self.L.state_size(t.name, 8, sv)
            out.append(str(a) if a == b else f"ORVA_BY_TARGET({a}, {b})")
        return out

    def layout_checks(self):
        o = ["\n// Record layouts: on a 32-bit target the data size of every type is the\n"
             "// used length of its highest variant and a record takes used length plus\n"
             "// allocation slop inside its parent.\n"]
        for t in self.cat.types:
            used, storage, _ = self.L.record32(t.name)
            v0, end = self.data_sizes(t)
            o.append(f"static_assert(!kTarget32 || sizeof({t.name}) == {storage}, \"{t.name} storage\");\n")
            o.append(f"static_assert(!kTarget32 || {end} == {t.variants[-1].used}, \"{t.name} data size\");\n")
            if t.highest:
                o.append(f"static_assert(!kTarget32 || {v0} == {t.variants[0].used}, "
                         f"\"{t.name} variant-0 data size\");\n")
            for fname, off in self.L.offsets32[t.name].items():
                o.append(f"static_assert(!kTarget32 || offsetof({t.name}, {fname}) == {off});\n")
        return "".join(o)
