// Placeholder: filled in by the engine.
#include "types/class_map_list.h"

namespace orva {
void *list_get_first(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, uint32_t *err) { return {}; }
void *list_get_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, uint32_t *err) { return {}; }
void *list_get_next(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, void *entry, uint32_t *err) { return {}; }
uint32_t list_get_count(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, uint32_t *err) { return {}; }
uint32_t list_set_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, void *entry, uint32_t *err) { return {}; }
uint32_t list_set_after(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, void *ref, void *entry, uint32_t *err) { return {}; }
uint32_t list_remove(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list, void *entry, uint32_t *err) { return {}; }
void list_initialize(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list) {}
void list_destroy_entries(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list) {}
void list_move(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *dst, void *src) {}
void list_entry_unlink(const TypeDesc &entry_type, mox_handle_t *h, uint32_t db, void *entry) {}
void *list_first(const void *list_record, const FieldDesc &f) { return {}; }
void *list_next(const void *list_record, const FieldDesc &f, const void *entry, const TypeDesc &entry_type) { return {}; }

}  // namespace orva
