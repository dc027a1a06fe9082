// The tables against a model: random inserts, deletes, key-mark operations,
// searches and walks over tenants, sources and repeated keys on
// tbl_qos_client_data in a private database, compared with a std::map after
// every step; the journal check over the table and every live record proves
// each store announced; the database holds no bytes at the end.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/db.h"
#include "orva_qos_data/orva_qos_data_decls.h"

namespace {

using orva_test::ScopedHandle;
using Mac = std::array<uint8_t, 6>;
// (tenant, key, source) is the table's order (no locations here).
using Key = std::tuple<uint16_t, Mac, uint8_t>;

struct Model {
  mox_handle_t *h;
  uint32_t db;
  void *table;
  std::map<Key, void *> recs;

  Mac mac_of(void *rec) {
    const auto *d = tbl_qos_client_data_qos_client_data_t_get_field(h, db, rec);
    Mac m;
    std::copy(d->client_mac.octet, d->client_mac.octet + 6, m.begin());
    return m;
  }
  // The records of the caller's tenant in key order passing the filter: by
  // source when by_source (source 0: any but 255), any source otherwise.
  std::vector<void *> expected(uint16_t tenant, uint8_t source, bool by_source) {
    std::vector<void *> out;
    for (const auto &[k, r] : recs)
      if (std::get<0>(k) == tenant &&
          (!by_source ? true : source == 0 ? std::get<2>(k) != 255 : std::get<2>(k) == source))
        out.push_back(r);
    return out;
  }
  // Every walk form from first to last and back, against the model.
  void check_walks(uint16_t tenant) {
    uint32_t err = 0;
    const struct { uint8_t source; bool by_source; } forms[] = {{1, true}, {2, true}, {0, true}, {1, false}};
    for (const auto &f : forms) {
      std::vector<void *> walked;
      void *r = f.by_source ? tbl_qos_client_data_pkey_get_first_by_src(h, db, table, f.source, &err)
                            : tbl_qos_client_data_pkey_get_first_ignore_src(h, db, table, &err);
      for (; r != nullptr;
           r = f.by_source ? tbl_qos_client_data_pkey_get_next_by_src(h, db, table, r, f.source, &err)
                           : tbl_qos_client_data_pkey_get_next_ignore_src(h, db, table, r, &err))
        walked.push_back(r);
      ASSERT_EQ(err, 0u);
      ASSERT_EQ(walked, expected(tenant, f.source, f.by_source)) << int(f.source) << f.by_source;
    }
    std::vector<void *> back;
    for (void *r = tbl_qos_client_data_pkey_get_last(h, db, table, &err); r != nullptr;
         r = tbl_qos_client_data_pkey_get_prev(h, db, table, r, &err))
      back.push_back(r);
    std::vector<void *> fwd = expected(tenant, 1, true);
    ASSERT_EQ(back, std::vector<void *>(fwd.rbegin(), fwd.rend()));
    // The handle-bound get: first of any source, last of source 1, a bad how.
    h->current_db = db;
    std::vector<void *> any = expected(tenant, 1, false);
    ASSERT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_get_cr(h, table, 0, nullptr, 0, 0x1),
              any.empty() ? nullptr : any.front());
    ASSERT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_get_cr(h, table, 1, nullptr, 0, 0),
              fwd.empty() ? nullptr : fwd.back());
    ASSERT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_get_cr(h, table, 4, nullptr, 0, 0), nullptr);
    ASSERT_EQ(h->last_error, 22u);
    mox_clear_last_error(h);
  }
};

