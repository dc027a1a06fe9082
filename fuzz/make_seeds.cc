// Writes the seed corpus of the wire fuzzer: for every record type and every
// state-tracking configuration (none, off, on), the encodings of records
// filled from a few seeds and of an untouched (freshly created) record, each
// prefixed with the selector byte the fuzzer reads; and pairs of such
// encodings back to back, for the fuzzer's decode of a second record in place
// over the first.  With --xml it writes the seeds of the XML fuzzer instead:
// the same selector byte followed by the record's XML rendering (with state
// flags when tracking is on), without pairs.  With --frames it writes the
// seeds of the frame fuzzer: for each of its message decoders and tracking
// configurations, the frame selector byte and the frame of a message whose
// payload is left as created or filled from seeds 1 to 3, at payload
// variants 0 and 1; then for every table (the harness's two entries per
// table, in the framing table's order) the table-record frame and the
// primary key of a record as created and filled from seeds 1 to 3.
//
//   make_seeds [--xml | --frames] <corpus-dir>

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "catalogue_descriptors.h"
#include "fuzz_support.h"
#include "record_fill.h"
#include "serial/wire.h"
#include "serial/xml.h"
#include "tables/framing.h"
#include "types/lifecycle.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
constexpr uint32_t kFillSeeds[] = {0, 1, 2, 3};  // 0: as created
// Pairs of fill seeds whose records are decoded one over the other.
constexpr uint32_t kPairs[][2] = {{1, 2}, {2, 0}, {3, 1}};

bool write_seed(const std::string &dir, const std::string &name, uint32_t mode_index,
                const std::string &what, const std::vector<uint8_t> &bytes) {
  std::string path = dir + "/" + name + "-m" + std::to_string(mode_index) + "-" + what;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// The XML rendering of obj; empty on an engine error.
std::vector<uint8_t> rendering(const orva::TypeDesc &t, mox_handle_t *h, const void *obj) {
  for (int32_t room = 4096;; room *= 2) {
    std::vector<uint8_t> out(room);
    uint32_t err = 0;
    uint32_t n = orva::record_to_xml(t, h, kDb, t.name, reinterpret_cast<char *>(out.data()),
                                     obj, room, 0, &err);
    if (err == 0) return out.resize(n), out;
    if (err != 90 || room > (64 << 20)) {
      std::fprintf(stderr, "make_seeds: %s: render error %u\n", t.name, err);
      return {};
    }
  }
}

// The encoding (or with xml the rendering) of a record of t (filled from
// seed, or left as created for seed 0); empty on an engine error.
std::vector<uint8_t> encoding(const orva::TypeDesc &t, uint32_t mode_index, uint32_t seed,
                              bool xml) {
  orva_fuzz::Handle h(orva_fuzz::kModes[mode_index]);
  void *obj = orva::record_create(t, h, kDb);
  if (obj == nullptr) return {};
  if (seed != 0) orva_test::fill_record(t, h, kDb, obj, seed);
  if (xml) {
    std::vector<uint8_t> out = rendering(t, h, obj);
    orva::record_destroy(t, h, kDb, obj);
    return out;
  }
  uint32_t len = orva::record_len(t, h, kDb, obj);
  std::vector<uint8_t> out(len);
  uint32_t err = 0;
  uint32_t n = orva::record_marshal(t, h, kDb, out.data(), obj, static_cast<int32_t>(len), 1, &err);
  orva::record_destroy(t, h, kDb, obj);
  if (err != 0) {
    std::fprintf(stderr, "make_seeds: %s mode %u seed %u: marshal error %u\n", t.name, mode_index,
                 seed, err);
    return {};
  }
  out.resize(n);
  return out;
}

// The frame of a message whose payload (at variant v) is filled from seed,
// or left as created for seed 0; empty on an engine error.
std::vector<uint8_t> message_frame(uint32_t mode_index, int32_t v, uint32_t seed) {
  orva_fuzz::Handle h(orva_fuzz::kModes[mode_index]);
  mox_domain_set_variant(h, _qos_client_call_data_type_info_internal.luid_text, v);
  qos_client_data_message_t *m = qos_client_data_message_create(h, kDb);
  if (m == nullptr) return {};
  if (seed != 0) orva_test::fill_record(orva::k_qos_client_call_data, h, kDb, m->payload, seed);
  mox_domain_reset(h);
  std::vector<uint8_t> out(qos_client_data_message_len(h, kDb, m));
  uint32_t err = 0;
  out.resize(qos_client_data_message_marshal(h, kDb, out.data(), m, static_cast<int32_t>(out.size()), &err));
  qos_client_data_message_destroy(h, kDb, m);
  if (err != 0) std::fprintf(stderr, "make_seeds: message mode %u seed %u: marshal error %u\n", mode_index, seed, err);
  return err != 0 ? std::vector<uint8_t>{} : out;
}

// The frame and the primary key of a table record of f filled from seed
// (each carried record from its own seed), or as created for seed 0; empty
// on an engine error.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> table_frames(const orva::TableFraming &f,
                                                                   uint32_t mode_index, uint32_t seed) {
  orva_fuzz::Handle h(orva_fuzz::kModes[mode_index]);
  void *rec = f.record_create(h, 1);
  if (rec == nullptr) return {};
  for (uint32_t s = 0; s < (f.table->composite ? 2u : 1u) && seed != 0; ++s)
    orva_test::fill_record(s == 0 ? *f.table->data : *f.table->key_record, h, kDb,
                           orva::table_record_slot(*f.table, rec, s), seed + s);
  std::vector<uint8_t> frame(f.len(h, kDb, rec)), key(frame.size());
  uint32_t err = 0;
  frame.resize(f.marshal(h, kDb, frame.data(), rec, static_cast<int32_t>(frame.size()), &err));
  key.resize(f.pkey_marshal(h, kDb, key.data(), rec, static_cast<int32_t>(key.size()), &err));
  f.destroy(h, kDb, rec, &err);
  if (err != 0) {
    std::fprintf(stderr, "make_seeds: %s mode %u seed %u: error %u\n", f.table->name, mode_index, seed, err);
    return {};
  }
  return {frame, key};
}

