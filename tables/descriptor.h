// The descriptor of a table and the layout of its table records.
//
// One TableDesc per table of the catalogue is generated into
// table_descriptors.h (tools/gen/tables.py); the engines of tables/ are
// templates over it.  This header is also compiled for a 32-bit target by the
// layout check (frame/layout.cc), so it holds only plain declarations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/descriptors.h"
#include "mox/db.h"

namespace orva {

// Trace messages of a table: each table has its own entry per call site in
// the tables section of the trace catalogue (ids in tools/gen/tables.py).
enum class TMsg : uint8_t {
  OpenNoWriteLock,
  OpenTocList,
  OpenToc,
  OpenTocRoot,
  OpenNoTocRoot,
  OpenFindName,
  OpenFindId,
  TbiReader,
  TbiSetFailed,
  PlumeError,
  OpenCursor,
  OpenMapping,
  OpenTocInsert,
  VarinfoNull,
  VariantExcess,
  OpenStats,
  FreeTocRoot,
  FreeTocDelete,
  FreeGcValidate,
  FreeOid,
  FreeOidRemoved,
  FreeTocList,
  FreeOnGcList,
  FreeGcRemove,
  FreeStats,
  RecordStats,
  RecordTinfo,
  DestroyDelete,
  DestroyStats,
  DestroyHd,
  DestroyLoc,
  SetFieldRefused,
  FreeSetRefused,
  InsertExists,
  DeleteReader,
  DeleteReaderCheck,
  RequestInvalid,
  RequestFailed,
  RequestMismatch,
  RequestNoTable,
  RequestFreeToc,
  InvalidGetFlag,
  DeleteNotFound,
  CbCreate,  // the callbacks' default messages, in TCb order
  CbModify,
  CbDelete,
  CbCreateDm,
  CbDeleteDm,
  CbGrouping,
  CbFree,
  Count
};

// The seven record callbacks of a table, each passing its event to the
// owning process's handler of that event.
enum class TCb : uint8_t { Create, Modify, Delete, CreateDm, DeleteDm, Grouping, Free, Count };

// The handlers' C types: the handle and database id, then the callback's
// own arguments unchanged (error slot included).
using TableEventHandler = uint32_t (*)(mox_handle_t *, uint32_t, void *first, void *second,
                                       uint32_t *err);
using TableDmHandler = uint32_t (*)(mox_handle_t *, uint32_t, void *rec, uint32_t *err);
using TableGroupingHandler = uint32_t (*)(mox_handle_t *, uint32_t, void *first, uint32_t *err,
                                          uint32_t, uint32_t, uint32_t, uint32_t);
using TableFreeHandler = uint32_t (*)(mox_handle_t *, uint32_t, void *first, void *second,
                                      uint32_t *err, uint32_t);

// The owning process's handlers of a table: weak references, null for a
// handler the process does not define.  Members in TCb order.
struct TableHandlers {
  TableEventHandler create, modify, del;
  TableDmHandler create_dm, delete_dm;
  TableGroupingHandler grouping;
  TableFreeHandler free;
};

// What differs per table beyond its types (TableDesc::members).
enum : uint32_t {
  kTblGetCr = 1u << 0,            // the key index's _get_cr
  kTblRequestFree = 1u << 1,      // request_table_free, table_close_cr
  kTblRecordDestroyCr = 1u << 2,  // record_destroy_cr
  kTblNextIgnoreSrc = 1u << 3,    // the key index's _get_next_ignore_src
  kTblSearchOnly = 1u << 4,       // key index without the not-pending-destroy members and _get_cr
};

// How the key compares: a field of the data record, or a whole key record.
enum class KeyKind : uint8_t { Mac, U32, VString, Record };

struct TableDesc {
  const char *name;
  mox_type_info_t *ti;          // the table's type-info record
  mox_type_info_t *record_ti;   // the table record's type-info record
  const char *luid_text;        // 32 lowercase hex digits, part of table names
  const TypeDesc *data;         // the data record type
  const TypeDesc *key_record;   // the key record type of a composite table, else null
  bool composite;               // key_record is set (a constant in every build, sanitizers too)
  KeyKind key_kind;
  uint32_t key_offset;          // field keys: offset of the key field in the data record
  const char *key_name;         // the key field, "" for a key record
  uint32_t members;             // kTbl* bits
  const uint16_t *msgs;         // index in the tables section per TMsg
  void *placeholder;            // the zeroed record of a handle-bound create without memory
  void **tbi;                   // this process's cached pointer to the table kind's id root
  const TableHandlers *handlers;  // the process's handlers of the seven callbacks
};

// A table record: the head the database services read, words kept for the
// database services (zero; with the others below they make the record the
// size the services allocate), the tree node, the record's place in the
// tree's order, then the carried records.  A composite table's record also
// carries its key record.
//
// The place is written when the record is inserted: `order` (two words read
// as one 64-bit number) holds the tenant id in the top 16 bits and the key's
// first 48 bits in key order below it (a MAC address whole, a 32-bit number
// whole, a string's first six octets, 0 for a key record); `order_source` is
// the record's source id, `order_table` the tag of the table it went into
// (table_tag).  The tree's descent compares places and reads the key itself
// only when two places are equal, and a walk filters by tenant and source
// from the place and knows its start from the tag and the node's links, so
// both touch the node's cache line and no other: the database hands a 104-byte record out 16 bytes past a 64-byte
// boundary (a 16-byte block header in a 128-byte block), which puts record
// bytes 48 to 111 (node, place, data pointer) in one line on 64-bit targets.
struct TableRecordHead {
  mox_db_table_record_t head;
  uint32_t services_head[2];
  e_avl_node_t node;
  uint32_t order[2];
  uint32_t order_source;
  uint32_t order_table;
};

// The tag of a table in its records' places: the table object's address,
// folded to 32 bits on 64-bit targets.
inline uint32_t table_tag(const void *table) {
  const uint64_t a = reinterpret_cast<uintptr_t>(table);
  return static_cast<uint32_t>(a ^ (a >> 32));
}
struct PlainTableRecord : TableRecordHead {
  void *data;
};
struct CompositeTableRecord : TableRecordHead {
  uint32_t services[sizeof(void *) == 8 ? 2 : 1];
  void *data;
  void *key;
};

// The id root of a table kind (one per database): the count of tables of the
// kind opened by id and the next free id.  24 bytes as allocated.
struct TableIdRoot {
  uint32_t tables;
  uint32_t pad;
  uint64_t next_free_id;
  uint64_t reserved;
};
static_assert(sizeof(TableIdRoot) == 24);

}  // namespace orva