TEST(Tables, ClientDataAgainstAMapModel) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "tables_model", 16u << 20, 0, &err);
  ASSERT_EQ(err, 0u);
  void *table = tbl_qos_client_data_table_open(h, db, "clients", 0, &err);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(tbl_qos_client_data_table_open(h, db, "clients", 1, &err), table);  // the same object
  Model m{h, db, table, {}};

  std::mt19937 rng(1234);
  const uint16_t tenants[] = {0, 1, 2};
  const uint8_t sources[] = {1, 2, 255};
  auto pick = [&](auto &arr) { return arr[rng() % std::size(arr)]; };
  auto random_mac = [&] { return Mac{0, 0x1b, 0, 0, uint8_t(rng() % 3), uint8_t(rng() % 8)}; };
  qos_client_data_t probe{};

  for (int step = 0; step < 1500; ++step) {
    const uint16_t tenant = pick(tenants);
    mox_handle_set_tenant(h, tenant);
    const Mac mac = random_mac();
    std::copy(mac.begin(), mac.end(), probe.client_mac.octet);
    const uint32_t op = rng() % 4;
    auto victim = m.recs.empty() ? m.recs.end() : std::next(m.recs.begin(), long(rng() % m.recs.size()));
    const uint8_t source = pick(sources);
    void *rec = nullptr;
    if (op == 0) {  // a new record with its data, to insert
      rec = tbl_qos_client_data_create_record(h, db, &err);
      ASSERT_NE(rec, nullptr);
      reinterpret_cast<mox_db_table_record_t *>(rec)->source = source;
      qos_client_data_t *data = qos_client_data_t_create(h, db);
      std::copy(mac.begin(), mac.end(), data->client_mac.octet);
      tbl_qos_client_data_qos_client_data_t_set_field(h, db, rec, data);
    }
    // The new record and every live record but the one this step may free.
    std::vector<orva_test::Region> regions{{table, sizeof(mox_db_table_t), "table"}};
    if (rec != nullptr) regions.push_back({rec, sizeof(void *) == 4 ? 72u : 104u, "new record"});
    for (auto it = m.recs.begin(); it != m.recs.end(); ++it)
      if (op != 1 || it != victim) regions.push_back({it->second, sizeof(void *) == 4 ? 72u : 104u, "record"});
    orva_test::JournalCheck journal(h, regions);
    err = 0;
    switch (op) {
      case 0: {  // insert (sometimes with the key mark): refused exactly on an equal record
        if (rng() % 2)
          tbl_qos_client_data_insert(h, db, table, rec, &err);
        else
          tbl_qos_client_data_pkey_insert(h, db, table, rec, &err);
        const bool fresh = m.recs.emplace(Key{tenant, mac, source}, rec).second;
        ASSERT_EQ(err, fresh ? 0u : 17u) << step;
        ASSERT_TRUE(journal.Verify()) << step;
        if (!fresh) {
          err = 0;
          tbl_qos_client_data_destroy_record(h, db, rec, &err);
          journal.Rebase();
        }
        break;
      }
      case 1: {  // key-mark delete leaves it in; destroy deletes and frees
        if (victim == m.recs.end()) break;
        auto it = victim;
        mox_handle_set_tenant(h, std::get<0>(it->first));  // the owner's tenant counts it out
        tbl_qos_client_data_pkey_delete(h, db, table, it->second, &err);
        ASSERT_EQ(err, 0u);
        if (rng() % 2) {
          tbl_qos_client_data_delete(h, db, table, it->second, &err);
          ASSERT_EQ(err, 0u);
          tbl_qos_client_data_delete(h, db, table, it->second, &err);
          ASSERT_EQ(err, 2u);  // no longer in the table
          err = 0;
        }
        if (rng() % 2 && it->second != nullptr && reinterpret_cast<mox_db_table_record_t *>(it->second)->table) {
          // A destroy request: still found, but not by the not-pending search;
          // the collector's destroy deletes and frees it.
          const Mac key = std::get<1>(it->first);
          mox_mac_addr_t value;
          std::copy(key.begin(), key.end(), value.octet);
          ASSERT_EQ(tbl_qos_client_data_request_record_destroy(h, db, table, it->second, &err), nullptr);
          if (std::get<2>(it->first) == 1) {
            ASSERT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_search(h, db, table, &value, &err), it->second);
            ASSERT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_search_not_pending_destroy(
                          h, db, table, &value, 1, 0, &err), nullptr);
          }
          mox_handle_set_collector(h, 1);
          ASSERT_EQ(mox_database_collect(h, db, tbl_qos_client_data_table_free, &err), 1u);
          mox_handle_set_collector(h, 0);
        } else {
          ASSERT_EQ(tbl_qos_client_data_record_add_ref(h, db, it->second, &err), 1u);
          tbl_qos_client_data_destroy_record(h, db, it->second, &err);
          tbl_qos_client_data_destroy_record(h, db, it->second, &err);
        }
        ASSERT_EQ(err, 0u);
        m.recs.erase(it);
        mox_handle_set_tenant(h, tenant);
        break;
      }
      default: {  // exact, near and by-key searches
        auto exact = m.recs.find(Key{tenant, mac, 1});
        EXPECT_EQ(tbl_qos_client_data_search(h, db, table, &probe, 0, &err),
                  exact == m.recs.end() ? nullptr : exact->second);
        // The key index takes the key value itself.
        EXPECT_EQ(tbl_qos_client_data_qos_client_data_t_client_mac_search(h, db, table, &probe.client_mac, &err),
                  exact == m.recs.end() ? nullptr : exact->second);
        auto src = m.recs.find(Key{tenant, mac, source});
        EXPECT_EQ(tbl_qos_client_data_search_w_src(h, db, table, &probe, 0, source, &err),
                  src == m.recs.end() ? nullptr : src->second);
        // near: the first source-1 record at or after the key in the tenant
        void *near = nullptr, *after = nullptr, *before = nullptr;
        for (const auto &[k, r] : m.recs) {
          if (std::get<0>(k) != tenant || std::get<2>(k) != 1) continue;
          if (near == nullptr && std::get<1>(k) >= mac) near = r;
          if (after == nullptr && std::get<1>(k) > mac) after = r;
          if (std::get<1>(k) < mac) before = r;
        }
        EXPECT_EQ(tbl_qos_client_data_search(h, db, table, &probe, 1, &err), near) << step;
        EXPECT_EQ(tbl_qos_client_data_get_next_by_key(h, db, table, &probe, &err), after) << step;
        EXPECT_EQ(tbl_qos_client_data_get_prev_by_key(h, db, table, &probe, &err), before) << step;
        ASSERT_EQ(err, 0u);
      }
    }
    ASSERT_TRUE(journal.Verify()) << step;
    m.check_walks(tenant);
    // Counts: a tenant's (over all sources, or of one), else the table's.
    uint32_t count = 0, unsourced = 0, of_source_1 = 0;
    for (const auto &[k, r] : m.recs) {
      const bool mine = tenant == 0 || std::get<0>(k) == tenant;
      count += mine;
      unsourced += mine && std::get<2>(k) == 255;
      of_source_1 += mine && tenant != 0 && std::get<2>(k) == 1;
    }
    ASSERT_EQ(tbl_qos_client_data_table_get_count(h, db, table), count) << step;
    ASSERT_EQ(tbl_qos_client_data_table_get_count_by_src(h, db, table, 255), unsourced) << step;
    ASSERT_EQ(tbl_qos_client_data_table_get_count_by_src(h, db, table, 1), of_source_1) << step;
  }
  for (const auto &[k, r] : m.recs) {
    mox_handle_set_tenant(h, std::get<0>(k));
    ASSERT_EQ(m.mac_of(r), std::get<1>(k));
    tbl_qos_client_data_destroy_record(h, db, r, &err);
  }
  ASSERT_EQ(err, 0u);
  mox_handle_set_tenant(h, 0);
  EXPECT_EQ(tbl_qos_client_data_table_get_count(h, db, table), 0u);
  tbl_qos_client_data_table_free(h, db, table, &err);
  ASSERT_EQ(err, 0u);
  mox_database_stats_t stats{};
  mox_database_stats(h, db, &stats);
  EXPECT_EQ(stats.record_bytes, 0u);
  mox_database_destroy(h, db, &err);
  EXPECT_EQ(h.live_bytes(), 0u);
}

}  // namespace

