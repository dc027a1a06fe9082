// Descriptors of the module's catalogue, as the generator emits them.
//
// Every per-type fact the engines need lives in one of these constexpr-built
// structs; the engines are loops over them and nothing per type is written by
// hand.  The generated tables are in the build tree (catalogue_tables.inc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

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
  DecodeBudget,
  StatsFailed,
  Count
};
constexpr uint16_t kNoMsg = 0xFFFF;
constexpr uint16_t kNoState = 0xFFFF;

// Picks the figure of the target: a 32-bit and a 64-bit value (state
// positions after a pointer word differ between the two).
#define ORVA_BY_TARGET(a32, a64) (sizeof(void *) == 4 ? (a32) : (a64))

// Field flags.
enum : uint8_t {
  kFieldEnumFlag = 0x01,  // boolean or enumeration: the access check passes 1
  kFieldCount = 0x02,     // the element count of a dynamic array (no state byte)
};

// Type operations beyond the common ones (TypeDesc::ops).
enum : uint32_t {
  kOpSizeof = 1u << 0,        // T_sizeof, T_adjust_variant exported
  kOpEmbed = 1u << 1,         // T_set_instance_embedded
  kOpPostCopyout = 1u << 2,   // T_post_copyout_cleanup exported
  kOpStateOnly = 1u << 3,     // fields have only _state_flag_get
  kOpNoCompare = 1u << 4,
  kOpCreateCr = 1u << 5,
  kOpOffsetUpdate = 1u << 6,  // nested state positions placed by T_offset_update
  kOpIsValid = 1u << 7,
  kOpClone = 1u << 8,
  kOpCloneInternal = 1u << 9,
  kOpRecordSet = 1u << 10,    // nested somewhere: has the record-level T_set
  kOpPrint = 1u << 11,        // stands alone: T_print exported
  kOpListElement = 1u << 12,  // element of a list: carries list links after the header
};

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
  uint32_t offset;         // from the start of the record (a list field: its head)
  uint32_t size;           // bytes of the field, of one element for arrays
  uint16_t state;          // position of the field's (or whole array's) state byte
  uint16_t state_area;     // records: first nested state area; arrays of records:
                           // the first element's area (elements' areas follow)
  uint16_t state_pointer;  // dynamic array: position of the per-element state block pointer
  uint16_t msg;            // first message of the field's own messages, or kNoMsg
  uint8_t flags;           // kField* bits
  int8_t count_field;      // dynamic array: index of the field holding its count
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
  uint32_t data_size[2];   // header and fields, by storage variant (0, highest)
  uint32_t state_size[2];  // state-tracking area, by storage variant (0, highest)
  uint32_t storage_size;   // bytes the record takes inside a parent (sizeof)
  uint32_t ops;            // kOp* bits
  void *placeholder;       // returned by creation in _cr mode when it cannot create
  uint32_t list_links;     // list elements: offset of owner/next/prev, else 0
  uint16_t index;          // position in the catalogue (kTypes, ORVA_EACH_TYPE)

  uint32_t data_size_for(int storage_variant) const {
    return data_size[storage_variant > 0 ? 1 : 0];
  }
  uint32_t state_size_for(int storage_variant) const {
    return state_size[storage_variant > 0 ? 1 : 0];
  }
};

struct EnumDesc : EntityDesc {
  const char *const *members;   // member names in value order
  uint8_t member_count;
  uint8_t members_at_variant[2];  // how many members exist at variant 0 and 1
  mox_enum_obj_t *placeholder;  // returned by creation in _cr mode when it cannot create
  const char *out_of_range_xml;   // "<qos_pm_state value out of range/>"
};

// Calls fn.template operator()<I>() for every field index I of T, in
// declaration order: the engines instantiated per type unroll their walk
// over the fields with it (T is a descriptor of catalogue_descriptors.h).
template <const TypeDesc &T, class Fn>
inline void each_field(Fn &&fn) {
  [&]<size_t... I>(std::index_sequence<I...>) {
    (fn.template operator()<I>(), ...);
  }(std::make_index_sequence<T.field_count>{});
}

// The trace catalogue section of record types and enumerations: the header
// of its loaded index section, and its texts.
extern const quill_section_desc_t kTypesSection;
extern const uint32_t kTypesCount;
extern const char *const *const kTypesFormats;
// Every catalogue section's index header, with its number of messages.
extern const quill_section_desc_t *const kTraceSections[];
extern const uint32_t kTraceSectionSizes[];
extern const uint32_t kTraceSectionCount;
// Registers the texts of every catalogue section with the runtime.
void register_trace_catalogue();

}  // namespace orva
