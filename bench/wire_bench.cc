// Benchmarks of the wire form: T_len, T_marshal and T_unmarshal (into a fresh
// record and in place) of a fully populated qos_client_data_t and of the small
// key qos_ap_radio_key_t, with state tracking off and on, each beside a memcpy
// of the same byte count in the same run; and, for the client record, the same
// values as a protobuf-c message of bench/qos_client.proto.
//
// Names are <type>/<sttr_off|sttr_on>/<operation>:
//   len                 T_len of the filled record
//   marshal             T_marshal into a buffer of T_len bytes
//   encode              T_len + T_marshal
//   round_trip          encode + unmarshal_fresh
//   unmarshal_fresh     T_create + T_unmarshal (in-place flag 0) + T_destroy
//   create_destroy      T_create + T_destroy alone: the baseline to subtract
//                       from unmarshal_fresh (tools/bench-report.py does)
//   unmarshal_in_place  T_unmarshal (in-place flag 1) into a record that
//                       already holds the decoded contents
//   memcpy              memcpy of the wire form's byte count
// and qos_client_data_t/protobuf_c/<operation>:
//   get_packed_size, pack (into a buffer of get_packed_size bytes),
//   encode (get_packed_size + pack), unpack_free (unpack + free_unpacked),
//   round_trip (encode + unpack_free).
// Counters: bytes = wire size, allocs = record allocations per operation
// (from the handle's allocation statistics; for protobuf-c, the calls of its
// allocator), heap_allocs = C++ heap
// allocations per operation anywhere in the process (operator new, counted
// by the replacement below), which the handle's statistics do not see.
//
// Everything goes through the module's public interface; the records are
// filled through the generated accessors.  Before anything is timed, a round
// trip of every subject is checked (decoded record compares equal, T_len not
// below the encoded size, in-place decode gives the same record again); a
// failure stops the program.  The protobuf-c message is built from the
// filled record, and its round trip is checked too: the unpacked message holds
// the record's values field by field, and packs to the same bytes again.
//
// WIRE_BENCH_ITERATIONS=N in the environment fixes every benchmark to N
// iterations (one run each): tools/bench-report.py --callgrind uses it to get
// instruction counts per operation from two runs of different N.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "handle.h"
#include "orva_qos_data/orva_qos_data.h"
#include "qos_client.pb-c.h"

namespace {
uint64_t g_heap_allocs = 0;  // the benchmarks run on one thread
}  // namespace

