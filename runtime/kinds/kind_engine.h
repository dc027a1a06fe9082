// The one engine behind every primitive kind.
//
// A kind is described by a traits struct K:
//
//   Field                      the in-record C type
//   Plain                      the value as the engine handles it
//   kName                      kind name, used in diagnostics
//   read(const Field&)         -> Plain
//   store(h, db, Field*, const Plain&) -> 0 or errno; announces every store
//   wire_size(const Plain&)    bytes of the wire form
//   encode(const Plain&, out)  writes wire_size bytes
//   decode(in, len, Plain*, size_t *used) -> 0 or errno (EMSGSIZE, EBADMSG)
//   text(const Plain&, Scratch&) -> text of the value (XML and print)
//   parse(std::string_view, Plain*) -> false for text that is no value
//   compare(const Plain&, const Plain&) -> -1, 0, 1
//
// and optionally:
//   absent()                   the value an absent field has (default Plain{})
//   check(const Plain&)        -> 0 or errno, applied by the value setters only:
//                                copies, decodes and XML input keep what they carry
//   print_text(...)            printed text when it differs from text()
//   release(h, db, Field*)     frees what the field owns (strings)
//   store_decoded(h, db, Field*, const Plain&) the store of a decoded value,
//                              when it differs from store (strings reuse their block)
//   kLongText                  XML values read without the 128-byte limit
//   kEnum                      the field is an enumeration object with a header
//
// The exported C names are one-line trampolines over Engine<K> (the
// MOX_KIND_DEFINE_* macros at the end).
#pragma once

#include <string_view>

#include "kinds/kinds_internal.h"

