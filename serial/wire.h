// The wire engine: the versioned binary form of every record type, and the
// cloning that copies a record through it.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

// The operations of one type, instantiated over its descriptor (one per
// type of the catalogue; the exported wrappers call them directly).
template <const TypeDesc &T>
uint32_t wire_len(mox_handle_t *h, uint32_t db, const void *obj);
template <const TypeDesc &T>
uint32_t wire_marshal(mox_handle_t *h, uint32_t db, uint8_t *buf, const void *obj, int32_t buflen,
                      uint32_t domain_check, uint32_t *err);
template <const TypeDesc &T>
uint32_t wire_unmarshal(mox_handle_t *h, uint32_t db, const uint8_t *buf, void *obj, int32_t len,
                        uint32_t in_place, uint32_t *err);

// The same for a descriptor known at run time.
uint32_t record_len(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj);
uint32_t record_marshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, uint8_t *buf,
                        const void *obj, int32_t buflen, uint32_t domain_check, uint32_t *err);
uint32_t record_unmarshal(const TypeDesc &t, mox_handle_t *h, uint32_t db, const uint8_t *buf,
                          void *obj, int32_t len, uint32_t in_place, uint32_t *err);
// fresh: start from a null destination (T_clone); else copy into *dst when it
// holds a record (T_clone_internal).
uint32_t record_clone(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *src,
                      void **dst, uint8_t *buf, int32_t buflen, bool fresh, uint32_t *err);

}  // namespace orva
