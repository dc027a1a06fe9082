// tbl_qos_client_data against std::map<std::array<uint8_t, 6>, void *> on the
// same random MAC keys (fixed seed), in one run:
//   table/insert   tbl_qos_client_data_insert of every record, in key-generation order
//   table/search   the key index's _search of every key, shuffled
//   table/walk     pkey_get_first, then pkey_get_next to the end
//   table/delete   tbl_qos_client_data_delete of every record, shuffled
//   map/...        emplace, find, iteration and erase of the same keys, same orders
// Each repetition works on a fresh table (and a fresh map); the client records
// (table record and data record holding the key) are made before anything is
// timed, in a private database, with state tracking off.  Every pass checks
// what it did (all inserted, all found, all walked ending at the greatest
// key, all deleted); a failure stops the program.
//
//   table_bench [--keys=N] [Google Benchmark options]    (N defaults to 1000000)
//
// Times are the thread's CPU time.  After the benchmarks, a summary gives the
// median ns per operation of the table and of the map over the repetitions,
// their ratio, and the bytes per entry of each (the table record alone, and
// the map's node).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <time.h>

#include "handle.h"
#include "mox/db.h"
#include "orva_qos_data/orva_qos_data.h"

namespace {

using Mac = std::array<uint8_t, 6>;
using Map = std::map<Mac, void *>;

// The allocator of the map whose node bytes are counted (same node as Map's).
uint64_t g_node_bytes = 0;
template <class T>
struct Counting : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = Counting<U>;
  };
  Counting() = default;
  template <class U>
  Counting(const Counting<U> &) {}
  T *allocate(size_t n) {
    g_node_bytes += n * sizeof(T);
    return std::allocator<T>::allocate(n);
  }
};

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "table_bench: %s\n", what);
  std::exit(1);
}

// The keys, the records carrying them, and the orders of the passes.
struct Fixture {
  orva_test::ScopedHandle h;
  uint32_t db = MOX_NO_DB;
  std::vector<Mac> keys;            // generation order: the insert order
  std::vector<void *> recs;         // recs[i] carries keys[i]
  std::vector<size_t> shuffled;     // the search and delete order
  double table_record_bytes = 0;    // database bytes per table record (without its data record)
  double map_node_bytes = 0;        // heap bytes per map entry
  int tables = 0;
};
Fixture *g_fx = nullptr;

void setup(size_t n) {
  auto *fx = new Fixture;
  std::mt19937_64 rng(20261207);
  std::set<Mac> seen;
  while (fx->keys.size() < n) {
    const uint64_t v = rng();
    Mac m;
    std::memcpy(m.data(), &v, 6);
    if (seen.insert(m).second) fx->keys.push_back(m);
  }
  uint32_t err = 0;
  fx->db = mox_database_create(fx->h, "table_bench", uint64_t(n) * 4096 + (64u << 20), 0, &err);
  if (err != 0) die("database create failed");
  mox_database_stats_t before{}, after{};
  mox_database_stats(fx->h, fx->db, &before);
  for (size_t i = 0; i < n; ++i) fx->recs.push_back(tbl_qos_client_data_create_record(fx->h, fx->db, &err));
  mox_database_stats(fx->h, fx->db, &after);
  fx->table_record_bytes = double(after.record_bytes - before.record_bytes) / double(n);
  for (size_t i = 0; i < n; ++i) {
    qos_client_data_t *d = qos_client_data_t_create(fx->h, fx->db);
    if (d == nullptr || fx->recs[i] == nullptr) die("out of database memory");
    std::memcpy(d->client_mac.octet, fx->keys[i].data(), 6);
    tbl_qos_client_data_qos_client_data_t_set_field(fx->h, fx->db, fx->recs[i], d);
  }
  mox_database_stats(fx->h, fx->db, &before);
  std::printf("%zu keys; database bytes per client record %.0f (table record and data record)\n", n,
              double(before.record_bytes) / double(n));
  for (size_t i = 0; i < n; ++i) fx->shuffled.push_back(i);
  std::shuffle(fx->shuffled.begin(), fx->shuffled.end(), rng);
  {
    std::map<Mac, void *, std::less<Mac>, Counting<std::pair<const Mac, void *>>> m;
    for (const Mac &k : fx->keys) m.emplace(k, nullptr);
    fx->map_node_bytes = double(g_node_bytes) / double(n);
  }
  g_fx = fx;
}

