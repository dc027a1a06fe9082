// The print engine: the indented text form of every record type, driven by
// the type descriptors.
//
// A record with label L, type T and indentation n prints as
//
//   n spaces, "L@T: {"
//   its fields in declaration order, each at indentation n + 2 under its
//   field name (array items under "name[i]", the dynamic array's elements
//   after the count's line, a list as "list entry count" and one "list
//   entry" block per entry, the variant-1 field only from variant 1)
//   n spaces, "}"
//
// and a record of negative variant as its header line and closing line
// alone.  Every piece of text is written by the runtime's bounded helpers
// (mox_print_space, mox_snprintf, the kinds' K_print) and the module's
// enumeration printer, each given the room left: none of them writes past
// it, each keeps the text NUL-terminated, and once one of them has run out
// of room (90) the slot is set and every later call does nothing, so the
// walk goes on without a test between items and the text ends where the
// room did.
#include "serial/print.h"

#include <cstdio>
#include <cstring>

#include "catalogue_descriptors.h"
#include "frame/conventions.h"
#include "frame/kinds.h"
#include "serial/enums.h"
#include "types/class_map_list.h"

namespace orva {

namespace {

// Labels of array items ("name[i]") are built in a buffer of this size and
// cut to fit it.
constexpr size_t kLabelRoom = 80;
constexpr const char *kListCountLabel = "list entry count";
constexpr const char *kListEntryLabel = "list entry";

const uint8_t *bytes(const void *p) { return static_cast<const uint8_t *>(p); }

// The text of one record: buf is where the record's own text starts.
struct Text {
  mox_handle_t *h;
  uint32_t db;
  char *buf;
  int32_t room;
  uint32_t *err;
  uint32_t pos = 0;

  char *at() const { return buf + pos; }
  int32_t left() const { return room - static_cast<int32_t>(pos); }
  void add(uint32_t n) { pos += n; }
};

// The variant whose fields the record holds: its own, at most the type's
// latest and never beyond what its storage was laid out for.
int32_t print_variant(const TypeDesc &t, const void *obj) {
  int32_t v = mox_get_instance_variant(obj, 1, 0);
  int32_t most = header(obj)->storage_variant;
  if (most > t.highest) most = t.highest;
  return v > most ? most : v;
}

// The header line.  The indentation is appended to the text that starts at
// buf, so that text is made empty first (the caller's buffer may hold
// anything).
void open_block(Text &x, uint32_t indent, const char *label, const char *type) {
  if (x.room > 0) x.buf[0] = '\0';
  x.add(mox_print_space(x.h, x.db, x.buf, indent, x.room, x.err));
  x.add(mox_snprintf(x.h, x.db, x.at(), x.left(), x.err, "%s@%s: {\n", label, type));
}

// The closing line: the indentation is appended at the end of the text that
// starts where this record's text starts.
void close_block(Text &x, uint32_t indent) {
  x.add(mox_print_space(x.h, x.db, x.buf, indent, x.left(), x.err));
  x.add(mox_snprintf(x.h, x.db, x.at(), x.left(), x.err, "}\n"));
}

const char *item_label(char (&label)[kLabelRoom], const char *name, uint32_t index) {
  std::snprintf(label, sizeof label, "%s[%d]", name, static_cast<int>(index));
  return label;
}

// ---------------------------------------------------------------------------
// Per-type printer
// ---------------------------------------------------------------------------

// One field at indentation `indent`; kinds and shapes are decided at compile
// time, a nested record calls the printer of its own type.
template <const TypeDesc &T, size_t I>
void print_field(Text &x, const void *obj, uint32_t indent) {
  constexpr const FieldDesc &f = T.fields[I];
  const uint8_t *base = bytes(obj) + f.offset;
  auto value = [&](const char *label, const uint8_t *field) {
    if constexpr (f.kind == Kind::Record)
      x.add(type_print<*f.record>(x.h, x.db, x.at(), indent, label, field, x.left(), x.err));
    else if constexpr (f.kind == Kind::Enum)
      x.add(enum_print(*f.enumd, x.h, x.db, x.at(), indent, label,
                       reinterpret_cast<const mox_enum_obj_t *>(field), x.left(), x.err));
    else
      x.add(Prim<f.kind>::print(x.h, x.db, x.at(), indent, label,
                                reinterpret_cast<const typename Prim<f.kind>::C *>(field), x.left(),
                                x.err));
  };
  char label[kLabelRoom];
  if constexpr (f.shape == Shape::Single) {
    value(f.name, base);
  } else if constexpr (f.shape == Shape::Array) {
    for (uint32_t e = 0; e < f.bound; ++e) value(item_label(label, f.name, e), base + e * f.size);
  } else if constexpr (f.shape == Shape::Dynamic) {
    // The count has its own line (its field comes first); the elements follow.
    const uint8_t *block;
    std::memcpy(&block, base, sizeof block);
    uint32_t count = block != nullptr ? bytes(obj)[T.fields[f.count_field].offset] : 0;
    for (uint32_t e = 0; e < count; ++e)
      value(item_label(label, f.name, e), block + e * f.size);
  } else {
    const auto *head = reinterpret_cast<const orva_list_head_t *>(base);
    uint32_t count = head->count;
    x.add(Prim<Kind::U32>::print(x.h, x.db, x.at(), indent, kListCountLabel, &count, x.left(),
                                 x.err));
    uint32_t left = count;
    for (const void *e = list_first(obj, f); e != nullptr && left > 0;
         e = list_next(obj, f, e, *f.record), --left)
      value(kListEntryLabel, static_cast<const uint8_t *>(e));
  }
}

}  // namespace

template <const TypeDesc &T>
uint32_t type_print(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent, const char *label,
                    const void *obj, int32_t room, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (buf == nullptr || obj == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  Text x{h, db, buf, room, err};
  int32_t v = print_variant(T, obj);
  open_block(x, indent, label != nullptr ? label : "", T.name);
  if (v >= 0) {
    each_field<T>([&]<size_t I>() {
      if (T.fields[I].variant <= v) print_field<T, I>(x, obj, indent + 2);
    });
  }
  close_block(x, indent);
  return x.pos;
}

// One instantiation per type; record_print reaches them through a table in
// catalogue order (TypeDesc::index).
#define ORVA_PRINT_INSTANCE(n)                                                                 \
  template uint32_t type_print<k_##n>(mox_handle_t *, uint32_t, char *, uint32_t, const char *, \
                                      const void *, int32_t, uint32_t *);
ORVA_EACH_TYPE(ORVA_PRINT_INSTANCE)
#undef ORVA_PRINT_INSTANCE

namespace {
#define ORVA_PRINT_ENTRY(n) &type_print<k_##n>,
constexpr decltype(&type_print<k_qos_client_data_t>) kPrint[] = {ORVA_EACH_TYPE(ORVA_PRINT_ENTRY)};
#undef ORVA_PRINT_ENTRY
}  // namespace

uint32_t record_print(const TypeDesc &t, mox_handle_t *h, uint32_t db, char *buf, uint32_t indent,
                      const char *label, const void *obj, int32_t room, uint32_t *err) {
  return kPrint[t.index](h, db, buf, indent, label, obj, room, err);
}

}  // namespace orva
