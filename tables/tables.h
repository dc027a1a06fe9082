// The table engines: one source per operation family, instantiated per table
// over its descriptor (table_descriptors.h, ORVA_EACH_TABLE).  The exported
// names of every table are one-line wrappers over these (exports.inc).
//
// Conventions of every entry with an error slot: nothing happens when the slot
// holds an error; the handle's last error is cleared first; a failure stores
// its errno value in the slot and in last_error.  Every store into database
// memory is announced through the handle's write_notify first.
#pragma once

#include <cstdint>

#include "mox/runtime.h"
#include "tables/descriptor.h"

namespace orva {

// --- Table lifecycle (tables/lifecycle.cc) --------------------------------
// Opens (finds, or creates when open_type is 0) the table by name (kind 0),
// by id (kind 1) or under the next free id (kind 2).
template <const TableDesc &D>
void *table_open(mox_handle_t *h, uint32_t db, const char *name, uint32_t id_low, uint32_t id_high,
                 void *ior, uint32_t open_type, uint32_t dynamic, uint32_t kind, uint32_t *err);
template <const TableDesc &D>
void *table_open_cr(mox_handle_t *h, uint32_t open_type, uint32_t kind, const char *name,
                    uint32_t id_low, uint32_t id_high);
void table_close(mox_handle_t *h, uint32_t *err);
template <const TableDesc &D>
void request_table_free(mox_handle_t *h, uint32_t db, void *table, uint32_t *err);
template <const TableDesc &D>
void table_close_cr(mox_handle_t *h, void *table, uint32_t mode);
template <const TableDesc &D>
void table_free(mox_handle_t *h, uint32_t db, void *table, uint32_t *err);

// --- Table records (tables/records.cc) ------------------------------------
template <const TableDesc &D>
void *trec_create(mox_handle_t *h, uint32_t db, uint8_t source, uint32_t *err);
template <const TableDesc &D>
void *trec_create_cr(mox_handle_t *h, uint32_t with_data);
template <const TableDesc &D>
void *trec_request_destroy(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t *err);
template <const TableDesc &D>
uint32_t trec_request_destroy_cr(mox_handle_t *h, void *table, void *rec, void **result);
template <const TableDesc &D>
void pkey_destroy(mox_handle_t *h, uint32_t db, void *key);
uint32_t trec_add_ref(mox_handle_t *h, uint32_t db, void *rec, uint32_t *err);
template <const TableDesc &D>
void trec_destroy(mox_handle_t *h, uint32_t db, void *rec, uint32_t *err);
// slot 0: the data record, 1: the key record of a composite table.
template <const TableDesc &D>
void *trec_get_field(mox_handle_t *h, uint32_t db, void *rec, uint32_t slot);
template <const TableDesc &D>
void trec_set_field(mox_handle_t *h, uint32_t db, void *rec, void *obj, uint32_t slot,
                      uint32_t free_previous);

// --- Key order, search and walks (tables/tree.cc) -------------------------
// The tree's compare: tenant, key, location entry, source id (0/1/2).
template <const TableDesc &D>
uint32_t avl_compare(const e_avl_node_t *a, const e_avl_node_t *b);
template <const TableDesc &D>
void table_insert(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t key_mark,
                  uint32_t *err);
template <const TableDesc &D>
void table_delete(mox_handle_t *h, uint32_t db, void *table, void *rec, uint32_t key_mark,
                  uint32_t *err);
// The one search: exact, or with near the next record forward (previous
// backward) passing the filter; probe_source 0 probes source 1.
template <const TableDesc &D>
void *table_search(mox_handle_t *h, uint32_t db, void *table, const void *key, uint32_t near,
                   uint32_t forward, uint32_t probe_source, uint32_t filter_source,
                   uint32_t not_pending, uint32_t same_key, uint32_t *err);
// The walk step from a record (forward or backward).
template <const TableDesc &D>
void *table_walk(mox_handle_t *h, uint32_t db, void *table, void *start, uint32_t forward,
                 uint32_t source, uint32_t by_source, uint32_t not_pending, uint32_t same_key,
                 uint32_t *err);
// The record after (before) a key: an exact search, then a step or a near search.
template <const TableDesc &D>
void *table_step_by_key(mox_handle_t *h, uint32_t db, void *table, const void *key,
                        uint32_t forward, uint32_t probe_source, uint32_t filter_source,
                        uint32_t not_pending, uint32_t *err);
// The first (forward) or last record of the caller's tenant passing the filter.
template <const TableDesc &D>
void *table_end(mox_handle_t *h, uint32_t db, void *table, uint32_t forward, uint32_t source,
                uint32_t by_source, uint32_t not_pending, uint32_t *err);

// --- The key index (tables/tree.cc) --------------------------------------
// The key object of a key value: the value itself for a key record, else the
// data record the key field would lie in (the compare reads only the key).
template <const TableDesc &D>
inline const void *key_object(const void *value) {
  if (value == nullptr || D.composite) return value;
  return static_cast<const char *>(value) - D.key_offset;
}
template <const TableDesc &D>
uint32_t index_compare(mox_handle_t *h, uint32_t db, const void *a, const void *b);
template <const TableDesc &D>
void *search_not_pending(mox_handle_t *h, uint32_t db, void *table, const void *key,
                         uint32_t source, uint32_t near, uint32_t *err);
template <const TableDesc &D>
void *search_cr(mox_handle_t *h, void *table, const void *key, uint32_t source, uint32_t flags);
template <const TableDesc &D>
void *get_cr(mox_handle_t *h, void *table, uint32_t how, void *rec, uint32_t source,
             uint32_t flags);

uint32_t table_count(mox_handle_t *h, uint32_t db, const void *table, uint32_t by_source,
                     uint32_t source);

// --- Keys (tables/tree.cc) -----------------------------------------------
// The text of a table record's key (the key field under its name, or the key
// record unlabelled) into buf of buflen bytes: 22 without table or record, 2
// without the record carrying the key, 90 when buflen is below the key's
// wire length; 0 then.
template <const TableDesc &D>
uint32_t pkey_print(mox_handle_t *h, uint32_t db, void *table, void *rec, char *buf,
                    int32_t buflen, uint32_t *err);
// The wire length of a table record's key; 0 without record or key.
template <const TableDesc &D>
uint32_t pkey_len(mox_handle_t *h, uint32_t db, const void *rec);

// --- Record callbacks (tables/callbacks.cc) -------------------------------
// Callback C of the table: with an error in *err returns it and does
// nothing; else clears the handle's last error and calls the process's
// handler of the event with (h, db, args...) (the callback's arguments after
// the database id, err among them, unchanged) and returns its result.
// Without a handler: clears *err, traces the event's default message and
// returns 0; the two DM events then run the create (delete) callback with
// (null, record, err).
template <const TableDesc &D, TCb C, class... A>
uint32_t table_callback(mox_handle_t *h, uint32_t db, uint32_t *err, A... args);

}  // namespace orva