namespace {

// The exported operations of one table that the key-order test uses.
template <class Data>
struct Ops {
  void *(*open)(mox_handle_t *, uint32_t, const char *, uint32_t, uint32_t *);
  void (*free)(mox_handle_t *, uint32_t, void *, uint32_t *);
  void *(*create)(mox_handle_t *, uint32_t, uint32_t *);
  void (*set)(mox_handle_t *, uint32_t, void *, Data *);
  Data *(*get)(mox_handle_t *, uint32_t, void *);
  void (*insert)(mox_handle_t *, uint32_t, void *, void *, uint32_t *);
  void *(*first)(mox_handle_t *, uint32_t, void *, uint32_t *);
  void *(*next)(mox_handle_t *, uint32_t, void *, void *, uint32_t *);
  void (*destroy)(mox_handle_t *, uint32_t, void *, uint32_t *);
};
#define ORVA_TABLE_OPS(T, D, K)                                                                 \
  Ops<D>{T##_table_open, T##_table_free, T##_create_record, T##_##K##_set_field,               \
         T##_##K##_get_field, T##_insert, T##_pkey_get_first, T##_pkey_get_next, T##_destroy_record}

// Inserts records with the given keys in the given order (make sets the key
// of a new record) and returns the keys as the walk meets them (read).
template <class Data, class Make, class Read>
std::vector<int> walk_order(mox_handle_t *h, uint32_t db, const Ops<Data> &ops, std::vector<int> keys,
                            Make make, Read read) {
  uint32_t err = 0;
  void *table = ops.open(h, db, "order", 0, &err);
  EXPECT_NE(table, nullptr);
  for (int k : keys) {
    void *rec = ops.create(h, db, &err);
    Data *d = make(k);
    ops.set(h, db, rec, d);
    ops.insert(h, db, table, rec, &err);
  }
  std::vector<int> out;
  std::vector<void *> recs;
  for (void *r = ops.first(h, db, table, &err); r != nullptr; r = ops.next(h, db, table, r, &err)) {
    out.push_back(read(ops.get(h, db, r)));
    recs.push_back(r);
  }
  for (void *r : recs) ops.destroy(h, db, r, &err);
  ops.free(h, db, table, &err);
  EXPECT_EQ(err, 0u);
  return out;
}

TEST(Tables, KeyOrderOfEveryKeyKindAndTheOpenForms) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "tables_kinds", 4u << 20, 0, &err);
  const std::vector<int> scrambled{5, 1, 9, 3, 7}, sorted{1, 3, 5, 7, 9};
  // u_int32 field, mox_vstring field (text order: "k1" < "k3" < ...), key record.
  EXPECT_EQ(walk_order(h, db, ORVA_TABLE_OPS(tbl_qos_wlan_data, qos_wlan_data_t, qos_wlan_data_t), scrambled,
                       [&](int k) { auto *d = qos_wlan_data_t_create(h, db); d->wlan_id = uint32_t(k); return d; },
                       [](qos_wlan_data_t *d) { return int(d->wlan_id); }),
            sorted);
  EXPECT_EQ(walk_order(h, db, ORVA_TABLE_OPS(tbl_qos_pm_refcount_data, qos_pm_refcount_data_t,
                                             qos_pm_refcount_data_t), scrambled,
                       [&](int k) {
                         auto *d = qos_pm_refcount_data_t_create(h, db);
                         uint32_t e = 0;
                         mox_vstring_set_value(h, db, &d->pm_name, ("k" + std::to_string(k)).c_str(), &e);
                         return d;
                       },
                       [](qos_pm_refcount_data_t *d) { return d->pm_name.str[1] - '0'; }),
            sorted);
  EXPECT_EQ(walk_order(h, db, ORVA_TABLE_OPS(tbl_qos_bssid_data, qos_bssid_key_t, qos_bssid_key_t), scrambled,
                       [&](int k) { auto *d = qos_bssid_key_t_create(h, db); d->radio_slot_id = uint8_t(k); return d; },
                       [](qos_bssid_key_t *d) { return int(d->radio_slot_id); }),
            sorted);

