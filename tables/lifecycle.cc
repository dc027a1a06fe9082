// Table lifecycle: open (by name, by id, under the next free id), close and
// free, once for every table (instantiated per table descriptor).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tables/internal.h"

namespace orva {

extern const quill_section_desc_t kSection1;
extern const uint32_t *const kSection1Levels;

constinit thread_local TreeScope tree_scope{nullptr, 0};

// ---------------------------------------------------------------------------
// Trace, statistics
// ---------------------------------------------------------------------------

namespace {
uint32_t at(const TableDesc &d, TMsg m) { return d.msgs[static_cast<size_t>(m)]; }
}  // namespace

void ttrace(const TableDesc &d, TMsg m) {
  trace_init();
  __QLf_0(&kSection1, at(d, m), g_mox_orva_qos_data_trace_module_id, kSection1Levels[at(d, m)]);
}
void ttrace(const TableDesc &d, TMsg m, const char *a) {
  trace_init();
  __QLf_1(&kSection1, at(d, m), g_mox_orva_qos_data_trace_module_id, kSection1Levels[at(d, m)], a);
}
void ttrace(const TableDesc &d, TMsg m, uint32_t a) {
  trace_init();
  __QLf_4(&kSection1, at(d, m), g_mox_orva_qos_data_trace_module_id, kSection1Levels[at(d, m)], a);
}
void ttrace(const TableDesc &d, TMsg m, const char *a, uint32_t b) {
  trace_init();
  __QLf_14(&kSection1, at(d, m), g_mox_orva_qos_data_trace_module_id, kSection1Levels[at(d, m)], a,
           b);
}
void ttrace(const TableDesc &d, TMsg m, uint32_t a, uint32_t b) {
  trace_init();
  __QLf_44(&kSection1, at(d, m), g_mox_orva_qos_data_trace_module_id, kSection1Levels[at(d, m)], a,
           b);
}
void tabort(const TableDesc &d, TMsg m) {
  ttrace(d, m);
  std::abort();
}
void tabort(const TableDesc &d, TMsg m, const char *a) {
  ttrace(d, m, a);
  std::abort();
}
const char *errtext(uint32_t code) { return std::strerror(static_cast<int>(code)); }

uint32_t table_stats(const TableDesc &d, mox_handle_t *h, uint32_t db, mox_type_info_t *ti,
                     uint32_t counter) {
  const mox_variant_info_t *vi = ti->variant_info;
  if (vi == nullptr) tabort(d, TMsg::VarinfoNull);
  int32_t count = static_cast<int8_t>(vi->count_word & 0xFF);
  if (count < 1) {
    ttrace(d, TMsg::VariantExcess, 0u, static_cast<uint32_t>(count));
    return 0;
  }
  return moxlib_type_stats_add_internal(h, db, ti, &vi->entries[0].stats, counter);
}

// ---------------------------------------------------------------------------
// Open
// ---------------------------------------------------------------------------

namespace {

// A store into the table list or a table's links: declared to the write-range
// check first when the handle has a record heap (a refusal is corruption).
template <class T>
void linked_store(const TableDesc &d, mox_handle_t *h, uint32_t db, T *dst, T value) {
  if (h->record_heap != nullptr) {
    uint32_t ok = plume_set_range(h->record_heap, dst, sizeof(T), db);
    if (ok != 1) {
      plume_perror(ok);
      tabort(d, TMsg::PlumeError);
    }
  }
  dstore(h, db, dst, value);
}

void mark_dirty(mox_handle_t *h, uint32_t db, void *obj) {
  if (platform_announces(h, db)) moxdb_plat_set_dirty(h, db, obj);
}

// The table kind's id root: the cached pointer when it still lies in the
// database, else the named object (made when create is set).  Null with the
// error in *err, or null and no error for a reader without one.
TableIdRoot *id_root(const TableDesc &d, mox_handle_t *h, uint32_t db, bool create,
                     uint32_t *err) {
  void *cached = *d.tbi;
  if (cached != nullptr && moxlib_database_in_range(h, db, cached))
    return static_cast<TableIdRoot *>(cached);
  char name[MOX_TABLE_NAME_MAX];
  if (std::snprintf(name, sizeof name, "__mox_TBI__%s", d.luid_text) >= int(sizeof name)) {
    fail(h, err, kE2BIG);
    return nullptr;
  }
  void *root = h->registry_lookup(h->record_heap, db, name);
  if (root == nullptr) {
    if (!create) {
      ttrace(d, TMsg::TbiReader);
      return nullptr;
    }
    // Allocated in the database itself: the named objects of a database
    // accept only values inside its region.
    root = h->record_alloc(h->record_heap, db, sizeof(TableIdRoot));
    if (root == nullptr) {
      fail(h, err, kENOMEM);
      return nullptr;
    }
    announce(h, root, sizeof(TableIdRoot), db);
    std::memset(root, 0, sizeof(TableIdRoot));
    if (uint32_t code = h->registry_insert(h->record_heap, db, name, root); code != 0) {
      ttrace(d, TMsg::TbiSetFailed);
      h->record_free(h->record_heap, db, root);
      *d.tbi = nullptr;
      fail(h, err, code);
      return nullptr;
    }
  }
  *d.tbi = root;
  return static_cast<TableIdRoot *>(root);
}

void unlink_table(const TableDesc &d, mox_handle_t *h, uint32_t db, mox_table_list_t *list,
                  mox_db_table_t *t) {
  if (t->next != nullptr)
    linked_store(d, h, db, &t->next->prev, t->prev);
  else
    linked_store(d, h, db, reinterpret_cast<mox_db_table_t ***>(&list->tail), t->prev);
  linked_store(d, h, db, t->prev, t->next);
}

}  // namespace

template <const TableDesc &D>
void *table_open(mox_handle_t *h, uint32_t db, const char *name, uint32_t id_low, uint32_t id_high,
                 void *ior, uint32_t open_type, uint32_t dynamic, uint32_t kind, uint32_t *err) {
  if (!enter(h, err)) return nullptr;
  const bool create = open_type == 0;
  const bool shared = moxlib_db_is_shared(h, db) != 0;
  const bool locked = moxlib_database_is_write_locked(h, db) != 0;
  if (shared && !locked && create) tabort(D, TMsg::OpenNoWriteLock);
  const bool writable = !shared || locked;
  trace_init();
  trans_avl_trace_init();
  trans_ravl_trace_init();
  trans_gbt_trace_init();

  uint32_t local = 0;
  mox_table_list_t *list = moxlib_database_table_toc_get(h, db, &local);
  if (local != 0) {
    ttrace(D, TMsg::OpenTocList, errtext(local));
    fail(h, err, local);
    return nullptr;
  }
  void *root = moxdb_database_toc_get(h, db, &local);
  if (local != 0) {
    ttrace(D, TMsg::OpenToc, errtext(local));
    fail(h, err, local);
    return nullptr;
  }
  if (root == nullptr) {
    if (create && writable) tabort(D, TMsg::OpenTocRoot, moxdb_database_name(h, db));
    ttrace(D, TMsg::OpenNoTocRoot, moxdb_database_name(h, db), open_type);
    return nullptr;
  }

  char lookup[MOX_TABLE_NAME_MAX] = {};
  uint64_t id = (uint64_t(id_high) << 32) | id_low;
  TableIdRoot *tbi = nullptr;
  void *found = nullptr;
  if (kind == 0) {
    if (name == nullptr) {
      fail(h, err, kEINVAL);
      return nullptr;
    }
    if (std::strchr(name, '/') != nullptr) {
      std::strncpy(lookup, name, MOX_TABLE_NAME_MAX - 1);
    } else if (std::snprintf(lookup, sizeof lookup, "%s/%s", name, D.luid_text) >= int(sizeof lookup)) {
      fail(h, err, kE2BIG);
      return nullptr;
    }
    found = moxdb_database_toc_get_table_root(h, db, lookup, uint32_t(std::strlen(lookup)), 0, 0,
                                              D.ti->luid, 16, MOX_TOC_BY_NAME, &local);
    if (local != 0) {
      ttrace(D, TMsg::OpenFindName, errtext(local));
      fail(h, err, local);
      return nullptr;
    }
  } else {
    tbi = id_root(D, h, db, create, err);
    if (tbi == nullptr) return nullptr;
    if (kind == 1) {
      found = moxdb_database_toc_get_table_root(h, db, nullptr, 0, id_low, id_high, D.ti->luid, 16,
                                                MOX_TOC_BY_ID, &local);
      if (local != 0) {
        ttrace(D, TMsg::OpenFindId, errtext(local));
        fail(h, err, local);
        return nullptr;
      }
    } else {
      id = tbi->next_free_id;
    }
  }
  if (found != nullptr) {
    if (h->containment_enabled) moxdb_record_containment(h, db, MOX_CONTAIN_TABLE, found, nullptr, 1);
    return found;
  }
  if (!create) return nullptr;

  auto *t = static_cast<mox_db_table_t *>(h->record_alloc(h->record_heap, db, sizeof(mox_db_table_t)));
  if (t == nullptr) {
    fail(h, err, kENOMEM);
    return nullptr;
  }
  announce(h, t, sizeof *t, db);
  std::memset(t, 0, sizeof *t);
  t->tinfo = placed_type_info(h, db, D.ti);
  t->open_kind = kind;
  if (dynamic) t->flags |= MOX_TABLE_FLAG_DYNAMIC;
  uint64_t old_next = 0;
  if (kind == 0) {
    std::memcpy(t->name, lookup, sizeof lookup);
  } else {
    t->id = id;
    old_next = tbi->next_free_id;
    dstore(h, db, &tbi->next_free_id, std::max(old_next, id) + 1);
    dstore(h, db, &tbi->tables, tbi->tables + 1);
  }
  linked_store(D, h, db, &t->next, static_cast<mox_db_table_t *>(nullptr));
  linked_store(D, h, db, &t->prev, reinterpret_cast<mox_db_table_t **>(list->tail));
  linked_store(D, h, db, list->tail, static_cast<void *>(t));
  linked_store(D, h, db, &list->tail, reinterpret_cast<void **>(&t->next));
  mark_dirty(h, db, t);

  if (shared) {
    uint32_t was = moxdb_handle_set_cursor_enabling(h, 1);
    moxdb_table_enable_cursors(h, db, t, 1, &local);
    moxdb_handle_set_cursor_enabling(h, was);
    if (local != 0) tabort(D, TMsg::OpenCursor, errtext(local));
  }
  if (mox_oid_mapping_create(h, db, t, 2, dynamic,
                             reinterpret_cast<mox_finish_destroy_fn>(ior)) == 0)
    tabort(D, TMsg::OpenMapping);
  moxdb_database_toc_insert(h, db, t, dynamic, &local);
  if (local != 0) {
    // Undo the open: the table was never visible under its key.
    ttrace(D, TMsg::OpenTocInsert, dynamic ? "dynamic" : "static");
    uint32_t ignored = 0;
    mox_request_oid_mapping_destroy(h, db, t, &ignored);
    unlink_table(D, h, db, list, t);
    if (tbi != nullptr) {
      dstore(h, db, &tbi->next_free_id, old_next);
      dstore(h, db, &tbi->tables, tbi->tables - 1);
    }
    h->record_free(h->record_heap, db, t);
    fail(h, err, local);
    return nullptr;
  }
  if (uint32_t code = table_stats(D, h, db, t->tinfo, MOX_STATS_CREATE); code != 0)
    ttrace(D, TMsg::OpenStats, errtext(code));
  if (h->containment_enabled) moxdb_record_containment(h, db, MOX_CONTAIN_TABLE, t, nullptr, 1);
  mark_dirty(h, db, t);
  return t;
}

template <const TableDesc &D>
void *table_open_cr(mox_handle_t *h, uint32_t open_type, uint32_t kind, const char *name,
                    uint32_t id_low, uint32_t id_high) {
  return table_open<D>(h, h->current_db, name, id_low, id_high, nullptr, open_type, kind == 2,
                       kind, &h->last_error);
}

void table_close(mox_handle_t *h, uint32_t *err) {
  if (*err == 0) mox_clear_last_error(h);
}

// ---------------------------------------------------------------------------
// Free
// ---------------------------------------------------------------------------

template <const TableDesc &D>
void table_free(mox_handle_t *h, uint32_t db, void *table, uint32_t *err) {
  if (!enter(h, err)) return;
  mox_db_table_t *t = tbl(table);
  if (t == nullptr) {
    fail(h, err, kEINVAL);
    return;
  }
  uint32_t local = 0;
  void *root = moxdb_database_toc_get(h, db, &local);
  if (local != 0 || root == nullptr) {
    ttrace(D, TMsg::FreeTocRoot, errtext(local != 0 ? local : kENOENT));
    fail(h, err, local != 0 ? local : kENOENT);
    return;
  }
  const bool in_gc = moxgc_handle_in_gc(h) != 0;
  if (!moxdb_database_toc_gc_delete_pending(h, db, root)) {
    moxdb_database_toc_delete(h, db, t, &local);
    if (local != 0) {
      ttrace(D, TMsg::FreeTocDelete, errtext(local));
      fail(h, err, local);
      return;
    }
  } else if (!in_gc) {
    // The collector finishes the free.
    moxgc_validate_table_delete(h, db, t, &local);
    if (local == 0) moxdb_database_toc_delete(h, db, t, &local);
    if (local != 0) {
      ttrace(D, TMsg::FreeGcValidate, errtext(local));
      fail(h, err, local);
    }
    return;
  }
  uint32_t removed = mox_request_oid_mapping_destroy(h, db, t, &local);
  if (local != 0) {
    ttrace(D, TMsg::FreeOid, errtext(local));
    fail(h, err, local);
    return;
  }
  if (removed == 0) {
    fail(h, err, kEAGAIN);
    return;
  }
  ttrace(D, TMsg::FreeOidRemoved);
  if (t->open_kind != 0) {
    TableIdRoot *tbi = id_root(D, h, db, false, err);
    if (tbi == nullptr) {
      if (*err == 0) fail(h, err, kENOENT);
      return;
    }
    dstore(h, db, &tbi->tables, tbi->tables - 1);
  }
  mox_table_list_t *list = moxlib_database_table_toc_get(h, db, &local);
  if (local != 0) {
    ttrace(D, TMsg::FreeTocList, errtext(local));
    fail(h, err, local);
    return;
  }
  unlink_table(D, h, db, list, t);
  if (t->flags & MOX_TABLE_FLAG_ON_GC_LIST) {
    ttrace(D, TMsg::FreeOnGcList);
    moxgc_database_gc_list_remove(h, db, t, &local);
    if (local != 0) {
      ttrace(D, TMsg::FreeGcRemove, errtext(local));
      fail(h, err, local);
      return;
    }
  }
  if (uint32_t code = table_stats(D, h, db, t->tinfo, MOX_STATS_DESTROY); code != 0)
    ttrace(D, TMsg::FreeStats, errtext(code));
  if (platform_announces(h, db)) moxdb_plat_set_destroy(h, db, t);
  h->record_free(h->record_heap, db, t);
}

template <const TableDesc &D>
void request_table_free(mox_handle_t *h, uint32_t db, void *table, uint32_t *err) {
  if (!moxlib_db_is_shared(h, db)) {
    table_free<D>(h, db, table, err);
    return;
  }
  if (!enter(h, err)) return;
  uint32_t local = 0;
  moxdb_database_toc_delete(h, db, table, &local);
  if (local != 0 && local != kENOENT) {  // an entry already gone is no error here
    ttrace(D, TMsg::RequestFreeToc, errtext(local));
    fail(h, err, local);
    return;
  }
  if (local == 0 && platform_announces(h, db)) moxdb_plat_set_destroy(h, db, table);
}

template <const TableDesc &D>
void table_close_cr(mox_handle_t *h, void *table, uint32_t mode) {
  if (h->last_error == 0) mox_clear_last_error(h);
  if (mode == 1) table_free<D>(h, h->current_db, table, &h->last_error);
  if (mode == 2) request_table_free<D>(h, h->current_db, table, &h->last_error);
}

#define ORVA_TABLE_LIFECYCLE(N)                                                                \
  template void *table_open<k_##N>(mox_handle_t *, uint32_t, const char *, uint32_t, uint32_t, \
                                   void *, uint32_t, uint32_t, uint32_t, uint32_t *);          \
  template void *table_open_cr<k_##N>(mox_handle_t *, uint32_t, uint32_t, const char *,        \
                                      uint32_t, uint32_t);                                     \
  template void table_free<k_##N>(mox_handle_t *, uint32_t, void *, uint32_t *);             \
  template void request_table_free<k_##N>(mox_handle_t *, uint32_t, void *, uint32_t *);     \
  template void table_close_cr<k_##N>(mox_handle_t *, void *, uint32_t);
ORVA_EACH_TABLE(ORVA_TABLE_LIFECYCLE)

}  // namespace orva
