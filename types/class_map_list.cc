// The list engine: a circular, doubly linked list with its head as sentinel,
// held by a list field; its entries carry owner/next/prev links after their
// header.  Counts, owners and state bytes are announced through write_notify;
// link words through the heap's plume_set_range.
#include "types/class_map_list.h"

#include <cstdlib>

#include "frame/catalogue.h"
#include "frame/conventions.h"
#include "types/lifecycle.h"

namespace orva {

namespace {

struct Links {
  void *owner;
  void *next;
  void *prev;
};
static_assert(sizeof(Links) == sizeof(orva_list_links_t));

struct Head {
  void *first;
  void *last;
  void *list;
  uint32_t count;
};
static_assert(sizeof(Head) == sizeof(orva_list_head_t));

// Everything an operation on one list needs.
struct Ctx {
  const TypeDesc &t;  // the list record's type
  const FieldDesc &f;
  mox_handle_t *h;
  uint32_t db;
  void *list;

  Head *head() const { return reinterpret_cast<Head *>(static_cast<uint8_t *>(list) + f.offset); }
  Links *links(void *entry) const {
    return reinterpret_cast<Links *>(static_cast<uint8_t *>(entry) + f.record->list_links);
  }
  bool is_head(void *p) const { return p == static_cast<void *>(head()); }

  // A store into a link word (first, last, next, prev) of object owner.
  void link(void **word, void *value, void *owner) const {
    if (h->record_heap != nullptr) {
      uint32_t r = plume_set_range(h->record_heap, word, sizeof(void *), db);
      if (r != 1) {
        plume_perror(r);
        trace_at(f.msg);  // "plume internal error"
        std::abort();
      }
      if (h->containment_enabled && db != MOX_NO_DB && h->placement == 1)
        moxdb_plat_set_dirty(h, db, owner);
    }
    *word = value;
  }
  void set_next(void *at, void *value) const {
    if (is_head(at))
      link(&head()->first, value, list);
    else
      link(&links(at)->next, value, at);
  }
  void set_prev(void *at, void *value) const {
    if (is_head(at))
      link(&head()->last, value, list);
    else
      link(&links(at)->prev, value, at);
  }
  void set_count(uint32_t n) const { store(h, db, &head()->count, n); }
  void set_owner(void *entry, void *owner) const { store(h, db, &links(entry)->owner, owner, entry); }

  // Takes entry out of the chain (its own links keep their values).
  void unchain(void *entry) const {
    Links *l = links(entry);
    set_prev(l->next, l->prev);
    set_next(l->prev, l->next);
  }
};

Ctx ctx(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list) {
  return Ctx{t, t.fields[f], h, db, list};
}

// The entry and exit protocol of the list getters: a negative list variant is 43.
bool readable(const Ctx &c, uint32_t *err) {
  if (!enter(c.h, err)) return false;
  return access_ok(c.h, c.list, 0, 0, err);
}

// Adjusts and checks the list's variant before a change; a null entry is a
// missing required pointer (2).
bool writable(const Ctx &c, void *entry, uint32_t *err) {
  if (!enter(c.h, err)) return false;
  record_adjust_variant(c.t, c.h, c.db, c.list, err);
  if (*err != 0 || !access_ok(c.h, c.list, 0, 0, err)) return false;
  if (entry == nullptr) {
    fail(c.h, err, kENOENT);
    return false;
  }
  return true;
}

// Misuse of an entry (linked where it must be free, or not linked in this
// list where it must be) is refused before anything is stored: 22 and the
// operation's own message.  The check is one compare against the owner.
enum : uint16_t {  // the list field's messages after plume_error, element_failed
  kRemoveNotLinked = 2,
  kSetLastLinked,
  kSetAfterLinked,
  kSetAfterReference,
};

bool refused(const Ctx &c, bool misuse, uint16_t msg, uint32_t *err) {
  if (!misuse) return false;
  fail(c.h, err, kEINVAL);
  trace_at(static_cast<uint16_t>(c.f.msg + msg));
  return true;
}

void *reported(const Ctx &c, void *entry) {
  if (entry != nullptr) report_containment(c.h, c.db, entry, c.list);
  return entry;
}

// After a link: containment and the list's state byte.
void linked(const Ctx &c, void *entry, uint32_t *err) {
  c.set_owner(entry, c.head());
  report_containment(c.h, c.db, entry, c.list);
  if (tracking(c.h, c.t) != Tracking::On) return;
  uint8_t *area = state_area(c.t, c.h, c.db, c.list);
  if (area == nullptr) {
    fail(c.h, err, kEINVAL);
    trace(c.t, Msg::NotTracked);
    return;
  }
  store<uint8_t>(c.h, c.db, area + c.f.state, 2);
}

}  // namespace

void *list_get_first(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!readable(c, err)) return nullptr;
  return reported(c, list_first(list, c.f));
}

