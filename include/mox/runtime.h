/*
 * mox record runtime: the public C interface.
 *
 * The runtime owns memory, the type registry, the module list, primitive field
 * kinds, wire/XML/text helpers, statistics, object mappings, tracing and the
 * sibling bundle registries.  Data modules such as orva_qos_data call it
 * through this header only.  Every function that takes an error slot follows
 * the same rule: a non-zero slot on entry makes the call a no-op.
 *
 * The layout of the structures below is fixed: data modules read and write
 * them directly.  On a 32-bit target the figures in the comments hold byte for
 * byte; on 64-bit only the pointer words widen.
 *
 * docs/runtime.md describes every group of functions.
 */
#ifndef MOX_RUNTIME_H
#define MOX_RUNTIME_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "mox/api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Constants                                                                 */
/* ------------------------------------------------------------------------ */

#define MOX_NO_DB 0xFFFFFFFFu          /* database id of private memory */
#define MOX_TYPE_INFO_MAGIC 0xBEEFF00Du

#define MOX_STTR_ON 0xEEEEu           /* state tracking on */
#define MOX_STTR_OFF 0xDDDDu          /* state tracking off */

/* Object header flag bits (byte 6 of every object on a 32-bit target). */
#define MOX_FLAG_OID_MAPPED 0x01u
#define MOX_FLAG_EMBEDDED 0x02u
#define MOX_FLAG_NESTED 0x04u
#define MOX_FLAG_STATE_TRACKED 0x08u
#define MOX_FLAG_RA_DATA 0x20u
#define MOX_FLAG_STTR_OFFSET_HELD 0x40u
#define MOX_FLAG_TINFO_BLOCK 0x80u

/* Trace levels: the level word carries the level in its top byte. */
#define MOX_LEVEL_FATAL 0x0000000u
#define MOX_LEVEL_ERROR 0x3000000u
#define MOX_LEVEL_NOTICE 0x6000000u
#define MOX_LEVEL_DETAIL 0x7000000u
#define MOX_LEVEL_GROUPING 0x8000000u

/* ------------------------------------------------------------------------ */
/* Object header                                                             */
/* ------------------------------------------------------------------------ */

/*
 * Every object starts with these four items: the type-info pointer word, the
 * signed instance variant, the storage variant and the flag byte.  The first
 * data byte follows the flag byte directly (offset 7 on 32-bit, 11 on 64-bit),
 * so record structs spell the header inline with this macro instead of
 * embedding mox_obj_header_t (whose sizeof is padded).
 */
#define MOX_OBJ_HEADER  \
  void *tinfo;          \
  int8_t variant;       \
  uint8_t storage_variant; \
  uint8_t flags

typedef struct mox_obj_header {
  MOX_OBJ_HEADER;
} mox_obj_header_t;

/* An enumeration object: header, then the 32-bit member value (12 bytes on 32-bit). */
typedef struct mox_enum_obj {
  MOX_OBJ_HEADER;
  uint32_t value;
} mox_enum_obj_t;

/* ------------------------------------------------------------------------ */
/* Type-info records                                                         */
/* ------------------------------------------------------------------------ */

/* Per-variant statistics kept by the runtime (24 bytes). */
typedef struct mox_type_stats {
  uint32_t created;   /* objects created */
  uint32_t destroyed; /* objects destroyed */
  uint32_t live;      /* created minus destroyed */
  uint32_t peak;      /* highest value of live */
  uint32_t failed;    /* statistics updates refused (live would underflow) */
  uint32_t reserved;
} mox_type_stats_t;

/* One variant entry (40 bytes). */
typedef struct mox_variant_entry {
  uint32_t variant;     /* variant number */
  uint32_t used_length; /* bytes used by a record of this variant */
  uint32_t alloc_slop;  /* allocated size minus used length */
  uint32_t reserved;    /* zero */
  mox_type_stats_t stats;
} mox_variant_entry_t;

/* Variant-info block: low byte of count_word is the (signed) number of variants. */
typedef struct mox_variant_info {
  uint32_t count_word;
  mox_variant_entry_t *entries;
} mox_variant_info_t;

/* The static descriptor of a type, enumeration, table, table record or message
 * (264 bytes on 32-bit, 272 on 64-bit where variant_info widens and moves to 256). */
