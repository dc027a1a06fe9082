"""The tables of the catalogue: descriptors, declarations and wrappers.

Each `table` statement becomes one constexpr TableDesc (tables/descriptor.h)
in table_descriptors.h, and each table operation one line per table that
calls the engine of tables/ with that descriptor.  Nothing per table is
written by hand; what differs between tables is in the catalogue (the key,
the data and key types, the `+` operations).
"""

# The engine's message enumerators (tables/descriptor.h, enum class TMsg), in
# the order of their catalogue ids.
TABLE_MSGS = [
    "open_no_write_lock", "open_toc_list", "open_toc", "open_toc_root", "open_no_toc_root",
    "open_find_name", "open_find_id", "tbi_reader", "tbi_set_failed", "plume_error", "open_cursor",
    "open_mapping", "open_toc_insert", "varinfo_null", "variant_excess", "open_stats",
    "free_toc_root", "free_toc_delete", "free_gc_validate", "free_oid", "free_oid_removed",
    "free_toc_list", "free_on_gc_list", "free_gc_remove", "free_stats", "record_stats",
    "record_tinfo", "destroy_delete", "destroy_stats", "destroy_hd", "destroy_loc",
    "set_field_refused", "free_set_refused", "insert_exists", "delete_reader", "delete_reader_check", "request_invalid", "request_failed", "request_mismatch",
    "request_no_table", "request_free_toc", "invalid_get_flag", "delete_not_found",
    "cb_create", "cb_modify", "cb_delete", "cb_create_dm", "cb_delete_dm", "cb_grouping", "cb_free",
]

KEY_KINDS = {"mox_mac_addr": "Mac", "u_int32": "U32", "mox_vstring": "VString"}
MEMBER_BITS = {"get_cr": "kTblGetCr", "request_free": "kTblRequestFree",
               "record_destroy_cr": "kTblRecordDestroyCr", "next_ignore_src": "kTblNextIgnoreSrc",
               "search_only": "kTblSearchOnly"}

H = "mox_handle_t *h"
TBL = "void *table"
REC = "void *rec"
ERR = "uint32_t *err"