namespace mox_rt::kinds {

// Room for the text of any fixed-size value (the longest is an IPv6 address
// with a scope suffix).
using Scratch = char[80];

// XML 1.0 has no representation for most control characters.
inline bool xml_representable(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

template <class K>
struct Engine {
  using F = typename K::Field;
  using P = typename K::Plain;

  static P absent() {
    if constexpr (requires { K::absent(); })
      return K::absent();
    else
      return P{};
  }

  static uint32_t check(const P &v) {
    if constexpr (requires { K::check(v); })
      return K::check(v);
    else
      return 0;
  }

  static std::string_view print_text(const P &v, Scratch &s) {
    if constexpr (requires { K::print_text(v, s); })
      return K::print_text(v, s);
    else
      return K::text(v, s);
  }

  // Announced store of a value, validated when asked; the status is also the result.
  static uint32_t assign(mox_handle_t *h, uint32_t db, F *f, const P &v, Slot &slot,
                         bool validate) {
    if (!f) return fail(h, slot, kEINVAL);
    if (uint32_t rc = validate ? check(v) : 0) return fail(h, slot, rc);
    if (uint32_t rc = K::store(h, db, f, v)) return fail(h, slot, rc);
    return 0;
  }

  static uint32_t set_plain(mox_handle_t *h, uint32_t db, F *f, const P &v, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return slot.value();
    return assign(h, db, f, v, slot, true);
  }

  // Value setter from text (IP addresses).
  static uint32_t set_text(mox_handle_t *h, uint32_t db, F *f, const char *text, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return slot.value();
    P v{};
    if (!f || !text || !K::parse(text, &v)) return fail(h, slot, kEINVAL);
    return assign(h, db, f, v, slot, true);
  }

  static F *get(mox_handle_t *h, F *f, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return nullptr;
    if (!f) {
      fail(h, slot, kEINVAL);
      return nullptr;
    }
    return f;
  }

  static P get_value(mox_handle_t *h, const F *f, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return P{};
    if (!f) {
      fail(h, slot, kEINVAL);
      return P{};
    }
    return K::read(*f);
  }

  // Copy of another field of the kind; a copy never shares storage.
  static uint32_t set(mox_handle_t *h, uint32_t db, F *f, const F *src, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return slot.value();
    if (!src) return fail(h, slot, kEINVAL);
    return assign(h, db, f, K::read(*src), slot, false);
  }

  static uint32_t len(const F *f) { return K::wire_size(f ? K::read(*f) : absent()); }

  static uint32_t marshal(mox_handle_t *h, uint8_t *buf, const F *f, int32_t buflen,
                          uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return 0;
    if (!buf || !f) return fail(h, slot, kEINVAL), 0;
    const P v = K::read(*f);
    const uint32_t need = K::wire_size(v);
    if (buflen < 0 || static_cast<uint32_t>(buflen) < need) return fail(h, slot, kEMSGSIZE), 0;
    K::encode(v, buf);
    return need;
  }

  // Decodes into a local value first: a refused input leaves the field as it was.
  static uint32_t unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, F *f, int32_t len,
                            uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return 0;
    if (!buf || !f) return fail(h, slot, kEINVAL), 0;
    if (len <= 0) return fail(h, slot, kEMSGSIZE), 0;
    P v{};
    size_t used = 0;
    if (uint32_t rc = K::decode(buf, static_cast<size_t>(len), &v, &used))
      return fail(h, slot, rc), 0;
    uint32_t rc;
    if constexpr (requires { K::store_decoded(h, db, f, v); })
      rc = K::store_decoded(h, db, f, v);
    else
      rc = K::store(h, db, f, v);
    if (rc) return fail(h, slot, rc), 0;
    return static_cast<uint32_t>(used);
  }

  // indent spaces, "label: value", line end.
  static uint32_t print(mox_handle_t *h, char *buf, uint32_t indent, const char *label,
                        const F *f, int32_t room, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return 0;
    if (!buf || !f) return fail(h, slot, kEINVAL), 0;
    Scratch scratch;
    TextOut out(buf, room);
    out.spaces(indent);
    out.put(label ? label : "");
    out.put(": ");
    out.put(print_text(K::read(*f), scratch));
    out.put("\n");
    return finish(h, slot, out);
  }

  // <name>value</name>, the value escaped.
  static uint32_t to_xml(mox_handle_t *h, const char *name, char *buf, const F *f, int32_t buflen,
                         uint32_t state_flag, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return 0;
    if (!name || !buf || !f) return fail(h, slot, kEINVAL), 0;
    Scratch scratch;
    const std::string_view text = K::text(K::read(*f), scratch);
    if (!xml_representable(text)) return fail(h, slot, kEINVAL), 0;
    TextOut out(buf, buflen);
    xml_open_tag(out, name, state_flag);
    out.xml_text(text);
    xml_close_tag(out, name);
    return finish(h, slot, out);
  }

  static void from_xml(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, F *f,
                       uint32_t *err, char *msg, uint32_t msglen) {
    Slot slot(err);
    if (slot.busy()) return;
    if (!path || !doc || !f) {
      fail(h, slot, kEINVAL);
      return;
    }
    XmlText long_text;
    char short_text[128];
    uint32_t rc;
    std::string_view text;
    if constexpr (requires { K::kLongText; }) {
      rc = xml_lookup_text(doc, path, &long_text);
      text = long_text.view();
    } else {
      rc = xml_get_element_value(doc, path, short_text, sizeof short_text, 0);
      text = short_text;
    }
    if (rc == kENOENT) {
      fail(h, slot, rc);  // absent element: the caller decides whether that matters
      return;
    }
    if (rc) {
      xml_path_message(msg, msglen, path, nullptr);
      fail(h, slot, rc);
      return;
    }
    P v{};
    if (!K::parse(text, &v)) {
      xml_path_message(msg, msglen, path, K::kName);
      fail(h, slot, kEINVAL);
      return;
    }
    assign(h, db, f, v, slot, false);
  }

  // Null sorts first.
  static int32_t compare(const F *a, const F *b) {
    if (!a || !b) return a ? 1 : (b ? -1 : 0);
    return K::compare(K::read(*a), K::read(*b));
  }

  // Object kinds ----------------------------------------------------------

  // The caller hands over zeroed storage; only enumeration objects have a
  // header to fill.  Returns the flags byte of an enumeration object, else 0.
  static uint32_t initialize(mox_handle_t *h, uint32_t db, F *obj, mox_type_info_t *ti,
                             uint32_t notify, uint32_t flags, uint32_t *err) {
    Slot slot(err);
    if (slot.busy()) return 0;
    if (!obj) return fail(h, slot, kEINVAL), 0;
    if constexpr (requires { K::kEnum; }) {
      void *tinfo = ti ? static_cast<void *>(ti) : static_cast<void *>(K::type_info());
      const auto announce = [&](void *addr, uint32_t n, void *owner) {
        if (notify) mox_rt::notify(h, addr, n, db, owner);
      };
      announce(&obj->storage_variant, 1, nullptr);
      obj->storage_variant = 0;
      announce(&obj->variant, 1, nullptr);
      obj->variant = 0;
      announce(&obj->tinfo, sizeof obj->tinfo, nullptr);
      obj->tinfo = tinfo;
      announce(&obj->flags, 1, obj);
      obj->flags = static_cast<uint8_t>(obj->flags | flags);
      return obj->flags;
    } else {
      return 0;
    }
  }

  static void set_instance_embedded(mox_handle_t *h, uint32_t db, F *obj) {
    if constexpr (requires { K::kEnum; }) {
      if (!obj) return;
      mox_rt::store(h, db, &obj->flags, static_cast<uint8_t>(obj->flags | MOX_FLAG_EMBEDDED), obj);
    }
  }

  // Plain values carry no reference count: nothing to release.
  static void decr_object_reference(F *, uint32_t *) {}

  // Releases what the field owns; with free_storage the object itself came
  // from record_alloc and goes back to record_free.
  static void destroy_internal(mox_handle_t *h, uint32_t db, F *obj, uint32_t free_storage) {
    if (!obj) return;
    if constexpr (requires { K::release(h, db, obj); }) K::release(h, db, obj);
    if (!free_storage) return;
    if constexpr (requires { K::kEnum; }) mox_rt::store(h, db, &obj->tinfo, static_cast<void *>(nullptr));
    if (h && h->record_free) h->record_free(h->record_heap, db, obj);
  }
};

}  // namespace mox_rt::kinds