typedef struct mox_type_info {
  uint32_t magic;          /*   0: MOX_TYPE_INFO_MAGIC */
  uint8_t luid[16];        /*   4 */
  char luid_text[33];      /*  20: 32 lower-case hex digits and NUL; the registry key */
  char name[64];           /*  53 */
  char module[64];         /* 117 */
  char kind[64];           /* 181: "type", "enum", "table", "table_record", "message" */
  uint8_t pad[3];          /* 245 */
  uint32_t reserved0;      /* 248: 0xFFFFFFFF */
  mox_variant_info_t *variant_info; /* 252 */
  uint32_t placement;      /* 256: 0 in the static record, the handle's placement in a copy */
  uint32_t reserved1;      /* 260: 0 */
} mox_type_info_t;

/* A registered copy: the static record, then 16 bytes for the runtime. */
typedef struct mox_registered_type_info {
  mox_type_info_t info;
  uint8_t runtime_area[16];
} mox_registered_type_info_t;

/* ------------------------------------------------------------------------ */
/* The MOX handle                                                            */
/* ------------------------------------------------------------------------ */

struct mox_handle;

typedef void *(*mox_alloc_fn)(void *heap, uint32_t db, uint32_t size);
typedef void (*mox_free_fn)(void *heap, uint32_t db, void *ptr);
typedef void (*mox_write_notify_fn)(struct mox_handle *h, void *addr, uint32_t len,
                                    uint32_t db, void *owner);
typedef uint32_t (*mox_registry_insert_fn)(void *registry, uint32_t db, const char *key,
                                           void *value);
typedef void *(*mox_registry_lookup_fn)(void *registry, uint32_t db, const char *key);

/* State-tracking configuration: the eighth word is the mode. */
typedef struct mox_sttr_config {
  uint32_t word[8];
} mox_sttr_config_t;
#define MOX_STTR_MODE_WORD 7

/* The domain: which variant of each type is in force, which tables and
 * messages are allowed.  Its content is the runtime's; see mox_domain_*. */
typedef struct mox_domain {
  void *impl;
  uint32_t default_variant; /* variant for types without an entry (127: latest) */
  uint32_t reserved;
} mox_domain_t;

typedef struct mox_handle {
  uint32_t placement;      /* 0 private memory, 1 platform database, other: shared */
  uint32_t current_db;     /* database id of the _cr entry points */
  mox_alloc_fn registry_alloc;
  mox_alloc_fn record_alloc;
  mox_free_fn record_free;
  mox_write_notify_fn write_notify;
  mox_registry_insert_fn registry_insert;
  mox_registry_lookup_fn registry_lookup;
  void *record_heap;       /* first argument of record_alloc / record_free */
  void *type_registry;     /* first argument of registry_insert / registry_lookup */
  void *registry_heap;     /* first argument of registry_alloc */
  mox_domain_t domain;
  uint32_t last_error;
  uint32_t cr_mode;
  mox_sttr_config_t *sttr_config; /* null: no configuration */
  uint32_t hd_mapping_enabled;
  uint32_t containment_enabled;
  /* The runtime's own words. */
  uint32_t tenant_id;      /* what mt_get_tenant_id returns */
  uint32_t handle_word;    /* copied into message headers */
  uint32_t epoch_error;    /* last domain error recorded by mox_store_epoch_err */
  uint32_t epoch_defer;    /* non-zero: mox_store_epoch_err leaves the caller's slot clear */
  uint32_t adjust_variant_enabled; /* non-zero: moxlib_adjust_variant may raise variants */
  void *workspace;         /* scratch for moxlib_get_handle_ws */
  struct mox_handle_private *priv;
} mox_handle_t;

/* Handle lifecycle.  A new handle uses the C heap, the runtime's default type
 * registry (mox_default_registry), private placement, no state-tracking
 * configuration, an open domain and journaling off. */
MOX_API mox_handle_t *mox_handle_create(void);
MOX_API void mox_handle_destroy(mox_handle_t *h);
/* mode 0: no configuration (sttr_config null); any other value is stored as is,
 * so tests can make a corrupt handle. */
