// The enumeration engine: one implementation of every enumeration operation,
// driven by the enumeration's descriptor.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

mox_enum_obj_t *enum_create_internal(const EnumDesc &e, mox_handle_t *h, uint32_t db);
// Returns the object's new flag byte.
uint32_t enum_initialize(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                         mox_type_info_t *ti, uint32_t notify, uint32_t flags, uint32_t *err);
void enum_destroy_internal(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                           uint32_t free_storage);
uint32_t enum_get_value(mox_handle_t *h, uint32_t db, const mox_enum_obj_t *obj, uint32_t *err);
uint32_t enum_set_value(const EnumDesc &e, mox_handle_t *h, uint32_t db, mox_enum_obj_t *obj,
                        uint32_t value, uint32_t *err);
int32_t enum_compare(const mox_enum_obj_t *a, const mox_enum_obj_t *b);
uint32_t enum_marshal(const EnumDesc &e, mox_handle_t *h, uint32_t db, uint8_t *buf,
                      const mox_enum_obj_t *obj, int32_t buflen, uint32_t *err);
uint32_t enum_unmarshal(const EnumDesc &e, mox_handle_t *h, uint32_t db, const uint8_t *buf,
                        mox_enum_obj_t *obj, int32_t len, uint32_t flag, uint32_t *err);
uint32_t enum_to_xml(const EnumDesc &e, mox_handle_t *h, uint32_t db, const char *name, char *out,
                     const mox_enum_obj_t *obj, int32_t outlen, uint32_t *err);
void enum_from_xml(const EnumDesc &e, mox_handle_t *h, uint32_t db, const char *path,
                   mox_xml_doc_t *doc, mox_enum_obj_t *obj, uint32_t *err, char *msg,
                   uint32_t msglen);
// The text form used by the record printers: "<label>@<enumeration>:<member>\n".
uint32_t enum_print(const EnumDesc &e, mox_handle_t *h, uint32_t db, char *buf, uint32_t indent,
                    const char *label, const mox_enum_obj_t *obj, int32_t room, uint32_t *err);

}  // namespace orva
