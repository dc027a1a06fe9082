// Byte layouts of the primitive kinds and wire helpers, decode refusals,
// string ownership, object headers and the runtime's type-info records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "handle.h"
#include "journal_check.h"
#include "mox/kinds.h"
#include "mox/runtime.h"

namespace {

using orva_test::ScopedHandle;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kENOMEM = 12, kEINVAL = 22, kEBADMSG = 74, kEMSGSIZE = 90;

// Decoding in is refused with code and leaves every byte of the field as it was.
template <class F, class Unmarshal>
void expect_refused(mox_handle_t *h, Unmarshal unmarshal, F &f, const Bytes &in, uint32_t code) {
  F before;
  std::memcpy(&before, &f, sizeof f);
  uint32_t err = 0;
  EXPECT_EQ((std::tuple{unmarshal(h, MOX_NO_DB, in.data(), &f, static_cast<int32_t>(in.size()), 0, &err), err,
                        std::memcmp(&before, &f, sizeof f)}), (std::tuple{0u, code, 0})) << "a refused input changed the field";
}

// Refused inputs report their code and leave the field as it was; nothing is
// allocated for a refused string (inputs cut short: the kind family test).
// Setters refuse values out of range.
TEST(KindsWire, DecodeAndSettersRefuseMalformedValuesAndFailedAllocations) {
  ScopedHandle h;
  uint32_t err = 0;
  mox_vstring_t s{};
  mox_vstring_set_value(h, MOX_NO_DB, &s, "keep", &err);
  const uint64_t live = h.live_bytes();
  expect_refused(h, mox_vstring_unmarshal, s, {0xFF, 0xFF, 0xFF, 0xF0, 'a'}, kEMSGSIZE);
  expect_refused(h, mox_vstring_unmarshal, s, {0, 0, 0, 3, 'a', 0, 'b'}, kEBADMSG);
  EXPECT_EQ(h.live_bytes(), live);
  mox_boolean_t b = 1;
  expect_refused(h, mox_boolean_unmarshal, b, {2}, kEBADMSG);
  ip_address_t ip{};
  expect_refused(h, ip_address_unmarshal, ip, {5, 1, 2, 3, 4}, kEBADMSG);
  calendar_time_t t{};  // microseconds 1000000
  expect_refused(h, calendar_time_unmarshal, t, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0x0F, 0x42, 0x40}, kEBADMSG);

  // The string's new storage cannot be had: ENOMEM, the old string stays.
  h.fail_alloc_after(0);
  expect_refused(h, mox_vstring_unmarshal, s, {0, 0, 0, 1, 'x'}, kENOMEM);
  char *const old = s.str;
  EXPECT_EQ((std::tuple{mox_vstring_set_value(h, MOX_NO_DB, &s, "new", &err), err, s.str, std::string(s.str)}),
            (std::tuple{kENOMEM, kENOMEM, old, "keep"}));
  const Bytes kept{0, 0, 0, 4, 'k', 'e', 'p', 't'};  // fits the block: decoded into it, no allocation
  err = 0;
  EXPECT_EQ((std::tuple{mox_vstring_unmarshal(h, MOX_NO_DB, kept.data(), &s, 8, 0, &err), err, s.str, std::string(s.str)}),
            (std::tuple{8u, 0u, old, "kept"}));
  h.fail_alloc_after(-1);
  mox_vstring_destroy_internal(h, MOX_NO_DB, &s, 0);
  EXPECT_EQ(h.live_bytes(), 0u);