MOX_API void mox_handle_set_sttr_mode(mox_handle_t *h, uint32_t mode);
MOX_API void mox_handle_set_placement(mox_handle_t *h, uint32_t placement);
MOX_API void mox_handle_set_containment(mox_handle_t *h, uint32_t on);
MOX_API void mox_handle_set_tenant(mox_handle_t *h, uint16_t tenant);
MOX_API void mox_handle_set_type_registry(mox_handle_t *h, void *registry);
/* Decode budget: the bytes of record storage that one top-level unmarshal
 * (with every decode nested in it) may request through record_alloc; a decode
 * that would go past it fails with 12.  A new handle has
 * MOX_DECODE_BUDGET_DEFAULT; the getter of a null handle gives 0. */
#define MOX_DECODE_BUDGET_DEFAULT ((uint64_t)64 * 1024 * 1024)
MOX_API void mox_set_decode_budget(mox_handle_t *h, uint64_t bytes);
MOX_API uint64_t mox_get_decode_budget(const mox_handle_t *h);

/* Allocation accounting and fault injection for the default hooks. */
typedef struct mox_alloc_stats {
  uint64_t allocs;       /* successful record_alloc/registry_alloc calls */
  uint64_t frees;        /* record_free calls with a non-null pointer */
  uint64_t failed;       /* allocations refused by fault injection */
  uint64_t live_bytes;   /* bytes allocated and not yet freed */
} mox_alloc_stats_t;
MOX_API void mox_handle_alloc_stats(const mox_handle_t *h, mox_alloc_stats_t *out);
/* After n more successful allocations every allocation fails; n < 0 disables. */
MOX_API void mox_handle_fail_alloc_after(mox_handle_t *h, int64_t n);
/* Bytes the runtime holds for the handle beyond the handle itself: its
 * per-object tables (state-tracking offsets, OID mappings), journal, events,
 * domain, bundle and workspace, by element count (an estimate of the heap
 * used, stable while the counts are).  Record storage is not included. */
MOX_API uint64_t mox_handle_footprint(const mox_handle_t *h);

/* ------------------------------------------------------------------------ */
/* Write journal                                                             */
/* ------------------------------------------------------------------------ */

/* With the journal on, the default write_notify records every announced range
 * together with the bytes it held at the moment of the announcement. */
typedef struct mox_journal_entry {
  void *addr;
  uint32_t len;
  uint32_t db;
  void *owner;
  const uint8_t *before; /* copy of the len bytes at announcement time */
} mox_journal_entry_t;

MOX_API void mox_journal_enable(mox_handle_t *h, uint32_t on);
MOX_API uint32_t mox_journal_enabled(const mox_handle_t *h);
MOX_API void mox_journal_clear(mox_handle_t *h);
MOX_API uint32_t mox_journal_count(const mox_handle_t *h);
MOX_API int mox_journal_get(const mox_handle_t *h, uint32_t i, mox_journal_entry_t *out);
/* Non-zero when every byte of [addr, addr+len) lies in an announced range. */
MOX_API int mox_journal_covers(const mox_handle_t *h, const void *addr, uint32_t len);

/* ------------------------------------------------------------------------ */
/* Runtime call accounting (for tests: "an operation calls nothing")         */
/* ------------------------------------------------------------------------ */

/* Calls counted so far by every thread (each thread counts in its own word
 * without a locked instruction; an ended thread's calls stay in the total). */
MOX_API uint64_t mox_rt_call_count(void);

/* ------------------------------------------------------------------------ */
/* Error services                                                            */
/* ------------------------------------------------------------------------ */

MOX_API void mox_clear_last_error(mox_handle_t *h);
MOX_API void mox_store_err(mox_handle_t *h, uint32_t code);
/* Records a domain error (43, 52) in last_error and epoch_error; writes the
 * slot too unless the handle's epoch_defer word is set. */
MOX_API void mox_store_epoch_err(mox_handle_t *h, uint32_t code, uint32_t *slot);

/* ------------------------------------------------------------------------ */
/* Header and variant services                                               */
/* ------------------------------------------------------------------------ */

/* The instance variant of obj; -1 for a null object.  check and enum_flag are
 * accepted for the calling convention and do not change the result. */
