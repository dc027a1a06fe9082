"""Reader and checker of the orva_qos_data catalogue (types/catalogue.qos).

The catalogue is pure data; this module turns it into a small object model
and refuses anything inconsistent (unknown kinds, duplicate names, variant-1
fields that are not last, figures that disagree with the variants), so that
every generated file starts from a checked model.
"""

import re
import shlex
from dataclasses import dataclass, field
from typing import Dict, List, Optional

PRIMITIVES = {
    # name: (boolean/enumeration accessor flag, scalar)
    "u_int8": (0, True),
    "u_int16": (0, True),
    "u_int32": (0, True),
    "u_int64": (0, True),
    "int16": (0, True),
    "mox_boolean": (1, True),
    "mox_mac_addr": (0, False),
    "mox_vstring": (0, False),
    "ip_address": (0, False),
    "calendar_time": (0, False),
    "enm_client_type": (1, True),
    "enm_radio_band_type": (1, True),
}


class CatalogueError(Exception):
    pass


@dataclass
class Variant:
    number: int
    used: int
    slop: int


@dataclass
class Field:
    name: str
    kind: str           # primitive, enumeration or record type name
    shape: str          # "single", "array", "dynamic", "list"
    bound: int = 0      # array bound
    key: bool = False
    variant: int = 0
    count_of: Optional[str] = None
    extra_ops: List[str] = field(default_factory=list)  # "+set", "+get_value", "+mem"
    line: int = 0


@dataclass
class Entity:
    name: str
    luid: str
    variants: List[Variant]
    kind: str           # "type", "enum", "table", "table_record", "message"
    line: int = 0
    manifest: Optional[int] = None  # the size its manifest line states

    @property
    def highest(self) -> int:
        return max(v.number for v in self.variants)

    @property
    def luid_bytes(self) -> List[int]:
        return [int(self.luid[i:i + 2], 16) for i in range(0, 32, 2)]


TYPE_OPS = {"sizeof", "embed", "post_copyout", "state_only", "no_compare", "create_cr",
            "offset_update", "is_valid", "clone", "clone_internal"}
FIELD_OPS = {"+set", "+get_value", "+mem"}


@dataclass
class Type(Entity):
    fields: List[Field] = field(default_factory=list)
    ops: List[str] = field(default_factory=list)

    def has(self, op: str) -> bool:
        return op in self.ops


@dataclass
class Member:
    name: str
    variant: int


@dataclass
class Enum(Entity):
    members: List[Member] = field(default_factory=list)

    def count_up_to(self, variant: int) -> int:
        return sum(1 for m in self.members if m.variant <= variant)


TABLE_OPS = {"get_cr", "request_free", "record_destroy_cr", "next_ignore_src", "search_only"}


@dataclass
class Table(Entity):
    record: Optional[Entity] = None
    data: str = ""
    key: str = ""       # the key field of the data type, or a key record type
    ops: List[str] = field(default_factory=list)

    def has(self, op: str) -> bool:
        return op in self.ops


@dataclass
class Message(Entity):
    payload: str = ""


@dataclass
class TraceEntry:
    scope: str          # "type", "enum", "module"
    ident: str
    level: int
    text: str


@dataclass
class TraceSection:
    number: int
    luid: str
    entries: List[TraceEntry] = field(default_factory=list)


@dataclass
class Catalogue:
    module: str = ""
    types: List[Type] = field(default_factory=list)
    enums: List[Enum] = field(default_factory=list)
    tables: List[Table] = field(default_factory=list)
    message: Optional[Message] = None
    sections: List[TraceSection] = field(default_factory=list)

    def type(self, name: str) -> Type:
        for t in self.types:
            if t.name == name:
                return t
        raise KeyError(name)

    def enum(self, name: str) -> Optional[Enum]:
        for e in self.enums:
            if e.name == name:
                return e
        return None

    def type_info_list(self) -> List[Entity]:
        """The 58 type-info records in list order."""
        out: List[Entity] = list(self.types) + list(self.enums)
        for t in self.tables:
            out += [t, t.record]
        if self.message:
            out.append(self.message)
        return out


