// Databases: regions and their allocator, attachment and the reader/writer
// lock, readers and a writer on three threads, the table of contents with
// the named objects, the counts; destroy requests and the collector, the GC
// list, cursors, locations, table mappings and reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <tuple>

#include "db_test_util.h"
#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using db_test::alloc;
using db_test::make;
using db_test::release;
using db_test::run;
using orva_test::ScopedHandle;

TEST(DbDatabase, RegionAllocationIsExactAndAFullRegionRefusesCleanly) {
  for (const uint32_t flags : {0u, MOX_DB_SHARED}) {
    SCOPED_TRACE(flags);
    ScopedHandle h;
    uint32_t err = 0;
    const uint32_t db = mox_database_create(h, "region", 256 * 1024, flags, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(std::make_tuple(moxlib_db_is_shared(h, db), std::string(moxdb_database_name(h, db))),
              std::make_tuple(flags & MOX_DB_SHARED, std::string("region")));
    if (flags) mox_database_lock(h, db, MOX_DB_LOCK_WRITE, &err);
    void *outside = alloc(h, MOX_NO_DB, 64);
    int on_stack = 0;
    std::vector<void *> blocks;
    while (void *p = alloc(h, db, 1000)) {
      ASSERT_TRUE(moxlib_database_in_range(h, db, p) && moxlib_database_in_range(h, db, static_cast<char *>(p) + 999));
      blocks.push_back(p);
    }
    mox_database_stats_t st;
    mox_database_stats(h, db, &st);
    EXPECT_EQ(std::make_tuple(st.record_blocks, st.record_bytes, st.failed, blocks.size() > 100),
              std::make_tuple(uint64_t{blocks.size()}, 1000 * uint64_t{blocks.size()}, 1u, true))
        << "the refused allocation left nothing allocated";
    EXPECT_FALSE(moxlib_database_in_range(h, db, outside) || moxlib_database_in_range(h, db, &on_stack) ||
                 moxlib_database_in_range(h, MOX_NO_DB, blocks[0]));
    for (void *p : blocks) release(h, db, p);
    EXPECT_NE(alloc(h, db, 1000), nullptr) << "freed blocks are served again";
    release(h, MOX_NO_DB, outside);
    // Destroying the database releases what is still allocated in it; the
    // handle's private accounting never saw the region's blocks.
    mox_database_destroy(h, db, &err);
    EXPECT_EQ(std::make_tuple(err, h.live_bytes(), moxlib_db_is_shared(h, db)),
              std::make_tuple(0u, uint64_t{0}, 0u));
    release(h, db, alloc(h, db, 8));  // an id that names no database: private memory
    EXPECT_EQ(h.alloc_stats().allocs, 2u);
  }
}

TEST(DbDatabase, AttachmentLockHoldersAndWriterRefusal) {
  ScopedHandle a, b, c;
  uint32_t err = 0;
  const uint32_t priv = mox_database_create(a, "private", 1 << 16, 0, &err);
  const uint32_t shared = mox_database_create(a, "shared", 1 << 16, MOX_DB_SHARED, &err);
  ASSERT_EQ(err, 0u);
  e_avl_node_t *root = nullptr, node{};
  void *p = nullptr;
  run({
      {"name taken", [&](uint32_t *e) { mox_database_create(b, "shared", 1 << 16, 0, e); }, 17},
      {"bad flags", [&](uint32_t *e) { mox_database_create(b, "x", 1 << 16, 0x10, e); }, 22},
      {"no such database", [&](uint32_t *e) { mox_database_attach(b, "none", e); }, 2},
      {"private of another handle", [&](uint32_t *e) { mox_database_attach(b, "private", e); }, 16},
      {"lock a private database", [&](uint32_t *e) { mox_database_lock(a, priv, 1, e); }, 22},
      {"unlock what is not held", [&](uint32_t *e) { mox_database_unlock(a, shared, e); }, 1},
      {"TOC insert without the write lock", [&](uint32_t *e) { moxdb_database_toc_insert(a, shared, &node, 0, e); }, 13},
      {"attach", [&](uint32_t *e) { EXPECT_EQ(mox_database_attach(b, "shared", e), shared); }, 0},
      {"no memory, no tree store without the write lock", [&](uint32_t *e) {
         EXPECT_EQ(alloc(b, shared, 16), nullptr);
         EXPECT_EQ(e_avl_insert(b, shared, &root, &node, nullptr, db_test::compare), 0u);
       }, 0},
      {"read lock", [&](uint32_t *e) { mox_database_lock(b, shared, MOX_DB_LOCK_READ, e); }, 0},
      {"lock without attaching", [&](uint32_t *e) { mox_database_lock(c, shared, 1, e); }, 2},
      {"lock held already", [&](uint32_t *e) { mox_database_lock(b, shared, MOX_DB_LOCK_WRITE, e); }, 35},
      {"holders", [&](uint32_t *e) {
         EXPECT_EQ(std::make_tuple(moxlib_database_is_write_locked(b, shared), mox_database_lock_mode(b, shared), mox_database_lock_holders(a, shared)),
                   std::make_tuple(0u, MOX_DB_LOCK_READ, 1u));
         mox_database_unlock(b, shared, e);
         mox_database_lock(b, shared, MOX_DB_LOCK_WRITE, e);
         p = alloc(b, shared, 16);
         EXPECT_TRUE(p && moxlib_database_is_write_locked(b, shared) && !moxlib_database_is_write_locked(a, shared));
         EXPECT_EQ(std::make_tuple(plume_set_range(b->record_heap, p, 16, shared), plume_set_range(a->record_heap, p, 16, shared),
                                   plume_set_range(b->record_heap, e, 4, shared)),
                   std::make_tuple(1u, 13u, 14u)) << "writer, no write lock, outside the region";
         release(b, shared, p);
       }, 0},
      {"destroy while b is attached", [&](uint32_t *e) { mox_database_destroy(a, shared, e); }, 16},
      {"detach drops the lock", [&](uint32_t *e) {
         mox_database_detach(b, shared, e);
         EXPECT_EQ(mox_database_lock_holders(a, shared), 0u);
       }, 0},
      {"destroy", [&](uint32_t *e) { mox_database_destroy(a, shared, e); mox_database_destroy(a, priv, e); }, 0},
  });
}

// Two readers walk a tree under the shared lock while a writer changes it
// under the exclusive one; each thread has its own handle.  The readers
// always see a sorted tree whose size is the kept count.
TEST(DbDatabase, TwoReadersAndAWriterOnThreads) {
  using db_test::Rec;
  constexpr auto cmp = db_test::compare;
  struct Tree { e_avl_node_t *root; int32_t height; uint32_t count; };
  ScopedHandle w, r1, r2;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(w, "threads", 1 << 20, MOX_DB_SHARED, &err);
  mox_database_lock(w, db, MOX_DB_LOCK_WRITE, &err);
  auto *tree = make<Tree>(w, db);
  EXPECT_EQ(w->registry_insert(w->record_heap, db, "tree", tree), 0u);
  mox_database_unlock(w, db, &err);
  for (mox_handle_t *r : {r1.get(), r2.get()}) mox_database_attach(r, "threads", &err);

  auto writer = [&] {
    uint32_t e = 0;
    std::vector<Rec *> live;
    for (uint32_t i = 0; i < 400; ++i) {
      mox_database_lock(w, db, MOX_DB_LOCK_WRITE, &e);
      if (i % 3 == 2) {
        Rec *old = live.front();
        live.erase(live.begin());
        e_avl_delete(w, db, &tree->root, &old->node, &tree->height, cmp);
        moxlib_record_count_add_internal(w, db, &tree->count, -1, &e);
        release(w, db, old);
      } else {
        auto *rec = make<Rec>(w, db);
        rec->key = (i * 919u) % 1000u;  // distinct keys
        e += !e_avl_insert(w, db, &tree->root, &rec->node, &tree->height, cmp);
        moxlib_record_count_add_internal(w, db, &tree->count, 1, &e);
        live.push_back(rec);
      }
      mox_database_unlock(w, db, &e);
    }
    EXPECT_EQ(e, 0u);
  };
  auto reader = [&](mox_handle_t *h) {
    uint32_t e = 0, bad = 0;
    for (int i = 0; i < 300; ++i) {
      mox_database_lock(h, db, MOX_DB_LOCK_READ, &e);
      auto *t = static_cast<Tree *>(h->registry_lookup(h->record_heap, db, "tree"));
      uint32_t n = 0;
      const e_avl_node_t *prev = nullptr;
      for (e_avl_node_t *x = e_avl_get_first(h, db, &t->root); x;
           prev = x, x = e_avl_get_next(h, db, &t->root, x, cmp), ++n)
        bad += prev && cmp(prev, x) != E_AVL_LESS;
      bad += n != moxlib_record_count_get_exact(h, db, &t->count, &e);
      mox_database_unlock(h, db, &e);
    }
    EXPECT_EQ(std::make_tuple(bad, e), std::make_tuple(0u, 0u));
  };
  std::thread threads[] = {std::thread(writer), std::thread(reader, r1.get()),
                           std::thread(reader, r2.get())};
  for (std::thread &t : threads) t.join();
  for (mox_handle_t *r : {r1.get(), r2.get()}) mox_database_detach(r, db, &err);
  mox_database_destroy(w, db, &err);
  EXPECT_EQ(err, 0u);
}

// The TOC by name and by id, the gc-deletion mark, the named objects reached
// through the same registry hooks as the type registry, and the counts.
TEST(DbDatabase, TableOfContentsNamedObjectsAndCounts) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "toc", 1 << 16, 0, &err);
  mox_type_info_t kind{};
  kind.luid[0] = 0xAB;
  auto *by_name = make<mox_db_table_t>(h, db), *by_id = make<mox_db_table_t>(h, db);
  by_name->tinfo = by_id->tinfo = &kind;
  std::strcpy(by_name->name, "clients/ab");
  by_id->open_kind = 1;
  by_id->id = 0x100000002ull;
  auto find = [&](const char *name, uint64_t id, uint32_t by) {
    uint32_t e = 0;
    void *t = moxdb_database_toc_get_table_root(h, db, name, name ? std::strlen(name) : 0,
                                                uint32_t(id), uint32_t(id >> 32), kind.luid, 16, by, &e);
    return e ? reinterpret_cast<void *>(uintptr_t{e}) : t;  // an error code in place of the table
  };
  auto *root = static_cast<mox_toc_root_t *>(moxdb_database_toc_get(h, db, &err));
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{root, sizeof *root, "toc root"}}, [&] {
    mox_database_set_toc_gc_delete(h, db, 1, &err);
  }));
  EXPECT_EQ(moxdb_database_toc_gc_delete_pending(h, db, root), 1u);
  mox_db_table_t outside{};
  outside.tinfo = &kind;
  run({
      {"absent", [&](uint32_t *) { EXPECT_EQ(find("clients/ab", 0, 1), nullptr); }, 0},
      {"insert by name", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_name, 0, e); }, 0},
      {"insert by id", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_id, 1, e); }, 0},
      {"twice", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_id, 1, e); }, 17},
      {"outside the region", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, &outside, 0, e); }, 14},
      {"found", [&](uint32_t *) {
         const std::vector<void *> found{find("clients/ab", 0, 1), find(nullptr, by_id->id, 0),
                                         find(nullptr, 2, 0), find(std::string(208, 'x').c_str(), 0, 1)};
         EXPECT_EQ(found, (std::vector<void *>{by_name, by_id, nullptr, reinterpret_cast<void *>(7)}));
       }, 0},
      {"delete", [&](uint32_t *e) { moxdb_database_toc_delete(h, db, by_name, e); }, 0},
      {"gone", [&](uint32_t *) { EXPECT_EQ(find("clients/ab", 0, 1), nullptr); }, 0},
      {"delete again", [&](uint32_t *e) { moxdb_database_toc_delete(h, db, by_name, e); }, 2},
      {"not attached", [&](uint32_t *e) { moxdb_database_toc_get(h, db + 1000, e); }, 2},
  });
  // Named objects: the record heap stands for the database (MOX_NO_DB for
  // the handle's current one), the type registry stays what it was.
  void *tbi = alloc(h, db, 24);
  h->current_db = db;
  // In order (a braced list): the second insert of a name is refused.
  EXPECT_EQ((std::vector<uint32_t>{h->registry_insert(h->record_heap, MOX_NO_DB, "__mox_TBI__ab", tbi),
                                   h->registry_insert(h->record_heap, db, "__mox_TBI__ab", tbi),
                                   h->registry_insert(h->record_heap, db, "private", &err),
                                   h->registry_insert(h->type_registry, MOX_NO_DB, "type", &kind)}),
            (std::vector<uint32_t>{0, 17, 22, 0}));
  EXPECT_EQ(std::make_tuple(h->registry_lookup(h->record_heap, db, "__mox_TBI__ab"),
                            h->registry_lookup(h->type_registry, MOX_NO_DB, "__mox_TBI__ab"),
                            h->registry_lookup(h->record_heap, db, "type"),
                            h->registry_lookup(h->type_registry, MOX_NO_DB, "type")),
            std::make_tuple(tbi, nullptr, nullptr, static_cast<void *>(&kind)));

  // Counts: the record count (announced), tenant counters by source, the
  // database's pending-destroy total, and what each refuses with 22.
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{by_id, sizeof *by_id, "table"}}, [&] {
    for (int32_t d : {1, 1, -1}) moxlib_record_count_add_internal(h, db, &by_id->record_count, d, &err);
  }));
  EXPECT_EQ(moxlib_record_count_get_exact(h, db, &by_id->record_count, &err), 1u);
  const std::tuple<uint16_t, uint8_t, uint32_t> updates[] = {
      {7, 1, 1}, {7, 1, 1}, {7, 255, 1}, {7, 2, 1}, {7, 2, 0}, {8, 1, 1}};
  for (auto [tenant, source, add] : updates) moxdb_update_tenant_counter(h, db, by_id, add, tenant, source, &err);
  for (auto [source, expect] : {std::pair{1, 2u}, {2, 0u}, {255, 1u}, {0, 3u}}) {
    uint32_t n = 99;
    moxdb_get_tenant_counter(h, db, by_id, &n, 7, uint8_t(source), &err);
    EXPECT_EQ(n, expect) << "tenant 7, source " << source;
  }
  for (int32_t d : {1, 1, -1}) moxdb_database_pending_destroy_add(h, db, d, &err);
  EXPECT_EQ(std::make_tuple(mox_database_pending_destroy(h, db), err), std::make_tuple(uint64_t{1}, 0u));
  uint32_t zero = 0;
  run({
      {"count below zero", [&](uint32_t *e) { moxlib_record_count_add_internal(h, db, &zero, -1, e); }, 22},
      {"delta of two", [&](uint32_t *e) { moxlib_record_count_add_internal(h, db, &zero, 2, e); }, 22},
      {"tenant never counted", [&](uint32_t *e) { moxdb_update_tenant_counter(h, db, by_id, 0, 9, 1, e); }, 22},
      {"pending below zero", [&](uint32_t *e) { moxdb_database_pending_destroy_add(h, db, -2, e); }, 22},
  });
  mox_database_destroy(h, db, &err);
  EXPECT_EQ(h->registry_lookup(h->record_heap, db, "__mox_TBI__ab"), nullptr);
}

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

