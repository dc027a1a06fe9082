// libFuzzer harness of the record API: operation sequences over a pool of
// records of every type, driven by the catalogue descriptors.
//
// Input: one byte for the handle's state-tracking configuration (none, off,
// on), then operations, each an opcode byte and its argument bytes (a missing
// byte reads as 0).  The pool has kSlots slots, each empty or holding one
// record the harness owns.  Entries linked into a list belong to the list,
// not to a slot: an entry leaves its slot when it is linked and comes back to
// one (or is destroyed) when it is removed, so no slot ever points at storage
// that a list may free.  The operations: create and destroy; get, set,
// set-value and state-flag operations on any field with indexes in and out of
// range and null or aliasing sources; growing and emptying the dynamic array;
// appending, inserting after and removing list entries, and handing entries
// to a list in ways it must refuse with 22; the record-level copy and the
// set of a nested record (into lists holding entries too); clone (into
// records holding entries too); marshal with a fresh and an in-place decode;
// compare.  Each operation checks what the API promises (see the `expect`
// calls).  At the end every record is destroyed and the handle's
// record_alloc / record_free counts and live record bytes must be back to
// zero.  A broken expectation aborts.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/kinds.h"
#include "fuzz_support.h"
#include "serial/wire.h"
#include "types/accessors.h"
#include "types/class_map_list.h"
#include "types/compare.h"
#include "types/lifecycle.h"

namespace {

using namespace orva;

constexpr uint32_t kDb = MOX_NO_DB;
constexpr int kSlots = 8;

const char *g_op = "";
const char *g_type = "";
void expect(bool ok, const char *what, uint64_t a = 0, uint64_t b = 0) {
  if (ok) return;
  std::fprintf(stderr, "api_fuzz: %s: %s (type %s): %llu vs %llu\n", g_op, what, g_type,
               static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

// The handle's record_alloc / record_free, wrapped to count the blocks live.
mox_alloc_fn g_alloc;
mox_free_fn g_free;
int64_t g_live;

struct Input {
  const uint8_t *p;
  size_t n;
  uint8_t u8() { return n != 0 ? (--n, *p++) : 0; }
  uint32_t u32() { return u8() | u8() << 8 | u8() << 16 | static_cast<uint32_t>(u8()) << 24; }
};

struct Slot { const TypeDesc *t = nullptr; void *obj = nullptr; };

// Where a record keeps a list: in a field of its own or of a directly nested
// record.
struct ListSite { const TypeDesc *lt = nullptr; uint16_t f = 0; uint32_t off = 0; };
ListSite list_site(const TypeDesc &t) {
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.shape == Shape::List) return {&t, i, 0};
    if (f.kind == Kind::Record && f.shape == Shape::Single)
      for (uint16_t j = 0; j < f.record->field_count; ++j)
        if (f.record->fields[j].shape == Shape::List) return {f.record, j, f.offset};
  }
  return {};
}
int dynamic_field(const TypeDesc &t) {
  for (uint16_t i = 0; i < t.field_count; ++i)
    if (t.fields[i].shape == Shape::Dynamic) return i;
  return -1;
}

class Run {
 public:
  explicit Run(uint32_t mode) : h_(mode) {}

  void step(Input &in) {
    uint8_t op = in.u8() % 16;
    Slot &s = slots_[in.u8() % kSlots];
    g_op = kOpNames[op];
    g_type = s.t != nullptr ? s.t->name : "-";
    if (op == 0) return create(s, in.u8());
    if (s.obj == nullptr) return;
    switch (op) {
      case 1: return destroy(s);
      case 2: case 3: case 4: case 5: return field_op(op, s, in);
      case 6: return dynamic_set(s, in);
      case 7: return dynamic_remove(s);
      case 8: case 9: case 10: return list_op(op, s, in);
      case 11: return record_copy(s, other(s, in.u8()));
      case 12: return clone(s, in.u8());
      case 13: return decode(s, nullptr);
      case 14: return decode(s, &other(s, in.u8()));
      default: return compare_with(s, other(s, in.u8()));
    }
  }