// The global allocation functions, counting; the module and the runtime
// resolve theirs to these.
void *operator new(std::size_t n) {
  ++g_heap_allocs;
  if (void *p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void *operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr uint32_t kDb = MOX_NO_DB;

#define BENCH_CHECK(cond)                                                              \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "wire_bench: %s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                             \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// ---------------------------------------------------------------------------
// Filling through the public accessors.  Every field of the record's tree is
// set, every string non-empty, every fixed array element written, two call
// records.  (The tree of qos_client_data_t holds no list.)

void text(mox_handle_t *h, mox_vstring_t *field, const char *s, uint32_t *err) {
  mox_vstring_set_value(h, kDb, field, s, err);
}

void mac(mox_handle_t *h, mox_mac_addr_t *field, uint8_t seed, uint32_t *err) {
  const uint8_t octets[6] = {0x00, 0x1b, 0x2c, seed, uint8_t(seed + 1), uint8_t(seed + 2)};
  mox_mac_addr_set_value(h, kDb, field, octets, err);
}

void stamp(mox_handle_t *h, calendar_time_t *field, int64_t sec, uint32_t *err) {
  calendar_time_set_value(h, kDb, field, sec, 125000, err);
}

void fill_policy(mox_handle_t *h, qos_client_policy_t *p, const char *name, uint32_t *err) {
  text(h, qos_client_policy_t_qos_pm_name_get(h, kDb, p, err), name, err);
  text(h, qos_client_policy_t_qos_pm_name_sent_to_ap_get(h, kDb, p, err), name, err);
  text(h, qos_client_policy_t_qos_pm_sent_ap_name_get(h, kDb, p, err), "ap-bldg2-floor3-east-17", err);
  qos_client_policy_t_qos_pm_state_set_value(h, kDb, p, 1, err);
  qos_client_policy_t_qos_pm_type_set_value(h, kDb, p, 1, err);
  text(h, qos_client_policy_t_qos_pm_status_str_get(h, kDb, p, err),
       "installed on the access point, acknowledged", err);
  stamp(h, qos_client_policy_t_qos_pm_bind_timestamp_get(h, kDb, p, err), 1700000000, err);
  for (uint32_t i = 0; i < 64; ++i)
    qos_client_policy_t_pm_idx_sent_to_ap_set_value(h, kDb, p, i, uint8_t(3 * i + 1), err);
  stamp(h, qos_client_policy_t_stats_last_cleared_timestamp_get(h, kDb, p, err), 1700003600, err);
}

void fill_tclas(mox_handle_t *h, tclas_t *t, uint32_t i, uint32_t *err) {
  char ip[64];
  std::snprintf(ip, sizeof ip, "10.20.%u.%u", i, 10 + i);
  ip_address_set_value(h, kDb, tclas_t_src_ip_get(h, kDb, t, err), ip, err);
  std::snprintf(ip, sizeof ip, "2001:db8::%x:%x", 0x100 + i, 0x42 + i);
  ip_address_set_value(h, kDb, tclas_t_dst_ip_get(h, kDb, t, err), ip, err);
  tclas_t_src_port_set_value(h, kDb, t, uint16_t(5060 + i), err);
  tclas_t_dst_port_set_value(h, kDb, t, uint16_t(16384 + i), err);
  tclas_t_rate_set_value(h, kDb, t, 64000 + i, err);
  tclas_t_in_use_set_value(h, kDb, t, 1, err);
  tclas_t_classifier_mask_set_value(h, kDb, t, 0x5f, err);
  tclas_t_dscp_set_value(h, kDb, t, 46, err);
  tclas_t_protocol_set_value(h, kDb, t, 17, err);
}

void fill_tclas_set(mox_handle_t *h, tclas_set_t *s, uint32_t i, uint32_t *err) {
  tclas_set_t_in_use_set_value(h, kDb, s, 1, err);
  tclas_set_t_tspec_id_set_value(h, kDb, s, uint8_t(i + 1), err);
  tclas_set_t_processing_set_value(h, kDb, s, 1, err);
  tclas_set_t_user_priority_set_value(h, kDb, s, 6, err);
  tclas_set_t_npu_db_offset_set_value(h, kDb, s, uint16_t(0x200 + i), err);
  for (uint32_t k = 0; k < 3; ++k)
    fill_tclas(h, tclas_set_t_tclas_get(h, kDb, s, k, err), 3 * i + k, err);
  tclas_set_t_tclas_count_set_value(h, kDb, s, 3, err);
}

void fill_call(mox_handle_t *h, apf_call_record_t *r, uint32_t i, uint32_t *err) {
  char s[96];
  std::snprintf(s, sizeof s, "10.30.0.%u", 20 + i);
  ip_address_set_value(h, kDb, apf_call_record_t_uplink_dest_ip_address_get(h, kDb, r, err), s, err);
  std::snprintf(s, sizeof s, "2001:db8:0:7::%x", 0x30 + i);
  ip_address_set_value(h, kDb, apf_call_record_t_downlink_dest_ip_address_get(h, kDb, r, err), s, err);
  for (uint32_t k = 0; k < 2; ++k) {
    apf_call_record_t_uplink_dest_ip_port_set_value(h, kDb, r, k, 16384 + 2 * k + i, err);
    apf_call_record_t_downlink_dest_ip_port_set_value(h, kDb, r, k, 20000 + 2 * k + i, err);
  }
  std::snprintf(s, sizeof s, "a84b4c76e66710%u@pbx.corp.example.com", i);
  text(h, apf_call_record_t_call_id_get(h, kDb, r, err), s, err);
  text(h, apf_call_record_t_called_party_get(h, kDb, r, err), "sip:+14155550123@pbx.corp.example.com", err);
  text(h, apf_call_record_t_calling_party_get(h, kDb, r, err), "sip:alice.smith@corp.example.com", err);
  apf_call_record_t_wme_client_set_value(h, kDb, r, 1, err);
  apf_call_record_t_call_on_hold_set_value(h, kDb, r, i & 1, err);
  apf_call_record_t_call_code_set_value(h, kDb, r, 200, err);
  stamp(h, apf_call_record_t_call_established_timestamp_get(h, kDb, r, err), 1700001000 + i, err);
  apf_call_record_t_up_set_value(h, kDb, r, 6, err);
}

void fill_client(mox_handle_t *h, qos_client_data_t *c) {
  uint32_t err = 0;
  mac(h, qos_client_data_t_client_mac_get(h, kDb, c, &err), 0x10, &err);
  mac(h, qos_client_data_t_wtp_mac_get(h, kDb, c, &err), 0x20, &err);
  fill_policy(h, qos_client_data_t_client_installed_upstream_pm_get(h, kDb, c, &err), "platinum-voice-upstream", &err);
  fill_policy(h, qos_client_data_t_client_installed_downstream_pm_get(h, kDb, c, &err), "platinum-voice-downstream", &err);
  qos_client_data_t_local_mode_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_is_active_tspec_call_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_is_tspec_client_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_incomplete_assoc_request_set_value(h, kDb, c, 0, &err);
  stamp(h, qos_client_data_t_tspec_call_established_timestamp_get(h, kDb, c, &err), 1700001000, &err);
  for (uint32_t i = 0; i < 2; ++i)
    fill_tclas_set(h, qos_client_data_t_tclas_set_get(h, kDb, c, i, &err), i, &err);
  qos_client_data_t_bandwidth_alloc_set_value(h, kDb, c, 128000, &err);
  mac(h, qos_client_data_t_bw_alloc_ap_mac_get(h, kDb, c, &err), 0x30, &err);
  text(h, qos_client_data_t_bw_alloc_ap_name_get(h, kDb, c, &err), "ap-bldg2-floor3-east-17", &err);
  qos_client_data_t_bw_alloc_radio_slot_id_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_roam_call_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_is_tspec_renew_set_value(h, kDb, c, 1, &err);
  qos_client_data_t_active_sip_call_set_value(h, kDb, c, 1, &err);
  for (uint32_t i = 0; i < 2; ++i) {
    apf_call_record_t *r = apf_call_record_t_create(h, kDb);
    BENCH_CHECK(r != nullptr);
    fill_call(h, r, i, &err);
    qos_client_data_t_call_record_set(h, kDb, c, i, r, &err);
    apf_call_record_t_destroy(h, kDb, r);
  }
  aaa_qos_params_t *a = qos_client_data_t_aaa_qos_params_get(h, kDb, c, &err);
  aaa_qos_params_t_aaa_avgdtus_set_value(h, kDb, a, 1000, &err);
  aaa_qos_params_t_aaa_avgrtdtus_set_value(h, kDb, a, 2000, &err);
  aaa_qos_params_t_aaa_bstdtus_set_value(h, kDb, a, 3000, &err);
  aaa_qos_params_t_aaa_bstrtdtus_set_value(h, kDb, a, 4000, &err);
  aaa_qos_params_t_aaa_avgdtds_set_value(h, kDb, a, 5000, &err);
  aaa_qos_params_t_aaa_avgrtdtds_set_value(h, kDb, a, 6000, &err);
  aaa_qos_params_t_aaa_bstdtds_set_value(h, kDb, a, 7000, &err);
  aaa_qos_params_t_aaa_bstrtdtds_set_value(h, kDb, a, 8000, &err);
  aaa_qos_params_t_aaa_qos_profile_set_value(h, kDb, a, 2, &err);
  sip_wmm_data_t *s = qos_client_data_t_sip_wmm_data_get(h, kDb, c, &err);
  text(h, sip_wmm_data_t_sip_call_id_get(h, kDb, s, &err), "3c26700b8f21-q9kz@10.30.0.20", &err);
  sip_wmm_data_t_from_tx_set_value(h, kDb, s, 1, &err);
  sip_wmm_data_t_is_bw_allocated_set_value(h, kDb, s, 1, &err);
  sip_wmm_data_t_was_roamed_set_value(h, kDb, s, 0, &err);
  sip_wmm_data_t_is_pref_call_set_value(h, kDb, s, 1, &err);
  sip_wmm_data_t_allocated_medium_time_set_value(h, kDb, s, 3125, &err);
  sip_wmm_data_t_ac_set_value(h, kDb, s, 3, &err);
  sip_wmm_data_t_codec_code_set_value(h, kDb, s, 9, &err);
  sip_wmm_data_t_call_type_set_value(h, kDb, s, 1, &err);
  qos_client_data_t_bw_alloc_radio_band_info_set_value(h, kDb, c, ENM_RADIO_BAND_5GHZ, &err);
  BENCH_CHECK(err == 0);
  BENCH_CHECK(c->call_record_index == 2);
  BENCH_CHECK(mox_get_instance_variant(c, 1, 0) == 1);  // with bw_alloc_radio_band_info
}

void fill_key(mox_handle_t *h, qos_ap_radio_key_t *k) {
  uint32_t err = 0;
  qos_ap_radio_key_t_radio_slot_id_set_value(h, kDb, k, 1, &err);
  mac(h, qos_ap_radio_key_t_ap_mac_get(h, kDb, k, &err), 0x40, &err);
  BENCH_CHECK(err == 0);
}

// ---------------------------------------------------------------------------
// The operations of one type, as generated.

template <class T>
struct WireOps {
  const char *name;
  T *(*create)(mox_handle_t *, uint32_t);
  void (*destroy)(mox_handle_t *, uint32_t, T *);
  uint32_t (*len)(mox_handle_t *, uint32_t, const T *);
  uint32_t (*marshal)(mox_handle_t *, uint32_t, uint8_t *, const T *, int32_t, uint32_t *);
  uint32_t (*unmarshal)(mox_handle_t *, uint32_t, const uint8_t *, T *, int32_t, uint32_t, uint32_t *);
  int32_t (*compare)(const T *, const T *);
  void (*fill)(mox_handle_t *, T *);
};

const WireOps<qos_client_data_t> kClient = {
    "qos_client_data_t", qos_client_data_t_create, qos_client_data_t_destroy,
    qos_client_data_t_len, qos_client_data_t_marshal, qos_client_data_t_unmarshal,
    qos_client_data_t_compare, fill_client};
const WireOps<qos_ap_radio_key_t> kKey = {
    "qos_ap_radio_key_t", qos_ap_radio_key_t_create, qos_ap_radio_key_t_destroy,
    qos_ap_radio_key_t_len, qos_ap_radio_key_t_marshal, qos_ap_radio_key_t_unmarshal,
    qos_ap_radio_key_t_compare, fill_key};

// A handle of the given tracking mode with a filled record and its wire form.
// Built outside the timed loops.
template <class T>
struct Subject {
  const WireOps<T> &ops;
  orva_test::ScopedHandle h;
  T *src;
  std::vector<uint8_t> wire;

  Subject(const WireOps<T> &o, uint32_t mode) : ops(o), h(mode), src(o.create(h, kDb)) {
    BENCH_CHECK(src != nullptr);
    ops.fill(h, src);
    uint32_t err = 0;
    wire.resize(ops.len(h, kDb, src));
    uint32_t n = ops.marshal(h, kDb, wire.data(), src, int32_t(wire.size()), &err);
    BENCH_CHECK(err == 0);
    BENCH_CHECK(n > 0 && n <= wire.size());
    wire.resize(n);
  }
  ~Subject() { ops.destroy(h, kDb, src); }

  T *decode_fresh() {
    T *d = ops.create(h, kDb);
    BENCH_CHECK(d != nullptr);
    uint32_t err = 0;
    uint32_t used = ops.unmarshal(h, kDb, wire.data(), d, int32_t(wire.size()), 0, &err);
    BENCH_CHECK(err == 0 && used == wire.size());
    return d;
  }
  int32_t size() const { return int32_t(wire.size()); }
  uint64_t allocs() const { return h.alloc_stats().allocs; }
};

// The round trip of every subject, before anything is timed.
template <class T>
void self_check(const WireOps<T> &ops, uint32_t mode) {
  Subject<T> s(ops, mode);
  BENCH_CHECK(ops.len(s.h, kDb, s.src) >= s.wire.size());
  T *d = s.decode_fresh();
  BENCH_CHECK(ops.compare(s.src, d) == 0);
  uint32_t err = 0;
  uint32_t used = ops.unmarshal(s.h, kDb, s.wire.data(), d, s.size(), 1, &err);
  BENCH_CHECK(err == 0 && used == s.wire.size());
  BENCH_CHECK(ops.compare(s.src, d) == 0);
  std::vector<uint8_t> again(s.wire.size());
  BENCH_CHECK(ops.marshal(s.h, kDb, again.data(), d, int32_t(again.size()), &err) == s.wire.size());
  BENCH_CHECK(err == 0 && again == s.wire);
  ops.destroy(s.h, kDb, d);
}

// Allocation counts at the start of a timed loop.
struct Baseline {
  uint64_t record, heap;
};

template <class T>
Baseline baseline(const Subject<T> &s) {
  return {s.allocs(), g_heap_allocs};
}

template <class T>
void counters(benchmark::State &st, const Subject<T> &s, Baseline b, uint32_t errs) {
  uint64_t heap = g_heap_allocs - b.heap;
  if (errs != 0) st.SkipWithError("the operation reported an error");
  st.counters["bytes"] = double(s.wire.size());
  st.counters["allocs"] =
      benchmark::Counter(double(s.allocs() - b.record), benchmark::Counter::kAvgIterations);
  st.counters["heap_allocs"] = benchmark::Counter(double(heap), benchmark::Counter::kAvgIterations);
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(s.wire.size()));
}

// Times body (which returns the operation's error word) once per iteration
// and reports the counters.
template <class T, class Body>
void timed(benchmark::State &st, const Subject<T> &s, Body body) {
  uint32_t errs = 0;
  Baseline a0 = baseline(s);
  for (auto _ : st) errs |= body();
  counters(st, s, a0, errs);
}

template <class T>
void bm_len(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  timed(st, s, [&] {
    benchmark::DoNotOptimize(ops->len(s.h, kDb, s.src));
    return 0u;
  });
}

// marshal into a buffer of T_len bytes; with_len: T_len is part of the loop.
template <class T, bool with_len>
void bm_marshal(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  std::vector<uint8_t> buf(ops->len(s.h, kDb, s.src));
  timed(st, s, [&] {
    uint32_t err = 0;
    uint32_t n = with_len ? ops->len(s.h, kDb, s.src) : uint32_t(buf.size());
    benchmark::DoNotOptimize(ops->marshal(s.h, kDb, buf.data(), s.src, int32_t(n), &err));
    benchmark::ClobberMemory();
    return err;
  });
}

template <class T>
void bm_round_trip(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  std::vector<uint8_t> buf(ops->len(s.h, kDb, s.src));
  timed(st, s, [&] {
    uint32_t err = 0;
    uint32_t n = ops->len(s.h, kDb, s.src);
    n = ops->marshal(s.h, kDb, buf.data(), s.src, int32_t(n), &err);
    T *d = ops->create(s.h, kDb);
    benchmark::DoNotOptimize(ops->unmarshal(s.h, kDb, buf.data(), d, int32_t(n), 0, &err));
    ops->destroy(s.h, kDb, d);
    return err;
  });
}

template <class T>
void bm_unmarshal_fresh(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  timed(st, s, [&] {
    uint32_t err = 0;
    T *d = ops->create(s.h, kDb);
    benchmark::DoNotOptimize(ops->unmarshal(s.h, kDb, s.wire.data(), d, s.size(), 0, &err));
    ops->destroy(s.h, kDb, d);
    return err;
  });
}

template <class T>
void bm_create_destroy(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  timed(st, s, [&] {
    T *d = ops->create(s.h, kDb);
    benchmark::DoNotOptimize(d);
    ops->destroy(s.h, kDb, d);
    return 0u;
  });
}

template <class T>
void bm_unmarshal_in_place(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  T *d = s.decode_fresh();
  timed(st, s, [&] {
    uint32_t err = 0;
    benchmark::DoNotOptimize(ops->unmarshal(s.h, kDb, s.wire.data(), d, s.size(), 1, &err));
    return err;
  });
  ops->destroy(s.h, kDb, d);
}

template <class T>
void bm_memcpy(benchmark::State &st, const WireOps<T> *ops, uint32_t mode) {
  Subject<T> s(*ops, mode);
  std::vector<uint8_t> dst(s.wire.size());
  size_t n = s.wire.size();
  timed(st, s, [&] {
    benchmark::DoNotOptimize(n);  // a size the compiler cannot see: a real memcpy call
    std::memcpy(dst.data(), s.wire.data(), n);
    benchmark::ClobberMemory();
    return 0u;
  });
}

// ---------------------------------------------------------------------------
// The protobuf-c peer: the filled client record as a ClientData message.

// protobuf-c's allocator, counting (malloc underneath, like its default one).
uint64_t g_pb_allocs = 0;
void *pb_alloc(void *, size_t n) {
  ++g_pb_allocs;
  return std::malloc(n);
}
void pb_free(void *, void *p) { std::free(p); }
ProtobufCAllocator g_pb_allocator = {pb_alloc, pb_free, nullptr};

ProtobufCBinaryData bin(const uint8_t *p, size_t n) { return {n, const_cast<uint8_t *>(p)}; }
ProtobufCBinaryData bin(const mox_mac_addr_t &m) { return bin(m.octet, sizeof m.octet); }
ProtobufCBinaryData bin(const ip_address_t &a) {
  return bin(a.addr, a.family == MOX_IP_V4 ? 4 : a.family == MOX_IP_V6 ? 16 : 0);
}
char *str(const mox_vstring_t &s) {
  return s.str != nullptr ? s.str : const_cast<char *>(protobuf_c_empty_string);
}

// A message tree holding the values of a qos_client_data_t.  Strings,
// addresses and arrays point into the record, which must outlive the tree.
struct PbClient {
  OrvaBench__ClientData msg;
  OrvaBench__ClientPolicy pm[2];
  OrvaBench__TclasSet set[2];
  OrvaBench__TclasSet *set_p[2];
  OrvaBench__Tclas tclas[2][3];
  OrvaBench__Tclas *tclas_p[2][3];
  std::vector<OrvaBench__CallRecord> call;
  std::vector<OrvaBench__CallRecord *> call_p;
  OrvaBench__AaaQosParams aaa;
  OrvaBench__SipWmmData sip;
  std::deque<OrvaBench__CalendarTime> stamps;  // stable addresses

  explicit PbClient(const qos_client_data_t *c);
  PbClient(const PbClient &) = delete;
  PbClient &operator=(const PbClient &) = delete;

  OrvaBench__CalendarTime *stamp(const calendar_time_t &t) {
    OrvaBench__CalendarTime &m = stamps.emplace_back();
    orva_bench__calendar_time__init(&m);
    m.sec = t.sec;
    m.usec = t.usec;
    return &m;
  }
  OrvaBench__ClientPolicy *policy(OrvaBench__ClientPolicy *p, const qos_client_policy_t &s) {
    orva_bench__client_policy__init(p);
    p->qos_pm_name = str(s.qos_pm_name);
    p->qos_pm_name_sent_to_ap = str(s.qos_pm_name_sent_to_ap);
    p->qos_pm_sent_ap_name = str(s.qos_pm_sent_ap_name);
    p->qos_pm_state = s.qos_pm_state.value;
    p->qos_pm_type = s.qos_pm_type.value;
    p->qos_pm_status_str = str(s.qos_pm_status_str);
    p->qos_pm_bind_timestamp = stamp(s.qos_pm_bind_timestamp);
    p->pm_idx_sent_to_ap = bin(s.pm_idx_sent_to_ap, sizeof s.pm_idx_sent_to_ap);
    p->stats_last_cleared_timestamp = stamp(s.stats_last_cleared_timestamp);
    return p;
  }
};

PbClient::PbClient(const qos_client_data_t *c) : call(c->call_record_index), call_p(c->call_record_index) {
  OrvaBench__ClientData *m = &msg;
  orva_bench__client_data__init(m);
  m->client_mac = bin(c->client_mac);
  m->wtp_mac = bin(c->wtp_mac);
  m->client_installed_upstream_pm = policy(&pm[0], c->client_installed_upstream_pm);
  m->client_installed_downstream_pm = policy(&pm[1], c->client_installed_downstream_pm);
  m->local_mode = c->local_mode;
  m->is_active_tspec_call = c->is_active_tspec_call;
  m->is_tspec_client = c->is_tspec_client;
  m->incomplete_assoc_request = c->incomplete_assoc_request;
  m->tspec_call_established_timestamp = stamp(c->tspec_call_established_timestamp);
  for (int i = 0; i < 2; ++i) {
    const tclas_set_t &s = c->tclas_set[i];
    OrvaBench__TclasSet *ps = set_p[i] = &set[i];
    orva_bench__tclas_set__init(ps);
    ps->in_use = s.in_use;
    ps->tspec_id = s.tspec_id;
    ps->processing = s.processing;
    ps->user_priority = s.user_priority;
    ps->npu_db_offset = s.npu_db_offset;
    for (int k = 0; k < 3; ++k) {
      const tclas_t &t = s.tclas[k];
      OrvaBench__Tclas *pt = tclas_p[i][k] = &tclas[i][k];
      orva_bench__tclas__init(pt);
      pt->src_ip = bin(t.src_ip);
      pt->dst_ip = bin(t.dst_ip);
      pt->src_port = t.src_port;
      pt->dst_port = t.dst_port;
      pt->rate = t.rate;
      pt->in_use = t.in_use;
      pt->classifier_mask = t.classifier_mask;
      pt->dscp = t.dscp;
      pt->protocol = t.protocol;
    }
    ps->n_tclas = 3;
    ps->tclas = tclas_p[i];
    ps->tclas_count = s.tclas_count;
  }
  m->n_tclas_set = 2;
  m->tclas_set = set_p;
  m->bandwidth_alloc = c->bandwidth_alloc;
  m->bw_alloc_ap_mac = bin(c->bw_alloc_ap_mac);
  m->bw_alloc_ap_name = str(c->bw_alloc_ap_name);
  m->bw_alloc_radio_slot_id = c->bw_alloc_radio_slot_id;
  m->roam_call = c->roam_call;
  m->is_tspec_renew = c->is_tspec_renew;
  m->active_sip_call = c->active_sip_call;
  for (size_t i = 0; i < call.size(); ++i) {
    const apf_call_record_t &r = c->call_record[i];
    OrvaBench__CallRecord *pr = call_p[i] = &call[i];
    orva_bench__call_record__init(pr);
    pr->uplink_dest_ip_address = bin(r.uplink_dest_ip_address);
    pr->downlink_dest_ip_address = bin(r.downlink_dest_ip_address);
    pr->n_uplink_dest_ip_port = 2;
    pr->uplink_dest_ip_port = const_cast<uint32_t *>(r.uplink_dest_ip_port);
    pr->n_downlink_dest_ip_port = 2;
    pr->downlink_dest_ip_port = const_cast<uint32_t *>(r.downlink_dest_ip_port);
    pr->call_id = str(r.call_id);
    pr->called_party = str(r.called_party);
    pr->calling_party = str(r.calling_party);
    pr->wme_client = r.wme_client;
    pr->call_on_hold = r.call_on_hold;
    pr->call_code = r.call_code;
    pr->call_established_timestamp = stamp(r.call_established_timestamp);
    pr->up = r.up;
  }
  m->n_call_record = call_p.size();
  m->call_record = call_p.data();
  const aaa_qos_params_t &a = c->aaa_qos_params;
  orva_bench__aaa_qos_params__init(&aaa);
  aaa.aaa_avgdtus = a.aaa_avgdtus;
  aaa.aaa_avgrtdtus = a.aaa_avgrtdtus;
  aaa.aaa_bstdtus = a.aaa_bstdtus;
  aaa.aaa_bstrtdtus = a.aaa_bstrtdtus;
  aaa.aaa_avgdtds = a.aaa_avgdtds;
  aaa.aaa_avgrtdtds = a.aaa_avgrtdtds;
  aaa.aaa_bstdtds = a.aaa_bstdtds;
  aaa.aaa_bstrtdtds = a.aaa_bstrtdtds;
  aaa.aaa_qos_profile = a.aaa_qos_profile;
  m->aaa_qos_params = &aaa;
  const sip_wmm_data_t &w = c->sip_wmm_data;
  orva_bench__sip_wmm_data__init(&sip);
  sip.sip_call_id = str(w.sip_call_id);
  sip.from_tx = w.from_tx;
  sip.is_bw_allocated = w.is_bw_allocated;
  sip.was_roamed = w.was_roamed;
  sip.is_pref_call = w.is_pref_call;
  sip.allocated_medium_time = w.allocated_medium_time;
  sip.ac = w.ac;
  sip.codec_code = w.codec_code;
  sip.call_type = w.call_type;
  m->sip_wmm_data = &sip;
  m->bw_alloc_radio_band_info = c->bw_alloc_radio_band_info.value;
}

// The values of an unpacked message against the record they came from, field
// by field: a round trip through protobuf-c loses nothing.
bool same(const ProtobufCBinaryData &b, ProtobufCBinaryData want) {
  return b.len == want.len && (b.len == 0 || std::memcmp(b.data, want.data, b.len) == 0);
}
bool same(const char *s, const mox_vstring_t &want) { return std::strcmp(s, str(want)) == 0; }
bool same(const OrvaBench__CalendarTime *t, const calendar_time_t &want) {
  return t != nullptr && t->sec == want.sec && t->usec == want.usec;
}

void check_policy(const OrvaBench__ClientPolicy *p, const qos_client_policy_t &s) {
  BENCH_CHECK(p != nullptr);
  BENCH_CHECK(same(p->qos_pm_name, s.qos_pm_name));
  BENCH_CHECK(same(p->qos_pm_name_sent_to_ap, s.qos_pm_name_sent_to_ap));
  BENCH_CHECK(same(p->qos_pm_sent_ap_name, s.qos_pm_sent_ap_name));
  BENCH_CHECK(same(p->qos_pm_status_str, s.qos_pm_status_str));
  BENCH_CHECK(p->qos_pm_state == s.qos_pm_state.value && p->qos_pm_type == s.qos_pm_type.value);
  BENCH_CHECK(same(p->qos_pm_bind_timestamp, s.qos_pm_bind_timestamp));
  BENCH_CHECK(same(p->pm_idx_sent_to_ap, bin(s.pm_idx_sent_to_ap, sizeof s.pm_idx_sent_to_ap)));
  BENCH_CHECK(same(p->stats_last_cleared_timestamp, s.stats_last_cleared_timestamp));
}

void check_client(const OrvaBench__ClientData *m, const qos_client_data_t *c) {
  BENCH_CHECK(same(m->client_mac, bin(c->client_mac)) && same(m->wtp_mac, bin(c->wtp_mac)));
  check_policy(m->client_installed_upstream_pm, c->client_installed_upstream_pm);
  check_policy(m->client_installed_downstream_pm, c->client_installed_downstream_pm);
  BENCH_CHECK(bool(m->local_mode) == bool(c->local_mode) &&
              bool(m->is_active_tspec_call) == bool(c->is_active_tspec_call));
  BENCH_CHECK(bool(m->is_tspec_client) == bool(c->is_tspec_client) &&
              bool(m->incomplete_assoc_request) == bool(c->incomplete_assoc_request));
  BENCH_CHECK(same(m->tspec_call_established_timestamp, c->tspec_call_established_timestamp));
  BENCH_CHECK(m->n_tclas_set == 2);
  for (int i = 0; i < 2; ++i) {
    const OrvaBench__TclasSet *ps = m->tclas_set[i];
    const tclas_set_t &s = c->tclas_set[i];
    BENCH_CHECK(bool(ps->in_use) == bool(s.in_use) && ps->tspec_id == s.tspec_id);
    BENCH_CHECK(ps->processing == s.processing);
    BENCH_CHECK(ps->user_priority == s.user_priority && ps->npu_db_offset == s.npu_db_offset);
    BENCH_CHECK(ps->tclas_count == s.tclas_count && ps->n_tclas == 3);
    for (int k = 0; k < 3; ++k) {
      const OrvaBench__Tclas *pt = ps->tclas[k];
      const tclas_t &t = s.tclas[k];
      BENCH_CHECK(same(pt->src_ip, bin(t.src_ip)) && same(pt->dst_ip, bin(t.dst_ip)));
      BENCH_CHECK(pt->src_port == t.src_port && pt->dst_port == t.dst_port && pt->rate == t.rate);
      BENCH_CHECK(bool(pt->in_use) == bool(t.in_use) && pt->classifier_mask == t.classifier_mask);
      BENCH_CHECK(pt->dscp == t.dscp && pt->protocol == t.protocol);
    }
  }
  BENCH_CHECK(m->bandwidth_alloc == c->bandwidth_alloc);
  BENCH_CHECK(same(m->bw_alloc_ap_mac, bin(c->bw_alloc_ap_mac)));
  BENCH_CHECK(same(m->bw_alloc_ap_name, c->bw_alloc_ap_name));
  BENCH_CHECK(m->bw_alloc_radio_slot_id == c->bw_alloc_radio_slot_id && m->roam_call == c->roam_call);
  BENCH_CHECK(m->is_tspec_renew == c->is_tspec_renew && m->active_sip_call == c->active_sip_call);
  BENCH_CHECK(m->n_call_record == c->call_record_index);
  for (size_t i = 0; i < m->n_call_record; ++i) {
    const OrvaBench__CallRecord *pr = m->call_record[i];
    const apf_call_record_t &r = c->call_record[i];
    BENCH_CHECK(same(pr->uplink_dest_ip_address, bin(r.uplink_dest_ip_address)));
    BENCH_CHECK(same(pr->downlink_dest_ip_address, bin(r.downlink_dest_ip_address)));
    BENCH_CHECK(pr->n_uplink_dest_ip_port == 2 && pr->n_downlink_dest_ip_port == 2);
    for (int k = 0; k < 2; ++k)
      BENCH_CHECK(pr->uplink_dest_ip_port[k] == r.uplink_dest_ip_port[k] &&
                  pr->downlink_dest_ip_port[k] == r.downlink_dest_ip_port[k]);
    BENCH_CHECK(same(pr->call_id, r.call_id) && same(pr->called_party, r.called_party) &&
                same(pr->calling_party, r.calling_party));
    BENCH_CHECK(bool(pr->wme_client) == bool(r.wme_client));
    BENCH_CHECK(bool(pr->call_on_hold) == bool(r.call_on_hold));
    BENCH_CHECK(pr->call_code == r.call_code && pr->up == r.up);
    BENCH_CHECK(same(pr->call_established_timestamp, r.call_established_timestamp));
  }
  const OrvaBench__AaaQosParams *pa = m->aaa_qos_params;
  const aaa_qos_params_t &a = c->aaa_qos_params;
  BENCH_CHECK(pa != nullptr);
  BENCH_CHECK(pa->aaa_avgdtus == a.aaa_avgdtus && pa->aaa_avgrtdtus == a.aaa_avgrtdtus);
  BENCH_CHECK(pa->aaa_bstdtus == a.aaa_bstdtus && pa->aaa_bstrtdtus == a.aaa_bstrtdtus);
  BENCH_CHECK(pa->aaa_avgdtds == a.aaa_avgdtds && pa->aaa_avgrtdtds == a.aaa_avgrtdtds);
  BENCH_CHECK(pa->aaa_bstdtds == a.aaa_bstdtds && pa->aaa_bstrtdtds == a.aaa_bstrtdtds);
  BENCH_CHECK(pa->aaa_qos_profile == a.aaa_qos_profile);
  const OrvaBench__SipWmmData *pw = m->sip_wmm_data;
  const sip_wmm_data_t &w = c->sip_wmm_data;
  BENCH_CHECK(pw != nullptr && same(pw->sip_call_id, w.sip_call_id));
  BENCH_CHECK(bool(pw->from_tx) == bool(w.from_tx) && bool(pw->is_bw_allocated) == bool(w.is_bw_allocated));
  BENCH_CHECK(bool(pw->was_roamed) == bool(w.was_roamed) && bool(pw->is_pref_call) == bool(w.is_pref_call));
  BENCH_CHECK(pw->allocated_medium_time == w.allocated_medium_time && pw->ac == w.ac);
  BENCH_CHECK(pw->codec_code == w.codec_code && pw->call_type == w.call_type);
  BENCH_CHECK(m->bw_alloc_radio_band_info == c->bw_alloc_radio_band_info.value);
}

// The filled client record (tracking off), its message tree and packed form.
struct PbSubject {
  Subject<qos_client_data_t> rec{kClient, MOX_STTR_OFF};
  PbClient tree{rec.src};
  std::vector<uint8_t> wire;

  PbSubject() : wire(orva_bench__client_data__get_packed_size(&tree.msg)) {
    BENCH_CHECK(orva_bench__client_data__pack(&tree.msg, wire.data()) == wire.size());
  }
  OrvaBench__ClientData *unpack(const uint8_t *data, size_t n) const {
    return orva_bench__client_data__unpack(&g_pb_allocator, n, data);
  }
};

void pb_self_check() {
  PbSubject s;
  OrvaBench__ClientData *m = s.unpack(s.wire.data(), s.wire.size());
  BENCH_CHECK(m != nullptr);
  check_client(m, s.rec.src);
  std::vector<uint8_t> again(orva_bench__client_data__get_packed_size(m));
  BENCH_CHECK(orva_bench__client_data__pack(m, again.data()) == again.size());
  BENCH_CHECK(again == s.wire);
  orva_bench__client_data__free_unpacked(m, &g_pb_allocator);
}

enum class PbOp { get_packed_size, pack, encode, unpack_free, round_trip };

void bm_pb(benchmark::State &st, PbOp op) {
  PbSubject s;
  const OrvaBench__ClientData *msg = &s.tree.msg;
  std::vector<uint8_t> buf(s.wire.size());
  uint64_t pb0 = g_pb_allocs, heap0 = g_heap_allocs;
  bool failed = false;
  for (auto _ : st) {
    switch (op) {
      case PbOp::get_packed_size:
        benchmark::DoNotOptimize(orva_bench__client_data__get_packed_size(msg));
        break;
      case PbOp::pack:
        benchmark::DoNotOptimize(orva_bench__client_data__pack(msg, buf.data()));
        benchmark::ClobberMemory();
        break;
      case PbOp::encode: {
        size_t n = orva_bench__client_data__get_packed_size(msg);
        if (n > buf.size()) buf.resize(n);
        benchmark::DoNotOptimize(orva_bench__client_data__pack(msg, buf.data()));
        benchmark::ClobberMemory();
        break;
      }
      case PbOp::unpack_free: {
        OrvaBench__ClientData *m = s.unpack(s.wire.data(), s.wire.size());
        failed |= m == nullptr;
        orva_bench__client_data__free_unpacked(m, &g_pb_allocator);
        break;
      }
      case PbOp::round_trip: {
        size_t n = orva_bench__client_data__get_packed_size(msg);
        if (n > buf.size()) buf.resize(n);
        n = orva_bench__client_data__pack(msg, buf.data());
        OrvaBench__ClientData *m = s.unpack(buf.data(), n);
        failed |= m == nullptr;
        orva_bench__client_data__free_unpacked(m, &g_pb_allocator);
        break;
      }
    }
  }
  if (failed) st.SkipWithError("unpack failed");
  st.counters["bytes"] = double(s.wire.size());
  st.counters["allocs"] = benchmark::Counter(double(g_pb_allocs - pb0), benchmark::Counter::kAvgIterations);
  st.counters["heap_allocs"] =
      benchmark::Counter(double(g_heap_allocs - heap0), benchmark::Counter::kAvgIterations);
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(s.wire.size()));
}