# (return type, suffix, parameters, engine call).  {K} is the C type of a key
# object (the data type, or the key record type of a composite table).
TABLE_OPS = [
    ("void *", "table_open", f"{H}, uint32_t db, const char *name, uint32_t open_type, {ERR}",
     "return orva::table_open<orva::k_{t}>(h, db, name, 0, 0, nullptr, open_type, 0, 0, err);"),
    ("void *", "table_open_by_id",
     f"{H}, uint32_t db, uint32_t id_low, uint32_t id_high, uint32_t open_type, {ERR}",
     "return orva::table_open<orva::k_{t}>(h, db, nullptr, id_low, id_high, nullptr, open_type, 0, 1, err);"),
    ("void *", "table_open_by_ior_with_name",
     f"{H}, uint32_t db, const char *name, void *ior, uint32_t open_type, uint32_t dynamic, {ERR}",
     "return orva::table_open<orva::k_{t}>(h, db, name, 0, 0, ior, open_type, dynamic, 0, err);"),
    ("void *", "table_open_by_ior_with_id",
     f"{H}, uint32_t db, uint32_t id_low, uint32_t id_high, void *ior, uint32_t open_type, "
     f"uint32_t dynamic, {ERR}",
     "return orva::table_open<orva::k_{t}>(h, db, nullptr, id_low, id_high, ior, open_type, dynamic, 1, err);"),
    ("void *", "table_open_cr",
     f"{H}, uint32_t open_type, uint32_t open_kind, const char *name, uint32_t id_low, uint32_t id_high",
     "return orva::table_open_cr<orva::k_{t}>(h, open_type, open_kind, name, id_low, id_high);"),
    ("void", "table_close", f"{H}, uint32_t db, {TBL}, {ERR}", "orva::table_close(h, err);"),
    ("void", "table_free", f"{H}, uint32_t db, {TBL}, {ERR}",
     "orva::table_free<orva::k_{t}>(h, db, table, err);"),
    ("void *", "create_record", f"{H}, uint32_t db, {ERR}",
     "return orva::trec_create<orva::k_{t}>(h, db, 1, err);"),
    ("void *", "record_create_cr", f"{H}, uint32_t with_data",
     "return orva::trec_create_cr<orva::k_{t}>(h, with_data);"),
    ("void *", "request_record_destroy", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "return orva::trec_request_destroy<orva::k_{t}>(h, db, table, rec, err);"),
    ("uint32_t", "request_record_destroy_cr", f"{H}, {TBL}, {REC}, void **result",
     "return orva::trec_request_destroy_cr<orva::k_{t}>(h, table, rec, result);"),
    ("void", "pkey_destroy", f"{H}, uint32_t db, {{K}} *key",
     "orva::pkey_destroy<orva::k_{t}>(h, db, key);"),
    ("uint32_t", "insert_cr", f"{H}, {TBL}, {REC}, uint32_t key_mark",
     "orva::table_insert<orva::k_{t}>(h, h->current_db, table, rec, key_mark, &h->last_error); "
     "return h->last_error;"),
    ("uint32_t", "record_add_ref", f"{H}, uint32_t db, {REC}, {ERR}",
     "return orva::trec_add_ref(h, db, rec, err);"),
    ("void", "destroy_record", f"{H}, uint32_t db, {REC}, {ERR}",
     "orva::trec_destroy<orva::k_{t}>(h, db, rec, err);"),
    ("void", "insert", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "orva::table_insert<orva::k_{t}>(h, db, table, rec, 0, err);"),
    ("void", "pkey_insert", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "orva::table_insert<orva::k_{t}>(h, db, table, rec, 1, err);"),
    ("void", "delete", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "orva::table_delete<orva::k_{t}>(h, db, table, rec, 0, err);"),
    ("void", "pkey_delete", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "orva::table_delete<orva::k_{t}>(h, db, table, rec, 1, err);"),
    ("void *", "search", f"{H}, uint32_t db, {TBL}, const {{K}} *key, uint32_t near, {ERR}",
     "return orva::table_search<orva::k_{t}>(h, db, table, key, near, 1, 1, 1, 0, 0, err);"),
    ("void *", "search_w_src",
     f"{H}, uint32_t db, {TBL}, const {{K}} *key, uint32_t near, uint32_t source, {ERR}",
     "return orva::table_search<orva::k_{t}>(h, db, table, key, near, 1, source, source, 0, 0, err);"),
    ("void *", "get_next_by_key", f"{H}, uint32_t db, {TBL}, const {{K}} *key, {ERR}",
     "return orva::table_step_by_key<orva::k_{t}>(h, db, table, key, 1, 1, 1, 0, err);"),
    ("void *", "get_prev_by_key", f"{H}, uint32_t db, {TBL}, const {{K}} *key, {ERR}",
     "return orva::table_step_by_key<orva::k_{t}>(h, db, table, key, 0, 1, 1, 0, err);"),
    ("void *", "pkey_get_first", f"{H}, uint32_t db, {TBL}, {ERR}",
     "return orva::table_end<orva::k_{t}>(h, db, table, 1, 1, 1, 0, err);"),
    ("void *", "pkey_get_first_by_src", f"{H}, uint32_t db, {TBL}, uint32_t source, {ERR}",
     "return orva::table_end<orva::k_{t}>(h, db, table, 1, source, 1, 0, err);"),
    ("void *", "pkey_get_first_ignore_src", f"{H}, uint32_t db, {TBL}, {ERR}",
     "return orva::table_end<orva::k_{t}>(h, db, table, 1, 1, 0, 0, err);"),
    ("void *", "pkey_get_last", f"{H}, uint32_t db, {TBL}, {ERR}",
     "return orva::table_end<orva::k_{t}>(h, db, table, 0, 1, 1, 0, err);"),
    ("void *", "pkey_get_next", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 1, 1, 1, 0, 0, err);"),
    ("void *", "pkey_get_next_by_src", f"{H}, uint32_t db, {TBL}, {REC}, uint32_t source, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 1, source, 1, 0, 0, err);"),
    ("void *", "pkey_get_next_ignore_src", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 1, 1, 0, 0, 0, err);"),
    ("void *", "pkey_get_prev", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 0, 1, 1, 0, 0, err);"),
    ("uint32_t", "table_get_count", f"{H}, uint32_t db, const void *table",
     "return orva::table_count(h, db, table, 0, 0);"),
    ("uint32_t", "table_get_count_by_src", f"{H}, uint32_t db, const void *table, uint32_t source",
     "return orva::table_count(h, db, table, 1, source);"),
    ("uint32_t", "pkey_print", f"{H}, uint32_t db, {TBL}, {REC}, char *buf, int32_t buflen, {ERR}",
     "return orva::pkey_print<orva::k_{t}>(h, db, table, rec, buf, buflen, err);"),
    ("uint32_t", "table_pkey_len", f"{H}, uint32_t db, const void *rec",
     "return orva::pkey_len<orva::k_{t}>(h, db, rec);"),
]