void *list_get_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                    uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!readable(c, err)) return nullptr;
  void *last = c.head()->last;
  return reported(c, c.is_head(last) ? nullptr : last);
}

void *list_get_next(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                    void *entry, uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!readable(c, err)) return nullptr;
  if (entry == nullptr) {
    fail(h, err, kENOENT);
    return nullptr;
  }
  return reported(c, list_next(list, c.f, entry, *c.f.record));
}

uint32_t list_get_count(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                        uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!readable(c, err)) return 0;
  return c.head()->count;
}

uint32_t list_set_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                       void *entry, uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!writable(c, entry, err)) return *err;
  if (refused(c, c.links(entry)->owner != nullptr, kSetLastLinked, err)) return *err;
  Head *hd = c.head();
  c.set_count(hd->count + 1);
  void *last = hd->last;
  c.link(&c.links(entry)->next, hd, entry);
  c.link(&c.links(entry)->prev, last, entry);
  c.set_next(last, entry);  // the old last entry, or the head's first when empty
  c.link(&hd->last, entry, list);
  linked(c, entry, err);
  return *err;
}

uint32_t list_set_after(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                        void *ref, void *entry, uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!writable(c, entry, err)) return *err;
  if (ref == nullptr) {
    fail(h, err, kENOENT);
    return *err;
  }
  if (refused(c, c.links(ref)->owner != c.head(), kSetAfterReference, err) ||
      refused(c, c.links(entry)->owner != nullptr, kSetAfterLinked, err))
    return *err;
  c.set_count(c.head()->count + 1);
  void *after = c.links(ref)->next;
  c.link(&c.links(entry)->next, after, entry);
  c.link(&c.links(entry)->prev, ref, entry);
  c.set_prev(after, entry);  // the reference's old next, or the head's last
  c.link(&c.links(ref)->next, entry, ref);
  linked(c, entry, err);
  return *err;
}

uint32_t list_remove(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     void *entry, uint32_t *err) {
  Ctx c = ctx(t, f, h, db, list);
  if (!writable(c, entry, err)) return *err;
  if (refused(c, c.links(entry)->owner != c.head(), kRemoveNotLinked, err)) return *err;
  c.set_count(c.head()->count - 1);
  c.unchain(entry);
  c.set_owner(entry, nullptr);
  if (h->containment_enabled) {
    report_containment(h, db, entry, list);
    if (db != MOX_NO_DB && h->placement == 1) moxdb_plat_set_detach(h, db, entry, 1);
  }
  return *err;
}

void list_initialize(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     uint32_t notify) {
  Ctx c = ctx(t, f, h, db, list);
  Head *hd = c.head();
  if (notify) announce(h, hd, sizeof(Head), db, list);
  hd->first = hd;
  hd->last = hd;
  hd->list = list;
  hd->count = 0;
}

void list_reset(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list) {
  Ctx c = ctx(t, f, h, db, list);
  Head *hd = c.head();
  c.link(&hd->first, hd, list);
  c.link(&hd->last, hd, list);
  store(h, db, &hd->list, list);  // not a link word: announced like any store
  c.set_count(0);
}