# Trace scopes: one message per record type, enumeration, the module, or per
# field of a shape (fixed arrays, dynamic arrays, lists, released objects).
TRACE_SCOPES = ("type", "enum", "module", "array", "dynamic", "list", "released", "table")

LUID_RE = re.compile(r"^[0-9a-f]{32}$")
NAME_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
VARIANT_RE = re.compile(r"^(\d+):(\d+)/(\d+)$")
MANIFEST_RE = re.compile(r"^manifest=(\d+)$")
KIND_RE = re.compile(r"^(list<)?([A-Za-z_][A-Za-z0-9_]*)(>)?(\[(\d*)\])?$")


def _variants(words, line):
    out = []
    for w in words:
        m = VARIANT_RE.match(w)
        if not m:
            raise CatalogueError(f"line {line}: bad variant figure {w!r}")
        out.append(Variant(int(m.group(1)), int(m.group(2)), int(m.group(3))))
    if not out:
        raise CatalogueError(f"line {line}: no variant figures")
    return out


def _entity_head(words, line):
    """NAME LUID VARIANTS... manifest=SIZE"""
    if len(words) < 5:
        raise CatalogueError(f"line {line}: expected NAME LUID VARIANTS manifest=SIZE")
    name, luid = words[1], words[2]
    if not NAME_RE.match(name):
        raise CatalogueError(f"line {line}: bad name {name!r}")
    if not LUID_RE.match(luid):
        raise CatalogueError(f"line {line}: bad luid {luid!r}")
    m = MANIFEST_RE.match(words[-1])
    if not m:
        raise CatalogueError(f"line {line}: expected manifest=SIZE last")
    return name, luid, _variants(words[3:-1], line), int(m.group(1))


def _field(words, line):
    name, kind = words[0], words[1]
    m = KIND_RE.match(kind)
    if not m or bool(m.group(1)) != bool(m.group(3)):
        raise CatalogueError(f"line {line}: bad kind {kind!r}")
    f = Field(name=name, kind=m.group(2), shape="single", line=line)
    if m.group(1):
        f.shape = "list"
    elif m.group(4) is not None:
        if m.group(5):
            f.shape, f.bound = "array", int(m.group(5))
        else:
            f.shape = "dynamic"
    for flag in words[2:]:
        if flag == "key":
            f.key = True
        elif flag == "v1":
            f.variant = 1
        elif flag.startswith("count_of="):
            f.count_of = flag.split("=", 1)[1]
        elif flag in FIELD_OPS:
            f.extra_ops.append(flag)
        else:
            raise CatalogueError(f"line {line}: unknown field flag {flag!r}")
    return f


def parse(text: str) -> Catalogue:
    cat = Catalogue()
    current = None
    for number, raw in enumerate(text.splitlines(), 1):
        words = shlex.split(raw, comments=True)
        if not words:
            continue
        indented = raw[0].isspace()
        if not indented:
            head = words[0]
            if head == "module":
                cat.module = words[1]
                current = None
            elif head == "type":
                name, luid, vs, size = _entity_head(words, number)
                current = Type(name, luid, vs, "type", number, size)
                cat.types.append(current)
            elif head == "enum":
                name, luid, vs, size = _entity_head(words, number)
                current = Enum(name, luid, vs, "enum", number, size)
                cat.enums.append(current)
            elif head == "table":
                name, luid, vs, size = _entity_head(words, number)
                current = Table(name, luid, vs, "table", number, size)
                cat.tables.append(current)
            elif head == "message":
                name, luid, vs, size = _entity_head(words, number)
                current = Message(name, luid, vs, "message", number, size)
                cat.message = current
            elif head == "trace":
                current = TraceSection(int(words[1]), words[2])
                if not LUID_RE.match(current.luid):
                    raise CatalogueError(f"line {number}: bad section luid")
                cat.sections.append(current)
            else:
                raise CatalogueError(f"line {number}: unknown statement {head!r}")
            continue
        if isinstance(current, Type) and words[0] == "+":
            unknown = set(words[1:]) - TYPE_OPS
            if unknown:
                raise CatalogueError(f"line {number}: unknown type operations {sorted(unknown)}")
            current.ops += words[1:]
        elif isinstance(current, Type):
            current.fields.append(_field(words, number))
        elif isinstance(current, Enum):
            variant = 1 if words[1:] == ["v1"] else 0
            if words[1:] not in ([], ["v1"]):
                raise CatalogueError(f"line {number}: bad member line")
            current.members.append(Member(words[0], variant))
        elif isinstance(current, Table):
            if words[0] == "record":
                name, luid, vs, size = _entity_head(words, number)
                current.record = Entity(name, luid, vs, "table_record", number, size)
            elif words[0] == "data":
                current.data = words[1]
            elif words[0] == "key":
                current.key = words[1]
            elif words[0] == "+":
                unknown = set(words[1:]) - TABLE_OPS
                if unknown:
                    raise CatalogueError(f"line {number}: unknown table operations {sorted(unknown)}")
                current.ops += words[1:]
            else:
                raise CatalogueError(f"line {number}: unknown table item {words[0]!r}")
        elif isinstance(current, Message):
            if words[0] != "payload":
                raise CatalogueError(f"line {number}: unknown message item {words[0]!r}")
            current.payload = words[1]
        elif isinstance(current, TraceSection):
            if len(words) != 4 or words[0] not in TRACE_SCOPES:
                raise CatalogueError(f"line {number}: expected SCOPE ID LEVEL \"TEXT\"")
            current.entries.append(TraceEntry(words[0], words[1], int(words[2], 0), words[3]))
        else:
            raise CatalogueError(f"line {number}: indented line outside a statement")
    check(cat)
    return cat


