// The XML engine: every record type rendered as an XML element and filled
// back from a parsed document, driven by the type descriptors.
//
// A record renders as its element holding one child per field in catalogue
// order (arrays as repeated same-name children, the dynamic array as its count
// element and one "call_record" per element, a list as one "entry" per entry);
// the newer variant's field comes last, and only when the instance has it.
// Tags, values, escaping and the state-flag attribute are the runtime's; this
// engine decides the structure, the state flags and the walk of a document.
#include "serial/xml.h"

#include <cstdio>
#include <cstring>

#include "catalogue_descriptors.h"
#include "frame/conventions.h"
#include "serial/enums.h"
#include "types/accessors.h"
#include "types/class_map_list.h"
#include "types/lifecycle.h"

namespace orva {

namespace {

// The runtime's XML reader and renderer of each primitive kind, resolved at
// compile time.
template <Kind K>
struct XmlPrim;
#define ORVA_XML_PRIM(K, P, CT)                 \
  template <>                                   \
  struct XmlPrim<Kind::K> {                     \
    using C = CT;                               \
    static constexpr auto to_xml = P##_to_xml;  \
    static constexpr auto from_xml = P##_from_xml; \
  };
ORVA_XML_PRIM(U8, u_int8, uint8_t)
ORVA_XML_PRIM(U16, u_int16, uint16_t)
ORVA_XML_PRIM(U32, u_int32, uint32_t)
ORVA_XML_PRIM(U64, u_int64, uint64_t)
ORVA_XML_PRIM(I16, int16, int16_t)
ORVA_XML_PRIM(Boolean, mox_boolean, mox_boolean_t)
ORVA_XML_PRIM(MacAddr, mox_mac_addr, mox_mac_addr_t)
ORVA_XML_PRIM(VString, mox_vstring, mox_vstring_t)
ORVA_XML_PRIM(IpAddress, ip_address, ip_address_t)
ORVA_XML_PRIM(CalendarTime, calendar_time, calendar_time_t)
ORVA_XML_PRIM(EnmClientType, enm_client_type, enm_client_type_t)
ORVA_XML_PRIM(EnmRadioBand, enm_radio_band_type, enm_radio_band_type_t)
#undef ORVA_XML_PRIM

// Paths are built in a buffer of this size; a longer path is cut.
constexpr size_t kPathLen = 256;
// The text of the dynamic array's count is read into a buffer of this size.
constexpr uint32_t kValueLen = 128;
// The dynamic array's own messages after its first one (types/catalogue.qos,
// scope "dynamic", in catalogue order).
constexpr uint16_t kMsgValueFailed = 1;
constexpr uint16_t kMsgCorrupt = 2;

uint8_t *bytes(void *p) { return static_cast<uint8_t *>(p); }
const uint8_t *bytes(const void *p) { return static_cast<const uint8_t *>(p); }

// The instance variant whose fields the record holds: its own, at most the
// type's latest and never beyond what its storage was laid out for.
int32_t held_variant(const TypeDesc &t, const void *obj) {
  int32_t v = mox_get_instance_variant(obj, 1, 0);
  int32_t most = header(obj)->storage_variant;
  if (most > t.highest) most = t.highest;
  return v > most ? most : v;
}

// Builds base/field, or base/field[index] for an index above 0; false when
// the path does not fit and was cut.  A cut path is never looked up: the
// element under it counts as absent (it could otherwise name another
// element, and the same one for every index).
bool path_of(char (&out)[kPathLen], const char *base, const char *field, uint32_t index = 0) {
  int n = index == 0 ? std::snprintf(out, kPathLen, "%s/%s", base, field)
                     : std::snprintf(out, kPathLen, "%s/%s[%u]", base, field, index);
  return n >= 0 && static_cast<size_t>(n) < kPathLen;
}

// After a field reader: an absent element (2) is cleared and parsing goes on;
// any other error ends it.
bool absent_cleared(mox_handle_t *h, uint32_t *err) {
  if (*err != kENOENT) return *err == 0;
  *err = 0;
  mox_clear_last_error(h);
  return true;
}

uint8_t dynamic_count(const TypeDesc &t, const FieldDesc &f, const void *obj) {
  const uint8_t *block;
  std::memcpy(&block, bytes(obj) + f.offset, sizeof block);
  return block != nullptr ? bytes(obj)[t.fields[f.count_field].offset] : 0;
}

const uint8_t *dynamic_block(const FieldDesc &f, const void *obj) {
  const uint8_t *block;
  std::memcpy(&block, bytes(obj) + f.offset, sizeof block);
  return block;
}

// The dynamic array's count text: a decimal from 0 to 255 (the most the array
// holds), digits only.  Anything else is refused.
bool count_text(const char *text, uint32_t *out) {
  uint32_t n = 0;
  size_t len = 0;
  for (; text[len] != '\0'; ++len) {
    if (text[len] < '0' || text[len] > '9' || len >= 3) return false;
    n = n * 10 + static_cast<uint32_t>(text[len] - '0');
  }
  if (len == 0 || n > 255) return false;
  *out = n;
  return true;
}

// ---------------------------------------------------------------------------
// Render
// ---------------------------------------------------------------------------

struct Renderer {
  mox_handle_t *h;
  uint32_t db;
  char *buf;
  int32_t buflen;
  uint32_t *err;
  bool tracked;  // state flags are read (tracking mode on)
  uint32_t n = 0;