MOX_API int32_t mox_get_instance_variant(const void *obj, uint32_t check, uint32_t enum_flag);
MOX_API uint8_t mox_get_instance_obj_flag(const void *obj);
/* The type-info record of obj, following a TINFO_BLOCK indirection. */
MOX_API mox_type_info_t *mox_get_manifested_type_info(const void *obj, uint32_t *err);
/* Where obj's type-info pointer is stored (inside the block for TINFO_BLOCK). */
MOX_API void **mox_get_manifested_type_info_ptr_mem(void *obj, uint32_t *err);
typedef uint32_t (*mox_typeinfo_init_fn)(mox_handle_t *h, uint32_t db, uint32_t *err);
/* The registered copy of ti in the handle's registry; runs init when absent. */
MOX_API mox_type_info_t *mox_type_info_ptr_get(mox_handle_t *h, uint32_t db,
                                               mox_type_info_t *ti, mox_typeinfo_init_fn init);
MOX_API int32_t mox_domain_lookup_variant(mox_handle_t *h, mox_domain_t *domain,
                                          const mox_type_info_t *ti, uint32_t *slot);
MOX_API uint32_t mox_domain_lookup_table_ok(mox_handle_t *h, mox_domain_t *domain,
                                            const mox_type_info_t *ti, uint32_t *slot);
MOX_API uint32_t mox_domain_lookup_message_ok(mox_handle_t *h, mox_domain_t *domain,
                                              const mox_type_info_t *ti, uint32_t *slot);
/* Domain settings, keyed by the luid text of a type-info record. */
MOX_API void mox_domain_set_variant(mox_handle_t *h, const char *luid_text, int32_t variant);
MOX_API void mox_domain_set_table_ok(mox_handle_t *h, const char *luid_text, uint32_t ok);
MOX_API void mox_domain_set_message_ok(mox_handle_t *h, const char *luid_text, uint32_t ok);
MOX_API void mox_domain_set_default_variant(mox_handle_t *h, int32_t variant);
/* A domain's name, for messages ("default" unless set). */
MOX_API void mox_domain_set_name(mox_handle_t *h, const char *name);
MOX_API const char *mox_domain_name(const mox_domain_t *domain);
/* Forgets every entry and the name; the default variant becomes 127 again. */
MOX_API void mox_domain_reset(mox_handle_t *h);
/* Raises obj's variant to the highest one that its storage, highest and the
 * domain allow (announced through write_notify); never lowers it. */
MOX_API void moxlib_adjust_variant(mox_handle_t *h, uint32_t db, void *obj,
                                   const mox_type_info_t *ti, int32_t highest, uint32_t *err);
MOX_API uint32_t mox_update_variant_info(mox_handle_t *h, uint32_t db, mox_type_info_t *copy,
                                         const mox_type_info_t *original, uint32_t made_now);
/* 0 when obj may be placed into a table record, else 22 (nested or embedded). */
MOX_API uint32_t moxlib_validate_object_flags(mox_handle_t *h, const void *obj,
                                              uint32_t refuse_nested, uint32_t refuse_embedded);
MOX_API int32_t moxlib_type_header_get_state_tracking_flag(mox_handle_t *h, const void *obj);

/* ------------------------------------------------------------------------ */
/* State-tracking offsets                                                    */
/* ------------------------------------------------------------------------ */

MOX_API uint32_t moxlib_get_sttr_offset(mox_handle_t *h, uint32_t db, const void *obj);
/* Remembers offset (from obj to its first state byte) and sets STTR_OFFSET_HELD. */
MOX_API uint32_t moxlib_update_sttr_offset(mox_handle_t *h, uint32_t db, void *obj,
                                           uint32_t offset);
/* Forgets obj's offset; record destroy calls it for a record holding one, so a
 * process that creates and destroys records keeps no entry for dead storage.
 * 0, or 22 for a missing handle or object. */
MOX_API uint32_t moxlib_release_sttr_offset(mox_handle_t *h, uint32_t db, const void *obj);
/* The same for count objects at once (one entry check, one table walk per
 * object): objs[i] gets offsets[i]; release forgets each of objs.  0, or 22
 * for a missing handle, or a missing array while count is not 0. */
MOX_API uint32_t moxlib_update_sttr_offsets(mox_handle_t *h, uint32_t db, uint32_t count,
                                            void *const *objs, const uint32_t *offsets);
