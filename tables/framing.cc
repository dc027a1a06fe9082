// Table-record framing, once for every table (instantiated per table
// descriptor): the framed wire form, XML and text of a table record and the
// bare wire form of its primary key.  The carried records travel through
// their own engines (serial/wire.cc, xml.cc, print.cc); this file adds the
// table's frame around them.
#include "tables/framing.h"

#include <cstdio>
#include <cstring>

#include "frame/kinds.h"
#include "serial/print.h"
#include "serial/wire.h"
#include "serial/xml.h"
#include "table_framing.h"
#include "tables/internal.h"
#include "types/lifecycle.h"

namespace orva {

extern const quill_section_desc_t kSection1;
extern const uint32_t *const kSection1Levels;

namespace {

constexpr uint32_t kEBADMSG = 74;  // a frame that is not one well-formed table record

// Emission of the table's own entry for a framing site.
struct Site {
  uint32_t index, level;
  uint16_t module;
};
template <const TableDesc &D>
Site site(FMsg m) {
  trace_init();
  const uint32_t i = frame_sites<D>[static_cast<size_t>(m)];
  return {i, kSection1Levels[i], g_mox_orva_qos_data_trace_module_id};
}
template <const TableDesc &D>
void femit(FMsg m) {
  Site s = site<D>(m);
  __QLf_0(&kSection1, s.index, s.module, s.level);
}
template <const TableDesc &D>
void femit(FMsg m, const char *a) {
  Site s = site<D>(m);
  __QLf_1(&kSection1, s.index, s.module, s.level, a);
}
template <const TableDesc &D>
void femit(FMsg m, const char *a, const char *b) {
  Site s = site<D>(m);
  __QLf_11(&kSection1, s.index, s.module, s.level, a, b);
}
template <const TableDesc &D>
void femit(FMsg m, const char *a, const char *b, const char *c) {
  Site s = site<D>(m);
  __QLf_111(&kSection1, s.index, s.module, s.level, a, b, c);
}

// The carried records: slot 0 the data record, slot 1 a composite table's
// key record.  kSlots is how many a table has.
template <const TableDesc &D>
constexpr uint32_t kSlots = D.composite ? 2 : 1;
template <const TableDesc &D>
const TypeDesc &slot_type(uint32_t slot) {
  return slot == 0 ? *D.data : *D.key_record;
}
template <const TableDesc &D>
void *carried(const void *rec, uint32_t slot) {
  return *slot_of<D>(const_cast<void *>(rec), slot);
}

// The primary key of a field-keyed table: the key field's own kind.
template <KeyKind K>
struct KeyPrim;
template <>
struct KeyPrim<KeyKind::Mac> : Prim<Kind::MacAddr> {};
template <>
struct KeyPrim<KeyKind::U32> : Prim<Kind::U32> {};
template <>
struct KeyPrim<KeyKind::VString> : Prim<Kind::VString> {};

// The key object's type: the data record, or a composite table's key record.
template <const TableDesc &D>
const TypeDesc &key_type() {
  return D.composite ? *D.key_record : *D.data;
}
template <const TableDesc &D>
auto *key_field(const void *obj) {
  using C = typename KeyPrim<D.key_kind>::C;
  return reinterpret_cast<C *>(static_cast<char *>(const_cast<void *>(obj)) + D.key_offset);
}

template <const TableDesc &D>
uint32_t key_len(mox_handle_t *h, uint32_t db, const void *obj) {
  if constexpr (D.composite)
    return record_len(*D.key_record, h, db, obj);
  else
    return KeyPrim<D.key_kind>::len(h, db, key_field<D>(obj));
}

int32_t room(int32_t buflen, uint32_t pos) { return buflen - static_cast<int32_t>(pos); }

// The entry of both encoders: an error already present is traced at the
// site given; nothing to encode (what) or a null buffer with a length is 2.
template <const TableDesc &D>
bool encode_entry(mox_handle_t *h, FMsg site, const void *what, const uint8_t *buf, int32_t buflen,
                  uint32_t *err) {
  if (*err != 0) {
    femit<D>(site, errtext(*err));
    return false;
  }
  mox_clear_last_error(h);
  if (what == nullptr || (buf == nullptr && buflen > 0)) {
    fail(h, err, kENOENT);
    return false;
  }
  return true;
}

// The entry of both decoders: an error already present is traced at the
// site given; a null out parameter is 14, a null buffer with a length 2.
template <const TableDesc &D>
bool decode_entry(mox_handle_t *h, FMsg site, void **out, const uint8_t *buf, int32_t len,
                  uint32_t *err) {
  if (*err != 0) {
    femit<D>(site, D.name, errtext(*err));
    return false;
  }
  mox_clear_last_error(h);
  if (out == nullptr || (buf == nullptr && len > 0)) {
    fail(h, err, out == nullptr ? kEFAULT : kENOENT);
    return false;
  }
  return true;
}

}  // namespace

void *table_record_slot(const TableDesc &d, const void *rec, uint32_t slot) {
  if (rec == nullptr || (slot == 1 && !d.composite)) return nullptr;
  if (d.composite)
    return slot == 0 ? static_cast<const CompositeTableRecord *>(rec)->data
                     : static_cast<const CompositeTableRecord *>(rec)->key;
  return static_cast<const PlainTableRecord *>(rec)->data;
}

template <const TableDesc &D>
uint32_t trec_len(mox_handle_t *h, uint32_t db, const void *rec) {
  if (rec == nullptr) return 0;
  uint32_t n = kTableFramePrefix;
  for (uint32_t s = 0; s < kSlots<D>; ++s)
    if (const void *obj = carried<D>(rec, s); obj != nullptr) n += record_len(slot_type<D>(s), h, db, obj);
  return n;
}

template <const TableDesc &D>
uint32_t trec_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen,
                      uint32_t *err) {
  if (!encode_entry<D>(h, FMsg::MarshalError, rec, buf, buflen, err)) return 0;
  if (!mox_domain_lookup_table_ok(h, &h->domain, D.ti, err)) {
    femit<D>(FMsg::DomainFail, D.name, D.luid_text, mox_domain_name(&h->domain));
    mox_store_epoch_err(h, kEBADE, err);
    return 0;
  }
  if (*err != 0) return 0;
  // The position reached: 0 without room for the header, 27 with room for
  // the header but not the LUID, else 43 plus what the records took.
  uint32_t pos = 0;
  if (buflen < static_cast<int32_t>(MOX_MSG_HEADER_WIRE_SIZE)) {
    fail(h, err, kEMSGSIZE);
  } else {
    std::memset(buf, 0, MOX_MSG_HEADER_WIRE_SIZE);
    pos = MOX_MSG_HEADER_WIRE_SIZE;
    if (room(buflen, pos) >= 16) {
      std::memcpy(buf + pos, D.ti->luid, 16);
      pos = kTableFramePrefix;
    } else {
      fail(h, err, kEMSGSIZE);
    }
  }
  const bool header_room = pos >= MOX_MSG_HEADER_WIRE_SIZE;
  for (uint32_t s = 0; s < kSlots<D>; ++s) {
    const void *obj = carried<D>(rec, s);
    if (obj == nullptr) {
      femit<D>(s == 0 ? FMsg::NoData : FMsg::NoKey);
      if (*err == 0) fail(h, err, kENOENT);
      return pos;
    }
    if (*err == 0) pos += record_marshal(slot_type<D>(s), h, db, buf + pos, obj, room(buflen, pos), 1, err);
  }
  if (header_room && *err == 0) {
    mox_msg_header_t hdr{};
    hdr.version = MOX_MSG_HEADER_VERSION;
    std::memset(hdr.marker, 0xFF, sizeof hdr.marker);
    hdr.sttr = static_cast<uint8_t>(moxlib_type_header_get_state_tracking_flag(h, carried<D>(rec, 0)));
    hdr.handle_word = h->handle_word;
    hdr.encoded_length = pos;
    _mox_message_header_marshal(h, db, buf, &hdr, MOX_MSG_HEADER_WIRE_SIZE, err);
  }
  return pos;
}