  bool ok() const { return *err == 0; }
  char *out() const { return buf + n; }
  int32_t room() const { return buflen - static_cast<int32_t>(n); }

  // The flag of a field or of one of its elements (index >= 0), read with
  // the state-flag getters; 0 with tracking off.
  uint32_t flag(const TypeDesc &t, uint16_t i, const void *obj, int32_t index) {
    if (!tracked) return 0;
    void *o = const_cast<void *>(obj);
    return index < 0 ? field_state_get(t, i, h, db, o, err)
                     : field_state_get_at(t, i, h, db, o, static_cast<uint32_t>(index), err);
  }

  template <const TypeDesc &T, size_t I>
  void value(const void *field, uint32_t state) {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (f.kind == Kind::Record) {
      n += xml_render<*f.record>(h, db, f.name, out(), field, room(), state, err);
    } else if constexpr (f.kind == Kind::Enum) {
      n += enum_to_xml(*f.enumd, h, db, f.name, out(), static_cast<const mox_enum_obj_t *>(field),
                       room(), err);
    } else {
      using C = typename XmlPrim<f.kind>::C;
      n += XmlPrim<f.kind>::to_xml(h, db, f.name, out(), static_cast<const C *>(field), room(),
                                   state, err);
    }
  }

  template <const TypeDesc &T, size_t I>
  void field(const void *obj) {
    constexpr const FieldDesc &f = T.fields[I];
    const uint8_t *base = bytes(obj) + f.offset;
    if constexpr ((f.flags & kFieldCount) != 0) {
      value<T, I>(base, 0);  // the count never carries a flag
    } else if constexpr (f.shape == Shape::Single) {
      uint32_t state = f.kind == Kind::Enum ? 0 : flag(T, I, obj, -1);
      if (ok()) value<T, I>(base, state);
    } else if constexpr (f.shape == Shape::Array) {
      for (uint32_t e = 0; e < f.bound && ok(); ++e) {
        uint32_t state = f.kind == Kind::Enum ? 0 : flag(T, I, obj, static_cast<int32_t>(e));
        if (ok()) value<T, I>(base + e * f.size, state);
      }
    } else if constexpr (f.shape == Shape::Dynamic) {
      const uint8_t *block = dynamic_block(f, obj);
      uint32_t count = dynamic_count(T, f, obj);
      for (uint32_t e = 0; e < count && ok(); ++e) {
        uint32_t state = flag(T, I, obj, static_cast<int32_t>(e));
        if (ok()) value<T, I>(block + e * f.size, state);
      }
    } else {
      // One flag, the list's, for every entry.
      uint32_t state = flag(T, I, obj, -1);
      uint32_t left = reinterpret_cast<const orva_list_head_t *>(base)->count;
      for (void *e = list_first(obj, f); e != nullptr && left > 0 && ok();
           e = list_next(obj, f, e, *f.record), --left)
        n += xml_render<*f.record>(h, db, "entry", out(), e, room(), state, err);
    }
  }
};

// ---------------------------------------------------------------------------
// Parse
// ---------------------------------------------------------------------------

struct Parser {
  mox_handle_t *h;
  uint32_t db;
  const char *path;
  mox_xml_doc_t *doc;
  void *obj;
  uint32_t *err;
  char *msg;
  uint32_t msglen;