# The record callbacks: (event, TCb enumerator, parameters after the handle
# and database id).  Callback `<table>_table_record_<event>_cb` and handler
# `<module>_<table>_table_record_<event>_handler` take the same parameters;
# the callback passes them on unchanged.
CALLBACKS = [
    ("create", "Create", "void *first, void *second, uint32_t *err"),
    ("modify", "Modify", "void *first, void *second, uint32_t *err"),
    ("delete", "Delete", "void *first, void *second, uint32_t *err"),
    ("create_dm", "CreateDm", "void *rec, uint32_t *err"),
    ("delete_dm", "DeleteDm", "void *rec, uint32_t *err"),
    ("grouping", "Grouping",
     "void *first, uint32_t *err, uint32_t word1, uint32_t word2, uint32_t word3, uint32_t word4"),
    ("free", "Free", "void *first, void *second, uint32_t *err, uint32_t word"),
]


def arguments(params):
    """The names of a C parameter list, as arguments."""
    return ", ".join(p.split()[-1].lstrip("*") for p in params.split(", "))


def handler_name(cat, t, event):
    return f"{cat.module}_{t.name}_table_record_{event}_handler"


def handler_prototypes(cat, t, prefix=""):
    return "".join(f"{prefix}uint32_t {handler_name(cat, t, e)}({H}, uint32_t db, {p});\n"
                   for e, _, p in CALLBACKS)

# Operations only some tables have: (return, suffix, parameters, body, the
# catalogue's `+` word).
OPTIONAL_OPS = [
    ("void", "request_table_free", f"{H}, uint32_t db, {TBL}, {ERR}",
     "orva::request_table_free<orva::k_{t}>(h, db, table, err);", "request_free"),
    ("void", "table_close_cr", f"{H}, {TBL}, uint32_t mode",
     "orva::table_close_cr<orva::k_{t}>(h, table, mode);", "request_free"),
    ("void", "record_destroy_cr", f"{H}, {REC}",
     "orva::trec_destroy<orva::k_{t}>(h, h->current_db, rec, &h->last_error);", "record_destroy_cr"),
]

# Accessors of the records a table record carries: {R} is the record type,
# {slot} 0 for the data record, 1 for the key record.
FIELD_OPS = [
    ("{R} *", "{R}_get_field", f"{H}, uint32_t db, {REC}",
     "return ({R} *)orva::trec_get_field<orva::k_{t}>(h, db, rec, {slot});"),
    ("void", "{R}_set_field", f"{H}, uint32_t db, {REC}, {{R}} *obj",
     "orva::trec_set_field<orva::k_{t}>(h, db, rec, obj, {slot}, 0);"),
    ("void", "{R}_free_and_set_field", f"{H}, uint32_t db, {REC}, {{R}} *obj",
     "orva::trec_set_field<orva::k_{t}>(h, db, rec, obj, {slot}, 1);"),
]