TEST(DbLifecycle, DestroyRequestsTheCollectorCursorsAndLocations) {
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


  // Cursors and locations.
  auto *ctable = d.make<mox_db_table_t>();
  auto *rec = d.make<mox_db_table_record_t>();
  uint32_t &err = d.err;
  run({
      {"enable without the handle's switch", [&](uint32_t *e) { moxdb_table_enable_cursors(d.h, d.id, ctable, 1, e); }, 22},
      {"read cursor before enabling", [&](uint32_t *e) { mox_table_read_cursor_open(d.h, d.id, ctable, e); }, 22},
      {"enable", [&](uint32_t *e) {
         const uint32_t was = moxdb_handle_set_cursor_enabling(d.h, 1);
         moxdb_table_enable_cursors(d.h, d.id, ctable, 1, e);
         moxdb_handle_set_cursor_enabling(d.h, was);
       }, 0},
      {"enqueue without the write cursor", [&](uint32_t *e) { moxdb_enq_rec_move_write_cursor_internal(d.h, d.id, ctable, rec, e); }, 22},
      {"write cursor", [&](uint32_t *e) { mox_table_set_implicit_write_cursor(d.h, d.id, ctable, 1, e); }, 0},
      {"enqueue", [&](uint32_t *e) { moxdb_enq_rec_move_write_cursor_internal(d.h, d.id, ctable, rec, e); }, 0},
      {"open", [&](uint32_t *e) { mox_table_read_cursor_open(d.h, d.id, ctable, e); }, 0},
      {"close", [&](uint32_t *e) { mox_table_read_cursor_close(d.h, d.id, ctable, e); }, 0},
      {"close again", [&](uint32_t *e) { mox_table_read_cursor_close(d.h, d.id, ctable, e); }, 2},
  });
  EXPECT_TRUE(moxdb_table_are_cursors_enabled(d.h, d.id, ctable) &&
              moxdb_table_implicit_write_cursor_enabled(d.h, d.id, ctable) &&
              !moxdb_table_has_read_cursor(d.h, d.id, ctable, &err));
  void *first = mox_table_write_cursor_next(d.h, d.id, ctable);
  EXPECT_EQ(std::make_tuple(first, mox_table_write_cursor_next(d.h, d.id, ctable)),
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
  uint32_t stale = entry;
  e = 0;
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
  auto *table = make<mox_db_table_t>(a, db);
  const auto object_ref = reinterpret_cast<mox_finish_destroy_fn>(uintptr_t{0x77});
  // In order: created once (a table has no header to flag), found by the
  // other handle, a destroy request to be retried, the last release removes it.
  EXPECT_EQ((std::tuple{mox_oid_mapping_create(a, db, table, 2, 1, object_ref), table->flags,
                        mox_oid_mapping_create(a, db, table, 2, 1, object_ref), mox_oid_mapping_add_ref(b, table),
                        mox_request_oid_mapping_destroy(a, db, table, &err), mox_oid_mapping_release(b, db, table),
                        mox_oid_mapping_refs(a, table), err}), (std::tuple{1u, 0u, 0u, 2u, 0u, 0u, 0u, 0u}));

  int outside = 0;
  moxdb_record_containment(a, db, MOX_CONTAIN_TABLE, table, nullptr, 1);
  moxdb_plat_set_dirty(a, db, table);
  moxdb_plat_set_destroy(a, db, &outside);
  mox_db_report_t r{};
  // Reports in the database; an object outside it goes to the handle's log.
  EXPECT_EQ((std::tuple{mox_database_report_count(b, db), mox_database_report_get(b, db, 0, &r), r.kind, r.detail, r.item,
                        r.owner, mox_event_count(a)}),
            (std::tuple{2u, 1, MOX_EVENT_CONTAINMENT, MOX_CONTAIN_TABLE, static_cast<const void *>(table), nullptr, 1u}));
  mox_database_reports_flush(a, db);
  EXPECT_EQ(mox_database_report_count(b, db), 0u);
  mox_database_detach(b, db, &err);
  mox_database_destroy(a, db, &err);
  EXPECT_EQ(err, 0u);
}

}  // namespace
