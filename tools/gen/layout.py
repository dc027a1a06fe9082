"""Layouts derived from the catalogue: record layouts on a 32-bit target and
state-tracking areas on both targets.

The compiler lays the generated structs out; this module computes the same
layout for a 32-bit target so that the generator can refuse a catalogue whose
figures (used length, allocation slop) disagree with its fields, and it
computes the state-tracking positions, which are the module's own layout.
"""

from dataclasses import dataclass, field
from typing import Dict, List, Optional

# (size, alignment) on a 32-bit target; pointer words are 4 bytes there.
PRIMITIVE_32 = {
    "u_int8": (1, 1),
    "u_int16": (2, 2),
    "u_int32": (4, 4),
    "u_int64": (8, 8),
    "int16": (2, 2),
    "mox_boolean": (4, 4),
    "mox_mac_addr": (6, 1),
    "mox_vstring": (8, 4),
    "ip_address": (24, 4),
    "calendar_time": (16, 8),
    "enm_client_type": (12, 4),
    "enm_radio_band_type": (12, 4),
}
ENUM_OBJECT_32 = (12, 4)
HEADER_32 = 7          # type-info word, variant, storage variant, flags
LIST_HEAD_32 = (16, 4)  # first, last, list, count
LIST_LINKS_32 = (12, 4)  # owner, next, prev


def align_up(n: int, a: int) -> int:
    return (n + a - 1) // a * a


@dataclass
class StateSlot:
    pos: int                  # the field's own (or whole-array) byte
    elements: int = 0         # per-element bytes following it (arrays)
    area: Optional[int] = None  # first nested area (records, arrays of records)
    pointer: Optional[int] = None  # per-element state block pointer (dynamic array)


@dataclass
class StateLayout:
    slots: Dict[str, Optional[StateSlot]] = field(default_factory=dict)
    size: List[int] = field(default_factory=list)  # per storage variant


class Layouts:
    def __init__(self, cat):
        self.cat = cat
        self.types = {t.name: t for t in cat.types}
        self.enums = {e.name for e in cat.enums}
        self.list_elements = {f.kind for t in cat.types for f in t.fields if f.shape == "list"}
        self._size32: Dict[str, tuple] = {}
        self._state: Dict[tuple, StateLayout] = {}

    # -- 32-bit record layout -------------------------------------------------
    def kind32(self, kind: str):
        if kind in PRIMITIVE_32:
            return PRIMITIVE_32[kind]
        if kind in self.enums:
            return ENUM_OBJECT_32
        return self.record32(kind)[1:]

    def record32(self, name: str):
        """(used length of the highest variant, storage size, alignment), and
        the offsets of the fields, on a 32-bit target."""
        if name in self._size32:
            return self._size32[name]
        t = self.types[name]
        pos, align = HEADER_32, 4
        offsets = {}
        if name in self.list_elements:
            pos = align_up(pos, LIST_LINKS_32[1]) + LIST_LINKS_32[0]
        for f in t.fields:
            if f.shape == "dynamic":
                size, a = 4, 4
            elif f.shape == "list":
                size, a = LIST_HEAD_32
            else:
                size, a = self.kind32(f.kind)
                if f.shape == "array":
                    size *= f.bound
            pos = align_up(pos, a)
            offsets[f.name] = pos
            pos += size
            align = max(align, a)
        used = pos
        slop = t.variants[-1].slop
        storage = used + slop
        self._size32[name] = (used, storage, align)
        self.offsets32 = getattr(self, "offsets32", {})
        self.offsets32[name] = offsets
        return self._size32[name]

    def check_figures(self, t) -> List[str]:
        """Differences between the catalogue's variant figures and the fields."""
        problems = []
        used, storage, align = self.record32(t.name)
        offsets = self.offsets32[t.name]
        for v in t.variants:
            first_newer = next((f for f in t.fields if f.variant > v.number), None)
            v_used = offsets[first_newer.name] if first_newer else used
            if v_used != v.used:
                problems.append(f"{t.name} variant {v.number}: fields use {v_used} bytes, "
                                f"catalogue says {v.used}")
            if v.used + v.slop != storage:
                problems.append(f"{t.name} variant {v.number}: storage {v.used}+{v.slop} "
                                f"differs from {storage}")
        if storage % align:
            problems.append(f"{t.name}: storage {storage} not a multiple of its alignment {align}")
        return problems

    # -- state-tracking areas ---------------------------------------------------
    def state(self, name: str, pointer: int, storage_variant: Optional[int] = None) -> StateLayout:
        t = self.types[name]
        sv = t.highest if storage_variant is None else storage_variant
        key = (name, pointer, sv)
        if key in self._state:
            return self._state[key]
        out = StateLayout()
        pos = 0
        has_pointer = False
        for f in t.fields:
            if f.variant > sv:
                out.slots[f.name] = None
                continue
            if f.count_of:
                out.slots[f.name] = None
                continue
            slot = StateSlot(pos)
            if f.shape == "single" and f.kind in self.types:
                slot.area = pos + 1
                pos += 1 + self.state_size(f.kind, pointer)
            elif f.shape == "array":
                slot.elements = f.bound
                pos += 1 + f.bound
                if f.kind in self.types:
                    slot.area = pos
                    pos += f.bound * self.state_size(f.kind, pointer)
            elif f.shape == "dynamic":
                slot.pointer = align_up(pos + 1, pointer)
                pos = slot.pointer + pointer
                has_pointer = True
            else:
                pos += 1
            out.slots[f.name] = slot
        size = align_up(pos, pointer) if has_pointer else pos
        out.size = [size]
        self._state[key] = out
        return out

    def state_size(self, name: str, pointer: int, storage_variant: Optional[int] = None) -> int:
        return self.state(name, pointer, storage_variant).size[0]
