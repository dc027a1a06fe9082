// The print engine: the indented text form of every record type.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

// The printer of one type, instantiated over its descriptor (one per type of
// the catalogue).  Appends the record's block, labelled `label` and indented
// by `indent` spaces, to buf, which holds `room` bytes; returns the
// characters written.  Nothing is written past the room and the text stays
// NUL-terminated; a text cut for want of room gives 90.  The exported T_print
// of the stand-alone types calls it directly, the parents of the others use
// it for their nested blocks.
template <const TypeDesc &T>
uint32_t type_print(mox_handle_t *h, uint32_t db, char *buf, uint32_t indent, const char *label,
                    const void *obj, int32_t room, uint32_t *err);

// The same for a descriptor known at run time.
uint32_t record_print(const TypeDesc &t, mox_handle_t *h, uint32_t db, char *buf, uint32_t indent,
                      const char *label, const void *obj, int32_t room, uint32_t *err);

}  // namespace orva
