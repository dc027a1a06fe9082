// The list engine: the operations of a list field (class_map_list's entry).
#pragma once

#include <cstdint>

#include "frame/descriptors.h"
#include "mox/runtime.h"

namespace orva {

void *list_get_first(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     uint32_t *err);
void *list_get_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                    uint32_t *err);
void *list_get_next(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                    void *entry, uint32_t *err);
uint32_t list_get_count(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                        uint32_t *err);
uint32_t list_set_last(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                       void *entry, uint32_t *err);
uint32_t list_set_after(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                        void *ref, void *entry, uint32_t *err);
uint32_t list_remove(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     void *entry, uint32_t *err);

// Used by the lifecycle engine and the record-level copy.
void list_initialize(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list,
                     uint32_t notify);
void list_destroy_entries(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list);
// Empties a head whatever it names (first and last to the head, its list
// word to its record, count 0); the entries it named are not touched.
void list_reset(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *list);
// Every list of obj and of the records nested in it (every level, array
// elements too): destroys its entries, or resets its head.
enum class ListAction { DestroyEntries, Reset };
void lists_in_record(const TypeDesc &t, mox_handle_t *h, uint32_t db, void *obj, ListAction a);
void list_move(const TypeDesc &t, uint16_t f, mox_handle_t *h, uint32_t db, void *dst, void *src);
// Unlinks an entry that is being destroyed from its neighbours and its head
// (the list's count goes down with it).
void list_entry_unlink(const TypeDesc &entry_type, mox_handle_t *h, uint32_t db, void *entry);

// Walk helpers for the other families (compare, wire, XML, print).
void *list_first(const void *list_record, const FieldDesc &f);
void *list_next(const void *list_record, const FieldDesc &f, const void *entry,
                const TypeDesc &entry_type);

}  // namespace orva
