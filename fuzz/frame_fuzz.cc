// libFuzzer harness of the frame decoders: the qos_client_data message
// decoded alone (unmarshal_only) and with its dispatch (unmarshal), and every
// table's table-record frame (fresh and in place) and primary key.
//
// Input: one selector byte, then frame bytes.  The selector picks an entry of
// kDecoders and the handle's state-tracking configuration (none, off, on).
// For each input the harness
//
//   1. decodes the frame fresh: never more bytes consumed than given; after a
//      failure, what the decoder handed back (if anything) is destroyed, and
//      a dispatching decode has cleared the caller's out slot and called no
//      handler;
//   2. when that succeeded, encodes the result into a heap buffer of exactly
//      the entry's length (plus the ra-data blocks that length leaves out),
//      decodes that encoding, which must consume it exactly, and encodes the
//      new object again: both encodings must be byte for byte equal;
//   3. for entries with an in-place form: decodes the frame again over the
//      first object (it must succeed, consume as much and encode alike), and
//      over a new empty object (it must succeed when the fresh decode did,
//      consuming as much); a failed in-place decode leaves an object that
//      must stay destroyable;
//   4. decodes the frame once more for each allocation the unhindered decode
//      made, with that allocation and every later one refused
//      (mox_handle_fail_alloc_after): the decode must fail with 12 (or the
//      unhindered decode's own error), with the checks of step 1; the same
//      for the in-place decode over a new empty object;
//   5. destroys everything after each step: the handle's live record bytes
//      must then be zero.
//
// Every broken expectation aborts, so libFuzzer reports it with the input.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>

#include "catalogue_descriptors.h"
#include "fuzz_support.h"
#include "table_descriptors.h"
#include "tables/framing.h"