long fixed_iterations() {
  const char *v = std::getenv("WIRE_BENCH_ITERATIONS");
  return v != nullptr ? std::strtol(v, nullptr, 10) : 0;
}

template <class T>
void register_type(const WireOps<T> &ops) {
  using Fn = void (*)(benchmark::State &, const WireOps<T> *, uint32_t);
  static const struct {
    const char *op;
    Fn fn;
  } kOps[] = {{"len", bm_len<T>},
              {"marshal", bm_marshal<T, false>},
              {"encode", bm_marshal<T, true>},
              {"round_trip", bm_round_trip<T>},
              {"unmarshal_fresh", bm_unmarshal_fresh<T>},
              {"create_destroy", bm_create_destroy<T>},
              {"unmarshal_in_place", bm_unmarshal_in_place<T>},
              {"memcpy", bm_memcpy<T>}};
  long iters = fixed_iterations();
  for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
    for (const auto &o : kOps) {
      std::string name = std::string(ops.name) + (mode == MOX_STTR_ON ? "/sttr_on/" : "/sttr_off/") + o.op;
      auto *b = benchmark::RegisterBenchmark(name.c_str(), o.fn, &ops, mode);
      if (iters > 0) b->Iterations(iters);
    }
  }
}

void register_pb() {
  static const struct {
    const char *op;
    PbOp pb;
  } kOps[] = {{"get_packed_size", PbOp::get_packed_size},
              {"pack", PbOp::pack},
              {"encode", PbOp::encode},
              {"unpack_free", PbOp::unpack_free},
              {"round_trip", PbOp::round_trip}};
  long iters = fixed_iterations();
  for (const auto &o : kOps) {
    std::string name = std::string(kClient.name) + "/protobuf_c/" + o.op;
    auto *b = benchmark::RegisterBenchmark(name.c_str(), bm_pb, o.pb);
    if (iters > 0) b->Iterations(iters);
  }
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (uint32_t mode : {MOX_STTR_OFF, MOX_STTR_ON}) {
    self_check(kClient, mode);
    self_check(kKey, mode);
  }
  pb_self_check();
  register_type(kClient);
  register_pb();
  register_type(kKey);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