  // Enumeration values beyond the members are carried as they are; setters
  // validate their values (an IP address by its text, any non-zero boolean
  // is true); a getter of nothing reports EINVAL.  (The bytes of every kind:
  // the wire engine's digest of every record type.)
  for (const char *bad : {"10.1.2", "10.1.2.3%1", "fe80::1%"}) {
    err = 0;
    EXPECT_EQ((std::tuple{ip_address_set_value(h, MOX_NO_DB, &ip, bad, &err), err, int(ip.family)}),
              (std::tuple{kEINVAL, kEINVAL, 0})) << bad;
  }
  mox_boolean_t nine_is_true = 0;
  uint8_t one = 0;
  mox_boolean_set_value(h, MOX_NO_DB, &nine_is_true, 9, &(err = 0));
  EXPECT_EQ((std::tuple{mox_boolean_marshal(h, MOX_NO_DB, &one, &nine_is_true, 1, &err), one}), (std::tuple{1u, uint8_t{1}}));
  enm_client_type_t e{};
  const Bytes nine{0, 0, 0, 9};
  EXPECT_EQ(enm_client_type_unmarshal(h, MOX_NO_DB, nine.data(), &e, 4, 0, &err), 4u);
  EXPECT_EQ((std::tuple{enm_client_type_get_value(h, MOX_NO_DB, &e, &err), err}), (std::tuple{9u, 0u}));
  EXPECT_EQ((std::tuple{enm_client_type_set_value(h, MOX_NO_DB, &e, ENM_CLIENT_TYPE_COUNT, &err),
                            h->last_error, e.value}), (std::tuple{kEINVAL, kEINVAL, 9u}));
  err = 0;
  EXPECT_EQ(calendar_time_set_value(h, MOX_NO_DB, &t, 1, 1000000, &err), kEINVAL);
  err = 0;
  EXPECT_EQ((std::tuple{u_int64_get_value(h, MOX_NO_DB, nullptr, &err), err}), (std::tuple{0ull, kEINVAL}));
  EXPECT_EQ(mox_mac_addr_set_value(h, MOX_NO_DB, nullptr, nullptr, &err), kEINVAL);
  EXPECT_EQ((std::tuple{std::string(enm_client_type_member_name(ENM_CLIENT_TYPE_VOICE)),
                        std::string(enm_radio_band_type_member_name(ENM_RADIO_BAND_2_4GHZ)),
                        enm_radio_band_type_member_name(ENM_RADIO_BAND_COUNT)}),
            (std::tuple{"ENM_CLIENT_TYPE_VOICE", "ENM_RADIO_BAND_2_4GHZ", static_cast<const char *>(nullptr)}));
  uint32_t v = 5;
  EXPECT_EQ((std::tuple{u_int32_set_value(h, MOX_NO_DB, &v, 6, nullptr), v}), (std::tuple{0u, 6u}))
      << "a null slot is tolerated";
}

// The owner given with the first announcement of addr, or null.
const void *announced_owner(mox_handle_t *h, const void *addr) {
  mox_journal_entry_t j;
  for (uint32_t i = 0; mox_journal_get(h, i, &j); ++i)
    if (j.addr == addr) return j.owner;
  return nullptr;
}

// Strings: copies are independent; a null text is the empty string; destroy
// announces the two words it clears, returns the storage, and may run twice;
// a string object of its own goes back to record_free with free_storage.
TEST(KindsObjects, StringStorageAndEnumerationHeaders) {
  ScopedHandle h;
  uint32_t err = 0;
  mox_vstring_t a{}, b{};
  mox_vstring_set_value(h, MOX_NO_DB, &a, "first", &err);
  mox_vstring_set(h, MOX_NO_DB, &b, &a, &err);
  ASSERT_NE(b.str, a.str);
  mox_vstring_set_value(h, MOX_NO_DB, &a, "second", &err);
  mox_vstring_set(h, MOX_NO_DB, &a, &a, &err);  // onto itself
  EXPECT_EQ((std::tuple{std::string(a.str), std::string(b.str)}), (std::tuple{"second", "first"}));
  mox_vstring_set_value(h, MOX_NO_DB, &b, nullptr, &err);
  EXPECT_EQ((std::tuple{b.str && !*b.str, b.len}), (std::tuple{true, 0u}));
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&a, sizeof a, "string"}},
                                         [&] { mox_vstring_destroy_internal(h, MOX_NO_DB, &a, 0); }));
  EXPECT_EQ((std::tuple{a.str, a.len}), (std::tuple{nullptr, 0u}));
  mox_vstring_destroy_internal(h, MOX_NO_DB, &a, 0);
  mox_vstring_destroy_internal(h, MOX_NO_DB, &b, 0);
  auto *own = static_cast<mox_vstring_t *>(h->record_alloc(h->record_heap, MOX_NO_DB, sizeof(mox_vstring_t)));
  std::memset(own, 0, sizeof *own);
  mox_vstring_set_value(h, MOX_NO_DB, own, "owned", &err);
  mox_vstring_destroy_internal(h, MOX_NO_DB, own, 1);
  EXPECT_EQ(h.live_bytes(), 0u);

  // The enumeration header: filled and announced (the flag byte's owner is
  // the object); a caller's type-info record wins; without notify nothing is
  // announced; kinds without a header only check the slot; a set slot: no-op.
  enm_client_type_t e{};
  h.journal(true);
  EXPECT_EQ(enm_client_type_initialize(h, MOX_NO_DB, &e, nullptr, 1, 0, MOX_FLAG_NESTED, nullptr, &err),
            MOX_FLAG_NESTED);
  EXPECT_EQ((std::tuple{e.tinfo, int(e.variant), int(e.storage_variant), int(e.flags), err}),
            (std::tuple{static_cast<void *>(&_enm_client_type_type_info_internal), 0, 0, int(MOX_FLAG_NESTED), 0u}));
  EXPECT_TRUE(mox_journal_covers(h, &e.tinfo, sizeof e.tinfo) && mox_journal_covers(h, &e.variant, 3));
  EXPECT_EQ(announced_owner(h, &e.flags), &e);
  mox_journal_clear(h);
  enm_client_type_set_instance_embedded(h, MOX_NO_DB, &e);
  EXPECT_EQ((std::tuple{int(e.flags), mox_journal_count(h), announced_owner(h, &e.flags)}),
            (std::tuple{MOX_FLAG_NESTED | MOX_FLAG_EMBEDDED, 1u, static_cast<const void *>(&e)}));
  enm_client_type_set_instance_embedded(h, MOX_NO_DB, nullptr);

  enm_radio_band_type_t band{};
  mox_type_info_t other{};
  mox_journal_clear(h);
  enm_radio_band_type_initialize(h, MOX_NO_DB, &band, &other, 0, 0, 0, nullptr, &err);
  EXPECT_EQ((std::tuple{band.tinfo, mox_journal_count(h)}), (std::tuple{static_cast<void *>(&other), 0u}));
  mox_mac_addr_t mac{};
  EXPECT_EQ(mox_mac_addr_initialize(h, MOX_NO_DB, &mac, nullptr, 1, 0, 4, nullptr, &err), 0u);
  mox_mac_addr_set_instance_embedded(h, MOX_NO_DB, &mac);
  EXPECT_EQ(mac.octet[0], 0);
  enm_client_type_t untouched{};
  err = 5;
  EXPECT_EQ(enm_client_type_initialize(h, MOX_NO_DB, &untouched, nullptr, 1, 0, 4, nullptr, &err), 0u);
  EXPECT_EQ(untouched.tinfo, nullptr);
}