// Medians per benchmark name, in ns per operation.
std::map<std::string, std::vector<double>> g_ns;

// The thread's CPU time: on a machine shared with other work, wall time
// counts the time the thread waits for a core.
double thread_ns() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

template <class F>
void timed(benchmark::State &state, const char *name, F &&f) {
  const double t0 = thread_ns();
  f();
  const double ns = thread_ns() - t0;
  g_ns[name].push_back(ns / double(g_fx->keys.size()));
  state.SetIterationTime(ns * 1e-9);
  state.counters["ns_per_op"] = ns / double(g_fx->keys.size());
}

// A fresh table holding every record, or (fill false) an empty one.
void *fresh_table(bool fill) {
  uint32_t err = 0;
  const std::string name = "clients" + std::to_string(g_fx->tables++);
  void *t = tbl_qos_client_data_table_open(g_fx->h, g_fx->db, name.c_str(), 0, &err);
  if (fill)
    for (void *r : g_fx->recs) tbl_qos_client_data_insert(g_fx->h, g_fx->db, t, r, &err);
  if (t == nullptr || err != 0) die("table open or insert failed");
  return t;
}
void drop_table(void *t) {
  uint32_t err = 0;
  for (void *r : g_fx->recs)
    if (static_cast<mox_db_table_record_t *>(r)->table != nullptr)
      tbl_qos_client_data_delete(g_fx->h, g_fx->db, t, r, &err);
  tbl_qos_client_data_table_free(g_fx->h, g_fx->db, t, &err);
  if (err != 0) die("table free failed");
}
Map fresh_map() {
  Map m;
  for (size_t i = 0; i < g_fx->keys.size(); ++i) m.emplace(g_fx->keys[i], g_fx->recs[i]);
  return m;
}

void table_insert(benchmark::State &state) {
  for (auto _ : state) {
    void *t = fresh_table(false);
    uint32_t err = 0;
    timed(state, "insert/table", [&] {
      for (void *r : g_fx->recs) tbl_qos_client_data_insert(g_fx->h, g_fx->db, t, r, &err);
    });
    if (err != 0 || tbl_qos_client_data_table_get_count(g_fx->h, g_fx->db, t) != g_fx->keys.size())
      die("insert");
    drop_table(t);
  }
}
void map_insert(benchmark::State &state) {
  for (auto _ : state) {
    Map m;
    timed(state, "insert/map", [&] {
      for (size_t i = 0; i < g_fx->keys.size(); ++i) m.emplace(g_fx->keys[i], g_fx->recs[i]);
    });
    if (m.size() != g_fx->keys.size()) die("map insert");
  }
}

void table_search(benchmark::State &state) {
  for (auto _ : state) {
    void *t = fresh_table(true);
    uint32_t err = 0;
    size_t hits = 0;
    timed(state, "search/table", [&] {
      for (size_t i : g_fx->shuffled) {
        mox_mac_addr_t k;
        std::memcpy(k.octet, g_fx->keys[i].data(), 6);
        hits += tbl_qos_client_data_qos_client_data_t_client_mac_search(g_fx->h, g_fx->db, t, &k, &err) ==
                g_fx->recs[i];
      }
    });
    if (err != 0 || hits != g_fx->keys.size()) die("search");
    drop_table(t);
  }
}
void map_search(benchmark::State &state) {
  for (auto _ : state) {
    Map m = fresh_map();
    size_t hits = 0;
    timed(state, "search/map", [&] {
      for (size_t i : g_fx->shuffled) hits += m.find(g_fx->keys[i])->second == g_fx->recs[i];
    });
    if (hits != g_fx->keys.size()) die("map search");
  }
}