namespace {

constexpr uint32_t kDb = MOX_NO_DB;
constexpr uint32_t kENOMEM = 12;
constexpr uint32_t kENOSYS = 38;
constexpr uint32_t kEMSGSIZE = 90;

using orva_fuzz::g_mode;

[[noreturn]] void fail(const char *what, uint64_t a = 0, uint64_t b = 0) {
  orva_fuzz::expect(false, what, a, b);
  std::abort();
}

// One kind of frame and how to decode, size, encode and destroy it.
struct Decoder {
  const char *name;
  bool record;  // the message recorder is on (into /dev/null) while decoding
  // Decodes buf fresh; *obj receives what the decoder hands back, or null.
  uint32_t (*decode)(mox_handle_t *h, void **obj, const uint8_t *buf, int32_t len, uint32_t *err);
  // Decodes buf over an existing object; null for frames without that form.
  uint32_t (*decode_into)(mox_handle_t *h, void *obj, const uint8_t *buf, int32_t len,
                          uint32_t *err);
  uint32_t (*len)(mox_handle_t *h, const void *obj);
  uint32_t (*encode)(mox_handle_t *h, uint8_t *buf, void *obj, int32_t buflen, uint32_t *err);
  // What an encoding may need beyond len: the ra-data blocks.
  uint32_t (*extra)(const void *obj);
  void (*destroy)(mox_handle_t *h, void *obj);
  // A new empty object to decode into in place (entries with decode_into).
  void *(*create)(mox_handle_t *h) = nullptr;
};

// --- The message ----------------------------------------------------------

using Msg = qos_client_data_message_t;
Msg g_untouched;  // stands in a caller's slot that a decode must not write

// The context of the dispatching decodes; the handler keeps the message.
struct Kept {
  uint32_t magic;
  Msg *msg;
  uint32_t calls;
};
constexpr uint32_t kKeptMagic = 0x6b657074;
void keep(mox_handle_t *, uint32_t, void *context, Msg *m, uint32_t *) {
  auto *k = static_cast<Kept *>(context);
  if (k->magic != kKeptMagic) fail("the handler's context changed");
  k->msg = m;
  ++k->calls;
}

uint32_t msg_unmarshal_only(mox_handle_t *h, void **obj, const uint8_t *buf, int32_t len,
                            uint32_t *err) {
  Msg *m = &g_untouched;
  uint32_t n = qos_client_data_message_unmarshal_only(h, kDb, &m, buf, len, err);
  // Only a failed shallow creation leaves the slot as it was.
  if (m == &g_untouched && *err != kENOMEM) fail("no message handed back", *err);
  *obj = m == &g_untouched ? nullptr : m;
  return n;
}

// unmarshal with or without the out slot and with or without the handler
// (without it, the default path: 38, and the message is the caller's).
template <bool kOut, bool kHandler>
uint32_t msg_unmarshal(mox_handle_t *h, void **obj, const uint8_t *buf, int32_t len,
                       uint32_t *err) {
  Kept k{kKeptMagic, nullptr, 0};
  Msg *out = &g_untouched;
  uint32_t n = qos_client_data_message_unmarshal(h, kDb, &k, kOut ? &out : nullptr, buf, len,
                                                 kHandler ? keep : nullptr, err);
  if (kOut && out == &g_untouched) fail("the out slot was not cleared");
  if (!kHandler && *err == kENOSYS && out != nullptr) *err = 0;  // dispatched to the default path
  if (*err != 0) {
    if (kOut && out != nullptr) fail("a failed decode handed a message out", *err);
    if (k.calls != 0) fail("a failed decode called the handler", *err);
    *obj = nullptr;
    return n;
  }
  if (kHandler && k.calls != 1) fail("the handler was not called once", k.calls, 1);
  if (kHandler && kOut && out != k.msg) fail("the handler and the out slot got other messages");
  *obj = kHandler ? k.msg : out;
  return n;
}

uint32_t msg_len(mox_handle_t *h, const void *m) {
  return qos_client_data_message_len(h, kDb, static_cast<const Msg *>(m));
}
uint32_t msg_encode(mox_handle_t *h, uint8_t *buf, void *m, int32_t buflen, uint32_t *err) {
  return qos_client_data_message_marshal(h, kDb, buf, static_cast<Msg *>(m), buflen, err);
}
uint32_t msg_extra(const void *m) {
  return orva_fuzz::ra_records(orva::k_qos_client_call_data, static_cast<const Msg *>(m)->payload) *
         orva_fuzz::kRaBlockLen;
}
void msg_destroy(mox_handle_t *h, void *m) {
  qos_client_data_message_destroy(h, kDb, static_cast<Msg *>(m));
}

// --- The table records and primary keys -------------------------------------
//
// Through the run-time framing table (tables/framing.h), found by name.

using orva::TableDesc;
using orva::TableFraming;

template <const TableDesc &D>
const TableFraming &framing() {
  static const TableFraming *f = orva::table_framing(D.name);
  if (f == nullptr) fail("a table without framing");
  return *f;
}

// The fresh decoders store into the out slot only on success: it must be
// null after a failure, the table record or key after a success.
void expect_slot(void *out, uint32_t err) {
  if (out == &g_untouched) fail("the out slot was not cleared", err);
  if (err != 0 && out != nullptr) fail("a failed decode handed an object out", err);
}

template <const TableDesc &D>
uint32_t trec_decode(mox_handle_t *h, void **obj, const uint8_t *buf, int32_t len, uint32_t *err) {
  *obj = &g_untouched;
  uint32_t n = framing<D>().unmarshal(h, kDb, obj, buf, len, 0, err);
  expect_slot(*obj, *err);
  return n;
}
template <const TableDesc &D>
uint32_t trec_decode_into(mox_handle_t *h, void *obj, const uint8_t *buf, int32_t len,
                          uint32_t *err) {
  void *io = obj;
  uint32_t n = framing<D>().unmarshal(h, kDb, &io, buf, len, 1, err);
  if (io != obj) fail("an in-place decode replaced the table record", *err);
  return n;
}
template <const TableDesc &D>
uint32_t trec_len(mox_handle_t *h, const void *rec) {
  return framing<D>().len(h, kDb, rec);
}
template <const TableDesc &D>
uint32_t trec_encode(mox_handle_t *h, uint8_t *buf, void *rec, int32_t buflen, uint32_t *err) {
  return framing<D>().marshal(h, kDb, buf, rec, buflen, err);
}
template <const TableDesc &D>
uint32_t trec_extra(const void *rec) {
  uint32_t n = 0;
  for (uint32_t s = 0; s < (D.composite ? 2u : 1u); ++s)
    if (const void *obj = orva::table_record_slot(D, rec, s); obj != nullptr)
      n += orva_fuzz::ra_records(s == 0 ? *D.data : *D.key_record, obj);
  return n * orva_fuzz::kRaBlockLen;
}
template <const TableDesc &D>
void trec_destroy(mox_handle_t *h, void *rec) {
  uint32_t err = 0;
  framing<D>().destroy(h, kDb, rec, &err);
  if (err != 0) fail("a decoded table record does not destroy", err);
}
template <const TableDesc &D>
void *trec_create(mox_handle_t *h) {
  return framing<D>().record_create(h, 1);
}

template <const TableDesc &D>
uint32_t key_decode(mox_handle_t *h, void **obj, const uint8_t *buf, int32_t len, uint32_t *err) {
  *obj = &g_untouched;
  uint32_t n = framing<D>().pkey_unmarshal(h, kDb, obj, buf, len, err);
  expect_slot(*obj, *err);
  return n;
}
// The key encoder reads the key from a table record: one on the stack,
// carrying the key object and nothing else.
template <const TableDesc &D>
uint32_t key_encode(mox_handle_t *h, uint8_t *buf, void *key, int32_t buflen, uint32_t *err) {
  std::conditional_t<D.composite, orva::CompositeTableRecord, orva::PlainTableRecord> holder{};
  if constexpr (D.composite)
    holder.key = key;
  else
    holder.data = key;
  return framing<D>().pkey_marshal(h, kDb, buf, &holder, buflen, err);
}
// A key has no length operation: its length is what the encoder writes into
// a buffer large enough (ra-data blocks included), and the exact-size encode
// then proves it.
template <const TableDesc &D>
uint32_t key_len(mox_handle_t *h, const void *key) {
  for (int32_t room = 64;; room *= 4) {
    std::unique_ptr<uint8_t[]> scratch(new uint8_t[room]);
    uint32_t err = 0;
    uint32_t n = key_encode<D>(h, scratch.get(), const_cast<void *>(key), room, &err);
    if (err == 0) return n;
    if (err != kEMSGSIZE || room > (1 << 24)) fail("encode of a decoded key fails", err, room);
  }
}
uint32_t no_extra(const void *) { return 0; }
template <const TableDesc &D>
void key_destroy(mox_handle_t *h, void *key) {
  framing<D>().pkey_destroy(h, kDb, key);
}

#define FRAME_FUZZ_TABLE(N)                                                                       \
  {#N " table_record_unmarshal", false, trec_decode<orva::k_##N>, trec_decode_into<orva::k_##N>, \
   trec_len<orva::k_##N>, trec_encode<orva::k_##N>, trec_extra<orva::k_##N>,                     \
   trec_destroy<orva::k_##N>, trec_create<orva::k_##N>},                                         \
  {#N " table_pkey_unmarshal", false, key_decode<orva::k_##N>, nullptr, key_len<orva::k_##N>,    \
   key_encode<orva::k_##N>, no_extra, key_destroy<orva::k_##N>},

// --- The decoders, in selector order -----------------------------------------
//
// The message's entries come first and keep their selectors.  The table
// frames follow, two entries per table (tables/framing.cc): the record's
// table_record_unmarshal fresh (decode) with its in-place form
// (decode_into), and table_pkey_unmarshal; their seeds go with the
// message's in make_seeds --frames.
const Decoder kDecoders[] = {
    {"message unmarshal_only", false, msg_unmarshal_only, nullptr, msg_len, msg_encode, msg_extra,
     msg_destroy},
    {"message unmarshal, handler", false, msg_unmarshal<false, true>, nullptr, msg_len, msg_encode,
     msg_extra, msg_destroy},
    {"message unmarshal, default path", false, msg_unmarshal<true, false>, nullptr, msg_len,
     msg_encode, msg_extra, msg_destroy},
    {"message unmarshal, recorded, handler and out", true, msg_unmarshal<true, true>, nullptr,
     msg_len, msg_encode, msg_extra, msg_destroy},
    ORVA_EACH_TABLE(FRAME_FUZZ_TABLE)
};
static_assert(orva_fuzz::kMessageDecoders == 4, "the message's entries lead the table");
#define FRAME_FUZZ_ONE(N) +1
static_assert(std::size(kDecoders) == 4 + 2 * (0 ORVA_EACH_TABLE(FRAME_FUZZ_ONE)),
              "two entries per table, in the framing table's order (make_seeds --frames)");
static_assert(std::size(kDecoders) * orva_fuzz::kModeCount <= 256, "one selector byte");

// --- The checks -------------------------------------------------------------

FILE *g_devnull = nullptr;

struct Encoding {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

// Encodes obj into an exact-size heap buffer (so that a write past the given
// length is an AddressSanitizer report), with room for the ra-data blocks
// only when the first attempt asks for it.
Encoding encode(const Decoder &d, mox_handle_t *h, void *obj) {
  const uint32_t len = d.len(h, obj);
  uint32_t room = len;
  for (int attempt = 0;; ++attempt) {
    Encoding out;
    out.bytes.reset(new uint8_t[room]);
    uint32_t err = 0;
    out.size = d.encode(h, out.bytes.get(), obj, static_cast<int32_t>(room), &err);
    if (out.size > room) fail("encode wrote past the buffer length", out.size, room);
    if (err == 0) return out;
    if (err != kEMSGSIZE || attempt > 0 || d.extra(obj) == 0)
      fail("encode of a decoded frame fails", err, room);
    room = len + d.extra(obj);
  }
}

bool same(const Encoding &a, const Encoding &b) {
  return a.size == b.size && std::memcmp(a.bytes.get(), b.bytes.get(), a.size) == 0;
}

uint64_t allocs(mox_handle_t *h) {
  mox_alloc_stats_t s;
  mox_handle_alloc_stats(h, &s);
  return s.allocs;
}

void expect_nothing_live(const orva_fuzz::Handle &h, const char *after) {
  if (h.live_bytes() != 0) fail(after, h.live_bytes(), 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  orva_fuzz::g_fuzzer = "frame_fuzz";
  mox_trace_set_stderr(0);
  g_devnull = std::fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 0x7FFFFFFF) return 0;
  const uint32_t sel = data[0] % (std::size(kDecoders) * orva_fuzz::kModeCount);
  const Decoder &d = kDecoders[sel / orva_fuzz::kModeCount];
  orva_fuzz::g_subject = d.name;
  g_mode = orva_fuzz::kModes[sel % orva_fuzz::kModeCount];
  const uint8_t *frame = data + 1;
  const auto len = static_cast<int32_t>(size - 1);
  mox_trace_clear();
  mox_msg_recorder_set(d.record ? g_devnull : nullptr, d.record ? 1 : 0);

  orva_fuzz::Handle h(g_mode);
  void *obj = nullptr;
  uint32_t err = 0;
  const uint64_t before = allocs(h);
  const uint32_t used = d.decode(h, &obj, frame, len, &err);
  const uint64_t made = allocs(h) - before;
  if (used > static_cast<uint32_t>(len)) fail("decode consumed more than its input", used, len);
  if (err == 0 && obj == nullptr) fail("a successful decode handed nothing back");

  if (err == 0) {
    Encoding first = encode(d, h, obj);
    void *copy = nullptr;
    uint32_t cerr = 0;
    uint32_t cused = d.decode(h, &copy, first.bytes.get(), static_cast<int32_t>(first.size), &cerr);
    if (cerr != 0) fail("own encoding does not decode", cerr, first.size);
    if (cused != first.size) fail("own encoding decodes to another length", cused, first.size);
    Encoding second = encode(d, h, copy);
    if (!same(first, second)) fail("re-encoding of the decoded encoding differs", second.size, first.size);
    d.destroy(h, copy);
    if (d.decode_into != nullptr) {
      uint32_t ierr = 0;
      uint32_t iused = d.decode_into(h, obj, frame, len, &ierr);
      if (ierr != 0) fail("in-place decode of a decodable frame fails", ierr);
      if (iused != used) fail("in-place decode consumed another length", iused, used);
      if (!same(first, encode(d, h, obj))) fail("in-place decode of the same frame changed the encoding");
    }
  } else if (obj != nullptr && d.decode_into != nullptr) {
    uint32_t ierr = 0;
    d.decode_into(h, obj, frame, len, &ierr);  // over a partly decoded object: must stay usable
  }
  if (obj != nullptr) d.destroy(h, obj);
  expect_nothing_live(h, "record storage leaked");

  // In place over a new empty object: it must succeed where the fresh decode
  // did; after a failure the object must stay destroyable.
  uint64_t made_in = 0;
  uint32_t in_err = 0;
  if (d.decode_into != nullptr) {
    void *target = d.create(h);
    if (target == nullptr) fail("no empty object to decode into");
    const uint64_t start = allocs(h);
    const uint32_t iused = d.decode_into(h, target, frame, len, &in_err);
    made_in = allocs(h) - start;
    if (iused > static_cast<uint32_t>(len)) fail("in-place decode consumed more than its input", iused, len);
    if (err == 0 && in_err != 0) fail("in-place decode over an empty object fails", in_err);
    if (err == 0 && iused != used) fail("in-place decode over an empty object consumed another length", iused, used);
    d.destroy(h, target);
    expect_nothing_live(h, "record storage leaked after an in-place decode");
  }

  // Every allocation of the decode refused in turn.
  for (uint64_t n = 0; n < made; ++n) {
    mox_handle_fail_alloc_after(h, static_cast<int64_t>(n));
    void *partial = nullptr;
    uint32_t ferr = 0;
    d.decode(h, &partial, frame, len, &ferr);
    mox_handle_fail_alloc_after(h, -1);
    if (ferr != kENOMEM && (err == 0 || ferr != err)) fail("a refused allocation gives another error", ferr, n);
    if (partial != nullptr) d.destroy(h, partial);
    expect_nothing_live(h, "record storage leaked after a refused allocation");
  }
  for (uint64_t n = 0; n < made_in; ++n) {
    void *target = d.create(h);
    mox_handle_fail_alloc_after(h, static_cast<int64_t>(n));
    uint32_t ferr = 0;
    d.decode_into(h, target, frame, len, &ferr);
    mox_handle_fail_alloc_after(h, -1);
    if (ferr != kENOMEM && (in_err == 0 || ferr != in_err))
      fail("a refused allocation in place gives another error", ferr, n);
    d.destroy(h, target);
    expect_nothing_live(h, "record storage leaked after a refused allocation in place");
  }
  mox_msg_recorder_set(nullptr, 0);
  mox_trace_clear();
  return 0;
}