  void finish() {
    g_op = "finish";
    for (Slot &s : slots_) destroy(s);
    expect(g_live == 0, "record_alloc and record_free counts differ", g_live, 0);
    expect(h_.live_bytes() == 0, "record storage leaked", h_.live_bytes(), 0);
  }

  mox_handle_t *handle() const { return h_; }

 private:
  static constexpr const char *kOpNames[16] = {
      "create", "destroy", "get", "set", "set_value", "state_flag", "dynamic_set",
      "remove_elements", "list_link", "list_remove", "list_misuse", "record_set", "clone",
      "marshal_unmarshal", "unmarshal_in_place", "compare"};

  void create(Slot &s, uint8_t b) {
    destroy(s);
    // Half the creates repeat the type of another slot, so that operations
    // on two records of one type find a partner.
    const Slot &like = slots_[b % kSlots];
    s.t = (b & 0x80) && like.t != nullptr ? like.t : kTypes[b % kTypeCount];
    g_type = s.t->name;
    s.obj = record_create(*s.t, h_, kDb);
    expect(s.obj != nullptr, "create returned null");
  }
  void destroy(Slot &s) {
    if (s.obj != nullptr) record_destroy(*s.t, h_, kDb, s.obj);
    s = Slot{};
  }
  // The first slot from b on that holds a record of type t, or is empty
  // when t is null; null if there is none.
  Slot *find(const TypeDesc *t, uint8_t b) {
    for (int i = 0; i < kSlots; ++i)
      if (slots_[(b + i) % kSlots].t == t) return &slots_[(b + i) % kSlots];
    return nullptr;
  }
  // Another slot of s's type, or s itself.
  Slot &other(const Slot &s, uint8_t b) { return *find(s.t, b); }

  uint32_t count_of(const TypeDesc &t, const FieldDesc &f, const void *obj) const {
    return f.shape == Shape::Dynamic ? static_cast<const uint8_t *>(obj)[t.fields[f.count_field].offset]
                                     : f.bound;
  }

  void *get(const TypeDesc &t, uint16_t fi, void *obj, bool indexed, uint32_t index, uint32_t *err) {
    return indexed ? field_get_at(t, fi, h_, kDb, obj, index, err) : field_get(t, fi, h_, kDb, obj, err);
  }

  // Field operations: get, set from a source, set a value, state flags.
  void field_op(uint8_t op, Slot &s, Input &in) {
    const TypeDesc &t = *s.t;
    if (t.field_count == 0) return;
    uint16_t fi = in.u8() % t.field_count;
    const FieldDesc &f = t.fields[fi];
    if (f.shape == Shape::List || (f.flags & kFieldCount) != 0) return;
    bool indexed = f.shape != Shape::Single;
    uint32_t n = count_of(t, f, s.obj);
    uint32_t index = in.u8() % (n + 2);  // in range, and one or two beyond
    uint32_t err = 0;
    if (op == 5) {  // state flags (a state-only type has getters alone)
      const uint8_t v = in.u8() & 3;
      if ((in.u8() & 1) == 0 || (t.ops & kOpStateOnly) != 0)
        return void(indexed ? field_state_get_at(t, fi, h_, kDb, s.obj, index, &err)
                            : field_state_get(t, fi, h_, kDb, s.obj, &err));
      return void(indexed ? field_state_set_at(t, fi, h_, kDb, s.obj, index, v, &err)
                          : field_state_set(t, fi, h_, kDb, s.obj, v, &err));
    }
    if ((t.ops & kOpStateOnly) != 0) return;
    if (op == 3 && f.shape != Shape::Dynamic) {
      // The source: the same field of another record of the type (or of this
      // one), or null.
      Slot &o = other(s, in.u8());
      uint32_t oi = in.u8() % (f.shape == Shape::Single ? 1 : f.bound), e2 = 0;
      void *src = (in.u8() & 7) == 0 ? nullptr : get(t, fi, o.obj, indexed, oi, &e2);
      // A nested record holding a list: the destination's entries are
      // destroyed, the source's move.
      ListSite ls = f.kind == Kind::Record ? list_site(*f.record) : ListSite{};
      void *dst = ls.lt != nullptr && (!indexed || index < n) ? get(t, fi, s.obj, indexed, index, &e2)
                                                               : nullptr;
      Moved mv = dst != nullptr && src != nullptr ? before_move(ls, dst, src) : Moved{};
      indexed ? field_set_at(t, fi, h_, kDb, s.obj, index, src, &err)
              : field_set(t, fi, h_, kDb, s.obj, src, &err);
      if (indexed && index >= n) expect(err == 22, "set beyond the bound", index, err);
      if (src == nullptr && !indexed) expect(err != 0, "set from a null source succeeded");
      if (err == 0 && mv.checked) after_move(*f.record, ls, dst, src, mv);
      return;
    }
    void *p = get(t, fi, s.obj, indexed, index, &err);
    if (indexed && index >= n) expect(p == nullptr && err == 2, "get beyond the bound", index, err);
    if (op != 4 || f.shape == Shape::Dynamic) return;
    set_value(t, fi, s.obj, p, index, indexed, in);
  }

