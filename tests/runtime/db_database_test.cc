// Databases: regions and their allocator, attachment and the reader/writer
// lock, readers and a writer on three threads, the table of contents with
// the named objects, and the counts.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/runtime.h"

namespace {

using orva_test::ScopedHandle;

void *alloc(mox_handle_t *h, uint32_t db, uint32_t n) {
  return h->record_alloc(h->record_heap, db, n);
}
void release(mox_handle_t *h, uint32_t db, void *p) { h->record_free(h->record_heap, db, p); }

mox_database_stats_t stats(mox_handle_t *h, uint32_t db) {
  mox_database_stats_t s;
  mox_database_stats(h, db, &s);
  return s;
}

TEST(DbDatabase, RegionAllocationIsExactAndAFullRegionRefusesCleanly) {
  for (const uint32_t flags : {0u, MOX_DB_SHARED}) {
    SCOPED_TRACE(flags);
    ScopedHandle h;
    uint32_t err = 0;
    const uint32_t db = mox_database_create(h, "region", 256 * 1024, flags, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(moxlib_db_is_shared(h, db), flags & MOX_DB_SHARED);
    EXPECT_STREQ(moxdb_database_name(h, db), "region");
    if (flags) mox_database_lock(h, db, MOX_DB_LOCK_WRITE, &err);
    void *outside = alloc(h, MOX_NO_DB, 64);
    int on_stack = 0;
    std::vector<void *> blocks;
    while (void *p = alloc(h, db, 1000)) {
      ASSERT_TRUE(moxlib_database_in_range(h, db, p));
      ASSERT_TRUE(moxlib_database_in_range(h, db, static_cast<char *>(p) + 999));
      blocks.push_back(p);
    }
    const mox_database_stats_t full = stats(h, db);
    EXPECT_GT(blocks.size(), 100u);
    EXPECT_EQ(std::make_tuple(full.record_blocks, full.record_bytes, full.failed),
              std::make_tuple(uint64_t{blocks.size()}, 1000 * uint64_t{blocks.size()}, 1u))
        << "the refused allocation left nothing allocated";
    EXPECT_FALSE(moxlib_database_in_range(h, db, outside));
    EXPECT_FALSE(moxlib_database_in_range(h, db, &on_stack));
    EXPECT_FALSE(moxlib_database_in_range(h, MOX_NO_DB, blocks[0]));
    for (void *p : blocks) release(h, db, p);
    EXPECT_EQ(stats(h, db).record_bytes, 0u);
    EXPECT_NE(alloc(h, db, 1000), nullptr) << "freed blocks are served again";
    release(h, MOX_NO_DB, outside);
    // Destroying the database releases what is still allocated in it; the
    // handle's private accounting never saw the region's blocks.
    mox_database_destroy(h, db, &err);
    EXPECT_EQ(std::make_tuple(err, h.live_bytes(), moxlib_db_is_shared(h, db)),
              std::make_tuple(0u, uint64_t{0}, 0u));
    void *after = alloc(h, db, 8);  // an id that names no database: private memory
    EXPECT_EQ(h.live_bytes(), 8u);
    release(h, db, after);
  }
}

TEST(DbDatabase, AttachmentLockHoldersAndWriterRefusal) {
  ScopedHandle a, b, c;
  uint32_t err = 0;
  const uint32_t priv = mox_database_create(a, "private", 1 << 16, 0, &err);
  const uint32_t shared = mox_database_create(a, "shared", 1 << 16, MOX_DB_SHARED, &err);
  ASSERT_EQ(err, 0u);
  struct Case {
    const char *what;
    std::function<void(uint32_t *)> op;
    uint32_t code;
  } cases[] = {
      {"name taken", [&](uint32_t *e) { mox_database_create(b, "shared", 1 << 16, 0, e); }, 17},
      {"bad flags", [&](uint32_t *e) { mox_database_create(b, "x", 1 << 16, 0x10, e); }, 22},
      {"no such database", [&](uint32_t *e) { mox_database_attach(b, "none", e); }, 2},
      {"private of another handle", [&](uint32_t *e) { mox_database_attach(b, "private", e); },
       16},
      {"lock a private database", [&](uint32_t *e) { mox_database_lock(a, priv, 1, e); }, 22},
      {"lock without attaching", [&](uint32_t *e) { mox_database_lock(b, shared, 1, e); }, 2},
      {"unlock what is not held", [&](uint32_t *e) { mox_database_unlock(a, shared, e); }, 1},
      {"TOC insert without the write lock",
       [&](uint32_t *e) { moxdb_database_toc_insert(a, shared, nullptr, 0, e); }, 13},
  };
  for (const Case &c0 : cases) {
    uint32_t e = 0;
    c0.op(&e);
    EXPECT_EQ(e, c0.code) << c0.what;
  }
  // Without the write lock a writer gets no memory, no tree store and no
  // range; with it, all three.
  EXPECT_EQ(mox_database_attach(b, "shared", &err), shared);
  EXPECT_EQ(alloc(b, shared, 16), nullptr);
  e_avl_node_t *root = nullptr, node{};
  auto less = [](const e_avl_node_t *, const e_avl_node_t *) { return E_AVL_LESS; };
  EXPECT_EQ(e_avl_insert(b, shared, &root, &node, nullptr, less), 0u);
  mox_database_lock(b, shared, MOX_DB_LOCK_READ, &err);
  mox_database_lock(c, shared, MOX_DB_LOCK_READ, &err);
  EXPECT_EQ(err, 2u) << "c is not attached";
  err = 0;
  mox_database_lock(b, shared, MOX_DB_LOCK_WRITE, &err);
  EXPECT_EQ(err, 35u) << "b holds the lock already";
  err = 0;
  EXPECT_EQ(std::make_tuple(moxlib_database_is_write_locked(b, shared),
                            mox_database_lock_mode(b, shared), mox_database_lock_holders(a, shared)),
            std::make_tuple(0u, MOX_DB_LOCK_READ, 1u));
  mox_database_unlock(b, shared, &err);
  mox_database_lock(b, shared, MOX_DB_LOCK_WRITE, &err);
  void *p = alloc(b, shared, 16);
  EXPECT_TRUE(p && moxlib_database_is_write_locked(b, shared) &&
              !moxlib_database_is_write_locked(a, shared));
  EXPECT_EQ(plume_set_range(b->record_heap, p, 16, shared), 1u);
  EXPECT_EQ(plume_set_range(a->record_heap, p, 16, shared), 13u) << "a holds no write lock";
  EXPECT_EQ(plume_set_range(b->record_heap, &err, 4, shared), 14u) << "outside the region";
  release(b, shared, p);
  // Destroy waits for the last attachment; a handle's end detaches it.
  mox_database_destroy(a, shared, &err);
  EXPECT_EQ(err, 16u);
  err = 0;
  mox_database_detach(b, shared, &err);
  EXPECT_EQ(mox_database_lock_holders(a, shared), 0u) << "detaching dropped the lock";
  mox_database_destroy(a, shared, &err);
  mox_database_destroy(a, priv, &err);
  EXPECT_EQ(err, 0u);
}

// Two readers walk a tree under the shared lock while a writer changes it
// under the exclusive one; each thread has its own handle.  The readers
// always see a sorted tree whose size is the kept count.
TEST(DbDatabase, TwoReadersAndAWriterOnThreads) {
  struct Rec {
    uint32_t key;
    e_avl_node_t node;
  };
  struct Tree {
    e_avl_node_t *root;
    int32_t height;
    uint32_t count;
  };
  static auto cmp = [](const e_avl_node_t *a, const e_avl_node_t *b) {
    auto key = [](const e_avl_node_t *n) {
      return reinterpret_cast<const Rec *>(reinterpret_cast<const char *>(n) - offsetof(Rec, node))
          ->key;
    };
    return key(a) < key(b) ? E_AVL_LESS : key(a) == key(b) ? E_AVL_EQUAL : E_AVL_GREATER;
  };
  ScopedHandle w, r1, r2;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(w, "threads", 1 << 20, MOX_DB_SHARED, &err);
  mox_database_lock(w, db, MOX_DB_LOCK_WRITE, &err);
  auto *tree = static_cast<Tree *>(alloc(w, db, sizeof(Tree)));
  *tree = Tree{};
  EXPECT_EQ(w->registry_insert(w->record_heap, db, "tree", tree), 0u);
  mox_database_unlock(w, db, &err);
  for (mox_handle_t *r : {r1.get(), r2.get()}) mox_database_attach(r, "threads", &err);
  ASSERT_EQ(err, 0u);

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
        auto *rec = static_cast<Rec *>(alloc(w, db, sizeof(Rec)));
        *rec = Rec{(i * 7919u) % 1000u, {}};
        if (e_avl_insert(w, db, &tree->root, &rec->node, &tree->height, cmp)) {
          moxlib_record_count_add_internal(w, db, &tree->count, 1, &e);
          live.push_back(rec);
        } else {
          release(w, db, rec);
        }
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
  std::thread tw(writer), t1(reader, r1.get()), t2(reader, r2.get());
  tw.join();
  t1.join();
  t2.join();
  for (mox_handle_t *r : {r1.get(), r2.get()}) mox_database_detach(r, db, &err);
  mox_database_destroy(w, db, &err);
  EXPECT_EQ(err, 0u);
}

// The TOC by name and by id, the gc-deletion mark, and the named objects
// reached through the same registry hooks as the type registry.
TEST(DbDatabase, TableOfContentsAndNamedObjects) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "toc", 1 << 16, 0, &err);
  mox_type_info_t kind{};
  kind.luid[0] = 0xAB;
  auto *by_name = static_cast<mox_db_table_t *>(alloc(h, db, sizeof(mox_db_table_t)));
  auto *by_id = static_cast<mox_db_table_t *>(alloc(h, db, sizeof(mox_db_table_t)));
  *by_name = mox_db_table_t{};
  *by_id = mox_db_table_t{};
  by_name->tinfo = by_id->tinfo = &kind;
  std::strcpy(by_name->name, "clients/ab");
  by_id->open_kind = 1;
  by_id->id = 0x100000002ull;
  auto find = [&](const char *name, uint64_t id, uint32_t by, uint32_t *e) {
    return moxdb_database_toc_get_table_root(h, db, name, name ? std::strlen(name) : 0,
                                             uint32_t(id), uint32_t(id >> 32), kind.luid, 16,
                                             by, e);
  };
  mox_table_list_t *list = moxlib_database_table_toc_get(h, db, &err);
  EXPECT_TRUE(list && list->head == nullptr && list->tail == &list->head);
  auto *root = static_cast<mox_toc_root_t *>(moxdb_database_toc_get(h, db, &err));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(moxdb_database_toc_gc_delete_pending(h, db, root), 0u);
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{root, sizeof *root, "toc root"}}, [&] {
    mox_database_set_toc_gc_delete(h, db, 1, &err);
  }));
  EXPECT_EQ(moxdb_database_toc_gc_delete_pending(h, db, root), 1u);
  struct Step {
    const char *what;
    std::function<void *(uint32_t *)> op;
    uint32_t code;
    void *result;
  } steps[] = {
      {"absent", [&](uint32_t *e) { return find("clients/ab", 0, 1, e); }, 0, nullptr},
      {"insert by name", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_name, 0, e); return nullptr; }, 0, nullptr},
      {"insert by id", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_id, 1, e); return nullptr; }, 0, nullptr},
      {"twice", [&](uint32_t *e) { moxdb_database_toc_insert(h, db, by_id, 1, e); return nullptr; }, 17, nullptr},
      {"outside the region", [&](uint32_t *e) { mox_db_table_t t{}; t.tinfo = &kind; moxdb_database_toc_insert(h, db, &t, 0, e); return nullptr; }, 14, nullptr},
      {"found by name", [&](uint32_t *e) { return find("clients/ab", 0, 1, e); }, 0, by_name},
      {"found by id", [&](uint32_t *e) { return find(nullptr, by_id->id, 0, e); }, 0, by_id},
      {"other id", [&](uint32_t *e) { return find(nullptr, 2, 0, e); }, 0, nullptr},
      {"name too long", [&](uint32_t *e) { return find(std::string(208, 'x').c_str(), 0, 1, e); }, 7, nullptr},
      {"delete", [&](uint32_t *e) { moxdb_database_toc_delete(h, db, by_name, e); return nullptr; }, 0, nullptr},
      {"gone", [&](uint32_t *e) { return find("clients/ab", 0, 1, e); }, 0, nullptr},
      {"delete again", [&](uint32_t *e) { moxdb_database_toc_delete(h, db, by_name, e); return nullptr; }, 2, nullptr},
      {"not attached", [&](uint32_t *e) { return moxdb_database_toc_get(h, db + 1000, e); }, 2, nullptr},
  };
  for (const Step &s : steps) {
    uint32_t e = 0;
    EXPECT_EQ(s.op(&e), s.result) << s.what;
    EXPECT_EQ(e, s.code) << s.what;
  }
  // Named objects: the record heap stands for the database (MOX_NO_DB for
  // the handle's current one), the type registry stays what it was.
  void *tbi = alloc(h, db, 24);
  h->current_db = db;
  EXPECT_EQ(h->registry_insert(h->record_heap, MOX_NO_DB, "__mox_TBI__ab", tbi), 0u);
  EXPECT_EQ(h->registry_insert(h->record_heap, db, "__mox_TBI__ab", tbi), 17u);
  EXPECT_EQ(h->registry_insert(h->record_heap, db, "private", &err), 22u) << "not in the region";
  EXPECT_EQ(h->registry_lookup(h->record_heap, db, "__mox_TBI__ab"), tbi);
  EXPECT_EQ(h->registry_lookup(h->type_registry, MOX_NO_DB, "__mox_TBI__ab"), nullptr);
  EXPECT_EQ(h->registry_insert(h->type_registry, MOX_NO_DB, "type", &kind), 0u);
  EXPECT_EQ(h->registry_lookup(h->record_heap, db, "type"), nullptr);
  EXPECT_EQ(h->registry_lookup(h->type_registry, MOX_NO_DB, "type"), &kind);
  mox_database_destroy(h, db, &err);
  EXPECT_EQ(h->registry_lookup(h->record_heap, db, "__mox_TBI__ab"), nullptr);
}

