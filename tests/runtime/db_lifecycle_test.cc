// Destroy requests and the collector, the GC list, cursors and locations.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "db_test_util.h"
#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::ScopedHandle;

struct Db {
  ScopedHandle h;
  uint32_t err = 0;
  uint32_t id = mox_database_create(h, "life", 1 << 16, 0, &err);
  ~Db() { mox_database_destroy(h, id, &err); }
  template <class T>
  T *make() { return db_test::make<T>(h, id); }
};

std::vector<void *> destroyed;
void record_destroy(mox_handle_t *, uint32_t, void *rec, uint32_t *) { destroyed.push_back(rec); }
std::vector<void *> freed;
void table_free(mox_handle_t *h, uint32_t db, void *t, uint32_t *) {
  freed.push_back(t);
  EXPECT_TRUE(moxgc_handle_in_gc(h));
  EXPECT_FALSE(static_cast<mox_db_table_t *>(t)->flags & MOX_TABLE_FLAG_ON_GC_LIST);
}

TEST(DbLifecycle, DestroyRequestsAndTheCollector) {
  Db d;
  mox_type_info_t kind{};
  auto *table = d.make<mox_db_table_t>();
  table->tinfo = &kind;
  auto *a = d.make<mox_db_table_record_t>(), *b = d.make<mox_db_table_record_t>(),
       *loose = d.make<mox_db_table_record_t>(), *gone = d.make<mox_db_table_record_t>();
  a->table = b->table = gone->table = table;
  destroyed.clear();
  orva_test::JournalCheck journal(d.h, {{a, sizeof *a, "a"}, {table, sizeof *table, "table"}});
  const mox_record_destroy_fn fn0 = record_destroy;
  for (auto [rec, fn, code] : {std::tuple{a, fn0, 0u}, {a, fn0, 0u}, {b, fn0, 0u},
                               {gone, fn0, 0u}, {loose, fn0, 2u}, {b, nullptr, 22u}}) {
    uint32_t e = 0;
    moxdb_request_record_destroy(d.h, d.id, rec, fn, &e);
    EXPECT_EQ(e, code);
  }
  EXPECT_TRUE(journal.Verify());
  EXPECT_EQ(std::make_tuple(a->flags & MOX_REC_PENDING_DESTROY, table->pending_destroy,
                            mox_database_pending_destroy(d.h, d.id)),
            std::make_tuple(MOX_REC_PENDING_DESTROY, 3u, uint64_t{3}))
      << "a second request for a counts once";
  // A freed record's request dies with it; only the collector collects.
  d.h->record_free(d.h->record_heap, d.id, gone);
  uint32_t e = 0;
  EXPECT_EQ(std::make_tuple(mox_database_collect(d.h, d.id, nullptr, &e), e), std::make_tuple(0u, 22u));
  e = 0;
  mox_handle_set_collector(d.h, 1);
  EXPECT_EQ(mox_database_collect(d.h, d.id, table_free, &e), 2u);
  EXPECT_EQ(mox_database_collect(d.h, d.id, table_free, &e), 0u);
  EXPECT_EQ(destroyed, (std::vector<void *>{a, b})) << "each destroy function exactly once";

  // Tables: one on the GC list, one linked without a TOC entry (a requested
  // free), one still in the TOC; the collector frees the first two.
  mox_handle_set_collector(d.h, 0);
  auto *listed = d.make<mox_db_table_t>(), *orphan = d.make<mox_db_table_t>(),
       *kept = d.make<mox_db_table_t>();
  std::strcpy(kept->name, "kept");
  kept->tinfo = listed->tinfo = orphan->tinfo = &kind;
  moxlib_database_table_toc_get(d.h, d.id, &e)->head = listed;
  std::tie(listed->next, orphan->next) = std::tuple(orphan, kept);
  moxdb_database_toc_insert(d.h, d.id, kept, 0, &e);
  moxgc_validate_table_delete(d.h, d.id, listed, &e);
  EXPECT_TRUE(listed->flags & MOX_TABLE_FLAG_ON_GC_LIST);
  moxgc_database_gc_list_remove(d.h, d.id, kept, &e);
  EXPECT_EQ(e, 2u) << "not on the list";
  e = 0;
  freed.clear();
  mox_handle_set_collector(d.h, 1);
  mox_database_collect(d.h, d.id, table_free, &e);
  EXPECT_EQ(std::make_tuple(freed, e), std::make_tuple(std::vector<void *>{listed, orphan}, 0u));
}