MOX_API uint32_t moxlib_release_sttr_offsets(mox_handle_t *h, uint32_t db, uint32_t count,
                                             const void *const *objs);

/* ------------------------------------------------------------------------ */
/* Type statistics                                                           */
/* ------------------------------------------------------------------------ */

#define MOX_STATS_CREATE 0u
#define MOX_STATS_DESTROY 1u
MOX_API void moxlib_type_stats_create_object(mox_handle_t *h, uint32_t db,
                                             const mox_type_info_t *ti, mox_type_stats_t *stats,
                                             uint32_t *slot);
MOX_API void moxlib_type_stats_destroy_object(mox_handle_t *h, uint32_t db,
                                              const mox_type_info_t *ti, mox_type_stats_t *stats,
                                              uint32_t *slot);
/* counter: MOX_STATS_CREATE or MOX_STATS_DESTROY; returns 0 or an errno value. */
MOX_API uint32_t moxlib_type_stats_add_internal(mox_handle_t *h, uint32_t db,
                                                const mox_type_info_t *ti,
                                                mox_type_stats_t *stats, uint32_t counter);

/* ------------------------------------------------------------------------ */
/* Object identity: object-id and handle mappings                            */
/* ------------------------------------------------------------------------ */

/* Called by the runtime to finish a destruction that was deferred while
 * references remained. */
typedef void (*mox_finish_destroy_fn)(mox_handle_t *h, uint32_t db, void *obj);

/* Creates a mapping for obj with one reference, sets OID_MAPPED; non-zero on success. */
MOX_API uint32_t mox_oid_mapping_create(mox_handle_t *h, uint32_t db, void *obj, uint32_t kind,
                                        uint32_t dynamic, mox_finish_destroy_fn finish);
MOX_API uint32_t mox_oid_mapping_add_ref(mox_handle_t *h, void *obj);
/* Drops one reference other than the owner's and returns the references left.
 * When only the owner's is left on an object whose destruction was requested,
 * removes the mapping, clears OID_MAPPED, calls the finish function and
 * returns 0. */
MOX_API uint32_t mox_oid_mapping_release(mox_handle_t *h, uint32_t db, void *obj);
MOX_API uint32_t mox_oid_mapping_refs(const mox_handle_t *h, const void *obj);
/* 0 while references other than the owner's remain (destruction deferred),
 * non-zero when the mapping was removed. */
MOX_API uint32_t mox_request_oid_mapping_destroy(mox_handle_t *h, uint32_t db, void *obj,
                                                 uint32_t *err);
MOX_API void mox_hd_mapping_destroy(mox_handle_t *h, uint32_t db, void *obj, uint32_t *err);

/* ------------------------------------------------------------------------ */
/* Type registry                                                             */
/* ------------------------------------------------------------------------ */

/* The registry that new handles use; the hooks below are its defaults. */
MOX_API void *mox_default_registry(void);
MOX_API void *mox_registry_create(void);
MOX_API void mox_registry_destroy(void *registry); /* frees the copies it holds */
MOX_API uint32_t mox_registry_count(const void *registry);
MOX_API uint32_t mox_registry_insert(void *registry, uint32_t db, const char *key, void *value);
MOX_API void *mox_registry_lookup(void *registry, uint32_t db, const char *key);

/* ------------------------------------------------------------------------ */
/* Module list                                                               */
/* ------------------------------------------------------------------------ */

typedef struct mox_module_node {
  const char *name;
  mox_type_info_t *const *type_list; /* null-terminated */
  struct mox_module_node *next;
  struct mox_module_node **prev; /* previous node's next field, or the root's first */
} mox_module_node_t;

/* Tail queue with a count. */
typedef struct mox_module_root {
  uint32_t count;
  mox_module_node_t *first;
  mox_module_node_t **last; /* next field of the last node, or &first when empty */
} mox_module_root_t;

MOX_API extern mox_module_root_t mox_module_tot_root;

/* ------------------------------------------------------------------------ */
/* Trace                                                                     */
/* ------------------------------------------------------------------------ */