def check(cat: Catalogue) -> None:
    names = [e.name for e in cat.type_info_list()]
    dupes = {n for n in names if names.count(n) > 1}
    if dupes:
        raise CatalogueError(f"duplicate names: {sorted(dupes)}")
    luids = [e.luid for e in cat.type_info_list()]
    if len(set(luids)) != len(luids):
        raise CatalogueError("duplicate luids")
    type_names = {t.name for t in cat.types}
    enum_names = {e.name for e in cat.enums}
    for t in cat.types:
        numbers = [v.number for v in t.variants]
        if numbers != list(range(len(numbers))):
            raise CatalogueError(f"{t.name}: variants must count from 0")
        seen = set()
        seen_v1 = False
        for f in t.fields:
            if f.name in seen:
                raise CatalogueError(f"{t.name}: duplicate field {f.name}")
            seen.add(f.name)
            if f.kind not in PRIMITIVES and f.kind not in type_names and f.kind not in enum_names:
                raise CatalogueError(f"{t.name}.{f.name}: unknown kind {f.kind}")
            if f.variant > t.highest:
                raise CatalogueError(f"{t.name}.{f.name}: variant above the type's latest")
            if f.variant:
                seen_v1 = True
            elif seen_v1:
                raise CatalogueError(f"{t.name}.{f.name}: variant-0 field after a variant-1 field")
            if f.shape in ("dynamic", "list") and f.kind not in type_names:
                raise CatalogueError(f"{t.name}.{f.name}: {f.shape} of a non-record kind")
            if f.count_of and f.count_of not in [g.name for g in t.fields]:
                raise CatalogueError(f"{t.name}.{f.name}: count_of names no field")
    for e in cat.enums:
        if not e.members:
            raise CatalogueError(f"{e.name}: no members")
        if max(m.variant for m in e.members) > e.highest:
            raise CatalogueError(f"{e.name}: member of a variant the enumeration lacks")
        if [m.variant for m in e.members] != sorted(m.variant for m in e.members):
            raise CatalogueError(f"{e.name}: newer members must come last")
    for t in cat.tables:
        if t.record is None or t.data not in type_names or not t.key:
            raise CatalogueError(f"{t.name}: incomplete table")
        keys = [f for f in cat.type(t.data).fields if f.key]
        if t.key not in type_names and [f.name for f in keys] != [t.key]:
            raise CatalogueError(f"{t.name}: key {t.key} is neither a record type nor the data "
                                 f"type's one key field")
    if cat.message and cat.message.payload not in type_names:
        raise CatalogueError("message payload is not a record type")
    for s in cat.sections:
        ids = [(e.scope, e.ident) for e in s.entries]
        if len(set(ids)) != len(ids):
            raise CatalogueError(f"trace section {s.number}: duplicate entry")