TEST(DbLifecycle, CursorsAndLocations) {
  Db d;
  auto *table = d.make<mox_db_table_t>();
  auto *rec = d.make<mox_db_table_record_t>();
  uint32_t &err = d.err;
  db_test::run({
      {"enable without the handle's switch", [&](uint32_t *e) { moxdb_table_enable_cursors(d.h, d.id, table, 1, e); }, 22},
      {"read cursor before enabling", [&](uint32_t *e) { mox_table_read_cursor_open(d.h, d.id, table, e); }, 22},
      {"enable", [&](uint32_t *e) {
         const uint32_t was = moxdb_handle_set_cursor_enabling(d.h, 1);
         moxdb_table_enable_cursors(d.h, d.id, table, 1, e);
         moxdb_handle_set_cursor_enabling(d.h, was);
       }, 0},
      {"enqueue without the write cursor", [&](uint32_t *e) { moxdb_enq_rec_move_write_cursor_internal(d.h, d.id, table, rec, e); }, 22},
      {"write cursor", [&](uint32_t *e) { mox_table_set_implicit_write_cursor(d.h, d.id, table, 1, e); }, 0},
      {"enqueue", [&](uint32_t *e) { moxdb_enq_rec_move_write_cursor_internal(d.h, d.id, table, rec, e); }, 0},
      {"open", [&](uint32_t *e) { mox_table_read_cursor_open(d.h, d.id, table, e); }, 0},
      {"close", [&](uint32_t *e) { mox_table_read_cursor_close(d.h, d.id, table, e); }, 0},
      {"close again", [&](uint32_t *e) { mox_table_read_cursor_close(d.h, d.id, table, e); }, 2},
  });
  EXPECT_TRUE(moxdb_table_are_cursors_enabled(d.h, d.id, table) &&
              moxdb_table_implicit_write_cursor_enabled(d.h, d.id, table) &&
              !moxdb_table_has_read_cursor(d.h, d.id, table, &err));
  void *first = mox_table_write_cursor_next(d.h, d.id, table);
  EXPECT_EQ(std::make_tuple(first, mox_table_write_cursor_next(d.h, d.id, table)),
            std::make_tuple(static_cast<void *>(rec), static_cast<void *>(nullptr)));

  // Locations: two records of location 5 share one entry with two
  // references; a probe of location 5 finds it; another location differs.
  auto *other = d.make<mox_db_table_record_t>();
  mox_handle_set_location(d.h, 5);
  mox_loc_entry_acquire(d.h, d.id, &rec->loc_entry, &err);
  mox_loc_entry_acquire(d.h, d.id, &other->loc_entry, &err);
  uint32_t probe = 0;
  moxdb_loc_set_lookup_record_objinfo(d.h, d.id, &probe, &err);
  EXPECT_TRUE(rec->loc_entry != 0 && rec->loc_entry == other->loc_entry && probe == rec->loc_entry);
  const uint32_t same = moxdb_loc_record_is_same_loc(d.h, d.id, rec->loc_entry);
  mox_handle_set_location(d.h, 3);
  mox_handle_set_loc_filter(d.h, 1);
  EXPECT_EQ(std::make_tuple(same, moxdb_loc_record_is_same_loc(d.h, d.id, rec->loc_entry),
                            moxdb_loc_entry_compare(d.h, d.id, 0, rec->loc_entry),
                            moxdb_loc_entry_compare(d.h, d.id, rec->loc_entry, other->loc_entry),
                            moxdb_loc_filter_enabled(d.h)),
            std::make_tuple(1u, 0u, -1, 0, 1u)) << "no location sorts first";
  const uint32_t entry = rec->loc_entry;
  moxlib_record_dereference_loc(d.h, d.id, &rec->loc_entry, &err);
  moxlib_record_dereference_loc(d.h, d.id, &other->loc_entry, &err);
  EXPECT_EQ(std::make_tuple(rec->loc_entry, err), std::make_tuple(0u, 0u));
  uint32_t stale = entry, e = 0;
  moxlib_record_dereference_loc(d.h, d.id, &stale, &e);
  EXPECT_EQ(e, 2u) << "the entry went with its last reference";
}

// A table's mapping lives in its database: nothing in the table object is
// touched, and another handle finds and releases it.  Reports about objects
// in the database stay there until flushed.
TEST(DbLifecycle, TableMappingsAndReports) {
  ScopedHandle a, b;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(a, "maps", 1 << 16, MOX_DB_SHARED, &err);
  mox_database_attach(b, "maps", &err);
  mox_database_lock(a, db, MOX_DB_LOCK_WRITE, &err);
  auto *table = db_test::make<mox_db_table_t>(a, db);
  const auto object_ref = reinterpret_cast<mox_finish_destroy_fn>(uintptr_t{0x77});
  EXPECT_EQ(mox_oid_mapping_create(a, db, table, 2, 1, object_ref), 1u);
  EXPECT_EQ(table->flags, 0u) << "a table has no header to flag";
  EXPECT_EQ(mox_oid_mapping_create(a, db, table, 2, 1, object_ref), 0u) << "mapped twice";
  EXPECT_EQ(mox_oid_mapping_add_ref(b, table), 2u) << "another handle finds it";
  EXPECT_EQ(mox_request_oid_mapping_destroy(a, db, table, &err), 0u) << "to be retried";
  EXPECT_EQ(mox_oid_mapping_release(b, db, table), 0u) << "the last release removes it";
  EXPECT_EQ(std::make_tuple(mox_oid_mapping_refs(a, table), err), std::make_tuple(0u, 0u));

  int outside = 0;
  moxdb_record_containment(a, db, MOX_CONTAIN_TABLE, table, nullptr, 1);
  moxdb_plat_set_dirty(a, db, table);
  moxdb_plat_set_destroy(a, db, &outside);
  mox_db_report_t r{};
  EXPECT_EQ(mox_database_report_count(b, db), 2u);
  EXPECT_TRUE(mox_database_report_get(b, db, 0, &r));
  EXPECT_EQ(std::make_tuple(r.kind, r.detail, r.item, r.owner),
            std::make_tuple(MOX_EVENT_CONTAINMENT, MOX_CONTAIN_TABLE,
                            static_cast<const void *>(table), static_cast<const void *>(nullptr)));
  EXPECT_EQ(mox_event_count(a), 1u) << "an object outside the database: the handle's log";
  mox_database_reports_flush(a, db);
  EXPECT_EQ(mox_database_report_count(b, db), 0u);
  mox_database_detach(b, db, &err);
  mox_database_destroy(a, db, &err);
  EXPECT_EQ(err, 0u);
}

}  // namespace