/* The header of a message section's index (the loaded, read-only library
 * section .quill_luids_<32 hex>): what every emitter receives as its section
 * argument.  Six-byte entries (32-bit trace word, 16-bit text length) follow
 * it in the library section; the texts themselves reach the runtime through
 * quill_catalogue_register (docs/runtime.md, "Trace"). */
typedef struct quill_section_desc {
  uint16_t version; /* 1 */
  uint16_t section;
  uint8_t luid[16];
} quill_section_desc_t;

/* Assigns a module id on the first call for name; later calls return the same. */
MOX_API uint32_t quill_module_init_fn(const char *name, uint16_t *module_id, uint32_t *reg_word);
/* Registers the format strings of a section for live rendering: formats[i]
 * is the text of index i, beginning with a blank.  A later registration of
 * the same section replaces the earlier one; the arrays must outlive every
 * emission. */
MOX_API void quill_catalogue_register(const quill_section_desc_t *section, uint32_t count,
                                      const char *const *formats);
/* Binary capture of every emitted message into the file at path (created or
 * truncated); a null path ends the capture.  Returns 0 or the errno of a
 * failed open.  The environment variable MOX_TRACE_CAPTURE=path at start does
 * the same.  Format: docs/runtime.md, "Binary trace capture". */
MOX_API uint32_t mox_trace_capture_open(const char *path);
MOX_API void __QLf_0(const void *section, uint32_t index, uint16_t module_id, uint32_t level);
MOX_API void __QLf_1(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     const char *a);
MOX_API void __QLf_4(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                     uint32_t a);
MOX_API void __QLf_11(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, const char *b);
MOX_API void __QLf_14(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      const char *a, uint32_t b);
MOX_API void __QLf_41(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, const char *b);
MOX_API void __QLf_44(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                      uint32_t a, uint32_t b);
MOX_API void __QLf_111(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       const char *a, const char *b, const char *c);
MOX_API void __QLf_444(const void *section, uint32_t index, uint16_t module_id, uint32_t level,
                       uint32_t a, uint32_t b, uint32_t c);
MOX_API void trans_avl_trace_init(void);
MOX_API void trans_gbt_trace_init(void);
MOX_API void trans_ravl_trace_init(void);

/* Capture: every emitted message is kept, in order, until cleared. */
typedef struct mox_trace_record {
  const void *section;
  uint32_t index;
  uint16_t module_id;
  uint32_t level;
  char text[512]; /* rendered text, without the leading blank */
} mox_trace_record_t;

MOX_API uint32_t mox_trace_count(void);
MOX_API int mox_trace_get(uint32_t i, mox_trace_record_t *out);
MOX_API void mox_trace_clear(void);
MOX_API void mox_trace_set_stderr(uint32_t on);
/* Name of a registered trace module, or null. */
MOX_API const char *mox_trace_module_name(uint16_t module_id);
/* Calls of the three trans_*_trace_init functions so far. */
MOX_API uint32_t mox_trace_trans_init_calls(void);

/* ------------------------------------------------------------------------ */
/* Bundle registries of the sibling modules                                  */
/* ------------------------------------------------------------------------ */

typedef uint32_t (*mox_bundle_handler_fn)(void *bundle, void *context);

MOX_API mox_bundle_handler_fn hub_comm_bundle_handler_register(mox_bundle_handler_fn handler);
MOX_API mox_bundle_handler_fn hub_comm_bundle_handler_unregister(void);
MOX_API mox_bundle_handler_fn if_common_bundle_handler_register(mox_bundle_handler_fn handler);
MOX_API mox_bundle_handler_fn if_common_bundle_handler_unregister(void);
MOX_API mox_bundle_handler_fn orva_enum_types_bundle_handler_register(mox_bundle_handler_fn handler);
MOX_API mox_bundle_handler_fn orva_enum_types_bundle_handler_unregister(void);

#define MOX_BUNDLE_HUB_COMM 0u
#define MOX_BUNDLE_IF_COMMON 1u
#define MOX_BUNDLE_ORVA_ENUM_TYPES 2u
/* The handler a registry holds now, and how many register/unregister calls it saw. */
MOX_API mox_bundle_handler_fn mox_bundle_registry_current(uint32_t registry);
MOX_API uint32_t mox_bundle_registry_calls(uint32_t registry);