TEST(DbDatabase, RecordTenantAndPendingDestroyCounts) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "counts", 1 << 16, 0, &err);
  auto *table = static_cast<mox_db_table_t *>(alloc(h, db, sizeof(mox_db_table_t)));
  *table = mox_db_table_t{};
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{table, sizeof *table, "table"}}, [&] {
    moxlib_record_count_add_internal(h, db, &table->record_count, 1, &err);
    moxlib_record_count_add_internal(h, db, &table->record_count, 1, &err);
  }));
  moxlib_record_count_add_internal(h, db, &table->record_count, -1, &err);
  EXPECT_EQ(moxlib_record_count_get_exact(h, db, &table->record_count, &err), 1u);
  // (tenant, source, add) steps, then the counts of tenant 7.
  const std::tuple<uint16_t, uint8_t, uint32_t> updates[] = {
      {7, 1, 1}, {7, 1, 1}, {7, 255, 1}, {7, 2, 1}, {7, 2, 0}, {8, 1, 1}};
  for (auto [tenant, source, add] : updates)
    moxdb_update_tenant_counter(h, db, table, add, tenant, source, &err);
  ASSERT_EQ(err, 0u);
  for (auto [source, expect] : {std::pair{1, 2u}, {2, 0u}, {255, 1u}, {0, 3u}}) {
    uint32_t n = 99;
    moxdb_get_tenant_counter(h, db, table, &n, 7, uint8_t(source), &err);
    EXPECT_EQ(n, expect) << "source " << source;
  }
  moxdb_database_pending_destroy_add(h, db, 1, &err);
  moxdb_database_pending_destroy_add(h, db, 1, &err);
  moxdb_database_pending_destroy_add(h, db, -1, &err);
  EXPECT_EQ(mox_database_pending_destroy(h, db), 1u);
  struct Refusal {
    const char *what;
    std::function<void(uint32_t *)> op;
  } refused[] = {
      {"count below zero",
       [&](uint32_t *e) {
         uint32_t zero = 0;
         moxlib_record_count_add_internal(h, db, &zero, -1, e);
       }},
      {"delta of two", [&](uint32_t *e) { moxlib_record_count_add_internal(h, db, &table->record_count, 2, e); }},
      {"tenant never counted", [&](uint32_t *e) { moxdb_update_tenant_counter(h, db, table, 0, 9, 1, e); }},
      {"pending below zero", [&](uint32_t *e) { moxdb_database_pending_destroy_add(h, db, -2, e); }},
  };
  for (const Refusal &r : refused) {
    uint32_t e = 0;
    r.op(&e);
    EXPECT_EQ(e, 22u) << r.what;
  }
  mox_database_destroy(h, db, &err);
}

}  // namespace