// The frame fuzzer's seeds; false on an engine or file error.
bool frame_seeds(const std::string &dir, uint32_t &written) {
  bool ok = true;
  for (uint32_t mi = 0; mi < orva_fuzz::kModeCount; ++mi)
    for (int32_t v : {0, 1})
      for (uint32_t seed : kFillSeeds) {
        std::vector<uint8_t> frame = message_frame(mi, v, seed);
        if (frame.empty()) ok = false;
        for (uint32_t d = 0; d < orva_fuzz::kMessageDecoders && !frame.empty(); ++d) {
          std::vector<uint8_t> bytes{orva_fuzz::frame_selector(d, mi)};
          bytes.insert(bytes.end(), frame.begin(), frame.end());
          std::string what = "v" + std::to_string(v) + "s" + std::to_string(seed);
          if (write_seed(dir, "message" + std::to_string(d), mi, what, bytes)) ++written;
          else ok = false;
        }
      }
  for (size_t ti = 0; ti < orva::kTableFramingCount; ++ti) {
    const orva::TableFraming &f = orva::kTableFramings[ti];
    for (uint32_t mi = 0; mi < orva_fuzz::kModeCount; ++mi)
      for (uint32_t seed : kFillSeeds) {
        auto frames = table_frames(f, mi, seed);
        if (frames.first.empty()) ok = false;
        for (uint32_t k = 0; k < 2 && !frames.first.empty(); ++k) {
          const auto d = static_cast<uint32_t>(orva_fuzz::kMessageDecoders + 2 * ti + k);
          std::vector<uint8_t> bytes{orva_fuzz::frame_selector(d, mi)};
          const std::vector<uint8_t> &body = k == 0 ? frames.first : frames.second;
          bytes.insert(bytes.end(), body.begin(), body.end());
          if (write_seed(dir, f.table->name + std::string(k == 0 ? "" : "-key"), mi,
                         "s" + std::to_string(seed), bytes)) ++written;
          else ok = false;
        }
      }
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  const bool xml = argc == 3 && std::string(argv[1]) == "--xml";
  const bool frames = argc == 3 && std::string(argv[1]) == "--frames";
  if (argc != 2 && !xml && !frames) {
    std::fprintf(stderr, "usage: %s [--xml | --frames] <corpus-dir>\n", argv[0]);
    return 2;
  }
  mox_trace_set_stderr(0);
  std::string dir = argv[argc - 1];
  uint32_t written = 0;
  bool ok = true;
  if (frames) ok = frame_seeds(dir, written);
  for (uint32_t ti = 0; ti < orva::kTypeCount && !frames; ++ti) {
    const orva::TypeDesc &t = *orva::kTypes[ti];
    for (uint32_t mi = 0; mi < orva_fuzz::kModeCount; ++mi) {
      std::vector<uint8_t> enc[std::size(kFillSeeds)];
      for (uint32_t seed : kFillSeeds) {
        enc[seed] = encoding(t, mi, seed, xml);
        if (enc[seed].empty()) ok = false;
      }
      auto emit = [&](const std::string &what, std::initializer_list<uint32_t> seeds) {
        std::vector<uint8_t> bytes{orva_fuzz::selector(ti, mi)};
        for (uint32_t seed : seeds) {
          if (enc[seed].empty()) return;
          bytes.insert(bytes.end(), enc[seed].begin(), enc[seed].end());
        }
        if (write_seed(dir, t.name, mi, what, bytes))
          ++written;
        else
          ok = false;
      };
      for (uint32_t seed : kFillSeeds) emit("s" + std::to_string(seed), {seed});
      for (const auto &p : kPairs)
        if (!xml) emit("s" + std::to_string(p[0]) + "s" + std::to_string(p[1]), {p[0], p[1]});
    }
    mox_trace_clear();
  }
  // The filler reports engine failures as gtest failures outside any test.
  if (::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed()) ok = false;
  std::printf("make_seeds: %u seeds in %s\n", written, dir.c_str());
  return ok ? 0 : 1;
}