/* ------------------------------------------------------------------------ */
/* Message services: recorder, failure-message suppression, open bundle      */
/* ------------------------------------------------------------------------ */

/* While the recorder is on, decoders write each decoded message as XML to its file. */
MOX_API void mox_msg_recorder_set(FILE *file, uint32_t on);
MOX_API uint32_t moxlib_msg_recorder_get_state(void);
MOX_API FILE *moxlib_msg_recorder_get_handle(void);
/* Non-zero: marshal failures are traced at detail level instead of error level. */
MOX_API void mox_handle_set_suppress_messages(mox_handle_t *h, uint32_t on);
MOX_API uint32_t moxlib_suppress_messages_enabled(mox_handle_t *h);
/* A handle's open message bundle; opening starts an empty one. */
MOX_API void mox_bundle_open(mox_handle_t *h);
MOX_API void mox_bundle_close(mox_handle_t *h);
MOX_API uint32_t mox_bundle_is_open(const mox_handle_t *h);
/* Makes bundle_message_validate_add refuse the message with this 16-byte luid. */
MOX_API void mox_bundle_refuse_message(mox_handle_t *h, const uint8_t *luid);
/* 0 when the message (16-byte luid) may join the open bundle, else 22 (no
 * bundle, or refused); what names it for diagnostics. */
MOX_API uint32_t bundle_message_validate_add(mox_handle_t *h, uint32_t db, const uint8_t *luid,
                                             const char *what, uint32_t *err);
/* Counts one instance of a message added before; 2 when it was not. */
MOX_API uint32_t bundle_message_increment_count(mox_handle_t *h, const uint8_t *luid,
                                                uint32_t *err);
MOX_API uint32_t mox_bundle_message_count(const mox_handle_t *h, const uint8_t *luid);

/* ------------------------------------------------------------------------ */
/* Containment and platform announcements                                    */
/* ------------------------------------------------------------------------ */

MOX_API void moxdb_record_containment2(mox_handle_t *h, uint32_t db, const void *item,
                                       const void *owner, uint32_t count);
MOX_API void moxdb_plat_set_dirty(mox_handle_t *h, uint32_t db, void *obj);
MOX_API void moxdb_plat_set_destroy(mox_handle_t *h, uint32_t db, void *obj);
MOX_API void moxdb_plat_set_detach(mox_handle_t *h, uint32_t db, void *obj, uint32_t count);

/* What the runtime was told, for tests and tools. */
#define MOX_EVENT_CONTAINMENT 1u
#define MOX_EVENT_PLAT_DIRTY 2u
#define MOX_EVENT_PLAT_DESTROY 3u
#define MOX_EVENT_PLAT_DETACH 4u
#define MOX_EVENT_HD_MAPPING_DESTROY 5u
typedef struct mox_event {
  uint32_t kind;
  uint32_t db;
  const void *item;
  const void *owner;
} mox_event_t;
/* The handle keeps the newest MOX_EVENT_LOG_LIMIT events; older ones are dropped. */
#define MOX_EVENT_LOG_LIMIT 4096u
MOX_API uint32_t mox_event_count(const mox_handle_t *h);
MOX_API int mox_event_get(const mox_handle_t *h, uint32_t i, mox_event_t *out);
MOX_API void mox_event_clear(mox_handle_t *h);

/* ------------------------------------------------------------------------ */
/* Memory and utility                                                        */
/* ------------------------------------------------------------------------ */

/* Fills memory that nobody else can see yet (no announcement). */
MOX_API void *memset_cr(void *dst, int c, size_t n);
MOX_API void *moxlib_malloc(size_t n);
MOX_API void moxlib_free(void *p);
MOX_API void *moxlib_get_handle_ws(mox_handle_t *h, uint32_t size);
/* 1 when [addr, addr+len) may be written in database db, else an errno value. */
MOX_API uint32_t plume_set_range(void *heap, void *addr, uint32_t len, uint32_t db);
MOX_API void plume_perror(uint32_t code);
MOX_API uint16_t mt_get_tenant_id(mox_handle_t *h);
MOX_API void bassert(int cond);

#ifdef __cplusplus
}
#endif

#include "mox/kinds.h"
#include "mox/xml.h"
#include "mox/db.h"

#endif /* MOX_RUNTIME_H */
