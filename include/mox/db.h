/*
 * mox record runtime: database services.
 *
 * Table objects, table records and their trees live in database memory that
 * these services own.  Every call takes the MOX handle first and the database
 * id second; calls with an error slot take it last, do nothing when it already
 * holds an error and report failure through it.  Stores the services make into
 * database memory are announced through the handle's write_notify like any
 * other store.
 *
 * These operations are implemented by the database services of the runtime;
 * this header only declares them.  Object mappings (mox_oid_mapping_create,
 * mox_request_oid_mapping_destroy, mox_hd_mapping_destroy), type statistics,
 * plume_set_range, mt_get_tenant_id and the platform announcements
 * (moxdb_plat_set_dirty, moxdb_plat_set_destroy) are in runtime.h.
 */
#ifndef MOX_DB_H
#define MOX_DB_H

#include <stdint.h>

#include "mox/api.h"

#ifdef __cplusplus
extern "C" {
#endif

struct mox_handle;

/* ------------------------------------------------------------------------ */
/* Table of contents                                                         */
/* ------------------------------------------------------------------------ */

/* A database's list of open tables: the first table and the link field to
 * store the next table into (the head field itself while the list is empty). */
typedef struct mox_table_list {
  void *head;
  void **tail;
} mox_table_list_t;

#define MOX_TOC_BY_ID 0u
#define MOX_TOC_BY_NAME 1u

MOX_API mox_table_list_t *moxlib_database_table_toc_get(struct mox_handle *h, uint32_t db,
                                                        uint32_t *err);
/* The TOC root of the database, null when it has none. */
MOX_API void *moxdb_database_toc_get(struct mox_handle *h, uint32_t db, uint32_t *err);
/* Non-zero when the TOC root is marked for garbage-collected deletion. */
MOX_API uint32_t moxdb_database_toc_gc_delete_pending(struct mox_handle *h, uint32_t db,
                                                      const void *toc_root);
/* The table registered under name (by_name MOX_TOC_BY_NAME) or under the
 * 64-bit id (MOX_TOC_BY_ID) for the table kind luid; null when there is none. */
MOX_API void *moxdb_database_toc_get_table_root(struct mox_handle *h, uint32_t db,
                                                const char *name, uint32_t name_len,
                                                uint32_t id_low, uint32_t id_high,
                                                const uint8_t *luid, uint32_t luid_len,
                                                uint32_t by_name, uint32_t *err);
MOX_API void moxdb_database_toc_insert(struct mox_handle *h, uint32_t db, void *table,
                                       uint32_t dynamic, uint32_t *err);
/* 2 in the slot when the table has no entry (any more). */
MOX_API void moxdb_database_toc_delete(struct mox_handle *h, uint32_t db, void *table,
                                       uint32_t *err);
/* Name of the database, for messages. */
MOX_API const char *moxdb_database_name(struct mox_handle *h, uint32_t db);

/* ------------------------------------------------------------------------ */
/* Locks and memory                                                          */
/* ------------------------------------------------------------------------ */

/* Non-zero when true. */
MOX_API uint32_t moxlib_db_is_shared(struct mox_handle *h, uint32_t db);
MOX_API uint32_t moxlib_database_is_write_locked(struct mox_handle *h, uint32_t db);
MOX_API uint32_t moxlib_database_in_range(struct mox_handle *h, uint32_t db, const void *addr);

/* ------------------------------------------------------------------------ */
/* AVL trees                                                                 */
/* ------------------------------------------------------------------------ */

/* The links a tree keeps in each of its nodes (a table record's tree node). */
typedef struct e_avl_node {
  struct e_avl_node *left;
  struct e_avl_node *right;
  struct e_avl_node *parent;
  int32_t balance;
} e_avl_node_t;

#define E_AVL_LESS 0u
#define E_AVL_EQUAL 1u
#define E_AVL_GREATER 2u
/* Orders a against b: E_AVL_LESS, E_AVL_EQUAL or E_AVL_GREATER. */
typedef uint32_t (*e_avl_compare_fn)(const e_avl_node_t *a, const e_avl_node_t *b);

/* Non-zero on success; insert fails when an equal node is present, delete
 * when node is not in the tree.  root and balance are the tree's two slots. */
MOX_API uint32_t e_avl_insert(struct mox_handle *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance, e_avl_compare_fn compare);
MOX_API uint32_t e_avl_delete(struct mox_handle *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance, e_avl_compare_fn compare);
/* The node equal to probe (which need not be in the tree), or null. */
MOX_API e_avl_node_t *e_avl_search(struct mox_handle *h, uint32_t db, e_avl_node_t *const *root,
                                   const e_avl_node_t *probe, e_avl_compare_fn compare);
MOX_API e_avl_node_t *e_avl_get_first(struct mox_handle *h, uint32_t db,
                                      e_avl_node_t *const *root);
MOX_API e_avl_node_t *e_avl_get_last(struct mox_handle *h, uint32_t db,
                                     e_avl_node_t *const *root);
/* The first node after (before) probe in the tree's order, or null. */
MOX_API e_avl_node_t *e_avl_get_next(struct mox_handle *h, uint32_t db, e_avl_node_t *const *root,
                                     const e_avl_node_t *probe, e_avl_compare_fn compare);
MOX_API e_avl_node_t *e_avl_get_prev(struct mox_handle *h, uint32_t db, e_avl_node_t *const *root,
                                     const e_avl_node_t *probe, e_avl_compare_fn compare);

/* ------------------------------------------------------------------------ */
/* Counts                                                                    */
/* ------------------------------------------------------------------------ */

/* Adds delta (+1 or -1) to a table's record count. */
MOX_API void moxlib_record_count_add_internal(struct mox_handle *h, uint32_t db, uint32_t *count,
                                              int32_t delta, uint32_t *err);
MOX_API uint32_t moxlib_record_count_get_exact(struct mox_handle *h, uint32_t db,
                                               const uint32_t *count, uint32_t *err);
/* add 1 counts a record of tenant and source in, 0 counts one out. */
MOX_API void moxdb_update_tenant_counter(struct mox_handle *h, uint32_t db, void *table,
                                         uint32_t add, uint16_t tenant, uint8_t source,
                                         uint32_t *err);
/* source 0: the tenant's count over all sources. */
MOX_API void moxdb_get_tenant_counter(struct mox_handle *h, uint32_t db, const void *table,
                                      uint32_t *count, uint16_t tenant, uint8_t source,
                                      uint32_t *err);
/* Adds delta to the database's 64-bit total of records pending destroy. */
MOX_API void moxdb_database_pending_destroy_add(struct mox_handle *h, uint32_t db, int32_t delta,
                                                uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Cursors                                                                   */
/* ------------------------------------------------------------------------ */

/* Sets the handle's cursor-enabling flag; returns the previous value. */
MOX_API uint32_t moxdb_handle_set_cursor_enabling(struct mox_handle *h, uint32_t on);
MOX_API void moxdb_table_enable_cursors(struct mox_handle *h, uint32_t db, void *table,
                                        uint32_t on, uint32_t *err);
MOX_API uint32_t moxdb_table_are_cursors_enabled(struct mox_handle *h, uint32_t db,
                                                 const void *table);
MOX_API uint32_t moxdb_table_implicit_write_cursor_enabled(struct mox_handle *h, uint32_t db,
                                                           const void *table);
MOX_API uint32_t moxdb_table_has_read_cursor(struct mox_handle *h, uint32_t db, const void *table,
                                             uint32_t *err);
MOX_API void moxdb_enq_rec_move_write_cursor_internal(struct mox_handle *h, uint32_t db,
                                                      void *table, void *record, uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Locations                                                                 */
/* ------------------------------------------------------------------------ */

/* A table record's 32-bit location entry, owned by these services. */
MOX_API void moxdb_loc_set_lookup_record_objinfo(struct mox_handle *h, uint32_t db,
                                                 uint32_t *loc_entry, uint32_t *err);
/* Negative, zero or positive as a compare. */
MOX_API int32_t moxdb_loc_entry_compare(struct mox_handle *h, uint32_t db, uint32_t a,
                                        uint32_t b);
/* Non-zero when the handle filters by location. */
MOX_API uint32_t moxdb_loc_filter_enabled(struct mox_handle *h);
/* Non-zero when loc_entry is the handle's current location. */
MOX_API uint32_t moxdb_loc_record_is_same_loc(struct mox_handle *h, uint32_t db,
                                              uint32_t loc_entry);
MOX_API void moxlib_record_dereference_loc(struct mox_handle *h, uint32_t db, uint32_t *loc_entry,
                                           uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Destruction and garbage collection                                        */
/* ------------------------------------------------------------------------ */

typedef void (*mox_record_destroy_fn)(struct mox_handle *h, uint32_t db, void *record,
                                      uint32_t *err);
/* Marks the table record pending destroy; destroy is called later. */
MOX_API void moxdb_request_record_destroy(struct mox_handle *h, uint32_t db, void *record,
                                          mox_record_destroy_fn destroy, uint32_t *err);
/* Non-zero while the handle is running the garbage collector. */
MOX_API uint32_t moxgc_handle_in_gc(const struct mox_handle *h);
MOX_API void moxgc_validate_table_delete(struct mox_handle *h, uint32_t db, void *table,
                                         uint32_t *err);
MOX_API void moxgc_database_gc_list_remove(struct mox_handle *h, uint32_t db, void *table,
                                           uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Containment                                                               */
/* ------------------------------------------------------------------------ */

#define MOX_CONTAIN_TABLE 1u
#define MOX_CONTAIN_TABLE_RECORD 2u
#define MOX_CONTAIN_DATA_RECORD 4u
/* Reports that object (of kind MOX_CONTAIN_*) lies in container. */
MOX_API void moxdb_record_containment(struct mox_handle *h, uint32_t db, uint32_t kind,
                                      const void *object, const void *container, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* MOX_DB_H */