  // Open forms: a name with "/" is the lookup name; others get "/" and the
  // LUID; an absent table opened to read is null without an error.
  EXPECT_EQ(tbl_qos_client_data_table_open(h, db, "absent", 1, &err), nullptr);
  EXPECT_EQ(err, 0u);
  void *a = tbl_qos_client_data_table_open(h, db, "a/b", 0, &err);
  EXPECT_STREQ(static_cast<mox_db_table_t *>(a)->name, "a/b");
  void *c = tbl_qos_client_data_table_open(h, db, "c", 0, &err);
  EXPECT_STREQ(static_cast<mox_db_table_t *>(c)->name, "c/538b2a21193f80937633c22c5f108103");
  EXPECT_EQ(tbl_qos_client_data_table_open(h, db, std::string(175, 'x').c_str(), 0, &err), nullptr);
  EXPECT_EQ(err, 7u);
  err = 0;
  // By id and under the next free id: ids only grow, the id root counts them.
  void *by_id = tbl_qos_client_data_table_open_by_id(h, db, 40, 0, 0, &err);
  EXPECT_EQ(tbl_qos_client_data_table_open_by_id(h, db, 40, 0, 1, &err), by_id);
  h->current_db = db;
  void *d1 = tbl_qos_client_data_table_open_cr(h, 0, 2, nullptr, 0, 0);
  void *d2 = tbl_qos_client_data_table_open_cr(h, 0, 2, nullptr, 0, 0);
  ASSERT_NE(d2, nullptr);
  EXPECT_EQ((std::tuple{static_cast<mox_db_table_t *>(d1)->id, static_cast<mox_db_table_t *>(d2)->id,
                        static_cast<mox_db_table_t *>(d2)->flags & MOX_TABLE_FLAG_DYNAMIC}),
            (std::tuple{41u, 42u, MOX_TABLE_FLAG_DYNAMIC}));
  const auto *root = static_cast<const uint32_t *>(
      h->registry_lookup(h->record_heap, db, "__mox_TBI__538b2a21193f80937633c22c5f108103"));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root[0], 3u);
  for (void *t : {a, c, by_id, d1, d2}) tbl_qos_client_data_table_free(h, db, t, &err);
  EXPECT_EQ((std::tuple{err, root[0]}), (std::tuple{0u, 0u}));
  mox_database_destroy(h, db, &err);
  EXPECT_EQ(h.live_bytes(), 0u);
}

}  // namespace

