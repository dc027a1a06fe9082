// The XML engine: every record type rendered as an XML element and filled
// back from a parsed document (docs/xml-text.md).
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

// The operations of one type, instantiated over its descriptor (one per type
// of the catalogue; the exported wrappers call them directly).
//
// xml_render writes the element `name` for obj at the start of buf, never
// past buflen bytes and NUL-terminated while buflen is at least 1; returns
// the characters written (90 in the slot when the text was cut).
// state_flag is the flag of the record's own start tag.
template <const TypeDesc &T>
uint32_t xml_render(mox_handle_t *h, uint32_t db, const char *name, char *buf, const void *obj,
                    int32_t buflen, uint32_t state_flag, uint32_t *err);
// xml_parse fills the initialized record obj from the element at path
// (an absolute XPath such as "//qos_ap_data_t"); msg receives the reason of a
// failed look-up.
template <const TypeDesc &T>
void xml_parse(mox_handle_t *h, uint32_t db, const char *path, mox_xml_doc_t *doc, void *obj,
               uint32_t *err, char *msg, uint32_t msglen);

// The same for a descriptor known at run time.
uint32_t record_to_xml(const TypeDesc &t, mox_handle_t *h, uint32_t db, const char *name,
                       char *buf, const void *obj, int32_t buflen, uint32_t state_flag,
                       uint32_t *err);
void record_from_xml(const TypeDesc &t, mox_handle_t *h, uint32_t db, const char *path,
                     mox_xml_doc_t *doc, void *obj, uint32_t *err, char *msg, uint32_t msglen);

}  // namespace orva