// The kinds' type-info records are well formed: magic, module, kind, the
// LUID's text matching its bytes, one variant.
TEST(KindsObjects, TypeInfoRecordsAreWellFormed) {
  for (const mox_type_info_t *ti : {&_mox_mac_addr_type_info_internal, &_mox_vstring_type_info_internal,
                                    &_ip_address_type_info_internal, &_calendar_time_type_info_internal,
                                    &_mox_boolean_type_info_internal, &_enm_client_type_type_info_internal,
                                    &_enm_radio_band_type_type_info_internal}) {
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", ti->luid[i]);
    EXPECT_EQ((std::tuple{ti->magic, std::string(ti->module), std::string(ti->kind), ti->reserved0, std::string(hex),
                          ti->variant_info->count_word & 0xFF, ti->variant_info->entries[0].variant}),
              (std::tuple{uint32_t(MOX_TYPE_INFO_MAGIC), "mox_runtime", std::strncmp(ti->name, "enm_", 4) ? "type" : "enum",
                          0xFFFFFFFFu, std::string(ti->luid_text), 1u, 0u})) << ti->name;
  }
}

TEST(KindsWireHelpers, ItemsAndThe27ByteMessageHeaderHaveFixedLayouts) {
  ScopedHandle h;
  uint32_t err = 0;
  const mox_ra_data_t ra{0x0A0B0C0D, 0x01020304};
  using Marshal = std::function<uint32_t(uint8_t *, int32_t, uint32_t *)>;
#define ITEM(helper, ...) [&](uint8_t *b, int32_t n, uint32_t *e) { \
    return helper(h, MOX_NO_DB, b, __VA_ARGS__, n, e); }
  const std::pair<Marshal, Bytes> items[] = {
      {ITEM(_mox_instance_variant_marshal, -1), {0xFF}},
      {ITEM(_mox_instance_obj_flag_marshal, 0x28), {0x28}},
      {ITEM(_mox_variant_jump_marshal, 0x01020304), {1, 2, 3, 4}},
      {ITEM(_mox_list_len_marshal, 7), {0, 0, 0, 7}},
      {ITEM(_mox_instance_ra_data_marshal, &ra, 0x80), {0x80, 0x0A, 0x0B, 0x0C, 0x0D, 1, 2, 3, 4}}};
