// Table-record framing: the wire form of a table record (27-byte header, the
// table's LUID, the data record, then a composite table's key record), its
// XML and text forms, and the bare wire form of its primary key.  One engine,
// instantiated per table descriptor (tables/framing.cc); the exported names
// of every table are one-line wrappers over it (docs/wire-format.md).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mox/runtime.h"
#include "mox/xml.h"
#include "tables/descriptor.h"

namespace orva {

// The framing's trace sites: each table has its own entry per site in the
// tables section (ids in tools/gen/table_framing.py).
enum class FMsg : uint8_t {
  MarshalError,
  DomainFail,
  NoData,
  NoKey,
  UnmarshalError,
  PkeyMarshalError,
  PkeyUnmarshalError,
  Count
};

// Per table, the index in the tables section of each FMsg (generated into
// table_framing.h).
template <const TableDesc &D>
inline constexpr const uint16_t *frame_sites = nullptr;

// Bytes in front of the data record: the wire header, then the table's LUID.
constexpr uint32_t kTableFramePrefix = MOX_MSG_HEADER_WIRE_SIZE + 16;

template <const TableDesc &D>
uint32_t trec_len(mox_handle_t *h, uint32_t db, const void *rec);
template <const TableDesc &D>
uint32_t trec_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen,
                      uint32_t *err);
// in_place 0: a new table record (with new data and key records) in *rec, or
// null after a failure; else decodes into the records *rec carries.
template <const TableDesc &D>
uint32_t trec_unmarshal(mox_handle_t *h, uint32_t db, void **rec, const uint8_t *buf, int32_t len,
                        uint32_t in_place, uint32_t *err);
template <const TableDesc &D>
uint32_t trec_to_xml(mox_handle_t *h, uint32_t db, char *buf, const void *rec, int32_t buflen,
                     uint32_t *err);
template <const TableDesc &D>
void *trec_from_xml(mox_handle_t *h, uint32_t db, mox_xml_doc_t *doc, uint32_t *err, char *msg,
                    uint32_t msglen);
template <const TableDesc &D>
uint32_t trec_print(mox_handle_t *h, uint32_t db, char *buf, const void *rec, int32_t buflen,
                    uint32_t *err);
template <const TableDesc &D>
uint32_t pkey_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *rec, int32_t buflen,
                      uint32_t *err);
// A new key object in *key: a data record holding only the key field, or
// the key record of a composite table; null after a failure.
template <const TableDesc &D>
uint32_t pkey_unmarshal(mox_handle_t *h, uint32_t db, void **key, const uint8_t *buf, int32_t len,
                        uint32_t *err);

// The same operations for a table known at run time (tools, tests).
struct TableFraming {
  const TableDesc *table;
  uint32_t (*len)(mox_handle_t *, uint32_t, const void *);
  uint32_t (*marshal)(mox_handle_t *, uint32_t, uint8_t *, const void *, int32_t, uint32_t *);
  uint32_t (*unmarshal)(mox_handle_t *, uint32_t, void **, const uint8_t *, int32_t, uint32_t,
                        uint32_t *);
  uint32_t (*to_xml)(mox_handle_t *, uint32_t, char *, const void *, int32_t, uint32_t *);
  void *(*from_xml)(mox_handle_t *, uint32_t, mox_xml_doc_t *, uint32_t *, char *, uint32_t);
  uint32_t (*print)(mox_handle_t *, uint32_t, char *, const void *, int32_t, uint32_t *);
  uint32_t (*pkey_marshal)(mox_handle_t *, uint32_t, uint8_t *, const void *, int32_t, uint32_t *);
  uint32_t (*pkey_unmarshal)(mox_handle_t *, uint32_t, void **, const uint8_t *, int32_t, uint32_t *);
  void (*destroy)(mox_handle_t *, uint32_t, void *, uint32_t *);  // the table record's destroy
  void (*pkey_destroy)(mox_handle_t *, uint32_t, void *);
  void *(*record_create)(mox_handle_t *, uint32_t with_data);
  void (*set_field)(mox_handle_t *, uint32_t, void *rec, void *obj, uint32_t slot, uint32_t free_previous);
};
extern const TableFraming kTableFramings[];
extern const size_t kTableFramingCount;
// The table named name, or whose LUID is the 16 bytes at luid; null if none.
const TableFraming *table_framing(const char *name);
const TableFraming *table_framing_by_luid(const uint8_t *luid);
// The record a table record carries: slot 0 the data record, 1 the key
// record of a composite table (null for the others).
void *table_record_slot(const TableDesc &d, const void *rec, uint32_t slot);

}  // namespace orva
