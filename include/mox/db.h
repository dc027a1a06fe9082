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
struct mox_type_info;

/* ------------------------------------------------------------------------ */
/* Databases                                                                 */
/* ------------------------------------------------------------------------ */

/* A database is a reserved region of memory with the services below inside
 * it.  A private database serves the handle that created it only; a shared
 * one any number of attached handles under its reader/writer lock.  Every
 * database of this runtime lives inside one process (threads may share it). */
#define MOX_DB_SHARED 0x1u /* flag of mox_database_create: shared, locked */
#define MOX_DB_NO_TOC 0x2u /* flag of mox_database_create: no TOC root */
#define MOX_DB_LOCK_READ 1u
#define MOX_DB_LOCK_WRITE 2u

/* Creates a database of region_bytes (rounded up to pages) and attaches the
 * handle; returns its id, MOX_NO_DB (0xFFFFFFFF) on failure (17 name taken,
 * 22 bad argument, 12 no memory). */
MOX_API uint32_t mox_database_create(struct mox_handle *h, const char *name,
                                     uint64_t region_bytes, uint32_t flags, uint32_t *err);
/* Attaches the handle to the database of that name; returns its id.  2 no
 * such database, 16 a private database attached to another handle. */
MOX_API uint32_t mox_database_attach(struct mox_handle *h, const char *name, uint32_t *err);
/* Releases the handle's lock on the database and detaches it (2 not attached). */
MOX_API void mox_database_detach(struct mox_handle *h, uint32_t db, uint32_t *err);
/* Destroys the database and everything in it.  The caller must be attached
 * and be the only handle attached (16 otherwise). */
MOX_API void mox_database_destroy(struct mox_handle *h, uint32_t db, uint32_t *err);
/* Takes the shared database's lock (MOX_DB_LOCK_READ or _WRITE), waiting for
 * it; 22 private database or bad mode, 35 the handle holds it already. */
MOX_API void mox_database_lock(struct mox_handle *h, uint32_t db, uint32_t mode, uint32_t *err);
/* 1 when the handle does not hold the lock. */
MOX_API void mox_database_unlock(struct mox_handle *h, uint32_t db, uint32_t *err);
/* The lock the handle holds on the database: 0, MOX_DB_LOCK_READ or _WRITE. */
MOX_API uint32_t mox_database_lock_mode(struct mox_handle *h, uint32_t db);
/* Number of handles holding the lock (in any mode). */
MOX_API uint32_t mox_database_lock_holders(struct mox_handle *h, uint32_t db);

typedef struct mox_database_stats {
  uint64_t region_bytes;  /* size of the region */
  uint64_t record_bytes;  /* bytes of record_alloc blocks not yet freed */
  uint64_t record_blocks; /* record_alloc blocks not yet freed */
  uint64_t failed;        /* record_alloc calls refused */
} mox_database_stats_t;
MOX_API void mox_database_stats(struct mox_handle *h, uint32_t db, mox_database_stats_t *out);

/* Marks the handle as the database's garbage collector (on) or not. */
MOX_API void mox_handle_set_collector(struct mox_handle *h, uint32_t on);

/* ------------------------------------------------------------------------ */
/* Table objects and table records as the services read them                */
/* ------------------------------------------------------------------------ */

typedef struct e_avl_node e_avl_node_t;

#define MOX_TABLE_FLAG_ON_GC_LIST 0x40u
#define MOX_TABLE_FLAG_DYNAMIC 0x80u
#define MOX_TABLE_NAME_MAX 208u

/* A table object (allocated zeroed in database memory by the table's open). */
typedef struct mox_db_table {
  struct mox_type_info *tinfo;
  char name[MOX_TABLE_NAME_MAX];
  uint32_t record_count;
  uint32_t pending_destroy;
  uint64_t id;
  uint32_t open_kind; /* 0 by name, 1 by id, 2 by next free id */
  struct mox_db_table *next;
  struct mox_db_table **prev;
  uint32_t flags;
  uint32_t unsourced;
  e_avl_node_t *root;
  int32_t balance;
} mox_db_table_t;

#define MOX_REC_IN_TABLE 0x01u
#define MOX_REC_PENDING_DESTROY 0x02u
#define MOX_REC_KEY_MARK 0x10u
#define MOX_REC_HD_MAPPED 0x20u
#define MOX_REC_NO_DELETE 0x100u

/* The head of a table record, as far as these services read and write it. */
typedef struct mox_db_table_record {
  struct mox_type_info *tinfo;
  uint32_t loc_entry;
  mox_db_table_t *table;
  uint32_t ref_word;
  uint16_t tenant;
  uint32_t flags;
  uint8_t source;
} mox_db_table_record_t;

/* ------------------------------------------------------------------------ */
/* Table of contents                                                         */
/* ------------------------------------------------------------------------ */

/* A database's list of open tables: the first table and the link field to
 * store the next table into (the head field itself while the list is empty). */
typedef struct mox_table_list {
  void *head;
  void **tail;
} mox_table_list_t;

