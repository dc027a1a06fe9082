// The record lifecycle engine: create, initialize, destroy, size, embed,
// variant adjustment and state-area placement of every record type.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

void *record_create(const TypeDesc &t, mox_handle_t *h, uint32_t db);
// A record the engines create for themselves (a decoded list entry, a clone's
// destination): null when it cannot be created, never the placeholder,
// whatever the handle's cr_mode (the placeholder is shared and must never
// be decoded into or linked).
void *record_new(const TypeDesc &t, mox_handle_t *h, uint32_t db);
void *record_create_cr(const TypeDesc &t, mox_handle_t *h);
uint32_t record_initialize(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           mox_type_info_t *ti, uint32_t notify, uint32_t skip_stats,
                           uint32_t flags, uint8_t *sttr_base, uint32_t *err);
void record_destroy(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj);
void record_destroy_cr(const TypeDesc &t, mox_handle_t *h, void *obj);
void record_destroy_internal(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                             uint32_t free_storage);
uint32_t record_sizeof(const TypeDesc &t, mox_handle_t *h);
uint32_t record_sizeof_internal(const TypeDesc &t, mox_handle_t *h, const void *obj,
                                uint32_t with_state, uint32_t state_only);
void record_set_instance_embedded(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj);
void record_offset_update(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                          uint8_t *sttr_area);
void record_adjust_variant(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj,
                           uint32_t *err);
uint32_t record_is_valid_cr(const TypeDesc &t, mox_handle_t *h, const void *obj,
                            uint32_t field_index, uint32_t flags);

// The start of obj's state-tracking area: the runtime-held offset when the
// record has STTR_OFFSET_HELD, else right after its data.  Null when the
// record is not state-tracked.
uint8_t *state_area(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj);

}  // namespace orva