#undef ITEM
  for (const auto &[marshal, wire] : items) {
    // The bytes, and, a buffer one byte short: EMSGSIZE, nothing written.
    Bytes buf(16, 0xEE), guard(16, 0xEE);
    err = 0;
    EXPECT_EQ((std::tuple{marshal(buf.data(), 16, &err), err, Bytes(buf.begin(), buf.begin() + wire.size())}),
              (std::tuple{uint32_t(wire.size()), 0u, wire}));
    EXPECT_EQ((std::tuple{marshal(guard.data(), int32_t(wire.size() - 1), &err), err, guard}),
              (std::tuple{0u, kEMSGSIZE, Bytes(16, 0xEE)}));
  }

  int8_t variant = 0;
  uint8_t flags = 0, ra_flag = 0;
  uint32_t jump = 0, count = 0;
  mox_ra_data_t ra_back{};
  const uint8_t in[] = {0x80, 0x0A, 0x0B, 0x0C, 0x0D, 1, 2, 3, 4};
  err = 0;
  EXPECT_TRUE(orva_test::StoresAnnounced(
      h, {{&variant, 1, "variant"}, {&flags, 1, "flags"}, {&jump, 4, "jump"}, {&count, 4, "count"},
          {&ra_back, sizeof ra_back, "ra"}, {&ra_flag, 1, "ra flag"}},
      [&] {
        EXPECT_EQ((std::tuple{_mox_instance_variant_unmarshal(h, MOX_NO_DB, in, &variant, 1, &err),
                                  _mox_instance_obj_flag_unmarshal(h, MOX_NO_DB, in, &flags, 1, &err),
                                  _mox_variant_jump_unmarshal(h, MOX_NO_DB, in + 1, &jump, 4, &err),
                                  _mox_list_len_unmarshal(h, MOX_NO_DB, in + 5, &count, 4, &err),
                                  _mox_instance_ra_data_unmarshal(h, MOX_NO_DB, in, &ra_back, &ra_flag, 9, &err)}),
                  (std::tuple{1u, 1u, 4u, 4u, 9u}));
      }));
  EXPECT_EQ((std::tuple{int(variant), int(flags), jump, count, ra_back.owner_id, ra_back.generation,
                            int(ra_flag), err}),
            (std::tuple{-128, 0x80, 0x0A0B0C0Du, 0x01020304u, ra.owner_id, ra.generation, 0x80, 0u}));

  // The 27-byte message header: its bytes, an announced decode, refusal of a
  // wrong version, marker, size byte or revision (74) and of short input or
  // buffer (90); a header with a wrong version is not written (22).
  mox_msg_header_t hdr{}, back{};
  hdr.version = MOX_MSG_HEADER_VERSION;
  std::memset(hdr.marker, 0xFF, sizeof hdr.marker);
  hdr.sttr = 1;
  hdr.handle_word = 0x11223344;
  hdr.encoded_length = 0x000001F4;
  Bytes buf(MOX_MSG_HEADER_WIRE_SIZE + 1, 0xAA);
  ASSERT_EQ(_mox_message_header_marshal(h, MOX_NO_DB, buf.data(), &hdr, 28, &err), 27u);
  const Bytes expect{0xBC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0x11, 0x22, 0x33, 0x44, 0, 0, 1,
                     0xF4, 27, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(buf, [&] { Bytes b = expect; b.push_back(0xAA); return b; }());
  EXPECT_TRUE(orva_test::StoresAnnounced(h, {{&back, sizeof back, "header"}}, [&] {
    EXPECT_EQ(_mox_message_header_unmarshal(h, MOX_NO_DB, buf.data(), &back, 28, &err), 27u);
  }));
  EXPECT_EQ((std::tuple{std::memcmp(&back, &hdr, sizeof hdr), err}), (std::tuple{0, 0u}));
  for (size_t pos : {0, 3, 6, 16, 17}) {
    Bytes bad = expect;
    bad[pos] ^= 0x01;
    mox_msg_header_t untouched{};
    err = 0;
    EXPECT_EQ((std::tuple{_mox_message_header_unmarshal(h, MOX_NO_DB, bad.data(), &untouched, 27, &err), err,
                              int(untouched.version)}), (std::tuple{0u, kEBADMSG, 0})) << pos;
  }
  uint32_t e[3] = {};
  const uint32_t n0 = _mox_message_header_unmarshal(h, MOX_NO_DB, expect.data(), &back, 26, &e[0]);
  const uint32_t n1 = _mox_message_header_marshal(h, MOX_NO_DB, buf.data(), &hdr, 26, &e[1]);
  hdr.version = 0xBD;
  const uint32_t n2 = _mox_message_header_marshal(h, MOX_NO_DB, buf.data(), &hdr, 27, &e[2]);
  EXPECT_EQ((std::tuple{n0 + n1 + n2, e[0], e[1], e[2]}), (std::tuple{0u, kEMSGSIZE, kEMSGSIZE, kEINVAL}));
}

