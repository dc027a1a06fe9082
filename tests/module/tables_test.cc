// The tables against a model: random inserts (three forms), key-mark and plain
// deletes, add_ref, destroy, destroy requests (both forms) and their collection
// over three tenants, two locations (the handle's switched at random, its
// filter sometimes on), sources 1, 2 and 255 and repeated keys, on a MAC-keyed,
// a u_int32-keyed, a string-keyed and a composite (key-record) table, the last
// in a shared database, compared with a std::map after every step: every walk
// form, every search form of the table and of its key index (with the _cr
// flags), the key index's compare and both counts.  The journal check over the
// table and every live record proves each store announced; the database holds
// no bytes at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/db.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "tables/descriptor.h"

namespace {

using orva_test::ScopedHandle;

// One table's exported operations by name: T the table, D its data type, IX
// and CR the prefixes of its key index's members and handle-bound members;
// GET_CR, NEXT_IGNORE and REQUEST_FREE are names, or nullptr where the table
// has no such member.
#define ORVA_OP(name, fn) static constexpr auto name = fn;
#define ORVA_TABLE_API(T, D, IX, CR, GET_CR, NEXT_IGNORE, REQUEST_FREE)                            \
  using Data = D;                                                                                  \
  ORVA_OP(open, T##_table_open) ORVA_OP(free, T##_table_free) ORVA_OP(request_free, REQUEST_FREE)  \
  ORVA_OP(create, T##_create_record) ORVA_OP(create_cr, T##_record_create_cr)                     \
  ORVA_OP(make, D##_create) ORVA_OP(get, T##_##D##_get_field) ORVA_OP(set, T##_##D##_set_field)   \
  ORVA_OP(insert, T##_insert) ORVA_OP(pkey_insert, T##_pkey_insert) ORVA_OP(insert_cr, T##_insert_cr) \
  ORVA_OP(del, T##_delete) ORVA_OP(pkey_del, T##_pkey_delete) ORVA_OP(add_ref, T##_record_add_ref) \
  ORVA_OP(destroy, T##_destroy_record) ORVA_OP(request_destroy, T##_request_record_destroy)       \
  ORVA_OP(request_destroy_cr, T##_request_record_destroy_cr) ORVA_OP(search, T##_search)          \
  ORVA_OP(search_w_src, T##_search_w_src) ORVA_OP(next_by_key, T##_get_next_by_key)               \
  ORVA_OP(prev_by_key, T##_get_prev_by_key) ORVA_OP(first, T##_pkey_get_first)                    \
  ORVA_OP(first_by_src, T##_pkey_get_first_by_src) ORVA_OP(first_ignore, T##_pkey_get_first_ignore_src) \
  ORVA_OP(last, T##_pkey_get_last) ORVA_OP(next, T##_pkey_get_next) ORVA_OP(prev, T##_pkey_get_prev) \
  ORVA_OP(next_by_src, T##_pkey_get_next_by_src) ORVA_OP(next_ignore, T##_pkey_get_next_ignore_src) \
  ORVA_OP(count, T##_table_get_count) ORVA_OP(count_by_src, T##_table_get_count_by_src)          \
  ORVA_OP(ix_compare, T##_##IX##avl_compare) ORVA_OP(ix_search, T##_##IX##search)                 \
  ORVA_OP(ix_search_internal, T##_##IX##search_internal)                                          \
  ORVA_OP(ix_next_internal, T##_##IX##get_next_internal)                                          \
  ORVA_OP(ix_prev_internal, T##_##IX##get_prev_internal)                                          \
  ORVA_OP(ix_search_np, T##_##IX##search_not_pending_destroy)                                     \
  ORVA_OP(ix_first_np, T##_##IX##get_first_not_pending_destroy)                                   \
  ORVA_OP(ix_next_by_key_np, T##_##IX##get_next_by_key_not_pending_destroy)                       \
  ORVA_OP(ix_prev_by_key_np, T##_##IX##get_prev_by_key_not_pending_destroy)                       \
  ORVA_OP(search_cr, T##_##CR##search_cr) ORVA_OP(get_cr, GET_CR) ORVA_OP(ix_next_ignore, NEXT_IGNORE)

template <auto F>
constexpr bool kHas = !std::is_null_pointer_v<decltype(F)>;

// Per table: its operations, the probe (the key object of a search) and the
// key value of key number k (0..23), strictly increasing in k.
template <class A>
typename A::Data *data_of(mox_handle_t *h, uint32_t db, void *rec) {
  typename A::Data *d = A::get(h, db, rec);
  if (d == nullptr) A::set(h, db, rec, d = A::make(h, db));
  return d;
}
mox_mac_addr_t mac(int k) { return {{0, 0x1b, 0, 0, uint8_t(k / 8), uint8_t(k % 8)}}; }
struct Clients {
  ORVA_TABLE_API(tbl_qos_client_data, qos_client_data_t, qos_client_data_t_client_mac_,
                 qos_client_data_t_client_mac_, tbl_qos_client_data_qos_client_data_t_client_mac_get_cr,
                 nullptr, nullptr)
  using Probe = qos_client_data_t;
  static void probe(Probe &p, int k) { p.client_mac = mac(k); }
  static void set_key(mox_handle_t *h, uint32_t db, void *rec, int k) { probe(*data_of<Clients>(h, db, rec), k); }
  static const auto *value(const Probe &p) { return &p.client_mac; }
};
struct Wlans {  // a byte-wise compare of the little-endian value would misorder these
  ORVA_TABLE_API(tbl_qos_wlan_data, qos_wlan_data_t, qos_wlan_data_t_wlan_id_, qos_wlan_data_t_wlan_id_,
                 nullptr, nullptr, nullptr)
  using Probe = qos_wlan_data_t;
  static void probe(Probe &p, int k) { p.wlan_id = uint32_t(k) * 0x00f0f0f1u; }
  static void set_key(mox_handle_t *h, uint32_t db, void *rec, int k) { probe(*data_of<Wlans>(h, db, rec), k); }
  static const auto *value(const Probe &p) { return &p.wlan_id; }
};
struct PolicyNames {  // "" < "aaaaaa" < "aaaaaaaa" < "b" ...: prefixes, lengths, equal first six octets, ""
  ORVA_TABLE_API(tbl_qos_pm_refcount_data, qos_pm_refcount_data_t, qos_pm_refcount_data_t_pm_name_,
                 qos_pm_refcount_data_t_pm_name_, nullptr, nullptr, nullptr)
  struct Probe : qos_pm_refcount_data_t {
    std::string text;
  };
  static std::string name(int k) { return k == 0 ? "" : std::string(k % 3 == 0 ? 1 : 4 + 2 * (k % 3), char('a' + k / 3)); }
  static void probe(Probe &p, int k) { p.pm_name = {(p.text = name(k)).data(), uint32_t(p.text.size())}; }
  static void set_key(mox_handle_t *h, uint32_t db, void *rec, int k) {
    uint32_t err = 0;
    mox_vstring_set_value(h, db, &data_of<PolicyNames>(h, db, rec)->pm_name, name(k).c_str(), &err);
  }
  static const auto *value(const Probe &p) { return &p.pm_name; }
};
struct Radios {  // the key record orders by slot, then by MAC
  ORVA_TABLE_API(tbl_qos_ap_radio_data, qos_ap_radio_data_t, qos_ap_radio_key_t__, qos_ap_radio_key_t_,
                 tbl_qos_ap_radio_data_qos_ap_radio_key_t_get_cr,
                 tbl_qos_ap_radio_data_qos_ap_radio_key_t__get_next_ignore_src,
                 tbl_qos_ap_radio_data_request_table_free)
  using Probe = qos_ap_radio_key_t;
  static void probe(Probe &p, int k) {
    p.radio_slot_id = uint8_t(k / 6), p.ap_mac = {{uint8_t(k % 6 * 0x30), 0, 0, 0, 0, 1}};
  }
  static void set_key(mox_handle_t *h, uint32_t db, void *rec, int k) {
    data_of<Radios>(h, db, rec);
    qos_ap_radio_key_t *key = tbl_qos_ap_radio_data_qos_ap_radio_key_t_get_field(h, db, rec);
    if (key == nullptr)
      tbl_qos_ap_radio_data_qos_ap_radio_key_t_set_field(h, db, rec, key = qos_ap_radio_key_t_create(h, db));
    probe(*key, k);
  }
  static const auto *value(const Probe &p) { return &p; }
};

constexpr int kKeys = 24;
constexpr uint32_t kSources[] = {0, 1, 2, 255};  // 0: any source but 255 where a filter takes it
// (tenant, key number, location, source) is the table's order; locations 7
// and 3 get entries in the order of first use, so entry numbers need not
// follow the locations' order.
using Key = std::tuple<uint16_t, int, uint32_t, uint8_t>;
constexpr uint32_t kLocations[] = {7, 3};
struct Entry { void *rec; bool pending; };  // pending: a destroy request awaits the collector

template <class A>
struct Model {
  mox_handle_t *h; uint32_t db; void *t;
  std::map<Key, Entry> recs;
  uint32_t err = 0, loc = 0;  // the handle's location and location filter
  bool filter = false;

  bool passes(const Key &k, const Entry &e, uint32_t source, bool by_source, bool np) const {
    const uint8_t s = std::get<3>(k);
    return !(by_source && source != 0 && s != source) && !(source == 0 && s == 255) && !(np && e.pending) &&
           !(filter && std::get<2>(k) != loc);
  }
  // A search's probe: its location is 0 while no record holds the handle's.
  Key probe(uint16_t tenant, int k, uint32_t ps) const {
    const bool held =
        std::any_of(recs.begin(), recs.end(), [&](const auto &kv) { return std::get<2>(kv.first) == loc; });
    return Key{tenant, k, held ? loc : 0, uint8_t(ps != 0 ? ps : 1)};
  }
  // The first record strictly after (before) pos in its tenant passing the
  // filter (with same_key: of pos's key): a walk step from pos.
  void *after(const Key &pos, bool fwd, uint32_t source, bool by_source, bool np, bool same_key) const {
    auto scan = [&](auto it, auto end) -> void * {
      for (; it != end; ++it) {
        const auto &[k, e] = *it;
        if (std::get<0>(k) != std::get<0>(pos) || (same_key && std::get<1>(k) != std::get<1>(pos))) break;
        if (passes(k, e, source, by_source, np)) return e.rec;
      }
      return nullptr;
    };
    return fwd ? scan(recs.upper_bound(pos), recs.end())
               : scan(std::make_reverse_iterator(recs.lower_bound(pos)), recs.rend());
  }
  // The one search: the record of (tenant, k, probe source) unless pending
  // and excluded, else with near (or same_key) a step from that position.
  void *search(uint16_t tenant, int k, bool near, bool fwd, uint32_t ps, uint32_t fs, bool np, bool same_key) const {
    const Key pos = probe(tenant, k, ps);
    auto it = recs.find(pos);
    if (it != recs.end() && !(np && it->second.pending)) return it->second.rec;
    return near || same_key ? after(pos, fwd, fs, fs != 0, np, same_key && !near) : nullptr;
  }
  std::vector<void *> walk(uint16_t tenant, bool fwd, uint32_t source, bool by_source, bool np) const {
    std::vector<void *> out;
    for (const auto &[k, e] : recs)
      if (std::get<0>(k) == tenant && passes(k, e, source, by_source, np)) out.push_back(e.rec);
    if (!fwd) std::reverse(out.begin(), out.end());
    return out;
  }

  // Every walk form, every search form at key k, both counts.
  void check(uint16_t tenant, std::mt19937 &rng) {
    struct Walk {  // step(null): the first record
      const char *name; bool fwd; uint32_t source; bool by_source, np; std::function<void *(void *)> step; };
    std::vector<Walk> walks{
        {"pkey_get_first/next", true, 1, true, false,
         [&](void *r) { return r ? A::next(h, db, t, r, &err) : A::first(h, db, t, &err); }},
        {"pkey_get_last/prev", false, 1, true, false,
         [&](void *r) { return r ? A::prev(h, db, t, r, &err) : A::last(h, db, t, &err); }},
        {"ignore_src", true, 1, false, false,
         [&](void *r) { return r ? A::next_ignore(h, db, t, r, &err) : A::first_ignore(h, db, t, &err); }}};
    for (uint32_t s : kSources) {
      walks.push_back({"by_src", true, s, true, false, [&, s](void *r) {
                         return r ? A::next_by_src(h, db, t, r, s, &err) : A::first_by_src(h, db, t, s, &err);
                       }});
      walks.push_back({"not_pending", true, s, s != 0, true, [&, s](void *r) {
                         return r ? A::ix_next_internal(h, db, t, r, s, s != 0, 1, 0, &err)
                                  : A::ix_first_np(h, db, t, s, &err);
                       }});
    }
    if constexpr (kHas<A::ix_next_ignore>)
      walks.push_back({"_get_next_ignore_src", true, 1, false, false, [&](void *r) {
                         return r ? A::ix_next_ignore(h, db, t, r, &err) : A::first_ignore(h, db, t, &err);
                       }});
    if constexpr (kHas<A::get_cr>)  // how 0 first, 1 last, 2 prev, 3 next; flags 1 any source, 2 pending too
      for (uint32_t flags = 0; flags < 4; ++flags)
        for (uint32_t s : {0u, 2u})
          for (bool fwd : {true, false})
            walks.push_back({"_get_cr", fwd, s != 0 ? s : 1, !(flags & 1), !(flags & 2),
                             [&, s, flags, fwd](void *r) {
                               return A::get_cr(h, t, r ? (fwd ? 3 : 2) : (fwd ? 0 : 1), r, s, flags);
                             }});
    for (const Walk &w : walks) {
      std::vector<void *> got;
      for (void *r = w.step(nullptr); r != nullptr && got.size() <= recs.size(); r = w.step(r)) got.push_back(r);
      ASSERT_EQ(got, walk(tenant, w.fwd, w.source, w.by_source, w.np))
          << w.name << " source " << w.source << " fwd " << w.fwd << " by_source " << w.by_source << " np " << w.np;
    }
    ASSERT_EQ(std::tuple(err, h->last_error), std::tuple(0u, 0u));

    const int k = int(rng() % kKeys);
    const uint32_t s = kSources[rng() % 4], ps = kSources[rng() % 4], fs = kSources[rng() % 4];
    const bool n = rng() % 2, fwd = rng() % 2, np = rng() % 2, same = rng() % 2;
    typename A::Probe p{};
    A::probe(p, k);
    const auto *v = A::value(p);
    auto S = [&](bool a, bool f, uint32_t b, uint32_t c, bool d, bool e) {
      return search(tenant, k, a, f, b, c, d, e);
    };
    auto step = [&](bool f, uint32_t ps_, uint32_t fs_, bool np_) {  // by key
      return after(probe(tenant, k, ps_), f, fs_, fs_ != 0, np_, false);
    };
    std::vector<std::tuple<std::string, void *, void *>> rows{
        {"search", A::search(h, db, t, &p, n, &err), S(n, 1, 1, 1, 0, 0)},
        {"search_w_src", A::search_w_src(h, db, t, &p, n, s, &err), S(n, 1, s, s, 0, 0)},
        {"get_next_by_key", A::next_by_key(h, db, t, &p, &err), step(1, 1, 1, 0)},
        {"get_prev_by_key", A::prev_by_key(h, db, t, &p, &err), step(0, 1, 1, 0)},
        {"_search", A::ix_search(h, db, t, v, &err), S(0, 1, 1, 0, 0, 0)},
        {"_search_internal", A::ix_search_internal(h, db, t, v, n, fwd, ps, fs, np, same, &err),
         S(n, fwd, ps, fs, np, same)},
        {"_search_not_pending_destroy", A::ix_search_np(h, db, t, v, s, n, &err), S(n, 1, s, s, 1, s == 0)},
        {"_get_next_by_key_not_pending", A::ix_next_by_key_np(h, db, t, v, ps, fs, &err), step(1, ps, fs, 1)},
        {"_get_prev_by_key_not_pending", A::ix_prev_by_key_np(h, db, t, v, ps, fs, &err), step(0, ps, fs, 1)}};
    for (uint32_t flags = 0; flags < 8; ++flags) {  // 1 near, 2 pending too, 4 same key (source as given)
      const uint32_t src = (s != 0 || (flags & 4)) ? s : 1;
      rows.push_back({"_search_cr flags " + std::to_string(flags), A::search_cr(h, t, v, s, flags),
                      S(flags & 1, 1, src, src, !(flags & 2), flags & 4)});
    }
    // Steps from a record of the tenant, and the compare of two records.
    std::vector<void *> mine = walk(tenant, true, 1, false, false);
    if (!mine.empty()) {
      void *r = mine[rng() % mine.size()];
      auto it = std::find_if(recs.begin(), recs.end(), [&](const auto &kv) { return kv.second.rec == r; });
      const uint32_t bs = rng() % 2;
      rows.push_back({"_get_next_internal", A::ix_next_internal(h, db, t, r, fs, bs, np, same, &err),
                      after(it->first, true, fs, bs, np, same)});
      rows.push_back({"_get_prev_internal", A::ix_prev_internal(h, db, t, r, fs, bs, np, same, &err),
                      after(it->first, false, fs, bs, np, same)});
      const auto &[ka, ea] = *std::next(recs.begin(), long(rng() % recs.size()));
      const uint32_t want = it->first < ka ? E_AVL_LESS : it->first == ka ? E_AVL_EQUAL : E_AVL_GREATER;
      ASSERT_EQ(A::ix_compare(h, db, t, &static_cast<orva::TableRecordHead *>(r)->node,
                              &static_cast<orva::TableRecordHead *>(ea.rec)->node), want);
    }
    // A step from a record outside the table starts from its key (location 0, source 1).
    void *out = A::create(h, db, &err);
    A::set_key(h, db, out, k);
    rows.push_back({"_get_next_internal from outside", A::ix_next_internal(h, db, t, out, fs, 1, np, same, &err),
                    after(Key{tenant, k, 0, 1}, true, fs, 1, np, same)});
    A::destroy(h, db, out, &err);
    for (const auto &[name, got, want] : rows) ASSERT_EQ(got, want) << name << " key " << k << " s " << s;
    ASSERT_EQ(std::tuple(err, h->last_error), std::tuple(0u, 0u));

    // Counts: a tenant's (over all sources, or of one), else the table's.
    uint32_t count = 0, unsourced = 0, of_source_1 = 0;
    for (const auto &[key, e] : recs) {
      const bool in = tenant == 0 || std::get<0>(key) == tenant;
      count += in;
      unsourced += in && std::get<3>(key) == 255;
      of_source_1 += in && tenant != 0 && std::get<3>(key) == 1;
    }
    ASSERT_EQ(std::tuple(A::count(h, db, t), A::count_by_src(h, db, t, 255), A::count_by_src(h, db, t, 1)),
              std::tuple(count, unsourced, of_source_1));
  }

  // The collector destroys the requested records (the caller's tenant is
  // theirs: deletes count out of the handle's tenant).
  void collect() {
    uint32_t pending = 0;
    for (const auto &[k, e] : recs)
      if (e.pending) mox_handle_set_tenant(h, std::get<0>(k)), ++pending;
    mox_handle_set_collector(h, 1);
    ASSERT_EQ(mox_database_collect(h, db, A::free, &err), pending);
    mox_handle_set_collector(h, 0);
    std::erase_if(recs, [](const auto &kv) { return kv.second.pending; });
  }
};

template <class A>
void run_model(const char *name, uint32_t db_flags, int steps) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, name, 16u << 20, db_flags, &err);
  const bool shared = db_flags & MOX_DB_SHARED;
  if (shared) mox_database_lock(h, db, MOX_DB_LOCK_WRITE, &err);
  void *t = A::open(h, db, "model", 0, &err);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(A::open(h, db, "model", 1, &err), t);  // the same object
  // Without memory the handle-bound create gives the table's placeholder and 12.
  h->current_db = db;
  h.fail_alloc_after(0);
  void *placeholder = A::create_cr(h, 0);
  h.fail_alloc_after(-1);
  ASSERT_EQ(std::tuple(placeholder != nullptr, h->last_error), std::tuple(true, 12u));
  mox_clear_last_error(h);
  A::destroy(h, db, placeholder, &err);
  Model<A> m{h, db, t, {}};
  const size_t rec_bytes = sizeof(std::conditional_t<std::is_base_of_v<typename A::Data, typename A::Probe>,
                                                     orva::PlainTableRecord, orva::CompositeTableRecord>);

  std::mt19937 rng(1234);
  for (int step = 0; step < steps; ++step) {
    const uint16_t tenant = uint16_t(rng() % 3);
    mox_handle_set_tenant(h, tenant);
    mox_handle_set_location(h, m.loc = kLocations[rng() % 2]);
    mox_handle_set_loc_filter(h, m.filter = rng() % 4 == 0);
    const int k = int(rng() % kKeys);
    const uint8_t source = uint8_t(kSources[1 + rng() % 3]);
    const uint32_t op = rng() % 8;
    auto victim = m.recs.empty() ? m.recs.end() : std::next(m.recs.begin(), long(rng() % m.recs.size()));
    const bool alive = victim != m.recs.end() && !victim->second.pending;
    void *rec = nullptr;
    if (op < 2) {  // a new record with its data (and key record), to insert
      rec = rng() % 2 ? A::create(h, db, &err) : A::create_cr(h, 1);
      ASSERT_NE(rec, nullptr);
      static_cast<mox_db_table_record_t *>(rec)->source = source;
      A::set_key(h, db, rec, k);
      mox_loc_entry_acquire(h, db, &static_cast<mox_db_table_record_t *>(rec)->loc_entry, &err);
    }
    // The new record and every live record but those this step may free.
    std::vector<orva_test::Region> regions{{t, sizeof(mox_db_table_t), "table"}};
    if (rec != nullptr) regions.push_back({rec, rec_bytes, "new record"});
    for (auto it = m.recs.begin(); it != m.recs.end(); ++it)
      if (!(op == 2 && it == victim) && !(op == 4 && it->second.pending))
        regions.push_back({it->second.rec, rec_bytes, "record"});
    orva_test::JournalCheck journal(h, regions);
    err = 0;
    switch (op) {
      case 0:
      case 1: {  // insert, key-mark insert or handle-bound insert: refused exactly on an equal record
        const uint32_t form = rng() % 3;
        if (form == 0) A::insert(h, db, t, rec, &err);
        if (form == 1) A::pkey_insert(h, db, t, rec, &err);
        if (form == 2) err = A::insert_cr(h, t, rec, rng() % 2);
        const bool fresh = m.recs.emplace(Key{tenant, k, m.loc, source}, Entry{rec, false}).second;
        ASSERT_EQ(err, fresh ? 0u : 17u) << step;
        mox_clear_last_error(h);
        ASSERT_TRUE(journal.Verify()) << step;
        if (!fresh) {
          err = 0;
          A::destroy(h, db, rec, &err);
          journal.Rebase();
        }
        break;
      }
      case 2: {  // key-mark delete leaves it in; a plain delete takes it out; the last destroy frees
        if (!alive) break;
        mox_handle_set_tenant(h, std::get<0>(victim->first));  // the owner's tenant counts it out
        A::pkey_del(h, db, t, victim->second.rec, &err);
        ASSERT_EQ(err, 0u);
        if (rng() % 2) {
          A::del(h, db, t, victim->second.rec, &err);
          ASSERT_EQ(err, 0u);
          A::del(h, db, t, victim->second.rec, &err);
          ASSERT_EQ(err, 2u);  // no longer in the table
          err = 0;
        }
        ASSERT_EQ(A::add_ref(h, db, victim->second.rec, &err), 1u);
        A::destroy(h, db, victim->second.rec, &err);
        A::destroy(h, db, victim->second.rec, &err);
        ASSERT_EQ(err, 0u);
        m.recs.erase(victim);
        break;
      }
      case 3: {  // a destroy request (either form): found, but not by the not-pending forms, until collected
        if (!alive || std::any_of(m.recs.begin(), m.recs.end(), [&](const auto &kv) {
              return kv.second.pending && std::get<0>(kv.first) != std::get<0>(victim->first);
            }))
          break;  // the collector runs in one tenant
        void *result = victim->second.rec;
        if (rng() % 2)
          result = A::request_destroy(h, db, t, victim->second.rec, &err);
        else
          err = A::request_destroy_cr(h, t, victim->second.rec, &result);
        ASSERT_EQ(std::tuple(err, result), std::tuple(0u, nullptr));
        victim->second.pending = true;
        break;
      }
      case 4:
        m.collect();
        break;
    }
    ASSERT_TRUE(journal.Verify()) << step;
    mox_handle_set_tenant(h, tenant);
    m.check(tenant, rng);
    if (::testing::Test::HasFatalFailure()) return;
  }
  m.collect();
  for (const auto &[key, e] : m.recs) {
    mox_handle_set_tenant(h, std::get<0>(key));
    A::destroy(h, db, e.rec, &err);
  }
  ASSERT_EQ(err, 0u);
  mox_handle_set_tenant(h, 0);
  EXPECT_EQ(A::count(h, db, t), 0u);
  // A free request in a shared database leaves the table to the collector.
  if constexpr (kHas<A::request_free>) {
    if (shared) mox_database_set_toc_gc_delete(h, db, 1, &err);
    A::request_free(h, db, t, &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(A::open(h, db, "model", 1, &err), nullptr);
    if (shared) {  // the collector frees it (no record requests: 0)
      mox_handle_set_collector(h, 1);
      EXPECT_EQ(mox_database_collect(h, db, A::free, &err), 0u);
      mox_handle_set_collector(h, 0);
    }
  } else {
    A::free(h, db, t, &err);
  }
  ASSERT_EQ(err, 0u);
  mox_database_stats_t stats{};
  mox_database_stats(h, db, &stats);
  EXPECT_EQ(stats.record_bytes, 0u);
  if (shared) mox_database_unlock(h, db, &err);
  mox_database_destroy(h, db, &err);
  EXPECT_EQ(h.live_bytes(), 0u);
}

TEST(Tables, MacKeyedAgainstAMapModel) { run_model<Clients>("model_mac", 0, 1500); }
TEST(Tables, U32KeyedAgainstAMapModel) { run_model<Wlans>("model_u32", 0, 500); }
TEST(Tables, StringKeyedAgainstAMapModel) { run_model<PolicyNames>("model_string", 0, 1000); }
TEST(Tables, KeyRecordAgainstAMapModelInASharedDatabase) {
  run_model<Radios>("model_key", MOX_DB_SHARED, 1000);
}

// Open forms: a name with "/" is the lookup name; others get "/" and the
// LUID; an absent table opened to read is null without an error; by id and
// under the next free id, ids only grow and the id root counts the tables.
TEST(Tables, OpenForms) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "tables_open", 4u << 20, 0, &err);
  EXPECT_EQ(tbl_qos_client_data_table_open(h, db, "absent", 1, &err), nullptr);
  EXPECT_EQ(err, 0u);
  void *a = tbl_qos_client_data_table_open(h, db, "a/b", 0, &err);
  EXPECT_STREQ(static_cast<mox_db_table_t *>(a)->name, "a/b");
  void *c = tbl_qos_client_data_table_open(h, db, "c", 0, &err);
  EXPECT_STREQ(static_cast<mox_db_table_t *>(c)->name, "c/538b2a21193f80937633c22c5f108103");
  EXPECT_EQ(tbl_qos_client_data_table_open(h, db, std::string(175, 'x').c_str(), 0, &err), nullptr);
  EXPECT_EQ(err, 7u);
  err = 0;
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
