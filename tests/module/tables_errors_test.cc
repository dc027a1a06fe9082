// Bad input of the table families, one row per row of the table of errors in
// docs/tables.md: the error in the slot (or last_error for the handle-bound
// forms) and the message traced; every abort as a death test.  The database
// services refusing a range declaration, cursor enabling or a mapping are
// simulated by interposing those three service calls in this process (they
// forward to the runtime otherwise).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "handle.h"
#include "mox/db.h"
#include "orva_qos_data/orva_qos_data_decls.h"
#include "trace_capture.h"

namespace {

enum class Refuse { None, Range, Cursors, Mapping };
Refuse g_refuse = Refuse::None;

template <class F>
F next_definition(F, const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {
uint32_t plume_set_range(void *heap, void *addr, uint32_t len, uint32_t db) {
  static auto real = next_definition(&plume_set_range, "plume_set_range");
  return g_refuse == Refuse::Range ? 13 : real(heap, addr, len, db);
}
void moxdb_table_enable_cursors(mox_handle_t *h, uint32_t db, void *table, uint32_t on, uint32_t *err) {
  static auto real = next_definition(&moxdb_table_enable_cursors, "moxdb_table_enable_cursors");
  if (g_refuse == Refuse::Cursors) *err = 12;
  else real(h, db, table, on, err);
}
uint32_t mox_oid_mapping_create(mox_handle_t *h, uint32_t db, void *obj, uint32_t kind, uint32_t dynamic,
                                mox_finish_destroy_fn finish) {
  static auto real = next_definition(&mox_oid_mapping_create, "mox_oid_mapping_create");
  return g_refuse == Refuse::Mapping ? 0 : real(h, db, obj, kind, dynamic, finish);
}
}

namespace orva_test {
namespace {

// A private database with tbl_qos_client_data open, `in` inserted and `loose`
// not, both carrying a data record of the same key.
struct Env {
  ScopedHandle h;
  uint32_t err = 0;
  uint32_t db = mox_database_create(h, "tables_errors", 4u << 20, 0, &err);
  void *table = tbl_qos_client_data_table_open(h, db, "clients", 0, &err);
  void *in = with_data(), *loose = with_data();
  Env() { tbl_qos_client_data_insert(h, db, table, in, &err); }
  ~Env() {
    for (void *r : {in, loose}) tbl_qos_client_data_destroy_record(h, db, r, &(err = 0));
    mox_database_destroy(h, db, &(err = 0));
  }
  void *with_data() {
    void *r = tbl_qos_client_data_create_record(h, db, &err);
    tbl_qos_client_data_qos_client_data_t_set_field(h, db, r, qos_client_data_t_create(h, db));
    return r;
  }
  qos_client_data_t *data(void *rec) { return tbl_qos_client_data_qos_client_data_t_get_field(h, db, rec); }
};

void *no_memory(void *, uint32_t, uint32_t) { return nullptr; }
uint32_t new_db(Env &e, const char *name, uint32_t flags) {
  return mox_database_create(e.h, name, 1u << 20, flags, &e.err);
}
void *no_named_object(void *, uint32_t, const char *) { return nullptr; }

struct Row {
  const char *situation;
  std::function<uint32_t(Env &)> call;  // returns the error reported
  uint32_t error;
  const char *traced;  // a message the call traces, or ""
};
// The error of a row: in the slot, or in last_error for the handle-bound forms.
#define SLOT(...) [&](Env &e) { __VA_ARGS__; return e.err; }
#define LAST(...) [&](Env &e) { e.h->current_db = e.db; __VA_ARGS__; return e.h->last_error; }

TEST(TablesErrors, EveryRowOfTheTable) {
  const std::string long_name(175, 'n');
  char text[64];
  uint32_t first = 0, other = 0;  // scratch of the rows
  void *t = nullptr;
  const Row rows[] = {
      // Lifecycle
      {"name of 175 characters without /",
       SLOT(tbl_qos_client_data_table_open(e.h, e.db, long_name.c_str(), 0, &e.err)), 7, ""},
      {"null name", SLOT(tbl_qos_client_data_table_open(e.h, e.db, nullptr, 0, &e.err)), 22, ""},
      {"table object without memory", SLOT(e.h->record_alloc = no_memory;
                                           tbl_qos_client_data_table_open(e.h, e.db, "new", 0, &e.err)), 12, ""},
      {"id root without memory", SLOT(e.h->record_alloc = no_memory;
                                      tbl_qos_global_statistics_table_open_by_id(e.h, e.db, 5, 0, 0, &e.err)), 12, ""},
      {"free while the mapping is referenced (11), then again",
       SLOT(mox_oid_mapping_add_ref(e.h, e.table); tbl_qos_client_data_table_free(e.h, e.db, e.table, &e.err);
            first = e.err; tbl_qos_client_data_table_free(e.h, e.db, e.table, &(e.err = 0));
            e.err += first == 11 ? 0 : 100), 2, "Failed to delete table entry from TOC"},
      {"free of a null table", SLOT(tbl_qos_client_data_table_free(e.h, e.db, nullptr, &e.err)), 22, ""},
      {"free of a table by id whose id root is gone (the cache holds another database's)",
       SLOT(t = tbl_qos_ap_data_table_open_by_id(e.h, e.db, 5, 0, 0, &e.err);
            other = mox_database_create(e.h, "tables_errors_2", 1u << 20, 0, &e.err);
            tbl_qos_ap_data_table_open_by_id(e.h, other, 5, 0, 0, &e.err);
            e.h->registry_lookup = no_named_object; tbl_qos_ap_data_table_free(e.h, e.db, t, &e.err);
            mox_database_destroy(e.h, other, &(first = 0))), 2, ""},
      {"no TOC root, open to read",
       SLOT(other = mox_database_create(e.h, "tables_bare", 1u << 20, MOX_DB_NO_TOC, &e.err);
            e.err += tbl_qos_client_data_table_open(e.h, other, "t", 1, &e.err) == nullptr ? 0 : 100;
            mox_database_destroy(e.h, other, &e.err)), 0, "Could not find TOC root for table tbl_qos_client_data"},
      // Table records
      {"add_ref of a null record", SLOT(tbl_qos_client_data_record_add_ref(e.h, e.db, nullptr, &e.err)), 2, ""},
      {"destroy of a null record", SLOT(tbl_qos_client_data_destroy_record(e.h, e.db, nullptr, &e.err)), 2, ""},
      {"destroy request without a table",
       SLOT(tbl_qos_client_data_request_record_destroy(e.h, e.db, nullptr, e.in, &e.err)), 22,
       "tbl_qos_client_data request destroy record with invalid parameters"},
      {"destroy request of a record in no table",
       SLOT(tbl_qos_client_data_request_record_destroy(e.h, e.db, e.table, e.loose, &e.err)), 2,
       "tbl_qos_client_data request destroy record has NULL root pointer"},
      {"destroy request of another table's record",
       SLOT(t = tbl_qos_client_data_table_open(e.h, e.db, "other", 0, &e.err);
            tbl_qos_client_data_request_record_destroy(e.h, e.db, t, e.in, &e.err)), 14,
       "tbl_qos_client_data request destroy record has root pointer mis-matched"},
      {"handle-bound create without memory",
       LAST(e.h->record_alloc = no_memory; tbl_qos_client_data_record_create_cr(e.h, 0)), 12, ""},
      {"set_field of an embedded record",
       LAST(tbl_qos_client_data_qos_client_data_t_set_field(e.h, e.db, e.loose, e.data(e.in))), 22,
       "Object is either nested or already embedded. Cannot"},
      {"free_and_set_field of the attached record",
       LAST(tbl_qos_client_data_qos_client_data_t_free_and_set_field(e.h, e.db, e.in, e.data(e.in))), 22,
       "Object is either nested or already embedded in a record"},
      // Insert, delete, searches
      {"insert of an equal record", SLOT(tbl_qos_client_data_insert(e.h, e.db, e.table, e.loose, &e.err)), 17,
       "tbl_qos_client_data insert record exists for qos_client_data_t client_mac"},
      {"insert of a null record", SLOT(tbl_qos_client_data_insert(e.h, e.db, e.table, nullptr, &e.err)), 17, ""},
      {"insert of a record already in a table",
       SLOT(t = tbl_qos_client_data_table_open(e.h, e.db, "other", 0, &e.err);
            tbl_qos_client_data_insert(e.h, e.db, t, e.in, &e.err)), 17, ""},
      {"delete of a record not in the table",
       SLOT(tbl_qos_client_data_delete(e.h, e.db, e.table, e.loose, &e.err)), 2,
       "tbl_qos_client_data delete, record not found for qos_client_data_t client_mac"},
      {"delete with a read cursor open; the collector's delete goes on",
       SLOT(other = new_db(e, "tables_errors_shared", MOX_DB_SHARED);
            mox_database_lock(e.h, other, MOX_DB_LOCK_WRITE, &e.err);
            t = tbl_qos_wlan_data_table_open(e.h, other, "w", 0, &e.err);
            void *rec = tbl_qos_wlan_data_create_record(e.h, other, &e.err);
            tbl_qos_wlan_data_insert(e.h, other, t, rec, &e.err); mox_table_read_cursor_open(e.h, other, t, &e.err);
            tbl_qos_wlan_data_delete(e.h, other, t, rec, &e.err); mox_handle_set_collector(e.h, 1);
            tbl_qos_wlan_data_delete(e.h, other, t, rec, &first); mox_handle_set_collector(e.h, 0);
            e.err += first + tbl_qos_wlan_data_table_get_count(e.h, other, t);
            mox_database_destroy(e.h, other, &first)), 22,
       "tbl_qos_wlan_data delete: cannot be directly used when table has reader"},
      {"search without a key", SLOT(tbl_qos_client_data_search(e.h, e.db, e.table, nullptr, 0, &e.err)), 2, ""},
      {"walk without a table", SLOT(tbl_qos_client_data_pkey_get_first(e.h, e.db, nullptr, &e.err)), 2, ""},
      {"get_cr with how 4",
       LAST(tbl_qos_client_data_qos_client_data_t_client_mac_get_cr(e.h, e.table, 4, nullptr, 1, 0)), 22,
       "invalid record get flag 4"},
      // Keys
      {"pkey_print without a record",
       SLOT(tbl_qos_client_data_pkey_print(e.h, e.db, e.table, nullptr, text, 64, &e.err)), 22, ""},
      {"pkey_print without a table",
       SLOT(tbl_qos_client_data_pkey_print(e.h, e.db, nullptr, e.in, text, 64, &e.err)), 22, ""},
      {"pkey_print of a record without data",
       SLOT(t = tbl_qos_client_data_create_record(e.h, e.db, &e.err);
            tbl_qos_client_data_pkey_print(e.h, e.db, e.table, t, text, 64, &e.err);
            tbl_qos_client_data_destroy_record(e.h, e.db, t, &first)), 2, ""},
      {"pkey_print into less than the key's wire length",
       SLOT(tbl_qos_client_data_pkey_print(e.h, e.db, e.table, e.in, text, 5, &e.err)), 90, ""},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.situation);
    Env e;
    ASSERT_EQ(e.err, 0u);
    mox_trace_clear();
    const mox_handle_t saved = *e.h.get();
    EXPECT_EQ(r.call(e), r.error);
    EXPECT_TRUE(*r.traced == 0 || Traced(r.traced)) << r.traced;
    e.h->record_alloc = saved.record_alloc;
    e.h->registry_lookup = saved.registry_lookup;
  }
}

// The key's text and wire length for each kind of key: a MAC address, an
// integer, a key record.
TEST(TablesErrors, KeyTextAndLengthPerKeyKind) {
  ScopedHandle h;
  uint32_t err = 0;
  const uint32_t db = mox_database_create(h, "tables_keys", 1u << 20, 0, &err);
  h->current_db = db;
  char text[256];
#define KEY_ROW(tbl, wire, shows)                                                                          \
  [&] {                                                                                                    \
    void *t = tbl##_table_open(h, db, #tbl, 0, &err), *r = tbl##_record_create_cr(h, 1);                  \
    EXPECT_EQ(tbl##_table_pkey_len(h, db, r), wire);                                                       \
    const uint32_t n = tbl##_pkey_print(h, db, t, r, text, int32_t(sizeof text), &err);                    \
    EXPECT_EQ(n, std::strlen(text));                                                                       \
    EXPECT_EQ((std::pair{err, std::string(text).find(shows) != std::string::npos}), (std::pair{0u, true})) \
        << text;                                                                                           \
    tbl##_destroy_record(h, db, r, &err);                                                                  \
  }()
  KEY_ROW(tbl_qos_client_data, 6u, "client_mac");
  KEY_ROW(tbl_qos_wlan_data, 4u, "wlan_id");
  KEY_ROW(tbl_qos_bssid_data, qos_bssid_key_t_len(h, db, tbl_qos_bssid_data_qos_bssid_key_t_get_field(h, db, r)),
          "@qos_bssid_key_t");
#undef KEY_ROW
  mox_database_destroy(h, db, &err);
  EXPECT_EQ((std::pair{err, h.live_bytes()}), (std::pair{0u, uint64_t(0)}));
}

// Every abort: the message at level 0 reaches stderr before the process stops.
#define RUN(...) [](Env &e) { __VA_ARGS__; }
TEST(TablesErrorsDeathTest, EveryAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::function<void(Env &)> call;
    const char *message;
  } rows[] = {
      {RUN(tbl_qos_client_data_table_open(e.h, new_db(e, "tables_abort_shared", MOX_DB_SHARED), "t", 0, &e.err)),
       "Opening table tbl_qos_client_data in create mode while not holding a write lock"},
      {RUN(tbl_qos_client_data_table_open(e.h, new_db(e, "tables_abort_bare", MOX_DB_NO_TOC), "t", 0, &e.err)),
       "Failed to open toc root for table tbl_qos_client_data, database tables_abort_bare"},
      {RUN(g_refuse = Refuse::Range; tbl_qos_client_data_table_open(e.h, e.db, "t", 0, &e.err)),
       "plume internal error"},
      {RUN(uint32_t shared = new_db(e, "tables_abort_cursors", MOX_DB_SHARED);
           mox_database_lock(e.h, shared, MOX_DB_LOCK_WRITE, &e.err); g_refuse = Refuse::Cursors;
           tbl_qos_client_data_table_open(e.h, shared, "t", 0, &e.err)),
       "tbl_qos_client_data open table: Failed to enable cursor: "},
      {RUN(g_refuse = Refuse::Mapping; tbl_qos_client_data_table_open(e.h, e.db, "t", 0, &e.err)),
       "Failed to create mapping for tbl_qos_client_data table"},
      {RUN(_tbl_qos_client_data_table_record_type_info_internal.variant_info = nullptr;
           tbl_qos_client_data_create_record(e.h, e.db, &e.err)), "varinfo is NULL"},
      {RUN(static_cast<mox_db_table_record_t *>(e.loose)->tinfo = nullptr;
           tbl_qos_client_data_destroy_record(e.h, e.db, e.loose, &e.err)), "tinfo is null or corrupted"},
      {RUN(static_cast<mox_db_table_record_t *>(e.loose)->ref_word = (1u << 24) - 1;
           tbl_qos_client_data_record_add_ref(e.h, e.db, e.loose, &e.err)), R"(\(\(1 << 24\) - 1\) != __ref_cnt)"},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.message);
    EXPECT_DEATH({ Env e; r.call(e); }, r.message);
  }
}

}  // namespace
}  // namespace orva_test