template <const TableDesc &D>
uint32_t trec_unmarshal(mox_handle_t *h, uint32_t db, void **io, const uint8_t *buf, int32_t len,
                        uint32_t in_place, uint32_t *err) {
  if (!decode_entry<D>(h, FMsg::UnmarshalError, io, buf, len, err)) return 0;
  void *rec = in_place ? *io : trec_create<D>(h, db, 1, err);
  if (!in_place) *io = nullptr;
  if (rec == nullptr || rec == D.placeholder) {
    fail(h, err, in_place ? kENOENT : kENOMEM);
    return 0;
  }
  mox_msg_header_t hdr{};
  uint32_t pos = _mox_message_header_unmarshal(h, db, buf, &hdr, len, err);
  if (*err == 0) {
    // The LUID is skipped, not compared.  The header's encoded length bounds
    // the frame: one longer than the input is cut, one shorter than header
    // and LUID is malformed.
    if (hdr.encoded_length > static_cast<uint32_t>(len)) fail(h, err, kEMSGSIZE);
    else if (hdr.encoded_length < kTableFramePrefix) fail(h, err, kEBADMSG);
    else pos += 16;
  }
  for (uint32_t s = 0; s < kSlots<D>; ++s) {
    const TypeDesc &t = slot_type<D>(s);
    void *obj = carried<D>(rec, s);
    if (!in_place) {
      obj = record_new(t, h, db);
      if (obj != nullptr) trec_set_field<D>(h, db, rec, obj, s, 0);
    }
    if (obj == nullptr) {
      if (*err == 0) fail(h, err, in_place ? kENOENT : kENOMEM);
      continue;
    }
    if (*err == 0)
      pos += record_unmarshal(t, h, db, buf + pos, obj, static_cast<int32_t>(hdr.encoded_length - pos),
                              in_place, err);
  }
  // Records that end before the frame does: the frame is not one table record.
  if (*err == 0 && pos != hdr.encoded_length) fail(h, err, kEBADMSG);
  if (!in_place) {
    if (*err == 0) {
      *io = rec;
    } else {
      uint32_t local = 0;
      trec_destroy<D>(h, db, rec, &local);
    }
  }
  return pos;
}