# The key index: (return, suffix, parameters, engine call, which tables).
# "all" every table; "full" all but the search-only index; "get_cr" and
# "next_ignore_src" the tables whose catalogue statement names them.  The key
# is a pointer to the key value ({V}); the engine takes key objects, hence
# key_object<>.
KEYV = "orva::key_object<orva::k_{t}>(key)"
INDEX_OPS = [
    ("uint32_t", "_avl_compare", f"{H}, uint32_t db, {TBL}, const void *a, const void *b",
     "return orva::index_compare<orva::k_{t}>(h, db, a, b);", "all"),
    ("void *", "_search_internal",
     f"{H}, uint32_t db, {TBL}, const {{V}} *key, uint32_t near, uint32_t forward, uint32_t probe_source, "
     f"uint32_t filter_source, uint32_t not_pending, uint32_t same_key, {ERR}",
     f"return orva::table_search<orva::k_{{t}}>(h, db, table, {KEYV}, near, forward, probe_source, "
     "filter_source, not_pending, same_key, err);", "all"),
    ("void *", "_get_next_internal",
     f"{H}, uint32_t db, {TBL}, {REC}, uint32_t source, uint32_t by_source, uint32_t not_pending, "
     f"uint32_t same_key, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 1, source, by_source, not_pending, same_key, "
     "err);", "all"),
    ("void *", "_get_prev_internal",
     f"{H}, uint32_t db, {TBL}, {REC}, uint32_t source, uint32_t by_source, uint32_t not_pending, "
     f"uint32_t same_key, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 0, source, by_source, not_pending, same_key, "
     "err);", "all"),
    ("void *", "_search", f"{H}, uint32_t db, {TBL}, const {{V}} *key, {ERR}",
     f"return orva::table_search<orva::k_{{t}}>(h, db, table, {KEYV}, 0, 1, 1, 0, 0, 0, err);", "all"),
    ("void *", "_search_not_pending_destroy",
     f"{H}, uint32_t db, {TBL}, const {{V}} *key, uint32_t source, uint32_t near, {ERR}",
     f"return orva::search_not_pending<orva::k_{{t}}>(h, db, table, {KEYV}, source, near, err);", "full"),
    ("void *", "_get_first_not_pending_destroy", f"{H}, uint32_t db, {TBL}, uint32_t source, {ERR}",
     "return orva::table_end<orva::k_{t}>(h, db, table, 1, source, source != 0, 1, err);", "full"),
    ("void *", "_get_next_by_key_not_pending_destroy",
     f"{H}, uint32_t db, {TBL}, const {{V}} *key, uint32_t probe_source, uint32_t filter_source, {ERR}",
     f"return orva::table_step_by_key<orva::k_{{t}}>(h, db, table, {KEYV}, 1, probe_source, filter_source, 1, "
     "err);", "full"),
    ("void *", "_get_prev_by_key_not_pending_destroy",
     f"{H}, uint32_t db, {TBL}, const {{V}} *key, uint32_t probe_source, uint32_t filter_source, {ERR}",
     f"return orva::table_step_by_key<orva::k_{{t}}>(h, db, table, {KEYV}, 0, probe_source, filter_source, 1, "
     "err);", "full"),
    ("void *", "search_cr", f"{H}, {TBL}, const {{V}} *key, uint32_t source, uint32_t flags",
     f"return orva::search_cr<orva::k_{{t}}>(h, table, {KEYV}, source, flags);", "all"),
    ("void *", "get_cr", f"{H}, {TBL}, uint32_t how, {REC}, uint32_t source, uint32_t flags",
     "return orva::get_cr<orva::k_{t}>(h, table, how, rec, source, flags);", "get_cr"),
    ("void *", "_get_next_ignore_src", f"{H}, uint32_t db, {TBL}, {REC}, {ERR}",
     "return orva::table_walk<orva::k_{t}>(h, db, table, rec, 1, 1, 0, 0, 0, err);", "next_ignore_src"),
]

KEY_VALUE_TYPES = {"mox_mac_addr": "mox_mac_addr_t", "u_int32": "uint32_t", "mox_vstring": "mox_vstring_t"}