// The array helpers against the same n single calls made the way an engine
// makes them (advancing position, stopped by the slot): same bytes, results,
// slot and last_error for every buffer length; a decode announces the bytes
// of the elements it stores (those the single calls announce), at once.
template <class T>
void check_array_kind(const char *kind, auto marshal, auto unmarshal, auto compare, auto a_len,
                      auto a_marshal, auto a_unmarshal, auto a_compare) {
  SCOPED_TRACE(kind);
  constexpr uint32_t n = 5, size = sizeof(T);
  T src[n], f1[n], f2[n];
  for (uint32_t i = 0; i < n; ++i) src[i] = static_cast<T>(0x8877665544332211ull * (i + 1));
  for (int32_t room = -1; room <= int32_t(n * size) + 1; ++room) {
    SCOPED_TRACE(room);
    ScopedHandle h;
    uint32_t err1 = 0, err2 = 0, sum = 0;
    Bytes one(n * size + 2, 0xEE), bulk = one, wire(n * size);
    for (uint32_t i = 0; i < n && !err1; ++i)
      sum += marshal(h, MOX_NO_DB, one.data() + sum, &src[i], room - int32_t(sum), &err1);
    const uint32_t last = h->last_error;
    EXPECT_EQ(a_marshal(h, MOX_NO_DB, bulk.data(), src, n, room, &err2), sum);
    EXPECT_EQ((std::tuple{bulk, err2, h->last_error}), (std::tuple{one, err1, last}));

    // The full encoding, read with room bytes allowed, into other values.
    a_marshal(h, MOX_NO_DB, wire.data(), src, n, int32_t(wire.size()), nullptr);
    std::memset(f1, 0x5A, sizeof f1);
    std::memset(f2, 0x5A, sizeof f2);
    err1 = err2 = sum = 0;
    for (uint32_t i = 0; i < n && !err1; ++i)
      sum += unmarshal(h, MOX_NO_DB, wire.data() + sum, &f1[i], room - int32_t(sum), 0, &err1);
    orva_test::JournalCheck check(h, {{f2, sizeof f2, "array"}});
    EXPECT_EQ(a_unmarshal(h, MOX_NO_DB, wire.data(), f2, n, room, 0, &err2), sum);
    EXPECT_TRUE(check.Verify());
    mox_journal_entry_t j{};
    mox_journal_get(h, 0, &j);
    EXPECT_EQ(
        (std::tuple{check.announcements(), j.addr, j.len, err2, std::memcmp(f1, f2, sizeof f1)}),
        (std::tuple{sum ? 1u : 0u, sum ? static_cast<void *>(f2) : nullptr, sum, err1, 0}));
  }
  // The first differing element decides, with the single compare's sign.
  for (uint32_t at = 0; at <= n; ++at) {
    std::memcpy(f1, src, sizeof f1);
    if (at < n) f1[at] = static_cast<T>(f1[at] + 1);
    int32_t want = 0;
    for (uint32_t i = 0; i < n && !want; ++i) want = compare(&src[i], &f1[i]);
    EXPECT_EQ((std::tuple{a_compare(src, f1, n), a_compare(f1, src, n)}),
              (std::tuple{want, -want}));
  }
  EXPECT_EQ((std::tuple{a_compare(nullptr, src, n), a_compare(src, nullptr, n),
                            a_compare(nullptr, src, 0), a_len(nullptr, MOX_NO_DB, src, n)}),
            (std::tuple{-1, 1, 0, n * size}));
}

TEST(KindsWire, ArrayHelpersEqualSingleCalls) {
#define ARRAY_KIND(K, T)                                                          \
  check_array_kind<T>(#K, K##_marshal, K##_unmarshal, K##_compare, K##_array_len, \
                      K##_array_marshal, K##_array_unmarshal, K##_array_compare)
  ARRAY_KIND(u_int8, uint8_t);
  ARRAY_KIND(u_int16, uint16_t);
  ARRAY_KIND(u_int32, uint32_t);
  ARRAY_KIND(u_int64, uint64_t);
  ARRAY_KIND(int16, int16_t);
#undef ARRAY_KIND
}

}  // namespace
