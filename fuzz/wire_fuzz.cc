// libFuzzer harness of the wire decoder.
//
// Input: one selector byte, then wire bytes.  The selector picks the record
// type (kTypes order) and the handle's state-tracking configuration (none,
// off, on).  The wire bytes are decoded as one record A; whatever follows the
// bytes that decode consumed is a second record B.  For each input the harness
//
//   1. creates a destination and decodes A into it (fresh);
//   2. when that succeeded, re-encodes the record into a heap buffer of
//      exactly record_len bytes: marshal must succeed, stay within it, and
//      may run short of room only for the ra-data blocks that record_len does
//      not count (9 bytes per record carrying RA_DATA);
//   3. decodes that encoding into a second record and encodes it again: the
//      two encodings must be identical (decode and encode are inverse on
//      what the encoder produced);
//   4. decodes A a second time into the first record in place; the decode
//      must succeed and the encoding must not change;
//   5. when bytes follow A: decodes B fresh into a third record, and in place
//      over the first record (which holds A: other strings, counts, list
//      lengths and variants to release or reuse).  When the fresh decode
//      succeeds the in-place one must too, consuming the same bytes; without
//      state tracking on (where a wire form without state bytes leaves the old
//      ones) and without ra-data flags left from A (flags are OR-ed in), both
//      must encode alike;
//   6. destroys every record: the handle's live record storage must be back
//      to zero.
//
// Every broken expectation aborts, so libFuzzer reports it with the input.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "serial/wire.h"
#include "types/lifecycle.h"

namespace {

using orva::TypeDesc;
constexpr uint32_t kDb = MOX_NO_DB;

// The input's type.
const TypeDesc *g_t;
using orva_fuzz::expect;
using orva_fuzz::g_mode;

struct Encoding {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
  bool operator==(const Encoding &o) const { return size == o.size && !std::memcmp(bytes.get(), o.bytes.get(), size); }
};

// Encodes obj into an exact-size heap buffer of record_len bytes (a write past
// it is an AddressSanitizer report), plus the ra-data blocks when the first
// attempt runs out of room.
Encoding encode(mox_handle_t *h, const void *obj) {
  const TypeDesc &t = *g_t;
  Encoding out;
  uint32_t err = 0;
  for (uint32_t room = orva::record_len(t, h, kDb, obj), ra = 0;; room += ra * orva_fuzz::kRaBlockLen) {
    out.bytes.reset(new uint8_t[room]);
    out.size = orva::record_marshal(t, h, kDb, out.bytes.get(), obj, static_cast<int32_t>(room), 1, &(err = 0));
    expect(out.size <= room, "marshal wrote past the buffer length", out.size, room);
    if (err != 90 || ra != 0) break;
    ra = orva_fuzz::ra_records(t, obj);
    expect(ra != 0, "marshal needs more than record_len without ra-data", room);
  }
  expect(err == 0, "marshal of a decoded record fails", err);
  return out;
}

void *create(mox_handle_t *h) {
  void *obj = orva::record_create(*g_t, h, kDb);
  expect(obj != nullptr, "record_create failed");
  return obj;
}

// Decodes len bytes into obj (fresh or in place): the bytes used, err set.
uint32_t decode(mox_handle_t *h, const uint8_t *in, uint32_t len, void *obj, bool in_place, uint32_t &err) {
  const uint32_t used = orva::record_unmarshal(*g_t, h, kDb, in, obj, int32_t(len), in_place, &(err = 0));
  expect(used <= len, "unmarshal consumed more than its input", used, len);
  return used;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  orva_fuzz::g_fuzzer = "wire_fuzz";
  mox_trace_set_stderr(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 0x7FFFFFFF) return 0;
  const uint32_t sel = data[0] % orva_fuzz::selector_count(), len = uint32_t(size - 1);
  const TypeDesc &t = *(g_t = orva::kTypes[sel / orva_fuzz::kModeCount]);
  orva_fuzz::g_subject = t.name;
  g_mode = orva_fuzz::kModes[sel % orva_fuzz::kModeCount];
  const uint8_t *wire = data + 1;
  mox_trace_clear();
  orva_fuzz::Handle h(g_mode);
  {
    void *obj = create(h);
    uint32_t err = 0, e2 = 0;
    const uint32_t used = decode(h, wire, len, obj, false, err);
    if (err == 0) {
      const Encoding first = encode(h, obj);
      void *copy = create(h);
      expect(decode(h, first.bytes.get(), first.size, copy, false, e2) == first.size && e2 == 0,
             "own encoding does not decode to its length", e2, first.size);
      expect(encode(h, copy) == first, "re-encoding of the decoded encoding differs");
      orva::record_destroy(t, h, kDb, copy);
      expect(decode(h, wire, len, obj, true, e2) == used && e2 == 0, "in-place decode of a decodable input", e2);
      expect(encode(h, obj) == first, "in-place decode of the same input changed the encoding");
      if (used < len) {
        const bool old_ra = orva_fuzz::ra_records(t, obj) != 0;
        void *fresh = create(h);
        uint32_t ferr = 0;
        const uint32_t fused = decode(h, wire + used, len - used, fresh, false, ferr);
        const uint32_t oused = decode(h, wire + used, len - used, obj, true, e2);
        if (ferr == 0) {
          expect(e2 == 0 && oused == fused, "in-place decode over another record", e2, oused);
          const bool alike = encode(h, obj) == encode(h, fresh);
          expect(alike || g_mode == MOX_STTR_ON || old_ra, "in-place decode over another record encodes differently");
        }
        orva::record_destroy(t, h, kDb, fresh);
      }
    } else {
      decode(h, wire, len, obj, true, e2);  // a failed decode leaves a reusable destination
    }
    orva::record_destroy(t, h, kDb, obj);
  }
  expect(h.live_bytes() == 0, "record storage leaked", h.live_bytes());
  mox_trace_clear();
  return 0;
}