# Reference rows: ("table", suffix) with the data or key record type written
# as "record".
DESCRIPTIONS = {
    "table_open": "Opens the table `name` (the LUID text is appended unless the name holds a \"/\"), "
                  "creating it when `open_type` is 0. Returns the table object, or null (no error when "
                  "it does not exist and `open_type` is not 0). Errors: 7 (name too long), 12, 17, and "
                  "those of the TOC.",
    "table_open_by_id": "As `_table_open`, by the 64-bit id (`id_low`, `id_high`); the table kind's id root "
                        "keeps the next free id above every id opened. Errors: 7, 12, 17.",
    "table_open_by_ior_with_name": "As `_table_open`, with an object reference for the table's mapping and "
                                   "the dynamic flag. Errors: 7, 12, 17.",
    "table_open_by_ior_with_id": "As `_table_open_by_id`, with an object reference and the dynamic flag. "
                                 "Errors: 7, 12, 17.",
    "table_open_cr": "Handle-bound open: `open_kind` 0 by name, 1 by id, 2 a new dynamic table under the next "
                     "free id; database and error slot are the handle's `current_db` and `last_error`. "
                     "Returns the table object or null.",
    "table_close": "Releases nothing; the table stays open. Returns nothing.",
    "table_free": "Removes the table from the TOC, its mapping and the table list and frees the table object "
                  "(records still in it are not freed). Returns nothing. Errors: 11 (mapping still referenced: "
                  "retry), 2, and those of the TOC.",
    "create_record": "Allocates a table record in the database (source id 1, one reference, the caller's "
                     "tenant, no data record). Returns it, or null when storage fails.",
    "record_create_cr": "Handle-bound create in `current_db`; with `with_data` also the data record (and key "
                        "record). Returns it; without memory the table's placeholder and 12 in `last_error`.",
    "request_record_destroy": "Asks the database services to destroy the record later (it is marked pending "
                              "destroy; the collector calls `_destroy_record`). Returns null, or the record when "
                              "refused. Errors: 22 (null table or record), 14 (record of another table), 2 (record "
                              "in no table), and those of the services.",
    "request_record_destroy_cr": "Handle-bound `_request_record_destroy`; stores its result through `result` "
                                 "when not null. Returns `last_error`.",
    "pkey_destroy": "Destroys a key object (a data record, or the key record of a composite table). Returns "
                    "nothing.",
    "insert_cr": "Handle-bound `_insert` (`key_mark` non-zero: `_pkey_insert`). Returns `last_error`.",
    "request_table_free": "Frees at once in a private database; in a shared one removes the TOC entry and leaves "
                          "the table object to the collector. Returns nothing. Errors: those of the TOC (2 is "
                          "not an error here).",
    "table_close_cr": "Handle-bound: `mode` 1 frees the table, 2 requests its free, others do nothing. Returns "
                      "nothing.",
    "record_destroy_cr": "Handle-bound `_destroy_record`. Returns nothing.",
    "record_add_ref": "Adds a reference to the table record. Returns the count before. Errors: 2 (null "
                      "record); a count at 2^24 - 1 aborts.",
    "destroy_record": "Drops one reference; the last one deletes the record from its table, destroys its "
                      "data (and key) record and frees it. Returns nothing. Errors: 2 (null record).",
    "record_get_field": "Returns the record the table record carries (null when none). No error slot.",
    "record_set_field": "Attaches `obj` to the table record (the previous one is not destroyed); a nested or "
                        "embedded object is refused with the error in the handle's `last_error`. Returns "
                        "nothing.",
    "record_free_and_set_field": "As `_set_field`, destroying the record attached before. Returns nothing.",
    "insert": "Inserts the table record into the table in key order. Returns nothing. Errors: 17 (an equal "
              "record is present, or a null record).",
    "pkey_insert": "As `_insert`, setting the record's key mark. Returns nothing. Errors: 17.",
    "delete": "Removes the table record from the table. Returns nothing. Errors: 2 (not in the table), 22 "
              "(a read cursor is open, unless the handle is the collector).",
    "pkey_delete": "Sets the record's key mark; the record stays in the tree and counted. Returns nothing. "
                   "Errors: 22.",
    "search": "Returns the record of source 1 with the key of `key`, or with `near` the next greater one of "
              "source 1 within the caller's tenant; null when none. Errors: 2 (null table or key).",
    "search_w_src": "As `_search`, for records of `source`. Errors: 2.",
    "get_next_by_key": "Returns the first record of source 1 after the key, or null. Errors: 2.",
    "get_prev_by_key": "Returns the last record of source 1 before the key, or null. Errors: 2.",
    "pkey_get_first": "Returns the caller's tenant's first record of source 1, or null. Errors: 2.",
    "pkey_get_first_by_src": "Returns the first record of `source` (0: any but 255), or null. Errors: 2.",
    "pkey_get_first_ignore_src": "Returns the first record of any source, or null. Errors: 2.",
    "pkey_get_last": "Returns the last record of source 1, or null. Errors: 2.",
    "pkey_get_next": "Returns the record of source 1 after `rec` within the caller's tenant, or null. "
                     "Errors: 2.",
    "pkey_get_next_by_src": "As `_pkey_get_next`, for `source` (0: any but 255). Errors: 2.",
    "pkey_get_next_ignore_src": "As `_pkey_get_next`, for any source. Errors: 2.",
    "pkey_get_prev": "Returns the record of source 1 before `rec`, or null. Errors: 2.",
    "index_avl_compare": "The tree's order of two table records (tenant, key, location, source): 0 less, 1 "
                         "equal, 2 greater. No error slot.",
    "index_search_internal": "The search procedure with all its parameters (near, forward, probe source, "
                             "filter source, not-pending, same-key), given the key value. Errors: 2.",
    "index_get_next_internal": "The walk step forward from `rec` with source, by-source, not-pending and "
                               "same-key. Errors: 2.",
    "index_get_prev_internal": "The walk step backward. Errors: 2.",
    "index_search": "Returns the record of source 1 with the key value, or null. Errors: 2.",
    "index_search_not_pending_destroy": "Search skipping records pending destroy (source 0: same key, any source "
                                        "but 255); null whenever the slot is set after. Errors: 2.",
    "index_get_first_not_pending_destroy": "Returns the first record of `source` not pending destroy. Errors: 2.",
    "index_get_next_by_key_not_pending_destroy": "Returns the record after the key not pending destroy. "
                                                 "Errors: 2.",
    "index_get_prev_by_key_not_pending_destroy": "Returns the record before the key not pending destroy. "
                                                 "Errors: 2.",
    "index_search_cr": "Handle-bound search: flags 0x1 near, 0x2 include pending destroy, 0x4 same key. Returns "
                       "the record, null when `last_error` is set.",
    "index_get_cr": "Handle-bound get: `how` 0 first, 1 last, 2 before `rec`, 3 after; flags 0x1 any source, 0x2 "
                    "include pending destroy. Errors: 22 (another `how`).",
    "index_get_next_ignore_src": "As `_pkey_get_next_ignore_src`. Errors: 2.",
    "table_get_count": "Returns the caller's tenant's record count over all sources, or without a tenant the "
                       "table's record count; 0 for a null table. No error slot.",
    "table_get_count_by_src": "Returns the tenant's count for `source`; without a tenant the unsourced count "
                              "for 255 and 0 otherwise. No error slot.",
    "pkey_print": "Prints the record's key into `buf` (`buflen` bytes): the key field under its name, or the "
                  "key record unlabelled. Returns the characters written, 0 on failure. Errors: 22 (null table "
                  "or record), 2 (the record carries no data or key record), 90 (`buflen` below the key's wire "
                  "length).",
    "table_pkey_len": "Returns the wire length of the record's key (the key field's, or the key record's); 0 "
                      "for a null record or one without its key. No error slot.",
}
_HANDLER = ("With an error in `err` returns it and does nothing; else clears the handle's last error and "
            "passes the arguments unchanged to the process's `orva_qos_data_<table>_table_record_{e}_handler`, "
            "returning its result. Without that handler: clears `err`, traces \"default "
            "orva_qos_data_<table>_record {m} handler called\" ({lvl}){then} and returns 0.")
