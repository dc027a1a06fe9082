// Layout checks of the fixed structures the runtime and the module share.
// This file is also compiled for a 32-bit target, where the figures below hold
// byte for byte; on 64-bit only the pointer words widen.
#include <cstddef>
#include <cstdint>

#include "mox/runtime.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "tables/descriptor.h"

namespace {

constexpr bool kTarget32 = sizeof(void *) == 4;
constexpr size_t kWord = sizeof(void *);

// Object header: type-info word, variant, storage variant, flags, then data.
struct FirstByte {
  MOX_OBJ_HEADER;
  uint8_t first;
};
static_assert(offsetof(mox_obj_header_t, tinfo) == 0);
static_assert(offsetof(mox_obj_header_t, variant) == kWord);
static_assert(offsetof(mox_obj_header_t, storage_variant) == kWord + 1);
static_assert(offsetof(mox_obj_header_t, flags) == kWord + 2);
static_assert(offsetof(FirstByte, first) == kWord + 3, "first data byte right after the flags");
static_assert(!kTarget32 || offsetof(FirstByte, first) == 7);

// Enumeration object: header and a 32-bit value.
static_assert(offsetof(mox_enum_obj_t, value) == kWord + 4);
static_assert(sizeof(mox_enum_obj_t) == (kTarget32 ? 12 : 16));

// Variant entry and variant-info block.
static_assert(sizeof(mox_type_stats_t) == 24);
static_assert(sizeof(mox_variant_entry_t) == 40);
static_assert(offsetof(mox_variant_entry_t, stats) == 16);
static_assert(offsetof(mox_variant_info_t, entries) == (kTarget32 ? 4 : 8));

// Type-info record: 264 bytes on 32-bit; the variant-info pointer widens and
// moves to the next 8-byte boundary on 64-bit.
static_assert(offsetof(mox_type_info_t, magic) == 0);
static_assert(offsetof(mox_type_info_t, luid) == 4);
static_assert(offsetof(mox_type_info_t, luid_text) == 20);
static_assert(offsetof(mox_type_info_t, name) == 53);
static_assert(offsetof(mox_type_info_t, module) == 117);
static_assert(offsetof(mox_type_info_t, kind) == 181);
static_assert(offsetof(mox_type_info_t, pad) == 245);
static_assert(offsetof(mox_type_info_t, reserved0) == 248);
static_assert(offsetof(mox_type_info_t, variant_info) == (kTarget32 ? 252 : 256));
static_assert(offsetof(mox_type_info_t, placement) == (kTarget32 ? 256 : 264));
static_assert(offsetof(mox_type_info_t, reserved1) == (kTarget32 ? 260 : 268));
static_assert(sizeof(mox_type_info_t) == (kTarget32 ? 264 : 272));
static_assert(sizeof(mox_registered_type_info_t) == (kTarget32 ? 280 : 288));

// Module list: node and root.
static_assert(offsetof(mox_module_node_t, type_list) == kWord);
static_assert(offsetof(mox_module_node_t, next) == 2 * kWord);
static_assert(offsetof(mox_module_node_t, prev) == 3 * kWord);
static_assert(offsetof(mox_module_root_t, first) == kWord);

// Primitive kinds as records hold them.
static_assert(sizeof(mox_boolean_t) == 4);
static_assert(sizeof(mox_mac_addr_t) == 6 && alignof(mox_mac_addr_t) == 1);
static_assert(sizeof(mox_vstring_t) == (kTarget32 ? 8 : 16));
static_assert(sizeof(ip_address_t) == 24);
static_assert(sizeof(calendar_time_t) == 16 && alignof(calendar_time_t) == 8);
static_assert(alignof(enm_client_type_t) == alignof(void *));
static_assert(sizeof(enm_client_type_t) == sizeof(mox_enum_obj_t));

// The message: header, the sixteen header fields from the first word after
// the header, the payload reference; on 32 bits exactly the used length of
// its type-info record (28).
static_assert(offsetof(qos_client_data_message_t, header) == kWord + 4);
static_assert(sizeof(mox_msg_header_t) == 16);
static_assert(offsetof(qos_client_data_message_t, payload) == (kTarget32 ? 24 : 32));
static_assert(!kTarget32 || sizeof(qos_client_data_message_t) == 28);

// Table object (allocated by a table's open) and table records (72 bytes,
// 80 with a key record, on 32-bit).
static_assert(offsetof(mox_db_table_t, name) == kWord);
static_assert(offsetof(mox_db_table_t, record_count) == kWord + MOX_TABLE_NAME_MAX);
static_assert(!kTarget32 || offsetof(mox_db_table_t, id) == 220);
static_assert(!kTarget32 || offsetof(mox_db_table_t, root) == 248);
static_assert(sizeof(mox_db_table_t) == (kTarget32 ? 256 : 280));
static_assert(sizeof(mox_db_table_record_t) == (kTarget32 ? 28 : 40));
static_assert(offsetof(orva::TableRecordHead, node) == (kTarget32 ? 36 : 48));
static_assert(offsetof(orva::TableRecordHead, order) == offsetof(orva::TableRecordHead, node) + sizeof(e_avl_node_t));
static_assert(kTarget32 || sizeof(orva::TableRecordHead) + sizeof(void *) <= 112,
              "node, place and data pointer in bytes 48-111");
static_assert(sizeof(orva::PlainTableRecord) == (kTarget32 ? 72 : 104));
static_assert(sizeof(orva::CompositeTableRecord) == (kTarget32 ? 80 : 120));

#include "layout_checks.inc"

}  // namespace
