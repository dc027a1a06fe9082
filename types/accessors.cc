// Placeholder: filled in by the engine.
#include "types/accessors.h"

namespace orva {
void *field_get(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t *err) { return {}; }
void *field_get_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, uint32_t *err) { return {}; }
uint32_t field_get_value(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t *err) { return {}; }
uint32_t field_set(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, const void *src, uint32_t *err) { return {}; }
uint32_t field_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, const void *src, uint32_t *err) { return {}; }
uint32_t field_set_value(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint64_t value, uint32_t *err) { return {}; }
uint32_t field_set_value_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, uint64_t value, uint32_t *err) { return {}; }
uint8_t field_state_get(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t *err) { return {}; }
uint32_t field_state_set(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t value, uint32_t *err) { return {}; }
uint8_t field_state_get_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, uint32_t *err) { return {}; }
uint32_t field_state_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, uint32_t value, uint32_t *err) { return {}; }
uint32_t *field_get_mem(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t *dst, uint32_t count, uint32_t *err) { return {}; }
uint32_t field_set_mem_cr(const TypeDesc &t, uint16_t f, mox_handle_t *h, void *obj, const uint32_t *src, uint32_t count) { return {}; }
void field_remove_elements(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj) {}
uint32_t dynamic_set_at(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *obj, uint32_t index, const void *src, bool clone, uint32_t *err) { return {}; }
uint32_t record_set(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst, void *src, uint32_t *err) { return {}; }
void record_post_copyout_cleanup(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *dst, void *src, uint32_t *err) {}

}  // namespace orva
