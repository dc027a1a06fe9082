// Descriptors of the module's catalogue, as the generator emits them.
//
// Every per-type fact the engines need lives in one of these constexpr-built
// structs; the engines are loops over them and nothing per type is written by
// hand.  The generated tables are in the build tree (catalogue_tables.inc).
#pragma once

#include <cstdint>

#include "mox/runtime.h"

namespace orva {

// Field kinds of the catalogue.
enum class Kind : uint8_t {
  U8,
  U16,
  U32,
  U64,
  I16,
  Boolean,
  MacAddr,
  VString,
  IpAddress,
  CalendarTime,
  EnmClientType,   // runtime enumeration
  EnmRadioBand,    // runtime enumeration
  Enum,            // enumeration of this module
  Record,          // embedded record
};

enum class Shape : uint8_t { Single, Array, Dynamic, List };

// Trace message templates: each entity (record type or enumeration) has its
// own numbered entry per template it uses, so every call site is distinct in
// the trace catalogue.
enum class Msg : uint8_t {
  CorruptHandle,
  NotTracked,
  NonTracked,
  ValNotTracked,
  VarinfoNull,
  VariantExcess,
  TinfoCorrupt,
  NestedBaseNull,
  EmbedNull,
  CreateFailed,
  OidRemoveFailed,
  DestroyDeferred,
  OidRemoved,
  HdRemoveFailed,
  UnmarshalMismatch,
  UnmarshalSkip,
  StatsFailed,
  Count
};
constexpr uint16_t kNoMsg = 0xFFFF;

struct TypeDesc;
struct EnumDesc;

// One field of a record type, in declaration order.
struct FieldDesc {
  const char *name;
  Kind kind;
  Shape shape;
  uint16_t bound;          // fixed arrays: number of elements
  uint8_t variant;         // 0, or 1 for fields of the newer variant
  bool key;                // part of a table's primary key
  const TypeDesc *record;  // Kind::Record, and the element type of Dynamic/List
  const EnumDesc *enumd;   // Kind::Enum
};

// What record types and enumerations share: identity, variants, messages.
struct EntityDesc {
  const char *name;
  mox_type_info_t *ti;          // the static type-info record
  int8_t highest;               // latest variant
  const uint16_t *msgs;         // message index per Msg, kNoMsg where unused
};

struct TypeDesc : EntityDesc {
  const FieldDesc *fields;
  uint16_t field_count;
};

struct EnumDesc : EntityDesc {
  const char *const *members;   // member names in value order
  uint8_t member_count;
  uint8_t members_at_variant[2];  // how many members exist at variant 0 and 1
  mox_enum_obj_t *placeholder;  // returned by creation in _cr mode when it cannot create
  const char *out_of_range_xml;   // "<qos_pm_state value out of range/>"
};

// The trace catalogue section of record types and enumerations.
extern const quill_section_desc_t kTypesSection;

}  // namespace orva