  // Reads one value of field I from the element at at into field.
  template <const TypeDesc &T, size_t I>
  void value(const char *at, void *field) {
    constexpr const FieldDesc &f = T.fields[I];
    if constexpr (f.kind == Kind::Record)
      xml_parse<*f.record>(h, db, at, doc, field, err, msg, msglen);
    else if constexpr (f.kind == Kind::Enum)
      enum_from_xml(*f.enumd, h, db, at, doc, static_cast<mox_enum_obj_t *>(field), err, msg,
                    msglen);
    else
      XmlPrim<f.kind>::from_xml(h, db, at, doc, static_cast<typename XmlPrim<f.kind>::C *>(field),
                                err, msg, msglen);
  }

  // Reads field I; false when parsing ends (the error stays in the slot).
  template <const TypeDesc &T, size_t I>
  bool field() {
    constexpr const FieldDesc &f = T.fields[I];
    char at[kPathLen];
    uint8_t *base = bytes(obj) + f.offset;
    if constexpr ((f.flags & kFieldCount) != 0) {
      return true;  // read with the dynamic array it counts
    } else if constexpr (f.shape == Shape::Single) {
      if (path_of(at, path, f.name)) value<T, I>(at, base);
      return absent_cleared(h, err);
    } else if constexpr (f.shape == Shape::Array) {
      // Elements in order up to the first absent one; the rest stay as they are.
      for (uint32_t e = 0; e < f.bound; ++e) {
        if (!path_of(at, path, f.name, e + 1)) return true;
        value<T, I>(at, base + e * f.size);
        if (*err == kENOENT) return absent_cleared(h, err);
        if (*err != 0) return false;
      }
      return true;
    } else if constexpr (f.shape == Shape::Dynamic) {
      return dynamic<T, I>();
    } else {
      return list<T, I>();
    }
  }

  template <const TypeDesc &T, size_t I>
  bool dynamic() {
    constexpr const FieldDesc &f = T.fields[I];
    constexpr const TypeDesc &et = *f.record;
    char at[kPathLen];
    char text[kValueLen];
    uint32_t rc = kENOENT;
    if (path_of(at, path, T.fields[f.count_field].name))
      rc = xml_get_element_value(doc, at, text, sizeof text, 0);
    if (rc != 0) {
      fail(h, err, rc);
      trace_at(static_cast<uint16_t>(f.msg + kMsgValueFailed));
      return false;
    }
    uint32_t want = 0;
    const bool valid = count_text(text, &want);
    for (uint32_t e = 1; valid && e <= want; ++e) {
      void *tmp = record_new(et, h, db);
      if (tmp == nullptr) {
        fail(h, err, kENOMEM);
        break;
      }
      if (path_of(at, path, f.name, e)) xml_parse<et>(h, db, at, doc, tmp, err, msg, msglen);
      else fail(h, err, kENOENT);
      // The element setter copies the temporary in through its wire form.
      if (*err == 0) dynamic_set_at(T, I, h, db, obj, e - 1, tmp, true, err);
      record_destroy_internal(et, h, db, tmp, 1);
      if (*err == kENOENT) {
        absent_cleared(h, err);  // this element is skipped
        continue;
      }
      if (*err != 0) return false;
    }
    // A count text that is no decimal from 0 to 255 takes this outcome at
    // once, without a single element read.
    if (!valid || dynamic_count(T, f, obj) != want) {
      trace_at(static_cast<uint16_t>(f.msg + kMsgCorrupt));
      if (*err == 0) fail(h, err, kEFAULT);
      return false;
    }
    return *err == 0;
  }