// Exported trampolines.  CT must be the C type the header declares, so a
// mismatch between header and traits is a compile error.
#define MOX_KIND_DEFINE_COMMON(K, CT, TR)                                                      \
  MOX_API CT *K##_get(mox_handle_t *h, uint32_t db, CT *field, uint32_t *err) {                \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::get(h, field, err);                                   \
  }                                                                                           \
  MOX_API uint32_t K##_set(mox_handle_t *h, uint32_t db, CT *field, const CT *source,          \
                           uint32_t *err) {                                                   \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::set(h, db, field, source, err);                       \
  }                                                                                           \
  MOX_API uint32_t K##_len(mox_handle_t *h, uint32_t db, const CT *field) {                    \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::len(field);                                           \
  }                                                                                           \
  MOX_API uint32_t K##_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const CT *field,    \
                               int32_t buflen, uint32_t *err) {                               \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::marshal(h, buf, field, buflen, err);                  \
  }                                                                                           \
  MOX_API uint32_t K##_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, CT *field,  \
                                 int32_t len, uint32_t flag, uint32_t *err) {                 \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::unmarshal(h, db, buf, field, len, err);               \
  }                                                                                           \
  MOX_API uint32_t K##_print(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent,         \
                             const char *label, const CT *field, int32_t room,                \
                             uint32_t *err) {                                                 \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::print(h, buf, indent, label, field, room, err);       \
  }                                                                                           \
  MOX_API uint32_t K##_to_xml(mox_handle_t *h, uint32_t db, const char *name, char *buf,       \
                              const CT *field, int32_t buflen, uint32_t state_flag,           \
                              uint32_t *err) {                                                \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::to_xml(h, name, buf, field, buflen, state_flag, err); \
  }                                                                                           \
  MOX_API void K##_from_xml(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, \
                            CT *field, uint32_t *err, char *msg, uint32_t msglen) {           \
    MOX_RT_ENTER();                                                                           \
    ::mox_rt::kinds::Engine<TR>::from_xml(h, db, path, doc, field, err, msg, msglen);         \
  }                                                                                           \
  MOX_API int32_t K##_compare(const CT *a, const CT *b) {                                      \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::compare(a, b);                                        \
  }

#define MOX_KIND_DEFINE_SCALAR(K, CT, VT, TR)                                                  \
  MOX_KIND_DEFINE_COMMON(K, CT, TR)                                                           \
  MOX_API VT K##_get_value(mox_handle_t *h, uint32_t db, const CT *field, uint32_t *err) {     \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::get_value(h, field, err);                             \
  }                                                                                           \
  MOX_API uint32_t K##_set_value(mox_handle_t *h, uint32_t db, CT *field, VT value,            \
                                 uint32_t *err) {                                             \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::set_plain(h, db, field, value, err);                  \
  }

#define MOX_KIND_DEFINE_OBJECT(K, CT, TR)                                                      \
  MOX_API uint32_t K##_initialize(mox_handle_t *h, uint32_t db, CT *obj, mox_type_info_t *ti,  \
                                  uint32_t notify, uint32_t skip_stats, uint32_t flags,       \
                                  uint8_t *sttr_base, uint32_t *err) {                        \
    MOX_RT_ENTER();                                                                           \
    return ::mox_rt::kinds::Engine<TR>::initialize(h, db, obj, ti, notify, flags, err);       \
  }                                                                                           \
  MOX_API void K##_set_instance_embedded(mox_handle_t *h, uint32_t db, CT *obj) {              \
    MOX_RT_ENTER();                                                                           \
    ::mox_rt::kinds::Engine<TR>::set_instance_embedded(h, db, obj);                           \
  }                                                                                           \
  MOX_API void K##_decr_object_reference(mox_handle_t *h, uint32_t db, CT *obj,                \
                                         uint32_t *err) {                                     \
    MOX_RT_ENTER();                                                                           \
    ::mox_rt::kinds::Engine<TR>::decr_object_reference(obj, err);                             \
  }                                                                                           \
  MOX_API void K##_destroy_internal(mox_handle_t *h, uint32_t db, CT *obj,                     \
                                    uint32_t free_storage) {                                  \
    MOX_RT_ENTER();                                                                           \
    ::mox_rt::kinds::Engine<TR>::destroy_internal(h, db, obj, free_storage);                  \
  }