namespace {

// A shared database: a reader opens an existing table without the write lock,
// a create-mode open without it stops the process, and a delete is refused
// while a read cursor is open, except for the collector.
TEST(Tables, SharedDatabaseLocksAndReaders) {
  ScopedHandle w, r;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(w, "tables_shared", 4u << 20, MOX_DB_SHARED, &err);
  mox_database_attach(r, "tables_shared", &err);
  mox_database_lock(w, db, MOX_DB_LOCK_WRITE, &err);
  void *table = tbl_qos_wlan_data_table_open(w, db, "wlans", 0, &err);
  void *rec = tbl_qos_wlan_data_create_record(w, db, &err);
  tbl_qos_wlan_data_qos_wlan_data_t_set_field(w, db, rec, qos_wlan_data_t_create(w, db));
  tbl_qos_wlan_data_insert(w, db, table, rec, &err);
  ASSERT_EQ(err, 0u);
  mox_database_unlock(w, db, &err);

  mox_database_lock(r, db, MOX_DB_LOCK_READ, &err);
  EXPECT_EQ(tbl_qos_wlan_data_table_open(r, db, "wlans", 1, &err), table);
  EXPECT_DEATH(tbl_qos_wlan_data_table_open(r, db, "other", 0, &err), "");
  mox_table_read_cursor_open(r, db, table, &err);
  mox_database_unlock(r, db, &err);
  ASSERT_EQ(err, 0u);

  mox_database_lock(w, db, MOX_DB_LOCK_WRITE, &err);
  tbl_qos_wlan_data_delete(w, db, table, rec, &err);
  EXPECT_EQ(err, 22u);
  err = 0;
  mox_handle_set_collector(w, 1);
  tbl_qos_wlan_data_delete(w, db, table, rec, &err);
  mox_handle_set_collector(w, 0);
  EXPECT_EQ((std::tuple{err, tbl_qos_wlan_data_table_get_count(w, db, table)}), (std::tuple{0u, 0u}));
  tbl_qos_wlan_data_destroy_record(w, db, rec, &err);
  mox_database_unlock(w, db, &err);
  mox_database_detach(r, db, &err);
  mox_database_destroy(w, db, &err);
  EXPECT_EQ(err, 0u);
}

}  // namespace