/* The TOC root of a database: gc_delete is the mark that makes table frees
 * go through the garbage collector. */
#define MOX_TOC_ROOT_MAGIC 0x544F4352u
typedef struct mox_toc_root {
  uint32_t magic;
  uint32_t gc_delete;
} mox_toc_root_t;
/* Sets or clears the TOC root's gc-deletion mark (22 without a TOC root). */
MOX_API void mox_database_set_toc_gc_delete(struct mox_handle *h, uint32_t db, uint32_t on,
                                            uint32_t *err);

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

/* The links a tree keeps in each of its nodes (a table record's tree node).
 * balance is height(right) - height(left); a node in no tree has null links. */
struct e_avl_node {
  struct e_avl_node *left;
  struct e_avl_node *right;
  struct e_avl_node *parent;
  int32_t balance;
};

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
/* e_avl_delete of a node the caller knows to be in this tree: only its own
 * link is checked, not the way up to the root. */
MOX_API uint32_t e_avl_remove(struct mox_handle *h, uint32_t db, e_avl_node_t **root,
                              e_avl_node_t *node, int32_t *balance);
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

/* The node after (before) n along the links of the tree holding n, or null,
 * for a node the caller knows to be linked into a tree: no check, no call
 * (a table walking on from a record of its own). */
static inline e_avl_node_t *e_avl_next_linked(const e_avl_node_t *n) {
  if (n->right) {
    n = n->right;
    while (n->left) n = n->left;
    return (e_avl_node_t *)n;
  }
  while (n->parent && n->parent->right == n) n = n->parent;
  return n->parent;
}
static inline e_avl_node_t *e_avl_prev_linked(const e_avl_node_t *n) {
  if (n->left) {
    n = n->left;
    while (n->right) n = n->right;
    return (e_avl_node_t *)n;
  }
  while (n->parent && n->parent->left == n) n = n->parent;
  return n->parent;
}


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

/* The database's total of records pending destroy. */
MOX_API uint64_t mox_database_pending_destroy(struct mox_handle *h, uint32_t db);

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
/* The implicit write cursor of a table whose cursors are enabled (22 otherwise):
 * while on, each record enqueued above waits in its queue, oldest first. */
MOX_API void mox_table_set_implicit_write_cursor(struct mox_handle *h, uint32_t db, void *table,
                                                 uint32_t on, uint32_t *err);
MOX_API void *mox_table_write_cursor_next(struct mox_handle *h, uint32_t db, void *table);
/* Read cursors: open needs enabled cursors (22); close without an open one is 2. */
MOX_API void mox_table_read_cursor_open(struct mox_handle *h, uint32_t db, void *table,
                                        uint32_t *err);
MOX_API void mox_table_read_cursor_close(struct mox_handle *h, uint32_t db, void *table,
                                         uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Locations                                                                 */
/* ------------------------------------------------------------------------ */

/* The handle's current location (0 for none) and its location filter. */
MOX_API void mox_handle_set_location(struct mox_handle *h, uint32_t location);
MOX_API void mox_handle_set_loc_filter(struct mox_handle *h, uint32_t on);
/* Points a record's (zero) location entry at the handle's current location,
 * taking a reference; nothing when the handle has no location. */
MOX_API void mox_loc_entry_acquire(struct mox_handle *h, uint32_t db, uint32_t *loc_entry,
                                   uint32_t *err);
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
/* Frees a table the collector found waiting (the table code's free). */
typedef void (*mox_table_free_fn)(struct mox_handle *h, uint32_t db, void *table, uint32_t *err);
/* The collector's run (the handle must be marked with mox_handle_set_collector,
 * 22 otherwise): calls each queued destroy function once, then removes each
 * waiting table from the GC list and hands it to free_table.  Returns the
 * number of destroy calls. */
MOX_API uint32_t mox_database_collect(struct mox_handle *h, uint32_t db,
                                      mox_table_free_fn free_table, uint32_t *err);
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

/* Reports about objects in a database's memory (containment, platform dirty,
 * destroy and detach) are kept in the database, newest 4096, until flushed;
 * reports about other objects go to the handle's event log.  kind is a
 * MOX_EVENT_* value; detail the containment kind (0 for the others). */
typedef struct mox_db_report {
  uint32_t kind;
  uint32_t detail;
  const void *item;
  const void *owner;
} mox_db_report_t;
MOX_API uint32_t mox_database_report_count(struct mox_handle *h, uint32_t db);
MOX_API int mox_database_report_get(struct mox_handle *h, uint32_t db, uint32_t i,
                                    mox_db_report_t *out);
MOX_API void mox_database_reports_flush(struct mox_handle *h, uint32_t db);

/* Handle switch: a duplicate insert is not traced while it is set. */
MOX_API void mox_handle_set_dup_insert_silent(struct mox_handle *h, uint32_t on);
MOX_API uint32_t moxdb_dup_insert_silent(struct mox_handle *h);

#ifdef __cplusplus
}
#endif

#endif /* MOX_DB_H */