  void set_value(const TypeDesc &t, uint16_t fi, void *obj, void *p, uint32_t index,
                 bool indexed, Input &in) {
    static const char kText[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static const char *const kIps[] = {"10.1.2.3", "fe80::1:2", "", "300.1.1.1", nullptr};
    const FieldDesc &f = t.fields[fi];
    uint32_t err = 0;
    if (f.kind == Kind::Record) return;
    if (f.kind == Kind::Enum || kind_ops(f.kind).scalar) {
      uint64_t v = in.u32() | static_cast<uint64_t>(in.u32()) << 32;
      if (in.u8() & 1) v &= 7;
      indexed ? field_set_value_at(t, fi, h_, kDb, obj, index, v, &err)
              : field_set_value(t, fi, h_, kDb, obj, v, &err);
      if (indexed && index >= f.bound) expect(err == 22, "set_value beyond the bound", index, err);
      return;
    }
    uint8_t b = in.u8();
    uint8_t mac[6] = {b, in.u8(), in.u8(), 0, 0, in.u8()};
    if (p == nullptr) return;
    if (f.kind == Kind::VString)
      mox_vstring_set_value(h_, kDb, static_cast<mox_vstring_t *>(p),
                            b == 0xFF ? nullptr : kText + b % sizeof(kText), &err);
    else if (f.kind == Kind::MacAddr)
      mox_mac_addr_set_value(h_, kDb, static_cast<mox_mac_addr_t *>(p), mac, &err);
    else if (f.kind == Kind::IpAddress)
      ip_address_set_value(h_, kDb, static_cast<ip_address_t *>(p), kIps[b % 5], &err);
    else if (f.kind == Kind::CalendarTime)
      calendar_time_set_value(h_, kDb, static_cast<calendar_time_t *>(p),
                              static_cast<int32_t>(in.u32()), in.u32() % 1100000, &err);
  }

  // Grows the dynamic array (index 255 is beyond what the one-byte count can
  // hold and must be refused) and copies in a source: null, a record of the
  // element type, or an element of this or another record's array.
  void dynamic_set(Slot &s, Input &in) {
    int fi = dynamic_field(*s.t);
    if (fi < 0) return;
    const TypeDesc &t = *s.t;
    const FieldDesc &f = t.fields[fi];
    uint8_t b = in.u8();
    uint32_t index = b < 0xF0 ? b % 12 : b;
    uint32_t before = count_of(t, f, s.obj);
    void *src = nullptr;
    uint8_t which = in.u8();
    Slot &o = slots_[which % kSlots];
    if ((which & 0x30) == 0x10 && o.t == f.record) src = o.obj;
    if ((which & 0x30) == 0x20 && o.t == &t) {
      uint32_t e2 = 0;
      uint32_t n = count_of(t, f, o.obj);
      if (n != 0) src = field_get_at(t, fi, h_, kDb, o.obj, in.u8() % n, &e2);
    }
    uint32_t err = 0;
    dynamic_set_at(t, fi, h_, kDb, s.obj, index, src, (in.u8() & 1) != 0, &err);
    const uint32_t after = count_of(t, f, s.obj);
    if (index > 254) expect(err != 0 && after == before, "index beyond the one-byte count accepted", index, after);
    else if (err == 0) expect(after == std::max(before, index + 1), "count after set", after, index);
  }
  void dynamic_remove(Slot &s) {
    int fi = dynamic_field(*s.t);
    if (fi < 0) return;
    field_remove_elements(*s.t, fi, h_, kDb, s.obj);
    expect(count_of(*s.t, s.t->fields[fi], s.obj) == 0, "count after remove_elements");
  }

  // Lists.
  void *list_of(const ListSite &ls, void *obj) const { return static_cast<uint8_t *>(obj) + ls.off; }
  uint32_t list_count(const ListSite &ls, void *obj) {
    uint32_t err = 0;
    void *l = list_of(ls, obj);
    uint32_t n = list_get_count(*ls.lt, ls.f, h_, kDb, l, &err), walked = 0;
    for (void *e = list_get_first(*ls.lt, ls.f, h_, kDb, l, &err); e != nullptr && walked <= n;
         e = list_get_next(*ls.lt, ls.f, h_, kDb, l, e, &err))
      ++walked;
    expect(err == 0 && walked == n, "list walk and count differ", walked, n);
    return n;
  }
  void *nth_entry(const ListSite &ls, void *obj, uint32_t k) {
    uint32_t n = list_count(ls, obj), err = 0;
    if (n == 0) return nullptr;
    void *l = list_of(ls, obj);
    void *e = list_get_first(*ls.lt, ls.f, h_, kDb, l, &err);
    for (k %= n; k != 0; --k) e = list_get_next(*ls.lt, ls.f, h_, kDb, l, e, &err);
    return e;
  }

  void list_op(uint8_t op, Slot &s, Input &in) {
    ListSite ls = list_site(*s.t);
    if (ls.lt == nullptr) return;
    const TypeDesc &et = *ls.lt->fields[ls.f].record;
    void *l = list_of(ls, s.obj);
    uint32_t n = list_count(ls, s.obj), err = 0;
    uint8_t b = in.u8(), k = in.u8();
    Slot *es = find(&et, b);
    if (op == 8) {  // append, or insert after an entry of this list
      if (es == nullptr) return;
      void *ref = (b & 1) ? nth_entry(ls, s.obj, k) : nullptr;
      ref != nullptr ? list_set_after(*ls.lt, ls.f, h_, kDb, l, ref, es->obj, &err)
                     : list_set_last(*ls.lt, ls.f, h_, kDb, l, es->obj, &err);
      expect(err == 0, "linking an unlinked entry failed", err);
      *es = Slot{};  // the list owns it now
      expect(list_count(ls, s.obj) == n + 1, "count after linking", n + 1);
    } else if (op == 9) {  // remove: the entry goes back to a slot, or is destroyed
      void *e = nth_entry(ls, s.obj, k);
      if (e == nullptr) return;
      list_remove(*ls.lt, ls.f, h_, kDb, l, e, &err);
      expect(err == 0 && list_count(ls, s.obj) == n - 1, "remove of a linked entry", err, n);
      Slot *to = find(nullptr, 0);
      to != nullptr ? void(*to = Slot{&et, e}) : record_destroy(et, h_, kDb, e);
    } else {
      list_misuse(ls, s, et, es, b, k, in.u8());
    }
  }

  // Entries the list does not hold, or references it does not hold: each
  // must be refused with 22, leaving both lists as they were.
  void list_misuse(const ListSite &ls, Slot &s, const TypeDesc &et, Slot *es, uint8_t b, uint8_t k,
                   uint8_t how) {
    void *l = list_of(ls, s.obj);
    uint32_t n = list_count(ls, s.obj), err = 0;
    Slot &o = slots_[b % kSlots];  // a record holding another list, perhaps
    void *foreign = o.obj != nullptr && o.obj != s.obj && o.t == s.t ? nth_entry(ls, o.obj, k)
                                                                      : nullptr;
    void *own = nth_entry(ls, s.obj, k);
    void *unlinked = es != nullptr ? es->obj : nullptr;
    uint32_t on = foreign != nullptr ? list_count(ls, o.obj) : 0;
    void *e = unlinked, *ref = nullptr;
    switch (how % 4) {
      case 0: e = (how & 4) ? foreign : unlinked; break;  // remove: unlinked, or another list's
      case 1: e = (how & 4) ? foreign : own; break;       // append: linked here or elsewhere
      case 2: ref = foreign; break;  // insert after a reference this list does not hold
      default: ref = own, e = foreign != nullptr ? foreign : own;  // insert of a linked entry
    }
    if (e == nullptr || (how % 4 >= 2 && ref == nullptr)) return;
    how % 4 == 0 ? list_remove(*ls.lt, ls.f, h_, kDb, l, e, &err)
    : ref != nullptr ? list_set_after(*ls.lt, ls.f, h_, kDb, l, ref, e, &err)
                     : list_set_last(*ls.lt, ls.f, h_, kDb, l, e, &err);
    expect(err == 22, "list misuse not refused with 22", err, how % 4);
    expect(list_count(ls, s.obj) == n, "refused list operation changed the count", n);
    if (foreign != nullptr)
      expect(list_count(ls, o.obj) == on, "refused list operation changed the other list", on);
  }

  // A copy of src into dst, both records holding a list at ls: the counts
  // before, and the blocks that the destination's entries hold (each entry
  // and its strings).
  struct Moved { bool checked = false; uint32_t moved = 0; int64_t live = 0, held = 0; };
  Moved before_move(const ListSite &ls, void *dst, void *src) {
    if (dst == src) return {};
    const TypeDesc &et = *ls.lt->fields[ls.f].record;
    int64_t held = 0;
    for (uint32_t k = 0, n = list_count(ls, dst); k < n; ++k) {
      const uint8_t *e = static_cast<const uint8_t *>(nth_entry(ls, dst, k));
      ++held;
      for (uint16_t i = 0; i < et.field_count; ++i)
        if (et.fields[i].kind == Kind::VString)
          held += reinterpret_cast<const mox_vstring_t *>(e + et.fields[i].offset)->str != nullptr;
    }
    return {true, list_count(ls, src), g_live, held};
  }
  // After it: the destination holds exactly the source's entries, its own
  // were destroyed (for a type that owns nothing but its list, exactly their
  // blocks fewer are live), and the source is empty.
  void after_move(const TypeDesc &t, const ListSite &ls, void *dst, void *src, const Moved &mv) {
    expect(list_count(ls, dst) == mv.moved && list_count(ls, src) == 0, "entries moved", mv.moved);
    if (ls.lt == &t && t.field_count == 1)
      expect(g_live == mv.live - mv.held, "the destination's entries destroyed", g_live, mv.live - mv.held);
  }

  // Record-level copy onto another record of the type (or onto itself).
  void record_copy(Slot &d, Slot &src) {
    const TypeDesc &t = *d.t;
    if ((t.ops & kOpRecordSet) == 0) return;
    ListSite ls = list_site(t);
    Moved mv = ls.lt != nullptr ? before_move(ls, d.obj, src.obj) : Moved{};
    Bytes before = encode(src);
    uint32_t err = 0;
    record_set(t, h_, kDb, d.obj, src.obj, &err);
    expect(err == 0, "record-level set failed", err);
    if (mv.checked) return after_move(t, ls, d.obj, src.obj, mv);  // entries move, they are not copied
    expect(encode(d) == before, "copy encodes differently from its source");
    compare_equal(t, d.obj, src.obj);
  }

  void clone(Slot &s, uint8_t b) {
    const TypeDesc &t = *s.t;
    bool fresh = (b & 1) != 0;
    if ((t.ops & (fresh ? kOpClone : kOpCloneInternal)) == 0) return;
    Slot *d = fresh ? find(nullptr, 0) : &other(s, b >> 1);
    if (d == nullptr || d == &s) return;
    Bytes before = encode(s);
    std::vector<uint8_t> buf(before.size() + (b & 2));
    void *dst = fresh ? nullptr : d->obj;
    uint32_t err = 0;
    record_clone(t, h_, kDb, s.obj, &dst, buf.data(), static_cast<int32_t>(buf.size()), fresh, &err);
    expect(err == 0 && dst != nullptr, "clone failed", err);
    *d = Slot{&t, dst};
    expect(encode(*d) == before, "clone encodes differently from its source");
    compare_equal(t, dst, s.obj);
  }

  // Marshal into a buffer of exactly record_len bytes; decode that fresh.
  using Bytes = std::vector<uint8_t>;
  Bytes encode(const Slot &s) {
    uint32_t len = record_len(*s.t, h_, kDb, s.obj), err = 0;
    Bytes b(len);
    uint32_t used = record_marshal(*s.t, h_, kDb, b.data(), s.obj, static_cast<int32_t>(len), 1, &err);
    expect(err == 0 && used <= len, "marshal into record_len bytes", err, used);
    b.resize(used);
    return b;
  }
  // Decodes s's encoding into a fresh record (kept in a free slot if there
  // is one) or in place over d.
  void decode(Slot &s, Slot *d) {
    Bytes b = encode(s);
    Slot into = d != nullptr ? *d : Slot{s.t, record_create(*s.t, h_, kDb)};
    uint32_t err = 0, used = record_unmarshal(*s.t, h_, kDb, b.data(), into.obj,
                                              static_cast<int32_t>(b.size()), d != nullptr, &err);
    expect(err == 0 && used == b.size(), "own encoding does not decode", err, used);
    expect(encode(into) == b, "decoded record encodes differently");
    compare_equal(*s.t, into.obj, s.obj);
    Slot *keep = d != nullptr ? d : find(nullptr, 0);
    keep != nullptr ? void(*keep = into) : destroy(into);
  }

  void compare_equal(const TypeDesc &t, const void *a, const void *b) {
    if ((t.ops & kOpNoCompare) != 0) return;
    expect(record_compare(t, a, b) == 0, "copy compares unequal");
  }
  void compare_with(Slot &a, Slot &b) {
    if ((a.t->ops & kOpNoCompare) != 0) return;
    int32_t ab = record_compare(*a.t, a.obj, b.obj), ba = record_compare(*a.t, b.obj, a.obj);
    expect(record_compare(*a.t, a.obj, a.obj) == 0, "a record compares unequal to itself");
    expect((ab > 0) == (ba < 0) && (ab == 0) == (ba == 0), "compare is not antisymmetric", ab, ba);
  }

  orva_fuzz::Handle h_;
  Slot slots_[kSlots];
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  mox_trace_set_stderr(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  Input in{data + 1, size - 1};
  mox_trace_clear();
  {
    Run run(orva_fuzz::kModes[data[0] % orva_fuzz::kModeCount]);
    mox_handle_t *h = run.handle();
    g_alloc = h->record_alloc, g_free = h->record_free, g_live = 0;
    h->record_alloc = [](void *heap, uint32_t db, uint32_t size) {
      void *p = g_alloc(heap, db, size);
      g_live += p != nullptr;
      return p;
    };
    h->record_free = [](void *heap, uint32_t db, void *p) {
      g_live -= p != nullptr;
      g_free(heap, db, p);
    };
    for (int ops = 0; in.n != 0 && ops < 200; ++ops) run.step(in);
    run.finish();
  }
  mox_trace_clear();
  return 0;
}
