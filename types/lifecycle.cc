// Placeholder: filled in by the engine.
#include "types/lifecycle.h"

namespace orva {
void *record_create(const TypeDesc &t, mox_handle_t *h, uint32_t db) { return {}; }
void *record_create_cr(const TypeDesc &t, mox_handle_t *h) { return {}; }
uint32_t record_initialize(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, mox_type_info_t *ti, uint32_t notify, uint32_t skip_stats, uint32_t flags, uint8_t *sttr_base, uint32_t *err) { return {}; }
void record_destroy(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj) {}
void record_destroy_cr(const TypeDesc &t, mox_handle_t *h, void *obj) {}
void record_destroy_internal(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t free_storage) {}
uint32_t record_sizeof(const TypeDesc &t, mox_handle_t *h) { return {}; }
uint32_t record_sizeof_internal(const TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t with_state, uint32_t state_only) { return {}; }
void record_set_instance_embedded(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj) {}
void record_offset_update(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint8_t *sttr_area) {}
void record_adjust_variant(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, uint32_t *err) {}
uint32_t record_is_valid_cr(const TypeDesc &t, mox_handle_t *h, const void *obj, uint32_t field_index, uint32_t flags) { return {}; }
uint8_t *state_area(const TypeDesc &t, mox_handle_t *h, uint32_t db, const void *obj) { return {}; }

}  // namespace orva