for _e, _m, _lvl, _then in [
        ("create", "create", "0x6000000", ""), ("modify", "modify", "0x6000000", ""),
        ("delete", "delete", "0x6000000", ""),
        ("create_dm", "create DM", "0x6000000", ", then runs `_table_record_create_cb` with (null, `rec`, `err`)"),
        ("delete_dm", "delete DM", "0x6000000", ", then runs `_table_record_delete_cb` with (null, `rec`, `err`)"),
        ("grouping", "grouping", "0x8000000", ""), ("free", "free", "0x6000000", "")]:
    DESCRIPTIONS[f"table_record_{_e}_cb"] = "Record callback of the database services. " + _HANDLER.format(
        e=_e, m=_m, lvl=_lvl, then=_then)


def trace_scope(cat):
    """The tables' trace substitutions: name, key type and key field."""
    out = []
    for t in cat.tables:
        composite = t.key in {x.name for x in cat.types}
        out.append((t.name, {"name": t.name, "type": t.key if composite else t.data,
                             "key": "" if composite else t.key, "data": t.data}))
    return out


class Tables:
    def __init__(self, cat, msg_index):
        self.cat = cat
        self.msg_index = msg_index
        self.type_names = {x.name for x in cat.types}

    def composite(self, t):
        return t.key in self.type_names

    def key_type(self, t):
        return t.key if self.composite(t) else t.data

    def index_base(self, t):
        return f"{t.name}_{t.key}" if self.composite(t) else f"{t.name}_{t.data}_{t.key}"

    def index_name(self, t):
        """tbl_qos_client_data_qos_client_data_t_client_mac, or with an empty
        key field tbl_qos_bssid_data_qos_bssid_key_t_ (members then follow
        with their own "_"; search_cr and get_cr join the base with one)."""
        return self.index_base(t) + ("_" if self.composite(t) else "")

    def key_value_type(self, t):
        if self.composite(t):
            return t.key
        kind = next(f.kind for f in self.cat.type(t.data).fields if f.name == t.key)
        return KEY_VALUE_TYPES[kind]

    @staticmethod
    def index_has(t, which):
        if which == "all":
            return True
        if which == "full":
            return not t.has("search_only")
        return t.has(which)

    def operations(self):
        """(return, name, parameters, body) of every table operation."""
        out = []
        for t in self.cat.tables:
            sub = {"t": t.name, "K": self.key_type(t)}
            for ret, suffix, params, body in TABLE_OPS:
                out.append((ret, f"{t.name}_{suffix}", params.format(**sub), body.format(**sub)))
            for event, enum, params in CALLBACKS:
                out.append(("uint32_t", f"{t.name}_table_record_{event}_cb", f"{H}, uint32_t db, {params}",
                            f"return orva::table_callback<orva::k_{t.name}, orva::TCb::{enum}>"
                            f"(h, db, err, {arguments(params)});"))
            for ret, suffix, params, body, which in OPTIONAL_OPS:
                if t.has(which):
                    out.append((ret, f"{t.name}_{suffix}", params.format(**sub), body.format(**sub)))
            for ret, suffix, params, body, which in INDEX_OPS:
                if self.index_has(t, which):
                    name = (self.index_name(t) + suffix if suffix.startswith("_")
                            else self.index_base(t) + "_" + suffix)
                    sub["V"] = self.key_value_type(t)
                    out.append((ret, name, params.format(**sub), body.format(**sub)))
            carried = [(t.data, 0)] + ([(t.key, 1)] if self.composite(t) else [])
            for rtype, slot in carried:
                fs = {"t": t.name, "R": rtype, "slot": slot}
                for ret, suffix, params, body in FIELD_OPS:
                    out.append((ret.format(**fs), f"{t.name}_{suffix.format(**fs)}", params.format(**fs),
                                body.format(**fs)))
        return out

    def declarations(self):
        o = ["\n/* Table operations (table objects and table records are opaque). */\n"]
        o += [f"{ret} {name}({params});\n" for ret, name, params, _ in self.operations()]
        o.append("/* The table record callbacks' handlers: defined by the owning process, optionally\n"
                 "   (an absent one gives the callback's default). */\n")
        o += [handler_prototypes(self.cat, t) for t in self.cat.tables]
        return "".join(o)

    def exports(self, names):
        o = ['\n}  // extern "C"\n\n#include "tables/tables.h"\n#include "table_descriptors.h"\n\n'
             'extern "C" {\n\n']
        for ret, name, params, body in self.operations():
            names.append(name)
            o.append(f"ORVA_EXPORT {ret} {name}({params}) {{ {body} }}\n")
        return "".join(o)

    def descriptors_header(self, banner, type_info_symbol):
        o = [banner, "// The tables' descriptors as constant expressions (tables/descriptor.h).\n",
             "#pragma once\n\n#include <iterator>\n\n", '#include "catalogue_descriptors.h"\n',
             '#include "tables/descriptor.h"\n\n',
             "// The handlers are weak: null unless the owning process defines them.\n",
             'extern "C" {\n', "".join(handler_prototypes(self.cat, t, "__attribute__((weak)) ")
                                      for t in self.cat.tables),
             '}\n\nnamespace orva {\n\n']
        for t in self.cat.tables:
            idx = ", ".join(str(self.msg_index[(1, "table", t.name, m)]) for m in TABLE_MSGS)
            members = " | ".join(MEMBER_BITS[op] for op in t.ops) or "0"
            if self.composite(t):
                kind, offset, key_rec, key_name = "Record", "0", f"&k_{t.key}", '""'
            else:
                data = self.cat.type(t.data)
                i = next(n for n, f in enumerate(data.fields) if f.name == t.key)
                kind = KEY_KINDS[data.fields[i].kind]
                offset, key_rec, key_name = f"k_{t.data}.fields[{i}].offset", "nullptr", f'"{t.key}"'
            rec = "CompositeTableRecord" if self.composite(t) else "PlainTableRecord"
            o.append(f"namespace gen {{\ninline constexpr uint16_t {t.name}_msgs[] = {{{idx}}};\n"
                     f"static_assert(std::size({t.name}_msgs) == size_t(TMsg::Count));\n"
                     f"inline {rec} {t.name}_placeholder;\ninline void *{t.name}_tbi;\n"
                     f"inline const TableHandlers {t.name}_handlers = {{"
                     + ", ".join(f"&{handler_name(self.cat, t, e)}" for e, _, _ in CALLBACKS)
                     + "};\n}  // namespace gen\n")
            o.append(f'inline constexpr TableDesc k_{t.name} = {{"{t.name}", &{type_info_symbol(t)}, '
                     f"&{type_info_symbol(t.record)}, \"{t.luid}\", &k_{t.data}, {key_rec}, "
                     f"{'true' if self.composite(t) else 'false'}, "
                     f"KeyKind::{kind}, uint32_t({offset}), {key_name}, {members}, gen::{t.name}_msgs, "
                     f"&gen::{t.name}_placeholder, &gen::{t.name}_tbi, &gen::{t.name}_handlers}};\n\n")
        o.append("// Every table in catalogue order: X(name) per table.\n#define ORVA_EACH_TABLE(X) \\\n")
        o.append("".join(f"  X({t.name}) \\\n" for t in self.cat.tables))
        o.append("\n\n}  // namespace orva\n")
        return "".join(o)


def reference_name(table, rest):
    """The reference row of a table operation named <table>_<rest>: the key
    index's members as "index_<member>", the carried records' accessors as
    "record_<accessor>"."""
    for prefix in (f"{table.key}_", f"{table.data}_{table.key}_"):
        if rest.startswith(prefix) and rest[len(prefix):].lstrip("_") in INDEX_SUFFIXES:
            return "index_" + rest[len(prefix):].lstrip("_")
    for carried in (table.data, table.key):
        if rest.startswith(carried + "_"):
            return "record_" + rest[len(carried) + 1:]
    return rest


INDEX_SUFFIXES = {op[1].lstrip("_") for op in INDEX_OPS}


def reference_rows():
    """The reference's rows of the table operations."""
    return {("table", suffix): text for suffix, text in DESCRIPTIONS.items()}