template <const TableDesc &D>
uint32_t pkey_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen,
                      uint32_t *err) {
  const void *obj = rec != nullptr ? carried<D>(rec, D.composite ? 1 : 0) : nullptr;
  if (!encode_entry<D>(h, FMsg::PkeyMarshalError, obj, buf, buflen, err)) return 0;
  const uint32_t n = key_len<D>(h, db, obj);
  if (buflen < 0 || n > static_cast<uint32_t>(buflen)) {
    fail(h, err, kEMSGSIZE);
    return 0;
  }
  if constexpr (D.composite)
    return record_marshal(*D.key_record, h, db, buf, obj, buflen, 1, err);
  else
    return KeyPrim<D.key_kind>::marshal(h, db, buf, key_field<D>(obj), buflen, err);
}

template <const TableDesc &D>
uint32_t pkey_unmarshal(mox_handle_t *h, uint32_t db, void **key, const uint8_t *buf, int32_t len,
                        uint32_t *err) {
  if (!decode_entry<D>(h, FMsg::PkeyUnmarshalError, key, buf, len, err)) return 0;
  *key = nullptr;
  void *obj = record_new(key_type<D>(), h, db);
  if (obj == nullptr) {
    fail(h, err, kENOMEM);
    return 0;
  }
  uint32_t n;
  if constexpr (D.composite)
    n = record_unmarshal(*D.key_record, h, db, buf, obj, len, 0, err);
  else
    n = KeyPrim<D.key_kind>::unmarshal(h, db, buf, key_field<D>(obj), len, 0, err);
  if (*err != 0)
    record_destroy(key_type<D>(), h, db, obj);
  else
    *key = obj;
  return n;
}

template <const TableDesc &D>
uint32_t trec_to_xml(mox_handle_t *h, uint32_t db, char *buf, const void *rec, int32_t buflen,
                     uint32_t *err) {
  if (!enter(h, err)) return 0;
  if (buf == nullptr || rec == nullptr || carried<D>(rec, 0) == nullptr ||
      (D.composite && carried<D>(rec, 1) == nullptr)) {
    fail(h, err, kENOENT);
    return 0;
  }
  uint32_t pos = start_tag(h, db, buf, D.name, buflen, 0, err);
  for (uint32_t s = 0; s < kSlots<D> && *err == 0; ++s) {
    const TypeDesc &t = slot_type<D>(s);
    pos += record_to_xml(t, h, db, t.name, buf + pos, carried<D>(rec, s), room(buflen, pos), 0, err);
  }
  return pos + end_tag(h, db, buf + pos, D.name, room(buflen, pos), err);
}