void list_destroy_entries(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list) {
  Ctx c = ctx(t, f, h, db, list);
  if (c.head()->list != list) {
    // A head byte-copied from another list by a caller and never cleaned up
    // names that list's entries: they are not this list's to destroy.
    list_reset(t, f, h, db, list);
    return;
  }
  while (void *entry = list_first(list, c.f)) {
    c.unchain(entry);
    c.set_owner(entry, nullptr);
    record_destroy_internal(*c.f.record, h, db, entry, 1);
  }
  c.set_count(0);
}

void lists_in_record(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, ListAction a) {
  for (uint16_t i = 0; i < t.field_count; ++i) {
    const FieldDesc &f = t.fields[i];
    if (f.shape == Shape::List) {
      a == ListAction::DestroyEntries ? list_destroy_entries(t, i, h, db, obj)
                                      : list_reset(t, i, h, db, obj);
    } else if (f.kind == Kind::Record && (f.shape == Shape::Single || f.shape == Shape::Array)) {
      for (uint32_t e = 0; e < (f.shape == Shape::Array ? f.bound : 1u); ++e)
        lists_in_record(*f.record, h, db, static_cast<uint8_t *>(obj) + f.offset + e * f.size, a);
    }
  }
}

void list_move(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *dst, void *src) {
  Ctx d = ctx(t, f, h, db, dst), s = ctx(t, f, h, db, src);
  Head *dh = d.head(), *sh = s.head();
  d.link(&dh->first, dh, dst);
  d.link(&dh->last, dh, dst);
  store(h, db, &dh->list, dst);  // not a link word: announced like any store
  if (!s.is_head(sh->first)) {
    void *first = sh->first, *last = sh->last;
    s.link(&s.links(first)->prev, dh, first);
    d.link(&dh->first, first, dst);
    s.link(&sh->first, sh, src);
    s.link(&s.links(last)->next, dh, last);
    d.link(&dh->last, last, dst);
    s.link(&sh->last, sh, src);
  }
  for (void *e = list_first(dst, d.f); e != nullptr; e = list_next(dst, d.f, e, *d.f.record))
    d.set_owner(e, dh);
  s.set_count(0);
}

void list_entry_unlink(const TypeDesc &entry_type, mox_handle_t *h, uint32_t db, void *entry) {
  Links *l = reinterpret_cast<Links *>(static_cast<uint8_t *>(entry) + entry_type.list_links);
  if (l->owner == nullptr) return;
  Head *hd = static_cast<Head *>(l->owner);
  // The list field whose head this is: a list field of this entry type.
  for (uint32_t ti = 0; ti < kTypeCount; ++ti) {
    const TypeDesc &t = *kTypes[ti];
    for (uint16_t i = 0; i < t.field_count; ++i) {
      if (t.fields[i].shape != Shape::List || t.fields[i].record != &entry_type) continue;
      Ctx c = ctx(t, i, h, db, hd->list);
      if (c.head() != hd) continue;
      c.set_count(hd->count - 1);
      c.unchain(entry);
      c.set_owner(entry, nullptr);
      return;
    }
  }
}

void *list_first(const void *list_record, const FieldDesc &f) {
  const Head *hd =
      reinterpret_cast<const Head *>(static_cast<const uint8_t *>(list_record) + f.offset);
  return hd->first == static_cast<const void *>(hd) ? nullptr : hd->first;
}

void *list_next(const void *list_record, const FieldDesc &f, const void *entry,
                const TypeDesc &entry_type) {
  const Head *hd =
      reinterpret_cast<const Head *>(static_cast<const uint8_t *>(list_record) + f.offset);
  const Links *l =
      reinterpret_cast<const Links *>(static_cast<const uint8_t *>(entry) + entry_type.list_links);
  return l->next == static_cast<const void *>(hd) ? nullptr : l->next;
}

}  // namespace orva
