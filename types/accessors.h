// The field accessor engine: every field operation of every record type, by
// the field's descriptor; plus the record-level copy and its cleanup.
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

void *field_get(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                uint32_t *err);
void *field_get_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                   uint32_t index, uint32_t *err);
uint32_t field_get_value(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                         uint32_t *err);
uint32_t field_set(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                   const void *src, uint32_t *err);
uint32_t field_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                      uint32_t index, const void *src, uint32_t *err);
uint32_t field_set_value(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                         uint64_t value, uint32_t *err);
uint32_t field_set_value_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                            uint32_t index, uint64_t value, uint32_t *err);
// The field's own byte, or for an array or the dynamic array the whole byte.
uint8_t field_state_get(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t *err);
uint32_t field_state_set(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                         uint32_t value, uint32_t *err);
// An element's byte of an array or of the dynamic array.
uint8_t field_state_get_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                           uint32_t index, uint32_t *err);
uint32_t field_state_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db,
                            void *obj, uint32_t index, uint32_t value, uint32_t *err);
uint32_t *field_get_mem(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t *dst, uint32_t count, uint32_t *err);
uint32_t field_set_mem_cr(const TypeDesc &t, uint16_t f, mox_handle_t *h, void *obj,
                          const uint32_t *src, uint32_t count);
void field_remove_elements(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj);

// The dynamic array's element setter; with clone set the source is copied in
// through its wire form (as the XML decoder does) instead of the record copy.
uint32_t dynamic_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj,
                        uint32_t index, const void *src, bool clone, uint32_t *err);

uint32_t record_set(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst, void *src,
                    uint32_t *err);
// Gives dst its own copies of the owned members after a byte copy from src
// (err may be null: the list form takes no error slot).
void record_post_copyout_cleanup(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst,
                                 void *src, uint32_t *err);

}  // namespace orva