  template <const TypeDesc &T, size_t I>
  bool list() {
    constexpr const FieldDesc &f = T.fields[I];
    constexpr const TypeDesc &et = *f.record;
    char at[kPathLen];
    for (uint32_t e = 1;; ++e) {
      void *entry = record_new(et, h, db);
      if (entry == nullptr) {
        fail(h, err, kENOMEM);
        return false;
      }
      if (path_of(at, path, "entry", e)) xml_parse<et>(h, db, at, doc, entry, err, msg, msglen);
      else fail(h, err, kENOENT);
      if (*err == 0) list_set_last(T, I, h, db, obj, entry, err);
      if (*err == 0) continue;  // linked: the list owns it now
      record_destroy_internal(et, h, db, entry, 1);
      return absent_cleared(h, err);
    }
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Per-type operations
// ---------------------------------------------------------------------------

template <const TypeDesc &T>
uint32_t xml_render(mox_handle_t *h, uint32_t db, const char *name, char *buf, const void *obj,
                    int32_t buflen, uint32_t state_flag, uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (obj == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  int32_t v = held_variant(T, obj);
  // The mode is read (a corrupt one stops the process) for every record.
  Renderer r{h, db, buf, buflen, err, tracking(h, T) == Tracking::On};
  r.n = start_tag(h, db, buf, name, buflen, state_flag, err);
  if (v >= 0) {
    each_field<T>([&]<size_t I>() {
      constexpr const FieldDesc &f = T.fields[I];
      if (r.ok() && f.variant <= v) r.template field<T, I>(obj);
    });
  }
  // With an error pending this writes nothing.
  r.n += end_tag(h, db, r.out(), name, r.room(), err);
  return r.n;
}

template <const TypeDesc &T>
void xml_parse(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, void *obj,
               uint32_t *err, char *msg, uint32_t msglen) {
  if (!enter(h, err)) return;
  uint32_t count = 0;
  if (obj == nullptr || path == nullptr ||
      xml_get_element_nodecount(doc, path, &count) != 0 || count == 0) {
    fail(h, err, kENOENT);
    return;
  }
  // Only the fields the instance holds are read: a record of variant 0 keeps
  // no value of the newer field, and a negative variant holds none.
  int32_t v = held_variant(T, obj);
  if (v < 0) return;
  Parser p{h, db, path, doc, obj, err, msg, msglen};
  bool go = true;
  each_field<T>([&]<size_t I>() {
    constexpr const FieldDesc &f = T.fields[I];
    if (go && f.variant <= v) go = p.template field<T, I>();
  });
}

// One instantiation per type; the run-time entry points below reach them
// through a table in catalogue order (TypeDesc::index).
#define ORVA_XML_INSTANCES(n)                                                                  \
  template uint32_t xml_render<k_##n>(mox_handle_t *, uint32_t, const char *, char *,          \
                                      const void *, int32_t, uint32_t, uint32_t *);            \
  template void xml_parse<k_##n>(mox_handle_t *, uint32_t, const char *, mox_xml_doc_t *,      \
                                 void *, uint32_t *, char *, uint32_t);
ORVA_EACH_TYPE(ORVA_XML_INSTANCES)
#undef ORVA_XML_INSTANCES

namespace {

struct XmlOps {
  decltype(&xml_render<k_qos_client_data_t>) render;
  decltype(&xml_parse<k_qos_client_data_t>) parse;
};
#define ORVA_XML_ENTRY(n) {&xml_render<k_##n>, &xml_parse<k_##n>},
constexpr XmlOps kXml[] = {ORVA_EACH_TYPE(ORVA_XML_ENTRY)};
#undef ORVA_XML_ENTRY

}  // namespace

uint32_t record_to_xml(const TypeDesc &t, mox_handle_t *h, uint32_t db, const char *name,
                       char *buf, const void *obj, int32_t buflen, uint32_t state_flag,
                       uint32_t *err) {
  return kXml[t.index].render(h, db, name, buf, obj, buflen, state_flag, err);
}

void record_from_xml(const TypeDesc &t, mox_handle_t *h, uint32_t db, const char *path,
                     mox_xml_doc_t *doc, void *obj, uint32_t *err, char *msg, uint32_t msglen) {
  kXml[t.index].parse(h, db, path, doc, obj, err, msg, msglen);
}

}  // namespace orva