template <const TableDesc &D>
void *trec_from_xml(mox_handle_t *h, uint32_t db, mox_xml_doc_t *doc, uint32_t *err, char *msg,
                    uint32_t msglen) {
  if (!enter(h, err)) return nullptr;
  void *rec = trec_create<D>(h, db, 1, err);
  if (rec == nullptr || rec == D.placeholder) {
    fail(h, err, kENOMEM);
    return nullptr;
  }
  for (uint32_t s = 0; s < kSlots<D>; ++s) {
    const TypeDesc &t = slot_type<D>(s);
    void *obj = record_new(t, h, db);
    if (obj == nullptr) {
      fail(h, err, kENOMEM);
    } else {
      trec_set_field<D>(h, db, rec, obj, s, 0);
      char path[80];
      std::snprintf(path, sizeof path, "//%s", t.name);
      record_from_xml(t, h, db, path, doc, obj, err, msg, msglen);
      if (*err == kENOENT) {  // the element is absent: the record keeps its initial values
        *err = 0;
        mox_clear_last_error(h);
      }
    }
    if (*err != 0) {
      uint32_t local = 0;
      trec_destroy<D>(h, db, rec, &local);
      return nullptr;
    }
  }
  return rec;
}

template <const TableDesc &D>
uint32_t trec_print(mox_handle_t *h, uint32_t db, char *buf, const void *rec, int32_t buflen,
                    uint32_t *err) {
  if (!enter(h, err)) return 0;
  const void *data = rec != nullptr ? carried<D>(rec, 0) : nullptr;
  if (buf == nullptr || data == nullptr) {
    fail(h, err, kENOENT);
    return 0;
  }
  if (buflen <= 0) {
    fail(h, err, kEMSGSIZE);
    return 0;
  }
  uint32_t pos = mox_snprintf(h, db, buf, buflen, err, "record@%s: {\n", D.name);
  if (*err != 0) return pos;
  // Room for the block is judged by the record's wire length, as the
  // table's printers always have.
  if (room(buflen, pos) < static_cast<int32_t>(record_len(*D.data, h, db, data))) {
    fail(h, err, kEMSGSIZE);
    return pos;
  }
  pos += record_print(*D.data, h, db, buf + pos, 2, D.data->name, data, room(buflen, pos), err);
  if (*err == 0) pos += mox_snprintf(h, db, buf + pos, room(buflen, pos), err, "}\n");
  return pos;
}

#define ORVA_TABLE_FRAMING(N)                                                                        \
  template uint32_t trec_len<k_##N>(mox_handle_t *, uint32_t, const void *);                         \
  template uint32_t trec_marshal<k_##N>(mox_handle_t *, uint32_t, uint8_t *, const void *, int32_t,  \
                                        uint32_t *);                                                 \
  template uint32_t trec_unmarshal<k_##N>(mox_handle_t *, uint32_t, void **, const uint8_t *,        \
                                          int32_t, uint32_t, uint32_t *);                            \
  template uint32_t trec_to_xml<k_##N>(mox_handle_t *, uint32_t, char *, const void *, int32_t,      \
                                       uint32_t *);                                                  \
  template void *trec_from_xml<k_##N>(mox_handle_t *, uint32_t, mox_xml_doc_t *, uint32_t *, char *, \
                                      uint32_t);                                                     \
  template uint32_t trec_print<k_##N>(mox_handle_t *, uint32_t, char *, const void *, int32_t,       \
                                      uint32_t *);                                                   \
  template uint32_t pkey_marshal<k_##N>(mox_handle_t *, uint32_t, uint8_t *, const void *, int32_t,  \
                                        uint32_t *);                                                 \
  template uint32_t pkey_unmarshal<k_##N>(mox_handle_t *, uint32_t, void **, const uint8_t *,        \
                                          int32_t, uint32_t *);
ORVA_EACH_TABLE(ORVA_TABLE_FRAMING)

#define ORVA_FRAMING_ROW(N)                                                                          \
  {&k_##N,           trec_len<k_##N>,      trec_marshal<k_##N>, trec_unmarshal<k_##N>,               \
   trec_to_xml<k_##N>, trec_from_xml<k_##N>, trec_print<k_##N>,  pkey_marshal<k_##N>,                 \
   pkey_unmarshal<k_##N>, trec_destroy<k_##N>, pkey_destroy<k_##N>, trec_create_cr<k_##N>, trec_set_field<k_##N>},
const TableFraming kTableFramings[] = {ORVA_EACH_TABLE(ORVA_FRAMING_ROW)};
const size_t kTableFramingCount = std::size(kTableFramings);

const TableFraming *table_framing(const char *name) {
  for (const TableFraming &f : kTableFramings)
    if (std::strcmp(f.table->name, name) == 0) return &f;
  return nullptr;
}

const TableFraming *table_framing_by_luid(const uint8_t *luid) {
  for (const TableFraming &f : kTableFramings)
    if (std::memcmp(f.table->ti->luid, luid, 16) == 0) return &f;
  return nullptr;
}

}  // namespace orva