void table_walk(benchmark::State &state) {
  for (auto _ : state) {
    void *t = fresh_table(true);
    uint32_t err = 0;
    size_t n = 0;
    void *last = nullptr;
    timed(state, "walk/table", [&] {
      for (void *r = tbl_qos_client_data_pkey_get_first(g_fx->h, g_fx->db, t, &err); r != nullptr;
           r = tbl_qos_client_data_pkey_get_next(g_fx->h, g_fx->db, t, r, &err), ++n)
        last = r;
    });
    const auto *d = tbl_qos_client_data_qos_client_data_t_get_field(g_fx->h, g_fx->db, last);
    const Mac top = *std::max_element(g_fx->keys.begin(), g_fx->keys.end());
    if (err != 0 || n != g_fx->keys.size() || d == nullptr || std::memcmp(d->client_mac.octet, top.data(), 6) != 0)
      die("walk");
    drop_table(t);
  }
}
void map_walk(benchmark::State &state) {
  for (auto _ : state) {
    Map m = fresh_map();
    size_t n = 0;
    timed(state, "walk/map", [&] {
      for (const auto &kv : m) {
        benchmark::DoNotOptimize(kv.second);
        ++n;
      }
    });
    if (n != g_fx->keys.size()) die("map walk");
  }
}

void table_delete(benchmark::State &state) {
  for (auto _ : state) {
    void *t = fresh_table(true);
    uint32_t err = 0;
    timed(state, "delete/table", [&] {
      for (size_t i : g_fx->shuffled) tbl_qos_client_data_delete(g_fx->h, g_fx->db, t, g_fx->recs[i], &err);
    });
    if (err != 0 || tbl_qos_client_data_table_get_count(g_fx->h, g_fx->db, t) != 0) die("delete");
    drop_table(t);
  }
}
void map_delete(benchmark::State &state) {
  for (auto _ : state) {
    Map m = fresh_map();
    timed(state, "delete/map", [&] {
      for (size_t i : g_fx->shuffled) m.erase(g_fx->keys[i]);
    });
    if (!m.empty()) die("map delete");
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
  size_t n = 1000000;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--keys=", 7) == 0)
      n = std::strtoul(argv[i] + 7, nullptr, 10);
    else
      argv[out++] = argv[i];
  }
  argc = out;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (n == 0) die("--keys must be positive");
  setup(n);
  // One pass over every key per iteration; the median of 5 fresh tables.
  struct Bench {
    const char *name;
    void (*fn)(benchmark::State &);
  };
  for (const Bench &b : {Bench{"insert/table", table_insert}, Bench{"insert/map", map_insert},
                         Bench{"search/table", table_search}, Bench{"search/map", map_search},
                         Bench{"walk/table", table_walk}, Bench{"walk/map", map_walk},
                         Bench{"delete/table", table_delete}, Bench{"delete/map", map_delete}})
    benchmark::RegisterBenchmark(b.name, b.fn)->Iterations(1)->Repetitions(5)->UseManualTime()->Unit(
        benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\n%zu keys; median ns/op of %s\n%-8s %10s %10s %7s\n", n, "the repetitions", "op", "table",
              "std::map", "ratio");
  for (const char *op : {"insert", "search", "walk", "delete"}) {
    const double t = median(g_ns[std::string(op) + "/table"]), m = median(g_ns[std::string(op) + "/map"]);
    if (t > 0 && m > 0) std::printf("%-8s %10.1f %10.1f %6.2fx\n", op, t, m, t / m);
  }
  std::printf("bytes per entry: table record %.1f (its data record apart), map node %.1f\n",
              g_fx->table_record_bytes, g_fx->map_node_bytes);
  return 0;
}
