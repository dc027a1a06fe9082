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
using orva_fuzz::kRaBlockLen;
using orva_fuzz::ra_records;

constexpr uint32_t kDb = MOX_NO_DB;

[[noreturn]] void fail(const char *what, const TypeDesc &t, uint32_t mode, uint64_t a,
                       uint64_t b) {
  std::fprintf(stderr, "wire_fuzz: %s (type %s, sttr mode 0x%x): %llu vs %llu\n", what, t.name,
               mode, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

struct Encoding {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
  uint32_t err = 0;
};

// Encodes obj into a buffer sized by record_len (plus the ra-data blocks when
// the first attempt runs out of room), checking the bounds on the way.
Encoding encode(const TypeDesc &t, mox_handle_t *h, uint32_t mode, const void *obj) {
  Encoding out;
  uint32_t len = orva::record_len(t, h, kDb, obj);
  // Exact-size heap buffers, so that a write past the given length is an
  // AddressSanitizer report rather than a silent overrun.
  out.bytes.reset(new uint8_t[len]);
  out.size = orva::record_marshal(t, h, kDb, out.bytes.get(), obj, static_cast<int32_t>(len), 1,
                                  &out.err);
  if (out.size > len) fail("marshal wrote past the buffer length", t, mode, out.size, len);
  if (out.err == 90) {
    uint32_t ra = ra_records(t, obj);
    if (ra == 0) fail("marshal needs more than record_len without ra-data", t, mode, len, 0);
    uint32_t room = len + ra * kRaBlockLen;
    out.bytes.reset(new uint8_t[room]);
    out.err = 0;
    out.size = orva::record_marshal(t, h, kDb, out.bytes.get(), obj, static_cast<int32_t>(room),
                                    1, &out.err);
    if (out.err != 0) fail("marshal fails with room for the ra-data blocks", t, mode, out.err, room);
    if (out.size > room) fail("marshal wrote past the buffer length", t, mode, out.size, room);
  }
  if (out.err != 0) fail("marshal of a decoded record fails", t, mode, out.err, len);
  return out;
}

void *create(const TypeDesc &t, mox_handle_t *h, uint32_t mode) {
  void *obj = orva::record_create(t, h, kDb);
  if (obj == nullptr) fail("record_create failed", t, mode, 0, 0);
  return obj;
}

bool same(const Encoding &a, const Encoding &b) {
  return a.size == b.size && std::memcmp(a.bytes.get(), b.bytes.get(), a.size) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  mox_trace_set_stderr(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 0x7FFFFFFF) return 0;
  uint32_t sel = data[0] % orva_fuzz::selector_count();
  const TypeDesc &t = *orva::kTypes[sel / orva_fuzz::kModeCount];
  uint32_t mode = orva_fuzz::kModes[sel % orva_fuzz::kModeCount];
  const uint8_t *wire = data + 1;
  auto wire_len = static_cast<int32_t>(size - 1);
  mox_trace_clear();

  orva_fuzz::Handle h(mode);
  {
    void *obj = create(t, h, mode);
    uint32_t err = 0;
    uint32_t used = orva::record_unmarshal(t, h, kDb, wire, obj, wire_len, 0, &err);
    if (used > static_cast<uint32_t>(wire_len))
      fail("unmarshal consumed more than its input", t, mode, used, wire_len);

    if (err == 0) {
      Encoding first = encode(t, h, mode, obj);
      void *copy = create(t, h, mode);
      uint32_t cerr = 0;
      uint32_t cused = orva::record_unmarshal(t, h, kDb, first.bytes.get(), copy,
                                              static_cast<int32_t>(first.size), 0, &cerr);
      if (cerr != 0) fail("own encoding does not decode", t, mode, cerr, first.size);
      if (cused != first.size) fail("own encoding decodes to another length", t, mode, cused, first.size);
      Encoding second = encode(t, h, mode, copy);
      if (!same(first, second))
        fail("re-encoding of the decoded encoding differs", t, mode, second.size, first.size);
      orva::record_destroy(t, h, kDb, copy);

      uint32_t ierr = 0;
      uint32_t iused = orva::record_unmarshal(t, h, kDb, wire, obj, wire_len, 1, &ierr);
      if (ierr != 0) fail("in-place decode of a decodable input fails", t, mode, ierr, 0);
      if (iused != used) fail("in-place decode consumed another length", t, mode, iused, used);
      Encoding again = encode(t, h, mode, obj);
      if (!same(first, again))
        fail("in-place decode of the same input changed the encoding", t, mode, again.size,
             first.size);

      if (used < static_cast<uint32_t>(wire_len)) {
        const uint8_t *next = wire + used;
        auto next_len = static_cast<int32_t>(wire_len - used);
        bool old_ra = ra_records(t, obj) != 0;
        void *fresh = create(t, h, mode);
        uint32_t ferr = 0;
        uint32_t fused = orva::record_unmarshal(t, h, kDb, next, fresh, next_len, 0, &ferr);
        uint32_t oerr = 0;
        uint32_t oused = orva::record_unmarshal(t, h, kDb, next, obj, next_len, 1, &oerr);
        if (ferr == 0) {
          if (oerr != 0) fail("in-place decode over another record fails", t, mode, oerr, 0);
          if (oused != fused)
            fail("in-place decode over another record consumed another length", t, mode, oused,
                 fused);
          Encoding over = encode(t, h, mode, obj);
          Encoding alone = encode(t, h, mode, fresh);
          if (mode != MOX_STTR_ON && !old_ra && !same(over, alone))
            fail("in-place decode over another record encodes differently", t, mode, over.size,
                 alone.size);
        }
        orva::record_destroy(t, h, kDb, fresh);
      }
    } else {
      // A failed decode leaves a destination that must still be reusable.
      uint32_t ierr = 0;
      orva::record_unmarshal(t, h, kDb, wire, obj, wire_len, 1, &ierr);
    }
    orva::record_destroy(t, h, kDb, obj);
  }
  if (h.live_bytes() != 0) fail("record storage leaked", t, mode, h.live_bytes(), 0);
  mox_trace_clear();
  return 0;
}
